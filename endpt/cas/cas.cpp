// The CAS channel's command entry and its 10 ms step: driver mode from the state word, hook and
// ring sampling with the counters the monitor works from, and profile stepping.

#include <algorithm>
#include <atomic>
#include <cstring>

#include "boardHal.h"
#include "casInternal.h"

namespace {

const CAS_LINE_OPS kBoardOps = {
    boardHalSetSlicMode,  boardHalProcessSlicEvents, boardHalIsOffhook,
    boardHalGetLoopCurrent, boardHalIsRingActive,    boardHalSetFastSlicMode,
    boardHalGetNumEndpoints,
};

std::atomic<const CAS_LINE_OPS*> lineOps{&kBoardOps};

constexpr uint16_t kStableMs = 8000;     // a line stable this long is no longer monitored
constexpr uint16_t kDeglitchMs = 200;    // after leaving or entering idle
constexpr int16_t kCounterMax = 32767;   // a step's duration counts in a signed 16-bit value

// Holds the channel's mutex for a scope; channels built without one are not locked.
class CasLock {
 public:
  explicit CasLock(VOS_MUTEX mutex) : mutex_(mutex) {
    if (mutex_ != nullptr) vosMutexAcquire(mutex_);
  }
  ~CasLock() {
    if (mutex_ != nullptr) vosMutexRelease(mutex_);
  }
  CasLock(const CasLock&) = delete;
  CasLock& operator=(const CasLock&) = delete;

 private:
  VOS_MUTEX mutex_;
};

bool enabled(const CASLOCLMEM& mem) { return (mem.status & CAS_STATUS_ENABLED) != 0; }

CAS_CTL_STATUS fromDriver(int rc) { return rc < 0 ? CAS_CTL_FAILURE : CAS_CTL_SUCCESS; }

// Line driver requests that stand ready for a future caller; their records belong to the caller.
CAS_CTL_STATUS slicRequest(const CASCMD& cmd) {
  auto* args = static_cast<int*>(cmd.op2.ref);
  switch (cmd.reqid) {
    case CAS_REQ_SLIC_BOOTED_LOOP_CURRENT:
      return fromDriver(boardHalSetSlicBoostedLoopCurrent(static_cast<int>(cmd.op1), cmd.op2.val));
    case CAS_REQ_SLIC_SET_RING_PARMS:
      if (args == nullptr) return CAS_CTL_FAILURE;
      return fromDriver(boardHalSetRingParms(args[0], args[1], args[2], args[3], args[4], args[5]));
    case CAS_REQ_SLIC_PHASE_REVERSAL_CONTROL:
      return fromDriver(boardHalSetSlicPhaseRev(static_cast<int>(cmd.op1), cmd.op2.val));
    case CAS_REQ_SLIC_SET_POWER_SOURCE:
      return fromDriver(boardHalSetSlicPowerSource(static_cast<int>(cmd.op1), cmd.op2.val));
    default:
      return CAS_CTL_FAILURE;
  }
}

CAS_CTL_STATUS daaRequest(const CASCMD& cmd) {
  switch (cmd.reqid) {
    case CAS_REQ_DAA_MODE_CONTROL:
      return fromDriver(boardHalSetSlicMode(static_cast<int>(cmd.op1), cmd.op2.val));
    case CAS_REQ_DAA_GET_HOOK_STATUS: {
      auto* io = static_cast<int*>(cmd.op2.ref);  // endpoint in, off-hook flag out
      if (io == nullptr) return CAS_CTL_FAILURE;
      *io = boardHalIsOffhook(*io);
      return CAS_CTL_SUCCESS;
    }
    default:
      return CAS_CTL_FAILURE;
  }
}

CAS_CTL_STATUS apmRequest(const CASCMD& cmd) {
  auto* args = static_cast<int*>(cmd.op2.ref);
  if (args == nullptr) return CAS_CTL_FAILURE;
  switch (cmd.reqid) {
    case CAS_REQ_APM_SET_RING_PARMS:
      return fromDriver(boardHalSetRingParms(args[0], args[1], args[2], args[3], args[4], args[5]));
    case CAS_REQ_APM_PULSE_SIGNAL:
      return fromDriver(
          boardHalSendPulseSignal(args[0], args[1], args[2], args[3], args[4], args[5]));
    default:
      return CAS_CTL_FAILURE;
  }
}

void enable(CASLOCLMEM& mem, bool on) {
  CasLock lock(mem.pMutex);
  if (on) {
    if (!enabled(mem)) {
      casFreeProfile(mem.channelinfo);
      mem.status |= CAS_STATUS_ENABLED;
    }
  } else if (enabled(mem)) {
    mem.status &= static_cast<uint16_t>(~CAS_STATUS_ENABLED);
    casFreeProfile(mem.channelinfo);
  }
}

void configure(CASLOCLMEM& mem, uint32_t type, uint16_t channel) {
  CasLock lock(mem.pMutex);
  CASCHANNELINFO& info = mem.channelinfo;
  info.castype = static_cast<uint16_t>(type);
  info.channelnum = channel;
  info.state = type == CAS_TYPE_FXS ? 0 : casStateWord(CAS_CTL_FXO_IDLE, 0, 0, 0);
  info.substate = CAS_SUBSTATE_START;
  info.statechange = 0;
}

// Installs a profile (ownership passes in every outcome). Its first step is entered when the
// counter next runs out.
CAS_CTL_STATUS loadProfile(CASLOCLMEM& mem, CASPROFILE* profile) {
  if (profile == nullptr) return CAS_CTL_FAILURE;
  if (!enabled(mem)) {
    delete profile;
    return CAS_CTL_FAILURE;
  }
  CasLock lock(mem.pMutex);
  CASCHANNELINFO& info = mem.channelinfo;
  const uint32_t current = casWordControlState(info.state);
  const uint32_t first = casWordControlState(profile->casstm.state[0].stateinfo);
  // An off-hook phone in a call is never put back to idle by a profile (a late ring stop).
  if (info.castype == CAS_TYPE_FXO &&
      (current == CAS_CTL_FXO_ADDRESSING || current == CAS_CTL_FXO_ACTIVE) &&
      first == CAS_CTL_FXO_IDLE) {
    delete profile;
    return CAS_CTL_SUCCESS;
  }
  casFreeProfile(info);
  info.profilep = profile;
  info.counter = CAS_TICK_MS;
  if (first != current) {
    info.substate = 0;
    info.currentCount = 0;
    if (current == CAS_CTL_FXO_IDLE) info.deglitchCount = kDeglitchMs;
  }
  info.state &= 0xF000F;
  return CAS_CTL_SUCCESS;
}

void readStatus(CASLOCLMEM& mem, CASSTATUS* status) {
  CasLock lock(mem.pMutex);
  const CASCHANNELINFO& info = mem.channelinfo;
  status->channelnum = info.channelnum;
  status->state = info.state;
  status->currentCAS = info.currentCAS;
  status->currentCount = info.currentCount;
  status->deglitchCount = info.deglitchCount;
  status->substate = info.substate;
}

// The line driver's mode for the channel's state word.
void setDriverMode(const CASCHANNELINFO& info) {
  const uint32_t control = casWordControlState(info.state);
  const uint32_t feed = casWordFeed(info.state);
  int mode;
  if (info.castype == CAS_TYPE_FXS) {
    mode = control == CAS_CTL_FXS_SEIZED   ? DAA_MODE_OFFHOOK
           : control == CAS_CTL_FXS_CLIDRX ? DAA_MODE_ONHOOK_DATA
                                           : DAA_MODE_ONHOOK;
  } else {
    switch (control) {
      case CAS_CTL_FXO_SERVICEDENIED:
        mode = feed == CAS_FEED_FORWARD ? SLIC_MODE_LCF : SLIC_MODE_LCFO;
        break;
      case CAS_CTL_FXO_IDLE:
        mode = SLIC_MODE_STANDBY;
        break;
      case CAS_CTL_FXO_ALERTING:
      case CAS_CTL_FXO_JAPAN_ALERTING:
      case CAS_CTL_FXO_JAPAN_ALERTING_CLID:
        mode = feed == CAS_FEED_FORWARD   ? SLIC_MODE_OHT
               : feed == CAS_FEED_REVERSE ? SLIC_MODE_OHTR
                                          : SLIC_MODE_RING;
        break;
      case CAS_CTL_FXO_JAPAN_ALERTING_CLID_OFFHOOK:
        mode = feed == CAS_FEED_FORWARD   ? SLIC_MODE_LCF
               : feed == CAS_FEED_REVERSE ? SLIC_MODE_RLCF
                                          : SLIC_MODE_RING;
        break;
      default:
        mode = feed == CAS_FEED_FORWARD ? SLIC_MODE_LCF : SLIC_MODE_RLCF;
        break;
    }
  }
  casLineOps().setMode(info.ept, mode);
}

// The line's condition now: phone-facing 15 off-hook, else 10; exchange-facing, when seized,
// the loop current (10 closed, 2 reversed, 15 open), else 0 while ringing is detected, else 15.
uint16_t sampleLine(const CASCHANNELINFO& info) {
  const CAS_LINE_OPS& ops = casLineOps();
  if (info.castype != CAS_TYPE_FXS) {
    return ops.isOffhook(info.ept) > 0 ? CAS_FEED_OPEN : CAS_FEED_FORWARD;
  }
  if (casWordControlState(info.state) == CAS_CTL_FXS_SEIZED) {
    switch (ops.getLoopCurrent(info.ept)) {
      case DAA_LOOP_CLOSED: return CAS_FEED_FORWARD;
      case DAA_LOOP_CLOSED_REVERSE: return CAS_FEED_REVERSE;
      default: return CAS_FEED_OPEN;
    }
  }
  return ops.isRingActive(info.ept) > 0 ? CAS_FEED_RINGING : CAS_FEED_OPEN;
}

void countDownIgnore(CASCHANNELINFO& info) {
  uint16_t left = info.ignoreHookState.load(std::memory_order_relaxed);
  // A renewal from another thread between the load and the store wins.
  while (left > 0 &&
         !info.ignoreHookState.compare_exchange_weak(
             left, static_cast<uint16_t>(left > CAS_TICK_MS ? left - CAS_TICK_MS : 0),
             std::memory_order_relaxed)) {
  }
}

// Counting, acceptance of a changed condition and the monitor.
void watchLine(CASCHANNELINFO& info, uint16_t sample, CasPendingEvents& events) {
  const bool phone = info.castype != CAS_TYPE_FXS;
  const bool sensing =
      info.ignoreHookState.load(std::memory_order_relaxed) == 0 &&
      !(phone && casWordControlState(info.state) == CAS_CTL_FXO_SERVICEDENIED);
  if (info.currentCount < kStableMs && sensing) {
    info.currentCount = static_cast<uint16_t>(info.currentCount + CAS_TICK_MS);
    info.deglitchCount =
        static_cast<uint16_t>(info.deglitchCount > CAS_TICK_MS ? info.deglitchCount - CAS_TICK_MS : 0);
    if (info.currentCount > 19 && sample == info.currentCAS) casMonitor(info, events);
  }
  if (sample == info.currentCAS) return;
  if (phone) {
    if (!sensing) return;
    // The sample that shows the change already counts: a break or make seen in N samples is
    // credited N ticks, its full sampled length, so timings at the profile's limits are met.
    info.currentCount = CAS_TICK_MS;
  } else {
    info.currentCount = CAS_TICK_MS;
    info.newCountFxs = CAS_TICK_MS;  // passes its 9 ms threshold on the first tick
  }
  info.currentCAS = sample;
  casMonitor(info, events);
}

// Leaves the current step when its time is up.
void stepProfile(CASCHANNELINFO& info, CasPendingEvents& events) {
  if (info.profilep == nullptr) return;
  info.counter = static_cast<int16_t>(info.counter - CAS_TICK_MS);
  if (info.counter > 0) return;
  CASSTM& stm = info.profilep->casstm;
  if (casWordEndsProfile(info.state)) {
    const bool briefRing = (info.state & 0x120) == 0x120;
    casFreeProfile(info);
    if (briefRing) events.add(CAS_CTL_BRIEF_RING_COMPLETE_EVENT, casWordEvent(info.state));
    return;
  }
  uint32_t next = casWordNext(info.state);
  if (info.state & CAS_LOOP_FLAG) {
    // A loop count of 0 leaves the loop instead of wrapping round to 65535 passes.
    if (stm.loopcount > 0) --stm.loopcount;
    if (stm.loopcount == 0) next = stm.afterloop;
  }
  if (next >= CAS_CTL_MAX_PROFILE_STEPS) {  // a loop exit beyond the profile ends it
    casFreeProfile(info);
    return;
  }
  const CASSTATEINFO& step = stm.state[next];
  info.statechange = 1;
  info.counter = static_cast<int16_t>(std::min<uint32_t>(step.duration, kCounterMax));
  const uint32_t feed = casWordFeed(info.state);
  if (feed >= 1 && feed <= 14 && casWordControlState(info.state) != 0) {
    info.previousActiveState = info.state;
  }
  info.state = step.stateinfo;
  if (casWordEvent(info.state) != 0) events.add(CAS_CTL_STATECTL_EVENT, casWordEvent(info.state));
}

}  // namespace

void casSetLineOps(const CAS_LINE_OPS* ops) {
  lineOps.store(ops != nullptr ? ops : &kBoardOps, std::memory_order_release);
}

const CAS_LINE_OPS& casLineOps() { return *lineOps.load(std::memory_order_acquire); }

void casFreeProfile(CASCHANNELINFO& info) {
  delete info.profilep;
  info.profilep = nullptr;
}

void casGenEvent(CAS_EVENT_CALLBACK callback, CAS_CTL_EVENT_TYPE type, uint32_t event,
                 uint16_t channel) {
  if (callback == nullptr) return;  // an unbound channel reports to no one
  CASEVT evt{};
  evt.evt = static_cast<uint16_t>(type);
  evt.op1 = event;
  evt.op2.val = channel;
  callback(&evt);
}

void casReset(CASSRV* srv) {
  CASLOCLMEM& mem = srv->localmem;
  CASCHANNELINFO& info = mem.channelinfo;
  casFreeProfile(info);
  srv->inUse = 0;
  srv->callbackp = nullptr;
  mem.status = 0;
  mem.pMutex = nullptr;
  info.castype = CAS_TYPE_INACTIVE;
  info.channelnum = 0;
  info.statechange = 0;
  info.state = 0;
  info.previousActiveState = 0;
  info.ignoreHookState.store(0, std::memory_order_relaxed);
  info.counter = 0;
  info.ept = 0;
  info.pMutex = nullptr;
  info.casCallback = nullptr;
  info.currentCAS = info.currentCount = info.deglitchCount = 0;
  info.newCount = info.newCountFxs = info.substate = 0;
  info.earlyOnState = info.earlyOffState = info.delayOnState = info.delayOffState = 0;
  info.fxoParms = CAS_CTL_FXO_PARMS{};
}

CAS_CTL_STATUS casIO(CASLOCLMEM* mem, CASCMD* cmd) {
  if (mem == nullptr || cmd == nullptr) return CAS_CTL_FAILURE;
  switch (cmd->cmd) {
    case CAS_CMD_ENABLE:
      enable(*mem, cmd->op1 == 1);
      return CAS_CTL_SUCCESS;
    case CAS_CMD_FXO_PARMS: {
      auto* parms = static_cast<CAS_CTL_FXO_PARMS*>(cmd->op2.ref);
      if (parms == nullptr) return CAS_CTL_FAILURE;
      {
        CasLock lock(mem->pMutex);
        mem->channelinfo.fxoParms = *parms;
      }
      delete parms;
      return CAS_CTL_SUCCESS;
    }
    case CAS_CMD_CONFIG:
      configure(*mem, cmd->op1, cmd->op2.val);
      return CAS_CTL_SUCCESS;
    case CAS_CMD_PROFILE:
      return loadProfile(*mem, static_cast<CASPROFILE*>(cmd->op2.ref));
    case CAS_CMD_STATUS: {
      auto* status = static_cast<CASSTATUS*>(cmd->op2.ref);
      if (status == nullptr) return CAS_CTL_FAILURE;
      readStatus(*mem, status);
      return CAS_CTL_SUCCESS;
    }
    case CAS_CMD_SLIC_REQ:
      return slicRequest(*cmd);
    case CAS_CMD_DAA_REQ:
      return daaRequest(*cmd);
    case CAS_CMD_APM_REQ:
      return apmRequest(*cmd);
    case CAS_CMD_SHUTDOWN:
      return CAS_CTL_SUCCESS;
    default:
      return CAS_CTL_FAILURE;
  }
}

void casBlk(CASSRV* srv) {
  if (srv == nullptr) return;
  CASLOCLMEM& mem = srv->localmem;
  CASCHANNELINFO& info = mem.channelinfo;
  CasPendingEvents events;
  CAS_EVENT_CALLBACK callback;
  uint16_t channel;
  {
    CasLock lock(mem.pMutex);
    if (!enabled(mem) || info.castype == CAS_TYPE_INACTIVE) return;
    if (info.statechange) {
      setDriverMode(info);
      info.statechange = 0;
    }
    casLineOps().processEvents(info.ept);
    watchLine(info, sampleLine(info), events);
    countDownIgnore(info);
    stepProfile(info, events);
    callback = srv->callbackp;
    channel = info.channelnum;
  }
  // Delivered without the mutex: the receiver may call back into line signalling control.
  for (int i = 0; i < events.count; ++i) {
    casGenEvent(callback, events.type[i], events.event[i], channel);
  }
}
