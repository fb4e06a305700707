// The endpoint API: the queued calls that run on the
// dispatcher, the CAS event post of simulated lines, and the calls that do nothing here.
#include "vrgEndpt.h"

#include <pthread.h>

#include "boardHal.h"
#include "voiceLog.h"
#include "vrgEndptDispatcher.h"
#include "vrgEndptLib.h"
#include "vrgEndptState.h"

ENDPTZCONFIG endptConfig{};
BOARD_HAL_DSP_CFG gDspCfg{};
VOS_SEMLITE vrgPstnSem;
VOS_SEMLITE vrgNteSem;

// endptLock guards endptInitialized only; start-up and shutdown hold it throughout.
pthread_mutex_t endptLock = PTHREAD_MUTEX_INITIALIZER;
int endptInitialized = 0;

namespace {

template <typename... Args>
EPSTATUS RunCmd(VRG_EPT_CMD_TYPE command, const char* caller, Args... args) {
  const uintptr_t words[] = {static_cast<uintptr_t>(args)...};
  return VrgEptCmdRun(command, words, static_cast<int>(sizeof...(Args)), caller);
}

uintptr_t Word(const void* pointer) { return reinterpret_cast<uintptr_t>(pointer); }
uintptr_t Word(int value) { return static_cast<uintptr_t>(static_cast<unsigned>(value)); }

}  // namespace

bool vrgEndptCheckInitialized(const char* caller) {
  pthread_mutex_lock(&endptLock);
  const int initialized = endptInitialized;
  pthread_mutex_unlock(&endptLock);
  if (!initialized) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: %s: Endpoint is not properly initialized",
             caller);
  }
  return initialized != 0;
}

void vrgEndptNotify(ENDPT_STATE* endptState, int cnxId, EPEVT event, void* data, int length,
                    int value) {
  if (endptConfig.notify != nullptr) endptConfig.notify(endptState, cnxId, event, data, length, value);
}

int isEndptInitialized(void) {
  pthread_mutex_lock(&endptLock);
  const int initialized = endptInitialized;
  pthread_mutex_unlock(&endptLock);
  return initialized;
}

// ---- queued calls ----

EPSTATUS vrgEndptCreate(int physId, int lineId, ENDPT_STATE* endptState) {
  return RunCmd(VRG_EPT_CREATE, "vrgEndptCreate", Word(physId), Word(lineId), Word(endptState));
}

EPSTATUS vrgEndptDestroy(ENDPT_STATE* endptState) {
  return RunCmd(VRG_EPT_DESTROY, "vrgEndptDestroy", Word(endptState));
}

EPSTATUS vrgEndptCapabilities(ENDPT_STATE* endptState, EPZCAP* capabilities) {
  return RunCmd(VRG_EPT_CAPABILITIES, "vrgEndptCapabilities", Word(endptState),
                Word(capabilities));
}

EPSTATUS vrgEndptSignal(ENDPT_STATE* endptState, int cnxId, EPSIG signal, uintptr_t value,
                        int duration, int period, int repetition) {
  // The signal code travels by reference, as the console code does.
  return RunCmd(VRG_EPT_SIGNAL, "vrgEndptSignal", Word(endptState), Word(cnxId), Word(&signal),
                value, Word(duration), Word(period), Word(repetition));
}

EPSTATUS vrgEndptCreateConnection(ENDPT_STATE* endptState, int cnxId, EPZCNXPARAM* cnxParam) {
  return RunCmd(VRG_EPT_CREATE_CNX, "vrgEndptCreateConnection", Word(endptState), Word(cnxId),
                Word(cnxParam));
}

EPSTATUS vrgEndptModifyConnection(ENDPT_STATE* endptState, int cnxId, EPZCNXPARAM* cnxParam) {
  return RunCmd(VRG_EPT_MODIFY_CNX, "vrgEndptModifyConnection", Word(endptState), Word(cnxId),
                Word(cnxParam));
}

EPSTATUS vrgEndptDeleteConnection(ENDPT_STATE* endptState, int cnxId) {
  return RunCmd(VRG_EPT_DELETE_CNX, "vrgEndptDeleteConnection", Word(endptState), Word(cnxId));
}

EPSTATUS vrgEndptMuteConnection(ENDPT_STATE* endptState, int cnxId, int mute) {
  return RunCmd(VRG_EPT_MUTE_CNX, "vrgEndptMuteConnection", Word(endptState), Word(cnxId),
                Word(mute));
}

EPSTATUS vrgEndptLinkInternal(ENDPT_STATE* endptState, ENDPT_STATE* otherEndptState, int link) {
  return RunCmd(VRG_EPT_LINK_INT, "vrgEndptLinkInternal", Word(endptState),
                Word(otherEndptState), Word(link));
}

EPSTATUS vrgEndptGetRtpStats(ENDPT_STATE* endptState, int cnxId, EPZCNXSTATS* epRtpStats,
                             int bReset) {
  return RunCmd(VRG_EPT_GET_RTP_STATS, "vrgEndptGetRtpStats", Word(endptState), Word(cnxId),
                Word(epRtpStats), Word(bReset));
}

EPSTATUS vrgEndptGetT38Stats(ENDPT_STATE* endptState, int cnxId, EPZT38CNXSTATS* epT38Stats) {
  return RunCmd(VRG_EPT_GET_T38_STATS, "vrgEndptGetT38Stats", Word(endptState), Word(cnxId),
                Word(epT38Stats));
}

EPSTATUS vrgEndptConsoleCmd(ENDPT_STATE* endptState, EPCONSOLECMD cmd,
                            EPCMD_PARMS* consoleCmdParams) {
  return RunCmd(VRG_EPT_CONSOLE_CMD, "vrgEndptConsoleCmd", Word(endptState), Word(&cmd),
                Word(consoleCmdParams));
}

// ---- posted events ----

EPSTATUS vrgEndptSendCasEvt(ENDPT_STATE* endptState, unsigned int casEvtType,
                            unsigned int casCtlEvt) {
  if (!vrgEndptCheckInitialized("vrgEndptSendCasEvt")) return EPSTATUS_ERROR;
  // The line id indexes the endpoint records: one outside them names no line.
  if (endptState == nullptr || endptState->lineId < 0 || endptState->lineId >= VRG_MAX_ENDPT) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: %s: invalid line %d",
             "vrgEndptSendCasEvt", endptState != nullptr ? endptState->lineId : -1);
    return EPSTATUS_ENDPT_UNKNOWN;
  }
  VRG_EVT event{};
  event.type = VRG_EVT_TYPE_CAS;
  event.u.cas.handle = vrgEndpt[endptState->lineId].casCtlHandle;
  event.u.cas.eventType = static_cast<int32_t>(casEvtType);
  event.u.cas.eventId = static_cast<int32_t>(casCtlEvt);
  if (VrgQueuePost(&vrgEventQ, &event, sizeof event) != BUF_STATUS_OK) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: %s: VrgQueuePost failed!\n",
             "vrgEndptSendCasEvt");
  }
  return EPSTATUS_SUCCESS;
}

// ---- small calls ----

int vrgEndptPrintf(const char* format, va_list args) {
  voiceVLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_ALWAYS, format, args);
  return 0;
}

uint16_t vrgEndptRetrievePlcSettings(CODEC_TYPE codec) {
  constexpr uint16_t PLC_OFF = 0;
  constexpr uint16_t PLC_FRAMEREPEAT = 1;
  constexpr uint16_t PLC_BVC = 3;
  if ((codec == CODEC_PCMU || codec == CODEC_PCMA) && gDspCfg.bvcSupport) return PLC_BVC;
  return gDspCfg.gplcSupport ? PLC_FRAMEREPEAT : PLC_OFF;
}

EPSTATUS vrgEndptDriverOpen(void) { return EPSTATUS_ERROR; }
EPSTATUS vrgEndptDriverClose(void) { return EPSTATUS_ERROR; }
EPSTATUS vrgEndptLogOpen(void) { return EPSTATUS_ERROR; }
EPSTATUS vrgEndptLogClose(void) { return EPSTATUS_ERROR; }
EPSTATUS vrgEndptProbeSet(int, int, int, int, void*, int, int) { return EPSTATUS_ERROR; }
EPSTATUS vrgEndptProbeGet(int, int, int, int, void*, int, int) { return EPSTATUS_ERROR; }
void vrgEndptSetRtpDroppedPacketResetCallback(void (*)(void)) {}
