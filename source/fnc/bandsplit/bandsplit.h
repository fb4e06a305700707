// Two-band filter bank of wideband channels: a 16 kHz frame becomes an 8 kHz low band (decimated
// low-pass) and a high band that is the 16 kHz residual (input delayed by 39 samples minus the
// interpolated low band); recombination adds the interpolated low band back, so split then
// combine returns the input delayed by exactly 39 samples.
#pragma once

#include <array>
#include <cstdint>

constexpr int BS_TAPS = 40;
constexpr int BS_DELAY = 39;                  // 16 kHz samples of delay through split + combine
constexpr int BS_SPLIT_STATE_WORDS = 60;      // 40 wideband + 20 low-band history samples
constexpr int BS_COMBINE_STATE_WORDS = 20;    // 20 low-band history samples

// Linear-phase 40-tap low-pass prototype, Q15, symmetric.
extern const std::array<int16_t, BS_TAPS> bs_qmf40;

// Adds the low band of 160 wideband samples `xt` into the 80 samples of `xl` and writes the
// 160-sample high band to `xh` (`xh` may be `xt`). `state` is zeroed before the first frame.
void bandSplit(int16_t* xl, int16_t* xh, const int16_t* xt, int16_t* state);
// y (160) = interpolated xl (80) + xh (160); `y` may be `xh`.
void bandCombine(const int16_t* xl, const int16_t* xh, int16_t* y, int16_t* state);
// The same for 5 ms: 40 low-band samples and 80 high-band samples into 80 output samples.
void bandCombine2(const int16_t* xl, const int16_t* xh, int16_t* y, int16_t* state);

// Kernels: `x` points at the first new sample, with the history readable before it.
void bs_firdown(const int16_t* x, int16_t* low);  // 160 in (39 history) -> 80 out
void bs_firup(const int16_t* u, int16_t* y);      // 80 in (19 history) -> 160 out
void bs_firup2(const int16_t* u, int16_t* y);     // 40 in (19 history) -> 80 out
