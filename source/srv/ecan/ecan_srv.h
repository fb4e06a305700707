// The echo-canceller service of a line channel: its instance record is the canceller itself.
#pragma once

#include "ecan.h"
#include "hsf/hsf.h"

using HSZECANSRV = HEC;

enum : uint16_t {
  HAPI_HEC_SETREGS_CMD = 0x4432,
  HAPI_HEC_ENABLE_CMD = 0x44B0,
  HAPI_HEC_GETREGS_CMD = 0x44B1,
  HAPI_HEC_SETREG1_CMD = 0x44B4,
  HAPI_HEC_GETSTATE_CMD = 0x44B6,
  HAPI_HEC_DISABLE_CMD = 0x4480,
  HAPI_HEC_BYPASS_CMD = 0x4481,
  HAPI_HEC_ADAPT_CMD = 0x4482,
  HAPI_HEC_NLP_CMD = 0x4483,
  HAPI_HEC_RESET_CMD = 0x4484,
  HAPI_HEC_RESETCOEFF_CMD = 0x4485,
  HAPI_HEC_GETCOEFF_CMD = 0x4486,
};

// In-band control from the hardware shim (mask 0x80) and the statistics block (mask 0x2000).
constexpr uint16_t HEC_BULKDELAY_RESET_MSG = 0x8681;
constexpr uint16_t HEC_BULKDELAY_ADD_MSG = 0x8683;
constexpr uint16_t HEC_STATS_MSG = 0x8841;
constexpr int32_t HEC_STATS_PERIOD = 8000;  // samples

HAPIRESULT ecanIo(HSFSRVOBJ service, HSFMSG* cmd, HSFMSG* reply);
void ecanIngressProcess(HSFSRVOBJ service);
void ecanEgressProcess(HSFSRVOBJ service);
HAPIRESULT ecanSrvInit(HSFSRVOBJ service);

extern const HSFSRVARC ecanarc;
