// Helpers of the tests against the independent modem: its bit sink and source, random pages,
// bit errors at the best alignment, and noisy lines.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "vfx_test_util.h"

namespace vfxtest {


// The independent receiver's bits and training reports.
struct Collect {
  std::vector<uint8_t> bits;
  bool trained = false;
  bool failed = false;
  static void put(void* u, int bit) {
    auto* c = static_cast<Collect*>(u);
    if (bit < 0) {
      if (bit == SIG_STATUS_TRAINING_SUCCEEDED) c->trained = true;
      if (bit == SIG_STATUS_TRAINING_FAILED) c->failed = true;
      return;
    }
    c->bits.push_back(uint8_t(bit & 1));
  }
};

// Mean power of the non-silent samples.
inline double meanPower(const std::vector<int16_t>& a) {
  double p = 0;
  size_t n = 0;
  for (int16_t v : a)
    if (v != 0) {
      p += double(v) * v;
      ++n;
    }
  return p / double(n ? n : 1);
}

// White noise `snr` dB below the signal's power (over its non-silent samples); with `signalOnly`
// only from the first to the last non-silent sample, so that a receiver that starts training on
// noise alone does not see any.
inline void addNoise(std::vector<int16_t>& a, int seed, double snr = 20.0, bool signalOnly = false) {
  const double sigma = std::sqrt(meanPower(a) / std::pow(10.0, snr / 10));
  std::mt19937 rng{static_cast<unsigned>(seed)};
  std::normal_distribution<double> g(0, sigma);
  size_t from = 0, to = a.size();
  if (signalOnly) {
    while (from < a.size() && a[from] == 0) ++from;
    while (to > from && a[to - 1] == 0) --to;
  }
  for (size_t i = from; i < to; ++i) a[i] = int16_t(std::clamp(std::lround(a[i] + g(rng)), -32768L, 32767L));
}

// Feeds the independent transmitter a page, then the end of data.
struct BitSource {
  const std::vector<uint8_t>* bits;
  size_t at;
  static int get(void* u) {
    auto* s = static_cast<BitSource*>(u);
    return s->at < s->bits->size() ? int((*s->bits)[s->at++]) : int(SIG_STATUS_END_OF_DATA);
  }
};

// Power of the non-silent samples, in dBm0 (a full-scale sine is 3.14 dBm0).
inline double powerDbm0(const std::vector<int16_t>& a) {
  return 10 * std::log10(meanPower(a) / (32767.0 * 32767.0 / 2)) + 3.14;
}

// A line: white noise `snr` dB below a signal at `signalDbm0`, over every sample, gaps included.
inline void addLineNoise(std::vector<int16_t>& a, double signalDbm0, double snr, unsigned seed) {
  const double sigma = 32767.0 / std::sqrt(2.0) * std::pow(10.0, (signalDbm0 - 3.14 - snr) / 20);
  std::mt19937 rng{seed};
  std::normal_distribution<double> g(0, sigma);
  for (auto& v : a) v = int16_t(std::clamp(std::lround(v + g(rng)), -32768L, 32767L));
}

// Bit errors of a page from the independent transmitter through our receiver set to `rateReg`,
// the signal `snr` dB above white noise and arriving after `lead` samples of silence.
inline int oursReceivesPage(uint16_t rateReg, std::vector<int16_t> audio, const std::vector<uint8_t>& bits, double snr,
                            int seed, size_t lead, size_t* received = nullptr) {
  addNoise(audio, seed, snr);
  open(&vfxarc);
  setRate(rateReg);
  command(VFX_SETREG1_CMD, 12, 0x8000 | 96);
  command(VFX_ENABLE_CMD, 1, 0);
  command(VFX_RX_CMD, HSGFAXRXCFGECMDATA, 0);
  world().ingressIbd.clear();
  world().ingressIn.insert(world().ingressIn.end(), lead, 0);
  world().ingressIn.insert(world().ingressIn.end(), audio.begin(), audio.end());
  world().ingressIn.insert(world().ingressIn.end(), 4000, 0);
  drain(10);
  const auto got = receivedBits();
  if (received != nullptr) *received = got.size();
  close();
  return bestErrors(bits, got, 8);
}

}  // namespace vfxtest
