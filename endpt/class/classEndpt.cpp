// Where the dispatcher meets the caller-ID and message-waiting machines of the lines and FXO
// line control: each line's machine and caller-ID receive state, the caller-ID signal requests
// (caller-ID rings, call waiting with caller ID, message waiting, caller-ID data), the line
// events that drive the machines, FXO seizure, release and dialling, and the reports of FXO
// control. Dispatcher thread only, except PstnEventCallback's forwarding on the PSTN task.
#include <atomic>
#include <cstring>

#include "boardHal.h"
#include "casCtl.h"
#include "classStm.h"
#include "hdspSb.h"
#include "hdspTone.h"
#include "hdspVhd.h"
#include "pstnCtl.h"
#include "swb/swb.h"
#include "voiceLog.h"
#include "vrgEndptCallbacks.h"
#include "vrgEndptClass.h"
#include "vrgEndptLib.h"
#include "vrgEndptProcess.h"
#include "vrgProv.h"

// The caller-ID machine and caller-ID receive state of each endpoint record.
CLASSSTM_MEM classState[VRG_MAX_ENDPT];
HDSP_CLASS_CLIDRX_STATE clidRxState[VRG_MAX_ENDPT];
// The transmission parameters handed to the machines, read before every sequence.
VRG_CLASS_FSK fskParmsPlaceHolder[VRG_MAX_ENDPT];
VRG_CLASS_DTMF dtmfParmsPlaceHolder[VRG_MAX_ENDPT];

namespace {

constexpr int kSasToneType = 2;

int slot(const VRG_ENDPT* e) { return e->endptNum % VRG_MAX_ENDPT; }
CLASSSTM_MEM& machine(const VRG_ENDPT* e) { return classState[slot(e)]; }

void feed(VRG_ENDPT* e, int event) { classStmEventProcess(&machine(e), event, e->lineId); }

int provInt(const VRG_ENDPT* e, EPPROV item, int fallback = 0) {
  int value = 0;
  return Provision(e, item, &value) == EPSTATUS_SUCCESS ? value : fallback;
}

// The FSK and DTMF parameter blocks of the line, pointed to by the machine.
void loadTransmitParameters(VRG_ENDPT* e) {
  CLASSSTM_MEM& m = machine(e);
  VRG_CLASS_FSK& fsk = fskParmsPlaceHolder[slot(e)];
  VRG_CLASS_DTMF& dtmf = dtmfParmsPlaceHolder[slot(e)];
  Provision(e, EPPROV_CIDFskParms, &fsk);
  Provision(e, EPPROV_CIDDtmfParms, &dtmf);
  m.fskParms = &fsk;
  m.dtmfParms = &dtmf;
}

bool isCallerIdRing(EPSIG s) { return s == EPSIG_CALLID_RINGING || (s >= EPSIG_CALLID_RING0 && s <= EPSIG_CALLID_RING7); }

EPSTATUS callerIdRing(VRG_ENDPT* e, EPSIG s, uintptr_t value) {
  CLASSSTM_MEM& m = machine(e);
  if (value == 0) {
    if (!e->offHook.load(std::memory_order_relaxed)) feed(e, CLASSSTM_RING_OFF);
    return EPSTATUS_SUCCESS;
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
           "EPT:  vrgEndptSignal: EPSIG_CALLID_RING0 - RINGING, actual signal = %d, value = %d", s,
           static_cast<int>(value));
  classStmReset(&m, static_cast<CLASSSTM_TYPE>(provInt(e, EPPROV_CIDMode)));
  GetRingPattern(s, endptConfig.country, e, &m.ringInfo);
  m.fskAfterRing = provInt(e, EPPROV_CIDFskAfterRing);
  m.ringAfterFsk = provInt(e, EPPROV_CIDRingAfterFSK);
  m.fskAfterDtas = provInt(e, EPPROV_CIDFskAfterDTAS);
  m.fskAfterRp = provInt(e, EPPROV_CIDFskAfterRPAS);
  m.dtasAfterLr = provInt(e, EPPROV_CIDDTASAfterLR);
  m.dtmfAfterLr = provInt(e, EPPROV_CIDDTMFAfterLR);
  m.clidProtocol = static_cast<CLASS_SIG_TYPE>(provInt(e, EPPROV_CIDSigProtocol, CLASS_SIG_TYPE_FSK_CLID));
  loadTransmitParameters(e);
  return EPSTATUS_SUCCESS;
}

EPSTATUS callWaiting(VRG_ENDPT* e, EPSIG s, uintptr_t value) {
  if (value == 0) {
    feed(e, CLASSSTM_CLID_SAS_CAS_OFF);
    return EPSTATUS_SUCCESS;
  }
  const EPZTONEMAP* tone = getEpzToneMapEntry(s);
  if (tone == nullptr || tone->event == 0) return EPSTATUS_SUCCESS;
  CLASSSTM_MEM& m = machine(e);
  const int delay = provInt(e, EPPROV_CallWtgDelay);
  classStmReset(&m, CLASSSTM_TYPE_OFFHOOK_CLID);
  if (tone->provItem < 0 ||
      Provision(e, static_cast<EPPROV>(tone->provItem), &m.callWtgInfo.sasCustomProfile) != EPSTATUS_SUCCESS) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: The SAS tone cannot be found in provTable !!!");
  }
  m.callWtgInfo.delay = delay;
  m.callWtgInfo.profile = kSasToneType;
  loadTransmitParameters(e);
  const bool withCas = s >= EPSIG_SAS_CAS && s <= EPSIG_SAS_CAS4;
  feed(e, withCas ? CLASSSTM_CLID_SAS_CAS : CLASSSTM_CLID_SAS_ONLY);
  return EPSTATUS_SUCCESS;
}

EPSTATUS messageWaiting(VRG_ENDPT* e, uintptr_t value) {
  CLASSSTM_MEM& m = machine(e);
  classStmReset(&m, static_cast<CLASSSTM_TYPE>(provInt(e, EPPROV_VMWIMode, CLASSSTM_TYPE_OSI_VMWI)));
  m.fskAfterDtas = provInt(e, EPPROV_VMWIFskAfterDTAS);
  m.fskAfterRp = provInt(e, EPPROV_VMWIFskAfterRPAS);
  m.dtasAfterLr = provInt(e, EPPROV_VMWIDTASAfterLR);
  loadTransmitParameters(e);
  m.vmwiMsgFormat = provInt(e, EPPROV_VMWIMsgFormat);
  m.vmwiProtocol = static_cast<CLASS_SIG_TYPE>(provInt(e, EPPROV_VMWISigProtocol, CLASS_SIG_TYPE_FSK_VMWI));
  m.vmwiType = value != 0 ? CLASS_VMWI_ACTIVATE : CLASS_VMWI_DEACTIVATE;
  feed(e, value != 0 ? CLASSSTM_VMWI_ON : CLASSSTM_VMWI_OFF);
  return EPSTATUS_SUCCESS;
}

EPSTATUS callerIdData(VRG_ENDPT* e, uintptr_t value) {
  CLASSSTM_MEM& m = machine(e);
  hdspClassParseStr(reinterpret_cast<const char*>(value), endptConfig.country, &m.clidInfo);
  const bool offHook = e->offHook.load(std::memory_order_relaxed) != 0;
  if (e->endptType == EPTYPE_DECT) {
    if (offHook) feed(e, CLASSSTM_CLID_INFO);
    return EPSTATUS_SUCCESS;
  }
  loadTransmitParameters(e);
  feed(e, offHook ? CLASSSTM_CLID_INFO : CLASSSTM_CLID_RING);
  return EPSTATUS_SUCCESS;
}

// --- FXO line ---

PSTN_CTL_STATUS sendToPstn(const VRG_ENDPT* fxo, PSTN_CTL_EVENT event, uint16_t op1, const void* text,
                           const char* failure) {
  PSTN_CTL_EVT evt{};
  evt.hsxdevhdl = fxo->pstnVhdHdl;
  evt.hsxevt = event;
  evt.hsxreqid = HAPI_REQID_STD_EVT;
  evt.hsxop1 = op1;
  evt.hsxop2.ref = const_cast<void*>(text);
  const PSTN_CTL_STATUS status = pstnCtlSendEvent(&evt);
  if (status != PSTN_CTL_SUCCESS) voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "%s", failure);
  return status;
}

void pstnReport(uint16_t vhdHdl, PSTN_CTL_EVENT_INFO* info) { PstnEventCallback(vhdHdl, info); }

void notify(VRG_ENDPT* e, EPEVT event, void* data = nullptr, int length = 0, int value = -1) {
  vrgEndptNotify(e->endptArchive, -1, event, data, length, value);
}

void callSetupComplete(VRG_ENDPT* fxo) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: PstnEventCallback: PSTN_CTL_EVT_CALL_SETUP_COMPLETE");
  if (!fxo->offHook.load(std::memory_order_relaxed)) return;
  const int fxsLine = fxo->routedFxsLineId;
  if (fxo->isFxsFxoCnxEstablished) {
    if (fxsLine == fxo->lineId) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR Missing FXS line id for routing over FXO");
    }
  } else if (fxsLine != fxo->lineId) {
    if (ConnectSB(fxsLine, fxo->lineId) != EPSTATUS_SUCCESS) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ERROR setting connection between lines %d and %d",
               fxsLine, fxo->lineId);
    } else {
      fxo->isFxsFxoCnxEstablished = 1;
      ClassRxConfigure(fxo->pstnVhdHdl, 2, endptConfig.country);
      boardHalLedControl(fxo->endptNum, 1);
    }
  }
  notify(fxo, EPEVT_OPCOMPLETE);
}

void dtmfCallerId(VRG_ENDPT* fxo, const PSTN_CTL_EVENT_INFO& info) {
  const bool valid = info.event == PSTN_CTL_EVT_VALID_DTMFCLID;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, valid ? "EPT: PstnEventCallback: PSTN_CTL_EVT_VALID_DTMFCLID"
                                                        : "EPT: PstnEventCallback: PSTN_CTL_EVT_PARTIAL_DTMFCLID");
  EPCLIDRX_DATA data{};
  const auto* clid = static_cast<const PSTN_CTL_CLID_EVENT_INFO*>(info.pInfo);
  if (clid != nullptr) {
    std::memcpy(data.number, clid->clidData.callingNumber, sizeof data.number);
    data.number[sizeof data.number - 1] = '\0';
    const auto setReason = [&data](char reason, const char* text) {
      data.reasonNoNumber = reason;
      std::snprintf(data.number, sizeof data.number, "%s", text);
    };
    switch (clid->clidData.infoRecieved) {
      case DTMFCLIDRX_INFO_PRIVATE: setReason('P', "Private"); break;
      case DTMFCLIDRX_INFO_UNAVAILABLE: setReason('O', "Unavailable"); break;
      case DTMFCLIDRX_INFO_ERROR: setReason('E', "Error"); break;
      default:
        if (data.number[0] == '\0') setReason('O', "Unavailable");
        break;
    }
  }
  notify(fxo, EPEVT_DTMF_CLIDRX, &data, sizeof data, 0);
}

}  // namespace

// ---- caller-ID and message-waiting machines ----

bool ClassBlocksAllCasEvents(const VRG_ENDPT* endpt) {
  return machine(endpt).evBlock == CLASSSTM_CASEVT_BLOCK_ALL;
}

bool ClassBlocksPulseEvents(const VRG_ENDPT* endpt) {
  return machine(endpt).evBlock != CLASSSTM_CASEVT_BLOCK_NONE;
}

// Called from the packet path: the message type is one of the fields the state machine publishes
// as relaxed atomics.
bool ClassOffhookClidRunning(const VRG_ENDPT* endpt) {
  const CLASSSTM_MEM& m = machine(endpt);
  const CLASS_MSG_TYPE type =
      std::atomic_ref<CLASS_MSG_TYPE>(const_cast<CLASS_MSG_TYPE&>(m.classType)).load(std::memory_order_relaxed);
  return type == CLASS_MSG_OFFHOOK_CLID && !classStmIsIdle(&m);
}

bool ClassIsIdle(const VRG_ENDPT* endpt) { return classStmIsIdle(&machine(endpt)) != 0; }

int ClassLineInit(VRG_ENDPT* endpt) {
  hdspClidRxReset(&clidRxState[slot(endpt)]);
  return classStmInit(&machine(endpt), static_cast<uint16_t>(endpt->casCtlHandle), endpt->lineVhdHdl,
                      endptConfig.country);
}

void ClassLineDeinit(VRG_ENDPT* endpt) { classStmDeinit(&machine(endpt)); }

void ClassUpdateCasState(VRG_ENDPT* endpt, EPCAS_EVENT code) {
  const bool fxo = endpt->endptType == EPTYPE_PSTN;
  switch (code) {
    case EPCAS_ONHOOK: feed(endpt, CLASSSTM_ONHOOK); break;
    case EPCAS_OFFHOOK:
      if (endpt->endptType == EPTYPE_FXS || endpt->endptType == EPTYPE_DECT) feed(endpt, CLASSSTM_OFFHOOK);
      break;
    case EPCAS_FLASH: feed(endpt, CLASSSTM_FLASH); break;
    case EPCAS_RINGON:
      if (fxo) sendToPstn(endpt, PSTN_CTL_EVT_RINGON, 0, nullptr, "EPT: pstnCtlSendEvent: PSTN_CTL_EVT_RINGON FAIL");
      break;
    case EPCAS_RINGOFF:
      if (fxo) sendToPstn(endpt, PSTN_CTL_EVT_RINGOFF, 0, nullptr, "EPT: pstnCtlSendEvent: PSTN_CTL_EVT_RINGOFF FAIL");
      break;
    case EPCAS_RINGEND:
      if (fxo) sendToPstn(endpt, PSTN_CTL_EVT_RINGEND, 0, nullptr, "EPT: pstnCtlSendEvent: PSTN_CTL_EVT_RINGEND FAIL");
      break;
    case EPCAS_FIRST_RINGOFF: feed(endpt, CLASSSTM_CLID_FIRST_RINGOFF); break;
    case EPCAS_VMWI_OSI_SENT: feed(endpt, CLASSSTM_VMWI_OSI_END); break;
    default: break;
  }
}

void ClassTimerExpire(VRG_ENDPT* endpt) { feed(endpt, CLASSSTM_TIMER_EXPIRE); }

void ClassDspEvent(VRG_ENDPT* endpt, uint16_t eventId, uint16_t op1, uintptr_t op2) {
  HSZEVT event{};
  event.hsxdevhdl = endpt->endptType == EPTYPE_PSTN ? endpt->pstnVhdHdl : endpt->lineVhdHdl;
  event.hsxevt = eventId;
  event.hsxop1 = op1;
  const bool withData = eventId == hdsp::HAPI_CLIDRX_PKT_EVT || eventId == hdsp::HAPI_PTE_TONE_GEN_EVT;
  event.hsxreqid = withData ? HAPI_REQID_EXT_EVT : HAPI_REQID_STD_EVT;
  if (withData) {
    event.hsxop2.ref = reinterpret_cast<void*>(op2);
  } else {
    event.hsxop2.val = static_cast<uint16_t>(op2);
  }
  EPCLIDRX_DATA received{};
  if (ClassEvent(&machine(endpt), &clidRxState[slot(endpt)], endpt->lineId, endptConfig.country, &event, &received) == 1) {
    notify(endpt, EPEVT_FSK_CLIDRX, &received, sizeof received, 0);
  }
}

EPSTATUS ClassSignal(VRG_ENDPT* endpt, EPSIG signal, uintptr_t value) {
  if (isCallerIdRing(signal)) return callerIdRing(endpt, signal, value);
  if (signal >= EPSIG_CALLWT && signal <= EPSIG_SAS_CAS4) return callWaiting(endpt, signal, value);
  if (signal == EPSIG_VMWI) return messageWaiting(endpt, value);
  if (signal == EPSIG_CALLID) return callerIdData(endpt, value);
  return EPSTATUS_SIGNAL_UNKNOWN;
}

// ---- FXO line control ----

int PstnCtlStart(VRG_COUNTRY country) { return pstnCtlInit(country, pstnReport) == PSTN_CTL_SUCCESS ? 0 : -1; }

void PstnCtlStop(void) {
  if (pstnCtlDeinit() != PSTN_CTL_SUCCESS) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: FATAL ERROR: pstnCtlDeinit FAILED");
  }
}

EPSTATUS PstnEndptStart(VRG_ENDPT* endpt) {
  if (pstnCtlEndptInit(endpt->pstnVhdHdl) != PSTN_CTL_SUCCESS) return EPSTATUS_RESOURCES;
  if (provInt(endpt, EPPROV_CIDSigProtocol) == CLASS_SIG_TYPE_DTMF_CLID) {
    VRG_CLASS_DTMF dtmf{};
    Provision(endpt, EPPROV_CIDDtmfParms, &dtmf);
    if (pstnCtlDTMFClidRxInit(endptConfig.country, endpt->pstnVhdHdl, &dtmf) != PSTN_CTL_SUCCESS) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: ERROR pstnCtlDTMFClidRxInit for endpt %d",
               endpt->endptNum);
      return EPSTATUS_RESOURCES;
    }
    enableFskClidRx(0, endpt->pstnVhdHdl);
  } else {
    enableFskClidRx(1, endpt->pstnVhdHdl);
  }
  if (classRxConfigure(endpt->pstnVhdHdl, endptConfig.country, CLASS_MSG_ONHOOK_CLID) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: classRxConfigure TYPE1 FAIL vhd=0x%x!!!",
             endpt->pstnVhdHdl);
  }
  boardHalSetSlicMode(endpt->endptNum, 1);
  return EPSTATUS_SUCCESS;
}

// FXO control events from the dispatcher: `op` is the digit code of a DTMF digit, the reporting
// detector slot of a tone detection, the dial string of a call set-up; the line otherwise.
int PstnCtlSendEvent(uint16_t pstnVhdHdl, PSTN_CTL_EVENT event, int line, uintptr_t op) {
  // The slot byte travels by reference through FXO control's queue: one byte per channel.
  static uint8_t toneSlot[VRG_MAX_ENDPT];
  PSTN_CTL_EVT evt{};
  evt.hsxdevhdl = pstnVhdHdl;
  evt.hsxevt = event;
  evt.hsxreqid = HAPI_REQID_STD_EVT;
  evt.hsxop1 = static_cast<uint16_t>(line);
  switch (event) {
    case PSTN_CTL_EVT_DTMF_DIGIT:
      evt.hsxop1 = static_cast<uint16_t>(op);
      break;
    case PSTN_CTL_EVT_CPTONE_DETECT: {
      uint8_t& slotByte = toneSlot[static_cast<unsigned>(line) % VRG_MAX_ENDPT];
      slotByte = static_cast<uint8_t>(op);
      evt.hsxop2.ref = &slotByte;
      break;
    }
    case PSTN_CTL_EVT_CALL_SETUP:
      evt.hsxop2.ref = reinterpret_cast<void*>(op);
      break;
    default:
      break;
  }
  return pstnCtlSendEvent(&evt) == PSTN_CTL_SUCCESS ? 0 : -1;
}

int ClassRxConfigure(uint16_t pstnVhdHdl, int type, VRG_COUNTRY country) {
  return classRxConfigure(pstnVhdHdl, country, type == 2 ? CLASS_MSG_OFFHOOK_CLID : CLASS_MSG_ONHOOK_CLID);
}

EPSTATUS EnableFskClidRx(int on, uint16_t pstnVhdHdl) { return enableFskClidRx(on, pstnVhdHdl); }

void PstnEventProcessInfo(VRG_ENDPT* endpt, void* eventInfo) {
  const auto* info = static_cast<const PSTN_CTL_EVENT_INFO*>(eventInfo);
  if (info == nullptr) return;
  switch (info->event) {
    case PSTN_CTL_EVT_CPTONE_TIMEOUT:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: PstnEventCallback: PSTN_CTL_EVT_CPTONE_TIMEOUT");
      notify(endpt, EPEVT_CPTONETIMEOUT);
      break;
    case PSTN_CTL_EVT_CALL_SETUP_COMPLETE: callSetupComplete(endpt); break;
    case PSTN_CTL_EVT_VALID_DTMFCLID:
    case PSTN_CTL_EVT_PARTIAL_DTMFCLID: dtmfCallerId(endpt, *info); break;
    case PSTN_CTL_EVT_INVALID_DTMFCLID:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: PstnEventCallback: PSTN_CTL_EVT_INVALID_DTMFCLID");
      break;
    default:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: PstnEventCallback: Unexpected Event");
      break;
  }
}
