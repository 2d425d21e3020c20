// What the AVX2 rows share (x86 builds only): gathers from the converter's
// 16.16 tables, clamps in registers, byte packing. Functions carry the target
// attribute, so the rest of a file stays at the build's baseline and the rows
// run only where FastRowsAvailable() says so.
#pragma once

#include <cstring>

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
