// Exact 64-bit dot products of 16-bit vectors for the concealment's correlations and energies,
// in three forms with identical results: portable (the reference), SSE4.1 and AVX2 (each product
// formed exactly in 32 bits, the sums widened to 64 bits, so no order of addition can change the
// result). The analysis calls the best the processor has.
#pragma once

#include <cstdint>

// Sum over i < n of x[i] * y[i], exact.
int64_t plcDotPortable(const int16_t* x, const int16_t* y, int n);
#if defined(__x86_64__)
int64_t plcDotSse41(const int16_t* x, const int16_t* y, int n);
int64_t plcDotAvx2(const int16_t* x, const int16_t* y, int n);
#endif

using PlcDotKernel = int64_t (*)(const int16_t*, const int16_t*, int);
PlcDotKernel plcDotKernel();

// The dot product by the best form (chosen once).
inline int64_t plcDot(const int16_t* x, const int16_t* y, int n) {
  static const PlcDotKernel kernel = plcDotKernel();
  return kernel(x, y, n);
}
