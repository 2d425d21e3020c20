// The planar and meshed rows over whole frames of 720 x 576 and 1920 x 1080,
// the fast rows beside the plain ones, and libyuv's UYVYToARGB and ARGBToUYVY
// on frames of the same size in the same run. The rows run on the BT.601
// tables of Zelku's converter, as the codecs do.
#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <vector>

#include "rows_meshed.h"
#include "rows_planar.h"

namespace {

using namespace tarnel;
using Bytes = std::vector<BYTE>;

const Kernels& Tables() {
  static zelk::CQZCsc csc;
  static const Kernels k = [] {
    csc.Init(zelk::CS_BT601);
    return Kernels(csc);
  }();
  return k;
}

Bytes Noise(size_t n) {
  Bytes b(n);
  uint32_t s = 12345;
  for (BYTE& v : b) v = BYTE((s = s * 1664525u + 1013904223u) >> 24);
  return b;
}

// The frame size of a benchmark: 720 x 576 or 1920 x 1080.
int Width(const benchmark::State& s) { return int(s.range(0)); }
int Height(const benchmark::State& s) { return s.range(0) == 720 ? 576 : 1080; }

void Label(benchmark::State& state) {
  state.SetItemsProcessed(state.iterations() * Width(state) * Height(state));
  state.SetLabel(Avx2RowsAvailable() ? "avx2" : "plain only");
}

template <bool kFast>
void PlanarToBgr32(benchmark::State& state) {
  const int w = Width(state), h = Height(state), yrow = (w + 63) & ~63, crow = (w / 2 + 63) & ~63;
  const Kernels& k = Tables();
  const Bytes planes = Noise(size_t(h) * (yrow + 2 * crow));
  Bytes out(size_t(w) * 4 * h);
  for (auto _ : state) {
    FastTables c;  // once per frame, as the walkers do
    PrepareFast(k, &c);
    for (int r = 0; r < h; ++r) {
      const BYTE* y = &planes[size_t(r) * yrow];
      const BYTE* cb = &planes[size_t(h) * yrow + size_t(r) * crow];
      const ConstPlaneRow row = {y, cb, cb + size_t(h) * crow, nullptr};
      if (kFast)
        PlanesToBgrRow(k, c, row, &out[size_t(r) * w * 4], 4, w / 2);
      else
        PlanesToBgrRow_C(k, row, &out[size_t(r) * w * 4], 4, w / 2);
    }
    benchmark::DoNotOptimize(out.data());
  }
  Label(state);
}

template <bool kFast>
void Bgr32ToPlanar(benchmark::State& state) {
  const int w = Width(state), h = Height(state), yrow = (w + 63) & ~63, crow = (w / 2 + 63) & ~63;
  const Kernels& k = Tables();
  const Bytes in = Noise(size_t(w) * 4 * h);
  Bytes planes(size_t(h) * (yrow + 2 * crow));
  for (auto _ : state) {
    FastTables c;
    PrepareFast(k, &c);
    for (int r = 0; r < h; ++r) {
      BYTE* cb = &planes[size_t(h) * yrow + size_t(r) * crow];
      const PlaneRow row = {&planes[size_t(r) * yrow], cb, cb + size_t(h) * crow, nullptr};
      if (kFast)
        BgrToPlanesRow(k, c, &in[size_t(r) * w * 4], 4, {true, false}, row, w / 2);
      else
        BgrToPlanesRow_C(k, &in[size_t(r) * w * 4], 4, {true, false}, row, w / 2);
    }
    benchmark::DoNotOptimize(planes.data());
  }
  Label(state);
}

template <bool kFast>
void MeshedToBgr32(benchmark::State& state) {
  const int w = Width(state), h = Height(state);
  const Kernels& k = Tables();
  const Bytes in = Noise(size_t(w) * 4 * h);
  Bytes out(in.size());
  for (auto _ : state) {
    FastTables c;
    PrepareFast(k, &c);
    for (int r = 0; r < h; ++r) {
      const size_t at = size_t(r) * w * 4;
      if (kFast)
        MeshedToBgrRow(k, c, &in[at], {4, false}, &out[at], 4, w);
      else
        MeshedToBgrRow_C(k, &in[at], {4, false}, &out[at], 4, w);
    }
    benchmark::DoNotOptimize(out.data());
  }
  Label(state);
}

template <bool kFast>
void Bgr32ToMeshed(benchmark::State& state) {
  const int w = Width(state), h = Height(state);
  const Kernels& k = Tables();
  const Bytes in = Noise(size_t(w) * 4 * h);
  Bytes out(in.size());
  for (auto _ : state) {
    FastTables c;
    PrepareFast(k, &c);
    for (int r = 0; r < h; ++r) {
      const size_t at = size_t(r) * w * 4;
      if (kFast)
        BgrToMeshedRow(k, c, &in[at], 4, {true, false}, &out[at], {4, false}, w);
      else
        BgrToMeshedRow_C(k, &in[at], 4, {true, false}, &out[at], {4, false}, w);
    }
    benchmark::DoNotOptimize(out.data());
  }
  Label(state);
}

void LibyuvUYVYToARGB(benchmark::State& state) {
  const int w = Width(state), h = Height(state);
  const Bytes in = Noise(size_t(w) * 2 * h);
  Bytes out(size_t(w) * 4 * h);
  for (auto _ : state) {
    libyuv::UYVYToARGB(in.data(), w * 2, out.data(), w * 4, w, h);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * w * h);
}

void LibyuvARGBToUYVY(benchmark::State& state) {
  const int w = Width(state), h = Height(state);
  const Bytes in = Noise(size_t(w) * 4 * h);
  Bytes out(size_t(w) * 2 * h);
  for (auto _ : state) {
    libyuv::ARGBToUYVY(in.data(), w * 4, out.data(), w * 2, w, h);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * w * h);
}

#define SIZES ->Arg(720)->Arg(1920)->Unit(benchmark::kMicrosecond)
BENCHMARK(LibyuvUYVYToARGB) SIZES;
BENCHMARK(PlanarToBgr32<true>) SIZES;
BENCHMARK(PlanarToBgr32<false>) SIZES;
BENCHMARK(MeshedToBgr32<true>) SIZES;
BENCHMARK(MeshedToBgr32<false>) SIZES;
BENCHMARK(LibyuvARGBToUYVY) SIZES;
BENCHMARK(Bgr32ToPlanar<true>) SIZES;
BENCHMARK(Bgr32ToPlanar<false>) SIZES;
BENCHMARK(Bgr32ToMeshed<true>) SIZES;
BENCHMARK(Bgr32ToMeshed<false>) SIZES;

}  // namespace

BENCHMARK_MAIN();
