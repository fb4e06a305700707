// Set-up and the framework lock of the host adaptation layer.
#include <pthread.h>

#include <cstdio>

#include "lhapi.h"
#include "lhapi_tickprof.h"

// The framework lock, a recursive mutex. It is initialised statically, so a framework call made
// before lhapiInit locks a real mutex instead of calling through an empty pointer.
static pthread_mutex_t lhapi_lock = PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP;

int gIsQuellixDistributed = 0;
LHAPI_FNCP_LOCK LHAPI_gpFncLock = CritSectEnter;
LHAPI_FNCP_UNLOCK LHAPI_gpFncUnlock = CritSectLeave;
LHAPI_FNCP_LOCK LHAPI_gpFncLockSMP = CritSectEnter;
LHAPI_FNCP_UNLOCK LHAPI_gpFncUnlockSMP = CritSectLeave;

// How many times this thread holds the lock. The tick thread holds it across the whole frame sync
// and run pass, and inside the pass every queue and pool call and every thread body's release and
// take pair nest on that hold: only the first take and the last release of a thread reach the
// mutex, the nested ones are counted here, which is what the recursive mutex would count.
static thread_local unsigned tLockDepth = 0;

HSZBIOSSTATE CritSectEnter() {
  if (tLockDepth == 0) pthread_mutex_lock(&lhapi_lock);
  tLockDepth += 1;
  return nullptr;
}

void CritSectLeave(HSZBIOSSTATE) {
  if (tLockDepth == 0) {
    // A release without a take: the mutex refuses it as it always did.
    pthread_mutex_unlock(&lhapi_lock);
    return;
  }
  tLockDepth -= 1;
  if (tLockDepth == 0) pthread_mutex_unlock(&lhapi_lock);
}

void lhapiCritSecInit() {
  LHAPI_gpFncLock = CritSectEnter;
  LHAPI_gpFncUnlock = CritSectLeave;
  LHAPI_gpFncLockSMP = CritSectEnter;
  LHAPI_gpFncUnlockSMP = CritSectLeave;
}

// The mutex lives as long as the program (a thread may still hold it): nothing to destroy.
void lhapiCritSecDeinit() {}

void lhapiThreadDispatchInit() {}
void lhapiThreadDispatchDeinit() {}

void lhapiInit(int distributed) {
  gIsQuellixDistributed = distributed;
  lhapiCritSecInit();
  lhapiThreadDispatchInit();
  lhapiTickProfileInit();
}

void lhapiDeinit() {
  if (gLhapiTickProfileOn) {
    static char report[8192];
    lhapiTickProfileReport(report, sizeof report);
    std::fputs(report, stdout);
    std::fflush(stdout);
  }
  lhapiThreadDispatchDeinit();
  lhapiCritSecDeinit();
  lhapiOsSemDestroy();
}

int lhapiIsQuellixDistributed() { return gIsQuellixDistributed; }
