// Conference points: sending a direction's audio as 40-sample blocks and mixing what peers sent.
#include "conf.h"

#include <array>
#include <span>

#include "lhapi.h"
#include "qrn/qrn.h"
#include "qrn/qrn_internal.h"
#include "vhd/vhd_rest_hooks.h"

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

// This frame's sources of one band. Entries are taken in order and none is given back within the
// frame, so the taken ones are a prefix of the list and only that prefix is searched. Only the
// entries up to the first free one are ever read, so only that one is set free ahead of its use.
struct SourceList {
  CONF_SRC_LIST entry[CONF_NUM_SOURCES];
  unsigned taken = 0;
  SourceList() { entry[0] = CONF_SRC_LIST{HAPIVHD_INVALID, 0}; }
};

// The entry of `handle` in the list, taking the first free one for a new source; none when the
// list is full (that source is ignored this frame). A handle equal to the free marker finds the
// first free entry and leaves it free, as a search of the whole list would.
CONF_SRC_LIST* sourceEntry(SourceList& list, uint16_t handle) {
  for (unsigned i = 0; i < list.taken; ++i) {
    if (list.entry[i].handle == handle) return &list.entry[i];
  }
  if (list.taken == CONF_NUM_SOURCES) return nullptr;
  CONF_SRC_LIST* free = &list.entry[list.taken];
  if (handle == HAPIVHD_INVALID) return free;
  *free = CONF_SRC_LIST{handle, 0};
  list.taken += 1;
  if (list.taken < CONF_NUM_SOURCES) list.entry[list.taken] = CONF_SRC_LIST{HAPIVHD_INVALID, 0};
  return free;
}

// Takes every waiting in-band block of the band's type into the band's queue. The message
// record that brought a block is kept as the queue element. Caller holds the lock.
void collectBand(CONFINSTANCEMEM* inst, int band, SourceList& list) {
  while (QRN_SocketMsg* held = hsfIbdTakeMsg_Unprotected(kBandMask[band])) {
    const HSFMSG m = held->msg;
    const bool ownsBlock = (held->msgFlags & QRN_MsgFlagBufNeedsFree) && m.ext.bufp != nullptr;
    if (!ownsBlock) LHAPI_ASSERT_FAIL();  // only framework blocks are mixed
    if (HAPI_OPCODE_IS_STD(m.std.header) || m.ext.bufp == nullptr) {
      held->msgFlags &= ~QRN_MsgFlagBufNeedsFree;
      QRN_FreeSocketMsg_Unprotected(held);
      continue;
    }
    held->id = QRN_MsgId{};
    held->userTag = 0;
    held->msgFlags = QRN_MsgFlagBufNeedsFree | QRN_MsgFlagExtDataWithSrcHeader;
    held->handle = QRN_ExtHeaderOf(m.ext.bufp)->srcHandle;
    if (sourceEntry(list, held->handle) == nullptr) {
      QRN_FreeSocketMsg_Unprotected(held);  // more peers than the list holds
      continue;
    }
    MEM_QueueEnq_Unprotected(&inst->queue[band], held);
  }
}

void mixBand(CONFINSTANCEMEM* inst, int band, int16_t* samples, unsigned frameSamples) {
  // One hold of the lock for the whole band: for the half-socket's queue the blocks are taken
  // from and the pools the mixed ones go back to.
  LhapiLockGuard lock;
  SourceList list;
  collectBand(inst, band, list);
  QMQUEUE* queue = &inst->queue[band];
  const uint32_t waiting = MEM_QueueCount(queue);
  for (uint32_t i = 0; i < waiting; ++i) {
    auto* held = static_cast<QRN_SocketMsg*>(MEM_QueueDeq_Unprotected(queue));
    if (held == nullptr) break;
    CONF_SRC_LIST* src = sourceEntry(list, held->handle);
    if (src == nullptr) {
      QRN_FreeSocketMsg_Unprotected(held);
      continue;
    }
    if (src->offset >= frameSamples) {
      MEM_QueueEnq_Unprotected(queue, held);  // this source filled the frame: next frame
      continue;
    }
    unsigned n = held->msg.ext.length / 2u;
    if (n > CONF_BLOCK_SAMPLES) n = CONF_BLOCK_SAMPLES;
    hsfMedqAdd(samples + src->offset, static_cast<const int16_t*>(held->msg.ext.bufp), n);
    src->offset = static_cast<uint16_t>(src->offset + CONF_BLOCK_SAMPLES);
    LHAPI_ASSERT(src->offset <= frameSamples);
    QRN_FreeSocketMsg_Unprotected(held);
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
  // The frame's blocks of both bands go out together (a long frame in several batches): one hold
  // of the lock, and the switchboard asked once about a band it drops.
  std::array<QRN_IbdBlock, 12> blocks;
  unsigned count = 0;
  const unsigned frame = hsfFrmPeriodGet();
  for (int band = HSF_MEDQ_LOWBAND; band <= HSF_MEDQ_HIGHBAND; ++band) {
    const int16_t* samples = bandSamples(band);
    if (samples == nullptr) continue;
    const unsigned total = band == HSF_MEDQ_HIGHBAND ? 2 * frame : frame;
    for (unsigned off = 0; off + CONF_BLOCK_SAMPLES <= total; off += CONF_BLOCK_SAMPLES) {
      if (count == blocks.size()) {
        hsfIbdSendAllocMsgs(blocks, CONF_BLOCK_SAMPLES * 2);
        count = 0;
      }
      blocks[count++] = QRN_IbdBlock{kBandMask[band], samples + off};
    }
  }
  hsfIbdSendAllocMsgs(std::span(blocks.data(), count), CONF_BLOCK_SAMPLES * 2);
}

void confRecv(HSFSRVOBJ service) {
  auto* inst = static_cast<CONFINSTANCEMEM*>(service);
  if (inst == nullptr) return;
  // With no in-band message present when the service started (the only ones it may take) and no
  // block held back from an earlier frame, a band mixes nothing: an idle line's frame costs no lock.
  const QRN_Socket* socket = QRN_CurrentSocket();
  const bool nothingArrived = socket != nullptr && socket->numIBDmessages == 0;
  const unsigned frame = hsfFrmPeriodGet();
  for (int band = HSF_MEDQ_LOWBAND; band <= HSF_MEDQ_HIGHBAND; ++band) {
    int16_t* samples = bandSamples(band);
    if (samples == nullptr || (nothingArrived && inst->queue[band].headPtr == nullptr)) continue;
    mixBand(inst, band, samples, band == HSF_MEDQ_HIGHBAND ? 2 * frame : frame);
  }
}

// With no block waiting, the receiving side mixes nothing; what the sending side puts out goes
// nowhere on a channel off the switchboard, which the framework checks.
uint32_t confRestRuns(HSFSRVOBJ service, HAPI_DIRECTION) {
  const auto* inst = static_cast<const CONFINSTANCEMEM*>(service);
  const bool idle = inst != nullptr && inst->queue[0].headPtr == nullptr && inst->queue[1].headPtr == nullptr;
  return idle ? VHD_REST_UNBOUNDED : 0;
}
