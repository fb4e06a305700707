// Semaphores of the host adaptation layer: one per host transaction. Each is a count of at most
// one over a mutex and a condition variable on the monotonic clock, so that a timed take can tell
// a give from a time-out and a change of the wall clock does not move the deadline.
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "lhapi.h"
#include "voiceLog.h"

struct LHAPI_SEM {
  std::mutex lock;
  std::condition_variable cond;
  int count = 0;
  bool inUse = false;
  char name[16] = {};
};

namespace {
std::array<LHAPI_SEM, LHAPI_MAX_SEMAPHORES> gSemTable;
std::mutex gSemTableLock;
}  // namespace

unsigned lhapi_gSemCount = 0;

int lhapiOsSemCreate(LHAPI_SEMID* out) {
  if (out == nullptr) return -1;
  std::lock_guard<std::mutex> guard(gSemTableLock);
  if (lhapi_gSemCount >= LHAPI_MAX_SEMAPHORES) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
             "LHAPI: lhapi: Attempting to allocate too many semaphores: Max %u",
             LHAPI_MAX_SEMAPHORES);
    return -1;
  }
  LHAPI_SEM& sem = gSemTable[lhapi_gSemCount];
  {
    std::lock_guard<std::mutex> semGuard(sem.lock);
    sem.count = 0;
    sem.inUse = true;
    std::snprintf(sem.name, sizeof(sem.name), "semHapi%u", lhapi_gSemCount);
  }
  *out = &sem;
  ++lhapi_gSemCount;
  return 0;
}

int lhapiOsSemGive(LHAPI_SEMID sem) {
  if (sem == nullptr) return -1;
  {
    std::lock_guard<std::mutex> guard(sem->lock);
    sem->count = 1;  // the maximum count is 1
  }
  sem->cond.notify_one();
  return 0;
}

int lhapiOsSemTake(LHAPI_SEMID sem, uint32_t timeoutMs) {
  if (sem == nullptr) return -1;
  std::unique_lock<std::mutex> guard(sem->lock);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  if (!sem->cond.wait_until(guard, deadline, [sem] { return sem->count > 0; })) {
    return 1;  // timed out; the semaphore keeps no trace of this taker
  }
  --sem->count;
  return 0;
}

int lhapiOsSemReset(LHAPI_SEMID sem) {
  if (sem == nullptr) return -1;
  std::lock_guard<std::mutex> guard(sem->lock);
  sem->count = 0;
  return 0;
}

void lhapiOsSemDestroy() {
  std::lock_guard<std::mutex> guard(gSemTableLock);
  for (unsigned i = 0; i < lhapi_gSemCount; ++i) {
    std::lock_guard<std::mutex> semGuard(gSemTable[i].lock);
    gSemTable[i].count = 0;
    gSemTable[i].inUse = false;
  }
  lhapi_gSemCount = 0;
}
