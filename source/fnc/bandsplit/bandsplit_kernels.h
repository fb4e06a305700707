// The filters of the two-band bank (internal header). Every form computes the same wrapping
// 32-bit sums of 16-bit products and the same rounding, shift and saturation, so the results are
// identical: the portable form is the reference, the vector forms (SSE2, AVX2) are chosen once,
// on first use, for the processor that runs them.
#pragma once

#include <cstdint>

struct BsKernels {
  const char* name;
  // low[n] = sat16((sum over k < 40 of h[k] * x[2n - k] + 16384) >> 15), n < 80; x has 39
  // history samples before it.
  void (*firDown)(const int16_t* x, int16_t* low);
  // y[2m] = sat16((sum over k < 20 of h[2k] * u[m - k] + 8192) >> 14), y[2m + 1] the same with
  // h[2k + 1], m < inputs (a multiple of 8); u has 19 history samples before it.
  void (*firUp)(const int16_t* u, int16_t* y, int inputs);
  // y[n] = sat16(a[n] + b[n]) and y[n] = sat16(a[n] - b[n]), n < count; y may be a or b.
  void (*addSat)(int16_t* y, const int16_t* a, const int16_t* b, int count);
  void (*subSat)(int16_t* y, const int16_t* a, const int16_t* b, int count);
};

const BsKernels& bsKernelsPortable();
// Null when the build has no such form or the processor cannot run it.
const BsKernels* bsKernelsSse2();
const BsKernels* bsKernelsAvx2();

// The form in use: the fastest the processor runs, unless a test has chosen another.
const BsKernels& bsKernels();
// Chooses the form in use (null: back to the fastest); for the tests that compare the forms.
void bsUseKernels(const BsKernels* kernels);
