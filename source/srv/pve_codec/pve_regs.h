// Register, statistics and state records of the codec service, as the host and the NET service
// exchange them. All fields are 16-bit words in host byte order.
#pragma once

#include <cstdint>

// AMR options of the voice registers.
struct AMR_REGS {
  uint16_t modeSet;
  uint16_t modeChangeNeighbor;
  uint16_t modeChangePeriod;
  uint16_t ptime;
  uint16_t red;
};

// Vocoder registers: VAD mode (bits 0-3), comfort noise (bits 8-11) and loss concealment
// (bits 12-15) in one word, the two volumes as Q12 gains, the AMR options.
struct HSZVOCREGS {
  uint16_t hsxVadCngPlcOptions;
  int16_t pveEgressVolume;
  int16_t pveIngressVolume;
  AMR_REGS amrOptions;
};

// Fields of hsxVadCngPlcOptions.
constexpr uint16_t VAD_MASK = 0x000F;
constexpr uint16_t CNG_SHIFT = 8;
constexpr uint16_t CNG_MASK = 0x0F00;
constexpr uint16_t PLC_SHIFT = 12;
constexpr uint16_t PLC_MASK = 0xF000;

// Jitter-buffer registers (times in 8 kHz samples).
struct AJC_REGS {
  uint16_t jitterMin;
  uint16_t jitterMax;
  uint16_t jitterTarget;
  uint16_t options;
  uint16_t jitterVBDTarget;
  uint16_t customFeatures;
};
constexpr uint16_t AJC_OPTIONS_NOADAPT = 0x80;

struct HSZVOICEREGS {
  HSZVOCREGS voxregs;
  AJC_REGS ajbregs;
};
static_assert(sizeof(HSZVOCREGS) == 16, "vocoder registers are 16 bytes");
static_assert(sizeof(AJC_REGS) == 12, "jitter-buffer registers are 12 bytes");
static_assert(sizeof(HSZVOICEREGS) == 28, "voice registers are 28 bytes");

// Defaults at codec start: generic concealment, spectrum-matching comfort noise, transparent VAD,
// unity egress volume; everything else 0.
constexpr HSZVOICEREGS pveVoiceRegsDefault() {
  HSZVOICEREGS r{};
  r.voxregs.hsxVadCngPlcOptions = 0x3301;
  r.voxregs.pveEgressVolume = 4096;
  return r;
}

struct HAPI_PVE_DECODERSTATS {
  uint16_t peakHoldingTime;
  uint16_t packetCount;
  uint16_t addTailCount;
  uint16_t reorderCount;
  uint16_t overrunCount;
  uint16_t duplicateCount;
  uint16_t outOfRangeCount;
  uint16_t tooLateCount;
  uint16_t cantDecodeCount;
  uint16_t ajcUnderrunCount;
  uint16_t ajcDeleteCount;
  uint16_t ajcRepeatCount;
  uint16_t ajcResyncCount;
  uint16_t ajcPhaseJitterCount;
};

struct HAPI_PVE_ENCODERSTATS {
  uint16_t inactiveFrameCount;
  uint16_t activeFrameCount;
  uint16_t sidFrameCount;
  uint16_t toneRelayCount;
};

struct HAPI_PVE_STATS {
  HAPI_PVE_DECODERSTATS decoder;
  HAPI_PVE_ENCODERSTATS encoder;
};
static_assert(sizeof(HAPI_PVE_STATS) == 36, "codec statistics are 36 bytes");

// Jitter-buffer and coder state as reported to the host.
struct HAPI_PVE_STATE {
  uint16_t timer;
  uint16_t expectedTimestamp;
  uint16_t lastArrivalTime;
  uint16_t lastArrTimeStamp;
  uint16_t lastReleaseTimestamp;
  uint16_t actualHoldTime;
  uint16_t currentHoldTime;
  uint16_t minHoldTimeTracker;
  uint16_t maxHoldTimeTracker;
  uint16_t releaseBump;
  uint16_t underrunDuration;
  uint16_t actionPendingTimer;
  uint16_t currentDec;
  uint16_t timerLastArrival;
  uint16_t currentEnc;
  uint16_t currentEncPktTime;
  uint16_t currentEncPktSize;
};
static_assert(sizeof(HAPI_PVE_STATE) == 34, "codec state is 34 bytes");
