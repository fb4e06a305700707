// Kernels of the full-rate codec at the edges where saturation, ties and out-of-range inputs
// decide the result.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "fr_codec.h"
#include "fr_kernels.h"

namespace {

TEST(GsmfrKernels, DivisionAndReflectionToLarBoundaries) {
  EXPECT_EQ(32767, fr_div_s(32767, 32767));
  EXPECT_EQ(16384, fr_div_s(1, 2));
  EXPECT_EQ(10922, fr_div_s(1, 3));
  EXPECT_EQ(0, fr_div_s(0, 0));
  EXPECT_EQ(32767, fr_div_s(5, 0));
  EXPECT_EQ(32766, fr_div_s(32766, 32767));

  Word16 lar[8] = {-32768, 11059, 20070, 20071, -11060, 0, 32767, -1};
  fr_LARp_to_rp(lar);
  EXPECT_EQ((std::vector<Word16>{-32767, 22118, 31129, 31129, -22119, 0, 32767, -2}),
            std::vector<Word16>(lar, lar + 8));
}

TEST(GsmfrKernels, LarQuantiserLimits) {
  Word16 high[8], low[8], zero[8] = {};
  std::fill(high, high + 8, Word16(32767));
  std::fill(low, low + 8, Word16(-32768));
  fr_Quantization_and_coding(high, high);
  fr_Quantization_and_coding(low, low);
  fr_Quantization_and_coding(zero, zero);
  EXPECT_EQ((std::vector<Word16>{63, 63, 31, 31, 15, 15, 7, 7}), std::vector<Word16>(high, high + 8));
  EXPECT_EQ(std::vector<Word16>(8, 0), std::vector<Word16>(low, low + 8));
  EXPECT_EQ((std::vector<Word16>{32, 32, 20, 11, 8, 5, 3, 2}), std::vector<Word16>(zero, zero + 8));
}

TEST(GsmfrKernels, SchurStopsWhenTheFilterWouldBeUnstable) {
  Word16 r[8] = {};
  Word16 P[9] = {100, 200, 0, 0, 0, 0, 0, 0, 0};
  Word16 K[9];
  std::copy(P, P + 9, K);
  EXPECT_EQ(1, fr_Reflection_coefficients_Loop(r, P, K));
  EXPECT_TRUE(std::all_of(r, r + 8, [](Word16 v) { return v == 0; }));

  Word16 P2[9] = {32767, -32768, 0, 0, 0, 0, 0, 0, 0};
  Word16 K2[9];
  std::copy(P2, P2 + 9, K2);
  fr_Reflection_coefficients_Loop(r, P2, K2);
  EXPECT_EQ(32767, r[0]);

  Word32 zero_acf[9] = {};
  std::fill(r, r + 8, Word16(5));
  fr_Reflection_coefficients(zero_acf, r);
  EXPECT_TRUE(std::all_of(r, r + 8, [](Word16 v) { return v == 0; }));
}

TEST(GsmfrKernels, LagSearchTiesAndNegativeCorrelations) {
  std::array<Word16, 160> buf{};
  Word16* dp = buf.data() + 120;
  Word16 d[40] = {};
  d[0] = 1000;
  buf[120 - 50] = 300;  // lags 50 and 70 correlate equally
  buf[120 - 70] = 300;
  Word16 Nc = 0;
  EXPECT_GT(fr_CalcLTP_CrossCorrelate(d, dp, 0, &Nc), 0);
  EXPECT_EQ(50, Nc);

  buf.fill(-200);
  EXPECT_EQ(0, fr_CalcLTP_CrossCorrelate(d, dp, 0, &Nc));
  EXPECT_EQ(40, Nc);
}

TEST(GsmfrKernels, SynthesisKeepsLastValidLag) {
  std::array<Word16, 160> drp{};
  for (int i = 0; i < 120; ++i) drp[i] = static_cast<Word16>(i * 10);
  Word16 erp[40] = {};
  Word16 nrp = 40;
  for (Word16 bad : {Word16(39), Word16(121), Word16(-5)}) {
    fr_Gsm_Long_Term_Synthesis_Filtering(&nrp, bad, 3, erp, drp.data() + 120);
    EXPECT_EQ(40, nrp);
    EXPECT_EQ(drp[80], drp[120]);  // gain 32767 copies the sample 40 back, rounded
  }
  fr_Gsm_Long_Term_Synthesis_Filtering(&nrp, 120, 3, erp, drp.data() + 120);
  EXPECT_EQ(120, nrp);
  EXPECT_EQ(drp[0], drp[120]);
}

TEST(GsmfrKernels, RpeGridTieAndWeightingSaturation) {
  Word16 x[40] = {};
  for (int i = 0; i < 13; ++i) x[3 * i] = x[2 + 3 * i] = 400;  // grids 0 and 2 equal
  Word16 y[64] = {};
  Word32 EM[4];
  fr_RPE_grid_selection_reorder(y, x);
  fr_RPE_grid_selection_CalcMax(y, EM);
  EXPECT_EQ(EM[0], EM[2]);
  EXPECT_GT(EM[0], EM[1]);

  Word16 e[50] = {};
  std::fill(e + 5, e + 45, Word16(32767));
  Word16 w[40];
  fr_Weighting_filter(e, w);
  for (int k = 5; k < 35; ++k) EXPECT_EQ(32767, w[k]) << k;

  Word16 xMc[13], xMp[16];
  std::fill(xMc, xMc + 13, Word16(7));
  fr_APCM_inverse_quantization(xMc, 7, 6, xMp);
  EXPECT_EQ(fr_mult_r(32767, 7 << 12), xMp[0]);  // exponent 6: no shift, no rounding term
}

TEST(GsmfrKernels, ComfortNoiseGeneratorFromResetSeed) {
  Word32 seed = 1887529304;
  Word16 Mc[4], xMc[52];
  fr_GenCN(Mc, xMc, &seed);
  EXPECT_EQ((std::vector<Word16>{0, 1, 2, 3}), std::vector<Word16>(Mc, Mc + 4));
  EXPECT_EQ((std::vector<Word16>{3, 2, 4, 5, 5, 1, 1, 4, 2, 6, 5, 3, 2}), std::vector<Word16>(xMc, xMc + 13));
  for (int n = 0; n < 200; ++n) {
    fr_GenCN(Mc, xMc, &seed);
    EXPECT_GE(seed, 0);
    EXPECT_TRUE(std::all_of(xMc, xMc + 52, [](Word16 v) { return v >= 1 && v <= 6; }));
  }
  // The generic generator draws the same bit stream.
  Word32 a = 1887529304;
  EXPECT_EQ(0, fr_pseudonoise(&a, 2));  // grid 0
  EXPECT_EQ(3, fr_pseudonoise(&a, 3));  // the only draw that codes as pulse 3

  const Word16 old_v[8] = {100, -100, 0, 30000, -30000, 7, 8, 9};
  const Word16 new_v[8] = {300, 100, 1, -30000, 30000, 7, 9, 10};
  Word16 out[8];
  fr_interpolate_CN_vec8(old_v, new_v, out, 11);
  EXPECT_EQ((std::vector<Word16>{200, 0, 1, 0, 0, 7, 9, 10}), std::vector<Word16>(out, out + 8));
  fr_interpolate_CN_vec8(old_v, new_v, out, 23);  // weight 1 for the old value
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(new_v[i], out[i], 2) << i;
  EXPECT_EQ(-29998, out[3]);
}

TEST(GsmfrKernels, VectorUtilities) {
  std::vector<Word16> v(40, 3);
  v[17] = -32768;
  EXPECT_EQ(32767, fr_Vec_max_abs_gt(v.data(), 40));
  std::fill(v.begin(), v.end(), Word16(0));
  EXPECT_EQ(0, fr_Vec_max_abs_gt(v.data(), 40));

  std::vector<Word16> big(160, 2048);
  fr_Vec_shl160(big.data(), big.data(), 4);
  EXPECT_EQ(-32768, big[0]);

  std::vector<Word16> buf(160);
  for (int i = 0; i < 160; ++i) buf[i] = static_cast<Word16>(i);
  fr_Copy120(buf.data() + 40, buf.data());
  for (int i = 0; i < 120; ++i) ASSERT_EQ(i + 40, buf[i]);

  // The eight products are added pairwise (j, j + 4), then (0 + 2) + (1 + 3): saturation
  // inside a pair gives another result than a running sum.
  const Word16 a[8] = {-32768, 0, -32768, 0, -32768, 0, -32768, 0};
  const Word16 b[8] = {-32768, 0, 16384, 0, -32768, 0, 16384, 0};
  EXPECT_EQ(-1 + 5, fr_Vec_L_mac8(a, b, 5));

  // Full-scale samples saturate every partial sum of the autocorrelation.
  std::vector<Word16> loud(172, 32767);
  Word32 acf[9];
  fr_Autocorrelation_ACF(loud.data(), acf);
  EXPECT_EQ(0x7FFFFFFF, acf[0]);
  EXPECT_EQ(0, loud[171]);

  Word16 aav1[9] = {}, rav1[9];
  EXPECT_EQ(0, fr_compute_rav1(aav1, rav1));
  EXPECT_TRUE(std::all_of(rav1, rav1 + 9, [](Word16 r) { return r == 0; }));
}

TEST(GsmfrKernels, FiltersAndPostprocessing) {
  GSMFR_ENCSTRUCT enc;
  gsmfr_reset_enc(&enc, 0);
  std::array<Word16, 160> zeros{}, so{};
  fr_Gsm_Preprocess(&enc, zeros.data(), so.data());
  EXPECT_EQ(zeros, so);
  EXPECT_EQ(1, enc.L_z2);

  // Synthesis in place equals synthesis into a separate buffer.
  const Word16 rrp[8] = {20000, -15000, 8000, -4000, 2000, -1000, 500, -250};
  std::array<Word16, 120> in{}, out{}, inplace{};
  for (int i = 0; i < 120; ++i) in[i] = static_cast<Word16>((i * 7919) % 20001 - 10000);
  Word16 v1[9] = {}, v2[9] = {};
  inplace = in;
  fr_Short_term_synthesis_filtering(v1, rrp, 120, in.data(), out.data());
  fr_Short_term_synthesis_filtering(v2, rrp, 120, inplace.data(), inplace.data());
  EXPECT_EQ(out, inplace);

  Word16 msr = 0;
  std::array<Word16, 160> s{};
  s.fill(20000);
  fr_Postprocessing(&msr, s.data());
  EXPECT_EQ(32760, s[159]);
  for (Word16 x : s) EXPECT_EQ(0, x & 7);
  s.fill(-20000);
  msr = 0;
  fr_Postprocessing(&msr, s.data());
  EXPECT_EQ(-32768, s[159]);
}

}  // namespace
