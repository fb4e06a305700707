// Per-service profiler: measures the run time of one service of one channel in one direction
// through the host adaptation layer's counter hooks. Linked into the framework; the resource
// manager does not dispatch its commands in this system.
#pragma once

#include <cstdint>

#include "hapi/hapi_types.h"

struct QRN_SocketMsg;

struct DPR_STATS {
  uint32_t iterations;
  uint32_t total;    // counter ticks, wrapping at 32 bits
  uint32_t maximum;
};

struct DPRSTATE {
  uint16_t handle;     // the configured channel
  uint16_t srvId;      // the configured service
  uint16_t direction;  // HAPI_DIRECTION of the configured run
  uint16_t enabled;
  uint16_t running;
  uint16_t paused;
  uint32_t startCount;
  DPR_STATS stats;
};

// Data of the configure command 0x8432.
struct DPR_CONFIG {
  uint16_t handle;
  uint16_t srvId;
  uint16_t direction;
};

enum : uint16_t {
  HAPI_DPR_READSTATS_CMD = 0x8401,
  HAPI_DPR_CONFIG_CMD = 0x8432,
  HAPI_DPR_ENABLE_CMD = 0x84B0,
  HAPI_DPR_RESET_CMD = 0x84B8,
};

extern DPRSTATE DPR_gState;

void dprInit();
void dprStart(uint16_t handle, uint16_t srvId, uint16_t direction);
void dprStop(uint16_t handle, uint16_t srvId, uint16_t direction);
void dprPauseUnprotected();
void dprUnpauseUnprotected();
HAPIRESULT dprio(QRN_SocketMsg* msg);
