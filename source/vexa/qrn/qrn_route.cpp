// Routing of framework messages to sockets, half-sockets, hardware ports and the resource manager.
#include "halshim/halshim.h"
#include "lhapi.h"
#include "qrn.h"
#include "qrn_internal.h"
#include "rm/rm.h"

QRN_SOCKET_GLOBALS QRN_gSocketContext;

namespace {

void routeToSocket(QRN_Socket* socket, QRN_SocketMsg* msg) {
  qrnNoteActivity(socket);
  if (msg->msgFlags & QRN_MsgFlagObd) {
    if (msg->msgFlags & QRN_MsgFlagHostMsg) {
      msg->msgFlags &= ~QRN_MsgFlagHostMsg;
      MEM_QueueEnq_Unprotected(&socket->hostmsgQ, msg);
      qrnMarkHostQueued(socket->hostmsgQueued, true);
    } else {
      MEM_QueueEnq_Unprotected(&socket->msgQ, msg);
    }
    return;
  }
  QRN_HalfSocket* half = nullptr;
  if (msg->msgFlags & QRN_MsgFlagIbdIngress) {
    half = socket->ingress != nullptr ? socket->ingress : socket->egress;
  } else {
    half = socket->egress;
  }
  if (half == nullptr || (msg->id.mask & half->recvMask) == 0) {
    QRN_FreeSocketMsg_Unprotected(msg);
    return;
  }
  if (msg->msgFlags & QRN_MsgFlagHostMsg) {
    msg->msgFlags &= ~QRN_MsgFlagHostMsg;
    MEM_QueueEnq_Unprotected(&half->hostdataQ, msg);
    qrnMarkHostQueued(half->hostdataQueued, true);
  } else {
    MEM_QueueEnq_Unprotected(&half->dataQ, msg);
  }
}

}  // namespace

bool qrnQueueMsg_Unprotected(QRN_Handle handle, QRN_SocketMsg* msg) {
  if (msg == nullptr) return true;
  const unsigned low = handle & 0xFF;
  if (low > HAPIRESMAN) {
    QRN_Socket* socket = qrnFindSocket_Unprotected(handle);
    if (socket == nullptr) {
      QRN_FreeSocketMsg_Unprotected(msg);
      return false;
    }
    routeToSocket(socket, msg);
    return true;
  }
  if (low < HALSHIM_NUM_PORTS && (msg->msgFlags & QRN_MsgFlagIbdEgress)) {
    halShimQueueEgressData(low, msg);
    return true;
  }
  msg->id.srv.target = handle;
  MEM_QueueEnq_Unprotected(&RM_gMsgQueue, msg);
  return true;
}

void QRN_QueueMsg(QRN_Handle handle, QRN_SocketMsg* msg) {
  bool known = true;
  {
    LhapiLockGuard lock;
    known = qrnQueueMsg_Unprotected(handle, msg);
  }
  // Reported after the lock is let go: the report reaches the host's callback.
  if (!known) QRN_ErrorEvent(HAPI_RM_ERR_INVALID_HANDLE, handle);
}

void QRN_QueueStdMsg(QRN_Handle handle, uint16_t header, uint16_t op1, uint16_t op2, QRN_MsgId id,
                     uint16_t userTag, QRN_MsgFlags flags) {
  QRN_SocketMsg* msg = QRN_AllocSocketMsg();
  if (msg == nullptr) return;
  msg->msg.std = HSFMSGSTD{header, op1, op2};
  msg->id = id;
  msg->userTag = userTag;
  msg->msgFlags = flags;
  QRN_QueueMsg(handle, msg);
}

void QRN_QueueExtMsg(QRN_Handle handle, uint16_t header, const void* bufp, uint16_t length,
                     QRN_MsgId id, uint16_t userTag, QRN_MsgFlags flags, uint16_t srcHandle) {
  QRN_SocketMsg* msg = QRN_AllocSocketMsg();
  if (msg == nullptr) return;
  msg->msg.ext.header = header;
  if (!QRN_AllocSocketMsgExtData(msg, bufp, length, srcHandle)) {
    QRN_FreeSocketMsg(msg);  // no data block: nothing is queued
    return;
  }
  msg->id = id;
  msg->userTag = userTag;
  msg->msgFlags |= flags;
  QRN_QueueMsg(handle, msg);
}

void QRN_QueueStdIbdMsg(QRN_Handle handle, uint16_t header, uint16_t op1, uint16_t op2,
                        HSF_IBD_MASK mask, QRN_MsgFlags flags) {
  QRN_MsgId id{};
  id.mask = mask;
  QRN_QueueStdMsg(handle, header, op1, op2, id, 0, flags);
}

void QRN_QueueExtIbdMsg(QRN_Handle handle, uint16_t header, const void* bufp, uint16_t length,
                        HSF_IBD_MASK mask, QRN_MsgFlags flags, uint16_t srcHandle) {
  QRN_MsgId id{};
  id.mask = mask;
  QRN_QueueExtMsg(handle, header, bufp, length, id, 0, flags, srcHandle);
}

void QRN_QueueStdObdMsg(QRN_Handle handle, uint16_t header, uint16_t op1, uint16_t op2,
                        HSFSRVID sender, HSFSRVID target, uint16_t userTag, QRN_MsgFlags flags) {
  QRN_MsgId id{};
  id.srv = QRN_MsgSrv{sender, target};
  QRN_QueueStdMsg(handle, header, op1, op2, id, userTag, flags | QRN_MsgFlagObd);
}

void QRN_QueueStdObdMsg(QRN_Handle handle, uint16_t header, uint16_t op1, uint16_t op2,
                        HSFSRVID target) {
  const QRN_Service* current = QRN_gSocketContext.pCurrentService;
  const HSFSRVID sender =
      current != nullptr && current->archive != nullptr ? current->archive->srvId : HSFSRVID{HAPI_HOST_SRV};
  QRN_QueueStdObdMsg(handle, header, op1, op2, sender, target, 0, 0);
}

void QRN_QueueExtObdMsg(QRN_Handle handle, uint16_t header, const void* bufp, uint16_t length,
                        HSFSRVID sender, HSFSRVID target, uint16_t userTag, QRN_MsgFlags flags,
                        uint16_t srcHandle) {
  QRN_MsgId id{};
  id.srv = QRN_MsgSrv{sender, target};
  QRN_QueueExtMsg(handle, header, bufp, length, id, userTag, flags | QRN_MsgFlagObd, srcHandle);
}

bool qrnQueueMsgInServices(const HSFMSG* msg, int obd, HSF_IBD_MASK mask, QRN_MsgFlags flags) {
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr || msg == nullptr) return false;
  LhapiLockGuard lock;
  QRN_SocketMsg* sm = QRN_AllocSocketMsg_Unprotected();
  if (sm == nullptr) {
    LHAPI_ASSERT_FAIL();
    return false;
  }
  sm->msg = *msg;
  sm->handle = socket->handle;
  const QRN_Service* current = QRN_gSocketContext.pCurrentService;
  if (obd) {
    const uint16_t header = msg->std.header;
    sm->msgFlags = flags | QRN_MsgFlagObd;
    sm->id.srv.sender =
        current != nullptr && current->archive != nullptr ? current->archive->srvId : 0;
    if (HAPI_OPCODE_IS_EVT(header)) {
      sm->id.srv.target = current != nullptr ? current->parentSvcId : HSFSRVID{HAPI_HOST_SRV};
    } else {
      sm->id.srv.target = static_cast<HSFSRVID>(HAPI_OPCODE_GET_SRVID(header));
    }
    MEM_QueueEnq_Unprotected(&socket->msgQ, sm);
    return true;
  }
  QRN_HalfSocket* half = qrnCurrentHalf(socket);
  if (half == nullptr) {
    QRN_FreeSocketMsg_Unprotected(sm);
    return false;
  }
  sm->id.mask = mask;
  sm->msgFlags = flags | (QRN_gSocketContext.currentDirection == HAPI_DIRECTION_EGRESS
                              ? QRN_MsgFlagIbdEgress
                              : QRN_MsgFlagIbdIngress);
  MEM_QueueEnq_Unprotected(&half->dataQ, sm);
  return true;
}

void QRN_QueueMsgInServices(const HSFMSG* msg, int obd, HSF_IBD_MASK mask, QRN_MsgFlags flags) {
  qrnQueueMsgInServices(msg, obd, mask, flags);
}
