// Echo canceller control.
#include "hdspEcan.h"

#include "hdspCmd.h"
#include "hdspCodes.h"
#include "voiceLog.h"
#include "vrgProv.h"

using namespace hdsp;

namespace {

constexpr uint16_t kStd = HAPI_REQID_STD_CMD;

template <typename... A>
void info(const char* format, A... args) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, format, args...);
}

void setState(VRG_ENDPT* e, EPEECANSTATE state) {
  e->ecanState.currState = state;
  EcanStateSet(e, state);
}

// Connection events that the canceller handles alike whether it is on or has its NLP off.
bool connectionEventWhileOn(VRG_ENDPT* e, ECANEVT event) {
  EPZECANSTATE& s = e->ecanState;
  switch (event) {
    case ECANEVT_CRCX_ON:
      e->cnxCnt.fetch_add(1, std::memory_order_relaxed);
      s.origState = ECAN_ON;
      return true;
    case ECANEVT_CRCX_OFF:
      e->cnxCnt.fetch_add(1, std::memory_order_relaxed);
      s.origState = ECAN_OFF;
      setState(e, ECAN_OFF);
      return true;
    case ECANEVT_MDCX_ON:
      s.origState = ECAN_ON;
      return true;
    case ECANEVT_MDCX_OFF:
      s.origState = ECAN_OFF;
      setState(e, ECAN_OFF);
      return true;
    case ECANEVT_DLCX: {
      // The count never goes below zero: a delete the machine did not see created would
      // otherwise keep the canceller from coming on for the next call.
      const int before = e->cnxCnt.load(std::memory_order_relaxed);
      if (before > 0) e->cnxCnt.store(before - 1, std::memory_order_relaxed);
      if (before <= 1) setState(e, ECAN_OFF);
      return true;
    }
    default:
      return false;
  }
}

void stateOff(VRG_ENDPT* e, ECANEVT event) {
  EPZECANSTATE& s = e->ecanState;
  const bool offHook = e->offHook.load(std::memory_order_relaxed) != 0;
  switch (event) {
    case ECANEVT_CRCX_ON:
      if (e->cnxCnt.fetch_add(1, std::memory_order_relaxed) + 1 == 1) {
        s.origState = ECAN_ON;
        if (offHook) setState(e, ECAN_ON);
      }
      break;
    case ECANEVT_CRCX_OFF:
      e->cnxCnt.fetch_add(1, std::memory_order_relaxed);
      s.origState = ECAN_OFF;
      break;
    case ECANEVT_MDCX_ON:
      if (s.origState == ECAN_OFF && offHook) setState(e, ECAN_ON);
      s.origState = ECAN_ON;
      break;
    case ECANEVT_MDCX_OFF:
      s.origState = ECAN_OFF;
      break;
    case ECANEVT_DLCX: {
      // As in the other states, the count stops at zero.
      const int before = e->cnxCnt.load(std::memory_order_relaxed);
      if (before > 0) e->cnxCnt.store(before - 1, std::memory_order_relaxed);
      break;
    }
    case ECANEVT_HDLC:
      setState(e, ECAN_NLP_OFF);
      break;
    case ECANEVT_LOWEN:
      if (s.origState != ECAN_OFF) setState(e, s.origState);
      break;
    case ECANEVT_OFFHOOK:
      if (e->cnxCnt.load(std::memory_order_relaxed) == 0) {
        setState(e, ECAN_ON);
      } else if (s.origState != ECAN_OFF) {
        setState(e, s.origState);
      }
      break;
    default:
      break;
  }
}

void stateOn(VRG_ENDPT* e, ECANEVT event) {
  if (connectionEventWhileOn(e, event)) return;
  switch (event) {
    case ECANEVT_CNG:
    case ECANEVT_HDLC:
    case ECANEVT_MACHINE:
    case ECANEVT_PHREV:
    case ECANEVT_V18:
    case ECANEVT_BELL103:
      setState(e, ECAN_NLP_OFF);
      break;
    case ECANEVT_ONHOOK:
      setState(e, ECAN_OFF);
      break;
    case ECANEVT_DIALTONE_ON:
      e->ecanState.origState = ECAN_ON;
      setState(e, ECAN_NLP_OFF);
      break;
    default:
      break;
  }
}

void stateNlpOff(VRG_ENDPT* e, ECANEVT event) {
  if (connectionEventWhileOn(e, event)) return;
  switch (event) {
    case ECANEVT_PHREV:
    case ECANEVT_ONHOOK:
      setState(e, ECAN_OFF);
      break;
    case ECANEVT_LOWEN:
    case ECANEVT_DIALTONE_OFF:
      if (e->ecanState.origState != ECAN_NLP_OFF) setState(e, e->ecanState.origState);
      break;
    default:
      break;
  }
}

}  // namespace

void EcanProcessStm(VRG_ENDPT* endpt, ECANEVT event) {
  if (endpt == nullptr) return;
  if (endpt->testMode == TESTMODE_TR57 || endpt->testMode == TESTMODE_ANALOGLOOPBACK ||
      endpt->testMode == TESTMODE_ECANDEBUGCMD) {
    return;
  }
  switch (endpt->ecanState.currState) {
    case ECAN_OFF:
      stateOff(endpt, event);
      break;
    case ECAN_ON:
      stateOn(endpt, event);
      break;
    case ECAN_NLP_OFF:
      stateNlpOff(endpt, event);
      break;
    default:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: ENDPT %d: Unknown Ecan state change event %d !!!",
               endpt->endptNum, endpt->ecanState.currState);
      break;
  }
}

void EcanStateSet(VRG_ENDPT* endpt, EPEECANSTATE state) {
  const uint16_t vhd = endpt->lineVhdHdl;
  switch (state) {
    case ECAN_ON: {
      hdspSendCmdAsync(vhd, HAPI_HEC_ENABLE_CMD, kStd, 1, 0);
      hdspSendCmdAsync(vhd, HAPI_HEC_SETREG1_CMD, kStd, HEC_REG_OPTIONS, HAPI_HEC_OPTIONS_OFF_HOOK);
      int cngLevel = 0;
      if (endptProvGetValue(endpt->lineId, EPPROV_CngLevel, &cngLevel) == EPSTATUS_SUCCESS && cngLevel != 0) {
        hdspSendCmdAsync(vhd, HAPI_HEC_SETREG1_CMD, kStd, HEC_REG_OPTIONS, HAPI_HEC_CNG_CAP_ON);
      }
      info("EPT: ECAN Enabled for endpt %d", endpt->endptNum);
      break;
    }
    case ECAN_OFF:
      hdspSendCmdAsync(vhd, HAPI_HEC_ENABLE_CMD, kStd, 0, 0);
      info("EPT: ECAN disabled for endpt %d", endpt->endptNum);
      break;
    case ECAN_NLP_OFF:
      hdspSendCmdAsync(vhd, HAPI_HEC_ENABLE_CMD, kStd, 1, 0);
      hdspSendCmdAsync(vhd, HAPI_HEC_SETREG1_CMD, kStd, HEC_REG_OPTIONS, HAPI_HEC_OPTIONS_VBD);
      info("EPT: ECAN NLP disabled for endpt %d", endpt->endptNum);
      break;
    default:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING,
               "EPT: ENDPT %d: Unknown Ecan state set requested, ecan state %d !!!", endpt->endptNum, state);
      break;
  }
}

// ---- the canceller's own events, logged for the engineer ----

namespace {

// Events of the line echo canceller; the acoustic canceller reports the same numbers under its
// own service id.
enum : uint16_t {
  HAPI_HEC_STATE_EVT = 0x44C0,
  HAPI_HEC_CONVERGED_EVT = 0x44C1,
  HAPI_HEC_RESET_EVT = 0x44C2,
  HAPI_HEC_PUSH_EVT = 0x44C3,
  HAPI_HEC_NEAREND_EVT = 0x44C4,
  HAPI_HEC_AGC_EVT = 0x44C6,
  HAPI_HEC_NLP_EVT = 0x44C7,
  HAPI_HEC_HIGHLEVEL_EVT = 0x44C8,
  HAPI_HEC_ERL_EVT = 0x44CA,
  HAPI_HEC_ERLE_EVT = 0x44CB,
  HAPI_HEC_ACOM_EVT = 0x44CC,
  HAPI_HEC_MOVEMENT_EVT = 0x44CE,
  HAPI_HEC_TUNEACOM_EVT = 0x44D2,
  HAPI_HEC_TUNEERL_EVT = 0x44D3,
  HAPI_HEC_TUNEERLE_EVT = 0x44D4,
  HAPI_HEC_GETSTATE_EVT = 0x444F,
};
constexpr uint16_t HAPI_AEC_SRV = 67;

int dB(int16_t value) { return (value + 128) / 256; }

void logState(uint16_t op1, uint16_t op2) {
  switch (op1) {
    case 0: info("EPT: ECAN mode quiescent"); break;
    case 2: info("EPT: ECAN mode receive"); break;
    case 4: info("EPT: ECAN mode send"); break;
    case 6: info("EPT: ECAN mode doubletalk"); break;
    case 252: info("EPT: ECAN autotune aborted, too noisy (Lsin=%d)", dB(static_cast<int16_t>(op2))); break;
    case 253: info("EPT: ECAN autotune silence measure (Lsin=%d)", dB(static_cast<int16_t>(op2))); break;
    case 254:
      if (op2 == 0) {
        info("EPT: ECAN autotune complete");
      } else {
        info("EPT: ECAN autotune mode (0x%x)", op2);
      }
      break;
    case 255: info("EPT: ECAN autotune complete"); break;
    default: info("EPT: ECAN STATE_EVT unknown"); break;
  }
}

void logHighLevel(uint16_t op1, uint16_t op2) {
  if (op1 >= 32512) {
    info("EPT: obstruction change, zone=%d reflector=%d", op1 & 0xFF, op2);
  } else if (op1 != 0 && op2 != 0) {
    info("EPT: High level clipped");
  } else if (op1 != 0) {
    info("EPT: Clipped (hc=%d)", op1);
  } else if (op2 != 0) {
    info("EPT: High level (hc=%d)", op2);
  } else {
    info("EPT: High level off");
  }
}

void logStateRecord(const HSZEVT* e) {
  if (e->hsxop2.ref == nullptr || e->hsxop1 < 23 * 2) return;
  const auto* w = static_cast<const int16_t*>(e->hsxop2.ref);
  const uint16_t s = static_cast<uint16_t>(w[0]);
  info("EPT: ECAN state converged=%d,send=%d,receive=%d,stationary=%d,high mips=%d,zone=%d)", s & 0x1,
       (s & 0x4) ? 1 : 0, (s & 0x2) ? 1 : 0, (s & 0x8) ? 1 : 0, (s & 0x80) ? 1 : 0, (s >> 4) & 0x7);
  info("EPT:   state 0x%x, Lrin %d, Lrout %d, Lsin %d, Lsout %d, LsoutMin %d", s, dB(w[1]), dB(w[2]), dB(w[3]),
       dB(w[4]), dB(w[6]));
  info("EPT:   ERL %d, Erlc %d, ERLE %d, Vol (auto) %d, Gain (auto) %d", dB(w[13]), dB(w[14]), dB(w[15]),
       dB(w[16]), dB(w[17]));
  info("EPT:   NLP dec 0x%x, Voice dec 0x%x, Adapt cnt %d, Peak refl %d, Peak refl val %d", w[18] & 0xFFFF,
       w[19] & 0xFFFF, w[20], w[21], w[22]);
}

}  // namespace

void HapiProcessEcanEvt(const HSZEVT* event) {
  const unsigned srv = event->hsxevt >> 8;
  if (srv != HAPI_HEC_SRV && srv != HAPI_AEC_SRV) return;
  const uint16_t op1 = event->hsxop1;
  const uint16_t op2 = event->hsxop2.val;
  const uint16_t code = static_cast<uint16_t>((HAPI_HEC_SRV << 8) | (event->hsxevt & 0xFF));
  if (event->hsxevt == 0x4344) {  // the acoustic canceller's state report in its extended form
    logState(op1, op2);
    return;
  }
  switch (code) {
    case HAPI_HEC_STATE_EVT: logState(op1, op2); break;
    case HAPI_HEC_CONVERGED_EVT: info("EPT: ECAN %sVERGED (%u)", op1 ? "CON" : "DI", op1); break;
    case HAPI_HEC_RESET_EVT: info("EPT: ECAN (%s) RESET=%u", op2 == 2796 ? "AEC" : "HEC", op1); break;
    case HAPI_HEC_PUSH_EVT: info("EPT: ECAN PUSH=%u %d", op1, dB(static_cast<int16_t>(op2))); break;
    case HAPI_HEC_NEAREND_EVT:
      if (op1 == 0 && op2 == 0) {
        info("EPT: ECAN near end OFF");
      } else {
        info("EPT: ECAN near end ON (unwht=%d wht=%d high=%d sb=%d sbindex=%d)", op1 >> 8, op1 & 0xFF, op2 >> 8,
             (op2 >> 4) & 0xF, op2 & 0xF);
      }
      break;
    case HAPI_HEC_AGC_EVT: info("EPT: ECAN AGC=[%d,%d]", dB(static_cast<int16_t>(op1)), dB(static_cast<int16_t>(op2))); break;
    case HAPI_HEC_NLP_EVT: info("EPT: ECAN NLP %s (mask=0x%x)", op1 ? "on" : "off", op2); break;
    case HAPI_HEC_HIGHLEVEL_EVT: logHighLevel(op1, op2); break;
    case HAPI_HEC_ERL_EVT:
      if (op1 <= 8000) {
        info("EPT: ECAN ERL=%d dB  tone=%u Hz", dB(static_cast<int16_t>(op2)), op1);
      } else {
        info("EPT: ECAN ERL=%d dB", dB(static_cast<int16_t>(op2)));
      }
      break;
    case HAPI_HEC_ERLE_EVT:
      if (op1 <= 8000) {
        info("EPT: ECAN ERLE=%d dB tone=%u Hz", dB(static_cast<int16_t>(op2)), op1);
      } else {
        info("EPT: ECAN ERLE=%d dB", dB(static_cast<int16_t>(op2)));
      }
      break;
    case HAPI_HEC_TUNEACOM_EVT:
      if (op2 == 0) {
        info("EPT: ECAN Acom (-12 dBm noise)=%d", dB(static_cast<int16_t>(op1)));
      } else if (op2 == 99) {
        info("EPT: ECAN tone Acom=%d", dB(static_cast<int16_t>(op1)));
      } else {
        info("EPT: ECAN Acom=%d (noise level = %d dBm)", dB(static_cast<int16_t>(op1)), op2 - 12);
      }
      break;
    case HAPI_HEC_ACOM_EVT: {
      const int erl = static_cast<int8_t>(op2 >> 8);
      const int erle = static_cast<int8_t>(op2 & 0xFF);
      if (op1 <= 8000) {
        info("EPT: ECAN ERL=%d dB ERLE=%d dB Acom=%d dB tone=%u Hz", erl, erle, erl + erle, op1);
      } else {
        info("EPT: ECAN ERL=%d dB ERLE=%d dB Acom=%d dB", erl, erle, erl + erle);
      }
      break;
    }
    case HAPI_HEC_TUNEERL_EVT: info("EPT: ECAN minmaxERLdB=[%d,%d]", dB(static_cast<int16_t>(op1)), dB(static_cast<int16_t>(op2))); break;
    case HAPI_HEC_TUNEERLE_EVT: info("EPT: ECAN minmaxERLEdB=[%d,%d]", dB(static_cast<int16_t>(op1)), dB(static_cast<int16_t>(op2))); break;
    case HAPI_HEC_GETSTATE_EVT: logStateRecord(event); break;
    case HAPI_HEC_MOVEMENT_EVT:
    default:
      break;  // not logged
  }
}
