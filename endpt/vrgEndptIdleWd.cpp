// Idle-state watchdog: an activity table of the DSP channels that report, and the system's
// idle flag, under one lock; the DSP driver is told outside the lock.

#include "vrgEndptIdleWd.h"

#include <mutex>

#include "boardHal.h"
#include "voiceLog.h"

namespace {

std::mutex lock;
ISTW_ENTRY idle_state[ISTW_MAX_ENTRIES] = {};
int idle = 0;
bool tableCleared = false;

timespec monotonicNow() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now;
}

long elapsedMs(const timespec& since, const timespec& now) {
  return (now.tv_nsec - since.tv_nsec) / 1000000 + 1000 * (now.tv_sec - since.tv_sec);
}

void clearTable() {
  for (ISTW_ENTRY& e : idle_state) e = ISTW_ENTRY{-1, 0, 0, 0, {}};
  tableCleared = true;
}

// The entry of `vhd`, a newly taken free entry, or null when the table is full.
ISTW_ENTRY* findEntry(int vhd) {
  if (!tableCleared) clearTable();  // reports may come before the library's start-up
  for (ISTW_ENTRY& e : idle_state) {
    if (e.vhd == vhd) return &e;
  }
  for (ISTW_ENTRY& e : idle_state) {
    if (e.vhd == -1) {
      e = ISTW_ENTRY{vhd, 0, 0, 0, monotonicNow()};
      return &e;
    }
  }
  return nullptr;
}

}  // namespace

void vrgEndptIstwInit(void) {
  std::lock_guard<std::mutex> guard(lock);
  clearTable();
}

void istwEvent(int vhd, ISTW_EVENT evt, int val) {
  const int lowByte = vhd & 0xFF;
  if (lowByte == 0x2F || lowByte == 0x30) return;  // 0x30: the resource manager's device
  bool wake = false;
  bool entryWasIdle = false;
  {
    std::lock_guard<std::mutex> guard(lock);
    ISTW_ENTRY* entry = findEntry(vhd);
    if (entry == nullptr) return;  // table full: the report is ignored
    entryWasIdle = entry->idle != 0;
    entry->idle = 0;
    if (evt == ISTW_FORCED_ACTIVE) entry->forced_active = val;
    if (evt == ISTW_SIGNALLING) entry->in_signalling = val;
    if (!entry->forced_active && !entry->in_signalling) entry->time_last_evt = monotonicNow();
    if (idle) {
      voiceLog(VOICE_MODULE_ISTW, VOICE_LOGLEVEL_NOTICE, "%s: System going active\n", __func__);
      idle = 0;
      wake = true;
    }
  }
  if (wake) boardHalSetVoiceIdle(0);
  if (entryWasIdle) {
    voiceLog(VOICE_MODULE_ISTW, VOICE_LOGLEVEL_INFO, "%s: vhd 0x%x going active\n", __func__, vhd);
  }
}

void vrgEndptProcessIdle(void) {
  bool goIdle = false;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (idle) return;
    const timespec now = monotonicNow();
    bool activeSeen = false;
    for (ISTW_ENTRY& e : idle_state) {
      if (e.vhd == -1 || e.idle) continue;
      activeSeen = true;
      if (!e.forced_active && !e.in_signalling && elapsedMs(e.time_last_evt, now) >= ISTW_IDLE_MS) {
        e.idle = 1;
        voiceLog(VOICE_MODULE_ISTW, VOICE_LOGLEVEL_INFO, "%s: vhd 0x%x going idle\n", __func__,
                 e.vhd);
      }
    }
    if (!activeSeen) {
      voiceLog(VOICE_MODULE_ISTW, VOICE_LOGLEVEL_NOTICE, "%s: System going idle\n", __func__);
      idle = 1;
      goIdle = true;
    }
  }
  if (goIdle) boardHalSetVoiceIdle(1);
}

void istwPrintState(void) {
  ISTW_ENTRY copy[ISTW_MAX_ENTRIES];
  int used = 0;
  {
    std::lock_guard<std::mutex> guard(lock);
    for (const ISTW_ENTRY& e : idle_state) {
      if (tableCleared && e.vhd != -1) copy[used++] = e;
    }
  }
  voiceLog(VOICE_MODULE_ISTW, VOICE_LOGLEVEL_ALWAYS, "|    VHD     | Idle | For | Sig |\n");
  voiceLog(VOICE_MODULE_ISTW, VOICE_LOGLEVEL_ALWAYS, "|============|======|=====|=====|\n");
  for (int i = 0; i < used; ++i) {
    voiceLog(VOICE_MODULE_ISTW, VOICE_LOGLEVEL_ALWAYS, "| 0x%-8x |  %-1d   |  %-1d  |  %-1d  |\n",
             copy[i].vhd, copy[i].idle, copy[i].forced_active, copy[i].in_signalling);
  }
  voiceLog(VOICE_MODULE_ISTW, VOICE_LOGLEVEL_ALWAYS, "\n");
  voiceLog(VOICE_MODULE_ISTW, VOICE_LOGLEVEL_ALWAYS, "  Total count: %d VHDs tracked\n\n", used);
}
