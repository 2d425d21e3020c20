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

}  // namespace tarnel
