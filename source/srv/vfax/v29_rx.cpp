// The 2400 to 9600 bit/s receiver (V.27ter and V.29): front end with symbol timing recovery,
// alternation and phase-reversal detection, training on the known sequence with the 2T/3
// equaliser, scrambled ones, TCF or page data, and the carrier-loss detector.
#include <algorithm>
#include <cstring>

#include "vc_code.h"
#include "vc_dot_avx2.h"
#include "vc_math.h"
#include "vfx_pump.h"
#include "vfx_pumpbase.h"

namespace {

VFXLOCLMEM* M(void* ctx) { return static_cast<VFXLOCLMEM*>(ctx); }

enum : int32_t { f_waitDone = 1, f_SDet = 5, f_gainDone = 6, f_phRevSDet = 7, f_TCF = 8, f_data = 9, f_noCarrier = 10, f_CD = 11 };

constexpr int kEqHist = 71;

// Modem parameters by type: V.29, V.27ter 4800, V.27ter 2400.
struct VFAXZMODEMPARAM {
  int16_t sampPerSym;
  int16_t carrierParam;
  const VCZ2T3INIT* demodInitLUTp;
  int16_t resampleParam;  // index of the receive resampler
};

// Gear shifts of the 2T/3 equaliser: fast at first, then finer, loop gains as the T/3 receiver's.
const VCZGS vfxtv29gs[] = {{200, 0, 300, 800, 0}, {600, -1, 300, 800, 0}, {-1, -2, 400, 200, 0}};
const VCZ2T3INIT vfxtv29init = {3, 16, -15474, 17, vcT3LPF, vfxtv29gs};
const VCZ2T3INIT vfxtv27Hinit = {6, 16, -12288, 11, vcT3LPF, vfxtv29gs};
const VCZ2T3INIT vfxtv27Linit = {6, 16, -16384, 11, vcT3LPF, vfxtv29gs};
const VFAXZMODEMPARAM vfxtModemParamLUT[3] = {
    {3, 15474, &vfxtv29init, 0}, {6, 12288, &vfxtv27Hinit, 4}, {6, 16384, &vfxtv27Linit, 0}};
const VFAXZMODEMPARAM& mp(const VFXLOCLMEM* m) { return vfxtModemParamLUT[m->modemType > 2 ? 0 : m->modemType]; }

// Band-edge timing filters by modem type, in the form of the library's rows: two resonators at
// the band edges (carrier -+ half the symbol rate) and a cross product of their last two outputs
// that is steady once per symbol. V.29: 500 and 2900 Hz at 7200/s, three samples per symbol.
// V.27ter: 1000 and 2600 Hz at 9600/s (4800) and 1200 and 2400 Hz at 7200/s (2400), six samples
// per symbol; the edges are 60 degrees apart per sample there, not 120, so the cross product's
// weights are turned by 60 degrees to keep it free of the sum-frequency term.
const int16_t vfxtiming_acq[3][6] = {{-26305, -15735, 29103, 18600, -13500, -27253},
                                     {-4192, -15735, 25477, 31838, -19549, -27253},
                                     {-16056, -15735, 16056, 27810, -27810, -27253}};
const int16_t vfxtiming[3][6] = {{-26708, -16220, 29548, 18930, -13750, -28094},
                                 {-4256, -16220, 25866, 32325, -19848, -28094},
                                 {-16302, -16220, 16302, 28235, -28235, -28094}};
// Symbols of the acquisition phase by modem type (the library's count at 2400 baud); V.27ter
// does not acquire (below), its count only completes the record.
const int16_t vfxNumJamSym[3] = {25, 25, 25};

using V29RX = V29ZDEMOD;
V29RX& rx29(VFXLOCLMEM* m) { return m->u.rx.v29zDemod; }
VCZDEMOD2T3& demod(VFXLOCLMEM* m) { return rx29(m).dem; }
const VFXRATEPARM& rp(const VFXLOCLMEM* m) { return vfxfRateParam(m->desiredrate); }
bool v27(const VFXLOCLMEM* m) { return m->desiredrate <= 1; }
const VCZCOMPLEX* trainTable(const VFXLOCLMEM* m) { return rp(m).trn; }



VFXLOCLMEM* fromBaud(VCZBAUD* b) {
  return reinterpret_cast<VFXLOCLMEM*>(reinterpret_cast<unsigned char*>(b) - offsetof(VFXLOCLMEM, v17zBaud));
}
VFXLOCLMEM* fromRxmem(VCZRXMEM* r) {
  return fromBaud(reinterpret_cast<VCZBAUD*>(reinterpret_cast<unsigned char*>(r) - offsetof(VCZBAUD, rxmem)));
}

void defer(VFXLOCLMEM* m, int32_t ev) { m->deferred = ev; }
void wait(VFXLOCLMEM* m, int n) { m->v17zBaud.rxflow.rxcntr = static_cast<int16_t>(n); }

void initDemod(VFXLOCLMEM* m) {
  V29RX& r = rx29(m);
  r.dem.eq.fltMemp = r.mixer;
  r.dem.eq.eqT3Memp = r.t3;
  r.dem.eq.eqp = r.coeff;
  vcfDemodInit2T3(&r.dem, mp(m).demodInitLUTp);
  std::memset(r.mixer, 0, sizeof(r.mixer));
  std::memset(r.t3, 0, sizeof(r.t3));
  std::memset(r.coeff, 0, sizeof(r.coeff));
  m->v17zBaud.rxmem.u.t2 = &r.dem;
}

void resetRxBaud(VFXLOCLMEM* m) {
  VCZBAUD& b = m->v17zBaud;
  const VCZBUF keep = b.rxlbuf;
  vcfBdmRxbaud_init(&b);
  b.rxlbuf = keep;
  b.rxflow.coutev = f_waitDone;
  b.rxmem.u.t2 = &demod(m);
}

void trackPeak(VFXLOCLMEM* m) {
  int16_t& peak = m->u.rx.v17zDemod.peakAveError;
  if (demod(m).aveError > peak) peak = demod(m).aveError;
}

// ---- bit and symbol functions ----

VCBDMSTATUS v27fRxpn127(VCZRXMEM* r, VCZBUF*) {
  const uint16_t out = v27tscram(true, 7, 3, &r->dsreg, &r->nones);
  r->desout = static_cast<uint16_t>((r->desout ^ out) & 1);
  return 0;
}

VCBDMSTATUS vfxfRxpn127(VCZRXMEM* r, VCZBUF*) {
  const uint32_t reg = r->dsreg & 0x7F;
  r->desout = static_cast<uint16_t>((reg & 1) + 2);
  r->dsreg = (reg >> 1) | ((((reg >> 1) ^ reg) & 1) << 6);
  return 0;
}

VCBDMSTATUS vfxfRxref(VCZRXMEM* r, VCZBUF*) {
  const VFXLOCLMEM* m = fromRxmem(r);
  r->dpout1 = trainTable(m)[r->desout & (v27(m) ? 1 : 3)];
  return 0;
}

VCBDMSTATUS vfxfRxdecide(VCZRXMEM* r, VCZBUF*) {
  const VFXRATEPARM& rate = rp(fromRxmem(r));  // looked up once: the lookup is a call
  const int16_t i = vcfCsearch(&r->bbeqout, rate.stab, rate.npts);
  r->decin = static_cast<uint16_t>(i);
  r->dpout1 = rate.stab[i];
  return 0;
}

// Carrier-loss detector: the level of the symbol's complex T/3 samples (the decimation that made
// them left it), smoothed.
__attribute__((always_inline)) inline VCBDMSTATUS carrierLoss(VCZRXMEM* r) {
  VCZCTONEDET& t = r->sdet;
  const int32_t sum = r->u.t2->eq.newestHalfMag;
  t.pwr = static_cast<int16_t>(t.pwr + fxmul(t.pwrtc, static_cast<int16_t>(std::min<int32_t>(sum - t.pwr, 32767))));
  t.count = t.pwr < t.carthresh ? static_cast<int16_t>(t.count + 1) : 0;
  return t.count > t.countthresh ? VCBDMSTATUS{VCBDM_PWR_BELOW} : VCBDMSTATUS{0};
}
VCBDMSTATUS vfxfTonedet(VCZRXMEM* r, VCZBUF*) { return carrierLoss(r); }

// ---- the page-data run ----

// A symbol's equaliser output, decision and update as the page-data run takes them: through the
// stages' tests (Plain), or with the AVX2 forms chosen once for the run (Wide).
struct PageDataPlain {
  struct Turn {};  // the update takes the carrier's turn afresh
  static Turn demodulate(VCZRXMEM* r, VCZBUF* buf) {
    vcfDemod2T3(r, buf);
    return {};
  }
  static int16_t decide(const VCZCOMPLEX* y, const VFXRATEPARM& rate) { return vcfCsearch(y, rate.stab, rate.npts); }
  static void update(VCZRXMEM* r, VCZBUF* buf, Turn) { vcfRxupd2T3(r, buf); }
};
#if defined(VC_HAVE_AVX2_KERNELS)
struct PageDataWide {
  using Turn = VcCarrierTurn;  // the output's, which the update turns its error back by
  __attribute__((target("avx2"))) static Turn demodulate(VCZRXMEM* r, VCZBUF* buf) {
    return vcfDemod2T3Six(r, buf->bufp);
  }
  // V.27ter's eight points (4800 bit/s) or four (2400): the eights' search is for the first
  __attribute__((target("avx2"))) static int16_t decide(const VCZCOMPLEX* y, const VFXRATEPARM& rate) {
    return rate.npts == 8 ? vcCsearchEightsAvx2(y, rate.stab, 8) : vcfCsearch(y, rate.stab, rate.npts);
  }
  __attribute__((target("avx2"))) static void update(VCZRXMEM* r, VCZBUF*, Turn turn) { vcfRxupd2T3Twelve(r, turn); }
};
#endif

// The V.27ter page-data stages of one symbol, compiled into one loop: the baud machine's loop
// through the stages' pointers (vcfBdmRxbaud) with the same stages in the same order, the same
// counters and the same stop. Every stage is called directly, and the decision, the differential
// decoder, the descrambler, the client buffer's usual step and the carrier-loss detector, a few
// operations each, are written in: through a pointer each
// would cost a call and a store and reload of what it hands to the next. The rate's row and the
// forms of the equaliser's stages are looked up once for the run. kBits: 2 (2400 bit/s) or 3
// (4800).
template <int kBits, typename Stages>
__attribute__((always_inline)) inline VCBDMSTATUS pageDataRun(VFXLOCLMEM* m, VCBDMSTATUS detmask,
                                                              VCBDMSTATUS rtnmask) {
  static_assert(kBits == 2 || kBits == 3);
  VCZBAUD& b = m->v17zBaud;
  VCZRXFLOW& f = b.rxflow;
  VCZRXMEM* r = &b.rxmem;
  VCZBUF* buf = &b.rxlbuf;
  if (f.nsym == 0) return 0;
  const VFXRATEPARM& rate = rp(m);
  const int32_t symbols = static_cast<int32_t>(buf->endp - buf->bufp) / f.nsym;
  for (int32_t s = 0; s < symbols; ++s) {
    // the equaliser's output and the decision (vcfDemod2T3, vfxfRxdecide)
    const typename Stages::Turn turn = Stages::demodulate(r, buf);
    const int16_t i = Stages::decide(&r->bbeqout, rate);
    r->decin = static_cast<uint16_t>(i);
    r->dpout1 = rate.stab[i];
    // the differential decoder (vfxfDifdec4800, vfxfDifdec7200)
    r->descin = kBits == 3 ? vfxtGrayunmapLUT[(r->decin - r->decreg) & 7] : vfxtGrayunmap4LUT[(r->decin - r->decreg) & 3];
    r->decreg = r->decin;
    // the descrambler (vcf27Descram2, vcf27Descram3)
    uint32_t reg = r->dsreg;
    uint16_t guard = r->nones;
    r->desout = v27tScrambleSymbol<false, kBits>(r->descin, &reg, &guard);
    r->dsreg = reg;
    r->nones = guard;
    vcRxClbufSymbol(r->rxCpyToBufp, r->desout, r->rxnumBits);  // vcfRxClbuf
    Stages::update(r, buf, turn);
    VCBDMSTATUS st = carrierLoss(r);  // vfxfTonedet
    buf->bufp += f.nsym;
    if (f.rxcntr > 0 && --f.rxcntr == 0) st |= VCBDM_CNTR_EXPIRED;
    if (f.longtimer > 0 && --f.longtimer == 0) st |= VCBDM_LONGTIMER_EXPIRED;
    if (vcBdmStops(st, detmask, rtnmask)) return st;
  }
  return 0;
}

#if defined(VC_HAVE_AVX2_KERNELS)
// The run with the AVX2 forms, compiled for AVX2 so that the decision goes into it.
template <int kBits>
__attribute__((target("avx2"))) VCBDMSTATUS pageDataRunWide(VFXLOCLMEM* m, VCBDMSTATUS detmask, VCBDMSTATUS rtnmask) {
  return pageDataRun<kBits, PageDataWide>(m, detmask, rtnmask);
}
#endif

template <int kBits>
VCBDMSTATUS pageDataRun(VFXLOCLMEM* m, VCBDMSTATUS detmask, VCBDMSTATUS rtnmask) {
#if defined(VC_HAVE_AVX2_KERNELS)
  if (vcfDemod2T3SixWide(&m->v17zBaud.rxmem)) return pageDataRunWide<kBits>(m, detmask, rtnmask);
#endif
  return pageDataRun<kBits, PageDataPlain>(m, detmask, rtnmask);
}

// The bits per symbol of the page-data run that stands for the machine's stages as they are set
// (vfxfRxB1_init, vfxfRxData_init), or 0 when another set is in place.
int pageDataRunBits(VFXLOCLMEM* m) {
  const VCZRXFLOW& f = m->v17zBaud.rxflow;
  const VFXRATEPARM& rate = rp(m);
  const bool usual = f.equalizef == vcfDemod2T3 && f.decidef == vfxfRxdecide && f.decodef == rate.difdec &&
                     f.descramf == rate.descram && f.rxdataf == vcfRxClbuf && f.updatef == vcfRxupd2T3 &&
                     f.detectf == vfxfTonedet && f.hookf == static_cast<VCHOOKF>(vcfNullfunction);
  if (!usual) return 0;
  if (rate.descram == vcf27Descram3 && rate.difdec == vfxfDifdec7200) return 3;
  if (rate.descram == vcf27Descram2 && rate.difdec == vfxfDifdec4800) return 2;
  return 0;
}

// vcfBdmRxaction with the page-data run in place of the stages' loop where it stands for them.
void pageDataAction(VFXLOCLMEM* m) {
  VCZBAUD& b = m->v17zBaud;
  const int bits = pageDataRunBits(m);
  if (bits == 0) {
    vcfBdmRxaction(&b);
    return;
  }
  const VCZRXFLOW& f = b.rxflow;
  const VCBDMSTATUS st = bits == 3 ? pageDataRun<3>(m, f.detmask, f.rtnmask) : pageDataRun<2>(m, f.detmask, f.rtnmask);
  if (st == 0) return;
  if ((st & f.detmask) == f.detmask)
    vcfStmPutEvent(&b.rxeventq, f.detevent);
  else if (st & f.rtnmask)
    vcfStmPutEvent(&b.rxeventq, f.rtnevent);
}

// ---- row-0 actions ----

int32_t vfxfRx(void* ctx) {
  vcfBdmRxaction(&M(ctx)->v17zBaud);
  return 0;
}
int32_t vfxfRxWait(void* ctx) {
  vcfBdmRxwait(&M(ctx)->v17zBaud);
  return 0;
}
int32_t vfxfRxCont(void* ctx) {
  vcfBdmRxnoaction(&M(ctx)->v17zBaud);
  return 0;
}
int32_t vfxfFindgain(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  if (vfxPumpFindGain(m, m->v17zBaud.rxflow.nsym)) defer(m, f_gainDone);
  return 0;
}
int32_t vfxfChkRxTCF(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  defer(m, (m->v17zState.status & VFX_RXDATA) ? f_data : f_TCF);
  return 0;
}
int32_t vfxfRxData(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  if (m->v17zClientCmd.header == VFX_RX_CMD) {
    m->v17zClientCmd.header = 0;
    defer(m, f_CD);
    return 0;
  }
  pageDataAction(m);
  trackPeak(m);
  return 0;
}
int32_t vfxfRxTCF(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  vcfBdmRxwait(&m->v17zBaud);
  trackPeak(m);
  return 0;
}

// ---- set-ups ----

int32_t vfxfDetS_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  resetRxBaud(m);
  VCZBAUD& b = m->v17zBaud;
  b.rxflow.nsym = static_cast<uint16_t>(mp(m).sampPerSym);
  vcfTonedetinit(&b.rxmem, mp(m).carrierParam, 20, 180, static_cast<int16_t>(mp(m).sampPerSym / 3));
  b.rxmem.sdet.tonetap = static_cast<int16_t>(0x8001);
  b.rxflow.detectf = vcfTonedet;
  initDemod(m);
  if (v27(m)) b.rxflow.equalizef = vcfDemod2T3;
  b.rxmem.dsreg = 0;
  b.rxmem.rxdata = 3;
  vcfBdmSetRxAction(&b, VCBDM_PWR_ABOVE | VCBDM_TONE_ON, f_SDet, 0, 0, 7200);
  return 0;
}
int32_t vfxfFindgain_init(void* ctx) {
  vcfInitFindGain(12, 16000, &M(ctx)->u.rx.v17zAgcGain);
  return 0;
}
int32_t vfxfTimRec_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  wait(m, v27(m) ? 27 : 90);
  m->pageflag |= PF_TIMFRESH;
  m->v17zState.status |= VFX_TIMING;
  return 0;
}
int32_t vfxfDetPhRevS_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  m->v17zBaud.rxflow.equalizef = vcfDemod2T3;
  vcfBdmSetRxAction(&m->v17zBaud, VCBDM_PWR_ABOVE | VCBDM_CORR_NEG, f_phRevSDet, 0, 0, 2400);
  return 0;
}
int32_t vfxfWaitSb_init(void* ctx) {
  wait(M(ctx), v27(M(ctx)) ? 1 : 3);
  return 0;
}
int32_t vfxfTrn_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  vcfGenEventStd(VFX_RXTRAIN_EVT, 1, 0);
  VCZBAUD& b = m->v17zBaud;
  initDemod(m);
  b.rxflow.equalizef = vcfDemod2T3;
  b.rxflow.updatef = vcfRxupd2T3;
  b.rxflow.decidef = vfxfRxref;
  b.rxflow.descramf = v27(m) ? v27fRxpn127 : vfxfRxpn127;
  b.rxmem.dsreg = v27(m) ? 60 : 42;
  b.rxmem.nones = 0;
  b.rxmem.desout = 0;
  wait(m, v27(m) ? 1074 : 384);
  vcfTonedetinit(&b.rxmem, mp(m).carrierParam, 20, 180, static_cast<int16_t>(mp(m).sampPerSym / 3));
  b.rxflow.detectf = vfxfTonedet;
  return 0;
}
void armCarrierLoss(VFXLOCLMEM* m) {
  VCZCTONEDET& t = m->v17zBaud.rxmem.sdet;
  t.carthresh = 2000;
  t.countthresh = 20;
  t.count = 0;
}
int32_t vfxfRxB1_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  VCZBAUD& b = m->v17zBaud;
  b.rxflow.decidef = vfxfRxdecide;
  b.rxflow.decodef = rp(m).difdec;
  b.rxflow.descramf = rp(m).descram;
  b.rxmem.rxnumBits = rp(m).numbits;
  b.rxmem.dsreg = 0;
  b.rxmem.nones = 0;
  wait(m, v27(m) ? 8 : 48);
  demod(m).eq.eqstate = 0;
  demod(m).aveError = 0;
  armCarrierLoss(m);
  return 0;
}
int32_t vfxfRxData_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  v17InitCopyToClBuf(m);
  m->v17zBaud.rxmem.rxCpyToBufp = &m->v17zCpyToClBuf;
  m->u.rx.v17zDemod.peakAveError = 0;
  vcfBdmSetRxAction(&m->v17zBaud, VCBDM_PWR_BELOW, f_noCarrier, 0, 0, -1);
  vcfGenEventStd(VFX_DATA_EVT, 0, 0);
  return 0;
}
int32_t vfxfRxIdle_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  resetRxBaud(m);
  vfxPumpRxEnd(m);
  m->pageflag = 0;
  return 0;
}
int32_t vfxfPreTCFwait_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  wait(m, rp(m).baud * 15 / 100);
  v17InitCopyToClBuf(m);
  return 0;
}
int32_t vfxfRxTCF_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  vcfInitRxTCF(&m->v17zBaud, m->desiredrate == 0 ? S_1200 : (m->desiredrate == 1 ? S_1600 : S_2400));
  m->u.rx.v17zDemod.peakAveError = 0;
  return 0;
}
int32_t vfxfRxTCF_exit(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  m->v17zBaud.rxflow.hookf = vcfNullfunction;
  vcfBdmSetRxAction(&m->v17zBaud, VCBDM_PWR_BELOW, f_noCarrier, 0, 0, -1);
  return 0;
}
int32_t vfxfRxTCFIdle_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  const uint16_t ones = m->v17zBaud.rxmem.onesInTCF;
  resetRxBaud(m);
  vfxPumpRxTcfDone(m, ones);
  return 0;
}

#define ROW0(state, action) {0, state, {action}}
#define END {-1, nullptr, {nullptr}}

extern const V17ZSTMEV vfxsr_findgain[], vfxsr_waitTimStrt[], vfxsr_detPhRevS[], vfxsr_waitSb[], vfxsr_trn[],
    vfxsr_rxB1[], vfxsr_chkRxTCF[], vfxsr_preTCFwait[], vfxsr_rxTCF[], vfxsr_postTCFwait[], vfxsr_rxData[],
    vfxsr_idle[];

const V17ZSTMEV vfxsr_detS[] = {ROW0(vfxsr_detS, vfxfRx), {f_SDet, vfxsr_findgain, {vfxfFindgain_init}}, END};
const V17ZSTMEV vfxsr_findgain[] = {ROW0(vfxsr_findgain, vfxfFindgain), {f_gainDone, vfxsr_waitTimStrt, {vfxfTimRec_init}}, END};
const V17ZSTMEV vfxsr_waitTimStrt[] = {ROW0(vfxsr_waitTimStrt, vfxfRxWait), {f_waitDone, vfxsr_detPhRevS, {vfxfDetPhRevS_init}}, END};
const V17ZSTMEV vfxsr_detPhRevS[] = {ROW0(vfxsr_detPhRevS, vfxfRx), {f_phRevSDet, vfxsr_waitSb, {vfxfWaitSb_init}}, END};
const V17ZSTMEV vfxsr_waitSb[] = {ROW0(vfxsr_waitSb, vfxfRxWait), {f_waitDone, vfxsr_trn, {vfxfTrn_init}}, END};
const V17ZSTMEV vfxsr_trn[] = {ROW0(vfxsr_trn, vfxfRxWait), {f_waitDone, vfxsr_rxB1, {vfxfRxB1_init}}, END};
const V17ZSTMEV vfxsr_rxB1[] = {ROW0(vfxsr_rxB1, vfxfRxWait), {f_waitDone, vfxsr_chkRxTCF, {nullptr}}, END};
const V17ZSTMEV vfxsr_chkRxTCF[] = {ROW0(vfxsr_chkRxTCF, vfxfChkRxTCF),
                                    {f_TCF, vfxsr_preTCFwait, {vfxfPreTCFwait_init}},
                                    {f_data, vfxsr_rxData, {vfxfRxData_init}},
                                    END};
const V17ZSTMEV vfxsr_preTCFwait[] = {ROW0(vfxsr_preTCFwait, vfxfRxWait), {f_waitDone, vfxsr_rxTCF, {vfxfRxTCF_init}}, END};
const V17ZSTMEV vfxsr_rxTCF[] = {ROW0(vfxsr_rxTCF, vfxfRxTCF), {f_waitDone, vfxsr_postTCFwait, {vfxfRxTCF_exit}}, END};
const V17ZSTMEV vfxsr_postTCFwait[] = {ROW0(vfxsr_postTCFwait, vfxfRx), {f_noCarrier, vfxsr_idle, {vfxfRxTCFIdle_init}}, END};
const V17ZSTMEV vfxsr_rxData[] = {ROW0(vfxsr_rxData, vfxfRxData),
                                  {f_noCarrier, vfxsr_idle, {vfxfRxIdle_init}},
                                  {f_CD, vfxsr_idle, {vfxfRxIdle_init}},
                                  END};
const V17ZSTMEV vfxsr_idle[] = {ROW0(vfxsr_idle, vfxfRxCont), END};

#undef ROW0
#undef END

// Tracking schedules, once per symbol until 30000 symbols: the loop starts still, then takes
// steps of 3355 (200 ppm of a sample per sample) or, at first, 5032 for V.29; the band-edge
// filter's input is scaled up once the training is under way. A step of 3355 follows at most
// 200 ppm of clock offset between the two ends.
void vfxfTimingFSM27(VCZTRKTIMPAR* k) {
  if (k->timingSymCnt >= 30000) return;
  switch (++k->timingSymCnt) {
    case 1: k->timingAdjInc = 0; break;
    case 10: k->timingAdjInc = k->timingAdjCurrInc = 3355; break;
    case 50: k->trkCalcTimParm.scale = 10; break;
    default: break;
  }
}

void vfxfTimingFSM29(VCZTRKTIMPAR* k) {
  if (k->timingSymCnt >= 30000) return;
  switch (++k->timingSymCnt) {
    case 1: k->timingAdjInc = 0; break;
    case 10: k->timingAdjInc = k->timingAdjCurrInc = 5032; break;
    case 128:
      k->timingAdjInc = 3355;
      k->trkCalcTimParm.scale = 12;
      break;
    default: break;
  }
}

// Timing recovery for the modem type. V.29 acquires the symbol phase from the alternation and
// tracks three samples (one symbol) per step. V.27ter starts tracking at once (acquisition state
// done): its 2T/3 equaliser trains on the long sequence at whatever phase the samples have, so
// only the drift has to be followed. Its tracker steps over the six samples of a symbol (skip
// factor 5): the band-edge product turns by 60 degrees a sample, so it is steady only once per
// six samples, and the schedule's counts are then symbols as they are for V.29. The acquisition
// values (one sample skipped, magic 20000, 3072 steps per symbol) are kept in the record but not
// used.
void vfxfInitTiming(VCZTIMADJ* t, uint16_t modemType) {
  const bool isV27 = modemType != 0;
  vcfInitTiming(isV27 ? vfxfTimingFSM27 : vfxfTimingFSM29, S_2400, LOWCARRIER, FIRST_TRN, t);
  VCZTIMACQPAR& a = t->acqParm;
  VCZTRKTIMPAR& k = t->trkParm;
  a.numJamSymToUse = vfxNumJamSym[modemType];
  a.acqCalcTimParm.coeffp = vfxtiming_acq[modemType];
  k.trkCalcTimParm.coeffp = vfxtiming[modemType];
  if (isV27) {
    a.timSampToSkip = 1;
    a.magic = 20000;
    a.interpIncPerSym = 3072;
    a.timeAcqState = ACQ_DONE;
    k.trkCalcTimParm.scale = 9;
    k.trkCalcTimParm.skipFactor = 5;
  } else {
    a.magic = 10224;
    a.interpIncPerSym = 1536;
    k.trkCalcTimParm.scale = 10;
  }
}

void startTiming(VFXLOCLMEM* m) {
  if (m->pageflag & PF_TIMFRESH) {
    vfxfInitTiming(&m->u.rx.v17zTimAdjParam, m->modemType > 2 ? 0 : m->modemType);
    m->pageflag = static_cast<uint16_t>(m->pageflag & ~PF_TIMFRESH);
  }
}

void vfxfRcvrBlkTsk(VFXLOCLMEM* m, const int16_t* frame) {
  vfxPumpRxFrontEnd(m, frame, {mp(m).resampleParam, kEqHist, mp(m).sampPerSym, startTiming});
  if (m->pageflag & PF_RXSTART) {
    vfxfDetS_init(m);
    m->v17zStm.stp = vfxsr_detS;
    m->pageflag = static_cast<uint16_t>(m->pageflag & ~PF_RXSTART);
  }
  vfxPumpRxRun(m, m->v17zBaud.rxflow.nsym, kEqHist);
  vfxPumpRxDataOut(m);
}

}  // namespace

void vfxStartRx(VFXLOCLMEM* m, uint16_t op1) {
  m->v17zClientCmd = HSFMSGSTD{};
  vcfStmInitQueue(&m->v17zBaud.rxeventq);
  m->desiredrate = vfxfGetBitRate(m->v17zRegs.hsxrate);
  m->modemType = m->desiredrate >= 2 ? 0 : (m->desiredrate == 1 ? 1 : 2);
  V17ZRX& rx = m->u.rx;
  rx.gain = 1024;
  std::memset(&rx.v17zTimAdjParam, 0, sizeof(rx.v17zTimAdjParam));
  std::memset(&rx.v17zT3Param, 0, sizeof(rx.v17zT3Param));
  vcfBdmRxbaud_init(&m->v17zBaud);
  m->v17zBaud.rxflow.coutev = f_waitDone;
  m->v17zBaud.rxmem.rxCpyToBufp = &m->v17zCpyToClBuf;
  m->pageflag = PF_RXSTART | PF_RXPARSER | PF_RXRESAMP;
  uint16_t& st = m->v17zState.status;
  if (op1 == HSGFAXRXCFGTURNON || op1 == HSGFAXRXCFGEXTTURNON || op1 == HSGFAXRXCFGECMDATA) st |= VFX_RXDATA;
  if (op1 == HSGFAXRXCFGTCFDATA) st |= VFX_TCFERR;
  m->rxcfg = op1;
  st |= VFX_RECEIVING;
}

void vfxfBlkTskRx(VFXLOCLMEM* m, const int16_t* frame) { vfxfRcvrBlkTsk(m, frame); }
