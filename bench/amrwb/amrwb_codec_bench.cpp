// AMR-WB cost per 20 ms frame: our encoder next to the independent encoder on
// the same input in all nine modes, and our decoder next to the independent
// decoder at 6.60, 12.65 and 23.85 kbit/s on the same stream (encoded by the
// independent encoder from the speech fixture); the shared reporter prints
// peer time / our time per pair (above 1: ours is faster).
#include <benchmark/benchmark.h>
#include <opencore-amrwb/dec_if.h>
#include <vo-amrwbenc/enc_if.h>

#include <memory>
#include <string>
#include <vector>

#include "../util/bench_ratio.h"

#include "amrwb_decoder.h"
#include "amrwb_encoder.h"
#include "amrwb_oracle_util.h"

namespace {

struct Stream {
    std::vector<std::vector<unsigned char>> storage;
    std::vector<std::vector<Word16>> serial;
};

const Stream& stream(int mode) {
    static Stream streams[9];
    Stream& s = streams[mode];
    if (s.storage.empty()) {
        std::vector<short> speech = amrwb_test::load_speech16(250);
        void* enc = E_IF_init();
        for (std::size_t i = 0; i + 320 <= speech.size(); i += 320) {
            unsigned char buf[64];
            int n = E_IF_encode(enc, mode, &speech[i], buf, 0);
            s.storage.emplace_back(buf, buf + n);
            s.serial.push_back(amrwb_test::serial_of(buf, mode));
        }
        E_IF_exit(enc);
    }
    return s;
}

void BM_Decode(benchmark::State& state) {
    int mode = static_cast<int>(state.range(0));
    const Stream& s = stream(mode);
    auto st = std::make_unique<wb_amr_Decoder_State>();
    amr_wb_Init_decoder(st.get());
    Word16 out[320], len;
    std::size_t i = 0;
    for (auto _ : state) {
        amr_wb_decoder(static_cast<Word16>(mode), s.serial[i].data(), out, &len, st.get(), RX_SPEECH_GOOD, nullptr);
        benchmark::DoNotOptimize(out);
        i = (i + 1) % s.serial.size();
    }
}

void BM_PeerDecode(benchmark::State& state) {
    int mode = static_cast<int>(state.range(0));
    const Stream& s = stream(mode);
    void* dec = D_IF_init();
    short out[320];
    std::size_t i = 0;
    for (auto _ : state) {
        D_IF_decode(dec, s.storage[i].data(), out, 0);
        benchmark::DoNotOptimize(out);
        i = (i + 1) % s.storage.size();
    }
    D_IF_exit(dec);
}

void BM_Encode(benchmark::State& state) {
    int mode = static_cast<int>(state.range(0));
    std::vector<short> speech = amrwb_test::load_speech16(250);
    auto st = std::make_unique<wb_amr_Coder_State>();
    amr_wb_Init_coder(st.get());
    Word16 prms[477], ser;
    std::size_t i = 0;
    for (auto _ : state) {
        Word16 m = static_cast<Word16>(mode);
        amr_wb_coder(&m, &speech[i], prms, &ser, st.get(), 0, nullptr);
        benchmark::DoNotOptimize(prms);
        i = (i + 320) % (speech.size() - 319);
        i -= i % 320;
    }
}

void BM_PeerEncode(benchmark::State& state) {
    int mode = static_cast<int>(state.range(0));
    std::vector<short> speech = amrwb_test::load_speech16(250);
    void* enc = E_IF_init();
    unsigned char out[64];
    std::size_t i = 0;
    for (auto _ : state) {
        E_IF_encode(enc, mode, &speech[i], out, 0);
        benchmark::DoNotOptimize(out);
        i = (i + 320) % (speech.size() - 319);
        i -= i % 320;
    }
    E_IF_exit(enc);
}

}  // namespace

BENCHMARK(BM_Encode)->DenseRange(0, 8);
BENCHMARK(BM_PeerEncode)->DenseRange(0, 8);
BENCHMARK(BM_Decode)->Arg(0)->Arg(2)->Arg(8);
BENCHMARK(BM_PeerDecode)->Arg(0)->Arg(2)->Arg(8);

int main(int argc, char** argv) {
    static const char* const kRate[9] = {"6.60", "8.85", "12.65", "14.25", "15.85",
                                         "18.25", "19.85", "23.05", "23.85"};
    std::vector<orvox_bench::RatioPair> pairs;
    for (int m = 0; m <= 8; ++m)
        pairs.push_back({std::string("AMR-WB ") + kRate[m] + " encode", "BM_Encode/" + std::to_string(m),
                         "BM_PeerEncode/" + std::to_string(m)});
    for (int m : {0, 2, 8})
        pairs.push_back({std::string("AMR-WB ") + kRate[m] + " decode", "BM_Decode/" + std::to_string(m),
                         "BM_PeerDecode/" + std::to_string(m)});
    return orvox_bench::runWithRatios(argc, argv, std::move(pairs));
}
