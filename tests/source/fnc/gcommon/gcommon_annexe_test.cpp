// The 11.8 kbit/s routines: LSP decoding with saturating expansion and the residual handed back,
// pitch tracking, erasure muting of the gains and the order-30 Levinson recursion; and the
// table views the set adds.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "gcommon_test_util.h"
#include "tables/gcommon_tables.h"

using namespace gcommon;
using namespace gctest;

namespace {

struct LspDecoder {
    SINT16 fp[4][10];
    SINT16 prevLsp[10];
    SINT16 prevMa = 0;
    LspDecoder() {
        for (auto& row : fp) std::memcpy(row, g729_std::freq_prev_reset.data(), sizeof row);
        std::memcpy(prevLsp, g729_std::freq_prev_reset.data(), sizeof prevLsp);
    }
};

TEST(GcommonAnnexE, LspDecoderMatchesTheReducedOneAndPushesItsResidual) {
    Rng rng(21);
    LspDecoder e, a;
    for (int frame = 0; frame < 500; ++frame) {
        const SINT16 prm[2] = {rng.word(0, 255), rng.word(0, 1023)};
        const SINT16 erase = frame % 9 == 8;
        // What the dequantiser hands back must be what lands in the MA memory.
        SINT16 lsfq[10], cur[10];
        const int mode = (prm[0] >> 7) & 1;
        if (!erase) {
            g729eLsp_get_quante(static_cast<SINT16>(prm[0] & 127), static_cast<SINT16>((prm[1] >> 5) & 31), static_cast<SINT16>(prm[1] & 31),
                                reinterpret_cast<CRows10>(g729FgTab[mode][0].data()), e.fp, lsfq, g729FgSumTab[mode].data(), cur);
        }
        SINT16 q[10], qa[10];
        g729D_lspe(prm, q, erase, e.fp, e.prevLsp, &e.prevMa);
        g729aD_lsp(prm, qa, erase, a.fp, a.prevLsp, &a.prevMa);
        if (!erase) ASSERT_EQ(std::memcmp(e.fp[0], cur, sizeof cur), 0);
        // Codebook sums never saturate, so the two expansions and both decoders agree.
        ASSERT_EQ(std::memcmp(q, qa, sizeof q), 0) << frame;
        ASSERT_EQ(std::memcmp(e.fp, a.fp, sizeof e.fp), 0) << frame;
        ASSERT_EQ(e.prevMa, a.prevMa);
    }
    // Index word 0: first-stage row 0, second-stage rows 0, predictor 0.
    LspDecoder z;
    const SINT16 zero[2] = {0, 0};
    SINT16 q[10];
    g729D_lspe(zero, q, 0, z.fp, z.prevLsp, &z.prevMa);
    EXPECT_EQ(z.prevMa, 0);

    // Where saturation does change something, each expansion keeps its own arithmetic.
    SINT16 plain[10] = {32767, -32768, 0, 0, 0, 0, 0, 0, 0, 0}, sat[10];
    std::memcpy(sat, plain, sizeof sat);
    g729aLsp_expand(plain, 10, 2);
    g729Lsp_expand_1(sat, 10);
    EXPECT_EQ(plain[0], 32763);  // (-1 + 10) >> 1 = 4 from the wrapped difference
    EXPECT_EQ(plain[1], -32764);
    EXPECT_EQ(sat[0], 16384);  // the saturated difference moves both by 16383
    EXPECT_EQ(sat[1], -16385);
}

TEST(GcommonAnnexE, PitchTrackingKeepsTheStatedValues) {
    struct Track {
        SINT16 T0, frac, prev, stat, sta, fsta;
    };
    auto run = [](Track t) {
        g729Track_pit(&t.T0, &t.frac, &t.prev, &t.stat, &t.sta, &t.fsta);
        return t;
    };
    // A doubling while stationary is replaced by the stationary lag.
    Track t = run({2 * 40 + 3, 1, 40, 2, 41, -1});
    EXPECT_EQ(t.T0, 41);
    EXPECT_EQ(t.frac, -1);
    EXPECT_EQ(t.stat, 1);
    EXPECT_EQ(t.prev, 41);
    // Not stationary: kept.
    t = run({83, 1, 40, 0, 41, -1});
    EXPECT_EQ(t.T0, 83);
    EXPECT_EQ(t.stat, 0);
    // Distance 4 counts as stationary, 5 does not (and 45 is no multiple of 40).
    t = run({44, 0, 40, 3, 0, 0});
    EXPECT_EQ(t.stat, 4);
    EXPECT_EQ(t.sta, 44);
    t = run({45, 0, 40, 3, 0, 0});
    EXPECT_EQ(t.stat, 0);
    EXPECT_EQ(t.sta, 45);
    // Stationarity saturates at 7; a halving is caught as well.
    t = run({60, 0, 59, 7, 0, 0});
    EXPECT_EQ(t.stat, 7);
    t = run({30, 2, 61, 3, 61, 0});
    EXPECT_EQ(t.T0, 61);
    EXPECT_EQ(t.stat, 2);
}

TEST(GcommonAnnexE, GainMutingOnErasedFrames) {
    SINT16 code[40];
    g729Decod_ACELP(5, 1234, code);
    for (SINT16 rate : {SINT16{0}, SINT16{1}}) {
        SINT16 pq[4] = {-14336, -10000, -9000, -8000}, pqr[4];
        std::memcpy(pqr, pq, sizeof pq);
        SINT16 gp = 9000, gc = 2000, gpr = 9000, gcr = 2000, mute = 32767;
        // Good frames and other rates decode exactly as the main body.
        g729eDec_gaine(77, code, 0, &gp, &gc, pq, rate, &mute, 0, 1);
        g729Dec_gain(77, code, 0, &gpr, &gcr, pqr);
        EXPECT_EQ(gp, gpr);
        EXPECT_EQ(gc, gcr);
    }
    SINT16 pq[4] = {-10000, -10000, -10000, -10000};
    SINT16 gp = 9000, gc = 2000, mute = 32767;
    g729eDec_gaine(0, code, 1, &gp, &gc, pq, 1, &mute, 1, 1);
    EXPECT_EQ(gp, 16384);
    EXPECT_EQ(gc, 2000);
    EXPECT_EQ(pq[0], -14096);  // the erasure update: mean - 4096, here (-10000 - 4096)
    g729eDec_gaine(0, code, 1, &gp, &gc, pq, 1, &mute, 1, 0);
    EXPECT_EQ(gp, 15564);
    g729eDec_gaine(0, code, 1, &gp, &gc, pq, 1, &mute, 2, 1);
    EXPECT_EQ(gp, mult(15564, 32767));
    EXPECT_EQ(mute, 32767);  // stationary and fewer than 11 losses: the muting factor holds
    g729eDec_gaine(0, code, 1, &gp, &gc, pq, 1, &mute, 11, 1);
    EXPECT_EQ(mute, mult(32767, 32604));
    g729eDec_gaine(0, code, 1, &gp, &gc, pq, 1, &mute, 3, 0);
    EXPECT_EQ(mute, mult(mult(32767, 32604), 32112));
}

// Exact autocorrelation and direct-form filter of an all-pole model given by its reflection
// coefficients (A(z) = 1 + sum a_j z^-j, k_i = -(R[i] + sum a_j R[i-j]) / E).
void modelFromReflections(const std::vector<double>& k, std::vector<double>& R, std::vector<double>& a) {
    const int p = static_cast<int>(k.size());
    R.assign(p + 1, 0.0);
    a.assign(p + 1, 0.0);
    R[0] = 1.0;
    double E = 1.0;
    std::vector<double> prev(p + 1, 0.0);
    for (int i = 1; i <= p; ++i) {
        double s = 0;
        for (int j = 1; j < i; ++j) s += a[j] * R[i - j];
        R[i] = -k[i - 1] * E - s;
        prev = a;
        a[i] = k[i - 1];
        for (int j = 1; j < i; ++j) a[j] = prev[j] + k[i - 1] * prev[i - j];
        E *= 1 - k[i - 1] * k[i - 1];
    }
}

void toWords(const std::vector<double>& R, SINT32* out) {
    for (std::size_t i = 0; i < R.size(); ++i) out[i] = static_cast<SINT32>(std::lround(R[i] * 0x3FFFFFF0)) & ~SINT32{1};
}

TEST(GcommonAnnexE, Order30RecursionRecoversModelsAndFallsBack) {
    for (int model = 0; model < 6; ++model) {
        std::vector<double> k(30), R, a;
        for (int i = 0; i < 30; ++i) k[i] = (0.55 - 0.05 * model) * std::pow(0.85, i) * (i % 2 ? 1 : -1) * (model % 2 ? 1 : 0.7);
        modelFromReflections(k, R, a);
        SINT32 Rw[31];
        toWords(R, Rw);
        SINT16 A[30], rc[30], oldA[30] = {}, oldRc[2] = {};
        g729eLevinson(Rw, A, rc, oldA, oldRc);
        for (int j = 1; j <= 30; ++j) EXPECT_NEAR(A[j - 1], a[j] * 4096, 4) << model << " " << j;
        for (int i = 0; i < 30; ++i) EXPECT_NEAR(rc[i], k[i] * 32768, 40) << model << " " << i;
        EXPECT_EQ(std::memcmp(oldA, A, sizeof A), 0);
        EXPECT_EQ(oldRc[0], rc[0]);

        // The order-10 recursions recover the order-10 truncation of the same model.
        std::vector<double> k10(k.begin(), k.begin() + 10), R10, a10;
        modelFromReflections(k10, R10, a10);
        SINT32 R10w[11];
        toWords(R10, R10w);
        SINT16 A10[10], rc10[10], o10[10] = {}, or10[2] = {}, Aa[10], rca[10], oa[10] = {}, ora[2] = {}, err;
        g729Levinson(R10w, A10, rc10, o10, or10);
        g729aLevinson(R10w, Aa, rca, oa, ora, &err, 1);
        for (int j = 0; j < 10; ++j) {
            EXPECT_NEAR(A10[j], a10[j + 1] * 4096, 4);
            EXPECT_NEAR(Aa[j], A10[j], 1);
        }
    }
    // Unstable from the first step: the previous filter and first two coefficients come back.
    SINT32 R[31];
    for (auto& v : R) v = 0x20000000;
    R[1] = 0x30000000;
    SINT16 A[30], rc[30], oldA[30], oldRc[2] = {-5, 6};
    for (int i = 0; i < 30; ++i) oldA[i] = static_cast<SINT16>(100 + i);
    g729eLevinson(R, A, rc, oldA, oldRc);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(A[i], 100 + i);
    EXPECT_EQ(rc[0], -5);
    EXPECT_EQ(rc[1], 6);
    EXPECT_EQ(oldA[0], 100);
    // Unstable at step 12: reflection coefficient 0.9995 there.
    std::vector<double> k(30, 0.1), Rm, am;
    k[11] = 0.9995;
    modelFromReflections(k, Rm, am);
    toWords(Rm, R);
    g729eLevinson(R, A, rc, oldA, oldRc);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(A[i], 100 + i);
    EXPECT_NEAR(rc[5], 0.1 * 32768, 40);  // written before the failing step, kept
}

TEST(GcommonTables, ViewsHoldTheirCheckValues) {
    EXPECT_EQ(g729aInter3LoTab1[0][0], 34);
    EXPECT_EQ(g729aInter3LoTab1[0][1], -120);
    EXPECT_EQ(g729aInter3LoTab1[0][2], 308);
    EXPECT_EQ(g729aInter3LoTab2[0][0], 29443);
    EXPECT_EQ(g729aInter3LoTab2[0][1], 3143);
    EXPECT_EQ(g729aInter3LoTab2[0][2], 3143);
    long s1 = 0, s2 = 0;
    for (int f = 0; f < 3; ++f)
        for (int i = 0; i < 20; ++i) {
            s1 += g729aInter3LoTab1[f][i];
            s2 += g729aInter3LoTab2[f][i];
        }
    EXPECT_EQ(s1, 98287);
    EXPECT_EQ(s2, 98287);
    for (int r = 0; r < 32; ++r)
        for (int c = 0; c < 5; ++c) {
            EXPECT_EQ(g729Lspcb2_1Tab[r][c], g729_std::lspcb2[r][c]);
            EXPECT_EQ(g729Lspcb2_2Tab[r][c], g729_std::lspcb2[r][5 + c]);
        }
    EXPECT_EQ(g729aGridTab.size(), 51u);
    EXPECT_EQ(g729aGridTab[0], 32760);
    EXPECT_EQ(g729aGridTab[50], -32760);
    // Aliases, not copies.
    EXPECT_EQ(static_cast<const void*>(&g729Lspcb1Tab), static_cast<const void*>(&g729_std::lspcb1));
    // The detector's scaling table is the file's, not 32/(32 - k): at k = 16 it is 32767 with shift 1.
    EXPECT_EQ(g729bFactor_fxTab[16], 32767);
    EXPECT_EQ(g729bShift_fxTab[16], 1);
    EXPECT_EQ(g729bFactor_fxTab[32], 0);
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 10; ++i) EXPECT_EQ(g729FgTab[1][k][i], g729_std::fg[4 + k][i]);
}

}  // namespace
