// Inner-product kernels of the block LMS (internal header). The taps are held in reverse order
// (hr[m] = h[T - 1 - m]), so that every inner product runs forwards over both arrays: with
// x = rOut + n - T + 1, the cancel sum of output n is the sum over m of x[m] * hr[m].
//
// All forms compute the same wrapping 32-bit sums and the same rounded, saturated tap updates,
// so their results are identical: the portable form is the reference, the vector forms (SSE2,
// AVX2) are chosen once at start-up for the processor that runs them.
#pragma once

#include <cstdint>

// The tail lengths the kernels take: multiples of this, up to kLmsMaxTaps.
constexpr int kLmsKernelTapStep = 16;
constexpr int kLmsMaxTaps = 768;

struct LmsKernels {
  const char* name;
  // dst[m] = src[T - 1 - m].
  void (*reverse)(int16_t* dst, const int16_t* src, int T);
  // acc[l] = sum over m < T of x[l + m] * hr[m], wrapping, for l < L.
  void (*dots)(int32_t* acc, const int16_t* x, const int16_t* hr, int T, int L);
  // One adaptation step of the taps from the scaled error e[0..Nb-1]: with
  // S = (sum over k < Nb of x[m + k] * e[k], wrapping) >> hExp (arithmetic; 32 or more gives the
  // sign), hr[m] = sat16((hr[m] * 32768 + S + 16384) >> 15). Then, when L > 0, the sums of the
  // next sub-block with the updated taps: acc[l] = sum over m of x[Nb + l + m] * hr[m], l < L.
  void (*adaptDots)(int16_t* hr, const int16_t* x, const int16_t* e, int Nb, int hExp, int T,
                    int32_t* acc, int L);
  // The exact sum of x[i] * x[i] for i < n.
  int64_t (*energy)(const int16_t* x, int n);
};

const LmsKernels& lmsKernelsPortable();
// Null when the build has no such form or the processor cannot run it.
const LmsKernels* lmsKernelsSse2();
const LmsKernels* lmsKernelsAvx2();

// The form in use: the fastest the processor runs, unless a test has chosen another.
const LmsKernels& lmsKernels();
// Chooses the form in use (null: back to the fastest); for the tests that compare the forms.
void lmsUseKernels(const LmsKernels* kernels);
