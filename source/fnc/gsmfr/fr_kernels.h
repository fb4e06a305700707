// Inner loops of the GSM full-rate codec. Each kernel is a plain function without state of its
// own: memories live in the encoder and decoder records and are passed as pointers. Results are
// bit-exact with the fixed-point algorithm step that each kernel carries out.
#pragma once

#include "fr_basic_op.h"
#include "gsmfr.h"

// ---- Front end and short-term (LPC) path ----

// Down-scaling, offset compensation and pre-emphasis of 160 input samples into so.
void fr_Gsm_Preprocess(GSMFR_ENCSTRUCT* S, const Word16* s_in, Word16* so);
// Clears s[160..171], then L_ACF[k] = 2 * sum s[i] * s[i + k], k = 0..8.
void fr_Autocorrelation_ACF(Word16* s, Word32* L_ACF);
// Steps 1..7 of the Schur recursion on P and K; returns 1 when it stopped early.
Word32 fr_Reflection_coefficients_Loop(Word16* r, Word16* P, Word16* K);
// Fractional quotient floor(num * 32768 / den) for 0 <= num <= den (32767 when equal).
Word16 fr_div_s(Word16 num, Word16 den);
// Quantises and codes 8 LARs (LAR and LARc may be the same array).
void fr_Quantization_and_coding(const Word16* LAR, Word16* LARc);
// Decodes 8 coded LARs.
void fr_DecLAR(const Word16* LARc, Word16* LARpp);
// LAR interpolation for the four stretches of a frame.
void fr_Coefficients_0_12(const Word16* LARpp_j_1, const Word16* LARpp_j, Word16* LARp);
void fr_Coefficients_13_26(const Word16* LARpp_j_1, const Word16* LARpp_j, Word16* LARp);
void fr_Coefficients_27_39(const Word16* LARpp_j_1, const Word16* LARpp_j, Word16* LARp);
void fr_Coefficients_40_159(const Word16* LARpp_j, Word16* LARp);
// Interpolated LARs to reflection coefficients, in place.
void fr_LARp_to_rp(Word16* LARp);
// Lattice analysis of k_n samples in place; memory u[0..7] (u[8] is scratch).
void fr_Short_term_analysis_filtering(Word16* u, const Word16* rp, Word16 k_n, Word16* s);
// Lattice synthesis of k samples from wt into sr (may be the same array); memory v[0..8].
void fr_Short_term_synthesis_filtering(Word16* v, const Word16* rrp, Word16 k, const Word16* wt,
                                       Word16* sr);
// De-emphasis, up-scaling and truncation of 160 samples in place.
void fr_Postprocessing(Word16* msr, Word16* s);

// ---- Long-term prediction and RPE ----

// Largest cross-correlation (doubled) of d scaled by scal with dp[-120..-1] over lags 40..120.
Word32 fr_CalcLTP_CrossCorrelate(const Word16* d, const Word16* dp, Word16 scal, Word16* Nc);
// Doubled power of 40 samples scaled down by 8.
Word32 fr_CalcLTP_ComputePower(const Word16* dp_minus_Nc);
void fr_Long_term_analysis_filtering(Word16 bc, Word16 Nc, const Word16* dp, const Word16* d,
                                     Word16* dpp, Word16* e);
void fr_Gsm_Long_Term_Synthesis_Filtering(Word16* nrp, Word16 Ncr, Word16 bcr, const Word16* erp,
                                          Word16* drp);
// e points at e[-5]; reads e[-5..44].
void fr_Weighting_filter(const Word16* e_minus_5, Word16* x);
void fr_RPE_grid_selection_reorder(Word16* y, const Word16* x);
void fr_RPE_grid_selection_CalcMax(const Word16* y, Word32* EM);
void fr_APCM_quantization_Calc_xMc(const Word16* xM, Word16* xMc, Word16 exp, Word16 mant);
// Writes 16 values; the first 13 are meaningful.
void fr_APCM_inverse_quantization(const Word16* xMc, Word16 mant, Word16 exp, Word16* xMp);
void fr_RPE_grid_positioning(Word16 Mc, const Word16* xMp, Word16* ep);

// ---- Comfort noise, VAD steps and utilities ----

Word16 fr_pseudonoise(Word32* seed, Word16 no_bits);
void fr_GenCN(Word16* Mc, Word16* xMc, Word32* seed);
void fr_interpolate_CN_vec4(const Word16* old_v, const Word16* new_v, Word16* out, Word16 pos);
void fr_interpolate_CN_vec8(const Word16* old_v, const Word16* new_v, Word16* out, Word16 pos);
// sacf needs 12 entries; 9 are meaningful.
void fr_energy_computation_Loop1(const Word32* L_ACF, Word16* sacf, Word16 shift);
void fr_step_up(const Word16* rc, Word16* aav1, Word32* L_coef, Word32* L_work);
Word16 fr_compute_rav1(const Word16* aav1, Word16* rav1);

void fr_Copy4(const Word16* src, Word16* dst);
void fr_Copy8(const Word16* src, Word16* dst);
void fr_Copy120(const Word16* src, Word16* dst);  // overlapping arrays allowed
void fr_Vec_shr40(const Word16* src, Word16* dst, Word16 n);
void fr_Vec_shl160(const Word16* src, Word16* dst, Word16 n);
void fr_Vec_mult_r160(const Word16* src, Word16* dst, Word16 f);
void fr_Vec_add40(const Word16* a, const Word16* b, Word16* dst);
Word16 fr_Vec_max_abs_gt(const Word16* x, Word16 n);
Word32 fr_Vec_L_mac8(const Word16* a, const Word16* b, Word32 L);
void fr_Set_zero4(Word16* p, Word16 n);
void fr_FrameSave_NEON(Word16* area);
void fr_FrameRestore_NEON(const Word16* area);

// Plain fills and copies of L words.
void fr_Set_zero(Word16* x, Word16 L);
void fr_Set_const(Word16* x, Word16 value, Word16 L);
void fr_Copy(const Word16* src, Word16* dst, Word16 L);
