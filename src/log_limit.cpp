#include "log_limit.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace {

int64_t monotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int64_t (*logClock)() = monotonicMs;

}  // namespace

bool logRateAllow(logRateLimit_t* limit, int64_t nowMs, unsigned* heldBack) {
  *heldBack = 0;
  if (!limit->started || nowMs - limit->windowStartMs >= limit->intervalMs ||
      nowMs < limit->windowStartMs) {
    limit->started = true;
    limit->windowStartMs = nowMs;
    limit->printed = 0;
  }
  if (limit->printed >= limit->burst) {
    limit->suppressed++;
    return false;
  }
  limit->printed++;
  *heldBack = limit->suppressed;
  limit->suppressed = 0;
  return true;
}

void logLimited(logRateLimit_t* limit, const char* format, ...) {
  unsigned heldBack = 0;
  {
    std::lock_guard<std::mutex> guard(limit->lock);
    if (!logRateAllow(limit, logClock(), &heldBack)) return;
  }
  char line[256];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof(line), format, args);
  va_end(args);
  if (heldBack > 0) {
    printf("%s (%u more not shown)\n", line, heldBack);
  } else {
    printf("%s\n", line);
  }
}

void logLimitSetClock(int64_t (*nowMs)()) { logClock = nowMs ? nowMs : monotonicMs; }
