#include "voc_plc.h"

#include <cstring>

void pvePlcConfig(PvePlc* plc, uint16_t mode, bool algChange) {
  (void)algChange;
  plc->mode = (mode == 1 || mode == 3) ? mode : 0;
}

void pvePlcUpdate(PvePlc* plc, int16_t* frame, int n, bool bad) {
  (void)plc;
  // Until the line library's concealment blocks are wired in, every mode plays a lost frame as
  // silence, as mode 0 does.
  if (bad) std::memset(frame, 0, static_cast<size_t>(n) * sizeof(int16_t));
}
