// G.726 frames (40 samples, 5 ms) per second, ours next to libspandsp's, per rate, linear PCM, on
// the speech fixture (the decoders both decode the codes our encoder made of it).
#include "g726.h"

#include <benchmark/benchmark.h>

#include "../util/bench_ratio.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

namespace {

constexpr int kFrame = 40;

// Ten seconds of the speech fixture (two tones when it is missing), whole frames.
std::vector<std::int16_t> test_signal() {
  std::ifstream f(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw", std::ios::binary);
  std::vector<std::int16_t> s(80000);
  f.read(reinterpret_cast<char *>(s.data()), static_cast<std::streamsize>(s.size() * 2));
  s.resize(static_cast<std::size_t>(f.gcount()) / 2 / kFrame * kFrame);
  if (s.empty()) {
    s.resize(8000);
    for (std::size_t i = 0; i < s.size(); ++i) {
      s[i] = static_cast<std::int16_t>(9000 * std::sin(i * 0.07) + 4000 * std::sin(i * 0.31));
    }
  }
  return s;
}

// Our encoder's codes of the test signal at `rate`.
std::vector<std::int16_t> test_codes(int rate) {
  auto pcm = test_signal();
  G726_State s{};
  g726_configure(&s, static_cast<G726_Rate>(rate), G726_LINEAR);
  g726_encode(pcm.data(), pcm.data(), &s, static_cast<int>(pcm.size()));
  return pcm;
}

void BM_OursEncode(benchmark::State &st) {
  const auto signal = test_signal();
  G726_State s{};
  g726_configure(&s, static_cast<G726_Rate>(st.range(0)), G726_LINEAR);
  std::size_t pos = 0;
  std::int16_t buf[kFrame];
  for (auto _ : st) {
    std::copy(signal.begin() + pos, signal.begin() + pos + kFrame, buf);
    g726_encode(buf, buf, &s, kFrame);
    benchmark::DoNotOptimize(buf);
    pos = (pos + kFrame) % signal.size();
  }
  st.counters["frames/s"] = benchmark::Counter(static_cast<double>(st.iterations()),
                                               benchmark::Counter::kIsRate);
}

void BM_SpandspEncode(benchmark::State &st) {
  const auto signal = test_signal();
  g726_state_t *s = g726_init(nullptr, static_cast<int>(st.range(0)) * 8000, G726_ENCODING_LINEAR,
                              G726_PACKING_NONE);
  std::size_t pos = 0;
  std::uint8_t codes[kFrame];
  for (auto _ : st) {
    g726_encode(s, codes, &signal[pos], kFrame);
    benchmark::DoNotOptimize(codes);
    pos = (pos + kFrame) % signal.size();
  }
  g726_free(s);
  st.counters["frames/s"] = benchmark::Counter(static_cast<double>(st.iterations()),
                                               benchmark::Counter::kIsRate);
}

void BM_OursDecode(benchmark::State &st) {
  const auto codes = test_codes(static_cast<int>(st.range(0)));
  G726_State s{};
  g726_configure(&s, static_cast<G726_Rate>(st.range(0)), G726_LINEAR);
  std::size_t pos = 0;
  std::int16_t buf[kFrame];
  for (auto _ : st) {
    std::copy(codes.begin() + pos, codes.begin() + pos + kFrame, buf);
    g726_decode(buf, buf, &s, kFrame);
    benchmark::DoNotOptimize(buf);
    pos = (pos + kFrame) % codes.size();
  }
  st.counters["frames/s"] = benchmark::Counter(static_cast<double>(st.iterations()),
                                               benchmark::Counter::kIsRate);
}

void BM_SpandspDecode(benchmark::State &st) {
  g726_state_t *s = g726_init(nullptr, static_cast<int>(st.range(0)) * 8000, G726_ENCODING_LINEAR,
                              G726_PACKING_NONE);
  const auto ours = test_codes(static_cast<int>(st.range(0)));
  const std::vector<std::uint8_t> codes(ours.begin(), ours.end());
  std::size_t pos = 0;
  std::int16_t out[kFrame];
  for (auto _ : st) {
    g726_decode(s, out, &codes[pos], kFrame);
    benchmark::DoNotOptimize(out);
    pos = (pos + kFrame) % codes.size();
  }
  g726_free(s);
  st.counters["frames/s"] = benchmark::Counter(static_cast<double>(st.iterations()),
                                               benchmark::Counter::kIsRate);
}

BENCHMARK(BM_OursEncode)->DenseRange(2, 5);
BENCHMARK(BM_SpandspEncode)->DenseRange(2, 5);
BENCHMARK(BM_OursDecode)->DenseRange(2, 5);
BENCHMARK(BM_SpandspDecode)->DenseRange(2, 5);

}  // namespace

int main(int argc, char** argv) {
  return orvox_bench::runWithRatios(argc, argv, {
      {"G.726 16 kbit/s encode", "BM_OursEncode/2", "BM_SpandspEncode/2"},
      {"G.726 24 kbit/s encode", "BM_OursEncode/3", "BM_SpandspEncode/3"},
      {"G.726 32 kbit/s encode", "BM_OursEncode/4", "BM_SpandspEncode/4"},
      {"G.726 40 kbit/s encode", "BM_OursEncode/5", "BM_SpandspEncode/5"},
      {"G.726 16 kbit/s decode", "BM_OursDecode/2", "BM_SpandspDecode/2"},
      {"G.726 24 kbit/s decode", "BM_OursDecode/3", "BM_SpandspDecode/3"},
      {"G.726 32 kbit/s decode", "BM_OursDecode/4", "BM_SpandspDecode/4"},
      {"G.726 40 kbit/s decode", "BM_OursDecode/5", "BM_SpandspDecode/5"}});
}
