// Random and full-scale vectors through every routine of the core: no
// crash, no undefined behaviour (run under the sanitizers), the same result
// twice, and outputs inside the ranges the callers rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "isac_arith.h"
#include "isac_fft.h"
#include "isac_filterbank.h"
#include "isac_lattice.h"
#include "isac_masking.h"
#include "isac_pitch_est.h"
#include "isac_pitch_filter.h"
#include "isac_tables.h"

using namespace isac;

namespace {

struct Rng {
    std::mt19937 g;
    explicit Rng(unsigned seed) : g(seed) {}
    int16_t s16() {
        // Extremes often, anything else otherwise.
        switch (g() % 8) {
            case 0: return -32768;
            case 1: return 32767;
            case 2: return 0;
            default: return static_cast<int16_t>(g());
        }
    }
    int32_t s32() {
        switch (g() % 8) {
            case 0: return INT32_MIN;
            case 1: return INT32_MAX;
            case 2: return 0;
            case 3: return static_cast<int32_t>(g() % 2000) - 1000;
            default: return static_cast<int32_t>(g());
        }
    }
    template <std::size_t N>
    void fill(int16_t (&v)[N]) {
        for (auto& x : v) x = s16();
    }
    template <std::size_t N>
    void fill(int32_t (&v)[N]) {
        for (auto& x : v) x = s32();
    }
};

}  // namespace

TEST(IsacRobustness, ArithmeticAndTransforms) {
    Rng r(1);
    for (int t = 0; t < 300; ++t) {
        const int32_t a = r.s32(), b = r.s32();
        WebRtcSpl_DivW32W16(a, static_cast<int16_t>(b));
        WebRtcSpl_DivW32W16ResW16(a, static_cast<int16_t>(b));
        const int32_t q = WebRtcSpl_DivResultInQ31(a, b);
        EXPECT_NE(q, INT32_MIN);
        WebRtcSpl_DivW32(a, b);
        int16_t v[60];
        r.fill(v);
        EXPECT_GE(WebRtcSpl_GetScalingSquare(v, 60, 60), 0);

        int16_t x1[240], x2[240], y1[240], y2[240];
        r.fill(x1);
        r.fill(x2);
        std::memcpy(y1, x1, sizeof y1);
        std::memcpy(y2, x2, sizeof y2);
        WebRtcIsacfix_Time2SpecC(x1, x2, x1, x2);
        WebRtcIsacfix_Time2SpecC(y1, y2, y1, y2);
        EXPECT_EQ(0, std::memcmp(x1, y1, sizeof x1));
        int32_t o1[240], o2[240];
        WebRtcIsacfix_Spec2TimeC(x1, x2, o1, o2);
        r.fill(x1);
        r.fill(x2);
        WebRtcIsacfix_Spec2TimeC(x1, x2, o1, o2);
        r.fill(x1);
        r.fill(x2);
        WebRtcIsacfix_FftRadix16Fastest(x1, x2, t % 2 ? 1 : -1);
    }
}

TEST(IsacRobustness, Filterbanks) {
    Rng r(2);
    PreFiltBankstr pre{};
    PostFiltBankstr post{};
    int32_t q1[6] = {}, q2[6] = {}, q3[6] = {}, q4[6] = {}, dec[5] = {};
    for (int t = 0; t < 100; ++t) {
        int16_t pin[480], lp[264], hp[264], out[480];
        r.fill(pin);
        WebRtcIsacfix_SplitAndFilter1(pin, lp, hp, &pre);
        int16_t c1[240], c2[240];
        r.fill(c1);
        r.fill(c2);
        WebRtcIsacfix_FilterAndCombine1(c1, c2, out, &post);
        int16_t in320[320], lo[160], hi[160], o320[320];
        r.fill(in320);
        WebRtcSpl_AnalysisQMF(in320, lo, hi, q1, q2);
        r.fill(lo);
        r.fill(hi);
        WebRtcSpl_SynthesisQMF(lo, hi, o320, q3, q4);
        int16_t d[240], dout[120];
        r.fill(d);
        WebRtcIsacfix_DecimateAllpass32(d, dec, 240, dout);
        int16_t ar[2 + 120];
        r.fill(ar);
        WebRtcSpl_FilterARFastQ12(ar + 2, ar + 2, kACoefQ12, 3, 120);
        int16_t coefs[5];
        r.fill(coefs);
        int16_t fir_out[30];
        EXPECT_EQ(WebRtcSpl_DownsampleFastC(d + 10, 200, fir_out, 30, coefs, 5, 6, 2), 0);
    }
}

TEST(IsacRobustness, LatticeAndRecursions) {
    Rng r(3);
    int32_t ma_state[13] = {};
    int16_t ar_state[13] = {};
    for (int t = 0; t < 200; ++t) {
        const int16_t order = static_cast<int16_t>(t % 3 == 0 ? 12 : (t % 3 == 1 ? 6 : 4));
        int16_t in[240], q9[240], out[240], coef[72];
        int32_t gains[12], q25[240];
        r.fill(in);
        r.fill(coef);
        r.fill(gains);
        r.fill(q25);
        WebRtcIsacfix_NormLatticeFilterMa(order, ma_state, in, coef, gains, static_cast<int16_t>(t & 1), q9);
        WebRtcIsacfix_NormLatticeFilterAr(order, ar_state, q25, coef, gains, static_cast<int16_t>(t & 1), out);

        int32_t R[13];
        r.fill(R);
        if (t % 2) R[0] = std::abs(R[0] / 2) + 1;
        int16_t A[13], K[12];
        WebRtcSpl_LevinsonW32_JSK(R, A, K, order);
        WebRtcSpl_LevinsonDurbin(R, A, K, 6);
        WebRtcSpl_AutoCorrToReflCoef(R, order, K);
        int16_t a[13], k[12];
        r.fill(a);
        WebRtcSpl_AToK_JSK(a, order, k);
        r.fill(a);
        WebRtcSpl_LpcToReflCoef(a, order, k);
        r.fill(k);
        WebRtcSpl_ReflCoefToLpc(k, order, a);
        int32_t ac[13];
        int scale;
        EXPECT_EQ(WebRtcSpl_AutoCorrelation(in, 240, 12, ac, &scale), 13);
        EXPECT_GE(ac[0], 0);
        const int32_t v = r.s32();
        const int32_t root = WebRtcSpl_Sqrt(v);
        if (v >= 0) {
            EXPECT_LE(root, std::sqrt(static_cast<double>(v)) * 1.001 + 2);
            EXPECT_GE(root, 0);
        }
        int16_t y[12];
        WebRtcSpl_SqrtOfOneMinusXSquared(k, 12, y);
        int32_t vs[120];
        uint16_t vo[120];
        r.fill(vs);
        WebRtcIsacfix_VecSqrt(vs, vo);
        int16_t gin[480], gg[120], g1[240], g2[240];
        r.fill(gin);
        r.fill(gg);
        WebRtcIsacfix_Apply_GainVec(gin, gg, g1, g2);
    }
}

TEST(IsacRobustness, PitchAndMasking) {
    Rng r(4);
    PitchAnalysisStruct st{};
    st.PFstr.oldlagQ7 = st.PFstr_wght.oldlagQ7 = 6400;
    PitchFiltstr post{};
    post.oldlagQ7 = 6400;
    MaskFiltstr_enc md{};
    md.OldEnergy = 10;
    MaskFiltstr_enc_UB ub{};
    ub.OldEnergy = 10;
    for (int t = 0; t < 60; ++t) {
        int16_t in[240], out264[264], lags[4], gains[4];
        r.fill(in);
        WebRtcIsacfix_PitchAnalysis(in, out264, &st, lags, gains);
        for (int k = 0; k < 4; ++k) {
            EXPECT_GE(gains[k], 0);
            EXPECT_LE(gains[k], 1843);
        }
        // A decoder fed any lags and gains at all.
        int16_t rl[4], rg[4], res[240], rec[240];
        r.fill(rl);
        r.fill(rg);
        r.fill(res);
        WebRtcIsacfix_PitchFilter(res, rec, &post, rl, rg, kPitchFilterPost);

        int16_t lo[264], hi[240];
        r.fill(lo);
        r.fill(hi);
        int32_t g[12];
        int16_t kl[72], kh[36];
        WebRtcIsacfix_GetLpcCoef(lo, hi, &md, r.s16(), gains, g, kl, kh);
        int16_t ubin[480], ubk[12];
        int32_t corr[60];
        int16_t cq[12], vs[2];
        r.fill(ubin);
        WebRtcIsacfix_GetLpcCoef_UB(ubin, &ub, ubk, corr, cq, vs, static_cast<int16_t>(t % 2 ? 16 : 12));
    }
}
