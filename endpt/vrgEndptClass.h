// Where the dispatcher meets the caller-ID and message-waiting state machines of the lines and
// the FXO line control; the caller-ID module (endpt/class) and FXO control (endpt/pstn) define
// these calls.
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

// ---- FXO line control and caller-ID reception ----

// Events of FXO control.
#include "pstn/pstnCtl.h"

int PstnCtlStart(VRG_COUNTRY country);
void PstnCtlStop(void);
// Sets up FXO control of a PSTN endpoint: EPSTATUS_SUCCESS or EPSTATUS_RESOURCES.
EPSTATUS PstnEndptStart(VRG_ENDPT* endpt);
// Hands an event to FXO control (op: the line, a tone or digit, or a dial string): 0, or -1
// when FXO control cannot take it.
int PstnCtlSendEvent(uint16_t pstnVhdHdl, PSTN_CTL_EVENT event, int line, uintptr_t op);
// Caller-ID reception of a PSTN channel: type 1 (on hook) or 2 (off hook) for the country; 0 or
// -1. And the FSK receiver switched on or off.
int ClassRxConfigure(uint16_t pstnVhdHdl, int type, VRG_COUNTRY country);
EPSTATUS EnableFskClidRx(int on, uint16_t pstnVhdHdl);
// An FXO control event taken from the dispatcher's queue.
void PstnEventProcessInfo(VRG_ENDPT* endpt, void* eventInfo);
