// Recursive mutexes and critical sections of the OS abstraction layer.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "vosTypes.h"

// A handle to a recursive POSIX mutex allocated by vosMutexCreate: the thread that holds it may
// lock it again and must release it as often.
typedef pthread_mutex_t *VOS_MUTEX;
typedef VOS_MUTEX VOS_CRITSECT;

// Function indexes of the mutex module (function id = VOS_MUTEX_MODULE << 8 | index).
enum {
  VOS_MUTEX_FN_INIT = 0,
  VOS_MUTEX_FN_TERM = 1,
  VOS_MUTEX_FN_CREATE = 2,
  VOS_MUTEX_FN_DESTROY = 3,
  VOS_MUTEX_FN_ACQUIRE = 4,
  VOS_MUTEX_FN_TIMED_ACQUIRE = 5,
  VOS_MUTEX_FN_RELEASE = 6,
};

VOS_STATUS vosMutexInit(void);
VOS_STATUS vosMutexTerm(void);

// name is only a label for the reader of the code.
VOS_STATUS vosMutexCreate(const char *name, VOS_MUTEX *mutex);
VOS_STATUS vosMutexDestroy(VOS_MUTEX mutex);
VOS_STATUS vosMutexAcquire(VOS_MUTEX mutex);
// VOS_WAIT_FOREVER waits like vosMutexAcquire; any other time-out polls every 10 ms and gives
// VOS_STATUS_TIMEOUT when the time is used up (a time-out of 0 is one attempt).
VOS_STATUS vosMutexTimedAcquire(VOS_MUTEX mutex, uint32_t timeoutMs);
VOS_STATUS vosMutexRelease(VOS_MUTEX mutex);

VOS_STATUS vosCritSectInit(void);
VOS_STATUS vosCritSectTerm(void);
VOS_STATUS vosCritSectCreate(VOS_CRITSECT *critSect);
VOS_STATUS vosCritSectDestroy(VOS_CRITSECT critSect);
VOS_STATUS vosCritSectEnter(VOS_CRITSECT critSect);
VOS_STATUS vosCritSectLeave(VOS_CRITSECT critSect);
