// Client buffers: transmit reader and packing, receive packing, the receive-data parser and its
// state machine, and the events they send.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "hsf/hsf.h"
#include "vc_baud.h"
#include "vc_clbuf.h"

namespace {

struct Event {
  uint16_t code, op1, op2;
  std::vector<uint16_t> data;
};
std::vector<Event> gEvents;

void sink(uint16_t code, uint16_t op1, uint16_t op2, const uint16_t* data) {
  Event e{code, op1, op2, {}};
  if (data != nullptr) e.data.assign(data, data + op1 / 2);
  gEvents.push_back(e);
}

constexpr uint16_t kSent = 0x11, kLow = 0x12, kUflow = 0x13, kRxData = 0x21;

struct Pool {
  alignas(16) unsigned char area[16384];
  MEM_BufPool* pool;
  explicit Pool(uint32_t block = 64) { pool = hsfBmInit(area, sizeof(area), block); }
  uint16_t* packet(const std::string& bits) {  // "0110..." first bit first
    auto* p = static_cast<uint16_t*>(hsfBmAllocDirect(pool, 56));
    p[0] = uint16_t(bits.size());
    for (size_t i = 0; i < 27; ++i) p[1 + i] = 0;
    for (size_t i = 0; i < bits.size(); ++i)
      if (bits[i] == '1') p[1 + i / 16] = uint16_t(p[1 + i / 16] | (1u << (i % 16)));
    return p;
  }
  uint32_t freeBlocks() const { return pool->numFreeBuf; }
};

std::string bitsOf(const uint16_t* pkt) {
  std::string s;
  for (int i = 0; i < pkt[0]; ++i) s += ((pkt[1 + i / 16] >> (i % 16)) & 1) ? '1' : '0';
  return s;
}
std::string bitsOf(const Event& e) { return bitsOf(e.data.data()); }

class ClbufTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gEvents.clear();
    vcfSetEventSink(sink);
  }
  void TearDown() override { vcfSetEventSink(nullptr); }
};

TEST_F(ClbufTest, ReaderSendsClientBitsThenReportsEachPacketOnce) {
  Pool p;
  const uint32_t free0 = p.freeBlocks();
  QMQUEUE q;
  MEM_InitQueue(&q);
  VCZCPYFRMCLBUF c;
  vcfInitCopyFromClBuf(&c, kSent, kLow, kUflow, 1, nullptr, nullptr, VCSYNC, &q);
  MEM_QueueEnq(&q, p.packet(""));  // an empty packet: reported, nothing sent
  MEM_QueueEnq(&q, p.packet("1010011"));
  MEM_QueueEnq(&q, p.packet("0001"));
  uint16_t out[2];
  std::string got;
  for (int i = 0; i < 5; ++i) {
    const uint16_t real = vcfCopyFromClBuf(&c, out, 3);
    for (int b = 0; b < real; ++b) got += ((out[0] >> b) & 1) ? '1' : '0';
  }
  EXPECT_EQ(got, "10100110001");
  std::vector<std::pair<uint16_t, uint16_t>> ev;
  for (const Event& e : gEvents) ev.push_back({e.code, e.op1});
  // the low-water report comes once per episode: the second take below the threshold is quiet
  std::vector<std::pair<uint16_t, uint16_t>> filtered;
  for (auto& e : ev)
    if (!(e.first == kLow && e.second == 0)) filtered.push_back(e);
  EXPECT_EQ(filtered, (std::vector<std::pair<uint16_t, uint16_t>>{{kSent, 1}, {kLow, 1}, {kSent, 2}, {kSent, 2}, {kUflow, 0}}));
  int uflows = 0;
  for (const Event& e : gEvents) uflows += e.code == kUflow;
  EXPECT_EQ(uflows, 1);
  EXPECT_EQ(p.freeBlocks(), free0);
}

TEST_F(ClbufTest, SynchronousUnderflowGivesMarksAndShortStatus) {
  QMQUEUE q;
  MEM_InitQueue(&q);
  VCZCPYFRMCLBUF c;
  vcfInitCopyFromClBuf(&c, kSent, kLow, kUflow, 0, nullptr, nullptr, VCSYNC, &q);
  VCZTXMEM t{};
  t.txCpyFrmBufp = &c;
  t.txnumBits = 4;
  EXPECT_EQ(vcfTxClbuf(&t), VCBDM_TXDATA_SHORT);
  EXPECT_EQ(t.txdata, 0xFFFF);
  EXPECT_EQ(vcfTxClbuf(&t), VCBDM_TXDATA_SHORT);
  int uflows = 0;
  for (const Event& e : gEvents) uflows += e.code == kUflow;
  EXPECT_EQ(uflows, 1);
}

TEST_F(ClbufTest, AsynchronousUnderflowSendsTheIdlePattern) {
  QMQUEUE q;
  MEM_InitQueue(&q);
  VCZIDLEPTN idle{};
  idle.idlePtn[0][0] = 8;
  idle.idlePtn[0][1] = 0x7E;  // flags
  VCZCPYFRMCLBUF c;
  vcfInitCopyFromClBuf(&c, kSent, kLow, kUflow, 0, &idle, nullptr, VCASYNC, &q);
  uint16_t out[1];
  EXPECT_EQ(vcfCopyFromClBuf(&c, out, 16), 0);  // none of them client bits
  EXPECT_EQ(out[0], 0x7E7E);
}

TEST_F(ClbufTest, PackingFillsTheLastPacketAndSplitsAtTheBlock) {
  Pool p;
  QMQUEUE q;
  MEM_InitQueue(&q);
  const uint16_t blockBytes = 8;  // 48 data bits
  EXPECT_EQ(vcfPackData(p.pool, &q, p.packet(std::string(20, '1')), blockBytes), 1);
  EXPECT_EQ(vcfPackData(p.pool, &q, p.packet(std::string(20, '0')), blockBytes), 0);
  EXPECT_EQ(MEM_QueueCount(&q), 1u);
  EXPECT_EQ(vcfPackData(p.pool, &q, p.packet("1111111111"), blockBytes), 1);
  ASSERT_EQ(MEM_QueueCount(&q), 2u);
  auto* first = static_cast<uint16_t*>(MEM_QueueDeq(&q));
  auto* second = static_cast<uint16_t*>(MEM_QueueDeq(&q));
  EXPECT_EQ(bitsOf(first), std::string(20, '1') + std::string(20, '0') + "11111111");
  EXPECT_EQ(bitsOf(second), "11");
  hsfBmFree(first);
  hsfBmFree(second);
}

TEST_F(ClbufTest, ReceivePackerQueuesFullPacketsAndFlushesTheRest) {
  Pool p;
  const uint32_t free0 = p.freeBlocks();
  VCZCPYTOCLBUF c;
  vcfInitCopyToClBuf(&c, 16, p.pool, kRxData);
  for (int i = 0; i < 9; ++i) vcfCopyToClBuf(&c, 0b101, 3);  // 27 bits
  EXPECT_EQ(MEM_QueueCount(&c.pktQ), 1u);
  vcfSendFullRxDataPkts(nullptr, &c);
  ASSERT_EQ(gEvents.size(), 1u);
  EXPECT_EQ(gEvents[0].code, kRxData);
  EXPECT_EQ(gEvents[0].op1, 4);  // two words: count and 16 bits
  EXPECT_EQ(bitsOf(gEvents[0]), "1011011011011011");
  vcfFlushRxDataPkts(nullptr, &c);
  ASSERT_EQ(gEvents.size(), 2u);
  EXPECT_EQ(bitsOf(gEvents[1]), "01101101101");
  EXPECT_EQ(p.freeBlocks(), free0);
}

// Word-wise copies and packing against the bit-at-a-time rule: every bit lands in order, the bits
// below the first one written stay, the rest of the last word written is cleared.
TEST_F(ClbufTest, BitCopiesAndThePackerMatchTheBitAtATimeRule) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 3000; ++trial) {
    uint16_t src[8], dst[8], want[8];
    for (auto& w : src) w = uint16_t(rng());
    for (int i = 0; i < 8; ++i) dst[i] = want[i] = uint16_t(rng());
    const uint32_t srcBit = rng() % 40, dstBit = rng() % 40, n = rng() % 60;
    for (uint32_t i = 0; i < n; ++i) {
      const uint32_t at = dstBit + i;
      uint16_t& w = want[at >> 4];
      w = uint16_t((at & 15) == 0 ? 0 : w & ((1u << (at & 15)) - 1));
      if ((src[(srcBit + i) >> 4] >> ((srcBit + i) & 15)) & 1) w = uint16_t(w | (1u << (at & 15)));
    }
    vcfbitcopy(dst, dstBit, src, srcBit, n);
    for (int i = 0; i < 8; ++i) ASSERT_EQ(dst[i], want[i]) << trial << " word " << i;
  }
  // the packer takes groups of any size across packets of 37 bits
  Pool p(96);
  VCZCPYTOCLBUF c;
  vcfInitCopyToClBuf(&c, 37, p.pool, kRxData);
  std::string sent;
  for (int group = 0; group < 200; ++group) {
    const uint16_t n = uint16_t(1 + rng() % 16), bits = uint16_t(rng());
    for (int i = 0; i < n; ++i) sent += ((bits >> i) & 1) ? '1' : '0';
    vcfCopyToClBuf(&c, bits, n);
  }
  vcfFlushRxDataPkts(nullptr, &c);
  std::string got;
  for (const Event& e : gEvents) {
    ASSERT_LE(e.data[0], 37);
    got += bitsOf(e);
    const int last = e.data[0] - 1;  // above the last bit its word is clear
    ASSERT_EQ(e.data[1 + last / 16] >> (last % 16) >> 1, 0) << got.size();
  }
  EXPECT_EQ(got, sent);
}

TEST_F(ClbufTest, ReceivePackerDropsBitsWhenThePoolIsEmpty) {
  Pool p;
  VCZCPYTOCLBUF c;
  vcfInitCopyToClBuf(&c, 16, p.pool, kRxData);
  std::vector<void*> held;
  while (void* b = hsfBmAllocDirect(p.pool, 8)) held.push_back(b);
  for (int i = 0; i < 10; ++i) vcfCopyToClBuf(&c, 0xFFFF, 16);  // one packet fills, the rest is lost
  EXPECT_EQ(MEM_QueueCount(&c.pktQ), 1u);
  for (void* b : held) hsfBmFree(b);
  vcfCopyToClBuf(&c, 0x1, 1);  // the next call starts a packet again
  vcfFlushRxDataPkts(nullptr, &c);
  EXPECT_EQ(gEvents.size(), 2u);
}

struct Parse {
  Pool p;
  VCZPARSERXDATA ps{};
  VCERXDATAFLAG run(const std::string& bits, std::string* out) {
    uint16_t* pkt = p.packet(bits);
    const VCERXDATAFLAG f = vcfParseRxData(p.pool, &pkt, &ps);
    if (pkt != nullptr) {
      *out = bitsOf(pkt);
      hsfBmFree(pkt);
    } else {
      *out = "<none>";
    }
    return f;
  }
};

TEST_F(ClbufTest, ParserFindsEndOfLineOnlyAfterElevenZeros) {
  Parse t;
  t.ps.flag = VCEOL;
  std::string out;
  EXPECT_EQ(t.run("1100000000001", &out), VCNOFLAG);  // ten zeros
  EXPECT_EQ(out, "<none>");
  t.ps = VCZPARSERXDATA{VCEOL, 0, 0, 0};
  EXPECT_EQ(t.run("11000000000001101", &out), VCEOL);
  // three bits after the EOL: one fill zero, the EOL, the three bits
  EXPECT_EQ(out, "0" "000000000001" "101");
}

TEST_F(ClbufTest, ParserEndsThePageAfterFourEolsInARow) {
  Parse t;
  t.ps.flag = VCRTC;
  const std::string eol = "000000000001";
  std::string out;
  EXPECT_EQ(t.run(eol + eol + "1" + eol, &out), VCNOFLAG);  // a data bit restarts the count
  EXPECT_EQ(out.size(), 37u);
  EXPECT_EQ(t.run(eol + eol + eol + "0110", &out), VCRTC);
  EXPECT_EQ(out, eol + eol + eol + "0000");  // cut after the fourth EOL, rounded to a byte
}

TEST_F(ClbufTest, ParserFindsAFlagAcrossPacketsAndTheTrainingZeros) {
  Parse t;
  t.ps.flag = VCHDLC;
  std::string out;
  EXPECT_EQ(t.run("0011", &out), VCNOFLAG);
  EXPECT_EQ(t.run("11110101", &out), VCHDLC);
  EXPECT_EQ(out, "01111110" "101");
  Parse z;
  z.ps.flag = VCTCF;
  EXPECT_EQ(z.run("1" + std::string(16, '0') + "11", &out), VCTCF);
  EXPECT_EQ(out, std::string(16, '0') + "11");
}

// Page data in packets of any length against the bit-at-a-time rule (a one after eleven zeros or
// more ends a line; four such ones in a row, the page): where the parser cuts, what it keeps, and
// its counts after every packet, on streams of line ends, long runs of zeros and of ones, sparse
// and dense data, across word and packet boundaries.
TEST_F(ClbufTest, ParserCutsPageDataWhereTheBitAtATimeRuleDoes) {
  struct Rule {
    VCZPARSERXDATA s;
    VCERXDATAFLAG feed(bool one) {
      if (!one) {
        ++s.zeroCount;
        s.oneCount = 0;
        return VCNOFLAG;
      }
      ++s.oneCount;
      const bool afterEleven = s.zeroCount >= 11;
      s.zeroCount = 0;
      if (!afterEleven) {
        s.flagCount = 0;
        return VCNOFLAG;
      }
      if (s.flag == VCEOL) return VCEOL;
      return ++s.flagCount >= 4 ? VCRTC : VCNOFLAG;
    }
  };
  std::mt19937 rng(11);
  const std::string eol = "000000000001";
  for (int trial = 0; trial < 400; ++trial) {
    std::string stream;
    while (stream.size() < 3000) {
      switch (rng() % 5) {
        case 0: stream += std::string(rng() % 25, '0') + "1"; break;
        case 1: stream += std::string(1 + rng() % 40, '1'); break;
        case 2: for (unsigned k = rng() % 5; k > 0; --k) stream += std::string(rng() % 3, '0') + eol; break;
        default: {
          const unsigned density = 1 + rng() % 7, n = 1 + rng() % 40;
          for (unsigned i = 0; i < n; ++i) stream += rng() % 8 < density ? '1' : '0';
        }
      }
    }
    Parse t;
    Rule r{};
    t.ps = r.s = VCZPARSERXDATA{trial % 3 == 0 ? VCRTC : VCEOL, 0, 0, 0};
    t.ps.zeroCount = r.s.zeroCount = uint16_t(trial % 7 == 0 ? 65530 : 0);  // the count wraps as it runs
    for (size_t at = 0; at < stream.size() && r.s.flag != VCNOFLAG;) {
      const std::string bits = stream.substr(at, 1 + rng() % 100);
      at += bits.size();
      VCERXDATAFLAG want = VCNOFLAG;
      size_t after = 0;
      while (after < bits.size() && want == VCNOFLAG) want = r.feed(bits[after++] == '1');
      std::string out;
      ASSERT_EQ(t.run(bits, &out), want) << trial << " at " << at;
      if (want == VCEOL) {
        const size_t rest = bits.size() - after;
        EXPECT_EQ(out, std::string((8 - (rest + 12) % 8) % 8, '0') + eol + bits.substr(after)) << trial;
        t.ps = r.s = VCZPARSERXDATA{VCRTC, 0, 0, 0};  // as the page's state machine goes on
        continue;
      }
      if (want == VCRTC) {
        EXPECT_EQ(out, bits.substr(0, after) + std::string((8 - after % 8) % 8, '0')) << trial;
        r.s.flag = VCNOFLAG;
        continue;
      }
      EXPECT_EQ(out, r.s.flag == VCRTC ? bits : "<none>") << trial;
      ASSERT_EQ(std::vector<int>({t.ps.oneCount, t.ps.zeroCount, t.ps.flagCount}),
                std::vector<int>({r.s.oneCount, r.s.zeroCount, r.s.flagCount})) << trial << " at " << at;
    }
  }
}

TEST_F(ClbufTest, PageStateMachineDropsUntilEolPassesUntilRtcThenGoesQuiet) {
  Pool p;
  const uint32_t free0 = p.freeBlocks();
  VCZRXPKTPARAM h{};
  vcfInitRxDataHandler(nullptr, kRxData, 1, p.pool, &h);
  const std::string eol = "000000000001";
  EXPECT_EQ(vcfRxDataHandler(p.packet("10101"), &h), VCNOFLAG);
  EXPECT_TRUE(gEvents.empty());
  EXPECT_EQ(vcfRxDataHandler(p.packet("1" + eol + "1101"), &h), VCEOL);
  ASSERT_EQ(gEvents.size(), 1u);
  EXPECT_EQ(bitsOf(gEvents[0]), eol + "1101");  // already byte-aligned: no fill
  EXPECT_EQ(vcfRxDataHandler(p.packet("11001100"), &h), VCNOFLAG);
  EXPECT_EQ(gEvents.size(), 2u);
  EXPECT_EQ(vcfRxDataHandler(p.packet(eol + eol + eol + eol + "1111"), &h), VCRTC);
  EXPECT_EQ(gEvents.size(), 3u);
  EXPECT_EQ(vcfRxDataHandler(p.packet("1111"), &h), VCNOFLAG);
  EXPECT_EQ(vcfRxDataHandler(p.packet(eol), &h), VCNOFLAG);
  EXPECT_EQ(gEvents.size(), 3u);
  EXPECT_EQ(p.freeBlocks(), free0);
}

TEST_F(ClbufTest, TrainingCheckDataPassesFromItsSixteenZeros) {
  Pool p;
  VCZRXPKTPARAM h{};
  vcfInitRxDataHandler(nullptr, kRxData, 3, p.pool, &h);
  EXPECT_EQ(vcfRxDataHandler(p.packet("1111" + std::string(10, '0')), &h), VCNOFLAG);
  EXPECT_EQ(vcfRxDataHandler(p.packet(std::string(10, '0') + "00"), &h), VCTCF);
  EXPECT_EQ(vcfRxDataHandler(p.packet("0000"), &h), VCNOFLAG);
  ASSERT_EQ(gEvents.size(), 2u);
  EXPECT_EQ(bitsOf(gEvents[0]), std::string(16 + 6, '0'));  // the zeros after the sixteenth
  EXPECT_EQ(bitsOf(gEvents[1]), "0000");
}

TEST_F(ClbufTest, DroppingTransmitPacketsReportsEachWithItsSize) {
  Pool p;
  const uint32_t free0 = p.freeBlocks();
  QMQUEUE q;
  MEM_InitQueue(&q);
  VCZCPYFRMCLBUF c;
  vcfInitCopyFromClBuf(&c, kSent, kLow, 0, 0, nullptr, nullptr, VCSYNC, &q);
  MEM_QueueEnq(&q, p.packet(std::string(40, '1')));
  MEM_QueueEnq(&q, p.packet("1"));
  uint16_t out[1];
  vcfCopyFromClBuf(&c, out, 8);  // the first packet is in hand
  gEvents.clear();
  vcfDumpTxDataPkts(&c);
  ASSERT_EQ(gEvents.size(), 2u);
  EXPECT_EQ(gEvents[0].op1, 4);
  EXPECT_EQ(gEvents[1].op1, 2);
  EXPECT_EQ(p.freeBlocks(), free0);
}

TEST_F(ClbufTest, TrainingCheckCounterCountsOnesOverOnePointTwoSeconds) {
  VCZBAUD baud{};
  vcfBdmRxbaud_init(&baud);
  vcfInitRxTCF(&baud, S_2400);
  EXPECT_EQ(baud.rxflow.rxcntr, 2880);
  baud.rxmem.rxnumBits = 4;
  baud.rxmem.desout = 0xFFF7;  // three ones among the four bits
  vcfRxTCF(&baud);
  vcfRxTCF(&baud);
  EXPECT_EQ(baud.rxmem.onesInTCF, 6);
}

}  // namespace
