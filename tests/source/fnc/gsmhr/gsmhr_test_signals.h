// Test signals for the GSM half-rate codec tests: the speech fixture and synthetic frames.
#pragma once

#include <cmath>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "orvox_fixture.h"

namespace hrtest {

inline std::vector<std::int16_t> load_speech() {
  auto s = orvox_fixture::loadPcm16("speech/speech_8k.raw");
  s.resize(s.size() / 160 * 160);
  return s;
}

inline std::vector<std::int16_t> tone(int frames, double hz, double amp) {
  std::vector<std::int16_t> s(frames * 160);
  for (std::size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<std::int16_t>(std::lround(amp * std::sin(2 * M_PI * hz * i / 8000.0)));
  return s;
}

// Deterministic pseudo-random generator (no library state).
struct Lcg {
  std::uint32_t x;
  std::uint32_t next() { return x = x * 1664525u + 1013904223u; }
  int range(int lo, int hi) { return lo + static_cast<int>((next() >> 8) % std::uint32_t(hi - lo + 1)); }
};

inline std::vector<std::int16_t> noise(int frames, int amp, std::uint32_t seed) {
  Lcg g{seed};
  std::vector<std::int16_t> s(frames * 160);
  for (auto& v : s) v = static_cast<std::int16_t>(g.range(-amp, amp));
  return s;
}

// Segmental SNR in dB over 160-sample frames, frames below the floor energy skipped.
inline double seg_snr(const std::vector<std::int16_t>& ref, const std::vector<std::int16_t>& out,
                      double minEnergy = 160.0 * 100 * 100) {
  double sum = 0;
  int n = 0;
  for (std::size_t f = 0; f + 160 <= ref.size() && f + 160 <= out.size(); f += 160) {
    double es = 0, en = 0;
    for (int i = 0; i < 160; ++i) {
      double d = double(ref[f + i]) - out[f + i];
      es += double(ref[f + i]) * ref[f + i];
      en += d * d;
    }
    if (es < minEnergy) continue;
    double snr = 10 * std::log10(es / std::max(en, 1.0));
    sum += std::min(std::max(snr, -10.0), 40.0);
    ++n;
  }
  return n ? sum / n : 0;
}

}  // namespace hrtest
