// The line driver's requests: a phone on each FXS port (hook switch driven by commands and by
// scheduled pulse and flash steps, a ringer that records what the line does), an exchange line on
// each FXO port (ring bursts, loop current that follows the DAA mode) and scripted line tests.

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "vboardInternal.h"

namespace vboard {

namespace {

template <typename T>
void pushBounded(std::deque<T>& queue, const T& value, size_t limit) {
  if (queue.size() >= limit) queue.pop_front();
  queue.push_back(value);
}

// A default result for each test when none was scripted: a healthy line.
ss_lt_result defaultTestResult(int ept, int test) {
  ss_lt_result r{};
  r.ept_id = ept;
  r.test_id = test;
  switch (test) {
    case TEST_VOLTAGE: r.volt = {0, 0, 0, -48000}; break;
    case TEST_IMPEDANCE: r.imp = {2000000, 2000000, 1000000}; break;
    case TEST_OFFHOOK: r.u32 = 0; break;
    case TEST_REN: r.u32 = 1000; break;
    default: break;
  }
  return r;
}

void queueEvent(int fd, Descriptor& d, const ss_lt_result& result) {
  ss_lt_event event{};
  event.header.id = SS_EVT_LINE_TEST_RESULTS;
  event.header.size = sizeof(ss_lt_result);
  event.result = result;
  if (d.events.size() >= MAX_EVENTS) return;  // the reader has stopped: drop, never grow
  const auto* bytes = reinterpret_cast<const uint8_t*>(&event);
  d.events.emplace_back(bytes, bytes + sizeof(event));
  const uint64_t one = 1;
  (void)!::write(fd, &one, sizeof(one));
}

int descriptorFd(Board& b, const Descriptor& d) {
  for (const auto& [fd, entry] : b.descriptors) {
    if (entry == &d) return fd;
  }
  return -1;
}

}  // namespace

void recordMode(Channel& ch, int mode) {
  const int64_t now = nowMs();
  if (ch.slicMode == SLIC_MODE_RING && mode != SLIC_MODE_RING && !ch.rings.empty() &&
      ch.rings.back().durationMs < 0) {
    ch.rings.back().durationMs = now - ch.rings.back().startMs;
    ch.rings.back().clockMs = ch.hookClockMs - ch.rings.back().startClockMs;
  }
  if (mode == SLIC_MODE_RING && ch.slicMode != SLIC_MODE_RING) {
    pushBounded(ch.rings, RingBurst{now, -1, ch.hookClockMs, -1}, MAX_RINGS);
  }
  ch.slicMode = mode;
  pushBounded(ch.modeTimeline, TimedValue{now, mode, ch.hookClockMs}, MAX_TIMELINE);
}

void recordPolarity(Channel& ch, int polarity) {
  ch.polarity = polarity;
  pushBounded(ch.polarityTimeline, TimedValue{nowMs(), polarity}, MAX_TIMELINE);
}

bool phoneOffHook(Channel& ch) {
  const int64_t now = ch.hookClockMs;
  while (!ch.hookScript.empty() && ch.hookScript.front().atMs <= now) {
    ch.offHook = ch.hookScript.front().offHook;
    ch.hookScript.pop_front();
  }
  return ch.offHook;
}

bool exchangeRinging(Channel& ch) {
  const int64_t now = nowMs();
  if (now >= ch.ringUntilMs || ch.ringOnMs <= 0) return false;
  const int64_t period = ch.ringOnMs + ch.ringOffMs;
  return (now - ch.ringStartMs) % period < ch.ringOnMs;
}

int slicslacIoctl(Board& b, Descriptor& d, uint32_t request, unsigned long arg) {
  const int numChannels = static_cast<int>(b.channels.size());
  auto channel = [&](long ept) -> Channel* {
    return ept >= 0 && ept < numChannels ? &b.channels[ept] : nullptr;
  };
  // Requests whose argument is a record starting with the endpoint.
  auto record = [&](auto* rec) -> Channel* {
    if (rec == nullptr) return nullptr;
    return channel(rec->ept_id);
  };
  switch (request) {
    case SS_CMD_INIT:
      b.ssInitialised = true;
      b.country = static_cast<int>(arg);
      return 0;
    case SS_CMD_DEINIT:
      b.ssInitialised = false;
      return 0;
    case SS_CMD_SETLOGLEVEL:
      b.ssLogLevel = static_cast<int>(arg);
      return 0;
    case SS_CMD_GETDLP:
    case SS_CMD_GETELP: {
      Channel* ch = channel(static_cast<long>(arg));
      if (ch == nullptr) return fail(EINVAL);
      return 0;  // no loss on either path
    }
    case SS_CMD_GETLOOPCURRENT: {
      Channel* ch = channel(static_cast<long>(arg));
      if (ch == nullptr) return fail(EINVAL);
      if (ch->type != DSPHAL_TYPE_FXO || ch->daaMode != DAA_MODE_OFFHOOK) return DAA_LOOP_OPEN;
      return ch->exchangeReversed ? DAA_LOOP_CLOSED_REVERSE : DAA_LOOP_CLOSED;
    }
    case SS_CMD_GETSLICPARMS: {
      auto* rec = reinterpret_cast<SSARG_SLICPARMS*>(arg);
      Channel* ch = record(rec);
      if (ch == nullptr) return fail(rec ? EINVAL : EFAULT);
      rec->phase_reversal = ch->polarity;
      rec->loop_current = ch->boostedLoopCurrent;
      rec->power_source = ch->powerSource;
      rec->slic_mode = ch->slicMode;
      return 0;
    }
    case SS_CMD_ISOFFHOOK: {
      Channel* ch = channel(static_cast<long>(arg));
      if (ch == nullptr) return fail(EINVAL);
      ch->hookClockMs += HOOK_SAMPLE_MS;
      return ch->type == DSPHAL_TYPE_FXS && phoneOffHook(*ch) ? 1 : 0;
    }
    case SS_CMD_ISRINGACTIVE: {
      Channel* ch = channel(static_cast<long>(arg));
      if (ch == nullptr) return fail(EINVAL);
      return ch->type == DSPHAL_TYPE_FXO && exchangeRinging(*ch) ? 1 : 0;
    }
    case SS_CMD_MODECONTROL: {
      auto* rec = reinterpret_cast<SSARG_MODECONTROL*>(arg);
      Channel* ch = record(rec);
      if (ch == nullptr || ch->type == DSPHAL_TYPE_DECT) return fail(rec ? EINVAL : EFAULT);
      if (ch->type == DSPHAL_TYPE_FXO) {
        if (rec->mode < DAA_MODE_ONHOOK || rec->mode > DAA_MODE_RING_VALID_OFF) return fail(EINVAL);
        ch->daaMode = rec->mode;
        pushBounded(ch->modeTimeline, TimedValue{nowMs(), rec->mode}, MAX_TIMELINE);
      } else {
        if (rec->mode < SLIC_MODE_LCFO || rec->mode > SLIC_MODE_NULL) return fail(EINVAL);
        recordMode(*ch, rec->mode);
      }
      return 0;
    }
    case SS_CMD_PHREVCONTROL: {
      auto* rec = reinterpret_cast<SSARG_PHREVCONTROL*>(arg);
      Channel* ch = record(rec);
      if (ch == nullptr) return fail(rec ? EINVAL : EFAULT);
      recordPolarity(*ch, rec->value);
      return 0;
    }
    case SS_CMD_PROCESSEVENTS:
      return channel(static_cast<long>(arg)) ? 0 : fail(EINVAL);
    case SS_CMD_SETBOOSTEDLOOPCURRENT:
    case SS_CMD_SETFASTSLICMODE:
    case SS_CMD_SETSLICENABLE:
    case SS_CMD_SETPOWERSOURCE:
    case SS_CMD_TEST_LOAD: {
      // All of these carry {ept_id, value}.
      auto* rec = reinterpret_cast<SSARG_SETSLICENABLE*>(arg);
      Channel* ch = record(rec);
      if (ch == nullptr) return fail(rec ? EINVAL : EFAULT);
      if (request == SS_CMD_SETBOOSTEDLOOPCURRENT) ch->boostedLoopCurrent = rec->value;
      if (request == SS_CMD_SETFASTSLICMODE) ch->fastSlicMode = rec->value;
      if (request == SS_CMD_SETSLICENABLE) ch->slicEnabled = rec->value;
      if (request == SS_CMD_SETPOWERSOURCE) ch->powerSource = rec->value;
      if (request == SS_CMD_TEST_LOAD) ch->testLoad = rec->value;
      return 0;
    }
    case SS_CMD_SETRINGPARMS: {
      auto* rec = reinterpret_cast<SSARG_RINGPARMS*>(arg);
      Channel* ch = record(rec);
      if (ch == nullptr) return fail(rec ? EINVAL : EFAULT);
      ch->ringParms = *rec;
      return 0;
    }
    case SS_CMD_APM_PULSEMETERING: {
      auto* rec = reinterpret_cast<SSARG_APM_PULSEMETERING*>(arg);
      Channel* ch = record(rec);
      if (ch == nullptr) return fail(rec ? EINVAL : EFAULT);
      ch->metering = *rec;
      ++ch->meteringRequests;
      return 0;
    }
    case SS_CMD_LINE_TEST: {
      auto* rec = reinterpret_cast<SSARG_LINE_TEST*>(arg);
      Channel* ch = record(rec);
      if (ch == nullptr) return fail(rec ? EINVAL : EFAULT);
      ss_lt_result result = defaultTestResult(rec->ept_id, rec->test_id);
      if (!ch->scriptedTests.empty()) {
        result = ch->scriptedTests.front();
        ch->scriptedTests.pop_front();
        result.ept_id = rec->ept_id;
        result.test_id = rec->test_id;
      }
      queueEvent(descriptorFd(b, d), d, result);
      return 0;
    }
    default:
      return fail(EINVAL);
  }
}

}  // namespace vboard
