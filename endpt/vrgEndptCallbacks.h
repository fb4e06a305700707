// The receivers through which line signalling, FXO control, the line driver and the DSP report
// to the endpoint library. They run on the reporters' threads and only queue events for the
// dispatcher (packets excepted, which go straight to the daemon).
#pragma once

#include <cstdint>

#include "boardHal.h"
#include "casCtl.h"
#include "hapi/hapi_types.h"
#include "vrgEndptDispatcher.h"

void PostHapiEvent(VRG_EVT_TYPE type, HSZEVT* event, uint16_t dspNum);
void CasEventCallback(CAS_CTL_HANDLE handle, CAS_CTL_EVENT_TYPE eventType, CAS_CTL_EVENT event);
void CnxVhdEventCallback(HSZEVT* event, uint16_t dspNum);
void EndptVhdEventCallback(HSZEVT* event, uint16_t dspNum);
void RmEventCallback(HSZEVT* event, uint16_t dspNum);
// Blocks the FXO control thread until the dispatcher has processed the event.
void PstnEventCallback(uint16_t vhdHdl, void* eventInfo);
