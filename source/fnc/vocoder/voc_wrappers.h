// State records and operations of the codec wrappers (internal to the vocoder module).
#pragma once

#include "amrefr_decoder.h"
#include "amrefr_encoder.h"
#include "g722.h"
#include "g7231.h"
#include "g726.h"
#include "g729.h"
#include "gsmfr.h"
#include "voc_plc.h"
#include "vocoder.h"

struct G711DecState {
  uint16_t code;
  PvePlc plc;
};
struct G711EncState {
  uint16_t code;
};
struct LinPcmDecState {
  PvePlc plc;
};

struct G726DecState {
  uint16_t code;
  PvePlc plc;
  G726_State codec;
};
struct G726EncState {
  uint16_t code;
  G726_State codec;
};

struct G729DecState {
  G729FRAMETYPE prevKind;
  G729DECSTATE codec;
};
struct G729EncState {
  G729ENCSTATE codec;
};

struct G7231DecState {
  G7231_Decod_State codec;
};
struct G7231EncState {
  G7231_Coder_State codec;
};

struct G722DecState {
  uint16_t mode;     // 1..3
  uint16_t plcMode;  // concealment mode of the registers
  g722_state codec;
  G722_APXIII_WB_PLC_State plc;
};
struct G722EncState {
  g722_state codec;
};

struct GsmFrDecState {
  GSMFR_DECSTRUCT codec;
};
struct GsmFrEncState {
  uint16_t dtx;
  uint16_t frameCounter;  // modulo 24
  uint16_t prevSpeech;
  GSMFR_ENCSTRUCT codec;
};

struct GsmEfrDecState {
  GSMAMR_DECSTRUCT codec;
};
struct GsmEfrEncState {
  uint16_t dtx;
  uint16_t sidCounter;  // non-speech frames since the last one sent
  uint16_t prevSpeech;
  GSMAMR_ENCSTRUCT codec;
};
