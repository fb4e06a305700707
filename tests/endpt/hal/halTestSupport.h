// Stand-ins for what surrounds the board layer in a test: the DSP framework's hardware shim
// (records what it is given, plays a known pattern) and the library's line-test receiver.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "boardHal.h"
#include "vboard.h"

struct ShimRecord {
  std::mutex lock;
  std::array<uint64_t, BOARD_HAL_MAX_CHANNELS> ingressCalls{};
  std::array<uint64_t, BOARD_HAL_MAX_CHANNELS> egressCalls{};
  std::array<int, BOARD_HAL_MAX_CHANNELS> configuredWideband{};
  std::array<int, BOARD_HAL_MAX_CHANNELS> enabled{};
  std::vector<int16_t> capture;  // ingress samples of the captured port
  int capturePort = -1;
  size_t captureLimit = 0;
};

inline ShimRecord& shim() {
  static ShimRecord record;
  return record;
}

inline std::atomic<int>& lineTestsDelivered() {
  static std::atomic<int> count{0};
  return count;
}
inline BOARD_HAL_LT_EVENT& lastLineTest() {
  static BOARD_HAL_LT_EVENT event{};
  return event;
}

// The frame handler the tick task runs: one PCM exchange per tick.
inline std::atomic<uint64_t>& handledTicks() {
  static std::atomic<uint64_t> ticks{0};
  return ticks;
}
inline void frameHandler() {
  lhapiProcessIngress();
  lhapiProcessEgress();
  ++handledTicks();
}

// The first `samples` samples per tick of `port` as given to the shim.
inline int shimFrameSamples(int port) { return boardHalGetChannelRate(port) == 16 ? 80 : 40; }

// A board status field ("ingressBytes=123" -> 123).
inline long long statusField(const std::string& status, const std::string& key) {
  const size_t at = status.find(" " + key + "=");
  if (at == std::string::npos) return -1;
  return std::stoll(status.substr(at + key.size() + 2));
}

template <typename Predicate>
bool waitFor(Predicate done, int timeoutMs = 5000) {
  for (int waited = 0; waited < timeoutMs; waited += 2) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return done();
}

// Power of `frequency` in the samples (Goertzel), normalised by the block length.
inline double goertzelPower(const std::vector<int16_t>& x, double frequency, int rate) {
  const double w = 2.0 * M_PI * frequency / rate;
  const double coeff = 2.0 * std::cos(w);
  double s1 = 0, s2 = 0;
  for (int16_t v : x) {
    const double s0 = v + coeff * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  return power / (static_cast<double>(x.size()) * x.size());
}
