// Sockets: creation and closing, the service table, starting and stopping services, and the
// service swap of a stack switch.
#include <array>
#include <cstring>

#include "lhapi.h"
#include "qrn.h"
#include "qrn_internal.h"

QRN_Socket* QRN_gSocketList = nullptr;

namespace {

// The open sockets by the low byte of their handle, so that routing a message does not walk the
// list; a socket whose low byte an older open socket already has is found on the list.
std::array<QRN_Socket*, 256> gSocketByLow{};

QRN_Socket* walkSocketList(QRN_Handle handle) {
  for (QRN_Socket* s = QRN_gSocketList; s != nullptr; s = s->next) {
    if (s->handle == handle) return s;
  }
  return nullptr;
}

size_t roundUp8(size_t n) { return (n + 7) & ~size_t{7}; }

uint16_t maxServices(const QRN_SocketConfig* config) {
  uint16_t most = 0;
  for (uint16_t i = 0; i < config->numStackTypes; ++i) {
    if (config->archive[i].numServices > most) most = config->archive[i].numServices;
  }
  return most;
}

bool ingressEnabled(const QRN_SocketConfig* c) {
  return (c->vhdOpt & HAPI_VHDOPT_DISABLE_INGRESS_THREAD) == 0;
}
bool egressEnabled(const QRN_SocketConfig* c) {
  return (c->vhdOpt & HAPI_VHDOPT_DISABLE_EGRESS_THREAD) == 0;
}

// The socket's own heap holds one block per service instance; each block header is larger on
// this host than in the original layout the configured sizes were counted in.
size_t socketHeapBytes(const QRN_SocketConfig* c) {
  return c->socketHeapSize + size_t{maxServices(c)} * MEM_BLOCK_HDR_GROWTH + 64;
}

// Runs `fn` with `service` as the current service (and `socket` as the current socket).
template <typename Fn>
void asCurrentService(QRN_Socket* socket, QRN_Service* service, Fn fn) {
  QRN_Socket* savedSocket = QRN_gSocketContext.pCurrentSocket;
  QRN_Service* savedService = QRN_gSocketContext.pCurrentService;
  QRN_gSocketContext.pCurrentSocket = socket;
  QRN_gSocketContext.pCurrentService = service;
  fn();
  QRN_gSocketContext.pCurrentService = savedService;
  QRN_gSocketContext.pCurrentSocket = savedSocket;
}

void stopService(QRN_Socket* socket, QRN_Service* service) {
  if (service->archive == nullptr) return;
  asCurrentService(socket, service, [&] {
    if (service->archive->exitFnc != nullptr && service->serviceData != nullptr) {
      service->archive->exitFnc(service->serviceData);
    }
  });
  if (service->serviceData != nullptr) MEM_HeapFree(&socket->socketHeap, service->serviceData);
  *service = QRN_Service{};
}

}  // namespace

void qrnFreeQueue_Unprotected(MEM_Queue* queue) {
  while (auto* msg = static_cast<QRN_SocketMsg*>(MEM_QueueDeq_Unprotected(queue))) {
    QRN_FreeSocketMsg_Unprotected(msg);
  }
}

void qrnResetSocketIndex() { gSocketByLow.fill(nullptr); }

QRN_Socket* qrnFindSocket_Unprotected(QRN_Handle handle) {
  QRN_Socket* s = gSocketByLow[handle & 0xFF];
  if (s != nullptr && s->handle == handle) return s;
  return walkSocketList(handle);
}

QRN_Socket* QRN_FindSocket(QRN_Handle handle) {
  LhapiLockGuard lock;
  return qrnFindSocket_Unprotected(handle);
}

QRN_Socket* QRN_CreateSocket(QRN_Handle handle, const QRN_SocketConfig* config, size_t extraMem) {
  if ((handle & 0xFF) <= HAPIRESMAN || config == nullptr || config->numStackTypes == 0) {
    QRN_ErrorEvent(HAPI_RM_ERR_INVALID_HANDLE, handle);
    return nullptr;
  }
  if (QRN_FindSocket(handle) != nullptr) {
    QRN_ErrorEvent(HAPI_RM_ERR_VHD_ALREADY_OPEN, handle);
    return nullptr;
  }
  const uint16_t numServices = maxServices(config);
  const bool hasIngress = ingressEnabled(config);
  const bool hasEgress = egressEnabled(config);
  size_t size = roundUp8(sizeof(QRN_Socket)) + roundUp8(extraMem) +
                roundUp8(socketHeapBytes(config)) + roundUp8(sizeof(QRN_Service) * numServices);
  if (hasIngress) size += roundUp8(config->ingressNarrowbandMedqHist) + roundUp8(sizeof(QRN_HalfSocket));
  if (hasEgress) size += roundUp8(config->egressNarrowbandMedqHist) + roundUp8(sizeof(QRN_HalfSocket));

  auto* block = static_cast<uint8_t*>(MEM_HeapAllocClear(&QRN_gHapiHeap, size));
  if (block == nullptr) {
    LHAPI_ASSERT_FAIL();
    QRN_ErrorEvent(HAPI_RM_ERR_NO_SOCKET_MEM, handle);
    return nullptr;
  }
  // Carve the block in place: socket, service table, socket heap, then per direction the
  // half-socket and its history.
  uint8_t* p = block;
  auto take = [&p](size_t n) {
    uint8_t* q = p;
    p += roundUp8(n);
    return q;
  };
  auto* socket = reinterpret_cast<QRN_Socket*>(take(sizeof(QRN_Socket)));
  take(extraMem);
  socket->service = reinterpret_cast<QRN_Service*>(take(sizeof(QRN_Service) * numServices));
  socket->numServiceEntries = numServices;
  const size_t heapBytes = socketHeapBytes(config);
  MEM_InitHeap(&socket->socketHeap, take(heapBytes), heapBytes);
  auto carveHalf = [&](uint16_t history) {
    auto* half = reinterpret_cast<QRN_HalfSocket*>(take(sizeof(QRN_HalfSocket)));
    half->mediaQhistory = take(history);
    MEM_InitQueue(&half->dataQ);
    MEM_InitQueue(&half->hostdataQ);
    qrnMarkHostQueued(half->hostdataQueued, false);
    return half;
  };
  socket->ingress = hasIngress ? carveHalf(config->ingressNarrowbandMedqHist) : nullptr;
  socket->egress = hasEgress ? carveHalf(config->egressNarrowbandMedqHist) : nullptr;
  socket->magic = QRN_SOCKET_MAGIC;
  socket->handle = handle;
  socket->config = config;
  MEM_InitQueue(&socket->msgQ);
  MEM_InitQueue(&socket->hostmsgQ);
  qrnMarkHostQueued(socket->hostmsgQueued, false);

  LhapiLockGuard lock;
  socket->next = QRN_gSocketList;
  QRN_gSocketList = socket;
  if (gSocketByLow[handle & 0xFF] == nullptr) gSocketByLow[handle & 0xFF] = socket;
  return socket;
}

void QRN_CloseSocket(QRN_Socket* socket) {
  if (socket == nullptr) return;
  if (socket->currStackArchive != nullptr) {
    for (uint16_t i = 0; i < socket->numServiceEntries; ++i) stopService(socket, &socket->service[i]);
  }
  LhapiLockGuard lock;
  for (QRN_Socket** link = &QRN_gSocketList; *link != nullptr; link = &(*link)->next) {
    if (*link == socket) {
      *link = socket->next;
      break;
    }
  }
  QRN_Socket*& indexed = gSocketByLow[socket->handle & 0xFF];
  if (indexed == socket) {
    indexed = nullptr;
    for (QRN_Socket* s = QRN_gSocketList; s != nullptr; s = s->next) {
      if ((s->handle & 0xFF) == (socket->handle & 0xFF)) indexed = s;
    }
  }
  QRN_FreeLaterBlocks();
  qrnFreeQueue_Unprotected(&socket->msgQ);
  qrnFreeQueue_Unprotected(&socket->hostmsgQ);
  for (QRN_HalfSocket* half : {socket->ingress, socket->egress}) {
    if (half == nullptr) continue;
    qrnFreeQueue_Unprotected(&half->hostdataQ);
    qrnFreeQueue_Unprotected(&half->dataQ);
  }
  if (QRN_gSocketContext.pCurrentSocket == socket) QRN_gSocketContext.pCurrentSocket = nullptr;
  socket->magic = 0;
  MEM_HeapFree(&QRN_gHapiHeap, socket);
}

const QRN_StackArchive* QRN_FindStackArchiveById(const QRN_Socket* socket, QRN_StackType stackId) {
  if (socket == nullptr || socket->config == nullptr) return nullptr;
  for (uint16_t i = 0; i < socket->config->numStackTypes; ++i) {
    if (socket->config->archive[i].stackId == stackId) return &socket->config->archive[i];
  }
  return nullptr;
}

QRN_Service* QRN_FindServiceById(QRN_Socket* socket, HSFSRVID srvId) {
  if (socket == nullptr || socket->currStackArchive == nullptr) return nullptr;
  for (uint16_t i = 0; i < socket->currStackArchive->numServices; ++i) {
    QRN_Service* s = &socket->service[i];
    if (s->archive != nullptr && s->archive->srvId == srvId) return s;
  }
  return nullptr;
}

void QRN_SrvInit(QRN_Socket* socket, QRN_Service* service, const QRN_ServiceArchive* sa) {
  if (socket == nullptr || service == nullptr || sa == nullptr || sa->archive == nullptr) return;
  const HSFSRVARC* arc = sa->archive;
  void* data = nullptr;
  if (arc->instMemSize != 0) {
    data = MEM_HeapAllocClear(&socket->socketHeap, arc->instMemSize);
    if (data == nullptr) {
      // No instance memory: the position stays empty rather than run a service without state.
      LHAPI_ASSERT_FAIL();
      *service = QRN_Service{};
      return;
    }
  }
  service->archive = arc;
  service->parentSvcId = sa->parentSvcId;
  service->serviceData = data;
  asCurrentService(socket, service, [&] {
    if (arc->initFnc != nullptr) arc->initFnc(data);
  });
}

namespace {

// The socket of `handle` and its stack archive `stackId`; reports the first of them that is
// unknown and returns false then.
bool findSocketStack(QRN_Handle handle, QRN_StackType stackId, QRN_Socket** socket,
                     const QRN_StackArchive** stack) {
  *socket = QRN_FindSocket(handle);
  if (*socket == nullptr) {
    QRN_ErrorEvent(HAPI_RM_ERR_INVALID_HANDLE, handle);
    return false;
  }
  *stack = QRN_FindStackArchiveById(*socket, stackId);
  if (*stack == nullptr) {
    QRN_ErrorEvent(HAPI_RM_ERR_UNKNOWN_STACK, stackId);
    return false;
  }
  return true;
}

}  // namespace

void QRN_SocketStartCoreServices(QRN_Handle handle, QRN_StackType stackId) {
  QRN_Socket* socket = nullptr;
  const QRN_StackArchive* stack = nullptr;
  if (!findSocketStack(handle, stackId, &socket, &stack)) return;
  socket->currStackArchive = stack;
  for (uint16_t i = 0; i < stack->numServices && i < socket->numServiceEntries; ++i) {
    if (!stack->srvarc[i].isSwappable) QRN_SrvInit(socket, &socket->service[i], &stack->srvarc[i]);
  }
}

void QRN_SocketStartSwapServices(QRN_Handle handle, QRN_StackType stackId) {
  QRN_Socket* socket = nullptr;
  const QRN_StackArchive* stack = nullptr;
  if (!findSocketStack(handle, stackId, &socket, &stack)) return;
  // Keep the running core services: their instance memory and state survive the switch, possibly
  // at another position of the new stack.
  constexpr size_t kMaxEntries = 32;
  std::array<QRN_Service, kMaxEntries> saved{};
  size_t numSaved = 0;
  const QRN_StackArchive* old = socket->currStackArchive;
  if (old != nullptr) {
    for (uint16_t i = 0; i < old->numServices && i < socket->numServiceEntries; ++i) {
      if (old->srvarc[i].isSwappable || socket->service[i].archive == nullptr) continue;
      if (numSaved == kMaxEntries) {
        LHAPI_ASSERT_FAIL();
        break;
      }
      saved[numSaved++] = socket->service[i];
      socket->service[i] = QRN_Service{};
    }
  }
  socket->currStackArchive = stack;
  for (uint16_t i = 0; i < stack->numServices && i < socket->numServiceEntries; ++i) {
    const QRN_ServiceArchive& sa = stack->srvarc[i];
    if (sa.isSwappable) {
      QRN_SrvInit(socket, &socket->service[i], &sa);
      continue;
    }
    bool found = false;
    for (size_t k = 0; k < numSaved; ++k) {
      if (saved[k].archive == sa.archive) {
        socket->service[i] = saved[k];
        saved[k] = QRN_Service{};
        found = true;
        break;
      }
    }
    if (!found && socket->service[i].archive == nullptr) QRN_SrvInit(socket, &socket->service[i], &sa);
  }
  // A core service that the new stack lacks ends here rather than leak its memory.
  for (size_t k = 0; k < numSaved; ++k) {
    if (saved[k].archive != nullptr) {
      LHAPI_ASSERT_FAIL();
      stopService(socket, &saved[k]);
    }
  }
}

void QRN_SocketStopSwapServices(QRN_Handle handle) {
  QRN_Socket* socket = QRN_FindSocket(handle);
  if (socket == nullptr) {
    QRN_ErrorEvent(HAPI_RM_ERR_INVALID_HANDLE, handle);
    return;
  }
  const QRN_StackArchive* stack = socket->currStackArchive;
  if (stack == nullptr) return;
  for (int i = static_cast<int>(stack->numServices) - 1; i >= 0; --i) {
    if (i >= socket->numServiceEntries || !stack->srvarc[i].isSwappable) continue;
    stopService(socket, &socket->service[i]);
  }
}

uint16_t QRN_SocketStackSwitch(QRN_Handle handle, QRN_StackType stackId) {
  QRN_Socket* socket = QRN_FindSocket(handle);
  if (socket == nullptr) {
    QRN_ErrorEvent(HAPI_RM_ERR_INVALID_HANDLE, handle);
    return 0;
  }
  const uint16_t frameSize = socket->config->archive[0].framesize;
  if (socket->currStackArchive != nullptr && socket->currStackArchive->stackId == stackId) {
    return frameSize;
  }
  if (QRN_FindStackArchiveById(socket, stackId) == nullptr) {
    QRN_ErrorEvent(HAPI_RM_ERR_UNKNOWN_STACK, stackId);
    return 0;
  }
  QRN_SocketStopSwapServices(handle);
  QRN_SocketStartSwapServices(handle, stackId);
  QRN_QueueStdObdMsg(HAPIRESMAN, HAPI_RM_SET_FRAMESIZE_CMD, handle, frameSize, HAPI_NO_RESP_SRV,
                     HAPI_RM_SRV, 0, 0);
  return frameSize;
}
