// AMR-WB decoder: frame interface and state records.
#pragma once

#include "amrwb_frame_tables.h"
#include "amrwb_types.h"

// Receive frame types.
enum : Word16 {
    RX_SPEECH_GOOD = 0,
    RX_SPEECH_PROBABLY_DEGRADED = 1,
    RX_SPEECH_LOST = 2,
    RX_SPEECH_BAD = 3,
    RX_SID_FIRST = 4,
    RX_SID_UPDATE = 5,
    RX_SID_BAD = 6,
    RX_NO_DATA = 7,
};

struct wb_amr_dtx_decState {
    Word16 since_last_sid;
    Word16 true_sid_period_inv;
    Word16 log_en;
    Word16 old_log_en;
    Word16 level;
    Word16 isf[16];
    Word16 isf_old[16];
    Word16 cng_seed;
    Word16 isf_hist[8 * 16];
    Word16 log_en_hist[8];
    Word16 hist_ptr;
    Word16 dtxHangoverCount;
    Word16 decAnaElapsedCount;
    Word16 sid_frame;
    Word16 valid_data;
    Word16 dtxHangoverAdded;
    Word16 dtxGlobalState;
    Word16 data_updated;
    Word16 dither_seed;
    Word16 CN_dith;
    Word16 dtx_vad_hist;
};

struct wb_amr_RX_State {
    Word16 prev_ft;
    Word16 prev_mode;
};

struct wb_amr_Decoder_State {
    // Head shared with the encoder state (the common synthesis reads it).
    Word32 mem_Lsyn[16];
    Word16 mem_syn_hi[16];
    Word16 mem_syn_lo[16];
    Word16 mem_deemph;
    Word16 mem_sig_out[6];
    Word16 mem_oversamp[24];
    Word16 mem_hp400[6];
    Word16 seed2;
    Word16 vad_hist;
    // Decoder only.
    Word16 old_exc[248];
    Word16 ispold[16];
    Word16 isfold[16];
    Word16 isf_buf[48];
    Word16 past_isfq[16];
    Word16 tilt_code;
    Word16 Q_old;
    Word16 Qsubfr[4];
    Word32 L_gc_thres;
    Word16 mem_syn_hf[20];
    Word16 mem_hf[32];
    Word16 mem_hf2[32];
    Word16 mem_hf3[30];
    Word16 seed;
    Word16 old_T0;
    Word16 old_T0_frac;
    Word16 lag_hist[5];
    Word16 dec_gain[23];
    Word16 seed3;
    Word16 disp_mem[8];
    Word16 prev_bfi;
    Word16 state;
    Word16 first_frame;
    wb_amr_dtx_decState dtx_decSt;
    wb_amr_RX_State rx_state;
    // Homing: 1 while the decoder is in its home state (after a reset or a
    // decoder homing frame).
    Word16 reset_flag_old;
};

struct wb_amr_Decoder_Scratch {
    Word16 dummy;
};

void amr_wb_Init_decoder(wb_amr_Decoder_State* st);
void amr_wb_Reset_decoder(wb_amr_Decoder_State* st, Word16 reset_all);
void amr_wb_Reset_read_serial(wb_amr_RX_State* st);
// One frame: mode 0..9, the serial bits (one word per bit, a word >= 0 reads
// as 1), 320 output samples.
void amr_wb_decoder(Word16 mode, const Word16* prms, Word16* synth16k, Word16* frame_length, wb_amr_Decoder_State* st,
                    Word16 frame_type, wb_amr_Decoder_Scratch* scratchp);
Word16 amr_wb_decoder_homing_frame_test(const Word16* input_frame, Word16 mode);
Word16 amr_wb_decoder_homing_frame_test_first(const Word16* input_frame, Word16 mode);

// Internal routines of the decoder, exposed for the tests.
void amr_wb_D_gain2(Word16 index, Word16 nbits, const Word16* code, Word16* gain_pit, Word32* gain_cod, Word16 bfi,
                    Word16 prev_bfi, Word16 state, Word16 unusable, Word16 vad_hist, Word16* mem);
void amr_wb_D_gain2_bfi(Word16* gain_pit, Word32* gain_cod, Word16 state, Word16 unusable, Word16 vad_hist,
                        Word16 gcode_inov, Word16* mem);
void amr_wb_lagconc(const Word16* gain_hist, const Word16* lag_hist, Word16* T0, const Word16* old_T0, Word16* seed,
                    Word16 unusable);
void amr_wb_insert(Word16* array, Word16 n, Word16 x);
void amr_wb_insertion_sort(Word16* array, Word16 n);
Word16 amr_wb_rx_dtx_handler(wb_amr_dtx_decState* st, Word16 frame_type);
void amr_wb_dtx_dec(wb_amr_dtx_decState* st, Word16* exc2, Word16 new_state, Word16* isf, const Word16** prms);
void amr_wb_dtx_dec_activity_update(wb_amr_dtx_decState* st, const Word16* isf, const Word16* exc);
void amr_wb_dtx_dec_reset(wb_amr_dtx_decState* st);
Word16 amr_wb_dhf_test(const Word16* input_frame, Word16 mode, Word16 nparms);
