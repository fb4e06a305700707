// Service timers: a command queued to a channel's service after a time, once or periodically.
// Linked into the framework; no service of this system arms one.
#pragma once

#include <cstdint>

constexpr unsigned TIMER_NUM_ENTRIES = 10;
enum TIMER_MODE : uint16_t { TIMER_MODE_ONESHOT = 0, TIMER_MODE_PERIODIC = 1 };

struct TIMER_STRUCT {
  uint16_t entryUsed;
  uint16_t handle;   // the socket that armed it
  uint16_t command;  // queued to the service named by its high byte
  uint32_t timerValue;
  uint32_t timerCount;
  uint16_t periodic;
};

extern TIMER_STRUCT gTimer[TIMER_NUM_ENTRIES];
extern uint32_t gTimerSynchronous;

void timerInit();
// For the running channel: arms, changes (value non-zero) or cancels (value 0) its timer of
// `command`.
void timerModify(uint16_t command, uint32_t value, uint16_t mode);
void timerUpdate(uint32_t elapsed);
uint32_t timerSynchronousGet();
