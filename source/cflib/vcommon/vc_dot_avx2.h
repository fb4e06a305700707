// The dot products under the transmit filters, sixteen taps at a time, for processors with AVX2
// (chosen at start-up: vcHaveAvx2). They give the SSE2 and plain forms' bits: the same products,
// summed with the same 32-bit wrap, in an order that cannot change a wrapping sum.
#pragma once

#include <cstdint>

#include "vc_arith.h"

// True when the processor runs the AVX2 forms (read once at start-up) and they are allowed;
// always false in a build without them (ORVOX_SIMD off, or another processor).
bool vcHaveAvx2();
// Tests turn the AVX2 forms off to run the baseline ones on the same processor.
void vcAllowAvx2(bool allowed);

#if defined(ORVOX_X86_SIMD)
#include <immintrin.h>
#define VC_HAVE_AVX2_KERNELS 1

// 16 zeros then 16 ones: the sixteen from index r keep the last r lanes.
alignas(32) inline constexpr int16_t vcgDotTailMask16[32] = {0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,
                                                             0,  0,  0,  0,  0,  -1, -1, -1, -1, -1, -1,
                                                             -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

__attribute__((target("avx2"))) inline __m256i vcLoad16(const int16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

__attribute__((target("avx2"))) inline uint32_t vcSum8(__m256i acc) {
  __m128i s = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
  s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(s));
}

// vcDot16Plain's sum; the last n % 16 products read as the sixteen that end at n, masked.
__attribute__((target("avx2"))) inline uint32_t vcDot16Avx2(const int16_t* a, const int16_t* b, int n) {
  if (n < 16) return vcDot16(a, b, n);
  __m256i acc = _mm256_setzero_si256();
  int i = 0;
  for (; i + 16 <= n; i += 16) acc = _mm256_add_epi32(acc, _mm256_madd_epi16(vcLoad16(a + i), vcLoad16(b + i)));
  if (i < n) {
    const __m256i keep = vcLoad16(vcgDotTailMask16 + (n & 15));
    acc = _mm256_add_epi32(acc, _mm256_madd_epi16(vcLoad16(a + n - 16), _mm256_and_si256(vcLoad16(b + n - 16), keep)));
  }
  return vcSum8(acc);
}

// vcDot16Pair's two sums over 32 terms.
__attribute__((target("avx2"))) inline void vcDot16Pair32Avx2(const int16_t* a, const int16_t* b0, const int16_t* b1,
                                                              uint32_t* s0, uint32_t* s1) {
  const __m256i x0 = vcLoad16(a), x1 = vcLoad16(a + 16);
  const __m256i p = _mm256_add_epi32(_mm256_madd_epi16(x0, vcLoad16(b0)), _mm256_madd_epi16(x1, vcLoad16(b0 + 16)));
  const __m256i q = _mm256_add_epi32(_mm256_madd_epi16(x0, vcLoad16(b1)), _mm256_madd_epi16(x1, vcLoad16(b1 + 16)));
  *s0 = vcSum8(p);
  *s1 = vcSum8(q);
}

// The dot products as the transmit kernel takes them.
struct VcDotAvx2 {
  __attribute__((target("avx2"))) static uint32_t dot(const int16_t* a, const int16_t* b, int n) {
    return vcDot16Avx2(a, b, n);
  }
  __attribute__((target("avx2"))) static void pair32(const int16_t* a, const int16_t* b0, const int16_t* b1,
                                                     uint32_t* s0, uint32_t* s1) {
    vcDot16Pair32Avx2(a, b0, b1, s0, s1);
  }
};
#endif
