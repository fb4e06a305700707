// Assertion hook and error printer of the DSP code, both through the voice log.
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <sys/time.h>

#include "lhapi.h"
#include "lhapi_log.h"

void lhapiVLog(int module, int level, const char* format, va_list args) {
  // Voice log line: time of day, module, level colour, message, colour reset. The modules used
  // here print at error level and above.
  static const char* const kNames[] = {"general", "-", "disp", "-", "vos", "ept", "cms",
                                       "prov",    "lhapi", "istw", "dsphal", "slicslac"};
  static const char* const kColours[] = {"",           "\x1b[0;33;41m", "\x1b[0;31;47m",
                                         "\x1b[0;33;1m", "\x1b[0;31m",  "\x1b[0;33m",
                                         "\x1b[0;36m", "\x1b[0;35m",    "\x1b[0;32m"};
  if (module < 0 || module >= 12 || level < 0 || level > 4) return;
  timeval now{};
  gettimeofday(&now, nullptr);
  tm utc{};
  time_t seconds = now.tv_sec;
  gmtime_r(&seconds, &utc);
  char line[1024];
  int len = std::vsnprintf(line, sizeof(line), format, args);
  if (len < 0) return;
  if (len > 2 && static_cast<size_t>(len) < sizeof(line) && line[len - 1] == '\n') line[len - 1] = '\0';
  std::printf("%02d:%02d:%02d.%03d [%s]%s %s\x1b[0m\n", utc.tm_hour, utc.tm_min, utc.tm_sec,
              static_cast<int>(now.tv_usec / 1000), kNames[module], kColours[level], line);
}

void lhapiLog(int module, int level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  lhapiVLog(module, level, format, args);
  va_end(args);
}

void lhapiAssertHandlerVerbose(const char* file, int line) {
  lhapiLog(LHAPI_LOG_EPT, LHAPI_LOG_ERROR, "LHAPI: Assert in file %s at line %d",
           file != nullptr ? file : "?", line);
}

void lhapiAssertHandler(const char* file, int line) { lhapiAssertHandlerVerbose(file, line); }

void lhapiErrorPrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  lhapiVLog(LHAPI_LOG_LHAPI, LHAPI_LOG_CRIT, format, args);
  va_end(args);
}
