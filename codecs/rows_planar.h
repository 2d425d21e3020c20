// Row kernels of the planar layout: one picture row between the Y, Cb, Cr
// (and alpha) planes of a field and an interleaved B, G, R [, A] or 4:4:4
// Y, Cb, Cr [, A] row. Each converts `pairs` pixel pairs and touches nothing
// beyond them. The *_C rows are the plain reference; the rows without the
// suffix take a fast path when the processor and the tables allow it and give
// the same bytes.
#pragma once

#include "clamps.h"
#include "kernels.h"

namespace tarnel {

// The planes of one row; `a` is null when the frame has no alpha plane.
struct PlaneRow {
  BYTE* y;
  BYTE* cb;
  BYTE* cr;
  BYTE* a;
};
struct ConstPlaneRow {
  const BYTE* y;
  const BYTE* cb;
  const BYTE* cr;
  const BYTE* a;
};

// Planes to B, G, R (bpp 3) or B, G, R, A (bpp 4; A from the alpha plane,
// else 255).
void PlanesToBgrRow_C(const Kernels& k, ConstPlaneRow src, BYTE* dst, int bpp, int pairs);
void PlanesToBgrRow(const Kernels& k, const FastTables& f, ConstPlaneRow src, BYTE* dst, int bpp, int pairs);

// How an encoder reads a host pixel's alpha: from its fourth byte (a 32-bit
// row whose alpha is valid), else 255; premultiplying the colours by it or not.
struct AlphaUse {
  bool fromPixel;
  bool premultiply;
};

// B, G, R [, A] pixels of `bpp` bytes to the planes: each pair through the
// pair encode; the alpha into the alpha plane when there is one.
void BgrToPlanesRow_C(const Kernels& k, const BYTE* src, int bpp, AlphaUse alpha, PlaneRow dst, int pairs);
void BgrToPlanesRow(const Kernels& k, const FastTables& f, const BYTE* src, int bpp, AlphaUse alpha, PlaneRow dst,
                    int pairs);

// 4:4:4 Y, Cb, Cr [, A] pixels to the planes: luma as it is, chroma the mean
// of the pair rounded half up through the chroma limiting; premultiplied by
// the YUV rule when asked.
void YuvToPlanesRow_C(const Kernels& k, const BYTE* src, int bpp, AlphaUse alpha, PlaneRow dst, int pairs);

// Planes to 4:4:4 pixels of `bpp` bytes: Y0, Cb, Cr [, A0], then Y1, 0, 0
// [, A1]; the right-hand chroma is left for the converter to fill.
void PlanesToYuvRow_C(ConstPlaneRow src, BYTE* dst, int bpp, int pairs);

// Whether this build has fast rows and the processor runs them (AVX2).
bool Avx2RowsAvailable();

}  // namespace tarnel
