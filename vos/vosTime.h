// Sleep and clock functions of the OS abstraction layer.
#pragma once

#include <cstdint>
#include <ctime>

#include "vosTypes.h"

// Milliseconds of a coarse elapsed-time clock that wraps after about 11.65 hours.
typedef uint32_t VOS_TIME_MS;

// The largest value of vosTimeGetMs; the clock then wraps to 0.
constexpr VOS_TIME_MS VOS_TIME_MS_MAX = 41943030u;

VOS_STATUS vosSleepInit(void);
VOS_STATUS vosSleepTerm(void);
VOS_STATUS vosSleep(uint32_t milliseconds);

VOS_STATUS vosTimeInit(void);
VOS_STATUS vosTimeTerm(void);
// The system's elapsed-time count in 10 ms ticks, its low 22 bits, times 10.
VOS_STATUS vosTimeGetMs(VOS_TIME_MS *timeMs);
// second - first, across one wrap of the clock when second < first.
VOS_STATUS vosTimeCalcDeltaMs(VOS_TIME_MS first, VOS_TIME_MS second, VOS_TIME_MS *deltaMs);
VOS_STATUS vosTimeGetTimeOfDay(long *seconds, long *microseconds);
// Setting the wall clock is not available: always ERR.
VOS_STATUS vosTimeSetWallTime(time_t wallTime);
VOS_STATUS vosTimeGetGmTime(const time_t *calendarTime, struct tm *brokenDown);
VOS_STATUS vosTimeGetLocalTime(const time_t *calendarTime, struct tm *brokenDown);
VOS_STATUS vosTimeMkTime(struct tm *brokenDown, time_t *calendarTime);
