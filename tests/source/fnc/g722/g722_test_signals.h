// Test signals for the G.722 suites: 16 kHz speech and edge signals.
#pragma once

#include "orvox_fixture.h"
#include <cmath>
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

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

}  // namespace g722_test
