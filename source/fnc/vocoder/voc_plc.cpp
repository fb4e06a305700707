#include "voc_plc.h"

#include <cstring>

void pvePlcConfig(PvePlc* plc, uint16_t mode, bool algChange) {
  const uint16_t m = (mode == 1 || mode == 3) ? mode : 0;
  if (m == 1 && (plc->mode != 1 || algChange)) hsfInitConceal(&plc->conceal);
  if (m == 3 && (plc->mode != 3 || algChange)) Reset_NB_PLC(&plc->nb);
  // The history lives in the decoder's memory, which may have moved since the last binding.
  if (m == 1) hsfCfgConceal(&plc->conceal, plc->history, PVE_PLC_FRAME);
  plc->mode = m;
}

void g711_plcUpdate(PvePlc* plc, int16_t* frame, int n, bool bad) {
  if (plc->mode == 1 && n == PVE_PLC_FRAME) {
    hsfConceal(&plc->conceal, frame, bad ? 1 : 0, nullptr);
    return;
  }
  if (plc->mode == 3 && n == PVE_PLC_FRAME) {
    if (bad) NB_PLC_erasure(&plc->nb, frame);
    else NB_PLC(&plc->nb, frame, frame);
    return;
  }
  // No concealment: a lost frame is silence.
  if (bad) std::memset(frame, 0, static_cast<size_t>(n) * sizeof(int16_t));
}
