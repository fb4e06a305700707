// The dispatcher task "VRGDISP", its two queues and the synchronous command path.
#include "vrgEndptDispatcher.h"

#include <condition_variable>
#include <mutex>

#include "voiceLog.h"
#include "vrgEndptIdleWd.h"
#include "vrgEndptLib.h"

VRG_QUEUE vrgEptCmdQ;
VRG_QUEUE vrgEventQ;
VOS_SEMLITE vrgDispSem;
VOS_TASK_ID vrgDispProcessTaskId = 0;

namespace {

std::atomic<bool> dispatcherStop{false};

// Held by every post and by the shutdown's final drain and free of the queues, so that a post
// either lands before the drain (and its caller is released) or finds the queue gone (and fails);
// none is left behind in a queue that nobody reads.
std::mutex queueLifeLock;

// Shutdown parks the dispatcher between passes while it takes the library apart, so that the
// records it owns are never changed by two threads at once.
std::mutex parkLock;
std::condition_variable parkChanged;
bool parkRequested = false;
bool dispatcherParked = false;

void ParkIfRequested() {
  std::unique_lock<std::mutex> lock(parkLock);
  if (!parkRequested) return;
  dispatcherParked = true;
  parkChanged.notify_all();
  parkChanged.wait(lock, [] { return !parkRequested; });
  dispatcherParked = false;
}

bool VrgQueueCreate(VRG_QUEUE* queue, uint32_t itemSize, int depth) {
  MEMCIRCBUFDRV handle = MEMCIRCBUF_INVALID;
  if (memCircBufAlloc(&handle, itemSize * static_cast<uint32_t>(depth)) != BUF_STATUS_OK) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG, "EPT: Exit VrgQueueCreate bad");
    return false;
  }
  queue->handle = handle;
  queue->depth = depth;
  queue->used.store(0);
  return true;
}

int VrgQueueFree(VRG_QUEUE* queue) {
  if (queue->handle == MEMCIRCBUF_INVALID) return 0;
  const int result = memCircBufFree(&queue->handle) == BUF_STATUS_OK ? 0 : -1;
  queue->handle = MEMCIRCBUF_INVALID;
  queue->depth = 0;
  queue->used.store(0);
  return result;
}

bool VrgQueueHasItems(const VRG_QUEUE& queue) {
  return queue.handle != MEMCIRCBUF_INVALID && queue.used.load() > 0;
}

// The loop ends on its stop flag, checked after every wait, so that shutdown never ends the task
// in the middle of a command or an event.
void VrgDispatcherTaskMain(VOS_TASK_ARG) {
  while (!dispatcherStop.load()) {
    ParkIfRequested();
    if (dispatcherStop.load()) break;
    // Work still queued (posts that came while the last pass ran) is taken without waiting.
    if (!VrgQueueHasItems(vrgEventQ) && !VrgQueueHasItems(vrgEptCmdQ)) {
      const VOS_STATUS status = vosSemLiteTimedTake(&vrgDispSem, VRG_DISP_WAIT_MS);
      if (status == VOS_STATUS_EXIT || dispatcherStop.load()) break;
    }
    VrgDispatcherRunOnce();
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_NOTICE, "BHAL: Exiting task VRGDISP");
}

}  // namespace

int VrgQueuePost(VRG_QUEUE* queue, const void* item, uint32_t size) {
  std::lock_guard<std::mutex> life(queueLifeLock);
  if (queue->handle == MEMCIRCBUF_INVALID) return BUF_STATUS_FAIL;
  // Reserve a place first so that concurrent posters never exceed the depth together.
  if (queue->used.fetch_add(1) >= queue->depth) {
    queue->used.fetch_sub(1);
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG, "EPT: %s: Could not write item to queue %d",
             "VrgQueuePost", static_cast<int>(queue->handle));
    return BUF_STATUS_FULL;
  }
  const BUF_STATUS status = memCircBufWrite(queue->handle, item, size);
  if (status != BUF_STATUS_OK) {
    queue->used.fetch_sub(1);
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG, "EPT: %s: Could not write item to queue %d",
             "VrgQueuePost", static_cast<int>(queue->handle));
    return status;
  }
  vosSemLiteGive(&vrgDispSem);
  return BUF_STATUS_OK;
}

bool VrgQueueExists(const VRG_QUEUE* queue) {
  std::lock_guard<std::mutex> life(queueLifeLock);
  return queue->handle != MEMCIRCBUF_INVALID;
}

int VrgQueueGet(VRG_QUEUE* queue, void* item, uint32_t size) {
  if (queue->handle == MEMCIRCBUF_INVALID) return BUF_STATUS_EMPTY;
  const BUF_STATUS status = memCircBufRead(queue->handle, item, size);
  if (status == BUF_STATUS_OK) queue->used.fetch_sub(1);
  return status;
}

int VrgPostEvent(const VRG_EVT* event, const char* caller) {
  const int status = VrgQueuePost(&vrgEventQ, event, sizeof *event);
  if (status != BUF_STATUS_OK) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: %s: VrgQueuePost failed!", caller);
  }
  return status;
}

EPSTATUS VrgEptCmdRun(VRG_EPT_CMD_TYPE command, const uintptr_t* args, int numArgs,
                      const char* caller) {
  if (!vrgEndptCheckInitialized(caller)) return EPSTATUS_ERROR;

  VRG_EPT_CMD cmd{};
  cmd.command = command;
  for (int i = 0; i < numArgs && i < VRG_EPT_CMD_NUM_ARGS; ++i) cmd.arguments[i] = args[i];
  cmd.status = EPSTATUS_ERROR;
  vosSemLiteCreate("cmd_sem", 0, 1, &cmd.cmd_sem);

  VRG_EPT_CMD* pointer = &cmd;
  if (VrgQueuePost(&vrgEptCmdQ, &pointer, sizeof pointer) != BUF_STATUS_OK) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
             command == VRG_EPT_LINK_INT ? "EPT: %s: VrgQueuePost failed!\n"
                                         : "EPT: %s: VrgQueuePost failed!",
             caller);
    vosSemLiteDestroy(&cmd.cmd_sem);
    return EPSTATUS_ERROR;
  }
  if (vosSemLiteTake(&cmd.cmd_sem) != VOS_STATUS_OK) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: %s: vosSemLiteTake failed!", caller);
    return EPSTATUS_ERROR;
  }
  vosSemLiteDestroy(&cmd.cmd_sem);
  return cmd.status;
}

void VrgDispatcherRunOnce(void) {
  VRG_EVT event{};
  while (VrgQueueGet(&vrgEventQ, &event, sizeof event) == BUF_STATUS_OK) {
    VrgEventProcess(&event);
  }
  VRG_EPT_CMD* cmd = nullptr;
  if (VrgQueueGet(&vrgEptCmdQ, &cmd, sizeof cmd) == BUF_STATUS_OK && cmd != nullptr) {
    VrgEptCmdProcess(cmd);
  }
  vrgEndptProcessIdle();
}

int VrgDispatcherProcessInit(void) {
  if (!VrgQueueCreate(&vrgEptCmdQ, sizeof(VRG_EPT_CMD*), VRG_CMD_QUEUE_DEPTH)) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: Error creating vrgEptCmdQ");
    return -1;
  }
  if (!VrgQueueCreate(&vrgEventQ, sizeof(VRG_EVT), VRG_EVT_QUEUE_DEPTH)) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: Error creating vrgEventQ");
    VrgQueueFree(&vrgEptCmdQ);
    return -1;
  }
  if (vosSemLiteCreate("vrgDispSem", 0, 1, &vrgDispSem) != VOS_STATUS_OK) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: Error creating vrgDispSem");
    VrgQueueFree(&vrgEventQ);
    VrgQueueFree(&vrgEptCmdQ);
    return -1;
  }
  dispatcherStop.store(false);
  {
    std::lock_guard<std::mutex> lock(parkLock);
    parkRequested = false;
    dispatcherParked = false;
  }
  VOS_TASK_EXTENDED_ARG extArg{VOS_TASK_AFFINITY_ALL_TP, nullptr};
  VOS_TASK_ID taskId = 0;
  if (vosTaskCreateMain("VRGDISP", 8192, 99, nullptr, VrgDispatcherTaskMain, nullptr, &extArg,
                        &taskId, VOS_FALSE, VOS_TASKSTART_RUNNING) != VOS_STATUS_OK ||
      taskId == 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_CRIT, "EPT: Error creating VRGDISP task");
    vosSemLiteDestroy(&vrgDispSem);
    VrgQueueFree(&vrgEventQ);
    VrgQueueFree(&vrgEptCmdQ);
    return -1;
  }
  vrgDispProcessTaskId = taskId;
  return 0;
}

void VrgDispatcherPark(void) {
  if (vrgDispProcessTaskId == 0) return;
  std::unique_lock<std::mutex> lock(parkLock);
  parkRequested = true;
  lock.unlock();
  vosSemLiteGive(&vrgDispSem);
  lock.lock();
  parkChanged.wait(lock, [] { return dispatcherParked; });
}

int VrgDispatcherProcessDeinit(void) {
  if (vrgDispProcessTaskId != 0) {
    // The task is asked to stop by its flag and woken (from its wait or its parking place); it
    // ends there, never in the middle of a command.
    dispatcherStop.store(true);
    {
      std::lock_guard<std::mutex> lock(parkLock);
      parkRequested = false;
      parkChanged.notify_all();
    }
    vosSemLiteGive(&vrgDispSem);
    vosTaskWaitForDone(vrgDispProcessTaskId);
    vrgDispProcessTaskId = 0;
    vosSemLiteDestroy(&vrgDispSem);
  }
  std::lock_guard<std::mutex> life(queueLifeLock);
  // Callers whose command was never run are released with a status that says so.
  VRG_EPT_CMD* cmd = nullptr;
  while (VrgQueueGet(&vrgEptCmdQ, &cmd, sizeof cmd) == BUF_STATUS_OK) {
    if (cmd == nullptr) continue;
    cmd->status = EPSTATUS_SHUTDOWN_ERR;
    vosSemLiteGive(&cmd->cmd_sem);
  }
  // Events never processed may own a copy of their data.
  VRG_EVT event{};
  while (VrgQueueGet(&vrgEventQ, &event, sizeof event) == BUF_STATUS_OK) {
    VrgEventDiscard(&event);
  }
  int result = 0;
  if (VrgQueueFree(&vrgEptCmdQ) != 0) result = -1;
  if (VrgQueueFree(&vrgEventQ) != 0) result = -1;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: VRGDISP shutdown complete!");
  return result;
}
