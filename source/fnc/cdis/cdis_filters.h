// Filters and small kernels of call discrimination: notches (symmetric FIR kept as the centre tap
// and one half, Q15, unity gain away from the notch) at the fax and modem tones, the complex
// phase-reversal band-pass at 2100 Hz, the power of a stretch and input normalisation.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

extern const std::array<std::int16_t, 35> cdtcoeffs;       // 69 taps, notch at 2100 Hz
extern const std::array<std::int16_t, 30> cngtcoeffs;      // 59 taps, notch at 1100 Hz
extern const std::array<std::int16_t, 33> bell103coef;     // 65 taps, notch at 2225 Hz
extern const std::array<std::int16_t, 33> customToneCoef;  // 65 taps, notch at 2300 Hz
extern const std::array<std::int16_t, 34> phRevBPFcoef_real;
extern const std::array<std::int16_t, 34> phRevBPFcoef_imag;

// Sum of squares of x[0..n] (n + 1 samples); false when the 32-bit sum overflows.
bool cdisPowCalc(const std::int16_t* x, int n, std::int32_t* power);
// count outputs y[i] = (c0 x[i] + sum_k ck (x[i-k] + x[i+k])) >> 15 of a symmetric filter with
// half.size() - 1 taps either side; false when an output leaves 16 bits.
// By the best form the processor has (chosen once); the portable form is the reference and the
// AVX2 form gives the same outputs and flag.
bool cdisSymFilter(const std::int16_t* x, std::int16_t* y, int count, const std::int16_t* half, int halfLen);
bool cdisSymFilterPortable(const std::int16_t* x, std::int16_t* y, int count, const std::int16_t* half, int halfLen);
#if defined(ORVOX_X86_SIMD)
bool cdisSymFilterAvx2(const std::int16_t* x, std::int16_t* y, int count, const std::int16_t* half, int halfLen);
#endif
// Shifts both parts left until the larger magnitude has bit 14 set (at most 16 shifts).
void cdisNormInput(std::int16_t* re, std::int16_t* im);
// The complex band-pass output whose newest sample is x[0].
void cdisPhRevFilter(const std::int16_t* x, std::int16_t* re, std::int16_t* im);
