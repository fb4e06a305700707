// IFP packets and UDPTL datagrams: encoding, walking, redundancy, reordering, bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "t38_udptl.h"

namespace {

std::vector<uint8_t> ifpOf(bool data, int type, IFP_FIELD_TYPE f0, std::vector<uint8_t> payload, IFP_FIELD_TYPE f1) {
  std::vector<uint8_t> out(128);
  const int n = t38fEncodeIFP(out.data(), int(out.size()), data, type, f0, payload.data(), int(payload.size()), f1);
  out.resize(size_t(n < 0 ? 0 : n));
  return out;
}

TEST(T38Ifp, EncodingsOfTheKnownPackets) {
  EXPECT_EQ(ifpOf(true, 0, HDLC_DATA, {0xD1, 0xD2, 0xD3}, HDLC_FCS_OK_SIG_END),
            (std::vector<uint8_t>{0xC0, 0x02, 0x80, 0x00, 0x02, 0xD1, 0xD2, 0xD3, 0x40}));
  EXPECT_EQ(ifpOf(true, 0, HDLC_DATA, {}, HDLC_FCS_OK), (std::vector<uint8_t>{0xC0, 0x01, 0x20}));
  EXPECT_EQ(ifpOf(false, 2, NO_DFS, {}, NO_DFS), (std::vector<uint8_t>{0x04}));  // CED
  for (const auto& ifp : {ifpOf(true, 0, HDLC_DATA, {1, 2, 3}, HDLC_FCS_OK_SIG_END), ifpOf(true, 0, HDLC_DATA, {}, HDLC_FCS_OK),
                          ifpOf(false, 2, NO_DFS, {}, NO_DFS), ifpOf(true, 8, T4_NON_ECM, std::vector<uint8_t>(86, 0x55), NO_DFS)})
    EXPECT_EQ(t38fIFPcheck(ifp.data(), int(ifp.size())), int(ifp.size()));
}

TEST(T38Ifp, WalkRefusesWhatIsNotThere) {
  // a field of 300 octets is taken whole; one octet fewer than its length says is not there
  std::vector<uint8_t> big = {0xC0 | (8 << 1), 0x01, 0x80 | (T4_NON_ECM << 4), 0x01, 0x2B};
  big.insert(big.end(), 300, 0x55);
  EXPECT_EQ(t38fIFPcheck(big.data(), int(big.size())), int(big.size()));
  EXPECT_EQ(t38fIFPcheck(big.data(), int(big.size()) - 1), -1);
  const auto ok = ifpOf(true, 0, HDLC_DATA, {1, 2, 3}, HDLC_FCS_OK_SIG_END);
  for (int cut = 1; cut < int(ok.size()); ++cut) EXPECT_EQ(t38fIFPcheck(ok.data(), cut), -1) << cut;
  const uint8_t noField[] = {0x40};  // data without a data field
  EXPECT_EQ(t38fIFPcheck(noField, 1), -1);
  const uint8_t manyFields[] = {0xC0, 0x80};
  EXPECT_EQ(t38fIFPcheck(manyFields, 2), -1);
}

TEST(T38Udptl, LengthDeterminantsStayInsideTheDatagram) {
  const uint8_t two[] = {0x81, 0x02};
  const uint8_t* p = two;
  EXPECT_EQ(t38fGetLengthDeterminant(&p, two + 2), 0x102);
  p = two;
  EXPECT_EQ(t38fGetLengthDeterminant(&p, two + 1), 0xFFFF);  // second octet missing
  const uint8_t frag[] = {0xC0};
  p = frag;
  EXPECT_EQ(t38fGetLengthDeterminant(&p, frag + 1), 0xFFFF);
}

struct Received {
  alignas(16) unsigned char area[65536];
  MEM_BufPool* pool;
  T38ZREORDER rq;
  // a pool of `bytes` of the area: a small one runs dry
  explicit Received(size_t bytes = sizeof(area)) {
    pool = hsfBmInit(area, bytes, DG_BLOCK_BYTES + sizeof(void*));
    t38fReorderInit(&rq, pool);
  }
  ~Received() {
    DG_HDL h;
    for (QMQUEUE* q : {&rq.egressPktq, &rq.drainq})
      while (dg_deq(q, &h)) dg_free(dg_QmPeekFront(&h.qhdr));
  }
  std::vector<uint16_t> order() {
    std::vector<uint16_t> s;
    for (EGR_IFP_PKT* p = t38egr_ifp_QmPeekFront(&rq.egressPktq); p != nullptr; p = t38egr_ifp_QmPeekLink(p))
      s.push_back(p->sequenceNum);
    return s;
  }
  // The queue played out as the service plays it (the reorder delay left aside): the numbers and
  // packets played, the numbers passed without a packet, the packets played across a break, and
  // those played though other content came under their numbers. At most `most` are played: the
  // service holds a packet that closes a frame good for the datagram after it.
  struct Played {
    // stepShaped: played contested where the other content was the packet of a number beside
    std::vector<uint16_t> numbers, lost, broken, contested, afterStray, follows, stepShaped;
    std::vector<std::vector<uint8_t>> ifps;
  };
  Played playOut(size_t most = SIZE_MAX) {
    Played out;
    DG_HDL h;
    while (out.numbers.size() < most && !t38fReorderHeadWaits(&rq) && t38egr_ifp_deq(&rq.egressPktq, &h)) {
      const uint16_t s = t38egr_ifp_getifpFromHandle(&h)->sequenceNum;
      constexpr uint16_t kWords = 2 + (T38_MAX_RX_IFP + 1) / 2;
      uint16_t words[kWords];
      const uint16_t got = t38egr_ifp_read(words, &h, kWords);
      std::vector<uint8_t> ifp(size_t(2 * (got - 2)));
      t38egr_ifp_unpack(ifp.data(), words + 2, int(ifp.size()));
      ifp.resize(size_t(t38fIFPcheck(ifp.data(), int(ifp.size()))));
      dg_free(dg_QmPeekFront(&h.qhdr));
      const uint16_t before = rq.lastoutTimeStamp;
      const bool follows = t38fReorderFollows(&rq, s);
      const T38_PLAYOUT verdict = t38fReorderPlayout(&rq, s, t38fIFPdigest(ifp.data(), int(ifp.size())));
      if (verdict == T38_DROPPED) continue;
      for (uint16_t gap = uint16_t(before + 1); gap != s; ++gap) out.lost.push_back(gap);
      if (verdict == T38_PLAY_BROKEN || verdict == T38_PLAY_AFTER_STRAY) out.broken.push_back(s);
      if (verdict == T38_PLAY_AFTER_STRAY) out.afterStray.push_back(s);
      if (verdict == T38_PLAY_CONTESTED) out.contested.push_back(s);
      if (verdict == T38_PLAY_CONTESTED && t38fReorderContestedByNeighbour(&rq, s)) out.stepShaped.push_back(s);
      if (follows) out.follows.push_back(s);
      out.numbers.push_back(s);
      out.ifps.push_back(ifp);
    }
    return out;
  }
  bool take(const std::vector<uint8_t>& d) { return t38fUDPEgress(&rq, d.data(), d.size()); }
};

std::vector<uint8_t> build(T38ZUDPTX& tx, const std::vector<uint8_t>& ifp, int redundancy) {
  std::vector<uint8_t> out(1024);
  out.resize(t38fUDPBuild(&tx, ifp.data(), int(ifp.size()), redundancy, out.data(), out.size()));
  return out;
}

TEST(T38Udptl, RedundancyCarriesTheLastPacketsNewestFirst) {
  T38ZUDPTX tx;
  t38fUDPTXInit(&tx);
  std::vector<std::vector<uint8_t>> dgs;
  for (int i = 0; i < 4; ++i) dgs.push_back(build(tx, ifpOf(false, i, NO_DFS, {}, NO_DFS), 3));
  EXPECT_EQ(dgs[0], (std::vector<uint8_t>{0, 0, 1, 0x00, 0, 0}));  // number 0, no secondaries
  // the fourth: number 3, primary type 3, then 2, 1, 0
  EXPECT_EQ(dgs[3], (std::vector<uint8_t>{0, 3, 1, 0x06, 0, 3, 1, 0x04, 1, 0x02, 1, 0x00}));
  // without redundancy no secondaries go out, but the packets stay in the history: when the
  // redundancy comes back the next datagram still carries them
  T38ZUDPTX none;
  t38fUDPTXInit(&none);
  std::vector<uint8_t> rep(64);
  EXPECT_EQ(t38fRepeatLast(&none, rep.data(), rep.size()), 0u) << "nothing sent, nothing to repeat";
  build(none, {0x02}, 0);
  EXPECT_EQ(build(none, {0x04}, 0), (std::vector<uint8_t>{0, 1, 1, 0x04, 0, 0}));
  const auto back = build(none, {0x06}, 2);
  EXPECT_EQ(back, (std::vector<uint8_t>{0, 2, 1, 0x06, 0, 2, 1, 0x04, 1, 0x02}));
  // a repeat is the last datagram as it went out, however long the history
  rep.resize(t38fRepeatLast(&none, rep.data(), rep.size()));
  EXPECT_EQ(rep, back);
  rep.resize(64);
  rep.resize(t38fRepeatLast(&tx, rep.data(), rep.size()));
  EXPECT_EQ(rep, dgs[3]);
}

TEST(T38Udptl, SequenceNumbersWrapAt65536) {
  T38ZUDPTX tx;
  t38fUDPTXInit(&tx);
  tx.ingressSequenceNum = 65535;
  const auto a = build(tx, {0x02}, 1);
  const auto b = build(tx, {0x04}, 1);
  EXPECT_EQ(a[0], 0xFF);
  EXPECT_EQ(a[1], 0xFF);
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(b[1], 0);
  Received r;
  r.rq.lastoutTimeStamp = 65530;
  r.rq.isReorderQInitialized = true;
  EXPECT_TRUE(t38fUDPEgress(&r.rq, b.data(), b.size()));  // primary 0 and secondary 65535
  EXPECT_EQ(r.order(), (std::vector<uint16_t>{65535, 0})) << "65535 goes before 0";
}

TEST(T38Udptl, SecondariesFillGapsAndOldOrFarPacketsAreNotMissing) {
  T38ZUDPTX tx;
  t38fUDPTXInit(&tx);
  std::vector<std::vector<uint8_t>> dgs;
  for (int i = 0; i < 5; ++i) dgs.push_back(build(tx, ifpOf(false, i % 8, NO_DFS, {}, NO_DFS), 3));
  Received r;
  EXPECT_TRUE(t38fUDPEgress(&r.rq, dgs[0].data(), dgs[0].size()));
  EXPECT_TRUE(t38fUDPEgress(&r.rq, dgs[3].data(), dgs[3].size()));  // 1 and 2 lost, recovered
  EXPECT_TRUE(t38fUDPEgress(&r.rq, dgs[1].data(), dgs[1].size()));  // late: only what is missing
  EXPECT_EQ(r.order(), (std::vector<uint16_t>{0, 1, 2, 3}));  // recovered packets go into sequence order
  r.rq.lastoutTimeStamp = 100;
  EXPECT_FALSE(isIFPmissing(&r.rq, 100));  // already played out
  EXPECT_TRUE(isIFPmissing(&r.rq, 600));   // 500 ahead: still taken
  EXPECT_FALSE(isIFPmissing(&r.rq, 601));  // 501 ahead: dropped
  // a long packet's record runs over two pool blocks; the word that starts the second is no
  // number, and a packet queued behind it is found
  Received l;
  l.rq.lastoutTimeStamp = 0x1200;
  l.rq.isReorderQInitialized = true;
  std::vector<uint8_t> data(86, 0x55);
  data[69] = 0x34;  // octets 74 and 75 of the packet: the second block's first word
  data[70] = 0x12;
  const auto longPacket = ifpOf(true, 8, T4_NON_ECM, data, NO_DFS);
  ASSERT_TRUE(enqueueIFP(&l.rq, longPacket.data(), int(longPacket.size()), 0x1201));
  ASSERT_TRUE(enqueueIFP(&l.rq, dgs[0].data() + 3, 1, 0x1202));
  EXPECT_EQ(l.rq.egressPktq.count, 3u);
  EXPECT_TRUE(isIFPmissing(&l.rq, 0x1234));
  EXPECT_FALSE(isIFPmissing(&l.rq, 0x1201));
  EXPECT_FALSE(isIFPmissing(&l.rq, 0x1202));
  EXPECT_TRUE(isIFPmissing(&l.rq, 0x1203));
}

// Datagrams numbered from `first` with the redundancy given, each an indicator.
std::vector<std::vector<uint8_t>> numbered(uint16_t first, int count, int redundancy) {
  T38ZUDPTX tx;
  t38fUDPTXInit(&tx);
  tx.ingressSequenceNum = first;
  std::vector<std::vector<uint8_t>> dgs;
  for (int i = 0; i < count; ++i) dgs.push_back(build(tx, ifpOf(false, 1 + i % 7, NO_DFS, {}, NO_DFS), redundancy));
  return dgs;
}

TEST(T38Udptl, TheFirstDatagramSetsTheBaseWithTheOlderPacketsItCarries) {
  auto dgs = numbered(997, 6, 2);
  Received r;
  EXPECT_TRUE(t38fUDPEgress(&r.rq, dgs[3].data(), dgs[3].size()));  // 1000, carrying 999 and 998
  EXPECT_TRUE(t38fUDPEgress(&r.rq, dgs[4].data(), dgs[4].size()));  // the next is in the window
  EXPECT_EQ(r.order(), (std::vector<uint16_t>{998, 999, 1000, 1001}));
  EXPECT_EQ(r.rq.lastoutTimeStamp, 997);
  EXPECT_EQ(r.rq.failtoReorderCount, 0);
  // one datagram takes no more secondaries than the deepest redundancy needs
  std::vector<uint8_t> deep{0x03, 0xE8, 1, 0x02, 0x00, 10};
  for (int i = 0; i < 10; ++i) deep.insert(deep.end(), {1, 0x04});
  Received d;
  d.rq.lastoutTimeStamp = 989;
  d.rq.isReorderQInitialized = true;
  EXPECT_TRUE(t38fUDPEgress(&d.rq, deep.data(), deep.size()));
  EXPECT_EQ(d.order().size(), size_t(1 + T38_MAX_SECONDARIES_TAKEN));
}

// A run of T38_RESYNC_RUN datagrams far outside the window, each a little ahead of the one before,
// with none of the window between them, starts a new sequence; less proves nothing.
TEST(T38Udptl, ARunOfFarDatagramsStartsANewSequenceAndNothingLessDoes) {
  const auto old = numbered(100, 4, 3);
  const auto far = numbered(30000, 40, 3);
  auto start = [](Received& r, const std::vector<std::vector<uint8_t>>& dgs) {
    for (const auto& d : dgs) t38fUDPEgress(&r.rq, d.data(), d.size());
  };
  {  // two in a row: refused and counted; the third proves it. A packet that stood alone far
     // ahead of the old sequence never had the stream's word: it does not play with the old ones
    Received r;
    start(r, old);
    const auto alone = numbered(124, 1, 0);
    r.take(alone[0]);
    ASSERT_EQ(r.order(), (std::vector<uint16_t>{100, 101, 102, 103, 124}));
    t38fUDPEgress(&r.rq, far[5].data(), far[5].size());
    t38fUDPEgress(&r.rq, far[6].data(), far[6].size());
    EXPECT_EQ(r.order(), (std::vector<uint16_t>{100, 101, 102, 103, 124}));
    EXPECT_EQ(r.rq.failtoReorderCount, 2);
    t38fUDPEgress(&r.rq, far[7].data(), far[7].size());
    // the old packets wait in their own order to play first; the new numbers start at the run's
    // first, which the third carries as a secondary, and nothing older of it is taken
    EXPECT_EQ(r.order(), (std::vector<uint16_t>{30005, 30006, 30007}));
    EXPECT_EQ(r.rq.lastoutTimeStamp, 30004);
    EXPECT_EQ(r.rq.failtoReorderCount, 2);
    EXPECT_TRUE(r.rq.breakPending) << "the first packet of the new sequence plays across a break";
    std::vector<uint16_t> drained;
    for (EGR_IFP_PKT* p = t38egr_ifp_QmPeekFront(&r.rq.drainq); p != nullptr; p = t38egr_ifp_QmPeekLink(p))
      drained.push_back(p->sequenceNum);
    EXPECT_EQ(drained, (std::vector<uint16_t>{100, 101, 102, 103}));
  }
  {  // a discontinuity let through before the restart (a datagram refused for contradicting the
     // stream under 102, with 101's packet: no copy of the stream's misnumbered by a bit) still
     // breaks the old sequence's frame where it lies
    Received r;
    start(r, numbered(100, 5, 1));
    t38fUDPEgress(&r.rq, numbered(101, 2, 0)[1].data(), numbered(101, 2, 0)[1].size());
    start(r, numbered(30000, 3, 0));
    std::vector<uint16_t> drained, broken;
    DG_HDL h;
    while (t38egr_ifp_deq(&r.rq.drainq, &h)) {
      const uint16_t s = t38egr_ifp_getifpFromHandle(&h)->sequenceNum;
      drained.push_back(s);
      if (t38fDrainPlayout(&r.rq, s) == T38_PLAY_BROKEN) broken.push_back(s);
      dg_free(dg_QmPeekFront(&h.qhdr));
    }
    EXPECT_EQ(drained, (std::vector<uint16_t>{100, 101, 102, 103, 104}));
    EXPECT_EQ(broken, (std::vector<uint16_t>{102}));
  }
  {  // a datagram of the window between far ones starts the run again; far datagrams of another
     // run between them (a stale run while the peer renumbers) neither end it nor go on with it:
     // each run goes on as its own, and the first to prove itself starts the sequence
    Received r;
    start(r, old);
    const auto next = numbered(104, 1, 0);
    for (const auto* d : {&far[5], &far[6], &next[0], &far[7], &far[8]}) t38fUDPEgress(&r.rq, d->data(), d->size());
    EXPECT_EQ(r.order(), (std::vector<uint16_t>{100, 101, 102, 103, 104}));
    Received both;
    start(both, old);
    const auto other = numbered(50000, 2, 0);
    for (const auto* d : {&far[5], &other[0], &far[6], &other[1], &far[7]}) t38fUDPEgress(&both.rq, d->data(), d->size());
    EXPECT_EQ(both.order(), (std::vector<uint16_t>{30005, 30006, 30007}));
  }
  {  // at redundancy 0 the peer's numbers step back by 2 under new content after 104 and 105
     // played: the two datagrams refused are too few for a run, and the datagram numbered next
     // shows the peer went on from them: its packets play in the order sent from 104, the first
     // across a break. One refused alone may be a stray; two that do not reach the stream's
     // newest, or whose packet the next datagram brings again, prove nothing: the stream goes on.
     // One does where 105 was the V.21 preamble and it opens a frame (the address octet) that the
     // next datagram goes on with: without it the frame has no start. A stray copy of a frame's
     // first packet comes before that frame's own first packet, and proves nothing
    auto one = [](uint16_t s, uint8_t tag) {
      T38ZUDPTX tx;
      t38fUDPTXInit(&tx);
      tx.ingressSequenceNum = s;
      return build(tx, ifpOf(true, 0, HDLC_DATA, {tag}, NO_DFS), 0);
    };
    const struct {
      std::vector<std::pair<uint16_t, uint8_t>> after;  // number and content, in arrival order
      std::vector<uint16_t> numbers, broken;
      std::vector<uint8_t> tags;
      bool afterPreamble = false;  // 105 was the V.21 preamble
    } steps[] = {
        {{{105, 0xFF}, {106, 0xC8}, {107, 0xDF}}, {105, 106, 107}, {105}, {0xFF, 0xC8, 0xDF}, true},
        {{{105, 0xFF}, {106, 0xFF}, {107, 0xC8}}, {106, 107}, {106}, {0xFF, 0xC8}, true},
        {{{105, 0x16}, {106, 0xC8}, {107, 0xDF}}, {106, 107}, {106}, {0xC8, 0xDF}, true},
        {{{104, 0x16}, {105, 0x17}, {106, 0x18}, {107, 0x19}}, {104, 105, 106, 107}, {104}, {0x16, 0x17, 0x18, 0x19}},
        {{{105, 0x16}, {106, 0x17}, {107, 0x18}}, {106, 107}, {106}, {0x17, 0x18}},
        {{{103, 0x16}, {104, 0x17}, {106, 0x18}, {107, 0x19}}, {106, 107}, {106}, {0x18, 0x19}},
        {{{104, 0x17}, {105, 0x16}, {106, 0x16}, {107, 0x17}}, {106, 107}, {106}, {0x16, 0x17}},
        // the network swapped the step's last datagram with the next one: that one still goes on
        // from the step, once, in the new sequence (by the next datagram, or by a run of three)
        {{{104, 0x16}, {106, 0x18}, {105, 0x17}, {107, 0x19}}, {104, 105, 106, 107}, {104}, {0x16, 0x17, 0x18, 0x19}},
        {{{103, 0x16}, {104, 0x17}, {106, 0x19}, {105, 0x18}, {107, 0x1A}}, {103, 104, 105, 106, 107}, {103}, {0x16, 0x17, 0x18, 0x19, 0x1A}},
        // under jitter several of the next ones, in any order, before the step's last one
        {{{103, 0x16}, {104, 0x17}, {107, 0x1A}, {106, 0x19}, {105, 0x18}}, {103, 104, 105, 106, 107}, {103}, {0x16, 0x17, 0x18, 0x19, 0x1A}},
    };
    for (const auto& step : steps) {
      Received r;
      for (uint16_t s = 100; s < 106; ++s) {
        if (s < 105 || !step.afterPreamble) {
          r.take(one(s, uint8_t(0x10 + s - 100)));
          continue;
        }
        T38ZUDPTX tx;
        t38fUDPTXInit(&tx);
        tx.ingressSequenceNum = s;
        r.take(build(tx, {0x06}, 0));
      }
      ASSERT_EQ(r.playOut().numbers.size(), 6u);
      for (const auto& [s, tag] : step.after) r.take(one(s, tag));
      const auto p = r.playOut();
      EXPECT_EQ(p.numbers, step.numbers) << step.after.size();
      EXPECT_EQ(p.broken, step.broken) << step.after.size();
      std::vector<uint8_t> tags;
      for (const auto& ifp : p.ifps) tags.push_back(ifp.back());
      EXPECT_EQ(tags, step.tags) << step.after.size();
      // what the old sequence leaves to drain was all played: a packet that went on after the
      // step plays once, in the new sequence
      DG_HDL h;
      std::vector<uint16_t> drained;
      while (t38egr_ifp_deq(&r.rq.drainq, &h)) {
        drained.push_back(t38egr_ifp_getifpFromHandle(&h)->sequenceNum);
        dg_free(dg_QmPeekFront(&h.qhdr));
      }
      EXPECT_TRUE(drained.empty()) << step.after.size();
    }
  }
  {  // at redundancy 1 the peer's numbers step back by 1 after 105 played: its first datagram after
     // the step reuses 105 and carries 105's packet as its copy under 104, the next one's copy
     // contradicts 105 too; the one after them lands on numbers the stream never had, its copy
     // the run's packet under 106: the peer went on from the run, and its packets play in the
     // order sent from 105, without a break. A copy there that is not the run's, or no step shown
     // by the first datagram's copy, proves nothing: the stream goes on, its frame broken
    T38ZUDPTX tx;
    t38fUDPTXInit(&tx);
    tx.ingressSequenceNum = 100;
    std::vector<std::vector<uint8_t>> sent;
    for (int i = 0; i < 9; ++i) {
      if (i == 6) tx.ingressSequenceNum = 105;
      sent.push_back(build(tx, ifpOf(true, 0, HDLC_DATA, {'a', uint8_t(i)}, NO_DFS), 1));
    }
    auto alteredCopy = [](std::vector<uint8_t> d) {
      d.back() ^= 0x55;  // the copy's last octet: its packet's content
      return d;
    };
    const struct {
      std::vector<std::vector<uint8_t>> after;
      std::vector<uint16_t> numbers, broken;
    } steps[] = {
        {{sent[6], sent[7], sent[8]}, {105, 106, 107}, {}},
        {{sent[6], sent[7], alteredCopy(sent[8])}, {106, 107}, {106}},
        {{alteredCopy(sent[6]), sent[7], sent[8]}, {106, 107}, {106}},
    };
    for (const auto& step : steps) {
      Received r;
      for (int i = 0; i < 6; ++i) r.take(sent[size_t(i)]);
      ASSERT_EQ(r.playOut().numbers.size(), 6u);
      for (const auto& d : step.after) r.take(d);
      const auto p = r.playOut();
      EXPECT_EQ(p.numbers, step.numbers);
      EXPECT_EQ(p.broken, step.broken);
      if (step.broken.empty())
        for (size_t k = 0; k < p.ifps.size(); ++k) EXPECT_EQ(p.ifps[k].back(), uint8_t(6 + k)) << k;
    }
  }
  {  // at redundancy 1 the peer's numbers step back by 4 after 105 played, right before its final
     // frame, and of its preamble (102), the frame (103) and the no-signal after it (104) only the
     // last comes, the frame as its copy: one datagram, new content under numbers played, where a
     // run of three proves new numbers. A disconnect is the peer's last word: it plays, across a
     // break (its preamble lost). So it does alone at redundancy 0. Any other frame is answered or
     // sent again, its run going on, and a disconnect the stream played is the past: nothing plays
    auto frame = [](uint8_t command) { return ifpOf(true, 0, HDLC_DATA, {0xFF, 0xC8, command}, HDLC_FCS_OK_SIG_END); };
    const struct {
      uint8_t command;
      int redundancy;
      bool playedBefore;
      std::vector<uint16_t> numbers;
    } finals[] = {{0xDF, 1, false, {103, 104}}, {0xDF, 0, false, {103}}, {0x5F, 1, false, {103, 104}},
                  {0x8C, 1, false, {}}, {0xDF, 1, true, {}}};
    for (const auto& f : finals) {
      T38ZUDPTX tx;
      t38fUDPTXInit(&tx);
      tx.ingressSequenceNum = 100;
      Received r;
      for (int i = 0; i < 6; ++i)
        r.take(build(tx, i == 2 && f.playedBefore ? frame(f.command) : ifpOf(true, 0, HDLC_DATA, {'a', uint8_t(i)}, NO_DFS), 1));
      ASSERT_EQ(r.playOut().numbers.size(), 6u);
      tx.ingressSequenceNum = 102;
      build(tx, {0x06}, f.redundancy);
      const auto last = build(tx, frame(f.command), f.redundancy);
      const auto noSignal = build(tx, {0x00}, f.redundancy);
      r.take(f.redundancy == 0 ? last : noSignal);
      const auto p = r.playOut();
      EXPECT_EQ(p.numbers, f.numbers) << int(f.command) << " " << f.redundancy;
      if (f.numbers.empty()) continue;
      EXPECT_EQ(p.broken, (std::vector<uint16_t>{103})) << int(f.command);
      EXPECT_EQ(p.ifps[0], frame(f.command)) << int(f.command);
    }
  }
  {  // the network swaps a run's datagrams: the run goes on either side of its last one, starts the
     // sequence at its lowest, and what its datagrams carried plays, copies too
    const auto far1 = numbered(30000, 8, 1);
    const struct {
      std::vector<int> arrivals;
      std::vector<uint16_t> order;
    } swapped[] = {{{0, 2, 1}, {30000, 30001, 30002}},              // the lowest comes last
                   {{1, 3, 4}, {30001, 30002, 30003, 30004}}};     // 30002 only in 30003's copy
    for (const auto& run : swapped) {
      Received r;
      start(r, old);
      for (int i : run.arrivals) t38fUDPEgress(&r.rq, far1[size_t(i)].data(), far1[size_t(i)].size());
      EXPECT_EQ(r.order(), run.order);
    }
  }
  {  // a peer that renumbers while it sends packets of 600 octets: what the run's first datagrams
     // carried is kept, and plays as it came once the run proves the new sequence
    auto longIfp = [](uint16_t s) {
      std::vector<uint8_t> ifp{0xC0 | (1 << 1), 1, 0x80, uint8_t(594 >> 8), uint8_t(594 & 0xFF)};
      for (int i = 0; i < 595; ++i) ifp.push_back(uint8_t(s + i));
      return ifp;
    };
    // the datagram numbered s: its packet, then its one copy, the one before
    auto longDatagram = [&](uint16_t s) {
      std::vector<uint8_t> d{uint8_t(s >> 8), uint8_t(s)};
      for (const uint16_t k : {s, uint16_t(s - 1)}) {
        const auto ifp = longIfp(k);
        d.insert(d.end(), {uint8_t(0x80 | (ifp.size() >> 8)), uint8_t(ifp.size())});
        d.insert(d.end(), ifp.begin(), ifp.end());
        if (k == s) d.insert(d.end(), {0x00, 0x01});
      }
      return d;
    };
    Received r;
    start(r, old);
    for (const uint16_t s : {30000, 30002, 30001}) EXPECT_TRUE(r.take(longDatagram(s)));
    EXPECT_EQ(r.order(), (std::vector<uint16_t>{30000, 30001, 30002}));
    const auto p = r.playOut();
    ASSERT_EQ(p.ifps.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(p.ifps[i] == longIfp(uint16_t(30000 + i))) << "packet " << 30000 + i;
  }
  // a step of T38_RESYNC_STEP continues a run (it began at 30000); one step more breaks it (the
  // run began at 30017)
  const struct {
    std::vector<int> far;
    uint16_t base;
  } runs[] = {{{0, 16, 32}, 29999}, {{0, 17, 18, 19}, 30016}};
  for (const auto& run : runs) {
    Received r;
    start(r, old);
    for (size_t i = 0; i + 1 < run.far.size(); ++i) t38fUDPEgress(&r.rq, far[size_t(run.far[i])].data(), far[size_t(run.far[i])].size());
    EXPECT_EQ(r.order(), (std::vector<uint16_t>{100, 101, 102, 103}));
    t38fUDPEgress(&r.rq, far[size_t(run.far.back())].data(), far[size_t(run.far.back())].size());
    EXPECT_EQ(r.rq.lastoutTimeStamp, run.base);
  }
  // numbers behind the window that it never played, within T38_LATE_LIMIT of the newest: a run of
  // them contradicts nothing and proves nothing, however its datagrams are spread over ticks;
  // beyond T38_LATE_LIMIT the run alone proves a new sequence
  const struct {
    uint16_t behind;
    bool paced;
    bool restarts;
  } behindRuns[] = {{60, false, false}, {1500, false, false}, {1500, true, false}, {T38_LATE_LIMIT + 1, false, true}};
  for (const auto& run : behindRuns) {
    Received r;
    start(r, numbered(3000, 4, 3));
    for (const auto& d : numbered(uint16_t(3003 - run.behind), 3, 0)) {
      t38fUDPEgress(&r.rq, d.data(), d.size());
      if (run.paced) r.rq.time = uint16_t(r.rq.time + 5);
    }
    EXPECT_EQ(r.rq.lastoutTimeStamp, run.restarts ? uint16_t(3002 - run.behind) : uint16_t(2999)) << run.behind << " " << run.paced;
  }
}

TEST(T38Udptl, PacketsTheRelayCannotPlayAreRefusedAndACopyStillFillsTheirPlace) {
  // data types beyond V.17 14400, extended types, more fields than a relay packet burst allows
  const auto type8 = ifpOf(true, 8, HDLC_DATA, {1, 2}, NO_DFS);
  EXPECT_TRUE(t38fIFPplayable(type8.data(), int(type8.size())));
  auto type9 = type8;
  type9[0] = 0xC0 | (9 << 1);
  EXPECT_EQ(t38fIFPcheck(type9.data(), int(type9.size())), int(type9.size()));
  EXPECT_FALSE(t38fIFPplayable(type9.data(), int(type9.size())));
  const uint8_t extended[] = {0x20 | 0x40 | 0x80 | 0x01, 0x00, 0x01, 0x20};
  EXPECT_FALSE(t38fIFPplayable(extended, 4));
  const uint8_t v8Indicator[] = {0x20, 0x00};
  EXPECT_FALSE(t38fIFPplayable(v8Indicator, 2));
  const uint8_t longTraining[] = {15 << 1};
  EXPECT_TRUE(t38fIFPplayable(longTraining, 1));
  for (int fields : {T38_MAX_PLAYABLE_FIELDS, T38_MAX_PLAYABLE_FIELDS + 1}) {
    std::vector<uint8_t> many{0xC0, uint8_t(fields)};
    for (int f = 0; f < fields; f += 2) many.push_back(f + 1 < fields ? 0x22 : 0x20);
    EXPECT_EQ(t38fIFPplayable(many.data(), int(many.size())), fields == T38_MAX_PLAYABLE_FIELDS) << fields;
  }
  // the primary of an unknown type is refused; the copy in the next datagram is taken
  T38ZUDPTX tx;
  t38fUDPTXInit(&tx);
  auto first = build(tx, ifpOf(false, 3, NO_DFS, {}, NO_DFS), 1);
  auto second = build(tx, type8, 1);
  auto third = build(tx, ifpOf(false, 0, NO_DFS, {}, NO_DFS), 1);
  second[3] = type9[0];
  Received r;
  for (const auto* d : {&first, &second, &third}) EXPECT_TRUE(t38fUDPEgress(&r.rq, d->data(), d->size()));
  EXPECT_EQ(r.order(), (std::vector<uint16_t>{0, 1, 2}));
  EXPECT_EQ(r.rq.invalidIFPCount, 1);
}

TEST(T38Udptl, MalformedDatagramsAreCountedAndStopped) {
  T38ZUDPTX tx;
  t38fUDPTXInit(&tx);
  build(tx, {0x02}, 2);
  auto dg = build(tx, {0x04}, 2);
  // FEC: the primary still goes in, then the datagram counts as invalid
  auto fec = dg;
  fec[4] = 0x80;
  Received r;
  EXPECT_FALSE(t38fUDPEgress(&r.rq, fec.data(), fec.size()));
  EXPECT_EQ(r.order(), (std::vector<uint16_t>{1}));
  EXPECT_EQ(r.rq.invalidIFPCount, 1);
  // a length octet 0xC0 ends parsing as invalid
  auto bad = dg;
  bad[6] = 0xC0;
  EXPECT_FALSE(t38fUDPEgress(&r.rq, bad.data(), bad.size()));
  // a well-formed packet as long as the largest datagram the gateway takes holds (one data field
  // far longer than the relay's own packets) is taken whole and plays as it came; one octet more,
  // in a datagram longer than that, is dropped alone and counted, and its number plays as lost
  for (const int extra : {0, 1}) {
    const int dataLen = T38_MAX_RX_IFP + extra - 5;
    std::vector<uint8_t> big{0xC0 | (1 << 1), 1, 0x80, uint8_t((dataLen - 1) >> 8), uint8_t(dataLen - 1)};
    for (int i = 0; i < dataLen; ++i) big.push_back(uint8_t(i * 7 + 3));
    ASSERT_EQ(t38fIFPcheck(big.data(), int(big.size())), T38_MAX_RX_IFP + extra);
    std::vector<uint8_t> d{0x00, 0x10, uint8_t(0x80 | (big.size() >> 8)), uint8_t(big.size())};
    d.insert(d.end(), big.begin(), big.end());
    d.insert(d.end(), {0x00, 0x00});
    ASSERT_EQ(int(d.size()), T38_MAX_DATAGRAM + extra);
    Received rr;
    EXPECT_TRUE(rr.take(numbered(15, 1, 0)[0]));
    EXPECT_TRUE(rr.take(d));
    for (const auto& n : numbered(17, 2, 0)) EXPECT_TRUE(rr.take(n));
    EXPECT_EQ(rr.rq.invalidIFPCount, extra);
    const auto p = rr.playOut();
    if (extra == 0) {
      EXPECT_EQ(p.numbers, (std::vector<uint16_t>{15, 16, 17, 18}));
      EXPECT_TRUE(p.broken.empty());
      ASSERT_EQ(p.ifps.size(), 4u);
      EXPECT_TRUE(p.ifps[1] == big) << "the long packet played altered";
    } else {
      EXPECT_EQ(p.numbers, (std::vector<uint16_t>{15, 17, 18}));
      EXPECT_EQ(p.broken, (std::vector<uint16_t>{17}));
    }
  }
  // every truncation of a good datagram is refused or parsed within its bounds
  for (size_t cut = 0; cut < dg.size(); ++cut) {
    Received rr;
    t38fUDPEgress(&rr.rq, dg.data(), cut);
  }
}

// Datagrams numbered from `first` whose packets are V.21 data naming their place in the stream
// and the stream they belong to (`tag`): packets of two streams under one number differ.
std::vector<std::vector<uint8_t>> stream(uint16_t first, int count, int redundancy, uint8_t tag) {
  T38ZUDPTX tx;
  t38fUDPTXInit(&tx);
  tx.ingressSequenceNum = first;
  std::vector<std::vector<uint8_t>> dgs;
  for (int i = 0; i < count; ++i)
    dgs.push_back(build(tx, ifpOf(true, 0, HDLC_DATA, {tag, uint8_t(i >> 8), uint8_t(i)}, NO_DFS), redundancy));
  return dgs;
}

// A datagram under another number, its content as it was.
std::vector<uint8_t> renumbered(std::vector<uint8_t> d, uint16_t s) {
  d[0] = uint8_t(s >> 8);
  d[1] = uint8_t(s);
  return d;
}

std::vector<uint8_t> primaryOf(const std::vector<uint8_t>& d) { return {d.begin() + 3, d.begin() + 3 + d[2]}; }

// Where a datagram's k-th copy (0: the packet sent just before its own) starts: after the primary,
// the choice of copies, their count and each copy's length octet.
size_t copyAt(const std::vector<uint8_t>& d, int k) {
  size_t length = 3 + d[2] + 2;  // the first copy's length octet
  for (int i = 0; i < k; ++i) length += 1 + d[length];
  return length + 1;
}

// 1100 numbers from 1000 taken and played, without copies, but for those at `lose`: the receiver
// remembers the last 1024 of them.
void playStream(Received& r, const std::vector<std::vector<uint8_t>>& live, std::vector<size_t> lose = {}) {
  for (size_t i = 0; i < live.size(); ++i) {
    if (std::find(lose.begin(), lose.end(), i) == lose.end()) r.take(live[i]);
    r.playOut();
  }
}

// What the receiver took under a number it passed, within T38_REMEMBER_BEHIND of its playout, is
// known: copies of it (and datagrams of numbers it passed and lost) are late, however many in a
// row; only content that differs, or numbers beyond what it remembers, prove a new sequence.
TEST(T38Udptl, LateCopiesOfWhatItPassedNeverStartANewSequence) {
  const auto live = stream(1000, 1100, 0, 'a');
  // late copies: at once, or each in a tick of its own (how they are spread over ticks changes
  // nothing)
  auto lateRun = [&](std::vector<size_t> at, std::vector<size_t> lose = {}) {
    uint16_t last[2] = {};
    for (const bool paced : {false, true}) {
      Received r;
      playStream(r, live, lose);
      EXPECT_EQ(r.rq.lastoutTimeStamp, 2099);
      for (size_t i : at) {
        r.take(live[i]);
        if (paced) r.rq.time = uint16_t(r.rq.time + 10);
      }
      last[paced] = r.rq.lastoutTimeStamp;
    }
    EXPECT_EQ(last[0], last[1]) << "the ticks changed the verdict";
    return last[0];
  };
  // 70, 500, 1021 to 1026 behind, three to six in a row: late copies
  EXPECT_EQ(lateRun({1029, 1030, 1031}), 2099);
  EXPECT_EQ(lateRun({599, 600, 601, 602, 603, 604}), 2099);
  EXPECT_EQ(lateRun({76, 77, 78}), 2099);
  EXPECT_EQ(lateRun({73, 74, 75}), 2099);
  // a stream twice as long: late copies 1,555 to T38_LATE_LIMIT behind, as many in a row as prove
  // a sequence over numbers never played, are still known as late, also while a datagram far ahead
  // (seven copies, its packets standing alone) holds numbers up to 500 past the playout
  {
    const auto longer = stream(1000, 2100, 0, 'a');
    for (const int depth : {1555, 1800, int(T38_LATE_LIMIT)}) {
      Received r;
      playStream(r, longer);
      const uint16_t first = uint16_t(3099 - depth);
      r.take(stream(uint16_t(first + 2048), 8, 7, 'x')[7]);
      for (int k = 0; k < T38_RESYNC_RUN_UNSEEN; ++k) r.take(longer[size_t(first - 1000 + k)]);
      EXPECT_EQ(r.rq.lastoutTimeStamp, 3099) << depth;
    }
  }
  // numbers it passed and lost, late in a row: no proof either, unless the run goes on longer
  // than a late burst (the stream itself, left behind by a wrong jump)
  EXPECT_EQ(lateRun({500, 501, 502}, {500, 501, 502}), 2099);
  EXPECT_EQ(lateRun({500, 501, 502, 503, 504, 505, 506, 507}, {500, 501, 502, 503, 504, 505, 506, 507}), 1499);
  // or than a burst lasts: three still coming past T38_LATE_WAIT_MAX after their first, nothing of
  // the stream between, are the peer at its pace (the network brings nothing that late behind
  // what came with it)
  for (const int spread : {T38_LATE_WAIT_MAX / 2, T38_LATE_WAIT_MAX / 2 + 1}) {
    Received r;
    playStream(r, live, {500, 501, 502});
    for (size_t i : {500, 501, 502}) {
      r.take(live[i]);
      r.rq.time = uint16_t(r.rq.time + spread);
    }
    EXPECT_EQ(r.rq.lastoutTimeStamp, 2 * spread > T38_LATE_WAIT_MAX ? 1499 : 2099) << spread;
  }
  // the call's first 30 packets again, under numbers before it began: the past under other numbers,
  // however long the run, while it may be one burst (at once, or spread over less than
  // T38_LATE_WAIT_MAX); one new packet among them is what shows a new sequence, and so does the
  // run still coming at a peer's pace past T38_LATE_WAIT_MAX, nothing of the stream between
  // (also beyond T38_LATE_LIMIT behind, where a run of new content proves after three; there a
  // run without copies, which cannot show a renumbering, is followed after three whatever it
  // brings)
  for (const uint16_t first : {uint16_t(900), uint16_t(2099 - T38_LATE_LIMIT - 600)}) {
    for (const int redundancy : {1, 0}) {
      for (const bool fresh : {false, true}) {
        for (const int pace : {0, 20, 30}) {  // ms between the run's datagrams
          Received r;
          playStream(r, live);
          T38ZUDPTX tx;
          t38fUDPTXInit(&tx);
          tx.ingressSequenceNum = first;
          for (size_t i = 0; i < 30; ++i) {
            r.take(build(tx, fresh && i == 20 ? ifpOf(true, 0, HDLC_DATA, {'n'}, NO_DFS) : primaryOf(live[i]), redundancy));
            r.rq.time = uint16_t(r.rq.time + pace);
          }
          const bool atItsPace = pace * 29 > T38_LATE_WAIT_MAX;
          const bool follows = fresh || (first != 900 && redundancy == 0) || atItsPace;
          EXPECT_EQ(r.rq.lastoutTimeStamp, follows ? uint16_t(first - 1) : 2099) << first << " " << redundancy << " " << fresh << " " << pace;
          // the stream's own next datagram then: where the run's length alone proved it and it
          // brought only the past, the run was stale and the stream goes on (what the run queued
          // is gone): after the run's first packet played, its frame broken and no frame the run
          // opened going on into it; where the run played nothing, nothing stray came between and
          // the frame goes on whole. After new content it is a stray far off
          const auto runPlayed = follows && first == 900 ? r.playOut(1).numbers : std::vector<uint16_t>{};
          r.take(stream(2100, 1, 0, 'z')[0]);
          const bool undone = follows && !fresh;
          const uint16_t before = follows && !undone ? uint16_t(first - (runPlayed.empty() ? 1 : 0)) : 2099;
          EXPECT_EQ(r.rq.lastoutTimeStamp, before) << first << " " << redundancy << " " << fresh << " " << pace;
          if (undone) {
            EXPECT_EQ(r.order(), (std::vector<uint16_t>{2100}));
            const auto p = r.playOut();
            const auto across = runPlayed.empty() ? std::vector<uint16_t>{} : std::vector<uint16_t>{2100};
            EXPECT_EQ(p.broken, across) << first << " " << redundancy << " " << pace;
            EXPECT_EQ(p.afterStray, across) << first << " " << redundancy << " " << pace;
          }
          if (undone && runPlayed.empty()) {
            // the peer did renumber after all (its last old datagram came late): its next ones go
            // on right after the run's numbers, the first carrying the stream's newest packet as
            // its copy; the run's packets went with the undo, and the frame across them is broken
            T38ZUDPTX on;
            t38fUDPTXInit(&on);
            on.ingressSequenceNum = uint16_t(first + 30);
            uint8_t sent[64];
            const auto last = primaryOf(stream(2100, 1, 0, 'z')[0]);
            t38fUDPBuild(&on, last.data(), int(last.size()), 0, sent, sizeof(sent));  // lost on the way
            for (int k = 0; k < T38_RESYNC_RUN; ++k) r.take(build(on, ifpOf(true, 0, HDLC_DATA, {'m', uint8_t(k)}, NO_DFS), 1));
            EXPECT_EQ(r.playOut().broken, (std::vector<uint16_t>{uint16_t(first + 31)})) << first << " " << redundancy << " " << pace;
          }
        }
      }
    }
  }
  {  // the same past ahead of the stream, past the window: the stream itself running ahead of a
     // playout that lags looks so (page data repeats its packets), and a datagram a little past
     // the old numbers does not undo it
    Received r;
    playStream(r, live);
    for (size_t i = 0; i < T38_RESYNC_RUN; ++i) r.take(renumbered(live[i], uint16_t(2700 + i)));
    ASSERT_EQ(r.rq.lastoutTimeStamp, 2699);
    r.take(stream(2100, 1, 0, 'z')[0]);
    EXPECT_EQ(r.rq.lastoutTimeStamp, 2699);
  }
  {  // a peer that renumbered far off, followed; then a late burst of the datagrams it sent under
     // its old numbers (however far they lie from the new ones), or a stale run of its old packets
     // under numbers the new sequence never played, 1,500 behind: what the sequence before the
     // restart played is still known as the past. New content under those numbers is a new
     // sequence (over numbers never played, after as many as a late burst never reaches)
    for (const bool staleRun : {false, true}) {
      for (const bool fresh : {false, true}) {
        Received r;
        playStream(r, live);
        playStream(r, stream(40000, 10, 0, 'b'));
        ASSERT_EQ(r.rq.lastoutTimeStamp, 40009);
        const auto again = stream(1000, T38_RESYNC_RUN_UNSEEN, 0, 'c');
        const uint16_t at = staleRun ? uint16_t(40009 - 1500) : uint16_t(1000);
        for (size_t i = 0; i < T38_RESYNC_RUN_UNSEEN; ++i) r.take(renumbered(fresh ? again[i] : live[i], uint16_t(at + i)));
        EXPECT_EQ(r.rq.lastoutTimeStamp, fresh ? uint16_t(at - 1) : 40009) << staleRun << " " << fresh;
      }
    }
  }
  {  // a late copy between late copies: none of them proves anything
    Received r;
    playStream(r, live);
    for (size_t i : {10, 11, 600, 12, 13}) r.take(live[i]);
    EXPECT_EQ(r.rq.lastoutTimeStamp, 2099);
    EXPECT_GE(r.rq.failtoReorderCount, 5);
  }
  {  // a peer that renumbers 1,200 back, to numbers never played, its first datagram carrying as
     // copies the packets the stream ended with: a renumbering, followed after three in a row
     // and without a break, also with a late copy of the stream between them (it neither goes on
     // with the run nor ends it); the same three without those copies prove nothing
    for (const bool joins : {true, false}) {
      for (const bool lateCopy : {false, true}) {
        Received r;
        playStream(r, live);
        T38ZUDPTX tx;
        t38fUDPTXInit(&tx);
        if (joins)
          for (size_t i = live.size() - 3; i < live.size(); ++i) build(tx, primaryOf(live[i]), 0);
        tx.ingressSequenceNum = 900;
        for (int i = 0; i < 3; ++i) {
          r.take(build(tx, ifpOf(true, 0, HDLC_DATA, {'b', uint8_t(i)}, NO_DFS), 3));
          if (lateCopy && i == 1) r.take(live[600]);
        }
        EXPECT_EQ(r.rq.lastoutTimeStamp, joins ? 899 : 2099) << joins << lateCopy;
        EXPECT_EQ(r.playOut().broken.empty(), true) << joins << lateCopy;
      }
    }
    // the copy joins by chance at redundancy 1: the peer sent its newest packet again under the
    // next old number, 2100, then renumbered. That datagram, come behind the run, shows the
    // stream went on past the packet the copy was taken for: the new sequence's first packet
    // plays across a break. A late copy of what was played shows nothing of the kind
    for (const bool next : {true, false}) {
      Received r;
      playStream(r, live);
      T38ZUDPTX tx;
      t38fUDPTXInit(&tx);
      tx.ingressSequenceNum = 2099;
      build(tx, primaryOf(live.back()), 0);
      const auto again = build(tx, primaryOf(live.back()), 1);
      tx.ingressSequenceNum = 900;
      for (int i = 0; i < 3; ++i) r.take(build(tx, ifpOf(true, 0, HDLC_DATA, {'b', uint8_t(i)}, NO_DFS), 1));
      ASSERT_EQ(r.rq.lastoutTimeStamp, 899);
      r.take(next ? again : live[1090]);
      const auto p = r.playOut();
      EXPECT_EQ(p.numbers, (std::vector<uint16_t>{900, 901, 902})) << next;
      EXPECT_EQ(p.broken, next ? std::vector<uint16_t>{900} : std::vector<uint16_t>{}) << next;
    }
  }
  // a peer that starts its numbers anew 300 or 10 behind, with its own content: a new sequence
  for (uint16_t first : {1799, 2089}) {
    Received r;
    playStream(r, live);
    for (const auto& d : stream(first, 4, 3, 'b')) r.take(d);  // the fourth carries the first three
    EXPECT_EQ(r.rq.lastoutTimeStamp, uint16_t(first - 1)) << first;
    const auto played = r.playOut();
    ASSERT_EQ(played.ifps.size(), 4u);
    ASSERT_FALSE(played.broken.empty());
    EXPECT_EQ(played.broken.front(), first) << "the old sequence's frame does not join the new one";
    EXPECT_EQ(played.ifps[0], primaryOf(stream(first, 1, 0, 'b')[0]));
  }
}

// Under a number already queued, different content: one packet against one leaves the number
// disputed (neither is trusted), and the next copy a datagram in line with the stream brings
// settles it; a packet that more copies confirmed stays; a datagram that disagrees with the stream
// in as many packets as it agrees brings nothing and the stream's packets stay.
TEST(T38Udptl, AQueuedPacketIsReplacedOrDisputedAsTheStreamConfirms) {
  const auto a3 = stream(100, 10, 3, 'a');
  const auto a0 = stream(100, 10, 0, 'a');
  const auto x0 = stream(100, 10, 0, 'x');  // a foreign stream under the same numbers
  auto contentOf = [](const Received::Played& p, uint16_t s) {
    for (size_t i = 0; i < p.numbers.size(); ++i)
      if (p.numbers[i] == s) return p.ifps[i][5];  // after type, count, field octet and length
    return uint8_t(0);
  };
  {  // the foreign 106 first; the stream's 107 and 108 carry its own 106
    Received r;
    for (int i = 0; i < 6; ++i) r.take(a3[size_t(i)]);
    r.take(x0[6]);
    r.take(a3[7]);
    r.take(a3[8]);
    const auto p = r.playOut();
    EXPECT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105, 106, 107, 108}));
    EXPECT_EQ(contentOf(p, 106), 'a');
  }
  // one corrupted copy of the stream's 105 (in 106): against 105's own datagram it settles
  // nothing; 107 brings 105 again and the packet sent plays. Without a copy after it the number
  // is lost, never played as the corrupted copy has it. A copy against a packet three datagrams
  // confirmed changes nothing.
  for (const int after : {2, 0}) {
    auto bad = a3[6];
    bad[copyAt(bad, 0) + 5] ^= 0x10;  // the first copy's octet after type, count, field and length
    Received r;
    for (int i = 0; i < 6; ++i) r.take(a3[size_t(i)]);
    r.take(bad);
    for (int i = 7; i < 7 + after; ++i) r.take(a3[size_t(i)]);
    const auto p = r.playOut();
    if (after > 0)
      EXPECT_EQ(contentOf(p, 105), 'a');
    else
      EXPECT_EQ(p.lost, (std::vector<uint16_t>{105}));
  }
  // the stream's 106 altered on the way, at redundancy 1: its datagram agrees with the stream in
  // its copy of 105, which shows its number right, not its content; 107's copy of 106 says
  // otherwise, one against one, whether 107 agrees with nothing else or (108 came first) with as
  // little as it contradicts: the number is lost, never played as altered. The network's duplicate
  // of the altered datagram is no second word, whether it comes at once (no second vote against
  // 107's copy) or after 107 (the disputed number's first packet then, not taken either)
  for (const int order : {0, 1, 2, 3}) {
    const bool swapped = order == 1;
    const auto a1 = stream(100, 10, 1, 'a');
    auto bad = a1[6];
    bad[3 + 5] ^= 0x10;  // the primary's octet after type, count, field and length
    Received r;
    for (int i = 0; i < 6; ++i) r.take(a1[size_t(i)]);
    r.take(bad);
    if (order == 2) r.take(bad);
    r.take(a1[swapped ? 8 : 7]);
    if (order == 3) r.take(bad);
    r.take(a1[swapped ? 7 : 8]);
    const auto p = r.playOut();
    EXPECT_EQ(p.lost, (std::vector<uint16_t>{106})) << order;
    EXPECT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105, 107, 108})) << order;
  }
  // unless the stream's order rules one of the two out: what one datagram brought under 106 ends
  // the V.21 signal (the V.21 packet retyped into a no-signal on the way, or its field into a
  // signal's end, with or without its octets), and 107 brings V.21 data under 107. A peer sends
  // V.21 data only after its preamble, never straight after another indicator or the signal's
  // end: the packet that goes on plays under 106 (contested: other content came there), whether
  // 106's datagram was altered (107's copy fills 106; the network may duplicate the altered one)
  // or 107's copy of 106 was (it takes nothing there, 107's primary is taken). A V.21 preamble
  // there is no packet the order rules out, and the number stays lost
  {
    // the packet at `at` (its length octet just before it) retyped: forms 0 and 1 the no-signal
    // and the V.21 preamble, 2 a signal's end with no octets, 3 its field typed a good end and
    // the signal's, its octets kept
    auto retype = [](const std::vector<uint8_t>& d, size_t at, int form) {
      const std::vector<uint8_t> forms[] = {{0x00}, {0x06}, {0xc0, 0x01, 0x10}};
      std::vector<uint8_t> packet(d.begin() + long(at), d.begin() + long(at) + d[at - 1]);
      if (form < 3) packet = forms[form];
      packet[2] = form < 3 ? packet[2] : uint8_t(0x80 | (HDLC_FCS_OK_SIG_END << 4));
      std::vector<uint8_t> out(d.begin(), d.begin() + long(at) - 1);
      out.push_back(uint8_t(packet.size()));
      out.insert(out.end(), packet.begin(), packet.end());
      out.insert(out.end(), d.begin() + long(at) + d[at - 1], d.end());
      return out;
    };
    const auto a1 = stream(100, 10, 1, 'a');
    for (const int form : {0, 1, 2, 3}) {
      for (const int altered : {0, 1, 2}) {  // 106's datagram, it and its duplicate, 107's copy
        const auto bad = altered < 2 ? retype(a1[6], 3, form) : retype(a1[7], 3 + a1[7][2] + 3, form);
        Received r;
        for (int i = 0; i < 6; ++i) r.take(a1[size_t(i)]);
        r.take(altered < 2 ? bad : a1[6]);
        if (altered == 1) r.take(bad);
        r.take(altered < 2 ? a1[7] : bad);
        r.take(a1[8]);
        const auto p = r.playOut();
        if (form == 1) {
          EXPECT_EQ(p.lost, (std::vector<uint16_t>{106})) << altered;
          continue;
        }
        EXPECT_TRUE(p.lost.empty()) << form << altered;
        EXPECT_EQ(contentOf(p, 106), 'a') << form << altered;
        EXPECT_EQ(p.contested, (std::vector<uint16_t>{106})) << form << altered;
        EXPECT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105, 106, 107, 108})) << form << altered;
      }
    }
  }
  {
    auto bad = a3[8];
    bad[copyAt(bad, 2) + 5] ^= 0x10;  // its third copy: 105
    Received r;
    for (int i = 0; i < 8; ++i) r.take(a3[size_t(i)]);
    r.take(bad);
    const auto p = r.playOut();
    EXPECT_EQ(contentOf(p, 105), 'a');
    // the other content still came under 105: what plays there may not be all the peer sent
    EXPECT_EQ(p.contested, (std::vector<uint16_t>{105}));
  }
  {  // without copies: one against one, the number is lost
    Received r;
    for (int i = 0; i < 6; ++i) r.take(a0[size_t(i)]);
    r.take(x0[6]);
    r.take(a0[6]);
    r.take(a0[7]);
    const auto p = r.playOut();
    EXPECT_EQ(p.lost, (std::vector<uint16_t>{106}));
    EXPECT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105, 107}));
  }
  {  // the stream's 106 first, disputed by a foreign one, then confirmed by the stream's 107
    Received r;
    for (int i = 0; i < 7; ++i) r.take(a0[size_t(i)]);
    r.take(x0[6]);
    r.take(a3[7]);
    const auto p = r.playOut();
    EXPECT_TRUE(p.lost.empty());
    EXPECT_EQ(contentOf(p, 106), 'a');
  }
  {  // at redundancy 1 a second datagram under 106, other content and the stream's 105 as its copy
     // (a duplicate altered on the way; so too a peer that stepped back inside a run of equal
     // packets), disputes 106; 107's copy settles it, and it plays contested: the other may have
     // been the peer's too. The numbers nothing contradicted play plainly, nothing is broken
    const auto a1 = stream(100, 10, 1, 'a');
    auto second = a1[6];
    second[3 + 5] ^= 0x10;  // the primary's octet after type, count, field and length
    Received r;
    for (int i = 0; i < 7; ++i) r.take(a1[size_t(i)]);
    r.take(second);
    r.take(a1[7]);
    r.take(a1[8]);
    const auto p = r.playOut();
    EXPECT_TRUE(p.lost.empty());
    EXPECT_EQ(contentOf(p, 106), 'a');
    EXPECT_EQ(p.contested, (std::vector<uint16_t>{106}));
    EXPECT_TRUE(p.broken.empty());
  }
  {  // the stream's 106 against 107's duplicate with its copy of 106 altered on the way: disputed;
     // a second datagram under 107 refills 106 with other content; the stream's own 107 then brings
     // 106 again: the packet two datagrams brought outvotes the refill, and 107 stays. The network's
     // duplicate of 106's own datagram is no second word: it leaves the refill disputed
    const auto a1 = stream(100, 10, 1, 'a');
    auto altered = a1[7];
    altered[copyAt(altered, 0) + 5] ^= 0x10;  // the copy's octet after type, count, field and length
    auto refill = a1[7];
    refill[copyAt(refill, 0) + 5] ^= 0x20;
    for (const bool own : {true, false}) {
      Received r;
      for (int i = 0; i < 7; ++i) r.take(a1[size_t(i)]);
      r.take(altered);
      r.take(refill);
      r.take(own ? a1[7] : a1[6]);
      r.take(a1[8]);
      const auto p = r.playOut();
      if (own) {
        EXPECT_TRUE(p.lost.empty());
        EXPECT_EQ(contentOf(p, 106), 'a');
        EXPECT_EQ(contentOf(p, 107), 'a');
        EXPECT_EQ(p.contested, (std::vector<uint16_t>{106}));
      } else {
        EXPECT_EQ(p.lost, (std::vector<uint16_t>{106}));
      }
    }
  }
  {  // the network's duplicates of 103 and of 107, each with its copy altered on the way, come first
     // (each disputes the copy's number, and the datagram's own brings the packet back) or right
     // after the datagram's own (outvoted). Two such duplicates a few numbers apart are no run of
     // refused datagrams (a peer that stepped back sends new packets under the numbers it reuses):
     // every packet plays as sent, nothing is broken
    const auto a1 = stream(100, 10, 1, 'a');
    auto alteredCopy = [&](size_t i) {
      auto d = a1[i];
      d[copyAt(d, 0) + 5] ^= 0x10;  // past its type, count, field and length
      return d;
    };
    for (const bool first : {true, false}) {
      Received r;
      for (size_t i = 0; i < 10; ++i) {
        if ((i == 3 || i == 7) && first) r.take(alteredCopy(i));
        r.take(a1[i]);
        if ((i == 3 || i == 7) && !first) r.take(alteredCopy(i));
      }
      const auto p = r.playOut();
      EXPECT_TRUE(p.lost.empty()) << first;
      EXPECT_EQ(contentOf(p, 102), 'a') << first;
      EXPECT_EQ(contentOf(p, 106), 'a') << first;
      EXPECT_TRUE(p.broken.empty()) << first;
    }
  }
  {  // at redundancy 3, 106 disputed and settled by its words, so that it plays contested:
     // - nothing refilled: 107's copy of 106 altered on the way disputes 106's own packet, 108's
     //   copy brings that packet again (its second datagram), and 109's copy, altered otherwise, is
     //   one word against two: it is outvoted;
     // - the other way round: 106's own datagram altered on the way, 107's copy disputes it, 108's
     //   copy altered otherwise refills 106, and 109's copy brings again the packet that disputed
     //   the first: its two datagrams outvote the refill
    auto disputing = a3[7];
    disputing[copyAt(disputing, 0) + 5] ^= 0x10;  // past its type, count, field and length
    auto third = a3[9];
    third[copyAt(third, 2) + 5] ^= 0x20;
    auto own = a3[6];
    own[3 + 5] ^= 0x10;  // the primary's octet after type, count, field and length
    auto refill = a3[8];
    refill[copyAt(refill, 1) + 5] ^= 0x20;
    auto firstOf = [&](size_t n) { return std::vector<std::vector<uint8_t>>(a3.begin(), a3.begin() + ptrdiff_t(n)); };
    const std::pair<std::vector<std::vector<uint8_t>>, std::vector<std::vector<uint8_t>>> orders[] = {
        {firstOf(7), {disputing, a3[8], third}},
        {firstOf(6), {own, a3[7], refill, a3[9]}},
    };
    for (const auto& [before, after] : orders) {
      Received r;
      for (const auto& d : before) r.take(d);
      for (const auto& d : after) r.take(d);
      const auto p = r.playOut();
      EXPECT_TRUE(p.lost.empty());
      EXPECT_EQ(contentOf(p, 106), 'a');
      EXPECT_EQ(p.contested, (std::vector<uint16_t>{106}));
    }
  }
  {  // a datagram numbered 104 whose four packets all differ from the stream's: refused
    Received r;
    for (int i = 0; i < 6; ++i) r.take(a3[size_t(i)]);
    r.take(stream(97, 8, 3, 'x')[7]);
    const auto p = r.playOut();
    EXPECT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105}));
    for (uint16_t n = 100; n < 106; ++n) EXPECT_EQ(contentOf(p, n), 'a') << n;
  }
  {  // a foreign datagram's four packets (104 to 107) against the stream's 105: no longer trusted,
     // none of them; the stream's next datagrams bring its own
    Received r;
    for (int i = 0; i < 4; ++i) r.take(a3[size_t(i)]);
    r.take(stream(104, 4, 3, 'x')[3]);
    r.take(a3[5]);
    r.take(a3[6]);
    const auto p = r.playOut();
    EXPECT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105, 106}));
    for (uint16_t n = 100; n < 107; ++n) EXPECT_EQ(contentOf(p, n), 'a') << n;
  }
  {  // the peer's numbers step back by 3 under new content (its packets 6 on under 103 on, each
     // datagram carrying the three before): three datagrams in a row are where it went on, and
     // every packet plays in the order sent without a break; two contradict what is held, and
     // every packet played across them is broken; one alone is a stray
    T38ZUDPTX tx;
    t38fUDPTXInit(&tx);
    tx.ingressSequenceNum = 100;
    std::vector<std::vector<uint8_t>> sent;
    for (int i = 0; i < 10; ++i) {
      if (i == 6) tx.ingressSequenceNum = 103;
      sent.push_back(build(tx, ifpOf(true, 0, HDLC_DATA, {'a', uint8_t(i)}, NO_DFS), 3));
    }
    // (the four stepped datagrams also with the first of them last, the network having put the
    // others ahead: their copies show where the peer's new numbers began, and the same plays; or
    // with the second far off, a high bit of its number flipped: it neither ends the run nor
    // goes on with it, and the copies after it bring its packet)
    for (const std::vector<int>& after : {std::vector<int>{6, 7, 8, 9}, {7, 9, 8, 6}, {6, -7, 8, 9}, {6, 7}, {6}}) {
      const size_t stepped = after.size();
      Received r;
      for (int i = 0; i < 6; ++i) r.take(sent[size_t(i)]);
      for (const int i : after) {
        auto d = sent[size_t(std::abs(i))];
        if (i < 0) d[0] ^= 0x40;  // 104 as 16488
        r.take(d);
      }
      const auto p = r.playOut();
      if (stepped == 4) {  // the old sequence's packets wait to play first
        std::vector<uint16_t> drained;
        for (EGR_IFP_PKT* q = t38egr_ifp_QmPeekFront(&r.rq.drainq); q != nullptr; q = t38egr_ifp_QmPeekLink(q))
          drained.push_back(q->sequenceNum);
        EXPECT_EQ(drained, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105}));
        EXPECT_EQ(p.numbers, (std::vector<uint16_t>{103, 104, 105, 106}));
        for (size_t k = 0; k < p.ifps.size(); ++k) EXPECT_EQ(p.ifps[k][6], uint8_t(6 + k)) << k;
      } else {
        EXPECT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105})) << stepped;
      }
      const std::vector<uint16_t> across = {101, 102, 103, 104, 105};
      EXPECT_EQ(p.broken, stepped == 2 ? across : std::vector<uint16_t>{}) << stepped;
      // the stray's copies are the stream's packets three on: the numbers it reused from its own
      // on hold what the peer sent first there, and may not be all it sent (nothing was lost
      // where three datagrams proved the step)
      if (stepped == 1) {
        EXPECT_EQ(p.contested, (std::vector<uint16_t>{103, 104, 105}));
      } else if (stepped == 4) {
        EXPECT_TRUE(p.contested.empty());
      }
    }
  }
  {  // datagrams refused for contradicting the stream, the stream's own between them: the second
     // break (a copy-carrying datagram numbered ahead, 107 to 114) is wider than the first would
     // be, the third (one packet under 109, 109 to 112) lies inside it; every packet across any of
     // them plays broken, a narrower break never shrinks a wider one
    const auto x3 = stream(100, 7, 3, 'x');
    const auto x7 = stream(100, 15, 7, 'x');
    const auto x0 = stream(100, 10, 0, 'x');
    const auto a = stream(100, 16, 3, 'a');
    Received r;
    for (int i = 0; i < 10; ++i) r.take(a[size_t(i)]);
    for (const auto* d : {&x3[6], &a[10], &x7[14], &a[11], &x0[9]}) r.take(*d);
    for (int i = 12; i < 16; ++i) r.take(a[size_t(i)]);
    const auto p = r.playOut();
    EXPECT_TRUE(p.lost.empty());
    EXPECT_EQ(p.broken, (std::vector<uint16_t>{107, 108, 109, 110, 111, 112, 113, 114}));
  }
  {  // the end of a frame whose number lost a bit lands inside the frame's run of equal packets:
     // its copies of that run agree with any place in it and prove nothing; the packet four
     // datagrams brought under that number stays
    T38ZUDPTX tx;
    t38fUDPTXInit(&tx);
    tx.ingressSequenceNum = 100;
    std::vector<std::vector<uint8_t>> frame;
    for (int i = 0; i < 12; ++i) frame.push_back(build(tx, ifpOf(true, 0, HDLC_DATA, {0x04}, NO_DFS), 3));
    frame.push_back(build(tx, ifpOf(true, 0, HDLC_DATA, {}, HDLC_FCS_OK), 3));  // 112
    Received r;
    for (size_t i = 0; i < 12; ++i) r.take(frame[i]);
    r.take(renumbered(frame[12], 108));
    const auto p = r.playOut();
    EXPECT_TRUE(p.lost.empty());
    for (const auto& ifp : p.ifps) EXPECT_EQ(ifp.size(), 6u) << "the frame end played inside the frame";
  }
  {  // a datagram whose number lost a bit (106 as 107) carries as copies the stream's newest
     // packets one number on, as a step forward would; the next datagram's copy under 106 is not
     // what such a step explains (105's packet): there was no step, and that copy fills 106
    Received r;
    for (int i = 0; i < 6; ++i) r.take(a3[size_t(i)]);
    r.take(renumbered(a3[6], 107));
    r.take(a3[7]);
    r.take(a3[8]);
    const auto p = r.playOut();
    EXPECT_TRUE(p.lost.empty());
    EXPECT_TRUE(p.broken.empty());
    ASSERT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105, 106, 107, 108}));
    for (size_t k = 0; k < p.ifps.size(); ++k) EXPECT_EQ(p.ifps[k][7], uint8_t(k)) << "number " << 100 + k;
  }
  // the peer's counter stepped by one after 106, whose datagram the network put behind the first
  // one after the step (108, its copies the stream's packets one number on from 105: a step of one
  // over two numbers skipped), under jitter behind the one after that too, or lost. The step lies
  // after 106: 106's own datagram fills it, or 108's copy under 107 (every copy 108 carries was
  // sent before the step); 109's copy under 106 (105's packet) is the step's and disputes nothing,
  // whether 109 is refused (one word against one) or taken (110's copy vouched for its primary),
  // and the packets play on across 107 unbroken
  enum class Own106 { kAfter108, kAfter110, kLost };
  for (const Own106 own : {Own106::kAfter108, Own106::kAfter110, Own106::kLost}) {
    const int at = int(own);
    Received r;
    for (int i = 0; i < 6; ++i) r.take(a3[size_t(i)]);
    r.take(renumbered(a3[7], 108));
    if (own == Own106::kAfter110) r.take(renumbered(a3[9], 110));
    if (own != Own106::kLost) r.take(a3[6]);
    r.take(renumbered(a3[8], 109));
    if (own != Own106::kAfter110) r.take(renumbered(a3[9], 110));
    const auto p = r.playOut();
    EXPECT_TRUE(p.broken.empty()) << at;
    ASSERT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105, 106, 108, 109, 110})) << at;
    for (size_t k = 0; k < p.ifps.size(); ++k) EXPECT_EQ(p.ifps[k][7], uint8_t(k)) << "number " << p.numbers[k];
  }
  {  // the peer's counter stepped by one after 103 (its packets 8 on under 105 on), under jitter:
     // 107 and 105 come before 103, and their copies under 103 and 102 are the packets from before
     // the step (102's and 101's). 102 is disputed and refilled by 103's copy, 103 disputed by its
     // own datagram and refilled by 106's copy of 102's packet: whichever plays, the other content
     // at each is the packet of the number beside, and both play contested as by a step, so that
     // the frame across them, 102's packet played twice, does not close good
    const auto sent = stream(96, 20, 3, 'a');
    auto at = [&](int i) { return i < 8 ? sent[size_t(i)] : renumbered(sent[size_t(i)], uint16_t(97 + i)); };
    Received r;
    for (int i = 0; i < 4; ++i) r.take(at(i));
    for (const int i : {10, 4, 5, 6, 11, 15, 8, 7, 9, 14, 17, 13, 12, 16}) r.take(at(i));
    const auto p = r.playOut();
    EXPECT_EQ(p.contested, (std::vector<uint16_t>{102, 103}));
    EXPECT_EQ(p.stepShaped, (std::vector<uint16_t>{102, 103}));
  }
  {  // a datagram whose number lost a bit brings two packets, both moved; the stream's datagram
     // shows one of them wrong: both are no longer trusted
    const auto a1 = stream(100, 10, 1, 'a');
    Received r;
    for (int i = 0; i < 4; ++i) r.take(a1[size_t(i)]);
    r.take(renumbered(a1[4], 106));  // 104 and 103 under 106 and 105
    r.take(a1[7]);                   // 107, and the stream's own 106: one against one, not taken
    r.take(a1[9]);                   // 109 and 108: the stream goes on past the numbers given up
    const auto p = r.playOut();
    EXPECT_EQ(p.lost, (std::vector<uint16_t>{104, 105, 106, 107}));
    EXPECT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 108, 109}));
    EXPECT_EQ(p.broken, (std::vector<uint16_t>{108}));
  }
  // the stream's 106 altered in 107's copy, at redundancy 1, its own datagram late: the altered
  // copy played, and the late datagram, in line with the stream (its copy of 105 agrees, as much
  // as its packet contradicts), shows what was handed on under 106 may not be the peer's (rule 7).
  // A late datagram that agrees with nothing shows nothing, nor one against a packet more brought.
  // A second datagram saying the same there (not the network's duplicate of the first) outvotes
  // the packet handed on, and the receiver reports what the copies say (its owner mends the frame)
  for (const bool foreign : {false, true}) {
    const auto a1 = stream(100, 10, 1, 'a');
    auto bad = a1[7];
    bad[copyAt(bad, 0) + 5] ^= 0x10;  // the copy's octet after type, count, field and length
    Received r;
    for (int i = 0; i < 6; ++i) r.take(a1[size_t(i)]);
    r.take(bad);
    const auto p = r.playOut();
    ASSERT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105, 106, 107}));
    ASSERT_FALSE(r.rq.playedContradicted);
    r.take(foreign ? stream(100, 10, 1, 'x')[6] : a1[6]);
    EXPECT_EQ(r.rq.playedContradicted, !foreign) << foreign;
    if (!foreign) {
      EXPECT_EQ(r.rq.playedContradictedSeq, 106);
    }
    r.take(foreign ? stream(100, 10, 1, 'x')[6] : a1[6]);
    EXPECT_FALSE(r.rq.playedOutvoted) << foreign << ": the network's duplicate";
    r.take(a1[7]);
    ASSERT_EQ(r.rq.playedOutvoted, !foreign) << foreign;
    if (!foreign) {
      EXPECT_EQ(r.rq.playedOutvotedSeq, 106);
      const std::vector<uint8_t> own(a1[6].begin() + 3, a1[6].begin() + 3 + a1[6][2]);
      EXPECT_EQ(std::vector<uint8_t>(r.rq.playedOutvotedIfp, r.rq.playedOutvotedIfp + r.rq.playedOutvotedLen), own);
    }
  }
  {  // at redundancy 3 the stream's 106 altered in 107's copy, 104 to 107 played from that one
     // datagram (their own lost). 108's copies agree under 107 and 105 and contradict under 106;
     // its primary, a no-signal, is also the packet under 100, one bit away, where nothing known
     // as many numbers on places it. The copies that agree under their own numbers place it at
     // 108, though the one datagram that brought those packets brought the one contradicted too:
     // it is no misnumbered copy (rule 5), and the packet handed on is reported (rule 7)
    T38ZUDPTX tx;
    t38fUDPTXInit(&tx);
    tx.ingressSequenceNum = 100;
    const auto noSignal = ifpOf(false, 0, NO_DFS, {}, NO_DFS);
    std::vector<std::vector<uint8_t>> d = {build(tx, noSignal, 3)};
    for (int i = 1; i < 8; ++i) d.push_back(build(tx, ifpOf(true, 0, HDLC_DATA, {'v', uint8_t(i)}, NO_DFS), 3));
    d.push_back(build(tx, noSignal, 3));
    auto bad = d[7];
    bad[copyAt(bad, 0) + 5] ^= 0x10;  // its copy of 106
    Received r;
    for (int i = 0; i < 4; ++i) r.take(d[size_t(i)]);
    r.take(bad);
    ASSERT_EQ(r.playOut().numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105, 106, 107}));
    ASSERT_FALSE(r.rq.playedContradicted);
    r.take(d[8]);
    EXPECT_TRUE(r.rq.playedContradicted);
    EXPECT_EQ(r.rq.playedContradictedSeq, 106);
  }
  {  // at redundancy 2 the stream's 106 played as 107 and 108 brought it; its own datagram, late and
     // altered in its packet, is one against two and shows nothing
    const auto a2 = stream(100, 10, 2, 'a');
    auto bad = a2[6];
    bad[3 + 5] ^= 0x10;  // the primary's octet after type, count, field and length
    Received r;
    for (int i = 0; i < 6; ++i) r.take(a2[size_t(i)]);
    r.take(a2[7]);
    r.take(a2[8]);
    const auto p = r.playOut();
    ASSERT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105, 106, 107, 108}));
    r.take(bad);
    EXPECT_FALSE(r.rq.playedContradicted);
  }
  // a packet follows the one before it in the peer's stream where a datagram that contradicted
  // nothing carried both, the one before as the stream played or holds it: every packet of a
  // stream with copies but its first, whether the one before played already or waits; without
  // copies, by its number alone, each numbered right after one the stream holds or played (not
  // the one after a number that never came); none whose datagrams carried nothing distinct before
  // it (fill), and not the number whose own datagram's copy contradicted what was played (it came
  // from the next datagram, which carried no packet before it)
  {
    const auto a1 = stream(100, 8, 1, 'a');
    for (const bool each : {true, false}) {
      Received r;
      std::vector<uint16_t> follows;
      for (size_t i = 0; i < a1.size(); ++i) {
        r.take(a1[i]);
        if (each || i + 1 == a1.size())
          for (uint16_t f : r.playOut().follows) follows.push_back(f);
      }
      EXPECT_EQ(follows, (std::vector<uint16_t>{101, 102, 103, 104, 105, 106, 107})) << (each ? "played as taken" : "queued");
    }
    const auto a0 = stream(100, 8, 0, 'a');
    for (const bool gap : {false, true}) {
      Received r0;
      for (size_t i = 0; i < a0.size(); ++i)
        if (!gap || i != 3) r0.take(a0[i]);
      EXPECT_EQ(r0.playOut().follows, gap ? (std::vector<uint16_t>{101, 102, 105, 106, 107})
                                          : (std::vector<uint16_t>{101, 102, 103, 104, 105, 106, 107}))
          << (gap ? "no copies, 103 lost" : "no copies");
    }
    T38ZUDPTX tx;
    t38fUDPTXInit(&tx);
    Received rf;
    for (int i = 0; i < 8; ++i) rf.take(build(tx, ifpOf(true, 0, HDLC_DATA, {0}, NO_DFS), 1));
    EXPECT_TRUE(rf.playOut().follows.empty()) << "fill";
    auto bad = a1[6];
    bad[copyAt(bad, 0) + 5] ^= 0x10;  // its copy of 105
    Received rb;
    std::vector<uint16_t> follows;
    for (size_t i = 0; i < a1.size(); ++i) {
      rb.take(i == 6 ? bad : a1[i]);
      for (uint16_t f : rb.playOut().follows) follows.push_back(f);
    }
    EXPECT_EQ(follows, (std::vector<uint16_t>{101, 102, 103, 104, 105, 107}));
  }
}

// A packet more than T38_CLOSE_AHEAD ahead of the newest number the stream vouches for stands
// alone: it is not played and does not move the playout, so the stream's own packets under its
// number and before it still play. T38_RESYNC_RUN far datagrams in a row, each a little after the
// one before, with nothing of the stream between, show where the stream went on; at most
// T38_MAX_ALONE packets stand alone at once.
TEST(T38Udptl, APacketFarAheadOfTheStreamStandsAloneUntilTheStreamGoesThere) {
  const auto a = stream(100, 60, 0, 'a');
  const auto x = stream(100, 60, 0, 'x');
  for (int ahead : {int(T38_CLOSE_AHEAD), int(T38_CLOSE_AHEAD) + 1}) {
    Received r;
    for (int i = 0; i < 5; ++i) r.take(a[size_t(i)]);  // newest 104
    r.take(x[size_t(4 + ahead)]);
    const auto p = r.playOut();
    const bool inLine = ahead == T38_CLOSE_AHEAD;
    EXPECT_EQ(p.numbers.back(), inLine ? 104 + ahead : 104) << ahead;
    EXPECT_EQ(r.rq.lastoutTimeStamp, inLine ? 104 + ahead : 104) << ahead;
    if (!inLine) {  // the stream's own packets still come and play, its own under that number too
      for (int i = 5; i <= 4 + ahead; ++i) r.take(a[size_t(i)]);
      const auto q = r.playOut();
      ASSERT_EQ(q.numbers.size(), size_t(ahead));
      EXPECT_EQ(q.ifps.back(), primaryOf(a[size_t(4 + ahead)]));
    }
  }
  {  // the stream's own datagram, overtaking more than T38_CLOSE_AHEAD others, stands alone; the
     // stream's copies of it, when the stream gets there, let it play
    const auto a3 = stream(100, 40, 3, 'a');
    Received r;
    for (int i = 0; i < 5; ++i) r.take(a3[size_t(i)]);
    r.take(a3[25]);
    for (int i = 5; i < 25; ++i) r.take(a3[size_t(i)]);
    for (int i = 26; i < 30; ++i) r.take(a3[size_t(i)]);
    const auto p = r.playOut();
    EXPECT_TRUE(p.lost.empty()) << "the early packet was lost";
    EXPECT_EQ(p.numbers.size(), 30u);
  }
  {  // an outage of more than T38_CLOSE_AHEAD datagrams: the three after it show the stream went
     // there, and the copies the first of them carries bring back the outage's last packets
    const auto a3 = stream(100, 40, 3, 'a');
    Received r;
    for (int i = 0; i < 5; ++i) r.take(a3[size_t(i)]);
    for (int i = 25; i < 28; ++i) r.take(a3[size_t(i)]);
    const auto p = r.playOut();
    std::vector<uint16_t> lost;
    for (uint16_t n = 105; n < 122; ++n) lost.push_back(n);
    EXPECT_EQ(p.lost, lost) << "what the copies carry is lost";
  }
  {  // far datagrams reach the playout before the third of their run comes: with nothing of the
     // stream queued they wait, and play when it comes, with all their copies carried
    const auto a3 = stream(100, 40, 3, 'a');
    Received r;
    for (int i = 0; i < 5; ++i) r.take(a3[size_t(i)]);
    r.playOut();
    r.take(a3[25]);
    r.take(a3[26]);
    EXPECT_TRUE(r.playOut().numbers.empty());
    r.take(a3[27]);
    EXPECT_EQ(r.playOut().numbers, (std::vector<uint16_t>{122, 123, 124, 125, 126, 127}));
  }
  // far datagrams in a row: three show the stream went there, two do not, nor three with one of
  // the stream between them; each may come T38_CLOSE_AHEAD after the one before, one more starts
  // a run of its own
  const struct {
    std::vector<int> far;
    bool streamBetween;
    size_t played;
  } runs[] = {{{30, 31, 33}, false, 3 + 5}, {{30, 31}, false, 5}, {{30, 31, 33}, true, 6},
              {{22, 22 + T38_CLOSE_AHEAD, 22 + 2 * T38_CLOSE_AHEAD}, false, 3 + 5},
              {{22, 23 + T38_CLOSE_AHEAD, 24 + T38_CLOSE_AHEAD}, false, 5}};
  for (const auto& run : runs) {
    Received r;
    for (int i = 0; i < 5; ++i) r.take(a[size_t(i)]);
    for (size_t k = 0; k < run.far.size(); ++k) {
      r.take(a[size_t(run.far[k])]);
      if (run.streamBetween && k == 1) r.take(a[5]);
    }
    EXPECT_EQ(r.playOut().numbers.size(), run.played) << run.far.size() << run.streamBetween;
  }
  {  // the stream between far datagrams shows they are not where it went on: three more in a row
     // after it vouch for nothing, six do
    for (const int after : {3, 6}) {
      Received r;
      for (int i = 0; i < 5; ++i) r.take(a[size_t(i)]);
      r.take(x[30]);
      r.take(x[31]);
      r.take(a[5]);
      for (int k = 0; k < after; ++k) r.take(x[size_t(32 + k)]);
      const auto p = r.playOut();
      EXPECT_EQ(p.numbers.back(), after == 3 ? 105 : 131 + after) << after;
    }
  }
  {  // after an outage the peer sends again what was played (T.30 repeats its frames): a run of
     // such far datagrams may be the past renumbered, and only one longer than a late burst
     // shows the stream went there
    for (const int count : {int(T38_RESYNC_RUN_UNSEEN) - 1, int(T38_RESYNC_RUN_UNSEEN)}) {
      Received r;
      for (int i = 0; i < 10; ++i) r.take(a[size_t(i)]);
      r.playOut();
      const auto again = stream(109 + T38_CLOSE_AHEAD + 5, count, 0, 'a');
      for (const auto& d : again) r.take(d);
      EXPECT_EQ(r.playOut().numbers.size(), count == T38_RESYNC_RUN_UNSEEN ? size_t(count) : 0u) << count;
    }
    // with copies that reach back within T38_CLOSE_AHEAD of the stream, the peer went on from
    // there (its first datagrams after the outage lost): three in a row show it, with all their
    // copies carried
    Received r;
    for (int i = 0; i < 10; ++i) r.take(a[size_t(i)]);
    r.playOut();
    const auto again = stream(109 + T38_CLOSE_AHEAD - 2, 6, 3, 'a');
    for (size_t k = 3; k < 5; ++k) r.take(again[k]);  // the three before were lost
    EXPECT_TRUE(r.playOut().numbers.empty());
    r.take(again[5]);
    EXPECT_EQ(r.playOut().numbers.size(), 6u);
  }
  {  // a packet close ahead that repeats one played (a copy the network misnumbered) plays, and the
     // stream's own next packet coming right behind the playout takes the playout back: the
     // numbers jumped over play, the one jumped to with its own packet, the frame across broken
     // and none the stray packet opened going on past the undo.
     // Where that next packet is the one played early, the stream goes on from it whole; a run
     // of repeats renumbered ahead is undone the same way
    auto under = [](uint16_t s, const std::vector<uint8_t>& ifp) {
      T38ZUDPTX tx;
      t38fUDPTXInit(&tx);
      tx.ingressSequenceNum = s;
      return build(tx, ifp, 0);
    };
    for (const int early : {0, 1}) {
      Received r;
      for (int i = 0; i < 5; ++i) r.take(a[size_t(i)]);
      r.playOut();
      auto own = a;
      if (early) own[5] = under(105, primaryOf(a[1]));  // the peer sent that packet again
      r.take(under(112, primaryOf(own[size_t(early ? 5 : 1)])));
      EXPECT_EQ(r.playOut().numbers, std::vector<uint16_t>{112}) << early;
      for (int i = 5; i < 10; ++i) r.take(own[size_t(i)]);  // fewer than start a sequence (rule 2)
      const auto p = r.playOut();
      std::vector<uint16_t> after;
      for (uint16_t n = uint16_t(105 + early); n < 110; ++n) after.push_back(n);
      EXPECT_EQ(p.numbers, after) << early;
      EXPECT_EQ(p.broken, early ? std::vector<uint16_t>{} : std::vector<uint16_t>{105}) << early;
      EXPECT_EQ(p.afterStray, p.broken) << early;  // a frame the stray packet opened ends before 105
      EXPECT_EQ(p.ifps.empty() ? std::vector<uint8_t>{} : p.ifps.back(), primaryOf(a[9])) << early;
    }
    {  // the datagram jumped to carried copies, and the playout still holds its primary when the
       // stream's next comes: that packet is as stray as the ones played, and goes with the jump
      const auto c = stream(100, 20, 3, 'c');
      Received r;
      for (int i = 0; i < 5; ++i) r.take(c[size_t(i)]);
      r.playOut();
      r.take(renumbered(c[4], 112));  // 109 to 111 repeat 101 to 103, 112 repeats 104
      EXPECT_EQ(r.playOut(3).numbers, (std::vector<uint16_t>{109, 110, 111}));
      for (int i = 5; i < 13; ++i) r.take(c[size_t(i)]);
      const auto p = r.playOut();
      EXPECT_EQ(p.numbers, (std::vector<uint16_t>{105, 106, 107, 108, 109, 110, 111, 112}));
      EXPECT_EQ(p.broken, std::vector<uint16_t>{105});
      EXPECT_EQ(p.ifps.empty() ? std::vector<uint8_t>{} : p.ifps.back(), primaryOf(c[12]));
      // nor is the held packet left to play as a sequence's before a restart
      EXPECT_EQ(t38egr_ifp_QmPeekFront(&r.rq.drainq), nullptr);
    }
    {  // with copies that show it the stream's own datagram, still queued, under a number one bit
       // ahead (104 as 104 ^ 16 = 120, close ahead), it is the network's copy: it stands alone,
       // and where the stream's next datagram is lost, the one after it brings that packet as a
       // copy and the frame plays on whole, nothing jumped over nor broken
      const auto c = stream(100, 20, 3, 'c');
      Received r;
      for (int i = 0; i < 5; ++i) r.take(c[size_t(i)]);
      r.take(renumbered(c[4], 104 ^ 16));
      EXPECT_EQ(r.playOut().numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104}));
      r.take(c[6]);
      const auto p = r.playOut();
      EXPECT_EQ(p.numbers, (std::vector<uint16_t>{105, 106}));
      EXPECT_TRUE(p.broken.empty());
    }
    {  // a jump over one number is as often two datagrams the network swapped: the late one is
       // given up (rule 2 still follows the stream if it goes on there), and the packet played stays
      Received r;
      for (int i = 0; i < 5; ++i) r.take(a[size_t(i)]);
      r.playOut();
      r.take(under(106, primaryOf(a[1])));
      r.playOut();
      r.take(a[5]);
      EXPECT_TRUE(r.playOut().numbers.empty());
    }
    Received r;
    for (int i = 0; i < 10; ++i) r.take(a[size_t(i)]);
    r.playOut();
    for (int k = 0; k < T38_RESYNC_RUN_UNSEEN; ++k) r.take(under(uint16_t(115 + k), primaryOf(a[size_t(k)])));
    EXPECT_EQ(r.playOut().numbers.size(), size_t(T38_RESYNC_RUN_UNSEEN));
    for (int i = 10; i < 15; ++i) r.take(a[size_t(i)]);
    const auto p = r.playOut();
    ASSERT_EQ(p.numbers.size(), 5u);
    EXPECT_EQ(p.numbers.front(), 110);
    EXPECT_EQ(p.ifps.back(), primaryOf(a[14]));
  }
  // no more than T38_MAX_ALONE stand alone at once; a later one takes the place of the one held
  // longest once that was held longer than the playout waits at a gap: its run never came, and
  // the packets held are those a run coming now may vouch for
  Received r;
  for (int i = 0; i < 5; ++i) r.take(a[size_t(i)]);
  const auto far = stream(400, 17 * (T38_MAX_ALONE + 3), 0, 'x');
  for (int k = 0; k < T38_MAX_ALONE + 3; ++k) r.take(far.at(size_t(17 * k)));  // never a run
  EXPECT_EQ(r.order().size(), size_t(5 + T38_MAX_ALONE));
  const auto first = r.order();
  r.rq.time = uint16_t(r.rq.time + T38_LATE_WAIT_MAX);
  const auto later = stream(550, 41, 0, 'y');  // far apart: never a run either
  r.take(later[0]);
  EXPECT_EQ(r.order(), first) << "held no longer than the wait at a gap: they keep their place";
  ++r.rq.time;
  r.take(later[20]);
  const auto held = r.order();
  ASSERT_EQ(held.size(), size_t(5 + T38_MAX_ALONE));
  EXPECT_EQ(held[5], 417) << "the first held left";
  EXPECT_EQ(held.back(), 570);
  r.take(later[40]);
  EXPECT_EQ(r.order().size(), held.size());
  EXPECT_EQ(r.order()[5], 434) << "the next held longest left";
}

// Where the pool has no room (the receiver leaves the last T38_POOL_KEPT_FOR_SENDING blocks to the
// packets going out), the packet queued that plays last gives way to one that plays
// before it: however short a peer's packets, the one the playout waits for is never refused
// behind a full queue (the stream's newest number stalled, and its next frame stood alone). The
// one that gave way comes again in the copies after it; without copies nothing brings it back,
// and the packet that came is refused instead.
TEST(T38Udptl, AFullPoolKeepsThePacketsThatPlayFirst) {
  for (int redundancy : {1, 0}) {
    const auto a = stream(100, 200, redundancy, 'a');
    Received r(4096);
    r.take(a[0]);
    r.playOut();
    size_t i = 3;  // 101 is late (the datagram after it carries it too)
    while (r.pool->numFreeBuf > T38_POOL_KEPT_FOR_SENDING && i < a.size()) r.take(a[i++]);
    const auto full = r.order();
    ASSERT_GT(full.size(), 4u);
    ASSERT_EQ(full.back(), 100 + i - 1);
    r.take(a[i]);  // after everything queued: no room
    EXPECT_EQ(r.order(), full);
    r.take(a[1]);
    const auto held = r.order();
    if (redundancy == 0) {
      EXPECT_EQ(held, full) << "nothing would bring back the packet that gave way";
      continue;
    }
    ASSERT_EQ(held.size(), full.size());
    EXPECT_EQ(held.front(), 101);
    EXPECT_EQ(held.back(), full[full.size() - 2]) << "the packet that plays last gave way";
    const auto p = r.playOut();
    EXPECT_TRUE(p.lost.empty());
    EXPECT_TRUE(p.broken.empty());
    EXPECT_EQ(p.numbers.front(), 101);
    // the number given up fills from a later copy like any missing one, and the stream goes on
    r.take(a[i]);
    EXPECT_EQ(r.order(), (std::vector<uint16_t>{uint16_t(100 + i - 1), uint16_t(100 + i)}));
    EXPECT_EQ(r.rq.newest, 100 + i);
  }
}

// A datagram whose number lost a bit leaves its own number missing, and at redundancy 0 nothing
// else brings it. A datagram the stream does not take (far outside the window, or one of two
// claiming the same number) marks the missing numbers one bit from its own: what comes under
// them later with other content is another misnumbered datagram, not taken, and the number plays
// as lost. Content that one of those datagrams brought is still taken there, and numbers not one
// bit away still fill as before.
TEST(T38Udptl, AMissingNumberAMisnumberedDatagramMayBeTakesOnlyItsContent) {
  const auto a = stream(100, 20, 0, 'a');
  auto as = [&](size_t i, uint16_t s) { return renumbered(a[i], s); };
  auto played104 = [](const Received::Played& p) {
    for (size_t i = 0; i < p.numbers.size(); ++i)
      if (p.numbers[i] == 104) return p.ifps[i];
    return std::vector<uint8_t>{};
  };
  // 104 arrives far ahead as 104 ^ 0x1000; later 108 arrives as 108 ^ 4 = 104 after 105 to 107
  for (const uint16_t far : {uint16_t(104 ^ 0x1000), uint16_t(105 ^ 0x1000)}) {
    Received r;
    for (size_t i = 0; i < 4; ++i) r.take(a[i]);
    r.take(as(4, far));
    for (size_t i = 5; i < 8; ++i) r.take(a[i]);
    r.take(as(8, 104));
    const auto p = r.playOut();
    // a far number one bit from 105, which came, says nothing of 104: what fills it is taken
    EXPECT_EQ(played104(p), far == (104 ^ 0x1000) ? std::vector<uint8_t>{} : primaryOf(a[8])) << far;
  }
  // the same where the top bit is the one lost: the stream at 0x8064, its 0x8068 arrives as 0x0068;
  // later 0x806C arrives as 0x8068, late, and is not taken
  {
    const auto high = stream(0x8064, 20, 0, 'a');
    auto highAs = [&](size_t i, uint16_t s) { return renumbered(high[i], s); };
    Received r;
    for (size_t i = 0; i < 4; ++i) r.take(high[i]);
    r.take(highAs(4, 0x0068));
    for (size_t i = 5; i < 8; ++i) r.take(high[i]);
    r.take(highAs(8, 0x8068));
    const auto p = r.playOut();
    EXPECT_EQ(p.lost, (std::vector<uint16_t>{0x8068}));
  }
  // the content the far datagram brought is still taken under 104, late
  {
    Received r;
    for (size_t i = 0; i < 4; ++i) r.take(a[i]);
    r.take(as(4, 104 ^ 0x1000));
    for (size_t i = 5; i < 8; ++i) r.take(a[i]);
    r.take(a[4]);
    EXPECT_EQ(played104(r.playOut()), primaryOf(a[4]));
  }
  // 104 arrives as 104 ^ 2 = 106 before 105; the stream's own 106 disputes it; later 112 arrives
  // as 112 ^ 8 = 104: not taken. Either content 106 had is still taken under 104.
  for (const size_t late : {size_t(12), size_t(4), size_t(6)}) {
    Received r;
    for (size_t i = 0; i < 4; ++i) r.take(a[i]);
    r.take(as(4, 106));
    for (size_t i = 5; i < 8; ++i) r.take(a[i]);
    r.take(as(late, 104));
    const auto p = r.playOut();
    EXPECT_EQ(played104(p), late == 12 ? std::vector<uint8_t>{} : primaryOf(a[late])) << late;
  }
  // 105 arrives as 105 ^ 4 = 109; 107 comes late as 107 ^ 2 = 105, after 106; the stream's own
  // 109 disputes the first: what came late under 105 with neither content is no longer trusted,
  // while what came there in its turn, or with the content one of them brought, still plays.
  auto played105 = [&](size_t filler, bool inTurn) {
    Received r;
    for (size_t i = 0; i < 5; ++i) r.take(a[i]);
    r.take(as(5, 109));
    if (inTurn) r.take(as(filler, 105));
    r.take(a[6]);
    if (!inTurn) r.take(as(filler, 105));
    for (size_t i = 8; i < 12; ++i) r.take(a[i]);
    const auto p = r.playOut();
    for (size_t i = 0; i < p.numbers.size(); ++i)
      if (p.numbers[i] == 105) return p.ifps[i];
    return std::vector<uint8_t>{};
  };
  EXPECT_EQ(played105(7, true), primaryOf(a[7]));
  EXPECT_EQ(played105(5, false), primaryOf(a[5]));
  // the stream's own datagram again under a number one bit from its own, where the stream holds
  // other packets: a copy the network misnumbered, which brings nothing and takes nothing away.
  // At redundancy 0 (124 as 124 ^ 16 = 108, and 117 as 117 ^ 16 = 101 behind the playout) it
  // breaks nothing across the number it contradicts; at redundancy 1 (106 as 107, after 107
  // brought 106 as its copy) it disputes neither packet of 107's datagram
  const auto b = stream(100, 36, 0, 'a');
  auto bAs = [&](size_t i, uint16_t s) { return renumbered(b[i], s); };
  for (const uint16_t under : {uint16_t(108), uint16_t(101)}) {
    Received r;
    for (size_t i = 0; i < 4; ++i) r.take(b[i]);
    r.playOut();
    for (size_t i = 4; i < b.size(); ++i) r.take(b[i]);
    r.take(bAs(under == 108 ? 24 : 17, under));
    const auto p = r.playOut();
    EXPECT_TRUE(p.broken.empty()) << under;
    EXPECT_EQ(p.numbers.size(), b.size() - 4) << under;
    if (p.ifps.size() < 7) continue;
    EXPECT_EQ(p.ifps[4], primaryOf(b[8])) << under;
    EXPECT_EQ(p.ifps[6], primaryOf(b[10])) << under;
  }
  // the same within the last numbers the stream holds, without copies, is what a peer that
  // stepped back sends there; and page data repeats its packets (a blank row) wherever: refused,
  // and the frame across it breaks
  {
    Received r;
    for (size_t i = 0; i < 12; ++i) r.take(b[i]);
    r.take(bAs(6, 110));
    EXPECT_FALSE(r.playOut().broken.empty());
  }
  // so with copies where the packets the step repeated were lost on the way: another stream's 109,
  // its copy of 108, agrees with nothing, and its copies read a few numbers on contradict nothing
  // the stream holds (past 111 it holds nothing)
  {
    const auto a1 = stream(100, 12, 1, 'a');
    Received r;
    for (const auto& d : a1) r.take(d);
    r.take(stream(100, 12, 1, 'z')[9]);
    const auto p = r.playOut();
    EXPECT_EQ(p.broken, (std::vector<uint16_t>{108, 109, 110, 111})) << p.broken.size();
  }
  // but not the stream's own datagram after its next one, repeated under its number, came first:
  // 104 and 105 carry the same packet, 105's datagram comes as 104 and 104's own after it, which
  // brings the packet held under its number; 103's own datagram then settles 103
  {
    T38ZUDPTX tx;
    t38fUDPTXInit(&tx);
    tx.ingressSequenceNum = 100;
    std::vector<std::vector<uint8_t>> e;
    for (int i = 0; i < 8; ++i)
      e.push_back(build(tx, ifpOf(true, 0, HDLC_DATA, {'e', uint8_t(i == 5 ? 4 : i)}, NO_DFS), 1));
    Received r;
    for (size_t i = 0; i < 3; ++i) r.take(e[i]);
    r.take(renumbered(e[5], 104));
    for (const size_t i : {4, 3, 5, 6, 7}) r.take(e[i]);
    const auto p = r.playOut();
    EXPECT_TRUE(p.broken.empty()) << p.broken.size();
    EXPECT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105, 106, 107}));
  }
  // where its number was played there is nothing to dispute: a peer that stepped back sent it
  // after all the stream holds, and the network's copy breaks nothing, so the packets queued came
  // in order and the break lies past them (108 as 108 ^ 4 = 104)
  {
    Received r;
    for (size_t i = 0; i < 6; ++i) r.take(b[i]);
    r.playOut();
    for (size_t i = 6; i < 12; ++i) r.take(b[i]);
    r.take(bAs(8, 104));
    const auto p = r.playOut();
    EXPECT_TRUE(p.broken.empty());
    EXPECT_EQ(p.numbers, (std::vector<uint16_t>{106, 107, 108, 109, 110, 111}));
  }
  // nor where the network's copy came alone, its own number never coming (255 as 255 ^ 4 = 251,
  // behind the playout, at redundancy 3): refused, it is shown misnumbered by the next datagram's
  // copy under 255, so the datagram after that one, refused for its copy of 256 altered on the way,
  // is no peer's after a step back beside it: the packets play whole, nothing broken
  {
    const auto a3 = stream(250, 10, 3, 'a');
    auto altered = a3[7];
    const size_t copy = copyAt(altered, 0);
    altered[copy + altered[copy - 1] - 1] ^= 0x10;
    Received r;
    for (size_t i = 0; i < 5; ++i) r.take(a3[i]);
    r.playOut();
    r.take(renumbered(a3[5], 251));
    for (const auto& d : {a3[6], altered, a3[8], a3[9]}) r.take(d);
    const auto p = r.playOut();
    EXPECT_TRUE(p.broken.empty()) << p.broken.size();
    EXPECT_EQ(p.numbers, (std::vector<uint16_t>{255, 256, 257, 258, 259}));
    for (size_t k = 0; k < p.numbers.size(); ++k) EXPECT_EQ(p.ifps[k], primaryOf(a3[p.numbers[k] - 250u])) << p.numbers[k];
  }
  // nor, refused where a peer that stepped back would reuse it (108 as 104, its copy 107's under
  // 103), does it go with the next datagram refused for one copy (the network's duplicate of 114,
  // its copy of 113 altered): that one shows no step, and the stream's next packets break nothing
  {
    const auto a1 = stream(100, 16, 1, 'a');
    Received r;
    for (size_t i = 0; i < 6; ++i) r.take(a1[i]);
    r.playOut();
    for (size_t i = 6; i < 12; ++i) r.take(a1[i]);
    r.take(renumbered(a1[8], 104));
    for (size_t i = 12; i < 14; ++i) r.take(a1[i]);
    auto altered = a1[14];
    altered[copyAt(altered, 0) + 5] ^= 0x10;  // the copy's first payload octet
    r.take(altered);
    for (size_t i = 14; i < a1.size(); ++i) r.take(a1[i]);
    const auto p = r.playOut();
    EXPECT_TRUE(p.broken.empty()) << p.broken.size();
    EXPECT_EQ(p.numbers.size(), 10u);
  }
  {
    T38ZUDPTX tx;
    t38fUDPTXInit(&tx);
    tx.ingressSequenceNum = 100;
    std::vector<std::vector<uint8_t>> page;
    for (int i = 0; i < 36; ++i) page.push_back(build(tx, ifpOf(true, 8, HDLC_DATA, {'p', uint8_t(i)}, NO_DFS), 0));
    Received r;
    for (const auto& d : page) r.take(d);
    auto moved = page[24];
    moved[1] = 108;
    r.take(moved);
    EXPECT_FALSE(r.playOut().broken.empty());
  }
  {
    const auto a1 = stream(100, 10, 1, 'a');
    Received r;
    for (size_t i = 0; i < 6; ++i) r.take(a1[i]);
    r.take(a1[7]);
    auto moved = a1[6];
    moved[1] = 107;
    r.take(moved);
    r.take(a1[8]);
    const auto p = r.playOut();
    EXPECT_TRUE(p.lost.empty());
    EXPECT_TRUE(p.broken.empty());
    EXPECT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105, 106, 107, 108}));
  }
  // the copy first: 106 arrives as 107 (its copies the stream's 105, like a counter's step), then
  // the stream's own 107 carries 106's packet under 106, the number one bit away: the first was
  // the misnumbered one, it leaves, and 107 is taken whole, its copy of 106 the only one there is
  {
    const auto a1 = stream(100, 10, 1, 'a');
    Received r;
    for (size_t i = 0; i < 6; ++i) r.take(a1[i]);
    r.take(renumbered(a1[6], 107));
    r.take(a1[7]);
    r.take(a1[8]);
    const auto p = r.playOut();
    EXPECT_TRUE(p.lost.empty());
    EXPECT_TRUE(p.broken.empty());
    EXPECT_EQ(p.numbers, (std::vector<uint16_t>{100, 101, 102, 103, 104, 105, 106, 107, 108}));
    if (p.ifps.size() == 9) {
      EXPECT_EQ(p.ifps[6], primaryOf(a1[6]));
      EXPECT_EQ(p.ifps[7], primaryOf(a1[7]));
    }
  }
  // the same two on, in page data (an ECM frame's packets) at redundancy 1: 105 arrives as 107,
  // its copy the stream's 104 under 106, like a counter's step of two; the stream's own 106 then
  // brings 105's packet under 105, one bit from 107, contradicting nothing: 107 gives the packet
  // up and takes its own datagram's whole, uncontested, or plays as lost where 107 and 108 are
  // lost, the frame broken there. The page packet never plays twice.
  {
    T38ZUDPTX tx;
    t38fUDPTXInit(&tx);
    tx.ingressSequenceNum = 100;
    std::vector<std::vector<uint8_t>> page;
    for (int i = 0; i < 12; ++i) page.push_back(build(tx, ifpOf(true, 8, HDLC_DATA, {'p', uint8_t(i)}, NO_DFS), 1));
    for (const bool lost : {false, true}) {
      Received r;
      for (size_t i = 0; i < 5; ++i) r.take(page[i]);
      r.take(renumbered(page[5], 107));
      r.take(page[6]);
      for (size_t i = lost ? 9 : 7; i < page.size(); ++i) r.take(page[i]);
      const auto p = r.playOut();
      EXPECT_EQ(p.lost, lost ? std::vector<uint16_t>{107} : std::vector<uint16_t>{}) << lost;
      EXPECT_EQ(p.broken, lost ? std::vector<uint16_t>{108} : std::vector<uint16_t>{}) << lost;
      EXPECT_TRUE(p.contested.empty()) << lost;
      for (size_t k = 0; k < p.numbers.size(); ++k) EXPECT_EQ(p.ifps[k], primaryOf(page[p.numbers[k] - 100u])) << p.numbers[k];
    }
    // not so where the stream repeats its packets two apart (a short frame and its end, sent
    // again and again): 106 comes before 104 and 105, its copy under 105 the stream's 103 as a
    // step's would be, and 104's own packet is 106's too; 107 is lost, and 106 still plays
    t38fUDPTXInit(&tx);
    tx.ingressSequenceNum = 100;
    std::vector<std::vector<uint8_t>> repeats;
    for (int i = 0; i < 10; ++i)
      repeats.push_back(build(tx, i % 2 ? ifpOf(true, 8, HDLC_DATA, {}, HDLC_FCS_OK) : ifpOf(true, 8, HDLC_DATA, {0xFF, 0x03, 0x86}, NO_DFS), 1));
    Received r;
    for (const int i : {0, 1, 2, 3, 6, 4, 5, 8, 9}) r.take(repeats[size_t(i)]);
    const auto p = r.playOut();
    EXPECT_TRUE(p.lost.empty());
    EXPECT_EQ(p.numbers.size(), repeats.size());
  }
  // not so in a run of equal packets (the spaces of an identity), where 49's own packet is the
  // one 48 holds: 49's copy of 48 altered on the way shows nothing misnumbered, and never plays
  {
    T38ZUDPTX tx;
    t38fUDPTXInit(&tx);
    tx.ingressSequenceNum = 40;
    std::vector<std::vector<uint8_t>> spaces;
    for (int i = 0; i < 12; ++i) spaces.push_back(build(tx, ifpOf(true, 0, HDLC_DATA, {' '}, NO_DFS), 1));
    auto altered = spaces[9];
    altered[copyAt(altered, 0) + 5] ^= 0x10;  // the copy's octet after type, count, field and length
    Received r;
    for (size_t i = 0; i < 9; ++i) r.take(spaces[i]);
    r.take(altered);
    for (size_t i = 10; i < spaces.size(); ++i) r.take(spaces[i]);
    for (const auto& ifp : r.playOut().ifps) EXPECT_EQ(ifp, primaryOf(spaces[0]));
  }
  // at redundancy 1 the peer's counter steps eight forward between a frame's preamble (101) and its
  // address octet (110, its copy the preamble under 109: a step, or 102 to 109 lost); the network's
  // copy of 111's datagram, moved two back onto 109, brings the control octet under 109 and the
  // address under 108. Under 109 it stands against the step's copy, one word against one: 109
  // plays as lost, and the frame's first octets never play twice in one frame closed good (the
  // frame from 110 on plays broken). Where nothing moved, the frame plays from 110 on
  {
    T38ZUDPTX tx;
    t38fUDPTXInit(&tx);
    tx.ingressSequenceNum = 100;
    const auto preamble = ifpOf(false, 3, NO_DFS, {}, NO_DFS);
    std::vector<std::vector<uint8_t>> d = {build(tx, ifpOf(false, 0, NO_DFS, {}, NO_DFS), 1), build(tx, preamble, 1)};
    tx.ingressSequenceNum = 110;
    for (const uint8_t octet : {0xFF, 0xC8, 0x31}) d.push_back(build(tx, ifpOf(true, 0, HDLC_DATA, {octet}, NO_DFS), 1));
    d.push_back(build(tx, ifpOf(true, 0, HDLC_DATA, {}, HDLC_FCS_OK), 1));  // 113
    for (const bool moved : {true, false}) {
      Received r;
      r.take(d[0]);
      r.take(d[1]);
      r.take(d[2]);
      if (moved) r.take(renumbered(d[3], 109));
      for (size_t i = 3; i < d.size(); ++i) r.take(d[i]);
      const auto p = r.playOut();
      const std::vector<uint16_t> played = moved ? std::vector<uint16_t>{100, 101, 108, 110, 111, 112, 113}
                                                 : std::vector<uint16_t>{100, 101, 110, 111, 112, 113};
      EXPECT_EQ(p.numbers, played) << moved;
      if (moved) {
        EXPECT_EQ(p.broken, (std::vector<uint16_t>{108, 110}));
      }
    }
  }
}

// Our datagrams in a capture file, dissected by tshark as UDPTL: no malformed packet, and the
// sequence numbers and IFP types it reads are ours.
TEST(T38Udptl, DatagramsDissectCleanlyInTshark) {
  if (std::system("command -v tshark > /dev/null 2>&1") != 0) GTEST_SKIP() << "no tshark";
  T38ZUDPTX tx;
  t38fUDPTXInit(&tx);
  std::vector<std::vector<uint8_t>> dgs;
  dgs.push_back(build(tx, ifpOf(false, 1, NO_DFS, {}, NO_DFS), 3));  // CNG
  dgs.push_back(build(tx, ifpOf(false, 3, NO_DFS, {}, NO_DFS), 3));  // V.21 preamble
  dgs.push_back(build(tx, ifpOf(true, 0, HDLC_DATA, {0xFF, 0xC8, 0x01, 0x00, 0x50, 0x00}, HDLC_FCS_OK), 3));  // DIS
  dgs.push_back(build(tx, ifpOf(true, 8, T4_NON_ECM, std::vector<uint8_t>(60, 0x3C), T4_NON_ECM_SIG_END), 3));
  const std::string path = std::string(ORVOX_BINARY_DIR) + "/t38_udptl_test.pcap";
  std::ofstream f(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
  u32(0xA1B2C3D4);
  u16(2);
  u16(4);
  u32(0);
  u32(0);
  u32(65535);
  u32(101);  // raw IPv4
  uint32_t t = 0;
  for (const auto& d : dgs) {
    std::vector<uint8_t> pkt(28 + d.size(), 0);
    pkt[0] = 0x45;
    pkt[2] = uint8_t(pkt.size() >> 8);
    pkt[3] = uint8_t(pkt.size());
    pkt[8] = 64;
    pkt[9] = 17;
    pkt[12] = 10, pkt[15] = 1, pkt[16] = 10, pkt[19] = 2;
    uint32_t sum = 0;
    for (int i = 0; i < 20; i += 2) sum += (pkt[size_t(i)] << 8) | pkt[size_t(i + 1)];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    pkt[10] = uint8_t(~sum >> 8);
    pkt[11] = uint8_t(~sum);
    pkt[20] = 0x17, pkt[21] = 0x70, pkt[22] = 0x17, pkt[23] = 0x70;  // port 6000
    pkt[24] = uint8_t((8 + d.size()) >> 8);
    pkt[25] = uint8_t(8 + d.size());
    std::copy(d.begin(), d.end(), pkt.begin() + 28);
    u32(++t);
    u32(0);
    u32(uint32_t(pkt.size()));
    u32(uint32_t(pkt.size()));
    f.write(reinterpret_cast<const char*>(pkt.data()), std::streamsize(pkt.size()));
  }
  f.close();
  const std::string cmd = "tshark -r " + path + " -d udp.port==6000,t38 -T fields -e t38.seq_number -e _ws.malformed -e _ws.expert 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[256];
  while (fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  EXPECT_EQ(out.find("alformed"), std::string::npos) << out;
  EXPECT_EQ(out, "0\t\t\n1\t\t\n2\t\t\n3\t\t\n") << out;
}

}  // namespace
