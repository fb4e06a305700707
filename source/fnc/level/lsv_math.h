// Small numeric routines of the line services: decibel conversions, fractional division, block
// normalisation, the DC-blocking high-pass, the noise source, the general FIR and the Q12 gain.
// Everything works on caller-owned buffers and keeps no state of its own.
//
// The shared maths library of the signal-processing family offers routines of the same names; the
// line services keep their own copies in this namespace so that they build on their own. The Q12
// gain hsfMulGain is the shared library's.
#pragma once

#include <cstdint>

// Scales `numsamp` samples in place by a Q12 gain (4096 = unity), rounding and saturating;
// defined once, in the shared maths library.
void hsfMulGain(int16_t* sampbuf, int numsamp, int16_t gain);

namespace lsvmath {

// Saturates a 32-bit (or wider) value to the 16-bit sample range.
constexpr int16_t sat16(int64_t v) {
  return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}
constexpr int32_t sat32(int64_t v) {
  return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : v));
}
// The low 32 bits of a wider value: sums documented as "32 bits without saturation" wrap.
constexpr int32_t wrap32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

// Q15 amplitude of a level in dB x 256 (0 dB and above give 32767, below -90 dB give 0).
int16_t utildB2scale(int level);
// Level in dB x 256 of a power (2^31 = 0 dB) plus `offset`.
int16_t utilPower2dB(uint32_t pwr, int offset);
// Q15 quotient var1 / var2 for 0 <= var1 <= var2.
int16_t utildiv_s(int16_t var1, int16_t var2);
// Shifts the block left so that its largest magnitude reaches 16384..32767; returns the shift.
int16_t utilVectorNorm(int16_t* x, int n);
// DC blocker: `y` may be `x`; `umem` is the 32-bit filter state.
void utilHighpass(const int16_t* x, int16_t* y, int n, int alpha_exp, int32_t* umem);
// Uniform noise of about +-g/4 from the 16-bit linear congruential generator.
void utilRand(int16_t* x, int16_t* seed, int16_t g, int n);
// Largest magnitude of the block, -32768 counting as 32767.
int16_t utilMaxAbs(const int16_t* x, int n);
// FIR of `n` Q15 taps (pairs, an odd last tap alone) over `k` outputs; `x` has n - 1 samples of history before it.
void fir(const int16_t* x, int16_t* y, const int16_t* h, int n, int k);

}  // namespace lsvmath
