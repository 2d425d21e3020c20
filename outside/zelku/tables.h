// The converter's lookup tables: built once per process, read-only, shared by
// every converter object.
#pragma once

#include "zelku.h"

namespace zelk {
namespace detail {

struct ColorTables {
  LONG yToRGB[256], crToR[256], cbToB[256], crToG[256], cbToG[256];
  LONG rgbToYUV[9 * 256];
};

struct Tables {
  int low, high;                    // index range of the byte tables
  const unsigned char* sat;         // clamps to 0..255; also the limiting when it is off
  const unsigned char* limitY;      // clamps to 16..235
  const unsigned char* limitC;      // clamps to 16..240
  const ColorTables* bt601;
  const ColorTables* bt709;
};

// The tables, built on first use (safe from any thread).
const Tables& SharedTables();

}  // namespace detail
}  // namespace zelk
