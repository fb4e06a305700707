// Driving the fax datapump service in a test channel: transmit a sequence and keep the line
// audio, or play line audio into a reception and keep what the client receives.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "../linetest/line_harness.h"
#include "modem_bits.h"
#include "vfx.h"

namespace vfxtest {

using namespace linetest;

inline VFXLOCLMEM* inst() { return static_cast<VFXLOCLMEM*>(instance(HAPI_VFAX_SRV)); }

inline void setRate(uint16_t rate) { command(VFX_SETREG1_CMD, 0, rate); }

// Queues the bits (one per byte) as 0x1106 blocks of at most 96 bits.
inline void queueBits(const std::vector<uint8_t>& bits, size_t& at, size_t maxBlocks) {
  while (at < bits.size() && MEM_QueueCount(&inst()->v17zTxQueue) < maxBlocks) {
    const size_t n = std::min<size_t>(96, bits.size() - at);
    const std::vector<uint16_t> words = modembits::blockWords(bits, at, n);
    extCommand(VFX_TXDATA_CMD, words.data(), uint16_t(2 * words.size()));
    at += n;
  }
}

// Transmits: op1 1 page data (the bits), 2 TCF, 3 page data after the long training. Returns the
// line audio from the first frame until the pump reports it is done.
inline std::vector<int16_t> transmit(uint16_t op1, const std::vector<uint8_t>& bits, long maxFrames = 3000) {
  world().egressOut.clear();
  size_t at = 0;
  queueBits(bits, at, 20);
  command(VFX_TX_CMD, op1, 0);
  for (long f = 0; f < maxFrames; ++f) {
    queueBits(bits, at, 20);
    runFrames(1);
    if (!(inst()->v17zState.status & VFX_TRANSMITTING)) break;
  }
  return world().egressOut;
}

// Bits the client received (0x1151 packets) since the last clear.
inline std::vector<uint8_t> receivedBits() {
  std::vector<uint8_t> bits;
  for (const Ibd& e : world().ingressIbd) {
    if (e.header == VFX_RXDATA_EVT) modembits::appendBlockBits(e.data, bits);
  }
  return bits;
}

using modembits::randomBits;

// Where the sent bits appear in the received stream, from bit `skip` on: the offset with the
// fewest differences, and their number.
inline int bestErrors(const std::vector<uint8_t>& sent, const std::vector<uint8_t>& got, size_t skip) {
  int best = int(sent.size());
  for (size_t off = 0; off + sent.size() - skip <= got.size() && off < 600; ++off) {
    int e = 0;
    for (size_t i = skip; i < sent.size(); ++i) e += sent[i] != got[off + i - skip];
    best = std::min(best, e);
  }
  return best;
}

// The line between the two: noise at an SNR (0: none) and a sampling clock running fast by
// `ppm` (band-limited interpolation).
struct Line {
  double snrDb = 0;
  double ppm = 0;
};

inline std::vector<int16_t> impair(const std::vector<int16_t>& a, const Line& line) {
  std::vector<int16_t> out;
  if (line.ppm != 0) {
    // band-limited (Hann-windowed sinc, 32 taps) so the fractional delay is a pure delay up to
    // the band edge; linear interpolation would bend the upper band edge as the fraction moves
    const double step = 1.0 + line.ppm * 1e-6;
    constexpr int kHalf = 16;
    for (double t = 0; t + 1 < double(a.size()); t += step) {
      const long i = long(t);
      const double f = t - double(i);
      double acc = 0;
      for (int k = -kHalf + 1; k <= kHalf; ++k) {
        const long j = i + k;
        if (j < 0 || j >= long(a.size())) continue;
        const double x = double(k) - f;
        const double sinc = std::abs(x) < 1e-9 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
        const double w = 0.5 + 0.5 * std::cos(M_PI * x / kHalf);
        acc += a[size_t(j)] * sinc * w;
      }
      out.push_back(int16_t(std::clamp(std::lround(acc), -32768L, 32767L)));
    }
  } else {
    out = a;
  }
  if (line.snrDb > 0) {
    double p = 0;
    size_t active = 0;
    for (int16_t v : out)
      if (v != 0) {
        p += double(v) * v;
        ++active;
      }
    const double sigma = std::sqrt(p / double(active ? active : 1) / std::pow(10.0, line.snrDb / 10));
    std::mt19937 rng(11);
    std::normal_distribution<double> g(0, sigma);
    for (int16_t& v : out) v = int16_t(std::clamp(std::lround(v + g(rng)), -32768L, 32767L));
  }
  return out;
}

inline std::vector<uint16_t> eventsSeen() {
  std::vector<uint16_t> codes;
  for (const Ibd& e : world().ingressIbd) codes.push_back(e.header);
  return codes;
}

}  // namespace vfxtest
