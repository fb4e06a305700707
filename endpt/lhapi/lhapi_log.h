// Internal: the host adaptation layer's path into the voice log.
#pragma once

#include <cstdarg>

enum LhapiLogModule { LHAPI_LOG_EPT = 5, LHAPI_LOG_LHAPI = 8 };
enum LhapiLogLevel { LHAPI_LOG_CRIT = 3, LHAPI_LOG_ERROR = 4 };

void lhapiVLog(int module, int level, const char* format, va_list args);
void lhapiLog(int module, int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
