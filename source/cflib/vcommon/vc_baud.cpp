// The baud machine and the training segments of the trellis-coded family.
#include "vc_baud.h"

#include "vc_code.h"

const VCZCOMPLEX vctSigmapzeroLUT[1] = {{0, 0}};
// Training points A, D, B, C.
const VCZCOMPLEX vctsigmapconst4LUT[4] = {{-10991, -3664}, {-3664, 10991}, {3664, -10991}, {10991, 3664}};
const VCZCOMPLEX vctsRxgmapconst4LUT[4] = {{8192, 8192}, {8192, -8192}, {-8192, 8192}, {-8192, -8192}};

VCBDMSTATUS vcfNullfunction(VCZTXMEM*) { return 0; }
VCBDMSTATUS vcfNullfunction(VCZRXMEM*, VCZBUF*) { return 0; }
VCBDMSTATUS vcfNullfunction(VCZBAUD*) { return 0; }

namespace {

constexpr VCRXSTAGEF kRxNull = vcfNullfunction;
constexpr VCTXSTAGEF kTxNull = vcfNullfunction;
constexpr VCHOOKF kHookNull = vcfNullfunction;

}  // namespace

void vcfBdmRxbaud_init(VCZBAUD* baud) {
  VCZRXMEM& r = baud->rxmem;
  r.rxdata = 0;
  r.decin = 0;
  r.descin = 0;
  r.desout = 0;
  r.dsreg = 0;
  VCZRXFLOW& f = baud->rxflow;
  f.rxdataf = f.descramf = f.decodef = f.decidef = f.equalizef = f.updatef = f.detectf = kRxNull;
  f.hookf = kHookNull;
  f.rxcntr = -1;
  f.longtimer = -1;
  f.nsym = 3;
}

void vcfBdmTxbaud_init(VCZBAUD* baud) {
  VCZTXMEM& t = baud->txmem;
  t.txdata = 0xFFFF;
  t.txsigmask = 0;
  t.encout = 0;
  t.scout = 0;
  t.screg = 0;
  t.sigmap = vctSigmapzeroLUT;
  VCZTXFLOW& f = baud->txflow;
  f.txdataf = f.scramf = f.encodef = f.modf = kTxNull;
  f.mapf = vcfBdmSiglookup;
  f.txcntr = -1;
  f.nsym = 3;
  f.runf = nullptr;
}

VCBDMSTATUS vcfBdmRxbaud(VCZBAUD* baud, VCBDMSTATUS detmask, VCBDMSTATUS rtnmask) {
  VCZRXFLOW& f = baud->rxflow;
  VCZRXMEM* r = &baud->rxmem;
  VCZBUF* buf = &baud->rxlbuf;
  if (f.nsym == 0) return 0;
  const int32_t symbols = static_cast<int32_t>(buf->endp - buf->bufp) / f.nsym;
  for (int32_t s = 0; s < symbols; ++s) {
    VCBDMSTATUS st = f.equalizef(r, buf);
    st |= f.decidef(r, buf);
    st |= f.decodef(r, buf);
    st |= f.descramf(r, buf);
    st |= f.rxdataf(r, buf);
    st |= f.updatef(r, buf);
    st |= f.detectf(r, buf);
    st |= f.hookf(baud);
    buf->bufp += f.nsym;
    if (f.rxcntr > 0 && --f.rxcntr == 0) st |= VCBDM_CNTR_EXPIRED;
    if (f.longtimer > 0 && --f.longtimer == 0) st |= VCBDM_LONGTIMER_EXPIRED;
    if (vcBdmStops(st, detmask, rtnmask)) return st;
  }
  return 0;
}

VCBDMSTATUS vcfBdmTxbaud(VCZBAUD* baud, VCBDMSTATUS detmask, VCBDMSTATUS rtnmask) {
  if (baud->txflow.runf != nullptr) return baud->txflow.runf(baud, detmask, rtnmask);
  return vcfBdmTxbaudEach(baud, detmask, rtnmask);
}

VCBDMSTATUS vcfBdmTxbaudEach(VCZBAUD* baud, VCBDMSTATUS detmask, VCBDMSTATUS rtnmask) {
  VCZTXFLOW& f = baud->txflow;
  VCZTXMEM* t = &baud->txmem;
  VCZFASTBULKDLYHDL* line = &baud->txsbuf;
  while (line->fstWrp < line->fstEndp) {
    VCBDMSTATUS st = f.txdataf(t);
    st |= f.scramf(t);
    st |= f.encodef(t);
    st |= f.mapf(t);
    vcfModulate(&t->txsig, t->modParamp, line);
    if (f.txcntr > 0 && --f.txcntr == 0) st |= VCBDM_CNTR_EXPIRED;
    if (vcBdmStops(st, detmask, rtnmask)) return st;
  }
  return 0;
}

void vcfBdmRxnoaction(VCZBAUD* baud) { vcfBdmRxbaud(baud, 0, 0); }
void vcfBdmTxnoaction(VCZBAUD* baud) { vcfBdmTxbaud(baud, 0, 0); }

void vcfBdmRxwait(VCZBAUD* baud) {
  if (vcfBdmRxbaud(baud, VCBDM_CNTR_EXPIRED, 0)) vcfStmPutEvent(&baud->rxeventq, baud->rxflow.coutev);
}

void vcfBdmTxwait(VCZBAUD* baud) {
  if (vcfBdmTxbaud(baud, VCBDM_CNTR_EXPIRED, 0)) vcfStmPutEvent(&baud->txeventq, baud->txflow.coutev);
}

void vcfBdmRxaction(VCZBAUD* baud) {
  const VCZRXFLOW& f = baud->rxflow;
  const VCBDMSTATUS st = vcfBdmRxbaud(baud, f.detmask, f.rtnmask);
  if (st == 0) return;
  if ((st & f.detmask) == f.detmask)
    vcfStmPutEvent(&baud->rxeventq, f.detevent);
  else if (st & f.rtnmask)
    vcfStmPutEvent(&baud->rxeventq, f.rtnevent);
}

void vcfBdmSetRxAction(VCZBAUD* baud, VCBDMSTATUS detmask, uint16_t detevent, VCBDMSTATUS rtnmask,
                       uint16_t rtnevent, int16_t longtimer) {
  VCZRXFLOW& f = baud->rxflow;
  f.detmask = detmask;
  f.detevent = detevent;
  f.rtnmask = rtnmask;
  f.rtnevent = rtnevent;
  f.longtimer = longtimer;
}

VCBDMSTATUS vcfBdmTxmark(VCZTXMEM* t) {
  t->txdata = 0xFFFF;
  return 0;
}

VCBDMSTATUS vcfBdmTxspace(VCZTXMEM* t) {
  t->txdata = 0;
  return 0;
}

VCBDMSTATUS vcfBdmNoencode(VCZTXMEM* t) {
  t->encout = t->scout;
  return 0;
}

// ---- transmit training segments ----

void vcfTxsendAAv3x_init(VCZBAUD* baud) {
  baud->txflow.scramf = kTxNull;
  baud->txflow.encodef = kTxNull;
  baud->txmem.encout = 0;
  baud->txflow.mapf = vcfBdmSiglookup;
  baud->txmem.txsigmask = 3;
  baud->txmem.sigmap = vctsigmapconst4LUT;
}

VCBDMSTATUS vcfTxsendABv3x(VCZTXMEM* t) {
  t->encout ^= 2;
  return 0;
}

void vcfTxsendABv3x_init(VCZBAUD* baud) {
  baud->txmem.encout = 2;  // toggled before the first symbol: A first
  baud->txflow.scramf = kTxNull;
  baud->txflow.encodef = vcfTxsendABv3x;
  baud->txflow.mapf = vcfBdmSiglookup;
  baud->txmem.txsigmask = 3;
  baud->txmem.sigmap = vctsigmapconst4LUT;
}

void vcfTxgpctrnp2v3x_init(VCZBAUD* baud) {
  baud->txmem.screg = 0;
  baud->txflow.scramf = v32gpcscr2;
  baud->txmem.txdata = 3;
  baud->txflow.txdataf = kTxNull;
  baud->txflow.encodef = v3xfEnctrn2p;
}

void vcfTxtrnp4v3x_init(VCZBAUD* baud) { baud->txflow.encodef = vcfBdmNoencode; }

void vcfTxsendZERO_init(VCZBAUD* baud) {
  baud->txflow.encodef = kTxNull;
  baud->txmem.encout = 0;
  baud->txmem.sigmap = vctSigmapzeroLUT;
}

// ---- receive training references ----

VCBDMSTATUS vcfRxref2pv3x(VCZRXMEM* r, VCZBUF*) {
  r->decin = (r->desout & 1) ? 3 : 0;
  r->dpout1 = vctsRxgmapconst4LUT[r->decin];
  return 0;
}

VCBDMSTATUS vcfRxref4pv3x(VCZRXMEM* r, VCZBUF*) {
  r->dpout1 = vctsRxgmapconst4LUT[r->desout & 3];
  return 0;
}

VCBDMSTATUS vcfRxdec4pv3x(VCZRXMEM* r, VCZBUF*) {
  r->decin = static_cast<uint16_t>((r->bbeqout.real < 0 ? 2 : 0) + (r->bbeqout.imag < 0 ? 1 : 0));
  r->dpout1 = vctsRxgmapconst4LUT[r->decin];
  return 0;
}

void vcfRxref4pv3x_init(VCZBAUD* baud) { baud->rxflow.decidef = vcfRxref4pv3x; }
