// Task events: 16 task records, each with 32 event bits and a counting semaphore that wakes the
// owner. Only the owner waits on its events; any task may send them.
#include <pthread.h>

#include <cerrno>
#include <cstring>

#include "voiceLog.h"
#include "vosError.h"
#include "vosEvent.h"
#include "vosMutex.h"
#include "vosSem.h"

namespace {

struct VOS_EVENT_TCB {
  VOS_TASK_ID taskId;  // 0: free record
  VOS_SEM semId;
  uint32_t availableEventBits;  // 1 = bit free
  uint32_t anyEventBits;        // what the owner waits for: any of these
  uint32_t allEventBits;        // or all of these
  uint32_t setEventBits;        // sent and not yet received
  bool bTaskWaiting;
};

const char *const eventFunctionNames[15] = {
    "vosEventInit",    "vosEventTerm",         "vosEventCreate", "vosEventDestroy",
    "vosEventReceive", "vosEventTimedReceive", "vosEventSend",
};

enum { VOS_EVENT_FN_RECEIVE = 4 };

VOS_EVENT_TCB gEventTcb[VOS_EVENT_MAX_TASKS];
VOS_MUTEX eventMutex = nullptr;

bool isFree(const VOS_EVENT_TCB &tcb) { return tcb.taskId == 0; }

// Index of the record registered for the task, or -1.
int findTask(VOS_TASK_ID task) {
  for (int i = 0; i < VOS_EVENT_MAX_TASKS; ++i) {
    if (!isFree(gEventTcb[i]) && pthread_equal(gEventTcb[i].taskId, task)) {
      return i;
    }
  }
  return -1;
}

bool validIndex(int32_t index) { return index >= 0 && index < VOS_EVENT_MAX_TASKS; }

// The owner's wait is over when one of its any-bits or all of its all-bits have been sent.
bool waitSatisfied(const VOS_EVENT_TCB &tcb) {
  if ((tcb.setEventBits & tcb.anyEventBits) != 0) {
    return true;
  }
  return tcb.allEventBits != 0 && (tcb.setEventBits & tcb.allEventBits) == tcb.allEventBits;
}

class EventLock {
 public:
  EventLock() : ok_(eventMutex != nullptr && vosMutexAcquire(eventMutex) == VOS_STATUS_OK) {}
  ~EventLock() {
    if (ok_) {
      vosMutexRelease(eventMutex);
    }
  }
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

// Waits, with the event mutex released, until a send satisfies the stored wait condition or the
// time is up. Called and returning with the lock held (by lock). Returns OK, TIMEOUT or ERR.
VOS_STATUS waitForEvents(VOS_EVENT_TCB &tcb, uint32_t timeoutMs) {
  tcb.bTaskWaiting = true;
  vosMutexRelease(eventMutex);
  VOS_STATUS status = vosSemTimedTake(&tcb.semId, timeoutMs);
  vosMutexAcquire(eventMutex);
  if (status == VOS_STATUS_TIMEOUT) {
    if (tcb.bTaskWaiting) {
      tcb.bTaskWaiting = false;
      return VOS_STATUS_TIMEOUT;
    }
    // A send gave the semaphore just after the time-out: pick up its give.
    vosSemTimedTake(&tcb.semId, 0);
    return VOS_STATUS_OK;
  }
  if (status != VOS_STATUS_OK) {
    tcb.bTaskWaiting = false;
    extVosLog(VOS_LOGLEVEL_ERROR, "ERROR: vosEventTimedReceive() - error");
    vosErrorCheckStatusLinuxUser(ENOENT, vosFunctionId(VOS_EVENT_MODULE, VOS_EVENT_FN_RECEIVE));
    return VOS_STATUS_ERR;
  }
  return VOS_STATUS_OK;
}

}  // namespace

VOS_STATUS vosEventInit(void) {
  vosErrorAddFunctionStrings(VOS_EVENT_MODULE, eventFunctionNames,
                             sizeof eventFunctionNames / sizeof eventFunctionNames[0]);
  memset(static_cast<void *>(gEventTcb), 0, sizeof gEventTcb);
  if (eventMutex == nullptr) {
    return vosMutexCreate("EVMU", &eventMutex);
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosEventTerm(void) {
  if (eventMutex != nullptr) {
    vosMutexDestroy(eventMutex);
    eventMutex = nullptr;
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosEventRegisterTask(VOS_TASK_ID task) {
  EventLock lock;
  if (!lock.ok()) {
    return VOS_STATUS_ERR;
  }
  for (VOS_EVENT_TCB &tcb : gEventTcb) {
    if (!isFree(tcb)) {
      continue;
    }
    if (vosSemCreate("EVSM", 0, 1, &tcb.semId) != VOS_STATUS_OK) {
      extVosLog(VOS_LOGLEVEL_ERROR, "vosEventRegisterTask() - Unable to create semaphor");
      return VOS_STATUS_ERR;
    }
    tcb.taskId = task;
    tcb.availableEventBits = 0xFFFFFFFFu;
    tcb.anyEventBits = tcb.allEventBits = tcb.setEventBits = 0;
    tcb.bTaskWaiting = false;
    return VOS_STATUS_OK;
  }
  extVosLog(VOS_LOGLEVEL_ERROR, "vosEventRegisterTask() - No free entries in TCB list");
  return VOS_STATUS_ERR;
}

VOS_STATUS vosEventUnRegisterTask(VOS_TASK_ID task) {
  EventLock lock;
  if (!lock.ok()) {
    return VOS_STATUS_ERR;
  }
  int index = findTask(task);
  if (index < 0) {
    extVosLog(VOS_LOGLEVEL_ERROR, "vosEventUnRegisterTask() - task does not exist");
    return VOS_STATUS_ERR;
  }
  vosSemDestroy(&gEventTcb[index].semId);
  memset(static_cast<void *>(&gEventTcb[index]), 0, sizeof gEventTcb[index]);
  return VOS_STATUS_OK;
}

VOS_STATUS vosEventCreate(VOS_TASK_ID task, VOS_EVENT *event) {
  event->eventBit = 0;
  event->taskIndex = -1;
  EventLock lock;
  int index = lock.ok() ? findTask(task) : -1;
  if (index < 0 || gEventTcb[index].availableEventBits == 0) {
    extVosLog(VOS_LOGLEVEL_ERROR, "newEvent() - no more free event for this task");
    return VOS_STATUS_ERR;
  }
  VOS_EVENT_TCB &tcb = gEventTcb[index];
  const uint32_t bit = tcb.availableEventBits & (0u - tcb.availableEventBits);
  tcb.availableEventBits &= ~bit;
  event->eventBit = bit;
  event->taskIndex = index;
  return VOS_STATUS_OK;
}

VOS_STATUS vosEventDestroy(VOS_EVENT *event) {
  EventLock lock;
  if (!lock.ok() || !validIndex(event->taskIndex)) {
    return VOS_STATUS_ERR;
  }
  VOS_EVENT_TCB &tcb = gEventTcb[event->taskIndex];
  if (!isFree(tcb)) {
    tcb.availableEventBits |= event->eventBit;
    tcb.setEventBits &= ~event->eventBit;
  }
  event->eventBit = 0;
  event->taskIndex = -1;
  return VOS_STATUS_OK;
}

VOS_STATUS vosEventSend(const VOS_EVENT *event) {
  EventLock lock;
  if (!lock.ok() || !validIndex(event->taskIndex) || event->eventBit == 0 ||
      isFree(gEventTcb[event->taskIndex])) {
    return VOS_STATUS_ERR;
  }
  VOS_EVENT_TCB &tcb = gEventTcb[event->taskIndex];
  tcb.setEventBits |= event->eventBit;
  if (tcb.bTaskWaiting && waitSatisfied(tcb)) {
    tcb.bTaskWaiting = false;
    vosSemGive(&tcb.semId);
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosEventTimedReceive(const VOS_EVENT *event, uint32_t timeoutMs) {
  EventLock lock;
  if (!lock.ok() || !validIndex(event->taskIndex)) {
    return VOS_STATUS_ERR;
  }
  VOS_EVENT_TCB &tcb = gEventTcb[event->taskIndex];
  if (isFree(tcb)) {
    extVosLog(VOS_LOGLEVEL_ERROR, "ERROR: vosEventTimedReceive() - , task is unregistered.");
    return VOS_STATUS_ERR;
  }
  const pthread_t self = pthread_self();
  if (!pthread_equal(self, tcb.taskId)) {
    extVosLog(VOS_LOGLEVEL_ERROR,
              "ERROR: vosEventTimedReceive - calling taskId (0x%x) does not correspond to event's taskId (0x%x)",
              static_cast<unsigned>(self), static_cast<unsigned>(tcb.taskId));
    return VOS_STATUS_ERR;
  }
  if ((tcb.setEventBits & event->eventBit) == 0) {
    tcb.anyEventBits = event->eventBit;
    tcb.allEventBits = 0;
    VOS_STATUS status = waitForEvents(tcb, timeoutMs);
    tcb.anyEventBits = 0;
    if (status != VOS_STATUS_OK) {
      return status;
    }
  }
  tcb.setEventBits &= ~event->eventBit;
  return VOS_STATUS_OK;
}

VOS_STATUS vosEventReceive(const VOS_EVENT *event) {
  return vosEventTimedReceive(event, VOS_WAIT_FOREVER);
}

VOS_STATUS vosEventClear(const VOS_EVENT *event) {
  return vosEventTimedReceive(event, 0) == VOS_STATUS_ERR ? VOS_STATUS_ERR : VOS_STATUS_OK;
}

VOS_STATUS vosEventSetCreate(VOS_TASK_ID task, VOS_EVENT_SET *eventSet) {
  EventLock lock;
  int index = lock.ok() ? findTask(task) : -1;
  eventSet->eventBits = 0;
  eventSet->eventsReceived = 0;
  eventSet->taskIndex = index;
  return index < 0 ? VOS_STATUS_ERR : VOS_STATUS_OK;
}

VOS_STATUS vosEventSetDestroy(VOS_EVENT_SET *eventSet) {
  eventSet->eventBits = 0;
  eventSet->eventsReceived = 0;
  eventSet->taskIndex = -1;
  return VOS_STATUS_OK;
}

VOS_STATUS vosEventSetAddEvent(VOS_EVENT_SET *eventSet, const VOS_EVENT *event) {
  if (eventSet->taskIndex != event->taskIndex) {
    extVosLog(VOS_LOGLEVEL_ERROR,
              "ERROR: vosEventSetAddEvent - eventSet taskIndex (0x%x) does not correspond to event's taskIndex (0x%x)",
              static_cast<unsigned>(eventSet->taskIndex), static_cast<unsigned>(event->taskIndex));
    return VOS_STATUS_ERR;
  }
  eventSet->eventBits |= event->eventBit;
  return VOS_STATUS_OK;
}

VOS_STATUS vosEventSetRemoveEvent(VOS_EVENT_SET *eventSet, const VOS_EVENT *event) {
  eventSet->eventBits &= ~event->eventBit;
  eventSet->eventsReceived &= ~event->eventBit;
  return VOS_STATUS_OK;
}

VOS_STATUS vosEventSetRemoveAllEvents(VOS_EVENT_SET *eventSet) {
  eventSet->eventBits = 0;
  eventSet->eventsReceived = 0;
  return VOS_STATUS_OK;
}

VOS_STATUS vosEventSetTimedReceive(VOS_EVENT_SET *eventSet, VOS_EVENT_SET_WAIT_MODE mode,
                                   uint32_t timeoutMs) {
  EventLock lock;
  if (!lock.ok() || !validIndex(eventSet->taskIndex) || isFree(gEventTcb[eventSet->taskIndex])) {
    return VOS_STATUS_ERR;
  }
  VOS_EVENT_TCB &tcb = gEventTcb[eventSet->taskIndex];
  const pthread_t self = pthread_self();
  if (!pthread_equal(self, tcb.taskId)) {
    extVosLog(VOS_LOGLEVEL_ERROR,
              "ERROR: vosEventSetTimedReceive - calling taskId (0x%x) does not correspond to event set's taskId (0x%x) taskIndex = (0x%x)",
              static_cast<unsigned>(self), static_cast<unsigned>(tcb.taskId),
              static_cast<unsigned>(eventSet->taskIndex));
    return VOS_STATUS_ERR;
  }
  const uint32_t bits = eventSet->eventBits;
  if (mode == VOS_EVENT_SET_WAIT_MODE_ALL) {
    tcb.anyEventBits = 0;
    tcb.allEventBits = bits;
  } else {
    tcb.anyEventBits = bits;
    tcb.allEventBits = 0;
  }
  if (!waitSatisfied(tcb)) {
    VOS_STATUS status = waitForEvents(tcb, timeoutMs);
    if (status != VOS_STATUS_OK) {
      tcb.anyEventBits = tcb.allEventBits = 0;
      return status;
    }
  }
  eventSet->eventsReceived = tcb.setEventBits & bits;
  tcb.setEventBits &= ~eventSet->eventsReceived;
  tcb.anyEventBits = tcb.allEventBits = 0;
  return VOS_STATUS_OK;
}

VOS_STATUS vosEventSetReceive(VOS_EVENT_SET *eventSet, VOS_EVENT_SET_WAIT_MODE mode) {
  return vosEventSetTimedReceive(eventSet, mode, VOS_WAIT_FOREVER);
}

VOS_BOOL vosEventSetIsEventSet(VOS_EVENT_SET *eventSet, const VOS_EVENT *event) {
  if ((eventSet->eventsReceived & event->eventBit) == 0) {
    return VOS_FALSE;
  }
  eventSet->eventsReceived &= ~event->eventBit;
  return VOS_TRUE;
}
