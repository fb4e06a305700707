// The two thread bodies of a VHD: one frame of its stack of services per run.
#include <cstring>

#include "lhapi.h"
#include "lhapi_tickprof.h"
#include "qrn/qrn_internal.h"
#include "vhd.h"

namespace {

struct Direction {
  HAPI_DIRECTION id;
  QRN_HalfSocket* half;
  uint16_t mediaSize;
  uint16_t history;
};

Direction directionOf(QRN_Socket* socket, HAPI_DIRECTION id) {
  const QRN_SocketConfig* c = socket->config;
  if (id == HAPI_DIRECTION_EGRESS) {
    return Direction{id, socket->egress, c->egressMediaQSize, c->egressNarrowbandMedqHist};
  }
  return Direction{id, socket->ingress, c->ingressMediaQSize, c->ingressNarrowbandMedqHist};
}

// Checks the slot and makes its socket the current one; none when the records are damaged.
// The tick profile learns which channel's thread runs.
QRN_Socket* enterSocket(void* instance, HAPI_DIRECTION direction) {
  auto* slot = static_cast<VHD_Instance*>(instance);
  if (slot == nullptr || slot->magic != VHD_INSTANCE_MAGIC) {
    LHAPI_ASSERT_FAIL();
    return nullptr;
  }
  QRN_Socket* socket = slot->socket;
  if (socket == nullptr || socket->magic != QRN_SOCKET_MAGIC) {
    LHAPI_ASSERT_FAIL();
    return nullptr;
  }
  if (gLhapiTickProfileOn) {
    lhapiTickProfileVhdThread(static_cast<int>(slot - VHD_gInstance),
                              slot->archive != nullptr ? slot->archive->archiveType : 0u,
                              direction == HAPI_DIRECTION_INGRESS);
  }
  QRN_gSocketContext.pCurrentSocket = socket;
  QRN_gSocketContext.pCurrentService = nullptr;
  return socket;
}

// This run's media buffer and how much of it holds the history or zeros. Kept per thread: a frame
// size set from another thread (the host opening or closing a channel) must not reach the tick
// thread's buffer, which that thread fills without the lock.
struct MediaRun {
  uint8_t* buffer = nullptr;
  size_t size = 0;
  size_t clearedEnd = 0;
};
thread_local MediaRun gMediaRun;

// Clears the media buffer as far as the services can address it. They are given the history
// (read from the front), the low band of `frameSize` samples behind it and, when the high-band
// pointer is set, 2 x `frameSize` samples there: everything beyond lies outside any pointer a
// service holds (its scratch memory is taken after the whole buffer), so leaving it uncleared is
// not seen. The history saved at the end of the run lies inside the low band's reach. A frame
// size or mode changed during the run widens what is addressable: then the rest is cleared at once
// (vhdMediaClearRest).
void clearMediaTo(size_t end) {
  if (end > gMediaRun.size) end = gMediaRun.size;
  if (end <= gMediaRun.clearedEnd) return;
  std::memset(gMediaRun.buffer + gMediaRun.clearedEnd, 0, end - gMediaRun.clearedEnd);
  gMediaRun.clearedEnd = end;
}

void clearAddressable(QRN_Socket* socket, size_t historyEven, uint16_t frameSize) {
  size_t end = historyEven + size_t{frameSize} * 2;
  if (socket->memDesc[HSF_MEDQ_HIGHBAND] != nullptr) end += size_t{frameSize} * 4;
  clearMediaTo(end);
  // The buffer's last byte is written as the whole clear did, so the scratch area's high-water
  // figure (its unused words counted from the top) stays the same.
  gMediaRun.buffer[gMediaRun.size - 1] = 0;
}

// Takes this frame's media buffer from the scratch area: the saved history, then the frame.
// Returns false when the frame does not fit the configured buffer.
bool prepareMedia(QRN_Socket* socket, const Direction& d) {
  MEM_ReinitScratch(&QRN_gHapiScratch);
  gMediaRun = MediaRun{};
  socket->memDesc[HSF_MEDQ_LOWBAND] = nullptr;
  socket->memDesc[HSF_MEDQ_HIGHBAND] = nullptr;
  const size_t historyEven = (d.history + 1u) & ~1u;
  if (historyEven + size_t{d.half->frameSize} * 2 > d.mediaSize) {
    LHAPI_ASSERT_FAIL();
    return false;
  }
  auto* buffer = static_cast<uint8_t*>(MEM_ScratchAlloc(&QRN_gHapiScratch, d.mediaSize));
  if (buffer == nullptr) {
    LHAPI_ASSERT_FAIL();
    return false;
  }
  std::memcpy(buffer, d.half->mediaQhistory, d.history);
  auto* low = reinterpret_cast<int16_t*>(buffer + historyEven);
  socket->memDesc[HSF_MEDQ_LOWBAND] = low;
  socket->memDesc[HSF_MEDQ_HIGHBAND] =
      VHD_CalcHighBandMedqPtr(low, d.mediaSize, d.half->frameSize, d.history, d.half->mode);
  gMediaRun = MediaRun{buffer, d.mediaSize, d.history};
  clearAddressable(socket, historyEven, d.half->frameSize);
  return true;
}

// Keeps the most recent samples of the buffer for the next frame.
void saveHistory(QRN_Socket* socket, const Direction& d) {
  auto* low = reinterpret_cast<uint8_t*>(socket->memDesc[HSF_MEDQ_LOWBAND]);
  if (low == nullptr) return;
  const size_t historyEven = (d.history + 1u) & ~1u;
  uint8_t* buffer = low - historyEven;
  const size_t start = size_t{d.half->frameSize} * 2;
  if (start + d.history > d.mediaSize) return;
  std::memcpy(d.half->mediaQhistory, buffer + start, d.history);
}

void completeStackSwitch(QRN_Socket* socket) {
  if (!socket->ss_ctl.stackSrvSwapComplete) return;
  socket->ss_ctl.stackSrvSwapComplete = false;
  LHAPI_ASSERT(socket->ss_ctl.stackswitchInprogress);
  QRN_STACK_SWITCH_CBKP callback = socket->stackswitchcbkp;
  socket->stackswitchcbkp = nullptr;
  if (callback != nullptr) callback(socket->stackswitchcfg.srvp, nullptr);
  QRN_QueueStdObdMsg(socket->handle, HSF_MKHDR(HAPI_HOST_SRV, HAPI_OPC_SYNC_UP_CMD), 0, 0,
                     HAPI_HOST_SRV, HAPI_HOST_SRV, 0, 0);
}

// A half-socket's dataQ is filled and emptied only on the tick thread (by the services, the
// switchboard and these bodies; the host's data go to hostdataQ), so its length is read here
// without taking the lock for every service of every run.
[[gnu::always_inline]] inline void runService(QRN_Socket* socket, QRN_HalfSocket* half,
                                              QRN_Service* service, HSFBLOCKP fn) {
  QRN_gSocketContext.pCurrentService = service;
  socket->numIBDmessages = half->dataQ.count;
  if (gLhapiTickProfileOn) {
    const int64_t start = lhapiTickProfileNowNs();
    fn(service->serviceData);
    lhapiTickProfileServiceRan(service->archive->srvId, lhapiTickProfileNowNs() - start);
  } else {
    fn(service->serviceData);
  }
}

void processHostMessages(QRN_Socket* socket) {
  if (gLhapiTickProfileOn) {
    const int64_t start = lhapiTickProfileNowNs();
    QRN_SocketProcessMessages(socket);
    lhapiTickProfileServiceRan(LHAPI_TICK_HOST_MESSAGES, lhapiTickProfileNowNs() - start);
  } else {
    QRN_SocketProcessMessages(socket);
  }
}

// In-band data left at the end of the pass go to the switchboard; what it does not take goes to
// the host (ingress, unless the VHD is DSP-only) or is freed. Taking a message and handing it on
// share one hold of the lock; the host is called without it.
void passDataOn(QRN_Socket* socket, QRN_HalfSocket* half, bool toHost) {
  while (half->dataQ.headPtr != nullptr) {  // the tick thread's own queue, as above
    QRN_SocketMsg* msg = nullptr;
    {
      LhapiLockGuard lock;
      msg = static_cast<QRN_SocketMsg*>(MEM_QueueDeq_Unprotected(&half->dataQ));
      if (msg == nullptr) return;
      if (VHD_gIbdSend != nullptr && VHD_gIbdSend(socket->handle, msg)) continue;
      if (!toHost) {
        QRN_FreeSocketMsg_Unprotected(msg);
        continue;
      }
    }
    QRN_SendMessageToHost(socket->handle, msg);
  }
}

// Puts what the host sent behind this frame's in-band data; the lock is taken only when the host
// may have sent something.
void takeHostData(QRN_HalfSocket* half) {
  if (!qrnHostQueued(half->hostdataQueued)) return;
  LhapiLockGuard lock;
  MEM_QueueMove_Unprotected(&half->dataQ, &half->hostdataQ);
  qrnMarkHostQueued(half->hostdataQueued, false);
}

// Whether a resting channel rests on this run; a channel in a call (not resting) is told at once.
bool restingOn(void* instance, QRN_Socket* socket, HAPI_DIRECTION direction) {
  auto* slot = static_cast<VHD_Instance*>(instance);
  return vhdResting(*slot) && vhdRestAgain(slot, socket, direction);
}

void leaveSocket() {
  gMediaRun = MediaRun{};
  QRN_FreeLaterBlocks();
  QRN_gSocketContext.pCurrentSocket = nullptr;
  QRN_gSocketContext.pCurrentService = nullptr;
}

// A resting channel's run that rests on changes nothing but the count of skipped runs: it needs
// neither the run's set-up nor the pass's lock given up and taken again around the body. It leaves
// the context as the body's run would.
template <HAPI_DIRECTION kDirection>
bool restingRun(void* instance) {
  auto* slot = static_cast<VHD_Instance*>(instance);
  if (slot == nullptr || slot->magic != VHD_INSTANCE_MAGIC) return false;
  QRN_Socket* socket = slot->socket;
  if (socket == nullptr || socket->magic != QRN_SOCKET_MAGIC) return false;
  if (!restingOn(slot, socket, kDirection)) return false;
  QRN_gSocketContext.currentDirection = kDirection;
  leaveSocket();
  return true;
}

// The steps that open a channel's run in either direction: the socket entered, the host's data
// taken and the media made ready, unless the channel rests or lets this run pass. None: the run
// has ended (the socket is left, except for a socket without this direction's half).
QRN_Socket* beginRun(void* instance, HAPI_DIRECTION id, Direction& d, bool& haveMedia) {
  QRN_Socket* socket = enterSocket(instance, id);
  if (socket == nullptr) return nullptr;
  QRN_gSocketContext.currentDirection = id;
  if (restingOn(instance, socket, id)) {
    leaveSocket();
    return nullptr;
  }
  if ((id == HAPI_DIRECTION_INGRESS ? socket->ingress : socket->egress) == nullptr) return nullptr;
  d = directionOf(socket, id);
  if (vhdRestThisRun(static_cast<VHD_Instance*>(instance), socket, d.id, d.half, d.history)) {
    leaveSocket();
    return nullptr;
  }
  takeHostData(d.half);
  haveMedia = prepareMedia(socket, d);
  completeStackSwitch(socket);
  return socket;
}

}  // namespace

bool VHD_IngressRestingRun(void* instance) { return restingRun<HAPI_DIRECTION_INGRESS>(instance); }
bool VHD_EgressRestingRun(void* instance) { return restingRun<HAPI_DIRECTION_EGRESS>(instance); }

void vhdMediaClearRest() {
  if (gMediaRun.buffer != nullptr) clearMediaTo(gMediaRun.size);
}

void VHD_IngressThread(void* instance) {
  Direction d{};
  bool haveMedia = false;
  QRN_Socket* socket = beginRun(instance, HAPI_DIRECTION_INGRESS, d, haveMedia);
  if (socket == nullptr) return;
  if (!socket->ss_ctl.stackswitchInprogress && haveMedia) {
    const QRN_StackArchive* stack = socket->currStackArchive;
    for (int i = stack != nullptr ? stack->numServices - 1 : -1; i >= 0; --i) {
      QRN_Service* service = &socket->service[i];
      if (service->archive != nullptr && service->archive->ingressFnc != nullptr) {
        runService(socket, d.half, service, service->archive->ingressFnc);
      }
    }
    QRN_gSocketContext.pCurrentService = nullptr;
    const bool dspOnly = (socket->config->vhdOpt & HAPI_VHDOPT_DSP_ONLY) != 0;
    passDataOn(socket, d.half, !dspOnly);
  }
  processHostMessages(socket);
  saveHistory(socket, d);
  leaveSocket();
}

void VHD_EgressThread(void* instance) {
  Direction d{};
  bool haveMedia = false;
  QRN_Socket* socket = beginRun(instance, HAPI_DIRECTION_EGRESS, d, haveMedia);
  if (socket == nullptr) return;
  if (!socket->ss_ctl.stackswitchInprogress && haveMedia) {
    const QRN_StackArchive* stack = socket->currStackArchive;
    for (uint16_t i = 0; stack != nullptr && i < stack->numServices; ++i) {
      QRN_Service* service = &socket->service[i];
      if (service->archive != nullptr && service->archive->egressFnc != nullptr) {
        runService(socket, d.half, service, service->archive->egressFnc);
      }
    }
    QRN_gSocketContext.pCurrentService = nullptr;
  }
  processHostMessages(socket);
  saveHistory(socket, d);
  if (!socket->ss_ctl.stackswitchInprogress) passDataOn(socket, d.half, false);
  leaveSocket();
}
