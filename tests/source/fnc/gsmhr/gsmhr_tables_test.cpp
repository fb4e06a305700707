// Every constant table compiled into the half-rate codec still carries the checksum of the
// standard's table file, and every working layout derived from them its check values and the
// rules it was built by.
#include <gtest/gtest.h>

#include <numeric>

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

TEST(GsmHrTables, UnpackedCodebooksMatchTheirCheckValues) {
  EXPECT_EQ(sum_of(hr_psrQuant1_v2), -11901991);
  EXPECT_EQ(hr_psrQuant1_v2.size(), 6144u);
  EXPECT_EQ(hr_psrQuant1_v2[0], 31368);
  EXPECT_EQ(hr_psrQuant1_v2[1], 14140);
  EXPECT_EQ(hr_psrQuant1_v2[2], -11936);
  EXPECT_EQ(hr_psrQuant1_v2[6141], -32416);
  EXPECT_EQ(hr_psrQuant1_v2[6143], -13778);
  EXPECT_EQ(sum_of(hr_psrQuant2_v2), 10258010);
  EXPECT_EQ(hr_psrQuant2_v2[0], 24342);
  EXPECT_EQ(hr_psrQuant2_v2[1535], 7347);
  EXPECT_EQ(sum_of(hr_psrQuant3_v2), 1935510);
  EXPECT_EQ(hr_psrQuant3_v2[3], 10430);
  EXPECT_EQ(hr_psrQuant3_v2[1020], -17639);
  EXPECT_EQ(sum_of(hr_psrPreQ1_exp), -458443);
  EXPECT_EQ(hr_psrPreQ1_exp[0], 25884);
  EXPECT_EQ(hr_psrPreQ1_exp[2], 1802);
  EXPECT_EQ(sum_of(hr_psrPreQ2_exp), 643417);
  EXPECT_EQ(hr_psrPreQ2_exp[95], 12308);
  EXPECT_EQ(sum_of(hr_psrPreQ3_exp), 113893);
  EXPECT_EQ(hr_psrPreQ3_exp[0], 6956);
  // Every unpacked coefficient is a level of the scalar quantiser.
  for (auto v : hr_psrQuant3_v2)
    EXPECT_NE(std::find(hr_psrSQuant.begin(), hr_psrSQuant.end(), v), hr_psrSQuant.end());
}

TEST(GsmHrTables, RelaidFiltersAndBasisVectors) {
  // Filters: one row per phase, the standard's [tap][phase] transposed.
  for (int p = 0; p < 6; ++p) {
    for (int k = 0; k < 10; ++k) EXPECT_EQ(hr_ppsrPVecIntFilt[10 * p + k], std_tab::ppsrPVecIntFilt[6 * k + p]);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(hr_ppsrCGIntFilt[6 * p + k], std_tab::ppsrCGIntFilt[6 * k + p]);
  }
  EXPECT_EQ(sum_of(hr_pppsrUvCodeVec2), 133);
  const int uvStart1[] = {12, 11, -49, -53, 4, -31, 50, -3};
  const int uvStart2[] = {-60, 5, 8, 52, -25, -29, 13, -18};
  const int vcStart[] = {24, 13, -55, -51, -10, -53, 46, 10};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(hr_pppsrUvCodeVec2[i], uvStart1[i]);
    EXPECT_EQ(hr_pppsrUvCodeVec2[280 + i], uvStart2[i]);
    EXPECT_EQ(hr_pppsrVcdCodeVec2[i], vcStart[i]);
  }
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
