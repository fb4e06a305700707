// Lines that input from outside can cause (a refused packet, a malformed frame, an unexpected
// event) go through a rate limit, so that a flood cannot flood the log: at most `burst` lines per
// `intervalMs` for each kind of line, and the first line after a quiet spell says how many were
// held back. The clock is the monotonic one unless a test sets its own.
#pragma once

#include <cstdint>
#include <mutex>

struct logRateLimit_t {
  int64_t intervalMs = 1000;
  unsigned burst = 5;
  int64_t windowStartMs = 0;
  unsigned printed = 0;
  unsigned suppressed = 0;
  bool started = false;
  std::mutex lock;  // kinds of lines are printed from the loop and the library's threads
};

// True when a line may be printed at `nowMs`; *heldBack is then the number of lines suppressed
// since the last printed one (0 when none). The caller holds no lock; the limit's own is taken
// by logLimited.
bool logRateAllow(logRateLimit_t* limit, int64_t nowMs, unsigned* heldBack);

// Prints the line (printf format, no newline) when the limit allows it, followed by
// " (N more not shown)" when lines were held back before it.
void logLimited(logRateLimit_t* limit, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The clock of logLimited in milliseconds; null restores the monotonic clock.
void logLimitSetClock(int64_t (*nowMs)());
