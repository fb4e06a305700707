// The six-tap zero predictor of a band held in one vector register across a sample loop: the
// sign-sign update and the zero-section output of upzero_step, lane for lane. Without SSE2 the
// same interface runs upzero_step itself on two small arrays.
#pragma once

#include "g722_steps.h"

#if defined(ORVOX_X86_SIMD)
#include <emmintrin.h>
#endif

namespace g722 {

// Saturating sum of the six products in order 1..6; when their magnitudes add up to no more than
// 32767 no partial sum can saturate and the plain sum is the same.
inline Word16 zero_section_sum(const Word16 *p) {
  Word32 sz = 0;
  for (int i = 0; i < 6; ++i) sz = std::clamp<Word32>(sz + p[i], -32768, 32767);
  return static_cast<Word16>(sz);
}

#if defined(ORVOX_X86_SIMD)

// Lanes 0..7: dlt[1..8] (the two spare delays shift along); b[1..6] in lanes 0..5, 6 and 7 zero.
struct ZeroVec {
  __m128i d;
  __m128i b;
};

inline ZeroVec zero_vec_load(const Word16 *dlt, const Word16 *b) {
  const __m128i keep6 = _mm_set_epi16(0, 0, -1, -1, -1, -1, -1, -1);
  return {_mm_loadu_si128(reinterpret_cast<const __m128i *>(dlt + 1)),
          _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(b + 1)), keep6)};
}

// Writes dlt[1..8] and b[1..8] (b[7], b[8] zero, as the scalar update leaves them).
inline void zero_vec_store(const ZeroVec &z, Word16 *dlt, Word16 *b) {
  _mm_storeu_si128(reinterpret_cast<__m128i *>(dlt + 1), z.d);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(b + 1), z.b);
}

// floor(x * k / 32768) per lane from the high and low halves of the 32-bit products; the
// doubling saturates only for -32768 * -32768, whose result the callers cap at 32767 anyway.
inline __m128i mul_shr15(__m128i x, __m128i k) {
  const __m128i hi = _mm_mulhi_epi16(x, k);
  const __m128i lo = _mm_mullo_epi16(x, k);
  return _mm_adds_epi16(_mm_adds_epi16(hi, hi), _mm_srli_epi16(lo, 15));
}

// One sample: d0 is the new quantised difference (dlt[0]); returns the zero-section output.
inline Word16 zero_vec_step(ZeroVec &z, Word16 d0) {
  const __m128i d0v = _mm_set1_epi16(d0);
  const __m128i step = _mm_set1_epi16(static_cast<Word16>(d0 != 0 ? 128 : 0));
  const __m128i differ = _mm_srai_epi16(_mm_xor_si128(d0v, z.d), 15);  // -1 where signs differ
  const __m128i signed_step = _mm_sub_epi16(_mm_xor_si128(step, differ), differ);
  // b * 32640 >> 15 lies within +-32640, so the step of +-128 cannot leave 16 bits.
  const __m128i keep6 = _mm_set_epi16(0, 0, -1, -1, -1, -1, -1, -1);
  const __m128i leak = mul_shr15(z.b, _mm_set1_epi16(32640));
  z.b = _mm_and_si128(_mm_add_epi16(leak, signed_step), keep6);
  z.d = _mm_insert_epi16(_mm_slli_si128(z.d, 2), d0, 0);
  const __m128i p = mul_shr15(_mm_adds_epi16(z.d, z.d), z.b);
  // Sums of the products and of their magnitudes, in 32 bits.
  const __m128i ones = _mm_set1_epi16(1);
  const __m128i signs = _mm_or_si128(_mm_srai_epi16(p, 15), ones);
  const __m128i sum = _mm_madd_epi16(p, ones);
  const __m128i mag = _mm_madd_epi16(p, signs);
  // Interleave the two: lanes (sum01, mag01, sum23, mag23) ... then fold.
  __m128i both = _mm_add_epi32(_mm_unpacklo_epi32(sum, mag), _mm_unpackhi_epi32(sum, mag));
  both = _mm_add_epi32(both, _mm_shuffle_epi32(both, 0x4E));
  const Word32 total = _mm_cvtsi128_si32(both);
  const Word32 magnitude = _mm_cvtsi128_si32(_mm_shuffle_epi32(both, 0x55));
  if (magnitude <= 32767) [[likely]] return static_cast<Word16>(total);
  alignas(16) Word16 lanes[8];
  _mm_store_si128(reinterpret_cast<__m128i *>(lanes), p);
  return zero_section_sum(lanes);
}

#else

struct ZeroVec {
  Word16 d[9];
  Word16 b[9];
};

inline ZeroVec zero_vec_load(const Word16 *dlt, const Word16 *b) {
  ZeroVec z{};
  for (int i = 1; i <= 8; ++i) {
    z.d[i] = dlt[i];
    z.b[i] = b[i];
  }
  return z;
}

inline void zero_vec_store(const ZeroVec &z, Word16 *dlt, Word16 *b) {
  for (int i = 1; i <= 8; ++i) dlt[i] = z.d[i];
  for (int i = 1; i <= 6; ++i) b[i] = z.b[i];
  b[7] = b[8] = 0;
}

inline Word16 zero_vec_step(ZeroVec &z, Word16 d0) {
  z.d[0] = d0;
  return upzero_step(z.d, z.b);
}

#endif

}  // namespace g722
