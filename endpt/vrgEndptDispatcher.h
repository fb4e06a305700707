// The dispatcher "VRGDISP": the one thread that owns every endpoint and connection record. API
// calls reach it as command records through a queue of 20 waiting calls and block until it has
// run them; reports of the lines, the DSP and the drivers reach it as 32-byte events through a
// queue of 150 (records of 32 bytes on a 32-bit target). On every wake-up it handles all queued events, then at most one command, then
// the idle-state watchdog.
#pragma once

#include <atomic>
#include <cstdint>

#include "boardHal.h"
#include "hapi/hapi_types.h"
#include "memCircBuf.h"
#include "vosSem.h"
#include "vosTask.h"
#include "vrgEndptTypes.h"

// ---- command records ----

enum VRG_EPT_CMD_TYPE : int32_t {
  VRG_EPT_CREATE = 0,
  VRG_EPT_DESTROY = 1,
  VRG_EPT_CREATE_CNX = 2,
  VRG_EPT_DELETE_CNX = 3,
  VRG_EPT_MODIFY_CNX = 4,
  VRG_EPT_MUTE_CNX = 5,
  VRG_EPT_LINK_INT = 6,
  VRG_EPT_CAPABILITIES = 7,
  VRG_EPT_SIGNAL = 8,
  VRG_EPT_GET_RTP_STATS = 9,
  VRG_EPT_GET_T38_STATS = 10,
  VRG_EPT_NTR_CMD = 11,
  VRG_EPT_CONSOLE_CMD = 12,
};

inline constexpr int VRG_EPT_CMD_NUM_ARGS = 10;

// One synchronous call: it lives on the caller's stack while the caller waits on cmd_sem; the
// command queue carries a pointer to it. Argument words are pointer-sized so that a word can
// carry a pointer.
struct VRG_EPT_CMD {
  VRG_EPT_CMD_TYPE command;
  uintptr_t arguments[VRG_EPT_CMD_NUM_ARGS];
  EPSTATUS status;
  VOS_SEMLITE cmd_sem;
};

// ---- event records ----

enum VRG_EVT_TYPE : int32_t {
  VRG_EVT_TYPE_CAS = 0,
  VRG_EVT_TYPE_HAPI_RM = 1,
  VRG_EVT_TYPE_HAPI_ENDPT = 2,
  VRG_EVT_TYPE_HAPI_CNX = 3,
  VRG_EVT_TYPE_NTE = 4,
  VRG_EVT_TYPE_PSTN = 5,
  VRG_EVT_TYPE_DECT = 6,
  VRG_EVT_TYPE_HAL = 7,
};

struct VRG_CAS_EVT {
  int32_t handle;     // CAS handle
  int32_t eventType;  // CAS_CTL_EVENT_TYPE
  int32_t eventId;    // CAS_CTL_EVENT, or the pulse count of a pulse-dial event
};

// A DSP event; with reqId 0xFA00, op1 non-zero and op2 set, op2 points to a heap copy of op1
// bytes of event data that the event's processing frees.
struct VRG_HAPI_EVT {
  uint16_t dspNum;
  uint16_t reqId;
  uint16_t handle;
  uint16_t eventId;
  uint16_t op1;
  HSUOP2 op2;
};

struct VRG_NTE_EVT {
  uint32_t lineNum;
  uint32_t id;
};

struct VRG_PSTN_EVT {
  uint16_t vhdHdl;
  void* pEventInfo;  // the FXO control's event record, valid until vrgPstnSem is given
};

struct VRG_HAL_EVT {
  BOARD_HAL_LT_EVENT eventInfo;
};

struct VRG_EVT {
  VRG_EVT_TYPE type;
  union {
    VRG_CAS_EVT cas;
    VRG_HAPI_EVT hapi;
    VRG_NTE_EVT nte;
    VRG_PSTN_EVT pstn;
    VRG_HAL_EVT hal;
  } u;
};
// 32 bytes where pointers take 4; the queue is sized from the record itself.
static_assert(sizeof(VRG_EVT) <= 40, "an event record stays small");

inline constexpr uint16_t VRG_HAPI_REQID_DATA = 64000;  // 0xFA00: the event carries data

// ---- queues ----

inline constexpr int VRG_CMD_QUEUE_DEPTH = 20;
inline constexpr int VRG_EVT_QUEUE_DEPTH = 150;
inline constexpr uint32_t VRG_DISP_WAIT_MS = 500;

// A circular buffer that carries records of one size, at most `depth` of them. The buffer driver
// rounds its size up to a power of two, so the record count is kept here: a post beyond the
// depth is refused like a write to a full buffer.
struct VRG_QUEUE {
  MEMCIRCBUFDRV handle = MEMCIRCBUF_INVALID;
  int depth = 0;
  std::atomic<int> used{0};
};

extern VRG_QUEUE vrgEptCmdQ;
extern VRG_QUEUE vrgEventQ;
extern VOS_SEMLITE vrgDispSem;
extern VOS_TASK_ID vrgDispProcessTaskId;

// Writes one record and wakes the dispatcher; BUF_STATUS_OK or the failure (full, no queue).
int VrgQueuePost(VRG_QUEUE* queue, const void* item, uint32_t size);
// Whether the queue exists (reporters post only then).
bool VrgQueueExists(const VRG_QUEUE* queue);
// Reads one record; BUF_STATUS_EMPTY when there is none.
int VrgQueueGet(VRG_QUEUE* queue, void* item, uint32_t size);

// Posts an event record; logs "VrgQueuePost failed!" under the caller's name when it cannot.
int VrgPostEvent(const VRG_EVT* event, const char* caller);

// Runs one synchronous call through the dispatcher (the command path of every queued API call):
// not initialised → EPSTATUS_ERROR; queue full → EPSTATUS_ERROR; otherwise the command's status.
EPSTATUS VrgEptCmdRun(VRG_EPT_CMD_TYPE command, const uintptr_t* args, int numArgs,
                      const char* caller);

int VrgDispatcherProcessInit(void);
// Holds the dispatcher between two passes (queued work stays queued) until it is deinitialised.
void VrgDispatcherPark(void);
int VrgDispatcherProcessDeinit(void);
// One pass of the dispatcher's loop body: every queued event, then at most one command, then the
// idle-state watchdog.
void VrgDispatcherRunOnce(void);

// Provided by the processing part of the library.
void VrgEventProcess(VRG_EVT* event);
// Releases what an event that will never be processed holds: its data copy, or a reporter
// waiting for it.
void VrgEventDiscard(VRG_EVT* event);
void VrgEptCmdProcess(VRG_EPT_CMD* cmd);
