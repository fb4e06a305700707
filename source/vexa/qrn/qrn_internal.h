// Internal helpers shared by the socket, routing and service-API code.
#pragma once

#include "qrn.h"

// The half-socket of the running direction, or none.
QRN_HalfSocket* qrnCurrentHalf(QRN_Socket* socket);
// QRN_QueueMsgInServices reporting whether the message was queued.
bool qrnQueueMsgInServices(const HSFMSG* msg, int obd, HSF_IBD_MASK mask, QRN_MsgFlags flags);
// Frees every message of a queue (with the blocks they own).
void qrnFreeQueue_Unprotected(MEM_Queue* queue);
// Forgets every socket of the lookup by handle (the socket list is being started afresh).
void qrnResetSocketIndex();
