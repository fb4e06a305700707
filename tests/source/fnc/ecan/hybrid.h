// A simulated hybrid for the echo canceller's tests, measured the way the network echo-canceller
// recommendation measures: the far-end signal, delayed by at least the bulk delay, through an
// echo-path FIR of a few milliseconds with a chosen echo return loss, plus near-end signal.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "orvox_fixture.h"

#include "ecan.h"

namespace hybrid {

// A dispersive echo path of `ms` milliseconds (8 samples per ms) with echo return loss `erlDb`
// for white noise: a decaying, oscillating impulse response.
inline std::vector<double> echoPath(double ms, double erlDb, unsigned seed) {
  const int n = static_cast<int>(ms * 8);
  std::mt19937 rng(seed);
  std::normal_distribution<double> d(0, 1);
  std::vector<double> h(n);
  double e = 0;
  for (int k = 0; k < n; ++k) {
    h[k] = d(rng) * std::exp(-3.0 * k / n) * std::cos(0.9 * k);
    e += h[k] * h[k];
  }
  const double g = std::pow(10.0, -erlDb / 20) / std::sqrt(e);
  for (double& v : h) v *= g;
  return h;
}

inline std::vector<int16_t> gaussian(int n, double dbfs, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> d(0, 32768.0 * std::pow(10.0, dbfs / 20));
  std::vector<int16_t> x(n);
  for (auto& v : x) v = static_cast<int16_t>(std::clamp(std::lround(d(rng)), -32768L, 32767L));
  return x;
}

inline std::vector<int16_t> speech(double seconds, double gain, size_t startSample = 0) {
  const std::vector<int16_t> pcm = orvox_fixture::loadPcm16("speech/speech_8k.raw");
  const size_t n = static_cast<size_t>(seconds * 8000);
  std::vector<int16_t> out(n);
  for (size_t i = 0; i < n && !pcm.empty(); ++i) {
    out[i] = static_cast<int16_t>(std::clamp(std::lround(pcm[(startSample + i) % pcm.size()] * gain), -32768L, 32767L));
  }
  return out;
}

struct Run {
  std::vector<int16_t> echo;  // the echo alone
  std::vector<int16_t> sIn;   // echo plus near end
  std::vector<int16_t> sOut;  // what the canceller sent on
};

// Runs the canceller over the far-end signal in 10 ms frames; the echo path may change at
// `changeAt` samples to `path2`. The echo is the far end delayed by `delay` samples.
inline Run run(HEC* hec, const std::vector<int16_t>& far, const std::vector<int16_t>& near,
               const std::vector<double>& path, int delay, size_t changeAt = SIZE_MAX,
               const std::vector<double>* path2 = nullptr) {
  constexpr int kFrame = 80;
  const size_t n = far.size() - far.size() % kFrame;
  Run r;
  r.echo.resize(n);
  r.sIn.resize(n);
  r.sOut.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const std::vector<double>& h = (i >= changeAt && path2 != nullptr) ? *path2 : path;
    double acc = 0;
    for (size_t k = 0; k < h.size(); ++k) {
      const long j = static_cast<long>(i) - delay - static_cast<long>(k);
      if (j >= 0) acc += h[k] * far[j];
    }
    r.echo[i] = static_cast<int16_t>(std::clamp(std::lround(acc), -32768L, 32767L));
    const int v = r.echo[i] + (i < near.size() ? near[i] : 0);
    r.sIn[i] = static_cast<int16_t>(std::clamp(v, -32768, 32767));
  }
  std::vector<int16_t> farFrame(kFrame), frame(kFrame);
  for (size_t off = 0; off < n; off += kFrame) {
    std::copy_n(&far[off], kFrame, farFrame.begin());
    hecEgress(hec, farFrame.data(), nullptr, kFrame);
    std::copy_n(&r.sIn[off], kFrame, frame.begin());
    hecIngress(hec, frame.data(), nullptr, kFrame);
    std::copy_n(frame.begin(), kFrame, &r.sOut[off]);
  }
  return r;
}

inline double energy(const std::vector<int16_t>& x, size_t from, size_t to) {
  double e = 0;
  for (size_t i = from; i < to && i < x.size(); ++i) e += double(x[i]) * x[i];
  return e;
}

// Echo return loss enhancement over [from, to): echo energy over residual energy, with the
// near-end signal taken out of the residual.
inline double erle(const Run& r, const std::vector<int16_t>& near, double fromS, double toS) {
  const size_t from = static_cast<size_t>(fromS * 8000), to = static_cast<size_t>(toS * 8000);
  double e = 0, res = 0;
  for (size_t i = from; i < to && i < r.sOut.size(); ++i) {
    const double resid = r.sOut[i] - (i < near.size() ? near[i] : 0);
    e += double(r.echo[i]) * r.echo[i];
    res += resid * resid;
  }
  return 10 * std::log10(e / std::max(res, 1.0));
}

// Mean-square level in dB below a full-scale amplitude of 32768 (a full-scale sine is -3 dB).
inline double levelDbfs(const std::vector<int16_t>& x, double fromS, double toS) {
  const size_t from = static_cast<size_t>(fromS * 8000), to = static_cast<size_t>(toS * 8000);
  return 10 * std::log10(energy(x, from, to) / double(to - from) / 1073741824.0 + 1e-20);
}

}  // namespace hybrid
