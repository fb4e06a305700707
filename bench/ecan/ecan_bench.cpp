// Cost of the line echo canceller on speech with a hybrid's echo: the speech fixture at the far
// end, its echo through a dispersive 6 ms path with 10 dB of return loss and a little near-end
// noise at the near end. Ours runs as a channel does (one 40-sample far-end block in, one
// near-end block cancelled, with its non-linear processor and comfort noise); libspandsp's
// 256-tap canceller takes the same samples one at a time with adaptation, its non-linear
// processor and comfort noise. The ratio is peer time over ours (above 1: ours is faster).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "../util/bench_ratio.h"
#include "ecan.h"
#include "orvox_fixture.h"

extern "C" {
#include <spandsp.h>
}

namespace {

// The peer's library prints diagnostics for every sample through the fortified printf; while the
// peer runs they are dropped at the call, so that its time is the canceller's alone.
std::atomic<bool> peerMuted{false};

}  // namespace

extern "C" int __printf_chk(int /*flag*/, const char* format, ...) {
  if (peerMuted.load(std::memory_order_relaxed)) return 0;
  va_list args;
  va_start(args, format);
  const int n = std::vprintf(format, args);
  va_end(args);
  return n;
}

namespace {

constexpr int kBlock = 40;
constexpr int kTaps = 256;
constexpr int kEchoDelay = 20;  // samples from the far end to the start of the echo path

struct Signals {
  std::vector<int16_t> far, near;
};

const Signals& signals() {
  static const Signals s = [] {
    Signals out;
    out.far = orvox_fixture::loadPcm16("speech/speech_8k.raw");
    out.far.resize(out.far.size() / kBlock * kBlock);
    // A decaying, oscillating 6 ms impulse response scaled to 10 dB of return loss.
    std::mt19937 rng(3);
    std::normal_distribution<double> d(0, 1);
    std::vector<double> path(48);
    double e = 0;
    for (size_t k = 0; k < path.size(); ++k) {
      path[k] = d(rng) * std::exp(-3.0 * k / path.size()) * std::cos(0.9 * k);
      e += path[k] * path[k];
    }
    for (double& v : path) v *= std::pow(10.0, -10.0 / 20) / std::sqrt(e);
    std::normal_distribution<double> noise(0, 10);
    out.near.resize(out.far.size());
    for (size_t i = 0; i < out.far.size(); ++i) {
      double acc = noise(rng);
      for (size_t k = 0; k < path.size(); ++k) {
        if (i >= kEchoDelay + k) acc += path[k] * out.far[i - kEchoDelay - k];
      }
      out.near[i] = static_cast<int16_t>(std::clamp(std::lround(acc), -32768L, 32767L));
    }
    return out;
  }();
  return s;
}

void BM_OursSpeechHybrid(benchmark::State& st) {
  const Signals& s = signals();
  auto hec = std::make_unique<HEC>();
  hecInit(hec.get(), 0);
  hec->bulkDelay = 0;  // the echo starts within the 256 taps, as for the peer
  size_t pos = 0;
  int16_t far[kBlock], near[kBlock];
  for (auto _ : st) {
    std::copy_n(&s.far[pos], kBlock, far);
    std::copy_n(&s.near[pos], kBlock, near);
    hecEgress(hec.get(), far, nullptr, kBlock);
    hecIngress(hec.get(), near, nullptr, kBlock);
    benchmark::DoNotOptimize(near);
    pos = (pos + kBlock) % s.far.size();
  }
  st.counters["blocks/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
  st.counters["converged"] = hec->state.state & HAPI_HEC_STATE_CONVERGED;
}

void BM_SpandspSpeechHybrid(benchmark::State& st) {
  const Signals& s = signals();
  echo_can_state_t* ec = echo_can_init(kTaps, ECHO_CAN_USE_ADAPTION | ECHO_CAN_USE_NLP | ECHO_CAN_USE_CNG);
  size_t pos = 0;
  int16_t out[kBlock];
  peerMuted = true;
  for (auto _ : st) {
    for (int i = 0; i < kBlock; ++i) out[i] = echo_can_update(ec, s.far[pos + i], s.near[pos + i]);
    benchmark::DoNotOptimize(out);
    pos = (pos + kBlock) % s.far.size();
  }
  peerMuted = false;
  echo_can_free(ec);
  st.counters["blocks/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_OursSpeechHybrid);
BENCHMARK(BM_SpandspSpeechHybrid);

}  // namespace

int main(int argc, char** argv) {
  return orvox_bench::runWithRatios(
      argc, argv, {{"echo canceller 256 taps speech+hybrid", "BM_OursSpeechHybrid", "BM_SpandspSpeechHybrid"}});
}
