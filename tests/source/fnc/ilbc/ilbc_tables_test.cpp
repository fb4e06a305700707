// Every constant table compiled into the codec keeps the sum, count and position-weighted sum
// it was generated with, so a changed value, a lost entry or a swapped order is caught.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "ilbc_tables.h"

namespace {

struct Sums {
  long long sum = 0, weighted = 0;
  int count = 0;
};

template <typename T>
Sums sums(const T& t) {
  Sums s;
  for (const auto v : t) {
    ++s.count;
    s.sum += v;
    s.weighted += static_cast<long long>(s.count) * v;
  }
  return s;
}

struct Check {
  std::string name;
  long long sum;
  int count;
  long long weighted;
  Sums actual;
};

TEST(IlbcTables, ChecksumsMatchTheGeneratedValues) {
  const Check checks[] = {
#include "ilbc_table_checksums.inc"
  };
  for (const auto& c : checks) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.actual.count, c.count);
    EXPECT_EQ(c.actual.sum, c.sum);
    EXPECT_EQ(c.actual.weighted, c.weighted);
  }
}

TEST(IlbcTables, RulingsAndFormulasHold) {
  using namespace ilbc;
  EXPECT_EQ(ilbc_lpc_asymwinTbl_q15[178], 29986);
  for (int i = 0; i < 10; ++i) EXPECT_EQ((ilbc_lsfmeanTbl_q29[i] + 32768) >> 16, ilbc_lsfmeanTbl_q13[i]) << i;
  EXPECT_EQ(ilbc_LSF_grid[0], 2147483647);
  EXPECT_EQ(ilbc_LSF_grid[1], 2147456940);
  EXPECT_EQ(ilbc_LSF_grid[315], -421658);
  EXPECT_EQ(ilbc_LSF_grid[629], -2147460982);
  for (int k = 0; k < 64; ++k) {
    const double c = std::cos(M_PI * k / 64);
    EXPECT_EQ(ilbc_table2[k], std::min(32767L, std::lround(32768 * c))) << k;
  }
  for (int i = 0; i < 49; ++i) {
    EXPECT_EQ(ilbc_table_isqrt[i], std::min(32767L, std::lround(16384 * std::sqrt(64.0 / (16 + i))))) << i;
    EXPECT_EQ(ilbc_sqrt_table[i], std::min(32767L, std::lround(32768 * std::sqrt((16 + i) / 64.0)))) << i;
  }
  for (int i = 0; i < 8; ++i) EXPECT_EQ(ilbc_cbfiltersTbl_rev_q15[i], ilbc_cbfiltersTbl_q15[7 - i]);
}

}  // namespace
