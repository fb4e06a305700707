// The encoder kernels that take plain sums when the input energies allow it,
// against their saturating models on both sides of those bounds: amplitudes
// from well inside to full scale, the last ones with -32768 and 32767 mixed in.
// (The AVX2 and baseline builds of a kernel are the same integer code; each
// machine runs one of them through these tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "amrwb_kernels.h"
#include "amrwb_test_util.h"

using namespace amr_wb_op;
using namespace amrwb_test;

namespace {

constexpr int kAmplitudes[] = {300, 2000, 6000, 12000, 24000, 32767};

// A vector of n words at amplitude amp; at full scale one word in four is an extreme.
std::vector<Word16> vec(Rng& rng, int n, int amp) { return rng.vec(n, amp, amp == 32767 ? 4 : 0); }

Word16 round_q15(Word32 s) { return sat16((std::int64_t{s} + 16384) >> 15); }

}  // namespace

TEST(AmrwbFastSums, CorrelationsAndFiltersEqualTheirSaturatingModels) {
    Rng rng(90);
    for (int amp : kAmplitudes)
        for (int trial = 0; trial < 6; ++trial) {
            const int amp2 = trial % 2 ? amp : 32767;
            // Codebook correlations of h with the pulse vector (the lane sums).
            std::vector<Word16> h = vec(rng, 64, amp), v = vec(rng, 67, amp2), sign = vec(rng, 64, 32767),
                                rrixix = vec(rng, 64, 32767);
            for (Word16 track = 0; track < 4; ++track) {
                Word16 cor[16];
                amr_wb_ACELP_4t64_cor_h_vec(h.data(), v.data(), track, sign.data(), rrixix.data(), cor);
                for (int i = 0; i < 16; ++i) {
                    const Word16 c = round_q15(lane_sum(h.data(), v.data() + track + 4 * i, 64 - 4 * i));
                    ASSERT_EQ(cor[i], add(mult(c, sign[16 * track + i]), rrixix[16 * track + i]))
                        << amp << " " << trial << " " << track << " " << i;
                }
            }
            // Correlation matrix: one chain per diagonal from 32768.
            Word16 rr[64], rrxy[1024];
            amr_wb_ACELP_4t64_storage_orders(h.data(), rr, rrxy);
            for (int x = 0; x < 64; ++x)
                ASSERT_EQ(rr[16 * (x & 3) + (x >> 2)], extract_h(mac_chain(32768, h.data(), h.data(), 64 - x)));
            for (int t = 0; t < 4; ++t)
                for (int a = 0; a < 16; ++a)
                    for (int b = 0; b < 16; ++b) {
                        const int x = t + 4 * a, y = (t + 1) % 4 + 4 * b, dd = std::abs(x - y);
                        ASSERT_EQ(rrxy[256 * t + 16 * a + b],
                                  extract_h(mac_chain(32768, h.data(), h.data() + dd, 64 - std::max(x, y))))
                            << amp << " " << t << " " << a << " " << b;
                    }
            // Target correlation: chains from 1 over the remaining target.
            std::vector<Word16> x = vec(rng, 64, amp2);
            Word32 y32[64];
            amr_wb_cor_h_x_MainLoop(h.data(), x.data(), y32);
            for (int i = 0; i < 64; ++i) ASSERT_EQ(y32[i], mac_chain(1, x.data() + i, h.data(), 64 - i)) << amp << i;
            // Convolution with the reversed response (its three words past the end included).
            std::vector<Word16> hrev = vec(rng, 67, amp);
            Word16 y[64];
            amr_wb_ConvolveFwdH(x.data(), hrev.data(), y);
            for (int n = 0; n < 64; ++n)
                ASSERT_EQ(y[n], round16(mac_chain(0, x.data(), hrev.data() + 63 - n, (n | 3) + 1))) << amp << n;
            // LP residual: one chain from a[16] down to a[0].
            std::vector<Word16> a = vec(rng, 17, amp), sig = vec(rng, 16 + 64, amp2);
            Word16 res[64];
            amr_wb_Residu(a.data(), sig.data() + 16, res, 64);
            for (int i = 0; i < 64; ++i) {
                Word32 s = 0;
                for (int k = 16; k >= 0; --k) s = L_mac(s, a[k], sig[16 + i - k]);
                ASSERT_EQ(res[i], sat16((std::int64_t{s} + 2048) >> 12)) << amp << " " << i;
            }
            // Open-loop correlations over lags (lane sums).
            std::vector<Word16> w = vec(rng, 64 + 40, amp2);
            Word32 corr[41];
            amr_wb_comp_corr_loop(x.data(), w.data(), 41, corr, 64);
            for (int j = 0; j < 41; ++j) ASSERT_EQ(corr[j], lane_sum(x.data(), w.data() + j, 64)) << amp << " " << j;
        }
}

TEST(AmrwbFastSums, PairSearchRowsNearFullScaleEnergy) {
    // The starting energy close to either limit leaves no room for the row's
    // terms: those rows take the saturating form, the others the plain one;
    // the choice must equal the four-lane scan of the saturating terms.
    Rng rng(91);
    for (Word16 alp_in : {0, 4000, 20000, 24000, 32767, -32768, -30000})
        for (int trial = 0; trial < 8; ++trial) {
            std::vector<Word16> dn = vec(rng, 64, 32767), dn2 = vec(rng, 64, 10), cor_x = vec(rng, 16, 32767),
                                cor_y = vec(rng, 16, 32767), rr = vec(rng, 1024, 32767);
            const Word16 ps = rng.word(), tx = static_cast<Word16>(trial % 4), ty = static_cast<Word16>((tx + 1) % 4);
            Word16 alp = alp_in;
            const Word16 got = amr_wb_ACELP_4t64_search_ixiy(8, tx, ty, &alp, ps, dn.data(), dn2.data(), cor_x.data(),
                                                             cor_y.data(), rr.data());
            struct Pick {
                Word16 sq = -1, alp = 1, index = 0;
            } lanes[4];
            auto cross = [](Word16 sq, Word16 al, const Pick& b) { return L_sub(L_mult(al, b.sq), L_mult(sq, b.alp)); };
            const Word32 alp0 = L_add(L_deposit_h(alp_in), 32768);
            for (int a = 0; a < 16; ++a) {
                if (dn2[16 * tx + a] >= 0) continue;
                const Word16 ps1 = add(ps, dn[16 * tx + a]);
                const Word32 alp1 = L_add(alp0, std::int32_t{cor_x[a]} << 13);
                for (int b = 0; b < 16; ++b) {
                    const Word16 ps2 = add(ps1, dn[16 * ty + b]), sq = mult(ps2, ps2);
                    const Word16 al = extract_h(L_add(L_add(alp1, std::int32_t{cor_y[b]} << 13),
                                                      std::int32_t{rr[256 * tx + 16 * a + b]} << 14));
                    if (cross(sq, al, lanes[b & 3]) < 0) lanes[b & 3] = {sq, al, static_cast<Word16>(16 * a + b)};
                }
            }
            Pick best = lanes[0];
            for (int k = 1; k < 4; ++k) {
                const Word32 c = cross(lanes[k].sq, lanes[k].alp, best);
                if (c < 0 || (c == 0 && lanes[k].index < best.index)) best = lanes[k];
            }
            ASSERT_EQ(got, best.index) << alp_in << " " << trial;
            ASSERT_EQ(alp, best.alp) << alp_in << " " << trial;
        }
}

TEST(AmrwbFastSums, PulseSumsClipTwice) {
    Rng rng(92);
    for (int trial = 0; trial < 50; ++trial) {
        std::vector<Word16> v = vec(rng, 64, 32767), p0 = vec(rng, 64, 32767), p1 = vec(rng, 64, 32767);
        Word16 out[64];
        amr_wb_ACELP_4t64_deep_final_sum(v.data(), p0.data(), p1.data(), out);
        for (int i = 0; i < 64; ++i) ASSERT_EQ(out[i], add(add(v[i], p0[i]), p1[i])) << trial << " " << i;
    }
}

TEST(AmrwbFastSums, TwoTrackPairTermsClipLikeTheOperators) {
    // Full-scale pulse sums and energies clip in every term; the choice must
    // equal the four-lane scan of the saturating terms.
    Rng rng(93);
    for (int amp : kAmplitudes)
        for (int trial = 0; trial < 4; ++trial) {
            std::vector<Word16> r0 = vec(rng, 32, amp), r1 = vec(rng, 32, amp), rr = vec(rng, 1024, amp),
                                dn = vec(rng, 64, amp);
            struct Pick {
                Word16 sq = -1, alp = 1, index = 0;
            } lanes[4];
            auto cross = [](Word16 sq, Word16 al, const Pick& b) { return L_sub(L_mult(al, b.sq), L_mult(sq, b.alp)); };
            for (int a = 0; a < 32; ++a)
                for (int b = 0; b < 32; ++b) {
                    const Word16 ps2 = add(dn[2 * a], dn[2 * b + 1]), sq = mult(ps2, ps2);
                    const Word16 al = add(add(r1[b], r0[a]), rr[32 * a + b]);
                    if (cross(sq, al, lanes[b & 3]) < 0) lanes[b & 3] = {sq, al, static_cast<Word16>(32 * a + b)};
                }
            Pick best = lanes[0];
            for (int k = 1; k < 4; ++k) {
                const Word32 c = cross(lanes[k].sq, lanes[k].alp, best);
                if (c < 0 || (c == 0 && lanes[k].index < best.index)) best = lanes[k];
            }
            ASSERT_EQ(amr_wb_ACELP_2t64_search_ixiy(r0.data(), r1.data(), rr.data(), dn.data()), best.index)
                << amp << " " << trial;
        }
    // Four pairs with equal pulse sums: (1, 2) has the least energy only because
    // its first sum clips (30000 + 20000 to 32767) before -20000 is added.
    Word16 r0[32], r1[32], rr[1024], dn[64] = {};
    std::fill(r0, r0 + 32, 100);
    std::fill(r1, r1 + 32, 100);
    std::fill(rr, rr + 1024, 100);
    dn[2] = dn[5] = dn[6] = dn[9] = 1000;
    r0[1] = 30000;
    r0[3] = 10000;
    r1[2] = 20000;
    r1[4] = 5000;
    rr[32 * 1 + 2] = -20000;
    rr[32 * 1 + 4] = 0;
    rr[32 * 3 + 2] = 0;
    rr[32 * 3 + 4] = 5000;
    EXPECT_EQ(amr_wb_ACELP_2t64_search_ixiy(r0, r1, rr, dn), 32 * 1 + 2);
    // Pulse sums that clip square to 32766 like 32767 itself: pair 0 keeps the
    // lead over (1, 1), whose sum 40000 would square higher unclipped.
    std::fill(dn, dn + 64, 0);
    std::fill(r0, r0 + 32, 100);
    std::fill(r1, r1 + 32, 100);
    std::fill(rr, rr + 1024, 100);
    dn[0] = 32767;
    dn[2] = dn[3] = 20000;
    EXPECT_EQ(amr_wb_ACELP_2t64_search_ixiy(r0, r1, rr, dn), 0);
}

TEST(AmrwbFastSums, FourTrackPulseSumsClipBeforeSquaring) {
    // As above for the four-track rows: (0, 0) sums to 32767, (1, 1) to a
    // clipped 40000; equal energies, so the first stays best.
    Word16 dn[64] = {}, dn2[64], cor[16] = {}, rr[1024];
    std::fill(dn2, dn2 + 64, -8);
    std::fill(rr, rr + 1024, 100);
    dn[16 * 1 + 0] = 32767;
    dn[16 * 1 + 1] = 20000;
    dn[16 * 2 + 1] = 20000;
    Word16 alp = 0;
    EXPECT_EQ(amr_wb_ACELP_4t64_search_ixiy(8, 1, 2, &alp, 0, dn, dn2, cor, cor, rr), 0);
}
