// The masking model: per 5 ms sub-frame, the reflection coefficients and
// gains that shape the quantisation noise of both half-bands, and the
// variability scale derived from level changes and pitch gains.
#pragma once

#include <cstdint>

namespace isac {

struct MaskFiltstr_enc {
    int16_t DataBufferLoQ0[256];
    int16_t DataBufferHiQ0[256];
    int32_t CorrBufLoQQ[13];
    int32_t CorrBufHiQQ[7];
    int16_t CorrBufLoQdom[13];
    int16_t CorrBufHiQdom[7];
    int32_t PreStateLoGQ15[13];
    int32_t PreStateHiGQ15[7];
    uint32_t OldEnergy;
};

struct MaskFiltstr_enc_UB {
    int16_t DataBufferLoQ0[256];
    int32_t CorrBufLoQQ[5];
    int16_t CorrBufLoQdom[5];
    int32_t PreStateLoGQ15[5];
    uint32_t OldEnergy;
};

int32_t log2_Q8_LPC(uint32_t x);
int16_t exp2_Q10_T(int16_t x);

void WebRtcIsacfix_GetVars(const int16_t* input, const int16_t* pitchGains_Q12, uint32_t* oldEnergy,
                           int16_t* varscale);
void WebRtcIsacfix_GetVars_UB(const int16_t* input, uint32_t* oldEnergy, int16_t* varscale);

void WebRtcIsacfix_GetLpcCoef(const int16_t* inLoQ0, const int16_t* inHiQ0, MaskFiltstr_enc* maskdata,
                              int16_t snrQ10, const int16_t* pitchGains_Q12, int32_t* gain_lo_hiQ17,
                              int16_t* lo_coeffQ15, int16_t* hi_coeffQ15);
void WebRtcIsacfix_GetLpcCoef_UB(const int16_t* inQ0, MaskFiltstr_enc_UB* maskdata, int16_t* lo_coeffQ15,
                                 int32_t* corr, int16_t* corr_Q, int16_t* varscaleQ14, int16_t bandwidth);

void WebRtcIsacfix_GetLpcCoef_Window(int16_t* bufLo, int16_t* bufHi, const int16_t* newLo, const int16_t* newHi,
                                     int16_t* outLo, int16_t* outHi);
int WebRtcIsacfix_AutocorrC(int32_t* r, const int16_t* x, int16_t N, int16_t order, int16_t* scale);
int32_t WebRtcIsacfix_CalculateResidualEnergyC(int lpc_order, int32_t q_val_corr, int q_val_polynomial,
                                               const int16_t* a_polynomial, const int32_t* corr_coeffs,
                                               int* q_val_residual_energy);

}  // namespace isac
