// Modes, frame types and serial-frame layout shared by the AMR-NB / EFR
// encoder, decoder and their vocoder wrappers.
#pragma once

#include "amrefr_types.h"

enum AMR_Mode { MR475 = 0, MR515, MR59, MR67, MR74, MR795, MR102, MR122, MRDTX, N_MODES };
using GSMAMR_MODE = UWord8;

enum AMR_TXFrameType {
    TX_SPEECH_GOOD = 0,
    TX_SID_FIRST,
    TX_SID_UPDATE,
    TX_NO_DATA,
    TX_SPEECH_DEGRADED,
    TX_SPEECH_BAD,
    TX_SID_BAD,
    TX_ONSET,
    TX_N_FRAMETYPES
};
using GSMAMR_TXFrameType = UWord8;

enum AMR_RXFrameType {
    RX_SPEECH_GOOD = 0,
    RX_SPEECH_DEGRADED,
    RX_ONSET,
    RX_SPEECH_BAD,
    RX_SID_FIRST,
    RX_SID_UPDATE,
    RX_SID_BAD,
    RX_NO_DATA,
    RX_N_FRAMETYPES
};
using GSMAMR_RXFrameType = UWord8;

enum AMR_DTXStateType { SPEECH = 0, DTX, DTX_MUTE };
using GSMAMR_DTXStateType = UWord8;

using GSMAMR_AmrFlag = std::int32_t;

constexpr int AMR_L_FRAME = 160;
constexpr int AMR_L_SUBFR = 40;
constexpr int AMR_MAX_PRM_SIZE = 57;
constexpr int AMR_SERIAL_FRAMESIZE = 250;  // words of one serial frame (both directions)
constexpr int AMR_SERIAL_MODE_WORD = 245;  // AMR encoder output: requested mode, -1 for no data
constexpr int EFR_SERIAL_VAD_WORD = 244;   // EFR encoder output: VAD flag
constexpr int EFR_SERIAL_SP_WORD = 245;    // EFR encoder output: SP flag
constexpr int EFR_SERIAL_SID_WORD = 245;   // EFR decoder input: SID classification
constexpr int EFR_SERIAL_TAF_WORD = 246;   // EFR decoder input: time-alignment flag

// Serial bit count of a mode (sum of its parameter widths).
int amrefr_mode_bits(int mode);

// Classification of a received EFR frame from the zero bits among the 95 SID
// code word positions: 2 valid SID, 1 invalid SID, 0 speech.
Word16 amrefr_efr_sid_class(const Word16* bits244);
