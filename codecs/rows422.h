// Row kernels of the interleaved 4:2:2 layout shared by the packed and UYVY
// codecs: a row of groups Cb, Y0, Cr, Y1 (two pixels sharing their chroma).
// Each kernel converts whole groups only (`pairs` of them) and touches
// nothing beyond them; `bpp` is 3 or 4 bytes per pixel on the other side.
// The frame walkers (packed_convert.cpp, uyvy_convert.cpp) call these.
//
// Every kernel has a plain reference row (..._Ref). The two rows the codecs
// spend their time in, decoding to 32-bit BGR and encoding from it, also have
// a fast row; a walker asks FastRows once per frame whether the fast rows may
// stand in for the reference on the object's tables (the processor has the
// instructions, and every saturating or limiting table is a plain clamp over
// all the indices its sums can reach). A fast row then gives the reference
// row's bytes exactly.
#pragma once

#include <cstdint>

#include "kernels.h"

namespace tarnel {

// Groups to B, G, R (and 255 when bpp is 4) per pixel, the chroma repeated.
void Row422ToBgr_Ref(const Kernels& k, const BYTE* src, BYTE* dst, int64_t pairs, int bpp);
// Groups to one pixel each: Y0 with the pair's chroma (the half-size preview).
void Row422ToBgrHalf_Ref(const Kernels& k, const BYTE* src, BYTE* dst, int64_t pairs, int bpp);
// Groups to 4:4:4 pixels Y, Cb, Cr (and 255 when bpp is 4); no table.
void Row422To444_Ref(const BYTE* src, BYTE* dst, int64_t pairs, int bpp);
// Pairs of B, G, R [, A] pixels to groups through the pair encode kernel;
// with `premultiply` (bpp 4) each pixel by its own alpha first.
void RowBgrTo422_Ref(const Kernels& k, const BYTE* src, BYTE* dst, int64_t pairs, int bpp, bool premultiply);
// Pairs of 4:4:4 pixels Y, Cb, Cr [, A] to groups: both lumas, the chroma
// means rounded down; with `premultiply` (bpp 4) each pixel's Y, Cb, Cr by
// its alpha first. No table, no limiting.
void Row444To422_Ref(const BYTE* src, BYTE* dst, int64_t pairs, int bpp, bool premultiply);
// Pixels to the UYVY encoder's scratch row of Y, Cb, Cr, 0 (the filter does
// not read the fourth byte):
// from B, G, R [, A] through the one-pixel encode kernel, or from 4:4:4.
void RowBgrToScratch_Ref(const Kernels& k, const BYTE* src, BYTE* scratch, int64_t pixels, int bpp,
                         bool premultiply);
void Row444ToScratch_Ref(const BYTE* src, BYTE* scratch, int64_t pixels, int bpp, bool premultiply);
// A scratch row (4 bytes per pixel, Y, Cb, Cr first) to groups, the chroma
// filtered with the weights 1, 2, 1 around each group's left pixel and 3, 1
// at the two ends, then passed through `limitC`. One group alone takes the
// left end's weights (it has no neighbour on either side); no group, nothing.
void RowFilterTo422_Ref(const BYTE* limitC, const BYTE* scratch, BYTE* dst, int64_t pairs);
// Black groups: 0x80, 0x10, 0x80, 0x10.
void RowBlank422(BYTE* dst, int64_t pairs);

// Whether the fast rows may replace the reference ones for these tables, and
// the object's 16.16 tables laid out for them: for each 8-bit index the
// entries that go into one pixel's three sums side by side, so that one
// vector load fetches them (the same values, only placed differently).
struct FastRows {
  bool decode = false;  // Row422ToBgra_Fast
  bool encode = false;  // RowBgraTo422_Fast, RowBgraToScratch_Fast
  bool filter = false;  // RowFilterTo422_Fast: pLimitC a clamp over 0..255
  int yLow = 0, yHigh = 255, cLow = 0, cHigh = 255;  // the clamps pLimitY and pLimitC stand for
  int fLow = 0, fHigh = 255;                         // and pLimitC over the filter's 0..255
  int32_t fromCb[256][4];  // decoding: pCbToB, pCbToG, 0, 0
  int32_t fromCr[256][4];  // 0, pCrToG, pCrToR, 0
  int32_t fromY[256][4];   // pYToRGB three times, 0
  int32_t fromR[256][4];   // encoding: T0, T3, T6, 0 (the Y, Cb and Cr parts of R)
  int32_t fromG[256][4];   // T1, T4, T7, 0
  int32_t fromB[256][4];   // T2, T5, T8, 0
};
FastRows FastRowsFor(const Kernels& k);
// Whether the processor runs the fast rows at all.
bool FastRowsAvailable();

// 32-bit BGR only, no premultiplication; the rows' bytes equal the reference's.
void Row422ToBgra_Fast(const Kernels& k, const FastRows& fast, const BYTE* src, BYTE* dst, int64_t pairs);
void RowBgraTo422_Fast(const Kernels& k, const FastRows& fast, const BYTE* src, BYTE* dst, int64_t pairs);
void RowBgraToScratch_Fast(const Kernels& k, const FastRows& fast, const BYTE* src, BYTE* scratch, int64_t pixels);
void RowFilterTo422_Fast(const Kernels& k, const FastRows& fast, const BYTE* scratch, BYTE* dst, int64_t pairs);

// What the walkers call: the fast row when `fast` allows it, else the reference.
inline void Row422ToBgr(const Kernels& k, const FastRows& fast, const BYTE* src, BYTE* dst, int64_t pairs, int bpp) {
  if (bpp == 4 && fast.decode) Row422ToBgra_Fast(k, fast, src, dst, pairs);
  else Row422ToBgr_Ref(k, src, dst, pairs, bpp);
}
inline void RowBgrTo422(const Kernels& k, const FastRows& fast, const BYTE* src, BYTE* dst, int64_t pairs, int bpp,
                        bool premultiply) {
  if (bpp == 4 && !premultiply && fast.encode) RowBgraTo422_Fast(k, fast, src, dst, pairs);
  else RowBgrTo422_Ref(k, src, dst, pairs, bpp, premultiply);
}
inline void RowBgrToScratch(const Kernels& k, const FastRows& fast, const BYTE* src, BYTE* scratch, int64_t pixels,
                            int bpp, bool premultiply) {
  if (bpp == 4 && !premultiply && fast.encode) RowBgraToScratch_Fast(k, fast, src, scratch, pixels);
  else RowBgrToScratch_Ref(k, src, scratch, pixels, bpp, premultiply);
}
inline void RowFilterTo422(const Kernels& k, const FastRows& fast, const BYTE* scratch, BYTE* dst, int64_t pairs) {
  if (fast.filter) RowFilterTo422_Fast(k, fast, scratch, dst, pairs);
  else RowFilterTo422_Ref(k.limitC, scratch, dst, pairs);
}

}  // namespace tarnel
