// The 4:2:2 row kernels: plain rows on the kernels of kernels.h, and SSE2 rows
// for decoding to and encoding from 32-bit BGR. The fast rows add the same
// 16.16 table entries as the plain rows, three sums at once from tables laid
// out side by side, and replace only the byte tables: by packing with
// saturation where pSat is a clamp to 0..255, by a minimum and a maximum where
// pLimitY and pLimitC are clamps. FastRowsFor proves that for every index the
// sums can reach before a fast row is used.
#include "rows422.h"

#include <algorithm>

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>
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
  static const bool sse2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2") != 0;
  }();
  return sse2;
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
  int cLow = 0, cHigh = 0, crLow = 0, crHigh = 0, filterLow = 0, filterHigh = 0;
  fast.encode = FitsInt32(ys) && FitsInt32({2 * cbs.lo, 2 * cbs.hi}) && FitsInt32({2 * crs.lo, 2 * crs.hi}) &&
                ClampsOver(k.limitY, ys.lo >> 16, ys.hi >> 16, &low, &high) &&
                ClampsOver(k.limitC, cbs.lo >> 16, cbs.hi >> 16, &cLow, &cHigh) &&
                ClampsOver(k.limitC, crs.lo >> 16, crs.hi >> 16, &crLow, &crHigh) && cLow == crLow &&
                cHigh == crHigh;
  fast.filter = ClampsOver(k.limitC, 0, 255, &filterLow, &filterHigh);
  if (fast.filter) {
    fast.fLow = filterLow;
    fast.fHigh = filterHigh;
  }
  if (fast.encode) {
    fast.yLow = low;
    fast.yHigh = high;
    fast.cLow = cLow;
    fast.cHigh = cHigh;
  }
  for (int i = 0; i < 256; ++i) {
    if (fast.decode) {
      const int32_t fromCb[4] = {k.cbToB[i], k.cbToG[i], 0, 0}, fromCr[4] = {0, k.crToG[i], k.crToR[i], 0},
                    fromY[4] = {k.yToRGB[i], k.yToRGB[i], k.yToRGB[i], 0};
      std::copy(fromCb, fromCb + 4, fast.fromCb[i]);
      std::copy(fromCr, fromCr + 4, fast.fromCr[i]);
      std::copy(fromY, fromY + 4, fast.fromY[i]);
    }
    if (fast.encode) {
      for (int c = 0; c < 3; ++c) {
        fast.fromR[i][c] = k.t[256 * (3 * c) + i];
        fast.fromG[i][c] = k.t[256 * (3 * c + 1) + i];
        fast.fromB[i][c] = k.t[256 * (3 * c + 2) + i];
      }
      fast.fromR[i][3] = fast.fromG[i][3] = fast.fromB[i][3] = 0;
    }
  }
  return fast;
}

// ---- SSE2 rows ----

#ifdef TARNEL_X86

#define TARNEL_SSE2 __attribute__((target("sse2")))

namespace {

TARNEL_SSE2 inline __m128i Load(const int32_t* entry) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(entry));
}

// One pixel's Y, Cb and Cr sums (and 0) from its B, G, R.
TARNEL_SSE2 inline __m128i Sums(const FastRows& f, const BYTE* px) {
  return _mm_add_epi32(_mm_add_epi32(Load(f.fromR[px[2]]), Load(f.fromG[px[1]])), Load(f.fromB[px[0]]));
}

// Four scratch pixels from pixel `pixel` on.
TARNEL_SSE2 inline __m128i Pixels(const BYTE* scratch, int64_t pixel) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(scratch + 4 * pixel));
}

}  // namespace

TARNEL_SSE2 void Row422ToBgra_Fast(const Kernels& k, const FastRows& f, const BYTE* src, BYTE* dst, int64_t pairs) {
  const __m128i alpha = _mm_set1_epi32(int32_t(0xFF000000u));
  int64_t i = 0;
  for (; i + 2 <= pairs; i += 2, src += 8, dst += 16) {
    // Per pixel B, G, R and 0 as 16.16 sums; the pair's chroma shared.
    const __m128i c0 = _mm_add_epi32(Load(f.fromCb[src[0]]), Load(f.fromCr[src[2]]));
    const __m128i c1 = _mm_add_epi32(Load(f.fromCb[src[4]]), Load(f.fromCr[src[6]]));
    const __m128i p0 = _mm_srai_epi32(_mm_add_epi32(Load(f.fromY[src[1]]), c0), 16);
    const __m128i p1 = _mm_srai_epi32(_mm_add_epi32(Load(f.fromY[src[3]]), c0), 16);
    const __m128i p2 = _mm_srai_epi32(_mm_add_epi32(Load(f.fromY[src[5]]), c1), 16);
    const __m128i p3 = _mm_srai_epi32(_mm_add_epi32(Load(f.fromY[src[7]]), c1), 16);
    const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(p0, p1), _mm_packs_epi32(p2, p3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_or_si128(bytes, alpha));
  }
  Row422ToBgr_Ref(k, src, dst, pairs - i, 4);
}

TARNEL_SSE2 void RowBgraTo422_Fast(const Kernels& k, const FastRows& f, const BYTE* src, BYTE* dst, int64_t pairs) {
  // As 16-bit lanes Cb, Y0, Cr, Y1 of two groups, each within its clamp.
  const __m128i low = _mm_setr_epi16(short(f.cLow), short(f.yLow), short(f.cLow), short(f.yLow), short(f.cLow),
                                     short(f.yLow), short(f.cLow), short(f.yLow));
  const __m128i high = _mm_setr_epi16(short(f.cHigh), short(f.yHigh), short(f.cHigh), short(f.yHigh),
                                      short(f.cHigh), short(f.yHigh), short(f.cHigh), short(f.yHigh));
  int64_t i = 0;
  for (; i + 2 <= pairs; i += 2, src += 16, dst += 8) {
    __m128i group[2];
    for (int g = 0; g < 2; ++g) {
      const __m128i s0 = Sums(f, src + 8 * g), s1 = Sums(f, src + 8 * g + 4);
      const __m128i y = _mm_unpacklo_epi32(_mm_srai_epi32(s0, 16), _mm_srai_epi32(s1, 16));  // Y0, Y1, ...
      const __m128i c = _mm_shuffle_epi32(_mm_srai_epi32(_mm_add_epi32(s0, s1), 17), _MM_SHUFFLE(3, 3, 2, 1));
      group[g] = _mm_unpacklo_epi32(c, y);  // Cb, Y0, Cr, Y1
    }
    const __m128i clamped = _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(group[0], group[1]), low), high);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packus_epi16(clamped, clamped));
  }
  RowBgrTo422_Ref(k, src, dst, pairs - i, 4, false);
}

TARNEL_SSE2 void RowBgraToScratch_Fast(const Kernels& k, const FastRows& f, const BYTE* src, BYTE* scratch,
                                       int64_t pixels) {
  // Y, Cb, Cr, 0 of two pixels as 16-bit lanes, each within its clamp.
  const __m128i low = _mm_setr_epi16(short(f.yLow), short(f.cLow), short(f.cLow), 0, short(f.yLow), short(f.cLow),
                                     short(f.cLow), 0);
  const __m128i high = _mm_setr_epi16(short(f.yHigh), short(f.cHigh), short(f.cHigh), 0, short(f.yHigh),
                                      short(f.cHigh), short(f.cHigh), 0);
  int64_t i = 0;
  for (; i + 4 <= pixels; i += 4, src += 16, scratch += 16) {
    __m128i two[2];
    for (int h = 0; h < 2; ++h) {
      const __m128i s0 = _mm_srai_epi32(Sums(f, src + 8 * h), 16), s1 = _mm_srai_epi32(Sums(f, src + 8 * h + 4), 16);
      two[h] = _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(s0, s1), low), high);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(scratch), _mm_packus_epi16(two[0], two[1]));
  }
  RowBgrToScratch_Ref(k, src, scratch, pixels - i, 4, false);
}

TARNEL_SSE2 void RowFilterTo422_Fast(const Kernels& k, const FastRows& f, const BYTE* s, BYTE* dst, int64_t pairs) {
  if (pairs < 6) return RowFilterTo422_Ref(k.limitC, s, dst, pairs);
  // The first group, then the middle ones four at a time, then the rest.
  RowFilterTo422_Ref(k.limitC, s, dst, 1);
  dst += 4;
  const __m128i zero = _mm_setzero_si128();
  const __m128i low = _mm_set1_epi16(short(f.fLow)), high = _mm_set1_epi16(short(f.fHigh));
  const __m128i chroma = _mm_setr_epi16(-1, 0, -1, 0, 0, 0, 0, 0), left = _mm_setr_epi16(0, -1, 0, 0, 0, 0, 0, 0),
                right = _mm_setr_epi16(0, 0, 0, -1, 0, 0, 0, 0);
  int64_t g = 1;
  // Group g reads pixels 2g - 1 to 2g + 1; four groups read up to pixel 2g + 8,
  // inside the row while g + 3 is a middle group.
  for (; g + 4 <= pairs - 1; g += 4, dst += 16) {
    const int64_t x = 2 * g;
    __m128i group[4];
    for (int h = 0; h < 2; ++h) {  // pixels x + 4h .. x + 4h + 3
      const __m128i l = Pixels(s, x + 4 * h - 1), m = Pixels(s, x + 4 * h), r = Pixels(s, x + 4 * h + 1);
      for (int q = 0; q < 2; ++q) {  // the pixel pair x + 4h + 2q, + 1
        const __m128i lw = q ? _mm_unpackhi_epi8(l, zero) : _mm_unpacklo_epi8(l, zero);
        const __m128i mw = q ? _mm_unpackhi_epi8(m, zero) : _mm_unpacklo_epi8(m, zero);
        const __m128i rw = q ? _mm_unpackhi_epi8(r, zero) : _mm_unpacklo_epi8(r, zero);
        __m128i sum = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(lw, rw), _mm_add_epi16(mw, mw)), 2);
        sum = _mm_min_epi16(_mm_max_epi16(sum, low), high);
        // Cb, Y0, Cr, Y1 from the filtered left pixel and both lumas.
        const __m128i c = _mm_and_si128(_mm_shufflelo_epi16(sum, _MM_SHUFFLE(3, 2, 0, 1)), chroma);
        const __m128i y0 = _mm_and_si128(_mm_shufflelo_epi16(mw, _MM_SHUFFLE(3, 2, 0, 1)), left);
        const __m128i y1 = _mm_and_si128(_mm_srli_si128(mw, 2), right);
        group[2 * h + q] = _mm_or_si128(c, _mm_or_si128(y0, y1));
      }
    }
    const __m128i bytes =
        _mm_packus_epi16(_mm_unpacklo_epi64(group[0], group[1]), _mm_unpacklo_epi64(group[2], group[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), bytes);
  }
  // The remaining middle groups and the last one, as the plain row does them.
  for (; g < pairs; ++g, dst += 4) {
    const int64_t x = 2 * g;
    for (int c = 1; c <= 2; ++c) {
      const BYTE* v = s + 4 * x + c;
      const int sum = g == pairs - 1 ? 3 * v[0] + v[-4] : v[-4] + 2 * v[0] + v[4];
      dst[c == 1 ? 0 : 2] = k.limitC[sum >> 2];
    }
    dst[1] = s[4 * x];
    dst[3] = s[4 * x + 4];
  }
}

#else  // no fast rows: FastRowsFor never allows them

void Row422ToBgra_Fast(const Kernels& k, const FastRows&, const BYTE* src, BYTE* dst, int64_t pairs) {
  Row422ToBgr_Ref(k, src, dst, pairs, 4);
}
void RowBgraTo422_Fast(const Kernels& k, const FastRows&, const BYTE* src, BYTE* dst, int64_t pairs) {
  RowBgrTo422_Ref(k, src, dst, pairs, 4, false);
}
void RowBgraToScratch_Fast(const Kernels& k, const FastRows&, const BYTE* src, BYTE* scratch, int64_t pixels) {
  RowBgrToScratch_Ref(k, src, scratch, pixels, 4, false);
}
void RowFilterTo422_Fast(const Kernels& k, const FastRows&, const BYTE* scratch, BYTE* dst, int64_t pairs) {
  RowFilterTo422_Ref(k.limitC, scratch, dst, pairs);
}

#endif

}  // namespace tarnel
