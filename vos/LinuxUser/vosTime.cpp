// Millisecond sleep and the clock functions.
#include <sys/time.h>
#include <sys/times.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "vosError.h"
#include "vosTime.h"
#include "voiceLog.h"

namespace {

const char *const sleepFunctionNames[] = {"vosSleepInit", "vosSleepTerm", "vosSleep"};

const char *const timeFunctionNames[] = {
    "vosTimeInit",      "vosTimeTerm",         "vosTimeGetMs",
    "vosTimeCalcDeltaMs", "vosTimeSetWallTime", "vosTimeGetGmTime",
    "vosTimeGetLocalTime", "vosTimeMkTime",     "vosTimeGetTimeOfDay",
};

enum {
  VOS_TIME_FN_SET_WALL_TIME = 4,
  VOS_TIME_FN_GET_TIME_OF_DAY = 8,
};

// The clock keeps the low 22 bits of the 10 ms tick count.
constexpr unsigned long TICK_MASK = 0x3FFFFFul;
// 41 943 031: one past the largest value, the span added when the clock has wrapped.
constexpr VOS_TIME_MS WRAP_SPAN = 0x27FFFF7u;

}  // namespace

VOS_STATUS vosSleepInit(void) {
  return vosErrorAddFunctionStrings(VOS_SLEEP_MODULE, sleepFunctionNames,
                                    sizeof sleepFunctionNames / sizeof sleepFunctionNames[0]);
}

VOS_STATUS vosSleepTerm(void) { return VOS_STATUS_OK; }

VOS_STATUS vosSleep(uint32_t milliseconds) {
  // A signal does not shorten the sleep; the sleep stays a cancellation point.
  struct timespec remaining{static_cast<time_t>(milliseconds / 1000),
                            static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosTimeInit(void) {
  return vosErrorAddFunctionStrings(VOS_TIME_MODULE, timeFunctionNames,
                                    sizeof timeFunctionNames / sizeof timeFunctionNames[0]);
}

VOS_STATUS vosTimeTerm(void) { return VOS_STATUS_OK; }

VOS_STATUS vosTimeGetMs(VOS_TIME_MS *timeMs) {
  struct tms unused{};
  errno = 0;
  clock_t ticks = times(&unused);
  if (ticks == static_cast<clock_t>(-1) && errno != 0) {
    return VOS_STATUS_ERR;
  }
  // times() counts sysconf(_SC_CLK_TCK) ticks per second; scale to 10 ms ticks.
  long ticksPerSecond = sysconf(_SC_CLK_TCK);
  unsigned long long hundredths = static_cast<unsigned long long>(ticks);
  if (ticksPerSecond > 0 && ticksPerSecond != 100) {
    hundredths = hundredths * 100ull / static_cast<unsigned long long>(ticksPerSecond);
  }
  *timeMs = static_cast<VOS_TIME_MS>((hundredths & TICK_MASK) * 10u);
  return VOS_STATUS_OK;
}

VOS_STATUS vosTimeCalcDeltaMs(VOS_TIME_MS first, VOS_TIME_MS second, VOS_TIME_MS *deltaMs) {
  *deltaMs = second >= first ? second - first : second + (WRAP_SPAN - first);
  return VOS_STATUS_OK;
}

VOS_STATUS vosTimeGetTimeOfDay(long *seconds, long *microseconds) {
  struct timeval now{};
  if (gettimeofday(&now, nullptr) != 0) {
    return vosErrorCheckStatusLinuxUser(errno,
                                        vosFunctionId(VOS_TIME_MODULE, VOS_TIME_FN_GET_TIME_OF_DAY));
  }
  *seconds = now.tv_sec;
  *microseconds = now.tv_usec;
  return VOS_STATUS_OK;
}

VOS_STATUS vosTimeSetWallTime(time_t /*wallTime*/) {
  vosErrorCheckStatusLinuxUser(ENOENT, vosFunctionId(VOS_TIME_MODULE, VOS_TIME_FN_SET_WALL_TIME));
  return VOS_STATUS_ERR;
}

VOS_STATUS vosTimeGetGmTime(const time_t *calendarTime, struct tm *brokenDown) {
  if (calendarTime == nullptr || brokenDown == nullptr ||
      gmtime_r(calendarTime, brokenDown) == nullptr) {
    extVosLog(VOS_LOGLEVEL_ERROR,
              "vosTimeGetGmTime() - cannot convert the calender time to broken down time");
    return VOS_STATUS_ERR;
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosTimeGetLocalTime(const time_t *calendarTime, struct tm *brokenDown) {
  if (calendarTime == nullptr || brokenDown == nullptr ||
      localtime_r(calendarTime, brokenDown) == nullptr) {
    extVosLog(VOS_LOGLEVEL_ERROR,
              "vosTimeGetLocalTime() - cannot convert the calender time to broken down time");
    return VOS_STATUS_ERR;
  }
  return VOS_STATUS_OK;
}

VOS_STATUS vosTimeMkTime(struct tm *brokenDown, time_t *calendarTime) {
  time_t result = brokenDown != nullptr ? mktime(brokenDown) : static_cast<time_t>(-1);
  if (result == static_cast<time_t>(-1)) {
    extVosLog(VOS_LOGLEVEL_ERROR, "ERROR: vosTimeMkTime() - mktime() returned error");
    return VOS_STATUS_ERR;
  }
  *calendarTime = result;
  return VOS_STATUS_OK;
}
