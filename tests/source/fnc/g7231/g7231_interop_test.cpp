// Interoperability of the G.723.1 codec with libavcodec's independent implementation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "g7231.h"
#include "g7231_avcodec.h"

namespace {

std::vector<std::int16_t> load_speech(std::size_t max_samples) {
  std::ifstream f(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw", std::ios::binary);
  std::vector<std::int16_t> s(max_samples);
  f.read(reinterpret_cast<char*>(s.data()), static_cast<std::streamsize>(s.size() * 2));
  s.resize(static_cast<std::size_t>(f.gcount()) / 2 / 240 * 240);
  return s;
}

// Segmental SNR in dB of b against a over 240-sample segments (segments clipped to -10..60 dB,
// silent reference segments skipped).
double segmental_snr(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
  double sum = 0;
  int n = 0;
  for (std::size_t s = 0; s + 240 <= a.size(); s += 240) {
    double sig = 0, err = 0;
    for (std::size_t i = s; i < s + 240; ++i) {
      sig += double(a[i]) * a[i];
      err += (double(a[i]) - b[i]) * (double(a[i]) - b[i]);
    }
    if (sig < 240.0 * 100) continue;
    double snr = err == 0 ? 60 : 10 * std::log10(sig / err);
    sum += std::min(60.0, std::max(-10.0, snr));
    ++n;
  }
  return n ? sum / n : 60;
}

double identical_share(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
  std::size_t same = 0;
  for (std::size_t i = 0; i < a.size(); ++i) same += a[i] == b[i];
  return a.empty() ? 1 : double(same) / a.size();
}

std::vector<std::int16_t> words_of(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> w(12, 0);
  std::memcpy(w.data(), bytes.data(), std::min<std::size_t>(bytes.size(), 24));
  return w;
}

TEST(G7231Interop, OurDecoderDecodesLibavcodecStreams) {
  g7231_test::AvG7231 enc(true), dec(false);
  ASSERT_TRUE(enc.ok());
  ASSERT_TRUE(dec.ok());
  const auto speech = load_speech(8000 * 8);
  G7231_Decod_State ours;
  g7231_Init_Decod(&ours.DecStat);
  ours.WrkRate = 0;
  ours.UsePf = 1;
  g7231_Init_Dec_Cng(&ours.DecCng);

  std::vector<std::int16_t> ref, out;
  for (std::size_t n = 0; n + 240 <= speech.size(); n += 240) {
    const auto packet = enc.encode(&speech[n]);
    if (packet.empty()) continue;
    ASSERT_EQ(24u, packet.size());
    std::int16_t a[240], b[240];
    ASSERT_TRUE(dec.decode(packet, a));
    const auto words = words_of(packet);
    EXPECT_EQ(1, g7231_Decod(b, words.data(), 0, &ours));
    ref.insert(ref.end(), a, a + 240);
    out.insert(out.end(), b, b + 240);
  }
  const double snr = segmental_snr(ref, out);
  const double same = identical_share(ref, out);
  std::printf("decoding libavcodec's 6.3 kbit/s stream: segmental SNR %.2f dB, identical samples %.4f\n", snr, same);
  EXPECT_GE(snr, 0.0);
}

}  // namespace
