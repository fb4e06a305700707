// Host command interface: start-up, opening and closing devices, and commands to the resource
// manager.
#include <cstring>

#include "hapi.h"
#include "lhapi.h"
#include "qrn/qrn.h"

DSPSTATE hapi_gDspState = DSP_WAITING_FOR_INIT;
uint8_t vhdInstanceActive[HAPI_MAX_DSPS][HAPI_MAX_VHDS];
uint8_t halInstanceActive[HAPI_MAX_DSPS][HAPI_MAX_HAL_PORTS];

namespace {

const char kStars[] = "************************************************************************\n";

void reportRegistrationFailure(HAPICALLBKP callbackp) {
  if (callbackp == nullptr) return;
  HSZEVT evt{};
  evt.hsxdevhdl = HAPIRESMAN;
  evt.hsxevt = HAPI_RM_ERROR_EVT;
  evt.hsxreqid = HAPI_REQID_STD_EVT;
  evt.hsxop1 = HAPI_RM_ERR_HHAPI_CBK_REG_FAIL;
  evt.hsxop2.val = 0;
  callbackp(&evt, 0);
}

}  // namespace

void M_ErrorEvent(uint16_t error, uint16_t op2) {
  HAPICALLBKP callback = nullptr;
  {
    LhapiLockGuard lock;
    HAPICBMAPENTRY* entry = hapiCallbackFind(HAPIRESMAN);
    if (entry != nullptr) callback = entry->callback;
  }
  if (callback == nullptr) return;
  HSZEVT evt{};
  evt.hsxdevhdl = HAPIRESMAN;
  evt.hsxevt = HAPI_RM_ERROR_EVT;
  evt.hsxreqid = HAPI_REQID_STD_EVT;
  evt.hsxop1 = error;
  evt.hsxop2.val = op2;
  callback(&evt, 0);
}

HAPIRESULT hapiInit(HAPICALLBKP callbackp, uint16_t numDsps) {
  if (numDsps >= HAPI_MAX_DSPS) return HAPIFAILURE;
  {
    LhapiLockGuard lock;
    hapi_gDspState = DSP_INITIALIZED;
    std::memset(vhdInstanceActive, 0, sizeof(vhdInstanceActive));
    std::memset(halInstanceActive, 0, sizeof(halInstanceActive));
  }
  hapiTcbInit();
  hapiCallbackInit();
  QRN_HapiInit(HHA_HostMsgHandler, nullptr);
  if (hapiCallbackRegister(HAPIRESMAN, callbackp) != 0) {
    reportRegistrationFailure(callbackp);
    return HAPIFAILURE;
  }
  return HAPISUCCESS;
}

uint16_t sendCmdToResman(uint16_t command, uint16_t op1, uint16_t op2, void* op2ptr,
                         uint16_t dspNum) {
  HAPITCB* tcb = hapiTcbAllocate(1);
  if (tcb == nullptr) {
    M_ErrorEvent(HAPI_RM_ERR_HHAPI_TCB_NONE_FREE, dspNum);
    return 0xFFFF;
  }
  const uint16_t handle = static_cast<uint16_t>(HAPIRESMAN | (dspNum << 8));
  if (HAPI_OPCODE_IS_EXT(command)) {
    QRN_QueueExtObdMsg(handle, command, op2ptr, op1, HAPI_HOST_SRV, HAPI_RM_SRV, tcb->transId,
                       QRN_MsgFlagGenResponse, HAPIVHD_HOST);
  } else {
    QRN_QueueStdObdMsg(handle, command, op1, op2, HAPI_HOST_SRV, HAPI_RM_SRV, tcb->transId,
                       QRN_MsgFlagGenResponse);
  }
  const int taken = lhapiOsSemTake(tcb->semHandle, HAPI_RESPONSE_TIMEOUT_MS);
  const uint16_t result = tcb->retCode;
  hapiTcbFree(tcb);
  if (taken != 0) {
    lhapiErrorPrint(kStars);
    lhapiErrorPrint("HAPI ERROR: sema4Take failed!\n");
    lhapiErrorPrint("Command: 0x%x   handle 0x%x  op1: 0x%x\t, op2: 0x%x, status 0x%x\n", command,
                    handle, op1, op2, 0xFFFFu);
    lhapiErrorPrint(kStars);
    return 0xFFFF;
  }
  if (result != 0) {
    lhapiErrorPrint(kStars);
    lhapiErrorPrint("HAPI ERROR: hapi command Failed!\n");
    lhapiErrorPrint("Command: 0x%x   handle 0x%x  op1: 0x%x\t, op2: 0x%x, status 0x%x\n", command,
                    handle, op1, op2, result);
    lhapiErrorPrint(kStars);
  }
  return result;
}

namespace {

uint16_t openHalPort(uint16_t argument) {
  const uint16_t dsp = argument >> 8;
  const uint16_t port = argument & 0xFF;
  if (dsp >= HAPI_MAX_DSPS) {
    M_ErrorEvent(HAPI_RM_ERR_HHAPI_DSPNUM_INVALID, dsp);
    return HAPIVHD_INVALID;
  }
  if (port >= HAPI_MAX_HAL_PORTS) return HAPIVHD_INVALID;
  {
    LhapiLockGuard lock;
    if (halInstanceActive[dsp][port] == HAPI_HAL_OPEN) return argument;
    halInstanceActive[dsp][port] = HAPI_HAL_OPENING;
  }
  const uint16_t result = sendCmdToResman(HAPI_RM_OPEN_HALPORT_CMD, argument, port, nullptr, dsp);
  LhapiLockGuard lock;
  halInstanceActive[dsp][port] = result == 0 ? HAPI_HAL_OPEN : HAPI_HAL_CLOSED;
  return result == 0 ? argument : HAPIVHD_INVALID;
}

}  // namespace

uint16_t hapiOpen(uint16_t vhdType, HAPICALLBKP callbackp, uint16_t dspNum) {
  if (hapi_gDspState != DSP_INITIALIZED) {
    M_ErrorEvent(HAPI_RM_ERR_HHAPI_DSPNUM_UNAVAILABLE, dspNum);
    return HAPIVHD_INVALID;
  }
  if (vhdType == HAPI_DATA_ACCESS_POINT) return openHalPort(dspNum);
  if (dspNum >= HAPI_MAX_DSPS) {
    M_ErrorEvent(HAPI_RM_ERR_HHAPI_DSPNUM_INVALID, dspNum);
    return HAPIVHD_INVALID;
  }
  unsigned index = HAPI_MAX_VHDS;
  {
    LhapiLockGuard lock;
    for (unsigned i = 0; i < HAPI_MAX_VHDS; ++i) {
      if (vhdInstanceActive[dspNum][i] == HAPI_VHD_FREE) {
        index = i;
        break;
      }
    }
    if (index == HAPI_MAX_VHDS) {
      LHAPI_ASSERT_FAIL();
      return HAPIVHD_INVALID;
    }
    vhdInstanceActive[dspNum][index] = HAPI_VHD_OPENING;
  }
  const uint16_t handle = static_cast<uint16_t>((HAPIVHD0 + index) | (dspNum << 8));
  HAPI_RM_OPEN_VHD_INFO info{handle, vhdType, {0, 0, 0}};
  const uint16_t result =
      sendCmdToResman(HAPI_RM_OPEN_VHD_CMD, sizeof(info), 0, &info, dspNum);
  if (result != 0) {
    LhapiLockGuard lock;
    vhdInstanceActive[dspNum][index] = HAPI_VHD_FREE;
    return HAPIVHD_INVALID;
  }
  {
    LhapiLockGuard lock;
    vhdInstanceActive[dspNum][index] = HAPI_VHD_OPEN;
  }
  if (hapiCallbackRegister(handle, callbackp) != 0) reportRegistrationFailure(callbackp);
  return handle;
}

HAPIRESULT hapiClose(uint16_t vhdHdl, uint16_t) {
  if (hapi_gDspState != DSP_INITIALIZED) {
    M_ErrorEvent(HAPI_RM_ERR_HHAPI_DSPNUM_UNAVAILABLE, 0);
    return HAPIFAILURE;
  }
  const unsigned dsp = vhdHdl >> 8;
  const unsigned low = vhdHdl & 0xFF;
  if (dsp >= HAPI_MAX_DSPS || low < HAPIVHD0 || low - HAPIVHD0 >= HAPI_MAX_VHDS) {
    return HAPIFAILURE;  // not a VHD handle: nothing to index
  }
  const unsigned index = low - HAPIVHD0;
  {
    LhapiLockGuard lock;
    vhdInstanceActive[dsp][index] = HAPI_VHD_CLOSING;
  }
  const uint16_t result = sendCmdToResman(HAPI_RM_CLOSE_VHD_CMD, vhdHdl, 0, nullptr,
                                          static_cast<uint16_t>(dsp));
  {
    LhapiLockGuard lock;
    vhdInstanceActive[dsp][index] = HAPI_VHD_FREE;
  }
  if (result == 0) hapiCallbackFree(hapiCallbackFind(vhdHdl));
  return static_cast<int16_t>(result);
}

HAPIRESULT hapiMultiIOctl(HSZCMD*, uint16_t) { return HAPIFAILURE; }
