// Loss concealment of the waveform decoders (G.711, linear PCM, G.726): the concealment mode of
// the registers selects the generic frame-repeat concealment (1), the narrowband packet-loss
// concealment (3) or none, in which case a lost frame is silence.
#pragma once

#include <cstdint>

#include "conceal.h"
#include "pcmplc.h"

inline constexpr int PVE_PLC_FRAME = 40;

struct PvePlc {
  uint16_t mode;  // 0, 1 or 3
  HSZCONCEAL conceal;
  int16_t history[PVE_PLC_FRAME];
  NB_PLC_State nb;
};

// Binds the concealment for a decoder: mode from the registers, reset when the mode changes or
// the family does.
void pvePlcConfig(PvePlc* plc, uint16_t mode, bool algChange);
// Runs last on every frame: a good frame feeds the history, a bad one is concealed in place.
void g711_plcUpdate(PvePlc* plc, int16_t* frame, int n, bool bad);
