// Timers: each timer has a task of its own ("VOSTMTSK") that waits on its start, stop and
// restart events with the timer's time-out and sends the owner's event on every expiry.
#include "voiceLog.h"
#include "vosError.h"
#include "vosTime.h"
#include "vosTimer.h"

#include <cstdint>

namespace {

const char *const timerFunctionNames[] = {
    "vosTimerInit",  "vosTimerTerm",    "vosTimerCreate", "vosTimerDestroy",
    "vosTimerStart", "vosTimerRestart", "vosTimerStop",   "vosTimerWait",
};

bool calledByOwner(const VOS_TIMER *timer) { return pthread_equal(timer->taskId, pthread_self()); }

// Runs in the timer task before its loop: the task's own events and the set it waits on are
// made here, in the task that owns them, and the creator is told when they exist.
void timerTaskInit(VOS_TASK_ARG arg) {
  auto *timer = static_cast<VOS_TIMER *>(arg);
  VOS_TASK_ID self = pthread_self();
  bool ok = vosEventCreate(self, &timer->eventStart) == VOS_STATUS_OK &&
            vosEventCreate(self, &timer->eventStop) == VOS_STATUS_OK &&
            vosEventCreate(self, &timer->eventRestart) == VOS_STATUS_OK &&
            vosEventSetCreate(self, &timer->apiEventSet) == VOS_STATUS_OK &&
            vosEventSetAddEvent(&timer->apiEventSet, &timer->eventStart) == VOS_STATUS_OK &&
            vosEventSetAddEvent(&timer->apiEventSet, &timer->eventStop) == VOS_STATUS_OK &&
            vosEventSetAddEvent(&timer->apiEventSet, &timer->eventRestart) == VOS_STATUS_OK;
  if (!ok) {
    timer->eventStart.eventBit = 0;
  }
  vosSemLiteGive(&timer->ready);
}

void timerTaskDeinit(VOS_TASK_ARG) {}

// The timer task's loop. Its time-out is taken from the timer when a start arrives; a stop or a
// single-shot expiry makes it wait without limit again.
void timerTaskMain(VOS_TASK_ARG arg) {
  auto *timer = static_cast<VOS_TIMER *>(arg);
  if (timer->eventStart.eventBit == 0) {
    return;
  }
  uint32_t timeoutMs = VOS_WAIT_FOREVER;
  VOS_TIMER_MODE mode = VOS_TIMER_MODE_ONCE;
  for (;;) {
    VOS_STATUS status =
        vosEventSetTimedReceive(&timer->apiEventSet, VOS_EVENT_SET_WAIT_MODE_ANY, timeoutMs);
    if (status == VOS_STATUS_RESET || status == VOS_STATUS_EXIT) {
      break;
    }
    if (status == VOS_STATUS_TIMEOUT) {
      vosEventSend(&timer->event);
      if (mode == VOS_TIMER_MODE_ONCE) {
        timeoutMs = VOS_WAIT_FOREVER;
        timer->bIsRunning = false;
      }
      continue;
    }
    if (status != VOS_STATUS_OK) {
      vosSleep(10);
      continue;
    }
    if (vosEventSetIsEventSet(&timer->apiEventSet, &timer->eventStop)) {
      timeoutMs = VOS_WAIT_FOREVER;
      timer->bIsRunning = false;
    }
    if (vosEventSetIsEventSet(&timer->apiEventSet, &timer->eventStart)) {
      const int32_t stored = timer->lastTimeoutMsec.load();
      timeoutMs = stored < 0 ? VOS_WAIT_FOREVER : static_cast<uint32_t>(stored);
      mode = timer->lastTimerMode.load();
      timer->bIsRunning = true;
    }
    vosEventSetIsEventSet(&timer->apiEventSet, &timer->eventRestart);
  }
}

}  // namespace

VOS_STATUS vosTimerInit(void) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosTimerInit");
  return vosErrorAddFunctionStrings(VOS_TIMER_MODULE, timerFunctionNames,
                                    sizeof timerFunctionNames / sizeof timerFunctionNames[0]);
}

VOS_STATUS vosTimerTerm(void) { return VOS_STATUS_OK; }

VOS_STATUS vosTimerCreate(VOS_TIMER *timer) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosTimerCreate");
  timer->eventStart = timer->eventStop = timer->eventRestart = VOS_EVENT{0, -1};
  timer->apiEventSet = VOS_EVENT_SET{0, 0, -1};
  timer->bIsRunning = false;
  timer->lastTimeoutMsec = -1;
  timer->lastTimerMode = VOS_TIMER_MODE_ONCE;
  timer->taskId = pthread_self();
  timer->timerId = VOS_TASK_ID{};
  VOS_STATUS status = vosEventCreate(timer->taskId, &timer->event);
  if (status != VOS_STATUS_OK) {
    return status;
  }
  vosSemLiteCreate("VOSTMRDY", 0, 1, &timer->ready);
  VOS_TASK_EXTENDED_ARG extArg{VOS_TASK_AFFINITY_ALL_TP, timer};
  status = vosTaskCreateMain("VOSTMTSK", 8192, 90, timerTaskInit, timerTaskMain, timerTaskDeinit,
                             &extArg, &timer->timerId, VOS_FALSE, VOS_TASKSTART_RUNNING);
  if (status == VOS_STATUS_OK) {
    vosSemLiteTake(&timer->ready);
    if (timer->eventStart.eventBit == 0) {
      // The timer task could not make its events (no event record left): it has ended.
      vosTaskWaitForDone(timer->timerId);
      vosEventUnRegisterTask(timer->timerId);
      status = VOS_STATUS_ERR;
    }
  }
  if (status != VOS_STATUS_OK) {
    vosSemLiteDestroy(&timer->ready);
    vosEventDestroy(&timer->event);
  }
  return status;
}

VOS_STATUS vosTimerStart(VOS_TIMER *timer, uint32_t timeoutMs, VOS_TIMER_MODE mode) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosTimerStart");
  if (!calledByOwner(timer)) {
    extVosLog(VOS_LOGLEVEL_ERROR, "vosTimerStart - Calling task does not own timer");
    return VOS_STATUS_ERR;
  }
  if (timer->bIsRunning) {
    vosTimerStop(timer);
  }
  timer->lastTimeoutMsec = static_cast<int32_t>(timeoutMs > INT32_MAX ? INT32_MAX : timeoutMs);
  timer->lastTimerMode = mode;
  vosEventClear(&timer->event);
  timer->bIsRunning = true;
  return vosEventSend(&timer->eventStart);
}

VOS_STATUS vosTimerStop(VOS_TIMER *timer) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosTimerStop");
  if (!calledByOwner(timer)) {
    extVosLog(VOS_LOGLEVEL_ERROR, "vosTimerStop - Calling task does not own timer");
    return VOS_STATUS_ERR;
  }
  if (timer->bIsRunning) {
    timer->lastTimeoutMsec = -1;
    timer->bIsRunning = false;
    return vosEventSend(&timer->eventStop);
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosTimerRestart(VOS_TIMER *timer) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosTimerRestart");
  if (!timer->bIsRunning) {
    extVosLog(VOS_LOGLEVEL_ERROR, "vosTimerRestart - Timer not started. Can't restart...");
    return VOS_STATUS_ERR;
  }
  const int32_t timeoutMs = timer->lastTimeoutMsec.load();
  return vosTimerStart(timer, static_cast<uint32_t>(timeoutMs < 0 ? 0 : timeoutMs),
                       timer->lastTimerMode.load());
}

VOS_STATUS vosTimerWait(VOS_TIMER *timer) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosTimerWait");
  if (!timer->bIsRunning) {
    // A single-shot timer that has already fired is no longer running: its event is pending.
    if (calledByOwner(timer) && vosEventTimedReceive(&timer->event, 0) == VOS_STATUS_OK) {
      return VOS_STATUS_OK;
    }
    extVosLog(VOS_LOGLEVEL_ERROR, "vosTimerWait - Timer not running. Can't wait for it...");
    return VOS_STATUS_ERR;
  }
  if (!calledByOwner(timer)) {
    extVosLog(VOS_LOGLEVEL_ERROR, "vosTimerWait - Calling task does not own timer");
    return VOS_STATUS_ERR;
  }
  return vosEventReceive(&timer->event);
}

VOS_STATUS vosTimerGetEvent(VOS_TIMER *timer, VOS_EVENT *event) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosTimerGetEvent");
  *event = timer->event;
  return VOS_STATUS_OK;
}

VOS_STATUS vosTimerDestroy(VOS_TIMER *timer) {
  extVosLog(VOS_LOGLEVEL_INFO, "vosTimerDestroy");
  if (timer->bIsRunning) {
    vosTimerStop(timer);
  }
  VOS_STATUS status = vosTaskDestroy(timer->timerId);
  vosEventDestroy(&timer->event);
  vosSemLiteDestroy(&timer->ready);
  return status;
}
