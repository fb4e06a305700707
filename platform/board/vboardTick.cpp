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

// Sleeps until `deadline` unless the descriptor is closed first; false when it was closed.
bool sleepUntil(const Descriptor& d, const timespec& deadline) {
  for (;;) {
    if (d.closed.load()) return false;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const int64_t left = diffNs(deadline, now);
    if (left <= 0) return true;
    pollfd wake{d.wakeFd, POLLIN, 0};
    const timespec timeout{static_cast<time_t>(left / 1000000000LL),
                           static_cast<long>(left % 1000000000LL)};
    ppoll(&wake, 1, &timeout, nullptr);  // a cancellation point
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

void accountTickWork(Board& b) {
  if (tickReturnCpuNs == 0) return;
  const uint64_t work = static_cast<uint64_t>(std::max<int64_t>(0, threadCpuNs() - tickReturnCpuNs));
  std::lock_guard<std::mutex> guard(b.lock);
  b.tickCpuTotalNs += work;
  b.tickCpuWorstNs = std::max(b.tickCpuWorstNs, work);
  ++b.tickCpuCount;
}

}  // namespace

int waitTick(Descriptor& d) {
  Board& b = board();
  accountTickWork(b);
  {
    std::lock_guard<std::mutex> guard(b.lock);
    lockstepTickDone(b);
  }
  struct MarkReturn {
    ~MarkReturn() { tickReturnCpuNs = threadCpuNs(); }
  } markReturn;
  for (;;) {
    if (d.closed.load()) return fail(EBADF);
    bool enabled, fast;
    timespec deadline{};
    {
      std::unique_lock<std::mutex> lock(b.lock);
      enabled = b.tickEnabled;
      fast = b.fastTicks;
      if (enabled && fast) {
        if (!lockstepWaitTick(b, lock, d)) return fail(EBADF);
        ++b.ticks;
        return 0;
      }
      if (enabled) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (!b.tickStarted) {
          b.tickStarted = true;
          b.nextTick = addNs(now, kTickNs);
        } else if (diffNs(now, b.nextTick) >= kTickNs) {
          // The caller came back too late: the ticks in between were missed.
          const int64_t late = diffNs(now, b.nextTick) / kTickNs;
          b.missedTicks += static_cast<uint64_t>(late);
          b.nextTick = addNs(b.nextTick, static_cast<long>(late * kTickNs));
        }
        deadline = b.nextTick;
        b.nextTick = addNs(b.nextTick, kTickNs);
      }
    }
    if (!enabled) {
      // No tick until it is enabled; look again every tick period.
      timespec now{};
      clock_gettime(CLOCK_MONOTONIC, &now);
      if (!sleepUntil(d, addNs(now, kTickNs))) return fail(EBADF);
      continue;
    }
    if (!sleepUntil(d, deadline)) return fail(EBADF);
    ++b.ticks;
    return 0;
  }
}

}  // namespace vboard
