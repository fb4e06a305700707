// The host side's receiver: responses complete waiting transactions, everything else goes to the
// callback registered for the reporting device.
#include <algorithm>
#include <cstring>

#include "hapi.h"
#include "lhapi.h"
#include "qrn/qrn.h"

namespace {

uint16_t ingressEventOf(HSF_IBD_MASK mask) {
  switch (mask) {
    case 0x2:
      return HAPI_NET_INGRESSPACKET_EVT;
    case 0x800:
      return HAPI_NET_INGRESSRTPPKT_EVT;
    case 0x1000:
      return HAPI_NET_INGRESSRTCPPKT_EVT;
    case 0x100:
      return HAPI_T38_INGRESSPACKET_EVT;
    default:
      return 0;
  }
}

void deliver(HAPICALLBKP callback, uint16_t handle, uint16_t code, uint16_t reqid, uint16_t op1,
             HSUOP2 op2) {
  if (callback == nullptr) return;
  HSZEVT evt{};
  evt.hsxdevhdl = handle;
  evt.hsxevt = code;
  evt.hsxreqid = reqid;
  evt.hsxop1 = op1;
  evt.hsxop2 = op2;
  callback(&evt, 0);
}

// Completes the pending transaction of a response; the caller's record is written under the lock,
// while the caller is still waiting for it.
void completeTransaction(QRN_SocketMsg* msg) {
  LhapiLockGuard lock;
  HAPITCB* tcb = tcbFindTransId(msg->userTag);
  if (tcb == nullptr) return;  // the caller gave up, or nobody asked
  HAPIRESULT result = QRN_MsgResult(msg->msgFlags);
  HSZCMD* cmd = tcb->commandp;
  const bool responseIsStd = HAPI_OPCODE_IS_STD(msg->msg.std.header);
  if (cmd != nullptr) {
    if ((cmd->hsxreqid & 0xFF00) != HAPI_REQID_EXT_CMD) {
      if (responseIsStd) {
        cmd->hsxop1 = msg->msg.std.op1;
        cmd->hsxop2.val = msg->msg.std.op2;
      }
    } else if (!responseIsStd) {
      const uint16_t length = msg->msg.ext.length;
      if (length > cmd->hsxop1) result = HAPI_ERR_INVALID_CMD;  // truncated to the caller's buffer
      const uint16_t n = std::min(length, cmd->hsxop1);
      cmd->hsxop1 = n;
      if (n != 0) {
        if (msg->msg.ext.bufp == nullptr || cmd->hsxop2.ref == nullptr) {
          LHAPI_ASSERT_FAIL();
        } else if (cmd->hsxop2.ref != msg->msg.ext.bufp) {
          std::memmove(cmd->hsxop2.ref, msg->msg.ext.bufp, n);
        }
      }
    }
  }
  tcb->retCode = static_cast<uint16_t>(result);
  if (lhapiOsSemGive(tcb->semHandle) != 0) LHAPI_ASSERT_FAIL();
}

}  // namespace

void HHA_ProcessMessages(uint16_t handle, QRN_SocketMsg* msg) {
  if (msg == nullptr) return;
  HAPICALLBKP callback = nullptr;
  {
    // Copied under the lock: a host thread may free the entry while the message is delivered.
    LhapiLockGuard lock;
    HAPICBMAPENTRY* entry = hapiCallbackFind(handle);
    if (entry == nullptr) return;
    callback = entry->callback;
  }
  if (!(msg->msgFlags & QRN_MsgFlagObd) && (msg->msgFlags & QRN_MsgFlagIbdIngress)) {
    const uint16_t code = ingressEventOf(msg->id.mask);
    if (code == 0 || HAPI_OPCODE_IS_STD(msg->msg.std.header)) return;
    HSUOP2 op2{};
    op2.ref = msg->msg.ext.bufp;
    deliver(callback, handle, code, HAPI_REQID_EXT_EVT, msg->msg.ext.length, op2);
    return;
  }
  if (msg->msgFlags & QRN_MsgFlagResponse) {
    completeTransaction(msg);
    return;
  }
  HSUOP2 op2{};
  if (HAPI_OPCODE_IS_STD(msg->msg.std.header)) {
    op2.val = msg->msg.std.op2;
    deliver(callback, handle, msg->msg.std.header, HAPI_REQID_STD_EVT, msg->msg.std.op1, op2);
  } else {
    op2.ref = msg->msg.ext.bufp;
    deliver(callback, handle, msg->msg.ext.header, HAPI_REQID_EXT_EVT, msg->msg.ext.length, op2);
  }
}

void HHA_HostMsgHandler(uint16_t handle, QRN_SocketMsg* msg) {
  HHA_ProcessMessages(handle, msg);
  QRN_FreeSocketMsg(msg);
}
