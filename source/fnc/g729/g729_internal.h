// Internal routines of the G.729 Annex A/B codec shared between its encoder, decoder and
// comfort-noise code. Not for use outside the codec.
#pragma once

#include "g729.h"
#include "g729_kernels.h"

namespace g729 {

constexpr int kFrame = 80;
constexpr int kSubfr = 40;
constexpr int kPitMin = 20;
constexpr int kPitMax = 143;
constexpr int kSharpMin = 3277;
constexpr int kSharpMax = 13017;

// Maths routines.
W16 g729ab_Sqrt(W32 num);
W32 g729ab_Pow2(W16 exponent, W16 fraction);
void g729ab_Log2(W32 L_x, W16* exponent, W16* fraction);
W32 g729ab_Inv_sqrt(W32 L_x);
W32 g729ab_MPY_32(W32 a, W32 b);
W32 g729ab_DIV_32(W32 num, W32 den);
void g729ab_Copy(const W16* src, W16* dst, int n);
inline void g729ab_Copy10(const W16* src, W16* dst) { g729ab_Copy(src, dst, 10); }
void g729ab_Vec_Add(const W16* a, const W16* b, W16* out, int n);
void g729ab_Vec_Sub(const W16* a, const W16* b, W16* out, int n);
void g729ab_Vec_SubMult(const W16* a, const W16* b, W16* out, W16 k, int n);
void g729ab_Vec_add_prev_mult(W16* x, W16 k, int T);

// LPC analysis and LSPs.
W16 g729ab_Autocorr(const W16* x, W32* r, const W16* window);
void g729ab_Lag_window(W32* r);
void g729ab_Levinson(const W32* r, W16* A, W16* old_A, W16* rc, W16* old_rc, W16* err);
void g729ab_Az_lsp(const W16* a, W16* lsp, const W16* old_lsp);
void g729ab_Lsp_lsf(const W16* lsp, W16* lsf);
void g729ab_Lsp_lsf2(const W16* lsp, W16* lsf);
void g729ab_Lsf_lsp2(const W16* lsf, W16* lsp);
void g729ab_Get_lsp_pol(const W16* lsp, W32* f);
void g729ab_Lsp_Az(const W16* lsp, W16* a);
void g729ab_Int_qlpc(const W16* lsp_old, const W16* lsp_new, W16* Az);
void g729ab_Qua_lsp(const W16* lsp, W16* lsp_q, W16 (*freq_prev)[10], W16* ana);
int g729ab_Lsp_last_select(const W32* L_tdist);
void g729ab_Lsp_expand_1_2(W16* buf, W16 gap);
void g729ab_Lsp_stability(W16* buf);
void g729ab_Lsp_prev_update(const W16* lsp_ele, W16 (*freq_prev)[10]);
void g729ab_Lsp_get_quant(int code0, int code1, int code2, const W16 (*fg)[10], W16 (*freq_prev)[10], W16* lsf_q, const W16* fg_sum);
void g729ab_D_lsp(const W16* prm, W16* lsp_q, int erase, G729NUNIDEC* st);
void g729ab_Lsp_iqua_cs(const W16* prm, W16* lsf_q, int erase, G729NUNIDEC* st);
// Element k of first-stage codeword c from the interleaved codebook.
inline W16 g729Lspcb1(int c, int k);

// Pitch.
W16 g729ab_Pitch_ol_fast(W16* wsp);
W16 g729ab_Pitch_fr3_fast(W16* exc, const W16* xn, const W16* h, int t0_min, int t0_max, int i_subfr, W16* frac);
W16 g729ab_G_pitch(const W16* xn, const W16* y1, W16* g_coeff);
W16 g729ab_Enc_lag3(W16 T0, W16 T0_frac, W16* T0_min, W16* T0_max, int i_subfr);
void g729ab_Dec_lag3(W16 index, int i_subfr, W16* T0, W16* T0_frac);
W16 g729ab_Parity_Pitch(W16 index);

// Algebraic codebook.
W16 g729ab_ACELP_Code_A(const W16* x, W16* h, W16 T0, W16 sharp, W16* code, W16* y, W16* sign);
void g729ab_Cor_h_X(const W16* h, const W16* x, W16* dn);
void g729ab_Corr_xy2(const W16* xn, const W16* y1, const W16* y2, W16* g_coeff, W16* exp_g_coeff);
void g729ab_Decod_ACELP(W16 sign, W16 index, W16* cod);

// Gains and taming.
W16 g729ab_Qua_gain(const W16* code, const W16* g_coeff, const W16* exp_coeff, W16* past_qua_en, W16* gain_pit, W16* gain_code,
                    int tameflag);
W16 g729ab_Gain_predict(const W16* past_qua_en, const W16* code, W16* gcode0);
void g729ab_Gain_update(W16* past_qua_en, W32 L_gbk12);
void g729ab_Gain_update_erasure(W16* past_qua_en);
int g729ab_test_err(W16 T0, W16 T0_frac, const W32* L_exc_err);
void g729ab_update_exc_err(W16 gain_pit, W16 T0, W32* L_exc_err);
void g729ab_Dec_gain(W16 index, const W16* code, int bfi, W16* past_qua_en, W16* gain_pit, W16* gain_cod);

// Annex B.
void g729ab_vad(W16 rc, const W16* lsf, const W32* r, W16 exp_R0, const W16* sigpp, W16 prev_marker, W16 pprev_marker, W16* marker,
                G729NUNIENC* st);
void g729ab_Update_cng(W16 exp_r, W16 vad, const W16* r_h, G729NUNIENC* st);
void g729ab_Cod_cng(W16* exc, W16 pastVad, W16* lsp_old_q, W16* Aq, W16* ana, W16 (*freq_prev)[10], W16* seed, W32* L_exc_err,
                    G729NUNIENC* st);
void g729ab_Calc_sum_acf(const W16* acf, const W16* sh_acf, W16* sum, W16* sh_sum, int nb);
void g729ab_Calc_RCoeff(const W16* coeff, W16* RCoeff, W16* sh_RCoeff);
void g729ab_lsfq_noise(const W16* lsp_new, W16* lspq, W16 (*freq_prev)[10], W16* ana);
W16 g729ab_Qua_Sidgain(const W16* ener, const W16* sh_ener, int nq, W16* enerq);
void g729ab_Calc_exc_rand(W16 cur_gain, W16* exc, W16* seed, W32* L_exc_err, int flag_cod);
void g729ab_Dec_cng(W16 past_ftyp, W16 sid_sav, W16 sh_sid_sav, const W16* parm, W16* exc, W16* lsp_old, W16* A_t, W16* seed,
                    W16 (*freq_prev)[10], G729NUNIDEC* st);

// Encoder, decoder and post-filter frames.
void g729ab_Init_Coder_ld8a(G729NUNIENC* st, W16 vad);
void g729ab_Coder_ld8a(const W16* in, W16* serial, G729NUNIENC* st);
void g729ab_Init_Decod_ld8a(G729NUNIDEC* st);
void g729ab_Decod_ld8a(const W16* serial, W16* synth_out, G729NUNIDEC* st);
void g729ab_Post_Filter(W16* synth, G729NUNIDEC* st, const W16* Az_4, const W16* T, W16 vad);

// Sub-routines, declared for their unit tests.
void g729ab_Pitch_ol_fast_sum_and_scale(W16* wsp, W16* even, W16* odd);
W16 g729ab_Pitch_ol_fast_sec1_2(const W16* even, const W16* odd, int first, W16* lag);
W16 g729ab_Pitch_ol_fast_sec3(const W16* even, const W16* odd, W16* lag);
void g729ab_Cor_h(const W16* H, W16* rr);
W16 g729ab_D4i40_17_fast(W16* dn, W16* rr, const W16* h, W16* code, W16* y, W16* sign);
void g729ab_Gbk_presel(const W16* best_gain, W16* cand1, W16* cand2, W16 gcode0);
void g729ab_Qua_gainLoop1(const W32* coeff, W16 cand1, W16 cand2, W16 gcode0, W16* index1, W16* index2);
void g729ab_Qua_gainLoop2(const W32* coeff, W16 cand1, W16 cand2, W16 gcode0, W16* index1, W16* index2);
W16 g729ab_MakeDec(W16 dSLE, W16 dSE, W16 SD, W16 dSZC);
W16 g729ab_ComputeSD(const W16* lsf, const W16* MeanLSF);
W16 g729ab_FindMinBuf(const W16* buf, W16 min);
void g729ab_VadLoop1(W16* MeanLSF, W16 factor, W16 shift);
void g729ab_VadLoop2(W16* MeanSZC, W16 ZC, W16* MeanLSF, const W16* lsf);
void g729ab_VadLoop3(W16* MeanLSF, const W16* lsf, W16 COEFSD, W16 C_COEFSD);
void g729ab_CheckFramType(const W16* serial, W16* parm);
W16 g729ab_Gen_exc_params(W16* sign, W16* pos, W16* seed, W16* t0);
W32 g729ab_GaussLoop(W16* excg, W16* seed);
W16 g729ab_Gen_exc_max(const W16* excg, W16* cur_exc, W16 Gp2);
int g729ab_Calc_exc_rand_ops(const W16* excs, const W16* excg, const W16* pos, const W16* sign, W16* cur_exc, W16 cur_gain, W16 sh);
void g729ab_FixMinDist(W16* buf);
void g729ab_sid_lsfq_decode(const W16* index, W16* lspq, W16 (*freq_prev)[10]);
void g729ab_Vec_copy_shr(const W16* in, W16* out1, W16* out2);
W32 g729ab_Pitch_delay_correlate(const W16* scal_sig, int t0_min, int t0_max, W16* t0);
void g729ab_pit_pst_filt_loop(const W16* signal, W16* signal_pst, W16 gain, W16 g0, int t0);
void g729ab_pit_pst_filt(const W16* signal, const W16* scal_sig, int t0_min, int t0_max, W16* signal_pst);
void g729ab_agc(const W16* sig_in, W16* sig_out, W16* past_gain);

// Operator and vector copies of the codec.
W16 g729ab_norm_l(W32 x);
W32 g729ab_L_shl(W32 x, int count);
W16 g729ab_shl(W16 x, int count);
void g729ab_Set_zero_even(W16* x, int n);
void g729ab_Vec_Comp(W32* out32, const W16* lo, const W16* hi, int n);
void g729ab_Vec_ExtractL(const W32* in32, W16* lo, W16* hi, int n);
void g729ab_Vec_shl(const W16* in, W16* out, int count, int n);
void g729ab_D4i40_Reorder(const W16* in, W16* trackMajor);

void g729AssertFailed(const char* file, int line);

}  // namespace g729

#include "g729_tables.h"

namespace g729 {
inline W16 g729Lspcb1(int c, int k) { return g729ab_lspcb1_reorder[(c >> 2) * 40 + 4 * k + (c & 3)]; }
}  // namespace g729
