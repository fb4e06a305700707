// The application-task table: a hand-off area through which vosTaskCreateMain gives a new
// thread its init, main and deinit functions. A control block is in use only until the new
// thread has picked its functions out of it.
#include <pthread.h>

#include <cstring>

#include "str.h"
#include "voiceLog.h"
#include "vosMutex.h"
#include "vosTask.h"

namespace {

struct VOSZTCB {
  char name[VOS_TASK_NAME_SIZE];
  VOS_TASK_INIT_FNC init;
  VOS_TASK_ENTRY main;
  VOS_TASK_DEINIT_FNC deinit;
  VOS_TASK_ID taskid;
  bool inuse;
  VOS_TASK_ID resetSrcTaskid;
};

struct VOSZAPPTASK {
  char name[VOS_TASK_NAME_SIZE];
  uint32_t stackSize;
  VOS_TASK_ENTRY init;
  VOS_TASK_DEINIT_FNC deinit;
  VOS_TASK_ARG taskArg;
  VOS_TASK_ID taskId;
  VOS_TASK_CLASS taskClass;
};

struct VOSZCB {
  VOSZTCB tcb[VOS_MAX_TASKS];
  VOS_MUTEX tcbMutexId;
  VOSZAPPTASK appTask;
  VOS_TASK_ID rootTaskId;
};

VOSZCB voszcb;

// The body of every task started by vosTaskCreateMain.
void AppTemplateTaskMain(VOS_TASK_ARG argument) {
  // Waits until the creator has released the table, so taskid is filled in.
  if (vosMutexAcquire(voszcb.tcbMutexId) != VOS_STATUS_OK) {
    return;
  }
  const pthread_t self = pthread_self();
  VOSZTCB *block = nullptr;
  for (VOSZTCB &candidate : voszcb.tcb) {
    if (candidate.inuse && pthread_equal(candidate.taskid, self)) {
      block = &candidate;
      break;
    }
  }
  if (block == nullptr) {
    vosMutexRelease(voszcb.tcbMutexId);
    extVosLog(VOS_LOGLEVEL_ERROR, "HUGE trouble in big China!!! Couldn't start vosTaskMain! taskid=0x%x",
              static_cast<unsigned>(self));
    return;
  }
  VOS_TASK_INIT_FNC init = block->init;
  VOS_TASK_ENTRY main = block->main;
  VOS_TASK_DEINIT_FNC deinit = block->deinit;
  *block = VOSZTCB{};
  vosMutexRelease(voszcb.tcbMutexId);

  if (init != nullptr) {
    init(argument);
  }
  main(argument);
  if (deinit != nullptr) {
    deinit(argument);
  }
}

}  // namespace

VOS_STATUS vosAppInit(void) {
  VOS_MUTEX previous = voszcb.tcbMutexId;
  voszcb = VOSZCB{};
  if (previous != nullptr) {
    // A restart of the layer reuses nothing of the last run's table.
    vosMutexDestroy(previous);
  }
  VOS_STATUS status = vosMutexCreate("aoTM", &voszcb.tcbMutexId);
  if (status != VOS_STATUS_OK) {
    extVosLog(VOS_LOGLEVEL_ERROR, "vosAppInit: Initialization error, cleaning up semaphores/mutexes");
    if (voszcb.tcbMutexId != nullptr) {
      vosMutexDestroy(voszcb.tcbMutexId);
      voszcb.tcbMutexId = nullptr;
    }
  }
  return status;
}

VOS_STATUS vosTaskCreateMain(const char *name, uint32_t stackSize, VOS_TASK_CLASS taskClass,
                             VOS_TASK_INIT_FNC init, VOS_TASK_ENTRY main,
                             VOS_TASK_DEINIT_FNC deinit, const VOS_TASK_EXTENDED_ARG *extArg,
                             VOS_TASK_ID *taskId, VOS_BOOL /*uninterruptible*/,
                             VOS_TASKSTART /*startMode*/) {
  extVosLog(VOS_LOGLEVEL_INFO, "Enter TaskCreate %s", name != nullptr ? name : "");
  if (name == nullptr || main == nullptr) {
    return VOS_STATUS_ERR;
  }
  VOS_STATUS status = vosMutexAcquire(voszcb.tcbMutexId);
  if (status != VOS_STATUS_OK) {
    return status;
  }
  VOSZTCB *block = nullptr;
  for (VOSZTCB &candidate : voszcb.tcb) {
    if (!candidate.inuse) {
      block = &candidate;
      break;
    }
  }
  if (block == nullptr) {
    vosMutexRelease(voszcb.tcbMutexId);
    return VOS_STATUS_ERR;
  }
  *block = VOSZTCB{};
  block->inuse = true;
  strMaxCpy(block->name, name, sizeof block->name);
  block->init = init;
  block->main = main;
  block->deinit = deinit;

  extVosLog(VOS_LOGLEVEL_INFO, "TaskCreate - spawn new task %s", name);
  status = vosTaskCreate(name, stackSize, taskClass, AppTemplateTaskMain, extArg, &block->taskid);
  if (taskId != nullptr) {
    *taskId = block->taskid;
  }
  if (status != VOS_STATUS_OK) {
    // No thread will pick the block up: free it, or failed starts would use up the table.
    *block = VOSZTCB{};
  }
  vosMutexRelease(voszcb.tcbMutexId);
  extVosLog(VOS_LOGLEVEL_INFO, "Exit TaskCreate");
  return status;
}

VOS_STATUS vosAppStart(VOS_TASK_ENTRY appInit, VOS_TASK_DEINIT_FNC appDeinit) {
  extVosLog(VOS_LOGLEVEL_INFO, "Enter vosStartApp");
  VOSZAPPTASK &app = voszcb.appTask;
  strMaxCpy(app.name, "aoAP", sizeof app.name);
  app.stackSize = 16384;
  app.init = appInit;
  app.deinit = appDeinit;
  app.taskArg = nullptr;
  app.taskClass = 85;
  VOS_STATUS status = vosTaskCreateMain("aoAP", 16384, 85, nullptr, appInit, nullptr, nullptr,
                                        &app.taskId, VOS_FALSE, VOS_TASKSTART_RUNNING);
  extVosLog(VOS_LOGLEVEL_INFO, "Exit vosStartApp");
  return status;
}
