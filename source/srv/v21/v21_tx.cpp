// V.21 channel 2 transmitter, calling and answer tones, tone detection and the transmit machines.
#include "v21.h"
#include "v21_tables.h"
#include "vc_math.h"

namespace {

V21LOCLMEM* M(void* ctx) { return static_cast<V21LOCLMEM*>(ctx); }

constexpr int16_t kDevOne = -26;  // 1650 Hz
constexpr int16_t kDevZero = 26;  // 1850 Hz

// The carrier at each of the modulator's 2048 phases.
struct CarrierTable {
  int16_t v[2048];
};
constexpr CarrierTable makeCarrierTable() {
  CarrierTable t{};
  for (int p = 0; p < 2048; ++p) t.v[p] = fxsinPoly(static_cast<uint16_t>((p << 5) + 16384));
  return t;
}
constexpr CarrierTable kCarrier = makeCarrierTable();

// T3: n samples of the current bit into out, stepping through its frequency pulse.
void hsfv21tx(HSZV21TX& tx, int16_t dev, int16_t* out, int n) {
  HSZV21GMSK& g = tx.gmsk;
  // the phase and pulse in locals: written through `out`, the record would be reloaded every sample
  const int16_t* pulse = g.pulsep;
  const int32_t amp = g.txAmp, inc = g.carrierInc;
  // the phase wraps at 2048, which divides the 32-bit wrap: summed unmasked, masked where read, so
  // that each sample's step is one add on the last instead of an add, a mask and a conversion
  uint32_t phase = g.phase;
  for (int i = 0; i < n; ++i) {
    out[i] = static_cast<int16_t>((kCarrier.v[phase & 0x7FF] * amp) >> 15);
    phase += static_cast<uint32_t>(inc + ((dev * int32_t{pulse[i]}) >> 15));
  }
  g.phase = static_cast<uint16_t>(phase & 0x7FF);
  g.pulsep = pulse + n;
}

// ---- modulator ----

int32_t modOn(void* ctx) {
  V21LOCLMEM* m = M(ctx);
  HSZV21TX& tx = m->hsxv21tx;
  tx.prevDev = kDevOne;
  tx.gmsk.phase = static_cast<uint16_t>(tx.hsxtone.phase >> 5);  // continuous with the last tone
  tx.gmsk.carrierInc = 448;
  tx.gmsk.txAmp = static_cast<int16_t>((14328 * int32_t{m->hsxv21regs.hsxtxamplitude}) >> 15);
  tx.gmsk.pulsep = gmskSame;
  tx.bitcnt = 0;
  tx.numsamp = 0;
  return 0;
}

bool takeBit(V21LOCLMEM* m, uint16_t* bit) {
  VCZCPYFRMCLBUF& r = m->hsxv21tx.v21zCpyFrmClBuf;
  uint16_t word = 0xFFFF;
  const uint16_t real = vcfCopyFromClBuf(&r, &word, 1);
  *bit = word & 1;
  // In the asynchronous framing an empty queue is filled with the idle pattern, which is sent.
  return real > 0 || (r.txMode == VCASYNC && r.idlePatternp != nullptr);
}

void drainThenIdle(V21LOCLMEM* m) {
  HSZV21TX& tx = m->hsxv21tx;
  if (m->v21zClientCmd.hsxmsg != V21_TXDRAIN_CMD) return;
  if (MEM_QueueCount(&tx.v21zTxQueue) != 0 || tx.v21zCpyFrmClBuf.clientBitsRem != 0) return;
  v21ResetMachines(m);
  hsfIbdSendStd(HSF_IBD_LOCAL_MODEM, V21_NOCARRIER_EVT, 0, 0);
  vcfGenEventStd(V21_TXDRAIN_CMD, 1, 0);
  m->v21zClientCmd.hsxmsg = 0;
}

int32_t modulate(void* ctx) {
  V21LOCLMEM* m = M(ctx);
  HSZV21TX& tx = m->hsxv21tx;
  int16_t* out = tx.hsxqptrs.hsxqp;
  int n = 0;
  if (tx.numsamp > 0) {
    const int k = tx.numsamp < V21_SUBTICK ? tx.numsamp : V21_SUBTICK;
    hsfv21tx(tx, tx.prevDev, out, k);
    tx.numsamp = static_cast<int16_t>(tx.numsamp - k);
    n = k;
  }
  uint16_t taken = 0;
  bool noBit = false;
  while (n < V21_SUBTICK) {
    uint16_t bit;
    if (!takeBit(m, &bit)) {
      noBit = true;
      break;
    }
    ++taken;
    const int16_t dev = bit ? kDevOne : kDevZero;
    tx.bitcnt = static_cast<int16_t>((tx.bitcnt + 1) % 3);
    const int len = tx.bitcnt == 0 ? 26 : 27;  // 80 samples per three bits
    tx.gmsk.pulsep = dev == tx.prevDev ? gmskSame : gmskTransition;
    const int k = len < V21_SUBTICK - n ? len : V21_SUBTICK - n;
    hsfv21tx(tx, dev, out + n, k);
    tx.numsamp = static_cast<int16_t>(len - k);
    tx.prevDev = dev;
    n += k;
  }
  if (taken > 0) hsfIbdSendStd(HSF_IBD_LOCAL_MODEM, V21_TXBITS_EVT, taken, 0);
  if (noBit) {
    const uint16_t queued = static_cast<uint16_t>(MEM_QueueCount(&tx.v21zTxQueue));
    hsfIbdSendStd(HSF_IBD_LOCAL_MODEM, V21_TXUFLOW_EVT, queued, 0);
    hsfIbdSendStd(HSF_IBD_LOCAL_MODEM, V21_POOLLOW_EVT,
                  m->heapId != nullptr ? static_cast<uint16_t>(m->heapId->lowWaterMark) : 0, 0);
    v21PostEvent(m, e_urun);
  }
  drainThenIdle(m);
  return 0;
}

extern const EVTX v21s_cCnct[];

// ---- tones ----

int32_t cngOn(void* ctx) {
  V21LOCLMEM* m = M(ctx);
  HSZV21TX& tx = m->hsxv21tx;
  tx.hsxtone.phaseInc = 9024;  // 1101.6 Hz
  tx.hsxtone.amplitude = static_cast<uint16_t>((14328 * uint32_t{m->hsxv21regs.hsxCNGamplitude}) >> 15);
  tx.txTmr = static_cast<uint16_t>((m->hsxv21regs.hsxCNGonduration + 2) / 5);
  return 0;
}

int32_t cngOff(void* ctx) {
  V21LOCLMEM* m = M(ctx);
  m->hsxv21tx.txTmr = static_cast<uint16_t>((m->hsxv21regs.hsxCNGoffduration + 2) / 5);
  return 0;
}

int32_t cedOn(void* ctx) {
  V21LOCLMEM* m = M(ctx);
  HSZV21TX& tx = m->hsxv21tx;
  tx.hsxtone.phaseInc = 17216;  // 2101.6 Hz
  tx.hsxtone.amplitude = static_cast<uint16_t>((14328 * uint32_t{m->hsxv21regs.hsxCEDamplitude}) >> 15);
  tx.txTmr = static_cast<uint16_t>((m->hsxv21regs.hsxFDansdur + 2) / 5);
  if (tx.txTmr == 0) v21PostEvent(m, e_timeout);
  return 0;
}

int32_t genTone(void* ctx) {
  HSZV21TX& tx = M(ctx)->hsxv21tx;
  hsfToneGen(tx.hsxqptrs.hsxqp, &tx.hsxtone, V21_SUBTICK);
  return 0;
}

int32_t decTmrTx(void* ctx) {
  V21LOCLMEM* m = M(ctx);
  HSZV21TX& tx = m->hsxv21tx;
  if (tx.txTmr != 0 && --tx.txTmr == 0) v21PostEvent(m, e_timeout);
  return 0;
}

// ---- tone detection ----

// A detector step on the sub-tick's window; on a quiet line the step without the sums, and none
// at all while the detector's levels rest at zero (the step would leave them there).
uint16_t detectorStep(const V21LOCLMEM* m, TONEDET& d) {
  if (!m->lineQuiet) return hsfdettone(m->linearbufp + d.offset, &d.dt);
  if (d.dt.hsxy == 0 && d.dt.hsxyFb == 0) return 0;
  return hsfdettoneSilent(&d.dt);
}

void cngCedDecide(V21LOCLMEM* m, TONEDET& d, uint16_t lvl, uint16_t threshold, uint16_t duration, uint16_t event,
                  uint16_t bit) {
  d.tmr = static_cast<uint16_t>(d.tmr + d.elapsedTime);
  d.elapsedTime = 0;
  const bool present = lvl >= threshold && lvl > d.dt.hsxyFb / 2;
  const bool marked = (m->hsxstatus & bit) != 0;
  if (marked == present) {
    d.tmr = 0;
    return;
  }
  if (d.tmr < duration) return;
  m->hsxstatus = static_cast<uint16_t>(m->hsxstatus ^ bit);
  d.tmr = 0;
  if (m->hsxv21regs.hsxdettones != 0) hsfIbdSendStd(HSF_IBD_LOCAL_MODEM, event, present ? 1 : 0, lvl);
}

// The sub-tick where the detector steps (once or twice) and decides.
void cngCedStep(V21LOCLMEM* m, TONEDET& d, uint16_t threshold, uint16_t duration, uint16_t event, uint16_t bit) {
  uint16_t lvl = 0;
  while (d.offset <= 39) {
    lvl = detectorStep(m, d);
    d.offset = static_cast<uint16_t>(d.offset + 140);
  }
  d.offset = static_cast<uint16_t>(d.offset - 40);
  cngCedDecide(m, d, lvl, threshold, duration, event, bit);
}

// The detector steps once every 140 samples: most sub-ticks only count the time, which takes no
// more than the few instructions inline here.
inline void cngCedDetect(V21LOCLMEM* m, TONEDET& d, uint16_t threshold, uint16_t duration, uint16_t event,
                         uint16_t bit) {
  d.elapsedTime = static_cast<uint16_t>(d.elapsedTime + 5);
  if (d.offset > 39)
    d.offset = static_cast<uint16_t>(d.offset - 40);
  else
    cngCedStep(m, d, threshold, duration, event, bit);
}

int32_t detCed(void* ctx) {
  V21LOCLMEM* m = M(ctx);
  const HSZV21REGS& r = m->hsxv21regs;
  cngCedDetect(m, m->hsxv21tx.cedDt, r.hsxCEDthreshold, r.hsxCEDdetduration, V21_CED_EVT, V21_STATUS_CED);
  return 0;
}

int32_t detCng(void* ctx) {
  V21LOCLMEM* m = M(ctx);
  const HSZV21REGS& r = m->hsxv21regs;
  cngCedDetect(m, m->hsxv21tx.cngDt, r.hsxCNGthreshold, r.hsxCNGdetduration, V21_CNG_EVT, V21_STATUS_CNG);
  return 0;
}

int32_t detCxx(void* ctx) {
  detCng(ctx);
  detCed(ctx);
  return 0;
}

int32_t txCng(void* ctx) {
  detCed(ctx);
  genTone(ctx);
  return 0;
}

int32_t txData(void* ctx) {
  V21LOCLMEM* m = M(ctx);
  vcfStmExecuteFlist<3>(m->hsxv21tx.dataStp, m);
  return 0;
}

extern const EVTX v21s_txData[];
extern const EVTX v21s_txced[];
extern const EVTX v21s_txcng[];
extern const EVTX v21s_txcngSlnc[];

const EVTX v21s_cCnct[] = {
    {e_default, v21s_cCnct, {modulate, nullptr, nullptr}},
    {e_urun, v21s_cIdle, {nullptr, nullptr, nullptr}},
    {e_v21null, nullptr, {nullptr, nullptr, nullptr}},
};

const EVTX v21s_txData[] = {
    {e_default, v21s_txData, {txData, detCxx, nullptr}},
    {e_v21null, nullptr, {nullptr, nullptr, nullptr}},
};
const EVTX v21s_txced[] = {
    {e_default, v21s_txced, {genTone, detCng, nullptr}},
    {e_v21null, nullptr, {nullptr, nullptr, nullptr}},
};
const EVTX v21s_txcng[] = {
    {e_default, v21s_txcng, {decTmrTx, txCng, nullptr}},
    {e_timeout, v21s_txcngSlnc, {cngOff, nullptr, nullptr}},
    {e_v21null, nullptr, {nullptr, nullptr, nullptr}},
};
const EVTX v21s_txcngSlnc[] = {
    {e_default, v21s_txcngSlnc, {decTmrTx, detCed, nullptr}},
    {e_timeout, v21s_txcng, {cngOn, nullptr, nullptr}},
    {e_v21null, nullptr, {nullptr, nullptr, nullptr}},
};

}  // namespace

bool v21TxSilent(const V21LOCLMEM* m) {
  const HSZV21TX& tx = m->hsxv21tx;
  return tx.stp == v21s_txIdle || (tx.stp == v21s_txData && tx.dataStp == v21s_cIdle);
}

namespace {

// A detector whose levels rest at zero on a quiet line finds no tone in a step and leaves them
// there; with no tone marked present either, its sub-tick only counts the time, and where it
// steps the condition's timer starts again.
bool detectorResting(const V21LOCLMEM* m, const TONEDET& d, uint16_t bit) {
  return d.dt.hsxy == 0 && d.dt.hsxyFb == 0 && !(m->hsxstatus & bit);
}

void restingSubTick(TONEDET& d) {
  d.elapsedTime = static_cast<uint16_t>(d.elapsedTime + 5);
  if (d.offset > 39) {
    d.offset = static_cast<uint16_t>(d.offset - 40);
    return;
  }
  while (d.offset <= 39) d.offset = static_cast<uint16_t>(d.offset + 140);
  d.offset = static_cast<uint16_t>(d.offset - 40);
  d.elapsedTime = 0;
  d.tmr = 0;
}

}  // namespace

// What both silent states run each sub-tick, in their order, over the quiet line's sub-ticks.
void v21DetectTonesQuiet(V21LOCLMEM* m, int subTicks) {
  TONEDET& cng = m->hsxv21tx.cngDt;
  TONEDET& ced = m->hsxv21tx.cedDt;
  if (detectorResting(m, cng, V21_STATUS_CNG) && detectorResting(m, ced, V21_STATUS_CED)) {
    for (int i = 0; i < subTicks; ++i) {
      restingSubTick(cng);
      restingSubTick(ced);
    }
    return;
  }
  for (int i = 0; i < subTicks; ++i) {
    detCng(m);
    detCed(m);
  }
}

const EVTX v21s_cIdle[] = {
    {e_default, v21s_cIdle, {nullptr, nullptr, nullptr}},
    {e_txdata, v21s_cCnct, {modOn, nullptr, nullptr}},
    {e_v21null, nullptr, {nullptr, nullptr, nullptr}},
};

const EVTX v21s_txIdle[] = {
    {e_default, v21s_txIdle, {detCng, detCed, nullptr}},
    {e_v21null, nullptr, {nullptr, nullptr, nullptr}},
};

const EVTX v21s_tx[] = {
    {e_default, v21s_tx, {nullptr, nullptr, nullptr}},
    {e_cng, v21s_txcng, {cngOn, nullptr, nullptr}},
    {e_ced, v21s_txced, {cedOn, nullptr, nullptr}},
    {e_start, v21s_txData, {nullptr, nullptr, nullptr}},
    {e_txdata, v21s_txData, {nullptr, nullptr, nullptr}},
    {e_idle, v21s_txIdle, {nullptr, nullptr, nullptr}},
    {e_v21null, nullptr, {nullptr, nullptr, nullptr}},
};
