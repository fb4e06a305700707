// Narrowband PCM concealment per 5 ms frame with one frame in ten lost, ours next to libspandsp's
// on the same speech and the same losses. Prints peer time / our time at the end.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "../line/line_bench_input.h"
#include "../util/bench_ratio.h"
#include "pcmplc.h"

namespace {

constexpr int kFrame = NB_PLC_FRAME;

// Frame n is lost when lost[n]: one in ten at random, the same sequence for both.
std::vector<bool> tenPercentLoss(size_t frames) {
  std::vector<bool> lost(frames);
  uint32_t seed = 777;
  for (size_t n = 0; n < frames; ++n) {
    seed = seed * 1103515245u + 12345u;
    lost[n] = ((seed >> 16) % 10) == 0;
  }
  return lost;
}

void BM_NbPlcOurs(benchmark::State& st) {
  const auto x = linebench::speech8k();
  const auto lost = tenPercentLoss(x.size() / kFrame);
  NB_PLC_State s;
  Reset_NB_PLC(&s);
  size_t n = 0;
  int16_t frame[kFrame];
  for (auto _ : st) {
    if (lost[n]) {
      NB_PLC_erasure(&s, frame);
    } else {
      std::memcpy(frame, &x[n * kFrame], sizeof(frame));
      NB_PLC(&s, frame, frame);
    }
    benchmark::DoNotOptimize(frame);
    if (++n == lost.size()) n = 0;
  }
}

void BM_NbPlcSpandsp(benchmark::State& st) {
  const auto x = linebench::speech8k();
  const auto lost = tenPercentLoss(x.size() / kFrame);
  plc_state_t* s = plc_init(nullptr);
  size_t n = 0;
  int16_t frame[kFrame];
  for (auto _ : st) {
    if (lost[n]) {
      plc_fillin(s, frame, kFrame);
    } else {
      std::memcpy(frame, &x[n * kFrame], sizeof(frame));
      plc_rx(s, frame, kFrame);
    }
    benchmark::DoNotOptimize(frame);
    if (++n == lost.size()) n = 0;
  }
  plc_free(s);
}

BENCHMARK(BM_NbPlcOurs);
BENCHMARK(BM_NbPlcSpandsp);

}  // namespace

int main(int argc, char** argv) {
  return orvox_bench::runWithRatios(argc, argv, {
      {"narrowband concealment, 10 % loss", "BM_NbPlcOurs", "BM_NbPlcSpandsp"},
  });
}
