// The framework kernel: cooperative threads that each process one frame of samples, credited
// with 40 samples per 5 ms tick and run to completion inside the tick, most pending samples first.
#pragma once

#include <cstdint>

using KNL_ThreadPriority = int16_t;
using KNL_ThreadFunc = void (*)(void* userContext);
// Called under the lock the run pass holds, before the body: true when it did the whole run (a
// thread that polls a queue finds it empty), so the pass does not give the lock up for the body.
using KNL_ThreadQuickFunc = bool (*)(void* userContext);

enum KNL_ThreadState : uint16_t {
  KNL_STATE_SUSPENDED = 0,
  KNL_STATE_ACTIVE = 1,
  KNL_STATE_READY = 2,
  KNL_STATE_WAITING = 3,
  KNL_NUM_STATES = 4,
};

struct KNL_Thread_s;
struct KNL_ThreadNode {
  KNL_ThreadNode* pNextThread;
  KNL_ThreadNode* pPrevThread;
};
using KNL_ThreadList = KNL_ThreadNode;  // circular; an empty list points at itself

struct KNL_Thread_s {
  KNL_ThreadNode stateNode;  // link in the list of its current state (first member)
  KNL_ThreadNode allNode;    // link in the list of all threads
  KNL_ThreadPriority priority;
  KNL_ThreadState state;
  int16_t semaphore;         // samples credited minus consumed; due when 0 or more
  uint16_t frameSize;        // samples per run; 0 = suspended
  uint16_t newSamples;       // 0xFFFF: 40 per tick; other values credited once
  uint16_t overrunCount;
  KNL_ThreadFunc threadFunc;
  void* userContext;
  uint16_t requestSet;       // deferred changes: bit 0 frame size, bit 1 priority
  uint16_t requestFrameSizeValue;
  KNL_ThreadPriority requestPriorityValue;
  // Set by the owner of the body while the body's quick run may stand for the thread's runs (a
  // resting channel), so that the run pass asks for the quick run only then. In the record's
  // padding: the channels' heap figures count the record's size.
  uint8_t mayRunQuick;
};
using KNL_Thread = KNL_Thread_s;
static_assert(sizeof(void*) != 8 || sizeof(KNL_Thread) == 72, "the thread record keeps its size");

constexpr KNL_ThreadPriority KNL_PRIORITY_LOWEST = -32767;
constexpr uint16_t KNL_NEWSAMPLES_PER_TICK = 0xFFFF;
constexpr uint16_t KNL_SAMPLES_PER_TICK = 40;
constexpr int16_t KNL_OVERRUN_SAMPLES = 240;
constexpr uint16_t KNL_REQUEST_FRAMESIZE = 0x1;
constexpr uint16_t KNL_REQUEST_PRIORITY = 0x2;

enum KNL_CPU_STATUS : uint32_t {
  KNL_INGRESS_OVERRUN_RESET = 1,
  KNL_EGRESS_UNDERRUN_RESET = 2,
  KNL_INGRESS_OVERRUN = 4,
  KNL_EGRESS_UNDERRUN = 8,
  KNL_INGRESS_OVERRUN_FLUSH = 16,
};

struct KNL_Globals {
  KNL_ThreadList allList;  // every thread, ascending priority
  KNL_ThreadList stateList[KNL_NUM_STATES];
  unsigned frameSyncNestingLevel;
  uint32_t cpuStatus;
  uint32_t frameSyncCount;
  KNL_Thread* activeThread;
  // The one thread with a quick run (the resource manager's, every tick); kept here rather than
  // in the thread record, whose size the channels' heap figures depend on.
  const KNL_Thread* quickThread;
  KNL_ThreadQuickFunc quickRun;
  // The quick runs of the threads with a given body (the channels' two bodies) that may run
  // quick (mayRunQuick); kept here for the same reason.
  struct BodyQuickRun {
    KNL_ThreadFunc body;
    KNL_ThreadQuickFunc quickRun;
  };
  BodyQuickRun bodyQuickRuns[4];
  bool initialised;
};
extern KNL_Globals KNL_gGlobals;

void KNL_Init();
void KNL_InitThread(KNL_Thread* thread, KNL_ThreadFunc func, void* context);
void KNL_TermThread(KNL_Thread* thread);
void KNL_SetThreadState_Unprotected(KNL_Thread* thread, KNL_ThreadState state);
void KNL_SetThreadPriority_Unprotected(KNL_Thread* thread, KNL_ThreadPriority priority);
void KNL_SetThreadFrameSize(KNL_Thread* thread, uint16_t frameSize);
void KNL_SetThreadQuickRun(KNL_Thread* thread, KNL_ThreadQuickFunc quickRun);
// Gives the threads whose body is `body` the quick run (none: takes it away), asked for while a
// thread's mayRunQuick is set; 0 when all the places are taken by other bodies.
int KNL_SetBodyQuickRun(KNL_ThreadFunc body, KNL_ThreadQuickFunc quickRun);
KNL_Thread* KNL_GetActiveThread();
void* KNL_GetUserContext();
void KNL_FrameSync();
void KNL_RunReadyThreads();
void KNL_RunReadyThreadsAsync();
