// Framework kernel: thread lists, frame sync and the run pass.
#include <cstddef>
#include <cstring>

#include "hapi/hapi_types.h"
#include "knl.h"
#include "lhapi.h"
#include "lhapi_tickprof.h"
#include "qrn/qrn.h"

KNL_Globals KNL_gGlobals;

namespace {

void listInit(KNL_ThreadList* list) {
  list->pNextThread = list;
  list->pPrevThread = list;
}

bool listEmpty(const KNL_ThreadList* list) { return list->pNextThread == list; }

void nodeUnlink(KNL_ThreadNode* node) {
  if (node->pNextThread == nullptr) return;
  node->pPrevThread->pNextThread = node->pNextThread;
  node->pNextThread->pPrevThread = node->pPrevThread;
  node->pNextThread = nullptr;
  node->pPrevThread = nullptr;
}

// Takes the node out of its list to be linked again at once: its own links are left as they are,
// for the insertion to overwrite.
void nodeDetach(KNL_ThreadNode* node) {
  if (node->pNextThread == nullptr) return;
  node->pPrevThread->pNextThread = node->pNextThread;
  node->pNextThread->pPrevThread = node->pPrevThread;
}

void nodeInsertBefore(KNL_ThreadNode* node, KNL_ThreadNode* position) {
  node->pNextThread = position;
  node->pPrevThread = position->pPrevThread;
  position->pPrevThread->pNextThread = node;
  position->pPrevThread = node;
}

KNL_Thread* fromStateNode(KNL_ThreadNode* node) { return reinterpret_cast<KNL_Thread*>(node); }

KNL_Thread* fromAllNode(KNL_ThreadNode* node) {
  return reinterpret_cast<KNL_Thread*>(reinterpret_cast<uint8_t*>(node) -
                                       offsetof(KNL_Thread, allNode));
}

int16_t wrap16(int value) { return static_cast<int16_t>(static_cast<uint16_t>(value)); }

// Whether `other` goes behind `thread` in the ready list: fewer pending samples, or as many and a
// lower priority. The list is kept in this order; equal pairs stay in the order they became ready.
bool readiesAfter(const KNL_Thread* other, const KNL_Thread* thread) {
  return other->semaphore < thread->semaphore ||
         (other->semaphore == thread->semaphore && other->priority < thread->priority);
}

// Moves the thread into the list of `state` at its head (every list but the ready list).
void linkAtHead(KNL_Thread* thread, KNL_ThreadState state) {
  nodeDetach(&thread->stateNode);
  thread->state = state;
  nodeInsertBefore(&thread->stateNode, KNL_gGlobals.stateList[state].pNextThread);
}

// Moves the thread into the ready list, before the first thread that readies after it. `hint`, when
// given, is a thread of the ready list, which is in order: when the hint does not ready after this
// thread and the one behind it does (or there is none), the place is behind the hint, found
// without the walk (in an ordered list every thread before the hint readies no later than it).
void linkReady(KNL_Thread* thread, const KNL_Thread* hint) {
  nodeDetach(&thread->stateNode);
  thread->state = KNL_STATE_READY;
  KNL_ThreadList* list = &KNL_gGlobals.stateList[KNL_STATE_READY];
  if (hint != nullptr && !readiesAfter(hint, thread)) {
    KNL_ThreadNode* behind = hint->stateNode.pNextThread;
    if (behind == list || readiesAfter(fromStateNode(behind), thread)) {
      nodeInsertBefore(&thread->stateNode, behind);
      return;
    }
  }
  KNL_ThreadNode* pos = list->pNextThread;
  while (pos != list && !readiesAfter(fromStateNode(pos), thread)) pos = pos->pNextThread;
  nodeInsertBefore(&thread->stateNode, pos);
}

void insertByPriority(KNL_Thread* thread) {
  KNL_ThreadList* list = &KNL_gGlobals.allList;
  KNL_ThreadNode* pos = list->pNextThread;
  while (pos != list && fromAllNode(pos)->priority < thread->priority) pos = pos->pNextThread;
  nodeInsertBefore(&thread->allNode, pos);
}

void sendOverrunEvent(uint16_t start) {
  QRN_SendStdMsgToHost(HAPIRESMAN, HAPI_RM_KNL_OVERRUN_EVT, start,
                       static_cast<uint16_t>(KNL_gGlobals.frameSyncCount & 0xFFFF), HAPI_RM_SRV,
                       HAPI_HOST_SRV, 0, QRN_MsgFlagObd);
}

// The body runs without the lock (one level of it), so it may take the lock itself.
void runBody(KNL_Thread* t) {
  LHAPI_gpFncUnlock(nullptr);
  if (t->threadFunc != nullptr) {
    if (gLhapiTickProfileOn) {
      const int64_t start = lhapiTickProfileNowNs();
      t->threadFunc(t->userContext);
      lhapiTickProfileThreadRan(t, lhapiTickProfileNowNs() - start);
    } else {
      t->threadFunc(t->userContext);
    }
  }
  LHAPI_gpFncLock();
}

// Whether the quick run of the thread's body stood for its whole run.
[[gnu::noinline]] bool runBodyQuick(KNL_Thread* t) {
  if (gLhapiTickProfileOn) return false;
  for (const auto& q : KNL_gGlobals.bodyQuickRuns) {
    if (q.quickRun != nullptr && q.body == t->threadFunc) return q.quickRun(t->userContext);
  }
  return false;
}

}  // namespace

void KNL_Init() {
  listInit(&KNL_gGlobals.allList);
  for (auto& list : KNL_gGlobals.stateList) listInit(&list);
  KNL_gGlobals.frameSyncNestingLevel = 0;
  KNL_gGlobals.frameSyncCount = 0;
  KNL_gGlobals.cpuStatus = KNL_INGRESS_OVERRUN_RESET | KNL_EGRESS_UNDERRUN_RESET;
  KNL_gGlobals.activeThread = nullptr;
  KNL_gGlobals.quickThread = nullptr;
  KNL_gGlobals.quickRun = nullptr;
  for (auto& q : KNL_gGlobals.bodyQuickRuns) q = KNL_Globals::BodyQuickRun{nullptr, nullptr};
  KNL_gGlobals.initialised = true;
}

void KNL_InitThread(KNL_Thread* thread, KNL_ThreadFunc func, void* context) {
  if (thread == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  if (!KNL_gGlobals.initialised) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  std::memset(thread, 0, sizeof(*thread));
  thread->threadFunc = func;
  thread->userContext = context;
  thread->state = KNL_STATE_SUSPENDED;
  thread->priority = KNL_PRIORITY_LOWEST;
  LhapiLockGuard lock;
  insertByPriority(thread);
  nodeInsertBefore(&thread->stateNode, KNL_gGlobals.stateList[KNL_STATE_SUSPENDED].pNextThread);
}

void KNL_TermThread(KNL_Thread* thread) {
  if (thread == nullptr) return;
  LhapiLockGuard lock;
  if (thread->state == KNL_STATE_ACTIVE) {
    // Unlinking the running thread would leave the run pass holding a dead record.
    LHAPI_ASSERT_FAIL();
    return;
  }
  nodeUnlink(&thread->stateNode);
  nodeUnlink(&thread->allNode);
  if (KNL_gGlobals.quickThread == thread) KNL_gGlobals.quickThread = nullptr;
  std::memset(thread, 0, sizeof(*thread));
}

void KNL_SetThreadState_Unprotected(KNL_Thread* thread, KNL_ThreadState state) {
  if (thread == nullptr || state >= KNL_NUM_STATES) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  if (state == KNL_STATE_READY) {
    // Ready list: most pending samples first, then higher priority, then first come.
    linkReady(thread, nullptr);
  } else {
    linkAtHead(thread, state);
  }
}

void KNL_SetThreadPriority_Unprotected(KNL_Thread* thread, KNL_ThreadPriority priority) {
  if (thread == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  // Priorities are a level times 256 minus a frame size of at least 40 samples.
  if (((-static_cast<int>(priority)) & 0xFF) < 39) LHAPI_ASSERT_FAIL();
  thread->priority = priority;
  nodeUnlink(&thread->allNode);
  insertByPriority(thread);
  KNL_SetThreadState_Unprotected(thread, thread->state);
}

void KNL_SetThreadFrameSize(KNL_Thread* thread, uint16_t frameSize) {
  if (thread == nullptr) return;
  LhapiLockGuard lock;
  if (frameSize == thread->frameSize) return;
  thread->semaphore = wrap16(thread->semaphore + thread->frameSize - frameSize);
  thread->frameSize = frameSize;
  if (frameSize == 0) {
    KNL_SetThreadPriority_Unprotected(thread, KNL_PRIORITY_LOWEST);
    KNL_SetThreadState_Unprotected(thread, KNL_STATE_SUSPENDED);
  } else {
    KNL_SetThreadState_Unprotected(thread,
                                   thread->semaphore < 0 ? KNL_STATE_WAITING : KNL_STATE_READY);
  }
}

void KNL_SetThreadQuickRun(KNL_Thread* thread, KNL_ThreadQuickFunc quickRun) {
  LhapiLockGuard lock;
  if (KNL_gGlobals.quickThread != nullptr && KNL_gGlobals.quickThread != thread) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  KNL_gGlobals.quickThread = quickRun != nullptr ? thread : nullptr;
  KNL_gGlobals.quickRun = quickRun;
}

int KNL_SetBodyQuickRun(KNL_ThreadFunc body, KNL_ThreadQuickFunc quickRun) {
  LhapiLockGuard lock;
  KNL_Globals::BodyQuickRun* free = nullptr;
  for (auto& q : KNL_gGlobals.bodyQuickRuns) {
    if (q.body == body && q.quickRun != nullptr) {
      q.quickRun = quickRun;
      return 1;
    }
    if (q.quickRun == nullptr && free == nullptr) free = &q;
  }
  if (quickRun == nullptr) return 1;
  if (free == nullptr) {
    LHAPI_ASSERT_FAIL();
    return 0;
  }
  *free = KNL_Globals::BodyQuickRun{body, quickRun};
  return 1;
}

KNL_Thread* KNL_GetActiveThread() { return KNL_gGlobals.activeThread; }

void* KNL_GetUserContext() {
  if (KNL_gGlobals.activeThread == nullptr) {
    LHAPI_ASSERT_FAIL();
    return nullptr;
  }
  return KNL_gGlobals.activeThread->userContext;
}

void KNL_FrameSync() {
  KNL_Globals& g = KNL_gGlobals;
  g.frameSyncCount += 1;
  g.frameSyncNestingLevel += 1;
  if (g.cpuStatus & KNL_INGRESS_OVERRUN_FLUSH) {
    LHAPI_ASSERT(g.frameSyncNestingLevel == 1);
    g.cpuStatus &= ~KNL_INGRESS_OVERRUN_FLUSH;
    g.cpuStatus |= KNL_INGRESS_OVERRUN_RESET;
  }
  bool overrun = false;
  if (!(g.cpuStatus & KNL_INGRESS_OVERRUN)) {
    // Threads are credited in ascending priority, so those that become ready together mostly go
    // right behind the one made ready before them. While the ready list holds only threads made
    // ready by this crediting (it was empty, as a run pass leaves it), it is in order, and the
    // last one made ready is a hint for the next; the event sent at an overrun's start may reach
    // code that changes the lists, so the hint goes then.
    const KNL_ThreadList* ready = &g.stateList[KNL_STATE_READY];
    bool hintValid = listEmpty(ready);
    KNL_Thread* hint = nullptr;
    KNL_ThreadNode* node = g.allList.pNextThread;
    while (node != &g.allList) {
      KNL_Thread* t = fromAllNode(node);
      node = node->pNextThread;  // crediting may move the thread between state lists only
      if (t->state == KNL_STATE_SUSPENDED) continue;
      if (t->newSamples != KNL_NEWSAMPLES_PER_TICK) {
        t->semaphore = wrap16(t->semaphore + t->newSamples);
        t->newSamples = 0;
      } else {
        t->semaphore = wrap16(t->semaphore + KNL_SAMPLES_PER_TICK);
        if (t->semaphore == KNL_OVERRUN_SAMPLES && !(g.cpuStatus & KNL_INGRESS_OVERRUN)) {
          g.cpuStatus &= ~KNL_INGRESS_OVERRUN_RESET;
          g.cpuStatus |= KNL_INGRESS_OVERRUN;
          sendOverrunEvent(1);
          hintValid = false;
          hint = nullptr;
        }
      }
      if (t->semaphore >= 0) {
        if (t->state == KNL_STATE_WAITING) {
          linkReady(t, hint);
          if (hintValid) hint = t;
        } else {
          t->overrunCount += 1;
          overrun = true;
        }
      }
    }
  }
  lhapiKnlOverrunCondition(overrun ? 1 : 0);
  if (g.frameSyncNestingLevel > 1) {
    g.frameSyncNestingLevel -= 1;
    return;
  }
  lhapiKnlScheduleReadyThreads();
}

void KNL_RunReadyThreads() {
  KNL_Globals& g = KNL_gGlobals;
  LhapiLockGuard lock;
  KNL_ThreadList* ready = &g.stateList[KNL_STATE_READY];
  while (!listEmpty(ready)) {
    KNL_Thread* t = fromStateNode(ready->pNextThread);
    linkAtHead(t, KNL_STATE_ACTIVE);
    t->semaphore = wrap16(t->semaphore - t->frameSize);
    g.activeThread = t;
    // The tick profile times every body, so it sees no quick runs.
    const bool quick = t == g.quickThread ? !gLhapiTickProfileOn && g.quickRun(t->userContext)
                                          : t->mayRunQuick && runBodyQuick(t);
    if (!quick) runBody(t);
    g.activeThread = nullptr;
    if (t->requestSet & KNL_REQUEST_FRAMESIZE) {
      t->requestSet &= ~KNL_REQUEST_FRAMESIZE;
      KNL_SetThreadFrameSize(t, t->requestFrameSizeValue);
    }
    if (t->requestSet & KNL_REQUEST_PRIORITY) {
      t->requestSet &= ~KNL_REQUEST_PRIORITY;
      KNL_SetThreadPriority_Unprotected(t, t->requestPriorityValue);
    }
    if (t->frameSize == 0) {
      // A thread whose frame size became 0 stays suspended.
      linkAtHead(t, KNL_STATE_SUSPENDED);
    } else if (t->semaphore < 0) {
      linkAtHead(t, KNL_STATE_WAITING);
    } else {
      linkReady(t, nullptr);
    }
  }
  // The level is read once: read back together with the status word beside it, a value just
  // stored would stall the load.
  unsigned level = g.frameSyncNestingLevel;
  if (level > 0) level -= 1;
  g.frameSyncNestingLevel = level;
  if (level == 0 && (g.cpuStatus & KNL_INGRESS_OVERRUN)) {
    g.cpuStatus &= ~KNL_INGRESS_OVERRUN;
    g.cpuStatus |= KNL_INGRESS_OVERRUN_FLUSH;
    sendOverrunEvent(0);
  }
}

void KNL_RunReadyThreadsAsync() {}
