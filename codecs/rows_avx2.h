// What the AVX2 rows share (x86 builds only): gathers from the converter's
// 16.16 tables, clamps in registers, byte packing. Functions carry the target
// attribute, so the rest of a file stays at the build's baseline and the rows
// run only where Avx2RowsAvailable() says so.
#pragma once

#include <cstring>

#include "clamps.h"
#include "kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TARNEL_AVX2 1

namespace tarnel {
namespace avx2 {

#define AVX2 __attribute__((target("avx2")))

AVX2 inline __m256i Gather(const LONG* table, __m256i index) {
  return _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), index, 4);
}
AVX2 inline __m128i Gather4(const LONG* table, __m128i index) {
  return _mm_i32gather_epi32(reinterpret_cast<const int*>(table), index, 4);
}
AVX2 inline __m256i Clamp(__m256i v, int low, int high) {
  return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_set1_epi32(low)), _mm256_set1_epi32(high));
}
// Four paired entries (two 32-bit values each) for four lanes of indices.
AVX2 inline __m256i GatherPairs(const int32_t* pairs, __m128i index) {
  return _mm256_i32gather_epi64(reinterpret_cast<const long long*>(pairs), index, 8);
}
// The paired entries of eight indices, split: the first values and the second.
AVX2 inline void GatherSplit(const int32_t* pairs, __m256i index, __m256i* first, __m256i* second) {
  const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const __m256i lo = _mm256_permutevar8x32_epi32(GatherPairs(pairs, _mm256_castsi256_si128(index)), split);
  const __m256i hi = _mm256_permutevar8x32_epi32(GatherPairs(pairs, _mm256_extracti128_si256(index, 1)), split);
  *first = _mm256_permute2x128_si256(lo, hi, 0x20);
  *second = _mm256_permute2x128_si256(lo, hi, 0x31);
}
// The 16.16 sums of the one-pixel encode for eight pixels of B, G, R lanes:
// three paired lookups and three plain ones.
AVX2 inline void EncodeSums(const Kernels& k, const FastTables& f, __m256i b, __m256i g, __m256i r, __m256i* sy,
                            __m256i* scb, __m256i* scr) {
  __m256i t0, t1, t2, t3, t4, t5;
  GatherSplit(f.r, r, &t0, &t3);
  GatherSplit(f.g, g, &t1, &t4);
  GatherSplit(f.b, b, &t2, &t5);
  *sy = _mm256_add_epi32(_mm256_add_epi32(t0, t1), t2);
  *scb = _mm256_add_epi32(_mm256_add_epi32(t3, t4), t5);
  *scr = _mm256_add_epi32(_mm256_add_epi32(Gather(k.t + 1536, r), Gather(k.t + 1792, g)), Gather(k.t + 2048, b));
}
// Eight pixels of B, G, R, A from their luma samples and chroma contributions.
AVX2 inline void StoreBgr32(const Kernels& k, __m256i y, __m256i toB, __m256i toG, __m256i toR, __m256i a, BYTE* dst) {
  const __m256i l = Gather(k.yToRGB, y);
  // (l + cbToG + crToG) in the kernel's order: the same sum in 32-bit lanes.
  const __m256i b = Clamp(_mm256_srai_epi32(_mm256_add_epi32(l, toB), 16), 0, 255);
  const __m256i g = Clamp(_mm256_srai_epi32(_mm256_add_epi32(l, toG), 16), 0, 255);
  const __m256i r = Clamp(_mm256_srai_epi32(_mm256_add_epi32(l, toR), 16), 0, 255);
  const __m256i px = _mm256_or_si256(_mm256_or_si256(b, _mm256_slli_epi32(g, 8)),
                                     _mm256_or_si256(_mm256_slli_epi32(r, 16), _mm256_slli_epi32(a, 24)));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), px);
}

// Eight bytes widened to eight 32-bit lanes.
AVX2 inline __m256i Widen8(const BYTE* p) {
  return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}
AVX2 inline __m128i Widen4(const BYTE* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtepu8_epi32(_mm_cvtsi32_si128(int(v)));
}
// Four lanes spread over eight, each twice: the chroma of four pairs.
AVX2 inline __m256i Twice(__m128i v) {
  return _mm256_permutevar8x32_epi32(_mm256_castsi128_si256(v), _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
}
// Eight lanes of 0..255 as eight bytes.
AVX2 inline void Store8(BYTE* p, __m256i v) {
  const __m256i b = _mm256_packus_epi16(_mm256_packs_epi32(v, v), _mm256_packs_epi32(v, v));
  const uint32_t lo = uint32_t(_mm_cvtsi128_si32(_mm256_castsi256_si128(b)));
  const uint32_t hi = uint32_t(_mm_cvtsi128_si32(_mm256_extracti128_si256(b, 1)));
  std::memcpy(p, &lo, 4);
  std::memcpy(p + 4, &hi, 4);
}

// c * a / 255 rounded, on lanes of 0..255 (c * a fits the low 16 bits).
AVX2 inline __m256i Premultiplied(__m256i c, __m256i a) {
  const __m256i t = _mm256_add_epi32(_mm256_mullo_epi16(c, a), _mm256_set1_epi32(128));
  return _mm256_srli_epi32(_mm256_add_epi32(t, _mm256_srli_epi32(t, 8)), 8);
}

}  // namespace avx2
}  // namespace tarnel
#endif
