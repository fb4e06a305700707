// The light semaphore: a signed count under a mutex and a condition variable on the wall clock.
// A give that finds no waiter is remembered in the count; a timed take that expires keeps its
// place in the count, so the next give is consumed by it without waking anyone.
#include <sys/time.h>

#include <cstdint>
#include <ctime>

#include "vosSem.h"

namespace {

// Runs when a task is cancelled inside its wait (tasks end by cancel and join): the taker leaves
// without taking, so its place in the count and any give addressed to it are handed back, and
// the lock that the wait re-acquired is released.
void abandonWait(void *arg) {
  auto *sem = static_cast<VOS_SEMLITE *>(arg);
  ++sem->value;
  --sem->waiting;
  if (sem->wakeups > sem->waiting) {
    sem->wakeups = sem->waiting;
  }
  pthread_mutex_unlock(&sem->lock);
}

}  // namespace

VOS_STATUS vosSemLiteCreate(const char * /*name*/, int32_t initialCount, int32_t /*maxCount*/,
                            VOS_SEMLITE *sem) {
  sem->value = initialCount;
  sem->waiting = 0;
  sem->wakeups = 0;
  if (pthread_mutex_init(&sem->lock, nullptr) == 0) {
    pthread_cond_init(&sem->cond, nullptr);
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosSemLiteDestroy(VOS_SEMLITE *sem) {
  sem->value = 0;
  pthread_mutex_destroy(&sem->lock);
  pthread_cond_destroy(&sem->cond);
  return VOS_STATUS_OK;
}

VOS_STATUS vosSemLiteTake(VOS_SEMLITE *sem) {
  pthread_mutex_lock(&sem->lock);
  if (--sem->value < 0) {
    // Only a give ends this wait: callers keep records on their stack that the giver writes
    // until it gives, so returning on a spurious wake-up would let them go too early.
    ++sem->waiting;
    pthread_cleanup_push(abandonWait, sem);
    while (sem->wakeups == 0) {
      pthread_cond_wait(&sem->cond, &sem->lock);
    }
    pthread_cleanup_pop(0);
    --sem->wakeups;
    --sem->waiting;
  }
  pthread_mutex_unlock(&sem->lock);
  return VOS_STATUS_OK;
}

VOS_STATUS vosSemLiteTimedTake(VOS_SEMLITE *sem, uint32_t timeoutMs) {
  pthread_mutex_lock(&sem->lock);

  struct timeval now{};
  gettimeofday(&now, nullptr);
  struct timespec deadline{};
  int64_t nanoseconds = static_cast<int64_t>(now.tv_usec) * 1000 +
                        static_cast<int64_t>(timeoutMs % 1000) * 1000000;
  deadline.tv_sec = now.tv_sec + static_cast<time_t>(timeoutMs / 1000) +
                    static_cast<time_t>(nanoseconds / 1000000000);
  deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000);

  if (--sem->value < 0) {
    // One wait, ended by a give, the deadline or a spurious wake-up alike.
    ++sem->waiting;
    pthread_cleanup_push(abandonWait, sem);
    pthread_cond_timedwait(&sem->cond, &sem->lock, &deadline);
    pthread_cleanup_pop(0);
    if (sem->wakeups > 0) {
      --sem->wakeups;
    }
    --sem->waiting;
  }
  pthread_mutex_unlock(&sem->lock);
  return VOS_STATUS_OK;
}

VOS_STATUS vosSemLiteGive(VOS_SEMLITE *sem) {
  pthread_mutex_lock(&sem->lock);
  ++sem->value;
  if (sem->wakeups < sem->waiting) {
    ++sem->wakeups;
  }
  pthread_cond_signal(&sem->cond);
  pthread_mutex_unlock(&sem->lock);
  return VOS_STATUS_OK;
}
