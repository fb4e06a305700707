// FXO detection timings, in ms, of the CAS channels the board tests run on the virtual board.
#pragma once

#include "casCtl.h"

inline CAS_CTL_FXO_PARMS casBoardFxoParms() {
  CAS_CTL_FXO_PARMS parms{};
  parms.minHookFlash = 280;
  parms.maxHookFlash = 1100;
  parms.pulseMinMake = 20;
  parms.pulseMaxMake = 200;
  parms.pulseMinBreak = 20;
  parms.pulseMaxBreak = 200;
  parms.minConnect = 100;
  parms.minDisconnect = 1200;
  parms.earlyActiveHookInterval = 20;
  parms.delayActiveHookInterval = 100;
  return parms;
}
