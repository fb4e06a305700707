// Exact 64-bit sums of 16-bit products for the concealment: dot products (correlations and
// energies) and the all-zero filter's sums, in a portable form (the reference) and vector forms
// with identical results (each product formed exactly in 32 bits, the sums widened to 64 bits,
// so no order of addition can change the result). The analysis calls the best the processor has.
#pragma once

#include <cstdint>

// Sum over i < n of x[i] * y[i], exact.
int64_t plcDotPortable(const int16_t* x, const int16_t* y, int n);
#if defined(ORVOX_X86_SIMD)
int64_t plcDotSse41(const int16_t* x, const int16_t* y, int n);
int64_t plcDotAvx2(const int16_t* x, const int16_t* y, int n);
#endif

// The order-8 all-zero filter's exact sums: out[i] = 4096 x[i] + sum over k < 8 of a[k] x[i-1-k]
// for i < n (the 8 samples before x are read).
void plcAzSumsPortable(const int16_t* a, const int16_t* x, int64_t* out, int n);
#if defined(ORVOX_X86_SIMD)
void plcAzSumsAvx2(const int16_t* a, const int16_t* x, int64_t* out, int n);
#endif

using PlcAzSumsKernel = void (*)(const int16_t*, const int16_t*, int64_t*, int);
PlcAzSumsKernel plcAzSumsKernel();

inline void plcAzSums(const int16_t* a, const int16_t* x, int64_t* out, int n) {
  static const PlcAzSumsKernel kernel = plcAzSumsKernel();
  kernel(a, x, out, n);
}

// Correlations at `count` lags from dMin: c[j] = sum over i < n of t[i] * t[i - dMin - j], exact
// (t must have dMin + count - 1 samples of history before it).
void plcCorrLagsPortable(const int16_t* t, int n, int dMin, int count, int64_t* c);
#if defined(ORVOX_X86_SIMD)
void plcCorrLagsAvx2(const int16_t* t, int n, int dMin, int count, int64_t* c);
#endif

using PlcCorrLagsKernel = void (*)(const int16_t*, int, int, int, int64_t*);
PlcCorrLagsKernel plcCorrLagsKernel();

inline void plcCorrLags(const int16_t* t, int n, int dMin, int count, int64_t* c) {
  static const PlcCorrLagsKernel kernel = plcCorrLagsKernel();
  kernel(t, n, dMin, count, c);
}

using PlcDotKernel = int64_t (*)(const int16_t*, const int16_t*, int);
PlcDotKernel plcDotKernel();

// The dot product by the best form (chosen once).
inline int64_t plcDot(const int16_t* x, const int16_t* y, int n) {
  static const PlcDotKernel kernel = plcDotKernel();
  return kernel(x, y, n);
}
