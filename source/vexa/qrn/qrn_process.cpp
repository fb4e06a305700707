// Message processing of a socket at the end of each thread run: host commands, commands between
// services, replies, and the stack-switch handshake.
#include "lhapi.h"
#include "qrn.h"
#include "qrn_internal.h"

namespace {

constexpr uint16_t kSyncUpCmd = HSF_MKHDR(HAPI_HOST_SRV, HAPI_OPC_SYNC_UP_CMD);
constexpr uint16_t kSyncUpEvt = HSF_MKHDR(HAPI_HOST_SRV, HAPI_OPC_SYNC_UP_EVT);
constexpr uint16_t kStackSwitchEvt = HSF_MKHDR(HAPI_HOST_SRV, HAPI_OPC_STACK_SWITCH_EVT);

QRN_SocketMsg* dequeue(MEM_Queue* queue) {
  return static_cast<QRN_SocketMsg*>(MEM_QueueDeq(queue));
}

// The host's next message for the socket; the lock is taken only when one may be waiting.
QRN_SocketMsg* takeHostMsg(QRN_Socket* socket) {
  if (!qrnHostQueued(socket->hostmsgQueued)) return nullptr;
  LhapiLockGuard lock;
  auto* msg = static_cast<QRN_SocketMsg*>(MEM_QueueDeq_Unprotected(&socket->hostmsgQ));
  if (socket->hostmsgQ.headPtr == nullptr) qrnMarkHostQueued(socket->hostmsgQueued, false);
  return msg;
}

bool ownsBlock(const QRN_SocketMsg* msg) {
  return (msg->msgFlags & QRN_MsgFlagBufNeedsFree) && msg->msg.ext.bufp != nullptr;
}

// A reply that points into the command's data block holds its own reference to the block, so the
// block outlives the command until the reply has been delivered.
void shareCommandBlock(const QRN_SocketMsg* command, QRN_SocketMsg* reply) {
  if (!ownsBlock(command) || HAPI_OPCODE_IS_STD(reply->msg.ext.header)) return;
  if (reply->msg.ext.bufp != command->msg.ext.bufp) return;
  LhapiLockGuard lock;
  QRN_ExtHeaderOf(command->msg.ext.bufp)->refCount += 1;
  reply->msgFlags |= QRN_MsgFlagBufNeedsFree;
}

}  // namespace

void QRN_SendMessageToService(QRN_SocketMsg* msg, QRN_Service* service, QRN_Socket* socket) {
  if (msg == nullptr || service == nullptr || socket == nullptr) return;
  if (msg->msgFlags & QRN_MsgFlagResponse) return;  // services receive no responses
  QRN_SocketMsg* reply = QRN_AllocSocketMsg();
  if (reply == nullptr) return;
  reply->id.srv.sender = service->archive != nullptr ? service->archive->srvId : 0;
  reply->id.srv.target = msg->id.srv.sender;
  reply->msgFlags = QRN_MsgFlagResponse | QRN_MsgFlagObd;
  reply->userTag = msg->userTag;
  reply->handle = socket->handle;

  HAPIRESULT result = HAPI_ERR_INVALID_CMD;
  if (service->archive != nullptr && service->archive->ioctlFnc != nullptr) {
    QRN_Service* saved = QRN_gSocketContext.pCurrentService;
    QRN_gSocketContext.pCurrentService = service;
    result = service->archive->ioctlFnc(service->serviceData, &msg->msg, &reply->msg);
    QRN_gSocketContext.pCurrentService = saved;
    if (result != HAPISUCCESS && reply->msg.std.header == 0) reply->msg = msg->msg;
  }
  reply->msgFlags = QRN_MsgFlagsWithResult(reply->msgFlags, result);
  if (reply->msg.std.header == 0) reply->msg.std.header = msg->msg.std.header;
  if (result == HAPI_RESPONSE_DELAYED) {
    QRN_FreeSocketMsg(reply);  // the service answers later with its own message
    return;
  }
  if (result != HAPISUCCESS || (msg->msgFlags & QRN_MsgFlagGenResponse)) {
    shareCommandBlock(msg, reply);
    MEM_QueueEnq(&socket->msgQ, reply);
    qrnNoteActivity(socket);
  } else {
    QRN_FreeSocketMsg(reply);
  }
}

void QRN_SocketProcessMessage(QRN_Socket* socket, QRN_SocketMsg* msg) {
  if (socket == nullptr || msg == nullptr) return;
  const HSFSRVID target = msg->id.srv.target;
  if (target == HAPI_HOST_SRV) {
    QRN_SendMessageToHost(socket->handle, msg);  // the host side frees it
    return;
  }
  QRN_Service* service = QRN_FindServiceById(socket, target);
  if (service != nullptr) QRN_SendMessageToService(msg, service, socket);
  QRN_FreeSocketMsg(msg);
}

int QRN_SocketProcessCustomMessage(QRN_Socket* socket, QRN_SocketMsg* msg) {
  if (socket == nullptr || msg == nullptr) return 0;
  const uint16_t header = msg->msg.std.header;
  if (header == kSyncUpCmd) {
    QRN_QueueStdObdMsg(socket->handle, kSyncUpEvt, 0, 0, HAPI_HOST_SRV, HAPI_HOST_SRV, 0, 0);
  } else if (header == kSyncUpEvt) {
    QRN_QueueStdObdMsg(socket->handle, kStackSwitchEvt, 0, 0, HAPI_HOST_SRV,
                       socket->stackswitchcfg.srvId, 0, 0);
    socket->ss_ctl.stackswitchInprogress = false;
    socket->ss_ctl.modeChangeInprogress = false;
  } else if (header == HAPI_RM_STACK_SWITCH_DONE_EVT) {
    socket->ss_ctl.stackSrvSwapComplete = true;
  } else {
    return 0;
  }
  qrnNoteActivity(socket);
  if ((msg->msgFlags & QRN_MsgFlagGenResponse) && !(msg->msgFlags & QRN_MsgFlagResponse)) {
    QRN_QueueStdObdMsg(socket->handle, header, msg->msg.std.op1, msg->msg.std.op2,
                       msg->id.srv.target, HAPI_HOST_SRV, msg->userTag, QRN_MsgFlagResponse);
  }
  QRN_FreeSocketMsg(msg);
  return 1;
}

void QRN_SocketProcessMessages(QRN_Socket* socket) {
  if (socket == nullptr) return;
  while (!socket->ss_ctl.modeChangeInprogress) {
    QRN_SocketMsg* msg = takeHostMsg(socket);
    if (msg == nullptr) break;
    QRN_SocketProcessMessage(socket, msg);
  }
  // Only the tick thread queues on msgQ (the host's commands go to hostmsgQ), so an empty one is
  // seen as empty without the lock.
  while (socket->msgQ.headPtr != nullptr) {
    QRN_SocketMsg* msg = dequeue(&socket->msgQ);
    if (msg == nullptr) break;
    if (!QRN_SocketProcessCustomMessage(socket, msg)) QRN_SocketProcessMessage(socket, msg);
  }
}

void QRN_FreeLaterBlocks() {
  // Only the tick thread's runs queue and release these blocks, so an empty queue (most runs)
  // needs no lock to be seen as empty.
  if (QRN_gSocketContext.freeLaterQ.headPtr == nullptr) return;
  LhapiLockGuard lock;
  qrnFreeQueue_Unprotected(&QRN_gSocketContext.freeLaterQ);
}
