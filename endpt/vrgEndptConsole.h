// Console commands of the endpoint library: diagnostics and maintenance on one endpoint
// (statistics and state dumps, register writes, echo-canceller and switchboard settings,
// simulated line events, line tests, gains, provisioning dumps). Run on the dispatcher thread.
#pragma once

#include "vrgEndptProcess.h"
#include "vrgEndptState.h"

// A line test replaced by a new request before its result came (the line-test states are the
// dispatcher's, vrgEndptLtState).
inline constexpr LT_STATE EPT_LT_CANCELED = static_cast<LT_STATE>(3);

// The NET configuration registers are 22 bytes: 11 words at even offsets 0 to 20.
inline constexpr uint32_t EPT_NET_CONFIG_REGS_SIZE = 22;

EPSTATUS ProcessVrgEndptConsoleCmd(ENDPT_STATE* endptState, EPCONSOLECMD cmd, EPCMD_PARMS* consoleCmdParams);
