// Test signals and coding helpers for the G.722 suites: 16 kHz speech, edge and periodic
// signals, whole-signal encoding and a decoder with its concealment record.
#pragma once

#include <gtest/gtest.h>

#include "orvox_fixture.h"
#include <cmath>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "g722.h"

namespace g722_test {

constexpr int kFrame = 160;

inline std::vector<std::int16_t> speech_16k(std::size_t max_samples) {
  std::ifstream f(orvox_fixture::requireFile(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_16k.raw"),
                  std::ios::binary);
  std::vector<std::int16_t> s(max_samples);
  f.read(reinterpret_cast<char *>(s.data()), static_cast<std::streamsize>(s.size() * 2));
  s.resize(static_cast<std::size_t>(f.gcount()) / 2 / kFrame * kFrame);
  return s;
}

// Silence, a full-scale square wave, the extremes, a full-scale sweep and white noise.
inline std::vector<std::int16_t> edge_signal() {
  std::vector<std::int16_t> s(1600, 0);
  for (int i = 0; i < 3200; ++i) s.push_back((i / 30) % 2 ? 32767 : -32768);
  for (int i = 0; i < 800; ++i) s.push_back(-32768);
  for (int i = 0; i < 800; ++i) s.push_back(32767);
  double phase = 0;
  for (int i = 0; i < 16000; ++i) {
    phase += 2 * M_PI * (50.0 + 7900.0 * i / 16000.0) / 16000.0;
    s.push_back(static_cast<std::int16_t>(32767 * std::sin(phase)));
  }
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> d(-32768, 32767);
  for (int i = 0; i < 4800; ++i) s.push_back(static_cast<std::int16_t>(d(rng)));
  for (int i = 0; i < 1600; ++i) s.push_back(0);
  return s;
}

inline std::vector<std::int16_t> encode_all(const std::vector<std::int16_t> &pcm) {
  g722_state enc;
  g722_reset_encoder(&enc);
  std::vector<std::int16_t> codes(pcm.size() / 2);
  for (std::size_t f = 0; f + kFrame <= pcm.size(); f += kFrame) g722_enc(&pcm[f], &codes[f / 2], kFrame, &enc);
  return codes;
}

// A decoder record with its concealment record, from reset; one 10 ms frame per call.
struct Decoder {
  g722_state dec;
  G722_APXIII_WB_PLC_State plc;
  Decoder() {
    g722_reset_decoder(&dec);
    g722_Reset_WB_PLC(&plc);
  }
  void frame(const std::int16_t *codes, std::int16_t *out, bool lost) {
    EXPECT_EQ(g722_dec(codes, out, G722_MODE_1, kFrame / 2, &dec, &plc, lost ? 1 : 0), kFrame);
  }
};

// A periodic waveform of three harmonics, peaking near 1.7 times `amplitude`.
inline std::vector<std::int16_t> periodic(int period, int frames, double amplitude = 6000) {
  std::vector<std::int16_t> s(static_cast<std::size_t>(frames) * kFrame);
  for (std::size_t n = 0; n < s.size(); ++n) {
    const double ph = 2 * M_PI * static_cast<double>(n % static_cast<std::size_t>(period)) / period;
    s[n] = static_cast<std::int16_t>(amplitude * (std::sin(ph) + 0.6 * std::sin(2 * ph + 0.5) + 0.3 * std::sin(3 * ph + 1.0)));
  }
  return s;
}

}  // namespace g722_test
