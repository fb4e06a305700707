// Encode and decode time per 10 ms frame of the G.729 Annex A/B codec, beside the independent
// implementation from the distribution (libbcg729) on the same speech.
#include <benchmark/benchmark.h>

#include "../util/bench_ratio.h"

extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
}

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "g729.h"
#include "orvox_fixture.h"

namespace {

const std::vector<std::int16_t>& speech() {
    static const std::vector<std::int16_t> pcm = [] {
        auto s = orvox_fixture::loadPcm16("speech/speech_8k.raw");
        s.resize(s.size() / 80 * 80);
        return s;
    }();
    return pcm;
}

std::size_t frames() { return speech().size() / 80; }

void OrvoxEncode(benchmark::State& state) {
    auto enc = std::make_unique<G729ENCSTATE>();
    g729EncodeInit(enc.get(), G729RATE_NUM_RATES);
    g729EncodeCfg(enc.get(), state.range(0) ? G729VAD_ON : G729VAD_OFF, G729RATE_8_KBPS_A);
    std::uint16_t w[6];
    std::size_t f = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(g729Encoder(enc.get(), &speech()[80 * f], w, nullptr));
        f = (f + 1) % frames();
    }
    state.SetLabel("per 10 ms frame");
}

void OracleEncode(benchmark::State& state) {
    auto* ctx = initBcg729EncoderChannel(state.range(0) ? 1 : 0);
    std::uint8_t b[10], len;
    std::size_t f = 0;
    for (auto _ : state) {
        bcg729Encoder(ctx, &speech()[80 * f], b, &len);
        benchmark::DoNotOptimize(len);
        f = (f + 1) % frames();
    }
    closeBcg729EncoderChannel(ctx);
    state.SetLabel("per 10 ms frame");
}

// One stream of 80-bit frames from our encoder, decoded by both sides.
const std::vector<std::vector<std::uint16_t>>& stream() {
    static const auto s = [] {
        auto enc = std::make_unique<G729ENCSTATE>();
        g729EncodeInit(enc.get(), G729RATE_NUM_RATES);
        g729EncodeCfg(enc.get(), G729VAD_OFF, G729RATE_8_KBPS_A);
        std::vector<std::vector<std::uint16_t>> out;
        for (std::size_t f = 0; f < frames(); ++f) {
            std::vector<std::uint16_t> w(6);
            g729Encoder(enc.get(), &speech()[80 * f], w.data(), nullptr);
            out.push_back(w);
        }
        return out;
    }();
    return s;
}

void OrvoxDecode(benchmark::State& state) {
    auto dec = std::make_unique<G729DECSTATE>();
    g729DecodeInit(dec.get(), G729RATE_NUM_RATES);
    g729DecodeCfg(dec.get(), G729RATE_8_KBPS_A);
    std::int16_t out[80];
    std::size_t f = 0;
    for (auto _ : state) {
        g729Decoder(dec.get(), out, stream()[f].data(), G729_RATE_8_0, nullptr);
        benchmark::DoNotOptimize(out[0]);
        f = (f + 1) % frames();
    }
    state.SetLabel("per 10 ms frame");
}

void OracleDecode(benchmark::State& state) {
    auto* ctx = initBcg729DecoderChannel();
    std::int16_t out[80];
    std::size_t f = 0;
    for (auto _ : state) {
        std::uint8_t b[10];
        for (int i = 0; i < 10; ++i) b[i] = static_cast<std::uint8_t>(i & 1 ? stream()[f][i / 2] & 0xFF : stream()[f][i / 2] >> 8);
        bcg729Decoder(ctx, b, 10, 0, 0, 0, out);
        benchmark::DoNotOptimize(out[0]);
        f = (f + 1) % frames();
    }
    closeBcg729DecoderChannel(ctx);
    state.SetLabel("per 10 ms frame");
}

}  // namespace

BENCHMARK(OrvoxEncode)->Arg(0)->Arg(1);
BENCHMARK(OracleEncode)->Arg(0)->Arg(1);
BENCHMARK(OrvoxDecode);
BENCHMARK(OracleDecode);
int main(int argc, char** argv) {
  return orvox_bench::runWithRatios(argc, argv, {
      {"G.729A encode, VAD off", "OrvoxEncode/0", "OracleEncode/0"},
      {"G.729A encode, VAD on", "OrvoxEncode/1", "OracleEncode/1"},
      {"G.729A decode", "OrvoxDecode", "OracleDecode"}});
}
