// Cost of one 20 or 30 ms frame of iLBC, encode and decode, with decode next to libavcodec's
// independent decoder on the same payloads.
#include <benchmark/benchmark.h>

#include "../util/bench_ratio.h"

#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "ilbc_avcodec.h"
#include "ilbc_test_util.h"

namespace {

using namespace ilbc_test;

const std::vector<std::int16_t>& speech() {
  static const std::vector<std::int16_t> s = load_speech(8000 * 12, 480);
  return s;
}

const std::vector<Payload>& payloads(int mode) {
  static const std::vector<Payload> p20 = encode_all(speech(), 20), p30 = encode_all(speech(), 30);
  return mode == 30 ? p30 : p20;
}

void BM_IlbcEncode(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0)), n = frame_len(mode);
  iLBC_Enc_Inst_t enc{};
  ILBCFIX_MORV_initEncode(&enc, static_cast<std::int16_t>(mode));
  const std::size_t frames = speech().size() / static_cast<std::size_t>(n);
  std::array<std::int16_t, 240> block{};
  std::array<std::uint16_t, 25> out{};
  std::size_t f = 0;
  for (auto _ : state) {
    std::copy_n(speech().begin() + static_cast<long>(f * static_cast<std::size_t>(n)), n, block.begin());
    ILBCFIX_MORV_encode(out.data(), block.data(), &enc);
    benchmark::DoNotOptimize(out);
    f = (f + 1) % frames;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IlbcEncode)->Arg(20)->Arg(30)->ArgName("ms");

void BM_IlbcDecode(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  iLBC_Dec_Inst_t dec{};
  ILBCFIX_MORV_initDecode(&dec, static_cast<std::int16_t>(mode), static_cast<std::int16_t>(state.range(1)));
  const auto& p = payloads(mode);
  std::array<std::int16_t, 240> out{};
  std::size_t f = 0;
  for (auto _ : state) {
    ILBCFIX_MORV_Decode(out.data(), p[f].data(), &dec, 1);
    benchmark::DoNotOptimize(out);
    f = (f + 1) % p.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_IlbcDecode)->Args({20, 1})->Args({30, 1})->Args({20, 0})->Args({30, 0})->ArgNames({"ms", "enhancer"});

void BM_LibavcodecDecode(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  AvIlbcDecoder dec(mode);
  std::vector<std::vector<std::uint8_t>> octets;
  for (const auto& p : payloads(mode)) octets.push_back(to_octets(p));
  std::array<std::int16_t, 240> out{};
  std::size_t f = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(dec.decode(octets[f], out.data()));
    f = (f + 1) % octets.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LibavcodecDecode)->Arg(20)->Arg(30)->ArgName("ms");

}  // namespace

int main(int argc, char** argv) {
  return orvox_bench::runWithRatios(argc, argv, {
      {"iLBC 20 ms decode, enhancer on", "BM_IlbcDecode/ms:20/enhancer:1", "BM_LibavcodecDecode/ms:20"},
      {"iLBC 30 ms decode, enhancer on", "BM_IlbcDecode/ms:30/enhancer:1", "BM_LibavcodecDecode/ms:30"},
      {"iLBC 20 ms decode, enhancer off", "BM_IlbcDecode/ms:20/enhancer:0", "BM_LibavcodecDecode/ms:20"},
      {"iLBC 30 ms decode, enhancer off", "BM_IlbcDecode/ms:30/enhancer:0", "BM_LibavcodecDecode/ms:30"},
  });
}
