// Gain finding, the two equaliser families and carrier recovery.
#include "vc_demod.h"

#include <cstring>

#include "vc_code.h"
#include "vc_eqkern.h"

namespace {


// Rotates z by +phase with Q15 products (>> 15).
VCZCOMPLEX rotate(int32_t re, int32_t im, int16_t phase) {
  const int32_t c = fxcos(static_cast<uint16_t>(phase)), s = fxsin(static_cast<uint16_t>(phase));
  return VCZCOMPLEX{static_cast<int16_t>((re * c - im * s) >> 15),
                    static_cast<int16_t>((re * s + im * c) >> 15)};
}

// Loads the next gear-shift row once the current one has run its count + 1 symbols.
template <class Eq>
void gearShift(Eq& eq, VCZCRPAR& car, int16_t& idx, const VCZGS* table) {
  if (eq.cnt < 0 || table == nullptr) return;
  if (eq.cnt > 0) {
    --eq.cnt;
    return;
  }
  ++idx;
  const VCZGS& row = table[idx];
  eq.cnt = row.count;
  eq.stepsize = row.stepsize;
  eq.eqstate = row.eqstate;
  car.pll1 = row.pll1;
  car.pll2 = row.pll2;
}

void carrierStep(VCZRXMEM* r, VCZCRPAR* car, int16_t eqstate) {
  const VCZCOMPLEX* soft = (eqstate & 0x4000) ? &r->dpout1 : &r->bbeqout;
  vcfCarrierRec(soft, &r->dpout1, car);
}

}  // namespace

// ---- gain finding ----

void vcfInitFindGain(uint16_t numSampToAvg, int16_t gainConst, VCZAGC* agc) {
  agc->gain = 0;
  agc->sigLevel = 0;
  agc->numSampProc = 0;
  agc->numSampToAvg = numSampToAvg;
  agc->gainConst = gainConst;
}

bool vcfFindGain(VCZBUF* rd, const VCZBUF* wr, VCZAGC* agc) {
  const int32_t n = static_cast<int32_t>(wr->bufp - rd->bufp);
  if (n <= 0 || agc->numSampToAvg == 0) return false;
  const int32_t r = agc->numSampToAvg - agc->numSampProc;
  const bool complete = r <= n;
  const int32_t take = complete ? r : n;
  agc->numSampProc = complete ? agc->numSampToAvg : static_cast<uint16_t>(agc->numSampProc + n);
  int64_t sum = 0;
  for (int32_t i = 0; i < take; ++i) sum += fxabs(rd->bufp[i]);
  const int16_t inv = vcfdiv_s(1, static_cast<int16_t>(agc->numSampToAvg));
  agc->sigLevel = vcSat16(agc->sigLevel + static_cast<int32_t>((sum * inv) >> 15));
  if (complete) agc->gain = static_cast<uint16_t>(vcfdiv_d(agc->gainConst, agc->sigLevel) >> 7);
  rd->bufp += take;
  return complete;
}

// ---- T/3 pass-band equaliser ----

void vcfDemodInitT3(VCZDEMODT3* d, const VCZGS* gearTable, int16_t phasedecr) {
  d->eqgain = 0;
  d->currgshftidx = 0;
  d->aveError = 0;
  for (auto& a : d->accDistErr) a = 0;
  d->gstable = gearTable;
  d->eq.cnt = gearTable[0].count;
  d->eq.stepsize = gearTable[0].stepsize;
  d->eq.eqstate = gearTable[0].eqstate;
  d->car.pll1 = gearTable[0].pll1;
  d->car.pll2 = gearTable[0].pll2;
  d->car.phasedecr = phasedecr;
}

void vcfAppEQandCarr(int16_t qamRxPhase, const VCZEQPARMT3* eq, const int16_t* x, VCZCOMPLEX* out) {
  uint32_t re, im;
  vcEqDot(eq->coeffRealp, eq->coeffImagp, x, eq->eqlen1 + 1, &re, &im);
  const int32_t fr = (static_cast<int32_t>(re) + 4096) >> 13;
  const int32_t fi = (static_cast<int32_t>(im) + 4096) >> 13;
  *out = rotate(vcSat16(fr), vcSat16(fi), qamRxPhase);
}

VCBDMSTATUS vcfDemodT3(VCZRXMEM* r, VCZBUF* buf) {
  VCZDEMODT3* d = r->u.t3;
  vcfAppEQandCarr(d->car.qamRxPhase, &d->eq, buf->bufp + 2, &r->pbeqout);
  r->bbeqout.real = vcSat16(r->pbeqout.real + ((r->pbeqout.real * d->eqgain) >> 15));
  r->bbeqout.imag = vcSat16(r->pbeqout.imag + ((r->pbeqout.imag * d->eqgain) >> 15));
  return 0;
}

void vcfupdateEQ(VCZEQPARMT3* eq, const VCZCOMPLEX* e) {
  const int shift = -eq->stepsize;
  if (shift < 0 || shift > 31) return;
  vcEqUpdate(eq->coeffRealp, eq->coeffImagp, eq->eqfltUpdatep, eq->eqlen1 + 1, *e, shift);
}

VCBDMSTATUS vcfRxupdT3(VCZRXMEM* r, VCZBUF* buf) {
  VCZDEMODT3* d = r->u.t3;
  d->eq.eqfltUpdatep = buf->bufp + 2;
  VCZCOMPLEX e;
  fxcsub(&r->dpout1, &r->bbeqout, &e);
  vcfRemSoftDecErr(d->car.qamRxPhase, &e, &d->aveError, 1);
  if (d->eq.eqstate >= 0) vcfupdateEQ(&d->eq, &e);
  carrierStep(r, &d->car, d->eq.eqstate);
  gearShift(d->eq, d->car, d->currgshftidx, d->gstable);
  return 0;
}

// ---- training average and jams ----

void vcfRxFupdave_init(VCZRXMEM* r) {
  r->dpout16 = VCZCOMPLEX{0, 0};
  r->rxrcnt = 0;
}

VCBDMSTATUS vcfRxFupdave(VCZRXMEM* r, VCZBUF*) {
  const VCZCOMPLEX& b = r->bbeqout;
  const VCZCOMPLEX& d = r->dpout1;
  r->dpout16.real = static_cast<int16_t>(r->dpout16.real + ((fxmul(b.real, d.real) + fxmul(b.imag, d.imag)) >> 2));
  r->dpout16.imag = static_cast<int16_t>(r->dpout16.imag + ((fxmul(b.imag, d.real) - fxmul(b.real, d.imag)) >> 2));
  ++r->rxrcnt;
  return 0;
}

VCBDMSTATUS vcfRxFupdaveT3(VCZRXMEM* r, VCZBUF* buf) {
  vcfCarrierRec(&r->dpout1, &r->dpout1, &r->u.t3->car);
  return vcfRxFupdave(r, buf);
}

void vcfRxFcgjam(const VCZRXMEM* r, int16_t* gainOut, int16_t* phaseOut) {
  const uint32_t count = r->rxrcnt;
  const uint32_t accRe = static_cast<uint16_t>(r->dpout16.real);
  if (count == 0 || accRe == 0) {
    *gainOut = 0;
    *phaseOut = 0;
    return;
  }
  const uint32_t ratio = (count << 24) / accRe;
  *gainOut = static_cast<int16_t>(2 * (static_cast<int32_t>(ratio) - 16384));
  const int16_t im = static_cast<int16_t>(r->dpout16.imag + fxmul(*gainOut, r->dpout16.imag));
  *phaseOut = static_cast<int16_t>(2 * fxmul(im, static_cast<int16_t>((42722830 / count) >> 8)));
}

void vcfRxgpctrn2v3xT3_init(VCZBAUD* baud) {
  VCZRXFLOW& f = baud->rxflow;
  f.equalizef = vcfDemodT3;
  f.updatef = vcfRxupdT3;
  f.descramf = v32gpctrn2;
  f.decidef = vcfRxref2pv3x;
  f.decodef = vcfNullfunction;
  baud->rxmem.dsreg = 0;
  baud->rxmem.rxdata = 3;
}
