// Tasks: POSIX threads named "voice-" + name, run under SCHED_FIFO at a native priority or at the
// priority of a task class, started with optional init and deinit functions, ended by cancel and
// join.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "vosTypes.h"

typedef pthread_t VOS_TASK_ID;
typedef void *VOS_TASK_ARG;
typedef void (*VOS_TASK_ENTRY)(VOS_TASK_ARG);
typedef void (*VOS_TASK_INIT_FNC)(VOS_TASK_ARG);
typedef void (*VOS_TASK_DEINIT_FNC)(VOS_TASK_ARG);

typedef enum : int {
  VOS_TASK_AFFINITY_TP0 = 0,
  VOS_TASK_AFFINITY_TP1 = 1,
  VOS_TASK_AFFINITY_ALL_TP = 2,
} VOS_TASK_AFFINITY;

// Only argument is used; the affinity is not applied by this layer.
typedef struct {
  VOS_TASK_AFFINITY affinity;
  VOS_TASK_ARG argument;
} VOS_TASK_EXTENDED_ARG;

// A task class, or below VOS_TASK_CLASS_START a native SCHED_FIFO priority.
typedef uint32_t VOS_TASK_CLASS;
typedef uint32_t VOS_TASK_PRIORITY;

constexpr VOS_TASK_CLASS VOS_TASK_CLASS_START = 0x8000;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_HIGH = 0x8001;      // priority 99
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_MED_HIGH = 0x8002;  // 90
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_MED = 0x8003;       // 85
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_MED_LOW = 0x8004;   // 80
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_LOW = 0x8005;       // 75
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_END = 0x8006;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT1 = 32774;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT2 = 32775;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT3 = 32776;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT4 = 32777;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT5 = 32778;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT6 = 32779;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT7 = 32780;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT8 = 32781;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT9 = 32782;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT10 = 32783;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT11 = 32784;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT12 = 32785;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT13 = 32786;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT14 = 32787;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT15 = 32788;
constexpr VOS_TASK_CLASS VOS_TASK_CLASS_EXT16 = 32789;

constexpr int VOS_TASK_NUM_CLASS_PRIORITIES = 14;

typedef struct {
  VOS_TASK_PRIORITY priorityLevel[VOS_TASK_NUM_CLASS_PRIORITIES];
} VOS_TASK_CLASS_PRIORITY_TABLE;

typedef enum : int {
  VOS_TASKSTART_RUNNING = 0,
  VOS_TASKSTART_SUSPENDED = 1,
} VOS_TASKSTART;

// Length of a task name including its terminator.
constexpr int VOS_TASK_NAME_SIZE = 32;

// At most this many tasks can be starting through vosTaskCreateMain at the same moment.
constexpr int VOS_MAX_TASKS = 16;

VOS_STATUS vosTaskInit(void);
VOS_STATUS vosTaskTerm(void);

// Creates the thread running entry(extArg->argument). The stack size is not applied.
VOS_STATUS vosTaskCreate(const char *name, uint32_t stackSize, VOS_TASK_CLASS taskClass,
                         VOS_TASK_ENTRY entry, const VOS_TASK_EXTENDED_ARG *extArg,
                         VOS_TASK_ID *taskId);

// Starts a task that runs init (may be null), main and deinit (may be null) with the extended
// argument's argument. ERR when 16 tasks are starting at this moment. The last two arguments are
// not used.
VOS_STATUS vosTaskCreateMain(const char *name, uint32_t stackSize, VOS_TASK_CLASS taskClass,
                             VOS_TASK_INIT_FNC init, VOS_TASK_ENTRY main,
                             VOS_TASK_DEINIT_FNC deinit, const VOS_TASK_EXTENDED_ARG *extArg,
                             VOS_TASK_ID *taskId, VOS_BOOL uninterruptible,
                             VOS_TASKSTART startMode);

// Cancels the thread (ends at its next cancellation point; its deinit function does not run).
VOS_STATUS vosTaskProceedToShutdown(VOS_TASK_ID taskId);
// Joins the thread.
VOS_STATUS vosTaskWaitForDone(VOS_TASK_ID taskId);
// Releases the task's event record and ends it (itself with pthread_exit, another by cancel and
// join).
VOS_STATUS vosTaskDestroy(VOS_TASK_ID taskId);

VOS_STATUS vosTaskGetMyTaskId(VOS_TASK_ID *taskId);
VOS_STATUS vosTaskGetPriority(VOS_TASK_ID taskId, VOS_TASK_CLASS *taskClass);
// Records the value in a thread-attribute object only; the running thread is not changed.
VOS_STATUS vosTaskSetPriority(VOS_TASK_ID taskId, VOS_TASK_CLASS taskClass);

// Not available on this platform: ERR.
VOS_STATUS vosTaskSuspend(VOS_TASK_ID taskId);
VOS_STATUS vosTaskResume(VOS_TASK_ID taskId);
VOS_STATUS vosTaskExists(VOS_TASK_ID taskId);
VOS_STATUS vosTaskGetIdFromName(const char *name, VOS_TASK_ID *taskId);
VOS_STATUS vosTaskGetNameFromId(VOS_TASK_ID taskId, char *name, int nameSize);

VOS_STATUS vosTaskSetClassPriorities(const VOS_TASK_CLASS_PRIORITY_TABLE *table);
VOS_TASK_PRIORITY vosTaskCalcNativePriority(VOS_TASK_CLASS taskClass);
VOS_TASK_CLASS vosTaskCalcTaskClass(VOS_TASK_PRIORITY priority);

// The application-task table: created by vosInit.
VOS_STATUS vosAppInit(void);
VOS_STATUS vosAppStart(VOS_TASK_ENTRY appInit, VOS_TASK_DEINIT_FNC appDeinit);
