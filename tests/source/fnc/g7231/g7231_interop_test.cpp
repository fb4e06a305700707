// Interoperability of the G.723.1 codec with libavcodec's independent implementation: each side
// decodes the other's streams, and both decoders play every frame sample for sample alike, with the
// pitch and formant post-filters and the gain scaling on and off. The gain scaling is where a
// departure shows first: its energy ratio is the quotient of the normalised energies shifted down
// afterwards, and shifting the numerator before the division instead drops the quotient's low bits
// under the square root and leaves most post-filtered frames a few steps apart.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "g7231_avcodec.h"
#include "g7231_test_util.h"

namespace {

using g7231_test::segmental_snr;

// The first 240-sample frame in which the two decodes differ, -1 when none does.
long first_differing_frame(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
  if (a.size() != b.size()) return 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return static_cast<long>(i / 240);
  }
  return -1;
}

struct Decoded {
  std::vector<std::int16_t> ours, theirs;
};

// libavcodec encodes (6.3 kbit/s); both decoders decode its packets.
Decoded decode_libavcodec_stream(bool postfilter) {
  g7231_test::AvG7231 enc(true), dec(false, postfilter);
  EXPECT_TRUE(enc.ok() && dec.ok());
  G7231_Decod_State ours;
  g7231_test::init_decoder(&ours, 0, postfilter ? 1 : 0);
  Decoded d;
  const auto speech = g7231_test::load_speech(8000 * 8);
  for (std::size_t n = 0; n + 240 <= speech.size(); n += 240) {
    const auto packet = enc.encode(&speech[n]);
    if (packet.empty()) continue;
    std::int16_t a[240], b[240], words[12] = {};
    EXPECT_TRUE(dec.decode(packet, a));
    std::memcpy(words, packet.data(), std::min<std::size_t>(packet.size(), sizeof words));
    EXPECT_EQ(1, g7231_Decod(b, words, 0, &ours));
    d.theirs.insert(d.theirs.end(), a, a + 240);
    d.ours.insert(d.ours.end(), b, b + 240);
  }
  return d;
}

TEST(G7231Interop, OurDecoderDecodesLibavcodecStreams) {
  for (bool postfilter : {false, true}) {
    const Decoded d = decode_libavcodec_stream(postfilter);
    EXPECT_EQ(-1, first_differing_frame(d.theirs, d.ours)) << "post-filters " << (postfilter ? "on" : "off");
  }
}

// Our encoder at each rate; libavcodec and our decoder decode every frame.
void expect_libavcodec_decodes_ours(G7231_Crate rate, int vad, const std::vector<std::int16_t>& signal,
                                    double min_snr_vs_input, int* frame_counts) {
  g7231_test::AvG7231 dec(false);
  ASSERT_TRUE(dec.ok());
  G7231_Coder_State enc;
  g7231_test::init_encoder(&enc, rate, vad);
  G7231_Decod_State ours;
  g7231_test::init_decoder(&ours, rate, 1);
  std::vector<std::int16_t> a_all, b_all;
  for (std::size_t n = 0; n + 240 <= signal.size(); n += 240) {
    std::int16_t in[240], words[12], a[240], b[240];
    std::memcpy(in, &signal[n], sizeof in);
    const int type = g7231_Coder(in, words, &enc);
    ++frame_counts[type];
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(words);
    const std::vector<std::uint8_t> packet(bytes, bytes + g7231_test::payload_bytes(type));
    ASSERT_TRUE(dec.decode(packet, a)) << "frame " << n / 240 << " type " << type;
    g7231_Decod(b, words, 0, &ours);
    a_all.insert(a_all.end(), a, a + 240);
    b_all.insert(b_all.end(), b, b + 240);
  }
  std::vector<std::int16_t> delayed(signal.begin(), signal.end() - 60);
  std::vector<std::int16_t> ours_aligned(b_all.begin() + 60, b_all.end());
  const double vs_input = segmental_snr(delayed, ours_aligned);
  std::printf("%s kbit/s%s: our decode vs input %.2f dB\n", rate == 0 ? "6.3" : "5.3", vad ? " with VAD" : "",
              vs_input);
  EXPECT_EQ(-1, first_differing_frame(a_all, b_all)) << (rate == 0 ? "6.3" : "5.3") << (vad ? " with VAD" : "");
  EXPECT_GE(vs_input, min_snr_vs_input);
}

TEST(G7231Interop, LibavcodecDecodesOurStreamsAtBothRates) {
  const auto speech = g7231_test::load_speech(8000 * 8);
  int counts[4] = {};
  expect_libavcodec_decodes_ours(0, 0, speech, 9.0, counts);
  EXPECT_EQ(int(speech.size() / 240), counts[0]);
  int counts53[4] = {};
  expect_libavcodec_decodes_ours(1, 0, speech, 7.5, counts53);
  EXPECT_EQ(int(speech.size() / 240), counts53[1]);
}

TEST(G7231Interop, SilenceCompressionStreamsDecodeOnBothSides) {
  const auto signal = g7231_test::speech_with_pauses(8);
  for (G7231_Crate rate : {0, 1}) {
    int counts[4] = {};
    expect_libavcodec_decodes_ours(rate, 1, signal, 3.0, counts);
    std::printf("frames: %d speech, %d SID, %d untransmitted\n", counts[rate], counts[2], counts[3]);
    EXPECT_GT(counts[2], 0);
    EXPECT_GT(counts[3], counts[2]);
    EXPECT_GT(counts[rate], 0);
  }
}

}  // namespace
