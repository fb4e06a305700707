// Line echo canceller: a 256-tap normalised-LMS canceller in two copies (a foreground filter that
// cancels, a background filter that adapts and is pushed into the foreground when it proves
// better), with level estimators, ERL and ERLE trackers, near-end and far-end activity detection,
// a non-linear processor that replaces residual echo with comfort noise, volume and gain stages
// and a bulk-delay line. Levels are dB x 256; time is counted in ms (5 per 40-sample block).
#pragma once

#include <cstddef>
#include <cstdint>

#include "level.h"

constexpr int16_t Q_DB = 256;
constexpr int16_t HEC_DB2DBQ8(int x) { return static_cast<int16_t>(x << 8); }
constexpr int16_t HEC_DBQ82DB(int x) { return static_cast<int16_t>((x + 128) >> 8); }

constexpr int HEC_TAPS = 256;
constexpr int HEC_BLOCK = 40;
constexpr int HEC_ROUT_SAMPLES = 848;
constexpr int HEC_MAX_BULK_DELAY = 512;
constexpr int HEC_DEFAULT_BULK_DELAY = 160;
constexpr uint16_t HEC_MAGIC = 0x0ECA;

// Option bits.
constexpr uint16_t HAPI_HEC_NLP_OFF = 0x0001;
constexpr uint16_t HAPI_HEC_ADAPT_OFF = 0x0002;
constexpr uint16_t HAPI_HEC_BYPASS_ON = 0x0004;
constexpr uint16_t HAPI_HEC_CNG_OFF = 0x0008;
constexpr uint16_t HAPI_HEC_CNG_SUPPRESSOR = 0x0010;
constexpr uint16_t HAPI_HEC_CNG_CAP_ON = 0x0020;
constexpr uint16_t HAPI_HEC_LOOPBACK_ON = 0x0040;
constexpr uint16_t HAPI_HEC_PUSH_OFF = 0x0080;
constexpr uint16_t HAPI_HEC_MUTE_ON = 0x0100;
constexpr uint16_t HAPI_HEC_EGRESSNOISE_ON = 0x0200;
constexpr uint16_t HAPI_HEC_EGRESSBURST_ON = 0x0400;
constexpr uint16_t HAPI_HEC_COMPRESSOR_ON = 0x4000;
constexpr uint16_t HAPI_HEC_LEVELCTRL_OFF = 0x8000;
constexpr uint16_t HAPI_HEC_DEFAULT_OPTIONS = 0;
constexpr uint16_t HAPI_HEC_DEFAULT_EVENTMASK = 0;
constexpr uint16_t HAPI_HEC_OPTIONS_OFF_HOOK = 0;
constexpr uint16_t HAPI_HEC_OPTIONS_ON_HOOK = HAPI_HEC_BYPASS_ON;
constexpr uint16_t HAPI_HEC_OPTIONS_CALLSETUP = HAPI_HEC_ADAPT_OFF | HAPI_HEC_LEVELCTRL_OFF;
constexpr uint16_t HAPI_HEC_OPTIONS_VBD = HAPI_HEC_NLP_OFF | HAPI_HEC_LEVELCTRL_OFF;

// Register bounds and defaults (dB x 256).
constexpr int16_t HAPI_HEC_VOLUME_MIN = -120 * Q_DB;
constexpr int16_t HAPI_HEC_VOLUME_MAX = 30 * Q_DB;
constexpr int16_t HAPI_HEC_GAIN_MIN = -120 * Q_DB;
constexpr int16_t HAPI_HEC_GAIN_MAX = 30 * Q_DB;
constexpr int16_t HAPI_HEC_COMPRESSOR_PEAK_MIN = -25 * Q_DB;
constexpr int16_t HAPI_HEC_COMPRESSOR_PEAK_MAX = 6 * Q_DB;
constexpr int16_t HAPI_HEC_NOISE_SUPPRESSION_MIN = 0;
constexpr int16_t HAPI_HEC_NOISE_SUPPRESSION_MAX = 20 * Q_DB;
constexpr int16_t HAPI_HEC_DEFAULT_COMPRESSOR_PEAK = 6 * Q_DB;
constexpr int16_t HAPI_HEC_MINIMUM_ERL_DB = 6 * Q_DB;
// Compressor defaults: peak, noise suppression, AGC target level, attack, decay.
constexpr int16_t HAPI_HEC_DEFAULT_VOLCOMPRESSOR[5] = {HAPI_HEC_DEFAULT_COMPRESSOR_PEAK, 0, -15 * Q_DB, 0,
                                                       32 * Q_DB};
constexpr int16_t HAPI_HEC_DEFAULT_GAINCOMPRESSOR[5] = {0, 6 * Q_DB, -15 * Q_DB, 0, 32 * Q_DB};

// Register word indexes.
enum : uint16_t {
  HAPI_HEC_INDEX_OPTIONS = 0,
  HAPI_HEC_INDEX_EVENTMASK = 1,
  HAPI_HEC_INDEX_VOLUME = 2,
  HAPI_HEC_INDEX_GAIN = 3,
  HAPI_HEC_INDEX_VOLCOMP = 4,
  HAPI_HEC_INDEX_GAINCOMP = 9,
  HAPI_HEC_INDEX_ERL = 14,
};

// State bits.
constexpr uint16_t HAPI_HEC_STATE_CONVERGED = 0x0001;
constexpr uint16_t HAPI_HEC_MODE_RECEIVE = 0x0002;
constexpr uint16_t HAPI_HEC_MODE_SEND = 0x0004;
constexpr uint16_t HAPI_HEC_MODE_DOUBLETALK = HAPI_HEC_MODE_RECEIVE | HAPI_HEC_MODE_SEND;
constexpr uint16_t HAPI_HEC_MODE_QUIESCENT = 0;
constexpr uint16_t HAPI_HEC_STATE_RXSTATIONARY = 0x0008;
constexpr uint16_t HAPI_HEC_STATE_ZONEMASK = 0x0070;
constexpr uint16_t HAPI_HEC_STATE_ZONESHIFT = 4;
constexpr uint16_t HAPI_HEC_STATE_HIGH_COMPLEXITY = 0x0080;

// Reset types.
enum : uint16_t {
  HAPI_HEC_RESET_COLD = 0,
  HAPI_HEC_RESETCOEFF_ALL = 0,
  HAPI_HEC_RESETCOEFF_FG = 1,
  HAPI_HEC_RESET_ERLE_BAD = 1,
  HAPI_HEC_RESETCOEFF_BG = 2,
  HAPI_HEC_RESET_WARM = 3,
  HAPI_HEC_RESET_HOT = 4,
};

// Events (standard unless noted).
enum : uint16_t {
  HAPI_HEC_STATE_EVT = 0x44C0,
  HAPI_HEC_CONVERGED_EVT = 0x44C1,
  HAPI_HEC_RESET_EVT = 0x44C2,
  HAPI_HEC_PUSH_EVT = 0x44C3,
  HAPI_HEC_NEAREND_EVT = 0x44C4,
  HAPI_HEC_LEVEL_EVT = 0x44C5,
  HAPI_HEC_AGC_EVT = 0x44C6,
  HAPI_HEC_NLP_EVT = 0x44C7,
  HAPI_HEC_HIGHLEVEL_EVT = 0x44C8,
  HAPI_HEC_ERL_EVT = 0x44CA,
  HAPI_HEC_ERLE_EVT = 0x44CB,
  HAPI_HEC_ACOM_EVT = 0x44CC,
  HAPI_HEC_MOVEMENT_EVT = 0x44CE,
  HAPI_HEC_TUNEACOM_EVT = 0x44D2,
  HAPI_HEC_TUNEERL_EVT = 0x44D3,
  HAPI_HEC_TUNEERLE_EVT = 0x44D4,
  HAPI_HEC_DEBUG_EVT = 0x444D,    // extended, number 13
  HAPI_HEC_GETREGS_EVT = 0x4449,  // extended
  HAPI_HEC_GETSTATE_EVT = 0x444F, // extended
  HAPI_HEC_GETCOEFF_EVT = 0x4450, // extended
};

struct HEC_REGS {
  uint16_t options;
  uint16_t eventMask;
  int16_t volumedB;
  int16_t gaindB;
  int16_t volCompressordB[5];   // peak, noise suppression, AGC target, attack, decay
  int16_t gainCompressordB[5];
  int16_t minmaxERLdB[2];
};
static_assert(sizeof(HEC_REGS) == 32, "the register record is 32 bytes");

struct HEC_STATE {
  uint16_t state;
  int16_t Lrin, Lrout, Lsin, Lsout, LroutMin, LsoutMin;
  int16_t acng[6];
  int16_t erldB, erlcdB, erledB;
  int16_t volumeAutodB, gainAutodB;
  uint16_t nlp;
  int16_t voiceDecisions;
  int16_t adaptCount;
  int16_t peakReflector;
  int16_t peakReflectorValue;
};
static_assert(sizeof(HEC_STATE) == 46, "the state record is 46 bytes");

struct HBC {
  int16_t hc;
  int16_t burst;
};

struct HANGCOUNTER {
  HBC unwht, wht, high, sb[7];
  int16_t longTerm;
  int16_t nlpState;  // run of NLP decisions: > 0 blocks on, < 0 blocks off
  int16_t lowLevel;
  int16_t farEnd;
  int16_t adapt;
  int16_t clipped;
  int16_t highLevel;
  int16_t movement;
  int16_t erleGood;
  int16_t rxStationarity;
};

struct ERLTRK {
  int32_t sIn, rOut;
  int16_t cnt;
  int16_t erlMeandB;
  int16_t erldB;
};
struct ERLETRK {
  int32_t sIn, sOut;
  int16_t cnt;
  int16_t erledB;
};
struct RESETTRK {
  int16_t erledB;
  int16_t count;
};
struct PUSHTRK {
  int16_t count;
  int16_t AcomFgAvg;
  int16_t AcomBgAvg;
};
struct PEAKLEV {
  int16_t level[7];
  int16_t index;
};

struct INTERNAL_ECAN_STATS {
  int16_t Lrout;
  int16_t LroutMin;
  int16_t rerl;
};
static_assert(sizeof(INTERNAL_ECAN_STATS) == 6, "the statistics block is 6 bytes");

struct HEC {
  uint32_t frameCount;  // ms
  uint16_t handle;
  uint16_t magic;
  HEC_STATE state;
  HEC_REGS regs;
  int16_t lowComplexity;
  int16_t rOutBuf[HEC_ROUT_SAMPLES];
  int16_t hFg[HEC_TAPS];
  int16_t hBg[HEC_TAPS];
  LEV_EST sInLev;
  LEV_EST rInLev;
  LEV_ESTMM rOutLev;
  LEV_ESTMM3 sOutLev;
  LEV_ESTMM3 sOutLevFlat;
  PEAKLEV rOutPeak;
  ERLTRK erlTracker;
  int16_t tailLengthBlocks;
  int32_t hpfc, hpfa;
  LEV_COMPSTATE volCompState;
  LEV_COMPSTATE gainCompState;
  int16_t volAuto;
  int16_t gainAuto;
  int16_t rInLevelHist[15];
  int16_t rInStationarity;
  HANGCOUNTER hangCount;
  int16_t vLossSout;
  int16_t vLossRout;
  int16_t seed;
  int16_t cngState[6];
  ERLETRK erleTracker;
  RESETTRK resetTracker;
  PUSHTRK pushTracker;
  int32_t AcomDelta;
  int16_t AcomdBPush;
  int16_t erledBPush;
  int16_t coeffIndex;   // -1: no coefficient dump running
  int16_t sOutHistory[7];
  int16_t rtDelay;      // measured round-trip delay, -1: none
  int16_t bulkDelay;    // samples
  int32_t intStatsTimer;
  int16_t rOutZeroFrom;  // rOutBuf holds zeros from this sample to its end
};

// Per-frame working values, one entry per 40-sample block where two are listed.
struct HEC_T {
  LEV_LS rOutPeakdB[2], rOutdB[2], sOutdB[2], sIndB[2];
  int16_t rOutTroughdB[2];
  int16_t tailLength;
  uint16_t nlp;
  int16_t doubletalk;
  int16_t adapt;
  int16_t adapted[2];
  int16_t push;
  uint32_t sOutPwrBg[2];
  int16_t sOutdBFg[2];
};

// Where the canceller's events go: the service sends them to the host; a test harness may record
// them. Extended events carry `length` bytes at `data`. Events numbered below 16 whose mask bit is
// clear never reach the sink.
using HecEventSink = void (*)(HEC* hec, uint16_t header, uint16_t op1, uint16_t op2,
                              const void* data, uint16_t length);
extern HecEventSink hecEventSink;

void hecInit(HEC* hec, int isAec);
void hecReset(HEC* hec, uint16_t type);
void hecResetCoeff(HEC* hec, uint16_t type);
// Near-end frame (frame size a multiple of 40, at most 80) and its companion band of 2 x frame
// samples (or null).
void hecIngress(HEC* hec, int16_t* sIn, int16_t* companion, int frameSize);
// Far-end frame and its companion band.
void hecEgress(HEC* hec, int16_t* rIn, int16_t* companion, int frameSize);
// Scales the samples down to the target level when the input level is above it.
void ecanSuppressor(int16_t* x, int16_t target, int16_t level, int count);

// Event helpers: standard events numbered below 16 are filtered by the event mask.
void ecanEvent(HEC* hec, uint16_t header, uint16_t op1, uint16_t op2);
void ecanEventExt(HEC* hec, uint16_t header, const void* data, uint16_t length);

// Internal steps, exposed for the service and the tests.
uint16_t hecNLPdecision(HEC* hec, const HEC_T* t, int b);
int16_t hecNearFarDetect(HEC* hec, const HEC_T* t, int b);
