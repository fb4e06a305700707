// AMR-NB speech decoder: state records, frame driver and the parameter
// decoders, concealment and post-processing tools it uses.
#pragma once

#include "amrefr_efr_dtx.h"
#include "amrefr_frame_format.h"
#include "amrefr_kernels.h"
#include "amrefr_types.h"

// ---------------------------------------------------------------------------
// Gain predictor (shared with the encoder).
struct GSMAMR_gc_predState {
    Word16 past_qua_en[4];        // Q10, MR475 … MR102
    Word16 past_qua_en_MR122[4];  // Q10 of log2, MR122
};

void amrefr_gc_pred_reset(GSMAMR_gc_predState* st);
void amrefr_gc_pred(GSMAMR_gc_predState* st, Word16 mode, const Word16* code, Word16* exp_gcode0,
                    Word16* frac_gcode0, Word16* exp_en, Word16* frac_en);
void amrefr_gc_pred_update(GSMAMR_gc_predState* st, Word16 qua_ener_MR122, Word16 qua_ener);
void amrefr_gc_pred_average_limited(const GSMAMR_gc_predState* st, Word16* ener_avg_MR122, Word16* ener_avg);

// ---------------------------------------------------------------------------
// Concealment and background-noise tools.
struct GSMAMR_ec_gain_pitchState {
    Word16 pbuf[5];
    Word16 past_gain_pit;
    Word16 prev_gp;
};
struct GSMAMR_ec_gain_codeState {
    Word16 gbuf[5];
    Word16 past_gain_code;
    Word16 prev_gc;
};
struct GSMAMR_BGNSCD_STATE {
    Word16 frameEnergyHist[60];
    Word16 bgHangover;
};
struct GSMAMR_CB_GAIN_AVERAGE_STATE {
    Word16 cbGainHistory[7];
    Word16 hangVar;
    Word16 hangCount;
};
struct GSMAMR_ph_dispState {
    Word16 gainMem[5];
    Word16 prevState;
    Word16 prevCbGain;
    Word16 lockFull;
    Word16 onset;
};

Word16 amrefr_gmed_n(const Word16* ind, Word16 n);
void amrefr_ec_gain_pitch(GSMAMR_ec_gain_pitchState* st, Word16 state, Word16* gain_pitch);
void amrefr_ec_gain_pitch_update(GSMAMR_ec_gain_pitchState* st, Word16 bfi, Word16 prev_bf, Word16* gain_pitch);
void amrefr_ec_gain_code(GSMAMR_ec_gain_codeState* st, GSMAMR_gc_predState* pred_state, Word16 state,
                         Word16* gain_code);
void amrefr_ec_gain_code_update(GSMAMR_ec_gain_codeState* st, Word16 bfi, Word16 prev_bf, Word16* gain_code);
Word16 amrefr_Bgn_scd(GSMAMR_BGNSCD_STATE* st, const Word16* ltpGainHist, const Word16* speech,
                      Word16* voicedHangover, Word32* FrameEnergy);
Word16 amrefr_ComputeLspDiff(const Word16* lsp, const Word16* lspAver_Plus2);
Word16 amrefr_Cb_gain_average(GSMAMR_CB_GAIN_AVERAGE_STATE* st, Word16 mode, Word16 gain_code, const Word16* lsp,
                              const Word16* lspAver, Word16 bfi, Word16 prev_bf, Word16 pdfi, Word16 prev_pdf,
                              Word16 inBackgroundNoise, Word16 voicedHangover);
void amrefr_Ex_ctrl(Word16* excitation, Word16 excEnergy, const Word16* exEnergyHist, Word16 voicedHangover,
                    Word16 prevBFI, Word16 carefulFlag);
void amrefr_Int_lsf(const Word16* lsf_old, const Word16* lsf_new, Word16 i_subfr, Word16* lsf_out);

// ---------------------------------------------------------------------------
// Post-processing.
struct GSMAMR_AGC_STATE {
    Word16 past_gain;
};
struct GSMAMR_Post_FilterState {
    Word16 res2_plus[41];
    Word16 mem_syn_pst[10];
    GSMAMR_preemphasisState preemph_state;
    GSMAMR_AGC_STATE agc_state;
    Word16 synth_buf[10];
};

Word32 amrefr_energy_new(const Word16* in);
void amrefr_agc(const Word16* sig_in, Word16* sig_out, Word16 agc_fac, Word16* past_gain);
Word16 amrefr_comp_mu(Word16* h);
void amrefr_Post_Filter(GSMAMR_Post_FilterState* st, Word16 mode, Word16* syn, const Word16* Az_4);
void amrefr_ph_disp(GSMAMR_ph_dispState* state, Word16 mode, Word16* x, Word16 cbGain, Word16 ltpGain, Word16* inno,
                    Word16 pitch_fac, Word16 tmp_shift, const Word16* undisp_x);

// ---------------------------------------------------------------------------
// Parameter decoders and LSP helpers.
Word32 amrefr_sqrt_l_exp(Word32 L_x, Word16* exp);
void amrefr_Vec_add_prev_mult(Word16* v, Word16 MultFac, Word16 Offset);
void amrefr_Int_lpc_1to3(const Word16* lsp_old, const Word16* lsp_new, Word16* Az);
void amrefr_Int_lpc_1and3(const Word16* lsp_old, const Word16* lsp_mid, const Word16* lsp_new, Word16* Az);
void amrefr_A_Refl(const Word16* a, Word16* refl);
void amrefr_D_plsf_3(Word16* past_lsf_q, Word16* past_r_q, Word16 bfi, const Word16* indice, Word16* lsp1_q,
                     Word16 mode);
void amrefr_D_plsf_5_efr(Word16* past_lsf_q, Word16* past_r_q, Word16 bfi, const Word16* indice, Word16* lsp1_q,
                         Word16* lsp2_q, GSMAMR_EFRdtx_decState* EFRdtx_decSt, Word16 do_EFR);
Word16 amrefr_d_gain_pitch_efr(Word16 index, Word16 bfi, Word16 state, Word16 prev_bf,
                               GSMAMR_EFRdtx_decState* EFRdtx_decSt);
void amrefr_d_gain_code_efr(GSMAMR_gc_predState* pred_state, Word16 index, const Word16* code, Word16 lcode,
                            Word16* gain_code, Word16 bfi, Word16 state, Word16 prev_bf, Word16 i_subfr,
                            GSMAMR_EFRdtx_decState* EFRdtx_decSt);
void amrefr_D_plsf_5(Word16* past_lsf_q, Word16* past_r_q, Word16 bfi, const Word16* indice, Word16* lsp1_q,
                     Word16* lsp2_q);
void amrefr_Dec_lag3(Word16 index, Word16 t0_min, Word16 t0_max, Word16 i_subfr, Word16 T0_prev, Word16* T0,
                     Word16* T0_frac, Word16 flag4);
void amrefr_Dec_lag6(Word16 index, Word16 pit_min, Word16 pit_max, Word16 i_subfr, Word16* T0, Word16* T0_frac);
using amrefr_decode_Xi40_Ybits_fn = void (*)(const Word16* index, Word16* cod, Word16* pos, Word16 subNr);
void amrefr_decode_2i40_9bits(const Word16* index, Word16* cod, Word16* pos, Word16 subNr);
void amrefr_decode_2i40_11bits(const Word16* index, Word16* cod, Word16* pos, Word16 subNr);
void amrefr_decode_3i40_14bits(const Word16* index, Word16* cod, Word16* pos, Word16 subNr);
void amrefr_decode_4i40_17bits(const Word16* index, Word16* cod, Word16* pos, Word16 subNr);
void amrefr_dec_8i40_31bits(const Word16* index, Word16* cod, Word16* pos, Word16 subNr);
void amrefr_dec_10i40_35bits(const Word16* index, Word16* cod, Word16* pos, Word16 subNr);
extern const amrefr_decode_Xi40_Ybits_fn amrefr_decode_Xi40_Ybits_tab[8];
void amrefr_Dec_gain(GSMAMR_gc_predState* pred_state, Word16 mode, Word16 index, const Word16* code,
                     Word16* gain_cod, Word16 evenSubfr, Word16* gain_pit);
void amrefr_d_gain_code(GSMAMR_gc_predState* pred_state, Word16 mode, Word16 index, const Word16* code,
                        Word16* gain_code, Word16 dummy1, Word16* dummy2);
Word16 amrefr_d_gain_pitch(Word16 mode, Word16 index);

// ---------------------------------------------------------------------------
// AMR DTX decoder state (receive side of discontinuous transmission).
struct GSMAMR_dtx_decState {
    Word16 since_last_sid;
    Word16 true_sid_period_inv;
    Word16 log_en;
    Word16 old_log_en;
    Word32 L_pn_seed_rx;
    Word16 lsp[10];
    Word16 lsp_old[10];
    Word16 lsf_hist[80];
    Word16 lsf_hist_mean[80];
    Word16 lsf_hist_ptr;
    Word16 log_pg_mean;
    Word16 log_en_hist[8];
    Word16 log_en_hist_ptr;
    Word16 log_en_adjust;
    Word16 dtxHangoverCount;
    Word16 decAnaElapsedCount;
    Word16 sid_frame;
    Word16 valid_data;
    Word16 dtxHangoverAdded;
    GSMAMR_DTXStateType dtxGlobalState;
    Word16 data_updated;
};

// ---------------------------------------------------------------------------
// Core decoder and frame driver.
struct GSMAMR_Decoder_amrState {
    Word16 old_exc[154];
    Word16* exc;
    Word16 lsp_old[10];
    Word16 mem_syn[10];
    Word16 sharp;
    Word16 old_T0;
    Word16 prev_bf;
    Word16 prev_pdf;
    Word16 state;
    Word16 excEnergyHist[9];
    Word16 T0_lagBuff;
    Word16 inBackgroundNoise;
    Word16 voicedHangover;
    Word16 ltpGainHistory[9];
    GSMAMR_BGNSCD_STATE background_state;
    Word16 nodataSeed;
    GSMAMR_CB_GAIN_AVERAGE_STATE Cb_gain_averState;
    Word16 lsp_meanSave[10];
    Word16 past_r_q[10];
    Word16 past_lsf_q[10];
    GSMAMR_ec_gain_pitchState ec_gain_p_st;
    GSMAMR_ec_gain_codeState ec_gain_c_st;
    GSMAMR_gc_predState pred_state;
    GSMAMR_ph_dispState ph_disp_st;
    GSMAMR_dtx_decState* dtx_decSt;
    GSMAMR_EFRdtx_decState* EFRdtx_decSt;
};

struct GSMAMR_Speech_Decode_FrameState {
    GSMAMR_Post_FilterState post_state;
    GSMAMR_Pre_ProcessState postHP_state;
    std::uint16_t prev_mode;
    std::uint16_t mode;
    std::uint16_t rx_type;
    std::uint16_t tx_type;
    Word16 reset_flag_old;
    GSMAMR_Decoder_amrState decoder_amrState;
};

void amrefr_Decoder_amr_reset(GSMAMR_Decoder_amrState* state, Word16 mode);
void amrefr_Decoder_amr(GSMAMR_Decoder_amrState* st, Word16 mode, Word16* parm, Word16 frame_type, Word16* synth,
                        Word16* A_t, Word16 BFI_EFR = 0, Word16 TAF_EFR = 0, Word16 SID_flag_EFR = 0,
                        Word16 do_EFR = 0);
void amrefr_Speech_Decode_Frame_resetAMR(GSMAMR_Speech_Decode_FrameState* state, GSMAMR_dtx_decState* dtx_decSt);
void amrefr_Speech_Decode_Frame_resetEFR(GSMAMR_Speech_Decode_FrameState* state,
                                         GSMAMR_EFRdtx_decState* EFRdtx_decSt);
// With do_EFR set, serial is the 247-word EFR receive frame: word 0 the bad-frame
// indicator, words 1 ... 244 the bits, word 245 the SID classification, word 246
// the time-alignment flag.
void amrefr_Speech_Decode_Frame(GSMAMR_Speech_Decode_FrameState* st, Word16 rxframetypeMode, const Word16* serial,
                                Word16* in_synth, Word16 do_EFR = 0);

// DTX receive side.
void amrefr_dtx_dec_reset(GSMAMR_dtx_decState* st);
GSMAMR_DTXStateType amrefr_rx_dtx_handler(GSMAMR_dtx_decState* st, Word16 frame_type);
void amrefr_dtx_dec(GSMAMR_dtx_decState* st, Word16* mem_syn, GSMAMR_Decoder_amrState* DecState,
                    GSMAMR_gc_predState* predState, GSMAMR_CB_GAIN_AVERAGE_STATE* averState,
                    GSMAMR_DTXStateType new_state, Word16 mode, const Word16* parm, Word16* synth, Word16* A_t);
void amrefr_dtx_dec_activity_update(GSMAMR_dtx_decState* st, const Word16* lsf, const Word16* frame,
                                    Word32 L_frame_en);
void amrefr_build_CN_param(Word16* seed, Word16 n_param, const Word16* param_size_table, Word16* parm);

// Decoder homing.
Word16 amrefr_dhf_test(const Word16* input_frame, Word16 mode, Word16 nparms);
Word16 amrefr_decoder_homing_frame_test(const Word16* input_frame, Word16 mode);
Word16 amrefr_decoder_homing_frame_test_first(const Word16* input_frame, Word16 mode);
Word16 amrefr_homing_frame_test(const Word16* input_frame, const Word16* mask, Word16 len, Word16 step);
Word16 amrefr_efr_decoder_homing_frame_test(const Word16* parm, Word16 nbr_of_params);

// Entry points of the vocoder wrapper.
struct GSMAMR_DECSTRUCT {
    GSMAMR_Speech_Decode_FrameState speech_decoder_state;
    GSMAMR_dtx_decState dtx_decSt;
    GSMAMR_EFRdtx_decState EFRdtx_decSt;
};
int gsmamr_Speech_Decode_Frame_init(GSMAMR_Speech_Decode_FrameState* st, GSMAMR_dtx_decState* dtx_decSt);
int gsmamr_Speech_Decode_Frame(GSMAMR_Speech_Decode_FrameState* st, GSMAMR_MODE mode, const Word16* serial,
                               GSMAMR_RXFrameType frame_type, Word16* synth);
