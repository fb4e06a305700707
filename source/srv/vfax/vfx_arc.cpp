// The fax datapump service's record, set-up and per-frame processing.
#include <cstring>

#include "qrn/qrn.h"
#include "vfx_pump.h"

void v17fBlkTsk(VFXLOCLMEM* m, const int16_t* frame);

const HSFSRVARC vfxarc = {HAPI_VFAX_SRV, sizeof(VFXLOCLMEM), hsfvfxio, vfxIngress, vfxEgress, vfxInit, nullptr};

const HSZVFAXREGS vfxDefaultRegs = {HSV17_14400, 0, 200, 20, 16384, 16384, 20, 24, 8, 0};

HAPIRESULT vfxInit(HSFSRVOBJ service) {
  auto* m = static_cast<VFXLOCLMEM*>(service);
  if (m == nullptr) return -1;
  std::memset(static_cast<void*>(m), 0, sizeof(*m));
  m->srvp = m;
  m->v17zRegs = vfxDefaultRegs;
  for (auto& p : m->v17zIdlePtn.idlePtn) {
    p[0] = 64;
    p[1] = p[2] = p[3] = p[4] = 0xFFFF;
  }
  m->heapId = hsfBmInit(m->bufpoolArray, sizeof(m->bufpoolArray), VFX_BLOCK_BYTES + sizeof(void*));
  MEM_InitQueue(&m->v17zTxQueue);
  MEM_InitQueue(&m->v17zCpyToClBuf.pktQ);
  return 0;
}

namespace {

int16_t* frameSamples() {
  QRN_Socket* s = QRN_CurrentSocket();
  return s != nullptr ? s->memDesc[HSF_MEDQ_LOWBAND] : nullptr;
}

void reports(VFXLOCLMEM* m) {
  uint16_t& r = m->v17zState.reserved;
  if (r & VFX_STATE_RSP) {
    r = static_cast<uint16_t>(r & ~VFX_STATE_RSP);
    if (void* p = hsfMemAllocScratch(sizeof(HAPI_VFAX_STATE))) {
      std::memcpy(p, &m->v17zState, sizeof(HAPI_VFAX_STATE));
      hsfIbdSendExt(HSF_IBD_LOCAL_MODEM, VFX_STATE_RSP, sizeof(HAPI_VFAX_STATE), p);
    }
  }
  if (r & VFX_REGS_RSP) {
    r = static_cast<uint16_t>(r & ~VFX_REGS_RSP);
    if (void* p = hsfMemAllocScratch(sizeof(HSZVFAXREGS))) {
      std::memcpy(p, &m->v17zRegs, sizeof(HSZVFAXREGS));
      hsfIbdSendExt(HSF_IBD_LOCAL_MODEM, VFX_REGS_RSP, sizeof(HSZVFAXREGS), p);
    }
  }
}

void queueHigh(VFXLOCLMEM* m) {
  const uint32_t queued = MEM_QueueCount(&m->v17zTxQueue);
  if (queued >= m->v17zRegs.hsxcmdqhighthreshold) {
    if (!m->cmdQhighEvtSent) vcfGenEventStd(VFX_TXQHIGH_EVT, static_cast<uint16_t>(queued), 0);
    m->cmdQhighEvtSent = true;
  } else {
    m->cmdQhighEvtSent = false;
  }
}

}  // namespace

void vfxIngress(HSFSRVOBJ service) {
  auto* m = static_cast<VFXLOCLMEM*>(service);
  if (m == nullptr) return;
  reports(m);
  if (!(m->v17zState.status & VFX_ENABLED)) return;
  queueHigh(m);
  if (hsfFrmPeriodGet() != 80) return;  // the pumps work on 10 ms frames
  vfxFrame(m, frameSamples());
}

void vfxFrame(VFXLOCLMEM* m, const int16_t* frame) {
  if (m->v17zRegs.hsxrate > HSV29_9600)
    v17fBlkTsk(m, frame);
  else
    vfxfBlkTsk(m, frame);
}

void vfxEgress(HSFSRVOBJ service) {
  auto* m = static_cast<VFXLOCLMEM*>(service);
  if (m == nullptr) return;
  const uint16_t st = m->v17zState.status;
  if (!(st & VFX_ENABLED) || !(st & VFX_TRANSMITTING)) return;
  if (hsfFrmPeriodGet() != 80) return;
  if (int16_t* x = frameSamples()) hsfMedqAdd(x, m->vfxtxbuf, 80);
}
