// Sliced decoding against the library's own one-call decoding, and the states in caller memory.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "opus_slice.h"

namespace {

std::vector<int16_t> tone(int n, int rate, double hz, int offset = 0) {
  std::vector<int16_t> v(n);
  for (int i = 0; i < n; ++i) v[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * hz * (i + offset) / rate));
  return v;
}

// Encodes `frames` frames of `frameSamples` and joins them into one packet.
std::vector<uint8_t> multiFramePacket(int rate, int app, int frameSamples, int frames) {
  int err = 0;
  OpusEncoder* enc = opus_encoder_create(rate, 1, app, &err);
  OpusRepacketizer* rp = opus_repacketizer_create();
  std::vector<std::vector<uint8_t>> parts(frames, std::vector<uint8_t>(1275));
  for (int f = 0; f < frames; ++f) {
    const std::vector<int16_t> pcm = tone(frameSamples, rate, 440, f * frameSamples);
    const int n = opus_encode(enc, pcm.data(), frameSamples, parts[f].data(), 1275);
    EXPECT_GT(n, 0);
    parts[f].resize(n);
    EXPECT_EQ(opus_repacketizer_cat(rp, parts[f].data(), n), OPUS_OK);
  }
  std::vector<uint8_t> out(1276 * 3);
  const int n = opus_repacketizer_out(rp, out.data(), static_cast<int>(out.size()));
  EXPECT_GT(n, 0);
  out.resize(n);
  opus_repacketizer_destroy(rp);
  opus_encoder_destroy(enc);
  return out;
}

struct Sliced {
  std::vector<uint64_t> mem = std::vector<uint64_t>(opus_decoder_get_size(1) / 8 + 1);
  OpusSliceDecoder d{};
  explicit Sliced(int rate) {
    int err = 0;
    int32_t used = 0;
    OpusDecoder* st = opusSliceDecoderCreate(rate, 1, &err, mem.data(), static_cast<int32_t>(mem.size() * 8), &used);
    EXPECT_EQ(err, OPUS_OK);
    EXPECT_EQ(used, opus_decoder_get_size(1));
    opusSliceInit(&d, st, rate);
  }
};

TEST(OpusSlice, MultiFramePacketInSlicesEqualsOneCallDecode) {
  for (int rate : {8000, 16000}) {
    const int per = rate / 50;  // 20 ms frames
    const std::vector<uint8_t> pkt = multiFramePacket(rate, OPUS_APPLICATION_VOIP, per, 3);
    int err = 0;
    OpusDecoder* whole = opus_decoder_create(rate, 1, &err);
    std::vector<int16_t> ref(3 * per);
    ASSERT_EQ(opus_decode(whole, pkt.data(), static_cast<int>(pkt.size()), ref.data(), 3 * per, 0), 3 * per);
    opus_decoder_destroy(whole);

    Sliced s(rate);
    std::vector<int16_t> got;
    for (int call = 0; call < 3; ++call) {
      std::vector<int16_t> pcm(per);
      int16_t* outBufp = nullptr;
      int unfinished = -1;
      // Later calls bring a payload of their own, which the kept packet overrides.
      const int r = opusSliceDecode(&s.d, pkt.data(), static_cast<int>(pkt.size()), pcm.data(), per, 0, &outBufp, &unfinished);
      ASSERT_EQ(r, per);
      EXPECT_EQ(outBufp, pcm.data());
      EXPECT_EQ(unfinished, call < 2 ? 1 : 0);
      got.insert(got.end(), pcm.begin(), pcm.end());
    }
    EXPECT_EQ(got, ref) << "rate " << rate;
  }
}

TEST(OpusSlice, TwoFramesPerCallAndAConcealmentCallBetween) {
  const int rate = 8000, per = 160;
  const std::vector<uint8_t> pkt = multiFramePacket(rate, OPUS_APPLICATION_VOIP, per, 3);
  Sliced s(rate);
  std::vector<int16_t> pcm(2 * per);
  int16_t* outBufp = nullptr;
  int unfinished = 0;
  EXPECT_EQ(opusSliceDecode(&s.d, pkt.data(), static_cast<int>(pkt.size()), pcm.data(), 2 * per, 0, &outBufp, &unfinished), 2 * per);
  EXPECT_EQ(unfinished, 1);
  // A call without data continues the kept packet instead of concealing.
  EXPECT_EQ(opusSliceDecode(&s.d, nullptr, 0, pcm.data(), 2 * per, 1, &outBufp, &unfinished), per);
  EXPECT_EQ(unfinished, 0);
  // Nothing kept: concealment, a whole number of 2.5 ms only.
  EXPECT_EQ(opusSliceDecode(&s.d, nullptr, 0, pcm.data(), per, 1, &outBufp, &unfinished), per);
  EXPECT_EQ(opusSliceDecode(&s.d, nullptr, 0, pcm.data(), 15, 1, &outBufp, &unfinished), OPUS_BAD_ARG);
}

TEST(OpusSlice, LongSilkFrameGoesToTheDecodersOwnBufferAndLongCeltFrameFails) {
  // 60 ms of narrowband speech at a low rate is one SILK-only frame.
  {
    int err = 0;
    OpusEncoder* enc = opus_encoder_create(8000, 1, OPUS_APPLICATION_VOIP, &err);
    opus_encoder_ctl(enc, OPUS_SET_BITRATE(12000));
    std::vector<uint8_t> pkt(1275);
    const std::vector<int16_t> pcm = tone(480, 8000, 300);
    const int n = opus_encode(enc, pcm.data(), 480, pkt.data(), 1275);
    opus_encoder_destroy(enc);
    ASSERT_GT(n, 0);
    ASSERT_LT(pkt[0] >> 3, 12) << "expected a SILK-only packet";
    ASSERT_EQ(opus_packet_get_nb_frames(pkt.data(), n), 1);
    Sliced s(8000);
    std::vector<int16_t> out(160);
    int16_t* outBufp = nullptr;
    int unfinished = 1;
    EXPECT_EQ(opusSliceDecode(&s.d, pkt.data(), n, out.data(), 160, 0, &outBufp, &unfinished), 480);
    EXPECT_EQ(outBufp, s.d.out);
    EXPECT_EQ(unfinished, 0);
  }
  {
    const std::vector<uint8_t> pkt = multiFramePacket(8000, OPUS_APPLICATION_RESTRICTED_LOWDELAY, 160, 1);
    ASSERT_GE(pkt[0] >> 3, 16) << "expected a CELT-only packet";
    Sliced s(8000);
    std::vector<int16_t> out(80);
    int16_t* outBufp = nullptr;
    int unfinished = 1;
    EXPECT_EQ(opusSliceDecode(&s.d, pkt.data(), static_cast<int>(pkt.size()), out.data(), 80, 0, &outBufp, &unfinished), -2);
    EXPECT_EQ(unfinished, 0);
  }
}

TEST(OpusSlice, CreationChecksRateChannelsApplicationAndRoom) {
  std::vector<uint64_t> mem(opus_encoder_get_size(1) / 8 + 1);
  const int32_t room = static_cast<int32_t>(mem.size() * 8);
  int err = 0;
  int32_t used = 5;
  EXPECT_EQ(opusSliceDecoderCreate(44100, 1, &err, mem.data(), room, &used), nullptr);
  EXPECT_EQ(err, -1);
  EXPECT_EQ(used, 0);
  EXPECT_EQ(opusSliceDecoderCreate(8000, 3, &err, mem.data(), room, &used), nullptr);
  EXPECT_EQ(err, -1);
  EXPECT_EQ(opusSliceDecoderCreate(8000, 1, &err, mem.data(), opus_decoder_get_size(1) - 1, &used), nullptr);
  EXPECT_EQ(err, -7);
  EXPECT_EQ(opusSliceEncoderCreate(16000, 1, 1234, &err, mem.data(), room, &used), nullptr);
  EXPECT_EQ(err, -1);
  EXPECT_EQ(opusSliceEncoderCreate(16000, 1, OPUS_APPLICATION_VOIP, &err, mem.data(), opus_encoder_get_size(1) - 8, &used), nullptr);
  EXPECT_EQ(err, -7);
  EXPECT_EQ(opusSliceEncoderCreate(16000, 1, OPUS_APPLICATION_VOIP, &err, mem.data(), room, &used),
            reinterpret_cast<OpusEncoder*>(mem.data()));
  EXPECT_EQ(err, 0);
  EXPECT_EQ(used, opus_encoder_get_size(1));
}

}  // namespace
