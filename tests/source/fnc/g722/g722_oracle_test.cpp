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
