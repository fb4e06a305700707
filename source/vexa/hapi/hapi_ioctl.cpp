// Commands from the host to VHDs, their services and the resource manager.
#include "hapi.h"
#include "lhapi.h"
#include "qrn/qrn.h"

namespace {

const char kStars[] = "************************************************************************\n";

constexpr uint16_t kHostSrcHandle = 0xFFFE;
constexpr int kAsyncMsgReserve = 3510;

// Checks that the command may be sent to its device: -1 when not.
HAPIRESULT checkDevice(const HSZCMD* cmdp, uint16_t dspNum) {
  if (hapi_gDspState != DSP_INITIALIZED) {
    M_ErrorEvent(HAPI_RM_ERR_HHAPI_DSPNUM_UNAVAILABLE, dspNum);
    return HAPIFAILURE;
  }
  if (cmdp == nullptr || dspNum >= HAPI_MAX_DSPS) return HAPIFAILURE;
  const unsigned low = cmdp->hsxdevhdl & 0xFF;
  if (low == HAPIVHD_INVALID) return HAPIFAILURE;
  if (low > HAPIRESMAN) {
    if (low < HAPIVHD0 || low - HAPIVHD0 >= HAPI_MAX_VHDS) return HAPIFAILURE;
    LhapiLockGuard lock;
    if (vhdInstanceActive[dspNum][low - HAPIVHD0] != HAPI_VHD_OPEN) return HAPIFAILURE;
  }
  return HAPISUCCESS;
}

// The request id must match the code's form: standard operands or an extended buffer.
bool requestMatchesCode(const HSZCMD* cmdp) {
  if (cmdp->hsxreqid == HAPI_REQID_EXT_CMD) return HAPI_OPCODE_IS_EXT(cmdp->hsxcmd);
  if (cmdp->hsxreqid == HAPI_REQID_STD_CMD) return HAPI_OPCODE_IS_STD(cmdp->hsxcmd);
  return false;
}

// In-band data type of the packet commands that enter a channel's egress side as data.
HSF_IBD_MASK packetMask(uint16_t command) {
  switch (command) {
    case HAPI_NET_EGRESSPACKET_CMD:
      return 0x2;
    case HAPI_NET_EGRESSRTPPKT_CMD:
      return 0x800;
    case HAPI_NET_EGRESSRTCPPKT_CMD:
      return 0x1000;
    case HAPI_T38_EGRESSPACKET_CMD:
      return 0x100;
    default:
      return 0;
  }
}

}  // namespace

HAPIRESULT hapiIOctl(HSZCMD* cmdp, uint16_t dspNum) {
  if (checkDevice(cmdp, dspNum) != HAPISUCCESS) return HAPIFAILURE;
  if (!requestMatchesCode(cmdp)) {
    LHAPI_ASSERT_FAIL();
    return HAPIFAILURE;  // nothing would be sent: fail now rather than after the wait
  }
  HAPITCB* tcb = hapiTcbAllocate(1);
  if (tcb == nullptr) {
    M_ErrorEvent(HAPI_RM_ERR_HHAPI_TCB_NONE_FREE, dspNum);
    return HAPIFAILURE;
  }
  tcb->commandp = cmdp;
  const uint16_t target = cmdp->hsxcmd >> 8;
  const QRN_MsgFlags flags = QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse;
  const uint16_t op2 = cmdp->hsxop2.val;
  if (cmdp->hsxreqid == HAPI_REQID_EXT_CMD) {
    // Packets are asynchronous: a packet command waiting for an answer is a caller's mistake.
    if (cmdp->hsxcmd == HAPI_NET_EGRESSPACKET_CMD) LHAPI_ASSERT_FAIL();
    QRN_QueueExtObdMsg(cmdp->hsxdevhdl, cmdp->hsxcmd, cmdp->hsxop2.ref, cmdp->hsxop1,
                       HAPI_HOST_SRV, target, tcb->transId, flags, kHostSrcHandle);
  } else {
    QRN_QueueStdObdMsg(cmdp->hsxdevhdl, cmdp->hsxcmd, cmdp->hsxop1, op2, HAPI_HOST_SRV, target,
                       tcb->transId, flags);
  }
  const int taken = lhapiOsSemTake(tcb->semHandle, HAPI_RESPONSE_TIMEOUT_MS);
  const HAPIRESULT result = static_cast<int16_t>(tcb->retCode);
  hapiTcbFree(tcb);
  if (taken != 0) {
    lhapiErrorPrint(kStars);
    lhapiErrorPrint("hapiIOctl ERROR: Command response Sema4Take failed\n");
    lhapiErrorPrint("Command: 0x%x   handle 0x%x  op1: 0x%x\t, op2: 0x%x, status  0x%x\n",
                    cmdp->hsxcmd, cmdp->hsxdevhdl, cmdp->hsxop1, op2, taken);
    lhapiErrorPrint(kStars);
    return HAPIFAILURE;
  }
  if (result != 0) {
    lhapiErrorPrint(
        "hapiIOctl: Command Failed 0x%x   handle 0x%x  op1: 0x%x\t, op2: 0x%x, return code 0x%x\n",
        cmdp->hsxcmd, cmdp->hsxdevhdl, cmdp->hsxop1, cmdp->hsxop2.val, result);
  }
  return result;
}

HAPIRESULT hapiAsyncIOctl(HSZCMD* cmdp, uint16_t dspNum) {
  if (checkDevice(cmdp, dspNum) != HAPISUCCESS) return HAPIFAILURE;
  if (!requestMatchesCode(cmdp)) return HAPIFAILURE;
  const uint16_t handle = cmdp->hsxdevhdl;
  // The reserve checks and the queueing see one state of the pools.
  LhapiLockGuard lock;
  if (cmdp->hsxreqid == HAPI_REQID_EXT_CMD) {
    if (QRN_gHapiMsgBufPool.numFreeBuf < kAsyncMsgReserve) return HAPI_RM_ERR_NO_MSG_EXT_MEM;
    if (!QRN_PeekExtMsgPool(cmdp->hsxop1)) return HAPI_RM_ERR_NO_MSG_EXT_MEM;
    if ((handle & 0xFF) < HAPIVHD0) {
      LHAPI_ASSERT_FAIL();  // extended asynchronous commands go to VHDs
      return HAPIFAILURE;
    }
    if (const HSF_IBD_MASK mask = packetMask(cmdp->hsxcmd)) {
      QRN_QueueExtIbdMsg(handle, 0, cmdp->hsxop2.ref, cmdp->hsxop1, mask,
                         QRN_MsgFlagHostMsg | QRN_MsgFlagIbdEgress, kHostSrcHandle);
    } else {
      QRN_QueueExtObdMsg(handle, cmdp->hsxcmd, cmdp->hsxop2.ref, cmdp->hsxop1, HAPI_HOST_SRV,
                         cmdp->hsxcmd >> 8, 0, QRN_MsgFlagHostMsg, kHostSrcHandle);
    }
    return HAPISUCCESS;
  }
  if (QRN_gHapiMsgBufPool.numFreeBuf < kAsyncMsgReserve) return HAPI_RM_ERR_NO_MSG_MEM;
  QRN_QueueStdObdMsg(handle, cmdp->hsxcmd, cmdp->hsxop1, cmdp->hsxop2.val, HAPI_HOST_SRV,
                     cmdp->hsxcmd >> 8, 0, QRN_MsgFlagHostMsg);
  return HAPISUCCESS;
}
