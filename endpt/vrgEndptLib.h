// State shared by the parts of the endpoint library: the configuration record with the daemon's
// callbacks, the initialised flag and its lock, the DSP configuration and the semaphores on
// which the FXO control and named-event reporters wait for the dispatcher.
#pragma once

#include "boardHal.h"
#include "vosSem.h"
#include "vrgEndptTypes.h"

extern ENDPTZCONFIG endptConfig;
extern BOARD_HAL_DSP_CFG gDspCfg;
extern VOS_SEMLITE vrgPstnSem;
extern VOS_SEMLITE vrgNteSem;

// Reads the initialised flag under endptLock. When the library is not initialised, logs
// "EPT: %s: Endpoint is not properly initialized" with the caller's name and returns false.
bool vrgEndptCheckInitialized(const char* caller);

// Calls the daemon's event callback when one is registered.
void vrgEndptNotify(ENDPT_STATE* endptState, int cnxId, EPEVT event, void* data, int length,
                    int value);
