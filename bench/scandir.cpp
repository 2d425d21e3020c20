// FU_ScanDir over a generated tree of 20,000 files (20 directories of 10
// subdirectories of 100 files, sizes 0 to 4095 bytes), beside
// std::filesystem::recursive_directory_iterator summing the same sizes, in the
// same run. The tree is made once in the temporary directory and removed at
// the end. Both sides must agree on the counts before anything is timed.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include <benchmark/benchmark.h>

#include "ferrow.h"

namespace {

namespace fs = std::filesystem;

constexpr int kTop = 20, kSub = 10, kFiles = 100;
constexpr ULONGLONG kFileCount = ULONGLONG(kTop) * kSub * kFiles;

struct Tree {
  fs::path root;
  plat::wstring pattern;  // root\*.* as Ferrow takes it
  ULONGLONG bytes = 0;
};

Tree& TheTree() {
  static Tree tree;
  return tree;
}

bool MakeTree(Tree& t) {
  t.root = fs::temp_directory_path() / ("qz-bench-scandir-" + std::to_string(GetCurrentProcessId()));
  std::error_code ec;
  fs::remove_all(t.root, ec);
  const std::string block(4096, 'x');
  unsigned seed = 12345;
  for (int a = 0; a < kTop; ++a)
    for (int b = 0; b < kSub; ++b) {
      fs::path dir = t.root / ("clips" + std::to_string(a)) / ("take" + std::to_string(b));
      fs::create_directories(dir, ec);
      if (ec) return false;
      for (int f = 0; f < kFiles; ++f) {
        seed = seed * 1103515245u + 12345u;
        const size_t size = (seed >> 8) % 4096;
        std::ofstream out(dir / ("frame" + std::to_string(f) + ".raw"), std::ios::binary);
        out.write(block.data(), static_cast<std::streamsize>(size));
        if (!out) return false;
        t.bytes += size;
      }
    }
#ifdef _WIN32
  t.pattern = (t.root / "*.*").wstring();
#else
  t.pattern = (t.root / "*.*").u16string();
#endif
  return true;
}

void BM_FerrowScanDir(benchmark::State& state) {
  const Tree& t = TheTree();
  FU_ScanTotals totals = {};
  for (auto _ : state) {
    FU_ScanDir(t.pattern.c_str(), &totals, 0, FU_ENUM_RECURSIVE | FU_ENUM_EXCLUDE_ATTRIBUTES);
    benchmark::DoNotOptimize(totals);
  }
  if (totals.fileCount != kFileCount || totals.totalBytes != t.bytes) state.SkipWithError("FU_ScanDir disagrees");
  state.counters["entries/s"] =
      benchmark::Counter(double(totals.fileCount + totals.dirCount), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_StdRecursiveIterator(benchmark::State& state) {
  const Tree& t = TheTree();
  ULONGLONG files = 0, dirs = 0, bytes = 0;
  for (auto _ : state) {
    files = dirs = bytes = 0;
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(t.root)) {
      if (e.is_directory()) {
        ++dirs;
      } else {
        ++files;
        bytes += e.file_size();
      }
    }
    benchmark::DoNotOptimize(bytes);
  }
  if (files != kFileCount || bytes != t.bytes) state.SkipWithError("the reference disagrees");
  state.counters["entries/s"] = benchmark::Counter(double(files + dirs), benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_FerrowScanDir)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdRecursiveIterator)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  Tree& t = TheTree();
  bool made = MakeTree(t);
  if (made) benchmark::RunSpecifiedBenchmarks();
  else std::fprintf(stderr, "bench_scandir: cannot make the tree under %s\n", t.root.string().c_str());
  std::error_code ec;
  fs::remove_all(t.root, ec);
  benchmark::Shutdown();
  return made ? 0 : 1;
}
