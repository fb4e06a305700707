// The voice log: one log for the OS layer, the endpoint library and the DSP framework. A message
// names its module and level; it is printed on standard output, prefixed with the UTC time of day,
// the module's name and a terminal colour for its level, when its level does not exceed the
// module's level. Every message, printed or not, also goes to the capture hook when one is set.
#pragma once

#include <cstdarg>
#include <sys/time.h>

typedef enum : int {
  VOICE_LOGLEVEL_ALWAYS = 0,
  VOICE_LOGLEVEL_EMERG = 1,
  VOICE_LOGLEVEL_ALERT = 2,
  VOICE_LOGLEVEL_CRIT = 3,
  VOICE_LOGLEVEL_ERROR = 4,
  VOICE_LOGLEVEL_WARNING = 5,
  VOICE_LOGLEVEL_NOTICE = 6,
  VOICE_LOGLEVEL_INFO = 7,
  VOICE_LOGLEVEL_DEBUG = 8,
} VOICE_LOGLEVEL;

// The OS layer's own levels: CRIT and ALERT are in the other order than the voice levels.
typedef enum : int {
  VOS_LOGLEVEL_ALWAYS = 0,
  VOS_LOGLEVEL_EMERG = 1,
  VOS_LOGLEVEL_CRIT = 2,
  VOS_LOGLEVEL_ALERT = 3,
  VOS_LOGLEVEL_ERROR = 4,
  VOS_LOGLEVEL_WARNING = 5,
  VOS_LOGLEVEL_NOTICE = 6,
  VOS_LOGLEVEL_INFO = 7,
  VOS_LOGLEVEL_DEBUG = 8,
} VOS_LOGLEVEL;

// Modules 1 and 3 belong to components this system does not contain; their rows stay in the table.
typedef enum : int {
  VOICE_MODULE_GENERAL = 0,
  VOICE_MODULE_DISP = 2,
  VOICE_MODULE_VOS = 4,
  VOICE_MODULE_EPT = 5,
  VOICE_MODULE_CMS = 6,
  VOICE_MODULE_PROV = 7,
  VOICE_MODULE_LHAPI = 8,
  VOICE_MODULE_ISTW = 9,
  VOICE_MODULE_DSPHAL = 10,
  VOICE_MODULE_SLICSLAC = 11,
  VOICE_MODULE_MAX = 12,
} VOICE_MODULE;

typedef struct {
  const char *name;
  VOICE_LOGLEVEL level;
} VOICE_LOG_MODULE;

// Receives every message with the time it was logged at and the caller's unexpanded arguments.
// The board layer installs its capture function (halcap_log) here; no hook is set by default.
typedef void (*VOICE_LOG_CAPTURE_FUNC)(VOICE_MODULE module, VOICE_LOGLEVEL level,
                                       const struct timeval *time, const char *format,
                                       va_list args);

void voiceLog(VOICE_MODULE module, VOICE_LOGLEVEL level, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
void voiceVLog(VOICE_MODULE module, VOICE_LOGLEVEL level, const char *format, va_list args);

// The OS layer's entry: logs under VOICE_MODULE_VOS with its level translated to a voice level.
void extVosLog(VOS_LOGLEVEL level, const char *format, ...) __attribute__((format(printf, 2, 3)));

// The module's level; 0 for a module number outside the table.
VOICE_LOGLEVEL voiceGetLogLevel(VOICE_MODULE module);

// Levels are fixed when the program is built: these accept a request and change nothing.
void setVoiceLogLevel(VOICE_MODULE module, VOICE_LOGLEVEL level);
void updateVoiceLogLevel(VOICE_MODULE module, VOICE_LOGLEVEL level);

// Sets (or, with null, removes) the capture hook.
void voiceLogSetCaptureHook(VOICE_LOG_CAPTURE_FUNC hook);
