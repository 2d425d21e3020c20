// The lookup tables of BT.601 and BT.709 studio-range conversion, in 16.16
// fixed point, computed with integers only (the coefficients as fractions of
// 10000) so that every target and compiler builds the same bytes. zelku.h
// gives the formulas.
#include <algorithm>
#include <cstdint>

#include "tables.h"

namespace zelk {
namespace detail {
namespace {

constexpr int64_t kOne = 65536;
constexpr int64_t kHalf = 32768;
constexpr int64_t kDen = 10000;

// floor(a / b) for b > 0.
int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && a < 0); }
// n / d rounded to the nearest integer, halves up (d > 0).
LONG RoundDiv(int64_t n, int64_t d) { return static_cast<LONG>(FloorDiv(2 * n + d, 2 * d)); }

// kr and kb in ten-thousandths.
void Build(ColorTables& t, int64_t kr, int64_t kb) {
  const int64_t kg = kDen - kr - kb;
  for (int64_t v = 0; v < 256; ++v) {
    const int64_t y = v - 16, c = v - 128;
    t.yToRGB[v] = RoundDiv(kOne * 255 * y, 219) + static_cast<LONG>(kHalf);
    t.crToR[v] = RoundDiv(kOne * 255 * 2 * (kDen - kr) * c, 224 * kDen);
    t.cbToB[v] = RoundDiv(kOne * 255 * 2 * (kDen - kb) * c, 224 * kDen);
    t.crToG[v] = RoundDiv(-kOne * 255 * 2 * (kDen - kr) * kr * c, 224 * kDen * kg);
    t.cbToG[v] = RoundDiv(-kOne * 255 * 2 * (kDen - kb) * kb * c, 224 * kDen * kg);

    LONG* e = t.rgbToYUV;
    const LONG luma = static_cast<LONG>(16 * kOne + kHalf), chroma = static_cast<LONG>(128 * kOne + kHalf);
    e[0 * 256 + v] = RoundDiv(kOne * 219 * kr * v, 255 * kDen) + luma;
    e[1 * 256 + v] = RoundDiv(kOne * 219 * kg * v, 255 * kDen);
    e[2 * 256 + v] = RoundDiv(kOne * 219 * kb * v, 255 * kDen);
    e[3 * 256 + v] = RoundDiv(-kOne * 224 * kr * v, 255 * 2 * (kDen - kb)) + chroma;
    e[4 * 256 + v] = RoundDiv(-kOne * 224 * kg * v, 255 * 2 * (kDen - kb));
    e[5 * 256 + v] = RoundDiv(kOne * 224 * v, 255 * 2);
    e[6 * 256 + v] = RoundDiv(kOne * 224 * v, 255 * 2) + chroma;
    e[7 * 256 + v] = RoundDiv(-kOne * 224 * kg * v, 255 * 2 * (kDen - kr));
    e[8 * 256 + v] = RoundDiv(-kOne * 224 * kb * v, 255 * 2 * (kDen - kr));
  }
}

struct Range {
  int64_t low = 0, high = 0;
};
Range Of(const LONG* table) {
  auto mm = std::minmax_element(table, table + 256);
  return {*mm.first, *mm.second};
}
Range Sum(Range a, Range b) { return {a.low + b.low, a.high + b.high}; }

// Widens [low, high] to every index a decode or encode sum of these tables reaches.
void Reach(const ColorTables& t, int& low, int& high) {
  const Range y = Of(t.yToRGB);
  const Range sums[] = {
      Sum(y, Of(t.cbToB)),
      Sum(Sum(y, Of(t.cbToG)), Of(t.crToG)),
      Sum(y, Of(t.crToR)),
      Sum(Sum(Of(t.rgbToYUV), Of(t.rgbToYUV + 256)), Of(t.rgbToYUV + 512)),
      Sum(Sum(Of(t.rgbToYUV + 768), Of(t.rgbToYUV + 1024)), Of(t.rgbToYUV + 1280)),
      Sum(Sum(Of(t.rgbToYUV + 1536), Of(t.rgbToYUV + 1792)), Of(t.rgbToYUV + 2048)),
  };
  for (const Range& s : sums) {
    low = std::min<int>(low, static_cast<int>(s.low >> 16));
    high = std::max<int>(high, static_cast<int>(s.high >> 16));
  }
}

// Built once and kept for the life of the process (plain arrays: no template
// code of the standard library in the export table).
struct Store {
  ColorTables bt601, bt709;
  Tables tables;

  Store() {
    Build(bt601, 2990, 1140);
    Build(bt709, 2126, 722);
    int low = 0, high = 255;
    Reach(bt601, low, high);
    Reach(bt709, low, high);
    const size_t n = size_t(high - low + 1);
    unsigned char* bytes = new unsigned char[3 * n];
    unsigned char *sat = bytes, *limitY = bytes + n, *limitC = bytes + 2 * n;
    for (int v = low; v <= high; ++v) {
      sat[v - low] = static_cast<unsigned char>(std::clamp(v, 0, 255));
      limitY[v - low] = static_cast<unsigned char>(std::clamp(v, 16, 235));
      limitC[v - low] = static_cast<unsigned char>(std::clamp(v, 16, 240));
    }
    // The pointers are those of index 0, inside the arrays since low <= 0.
    tables = {low, high, sat - low, limitY - low, limitC - low, &bt601, &bt709};
  }
};

}  // namespace

const Tables& SharedTables() {
  static const Store store;
  return store.tables;
}

}  // namespace detail
}  // namespace zelk

ZELKU_API int WINAPI ZelkuTableLow(void) { return zelk::detail::SharedTables().low; }
ZELKU_API int WINAPI ZelkuTableHigh(void) { return zelk::detail::SharedTables().high; }
