// Generic G.729-family routine set: fixed-point building blocks of the G.729 main body and its
// reduced-complexity, discontinuous-transmission and 11.8 kbit/s forms, as a library beside the
// live G.729 codec. No codec of the system calls it; there is no frame-level codec inside.
//
// All state lives in the caller's records (G729ABENCSTATE, G729ABDECSTATE) and arguments, so any
// number of records work side by side. The one process-wide thing is the shared basic operators'
// Overflow flag, which several routines clear and read: the set is single-threaded.
//
// Where a routine computes exactly what the live codec computes, it is a thin adapter over the
// codec's routine (see g729/g729_internal.h); the rest is own code here.
#pragma once

#include <cstdint>

#include "basicop.h"

using FASTINT = int;

// Second-order high-pass memory: outputs keep the full accumulator, inputs one sample each.
struct G729_2ND_HIGHPASS {
    SINT32 y2;
    SINT32 y1;
    SINT32 x0;
    SINT32 x1;
};

// Five gain-quantiser terms followed by their five exponents.
struct GCOEFF {
    SINT16 g_coeff_exp[10];
};

struct G729ABENC {
    SINT16 old_speech[240];
    SINT16 old_wsp[224];
    SINT16 old_exc[234];
    SINT16 old_A_fwd[11];
    SINT16 old_rc_fwd[2];
    SINT16 lsp_old[10];
    SINT16 lsp_old_q[10];
    SINT16 mem_w0[10];
    SINT16 past_qua_en[4];
    SINT16 freq_prev[4][10];
    SINT32 L_exc_err[4];
    SINT16 sharp;
    G729_2ND_HIGHPASS hp_state;
    SINT16 pastVad;
    SINT16 ppastVad;
    SINT16 seedb;
    SINT16 lspSid_q[10];
    SINT16 pastCoeff[11];
    SINT16 RCoeff[11];
    SINT16 Acf[22];
    SINT16 sh_Acf[2];
    SINT16 ener[2];
    SINT16 sh_ener[2];
    SINT16 sumAcf[33];
    SINT16 sh_sumAcf[3];
    SINT16 sh_RCoeff;
    SINT16 cur_gain;
    SINT16 sid_gain;
    SINT16 fr_cur;
    SINT16 flag_chang;
    SINT16 nb_ener;
    SINT16 prev_energyd;
    SINT16 count_fr0;
    // Voice activity detector.
    SINT16 MeanLSF[10];
    SINT16 Min_buffer[16];
    SINT16 Prev_Min;
    SINT16 Next_Min;
    SINT16 Min;
    SINT16 MeanE;
    SINT16 MeanSE;
    SINT16 MeanSLE;
    SINT16 MeanSZC;
    SINT16 prev_energyv;
    SINT16 count_sil;
    SINT16 count_update;
    SINT16 count_ext;
    SINT16 flag;
    SINT16 v_flag;
    SINT16 less_count;
    SINT16 vad_enable;
};

struct G729ABENCSTATE {
    G729ABENC stateVar;
};

struct G729ABDEC {
    SINT16 old_exc[234];
    SINT16 lsp_old[10];
    SINT16 synth_buf[90];
    SINT16 prev_lsp[10];
    SINT16 past_qua_en[4];
    SINT16 freq_prev[4][10];
    SINT16 gain_code;
    SINT16 gain_pitch;
    SINT16 prev_T0;
    SINT16 prev_ma;
    G729_2ND_HIGHPASS hp_state;
    SINT16 sharp;
    SINT16 seed;
    SINT16 res2_buf[184];
    SINT16 scal_res2_buf[184];
    SINT16 mem_syn_pst[10];
    SINT16 mem_pre;
    SINT16 past_gain;
    SINT16 past_ftyp;
    SINT16 seedb;
    SINT16 sid_sav;
    SINT16 sh_sid_sav;
    SINT16 lspSid[10];
    SINT16 cur_gain;
    SINT16 sid_gain;
};

struct G729ABDECSTATE {
    G729ABDEC stateVar;
};

// Memory helpers of the DSP framework: byte-wise, ascending addresses; n <= 0 does nothing.
void QRN_memcpy(void* dst, const void* src, int n);
void QRN_memset(void* dst, int value, int n);

namespace gcommon {

using Rows10 = SINT16 (*)[10];
using CRows10 = const SINT16 (*)[10];

// --- double-precision helpers (L = hi·2^16 + lo·2) ---
void L_Extract(SINT32 L, SINT16* hi, SINT16* lo);
SINT32 Mpy_32_16(SINT16 hi, SINT16 lo, SINT16 n);
SINT32 Mpy_32(SINT16 hi1, SINT16 lo1, SINT16 hi2, SINT16 lo2);
SINT32 Mpy_32_32(SINT32 a, SINT32 b);
SINT32 Div_32_32(SINT32 L_num, SINT32 denom);
SINT16 g729a_mult(SINT16 a, SINT16 b);
SINT16 pitch_abs(SINT16 a);
void clrOverflow();
SINT16 isOverflow();

// --- linear prediction and LSP ---
void g729Autocorr(const SINT16* x, int m, SINT32* r, int* exp_R0, void* scratchp);
void g729Lag_window(SINT16 m, SINT32* r, const SINT32* lag_p);
void g729aLevinson(const SINT32* R, SINT16* A, SINT16* rc, SINT16* old_A, SINT16* old_rc, SINT16* Err, SINT16 annexFlag);
void g729Levinson(const SINT32* R, SINT16* A, SINT16* rc, SINT16* old_A, SINT16* old_rc);
void g729eLevinson(const SINT32* R, SINT16* A, SINT16* rc, SINT16* old_A, SINT16* old_rc);
void g729Weight_Az(const SINT16* a, SINT16 gamma, SINT16 m, SINT16* ap);
void g729aLowpassAz(SINT16* aout, const SINT16* ain);
SINT16 g729SumDifPoly(const SINT16* a, SINT32 (*f)[6], int qmod);
SINT32 g729Chebps_xx(SINT32 x, const SINT32* f);
void g729Az_lsp(const SINT16* a, SINT16* lsp, const SINT16* old_lsp, int ord, const SINT16* gridp, SINT16 grid_points);
void g729Get_lsp_pol(const SINT16* lsp, SINT32* f);
void g729Lsp_Az(const SINT16* lsp, SINT16* a);
void g729Lsf_lsp2(const SINT16* lsf, SINT16* lsp, SINT16 m);
void g729Lsp_lsf2(const SINT16* lsp, SINT16* lsf, SINT16 m);
void g729Lsp_lsf(const SINT16* lsp, SINT16* lsf, SINT16 m);
void g729Int_lpc(const SINT16* lsp_old, const SINT16* lsp_new, SINT16* lsf_int, SINT16* lsf_new, SINT16* Az);
void g729Int_qlpc(SINT16* lsp_old, const SINT16* lsp_new, SINT16* Az);
void g729aD_lsp(const SINT16* prm, SINT16* lsp_q, SINT16 erase, Rows10 freq_prev, SINT16* prev_lsp, SINT16* prev_ma);
void g729aLsp_get_quant(SINT16 code0, SINT16 code1, SINT16 code2, CRows10 fgp, Rows10 freq_prev, SINT16* lspq, const SINT16* fg_sump);
void g729aLsp_expand(SINT16* buf, SINT16 gap, int len);
void g729Lsp_expand_1_2(SINT16* buf, SINT16 gap);
void g729Lsp_expand_1(SINT16* buf, SINT16 gap);
void g729Lsp_expand_2(SINT16* buf, SINT16 gap);
void g729Lsp_prev_compose(const SINT16* lsp_ele, SINT16* lsp, CRows10 fgp, CRows10 freq_prev, const SINT16* fg_sump);
void g729Lsp_prev_extract(const SINT16* lsp, SINT16* lsp_ele, CRows10 fgp, CRows10 freq_prev, const SINT16* fg_sum_invp);
void g729Lsp_prev_update(const SINT16* lsp_ele, Rows10 freq_prev);
void g729Lsp_stability(SINT16* buf);

// --- 32-bit Levinson helpers, LSP codebook selection ---
void g729Lsp_pre_select(const SINT16* rbuf, SINT16* cand);
void g729aLsp_select(const SINT16* rbuf1, const SINT16 (*lspcbp)[5], const SINT16* wegt, SINT16* indexp);
void g729Lsp_select_1(const SINT16* rbuf, const SINT16* lspcb1p, const SINT16* wegt, SINT16* indexp);
void g729Lsp_select_2(const SINT16* rbuf, const SINT16* lspcb1p, const SINT16* wegt, SINT16* indexp);
void g729Lsp_get_tdist(const SINT16* wegt, const SINT16* buf, SINT32* L_tdist, const SINT16* rbuf, const SINT16* fg_sump);

// --- LSP quantiser, Annex E LSP decoding, pitch tracking ---
void g729Qua_lspa(const SINT16* lsp, SINT16* lsp_q, SINT16* ana, Rows10 freq_prev);
void g729Relspwede(const SINT16* lsp, const SINT16* wegt, SINT16* lspq, Rows10 freq_prev, SINT16* code_ana);
void g729Get_wegt(const SINT16* flsp, SINT16* wegt);
void g729D_lspe(const SINT16* prm, SINT16* lsp_q, SINT16 erase, Rows10 freq_prev, SINT16* prev_lsp, SINT16* prev_ma);
void g729eLsp_get_quante(SINT16 code0, SINT16 code1, SINT16 code2, CRows10 fgp, CRows10 freq_prev, SINT16* lspq,
                         const SINT16* fg_sump, SINT16* freq_cur);
void g729Track_pit(SINT16* T0, SINT16* T0_frac, SINT16* prev_pitch, SINT16* stat_pitch, SINT16* pitch_sta, SINT16* frac_sta);

// --- bitstream: packed 16-bit words, most significant bit first ---
int g729Prm2bits_ld8e(const SINT16* prm, std::uint16_t* bits);
void g729Bits2prm_ld8e(const std::uint16_t* bits, SINT16* prm, int frameType);

// --- correlations, algebraic codebook, lag coding, gains ---
void g729Cor_h(const SINT16* H, SINT16* rr);
void g729Cor_h_X(const SINT16* h, const SINT16* X, SINT16* D);
void g729Corr_xy2(const SINT16* xn, const SINT16* y1, const SINT16* y2, GCOEFF* g_coeff_new);
void Find2Max(int nStart, const SINT16* inPtr, SINT16* outPtr);
SINT16 g729aD4i40_17_fast(SINT16* dn, SINT16* rr, const SINT16* h, SINT16* cod, SINT16* y, SINT16* sign);
SINT16 g729aACELP_Code_A(const SINT16* x, SINT16* h, int T0, SINT16 pitch_sharp, SINT16* code, SINT16* y, SINT16* sign,
                         SINT16* scratchp);
void g729Decod_ACELP(SINT16 sign, SINT16 idx, SINT16* cod);
SINT16 g729Enc_lag3(SINT16 T0, SINT16 T0_frac, SINT16* T0_min, SINT16* T0_max, SINT16 pit_min, SINT16 pit_max, SINT16 pit_flag);
void g729Dec_lag3(SINT16 idx, SINT16 i_subfr, SINT16* T0, SINT16* T0_frac);
void g729Dec_gain(SINT16 idx, const SINT16* code, SINT16 bfi, SINT16* gain_pit, SINT16* gain_cod, SINT16* past_qua_en);
void g729eDec_gaine(SINT16 idx, const SINT16* code, SINT16 bfi, SINT16* gain_pit, SINT16* gain_cod, SINT16* past_qua_en,
                    SINT16 rate, SINT16* c_muting, SINT16 count_bfi, SINT16 stationnary);
void g729Gbk_presel(const SINT16* best_gain, SINT16* cand1, SINT16* cand2, SINT16 gcode0);
SINT32 BlockCorMax4_40(int nSamps, const SINT16* inPtr, const SINT16* cPtr, int* pInd);

// --- pitch, synthesis, gain prediction, post-processing ---
int g729aPitch_ol_fast(const SINT16* signal, void* scratchp);
SINT16 g729aPitch_ol_fast_Section1_2(const SINT16* scaled_signal_odd, const SINT16* scaled_signal_even, int loopCount, int index,
                                     int* T);
int g729aPitch_fr3_fast(SINT16* exc, const SINT16* xn, const SINT16* h, int t0_min, int t0_max, int i_subfr, int* pit_frac);
SINT32 g729aDot_Product(const SINT16* x, const SINT16* y);
SINT16 g729G_pitch(const SINT16* xn, const SINT16* y1, GCOEFF* g_coeff_new);
SINT16 g729Parity_Pitch(int pitch_index);
SINT16 g729Check_Parity_Pitch(int pitch_index, SINT16 parity);
void g729Pred_lt_3(SINT16* exc, int T0, SINT16 frac);
void g729Pred_lt_3_Simple(SINT16* exc, int T0, SINT16 frac);
void g729Residue(SINT16 m, const SINT16* a, const SINT16* x, SINT16* y);
void g729aResidual(const SINT16* a, const SINT16* x, SINT16* y);
SINT16 g729Syn_filte(const SINT16* a, const SINT16* x, SINT16* y, SINT16 lg, SINT16 m, SINT16* mem, SINT16 update);
SINT16 g729aSyn_filt(const SINT16* a, const SINT16* x, SINT16* y, SINT16 lg);
void g729Pre_Process(G729_2ND_HIGHPASS* statep, SINT16* signal, SINT16 lg);
void g729Post_Process(G729_2ND_HIGHPASS* statep, SINT16* signal, SINT16 lg);
void g729aPost_Filter(G729ABDECSTATE* statep, SINT16* syn, const SINT16* Az_4, const SINT16* T, SINT16 Vad);
SINT16 g729Test_err(int T0, int T0_frac, const SINT32* L_exc_err);
void g729Update_exc_err(SINT16 gain_pit, int T0, SINT32* L_exc_err);
void g729Gain_predict(const SINT16* past_qua_en, const SINT16* code, SINT16* gcode0, int* exp_gcode0);
void g729Gain_update(SINT16* past_qua_en, SINT32 L_gbk12);
void g729Gain_update_erasure(SINT16* past_qua_en);
void g729aPerWeightErr(SINT16* ewn, const SINT16* xn, const SINT16* yn, const SINT16* zn, SINT16 gp, SINT16 gc);
void g729aAgc(const SINT16* sig_in, SINT16* sig_out, SINT16* past_gainp);
SINT16 g729aPit_pst_filt(const SINT16* signal, const SINT16* scal_sig, int t0_min, int t0_max, SINT16* signal_pst);
void g729aPreemphasis(SINT16* signal, SINT16 g, SINT16* mem_pre);

// --- Annex B: VAD, SID quantisers, comfort noise ---
void g729bVad(G729ABENCSTATE* encloclp, SINT16 rc, const SINT16* lsf, const SINT32* r, int exp_R0, const SINT16* sigpp,
              SINT16 frm_count, int* marker);
void g729bLsfq_noise(const SINT16* lsp, SINT16* lspq, Rows10 freq_prev, SINT16* ana);
void g729bQnt_e(const SINT16 (*errlsf)[10], const SINT16* weight, SINT16 DIn, SINT16* qlsf, SINT16* Pptr, SINT16 DOut,
                SINT16* cluster, const SINT16* MS);
void g729bNew_ML_search_1(const SINT16 (*d_data)[10], SINT16 J, SINT16 (*new_d_data)[10], SINT16 K, SINT16* best_indx,
                          SINT16* ptr_back, const SINT16* PtrTab, SINT16 MQ);
void g729bNew_ML_search_2(const SINT16 (*d_data)[10], const SINT16* weight, SINT16 J, SINT16 (*new_d_data)[10], SINT16 K,
                          SINT16* best_indx, const SINT16* ptr_prd, SINT16* ptr_back, const SINT16 (*PtrTab)[16], SINT16 MQ);
void g729bQua_Sidgain(const SINT16* ener, const SINT16* sh_ener, SINT16 nb_ener, SINT16* enerq, SINT16* idx);

void g729bCod_cng(G729ABENCSTATE* encloclp, SINT16* exc, SINT16* lsp_old_q, SINT16* Aq, SINT16* ana, Rows10 freq_prev, int m,
                  const SINT16* gridp, SINT16 grid_points);
void g729bDec_cng(G729ABDECSTATE* decloclp, const SINT16* parm, SINT16* exc, SINT16* lsp_old, SINT16* A_t, Rows10 freq_prev);
void g729bCalc_exc_rand(SINT16 cur_gain, SINT16* exc, SINT16* seed, SINT16 flag_cod, SINT32* L_exc_err);
SINT16 g729bGauss(SINT16* seed);
void g729bCalc_sum_acf(const SINT16* acf, const SINT16* sh_acf, SINT16* sum, SINT16* sh_sum, int nb);
void g729bCalc_pastfilt(SINT16* Coeff, const SINT16* sumAcf, const SINT16* sh_sumAcf, SINT16* old_A, SINT16* old_rc);
SINT16 g729bCmp_filt(const SINT16* RCoeff, SINT16 sh_RCoeff, const SINT16* acf, SINT16 alpha, SINT16 FracThresh);
void g729bCalc_RCoeff(const SINT16* Coeff, SINT16* RCoeff, SINT16* sh_RCoeff);
void g729bUpdate_sumAcf(const SINT16* Acf, const SINT16* sh_Acf, SINT16* sumAcf, SINT16* sh_sumAcf);
void g729bUpdate_cng(G729ABENCSTATE* encloclp, const SINT16* r_h, SINT16 exp_r, SINT16 Vad);
void g729bSid_lsfq_decode(const SINT16* indexp, SINT16* lspq, Rows10 freq_prev);

}  // namespace gcommon
