// Vector kernels of the AMR-WB codec.
//
// Each kernel is a leaf over caller buffers: it keeps no state, touches no
// global data and reports no error; every input gives the result of the
// stated fixed-point arithmetic.  Lengths taken as arguments must be positive
// multiples of the kernel's block.  No kernel reads or writes outside the
// extents given below: where the arithmetic wants zeros past the end of an
// input (or a memory word in front of an output) the kernel provides them
// itself.  An argument written "x[-k..n]" is an array whose first k entries
// lie in front of the pointer passed.
#pragma once

#include "amrwb_types.h"

// ---- target correlation and convolution --------------------------------
// y32[i] = 1 + Σ_{t=0}^{63-i} 2·x[i+t]·h[t], one L_mac chain per output.
void amr_wb_cor_h_x_MainLoop(const Word16* h, const Word16* x, Word32* y32);
// max[k] = largest L_abs(y32[i]) over i ≡ k (mod 4).
void amr_wb_cor_h_x_Loop1(const Word32* y32, Word32* max);
// dn[i] = round(L_shl(y32[i], shift)).
void amr_wb_cor_h_x_Loop2(const Word32* y32, Word16* dn, Word16 shift);
// Convolution with a reversed impulse response: hrev[63 - k] = h[k],
// hrev[64..66] enter the blocks of four (zero for the plain convolution).
void amr_wb_ConvolveFwdH(const Word16* x, const Word16* hrev /*67*/, Word16* y);

// ---- autocorrelation, AGC, Chebyshev, serial conversion -----------------
void amr_wb_AutorCorr_window(const Word16* x, Word16* y);
Word32 amr_wb_Autocorr_energy(const Word16* y);
// r[1..16] of the array whose first entry is r[0]; y holds 384 samples.
void amr_wb_ACF_Loop(const Word16* y, Word32* r, Word16 norm);
Word32 amr_wb_agc2_loop1(const Word16* x);
void amr_wb_agc2_loop(Word16* x, Word16 g0);
Word16 amr_wb_Chebps2(Word16 x, const Word32* f, Word16 n);
void amr_wb_Parm_serial(Word16 value, Word16 no_of_bits, Word16** prms);
Word16 amr_wb_Serial_parm(Word16 no_of_bits, const Word16** prms);
Word16 amr_wb_Serial_parm1(const Word16** prms);
Word16 amr_wb_Serial_parm4(const Word16** prms);
Word16 amr_wb_Serial_parm5(const Word16** prms);
Word16 amr_wb_Serial_parm6(const Word16** prms);
Word16 amr_wb_Serial_parm8(const Word16** prms);
Word16 amr_wb_Serial_parm9(const Word16** prms);
Word16 amr_wb_Serial_parm12(const Word16** prms);
Word16 amr_wb_Serial_parm15(const Word16** prms);

// ---- pre-emphasis, resampling, de-emphasis, excitation ------------------
Word16 amr_wb_Fixed_Preemph1(const Word16* x /*[-1..267]*/);
void amr_wb_Fixed_Preemph2(Word16* x /*[-1..267]*/, Word16 shift, Word16* mem);
void amr_wb_Down_samp(const Word16* sig /*[-14..5L/4+13]*/, Word16* out, Word16 L);
void amr_wb_Up_samp(const Word16* sig /*[-11..75]*/, Word16* out /*80*/);
void amr_wb_Deemph2(Word16* x, Word16 L, Word16* mem);
// The memory word stands for y[-1]; nothing in front of y is read.
void amr_wb_Deemph_32(const Word16* x_hi, const Word16* x_lo, Word16* y, Word16* mem);
void amr_wb_HP400_12k8_loop2(Word16* mem, const Word16* unused, Word16* out, const Word32* fir);
Word16 amr_wb_Excitation_LP(const Word16* exc, Word16* out, Word16 gain_pit);
void amr_wb_CalcHfIsf(const Word16* a, const Word16* b, Word16* out, Word16 frac);
void amr_wb_dtx_Exc_loop(Word16* exc, Word16 gain, Word16 shift);
// floor(num·32768 / den) for 0 <= num <= den, den > 0, by integer division.
Word16 amr_wb_div_s(Word16 num, Word16 den);

// ---- algebraic codebook search ------------------------------------------
void amr_wb_ACELP_set_sign_loop1(const Word16* cn, const Word16* dn, Word16 k_cn, Word16 k_dn, Word16* dn2);
void amr_wb_ACELP_set_sign_loop2(Word16* sign, Word16* vec, Word16* dn, Word16* dn2);
void amr_wb_Reorder(const Word16* in, Word16* out);
void amr_wb_ACELP_4t64_nb_max(Word16* dn2, Word16* pos_max);
void amr_wb_ACELP_4t64_storage_orders(const Word16* h, Word16* rrixix /*4x16*/, Word16* rrixiy /*4x256*/);
void amr_wb_ACELP_4t64_mod_rrixiy_signs(Word16* rrixiy, const Word16* sign, const Word16* vec);
void amr_wb_ACELP_4t64_cor_h_vec(const Word16* h, const Word16* vec /*67*/, Word16 track, const Word16* sign,
                                 const Word16* rrixix, Word16* cor);
Word16 amr_wb_ACELP_4t64_search_ixiy(Word16 nb_pos_ix, Word16 track_x, Word16 track_y, Word16* alp, Word16 ps,
                                     const Word16* dn, const Word16* dn2, const Word16* cor_x, const Word16* cor_y,
                                     const Word16* rrixiy);
void amr_wb_ACELP_4t64_deep_final_sum(const Word16* vec, const Word16* p0, const Word16* p1, Word16* out);
void amr_wb_ACELP_2t64_1st_storage_order(const Word16* h, Word16* rrixix /*2x32*/);
void amr_wb_ACELP_2t64_2nd_storage_order(const Word16* h, Word16* rrixiy /*1024*/);
void amr_wb_ACELP_2t64_mod_rrixiy_signs(Word16* rrixiy, const Word16* sign, const Word16* vec);
Word16 amr_wb_ACELP_2t64_search_ixiy(const Word16* rrixix0, const Word16* rrixix1, const Word16* rrixiy,
                                     const Word16* dn);

// ---- LPC analysis and ISF conversion ------------------------------------
void amr_wb_Lag_window(Word32* R);
void amr_wb_Levinson(Word16* mem, const Word32* R, Word16* A, Word16* rc);
void amr_wb_Isqrt_n(Word32* frac, Word16* exp);
Word32 amr_wb_MPY_32_16(Word32 L, Word16 n);
Word32 amr_wb_MPY_32(Word32 a, Word32 b);
Word32 amr_wb_MPY_32_neon(Word32 a, Word32 b);
Word32 amr_wb_Calc_IsfCorr(const Word16* d, const Word16* e, Word16 mean);
void amr_wb_Get_isp_pol(const Word16* isp, Word32* f, Word16 n, const Word16* c);
void amr_wb_Int_isp_InnerLoop(const Word16* isp_old, const Word16* isp_new, Word16* out, Word16 fac_old,
                              Word16 fac_new);
void amr_wb_Isp_Az_PrepF1F2_Loop1(Word32* f1, Word32* f2, Word16 isp_last);
void amr_wb_Isf_isp(const Word16* isf, Word16* isp, Word16 m);
void amr_wb_Weight_a_M(const Word16* a, Word16* ap, const Word16* fac);
void amr_wb_Weight_a_M16k(const Word16* a, Word16* ap, const Word16* fac);

// ---- ISF quantisation ------------------------------------------------------
void amr_wb_Qpisf_2s_CalcIsf(Word16* isf, const Word16* isf1, const Word16* past_isfq);
void amr_wb_Dpisf_2s_CalcIsfQ(Word16* isf_q, Word16* past_isfq);
void amr_wb_VQ_stage1_dim9(const Word16* x, Word32* scratch /*256*/, Word16* surv /*4*/);
void amr_wb_VQ_stage1_dim7(const Word16* x, Word32* scratch /*256*/, Word16* surv /*4*/);
Word16 amr_wb_Sub_VQ2_2(const Word16* x, const Word16* book, Word16 size, Word32* distance);
Word16 amr_wb_Sub_VQ3_2(const Word16* x, const Word16* book, Word16 size, Word32* distance);
Word16 amr_wb_Sub_VQ4_2(const Word16* x, const Word16* book, Word16 size, Word32* distance);
Word16 amr_wb_Sub_VQ5_2(const Word16* x, const Word16* book, Word16 size, Word32* distance);
Word16 amr_wb_Sub_VQ7_2(const Word16* x, const Word16* book, Word16 size, Word32* distance);
void amr_wb_VQ_stage1_DeQ(Word16 index, Word16 dim, const Word16* book, Word16* out);

// ---- filters, residual, synthesis -----------------------------------------
void amr_wb_12k8_loop1(const Word16* x /*[-2..n-1]*/, const Word16* b, Word32* y32, Word16 n);
void amr_wb_HP50_12k8_loop2(Word16* mem, const Word32* y32, Word16* out, Word16 n);
void amr_wb_Hp_wsp_loop1(const Word16* x /*[-3..n-1]*/, const Word16* b, Word32* y32, Word16 n);
void amr_wb_Hp_wsp_loop2(Word16* mem, Word16* mem3, const Word16* a, const Word32* y32, Word16* out, Word16 n);
void amr_wb_Filt_6k_7k(Word16* signal, Word16* mem);
void amr_wb_Filt_7k(const Word16* signal, Word16* out, Word16* mem);
void amr_wb_LP_Decim2_Loop(Word16* out, const Word16* x /*259*/);
void amr_wb_Preemph(Word16* x, Word16 mu, Word16* mem);
void amr_wb_Preemph2(Word16* x, Word16* mem);
void amr_wb_Residu(const Word16* a, const Word16* x /*[-16..n-1]*/, Word16* y, Word16 n);
void amr_wb_Syn_filt_M_inplace(const Word16* a, const Word16* x, Word16* y /*[-16..n-1]*/, Word16 n);
void amr_wb_Syn_filt_M16k_inplace(const Word16* a, const Word16* x, Word16* y /*[-20..79]*/);
void amr_wb_Syn_filt_32(const Word16* a, const Word16* exc, Word16 Qnew, Word16* sig_hi /*[-16..63]*/,
                        Word16* sig_lo /*[-16..63]*/);
// The 16 zero words in front of y are the kernel's own.
void amr_wb_Imp_Resp(const Word16* a, const Word16* x, Word16* y);
void amr_wb_Updt_tar(const Word16* x, Word16* x2, const Word16* y, Word16 gain);

// ---- pitch, gain, excitation ----------------------------------------------
void amr_wb_comp_corr_loop(const Word16* x, const Word16* y, Word16 nlag, Word32* out, Word16 L);
Word16 amr_wb_Pitch_med_ol_loop1(const Word32* corr, const Word16* ww, const Word16* we);
Word16 amr_wb_Pitch_med_ol_loop2(const Word32* corr, const Word16* ww);
// corr_norm[t - t_min] for t = t_min..t_max; exc_p points at exc[-t_min-1].
void amr_wb_Norm_Corr_Loop(const Word16* xn, Word16* excf, Word16* corr_norm, const Word16* h,
                           const Word16* exc_p, Word16 nscale, Word16 t_min, Word16 t_max);
Word16 amr_wb_Interpol_4(const Word16* x /*[-4..4]*/, Word16 frac);
void amr_wb_Pred_lt4(Word16* exc, Word16 T0, Word16 frac);
Word16 amr_wb_Q_gain2_CBS(const Word16* g_code, const Word16* g_pitch, const Word16* hi, const Word16* lo,
                          Word16 gcode0, Word16 size);
void amr_wb_TotalExcitation_LP(const Word16* code, Word16* exc, Word16 gain_code, Word16 gain_pit);
void amr_wb_Pitch_Excitation_LP(const Word16* exc, Word16* out, Word16 offset);
// code[-1] and code[64] count as zero; nothing outside code[0..63] is read.
void amr_wb_PitchEnhance_LP(const Word16* code, Word16* out, Word16 factor);
void amr_wb_ph_loop(Word16* code, Word16* code2 /*128, zeroed*/, const Word16* imp);
// x[i] = add(mult(h[i], g), x_old[i - 1]), x_old[-1] = prev.
void amr_wb_Vec_Modify_Excitation(const Word16* h, Word16* x, Word16 g, Word16 prev);

// ---- vector operations ------------------------------------------------------
void amr_wb_CopyM(const Word16* src, Word16* dst);
void amr_wb_CopyL_SUBFR(const Word16* src, Word16* dst);
void amr_wb_Copy_even_four(const Word16* src, Word16* dst, Word16 n);
void amr_wb_CopyNeg(const Word16* src, Word16* dst);
void amr_wb_Set_zero_L_SUBFR(Word16* x);
void amr_wb_Scale_sig2(Word16* x, Word16 n, Word16 exp);
void amr_wb_Scale_sig2out(const Word16* x, Word16* y);
void amr_wb_Vec_mult_shift(Word16* x, Word16 n, Word16 g, Word16 flag);
void amr_wb_Vec_add_even(Word16* x, const Word16* y, Word16 n);
void amr_wb_Vec_add_shr_r(Word16* out, const Word16* a, const Word16* b);
void amr_wb_Vec_shr_r(Word16* x, Word16 s, Word16 n);
void amr_wb_Vec_shr1(const Word16* x, Word16* y, Word16 n);
Word16 amr_wb_Vec_abs_max_gt(const Word16* x, Word16 n, Word16 init);
Word32 amr_wb_Vec_L_sqa(const Word16* x, Word16 n, Word32 L0);
Word32 amr_wb_Vec_L_mac8(const Word16* x, const Word16* y, Word16 n, Word32 L0);
void amr_wb_Vec_L_shl2_12(Word32* a, Word32* b);
void amr_wb_Vec_Random(Word16* out, Word16* seed, Word16 n, Word16 shift);
// Nothing to save in a build whose kernels leave the callee-saved registers alone.
void amr_wb_FrameSave_NEON(Word16* area);
void amr_wb_FrameRestore_NEON(Word16* area);

// ---- VAD filter bank and level ------------------------------------------------
void amr_wb_filter_bank_stage1_2(Word16* buf, Word16* mem, Word16 n);
void amr_wb_filter_bank_stage1_4(Word16* buf, Word16* mem, Word16 n);
void amr_wb_filter_bank_stage1_8(Word16* buf, Word16* mem, Word16 n);
void amr_wb_filter_bank_stage2(Word16* p0, Word16* p1, Word16* mem, Word16 n, Word16 step);
Word16 amr_wb_level_calculation(const Word16* buf, Word16* sub_level, Word16 count1, Word16 count2, Word16 ind_m,
                                Word16 ind_a, Word16 scale);
void amr_wb_update_cntrl_loop(Word16* ave_level, const Word16* level, Word16 alpha);
