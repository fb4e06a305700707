// The 240-point FFT against a double-precision DFT, and the transform pair
// against its inverse and its defining sums.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "isac_fft.h"
#include "isac_test_util.h"

using namespace isac;
using cd = std::complex<double>;

namespace {

constexpr int kN = 240;

std::vector<cd> dft(const int16_t* re, const int16_t* im, int sign) {
    std::vector<cd> X(kN);
    for (int k = 0; k < kN; ++k) {
        cd s = 0;
        for (int n = 0; n < kN; ++n) s += cd(re[n], im[n]) * std::polar(1.0, sign * 2 * M_PI * n * k / kN);
        X[k] = s;
    }
    return X;
}

// Deviation of the FFT from the exact DFT over a set of random inputs.  The
// stages truncate their products, which adds a bias that depends only on the
// bin (largest at the bins that collect the constant part of the rotated
// sub-transforms); what is left after removing it is rounding noise.
struct FftDeviation {
    double largest_bias;
    double largest_noise;
    double rms_noise;
};

FftDeviation fft_deviation(int sign, int amplitude, int trials) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    std::vector<std::vector<cd>> err(trials, std::vector<cd>(kN));
    std::vector<cd> mean(kN);
    for (int t = 0; t < trials; ++t) {
        int16_t re[kN], im[kN];
        for (int i = 0; i < kN; ++i) {
            re[i] = static_cast<int16_t>(d(rng));
            im[i] = static_cast<int16_t>(d(rng));
        }
        const auto X = dft(re, im, sign);
        WebRtcIsacfix_FftRadix16Fastest(re, im, static_cast<int16_t>(sign));
        for (int k = 0; k < kN; ++k) {
            err[t][k] = cd(re[k], im[k]) - X[k];
            mean[k] += err[t][k] / static_cast<double>(trials);
        }
    }
    FftDeviation dev{0, 0, 0};
    double sq = 0;
    for (int k = 0; k < kN; ++k) {
        dev.largest_bias = std::max(dev.largest_bias, std::abs(mean[k]));
        for (int t = 0; t < trials; ++t) {
            const double e = std::abs(err[t][k] - mean[k]);
            dev.largest_noise = std::max(dev.largest_noise, e);
            sq += e * e;
        }
    }
    dev.rms_noise = std::sqrt(sq / (kN * trials));
    return dev;
}

}  // namespace

TEST(IsacFft, AgreesWithDoublePrecisionDft) {
    for (int sign : {1, -1}) {
        // Inputs of at most 128, as both transforms prepare them.
        const FftDeviation dev = fft_deviation(sign, 128, 40);
        std::printf("FFT (sign %+d) against the exact DFT: truncation bias up to %.1f LSB, "
                    "noise %.1f LSB rms, %.1f LSB at most\n",
                    sign, dev.largest_bias, dev.rms_noise, dev.largest_noise);
        EXPECT_LT(dev.rms_noise, 5.0);
        EXPECT_LT(dev.largest_noise, 16.0);
        // 60 truncated products per rotated row, half an LSB each, in each component.
        EXPECT_LT(dev.largest_bias, 45.0);
    }
}

TEST(IsacFft, ImpulseConstantZeroAndInverse) {
    int16_t re[kN] = {}, im[kN] = {};
    WebRtcIsacfix_FftRadix16Fastest(re, im, 1);
    for (int k = 0; k < kN; ++k) ASSERT_TRUE(re[k] == 0 && im[k] == 0);
    re[0] = 100;
    EXPECT_EQ(WebRtcIsacfix_FftRadix16Fastest(re, im, 1), 0);
    for (int k = 0; k < kN; ++k) {
        EXPECT_NEAR(re[k], 100, 1) << k;
        EXPECT_NEAR(im[k], 0, 1) << k;
    }
    for (int n = 0; n < kN; ++n) {
        re[n] = 50;
        im[n] = -20;
    }
    WebRtcIsacfix_FftRadix16Fastest(re, im, 1);
    EXPECT_NEAR(re[0], 240 * 50, 2);
    EXPECT_NEAR(im[0], 240 * -20, 2);
    for (int k = 1; k < kN; ++k) EXPECT_TRUE(std::abs(re[k]) <= 2 && std::abs(im[k]) <= 2) << k;

    std::mt19937 rng(5);
    std::uniform_int_distribution<int> d(-100, 100);
    int16_t x[kN], y[kN];
    for (int n = 0; n < kN; ++n) {
        re[n] = x[n] = static_cast<int16_t>(d(rng));
        im[n] = y[n] = static_cast<int16_t>(d(rng));
    }
    WebRtcIsacfix_FftRadix16Fastest(re, im, 1);
    WebRtcIsacfix_FftRadix16Fastest(re, im, -1);
    // A second pass needs the input small enough that 240 times it fits.
    std::vector<double> ref(kN), got(kN);
    double worst = 0;
    for (int n = 0; n < kN; ++n) worst = std::max(worst, std::abs(re[n] - 240.0 * x[n]) / 240.0);
    EXPECT_LT(worst, 2.0);
    (void)y;
}

TEST(IsacFft, BitReversal) {
    for (int stages : {7, 8}) {
        const int n = 1 << stages;
        std::vector<int16_t> v(2 * n);
        for (int m = 0; m < n; ++m) {
            v[2 * m] = static_cast<int16_t>(m);
            v[2 * m + 1] = static_cast<int16_t>(-m);
        }
        WebRtcSpl_ComplexBitReverse(v.data(), stages);
        int moved = 0;
        for (int m = 0; m < n; ++m) {
            int r = 0;
            for (int b = 0; b < stages; ++b) r |= ((m >> b) & 1) << (stages - 1 - b);
            EXPECT_EQ(v[2 * m], r);
            EXPECT_EQ(v[2 * m + 1], -r);
            moved += v[2 * m] != m;
        }
        EXPECT_EQ(moved / 2, stages == 7 ? 56 : 120);
        WebRtcSpl_ComplexBitReverse(v.data(), stages);
        for (int m = 0; m < n; ++m) EXPECT_EQ(v[2 * m], m);
    }
    // The general loop for other sizes.
    for (int stages : {1, 3, 5, 9}) {
        const int n = 1 << stages;
        std::vector<int16_t> v(2 * n);
        for (int m = 0; m < n; ++m) v[2 * m] = static_cast<int16_t>(m);
        WebRtcSpl_ComplexBitReverse(v.data(), stages);
        for (int m = 0; m < n; ++m) {
            int r = 0;
            for (int b = 0; b < stages; ++b) r |= ((m >> b) & 1) << (stages - 1 - b);
            ASSERT_EQ(v[2 * m], r) << stages;
        }
    }
    int16_t one[2] = {5, 6};
    WebRtcSpl_ComplexBitReverse(one, 0);
    EXPECT_EQ(one[0], 5);
}

namespace {

// The defining sums of the forward transform, in double precision.
void exact_time2spec(const int16_t* x1, const int16_t* x2, double* re, double* im) {
    for (int k = 0; k < 120; ++k) {
        cd s1 = 0, s2 = 0;
        for (int n = 0; n < kN; ++n) {
            const cd w = std::polar(1.0, -M_PI * (2 * k + 1) * (2 * n + 1) / 480.0);
            s1 += static_cast<double>(x1[n]) * w;
            s2 += static_cast<double>(x2[n]) * w;
        }
        const double sgn = (k % 2) ? -1.0 : 1.0;
        const double c = 1.0 / (4 * std::sqrt(240.0));
        const cd a = sgn * cd(0, 1) * c * s1;
        const cd b = -sgn * c * std::conj(s2);
        re[k] = a.real();
        im[k] = a.imag();
        re[239 - k] = b.real();
        im[239 - k] = b.imag();
    }
}

}  // namespace

TEST(IsacTransform, ForwardMatchesDefinitionAndRunsInPlace) {
    int16_t x1[kN] = {}, x2[kN] = {}, re[kN], im[kN];
    WebRtcIsacfix_Time2SpecC(x1, x2, re, im);
    for (int k = 0; k < kN; ++k) ASSERT_TRUE(re[k] == 0 && im[k] == 0);

    std::mt19937 rng(9);
    for (int amplitude : {300, 4000, 30000}) {
        auto a = isac_test::random16(rng, kN, amplitude);
        auto b = isac_test::random16(rng, kN, amplitude);
        double ere[kN], eim[kN];
        exact_time2spec(a.data(), b.data(), ere, eim);
        std::memcpy(x1, a.data(), sizeof x1);
        std::memcpy(x2, b.data(), sizeof x2);
        WebRtcIsacfix_Time2SpecC(x1, x2, re, im);
        double s = 0, e = 0;
        for (int k = 0; k < kN; ++k) {
            s += ere[k] * ere[k] + eim[k] * eim[k];
            e += (ere[k] - re[k]) * (ere[k] - re[k]) + (eim[k] - im[k]) * (eim[k] - im[k]);
        }
        // Q9 in, Q7 out: the output is the sum scaled by 1/4.
        const double snr = 10 * std::log10(s / e);
        EXPECT_GT(snr, 25.0) << amplitude;
        // Same call with the outputs written over the inputs.
        int16_t y1[kN], y2[kN];
        std::memcpy(y1, a.data(), sizeof y1);
        std::memcpy(y2, b.data(), sizeof y2);
        WebRtcIsacfix_Time2SpecC(y1, y2, y1, y2);
        EXPECT_EQ(0, std::memcmp(y1, re, sizeof re));
        EXPECT_EQ(0, std::memcmp(y2, im, sizeof im));
    }
}

TEST(IsacTransform, InverseReturns128TimesTheInput) {
    std::mt19937 rng(21);
    const auto speech = isac_test::speech_16k(16000);
    double worst = 200, best = 0;
    auto round_trip = [&](const int16_t* a, const int16_t* b) -> double {
        int16_t x1[kN], x2[kN];
        std::memcpy(x1, a, sizeof x1);
        std::memcpy(x2, b, sizeof x2);
        WebRtcIsacfix_Time2SpecC(x1, x2, x1, x2);
        int32_t o1[kN], o2[kN];
        WebRtcIsacfix_Spec2TimeC(x1, x2, o1, o2);
        // Both signals share one scaling, so the measure is over the pair.
        int16_t ab[2 * kN];
        int32_t o[2 * kN];
        std::memcpy(ab, a, sizeof(int16_t) * kN);
        std::memcpy(ab + kN, b, sizeof(int16_t) * kN);
        std::memcpy(o, o1, sizeof o1);
        std::memcpy(o + kN, o2, sizeof o2);
        const double s = isac_test::snr_db(ab, o, 2 * kN, 128.0);
        return s;
    };
    for (int t = 0; t < 10; ++t) {
        const auto a = isac_test::random16(rng, kN, 8000);
        const auto b = isac_test::random16(rng, kN, 8000);
        const double s = round_trip(a.data(), b.data());
        worst = std::min(worst, s);
        best = std::max(best, s);
    }
    int16_t s1[kN], s2[kN];
    for (int n = 0; n < kN; ++n) {
        s1[n] = static_cast<int16_t>(10000 * std::sin(0.07 * n));
        s2[n] = static_cast<int16_t>(6000 * std::cos(0.31 * n + 1));
    }
    const double sine = round_trip(s1, s2);
    worst = std::min(worst, sine);
    best = std::max(best, sine);
    double speech_worst = 200, speech_sum = 0;
    int frames = 0;
    for (std::size_t off = 0; off + 2 * kN <= speech.size(); off += 4 * kN) {
        bool loud = false;
        for (int n = 0; n < 2 * kN; ++n) loud |= std::abs(speech[off + n]) > 500;
        if (!loud) continue;
        const double s = round_trip(speech.data() + off, speech.data() + off + kN);
        speech_worst = std::min(speech_worst, s);
        speech_sum += s;
        ++frames;
    }
    std::printf("Spec2Time(Time2Spec(x)) = 128 x: random and sine SNR %.1f .. %.1f dB; "
                "speech SNR mean %.1f dB, worst %.1f dB over %d frames\n",
                worst, best, speech_sum / frames, speech_worst, frames);
    EXPECT_GT(worst, 24.0);
    EXPECT_LT(best, 37.0);
    // Measured floors on speech (mean 25.6, worst 20.7 dB when committed).
    EXPECT_GT(speech_sum / frames, 24.0);
    EXPECT_GT(speech_worst, 19.0);
}
