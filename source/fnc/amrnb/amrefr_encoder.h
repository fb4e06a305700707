// AMR-NB speech encoder: state records, frame function and the analysis,
// pitch, codebook and gain routines it is built from.
#pragma once

#include "amrefr_decoder.h"
#include "amrefr_frame_format.h"
#include "amrefr_kernels.h"

// ---------------------------------------------------------------------------
// LPC analysis and LSP quantisation.
struct GSMAMR_lpcState {
    GSMAMR_LevinsonState levinsonSt;
};
struct GSMAMR_Q_plsfState {
    Word16 past_rq[10];
};
struct GSMAMR_lspState {
    Word16 lsp_old[10];
    Word16 lsp_old_q[10];
    GSMAMR_Q_plsfState qSt;
};

Word16 amrefr_Autocorr(Word16* x, Word32* r, const Word16* wind);
void amrefr_lpc(GSMAMR_lpcState* st, Word16 mode, Word16* x, Word16* x_12k2, Word16* a);
void amrefr_Az_lsp(const Word16* a, Word16* lsp, const Word16* old_lsp);
void amrefr_Lsf_wt(const Word16* lsf, Word16* wf);
void amrefr_Q_plsf_3(GSMAMR_Q_plsfState* st, Word16 mode, const Word16* lsp1, Word16* lsp1_q, Word16* indice,
                     Word16* pred_init_i);
void amrefr_Q_plsf_5(GSMAMR_Q_plsfState* st, const Word16* lsp1, const Word16* lsp2, Word16* lsp1_q, Word16* lsp2_q,
                     Word16* indice);
void amrefr_Q_plsf_5_efr(GSMAMR_Q_plsfState* st, const Word16* lsp1, const Word16* lsp2, Word16* lsp1_q,
                         Word16* lsp2_q, Word16* indice, GSMAMR_EFRdtx_encState* EFRdtx_encSt, Word16 do_EFR);
void amrefr_lsp_efr(GSMAMR_lspState* st, Word16 req_mode, Word16 used_mode, Word16* az, Word16* azQ,
                    Word16* lsp_new, Word16** anap, GSMAMR_EFRdtx_encState* EFRdtx_encSt, Word16 do_EFR);
void amrefr_Int_lpc_1to3_2(const Word16* lsp_old, const Word16* lsp_new, Word16* Az);
void amrefr_Int_lpc_1and3_2(const Word16* lsp_old, const Word16* lsp_mid, const Word16* lsp_new, Word16* Az);
void amrefr_lsp(GSMAMR_lspState* st, Word16 req_mode, Word16 used_mode, Word16* az, Word16* azQ, Word16* lsp_new,
                Word16** anap);

// ---------------------------------------------------------------------------
// Voice activity detector option 1.
struct GSMAMR_vadState1 {
    Word16 bckr_est[12];
    Word16 ave_level[12];
    Word16 old_level[12];
    Word16 sub_level[12];
    Word16 a_data5[3][2];
    Word16 a_data3[5];
    Word16 burst_count;
    Word16 hang_count;
    Word16 stat_count;
    Word16 vadreg;
    Word16 pitch;
    Word16 tone;
    Word16 complex_high;
    Word16 complex_low;
    Word16 oldlag_count;
    Word16 oldlag;
    Word16 complex_hang_count;
    Word16 complex_hang_timer;
    Word16 best_corr_hp;
    Word16 speech_vad_decision;
    Word16 complex_warning;
    Word16 sp_burst_count;
    Word16 corr_hp_fast;
};
void amrefr_vad1_reset(GSMAMR_vadState1* state);
Word16 amrefr_vad1(GSMAMR_vadState1* st, const Word16* in_buf);
void amrefr_vad_pitch_detection(GSMAMR_vadState1* st, const Word16* T_op);
void amrefr_vad_tone_detection(Word16* tone, Word32 t0, Word32 t1);
void amrefr_vad_tone_detection_update(Word16* tone, Word16 one_lag_per_frame);
void amrefr_hp_max(const Word32* corr, const Word16* scal_sig, Word16 L_frame, Word16 lag_max, Word16 lag_min,
                   Word16* cor_hp_max);

// ---------------------------------------------------------------------------
// AMR DTX encoder.
struct GSMAMR_dtx_encState {
    Word16 lsp_hist[80];
    Word16 log_en_hist[8];
    Word16 hist_ptr;
    Word16 log_en_index;
    Word16 init_lsf_vq_index;
    Word16 lsp_index[3];
    Word16 dtxHangoverCount;
    Word16 decAnaElapsedCount;
};
void amrefr_dtx_enc_reset(GSMAMR_dtx_encState* st);
Word16 amrefr_tx_dtx_handler(GSMAMR_dtx_encState* st, Word16 vad_flag, Word16* usedMode, Word16 force_speech);
void amrefr_dtx_buffer(GSMAMR_dtx_encState* st, const Word16* lsp_new, const Word16* speech);
void amrefr_dtx_enc(GSMAMR_dtx_encState* st, Word16 computeSidFlag, GSMAMR_Q_plsfState* qSt,
                    GSMAMR_gc_predState* predState, Word16** anap);

// ---------------------------------------------------------------------------
// Open-loop pitch and tone stability.
struct GSMAMR_pitchOLWghtState {
    Word16 old_T0_med;
    Word16 ada_w;
    Word16 wght_flg;
};
struct GSMAMR_tonStabState {
    Word16 count;
    Word16 gp[7];
};
Word16 amrefr_Pitch_ol(GSMAMR_vadState1* vadSt, Word16 mode, Word16* signal, Word16 pit_min, Word16 L_frame,
                       Word16 idx, Word16 dtx);
Word16 amrefr_Pitch_ol_wgh(GSMAMR_pitchOLWghtState* st, GSMAMR_vadState1* vadSt, Word16* signal, Word16* old_lags,
                           Word16* ol_gain_flg, Word16 idx, Word16 dtx);
void amrefr_ol_ltp(GSMAMR_pitchOLWghtState* st, GSMAMR_vadState1* vadSt, Word16 mode, Word16* wsp, Word16* T_op,
                   Word16* old_lags, Word16* ol_gain_flg, Word16 idx, Word16 dtx);
Word16 amrefr_check_lsp(Word16* st_count, const Word16* lsp);
Word16 amrefr_check_gp_clipping(const GSMAMR_tonStabState* st, Word16 g_pitch);
void amrefr_update_gp_clipping(GSMAMR_tonStabState* st, Word16 g_pitch);

// ---------------------------------------------------------------------------
// Closed-loop pitch.
struct GSMAMR_Pitch_frState {
    Word16 T0_prev_subframe;
};
struct GSMAMR_CLLTP_STATE {
    GSMAMR_Pitch_frState pitchSt;
};
Word16 amrefr_Pitch_fr(GSMAMR_Pitch_frState* st, Word16 mode, const Word16* T_op, Word16* exc, const Word16* xn,
                       const Word16* h, Word16 i_subfr, Word16* pit_frac, Word16* resu3, Word16* ana_index);
Word16 amrefr_G_pitch(Word16 mode, const Word16* xn, const Word16* y1, Word16* g_coeff);
Word16 amrefr_Enc_lag3(Word16 T0, Word16 T0_frac, Word16 T0_prev, Word16 T0_min, Word16 T0_max, Word16 delta_flag,
                       Word16 flag4);
Word16 amrefr_enc_lag6(Word16 T0, Word16 T0_frac, Word16 T0_min, Word16 delta_flag);
void amrefr_cl_ltp(GSMAMR_CLLTP_STATE* clSt, GSMAMR_tonStabState* tonSt, Word16 mode, Word16 frameOffset,
                   const Word16* T_op, const Word16* h1, Word16* exc, Word16* res2, const Word16* xn, Word16 lsp_flag,
                   Word16* xn2, Word16* y1, Word16* T0, Word16* T0_frac, Word16* gain_pit, Word16* g_coeff,
                   Word16** anap, Word16* gp_limit);

// ---------------------------------------------------------------------------
// Algebraic codebook.
void amrefr_cbsearch(const Word16* x, Word16* h, Word16 T0, Word16 pitch_sharp, Word16 gain_pit, const Word16* res2,
                     Word16* code, Word16* y, Word16** anap, Word16 mode, Word16 subNr);

// ---------------------------------------------------------------------------
// Gain quantisation.
struct GSMAMR_GainAdaptState {
    Word16 onset;
    Word16 prev_alpha;
    Word16 prev_gc;
    Word16 ltpg_mem[5];
};
struct GSMAMR_gainQuantState {
    Word16 sf0_exp_gcode0;
    Word16 sf0_frac_gcode0;
    Word16 sf0_exp_target_en;
    Word16 sf0_frac_target_en;
    Word16 sf0_exp_coeff[5];
    Word16 sf0_frac_coeff[5];
    Word16* gain_idx_ptr;
    GSMAMR_gc_predState gc_predSt;
    GSMAMR_gc_predState gc_predUnqSt;
    GSMAMR_GainAdaptState adaptSt;
};
void amrefr_calc_filt_energies(Word16 mode, const Word16* xn, const Word16* xn2, const Word16* y1, const Word16* Y2,
                               const Word16* g_coeff, Word16* frac_coeff, Word16* exp_coeff, Word16* cod_gain_frac,
                               Word16* cod_gain_exp);
void amrefr_calc_target_energy(const Word16* xn, Word16* en_exp, Word16* en_frac);
void amrefr_calc_unfilt_energies(const Word16* res, const Word16* exc, const Word16* code, Word16 gain_pit,
                                 Word16* frac_en, Word16* exp_en, Word16* ltpg);
void amrefr_gain_adapt(GSMAMR_GainAdaptState* st, Word16 ltpg, Word16 gain_cod, Word16* alpha);
void amrefr_MR795_gain_quant(GSMAMR_GainAdaptState* adapt_st, const Word16* res, const Word16* exc,
                             const Word16* code, const Word16* frac_coeff, const Word16* exp_coeff,
                             Word16 exp_code_en, Word16 frac_code_en, Word16 exp_gcode0, Word16 frac_gcode0,
                             Word16 cod_gain_frac, Word16 cod_gain_exp, Word16 gp_limit, Word16* gain_pit,
                             Word16* gain_cod, Word16* qua_ener_MR122, Word16* qua_ener, Word16** anap);
Word16 amrefr_MR475_gain_quant(GSMAMR_gc_predState* pred_st, Word16 sf0_exp_gcode0, Word16 sf0_frac_gcode0,
                               const Word16* sf0_exp_coeff, const Word16* sf0_frac_coeff, Word16 sf0_exp_target_en,
                               Word16 sf0_frac_target_en, const Word16* sf1_code_nosharp, Word16 sf1_exp_gcode0,
                               Word16 sf1_frac_gcode0, const Word16* sf1_exp_coeff, const Word16* sf1_frac_coeff,
                               Word16 sf1_exp_target_en, Word16 sf1_frac_target_en, Word16 gp_limit,
                               Word16* sf0_gain_pit, Word16* sf0_gain_cod, Word16* sf1_gain_pit, Word16* sf1_gain_cod);
void amrefr_MR475_update_unq_pred(GSMAMR_gc_predState* pred_st, Word16 exp_gcode0, Word16 frac_gcode0,
                                  Word16 cod_gain_exp, Word16 cod_gain_frac);
Word16 amrefr_q_gain_pitch(Word16 mode, Word16 gp_limit, Word16* gain, Word16* gain_cand, Word16* gain_cind);
Word16 amrefr_q_gain_code_efr(Word16 exp_gcode0, Word16 frac_gcode0, Word16* gain, Word16* qua_ener_MR122,
                              Word16* qua_ener, Word16 i_subfr, GSMAMR_EFRdtx_encState* EFRdtx_encSt, Word16 do_EFR);
void amrefr_gainQuant_efr(GSMAMR_gainQuantState* st, Word16 mode, const Word16* res, const Word16* exc,
                          const Word16* code, const Word16* xn, const Word16* xn2, const Word16* y1, const Word16* Y2,
                          const Word16* g_coeff, Word16 even_subframe, Word16 gp_limit, Word16* sf0_gain_pit,
                          Word16* sf0_gain_cod, Word16* gain_pit, Word16* gain_cod, Word16** anap, Word16 i_subfr,
                          GSMAMR_EFRdtx_encState* EFRdtx_encSt, Word16 do_EFR, Word16 do_EFR_dtx);
void amrefr_gainQuant(GSMAMR_gainQuantState* st, Word16 mode, const Word16* res, const Word16* exc,
                      const Word16* code, const Word16* xn, const Word16* xn2, const Word16* y1, const Word16* Y2,
                      const Word16* g_coeff, Word16 even_subframe, Word16 gp_limit, Word16* sf0_gain_pit,
                      Word16* sf0_gain_cod, Word16* gain_pit, Word16* gain_cod, Word16** anap);

// ---------------------------------------------------------------------------
// Encoder frame.
struct GSMAMR_cod_amrState {
    Word16 old_speech[160];  // pre-processed history: window and look-ahead
    Word16 old_wsp[143];
    Word16 old_lags[5];
    Word16 ol_gain_flg[2];
    Word16 old_exc[154];
    GSMAMR_lpcState lpcSt;
    GSMAMR_lspState lspSt;
    GSMAMR_CLLTP_STATE clLtpSt;
    GSMAMR_gainQuantState gainQuantSt;
    GSMAMR_pitchOLWghtState pitchOLWghtSt;
    GSMAMR_tonStabState tonStabSt;
    GSMAMR_vadState1 vadSt;
    GSMAMR_dtx_encState dtx_encSt;
    GSMAMR_EFRdtx_encState* EFRdtx_encSt;  // attached by the EFR reset, else null
    Word16 dtx;
    Word16 mem_syn[10];
    Word16 mem_w0[10];
    Word16 mem_err[10];
    Word16 sharp;
};

struct GSMAMR_sid_syncState {
    Word16 sid_update_rate;
    Word16 sid_update_counter;
    Word16 sid_handover_debt;
    GSMAMR_TXFrameType prev_ft;
};

struct GSMAMR_Speech_Encode_FrameState {
    GSMAMR_Pre_ProcessState pre_state;
    GSMAMR_cod_amrState cod_amr_state;
    GSMAMR_AmrFlag dtx;
    GSMAMR_sid_syncState sid_state;
    Word16 in_reset_state;
    Word16 end_marker;
    GSMAMR_TXFrameType tx_type;
    std::uint16_t mode;
    std::uint16_t usedMode;
};

void amrefr_cod_amr_reset(GSMAMR_cod_amrState* st);
void amrefr_cod_amr(GSMAMR_cod_amrState* st, Word16 mode, const Word16* new_speech, Word16* ana, Word16* usedMode,
                    Word16 do_EFR = 0);
void amrefr_Speech_Encode_Frame_resetAMR(GSMAMR_Speech_Encode_FrameState* state, Word16 dtx);
void amrefr_Speech_Encode_Frame_resetEFR(GSMAMR_Speech_Encode_FrameState* state, Word16 dtx,
                                         GSMAMR_EFRdtx_encState* EFRdtx_encSt);
// With do_EFR set the frame is coded as GSM EFR (mode 12.2 with the EFR DTX);
// serial words 244 and 245 then carry the VAD and SP flags.  prm_out, when
// given, receives the 57 coded parameters.
void amrefr_Speech_Encode_Frame(GSMAMR_Speech_Encode_FrameState* st, Word16 mode, const Word16* in_speech,
                                Word16* serial, Word16* prm_out, Word16 do_EFR = 0);
Word16 amrefr_encoder_homing_frame_test(const Word16* input_frame);
void amrefr_sid_sync(GSMAMR_sid_syncState* st, Word16 mode, GSMAMR_TXFrameType* tx_frame_type, Word16 NSYNC_flag);

int gsmamr_Speech_Encode_Frame_init(GSMAMR_Speech_Encode_FrameState* st, GSMAMR_AmrFlag dtx);
int gsmamr_Speech_Encode_Frame(GSMAMR_Speech_Encode_FrameState* st, GSMAMR_MODE mode, const Word16* new_speech,
                               Word16* serial, GSMAMR_MODE* usedMode, std::uint16_t* frameType);

int gsmamr_sid_sync_init(GSMAMR_sid_syncState* state);
void gsmamr_sid_sync_exit(GSMAMR_sid_syncState* state);
void gsmamr_sid_sync(GSMAMR_sid_syncState* st, GSMAMR_MODE mode, GSMAMR_TXFrameType* tx_frame_type);

// Blocks the EFR and AMR vocoder wrappers keep per channel.
struct GSMAMR_ENCSTRUCT {
    GSMAMR_Speech_Encode_FrameState speech_encoder_state;
    GSMAMR_sid_syncState sid_state;
    GSMAMR_EFRdtx_encState EFRdtx_encSt;
};
