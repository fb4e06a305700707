// Timers served by a task of their own that sends the owner's event on every expiry.
#pragma once

#include <atomic>
#include <cstdint>

#include "vosEvent.h"
#include "vosSem.h"
#include "vosTask.h"
#include "vosTypes.h"

typedef enum : int {
  VOS_TIMER_MODE_ONCE = 0,
  VOS_TIMER_MODE_REPEAT = 1,
} VOS_TIMER_MODE;

typedef struct {
  VOS_EVENT eventStart;
  VOS_EVENT eventStop;
  VOS_EVENT eventRestart;
  VOS_EVENT_SET apiEventSet;
  std::atomic<bool> bIsRunning;
  std::atomic<int32_t> lastTimeoutMsec;  // -1 when stopped
  std::atomic<VOS_TIMER_MODE> lastTimerMode;
  VOS_EVENT event;       // sent to the owner on expiry
  VOS_TASK_ID taskId;    // the owner: the task that created the timer
  VOS_TASK_ID timerId;   // the timer's own task
  VOS_SEMLITE ready;     // given by the timer task once its events exist
} VOS_TIMER;

VOS_STATUS vosTimerInit(void);
VOS_STATUS vosTimerTerm(void);

VOS_STATUS vosTimerCreate(VOS_TIMER *timer);
VOS_STATUS vosTimerDestroy(VOS_TIMER *timer);
VOS_STATUS vosTimerStart(VOS_TIMER *timer, uint32_t timeoutMs, VOS_TIMER_MODE mode);
VOS_STATUS vosTimerRestart(VOS_TIMER *timer);
VOS_STATUS vosTimerStop(VOS_TIMER *timer);
VOS_STATUS vosTimerWait(VOS_TIMER *timer);
VOS_STATUS vosTimerGetEvent(VOS_TIMER *timer, VOS_EVENT *event);
