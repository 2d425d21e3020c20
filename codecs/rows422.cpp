// The 4:2:2 row kernels: plain rows on the kernels of kernels.h, and AVX2 rows
// for decoding to and encoding from 32-bit BGR. The fast rows look the 16.16
// tables up with gathers, exactly as the plain rows do, and replace only the
// byte tables: by packing with saturation where pSat is a clamp to 0..255, by
// a minimum and a maximum where pLimitY and pLimitC are clamps. FastRowsFor
// proves that for every index the sums can reach before a fast row is used.
#include "rows422.h"

#include <algorithm>

#if defined(__i386__) || defined(__x86_64__)
#include <immintrin.h>
#define TARNEL_X86 1
#endif

namespace tarnel {

// ---- plain rows ----

void Row422ToBgr_Ref(const Kernels& k, const BYTE* src, BYTE* dst, int64_t pairs, int bpp) {
  for (int64_t i = 0; i < pairs; ++i, src += 4) {
    k.Decode(src[1], src[0], src[2], dst);
    if (bpp == 4) dst[3] = 255;
    dst += bpp;
    k.Decode(src[3], src[0], src[2], dst);
    if (bpp == 4) dst[3] = 255;
    dst += bpp;
  }
}

void Row422ToBgrHalf_Ref(const Kernels& k, const BYTE* src, BYTE* dst, int64_t pairs, int bpp) {
  for (int64_t i = 0; i < pairs; ++i, src += 4, dst += bpp) {
    k.Decode(src[1], src[0], src[2], dst);
    if (bpp == 4) dst[3] = 255;
  }
}

void Row422To444_Ref(const BYTE* src, BYTE* dst, int64_t pairs, int bpp) {
  for (int64_t i = 0; i < pairs; ++i, src += 4) {
    for (int p = 0; p < 2; ++p, dst += bpp) {
      dst[0] = src[1 + 2 * p];
      dst[1] = src[0];
      dst[2] = src[2];
      if (bpp == 4) dst[3] = 255;
    }
  }
}

void RowBgrTo422_Ref(const Kernels& k, const BYTE* src, BYTE* dst, int64_t pairs, int bpp, bool premultiply) {
  premultiply = premultiply && bpp == 4;
  for (int64_t i = 0; i < pairs; ++i, src += 2 * bpp, dst += 4) {
    BYTE p0[3] = {src[0], src[1], src[2]};
    BYTE p1[3] = {src[bpp], src[bpp + 1], src[bpp + 2]};
    if (premultiply) {
      for (int c = 0; c < 3; ++c) {
        p0[c] = Premultiply(p0[c], src[3]);
        p1[c] = Premultiply(p1[c], src[bpp + 3]);
      }
    }
    k.EncodePair(p0, p1, &dst[1], &dst[3], &dst[0], &dst[2]);
  }
}

void Row444To422_Ref(const BYTE* src, BYTE* dst, int64_t pairs, int bpp, bool premultiply) {
  premultiply = premultiply && bpp == 4;
  for (int64_t i = 0; i < pairs; ++i, src += 2 * bpp, dst += 4) {
    BYTE p0[3] = {src[0], src[1], src[2]};
    BYTE p1[3] = {src[bpp], src[bpp + 1], src[bpp + 2]};
    if (premultiply) {
      PremultiplyYuv(p0, src[3]);
      PremultiplyYuv(p1, src[bpp + 3]);
    }
    dst[0] = ChromaMean(p0[1], p1[1]);
    dst[1] = p0[0];
    dst[2] = ChromaMean(p0[2], p1[2]);
    dst[3] = p1[0];
  }
}

void RowBgrToScratch_Ref(const Kernels& k, const BYTE* src, BYTE* scratch, int64_t pixels, int bpp,
                         bool premultiply) {
  premultiply = premultiply && bpp == 4;
  for (int64_t i = 0; i < pixels; ++i, src += bpp, scratch += 4) {
    BYTE p[3] = {src[0], src[1], src[2]};
    if (premultiply)
      for (int c = 0; c < 3; ++c) p[c] = Premultiply(p[c], src[3]);
    k.Encode(p[0], p[1], p[2], &scratch[0], &scratch[1], &scratch[2]);
    scratch[3] = 0;
  }
}

void Row444ToScratch_Ref(const BYTE* src, BYTE* scratch, int64_t pixels, int bpp, bool premultiply) {
  premultiply = premultiply && bpp == 4;
  for (int64_t i = 0; i < pixels; ++i, src += bpp, scratch += 4) {
    scratch[0] = src[0];
    scratch[1] = src[1];
    scratch[2] = src[2];
    scratch[3] = 0;
    if (premultiply) PremultiplyYuv(scratch, src[3]);
  }
}

void RowFilterTo422_Ref(const BYTE* limitC, const BYTE* s, BYTE* dst, int64_t pairs) {
  // Pixel x of the scratch row: Y at s[4x], Cb at s[4x + 1], Cr at s[4x + 2].
  for (int64_t g = 0; g < pairs; ++g, dst += 4) {
    const int64_t x = 2 * g;
    for (int c = 1; c <= 2; ++c) {
      const BYTE* v = s + 4 * x + c;
      int sum;
      if (g == 0) sum = 3 * v[0] + v[4];
      else if (g == pairs - 1) sum = 3 * v[0] + v[-4];
      else sum = v[-4] + 2 * v[0] + v[4];
      dst[c == 1 ? 0 : 2] = limitC[sum >> 2];
    }
    dst[1] = s[4 * x];
    dst[3] = s[4 * x + 4];
  }
}

void RowBlank422(BYTE* dst, int64_t pairs) {
  for (int64_t i = 0; i < pairs; ++i, dst += 4) {
    dst[0] = 0x80;
    dst[1] = 0x10;
    dst[2] = 0x80;
    dst[3] = 0x10;
  }
}

// ---- when the fast rows may stand in ----

namespace {

struct Range {
  int64_t lo, hi;
};
Range RangeOf(const LONG* table) {
  const auto mm = std::minmax_element(table, table + 256);
  return {*mm.first, *mm.second};
}
Range operator+(Range a, Range b) { return {a.lo + b.lo, a.hi + b.hi}; }
bool FitsInt32(Range r) { return r.lo >= INT32_MIN && r.hi <= INT32_MAX; }

// The table clamps every index of [lo, hi] to [*low, *high].
bool ClampsOver(const BYTE* table, int64_t lo, int64_t hi, int* low, int* high) {
  const int a = table[lo], b = table[hi];
  if (a > b) return false;
  for (int64_t i = lo; i <= hi; ++i)
    if (table[i] != std::min<int64_t>(std::max<int64_t>(i, a), b)) return false;
  *low = a;
  *high = b;
  return true;
}

// The sums one pixel's encoding forms from the nine tables, by output.
Range EncodeRange(const LONG* t, int first) {
  return RangeOf(t + 256 * first) + RangeOf(t + 256 * (first + 1)) + RangeOf(t + 256 * (first + 2));
}

}  // namespace

bool FastRowsAvailable() {
#ifdef TARNEL_X86
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return avx2;
#else
  return false;
#endif
}

FastRows FastRowsFor(const Kernels& k) {
  FastRows fast;
  if (!FastRowsAvailable()) return fast;
  int low, high;
  const Range y = RangeOf(k.yToRGB);
  const Range b = y + RangeOf(k.cbToB), g = y + RangeOf(k.cbToG) + RangeOf(k.crToG), r = y + RangeOf(k.crToR);
  fast.decode = FitsInt32(b) && FitsInt32(g) && FitsInt32(r);
  for (const Range& c : {b, g, r})
    fast.decode = fast.decode && ClampsOver(k.sat, c.lo >> 16, c.hi >> 16, &low, &high) && low == 0 && high == 255;

  const Range ys = EncodeRange(k.t, 0), cbs = EncodeRange(k.t, 3), crs = EncodeRange(k.t, 6);
  // A pair's chroma sum spans twice the range; its shift by 17 reaches the
  // same indices as one pixel's shift by 16.
  int cLow = 0, cHigh = 0, crLow = 0, crHigh = 0;
  fast.encode = FitsInt32(ys) && FitsInt32({2 * cbs.lo, 2 * cbs.hi}) && FitsInt32({2 * crs.lo, 2 * crs.hi}) &&
                ClampsOver(k.limitY, ys.lo >> 16, ys.hi >> 16, &low, &high) &&
                ClampsOver(k.limitC, cbs.lo >> 16, cbs.hi >> 16, &cLow, &cHigh) &&
                ClampsOver(k.limitC, crs.lo >> 16, crs.hi >> 16, &crLow, &crHigh) && cLow == crLow &&
                cHigh == crHigh;
  if (fast.encode) {
    fast.yLow = low;
    fast.yHigh = high;
    fast.cLow = cLow;
    fast.cHigh = cHigh;
  }
  return fast;
}

// ---- AVX2 rows ----

#ifdef TARNEL_X86

#define TARNEL_AVX2 __attribute__((target("avx2")))

namespace {

TARNEL_AVX2 inline __m256i Gather8(const LONG* table, __m256i index) {
  return _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), index, 4);
}
TARNEL_AVX2 inline __m128i Gather4(const LONG* table, __m128i index) {
  return _mm_i32gather_epi32(reinterpret_cast<const int*>(table), index, 4);
}

}  // namespace

TARNEL_AVX2 void Row422ToBgra_Fast(const Kernels& k, const BYTE* src, BYTE* dst, int64_t pairs) {
  const __m256i lumaIndex = _mm256_setr_epi8(1, -1, -1, -1, 3, -1, -1, -1, 5, -1, -1, -1, 7, -1, -1, -1,  //
                                             9, -1, -1, -1, 11, -1, -1, -1, 13, -1, -1, -1, 15, -1, -1, -1);
  const __m128i cbIndex = _mm_setr_epi8(0, -1, -1, -1, 4, -1, -1, -1, 8, -1, -1, -1, 12, -1, -1, -1);
  const __m128i crIndex = _mm_setr_epi8(2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1);
  const __m256i repeat = _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3);
  const __m256i alpha = _mm256_set1_epi32(255);
  const __m256i interleave = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15,  //
                                              0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
  int64_t i = 0;
  for (; i + 4 <= pairs; i += 4, src += 16, dst += 32) {
    const __m128i groups = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i cb = _mm_shuffle_epi8(groups, cbIndex), cr = _mm_shuffle_epi8(groups, crIndex);
    const __m256i toB = _mm256_permutevar8x32_epi32(_mm256_castsi128_si256(Gather4(k.cbToB, cb)), repeat);
    const __m256i toR = _mm256_permutevar8x32_epi32(_mm256_castsi128_si256(Gather4(k.crToR, cr)), repeat);
    const __m128i g4 = _mm_add_epi32(Gather4(k.cbToG, cb), Gather4(k.crToG, cr));
    const __m256i toG = _mm256_permutevar8x32_epi32(_mm256_castsi128_si256(g4), repeat);
    const __m256i y = Gather8(k.yToRGB, _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(groups), lumaIndex));
    const __m256i b = _mm256_srai_epi32(_mm256_add_epi32(y, toB), 16);
    const __m256i g = _mm256_srai_epi32(_mm256_add_epi32(y, toG), 16);
    const __m256i r = _mm256_srai_epi32(_mm256_add_epi32(y, toR), 16);
    // Per 128-bit half (four pixels): B x4, G x4, R x4, 255 x4, clamped to 0..255.
    const __m256i planes = _mm256_packus_epi16(_mm256_packs_epi32(b, g), _mm256_packs_epi32(r, alpha));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_shuffle_epi8(planes, interleave));
  }
  Row422ToBgr_Ref(k, src, dst, pairs - i, 4);
}

namespace {

struct Encoded {
  __m256i y, cb, cr;  // the 16.16 sums of eight pixels
};
TARNEL_AVX2 inline Encoded EncodeSums(const LONG* t, const BYTE* src) {
  const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src));
  const __m256i mask = _mm256_set1_epi32(255);
  const __m256i b = _mm256_and_si256(px, mask);
  const __m256i g = _mm256_and_si256(_mm256_srli_epi32(px, 8), mask);
  const __m256i r = _mm256_and_si256(_mm256_srli_epi32(px, 16), mask);
  Encoded e;
  e.y = _mm256_add_epi32(_mm256_add_epi32(Gather8(t, r), Gather8(t + 256, g)), Gather8(t + 512, b));
  e.cb = _mm256_add_epi32(_mm256_add_epi32(Gather8(t + 768, r), Gather8(t + 1024, g)), Gather8(t + 1280, b));
  e.cr = _mm256_add_epi32(_mm256_add_epi32(Gather8(t + 1536, r), Gather8(t + 1792, g)), Gather8(t + 2048, b));
  return e;
}
TARNEL_AVX2 inline __m256i Clamp(__m256i v, int low, int high) {
  return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_set1_epi32(low)), _mm256_set1_epi32(high));
}

}  // namespace

TARNEL_AVX2 void RowBgraTo422_Fast(const Kernels& k, const FastRows& f, const BYTE* src, BYTE* dst, int64_t pairs) {
  // Per 128-bit half: Cb01 Cb23 Cr01 Cr23 Y0 Y1 Y2 Y3 as bytes, to two groups.
  const __m256i order = _mm256_setr_epi8(0, 4, 2, 5, 1, 6, 3, 7, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                         0, 4, 2, 5, 1, 6, 3, 7, -1, -1, -1, -1, -1, -1, -1, -1);
  int64_t i = 0;
  for (; i + 4 <= pairs; i += 4, src += 32, dst += 16) {
    const Encoded e = EncodeSums(k.t, src);
    const __m256i y = Clamp(_mm256_srai_epi32(e.y, 16), f.yLow, f.yHigh);
    const __m256i c = Clamp(_mm256_srai_epi32(_mm256_hadd_epi32(e.cb, e.cr), 17), f.cLow, f.cHigh);
    const __m256i bytes = _mm256_shuffle_epi8(_mm256_packus_epi16(_mm256_packs_epi32(c, y), _mm256_setzero_si256()), order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                     _mm256_castsi256_si128(_mm256_permute4x64_epi64(bytes, 0x08)));
  }
  RowBgrTo422_Ref(k, src, dst, pairs - i, 4, false);
}

TARNEL_AVX2 void RowBgraToScratch_Fast(const Kernels& k, const FastRows& f, const BYTE* src, BYTE* scratch,
                                       int64_t pixels) {
  int64_t i = 0;
  for (; i + 8 <= pixels; i += 8, src += 32, scratch += 32) {
    const Encoded e = EncodeSums(k.t, src);
    const __m256i y = Clamp(_mm256_srai_epi32(e.y, 16), f.yLow, f.yHigh);
    const __m256i cb = Clamp(_mm256_srai_epi32(e.cb, 16), f.cLow, f.cHigh);
    const __m256i cr = Clamp(_mm256_srai_epi32(e.cr, 16), f.cLow, f.cHigh);
    const __m256i yuv = _mm256_or_si256(y, _mm256_or_si256(_mm256_slli_epi32(cb, 8), _mm256_slli_epi32(cr, 16)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(scratch), yuv);
  }
  RowBgrToScratch_Ref(k, src, scratch, pixels - i, 4, false);
}

#else  // no fast rows: FastRowsFor never allows them

void Row422ToBgra_Fast(const Kernels& k, const BYTE* src, BYTE* dst, int64_t pairs) {
  Row422ToBgr_Ref(k, src, dst, pairs, 4);
}
void RowBgraTo422_Fast(const Kernels& k, const FastRows&, const BYTE* src, BYTE* dst, int64_t pairs) {
  RowBgrTo422_Ref(k, src, dst, pairs, 4, false);
}
void RowBgraToScratch_Fast(const Kernels& k, const FastRows&, const BYTE* src, BYTE* scratch, int64_t pixels) {
  RowBgrToScratch_Ref(k, src, scratch, pixels, 4, false);
}

#endif

}  // namespace tarnel
