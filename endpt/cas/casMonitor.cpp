// The hook and ring monitor: turns how long the line's condition has been stable (currentCount,
// ms since the last accepted change) into events and control-state changes. Phone-facing lines:
// off-hook and on-hook, early and delayed hook changes, wink, hook flash and pulse digits.
// Exchange-facing lines: ring bursts.

#include "casInternal.h"
#include "slicslacDrv.h"

namespace {

constexpr uint16_t kDeglitchMs = 200;
constexpr uint16_t kAnswerMs = 100;     // off-hook while alerting this long answers
constexpr uint16_t kFlashMakeMs = 80;   // off-hook after a flash candidate this long is a flash
constexpr uint16_t kRingOnMs = 20;      // exchange ring signal present this long is a ring
constexpr uint16_t kRingOffMs = 450;
constexpr uint16_t kRingDataEndMs = 3500;
constexpr uint16_t kRingEndMs = 6000;

// Exchange-facing ring substates.
constexpr uint16_t kRinging = 1;
constexpr uint16_t kBetweenRings = 2;
constexpr uint16_t kAfterRings = 3;

bool offHook(const CASCHANNELINFO& info) { return info.currentCAS == CAS_FEED_OPEN; }

void setSlicMode(const CASCHANNELINFO& info, int mode) { casLineOps().setMode(info.ept, mode); }

// Early and delayed hook events, each of a pair reported once per hook change. `due` gates
// them on the time since the change (always true in idle).
void earlyOffHook(CASCHANNELINFO& info, bool due, CasPendingEvents& events) {
  if (!info.earlyOffState || !due) return;
  events.add(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_EARLY_OFFHOOK);
  if (info.deglitchCount == 0) setSlicMode(info, SLIC_MODE_LCF);
  info.earlyOffState = 0;
  info.earlyOnState = 1;
}

void earlyOnHook(CASCHANNELINFO& info, bool due, CasPendingEvents& events) {
  if (!info.earlyOnState || !due) return;
  events.add(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_EARLY_ONHOOK);
  if (info.deglitchCount == 0) setSlicMode(info, SLIC_MODE_STANDBY);
  info.earlyOnState = 0;
  info.earlyOffState = 1;
}

void delayOffHook(CASCHANNELINFO& info, bool due, CasPendingEvents& events) {
  if (!info.delayOffState || !due) return;
  events.add(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_DELAY_OFFHOOK);
  info.delayOffState = 0;
  info.delayOnState = 1;
}

void delayOnHook(CASCHANNELINFO& info, bool due, CasPendingEvents& events) {
  if (!info.delayOnState || !due) return;
  events.add(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_DELAY_ONHOOK);
  info.delayOnState = 0;
  info.delayOffState = 1;
}

void idle(CASCHANNELINFO& info, CasPendingEvents& events) {
  const CAS_CTL_FXO_PARMS& p = info.fxoParms;
  const uint32_t t = info.currentCount;
  if (offHook(info)) {
    earlyOffHook(info, true, events);
    delayOffHook(info, true, events);
    if (t < p.minConnect) {
      info.substate = t >= p.minWink ? 1 : 0;  // 1: long enough to be a wink
    } else {
      casChangeControlState(
          info, casStateWord(CAS_CTL_FXO_ADDRESSING, 0, CAS_CTL_EVENT_OFFHOOK, CAS_FEED_FORWARD),
          events);
    }
    return;
  }
  earlyOnHook(info, true, events);
  delayOnHook(info, true, events);
  if (info.substate == 1 && t >= p.minPostWink) {
    events.add(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_WINK);
    info.substate = 0;
  }
  if (info.substate == CAS_SUBSTATE_START) {
    casChangeControlState(info, casStateWord(CAS_CTL_FXO_IDLE, 0, 0, CAS_FEED_FORWARD), events);
    info.substate = 0;
  }
}

void alerting(CASCHANNELINFO& info, CasPendingEvents& events) {
  if (!offHook(info) || info.currentCount < kAnswerMs) return;
  // The call is answered with the loop feed the ringing line had before; a line that never had
  // one gets forward feed rather than the ringing or open condition.
  uint32_t feed = casWordFeed(info.previousActiveState);
  if (feed != CAS_FEED_FORWARD && feed != CAS_FEED_REVERSE) feed = CAS_FEED_FORWARD;
  casChangeControlState(info, casStateWord(CAS_CTL_FXO_ACTIVE, 0, CAS_CTL_EVENT_OFFHOOK, feed),
                        events);
}

// A break (on-hook) during a call: pulse, hook flash or disconnect, by its length.
void activeOnHook(CASCHANNELINFO& info, CasPendingEvents& events) {
  const CAS_CTL_FXO_PARMS& p = info.fxoParms;
  const uint32_t t = info.currentCount;
  earlyOnHook(info, t >= p.earlyActiveHookInterval, events);
  delayOnHook(info, t >= p.delayActiveHookInterval, events);
  // Both limits belong to a pulse: a break sampled at exactly the longest allowed length counts.
  if (t <= p.pulseMaxBreak) {
    if (t >= p.pulseMinBreak && (info.substate & 1) == 0) ++info.substate;  // a pulse's break
  } else {
    info.substate = 0;
  }
  if (t >= p.minDisconnect) {
    casChangeControlState(info, casStateWord(CAS_CTL_FXO_IDLE, 0, CAS_CTL_EVENT_ONHOOK,
                                             CAS_FEED_FORWARD),
                          events);
    info.substate = 0;
    return;
  }
  // Where a profile's shortest flash is no longer than its longest pulse break (80 ms in many),
  // a break within the pulse limits stays a pulse: the flash candidate starts after them.
  if (t >= p.maxHookFlash) {
    info.substate = 0;
  } else if (t >= p.minHookFlash && t > p.pulseMaxBreak) {
    info.substate = CAS_SUBSTATE_FLASH;
  }
}

// A make (off-hook) during a call: ends a flash or counts a pulse; a long make ends the digit.
void activeOffHook(CASCHANNELINFO& info, CasPendingEvents& events) {
  const CAS_CTL_FXO_PARMS& p = info.fxoParms;
  const uint32_t t = info.currentCount;
  earlyOffHook(info, t >= p.earlyActiveHookInterval, events);
  delayOffHook(info, t >= p.delayActiveHookInterval, events);
  if (info.substate == CAS_SUBSTATE_FLASH && t >= kFlashMakeMs) {
    events.add(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_FLASH);
    info.substate = 0;
  }
  if (t >= p.pulseMaxMake) {
    if (info.substate != 0 && info.substate != CAS_SUBSTATE_FLASH) {
      events.add(CAS_CTL_PULSEDIAL_EVENT, info.substate / 2u);
      info.substate = 0;
    }
  } else if (t >= p.pulseMinMake && (info.substate & 1) != 0) {
    ++info.substate;  // the make after a break: one pulse counted
  }
}

void phoneFacing(CASCHANNELINFO& info, CasPendingEvents& events) {
  const CAS_CTL_FXO_PARMS& p = info.fxoParms;
  switch (casWordControlState(info.state)) {
    case CAS_CTL_FXO_IDLE:
      idle(info, events);
      break;
    case CAS_CTL_FXO_ALERTING:
    case CAS_CTL_FXO_JAPAN_ALERTING:
      alerting(info, events);
      break;
    case CAS_CTL_FXO_ADDRESSING:
    case CAS_CTL_FXO_ACTIVE:
      if (offHook(info)) {
        activeOffHook(info, events);
      } else {
        activeOnHook(info, events);
      }
      break;
    case CAS_CTL_FXO_JAPAN_ALERTING_CLID:
      if (offHook(info) && info.currentCount >= p.minConnect) {
        casChangeControlState(info,
                              casStateWord(CAS_CTL_FXO_JAPAN_ALERTING_CLID_OFFHOOK, 0,
                                           CAS_CTL_EVENT_OFFHOOK, CAS_FEED_REVERSE),
                              events);
      }
      break;
    case CAS_CTL_FXO_JAPAN_ALERTING_CLID_OFFHOOK:
      if (!offHook(info) && info.currentCount >= p.minDisconnect) {
        casChangeControlState(info,
                              casStateWord(CAS_CTL_FXO_JAPAN_ALERTING_CLID, 0,
                                           CAS_CTL_EVENT_ONHOOK, CAS_FEED_REVERSE),
                              events);
      }
      break;
    default:
      break;
  }
}

// Ring bursts on a released exchange line: one ring-on per burst, ring-off 450 ms after it, the
// DAA back to plain on-hook after 3.5 s and ring-end after 6 s of silence.
void exchangeFacing(CASCHANNELINFO& info, CasPendingEvents& events) {
  if (casWordControlState(info.state) != CAS_CTL_FXS_RELEASED) return;
  const uint32_t t = info.currentCount;
  if (info.currentCAS == CAS_FEED_RINGING) {
    if (t >= kRingOnMs && info.substate != kRinging) {
      info.substate = kRinging;
      events.add(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_RINGON);
    }
    return;
  }
  if (info.substate == kRinging && t >= kRingOffMs) {
    events.add(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_RINGOFF);
    casLineOps().setMode(info.ept, DAA_MODE_ONHOOK_DATA);
    info.substate = kBetweenRings;
  } else if (info.substate == kBetweenRings && t >= kRingDataEndMs) {
    casLineOps().setMode(info.ept, DAA_MODE_ONHOOK);
    info.substate = kAfterRings;
  } else if (info.substate == kAfterRings && t >= kRingEndMs) {
    events.add(CAS_CTL_DETECT_EVENT, CAS_CTL_EVENT_RINGEND);
    info.substate = 0;
  }
}

}  // namespace

void casMonitor(CASCHANNELINFO& info, CasPendingEvents& events) {
  if (info.castype == CAS_TYPE_FXS) {
    exchangeFacing(info, events);
  } else {
    phoneFacing(info, events);
  }
}

void casChangeControlState(CASCHANNELINFO& info, uint32_t word, CasPendingEvents& events) {
  casFreeProfile(info);
  info.statechange = 1;
  if (casWordControlState(word) != casWordControlState(info.state)) {
    info.substate = 0;
    info.currentCount = 0;
    if (casWordControlState(word) == CAS_CTL_FXO_IDLE) info.deglitchCount = kDeglitchMs;
  }
  info.state = word;
  casCtlStaggerRemove(info.channelnum);
  if (casWordEvent(word) != 0) events.add(CAS_CTL_DETECT_EVENT, casWordEvent(word));
}
