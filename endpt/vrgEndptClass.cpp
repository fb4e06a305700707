// The dispatcher's side of the caller-ID machines and FXO control, for a library without them:
// no machine runs, so none holds back events; requests that need one fail and say why.
#include "vrgEndptClass.h"

#include "voiceLog.h"
#include "vrgEndptProcess.h"

namespace {

void LogUnavailable(const char* what, int line) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: %s not available for line %d", what,
           line);
}

}  // namespace

bool ClassBlocksAllCasEvents(const VRG_ENDPT*) { return false; }
bool ClassBlocksPulseEvents(const VRG_ENDPT*) { return false; }
bool ClassOffhookClidRunning(const VRG_ENDPT*) { return false; }
bool ClassIsIdle(const VRG_ENDPT*) { return true; }
int ClassLineInit(VRG_ENDPT*) { return 0; }
void ClassLineDeinit(VRG_ENDPT*) {}
void ClassUpdateCasState(VRG_ENDPT*, EPCAS_EVENT) {}
void ClassTimerExpire(VRG_ENDPT*) {}
void ClassDspEvent(VRG_ENDPT*, uint16_t, uint16_t, uintptr_t) {}

EPSTATUS ClassSignal(VRG_ENDPT* endpt, EPSIG, uintptr_t) {
  LogUnavailable("caller-ID state machine", endpt->lineId);
  return EPSTATUS_ERROR;
}

int PstnCtlStart(VRG_COUNTRY) { return -1; }
void PstnCtlStop(void) {}

EPSTATUS PstnEndptStart(VRG_ENDPT* endpt) {
  LogUnavailable("FXO line control", endpt->lineId);
  return EPSTATUS_RESOURCES;
}

EPSTATUS PstnSignal(VRG_ENDPT* endpt, EPSIG, uintptr_t, int) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
           "EPT: Cannot find PSTN CAS control handle. Signal not applied");
  (void)endpt;
  return EPSTATUS_SUCCESS;
}

void PstnEventProcessInfo(VRG_ENDPT*, void*) {}

EPSTATUS ProcessVrgEndptConsoleCmd(ENDPT_STATE* state, EPCONSOLECMD cmd, EPCMD_PARMS*) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
           "EPT: console command %d not available for line %d", static_cast<int>(cmd),
           state != nullptr ? state->lineId : -1);
  return EPSTATUS_ERROR;
}
