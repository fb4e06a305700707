// Block levels and gain stages shared by the echo canceller and the voice activity detector:
// block powers (plain and high-passed), a level estimator giving per-block and windowed levels in
// dB x 256 with floor and maximum tracking and a noise spectral model, and smoothed gains. The
// automatic gain control, compressor, sub-band and stationarity measures are offered as well.
#pragma once

#include <cstdint>

constexpr int16_t LEV_DB = 256;  // one dB in dB x 256
constexpr int16_t LEV_MIN_DB = -72 * LEV_DB;

// Estimator flags.
constexpr uint16_t LEV_FLAG_TRACK_HOLD = 0x01;    // the floor does not rise (mode bit 0)
constexpr uint16_t LEV_FLAG_TRACK_FAST = 0x02;    // the floor jumps and rises faster (mode bit 1)
constexpr uint16_t LEV_FLAG_MINMAX = 0x04;        // track floor and maximum
constexpr uint16_t LEV_FLAG_MIN2 = 0x08;          // ... and the second floor
constexpr uint16_t LEV_FLAG_SPECTRUM = 0x10;      // ... and the noise spectral model (ceiling -20 dB)
constexpr uint16_t LEV_FLAG_HOLD_MIN2 = 0x20;     // keep the second floor from replacing the first

struct LEV_LS {
  int16_t blk;  // level of the last block
  int16_t win;  // level over the seven-block window
};

struct LEV_AGC;

struct LEV_EST {
  LEV_AGC* agc;
  int32_t u;           // high-pass state of the block-power measurement
  uint32_t pwr[7];
  int16_t index;       // slot written last
};

struct LEV_ESTMM {
  LEV_EST est;
  int16_t levMin;      // noise floor
  int16_t levMax;
  int16_t env;
  int16_t hangCountEnv;
  int16_t magic8;
  int16_t hangCount;
  int16_t minTrackCount;
};

// With a second, faster floor; the form the voice activity detector keeps.
struct LEV_ESTMM2 {
  LEV_ESTMM mm;
  int16_t levMin2;
  int16_t hangCount2;  // consecutive updates with levMin at or below levMin2
};

// With the noise spectral model as well.
struct LEV_ESTMM3 {
  LEV_ESTMM2 mm2;
  int16_t a[7];        // predictor of the noise, a[0] = 4096
  int16_t alpha;       // its prediction-error power in dB x 256
};

struct LEV_COMPSTATE {
  int16_t g[2];        // current gain and its smoothed target (Q10)
  int32_t u;
  int16_t beta[4];
  int16_t alpha;
};

struct LEV_AGC {
  int16_t a[16];
  int16_t h[16];
  int16_t levHist[15];
  int16_t p;
  int16_t sv56_level;
  int16_t count;
  int16_t avg;
  int16_t levDelta;
  int16_t state;
  int16_t count2;
  int16_t sv56_avg;
  int16_t gainTarget;
  int16_t gainAuto;
  int16_t compressor;
};

// Sum of squares of the block in 64 bits, shifted right arithmetically.
uint32_t levelBlockPower(const int16_t* x, int n, int shift);
// The same of the signal high-passed by s' = s + (x >> 2) - (s >> 2), d = s' - s; `state` keeps s'.
uint32_t levelBlockPwrHpf(const int16_t* x, int n, int shift, int32_t* state);
// One block: stores its power, writes the block and window levels, tracks floor and maximum as
// the flags ask. `est` is the record the flags call for (LEV_ESTMM, LEV_ESTMM2 or LEV_ESTMM3).
void levelEstimator(LEV_EST* est, LEV_LS* out, int16_t offset, uint16_t flags, uint32_t power,
                    const int16_t* samples, int count, int16_t* scratch);
// One step of a floor (and maximum, when `max` is not null) follower.
void levelMinimaxTrack(int16_t* min, int16_t* max, int16_t level, int16_t* hang, int16_t ceiling,
                       uint16_t mode);
// Adapts the noise predictor of `est` on a block of noise.
void levelSpectralEstimator(LEV_ESTMM3* est, const int16_t* samples, int count, int16_t* scratch);
// Smoothed gain towards `scale` (Q10, 1024 = 0 dB) in place; `second` (2 samples per sample, or
// null) is scaled by the same gain.
void levelGain1(int16_t* x, int16_t* second, LEV_COMPSTATE* st, int16_t scale, int count);
// Whether the gain stage has reached `scale` and stays there: it then leaves silence silent and
// its own state as it is, so a silent block need not be passed through it.
bool levelGainSettled(const LEV_COMPSTATE* st, int16_t scale);
// As levelGain1 with every output clipped to +-limit.
void levelGain(int16_t* x, int16_t* second, LEV_COMPSTATE* st, int16_t scale, int16_t limit,
               int count);
// A fixed Q10 gain, rounded and saturated.
void levelGain2(int16_t* x, int16_t* second, int16_t gain, int count);
// Envelope follower; returns the new envelope.
int16_t levelEnvTrack(int16_t env, int16_t level, int16_t* hang);
// Spread of the level and the n history values; the history shifts and takes the level first.
int16_t levelStationarity(int16_t level, int16_t* history, int n);
// Automatic gain control step; returns the output gain in dB x 256.
int16_t levelAgc(LEV_AGC* agc, int16_t level, uint16_t flags, const int16_t* regs);
// Peak compressor and noise suppressor over a block.
void levelCompressor(int16_t* x, int16_t* second, LEV_COMPSTATE* st, int16_t env, int16_t floor,
                     int16_t peak, int16_t suppress, int count);
// Seven decimated sub-band levels; returns the highest (at least -72 dB).
int16_t levelSubband(int16_t* levels, const int16_t* x, int count);
// Decimating FIR: count / step outputs of (sum x[i - k] h[k]) >> 15, saturated.
void level_firdown(const int16_t* x, int16_t* y, const int16_t* h, int taps, int count, int step);
void levfirdownodd(const int16_t* x, int16_t* y, const int16_t* h, int taps, int count, int step);

extern const int16_t defaultRegs[5];
