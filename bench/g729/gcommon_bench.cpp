// Time per call of the generic routine set's heaviest routines next to the live G.729 codec's
// equivalents on the same speech-derived inputs; the ratio set/live is printed at the end.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "g729_internal.h"
#include "g729_kernels.h"
#include "gcommon.h"
#include "tables/gcommon_tables.h"

namespace {

using namespace gcommon;

// Per-frame inputs derived once from the speech fixture by the live codec's analysis.
struct Inputs {
    std::vector<std::vector<SINT16>> windows;  // 240 samples each
    std::vector<std::vector<SINT32>> r;        // 13 lag-windowed autocorrelation words
    std::vector<SINT16> expR0;
    std::vector<std::vector<SINT16>> A, rc, lsp, lsf;
};

const Inputs& inputs() {
    static const Inputs in = [] {
        Inputs d;
        std::ifstream f(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw", std::ios::binary);
        std::vector<SINT16> s;
        unsigned char b[2];
        while (f.read(reinterpret_cast<char*>(b), 2)) s.push_back(static_cast<SINT16>(b[0] | (b[1] << 8)));
        if (s.size() < 8000) s.assign(8000, 0);
        SINT16 oldA[11] = {}, oldRc[2] = {}, oldLsp[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
        for (std::size_t p = 0; p + 240 <= s.size() && d.windows.size() < 400; p += 80) {
            d.windows.emplace_back(s.begin() + static_cast<long>(p), s.begin() + static_cast<long>(p) + 240);
            std::vector<SINT32> r(13);
            d.expR0.push_back(g729::g729ab_Autocorr(d.windows.back().data(), r.data(), g729::g729ab_hamwindow.data()));
            g729::g729ab_Lag_window(r.data());
            std::vector<SINT16> A(11), rc(10), lsp(10), lsf(10);
            SINT16 err;
            g729::g729ab_Levinson(r.data(), A.data(), oldA, rc.data(), oldRc, &err);
            g729::g729ab_Az_lsp(A.data(), lsp.data(), oldLsp);
            std::memcpy(oldLsp, lsp.data(), sizeof oldLsp);
            g729::g729ab_Lsp_lsf2(lsp.data(), lsf.data());
            d.r.push_back(r);
            d.A.push_back(A);
            d.rc.push_back(rc);
            d.lsp.push_back(lsp);
            d.lsf.push_back(lsf);
        }
        return d;
    }();
    return in;
}

std::size_t count() { return inputs().windows.size(); }

void SetLpcChain(benchmark::State& state) {
    SINT16 scratch[240], oldA[10] = {}, oldRc[2] = {}, old[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
    std::size_t i = 0;
    for (auto _ : state) {
        SINT32 r[11];
        int e;
        SINT16 A[10], rc[10], err, lsp[10];
        g729Autocorr(inputs().windows[i].data(), 10, r, &e, scratch);
        g729aLevinson(r, A, rc, oldA, oldRc, &err, 1);
        g729Az_lsp(A, lsp, old, 2, g729aGridTab.data(), 51);
        benchmark::DoNotOptimize(lsp[0]);
        i = (i + 1) % count();
    }
}

void LiveLpcChain(benchmark::State& state) {
    SINT16 oldA[11] = {}, oldRc[2] = {}, old[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
    std::size_t i = 0;
    for (auto _ : state) {
        SINT32 r[13];
        SINT16 A[11], rc[10], err, lsp[10];
        g729::g729ab_Autocorr(inputs().windows[i].data(), r, g729::g729ab_hamwindow.data());
        g729::g729ab_Levinson(r, A, oldA, rc, oldRc, &err);
        g729::g729ab_Az_lsp(A, lsp, old);
        benchmark::DoNotOptimize(lsp[0]);
        i = (i + 1) % count();
    }
}

void SetPitchOl(benchmark::State& state) {
    alignas(8) SINT16 scratch[224];
    std::size_t i = 3;
    for (auto _ : state) {
        // 143 samples of history and the 80-sample frame, all inside the three previous windows.
        const SINT16* sig = inputs().windows[i].data() + 160;
        benchmark::DoNotOptimize(g729aPitch_ol_fast(sig - 0, scratch));
        i = i + 1 < count() ? i + 1 : 3;
    }
}

void LivePitchOl(benchmark::State& state) {
    std::vector<SINT16> buf(240);
    std::size_t i = 3;
    for (auto _ : state) {
        std::memcpy(buf.data(), inputs().windows[i].data(), 240 * sizeof(SINT16));
        benchmark::DoNotOptimize(g729::g729ab_Pitch_ol_fast(buf.data() + 160));
        i = i + 1 < count() ? i + 1 : 3;
    }
}

// Correlations of a decaying response and a speech target, ready for the codebook search.
struct CodebookInput {
    SINT16 dn[40], rrSet[616], rrLive[616], h[40];
};

const std::vector<CodebookInput>& codebookInputs() {
    static const std::vector<CodebookInput> v = [] {
        std::vector<CodebookInput> out;
        for (std::size_t f = 0; f < 64; ++f) {
            CodebookInput c{};
            for (int i = 0; i < 40; ++i) c.h[i] = static_cast<SINT16>(4096 * (40 - i) / 40 * ((i + static_cast<int>(f)) % 3 ? 1 : -1) / 2);
            c.h[0] = 4096;
            g729Cor_h_X(c.h, inputs().windows[f].data() + 100, c.dn);
            g729Cor_h(c.h, c.rrSet);
            g729::g729ab_Cor_h(c.h, c.rrLive);
            out.push_back(c);
        }
        return out;
    }();
    return v;
}

void SetD4i40(benchmark::State& state) {
    std::size_t i = 0;
    SINT16 dn[40], rr[616], cod[40], y[40], sign;
    for (auto _ : state) {
        const auto& c = codebookInputs()[i];
        std::memcpy(dn, c.dn, sizeof dn);
        std::memcpy(rr, c.rrSet, sizeof rr);
        benchmark::DoNotOptimize(g729aD4i40_17_fast(dn, rr, c.h, cod, y, &sign));
        i = (i + 1) % codebookInputs().size();
    }
}

void LiveD4i40(benchmark::State& state) {
    std::size_t i = 0;
    SINT16 dn[40], rr[616], cod[40], y[40], sign;
    for (auto _ : state) {
        const auto& c = codebookInputs()[i];
        std::memcpy(dn, c.dn, sizeof dn);
        std::memcpy(rr, c.rrLive, sizeof rr);
        benchmark::DoNotOptimize(g729::g729ab_D4i40_17_fast(dn, rr, c.h, cod, y, &sign));
        i = (i + 1) % codebookInputs().size();
    }
}

void SetLspQuantiser(benchmark::State& state) {
    SINT16 fp[4][10];
    for (auto& row : fp) std::memcpy(row, g729_std::freq_prev_reset.data(), sizeof row);
    std::size_t i = 0;
    for (auto _ : state) {
        SINT16 wegt[10], lsfq[10], ana[2];
        g729Get_wegt(inputs().lsf[i].data(), wegt);
        g729Relspwede(inputs().lsf[i].data(), wegt, lsfq, fp, ana);
        benchmark::DoNotOptimize(ana[0]);
        i = (i + 1) % count();
    }
}

void LiveLspQuantiser(benchmark::State& state) {
    SINT16 fp[4][10];
    for (auto& row : fp) std::memcpy(row, g729_std::freq_prev_reset.data(), sizeof row);
    std::size_t i = 0;
    for (auto _ : state) {
        SINT16 q[10], ana[2];
        g729::g729ab_Qua_lsp(inputs().lsp[i].data(), q, fp, ana);
        benchmark::DoNotOptimize(ana[0]);
        i = (i + 1) % count();
    }
}

void SetVad(benchmark::State& state) {
    auto enc = std::make_unique<G729ABENCSTATE>();
    std::memset(enc.get(), 0, sizeof *enc);
    std::size_t i = 0;
    SINT16 frame = 0;
    for (auto _ : state) {
        int marker;
        frame = static_cast<SINT16>(frame == 32767 ? 200 : frame + 1);
        g729bVad(enc.get(), inputs().rc[i][1], inputs().lsf[i].data(), inputs().r[i].data(), inputs().expR0[i], inputs().windows[i].data(),
                 frame, &marker);
        benchmark::DoNotOptimize(marker);
        i = (i + 1) % count();
    }
}

void LiveVad(benchmark::State& state) {
    auto st = std::make_unique<G729NUNIENC>();
    std::memset(st.get(), 0, sizeof *st);
    std::size_t i = 0;
    for (auto _ : state) {
        SINT16 marker;
        g729::g729ab_vad(inputs().rc[i][1], inputs().lsf[i].data(), inputs().r[i].data(), inputs().expR0[i], inputs().windows[i].data(), 1, 1,
                         &marker, st.get());
        benchmark::DoNotOptimize(marker);
        i = (i + 1) % count();
    }
}

// Prints each set/live pair's ratio after the usual table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& r : runs) times_[r.benchmark_name()] = r.GetAdjustedCPUTime();
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const char* name : {"LpcChain", "PitchOl", "D4i40", "LspQuantiser", "Vad"}) {
            const auto s = times_.find(std::string("Set") + name), l = times_.find(std::string("Live") + name);
            if (s != times_.end() && l != times_.end() && l->second > 0)
                std::printf("set / live %-13s %.2f\n", name, s->second / l->second);
        }
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

BENCHMARK(SetLpcChain);
BENCHMARK(LiveLpcChain);
BENCHMARK(SetPitchOl);
BENCHMARK(LivePitchOl);
BENCHMARK(SetD4i40);
BENCHMARK(LiveD4i40);
BENCHMARK(SetLspQuantiser);
BENCHMARK(LiveLspQuantiser);
BENCHMARK(SetVad);
BENCHMARK(LiveVad);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
