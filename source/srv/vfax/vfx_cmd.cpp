// Commands of the fax datapump service.
#include <cstring>

#include "lhapi.h"
#include "vfx.h"

namespace {

constexpr HAPIRESULT kRefused = -1;
constexpr uint16_t kRegWords = sizeof(HSZVFAXREGS) / 2;

bool enabled(const VFXLOCLMEM* m) { return (m->v17zState.status & VFX_ENABLED) != 0; }
bool busy(const VFXLOCLMEM* m) { return (m->v17zState.status & (VFX_RECEIVING | VFX_TRANSMITTING)) != 0; }
bool v17Family(const VFXLOCLMEM* m) { return m->v17zRegs.hsxrate > HSV29_9600; }

void enable(VFXLOCLMEM* m) {
  vcfInitCopyFromClBuf(&m->v17zCpyFrmClBuf, VFX_TXSENT_EVT, VFX_TXQLOW_EVT, 0, m->v17zRegs.hsxcmdqlowthreshold,
                       &m->v17zIdlePtn, m, VCSYNC, &m->v17zTxQueue);
  vcfInitCopyToClBuf(&m->v17zCpyToClBuf,
                     vfxBitsPerPacket(m->v17zRegs.hsxnumbits, v17fGetBitsPerSec(m->v17zRegs.hsxrate)), m->heapId,
                     VFX_RXDATA_EVT);
  m->v17zState.status = VFX_ENABLED;
  m->pageflag = 0;
}

void disable(VFXLOCLMEM* m) {
  m->v17zState.status = static_cast<uint16_t>(m->v17zState.status & ~VFX_ENABLED);
  vcfDumpTxDataPkts(&m->v17zCpyFrmClBuf);
  vcfDumpRxDataPkts(&m->v17zCpyToClBuf);
  vcfFreePkt(&m->v17zRxPktParam);
}

HAPIRESULT queueTxData(VFXLOCLMEM* m, const HSFMSGEXT& e) {
  if (!enabled(m)) return kRefused;
  if (e.bufp == nullptr || e.length < 2) return kRefused;
  uint16_t bits;
  std::memcpy(&bits, e.bufp, 2);
  // the block is the command's bytes; its bit count may not claim more than they carry
  if (e.length > VFX_BLOCK_BYTES || bits > static_cast<uint32_t>(e.length - 2) * 8u) return kRefused;
  auto* block = static_cast<uint16_t*>(hsfBmAllocDirect(m->heapId, e.length));
  if (block == nullptr) return 0;  // no block free: dropped
  std::memset(block, 0, e.length);
  std::memcpy(block, e.bufp, e.length);
  vcfPackData(m->heapId, &m->v17zTxQueue, block, VFX_BLOCK_BYTES);
  return 0;
}

HAPIRESULT setIdlePattern(VFXLOCLMEM* m, const HSFMSGEXT& e) {
  if ((e.length & 1) != 0 || e.length == 0 || e.length > 10 || e.bufp == nullptr) return kRefused;
  uint16_t pattern[5] = {};
  std::memcpy(pattern, e.bufp, e.length);
  if (pattern[0] > 16u * (e.length / 2u - 1u)) return kRefused;
  const uint16_t inactive = static_cast<uint16_t>((m->v17zIdlePtn.activePtn ^ 1) & 1);
  std::memcpy(m->v17zIdlePtn.idlePtn[inactive], pattern, sizeof(pattern));
  m->v17zIdlePtn.activePtn = inactive;
  return 0;
}

HAPIRESULT setReg1(VFXLOCLMEM* m, uint16_t offset, uint16_t value, bool v17Handler) {
  if (enabled(m)) return kRefused;
  if (offset & 1) lhapiAssertHandlerVerbose(v17Handler ? "v17slowc" : "vfxslowc", v17Handler ? 146 : 128);
  const uint16_t index = static_cast<uint16_t>((offset & 1) ? (offset - 1) / 2 : offset / 2);
  if (index >= kRegWords) return kRefused;  // beyond the register record
  uint16_t regs[kRegWords];
  std::memcpy(regs, &m->v17zRegs, sizeof(regs));
  regs[index] = value;
  std::memcpy(&m->v17zRegs, regs, sizeof(regs));
  return 0;
}

// One handler serves both families; `v17Handler` only names the reporting source and picks the
// pump whose start-up runs.
HAPIRESULT handle(VFXLOCLMEM* m, HSFMSG* msg, bool v17Handler) {
  const uint16_t code = msg->std.header;
  switch (code) {
    case VFX_TXDATA_CMD:
      return queueTxData(m, msg->ext);
    case VFX_IDLEPTN_CMD:
      return setIdlePattern(m, msg->ext);
    case VFX_SETREGS_CMD:
      if (enabled(m) || msg->ext.length != sizeof(HSZVFAXREGS) || msg->ext.bufp == nullptr) return kRefused;
      std::memcpy(&m->v17zRegs, msg->ext.bufp, sizeof(HSZVFAXREGS));
      return 0;
    case VFX_RESETREGS_CMD:
      if (enabled(m)) return kRefused;
      m->v17zRegs = vfxDefaultRegs;
      return 0;
    case VFX_SETREG1_CMD:
      return setReg1(m, msg->std.op1, msg->std.op2, v17Handler);
    case VFX_STATE_CMD:
      m->v17zState.reserved = static_cast<uint16_t>(m->v17zState.reserved | VFX_STATE_RSP);
      return 0;
    case VFX_GETREGS_CMD:
      m->v17zState.reserved = static_cast<uint16_t>(m->v17zState.reserved | VFX_REGS_RSP);
      return 0;
    case VFX_ENABLE_CMD:
      if (msg->std.op1 != 0) {
        if (!enabled(m)) enable(m);
      } else if (enabled(m)) {
        disable(m);
      }
      return 0;
    case VFX_TX_CMD:
      if (!enabled(m)) return kRefused;
      if (msg->std.op1 != 0) {
        if (busy(m)) return 0;
        if (!v17Handler) return kRefused;  // the 2400 to 9600 bit/s pump is not built
        v17StartTx(m, msg->std.op1);
      } else if (m->v17zState.status & VFX_TRANSMITTING) {
        m->v17zClientCmd = msg->std;
      }
      return 0;
    case VFX_RX_CMD:
      if (!enabled(m)) return kRefused;
      if (msg->std.op1 != 0) {
        if (busy(m)) return 0;
        if (!v17Handler) return kRefused;
        v17StartRx(m, msg->std.op1);
      } else if (m->v17zState.status & VFX_RECEIVING) {
        m->v17zClientCmd = msg->std;
      }
      return 0;
    default:
      return kRefused;
  }
}

}  // namespace

HAPIRESULT hsfvfxio(HSFSRVOBJ service, HSFMSG* msg, HSFMSG*) {
  auto* m = static_cast<VFXLOCLMEM*>(service);
  if (m == nullptr || msg == nullptr) return kRefused;
  if (v17Family(m)) {
    const HAPIRESULT r = handle(m, msg, true);
    if (v17Family(m)) return r;
  }
  return handle(m, msg, false);
}
