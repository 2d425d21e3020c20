// FU_CopyFile of one 512 MiB file beside dd (64 KiB blocks, the same
// read-and-write loop as Ferrow's), the same loop in this process (dd without
// its process start), and cp, on the same file in the same run. The source is
// made once and stays in the page cache; each copy goes to a fresh
// destination, and dirty pages are written back outside the timing so that
// one copy does not pay for the one before.
//
// Single copies vary with what the machine is doing, so each side runs many
// times, the sides interleaved in random order, and the medians are compared
// (unless the command line asks for something else).
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "ferrow.h"

namespace {

namespace fs = std::filesystem;
constexpr size_t kSize = size_t(512) << 20;

struct Files {
  fs::path dir, source, destination;
  Files() {
    dir = fs::temp_directory_path() / ("qz-copy-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    source = dir / "source.bin";
    destination = dir / "copy.bin";
    std::vector<unsigned char> block(1 << 20);
    std::mt19937 rng(7);
    FILE* f = std::fopen(source.c_str(), "wb");
    if (!f) std::abort();
    for (size_t done = 0; done < kSize; done += block.size()) {
      for (auto& b : block) b = static_cast<unsigned char>(rng());
      if (std::fwrite(block.data(), 1, block.size(), f) != block.size()) std::abort();
    }
    std::fclose(f);
    sync();
  }
  ~Files() {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
};

Files& TheFiles() {
  static Files files;
  return files;
}

void Fresh(const Files& f) {
  std::error_code ec;
  fs::remove(f.destination, ec);
  sync();
}

void Check(benchmark::State& state, const Files& f) {
  std::error_code ec;
  if (fs::file_size(f.destination, ec) != kSize) state.SkipWithError("the copy is not complete");
}

void BM_FU_CopyFile(benchmark::State& state) {
  Files& f = TheFiles();
  const plat::wstring src = plat::Wide(f.source.string());
  plat::wstring dst = plat::Wide(f.destination.string());
  for (auto _ : state) {
    state.PauseTiming();
    Fresh(f);
    state.ResumeTiming();
    if (!FU_CopyFile(src.c_str(), &dst[0])) state.SkipWithError("FU_CopyFile failed");
  }
  Check(state, f);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void RunTool(benchmark::State& state, const std::string& command) {
  Files& f = TheFiles();
  for (auto _ : state) {
    state.PauseTiming();
    Fresh(f);
    state.ResumeTiming();
    if (std::system(command.c_str()) != 0) state.SkipWithError(command.c_str());
  }
  Check(state, f);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

// dd's loop without dd: 64 KiB reads and writes until the end of the source.
void BM_ReadWrite64k(benchmark::State& state) {
  Files& f = TheFiles();
  std::vector<char> buffer(65536);
  for (auto _ : state) {
    state.PauseTiming();
    Fresh(f);
    state.ResumeTiming();
    int in = open(f.source.c_str(), O_RDONLY | O_CLOEXEC);
    int out = open(f.destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ssize_t n = 0;
    while (in >= 0 && out >= 0 && (n = read(in, buffer.data(), buffer.size())) > 0)
      if (write(out, buffer.data(), size_t(n)) != n) break;
    if (in < 0 || out < 0 || n != 0) state.SkipWithError("the read-and-write loop failed");
    if (in >= 0) close(in);
    if (out >= 0) close(out);
  }
  Check(state, f);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSize));
}

void BM_cp(benchmark::State& state) {
  Files& f = TheFiles();
  RunTool(state, "cp --preserve=timestamps '" + f.source.string() + "' '" + f.destination.string() + "'");
}

void BM_dd_64k(benchmark::State& state) {
  Files& f = TheFiles();
  RunTool(state, "dd bs=64K status=none 'if=" + f.source.string() + "' 'of=" + f.destination.string() + "'");
}

BENCHMARK(BM_FU_CopyFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_dd_64k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_ReadWrite64k)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_cp)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  // Defaults: 15 copies of each side, interleaved at random, medians reported.
  std::vector<char*> args(argv, argv + argc);
  bool given = false;
  for (int i = 1; i < argc; ++i) given |= std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0;
  static char reps[] = "--benchmark_repetitions=15", mix[] = "--benchmark_enable_random_interleaving=true",
              only[] = "--benchmark_report_aggregates_only=true";
  if (!given) args.insert(args.begin() + 1, {reps, mix, only});
  argc = int(args.size());
  args.push_back(nullptr);
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  TheFiles();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
