#include "log_limit.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

int64_t monotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int64_t (*logClock)() = monotonicMs;

logRateLimit_t* requestLimit() {
  static logRateLimit_t limit;
  static const bool configured = [] {
    limit.burst = LOG_REQUEST_BURST;
    const char* window = getenv("ORVOX_LOG_WINDOW_MS");
    if (window && *window) {
      char* end = nullptr;
      const long long ms = strtoll(window, &end, 10);
      if (*end == '\0' && ms > 0) limit.intervalMs = ms;
    }
    return true;
  }();
  (void)configured;
  return &limit;
}

logRateLimit_t* lineEventLimit() {
  static logRateLimit_t limit;
  static const bool configured = [] {
    limit.burst = LOG_REQUEST_BURST;
    return true;
  }();
  (void)configured;
  return &limit;
}

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

static void logLimitedV(logRateLimit_t* limit, const char* format, va_list args) {
  unsigned heldBack = 0;
  {
    std::lock_guard<std::mutex> guard(limit->lock);
    if (!logRateAllow(limit, logClock(), &heldBack)) return;
  }
  char line[512];
  vsnprintf(line, sizeof(line), format, args);
  if (heldBack > 0) {
    printf("%s (%u more not shown)\n", line, heldBack);
  } else {
    printf("%s\n", line);
  }
}

void logLimited(logRateLimit_t* limit, const char* format, ...) {
  va_list args;
  va_start(args, format);
  logLimitedV(limit, format, args);
  va_end(args);
}

void logRequest(const char* format, ...) {
  va_list args;
  va_start(args, format);
  logLimitedV(requestLimit(), format, args);
  va_end(args);
}

void logLineEvent(const char* format, ...) {
  va_list args;
  va_start(args, format);
  logLimitedV(lineEventLimit(), format, args);
  va_end(args);
}

logText_t logText(const char* text) {
  logText_t out{};
  if (!text) return out;
  size_t n = 0;
  const auto put = [&](char c) { out.text[n++] = c; };
  size_t i = 0;
  for (; text[i] && i < LOG_TEXT_MAX; i++) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '\\': put('\\'); put('\\'); break;
      case '\n': put('\\'); put('n'); break;
      case '\r': put('\\'); put('r'); break;
      case '\t': put('\\'); put('t'); break;
      default:
        if (c < 0x20 || c == 0x7f) {
          static const char hex[] = "0123456789abcdef";
          put('\\'); put('x'); put(hex[c >> 4]); put(hex[c & 0xf]);
        } else {
          put(static_cast<char>(c));
        }
    }
  }
  if (text[i]) {
    put('.'); put('.'); put('.');
  }
  out.text[n] = '\0';
  return out;
}

void logLimitSetClock(int64_t (*nowMs)()) { logClock = nowMs ? nowMs : monotonicMs; }
