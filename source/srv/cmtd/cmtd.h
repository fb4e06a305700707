// The call-progress tone detection service: a silence detector and two programmable tone
// detectors on a line's ingress signal, followed by six cadence state machines that report when
// a downloaded cadence is recognised and when it breaks. 40-sample blocks, 5 ms each.
#pragma once

#include <cstdint>

#include "hsf/hsf.h"

inline constexpr uint16_t HAPI_CMTD_FILTER_CMD = HSF_MKCMD_EXT(HAPI_CMTD_SRV, 0);  // 0x1A00
inline constexpr uint16_t HAPI_CMTD_STM_CMD = HSF_MKCMD_EXT(HAPI_CMTD_SRV, 1);     // 0x1A01
inline constexpr uint16_t HAPI_CMTD_POWER_CMD = HSF_MKCMD_EXT(HAPI_CMTD_SRV, 2);   // 0x1A02
inline constexpr uint16_t HAPI_CMTD_ENABLE_CMD = HSF_MKHDR(HAPI_CMTD_SRV, HAPI_OPC_ENABLE_CMD);  // 0x1AB0
inline constexpr uint16_t HAPI_CMTD_TONE_DET_EVT = HSF_MKEVT_STD(HAPI_CMTD_SRV, 0);  // 0x1AC0
inline constexpr uint16_t HAPI_CMTD_TONE_END_EVT = HSF_MKEVT_STD(HAPI_CMTD_SRV, 1);  // 0x1AC1

inline constexpr int CMTD_TAPS = 79;
inline constexpr int CMTD_SUBSTATES = 6;
inline constexpr int CMTD_MACHINES = 6;
inline constexpr int CMTD_TONE_FILTERS = 2;

// The host library declares its own copies of these wire records; the service's live here.
namespace cmtdsrv {

struct HAPI_CMTD_FILTERCOEFS {
  uint16_t type;            // not read
  uint16_t minAttenuation;  // Q16 share of the block power the output may keep for a tone
  int16_t filterTaps[CMTD_TAPS];
};
static_assert(sizeof(HAPI_CMTD_FILTERCOEFS) == 162);

struct HAPI_CMTD_FILTER {
  uint16_t index;
  uint16_t reserved;
  HAPI_CMTD_FILTERCOEFS coefs;
};
static_assert(sizeof(HAPI_CMTD_FILTER) == 166);

struct HAPI_CMTD_SUBSTATEPARAMS {
  uint16_t minTimeMs;
  uint16_t maxTimeMs;  // 0xFFFF: no upper limit; 0 on the substate after the last
  uint16_t activeFilter;  // 0 silence, 1 and 2 the tone detectors
  uint16_t reserved;
};

struct HAPI_CMTD_STMPARAMS {
  HAPI_CMTD_SUBSTATEPARAMS substate[CMTD_SUBSTATES];
};

struct HAPI_CMTD_STM {
  uint16_t index;
  uint16_t reserved;
  HAPI_CMTD_STMPARAMS stmParams;
};
static_assert(sizeof(HAPI_CMTD_STM) == 52);

}  // namespace cmtdsrv

struct CMTD_STATE_FILTER {
  uint16_t detectedMs;
  uint16_t glitchMs;
};

struct CMTD_STATE_STM {
  uint16_t currentSubState;
  uint16_t genEvent;  // 0x1 minimum reached, 0x2 on event sent
};

struct CMTD_STATE {
  uint16_t enabledOptions;  // bit 0 service, bits 1-2 tone detectors, bits 8-13 machines
  CMTD_STATE_FILTER filter[1 + CMTD_TONE_FILTERS];
  CMTD_STATE_STM stm[CMTD_MACHINES];
  uint32_t power;
};

struct CMTDGLOBALMEM {
  cmtdsrv::HAPI_CMTD_STMPARAMS stmParams[CMTD_MACHINES];
  cmtdsrv::HAPI_CMTD_FILTERCOEFS filterCoefs[CMTD_TONE_FILTERS];
};

struct CMTDINSTANCEMEM {
  CMTD_STATE state;
  CMTDGLOBALMEM cmtdGlobalMem;
  uint32_t powerReply;  // the power query's answer data
};

extern const HSFSRVARC cmtdarc;

HAPIRESULT cmtdInit(HSFSRVOBJ srvp);
HAPIRESULT cmtdIOctl(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* reply);
void cmtdIngress(HSFSRVOBJ srvp);
void cmtdEgress(HSFSRVOBJ srvp);
// One 40-sample block at x (16 samples of history before it are read).
void cmtdDetector(CMTDINSTANCEMEM* c, const int16_t* x);
