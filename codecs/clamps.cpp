#include "clamps.h"

#include <algorithm>

namespace tarnel {
namespace {

struct Reach {
  int64_t low, high;
};
Reach Of(const LONG* table) {
  const auto mm = std::minmax_element(table, table + 256);
  return {*mm.first, *mm.second};
}
Reach operator+(Reach a, Reach b) { return {a.low + b.low, a.high + b.high}; }
// The indices a sum of this reach gives after the shift by 16 (the pair
// encode's mean, shifted by 17, stays inside the same indices).
Reach Indices(Reach s) { return {s.low >> 16, s.high >> 16}; }

// True when table[i] == clamp(i, table[low], table[high]) for i in [low, high];
// the bounds are stored.
bool IsClamp(const BYTE* table, Reach r, int* lowOut, int* highOut) {
  const int lowV = table[r.low], highV = table[r.high];
  if (lowV > highV) return false;
  for (int64_t i = r.low; i <= r.high; ++i)
    if (table[i] != std::min<int64_t>(std::max<int64_t>(i, lowV), highV)) return false;
  *lowOut = lowV;
  *highOut = highV;
  return true;
}

}  // namespace

Clamps CheckClamps(const Kernels& k) {
  Clamps c;
  const Reach y = Of(k.yToRGB);
  const Reach b = Indices(y + Of(k.cbToB)), g = Indices(y + Of(k.cbToG) + Of(k.crToG)), r = Indices(y + Of(k.crToR));
  const Reach all = {std::min({b.low, g.low, r.low}), std::max({b.high, g.high, r.high})};
  int low, high;
  c.decode = IsClamp(k.sat, all, &low, &high) && low == std::max<int64_t>(0, std::min<int64_t>(all.low, 255)) &&
             high == std::min<int64_t>(255, std::max<int64_t>(all.high, 0));
  const LONG* t = k.t;
  const Reach ly = Indices(Of(t) + Of(t + 256) + Of(t + 512));
  const Reach cb = Indices(Of(t + 768) + Of(t + 1024) + Of(t + 1280));
  const Reach cr = Indices(Of(t + 1536) + Of(t + 1792) + Of(t + 2048));
  const Reach lc = {std::min(cb.low, cr.low), std::max(cb.high, cr.high)};
  c.encode = IsClamp(k.limitY, ly, &c.yLow, &c.yHigh) && IsClamp(k.limitC, lc, &c.cLow, &c.cHigh);
  return c;
}

void PrepareFast(const Kernels& k, FastTables* f) {
  f->clamps = CheckClamps(k);
  for (int v = 0; v < 256; ++v) {
    f->cb[2 * v] = k.cbToB[v];
    f->cb[2 * v + 1] = k.cbToG[v];
    f->cr[2 * v] = k.crToR[v];
    f->cr[2 * v + 1] = k.crToG[v];
    f->r[2 * v] = k.t[v];
    f->r[2 * v + 1] = k.t[768 + v];
    f->g[2 * v] = k.t[256 + v];
    f->g[2 * v + 1] = k.t[1024 + v];
    f->b[2 * v] = k.t[512 + v];
    f->b[2 * v + 1] = k.t[1280 + v];
  }
}

}  // namespace tarnel
