// Console commands of the endpoint library: diagnostics and maintenance on one endpoint
// (statistics and state dumps, register writes, echo-canceller and switchboard settings,
// simulated line events, line tests, gains, provisioning dumps). Run on the dispatcher thread.
#pragma once

#include "vrgEndptProcess.h"
#include "vrgEndptState.h"

// The NET configuration registers are 22 bytes: 11 words at even offsets 0 to 20.
inline constexpr uint32_t EPT_NET_CONFIG_REGS_SIZE = 22;

EPSTATUS ProcessVrgEndptConsoleCmd(ENDPT_STATE* endptState, EPCONSOLECMD cmd, EPCMD_PARMS* consoleCmdParams);
