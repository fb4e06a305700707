// HAL shim: ingress blocks, egress playout with underrun reports, and the flush command ring.
#include <atomic>
#include <cstring>

#include "halshim.h"
#include "knl/knl.h"
#include "lhapi.h"
#include "qrn/qrn_internal.h"

HALSHIM_CONFIG gHalShimConfigs[HALSHIM_NUM_PORTS];
HALSHIM_DEVICE gHalShimDevices[HALSHIM_NUM_PORTS];
HALSHIM_COMMAND_BUFFER gHalShimCommandBuffer;
QRN_IbdCallback gHalShimIbdCallback = nullptr;

namespace {

// Whether the command ring may hold commands: set and cleared under the lock with the ring, read
// without it by the tick, which then takes the lock only for a ring that has something.
std::atomic<bool> gCommandsQueued{false};

// Frame entries since the last frame sync, as the frame-entry code counts them.
uint16_t frameEntryStamp() {
  return static_cast<uint16_t>((gKnlFrameSyncCount & 0xF) | (KNL_gGlobals.frameSyncCount << 4));
}

void clearEgress_Unprotected(HALSHIM_EGRESS& eg) {
  eg.underrunCheck = 0;
  while (auto* msg = static_cast<QRN_SocketMsg*>(MEM_QueueDeq_Unprotected(&eg.dataQ))) {
    QRN_FreeSocketMsg_Unprotected(msg);
  }
  if (eg.buffer != nullptr) {
    QRN_FreeSocketMsg_Unprotected(eg.buffer);
    eg.buffer = nullptr;
  }
  eg.readIdx = 0;
}

bool knlRunsNormally() { return (KNL_gGlobals.cpuStatus & KNL_INGRESS_OVERRUN_RESET) != 0; }

// A port's configuration is written by the host's thread (channel set-up and close) while the tick
// thread reads it: each field is one relaxed atomic word, read into a copy for one frame.
template <typename T>
void storeRelaxed(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}
template <typename T>
T loadRelaxed(T& field) {
  return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}

HALSHIM_CONFIG loadConfig(unsigned port) {
  HALSHIM_CONFIG& live = gHalShimConfigs[port];
  HALSHIM_CONFIG cfg{};
  cfg.halShimQrnHandle = loadRelaxed(live.halShimQrnHandle);
  cfg.isEnabled = loadRelaxed(live.isEnabled);
  cfg.mask = loadRelaxed(live.mask);
  cfg.frameSamples = loadRelaxed(live.frameSamples);
  return cfg;
}

}  // namespace

void halShimInit() {
  LhapiLockGuard lock;
  // Blocks still listed from an earlier start belong to pools that are being set up again: they
  // are forgotten, not freed.
  for (auto& dev : gHalShimDevices) {
    dev = HALSHIM_DEVICE{};
    MEM_InitQueue(&dev.egressPort.dataQ);
  }
  gHalShimCommandBuffer = HALSHIM_COMMAND_BUFFER{};
  gCommandsQueued.store(false, std::memory_order_release);
}

void halShimSetIbdCallback(QRN_IbdCallback callback) { gHalShimIbdCallback = callback; }

int halShimCfgDevice(unsigned port, int enable, int wideband) {
  if (port >= HALSHIM_NUM_PORTS) return -1;
  HALSHIM_CONFIG& cfg = gHalShimConfigs[port];
  storeRelaxed(cfg.halShimQrnHandle, static_cast<uint16_t>(port));
  storeRelaxed(cfg.isEnabled, static_cast<uint16_t>(enable ? 1 : 0));
  storeRelaxed(cfg.mask, static_cast<HSF_IBD_MASK>(wideband ? HSF_IBD_HIGHBAND : HSF_IBD_NARROWBAND));
  storeRelaxed(cfg.frameSamples, static_cast<uint16_t>(wideband ? 80 : 40));
  return 0;
}

void halShimIngress(const int16_t* samples, unsigned port) {
  if (port >= HALSHIM_NUM_PORTS || samples == nullptr) return;
  const HALSHIM_CONFIG cfg = loadConfig(port);
  HALSHIM_INGRESS& in = gHalShimDevices[port].ingressPort;
  const unsigned n = cfg.frameSamples <= HALSHIM_MAX_FRAME_SAMPLES ? cfg.frameSamples : 0;
  std::memcpy(in.buffer, samples, n * sizeof(int16_t));
  in.writeIdx = static_cast<uint16_t>(n);
  if (knlRunsNormally()) {
    for (unsigned start = 0; start + HALSHIM_BLOCK_SAMPLES <= n; start += HALSHIM_BLOCK_SAMPLES) {
      qrnOfferIbdCopy(gHalShimIbdCallback, cfg.halShimQrnHandle, 0, cfg.mask,
                      QRN_MsgFlagHostMsg | QRN_MsgFlagIbdIngress, &in.buffer[start],
                      HALSHIM_BLOCK_SAMPLES * 2);
    }
  }
  in.writeIdx = 0;
}

bool halShimPlaysBand(unsigned port, HSF_IBD_MASK mask) {
  if (port >= HALSHIM_NUM_PORTS) return false;
  const HALSHIM_CONFIG cfg = loadConfig(port);
  return cfg.isEnabled && (mask & cfg.mask) != 0;
}

void halShimQueueEgressData(unsigned port, QRN_SocketMsg* msg) {
  if (!halShimPlaysBand(port, msg->id.mask)) {
    QRN_FreeSocketMsg_Unprotected(msg);
    return;
  }
  MEM_QueueEnq_Unprotected(&gHalShimDevices[port].egressPort.dataQ, msg);
}

void halShimEgress(int16_t* out, unsigned port) {
  if (port >= HALSHIM_NUM_PORTS || out == nullptr) return;
  const HALSHIM_CONFIG cfg = loadConfig(port);
  HALSHIM_EGRESS& eg = gHalShimDevices[port].egressPort;
  if (KNL_gGlobals.cpuStatus & KNL_INGRESS_OVERRUN_FLUSH) {
    halShimSendFlushInfo(port, HALSHIM_FLUSH_CMD, 0);
  }
  const unsigned frame = cfg.frameSamples <= HALSHIM_MAX_FRAME_SAMPLES ? cfg.frameSamples : 0;
  const unsigned step = frame < HALSHIM_BLOCK_SAMPLES ? frame : HALSHIM_BLOCK_SAMPLES;
  if (step == 0) return;
  bool frameStart = true;
  for (unsigned done = 0; done < frame; done += step) {
    bool usedUp = false;
    {
      LhapiLockGuard lock;
      if (eg.buffer != nullptr && eg.readIdx >= HALSHIM_BLOCK_SAMPLES) {
        QRN_FreeSocketMsg_Unprotected(eg.buffer);
        eg.buffer = nullptr;
        eg.underrunCheck = 1;
        usedUp = true;
      }
      if (frameStart || usedUp) {
        if (eg.dataQ.count != 0) {
          if (eg.buffer != nullptr) {
            LHAPI_ASSERT_FAIL();
          } else {
            eg.buffer = static_cast<QRN_SocketMsg*>(MEM_QueueDeq_Unprotected(&eg.dataQ));
            eg.readIdx = 0;
          }
        }
      }
    }
    frameStart = false;
    if (eg.buffer == nullptr && eg.dataQ.count == 0 && eg.underrunCheck && knlRunsNormally()) {
      halShimSendFlushInfo(port, HALSHIM_UNDERRUN_NOTICE, static_cast<uint16_t>(step));
      QRN_SendStdMsgToHost(HAPIRESMAN, HAPI_RM_HAL_UNDERRUN_EVT, cfg.halShimQrnHandle,
                           frameEntryStamp(), HAPI_RM_SRV, HAPI_HOST_SRV, 0, QRN_MsgFlagObd);
      eg.underrunCheck = 0;
    }
    const int16_t* src = nullptr;
    if (eg.buffer != nullptr && eg.buffer->msg.ext.bufp != nullptr) {
      const unsigned available = eg.buffer->msg.ext.length / 2u;
      if (eg.readIdx + step <= available) {
        src = static_cast<const int16_t*>(eg.buffer->msg.ext.bufp) + eg.readIdx;
      }
    }
    if (src != nullptr) {
      std::memcpy(out + done, src, step * sizeof(int16_t));
    } else {
      std::memset(out + done, 0, step * sizeof(int16_t));
    }
    if (eg.buffer != nullptr) eg.readIdx = static_cast<uint16_t>(eg.readIdx + step);
  }
}

void halShimSendFlushInfo(unsigned port, uint16_t header, uint16_t info) {
  if (port >= HALSHIM_NUM_PORTS) return;
  const HALSHIM_CONFIG cfg = loadConfig(port);
  QRN_SocketMsg* msg = QRN_AllocSocketMsg();
  if (msg != nullptr) {
    msg->msg.std = HSFMSGSTD{header, info, frameEntryStamp()};
    msg->id.mask = HSF_IBD_ECAN_INPUT;
    msg->msgFlags = QRN_MsgFlagIbdIngress;
    if (gHalShimIbdCallback == nullptr || !gHalShimIbdCallback(cfg.halShimQrnHandle, msg)) {
      QRN_FreeSocketMsg(msg);
    }
  }
  if (header == HALSHIM_FLUSH_CMD) {
    LhapiLockGuard lock;
    clearEgress_Unprotected(gHalShimDevices[port].egressPort);
  }
}

HAPIRESULT halShimProcessMessageInRm(QRN_SocketMsg* msg, int, int) {
  if (msg == nullptr) return HAPIFAILURE;
  const unsigned port = msg->id.srv.target & 0xFF;
  LhapiLockGuard lock;
  HALSHIM_COMMAND_BUFFER& ring = gHalShimCommandBuffer;
  if (port >= HALSHIM_NUM_PORTS || msg->msg.std.header != HALSHIM_FLUSH_CMD || ring.full) {
    return HAPIFAILURE;
  }
  ring.msg[ring.writeIndex] = *msg;
  ring.msg[ring.writeIndex].msgFlags &= ~QRN_MsgFlagBufNeedsFree;  // the ring holds no blocks
  ring.writeIndex = static_cast<uint8_t>((ring.writeIndex + 1) % HALSHIM_CMD_RING_SIZE);
  if (ring.writeIndex == ring.readIndex) ring.full = 1;
  gCommandsQueued.store(true, std::memory_order_release);
  return HAPISUCCESS;
}

void halShimProcessMessageInHal(const QRN_SocketMsg* msg) {
  if (msg == nullptr || msg->msg.std.header != HALSHIM_FLUSH_CMD) return;
  halShimSendFlushInfo(msg->id.srv.target & 0xFF, HALSHIM_FLUSH_CMD, 0);
}

void halShimProcessMessagesInHal() {
  HALSHIM_COMMAND_BUFFER& ring = gHalShimCommandBuffer;
  if (!gCommandsQueued.load(std::memory_order_acquire)) return;
  for (;;) {
    QRN_SocketMsg msg;
    {
      LhapiLockGuard lock;
      if (!ring.full && ring.readIndex == ring.writeIndex) {
        gCommandsQueued.store(false, std::memory_order_relaxed);
        return;
      }
      msg = ring.msg[ring.readIndex];
      ring.readIndex = static_cast<uint8_t>((ring.readIndex + 1) % HALSHIM_CMD_RING_SIZE);
      ring.full = 0;
    }
    halShimProcessMessageInHal(&msg);
  }
}
