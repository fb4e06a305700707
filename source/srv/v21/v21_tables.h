// Constant tables of the V.21 service.
#pragma once

#include <cstdint>

extern const int16_t hstv21HChnlflt0[3 * 69];  // per branch: 67 taps, control word, input advance
extern const int16_t hstv21HChnPhaseCoeff[3];
// The bit low-pass, visible to the compiler: the wide form takes its taps in pairs as constants.
inline constexpr int16_t hstv21lpf[20] = {180,  257,  468,  811,  1266, 1789, 2320, 2795, 3152, 3344,
                                          3344, 3152, 2795, 2320, 1789, 1266, 811,  468,  257,  180};
extern const int16_t hstv21CEDflt[77];
extern const int16_t hstv21CNGflt[77];
extern const int16_t gmskTransition[27];
extern const int16_t gmskSame[27];
