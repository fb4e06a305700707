// Cost of one 40-sample echo-canceller block (far-end block in, near-end block cancelled, the
// background adapting), ours next to libspandsp's 256-tap canceller on the same signals; the
// ratio is printed at the end.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>

#include <fcntl.h>
#include <unistd.h>
#include <vector>

#include "ecan.h"

extern "C" {
#include <spandsp.h>
}

namespace {

constexpr int kBlock = 40;
constexpr int kTaps = 256;
constexpr int kSamples = 8000 * 4;

struct Signals {
  std::vector<int16_t> far, near;
};

const Signals& signals() {
  static const Signals s = [] {
    Signals out;
    std::mt19937 rng(1);
    std::normal_distribution<double> d(0, 3000);
    out.far.resize(kSamples);
    for (auto& v : out.far) v = static_cast<int16_t>(d(rng));
    out.near.assign(kSamples, 0);
    for (int i = 200; i < kSamples; ++i) {
      double acc = 0;
      for (int k = 0; k < 40; ++k) acc += 0.3 * std::exp(-k / 8.0) * std::cos(0.9 * k) * out.far[i - 170 - k];
      out.near[i] = static_cast<int16_t>(acc);
    }
    return out;
  }();
  return s;
}

struct Ours {
  std::unique_ptr<HEC> hec = std::make_unique<HEC>();
  size_t pos = 0;
  Ours() {
    hecInit(hec.get(), 0);
    hec->bulkDelay = 0;
  }
  void block() {
    const Signals& s = signals();
    int16_t far[kBlock], near[kBlock];
    std::copy_n(&s.far[pos], kBlock, far);
    std::copy_n(&s.near[pos], kBlock, near);
    hecEgress(hec.get(), far, nullptr, kBlock);
    hecIngress(hec.get(), near, nullptr, kBlock);
    benchmark::DoNotOptimize(near);
    pos = (pos + kBlock) % kSamples;
  }
};

// The peer prints a line per sample of its own diagnostics: they go to /dev/null while it runs.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = ::dup(1);
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
      ::dup2(null, 1);
      ::close(null);
    }
  }
  ~QuietStdout() {
    std::fflush(stdout);
    if (saved_ >= 0) {
      ::dup2(saved_, 1);
      ::close(saved_);
    }
  }

 private:
  int saved_ = -1;
};

struct Peer {
  echo_can_state_t* ec = echo_can_init(kTaps, ECHO_CAN_USE_ADAPTION);
  size_t pos = 0;
  ~Peer() { echo_can_free(ec); }
  void block() {
    const Signals& s = signals();
    int16_t out[kBlock];
    for (int i = 0; i < kBlock; ++i) out[i] = echo_can_update(ec, s.far[pos + i], s.near[pos + i]);
    benchmark::DoNotOptimize(out);
    pos = (pos + kBlock) % kSamples;
  }
};

void BM_OursBlock(benchmark::State& st) {
  Ours o;
  for (auto _ : st) o.block();
  st.counters["blocks/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_SpandspBlock(benchmark::State& st) {
  Peer p;
  QuietStdout quiet;
  for (auto _ : st) p.block();
  st.counters["blocks/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_OursBlock);
BENCHMARK(BM_SpandspBlock);

template <typename T>
double secondsFor(int blocks) {
  T t;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < blocks; ++i) t.block();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  constexpr int kBlocks = 4000;  // 20 s of audio
  const double ours = secondsFor<Ours>(kBlocks);
  double peer = 0;
  {
    QuietStdout quiet;
    peer = secondsFor<Peer>(kBlocks);
  }
  std::printf("echo canceller block (40 samples, 256 taps): ours %.2f us, spandsp %.2f us, ratio %.2f; "
              "one channel uses %.2f %% of a core\n",
              ours / kBlocks * 1e6, peer / kBlocks * 1e6, ours / peer, ours / kBlocks / 0.005 * 100);
  benchmark::Shutdown();
  return 0;
}
