// Prints one log line as prefix, the caller's expanded message and the colour reset, under the
// lock of standard output so that lines of different threads never mix.
#include "voiceLog.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

constexpr VOICE_LOG_MODULE logModules[VOICE_MODULE_MAX] = {
    {"general", VOICE_LOGLEVEL_ERROR}, {"spare1", VOICE_LOGLEVEL_ERROR},
    {"disp", VOICE_LOGLEVEL_ERROR},    {"spare3", VOICE_LOGLEVEL_ERROR},
    {"vos", VOICE_LOGLEVEL_ERROR},     {"ept", VOICE_LOGLEVEL_ERROR},
    {"cms", VOICE_LOGLEVEL_ERROR},     {"prov", VOICE_LOGLEVEL_ERROR},
    {"lhapi", VOICE_LOGLEVEL_ERROR},   {"istw", VOICE_LOGLEVEL_ERROR},
    {"dsphal", VOICE_LOGLEVEL_ERROR},  {"slicslac", VOICE_LOGLEVEL_ERROR},
};

constexpr const char *voiceLogColor[VOICE_LOGLEVEL_DEBUG + 1] = {
    "",
    "\x1b[0;33;41m",
    "\x1b[0;31;47m",
    "\x1b[0;33;1m",
    "\x1b[0;31m",
    "\x1b[0;33m",
    "\x1b[0;36m",
    "\x1b[0;35m",
    "\x1b[0;32m",
};

constexpr const char *colourReset = "\x1b[0m";

std::atomic<VOICE_LOG_CAPTURE_FUNC> captureHook{nullptr};

// Expands the caller's format with one trailing newline removed, so that every line ends with the
// colour reset and exactly one newline whether the caller wrote a newline or not.
void printMessage(const char *format, va_list args) {
  const size_t len = strlen(format);
  if (len == 0 || format[len - 1] != '\n') {
    vfprintf(stdout, format, args);
    return;
  }
  // Formats are short: copy on the stack, so that logging does not allocate.
  char local[256];
  if (len <= sizeof local) {
    memcpy(local, format, len - 1);
    local[len - 1] = '\0';
    vfprintf(stdout, local, args);
  } else {
    std::string trimmed(format, len - 1);
    vfprintf(stdout, trimmed.c_str(), args);
  }
}

void printLine(const struct timeval &now, VOICE_MODULE module, VOICE_LOGLEVEL level,
               const char *format, va_list args) {
  struct tm utc{};
  time_t seconds = now.tv_sec;
  gmtime_r(&seconds, &utc);
  const unsigned levelIndex = static_cast<unsigned>(level);
  const char *colour = levelIndex <= VOICE_LOGLEVEL_DEBUG ? voiceLogColor[levelIndex] : "";

  flockfile(stdout);
  fprintf(stdout, "%02d:%02d:%02d.%03d [%s]%s ", utc.tm_hour, utc.tm_min, utc.tm_sec,
          static_cast<int>(now.tv_usec / 1000), logModules[module].name, colour);
  printMessage(format, args);
  fputs(colourReset, stdout);
  fputc('\n', stdout);
  funlockfile(stdout);
}

constexpr VOICE_LOGLEVEL translateVosLevel(VOS_LOGLEVEL level) {
  switch (level) {
    case VOS_LOGLEVEL_EMERG: return VOICE_LOGLEVEL_EMERG;
    case VOS_LOGLEVEL_CRIT: return VOICE_LOGLEVEL_CRIT;
    case VOS_LOGLEVEL_ALERT: return VOICE_LOGLEVEL_ALERT;
    case VOS_LOGLEVEL_ERROR: return VOICE_LOGLEVEL_ERROR;
    case VOS_LOGLEVEL_WARNING: return VOICE_LOGLEVEL_WARNING;
    case VOS_LOGLEVEL_NOTICE: return VOICE_LOGLEVEL_NOTICE;
    case VOS_LOGLEVEL_INFO: return VOICE_LOGLEVEL_INFO;
    default: return VOICE_LOGLEVEL_DEBUG;
  }
}

}  // namespace

VOICE_LOGLEVEL voiceGetLogLevel(VOICE_MODULE module) {
  const unsigned index = static_cast<unsigned>(module);
  return index < VOICE_MODULE_MAX ? logModules[index].level : VOICE_LOGLEVEL_ALWAYS;
}

void setVoiceLogLevel(VOICE_MODULE, VOICE_LOGLEVEL) {}

void updateVoiceLogLevel(VOICE_MODULE, VOICE_LOGLEVEL) {}

void voiceLogSetCaptureHook(VOICE_LOG_CAPTURE_FUNC hook) { captureHook.store(hook); }

void voiceVLog(VOICE_MODULE module, VOICE_LOGLEVEL level, const char *format, va_list args) {
  struct timeval now{};
  gettimeofday(&now, nullptr);

  // A module outside the table is never printed, not even at level 0, so it never reaches the
  // table lookup of printLine.
  const bool known = static_cast<unsigned>(module) < VOICE_MODULE_MAX;
  const unsigned moduleLevel = static_cast<unsigned>(voiceGetLogLevel(module));
  if (known && format != nullptr && moduleLevel >= static_cast<unsigned>(level)) {
    va_list printArgs;
    va_copy(printArgs, args);
    printLine(now, module, level, format, printArgs);
    va_end(printArgs);
  }

  VOICE_LOG_CAPTURE_FUNC hook = captureHook.load();
  if (hook != nullptr) {
    va_list hookArgs;
    va_copy(hookArgs, args);
    hook(module, level, &now, format, hookArgs);
    va_end(hookArgs);
  }
}

void voiceLog(VOICE_MODULE module, VOICE_LOGLEVEL level, const char *format, ...) {
  va_list args;
  va_start(args, format);
  voiceVLog(module, level, format, args);
  va_end(args);
}

void extVosLog(VOS_LOGLEVEL level, const char *format, ...) {
  va_list args;
  va_start(args, format);
  voiceVLog(VOICE_MODULE_VOS, translateVosLevel(level), format, args);
  va_end(args);
}
