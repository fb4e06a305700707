// Bit-exact agreement of the full-rate codec with an independent implementation of the same
// standard: parameters, packed frames and decoded samples, frame by frame.
#include <gsm.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "gsmfr.h"
#include "gsmfr_test_signals.h"

namespace {

using Frame = std::array<unsigned char, 33>;

struct OracleCodec {
  gsm enc = gsm_create();
  gsm dec = gsm_create();
  ~OracleCodec() {
    gsm_destroy(enc);
    gsm_destroy(dec);
  }
};

Frame pack_frame(const std::int16_t* parm) {
  std::int16_t serial[GSMFR_SERIAL_BITS];
  gsmfr_prm2bits(parm, serial);
  Frame f{};
  f[0] = 0xD0;
  for (int i = 0; i < GSMFR_SERIAL_BITS; ++i) {
    const int bit = i + 4;
    if (serial[i]) f[bit / 8] |= static_cast<unsigned char>(0x80 >> (bit % 8));
  }
  return f;
}

void unpack_frame(const Frame& f, std::int16_t* parm) {
  std::int16_t serial[GSMFR_SERIAL_BITS];
  for (int i = 0; i < GSMFR_SERIAL_BITS; ++i) {
    const int bit = i + 4;
    serial[i] = (f[bit / 8] >> (7 - bit % 8)) & 1;
  }
  gsmfr_bits2prm(serial, parm);
}

// Encodes and decodes a signal with both implementations and counts differing frames.
void expect_agreement(const std::vector<std::int16_t>& signal, const std::string& name) {
  OracleCodec oracle;
  GSMFR_ENCSTRUCT enc;
  GSMFR_DECSTRUCT dec;
  gsmfr_reset_enc(&enc, 0);
  gsmfr_reset_dec(&dec);
  const std::size_t frames = signal.size() / GSMFR_FRAME_LEN;
  ASSERT_GT(frames, 0u);
  int param_mismatch = 0, frame_mismatch = 0, sample_mismatch = 0;
  for (std::size_t n = 0; n < frames; ++n) {
    std::int16_t in[GSMFR_FRAME_LEN];
    std::memcpy(in, &signal[n * GSMFR_FRAME_LEN], sizeof in);
    std::int16_t ours[GSMFR_NUM_DEC_PRM];
    gsmfr_encode(&enc, in, ours);
    EXPECT_EQ(0, std::memcmp(in, &signal[n * GSMFR_FRAME_LEN], sizeof in)) << "input changed";

    Frame theirs_frame;
    gsm_encode(oracle.enc, in, theirs_frame.data());
    gsm_signal theirs[GSMFR_NUM_PRM];
    ASSERT_EQ(0, gsm_explode(oracle.enc, theirs_frame.data(), theirs));
    if (std::memcmp(ours, theirs, sizeof theirs) != 0 && param_mismatch++ == 0) {
      for (int i = 0; i < GSMFR_NUM_PRM; ++i)
        EXPECT_EQ(theirs[i], ours[i]) << name << " frame " << n << " parameter " << i;
    }
    if (pack_frame(ours) != theirs_frame) ++frame_mismatch;

    std::int16_t decoded[GSMFR_FRAME_LEN];
    std::int16_t reference[GSMFR_FRAME_LEN];
    std::int16_t prm[GSMFR_NUM_DEC_PRM];
    unpack_frame(theirs_frame, prm);
    gsmfr_decode(&dec, prm, 0, decoded);
    ASSERT_EQ(0, gsm_decode(oracle.dec, theirs_frame.data(), reference));
    if (std::memcmp(decoded, reference, sizeof decoded) != 0) ++sample_mismatch;
  }
  EXPECT_EQ(0, param_mismatch) << name << ": frames with other parameters out of " << frames;
  EXPECT_EQ(0, frame_mismatch) << name << ": packed frames differing out of " << frames;
  EXPECT_EQ(0, sample_mismatch) << name << ": decoded frames differing out of " << frames;
}

TEST(GsmfrOracle, SpeechMatchesFrameByFrame) {
  const auto speech = gsmfr_test::load_speech(8000 * 13);
  ASSERT_GE(speech.size(), 8000u * 10);
  expect_agreement(speech, "speech");
}

TEST(GsmfrOracle, LoudSpeechMatches) {
  auto speech = gsmfr_test::load_speech(8000 * 4);
  for (auto& s : speech) s = static_cast<std::int16_t>(std::max(-32768, std::min(32767, s * 6)));
  expect_agreement(speech, "loud speech");
}

TEST(GsmfrOracle, NoiseAtSeveralLevelsMatches) {
  expect_agreement(gsmfr_test::noise(160 * 100, 8000, 1), "noise 8000");
  expect_agreement(gsmfr_test::noise(160 * 100, 300, 2), "noise 300");
  expect_agreement(gsmfr_test::noise(160 * 100, 3, 3), "noise 3");
}

TEST(GsmfrOracle, SilenceMatches) {
  expect_agreement(std::vector<std::int16_t>(160 * 20, 0), "silence");
  expect_agreement(std::vector<std::int16_t>(160 * 20, -1), "minus one");
}

TEST(GsmfrOracle, FullScaleMatches) {
  expect_agreement(gsmfr_test::full_scale(160 * 150), "full scale");
  expect_agreement(std::vector<std::int16_t>(160 * 10, 32767), "positive rail");
  expect_agreement(std::vector<std::int16_t>(160 * 10, -32768), "negative rail");
}

// Arbitrary received frames (any lag code, gain, grid and pulse) decode identically, including
// lag codes outside 40..120 that fall back to the previous lag.
TEST(GsmfrOracle, ArbitraryFramesDecodeIdentically) {
  OracleCodec oracle;
  GSMFR_DECSTRUCT dec;
  gsmfr_reset_dec(&dec);
  gsmfr_test::Lcg g{99};
  int mismatches = 0;
  for (int n = 0; n < 400; ++n) {
    Frame f;
    for (auto& b : f) b = static_cast<unsigned char>(g.next() >> 24);
    f[0] = static_cast<unsigned char>(0xD0 | (f[0] & 0x0F));
    std::int16_t prm[GSMFR_NUM_DEC_PRM];
    unpack_frame(f, prm);
    std::int16_t ours[GSMFR_FRAME_LEN];
    std::int16_t theirs[GSMFR_FRAME_LEN];
    gsmfr_decode(&dec, prm, 0, ours);
    ASSERT_EQ(0, gsm_decode(oracle.dec, f.data(), theirs));
    if (std::memcmp(ours, theirs, sizeof ours) != 0) ++mismatches;
  }
  EXPECT_EQ(0, mismatches);
}

}  // namespace
