// Inside FXO line control: the one state record, the pass that the "PSTN" task runs every
// 50 ms, and the DTMF caller-ID receiver. Tests drive the pass directly.
#pragma once

#include <mutex>

#include "memCircBuf.h"
#include "pstnCtl.h"
#include "vosSem.h"
#include "vosTask.h"

struct PSTN_CTL_STATE {
  uint16_t numChannels;
  VRG_COUNTRY country;
  VOS_TASK_ID taskId;
  MEMCIRCBUFDRV evtQ;
  PSTN_CTL_CALLBACK callback;
  PSTN_CTL_CHAN_INFO chanState[PSTN_CTL_MAX_CHANNELS];
};

// One queued event: eight pointer-sized words, of which the last four are spare.
struct PSTN_CTL_QUEUE_RECORD {
  uintptr_t vhdHdl;
  uintptr_t event;
  uintptr_t op1;
  uintptr_t text;  // heap copy of the dial string or the filter slot byte, or 0
  uintptr_t spare[4];
};
inline constexpr int PSTN_CTL_QUEUE_RECORDS = 8;

extern PSTN_CTL_STATE pstnCtlState;
extern VOS_SEMLITE pstnEvtQSem;

// The state and queue without the task (pstnCtlInit adds the task).
PSTN_CTL_STATUS pstnCtlStateInit(VRG_COUNTRY country, PSTN_CTL_CALLBACK callback);
void pstnCtlStateDeinit(void);
// One period of the task: dial-tone time-outs, then at most one queued event.
void pstnCtlTaskPeriod(void);

PSTN_CTL_CHAN_INFO* pstnCtlChannel(uint16_t vhdHdl);
// Runs one event (PSTN_CTL_EVT_NONE advances the timers only) through a DTMF caller-ID
// receiver and reports what it completed.
void processDTMFClidRxEvent(PSTN_CTL_DTMFCLIDRX_STATE* rx, PSTN_CTL_EVENT event, uint16_t digit);
// Queues a report of this period; the reports go to the callback once the channel table is
// unlocked, because the callback waits for the dispatcher, which may itself set up channels.
// The lock of the channel table (channels and their receivers).
std::mutex& pstnCtlChannelLock();
void pstnCtlReport(uint16_t vhdHdl, PSTN_CTL_EVENT event, void* info);
void dtmfClidRxReset(PSTN_CTL_DTMFCLIDRX_STATE* rx);
