// V.17 receiver: front end (resampling to three samples per symbol, gain, timing recovery), the
// training, TCF and data sequence, and the hand-over of received data to the client.
#include <algorithm>
#include <cstring>

#include "vc_code.h"
#include "vfx.h"
#include "vfx_pumpbase.h"

namespace {

VFXLOCLMEM* M(void* ctx) { return static_cast<VFXLOCLMEM*>(ctx); }

constexpr VCBDMSTATUS kLostSignal = 0x2000000;  // hook status: average error above 5000
constexpr int kEqHist = 62;

const VCZGS v17tEqgshLUT[] = {{100, -1, 0, 0, 0},      {400, -2, 300, 800, 0},  {400, -3, 300, 800, 0},
                              {500, -4, 300, 800, 0},  {1500, -4, 400, 200, 0}, {1500, -5, 400, 200, 0},
                              {-1, -5, 400, 200, 0}};
const VCZGS v17tSEqgshLUT[] = {{270, -16, 1600, 0, -32768}, {200, -4, 300, 0, -32768},
                               {400, -5, 300, 0, -32768},   {-1, -5, 300, 0, -32768}};

void defer(VFXLOCLMEM* m, V17EEVENT ev) { m->deferred = ev; }

VCZDEMODT3& demod(VFXLOCLMEM* m) { return m->u.rx.v17zDemod.dem; }

void clearEqualiser(VFXLOCLMEM* m) {
  V17ZDEMOD& d = m->u.rx.v17zDemod;
  std::memset(&d.eqMem, 0, sizeof(d.eqMem));
  d.dem.eq.coeffRealp = d.eqMem.cr;
  d.dem.eq.coeffImagp = d.eqMem.ci;
  d.dem.eq.eqlen1 = 53;
  d.dem.eq.ulen1 = 53;
}

void resetRxBaud(VFXLOCLMEM* m) {
  VCZBAUD& b = m->v17zBaud;
  const VCZBUF keep = b.rxlbuf;
  vcfBdmRxbaud_init(&b);
  b.rxlbuf = keep;
  b.rxflow.coutev = e_waitDone;
  b.rxmem.u.t3 = &demod(m);
  b.rxmem.vitp = &m->u.rx.v17zVitParam;
}

void wait(VFXLOCLMEM* m, int16_t symbols) { m->v17zBaud.rxflow.rxcntr = symbols; }

void trackPeak(VFXLOCLMEM* m) {
  V17ZDEMOD& d = m->u.rx.v17zDemod;
  if (d.dem.aveError > d.peakAveError) d.peakAveError = d.dem.aveError;
}

VCBDMSTATUS lossHook(VCZBAUD* baud) {
  auto* m = reinterpret_cast<VFXLOCLMEM*>(reinterpret_cast<unsigned char*>(baud) - offsetof(VFXLOCLMEM, v17zBaud));
  trackPeak(m);
  return demod(m).aveError > 5000 ? kLostSignal : 0;
}

// ---- row-0 actions ----

int32_t v17fRx(void* ctx) {
  vcfBdmRxaction(&M(ctx)->v17zBaud);
  return 0;
}

int32_t v17fRxWait(void* ctx) {
  vcfBdmRxwait(&M(ctx)->v17zBaud);
  return 0;
}

int32_t v17fRxCont(void* ctx) {
  vcfBdmRxnoaction(&M(ctx)->v17zBaud);
  return 0;
}

int32_t v17fFindgain(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  if (vfxPumpFindGain(m, 3)) defer(m, e_gainDone);
  return 0;
}

int32_t v17fChkRxTCF(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  defer(m, (m->v17zState.status & VFX_RXDATA) ? e_data : e_TCF);
  return 0;
}

int32_t v17fRxData(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  if (m->v17zClientCmd.header == VFX_RX_CMD) {
    m->v17zClientCmd.header = 0;
    defer(m, e_CD);
    return 0;
  }
  vcfBdmRxaction(&m->v17zBaud);
  return 0;
}

int32_t v17fRxTCF(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  vcfBdmRxwait(&m->v17zBaud);
  trackPeak(m);
  return 0;
}

int32_t v17fRxNoCarr(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  vcfBdmRxaction(&m->v17zBaud);
  return 0;
}

// ---- set-ups ----

void watchToneDetector(VFXLOCLMEM* m) {
  VCZBAUD& b = m->v17zBaud;
  vcfTonedetinit(&b.rxmem, 16384, 20, 150, 1);
  b.rxmem.sdet.tonetap = static_cast<int16_t>(0x8001);
  b.rxflow.detectf = vcfTonedet;
  vcfBdmSetRxAction(&b, VCBDM_PWR_ABOVE | VCBDM_TONE_ON, e_SDet, 0, 0, 7200);
}

int32_t v17fDetS_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  clearEqualiser(m);
  vcfDemodInitT3(&demod(m), v17tEqgshLUT, -16384);
  resetRxBaud(m);
  watchToneDetector(m);
  return 0;
}

int32_t v17fFindgain_init(void* ctx) {
  vcfInitFindGain(30, 16000, &M(ctx)->u.rx.v17zAgcGain);
  return 0;
}

int32_t v17fTimRec_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  wait(m, 150);
  m->pageflag |= PF_TIMFRESH;
  m->v17zState.status |= VFX_TIMING;
  return 0;
}

int32_t v17fDetPhRevS_init(void* ctx) {
  vcfBdmSetRxAction(&M(ctx)->v17zBaud, VCBDM_PWR_ABOVE | VCBDM_CORR_NEG, e_phRevSDet, 0, 0, 2400);
  return 0;
}

int32_t v17fWaitSb_init(void* ctx) {
  wait(M(ctx), 4);
  return 0;
}

void trainingReception(VFXLOCLMEM* m) {
  VCZBAUD& b = m->v17zBaud;
  vcfRxgpctrn2v3xT3_init(&b);
  vcfRxref4pv3x_init(&b);
  b.rxmem.dsreg = 0x55D9BA;
  b.rxmem.rxdata = 3;
}

int32_t v17fTrn_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  vcfGenEventStd(VFX_RXTRAIN_EVT, 1, 0);
  trainingReception(m);
  vcfDemodInitT3(&demod(m), v17tEqgshLUT, -16384);
  clearEqualiser(m);
  wait(m, 2976);
  m->v17zBaud.rxflow.detectf = vcfNullfunction;
  return 0;
}

int32_t v17fDetR_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  wait(m, 64);
  demod(m).eq.eqstate = static_cast<int16_t>(0xFFFF);
  return 0;
}

int32_t v17fRxB1_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  VCZBAUD& b = m->v17zBaud;
  VCZRXFLOW& f = b.rxflow;
  f.rxdataf = vcfNullfunction;
  f.detectf = vcfNullfunction;
  f.hookf = vcfNullfunction;
  f.equalizef = vcfDemodT3;
  f.updatef = vcfRxupdT3;
  const int16_t idx = vcfFindrate(m->desiredrate);
  const VCZRATEPARM& row = vctRatetabLUT[idx < 0 ? 0 : idx];
  static constexpr uint16_t kBps[7] = {0, 0, 9600, 7200, 9600, 12000, 14400};
  VCZVITERBI32& vit = m->u.rx.v17zVitParam;
  vcfViterbiInit32(&vit, kBps[row.ridx]);
  vit.vitscale = row.rxscale;
  b.rxmem.vitp = &vit;
  demod(m).car.qamRxPhase = static_cast<int16_t>(demod(m).car.qamRxPhase + row.rxphase);
  f.decidef = vcfvitdec3x;
  f.decodef = v3xfRxdec;
  f.descramf = vctGpcDesLUT[row.ridx];
  b.rxmem.rxnumBits = row.numbits;
  b.rxmem.dsreg = 0;
  wait(m, 48);
  demod(m).eq.eqstate = 0;
  demod(m).aveError = 0;
  return 0;
}

int32_t v17fRxData_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  v17InitCopyToClBuf(m);
  m->u.rx.v17zDemod.peakAveError = 0;
  demod(m).aveError = 0;
  m->v17zBaud.rxflow.hookf = lossHook;
  vcfBdmSetRxAction(&m->v17zBaud, kLostSignal, e_noCarrier, 0, 0, -1);
  vcfGenEventStd(VFX_DATA_EVT, 0, 0);
  return 0;
}

int32_t v17fRxIdle_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  resetRxBaud(m);
  m->savedGain = m->u.rx.gain;
  vfxPumpRxEnd(m);
  return 0;
}

int32_t v17fPreTCFwait_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  wait(m, 360);
  v17InitCopyToClBuf(m);
  return 0;
}

int32_t v17fRxTCF_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  vcfInitRxTCF(&m->v17zBaud, S_2400);
  m->u.rx.v17zDemod.peakAveError = 0;
  return 0;
}

int32_t v17fRxTCF_exit(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  m->v17zBaud.rxflow.hookf = lossHook;
  vcfBdmSetRxAction(&m->v17zBaud, kLostSignal, e_noCarrier, 0, 0, -1);
  return 0;
}

int32_t v17fRxTCFIdle_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  const uint16_t ones = m->v17zBaud.rxmem.onesInTCF;
  resetRxBaud(m);
  m->savedGain = m->u.rx.gain;
  vfxPumpRxTcfDone(m, ones);
  return 0;
}

// ---- short training: the equaliser of the previous reception, re-aligned ----

int32_t v17fDetS2_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  // An instance that has not trained yet has no equaliser to keep: it starts from a cleared one
  // (that training cannot succeed, but it reads no coefficients that are not there).
  if (demod(m).eq.coeffRealp == nullptr) clearEqualiser(m);
  resetRxBaud(m);
  trainingReception(m);
  VCZBAUD& b = m->v17zBaud;
  b.rxflow.descramf = vcfNullfunction;
  b.rxflow.decidef = vcfRxdec4pv3x;
  watchToneDetector(m);
  demod(m).eq.eqstate = static_cast<int16_t>(0xFFFF);  // frozen, no carrier error
  return 0;
}

int32_t v17fTimRec2_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  wait(m, 150);
  int32_t* cr = demod(m).eq.coeffRealp;
  int32_t* ci = demod(m).eq.coeffImagp;
  vcfDemodInitT3(&demod(m), v17tSEqgshLUT, -16384);
  demod(m).eq.coeffRealp = cr;
  demod(m).eq.coeffImagp = ci;
  m->pageflag |= PF_TIMKEEP;
  m->v17zState.status |= VFX_TIMING;
  return 0;
}

// Squared distance between the outputs of two successive symbols with the window shifted by
// `offset` samples: the largest one marks the symbol centre.
int32_t applyEQcalcDistErr(VFXLOCLMEM* m, int offset) {
  const VCZBUF& lb = m->v17zBaud.rxlbuf;
  if (lb.bufp + 5 + offset >= lb.endp + 3) return 0;
  VCZCOMPLEX a, b;
  vcfAppEQandCarr(demod(m).car.qamRxPhase, &demod(m).eq, lb.bufp + 2 + offset, &a);
  vcfAppEQandCarr(static_cast<int16_t>(demod(m).car.qamRxPhase - demod(m).car.phasedecr), &demod(m).eq,
                  lb.bufp + 5 + offset, &b);
  const int32_t dr = a.real - b.real, di = a.imag - b.imag;
  return (dr * dr + di * di) >> 15;
}

void v17fadjusttiming(VFXLOCLMEM* m) {
  VCZDEMODT3& d = demod(m);
  for (int k = 0; k < 3; ++k) d.accDistErr[k] = static_cast<int16_t>(std::min<int32_t>(applyEQcalcDistErr(m, k), 32767));
  int best = 0;
  int32_t bestVal = d.accDistErr[0] < 0 ? 0 : d.accDistErr[0];
  for (int k = 1; k < 3; ++k)
    if (d.accDistErr[k] > bestVal) {
      bestVal = d.accDistErr[k];
      best = k;
    }
  // the coefficient memory holds two spare taps for this shift
  V17EQMEM& mem = m->u.rx.v17zDemod.eqMem;
  const long used = d.eq.coeffRealp - mem.cr;
  const long shift = std::min<long>(best, 56 - 54 - used);
  if (shift > 0) {
    d.eq.coeffRealp += shift;
    d.eq.coeffImagp += shift;
  }
}

int32_t v17fStimingjam_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  wait(m, 50);
  v17fadjusttiming(m);
  return 0;
}

int32_t v17fSavgcargain_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  wait(m, 16);
  vcfRxFupdave_init(&m->v17zBaud.rxmem);
  m->v17zBaud.rxflow.updatef = vcfRxFupdaveT3;
  return 0;
}

int32_t v17fSjamgain_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  vcfGenEventStd(VFX_RXTRAIN_EVT, 0, 0);
  wait(m, 26);
  int16_t gain, phase;
  vcfRxFcgjam(&m->v17zBaud.rxmem, &gain, &phase);
  demod(m).car.qamRxPhase = static_cast<int16_t>(demod(m).car.qamRxPhase - phase);
  demod(m).eqgain = gain;
  m->v17zBaud.rxflow.updatef = vcfRxupdT3;
  demod(m).eq.eqstate = 0;
  demod(m).aveError = 0;
  m->v17zBaud.rxflow.detectf = vcfNullfunction;
  return 0;
}

#define ROW0(state, action) {e_v17default, state, {action}}
#define END {e_v17null, nullptr, {nullptr}}

extern const V17ZSTMEV v17sr_findgain[], v17sr_waitTimStrt[], v17sr_detPhRevS[], v17sr_waitSb[], v17sr_trn[],
    v17sr_detR[], v17sr_rxB1[], v17sr_chkRxTCF[], v17sr_preTCFwait[], v17sr_rxTCF[], v17sr_postTCFwait[],
    v17sr_rxData[], v17sr_idle[];

const V17ZSTMEV v17sr_detS[] = {ROW0(v17sr_detS, v17fRx), {e_SDet, v17sr_findgain, {v17fFindgain_init}}, END};
const V17ZSTMEV v17sr_findgain[] = {ROW0(v17sr_findgain, v17fFindgain), {e_gainDone, v17sr_waitTimStrt, {v17fTimRec_init}}, END};
const V17ZSTMEV v17sr_waitTimStrt[] = {ROW0(v17sr_waitTimStrt, v17fRxWait), {e_waitDone, v17sr_detPhRevS, {v17fDetPhRevS_init}}, END};
const V17ZSTMEV v17sr_detPhRevS[] = {ROW0(v17sr_detPhRevS, v17fRx), {e_phRevSDet, v17sr_waitSb, {v17fWaitSb_init}}, END};
const V17ZSTMEV v17sr_waitSb[] = {ROW0(v17sr_waitSb, v17fRxWait), {e_waitDone, v17sr_trn, {v17fTrn_init}}, END};
const V17ZSTMEV v17sr_trn[] = {ROW0(v17sr_trn, v17fRxWait), {e_waitDone, v17sr_detR, {v17fDetR_init}}, END};
const V17ZSTMEV v17sr_detR[] = {ROW0(v17sr_detR, v17fRxWait), {e_waitDone, v17sr_rxB1, {v17fRxB1_init}}, END};
const V17ZSTMEV v17sr_rxB1[] = {ROW0(v17sr_rxB1, v17fRxWait), {e_waitDone, v17sr_chkRxTCF, {nullptr}}, END};
const V17ZSTMEV v17sr_chkRxTCF[] = {ROW0(v17sr_chkRxTCF, v17fChkRxTCF),
                                    {e_TCF, v17sr_preTCFwait, {v17fPreTCFwait_init}},
                                    {e_data, v17sr_rxData, {v17fRxData_init}},
                                    END};
const V17ZSTMEV v17sr_preTCFwait[] = {ROW0(v17sr_preTCFwait, v17fRxWait), {e_waitDone, v17sr_rxTCF, {v17fRxTCF_init}}, END};
const V17ZSTMEV v17sr_rxTCF[] = {ROW0(v17sr_rxTCF, v17fRxTCF), {e_waitDone, v17sr_postTCFwait, {v17fRxTCF_exit}}, END};
const V17ZSTMEV v17sr_postTCFwait[] = {ROW0(v17sr_postTCFwait, v17fRxNoCarr), {e_noCarrier, v17sr_idle, {v17fRxTCFIdle_init}}, END};
const V17ZSTMEV v17sr_rxData[] = {ROW0(v17sr_rxData, v17fRxData),
                                  {e_noCarrier, v17sr_idle, {v17fRxIdle_init}},
                                  {e_CD, v17sr_idle, {v17fRxIdle_init}},
                                  END};
const V17ZSTMEV v17sr_idle[] = {ROW0(v17sr_idle, v17fRxCont), END};

extern const V17ZSTMEV v17sr_SwaitTimStrt[], v17sr_StimingJam[], v17sr_SdetPhRevS[], v17sr_Savgcargain[], v17sr_Strn[];
const V17ZSTMEV v17sr_SdetS[] = {ROW0(v17sr_SdetS, v17fRx), {e_SDet, v17sr_SwaitTimStrt, {v17fTimRec2_init}}, END};
const V17ZSTMEV v17sr_SwaitTimStrt[] = {ROW0(v17sr_SwaitTimStrt, v17fRxWait), {e_waitDone, v17sr_StimingJam, {v17fStimingjam_init}}, END};
const V17ZSTMEV v17sr_StimingJam[] = {ROW0(v17sr_StimingJam, v17fRxWait), {e_waitDone, v17sr_SdetPhRevS, {v17fDetPhRevS_init}}, END};
const V17ZSTMEV v17sr_SdetPhRevS[] = {ROW0(v17sr_SdetPhRevS, v17fRx), {e_phRevSDet, v17sr_Savgcargain, {v17fSavgcargain_init}}, END};
const V17ZSTMEV v17sr_Savgcargain[] = {ROW0(v17sr_Savgcargain, v17fRxWait), {e_waitDone, v17sr_Strn, {v17fSjamgain_init}}, END};
const V17ZSTMEV v17sr_Strn[] = {ROW0(v17sr_Strn, v17fRxWait), {e_waitDone, v17sr_rxB1, {v17fRxB1_init}}, END};

#undef ROW0
#undef END

// Timing recovery afresh for the long training, from the previous timing for the short one.
void startTiming(VFXLOCLMEM* m) {
  VCZTIMADJ& t = m->u.rx.v17zTimAdjParam;
  if (m->pageflag & PF_TIMFRESH) {
    vcfInitTiming(vcftimingFSM32, S_2400, HIGHCARRIER, FIRST_TRN, &t);
    m->pageflag = static_cast<uint16_t>(m->pageflag & ~PF_TIMFRESH);
  }
  if (m->pageflag & PF_TIMKEEP) {
    vcfInitTiming(vcftimingFSM32, S_2400, HIGHCARRIER, SECOND_TRN, &t);
    m->pageflag = static_cast<uint16_t>(m->pageflag & ~PF_TIMKEEP);
  }
}

// Three samples per symbol at 7200/s.
constexpr VFXRXFRONTPARM kFrontParm{0, kEqHist, 3, startTiming};

}  // namespace

void v17InitCopyToClBuf(VFXLOCLMEM* m) {
  vcfDumpRxDataPkts(&m->v17zCpyToClBuf);
  vcfInitCopyToClBuf(&m->v17zCpyToClBuf,
                     vfxBitsPerPacket(m->v17zRegs.hsxnumbits, v17fGetBitsPerSec(m->v17zRegs.hsxrate)), m->heapId,
                     VFX_RXDATA_EVT);
  m->v17zBaud.rxflow.rxdataf = vcfRxClbuf;
  m->v17zBaud.rxmem.rxCpyToBufp = &m->v17zCpyToClBuf;
}

void v17fRcvrBlkTsk(VFXLOCLMEM* m, const int16_t* frame) {
  vfxPumpRxFrontEnd(m, frame, kFrontParm);
  if (m->pageflag & PF_RXSTART) {
    if (m->pageflag & PF_RXLONG) {
      v17fDetS_init(m);
      m->v17zStm.stp = v17sr_detS;
    } else {
      v17fDetS2_init(m);
      m->v17zStm.stp = v17sr_SdetS;
    }
    m->pageflag = static_cast<uint16_t>(m->pageflag & ~PF_RXSTART);
  }
  vfxPumpRxRun(m, 3, kEqHist);
  vfxPumpRxDataOut(m);
}
