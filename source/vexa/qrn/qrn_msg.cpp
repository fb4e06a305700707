// Framework messages and extended-data blocks: allocation, duplication, release, and delivery to
// the host.
#include <cstring>

#include "lhapi.h"
#include "qrn.h"
#include "qrn_internal.h"
#include "swb/swb.h"

MEM_BufPool QRN_gHapiMsgBufPool;
MEM_BufPool QRN_gHapiExtDataBufPool;
QRN_HostMsgCallback QRN_gHostMsgCallback = nullptr;

namespace {

uint8_t* extBlockOf(void* bufp) {
  return static_cast<uint8_t*>(bufp) - sizeof(QRN_SocketMsgExtSrcHeader);
}

bool isExtendedHeader(uint16_t header) { return !HAPI_OPCODE_IS_STD(header); }

}  // namespace

QRN_SocketMsgExtSrcHeader* QRN_ExtHeaderOf(void* bufp) {
  return reinterpret_cast<QRN_SocketMsgExtSrcHeader*>(extBlockOf(bufp));
}

int QRN_PeekMsgPool() { return QRN_gHapiMsgBufPool.numFreeBuf > QRN_MSG_POOL_RESERVE ? 1 : 0; }

int QRN_PeekExtMsgPool(size_t length) {
  return length <= QRN_EXT_DATA_MAX && QRN_gHapiExtDataBufPool.numFreeBuf > QRN_EXT_POOL_RESERVE
             ? 1
             : 0;
}

QRN_SocketMsg* QRN_AllocSocketMsg_Unprotected() {
  auto* msg = static_cast<QRN_SocketMsg*>(MEM_BufPoolAlloc_Unprotected(&QRN_gHapiMsgBufPool));
  if (msg != nullptr) std::memset(msg, 0, sizeof(*msg));
  return msg;
}

QRN_SocketMsg* QRN_AllocSocketMsg() {
  LhapiLockGuard lock;
  return QRN_AllocSocketMsg_Unprotected();
}

QRN_SocketMsg* QRN_DuplicateMsg(const QRN_SocketMsg* msg) {
  if (msg == nullptr) return nullptr;
  LhapiLockGuard lock;
  QRN_SocketMsg* copy = QRN_AllocSocketMsg_Unprotected();
  if (copy == nullptr) return nullptr;
  *copy = *msg;
  if (isExtendedHeader(msg->msg.ext.header) && (msg->msgFlags & QRN_MsgFlagBufNeedsFree) &&
      msg->msg.ext.bufp != nullptr) {
    QRN_ExtHeaderOf(msg->msg.ext.bufp)->refCount += 1;
  }
  return copy;
}

void QRN_FreeExtMsg_Unprotected(void* bufp) {
  if (bufp == nullptr) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  uint8_t* block = extBlockOf(bufp);
  // The pools do not overlap: holding the block is being the pool that the search would find.
  if (!MEM_BufPoolHolds(&QRN_gHapiExtDataBufPool, block) ||
      MEM_HdrOf(block)->debugStartTag != MEM_POOL_START_INUSE) {
    LHAPI_ASSERT_FAIL();  // not a framework block in use: never touch it
    return;
  }
  auto* hdr = reinterpret_cast<QRN_SocketMsgExtSrcHeader*>(block);
  if (hdr->refCount > 0) {
    hdr->refCount -= 1;
    return;
  }
  MEM_BufPoolFree_Unprotected(&QRN_gHapiExtDataBufPool, block);
}

void QRN_FreeExtMsg(void* bufp) {
  LhapiLockGuard lock;
  QRN_FreeExtMsg_Unprotected(bufp);
}

void QRN_FreeSocketMsg_Unprotected(QRN_SocketMsg* msg) {
  if (msg == nullptr) return;
  if ((msg->msgFlags & QRN_MsgFlagBufNeedsFree) && msg->msg.ext.bufp != nullptr) {
    QRN_FreeExtMsg_Unprotected(msg->msg.ext.bufp);
  }
  // Nearly every message is of the framework's pool: the search of all pools is for the rest.
  MEM_BufPool* pool = MEM_BufPoolHolds(&QRN_gHapiMsgBufPool, msg) ? &QRN_gHapiMsgBufPool : nullptr;
  MEM_BufPoolFree_Unprotected(pool, msg);
}

void QRN_FreeSocketMsg(QRN_SocketMsg* msg) {
  LhapiLockGuard lock;
  QRN_FreeSocketMsg_Unprotected(msg);
}

void* QRN_AllocExtData_Unprotected(const void* src, size_t length) {
  if (length > QRN_EXT_DATA_MAX || !QRN_PeekExtMsgPool(length)) return nullptr;
  auto* block = static_cast<uint8_t*>(MEM_BufPoolAlloc_Unprotected(&QRN_gHapiExtDataBufPool));
  if (block == nullptr) return nullptr;
  auto* hdr = reinterpret_cast<QRN_SocketMsgExtSrcHeader*>(block);
  hdr->refCount = 0;
  hdr->srcHandle = 0;
  void* data = block + sizeof(QRN_SocketMsgExtSrcHeader);
  if (src != nullptr && length > 0) std::memcpy(data, src, length);
  return data;
}

void* QRN_AllocExtData(const void* src, size_t length) {
  LhapiLockGuard lock;
  return QRN_AllocExtData_Unprotected(src, length);
}

int QRN_AllocSocketMsgExtData_Unprotected(QRN_SocketMsg* msg, const void* src, size_t length,
                                          uint16_t srcHandle) {
  if (msg == nullptr) return 0;
  if (!isExtendedHeader(msg->msg.ext.header)) {
    LHAPI_ASSERT_FAIL();
    return 0;
  }
  void* data = QRN_AllocExtData_Unprotected(src, length);
  if (data == nullptr) {
    msg->msg.ext.bufp = nullptr;
    msg->msg.ext.length = 0;
    return 0;
  }
  QRN_ExtHeaderOf(data)->srcHandle = srcHandle;
  msg->msg.ext.bufp = data;
  msg->msg.ext.length = static_cast<uint16_t>(length);
  msg->msgFlags |= QRN_MsgFlagBufNeedsFree | QRN_MsgFlagExtDataWithSrcHeader;
  return 1;
}

int QRN_AllocSocketMsgExtData(QRN_SocketMsg* msg, const void* src, size_t length,
                              uint16_t srcHandle) {
  LhapiLockGuard lock;
  return QRN_AllocSocketMsgExtData_Unprotected(msg, src, length, srcHandle);
}

namespace {

// A copy that would be made and dropped at once is not made, when both its blocks would simply
// be served: the pools end as they would have, their low-water marks included.
bool skipDroppedCopy(uint16_t length) {
  MEM_BufPool* msgs = &QRN_gHapiMsgBufPool;
  MEM_BufPool* ext = &QRN_gHapiExtDataBufPool;
  if (!MEM_BufPoolServes(msgs) || !QRN_PeekExtMsgPool(length) || !MEM_BufPoolServes(ext)) {
    return false;
  }
  MEM_BufPoolNoteBriefUse(msgs);
  MEM_BufPoolNoteBriefUse(ext);
  return true;
}

// Where the copies of one call go. Copies offered to the switchboard are handed to their
// connection, looked up once for the call and again only when the connection list has moved
// meanwhile (a delivery may report to the host); any other offer is called for each copy.
struct IbdRoute {
  QRN_IbdCallback offer;
  QRN_Handle srcHandle;
  unsigned direction = 0;
  bool viaSwitchboard = false;
  uint32_t generation = 0;
  int connection = -1;

  IbdRoute(QRN_IbdCallback offerTo, QRN_Handle src, QRN_MsgFlags flags)
      : offer(offerTo), srcHandle(src), viaSwitchboard(offerTo == SWB_IbdRecv) {
    direction = (flags & QRN_MsgFlagIbdIngress) ? HAPI_SWB_TOS : HAPI_SWB_BOS;
    if (viaSwitchboard) lookUp();
  }
  void lookUp() {
    generation = SWB_Generation();
    connection = SWB_SourceConnection(srcHandle, direction);
  }
  int currentConnection() {
    if (SWB_Generation() != generation) lookUp();
    return connection;
  }
  // Whether the switchboard would drop a copy of this band at once.
  bool drops(HSF_IBD_MASK mask) {
    return viaSwitchboard && SWB_ConnectionDropsIbd(currentConnection(), mask);
  }
  // Hands the copy on; false when it was not taken (the caller frees it).
  bool take(QRN_SocketMsg* msg) {
    if (!viaSwitchboard) return offer != nullptr && offer(srcHandle, msg) != 0;
    const int at = currentConnection();
    if (at < 0) return false;
    SWB_DeliverIbd_Unprotected(at, msg);
    return true;
  }
};

// The copy itself, once the switchboard has not dropped it at once. Caller holds the lock.
int offerCopy_Unprotected(IbdRoute& route, QRN_Handle msgHandle, HSF_IBD_MASK mask,
                          QRN_MsgFlags flags, const void* data, uint16_t length) {
  QRN_SocketMsg* msg = QRN_AllocSocketMsg_Unprotected();
  if (msg == nullptr) return 0;
  msg->msg.ext.header = 0;
  msg->id.mask = mask;
  msg->msgFlags = flags;
  msg->handle = msgHandle;
  if (!QRN_AllocSocketMsgExtData_Unprotected(msg, data, length, route.srcHandle) ||
      !route.take(msg)) {
    QRN_FreeSocketMsg_Unprotected(msg);
    return 0;
  }
  return 1;
}

}  // namespace

int qrnOfferIbdCopy(QRN_IbdCallback offer, QRN_Handle srcHandle, QRN_Handle msgHandle,
                    HSF_IBD_MASK mask, QRN_MsgFlags flags, const void* data, uint16_t length) {
  const QRN_IbdBlock block{mask, data};
  return qrnOfferIbdCopies(offer, srcHandle, msgHandle, flags, {&block, 1}, length);
}

int qrnOfferIbdCopies(QRN_IbdCallback offer, QRN_Handle srcHandle, QRN_Handle msgHandle,
                      QRN_MsgFlags flags, std::span<const QRN_IbdBlock> blocks, uint16_t length) {
  LhapiLockGuard lock;
  IbdRoute route(offer, srcHandle, flags);
  // A skipped copy changes nothing but the low-water marks, which a second skip would set to the
  // same values: once a band's copy is skipped, the switchboard and the pools stand as they did,
  // and the band's later blocks in the call are skipped without asking again, until a copy that
  // is made moves the pools.
  HSF_IBD_MASK skipped = 0;
  int taken = 0;
  for (const QRN_IbdBlock& block : blocks) {
    if ((block.mask & skipped) != 0 && (block.mask & ~skipped) == 0) continue;
    if (route.drops(block.mask) && skipDroppedCopy(length)) {
      skipped |= block.mask;
      continue;
    }
    taken += offerCopy_Unprotected(route, msgHandle, block.mask, flags, block.data, length);
    skipped = 0;
  }
  return taken;
}

void QRN_SendMessageToHost(QRN_Handle handle, QRN_SocketMsg* msg) {
  if (msg == nullptr) return;
  if (QRN_gHostMsgCallback != nullptr) {
    QRN_gHostMsgCallback(handle, msg);  // the host side frees it
  } else {
    QRN_FreeSocketMsg(msg);
  }
}

void QRN_SendStdMsgToHost(QRN_Handle handle, uint16_t header, uint16_t op1, uint16_t op2,
                          HSFSRVID sender, HSFSRVID target, uint16_t userTag, QRN_MsgFlags flags) {
  if (!HAPI_OPCODE_IS_STD(header)) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  QRN_SocketMsg* msg = QRN_AllocSocketMsg();
  if (msg == nullptr) return;
  msg->msg.std = HSFMSGSTD{header, op1, op2};
  msg->id.srv = QRN_MsgSrv{sender, target};
  msg->msgFlags = flags | QRN_MsgFlagObd;
  msg->userTag = userTag;
  msg->handle = handle;
  QRN_SendMessageToHost(handle, msg);
}

void QRN_SendExtMsgToHost(QRN_Handle handle, uint16_t header, void* bufp, uint16_t length,
                          HSFSRVID sender, HSFSRVID target, uint16_t userTag, QRN_MsgFlags flags) {
  if (!isExtendedHeader(header)) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  QRN_SocketMsg* msg = QRN_AllocSocketMsg();
  if (msg == nullptr) return;
  msg->msg.ext.header = header;
  msg->msg.ext.length = length;
  msg->msg.ext.bufp = bufp;
  msg->id.srv = QRN_MsgSrv{sender, target};
  msg->msgFlags = flags | QRN_MsgFlagObd;
  msg->userTag = userTag;
  msg->handle = handle;
  QRN_SendMessageToHost(handle, msg);
}

int QRN_ErrorEvent(uint16_t error, uint16_t op2) {
  QRN_SendStdMsgToHost(HAPIRESMAN, HAPI_RM_ERROR_EVT, error, op2, HAPI_RM_SRV, HAPI_HOST_SRV, 0,
                       QRN_MsgFlagObd);
  return 0;
}

void* QRN_memcpy(void* dst, const void* src, size_t n) {
  auto* d = static_cast<uint8_t*>(dst);
  const auto* s = static_cast<const uint8_t*>(src);
  for (size_t i = 0; i < n; ++i) d[i] = s[i];
  return dst;
}

void* QRN_memset(void* dst, int value, size_t n) {
  auto* d = static_cast<uint8_t*>(dst);
  for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(value);
  return dst;
}
