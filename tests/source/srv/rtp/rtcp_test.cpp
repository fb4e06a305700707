// RTCP as the service sends and receives it: report timing, sender and receiver reports whose
// fields agree with a recomputation from the packets exchanged, SDES rotation, BYE, XR blocks
// decoded back to the receive pattern, and the reception rules; all dissected by tshark.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <map>

#include "rtp_harness.h"
#include "wire_check.h"

namespace {

using namespace rtptest;

constexpr uint32_t kRemote = 0x0BADF00D;

uint16_t g16(const std::vector<uint8_t>& p, size_t o) { return static_cast<uint16_t>(p[o] << 8 | p[o + 1]); }
uint32_t g32(const std::vector<uint8_t>& p, size_t o) { return uint32_t(g16(p, o)) << 16 | g16(p, o + 2); }

// The packets of a compound report by type.
std::map<unsigned, std::vector<uint8_t>> split(const std::vector<uint8_t>& compound) {
  std::map<unsigned, std::vector<uint8_t>> out;
  size_t pos = 0;
  while (pos + 4 <= compound.size()) {
    const size_t bytes = (g16(compound, pos + 2) + 1u) * 4;
    if (pos + bytes > compound.size()) break;
    out[compound[pos + 1]] = std::vector<uint8_t>(compound.begin() + pos, compound.begin() + pos + bytes);
    pos += bytes;
  }
  EXPECT_EQ(pos, compound.size());
  return out;
}

class RtcpTest : public RtpTest {
 protected:
  void SetUp() override {
    RtpTest::SetUp();
    world().randoms = {0x1111, 0x2222, 0x0100, 0x0000, 0x0000};
  }
  std::vector<uint8_t> ulaw(size_t n) { return std::vector<uint8_t>(n, 0x55); }
};

// Frames (counted from the session start) in which a report left.
std::vector<int> reportFrames(RtpTest& t, int frames, const std::function<void(int)>& each) {
  std::vector<int> out;
  for (int f = 0; f < frames; ++f) {
    const size_t before = world().host.size();
    each(f);
    for (size_t i = before; i < world().host.size(); ++i) {
      if (world().host[i].mask == 0x1000) out.push_back(f);
    }
  }
  (void)t;
  return out;
}

TEST_F(RtcpTest, ReceiveOnlySendsReceiverReportsOneIntervalApart) {
  startSession();  // the first report leaves at once
  ASSERT_EQ(sentRtcp().size(), 1u);
  uint16_t seq = 100;
  const std::vector<int> frames = reportFrames(*this, 1000, [&](int f) {
    if (f % 2 == 0) receive(rtpPacket(0, seq, 160u * seq, kRemote, ulaw(160)));
    ++seq;
    tick();
  });
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1] - frames[0], 500);  // 5000 ms in 10 ms frames
  const auto reports = sentRtcp();
  const auto first = split(reports[0]);
  ASSERT_TRUE(first.count(201));
  EXPECT_EQ(first.at(201)[0], 0x80);  // nothing received yet: no block
  EXPECT_EQ(first.at(201).size(), 8u);
  const auto second = split(reports[1]);
  ASSERT_TRUE(second.count(201));
  EXPECT_EQ(second.at(201)[0], 0x81);
  EXPECT_EQ(second.at(201).size(), 32u);
  EXPECT_EQ(g32(second.at(201), 8), kRemote);
  ASSERT_TRUE(second.count(202));
}

TEST_F(RtcpTest, SendOnlySendsSenderReportsWithoutABlock) {
  startSession();
  clear();
  world().ntpMicros = 999999;  // the largest fraction: must not wrap past 2^32
  const std::vector<int> frames = reportFrames(*this, 510, [&](int f) {
    sendNext({framePacket(0x0100, 80u * f, ulaw(80))});
    tick();
  });
  ASSERT_EQ(frames.size(), 1u);
  const auto sr = split(sentRtcp()[0]).at(200);
  EXPECT_EQ(sr.size(), 28u);
  EXPECT_EQ(g16(sr, 2), 6);
  EXPECT_EQ(g32(sr, 4), 0x11112222u);
  EXPECT_EQ(g32(sr, 20), static_cast<uint32_t>(frames[0] + 1));  // packets sent up to the report
  EXPECT_EQ(g32(sr, 24), 80u * (frames[0] + 1));
  EXPECT_EQ(g32(sr, 8), world().ntpSeconds);
  EXPECT_EQ(g32(sr, 12), static_cast<uint32_t>((uint64_t{999999} << 32) / 1000000));
}

// Randomised intervals take the second of two draws: from half to one and a half intervals.
TEST_F(RtcpTest, RandomisedIntervalsUseTheSecondDraw) {
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.configFlags |= HAPI_RTP_INGRESS_RANDOMIZE_RTCP_INTERVAL_MASK;
  setRegs(regs);
  world().randoms.insert(world().randoms.end(), {0xFFFF, 0x0000});  // discarded, then 0
  startSession();
  EXPECT_EQ(rtp()->rtcpSendTriggerTimer, ((4990u * 16383) >> 15) - 10);  // one frame after the report
}

// ---- a two-way call: every report field recomputed from the packets ----

struct Reference {  // RFC 3550 A.1 and A.8, from the RFC
  bool started = false;
  uint16_t maxSeq = 0;
  uint32_t cycles = 0, baseSeq = 0, received = 0, expectedPrior = 0, receivedPrior = 0;
  uint32_t jitter16 = 0;
  bool haveTransit = false;
  int32_t transit = 0;
  void packet(uint16_t seq, uint32_t arrival, uint32_t ts) {
    if (!started) {
      started = true;
      baseSeq = maxSeq = seq;
    } else if (static_cast<uint16_t>(seq - maxSeq) < 3000) {
      if (seq < maxSeq) cycles += 65536;
      maxSeq = seq;
    }
    ++received;
    const int32_t t = static_cast<int32_t>(arrival - ts);
    if (haveTransit)
      jitter16 += static_cast<uint32_t>(std::abs(int64_t(t) - transit)) - ((jitter16 + 8) >> 4);
    transit = t;
    haveTransit = true;
  }
};

TEST_F(RtcpTest, ReportFieldsAgreeWithARecomputationFromThePackets) {
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.configFlags |= HAPI_RTP_INGRESS_SEND_RTCP_XR_PACKETS_ENABLE_MASK;
  regs.cnameLength = 9;
  std::memcpy(regs.cname, "gw1@voice", 9);
  regs.nameLength = 4;
  std::memcpy(regs.name, "Line", 4);
  setRegs(regs);
  startSession();
  clear();  // the first report, before anything was exchanged
  Reference ref;
  std::vector<std::vector<uint8_t>> sentMedia;
  std::vector<std::pair<size_t, std::vector<uint8_t>>> reports;  // with the media sent before each
  uint32_t rng = 99;
  uint16_t seq = 65500;
  size_t payloadBytes = 0;
  for (int f = 0; f < 2000; ++f) {
    sendNext({framePacket(0x0100, 80u * f, ulaw(80))});
    // Incoming: one packet per frame with jittery time stamps; every ninth lost; some reordered.
    rng = rng * 1664525u + 1013904223u;
    if (f % 9 != 4) {
      const uint32_t ts = 80u * f - ((rng >> 24) & 31);
      receive(rtpPacket(0, seq, ts, kRemote, ulaw(80)));
      tick();
      ref.packet(seq, rtp()->localTimestamp, ts);
    } else {
      tick();
    }
    ++seq;
    for (const HostMsg& m : world().host) {
      if (m.mask == 0x800) {
        sentMedia.push_back(m.data);
        payloadBytes += m.data.size() - 12;
      }
      if (m.mask == 0x1000) {
        reports.emplace_back(sentMedia.size(), m.data);
        const auto parts = split(m.data);
        ASSERT_TRUE(parts.count(200));
        const std::vector<uint8_t>& sr = parts.at(200);
        EXPECT_EQ(g32(sr, 20), sentMedia.size());
        EXPECT_EQ(g32(sr, 24), payloadBytes);
        if (sr[0] == 0x81) {
          // Loss and jitter as the RFC computes them for this interval.
          const uint32_t expected = ref.cycles + ref.maxSeq + 1 - ref.baseSeq;
          const int32_t lost = static_cast<int32_t>(expected - ref.received);
          const uint32_t expInt = expected - ref.expectedPrior;
          const uint32_t recInt = ref.received - ref.receivedPrior;
          ref.expectedPrior = expected;
          ref.receivedPrior = ref.received;
          const int32_t lostInt = static_cast<int32_t>(expInt - recInt);
          const uint32_t fraction = (expInt == 0 || lostInt <= 0) ? 0 : (uint32_t(lostInt) << 8) / expInt;
          EXPECT_EQ(g32(sr, 28), kRemote);
          EXPECT_EQ(sr[32], fraction);
          EXPECT_EQ(g32(sr, 32) & 0xFFFFFF, static_cast<uint32_t>(lost) & 0xFFFFFF);
          EXPECT_EQ(g32(sr, 36), ref.cycles + ref.maxSeq);
          EXPECT_EQ(g32(sr, 40), ref.jitter16 >> 4);
        }
      }
    }
    clear();
  }
  ASSERT_EQ(reports.size(), 4u);
  EXPECT_GT(ref.cycles, 0u);

  // The independent dissector takes the compound reports as they are.
  if (!tsharkAvailable()) GTEST_SKIP() << "tshark not installed";
  std::vector<std::vector<uint8_t>> compounds;
  for (const auto& r : reports) compounds.push_back(r.second);
  const std::string path = tempPath("rtcp.pcap");
  writeCapture(path, compounds, 5005);
  const Dissection d =
      dissect(path, "-d udp.port==5005,rtcp",
              {"rtcp.pt", "rtcp.sender.packetcount", "rtcp.ssrc.fraction", "rtcp.ssrc.cum_nr",
               "rtcp.ssrc.jitter", "rtcp.sdes.text", "rtcp.xr.bt", "rtcp.xr.voipmetrics.moslq"});
  EXPECT_EQ(d.frames, 4);
  EXPECT_EQ(d.malformed, 0);
  for (size_t k = 0; k < d.rows.size(); ++k) {
    EXPECT_EQ(d.rows[k][0], "200,202,207") << k;
    EXPECT_EQ(d.rows[k][1], std::to_string(reports[k].first));
    EXPECT_EQ(d.rows[k][6], "1,2,3,4,5,6,7") << k;
  }
  // Reports 2 to 5 of the session: the fourth of the session (three sent before it) names the line.
  EXPECT_EQ(d.rows[0][5], "gw1@voice");
  EXPECT_EQ(d.rows[2][5], "gw1@voice,Line");
  EXPECT_EQ(d.rows[3][5], "gw1@voice");
  std::remove(path.c_str());
}

// A codec whose RTP clock runs at 16 kHz (G.722.1): the interarrival jitter is counted in its
// own clock's units, the arrival times doubled from the engine's 8 kHz count, and reported so.
TEST_F(RtcpTest, JitterOfA16kHzCodecIsReportedInItsOwnClock) {
  constexpr unsigned kPayloadType = 120;
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.mediaEgressPayloadTypeMap[28] = HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(kPayloadType, HAPI_PKT_VC_G7221_24);
  setRegs(regs);
  startSession();
  clear();
  Reference ref;
  uint32_t rng = 5;
  int checked = 0;
  for (int f = 0; f < 1200; ++f) {
    rng = rng * 1664525u + 1013904223u;
    const uint32_t ts = 160u * f - ((rng >> 24) & 63);  // 10 ms frames at 16 kHz, up to 4 ms early
    receive(rtpPacket(kPayloadType, static_cast<uint16_t>(f), ts, kRemote, ulaw(60)));
    tick();
    ref.packet(static_cast<uint16_t>(f), 2 * rtp()->localTimestamp, ts);
    for (const HostMsg& m : world().host) {
      if (m.mask != 0x1000) continue;
      const auto parts = split(m.data);
      ASSERT_TRUE(parts.count(201));  // nothing sent: receiver reports
      const std::vector<uint8_t>& rr = parts.at(201);
      ASSERT_EQ(rr[0], 0x81);
      EXPECT_EQ(g32(rr, 8), kRemote);
      EXPECT_EQ(g32(rr, 20), ref.jitter16 >> 4);
      ++checked;
    }
    clear();
  }
  EXPECT_GE(checked, 2);
  EXPECT_GT(ref.jitter16 >> 4, 20u);  // a jitter the 8 kHz count would halve
}

// ---- XR blocks against an independent reading of RFC 3611 ----

// Decodes run-length chunks into one bit per sequence number.
std::vector<int> decodeChunks(const std::vector<uint8_t>& block, size_t bits) {
  std::vector<int> out;
  for (size_t o = 12; o + 2 <= block.size(); o += 2) {
    const uint16_t c = g16(block, o);
    if (c == 0) continue;  // null chunk
    if (c & 0x8000) {
      for (int b = 14; b >= 0; --b) out.push_back((c >> b) & 1);
    } else {
      out.insert(out.end(), c & 0x3FFF, (c >> 14) & 1);
    }
  }
  if (out.size() > bits) {
    for (size_t i = bits; i < out.size(); ++i) EXPECT_EQ(out[i], 0) << "bit beyond the window";
    out.resize(bits);
  }
  return out;
}

// RFC 3611 appendix A.2 as the RFC writes it.
struct BurstGap {
  double pkt = 0, lost = 0, c11 = 0, c13 = 0, c14 = 0, c22 = 0, c23 = 0, c33 = 0;
  void packet(bool received) {
    const double gmin = 16;
    if (received) {
      pkt++;
      return;
    }
    if (pkt >= gmin) {
      if (lost == 1)
        c14++;
      else
        c13++;
      lost = 1;
      c11 += pkt;
    } else {
      lost++;
      if (pkt == 0)
        c33++;
      else {
        c23++;
        c22 += pkt - 1;
      }
    }
    pkt = 0;
  }
  void metrics(double ms, double* burstDensity, double* gapDensity, double* burstLength,
               double* gapLength) const {
    const double c31 = c13, c32 = c23;
    const double ctotal = c11 + c14 + c13 + c22 + c23 + c31 + c32 + c33;
    const double p32 = c32 / (c31 + c32 + c33);
    const double p23 = (c22 + c23) < 1 ? 1 : 1 - c22 / (c22 + c23);
    *burstDensity = 256 * p23 / (p23 + p32);
    *gapDensity = 256 * c14 / (c11 + c14);
    *gapLength = (c11 + c14 + c13) * ms / c13;
    *burstLength = ctotal * ms / c13 - *gapLength;
  }
};

TEST_F(RtcpTest, XrBlocksDecodeBackToTheReceivePattern) {
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.configFlags |= HAPI_RTP_INGRESS_SEND_RTCP_XR_PACKETS_ENABLE_MASK;
  regs.rtcpXrReceiptTimesThinning = 2;
  setRegs(regs);
  startSession();
  clear();
  // Pattern: mostly received, a burst of losses, scattered losses and a few duplicates.
  std::vector<int> received;
  std::vector<int> duplicated;
  BurstGap a2;
  const uint16_t first = 1000;
  for (int i = 0; i < 330; ++i) {
    const bool lost = (i >= 40 && i < 44) || i % 37 == 0 || (i >= 100 && i < 110 && i % 2 == 0);
    received.push_back(lost ? 0 : 1);
    duplicated.push_back(!lost && i % 50 == 7 ? 1 : 0);
  }
  received[0] = 1;
  for (int i = 0; i < 330; ++i) {
    sendNext({framePacket(0x0100, 80u * i, ulaw(80))});  // G.711 the other way
    if (received[i]) {
      receive(rtpPacket(0, static_cast<uint16_t>(first + i), 160u * i, kRemote, ulaw(160)));
      if (duplicated[i])
        receive(rtpPacket(0, static_cast<uint16_t>(first + i), 160u * i, kRemote, ulaw(160)));
    }
    if (i == 10) {
      // A 20 ms codec, G.711 (code 0), on an echo canceller with noise at -70 dBm.
      world().controlBlocks.push_back(
          {0x8840, {0, 0, 0, 0, 0, 0, 0, 0, 160, 0, 0, 0, 0, 0, 0, 0, 1, 0, 3, 0, 0, 0}});
      world().controlBlocks.push_back({0x8841, {0xD8, 0xFF, 0xBA, 0xFF, 0xEC, 0xFF}});
    }
    tick();
  }
  // The report closes the window 200 ms ahead; run to it.
  std::vector<uint8_t> xr;
  for (int f = 0; f < 600 && xr.empty(); ++f) {
    tick();
    for (const auto& c : sentRtcp()) {
      const auto parts = split(c);
      if (parts.count(207)) xr = parts.at(207);
    }
  }
  ASSERT_FALSE(xr.empty());
  std::map<unsigned, std::vector<uint8_t>> blocks;
  for (size_t pos = 8; pos + 4 <= xr.size();) {
    const size_t bytes = (g16(xr, pos + 2) + 1u) * 4;
    blocks[xr[pos]] = std::vector<uint8_t>(xr.begin() + pos, xr.begin() + pos + bytes);
    pos += bytes;
  }
  ASSERT_EQ(blocks.size(), 7u);
  EXPECT_EQ(g16(blocks[1], 8), first);
  EXPECT_EQ(g16(blocks[1], 10), first + 330);
  EXPECT_EQ(decodeChunks(blocks[1], 330), received);
  EXPECT_EQ(decodeChunks(blocks[2], 330), duplicated);
  for (size_t o = 12; o + 2 <= blocks[1].size(); o += 2) {
    const uint16_t c = g16(blocks[1], o);
    if ((c & 0xC000) == 0 && c > 15) {
      ADD_FAILURE() << "a run of zeros longer than the losses";
    }
  }
  // Receipt times: sequence numbers divisible by 4 in the window.
  EXPECT_EQ(blocks[3][1], 2);
  EXPECT_EQ(g16(blocks[3], 2), ((first + 329) / 4 * 4 - first) / 4 + 1 + 2);
  // Statistics summary: losses and duplicates counted.
  int losses = 0;
  for (int r : received) losses += r == 0;
  EXPECT_EQ(g32(blocks[6], 12), static_cast<uint32_t>(losses));
  EXPECT_EQ(g32(blocks[6], 16), 7u);
  // Burst and gap metrics as appendix A.2 computes them (20 ms per frame).
  for (int r : received) a2.packet(r != 0);
  double bd = 0, gd = 0, bl = 0, gl = 0;
  a2.metrics(20, &bd, &gd, &bl, &gl);
  const std::vector<uint8_t>& v = blocks[7];
  EXPECT_NEAR(v[10], std::min(255.0, bd), 1.0);
  EXPECT_NEAR(v[11], std::min(255.0, gd), 1.0);
  EXPECT_NEAR(g16(v, 12), bl, 1.0);
  EXPECT_NEAR(g16(v, 14), gl, 1.0);
  EXPECT_EQ(v[21], static_cast<uint8_t>(-70));
  EXPECT_EQ(v[23], 16);
  EXPECT_EQ(v[25], 127);
  EXPECT_EQ(v[28], 0x33);  // adaptive, rate 3
  // End-system delay: 20 ms frames + 0 jitter buffer + 24 ms for G.711.
  EXPECT_EQ(g16(v, 18), 44);
  // The quality estimate against the E-model's own formulas: R = 96 - loss impairment (Ie 0,
  // Bpl 4), no delay impairment below 163 ms, MOS = 1 + 0.035 R + 7e-6 R (R - 60) (100 - R).
  const int ppl = v[8];
  ASSERT_GT(ppl, 0);
  const double r = 96 - ppl * 95.0 / (ppl + 4);
  EXPECT_NEAR(v[24], r, 1.0);
  const double mos = 1 + 0.035 * r + 7e-6 * r * (r - 60) * (100 - r);
  EXPECT_NEAR(v[26], 10 * mos, 1.0);
  EXPECT_NEAR(v[27], 10 * mos, 1.0);
  EXPECT_EQ(rtp()->stats.session.MOScq, v[27]);
  EXPECT_EQ(rtp()->stats.session.localVoipMetricsStats.uRFactor, v[24]);

  if (!tsharkAvailable()) GTEST_SKIP() << "tshark not installed";
  const std::string path = tempPath("xr.pcap");
  writeCapture(path, sentRtcp(), 5005);
  const Dissection d = dissect(path, "-d udp.port==5005,rtcp", {"rtcp.xr.bt"});
  EXPECT_EQ(d.malformed, 0);
  std::remove(path.c_str());
}

TEST_F(RtcpTest, QualityEstimateWorkedValues) {
  EXPECT_EQ(rToMos(101), 45);
  EXPECT_EQ(rToMos(-5), 10);
  // G.711, no loss, noise -70 dBm, one-way delay 150 ms: R 96, MOS-CQ 4.4.
  RtcpXrQuality q = rtcpXrQuality(0, 0, -70, 0, 150, 75, 75);
  EXPECT_EQ(q.rFactor, 96);
  EXPECT_EQ(q.mosCq, 44);
  EXPECT_EQ(q.mosLq, 44);
  // G.726-32 has no loss robustness figure: not available whatever the loss.
  q = rtcpXrQuality(4, 0, -70, 0, 0, 0, 0);
  EXPECT_EQ(q.rFactor, 127);
  EXPECT_EQ(q.mosLq, 127);
  EXPECT_EQ(q.mosCq, 127);
  // A delay of 600 ms costs 36.
  q = rtcpXrQuality(0, 0, -70, 0, 600, 300, 300);
  EXPECT_EQ(q.rFactor, 96 - 36);
  // Loss through the robustness column: G.711 with 10 % loss (26/256), column 0 (Bpl 4).
  q = rtcpXrQuality(0, 26, -70, 0, 0, 0, 0);
  EXPECT_EQ(q.rFactor, 96 - 26 * 95 / 30);
  q = rtcpXrQuality(0, 26, -70, 1, 0, 0, 0);
  EXPECT_EQ(q.rFactor, 96 - 26 * 95 / 60);
}

// ---- reception ----

std::vector<uint8_t> receiverReportFrom(uint32_t ssrc, uint32_t about, uint32_t lsr, uint32_t dlsr) {
  std::vector<uint8_t> p = {0x81, 201, 0, 7};
  auto put = [&p](uint32_t v) {
    for (int i = 3; i >= 0; --i) p.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  put(ssrc);
  put(about);
  put(0);
  put(0);
  put(0);
  put(lsr);
  put(dlsr);
  return p;
}

TEST_F(RtcpTest, RoundTripFromReportsOnTheSameClockAsOurSenderReports) {
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.configFlags |= HAPI_RTP_EGRESS_SEND_RTCP_PACKETS_TO_HOST_ENABLE_MASK;
  setRegs(regs);
  startSession();
  const uint32_t local = 0x11112222;
  world().ntpSeconds = 3900000000u;
  world().ntpMicros = 0;
  const uint32_t lsr = (3900000000u << 16);
  // Received 250 ms after our report, of which the far end held it 100 ms: 150 ms round trip.
  world().ntpMicros = 250000;
  receive(receiverReportFrom(kRemote, local, lsr, 6554));  // 100 ms in 1/65536 s
  tick();
  EXPECT_EQ(rtp()->remoteSourceInfo.rtcpXrInfo.roundTripDelay, 150);
  const uint32_t latency = rtp()->stats.session.ingressRtpLatencyLow;
  EXPECT_NEAR(latency, 1200, 1);
  EXPECT_EQ(rtp()->stats.session.remoteSSRC, kRemote);
  // An LSR of 0 changes nothing; 3 s sets the XR delay only.
  receive(receiverReportFrom(kRemote, local, 0, 6554));
  tick();
  EXPECT_EQ(rtp()->stats.session.ingressRtpLatencyLow, latency);
  world().ntpSeconds += 3;
  receive(receiverReportFrom(kRemote, local, lsr, 6554));
  tick();
  EXPECT_EQ(rtp()->stats.session.ingressRtpLatencyLow, latency);
  EXPECT_EQ(rtp()->remoteSourceInfo.rtcpXrInfo.roundTripDelay, 3150);
  EXPECT_EQ(events(HAPI_RTP_EGRESS_RTCP_REPORT_EVT).size(), 3u);
}

TEST_F(RtcpTest, MalformedCompoundsAreReportedAndNotForwarded) {
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.configFlags |= HAPI_RTP_EGRESS_SEND_RTCP_PACKETS_TO_HOST_ENABLE_MASK |
                      HAPI_RTP_EGRESS_ACCEPT_RTCP_BYE_PACKET_ENABLE_MASK;
  setRegs(regs);
  startSession();
  clear();
  std::vector<uint8_t> compound = receiverReportFrom(kRemote, 0, 0, 0);
  const std::vector<uint8_t> second = {0x41, 203, 0, 1, 0, 0, 0, 1};  // version 1
  compound.insert(compound.end(), second.begin(), second.end());
  receive(compound, 0x1000);
  tick();
  ASSERT_EQ(events(HAPI_RTP_EGRESS_ERROR_EVT).size(), 1u);
  EXPECT_EQ(events(HAPI_RTP_EGRESS_ERROR_EVT)[0].op1, 4);
  EXPECT_TRUE(events(HAPI_RTP_EGRESS_RTCP_REPORT_EVT).empty());
  // A length word that claims more than arrived.
  std::vector<uint8_t> longer = receiverReportFrom(kRemote, 0, 0, 0);
  longer[3] = 40;
  receive(longer, 0x1000);
  tick();
  EXPECT_EQ(events(HAPI_RTP_EGRESS_ERROR_EVT).back().op1, 1);
  EXPECT_TRUE(events(HAPI_RTP_EGRESS_RTCP_REPORT_EVT).empty());
  // A BYE goes to the host whole; RTCP on the RTP mask is recognised by its type.
  receive({0x81, 203, 0, 1, 0x0B, 0xAD, 0xF0, 0x0D});
  tick();
  ASSERT_EQ(events(HAPI_RTP_BYE_EVT).size(), 1u);
  EXPECT_EQ(events(HAPI_RTP_BYE_EVT)[0].data.size(), 8u);
  EXPECT_EQ(events(HAPI_RTP_EGRESS_ERROR_EVT).back().op1, 0);  // cleared by the good compound
  // XR from a source other than the remote one is ignored entirely.
  const uint32_t before = rtp()->stats.cumulative.egressRtcpXrPackets;
  receive({0x80, 207, 0, 4, 1, 2, 3, 4, 4, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 2}, 0x1000);
  tick();
  EXPECT_EQ(rtp()->stats.cumulative.egressRtcpXrPackets, before);
}

TEST_F(RtcpTest, StoppingWithByeSendsALastReportAndChangesTheSource) {
  HAPI_RTP_REGS regs = rtpRegsDefault();
  regs.configFlags |= HAPI_RTP_INGRESS_GENERATE_RTCP_BYE_PACKET_ENABLE_MASK;
  setRegs(regs);
  startSession();
  tick(3);
  clear();
  world().randoms = {0x7777, 0x8888};
  ASSERT_EQ(command(HAPI_RTP_SETMODE_CMD, 0, 0).result, HAPISUCCESS);
  tick(2);
  const auto reports = sentRtcp();
  ASSERT_EQ(reports.size(), 1u);
  const auto parts = split(reports[0]);
  ASSERT_TRUE(parts.count(203));
  EXPECT_EQ(g32(parts.at(203), 4), 0x11112222u);
  EXPECT_EQ(rtp()->state.higherLocalSsrc, 0x7777);
  tick(600);
  EXPECT_EQ(sentRtcp().size(), 1u);  // stopped: no more reports
}

}  // namespace
