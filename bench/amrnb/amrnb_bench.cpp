// AMR-NB frame costs: our encoder and decoder next to the independent
// implementation's, on the speech fixture and a stream the latter encoded from it.
#include <benchmark/benchmark.h>

#include "../util/bench_ratio.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "amrefr_decoder.h"
#include "amrefr_encoder.h"
#include "amrnb_oracle_shim.h"
#include "amrnb_payload_order.h"

namespace {

struct Stream {
    std::vector<std::vector<unsigned char>> packed;
    std::vector<std::vector<Word16>> serial;
};

std::vector<short> load_speech() {
    std::string path = std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw";
    std::vector<short> speech(160 * 250);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return {};
    size_t n = std::fread(speech.data(), 2, speech.size(), f) / 160;
    std::fclose(f);
    speech.resize(160 * n);
    return speech;
}

Stream make_stream(int mode) {
    Stream s;
    std::vector<short> speech = load_speech();
    size_t n = speech.size() / 160;
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

void BM_EncodeFrame(benchmark::State& state) {
    int mode = static_cast<int>(state.range(0));
    std::vector<short> speech = load_speech();
    auto enc = std::make_unique<GSMAMR_Speech_Encode_FrameState>();
    gsmamr_Speech_Encode_Frame_init(enc.get(), 0);
    Word16 serial[AMR_SERIAL_FRAMESIZE];
    GSMAMR_MODE used;
    std::uint16_t frame_type;
    size_t i = 0, n = speech.size() / 160;
    for (auto _ : state) {
        gsmamr_Speech_Encode_Frame(enc.get(), static_cast<GSMAMR_MODE>(mode), &speech[160 * i], serial, &used,
                                   &frame_type);
        benchmark::DoNotOptimize(serial);
        i = (i + 1) % n;
    }
}

void BM_OracleEncodeFrame(benchmark::State& state) {
    int mode = static_cast<int>(state.range(0));
    std::vector<short> speech = load_speech();
    void* enc = oracle_amrnb_encoder(0);
    unsigned char out[64];
    size_t i = 0, n = speech.size() / 160;
    for (auto _ : state) {
        oracle_amrnb_encode(enc, mode, &speech[160 * i], out);
        benchmark::DoNotOptimize(out);
        i = (i + 1) % n;
    }
    oracle_amrnb_encoder_free(enc);
}

// GSM EFR with DTX on: encode, and decode of the encoder's own stream (EFR has
// no oracle; the 12.2 kbit/s figures above are its reference).
void BM_EfrEncodeFrame(benchmark::State& state) {
    std::vector<short> speech = load_speech();
    auto enc = std::make_unique<GSMAMR_ENCSTRUCT>();
    amrefr_Speech_Encode_Frame_resetEFR(&enc->speech_encoder_state, 1, &enc->EFRdtx_encSt);
    Word16 serial[AMR_SERIAL_FRAMESIZE];
    size_t i = 0, n = speech.size() / 160;
    for (auto _ : state) {
        amrefr_Speech_Encode_Frame(&enc->speech_encoder_state, MR122, &speech[160 * i], serial, nullptr, 1);
        benchmark::DoNotOptimize(serial);
        i = (i + 1) % n;
    }
}

void BM_EfrDecodeFrame(benchmark::State& state) {
    std::vector<short> speech = load_speech();
    size_t n = speech.size() / 160;
    auto enc = std::make_unique<GSMAMR_ENCSTRUCT>();
    amrefr_Speech_Encode_Frame_resetEFR(&enc->speech_encoder_state, 1, &enc->EFRdtx_encSt);
    std::vector<std::vector<Word16>> rx(n, std::vector<Word16>(AMR_SERIAL_FRAMESIZE, 0));
    for (size_t i = 0; i < n; ++i) {
        Word16 serial[AMR_SERIAL_FRAMESIZE];
        amrefr_Speech_Encode_Frame(&enc->speech_encoder_state, MR122, &speech[160 * i], serial, nullptr, 1);
        for (int b = 0; b < 244; ++b) rx[i][1 + b] = serial[b];
        rx[i][EFR_SERIAL_SID_WORD] = serial[EFR_SERIAL_SP_WORD] ? 0 : 2;
    }
    auto dec = std::make_unique<GSMAMR_DECSTRUCT>();
    amrefr_Speech_Decode_Frame_resetEFR(&dec->speech_decoder_state, &dec->EFRdtx_decSt);
    Word16 out[160];
    size_t i = 0;
    for (auto _ : state) {
        amrefr_Speech_Decode_Frame(&dec->speech_decoder_state, 0, rx[i].data(), out, 1);
        benchmark::DoNotOptimize(out);
        i = (i + 1) % n;
    }
}

}  // namespace

BENCHMARK(BM_EncodeFrame)->DenseRange(0, 7);
BENCHMARK(BM_OracleEncodeFrame)->DenseRange(0, 7);
BENCHMARK(BM_DecodeFrame)->Arg(0)->Arg(7);
BENCHMARK(BM_OracleDecodeFrame)->Arg(0)->Arg(7);
BENCHMARK(BM_EfrEncodeFrame);
BENCHMARK(BM_EfrDecodeFrame);
int main(int argc, char** argv) {
  return orvox_bench::runWithRatios(argc, argv, {
      {"AMR-NB 4.75 encode", "BM_EncodeFrame/0", "BM_OracleEncodeFrame/0"},
      {"AMR-NB 5.15 encode", "BM_EncodeFrame/1", "BM_OracleEncodeFrame/1"},
      {"AMR-NB 5.9 encode", "BM_EncodeFrame/2", "BM_OracleEncodeFrame/2"},
      {"AMR-NB 6.7 encode", "BM_EncodeFrame/3", "BM_OracleEncodeFrame/3"},
      {"AMR-NB 7.4 encode", "BM_EncodeFrame/4", "BM_OracleEncodeFrame/4"},
      {"AMR-NB 7.95 encode", "BM_EncodeFrame/5", "BM_OracleEncodeFrame/5"},
      {"AMR-NB 10.2 encode", "BM_EncodeFrame/6", "BM_OracleEncodeFrame/6"},
      {"AMR-NB 12.2 encode", "BM_EncodeFrame/7", "BM_OracleEncodeFrame/7"},
      {"EFR encode (peer: 12.2)", "BM_EfrEncodeFrame", "BM_OracleEncodeFrame/7"},
      {"AMR-NB 4.75 decode", "BM_DecodeFrame/0", "BM_OracleDecodeFrame/0"},
      {"AMR-NB 12.2 decode", "BM_DecodeFrame/7", "BM_OracleDecodeFrame/7"},
      {"EFR decode (peer: 12.2)", "BM_EfrDecodeFrame", "BM_OracleDecodeFrame/7"}});
}
