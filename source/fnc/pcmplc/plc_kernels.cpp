// Exact dot products: every 16 x 16-bit product fits 32 bits (the largest, (-32768)^2 = 2^30), and
// the running sums are kept in 64-bit lanes.
#include "plc_kernels.h"

#include <climits>

#if defined(ORVOX_X86_SIMD)
#include <immintrin.h>
#endif

int64_t plcDotPortable(const int16_t* x, const int16_t* y, int n) {
  int64_t s = 0;
  for (int i = 0; i < n; ++i) s += int32_t{x[i]} * y[i];
  return s;
}

void plcCorrLagsPortable(const int16_t* t, int n, int dMin, int count, int64_t* c) {
  for (int j = 0; j < count; ++j) c[j] = plcDotPortable(t, t - dMin - j, n);
}

void plcAzSumsPortable(const int16_t* a, const int16_t* x, int64_t* out, int n) {
  for (int i = 0; i < n; ++i) {
    int64_t acc = int64_t{x[i]} * 4096;
    for (int k = 0; k < 8; ++k) acc += int32_t{a[k]} * x[i - 1 - k];
    out[i] = acc;
  }
}

#if defined(ORVOX_X86_SIMD)

namespace {

__attribute__((target("sse4.1"))) inline __m128i products4(const int16_t* x, const int16_t* y) {
  const __m128i a = _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(x)));
  const __m128i b = _mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y)));
  return _mm_mullo_epi32(a, b);
}

__attribute__((target("sse4.1"))) inline __m128i widenAdd(__m128i acc, __m128i p) {
  acc = _mm_add_epi64(acc, _mm_cvtepi32_epi64(p));
  return _mm_add_epi64(acc, _mm_cvtepi32_epi64(_mm_unpackhi_epi64(p, p)));
}

}  // namespace

__attribute__((target("sse4.1"))) int64_t plcDotSse41(const int16_t* x, const int16_t* y, int n) {
  __m128i acc = _mm_setzero_si128();
  int i = 0;
  for (; i + 4 <= n; i += 4) acc = widenAdd(acc, products4(x + i, y + i));
  int64_t s = _mm_cvtsi128_si64(acc) + _mm_extract_epi64(acc, 1);
  for (; i < n; ++i) s += int32_t{x[i]} * y[i];
  return s;
}

// The AVX2 form sums pairs of products with the multiply-add. Its pair sums are exact but for one
// value: two products of (-32768)^2 make 2^31, which wraps to INT32_MIN, a value no other pair sum
// takes (the least is -2^31 + 2^16). Such lanes are counted and 2^32 is added back for each.
__attribute__((target("avx2"))) inline __m128i widenPairs(__m128i acc, __m128i p) {
  acc = _mm_add_epi64(acc, _mm_cvtepi32_epi64(p));
  return _mm_add_epi64(acc, _mm_cvtepi32_epi64(_mm_unpackhi_epi64(p, p)));
}

__attribute__((target("avx2"))) int64_t plcDotAvx2(const int16_t* x, const int16_t* y, int n) {
  const __m256i wrapped = _mm256_set1_epi32(INT32_MIN);
  __m256i acc = _mm256_setzero_si256(), wraps = acc;
  int i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256i p = _mm256_madd_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i)),
                                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + i)));
    wraps = _mm256_sub_epi32(wraps, _mm256_cmpeq_epi32(p, wrapped));
    acc = _mm256_add_epi64(acc, _mm256_cvtepi32_epi64(_mm256_castsi256_si128(p)));
    acc = _mm256_add_epi64(acc, _mm256_cvtepi32_epi64(_mm256_extracti128_si256(p, 1)));
  }
  __m128i a2 = _mm_add_epi64(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
  __m128i w2 = _mm_add_epi32(_mm256_castsi256_si128(wraps), _mm256_extracti128_si256(wraps, 1));
  if (i + 8 <= n) {
    const __m128i p = _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i)),
                                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i)));
    w2 = _mm_sub_epi32(w2, _mm_cmpeq_epi32(p, _mm256_castsi256_si128(wrapped)));
    a2 = widenPairs(a2, p);
    i += 8;
  }
  if (i + 4 <= n) {  // two pair sums in the low lanes, zeros above
    const __m128i p = _mm_madd_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(x + i)),
                                     _mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + i)));
    w2 = _mm_sub_epi32(w2, _mm_cmpeq_epi32(p, _mm256_castsi256_si128(wrapped)));
    a2 = _mm_add_epi64(a2, _mm_cvtepi32_epi64(p));
    i += 4;
  }
  w2 = _mm_add_epi32(w2, _mm_unpackhi_epi64(w2, w2));
  w2 = _mm_add_epi32(w2, _mm_shuffle_epi32(w2, 0x55));
  int64_t s = _mm_cvtsi128_si64(a2) + _mm_extract_epi64(a2, 1) + (int64_t{_mm_cvtsi128_si32(w2)} << 32);
  for (; i < n; ++i) s += int32_t{x[i]} * y[i];
  return s;
}

// Sixteen lags at a time, lane l holding lag top - l, so that each lane's older samples lie in
// increasing order in memory: per pair of target samples (t[i], t[i + 1]) one multiply-add gives
// t[i] t[i - lag] + t[i + 1] t[i + 1 - lag] in every lane, with the wrap of 2^31 counted as in
// plcDotAvx2 and the sums widened to 64 bits. The unpacks interleave within each 128-bit half:
// lo holds lanes 0-3 and 8-11, hi lanes 4-7 and 12-15. An odd last sample pairs with zero.
__attribute__((target("avx2"))) void corrLags16(const int16_t* t, int n, int top, int64_t* byLane) {
  const __m256i wrapped = _mm256_set1_epi32(INT32_MIN);
  __m256i wide[4] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
  __m256i wrapsLo = _mm256_setzero_si256(), wrapsHi = wrapsLo;
  for (int i = 0; i < n; i += 2) {
    const int16_t next = i + 1 < n ? t[i + 1] : 0;
    const __m256i pair = _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(t[i]) |
                                                                (static_cast<uint32_t>(static_cast<uint16_t>(next)) << 16)));
    const __m256i older0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + i - top));
    const __m256i older1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t + i + 1 - top));
    const __m256i lo = _mm256_madd_epi16(_mm256_unpacklo_epi16(older0, older1), pair);
    const __m256i hi = _mm256_madd_epi16(_mm256_unpackhi_epi16(older0, older1), pair);
    wrapsLo = _mm256_sub_epi32(wrapsLo, _mm256_cmpeq_epi32(lo, wrapped));
    wrapsHi = _mm256_sub_epi32(wrapsHi, _mm256_cmpeq_epi32(hi, wrapped));
    wide[0] = _mm256_add_epi64(wide[0], _mm256_cvtepi32_epi64(_mm256_castsi256_si128(lo)));
    wide[1] = _mm256_add_epi64(wide[1], _mm256_cvtepi32_epi64(_mm256_castsi256_si128(hi)));
    wide[2] = _mm256_add_epi64(wide[2], _mm256_cvtepi32_epi64(_mm256_extracti128_si256(lo, 1)));
    wide[3] = _mm256_add_epi64(wide[3], _mm256_cvtepi32_epi64(_mm256_extracti128_si256(hi, 1)));
  }
  alignas(32) int32_t wraps[16];
  const __m256i w0 = _mm256_permute2x128_si256(wrapsLo, wrapsHi, 0x20);  // lanes 0-3, 4-7
  const __m256i w1 = _mm256_permute2x128_si256(wrapsLo, wrapsHi, 0x31);  // lanes 8-11, 12-15
  _mm256_store_si256(reinterpret_cast<__m256i*>(wraps), w0);
  _mm256_store_si256(reinterpret_cast<__m256i*>(wraps + 8), w1);
  for (int q = 0; q < 4; ++q) _mm256_storeu_si256(reinterpret_cast<__m256i*>(byLane + 4 * q), wide[q]);
  for (int l = 0; l < 16; ++l) byLane[l] += int64_t{wraps[l]} << 32;
}

__attribute__((target("avx2"))) void plcCorrLagsAvx2(const int16_t* t, int n, int dMin, int count, int64_t* c) {
  // A lag of 0 would have the vector loads read past t[n - 1].
  const int vectorLags = dMin >= 1 ? count : 0;
  int j = 0;
  for (; j + 16 <= vectorLags; j += 16) {
    const int top = dMin + j + 15;
    int64_t byLane[16];
    corrLags16(t, n, top, byLane);
    for (int l = 0; l < 16; ++l) c[j + 15 - l] = byLane[l];
  }
  if (j < count) plcCorrLagsPortable(t, n, dMin + j, count - j, c + j);
}

// Eight outputs at a time: per term, the eight samples it multiplies, one exact 32-bit product
// each, added into two four-lane 64-bit sums.
__attribute__((target("avx2"))) void plcAzSumsAvx2(const int16_t* a, const int16_t* x, int64_t* out, int n) {
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    __m256i p = _mm256_mullo_epi32(_mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i))),
                                   _mm256_set1_epi32(4096));
    __m256i lo = _mm256_cvtepi32_epi64(_mm256_castsi256_si128(p));
    __m256i hi = _mm256_cvtepi32_epi64(_mm256_extracti128_si256(p, 1));
    for (int k = 0; k < 8; ++k) {
      const __m256i xs = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i - 1 - k)));
      p = _mm256_mullo_epi32(xs, _mm256_set1_epi32(a[k]));
      lo = _mm256_add_epi64(lo, _mm256_cvtepi32_epi64(_mm256_castsi256_si128(p)));
      hi = _mm256_add_epi64(hi, _mm256_cvtepi32_epi64(_mm256_extracti128_si256(p, 1)));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), lo);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 4), hi);
  }
  plcAzSumsPortable(a, x + i, out + i, n - i);
}

#endif

PlcAzSumsKernel plcAzSumsKernel() {
#if defined(ORVOX_X86_SIMD) && defined(__GNUC__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return plcAzSumsAvx2;
#endif
  return plcAzSumsPortable;
}

PlcCorrLagsKernel plcCorrLagsKernel() {
#if defined(ORVOX_X86_SIMD) && defined(__GNUC__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return plcCorrLagsAvx2;
#endif
  return plcCorrLagsPortable;
}

PlcDotKernel plcDotKernel() {
#if defined(ORVOX_X86_SIMD) && defined(__GNUC__)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return plcDotAvx2;
  if (__builtin_cpu_supports("sse4.1")) return plcDotSse41;
#endif
  return plcDotPortable;
}
