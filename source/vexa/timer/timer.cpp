// Service timers.
#include "timer.h"

#include "lhapi.h"
#include "qrn/qrn.h"

TIMER_STRUCT gTimer[TIMER_NUM_ENTRIES];
uint32_t gTimerSynchronous = 0;

void timerInit() {
  LhapiLockGuard lock;
  for (auto& t : gTimer) t = TIMER_STRUCT{};
  gTimerSynchronous = 0;
}

void timerModify(uint16_t command, uint32_t value, uint16_t mode) {
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  LhapiLockGuard lock;
  for (auto& t : gTimer) {
    if (t.entryUsed && t.handle == socket->handle && t.command == command) {
      if (value == 0) {
        t = TIMER_STRUCT{};
      } else {
        t.timerValue = value;
      }
      return;
    }
  }
  if (value == 0) return;
  for (auto& t : gTimer) {
    if (!t.entryUsed) {
      t = TIMER_STRUCT{1, socket->handle, command, value, 0,
                       static_cast<uint16_t>(mode == TIMER_MODE_PERIODIC ? 1 : 0)};
      return;
    }
  }
  LHAPI_ASSERT_FAIL();  // every entry in use
}

void timerUpdate(uint32_t elapsed) {
  bool fired = false;
  {
    LhapiLockGuard lock;
    gTimerSynchronous += elapsed;  // a running total that wraps at 32 bits
    for (auto& t : gTimer) {
      if (!t.entryUsed) continue;
      if (QRN_FindSocket(t.handle) == nullptr) {
        t = TIMER_STRUCT{};  // its channel has gone
        continue;
      }
      t.timerCount += elapsed;
      if (t.timerCount < t.timerValue) continue;
      QRN_QueueStdObdMsg(t.handle, t.command, 0, 0, HAPIVHD_HOST, t.command >> 8, 0, 0);
      fired = true;
      if (t.periodic) {
        t.timerCount = 0;
      } else {
        t = TIMER_STRUCT{};
      }
    }
  }
  if (fired) lhapiProcessEntryAsync();
}

uint32_t timerSynchronousGet() { return gTimerSynchronous; }
