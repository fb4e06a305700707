// The baud machine: the per-symbol pipeline of the fax datapumps, with the memory its stages work
// on, the training-segment senders and the receiver's training references.
#pragma once

#include <cstdint>

#include "vc_clbuf.h"
#include "vc_math.h"
#include "vc_stm.h"
#include "vc_tonedet.h"
#include "vc_viterbi.h"

struct VCZTXMEM;
struct VCZRXMEM;
struct VCZBAUD;
struct VCZDEMODT3;
struct VCZDEMOD2T3;

using VCBDMSTATUS = uint32_t;
enum : VCBDMSTATUS {
  VCBDM_CNTR_EXPIRED = 0x1,
  VCBDM_RATE_SENT = 0x4,
  VCBDM_PWR_ABOVE = 0x40,
  VCBDM_PWR_BELOW = 0x80,
  VCBDM_TONE_ON = 0x100,
  VCBDM_TONE_OFF = 0x200,
  VCBDM_CORR_NEG = 0x400,
  VCBDM_CORR_POS = 0x800,
  VCBDM_LONGTIMER_EXPIRED = 0x1000,
  VCBDM_TXDATA_SHORT = 0x40000,
  VCBDM_TXDATA_FULL = 0x80000,
};

using VCTXSTAGEF = VCBDMSTATUS (*)(VCZTXMEM* txmem);
using VCTXRUNF = VCBDMSTATUS (*)(VCZBAUD* baud, VCBDMSTATUS detmask, VCBDMSTATUS rtnmask);
using VCRXSTAGEF = VCBDMSTATUS (*)(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
using VCHOOKF = VCBDMSTATUS (*)(VCZBAUD* baud);

VCBDMSTATUS vcfNullfunction(VCZTXMEM* txmem);
VCBDMSTATUS vcfNullfunction(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS vcfNullfunction(VCZBAUD* baud);

struct VCZTXFLOW {
  uint16_t coutev;  // posted when txcntr expires
  int16_t txcntr;
  VCTXSTAGEF txdataf;
  VCTXSTAGEF scramf;
  VCTXSTAGEF encodef;
  VCTXSTAGEF mapf;
  VCTXSTAGEF modf;
  uint16_t nsym;
  VCTXRUNF runf;  // the machine's loop compiled for a set of stages (vcBdmTxRun), or null
};

struct VCZRXFLOW {
  int16_t rxcntr;
  int32_t longtimer;
  uint16_t coutev;
  VCBDMSTATUS detmask;
  uint16_t detevent;
  VCBDMSTATUS rtnmask;
  uint16_t rtnevent;
  VCRXSTAGEF rxdataf;
  VCRXSTAGEF descramf;
  VCRXSTAGEF decodef;
  VCRXSTAGEF decidef;
  VCRXSTAGEF equalizef;
  VCRXSTAGEF updatef;
  VCRXSTAGEF detectf;
  VCHOOKF hookf;
  uint16_t nsym;  // samples per symbol in the receive buffer
};

struct VCZTXMEM {
  uint16_t txdata;
  uint16_t scout;
  uint16_t encout;
  uint16_t trelout;
  uint16_t trelstate;
  int16_t txscale;
  VCZCOMPLEX txsig;
  const VCZCOMPLEX* sigmap;
  const uint16_t* gridmap;  // packed grid constellation of the trellis rates (v3xfTxmap)
  uint16_t txsigmask;
  uint16_t txnumBits;
  uint32_t txtotalBits;
  VCZCPYFRMCLBUF* txCpyFrmBufp;
  VCZMOD* modParamp;
  uint16_t txrshift;
  uint16_t txrate;
  uint16_t txrcnt;
  uint16_t txrflags;
  uint16_t acount;
  uint32_t screg;
  uint16_t nscram;
  uint16_t sctype;
  uint16_t nones;
};

union VCUDEMOD {
  VCZDEMODT3* t3;
  VCZDEMOD2T3* t2;
};

struct VCZRXMEM {
  uint16_t decin;
  uint16_t decreg;
  uint16_t descin;
  uint16_t desout;
  uint16_t rxdata;
  uint16_t rxnumBits;
  uint16_t onesInTCF;
  VCZCTONEDET sdet;
  VCZCOMPLEX pbeqout;
  VCZCOMPLEX bbeqout;
  VCZCOMPLEX dpout1;
  VCZCOMPLEX dpout16;
  VCZCOMPLEX serr1;
  VCZCOMPLEX serr16;
  VCZCOMPLEX sincos;
  VCUDEMOD u;
  VCZVITERBI32* vitp;
  const VCZCOMPLEX* sp;
  int16_t nsp;
  VCZCPYTOCLBUF* rxCpyToBufp;
  uint16_t rxrshift;
  uint16_t rxrate;
  uint16_t rxrcnt;
  uint16_t rxscnt;
  uint16_t rxrstate;
  uint16_t rxrmask;
  uint16_t rxrpattern;
  uint32_t dsreg;
  uint16_t ndscram;
  uint16_t dstype;
  uint16_t nones;
};

struct VCZBAUD {
  VCZTXFLOW txflow;
  VCZRXFLOW rxflow;
  VCZTXMEM txmem;
  VCZRXMEM rxmem;
  VCZSTMEVQ txeventq;
  VCZSTMEVQ rxeventq;
  VCZBUF rxlbuf;
  VCZFASTBULKDLYHDL txsbuf;
};

extern const VCZCOMPLEX vctSigmapzeroLUT[1];
extern const VCZCOMPLEX vctsigmapconst4LUT[4];
extern const VCZCOMPLEX vctsRxgmapconst4LUT[4];

void vcfBdmRxbaud_init(VCZBAUD* baud);
void vcfBdmTxbaud_init(VCZBAUD* baud);
VCBDMSTATUS vcfBdmRxbaud(VCZBAUD* baud, VCBDMSTATUS detmask, VCBDMSTATUS rtnmask);
VCBDMSTATUS vcfBdmTxbaud(VCZBAUD* baud, VCBDMSTATUS detmask, VCBDMSTATUS rtnmask);
// The machine's loop calling each stage through the flow.
VCBDMSTATUS vcfBdmTxbaudEach(VCZBAUD* baud, VCBDMSTATUS detmask, VCBDMSTATUS rtnmask);
void vcfBdmRxnoaction(VCZBAUD* baud);
void vcfBdmTxnoaction(VCZBAUD* baud);
void vcfBdmRxwait(VCZBAUD* baud);
void vcfBdmTxwait(VCZBAUD* baud);
void vcfBdmRxaction(VCZBAUD* baud);
void vcfBdmSetRxAction(VCZBAUD* baud, VCBDMSTATUS detmask, uint16_t detevent, VCBDMSTATUS rtnmask,
                       uint16_t rtnevent, int16_t longtimer);
inline VCBDMSTATUS vcfBdmSiglookup(VCZTXMEM* t) {
  t->txsig = t->sigmap[t->encout & t->txsigmask];
  return 0;
}
VCBDMSTATUS vcfBdmTxmark(VCZTXMEM* txmem);
VCBDMSTATUS vcfBdmTxspace(VCZTXMEM* txmem);
VCBDMSTATUS vcfBdmNoencode(VCZTXMEM* txmem);

// Transmit training segments.
void vcfTxsendAAv3x_init(VCZBAUD* baud);
void vcfTxsendABv3x_init(VCZBAUD* baud);
VCBDMSTATUS vcfTxsendABv3x(VCZTXMEM* txmem);
void vcfTxgpctrnp2v3x_init(VCZBAUD* baud);
void vcfTxtrnp4v3x_init(VCZBAUD* baud);
void vcfTxsendZERO_init(VCZBAUD* baud);

// Receive training references.
void vcfRxgpctrn2v3xT3_init(VCZBAUD* baud);
void vcfRxref4pv3x_init(VCZBAUD* baud);
VCBDMSTATUS vcfRxref2pv3x(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS vcfRxref4pv3x(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
VCBDMSTATUS vcfRxdec4pv3x(VCZRXMEM* rxmem, VCZBUF* rxlbuf);

// Client-buffer stages.
VCBDMSTATUS vcfRxClbuf(VCZRXMEM* rxmem, VCZBUF* rxlbuf);
inline VCBDMSTATUS vcfTxClbuf(VCZTXMEM* t) {
  uint16_t word;
  const uint16_t real = vcfCopyFromClBuf(t->txCpyFrmBufp, &word, t->txnumBits);
  t->txdata = word;
  t->txtotalBits += t->txnumBits;
  return real == t->txnumBits ? VCBDM_TXDATA_FULL : VCBDM_TXDATA_SHORT;
}
void vcfInitRxTCF(VCZBAUD* baud, VCESYMBOLRATE symbolRate);
VCBDMSTATUS vcfRxTCF(VCZBAUD* baud);

// A machine stops on a return bit, or on a watched bit when all detect bits are present.
inline bool vcBdmStops(VCBDMSTATUS status, VCBDMSTATUS detmask, VCBDMSTATUS rtnmask) {
  if (status & rtnmask) return true;
  return (status & (detmask | rtnmask)) != 0 && (status & detmask) == detmask;
}

// The run's copy of the machine's memory written back field by field, each as it was stored: the
// stages store the small fields one by one, and a whole-record copy reading them back sixteen
// bytes at a time would wait for those stores to reach the cache instead of taking them from the
// store buffer.
inline void vcTxMemStore(VCZTXMEM& to, const VCZTXMEM& from) {
  // 80 bytes with 64-bit pointers, 64 with 32-bit ones (four pointers among the fields).
  static_assert(sizeof(VCZTXMEM) == (sizeof(void*) == 8 ? 80 : 64),
                "a new field of the machine's memory is written back here too");
  to.txdata = from.txdata;
  to.scout = from.scout;
  to.encout = from.encout;
  to.trelout = from.trelout;
  to.trelstate = from.trelstate;
  to.txscale = from.txscale;
  to.txsig.real = from.txsig.real;
  to.txsig.imag = from.txsig.imag;
  to.sigmap = from.sigmap;
  to.gridmap = from.gridmap;
  to.txsigmask = from.txsigmask;
  to.txnumBits = from.txnumBits;
  to.txtotalBits = from.txtotalBits;
  to.txCpyFrmBufp = from.txCpyFrmBufp;
  to.modParamp = from.modParamp;
  to.txrshift = from.txrshift;
  to.txrate = from.txrate;
  to.txrcnt = from.txrcnt;
  to.txrflags = from.txrflags;
  to.acount = from.acount;
  to.screg = from.screg;
  to.nscram = from.nscram;
  to.sctype = from.sctype;
  to.nones = from.nones;
}

// A batch of page-data symbols for a transmit scrambler: how many symbols, their bits each, and
// the batch's bits scrambled as one word, which gives the bits and state of the scrambler run a
// symbol at a time (specialised beside the scramblers). None for the others.
template <VCTXSTAGEF Scram>
struct VcScrBatch {
  static constexpr int bitsPerSymbol = 0;
  static constexpr int symbols = 0;
  static uint32_t scramble(uint32_t, VCZTXMEM*) { return 0; }
};

// The transmit machine's loop for one set of stages, called directly so that the compiler takes
// them into the loop: page data, the bulk of a call, runs through these instead of five calls
// through pointers per symbol. The stages work on a copy of the machine's memory, written back
// after the run: the client-buffer stage may call out of line, and through the shared record the
// coders' and scrambler's state would then go to memory and back for every symbol. The carrier
// turns the run's symbols once they are all on the line (no stage reads it), eight at a time where
// the processor can. A service sets one as the flow's run where it sets those stages; while the
// flow's stages are others, the general loop runs.
//
// Client bits with a scrambler that has a batch go a batch of symbols at a time where the batch
// changes nothing else: the reservoir holds the batch's bits, all client bits (each symbol would
// report a full draw), that report stops nothing, and neither the line block nor the counter ends
// inside the batch. The bits are then drawn and scrambled once for the batch; the coder and map
// (which report nothing for page data) still run per symbol.
template <VCTXSTAGEF Data, VCTXSTAGEF Scram, VCTXSTAGEF Encode, VCTXSTAGEF Map>
VCBDMSTATUS vcBdmTxRun(VCZBAUD* baud, VCBDMSTATUS detmask, VCBDMSTATUS rtnmask) {
  VCZTXFLOW& f = baud->txflow;
  if (f.txdataf != Data || f.scramf != Scram || f.encodef != Encode || f.mapf != Map)
    return vcfBdmTxbaudEach(baud, detmask, rtnmask);
  using Batch = VcScrBatch<Scram>;
  constexpr int kBatch = Data == vcfTxClbuf ? Batch::symbols : 0;
  VCZTXMEM mem = baud->txmem;
  VCZTXMEM* t = &mem;
  VCZFASTBULKDLYHDL* line = &baud->txsbuf;
  int16_t* const from = line->fstWrp;
  int16_t* w = from;
  const int16_t* const end = line->fstEndp;
  const int len = line->fstBulkDlyLen;
  int16_t count = f.txcntr;
  VCBDMSTATUS stopped = 0;
  const bool batching = kBatch > 1 && !vcBdmStops(VCBDM_TXDATA_FULL, detmask, rtnmask);
  // a scrambled symbol coded, mapped and onto the line
  auto put = [&] {
    VCBDMSTATUS st = Encode(t);
    st |= Map(t);
    w[0] = t->txsig.real;
    w[len] = t->txsig.imag;
    ++w;
    return st;
  };
  // the run's symbols onto the line as they are, then turned by the carrier all at once
  while (w < end) {
    if constexpr (kBatch > 1) {
      constexpr int n = Batch::bitsPerSymbol;
      constexpr uint32_t symbolMask = (1u << n) - 1;
      uint32_t bits;
      if (batching && end - w >= kBatch && (count <= 0 || count > kBatch) &&
          vcTakeClientBits(t->txCpyFrmBufp, n * kBatch, &bits)) {
        const uint32_t scrambled = Batch::scramble(bits, t);
#pragma GCC unroll 9
        for (int i = 0; i < kBatch; ++i) {
          t->scout = static_cast<uint16_t>((scrambled >> (n * i)) & symbolMask);
          put();
        }
        t->txdata = static_cast<uint16_t>((0xFFFFu & ~symbolMask) | (bits >> (n * (kBatch - 1))));
        t->txtotalBits += n * kBatch;
        if (count > 0) count = static_cast<int16_t>(count - kBatch);
        continue;
      }
    }
    VCBDMSTATUS st = Data(t);
    st |= Scram(t);
    st |= put();
    if (count > 0 && --count == 0) st |= VCBDM_CNTR_EXPIRED;
    if (vcBdmStops(st, detmask, rtnmask)) {
      stopped = st;
      break;
    }
  }
  f.txcntr = count;
  vcTxMemStore(baud->txmem, mem);
  VCZMOD* mod = mem.modParamp;
  vcfModulateRun(from, static_cast<int>(w - from), len, &mod->carrierPhase, mod->phaseInc);
  line->fstWrp = w;
  return stopped;
}
