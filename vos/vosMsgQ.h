// Message queues of fixed 32-byte messages, woken by a counting semaphore or a task event.
#pragma once

#include <cstdint>

#include "vosEvent.h"
#include "vosTask.h"
#include "vosTypes.h"

typedef struct {
  uint32_t buffer[8];
} VOS_MSGQ_MSG;

static_assert(sizeof(VOS_MSGQ_MSG) == 32, "a queue message is 32 bytes");

// The queue id: the queue's record index plus 1.
typedef uint32_t VOS_MSGQ;

constexpr int VOS_MSGQ_MAX_QUEUES = 16;
constexpr int VOS_MSGQ_MAX_DEPTH = 100;

VOS_STATUS vosMsgQInit(void);
VOS_STATUS vosMsgQTerm(void);

VOS_STATUS vosMsgQCreate(const char *name, uint32_t depth, VOS_MSGQ *msgQ);
VOS_STATUS vosMsgQCreateEventBased(const char *name, uint32_t depth, VOS_TASK_ID ownerTask,
                                   VOS_MSGQ *msgQ);
VOS_STATUS vosMsgQDestroy(VOS_MSGQ msgQ);
VOS_STATUS vosMsgQSend(VOS_MSGQ msgQ, const VOS_MSGQ_MSG *msg);
VOS_STATUS vosMsgQReceive(VOS_MSGQ msgQ, VOS_MSGQ_MSG *msg);
VOS_STATUS vosMsgQTimedReceive(VOS_MSGQ msgQ, uint32_t timeoutMs, VOS_MSGQ_MSG *msg);
VOS_STATUS vosMsgQGetEvent(VOS_MSGQ msgQ, VOS_EVENT *event);
VOS_STATUS vosMsgQDisplayStats(VOS_MSGQ msgQ);
