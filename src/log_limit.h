// Lines that input from outside can cause (a refused packet, a malformed frame, an unexpected
// event) go through a rate limit, so that a flood cannot flood the log: at most `burst` lines per
// `intervalMs` for each kind of line, and the first line after a quiet spell says how many were
// held back. The clock is the monotonic one unless a test sets its own.
#pragma once

#include <cstddef>
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

// Every line that a bus request can cause shares one limit (so many requests a second cannot
// flood the log, whichever lines they cause): logLimited on it. ORVOX_LOG_WINDOW_MS sets its
// interval for tests that count what a flood leaves in the log.
constexpr unsigned LOG_REQUEST_BURST = 200;
void logRequest(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The lines that the lines' own events cause (a hook change, a digit, and the event's way to the
// PBX) have a limit of their own, the same size a second: a flood of bus requests cannot hide
// them, nor they the requests' lines.
void logLineEvent(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Text from outside the daemon, fit for a log line: at most LOG_TEXT_MAX of its bytes, a
// backslash and the control characters written as escapes (\\, \n, \r, \t, \xHH), and "..."
// where it was cut; null gives "". Bytes of 0x80 and above pass unchanged (UTF-8 names).
constexpr size_t LOG_TEXT_MAX = 64;
struct logText_t {
  char text[LOG_TEXT_MAX * 4 + 4];
};
logText_t logText(const char* text);
