// VHD slots: open, close, frame size and mode.
#include <cstring>

#include "cfg/vhd_cfg.h"
#include "knl/knl.h"
#include "lhapi.h"
#include "qrn/qrn_internal.h"
#include "swb/swb.h"
#include "vhd.h"

const VHD_Archive* VHD_gArchive = VHD_gDefaultArchive;
uint16_t VHD_gNumArchives = VHD_NUM_DEFAULT_ARCHIVES;
VHD_Instance VHD_gInstance[VHD_NUM_INSTANCES];
const uint16_t VHD_gNumInstances = VHD_NUM_INSTANCES;
QRN_IbdCallback VHD_gIbdSend = nullptr;

namespace {

VHD_Instance freeSlot() {
  return VHD_Instance{VHD_INSTANCE_MAGIC, nullptr, nullptr, VHD_Skipped{}, {0, 0}, {0, 0},
                      {0, 0}, {0, 0}, VHD_RestlessMark{}, VHD_RestfulMark{}};
}

QRN_HalfSocket* halfOf(QRN_Socket* socket, HAPI_DIRECTION direction) {
  return direction == HAPI_DIRECTION_EGRESS ? socket->egress : socket->ingress;
}

KNL_ThreadPriority threadPriority(uint16_t level, uint16_t frameSize, HAPI_DIRECTION direction) {
  const int base = (level + 1) * 256;
  return static_cast<KNL_ThreadPriority>(direction == HAPI_DIRECTION_EGRESS ? base - frameSize
                                                                            : -base - frameSize);
}

KNL_Thread* newThread(VHD_Instance* slot, KNL_ThreadFunc body) {
  auto* thread = static_cast<KNL_Thread*>(MEM_HeapAllocClear(&QRN_gHapiHeap, sizeof(KNL_Thread)));
  if (thread == nullptr) return nullptr;
  KNL_InitThread(thread, body, slot);
  thread->newSamples = KNL_NEWSAMPLES_PER_TICK;
  return thread;
}

void releaseThread(QRN_HalfSocket* half) {
  if (half == nullptr || half->thread == nullptr) return;
  KNL_TermThread(half->thread);
  MEM_HeapFree(&QRN_gHapiHeap, half->thread);
  half->thread = nullptr;
}

}  // namespace

void VHD_Init(QRN_IbdCallback ibdSendCallback) {
  VHD_gIbdSend = ibdSendCallback;
  for (auto& slot : VHD_gInstance) slot = freeSlot();
  KNL_SetBodyQuickRun(VHD_IngressThread, VHD_IngressRestingRun);
  KNL_SetBodyQuickRun(VHD_EgressThread, VHD_EgressRestingRun);
}

const VHD_Archive* VHD_FindArchive(uint16_t type) {
  for (uint16_t i = 0; i < VHD_gNumArchives; ++i) {
    if (VHD_gArchive[i].archiveType == type) return &VHD_gArchive[i];
  }
  return nullptr;
}

VHD_Instance* VHD_GetInstance(QRN_Handle handle) {
  for (auto& slot : VHD_gInstance) {
    if (slot.socket != nullptr && slot.socket->handle == handle) return &slot;
  }
  return nullptr;
}

VHD_Instance* VHD_FindAvailableInstance() {
  for (auto& slot : VHD_gInstance) {
    if (slot.socket == nullptr) return &slot;
  }
  return nullptr;
}

uint16_t VHD_GetNumInstances() { return VHD_gNumInstances; }

int VHD_OpenInstance(QRN_Handle handle, uint16_t type) {
  const VHD_Archive* archive = VHD_FindArchive(type);
  if (archive == nullptr) {
    QRN_ErrorEvent(HAPI_RM_ERR_UNKNOWN_VHD, type);
    return 0;
  }
  if (VHD_GetInstance(handle) != nullptr) {
    QRN_ErrorEvent(HAPI_RM_ERR_VHD_ALREADY_OPEN, handle);
    return 0;
  }
  VHD_Instance* slot = VHD_FindAvailableInstance();
  if (slot == nullptr) {
    QRN_ErrorEvent(HAPI_RM_ERR_VHD_OPEN_FAILED, handle);
    return 0;
  }
  const QRN_SocketConfig* config = archive->pSocketConfig;
  QRN_Socket* socket = QRN_CreateSocket(handle, config, 0);
  if (socket == nullptr) {
    QRN_ErrorEvent(HAPI_RM_ERR_VHD_OPEN_FAILED, handle);
    return 0;
  }
  slot->archive = archive;
  slot->socket = socket;
  if (socket->ingress != nullptr) socket->ingress->thread = newThread(slot, VHD_IngressThread);
  if (socket->egress != nullptr) socket->egress->thread = newThread(slot, VHD_EgressThread);
  if ((socket->ingress != nullptr && socket->ingress->thread == nullptr) ||
      (socket->egress != nullptr && socket->egress->thread == nullptr)) {
    // No memory for a thread record: undo the open instead of running half a channel.
    releaseThread(socket->ingress);
    releaseThread(socket->egress);
    QRN_CloseSocket(socket);
    *slot = freeSlot();
    QRN_ErrorEvent(HAPI_RM_ERR_VHD_OPEN_FAILED, handle);
    return 0;
  }
  QRN_Socket* savedSocket = QRN_gSocketContext.pCurrentSocket;
  QRN_gSocketContext.pCurrentSocket = socket;
  QRN_SocketStartCoreServices(handle, config->defaultStackId);
  QRN_SocketStartSwapServices(handle, config->defaultStackId);
  QRN_gSocketContext.pCurrentSocket = savedSocket;

  const uint16_t frameSize = config->archive[0].framesize;
  const uint16_t mode =
      (config->vhdOpt & HAPI_VHDOPT_DEFAULT_WIDEBAND) ? QRN_WIDEBAND_MODE : QRN_NARROWBAND_MODE;
  VHD_SetIngressFrameSizeAndMode(handle, frameSize, mode);
  VHD_SetEgressFrameSizeAndMode(handle, frameSize, mode);
  return 1;
}

void VHD_CloseInstance(QRN_Handle handle) {
  VHD_Instance* slot = VHD_GetInstance(handle);
  if (slot == nullptr) {
    QRN_ErrorEvent(HAPI_RM_ERR_UNKNOWN_VHD, handle);
    return;
  }
  LhapiLockGuard lock;
  QRN_Socket* socket = slot->socket;
  VHD_SetIngressFrameSizeAndMode(handle, 0, VHD_MODE_KEEP);
  VHD_SetEgressFrameSizeAndMode(handle, 0, VHD_MODE_KEEP);
  SWB_RemoveHandle(handle);
  releaseThread(socket->ingress);
  releaseThread(socket->egress);
  QRN_CloseSocket(socket);
  *slot = freeSlot();
}

int16_t* VHD_CalcHighBandMedqPtr(int16_t* lowBand, uint16_t mediaSize, uint16_t frameSize,
                                 uint16_t history, uint16_t mode) {
  if (lowBand == nullptr || mode != QRN_WIDEBAND_MODE) return nullptr;
  const int room = (mediaSize + 1) / 2 - (frameSize + (history + 1) / 2);
  if (room < 2 * frameSize) return nullptr;
  return lowBand + frameSize;
}

void VHD_SetFrameSizeAndMode(QRN_Handle handle, uint16_t frameSize, uint16_t mode,
                             HAPI_DIRECTION direction) {
  VHD_Instance* slot = VHD_GetInstance(handle);
  if (slot == nullptr) {
    QRN_ErrorEvent(HAPI_RM_ERR_INVALID_HANDLE, handle);
    return;
  }
  QRN_Socket* socket = slot->socket;
  QRN_HalfSocket* half = halfOf(socket, direction);
  if (half == nullptr) return;
  LhapiLockGuard lock;
  qrnNoteActivity(socket);
  if (mode != VHD_MODE_KEEP) half->mode = mode;
  if (frameSize == 0) {
    half->recvMask = 0;
  } else {
    const QRN_SocketConfig* config = socket->config;
    half->recvMask = direction == HAPI_DIRECTION_EGRESS ? config->tosRecvMask : config->bosRecvMask;
    if (half->mode == QRN_NARROWBAND_MODE) half->recvMask &= ~HSF_IBD_HIGHBAND;
  }
  uint16_t effective = frameSize;
  if (frameSize == VHD_FRAMESIZE_RESTORE) {
    if (half->frameSize != 0) return;
    effective = half->savedframeSize;
  } else if (frameSize == 0) {
    if (half->frameSize == 0) return;
    half->savedframeSize = half->frameSize;
  }
  if (effective % 40 != 0) LHAPI_ASSERT_FAIL();
  KNL_Thread* thread = half->thread;
  if (thread != nullptr) {
    const KNL_ThreadPriority priority = threadPriority(slot->archive->level, effective, direction);
    if (thread == KNL_GetActiveThread()) {
      // From the thread's own body: applied after the body returns.
      thread->requestSet |= KNL_REQUEST_FRAMESIZE;
      thread->requestFrameSizeValue = effective;
      if (effective != 0) {
        thread->requestSet |= KNL_REQUEST_PRIORITY;
        thread->requestPriorityValue = priority;
      }
    } else {
      KNL_SetThreadFrameSize(thread, effective);
      if (effective != 0) KNL_SetThreadPriority_Unprotected(thread, priority);
    }
  }
  half->frameSize = effective;
  if (socket == QRN_CurrentSocket() && direction == QRN_gSocketContext.currentDirection &&
      socket->memDesc[HSF_MEDQ_LOWBAND] != nullptr) {
    const QRN_SocketConfig* config = socket->config;
    const bool egress = direction == HAPI_DIRECTION_EGRESS;
    socket->memDesc[HSF_MEDQ_HIGHBAND] = VHD_CalcHighBandMedqPtr(
        socket->memDesc[HSF_MEDQ_LOWBAND], egress ? config->egressMediaQSize : config->ingressMediaQSize,
        effective, egress ? config->egressNarrowbandMedqHist : config->ingressNarrowbandMedqHist,
        half->mode);
    vhdMediaClearRest();
  }
}

void VHD_SetIngressFrameSizeAndMode(QRN_Handle handle, uint16_t frameSize, uint16_t mode) {
  VHD_SetFrameSizeAndMode(handle, frameSize, mode, HAPI_DIRECTION_INGRESS);
}

void VHD_SetEgressFrameSizeAndMode(QRN_Handle handle, uint16_t frameSize, uint16_t mode) {
  VHD_SetFrameSizeAndMode(handle, frameSize, mode, HAPI_DIRECTION_EGRESS);
}
