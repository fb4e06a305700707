// Cost of one 30 ms frame of G.723.1, encode and decode, next to libavcodec's implementation.
#include <benchmark/benchmark.h>

#include "../util/bench_ratio.h"

#include <array>
#include <cstring>
#include <vector>

#include "g7231_avcodec.h"
#include "g7231_test_util.h"

namespace {

const std::vector<std::int16_t>& speech() {
  static const std::vector<std::int16_t> s = g7231_test::load_speech(8000 * 13);
  return s;
}
std::size_t frames() { return speech().size() / 240; }

void BM_G7231Encode(benchmark::State& state) {
  G7231_Coder_State enc;
  g7231_test::init_encoder(&enc, static_cast<G7231_Crate>(state.range(0)), static_cast<int>(state.range(1)));
  std::int16_t in[240], out[12];
  std::size_t n = 0;
  for (auto _ : state) {
    std::memcpy(in, &speech()[n * 240], sizeof in);
    benchmark::DoNotOptimize(g7231_Coder(in, out, &enc));
    n = (n + 1) % frames();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_G7231Encode)->Args({0, 0})->Args({1, 0})->Args({0, 1})->ArgNames({"rate53", "vad"});

void BM_G7231Decode(benchmark::State& state) {
  const G7231_Crate rate = static_cast<G7231_Crate>(state.range(0));
  G7231_Coder_State enc;
  g7231_test::init_encoder(&enc, rate, 0);
  std::vector<std::array<std::int16_t, 12>> packets(frames());
  for (std::size_t n = 0; n < packets.size(); ++n) {
    std::int16_t in[240];
    std::memcpy(in, &speech()[n * 240], sizeof in);
    g7231_Coder(in, packets[n].data(), &enc);
  }
  G7231_Decod_State dec;
  g7231_test::init_decoder(&dec, rate, 1);
  std::int16_t out[240];
  std::size_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(g7231_Decod(out, packets[n].data(), 0, &dec));
    n = (n + 1) % packets.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_G7231Decode)->Arg(0)->Arg(1)->ArgName("rate53");

void BM_LibavcodecEncode(benchmark::State& state) {
  g7231_test::AvG7231 enc(true);
  std::size_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(enc.encode(&speech()[n * 240]));
    n = (n + 1) % frames();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LibavcodecEncode);

void BM_LibavcodecDecode(benchmark::State& state) {
  g7231_test::AvG7231 enc(true), dec(false);
  std::vector<std::vector<std::uint8_t>> packets;
  for (std::size_t n = 0; n < frames(); ++n) {
    auto p = enc.encode(&speech()[n * 240]);
    if (!p.empty()) packets.push_back(std::move(p));
  }
  std::int16_t out[240];
  std::size_t n = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(dec.decode(packets[n], out));
    n = (n + 1) % packets.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LibavcodecDecode);

}  // namespace

int main(int argc, char** argv) {
  return orvox_bench::runWithRatios(argc, argv, {
      {"G.723.1 6.3 encode", "BM_G7231Encode/rate53:0/vad:0", "BM_LibavcodecEncode"},
      {"G.723.1 6.3 decode", "BM_G7231Decode/rate53:0", "BM_LibavcodecDecode"}});
}
