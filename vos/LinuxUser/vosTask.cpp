// Tasks over POSIX threads: creation through a start record, SCHED_FIFO at the task's priority,
// cancel and join, and the class-to-priority table.
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "envFlag.h"
#include "str.h"
#include "voiceLog.h"
#include "vosError.h"
#include "vosEvent.h"
#include "vosTask.h"
#include "vosTime.h"

namespace {

const char *const taskFunctionNames[] = {
    "vosTaskInit",        "vosTaskTerm",        "vosTaskCreate",      "vosTaskDestroy",
    "vosTaskSuspend",     "vosTaskResume",      "vosTaskExists",      "vosTaskGetPriority",
    "vosTaskSetPriority", "vosTaskGetMyTaskId", "vosTaskGetIdFromName", "vosTaskGetNameFromId",
};

enum {
  VOS_TASK_FN_CREATE = 2,
  VOS_TASK_FN_GET_PRIORITY = 7,
  VOS_TASK_FN_SET_PRIORITY = 8,
};

constexpr VOS_FUNCTION_ID taskId(unsigned index) { return vosFunctionId(VOS_TASK_MODULE, index); }

// The class-to-priority table, written only by vosTaskSetClassPriorities.
VOS_TASK_PRIORITY gTaskPriorities[VOS_TASK_NUM_CLASS_PRIORITIES] = {99, 90, 85, 80, 75};

// Handed from vosTaskCreate to the new thread, which frees it before running the entry.
struct VOS_TASK_ENTRY_PARAM {
  char name[VOS_TASK_NAME_SIZE];
  VOS_TASK_ENTRY taskEntry;
  VOS_TASK_ARG argument;
};

// Whether real-time scheduling is skipped altogether (tests and CI set ORVOX_NO_RT=1, so that a
// busy test can never starve the machine).
bool realTimeDisabled() {
  static const bool disabled = envFlagOn("ORVOX_NO_RT");
  return disabled;
}

// The creation code maps the five classes itself; it does not read gTaskPriorities.
int creationPriority(VOS_TASK_CLASS taskClass) {
  switch (taskClass) {
    case VOS_TASK_CLASS_HIGH: return 99;
    case VOS_TASK_CLASS_MED_HIGH: return 90;
    case VOS_TASK_CLASS_MED: return 85;
    case VOS_TASK_CLASS_MED_LOW: return 80;
    case VOS_TASK_CLASS_LOW: return 75;
    default: return static_cast<int>(taskClass);
  }
}

void *vosTaskCommonEntry(void *param) {
  auto *entryParam = static_cast<VOS_TASK_ENTRY_PARAM *>(param);
  VOS_TASK_ENTRY entry = entryParam->taskEntry;
  VOS_TASK_ARG argument = entryParam->argument;
  prctl(PR_SET_NAME, entryParam->name, 0, 0, 0);
  delete entryParam;
  entry(argument);
  return nullptr;
}

// Reports a failing thread call: it returns its error code and leaves errno alone.
VOS_STATUS reportCreateFailure(int line, int rc) {
  extVosLog(VOS_LOGLEVEL_ERROR, "%s [%d]: Error: %d", "vosTaskCreate", line, rc);
  return vosErrorCheckStatusLinuxUser(rc, taskId(VOS_TASK_FN_CREATE));
}

// Prepares the attributes of a new thread: it inherits the creator's scheduling; policy and
// priority are still checked here so that a bad priority is refused before anything starts.
VOS_STATUS prepareAttributes(pthread_attr_t &attr, int priority) {
  int rc = pthread_attr_init(&attr);
  if (rc != 0) {
    return reportCreateFailure(177, rc);
  }
  rc = pthread_attr_setinheritsched(&attr, PTHREAD_INHERIT_SCHED);
  if (rc != 0) {
    pthread_attr_destroy(&attr);
    return reportCreateFailure(180, rc);
  }
  rc = pthread_attr_setschedpolicy(&attr, SCHED_FIFO);
  if (rc != 0) {
    pthread_attr_destroy(&attr);
    return reportCreateFailure(183, rc);
  }
  struct sched_param param{};
  param.sched_priority = priority;
  rc = pthread_attr_setschedparam(&attr, &param);
  if (rc != 0) {
    pthread_attr_destroy(&attr);
    return reportCreateFailure(195, rc);
  }
  return VOS_STATUS_OK;
}

// Moves the new thread to SCHED_FIFO; without the privilege it runs on with what it inherited.
void applyRealTime(pthread_t thread, const char *name, int priority) {
  if (realTimeDisabled()) {
    return;
  }
  struct sched_param param{};
  param.sched_priority = priority;
  int rc = pthread_setschedparam(thread, SCHED_FIFO, &param);
  if (rc != 0) {
    extVosLog(VOS_LOGLEVEL_WARNING, "vosTaskCreate: task %s runs without SCHED_FIFO %d: %s", name,
              priority, strerror(rc));
  }
}

}  // namespace

VOS_STATUS vosTaskInit(void) {
  return vosErrorAddFunctionStrings(VOS_TASK_MODULE, taskFunctionNames,
                                    sizeof taskFunctionNames / sizeof taskFunctionNames[0]);
}

VOS_STATUS vosTaskTerm(void) { return VOS_STATUS_OK; }

VOS_STATUS vosTaskCreate(const char *name, uint32_t /*stackSize*/, VOS_TASK_CLASS taskClass,
                         VOS_TASK_ENTRY entry, const VOS_TASK_EXTENDED_ARG *extArg,
                         VOS_TASK_ID *taskIdOut) {
  if (name == nullptr || entry == nullptr) {
    return vosErrorCheckStatusLinuxUser(EINVAL, taskId(VOS_TASK_FN_CREATE));
  }
  errno = 0;
  const int priority = creationPriority(taskClass);
  pthread_attr_t attr;
  VOS_STATUS status = prepareAttributes(attr, priority);
  if (status != VOS_STATUS_OK) {
    return status;
  }

  auto *entryParam = new (std::nothrow) VOS_TASK_ENTRY_PARAM;
  if (entryParam == nullptr) {
    pthread_attr_destroy(&attr);
    extVosLog(VOS_LOGLEVEL_ERROR, "%s: entryParam is NULL", "vosTaskCreate");
    return VOS_STATUS_ERR;
  }
  strPrintf(entryParam->name, sizeof entryParam->name, "voice-%s", name);
  entryParam->taskEntry = entry;
  entryParam->argument = extArg != nullptr ? extArg->argument : nullptr;

  pthread_t localId;
  pthread_t *idOut = taskIdOut != nullptr ? taskIdOut : &localId;
  int rc;
  while ((rc = pthread_create(idOut, &attr, vosTaskCommonEntry, entryParam)) == EINTR) {
    vosSleep(100);
  }
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete entryParam;
    extVosLog(VOS_LOGLEVEL_ERROR, "%s [%d]: Error: %d", "vosTaskCreate", 227, rc);
    return vosErrorCheckStatusLinuxUser(rc, taskId(VOS_TASK_FN_CREATE));
  }

  const pthread_t thread = *idOut;
  vosEventRegisterTask(thread);
  applyRealTime(thread, name, priority);
  extVosLog(VOS_LOGLEVEL_INFO, "Created task %s", name);
  return VOS_STATUS_OK;
}

VOS_STATUS vosTaskProceedToShutdown(VOS_TASK_ID task) {
  VOS_STATUS status = VOS_STATUS_ERR;
  for (int attemptsLeft = 2; attemptsLeft >= 0; --attemptsLeft) {
    if (pthread_cancel(task) == 0) {
      status = VOS_STATUS_OK;
      break;
    }
    extVosLog(VOS_LOGLEVEL_INFO, "Canceled task %d failed. Iteration %d", static_cast<int>(task),
              attemptsLeft);
    vosSleep(100);
  }
  extVosLog(VOS_LOGLEVEL_INFO, "Canceled task %d", static_cast<int>(task));
  return status;
}

VOS_STATUS vosTaskWaitForDone(VOS_TASK_ID task) {
  extVosLog(VOS_LOGLEVEL_INFO, "Wait for task %d", static_cast<int>(task));
  for (int attemptsLeft = 2; attemptsLeft >= 0; --attemptsLeft) {
    if (pthread_join(task, nullptr) == 0) {
      return VOS_STATUS_OK;
    }
    extVosLog(VOS_LOGLEVEL_INFO, "Wait for task %d failed. Iteration %d", static_cast<int>(task),
              attemptsLeft);
    vosSleep(100);
  }
  return VOS_STATUS_ERR;
}

VOS_STATUS vosTaskDestroy(VOS_TASK_ID task) {
  if (pthread_equal(task, pthread_self())) {
    vosEventUnRegisterTask(task);
    pthread_exit(const_cast<char *>("Exiting thread"));
  }
  if (pthread_cancel(task) != 0) {
    return VOS_STATUS_ERR;
  }
  pthread_testcancel();
  pthread_join(task, nullptr);
  // Released only once the thread is gone: it may have been waiting on its event semaphore.
  vosEventUnRegisterTask(task);
  return VOS_STATUS_OK;
}

VOS_STATUS vosTaskGetMyTaskId(VOS_TASK_ID *task) {
  *task = pthread_self();
  return VOS_STATUS_OK;
}

VOS_STATUS vosTaskGetPriority(VOS_TASK_ID task, VOS_TASK_CLASS *taskClass) {
  int policy = 0;
  struct sched_param param{};
  int rc = pthread_getschedparam(task, &policy, &param);
  if (rc != 0) {
    extVosLog(VOS_LOGLEVEL_ERROR, "%s [%d]: Error: %d", "vosTaskGetPriority", 353, rc);
    return vosErrorCheckStatusLinuxUser(rc, taskId(VOS_TASK_FN_GET_PRIORITY));
  }
  *taskClass = vosTaskCalcTaskClass(static_cast<VOS_TASK_PRIORITY>(param.sched_priority));
  return VOS_STATUS_OK;
}

VOS_STATUS vosTaskSetPriority(VOS_TASK_ID /*task*/, VOS_TASK_CLASS taskClass) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setschedpolicy(&attr, SCHED_FIFO);
  struct sched_param param{};
  param.sched_priority = static_cast<int>(vosTaskCalcNativePriority(taskClass));
  int rc = pthread_attr_setschedparam(&attr, &param);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    extVosLog(VOS_LOGLEVEL_ERROR, "%s [%d]: Error: %d", "vosTaskSetPriority", __LINE__, rc);
    return vosErrorCheckStatusLinuxUser(rc, taskId(VOS_TASK_FN_SET_PRIORITY));
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosTaskSuspend(VOS_TASK_ID) {
  extVosLog(VOS_LOGLEVEL_WARNING, "vosTaskSuspend not implemented for Linux User mode");
  return VOS_STATUS_ERR;
}

VOS_STATUS vosTaskResume(VOS_TASK_ID) {
  extVosLog(VOS_LOGLEVEL_WARNING, "vosTaskResume not implemented for Linux User mode");
  return VOS_STATUS_ERR;
}

VOS_STATUS vosTaskExists(VOS_TASK_ID) {
  extVosLog(VOS_LOGLEVEL_WARNING, "vosTaskExists not implemented for Linux User mode");
  return VOS_STATUS_ERR;
}

VOS_STATUS vosTaskGetIdFromName(const char *, VOS_TASK_ID *) { return VOS_STATUS_ERR; }

VOS_STATUS vosTaskGetNameFromId(VOS_TASK_ID, char *, int) { return VOS_STATUS_ERR; }

VOS_STATUS vosTaskSetClassPriorities(const VOS_TASK_CLASS_PRIORITY_TABLE *table) {
  if (table == nullptr) {
    return VOS_STATUS_ERR;
  }
  memcpy(gTaskPriorities, table->priorityLevel, sizeof gTaskPriorities);
  return VOS_STATUS_OK;
}

VOS_TASK_PRIORITY vosTaskCalcNativePriority(VOS_TASK_CLASS taskClass) {
  if (taskClass >= VOS_TASK_CLASS_HIGH &&
      taskClass < VOS_TASK_CLASS_HIGH + VOS_TASK_NUM_CLASS_PRIORITIES - 1) {
    return gTaskPriorities[taskClass - VOS_TASK_CLASS_HIGH];
  }
  return taskClass;
}

VOS_TASK_CLASS vosTaskCalcTaskClass(VOS_TASK_PRIORITY priority) {
  for (int i = 0; i < VOS_TASK_NUM_CLASS_PRIORITIES; ++i) {
    if (gTaskPriorities[i] == priority) {
      return VOS_TASK_CLASS_HIGH + static_cast<VOS_TASK_CLASS>(i);
    }
  }
  return priority;
}
