// DTMF caller-ID reception on an FXO line: digits between a start (or information or
// redirecting) code and the end code, before the first ring or in the first ring silence, are
// collected under pause, session and ring-after-caller-ID timers, parsed into numbers and an
// absence reason, and reported once per session.
#include <cstdlib>
#include <cstring>

#include "pstnCtlInternal.h"
#include "voiceLog.h"

namespace {

constexpr uint8_t kCodeEnd = 127;
constexpr size_t kNumberDigits = 20;

void log(VOICE_LOGLEVEL level, const char* text) { voiceLog(VOICE_MODULE_EPT, level, "%s", text); }

DTMFCLIDRX_TIMER& timer(PSTN_CTL_DTMFCLIDRX_STATE* rx, DTMFCLIDRX_TIMER_TYPE type) {
  return rx->stateInfo.timer[type];
}

void startTimer(PSTN_CTL_DTMFCLIDRX_STATE* rx, DTMFCLIDRX_TIMER_TYPE type) {
  timer(rx, type).counter = 0;
  timer(rx, type).running = 1;
  rx->internalEvents &= ~timer(rx, type).timeoutEvent;
}

void stopTimer(PSTN_CTL_DTMFCLIDRX_STATE* rx, DTMFCLIDRX_TIMER_TYPE type) {
  timer(rx, type).running = 0;
  timer(rx, type).counter = 0;
  rx->internalEvents &= ~timer(rx, type).timeoutEvent;
}

void stopCollectTimers(PSTN_CTL_DTMFCLIDRX_STATE* rx) {
  stopTimer(rx, DTMFCLIDRX_DTMF_PAUSE_TIMER);
  stopTimer(rx, DTMFCLIDRX_SESSION_TIMER);
}

void advanceTimers(PSTN_CTL_DTMFCLIDRX_STATE* rx) {
  for (DTMFCLIDRX_TIMER& t : rx->stateInfo.timer) {
    if (!t.running) continue;
    t.counter += PSTN_CTL_PERIOD_MS;
    if (t.counter >= t.timeout) rx->internalEvents |= t.timeoutEvent;
  }
}

void errorReset(PSTN_CTL_DTMFCLIDRX_STATE* rx, const char* text) {
  rx->internalEvents |= DTMFCLIDRX_EVT_ERROR_RESET;
  log(VOICE_LOGLEVEL_ERROR, text);
}

// Collection ends without a message (a digit after the session time-out, or a time-out).
void endSession(PSTN_CTL_DTMFCLIDRX_STATE* rx, const char* errorText) {
  DTMFCLIDRX_STATE_INFO& s = rx->stateInfo;
  if (s.ringState == DTMFCLIDRX_NORING) {
    rx->internalEvents |= DTMFCLIDRX_EVT_RESET;
  } else if (s.ringState == DTMFCLIDRX_FIRSTRINGOFF) {
    s.serviceState = DTMFCLIDRX_WAITINGFOREND;
    s.clidType = DTMFCLIDRX_INVALID_CLID;
    stopCollectTimers(rx);
  } else {
    errorReset(rx, errorText);
  }
}

void abandonCollecting(PSTN_CTL_DTMFCLIDRX_STATE* rx) {
  stopCollectTimers(rx);
  rx->stateInfo.clidType = DTMFCLIDRX_INVALID_CLID;
  rx->stateInfo.serviceState = DTMFCLIDRX_WAITINGFOREND;
  rx->internalEvents |= DTMFCLIDRX_EVT_INVALID;
}

char digitText(uint8_t code) {
  if (code <= 9) return static_cast<char>('0' + code);
  if (code == 10) return '*';
  if (code == 11) return '#';
  if (code >= 12 && code <= 15) return static_cast<char>('A' + code - 12);
  log(VOICE_LOGLEVEL_ERROR, "EPT: Conversion Error!");
  return '?';
}

void digitsToText(const uint8_t* codes, int count, char* out, size_t max) {
  size_t n = 0;
  for (int i = 0; i < count && n < max; ++i) out[n++] = digitText(codes[i]);
  out[n] = '\0';
}

DTMFCLIDRX_INFO matchInfoField(const VRG_CLASS_DTMF& p, const uint8_t* digits, int count) {
  uint8_t field[16] = {};
  int n = 0;
  field[n++] = p.informationCode;
  for (int i = 0; i < count && n < 13; ++i) field[n++] = digits[i];
  field[n++] = p.endCode;
  field[n++] = kCodeEnd;
  if (std::memcmp(field, p.privateCode, sizeof field) == 0) return DTMFCLIDRX_INFO_PRIVATE;
  if (std::memcmp(field, p.unavailCode, sizeof field) == 0) return DTMFCLIDRX_INFO_UNAVAILABLE;
  if (std::memcmp(field, p.errorCode, sizeof field) == 0) return DTMFCLIDRX_INFO_ERROR;
  return DTMFCLIDRX_INFO_NONE;
}

void parse(PSTN_CTL_DTMFCLIDRX_STATE* rx, bool endCodeReceived) {
  const VRG_CLASS_DTMF& p = *rx->dtmfClidParms;
  DTMFCLIDRX_CLID_INFO& info = rx->clidInfo;
  DTMFCLIDRX_PARSED_DATA& out = info.parsedData;
  std::memset(&out, 0, sizeof out);
  const uint8_t* buf = info.collectBuffer;
  const int len = info.collectBufLen;
  auto opens = [&p](uint8_t c) { return c == p.startCode || c == p.informationCode || c == p.redirectingCode; };
  const bool netherlands = rx->country == VRG_COUNTRY_NETHERLANDS;

  bool error = len == 0 || !opens(buf[0]) || (netherlands && buf[0] != p.startCode);
  int at = 0;
  int fields = 0;
  while (!error && at < len && buf[at] != p.endCode) {
    const uint8_t code = buf[at++];
    const int first = at;
    while (at < len && !opens(buf[at]) && buf[at] != p.endCode) ++at;
    const int count = at - first;
    ++fields;
    if (netherlands) {
      if (fields > 1) {
        error = true;
        break;
      }
      out.infoRecieved = matchInfoField(p, buf + first, count);
      if (out.infoRecieved == DTMFCLIDRX_INFO_NONE) {
        digitsToText(buf + first, count, out.callingNumber, kNumberDigits);
      }
    } else if (code == p.startCode) {
      if (fields > 1) {
        error = true;
        break;
      }
      digitsToText(buf + first, count, out.callingNumber, kNumberDigits);
    } else if (code == p.redirectingCode) {
      digitsToText(buf + first, count, out.redirectingNumber, kNumberDigits);
    } else {
      out.infoRecieved = matchInfoField(p, buf + first, count);
    }
  }
  if (error) rx->internalEvents |= DTMFCLIDRX_EVT_INVALID | DTMFCLIDRX_EVT_PARSE_ERROR;
  digitsToText(buf, len, out.clidString, DTMFCLIDRX_MAX_DIGITS - 1);
  rx->internalEvents |= endCodeReceived ? DTMFCLIDRX_EVT_PARSED_WITH_END : DTMFCLIDRX_EVT_PARSED_NO_END;
}

void onDigit(PSTN_CTL_DTMFCLIDRX_STATE* rx, uint8_t digit) {
  DTMFCLIDRX_STATE_INFO& s = rx->stateInfo;
  const VRG_CLASS_DTMF& p = *rx->dtmfClidParms;
  DTMFCLIDRX_CLID_INFO& info = rx->clidInfo;
  if (s.serviceState == DTMFCLIDRX_IDLE) {
    const bool opener = digit == p.startCode || digit == p.informationCode || digit == p.redirectingCode;
    const bool ringAllows = s.ringState == DTMFCLIDRX_NORING || s.ringState == DTMFCLIDRX_FIRSTRINGOFF;
    if (!s.offHook && opener && ringAllows) {
      s.clidType = s.ringState == DTMFCLIDRX_NORING ? DTMFCLIDRX_PRERING_CLID : DTMFCLIDRX_FIRSTRING_CLID;
      s.serviceState = DTMFCLIDRX_COLLECTING;
      info.collectBufLen = 0;
      info.collectBuffer[info.collectBufLen++] = digit;
      startTimer(rx, DTMFCLIDRX_DTMF_PAUSE_TIMER);
      startTimer(rx, DTMFCLIDRX_SESSION_TIMER);
    } else {
      s.clidType = DTMFCLIDRX_INVALID_CLID;
    }
    return;
  }
  if (s.serviceState != DTMFCLIDRX_COLLECTING) return;

  rx->internalEvents &= ~DTMFCLIDRX_EVT_PAUSE_TIMEOUT;
  if ((rx->internalEvents & DTMFCLIDRX_EVT_SESSION_TIMEOUT) != 0 && digit != p.endCode) {
    endSession(rx, "EPT: processDTMFClidRxStm: ERROR: Bad ring state for FSM(EVT_DTMF_DIGIT/COLLECTING)");
    return;
  }
  info.collectBuffer[info.collectBufLen++] = digit;
  if (digit == p.endCode) {
    stopCollectTimers(rx);
    if (s.ringState == DTMFCLIDRX_NORING) startTimer(rx, DTMFCLIDRX_RINGAFTERCLID_TIMER);
    rx->internalEvents |= DTMFCLIDRX_EVT_END_CODE;
    s.serviceState = DTMFCLIDRX_WAITINGFOREND;
    parse(rx, true);
  } else if (info.collectBufLen < DTMFCLIDRX_MAX_DIGITS) {
    startTimer(rx, DTMFCLIDRX_DTMF_PAUSE_TIMER);
  } else {
    stopCollectTimers(rx);
    if (s.ringState == DTMFCLIDRX_NORING) {
      rx->internalEvents |= DTMFCLIDRX_EVT_RESET;
    } else {
      s.serviceState = DTMFCLIDRX_WAITINGFOREND;
      s.clidType = DTMFCLIDRX_INVALID_CLID;
    }
  }
}

void transition(PSTN_CTL_DTMFCLIDRX_STATE* rx, PSTN_CTL_EVENT event, uint16_t digit) {
  DTMFCLIDRX_STATE_INFO& s = rx->stateInfo;
  const DTMFCLIDRX_SERVICE_STATE state = s.serviceState;
  switch (event) {
    case PSTN_CTL_EVT_OFFHOOK:
      s.offHook = 1;
      s.ringState = DTMFCLIDRX_RINGEND;
      if (state == DTMFCLIDRX_COLLECTING) abandonCollecting(rx);
      if (state == DTMFCLIDRX_WAITINGFOREND) stopTimer(rx, DTMFCLIDRX_RINGAFTERCLID_TIMER);
      break;
    case PSTN_CTL_EVT_ONHOOK:
      if (state == DTMFCLIDRX_COLLECTING) {
        errorReset(rx, "EPT: processDTMFClidRxStm: ERROR: Bad event/state combo: ONHOOK/COLLECTING)");
      } else {
        s.offHook = 0;
        s.ringState = DTMFCLIDRX_NORING;
        rx->internalEvents |= DTMFCLIDRX_EVT_RESET;
      }
      break;
    case PSTN_CTL_EVT_RINGON:
      if (state == DTMFCLIDRX_COLLECTING) {
        if (s.ringState != DTMFCLIDRX_NORING && s.ringState != DTMFCLIDRX_FIRSTRINGOFF) {
          errorReset(rx, "EPT: processDTMFClidRxStm: ERROR: Bad ring state for FSM(EVT_RINGON/COLLECTING)");
          break;
        }
        s.ringState = s.ringState == DTMFCLIDRX_NORING ? DTMFCLIDRX_FIRSTRINGON : DTMFCLIDRX_SECONDRING;
        abandonCollecting(rx);
      } else if (s.ringState == DTMFCLIDRX_NORING) {
        if (state == DTMFCLIDRX_WAITINGFOREND) stopTimer(rx, DTMFCLIDRX_RINGAFTERCLID_TIMER);
        s.ringState = DTMFCLIDRX_FIRSTRINGON;
      } else if (s.ringState == DTMFCLIDRX_FIRSTRINGOFF) {
        s.ringState = DTMFCLIDRX_SECONDRING;
      }
      break;
    case PSTN_CTL_EVT_RINGOFF:
    case PSTN_CTL_EVT_RINGEND:
      if (state == DTMFCLIDRX_COLLECTING) {
        errorReset(rx, "EPT: processDTMFClidRxStm: ERROR: Bad event/state combo: RINGOFF|RINGEND/COLLECTING");
      } else if (event == PSTN_CTL_EVT_RINGEND) {
        if (state == DTMFCLIDRX_IDLE) s.ringState = DTMFCLIDRX_NORING;
        else rx->internalEvents |= DTMFCLIDRX_EVT_RESET;
      } else if (s.ringState == DTMFCLIDRX_FIRSTRINGON) {
        s.ringState = DTMFCLIDRX_FIRSTRINGOFF;
      }
      break;
    case PSTN_CTL_EVT_DTMF_DIGIT: onDigit(rx, static_cast<uint8_t>(digit)); break;
    case PSTN_CTL_EVT_NONE:
      if (state == DTMFCLIDRX_COLLECTING &&
          (rx->internalEvents & (DTMFCLIDRX_EVT_PAUSE_TIMEOUT | DTMFCLIDRX_EVT_SESSION_TIMEOUT)) != 0) {
        endSession(rx, "EPT: processDTMFClidRxStm: ERROR: Bad ring state for FSM(EVT_NONE/COLLECTING)");
      }
      break;
    default: break;
  }
  // Waiting for the end: a ring-after-caller-ID timer that ran out ends the session.
  if (s.serviceState == DTMFCLIDRX_WAITINGFOREND && (rx->internalEvents & DTMFCLIDRX_EVT_RINGAFTERCLID_TIMEOUT) != 0 &&
      (event == PSTN_CTL_EVT_NONE || event == PSTN_CTL_EVT_DTMF_DIGIT)) {
    rx->internalEvents |= DTMFCLIDRX_EVT_RESET;
  }
}

int channelIndex(const PSTN_CTL_DTMFCLIDRX_STATE* rx) {
  for (int i = 0; i < PSTN_CTL_MAX_CHANNELS; ++i) {
    if (&pstnCtlState.chanState[i].dtmfClidRx == rx) return i;
  }
  return 0;
}

void reportOnce(PSTN_CTL_DTMFCLIDRX_STATE* rx) {
  if ((rx->internalEvents & DTMFCLIDRX_EVT_PARSE_ERROR) != 0) {
    log(VOICE_LOGLEVEL_ERROR, "EPT: processDTMFClidRxEvent: Error Parsing DTMF CLID!");
  }
  if (rx->eventSent) return;
  // One record per channel: it must stay valid until the library has taken the report.
  static PSTN_CTL_CLID_EVENT_INFO infoOfChannel[PSTN_CTL_MAX_CHANNELS];
  PSTN_CTL_CLID_EVENT_INFO& info = infoOfChannel[channelIndex(rx)];
  PSTN_CTL_EVENT_INFO report{PSTN_CTL_EVT_NONE, nullptr};
  const bool parseError = (rx->internalEvents & DTMFCLIDRX_EVT_PARSE_ERROR) != 0;
  if (!parseError && (rx->internalEvents & DTMFCLIDRX_EVT_PARSED_WITH_END) != 0) {
    report.event = PSTN_CTL_EVT_VALID_DTMFCLID;
  } else if (!parseError && (rx->internalEvents & DTMFCLIDRX_EVT_PARSED_NO_END) != 0) {
    report.event = PSTN_CTL_EVT_PARTIAL_DTMFCLID;
  } else if ((rx->internalEvents & DTMFCLIDRX_EVT_INVALID) != 0) {
    report.event = PSTN_CTL_EVT_INVALID_DTMFCLID;
  } else {
    return;
  }
  if (report.event != PSTN_CTL_EVT_INVALID_DTMFCLID) {
    info.clidData = rx->clidInfo.parsedData;
    info.clidType = rx->stateInfo.clidType;
    report.pInfo = &info;
  }
  rx->eventSent = 1;
  pstnCtlReport(rx->vhdHdl, report.event, report.pInfo);
}

}  // namespace

void dtmfClidRxReset(PSTN_CTL_DTMFCLIDRX_STATE* rx) {
  DTMFCLIDRX_STATE_INFO& s = rx->stateInfo;
  s.serviceState = DTMFCLIDRX_IDLE;
  s.offHook = 0;
  s.ringState = DTMFCLIDRX_NORING;
  s.clidType = DTMFCLIDRX_INVALID_CLID;
  for (DTMFCLIDRX_TIMER& t : s.timer) {
    t.counter = 0;
    t.running = 0;
  }
  rx->eventSent = 0;
  rx->internalEvents = 0;
  std::memset(&rx->clidInfo, 0, sizeof rx->clidInfo);
}

void processDTMFClidRxEvent(PSTN_CTL_DTMFCLIDRX_STATE* rx, PSTN_CTL_EVENT event, uint16_t digit) {
  if (rx == nullptr || !rx->enabled || rx->dtmfClidParms == nullptr) return;
  advanceTimers(rx);
  transition(rx, event, digit);
  if ((rx->internalEvents & (DTMFCLIDRX_EVT_RESET | DTMFCLIDRX_EVT_ERROR_RESET)) != 0) {
    dtmfClidRxReset(rx);
    return;
  }
  reportOnce(rx);
}

PSTN_CTL_STATUS pstnCtlDTMFClidRxInit(VRG_COUNTRY country, uint16_t vhdHdl, const VRG_CLASS_DTMF* dtmfParms) {
  std::lock_guard<std::mutex> guard(pstnCtlChannelLock());
  PSTN_CTL_CHAN_INFO* chan = pstnCtlChannel(vhdHdl);
  if (chan == nullptr || dtmfParms == nullptr) return PSTN_CTL_FAILURE;
  PSTN_CTL_DTMFCLIDRX_STATE& rx = chan->dtmfClidRx;
  auto* copy = static_cast<VRG_CLASS_DTMF*>(std::malloc(sizeof(VRG_CLASS_DTMF)));
  if (copy == nullptr) return PSTN_CTL_FAILURE;
  std::memcpy(copy, dtmfParms, sizeof *copy);
  std::free(rx.dtmfClidParms);
  std::memset(&rx, 0, sizeof rx);
  rx.vhdHdl = vhdHdl;
  const struct {
    DTMFCLIDRX_TIMER_TYPE type;
    uint32_t bit;
    uint16_t timeout;
  } timers[DTMFCLIDRX_NUM_TIMERS] = {
      {DTMFCLIDRX_DTMF_PAUSE_TIMER, DTMFCLIDRX_EVT_PAUSE_TIMEOUT, dtmfParms->DTMFpauseTimeout},
      {DTMFCLIDRX_SESSION_TIMER, DTMFCLIDRX_EVT_SESSION_TIMEOUT, dtmfParms->DTMFsessionTimeout},
      {DTMFCLIDRX_RINGAFTERCLID_TIMER, DTMFCLIDRX_EVT_RINGAFTERCLID_TIMEOUT, dtmfParms->ringAfterClidTimeout},
  };
  for (const auto& t : timers) {
    rx.stateInfo.timer[t.type] = DTMFCLIDRX_TIMER{0, t.timeout, 0, t.bit, t.type};
  }
  dtmfClidRxReset(&rx);
  rx.enabled = 1;
  rx.dtmfClidParms = copy;
  rx.country = country;
  return PSTN_CTL_SUCCESS;
}

PSTN_CTL_STATUS pstnCtlDTMFClidRxDestroy(uint16_t vhdHdl) {
  std::lock_guard<std::mutex> guard(pstnCtlChannelLock());
  for (int i = 0; i < PSTN_CTL_MAX_CHANNELS; ++i) {
    PSTN_CTL_CHAN_INFO& chan = pstnCtlState.chanState[i];
    if (chan.vhdHdl == PSTN_CTL_FREE_VHD) continue;
    if (vhdHdl != PSTN_CTL_FREE_VHD && chan.vhdHdl != vhdHdl) continue;
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG,
             vhdHdl == PSTN_CTL_FREE_VHD ? "EPT: pstnCtlDTMFClidRxDestroy: Freeing resources for channel %d"
                                         : "EPT: pstnCtlDTMFClidRxDestroy: Freeing resources for specific channel %d",
             i);
    std::free(chan.dtmfClidRx.dtmfClidParms);
    chan.dtmfClidRx.dtmfClidParms = nullptr;
    chan.dtmfClidRx.enabled = 0;
  }
  return PSTN_CTL_SUCCESS;
}
