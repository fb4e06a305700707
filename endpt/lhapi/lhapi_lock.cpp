// Set-up and the framework lock of the host adaptation layer.
#include <mutex>

#include "lhapi.h"

namespace {
// The framework lock. It exists from program start, so a framework call made before lhapiInit
// locks a real mutex instead of calling through an empty pointer.
std::recursive_mutex& lhapiLock() {
  static std::recursive_mutex lock;
  return lock;
}
}  // namespace

int gIsQuellixDistributed = 0;
LHAPI_FNCP_LOCK LHAPI_gpFncLock = CritSectEnter;
LHAPI_FNCP_UNLOCK LHAPI_gpFncUnlock = CritSectLeave;
LHAPI_FNCP_LOCK LHAPI_gpFncLockSMP = CritSectEnter;
LHAPI_FNCP_UNLOCK LHAPI_gpFncUnlockSMP = CritSectLeave;

HSZBIOSSTATE CritSectEnter() {
  lhapiLock().lock();
  return nullptr;
}

void CritSectLeave(HSZBIOSSTATE) { lhapiLock().unlock(); }

void lhapiCritSecInit() {
  LHAPI_gpFncLock = CritSectEnter;
  LHAPI_gpFncUnlock = CritSectLeave;
  LHAPI_gpFncLockSMP = CritSectEnter;
  LHAPI_gpFncUnlockSMP = CritSectLeave;
}

// The mutex lives as long as the program; nothing to destroy.
void lhapiCritSecDeinit() {}

void lhapiThreadDispatchInit() {}
void lhapiThreadDispatchDeinit() {}

void lhapiInit(int distributed) {
  gIsQuellixDistributed = distributed;
  lhapiCritSecInit();
  lhapiThreadDispatchInit();
}

void lhapiDeinit() {
  lhapiThreadDispatchDeinit();
  lhapiCritSecDeinit();
  lhapiOsSemDestroy();
}

int lhapiIsQuellixDistributed() { return gIsQuellixDistributed; }
