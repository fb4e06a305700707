// AMR-NB frame costs: our decoder next to the independent implementation's,
// on a stream that the latter encoded from the speech fixture.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "amrefr_decoder.h"
#include "amrnb_oracle_shim.h"
#include "amrnb_payload_order.h"

namespace {

struct Stream {
    std::vector<std::vector<unsigned char>> packed;
    std::vector<std::vector<Word16>> serial;
};

Stream make_stream(int mode) {
    Stream s;
    std::string path = std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw";
    std::vector<short> speech(160 * 250);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return s;
    size_t n = std::fread(speech.data(), 2, speech.size(), f) / 160;
    std::fclose(f);
    void* enc = oracle_amrnb_encoder(0);
    for (size_t i = 0; i < n; ++i) {
        std::vector<unsigned char> p(64);
        oracle_amrnb_encode(enc, mode, &speech[160 * i], p.data());
        std::vector<Word16> bits(AMR_SERIAL_FRAMESIZE);
        for (int b = 0; b < amrefr_mode_bits(mode); ++b)
            bits[kPayloadOrder[mode][b]] = static_cast<Word16>((p[1 + b / 8] >> (7 - b % 8)) & 1);
        s.packed.push_back(p);
        s.serial.push_back(bits);
    }
    oracle_amrnb_encoder_free(enc);
    return s;
}

void BM_DecodeFrame(benchmark::State& state) {
    int mode = static_cast<int>(state.range(0));
    Stream s = make_stream(mode);
    auto dec = std::make_unique<GSMAMR_DECSTRUCT>();
    gsmamr_Speech_Decode_Frame_init(&dec->speech_decoder_state, &dec->dtx_decSt);
    Word16 out[160];
    size_t i = 0;
    for (auto _ : state) {
        gsmamr_Speech_Decode_Frame(&dec->speech_decoder_state, static_cast<GSMAMR_MODE>(mode), s.serial[i].data(),
                                   RX_SPEECH_GOOD, out);
        benchmark::DoNotOptimize(out);
        i = (i + 1) % s.serial.size();
    }
}

void BM_OracleDecodeFrame(benchmark::State& state) {
    Stream s = make_stream(static_cast<int>(state.range(0)));
    void* dec = oracle_amrnb_decoder();
    short out[160];
    size_t i = 0;
    for (auto _ : state) {
        oracle_amrnb_decode(dec, s.packed[i].data(), out, 0);
        benchmark::DoNotOptimize(out);
        i = (i + 1) % s.packed.size();
    }
    oracle_amrnb_decoder_free(dec);
}

}  // namespace

BENCHMARK(BM_DecodeFrame)->Arg(0)->Arg(7);
BENCHMARK(BM_OracleDecodeFrame)->Arg(0)->Arg(7);
BENCHMARK_MAIN();
