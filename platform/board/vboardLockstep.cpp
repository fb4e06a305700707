// Lockstep of the fast tick: back to back, the board's ticks run as soon as the DSP task asks for
// them, so whatever reaches the process on the host's clock (the line driver's 10 ms hook
// sampling, packets from the PBX) meets the DSP at a moment that depends on the machine's load.
// In lockstep the fast tick waits for the other side instead:
//
//   line  the DSP's tick and the line driver's hook sampling keep one clock: a tick runs once
//         the sampling has reached the end of the tick's 5 ms, and a hook sample waits until the
//         ticks have reached the sample's previous 10 ms. Ring cadences and what the DSP sends
//         between the rings then line up in board time, at the pace of the slower side.
//   step  a tick runs only when a client grants it ("step"), and the grant is answered once the
//         tick's work is done: a client that also feeds the DSP (the PBX stand-in with its
//         packets) hands each tick its input before it runs.
//
// A side that stops must not hold the other for ever: in the line lockstep a side goes on alone
// once the other side's thread has ended, or has not moved for LINE_STALL_MS (held by something
// that waits for this side); the step lockstep ends when no grant has come for STEP_LEASE_MS (its
// client went away).

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "vboardInternal.h"

namespace vboard {

namespace {

constexpr int64_t LINE_STALL_MS = 1000;
constexpr int64_t STEP_LEASE_MS = 3000;
constexpr int64_t STEP_ANSWER_MS = 10000;
constexpr long MAX_STEP = 100000;
constexpr auto WAIT_SLICE = std::chrono::milliseconds(10);

// The furthest any line's hook sampling has gone.
int64_t hookClock(const Board& b) {
  int64_t clock = 0;
  for (const Channel& ch : b.channels) clock = std::max(clock, ch.hookClockMs);
  return clock;
}

// Board time (ms since the lockstep began) on the two clocks.
int64_t tickMsDone(const Board& b) { return static_cast<int64_t>(b.ticksDone - b.lockstepTicks) * TICK_MS; }
int64_t hookMs(const Board& b) { return hookClock(b) - b.lockstepHookMs; }

// The calling thread's id, asked of the kernel once per thread: the line driver's hook sampling
// names its thread at every sample of every line. A forked child starts a new generation, so that
// its threads do not take the ids their parent's threads had.
std::atomic<unsigned> forkGeneration{1};

long currentThread() {
  static const bool registered = [] {
    pthread_atfork(nullptr, nullptr, [] { forkGeneration.fetch_add(1, std::memory_order_relaxed); });
    return true;
  }();
  (void)registered;
  thread_local unsigned cachedGeneration = 0;
  thread_local long cachedTid = 0;
  const unsigned generation = forkGeneration.load(std::memory_order_relaxed);
  if (cachedGeneration != generation) {
    cachedTid = syscall(SYS_gettid);
    cachedGeneration = generation;
  }
  return cachedTid;
}

// False for a thread that has ended (or was never seen: 0).
bool threadAlive(long tid) {
  return tid != 0 && (syscall(SYS_tgkill, getpid(), tid, 0) == 0 || errno != ESRCH);
}

const char* modeName(Lockstep mode) {
  switch (mode) {
    case Lockstep::LINE: return "line";
    case Lockstep::STEP: return "step";
    default: return "off";
  }
}

void setMode(Board& b, Lockstep mode) {
  b.lockstep = mode;
  b.lockstepTicks = b.ticksDone = b.ticks.load();
  b.lockstepHookMs = hookClock(b);
  b.stepLimit = b.ticks.load();
  b.hookMovedMs = b.tickMovedMs = b.stepGrantMs = nowMs();
  b.gate.notify_all();
}

bool stepCount(const std::vector<std::string>& w, long* count) {
  *count = 1;
  if (w.size() == 1) return true;
  if (w.size() != 2 || w[1].empty() || w[1].size() > 6 || w[1].find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  *count = std::stol(w[1]);
  return *count >= 1 && *count <= MAX_STEP;
}

}  // namespace

bool lockstepTickMayRun(Board& b) {
  switch (b.lockstep) {
    case Lockstep::LINE:
      // The tick about to run ends TICK_MS after the ticks done.
      return hookMs(b) >= static_cast<int64_t>(b.ticks.load() - b.lockstepTicks + 1) * TICK_MS ||
             !threadAlive(b.hookThread) || nowMs() - b.hookMovedMs >= LINE_STALL_MS;
    case Lockstep::STEP:
      if (nowMs() - b.stepGrantMs >= STEP_LEASE_MS) {
        std::fprintf(stderr, "virtual board: no step for %lld ms: the tick runs freely again\n",
                     static_cast<long long>(STEP_LEASE_MS));
        setMode(b, Lockstep::OFF);
        return true;
      }
      return b.ticks.load() < b.stepLimit;
    default:
      return true;
  }
}

void lockstepTickDone(Board& b) {
  b.tickThread = currentThread();
  if (b.ticksDone == b.ticks.load()) return;
  b.ticksDone = b.ticks.load();
  b.tickMovedMs = nowMs();
  // Only a lockstep waits at the gate, and every change of mode opens it.
  if (b.lockstep != Lockstep::OFF) b.gate.notify_all();
}

bool lockstepWaitTick(Board& b, std::unique_lock<std::mutex>& lock, const Descriptor& d) {
  while (!lockstepTickMayRun(b)) {
    if (d.closed.load()) return false;
    b.gate.wait_for(lock, WAIT_SLICE);
  }
  return true;
}

void lockstepHookSampled(Board& b, std::unique_lock<std::mutex>& lock) {
  b.hookThread = currentThread();
  b.hookMovedMs = nowMs();
  if (b.lockstep != Lockstep::LINE) return;
  b.gate.notify_all();
  // The sample just taken ends its period; it may lead the ticks done by at most one period.
  while (b.lockstep == Lockstep::LINE && tickMsDone(b) < hookMs(b) - HOOK_SAMPLE_MS && threadAlive(b.tickThread) &&
         nowMs() - std::max(b.hookMovedMs, b.tickMovedMs) < LINE_STALL_MS) {
    b.gate.wait_for(lock, WAIT_SLICE);
  }
}

std::string lockstepCommand(Board& b, const std::vector<std::string>& w) {
  if (w.size() == 2) {
    if (w[1] == "off") {
      setMode(b, Lockstep::OFF);
    } else if (w[1] == "line" || w[1] == "step") {
      if (!b.fastTicks) return "ERROR: lockstep needs the fast tick (ORVOX_TICK=fast)\n";
      setMode(b, w[1] == "line" ? Lockstep::LINE : Lockstep::STEP);
    } else {
      return "ERROR: lockstep [off|line|step]\n";
    }
  } else if (w.size() != 1) {
    return "ERROR: lockstep [off|line|step]\n";
  }
  return std::string("OK lockstep ") + modeName(b.lockstep) + " ticks=" + std::to_string(b.ticks.load()) +
         " hookClock=" + std::to_string(hookClock(b)) + "\n";
}

std::string stepCommand(Board& b, std::unique_lock<std::mutex>& lock, const std::vector<std::string>& w) {
  long count = 1;
  if (!stepCount(w, &count)) {
    return "ERROR: step [ticks 1.." + std::to_string(MAX_STEP) + "]\n";
  }
  if (b.lockstep != Lockstep::STEP) return "ERROR: step needs \"lockstep step\"\n";
  b.stepLimit += static_cast<uint64_t>(count);
  b.stepGrantMs = nowMs();
  const uint64_t target = b.stepLimit;
  b.gate.notify_all();
  const bool done = b.gate.wait_for(lock, std::chrono::milliseconds(STEP_ANSWER_MS), [&] {
    return b.ticksDone >= target || b.lockstep != Lockstep::STEP;
  });
  // A long wait counts as a grant: the lease runs from the answer.
  b.stepGrantMs = nowMs();
  if (!done) return "ERROR: the ticks granted did not run (is the DSP task waiting for its tick?)\n";
  return "OK ticks=" + std::to_string(b.ticksDone) + "\n";
}

}  // namespace vboard
