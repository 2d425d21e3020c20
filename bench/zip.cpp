// FU_ZIPMem and FU_UnZIPMem beside raw lzo1x_1_compress and
// lzo1x_decompress_safe, on the same 1 MiB buffers of text, binary records,
// zeros and random bytes. Ferrow's calls pay for their result blocks (from the
// process heap) and, in place, for the temporary block and the copy back.
#include <cstring>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>
#include <lzo/lzo1x.h>

#include "ferrow.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr size_t kSize = 1 << 20;

enum Kind { kText, kBinary, kZeros, kRandom };

const Bytes& Data(Kind kind) {
  static Bytes made[4];
  Bytes& b = made[kind];
  if (!b.empty()) return b;
  std::mt19937 rng(kind + 1);
  static const char* const words[] = {"frame ", "index ", "the ", "clip ", "of ", "a ", "video\n", "track ", "time ",
                                      "code "};
  switch (kind) {
    case kText:
      while (b.size() < kSize) {
        const char* w = words[rng() % 10];
        b.insert(b.end(), w, w + std::strlen(w));
      }
      break;
    case kBinary:
      // An executable-like mix: records of counters and small fields, some noise.
      for (uint32_t i = 0; b.size() < kSize; ++i) {
        uint32_t f[4] = {i * 16, uint32_t(rng() % 256), 0x8B550000u | (i & 0xFFFF), rng() % 8 == 0 ? uint32_t(rng()) : 0};
        for (uint32_t v : f)
          for (int k = 0; k < 4; ++k) b.push_back(static_cast<unsigned char>(v >> (8 * k)));
      }
      break;
    case kZeros:
      b.assign(kSize, 0);
      break;
    case kRandom:
      for (size_t i = 0; i < kSize; ++i) b.push_back(static_cast<unsigned char>(rng()));
      break;
  }
  b.resize(kSize);
  return b;
}

// The block of data as FU_ZIPMem writes it with no limit: header and LZO1X-1 stream.
Bytes Block(const Bytes& data) {
  Bytes b(28 + data.size() + data.size() / 16 + 64 + 3);
  Bytes work(LZO1X_1_MEM_COMPRESS);
  lzo_uint n = b.size() - 28;
  lzo1x_1_compress(data.data(), data.size(), b.data() + 28, &n, work.data());
  std::memcpy(b.data(), "@ZIP", 4);
  const ULONG size = static_cast<ULONG>(data.size());
  std::memcpy(b.data() + 4, &size, 4);
  std::memcpy(b.data() + 24, "@ZIP", 4);
  b.resize(28 + n);
  return b;
}

void RawCompress(benchmark::State& state, Kind kind) {
  const Bytes& data = Data(kind);
  Bytes out(data.size() + data.size() / 16 + 64 + 3);
  Bytes work(LZO1X_1_MEM_COMPRESS);
  lzo_uint n = 0;
  for (auto _ : state) {
    n = out.size();
    lzo1x_1_compress(data.data(), data.size(), out.data(), &n, work.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * data.size());
  state.counters["ratio"] = double(n) / data.size();
}

void FerrowZip(benchmark::State& state, Kind kind) {
  Bytes data = Data(kind);
  const ULONG size = static_cast<ULONG>(data.size());
  ULONG io = 0;
  for (auto _ : state) {
    io = size;  // random data comes back as it is
    void* r = FU_ZIPMem(data.data(), size, &io, FU_AllocProcHeap);
    if (!r) state.SkipWithError("FU_ZIPMem failed");
    FU_AllocProcHeap(r, 0);
  }
  state.SetBytesProcessed(state.iterations() * size);
  state.counters["ratio"] = double(io) / size;
}

void FerrowZipInPlace(benchmark::State& state, Kind kind) {
  const Bytes& original = Data(kind);
  Bytes data = original;
  const ULONG size = static_cast<ULONG>(data.size());
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(data.data(), original.data(), size);
    state.ResumeTiming();
    ULONG io = size;
    if (!FU_ZIPMem(data.data(), size, &io, nullptr)) state.SkipWithError("FU_ZIPMem failed");
  }
  state.SetBytesProcessed(state.iterations() * size);
}

void RawDecompress(benchmark::State& state, Kind kind) {
  const Bytes block = Block(Data(kind));
  Bytes out(kSize);
  for (auto _ : state) {
    lzo_uint n = out.size();
    if (lzo1x_decompress_safe(block.data() + 28, block.size() - 28, out.data(), &n, nullptr) != LZO_E_OK)
      state.SkipWithError("lzo1x_decompress_safe failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * kSize);
}

void FerrowUnZip(benchmark::State& state, Kind kind) {
  Bytes block = Block(Data(kind));
  for (auto _ : state) {
    ULONG n = 0;
    void* r = FU_UnZIPMem(block.data(), static_cast<ULONG>(block.size()), &n, FU_AllocProcHeap);
    if (!r) state.SkipWithError("FU_UnZIPMem failed");
    FU_AllocProcHeap(r, 0);
  }
  state.SetBytesProcessed(state.iterations() * kSize);
}

#define ZIP_BENCH(fn)                            \
  BENCHMARK_CAPTURE(fn, text, kText);            \
  BENCHMARK_CAPTURE(fn, binary, kBinary);        \
  BENCHMARK_CAPTURE(fn, zeros, kZeros);          \
  BENCHMARK_CAPTURE(fn, random, kRandom)

ZIP_BENCH(RawCompress);
ZIP_BENCH(FerrowZip);
ZIP_BENCH(FerrowZipInPlace);
ZIP_BENCH(RawDecompress);
ZIP_BENCH(FerrowUnZip);

}  // namespace

int main(int argc, char** argv) {
  if (lzo_init() != LZO_E_OK) return 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
