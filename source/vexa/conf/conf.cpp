// Conference points: sending a direction's audio as 40-sample blocks and mixing what peers sent.
#include "conf.h"

#include "lhapi.h"
#include "qrn/qrn.h"

const HSFSRVARC conftosarc = {HAPI_CONF_TOS_SRV, sizeof(CONFINSTANCEMEM), nullptr, confSend,
                              confRecv,          confInit,                confExit};
const HSFSRVARC confbosarc = {HAPI_CONF_BOS_SRV, sizeof(CONFINSTANCEMEM), nullptr, confRecv,
                              confSend,          confInit,                confExit};

namespace {

constexpr HSF_IBD_MASK kBandMask[2] = {HSF_IBD_NARROWBAND, HSF_IBD_HIGHBAND};

int16_t* bandSamples(int band) {
  QRN_Socket* socket = QRN_CurrentSocket();
  return socket != nullptr ? socket->memDesc[band] : nullptr;
}

// The entry of `handle` in the list, taking the first free one for a new source; none when the
// list is full (that source is ignored this frame).
CONF_SRC_LIST* sourceEntry(CONF_SRC_LIST* list, uint16_t handle) {
  CONF_SRC_LIST* free = nullptr;
  for (unsigned i = 0; i < CONF_NUM_SOURCES; ++i) {
    if (list[i].handle == handle) return &list[i];
    if (free == nullptr && list[i].handle == HAPIVHD_INVALID) free = &list[i];
  }
  if (free != nullptr) *free = CONF_SRC_LIST{handle, 0};
  return free;
}

// Takes every waiting in-band block of the band's type into the band's queue.
void collectBand(CONFINSTANCEMEM* inst, int band, CONF_SRC_LIST* list) {
  HSFMSG m{};
  while (hsfIbdPeekOrRecv(kBandMask[band], &m, 0, HSF_IBD_RECEIVE_NOT_FREE) != 0) {
    if (HAPI_OPCODE_IS_STD(m.std.header) || m.ext.bufp == nullptr) continue;
    QRN_SocketMsg* held = QRN_AllocSocketMsg();
    if (held == nullptr) {
      QRN_FreeExtMsg(m.ext.bufp);
      continue;
    }
    held->msg = m;
    held->msgFlags = QRN_MsgFlagBufNeedsFree | QRN_MsgFlagExtDataWithSrcHeader;
    held->handle = QRN_ExtHeaderOf(m.ext.bufp)->srcHandle;
    if (sourceEntry(list, held->handle) == nullptr) {
      QRN_FreeSocketMsg(held);  // more peers than the list holds
      continue;
    }
    MEM_QueueEnq(&inst->queue[band], held);
  }
}

void mixBand(CONFINSTANCEMEM* inst, int band, int16_t* samples, unsigned frameSamples) {
  CONF_SRC_LIST list[CONF_NUM_SOURCES];
  for (auto& e : list) e = CONF_SRC_LIST{HAPIVHD_INVALID, 0};
  collectBand(inst, band, list);
  const uint32_t waiting = MEM_QueueCount(&inst->queue[band]);
  for (uint32_t i = 0; i < waiting; ++i) {
    auto* held = static_cast<QRN_SocketMsg*>(MEM_QueueDeq(&inst->queue[band]));
    if (held == nullptr) break;
    CONF_SRC_LIST* src = sourceEntry(list, held->handle);
    if (src == nullptr) {
      QRN_FreeSocketMsg(held);
      continue;
    }
    if (src->offset >= frameSamples) {
      MEM_QueueEnq(&inst->queue[band], held);  // this source filled the frame: next frame
      continue;
    }
    unsigned n = held->msg.ext.length / 2u;
    if (n > CONF_BLOCK_SAMPLES) n = CONF_BLOCK_SAMPLES;
    hsfMedqAdd(samples + src->offset, static_cast<const int16_t*>(held->msg.ext.bufp), n);
    src->offset = static_cast<uint16_t>(src->offset + CONF_BLOCK_SAMPLES);
    LHAPI_ASSERT(src->offset <= frameSamples);
    QRN_FreeSocketMsg(held);
  }
}

}  // namespace

HAPIRESULT confInit(HSFSRVOBJ service) {
  auto* inst = static_cast<CONFINSTANCEMEM*>(service);
  if (inst == nullptr) return HAPIFAILURE;
  MEM_InitQueue(&inst->queue[HSF_MEDQ_LOWBAND]);
  MEM_InitQueue(&inst->queue[HSF_MEDQ_HIGHBAND]);
  return HAPISUCCESS;
}

void confExit(HSFSRVOBJ service) {
  auto* inst = static_cast<CONFINSTANCEMEM*>(service);
  if (inst == nullptr) return;
  for (QMQUEUE& q : inst->queue) {
    while (auto* held = static_cast<QRN_SocketMsg*>(MEM_QueueDeq(&q))) QRN_FreeSocketMsg(held);
  }
}

void confSend(HSFSRVOBJ) {
  const unsigned frame = hsfFrmPeriodGet();
  for (int band = HSF_MEDQ_LOWBAND; band <= HSF_MEDQ_HIGHBAND; ++band) {
    const int16_t* samples = bandSamples(band);
    if (samples == nullptr) continue;
    const unsigned total = band == HSF_MEDQ_HIGHBAND ? 2 * frame : frame;
    for (unsigned off = 0; off + CONF_BLOCK_SAMPLES <= total; off += CONF_BLOCK_SAMPLES) {
      hsfIbdSendAllocMsg(kBandMask[band], CONF_BLOCK_SAMPLES * 2, samples + off);
    }
  }
}

void confRecv(HSFSRVOBJ service) {
  auto* inst = static_cast<CONFINSTANCEMEM*>(service);
  if (inst == nullptr) return;
  const unsigned frame = hsfFrmPeriodGet();
  for (int band = HSF_MEDQ_LOWBAND; band <= HSF_MEDQ_HIGHBAND; ++band) {
    int16_t* samples = bandSamples(band);
    if (samples == nullptr) continue;
    mixBand(inst, band, samples, band == HSF_MEDQ_HIGHBAND ? 2 * frame : frame);
  }
}
