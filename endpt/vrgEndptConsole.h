// Console commands of the endpoint library: diagnostics and maintenance on one endpoint
// (statistics and state dumps, register writes, echo-canceller and switchboard settings,
// simulated line events, line tests, gains, provisioning dumps). Run on the dispatcher thread.
#pragma once

#include "vrgEndptState.h"

// Line-test state of an endpoint.
enum LT_STATE : int32_t {
  LT_REQUESTED = 0,
  LT_INPROGRESS = 1,
  LT_COMPLETED = 2,
  LT_CANCELED = 3,
  LT_NONE = 4,
};

// The line-test state of each endpoint record (by physical endpoint number); the dispatcher
// marks a test completed when its result arrives.
extern LT_STATE vrgEndptLtState[VRG_MAX_ENDPT];

// The NET configuration registers are 22 bytes: 11 words at even offsets 0 to 20.
inline constexpr uint32_t EPT_NET_CONFIG_REGS_SIZE = 22;

EPSTATUS ProcessVrgEndptConsoleCmd(ENDPT_STATE* endptState, EPCONSOLECMD cmd, EPCMD_PARMS* consoleCmdParams);
