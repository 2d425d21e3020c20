#include "rows_planar.h"

#include <cstring>

#include "rows_avx2.h"

namespace tarnel {

void PlanesToBgrRow_C(const Kernels& k, ConstPlaneRow src, BYTE* dst, int bpp, int pairs) {
  for (int i = 0; i < pairs; ++i) {
    const BYTE cb = src.cb[i], cr = src.cr[i];
    for (int half = 0; half < 2; ++half) {
      const int x = 2 * i + half;
      k.Decode(src.y[x], cb, cr, dst);
      if (bpp == 4) dst[3] = src.a ? src.a[x] : 255;
      dst += bpp;
    }
  }
}

namespace {
// One host pixel's colours and alpha, premultiplied when asked.
inline BYTE AlphaOf(const BYTE* p, int bpp, AlphaUse use) { return bpp == 4 && use.fromPixel ? p[3] : 255; }
inline void Colours(const BYTE* p, BYTE a, bool premultiply, BYTE* bgr) {
  for (int c = 0; c < 3; ++c) bgr[c] = premultiply ? Premultiply(p[c], a) : p[c];
}
}  // namespace

void BgrToPlanesRow_C(const Kernels& k, const BYTE* src, int bpp, AlphaUse alpha, PlaneRow dst, int pairs) {
  for (int i = 0; i < pairs; ++i) {
    const BYTE* p0 = src + 2 * i * bpp;
    const BYTE* p1 = p0 + bpp;
    const BYTE a0 = AlphaOf(p0, bpp, alpha), a1 = AlphaOf(p1, bpp, alpha);
    BYTE c0[3], c1[3];
    Colours(p0, a0, alpha.premultiply, c0);
    Colours(p1, a1, alpha.premultiply, c1);
    k.EncodePair(c0, c1, &dst.y[2 * i], &dst.y[2 * i + 1], &dst.cb[i], &dst.cr[i]);
    if (dst.a) {
      dst.a[2 * i] = a0;
      dst.a[2 * i + 1] = a1;
    }
  }
}

void YuvToPlanesRow_C(const Kernels& k, const BYTE* src, int bpp, AlphaUse alpha, PlaneRow dst, int pairs) {
  for (int i = 0; i < pairs; ++i) {
    BYTE px[2][3], a[2];
    for (int half = 0; half < 2; ++half) {
      const BYTE* p = src + (2 * i + half) * bpp;
      a[half] = AlphaOf(p, bpp, alpha);
      std::memcpy(px[half], p, 3);
      if (alpha.premultiply) PremultiplyYuv(px[half], a[half]);
    }
    dst.y[2 * i] = px[0][0];
    dst.y[2 * i + 1] = px[1][0];
    dst.cb[i] = k.limitC[ChromaMeanUp(px[0][1], px[1][1])];
    dst.cr[i] = k.limitC[ChromaMeanUp(px[0][2], px[1][2])];
    if (dst.a) {
      dst.a[2 * i] = a[0];
      dst.a[2 * i + 1] = a[1];
    }
  }
}

void PlanesToYuvRow_C(ConstPlaneRow src, BYTE* dst, int bpp, int pairs) {
  for (int i = 0; i < pairs; ++i) {
    for (int half = 0; half < 2; ++half) {
      const int x = 2 * i + half;
      dst[0] = src.y[x];
      dst[1] = half ? 0 : src.cb[i];
      dst[2] = half ? 0 : src.cr[i];
      if (bpp == 4) dst[3] = src.a ? src.a[x] : 255;
      dst += bpp;
    }
  }
}

bool Avx2RowsAvailable() {
#ifdef TARNEL_AVX2
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return avx2;
#else
  return false;
#endif
}

#ifdef TARNEL_AVX2
namespace {
using namespace avx2;

// Eight pixels (four pairs) per step; one 64-bit lookup per pair and plane
// fetches both chroma contributions of the sample.
AVX2 void PlanesToBgr32Row_AVX2(const Kernels& k, const FastTables& f, ConstPlaneRow src, BYTE* dst, int pairs) {
  const __m256i opaque = _mm256_set1_epi32(255);
  const __m256i first = _mm256_setr_epi32(0, 0, 2, 2, 4, 4, 6, 6), second = _mm256_setr_epi32(1, 1, 3, 3, 5, 5, 7, 7);
  int i = 0;
  for (; i + 4 <= pairs; i += 4) {
    const __m256i cb = GatherPairs(f.cb, Widen4(src.cb + i));  // cbToB, cbToG of each pair
    const __m256i cr = GatherPairs(f.cr, Widen4(src.cr + i));  // crToR, crToG
    const __m256i toG =
        _mm256_add_epi32(_mm256_permutevar8x32_epi32(cb, second), _mm256_permutevar8x32_epi32(cr, second));
    const __m256i a = src.a ? Widen8(src.a + 2 * i) : opaque;
    StoreBgr32(k, Widen8(src.y + 2 * i), _mm256_permutevar8x32_epi32(cb, first), toG,
               _mm256_permutevar8x32_epi32(cr, first), a, dst + 8 * i);
  }
  const ConstPlaneRow rest = {src.y + 2 * i, src.cb + i, src.cr + i, src.a ? src.a + 2 * i : nullptr};
  PlanesToBgrRow_C(k, rest, dst + 8 * i, 4, pairs - i);
}

AVX2 void Bgr32ToPlanesRow_AVX2(const Kernels& k, const FastTables& f, const BYTE* src, AlphaUse alpha, PlaneRow dst,
                                int pairs) {
  const Clamps& c = f.clamps;
  const __m256i byte = _mm256_set1_epi32(0xFF), opaque = _mm256_set1_epi32(255);
  int i = 0;
  for (; i + 4 <= pairs; i += 4) {
    const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 8 * i));
    __m256i b = _mm256_and_si256(px, byte);
    __m256i g = _mm256_and_si256(_mm256_srli_epi32(px, 8), byte);
    __m256i r = _mm256_and_si256(_mm256_srli_epi32(px, 16), byte);
    const __m256i a = alpha.fromPixel ? _mm256_srli_epi32(px, 24) : opaque;
    if (alpha.premultiply) {
      b = Premultiplied(b, a);
      g = Premultiplied(g, a);
      r = Premultiplied(r, a);
    }
    __m256i sy, scb, scr;
    EncodeSums(k, f, b, g, r, &sy, &scb, &scr);
    const __m256i y = Clamp(_mm256_srai_epi32(sy, 16), c.yLow, c.yHigh);
    // Adjacent lanes summed: [cb01 cb23 cr01 cr23 | cb45 cb67 cr45 cr67], then cb first.
    __m256i ch = Clamp(_mm256_srai_epi32(_mm256_hadd_epi32(scb, scr), 17), c.cLow, c.cHigh);
    ch = _mm256_permutevar8x32_epi32(ch, _mm256_setr_epi32(0, 1, 4, 5, 2, 3, 6, 7));
    Store8(dst.y + 2 * i, y);
    const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(ch, ch), _mm256_packs_epi32(ch, ch));
    const uint32_t cb = uint32_t(_mm_cvtsi128_si32(_mm256_castsi256_si128(bytes)));
    const uint32_t cr = uint32_t(_mm_cvtsi128_si32(_mm256_extracti128_si256(bytes, 1)));
    std::memcpy(dst.cb + i, &cb, 4);
    std::memcpy(dst.cr + i, &cr, 4);
    if (dst.a) Store8(dst.a + 2 * i, a);
  }
  const PlaneRow rest = {dst.y + 2 * i, dst.cb + i, dst.cr + i, dst.a ? dst.a + 2 * i : nullptr};
  BgrToPlanesRow_C(k, src + 8 * i, 4, alpha, rest, pairs - i);
}

}  // namespace
#endif

void PlanesToBgrRow(const Kernels& k, const FastTables& f, ConstPlaneRow src, BYTE* dst, int bpp, int pairs) {
#ifdef TARNEL_AVX2
  if (bpp == 4 && f.clamps.decode && Avx2RowsAvailable()) return PlanesToBgr32Row_AVX2(k, f, src, dst, pairs);
#endif
  (void)f;
  PlanesToBgrRow_C(k, src, dst, bpp, pairs);
}

void BgrToPlanesRow(const Kernels& k, const FastTables& f, const BYTE* src, int bpp, AlphaUse alpha, PlaneRow dst,
                    int pairs) {
#ifdef TARNEL_AVX2
  if (bpp == 4 && f.clamps.encode && Avx2RowsAvailable()) return Bgr32ToPlanesRow_AVX2(k, f, src, alpha, dst, pairs);
#endif
  (void)f;
  BgrToPlanesRow_C(k, src, bpp, alpha, dst, pairs);
}

}  // namespace tarnel
