// Pitch, codebook, gain and filter routines of the set against the live codec on identical
// inputs, and the properties the set's own routines define (matrix layout, interpolation orders).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "g729_internal.h"
#include "g729_kernels.h"
#include "gcommon_test_util.h"
#include "tables/gcommon_tables.h"

using namespace gcommon;
using namespace gctest;

namespace {

// A decaying impulse response with the sign pattern of a real weighted synthesis filter.
void impulseResponse(Rng& rng, SINT16* h) {
    int amp = 8192;
    for (int i = 0; i < 40; ++i) {
        h[i] = static_cast<SINT16>(rng.word(-amp, amp));
        amp = amp * 7 / 8 + 16;
    }
    h[0] = 4096;
}

TEST(GcommonPitch, OpenLoopAndFractionalSearchesFollowTheLiveCodec) {
    const auto speech = g729test::loadSpeech(80 * 400);
    int olSame = 0, frSame = 0, gpSame = 0, n = 0;
    Rng rng(7);
    alignas(8) SINT16 scratch[224];
    for (std::size_t f = 160; f + 80 <= speech.size(); f += 80, ++n) {
        // Open loop on the speech itself, at three levels so that both rescalings run.
        const int level = n % 3;
        std::vector<SINT16> sig(223), live(223 + 16);
        for (int i = 0; i < 223; ++i) {
            const int v = speech[f - 143 + i];
            sig[i] = static_cast<SINT16>(level == 0 ? v / 64 : level == 1 ? v : std::clamp(v * 6, -32768, 32767));
            live[i] = sig[i];
        }
        const int T = g729aPitch_ol_fast(sig.data() + 143, scratch);
        const int Tl = g729::g729ab_Pitch_ol_fast(live.data() + 143);
        olSame += T == Tl;

        // Closed loop: excitation history from speech, a target and an impulse response.
        SINT16 exc[154 + 40], excl[154 + 40], xn[40], h[40];
        for (int i = 0; i < 194; ++i) exc[i] = excl[i] = static_cast<SINT16>(speech[f - 154 + i] / 2);
        for (int i = 0; i < 40; ++i) xn[i] = static_cast<SINT16>(speech[f + i] / 2);
        impulseResponse(rng, h);
        const int t0min = 20 + static_cast<int>(n % 110), t0max = t0min + 9;
        const int isub = n & 1 ? 40 : 0;
        int frac = 9;
        SINT16 fracl = 9;
        const int t0 = g729aPitch_fr3_fast(exc + 154, xn, h, t0min, t0max, isub, &frac);
        const int t0l = g729::g729ab_Pitch_fr3_fast(excl + 154, xn, h, t0min, t0max, isub, &fracl);
        frSame += t0 == t0l && frac == fracl && std::memcmp(exc, excl, sizeof exc) == 0;

        // Adaptive-codebook gain; the set keeps exponents as exp - 15 / exp - 16, the live codec 15 - exp.
        SINT16 y1[40];
        for (int i = 0; i < 40; ++i) y1[i] = static_cast<SINT16>(level == 2 ? speech[f + 40 + i] * 4 / 3 : speech[f + 40 + i] / 4);
        GCOEFF g{};
        SINT16 gl[4];
        const SINT16 gain = g729G_pitch(xn, y1, &g);
        const SINT16 gainl = g729::g729ab_G_pitch(xn, y1, gl);
        gpSame += gain == gainl && g.g_coeff_exp[0] == gl[0] && g.g_coeff_exp[5] == -gl[1] && g.g_coeff_exp[1] == negate(gl[2]) &&
                  g.g_coeff_exp[6] == -gl[3] - 1;
    }
    std::printf("[ set vs live pitch ] %d frames: open loop %.1f %%, closed loop %.1f %%, gain %.1f %% identical\n", n, 100.0 * olSame / n,
                100.0 * frSame / n, 100.0 * gpSame / n);
    EXPECT_EQ(olSame, n);
    EXPECT_EQ(frSame, n);
    EXPECT_EQ(gpSame, n);
}

TEST(GcommonPitch, InterpolationOrdersLagCodingAndParity) {
    Rng rng(11);
    for (int trial = 0; trial < 400; ++trial) {
        SINT16 base[154 + 40];  // the interpolation reaches 10 samples beyond the lag
        const int amp = trial % 2 ? 32767 : 3000;  // loud ones saturate the accumulation
        for (auto& v : base) v = rng.word(-amp, amp);
        const int T0 = 20 + trial % 124;
        const SINT16 frac = static_cast<SINT16>(trial % 3 - 1);
        SINT16 a[194], b[194], c[194], d[194];
        std::memcpy(a, base, sizeof a);
        std::memcpy(b, base, sizeof b);
        std::memcpy(c, base, sizeof c);
        std::memcpy(d, base, sizeof d);
        g729Pred_lt_3(a + 154, T0, frac);
        g729::g729ab_Pred_lt_3_dec(b + 154, T0, frac);
        g729Pred_lt_3_Simple(c + 154, T0, frac);
        g729::g729ab_Pred_lt_3_fast(d + 154, T0, frac);
        ASSERT_EQ(std::memcmp(a, b, sizeof a), 0) << T0 << " " << frac;
        ASSERT_EQ(std::memcmp(c, d, sizeof c), 0) << T0 << " " << frac;
    }
    // Lag coding round trip over the whole first-subframe range and the relative second subframe.
    for (int T0 = 20; T0 <= 143; ++T0)
        for (int fr = -1; fr <= 1; ++fr) {
            if (T0 >= 85 && fr > 0) continue;  // outside the fractional range
            if (T0 > 85 && fr != 0) continue;
            if (T0 == 20 && fr < 0) continue;
            SINT16 tmin = 0, tmax = 0;
            const SINT16 idx = g729Enc_lag3(static_cast<SINT16>(T0), static_cast<SINT16>(fr), &tmin, &tmax, 20, 143, 0);
            SINT16 t = 0, f = 0;
            g729Dec_lag3(idx, 0, &t, &f);
            ASSERT_EQ(t, T0);
            ASSERT_EQ(f, fr);
            EXPECT_EQ(tmax - tmin, 9);
            EXPECT_LE(tmax, 143);
            for (int T1 = tmin; T1 <= tmax; ++T1)
                for (int f1 = -1; f1 <= 1; ++f1) {
                    const SINT16 i2 = g729Enc_lag3(static_cast<SINT16>(T1), static_cast<SINT16>(f1), &tmin, &tmax, 20, 143, 1);
                    SINT16 t2 = static_cast<SINT16>(T0), f2 = 0;
                    g729Dec_lag3(i2, 40, &t2, &f2);
                    if (i2 >= 0 && i2 < 32) {
                        EXPECT_EQ(t2, T1);
                        EXPECT_EQ(f2, f1);
                    }
                }
        }
    for (int idx = 0; idx < 256; ++idx) EXPECT_EQ(g729Check_Parity_Pitch(idx, g729Parity_Pitch(idx)), 0) << idx;
    for (int idx = 0; idx < 256; ++idx) EXPECT_EQ(g729Check_Parity_Pitch(idx, static_cast<SINT16>(1 - g729Parity_Pitch(idx))), 1) << idx;
}

// Reference correlation of the scaled response at two positions, from the definition.
SINT16 corrTerm(const SINT16* hs, int p1, int p2) {
    const int d = std::abs(p1 - p2), top = std::max(p1, p2);
    SINT32 s = 0;
    for (int n = 0; n < 40 - top; ++n) s += SINT32{hs[n]} * hs[n + d];
    return static_cast<SINT16>(s >> 15);
}

TEST(GcommonCodebook, MatrixLayoutSearchAndDecoderAgree) {
    Rng rng(3);
    const struct {
        int a, b, off;
    } blocks[9] = {{0, 1, 40}, {0, 2, 104}, {0, 3, 168}, {1, 2, 232}, {1, 3, 296}, {0, 4, 360}, {2, 3, 424}, {1, 4, 488}, {2, 4, 552}};
    int same = 0;
    for (int trial = 0; trial < 200; ++trial) {
        SINT16 h[40], hs[40], rr[616];
        impulseResponse(rng, h);
        g729Cor_h(h, rr);
        // The scaling the routine applies: up by norm(E)/2, or down by one when the energy is large.
        SINT32 E = 0;
        for (int i = 0; i < 40; ++i) E = L_mac(E, h[i], h[i]);
        for (int i = 0; i < 40; ++i) hs[i] = extract_h(E) > 32000 ? static_cast<SINT16>(h[i] >> 1) : shl(h[i], static_cast<SINT16>(norm_l(E) >> 1));
        for (int t = 0; t < 5; ++t)
            for (int j = 0; j < 8; ++j) ASSERT_NEAR(rr[8 * t + j], corrTerm(hs, 5 * j + t, 5 * j + t), 1);
        for (const auto& b : blocks)
            for (int j = 0; j < 8; ++j)
                for (int k = 0; k < 8; ++k)
                    ASSERT_NEAR(rr[b.off + 8 * j + k], corrTerm(hs, 5 * j + b.a, 5 * k + b.b), 1) << b.a << b.b << " " << j << " " << k;

        // The driver against the live one, and the codevector against the pulse decoder.
        SINT16 x[40], h1[40], h2[40];
        for (auto& v : x) v = rng.word(-8000, 8000);
        std::memcpy(h1, h, sizeof h);
        std::memcpy(h2, h, sizeof h);
        const int T0 = 20 + trial % 40;
        const SINT16 sharp = static_cast<SINT16>(3277 + trial * 40);
        SINT16 code[40], y[40], sign = 0, codel[40], yl[40], signl = 0, scratch[656];
        const SINT16 idx = g729aACELP_Code_A(x, h1, T0, sharp, code, y, &sign, scratch);
        const SINT16 idxl = g729::g729ab_ACELP_Code_A(x, h2, static_cast<SINT16>(T0), sharp, codel, yl, &signl);
        same += idx == idxl && sign == signl && std::memcmp(code, codel, sizeof code) == 0 && std::memcmp(y, yl, sizeof y) == 0;
        SINT16 dec[40];
        g729Decod_ACELP(sign, idx, dec);
        if (T0 >= 40) EXPECT_EQ(std::memcmp(dec, code, sizeof dec), 0);
        int pulses = 0;
        for (int i = 0; i < 40; ++i) pulses += dec[i] != 0;
        EXPECT_GE(pulses, 3);  // pulse 3 may share a position with none, four at most
        EXPECT_LE(pulses, 4);
    }
    EXPECT_EQ(same, 200);

    // Find2Max: the two largest on one track, the earlier position winning ties.
    SINT16 v[40] = {};
    v[7] = 5;
    v[17] = 9;
    v[27] = 9;
    SINT16 out[2];
    Find2Max(2, v, out);
    EXPECT_EQ(out[0], 17);
    EXPECT_EQ(out[1], 27);

    // Block correlation maximum: the later offset wins a tie.
    SINT16 in[44] = {}, c[40] = {};
    c[0] = 100;
    in[1] = 50;
    in[3] = 50;
    int ind = -1;
    EXPECT_EQ(BlockCorMax4_40(4, in, c, &ind), L_mult(100, 50));
    EXPECT_EQ(ind, 3);
}

TEST(GcommonGains, ErasureFloorAndTamingZones) {
    // The erasure floor keeps -14336 instead of averaging down to -18432.
    SINT16 floor[4] = {-14336, -14336, -14336, -14336};
    g729Gain_update_erasure(floor);
    EXPECT_EQ(floor[0], -14336);
    // Taming: lag 40 without fraction looks at zones 0..1 only.
    SINT32 err[4] = {0, 0, 983040001, 983040001};
    EXPECT_EQ(g729Test_err(40, 0, err), 0);
    err[1] = 983040001;
    EXPECT_EQ(g729Test_err(40, 0, err), 1);
}

}  // namespace
