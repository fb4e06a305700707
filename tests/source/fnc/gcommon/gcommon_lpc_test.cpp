// The set's linear-prediction and LSP routines against the live codec's on identical speech
// windows: autocorrelation, lag window, Levinson, LP to LSP, LSP quantiser and LSP decoder. Where
// the set states a different arithmetic, the share of identical results is printed and the
// differences are bounded.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "g729_internal.h"
#include "gcommon_test_util.h"
#include "tables/gcommon_tables.h"

using namespace gcommon;
using namespace gctest;

namespace {

struct LiveLpc {
    SINT16 old_A[11] = {};
    SINT16 old_rc[2] = {};
};

TEST(GcommonLpc, AnalysisChainFollowsTheLiveCodecOnSpeech) {
    const auto windows = speechWindows(300);
    ASSERT_GT(windows.size(), 200u);
    SINT16 scratch[240];
    SINT16 oldA[10] = {}, oldRc[2] = {}, oldLsp[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
    LiveLpc live;
    SINT16 liveOldLsp[10];
    std::memcpy(liveOldLsp, oldLsp, sizeof oldLsp);
    int acfSame = 0, levSame = 0, lspSame = 0, maxLspDiff = 0;
    for (const auto& w : windows) {
        SINT32 r[13], rl[13];
        int e = 0;
        g729Autocorr(w.data(), 12, r, &e, scratch);
        const SINT16 el = g729::g729ab_Autocorr(w.data(), rl, g729::g729ab_hamwindow.data());
        acfSame += e == el && std::memcmp(r, rl, sizeof r) == 0;
        g729Lag_window(12, r, g729::g729ab_lag.data());
        g729::g729ab_Lag_window(rl);
        std::memcpy(r, rl, sizeof r);  // the rest of the chain sees identical inputs

        SINT16 A[10], rc[10], err = 0, Al[11], rcl[10], errl = 0;
        g729aLevinson(r, A, rc, oldA, oldRc, &err, 1);
        g729::g729ab_Levinson(rl, Al, live.old_A, rcl, live.old_rc, &errl);
        const bool same = std::memcmp(A, Al + 1, sizeof A) == 0 && std::memcmp(rc, rcl, sizeof rc) == 0 && err == errl;
        levSame += same;
        if (!same) {
            // The set's recursion keeps bit 0 of K and adds plainly: a unit or two in Q12 at most.
            for (int i = 0; i < 10; ++i) EXPECT_LE(std::abs(A[i] - Al[i + 1]), 2);
        }

        SINT16 lsp[10], lspl[10];
        g729Az_lsp(Al + 1, lsp, oldLsp, 2, g729aGridTab.data(), 51);
        g729::g729ab_Az_lsp(Al, lspl, liveOldLsp);
        int d = 0;
        for (int i = 0; i < 10; ++i) d = std::max(d, std::abs(lsp[i] - lspl[i]));
        lspSame += d == 0;
        maxLspDiff = std::max(maxLspDiff, d);
        std::memcpy(oldLsp, lspl, sizeof lspl);
        std::memcpy(liveOldLsp, lspl, sizeof lspl);
    }
    const double n = static_cast<double>(windows.size());
    std::printf("[ set vs live LPC ] %zu windows: autocorrelation %.1f %%, Levinson %.1f %%, LP to LSP %.1f %% identical "
                "(largest LSP difference %d)\n",
                windows.size(), 100 * acfSame / n, 100 * levSame / n, 100 * lspSame / n, maxLspDiff);
    // Speech never saturates the lag sums, so the lane order of the live sums cannot show.
    EXPECT_EQ(acfSame, static_cast<int>(windows.size()));
    EXPECT_EQ(levSame, static_cast<int>(windows.size()));
    // Every grid point against every second one with adaptive steps: the same roots, refined alike.
    EXPECT_GE(lspSame, 0.98 * n);
    EXPECT_LE(maxLspDiff, 64);
}

TEST(GcommonLpc, QuantiserAndDecoderFollowTheLiveCodec) {
    const auto windows = speechWindows(250);
    SINT16 scratch[240];
    SINT16 fpSet[4][10], fpLive[4][10], fpDec[4][10];
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 10; ++i) fpSet[k][i] = fpLive[k][i] = fpDec[k][i] = g729_std::freq_prev_reset[i];
    SINT16 prevLsp[10], prevMa = 0;
    std::memcpy(prevLsp, g729_std::freq_prev_reset.data(), sizeof prevLsp);
    G729NUNIDEC liveDec;
    g729::g729ab_Init_Decod_ld8a(&liveDec);
    SINT16 oldA[11] = {}, oldRc[2] = {}, oldLsp[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
    int quaSame = 0, decSame = 0, frames = 0;
    for (const auto& w : windows) {
        SINT32 r[13];
        SINT16 Al[11], rc[10], err;
        g729::g729ab_Autocorr(w.data(), r, g729::g729ab_hamwindow.data());
        g729::g729ab_Lag_window(r);
        g729::g729ab_Levinson(r, Al, oldA, rc, oldRc, &err);
        SINT16 lsp[10];
        g729::g729ab_Az_lsp(Al, lsp, oldLsp);
        std::memcpy(oldLsp, lsp, sizeof lsp);

        SINT16 q[10], ql[10], ana[2], anal[2];
        g729Qua_lspa(lsp, q, ana, fpSet);
        g729::g729ab_Qua_lsp(lsp, ql, fpLive, anal);
        const bool same = std::memcmp(q, ql, sizeof q) == 0 && ana[0] == anal[0] && ana[1] == anal[1];
        quaSame += same;
        if (!same) std::memcpy(fpSet, fpLive, sizeof fpSet);  // keep the MA memories in step

        // Decode the live indices with an erasure every seventh frame.
        const SINT16 erase = frames % 7 == 6;
        SINT16 d[10], dl[10];
        g729aD_lsp(anal, d, erase, fpDec, prevLsp, &prevMa);
        g729::g729ab_D_lsp(anal, dl, erase, &liveDec);
        const bool dsame = std::memcmp(d, dl, sizeof d) == 0 && std::memcmp(fpDec, liveDec.freq_prev, sizeof fpDec) == 0;
        decSame += dsame;
        if (!dsame) {
            std::memcpy(fpDec, liveDec.freq_prev, sizeof fpDec);
            std::memcpy(prevLsp, liveDec.prev_lsp, sizeof prevLsp);
            prevMa = liveDec.prev_ma;
        }
        ++frames;
    }
    std::printf("[ set vs live LSP ] %d frames: quantiser %.1f %%, decoder %.1f %% identical (the set expands plainly, the live "
                "codec with saturation)\n",
                frames, 100.0 * quaSame / frames, 100.0 * decSame / frames);
    // The expansion variants differ only where a sum saturates, which coded speech never reaches.
    EXPECT_EQ(quaSame, frames);
    EXPECT_EQ(decSame, frames);
}

TEST(GcommonLpc, LevinsonEdgesAndLspTableEnds) {
    // Silence: r0 = 2^30 after the +1 and normalisation, higher lags zero, exponent 1 - 30.
    SINT16 zeros[240] = {}, scratch[240];
    SINT32 r[11];
    int e = 0;
    g729Autocorr(zeros, 10, r, &e, scratch);
    EXPECT_EQ(r[0], 1 << 30);
    EXPECT_EQ(e, -29);
    for (int i = 1; i <= 10; ++i) EXPECT_EQ(r[i], 0);

    // A first reflection coefficient beyond the limit falls back to the previous filter.
    SINT32 R[11] = {0x40000000, 0x3FFFFFFE};
    SINT16 A[10], rc[10], oldA[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, oldRc[2] = {11, 12}, err = 77;
    for (int i = 2; i <= 10; ++i) R[i] = 0x3FFF0000;
    g729aLevinson(R, A, rc, oldA, oldRc, &err, 1);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(A[i], i + 1);
    EXPECT_EQ(rc[0], 11);
    EXPECT_EQ(rc[1], 12);
    EXPECT_EQ(err, 77);

    // LSP 32767 maps to index 0 and LSF 0 in both conversions; shorter vectors match the prefix.
    SINT16 lsp[10] = {32767, 30000, 20000, 10000, 0, -10000, -20000, -30000, -32000, -32768}, lsf[10], lsfn[10];
    g729Lsp_lsf2(lsp, lsf, 10);
    g729Lsp_lsf(lsp, lsfn, 10);
    EXPECT_EQ(lsf[0], 0);
    EXPECT_EQ(lsfn[0], 0);
    // An LSF below 0 is taken as 0 rather than read in front of the cosine table.
    SINT16 neg[10] = {-1, -32768, 0, 100, 200, 300, 400, 500, 600, 700}, negLsp[10];
    g729Lsf_lsp2(neg, negLsp, 10);
    EXPECT_EQ(negLsp[0], negLsp[2]);
    EXPECT_EQ(negLsp[1], negLsp[2]);
    EXPECT_EQ(negLsp[2], g729CosTab[0]);
    for (int m = 1; m < 10; ++m) {
        SINT16 part[10];
        g729Lsp_lsf2(lsp, part, static_cast<SINT16>(m));
        for (int i = 0; i < m; ++i) EXPECT_EQ(part[i], lsf[i]) << m;
    }
}

}  // namespace
