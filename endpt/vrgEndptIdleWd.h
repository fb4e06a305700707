// The idle-state watchdog: tells the DSP driver when every DSP channel has been quiet for
// 4000 ms (the voice system is idle) and when any of them becomes active again.
#pragma once

#include <time.h>

enum ISTW_EVENT {
  ISTW_GENERIC_EVT = 0,    // activity
  ISTW_FORCED_ACTIVE = 1,  // hold (1) or release (0) the channel active
  ISTW_SIGNALLING = 2,     // a signal starts (1) or ends (0)
};

// Pseudo-channels: start-up and shutdown hold the system active with the first, switchboard
// requests report the second.
inline constexpr int ISTW_STARTUP_HANDLE = 0xC0FFEE;
inline constexpr int ISTW_SWITCHBOARD_HANDLE = 0x2222;
inline constexpr int ISTW_MAX_ENTRIES = 27;
inline constexpr int ISTW_IDLE_MS = 4000;

struct ISTW_ENTRY {
  int vhd;  // -1 when the entry is free
  int idle;
  int forced_active;
  int in_signalling;
  timespec time_last_evt;  // monotonic
};

void vrgEndptIstwInit(void);
void istwEvent(int vhd, ISTW_EVENT evt, int val);
// Called by the dispatcher once per pass.
void vrgEndptProcessIdle(void);
void istwPrintState(void);
