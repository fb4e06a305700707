// Idle-loop load counter: counts idle iterations between updates and reports load statistics to
// the host. Linked into the framework; nothing in this system runs an idle loop or dispatches its
// commands.
#pragma once

#include <cstdint>

#include "hapi/hapi_types.h"

struct QRN_SocketMsg;

struct ICPSTATS32 {
  uint32_t calibrationCount;  // idle iterations of an unloaded interval
  uint32_t iterations;        // updates so far
  uint32_t current;           // idle iterations of the last interval
  uint32_t total;             // wraps at 32 bits
  uint32_t average;
  uint32_t maximum;
  uint32_t minimum;
  uint32_t reserved;
};
static_assert(sizeof(ICPSTATS32) == 32, "the statistics event carries 32 bytes");

struct ICP_REGS {
  uint16_t updateInterval;  // frame entries between updates
  uint16_t reportInterval;  // updates between reports to the host
  uint16_t changePercent;   // a change of the current count above this also reports
};

struct ICP_STATE {
  uint16_t enabled;
  uint32_t count;
  uint32_t entries;
  uint32_t updatesSinceReport;
  uint32_t lastReported;
  ICP_REGS regs;
  ICPSTATS32 stats;
};

enum : uint16_t {
  HAPI_ICP_READCOUNT_CMD = 0x8300,
  HAPI_ICP_READSTATS_CMD = 0x8301,
  HAPI_ICP_CONFIG_CMD = 0x8332,
  HAPI_ICP_STATS_EVT = 0x8340,
  HAPI_ICP_ENABLE_CMD = 0x83B0,
  HAPI_ICP_SETREG1_CMD = 0x83B4,
  HAPI_ICP_RESET_CMD = 0x83B8,
};

extern ICP_STATE ICP_gState;

void icpCalibrate();
void icpCount();
uint32_t icpProfile();
void icpSetCount(uint32_t count);
uint32_t icpGetCount();
void icpUpdateStats();
void icpProcess();
HAPIRESULT icpio(QRN_SocketMsg* msg);
