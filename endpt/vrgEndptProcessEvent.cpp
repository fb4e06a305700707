// Event processing on the dispatcher: line-signalling events, DSP events of the resource manager,
// line channels and connection channels, named-event requests, FXO control events and line-test
// results become events for the daemon and internal actions.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "casCtl.h"
#include "cmtdCtl.h"
#include "hdspCmd.h"
#include "net/net_codes.h"
#include "hdspEcan.h"
#include "hdspVhd.h"
#include "voiceLog.h"
#include "vrgEndpt.h"
#include "vrgEndptClass.h"
#include "vrgEndptDispatcher.h"
#include "vrgEndptHelpers.h"
#include "hdspCnx.h"
#include "hdspLine.h"
#include "hdspTone.h"
#include "rtpCnx.h"
#include "vrgEndptLib.h"
#include "vrgEndptProcess.h"
#include "vrgEndptState.h"
#include "vrgProv.h"
#include "vosTime.h"

namespace {

uint32_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

void Notify(VRG_ENDPT* endpt, EPEVT event) {
  vrgEndptNotify(endpt->endptArchive, -1, event, nullptr, 0, -1);
}

// A call-progress tone detected by the line channel: dial tone is reported when the reporting
// detector slot (the first data byte, slot 2 for an event without data) listens for it.
void CallProgressToneDetect(VRG_ENDPT* endpt, const VRG_HAPI_EVT& event) {
  int slot = 2;
  if (event.reqId == VRG_HAPI_REQID_DATA && event.op1 != 0 && event.op2.ref != nullptr) {
    slot = *static_cast<const uint8_t*>(event.op2.ref);
  }
  if (cmtdCtlGetConfigTone(slot) == 0) {
    int data = -1;
    vrgEndptNotify(endpt->endptArchive, -1, EPEVT_DIALTONE, &data, sizeof data, -1);
  }
}

bool BoardHasFxoLines() { return vrgEndptGetNumFxoEndpoints() > 0; }

// Passes a line-channel report to FXO control for the endpoint's PSTN channel.
void ToFxoControl(VRG_ENDPT* endpt, PSTN_CTL_EVENT event, int op, const char* failure) {
  if (PstnCtlSendEvent(endpt->pstnVhdHdl, event, endpt->lineId, static_cast<uintptr_t>(op)) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "%s", failure);
  }
}

// ---- line signalling ----

// Records the line's hook state on the DSP side and for the line's caller-ID machine (which also
// passes ring bursts of an FXO line on to FXO control).
void UpdateCasState(VRG_ENDPT* endpt, EPCAS_EVENT code) {
  EndptUpdateCasState(endpt->lineId, code);
  ClassUpdateCasState(endpt, code);
}

void CasDetectEvent(VRG_ENDPT* endpt, int casHandle, int eventId) {
  const bool blocked = ClassBlocksAllCasEvents(endpt);
  switch (eventId) {
    case CAS_CTL_EVENT_ONHOOK:
      boardHalLedControl(endpt->endptNum, 0);
      UpdateCasState(endpt, EPCAS_ONHOOK);
      if (endpt->bGR303Support && endpt->cnxCnt.load() != 0) {
        casCtlSetStateGenEvent(casHandle, CAS_CTL_FXO_ALERTING_OHT, 0);
      }
      if (!blocked) Notify(endpt, EPEVT_ONHOOK);
      break;
    case CAS_CTL_EVENT_OFFHOOK:
      boardHalLedControl(endpt->endptNum, 1);
      UpdateCasState(endpt, EPCAS_OFFHOOK);
      if (!blocked) Notify(endpt, EPEVT_OFFHOOK);
      break;
    case CAS_CTL_EVENT_FLASH:
      UpdateCasState(endpt, EPCAS_FLASH);
      if (!blocked) Notify(endpt, EPEVT_FLASH);
      break;
    case CAS_CTL_EVENT_RINGON:
      UpdateCasState(endpt, EPCAS_RINGON);
      if (!blocked) Notify(endpt, EPEVT_RINGDET);
      break;
    case CAS_CTL_EVENT_RINGOFF:
      UpdateCasState(endpt, EPCAS_RINGOFF);
      if (!blocked) Notify(endpt, EPEVT_RINGOFF);
      break;
    case CAS_CTL_EVENT_LCFO:
      casCtlSetStateFXS(casHandle, CAS_CTL_FXS_RELEASED);
      break;
    case CAS_CTL_EVENT_EARLY_OFFHOOK:
      UpdateCasState(endpt, EPCAS_EARLY_OFFHOOK);
      if (!blocked) Notify(endpt, EPEVT_EARLY_OFFHOOK);
      break;
    case CAS_CTL_EVENT_EARLY_ONHOOK:
      UpdateCasState(endpt, EPCAS_EARLY_ONHOOK);
      if (!blocked) Notify(endpt, EPEVT_EARLY_ONHOOK);
      break;
    case CAS_CTL_EVENT_RINGEND:
      UpdateCasState(endpt, EPCAS_RINGEND);
      casCtlSetStateFXS(casHandle, CAS_CTL_FXS_RELEASED);
      if (!blocked) Notify(endpt, EPEVT_RINGEND);
      break;
    default:
      break;
  }
}

void CasStateCtlEvent(VRG_ENDPT* endpt, int eventId) {
  switch (eventId) {
    case CAS_CTL_EVENT_ONHOOK:
      UpdateCasState(endpt, EPCAS_ONHOOK);
      Notify(endpt, EPEVT_ONHOOK);
      break;
    case CAS_CTL_EVENT_OFFHOOK:
      UpdateCasState(endpt, EPCAS_OFFHOOK);
      Notify(endpt, EPEVT_OFFHOOK);
      break;
    case CAS_CTL_EVENT_FIRST_RINGOFF:
      UpdateCasState(endpt, EPCAS_FIRST_RINGOFF);
      break;
    case CAS_CTL_EVENT_OSI_END:
      UpdateCasState(endpt, EPCAS_VMWI_OSI_SENT);
      break;
    case CAS_CTL_EVENT_TIMER_EXPIRE:
      ClassTimerExpire(endpt);
      break;
    default:
      break;
  }
}

void CasPulseDialEvent(VRG_ENDPT* endpt, int pulses) {
  if (ClassBlocksPulseEvents(endpt)) return;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: Pulse Dial Event, #Pulses: %u, 0x%x",
           static_cast<unsigned>(pulses), endpt->endptNum);
  const EPZPTEDIGIT2EPEVTMAP* row = DigitRowFromPulses(pulses);
  if (row == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
             "EPT: ENDPT ERROR: No EPEVT for pulsedial=%d !!!", pulses);
    return;
  }
  if (pulses == 0 || row->epEvent == EPEVT_NULL) return;
  Notify(endpt, row->epEvent);
  if (!endpt->bPulse2dtmf) return;
  int level = 0, pulseTime = 0, skew = 0;
  Provision(endpt, EPPROV_DtmfDbLevel, &level);
  Provision(endpt, EPPROV_DtmfPulseTime, &pulseTime);
  Provision(endpt, EPPROV_DTMFSkew, &skew);
  for (CNXSTATE* cnx : endpt->cnx) {
    if (cnx == nullptr || cnx->voiceMode == VM_IDLE) continue;
    hdspDigitOn(endpt->lineVhdHdl, endpt->lineId, row->digit, level, skew, pulseTime, INGRESS_TONE);
  }
}

void CasEventProcess(const VRG_CAS_EVT& event) {
  int index = -1;
  if (!GetEndptIndexFromCasHandle(event.handle, &index) || index < 0 ||
      index >= VRG_MAX_ENDPT || !vrgEndpt[index].isLineUsed) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: ENDPT ERROR: Unknown line %d !!!",
             event.handle);
    return;
  }
  VRG_ENDPT* endpt = &vrgEndpt[index];
  switch (event.eventType) {
    case CAS_CTL_DETECT_EVENT:
      CasDetectEvent(endpt, event.handle, event.eventId);
      break;
    case CAS_CTL_STATECTL_EVENT:
      CasStateCtlEvent(endpt, event.eventId);
      break;
    case CAS_CTL_PULSEDIAL_EVENT:
      CasPulseDialEvent(endpt, event.eventId);
      break;
    default:
      break;
  }
}

// ---- resource manager ----

const char* RmEventName(uint16_t id) {
  switch (id) {
    case 0x80C0: return "HAPI_RM_ERROR_EVT";
    case 0x80C3: return "HAPI_RM_DSP_INGRESS_OVERRUN_EVT";
    case 0x80C4: return "HAPI_RM_DSP_EGRESS_UNDERRUN_EVT";
    case HAPI_HEC_STATE_EVT: return "HAPI_HEC_STATE_EVT";
    case 0x3880: return "HAPI_GAIN_SET_GAIN_CMD";
    case 0x8500: return "HAPI_SWB_CONNECT_CMD";
    case 0x8501: return "HAPI_SWB_DISCONNECT_CMD";
    default: return "Unknown evt";
  }
}

void HapiRmEventPostProcess(const VRG_HAPI_EVT& event) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE,
           "EPT: '%s' (0x%x), hdl:0x%x, op1:0x%x, op2:0x%x ts: %u ", RmEventName(event.eventId),
           event.eventId, event.handle, event.op1, event.op2.val, NowMs());
  if (event.eventId == HAPI_RM_ERROR_EVT) {
    const char* text = hdspRmErrText(event.op1);
    if (text != nullptr) voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT:    (%s)", text);
  }
}

// ---- line channels ----

const char* EndptEventName(uint16_t id) {
  switch (id) {
    case HAPI_CMTD_TONE_DET_EVT: return "HAPI_CMTD_TONE_DET_EVT";
    case HAPI_CMTD_TONE_END_EVT: return "HAPI_CMTD_TONE_END_EVT";
    case HAPI_PTE_TONE_GEN_EVT: return "HAPI_PTE_TONE_GEN_EVT";
    case HAPI_CLIDTX_DONE_EVT: return "HAPI_CLIDTX_DONE";
    case 0x444F: return "HAPI_HEC_GETSTATE_EVT";
    case HAPI_HEC_STATE_EVT: return "HAPI_HEC_STATE_EVT";
    case HAPI_NET_EXCEPTION_EVT: return "HAPINET_EXCEPTION";
    default: return "Unknown evt";
  }
}

void HapiEndptEventPostProcess(VRG_ENDPT* endpt, const VRG_HAPI_EVT& event) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE,
           "EPT: '%s' (0x%x), line:%d, hdl:0x%x, op1:0x%x, op2:0x%x, ts: %u ",
           EndptEventName(event.eventId), event.eventId, endpt->lineId, event.handle, event.op1,
           event.op2.val, NowMs());
  if (event.eventId == HAPI_PTE_TONE_GEN_EVT && endpt->activeBriefSignal != EPSIG_CALLID) {
    endpt->activeBriefSignal = EPSIG_NULL;
  } else if (event.eventId == HAPI_CLIDTX_DONE_EVT && endpt->activeBriefSignal == EPSIG_CALLID) {
    endpt->activeBriefSignal = EPSIG_NULL;
  }
}

void HapiEndptToneOn(VRG_ENDPT* endpt, const VRG_HAPI_EVT& event) {
  const unsigned digit = event.op2.val & 0xFF;
  if (digit > 15) {
    Notify(endpt, EPEVT_DTMFL);
    return;
  }
  const EPZPTEDIGIT2EPEVTMAP* row = DigitRowFromDigit(digit);
  if (row->epEvent == EPEVT_NULL) return;
  if (endpt->endptType == EPTYPE_PSTN && event.handle == endpt->pstnVhdHdl) return;
  if (BoardHasFxoLines()) {
    ToFxoControl(endpt, PSTN_CTL_EVT_DTMF_DIGIT, row->digit,
                 "EPT: pstnCtlSendEvent: PSTN_CTL_EVT_DTMF_DIGIT FAIL");
  }
  vrgEndptNotify(endpt->endptArchive, -1, row->epEvent, nullptr, 0, 0);
  if (endpt->endptType != EPTYPE_PSTN) {
    ClassDspEvent(endpt, event.eventId, event.op1, reinterpret_cast<uintptr_t>(event.op2.ref));
  }
}

void HapiEndptEventProcess(const VRG_HAPI_EVT& event) {
  VRG_ENDPT* endpt = GetEndptStateFromVHD(event.handle);
  if (endpt == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
             "EPT: ENDPT - endptVhdEventCallback: Unknown VHD handle 0x%x, event: 0x%x",
             event.handle, event.eventId);
    return;
  }
  const uintptr_t op2 = reinterpret_cast<uintptr_t>(event.op2.ref);
  switch (event.eventId) {
    case HAPI_CMTD_TONE_DET_EVT: {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE,
               "EPT: ENDPT %d: CMTD tone detection event op1:0x%x", endpt->lineId, event.op1);
      if (BoardHasFxoLines()) {
        ToFxoControl(endpt, PSTN_CTL_EVT_CPTONE_DETECT, event.op1 & 0xFF,
                     "EPT: pstnCtlSendEvent: PSTN_CTL_EVT_CPTONE_DETECT FAIL");
      } else {
        CallProgressToneDetect(endpt, event);
      }
      HapiEndptEventPostProcess(endpt, event);
      break;
    }
    case HAPI_CMTD_TONE_END_EVT:
      Notify(endpt, EPEVT_DIALTONE_END);
      break;
    case HAPI_PTE_TONE_GEN_EVT:
      ClassDspEvent(endpt, event.eventId, event.op1, op2);
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: ENDPT %d: HAPI_PTE_TONE_GEN_EVT",
               endpt->lineId);
      if (BoardHasFxoLines()) {
        ToFxoControl(endpt, PSTN_CTL_EVT_DIAL_COMPLETE, 0,
                     "EPT: pstnCtlSendEvent: PSTN_CTL_EVT_DIAL_COMPLETE FAIL");
      }
      HapiEndptEventPostProcess(endpt, event);
      break;
    case HAPI_CLIDTX_DONE_EVT:
    case 0x08C1:
      ClassDspEvent(endpt, event.eventId, event.op1, op2);
      HapiEndptEventPostProcess(endpt, event);
      break;
    case HAPI_PTE_TONE_ON_EVT:
      HapiEndptToneOn(endpt, event);
      break;
    case HAPI_PTE_TONE_OFF_EVT: {
      const EPZPTEDIGIT2EPEVTMAP* row = DigitRowFromDigit(event.op2.val & 0xFF);
      if (row->epEvent != EPEVT_NULL) {
        vrgEndptNotify(endpt->endptArchive, -1, row->epEvent, nullptr, 0, 1);
      }
      if (endpt->endptType != EPTYPE_PSTN) ClassDspEvent(endpt, event.eventId, event.op1, op2);
      break;
    }
    case HAPI_CLIDRX_PKT_EVT:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE,
               "EPT: ENDPT %d: CLIDRX_PKT_EVT detection event", endpt->lineId);
      ClassDspEvent(endpt, event.eventId, event.op1, op2);
      break;
    case HAPI_NET_EXCEPTION_EVT:
      HapiEndptEventPostProcess(endpt, event);
      break;
    case HAPI_DTAS_EVT:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE,
               "EPT: EndptVhdEventCallback: DTAS event at the endpoint!");
      break;
    default:
      break;
  }
}

// ---- named-event requests, FXO control, line tests ----

void NteEventProcess(const VRG_NTE_EVT& event) {
  VRG_ENDPT* endpt = GetEndptState(static_cast<int>(event.lineNum));
  if (endpt == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: Unknown CAS line id %u", event.lineNum);
  } else if (endpt->bGR303Support && endpt->bPulse2dtmf) {
    for (CNXSTATE* cnx : endpt->cnx) {
      if (cnx != nullptr) GenerateNteEvent(cnx, static_cast<int>(event.id));
    }
  }
  vosSemLiteGive(&vrgNteSem);
}

void PstnEventProcess(const VRG_PSTN_EVT& event) {
  VRG_ENDPT* endpt = GetEndptStateFromVHD(event.vhdHdl);
  if (endpt == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: PstnEventCallback: Unknown vhdHdl %d",
             event.vhdHdl);
  } else {
    PstnEventProcessInfo(endpt, event.pEventInfo);
  }
  // The reporter waits for this in every case: its record is no longer used.
  vosSemLiteGive(&vrgPstnSem);
}

void BoardhalEventProcess(const VRG_HAL_EVT& event) {
  const BOARD_HAL_LT_EVENT& result = event.eventInfo;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG, "EPT: %s: VRG_HAL_EVT on endpoint (%u)!!!",
           "BoardhalEventProcess", static_cast<unsigned>(result.ept_id));
  VRG_ENDPT* endpt = GetEndptStateFromPhysId(result.ept_id);
  if (endpt == nullptr) return;
  if (vrgEndptLtState[endpt->endptNum] == LT_REQUESTED) {
    uint8_t data[16];
    static_assert(sizeof result.raw == sizeof data);
    memcpy(data, result.raw, sizeof data);
    vrgEndptNotify(endpt->endptArchive, -1, EPEVT_LT_RESULT, data, sizeof data, result.test_id);
  }
  vrgEndptLtState[endpt->endptNum] = LT_COMPLETED;
}

bool HapiEventOwnsData(const VRG_EVT& event) {
  return (event.type == VRG_EVT_TYPE_HAPI_RM || event.type == VRG_EVT_TYPE_HAPI_ENDPT ||
          event.type == VRG_EVT_TYPE_HAPI_CNX) &&
         event.u.hapi.reqId == VRG_HAPI_REQID_DATA && event.u.hapi.op1 != 0 &&
         event.u.hapi.op2.ref != nullptr;
}

}  // namespace

LT_STATE vrgEndptLtState[VRG_MAX_ENDPT];
std::atomic<int32_t> vrgEndptCasCtlBits[VRG_MAX_ENDPT];

void VrgEventProcess(VRG_EVT* event) {
  switch (event->type) {
    case VRG_EVT_TYPE_CAS:
      CasEventProcess(event->u.cas);
      break;
    case VRG_EVT_TYPE_HAPI_RM:
      HapiRmEventPostProcess(event->u.hapi);
      break;
    case VRG_EVT_TYPE_HAPI_ENDPT:
      HapiEndptEventProcess(event->u.hapi);
      break;
    case VRG_EVT_TYPE_HAPI_CNX:
      HapiCnxEventProcess(event->u.hapi);
      break;
    case VRG_EVT_TYPE_NTE:
      NteEventProcess(event->u.nte);
      break;
    case VRG_EVT_TYPE_PSTN:
      PstnEventProcess(event->u.pstn);
      break;
    case VRG_EVT_TYPE_HAL:
      BoardhalEventProcess(event->u.hal);
      break;
    default:
      break;
  }
  if (HapiEventOwnsData(*event)) {
    free(event->u.hapi.op2.ref);
    event->u.hapi.op2.ref = nullptr;
  }
}

void VrgEventDiscard(VRG_EVT* event) {
  if (HapiEventOwnsData(*event)) {
    free(event->u.hapi.op2.ref);
    event->u.hapi.op2.ref = nullptr;
  }
  if (event->type == VRG_EVT_TYPE_PSTN) vosSemLiteGive(&vrgPstnSem);
  if (event->type == VRG_EVT_TYPE_NTE) vosSemLiteGive(&vrgNteSem);
}
