// The encoder's LP analysis: autocorrelation, the ISP root search (through
// the decoder's conversion back to LP coefficients), and its failure path.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "amrwb_encoder_lp.h"
#include "amrwb_kernels.h"
#include "amrwb_shared.h"
#include "amrwb_tables.h"
#include "amrwb_test_util.h"

using namespace amr_wb_op;
using namespace amrwb_test;

namespace {
// A frame of a random resonant process and its LP filter.
void lp_filter(Rng& rng, Word16* A, Word16* x) {
    double y1 = 0, y2 = 0, z1 = 0, z2 = 0;
    double r1 = 0.6 + 0.35 * rng.uniform(0, 1000) / 1000.0, w1 = rng.uniform(10, 300) / 100.0;
    double r2 = 0.5 + 0.4 * rng.uniform(0, 1000) / 1000.0, w2 = rng.uniform(10, 300) / 100.0;
    std::vector<double> s(384);
    for (double& v : s) {
        double e = rng.uniform(-1000, 1000);
        double a = e + 2 * r1 * std::cos(w1) * y1 - r1 * r1 * y2;
        y2 = y1;
        y1 = a;
        v = a + 2 * r2 * std::cos(w2) * z1 - r2 * r2 * z2;
        z2 = z1;
        z1 = v;
    }
    double peak = 1;
    for (double v : s) peak = std::max(peak, std::abs(v));
    for (int i = 0; i < 384; ++i) x[i] = static_cast<Word16>(s[i] / peak * 16000);
    Word32 R[17];
    amr_wb_Autocorr(x, R);
    amr_wb_Lag_window(R);
    Word16 mem[18] = {}, rc[16];
    amr_wb_Levinson(mem, R, A, rc);
}
}  // namespace

TEST(AmrwbLpAnalysis, AutocorrelationIsNormalisedAndWindowed) {
    Rng rng(70);
    Word16 x[384];
    rng.fill(x, 384, 8000, 0);
    Word32 R[17];
    amr_wb_Autocorr(x, R);
    EXPECT_GE(R[0], 1 << 30);  // normalised: top bit at 30
    for (int i = 1; i <= 16; ++i) EXPECT_LT(std::abs(static_cast<double>(R[i])), static_cast<double>(R[0]));
    // Against a double-precision autocorrelation of the windowed frame.
    double r[17] = {};
    for (int k = 0; k <= 16; ++k)
        for (int i = k; i < 384; ++i)
            r[k] += (x[i] * amr_wb_window[i] / 32768.0) * (x[i - k] * amr_wb_window[i - k] / 32768.0);
    for (int k = 1; k <= 16; ++k) EXPECT_NEAR(R[k] / static_cast<double>(R[0]), r[k] / r[0], 2e-3) << k;
}

TEST(AmrwbLpAnalysis, IspRootsGiveBackTheFilter) {
    Rng rng(71);
    Word16 old_isp[16];
    for (int i = 0; i < 16; ++i) old_isp[i] = static_cast<Word16>(1000 + i);
    int converted = 0;
    for (int trial = 0; trial < 300; ++trial) {
        Word16 A[17], x[384], isp[16], back[17];
        lp_filter(rng, A, x);
        amr_wb_Az_isp(A, isp, old_isp);
        if (isp[0] == old_isp[0] && isp[1] == old_isp[1]) continue;
        ++converted;
        // The ISPs alternate and fall: cos of rising frequencies.
        for (int i = 1; i < 15; ++i) ASSERT_LT(isp[i], isp[i - 1]) << trial;
        amr_wb_Isp_Az(isp, back, 16, 0);
        for (int i = 0; i <= 16; ++i) ASSERT_NEAR(back[i], A[i], 40 + std::abs(A[i]) / 100) << trial << " " << i;
        // ISFs and back to ISPs within the tables' resolution.
        Word16 isf[16], isp2[16];
        amr_wb_Isp_isf(isp, isf);
        for (int i = 1; i < 15; ++i) ASSERT_GT(isf[i], isf[i - 1]);
        amr_wb_Isf_isp(isf, isp2, 16);
        for (int i = 0; i < 16; ++i) ASSERT_NEAR(isp2[i], isp[i], i < 15 ? 8 : 24) << trial << " " << i;  // ISF 15 is halved
    }
    EXPECT_GT(converted, 290);
}

TEST(AmrwbLpAnalysis, FiltersWithoutAllRootsKeepThePreviousIsps) {
    // Random coefficients: mostly no minimum-phase filter, so the walk runs
    // to the end of the grid (and, under the sanitizers, never past it).
    Rng rng(72);
    Word16 old_isp[16];
    for (int i = 0; i < 16; ++i) old_isp[i] = static_cast<Word16>(30000 - 3500 * i);
    int kept = 0;
    for (int trial = 0; trial < 2000; ++trial) {
        Word16 A[17], isp[16];
        A[0] = 4096;
        for (int i = 1; i <= 16; ++i) A[i] = rng.word(trial % 2 ? 32767 : 6000, 8);
        amr_wb_Az_isp(A, isp, old_isp);
        bool same = true;
        for (int i = 0; i < 16; ++i) same = same && isp[i] == old_isp[i];
        kept += same;
    }
    EXPECT_GT(kept, 100);
}
