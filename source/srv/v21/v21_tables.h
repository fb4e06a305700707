// Constant tables of the V.21 service.
#pragma once

#include <cstdint>

extern const int16_t hstv21HChnlflt0[3 * 69];  // per branch: 67 taps, control word, input advance
extern const int16_t hstv21HChnPhaseCoeff[3];
extern const int16_t hstv21lpf[20];
extern const int16_t hstv21CEDflt[77];
extern const int16_t hstv21CNGflt[77];
extern const int16_t gmskTransition[27];
extern const int16_t gmskSame[27];
