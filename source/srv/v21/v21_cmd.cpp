// Commands of the V.21 service.
#include <cstring>

#include "lhapi.h"
#include "v21.h"

void v21Enable(V21LOCLMEM* m);
void v21Disable(V21LOCLMEM* m);

namespace {

constexpr HAPIRESULT kRefused = -1;
constexpr uint16_t kRegWords = sizeof(HSZV21REGS) / 2;

bool enabled(const V21LOCLMEM* m) { return (m->hsxstatus & V21_STATUS_ENABLED) != 0; }

HAPIRESULT setIdlePattern(V21LOCLMEM* m, const HSFMSGEXT& e) {
  // The framework copies `length` bytes of an extended command, so the pattern's words are the
  // bytes it carries, two to a word: reading words past them would read what the host never sent.
  if ((e.length & 1) != 0 || e.length == 0 || e.length > 10 || e.bufp == nullptr) return kRefused;
  const uint16_t words = static_cast<uint16_t>(e.length / 2);
  uint16_t pattern[5] = {};
  std::memcpy(pattern, e.bufp, words * 2u);
  if (pattern[0] > 16u * (words - 1u)) return kRefused;  // more bits than the words carry
  const uint16_t inactive = static_cast<uint16_t>((m->v21zIdlePtn.activePtn ^ 1) & 1);
  std::memcpy(m->v21zIdlePtn.idlePtn[inactive], pattern, sizeof(pattern));
  m->v21zIdlePtn.activePtn = inactive;
  return 0;
}

// T1: the bits go into blocks of at most 48, each packed onto the transmit queue.
HAPIRESULT queueTxData(V21LOCLMEM* m, const HSFMSGEXT& e) {
  if (e.bufp == nullptr || e.length < 2) return kRefused;
  uint16_t count;
  std::memcpy(&count, e.bufp, 2);
  // the bit count may not reach beyond the bytes the command carries
  if (count > static_cast<uint32_t>(e.length - 2) * 8u) return kRefused;
  const auto* bytes = static_cast<const uint8_t*>(e.bufp) + 2;
  HSZV21TX& tx = m->hsxv21tx;
  uint32_t done = 0;
  while (done < count) {
    const uint16_t n = static_cast<uint16_t>(count - done > 48 ? 48 : count - done);
    auto* block = static_cast<uint16_t*>(hsfBmAllocDirect(m->heapId, 2u + 2u * ((n + 15u) / 16u)));
    if (block == nullptr) {
      lhapiAssertHandlerVerbose("v21slow", n == 48 ? 316 : 331);
      break;  // the rest of this command's bits are dropped, never written through a missing block
    }
    block[0] = n;
    for (uint16_t w = 0; w < (n + 15) / 16; ++w) block[1 + w] = 0;
    for (uint16_t i = 0; i < n; ++i) {
      const uint32_t at = done + i;
      uint16_t word;
      std::memcpy(&word, bytes + 2 * (at / 16), 2);
      if ((word >> (at % 16)) & 1) block[1 + i / 16] = static_cast<uint16_t>(block[1 + i / 16] | (1u << (i % 16)));
    }
    done += n;
    if (vcfPackData(m->heapId, &tx.v21zTxQueue, block, V21_BLOCK_BYTES) == 1) v21PostEvent(m, e_txdata);
  }
  const uint32_t queued = MEM_QueueCount(&tx.v21zTxQueue);
  if (queued >= m->hsxv21regs.hsxcmdqhighthreshold)
    hsfIbdSendStd(HSF_IBD_LOCAL_MODEM, V21_TXQHIGH_EVT, static_cast<uint16_t>(queued), 0);
  return 0;
}

HAPIRESULT setReg1(V21LOCLMEM* m, uint16_t offset, uint16_t value) {
  if (offset & 1) lhapiAssertHandlerVerbose("v21slow", 415);
  const uint16_t index = static_cast<uint16_t>((offset & 1) ? (offset - 1) / 2 : offset / 2);
  if (index >= kRegWords) return kRefused;  // beyond the register record
  uint16_t regs[kRegWords];
  std::memcpy(regs, &m->hsxv21regs, sizeof(regs));
  regs[index] = value;
  std::memcpy(&m->hsxv21regs, regs, sizeof(regs));
  return 0;
}

}  // namespace

HAPIRESULT hsfv21io(HSFSRVOBJ service, HSFMSG* msg, HSFMSG*) {
  auto* m = static_cast<V21LOCLMEM*>(service);
  if (m == nullptr || msg == nullptr) return kRefused;
  const uint16_t code = msg->std.header;
  switch (code) {
    case V21_ENABLE_CMD:
      if (msg->std.op1 != 0) {
        if (!enabled(m)) v21Enable(m);
      } else if (enabled(m)) {
        v21Disable(m);
      }
      return 0;
    case V21_GETREGS_CMD:
      m->state.reserved = static_cast<uint16_t>(m->state.reserved | 0x2);
      return 0;
    case V21_STATUS_CMD:
      m->state.reserved = static_cast<uint16_t>(m->state.reserved | 0x1);
      return 0;
    case V21_IDLEPTN_CMD:
      return setIdlePattern(m, msg->ext);
    case V21_SETREGS_CMD:
      if (enabled(m) || msg->ext.length != sizeof(HSZV21REGS) || msg->ext.bufp == nullptr) return kRefused;
      std::memcpy(&m->hsxv21regs, msg->ext.bufp, sizeof(HSZV21REGS));
      return 0;
    case V21_RESETREGS_CMD:
      if (enabled(m)) return kRefused;
      m->hsxv21regs = v21DefaultRegs;
      return 0;
    case V21_SETREG1_CMD:
      if (enabled(m)) return kRefused;
      return setReg1(m, msg->std.op1, msg->std.op2);
    case V21_RXMODE_CMD:
      if (!enabled(m)) return kRefused;
      v21PostEvent(m, msg->std.op1 != 0 ? e_enableRx : e_disableRx);
      m->hsxstatus = static_cast<uint16_t>(m->hsxstatus & ~V21_STATUS_TXMODE);
      return 0;
    case V21_TXMODE_CMD:
      if (!enabled(m)) return kRefused;
      v21PostEvent(m, static_cast<V21EVT>(msg->std.op1 + 1));
      m->hsxstatus = static_cast<uint16_t>(m->hsxstatus | V21_STATUS_TXMODE);
      return 0;
    case V21_TXDATA_CMD:
      if (!enabled(m)) return kRefused;
      return queueTxData(m, msg->ext);
    default:
      return kRefused;
  }
}
