// Whole-file compression: FU_ZIPFile and FU_UnZIPFile beside `lzop -1` and
// `lzop -d` (the same LZO1X-1 compressor in a streaming tool) on the same
// 256 MiB file of text, binary records and random bytes, generated once at
// the start. Both sides read the source from the page cache and write their
// output to the same temporary directory; everything made is removed at the end.
//
// FU_ZIPFile holds the whole file in memory, and its block beside it; lzop
// streams in small blocks. Each side is therefore also run once as a child
// process whose peak resident size is reported (peak_rss_MiB): the child's own
// high-water mark for Ferrow's side, the highest mark seen while polling for
// lzop. Both are read from /proc (this benchmark is built natively only).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include <benchmark/benchmark.h>

#include "ferrow.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kSize = 256u << 20;
constexpr size_t kPiece = 1u << 20;
const char kLzop[] = "/usr/bin/lzop";

fs::path WorkDir() {
  static const fs::path dir = fs::temp_directory_path() / ("qz-zipfile-bench-" + std::to_string(GetCurrentProcessId()));
  return dir;
}
fs::path Source() { return WorkDir() / "mixed.bin"; }
plat::wstring Wide(const fs::path& p) { return plat::Wide(p.string()); }

// One piece of 1 MiB of the given kind: 0 text, 1 binary records, 2 random.
void MakePiece(int kind, std::mt19937& rng, std::string& out) {
  static const char* const words[] = {"frame ", "index ", "the ", "clip ", "of ",  "a ",      "video\n",
                                      "track ", "time ",  "code ", "audio ", "host ", "field ", "line "};
  out.clear();
  switch (kind) {
    case 0:
      while (out.size() < kPiece) out += words[rng() % 14];
      break;
    case 1:
      for (uint32_t i = 0; out.size() < kPiece; ++i) {
        uint32_t f[4] = {i * 16, uint32_t(rng() % 256), 0x8B550000u | (i & 0xFFFF), rng() % 8 == 0 ? uint32_t(rng()) : 0};
        out.append(reinterpret_cast<const char*>(f), sizeof f);
      }
      break;
    default:
      while (out.size() < kPiece) out += static_cast<char>(rng());
      break;
  }
  out.resize(kPiece);
}

// Half text, a quarter binary records, a quarter random, in pieces of 1 MiB.
bool MakeSource() {
  fs::create_directories(WorkDir());
  std::ofstream out(Source(), std::ios::binary | std::ios::trunc);
  std::mt19937 rng(20240);
  std::string piece;
  static const int pattern[4] = {0, 1, 0, 2};
  for (size_t i = 0; i < kSize / kPiece; ++i) {
    MakePiece(pattern[i % 4], rng, piece);
    out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
  }
  return static_cast<bool>(out);
}

ULONGLONG SizeOf(const fs::path& p) {
  std::error_code ec;
  auto n = fs::file_size(p, ec);
  return ec ? 0 : n;
}

// Runs a program and waits for it; its exit code, or -1 when it did not start.
// While it runs, the highest VmHWM of /proc/PID/status seen goes to peakKiB.
long Run(const plat::wstring& program, const plat::wstring& commandLine, ULONGLONG* peakKiB = nullptr) {
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::vector<WCHAR> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  if (!CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  const std::string status = "/proc/" + std::to_string(pi.dwProcessId) + "/status";
  while (WaitForSingleObject(pi.hProcess, 1) == WAIT_TIMEOUT) {
    if (!peakKiB) continue;
    std::ifstream in(status);
    for (std::string key; in >> key;) {
      ULONGLONG kib = 0;
      if (key == "VmHWM:" && in >> kib) *peakKiB = std::max(*peakKiB, kib);
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return static_cast<long>(code);
}

plat::wstring Quote(const fs::path& p) { return TEXT("\"") + Wide(p) + TEXT("\""); }

long Lzop(const plat::wstring& options, const fs::path& out, const fs::path& in, ULONGLONG* peakKiB = nullptr) {
  return Run(plat::Wide(kLzop), TEXT("lzop ") + options + TEXT(" -f -q -o ") + Quote(out) + TEXT(" ") + Quote(in), peakKiB);
}

// Ferrow's side run in a child: this program started with --zip-child.
plat::wstring Self() {
  WCHAR path[4096];
  DWORD n = GetModuleFileNameW(nullptr, path, 4096);
  return plat::wstring(path, n);
}

// Peak resident sizes, measured once: the child's own report, in KiB.
double PeakMiB(const char* which) {
  static double zip = -1, lzop = -1, unzip = -1, unlzop = -1, rises[2] = {0, 0};
  if (zip < 0) {
    const fs::path report = WorkDir() / "peak.txt";
    const plat::wstring self = Self();
    auto child = [&](const char* mode, const fs::path& target, const fs::path& source) {
      std::remove(report.string().c_str());
      Run(self, TEXT("\"") + self + TEXT("\" ") + plat::Wide(mode) + TEXT(" ") + Quote(target) +
                    TEXT(" ") + Quote(source) + TEXT(" ") + Quote(report));
      ULONGLONG kib = 0, rise = 0;
      std::ifstream(report) >> kib >> rise;
      rises[mode[2] == 'z' ? 0 : 1] = rise / 1024.0;
      return kib / 1024.0;
    };
    zip = child("--zip-child", WorkDir() / "peak.zq", Source());
    unzip = child("--unzip-child", WorkDir() / "peak.out", WorkDir() / "peak.zq");
    ULONGLONG kib = 0;
    Lzop(TEXT("-1"), WorkDir() / "peak.lzo", Source(), &kib);
    lzop = kib / 1024.0;
    kib = 0;
    Lzop(TEXT("-d"), WorkDir() / "peak.unlzo", WorkDir() / "peak.lzo", &kib);
    unlzop = kib / 1024.0;
    for (const char* f : {"peak.zq", "peak.out", "peak.lzo", "peak.unlzo", "peak.txt"}) fs::remove(WorkDir() / f);
  }
  const std::string w = which;
  if (w == "zip_rise") return rises[0];
  if (w == "unzip_rise") return rises[1];
  return w == "zip" ? zip : w == "lzop" ? lzop : w == "unzip" ? unzip : unlzop;
}

void Report(benchmark::State& state, const fs::path& out, const char* which) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSize);
  state.counters["ratio"] = double(SizeOf(out)) / kSize;
  state.counters["peak_rss_MiB"] = PeakMiB(which);
  // Ferrow's side: how far the call raised the child's resident size, beside
  // what the format needs (the source and the result, whole) plus 1 MiB.
  const std::string w = which;
  if (w == "zip" || w == "unzip") {
    state.counters["rise_MiB"] = PeakMiB((w + "_rise").c_str());
    const double source = double(SizeOf(out)), whole = double(kSize);
    state.counters["allowed_MiB"] = (source + whole) / (1 << 20) + 1;
  }
}

// Each run writes a new target from a clean page cache state: the one
// before is removed and dirty pages are written back outside the timing.
void Fresh(benchmark::State& state, const fs::path& target) {
  state.PauseTiming();
  std::error_code ec;
  fs::remove(target, ec);
  sync();
  state.ResumeTiming();
}

void FerrowZIPFile(benchmark::State& state) {
  const fs::path out = WorkDir() / "ferrow.zq";
  for (auto _ : state)
    if (Fresh(state, out), true)
      if (!FU_ZIPFile(Wide(out).c_str(), Wide(Source()).c_str())) state.SkipWithError("FU_ZIPFile failed");
  Report(state, out, "zip");
}

void LzopCompress(benchmark::State& state) {
  const fs::path out = WorkDir() / "lzop.lzo";
  for (auto _ : state)
    if (Fresh(state, out), true)
      if (Lzop(TEXT("-1"), out, Source()) != 0) state.SkipWithError("lzop -1 failed (is lzop installed?)");
  Report(state, out, "lzop");
}

void FerrowUnZIPFile(benchmark::State& state) {
  const fs::path in = WorkDir() / "ferrow.zq", out = WorkDir() / "ferrow.out";
  if (!fs::exists(in)) FU_ZIPFile(Wide(in).c_str(), Wide(Source()).c_str());
  for (auto _ : state)
    if (Fresh(state, out), true)
      if (!FU_UnZIPFile(Wide(out).c_str(), Wide(in).c_str())) state.SkipWithError("FU_UnZIPFile failed");
  Report(state, in, "unzip");
}

void LzopDecompress(benchmark::State& state) {
  const fs::path in = WorkDir() / "lzop.lzo", out = WorkDir() / "lzop.out";
  if (!fs::exists(in)) Lzop(TEXT("-1"), in, Source());
  for (auto _ : state)
    if (Fresh(state, out), true)
      if (Lzop(TEXT("-d"), out, in) != 0) state.SkipWithError("lzop -d failed");
  Report(state, in, "unlzop");
}

BENCHMARK(FerrowZIPFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(LzopCompress)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(FerrowUnZIPFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(LzopDecompress)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// One field of /proc/self/status, in KiB.
ULONGLONG Status(const char* field) {
  std::ifstream in("/proc/self/status");
  ULONGLONG kib = 0;
  for (std::string key; in >> key;)
    if (key == field) in >> kib;
  return kib;
}

// Writes this process's peak resident size (KiB) to a file, and how far it
// rose above the resident size before the call (`before`).
void ReportPeak(const char* to, ULONGLONG before) {
  const ULONGLONG peak = Status("VmHWM:");
  std::ofstream(to) << peak << " " << (peak - before);
}

}  // namespace

int main(int argc, char** argv) {
  // A child run: one call, then its peak resident size.
  if (argc == 5 && (std::strcmp(argv[1], "--zip-child") == 0 || std::strcmp(argv[1], "--unzip-child") == 0)) {
    const plat::wstring target = plat::Wide(argv[2]), source = plat::Wide(argv[3]);
    const ULONGLONG before = Status("VmRSS:");
    const BOOL ok = argv[1][2] == 'z' ? FU_ZIPFile(target.c_str(), source.c_str())
                                      : FU_UnZIPFile(target.c_str(), source.c_str());
    ReportPeak(argv[4], before);
    return ok ? 0 : 1;
  }
  // Defaults: 9 runs of each side, interleaved at random, medians reported.
  std::vector<char*> args(argv, argv + argc);
  bool given = false;
  for (int i = 1; i < argc; ++i) given |= std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0;
  static char reps[] = "--benchmark_repetitions=9", mix[] = "--benchmark_enable_random_interleaving=true",
              only[] = "--benchmark_report_aggregates_only=true";
  if (!given) args.insert(args.begin() + 1, {reps, mix, only});
  argc = int(args.size());
  args.push_back(nullptr);
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!MakeSource()) {
    std::fprintf(stderr, "zipfile_bench: cannot write %s\n", Source().string().c_str());
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(WorkDir(), ec);
  return 0;
}
