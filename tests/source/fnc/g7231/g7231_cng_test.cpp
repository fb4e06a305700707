// Silence compression of G.723.1: SID gain quantiser, the SID/untransmitted sequence of the
// encoder and comfort noise in the decoder.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "g7231_codec.h"
#include "g7231_test_util.h"

namespace {

TEST(G7231Cng, SidGainQuantiserIsMonotonicAndSaturates) {
  Word16 previous = -1;
  for (int q = 0; q < 64; ++q) {
    const Word16 g = g723_1_Dec_SidGain(static_cast<Word16>(q));
    EXPECT_GT(g, previous) << q;
    previous = g;
  }
  Word16 last = 0;
  for (int e = 1; e < 32000; e += 97) {
    const Word16 energy = static_cast<Word16>(e), shift = 0;
    const Word16 q = g723_1_Qua_SidGain(&energy, &shift, 0);
    EXPECT_GE(q, last) << e;
    EXPECT_LE(q, 63);
    last = q;
  }
  const Word16 huge = 32767, shift = -8;
  EXPECT_EQ(63, g723_1_Qua_SidGain(&huge, &shift, 0));
}

// After speech the first noise frame is a SID; a stationary background then mostly goes
// untransmitted. The decoder makes comfort noise from both.
TEST(G7231Cng, SpeechThenNoiseSendsSidThenNothing) {
  auto signal = g7231_test::load_speech(240 * 60);
  std::uint32_t seed = 9;
  for (int i = 0; i < 240 * 80; ++i) {
    seed = seed * 1664525u + 1013904223u;
    signal.push_back(static_cast<std::int16_t>(static_cast<int>((seed >> 16) % 61) - 30));
  }
  G7231_Coder_State enc;
  g7231_test::init_encoder(&enc, 0, 1);
  G7231_Decod_State dec;
  g7231_test::init_decoder(&dec, 0, 1);
  std::vector<int> types;
  std::vector<int> decoded_types;
  double noise_energy = 0, input_energy = 0;
  for (std::size_t n = 0; n + 240 <= signal.size(); n += 240) {
    Word16 in[240], w[12], out[240];
    std::memcpy(in, &signal[n], sizeof in);
    types.push_back(g7231_Coder(in, w, &enc));
    decoded_types.push_back(g7231_Decod(out, w, 0, &dec));
    if (n >= 240 * 100) {
      for (Word16 v : out) noise_energy += double(v) * v;
      for (int i = 0; i < 240; ++i) input_energy += double(signal[n + i]) * signal[n + i];
    }
  }
  std::size_t first_noise = 0;
  while (first_noise < types.size() && types[first_noise] == 0) ++first_noise;
  ASSERT_LT(first_noise, types.size());
  EXPECT_GE(first_noise, 60u);
  EXPECT_EQ(G7231_SID, types[first_noise]);
  int untransmitted = 0;
  for (std::size_t i = first_noise; i < types.size(); ++i) {
    EXPECT_NE(G7231_VOICER63, types[i]) << "frame " << i;
    untransmitted += types[i] == G7231_NOFRAME;
    EXPECT_EQ(types[i] == G7231_SID ? 2 : 0, decoded_types[i]);
  }
  EXPECT_GT(untransmitted, int(types.size() - first_noise) * 3 / 4);
  // Comfort noise at the level of the background (the decoder's output lags by 60 samples,
  // which does not matter for a stationary noise).
  const double level_db = 10 * std::log10(noise_energy / input_energy);
  EXPECT_NEAR(0.0, level_db, 1.5);
}

// An untransmitted frame right after speech (its SID lost) still makes comfort noise, from the
// energy of the last speech frame.
TEST(G7231Cng, LostFirstSidUsesTheLastSpeechEnergy) {
  const auto speech = g7231_test::load_speech(240 * 20);
  G7231_Coder_State enc;
  g7231_test::init_encoder(&enc, 1, 0);
  G7231_Decod_State dec;
  g7231_test::init_decoder(&dec, 1, 1);
  g7231_test::code_and_decode(speech, &enc, &dec);
  Word16 out[240];
  const Word16 nothing[12] = {3};
  EXPECT_EQ(0, g7231_Decod(out, nothing, 0, &dec));
  EXPECT_GT(dec.DecCng.SidGain, 0);
  double energy = 0;
  for (Word16 v : out) energy += double(v) * v;
  EXPECT_GT(energy, 0);
}

}  // namespace
