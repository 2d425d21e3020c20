// Row kernels of the meshed layout: interleaved 4:4:4 pixels in either byte
// order and B, G, R [, A] pixels. Each converts `pixels` pixels and touches
// nothing beyond them. The *_C rows are the plain reference; the rows without
// the suffix take a fast path when the processor and the tables allow it and
// give the same bytes.
#pragma once

#include "clamps.h"
#include "kernels.h"
#include "rows_planar.h"  // AlphaUse, Avx2RowsAvailable

namespace tarnel {

// The byte order of a meshed pixel: dwSubsampling 16 is Y, Cb, Cr [, A];
// 128 is [A,] Cr, Cb, Y.
struct MeshedOrder {
  int bpp;        // 3 or 4
  bool reversed;  // the 128 order
};

// Meshed pixels to B, G, R [, A] of dstBpp bytes; A is the pixel's own alpha
// when it has one, else 255.
void MeshedToBgrRow_C(const Kernels& k, const BYTE* src, MeshedOrder order, BYTE* dst, int dstBpp, int pixels);
void MeshedToBgrRow(const Kernels& k, const FastTables& f, const BYTE* src, MeshedOrder order, BYTE* dst, int dstBpp,
                    int pixels);

// B, G, R [, A] pixels of srcBpp bytes through the one-pixel encode to meshed
// pixels; the alpha byte (of a 32-bit meshed pixel) is the pixel's alpha as
// `alpha` reads it, premultiplying the colours first when asked.
void BgrToMeshedRow_C(const Kernels& k, const BYTE* src, int srcBpp, AlphaUse alpha, BYTE* dst, MeshedOrder order,
                      int pixels);
void BgrToMeshedRow(const Kernels& k, const FastTables& f, const BYTE* src, int srcBpp, AlphaUse alpha, BYTE* dst,
                    MeshedOrder order, int pixels);

}  // namespace tarnel
