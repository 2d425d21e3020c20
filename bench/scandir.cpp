// FU_ScanDir over generated trees of 20,000 and 200,000 files (directories of
// 10 subdirectories of 100 files, sizes 0 to 4095 bytes), beside two walks
// that get the same facts of every entry in the same run:
//  - a walk that, as `find -printf '%s %T@'` does, reads each directory and
//    stats each entry relative to it (size, times, kind): the reference;
//  - std::filesystem's recursive iterator, summing the file sizes.
// The native FindFirstFileW also reads each entry's Windows-only attributes
// (hidden, system, archive), which live in an extended attribute; the walk
// `stat+xattr` adds that read to the reference, to show what it costs.
// Each tree is made once in the temporary directory and removed at the end.
// Every side must agree on the counts before anything is timed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <system_error>

#include <benchmark/benchmark.h>

#include "ferrow.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSub = 10, kFiles = 100;

struct Tree {
  fs::path root;
  plat::wstring pattern;  // root\*.* as Ferrow takes it
  ULONGLONG files = 0, dirs = 0, bytes = 0;
  bool made = false;
};

std::map<int, Tree>& Trees() {
  static std::map<int, Tree> trees;
  return trees;
}

bool MakeTree(Tree& t, int files) {
  t.root = fs::temp_directory_path() /
           ("qz-bench-scandir-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(files));
  std::error_code ec;
  fs::remove_all(t.root, ec);
  const std::string block(4096, 'x');
  unsigned seed = 12345;
  const int top = files / (kSub * kFiles);
  for (int a = 0; a < top; ++a) {
    ++t.dirs;
    for (int b = 0; b < kSub; ++b) {
      fs::path dir = t.root / ("clips" + std::to_string(a)) / ("take" + std::to_string(b));
      fs::create_directories(dir, ec);
      if (ec) return false;
      ++t.dirs;
      for (int f = 0; f < kFiles; ++f) {
        seed = seed * 1103515245u + 12345u;
        const size_t size = (seed >> 8) % 4096;
        std::ofstream out(dir / ("frame" + std::to_string(f) + ".raw"), std::ios::binary);
        out.write(block.data(), static_cast<std::streamsize>(size));
        if (!out) return false;
        ++t.files;
        t.bytes += size;
      }
    }
  }
#ifdef _WIN32
  t.pattern = (t.root / "*.*").wstring();
#else
  t.pattern = (t.root / "*.*").u16string();
#endif
  return true;
}

// The tree of the benchmark's size, made on first use; null when it cannot be.
const Tree* TreeFor(benchmark::State& state) {
  Tree& t = Trees()[int(state.range(0))];
  if (!t.made && t.root.empty()) t.made = MakeTree(t, int(state.range(0)));
  if (!t.made) state.SkipWithError("cannot make the tree");
  return t.made ? &t : nullptr;
}

struct Totals {
  ULONGLONG files = 0, dirs = 0, bytes = 0, newest = 0;
};

void Finish(benchmark::State& state, const Tree& t, const Totals& got) {
  if (got.files != t.files || got.dirs != t.dirs || got.bytes != t.bytes) state.SkipWithError("the walk disagrees");
  state.counters["entries/s"] = benchmark::Counter(double(got.files + got.dirs), benchmark::Counter::kIsIterationInvariantRate);

}

void BM_FerrowScanDir(benchmark::State& state) {
  const Tree* t = TreeFor(state);
  if (!t) return;
  FU_ScanTotals totals = {};
  for (auto _ : state) {
    FU_ScanDir(t->pattern.c_str(), &totals, 0, FU_ENUM_RECURSIVE | FU_ENUM_EXCLUDE_ATTRIBUTES);
    benchmark::DoNotOptimize(totals);
  }
  Totals got;
  got.files = totals.fileCount;
  got.dirs = totals.dirCount;
  got.bytes = totals.totalBytes;
  Finish(state, *t, got);
}

// The entry's extended attribute, read as the platform reads it: relative to
// the directory where the kernel can (getxattrat, Linux 6.13), else by path.
#if defined(__x86_64__) && !defined(SYS_getxattrat)
#define SYS_getxattrat 464
#endif
long ReadRecord(int dirfd, const std::string& path, const char* name) {
  char record[16];
#ifdef SYS_getxattrat
  struct {
    uint64_t value;
    uint32_t size, flags;
  } args = {reinterpret_cast<uintptr_t>(record), sizeof record, 0};
  long n = syscall(SYS_getxattrat, dirfd, name, 0, "user.qz.dos", &args, sizeof args);
  if (n >= 0 || errno != ENOSYS) return n;
#endif
  return getxattr((path + name).c_str(), "user.qz.dos", record, sizeof record);
}

// Reads a directory and stats each entry relative to it, recursing into
// directories; with `xattr`, reads each entry's extended attribute as well.
void Walk(int dirfd, const std::string& path, bool xattr, Totals& totals) {
  DIR* d = fdopendir(dirfd);
  if (!d) return;
  while (struct dirent* e = readdir(d)) {
    if (e->d_name[0] == '.' && (!e->d_name[1] || (e->d_name[1] == '.' && !e->d_name[2]))) continue;
    struct stat st;
    if (fstatat(dirfd, e->d_name, &st, 0) != 0) continue;
    if (xattr) benchmark::DoNotOptimize(ReadRecord(dirfd, path, e->d_name));
    totals.newest = std::max<ULONGLONG>(totals.newest, ULONGLONG(st.st_mtim.tv_sec));
    if (S_ISDIR(st.st_mode)) {
      ++totals.dirs;
      int sub = openat(dirfd, e->d_name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (sub >= 0) Walk(sub, path + e->d_name + "/", xattr, totals);
    } else {
      ++totals.files;
      totals.bytes += ULONGLONG(st.st_size);
    }
  }
  closedir(d);
}

void WalkBenchmark(benchmark::State& state, bool xattr) {
  const Tree* t = TreeFor(state);
  if (!t) return;
  Totals got;
  for (auto _ : state) {
    got = Totals();
    Walk(open(t->root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), t->root.string() + "/", xattr, got);
    benchmark::DoNotOptimize(got);
  }
  Finish(state, *t, got);
}

void BM_StatWalk(benchmark::State& state) { WalkBenchmark(state, false); }
void BM_StatXattrWalk(benchmark::State& state) { WalkBenchmark(state, true); }

void BM_StdRecursiveIterator(benchmark::State& state) {
  const Tree* t = TreeFor(state);
  if (!t) return;
  Totals got;
  for (auto _ : state) {
    got = Totals();
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(t->root)) {
      if (e.is_directory()) {
        ++got.dirs;
      } else {
        ++got.files;
        got.bytes += e.file_size();
      }
    }
    benchmark::DoNotOptimize(got);
  }
  Finish(state, *t, got);
}

// Each size's sides one after the other, so that they meet the same cache.
#define SIDES(size)                                                                             \
  BENCHMARK(BM_FerrowScanDir)->Arg(size)->Unit(benchmark::kMillisecond);                        \
  BENCHMARK(BM_StatWalk)->Arg(size)->Unit(benchmark::kMillisecond);                             \
  BENCHMARK(BM_StatXattrWalk)->Arg(size)->Unit(benchmark::kMillisecond);                        \
  BENCHMARK(BM_StdRecursiveIterator)->Arg(size)->Unit(benchmark::kMillisecond)
SIDES(20000);
SIDES(200000);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  std::error_code ec;
  for (auto& [size, tree] : Trees())
    if (!tree.root.empty()) fs::remove_all(tree.root, ec);
  benchmark::Shutdown();
  return 0;
}
