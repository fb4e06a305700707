#include "voc_plc.h"

#include <cstring>

void pvePlcConfig(PvePlc* plc, uint16_t mode, bool algChange) {
  const uint16_t m = (mode == 1 || mode == 3) ? mode : 0;
  if (m == 1 && (plc->mode != 1 || algChange)) hsfInitConceal(&plc->conceal);
  // The history lives in the decoder's memory, which may have moved since the last binding.
  if (m == 1) hsfCfgConceal(&plc->conceal, plc->history, PVE_PLC_FRAME);
  plc->mode = m;
}

void pvePlcUpdate(PvePlc* plc, int16_t* frame, int n, bool bad) {
  if (plc->mode == 1 && n == PVE_PLC_FRAME) {
    hsfConceal(&plc->conceal, frame, bad ? 1 : 0, nullptr);
    return;
  }
  // No concealment, and the narrowband concealment until it is part of the build: silence.
  if (bad) std::memset(frame, 0, static_cast<size_t>(n) * sizeof(int16_t));
}
