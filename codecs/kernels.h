// The pixel arithmetic every codec shares: one YUV sample set to B, G, R, one
// pixel and one 4:2:2 pair of B, G, R to Y, Cb, Cr, alpha premultiplication
// and the 4:4:4 chroma mean. Integer table lookups, additions and shifts only,
// on the tables of the codec object's own converter (read once per call into a
// Kernels value). Row kernels (rows.h) and the frame walkers of each layout
// are built on these; a fast row is checked against the plain row built from
// them.
#pragma once

#include <cstdint>

#include "tarnel.h"

namespace tarnel {

// The processing flags of Decompress and Compress; a null flag word is all clear.
constexpr DWORD kFlagPremultiply = 0x8;     // encoders: premultiply a 32-bit input by its alpha
constexpr DWORD kFlagHalf = 0x80 | 0x200;   // packed decoding to RGB: half width and height
constexpr DWORD kFlagFullRange = 0x100;     // Compress: ColorLimit(0) rather than ColorLimit(1)
inline DWORD FlagsOf(const DWORD* flags) { return flags ? *flags : 0; }

// Every Compress limits its results first; the setting stays for later calls.
inline void LimitFor(zelk::CQZCsc& csc, const DWORD* flags) { csc.ColorLimit(FlagsOf(flags) & kFlagFullRange ? 0 : 1); }

// The converter's tables, as the kernels read them.
struct Kernels {
  const BYTE* sat;
  const BYTE* limitY;
  const BYTE* limitC;
  const LONG* yToRGB;
  const LONG* cbToB;
  const LONG* cbToG;
  const LONG* crToG;
  const LONG* crToR;
  const LONG* t;  // T0..T8, 256 entries each

  explicit Kernels(const zelk::CQZCsc& c)
      : sat(c.pSat), limitY(c.pLimitY), limitC(c.pLimitC), yToRGB(c.pYToRGB), cbToB(c.pCbToB),
        cbToG(c.pCbToG), crToG(c.pCrToG), crToR(c.pCrToR), t(c.pRGBToYUV) {}

  // One pixel: writes B, G, R at bgr[0..2].
  void Decode(BYTE y, BYTE cb, BYTE cr, BYTE* bgr) const {
    const int32_t l = yToRGB[y];
    bgr[0] = sat[(l + cbToB[cb]) >> 16];
    bgr[1] = sat[(l + cbToG[cb] + crToG[cr]) >> 16];
    bgr[2] = sat[(l + crToR[cr]) >> 16];
  }

  // The three 16.16 sums of one pixel's encoding, before the shift.
  int32_t SumY(BYTE b, BYTE g, BYTE r) const { return t[r] + t[256 + g] + t[512 + b]; }
  int32_t SumCb(BYTE b, BYTE g, BYTE r) const { return t[768 + r] + t[1024 + g] + t[1280 + b]; }
  int32_t SumCr(BYTE b, BYTE g, BYTE r) const { return t[1536 + r] + t[1792 + g] + t[2048 + b]; }

  BYTE Luma(BYTE b, BYTE g, BYTE r) const { return limitY[SumY(b, g, r) >> 16]; }

  // One pixel: Y, Cb, Cr.
  void Encode(BYTE b, BYTE g, BYTE r, BYTE* y, BYTE* cb, BYTE* cr) const {
    *y = Luma(b, g, r);
    *cb = limitC[SumCb(b, g, r) >> 16];
    *cr = limitC[SumCr(b, g, r) >> 16];
  }

  // A 4:2:2 pair from pixels p0 = (b0, g0, r0) and p1: both lumas, and the
  // chroma as the mean of the two sums (shift by 17, no rounding term).
  void EncodePair(const BYTE* p0, const BYTE* p1, BYTE* y0, BYTE* y1, BYTE* cb, BYTE* cr) const {
    *y0 = Luma(p0[0], p0[1], p0[2]);
    *y1 = Luma(p1[0], p1[1], p1[2]);
    *cb = limitC[(SumCb(p0[0], p0[1], p0[2]) + SumCb(p1[0], p1[1], p1[2])) >> 17];
    *cr = limitC[(SumCr(p0[0], p0[1], p0[2]) + SumCr(p1[0], p1[1], p1[2])) >> 17];
  }
};

// c * a / 255, rounded: exact for every byte pair.
inline BYTE Premultiply(BYTE c, BYTE a) {
  const int32_t t = int32_t(c) * a + 128;
  return BYTE((t + (t >> 8)) >> 8);
}
// The same on a signed difference from `zero` (16 for luma, 128 for chroma).
inline BYTE PremultiplyAround(BYTE v, BYTE a, int32_t zero) {
  const int32_t t = (int32_t(v) - zero) * a + 128;
  return BYTE(((t + (t >> 8)) >> 8) + zero);
}
// Y, Cb, Cr of one 4:4:4 pixel premultiplied by its alpha.
inline void PremultiplyYuv(BYTE* yuv, BYTE a) {
  yuv[0] = PremultiplyAround(yuv[0], a, 16);
  yuv[1] = PremultiplyAround(yuv[1], a, 128);
  yuv[2] = PremultiplyAround(yuv[2], a, 128);
}

// The mean of two chroma samples rounded down (the packed encoder's 4:4:4 input).
inline BYTE ChromaMean(BYTE a, BYTE b) { return BYTE((((int32_t(a) - 128) + (int32_t(b) - 128)) >> 1) + 128); }
// Rounded half up, before the planar encoder's limiting table.
inline int32_t ChromaMeanUp(BYTE a, BYTE b) { return (((int32_t(a) - 128) + (int32_t(b) - 128) + 1) >> 1) + 128; }

}  // namespace tarnel
