// Recursive mutexes over POSIX, and the critical sections built on them.
#include <cerrno>
#include <cstdint>
#include <new>

#include "vosError.h"
#include "vosMutex.h"
#include "vosTime.h"

namespace {

const char *const mutexFunctionNames[] = {
    "vosMutexInit",    "vosMutexTerm",         "vosMutexCreate",  "vosMutexDestroy",
    "vosMutexAcquire", "vosMutexTimedAcquire", "vosMutexRelease",
};

const char *const critSectFunctionNames[] = {
    "vosCritSectInit",    "vosCritSectTerm",  "vosCritSectCreate",
    "vosCritSectDestroy", "vosCritSectEnter", "vosCritSectLeave",
};

constexpr VOS_FUNCTION_ID mutexId(unsigned index) { return vosFunctionId(VOS_MUTEX_MODULE, index); }

// The module's own critical section.
VOS_CRITSECT moduleCritSect = nullptr;

}  // namespace

VOS_STATUS vosMutexInit(void) {
  return vosErrorAddFunctionStrings(VOS_MUTEX_MODULE, mutexFunctionNames,
                                    sizeof mutexFunctionNames / sizeof mutexFunctionNames[0]);
}

VOS_STATUS vosMutexTerm(void) { return VOS_STATUS_OK; }

VOS_STATUS vosMutexCreate(const char * /*name*/, VOS_MUTEX *mutex) {
  if (mutex == nullptr) {
    return vosErrorCheckStatusLinuxUser(EINVAL, mutexId(VOS_MUTEX_FN_CREATE));
  }
  *mutex = nullptr;
  auto *m = new (std::nothrow) pthread_mutex_t;
  if (m == nullptr) {
    return vosErrorCheckStatusLinuxUser(ENOMEM, mutexId(VOS_MUTEX_FN_CREATE));
  }
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
  int rc = pthread_mutex_init(m, &attr);
  pthread_mutexattr_destroy(&attr);
  if (rc != 0) {
    delete m;
    return vosErrorCheckStatusLinuxUser(rc, mutexId(VOS_MUTEX_FN_CREATE));
  }
  *mutex = m;
  return VOS_STATUS_OK;
}

VOS_STATUS vosMutexDestroy(VOS_MUTEX mutex) {
  if (mutex == nullptr) {
    return vosErrorCheckStatusLinuxUser(EINVAL, mutexId(VOS_MUTEX_FN_DESTROY));
  }
  int rc = pthread_mutex_destroy(mutex);
  if (rc != 0) {
    // The mutex may still be in use: its memory stays.
    return vosErrorCheckStatusLinuxUser(rc, mutexId(VOS_MUTEX_FN_DESTROY));
  }
  delete mutex;
  return VOS_STATUS_OK;
}

VOS_STATUS vosMutexAcquire(VOS_MUTEX mutex) {
  if (mutex == nullptr) {
    return vosErrorCheckStatusLinuxUser(EINVAL, mutexId(VOS_MUTEX_FN_ACQUIRE));
  }
  return vosErrorCheckStatusLinuxUser(pthread_mutex_lock(mutex), mutexId(VOS_MUTEX_FN_ACQUIRE));
}

VOS_STATUS vosMutexTimedAcquire(VOS_MUTEX mutex, uint32_t timeoutMs) {
  if (mutex == nullptr) {
    return vosErrorCheckStatusLinuxUser(EINVAL, mutexId(VOS_MUTEX_FN_TIMED_ACQUIRE));
  }
  if (timeoutMs == VOS_WAIT_FOREVER) {
    return vosErrorCheckStatusLinuxUser(pthread_mutex_lock(mutex),
                                        mutexId(VOS_MUTEX_FN_TIMED_ACQUIRE));
  }
  // Poll every 10 ms; any failure of the try, busy or not, counts as not acquired.
  int64_t remaining = timeoutMs;
  for (;;) {
    if (pthread_mutex_trylock(mutex) == 0) {
      return VOS_STATUS_OK;
    }
    if (remaining <= 0) {
      return VOS_STATUS_TIMEOUT;
    }
    remaining -= 10;
    vosSleep(10);
  }
}

VOS_STATUS vosMutexRelease(VOS_MUTEX mutex) {
  if (mutex == nullptr) {
    return vosErrorCheckStatusLinuxUser(EINVAL, mutexId(VOS_MUTEX_FN_RELEASE));
  }
  return vosErrorCheckStatusLinuxUser(pthread_mutex_unlock(mutex), mutexId(VOS_MUTEX_FN_RELEASE));
}

VOS_STATUS vosCritSectInit(void) {
  vosErrorAddFunctionStrings(VOS_CRITSECT_MODULE, critSectFunctionNames,
                             sizeof critSectFunctionNames / sizeof critSectFunctionNames[0]);
  if (moduleCritSect == nullptr) {
    vosCritSectCreate(&moduleCritSect);
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosCritSectTerm(void) {
  if (moduleCritSect != nullptr) {
    vosCritSectDestroy(moduleCritSect);
    moduleCritSect = nullptr;
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosCritSectCreate(VOS_CRITSECT *critSect) { return vosMutexCreate("CRSN", critSect); }

VOS_STATUS vosCritSectDestroy(VOS_CRITSECT critSect) { return vosMutexDestroy(critSect); }

VOS_STATUS vosCritSectEnter(VOS_CRITSECT critSect) { return vosMutexAcquire(critSect); }

VOS_STATUS vosCritSectLeave(VOS_CRITSECT critSect) { return vosMutexRelease(critSect); }
