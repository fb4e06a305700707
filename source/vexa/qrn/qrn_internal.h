// Internal helpers shared by the socket, routing and service-API code.
#pragma once

#include <atomic>
#include <span>

#include "qrn.h"

// Whether a host queue (hostmsgQ, hostdataQ) may hold messages: marked under the lock by every
// message queued on it, cleared under the lock when it is seen empty, and read without the lock,
// so that the tick thread takes the lock only for a queue that has something.
inline void qrnMarkHostQueued(uint32_t& queued, bool value) {
  std::atomic_ref<uint32_t>(queued).store(value ? 1u : 0u, std::memory_order_release);
}
inline bool qrnHostQueued(uint32_t& queued) {
  return std::atomic_ref<uint32_t>(queued).load(std::memory_order_acquire) != 0;
}

// Anything that may end a channel's rest (a message or block queued for it, a change of its frame
// size, mode or stack) moves the socket's activity count, so that a resting channel learns it has
// nothing new from the word beside its magic instead of from its queues and half-sockets.
inline void qrnNoteActivity(QRN_Socket* socket) {
  std::atomic_ref<uint32_t>(socket->activity).fetch_add(1, std::memory_order_release);
}
inline uint32_t qrnActivity(QRN_Socket* socket) {
  return std::atomic_ref<uint32_t>(socket->activity).load(std::memory_order_acquire);
}

// The half-socket of the running direction, or none.
inline QRN_HalfSocket* qrnCurrentHalf(QRN_Socket* socket) {
  if (socket == nullptr) return nullptr;
  return QRN_gSocketContext.currentDirection == HAPI_DIRECTION_EGRESS ? socket->egress
                                                                      : socket->ingress;
}
// For the framework's own conference points: takes the first in-band message matching `mask`
// among those present when the running service started off the queue, record and all, so that
// the caller keeps it instead of copying it into a new record; none when nothing matches. The
// caller holds the framework lock and frees the message.
QRN_SocketMsg* hsfIbdTakeMsg_Unprotected(HSF_IBD_MASK mask);
// QRN_QueueMsgInServices reporting whether the message was queued.
bool qrnQueueMsgInServices(const HSFMSG* msg, int obd, HSF_IBD_MASK mask, QRN_MsgFlags flags);
// Frees every message of a queue (with the blocks they own).
void qrnFreeQueue_Unprotected(MEM_Queue* queue);
// A new in-band message (header 0) with a framework block holding a copy of `data` (source
// handle srcHandle), offered to `offer` as data leaving srcHandle; freed when it got no block or
// nobody takes it. One hold of the lock covers the allocations and the delivery. 1 when taken.
int qrnOfferIbdCopy(QRN_IbdCallback offer, QRN_Handle srcHandle, QRN_Handle msgHandle,
                    HSF_IBD_MASK mask, QRN_MsgFlags flags, const void* data, uint16_t length);
// One block of qrnOfferIbdCopies: its in-band type and its data.
struct QRN_IbdBlock {
  HSF_IBD_MASK mask;
  const void* data;
};
// qrnOfferIbdCopy for several blocks of `length` bytes from one source, in order, under one hold
// of the lock; returns how many were taken.
int qrnOfferIbdCopies(QRN_IbdCallback offer, QRN_Handle srcHandle, QRN_Handle msgHandle,
                      QRN_MsgFlags flags, std::span<const QRN_IbdBlock> blocks, uint16_t length);
// hsfIbdSendAllocMsg for several blocks of `length` bytes, in order, from the running service.
void hsfIbdSendAllocMsgs(std::span<const QRN_IbdBlock> blocks, uint16_t length);
// QRN_QueueMsg for a caller that holds the framework lock; false when no socket has the handle
// (the message is freed, and the caller reports HAPI_RM_ERR_INVALID_HANDLE).
bool qrnQueueMsg_Unprotected(QRN_Handle handle, QRN_SocketMsg* msg);
// QRN_FindSocket for a caller that holds the framework lock.
QRN_Socket* qrnFindSocket_Unprotected(QRN_Handle handle);
// Forgets every socket of the lookup by handle (the socket list is being started afresh).
void qrnResetSocketIndex();
