// LP analysis kernels against the double-precision (high/low half) forms,
// the exact division, and the ISF conversions.
#include <gtest/gtest.h>

#include <cfenv>
#include <algorithm>
#include <cmath>
#include <vector>

#include "amrwb_kernels.h"
#include "amrwb_tables.h"
#include "amrwb_test_util.h"

using namespace amr_wb_op;
using namespace amrwb_test;

namespace {
// ---- the double-precision forms, each value a high and a low half --------
struct DP {
    Word16 hi, lo;
};
DP split(Word32 L) { return {static_cast<Word16>(L >> 16), static_cast<Word16>((L & 0xFFFF) >> 1)}; }
Word32 comp(DP d) { return L_add(L_deposit_h(d.hi), 2 * std::int32_t{d.lo}); }
Word32 Mpy_32(DP a, DP b) { return L_mac(L_mac(L_mult(a.hi, b.hi), mult(a.hi, b.lo), 1), mult(a.lo, b.hi), 1); }
Word32 Mpy_32_16(DP a, Word16 n) { return L_mac(L_mult(a.hi, n), mult(a.lo, n), 1); }

// The basic operator's restoring division.
Word16 div_s_model(Word16 num, Word16 den) {
    if (num == den) return 32767;
    std::int32_t n = num, d = den, out = 0;
    for (int i = 0; i < 15; ++i) {
        out <<= 1;
        n <<= 1;
        if (n >= d) {
            n -= d;
            out += 1;
        }
    }
    return static_cast<Word16>(out);
}

Word32 Div_32(Word32 num, DP den) {
    Word16 approx = div_s_model(0x3FFF, den.hi);
    Word32 L = L_sub(MAX_32, Mpy_32_16(den, approx));
    L = Mpy_32_16(split(L), approx);
    return L_shl(Mpy_32(split(num), split(L)), 2);
}

struct LevinsonResult {
    Word16 A[17], rc[16];
    bool stable;
};

// The recursion in high/low halves, stability tested on the truncated high half.
LevinsonResult levinson_model(const Word32* Rw) {
    LevinsonResult out{};
    DP R[17], A[17], An[17];
    for (int i = 0; i <= 16; ++i) R[i] = split(Rw[i]);
    Word32 t1 = comp(R[1]);
    Word32 t2 = Div_32(L_abs(t1), R[0]);
    if (t1 > 0) t2 = L_negate(t2);
    DP K = split(t2);
    out.rc[0] = K.hi;
    A[1] = split(t2 >> 4);
    Word32 t0 = Mpy_32(R[0], split(L_sub(MAX_32, L_abs(Mpy_32(K, K)))));
    Word16 alp_exp = norm_l(t0);
    DP alp = split(L_shl(t0, alp_exp));
    for (int i = 2; i <= 16; ++i) {
        t0 = 0;
        for (int j = 1; j < i; ++j) t0 = L_add(t0, Mpy_32(R[j], A[i - j]));
        t0 = L_add(L_shl(t0, 4), comp(R[i]));
        t2 = Div_32(L_abs(t0), alp);
        if (t0 > 0) t2 = L_negate(t2);
        t2 = L_shl(t2, alp_exp);
        K = split(t2);
        out.rc[i - 1] = K.hi;
        if (abs_s(K.hi) > 32750) return out;
        for (int j = 1; j < i; ++j) An[j] = split(L_add(comp(A[j]), Mpy_32(K, A[i - j])));
        An[i] = split(t2 >> 4);
        t0 = Mpy_32(alp, split(L_sub(MAX_32, L_abs(Mpy_32(K, K)))));
        Word16 j = norm_l(t0);
        alp = split(L_shl(t0, j));
        alp_exp = add(alp_exp, j);
        for (int k = 1; k <= i; ++k) A[k] = An[k];
    }
    out.A[0] = 4096;
    for (int i = 1; i <= 16; ++i) out.A[i] = round16(L_shl(comp(A[i]), 1));
    out.stable = true;
    return out;
}

// Normalised, lag-windowed autocorrelation of a random resonant signal.
void autocorrelation(Rng& rng, Word32* R) {
    std::vector<double> s(384);
    double y1 = 0, y2 = 0, r = 0.7 + 0.29 * rng.uniform(0, 1000) / 1000.0, w = rng.uniform(1, 300) / 100.0;
    for (double& v : s) {
        v = rng.uniform(-1000, 1000) + 2 * r * std::cos(w) * y1 - r * r * y2;
        y2 = y1;
        y1 = v;
    }
    double peak = 1;
    for (double v : s) peak = std::max(peak, std::abs(v));
    Word16 x[384];
    for (int i = 0; i < 384; ++i) x[i] = static_cast<Word16>(s[i] / peak * 20000);
    std::int64_t r0 = 1;
    for (int i = 0; i < 384; ++i) r0 += 2 * std::int64_t{x[i]} * x[i];
    int norm = 0;
    while ((r0 << norm) < (std::int64_t{1} << 30)) ++norm;
    while ((r0 >> -norm) >= (std::int64_t{1} << 31)) --norm;
    for (int k = 0; k <= 16; ++k) {
        std::int64_t a = k == 0 ? r0 : 0;
        for (int i = 0; k && i + k < 384; ++i) a += 2 * std::int64_t{x[i]} * x[i + k];
        R[k] = static_cast<Word32>(norm >= 0 ? a << norm : a >> -norm);
    }
    amr_wb_Lag_window(R);
}
}  // namespace

TEST(AmrwbDivision, IntegerQuotientEqualsTheFloatTowardZeroFormForEveryDenominator) {
    const int saved = std::fegetround();
    std::fesetround(FE_TOWARDZERO);
    Rng rng(30);
    long checked = 0;
    for (int den = 1; den <= 32767; ++den) {
        int nums[6] = {0, den, den - 1, den / 2, rng.uniform(0, den), rng.uniform(0, den)};
        for (int num : nums) {
            volatile float q = static_cast<float>(num) / static_cast<float>(den);
            int expect = std::min(32767, static_cast<int>(q * 32768.0f));
            ASSERT_EQ(amr_wb_div_s(static_cast<Word16>(num), static_cast<Word16>(den)), expect) << num << "/" << den;
            ++checked;
        }
    }
    std::fesetround(saved);
    EXPECT_GT(checked, 190000);
    // Nothing in the kernel touches the rounding mode.
    EXPECT_EQ(amr_wb_div_s(16384, 32767), 16384);
    EXPECT_EQ(std::fegetround(), saved);
    EXPECT_EQ(amr_wb_div_s(1, 3), 10922);
    EXPECT_EQ(amr_wb_div_s(123, 123), 32767);
    for (int den = 1; den <= 32767; den += 97) EXPECT_EQ(amr_wb_div_s(static_cast<Word16>(den / 3), static_cast<Word16>(den)), div_s_model(static_cast<Word16>(den / 3), static_cast<Word16>(den)));
}

TEST(AmrwbLevinson, EqualsTheDoublePrecisionRecursion) {
    Rng rng(31);
    int stable = 0;
    for (int trial = 0; trial < 300; ++trial) {
        Word32 R[17];
        autocorrelation(rng, R);
        // The kernel keeps 32-bit words; the halves drop bit 0.
        for (Word32& r : R) r &= ~1;
        LevinsonResult ref = levinson_model(R);
        Word16 mem[18], A[17], rc[16];
        for (int i = 0; i < 18; ++i) mem[i] = static_cast<Word16>(1000 + i);
        amr_wb_Levinson(mem, R, A, rc);
        if (!ref.stable) continue;
        ++stable;
        for (int i = 0; i <= 16; ++i) ASSERT_EQ(A[i], ref.A[i]) << trial << " " << i;
        // The reflection coefficients are rounded where the halves truncate.
        for (int i = 0; i < 16; ++i) ASSERT_LE(std::abs(rc[i] - ref.rc[i]), 1) << trial << " " << i;
        for (int i = 0; i < 16; ++i) ASSERT_EQ(mem[i], A[i + 1]);
        EXPECT_EQ(mem[16], rc[0]);
        EXPECT_EQ(mem[17], rc[1]);
    }
    EXPECT_GT(stable, 250);
}

TEST(AmrwbLevinson, UnstableOnTheRoundedReflectionCoefficient) {
    // The autocorrelation of x[n] = rho·x[n-2] + e: every reflection
    // coefficient but the second is zero, the second is rho.  Find the first
    // v (rho = -v / 2^30) that the recursion rejects.
    auto autocorr = [](Word32 v, Word32* R) {
        double rho = -static_cast<double>(v) / (1 << 30), p = 1;
        for (int k = 0; k <= 16; ++k) {
            R[k] = k % 2 ? 0 : static_cast<Word32>(std::lround((1 << 30) * p));
            if (k % 2 == 0) p *= rho;
        }
    };
    auto rejected = [&](Word32 v, Word16* rc) {
        Word32 R[17];
        autocorr(v, R);
        Word16 mem[18], A[17];
        for (Word16& m : mem) m = 111;
        amr_wb_Levinson(mem, R, A, rc);
        return A[2] == 111 && rc[0] == 111 && rc[1] == 111;
    };
    Word16 rc[16];
    Word32 lo = 1060000000, hi = 1073700000;
    ASSERT_FALSE(rejected(lo, rc));
    ASSERT_TRUE(rejected(hi, rc));
    while (lo + 1 < hi) {
        Word32 mid = lo + (hi - lo) / 2;
        (rejected(mid, rc) ? hi : lo) = mid;
    }
    ASSERT_FALSE(rejected(lo, rc));
    EXPECT_EQ(rc[1], 32750);  // the last accepted coefficient, rounded
    // At the first rejected v the double-precision recursion, testing the
    // truncated high half, still accepts the filter.
    Word32 R[17];
    autocorr(hi, R);
    LevinsonResult ref = levinson_model(R);
    EXPECT_EQ(ref.rc[1], 32750);
    EXPECT_TRUE(ref.stable);
}

TEST(AmrwbLpc, LagWindowProductsAndInverseSquareRoot) {
    Rng rng(32);
    Word32 R[17], W[17];
    for (int i = 0; i <= 16; ++i) R[i] = W[i] = rng.word32();
    amr_wb_Lag_window(W);
    EXPECT_EQ(W[0], R[0]);
    for (int i = 1; i <= 16; ++i) EXPECT_EQ(W[i], Mpy_32(split(R[i]), {amr_wb_lag_hi[i - 1], amr_wb_lag_lo[i - 1]}));
    for (int t = 0; t < 5000; ++t) {
        Word32 a = rng.word32(), b = rng.word32();
        Word16 n = rng.word();
        if (!(a == MIN_32 && n == MIN_16)) {
            ASSERT_EQ(amr_wb_MPY_32_16(a, n), Mpy_32_16(split(a), n));
        }
        ASSERT_EQ(amr_wb_MPY_32_neon(a, b), L_add(L_mult(split(a).hi, split(b).hi),
                                                  2 * (std::int32_t{mult(split(a).hi, split(b).lo)} +
                                                       mult(split(b).hi, split(a).lo))));
        if (a != MIN_32 && b != MIN_32) {
            ASSERT_EQ(amr_wb_MPY_32(a, b), Mpy_32(split(a), split(b)));
        }
    }
    for (Word32 v : {0, -5}) {
        Word32 f = v;
        Word16 e = 7;
        amr_wb_Isqrt_n(&f, &e);
        EXPECT_EQ(f, MAX_32);
        EXPECT_EQ(e, 0);
    }
    for (int t = 0; t < 1000; ++t) {
        Word32 f = rng.uniform(1 << 30, MAX_32);
        Word16 e = static_cast<Word16>(rng.uniform(0, 30));
        // x = f·2^(e-31) as an integer; the result m·2^x is 2^31 / sqrt(x).
        double want = 2147483648.0 / std::sqrt(f * std::pow(2.0, e - 31));
        Word32 m = f;
        Word16 x = e;
        amr_wb_Isqrt_n(&m, &x);
        double got = m * std::pow(2.0, x);
        EXPECT_NEAR(got / want, 1.0, 2e-3);
    }
}

TEST(AmrwbIsf, ConversionsPolynomialsAndInterpolation) {
    Rng rng(33);
    Word16 isf[20], isp[20];
    for (int m : {16, 20}) {
        for (int i = 0; i < m; ++i) isf[i] = static_cast<Word16>(rng.uniform(0, i == m - 1 ? 8191 : 16383));
        amr_wb_Isf_isp(isf, isp, static_cast<Word16>(m));
        for (int i = 0; i < m; ++i) {
            int v = i == m - 1 ? 2 * isf[i] : isf[i];
            int ind = v >> 7, off = v & 0x7F;
            int T0 = amr_wb_isp_isf_table[ind], T1 = amr_wb_isp_isf_table[ind + 1];
            EXPECT_EQ(isp[i], static_cast<Word16>(T0 + (((T1 - T0) * off) >> 7)));
            EXPECT_NEAR(isp[i] / 32768.0, std::cos(M_PI * v / 16384.0), 2e-3);
        }
        // In place gives the same.
        Word16 same[20];
        std::copy(isf, isf + m, same);
        amr_wb_Isf_isp(same, same, static_cast<Word16>(m));
        for (int i = 0; i < m; ++i) EXPECT_EQ(same[i], isp[i]);
    }
    // Polynomial coefficients from the ISPs: the reference's split products.
    for (int trial = 0; trial < 50; ++trial) {
        // ISPs of ordered frequencies, as the codec forms them.
        Word16 q[16], p[16];
        for (int i = 0; i < 15; ++i) q[i] = static_cast<Word16>(1000 * (i + 1) + rng.uniform(-400, 400));
        q[15] = static_cast<Word16>(rng.uniform(500, 4000));
        amr_wb_Isf_isp(q, p, 16);
        Word32 f[9];
        amr_wb_Get_isp_pol(p, f, 8, amr_wb_isp_az_pol_tbl);
        Word32 g[9];
        g[0] = 0x00800000;
        g[1] = L_mult(p[0], -256);
        for (int i = 2; i <= 8; ++i) {
            Word16 x = p[2 * (i - 1)];
            g[i] = g[i - 2];
            for (int j = i; j >= 2; --j) g[j] = L_add(L_sub(g[j], L_shl(Mpy_32_16(split(g[j - 1]), x), 1)), g[j - 2]);
            g[1] = L_msu(g[1], x, 256);
        }
        for (int i = 0; i <= 8; ++i) ASSERT_EQ(f[i], g[i]) << trial << " " << i;
        Word32 f1[8], f2[8];
        for (int i = 0; i < 8; ++i) {
            f1[i] = rng.word32();
            f2[i] = rng.word32();
        }
        Word32 e1[8], e2[8];
        std::copy(f1, f1 + 8, e1);
        std::copy(f2, f2 + 8, e2);
        amr_wb_Isp_Az_PrepF1F2_Loop1(f1, f2, p[15]);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(f1[i], L_add(e1[i], Mpy_32_16(split(e1[i]), p[15])));
            EXPECT_EQ(f2[i], L_sub(e2[i], Mpy_32_16(split(e2[i]), p[15])));
        }
    }
    // Interpolations and weighting.
    Word16 a[21], b[21], out[21];
    for (int i = 0; i < 21; ++i) {
        a[i] = rng.word();
        b[i] = rng.word();
    }
    amr_wb_Int_isp_InnerLoop(a, b, out, 20000, 12768);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(out[i], round16(L_mac(L_mult(a[i], 20000), b[i], 12768)));
    const Word16 b3[3] = {20000, 16384, -16384}, e3[3] = {19999, 16384, -16383};
    Word16 o3[16], b16[16] = {}, a16[16];
    for (int i = 0; i < 16; ++i) a16[i] = rng.word();
    std::copy(b3, b3 + 3, b16);
    amr_wb_CalcHfIsf(a16, b16, o3, 32767);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(o3[i], e3[i]);
    Word16 unit[17] = {4096}, ones[17];
    for (Word16& v : ones) v = 4096;
    amr_wb_Weight_a_M(unit, out, amr_wb_Weight_a_GAMMA1_M);
    for (int i = 0; i <= 16; ++i) EXPECT_EQ(out[i], unit[i]);
    amr_wb_Weight_a_M(ones, out, amr_wb_Weight_a_19661_M);
    for (int i = 1; i <= 16; ++i) EXPECT_EQ(out[i], (4096 * amr_wb_Weight_a_19661_M[i - 1] + 16384) >> 15);
    amr_wb_Weight_a_M16k(a, out, amr_wb_Weight_a_29491_M16K);
    for (int i = 1; i <= 20; ++i) EXPECT_EQ(out[i], round16(L_mult(a[i], amr_wb_Weight_a_29491_M16K[i - 1])));

    // Correlation of the ISF differences: a mean in the eighth word leaves seven terms.
    Word16 d[8], e[8];
    for (int i = 0; i < 8; ++i) {
        d[i] = static_cast<Word16>(rng.uniform(0, 3000));
        e[i] = static_cast<Word16>(rng.uniform(0, 3000));
    }
    d[7] = 1500;
    Word32 sum = 0;
    for (int k = 0; k < 7; ++k) {
        DP P = split(L_mult(sub(d[k], 1500), sub(e[k], 1500)));
        sum = L_add(sum, Mpy_32(P, P));
    }
    EXPECT_EQ(amr_wb_Calc_IsfCorr(d, e, 1500), sum);
}
