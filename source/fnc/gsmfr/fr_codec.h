// Frame-level routines of the GSM full-rate codec shared between its source files.
#pragma once

#include "fr_basic_op.h"
#include "gsmfr.h"

// Encoder and decoder frame drivers.
void fr_Encode_Frame_reset(GSMFR_ENCSTRUCT* st, Word16 dtx);
void fr_Encode_Frame(const Word16* speech_in, Word16* prm_buf, GSMFR_ENCSTRUCT* st);
void fr_Decode_Frame_reset(GSMFR_DECSTRUCT* st);
void fr_Decode_Frame(GSMFR_DECSTRUCT* st, const Word16* in, Word16* speech_out);

// Schur recursion: 8 reflection coefficients from 9 autocorrelation values.
void fr_Reflection_coefficients(const Word32* L_ACF, Word16* r);
// Block maximum to its 6-bit code.
Word16 fr_Q_xmax(Word16 xmax);
// Block-maximum code to exponent and mantissa of the APCM quantiser.
void fr_APCM_quantization_xmaxc_to_exp_mant(Word16 xmaxc, Word16* exp_out, Word16* mant_out);

// Voice activity detector.
void fr_vad_reset(FrVadState* st, Word16 mode);
Word16 fr_vad_computation(const Word32* L_acf, Word16 scal_acf, const Word16* rc, FrVadState* st);
// The same detector with a tone flag that blocks the threshold adaptation (the half-rate
// codec runs it in mode 2 with its own tone detector).
Word16 fr_vad_computation_tone(const Word32* L_acf, Word16 scal_acf, Word16 tone, FrVadState* st);
void fr_periodicity_update(const Word16* lags, FrVadState* st);

// Discontinuous transmission, transmit side.
inline constexpr Word16 FR_TX_SP_FLAG = 1;
inline constexpr Word16 FR_TX_VAD_FLAG = 2;
inline constexpr Word16 FR_TX_HANGOVER_ACTIVE = 4;
inline constexpr Word16 FR_TX_PREV_HANGOVER_ACTIVE = 8;
inline constexpr Word16 FR_TX_SID_UPDATE = 16;
inline constexpr Word16 FR_TX_USE_OLD_SID = 32;
void fr_reset_tx_dtx(FRdtx_encState* st);
void FR_tx_dtx(Word16 VAD_flag, FRdtx_encState* st, Word16 do_EFR);
void fr_GenSIDprm(Word16* LAR, Word16* Xmax, FRdtx_encState* st);
void fr_UpdateSIDmem(const Word16* LAR, const Word16* Xmax, FRdtx_encState* st);

// Discontinuous transmission, receive side.
inline constexpr Word16 FR_RX_SP_FLAG = 1;
inline constexpr Word16 FR_RX_UPD_SID_QUANT_MEM = 2;
inline constexpr Word16 FR_RX_FIRST_SID_UPDATE = 4;
inline constexpr Word16 FR_RX_CONT_SID_UPDATE = 8;
inline constexpr Word16 FR_RX_LOST_SID_FRAME = 16;
inline constexpr Word16 FR_RX_INVALID_SID_FRAME = 32;
inline constexpr Word16 FR_RX_NO_TRANSMISSION = 64;
inline constexpr Word16 FR_RX_DTX_MUTING = 128;
inline constexpr Word16 FR_RX_PREV_DTX_MUTING = 256;
inline constexpr Word16 FR_RX_CNI_BFI = 512;
inline constexpr Word16 FR_RX_FIRST_SP_FLAG = 1024;
void fr_reset_rx_dtx(FRdtx_decState* st);
void FR_rx_dtx(Word16 TAF, Word16 bfi, Word16 SID_flag, Word16* state, Word16* prev_bf,
               Word16 do_EFR, FRdtx_decState* st);
