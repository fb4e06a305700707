// RTP as the service builds it from the codec service's packets, judged by an independent
// dissector: a G.711 call with comfort noise, an RFC 4733 digit, RFC 2198 redundancy, AMR and
// G.726 in both code-word orders; and the header rules behind them.
#include <gtest/gtest.h>

#include <cstring>

#include "rtp_harness.h"
#include "wire_check.h"

namespace {

using namespace rtptest;

class RtpBuildTest : public RtpTest {
 protected:
  void SetUp() override {
    RtpTest::SetUp();
    // Identifiers the tests can predict: SSRC 0x11112222, sequence 0xFFFE, base 0x00010000.
    world().randoms = {0x1111, 0x2222, 0xFFFE, 0x0001, 0x0000};
    startSession();
    clear();
  }

  // Runs the ticks, one list of frame packets per tick, and returns what reached the host.
  std::vector<std::vector<uint8_t>> run(const std::vector<std::vector<std::vector<uint8_t>>>& plan) {
    for (const auto& packets : plan) {
      sendNext(packets);
      tick();
    }
    return sentRtp();
  }

  static uint16_t seqOf(const std::vector<uint8_t>& p) { return static_cast<uint16_t>(p[2] << 8 | p[3]); }
  static uint32_t tsOf(const std::vector<uint8_t>& p) {
    return uint32_t(p[4]) << 24 | uint32_t(p[5]) << 16 | uint32_t(p[6]) << 8 | p[7];
  }
  static unsigned ptOf(const std::vector<uint8_t>& p) { return p[1] & 0x7F; }
  static bool markerOf(const std::vector<uint8_t>& p) { return (p[1] & 0x80) != 0; }
};

std::vector<uint8_t> bytes(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + 3 * i);
  return v;
}

void expectClean(const Dissection& d, size_t frames) {
  EXPECT_EQ(d.frames, static_cast<int>(frames));
  EXPECT_EQ(d.malformed, 0);
}

TEST_F(RtpBuildTest, G711CallWithComfortNoiseDissectsCleanly) {
  std::vector<std::vector<std::vector<uint8_t>>> plan;
  uint32_t ts = 0;
  for (int i = 0; i < 20; ++i) {
    if (i == 10) {
      plan.push_back({framePacket(0x0251, ts, {0x00, 40})});  // generic SID, level 40 in the high byte
    } else if (i == 11 || i == 12) {
      plan.push_back({});
    } else {
      plan.push_back({framePacket(0x0100, ts, bytes(160, static_cast<uint8_t>(i)))});
    }
    ts += 160;
  }
  const auto sent = run(plan);
  ASSERT_EQ(sent.size(), 18u);
  for (size_t k = 0; k < sent.size(); ++k) {
    EXPECT_EQ(seqOf(sent[k]), static_cast<uint16_t>(0xFFFE + k)) << k;
    EXPECT_EQ(sent[k][8], 0x11);
    EXPECT_EQ(sent[k][11], 0x22);
  }
  // The engine holds G.711 as host-order words: each byte pair goes out swapped.
  const std::vector<uint8_t> first = bytes(160, 0);
  EXPECT_EQ(sent[0][12], first[1]);
  EXPECT_EQ(sent[0][13], first[0]);
  EXPECT_EQ(tsOf(sent[0]), 0x00010000u);
  // Comfort noise: payload type 13, level raised by 6; the next voice packet carries the marker.
  EXPECT_EQ(ptOf(sent[10]), 13u);
  ASSERT_EQ(sent[10].size(), 14u);
  EXPECT_EQ(sent[10][12], 46);
  EXPECT_FALSE(markerOf(sent[10]));
  EXPECT_TRUE(markerOf(sent[11]));
  EXPECT_EQ(tsOf(sent[11]), 0x00010000u + 13 * 160);
  EXPECT_FALSE(markerOf(sent[12]));
  EXPECT_EQ(rtp()->stats.cumulative.ingressRtpPacketsLow, 18);
  EXPECT_EQ(rtp()->stats.cumulative.ingressRtpBytesLow, 17 * 160 + 2);

  if (!tsharkAvailable()) GTEST_SKIP() << "tshark not installed";
  const std::string path = tempPath("g711.pcap");
  writeCapture(path, sent, 5004);
  const Dissection d =
      dissect(path, "-d udp.port==5004,rtp",
              {"rtp.p_type", "rtp.seq", "rtp.timestamp", "rtp.marker", "rtp.ssrc", "rtp.payload"});
  expectClean(d, sent.size());
  for (size_t k = 0; k < d.rows.size() && k < sent.size(); ++k) {
    EXPECT_EQ(d.rows[k][0], k == 10 ? "13" : "0");
    EXPECT_EQ(d.rows[k][1], std::to_string(seqOf(sent[k])));
    EXPECT_EQ(d.rows[k][2], std::to_string(tsOf(sent[k])));
    EXPECT_EQ(d.rows[k][3], k == 11 ? "1" : "0");
    EXPECT_EQ(d.rows[k][4], "0x11112222");
  }
  EXPECT_EQ(d.rows[10][5], "2e00");  // the comfort-noise level as sent, and the pad byte of its word
  // The check itself sees a broken packet: a CSRC count that runs past the end.
  std::vector<uint8_t> broken = sent[0];
  broken[0] = 0x8F;
  broken.resize(20);
  writeCapture(path, {broken}, 5004);
  EXPECT_EQ(dissect(path, "-d udp.port==5004,rtp", {"rtp.seq"}).malformed, 1);
  std::remove(path.c_str());
}

TEST_F(RtpBuildTest, DigitKeepsOneTimeStampGrowsItsDurationAndEndsThreeTimes) {
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.ntePayloadType = 101;
  setRegs(regs);
  world().controlBlocks.push_back({0x8842, {160, 0}});  // 20 ms packets
  clear();
  std::vector<std::vector<std::vector<uint8_t>>> plan;
  plan.push_back({framePacket(0x0100, 320, bytes(160, 1))});
  plan.push_back({tonePacket(HAPI_PKT_TC_DTMF_ON, 5, 10, 160, 480)});
  plan.push_back({tonePacket(HAPI_PKT_TC_DTMF_ON, 5, 10, 320, 640)});
  plan.push_back({framePacket(
      0x0100, 640, bytes(160, 2))});  // voice while the digit lasts: suppressed upstream, sent here
  plan.push_back({tonePacket(HAPI_PKT_TC_DTMF_ON, 5, 10, 480, 800)});
  plan.push_back({tonePacket(HAPI_PKT_TC_DTMF_OFF, 5, 10, 800, 960)});
  for (int i = 0; i < 6; ++i) plan.push_back({});
  plan.push_back({framePacket(0x0100, 1920, bytes(160, 3))});
  const auto sent = run(plan);
  std::vector<std::vector<uint8_t>> events;
  for (const auto& p : sent) {
    if (ptOf(p) == 101) events.push_back(p);
  }
  ASSERT_EQ(events.size(), 6u);
  const uint32_t start = 0x00010000u + 480;
  const uint16_t durations[6] = {160, 320, 480, 800, 800, 800};
  for (size_t k = 0; k < events.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(tsOf(events[k]), start);
    EXPECT_EQ(markerOf(events[k]), k == 0);
    ASSERT_EQ(events[k].size(), 16u);
    EXPECT_EQ(events[k][12], 5);
    EXPECT_EQ(events[k][13] & 0x80, k >= 3 ? 0x80 : 0);
    EXPECT_EQ(events[k][13] & 63, 10);
    EXPECT_EQ(events[k][14] << 8 | events[k][15], durations[k]);
  }
  // The end repeats go one packet interval (two ticks) apart, and no voice leaves in between.
  size_t firstEnd = 0;
  while (ptOf(sent[firstEnd]) != 101 || (sent[firstEnd][13] & 0x80) == 0) ++firstEnd;
  ASSERT_LT(firstEnd + 3, sent.size());
  EXPECT_EQ(ptOf(sent[firstEnd + 1]), 101u);
  EXPECT_EQ(ptOf(sent[firstEnd + 2]), 101u);
  EXPECT_EQ(ptOf(sent[firstEnd + 3]), 0u);
  EXPECT_EQ(sent.back(), sent[firstEnd + 3]);

  if (!tsharkAvailable()) GTEST_SKIP() << "tshark not installed";
  const std::string path = tempPath("digit.pcap");
  writeCapture(path, sent, 5004);
  const Dissection d = dissect(path, "-d udp.port==5004,rtp -d rtp.pt==101,rtpevent",
                               {"rtp.p_type", "rtp.seq", "rtpevent.event_id", "rtpevent.end_of_event",
                                "rtpevent.duration", "rtp.timestamp"});
  expectClean(d, sent.size());
  int ends = 0;
  for (const auto& row : d.rows) {
    if (row[0] != "101") continue;
    EXPECT_EQ(row[2], "5");
    EXPECT_EQ(row[5], std::to_string(start));
    if (row[3] == "1" || row[3] == "True") ++ends;
  }
  EXPECT_EQ(ends, 3);
  std::remove(path.c_str());
}

TEST_F(RtpBuildTest, RedundancyCarriesThePreviousPayloadsUntilTheyNoLongerFit) {
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.configFlags |= HAPI_RTP_INGRESS_RFC2198_ENABLE_MASK;
  regs.rfc2198PayloadType = 99;
  setRegs(regs);
  clear();
  std::vector<std::vector<std::vector<uint8_t>>> plan;
  const uint32_t stamps[6] = {0, 160, 320, 480, 30000, 30160};
  for (uint32_t t : stamps) plan.push_back({framePacket(0x0100, t, bytes(40, static_cast<uint8_t>(t)))});
  const auto sent = run(plan);
  ASSERT_EQ(sent.size(), 6u);
  // First packet plain; second one block; then two blocks, oldest first.
  EXPECT_EQ(ptOf(sent[0]), 0u);
  EXPECT_EQ(sent[0].size(), 52u);
  EXPECT_EQ(ptOf(sent[1]), 99u);
  EXPECT_EQ(sent[1].size(), 12u + 4 + 1 + 40 + 40);
  EXPECT_EQ(sent[1][12], 0x80);                           // F=1, PT 0
  EXPECT_EQ((sent[1][13] << 8 | sent[1][14]) >> 2, 160);  // offset
  EXPECT_EQ(sent[1][16], 0);                              // primary header
  EXPECT_EQ(sent[2].size(), 12u + 8 + 1 + 120);
  EXPECT_EQ((sent[2][13] << 8 | sent[2][14]) >> 2, 320);
  EXPECT_EQ((sent[2][17] << 8 | sent[2][18]) >> 2, 160);
  // A jump of 29520 cannot be expressed in 14 bits: the old blocks are left out, not clipped.
  EXPECT_EQ(sent[4].size(), 12u + 1 + 40);
  EXPECT_EQ(ptOf(sent[4]), 99u);
  EXPECT_EQ(sent[5].size(), 12u + 4 + 1 + 80);
  // Nor can a block of more than 1023 bytes: the packet carries the primary alone.
  const auto big =
      run({{framePacket(0x0100, 30320, bytes(1100, 1))}, {framePacket(0x0100, 30480, bytes(1100, 2))}});
  ASSERT_EQ(big.size(), 8u);
  EXPECT_EQ(big[6].size(), 12u + 8 + 1 + 80 + 1100);
  EXPECT_EQ(big[7].size(), 12u + 4 + 1 + 40 + 1100);  // the 1100-byte block of 30320 left out

  if (!tsharkAvailable()) GTEST_SKIP() << "tshark not installed";
  const std::string path = tempPath("red.pcap");
  writeCapture(path, sent, 5004);
  const Dissection d =
      dissect(path, "-d udp.port==5004,rtp -d rtp.pt==99,rtp_rfc2198",
              {"rtp.p_type", "rtp.seq", "rtp.follow", "rtp.timestamp-offset", "rtp.block-length"});
  expectClean(d, sent.size());
  ASSERT_EQ(d.rows.size(), sent.size());
  EXPECT_EQ(d.rows[2][3], "320,160");
  EXPECT_EQ(d.rows[2][4], "40,40");
  std::remove(path.c_str());
}

// AMR payloads are held as words like every other payload (the earlier byte in the high half):
// they leave as the byte stream the codec made.
TEST_F(RtpBuildTest, AmrAndG726PayloadsDissectCleanly) {
  // AMR 12.2 octet-aligned, one frame (CMR 15, ToC FT 7 Q 1), 31 bytes of speech bits.
  std::vector<uint8_t> amr = {0xF0, 0x3C};
  for (int i = 0; i < 31; ++i) amr.push_back(static_cast<uint8_t>(i * 29 + 7));
  amr.back() &= 0xF0;
  auto amrPacket = [&amr](uint32_t ts) {
    std::vector<uint8_t> p = framePacket(0x0100 | 33, ts, amr);
    for (size_t i = 8; i + 1 < p.size(); i += 2) std::swap(p[i], p[i + 1]);
    return p;
  };
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.mediaPayloadTypeMap[28] = HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(120, HAPI_PKT_VC_AMR_OA_VARIABLE);
  setRegs(regs);
  clear();
  std::vector<std::vector<std::vector<uint8_t>>> plan;
  plan.push_back({amrPacket(0)});
  plan.push_back({amrPacket(160)});
  const auto amrSent = run(plan);
  ASSERT_EQ(amrSent.size(), 2u);
  EXPECT_EQ(ptOf(amrSent[0]), 120u);
  EXPECT_EQ(std::vector<uint8_t>(amrSent[0].begin() + 12, amrSent[0].end()), amr);

  // G.726-32 in both orders: the same host words give nibble-swapped bytes with Annex E.
  clear();
  std::vector<uint8_t> g726 = bytes(80, 9);
  plan.clear();
  plan.push_back({framePacket(0x0100 | HAPI_PKT_VC_G726_32, 320, g726)});
  const auto plain = run(plan);
  setRegs2(4 | HAPI_RTP_G726_ANNEX_E_ENABLE_MASK);
  clear();
  plan.clear();
  plan.push_back({framePacket(0x0100 | HAPI_PKT_VC_G726_32, 480, g726)});
  const auto annexE = run(plan);
  ASSERT_EQ(plain.size(), 1u);
  ASSERT_EQ(annexE.size(), 1u);
  EXPECT_EQ(ptOf(plain[0]), 115u);
  for (size_t i = 12; i < plain[0].size(); ++i) {
    EXPECT_EQ(annexE[0][i], static_cast<uint8_t>((plain[0][i] << 4) | (plain[0][i] >> 4))) << i;
  }

  if (!tsharkAvailable()) GTEST_SKIP() << "tshark not installed";
  const std::string path = tempPath("amr.pcap");
  writeCapture(path, amrSent, 5004);
  const Dissection d = dissect(
      path, "-d udp.port==5004,rtp -d rtp.pt==120,amr -o 'amr.encoding.version:RFC 3267 octet aligned'",
      {"rtp.p_type", "amr.nb.toc.ft", "amr.nb.cmr"});
  expectClean(d, amrSent.size());
  ASSERT_EQ(d.rows.size(), 2u);
  EXPECT_EQ(d.rows[0][1], "7");
  std::vector<std::vector<uint8_t>> both = {plain[0], annexE[0]};
  const std::string g726Path = tempPath("g726.pcap");
  writeCapture(g726Path, both, 5004);
  const Dissection g = dissect(g726Path, "-d udp.port==5004,rtp", {"rtp.p_type", "rtp.seq", "rtp.timestamp"});
  expectClean(g, 2);
  std::remove(path.c_str());
  std::remove(g726Path.c_str());
}

TEST_F(RtpBuildTest, WidebandClocksAndUnmappedPackets) {
  std::vector<std::vector<std::vector<uint8_t>>> plan;
  plan.push_back({framePacket(0x0100 | HAPI_PKT_VC_G711WB_ULAW, 160, bytes(160, 1))});
  plan.push_back({framePacket(0x0100 | HAPI_PKT_VC_G711WB_ULAW, 320, bytes(160, 1))});
  plan.push_back({framePacket(0x0100 | HAPI_PKT_VC_G722_64_MODE_1, 480, bytes(160, 1))});
  plan.push_back({framePacket(0x0100 | 35, 480, bytes(10, 1))});      // not in the map
  plan.push_back({framePacket(0x0500, 480, bytes(10, 1))});           // fax relay: no profile
  plan.push_back({tonePacket(HAPI_PKT_TC_DTMF_ON, 1, 0, 160, 480)});  // no event payload type
  const auto sent = run(plan);
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(tsOf(sent[1]) - tsOf(sent[0]), 320u);
  EXPECT_EQ(tsOf(sent[2]), 0x00010000u + 480);  // G.722 keeps the 8 kHz clock
  EXPECT_EQ(ptOf(sent[2]), 9u);
  EXPECT_EQ(rtp()->stats.cumulative.ingressRtpNoProfileDiscardedPackets, 2);
}

TEST_F(RtpBuildTest, RequestedEventsAndSendingDisabled) {
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.ntePayloadType = 101;
  setRegs(regs);
  clear();
  EXPECT_EQ(command(HAPI_RTP_GEN_NTE_CMD, 149, 0).result, HAPISUCCESS);
  tick();
  auto sent = sentRtp();
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][12], 149);
  EXPECT_EQ(sent[0][14] << 8 | sent[0][15], 0);
  clear();
  EXPECT_EQ(command(HAPI_RTP_GEN_NTE_CMD, 5, 0).result, HAPISUCCESS);
  tick();
  EXPECT_TRUE(sentRtp().empty());  // a digit event has no tone to carry it

  setRegs2(4 | HAPI_RTP_INGRESS_SEND_RTP_PACKETS_DISABLE_MASK);
  clear();
  run({{framePacket(0x0100, 160, bytes(160, 1))}});
  EXPECT_TRUE(sentRtp().empty());
}

TEST_F(RtpBuildTest, MfDigitsBecomeTheirEvents) {
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.ntePayloadType = 101;
  setRegs(regs);
  clear();
  const auto sent = run({{tonePacket(HAPI_PKT_TC_MFR1_ON, 11, 3, 160, 800)},
                         {tonePacket(HAPI_PKT_TC_MFR1_ON, 12, 3, 160, 800)}});
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0][12], 141);
  EXPECT_EQ(sent[1][12], 140);
  EXPECT_EQ(sent[0][14] << 8 | sent[0][15], 0);  // MF events carry no duration
}

}  // namespace

namespace {

// The less common ways out: circuit-switched pass-through, loopback, GR-303 signalling.
TEST_F(RtpBuildTest, PassThroughLoopbackAndSignalling) {
  // Pass-through: the codec's packets leave as they are; an empty tick sends an empty message.
  ASSERT_EQ(command(HAPI_RTP_SET_CSVOICE_CMD, 1, 0).result, HAPISUCCESS);
  clear();
  const std::vector<uint8_t> frame = framePacket(0x0100, 160, bytes(10, 4));
  auto sent = run({{frame}, {}});
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], std::vector<uint8_t>(frame.begin(), frame.begin() + 18));
  EXPECT_TRUE(sent[1].empty());
  ASSERT_EQ(command(HAPI_RTP_SET_CSVOICE_CMD, 0, 0).result, HAPISUCCESS);

  // Mirror loopback: received payloads go back under the loopback type, local packets do not.
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.rtpLoopbackConfigFlags = HAPI_RTP_LOOPBACK_ENABLE_MASK | HAPI_RTP_LOOPBACK_MIRROR_MASK;
  regs.rtpLoopbackPayloadType = 96;
  setRegs(regs);
  clear();
  receive(rtpPacket(8, 7, 800, 0x5555, bytes(20, 1), true));
  sent = run({{framePacket(0x0100, 320, bytes(10, 4))}, {}});
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(ptOf(sent[0]), 96u);
  EXPECT_TRUE(markerOf(sent[0]));
  EXPECT_EQ(std::vector<uint8_t>(sent[0].begin() + 12, sent[0].end()), bytes(20, 1));
  EXPECT_TRUE(world().toCodec.empty());
  // Encapsulated: the receive time and the whole packet travel back.
  regs.rtpLoopbackConfigFlags |= HAPI_RTP_LOOPBACK_ENCAPSULATED_MASK;
  setRegs(regs);
  clear();
  const std::vector<uint8_t> looped = rtpPacket(8, 8, 960, 0x5555, bytes(20, 2), true);
  receive(looped);
  sent = run({{}, {}});
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_FALSE(markerOf(sent[0]));
  ASSERT_EQ(sent[0].size(), 12u + 4 + looped.size());
  EXPECT_EQ(std::vector<uint8_t>(sent[0].begin() + 17, sent[0].end()),
            std::vector<uint8_t>(looped.begin() + 1, looped.end()));
  EXPECT_EQ(sent[0][16], 0x80);

  // GR-303: a new signalling event goes out once, a change three times, then every 5 s.
  regs = rtpRegsDefault();
  regs.ntePayloadType = 101;
  setRegs(regs);
  setRegs2(4 | HAPI_RTP_GR303_NUERA_ENABLE_MASK | HAPI_RTP_RFC2833_KEEP_ALIVE_ENABLE_MASK);
  clear();
  ASSERT_EQ(command(HAPI_RTP_GEN_NTE_CMD, 149, 0).result, HAPISUCCESS);
  tick(3);
  EXPECT_EQ(sentRtp().size(), 1u);
  clear();
  ASSERT_EQ(command(HAPI_RTP_GEN_NTE_CMD, 159, 0).result, HAPISUCCESS);
  tick(3);
  sent = sentRtp();
  ASSERT_EQ(sent.size(), 3u);
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(sent[k][12], 159);
    EXPECT_EQ(markerOf(sent[k]), k == 0);
    EXPECT_EQ(tsOf(sent[k]), tsOf(sent[0]));
  }
  clear();
  tick(1000);
  EXPECT_EQ(sentRtp().size(), 2u);  // 10 s of keep-alive
}

}  // namespace
