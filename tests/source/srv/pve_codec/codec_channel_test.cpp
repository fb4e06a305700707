// The codec service in a channel: a tone on the line comes out as packets an independent decoder
// reads back as the tone; packets fed in play out on the line; codec changes, SID and comfort
// noise, tone relay.
#include <cmath>

#include "codec_harness.h"

extern "C" {
#include <opus/opus.h>
#include <spandsp.h>
}

namespace codectest {
namespace {

int16_t tone1k(uint64_t n) { return static_cast<int16_t>(10000 * std::sin(2 * M_PI * 1000.0 * n / 8000)); }

std::vector<int16_t> g711Decode(const std::vector<uint8_t>& codes, bool alaw) {
  std::vector<int16_t> out(codes.size());
  g711_state_t* s = g711_init(nullptr, alaw ? G711_ALAW : G711_ULAW);
  g711_decode(s, out.data(), codes.data(), static_cast<int>(codes.size()));
  g711_free(s);
  return out;
}

std::vector<uint8_t> g711Encode(const std::vector<int16_t>& pcm, bool alaw) {
  std::vector<uint8_t> out(pcm.size());
  g711_state_t* s = g711_init(nullptr, alaw ? G711_ALAW : G711_ULAW);
  g711_encode(s, out.data(), pcm.data(), static_cast<int>(pcm.size()));
  g711_free(s);
  return out;
}

struct Case {
  uint16_t code;
  uint16_t interval;
};

class G711Channel : public CodecTest, public ::testing::WithParamInterface<Case> {};

TEST_P(G711Channel, LineToneLeavesAsPacketsThatDecodeToTheTone) {
  const Case c = GetParam();
  world().signal = tone1k;
  startVoice(c.code, c.interval);
  world().host.clear();
  tick(100);
  const std::vector<Packet> pk = packets();
  ASSERT_GE(pk.size(), 100u * 40 / c.interval - 2);  // a tick is 5 ms
  std::vector<uint8_t> stream;
  for (size_t i = 0; i < pk.size(); ++i) {
    EXPECT_EQ(pk[i].payloadID, HAPI_PKT_VOICE << 8 | c.code);
    ASSERT_EQ(pk[i].payloadLength, c.interval) << "one byte per sample";
    if (i > 0) {
      EXPECT_EQ(pk[i].timestamp - pk[i - 1].timestamp, c.interval);
    }
    stream.insert(stream.end(), pk[i].payload.begin(), pk[i].payload.end());
  }
  const std::vector<int16_t> pcm = g711Decode(stream, c.code == 1);
  // Sample k of the stream is line sample (first timestamp + k): the same 1 kHz phase.
  std::vector<int16_t> aligned(pk[0].timestamp % 8, 0);
  aligned.insert(aligned.end(), pcm.begin(), pcm.end());
  EXPECT_GT(toneSnrDb(aligned, 1000, 8, 4000), 30);
  EXPECT_GE(codec()->ctl.stats.encoder.activeFrameCount, pk.size() * c.interval / 40);
}

TEST_P(G711Channel, PacketsFedInPlayOutOnTheLine) {
  const Case c = GetParam();
  startVoice(c.code, c.interval);
  world().played.clear();
  std::vector<int16_t> pcm(8000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = tone1k(i);
  const std::vector<uint8_t> codes = g711Encode(pcm, c.code == 1);
  const int packets = 8000 / c.interval;
  const int ticksPerPacket = c.interval / 40;  // 5 ms ticks
  for (int p = 0; p < packets; ++p) {
    sendPacket(HAPI_PKT_VOICE << 8 | c.code, static_cast<uint16_t>(p * c.interval),
               std::vector<uint8_t>(codes.begin() + p * c.interval, codes.begin() + (p + 1) * c.interval));
    tick(ticksPerPacket);
  }
  EXPECT_EQ(codec()->ctl.stats.decoder.ajcRepeatCount, 0) << "every packet played in turn";
  tick(40);
  const std::vector<int16_t>& out = world().played;
  // Find where the tone starts and check a second of it.
  size_t start = 0;
  while (start < out.size() && out[start] == 0) ++start;
  ASSERT_LT(start + 4000, out.size());
  EXPECT_GT(toneSnrDb(std::vector<int16_t>(out.begin() + start, out.end()), 1000, 0, 6000), 30);
  EXPECT_EQ(events(HAPI_CODEC_VOICERATE_EVT).back().op1, c.code);
}

INSTANTIATE_TEST_SUITE_P(LawsAndIntervals, G711Channel,
                         ::testing::Values(Case{0, 80}, Case{0, 160}, Case{0, 240}, Case{1, 80}, Case{1, 160},
                                           Case{1, 240}),
                         [](const auto& info) {
                           return std::string(info.param.code ? "Alaw" : "Mulaw") + std::to_string(info.param.interval / 8) + "ms";
                         });

TEST_F(CodecTest, G726SuperpacketsCarryOddFramesAcrossWordHalves) {
  world().signal = tone1k;
  world().host.clear();
  startVoice(3, 80);  // 24 kbit/s: 15 bytes per 5 ms frame, two frames per packet
  tick(60);
  const std::vector<Packet> pk = packets();
  ASSERT_GE(pk.size(), 30u);
  for (const Packet& p : pk) {
    EXPECT_EQ(p.payloadID, HAPI_PKT_VOICE << 8 | 3);
    EXPECT_EQ(p.payloadLength, 30);
  }
  // The independent decoder reads the stream back exactly as it decodes its own encoder's stream of
  // the same line signal.
  std::vector<int16_t> line(pk.size() * 80);
  for (size_t i = 0; i < line.size(); ++i) line[i] = tone1k(pk[0].timestamp + i);
  std::vector<uint8_t> theirs(line.size());
  g726_state_t* enc = g726_init(nullptr, 24000, G726_ENCODING_LINEAR, G726_PACKING_RIGHT);
  const int bytes = g726_encode(enc, theirs.data(), line.data(), static_cast<int>(line.size()));
  g726_free(enc);
  std::vector<uint8_t> ours;
  for (const Packet& p : pk) ours.insert(ours.end(), p.payload.begin(), p.payload.end());
  ASSERT_EQ(ours.size(), static_cast<size_t>(bytes));
  EXPECT_EQ(ours, std::vector<uint8_t>(theirs.begin(), theirs.begin() + bytes));
}

TEST_F(CodecTest, EncoderChangeMidCallTakesEffectAtASuperpacketBoundary) {
  world().signal = tone1k;
  startVoice(0, 160);
  tick(20);
  world().host.clear();
  ASSERT_EQ(command(HAPI_CODEC_SETVOICERATE_CMD, 1, 160).result, HAPISUCCESS);
  tick(40);
  const std::vector<Packet> pk = packets();
  ASSERT_GT(pk.size(), 4u);
  size_t firstA = 0;
  while (firstA < pk.size() && (pk[firstA].payloadID & 0xFF) == 0) ++firstA;
  ASSERT_LT(firstA, pk.size());
  for (size_t i = firstA; i < pk.size(); ++i) EXPECT_EQ(pk[i].payloadID & 0xFF, 1);
  for (const Packet& p : pk) EXPECT_EQ(p.payloadLength, 160) << "no superpacket cut short or mixed";
  for (size_t i = 1; i < pk.size(); ++i) EXPECT_EQ(pk[i].timestamp - pk[i - 1].timestamp, 160u);
  EXPECT_EQ(events(HAPI_CODEC_VOICERATE_EVT).back().op1, 1);
  EXPECT_EQ(events(HAPI_CODEC_VOICERATE_EVT).back().op2, 0);
}

TEST_F(CodecTest, EncoderChangeToAnotherThreadRateChangesTheFramePeriodFirst) {
  world().signal = tone1k;
  startVoice(0, 80);
  world().host.clear();
  ASSERT_EQ(command(HAPI_CODEC_SETVOICERATE_CMD, 6, 160).result, HAPISUCCESS);  // G.729A, 10 ms frames
  tick(40);
  const std::vector<Packet> pk = packets();
  ASSERT_FALSE(pk.empty());
  EXPECT_EQ(pk.back().payloadID, HAPI_PKT_VOICE << 8 | 6);
  EXPECT_EQ(pk.back().payloadLength, 20);  // two 10-byte frames per 20 ms
  EXPECT_EQ(codec()->ctl.state.currentEnc, 6);
}

TEST_F(CodecTest, DecoderFollowsTheCodeOfTheStream) {
  startVoice(0, 80);
  std::vector<int16_t> pcm(4000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = tone1k(i);
  const std::vector<uint8_t> mu = g711Encode(pcm, false), a = g711Encode(pcm, true);
  for (int p = 0; p < 50; ++p) {
    const bool alaw = p >= 25;
    const std::vector<uint8_t>& codes = alaw ? a : mu;
    sendPacket(HAPI_PKT_VOICE << 8 | (alaw ? 1 : 0), static_cast<uint16_t>(p * 80),
               std::vector<uint8_t>(codes.begin() + p * 80, codes.begin() + (p + 1) * 80));
    tick(2);
  }
  const std::vector<HostMsg> rates = events(HAPI_CODEC_VOICERATE_EVT);
  ASSERT_GE(rates.size(), 2u);
  EXPECT_EQ(rates.back().op1, 1);
  EXPECT_EQ(rates.back().op2, 1);
  EXPECT_EQ(codec()->ctl.hsxcodecdecctl.hsxActiveDecoder, 1);
  // The A-law half plays as the tone too.
  const std::vector<int16_t>& out = world().played;
  ASSERT_GT(out.size(), 2000u);
  EXPECT_GT(toneSnrDb(std::vector<int16_t>(out.end() - 800, out.end()), 1000, 0, 800), 25);
}

TEST_F(CodecTest, GenericSidPlaysComfortNoiseAndVoiceResumes) {
  startVoice(0, 80);
  std::vector<int16_t> pcm(8000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = tone1k(i);
  const std::vector<uint8_t> codes = g711Encode(pcm, false);
  for (int p = 0; p < 20; ++p) {
    sendPacket(HAPI_PKT_VOICE << 8, static_cast<uint16_t>(p * 80),
               std::vector<uint8_t>(codes.begin() + p * 80, codes.begin() + (p + 1) * 80));
    tick(2);
  }
  sendPacket(HAPI_PKT_SID << 8 | HAPI_PKT_VC_GENERIC_SID, 20 * 80, {40});  // noise 40 dB below full scale
  tick(2);
  world().played.clear();
  tick(100);
  const std::vector<int16_t> noise = world().played;
  double energy = 0;
  for (int16_t s : noise) energy += double(s) * s;
  const double rms = std::sqrt(energy / noise.size());
  EXPECT_GT(rms, 10);    // comfort noise, not silence
  EXPECT_LT(rms, 2000);  // and far below the tone
  EXPECT_FALSE(events(HAPI_CODEC_CNG_EVT).empty());
  // Voice on the far side's clock resumes playout.
  for (int p = 70; p < 100; ++p) {
    sendPacket(HAPI_PKT_VOICE << 8, static_cast<uint16_t>(p * 80),
               std::vector<uint8_t>(codes.begin() + (p - 70) * 80, codes.begin() + (p - 69) * 80));
    tick(2);
  }
  EXPECT_EQ(codec()->ctl.state.currentDec, 0);
  EXPECT_GT(toneSnrDb(std::vector<int16_t>(world().played.end() - 400, world().played.end()), 1000, 0, 400), 20);
}

TEST_F(CodecTest, DigitDetectionSendsToneRelayAndStopsVoiceUntilTheEndMarker) {
  world().signal = tone1k;
  startVoice(0, 160);
  world().host.clear();
  world().digits.push_back({HAPI_PKT_TONE << 8 | HAPI_PKT_TC_DTMF_ON, 5 << 8 | 10, 400});
  tick(20);
  std::vector<Packet> pk = packets();
  ASSERT_FALSE(pk.empty());
  EXPECT_EQ(pk[0].payloadID, HAPI_PKT_TONE << 8 | HAPI_PKT_TC_DTMF_ON);
  EXPECT_EQ(pk[0].payloadLength, 4);
  for (size_t i = 1; i < pk.size(); ++i) EXPECT_NE(pk[i].payloadID >> 8, HAPI_PKT_VOICE) << "voice stopped";
  EXPECT_EQ(codec()->ctl.stats.encoder.toneRelayCount, 1);
  world().digits.push_back({HAPI_PKT_TONE << 8 | HAPI_PKT_TC_TONE_NOCODE, 0, 0});
  world().host.clear();
  tick(20);
  pk = packets();
  ASSERT_FALSE(pk.empty());
  EXPECT_EQ(pk.back().payloadID, HAPI_PKT_VOICE << 8);
}

TEST_F(CodecTest, RelayedDigitFromTheNetworkSilencesPlayoutThenEnds) {
  startVoice(0, 80);
  ASSERT_EQ(command(HAPI_CODEC_PTEOPTION_CMD, HAPI_PTE_MODE_DIG_RELAY, 0).result, HAPISUCCESS);
  std::vector<int16_t> pcm(16000);
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = tone1k(i);
  const std::vector<uint8_t> codes = g711Encode(pcm, false);
  int p = 0;
  for (; p < 20; ++p) {
    sendPacket(HAPI_PKT_VOICE << 8, static_cast<uint16_t>(p * 80), std::vector<uint8_t>(codes.begin() + p * 80, codes.begin() + (p + 1) * 80));
    tick(2);
  }
  sendPacket(HAPI_PKT_TONE << 8 | HAPI_PKT_TC_DTMF_ON, 1600, {5, 10, 0, 80});
  tick(2);
  EXPECT_FALSE(codec()->ctl.hsxcodecdecctl.decodeAllowed);
  ASSERT_EQ(world().toneToLine.size(), 1u);
  // Voice during the relay is dropped and nothing plays; after 100 ms without news playout resumes.
  world().played.clear();
  for (int k = 0; k < 10; ++k, ++p) {
    sendPacket(HAPI_PKT_VOICE << 8, static_cast<uint16_t>(p * 80), std::vector<uint8_t>(codes.begin() + p * 80, codes.begin() + (p + 1) * 80));
    tick(2);
    if (k == 7) {
      for (int16_t s : world().played) ASSERT_EQ(s, 0);
    }
  }
  EXPECT_TRUE(codec()->ctl.hsxcodecdecctl.decodeAllowed);
  EXPECT_GE(world().toneToLine.size(), 2u);  // the end-of-relay block went to the line side
  EXPECT_EQ(world().toneToLine.back()[0], 255);
}

}  // namespace
}  // namespace codectest

namespace codectest {
namespace {

struct AmrCase {
  uint16_t code;                  // bandwidth-efficient AMR 12.2 or AMR-WB 23.85
  unsigned bits;                  // speech bits per frame
  uint16_t ptime, red;
  std::vector<uint16_t> lengths;  // payload bytes of the first packets
  uint32_t spacing;               // timestamp step between packets
};

class AmrChannel : public CodecTest, public ::testing::WithParamInterface<AmrCase> {};

TEST_P(AmrChannel, PacketTimeAndRedundancyShapeThePayloads) {
  const AmrCase c = GetParam();
  world().signal = [](uint64_t n) { return static_cast<int16_t>(6000 * std::sin(2 * M_PI * 440.0 * n / 8000)); };
  HSZVOICEREGS regs = pveVoiceRegsDefault();
  regs.voxregs.amrOptions = AMR_REGS{0, 0, 0, c.ptime, c.red};
  ASSERT_EQ(extCommand(HAPI_CODEC_SETREGS_CMD, &regs, sizeof(regs)).result, HAPISUCCESS);
  world().signal16k = [](uint64_t n) { return static_cast<int16_t>(6000 * std::sin(2 * M_PI * 440.0 * n / 16000)); };
  world().host.clear();
  startVoice(c.code, 160);
  tick(60);
  const std::vector<Packet> pk = packets();
  ASSERT_GT(pk.size(), c.lengths.size() + 2);
  for (size_t i = 0; i < pk.size(); ++i) {
    EXPECT_EQ(pk[i].payloadID, HAPI_PKT_VOICE << 8 | c.code);
    EXPECT_EQ(pk[i].payloadLength, c.lengths[std::min(i, c.lengths.size() - 1)]) << "packet " << i;
    EXPECT_EQ(pk[i].payload[0] >> 4, 15) << "no mode request";
    if (i >= c.lengths.size()) {
      EXPECT_EQ(pk[i].timestamp - pk[i - 1].timestamp, c.spacing);
    }
    // A packet is stamped with its first frame's time (8 kHz ticks, 160 per frame for both codecs):
    // while the redundancy window fills, each packet still starts with the very first frame.
    if (i > 0 && i < c.lengths.size()) {
      EXPECT_EQ(pk[i].timestamp, pk[0].timestamp) << "packet " << i;
    }
  }
  // Every table-of-contents entry but the last has the follow bit; the last frame is the newest.
  const Packet& last = pk.back();
  const unsigned frames = (last.payloadLength * 8 - 4) / (6 + c.bits);
  for (unsigned k = 0; k < frames; ++k) {
    const unsigned bit = 4 + 6 * k;
    const int f = (last.payload[bit / 8] >> (7 - bit % 8)) & 1;
    EXPECT_EQ(f, k + 1 < frames ? 1 : 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Shapes, AmrChannel,
                         ::testing::Values(AmrCase{25, 244, 20, 0, {32}, 160}, AmrCase{25, 244, 40, 0, {63}, 320},
                                           AmrCase{25, 244, 20, 40, {32, 63, 95}, 160},
                                           AmrCase{58, 477, 40, 0, {122}, 320},
                                           AmrCase{58, 477, 20, 40, {61, 122, 182}, 160}));

}  // namespace
}  // namespace codectest


namespace codectest {
namespace {

TEST_F(CodecTest, WidebandToneTravelsBothWaysThroughG722) {
  // 5 kHz lies above the narrowband: it crosses the channel in the high band only.
  world().signal16k = [](uint64_t n) { return static_cast<int16_t>(8000 * std::sin(2 * M_PI * 5000.0 * n / 16000)); };
  world().host.clear();
  startVoice(HAPI_PKT_VC_G722_64_MODE1, 160);
  tick(60);
  std::vector<Packet> pk = packets();
  ASSERT_GT(pk.size(), 10u);
  std::vector<uint8_t> stream;
  for (const Packet& p : pk) {
    EXPECT_EQ(p.payloadID, HAPI_PKT_VOICE << 8 | HAPI_PKT_VC_G722_64_MODE1);
    EXPECT_EQ(p.payloadLength, 160);
    stream.insert(stream.end(), p.payload.begin(), p.payload.end());
  }
  std::vector<int16_t> pcm(stream.size() * 2);
  g722_decode_state_t* ref = g722_decode_init(nullptr, 64000, 0);
  const int n = g722_decode(ref, pcm.data(), stream.data(), static_cast<int>(stream.size()));
  g722_decode_free(ref);
  pcm.resize(n);
  EXPECT_GT(toneSnrDb(pcm, 5000, pcm.size() - 3200, 3000, 16000), 20);

  // The same packets fed back play out as the tone at 16 kHz.
  world().played16k.clear();
  for (size_t i = 0; i < pk.size(); ++i) {
    sendPacket(pk[i].payloadID, static_cast<uint16_t>(160 * i), pk[i].payload);
    tick(4);
  }
  const std::vector<int16_t>& out = world().played16k;
  ASSERT_GT(out.size(), 4000u);
  EXPECT_GT(toneSnrDb(out, 5000, out.size() - 3200, 3000, 16000), 20);
}

}  // namespace
}  // namespace codectest

namespace codectest {
namespace {

class OpusChannel : public CodecTest, public ::testing::WithParamInterface<uint16_t> {};

TEST_P(OpusChannel, ToneTravelsBothWaysAtThePacketTime) {
  const uint16_t code = GetParam();
  const bool wide = code >= HAPI_PKT_VC_OPUS_WB_5;
  const uint16_t packetTime = pveEncPacketTime[code];
  world().signal = [](uint64_t n) { return static_cast<int16_t>(6000 * std::sin(2 * M_PI * 700.0 * n / 8000)); };
  world().signal16k = [](uint64_t n) { return static_cast<int16_t>(6000 * std::sin(2 * M_PI * 700.0 * n / 16000)); };
  world().host.clear();
  startVoice(code, packetTime);
  tick(200);
  const std::vector<Packet> pk = packets();
  ASSERT_GT(pk.size(), 10u);
  for (const Packet& p : pk) {
    ASSERT_EQ(p.payloadID, HAPI_PKT_VOICE << 8 | code);
    ASSERT_LE(p.payloadLength, 1275);
    int err = 0;
    OpusDecoder* d = opus_decoder_create(wide ? 16000 : 8000, 1, &err);
    EXPECT_EQ(opus_decoder_get_nb_samples(d, p.payload.data(), p.payloadLength), packetTime * (wide ? 2 : 1));
    opus_decoder_destroy(d);
  }
  world().played.clear();
  world().played16k.clear();
  for (size_t i = 0; i < pk.size(); ++i) {
    sendPacket(pk[i].payloadID, static_cast<uint16_t>(packetTime * i), pk[i].payload);
    tick(packetTime / 40);
  }
  const std::vector<int16_t>& out = wide ? world().played16k : world().played;
  const double rate = wide ? 16000 : 8000;
  ASSERT_GT(out.size(), static_cast<size_t>(rate / 4));
  // Opus at 12 or 20 kbit/s is lossy, 5 ms frames most of all; a lost or misplaced frame is far worse.
  EXPECT_GT(toneSnrDb(out, 700, out.size() - static_cast<size_t>(rate / 5), static_cast<size_t>(rate / 10), rate), 10);
}

INSTANTIATE_TEST_SUITE_P(PacketTimes, OpusChannel, ::testing::Values(36, 38, 40, 70, 72));

}  // namespace
}  // namespace codectest

namespace codectest {
namespace {

TEST_F(CodecTest, IsacFramesGoOutWholeAndPlayBack) {
  world().signal16k = [](uint64_t n) { return static_cast<int16_t>(6000 * std::sin(2 * M_PI * 700.0 * n / 16000)); };
  world().host.clear();
  startVoice(73, 80);  // 10 ms encoder calls, one packet per 30 ms frame
  tick(120);
  const std::vector<Packet> pk = packets();
  ASSERT_GT(pk.size(), 10u);
  for (size_t i = 0; i < pk.size(); ++i) {
    ASSERT_EQ(pk[i].payloadID, HAPI_PKT_VOICE << 8 | 73);
    ASSERT_GT(pk[i].payloadLength, 0);
    ASSERT_LE(pk[i].payloadLength, 400);
    if (i > 0) {
      EXPECT_EQ(pk[i].timestamp - pk[i - 1].timestamp, 240u) << "one 30 ms frame per packet";
    }
  }
  world().played16k.clear();
  for (size_t i = 0; i < pk.size(); ++i) {
    sendPacket(pk[i].payloadID, static_cast<uint16_t>(240 * i), pk[i].payload);
    tick(6);
  }
  const std::vector<int16_t>& out = world().played16k;
  ASSERT_GT(out.size(), 8000u);
  double energy = 0;
  for (size_t i = out.size() - 4000; i < out.size(); ++i) energy += double(out[i]) * out[i];
  EXPECT_GT(std::sqrt(energy / 4000), 1000) << "the tone plays";
  EXPECT_EQ(codec()->ctl.stats.decoder.ajcRepeatCount, 0);
}

}  // namespace
}  // namespace codectest
