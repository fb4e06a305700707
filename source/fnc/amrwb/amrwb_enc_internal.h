// Internal routines of the AMR-WB encoder.
#pragma once

#include "amrwb_encoder.h"

// Pitch analysis.
void amr_wb_Hp_wsp(const Word16* signal, Word16* out, Word16 lg, Word16* mem);
void amr_wb_scale_mem_Hp_wsp(Word16* mem, Word16 exp);
void amr_wb_LP_Decim2(Word16* x, Word16* mem);
Word16 amr_wb_Med_olag(Word16 prev_ol_lag, Word16* old_ol_lag);
Word16 amr_wb_Pitch_med_ol(const Word16* wsp, Word16 L_frame, Word16 L_0, Word16* gain, Word16* hp_wsp_mem,
                           Word16* old_hp_wsp, Word16 wght_flg);
Word16 amr_wb_Pitch_OL(wb_amr_Coder_State* st, const Word16* speech, Word16* wsp, Word16 exp, const Word16* A,
                       Word16* Ap, Word16 ser_size, Word16* ret_shift);
void amr_wb_ReverseImpResp(const Word16* h, Word16* hrev);
void amr_wb_Norm_Corr(const Word16* exc, const Word16* xn, const Word16* h, Word16 t_min, Word16 t_max,
                      Word16* corr_norm);
Word16 amr_wb_Pitch_fr4(const Word16* exc, const Word16* xn, const Word16* h, Word16 t0_min, Word16 t0_max,
                        Word16* pit_frac, Word16 i_subfr, Word16 t0_fr2, Word16 t0_fr1);
Word16 amr_wb_G_pitch(const Word16* xn, const Word16* y1, Word16* g_coeff);
Word16 amr_wb_Gp_clip(const Word16* mem);
void amr_wb_Gp_clip_test_isf(const Word16* isf, Word16* mem);
void amr_wb_Gp_clip_test_gain_pit(Word16 gain_pit, Word16* mem);
void amr_wb_Scale_sig(Word16* x, Word16 lg, Word16 exp);

// Algebraic codebook.
Word32 amr_wb_quant_1p_N1(Word16 pos, Word16 N);
Word32 amr_wb_quant_2p_2N1(Word16 N, Word16 pos1, Word16 pos2);
Word32 amr_wb_quant_3p_3N1(Word16 N, Word16 pos1, Word16 pos2, Word16 pos3);
Word32 amr_wb_quant_4p_4N1(Word16 pos1, Word16 pos2, Word16 pos3, Word16 pos4, Word16 N);
Word32 amr_wb_quant_4p_4N(const Word16* pos, Word16 N);
Word32 amr_wb_quant_5p_5N(const Word16* pos, Word16 N);
Word32 amr_wb_quant_6p_6N_2(const Word16* pos, Word16 N);
void amr_wb_cor_h_x(const Word16* h, const Word16* x, Word16* dn);
void amr_wb_ACELP_set_sign(Word16* dn, const Word16* cn, Word16* sign, Word16* vec, Word16* dn2, Word16 alp);
void amr_wb_ACELP_2t64_fx(Word16* dn, const Word16* cn, const Word16* H, Word16* code, Word16* y, Word16* index);
void amr_wb_ACELP_4t64_fx(Word16* dn, const Word16* cn, const Word16* H, Word16* code, Word16* y, Word16 nbbits,
                          Word16 ser_size, Word16* index);

// Gains, filters, high band.
Word16 amr_wb_Q_gain2(const Word16* xn, const Word16* y1, Word16 Q_xn, const Word16* y2, const Word16* code,
                      const Word16* g_coeff, Word16 nbits, Word16* gain_pit, Word32* gain_cod, Word16 gp_clip,
                      Word16* mem);
void amr_wb_NoiseEnhancer(Word16 voice_fac, Word16 stab_fac, Word32* L_gain_code, Word32* L_gc_thres);
Word16 amr_wb_UpdateFilterMem(const Word16* xn, const Word16* y1, const Word16* y2, Word16 gain_code,
                              Word16 gain_pit, Word16 shift);
Word16 amr_wb_cod_synthesis(const Word16* Aq, Word16* exc, Word16 Q_new, const Word16* synth16k,
                            wb_amr_Coder_State* st);
Word16 amr_wb_QuantiseCorrGain(Word16 dtxHangoverCount, Word16 HP_est_gain, Word16 HP_calc_gain,
                               Word16* gain_alpha);

// What the high-band gain quantiser of one subframe saw and chose.  The encoder
// reports every subframe (speech and SID frames) to amr_wb_hf_gain_observed; the
// library's own definition ignores it, a test may link its own to watch the values.
struct amr_wb_HfGainObservation {
    Word16 dtxHangoverCount;
    Word16 HP_est_gain;
    Word16 HP_calc_gain;
    Word16 gain_alpha;  // before this subframe's update
    Word16 index;
};
void amr_wb_hf_gain_observed(const amr_wb_HfGainObservation& seen);
void amr_wb_Decim_12k8(const Word16* sig16k, Word16 lg, Word16* sig12k8, Word16* mem);
