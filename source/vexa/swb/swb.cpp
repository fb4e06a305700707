// Switchboard: the flat connection list, connect and disconnect, and delivery.
#include <array>
#include <atomic>
#include <cstring>

#include "halshim/halshim.h"
#include "lhapi.h"
#include "qrn/qrn_internal.h"
#include "swb.h"

SWB_Connection_List SWB_gConnectionList;

namespace {

SWB_Port port(uint16_t handle, unsigned direction) {
  SWB_Port p{};
  p.handle = handle;
  p.direction = direction & 1;
  p.numOfDest = 0;
  return p;
}

bool isHardwarePort(uint16_t handle) { return (handle & 0xFF) < HALSHIM_NUM_PORTS; }

bool samePort(const SWB_Port& a, const SWB_Port& b) {
  return a.handle == b.handle && a.direction == b.direction;
}

SWB_Port* entries() { return SWB_gConnectionList.list; }

// Where each source entry sits, by direction and the low byte of its handle, so that delivering a
// block does not walk the list: rebuilt by every change of the list. kNoSource: no source has
// that low byte; kSeveral: more than one has (the list is walked).
constexpr int8_t kNoSource = -1;
constexpr int8_t kSeveral = -2;
static_assert(SWB_MAX_PORTS <= 127, "source positions are kept in 8 bits");
std::array<std::array<int8_t, 256>, 2> gSourceAt = [] {
  std::array<std::array<int8_t, 256>, 2> a{};
  for (auto& d : a) d.fill(kNoSource);
  return a;
}();

std::atomic<uint32_t> gGeneration{0};

void indexSources() {
  gGeneration.fetch_add(1, std::memory_order_release);
  for (auto& d : gSourceAt) d.fill(kNoSource);
  const SWB_Port* list = entries();
  for (int i = 0; i < static_cast<int>(SWB_MAX_PORTS) && list[i].handle != SWB_END_MARKER; i += 1 + list[i].numOfDest) {
    int8_t& at = gSourceAt[list[i].direction][list[i].handle & 0xFF];
    at = at == kNoSource ? static_cast<int8_t>(i) : kSeveral;
  }
}

int walkSources(SWB_Port p) {
  const SWB_Port* list = entries();
  int i = 0;
  while (i < static_cast<int>(SWB_MAX_PORTS) && list[i].handle != SWB_END_MARKER) {
    if (samePort(list[i], p)) return i;
    i += 1 + list[i].numOfDest;
  }
  return -1;
}

// A VHD port is valid when its socket has the half-socket the port means. A source at the top
// takes what leaves the ingress half, at the bottom what leaves the egress half; a destination at
// the top feeds the egress half, at the bottom the ingress half.
bool checkPort(SWB_Port p, bool source) {
  if (isHardwarePort(p.handle)) return true;
  QRN_Socket* socket = QRN_FindSocket(p.handle);
  if (socket == nullptr) return false;
  const bool top = p.direction == HAPI_SWB_TOS;
  const bool needsIngress = source ? top : !top;
  return needsIngress ? socket->ingress != nullptr : socket->egress != nullptr;
}

void removeEntries(int index, int count) {
  SWB_Port* list = entries();
  const int used = SWB_gConnectionList.portsUsed;
  std::memmove(&list[index], &list[index + count], sizeof(SWB_Port) * (used - index - count));
  SWB_gConnectionList.portsUsed = static_cast<uint16_t>(used - count);
}

void insertEntry(int index, SWB_Port p) {
  SWB_Port* list = entries();
  const int used = SWB_gConnectionList.portsUsed;
  std::memmove(&list[index + 1], &list[index], sizeof(SWB_Port) * (used - index));
  list[index] = p;
  SWB_gConnectionList.portsUsed = static_cast<uint16_t>(used + 1);
}

}  // namespace

void SWB_Init() {
  SWB_gConnectionList.portsUsed = 1;
  entries()[0] = port(SWB_END_MARKER, 0);
  indexSources();
}

uint32_t SWB_Generation() { return gGeneration.load(std::memory_order_acquire); }

int SWB_CheckSourcePort(SWB_Port p) { return checkPort(p, true) ? 1 : 0; }
int SWB_CheckDestinationPort(SWB_Port p) { return checkPort(p, false) ? 1 : 0; }

int SWB_FindSourcePort(SWB_Port p) {
  const int8_t at = gSourceAt[p.direction][p.handle & 0xFF];
  if (at >= 0) return samePort(entries()[at], p) ? at : -1;
  return at == kNoSource ? -1 : walkSources(p);
}

int SWB_SourceConnection(QRN_Handle srcHandle, unsigned direction) {
  return SWB_FindSourcePort(port(srcHandle, direction));
}

bool SWB_ConnectionDropsIbd(int connection, HSF_IBD_MASK mask) {
  if (connection < 0) return true;
  // With more than one destination the block is duplicated, and the copies are in use together.
  if (entries()[connection].numOfDest != 1) return false;
  const SWB_Port dst = entries()[connection + 1];
  // A hardware port fed at its top plays the block; one that does not play its band frees it.
  return isHardwarePort(dst.handle) && dst.direction == HAPI_SWB_TOS && !halShimPlaysBand(dst.handle & 0xFF, mask);
}

int SWB_FindDestinationPortIndex(int connection, SWB_Port p, int index) {
  const SWB_Port* list = entries();
  const int last = connection + list[connection].numOfDest;
  for (int i = connection + 1 + index; i <= last; ++i) {
    if (samePort(list[i], p)) return i;
  }
  return -1;
}

namespace {

// Whether both ends of a simplex connection are known ports; reports the first unknown one.
bool checkSimplexPorts(SWB_Port src, SWB_Port dst) {
  if (!SWB_CheckSourcePort(src)) {
    QRN_ErrorEvent(HAPI_RM_ERR_UNKNOWN_DEV, src.handle);
    return false;
  }
  if (!SWB_CheckDestinationPort(dst)) {
    QRN_ErrorEvent(HAPI_RM_ERR_UNKNOWN_DEV, dst.handle);
    return false;
  }
  return true;
}

}  // namespace

int SWB_ConnectSimplex(SWB_Port src, SWB_Port dst) {
  if (!checkSimplexPorts(src, dst)) return 0;
  LhapiLockGuard lock;
  const int connection = SWB_FindSourcePort(src);
  if (connection >= 0) {
    if (SWB_FindDestinationPortIndex(connection, dst, 0) >= 0) return 1;
    if (SWB_gConnectionList.portsUsed > SWB_MAX_PORTS - 1) return 0;
    insertEntry(connection + 1 + entries()[connection].numOfDest, port(dst.handle, dst.direction));
    entries()[connection].numOfDest += 1;
    indexSources();
    return 1;
  }
  if (SWB_gConnectionList.portsUsed > SWB_MAX_PORTS - 2) return 0;
  const int end = SWB_gConnectionList.portsUsed - 1;  // the end marker
  SWB_Port s = port(src.handle, src.direction);
  s.numOfDest = 1;
  entries()[end] = s;
  entries()[end + 1] = port(dst.handle, dst.direction);
  entries()[end + 2] = port(SWB_END_MARKER, 0);
  SWB_gConnectionList.portsUsed += 2;
  indexSources();
  return 1;
}

int SWB_DisconnectSimplex(SWB_Port src, SWB_Port dst) {
  if (!checkSimplexPorts(src, dst)) return 0;
  LhapiLockGuard lock;
  const int connection = SWB_FindSourcePort(src);
  if (connection < 0) return 1;
  const int index = SWB_FindDestinationPortIndex(connection, dst, 0);
  if (index < 0) return 1;
  if (entries()[connection].numOfDest > 1) {
    removeEntries(index, 1);
    entries()[connection].numOfDest -= 1;
  } else {
    removeEntries(connection, 2);
  }
  indexSources();
  return 1;
}

void swbSendHalShimFlushCommand(uint16_t handle) {
  QRN_SocketMsg msg{};
  msg.msg.std = HSFMSGSTD{HALSHIM_FLUSH_CMD, 0, 0};
  msg.id.srv = QRN_MsgSrv{HAPI_SWB_SRV, handle};
  msg.msgFlags = QRN_MsgFlagObd;
  halShimProcessMessageInRm(&msg, 0, 0);
}

HAPIRESULT SWB_io(QRN_SocketMsg* msg, int, int) {
  if (msg == nullptr) return HAPIFAILURE;
  const uint16_t header = msg->msg.std.header;
  if (header == HAPI_SWB_CONNECT_CMD || header == HAPI_SWB_DISCONNECT_CMD) {
    const auto* params = static_cast<const HAPI_SWB_PARAMS*>(msg->msg.ext.bufp);
    if (params == nullptr || msg->msg.ext.length < sizeof(HAPI_SWB_PARAMS)) return HAPIFAILURE;
    const SWB_Port src = port(params->srcHandle, params->srcInterface);
    const SWB_Port dst = port(params->dstHandle, params->dstInterface);
    if (isHardwarePort(src.handle)) swbSendHalShimFlushCommand(src.handle);
    if (isHardwarePort(dst.handle)) swbSendHalShimFlushCommand(dst.handle);
    auto apply = header == HAPI_SWB_CONNECT_CMD ? SWB_ConnectSimplex : SWB_DisconnectSimplex;
    LhapiLockGuard lock;
    bool ok = apply(src, dst) != 0;
    if (params->type == HAPI_SWB_DUPLEX) ok = apply(dst, src) != 0 && ok;
    return ok ? HAPISUCCESS : HAPIFAILURE;
  }
  if (header == HAPI_SWB_FLUSH_BUILDOUT_CMD) {
    LhapiLockGuard lock;
    const int connection = SWB_FindSourcePort(port(msg->msg.std.op1, HAPI_SWB_BOS));
    if (connection >= 0) {
      for (int i = 1; i <= entries()[connection].numOfDest; ++i) {
        const uint16_t h = entries()[connection + i].handle;
        if (isHardwarePort(h)) swbSendHalShimFlushCommand(h);
      }
    }
    return HAPISUCCESS;
  }
  return HAPIFAILURE;
}

int SWB_IbdRecv(QRN_Handle srcHandle, QRN_SocketMsg* msg) {
  if (msg == nullptr) return 0;
  LhapiLockGuard lock;
  const unsigned direction = (msg->msgFlags & QRN_MsgFlagIbdIngress) ? HAPI_SWB_TOS : HAPI_SWB_BOS;
  const int connection = SWB_SourceConnection(srcHandle, direction);
  if (connection < 0) return 0;
  SWB_DeliverIbd_Unprotected(connection, msg);
  return 1;
}

void SWB_DeliverIbd_Unprotected(int connection, QRN_SocketMsg* msg) {
  const int numDest = entries()[connection].numOfDest;
  for (int i = 1; i <= numDest; ++i) {
    const SWB_Port dst = entries()[connection + i];
    QRN_SocketMsg* out = i < numDest ? QRN_DuplicateMsg(msg) : msg;
    if (out == nullptr) continue;
    out->msgFlags &= ~(QRN_MsgFlagIbdIngress | QRN_MsgFlagIbdEgress);
    out->msgFlags |= dst.direction == HAPI_SWB_BOS ? QRN_MsgFlagIbdIngress : QRN_MsgFlagIbdEgress;
    if (!qrnQueueMsg_Unprotected(dst.handle, out)) {
      QRN_ErrorEvent(HAPI_RM_ERR_INVALID_HANDLE, dst.handle);
    }
  }
}

void SWB_RemoveHandle(uint16_t handle) {
  LhapiLockGuard lock;
  SWB_Port* list = entries();
  int i = 0;
  while (list[i].handle != SWB_END_MARKER) {
    const int numDest = list[i].numOfDest;
    if (list[i].handle == handle) {
      for (int k = 0; k <= numDest; ++k) {
        if (isHardwarePort(list[i + k].handle)) swbSendHalShimFlushCommand(list[i + k].handle);
      }
      removeEntries(i, 1 + numDest);
      continue;
    }
    for (int k = numDest; k >= 1; --k) {
      if (list[i + k].handle != handle) continue;
      removeEntries(i + k, 1);
      list[i].numOfDest -= 1;
    }
    if (list[i].numOfDest == 0) {
      if (isHardwarePort(list[i].handle)) swbSendHalShimFlushCommand(list[i].handle);
      removeEntries(i, 1);
      continue;
    }
    i += 1 + list[i].numOfDest;
  }
  indexSources();
}
