// What both pumps of the fax datapump service do alike, frame by frame.
#include "vfx_pumpbase.h"

#include <cstring>

#include "lhapi.h"

namespace {

constexpr int kFrame = 80;
constexpr int kTimHist = 34;  // timing interpolator history
constexpr int kSymLine = 99;  // each half of the transmit symbol line
constexpr int kSymHist = 19;  // symbols of the last frame the pulse shaper reaches back for
static_assert(sizeof(V17ZTX::v17SymLine) == 2 * kSymLine * sizeof(int16_t));

// The symbol line's history for the next frame: the last kSymHist symbols of each half to its
// front (the halves overlap themselves when a frame wrote fewer).
void keepSymbolHistory(int16_t* line, const int16_t* end) {
  const int16_t* from = end - kSymHist;
  std::memmove(line, from, kSymHist * sizeof(int16_t));
  std::memmove(line + kSymLine, from + kSymLine, kSymHist * sizeof(int16_t));
}

// Runs the machine until the symbol line holds `symbols` symbols of this frame (never past the
// line's end: a frame takes a few dozen at most).
void produceSymbols(VFXLOCLMEM* m, int symbols) {
  VCZBAUD& b = m->v17zBaud;
  V17ZSTM& stm = m->v17zStm;
  int16_t* const lineEnd = m->u.tx.v17SymLine + kSymLine;
  b.txsbuf.fstEndp = symbols < lineEnd - b.txsbuf.fstWrp ? b.txsbuf.fstWrp + symbols : lineEnd;
  for (int guard = 0; b.txsbuf.fstWrp < b.txsbuf.fstEndp && guard < 64; ++guard) {
    m->deferred = 0;
    stm.stp = vcfStmRun(stm.stp, &b.txeventq, m);
    if (m->deferred > 0) vcfStmPutEvent(&b.txeventq, m->deferred);
  }
}

}  // namespace

void vfxPumpTxFrame(VFXLOCLMEM* m, const VFXTXFRAMEPARM& p) {
  V17ZTX& tx = m->u.tx;
  VCZBAUD& b = m->v17zBaud;
  if (!(m->v17zState.status & VFX_TXBULKSET)) {
    std::memset(tx.v17SymLine, 0, sizeof(tx.v17SymLine));
    p.initModulator(m);
    tx.v17txremidx = 0;
    m->v17zState.status |= VFX_TXBULKSET;
  }
  b.txmem.modParamp = &tx.v17zModParam;
  // The carry is copied whole both ways: a copy of fixed length is a few moves in line, one of
  // the carry's length a call; the samples past it are written over or never read.
  int16_t out[kFrame + 32];
  static_assert(sizeof(out) >= (kFrame + 16) * sizeof(int16_t) && sizeof(tx.v17txrem) == 16 * sizeof(int16_t));
  std::memcpy(out, tx.v17txrem, sizeof(tx.v17txrem));
  int16_t* w = out + tx.v17txremidx;
  int16_t* const fresh = tx.v17SymLine + kSymHist;
  b.txsbuf = VCZFASTBULKDLYHDL{fresh, tx.v17SymLine + kSymLine, fresh, fresh, kSymLine};

  if (m->pageflag & PF_TXSTART) {
    p.start(m);
    m->pageflag = static_cast<uint16_t>(m->pageflag & ~PF_TXSTART);
  }
  const uint32_t bitsBefore = b.txmem.txtotalBits;
  // The symbols owed for this frame's samples, then one more at a time while the resampler has
  // not reached the frame's end.
  int owed = ((kFrame - tx.v17txremidx) * p.baud + 7999) / 8000;
  while (w - out < kFrame && owed > 0) {
    int16_t* before = b.txsbuf.fstWrp;
    produceSymbols(m, owed);
    if (b.txsbuf.fstWrp == before) break;
    vcfTxSymbols(&w, &tx.v17zModParam, &b.txsbuf);
    owed = 1;
  }
  const int made = static_cast<int>(w - out);
  keepSymbolHistory(tx.v17SymLine, b.txsbuf.fstWrp);
  const int rem = made - kFrame;
  if (rem < 0 || rem > 12) lhapiAssertHandlerVerbose(p.assertSource, __LINE__);
  if (made >= kFrame) {
    std::memcpy(m->vfxtxbuf, out, sizeof(m->vfxtxbuf));
  } else {
    std::memcpy(m->vfxtxbuf, out, sizeof(int16_t) * static_cast<size_t>(made));
    std::memset(m->vfxtxbuf + made, 0, sizeof(int16_t) * static_cast<size_t>(kFrame - made));
  }
  tx.v17txremidx = static_cast<int16_t>(rem < 0 ? 0 : (rem > 16 ? 16 : rem));
  std::memcpy(tx.v17txrem, out + kFrame, sizeof(tx.v17txrem));
  vcfGenEventStd(VFX_TXBITS_EVT, static_cast<uint16_t>(b.txmem.txtotalBits - bitsBefore), 0);
}

void vfxPumpTxDataStart(VFXLOCLMEM* m) {
  VCZBAUD& b = m->v17zBaud;
  b.txflow.txdataf = vcfTxClbuf;
  b.txmem.txCpyFrmBufp = &m->v17zCpyFrmClBuf;
  b.txflow.txcntr = -1;
  vcfGenEventStd(VFX_DATA_EVT, 0, 0);
}

bool vfxPumpTxDataEnds(VFXLOCLMEM* m) {
  if (m->v17zClientCmd.header == VFX_TX_CMD) {
    m->v17zClientCmd.header = 0;
    return true;
  }
  return (vcfBdmTxbaud(&m->v17zBaud, 0, VCBDM_TXDATA_SHORT) & VCBDM_TXDATA_SHORT) != 0;
}

void vfxPumpTxIdle(VFXLOCLMEM* m) {
  vcfBdmTxbaud_init(&m->v17zBaud);
  m->v17zBaud.txmem.modParamp = &m->u.tx.v17zModParam;
  m->v17zState.status &= VFX_ENABLED;
  m->pageflag = 0;
  vcfGenEventStd(VFX_TXDONE_EVT, 0, 0);
  vcfGenEventStd(VFX_POOLLOW_EVT, m->heapId != nullptr ? static_cast<uint16_t>(m->heapId->lowWaterMark) : 0, 0);
}

void vfxPumpRxFrontEnd(VFXLOCLMEM* m, const int16_t* frame, const VFXRXFRONTPARM& p) {
  V17ZRX& rx = m->u.rx;
  V17ZT3PARM& t = rx.v17zT3Param;
  if (m->pageflag & PF_RXRESAMP) {
    vcfInitResample(p.resampleParam, &t.T3ResampParam);
    std::memset(t.inHist, 0, sizeof(t.inHist));
    std::memset(t.timLine, 0, sizeof(t.timLine));
    std::memset(t.eqLine, 0, sizeof(t.eqLine));
    t.timCount = 0;
    t.eqCount = 0;
    m->pageflag = static_cast<uint16_t>(m->pageflag & ~PF_RXRESAMP);
  }
  // 31 samples of history for the 32-tap interpolator and two more: between frames the
  // resampler's position may fall up to two samples below the frame's first sample.
  constexpr int kHist = sizeof(t.inHist) / sizeof(t.inHist[0]);
  int16_t in[kHist + kFrame];
  std::memcpy(in, t.inHist, sizeof(t.inHist));
  std::memcpy(in + kHist, frame, kFrame * sizeof(int16_t));
  std::memcpy(t.inHist, in + kFrame, sizeof(t.inHist));
  int16_t* fresh = t.timLine + kTimHist + t.timCount;
  VCZBUF rd{in + kHist, in, nullptr}, wr{in + kHist + kFrame, nullptr, nullptr}, ob{fresh, fresh, nullptr};
  const int16_t n = vcfResample(&rd, &wr, &ob, &t.T3ResampParam);
  VCZBUF g{fresh, fresh, nullptr}, gw{fresh + n, nullptr, nullptr};
  vcfMultGain(&g, &gw, static_cast<int16_t>(rx.gain));

  int16_t* eqFresh = t.eqLine + p.eqHist + t.eqCount;
  if (m->v17zState.status & VFX_TIMING) {
    p.startTiming(m);
    VCZBUF tin{t.timLine + kTimHist, t.timLine, fresh + n};
    VCZBUF tout{eqFresh, eqFresh, nullptr};
    vcfAdjTiming(&tin, &tout, &rx.v17zTimAdjParam);
    t.eqCount = static_cast<int16_t>(t.eqCount + (tout.bufp - eqFresh));
    const int16_t left = static_cast<int16_t>(fresh + n - tin.bufp);
    std::memmove(t.timLine, tin.bufp - kTimHist, sizeof(int16_t) * static_cast<size_t>(kTimHist + left));
    t.timCount = left;
  } else {
    std::memcpy(eqFresh, fresh, sizeof(int16_t) * static_cast<size_t>(n));
    t.eqCount = static_cast<int16_t>(t.eqCount + n);
    // keep the timing line's history current for when timing recovery starts
    std::memmove(t.timLine, fresh + n - kTimHist, sizeof(int16_t) * kTimHist);
    t.timCount = 0;
  }
  VCZBUF& lb = m->v17zBaud.rxlbuf;
  lb.startp = t.eqLine;
  lb.bufp = t.eqLine + p.eqHist;
  lb.endp = lb.bufp + (t.eqCount / p.sampPerSym) * p.sampPerSym;
}

void vfxPumpRxRun(VFXLOCLMEM* m, int sampPerSym, int eqHist) {
  VCZBAUD& b = m->v17zBaud;
  V17ZSTM& stm = m->v17zStm;
  for (int guard = 0; b.rxlbuf.bufp + sampPerSym <= b.rxlbuf.endp && guard < 64; ++guard) {
    m->deferred = 0;
    stm.stp = vcfStmRun(stm.stp, &b.rxeventq, m);
    if (m->deferred > 0) vcfStmPutEvent(&b.rxeventq, m->deferred);
    if (!(m->v17zState.status & VFX_RECEIVING)) break;
  }
  V17ZT3PARM& t = m->u.rx.v17zT3Param;
  const int16_t* end = t.eqLine + eqHist + t.eqCount;
  const int16_t left = static_cast<int16_t>(end - b.rxlbuf.bufp);
  std::memmove(t.eqLine, b.rxlbuf.bufp - eqHist, sizeof(int16_t) * static_cast<size_t>(eqHist + left));
  t.eqCount = left;
}

void vfxPumpRxDataOut(VFXLOCLMEM* m) {
  if (m->pageflag & PF_RXPARSER) {
    vcfInitRxDataHandler(m, VFX_RXDATA_EVT, m->rxcfg, m->heapId, &m->v17zRxPktParam);
    m->pageflag = static_cast<uint16_t>(m->pageflag & ~PF_RXPARSER);
  }
  if (vcfFwdFaxRxData(&m->v17zCpyToClBuf, &m->v17zRxPktParam) == VCRTC) m->v17zState.status |= VFX_PAGEEND;
  if (m->v17zState.status & VFX_RXENDED) {
    vcfGenEventStd(VFX_RXERR_EVT, static_cast<uint16_t>(m->u.rx.v17zDemod.peakAveError),
                   (m->v17zState.status & VFX_PAGEEND) ? 1 : 0);
    vcfGenEventStd(VFX_RXDONE_EVT, 0, 0);
    m->v17zState.status = static_cast<uint16_t>(m->v17zState.status & ~(VFX_RXENDED | VFX_RECEIVING));
  }
}

bool vfxPumpFindGain(VFXLOCLMEM* m, int sampPerSym) {
  VCZBUF& buf = m->v17zBaud.rxlbuf;
  VCZBUF rd = buf, wr = buf;
  wr.bufp = buf.endp;
  const bool found = vcfFindGain(&rd, &wr, &m->u.rx.v17zAgcGain);
  if (found) m->u.rx.gain = m->u.rx.v17zAgcGain.gain;
  const long used = (rd.bufp - buf.bufp + sampPerSym - 1) / sampPerSym * sampPerSym;
  buf.bufp += used;
  if (buf.bufp > buf.endp) buf.bufp = buf.endp;
  return found;
}

void vfxPumpRxEnd(VFXLOCLMEM* m) {
  VCZCPYTOCLBUF& c = m->v17zCpyToClBuf;
  if (c.wipPacketp != nullptr) {
    if (c.wipPacketp[0] > 0)
      MEM_QueueEnq(&c.pktQ, c.wipPacketp);
    else
      hsfBmFree(c.wipPacketp);
    c.wipPacketp = nullptr;
  }
  m->v17zState.status = static_cast<uint16_t>(VFX_RXENDED | VFX_ENABLED | (m->v17zState.status & VFX_PAGEEND));
}

void vfxPumpRxTcfDone(VFXLOCLMEM* m, uint16_t onesInTcf) {
  vcfDumpRxDataPkts(&m->v17zCpyToClBuf);
  const uint16_t peak = static_cast<uint16_t>(m->u.rx.v17zDemod.peakAveError);
  vcfGenEventStd(VFX_TCFDONE_EVT, onesInTcf, peak);
  if (m->v17zState.status & VFX_TCFERR) vcfGenEventStd(VFX_RXERR_EVT, peak, 0);
  vcfGenEventStd(VFX_RXDONE_EVT, 0, 0);
  m->v17zState.status &= VFX_ENABLED;
  m->pageflag = 0;
}
