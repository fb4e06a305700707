// Line signalling control: start and stop, binding channels to lines, the state changes the
// dispatcher and the caller-ID machines ask for, and the "HCAS" task that steps every channel on
// an absolute 10 ms period.

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <new>

#include "casCtlInternal.h"
#include "voiceLog.h"

namespace {

CASSTATE gCasState;

constexpr uint32_t kHcasStackSize = 8192;
constexpr VOS_TASK_CLASS kHcasPriority = 90;
constexpr long kPeriodNs = 10 * 1000 * 1000;

class StateLock {
 public:
  StateLock() : mutex_(gCasState.mutex) {
    if (mutex_ != nullptr) vosMutexAcquire(mutex_);
  }
  ~StateLock() {
    if (mutex_ != nullptr) vosMutexRelease(mutex_);
  }
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;

 private:
  VOS_MUTEX mutex_;
};

CASLOCLMEM& channel(CAS_CTL_HANDLE handle) { return gCasState.service[handle].localmem; }

CAS_CTL_STATUS casCmd(CAS_CTL_HANDLE handle, uint16_t command, uint32_t op1, uint16_t op2) {
  CASCMD cmd{};
  cmd.cmd = command;
  cmd.op1 = op1;
  cmd.op2.val = op2;
  return casIO(&channel(handle), &cmd);
}

// Hands a heap buffer to the channel; it owns the buffer from here on, whatever the outcome.
CAS_CTL_STATUS casCmdData(CAS_CTL_HANDLE handle, uint16_t command, void* data) {
  CASCMD cmd{};
  cmd.cmd = command;
  cmd.op2.ref = data;
  return casIO(&channel(handle), &cmd);
}

// Routes a channel's event to the library's callback as (handle, event type, event).
void casEventForwarder(CASEVT* evt) {
  const CAS_CTL_CALLBACK callback = gCasState.callback;
  if (callback == nullptr || evt == nullptr) return;
  callback(static_cast<CAS_CTL_HANDLE>(evt->op2.val), static_cast<CAS_CTL_EVENT_TYPE>(evt->evt),
           static_cast<CAS_CTL_EVENT>(evt->op1));
}

// Set to end the "HCAS" task; it is seen within one period. The task is not cancelled, so it
// never ends while holding the mutex or in the middle of a channel's step.
std::atomic<bool> stopRequested{false};

void casTaskMain(VOS_TASK_ARG) {
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  while (!stopRequested.load(std::memory_order_acquire)) {
    casCtlTaskPeriod();
    next.tv_nsec += kPeriodNs;
    if (next.tv_nsec >= 1000000000L) {
      next.tv_nsec -= 1000000000L;
      ++next.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
    }
  }
}

// The word of casCtlSetStateGenEvent's state numbers; 0 for a state that cannot be requested.
uint32_t requestedStateWord(uint32_t state) {
  switch (state) {
    case 0: return casStateWord(CAS_CTL_FXO_SERVICEDENIED, 0, CAS_CTL_EVENT_LCFO, CAS_FEED_OPEN);
    case 1: return casStateWord(CAS_CTL_FXO_IDLE, 0, CAS_CTL_EVENT_LCF, CAS_FEED_FORWARD);
    case 2: return casStateWord(CAS_CTL_FXO_ALERTING, 0, CAS_CTL_EVENT_LCF, CAS_FEED_RINGING);
    case 3: return casStateWord(CAS_CTL_FXO_ALERTING, 0, CAS_CTL_EVENT_LCF, CAS_FEED_FORWARD);
    case 4: return casStateWord(CAS_CTL_FXO_ALERTING, 0, CAS_CTL_EVENT_RLCF, CAS_FEED_REVERSE);
    case 5: return casStateWord(CAS_CTL_FXO_ADDRESSING, 0, CAS_CTL_EVENT_LCF, CAS_FEED_FORWARD);
    case 6: return casStateWord(CAS_CTL_FXO_ACTIVE, 0, CAS_CTL_EVENT_LCF, CAS_FEED_FORWARD);
    case 9:
      return casStateWord(CAS_CTL_FXO_JAPAN_ALERTING_CLID_OFFHOOK, 0, CAS_CTL_EVENT_RLCF,
                          CAS_FEED_REVERSE);
    default: return 0;
  }
}

struct OsiRequest {
  uint32_t duration;
  uint32_t restoreWord;  // the state the line returns to (default pattern)
};

void fillOsiDefault(CASSTM& stm, const void* context) {
  const auto* osi = static_cast<const OsiRequest*>(context);
  stm.state[0] = {casStateWord(CAS_CTL_FXO_SERVICEDENIED, 1, CAS_CTL_EVENT_LCFO, CAS_FEED_OPEN),
                  osi->duration};
  stm.state[1] = {casStateWord(CAS_CTL_FXO_SERVICEDENIED, 2, CAS_CTL_EVENT_OSI_END,
                               CAS_FEED_FORWARD),
                  300};
  stm.state[2] = {osi->restoreWord, 0};
}

void fillOsiVmwi(CASSTM& stm, const void* context) {
  const auto* osi = static_cast<const OsiRequest*>(context);
  stm.state[0] = {casStateWord(CAS_CTL_FXO_SERVICEDENIED, 1, CAS_CTL_EVENT_LCFO, CAS_FEED_OPEN),
                  osi->duration};
  stm.state[1] = {casStateWord(CAS_CTL_FXO_ALERTING, 2, 0, CAS_FEED_FORWARD), 300};
  stm.state[2] = {casStateWord(CAS_CTL_FXO_ALERTING, 3, CAS_CTL_EVENT_OSI_END, CAS_FEED_FORWARD),
                  2000};
  stm.state[3] = {casStateWord(CAS_CTL_FXO_IDLE, CAS_NEXT_END, CAS_CTL_EVENT_LCF,
                               CAS_FEED_FORWARD),
                  0};
}

bool activeFeed(uint32_t word) {
  return casWordFeed(word) == CAS_FEED_FORWARD || casWordFeed(word) == CAS_FEED_REVERSE;
}

// Where a line returns after an open-switch interval: its current state, or the last one with a
// loop feed; a line that had neither returns to idle with forward feed rather than staying open.
uint32_t osiRestoreWord(const CASCHANNELINFO& info) {
  uint32_t word = info.state;
  if (!activeFeed(word)) word = info.previousActiveState;
  if (!activeFeed(word)) word = casStateWord(CAS_CTL_FXO_IDLE, 0, 0, CAS_FEED_FORWARD);
  return (word & 0x000F000F) | CAS_NEXT_END << 10;
}

}  // namespace

CASSTATE& casCtlState() { return gCasState; }

bool casCtlValidHandle(CAS_CTL_HANDLE handle) {
  return gCasState.initialised && handle >= 0 && handle < CAS_CTL_MAX_CHANNELS;
}

CAS_CTL_STATUS casCtlSendProfile(CAS_CTL_HANDLE handle, void (*fill)(CASSTM&, const void*),
                                 const void* context) {
  if (!casCtlValidHandle(handle)) return CAS_CTL_FAILURE;
  auto* profile = new (std::nothrow) CASPROFILE{};
  if (profile == nullptr) return CAS_CTL_FAILURE;
  profile->index = static_cast<uint16_t>(handle);
  fill(profile->casstm, context);
  return casCmdData(handle, CAS_CMD_PROFILE, profile);
}

CAS_CTL_STATUS casAction(CAS_CTL_HANDLE handle, uint32_t word) {
  const uint32_t step = (word & ~0xFC00u) | CAS_NEXT_END << 10;
  return casCtlSendProfile(
      handle,
      [](CASSTM& stm, const void* w) { stm.state[0] = {*static_cast<const uint32_t*>(w), 2}; },
      &step);
}

CAS_CTL_STATUS casActionGenEvent(CAS_CTL_HANDLE handle, uint32_t word, uint32_t duration) {
  const CASSTATEINFO steps[2] = {
      {(word & ~0xFC00u) | 1u << 10, duration},
      {(word & 0xFFFF000Fu) | 0xF510u, 0},  // same state and feed, timer expire, end
  };
  return casCtlSendProfile(
      handle,
      [](CASSTM& stm, const void* s) {
        const auto* st = static_cast<const CASSTATEINFO*>(s);
        stm.state[0] = st[0];
        stm.state[1] = st[1];
      },
      steps);
}

void casCtlTaskPeriod(void) {
  for (CASSRV& srv : gCasState.service) casBlk(&srv);
  casCtlStaggerStep();
}

void casCtlStopTask(void) {
  if (!gCasState.taskRunning) return;
  stopRequested.store(true, std::memory_order_release);
  vosTaskWaitForDone(gCasState.taskId);
  gCasState.taskRunning = false;
}

CAS_CTL_STATUS casCtlInit(CAS_CTL_CALLBACK callback) {
  if (gCasState.initialised) return CAS_CTL_FAILURE;  // a second start would orphan the task
  VOS_MUTEX mutex = nullptr;
  if (vosMutexCreate("CASMutex", &mutex) != VOS_STATUS_OK) return CAS_CTL_FAILURE;
  gCasState.numChannels = CAS_CTL_MAX_CHANNELS;
  gCasState.callback = callback;
  gCasState.mutex = mutex;
  gCasState.taskRunning = false;
  gCasState.initialised = true;
  for (int i = 0; i < CAS_CTL_MAX_CHANNELS; ++i) {
    CASSRV& srv = gCasState.service[i];
    casReset(&srv);
    srv.callbackp = casEventForwarder;
    srv.localmem.pMutex = mutex;
    srv.localmem.channelinfo.pMutex = mutex;
    casCmd(i, CAS_CMD_CONFIG, CAS_TYPE_FXO, static_cast<uint16_t>(i));
  }
  casCtlStaggerInit();
  stopRequested.store(false, std::memory_order_release);
  if (vosTaskCreateMain("HCAS", kHcasStackSize, kHcasPriority, nullptr, casTaskMain, nullptr,
                        nullptr, &gCasState.taskId, false,
                        VOS_TASKSTART_RUNNING) != VOS_STATUS_OK) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "CAS: unable to create the HCAS task\n");
    casCtlDeinit();
    return CAS_CTL_FAILURE;
  }
  gCasState.taskRunning = true;
  return CAS_CTL_SUCCESS;
}

CAS_CTL_STATUS casCtlDeinit(void) {
  if (!gCasState.initialised) return CAS_CTL_FAILURE;
  casCtlStopTask();
  for (int i = 0; i < CAS_CTL_MAX_CHANNELS; ++i) {
    casCmd(i, CAS_CMD_ENABLE, 0, 0);
    casCmd(i, CAS_CMD_SHUTDOWN, 0, 0);
    casReset(&gCasState.service[i]);
  }
  vosMutexDestroy(gCasState.mutex);
  gCasState.mutex = nullptr;
  gCasState.callback = nullptr;
  gCasState.initialised = false;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "CAS: CAS shutdown complete!\n");
  return CAS_CTL_SUCCESS;
}

CAS_CTL_STATUS casCtlEndptInit(int ept, CAS_TYPE channelType, CAS_CTL_HANDLE* handle,
                               const CAS_CTL_FXO_PARMS* fxoParms, CAS_CTL_CALLBACK casCallback) {
  if (!gCasState.initialised || handle == nullptr || fxoParms == nullptr ||
      channelType > CAS_TYPE_FXS) {
    return CAS_CTL_FAILURE;
  }
  CAS_CTL_HANDLE found = -1;
  {
    StateLock lock;
    for (int i = 0; i < CAS_CTL_MAX_CHANNELS && found < 0; ++i) {
      if (!gCasState.service[i].inUse) {
        gCasState.service[i].inUse = 1;
        found = i;
      }
    }
  }
  if (found < 0) return CAS_CTL_FAILURE;
  casCmd(found, CAS_CMD_CONFIG, channelType, static_cast<uint16_t>(found));
  {
    StateLock lock;
    CASCHANNELINFO& info = channel(found).channelinfo;
    info.ept = ept;
    info.casCallback = casCallback;
    info.earlyOnState = info.earlyOffState = info.delayOnState = info.delayOffState = 1;
  }
  auto* parms = new (std::nothrow) CAS_CTL_FXO_PARMS(*fxoParms);
  if (parms == nullptr || casCmdData(found, CAS_CMD_FXO_PARMS, parms) != CAS_CTL_SUCCESS) {
    StateLock lock;
    gCasState.service[found].inUse = 0;
    return CAS_CTL_FAILURE;
  }
  casCmd(found, CAS_CMD_ENABLE, 1, 0);
  *handle = found;
  return CAS_CTL_SUCCESS;
}

CAS_CTL_STATUS casCtlEndptDeinit(CAS_CTL_HANDLE handle) {
  if (!casCtlValidHandle(handle)) return CAS_CTL_FAILURE;
  // An unbound channel stops driving the line and reporting: its ringing would have no owner.
  casCmd(handle, CAS_CMD_ENABLE, 0, 0);
  casCtlStaggerRemove(handle);
  {
    StateLock lock;
    CASCHANNELINFO& info = channel(handle).channelinfo;
    gCasState.service[handle].inUse = 0;
    info.casCallback = nullptr;
    info.earlyOnState = info.earlyOffState = info.delayOnState = info.delayOffState = 0;
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG, "CAS: CAS shutdown complete!\n");
  return CAS_CTL_SUCCESS;
}

CAS_CTL_STATUS casCtlRingOn(CAS_CTL_HANDLE handle) {
  return casAction(handle, casStateWord(CAS_CTL_FXO_ALERTING, 0, CAS_CTL_EVENT_RINGON,
                                        CAS_FEED_RINGING));
}

CAS_CTL_STATUS casCtlRingOff(CAS_CTL_HANDLE handle, int alert) {
  const uint32_t word = alert ? casStateWord(CAS_CTL_FXO_ALERTING, 0, CAS_CTL_EVENT_LCF,
                                             CAS_FEED_FORWARD)
                              : casStateWord(CAS_CTL_FXO_IDLE, 0, CAS_CTL_EVENT_LCF,
                                             CAS_FEED_FORWARD);
  const CAS_CTL_STATUS status = casAction(handle, word);
  if (casCtlValidHandle(handle)) casCtlStaggerRemove(handle);
  return status;
}

namespace {

bool readStatus(CAS_CTL_HANDLE handle, CASSTATUS* status) {
  CASCMD cmd{};
  cmd.cmd = CAS_CMD_STATUS;
  cmd.op2.ref = status;
  return casCtlValidHandle(handle) && casIO(&channel(handle), &cmd) == CAS_CTL_SUCCESS;
}

}  // namespace

bool casCtlLineIdle(CAS_CTL_HANDLE handle) {
  CASSTATUS status{};
  return readStatus(handle, &status) && casWordControlState(status.state) == CAS_CTL_FXO_IDLE;
}

CAS_CTL_STATUS casCtlChangePolarity(CAS_CTL_HANDLE handle, CAS_CTL_POLARITY polarity,
                                    CAS_CTL_EVENT event, uint32_t eventDelay) {
  CASSTATUS status{};
  if (!readStatus(handle, &status)) return CAS_CTL_FAILURE;
  const uint32_t feed = polarity == CAS_CTL_POLARITY_REVERSE ? CAS_FEED_REVERSE : CAS_FEED_FORWARD;
  const uint32_t word = feed + (status.state & 0xF0000) + ((static_cast<uint32_t>(event) & 0x3F) << 4);
  return eventDelay ? casActionGenEvent(handle, word, eventDelay) : casAction(handle, word);
}

CAS_CTL_STATUS casCtlSetStateGenEvent(CAS_CTL_HANDLE handle, uint32_t state, uint32_t duration) {
  const uint32_t word = requestedStateWord(state);
  if (word == 0 || !casCtlValidHandle(handle)) return CAS_CTL_FAILURE;
  return duration ? casActionGenEvent(handle, word, duration) : casAction(handle, word);
}

CAS_CTL_STATUS casCtlSetState(CAS_CTL_HANDLE handle, uint32_t state) {
  return casCtlSetStateGenEvent(handle, state, 0);
}

CAS_CTL_STATUS casCtlSetStateFXS(CAS_CTL_HANDLE handle, uint32_t state) {
  switch (state) {
    case CAS_CTL_FXS_RELEASED:
      return casAction(handle, casStateWord(CAS_CTL_FXS_RELEASED, 0, CAS_CTL_EVENT_ONHOOK,
                                            CAS_FEED_FORWARD));
    case CAS_CTL_FXS_SEIZED:
      return casAction(handle, casStateWord(CAS_CTL_FXS_SEIZED, 0, CAS_CTL_EVENT_OFFHOOK,
                                            CAS_FEED_OPEN));
    case CAS_CTL_FXS_CLIDRX:
      return casAction(handle, casStateWord(CAS_CTL_FXS_CLIDRX, 0, CAS_CTL_EVENT_ONHOOK,
                                            CAS_FEED_FORWARD));
    default:
      return CAS_CTL_FAILURE;
  }
}

CAS_CTL_STATUS casCtlSupervisoryDisconnect(CAS_CTL_HANDLE handle, uint32_t duration,
                                           CAS_OSI_PATTERN pattern) {
  if (!casCtlValidHandle(handle)) return CAS_CTL_FAILURE;
  if (pattern != CAS_OSI_DEFAULT && pattern != CAS_OSI_VMWI) return CAS_CTL_FAILURE;
  StateLock lock;
  const OsiRequest osi{duration, osiRestoreWord(channel(handle).channelinfo)};
  return casCtlSendProfile(handle, pattern == CAS_OSI_DEFAULT ? fillOsiDefault : fillOsiVmwi,
                           &osi);
}

CAS_CTL_STATUS casCtlSupervisoryDisconnectOn(CAS_CTL_HANDLE handle) {
  return casAction(handle, casStateWord(CAS_CTL_FXO_SERVICEDENIED, 0, CAS_CTL_EVENT_LCFO,
                                        CAS_FEED_OPEN));
}

CAS_CTL_STATUS casCtlSupervisoryDisconnectOff(CAS_CTL_HANDLE handle, int alert, int offhook) {
  const uint32_t control = offhook ? CAS_CTL_FXO_ACTIVE
                           : alert ? CAS_CTL_FXO_ALERTING
                                   : CAS_CTL_FXO_IDLE;
  return casAction(handle, casStateWord(control, 0, CAS_CTL_EVENT_LCF, CAS_FEED_FORWARD));
}

CAS_CTL_STATUS casCtlIgnoreHookState(CAS_CTL_HANDLE handle, int duration) {
  if (!casCtlValidHandle(handle) || duration < 0) return CAS_CTL_FAILURE;
  const auto ms = static_cast<uint16_t>(std::min(duration, CAS_IGNOREHOOKSTATE_ON));
  channel(handle).channelinfo.ignoreHookState.store(ms, std::memory_order_relaxed);
  return CAS_CTL_SUCCESS;
}

CAS_CTL_STATUS casCtlEnableFastSlicStateMode(CAS_CTL_HANDLE handle, int enable) {
  if (!casCtlValidHandle(handle)) return CAS_CTL_FAILURE;
  int ept;
  {
    StateLock lock;
    ept = channel(handle).channelinfo.ept;
  }
  return casLineOps().setFastSlicMode(ept, enable) != 0 ? CAS_CTL_FAILURE : CAS_CTL_SUCCESS;
}
