// Received RTP as the codec service gets it: errors reported once per change, every length bounded
// by what arrived, payloads in the engine's form, telephone events and redundancy unpacked, and
// the RFC 3550 sequence and jitter bookkeeping checked against an independent implementation.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "rtp_egress.h"
#include "rtp_harness.h"

namespace {

using namespace rtptest;

constexpr uint32_t kRemote = 0xA1B2C3D4;

class RtpParseTest : public RtpTest {
 protected:
  void SetUp() override {
    RtpTest::SetUp();
    HAPI_RTP_REGS regs = rtpRegsDefault();
    regs.configFlags |= HAPI_RTP_QOS_EVENT_ENABLE_MASK;
    regs.configFlags &= ~HAPI_RTP_INGRESS_SEND_RTCP_PACKETS_ENABLE_MASK;  // nothing sent: RTCP apart
    // Types the default maps do not use for media.
    regs.nteEgressPayloadType = 126;
    regs.rfc2198EgressPayloadType = 127;
    setRegs(regs);
    startSession();
    clear();
  }
  void in(const std::vector<uint8_t>& p) {
    receive(p);
    tick();
  }
  std::vector<uint16_t> errors() const {
    std::vector<uint16_t> out;
    for (const HostMsg& m : events(HAPI_RTP_EGRESS_ERROR_EVT)) out.push_back(m.op1);
    return out;
  }
  uint32_t discarded() {
    return (uint32_t(rtp()->stats.cumulative.egressRtpDiscardedPacketsHigh) << 16) |
           rtp()->stats.cumulative.egressRtpDiscardedPacketsLow;
  }
};

std::vector<uint8_t> ulaw(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i);
  return v;
}

TEST_F(RtpParseTest, ErrorsAreReportedOncePerChange) {
  in({0x80, 0x00, 0x01});
  in(rtpPacket(0, 1, 160, kRemote, ulaw(160, 0)));
  in({0x80, 0x00, 0x01});
  in({0x40, 0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 1});  // version 1
  in(rtpPacket(77, 3, 480, kRemote, ulaw(20, 0)));
  in(rtpPacket(77, 4, 640, kRemote, ulaw(20, 0)));
  in(rtpPacket(77, 5, 800, kRemote, ulaw(20, 0)));
  EXPECT_EQ(errors(), (std::vector<uint16_t>{1, 0, 1, 4, 2}));
  EXPECT_EQ(discarded(), 6u);
  EXPECT_EQ(world().toCodec.size(), 1u);
}

TEST_F(RtpParseTest, EveryPartOfThePacketIsBoundedByItsLength) {
  const std::vector<uint8_t> good = rtpPacket(0, 10, 1600, kRemote, ulaw(16, 0));
  std::vector<std::vector<uint8_t>> bad;
  std::vector<uint8_t> p = good;
  p[0] = 0x85;  // five CSRCs: 20 bytes, only 16 there
  bad.push_back(p);
  p = good;
  p[0] = 0x90;  // an extension whose length word claims 100 words
  p[14] = 0;
  p[15] = 100;
  bad.push_back(p);
  p = good;
  p[0] = 0xA0;  // padding: the count equals the payload
  p.back() = 16;
  bad.push_back(p);
  p = good;
  p[0] = 0xA0;
  p.back() = 200;  // more than the packet
  bad.push_back(p);
  // Redundancy: a block header claiming more bytes than follow, and headers without a primary.
  bad.push_back(rtpPacket(127, 11, 1760, kRemote, {0x80, 0x00, 0xA0, 0x28, 0x00, 1, 2, 3}));
  bad.push_back(rtpPacket(127, 12, 1920, kRemote, {0x80, 0x00, 0xA0, 0x00}));
  for (const auto& b : bad) in(b);
  EXPECT_TRUE(world().toCodec.empty());
  EXPECT_EQ(discarded(), bad.size());
  EXPECT_EQ(errors(), std::vector<uint16_t>{1});
  // With a valid extension and CSRCs the payload is found behind them.
  const uint8_t csrcAndExt[] = {0, 0, 0, 9, 0xBE, 0xDE, 0, 1, 1, 2, 3, 4};
  std::vector<uint8_t> withExt(good.size() + sizeof(csrcAndExt));
  std::memcpy(withExt.data(), good.data(), 12);
  std::memcpy(withExt.data() + 12, csrcAndExt, sizeof(csrcAndExt));
  std::memcpy(withExt.data() + 12 + sizeof(csrcAndExt), good.data() + 12, good.size() - 12);
  withExt[0] = 0x91;
  in(withExt);
  ASSERT_EQ(world().toCodec.size(), 1u);
  EXPECT_EQ(world().toCodec[0].hdr.payloadLength, 16);
  // Padding within bounds is stripped.
  p = good;
  p[0] = 0xA0;
  p.back() = 4;
  in(p);
  ASSERT_EQ(world().toCodec.size(), 2u);
  EXPECT_EQ(world().toCodec[1].hdr.payloadLength, 12);
}

TEST_F(RtpParseTest, PayloadsReachTheCodecInTheEngineForm) {
  in(rtpPacket(0, 100, 0x12345678, kRemote, ulaw(5, 1)));
  ASSERT_EQ(world().toCodec.size(), 1u);
  const CodecPacket& v = world().toCodec[0];
  EXPECT_EQ(v.hdr.payloadID, 0x0100);
  EXPECT_EQ(v.hdr.payloadLength, 5);
  EXPECT_EQ(v.hdr.payloadOffset, 8);
  EXPECT_EQ(v.hdr.payloadTimeStampLow, 0x5678);
  EXPECT_EQ(v.payload[0], 2);  // host-order words
  EXPECT_EQ(v.payload[1], 1);
  EXPECT_EQ(v.payload[3], 3);
  // Comfort noise levels, events and their digits.
  in(rtpPacket(13, 101, 0x12345678 + 160, kRemote, {5}));
  in(rtpPacket(13, 102, 0x12345678 + 320, kRemote, {46, 1, 2}));
  in(rtpPacket(126, 103, 1000, kRemote, {9, 10, 0, 160}));
  in(rtpPacket(126, 104, 1000, kRemote, {9, 0x8A, 1, 64}));
  in(rtpPacket(126, 105, 2000, kRemote, {139, 10, 0, 160}));
  in(rtpPacket(126, 106, 2000, kRemote, {140, 10, 0, 160}));
  in(rtpPacket(126, 107, 2000, kRemote, {141, 0x8A, 0, 160}));
  const auto& c = world().toCodec;
  ASSERT_EQ(c.size(), 7u);
  EXPECT_EQ(c[1].hdr.payloadID, 0x0251);
  EXPECT_EQ(c[1].payload[0], 0);
  EXPECT_EQ(c[2].payload[1], 40);  // word-held: the level is in the high half
  HAPI_PKT_TONEPAYLOAD t{};
  std::memcpy(&t, c[3].payload.data(), 4);
  EXPECT_EQ(c[3].hdr.payloadID, 0x0300);
  EXPECT_EQ(t.digitpwrlevel, 9 << 8 | 10);
  EXPECT_EQ(t.duration, 160);
  std::memcpy(&t, c[4].payload.data(), 4);
  EXPECT_EQ(c[4].hdr.payloadID, 0x0301);
  EXPECT_EQ(t.duration, 320);
  EXPECT_EQ(c[5].hdr.payloadID, 0x0302);
  EXPECT_EQ(c[5].payload[1], 12);
  EXPECT_EQ(c[6].hdr.payloadID, 0x0303);
  EXPECT_EQ(c[6].payload[1], 11);
  const auto dtmf = events(HAPI_RTP_EGRESS_DTMF_EVT);
  ASSERT_EQ(dtmf.size(), 4u);  // start/end of 9, start of MF 12, end of MF 11
  EXPECT_EQ(dtmf[0].op1, 1);
  EXPECT_EQ(dtmf[0].op2, 9);
  EXPECT_EQ(dtmf[1].op1, 0);
  EXPECT_EQ(discarded(), 1u);  // event 139
}

// An RFC 2198 payload: block headers, the primary's header, the blocks' data, the primary.
std::vector<uint8_t> red(const std::vector<std::pair<uint32_t, std::vector<uint8_t>>>& blocks,
                         const std::vector<uint8_t>& primary) {
  std::vector<uint8_t> out;
  for (const auto& [offset, data] : blocks) {
    const uint32_t h = 0x80000000u | offset << 10 | static_cast<uint32_t>(data.size());
    for (int i = 3; i >= 0; --i) out.push_back(static_cast<uint8_t>(h >> (8 * i)));
  }
  out.push_back(0);
  for (const auto& b : blocks) out.insert(out.end(), b.second.begin(), b.second.end());
  out.insert(out.end(), primary.begin(), primary.end());
  return out;
}

TEST_F(RtpParseTest, RedundantBlocksAlreadySeenAreSkipped) {
  const std::vector<uint8_t> a(8, 1), b(4, 2), c(2, 3), d(2, 4), e(6, 5);
  in(rtpPacket(127, 1, 160, kRemote, red({}, a)));
  // The block repeats the primary at 160, already delivered: only the primary comes through.
  in(rtpPacket(127, 2, 320, kRemote, red({{160, a}}, b)));
  // Both blocks seen.
  in(rtpPacket(127, 3, 480, kRemote, red({{320, a}, {160, b}}, c)));
  // The block for 640 was lost with its own packet: it is delivered before the primary.
  in(rtpPacket(127, 5, 800, kRemote, red({{320, c}, {160, d}}, e)));
  const auto& got = world().toCodec;
  ASSERT_EQ(got.size(), 5u);
  const uint16_t stamps[5] = {160, 320, 480, 640, 800};
  const size_t lengths[5] = {8, 4, 2, 2, 6};
  for (size_t k = 0; k < 5; ++k) {
    EXPECT_EQ(got[k].hdr.payloadTimeStampLow, stamps[k]) << k;
    EXPECT_EQ(got[k].hdr.payloadLength, lengths[k]) << k;
  }
  // With redundancy dropped only primaries come through.
  HAPI_RTP_REGS regs = rtp()->regs;
  regs.configFlags |= HAPI_RTP_EGRESS_DROP_REDUNDANT_PAYLOAD_MASK;
  setRegs(regs);
  clear();
  in(rtpPacket(127, 7, 1120, kRemote, red({{160, d}}, e)));
  ASSERT_EQ(world().toCodec.size(), 1u);
  EXPECT_EQ(world().toCodec[0].hdr.payloadTimeStampLow, 1120);
}

TEST_F(RtpParseTest, AnotherSourceIsFollowedOnlyOnceThePlayedOneStops) {
  in(rtpPacket(0, 1, 160, kRemote, ulaw(8, 1)));
  in(rtpPacket(0, 2, 320, kRemote, ulaw(8, 1)));
  // A stranger in sequence, interleaved with the live stream: none of it is played, all of it is
  // counted as discarded, and the played source's counts and decoder are left alone.
  constexpr uint32_t kOther = 0x01020304;
  for (uint16_t k = 0; k < 6; ++k) {
    in(rtpPacket(0, static_cast<uint16_t>(500 + 2 * k), 7000 + 320u * k, kOther, ulaw(8, 9)));
    in(rtpPacket(0, static_cast<uint16_t>(501 + 2 * k), 7160 + 320u * k, kOther, ulaw(8, 9)));
    in(rtpPacket(0, static_cast<uint16_t>(3 + k), 480 + 160u * k, kRemote, ulaw(8, 1)));
  }
  EXPECT_TRUE(world().codecCmds.empty());
  EXPECT_EQ(discarded(), 12u);
  EXPECT_EQ(world().toCodec.size(), 8u);
  for (const auto& m : world().toCodec) EXPECT_EQ(m.payload, world().toCodec[0].payload);
  EXPECT_EQ(rtp()->remoteSourceInfo.received, 8u);
  EXPECT_EQ(rtp()->state.lowerRemoteSsrc, kRemote & 0xFFFF);
  // The played source stops (a far end restarting its stream): the new one is followed from its
  // second packet in sequence, the decoder flushed and the counts restarted. Two packets with a
  // gap between them are not a sequence.
  for (int n = 0; n < 1000 && rtp()->samplesSinceSourcePacket < RTP_SOURCE_HOLD_SAMPLES; ++n) tick();
  in(rtpPacket(0, 900, 99999, kOther, ulaw(8, 1)));
  in(rtpPacket(0, 902, 100319, kOther, ulaw(8, 1)));
  EXPECT_TRUE(world().codecCmds.empty());
  EXPECT_EQ(rtp()->state.lowerRemoteSsrc, kRemote & 0xFFFF);
  in(rtpPacket(0, 903, 100479, kOther, ulaw(8, 1)));
  ASSERT_EQ(world().codecCmds.size(), 1u);
  EXPECT_EQ(world().codecCmds[0].header, HAPI_CODEC_DECFLUSH_CMD);
  EXPECT_EQ(rtp()->remoteSourceInfo.received, 1u);
  EXPECT_EQ(rtp()->remoteSourceInfo.baseSeq, 903);
  EXPECT_EQ(rtp()->state.lowerRemoteSsrc, 0x0304);
  EXPECT_EQ(world().toCodec.size(), 9u);
  // A new session takes whatever source comes first.
  command(HAPI_RTP_SETMODE_CMD, 0, 0);
  startSession();
  in(rtpPacket(0, 40, 1600, kRemote, ulaw(8, 1)));
  EXPECT_EQ(rtp()->state.lowerRemoteSsrc, kRemote & 0xFFFF);
  EXPECT_EQ(world().toCodec.size(), 10u);
  // A packet with our own source is a collision: reported and dropped.
  HAPI_RTP_REGS regs = rtp()->regs;
  regs.configFlags |= HAPI_RTP_EGRESS_CHECK_FOR_SSRC_COLLISION_MASK;
  setRegs(regs);
  const uint32_t local = uint32_t(rtp()->state.higherLocalSsrc) << 16 | rtp()->state.lowerLocalSsrc;
  in(rtpPacket(0, 41, 100159, local, ulaw(8, 1)));
  ASSERT_EQ(events(HAPI_RTP_EGRESS_SSRC_COLLISION_EVT).size(), 1u);
  const uint32_t now = uint32_t(rtp()->state.higherLocalSsrc) << 16 | rtp()->state.lowerLocalSsrc;
  EXPECT_NE(now, local);  // nothing sent yet: a new source at once
  // Once something was sent the source is kept and a BYE is due.
  regs.configFlags |= HAPI_RTP_INGRESS_GENERATE_RTCP_BYE_PACKET_ENABLE_MASK;
  setRegs(regs);
  rtp()->dataSentInCurrentSession = true;
  in(rtpPacket(0, 42, 100319, now, ulaw(8, 1)));
  EXPECT_EQ(uint32_t(rtp()->state.higherLocalSsrc) << 16 | rtp()->state.lowerLocalSsrc, now);
  EXPECT_TRUE(rtp()->generateBye);
}

// A stranger that starts sending in sequence during a 150 ms pause of the played stream (a network
// hiccup, silence suppression) fills the pause; the played source, coming back in sequence, takes
// the stream back with its first packet, and the stranger, still sending, is not heard again.
TEST_F(RtpParseTest, APausedSourceResumingInSequenceWinsTheStreamBackFromAStranger) {
  constexpr uint32_t kOther = 0x01020304;
  const auto fromRemote = ulaw(8, 1), fromOther = ulaw(8, 9);
  for (uint16_t seq = 1; seq <= 3; ++seq) in(rtpPacket(0, seq, 160u * seq, kRemote, fromRemote));
  uint16_t otherSeq = 700;
  auto stranger = [&] {
    in(rtpPacket(0, otherSeq, 7000 + 160u * otherSeq, kOther, fromOther));
    ++otherSeq;
  };
  for (int ms = 0; ms < 150; ms += kFrame / 8) stranger();
  ASSERT_EQ(rtp()->state.lowerRemoteSsrc, kOther & 0xFFFF) << "the stranger filled the pause";
  ASSERT_EQ(world().codecCmds.size(), 1u);
  // The replaced source's next number was 4. A late packet of it, or one past the dropout window,
  // is not its stream resuming.
  const size_t played = world().toCodec.size();
  in(rtpPacket(0, 3, 480, kRemote, fromRemote));
  stranger();
  in(rtpPacket(0, static_cast<uint16_t>(4 + RTP_MAX_DROPOUT), 640, kRemote, fromRemote));
  stranger();
  EXPECT_EQ(rtp()->state.lowerRemoteSsrc, kOther & 0xFFFF);
  EXPECT_EQ(world().toCodec.size(), played + 2);
  // The last number inside the window (packets lost in the pause) is: it is played at once.
  const uint16_t resumed = static_cast<uint16_t>(4 + RTP_MAX_DROPOUT - 1);
  in(rtpPacket(0, resumed, 640, kRemote, fromRemote));
  EXPECT_EQ(rtp()->state.lowerRemoteSsrc, kRemote & 0xFFFF);
  ASSERT_EQ(world().codecCmds.size(), 2u);
  EXPECT_EQ(world().codecCmds[1].header, HAPI_CODEC_DECFLUSH_CMD);
  EXPECT_EQ(world().toCodec.size(), played + 3);
  EXPECT_EQ(world().toCodec.back().payload, world().toCodec[0].payload);
  // The stranger goes on in sequence beside the resumed stream: none of it is played again.
  const uint32_t discardedBefore = discarded();
  for (uint16_t k = 1; k <= 20; ++k) {
    receive(rtpPacket(0, otherSeq, 7000 + 160u * otherSeq, kOther, fromOther));
    ++otherSeq;
    in(rtpPacket(0, static_cast<uint16_t>(resumed + k), 640 + 160u * k, kRemote, fromRemote));
  }
  EXPECT_EQ(discarded() - discardedBefore, 20u);
  EXPECT_EQ(world().codecCmds.size(), 2u);
  EXPECT_EQ(rtp()->state.lowerRemoteSsrc, kRemote & 0xFFFF);
  for (size_t k = played + 3; k < world().toCodec.size(); ++k)
    EXPECT_EQ(world().toCodec[k].payload, world().toCodec[0].payload) << k;
}

// A far end that restarts its stream under a new source is followed within 200 ms of its last
// packet of the old one, and not before the old one has been silent for 100 ms: a new packet every
// 10 ms from the next tick on.
TEST_F(RtpParseTest, AFarEndRestartingUnderANewSourceIsFollowedWithin200Ms) {
  constexpr uint32_t kRestarted = 0x0BADCAFE;
  for (uint16_t seq = 1; seq <= 3; ++seq) in(rtpPacket(0, seq, 160u * seq, kRemote, ulaw(8, 1)));
  int followedAfterMs = -1;
  for (uint16_t k = 0; k < 40 && followedAfterMs < 0; ++k) {
    in(rtpPacket(0, static_cast<uint16_t>(5000 + k), 90000 + 80u * k, kRestarted, ulaw(8, 2)));
    if (rtp()->state.lowerRemoteSsrc == (kRestarted & 0xFFFF)) followedAfterMs = (k + 1) * kFrame / 8;
  }
  std::printf("a restarted far end is followed %d ms after its old source's last packet\n", followedAfterMs);
  EXPECT_GE(followedAfterMs, static_cast<int>(RTP_SOURCE_HOLD_SAMPLES / 8));
  EXPECT_LE(followedAfterMs, 200);
  EXPECT_NE(world().toCodec.back().payload, world().toCodec[0].payload);
}

TEST_F(RtpParseTest, G722FarEndOnA16kClockIsDetected) {
  for (uint16_t i = 0; i < 5; ++i)
    in(rtpPacket(9, static_cast<uint16_t>(10 + i), 1000 + 320u * i, kRemote, ulaw(160, 1)));
  EXPECT_FALSE(rtp()->farEndRFC3551Compliant);
  in(rtpPacket(9, 15, 1000 + 320u * 5, kRemote, ulaw(160, 1)));
  EXPECT_EQ(world().toCodec.back().hdr.payloadTimeStampLow, (1000 + 320 * 5) / 2);
}

TEST_F(RtpParseTest, MultiFrameAmrIsSplitAndItsModeRequestPassedOn) {
  // Octet-aligned AMR 4.75 (12 bytes + pad) x 3, CMR 5; the middle frame NO_DATA.
  std::vector<uint8_t> payload = {0x50, 0x84, 0xFC, 0x04};
  for (int f = 0; f < 2; ++f) {
    for (int i = 0; i < 12; ++i) payload.push_back(static_cast<uint8_t>(f * 40 + i));
  }
  HAPI_RTP_REGS regs = rtp()->regs;
  regs.mediaEgressPayloadTypeMap[28] = HAPI_RTP_MAKE_MEDIA_PAYLOAD_TYPE_MAP_ENTRY(120, 33);
  setRegs(regs);
  in(rtpPacket(120, 1, 4000, kRemote, payload));
  const auto& c = world().toCodec;
  ASSERT_EQ(c.size(), 2u);
  EXPECT_EQ(c[0].hdr.payloadID, 0x0100 | 26);
  EXPECT_EQ(c[0].hdr.payloadTimeStampLow, 4000);
  EXPECT_EQ(c[1].hdr.payloadTimeStampLow, 4320);
  EXPECT_EQ(c[1].payload.size(), 14u);
  // The split frame reaches the codec in the engine's words: its third byte in the high half of
  // the second word.
  EXPECT_EQ(c[1].payload[3], 40);
  EXPECT_EQ(c[1].payload[2], 41);
  EXPECT_EQ(c[1].payload[1], 0xF0 & 0x50);  // the request kept (CMR 5)
  EXPECT_EQ(c[1].payload[0], 0x04);         // FT 0, Q 1
  ASSERT_EQ(world().codecCmds.size(), 1u);
  EXPECT_EQ(world().codecCmds[0].header, HAPI_CODEC_INTERMSG_CMD);
  EXPECT_EQ(world().codecCmds[0].op2, 5);
}

// ---- RFC 3550 appendix A.1 and A.8, written from the RFC's text ----
struct Reference {
  bool started = false;
  uint16_t max_seq = 0;
  uint32_t cycles = 0;  // shifted count, as in the RFC
  uint32_t base_seq = 0, bad_seq = 0, received = 0;
  double jitter = 0;
  bool haveTransit = false;
  int64_t transit = 0;

  void init_seq(uint16_t seq) {
    base_seq = seq;
    max_seq = seq;
    bad_seq = 65536 + 1;
    cycles = 0;
    received = 0;
  }
  void update_seq(uint16_t seq) {
    const uint16_t udelta = static_cast<uint16_t>(seq - max_seq);
    if (!started) {
      init_seq(seq);
      started = true;
    } else if (udelta < 3000) {
      if (seq < max_seq) cycles += 65536;
      max_seq = seq;
    } else if (udelta <= 65536 - 100) {
      if (seq == bad_seq) {
        init_seq(seq);
      } else {
        bad_seq = (seq + 1) & 65535;
        // The RFC drops this packet; the engine counts every arrival (checked below).
      }
    }
    received++;
  }
  int64_t expected() const { return int64_t(cycles) + max_seq - base_seq + 1; }
  // A.8 in integer form: J += (|D| - ((J + 8) >> 4)), J being 16 times the jitter.
  uint32_t jitter16 = 0;
  void arrival(uint32_t arrivalTs, uint32_t rtpTs) {
    const int32_t t = static_cast<int32_t>(arrivalTs - rtpTs);
    if (haveTransit) {
      int64_t d = int64_t(t) - transit;
      if (d < 0) d = -d;
      jitter16 += static_cast<uint32_t>(d) - ((jitter16 + 8) >> 4);
      jitter += (double(d) - jitter) / 16;
    }
    transit = t;
    haveTransit = true;
  }
};

TEST_F(RtpParseTest, SequenceAndJitterAgreeWithTheRfcAlgorithmsOnAnIrregularTrace) {
  // A trace with loss, reordering, duplicates, a wrap, a jump that is not followed up and one that
  // is (a restart), arriving with deterministic pseudo-random delay.
  std::vector<uint16_t> seqs;
  uint16_t s = 65400;
  for (int i = 0; i < 600; ++i) seqs.push_back(s++);
  seqs[40] = seqs[41];                                                       // duplicate
  std::swap(seqs[60], seqs[62]);                                             // reordering
  seqs.erase(seqs.begin() + 100, seqs.begin() + 110);                        // loss
  seqs.insert(seqs.begin() + 200, static_cast<uint16_t>(seqs[199] + 5000));  // lone jump
  const uint16_t restart = static_cast<uint16_t>(seqs[300] + 20000);
  for (int i = 0; i < 50; ++i) seqs.insert(seqs.begin() + 301 + i, static_cast<uint16_t>(restart + i));
  for (size_t i = 351; i < seqs.size(); ++i) seqs[i] = static_cast<uint16_t>(restart + 50 + (i - 351));

  Reference ref;
  bool wrapped = false;
  uint32_t rng = 7;
  size_t i = 0;
  int frames = 0;
  while (i < seqs.size()) {
    // Zero to three packets in each frame.
    rng = rng * 1664525u + 1013904223u;
    const size_t n = std::min<size_t>((rng >> 28) & 3, seqs.size() - i);
    std::vector<size_t> batch;
    for (size_t k = 0; k < n; ++k) {
      const uint16_t seq = seqs[i];
      const uint32_t ts = 160u * static_cast<uint16_t>(seq - 65400) + 12345;
      receive(rtpPacket(0, seq, ts, kRemote, ulaw(160, 1)));
      batch.push_back(i++);
    }
    tick();
    ++frames;
    const uint32_t arrival = rtp()->localTimestamp;
    for (size_t k : batch) {
      const uint16_t seq = seqs[k];
      ref.update_seq(seq);
      ref.arrival(arrival, 160u * static_cast<uint16_t>(seq - 65400) + 12345);
    }
    const REMOTE_SOURCE_INFO& r = rtp()->remoteSourceInfo;
    wrapped = wrapped || ref.cycles != 0;
    ASSERT_EQ(r.maxSeq, ref.max_seq) << "frame " << frames;
    ASSERT_EQ(uint32_t(r.cycles) << 16, ref.cycles);
    ASSERT_EQ(r.baseSeq, ref.base_seq);
    ASSERT_EQ(r.received, ref.received);
    ASSERT_EQ(rtpsrv::rtpExpectedMinusReceived(&r), ref.expected() - int64_t(ref.received));
    ASSERT_EQ(r.jitter, ref.jitter16);
    ASSERT_NEAR(r.jitter / 16.0, ref.jitter, 1.0);
  }
  EXPECT_TRUE(wrapped);
  EXPECT_EQ(world().toCodec.size(), seqs.size());
  const uint32_t reported =
      (uint32_t(rtp()->stats.session.egressRtpJitterHigh) << 16) | rtp()->stats.session.egressRtpJitterLow;
  EXPECT_EQ(reported, ref.jitter16 >> 4);
}

TEST_F(RtpParseTest, MeanAbsoluteJitterFollowsTheHostClock) {
  world().rtpSeconds = 50;
  world().rtpMicros = 0;
  const uint32_t gaps[] = {20, 20, 40, 0, 20, 20};
  uint16_t seq = 1;
  for (uint32_t g : gaps) {
    world().rtpMicros += g * 1000;
    in(rtpPacket(0, seq, seq * 160u, kRemote, ulaw(160, 1)));
    ++seq;
  }
  // Worked by hand from the smoothing rules: gaps 20, 40, 0, 20, 20 ms give the deviations
  // 2, 6, 5, 6, 7 ms.
  const HAPI_RTP_SESSION_STATS& s = rtp()->stats.session;
  EXPECT_EQ(s.meanAbsoluteJitter, 7u);
  EXPECT_EQ(s.maxMeanAbsoluteJitter, 7u);
  // A gap of three sequence numbers starts over.
  seq += 3;
  world().rtpMicros += 20000;
  in(rtpPacket(0, seq, seq * 160u, kRemote, ulaw(160, 1)));
  EXPECT_EQ(s.meanAbsoluteJitter, 0u);
  EXPECT_EQ(s.maxMeanAbsoluteJitter, 0u);
}

}  // namespace
