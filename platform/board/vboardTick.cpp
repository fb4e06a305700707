// The 5 ms tick: on a grid of the monotonic clock (ticks that went by unseen are counted as
// missed), or back to back when the board runs fast (in lockstep with another side when asked,
// see vboardLockstep.cpp). A wait returns early with an error when its
// descriptor is closed, so that the task waiting in it can always be stopped.

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cerrno>

#include "vboardInternal.h"

namespace vboard {

namespace {

constexpr long kTickNs = TICK_MS * 1000000L;

timespec addNs(timespec t, long ns) {
  t.tv_nsec += ns;
  while (t.tv_nsec >= 1000000000L) {
    t.tv_nsec -= 1000000000L;
    ++t.tv_sec;
  }
  return t;
}

int64_t diffNs(const timespec& a, const timespec& b) {
  return (static_cast<int64_t>(a.tv_sec) - b.tv_sec) * 1000000000LL + (a.tv_nsec - b.tv_nsec);
}

uint32_t* futexWord(std::atomic<uint32_t>& word) { return reinterpret_cast<uint32_t*>(&word); }
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the wake word is waited on by the kernel");

// Sleeps until `deadline` (monotonic) unless the descriptor is closed first; false when it was
// closed. The sleep waits for the descriptor's wake word to move, which only a close does, with
// the deadline as its absolute timeout: one system call a tick, as a plain sleep costs.
bool sleepUntil(Descriptor& d, const timespec& deadline) {
  for (;;) {
    const uint32_t word = d.wakeWord.load(std::memory_order_acquire);
    if (d.closed.load()) return false;
    pthread_testcancel();  // the wait below is none, and a task stuck in it may be cancelled
    const long rc = syscall(SYS_futex, futexWord(d.wakeWord), FUTEX_WAIT_BITSET | FUTEX_PRIVATE_FLAG, word,
                            &deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
    if (rc != 0 && errno == ETIMEDOUT) return !d.closed.load();
    // Woken by a close, the word moved before the wait began, or a signal: look again.
  }
}

}  // namespace

namespace {

// The waiting thread's processor time when its last wait returned (0: none yet).
thread_local int64_t tickReturnCpuNs = 0;

int64_t threadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

// The processor time of the tick's work that ends now (-1: none timed yet).
int64_t tickWorkNs() {
  if (tickReturnCpuNs == 0) return -1;
  return std::max<int64_t>(0, threadCpuNs() - tickReturnCpuNs);
}

void accountTickWork(Board& b, int64_t workNs) {
  if (workNs < 0) return;
  const auto work = static_cast<uint64_t>(workNs);
  b.tickCpuTotalNs += work;
  b.tickCpuWorstNs = std::max(b.tickCpuWorstNs, work);
  ++b.tickCpuCount;
}

}  // namespace

void wakeTickWait(Descriptor& d) {
  d.wakeWord.fetch_add(1, std::memory_order_release);
  syscall(SYS_futex, futexWord(d.wakeWord), FUTEX_WAKE | FUTEX_PRIVATE_FLAG, INT_MAX, nullptr, nullptr, 0);
}

int waitTick(Descriptor& d) {
  Board& b = board();
  const bool timed = b.timeTicks.load(std::memory_order_relaxed);
  const int64_t work = timed ? tickWorkNs() : -1;
  struct MarkReturn {
    bool timed;
    ~MarkReturn() { tickReturnCpuNs = timed ? threadCpuNs() : 0; }
  } markReturn{timed};
  std::unique_lock<std::mutex> lock(b.lock);
  accountTickWork(b, work);
  lockstepTickDone(b);
  for (;;) {
    if (!lock.owns_lock()) lock.lock();
    if (d.closed.load()) return fail(EBADF);
    timespec now{};
    if (b.tickEnabled && b.fastTicks) {
      if (!lockstepWaitTick(b, lock, d)) return fail(EBADF);
      ++b.ticks;
      return 0;
    }
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (!b.tickEnabled) {
      // No tick until it is enabled; look again every tick period.
      lock.unlock();
      if (!sleepUntil(d, addNs(now, kTickNs))) return fail(EBADF);
      continue;
    }
    if (!b.tickStarted) {
      b.tickStarted = true;
      b.nextTick = addNs(now, kTickNs);
    } else if (diffNs(now, b.nextTick) >= kTickNs) {
      // The caller came back too late: the ticks in between were missed.
      const int64_t late = diffNs(now, b.nextTick) / kTickNs;
      b.missedTicks += static_cast<uint64_t>(late);
      b.nextTick = addNs(b.nextTick, static_cast<long>(late * kTickNs));
    }
    const timespec deadline = b.nextTick;
    b.nextTick = addNs(b.nextTick, kTickNs);
    lock.unlock();
    if (!sleepUntil(d, deadline)) return fail(EBADF);
    ++b.ticks;
    return 0;
  }
}

}  // namespace vboard
