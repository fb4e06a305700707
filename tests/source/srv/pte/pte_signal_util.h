// Measurements on generated audio for the tests: tone bursts found on the envelope, the amplitude
// of a frequency in a stretch (Hann-windowed correlation) and a frequency estimate by peak search.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <vector>

namespace sigmeas {

struct Burst {
  size_t start;  // samples
  size_t end;    // one past the last sample
};

// Stretches where the 1 ms envelope exceeds `threshold`, gaps shorter than 2 ms merged.
inline std::vector<Burst> bursts(const std::vector<int16_t>& x, int threshold = 300) {
  std::vector<Burst> out;
  constexpr size_t kWin = 8;
  bool on = false;
  size_t start = 0, lastLoud = 0;
  for (size_t w = 0; w + kWin <= x.size(); w += kWin) {
    int peak = 0;
    for (size_t i = w; i < w + kWin; ++i) peak = std::max(peak, std::abs(int{x[i]}));
    if (peak > threshold) {
      if (!on) {
        // Refine the start to the first loud sample of the window.
        size_t s = w;
        while (s < w + kWin && std::abs(int{x[s]}) <= threshold / 4) ++s;
        start = s;
        on = true;
      }
      lastLoud = w + kWin;
    } else if (on && w >= lastLoud + 2 * kWin) {
      out.push_back({start, lastLoud});
      on = false;
    }
  }
  if (on) out.push_back({start, lastLoud});
  return out;
}

inline double amplitude(const std::vector<int16_t>& x, size_t from, size_t to, double f) {
  std::complex<double> acc = 0;
  double wsum = 0;
  const size_t n = to - from;
  for (size_t i = 0; i < n; ++i) {
    const double w = 0.5 - 0.5 * std::cos(2 * M_PI * (i + 0.5) / n);
    acc += w * x[from + i] * std::polar(1.0, -2 * M_PI * f * (from + i) / 8000.0);
    wsum += w;
  }
  return 2 * std::abs(acc) / wsum;
}

// The frequency near `guess` (within +-range Hz) where the windowed amplitude peaks.
inline double peakFrequency(const std::vector<int16_t>& x, size_t from, size_t to, double guess, double range = 20) {
  double best = guess, bestA = -1;
  for (double f = guess - range; f <= guess + range; f += 0.25) {
    const double a = amplitude(x, from, to, f);
    if (a > bestA) {
      bestA = a;
      best = f;
    }
  }
  double lo = best - 0.25, hi = best + 0.25;
  for (int it = 0; it < 40; ++it) {
    const double a = lo + (hi - lo) / 3, b = hi - (hi - lo) / 3;
    if (amplitude(x, from, to, a) < amplitude(x, from, to, b)) {
      lo = a;
    } else {
      hi = b;
    }
  }
  return (lo + hi) / 2;
}

inline double dB(double ratio) { return 20 * std::log10(ratio); }

}  // namespace sigmeas
