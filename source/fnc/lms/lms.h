// Block normalised-LMS machinery: cancel (filter the reference through the adaptive FIR and
// subtract it from the input), a normalised step size from the reference power, and adaptation
// of the coefficients from the error. sIn holds the echo, rOut the reference that caused it
// (rOut[n - k] for k < tailLength must be readable), sOut the error, h the Q15 coefficients.
// Tail lengths that are multiples of 16 run on the kernels of lms_kernels.h (the vector form the
// processor has); the others on plain loops. Both give the same results.
#pragma once

#include <cstdint>

// Error block sOut = sIn - h * rOut; returns its high-passed block power (scale 8) when `u` is not
// null (advancing `u`), else 0.
uint32_t lmsCancel(int16_t* sOut, const int16_t* rOut, const int16_t* h, const int16_t* sIn,
                   int tailLength, int blocksize, int32_t* u, int16_t* scratchp);
// h[i] += (sum over the block of rOut[k - i] * sOut[k]) >> hExp, in Q15 with rounding.
void lmsAdapt(const int16_t* rOut, int16_t* h, const int16_t* sOut, int tailLength, int blocksize,
              int hExp, int16_t* scratchp);
// Q15 step mantissa for the block (0 when the reference is too weak); adds its exponent to
// *stepExp.
int16_t lmsStepSize(const int16_t* rOut, int16_t* stepExp, int blocksize, int16_t alpha,
                    int blocksizeLms, int tailLength);
// Cancel and adapt in sub-blocks of blocksizeLms; the error of the whole block is left at the
// start of `scratch` (which needs 2 x blocksize words). Returns the summed error power, bit 0 set.
uint32_t lmsBlockAdapt(const int16_t* sIn, const int16_t* rOut, int16_t* h, int16_t stepSize,
                       int16_t stepExp, int blocksize, int blocksizeLms, int tailLength, int32_t* u,
                       int16_t* scratch);
// As lmsBlockAdapt, adapting on the error whitened by the LPC analysis filter `a` of order m
// against the whitened reference rOutW; the plain error goes to sOut.
uint32_t lmsWhitenAdapt(const int16_t* sIn, int16_t* sOut, const int16_t* rOut,
                        const int16_t* rOutW, int16_t* h, int16_t stepSize, int16_t stepExp,
                        int blocksize, int blocksizeLms, int tailLength, const int16_t* a, int m,
                        int32_t* u, int16_t* scratch);

// Plain loops, the reference forms of the kernels above.
void lmsAdaptprog(const int16_t* rOut, int16_t* h, const int16_t* sOut, int tailLength,
                  int blocksize, int hExp, int16_t* scratchp);
uint32_t lmsCancelprog(int16_t* sOut, const int16_t* rOut, const int16_t* h, const int16_t* sIn,
                       int tailLength, int blocksize, int32_t* u, int16_t* scratchp);
int16_t lmsStepSizeprog(const int16_t* rOut, int16_t* stepExp, int blocksize, int16_t alpha,
                        int blocksizeLms, int tailLength);
uint32_t lmsBlockAdaptprog(const int16_t* sIn, const int16_t* rOut, int16_t* h, int16_t stepSize,
                           int16_t stepExp, int blocksize, int blocksizeLms, int tailLength,
                           int32_t* u, int16_t* scratch, int16_t* scratchprog);
uint32_t lmsWhitenAdaptprog(const int16_t* sIn, int16_t* sOut, const int16_t* rOut,
                            const int16_t* rOutW, int16_t* h, int16_t stepSize, int16_t stepExp,
                            int blocksize, int blocksizeLms, int tailLength, const int16_t* a,
                            int m, int32_t* u, int16_t* scratch, int16_t* scratchprog);
