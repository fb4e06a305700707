// Synthetic signals for false-detection tests: speech-like (a gliding glottal pulse train through
// three gliding formant resonators, syllables with pauses) and music-like (chords of harmonic
// notes with vibrato and decay). Deterministic for a given seed.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace testsig {

inline std::vector<int16_t> speechLike(double seconds, unsigned seed, double gain = 900) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<int16_t> x;
  while (x.size() < seconds * 8000) {
    const int len = static_cast<int>(800 + u(rng) * 1600);
    const double f0a = 100 + 150 * u(rng), f0b = 100 + 150 * u(rng);
    const double fm[3] = {300 + 600 * u(rng), 900 + 1500 * u(rng), 2000 + 1200 * u(rng)};
    const double fmEnd[3] = {300 + 600 * u(rng), 900 + 1500 * u(rng), 2000 + 1200 * u(rng)};
    double y1[3] = {}, y2[3] = {}, phase = 0;
    for (int n = 0; n < len; ++n) {
      const double a = static_cast<double>(n) / len;
      phase += (f0a + (f0b - f0a) * a) / 8000;
      double src = 0;
      if (phase >= 1) {
        phase -= 1;
        src = 1;
      }
      double out = 0;
      for (int k = 0; k < 3; ++k) {
        const double fc = fm[k] + (fmEnd[k] - fm[k]) * a, r = 0.97;
        const double y = src + 2 * r * std::cos(2 * M_PI * fc / 8000) * y1[k] - r * r * y2[k];
        y2[k] = y1[k];
        y1[k] = y;
        out += y / (k + 1);
      }
      x.push_back(static_cast<int16_t>(std::clamp(out * gain * std::sin(M_PI * a), -32000.0, 32000.0)));
    }
    x.resize(x.size() + static_cast<size_t>(160 + 1200 * u(rng)), 0);
  }
  return x;
}

inline std::vector<int16_t> musicLike(double seconds, unsigned seed, double gain = 3000) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<int16_t> x;
  double t = 0;
  while (x.size() < seconds * 8000) {
    const int len = static_cast<int>(1200 + u(rng) * 3000);
    double notes[3];
    for (double& f : notes) f = 220 * std::pow(2.0, std::floor(u(rng) * 36) / 12);
    for (int n = 0; n < len; ++n, t += 1.0 / 8000) {
      const double vib = 1 + 0.004 * std::sin(2 * M_PI * 5.5 * t);
      double out = 0;
      for (double f : notes) {
        for (int h = 1; h <= 5; ++h) out += std::sin(2 * M_PI * f * h * vib * t) / (h * h);
      }
      const double env = std::min(1.0, n / 200.0) * std::exp(-2.0 * n / len);
      x.push_back(static_cast<int16_t>(std::clamp(out * gain * env, -32000.0, 32000.0)));
    }
  }
  return x;
}

}  // namespace testsig
