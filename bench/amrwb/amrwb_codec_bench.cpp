// AMR-WB decode cost per 20 ms frame at 23.85, 12.65 and 6.60 kbit/s: our
// decoder next to the independent decoder on the same stream (one encoded by
// the independent encoder from the speech fixture), with the ratio printed.
#include <benchmark/benchmark.h>
#include <opencore-amrwb/dec_if.h>
#include <vo-amrwbenc/enc_if.h>

#include <memory>
#include <vector>

#include "amrwb_decoder.h"
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

double g_ours[9], g_peer[9];

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

BENCHMARK(BM_Decode)->Arg(8)->Arg(2)->Arg(0);
BENCHMARK(BM_PeerDecode)->Arg(8)->Arg(2)->Arg(0);

// Collects the per-frame times and prints ours / peer for each mode.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            std::string name = r.benchmark_name();
            int mode = name.back() - '0';
            double t = r.GetAdjustedCPUTime();
            (name.rfind("BM_PeerDecode", 0) == 0 ? g_peer : g_ours)[mode] = t;
        }
    }
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const char* names[9] = {"6.60", "8.85", "12.65", "14.25", "15.85", "18.25", "19.85", "23.05", "23.85"};
    for (int m : {8, 2, 0})
        if (g_peer[m] > 0) std::printf("decode %s kbit/s: ours / peer = %.2f\n", names[m], g_ours[m] / g_peer[m]);
    return 0;
}
