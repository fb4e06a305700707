// The 7200/9600 bit/s transmitter (V.29): tone, silence, alternation, training sequence,
// scrambled ones, TCF or page data, turn-off.
#include "vc_code.h"
#include "vfx_pump.h"
#include "vfx_pumpbase.h"

namespace {

VFXLOCLMEM* M(void* ctx) { return static_cast<VFXLOCLMEM*>(ctx); }

constexpr VFAXRATECONV vfxtDataRateToBitRateLUT[4] = {{1, 0, 2400}, {2, 1, 4800}, {3, 2, 7200}, {4, 3, 9600}};

const VFAXRATECONV* find(uint16_t rate) { return vfxFindRateRow(vfxtDataRateToBitRateLUT, rate); }

const VFXRATEPARM& rp(const VFXLOCLMEM* m) { return vfxfRateParam(m->desiredrate); }
bool v27(const VFXLOCLMEM* m) { return m->desiredrate <= 1; }
const VCZCOMPLEX* trainTable(const VFXLOCLMEM* m) { return rp(m).trn; }
int symbolsFor(const VFXLOCLMEM* m, uint32_t num, uint32_t den) { return static_cast<int>(rp(m).baud * num / den); }

void defer(VFXLOCLMEM* m, int32_t ev) { m->deferred = ev; }
void counter(VFXLOCLMEM* m, int n) { m->v17zBaud.txflow.txcntr = static_cast<int16_t>(n > 0 ? n : 1); }

// Events of this pump: 8 and up are numbered differently from V.17's.
enum : int32_t { f_txDone = 2, f_TCF = 8, f_data = 9, f_CD = 11 };

int32_t vfxfTx(void* ctx) {
  vcfBdmTxwait(&M(ctx)->v17zBaud);
  return 0;
}
int32_t vfxfTxCont(void* ctx) {
  vcfBdmTxnoaction(&M(ctx)->v17zBaud);
  return 0;
}
int32_t vfxfChkTxTCF(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  defer(m, (m->v17zState.status & VFX_TXDATA) ? f_data : f_TCF);
  return 0;
}
int32_t vfxfTxData(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  if (vfxPumpTxDataEnds(m)) defer(m, f_CD);
  return 0;
}

void constPoint(VCZBAUD& b, const VCZCOMPLEX* table) {
  b.txflow.txdataf = vcfNullfunction;
  b.txflow.scramf = vcfNullfunction;
  b.txflow.encodef = vcfNullfunction;
  b.txflow.mapf = vcfBdmSiglookup;
  b.txmem.sigmap = table;
  b.txmem.txsigmask = 0;
  b.txmem.encout = 0;
}

int32_t vfxfTurnOnCar_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  constPoint(m->v17zBaud, &vfxtSig9600LUT[0]);
  counter(m, symbolsFor(m, m->v17zRegs.hsxeptgenduration, 1000));
  return 0;
}

int32_t vfxfTurnOnSil_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  constPoint(m->v17zBaud, vctSigmapzeroLUT);
  counter(m, symbolsFor(m, m->v17zRegs.hsxsilenceduration, 1000));
  return 0;
}

int32_t vfxfSend256TS_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  VCZBAUD& b = m->v17zBaud;
  constPoint(b, trainTable(m));
  b.txmem.scout = 1;  // toggled before the first symbol: A first
  b.txflow.scramf = vfxfTxalt;
  b.txflow.encodef = vfxfTxtrn;
  b.txmem.txsigmask = static_cast<uint16_t>(v27(m) ? 1 : 3);
  counter(m, v27(m) ? 50 : 128);
  return 0;
}

int32_t vfxfSendTRN_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  VCZBAUD& b = m->v17zBaud;
  b.txmem.screg = v27(m) ? 60 : 42;
  b.txmem.nones = 0;
  b.txflow.scramf = v27(m) ? v27fTxpn127 : vfxfTxpn127;
  counter(m, v27(m) ? 1074 : 384);
  return 0;
}

int32_t vfxfSendB1_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  VCZBAUD& b = m->v17zBaud;
  b.txflow.txdataf = vcfBdmTxmark;
  b.txmem.screg = 0;
  b.txmem.nones = 0;
  b.txflow.scramf = rp(m).scram;
  b.txflow.encodef = rp(m).difenc;
  b.txflow.runf = rp(m).dataRun;  // taken once the client's data replaces the marks
  b.txmem.sigmap = rp(m).stab;
  b.txmem.txsigmask = rp(m).bmask;
  b.txmem.txnumBits = rp(m).numbits;
  b.txmem.encout = 0;
  counter(m, v27(m) ? 8 : 48);
  return 0;
}

int32_t vfxfTxTCF_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  m->v17zBaud.txflow.txdataf = vcfBdmTxspace;
  counter(m, symbolsFor(m, 15, 10));
  return 0;
}

int32_t vfxfSendData_init(void* ctx) {
  vfxPumpTxDataStart(M(ctx));
  return 0;
}

int32_t vfxfTurnOffB1_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  m->v17zBaud.txflow.txdataf = vcfBdmTxmark;
  counter(m, symbolsFor(m, 7, 1000));
  return 0;
}

int32_t vfxfTurnOffSil_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  constPoint(m->v17zBaud, vctSigmapzeroLUT);
  counter(m, symbolsFor(m, 1, 50));
  return 0;
}

int32_t vfxfTxIdle_init(void* ctx) {
  vfxPumpTxIdle(M(ctx));
  return 0;
}

#define ROW0(state, action) {0, state, {action}}
#define END {-1, nullptr, {nullptr}}

extern const V17ZSTMEV vfxst_turnOnSil[], vfxst_sendS[], vfxst_sendTRN[], vfxst_sendB1[], vfxst_chkTxTCF[],
    vfxst_txTCF[], vfxst_txData[], vfxst_turnOffB1[], vfxst_turnOffSil[], vfxst_idle[];

const V17ZSTMEV vfxst_turnOnCar[] = {ROW0(vfxst_turnOnCar, vfxfTx), {f_txDone, vfxst_turnOnSil, {vfxfTurnOnSil_init}}, END};
const V17ZSTMEV vfxst_turnOnSil[] = {ROW0(vfxst_turnOnSil, vfxfTx), {f_txDone, vfxst_sendS, {vfxfSend256TS_init}}, END};
const V17ZSTMEV vfxst_sendS[] = {ROW0(vfxst_sendS, vfxfTx), {f_txDone, vfxst_sendTRN, {vfxfSendTRN_init}}, END};
const V17ZSTMEV vfxst_sendTRN[] = {ROW0(vfxst_sendTRN, vfxfTx), {f_txDone, vfxst_sendB1, {vfxfSendB1_init}}, END};
const V17ZSTMEV vfxst_sendB1[] = {ROW0(vfxst_sendB1, vfxfTx), {f_txDone, vfxst_chkTxTCF, {nullptr}}, END};
const V17ZSTMEV vfxst_chkTxTCF[] = {ROW0(vfxst_chkTxTCF, vfxfChkTxTCF),
                                    {f_TCF, vfxst_txTCF, {vfxfTxTCF_init}},
                                    {f_data, vfxst_txData, {vfxfSendData_init}},
                                    END};
const V17ZSTMEV vfxst_txTCF[] = {ROW0(vfxst_txTCF, vfxfTx), {f_txDone, vfxst_idle, {vfxfTxIdle_init}}, END};
const V17ZSTMEV vfxst_txData[] = {ROW0(vfxst_txData, vfxfTxData), {f_CD, vfxst_turnOffB1, {vfxfTurnOffB1_init}}, END};
const V17ZSTMEV vfxst_turnOffB1[] = {ROW0(vfxst_turnOffB1, vfxfTx), {f_txDone, vfxst_turnOffSil, {vfxfTurnOffSil_init}}, END};
const V17ZSTMEV vfxst_turnOffSil[] = {ROW0(vfxst_turnOffSil, vfxfTx), {f_txDone, vfxst_idle, {vfxfTxIdle_init}}, END};
const V17ZSTMEV vfxst_idle[] = {ROW0(vfxst_idle, vfxfTxCont), END};

#undef ROW0
#undef END

void vfxfInitTxParam(VFXLOCLMEM* m) {
  VCZMOD& mod = m->u.tx.v17zModParam;
  vcfInitTxParam32(&mod, static_cast<int16_t>(m->v17zRegs.hsxtxamplitude));
  switch (m->desiredrate) {
    case 0:  // 1800 Hz at 1200 symbols/s, six samples per symbol at 7200/s
      vcfSetTxShaper(&mod, 6, 6, vfxgTxbandpassfilt27l);
      mod.phaseInc = 0x80000000;
      break;
    case 1:  // 1800 Hz at 1600 symbols/s, six samples per symbol at 9600/s
      vcfSetTxShaper(&mod, 6, 6, vfxgTxbandpassfilt27h);
      mod.phaseInc = 0x20000000;
      mod.interpSampInc = 0x01333333;
      mod.interpSampIncLow = 0x33333333;
      break;
    default:  // 1700 Hz at 2400 symbols/s
      mod.phaseInc = 0xB5555555;
      vcfSetTxShaper(&mod, 3, 20, vfxgTxbandpassfilt29);
      break;
  }
  for (int i = 0; i < mod.numSample + 32; ++i) mod.t3Samples[i] = 0;
}

void start(VFXLOCLMEM* m) {
  if (m->pageflag & PF_TXTONE) {
    vfxfTurnOnCar_init(m);
    m->v17zStm.stp = vfxst_turnOnCar;
  } else {
    vfxfSend256TS_init(m);
    m->v17zStm.stp = vfxst_sendS;
  }
}

void vfxfXmtrBlkTsk(VFXLOCLMEM* m) { vfxPumpTxFrame(m, {rp(m).baud, "vfxtxbktkc", vfxfInitTxParam, start}); }

}  // namespace

uint16_t vfxfGetBitRate(uint16_t rate) {
  const VFAXRATECONV* r = find(rate);
  return r ? r->code : 3;
}

uint16_t vfxfGetBitsPerSec(uint16_t rate) {
  const VFAXRATECONV* r = find(rate);
  return r ? r->bps : 9600;
}

// ---- bit functions ----

VCBDMSTATUS vfxfTxalt(VCZTXMEM* t) {
  t->scout ^= 1;
  return 0;
}

VCBDMSTATUS vfxfTxpn127(VCZTXMEM* t) {
  // 1 + x^-6 + x^-7 on a 7-bit register
  const uint32_t r = t->screg & 0x7F;
  const uint32_t bit = r & 1;
  t->scout = static_cast<uint16_t>(bit + 2);
  t->screg = (r >> 1) | ((((r >> 1) ^ r) & 1) << 6);
  return 0;
}

VCBDMSTATUS vfxfTxtrn(VCZTXMEM* t) {
  t->encout = t->scout & 3;
  return 0;
}

VCBDMSTATUS v27fTxpn127(VCZTXMEM* t) {
  // The scrambler run on marks; each symbol's first scrambled bit turns the phase by 180 degrees.
  const uint16_t out = v27tscram(true, 7, 3, &t->screg, &t->nones);
  t->scout = static_cast<uint16_t>((t->scout ^ out) & 1);
  return 0;
}

VCBDMSTATUS vfxfDifdec4800(VCZRXMEM* r, VCZBUF*) {
  r->descin = vfxtGrayunmap4LUT[(r->decin - r->decreg) & 3];
  r->decreg = r->decin;
  return 0;
}

const VFXRATEPARM& vfxfRateParam(uint16_t code) {
  static const VFXRATEPARM kRows[4] = {
      {1200, 2, 3, vfxtSig4800LUT, 4, vfxtTrn27LUT, vcf27Scram2, vfxfDifenc4800, vcf27Descram2, vfxfDifdec4800,
       vcBdmTxRun<vcfTxClbuf, vcf27Scram2, vfxfDifenc4800, vcfBdmSiglookup>},
      {1600, 3, 7, vfxtSig8PskLUT, 8, vfxtTrn27LUT, vcf27Scram3, vfxfDifenc7200, vcf27Descram3, vfxfDifdec7200,
       vcBdmTxRun<vcfTxClbuf, vcf27Scram3, vfxfDifenc7200, vcfBdmSiglookup>},
      {2400, 3, 7, vfxtSig7200LUT, 8, vfxtTrn7200LUT, v32gpcscr3, vfxfDifenc7200, v32gpcdes3, vfxfDifdec7200,
       vcBdmTxRun<vcfTxClbuf, v32gpcscr3, vfxfDifenc7200, vcfBdmSiglookup>},
      {2400, 4, 15, vfxtSig9600LUT, 16, vfxtTrn9600LUT, v32gpcscr4, vfxfDifenc9600, v32gpcdes4, vfxfDifdec9600,
       vcBdmTxRun<vcfTxClbuf, v32gpcscr4, vfxfDifenc9600, vcfBdmSiglookup>},
  };
  return kRows[code > 3 ? 3 : code];
}

VCBDMSTATUS vfxfDifdec9600(VCZRXMEM* r, VCZBUF*) {
  r->descin = static_cast<uint16_t>(2 * vfxtGrayunmapLUT[(r->decin - r->decreg) & 7] + ((r->decin & 8) ? 1 : 0));
  r->decreg = r->decin;
  return 0;
}

VCBDMSTATUS vfxfDifdec7200(VCZRXMEM* r, VCZBUF*) {
  r->descin = vfxtGrayunmapLUT[(r->decin - r->decreg) & 7];
  r->decreg = r->decin;
  return 0;
}

void vfxStartTx(VFXLOCLMEM* m, uint16_t op1) {
  m->v17zClientCmd = HSFMSGSTD{};
  vcfStmInitQueue(&m->v17zBaud.txeventq);
  m->desiredrate = vfxfGetBitRate(m->v17zRegs.hsxrate);
  m->modemType = m->desiredrate >= 2 ? 0 : (m->desiredrate == 1 ? 1 : 2);
  vcfDumpRxDataPkts(&m->v17zCpyToClBuf);
  m->u.tx.v17txremidx = 0;
  vcfBdmTxbaud_init(&m->v17zBaud);
  m->v17zBaud.txflow.coutev = f_txDone;
  m->v17zBaud.txmem.modParamp = &m->u.tx.v17zModParam;
  m->v17zBaud.txmem.txCpyFrmBufp = &m->v17zCpyFrmClBuf;
  if (op1 == 1) m->v17zState.status |= VFX_TXDATA;
  m->pageflag = static_cast<uint16_t>(PF_TXSTART | (m->v17zRegs.hsxeptgenflag ? PF_TXTONE : PF_TXNOTONE));
  m->v17zState.status |= VFX_TRANSMITTING;
}

void vfxfBlkTsk(VFXLOCLMEM* m, const int16_t* frame) {
  if (m->v17zState.status & VFX_RECEIVING) {
    if (frame != nullptr) vfxfBlkTskRx(m, frame);
  } else if (m->v17zState.status & VFX_TRANSMITTING) {
    vfxfXmtrBlkTsk(m);
  }
}
