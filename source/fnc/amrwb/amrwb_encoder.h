// AMR-WB encoder: frame interface and state records.
#pragma once

#include "amrwb_frame_tables.h"
#include "amrwb_types.h"

struct wb_amr_VadVars {
    Word16 bckr_est[12];
    Word16 ave_level[12];
    Word16 old_level[12];
    Word16 sub_level[12];
    Word16 a_data5[5 * 2];
    Word16 a_data3[6];
    Word16 burst_count;
    Word16 hang_count;
    Word16 stat_count;
    Word16 vadreg;
    Word16 tone_flag;
    Word16 sp_est_cnt;
    Word16 sp_max;
    Word16 sp_max_cnt;
    Word16 speech_level;
    Word32 prev_pow_sum;
};

struct wb_amr_dtx_encState {
    Word16 isf_hist[8 * 16];
    Word16 log_en_hist[8];
    Word16 hist_ptr;
    Word16 log_en_index;
    Word16 cng_seed;
    Word16 dtxHangoverCount;
    Word16 decAnaElapsedCount;
    Word32 D[28];
    Word32 sumD[8];
};

struct wb_amr_TX_State {
    Word16 sid_update_counter;
    Word16 sid_handover_debt;
    Word16 prev_ft;
};

struct wb_amr_Coder_State {
    // Head shared with the decoder state (the common synthesis reads it).
    Word32 mem_Lsyn[16];
    Word16 mem_syn_hi[16];
    Word16 mem_syn_lo[16];
    Word16 mem_deemph;
    Word16 mem_sig_out[6];
    Word16 mem_oversamp[24];
    Word16 mem_hp400[6];
    Word16 seed2;
    Word16 vad_hist;
    // Encoder only.
    Word16 mem_decim[30];
    Word16 mem_sig_in[6];
    Word16 mem_preemph;
    Word16 mem_syn[16];  // directly in front of old_speech
    Word16 old_speech[128];
    Word16 old_wsp[115];
    Word16 old_exc[256];
    Word16 mem_levinson[18];
    Word16 ispold[16];
    Word16 ispold_q[16];
    Word16 past_isfq[16];
    Word16 mem_wsp;
    Word16 mem_decim2[3];
    Word16 mem_w0;
    Word16 tilt_code;
    Word16 old_wsp_max;
    Word16 old_wsp_shift;
    Word16 Q_old;
    Word16 Q_max[2];
    Word16 gp_clip[2];
    Word16 qua_gain[4];
    Word16 old_T0_med;
    Word16 ol_gain;
    Word16 ada_w;
    Word16 ol_wght_flg;
    Word16 old_ol_lag[5];
    Word16 hp_wsp_mem[9];
    Word16 old_hp_wsp[243];
    Word16 first_frame;
    Word16 isfold[16];
    Word32 L_gc_thres;
    Word16 mem_syn_hf[16];
    Word16 mem_hf[32];
    Word16 mem_hf2[32];
    Word16 gain_alpha;
    wb_amr_VadVars vadSt;
    wb_amr_dtx_encState dtx_encSt;
};

struct wb_amr_Coder_Scratch {
    Word16 dummy;
};

void amr_wb_Init_coder(wb_amr_Coder_State* st);
void amr_wb_Reset_encoder(wb_amr_Coder_State* st, Word16 reset_all);
void amr_wb_Reset_write_serial(wb_amr_TX_State* st);
// One frame of 320 samples: mode in (0..8) and out (9 when DTX chose a SID
// frame); prms receives *ser_size serial words (+127 / -127).
void amr_wb_coder(Word16* mode, const Word16* speech16k, Word16* prms, Word16* ser_size, wb_amr_Coder_State* st,
                  Word16 allow_dtx, wb_amr_Coder_Scratch* scratchp);
// Frame type to send after a frame coded in `mode`: 0 speech, 1 SID first,
// 2 SID update, 3 no data.
void amr_wb_Dtx_update(Word16 mode, Word16* tx_frame_type, wb_amr_TX_State* st);
Word16 amr_wb_encoder_homing_frame_test(const Word16* input_frame);

// Voice activity detector.
Word16 amr_wb_vad(wb_amr_VadVars* st, const Word16* in_buf);
void amr_wb_vad_tone_detection(wb_amr_VadVars* st, Word16 gain);
