// The complex tone detector of the training signal (power, notch power, phase reversal).
#pragma once

#include <cstdint>

#include "vc_types.h"

struct VCZCPBDEMOD {
  uint16_t phase;
  int16_t freq;
  const int16_t* filt;
  int16_t nfilt;
  int16_t* dlyr;
  int16_t* dlyi;
};

struct VCZCTONEDET {
  VCZCPBDEMOD demdet;
  int16_t demdetdlyr[12];
  int16_t demdetdlyi[12];
  int16_t tonetap;
  VCZCOMPLEX tonepref[6];  // newest first
  VCZCOMPLEX tonemem[18];  // newest first
  int16_t spwrmem[4];
  int16_t notchmem[4];
  int16_t pwr;
  int16_t notchpwr;
  int16_t t2corr;
  int16_t pwrtc;
  int16_t notchpwrtc;
  int16_t detthresh;
  int16_t carthresh;
  int16_t count;
  int16_t countthresh;
  int16_t conthresh;
  int16_t coffthresh;
  int16_t cstate;
  int16_t pinlim;
  int16_t ds;
};

extern const int16_t vctTonelpfLUT[12];
