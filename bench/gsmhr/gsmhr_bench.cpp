// Cost of one 20 ms frame of the half-rate encoder (VAD and DTX off and on) and decoder. No independent half-rate implementation
// exists to run beside it; our full-rate encoder on the same speech is printed for scale, and the
// ratio half-rate / full-rate is reported as a counter of the half-rate case.
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "gsmfr.h"
#include "gsmhr.h"

namespace {

const std::vector<std::int16_t>& speech() {
  static const std::vector<std::int16_t> samples = [] {
    std::ifstream f(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw", std::ios::binary);
    std::vector<std::int16_t> s(8000 * 13);
    f.read(reinterpret_cast<char*>(s.data()), static_cast<std::streamsize>(s.size() * 2));
    s.resize(static_cast<std::size_t>(f.gcount()) / 2 / 160 * 160);
    return s;
  }();
  return samples;
}

std::size_t frame_count() { return speech().size() / 160; }

// Mean time per frame of one full pass over the speech, for the ratio counter.
template <class F>
double pass_ns(F&& encodeFrame) {
  auto t0 = std::chrono::steady_clock::now();
  for (std::size_t n = 0; n < frame_count(); ++n) encodeFrame(n);
  auto t1 = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::nano>(t1 - t0).count() / double(frame_count());
}

void BM_GsmhrEncode(benchmark::State& state) {
  auto enc = std::make_unique<hr::GSMHR_ENCSTRUCT>();
  hr::gsmhr_reset_enc(enc.get(), static_cast<hr::Word16>(state.range(0)));
  hr::Word16 parm[hr::GSMHR_NUM_ENC_PRM], serial[hr::GSMHR_SERIAL_BITS];
  std::uint32_t flags;
  std::size_t n = 0;
  for (auto _ : state) {
    hr::gsmhr_encode(enc.get(), &speech()[n * 160], &flags, parm);
    hr::gsmhr_prm2bits(parm, serial);
    benchmark::DoNotOptimize(serial);
    n = (n + 1) % frame_count();
  }
  state.SetItemsProcessed(state.iterations());
  // Side by side on the same frames: half-rate encode time over full-rate encode time.
  auto hrEnc = std::make_unique<hr::GSMHR_ENCSTRUCT>();
  hr::gsmhr_reset_enc(hrEnc.get(), 0);
  GSMFR_ENCSTRUCT frEnc;
  gsmfr_reset_enc(&frEnc, 0);
  std::int16_t frParm[GSMFR_NUM_DEC_PRM];
  double hrNs = pass_ns([&](std::size_t k) { hr::gsmhr_encode(hrEnc.get(), &speech()[k * 160], &flags, parm); });
  double frNs = pass_ns([&](std::size_t k) { gsmfr_encode(&frEnc, &speech()[k * 160], frParm); });
  state.counters["hr_over_fr"] = hrNs / frNs;
}
BENCHMARK(BM_GsmhrEncode)->Arg(0)->Arg(1)->ArgName("dtx");

void BM_GsmhrDecode(benchmark::State& state) {
  auto enc = std::make_unique<hr::GSMHR_ENCSTRUCT>();
  hr::gsmhr_reset_enc(enc.get(), 1);
  std::vector<std::array<hr::Word16, hr::GSMHR_NUM_DEC_PRM>> frames(frame_count());
  std::vector<std::uint32_t> flags(frame_count());
  for (std::size_t n = 0; n < frames.size(); ++n) {
    std::uint32_t f;
    hr::gsmhr_encode(enc.get(), &speech()[n * 160], &f, frames[n].data());
    flags[n] = (f & hr::GSMHR_FLAG_SP) ? 0u : hr::GSMHR_FLAG_SID;
  }
  auto dec = std::make_unique<hr::GSMHR_DECSTRUCT>();
  hr::gsmhr_reset_dec(dec.get());
  hr::Word16 out[160];
  std::array<hr::Word16, hr::GSMHR_NUM_DEC_PRM> prm;
  std::size_t n = 0;
  for (auto _ : state) {
    prm = frames[n];
    hr::gsmhr_decode(dec.get(), prm.data(), flags[n], out);
    benchmark::DoNotOptimize(out);
    n = (n + 1) % frames.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GsmhrDecode);

void BM_GsmfrEncodeForScale(benchmark::State& state) {
  GSMFR_ENCSTRUCT enc;
  gsmfr_reset_enc(&enc, 0);
  std::int16_t parm[GSMFR_NUM_DEC_PRM];
  std::size_t n = 0;
  for (auto _ : state) {
    gsmfr_encode(&enc, &speech()[n * 160], parm);
    benchmark::DoNotOptimize(parm);
    n = (n + 1) % frame_count();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GsmfrEncodeForScale);

}  // namespace

BENCHMARK_MAIN();
