// The resource manager: the framework's own command target (device 0x30) for opening and closing
// VHDs, frame sizes, processing on/off, stack switches, hardware ports and statistics. It runs as
// a kernel thread of its own inside the DSP tick.
#pragma once

#include <cstdint>

#include "knl/knl.h"
#include "mem/mem.h"
#include "qrn/qrn.h"

struct HAPI_PULSE_SIGNAL_PARMS {
  uint16_t pulseFrequency;
  uint16_t pulseAmplitude;
  uint16_t pulseDuration;
  uint16_t pulsePeriod;
  uint16_t pulseCount;
};

struct HAPI_RM_DSPBUFSTATS {
  uint16_t dspNumber;
  uint16_t hapiMsgBufPoolnumFree;
  uint16_t hapiMsgBufPoollowWater;
  uint16_t hapiExtDataBufPoolnumFree;
  uint16_t hapiExtDataBufPoollowWater;
  uint16_t hapiBigExtDataBufPoolnumFree;
  uint16_t hapiBigExtDataBufPoollowWater;
};
using DSPBUFSTATS = HAPI_RM_DSPBUFSTATS;
static_assert(sizeof(DSPBUFSTATS) == 14, "buffer statistics are seven words");

struct HAPI_RM_MEMSTATS {
  uint16_t dspNumber;
  uint16_t numScratchLeft;
  uint16_t numStackLeft;
};
using HAPIRMMEMSTATS = HAPI_RM_MEMSTATS;
static_assert(sizeof(HAPIRMMEMSTATS) == 6, "memory statistics are three words");

struct HAPI_RM_PULSE_SIGNAL_PARMS {
  uint16_t pulseLineHdl;
  uint16_t pulseFrequency;
  uint16_t pulseAmplitude;
  uint16_t pulseDuration;
  uint16_t pulsePeriod;
  uint16_t pulseCount;
};
using PULSESIGNALPARMS = HAPI_RM_PULSE_SIGNAL_PARMS;
static_assert(sizeof(PULSESIGNALPARMS) == 12, "pulse parameters are six words");

enum HAPI_RM_DIRECTION : uint16_t {
  HAPI_RM_DIRECTION_UNSPECIFIED = 0,
  HAPI_RM_DIRECTION_INGRESS = 1,
  HAPI_RM_DIRECTION_EGRESS = 2,
};

constexpr KNL_ThreadPriority RM_THREAD_PRIORITY = 0x7ED8;
constexpr unsigned RM_NUM_LINES = 8;

extern MEM_Queue RM_gMsgQueue;
extern KNL_Thread RM_gThread;
extern int RM_gInitialized;
extern HAPI_PULSE_SIGNAL_PARMS gPulseSignalParms[RM_NUM_LINES];

void RM_Init();
void RM_ProcessThread(void* context);
void RM_ProcessMessages(QRN_SocketMsg* msg);
