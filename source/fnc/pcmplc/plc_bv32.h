// Routines of the common library that only the BV32 codec calls: line spectral frequencies and
// back, their stabilisation, the three-tap pitch predictor and codebook look-up, first-order
// filters and Pow2. Line spectral frequencies are Q15 fractions of pi (0 .. 32767).
#pragma once

#include <cstdint>

// Predictor a1..a_order (Q12, a0 implicit) to ascending line spectral frequencies.
void bvxx_Lpc_lsf(const int16_t* a, int16_t* lsf, int order);
// Chebyshev series sum f[0] T_n(x) + ... + f[n] (x Q15, f Q12) with the result in Q11 or Q10.
int16_t FNevChebP_Q11(int16_t x, const int32_t* f, int n);
int16_t FNevChebP_Q10(int16_t x, const int32_t* f, int n);
// Sorts the frequencies and keeps them apart by a minimum spacing inside (0, pi).
void bvxx_stblz_lsf(int16_t* lsf, int order);
// Line spectral frequencies back to a predictor a1..a_order (Q12).
void bvxx_Lsf_lpc(const int16_t* lsf, int16_t* a, int order);
// Sum or difference polynomial (Q24, f[0] = 2^24) of every second frequency starting at `lsf`.
void Get_pol(const int16_t* lsf, int32_t* f, int half);
// The three taps (Q14) of codebook entry `index`.
void bvxx_pp3dec(int16_t index, const int16_t* codebook, int16_t* b);
// Copies codebook entry `index` of `dim` values.
void bvxx_vqdec(int16_t* xq, int16_t index, const int16_t* codebook, int dim);
// First-order filters with a Q15 coefficient: y = x - a y(i-1) and y = x + a x(i-1); `mem` keeps
// the last output (all-pole) or input (all-zero).
void bvxx_apfilter_1st_Q0_Q0(int16_t a, const int16_t* x, int16_t* y, int n, int16_t* mem);
void bvxx_azfilter_1st_Q0_Q0(int16_t a, const int16_t* x, int16_t* y, int n, int16_t* mem);
// 2^(exponent + fraction), shifted right by 30 - exponent with rounding.
int32_t bvxx_Pow2(int16_t exponent, int16_t fraction);
