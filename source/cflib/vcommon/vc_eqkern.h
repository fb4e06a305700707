// The T/3 equaliser's two per-symbol loops: the output (the taps' high halves against the line,
// newest sample first) and the update of the 32-bit taps. The plain forms are the reference; the
// wide forms give their bits (sums and tap updates wrap at 32 bits in both).
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "vc_types.h"

// re = sum of (cr[i] >> 16) * x[-i], im likewise with ci, for i < n.
inline void vcEqDotPlain(const int32_t* cr, const int32_t* ci, const int16_t* x, int n, uint32_t* re, uint32_t* im) {
  uint32_t r = 0, q = 0;
  for (int i = 0; i < n; ++i) {
    r += static_cast<uint32_t>((cr[i] >> 16) * x[-i]);
    q += static_cast<uint32_t>((ci[i] >> 16) * x[-i]);
  }
  *re = r;
  *im = q;
}

// cr[i] += (x[-i] * e.real) >> shift, ci[i] likewise with e.imag, for i < n.
inline void vcEqUpdatePlain(int32_t* cr, int32_t* ci, const int16_t* x, int n, VCZCOMPLEX e, int shift) {
  for (int i = 0; i < n; ++i) {
    cr[i] = static_cast<int32_t>(static_cast<uint32_t>(cr[i]) + static_cast<uint32_t>((x[-i] * e.real) >> shift));
    ci[i] = static_cast<int32_t>(static_cast<uint32_t>(ci[i]) + static_cast<uint32_t>((x[-i] * e.imag) >> shift));
  }
}

#if defined(__SSE2__)
// x[-i-k] in lane k, k = 0..7.
inline __m128i vcEqLine8(const int16_t* x, int i) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x - i - 7));
  const __m128i w = _mm_shuffle_epi32(v, 0x1B);
  return _mm_shufflehi_epi16(_mm_shufflelo_epi16(w, 0xB1), 0xB1);
}

// The high halves of eight taps as eight 16-bit lanes.
inline __m128i vcEqHigh8(const int32_t* c) {
  const __m128i lo = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c)), 16);
  const __m128i hi = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 4)), 16);
  return _mm_packs_epi32(lo, hi);  // already in range: nothing saturates
}

inline uint32_t vcEqSum4(__m128i acc) {
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(acc));
}

inline void vcEqDot(const int32_t* cr, const int32_t* ci, const int16_t* x, int n, uint32_t* re, uint32_t* im) {
  __m128i ar = _mm_setzero_si128(), ai = _mm_setzero_si128();
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i line = vcEqLine8(x, i);
    ar = _mm_add_epi32(ar, _mm_madd_epi16(vcEqHigh8(cr + i), line));
    ai = _mm_add_epi32(ai, _mm_madd_epi16(vcEqHigh8(ci + i), line));
  }
  uint32_t r, q;
  vcEqDotPlain(cr + i, ci + i, x - i, n - i, &r, &q);
  *re = vcEqSum4(ar) + r;
  *im = vcEqSum4(ai) + q;
}

// Four 32-bit products of the line with one multiplier, shifted.
inline void vcEqProducts(__m128i line, int16_t m, __m128i count, __m128i* lo4, __m128i* hi4) {
  const __m128i k = _mm_set1_epi16(m);
  const __m128i lo = _mm_mullo_epi16(line, k), hi = _mm_mulhi_epi16(line, k);
  *lo4 = _mm_sra_epi32(_mm_unpacklo_epi16(lo, hi), count);
  *hi4 = _mm_sra_epi32(_mm_unpackhi_epi16(lo, hi), count);
}

inline void vcEqAdd4(int32_t* c, __m128i d) {
  auto* p = reinterpret_cast<__m128i*>(c);
  _mm_storeu_si128(p, _mm_add_epi32(_mm_loadu_si128(p), d));
}

inline void vcEqUpdate(int32_t* cr, int32_t* ci, const int16_t* x, int n, VCZCOMPLEX e, int shift) {
  const __m128i count = _mm_cvtsi32_si128(shift);
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m128i line = vcEqLine8(x, i);
    __m128i a, b;
    vcEqProducts(line, e.real, count, &a, &b);
    vcEqAdd4(cr + i, a);
    vcEqAdd4(cr + i + 4, b);
    vcEqProducts(line, e.imag, count, &a, &b);
    vcEqAdd4(ci + i, a);
    vcEqAdd4(ci + i + 4, b);
  }
  vcEqUpdatePlain(cr + i, ci + i, x - i, n - i, e, shift);
}
#else
inline void vcEqDot(const int32_t* cr, const int32_t* ci, const int16_t* x, int n, uint32_t* re, uint32_t* im) {
  vcEqDotPlain(cr, ci, x, n, re, im);
}
inline void vcEqUpdate(int32_t* cr, int32_t* ci, const int16_t* x, int n, VCZCOMPLEX e, int shift) {
  vcEqUpdatePlain(cr, ci, x, n, e, shift);
}
#endif
