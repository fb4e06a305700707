// SSE2 forms of the iLBC vector kernels (x86-64 always has SSE2); each gives the bits of its
// portable model, which stays the reference and serves other machines.
#include <algorithm>

#include "ilbc_kernels.h"

#if defined(ORVOX_X86_SIMD)
#include <emmintrin.h>
#endif

namespace ilbc {

void ilbc_lag_correlations_model(const i16* x, int lag0, int count, i64* out) {
  for (int k = 0; k < count; ++k) out[k] = ilbc_Vec_L64_mac0(x, x - lag0 - k, 80);
}

#if defined(ORVOX_X86_SIMD)
namespace {

// Sum of x[i] y[i] over 80 samples from pairwise 32-bit sums: without -32768 in either vector
// each product is below 2^30 in magnitude, so a pair sum fits 32 bits; pairs are widened to
// 64 bits before they are added.
i64 dot80_pairs(const i16* x, const i16* y) {
  __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
  for (int i = 0; i < 80; i += 8) {
    const __m128i p = _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i)));
    const __m128i sign = _mm_srai_epi32(p, 31);
    lo = _mm_add_epi64(lo, _mm_unpacklo_epi32(p, sign));
    hi = _mm_add_epi64(hi, _mm_unpackhi_epi32(p, sign));
  }
  const __m128i s = _mm_add_epi64(lo, hi);
  alignas(16) i64 two[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(two), s);
  return two[0] + two[1];
}

}  // namespace
#endif

void ilbc_lag_correlations(const i16* x, int lag0, int count, i64* out) {
#if defined(ORVOX_X86_SIMD)
  const i16* first = x - lag0 - count + 1;
  if (std::find(first, x + 80, i16{-32768}) == x + 80) {
    for (int k = 0; k < count; ++k) out[k] = dot80_pairs(x, x - lag0 - k);
    return;
  }
#endif
  ilbc_lag_correlations_model(x, lag0, count, out);
}

}  // namespace ilbc
