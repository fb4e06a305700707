// Kernels of the GSM half-rate codec against plain scalar models: the four-lane sums with their
// saturation points, the filters (including the overload behaviour of the all-pole filters),
// the input biquads against double precision and the double-precision lattice conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "gsmhr_test_signals.h"
#include "hr_codec.h"
#include "hr_frame.h"
#include "hr_kernels.h"
#include "hr_tables.h"

using namespace hr;

namespace {

std::int64_t clamp32(std::int64_t v) { return std::min<std::int64_t>(std::max<std::int64_t>(v, INT32_MIN), INT32_MAX); }

// The lane rule written out: lane i mod 4 saturating at every step, (0 + 2) + (1 + 3), then L0.
template <class P>
Word32 lane_model(int n, Word32 L0, P prod) {
  std::int64_t lane[4] = {0, 0, 0, 0};
  for (int i = 0; i < n; ++i) lane[i % 4] = clamp32(lane[i % 4] + prod(i));
  std::int64_t a = clamp32(lane[0] + lane[2]), b = clamp32(lane[1] + lane[3]);
  return static_cast<Word32>(clamp32(clamp32(a + b) + L0));
}
std::int64_t lmult(int a, int b) { return clamp32(2LL * a * b); }

std::vector<Word16> random_vec(hrtest::Lcg& g, int n, int amp) {
  std::vector<Word16> v(n);
  for (auto& x : v) x = static_cast<Word16>(g.range(-amp, amp));
  return v;
}

// Vectors that drive single lanes into saturation: full-scale and -32768 corners.
std::vector<std::vector<Word16>> corner_vectors() {
  std::vector<std::vector<Word16>> out;
  out.push_back(std::vector<Word16>(160, -32768));
  out.push_back(std::vector<Word16>(160, 32767));
  std::vector<Word16> alt(160);
  for (int i = 0; i < 160; ++i) alt[i] = (i % 4 == 0) ? Word16(-32768) : (i % 4 == 1 ? Word16(32767) : Word16(i * 97 % 2001 - 1000));
  out.push_back(alt);
  return out;
}

}  // namespace

TEST(GsmHrKernels, SummingKernelsFollowTheLaneRuleIncludingSaturation) {
  hrtest::Lcg g{11};
  auto vecs = corner_vectors();
  for (int k = 0; k < 20; ++k) vecs.push_back(random_vec(g, 160, k < 10 ? 32767 : 3000));
  for (const auto& a : vecs) {
    const auto& b = vecs[(&a - vecs.data() + 1) % vecs.size()];
    const Word32 L0 = 123456789;
    EXPECT_EQ(hr_Vec_L_sqa_SLEN(a.data(), L0), lane_model(40, L0, [&](int i) { return lmult(a[i], a[i]); }));
    EXPECT_EQ(hr_Vec_L_mac_SLEN(a.data(), b.data()), lane_model(40, 0, [&](int i) { return lmult(a[i], b[i]); }));
    EXPECT_EQ(hr_Vec_L_mac_FLEN(a.data(), b.data()), lane_model(160, 0, [&](int i) { return lmult(a[i], b[i]); }));
    EXPECT_EQ(hr_Vec_L_mac_8(a.data(), b.data(), L0), lane_model(8, L0, [&](int i) { return lmult(a[i], b[i]); }));
    EXPECT_EQ(hr_Vec_L_shr_sqa_SLEN(a.data(), 2, L0), lane_model(40, L0, [&](int i) { return lmult(a[i] >> 2, a[i] >> 2); }));
    EXPECT_EQ(hr_Vec_L_shr_sqa_FLEN(a.data(), 3, 1146635), lane_model(160, 1146635, [&](int i) { return lmult(a[i] >> 3, a[i] >> 3); }));
    EXPECT_EQ(hr_Vec_mult_r_Sqa_SLEN(a.data(), 8192, 0), lane_model(40, 0, [&](int i) {
                int x = (a[i] * 8192 + 16384) >> 15;
                return lmult(x, x);
              }));
    Word32 out[6];
    hr_g_quant_vl_corr(a.data(), b.data(), a.data() + 40, out);
    EXPECT_EQ(out[0], hr_Vec_L_mac_SLEN(a.data(), b.data()));
    EXPECT_EQ(out[5], lane_model(40, 0, [&](int i) { return lmult(a[i], a[i]); }));
  }
  // A lane that saturates makes the result differ from the plain saturating chain.
  std::vector<Word16> v(40, 0);
  for (int i = 0; i < 40; i += 4) v[i] = 32767;  // lane 0 alone overflows
  v[1] = 30000;
  Word32 plain = 0;
  for (int i = 0; i < 40; ++i) plain = L_mac(plain, v[i], v[i]);
  EXPECT_EQ(hr_Vec_L_sqa_SLEN(v.data(), 0), LW_MAX);
  EXPECT_EQ(plain, LW_MAX);
  std::vector<Word16> w(40, 0);
  for (int i = 0; i < 40; i += 4) w[i] = -32768, w[i + 2] = 1;  // lane 0 saturates, then -x
  std::vector<Word16> u(40, 0);
  for (int i = 0; i < 40; i += 4) u[i] = -32768, u[i + 2] = 32767;
  EXPECT_EQ(hr_Vec_L_mac_SLEN(w.data(), u.data()),
            lane_model(40, 0, [&](int i) { return lmult(w[i], u[i]); }));
}

TEST(GsmHrKernels, NormalisedEnergiesAndCorrelations) {
  Word16 zero[40] = {};
  Word32 L = 1;
  EXPECT_EQ(hr_g_corr1(zero, &L), 0);
  EXPECT_EQ(L, 0);
  EXPECT_EQ(hr_g_corr1s(zero, 3, &L), 0);
  EXPECT_EQ(L, 0);
  hrtest::Lcg g{5};
  for (int k = 0; k < 50; ++k) {
    auto x = random_vec(g, 40, 2000 + (k * 97) % 3000);  // lanes stay below saturation
    for (Word16 s : {0, 1, 2, 3, 4, 5}) {
      Word32 Ln;
      Word16 r = hr_g_corr1s(x.data(), s, &Ln);
      // Ln * 2^-r is the energy sum 2 x^2, up to the truncation of the pre-shift.
      double e = 0;
      for (Word16 v : x) e += 2.0 * v * v;
      if (Ln != 0) {
        EXPECT_GE(Ln, 0x40000000);
        EXPECT_NEAR(std::ldexp(double(Ln), -r) / e, 1.0, s >= 2 ? 0.1 : 0.02) << "shift " << s;
      }
      if (s == 3 && Ln != 0) {
        Word32 Lm;
        Word16 n = hr_g_corr1(x.data(), &Lm);
        (void)n;
        Word32 E = lane_model(40, 0, [&](int i) { return lmult(x[i] >> 2, x[i] >> 2); });
        EXPECT_EQ(r, norm_l(E) - 4);
      }
    }
  }
}

TEST(GsmHrKernels, BasicOperatorCorners) {
  EXPECT_EQ(hr_div_s(5, 5), 32767);
  EXPECT_EQ(hr_div_s(0, 7), 0);
  for (int den = 1; den < 32768; den += 37)
    for (int num = 0; num <= den; num += 1 + den / 50) {
      int want = num == den ? 32767 : int((std::int64_t(num) << 15) / den);
      ASSERT_EQ(hr_div_s(Word16(num), Word16(den)), want) << num << "/" << den;
    }
  for (std::int64_t L = 0x40000000; L <= 0x7FFFFFFF; L += 0x1000000) {
    double want = std::sqrt(double(L) / 2147483648.0) * 32768;
    EXPECT_NEAR(hr_sqroot(Word32(L)), want, 24) << L;  // six-term series
  }
  EXPECT_EQ(hr_L_mpy_ls(0x7FFFFFFF, -32768), -0x7FFFFFFE);  // bit 0 cleared first
  EXPECT_EQ(hr_L_mpy_ls(LW_MIN, -32768), LW_MIN);           // the stated wrap
  EXPECT_EQ(hr_L_mpy_ll(LW_MIN, LW_MIN), LW_MIN);  // the stated wrap
  EXPECT_EQ(hr_norm_l(1), 30);
  EXPECT_EQ(hr_norm_s(-32768), 0);
}

TEST(GsmHrKernels, FiltersMatchPlainModelsAndClipOnOverload) {
  hrtest::Lcg g{7};
  // Stable filter at scale 2048 (from reflection coefficients).
  Word16 rc[10] = {-24000, 18000, -9000, 6000, -3000, 2000, -1000, 500, -250, 100}, a[10];
  ASSERT_EQ(hr_rcToADp(2048, rc, a), 0);
  for (int trial = 0; trial < 20; ++trial) {
    auto x = random_vec(g, 50, 2000);
    // Residual: y = x + sum a[k] x[n-1-k] (coefficient sum shifted by 4), rounded.
    Word16 y[40];
    hr_Residu(a, x.data() + 10, y);
    for (int n = 0; n < 40; ++n) {
      std::int64_t S = 0;
      for (int k = 0; k < 10; ++k) S += 2LL * a[k] * x[10 + n - 1 - k];
      std::int64_t v = clamp32(clamp32(S * 16) + 65536LL * x[10 + n]);
      EXPECT_EQ(y[n], Word16(clamp32(v + 32768) >> 16));
    }
    // Zero-state all-pole: the single-chain four-vector form agrees with the partial-sum form
    // while nothing saturates.
    Word16 inter[160], y4[160], y1[40];
    for (int n = 0; n < 40; ++n)
      for (int j = 0; j < 4; ++j) inter[4 * n + j] = x[n] >> 2;
    hr_lpcZsIir4(a, inter, y4);
    for (int j = 0; j < 4; ++j) {
      Word16 xj[40];
      for (int n = 0; n < 40; ++n) xj[n] = inter[4 * n + j];
      hr_lpcZsIir(a, xj, y1);
      for (int n = 0; n < 40; ++n) EXPECT_EQ(y4[40 * j + n], y1[n]);
    }
  }
  // Overload: a filter driven far beyond full scale must clip, not wrap to the other sign.
  Word16 hot[10] = {-4096, 2047, 0, 0, 0, 0, 0, 0, 0, 0};  // near-unstable resonance
  Word16 in[40], out[40], mem[10] = {};
  for (int i = 0; i < 40; ++i) in[i] = (i % 2) ? Word16(32767) : Word16(-32768);
  Word16 buf[50] = {};
  for (int i = 0; i < 10; ++i) buf[i] = (i % 2) ? Word16(32767) : Word16(-32768);
  hr_Synt(hot, in, buf + 10);
  for (int i = 0; i < 40; ++i) {
    // Plain-precision model of the same filter, then saturation of the output.
    std::int64_t S = 0;
    for (int k = 0; k < 10; ++k) S -= 2LL * hot[k] * buf[10 + i - 1 - k];
    std::int64_t v = clamp32(clamp32(S * 16) + 65536LL * in[i] + 32768) >> 16;
    EXPECT_EQ(buf[10 + i], Word16(v)) << i;
  }
  (void)out;
  (void)mem;
}

TEST(GsmHrKernels, InputBiquadsTrackDoublePrecision) {
  // Second-order section: y = c2 x(n) + c1 x(n-1) + c0 x(n-2) + c4 y(n-1) + c3 y(n-2), Q14.
  auto x = hrtest::noise(4, 8000, 99);
  auto t = hrtest::tone(4, 440, 9000);
  for (auto* sig : {&x, &t}) {
    Word16 st[6] = {};
    std::vector<double> ref(640);
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    const Word16* c = &hr_psrHPFCoefs1[0];
    double c0 = c[4] / 16384.0, c1 = c[5] / 16384.0, c2 = c[6] / 16384.0, c3 = c[0] / 16384.0, c4 = c[1] / 16384.0;
    for (int n = 0; n < 640; ++n) {
      double xn = std::floor((*sig)[n] / 2.0);
      double yn = c2 * xn + c1 * x1 + c0 * x2 + c4 * y1 + c3 * y2;
      ref[n] = yn;
      x2 = x1, x1 = xn, y2 = y1, y1 = yn;
    }
    std::vector<Word16> y(sig->begin(), sig->end());
    for (int f = 0; f < 4; ++f) hr_iir_d(hr_psrHPFCoefs1.data(), y.data() + 160 * f, st, 1, 0);
    double maxErr = 0;
    for (int n = 0; n < 640; ++n) maxErr = std::max(maxErr, std::fabs(y[n] - ref[n]));
    EXPECT_LE(maxErr, 3.0);
  }
}

TEST(GsmHrKernels, HarmonicWeightingAndVselpVectors) {
  hrtest::Lcg g{3};
  Word16 taps[6];
  hr_Calc_HNWCoefs(&hr_ppsrCGIntFilt[6 * 2], taps, 9000);
  for (int P : {21, 30, 39, 41, 42, 60}) {
    int off = -3 - P;
    auto v = random_vec(g, 200, 5000);
    // Zero-history filtering equals the history form with the history cleared.
    std::vector<Word16> h(v);
    std::fill(h.begin(), h.begin() + 160, 0);
    Word16 ref[40];
    hr_hnwFilt1(h.data() + 160, ref, taps, off);
    std::vector<Word16> z(v.begin() + 160, v.end());
    hr_hnwFilt0(z.data(), taps, off);
    for (int n = 0; n < 40; ++n) EXPECT_EQ(z[n], ref[n]) << P << " " << n;
    if (42 - P <= 0)
      for (int n = 0; n < 40; ++n) EXPECT_EQ(z[n], v[160 + n]);
  }
  // VSELP construction: all bits set gives the plain sum of the standard's basis vectors.
  Word16 bits[9], out[40];
  for (auto& b : bits) b = 16384;
  hr_v_con(hr_pppsrVcdCodeVec2.data(), out, bits, 9);
  for (int i = 0; i < 40; ++i) {
    int sum = 0;
    for (int k = 0; k < 9; ++k) sum += hr_pppsrVcdCodeVec2[(i >> 2) * 36 + 4 * k + (i & 3)];
    EXPECT_EQ(out[i], sum);
  }
  for (int code = 0; code < 128; code += 9) {
    hr_b_con(Word16(code), 7, bits);
    hr_v_con(hr_pppsrUvCodeVec2.data() + 280, out, bits, 7);
    for (int i = 0; i < 40; ++i) {
      int sum = 0;
      for (int k = 0; k < 7; ++k)
        sum += ((code >> k) & 1 ? 1 : -1) * hr_pppsrUvCodeVec2[280 + (i >> 2) * 28 + 4 * k + (i & 3)];
      EXPECT_EQ(out[i], sum);
    }
  }
}

TEST(GsmHrKernels, LatticeConversionsRoundTrip) {
  hrtest::Lcg g{17};
  Word16 zero[10] = {}, a[10];
  EXPECT_EQ(hr_rcToADp(2048, zero, a), 0);
  for (Word16 v : a) EXPECT_EQ(v, 0);
  // Moderate coefficients come back within 2 LSB.
  int worst = 0;
  for (int t = 0; t < 300; ++t) {
    Word16 rc[10], back[10];
    for (int i = 0; i < 10; ++i) rc[i] = static_cast<Word16>(g.range(-19000, 19000) / (1 + i / 3));
    Word32 L[11];
    hr_rcToCorrDpL(rc, L);
    hr_aFlatRcDp(L, back);
    for (int i = 0; i < 10; ++i) worst = std::max(worst, std::abs(back[i] - rc[i]));
  }
  EXPECT_LE(worst, 2);
  // The coefficients of real speech frames (first ones close to +-1) come back within 2 LSB in
  // all but a few frames.
  auto speech = hrtest::load_speech();
  int frames = 0, within = 0;
  for (std::size_t f = 0; f + 170 <= speech.size(); f += 160) {
    Word16 rc[10], back[10], r0, scale;
    Word32 acf[9], L[11];
    hr_flat(speech.data() + f, rc, &r0, acf, &scale);
    hr_rcToCorrDpL(rc, L);
    hr_aFlatRcDp(L, back);
    int w = 0;
    for (int i = 0; i < 10; ++i) w = std::max(w, std::abs(back[i] - rc[i]));
    ++frames;
    within += w <= 2;
  }
  std::printf("rc -> correlation -> rc on %d speech frames: %.1f%% within 2 LSB\n", frames,
              100.0 * within / frames);
  EXPECT_GE(within * 100, frames * 97);
  // A failing stage keeps the earlier coefficients and clears the rest.
  Word32 R[11] = {1 << 28, 1 << 27, 1 << 28, 0, 0, 0, 0, 0, 0, 0, 0};
  Word16 rc[10];
  hr_aFlatRcDp(R, rc);
  EXPECT_NE(rc[0], 0);
  for (int i = 2; i < 10; ++i) EXPECT_EQ(rc[i], 0);
}
