// The host command interface: the only door between the host software and the DSP framework.
// The host opens and closes VHDs, sends commands synchronously (waiting at most 2000 ms for the
// response) or asynchronously, and receives responses and events through one callback per device.
#pragma once

#include <cstdint>

#include "hapi_types.h"
#include "lhapi.h"

struct QRN_SocketMsg;

constexpr unsigned HAPI_MAX_DSPS = 16;
constexpr unsigned HAPI_MAX_VHDS = 25;
constexpr unsigned HAPI_MAX_HAL_PORTS = 48;
constexpr unsigned HAPI_NUM_TCBS = 20;
constexpr unsigned HAPI_NUM_CALLBACKS = 32;
constexpr uint32_t HAPI_RESPONSE_TIMEOUT_MS = 2000;

enum DSPSTATE { DSP_WAITING_FOR_INIT = 0, DSP_INITIALIZED = 1 };
enum : uint8_t { HAPI_VHD_FREE = 0, HAPI_VHD_OPENING = 1, HAPI_VHD_OPEN = 2, HAPI_VHD_CLOSING = 3 };
enum : uint8_t { HAPI_HAL_CLOSED = 0, HAPI_HAL_OPENING = 1, HAPI_HAL_OPEN = 2 };

// A transaction control block: one waiting synchronous caller.
struct HAPITCB {
  uint16_t retCode;  // 0xFFFF until a response arrives
  uint16_t transId;
  LHAPI_SEMID semHandle;
  HSZCMD* commandp;  // the waiting caller's command record, or none
  HAPITCB* nextTcb;
  HAPITCB* prevTcb;
};

struct HAPICBMAPENTRY {
  HAPICALLBKP callback;
  uint16_t deviceHandle;
  uint16_t inUse;
};

extern DSPSTATE hapi_gDspState;
extern uint8_t vhdInstanceActive[HAPI_MAX_DSPS][HAPI_MAX_VHDS];
extern uint8_t halInstanceActive[HAPI_MAX_DSPS][HAPI_MAX_HAL_PORTS];

HAPIRESULT hapiInit(HAPICALLBKP callbackp, uint16_t numDsps);
uint16_t hapiOpen(uint16_t vhdType, HAPICALLBKP callbackp, uint16_t dspNum);
HAPIRESULT hapiClose(uint16_t vhdHdl, uint16_t dspNum);
HAPIRESULT hapiIOctl(HSZCMD* cmdp, uint16_t dspNum);
HAPIRESULT hapiAsyncIOctl(HSZCMD* cmdp, uint16_t dspNum);
HAPIRESULT hapiMultiIOctl(HSZCMD* cmdp, uint16_t dspNum);

int hapiCallbackRegister(uint16_t deviceHandle, HAPICALLBKP callbackp);
HAPICBMAPENTRY* hapiCallbackFind(uint16_t deviceHandle);
void hapiCallbackFree(HAPICBMAPENTRY* entry);
void hapiCallbackInit();
void hapiCallbackFreeAll();

// The framework's host message callback: delivers the message and frees it.
void HHA_HostMsgHandler(uint16_t handle, QRN_SocketMsg* msg);
void HHA_ProcessMessages(uint16_t handle, QRN_SocketMsg* msg);

// Internal to the host side, exposed for its own tests.
uint16_t sendCmdToResman(uint16_t command, uint16_t op1, uint16_t op2, void* op2ptr, uint16_t dspNum);
void M_ErrorEvent(uint16_t error, uint16_t op2);
void hapiTcbInit();
HAPITCB* hapiTcbAllocate(int blocking);
void hapiTcbFree(HAPITCB* tcb);
HAPITCB* tcbFindTransId(uint16_t transId);
