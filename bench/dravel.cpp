// Dravel's dump output and address information, each beside a reference in
// the same run:
//  - dmp_printf of short lines into an open dump file (with Brellu emitting
//    each text, and with Brellu's user muted) beside fwrite of the same UTF-16
//    bytes, and beside fwrite that also flushes and syncs every 16 KiB as the
//    dump file does;
//  - GetAddressInfo of addresses inside a library of 2,000 exported functions
//    (an ELF image: its dynamic symbols) and inside a PE image of as many
//    exports made in memory, beside dladdr on the library.
#include "dravel.h"

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "brellu.h"
#include "diagnostics/pe_format.h"

extern "C" const void* const* Exports2000();

namespace {

namespace fs = std::filesystem;
constexpr int kExports = 2000;

fs::path Dir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("qz-dravel-bench-" + std::to_string(getpid()));
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// The line as the dump file holds it: "frame N of 100000" and CR LF.
std::u16string Line(int i) {
  std::string s = "frame " + std::to_string(i % 100000) + " of 100000\r\n";
  return std::u16string(s.begin(), s.end());
}

void DumpPrintf(benchmark::State& state, DWORD user) {
  const fs::path file = Dir() / "bench.dmp";
  fs::remove(file);
  dmp_output(reinterpret_cast<const WCHAR*>(file.u16string().c_str()));
  int i = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    dmp_printf(user, 0, TEXT("frame %d of %d\n"), i % 100000, 100000);
    bytes += Line(i++).size() * 2;
  }
  dmp_output(nullptr);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_DmpPrintf(benchmark::State& state) { DumpPrintf(state, 0); }

void BM_DmpPrintfBrelluMuted(benchmark::State& state) {
  BrelluSetLevel(7, BRELLU_MUTE);
  DumpPrintf(state, 7);
  BrelluResetLevels();
}

void Fwrite(benchmark::State& state, bool sync) {
  const fs::path file = Dir() / "bench.txt";
  FILE* f = std::fopen(file.c_str(), "wb");
  int i = 0;
  size_t bytes = 0, sinceSync = 0;
  for (auto _ : state) {
    const std::u16string line = Line(i++);
    std::fwrite(line.data(), 2, line.size(), f);
    bytes += line.size() * 2;
    sinceSync += line.size() * 2;
    if (sync && sinceSync >= 16384) {
      std::fflush(f);
      fsync(fileno(f));
      sinceSync = 0;
    }
  }
  std::fclose(f);
  state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_Fwrite(benchmark::State& state) { Fwrite(state, false); }
void BM_FwriteSyncEvery16K(benchmark::State& state) { Fwrite(state, true); }

BENCHMARK(BM_DmpPrintf);
BENCHMARK(BM_DmpPrintfBrelluMuted);
BENCHMARK(BM_Fwrite);
BENCHMARK(BM_FwriteSyncEvery16K);

// Addresses a few bytes into random exported functions, the same for every run.
std::vector<DRAVEL_ADDRESS> Addresses(const std::vector<DRAVEL_ADDRESS>& functions) {
  std::mt19937 rng(11);
  std::vector<DRAVEL_ADDRESS> out;
  for (int i = 0; i < 1024; ++i) out.push_back(functions[rng() % functions.size()] + 1 + rng() % 4);
  return out;
}

std::vector<DRAVEL_ADDRESS> LibraryFunctions() {
  std::vector<DRAVEL_ADDRESS> f;
  for (int i = 0; i < kExports; ++i) f.push_back(reinterpret_cast<DRAVEL_ADDRESS>(Exports2000()[i]));
  return f;
}

// GetAddressInfo of the addresses in turn; an error when the last one was not
// named by an export that begins with `shown`.
void AddressInfos(benchmark::State& state, const std::vector<DRAVEL_ADDRESS>& addresses, const char* shown) {
  AddressInfo info;
  size_t i = 0;
  for (auto _ : state) {
    GetAddressInfo(addresses[i++ % addresses.size()], &info);
    benchmark::DoNotOptimize(info.DistanceBelow);
  }
  if (std::strncmp(info.ExportBelow, shown, std::strlen(shown)) != 0) state.SkipWithError("the export was not named");
}

void BM_GetAddressInfoElf(benchmark::State& state) { AddressInfos(state, Addresses(LibraryFunctions()), "Exported"); }

void BM_Dladdr(benchmark::State& state) {
  const auto addresses = Addresses(LibraryFunctions());
  Dl_info info;
  size_t i = 0;
  for (auto _ : state) {
    dladdr(reinterpret_cast<const void*>(addresses[i++ % addresses.size()]), &info);
    benchmark::DoNotOptimize(info.dli_sname);
  }
}

// A PE image of 2,000 exported functions of 16 bytes each, laid out in memory
// as a loader would: headers, the code at 0x1000, then the export directory.
class PeImage {
 public:
  PeImage() {
    const DWORD code = 0x1000, codeSize = kExports * 16, exports = code + ((codeSize + 0xFFF) & ~0xFFFu);
    names_.resize(kExports);
    for (int i = 0; i < kExports; ++i) names_[i] = "_Exported" + std::to_string(i) + "@4";
    std::vector<int> order(kExports);
    for (int i = 0; i < kExports; ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](int a, int b) { return names_[a] < names_[b]; });
    const DWORD functions = exports + sizeof(pe::ExportDirectory), nameTable = functions + 4 * kExports,
                ordinals = nameTable + 4 * kExports, strings = ordinals + 2 * kExports;
    size_ = strings + kExports * 24 + 0x1000;
    base_ = static_cast<BYTE*>(VirtualAlloc(nullptr, size_, MEM_COMMIT, PAGE_READWRITE));
    Put<WORD>(0, pe::kDosMagic);
    Put<DWORD>(pe::kNewHeaderOffset, 0x40);
    Put<DWORD>(0x40, pe::kSignature);
    const DWORD opt = 0x40 + 4 + pe::kFileHeaderSize;
    Put<WORD>(opt + pe::kOptMagic, pe::kMagic32);
    Put<DWORD>(opt + pe::kOptSizeOfCode, codeSize);
    Put<DWORD>(opt + pe::kOptBaseOfCode, code);
    Put<DWORD>(opt + pe::OptNumberOfDirectories(pe::kMagic32), 16);
    Put<pe::DataDirectory>(opt + pe::OptDirectories(pe::kMagic32), {exports, strings + kExports * 24 - exports});
    std::memset(base_ + code, 0xC3, codeSize);
    pe::ExportDirectory dir = {};
    dir.Base = 1;
    dir.NumberOfFunctions = dir.NumberOfNames = kExports;
    dir.AddressOfFunctions = functions;
    dir.AddressOfNames = nameTable;
    dir.AddressOfNameOrdinals = ordinals;
    Put(exports, dir);
    DWORD at = strings;
    for (int k = 0; k < kExports; ++k) {
      const int i = order[k];
      Put<DWORD>(functions + 4 * i, code + 16 * i);
      Put<DWORD>(nameTable + 4 * k, at);
      Put<WORD>(ordinals + 2 * k, static_cast<WORD>(i));
      std::memcpy(base_ + at, names_[i].c_str(), names_[i].size() + 1);
      at += 24;
    }
  }
  ~PeImage() { VirtualFree(base_, 0, MEM_RELEASE); }
  std::vector<DRAVEL_ADDRESS> Functions() const {
    std::vector<DRAVEL_ADDRESS> f;
    for (int i = 0; i < kExports; ++i) f.push_back(reinterpret_cast<DRAVEL_ADDRESS>(base_) + 0x1000 + 16 * i);
    return f;
  }

 private:
  template <class T>
  void Put(DWORD at, const T& v) {
    std::memcpy(base_ + at, &v, sizeof v);
  }
  BYTE* base_ = nullptr;
  DWORD size_ = 0;
  std::vector<std::string> names_;
};

void BM_GetAddressInfoPe(benchmark::State& state) {
  PeImage image;
  AddressInfos(state, Addresses(image.Functions()), "__stdcall Exported");
}

BENCHMARK(BM_GetAddressInfoElf);
BENCHMARK(BM_GetAddressInfoPe);
BENCHMARK(BM_Dladdr);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(Dir(), ec);
  return 0;
}
