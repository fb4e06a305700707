// The V.17 pump's start-up, rate tables and per-frame dispatch.
#include <cstring>

#include "vfx.h"
#include "vfx_pumpbase.h"

void v17fXmtrBlkTsk(VFXLOCLMEM* m);
void v17fRcvrBlkTsk(VFXLOCLMEM* m, const int16_t* frame);

namespace {

struct V17RATECONV {
  uint16_t rate;
  uint16_t code;
  uint16_t bps;
};

constexpr V17RATECONV v17tDataRateToBitRateLUT[6] = {
    {7, 0x0310, 7200}, {8, 0x0150, 9600}, {9, 0x0510, 12000}, {10, 0x1110, 14400}, {5, 0x0510, 12000}, {6, 0x1110, 14400},
};

const V17RATECONV* find(uint16_t rate) { return vfxFindRateRow(v17tDataRateToBitRateLUT, rate); }

}  // namespace

uint16_t v17fGetBaudMachineRate(uint16_t rate) {
  const V17RATECONV* r = find(rate);
  return r ? r->code : 0x1000;
}

uint16_t v17fGetBitsPerSec(uint16_t rate) {
  const V17RATECONV* r = find(rate);
  return r ? r->bps : 14400;
}

uint16_t vfxBitsPerPacket(uint16_t hsxnumbits, uint16_t bitsPerSec) {
  uint32_t bits = (hsxnumbits & 0x8000) ? (hsxnumbits & 0x7FFFu) : uint32_t{hsxnumbits} * bitsPerSec / 1000u;
  // a packet lives in one pool block
  constexpr uint32_t kMax = (VFX_BLOCK_BYTES - 2) * 8;
  if (bits > kMax) bits = kMax;
  if (bits == 0) bits = 1;
  return static_cast<uint16_t>(bits);
}

void v17InitMdm(VFXLOCLMEM* m) {
  m->v17zClientCmd = HSFMSGSTD{};
  vcfStmInitQueue(&m->v17zBaud.txeventq);
  vcfStmInitQueue(&m->v17zBaud.rxeventq);
  m->desiredrate = v17fGetBaudMachineRate(m->v17zRegs.hsxrate);
  if (m->v17zRegs.hsxrate == HSV33_12000 || m->v17zRegs.hsxrate == HSV33_14400) m->v17zState.status |= VFX_V33;
}

void v17StartTx(VFXLOCLMEM* m, uint16_t op1) {
  v17InitMdm(m);
  vcfDumpRxDataPkts(&m->v17zCpyToClBuf);
  m->u.tx.v17txremidx = 0;
  vcfBdmTxbaud_init(&m->v17zBaud);
  m->v17zBaud.txflow.coutev = e_txDone;
  m->v17zBaud.txmem.modParamp = &m->u.tx.v17zModParam;
  m->v17zBaud.txmem.txCpyFrmBufp = &m->v17zCpyFrmClBuf;
  uint16_t& st = m->v17zState.status;
  if (op1 == 2) st |= VFX_LONGTRN;
  if (op1 == 3) st |= VFX_LONGTRN | VFX_TXDATA;
  if (op1 == 1) {
    st |= VFX_TXDATA;
    if (st & VFX_V33) st |= VFX_LONGTRN;
  }
  if (op1 == 2 && (st & VFX_V33)) st |= VFX_LONGTRN;
  m->pageflag = static_cast<uint16_t>(PF_TXSTART | (m->v17zRegs.hsxeptgenflag ? PF_TXTONE : PF_TXNOTONE));
  st |= VFX_TRANSMITTING;
}

void v17StartRx(VFXLOCLMEM* m, uint16_t op1) {
  v17InitMdm(m);
  V17ZRX& rx = m->u.rx;
  rx.gain = 1024;
  std::memset(&rx.v17zTimAdjParam, 0, sizeof(rx.v17zTimAdjParam));
  std::memset(&rx.v17zT3Param, 0, sizeof(rx.v17zT3Param));
  VCZBAUD& b = m->v17zBaud;
  vcfBdmRxbaud_init(&b);
  b.rxflow.coutev = e_waitDone;
  b.rxmem.u.t3 = &rx.v17zDemod.dem;
  b.rxmem.vitp = &rx.v17zVitParam;
  b.rxmem.rxCpyToBufp = &m->v17zCpyToClBuf;
  m->pageflag = PF_RXSTART | PF_RXPARSER | PF_RXRESAMP | PF_RXLONG;
  uint16_t& st = m->v17zState.status;
  switch (op1) {
    case HSGFAXRXCFGTURNON:
    case HSGFAXRXCFGECMDATA:
      st |= VFX_RXDATA;
      if (!(st & VFX_V33)) {
        rx.gain = m->savedGain != 0 ? m->savedGain : 1024;
        m->pageflag = static_cast<uint16_t>(m->pageflag & ~PF_RXLONG);
      }
      break;
    case HSGFAXRXCFGEXTTURNON:
    case HSGFAXRXCFGEXTECMDATA:
      st |= VFX_RXDATA;
      break;
    case HSGFAXRXCFGTCFDATA:
      st |= VFX_TCFERR;
      break;
    default:
      break;
  }
  m->rxcfg = op1;
  st |= VFX_RECEIVING;
}

void v17fBlkTsk(VFXLOCLMEM* m, const int16_t* frame) {
  if (m->v17zState.status & VFX_RECEIVING) {
    if (frame != nullptr) v17fRcvrBlkTsk(m, frame);
  } else if (m->v17zState.status & VFX_TRANSMITTING) {
    v17fXmtrBlkTsk(m);
  }
}
