// Fax-relay packets to IFP packets, and merging two of them.
#include <gtest/gtest.h>

#include <vector>

#include "t38_ifp.h"

namespace {

std::vector<uint8_t> convert(T38ZCONV& st, uint8_t code, std::vector<uint8_t> octets, uint16_t bits = 0xFFFF,
                             uint8_t redundancy = 3) {
  std::vector<uint16_t> payload(1 + (octets.size() + 1) / 2, 0);
  payload[0] = bits != 0xFFFF ? bits : uint16_t(octets.size() * 8);
  for (size_t i = 0; i < octets.size(); ++i)
    payload[1 + i / 2] = uint16_t(payload[1 + i / 2] | ((i & 1) ? octets[i] : octets[i] << 8));
  const HAPI_PKT_HDR hdr{uint16_t(0x0500 | code), uint16_t(octets.empty() && bits == 0xFFFF ? 0 : 2 + octets.size()), 0, 0};
  std::vector<uint8_t> out(128);
  const int n = t38fHapiPktToIFPpkt(&st, redundancy, &hdr, payload.data(), out.data(), int(out.size()));
  out.resize(size_t(n < 0 ? 0 : n));
  return out;
}

TEST(T38Convert, PacketsOfTheRelayBecomeTheirIfps) {
  T38ZCONV st{};
  EXPECT_EQ(convert(st, 20, {0xD1, 0xD2, 0xD3}), (std::vector<uint8_t>{0xC0, 0x02, 0x80, 0x00, 0x02, 0xD1, 0xD2, 0xD3, 0x40}));
  EXPECT_EQ(st.flushState, 4);  // redundancy 3 + 1
  EXPECT_EQ(st.flushMode, 1);
  EXPECT_EQ(convert(st, 19, {}), (std::vector<uint8_t>{0xC0, 0x01, 0x20}));
  EXPECT_EQ(st.flushMode, 0);
  EXPECT_EQ(convert(st, 2, {}), (std::vector<uint8_t>{0x04}));  // CED
  // a page end before any training has no type: dropped without counting
  T38ZCONV fresh{};
  EXPECT_TRUE(convert(fresh, HAPI_PKT_FC_PAGEEND, {}).empty());
  EXPECT_EQ(fresh.unknownPkt, 0);
  // after a 14400 long training it goes out as data of that type
  EXPECT_EQ(convert(fresh, 17, {}), (std::vector<uint8_t>{15 << 1}));
  EXPECT_EQ(fresh.msgtype, 8);
  EXPECT_EQ(convert(fresh, HAPI_PKT_FC_PAGEEND, {}), (std::vector<uint8_t>{0xD0, 0x01, 0x70}));
  // codes without a row and V.33 types are counted as unknown
  EXPECT_TRUE(convert(fresh, 65, {}).empty());
  EXPECT_TRUE(convert(fresh, 8, {}).empty());
  EXPECT_EQ(fresh.unknownPkt, 2);
}

// A tail has three ticks whatever the redundancy (more when it asks for more); without secondaries
// a signal end is itself repeated twice before the no-signals.
TEST(T38Convert, TailsKeepThreeCopiesWhateverTheRedundancy) {
  for (uint8_t red : {0, 1, 3, 5}) {
    T38ZCONV st{};
    const uint16_t ticks = uint16_t((red > 3 ? red : 3) + 1);
    convert(st, 2, {}, 0xFFFF, red);  // CED: repeats of its datagram
    EXPECT_EQ(st.flushMode, 0);
    EXPECT_EQ(st.flushState, ticks) << int(red);
    EXPECT_EQ(st.flushRepeats, 0);
    convert(st, 20, {0x01}, 0xFFFF, red);  // a final V.21 frame: no-signals
    EXPECT_EQ(st.flushMode, 1);
    EXPECT_EQ(st.flushRepeats, red < 2 ? 2 - red : 0) << int(red);  // with the no-signals' copies, three
    EXPECT_EQ(st.flushState, ticks + st.flushRepeats) << int(red);
  }
}

TEST(T38Convert, TheBitCountCannotReachPastThePayload) {
  T38ZCONV st{};
  // 800 bits claimed, 2 octets carried: only the carried octets go out
  const auto ifp = convert(st, 18, {0x11, 0x22}, 800);
  EXPECT_EQ(ifp, (std::vector<uint8_t>{0xC0, 0x01, 0x80, 0x00, 0x01, 0x11, 0x22}));
}

TEST(T38Merge, FieldsOfTheSecondJoinTheFirstWithoutTouchingItsData) {
  T38ZCONV st{};
  auto first = convert(st, 18, {0xD1, 0xD2, 0xD3});  // V.21 data, one field
  const auto end = convert(st, 19, {});              // V.21 frame end, no data
  const int len1 = int(first.size());
  first.resize(128);
  int n = t38fMergeIFP(first.data(), len1, end.data(), int(end.size()), 104);
  ASSERT_GT(n, 0);
  first.resize(size_t(n));
  // the status header starts its own octet: the last data octet stays D3
  EXPECT_EQ(first, (std::vector<uint8_t>{0xC0, 0x02, 0x80, 0x00, 0x02, 0xD1, 0xD2, 0xD3, 0x20}));
  EXPECT_EQ(t38fIFPcheck(first.data(), n), n);
  // a first with a data field and a status header: the next header takes the free low half
  auto two = convert(st, 20, {0x01});  // C0 02 80 00 00 01 40
  const auto more = convert(st, 19, {});
  const int len2 = int(two.size());
  two.resize(128);
  n = t38fMergeIFP(two.data(), len2, more.data(), int(more.size()), 104);
  ASSERT_EQ(n, len2);
  EXPECT_EQ(two[size_t(len2 - 1)], 0x42);
  EXPECT_EQ(two[1], 3);
  EXPECT_EQ(t38fIFPcheck(two.data(), n), n);
}

TEST(T38Merge, AMergePastTheBlockIsRefusedAndLeavesTheFirstAlone) {
  T38ZCONV st{};
  auto first = convert(st, 18, std::vector<uint8_t>(80, 0xAA));
  const auto second = convert(st, 18, std::vector<uint8_t>(40, 0xBB));
  const auto before = first;
  first.resize(256);
  EXPECT_EQ(t38fMergeIFP(first.data(), int(before.size()), second.data(), int(second.size()), 104), -1);
  first.resize(before.size());
  EXPECT_EQ(first, before);
}

}  // namespace

namespace {

struct Relay {
  std::vector<std::pair<uint8_t, std::vector<uint8_t>>> pkts;
  static void sink(void* u, uint8_t code, const uint8_t* d, int n) {
    static_cast<Relay*>(u)->pkts.push_back({code, std::vector<uint8_t>(d, d + n)});
  }
};

TEST(T38Convert, IfpsComeBackAsTheRelaysPackets) {
  T38ZCONV st{};
  // V.21 frame with its end, both ways
  auto ifp = convert(st, 20, {0xD1, 0xD2, 0xD3});
  Relay r;
  ASSERT_TRUE(t38fIFPpktToHapiPkt(ifp.data(), int(ifp.size()), Relay::sink, &r));
  ASSERT_EQ(r.pkts.size(), 2u);
  EXPECT_EQ(r.pkts[0].first, 18);
  EXPECT_EQ(r.pkts[0].second, (std::vector<uint8_t>{0xD1, 0xD2, 0xD3}));
  EXPECT_EQ(r.pkts[1].first, 20);
  // an indicator: the 14400 long training (IFP type 15) is relay code 17
  const uint8_t trn[] = {15 << 1};
  Relay t;
  ASSERT_TRUE(t38fIFPpktToHapiPkt(trn, 1, Relay::sink, &t));
  EXPECT_EQ(t.pkts[0].first, 17);
  // a field of 86 octets leaves as packets of 84 and 2
  auto big = convert(st, 32, std::vector<uint8_t>(86, 0x5A));  // V.17 14400 page data
  Relay b;
  ASSERT_TRUE(t38fIFPpktToHapiPkt(big.data(), int(big.size()), Relay::sink, &b));
  ASSERT_EQ(b.pkts.size(), 2u);
  EXPECT_EQ(b.pkts[0].first, 32);
  EXPECT_EQ(b.pkts[0].second.size(), 84u);
  EXPECT_EQ(b.pkts[1].second.size(), 2u);
  // a good end that carries octets (a data field retyped on the way) ends the frame bad, V.21 and
  // ECM alike: the frame the sender checked is neither the one with them nor the one without
  for (const uint8_t t0 : {uint8_t(0xC0), big[0]}) {
    const uint8_t endWithOctets[] = {t0, 0x01, 0xA0, 0x00, 0x00, 0x04};
    const uint8_t badEnd[] = {t0, 0x01, 0x30};
    Relay with, bad;
    ASSERT_TRUE(t38fIFPpktToHapiPkt(endWithOctets, int(sizeof endWithOctets), Relay::sink, &with));
    ASSERT_TRUE(t38fIFPpktToHapiPkt(badEnd, int(sizeof badEnd), Relay::sink, &bad));
    EXPECT_EQ(with.pkts, bad.pkts);
  }
  // non-ECM page octets inside a V.21 frame (a field retyped on the way) are octets the frame
  // lost: it ends bad there, and the good end after them closes nothing the sender checked
  const uint8_t v21Retyped[] = {0xC0, 0x03, 0x80, 0x00, 0x00, 0xD1, 0xE0, 0x00, 0x00, 0xD2, 0x20};
  Relay rt;
  ASSERT_TRUE(t38fIFPpktToHapiPkt(v21Retyped, int(sizeof v21Retyped), Relay::sink, &rt));
  EXPECT_EQ(rt.pkts, (std::vector<std::pair<uint8_t, std::vector<uint8_t>>>{{18, {0xD1}}, {21, {}}, {19, {}}}));
  // malformed: nothing handed out
  Relay m;
  EXPECT_FALSE(t38fIFPpktToHapiPkt(big.data(), int(big.size()) - 1, Relay::sink, &m));
  EXPECT_TRUE(m.pkts.empty());
}

}  // namespace
