// The baud machine's symbol loops, counters, masks and training segments.
#include <gtest/gtest.h>

#include <vector>

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

}  // namespace
