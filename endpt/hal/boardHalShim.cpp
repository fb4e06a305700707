// Frames of the board's channels cross into the DSP framework through its hardware shim.

#include "boardHal.h"
#include "halshim/halshim.h"

int boardHalShimCfgDevice(unsigned port, int enable, int wideband) {
  return halShimCfgDevice(port, enable, wideband);
}

void boardHalShimIngress(const int16_t* samples, unsigned port) { halShimIngress(samples, port); }

void boardHalShimEgress(int16_t* samples, unsigned port) { halShimEgress(samples, port); }
