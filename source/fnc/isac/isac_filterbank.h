// Band-splitting and band-merging filters, the input and output high-pass
// filters, the half-band decimator of the pitch search and two general
// filters.  Every state lives in a record the caller owns.
#pragma once

#include <cstdint>

namespace isac {

struct PreFiltBankstr {
    int32_t INSTAT1_fix[4];
    int32_t INSTAT2_fix[4];
    int16_t INLABUF1_fix[24];
    int16_t INLABUF2_fix[24];
    int32_t HPstates_fix[2];
};

struct PostFiltBankstr {
    int32_t STATE_0_LOWER_fix[6];
    int32_t STATE_0_UPPER_fix[6];
    int32_t HPstates1_fix[2];
    int32_t HPstates2_fix[2];
};

void WebRtcIsacfix_HighpassFilterFixDec32(int16_t* io, int16_t len, const int32_t* coefficient, int32_t* state);
void WebRtcIsacfix_AllpassFilter2FixDec16C(int16_t* data_ch1, int16_t* data_ch2, const int16_t* factor_ch1,
                                           const int16_t* factor_ch2, int length, int32_t* filter_state_ch1,
                                           int32_t* filter_state_ch2);
void WebRtcIsacfix_SplitAndFilter1(int16_t* pin, int16_t* LP16, int16_t* HP16, PreFiltBankstr* prefiltdata);
void WebRtcIsacfix_FilterAndCombine1(int16_t* tempin_ch1, int16_t* tempin_ch2, int16_t* out16,
                                     PostFiltBankstr* postfiltdata);

void WebRtcSpl_AllPassQMF(int32_t* in_data, int32_t* out_data, const uint16_t* filter_coefficients,
                          int32_t* filter_state);
void WebRtcSpl_AnalysisQMF(const int16_t* in_data, int16_t* low_band, int16_t* high_band,
                           int32_t* filter_state1, int32_t* filter_state2);
void WebRtcSpl_SynthesisQMF(const int16_t* low_band, const int16_t* high_band, int16_t* out_data,
                            int32_t* filter_state1, int32_t* filter_state2);

void AllpassFilterForDec32(int16_t* InOut16, const int32_t* APSectionFactors, int16_t lengthInOut,
                           int32_t* FilterState);
void WebRtcIsacfix_DecimateAllpass32(const int16_t* in, int32_t* state_in, int16_t N, int16_t* out);

void WebRtcSpl_FilterARFastQ12(const int16_t* data_in, int16_t* data_out, const int16_t* coefficients,
                               int coefficients_length, int data_length);
int WebRtcSpl_DownsampleFastC(const int16_t* data_in, int data_in_length, int16_t* data_out,
                              int data_out_length, const int16_t* coefficients, int coefficients_length,
                              int factor, int16_t delay);

}  // namespace isac
