// Every constant table compiled into the codec still carries the checksum of the standard's
// table it was generated from, and the working layouts are faithful rearrangements of them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "g729_tables.h"

namespace {

template <typename T>
std::pair<long long, int> tableSumAndCount(const T& t) {
    long long sum = 0;
    int count = 0;
    for (const auto& v : t) {
        if constexpr (requires { v.size(); }) {
            auto inner = tableSumAndCount(v);
            sum += inner.first;
            count += inner.second;
        } else {
            sum += v;
            ++count;
        }
    }
    return {sum, count};
}

struct Check {
    const char* name;
    long long sum;
    int count;
    std::pair<long long, int> actual;
};

}  // namespace

TEST(G729Tables, EachTableMatchesItsChecksumLine) {
    const Check checks[] = {
#include "g729_table_checksums.inc"
    };
    for (const auto& c : checks) {
        EXPECT_EQ(c.actual.first, c.sum) << c.name;
        EXPECT_EQ(c.actual.second, c.count) << c.name;
    }
}

TEST(G729Tables, WorkingLayoutsRearrangeTheStandardTables) {
    using namespace g729;
    EXPECT_EQ(g729ab_lspcb1_reorder[0], 1486);
    EXPECT_EQ(g729ab_lspcb1_reorder[11], 3357);
    EXPECT_EQ(tableSumAndCount(g729ab_lspcb1_reorder).first, 14284229);
    EXPECT_EQ(g729ab_lspcb2a_reorder[3], 57);
    EXPECT_EQ(tableSumAndCount(g729ab_lspcb2a_reorder).first, 16725);
    EXPECT_EQ(g729ab_lspcb2b_reorder[1], 1450);
    EXPECT_EQ(tableSumAndCount(g729ab_lspcb2b_reorder).first, 8311);
    long long lagSum = 0;
    for (auto v : g729ab_lag) lagSum += v;
    EXPECT_EQ(lagSum, 24294675216LL);
    EXPECT_EQ(g729ab_lag[0], 2144886016);
    EXPECT_EQ(g729ab_lag[11], 1829987576);
    EXPECT_EQ(tableSumAndCount(g729ab_inter_3l_fast).first, 65505);
    EXPECT_EQ(g729ab_inter_3l_fast[0][1], 3143);
    EXPECT_EQ(g729ab_inter_3l_fast_rev[0][9], 29443);
    EXPECT_EQ(g729ab_grid[50], -32760);
    EXPECT_EQ(g729ab_grid[60], 0);
    EXPECT_EQ(g729ab_coef[1], 31548);
    EXPECT_EQ(g729ab_L_coef[0], 1690642);
    EXPECT_EQ(g729ab_L_coef[1], 55633);
    EXPECT_EQ(g729ab_marg[2], 15);
    EXPECT_EQ(g729ab_fg[1][3][9], 2601);
    EXPECT_EQ(g729ab_factor_fx[24], 32767);
    EXPECT_EQ(g729ab_shift_fx[31], 5);
}
