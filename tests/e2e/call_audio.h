// Audio for the call tests: a speech-like far-end signal, WAV files, levels in dBm0 and the lag
// at which one recording best matches another.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace callaudio {

constexpr int RATE = 8000;

// Voiced syllables: a gliding pitch with a few formant-like harmonics under a 4 Hz envelope
// that never falls silent, plus a little noise. `seconds` long at 8 kHz, about -20 dBm0.
inline std::vector<int16_t> speechLike(double seconds, uint32_t seed = 12345) {
  std::vector<int16_t> x(static_cast<size_t>(seconds * RATE));
  double phase = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i) / RATE;
    const double pitch = 120 + 40 * std::sin(2 * M_PI * 0.7 * t) + 15 * std::sin(2 * M_PI * 2.3 * t);
    phase += 2 * M_PI * pitch / RATE;
    const double envelope = 0.55 + 0.45 * std::sin(2 * M_PI * 4 * t + std::sin(2 * M_PI * 0.3 * t));
    double v = 0;
    const double weights[6] = {1.0, 0.8, 0.6, 0.5, 0.35, 0.25};
    for (int h = 0; h < 6; ++h) v += weights[h] * std::sin((h + 1) * phase + h);
    seed = seed * 1664525u + 1013904223u;
    const double noise = (static_cast<double>(seed >> 8) / (1u << 24) - 0.5) * 0.3;
    x[i] = static_cast<int16_t>(std::lround(1300 * envelope * (v + noise)));
  }
  return x;
}

inline void writeWav(const std::string& path, const std::vector<int16_t>& x) {
  std::ofstream out(path, std::ios::binary);
  auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  const uint32_t bytes = static_cast<uint32_t>(x.size() * 2);
  out.write("RIFF", 4);
  u32(36 + bytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(1);
  u32(RATE);
  u32(RATE * 2);
  u16(2);
  u16(16);
  out.write("data", 4);
  u32(bytes);
  out.write(reinterpret_cast<const char*>(x.data()), bytes);
}

// The samples of a 16-bit mono WAV file with a 44-byte header.
inline std::vector<int16_t> readWav(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> x(bytes.size() > 44 ? (bytes.size() - 44) / 2 : 0);
  if (!x.empty()) std::memcpy(x.data(), bytes.data() + 44, x.size() * 2);
  return x;
}

inline double rms(const std::vector<int16_t>& x, size_t from, size_t to) {
  if (to > x.size()) to = x.size();
  if (to <= from) return 0;
  double e = 0;
  for (size_t i = from; i < to; ++i) e += static_cast<double>(x[i]) * x[i];
  return std::sqrt(e / static_cast<double>(to - from));
}

// 0 dBm0 is a sine 3.14 dB below full scale.
inline double dbm0(double rmsValue) {
  if (rmsValue <= 0) return -99;
  return 20 * std::log10(rmsValue / (32768.0 / std::sqrt(2.0))) + 3.14;
}

// The lag (in [lo, hi]) at which y[from + lag ...] best matches x[from ... from + n], with the
// normalised correlation at that lag.
inline std::pair<long, double> bestLag(const std::vector<int16_t>& x, const std::vector<int16_t>& y, size_t from,
                                       size_t n, long lo, long hi) {
  long best = lo;
  double bestC = -2;
  const double ex = rms(x, from, from + n);
  for (long lag = lo; lag <= hi; ++lag) {
    const long start = static_cast<long>(from) + lag;
    if (start < 0 || static_cast<size_t>(start) + n > y.size() || from + n > x.size()) continue;
    double c = 0;
    for (size_t i = 0; i < n; ++i) c += static_cast<double>(x[from + i]) * y[static_cast<size_t>(start) + i];
    const double ey = rms(y, static_cast<size_t>(start), static_cast<size_t>(start) + n);
    c = ex > 0 && ey > 0 ? c / (static_cast<double>(n) * ex * ey) : 0;
    if (c > bestC) {
      bestC = c;
      best = lag;
    }
  }
  return {best, bestC};
}

// The first sample louder than `threshold`, or the size when there is none.
inline size_t onset(const std::vector<int16_t>& x, int threshold) {
  for (size_t i = 0; i < x.size(); ++i)
    if (std::abs(int{x[i]}) > threshold) return i;
  return x.size();
}

}  // namespace callaudio
