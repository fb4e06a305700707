// G.726 against libspandsp's independent implementation (bit-exact codes and samples at every rate
// and law), plus the codec's own edge behaviour.
#include "orvox_fixture.h"
#include "g726.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

namespace {

constexpr int kFrame = 40;

std::vector<std::int16_t> load_speech(std::size_t max_samples) {
  std::ifstream f(orvox_fixture::requireFile(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw"),
                  std::ios::binary);
  std::vector<std::int16_t> s(max_samples);
  f.read(reinterpret_cast<char *>(s.data()), static_cast<std::streamsize>(s.size() * 2));
  s.resize(static_cast<std::size_t>(f.gcount()) / 2);
  s.resize(s.size() / kFrame * kFrame);
  return s;
}

// Edge signals: full-scale square wave and extremes, silence, a swept tone, noise.
std::vector<std::int16_t> edge_signal() {
  std::vector<std::int16_t> s;
  for (int i = 0; i < 800; ++i) s.push_back(0);
  for (int i = 0; i < 1600; ++i) s.push_back((i / 20) % 2 ? 32767 : -32768);
  for (int i = 0; i < 400; ++i) s.push_back(-32768);
  for (int i = 0; i < 400; ++i) s.push_back(32767);
  double phase = 0;
  for (int i = 0; i < 8000; ++i) {
    const double f = 50.0 + 3900.0 * i / 8000.0;
    phase += 2 * M_PI * f / 8000.0;
    s.push_back(static_cast<std::int16_t>(32767 * std::sin(phase)));
  }
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> d(-32768, 32767);
  for (int i = 0; i < 2400; ++i) s.push_back(static_cast<std::int16_t>(d(rng)));
  for (int i = 0; i < 800; ++i) s.push_back(0);
  return s;
}

int spandsp_coding(G726_Law law) {
  switch (law) {
    case G726_ULAW: return G726_ENCODING_ULAW;
    case G726_ALAW: return G726_ENCODING_ALAW;
    default: return G726_ENCODING_LINEAR;
  }
}

// The words fed to our encoder for a linear signal: the samples themselves or their PCM codes.
std::vector<std::int16_t> to_line_side(const std::vector<std::int16_t> &pcm, G726_Law law) {
  std::vector<std::int16_t> out(pcm.size());
  for (std::size_t i = 0; i < pcm.size(); ++i) {
    if (law == G726_ULAW) {
      out[i] = linear_to_ulaw(pcm[i]);
    } else if (law == G726_ALAW) {
      out[i] = linear_to_alaw(pcm[i]);
    } else {
      out[i] = pcm[i];
    }
  }
  return out;
}

struct Combination {
  G726_Rate rate;
  G726_Law law;
};

std::string name_of(const testing::TestParamInfo<Combination> &info) {
  static const char *laws[] = {"Ulaw", "Alaw", "Linear"};
  return std::to_string(info.param.rate * 8) + "kbps_" + laws[info.param.law];
}

class G726Oracle : public testing::TestWithParam<Combination> {
 protected:
  // Runs both encoders frame by frame (our encoder in place, as the codec service does) and
  // compares codes; returns our codes.
  std::vector<std::int16_t> encode_both(const std::vector<std::int16_t> &pcm) {
    const auto [rate, law] = GetParam();
    G726_State ours{};
    EXPECT_EQ(g726_configure(&ours, rate, law), 0);
    g726_state_t *theirs = g726_init(nullptr, rate * 8000, spandsp_coding(law), G726_PACKING_NONE);
    const std::vector<std::int16_t> line = to_line_side(pcm, law);
    std::vector<std::int16_t> codes(line.size());
    std::size_t mismatches = 0;
    for (std::size_t f = 0; f < line.size(); f += kFrame) {
      std::int16_t buf[kFrame];
      std::uint8_t their_codes[kFrame];
      std::copy(line.begin() + f, line.begin() + f + kFrame, buf);
      if (law == G726_LINEAR) {
        g726_encode(theirs, their_codes, buf, kFrame);
      } else {
        std::uint8_t bytes[kFrame];
        for (int i = 0; i < kFrame; ++i) bytes[i] = static_cast<std::uint8_t>(buf[i]);
        g726_encode(theirs, their_codes, reinterpret_cast<const std::int16_t *>(bytes), kFrame);
      }
      ::g726_encode(buf, buf, &ours, kFrame);
      for (int i = 0; i < kFrame; ++i) {
        codes[f + i] = buf[i];
        if (buf[i] != their_codes[i] && mismatches++ < 5) {
          ADD_FAILURE() << "code mismatch at sample " << f + i << ": " << buf[i] << " vs "
                        << int(their_codes[i]);
        }
      }
    }
    g726_free(theirs);
    EXPECT_EQ(mismatches, 0u);
    return codes;
  }

  // Returns how many linear output samples had to saturate.
  std::size_t decode_both(const std::vector<std::int16_t> &codes) {
    const auto [rate, law] = GetParam();
    G726_State ours{};
    EXPECT_EQ(g726_configure(&ours, rate, law), 0);
    g726_state_t *theirs = g726_init(nullptr, rate * 8000, spandsp_coding(law), G726_PACKING_NONE);
    // The oracle's linear output wraps where the reconstructed signal leaves the 14-bit range;
    // ours saturates. A shadow decoder run sample by sample gives the reconstructed signal, so
    // both the oracle's wrapped value and our saturation can be checked exactly.
    G726_State shadow{};
    g726_configure(&shadow, rate, law);
    std::size_t mismatches = 0;
    std::size_t saturated = 0;
    for (std::size_t f = 0; f < codes.size(); f += kFrame) {
      std::int16_t buf[kFrame];
      std::uint8_t in[kFrame];
      for (int i = 0; i < kFrame; ++i) {
        buf[i] = codes[f + i];
        in[i] = static_cast<std::uint8_t>(codes[f + i]);
      }
      std::int16_t their_out[kFrame] = {};
      g726_decode(theirs, their_out, in, kFrame);
      ::g726_decode(buf, buf, &ours, kFrame);
      for (int i = 0; i < kFrame; ++i) {
        int expected = reinterpret_cast<const std::uint8_t *>(their_out)[i];
        if (law == G726_LINEAR) {
          std::int16_t sr, se, y;
          g726_common(0, codes[f + i], &sr, &se, &y, &shadow);
          const int scaled = sr * 4;
          if (static_cast<std::int16_t>(scaled) != their_out[i] && mismatches++ < 5) {
            ADD_FAILURE() << "reconstructed signal differs at " << f + i;
          }
          expected = scaled > 32767 ? 32767 : scaled < -32768 ? -32768 : scaled;
          saturated += expected != scaled ? 1 : 0;
        }
        if (buf[i] != expected && mismatches++ < 5) {
          ADD_FAILURE() << "sample mismatch at " << f + i << ": " << buf[i] << " vs " << expected;
        }
      }
    }
    g726_free(theirs);
    EXPECT_EQ(mismatches, 0u);
    return saturated;
  }
};

TEST_P(G726Oracle, SpeechCodesAndSamplesMatch) {
  const auto codes = encode_both(load_speech(8000 * 4));
  decode_both(codes);
}

TEST_P(G726Oracle, EdgeSignalsMatch) {
  const auto codes = encode_both(edge_signal());
  const std::size_t saturated = decode_both(codes);
  if (GetParam().law == G726_LINEAR) {
    EXPECT_GT(saturated, 0u) << "full scale must reach the limits";
  }
}

TEST_P(G726Oracle, RandomCodeStreamsDecodeAlike) {
  std::mt19937 rng(GetParam().rate * 31 + GetParam().law);
  std::uniform_int_distribution<int> d(0, (1 << GetParam().rate) - 1);
  std::vector<std::int16_t> codes(8000);
  for (auto &c : codes) c = static_cast<std::int16_t>(d(rng));
  // Runs of the extreme codes drive the predictor and the scale factor to their limits.
  for (int i = 2000; i < 2800; ++i) codes[i] = static_cast<std::int16_t>((1 << (GetParam().rate - 1)) - 1);
  for (int i = 4000; i < 4800; ++i) codes[i] = static_cast<std::int16_t>((i / 3) % 2 ? (1 << (GetParam().rate - 1)) - 1 : (1 << GetParam().rate) - 1 - ((1 << (GetParam().rate - 1)) - 1));
  decode_both(codes);
}

INSTANTIATE_TEST_SUITE_P(AllRatesAndLaws, G726Oracle,
                         testing::Values(Combination{G726_16_KBPS, G726_ULAW},
                                         Combination{G726_16_KBPS, G726_ALAW},
                                         Combination{G726_16_KBPS, G726_LINEAR},
                                         Combination{G726_24_KBPS, G726_ULAW},
                                         Combination{G726_24_KBPS, G726_ALAW},
                                         Combination{G726_24_KBPS, G726_LINEAR},
                                         Combination{G726_32_KBPS, G726_ULAW},
                                         Combination{G726_32_KBPS, G726_ALAW},
                                         Combination{G726_32_KBPS, G726_LINEAR},
                                         Combination{G726_40_KBPS, G726_ULAW},
                                         Combination{G726_40_KBPS, G726_ALAW},
                                         Combination{G726_40_KBPS, G726_LINEAR}),
                         name_of);

std::vector<std::int16_t> decode_stream(G726_State *s, std::vector<std::int16_t> codes) {
  for (std::size_t f = 0; f + kFrame <= codes.size(); f += kFrame) {
    ::g726_decode(&codes[f], &codes[f], s, kFrame);
  }
  return codes;
}

std::vector<std::int16_t> random_codes(int rate, unsigned seed, std::size_t n = 4000) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> d(0, (1 << rate) - 1);
  std::vector<std::int16_t> codes(n);
  for (auto &c : codes) c = static_cast<std::int16_t>(d(rng));
  return codes;
}

TEST(G726Codec, SilenceFromAFreshEncoderCodesToTheZeroLevel) {
  const int expected_first[] = {0, 7, 15, 31};
  for (int rate = 2; rate <= 5; ++rate) {
    G726_State enc{}, dec{};
    ASSERT_EQ(g726_configure(&enc, static_cast<G726_Rate>(rate), G726_LINEAR), 0);
    ASSERT_EQ(g726_configure(&dec, static_cast<G726_Rate>(rate), G726_LINEAR), 0);
    std::int16_t buf[kFrame] = {};
    ::g726_encode(buf, buf, &enc, kFrame);
    EXPECT_EQ(buf[0], expected_first[rate - 2]) << "rate " << rate;
    if (rate == 2) continue;
    for (int i = 0; i < kFrame; ++i) EXPECT_EQ(buf[i], expected_first[rate - 2]);
    ::g726_decode(buf, buf, &dec, kFrame);
    for (int i = 0; i < kFrame; ++i) EXPECT_EQ(buf[i], 0);
  }
}

TEST(G726Codec, EncoderConvertsTheCallersBufferInPlace) {
  G726_State lin{}, alaw{};
  g726_configure(&lin, G726_32_KBPS, G726_LINEAR);
  g726_configure(&alaw, G726_32_KBPS, G726_ALAW);
  std::int16_t in[kFrame], out[kFrame];
  for (int i = 0; i < kFrame; ++i) in[i] = i % 2 ? -32768 : 32767;
  ::g726_encode(in, out, &lin, kFrame);
  EXPECT_EQ(in[1], -8192);
  EXPECT_EQ(in[0], 8191);
  for (int i = 0; i < kFrame; ++i) in[i] = static_cast<std::int16_t>(i * 5);
  ::g726_encode(in, out, &alaw, kFrame);
  for (int i = 0; i < kFrame; ++i) EXPECT_EQ(in[i], (i * 5) ^ 0x55);
}

TEST(G726Codec, ResetAndReconfigurationRestoreTheStartState) {
  const auto codes = random_codes(5, 3);
  G726_State a{};
  g726_configure(&a, G726_40_KBPS, G726_LINEAR);
  const auto first = decode_stream(&a, codes);
  g726_reset(&a);
  EXPECT_EQ(decode_stream(&a, codes), first);

  // Rate 5 leaks with a longer shift; configuring rate 4 afterwards must give back the
  // 32 kbit/s behaviour of a fresh state.
  const auto codes4 = random_codes(4, 5);
  G726_State fresh{};
  g726_configure(&fresh, G726_32_KBPS, G726_LINEAR);
  g726_configure(&a, G726_32_KBPS, G726_LINEAR);
  EXPECT_EQ(decode_stream(&a, codes4), decode_stream(&fresh, codes4));
}

TEST(G726Codec, RateOutsideTwoToFiveIsRefusedAndCodesNothing) {
  for (int rate : {0, 1, 6, 7, -1}) {
    G726_State s{};
    EXPECT_EQ(g726_configure(&s, static_cast<G726_Rate>(rate), G726_LINEAR), -1);
    std::int16_t buf[kFrame];
    for (int i = 0; i < kFrame; ++i) buf[i] = static_cast<std::int16_t>(1000 * i);
    ::g726_encode(buf, buf, &s, kFrame);
    for (int i = 0; i < kFrame; ++i) EXPECT_EQ(buf[i], 0);
    for (int i = 0; i < kFrame; ++i) buf[i] = 31;
    ::g726_decode(buf, buf, &s, kFrame);
    for (int i = 0; i < kFrame; ++i) EXPECT_EQ(buf[i], 0);
    EXPECT_EQ(g726_reset(&s), -1);
  }
}

TEST(G726Codec, CodesWiderThanTheRateAreMaskedAndPcmInputToEightBits) {
  for (int rate = 2; rate <= 5; ++rate) {
    for (G726_Law law : {G726_ULAW, G726_ALAW, G726_LINEAR}) {
      auto codes = random_codes(rate, 11 + rate);
      auto dirty = codes;
      for (std::size_t i = 0; i < dirty.size(); ++i) {
        dirty[i] = static_cast<std::int16_t>(dirty[i] | (i % 3 == 0 ? 0x7FE0 : -0x4000));
      }
      G726_State clean_state{}, dirty_state{};
      g726_configure(&clean_state, static_cast<G726_Rate>(rate), law);
      g726_configure(&dirty_state, static_cast<G726_Rate>(rate), law);
      EXPECT_EQ(decode_stream(&dirty_state, dirty), decode_stream(&clean_state, codes));
    }
  }
  // PCM-law encoder input beyond eight bits reads its low byte only.
  G726_State a{}, b{};
  g726_configure(&a, G726_32_KBPS, G726_ULAW);
  g726_configure(&b, G726_32_KBPS, G726_ULAW);
  std::int16_t clean[kFrame], dirty[kFrame];
  for (int i = 0; i < kFrame; ++i) {
    clean[i] = static_cast<std::int16_t>((i * 37) & 0xFF);
    dirty[i] = static_cast<std::int16_t>(clean[i] | (i % 2 ? 0x7F00 : -32768));
  }
  ::g726_encode(clean, clean, &a, kFrame);
  ::g726_encode(dirty, dirty, &b, kFrame);
  for (int i = 0; i < kFrame; ++i) EXPECT_EQ(dirty[i], clean[i]);
}

TEST(G726Codec, CompressorsMapTheMostNegativeSignalToTheNegativeEnd) {
  std::int16_t sr = -32768;
  EXPECT_EQ(g726_ulaw_compress(&sr), 0x7F);
  EXPECT_EQ(g726_alaw_compress(&sr), 0x00);
}

TEST(G726Codec, ZeroCoefficientStillContributesAgainstLargeHistory) {
  // Six history rows of 15 significant bits with mantissa 63; zero coefficients count with
  // mantissa 32 and exponent 0: each product is ((63 * 32 + 48) >> 4) >> 4 = 8.
  std::int16_t dq_dat[27] = {}, sr_dat[9] = {};
  for (int r = 0; r < 9; ++r) {
    dq_dat[3 * r] = 15 - 19;
    dq_dat[3 * r + 1] = 63 * 8;
    dq_dat[3 * r + 2] = 0x7E00;
  }
  for (int r = 0; r < 3; ++r) {
    sr_dat[3 * r] = 11 - 19;
    sr_dat[3 * r + 1] = 63 * 8;
    sr_dat[3 * r + 2] = 0x07E0;
  }
  const std::int16_t b[6] = {};
  std::int16_t sezi = -1;
  EXPECT_EQ(g726_PoleZeroFilt(&sezi, b, 0, 0, dq_dat, sr_dat), 48);
  EXPECT_EQ(sezi, 48);
}

}  // namespace
