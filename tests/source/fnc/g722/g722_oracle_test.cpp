// G.722 codewords and decoded samples against libspandsp's independent implementation.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "g722.h"
#include "g722_test_signals.h"

extern "C" {
#include <spandsp.h>
}

namespace {

using g722_test::kFrame;

struct Mismatches {
  std::size_t codes = 0;
  std::size_t samples = 0;
  std::size_t saturated = 0;  // where the oracle's synthesis wraps and ours saturates
};

Mismatches compare_with_oracle(const std::vector<std::int16_t> &pcm) {
  Mismatches m;
  g722_state enc, dec;
  G722_APXIII_WB_PLC_State plc;
  g722_reset_encoder(&enc);
  g722_reset_decoder(&dec);
  g722_Reset_WB_PLC(&plc);
  g722_encode_state_t *oracle_enc = g722_encode_init(nullptr, 64000, 0);
  g722_decode_state_t *oracle_dec = g722_decode_init(nullptr, 64000, 0);
  for (std::size_t f = 0; f + kFrame <= pcm.size(); f += kFrame) {
    std::int16_t codes[kFrame / 2];
    std::uint8_t oracle_codes[kFrame / 2];
    EXPECT_EQ(g722_enc(&pcm[f], codes, kFrame, &enc), kFrame / 2);
    g722_encode(oracle_enc, oracle_codes, &pcm[f], kFrame);
    for (int i = 0; i < kFrame / 2; ++i) {
      if (codes[i] != oracle_codes[i] && m.codes++ < 3) {
        ADD_FAILURE() << "codeword " << f / 2 + i << ": " << codes[i] << " vs " << int(oracle_codes[i]);
      }
    }
    std::int16_t out[kFrame], oracle_out[kFrame];
    EXPECT_EQ(g722_dec(codes, out, G722_MODE_1, kFrame / 2, &dec, &plc, 0), kFrame);
    g722_decode(oracle_dec, oracle_out, oracle_codes, kFrame / 2);
    for (int i = 0; i < kFrame; ++i) {
      if (out[i] == oracle_out[i]) continue;
      // Our synthesis saturates where the oracle's wraps round: the wrapped value then has the
      // opposite sign of the full-scale value we give.
      const bool wrapped = (out[i] == 32767 && oracle_out[i] < 0) || (out[i] == -32768 && oracle_out[i] >= 0);
      if (wrapped) {
        ++m.saturated;
      } else if (m.samples++ < 3) {
        ADD_FAILURE() << "sample " << f + i << ": " << out[i] << " vs " << oracle_out[i];
      }
    }
  }
  g722_encode_free(oracle_enc);
  g722_decode_free(oracle_dec);
  return m;
}

// One lower-rate mode both ways: our codewords decoded by us and by the oracle at that rate, and
// the oracle's codewords at that rate (the low bits dropped, high band moved down) decoded by us.
struct ModeMismatches {
  std::size_t ours = 0;
  std::size_t theirs = 0;
};

ModeMismatches compare_mode_with_oracle(const std::vector<std::int16_t> &pcm, g722_mode mode) {
  const int rate = mode == G722_MODE_2 ? 56000 : 48000;
  const int dropped = mode == G722_MODE_2 ? 1 : 2;  // lower-band bits the rate leaves out
  ModeMismatches m;
  g722_state enc, dec, dec2;
  G722_APXIII_WB_PLC_State plc, plc2;
  g722_reset_encoder(&enc);
  g722_reset_decoder(&dec);
  g722_reset_decoder(&dec2);
  g722_Reset_WB_PLC(&plc);
  g722_Reset_WB_PLC(&plc2);
  g722_decode_state_t *oracle_dec = g722_decode_init(nullptr, rate, 0);
  g722_encode_state_t *oracle_enc = g722_encode_init(nullptr, rate, 0);
  g722_decode_state_t *oracle_dec2 = g722_decode_init(nullptr, rate, 0);
  for (std::size_t f = 0; f + kFrame <= pcm.size(); f += kFrame) {
    // Ours to both decoders.
    std::int16_t codes[kFrame / 2];
    std::uint8_t narrow[kFrame / 2];
    g722_enc(&pcm[f], codes, kFrame, &enc);
    for (int i = 0; i < kFrame / 2; ++i) narrow[i] = static_cast<std::uint8_t>(codes[i] >> dropped);
    std::int16_t out[kFrame], oracle_out[kFrame];
    EXPECT_EQ(g722_dec(codes, out, mode, kFrame / 2, &dec, &plc, 0), kFrame);
    g722_decode(oracle_dec, oracle_out, narrow, kFrame / 2);
    for (int i = 0; i < kFrame; ++i) {
      if (out[i] != oracle_out[i] && m.ours++ < 3) {
        ADD_FAILURE() << "mode " << mode << " sample " << f + i << ": " << out[i] << " vs " << oracle_out[i];
      }
    }
    // The oracle's codewords at this rate to both decoders.
    std::uint8_t theirs[kFrame / 2];
    g722_encode(oracle_enc, theirs, &pcm[f], kFrame);
    std::int16_t wide[kFrame / 2];
    for (int i = 0; i < kFrame / 2; ++i) wide[i] = static_cast<std::int16_t>(theirs[i] << dropped);
    EXPECT_EQ(g722_dec(wide, out, mode, kFrame / 2, &dec2, &plc2, 0), kFrame);
    g722_decode(oracle_dec2, oracle_out, theirs, kFrame / 2);
    for (int i = 0; i < kFrame; ++i) {
      if (out[i] != oracle_out[i] && m.theirs++ < 3) {
        ADD_FAILURE() << "mode " << mode << " oracle codeword sample " << f + i << ": " << out[i]
                      << " vs " << oracle_out[i];
      }
    }
  }
  g722_decode_free(oracle_dec);
  g722_decode_free(oracle_dec2);
  g722_encode_free(oracle_enc);
  return m;
}

TEST(G722Oracle, LowerRateModesDecodeLikeTheOracleBothWays) {
  const auto speech = g722_test::speech_16k(16000 * 4);
  for (g722_mode mode : {G722_MODE_2, G722_MODE_3}) {
    const auto m = compare_mode_with_oracle(speech, mode);
    EXPECT_EQ(m.ours, 0u) << "mode " << mode;
    EXPECT_EQ(m.theirs, 0u) << "mode " << mode;
  }
}

TEST(G722Oracle, SpeechCodewordsAndSamplesMatch) {
  const auto m = compare_with_oracle(g722_test::speech_16k(16000 * 6));
  EXPECT_EQ(m.codes, 0u);
  EXPECT_EQ(m.samples, 0u);
  EXPECT_EQ(m.saturated, 0u);
}

TEST(G722Oracle, EdgeSignalsMatchAndSynthesisSaturates) {
  const auto m = compare_with_oracle(g722_test::edge_signal());
  EXPECT_EQ(m.codes, 0u);
  EXPECT_EQ(m.samples, 0u);
  EXPECT_GT(m.saturated, 0u) << "the full-scale square wave must drive the synthesis to its limits";
}

}  // namespace
