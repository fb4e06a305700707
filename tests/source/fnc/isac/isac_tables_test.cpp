// Every generated table against the count and sums recorded from the
// published table files (a changed, dropped or swapped value shows).
#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>

#include "isac_tables.h"

namespace {

struct Sums {
    long long count, sum, weighted;
};

template <typename T, std::size_t N>
Sums sums_of(const T (&t)[N]) {
    Sums s{static_cast<long long>(N), 0, 0};
    for (std::size_t i = 0; i < N; ++i) {
        s.sum += static_cast<long long>(t[i]);
        s.weighted += static_cast<long long>(i + 1) * static_cast<long long>(t[i]);
    }
    return s;
}

#define ISAC_TABLE(name, n_, sum_, wsum_)                    \
    TEST(IsacTables, name) {                                 \
        const Sums s = sums_of(isac::name);                  \
        EXPECT_EQ(s.count, n_);                              \
        EXPECT_EQ(s.sum, sum_);                              \
        EXPECT_EQ(s.weighted, wsum_);                        \
    }
#include "isac_table_sums.inc"
#undef ISAC_TABLE

// Values the codec states in words, independent of the generator.
TEST(IsacTables, StatedValues) {
    EXPECT_EQ(isac::WebRtcIsacfix_kHpStCoeffInQ30[0], -2092679363);
    EXPECT_EQ(isac::WebRtcIsacfix_kHPStCoeffOut1Q30[3], -585560204);
    EXPECT_EQ(isac::WebRtcIsacfix_kHPStCoeffOut2Q30[2], 221721505);
    EXPECT_EQ(isac::WebRtcIsacfix_kSinTab2[0], 16384);
    EXPECT_EQ(isac::WebRtcIsacfix_kSinTab2[1], -16381);
    EXPECT_EQ(isac::WebRtcIsacfix_kSinTab2[119], -107);
    EXPECT_EQ(isac::index_7[0], 4);
    EXPECT_EQ(isac::index_7[1], 256);
    EXPECT_EQ(isac::kHanningTable[0], 1);
    EXPECT_EQ(isac::kHanningTable[255], 16384);
    EXPECT_EQ(isac::kBwCdf[4], 10923);
    EXPECT_EQ(isac::kBwCdf[12], 32768);
    EXPECT_EQ(isac::kBwCdf[20], 54613);
    EXPECT_EQ(isac::WebRtcIsacfix_kCodeLenShapeQ11[577], 0);
    EXPECT_EQ(isac::WebRtcIsacfix_kMeanLag4Lo[8], 0);
    for (int i = 0; i < 120; ++i) EXPECT_EQ(isac::kCosTabFfftQ14_2[i], isac::kCosTabFfftQ14[2 * i]);
    for (int i = 0; i < 80; ++i) EXPECT_EQ(isac::kCosTabFfftQ14_3[i], isac::kCosTabFfftQ14[3 * i]);
    EXPECT_EQ(isac::WebRtcIsac_kMeanLarUb16[0], 10838);
    EXPECT_EQ(isac::WebRtcIsac_kMeanLarUb16[3], 3425);
    EXPECT_EQ(isac::WebRtcIsac_kMeanLarUb12_Q17[2], -1458);
    EXPECT_EQ(isac::WebRtcIsac_kLpcShapeLeftRecPointUb12_Q17[7], -452198);
    EXPECT_EQ(isac::WebRtcIsac_kInterVecDecorrMatUb12_Q31[1], -1519789366);
    EXPECT_EQ(isac::WebRtcIsacfix_recipTab[0], 0);
    EXPECT_EQ(isac::WebRtcIsacfix_recipTab[1], static_cast<int16_t>(36864 & 0xFFFF));
    EXPECT_EQ(isac::WebRtcIsacfix_recipTab[2], 18432);
    EXPECT_EQ(isac::WebRtcIsacfix_recipTab[255], 144);
    EXPECT_EQ(isac::WebRtcIsacfix_recipTab[2047], 18);
}

}  // namespace
