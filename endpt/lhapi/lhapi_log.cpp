// Assertion hook and error printer of the DSP code, both through the voice log.
#include <cstdarg>

#include "lhapi.h"
#include "voiceLog.h"

void lhapiAssertHandlerVerbose(const char* file, int line) {
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "LHAPI: Assert in file %s at line %d",
           file != nullptr ? file : "?", line);
}

void lhapiAssertHandler(const char* file, int line) { lhapiAssertHandlerVerbose(file, line); }

void lhapiErrorPrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  voiceVLog(VOICE_MODULE_LHAPI, VOICE_LOGLEVEL_CRIT, format, args);
  va_end(args);
}
