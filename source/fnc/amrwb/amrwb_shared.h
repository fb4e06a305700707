// Routines of the AMR-WB codec shared by its encoder and decoder: the
// arithmetic functions, ISP/ISF conversion and interpolation, LP coefficients
// from ISPs, the ISF dequantisers, the pulse decoders and the common
// low-band synthesis (internal header).
#pragma once

#include "amrwb_types.h"

// ---- arithmetic ------------------------------------------------------------
Word32 amr_wb_L_shr_r(Word32 L, Word16 n);
Word32 amr_wb_Isqrt(Word32 L);
Word32 amr_wb_Pow2(Word16 exponent, Word16 fraction);
Word16 amr_wb_Log2_norm(Word32 L, Word16 exp, Word16* exponent);
// log2 of L: the fraction is returned, the exponent written.
Word16 amr_wb_Log2(Word32 L, Word16* exponent);
Word32 amr_wb_Dot_product12(const Word16* x, const Word16* y, Word16* exp);
Word32 amr_wb_Dot_product12s(const Word16* x, Word16 n, Word16* exp);
Word16 amr_wb_Random(Word16* seed);
Word16 amr_wb_median5(const Word16* x);

// ---- ISP / ISF ---------------------------------------------------------------
void amr_wb_Isp_Az(const Word16* isp, Word16* a, Word16 m, Word16 adaptive_scaling);
void amr_wb_Int_isp(const Word16* isp_old, const Word16* isp_new, Word16* Az);
Word16 amr_wb_CheckStability(const Word16* isf, const Word16* isfold);
void amr_wb_Reorder_isf(Word16* isf);
void amr_wb_Dpisf_2s_46b(const Word16* indice, Word16* isf_q, Word16* past_isfq, Word16* isfold, Word16* isf_buf,
                         Word16 bfi, Word16 enc_dec);
void amr_wb_Dpisf_2s_36b(const Word16* indice, Word16* isf_q, Word16* past_isfq, Word16* isfold, Word16* isf_buf,
                         Word16 bfi, Word16 enc_dec);
void amr_wb_Dpisf_2s_BadFrame(Word16* isf_q, Word16* past_isfq, const Word16* isfold, const Word16* isf_buf);
void amr_wb_Disf_ns(const Word16* indice, Word16* isf_q);
void amr_wb_Isf_Extrapolation(Word16* HfIsf /*20*/);

// ---- excitation and synthesis --------------------------------------------------
void amr_wb_Pit_shrp(Word16* x, Word16 lag);
Word16 amr_wb_voice_factor(const Word16* exc, Word16 Q_exc, Word16 gain_pit, const Word16* code, Word16 gain_code);
void amr_wb_agc2(const Word16* sig_in, Word16* sig_out);
void amr_wb_HP50_12k8(Word16* signal, Word16* mem);
void amr_wb_HP400_12k8(const Word16* signal, Word16* out, Word16* mem);
void amr_wb_Oversamp_18k(const Word16* sig12k8, Word16* sig16k, Word16* mem);
Word16 amr_wb_ModifyNoiseEnergy(Word32 L_hf, Word32 L_exc, Word16 exp, Word16 exp_ener, Word16 exp_offset);
Word16 amr_wb_WhiteNoiseSynthTilt(Word32 r0, Word32 r1, Word16 vad_hist);
// Comfort-noise excitation of 256 samples at the level of L_log (log2 of
// the energy plus 2, Q24): the high half of L_log >> 9 halves it into a level.
void amr_wb_cn_excitation(Word16* exc2, Word16* seed, Word32 L_log);
void amr_wb_Phase_dispersion(Word16 gain_code, Word16 gain_pit, Word16* code, Word16 mode, Word16* disp_mem);

// The fields at the head of both codec states, in order.
struct amr_wb_SynthesisHead {
    Word32 mem_Lsyn[16];
    Word16 mem_syn_hi[16];
    Word16 mem_syn_lo[16];
    Word16 mem_deemph;
    Word16 mem_sig_out[6];
    Word16 mem_oversamp[24];
    Word16 mem_hp400[6];
    Word16 seed2;
    Word16 vad_hist;
};
Word16 amr_wb_common_synthesis(amr_wb_SynthesisHead* st, const Word16* Aq, Word16* exc, Word16 Q_new,
                               Word16* synth16k, Word16* HF);

// ---- pulse positions -------------------------------------------------------------
void amr_wb_dec_1p_N1(Word32 index, Word16 N, Word16 offset, Word16* pos);
void amr_wb_dec_2p_2N1(Word32 index, Word16 N, Word16 offset, Word16* pos);
void amr_wb_dec_3p_3N1(Word32 index, Word16 N, Word16 offset, Word16* pos);
void amr_wb_dec_4p_4N1(Word32 index, Word16 N, Word16 offset, Word16* pos);
void amr_wb_dec_4p_4N(Word32 index, Word16 N, Word16 offset, Word16* pos);
void amr_wb_dec_5p_5N(Word32 index, Word16 N, Word16 offset, Word16* pos);
void amr_wb_dec_6p_6N_2(Word32 index, Word16 N, Word16 offset, Word16* pos);
void amr_wb_DEC_ACELP_4t64_fx(const Word16* index, Word16 nbbits, Word16* code);
void amr_wb_DEC_ACELP_2t64_fx(Word16 index, Word16* code);
