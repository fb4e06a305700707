// The 5 ms tick: on a grid of the monotonic clock (ticks that went by unseen are counted as
// missed), or back to back when the board runs fast (in lockstep with another side when asked,
// see vboardLockstep.cpp). A wait returns early with an error when its
// descriptor is closed, so that the task waiting in it can always be stopped.

#include <poll.h>

#include <algorithm>
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

// Sleeps until `deadline` unless the descriptor is closed first; false when it was closed. `now`
// is the caller's reading of the clock: a wait that times out has reached its deadline, so one
// reading and one sleep make a tick.
bool sleepUntil(const Descriptor& d, const timespec& deadline, timespec now) {
  for (;;) {
    if (d.closed.load()) return false;
    const int64_t left = diffNs(deadline, now);
    if (left <= 0) return true;
    pollfd wake{d.wakeFd, POLLIN, 0};
    const timespec timeout{static_cast<time_t>(left / 1000000000LL),
                           static_cast<long>(left % 1000000000LL)};
    if (ppoll(&wake, 1, &timeout, nullptr) == 0) return !d.closed.load();  // a cancellation point
    clock_gettime(CLOCK_MONOTONIC, &now);
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

int waitTick(Descriptor& d) {
  Board& b = board();
  const int64_t work = tickWorkNs();
  struct MarkReturn {
    ~MarkReturn() { tickReturnCpuNs = threadCpuNs(); }
  } markReturn;
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
      if (!sleepUntil(d, addNs(now, kTickNs), now)) return fail(EBADF);
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
    if (!sleepUntil(d, deadline, now)) return fail(EBADF);
    ++b.ticks;
    return 0;
  }
}

}  // namespace vboard
