// The V.21 service's record, set-up and per-frame processing.
#include <cstring>

#include "dsputil.h"
#include "qrn/qrn.h"
#include "vhd/vhd_rest_hooks.h"
#include "v21.h"
#include "v21_tables.h"

const HSFSRVARC v21arc = {HAPI_V21_SRV, sizeof(V21LOCLMEM), hsfv21io, v21Ingress, v21Egress, hsfv21init, nullptr};

const HSZV21REGS v21DefaultRegs = {16384, 16384, 16384, 500, 3000, 100, 1, 512, 512,
                                   500,   400,   160,   2,   0,    3300, 24, 8};

void v21PostEvent(V21LOCLMEM* m, V21EVT ev) { vcfStmPutEvent(&m->evq, ev); }

uint16_t v21BitsPerPacket(uint16_t hsxnumbits) {
  uint32_t bits = (hsxnumbits & 0x8000) ? (hsxnumbits & 0x7FFFu) : (300u * hsxnumbits) / 1000u;
  // A packet lives in one pool block: more bits than a block holds would never fit.
  constexpr uint32_t kMax = (V21_BLOCK_BYTES - 2) * 8;
  if (bits > kMax) bits = kMax;
  if (bits == 0) bits = 1;
  return static_cast<uint16_t>(bits);
}

namespace {

void resetDetector(TONEDET& d, const int16_t* table) {
  d = TONEDET{};
  hsfresetdettone(&d.dt, table, 77, 29491);
}

}  // namespace

void v21ResetMachines(V21LOCLMEM* m) {
  HSZV21RX& rx = m->hsxv21rx;
  HSZV21TX& tx = m->hsxv21tx;
  rx.hsxdwnsmplcoefp = hstv21HChnlflt0;
  rx.hsxphaseshftcoefp = hstv21HChnPhaseCoeff;
  tx.stp = v21s_txIdle;
  tx.dataStp = v21s_cIdle;
  rx.stp = v21s_rxsIdle;
  resetDetector(tx.cngDt, hstv21CNGflt);
  resetDetector(tx.cedDt, hstv21CEDflt);
}

HAPIRESULT hsfv21init(HSFSRVOBJ service) {
  auto* m = static_cast<V21LOCLMEM*>(service);
  if (m == nullptr) return -1;
  std::memset(static_cast<void*>(m), 0, sizeof(*m));
  m->hsxv21regs = v21DefaultRegs;
  vcfStmInitQueue(&m->evq);
  for (auto& p : m->v21zIdlePtn.idlePtn) {
    p[0] = 64;
    p[1] = p[2] = p[3] = p[4] = 0xFFFF;
  }
  m->v21zIdlePtn.activePtn = 0;
  m->hsxstatus = 0;
  m->heapId = hsfBmInit(m->bufpoolArray, sizeof(m->bufpoolArray), V21_BLOCK_BYTES + sizeof(void*));
  m->srvp = QRN_gSocketContext.pCurrentService;
  return 0;
}

void v21Enable(V21LOCLMEM* m) {
  HSZV21TX& tx = m->hsxv21tx;
  HSZV21RX& rx = m->hsxv21rx;
  tx = HSZV21TX{};
  rx = HSZV21RX{};
  tx.localp = rx.localp = m;
  tx.evqp = rx.evqp = &m->evq;
  vcfStmInitQueue(&m->evq);
  rx.gain = 1024;
  rx.hsxdirectscratchp = &m->scratch;
  m->v21pageflag = 1;
  std::memset(m->window, 0, sizeof(m->window));
  m->quietRun = 0;  // the zeros of the cleared history are not counted: a lower bound still
  MEM_InitQueue(&tx.v21zTxQueue);
  vcfInitCopyFromClBuf(&tx.v21zCpyFrmClBuf, V21_TXSENT_EVT, V21_TXQLOW_EVT, V21_TXUFLOW_EVT,
                       m->hsxv21regs.hsxcmdqlowthreshold, &m->v21zIdlePtn, m,
                       m->hsxv21regs.hsxmode == HSV21ASYNC ? VCASYNC : VCSYNC, &tx.v21zTxQueue);
  vcfInitCopyToClBuf(&rx.v21zCpyToClBuf, v21BitsPerPacket(m->hsxv21regs.hsxnumbits), m->heapId,
                     V21_RXDATA_EVT);
  m->hsxstatus = V21_STATUS_ENABLED;
}

void v21Disable(V21LOCLMEM* m) {
  vcfDumpTxDataPkts(&m->hsxv21tx.v21zCpyFrmClBuf);
  vcfDumpRxDataPkts(&m->hsxv21rx.v21zCpyToClBuf);
  m->hsxstatus = static_cast<uint16_t>(m->hsxstatus & ~V21_STATUS_ENABLED);
}

namespace {

int16_t* frameSamples() {
  QRN_Socket* s = QRN_CurrentSocket();
  return s != nullptr ? s->memDesc[HSF_MEDQ_LOWBAND] : nullptr;
}

void offerEvents(V21LOCLMEM* m) {
  HSZV21RX& rx = m->hsxv21rx;
  HSZV21TX& tx = m->hsxv21tx;
  VCESTMEVT ev;
  while (vcfStmGetEvent(&m->evq, &ev)) {
    rx.stp = vcfStmEventHandler<2>(rx.stp, ev, m);
    const EVTX* cmd = vcfStmEventHandler<3>(v21s_tx, ev, m);
    if (cmd != v21s_tx) tx.stp = cmd;
    tx.stp = vcfStmEventHandler<3>(tx.stp, ev, m);
    tx.dataStp = vcfStmEventHandler<3>(tx.dataStp, ev, m);
  }
}

// Counts the zeros that end the window from the sub-tick's 40 new samples: a quiet line is then
// known without reading the whole window (and a gain keeps zeros zero).
void noteQuiet(V21LOCLMEM* m, const int16_t* fresh) {
  // none when the last is not zero (a line with a signal on it); all 40 zero; otherwise the zeros
  // at the end, one by one
  int zeros = 0;
  if (fresh[V21_SUBTICK - 1] == 0) {
    if (utilIsSilent(fresh, V21_SUBTICK)) {
      zeros = V21_SUBTICK;
    } else {
      while (fresh[V21_SUBTICK - 1 - zeros] == 0) ++zeros;
    }
  }
  if (zeros == V21_SUBTICK) {
    if (m->quietRun < V21_HISTORY + V21_SUBTICK) m->quietRun = static_cast<uint16_t>(m->quietRun + zeros);
  } else {
    m->quietRun = static_cast<uint16_t>(zeros);
  }
  m->lineQuiet = m->quietRun >= V21_HISTORY + V21_SUBTICK;
}

// One sub-tick on `window`: the 77 samples before it and its 40, which are also at `fresh` in the
// frame (read there: the window's copy was only just written). The transmitter writes straight
// into the frame's output when the frame is the 80 samples that the output holds.
void subTick(V21LOCLMEM* m, const int16_t* window, const int16_t* fresh, int index, bool fullFrame) {
  HSZV21TX& tx = m->hsxv21tx;
  int16_t* out = fullFrame ? m->txbuf + index * V21_SUBTICK : m->subbuf;
  std::memset(out, 0, V21_SUBTICK * sizeof(int16_t));
  tx.hsxqptrs = HSZQPTRS{out, out, out + V21_SUBTICK};
  noteQuiet(m, fresh);
  if (m->hsxv21rx.gain == 1024) {  // unity gain (Q10) leaves every sample as it is
    m->linearbufp = window;
  } else {
    std::memcpy(m->linear, window, sizeof(m->linear));
    hsfv21MultGain(m->linear, V21_HISTORY + V21_SUBTICK, m->hsxv21rx.gain);
    m->linearbufp = m->linear;
  }

  offerEvents(m);
  vcfStmExecuteFlist<3>(tx.stp, m);
  vcfStmExecuteFlist<2>(m->hsxv21rx.stp, m);
  // The packet queue is the service's own: when it is empty there is nothing to send or lock for.
  if (MEM_QueueCount(&m->hsxv21rx.v21zCpyToClBuf.pktQ) != 0) vcfSendFullRxDataPkts(m, &m->hsxv21rx.v21zCpyToClBuf);
}

// A frame on a quiet line while the service only listens: the whole window was quiet already and
// the frame adds zeros, no event waits, the receiver waits for a carrier with its level at rest
// and the transmitter sends nothing. Each sub-tick then only steps the tone detectors on the
// quiet line and keeps the receiver's level at zero: the window stays all zero, the filters and
// machines as they are, and the transmit frame silent. True when the frame was done so.
bool quietFrame(V21LOCLMEM* m, const int16_t* x, uint16_t frame) {
  const int subTicks = frame / V21_SUBTICK;
  if (subTicks == 0 || m->quietRun < V21_HISTORY + V21_SUBTICK || m->evq.woff != m->evq.roff) return false;
  if (!v21RxAtRest(m) || !v21TxSilent(m) || !utilIsSilent(x, subTicks * V21_SUBTICK)) return false;
  m->lineQuiet = true;
  v21DetectTonesQuiet(m, subTicks);
  v21RxQuietSubTick(m);
  if (frame == 80 && !m->txbufSilent) {
    std::memset(m->txbuf, 0, sizeof(m->txbuf));
    m->txbufSilent = true;
  }
  return true;
}

}  // namespace

void v21Ingress(HSFSRVOBJ service) {
  auto* m = static_cast<V21LOCLMEM*>(service);
  if (m == nullptr || !(m->hsxstatus & V21_STATUS_ENABLED)) return;
  v21Frame(m, frameSamples(), hsfFrmPeriodGet());
}

void v21Frame(V21LOCLMEM* m, const int16_t* x, uint16_t frame) {
  if (m->v21pageflag & 1) {
    v21ResetMachines(m);
    m->v21pageflag = static_cast<uint16_t>(m->v21pageflag & ~1u);
  }
  if (x == nullptr || quietFrame(m, x, frame)) return;
  // Up to two sub-ticks at a time behind the history in the window; the newest 77 samples stay
  // in front for the next ones.
  const int subTicks = frame / V21_SUBTICK;
  for (int i = 0; i < subTicks;) {
    const int n = subTicks - i < 2 ? subTicks - i : 2;
    constexpr size_t kSubTickBytes = V21_SUBTICK * sizeof(int16_t);  // copies of known length
    if (n == 2)
      std::memcpy(m->window + V21_HISTORY, x + i * V21_SUBTICK, 2 * kSubTickBytes);
    else
      std::memcpy(m->window + V21_HISTORY, x + i * V21_SUBTICK, kSubTickBytes);
    for (int j = 0; j < n; ++j)
      subTick(m, m->window + j * V21_SUBTICK, x + (i + j) * V21_SUBTICK, i + j, frame == 80);
    if (n == 2)
      std::memcpy(m->window, m->window + 2 * V21_SUBTICK, V21_HISTORY * sizeof(int16_t));  // apart
    else
      std::memmove(m->window, m->window + V21_SUBTICK, V21_HISTORY * sizeof(int16_t));
    i += n;
  }
  // A transmitter with nothing to send (as all through a page from the line) left the frame's
  // output at zero: the egress then has nothing to add.
  if (frame == 80) m->txbufSilent = utilIsSilent(m->txbuf, 80);
}

void v21Egress(HSFSRVOBJ service) {
  auto* m = static_cast<V21LOCLMEM*>(service);
  if (m == nullptr || !(m->hsxstatus & V21_STATUS_ENABLED)) return;
  if (hsfFrmPeriodGet() != 80 || m->txbufSilent) return;  // adding zeros changes nothing
  if (int16_t* x = frameSamples()) hsfMedqAdd(x, m->txbuf, 80);
}

// A disabled modem's blocks return at once.
uint32_t v21RestRuns(HSFSRVOBJ service, HAPI_DIRECTION) {
  const auto* m = static_cast<const V21LOCLMEM*>(service);
  return m != nullptr && !(m->hsxstatus & V21_STATUS_ENABLED) ? VHD_REST_UNBOUNDED : 0;
}
