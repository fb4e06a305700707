// Task events: up to 32 event bits per task that other tasks set and the owner waits for, alone
// or as sets. Every task is registered here when it is created.
#pragma once

#include <cstdint>

#include "vosSem.h"
#include "vosTask.h"
#include "vosTypes.h"

// Tasks that can hold event records at the same time.
constexpr int VOS_EVENT_MAX_TASKS = 16;

typedef struct {
  uint32_t eventBit;  // a single bit; 0 when the event is not valid
  int32_t taskIndex;  // the owner's record
} VOS_EVENT;

typedef struct {
  uint32_t eventBits;
  uint32_t eventsReceived;
  int32_t taskIndex;
} VOS_EVENT_SET;

typedef enum : int {
  VOS_EVENT_SET_WAIT_MODE_ANY = 0,
  VOS_EVENT_SET_WAIT_MODE_ALL = 1,
} VOS_EVENT_SET_WAIT_MODE;

VOS_STATUS vosEventInit(void);
VOS_STATUS vosEventTerm(void);

VOS_STATUS vosEventRegisterTask(VOS_TASK_ID taskId);
VOS_STATUS vosEventUnRegisterTask(VOS_TASK_ID taskId);

VOS_STATUS vosEventCreate(VOS_TASK_ID taskId, VOS_EVENT *event);
VOS_STATUS vosEventDestroy(VOS_EVENT *event);
VOS_STATUS vosEventSend(const VOS_EVENT *event);
// Owner only. VOS_WAIT_FOREVER waits without limit; OK, TIMEOUT or ERR.
VOS_STATUS vosEventTimedReceive(const VOS_EVENT *event, uint32_t timeoutMs);
VOS_STATUS vosEventReceive(const VOS_EVENT *event);
// Clears a pending event without waiting.
VOS_STATUS vosEventClear(const VOS_EVENT *event);

VOS_STATUS vosEventSetCreate(VOS_TASK_ID taskId, VOS_EVENT_SET *eventSet);
VOS_STATUS vosEventSetDestroy(VOS_EVENT_SET *eventSet);
VOS_STATUS vosEventSetAddEvent(VOS_EVENT_SET *eventSet, const VOS_EVENT *event);
VOS_STATUS vosEventSetRemoveEvent(VOS_EVENT_SET *eventSet, const VOS_EVENT *event);
VOS_STATUS vosEventSetRemoveAllEvents(VOS_EVENT_SET *eventSet);
// Owner only: waits for any or all of the set's events and stores them in eventsReceived.
VOS_STATUS vosEventSetTimedReceive(VOS_EVENT_SET *eventSet, VOS_EVENT_SET_WAIT_MODE mode,
                                   uint32_t timeoutMs);
VOS_STATUS vosEventSetReceive(VOS_EVENT_SET *eventSet, VOS_EVENT_SET_WAIT_MODE mode);
// Whether the event was received in the last wait; clears it there.
VOS_BOOL vosEventSetIsEventSet(VOS_EVENT_SET *eventSet, const VOS_EVENT *event);
