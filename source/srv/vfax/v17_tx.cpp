// V.17 transmitter: echo-protect tone, training segments, TCF, page data and turn-off, one state
// machine driven once per 10 ms frame.
#include "vc_code.h"
#include "vfx.h"
#include "vfx_pumpbase.h"

namespace {

VFXLOCLMEM* M(void* ctx) { return static_cast<VFXLOCLMEM*>(ctx); }
VCZBAUD& B(void* ctx) { return M(ctx)->v17zBaud; }

void defer(VFXLOCLMEM* m, V17EEVENT ev) { m->deferred = ev; }

int16_t symbolsFor(uint16_t ms) { return static_cast<int16_t>(2400u * ms / 1000u); }

// ---- row-0 actions ----

int32_t v17fTx(void* ctx) {
  vcfBdmTxwait(&B(ctx));
  return 0;
}

int32_t v17fTxCont(void* ctx) {
  vcfBdmTxnoaction(&B(ctx));
  return 0;
}

int32_t v17fChkTRNdur(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  defer(m, (m->v17zState.status & VFX_LONGTRN) ? e_longTRN : e_shortTRN);
  return 0;
}

int32_t v17fChkTxTCF(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  defer(m, (m->v17zState.status & VFX_TXDATA) ? e_data : e_TCF);
  return 0;
}

int32_t v17fTxData(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  if (vfxPumpTxDataEnds(m)) defer(m, e_CD);
  return 0;
}

// ---- segment set-ups ----

void counter(VFXLOCLMEM* m, int16_t symbols) { m->v17zBaud.txflow.txcntr = symbols > 0 ? symbols : 1; }

void pointMap(VCZBAUD& b, const VCZCOMPLEX* map, uint16_t mask) {
  b.txflow.mapf = vcfBdmSiglookup;
  b.txmem.sigmap = map;
  b.txmem.txsigmask = mask;
}

int32_t v17fTurnOnCar_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  vcfTxsendAAv3x_init(&m->v17zBaud);
  counter(m, symbolsFor(m->v17zRegs.hsxeptgenduration));
  return 0;
}

int32_t v17fTurnOnSil_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  vcfTxsendZERO_init(&m->v17zBaud);
  pointMap(m->v17zBaud, vctSigmapzeroLUT, 0);
  counter(m, symbolsFor(m->v17zRegs.hsxsilenceduration));
  return 0;
}

int32_t v17fSend256TS_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  VCZBAUD& b = m->v17zBaud;
  b.txflow.txdataf = vcfNullfunction;
  vcfTxsendABv3x_init(&b);  // A B A B ... B: the alternation opens on A
  counter(m, 256);
  return 0;
}

constexpr uint32_t kTrnRegister = 0x55D9BA;

int32_t v17fSendTRN_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  VCZBAUD& b = m->v17zBaud;
  vcfTxgpctrnp2v3x_init(&b);
  vcfTxtrnp4v3x_init(&b);
  // The complement of scrambled ones from 0x55D9BA (zeros through the complemented register): the
  // training opens C D C D, the phase reversal after the alternation's last B, with the points in
  // the orientation the data constellation has. Scrambled ones from 0x55D9BA itself would turn
  // the whole training half a turn against the data; a receiver that keeps its equaliser from
  // the long training declines such a short training.
  b.txmem.screg = kTrnRegister ^ 0x7FFFFF;
  b.txmem.txdata = 0;
  pointMap(b, vctsigmapconst4LUT, 3);
  counter(m, (m->v17zState.status & VFX_LONGTRN) ? 2976 : 38);
  return 0;
}

int32_t v17fSendR_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  VCZBAUD& b = m->v17zBaud;
  const uint16_t rate = m->v17zRegs.hsxrate;
  vcfTxrate_init(&b.txmem, rate == HSV33_14400 ? 0x8A80 : rate == HSV33_12000 ? 0x8980 : 0x8880);
  b.txflow.txdataf = vcfTxrate;
  b.txflow.scramf = v32gpcscr2;
  b.txflow.encodef = v3xfTxenc;
  pointMap(b, vctsigmapconst4LUT, 3);
  counter(m, 64);
  return 0;
}

// The baud machine's runs for the page data, by rate row as the scramblers are (vctGpcScrLUT).
template <VCTXSTAGEF Scram>
constexpr VCTXRUNF kDataRun = vcBdmTxRun<vcfTxClbuf, Scram, v3xfTtrelenc, v3xfTxmap>;
constexpr VCTXRUNF kDataRuns[7] = {kDataRun<v32gpcscr2>, kDataRun<v32gpcscr4>, kDataRun<v32gpcscr4>, kDataRun<v32gpcscr3>,
                                   kDataRun<v32gpcscr4>, kDataRun<v32gpcscr5>, kDataRun<v32gpcscr6>};

const VCZRATEPARM& rateRow(const VFXLOCLMEM* m) {
  const int16_t row = vcfFindrate(m->desiredrate);
  return vctRatetabLUT[row < 0 ? 0 : row];
}

int32_t v17fSendB1_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  VCZBAUD& b = m->v17zBaud;
  const VCZRATEPARM& row = rateRow(m);
  b.txflow.txdataf = vcfBdmTxmark;
  b.txflow.scramf = vctGpcScrLUT[row.ridx];
  b.txflow.encodef = v3xfTtrelenc;
  b.txflow.mapf = v3xfTxmap;
  b.txflow.runf = kDataRuns[row.ridx];  // taken once the client's data replaces the marks
  b.txmem.gridmap = row.txtab;
  b.txmem.txscale = row.txscale;
  b.txmem.txsigmask = static_cast<uint16_t>((2u << row.numbits) - 1);
  b.txmem.txnumBits = row.numbits;
  b.txmem.encout = 0;
  b.txmem.trelstate = 0;
  counter(m, 48);
  return 0;
}

int32_t v17fTxTCF_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  m->v17zBaud.txflow.txdataf = vcfBdmTxspace;
  counter(m, 3600);
  return 0;
}

int32_t v17fSendData_init(void* ctx) {
  vfxPumpTxDataStart(M(ctx));
  return 0;
}

int32_t v17fTurnOffB1_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  m->v17zBaud.txflow.txdataf = vcfBdmTxmark;
  counter(m, 32);
  return 0;
}

int32_t v17fTurnOffSil_init(void* ctx) {
  VFXLOCLMEM* m = M(ctx);
  VCZBAUD& b = m->v17zBaud;
  b.txflow.txdataf = vcfNullfunction;
  b.txflow.scramf = vcfNullfunction;
  b.txflow.encodef = vcfNullfunction;
  b.txmem.encout = 0;
  pointMap(b, vctSigmapzeroLUT, 0);
  counter(m, 48);
  return 0;
}

int32_t v17fTxIdle_init(void* ctx) {
  vfxPumpTxIdle(M(ctx));
  return 0;
}

extern const V17ZSTMEV v17st_turnOnSil[], v17st_sendS[], v17st_sendTRN[], v17st_chkTRNdur[],
    v17st_sendR[], v17st_sendB1[], v17st_chkTxTCF[], v17st_txTCF[], v17st_txData[], v17st_turnOffB1[],
    v17st_turnOffSil[], v17st_idle[];

#define ROW0(state, action) {e_v17default, state, {action}}
#define END {e_v17null, nullptr, {nullptr}}

const V17ZSTMEV v17st_turnOnCar[] = {ROW0(v17st_turnOnCar, v17fTx), {e_txDone, v17st_turnOnSil, {v17fTurnOnSil_init}}, END};
const V17ZSTMEV v17st_turnOnSil[] = {ROW0(v17st_turnOnSil, v17fTx), {e_txDone, v17st_sendS, {v17fSend256TS_init}}, END};
const V17ZSTMEV v17st_sendS[] = {ROW0(v17st_sendS, v17fTx), {e_txDone, v17st_sendTRN, {v17fSendTRN_init}}, END};
const V17ZSTMEV v17st_sendTRN[] = {ROW0(v17st_sendTRN, v17fTx), {e_txDone, v17st_chkTRNdur, {nullptr}}, END};
const V17ZSTMEV v17st_chkTRNdur[] = {ROW0(v17st_chkTRNdur, v17fChkTRNdur),
                                     {e_shortTRN, v17st_sendB1, {v17fSendB1_init}},
                                     {e_longTRN, v17st_sendR, {v17fSendR_init}},
                                     END};
const V17ZSTMEV v17st_sendR[] = {ROW0(v17st_sendR, v17fTx), {e_txDone, v17st_sendB1, {v17fSendB1_init}}, END};
const V17ZSTMEV v17st_sendB1[] = {ROW0(v17st_sendB1, v17fTx), {e_txDone, v17st_chkTxTCF, {nullptr}}, END};
const V17ZSTMEV v17st_chkTxTCF[] = {ROW0(v17st_chkTxTCF, v17fChkTxTCF),
                                    {e_TCF, v17st_txTCF, {v17fTxTCF_init}},
                                    {e_data, v17st_txData, {v17fSendData_init}},
                                    END};
const V17ZSTMEV v17st_txTCF[] = {ROW0(v17st_txTCF, v17fTx), {e_txDone, v17st_idle, {v17fTxIdle_init}}, END};
const V17ZSTMEV v17st_txData[] = {ROW0(v17st_txData, v17fTxData), {e_CD, v17st_turnOffB1, {v17fTurnOffB1_init}}, END};
const V17ZSTMEV v17st_turnOffB1[] = {ROW0(v17st_turnOffB1, v17fTx), {e_txDone, v17st_turnOffSil, {v17fTurnOffSil_init}}, END};
const V17ZSTMEV v17st_turnOffSil[] = {ROW0(v17st_turnOffSil, v17fTx), {e_txDone, v17st_idle, {v17fTxIdle_init}}, END};
const V17ZSTMEV v17st_idle[] = {ROW0(v17st_idle, v17fTxCont), END};

#undef ROW0
#undef END

void initModulator(VFXLOCLMEM* m) {
  vcfInitTxParam32(&m->u.tx.v17zModParam, static_cast<int16_t>(m->v17zRegs.hsxtxamplitude));
}

void start(VFXLOCLMEM* m) {
  if (m->pageflag & PF_TXTONE) {
    v17fTurnOnCar_init(m);
    m->v17zStm.stp = v17st_turnOnCar;
  } else {
    v17fSend256TS_init(m);
    m->v17zStm.stp = v17st_sendS;
  }
}

constexpr VFXTXFRAMEPARM kFrameParm{2400, "v17txbktkc", initModulator, start};

}  // namespace

void v17fXmtrBlkTsk(VFXLOCLMEM* m) { vfxPumpTxFrame(m, kFrameParm); }
