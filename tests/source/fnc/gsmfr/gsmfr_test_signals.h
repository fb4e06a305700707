// Test signals for the GSM full-rate codec tests.
#pragma once

#include "orvox_fixture.h"
#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace gsmfr_test {

inline std::vector<std::int16_t> load_speech(std::size_t max_samples) {
  std::ifstream f(orvox_fixture::requireFile(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw"), std::ios::binary);
  std::vector<std::int16_t> s(max_samples);
  f.read(reinterpret_cast<char*>(s.data()), static_cast<std::streamsize>(s.size() * 2));
  s.resize(static_cast<std::size_t>(f.gcount()) / 2);
  return s;
}

// Deterministic 32-bit generator so that failures reproduce.
struct Lcg {
  std::uint32_t state;
  std::uint32_t next() {
    state = state * 1664525u + 1013904223u;
    return state;
  }
  std::int16_t sample(int amplitude) {
    return static_cast<std::int16_t>(static_cast<int>((next() >> 16) % (2u * amplitude + 1)) - amplitude);
  }
};

inline std::vector<std::int16_t> noise(std::size_t n, int amplitude, std::uint32_t seed) {
  Lcg g{seed};
  std::vector<std::int16_t> s(n);
  for (auto& v : s) v = g.sample(amplitude);
  return s;
}

// Full-scale material: a clipped sine sweep, square waves at the rails and full-range noise.
inline std::vector<std::int16_t> full_scale(std::size_t n) {
  std::vector<std::int16_t> s(n);
  Lcg g{7};
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t part = (i / 1600) % 3;
    if (part == 0) {
      const double v = 40000.0 * std::sin(0.0005 * double(i) * double(i % 1600));
      s[i] = static_cast<std::int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
    } else if (part == 1) {
      s[i] = ((i / (17 + i / 4000)) & 1) ? std::int16_t(32767) : std::int16_t(-32768);
    } else {
      s[i] = static_cast<std::int16_t>(g.next() >> 16);
    }
  }
  return s;
}

}  // namespace gsmfr_test
