// The encoder's pitch analysis: four lags and gains per 30 ms frame from
// normalised cross-correlations of the decimated lower band, and the
// pitch-pre-filtered signal with look-ahead for the masking model.
#pragma once

#include <cstdint>

#include "isac_pitch_filter.h"

namespace isac {

struct PitchAnalysisStruct {
    int16_t dec_buffer16[72];
    int32_t decimator_state32[5];
    int16_t inbuf[24];
    PitchFiltstr PFstr_wght;
    PitchFiltstr PFstr;
};

int32_t Log2Q8(uint32_t x);
void PCorr2Q32(const int16_t* in, int32_t* logcorQ8);
void FindFour32(const int32_t* in, int16_t length, int16_t* bestind);
void Intrp1DQ8(const int32_t* x, const int32_t* fx, int32_t* y, int32_t* fy);
void WebRtcIsacfix_InitialPitch(const int16_t* in, PitchAnalysisStruct* State, int16_t* lagsQ7);
void WebRtcIsacfix_PitchAnalysis(const int16_t* inn, int16_t* outQ0, PitchAnalysisStruct* State,
                                 int16_t* PitchLags_Q7, int16_t* PitchGains_Q12);

}  // namespace isac
