// G.722 encode and decode time per 10 ms frame, ours next to libspandsp's; ours also with the
// concealment's per-frame analysis (always on in our decoder) and for a lost frame; on the speech
// fixture.
#include <benchmark/benchmark.h>

#include "../util/bench_ratio.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "g722.h"

extern "C" {
#include <spandsp.h>
}

namespace {

constexpr int kFrame = 160;

// Ten seconds of the 16 kHz speech fixture (three tones when it is missing), whole frames.
std::vector<std::int16_t> test_signal() {
  std::ifstream f(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_16k.raw", std::ios::binary);
  std::vector<std::int16_t> s(160000);
  f.read(reinterpret_cast<char *>(s.data()), static_cast<std::streamsize>(s.size() * 2));
  s.resize(static_cast<std::size_t>(f.gcount()) / 2 / kFrame * kFrame);
  if (s.empty()) {
    s.resize(16000);
    for (std::size_t i = 0; i < s.size(); ++i) {
      s[i] = static_cast<std::int16_t>(8000 * std::sin(i * 0.037) + 3000 * std::sin(i * 0.41) + 1500 * std::sin(i * 1.3));
    }
  }
  return s;
}

std::vector<std::int16_t> test_codes() {
  const auto pcm = test_signal();
  g722_state enc;
  g722_reset_encoder(&enc);
  std::vector<std::int16_t> codes(pcm.size() / 2);
  for (std::size_t f = 0; f < pcm.size(); f += kFrame) g722_enc(&pcm[f], &codes[f / 2], kFrame, &enc);
  return codes;
}

// Our decoder with its concealment state, both reset as a call starts.
struct OurDecoder {
  OurDecoder() {
    g722_reset_decoder(&dec);
    g722_Reset_WB_PLC(&plc);
  }
  g722_state dec;
  G722_APXIII_WB_PLC_State plc;
};

void BM_OursEncode(benchmark::State &st) {
  const auto pcm = test_signal();
  g722_state enc;
  g722_reset_encoder(&enc);
  std::int16_t codes[kFrame / 2];
  std::size_t pos = 0;
  for (auto _ : st) {
    g722_enc(&pcm[pos], codes, kFrame, &enc);
    benchmark::DoNotOptimize(codes);
    pos = (pos + kFrame) % pcm.size();
  }
}

void BM_SpandspEncode(benchmark::State &st) {
  const auto pcm = test_signal();
  g722_encode_state_t *enc = g722_encode_init(nullptr, 64000, 0);
  std::uint8_t codes[kFrame / 2];
  std::size_t pos = 0;
  for (auto _ : st) {
    g722_encode(enc, codes, &pcm[pos], kFrame);
    benchmark::DoNotOptimize(codes);
    pos = (pos + kFrame) % pcm.size();
  }
  g722_encode_free(enc);
}

void BM_OursDecodeWithConcealmentAnalysis(benchmark::State &st) {
  const auto codes = test_codes();
  OurDecoder d;
  std::int16_t out[kFrame];
  std::size_t pos = 0;
  for (auto _ : st) {
    g722_dec(&codes[pos], out, G722_MODE_1, kFrame / 2, &d.dec, &d.plc, 0);
    benchmark::DoNotOptimize(out);
    pos = (pos + kFrame / 2) % codes.size();
  }
}

void BM_OursDecodeSubBandsOnly(benchmark::State &st) {
  const auto codes = test_codes();
  OurDecoder d;
  std::int16_t out[kFrame];
  std::size_t pos = 0;
  for (auto _ : st) {
    g722_decode(&codes[pos], out, 1, kFrame / 2, &d.dec, &d.plc);
    benchmark::DoNotOptimize(out);
    pos = (pos + kFrame / 2) % codes.size();
  }
}

void BM_SpandspDecode(benchmark::State &st) {
  const auto codes16 = test_codes();
  std::vector<std::uint8_t> codes(codes16.begin(), codes16.end());
  g722_decode_state_t *dec = g722_decode_init(nullptr, 64000, 0);
  std::int16_t out[kFrame];
  std::size_t pos = 0;
  for (auto _ : st) {
    g722_decode(dec, out, &codes[pos], kFrame / 2);
    benchmark::DoNotOptimize(out);
    pos = (pos + kFrame / 2) % codes.size();
  }
  g722_decode_free(dec);
}

// Alternating lost and good frames: the concealment's most expensive pattern.
void BM_OursLostThenGoodFrame(benchmark::State &st) {
  const auto codes = test_codes();
  OurDecoder d;
  std::int16_t out[kFrame];
  std::size_t pos = 0;
  for (int k = 0; k < 20; ++k, pos += kFrame / 2) g722_dec(&codes[pos], out, G722_MODE_1, kFrame / 2, &d.dec, &d.plc, 0);
  for (auto _ : st) {
    g722_dec(&codes[pos], out, G722_MODE_1, kFrame / 2, &d.dec, &d.plc, 1);
    pos = (pos + kFrame / 2) % codes.size();
    g722_dec(&codes[pos], out, G722_MODE_1, kFrame / 2, &d.dec, &d.plc, 0);
    benchmark::DoNotOptimize(out);
    pos = (pos + kFrame / 2) % codes.size();
  }
}

// One frame in ten lost (every tenth), the loss rate a gateway must ride through; no peer
// conceals, so this is our cost alone.
void BM_OursDecodeTenPercentLoss(benchmark::State &st) {
  const auto codes = test_codes();
  OurDecoder d;
  std::int16_t out[kFrame];
  std::size_t pos = 0;
  unsigned frame = 0;
  for (auto _ : st) {
    g722_dec(&codes[pos], out, G722_MODE_1, kFrame / 2, &d.dec, &d.plc, (++frame % 10) == 0 ? 1 : 0);
    benchmark::DoNotOptimize(out);
    pos = (pos + kFrame / 2) % codes.size();
  }
}

BENCHMARK(BM_OursEncode);
BENCHMARK(BM_SpandspEncode);
BENCHMARK(BM_OursDecodeWithConcealmentAnalysis);
BENCHMARK(BM_OursDecodeSubBandsOnly);
BENCHMARK(BM_SpandspDecode);
BENCHMARK(BM_OursLostThenGoodFrame);
BENCHMARK(BM_OursDecodeTenPercentLoss);

}  // namespace

int main(int argc, char** argv) {
  return orvox_bench::runWithRatios(argc, argv, {
      {"G.722 64k encode", "BM_OursEncode", "BM_SpandspEncode"},
      {"G.722 decode, good frames", "BM_OursDecodeWithConcealmentAnalysis", "BM_SpandspDecode"},
      {"G.722 decode, sub-bands only", "BM_OursDecodeSubBandsOnly", "BM_SpandspDecode"}});
}
