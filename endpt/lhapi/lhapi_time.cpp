// Time and random sources of the host adaptation layer, used by the RTP service.
#include <cstdio>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include "lhapi.h"
#include "voiceLog.h"
#include "vosTime.h"
#include "lhapi_time.h"

namespace {
constexpr uint32_t kNtpEpochOffset = 2208988800u;

int firsttime = 1;
uint32_t prevTime = 0;
uint32_t lasttime_sec = 0;
uint32_t lasttime_usec = 0;
}  // namespace

uint32_t lhapiOsTimeGetMs() {
  VOS_TIME_MS now = 0;
  vosTimeGetMs(&now);
  return now;
}

uint32_t lhapiOsTimeDeltaMs(uint32_t first, uint32_t second) {
  VOS_TIME_MS delta = 0;
  vosTimeCalcDeltaMs(first, second, &delta);
  return delta;
}

uint32_t (*lhapi_gpMsClock)() = lhapiOsTimeGetMs;

uint32_t net_random() {
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "LHAPI: Opening /dev/urandom failed");
    return 0;
  }
  uint32_t value = 0;
  if (read(fd, &value, sizeof(value)) != static_cast<ssize_t>(sizeof(value))) value = 0;
  close(fd);
  return value;
}

uint16_t lhapiRtpRand16() { return static_cast<uint16_t>(net_random() & 0xFFFF); }

void lhapiRtpTimeRestart() { firsttime = 1; }

int lhapiRtpTimeGet(uint32_t* seconds, uint32_t* microseconds) {
  const uint32_t now = lhapi_gpMsClock();
  if (firsttime) {
    firsttime = 0;
    prevTime = now;
    lasttime_sec = net_random();
    lasttime_usec = net_random() % 1000000u;  // a valid fraction of a second
  }
  const uint32_t elapsed = lhapiOsTimeDeltaMs(prevTime, now);
  uint32_t sec = lasttime_sec + elapsed / 1000;
  uint32_t usec = lasttime_usec + (elapsed % 1000) * 1000;
  if (usec >= 1000000u) {
    usec -= 1000000u;
    sec += 1;
  }
  lasttime_sec = sec;
  lasttime_usec = usec;
  prevTime = now;
  if (seconds != nullptr) *seconds = sec;
  if (microseconds != nullptr) *microseconds = usec;
  return 0;
}

void lhapiRtpTimeSet(uint32_t seconds, uint32_t microseconds) {
  lasttime_sec = seconds;
  lasttime_usec = microseconds;
}

int lhapiRtpNtpTimeGet(uint32_t* seconds, uint32_t* microseconds) {
  timeval now{};
  gettimeofday(&now, nullptr);
  if (seconds != nullptr) *seconds = static_cast<uint32_t>(now.tv_sec) + kNtpEpochOffset;
  if (microseconds != nullptr) *microseconds = static_cast<uint32_t>(now.tv_usec);
  return 0;
}

void lhapiDprStatsInit() {}
uint32_t lhapiDprStatsGet() { return 0; }
uint32_t lhapiDprStatsDiff(uint32_t, uint32_t) { return 0; }
void lhapiDprStatsPause() {}
void lhapiDprStatsUnpause() {}
void lhapiDprStatsSetPrescaler(uint32_t) {}
int lhapiDprExclusiveExecStart() { return 0; }
void lhapiDprExclusiveExecEnd() {}
void lhapiIcpCalibrate() {}
