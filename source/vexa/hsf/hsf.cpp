// The service API on top of the framework's socket context.
#include <cstring>

#if defined(ORVOX_X86_SIMD)
#include <emmintrin.h>
#endif

#include "hsf.h"
#include "lhapi.h"
#include "qrn/qrn.h"
#include "qrn/qrn_internal.h"
#include "vhd/vhd.h"

namespace {

HSFMSG stdMsg(uint16_t header, uint16_t op1, uint16_t op2) {
  HSFMSG m{};
  m.std = HSFMSGSTD{header, op1, op2};
  return m;
}

HSFMSG extMsg(uint16_t header, uint16_t length, void* bufp) {
  HSFMSG m{};
  m.ext.header = header;
  m.ext.length = length;
  m.ext.bufp = bufp;
  return m;
}

QRN_MsgFlags directionFlag() {
  return QRN_gSocketContext.currentDirection == HAPI_DIRECTION_EGRESS ? QRN_MsgFlagIbdEgress
                                                                      : QRN_MsgFlagIbdIngress;
}

// Unlinks `hdr` (whose predecessor in the queue is `prev`, or none at the head).
void unlinkFromQueue(MEM_Queue* queue, MEM_BlockHdr* prev, MEM_BlockHdr* hdr) {
  if (prev != nullptr) {
    prev->nextp = hdr->nextp;
  } else {
    queue->headPtr = hdr->nextp;
  }
  if (queue->tailPtr == hdr) queue->tailPtr = prev;
  hdr->nextp = nullptr;
  queue->count -= 1;
}

}  // namespace

// ---- addressed messages ----

int hsfObdSend(const HSFMSG* msg) {
  QRN_QueueMsgInServices(msg, 1, 0, 0);
  return 1;
}

int hsfObdSendStd(uint16_t header, uint16_t op1, uint16_t op2) {
  const HSFMSG m = stdMsg(header, op1, op2);
  return hsfObdSend(&m);
}

int hsfObdSendExt(uint16_t header, uint16_t length, void* bufp) {
  const HSFMSG m = extMsg(header, length, bufp);
  return hsfObdSend(&m);
}

// ---- in-band data ----

void hsfIbdSendStd(HSF_IBD_MASK mask, uint16_t header, uint16_t op1, uint16_t op2) {
  const HSFMSG m = stdMsg(header, op1, op2);
  QRN_QueueMsgInServices(&m, 0, mask, 0);
}

void hsfIbdSendExt(HSF_IBD_MASK mask, uint16_t header, uint16_t length, void* bufp) {
  const HSFMSG m = extMsg(header, length, bufp);
  QRN_QueueMsgInServices(&m, 0, mask, 0);
}

void hsfIbdSendExtAlloc(HSF_IBD_MASK mask, uint16_t header, uint16_t length, const void* bufp) {
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr) return;
  void* data = QRN_AllocExtData(bufp, length);
  if (data == nullptr) return;
  QRN_ExtHeaderOf(data)->srcHandle = socket->handle;
  const HSFMSG m = extMsg(header, length, data);
  if (!qrnQueueMsgInServices(&m, 0, mask,
                             QRN_MsgFlagBufNeedsFree | QRN_MsgFlagExtDataWithSrcHeader)) {
    QRN_FreeExtMsg(data);
  }
}

void hsfIbdSendAllocMsg(HSF_IBD_MASK mask, uint16_t length, const void* bufp) {
  const QRN_IbdBlock block{mask, bufp};
  hsfIbdSendAllocMsgs({&block, 1}, length);
}

void hsfIbdSendAllocMsgs(std::span<const QRN_IbdBlock> blocks, uint16_t length) {
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr) return;
  qrnOfferIbdCopies(VHD_gIbdSend, socket->handle, socket->handle, directionFlag(), blocks, length);
}

namespace {

// The num-th in-band message matching `mask` among those present when the running service
// started, with its predecessor in the queue; none when there is no such message.
MEM_BlockHdr* findIbd(QRN_Socket* socket, QRN_HalfSocket* half, HSF_IBD_MASK mask, unsigned num,
                      MEM_BlockHdr** prevOut) {
  MEM_BlockHdr* prev = nullptr;
  MEM_BlockHdr* hdr = half->dataQ.headPtr;
  unsigned matches = 0;
  for (uint32_t i = 0; i < socket->numIBDmessages && hdr != nullptr;
       ++i, prev = hdr, hdr = hdr->nextp) {
    const auto* msg = static_cast<const QRN_SocketMsg*>(MEM_DataOf(hdr));
    if ((msg->id.mask & mask) == 0) continue;
    if (matches++ != num) continue;
    *prevOut = prev;
    return hdr;
  }
  return nullptr;
}

// The search and the taking of hsfIbdPeekOrRecv, kept apart so that the common call that finds
// the queue empty returns before this one's set-up.
[[gnu::noinline]] HSF_IBD_MASK peekOrRecvPresent(QRN_Socket* socket, HSF_IBD_MASK mask,
                                                 HSFMSG* datap, unsigned num, int option) {
  QRN_HalfSocket* half = qrnCurrentHalf(socket);
  if (half == nullptr) return 0;
  // The half-socket's in-band queue is the tick thread's own (the host's data wait in hostdataQ
  // until the thread takes them), so it is searched and peeked without the lock; the lock guards
  // the freeing into pools the host shares. Most calls find nothing and cost no lock.
  MEM_BlockHdr* prev = nullptr;
  MEM_BlockHdr* hdr = findIbd(socket, half, mask, num, &prev);
  if (hdr == nullptr) return 0;
  auto* msg = static_cast<QRN_SocketMsg*>(MEM_DataOf(hdr));
  if (datap != nullptr) *datap = msg->msg;
  const HSF_IBD_MASK found = msg->id.mask;
  if (option == HSF_IBD_PEEK) return found;
  LhapiLockGuard lock;
  unlinkFromQueue(&half->dataQ, prev, hdr);
  socket->numIBDmessages -= 1;
  const bool owns = (msg->msgFlags & QRN_MsgFlagBufNeedsFree) && msg->msg.ext.bufp != nullptr;
  if (option == HSF_IBD_RECEIVE_NOT_FREE) {
    if (!owns) LHAPI_ASSERT_FAIL();
    msg->msgFlags &= ~QRN_MsgFlagBufNeedsFree;  // the block passes to the caller
    QRN_FreeSocketMsg_Unprotected(msg);
  } else if (owns) {
    // Keep the block (through its message) until the thread's run ends.
    MEM_QueueEnq_Unprotected(&QRN_gSocketContext.freeLaterQ, msg);
  } else {
    QRN_FreeSocketMsg_Unprotected(msg);
  }
  return found;
}

}  // namespace

HSF_IBD_MASK hsfIbdPeekOrRecv(HSF_IBD_MASK mask, HSFMSG* datap, unsigned num, int option) {
  QRN_Socket* socket = QRN_CurrentSocket();
  // Most calls come from services polling a queue that held nothing when they started: they are
  // answered from the count alone.
  if (socket == nullptr || socket->numIBDmessages == 0) return 0;
  return peekOrRecvPresent(socket, mask, datap, num, option);
}

QRN_SocketMsg* hsfIbdTakeMsg_Unprotected(HSF_IBD_MASK mask) {
  QRN_Socket* socket = QRN_CurrentSocket();
  QRN_HalfSocket* half = qrnCurrentHalf(socket);
  if (half == nullptr) return nullptr;
  MEM_BlockHdr* prev = nullptr;
  MEM_BlockHdr* hdr = findIbd(socket, half, mask, 0, &prev);
  if (hdr == nullptr) return nullptr;
  unlinkFromQueue(&half->dataQ, prev, hdr);
  socket->numIBDmessages -= 1;
  return static_cast<QRN_SocketMsg*>(MEM_DataOf(hdr));
}

void* hsfIbdReceivePtr(HSF_IBD_MASK mask) {
  HSFMSG m{};
  if (hsfIbdPeekOrRecv(mask, &m, 0, HSF_IBD_RECEIVE) == 0) return nullptr;
  return HAPI_OPCODE_IS_STD(m.std.header) ? nullptr : m.ext.bufp;
}

// ---- frame and mode ----

uint16_t hsfFrmPeriodGet() {
  QRN_HalfSocket* half = qrnCurrentHalf(QRN_CurrentSocket());
  return half != nullptr ? half->frameSize : 0;
}

uint16_t hsfModeGet() {
  QRN_HalfSocket* half = qrnCurrentHalf(QRN_CurrentSocket());
  return half != nullptr ? half->mode : 0;
}

void hsfModeAndFramePeriodSet(uint16_t frameSize, uint16_t mode) {
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr) return;
  if (QRN_gSocketContext.currentDirection == HAPI_DIRECTION_EGRESS) {
    VHD_SetEgressFrameSizeAndMode(socket->handle, frameSize, mode);
  } else {
    VHD_SetIngressFrameSizeAndMode(socket->handle, frameSize, mode);
  }
}

// ---- stack switch ----

void hsfStackSwitch(uint16_t stackId, QRN_STACK_SWITCH_CBKP callback) {
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr) return;
  if (socket->ss_ctl.modeChangeInprogress) {
    // A switch is under way: its callback and requester must not be overwritten.
    LHAPI_ASSERT_FAIL();
    return;
  }
  const QRN_Service* current = QRN_gSocketContext.pCurrentService;
  socket->stackswitchcbkp = callback;
  socket->ss_ctl.modeChangeInprogress = true;
  socket->stackswitchcfg.srvId =
      current != nullptr && current->archive != nullptr ? current->archive->srvId : 0;
  socket->stackswitchcfg.srvp = current != nullptr ? current->serviceData : nullptr;
  if (socket->currStackArchive == nullptr || socket->currStackArchive->stackId != stackId) {
    socket->ss_ctl.stackswitchInprogress = true;
    QRN_QueueStdObdMsg(HAPIRESMAN, HAPI_RM_STACK_SWITCH_CMD, socket->handle, stackId,
                       HAPI_NO_RESP_SRV, HAPI_HOST_SRV, 0, 0);
    return;
  }
  socket->stackswitchcbkp = nullptr;
  if (callback != nullptr) callback(socket->stackswitchcfg.srvp, nullptr);
  QRN_QueueStdObdMsg(socket->handle, HSF_MKHDR(HAPI_HOST_SRV, HAPI_OPC_SYNC_UP_CMD), 0, 0,
                     HAPI_HOST_SRV, HAPI_HOST_SRV, 0, 0);
  socket->ss_ctl.stackswitchInprogress = false;
}

// ---- scratch memory ----

void* hsfMemAllocScratch(size_t size) {
  void* p = MEM_ScratchAlloc(&QRN_gHapiScratch, size);
  if (p == nullptr) LHAPI_ASSERT_FAIL();
  return p;
}

void* hsfMemAllocScratchNoAssert(size_t size) {
  return MEM_ScratchAllocAdjusted(&QRN_gHapiScratch, size);
}

// ---- service buffer pools ----
// Each block carries its pool's address in its last pointer-sized word, so a block can be freed
// without naming the pool. A service's pool lives in its instance memory, and only the service
// uses it: its thread bodies and its commands, and its set-up and close, which the resource
// manager runs, all on the tick thread. So its blocks are taken and given back without the
// framework lock (a pool that runs dry takes the lock for its report).

namespace {
void** poolSlotOf(void* buffer) {
  MEM_BlockHdr* hdr = MEM_HdrOf(buffer);
  return reinterpret_cast<void**>(reinterpret_cast<uint8_t*>(hdr) + hdr->blockSize - sizeof(void*));
}
}  // namespace

MEM_BufPool* hsfBmInit(void* area, size_t areaSize, uint32_t blockSize) {
  if (area == nullptr) {
    LHAPI_ASSERT_FAIL();
    return nullptr;
  }
  const uintptr_t start = reinterpret_cast<uintptr_t>(area);
  const uintptr_t aligned = (start + alignof(MEM_BufPool) - 1) & ~uintptr_t{alignof(MEM_BufPool) - 1};
  const size_t header = aligned - start + sizeof(MEM_BufPool);
  if (areaSize <= header) {
    LHAPI_ASSERT_FAIL();
    return nullptr;
  }
  auto* pool = reinterpret_cast<MEM_BufPool*>(aligned);
  MEM_InitBufPoolNoAdd(pool, blockSize + static_cast<uint32_t>(sizeof(void*)),
                       reinterpret_cast<uint8_t*>(area) + header, areaSize - header);
  return pool;
}

void* hsfBmAllocDirect(MEM_BufPool* pool, size_t size) {
  if (pool == nullptr || size > pool->bufSize - sizeof(void*)) {
    LHAPI_ASSERT_FAIL();
    return nullptr;
  }
  void* buffer = MEM_BufPoolAlloc_Unprotected(pool);
  if (buffer == nullptr) return nullptr;
  *poolSlotOf(buffer) = pool;
  return buffer;
}

void hsfBmFree(void* buffer) {
  if (buffer == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  if (MEM_HdrOf(buffer)->debugStartTag != MEM_POOL_START_INUSE) {
    LHAPI_ASSERT_FAIL();  // already free or not a pool block: its pool word cannot be trusted
    return;
  }
  MEM_BufPoolFree_Unprotected(static_cast<MEM_BufPool*>(*poolSlotOf(buffer)), buffer);
}

int hsfBmIsPoolEmpty(const MEM_BufPool* pool) {
  return pool == nullptr || pool->numFreeBuf == 0 ? 1 : 0;
}

void hsfQmFlush(QMQUEUE* queue) {
  while (void* buffer = MEM_QueueDeq(queue)) hsfBmFree(buffer);
}

// ---- media ----

void hsfMedqAdd(int16_t* dst, const int16_t* src, unsigned n) {
  if (dst == nullptr || src == nullptr) return;
  unsigned i = 0;
#if defined(ORVOX_X86_SIMD)
  // Eight saturating sums at a time: the same bits as the loop below, which finishes the tail.
  for (; i + 8 <= n; i += 8) {
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_adds_epi16(d, s));
  }
#endif
  for (; i < n; ++i) {
    int sum = dst[i] + src[i];
    if (sum > 32767) sum = 32767;
    if (sum < -32768) sum = -32768;
    dst[i] = static_cast<int16_t>(sum);
  }
}
