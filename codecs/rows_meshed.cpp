#include "rows_meshed.h"

#include "rows_avx2.h"

namespace tarnel {
namespace {

// Where Y, Cb, Cr and alpha lie in a meshed pixel.
struct Offsets {
  int y, cb, cr, a;
};
Offsets OffsetsOf(MeshedOrder o) {
  if (!o.reversed) return {0, 1, 2, 3};
  const int lead = o.bpp == 4 ? 1 : 0;  // alpha first in a 32-bit pixel
  return {lead + 2, lead + 1, lead, 0};
}

}  // namespace

void MeshedToBgrRow_C(const Kernels& k, const BYTE* src, MeshedOrder order, BYTE* dst, int dstBpp, int pixels) {
  const Offsets o = OffsetsOf(order);
  for (int i = 0; i < pixels; ++i, src += order.bpp, dst += dstBpp) {
    k.Decode(src[o.y], src[o.cb], src[o.cr], dst);
    if (dstBpp == 4) dst[3] = order.bpp == 4 ? src[o.a] : 255;
  }
}

void BgrToMeshedRow_C(const Kernels& k, const BYTE* src, int srcBpp, AlphaUse alpha, BYTE* dst, MeshedOrder order,
                      int pixels) {
  const Offsets o = OffsetsOf(order);
  for (int i = 0; i < pixels; ++i, src += srcBpp, dst += order.bpp) {
    const BYTE a = srcBpp == 4 && alpha.fromPixel ? src[3] : 255;
    BYTE bgr[3];
    for (int c = 0; c < 3; ++c) bgr[c] = alpha.premultiply ? Premultiply(src[c], a) : src[c];
    k.Encode(bgr[0], bgr[1], bgr[2], &dst[o.y], &dst[o.cb], &dst[o.cr]);
    if (order.bpp == 4) dst[o.a] = a;
  }
}

#ifdef TARNEL_AVX2
namespace {
using namespace avx2;

// Eight 32-bit meshed pixels to eight B, G, R, A pixels per step.
AVX2 void Meshed32ToBgr32Row_AVX2(const Kernels& k, const FastTables& f, const BYTE* src, bool reversed, BYTE* dst,
                                  int pixels) {
  const __m256i byte = _mm256_set1_epi32(0xFF);
  const __m128i ys = _mm_cvtsi32_si128(reversed ? 24 : 0), cbs = _mm_cvtsi32_si128(reversed ? 16 : 8),
                crs = _mm_cvtsi32_si128(reversed ? 8 : 16), as = _mm_cvtsi32_si128(reversed ? 0 : 24);
  int i = 0;
  for (; i + 8 <= pixels; i += 8) {
    const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
    const __m256i y = _mm256_and_si256(_mm256_srl_epi32(px, ys), byte);
    const __m256i cb = _mm256_and_si256(_mm256_srl_epi32(px, cbs), byte);
    const __m256i cr = _mm256_and_si256(_mm256_srl_epi32(px, crs), byte);
    const __m256i a = _mm256_and_si256(_mm256_srl_epi32(px, as), byte);
    __m256i toB, cbG, toR, crG;
    GatherSplit(f.cb, cb, &toB, &cbG);
    GatherSplit(f.cr, cr, &toR, &crG);
    StoreBgr32(k, y, toB, _mm256_add_epi32(cbG, crG), toR, a, dst + 4 * i);
  }
  MeshedToBgrRow_C(k, src + 4 * i, {4, reversed}, dst + 4 * i, 4, pixels - i);
}

// Eight B, G, R, A pixels to eight 32-bit meshed pixels per step.
AVX2 void Bgr32ToMeshed32Row_AVX2(const Kernels& k, const FastTables& f, const BYTE* src, AlphaUse alpha, BYTE* dst,
                                  bool reversed, int pixels) {
  const Clamps& c = f.clamps;
  const __m256i byte = _mm256_set1_epi32(0xFF), opaque = _mm256_set1_epi32(255);
  const __m128i ys = _mm_cvtsi32_si128(reversed ? 24 : 0), cbs = _mm_cvtsi32_si128(reversed ? 16 : 8),
                crs = _mm_cvtsi32_si128(reversed ? 8 : 16), as = _mm_cvtsi32_si128(reversed ? 0 : 24);
  int i = 0;
  for (; i + 8 <= pixels; i += 8) {
    const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 4 * i));
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
    const __m256i cb = Clamp(_mm256_srai_epi32(scb, 16), c.cLow, c.cHigh);
    const __m256i cr = Clamp(_mm256_srai_epi32(scr, 16), c.cLow, c.cHigh);
    const __m256i out = _mm256_or_si256(_mm256_or_si256(_mm256_sll_epi32(y, ys), _mm256_sll_epi32(cb, cbs)),
                                        _mm256_or_si256(_mm256_sll_epi32(cr, crs), _mm256_sll_epi32(a, as)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 4 * i), out);
  }
  BgrToMeshedRow_C(k, src + 4 * i, 4, alpha, dst + 4 * i, {4, reversed}, pixels - i);
}

}  // namespace
#endif

void MeshedToBgrRow(const Kernels& k, const FastTables& f, const BYTE* src, MeshedOrder order, BYTE* dst, int dstBpp,
                    int pixels) {
#ifdef TARNEL_AVX2
  if (order.bpp == 4 && dstBpp == 4 && f.clamps.decode && Avx2RowsAvailable())
    return Meshed32ToBgr32Row_AVX2(k, f, src, order.reversed, dst, pixels);
#endif
  (void)f;
  MeshedToBgrRow_C(k, src, order, dst, dstBpp, pixels);
}

void BgrToMeshedRow(const Kernels& k, const FastTables& f, const BYTE* src, int srcBpp, AlphaUse alpha, BYTE* dst,
                    MeshedOrder order, int pixels) {
#ifdef TARNEL_AVX2
  if (srcBpp == 4 && order.bpp == 4 && f.clamps.encode && Avx2RowsAvailable())
    return Bgr32ToMeshed32Row_AVX2(k, f, src, alpha, dst, order.reversed, pixels);
#endif
  (void)f;
  BgrToMeshedRow_C(k, src, srcBpp, alpha, dst, order, pixels);
}

}  // namespace tarnel
