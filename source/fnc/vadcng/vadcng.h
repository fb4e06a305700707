// The generic silence-suppression pair for codecs without a silence scheme of their own: a voice
// activity detector that decides per frame whether the encoder may stop sending and when a
// silence descriptor (SID) is due, and a comfort-noise generator that fills the decoder's output
// during silence at the level of the last SID. The SID is one word: the noise floor in whole dB
// below full scale in the high byte. Levels are dB x 256.
#pragma once

#include <cstdint>

#include "level.h"

enum HAPI_GCNG_NOISETYPE : int16_t {
  HAPI_GCNG_NOISEOFF = 0,
  HAPI_GCNG_WHITENOISE = 1,
  HAPI_GCNG_HOTHNOISE = 2,
  HAPI_GCNG_MATCHSPECTRUM = 3,
};

constexpr int GCNG_ORDER = 6;

struct GCNG {
  HAPI_GCNG_NOISETYPE noisetype;
  uint16_t widebandcfg;           // 1: the output is 16 kHz
  int32_t __bandCombineHist[10];  // the 5 ms band combiner's 20 samples
  int16_t seed;
  int16_t alpha;                  // gain correction of the shaping filter; > 0: computed from it
  int16_t level;                  // noise level
  int16_t a[GCNG_ORDER + 1];      // shaping filter, Q12, a[0] = 4096
  int16_t filtState[GCNG_ORDER];
};

enum HAPI_GVAD_MODE : int16_t {
  HAPI_GVAD_MODE_OFF = 0,
  HAPI_GVAD_MODE_TRANSPARENT = 1,
  HAPI_GVAD_MODE_CONSERVATIVE = 2,
  HAPI_GVAD_MODE_AGGRESSIVE = 3,
};

struct GVAD {
  LEV_ESTMM2 level;      // high-passed power: floor and peak of the decision
  LEV_ESTMM2 levelFlat;  // flat power: its floor goes into the SID
  HAPI_GVAD_MODE mode;
  int16_t sendSID;
  int16_t timeOutCount;  // ms since the last SID, up to 1000
  int16_t hangCount;     // ms of hangover left
  int16_t burstCount;    // ms of activity in the current burst
  int16_t levelLast;     // flat floor at the last SID
  int16_t history[7];
};

constexpr int GVAD_MAX_FRAME = 240;

void cngInit(GCNG* cngp, int16_t noisetype);
void cngCfg(GCNG* cngp, int16_t noisetype, uint16_t widebandcfg);
// One frame of comfort noise: n samples at 8 kHz, or 2n in wideband operation; `datap` is the SID
// payload when `packetlen` is not 0.
void cngProcess(GCNG* cngp, int16_t* s, uint16_t* datap, uint16_t packetlen, uint16_t n);
// One chunk of noise at `level`, white (m = 0) or shaped by 1/A(z) of order m. `scratchp`: 2n + m
// words.
void cng(int16_t* y, const int16_t* a, int16_t* state, int16_t* seed, int16_t level, int16_t alpha,
         int m, int n, int16_t* scratchp);

void gvadInit(GVAD* gvadp, int16_t mode);
void gvadCfg(GVAD* gvadp, int16_t mode);
// 1 (true) when the frame is silence and may be suppressed, 0 for voice.
int gvad(GVAD* gvadp, const int16_t* s, int n, int vadOption);
// Writes the SID word and returns 2 when one is due; otherwise returns 0.
int gvadGenSID(GVAD* gvadp, uint16_t* rawdata);
