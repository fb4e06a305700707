// The alerting-signal detection service: reports each dual-tone alerting signal (2130 Hz +
// 2750 Hz) of 70 to 90 ms on the ingress signal of a line with one event.
#pragma once

#include <cstdint>

#include "dtasd.h"
#include "hsf/hsf.h"

inline constexpr uint16_t HAPI_DTAS_ENABLE_CMD = HSF_MKHDR(HAPI_DTAS_SRV, HAPI_OPC_ENABLE_CMD);  // 0x45B0
inline constexpr uint16_t HAPI_DTAS_DETECT_EVT = HSF_MKEVT_STD(HAPI_DTAS_SRV, 0);                // 0x45C0

enum DTASD_STATE : uint16_t { DTAS_INACTIVE_STATE = 0, DTAS_ACTIVE_STATE = 1, DTAS_WAIT_SIGNAL_END = 2 };

struct HSZDTASLOCLMEM {
  uint16_t hsxstatus;  // 1 = enabled
  DTASD_FLTDATA dtasFilterState;
  uint16_t stmState;  // DTASD_STATE
  uint32_t detectionCount;  // frames
  uint16_t bounceCount;     // frames without the signal
};

extern const HSFSRVARC dtasarc;

HAPIRESULT dtasInit(HSFSRVOBJ srvp);
HAPIRESULT dtasIO(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* reply);
void dtasIngress(HSFSRVOBJ srvp);
// One frame of the duration state machine.
void dtasStm(HSZDTASLOCLMEM* d, bool present);
