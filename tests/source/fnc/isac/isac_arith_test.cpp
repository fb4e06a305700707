// Divisions, window and sum-of-squares scaling.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>

#include "isac_arith.h"

using namespace isac;

TEST(IsacArith, IntegerDivisionAtTheLimits) {
    EXPECT_EQ(WebRtcSpl_DivW32W16(-7, 2), -3);
    EXPECT_EQ(WebRtcSpl_DivW32W16(7, 0), INT32_MAX);
    // Would trap as a machine division; the defined answer wraps.
    EXPECT_EQ(WebRtcSpl_DivW32W16(INT32_MIN, -1), INT32_MIN);
    EXPECT_EQ(WebRtcSpl_DivW32W16(INT32_MIN, 1), INT32_MIN);
    EXPECT_EQ(WebRtcSpl_DivW32W16ResW16(70000, 1), 4464);
    EXPECT_EQ(WebRtcSpl_DivW32W16ResW16(5, 0), 32767);
    EXPECT_EQ(WebRtcSpl_DivW32W16ResW16(INT32_MIN, -1), 0);
}

TEST(IsacArith, FractionInQ31) {
    EXPECT_EQ(WebRtcSpl_DivResultInQ31(1, 2), 1073741824);
    EXPECT_EQ(WebRtcSpl_DivResultInQ31(-1, 2), -1073741824);
    EXPECT_EQ(WebRtcSpl_DivResultInQ31(5, 5), INT32_MAX);
    EXPECT_EQ(WebRtcSpl_DivResultInQ31(-5, 5), -INT32_MAX);
    EXPECT_EQ(WebRtcSpl_DivResultInQ31(3, 0), INT32_MAX);
    EXPECT_EQ(WebRtcSpl_DivResultInQ31(0, 0), 0);
    // The most negative value has a magnitude too: it saturates.
    EXPECT_EQ(WebRtcSpl_DivResultInQ31(INT32_MIN, 5), -INT32_MAX);
    EXPECT_EQ(WebRtcSpl_DivResultInQ31(INT32_MIN, INT32_MIN), INT32_MAX);
    EXPECT_EQ(WebRtcSpl_DivResultInQ31(5, INT32_MIN), -5);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int32_t> d(1, INT32_MAX);
    for (int i = 0; i < 2000; ++i) {
        int32_t a = d(rng), b = d(rng);
        if (a > b) std::swap(a, b);
        if (a == b) continue;
        const double exact = std::ldexp(static_cast<double>(a) / b, 31);
        const int32_t q = WebRtcSpl_DivResultInQ31(a, b);
        EXPECT_LE(std::fabs(q - exact), 1.0) << a << "/" << b;
        EXPECT_EQ(WebRtcSpl_DivResultInQ31(-a, b), -q);
    }
}

TEST(IsacArith, NormalisedDivisionIsCloseToExact) {
    EXPECT_NEAR(WebRtcSpl_DivW32(1 << 29, 1 << 30), 1 << 30, 8);
    std::mt19937 rng(11);
    std::uniform_int_distribution<int32_t> den(1 << 30, INT32_MAX);
    double worst = 0;
    for (int i = 0; i < 5000; ++i) {
        const int32_t b = den(rng);
        std::uniform_int_distribution<int32_t> num(-b + 1, b - 1);
        const int32_t a = num(rng);
        const double exact = std::ldexp(static_cast<double>(a) / b, 31);
        const double err = std::fabs(WebRtcSpl_DivW32(a, b) - exact) / std::ldexp(1.0, 31);
        if (err > worst) worst = err;
    }
    EXPECT_LT(worst, 1e-6);
}

TEST(IsacArith, HanningWindow) {
    int16_t one[1];
    WebRtcSpl_GetHanningWindow(one, 1);
    EXPECT_EQ(one[0], 16384);
    int16_t w[80];
    WebRtcSpl_GetHanningWindow(w, 80);
    const int16_t head[] = {6, 22, 62, 104, 157, 222};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(w[i], head[i]) << i;
    EXPECT_EQ(w[77], 16362);
    EXPECT_EQ(w[78], 16378);
    EXPECT_EQ(w[79], 16384);
    for (int i = 1; i < 80; ++i) EXPECT_GE(w[i], w[i - 1]);
    // Sizes above 512 use the other start and stay inside the table.
    static int16_t big[1000];
    WebRtcSpl_GetHanningWindow(big, 1000);
    EXPECT_EQ(big[999], 16384);
}

TEST(IsacArith, ScalingOfSumOfSquaresKeeps31Bits) {
    int16_t v[60] = {};
    EXPECT_EQ(WebRtcSpl_GetScalingSquare(v, 60, 60), 0);
    v[17] = 1000;
    EXPECT_EQ(WebRtcSpl_GetScalingSquare(v, 60, 60), 0);
    v[3] = 32767;
    EXPECT_EQ(WebRtcSpl_GetScalingSquare(v, 60, 60), 5);
    // The promise: `times` squares, each shifted, stay below 2^31.
    for (int16_t peak : {int16_t{300}, int16_t{5000}, int16_t{-32768}, int16_t{32767}}) {
        for (int i = 0; i < 60; ++i) v[i] = peak;
        const int s = WebRtcSpl_GetScalingSquare(v, 60, 60);
        int64_t sum = 0;
        for (int i = 0; i < 60; ++i) sum += (static_cast<int64_t>(v[i]) * v[i]) >> s;
        EXPECT_LT(sum, int64_t{1} << 31) << peak;
    }
}
