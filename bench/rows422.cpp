// The 4:2:2 rows of the packed and UYVY codecs over a 720 x 576 frame: the
// plain rows, the fast rows, and libyuv's UYVYToARGB and ARGBToUYVY on frames
// of the same size, in the same run.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "libyuv/convert_argb.h"
#include "libyuv/convert_from_argb.h"
#include "rows422.h"

namespace {

using namespace tarnel;

constexpr int kWidth = 720, kHeight = 576;

struct Frames {
  zelk::CQZCsc csc;
  std::vector<BYTE> uyvy, bgra, out;
  Frames() : uyvy(kWidth * kHeight * 2), bgra(kWidth * kHeight * 4), out(kWidth * kHeight * 4) {
    csc.Init(zelk::CS_BT601);
    unsigned s = 1;
    for (BYTE& b : uyvy) b = BYTE((s = s * 1103515245 + 12345) >> 24);
    for (BYTE& b : bgra) b = BYTE((s = s * 1103515245 + 12345) >> 24);
  }
};
Frames& F() {
  static Frames f;
  return f;
}

void Decode(benchmark::State& state, bool fast) {
  Frames& f = F();
  const Kernels k(f.csc);
  FastRows rows = FastRowsFor(k);
  if (!fast) rows = FastRows();
  for (auto _ : state) {
    for (int y = 0; y < kHeight; ++y)
      Row422ToBgr(k, rows, &f.uyvy[size_t(y) * kWidth * 2], &f.out[size_t(y) * kWidth * 4], kWidth / 2, 4);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
void BM_DecodeToBgraPlain(benchmark::State& s) { Decode(s, false); }
void BM_DecodeToBgraFast(benchmark::State& s) { Decode(s, true); }

void BM_LibyuvUYVYToARGB(benchmark::State& state) {
  Frames& f = F();
  for (auto _ : state) {
    libyuv::UYVYToARGB(f.uyvy.data(), kWidth * 2, f.out.data(), kWidth * 4, kWidth, kHeight);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void Encode(benchmark::State& state, bool fast) {
  Frames& f = F();
  const Kernels k(f.csc);
  FastRows rows = FastRowsFor(k);
  if (!fast) rows = FastRows();
  for (auto _ : state) {
    for (int y = 0; y < kHeight; ++y)
      RowBgrTo422(k, rows, &f.bgra[size_t(y) * kWidth * 4], &f.out[size_t(y) * kWidth * 2], kWidth / 2, 4, false);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
void BM_EncodeFromBgraPlain(benchmark::State& s) { Encode(s, false); }
void BM_EncodeFromBgraFast(benchmark::State& s) { Encode(s, true); }

// The UYVY encoder: a 4:4:4 scratch row, then the chroma filter.
void EncodeFiltered(benchmark::State& state, bool fast) {
  Frames& f = F();
  const Kernels k(f.csc);
  FastRows rows = FastRowsFor(k);
  if (!fast) rows = FastRows();
  std::vector<BYTE> scratch(kWidth * 4);
  for (auto _ : state) {
    for (int y = 0; y < kHeight; ++y) {
      RowBgrToScratch(k, rows, &f.bgra[size_t(y) * kWidth * 4], scratch.data(), kWidth, 4, false);
      RowFilterTo422(k, rows, scratch.data(), &f.out[size_t(y) * kWidth * 2], kWidth / 2);
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
void BM_EncodeFilteredPlain(benchmark::State& s) { EncodeFiltered(s, false); }
void BM_EncodeFilteredFast(benchmark::State& s) { EncodeFiltered(s, true); }

void BM_LibyuvARGBToUYVY(benchmark::State& state) {
  Frames& f = F();
  for (auto _ : state) {
    libyuv::ARGBToUYVY(f.bgra.data(), kWidth * 4, f.out.data(), kWidth * 2, kWidth, kHeight);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

BENCHMARK(BM_DecodeToBgraPlain);
BENCHMARK(BM_DecodeToBgraFast);
BENCHMARK(BM_LibyuvUYVYToARGB);
BENCHMARK(BM_EncodeFromBgraPlain);
BENCHMARK(BM_EncodeFromBgraFast);
BENCHMARK(BM_EncodeFilteredPlain);
BENCHMARK(BM_EncodeFilteredFast);
BENCHMARK(BM_LibyuvARGBToUYVY);

}  // namespace

BENCHMARK_MAIN();
