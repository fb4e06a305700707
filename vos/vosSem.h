// Light semaphores (condition variable, mutex and signed count) and counting semaphores.
#pragma once

#include <pthread.h>
#include <semaphore.h>

#include <cstdint>

#include "vosTypes.h"

// The light semaphore, held by value in the caller's structures. A negative value is the number
// of takers that entered a wait and were not matched by a give. waiting and wakeups let an
// untimed take tell a give from a spurious wake-up of the condition variable.
typedef struct {
  pthread_cond_t cond;
  pthread_mutex_t lock;
  int32_t value;
  int32_t waiting;  // takers currently inside their wait
  int32_t wakeups;  // gives addressed to those takers and not yet picked up
} VOS_SEMLITE;

typedef sem_t VOS_SEM;

enum {
  VOS_SEM_FN_INIT = 0,
  VOS_SEM_FN_TERM = 1,
  VOS_SEM_FN_CREATE = 2,
  VOS_SEM_FN_DESTROY = 3,
  VOS_SEM_FN_GIVE = 4,
  VOS_SEM_FN_TAKE = 5,
  VOS_SEM_FN_TIMED_TAKE = 6,
};

// Light semaphores never report errors; name and maxCount are not used.
VOS_STATUS vosSemLiteCreate(const char *name, int32_t initialCount, int32_t maxCount,
                            VOS_SEMLITE *sem);
VOS_STATUS vosSemLiteDestroy(VOS_SEMLITE *sem);
// Waits until a give arrives when the count does not allow taking at once.
VOS_STATUS vosSemLiteTake(VOS_SEMLITE *sem);
// Waits once, at most until the wall-clock deadline now + timeoutMs. A take that times out still
// counts as a pending taker: the next give is consumed by it. Always OK.
VOS_STATUS vosSemLiteTimedTake(VOS_SEMLITE *sem, uint32_t timeoutMs);
VOS_STATUS vosSemLiteGive(VOS_SEMLITE *sem);

VOS_STATUS vosSemInit(void);
VOS_STATUS vosSemTerm(void);
VOS_STATUS vosSemCreate(const char *name, uint32_t initialCount, uint32_t maxCount, VOS_SEM *sem);
VOS_STATUS vosSemDestroy(VOS_SEM *sem);
VOS_STATUS vosSemTake(VOS_SEM *sem);
// VOS_WAIT_FOREVER waits; any other time-out polls every 10 ms: OK or VOS_STATUS_TIMEOUT.
VOS_STATUS vosSemTimedTake(VOS_SEM *sem, uint32_t timeoutMs);
VOS_STATUS vosSemGive(VOS_SEM *sem);
