// Where the dispatcher meets the caller-ID and message-waiting state machines of the lines and
// the FXO line control. Those machines belong to their own module; until it is part of the
// library these calls report that no machine exists: nothing blocks line events, every machine
// is idle, requests that need one fail with a message, and FXO control cannot be started.
#pragma once

#include <cstdint>

#include "vrgEndptState.h"

// ---- caller-ID and message-waiting machines ----

// The machine of the line holds back all CAS events / pulse-dial events.
bool ClassBlocksAllCasEvents(const VRG_ENDPT* endpt);
bool ClassBlocksPulseEvents(const VRG_ENDPT* endpt);
// An off-hook caller-ID sequence is running on the line (its audio is held back).
bool ClassOffhookClidRunning(const VRG_ENDPT* endpt);
bool ClassIsIdle(const VRG_ENDPT* endpt);
// Start and stop of the line's machine: 0, or -1 when it cannot be started.
int ClassLineInit(VRG_ENDPT* endpt);
void ClassLineDeinit(VRG_ENDPT* endpt);
// Records the line's hook state (an EPCAS_* code) for the machine.
void ClassUpdateCasState(VRG_ENDPT* endpt, EPCAS_EVENT code);
// Feeds a CAS timer expiry or a DSP event of the line channel to the machine.
void ClassTimerExpire(VRG_ENDPT* endpt);
void ClassDspEvent(VRG_ENDPT* endpt, uint16_t eventId, uint16_t op1, uintptr_t op2);
// A signal request that the machine carries out (caller-ID rings, call waiting, message
// waiting, caller-ID data). EPSTATUS_SUCCESS, or the failure when there is no machine.
EPSTATUS ClassSignal(VRG_ENDPT* endpt, EPSIG signal, uintptr_t value);

// ---- FXO line control ----

int PstnCtlStart(VRG_COUNTRY country);
void PstnCtlStop(void);
// Sets up FXO control of a PSTN endpoint: EPSTATUS_SUCCESS or EPSTATUS_RESOURCES.
EPSTATUS PstnEndptStart(VRG_ENDPT* endpt);
// A signal request of an FXS line that seizes, releases or dials the FXO line.
EPSTATUS PstnSignal(VRG_ENDPT* endpt, EPSIG signal, uintptr_t value, int duration);
// An FXO control event taken from the dispatcher's queue (Part of the dispatcher's processing).
void PstnEventProcessInfo(VRG_ENDPT* endpt, void* eventInfo);
