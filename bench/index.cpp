// CMFBasicIndex beside plain file IO on the same bytes: an index of 1,000,000
// entries written and read whole through qz's buffered IFileIO (one Write or
// Read per record, as the index does), and the same file written and read
// sequentially in 64 KiB blocks with the system calls alone.
//
// Memory per entry: the entry heap's blocks (one entry object and one record
// each) and the list's pointer, measured as the process heap grows.
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "host.h"

namespace {

namespace fs = std::filesystem;
constexpr ULONG kEntries = 1000000;
constexpr size_t kBlock = 64 * 1024;

struct BenchDir {
  fs::path path = fs::temp_directory_path() / ("qz-bench-index-" + std::to_string(GetCurrentProcessId()));
  BenchDir() { fs::create_directories(path); }
  ~BenchDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};
const fs::path& Dir() {
  static BenchDir dir;
  return dir.path;
}
plat::wstring File(const char* name) { return plat::Wide((Dir() / name).string()); }

// An index of kEntries entries in memory (built once).
CMFBasicIndex* Filled() {
  static CMFBasicIndex* index = [] {
    auto* i = new CMFBasicIndex(File("write.idx").c_str(), nullptr, 1);
    for (ULONG n = 0; n < kEntries; ++n) {
      auto* e = new CMFBasicIndexEntryStatic;
      e->SetOffset(ULONGLONG(n) * 4096);
      e->SetLength(4096);
      i->AddEntry(e);
      e->Release();
    }
    return i;
  }();
  return index;
}

void BM_WriteIndex(benchmark::State& state) {
  CMFBasicIndex* index = Filled();
  qzindex::FileIO* io = qzindex::FileIO::Create(File("write.idx"));
  index->SetIO(io);
  io->Release();
  for (auto _ : state)
    if (!index->WriteIndex(nullptr)) state.SkipWithError("WriteIndex failed");
  index->SetIO(nullptr);
  state.SetBytesProcessed(int64_t(state.iterations()) * (512 + 40LL * kEntries));
}

void BM_ReadIndex(benchmark::State& state) {
  const plat::wstring path = File("write.idx");
  if (!fs::exists(Dir() / "write.idx")) BM_WriteIndex(state);
  for (auto _ : state) {
    qzindex::FileIO* io = qzindex::FileIO::Create(path);
    auto* index = new CMFBasicIndex(path.c_str(), io, 1);
    io->Release();
    if (!index->ReadIndex(nullptr) || index->NumberOfEntries() != kEntries) state.SkipWithError("ReadIndex failed");
    state.PauseTiming();  // releasing a million entries is not reading them
    index->Release();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * (512 + 40LL * kEntries));
}

// The same bytes through the system calls alone.
std::vector<char> Bytes() {
  std::vector<char> bytes(512 + size_t(40) * kEntries, 1);
  return bytes;
}

void BM_PlainWrite(benchmark::State& state) {
  static const std::vector<char> bytes = Bytes();
  const plat::wstring path = File("plain.bin");
  for (auto _ : state) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    for (size_t at = 0; at < bytes.size(); at += kBlock) {
      DWORD n = DWORD(std::min(kBlock, bytes.size() - at)), written;
      WriteFile(h, bytes.data() + at, n, &written, nullptr);
    }
    CloseHandle(h);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_PlainRead(benchmark::State& state) {
  const plat::wstring path = File("plain.bin");
  std::vector<char> into(512 + size_t(40) * kEntries);
  for (auto _ : state) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    DWORD got = 0;
    size_t at = 0;
    while (at < into.size() && ReadFile(h, into.data() + at, DWORD(std::min(kBlock, into.size() - at)), &got, nullptr) &&
           got)
      at += got;
    CloseHandle(h);
    benchmark::DoNotOptimize(into.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(into.size()));
}

// The process's resident memory from /proc: what a read index costs per entry.
void BM_MemoryPerEntry(benchmark::State& state) {
  auto resident = [] {
    HANDLE h = CreateFileW(TEXT("/proc/self/statm"), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    char text[128] = {};
    DWORD got = 0;
    ReadFile(h, text, sizeof text - 1, &got, nullptr);
    CloseHandle(h);
    unsigned long long size = 0, pages = 0;
    std::sscanf(text, "%llu %llu", &size, &pages);
    return double(pages) * 4096;
  };
  const plat::wstring path = File("write.idx");
  double perEntry = 0;
  for (auto _ : state) {
    double before = resident();
    qzindex::FileIO* io = qzindex::FileIO::Create(path);
    auto* index = new CMFBasicIndex(path.c_str(), io, 1);
    io->Release();
    index->ReadIndex(nullptr);
    perEntry = (resident() - before) / kEntries;
    index->Release();
  }
  state.counters["bytes_per_entry"] = perEntry;
  state.counters["record_and_object_bytes"] =
      double(sizeof(_MFBasicIndexEntry) + sizeof(CMFBasicIndexEntry) + sizeof(IIndexEntry*));
}

BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteIndex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadIndex)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemoryPerEntry)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
