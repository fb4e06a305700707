// The baud machine's symbol loops, counters, masks and training segments.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "hsf/hsf.h"
#include "vc_baud.h"
#include "vc_code.h"

namespace {

VCBDMSTATUS gNextStatus = 0;
int gCalls = 0;
VCBDMSTATUS reportStage(VCZRXMEM*, VCZBUF*) {
  ++gCalls;
  return gNextStatus;
}

struct RxFixture {
  VCZBAUD baud{};
  int16_t samples[300]{};
  RxFixture() {
    vcfBdmRxbaud_init(&baud);
    vcfStmInitQueue(&baud.rxeventq);
    baud.rxflow.detectf = reportStage;
    gCalls = 0;
    gNextStatus = 0;
  }
  void block(int n) { baud.rxlbuf = VCZBUF{samples, samples, samples + n}; }
};

TEST(VcBaud, ShortBlockRunsNoStage) {
  RxFixture f;
  f.block(2);
  EXPECT_EQ(vcfBdmRxbaud(&f.baud, 0, 0), 0u);
  EXPECT_EQ(gCalls, 0);
  EXPECT_EQ(f.baud.rxlbuf.bufp, f.samples);
}

TEST(VcBaud, CountersExpireOnceAndStopTheLoopOnlyWhenAsked) {
  RxFixture f;
  f.block(30);  // ten symbols
  f.baud.rxflow.rxcntr = 1;
  EXPECT_EQ(vcfBdmRxbaud(&f.baud, 0x1, 0), 0x1u);  // first symbol
  EXPECT_EQ(f.baud.rxlbuf.bufp, f.samples + 3);
  EXPECT_EQ(vcfBdmRxbaud(&f.baud, 0x1, 0), 0u);  // 0 never expires again
  EXPECT_EQ(f.baud.rxlbuf.bufp, f.samples + 30);
  // -1 is off
  f.block(30);
  f.baud.rxflow.rxcntr = -1;
  EXPECT_EQ(vcfBdmRxbaud(&f.baud, 0x1, 0), 0u);
  EXPECT_EQ(f.baud.rxflow.rxcntr, -1);
}

TEST(VcBaud, DetectMaskNeedsAllItsBitsAndReturnMaskWins) {
  RxFixture f;
  f.block(30);
  f.baud.rxflow.rxcntr = 2;  // expires on symbol 2 with 0x1 only
  gNextStatus = 0x4;         // reported from symbol 3 on: the loop must stop there
  f.baud.rxflow.detectf = [](VCZRXMEM*, VCZBUF*) -> VCBDMSTATUS { return ++gCalls >= 3 ? 0x4u : 0u; };
  EXPECT_EQ(vcfBdmRxbaud(&f.baud, 0x5, 0), 0u) << "0x1 alone on symbol 2 does not satisfy 0x5";
  // counter expiry together with 0x4 does
  f.block(30);
  gCalls = 0;
  f.baud.rxflow.rxcntr = 3;
  EXPECT_EQ(vcfBdmRxbaud(&f.baud, 0x5, 0), 0x5u);
  EXPECT_EQ(f.baud.rxlbuf.bufp, f.samples + 9);
  // the long timer stops it through the return mask and the action posts the return event
  f.block(30);
  f.baud.rxflow.detectf = vcfNullfunction;
  vcfBdmSetRxAction(&f.baud, 0x100, 11, 0x1000, 12, 4);
  vcfBdmRxaction(&f.baud);
  VCESTMEVT ev = 0;
  ASSERT_EQ(vcfStmGetEvent(&f.baud.rxeventq, &ev), 1);
  EXPECT_EQ(ev, 12);
  EXPECT_EQ(f.baud.rxlbuf.bufp, f.samples + 12);
}

TEST(VcBaud, WaitPostsTheCounterEvent) {
  RxFixture f;
  f.block(30);
  f.baud.rxflow.rxcntr = 5;
  f.baud.rxflow.coutev = 42;
  vcfBdmRxwait(&f.baud);
  VCESTMEVT ev = 0;
  ASSERT_EQ(vcfStmGetEvent(&f.baud.rxeventq, &ev), 1);
  EXPECT_EQ(ev, 42);
}

// A transmit machine with a symbol line of n free slots.
struct TxFixture {
  VCZBAUD baud{};
  VCZMOD mod{};
  int16_t line[2 * 99]{};
  explicit TxFixture(int n) {
    vcfBdmTxbaud_init(&baud);
    vcfStmInitQueue(&baud.txeventq);
    vcfInitTxParam32(&mod, 16384);
    mod.phaseInc = 0;  // no carrier: the line shows the points themselves
    baud.txmem.modParamp = &mod;
    baud.txsbuf = VCZFASTBULKDLYHDL{line, line + n, line, line, 99};
  }
  VCZCOMPLEX at(int i) const { return {line[i], line[99 + i]}; }
};

bool same(VCZCOMPLEX a, VCZCOMPLEX b) { return std::abs(a.real - b.real) <= 2 && std::abs(a.imag - b.imag) <= 2; }

TEST(VcBaud, TrainingSegmentsSendTheirPoints) {
  TxFixture ab(4);
  vcfTxsendABv3x_init(&ab.baud);
  EXPECT_EQ(vcfBdmTxbaud(&ab.baud, 0, 0), 0u);
  const VCZCOMPLEX A = vctsigmapconst4LUT[0], B = vctsigmapconst4LUT[2];
  EXPECT_TRUE(same(ab.at(0), A));
  EXPECT_TRUE(same(ab.at(1), B));
  EXPECT_TRUE(same(ab.at(2), A));
  EXPECT_TRUE(same(ab.at(3), B));

  TxFixture two(64);
  vcfTxsendAAv3x_init(&two.baud);
  vcfTxgpctrnp2v3x_init(&two.baud);
  two.baud.txflow.txcntr = 10;
  two.baud.txflow.coutev = 7;
  vcfBdmTxwait(&two.baud);
  EXPECT_EQ(two.baud.txsbuf.fstWrp, two.line + 10);
  VCESTMEVT ev = 0;
  ASSERT_EQ(vcfStmGetEvent(&two.baud.txeventq, &ev), 1);
  EXPECT_EQ(ev, 7);
  int a = 0, c = 0;
  for (int i = 0; i < 10; ++i) {
    a += same(two.at(i), A);
    c += same(two.at(i), vctsigmapconst4LUT[3]);
  }
  EXPECT_EQ(a + c, 10) << "two-phase training uses A and C only";
  EXPECT_GT(a, 0);
  EXPECT_GT(c, 0);

  TxFixture zero(4);
  vcfTxsendAAv3x_init(&zero.baud);
  vcfTxsendZERO_init(&zero.baud);
  vcfBdmTxnoaction(&zero.baud);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(same(zero.at(i), VCZCOMPLEX{0, 0}));
}

TEST(VcBaud, ReceiveTrainingReferenceFollowsTheTransmitter) {
  // The receiver's replica, one symbol behind, names the point the transmitter sent.
  TxFixture tx(40);
  vcfTxsendAAv3x_init(&tx.baud);
  vcfTxgpctrnp2v3x_init(&tx.baud);
  vcfBdmTxnoaction(&tx.baud);
  VCZBAUD rx{};
  vcfBdmRxbaud_init(&rx);
  vcfRxgpctrn2v3xT3_init(&rx);
  for (int i = 0; i < 40; ++i) {
    vcfRxref2pv3x(&rx.rxmem, nullptr);
    if (i > 0) {
      const bool isC = rx.rxmem.decin == 3;
      EXPECT_TRUE(same(tx.at(i - 1), vctsigmapconst4LUT[isC ? 3 : 0])) << i;
    }
    v32gpctrn2(&rx.rxmem, nullptr);
  }
}

// A page-data transmitter for comparing the machine's loops: client packets through the reservoir
// into the baud machine, its line block, and the reports the reservoir made.
struct PageTx {
  alignas(16) unsigned char area[32768];
  MEM_BufPool* pool = hsfBmInit(area, sizeof(area), 64);
  QMQUEUE queue;
  VCZCPYFRMCLBUF copy;
  VCZBAUD baud{};
  VCZMOD mod{};
  int16_t line[2 * 99]{};
  std::vector<uint16_t> events;
  VCZIDLEPTN idle{{{21, 0x5A3C, 0x0F, 0, 0}, {0}}, 0};

  // Odd seeds send asynchronously: the idle pattern, which is not client bits, fills the gaps.
  PageTx(VCTXRUNF run, VCTXSTAGEF scram, VCTXSTAGEF encode, VCTXSTAGEF map, int bits, uint32_t seed) {
    MEM_InitQueue(&queue);
    vcfInitCopyFromClBuf(&copy, 1, 2, 3, 2, &idle, nullptr, seed & 1 ? VCASYNC : VCSYNC, &queue);
    vcfBdmTxbaud_init(&baud);
    vcfStmInitQueue(&baud.txeventq);
    vcfInitTxParam32(&mod, 16384);
    mod.phaseInc = seed * 2654435761u;
    VCZTXMEM& t = baud.txmem;
    t.modParamp = &mod;
    t.txCpyFrmBufp = &copy;
    t.txnumBits = uint16_t(bits);
    t.screg = seed & ((1u << 23) - 1);
    t.nones = uint16_t(seed % 34);
    t.encout = uint16_t(seed & 3);
    t.trelstate = uint16_t(seed % 8);
    t.txscale = 100;
    VCZTXFLOW& f = baud.txflow;
    f.txdataf = vcfTxClbuf;
    f.scramf = scram;
    f.encodef = encode;
    f.mapf = map;
    f.runf = run;
  }
  void send(const std::vector<uint16_t>& packet) {
    auto* p = static_cast<uint16_t*>(hsfBmAllocDirect(pool, packet.size() * 2));
    std::copy(packet.begin(), packet.end(), p);
    MEM_QueueEnq(&queue, p);
  }
  VCBDMSTATUS block(int n, VCBDMSTATUS detmask, VCBDMSTATUS rtnmask) {
    baud.txsbuf = VCZFASTBULKDLYHDL{line, line + n, line, line, 99};
    gEvents = &events;
    return vcfBdmTxbaud(&baud, detmask, rtnmask);
  }
  static inline std::vector<uint16_t>* gEvents = nullptr;
  static void sink(uint16_t code, uint16_t op1, uint16_t, const uint16_t*) {
    gEvents->push_back(code);
    gEvents->push_back(op1);
  }
};

struct PageStages {
  const char* name;
  VCTXRUNF run;
  VCTXSTAGEF scram, encode, map;
  int bits;
  const uint16_t* grid;
  const VCZCOMPLEX* points;
  uint16_t mask;
};

// The stages, with the run compiled for them.
template <VCTXSTAGEF S, VCTXSTAGEF E, VCTXSTAGEF M>
constexpr PageStages pageStages(const char* name, int bits, const uint16_t* grid, const VCZCOMPLEX* points,
                                uint16_t mask) {
  return {name, vcBdmTxRun<vcfTxClbuf, S, E, M>, S, E, M, bits, grid, points, mask};
}
template <VCTXSTAGEF S>
constexpr PageStages trellisStages(const char* name, int bits, const uint16_t* grid) {
  return pageStages<S, v3xfTtrelenc, v3xfTxmap>(name, bits, grid, nullptr, uint16_t((2u << bits) - 1));
}

// The page-data run, which takes a batch of symbols' bits at once where it can, gives the loop
// through the stages' pointers its line, state and reports, for every scrambler with a batch:
// random packets that come and run dry, line blocks of every length, counters that expire inside
// a batch, a report of a full draw that stops the run after each symbol, and guard counts that
// fire.
TEST(VcBaud, PageDataRunGivesTheStageLoopsLineStateAndReports) {
  const PageStages cases[] = {
      pageStages<v32gpcscr2, v3xfTxenc, vcfBdmSiglookup>("gpc2", 2, nullptr, vctsigmapconst4LUT, 3),
      trellisStages<v32gpcscr3>("gpc3", 3, SymMap7200Tab),
      trellisStages<v32gpcscr4>("gpc4", 4, SymMap9600Tab),
      trellisStages<v32gpcscr5>("gpc5", 5, SymMap12000Tab),
      trellisStages<v32gpcscr6>("gpc6", 6, SymMap14400Tab),
      pageStages<vcf27Scram2, v3xfTxenc, vcfBdmSiglookup>("v27/2", 2, nullptr, vctsigmapconst4LUT, 3),
      pageStages<vcf27Scram3, v3xfTxenc, vcfBdmSiglookup>("v27/3", 3, nullptr, vctSig16LUT, 7),
  };
  vcfSetEventSink(PageTx::sink);
  for (const PageStages& c : cases) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
      auto run = std::make_unique<PageTx>(c.run, c.scram, c.encode, c.map, c.bits, seed);
      auto loop = std::make_unique<PageTx>(nullptr, c.scram, c.encode, c.map, c.bits, seed);
      for (PageTx* tx : {run.get(), loop.get()}) {
        tx->baud.txmem.gridmap = c.grid;
        tx->baud.txmem.sigmap = c.points;
        tx->baud.txmem.txsigmask = c.mask;
      }
      std::mt19937 rng(seed);
      for (int b = 0; b < 3000; ++b) {
        if (rng() % 4 == 0 && MEM_QueueCount(&run->queue) < 8) {
          const uint16_t bits = uint16_t(1 + rng() % 300);
          std::vector<uint16_t> packet{bits};
          for (int i = 0; i < (bits + 15) / 16; ++i) packet.push_back(uint16_t(rng()));
          run->send(packet);
          loop->send(packet);
        }
        if (rng() % 8 == 0) run->baud.txflow.txcntr = loop->baud.txflow.txcntr = int16_t(rng() % 24);
        static constexpr VCBDMSTATUS kMasks[][2] = {{0, 0},
                                                    {VCBDM_CNTR_EXPIRED, 0},
                                                    {0, VCBDM_TXDATA_SHORT},
                                                    {0, VCBDM_TXDATA_FULL},
                                                    {VCBDM_TXDATA_FULL | VCBDM_CNTR_EXPIRED, 0}};
        const auto& m = kMasks[rng() % 5];
        const int n = int(1 + rng() % 30);
        const std::string at = std::string(c.name) + " seed " + std::to_string(seed) + " block " + std::to_string(b);
        ASSERT_EQ(run->block(n, m[0], m[1]), loop->block(n, m[0], m[1])) << at;
        const int sent = int(run->baud.txsbuf.fstWrp - run->line);
        ASSERT_EQ(sent, int(loop->baud.txsbuf.fstWrp - loop->line)) << at;
        for (int i = 0; i < sent; ++i) {
          ASSERT_EQ(run->line[i], loop->line[i]) << at << " symbol " << i;
          ASSERT_EQ(run->line[99 + i], loop->line[99 + i]) << at << " symbol " << i;
        }
        const VCZTXMEM &x = run->baud.txmem, &y = loop->baud.txmem;
        ASSERT_EQ(x.txdata, y.txdata) << at;
        ASSERT_EQ(x.scout, y.scout) << at;
        ASSERT_EQ(x.encout, y.encout) << at;
        ASSERT_EQ(x.trelstate, y.trelstate) << at;
        ASSERT_EQ(x.screg, y.screg) << at;
        ASSERT_EQ(x.nones, y.nones) << at;
        ASSERT_EQ(x.txtotalBits, y.txtotalBits) << at;
        ASSERT_EQ(run->baud.txflow.txcntr, loop->baud.txflow.txcntr) << at;
        ASSERT_EQ(run->mod.carrierPhase, loop->mod.carrierPhase) << at;
        ASSERT_EQ(run->copy.clientBitsRem, loop->copy.clientBitsRem) << at;
        ASSERT_EQ(run->copy.curWordBitPtr + run->copy.txBitsRem, loop->copy.curWordBitPtr + loop->copy.txBitsRem)
            << at;
        ASSERT_EQ(run->events, loop->events) << at;
      }
      ASSERT_GT(run->events.size(), 20u) << c.name << ": packets were sent and ran dry";
      vcfDumpTxDataPkts(&run->copy);
      vcfDumpTxDataPkts(&loop->copy);
      EXPECT_EQ(run->pool->numFreeBuf, loop->pool->numFreeBuf) << c.name;
    }
  }
  vcfSetEventSink(nullptr);
}

}  // namespace
