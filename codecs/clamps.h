// Whether the converter's byte tables act as plain clamps on every index the
// kernels can reach with its 16.16 tables. A fast row that clamps in
// registers instead of looking the result up is exact only then; the walkers
// ask before each frame (ColorLimit may have changed the limiting tables) and
// use the plain rows otherwise.
#pragma once

#include "kernels.h"

namespace tarnel {

struct Clamps {
  bool decode = false;  // sat is clamp(v, 0, 255) over the decode sums' reach
  bool encode = false;  // limitY and limitC are clamps over the encode sums' reach, to these bounds:
  int yLow = 0, yHigh = 255, cLow = 0, cHigh = 255;
};

// Reads only the table entries the kernels themselves could read.
Clamps CheckClamps(const Kernels& k);

// What a fast row needs of the converter, prepared once per frame: the clamps,
// and the 16.16 tables paired so that one 64-bit lookup fetches both values
// that one sample indexes (copies of the object's own entries, so the sums
// are the kernels' sums).
struct FastTables {
  Clamps clamps;
  int32_t cb[512];                 // cbToB, cbToG
  int32_t cr[512];                 // crToR, crToG
  int32_t r[512], g[512], b[512];  // (T0, T3), (T1, T4), (T2, T5)
};
void PrepareFast(const Kernels& k, FastTables* f);

}  // namespace tarnel
