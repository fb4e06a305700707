// Cost of one 20 ms frame of the full-rate codec, encode and decode, next to an independent
// implementation of the same standard. Both sides include the 33-byte frame of the wire (a 0xD
// signature nibble and the 260 bits, most significant first) that the peer's calls produce and take.
#include <benchmark/benchmark.h>

#include "../util/bench_ratio.h"
#include <gsm.h>

#include <array>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "gsmfr.h"

namespace {

const std::vector<std::int16_t>& speech() {
  static const std::vector<std::int16_t> samples = [] {
    std::ifstream f(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw", std::ios::binary);
    std::vector<std::int16_t> s(8000 * 13);
    f.read(reinterpret_cast<char*>(s.data()), static_cast<std::streamsize>(s.size() * 2));
    s.resize(static_cast<std::size_t>(f.gcount()) / 2 / GSMFR_FRAME_LEN * GSMFR_FRAME_LEN);
    return s;
  }();
  return samples;
}

std::size_t frame_count() { return speech().size() / GSMFR_FRAME_LEN; }

using Frame33 = std::array<std::uint8_t, 33>;

// The codec's parameters into the 33-byte frame, as the packet path sends them.
void pack33(const std::int16_t* parm, Frame33& frame) {
  std::int16_t bits[GSMFR_SERIAL_BITS];
  gsmfr_prm2bits(parm, bits);
  frame.fill(0);
  frame[0] = 0xD0;
  for (int i = 0; i < GSMFR_SERIAL_BITS; ++i) {
    const int pos = i + 4;
    if (bits[i]) frame[pos / 8] = static_cast<std::uint8_t>(frame[pos / 8] | (0x80 >> (pos % 8)));
  }
}

// The 33-byte frame back into the decoder's parameters.
void unpack33(const Frame33& frame, std::int16_t* parm) {
  std::int16_t bits[GSMFR_SERIAL_BITS];
  for (int i = 0; i < GSMFR_SERIAL_BITS; ++i) {
    const int pos = i + 4;
    bits[i] = static_cast<std::int16_t>((frame[pos / 8] >> (7 - pos % 8)) & 1);
  }
  gsmfr_bits2prm(bits, parm);
}

void BM_GsmfrEncode(benchmark::State& state) {
  GSMFR_ENCSTRUCT enc;
  gsmfr_reset_enc(&enc, static_cast<std::int16_t>(state.range(0)));
  std::int16_t parm[GSMFR_NUM_DEC_PRM];
  Frame33 frame;
  std::size_t n = 0;
  for (auto _ : state) {
    gsmfr_encode(&enc, &speech()[n * GSMFR_FRAME_LEN], parm);
    pack33(parm, frame);
    benchmark::DoNotOptimize(frame);
    n = (n + 1) % frame_count();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GsmfrEncode)->Arg(0)->Arg(1)->ArgName("dtx");

void BM_GsmfrDecode(benchmark::State& state) {
  GSMFR_ENCSTRUCT enc;
  gsmfr_reset_enc(&enc, 0);
  std::vector<Frame33> frames(frame_count());
  std::int16_t parm[GSMFR_NUM_DEC_PRM] = {};
  for (std::size_t n = 0; n < frames.size(); ++n) {
    gsmfr_encode(&enc, &speech()[n * GSMFR_FRAME_LEN], parm);
    pack33(parm, frames[n]);
  }
  GSMFR_DECSTRUCT dec;
  gsmfr_reset_dec(&dec);
  std::int16_t out[GSMFR_FRAME_LEN];
  std::size_t n = 0;
  for (auto _ : state) {
    unpack33(frames[n], parm);
    gsmfr_decode(&dec, parm, 0, out);
    benchmark::DoNotOptimize(out);
    n = (n + 1) % frames.size();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GsmfrDecode);

void BM_LibgsmEncode(benchmark::State& state) {
  gsm g = gsm_create();
  gsm_frame frame;
  std::array<gsm_signal, GSMFR_FRAME_LEN> in;
  std::size_t n = 0;
  for (auto _ : state) {
    std::copy_n(&speech()[n * GSMFR_FRAME_LEN], GSMFR_FRAME_LEN, in.begin());
    gsm_encode(g, in.data(), frame);
    benchmark::DoNotOptimize(frame);
    n = (n + 1) % frame_count();
  }
  gsm_destroy(g);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LibgsmEncode);

void BM_LibgsmDecode(benchmark::State& state) {
  gsm g = gsm_create();
  std::vector<std::array<gsm_byte, 33>> frames(frame_count());
  std::array<gsm_signal, GSMFR_FRAME_LEN> in;
  for (std::size_t n = 0; n < frames.size(); ++n) {
    std::copy_n(&speech()[n * GSMFR_FRAME_LEN], GSMFR_FRAME_LEN, in.begin());
    gsm_encode(g, in.data(), frames[n].data());
  }
  gsm d = gsm_create();
  gsm_signal out[GSMFR_FRAME_LEN];
  std::size_t n = 0;
  for (auto _ : state) {
    gsm_decode(d, frames[n].data(), out);
    benchmark::DoNotOptimize(out);
    n = (n + 1) % frames.size();
  }
  gsm_destroy(g);
  gsm_destroy(d);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LibgsmDecode);

}  // namespace

int main(int argc, char** argv) {
  return orvox_bench::runWithRatios(argc, argv, {
      {"GSM-FR encode", "BM_GsmfrEncode/dtx:0", "BM_LibgsmEncode"},
      {"GSM-FR decode", "BM_GsmfrDecode", "BM_LibgsmDecode"}});
}
