// GSM EFR discontinuous transmission: transmit and receive control words,
// comfort-noise parameter histories and averages, SID code word.
#pragma once

#include "amrefr_types.h"

struct GSMAMR_EFRdtx_encState {
    Word16 txdtx_ctrl;
    Word32 L_pn_seed_tx;
    Word16 txdtx_N_elapsed;
    Word16 txdtx_hangover;
    Word16 lsf_old_tx[7][10];
    Word16 gain_code_old_tx[28];
    Word16 lsf_p_CN[10];
    Word16 gcode0_CN;
    Word16 old_CN_mem_tx[6];
    Word16 buf_p_tx;
    Word16 CN_excitation_gain;
    Word16 end_marker;
};

struct GSMAMR_EFRdtx_decState {
    Word16 rxdtx_ctrl;
    Word16 rx_dtx_state;
    Word16 rxdtx_N_elapsed;
    Word16 prev_SID_frames_lost;
    Word16 rxdtx_aver_period;
    Word32 L_pn_seed_rx;
    Word16 buf_p_rx;
    Word16 gcode0_CN;
    Word16 gain_code_old_CN;
    Word16 gain_code_new_CN;
    Word16 gain_code_muting_CN;
    Word16 lsf_p_CN[10];
    Word16 lsf_old_CN[10];
    Word16 lsf_new_CN[10];
    Word16 pbuf[5];
    Word16 past_gain_pit;
    Word16 prev_gp;
    Word16 gbuf[5];
    Word16 past_gain_code;
    Word16 prev_gc;
    Word16 lsf_old_rx[7][10];
    Word16 gain_code_old_rx[28];
    Word16 end_marker;
};

// Transmit control word bits.
constexpr Word16 EFR_TX_SP_FLAG = 0x0001;
constexpr Word16 EFR_TX_VAD_FLAG = 0x0002;
constexpr Word16 EFR_TX_HANGOVER_ACTIVE = 0x0004;
constexpr Word16 EFR_TX_PREV_HANGOVER_ACTIVE = 0x0008;
constexpr Word16 EFR_TX_SID_UPDATE = 0x0010;
constexpr Word16 EFR_TX_USE_OLD_SID = 0x0020;

// Receive control word bits.
constexpr Word16 EFR_RX_SP_FLAG = 0x0001;
constexpr Word16 EFR_RX_UPD_SID_QUANT_MEM = 0x0002;
constexpr Word16 EFR_RX_FIRST_SID_UPDATE = 0x0004;
constexpr Word16 EFR_RX_CONT_SID_UPDATE = 0x0008;
constexpr Word16 EFR_RX_LOST_SID_FRAME = 0x0010;
constexpr Word16 EFR_RX_INVALID_SID_FRAME = 0x0020;
constexpr Word16 EFR_RX_NO_TRANSMISSION = 0x0040;
constexpr Word16 EFR_RX_DTX_MUTING = 0x0080;
constexpr Word16 EFR_RX_PREV_DTX_MUTING = 0x0100;
constexpr Word16 EFR_RX_CNI_BFI = 0x0200;
constexpr Word16 EFR_RX_FIRST_SP_FLAG = 0x0400;

constexpr Word32 EFR_PN_INITIAL_SEED = 1887529304;

// Transmit side.
void amrefr_reset_tx_dtx(GSMAMR_EFRdtx_encState* st);
void amrefr_tx_dtx(Word16 VAD_flag, GSMAMR_EFRdtx_encState* st);
Word16 amrefr_compute_CN_excitation_gain(const Word16* res2);
void amrefr_CN_encoding(Word16* params, Word16 txdtx_ctrl, Word16* old_CN_mem_tx);
void amrefr_sid_codeword_encoding(Word16* ser2);
void amrefr_aver_lsf_history(const Word16 lsf_old[7][10], const Word16* lsf1, const Word16* lsf2, Word16* lsf_aver);
Word16 amrefr_aver_gain_code_history(Word16 CN_excitation_gain, const Word16* gain_code_old);

// Both directions.
void amrefr_update_lsf_history(const Word16* lsf1, const Word16* lsf2, Word16 lsf_old[7][10]);
void amrefr_update_lsf_p_CN(const Word16 lsf_old[7][10], Word16* lsf_p_CN);
Word16 amrefr_update_gain_code_history(Word16 new_gain_code, Word16* gain_code_old, Word16 buf_p);
Word16 amrefr_update_gcode0_CN(const Word16* gain_code_old);

// Receive side.
void amrefr_reset_rx_dtx(GSMAMR_EFRdtx_decState* st);
void amrefr_rx_dtx(Word16 TAF, Word16 bfi, Word16 SID_flag, GSMAMR_EFRdtx_decState* st);
void amrefr_interpolate_CN_vec_1(const Word16* vec_old_CN, const Word16* vec_new_CN, Word16* vec_interp_CN,
                                 Word16 rx_dtx_state);
void amrefr_interpolate_CN_vec_M(const Word16* vec_old_CN, const Word16* vec_new_CN, Word16* vec_interp_CN,
                                 Word16 rx_dtx_state);
