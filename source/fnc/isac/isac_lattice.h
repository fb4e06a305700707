// Normalised lattice analysis and synthesis filters, Levinson and Schur
// recursions, conversions between polynomials and reflection coefficients,
// square roots and the small vector routines the coders share.
#pragma once

#include <cstdint>

namespace isac {

void WebRtcIsacfix_NormLatticeFilterMa(int16_t orderCoef, int32_t* stateGQ15, const int16_t* lat_inQ0,
                                       const int16_t* filt_coefQ15, const int32_t* gain_lo_hiQ17, int16_t lo_hi,
                                       int16_t* lat_outQ9);
void WebRtcIsacfix_NormLatticeFilterAr(int16_t orderCoef, int16_t* stateGQ0, const int32_t* lat_inQ25,
                                       const int16_t* filt_coefQ15, const int32_t* gain_lo_hiQ17, int16_t lo_hi,
                                       int16_t* lat_outQ0);
// One analysis stage over samples 1..39 of a sub-frame: g_in is the stage's
// backward input, f the forward signal (updated in place), g_out the next
// stage's backward signal.
void WebRtcIsacfix_FilterMaLoopC(int16_t sth, int16_t cth, int32_t inv_cth, int32_t* g_in, int32_t* f,
                                 int32_t* g_out);
void WebRtcIsacfix_FilterArLoop(int16_t* ar_g_Q0, int16_t* ar_f_Q0, const int16_t* cth_Q15,
                                const int16_t* sth_Q15, int16_t order_coef);
void WebRtcIsacfix_NormLatticeFilterAr_loop(const int32_t* lat_inQ25, int16_t inv_gain16, int sh, int16_t* out);

int16_t WebRtcSpl_LevinsonW32_JSK(const int32_t* R, int16_t* A, int16_t* K, int16_t order);
int16_t WebRtcSpl_LevinsonDurbin(const int32_t* R, int16_t* A, int16_t* K, int16_t order);
void WebRtcSpl_AToK_JSK(int16_t* a16, int16_t useOrder, int16_t* k16);
void WebRtcSpl_LpcToReflCoef(int16_t* a16, int use_order, int16_t* k16);
void WebRtcSpl_ReflCoefToLpc(const int16_t* k, int use_order, int16_t* a);
int WebRtcSpl_AutoCorrelation(const int16_t* in_vector, int in_vector_length, int order, int32_t* result,
                              int* scale);
void WebRtcSpl_AutoCorrToReflCoef(const int32_t* R, int use_order, int16_t* K);

int32_t WebRtcSpl_SqrtLocal(int32_t in);
int32_t WebRtcSpl_Sqrt(int32_t value);
void WebRtcSpl_SqrtOfOneMinusXSquared(const int16_t* xQ15, int vector_length, int16_t* yQ15);
void WebRtcSpl_VectorBitShiftW32ToW16(int16_t* out, int length, const int32_t* in, int right_shifts);
int16_t WebRtcSpl_MaxAbsValueW16C(const int16_t* vector, int length);
int32_t WebRtcSpl_MaxAbsValueW32C(const int32_t* vector, int length);

void WebRtcIsacfix_VecSqrt(const int32_t* in, uint16_t* out);
void WebRtcIsacfix_Apply_GainVec(const int16_t* in, const int16_t* gains, int16_t* out1, int16_t* out2);
void isac_4x_inner_prod_aligned(const int16_t* x, const int16_t* y, int n, int32_t* out);
void isac_4x_inner_prod_aligned_scaled(const int16_t* x, const int16_t* y, int n, int32_t* out, int scale);

}  // namespace isac
