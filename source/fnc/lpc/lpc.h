// Linear-prediction routines in fixed point. Predictor polynomials A(z) = a[0] + a[1] z^-1 + ...
// + a[m] z^-m carry Q12 coefficients with a[0] = 4096; reflection coefficients are Q15; orders run
// from 1 to 10. Range problems are reported through the DSP assertion hook and processing goes on.
#pragma once

#include <cstdint>

constexpr int LPC_MAX_ORDER = 10;

// All-pole synthesis 1/A(z) over `lg` samples; `mem` holds the last m outputs (oldest first) and
// is replaced by the block's last m outputs when `update` is non-zero. `scratchp`: m + lg words.
int lpc_synthesis(int m, const int16_t* a, const int16_t* x, int16_t* y, int lg, int16_t* mem,
                  int update, int16_t* scratchp);
// Step-down recursion: prediction-error power ratio (Q15) of the predictor `h` (h[0] not read),
// or -1 when it is unstable; the reflection coefficients go to r[1..m] when `r` is not null.
int32_t lpc_pred2refl(const int16_t* h, int16_t* r, int m);
// Prediction-error (all-zero) filter; `x` has m samples of history before it, m is even and the
// word after a[m] is zero.
void lpc_analysis(const int16_t* a, const int16_t* x, int16_t* y, int lg, int m);
void lpc_analysisprog(const int16_t* a, const int16_t* x, int16_t* y, int lg, int m);
// Step-up recursion: predictor from reflection coefficients (rc is shifted to Q12 in place);
// returns the product of (1 - k^2) in Q15.
int16_t lpc_refl2pred(int16_t* rc, int16_t* lpc, int p);
// Autocorrelation of `n` samples up to lag m, lag 0 with a white-noise correction, as high and
// low words of normalised 32-bit values. `scratchp`: n words.
void lpc_acorr(int16_t* scratchp, const int16_t* x, int m, int16_t* r_h, int16_t* r_l, int n);
void lpc_acorrprog(int16_t* scratchp, const int16_t* x, int m, int16_t* r_h, int16_t* r_l, int n);
// Sliding-window autocorrelation: 64-bit running sums per lag kept in r_h (high 32 bits) and r_l
// (low 32 bits); `x` points at the newest `framesize` samples with n earlier samples before them.
void lpc_acorr1(int32_t* R, const int16_t* x, int32_t* r_h, uint32_t* r_l, int m, int n,
                int framesize, int16_t* scratchp);
// Levinson-Durbin in double precision: A (Q12), rc (Q15), predgain (Q15).
void lpc_levinson(int m, const int16_t* Rh, const int16_t* Rl, int16_t* A, int16_t* rc,
                  int16_t* predgain, int16_t* scratch);
void lpc_levinson1(int m, const int32_t* R, int16_t* A, int16_t* rc, int16_t* predgain,
                   int16_t* scratch);
