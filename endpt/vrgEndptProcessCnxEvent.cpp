// Events of the connection channels on the dispatcher: fax, modem and voice-band-data detection,
// NET mode changes, egress digits and rate changes become events for the daemon, inputs of the
// echo-canceller control and VAD switches.
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "hdspCmd.h"
#include "net/net_codes.h"
#include "hdspEcan.h"
#include "hdspVhd.h"
#include "voiceLog.h"
#include "vrgEndpt.h"
#include "hdspCnx.h"
#include "hdspLine.h"
#include "hdspTone.h"
#include "rtpCnx.h"
#include "vrgEndptHelpers.h"
#include "vrgEndptLib.h"
#include "vrgEndptProcess.h"
#include "vrgEndptState.h"

namespace {

// NET modes a channel reports.
enum : uint16_t {
  NETMODE_IDLE = 0,
  NETMODE_PACKETVOICE = 2,
  NETMODE_FAXRELAY = 4,
  NETMODE_VOICEBANDDATA = 5,
};


uint32_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

struct CnxEventContext {
  VRG_ENDPT* endpt;
  CNXSTATE* cnx;
  const VRG_HAPI_EVT& event;
  uint16_t previousMode;  // vhdMode before a NET mode event
};

void NotifyReason(const CnxEventContext& c, EPEVT event, int reason) {
  int data = reason;
  vrgEndptNotify(c.endpt->endptArchive, c.cnx->cnxId, event, &data, sizeof data, -1);
}

void NotifyPlain(const CnxEventContext& c, EPEVT event, int value) {
  vrgEndptNotify(c.endpt->endptArchive, c.cnx->cnxId, event, nullptr, 0, value);
}

void StopAdaptation(const CnxEventContext& c) {
  if (!c.cnx->bBell103Enabled) return;
  hdspSendCmdAsync(c.cnx->vhdhdl, HAPI_CODEC_STOP_ADAPT_CMD, HAPI_REQID_STD_CMD, 1, 0);
  EcanProcessStm(c.endpt, ECANEVT_BELL103);
}

bool IsT38DataMode(EPDATAMODE mode) {
  return mode == EPDATAMODE_T38 || mode == EPDATAMODE_T38_MUTE;
}

void HdlcDetect(const CnxEventContext& c) {
  EcanProcessStm(c.endpt, ECANEVT_HDLC);
  if (c.cnx->dataMode == EPDATAMODE_T38_MUTE) c.cnx->lastFaxEvent = 2;
  if (!IsT38DataMode(c.cnx->dataMode)) {
    NotifyPlain(c, EPEVT_FAX, -1);
    return;
  }
  if (!c.cnx->bNotifyFaxCall) {
    NotifyPlain(c, EPEVT_FAX, -1);
    c.cnx->bNotifyFaxCall = 1;
  }
}

void EgressDetect(const CnxEventContext& c) {
  const uint16_t bits = c.event.op1;
  const uint16_t op2 = c.event.op2.val;
  if (bits & 0x8) {
    EcanProcessStm(c.endpt, ECANEVT_CNG);
    if (c.cnx->bCngDetEnabled) NotifyReason(c, EPEVT_FAX, EPEVTREASON_EGRESS_CNG);
  }
  if (bits & 0x80) {
    EcanProcessStm(c.endpt, ECANEVT_PHREV);
    NotifyReason(c, EPEVT_MODEM, EPEVTREASON_EGRESS_prANS);
  }
  if (bits & 0x2) {
    EcanProcessStm(c.endpt, ECANEVT_MACHINE);
    NotifyReason(c, EPEVT_MODEM, EPEVTREASON_EGRESS_ANS);
  }
  if (bits & 0x40) {
    if (op2 != 0) {
      NotifyReason(c, EPEVT_TDD, op2 == 3 ? EPEVTREASON_EGRESS_BAUDOT_SHORT : -1);
    } else {
      StopAdaptation(c);
    }
  }
  if (bits & 0x2000) NotifyReason(c, EPEVT_CUSTOMTONE, EPEVTREASON_CUSTTONE_EGRESS);
  if (bits & 0x300) EcanProcessStm(c.endpt, ECANEVT_LOWEN);
  if (bits & 0x800) StopAdaptation(c);
}

void IngressDetect(const CnxEventContext& c) {
  const uint16_t bits = c.event.op1;
  const uint16_t op2 = c.event.op2.val;
  if (bits & 0x8) {
    EcanProcessStm(c.endpt, ECANEVT_CNG);
    if (c.cnx->dataMode == EPDATAMODE_T38_MUTE) c.cnx->lastFaxEvent = 1;
  }
  if (bits & 0x80) {
    EcanProcessStm(c.endpt, ECANEVT_PHREV);
    NotifyReason(c, EPEVT_MODEM, EPEVTREASON_prANS);
  }
  if (bits & 0x40) {
    if (op2 != 0) {
      EcanProcessStm(c.endpt, ECANEVT_V18);
      const int reason = op2 == 1   ? EPEVTREASON_BAUDOT
                         : op2 == 2 ? EPEVTREASON_V21tone
                         : op2 == 3 ? EPEVTREASON_BAUDOT_SHORT
                                    : -1;
      NotifyReason(c, EPEVT_TDD, reason);
    } else {
      StopAdaptation(c);
    }
  }
  if (bits & 0x2000) NotifyReason(c, EPEVT_CUSTOMTONE, EPEVTREASON_CUSTTONE_INGRESS);
  if (bits & 0x2) {
    EcanProcessStm(c.endpt, ECANEVT_MACHINE);
    NotifyReason(c, EPEVT_MODEM, EPEVTREASON_ANS);
  }
  if (bits & 0x300) {
    EcanProcessStm(c.endpt, ECANEVT_LOWEN);
    if (bits & 0x200) {
      NotifyPlain(c, EPEVT_VBD_STOP, 0);
    } else {
      NotifyPlain(c, EPEVT_LOWENERGY, -1);
    }
  }
  if (bits & 0x800) StopAdaptation(c);
}

// Returns false for an unknown mode (no post step).
bool NetModeChange(const CnxEventContext& c) {
  const uint16_t mode = c.event.op1;
  CNXSTATE* cnx = c.cnx;
  const bool wasVbd = c.previousMode == NETMODE_VOICEBANDDATA;
  if (mode > 5) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
             "EPT: ERROR - cnxVhdEventCallback: Unknown mode change event - op1 (0x%x); op2 "
             "(0x%x)",
             c.event.op1, c.event.op2.val);
    return false;
  }
  if (mode == NETMODE_PACKETVOICE) {
    if (cnx->vbData.bEnabled) NotifyReason(c, EPEVT_VBD_STOP, EPEVTREASON_PTSW);
    cnx->vbData.bEnabled = 0;
    if (wasVbd) {
      SetAdditionalGain(cnx, 0);
      SetSilenceSuppression(cnx, 1, vrgEndptRetrievePlcSettings(cnx->codecType), cnx->comfortNoise);
    }
  } else if (mode == NETMODE_VOICEBANDDATA) {
    if (!cnx->vbData.bEnabled) NotifyReason(c, EPEVT_VBD_START, EPEVTREASON_PTSW);
    cnx->vbData.bEnabled = 1;
    SetAdditionalGain(cnx, 1);
    SetSilenceSuppression(cnx, 0, vrgEndptRetrievePlcSettings(cnx->codecType), cnx->comfortNoise);
  } else {
    cnx->vbData.bEnabled = 0;
    if (wasVbd) SetAdditionalGain(cnx, 0);
  }
  return true;
}

const char* CnxEventName(uint16_t id) {
  switch (id) {
    case HAPI_CODEC_VOICERATE_EVT: return "HAPI_CODEC_VOICERATE_EVT";
    case HAPI_CODEC_EGRESS_VBD_TO_VOICE_DETECT_EVT: return "HAPI_CODEC_EGRESS_VBD_TO_VOICE_DETECT_EVT";
    case HAPI_CODEC_EGRESS_VOICE_TO_VBD_DETECT_EVT: return "HAPI_CODEC_EGRESS_VOICE_TO_VBD_DETECT_EVT";
    case HAPI_RTP_EGRESS_ERROR_EVT: return "HAPI_RTP_EGRESS_ERROR_EVT";
    case HAPI_RTP_EGRESS_SSRC_COLLISION_EVT: return "HAPI_RTP_EGRESS_SSRC_COLLISION_EVT";
    case HAPI_CDIS_DETECT_EVT: return "HAPI_CDIS_DETECT";
    case HAPI_CDIS_HDLCDETECT_EVT: return "HAPI_CDIS_HDLCDETECT";
    case HAPI_CDIS_EGRESS_DETECT_EVT: return "HAPI_CDIS_EGRESS_DETECT";
    case 0x11DB: return "HAPI_VFAX_NOCARRIER_EVT";
    case HAPI_FAXR_V21_PREAMBLE_EVT: return "HAPI_FAXR_V21_PREAMBLE_EVT";
    case HAPI_FAXR_CALLEND_EVT: return "HAPI_FAXR_CALLEND_EVT";
    case HAPI_FAXR_DEBUGRXTONE_EVT: return "HAPI_FAXR_DEBUGRXTONE_EVT";
    case 0x12D0: return "HAPI_FAXR_BM_DEBUG_EVT";
    case HAPI_NET_FAXSTATS_EVT: return "HAPI_NET_FAXSTATS_EVT";
    case HAPI_NET_HEARTBEAT_EVT: return "HAPINET_HEARTBEAT";
    case HAPI_NET_MODE_EVT: return "HAPINET_MODE";
    case HAPI_NET_VOICERATE_EVT: return "HAPINET_VOICERATE";
    case HAPI_NET_FAXRATE_EVT: return "HAPI_NET_FAXRATE_EVT";
    case HAPI_NET_EXCEPTION_EVT: return "HAPINET_EXCEPTION";
    default: return "Unknown evt";
  }
}

void HapiCnxEventPostProcess(const CnxEventContext& c) {
  const VRG_HAPI_EVT& event = c.event;
  CNXSTATE* cnx = c.cnx;
  if (GetCnxStateFromVHD(event.handle) != cnx) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
             "EPT: ENDPT - HapiCnxEventPostProcess: Unknown VHD handle 0x%x, evt: 0x%x, op1: "
             "0x%x, op2: 0x%x",
             event.handle, event.eventId, event.op1, event.op2.val);
    return;
  }
  if ((event.eventId == HAPI_CDIS_HDLCDETECT_EVT || (event.eventId == HAPI_CDIS_DETECT_EVT && (event.op1 & 0x8) &&
                                   cnx->bCngDetEnabled)) &&
      cnx->dataMode == EPDATAMODE_T38_MUTE) {
    vrgCnxSetMute(cnx->bMuteT38, 1);
  }
  if (event.eventId == HAPI_NET_MODE_EVT) {
    const int vad = event.op1 == NETMODE_PACKETVOICE && c.previousMode == NETMODE_VOICEBANDDATA
                        ? 1
                    : event.op1 == NETMODE_VOICEBANDDATA ? 0
                                                          : -1;
    if (vad >= 0 && cnx->silence) {
      const int plc = vrgEndptRetrievePlcSettings(cnx->codecType);
      if (cnx->VadMode != vad || cnx->CngMode != cnx->comfortNoise || cnx->PlcMode != plc) {
        if (hdspVhdSetVadCngPlc(cnx->vhdhdl, vad, cnx->comfortNoise, plc) == 0) {
          cnx->VadMode = vad;
          cnx->CngMode = cnx->comfortNoise;
          cnx->PlcMode = plc;
        }
      }
    }
    // vrgEndptPacket reads the mode on the daemon's thread to tell whether T.38 may pass.
    std::atomic_ref<uint16_t>(cnx->vhdMode).store(event.op1, std::memory_order_relaxed);
  }
  char extra[64] = "";
  if (event.eventId == HAPI_CODEC_VOICERATE_EVT || event.eventId == HAPI_NET_VOICERATE_EVT) {
    char algorithm[8];
    snprintf(algorithm, sizeof algorithm, "%u", event.op1 & 0xFFu);
    static const char* const vadtypes[] = {"NONE", "GENERIC", "BUILTIN"};
    const unsigned vad = event.op1 >> 8;
    snprintf(extra, sizeof extra, "(%s: %s %s)", event.op2.val ? "dec" : "enc", algorithm,
             vad < 3 ? vadtypes[vad] : "?");
  } else if (event.eventId == HAPI_RTP_EGRESS_ERROR_EVT && event.op1 != 0) {
    snprintf(extra, sizeof extra, "ERROR");
  } else if (event.eventId == HAPI_RTP_EGRESS_SSRC_COLLISION_EVT) {
    snprintf(extra, sizeof extra, "SSRC (%d)",
             static_cast<int>(static_cast<uint32_t>(event.op1) << 16 | event.op2.val));
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE,
           "EPT: '%s' (0x%x), cnx:%d, line:%d, hdl:0x%x, op1:0x%x, op2:0x%x %s ts: %u ",
           CnxEventName(event.eventId), event.eventId, cnx->cnxId, cnx->lineId, event.handle,
           event.op1, event.op2.val, extra, NowMs());
}

void EgressDigit(const CnxEventContext& c) {
  const unsigned digit = c.event.op2.val & 0xFF;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG,
           "EPT: ENDPT - cnxVhdEventCallback: endpt 0x%x egress dtmf digit %d eventId %d",
           c.endpt->endptNum, digit, c.event.eventId);
  if (digit > 15) {
    NotifyPlain(c, EPEVT_DTMFL, -1);
    return;
  }
  if (c.endpt->endptType == EPTYPE_PSTN && c.event.handle == c.endpt->pstnVhdHdl) return;
  const EPZPTEDIGIT2EPEVTMAP* row = DigitRowFromDigit(digit);
  if (row->epEvent == EPEVT_NULL) return;
  NotifyPlain(c, row->epEvent, c.event.eventId == HAPI_PTE_TONE_ON_EGRESS_EVT ? 2 : 3);
}

void ThresholdMonitor(const CnxEventContext& c) {
  const VRG_HAPI_EVT& event = c.event;
  if (event.reqId != VRG_HAPI_REQID_DATA || event.op1 < 8 || event.op2.ref == nullptr) return;
  uint16_t words[4];
  memcpy(words, event.op2.ref, sizeof words);
  const uint16_t zone = words[0], id = words[1], threshold = words[2], current = words[3];
  if (id == 8 || id == 9) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
             "EPT: CNX %d -- ID: %u, zone %u, current %d, threshold %d", c.cnx->cnxId, id, zone,
             static_cast<int16_t>(current), static_cast<int16_t>(threshold));
  } else {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
             "EPT: CNX %d -- ID: %u, zone %u, current %u, threshold %u", c.cnx->cnxId, id, zone,
             current, threshold);
  }
}

// Returns whether the event gets the post step.
bool DispatchCnxEvent(const CnxEventContext& c) {
  const VRG_HAPI_EVT& event = c.event;
  CNXSTATE* cnx = c.cnx;
  switch (event.eventId) {
    case HAPI_NET_VOICESTATS_EVT:
      // Voice statistics are printed by the host DSP control's statistics display, which this
      // library does not have yet.
      return false;
    case HAPI_FAXR_CALLEND_EVT:
      NotifyPlain(c, static_cast<int16_t>(event.op2.val) < 0 ? EPEVT_T38_STOP : EPEVT_T38_FAILURE,
                  -1);
      return true;
    case HAPI_FAXR_DEBUGRXTONE_EVT:
      if (event.op1 == 1) NotifyReason(c, EPEVT_FAX, EPEVTREASON_CNG);
      if (event.op1 == 0) NotifyReason(c, EPEVT_MODEM, EPEVTREASON_ANS);
      return true;
    case HAPI_FAXR_V21_PREAMBLE_EVT:
      if (!cnx->bNotifyFaxCall) {
        NotifyReason(c, EPEVT_FAX, EPEVTREASON_V21flag);
        if (IsT38DataMode(cnx->dataMode)) NotifyReason(c, EPEVT_VBD_STOP, EPEVTREASON_V21flag);
      }
      return true;
    case 0x11DB:
    case 0x12D0:
      return true;
    case HAPI_PTE_TONE_ON_EGRESS_EVT:
    case HAPI_PTE_TONE_OFF_EGRESS_EVT:
      EgressDigit(c);
      return false;
    case HAPI_CDIS_HDLCDETECT_EVT:
      HdlcDetect(c);
      return true;
    case HAPI_CDIS_EGRESS_DETECT_EVT:
      EgressDetect(c);
      return true;
    case HAPI_CDIS_DETECT_EVT:
      IngressDetect(c);
      return true;
    case HAPI_PTE_TONE_GEN_EVT: {
      if (!cnx->bSBDisconnect || cnx->activeSignal) {
        cnx->activeSignal = 0;
        SetRtpMode(cnx, cnx->mode);
        ProgramRtpRegisters(cnx);
      } else if (event.reqId == VRG_HAPI_REQID_DATA && event.op1 >= 2 &&
                 event.op2.ref != nullptr) {
        uint16_t first = 0;
        memcpy(&first, event.op2.ref, sizeof first);
        if (first == 0xFFFF) NotifyPlain(c, EPEVT_INGRESS_DTMF, -1);
      }
      return true;
    }
    case HAPI_CODEC_EGRESS_VBD_TO_VOICE_DETECT_EVT:
      NotifyReason(c, EPEVT_VBD_STOP, EPEVTREASON_PTSW);
      return true;
    case HAPI_CODEC_EGRESS_VOICE_TO_VBD_DETECT_EVT:
      NotifyReason(c, EPEVT_VBD_START, EPEVTREASON_PTSW);
      return true;
    case HAPI_RTP_THRESHOLD_MONITOR_EVT:
      ThresholdMonitor(c);
      return false;
    case HAPI_NET_MODE_EVT:
      return NetModeChange(c);
    case HAPI_CODEC_VOICERATE_EVT:
    case HAPI_RTP_EGRESS_ERROR_EVT:
    case HAPI_RTP_EGRESS_SSRC_COLLISION_EVT:
    case HAPI_NET_FAXSTATS_EVT:
    case HAPI_NET_HEARTBEAT_EVT:
    case HAPI_NET_VOICERATE_EVT:
    case HAPI_NET_FAXRATE_EVT:
    case HAPI_NET_JITTER_EVT:
    case HAPI_NET_EXCEPTION_EVT:
      return true;
    default:
      return false;
  }
}

}  // namespace

void HapiCnxEventProcess(const VRG_HAPI_EVT& event) {
  CNXSTATE* cnx = GetCnxStateFromVHD(event.handle);
  if (cnx == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
             "EPT: ENDPT - HapiCnxEventProcess: Unknown VHD handle 0x%x, evt: 0x%x, op1: 0x%x, "
             "op2: 0x%x",
             event.handle, event.eventId, event.op1, event.op2.val);
    return;
  }
  if (cnx->cnxId < 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG,
             "EPT: ENDPT - HapiCnxEventProcess: Cnx is inactive 0x%x, evt: 0x%x, op1: 0x%x, "
             "op2: 0x%x",
             event.handle, event.eventId, event.op1, event.op2.val);
    return;
  }
  VRG_ENDPT* endpt = GetEndptState(cnx->lineId);
  if (endpt == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
             "EPT: cnxVhdEventCallback: ERROR getting state for line: %d", cnx->lineId);
    return;
  }
  const CnxEventContext context{endpt, cnx, event, cnx->vhdMode};
  if (DispatchCnxEvent(context)) HapiCnxEventPostProcess(context);
}
