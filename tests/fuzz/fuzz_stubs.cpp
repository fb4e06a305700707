// What the fuzzed library code calls outside itself: a quiet voice log, a board of two lines and
// a DSP that takes no commands.
#include <cstdarg>

#include "hdspCmd.h"
#include "voiceLog.h"

void voiceLog(VOICE_MODULE, VOICE_LOGLEVEL, const char*, ...) {}
void voiceVLog(VOICE_MODULE, VOICE_LOGLEVEL, const char*, va_list) {}
int boardHalGetNumEndpoints(void) { return 2; }
int16_t hdspSendCmd(uint16_t, uint16_t, uint16_t, uint16_t, uintptr_t) { return -1; }
int16_t hdspSendCmdData(uint16_t, uint16_t, uint16_t, uint16_t, void*) { return -1; }
