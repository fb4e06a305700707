// The PBX stand-in's media handling on its own: RTP headers, losses per stream, control packets
// kept apart, telephone events, the speech it sends and the WAV files it writes and reads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "pbxsim_media.h"

namespace {

using namespace pbxmedia;

std::vector<uint8_t> rtp(uint16_t seq, uint32_t ssrc = 1, uint8_t pt = PT_PCMA, size_t payload = 160) {
  std::vector<uint8_t> p(12 + payload, 0xd5);  // A-law silence
  p[0] = 0x80;
  p[1] = pt;
  p[2] = static_cast<uint8_t>(seq >> 8);
  p[3] = static_cast<uint8_t>(seq);
  const uint32_t ts = seq * 160u;
  for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<uint8_t>(ts >> (24 - 8 * i));
  for (int i = 0; i < 4; ++i) p[8 + i] = static_cast<uint8_t>(ssrc >> (24 - 8 * i));
  return p;
}

std::string temp(const std::string& name) { return "/tmp/pbxsim_media_" + std::to_string(::getpid()) + "_" + name; }

TEST(PbxMedia, HeadersAreReadWithTheirListsAndExtensionsAndBadOnesRefused) {
  RtpHeader h;
  EXPECT_FALSE(rtpParse(std::vector<uint8_t>(11, 0x80), &h));
  std::vector<uint8_t> v1 = rtp(5);
  v1[0] = 0x40;
  EXPECT_FALSE(rtpParse(v1, &h));
  std::vector<uint8_t> p = rtp(7, 0x01020304, 18, 20);
  p[0] = 0x91;  // one contributing source and an extension of one word
  p.insert(p.begin() + 12, {0, 0, 0, 9, 0xbe, 0xde, 0, 1, 1, 2, 3, 4});
  ASSERT_TRUE(rtpParse(p, &h));
  EXPECT_EQ(h.headerBytes, 12u + 4 + 4 + 4);
  EXPECT_EQ(h.payloadType, 18);
  EXPECT_EQ(h.sequence, 7);
  EXPECT_EQ(h.ssrc, 0x01020304u);
  p.resize(22);  // the extension runs past the end
  EXPECT_FALSE(rtpParse(p, &h));
}

TEST(PbxMedia, LossesAreCountedPerStreamAndReportsAreNotMedia) {
  Receiver r;
  for (uint16_t s : {100, 101, 103, 102, 104}) EXPECT_TRUE(r.onPacket(rtp(s)));
  EXPECT_EQ(r.lost(), 1u);  // 102 came late: a loss counted once, the late packet not again
  std::vector<uint8_t> report = {0x80, 200, 0, 6, 0, 0, 0, 1, 0, 0, 0, 0};
  EXPECT_FALSE(r.onPacket(report));
  EXPECT_EQ(r.reports(), 1u);
  EXPECT_EQ(r.packets(), 5u);
  // A new connection's stream starts its own numbering.
  EXPECT_TRUE(r.onPacket(rtp(9000, 2)));
  EXPECT_TRUE(r.onPacket(rtp(9001, 2)));
  EXPECT_EQ(r.lost(), 1u);
  // Digit events and other codecs are counted, not decoded.
  EXPECT_TRUE(r.onPacket(rtp(9002, 2, 101, 4)));
  EXPECT_TRUE(r.onPacket(rtp(9003, 2, 18, 20)));
  EXPECT_EQ(r.events(), 1u);
  EXPECT_EQ(r.undecoded(), 1u);
  EXPECT_LT(r.levelDbm0(), -60);
}

// One telephone-event packet: the event's start time stamp, its code, end bit, volume, duration.
std::vector<uint8_t> event(uint16_t seq, uint32_t start, uint8_t code, bool end, uint16_t duration, bool marker = false) {
  std::vector<uint8_t> p = rtp(seq, 1, 101, 4);
  p[1] = static_cast<uint8_t>(101 | (marker ? 0x80 : 0));
  for (int i = 0; i < 4; ++i) p[4 + i] = static_cast<uint8_t>(start >> (24 - 8 * i));
  p[12] = code;
  p[13] = static_cast<uint8_t>((end ? 0x80 : 0) | 0x40 | 10);  // the reserved bit is ignored
  p[14] = static_cast<uint8_t>(duration >> 8);
  p[15] = static_cast<uint8_t>(duration);
  return p;
}

// The recording holds the voice payloads alone: not the control packets between them, not a
// packet's CSRC list, extension or padding, not the telephone events of the same stream.
TEST(PbxMedia, RecordingKeepsOnlyTheVoicePayloads) {
  const std::string path = temp("record.raw");
  Receiver r;
  std::string error;
  ASSERT_TRUE(r.recording = r.record.open(path, &error)) << error;
  std::vector<uint8_t> expected;
  auto voice = [&](uint16_t seq, uint8_t fill) {
    std::vector<uint8_t> p = rtp(seq);
    std::fill(p.begin() + 12, p.end(), fill);
    expected.insert(expected.end(), p.begin() + 12, p.end());
    return p;
  };
  EXPECT_TRUE(r.onPacket(voice(1, 0x11)));
  // A compound report (sender report, source description), as the daemon sends between voice.
  std::vector<uint8_t> reports = {0x80, 200, 0, 6, 0, 0, 0, 1};
  reports.resize(28, 0x5a);
  reports.insert(reports.end(), {0x81, 202, 0, 3, 0, 0, 0, 1, 1, 3, 'g', 'w', 'y', 0, 0, 0});
  EXPECT_FALSE(r.onPacket(reports));
  EXPECT_FALSE(r.onPacket({reports.data(), 8}));  // a receiver report without blocks
  // One contributing source, an extension of one word and four bytes of padding.
  std::vector<uint8_t> dressed = voice(2, 0x22);
  dressed[0] = 0xb1;
  dressed.insert(dressed.begin() + 12, {0, 0, 0, 9, 0xbe, 0xde, 0, 1, 1, 2, 3, 4});
  dressed.insert(dressed.end(), {0, 0, 0, 4});
  EXPECT_TRUE(r.onPacket(dressed));
  EXPECT_TRUE(r.onPacket(event(3, 320, 5, false, 160, true)));
  EXPECT_TRUE(r.onPacket(voice(4, 0x44)));
  r.record.close();
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> got(4096);
  got.resize(std::fread(got.data(), 1, got.size(), f));
  std::fclose(f);
  std::remove(path.c_str());
  EXPECT_EQ(got, expected);
  EXPECT_EQ(r.reports(), 2u);
  EXPECT_EQ(r.events(), 1u);
  // Padding that claims more than the packet holds leaves the packet unread.
  dressed.back() = 200;
  EXPECT_FALSE(r.onPacket(dressed));
}

TEST(PbxMedia, TelephoneEventsAreToldApartByStartTimeAndTheirEndsChecked) {
  Receiver r;
  r.onPacket(event(1, 8000, 5, false, 160, true));
  r.onPacket(event(2, 8000, 5, false, 320));
  r.onPacket(event(3, 8000, 5, true, 480));
  EXPECT_TRUE(r.eventJustEnded());
  r.onPacket(event(4, 8000, 5, true, 480));
  EXPECT_FALSE(r.eventJustEnded());  // a repeated end is not a new event
  r.onPacket(event(5, 8000, 5, true, 480));
  // The same digit again, a new start: a second event, whose ends disagree and whose duration
  // falls back.
  r.onPacket(event(6, 9600, 5, false, 320, true));
  r.onPacket(event(7, 9600, 5, false, 160));
  r.onPacket(event(8, 9600, 5, true, 640));
  r.onPacket(event(9, 9600, 5, true, 800));
  const auto& e = r.relayedEvents();
  ASSERT_EQ(e.size(), 2u);
  EXPECT_EQ(r.events(), 9u);
  EXPECT_EQ(e[0].event, 5);
  EXPECT_EQ(e[0].volume, 10);
  EXPECT_TRUE(e[0].marker);
  EXPECT_EQ(e[0].updates, 2);
  EXPECT_EQ(e[0].ends, 3);
  EXPECT_EQ(e[0].endDuration, 480);
  EXPECT_TRUE(e[0].steady && e[0].endsAgree && !e[0].afterEnd);
  EXPECT_EQ(describeRelayedEvent(e[0]), "rtp event 5 pt=101 volume=-10 duration=480 updates=2 ends=3 marker");
  EXPECT_FALSE(e[1].steady);
  EXPECT_FALSE(e[1].endsAgree);
  EXPECT_NE(describeRelayedEvent(e[1]).find("unsteady inconsistent-end"), std::string::npos);
}

TEST(PbxMedia, SpeechGoesOutAsALawPacketsOverAndOverAndTheRecordingReadsBack) {
  std::vector<int16_t> tone(400);
  for (size_t i = 0; i < tone.size(); ++i) tone[i] = static_cast<int16_t>(std::lround(8000 * std::sin(0.785 * i)));
  const std::string in = temp("in.wav"), out = temp("out.wav");
  {
    WavFile w;
    std::string error;
    ASSERT_TRUE(w.open(in, 8000, &error)) << error;
    w.write(tone);
  }
  Sender s;
  std::string error;
  ASSERT_TRUE(s.open(in, &error)) << error;
  Receiver r;
  ASSERT_TRUE(r.wav.open(out, 8000, &error)) << error;
  r.decoding = true;
  std::vector<std::vector<uint8_t>> sent;
  for (int i = 0; i < 6; ++i) sent.push_back(s.next());
  for (const auto& p : sent) ASSERT_EQ(p.size(), 12u + SAMPLES_PER_PACKET);
  EXPECT_EQ(sent[0][1], 0x80 | PT_PCMA);  // the talk spurt's first packet is marked
  EXPECT_EQ(sent[1][1], PT_PCMA);
  EXPECT_TRUE(s.done());  // 400 samples: three packets, the last padded; then it starts over
  for (size_t i = 1; i < sent.size(); ++i) {
    RtpHeader a, b;
    ASSERT_TRUE(rtpParse(sent[i - 1], &a) && rtpParse(sent[i], &b));
    EXPECT_EQ(static_cast<uint16_t>(b.sequence - a.sequence), 1);
    EXPECT_EQ(b.timestamp - a.timestamp, 160u);
  }
  for (const auto& p : sent) r.onPacket(p);
  r.wav.close();
  std::vector<int16_t> heard;
  ASSERT_TRUE(readWav8k(out, &heard, &error)) << error;
  ASSERT_EQ(heard.size(), 6u * SAMPLES_PER_PACKET);
  double worst = 0;
  for (size_t i = 0; i < tone.size(); ++i) worst = std::max(worst, std::abs(heard[i] - tone[i]) / (std::abs(tone[i]) + 128.0));
  EXPECT_LT(worst, 0.07);  // A-law's steps
  EXPECT_LE(std::abs(heard[450]), 8);  // padding: A-law's silence
  EXPECT_EQ(heard[480 + 10], heard[10]);  // the second time round
  std::remove(in.c_str());
  std::remove(out.c_str());
}

TEST(PbxMedia, SpeechSentOverAndOverGoesOnThroughTheWholeFileEachTime) {
  std::vector<int16_t> ramp(320);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<int16_t>(50 * i);
  const std::string in = temp("ramp.wav");
  {
    WavFile w;
    std::string error;
    ASSERT_TRUE(w.open(in, 8000, &error)) << error;
    w.write(ramp);
  }
  Sender s;
  std::string error;
  ASSERT_TRUE(s.open(in, &error)) << error;
  // Two packets a pass: the third and fifth packets start the file again, the fourth and sixth
  // carry its second half.
  std::vector<std::vector<uint8_t>> sent;
  for (int i = 0; i < 6; ++i) sent.push_back(s.next());
  for (int i = 2; i < 6; ++i) EXPECT_EQ(sent[static_cast<size_t>(i)].back(), sent[static_cast<size_t>(i % 2)].back()) << i;
  EXPECT_NE(sent[0].back(), sent[1].back());
  std::remove(in.c_str());
}

TEST(PbxMedia, OnlyEightKilohertzSixteenBitMonoWavIsTakenAsSpeech) {
  const std::string path = temp("wide.wav");
  {
    WavFile w;
    std::string error;
    ASSERT_TRUE(w.open(path, 16000, &error));
    w.write(std::vector<int16_t>(100, 1));
  }
  Sender s;
  std::string error;
  EXPECT_FALSE(s.open(path, &error));
  EXPECT_NE(error.find("8000"), std::string::npos) << error;
  EXPECT_FALSE(s.open(temp("missing.wav"), &error));
  std::remove(path.c_str());
}

}  // namespace
