// Algebraic codebook search kernels against the closed forms of the
// correlation matrices and the reference's sequential pair scans.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "amrwb_kernels.h"
#include "amrwb_test_util.h"

using namespace amr_wb_op;
using namespace amrwb_test;

namespace {
// s0 + Σ_{k=0}^{63-max(x,y)} 2·h[k]·h[k+|x-y|] as one L_mac chain.
Word32 C(const Word16* h, int x, int y, Word32 s0) {
    int d = std::abs(x - y), n = 63 - std::max(x, y);
    return mac_chain(s0, h, h + d, n + 1);
}

// Impulse responses like the encoder's: decaying, sometimes near full scale.
std::vector<Word16> response(Rng& rng, int peak) {
    std::vector<Word16> h(64);
    double a = peak;
    for (int i = 0; i < 64; ++i, a *= 0.93) h[i] = static_cast<Word16>(rng.uniform(-static_cast<int>(a), static_cast<int>(a)));
    h[0] = static_cast<Word16>(peak);
    return h;
}

struct Pick {
    Word16 sq = -1, alp = 1;
    int index = 0;
};
bool better(Word16 sq, Word16 alp, const Pick& b) { return L_sub(L_mult(alp, b.sq), L_mult(sq, b.alp)) < 0; }
}  // namespace

TEST(AmrwbAcelp, CorrelationMatricesEqualTheirClosedForm) {
    Rng rng(20);
    for (int trial = 0; trial < 6; ++trial) {
        std::vector<Word16> h = response(rng, trial < 3 ? 8000 : 32767);
        Exact<Word16> rrixix(64), rrixiy(1024);
        amr_wb_ACELP_4t64_storage_orders(h.data(), rrixix.get(), rrixiy.get());
        for (int t = 0; t < 4; ++t)
            for (int a = 0; a < 16; ++a) {
                int x = t + 4 * a;
                ASSERT_EQ(rrixix[16 * t + a], C(h.data(), x, x, 32768) >> 16);
                for (int b = 0; b < 16; ++b) {
                    int y = (t + 1) % 4 + 4 * b;
                    ASSERT_EQ(rrixiy[256 * t + 16 * a + b], C(h.data(), x, y, 32768) >> 16) << t << a << b;
                }
            }
        Exact<Word16> r2(64), rr2(1024);
        amr_wb_ACELP_2t64_1st_storage_order(h.data(), r2.get());
        amr_wb_ACELP_2t64_2nd_storage_order(h.data(), rr2.get());
        for (int t = 0; t < 2; ++t)
            for (int a = 0; a < 32; ++a) ASSERT_EQ(r2[32 * t + a], C(h.data(), t + 2 * a, t + 2 * a, 65536) >> 17);
        for (int a = 0; a < 32; ++a)
            for (int b = 0; b < 32; ++b) ASSERT_EQ(rr2[32 * a + b], C(h.data(), 2 * a, 2 * b + 1, 32768) >> 16);
    }
}

TEST(AmrwbAcelp, SignSelectionReorderingAndBestPositions) {
    Rng rng(21);
    Exact<Word16> cn(64), dn(64), dn2(64), sign(64), vec(64);
    rng.fill(cn.get(), 64);
    rng.fill(dn.get(), 64);
    amr_wb_ACELP_set_sign_loop1(cn.get(), dn.get(), 12000, -7000, dn2.get());
    for (int i = 0; i < 64; ++i) ASSERT_EQ(dn2[i], extract_h(L_shl(L_mac(L_mult(12000, cn[i]), -7000, dn[i]), 8)));
    dn2[0] = -32768;
    dn2[1] = 0;
    std::vector<Word16> d0(dn.get(), dn.get() + 64), s0(dn2.get(), dn2.get() + 64);
    amr_wb_ACELP_set_sign_loop2(sign.get(), vec.get(), dn.get(), dn2.get());
    EXPECT_EQ(dn2[0], 32767);
    EXPECT_EQ(sign[0], -32768);
    EXPECT_EQ(sign[1], 32767);
    EXPECT_EQ(vec[1], -32768);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(dn[i], s0[i] >= 0 ? d0[i] : negate(d0[i]));
        EXPECT_EQ(vec[i], s0[i] >= 0 ? -32768 : 32767);
    }

    Exact<Word16> t(64), pos(4);
    amr_wb_Reorder(dn2.get(), t.get());
    for (int p = 0; p < 64; ++p) ASSERT_EQ(t[16 * (p % 4) + p / 4], dn2[p]);
    // Ties in a track: equal values are taken in increasing position order.
    for (int k = 0; k < 16; ++k) t[16 * 2 + k] = static_cast<Word16>(k < 10 ? 500 : 100);
    std::vector<Word16> before(t.get(), t.get() + 64);
    amr_wb_ACELP_4t64_nb_max(t.get(), pos.get());
    for (int tr = 0; tr < 4; ++tr) {
        std::vector<int> order(16);
        for (int k = 0; k < 16; ++k) order[k] = k;
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return before[16 * tr + a] > before[16 * tr + b]; });
        EXPECT_EQ(pos[tr], 4 * order[0] + tr);
        for (int r = 0; r < 16; ++r)
            EXPECT_EQ(t[16 * tr + order[r]], r < 8 ? r - 8 : before[16 * tr + order[r]]) << tr << " " << r;
    }
}

TEST(AmrwbAcelp, FourTrackPairSearchEqualsTheSequentialScan) {
    Rng rng(22);
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<Word16> h = response(rng, 6000 + 600 * trial);
        Word16 rrixix[64], rrixiy[1024], dn[64], dn2[64], sign[64], vec[64];
        amr_wb_ACELP_4t64_storage_orders(h.data(), rrixix, rrixiy);
        Word16 dpos[64], d2pos[64];
        for (int i = 0; i < 64; ++i) {
            dpos[i] = rng.word(3000, 0);
            d2pos[i] = dpos[i];
        }
        Word16 s[64], v[64];
        amr_wb_ACELP_set_sign_loop2(s, v, dpos, d2pos);
        amr_wb_Reorder(dpos, dn);
        amr_wb_Reorder(d2pos, dn2);
        amr_wb_Reorder(s, sign);
        amr_wb_Reorder(v, vec);
        Word16 pos_max[4];
        amr_wb_ACELP_4t64_nb_max(dn2, pos_max);
        amr_wb_ACELP_4t64_mod_rrixiy_signs(rrixiy, sign, vec);
        // The current pulse vector: one pulse of response at a random position.
        Word16 pv[67] = {};
        int p0 = rng.uniform(0, 63);
        for (int i = p0; i < 64; ++i) pv[i] = h[i - p0];
        int tx = trial % 4, ty = (tx + 1) % 4;
        Word16 cor_x[16], cor_y[16];
        amr_wb_ACELP_4t64_cor_h_vec(h.data(), pv, static_cast<Word16>(tx), sign, rrixix, cor_x);
        amr_wb_ACELP_4t64_cor_h_vec(h.data(), pv, static_cast<Word16>(ty), sign, rrixix, cor_y);
        for (int i = 0; i < 16; ++i) {
            Word32 S = lane_sum(h.data(), pv + tx + 4 * i, 64 - 4 * i);
            ASSERT_EQ(cor_x[i], add(mult(sat16((std::int64_t{S} + 16384) >> 15), sign[16 * tx + i]), rrixix[16 * tx + i]));
        }
        Word16 nb = static_cast<Word16>(trial % 2 ? 8 : 4);
        Word16 alp = static_cast<Word16>(rng.uniform(0, 4000)), ps = rng.word(2000, 0);
        Word16 alp_in = alp;
        Word16 got = amr_wb_ACELP_4t64_search_ixiy(nb, static_cast<Word16>(tx), static_cast<Word16>(ty), &alp, ps, dn,
                                                   dn2, cor_x, cor_y, rrixiy);
        Pick best;
        Word32 alp0 = L_add(L_deposit_h(alp_in), 32768);
        for (int a = 0; a < 16; ++a) {
            if (dn2[16 * tx + a] >= nb - 8) continue;
            Word16 ps1 = add(ps, dn[16 * tx + a]);
            Word32 alp1 = L_add(alp0, std::int32_t{cor_x[a]} << 13);
            for (int b = 0; b < 16; ++b) {
                Word16 ps2 = add(ps1, dn[16 * ty + b]);
                Word16 sq = mult(ps2, ps2);
                Word32 alp2 = L_add(L_add(alp1, std::int32_t{cor_y[b]} << 13), std::int32_t{rrixiy[256 * tx + 16 * a + b]} << 14);
                if (better(sq, extract_h(alp2), best)) best = {sq, extract_h(alp2), 16 * a + b};
            }
        }
        ASSERT_EQ(got, best.index) << trial;
        ASSERT_EQ(alp, best.alp);
    }
}

TEST(AmrwbAcelp, EqualPairsGoToTheLowestIndex) {
    // Every candidate equally good: lane merges keep pair 0.
    Word16 dn[64], dn2[64], zero16[16] = {}, rr[1024] = {};
    for (int i = 0; i < 64; ++i) {
        dn[i] = 100;
        dn2[i] = -8;
    }
    Word16 alp = 100;
    EXPECT_EQ(amr_wb_ACELP_4t64_search_ixiy(8, 1, 2, &alp, 0, dn, dn2, zero16, zero16, rr), 0);
    // Two best pairs in different lanes: (3, 6) and (9, 5) — the earlier row wins.
    for (int i = 0; i < 64; ++i) dn[i] = 0;
    dn[16 * 1 + 3] = 1000;
    dn[16 * 1 + 9] = 1000;
    dn[16 * 2 + 6] = 1000;
    dn[16 * 2 + 5] = 1000;
    for (int i = 0; i < 1024; ++i) rr[i] = 30000;  // every other pair costs more energy
    rr[256 + 16 * 3 + 6] = 0;
    rr[256 + 16 * 9 + 5] = 0;
    alp = 100;
    EXPECT_EQ(amr_wb_ACELP_4t64_search_ixiy(8, 1, 2, &alp, 0, dn, dn2, zero16, zero16, rr), 16 * 3 + 6);
    // Two-track search: all equal gives pair 0; a single best one is found.
    Word16 r0[32], r1[32], rr2[1024] = {}, d[64] = {};
    for (int i = 0; i < 32; ++i) r0[i] = r1[i] = 100;
    EXPECT_EQ(amr_wb_ACELP_2t64_search_ixiy(r0, r1, rr2, d), 0);
    d[2 * 7] = 3000;
    d[2 * 20 + 1] = 3000;
    EXPECT_EQ(amr_wb_ACELP_2t64_search_ixiy(r0, r1, rr2, d), 32 * 7 + 20);
}

TEST(AmrwbAcelp, TwoTrackSearchEqualsTheSequentialScan) {
    Rng rng(23);
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<Word16> h = response(rng, 4000 + 1000 * trial);
        Word16 r[64], rr[1024], dn[64], dn2[64], sign[64], vec[64];
        for (int i = 0; i < 64; ++i) dn[i] = dn2[i] = rng.word(8000, 0);
        amr_wb_ACELP_set_sign_loop2(sign, vec, dn, dn2);
        amr_wb_ACELP_2t64_1st_storage_order(h.data(), r);
        amr_wb_ACELP_2t64_2nd_storage_order(h.data(), rr);
        std::vector<Word16> unsigned_rr(rr, rr + 1024);
        amr_wb_ACELP_2t64_mod_rrixiy_signs(rr, sign, vec);
        for (int a = 0; a < 32; ++a)
            for (int b = 0; b < 32; ++b)
                ASSERT_EQ(rr[32 * a + b], mult(unsigned_rr[32 * a + b], sign[2 * a] >= 0 ? sign[2 * b + 1] : vec[2 * b + 1]));
        Pick best;
        for (int a = 0; a < 32; ++a)
            for (int b = 0; b < 32; ++b) {
                Word16 ps2 = add(dn[2 * a], dn[2 * b + 1]);
                Word16 sq = mult(ps2, ps2);
                Word16 alp2 = add(add(r[32 + b], r[a]), rr[32 * a + b]);
                if (better(sq, alp2, best)) best = {sq, alp2, 32 * a + b};
            }
        ASSERT_EQ(amr_wb_ACELP_2t64_search_ixiy(r, r + 32, rr, dn), best.index) << trial;
    }
}

TEST(AmrwbAcelp, PulseUpdateAddsTheVectorFirst) {
    // The vector and the first pulse saturate before the second pulse enters.
    Word16 v[64], p0[64], p1[64];
    for (int i = 0; i < 64; ++i) {
        v[i] = 30000;
        p0[i] = 10000;
        p1[i] = -10000;
    }
    amr_wb_ACELP_4t64_deep_final_sum(v, p0, p1, v);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(v[i], 22767);
}
