// Message queues: 16 queues, each with a pool of 100 32-byte elements on a free chain and a
// pending chain, woken through a counting semaphore or a task event of the owner.
#include <cstring>

#include "str.h"
#include "voiceLog.h"
#include "vosError.h"
#include "vosMsgQ.h"
#include "vosMutex.h"
#include "vosSem.h"

namespace {

struct MsgElement {
  VOS_MSGQ_MSG msg;
  MsgElement *next;
};

struct MSGQ {
  MsgElement *freeChain;
  MsgElement *pendingChain;
  MsgElement bufferPool[VOS_MSGQ_MAX_DEPTH];
  VOS_SEM sema4;
  VOS_EVENT event;
  bool isEventBased;
  bool inUse;
  int noFreeMsgCount;
};

const char *const msgQFunctionNames[] = {
    "vosMsgQInit", "vosMsgQTerm",    "vosMsgQCreate",       "vosMsgQDestroy",
    "vosMsgQSend", "vosMsgQReceive", "vosMsgQTimedReceive",
};

MSGQ gMsgQ[VOS_MSGQ_MAX_QUEUES];
VOS_MUTEX msgQMutex = nullptr;

class MsgQLock {
 public:
  MsgQLock() : ok_(msgQMutex != nullptr && vosMutexAcquire(msgQMutex) == VOS_STATUS_OK) {}
  ~MsgQLock() {
    if (ok_) {
      vosMutexRelease(msgQMutex);
    }
  }
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

// The queue of an id in use (ids are the record index plus 1), or null. Call with the lock held.
MSGQ *queueOf(VOS_MSGQ id) {
  if (id < 1 || id > VOS_MSGQ_MAX_QUEUES || !gMsgQ[id - 1].inUse) {
    return nullptr;
  }
  return &gMsgQ[id - 1];
}

void resetQueue(MSGQ &q) {
  q.freeChain = nullptr;
  q.pendingChain = nullptr;
  q.isEventBased = false;
  q.inUse = false;
  q.noFreeMsgCount = 0;
  q.event = VOS_EVENT{0, -1};
}

// Takes a free record and chains its elements; the caller creates its wake-up.
VOS_STATUS createQueue(const char *name, uint32_t depth, bool eventBased, VOS_TASK_ID owner,
                       VOS_MSGQ *msgQ) {
  MsgQLock lock;
  if (!lock.ok()) {
    return VOS_STATUS_ERR;
  }
  int index = -1;
  for (int i = 0; i < VOS_MSGQ_MAX_QUEUES; ++i) {
    if (!gMsgQ[i].inUse) {
      index = i;
      break;
    }
  }
  if (index < 0) {
    extVosLog(VOS_LOGLEVEL_ERROR, "%s: no free message queue for \"%s\"", "vosMsgQCreate",
              name != nullptr ? name : "");
    return VOS_STATUS_ERR;
  }
  MSGQ &q = gMsgQ[index];
  resetQueue(q);
  const uint32_t elements = depth < VOS_MSGQ_MAX_DEPTH ? depth : VOS_MSGQ_MAX_DEPTH;
  for (uint32_t i = 0; i < elements; ++i) {
    q.bufferPool[i].next = i + 1 < elements ? &q.bufferPool[i + 1] : nullptr;
  }
  q.freeChain = elements > 0 ? &q.bufferPool[0] : nullptr;

  VOS_STATUS status;
  if (eventBased) {
    status = vosEventCreate(owner, &q.event);
  } else {
    char semName[16];
    strPrintf(semName, sizeof semName, "gMsgQ%d", index);
    status = vosSemCreate(semName, 0, VOS_MSGQ_MAX_DEPTH, &q.sema4);
  }
  if (status != VOS_STATUS_OK) {
    resetQueue(q);
    return status;
  }
  q.isEventBased = eventBased;
  q.inUse = true;
  *msgQ = static_cast<VOS_MSGQ>(index + 1);
  extVosLog(VOS_LOGLEVEL_INFO, "Created message queue \"%s\", depth %d, id %u",
            name != nullptr ? name : "", static_cast<int>(depth), *msgQ);
  return VOS_STATUS_OK;
}

bool pendingEmpty(VOS_MSGQ id) {
  MsgQLock lock;
  MSGQ *q = queueOf(id);
  return q == nullptr || q->pendingChain == nullptr;
}

// Waits on an event-based queue until a message is pending. Stale events of messages that were
// already taken are cleared first, so that the wait ends only for a new message.
VOS_STATUS waitForMessageEvent(const VOS_EVENT &event, VOS_MSGQ id, uint32_t timeoutMs) {
  if (!pendingEmpty(id)) {
    return VOS_STATUS_OK;
  }
  vosEventClear(&event);
  if (!pendingEmpty(id)) {
    return VOS_STATUS_OK;
  }
  return vosEventTimedReceive(&event, timeoutMs);
}

}  // namespace

VOS_STATUS vosMsgQInit(void) {
  vosErrorAddFunctionStrings(VOS_MSGQ_MODULE, msgQFunctionNames,
                             sizeof msgQFunctionNames / sizeof msgQFunctionNames[0]);
  for (MSGQ &q : gMsgQ) {
    resetQueue(q);
  }
  if (msgQMutex == nullptr) {
    return vosMutexCreate("MsgQ", &msgQMutex);
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosMsgQTerm(void) {
  if (msgQMutex != nullptr) {
    vosMutexDestroy(msgQMutex);
    msgQMutex = nullptr;
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosMsgQCreate(const char *name, uint32_t depth, VOS_MSGQ *msgQ) {
  return createQueue(name, depth, false, VOS_TASK_ID{}, msgQ);
}

VOS_STATUS vosMsgQCreateEventBased(const char *name, uint32_t depth, VOS_TASK_ID ownerTask,
                                   VOS_MSGQ *msgQ) {
  return createQueue(name, depth, true, ownerTask, msgQ);
}

VOS_STATUS vosMsgQDestroy(VOS_MSGQ msgQ) {
  MsgQLock lock;
  MSGQ *q = lock.ok() ? queueOf(msgQ) : nullptr;
  if (q == nullptr) {
    return VOS_STATUS_ERR;
  }
  if (q->isEventBased) {
    vosEventDestroy(&q->event);
  } else {
    vosSemDestroy(&q->sema4);
  }
  resetQueue(*q);
  return VOS_STATUS_OK;
}

VOS_STATUS vosMsgQSend(VOS_MSGQ msgQ, const VOS_MSGQ_MSG *msg) {
  VOS_EVENT event{};
  VOS_SEM *sem = nullptr;
  {
    MsgQLock lock;
    MSGQ *q = lock.ok() ? queueOf(msgQ) : nullptr;
    if (q == nullptr || msg == nullptr) {
      return VOS_STATUS_ERR;
    }
    MsgElement *element = q->freeChain;
    if (element == nullptr) {
      ++q->noFreeMsgCount;
      extVosLog(VOS_LOGLEVEL_ERROR, "Free message buffer pool empty - queue id %d",
                static_cast<int>(msgQ));
      return VOS_STATUS_ERR;
    }
    q->freeChain = element->next;
    element->msg = *msg;
    element->next = nullptr;
    MsgElement **tail = &q->pendingChain;
    while (*tail != nullptr) {
      tail = &(*tail)->next;
    }
    *tail = element;
    if (q->isEventBased) {
      event = q->event;
    } else {
      sem = &q->sema4;
    }
  }
  return sem != nullptr ? vosSemGive(sem) : vosEventSend(&event);
}

VOS_STATUS vosMsgQTimedReceive(VOS_MSGQ msgQ, uint32_t timeoutMs, VOS_MSGQ_MSG *msg) {
  VOS_EVENT event{};
  VOS_SEM *sem = nullptr;
  {
    MsgQLock lock;
    MSGQ *q = lock.ok() ? queueOf(msgQ) : nullptr;
    if (q == nullptr || msg == nullptr) {
      return VOS_STATUS_ERR;
    }
    if (q->isEventBased) {
      event = q->event;
    } else {
      sem = &q->sema4;
    }
  }
  VOS_STATUS status = sem != nullptr ? vosSemTimedTake(sem, timeoutMs)
                                     : waitForMessageEvent(event, msgQ, timeoutMs);
  if (status != VOS_STATUS_OK) {
    return status;
  }

  MsgQLock lock;
  MSGQ *q = lock.ok() ? queueOf(msgQ) : nullptr;
  if (q == nullptr || q->pendingChain == nullptr) {
    // The queue was destroyed while this caller waited.
    return VOS_STATUS_ERR;
  }
  MsgElement *element = q->pendingChain;
  q->pendingChain = element->next;
  *msg = element->msg;
  element->next = q->freeChain;
  q->freeChain = element;
  return VOS_STATUS_OK;
}

VOS_STATUS vosMsgQReceive(VOS_MSGQ msgQ, VOS_MSGQ_MSG *msg) {
  return vosMsgQTimedReceive(msgQ, VOS_WAIT_FOREVER, msg);
}

VOS_STATUS vosMsgQGetEvent(VOS_MSGQ msgQ, VOS_EVENT *event) {
  MsgQLock lock;
  MSGQ *q = lock.ok() ? queueOf(msgQ) : nullptr;
  if (q == nullptr) {
    return VOS_STATUS_ERR;
  }
  if (q->isEventBased && event != nullptr) {
    *event = q->event;
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosMsgQDisplayStats(VOS_MSGQ msgQ) {
  MsgQLock lock;
  MSGQ *q = lock.ok() ? queueOf(msgQ) : nullptr;
  if (q == nullptr) {
    return VOS_STATUS_ERR;
  }
  extVosLog(VOS_LOGLEVEL_INFO, "No Free Buffer Count: %d", q->noFreeMsgCount);
  q->noFreeMsgCount = 0;
  return VOS_STATUS_OK;
}
