// Kernels of the AMR-NB / EFR code base: the inner loops, fused loop groups and
// arithmetic primitives that the encoder and decoder frame code hands off.
//
// Every kernel is portable C++ with the stated fixed-point arithmetic: sums of
// products are kept in four saturating 32-bit partial sums (lane q takes the
// terms whose index is q modulo 4) combined as sat(sat(p0 + p2) + sat(p1 + p3))
// unless the kernel says otherwise.  Kernels allocate nothing, report no errors
// and keep no state between calls; persistent memories are the caller's.
// Buffers: a kernel reads and writes only inside the arrays whose sizes its
// comment states; callers size their arrays accordingly.
#pragma once

#include "amrefr_types.h"

// ---------------------------------------------------------------------------
// State records the kernels touch.

struct GSMAMR_LevinsonState {
    Word16 old_A[11];  // last stable LPC set, Q12
};

struct GSMAMR_Pre_ProcessState {
    Word16 x1;
    Word16 x0;
    Word32 L_y2;
    Word32 L_y1;
};

struct GSMAMR_preemphasisState {
    Word16 mem_pre;
};

// ---------------------------------------------------------------------------
// Frame bracket.  These kernels preserve the registers the calling convention
// reserves (they are compiled C++), so the bracket only marks the frame.
void amrefr_FrameSave_NEON(Word16* area);
void amrefr_FrameRestore_NEON(const Word16* area);

// ---------------------------------------------------------------------------
// Fixed-point arithmetic.
Word16 amrefr_div_s(Word16 var1, Word16 var2);
Word32 amrefr_Inv_sqrt(Word32 L_x);
void amrefr_Log2_norm(Word32 L_x, Word16 exp, Word16* exponent, Word16* fraction);
void amrefr_Log2(Word32 L_x, Word16* exponent, Word16* fraction);
Word16 amrefr_fn10Log10(Word32 L_x, Word16 fbits);
Word32 amrefr_Pow2(Word16 exponent, Word16 fraction);
Word32 amrefr_MPY_32(Word32 L_1, Word32 L_2);
Word32 amrefr_DIV_32(Word32 L_num, Word32 L_denom);

// ---------------------------------------------------------------------------
// Vector utilities: fills, copies, shuffles.  Lengths "rounded up" write that
// many elements; the caller's array holds them.
void amrefr_Set_zero(Word16* x, Word16 n);
void amrefr_Set_zero_even(Word16* x, Word16 n);        // n = 4k + 2, k >= 1
void amrefr_Set_zero_four(Word16* x, Word16 n);        // writes n rounded up to 4
void amrefr_Set_const(Word16* x, Word16 value, Word16 n);       // always 5 elements
void amrefr_Set_const_four(Word16* x, Word16 value, Word16 n);  // n rounded up to 4
void amrefr_Set_const_8(Word16* x, Word16 value, Word16 n);     // n rounded up to 8
void amrefr_Set_mask(const Word16* src, Word16 mask, Word16* dst);  // 160
void amrefr_Copy(const Word16* src, Word16* dst, Word16 n);
void amrefr_Copy_even(const Word16* src, Word16* dst, Word16 n);       // n = 4k + 2
void amrefr_Copy_even_four(const Word16* src, Word16* dst, Word16 n);  // n rounded up to 4
void amrefr_Copy_8(const Word16* src, Word16* dst, Word16 n);          // n rounded up to 8
void amrefr_ReverseCopy_8(const Word16* src, Word16* dst, Word16 n);   // n multiple of 8
void amrefr_Vec_shuffle_down(Word16* x, Word16 k, Word16 n);

// Element-wise arithmetic.
void amrefr_Vec_shr_8(const Word16* src, Word16* dst, Word16 s, Word16 n);
void amrefr_Vec_shl_8(const Word16* src, Word16* dst, Word16 s, Word16 n);
void amrefr_Vec_shl3(const Word16* src, Word16* dst, Word16 n);
void amrefr_Vec_mult_r(const Word16* x, const Word16* w, Word16* y);  // 240
void amrefr_Vec_mult_shl3(Word16* x, Word16 g);                       // 40
void amrefr_Vec_const_mult(const Word16* src, Word16* dst, Word16 c); // 12
void amrefr_Vec_const_mult2(Word16* x, Word16 c, Word16 n);
void amrefr_Vec_add(Word16* x, const Word16* y);                      // 40
void amrefr_Vec_add_shr(const Word16* a, const Word16* b, Word16* out);   // 12
void amrefr_Vec_add_shr2(const Word16* a, const Word16* b, Word16* out);  // 12

// Dot products and energies.
Word32 amrefr_Vec_L_mac(const Word16* x, const Word16* y, Word16 n, Word32 acc);
Word32 amrefr_Vec_L_mac8(const Word16* x, const Word16* y, Word16 n, Word32 acc);
void amrefr_4Vec_L_mac8(const Word16* x, const Word16* y, Word16 n, Word32* out);
Word32 amrefr_Vec_L_mac_dual_latch_overflow(const Word16* x, const Word16* y, Word16* ovf);
Word32 amrefr_Vec_L_sqa(const Word16* x, Word16 n, Word32 acc);
Word32 amrefr_Vec_L_sqa_40(const Word16* x, Word32 acc);
Word32 amrefr_Vec_L_sqa_single(const Word16* x, Word16 n, Word32 acc);
Word32 amrefr_Vec_L_shr_sqa(const Word16* x);
Word32 amrefr_Vec_sumEnergy(const Word16* x);

// Maximum and minimum searches.
Word16 amrefr_Vec_L_max_ge(const Word32* x, Word16 n);
Word16 amrefr_Vec_max_ge(const Word16* x, Word16 last);
Word16 amrefr_Vec_min_lt(const Word16* x, Word16 n);

// Comfort-noise steps of the DTX decoder.
void amrefr_Vec_Set_L_lsf(Word32* L_lsf, Word16* log_en, const Word16* log_en_hist, const Word16* lsf_hist);
void amrefr_Vec_Set_lsf_mean(Word16* lsf_hist_mean);
void amrefr_Vec_Update_lsp_int(Word16* lsp_int, Word16 f, const Word16* lsp_old);
void amrefr_Vec_Set_lsf_int_variab(Word16* lsf_int_variab, Word16 factor, Word16 index,
                                   const Word16* lsf_hist_mean);
Word16 amrefr_Vec_Calc_Pred_Err(const Word16* refl);

// ---------------------------------------------------------------------------
// Parameter and serial-bit conversion.
void amrefr_Prm2bits(Word16 mode, const Word16* prm, Word16* bits);
void amrefr_Bits2prm(Word16 mode, const Word16* bits, Word16* prm);

// ---------------------------------------------------------------------------
// LPC analysis.  y: 256-element buffer holding 240 windowed samples;
// r: at least 13 words.
void amrefr_ACF(Word16* y, Word32* r, Word16 norm);
void amrefr_Lag_window(Word32* r);
void amrefr_Levinson(GSMAMR_LevinsonState* st, const Word32* r, Word16* A, Word16* rc);

// ---------------------------------------------------------------------------
// LSP and LSF conversion (order 10).
Word16 amrefr_Chebps(Word16 x, const Word32* f);
void amrefr_Get_lsp_pol(const Word16* lsp, Word32* f);
void amrefr_Poly2A(Word32* f1, Word32* f2, Word16* a);
void amrefr_Lsp_Az(const Word16* lsp, Word16* a);
void amrefr_Lsf_lsp(const Word16* lsf, Word16* lsp);
void amrefr_Lsp_lsf2(const Word16* lsp, Word16* lsf);
void amrefr_Reorder_lsf(Word16* lsf);
void amrefr_lsp_avg(Word16* mean, const Word16* lsp);
void amrefr_Weight_Ai(const Word16* a, const Word16* fac, Word16* a_exp);  // a_exp: 13

// ---------------------------------------------------------------------------
// Filtering.
void amrefr_Pre_Process(GSMAMR_Pre_ProcessState* st, Word16* in, Word16* out, Word16 mode);
void amrefr_preemphasis(GSMAMR_preemphasisState* st, Word16* signal, Word16 g);
void amrefr_Residu(const Word16* a, const Word16* x, Word16* y);
void amrefr_Syn_filt(const Word16* a, const Word16* x, Word16* y);
Word16 amrefr_Syn_filt_latch_overflow(const Word16* a, const Word16* x, Word16* y);
void amrefr_agc_loop1(Word16 gain, Word16 fac, Word16 g0, Word16* gains);
void amrefr_agc_loop2(Word16* sig, const Word16* gains);

// ---------------------------------------------------------------------------
// Impulse-response convolution.
void amrefr_ConvolveFwdH(const Word16* x, const Word16* h_rev43, Word16* y);
void amrefr_Vec_update_target(const Word16* y, const Word16* x, Word16* out, Word16 gain);

// ---------------------------------------------------------------------------
// Pitch search.
void amrefr_comp_corr_loop(const Word16* cur, const Word16* past, Word16 nlags, Word32* out, Word16 L_frame);
Word16 amrefr_Lag_max_10k2_Loops(const Word32* corr, const Word16* ww, const Word16* we, Word16 wght_flg);
void amrefr_Calculate_Corr_Norm(Word16* s_excf, const Word16* xn, const Word16* exc, const Word16* h,
                                Word16* corr_norm, Word16 t_min, Word16 t_max, Word16 k,
                                Word16 h_fac, Word16 scaling);
Word16 amrefr_Interpol_3or6_Best(const Word16* values, Word16 first, Word16 floor, Word16 count);
void amrefr_Pred_lt_3or6(Word16* exc, Word16 T0, Word16 frac, Word16 flag3);

// ---------------------------------------------------------------------------
// Codebook correlation and signs.
void amrefr_cor_h_x2_v2(const Word16* h, const Word16* x, Word16* dn, Word16 sf);
void amrefr_cor_h_x2_v1(const Word16* h, const Word16* x, Word16* dn, Word16 sf);
void amrefr_cor_h(const Word16* h, const Word16* sign, Word16* rr, Word16* rr_diag);
void amrefr_SetSign(Word16* dn, Word16* dn2, Word16* tmp, Word16* sign);
void amrefr_ClearMinM(Word16* dn2, Word16* tmp, Word16 n);
void amrefr_SetSign12K2_lp1(Word16 k_cn, Word16 k_dn, const Word16* cn, Word16* dn, Word16* en, Word16* sign);

// ---------------------------------------------------------------------------
// Algebraic codebook search, 2 to 4 pulses; code vector filtering; index packing.
void amrefr_search_i0i1_GenPS1(const Word16* dnA, const Word16* dnB, Word16* out);
void amrefr_search_i0i1_GenAlp16(const Word16* diagA, const Word16* rowA, const Word16* diagB, Word16* out);
void amrefr_Search7K4(const Word16* dn_split, const Word16* dn2, Word16* const* row_start,
                      const Word16* rr_diag_split, const Word16* ipos, Word16* codvec, Word16* psk,
                      Word16* alpk, int nb_pulse, const Word16* control, Word16* reuse);
void amrefr_Gen_ACELP_Vec(const Word16* pos, const Word16* amp, Word16* h, Word16* y, Word16 npairs);
Word16 amrefr_compress10(Word16 a, Word16 b, Word16 c);
Word16 amrefr_compressLast(Word16 a, Word16 b);

// ---------------------------------------------------------------------------
// Ten- and eight-pulse codebook search.
void amrefr_LoadRRSplit(const Word16* rr, Word16* rr_split, const Word16* table);
void amrefr_SplitInto5Tracks(const Word16* dn, Word16* dn_split, const Word16* rr_diag, Word16* rr_diag_split);
void amrefr_SplitInto4Tracks(const Word16* dn, Word16* dn_split, const Word16* rr_diag, Word16* rr_diag_split);
void amrefr_GenRowStart(Word16* rr_split, Word16** row_start);
void amrefr_Do2Pulses_Loop2_MR122(Word32* out, const Word16* diag, const Word16* row_a, const Word16* row_b,
                                  Word16 c_diag, Word16 c_cross, Word32 init);
void amrefr_Do2Pulses_Loop2_MR102(Word32* out, const Word16* diag, const Word16* row_a, const Word16* row_b,
                                  Word16 c_diag, Word16 c_cross, Word32 init);
void amrefr_Do2Pulses_Loop1_MR122(Word32* alp1, Word32* s, const Word16* const* rows, Word16 c_alp, Word16 c_s);
void amrefr_Do2Pulses_Loop1_MR102(Word32* alp1, Word32* s, const Word16* const* rows, Word16 c_alp, Word16 c_s);
void amrefr_CBS2_PulsePosition_MR122(const Word16* dn_a, const Word16* dn_b, Word16 ps0, const Word16* rr_row,
                                     const Word32* s, const Word16* coeffs, const Word32* alp1, Word32* alp0,
                                     Word16* sq, Word16* index);
void amrefr_CBS2_GenPSQ2(Word16* out, const Word16* dn_a, const Word16* dn_b, Word16 ps0);
void amrefr_CBS2_GenALP_Vals(const Word32* in, Word32* out);
void amrefr_CBS2_GenALP16(Word16* out, const Word16* rr_row, const Word32* s, const Word16* coeffs,
                          const Word32* vals);
void amrefr_CBS2_PulsePosition(const Word16* psq2, const Word16* alp16, Word32* alp0, Word16* sq, Word16* index);
void amrefr_CBS2_GenRRV8(Word32* buf);

// ---------------------------------------------------------------------------
// LSF split-VQ search.
Word16 amrefr_reordered_Vq_subvec4(Word16* x, const Word16* dico, const Word16* w, Word16 size);
Word16 amrefr_reordered_Vq_subvec3a(Word16* x, const Word16* dico, const Word16* w, Word16 size);
Word16 amrefr_reordered_Vq_subvec3b(Word16* x, const Word16* dico, const Word16* w, Word16 size);
Word16 amrefr_reordered_Vq_subvec_s(Word16* x, const Word16* dico, const Word16* w, Word16 size);

// ---------------------------------------------------------------------------
// Gain quantisation search.
Word32 amrefr_CompEn_LTP_res(const Word16* exc, const Word16* res, Word16 gain_pit);
void amrefr_QGainSearch_475_Loop1(const Word16* gcode0, Word16 gp_limit, Word16* out);
Word16 amrefr_QGainSearch_475_Loop2(const Word32* coeff, const Word16* terms);
void amrefr_QGainSearch_795_Loop1(const Word16* g_pitch_cand, Word16 gcode0, Word32* out);
void amrefr_QGainSearch_795_Loop2(const Word32* coeff, Word32* dist_out, Word16* index_out, const Word32* terms);
void amrefr_QGainSearch_795_mod_Loop1(const Word16* g_fac, Word32 L_t1, Word16 gcode0, const Word32* coeff,
                                      Word32* out);
void amrefr_QGainSearch_795_mod_Sqrt1(const Word32* x, Word16* exp_out, Word16* a_out, Word16* i_out);
void amrefr_QGainSearch_795_mod_Sqrt2(Word32* x, const Word16* a, const Word16* i);
void amrefr_QGainSearch_795_mod_Loop2(const Word16* g_fac, Word32 L_t0, Word16 gcode0, Word16 gain_code,
                                      Word16 gain_cod_unq, const Word32* coeff, Word32* dist, Word16* index,
                                      const Word32* x, const Word16* exp);
void amrefr_GP_param_gen(Word16 gp_limit, Word16 gcode0, const Word16* g_pitch, const Word16* g_fac,
                         Word16* out, Word16 n);
Word16 amrefr_GainSearch(const Word32* coeff, const Word16* terms, Word16 n);

// ---------------------------------------------------------------------------
// Decoder excitation, phase dispersion, comfort noise.
void amrefr_TotalExc(Word16* exc, const Word16* code, Word16 gain_pit, Word16 gain_code, Word16 shift_sel);
void amrefr_ph_disp_Convolve(const Word16* h, Word16* inno, Word16 amp);
void amrefr_PitchSharp(const Word16* exc, Word16* out, Word16 pit_sharp, Word16 gain);
void amrefr_sfPostProc_Mem(Word16* mem_err, const Word16* syn, Word16* mem_w0, const Word16* speech,
                           const Word16* y1, const Word16* y2, const Word16* xn, Word16 gain_pit,
                           Word16 gain_code, Word16 k_shift);
void amrefr_ComputeLspDiff_Loop1(const Word16* lsp, const Word16* lsp_aver, Word16* tmp1, Word16* tmp2,
                                 Word16* shift);
void amrefr_ComputeLspDiff_Loop2(const Word16* tmp1, const Word16* tmp2, Word16* q);  // q: 12
Word16 amrefr_ComputeLspDiff_Loop3(const Word16* q, const Word16* shift);
Word16 amrefr_pseudonoise(Word32* shift_reg, Word16 no_bits);
void amrefr_build_CN_code(Word32* seed, Word16* cod);
void amrefr_Vec_Modify_Excitation(const Word16* h, const Word16* excf, Word16 exc_k, Word16 h_fac, Word16* out);

// ---------------------------------------------------------------------------
// VAD option 1.
void amrefr_first_filter_stage(const Word16* in, Word16* out, Word16* data);  // out: room for 162
void amrefr_filter5_loop(Word16* buf, Word16* data);
void amrefr_filter3_loop1(Word16* buf, Word16* data);
void amrefr_filter3_loop2(Word16* buf, Word16* data);
Word16 amrefr_level_calculation8(const Word16* buf, Word16* sub);
Word16 amrefr_level_calculation4(const Word16* buf, Word16* sub, Word16 s);
Word16 amrefr_level_calculation2(const Word16* buf, Word16* sub, Word16 s);
void amrefr_update_cntrl_else(const Word16* level, const Word16* ave, Word16* stat_rat);
void amrefr_update_cntrl_loop(Word16* ave, const Word16* level, Word16 alpha);
void amrefr_noise_est_loop(const Word16* old, Word16* bckr, const Word16* alphas, Word16 bckr_add);
Word16 amrefr_Gen_vad_thr(const Word16* bckr, const Word16* level, Word16* snr_sum, Word16* noise_level);

// ---------------------------------------------------------------------------
// VAD option 2 and the real FFT.
Word16 amrefr_block_norm(const Word16* in, Word16* out, Word16 headroom);
void amrefr_vad2_pre_emp(Word16* buf, Word16* mem, Word16* last_shift, Word16* in, Word16 shift);
void amrefr_vad2_energy_1_loop(const Word16* buf, Word32* enrg, Word32 min_enrg, Word16 n, Word16 alpha,
                               Word16 one_m_alpha);
Word32 amrefr_vad2_energy_2(Word16 fbits, const Word32* enrg, Word16* enrg_db, const Word32* noise, Word16* snr);
Word16 amrefr_vad2_energy_3_init(Word16* snr_var, Word16* snr_bias, const Word32* noise, Word16* tsnr);
Word16 amrefr_vad2_energy_3_main(Word16* tsnr, const Word16* snr);
void amrefr_vad2_calc_negSNRbias(Word16 xt, Word16* snr_var, Word16* snr_bias);
Word16 amrefr_vad2_calc_lsd_loop(const Word16* long_db, const Word16* enrg_db);
void amrefr_vad2_calc_ltse_loop(Word16* long_db, const Word16* enrg_db, Word16 alpha, Word16 one_m_alpha);
void amrefr_vad2_update_cne(Word16 update_flag, Word16 shift_state, const Word32* enrg, Word32* noise);
void amrefr_c_fft_InitialStages(Word16* f, Word16 j, Word16 kk, Word16 jj, Word16 ji);
void amrefr_c_fft_PenultimateStage(Word16* f);
void amrefr_c_fft_LastStage(Word16* f);
void amrefr_r_fft_loop(Word16* f);
