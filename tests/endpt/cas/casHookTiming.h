// FXO hook timing, in ms, that the CAS tests give their channels: the line card's usual values.
#pragma once

#include "casCtl.h"

// Hook flash, pulse dialling and connect/disconnect timing, wink detection left off.
inline CAS_CTL_FXO_PARMS hookTimingWithoutWink() {
  CAS_CTL_FXO_PARMS p{};
  p.minHookFlash = 280;
  p.maxHookFlash = 1100;
  p.pulseMinMake = 20;
  p.pulseMaxMake = 200;
  p.pulseMinBreak = 20;
  p.pulseMaxBreak = 200;
  p.minConnect = 100;
  p.minDisconnect = 1200;
  p.earlyActiveHookInterval = 20;
  p.delayActiveHookInterval = 100;
  return p;
}

// The full hook timing, wink detection included.
inline CAS_CTL_FXO_PARMS testHookTiming() {
  CAS_CTL_FXO_PARMS p = hookTimingWithoutWink();
  p.minWink = 20;
  p.minPostWink = 200;
  return p;
}
