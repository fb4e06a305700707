// Signal requests on the dispatcher: tones, ringing, caller ID and message waiting, digits,
// polarity and open-loop signals, FXO seizure, gains and metering, for a whole endpoint
// (connection id -1) or for one of its connections.
#include <cstring>

#include "boardHal.h"
#include "casCtl.h"
#include "hdspCmd.h"
#include "hdspEcan.h"
#include "hdspSb.h"
#include "hdspVhd.h"
#include "swb/swb.h"
#include "voiceLog.h"
#include "vrgEndptClass.h"
#include "hdspCnx.h"
#include "hdspLine.h"
#include "hdspTone.h"
#include "rtpCnx.h"
#include "vrgEndptHelpers.h"
#include "vrgEndptLib.h"
#include "vrgEndptProcess.h"
#include "vrgEndptState.h"
#include "vrgProv.h"

namespace {

constexpr int RING_NO_REPORT_DURATION = 0xABBA;
constexpr int REV_IGNORE_HOOK_MS = 200;
constexpr uint16_t HAPI_NET_PTE_SETREG1_CMD = 0x309F;
constexpr uint16_t DTMF_PLAYOUT_REG = 12;
constexpr uint32_t DEFAULT_METERING_FREQUENCY = 16000;

// Six 16-bit words of the resource manager's metering pulse command.
struct PULSESIGNALPARMS {
  uint16_t pulseLineHdl;
  uint16_t pulseFrequency;
  uint16_t pulseAmplitude;
  uint16_t pulseDuration;
  uint16_t pulsePeriod;
  uint16_t pulseCount;
};
static_assert(sizeof(PULSESIGNALPARMS) == 12);

struct SignalRequest {
  VRG_ENDPT* endpt;
  EPSIG signal;
  uintptr_t value;
  int duration;
  int period;
  int repetition;
};

bool IsIn(EPSIG signal, EPSIG first, EPSIG last) { return signal >= first && signal <= last; }

bool IsToneSignal(EPSIG s) {
  switch (s) {
    case EPSIG_BUSY: case EPSIG_CONF: case EPSIG_DIAL: case EPSIG_MSGW: case EPSIG_OHWARN:
    case EPSIG_REORDER: case EPSIG_RINGBACK: case EPSIG_STUTTER: case EPSIG_INTRUSION:
    case EPSIG_WARNING: case EPSIG_CALLCARD: case EPSIG_NETBUSY: case EPSIG_NETBUSY1:
    case EPSIG_DISCONNECT: case EPSIG_PAYPHONE_REC: case EPSIG_RINGBACK_CUST1:
    case EPSIG_SPECIAL_DIAL:
      return true;
    default:
      return false;
  }
}

bool IsRingSignal(EPSIG s) {
  return s == EPSIG_RINGING || IsIn(s, EPSIG_RING0, EPSIG_RING7) || s == EPSIG_SPLASH;
}

bool IsCallerIdRing(EPSIG s) {
  return s == EPSIG_CALLID_RINGING || IsIn(s, EPSIG_CALLID_RING0, EPSIG_CALLID_RING7);
}

bool IsPulsedSignal(EPSIG s) {
  switch (s) {
    case EPSIG_INIT_RING: case EPSIG_LOOP_CLOSE: case EPSIG_LOOP_OPEN: case EPSIG_ENABLE_METERING:
    case EPSIG_NO_BATTERY: case EPSIG_NORMAL_POLARITY: case EPSIG_REDUCED_BATTERY:
    case EPSIG_REVERSE_POLARITY:
      return true;
    default:
      return false;
  }
}

// A tone signal can be played when it has a map row whose tone profile the country provides.
bool ToneProvisioned(const VRG_ENDPT* endpt, const EPZTONEMAP* row) {
  if (row == nullptr || row->event == EPSIG_NULL) return false;
  if (row->provItem < 0) return true;
  alignas(8) uint8_t value[PROV_VALUE_MAX_BYTES];
  return endptProvGetValue(endpt->lineId, static_cast<EPPROV>(row->provItem), value) ==
         EPSTATUS_SUCCESS;
}

EPSTATUS ToneSignal(const SignalRequest& r) {
  VRG_ENDPT* endpt = r.endpt;
  if (r.value == 0) {
    removeEgressTone(endpt, r.signal);
    endpt->activeBriefSignal = EPSIG_NULL;
    return EPSTATUS_SUCCESS;
  }
  const EPZTONEMAP* row = getEpzToneMapEntry(r.signal);
  if (!ToneProvisioned(endpt, row)) return EPSTATUS_SIGNAL_UNKNOWN;
  applyEgressTone(endpt, endptConfig.country, row, r.duration);
  if (r.signal == EPSIG_DIAL || r.signal == EPSIG_SPECIAL_DIAL) {
    EcanProcessStm(endpt, ECANEVT_DIALTONE_ON);
  }
  endpt->activeBriefSignal = r.signal == EPSIG_CONF ? EPSIG_CONF : EPSIG_NULL;
  return EPSTATUS_SUCCESS;
}

EPSTATUS RingSignal(const SignalRequest& r) {
  VRG_ENDPT* endpt = r.endpt;
  if (r.value == 0) {
    if (!endpt->offHook.load()) casCtlRingOff(endpt->casCtlHandle, 0);
    endpt->activeBriefSignal = EPSIG_NULL;
    return EPSTATUS_SUCCESS;
  }
  CAS_CTL_RING_PROFILE profile{};
  const EPSTATUS status = GetRingPattern(r.signal, endptConfig.country, endpt, &profile);
  if (status != EPSTATUS_SUCCESS) return status;
  const bool report = !(r.signal == EPSIG_RINGING && r.duration == RING_NO_REPORT_DURATION);
  casCtlRingProfileOn(endpt->casCtlHandle, &profile, report ? 1 : 0);
  endpt->activeBriefSignal = r.signal == EPSIG_SPLASH ? EPSIG_SPLASH : EPSIG_NULL;
  return EPSTATUS_SUCCESS;
}

EPSTATUS DigitSignal(const SignalRequest& r) {
  VRG_ENDPT* endpt = r.endpt;
  if (r.value == 0) {
    hdspDigitOff(endpt->lineVhdHdl);
    endpt->activeBriefSignal = EPSIG_NULL;
    return EPSTATUS_SUCCESS;
  }
  int level = 0, pulseTime = 0, skew = 0;
  Provision(endpt, EPPROV_DtmfDbLevel, &level);
  Provision(endpt, EPPROV_DtmfPulseTime, &pulseTime);
  Provision(endpt, EPPROV_DTMFSkew, &skew);
  hdspDigitOn(endpt->lineVhdHdl, endpt->lineId, PteDigitFromSignal(r.signal), level, skew,
              pulseTime, EGRESS_TONE);
  endpt->activeBriefSignal = r.signal;
  return EPSTATUS_SUCCESS;
}

EPSTATUS MeteringBurst(const SignalRequest& r) {
  VRG_ENDPT* endpt = r.endpt;
  uint32_t frequency = 0;
  if (Provision(endpt, EPPROV_MeteringFrequency, &frequency) != EPSTATUS_SUCCESS) {
    frequency = DEFAULT_METERING_FREQUENCY;
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
           "EPT: Pulsed signal: duration %d msec, period %d, repetition %d, frequency %d",
           r.duration, r.period, r.repetition, static_cast<int>(frequency));
  PULSESIGNALPARMS parms{endpt->endptNum, static_cast<uint16_t>(frequency), 1,
                         static_cast<uint16_t>(r.duration), static_cast<uint16_t>(r.period),
                         static_cast<uint16_t>(r.repetition)};
  const uint16_t rm = static_cast<uint16_t>(endpt->dspNum << 8 | HAPIRESMAN);
  hdspSendCmdData(rm, HAPI_RM_PULSE_SIGNAL_CMD, HAPI_REQID_EXT_CMD, sizeof parms, &parms);
  endpt->activeBriefSignal = EPSIG_NULL;
  return EPSTATUS_SUCCESS;
}

EPSTATUS IngressDtmfForEndpoint(const SignalRequest& r) {
  VRG_ENDPT* endpt = r.endpt;
  if (r.value >= 2 && r.value <= 15) {
    const EPZPTEDIGIT2EPEVTMAP* row = DigitRowFromEvent(static_cast<int>(r.value));
    if (row != nullptr) {
      int level = 0, pulseTime = 0, skew = 0;
      Provision(endpt, EPPROV_DtmfDbLevel, &level);
      Provision(endpt, EPPROV_DtmfPulseTime, &pulseTime);
      Provision(endpt, EPPROV_DTMFSkew, &skew);
      hdspDigitOn(endpt->lineVhdHdl, endpt->lineId, row->digit, level, skew, pulseTime,
                  INGRESS_TONE);
      VRG_ENDPT* fxo = GetPstnVrgEndptState();
      if (fxo != nullptr && fxo->routedFxsLineId == endpt->lineId &&
          fxo->isFxsFxoCnxEstablished) {
        Provision(fxo, EPPROV_DtmfDbLevel, &level);
        Provision(fxo, EPPROV_DtmfPulseTime, &pulseTime);
        Provision(fxo, EPPROV_DTMFSkew, &skew);
        hdspDigitOn(fxo->lineVhdHdl, fxo->lineId, row->digit, level, skew, pulseTime,
                    EGRESS_TONE);
      }
    }
  }
  endpt->activeBriefSignal = EPSIG_NULL;
  return EPSTATUS_SUCCESS;
}

// ---- the FXO line, seized and released on behalf of an FXS line ----

constexpr uintptr_t PSTN_KEEP_STATE = 0xBEBE;     // leave the FXO line's CAS state as it is
constexpr uintptr_t PSTN_CONFERENCE = 0xBEEF;     // 3-way conference with a connection
constexpr uintptr_t PSTN_END_CONFERENCE = 0xBAAD;  // end the conference, keep the lines joined

void SendToFxoControl(VRG_ENDPT* fxo, PSTN_CTL_EVENT event, int line, uintptr_t op,
                      const char* failure) {
  if (PstnCtlSendEvent(fxo->pstnVhdHdl, event, line, op) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "%s", failure);
  }
}

void ConfigureClidRx(VRG_ENDPT* fxo, int type) {
  if (ClassRxConfigure(fxo->pstnVhdHdl, type, endptConfig.country) != 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
             type == 2 ? "EPT: classRxConfigure TYPE2 FAIL vhd=0x%x!!!"
                       : "EPT: classRxConfigure TYPE1 FAIL vhd=0x%x!!!",
             fxo->pstnVhdHdl);
  }
}

VRG_ENDPT* FxoEndpoint() {
  VRG_ENDPT* fxo = GetPstnVrgEndptState();
  if (fxo != nullptr && !fxo->isLineUsed) fxo = nullptr;
  if (fxo == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
             "EPT: Cannot find PSTN CAS control handle. Signal not applied");
  }
  return fxo;
}

void SeizeFxoLine(VRG_ENDPT* endpt, const SignalRequest& r) {
  VRG_ENDPT* fxo = FxoEndpoint();
  if (fxo == nullptr) return;
  if (r.value != PSTN_KEEP_STATE) {
    casCtlSetStateFXS(fxo->casCtlHandle, CAS_CTL_FXS_SEIZED);
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: Seized PSTN line %d", fxo->lineId);
  }
  SendToFxoControl(fxo, PSTN_CTL_EVT_OFFHOOK, fxo->lineId, 0,
                   "EPT: pstnCtlSendEvent: PSTN_CTL_EVT_OFFHOOK FAIL");
  EnableFskClidRx(0, fxo->pstnVhdHdl);
  if (r.signal == EPSIG_ANSWER && !fxo->isFxsFxoCnxEstablished) {
    fxo->routedFxsLineId = endpt->lineId;
    if (ConnectSB(endpt->lineId, fxo->lineId) == EPSTATUS_SUCCESS) {
      fxo->isFxsFxoCnxEstablished = 1;
      SendToFxoControl(fxo, PSTN_CTL_EVT_ANSWER, fxo->lineId, 0,
                       "EPT: pstnCtlSendEvent: PSTN_CTL_EVT_ANSWER FAIL");
      ConfigureClidRx(fxo, 2);
      boardHalLedControl(fxo->endptNum, 1);
    }
  }
  if (r.value == PSTN_CONFERENCE) {
    CNXSTATE* cnx = GetEndptCnxState(endpt, r.duration);
    if (cnx != nullptr) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
               "EPT: Connecting PSTN 0x%x <-> VHD 0x%x: 3-way conference start", fxo->lineVhdHdl,
               cnx->vhdhdl);
      hdspRmSwitchBoardConnect(cnx->vhdhdl, HAPI_SWB_BOS, fxo->lineVhdHdl, HAPI_SWB_TOS,
                               HAPI_SWB_DUPLEX, 1);
      fxo->confCnxVhdHdl = cnx->vhdhdl;
    }
  }
  fxo->offHook.store(1);
}

void ReleaseFxoLine(const SignalRequest& r) {
  VRG_ENDPT* fxo = FxoEndpoint();
  if (fxo == nullptr) return;
  if (r.value == PSTN_CONFERENCE || r.value == PSTN_END_CONFERENCE) {
    if (fxo->confCnxVhdHdl != 0) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
               "EPT: Disconecting PSTN 0x%x <-> VHD 0x%x: 3-way conference end", fxo->lineVhdHdl,
               fxo->confCnxVhdHdl);
      hdspRmSwitchBoardConnect(fxo->confCnxVhdHdl, HAPI_SWB_BOS, fxo->lineVhdHdl, HAPI_SWB_TOS,
                               HAPI_SWB_DUPLEX, 0);
      fxo->confCnxVhdHdl = 0;
    }
  } else if (r.value != PSTN_KEEP_STATE) {
    casCtlSetStateFXS(fxo->casCtlHandle, CAS_CTL_FXS_RELEASED);
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: Released PSTN line %d", fxo->lineId);
    SendToFxoControl(fxo, PSTN_CTL_EVT_ONHOOK, fxo->lineId, 0,
                     "EPT: pstnCtlSendEvent: PSTN_CTL_EVT_ONHOOK FAIL");
    int protocol = 0;
    if (Provision(fxo, EPPROV_CIDSigProtocol, &protocol) == EPSTATUS_SUCCESS && protocol == 1) {
      EnableFskClidRx(1, fxo->pstnVhdHdl);
    }
  }
  if (r.value != PSTN_END_CONFERENCE && fxo->isFxsFxoCnxEstablished) {
    if (DisconnectSB(fxo->routedFxsLineId, fxo->lineId) != EPSTATUS_SUCCESS) {
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "EPT: ERROR disconnecting lines %d and %d",
               fxo->routedFxsLineId, fxo->lineId);
    }
    fxo->routedFxsLineId = -1;
    fxo->isFxsFxoCnxEstablished = 0;
    ConfigureClidRx(fxo, 1);
    boardHalLedControl(fxo->endptNum, 0);
  }
  fxo->offHook.store(0);
}

void PstnCallSetup(VRG_ENDPT* endpt, const SignalRequest& r) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: vrgEndptSignal (EPSIG_PSTNCALLSETUP) ");
  VRG_ENDPT* fxo = GetPstnVrgEndptState();
  if (fxo == nullptr || !fxo->isLineUsed) return;
  static const char kConnectOnly[] = "BYPASS_CMTD_DSGEN";
  const uintptr_t dial = r.signal == EPSIG_PSTNCALLSETUP_CONNECTONLY
                             ? reinterpret_cast<uintptr_t>(kConnectOnly)
                             : r.value;
  fxo->routedFxsLineId = endpt->lineId;
  SendToFxoControl(fxo, PSTN_CTL_EVT_CALL_SETUP, fxo->lineId, dial,
                   "EPT: pstnCtlSendEvent: PSTN_CTL_EVT_CALL_SETUP FAIL");
}

EPSTATUS EndpointSignal(const SignalRequest& r) {
  VRG_ENDPT* endpt = r.endpt;
  const EPSIG s = r.signal;
  if (IsToneSignal(s)) return ToneSignal(r);
  if (IsRingSignal(s) || (IsCallerIdRing(s) && endpt->endptType == EPTYPE_DECT)) {
    return RingSignal(r);
  }
  if (IsIn(s, EPSIG_CADENCE_RING_BASE, EPSIG_CADENCE_RING_MAX)) {
    if (r.value != 0) {
      CAS_CTL_RING_PROFILE profile{};
      const EPSTATUS status = GetRingPattern(s, endptConfig.country, endpt, &profile);
      if (status != EPSTATUS_SUCCESS) return status;
      casCtlRingProfileOn(endpt->casCtlHandle, &profile, 1);
    } else if (!endpt->offHook.load()) {
      casCtlRingOff(endpt->casCtlHandle, 0);
    }
    endpt->activeBriefSignal = EPSIG_NULL;
    return EPSTATUS_SUCCESS;
  }
  if (IsCallerIdRing(s) || IsIn(s, EPSIG_CALLWT, EPSIG_SAS_CAS4) || s == EPSIG_VMWI ||
      s == EPSIG_CALLID) {
    const EPSTATUS status = ClassSignal(endpt, s, r.value);
    if (status == EPSTATUS_SUCCESS) endpt->activeBriefSignal = s == EPSIG_CALLID ? EPSIG_CALLID : EPSIG_NULL;
    return status;
  }
  if (IsIn(s, EPSIG_DTMF0, EPSIG_DTMFD)) return DigitSignal(r);
  if (IsPulsedSignal(s)) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
             "EPT: vrgEndptSignal: Pulsed signal with pulse duration of %i msec,period = %i, "
             "repetition = %i",
             r.duration, r.period, r.repetition);
    vrgEndptNotify(endpt->endptArchive, -1, static_cast<EPEVT>(s), nullptr, 0, -1);
    endpt->activeBriefSignal = EPSIG_NULL;
    return EPSTATUS_SUCCESS;
  }
  if (IsIn(s, EPSIG_STEADY_FULL_BATTERY, EPSIG_STEADY_REVERSED_POLARITY)) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT:  vrgEndptSignal: Steady signal");
    endpt->activeBriefSignal = EPSIG_NULL;
    return EPSTATUS_SUCCESS;
  }
  switch (s) {
    case EPSIG_REV:
      casCtlIgnoreHookState(endpt->casCtlHandle, REV_IGNORE_HOOK_MS);
      boardHalSetSlicPhaseRev(endpt->endptNum, static_cast<int>(r.value));
      break;
    case EPSIG_OSI:
      casCtlSupervisoryDisconnect(endpt->casCtlHandle, static_cast<uint32_t>(r.value),
                                  CAS_OSI_DEFAULT);
      break;
    case EPSIG_PSTNCALLSETUP:
    case EPSIG_PSTNCALLSETUP_CONNECTONLY:
      PstnCallSetup(endpt, r);
      break;
    case EPSIG_OFFHOOK:
    case EPSIG_ANSWER:
      if (r.value != 0) SeizeFxoLine(endpt, r);
      break;
    case EPSIG_ONHOOK:
      if (r.value != 0) ReleaseFxoLine(r);
      break;
    case EPSIG_ANALOG_LOOPBACK:
      requestLoopback(endpt, r.value != 0);
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: COMPLETED SIGNAL %d", s);
      return EPSTATUS_SUCCESS;
    case EPSIG_UPDATE_DTMFPLAYOUT: {
      int playout = 0;
      if (Provision(endpt, EPPROV_DTMFPlayout, &playout) == EPSTATUS_SUCCESS &&
          endpt->cnx[0] != nullptr) {
        const uint16_t value = static_cast<uint16_t>((playout & 0x1FFF) * 8);
        if (hdspSendCmd(endpt->cnx[0]->vhdhdl, HAPI_NET_PTE_SETREG1_CMD, HAPI_REQID_STD_CMD,
                        DTMF_PLAYOUT_REG, value) != 0) {
          voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
                   "EPT: ERROR setting PTE registers for vhd 0x%x", endpt->cnx[0]->vhdhdl);
        }
      }
      break;
    }
    case EPSIG_TXGAIN:
      endpt->txGain = static_cast<int>(r.value);
      hdspVhdSetIngressGain(endpt->lineVhdHdl, endpt->txGain);
      break;
    case EPSIG_RXGAIN:
      endpt->rxGain = static_cast<int>(r.value);
      hdspVhdSetEgressGain(endpt->lineVhdHdl, endpt->rxGain);
      break;
    case EPSIG_BOOSTED_LOOP_CURRENT:
      boardHalSetSlicBoostedLoopCurrent(endpt->endptNum, static_cast<int>(r.value));
      break;
    case EPSIG_ADMIN_STATUS:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
               "EPT: ENDPT %d: EPSIG_ADMIN_STATUS signal request, val=%d ", endpt->lineId,
               static_cast<int>(r.value));
      break;
    case EPSIG_RING_WAVEFORM: {
      const EPSTATUS status = SetRingParams(endpt);
      if (status != EPSTATUS_SUCCESS) return status;
      break;
    }
    case EPSIG_INGRESS_DTMF:
      return IngressDtmfForEndpoint(r);
    case EPSIG_METERING_BURST:
      return MeteringBurst(r);
    case EPSIG_DAA_DISABLE:
    case EPSIG_DAA_ENABLE:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
               "EPT: EPSIG_DAA_ENABLE/DISABLE are deprecated");
      break;
    default:
      return EPSTATUS_SIGNAL_UNKNOWN;
  }
  endpt->activeBriefSignal = EPSIG_NULL;
  return EPSTATUS_SUCCESS;
}

EPSTATUS ConnectionSignal(VRG_ENDPT* endpt, int cnxId, const SignalRequest& r) {
  const int index = cnxId < 0 ? -1 : GetEndptCnxSlot(endpt, cnxId);
  if (index < 0) return EPSTATUS_CNX_UNKNOWN;
  CNXSTATE* cnx = endpt->cnx[index];
  switch (r.signal) {
    case EPSIG_SB_DISCONNECT:
      cnx->bSBDisconnect = r.value != 0;
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
               r.value != 0 ? "EPT: Disconnect switchboard for ept %d cnx %d"
                            : "EPT: Revert switchboard connection for ept %d cnx %d",
               endpt->lineId, cnxId);
      UpdateSBMasks(cnx, cnx->mode);
      return EPSTATUS_SUCCESS;
    case EPSIG_LINE_MODE_CONTROL:
      cnx->cnxModeControlsLineVhd = r.value != 0;
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO,
               r.value != 0 ? "EPT: Subsequent connection mode will apply to a line VHD"
                            : "EPT: Subsequent connection mode will NOT apply to a line VHD");
      return EPSTATUS_SUCCESS;
    case EPSIG_INGRESS_DTMF:
      if (cnx->mode == EPCNXMODE_RCVO || cnx->mode == EPCNXMODE_INACT) return EPSTATUS_CNX_UNKNOWN;
      if (r.value < 16) {
        int level = 0, pulseTime = 0, skew = 0;
        Provision(endpt, EPPROV_DtmfDbLevel, &level);
        Provision(endpt, EPPROV_DtmfPulseTime, &pulseTime);
        Provision(endpt, EPPROV_DTMFSkew, &skew);
        hdspDigitOn(endpt->lineVhdHdl, endpt->lineId, static_cast<int>(r.value), level, skew,
                    pulseTime, INGRESS_TONE);
      }
      return EPSTATUS_SUCCESS;
    default:
      break;
  }
  const EPZTONEMAP* row = getEpzToneMapEntry(r.signal);
  if (row == nullptr || row->event == EPSIG_NULL) return EPSTATUS_SIGNAL_UNKNOWN;
  cnx->activeSignal = static_cast<int>(r.value);
  const uintptr_t v = r.value;
  const bool egressOn = v == 1 || v == 5, egressOff = v == 0 || v == 4;
  const bool ingressOn = v == 3 || v == 5 || (v > 5 && (v & 1));
  const bool ingressOff = v == 2 || v == 4 || (v > 5 && !(v & 1));
  if (egressOff) removeEgressTone(endpt, r.signal);
  if (egressOn) applyEgressTone(endpt, endptConfig.country, row, r.duration);
  if (ingressOff) removeIngressTone(endpt, index);
  if (ingressOn) applyIngressTone(endpt, index, endptConfig.country, row);
  return EPSTATUS_SUCCESS;
}

}  // namespace

EPSTATUS ProcessVrgEndptSignal(ENDPT_STATE* endptState, int cnxId, EPSIG signal, uintptr_t value,
                               int duration, int period, int repetition) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE,
           "EPT: SIGNAL: ept:%d cnx:%d s:%d v:%u d:%d p:%d r:%d ",
           endptState != nullptr ? endptState->lineId : -1, cnxId, signal,
           static_cast<unsigned>(value), duration, period, repetition);
  VRG_ENDPT* endpt = endptState != nullptr ? GetEndptState(endptState->lineId) : nullptr;
  if (endpt == nullptr) return EPSTATUS_ENDPT_UNKNOWN;
  const SignalRequest request{endpt, signal, value, duration, period, repetition};
  if (cnxId != -1) return ConnectionSignal(endpt, cnxId, request);
  const EPSTATUS status = EndpointSignal(request);
  if (status == EPSTATUS_SUCCESS) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "EPT: COMPLETED SIGNAL %d", signal);
  }
  return status;
}
