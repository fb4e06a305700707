// Small kernels of call discrimination.
#include "cdis_filters.h"

#include <cstdlib>

#if defined(ORVOX_X86_SIMD)
#include <immintrin.h>
#endif

bool cdisPowCalc(const std::int16_t* x, int n, std::int32_t* power) {
  std::int64_t sum = 0;
  for (int i = 0; i <= n; ++i) sum += std::int32_t{x[i]} * x[i];
  if (sum > INT32_MAX) return false;
  *power = static_cast<std::int32_t>(sum);
  return true;
}

namespace {

// One output of the symmetric filter, saturated; false when it left 16 bits.
bool symOutput(std::int64_t acc, std::int16_t* y) {
  std::int64_t v = acc >> 15;
  const bool ok = v <= 32767 && v >= -32768;
  if (!ok) v = v > 0 ? 32767 : -32768;
  *y = static_cast<std::int16_t>(v);
  return ok;
}

}  // namespace

bool cdisSymFilterPortable(const std::int16_t* x, std::int16_t* y, int count, const std::int16_t* half, int halfLen) {
  bool ok = true;
  for (int i = 0; i < count; ++i) {
    std::int64_t acc = std::int64_t{half[0]} * x[i];
    for (int k = 1; k < halfLen; ++k) acc += std::int64_t{half[k]} * (std::int32_t{x[i - k]} + x[i + k]);
    ok = symOutput(acc, y + i) && ok;
  }
  return ok;
}

#if defined(ORVOX_X86_SIMD)

namespace {

#define CDIS_AVX2 __attribute__((target("avx2")))

// The 16-bit pair (h, h) in every 32-bit lane.
CDIS_AVX2 inline __m256i tapPair(std::int16_t h) {
  return _mm256_set1_epi32(static_cast<std::int32_t>(static_cast<std::uint16_t>(h) * 0x10001u));
}

// 16 outputs from x[0]. Each term h (x[i - k] + x[i + k]) is one multiply-add pair, exact in 32
// bits while |h| < 32768 (at most 32767 * 65536). Terms are summed in 32-bit lanes as long as the
// sum of their bounds stays below 2^31, then widened into 64-bit sums: no partial sum wraps, so
// the result is the exact sum the portable form forms. The unpacks interleave within each
// 128-bit half: the lanes hold outputs 0-3 and 8-11 (lo), 4-7 and 12-15 (hi).
CDIS_AVX2 bool symFilter16(const std::int16_t* x, std::int16_t* y, const std::int16_t* half, int halfLen) {
  const auto load = [](const std::int16_t* p) CDIS_AVX2 { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); };
  __m256i wide[4] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
  __m256i lo = _mm256_setzero_si256(), hi = lo;
  const auto flush = [&]() CDIS_AVX2 {
    wide[0] = _mm256_add_epi64(wide[0], _mm256_cvtepi32_epi64(_mm256_castsi256_si128(lo)));
    wide[1] = _mm256_add_epi64(wide[1], _mm256_cvtepi32_epi64(_mm256_castsi256_si128(hi)));
    wide[2] = _mm256_add_epi64(wide[2], _mm256_cvtepi32_epi64(_mm256_extracti128_si256(lo, 1)));
    wide[3] = _mm256_add_epi64(wide[3], _mm256_cvtepi32_epi64(_mm256_extracti128_si256(hi, 1)));
    lo = hi = _mm256_setzero_si256();
  };
  // The centre tap pairs each sample with a zero.
  const __m256i centre = load(x);
  lo = _mm256_madd_epi16(_mm256_unpacklo_epi16(centre, _mm256_setzero_si256()), tapPair(half[0]));
  hi = _mm256_madd_epi16(_mm256_unpackhi_epi16(centre, _mm256_setzero_si256()), tapPair(half[0]));
  std::int64_t bound = std::int64_t{std::abs(half[0])} << 15;
  for (int k = 1; k < halfLen; ++k) {
    const std::int64_t term = std::int64_t{std::abs(half[k])} << 16;
    if (bound + term > INT32_MAX) {
      flush();
      bound = 0;
    }
    bound += term;
    const __m256i before = load(x - k), after = load(x + k), h = tapPair(half[k]);
    lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(before, after), h));
    hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(before, after), h));
  }
  flush();
  alignas(32) std::int64_t acc[16];
  for (int q = 0; q < 4; ++q) _mm256_store_si256(reinterpret_cast<__m256i*>(acc + 4 * q), wide[q]);
  bool ok = true;
  for (int i = 0; i < 16; ++i) ok = symOutput(acc[i], y + i) && ok;
  return ok;
}

}  // namespace

CDIS_AVX2 bool cdisSymFilterAvx2(const std::int16_t* x, std::int16_t* y, int count, const std::int16_t* half, int halfLen) {
  // A tap of -32768 could make a pair of 2^31: such filters take the portable form.
  if (std::find(half, half + halfLen, std::int16_t{-32768}) != half + halfLen) {
    return cdisSymFilterPortable(x, y, count, half, halfLen);
  }
  bool ok = true;
  int i = 0;
  for (; i + 16 <= count; i += 16) ok = symFilter16(x + i, y + i, half, halfLen) && ok;
  if (i < count) ok = cdisSymFilterPortable(x + i, y + i, count - i, half, halfLen) && ok;
  return ok;
}

#endif

bool cdisSymFilter(const std::int16_t* x, std::int16_t* y, int count, const std::int16_t* half, int halfLen) {
  using Form = bool (*)(const std::int16_t*, std::int16_t*, int, const std::int16_t*, int);
  static const Form form = [] {
#if defined(ORVOX_X86_SIMD) && defined(__GNUC__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return static_cast<Form>(cdisSymFilterAvx2);
#endif
    return static_cast<Form>(cdisSymFilterPortable);
  }();
  return form(x, y, count, half, halfLen);
}

void cdisNormInput(std::int16_t* re, std::int16_t* im) {
  std::int32_t r = *re, i = *im;
  for (int s = 0; s < 16; ++s) {
    const std::int32_t m = std::max(r < 0 ? -r : r, i < 0 ? -i : i);
    if (m >= 0x4000) break;
    r *= 2;
    i *= 2;
  }
  *re = static_cast<std::int16_t>(r);
  *im = static_cast<std::int16_t>(i);
}

void cdisPhRevFilter(const std::int16_t* x, std::int16_t* re, std::int16_t* im) {
  std::int32_t ar = 0, ai = 0;
  const std::int16_t* w = x - 33;
  for (int k = 0; k < 34; ++k) {
    ar += std::int32_t{phRevBPFcoef_real[k]} * w[k];
    ai += std::int32_t{phRevBPFcoef_imag[k]} * w[k];
  }
  *re = static_cast<std::int16_t>(ar >> 15);
  *im = static_cast<std::int16_t>(ai >> 15);
}
