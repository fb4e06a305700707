// The call discrimination service: watches both directions of a voice channel for fax calling
// and answer tones (with the answer tone's phase reversals), V.21 HDLC flags, the Bell 103 answer
// tone and a host-defined tone, and on ingress for the silence and low energy that follow them.
// It judges 80-sample chunks (10 ms).
#pragma once

#include <cstdint>

#include "hsf/hsf.h"

// Commands and events.
inline constexpr uint16_t HAPI_CDIS_SETCUSTOMFILTER_CMD = HSF_MKCMD_EXT(HAPI_CDIS_SRV, 3);        // 0x0703
inline constexpr uint16_t HAPI_CDIS_V21ENABLE_CMD = HSF_MKCMD_STD(HAPI_CDIS_SRV, 0);              // 0x0780
inline constexpr uint16_t HAPI_CDIS_EXTLOWENERGYDET_CMD = HSF_MKCMD_STD(HAPI_CDIS_SRV, 1);        // 0x0781
inline constexpr uint16_t HAPI_CDIS_CONFIG_CMD = HSF_MKCMD_STD(HAPI_CDIS_SRV, 2);                 // 0x0782
inline constexpr uint16_t HAPI_CDIS_ENABLE_CMD = HSF_MKHDR(HAPI_CDIS_SRV, HAPI_OPC_ENABLE_CMD);   // 0x07B0
inline constexpr uint16_t HAPI_CDIS_DETECT_EVT = HSF_MKEVT_STD(HAPI_CDIS_SRV, 0);                 // 0x07C0
inline constexpr uint16_t HAPI_CDIS_HDLCDETECT_EVT = HSF_MKEVT_STD(HAPI_CDIS_SRV, 1);             // 0x07C1
inline constexpr uint16_t HAPI_CDIS_V21TIMEOUT_EVT = HSF_MKEVT_STD(HAPI_CDIS_SRV, 2);             // 0x07C2
inline constexpr uint16_t HAPI_CDIS_EGRESS_DETECT_EVT = HSF_MKEVT_STD(HAPI_CDIS_SRV, 3);          // 0x07C3
inline constexpr uint16_t HAPI_CDIS_EGRESS_HDLCDETECT_EVT = HSF_MKEVT_STD(HAPI_CDIS_SRV, 4);      // 0x07C4 (not sent)
inline constexpr uint16_t HAPI_V21_DATA_EVT = HSF_MKEVT_EXT(HAPI_V21_SRV, 2);                     // 0x0D42

// hsxstatus bits.
enum : uint16_t {
  CDIS_ENABLED = 0x1,
  CDIS_CNG_ENABLE = 0x4,
  CDIS_V18_ENABLE = 0x8,
  CDIS_BELL103_ENABLE = 0x10,
  CDIS_CUSTOMTONE_ENABLE = 0x20,
};

// Detection flags (op1 of the detect events).
enum : uint16_t {
  CDIS_MACHINE = 0x2,
  CDIS_CNG = 0x8,
  CDIS_EARLY_ANS = 0x10,
  CDIS_FALSE_ANS = 0x20,
  CDIS_V18_DETECT = 0x40,
  CDIS_PHASE_REVERSAL = 0x80,
  CDIS_LOW_ENERGY = 0x100,
  CDIS_EXT_LOW_ENERGY = 0x200,
  CDIS_SILENCE = 0x400,
  CDIS_BELL103_DETECT = 0x800,
  CDIS_CUSTOMTONE_DETECT = 0x2000,
};

inline constexpr int HAPI_CDIS_CUSTOMTONEFILTER_NUM_TAPS = 65;
struct HAPI_CDIS_CUSTOMTONE_FILTER {
  uint16_t duration;  // ms the tone must last
  uint16_t offset;    // ms subtracted from it
  int16_t filterTaps[(HAPI_CDIS_CUSTOMTONEFILTER_NUM_TAPS + 1) / 2];  // centre and one half
};
static_assert(sizeof(HAPI_CDIS_CUSTOMTONE_FILTER) == 70, "custom tone filter is 70 bytes");

enum CDISTATE : uint16_t { CDIS_INACTIVE_STATE = 0, CDIS_ACTIVE_STATE = 1 };
enum PHREVSTATE : uint16_t { PHREV_RESET = 0, PHREV_ON = 1, PHREV_OFF = 2 };

struct HSZPHREVMEM {
  int16_t phase10, phase11;  // point 1: phase, previous first difference
  int16_t phaseDiff11, phaseDiff12;  // point 1: this and the previous chunk's folded second difference
  int16_t phase20, phase21;
  int16_t phaseDiff21, phaseDiff22;
  uint16_t phRevDetected;
  uint16_t phRevRate;      // ms per chunk
  uint16_t phRevInterval;  // ms since the last reversal
  uint16_t phRevCount;
  uint16_t phRevCEDCount;
  uint16_t phRevTimeout;  // chunks
  uint16_t phRevStartDlyCnt;
  uint16_t phRevState;  // PHREVSTATE
};

struct HSZCNGCEDMEM {
  uint16_t tpwrDlyCnt;
  int32_t totalPower;
  int32_t filterPower;
  int32_t cngfilterPower;
  uint16_t cngCount;
  uint16_t cedCount;
  uint16_t lostcedCount;
  bool cedValid;
  HSZPHREVMEM phrev;
};

struct CDIS_BELL103_COUNTERS {
  uint16_t ingressCount;
  uint16_t egressCount;
};

struct HSZENGYDETMEM {
  bool startLowEnergyDet;
  uint16_t ingressLowEnergyCount, egressLowEnergyCount;
  bool startSilenceDet;
  uint16_t ingressNoSignalCount, egressNoSignalCount;
  bool startExtLowEnergyDet;
  uint16_t ingressExtLowEnergyCount, egressExtLowEnergyCount;
  bool silenceStarted;  // silence detection is started once per answer tone
};

struct HSZHDLCMEM {
  bool v21enabled;
  int16_t v21timer;  // -1 = stopped
  uint16_t numConsecHDLCDetected;
  uint32_t lastword;        // bits not yet searched, newest lowest
  uint16_t numBitsShifted;  // how many
};

struct HSZCDISLOCLMEM {
  uint16_t hsxstatus;
  uint16_t ingresscdisState;  // every-second-frame toggle for 40-sample frames
  uint16_t egresscdisState;
  HSZCNGCEDMEM ingresscngcedDetectMem;
  HSZCNGCEDMEM egresscngcedDetectMem;
  CDIS_BELL103_COUNTERS bell103Counters;
  CDIS_BELL103_COUNTERS customToneCounters;
  HAPI_CDIS_CUSTOMTONE_FILTER customToneFilter;
  bool customFilterSet;
  HSZENGYDETMEM energyDetMem;
  HSZHDLCMEM hdlcMem;
};

// Per-chunk scratch.
struct HSZCDISSCRMEM {
  int16_t mediaData[85];
  int16_t filterData[16];
};

extern const HSFSRVARC cdisarc;

HAPIRESULT cdisInit(HSFSRVOBJ srvp);
HAPIRESULT cdisIO(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* reply);
void cdisBlk(HSFSRVOBJ srvp);
void cdisEgress(HSFSRVOBJ srvp);

void phrevReset(HSZPHREVMEM* p);
// One phase-reversal test on the chunk's samples; true when a reversal was found.
bool cdisPhRev(HSZPHREVMEM* p, const int16_t* mediaData);
