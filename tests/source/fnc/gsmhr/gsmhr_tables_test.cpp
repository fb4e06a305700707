// Every constant table compiled into the half-rate codec that has no simpler meaning still
// carries the checksum of the standard's table file; every working layout derived from them its
// check values and the rules it was built by; the decoder's tables are checked by what they mean.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <tuple>

#include "hr_std_tables.h"
#include "hr_tables.h"

using namespace hr;

namespace {
template <class T>
long long sum_of(const T& t) {
  long long s = 0;
  for (auto v : t) s += v;
  return s;
}
long long usum(const auto& t) {
  long long s = 0;
  for (auto v : t) s += static_cast<std::uint16_t>(v);
  return s;
}
}  // namespace

#define CHECK_TABLE(name, sum, count)                     \
  EXPECT_EQ(sum_of(std_tab::name), sum) << #name;         \
  EXPECT_EQ(static_cast<long long>(std_tab::name.size()), count) << #name;

TEST(GsmHrTables, EachStandardTableMatchesItsChecksumLine) {
#include "hr_table_checksums.inc"
}

// The LPC codebooks are stored one reflection coefficient per word: each is the scalar
// quantiser's level named by one byte of the standard's packed table (high byte of each word
// first). The scalar quantiser itself is a rising, odd-symmetric set of levels inside (-1, 1).
TEST(GsmHrTables, UnpackedCodebooksAreTheQuantiserLevelsOfThePackedBytes) {
  auto check = [](const auto& unpacked, const auto& packed, const char* name) {
    ASSERT_EQ(unpacked.size(), 2 * packed.size()) << name;
    for (std::size_t m = 0; m < unpacked.size(); ++m) {
      const auto word = static_cast<std::uint16_t>(packed[m / 2]);
      const unsigned byte = m % 2 == 0 ? word >> 8 : word & 0xFF;
      ASSERT_EQ(unpacked[m], hr_psrSQuant[byte]) << name << " coefficient " << m;
    }
  };
  check(hr_psrQuant1_v2, std_tab::psrQuant1, "first codebook");
  check(hr_psrQuant2_v2, std_tab::psrQuant2, "second codebook");
  check(hr_psrQuant3_v2, std_tab::psrQuant3, "third codebook");
  check(hr_psrPreQ1_exp, std_tab::psrPreQ1, "first pre-quantiser");
  check(hr_psrPreQ2_exp, std_tab::psrPreQ2, "second pre-quantiser");
  check(hr_psrPreQ3_exp, std_tab::psrPreQ3, "third pre-quantiser");
  EXPECT_EQ(hr_psrQuant1_v2.size(), 2048u * 3);
  EXPECT_EQ(hr_psrQuant2_v2.size(), 512u * 3);
  EXPECT_EQ(hr_psrQuant3_v2.size(), 256u * 4);
  for (std::size_t i = 0; i < hr_psrSQuant.size(); ++i) {
    EXPECT_NE(hr_psrSQuant[i], -32768) << i;
    if (i > 0) EXPECT_GT(hr_psrSQuant[i], hr_psrSQuant[i - 1]) << i;
    EXPECT_NEAR(hr_psrSQuant[i], -hr_psrSQuant[hr_psrSQuant.size() - 1 - i], 1) << i;
  }
}

TEST(GsmHrTables, RelaidFiltersAndBasisVectors) {
  // Filters: one row per phase, the standard's [tap][phase] transposed.
  for (int p = 0; p < 6; ++p) {
    for (int k = 0; k < 10; ++k) EXPECT_EQ(hr_ppsrPVecIntFilt[10 * p + k], std_tab::ppsrPVecIntFilt[6 * k + p]);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(hr_ppsrCGIntFilt[6 * p + k], std_tab::ppsrCGIntFilt[6 * k + p]);
  }
  // The decoder's basis vectors, interleaved by groups of four samples: for samples 4j..4j+3 the
  // runs of four of each vector in turn.
  for (int c = 0; c < 2; ++c)
    for (int k = 0; k < 7; ++k)
      for (int i = 0; i < 40; ++i)
        EXPECT_EQ(hr_pppsrUvCodeVec2[280 * c + (i >> 2) * 28 + 4 * k + (i & 3)], std_tab::pppsrUvCodeVec[280 * c + 40 * k + i]);
  EXPECT_EQ(sum_of(hr_pppsrVcdCodeVec2), 298);
  EXPECT_EQ(sum_of(hr_psrUvCodeVec_Int4), 133);
  EXPECT_EQ(hr_psrUvCodeVec_Int4.size(), 640u);
  const int int4a[] = {12, 4, -5, -28, 11, -31, -17, 28};
  const int int4b[] = {-60, -25, -53, -9, 5, -29, -22, 5};
  const int int4v[] = {24, -10, -25, -50, 13, -53, -1, 38};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(hr_psrUvCodeVec_Int4[i], int4a[i]);
    EXPECT_EQ(hr_psrUvCodeVec_Int4[320 + i], int4b[i]);
    EXPECT_EQ(hr_psrVcdCodeVec_Int4[i], int4v[i]);
  }
  // Slot 7 of each unvoiced set has no vector: zeros.
  for (int c = 0; c < 2; ++c)
    for (int s = 0; s < 40; ++s) EXPECT_EQ(hr_psrUvCodeVec_Int4[320 * c + 160 + 4 * s + 3], 0);
  EXPECT_EQ(sum_of(hr_psrVcdCodeVec_Int4), 183);
  EXPECT_EQ(sum_of(hr_psrVcdCodeVec9), 115);
  EXPECT_EQ(hr_psrVcdCodeVec9[0], -24);
  // Both interleavings hold every standard sample exactly once.
  for (int k = 0; k < 9; ++k)
    for (int i = 0; i < 40; ++i) EXPECT_EQ(hr_pppsrVcdCodeVec2[(i >> 2) * 36 + 4 * k + (i & 3)], std_tab::pppsrVcdCodeVec[40 * k + i]);
}

TEST(GsmHrTables, HalfStepGrayTablesFollowTheirRule) {
  // Step i of the standard walk flips bit b = trailing zeros of i + 1; the half-step tables keep
  // the odd steps, and their last entry (a step past the last codeword) is 0.
  for (auto [upd, bit, e, n] : {std::tuple{hr_pswUpdateIndexV.data(), hr_pswBitIndexV.data(), 8, 128},
                                std::tuple{hr_pswUpdateIndexUn.data(), hr_pswBitIndexUn.data(), 6, 32}}) {
    for (int m = 0; m < n - 1; ++m) {
      int i = 2 * m + 1;
      int b = __builtin_ctz(i + 1);
      int g1 = (i + 1) ^ ((i + 1) >> 1);
      int want = (e + 1) * b + (((g1 >> b) & 1) == 0 ? (e + 1) * e : 0);
      EXPECT_EQ(upd[m], want) << m;
      EXPECT_EQ(bit[m], (b + 1) % e) << m;
    }
    EXPECT_EQ(upd[n - 1], 0);
    EXPECT_EQ(bit[n - 1], 0);
    // The walk visits 2^e - 1 positions after the start; its odd positions read entries up to
    // (2^e - 3) / 2, so the padding entry is never reached.
    int positions = (1 << e) - 1;
    EXPECT_LT((positions - 2) >> 1, n - 1);
  }
  EXPECT_EQ(sum_of(hr_pswUpdateIndexV) , 6759);
  EXPECT_EQ(sum_of(hr_pswBitIndexV), 366);
  EXPECT_EQ(sum_of(hr_pswUpdateIndexUn), 1029);
  EXPECT_EQ(sum_of(hr_pswBitIndexUn), 82);
}

TEST(GsmHrTables, RuleTablesAndRulings) {
  EXPECT_EQ(sum_of(hr_r0Shifts), 61);
  EXPECT_EQ(usum(hr_quantLagIndx), 15988665);
  EXPECT_EQ(sum_of(hr_quantLagIndx), -1902663);
  EXPECT_EQ(usum(hr_CG_IntRem), 4010604);
  EXPECT_EQ(sum_of(hr_CG_IntRem), 3093100);
  EXPECT_EQ(static_cast<std::uint16_t>(hr_CG_IntRem[0]), 5120);
  EXPECT_EQ(static_cast<std::uint16_t>(hr_CG_IntRem[255]), 36096);
  for (int c = 0; c < 256; ++c) {
    auto w = static_cast<std::uint16_t>(hr_Lag_ip_jj[c]);
    EXPECT_EQ((w >> 8) * 6 + (w & 0xFF), hr_psrLagTbl[c]) << c;
    EXPECT_LT(w & 0xFF, 6);
  }
  // The lag lookup: largest code whose lag does not exceed the raw lag (0 below 126).
  for (int L = 120; L <= 859; ++L) {
    int want = 0;
    for (int c = 0; c < 256; ++c)
      if (hr_psrLagTbl[c] <= L) want = c;
    auto w = static_cast<std::uint16_t>(hr_quantLagIndx[(L - 120) / 2]);
    EXPECT_EQ((L & 1) ? (w >> 8) : (w & 0xFF), want) << L;
  }
  // The covariance window with bit 0 cleared; entry 0 as stated.
  EXPECT_EQ(hr_pL_rFlatSstCoefs[0], 2145262550);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(hr_pL_rFlatSstCoefs[i], std_tab::pL_rFlatSstCoefs[i] & ~1);
  const int hpf1[] = {-14071, 30347, -14071, 30347, 10979, -21954, 10979, 30347, -14071, 30347, -14071, -21954, 10979, 10979};
  const int hpf2[] = {-15385, 31632, -15385, 31632, 10979, -21936, 10979, 31632, -15385, 31632, -15385, -21936, 10979, 10979};
  for (int i = 0; i < 14; ++i) {
    EXPECT_EQ(hr_psrHPFCoefs1[i], hpf1[i]);
    EXPECT_EQ(hr_psrHPFCoefs2[i], hpf2[i]);
  }
  for (int n = 0; n < 11; ++n) EXPECT_EQ(hr_psrCNNewFactor[n], 2730 * (n + 1));
  EXPECT_EQ(hr_psrCNNewFactor[11], 32767);
}

// What the decoder's tables are for, checked from their meaning rather than their sums: R0 codes
// 2 dB apart, lags in sixths of a sample with a resolution that coarsens with the lag, rows of the
// lag interpolator that delay a sine by their sixth, the postfilter's widening 0.75^k and its
// Gaussian lag window, interpolation weights that add to one, and concealment attenuations 1 dB
// apart.
TEST(GsmHrTables, DecoderTablesMeanWhatTheyAreFor) {
  // R0: entry 2i decodes code i; successive codes differ by 2 dB, the odd entries lie halfway.
  for (int i = 0; i + 1 < 32; ++i) {
    const double lo = hr_psrR0DecTbl[2 * i], hi = hr_psrR0DecTbl[2 * i + 2], mid = hr_psrR0DecTbl[2 * i + 1];
    const double tol = 20 * std::log10(1 + 1.0 / lo);  // one unit of rounding at the low end
    EXPECT_NEAR(20 * std::log10(hi / lo), 2.0, 2 * tol + 0.02) << i;
    EXPECT_NEAR(20 * std::log10(mid / lo), 1.0, 2 * tol + 0.02) << i;
  }
  EXPECT_EQ(hr_psrR0DecTbl[62], 8173);  // code 31: a quarter of full scale, less 2 dB

  // Lags in sixths, 21 to 142 samples, strictly rising; the step is a third of a sample up to 23,
  // a sixth up to 35, then a third, a half and a whole sample.
  EXPECT_EQ(hr_psrLagTbl.front(), 21 * 6);
  EXPECT_EQ(hr_psrLagTbl.back(), 142 * 6);
  for (int c = 1; c < 256; ++c) {
    const int lag = hr_psrLagTbl[c - 1], step = hr_psrLagTbl[c] - lag;
    const int want = lag < 138 ? 2 : lag < 210 ? 1 : lag < 300 ? 2 : lag < 540 ? 3 : 6;
    EXPECT_EQ(step, want) << "code " << c;
  }

  // Row jj of the lag interpolator, applied at taps y[n - ip - 5 + k], delays by ip + jj/6: on
  // sines across the band the output matches the delayed sine and the gain is one.
  for (int jj = 0; jj < 6; ++jj) {
    double dc = 0;
    for (int k = 0; k < 10; ++k) dc += hr_ppsrPVecIntFilt[10 * jj + k] / 32768.0;
    EXPECT_NEAR(dc, 1.0, 0.01) << jj;
    for (double hz : {200.0, 700.0, 1500.0}) {
      const double w = 2 * M_PI * hz / 8000;
      double worst = 0;
      for (int n = 0; n < 20; ++n) {
        double y = 0;
        for (int k = 0; k < 10; ++k) y += hr_ppsrPVecIntFilt[10 * jj + k] / 32768.0 * std::sin(w * (n - 5 + k));
        worst = std::max(worst, std::fabs(y - std::sin(w * (n - jj / 6.0))));
      }
      EXPECT_LT(worst, hz < 1000 ? 0.01 : 0.03) << "row " << jj << " at " << hz << " Hz";
    }
  }

  // The postfilter denominator's widening: 0.75 to the powers 1 to 10.
  for (int k = 0; k < 10; ++k) EXPECT_NEAR(hr_psrSPFDenomWidenCf[k], 32768 * std::pow(0.75, k + 1), 0.51) << k;
  // Its lag window is a Gaussian exp(-a k^2) from 32767 at lag 0.
  const double a = -std::log(hr_psrSST[10] / 32767.0) / 100;
  for (int k = 0; k <= 10; ++k) EXPECT_NEAR(hr_psrSST[k], 32767 * std::exp(-a * k * k), 3.0) << k;
  EXPECT_NEAR(std::sqrt(2 * a) * 8000 / (2 * M_PI), 127.5, 0.5);  // its bandwidth in Hz

  // Subframe interpolation weights: old and new add to one; the new frame's share rises to all.
  for (int k = 0; k < 3; ++k) EXPECT_EQ(hr_psrOldCont[k] + hr_psrNewCont[k], 32768) << k;
  EXPECT_EQ(hr_psrOldCont[3], 0);
  EXPECT_EQ(hr_psrNewCont[3], 32767);
  for (int k = 1; k < 4; ++k) EXPECT_GT(hr_psrNewCont[k], hr_psrNewCont[k - 1]);

  // Concealment attenuation for an excess of e level steps: 1 dB at 1, then e - 0.5 dB.
  for (int e = 1; e <= 15; ++e) {
    const double db = e == 1 ? 1.0 : e - 0.5;
    EXPECT_NEAR(hr_psrConceal[e - 1], 32768 * std::pow(10, -db / 20), 2.0) << e;
  }
}
