// Counting semaphores over process-private POSIX unnamed semaphores.
#include <cerrno>
#include <cstdint>

#include "vosError.h"
#include "vosSem.h"
#include "vosTime.h"

namespace {

const char *const semFunctionNames[] = {
    "vosSemInit", "vosSemTerm", "vosSemCreate",   "vosSemDestroy",
    "vosSemGive", "vosSemTake", "vosSemTimedTake",
};

constexpr VOS_FUNCTION_ID semId(unsigned index) { return vosFunctionId(VOS_SEM_MODULE, index); }

// sem_wait is never restarted after a signal handler: a signal is not a failure of the wait.
int waitRestarting(VOS_SEM *sem) {
  while (sem_wait(sem) != 0) {
    if (errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

}  // namespace

VOS_STATUS vosSemInit(void) {
  return vosErrorAddFunctionStrings(VOS_SEM_MODULE, semFunctionNames,
                                    sizeof semFunctionNames / sizeof semFunctionNames[0]);
}

VOS_STATUS vosSemTerm(void) { return VOS_STATUS_OK; }

VOS_STATUS vosSemCreate(const char * /*name*/, uint32_t initialCount, uint32_t /*maxCount*/,
                        VOS_SEM *sem) {
  if (sem == nullptr) {
    return vosErrorCheckStatusLinuxUser(EINVAL, semId(VOS_SEM_FN_CREATE));
  }
  errno = 0;
  int rc = sem_init(sem, 0, initialCount);
  return vosErrorCheckStatusLinuxUser(rc == 0 ? 0 : errno, semId(VOS_SEM_FN_CREATE));
}

VOS_STATUS vosSemDestroy(VOS_SEM *sem) {
  if (sem == nullptr) {
    return vosErrorCheckStatusLinuxUser(EINVAL, semId(VOS_SEM_FN_DESTROY));
  }
  int rc = sem_destroy(sem);
  return vosErrorCheckStatusLinuxUser(rc == 0 ? 0 : errno, semId(VOS_SEM_FN_DESTROY));
}

VOS_STATUS vosSemTake(VOS_SEM *sem) {
  if (sem == nullptr) {
    return vosErrorCheckStatusLinuxUser(EINVAL, semId(VOS_SEM_FN_TAKE));
  }
  return vosErrorCheckStatusLinuxUser(waitRestarting(sem), semId(VOS_SEM_FN_TAKE));
}

VOS_STATUS vosSemTimedTake(VOS_SEM *sem, uint32_t timeoutMs) {
  if (sem == nullptr) {
    return vosErrorCheckStatusLinuxUser(EINVAL, semId(VOS_SEM_FN_TIMED_TAKE));
  }
  if (timeoutMs == VOS_WAIT_FOREVER) {
    return vosErrorCheckStatusLinuxUser(waitRestarting(sem), semId(VOS_SEM_FN_TIMED_TAKE));
  }
  int64_t remaining = timeoutMs;
  for (;;) {
    if (sem_trywait(sem) == 0) {
      return VOS_STATUS_OK;
    }
    if (remaining <= 0) {
      return VOS_STATUS_TIMEOUT;
    }
    remaining -= 10;
    vosSleep(10);
  }
}

VOS_STATUS vosSemGive(VOS_SEM *sem) {
  if (sem == nullptr) {
    return vosErrorCheckStatusLinuxUser(EINVAL, semId(VOS_SEM_FN_GIVE));
  }
  int rc = sem_post(sem);
  return vosErrorCheckStatusLinuxUser(rc == 0 ? 0 : errno, semId(VOS_SEM_FN_GIVE));
}
