// Per-call cost of the heaviest AMR-WB kernels: the codebook search loops,
// the first-stage ISF search and the normalised-correlation lag loop.  (The
// independent libraries do not export their inner loops, so these run alone;
// the per-frame comparison with them lives with the codec.)
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "amrwb_kernels.h"
#include "amrwb_tables.h"

namespace {

struct Subframe {
    Word16 h[64], dn[64], dn2[64], sign[64], vec[64], pv[67] = {}, rrixix[64], rrixiy[1024];
    Word16 cor_x[16], cor_y[16], pos_max[4];
    Subframe() {
        std::mt19937 g(7);
        std::uniform_int_distribution<int> u(-3000, 3000);
        double a = 12000;
        for (int i = 0; i < 64; ++i, a *= 0.92) h[i] = static_cast<Word16>(a * std::cos(0.7 * i));
        Word16 d[64], d2[64], s[64], v[64];
        for (int i = 0; i < 64; ++i) d[i] = d2[i] = static_cast<Word16>(u(g));
        amr_wb_ACELP_set_sign_loop2(s, v, d, d2);
        amr_wb_Reorder(d, dn);
        amr_wb_Reorder(d2, dn2);
        amr_wb_Reorder(s, sign);
        amr_wb_Reorder(v, vec);
        amr_wb_ACELP_4t64_nb_max(dn2, pos_max);
        amr_wb_ACELP_4t64_storage_orders(h, rrixix, rrixiy);
        amr_wb_ACELP_4t64_mod_rrixiy_signs(rrixiy, sign, vec);
        for (int i = 5; i < 64; ++i) pv[i] = h[i - 5];
        amr_wb_ACELP_4t64_cor_h_vec(h, pv, 0, sign, rrixix, cor_x);
        amr_wb_ACELP_4t64_cor_h_vec(h, pv, 1, sign, rrixix, cor_y);
    }
};

void BM_ACELP_4t64_storage_orders(benchmark::State& state) {
    Subframe s;
    for (auto _ : state) {
        amr_wb_ACELP_4t64_storage_orders(s.h, s.rrixix, s.rrixiy);
        benchmark::DoNotOptimize(s.rrixiy);
    }
}

void BM_ACELP_4t64_cor_h_vec(benchmark::State& state) {
    Subframe s;
    for (auto _ : state) {
        amr_wb_ACELP_4t64_cor_h_vec(s.h, s.pv, 2, s.sign, s.rrixix, s.cor_x);
        benchmark::DoNotOptimize(s.cor_x);
    }
}

void BM_ACELP_4t64_search_ixiy(benchmark::State& state) {
    Subframe s;
    for (auto _ : state) {
        Word16 alp = 1000;
        benchmark::DoNotOptimize(
            amr_wb_ACELP_4t64_search_ixiy(8, 0, 1, &alp, 0, s.dn, s.dn2, s.cor_x, s.cor_y, s.rrixiy));
    }
}

void BM_ACELP_2t64_search(benchmark::State& state) {
    Subframe s;
    Word16 r[64], rr[1024];
    for (auto _ : state) {
        amr_wb_ACELP_2t64_1st_storage_order(s.h, r);
        amr_wb_ACELP_2t64_2nd_storage_order(s.h, rr);
        benchmark::DoNotOptimize(amr_wb_ACELP_2t64_search_ixiy(r, r + 32, rr, s.dn));
    }
}

void BM_VQ_stage1_dim9(benchmark::State& state) {
    Word16 x[9] = {120, -340, 55, 800, -60, 10, 400, -900, 30};
    Word32 scratch[256];
    Word16 surv[4];
    for (auto _ : state) {
        amr_wb_VQ_stage1_dim9(x, scratch, surv);
        benchmark::DoNotOptimize(surv);
    }
}

void BM_Norm_Corr_Loop(benchmark::State& state) {
    std::mt19937 g(9);
    std::uniform_int_distribution<int> u(-6000, 6000);
    Word16 xn[64], excf0[64], excf[64], h[64], exc[300], corr[17];
    for (int i = 0; i < 64; ++i) {
        xn[i] = static_cast<Word16>(u(g));
        excf0[i] = static_cast<Word16>(u(g));
        h[i] = static_cast<Word16>(u(g) / (1 + i));
    }
    for (Word16& e : exc) e = static_cast<Word16>(u(g));
    for (auto _ : state) {
        for (int i = 0; i < 64; ++i) excf[i] = excf0[i];
        amr_wb_Norm_Corr_Loop(xn, excf, corr, h, exc + 299, 2, 34, 50);  // 17 lags, as in the search
        benchmark::DoNotOptimize(corr);
    }
}

BENCHMARK(BM_ACELP_4t64_storage_orders);
BENCHMARK(BM_ACELP_4t64_cor_h_vec);
BENCHMARK(BM_ACELP_4t64_search_ixiy);
BENCHMARK(BM_ACELP_2t64_search);
BENCHMARK(BM_VQ_stage1_dim9);
BENCHMARK(BM_Norm_Corr_Loop);

}  // namespace

BENCHMARK_MAIN();
