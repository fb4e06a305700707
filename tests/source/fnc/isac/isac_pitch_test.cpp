// Pitch pre- and post-filter, gain estimation and the lag search.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "isac_filterbank.h"
#include "isac_pitch_est.h"
#include "isac_pitch_filter.h"
#include "isac_test_util.h"

using namespace isac;

namespace {

PitchFiltstr fresh_filter() {
    PitchFiltstr p{};
    p.oldlagQ7 = 6400;
    return p;
}

PitchAnalysisStruct fresh_analysis() {
    PitchAnalysisStruct s{};
    s.PFstr_wght = fresh_filter();
    s.PFstr = fresh_filter();
    return s;
}

// The lower band of 16 kHz speech, as the encoder splits it.
std::vector<int16_t> lower_band(const std::vector<int16_t>& speech) {
    PreFiltBankstr pre{};
    std::vector<int16_t> lb;
    for (std::size_t off = 0; off + 480 <= speech.size(); off += 480) {
        int16_t pin[480], lp[264], hp[264];
        std::memcpy(pin, &speech[off], sizeof pin);
        WebRtcIsacfix_SplitAndFilter1(pin, lp, hp, &pre);
        lb.insert(lb.end(), lp, lp + 240);
    }
    return lb;
}

}  // namespace

TEST(IsacPitchFilter, PostFilterUndoesPreFilter) {
    const auto lb = lower_band(isac_test::speech_16k(16000 * 3));
    std::mt19937 rng(31);
    std::uniform_int_distribution<int> lag(20 * 128, 140 * 128), gain(0, 1400);
    PitchFiltstr pre = fresh_filter(), post = fresh_filter();
    double s = 0, e = 0;
    int16_t lags[4] = {6400, 6400, 6400, 6400};
    for (std::size_t off = 0; off + 240 <= lb.size(); off += 240) {
        int16_t gains_post[4], gains_pre[4];
        // Lags drift within a frame and jump now and then between frames.
        const int base = lag(rng);
        for (int k = 0; k < 4; ++k) {
            lags[k] = static_cast<int16_t>(std::clamp(base + 100 * k, 20 * 128, 140 * 128));
            gains_post[k] = static_cast<int16_t>(gain(rng));
            // The post-filter scales by 1.3: the pre-filter gets that value.
            gains_pre[k] = static_cast<int16_t>((gains_post[k] * 21299) >> 14);
        }
        int16_t res[240], back[240];
        WebRtcIsacfix_PitchFilter(&lb[off], res, &pre, lags, gains_pre, kPitchFilterPre);
        WebRtcIsacfix_PitchFilter(res, back, &post, lags, gains_post, kPitchFilterPost);
        for (int k = 0; k < 4; ++k) EXPECT_EQ(gains_post[k], gains_pre[k]);
        for (int n = 0; n < 240; ++n) {
            s += double(lb[off + n]) * lb[off + n];
            e += double(lb[off + n] - back[n]) * (lb[off + n] - back[n]);
        }
    }
    EXPECT_EQ(0, std::memcmp(pre.ubufQQ, post.ubufQQ, sizeof pre.ubufQQ));
    EXPECT_EQ(0, std::memcmp(pre.ystateQQ, post.ystateQQ, sizeof pre.ystateQQ));
    const double snr = e == 0 ? 200 : 10 * std::log10(s / e);
    std::printf("pitch pre-filter then post-filter: SNR %.1f dB\n", snr);
    EXPECT_GT(snr, 90.0);
}

TEST(IsacPitchFilter, LookAheadModeKeepsTheFrameState) {
    std::mt19937 rng(32);
    const auto x = isac_test::random16(rng, 264, 8000);
    PitchFiltstr a = fresh_filter(), b = fresh_filter();
    int16_t lags[4] = {5000, 5100, 5200, 5300}, ga[4] = {1000, 1200, 900, 800}, gb[4];
    std::memcpy(gb, ga, sizeof gb);
    int16_t out_a[264], out_b[240];
    WebRtcIsacfix_PitchFilter(x.data(), out_a, &a, lags, ga, kPitchFilterPreLa);
    WebRtcIsacfix_PitchFilter(x.data(), out_b, &b, lags, gb, kPitchFilterPre);
    EXPECT_EQ(0, std::memcmp(out_a, out_b, sizeof out_b));
    EXPECT_EQ(0, std::memcmp(&a, &b, sizeof a));
    EXPECT_EQ(a.oldlagQ7, 5300);
    EXPECT_EQ(a.oldgainQ12, 800);
}

namespace {

std::vector<int16_t> periodic(double period, int frames, bool pulses, double phase = 0) {
    std::vector<int16_t> v(240 * frames);
    for (std::size_t n = 0; n < v.size(); ++n) {
        double x = 0;
        if (pulses) {
            const double t = std::fmod(n + phase, period);
            x = t < 1.0 ? 12000 : (t < 2.0 ? -4000 : 0);
        } else {
            for (int h = 1; h <= 5; ++h) x += 2500 / h * std::sin(2 * M_PI * h * (n + phase) / period + h);
        }
        v[n] = static_cast<int16_t>(std::lround(x));
    }
    return v;
}

}  // namespace

TEST(IsacPitchAnalysis, FindsThePeriodWithoutOctaveErrors) {
    // The search (on the decimated signal, with parabolic interpolation) is
    // checked to +-1 sample; the refinement after it (+-1 sample in quarter
    // steps) to +-2:
    // a lag whose fractional phase computes to 8 takes row 0 of the same
    // integer lag, whose delay is one sample longer, so the refinement may
    // settle one sample away from the period while its filter delay is right.
    double worst_search = 0, worst_final = 0;
    int checked = 0;
    for (int period = 20; period <= 140; period += 4) {
        for (bool pulses : {true, false}) {
            const double p = pulses ? period : period + (period < 100 ? 0.37 : -0.37);
            const auto x = periodic(p, 8, pulses, period);
            PitchAnalysisStruct st = fresh_analysis();
            for (int f = 0; f < 8; ++f) {
                PitchAnalysisStruct probe = st;
                int16_t first[4], lags[4], gains[4], out[264];
                WebRtcIsacfix_InitialPitch(&x[240 * f], &probe, first);
                WebRtcIsacfix_PitchAnalysis(&x[240 * f], out, &st, lags, gains);
                if (f < 3) continue;  // settle
                for (int k = 0; k < 4; ++k) {
                    const double search = std::fabs(first[k] / 128.0 - p);
                    const double final = std::fabs(lags[k] / 128.0 - p);
                    // The three longest lags carry the range's taper.
                    EXPECT_LE(search, p > 136 ? 1.5 : 1.0) << "period " << p << " frame " << f;
                    EXPECT_LE(final, p > 136 ? 2.5 : 2.0) << "period " << p << (pulses ? " pulses" : " harmonics") << " frame " << f;
                    worst_search = std::max(worst_search, search);
                    worst_final = std::max(worst_final, final);
                    if (!pulses) {
                        EXPECT_GT(gains[k], 0);  // a quarter between two pulses may have none
                    }
                    ++checked;
                }
            }
        }
    }
    std::printf("pitch search on pulse trains and harmonics, periods 20..140: %d lags, largest miss %.2f "
                "samples (search), %.2f samples (after refinement)\n", checked, worst_search, worst_final);
}

TEST(IsacPitchFilter, GainsFollowTheCorrelation) {
    PitchFiltstr pf = fresh_filter();
    // Silence: no correlation, gain 0, and the lag moves by +1.0 sample.
    std::vector<int16_t> zero(240, 0);
    int16_t lags[4] = {5000, 5000, 5000, 5000}, gains[4];
    WebRtcIsacfix_PitchFilterGains_and_Tweak(zero.data(), &pf, lags, gains);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(gains[k], 0);
        EXPECT_EQ(lags[k], 5128);
    }
    // A strongly periodic signal reaches the limit of 0.45; noise stays well
    // below it (the ratio is taken in Q12 before the limit).
    const auto tone = periodic(50.0, 3, false);
    pf = fresh_filter();
    for (int f = 0; f < 3; ++f) {
        int16_t l[4] = {6400, 6400, 6400, 6400};
        WebRtcIsacfix_PitchFilterGains_and_Tweak(&tone[240 * f], &pf, l, gains);
        if (f == 0) continue;
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(gains[k], 1843);
            EXPECT_NEAR(l[k], 6400, 128);
        }
    }
    std::mt19937 rng(33);
    pf = fresh_filter();
    int low = 0, total = 0, sum = 0;
    for (int f = 0; f < 10; ++f) {
        const auto noise = isac_test::random16(rng, 240, 10000);
        int16_t l[4] = {6400, 6400, 6400, 6400};
        WebRtcIsacfix_PitchFilterGains_and_Tweak(noise.data(), &pf, l, gains);
        for (int k = 0; k < 4; ++k) {
            EXPECT_GE(gains[k], 0);
            EXPECT_LE(gains[k], 1843);
            low += gains[k] < 1000;
            sum += gains[k];
            ++total;
        }
    }
    std::printf("pitch gains on white noise: mean %.0f (Q12), %d of %d below 1000\n", double(sum) / total, low,
                total);
    EXPECT_GE(low, total * 3 / 4);
}

TEST(IsacPitchAnalysis, PeakSearchHelpers) {
    EXPECT_EQ(Log2Q8(0), 7936);
    EXPECT_EQ(Log2Q8(1), 0);
    EXPECT_EQ(Log2Q8(256), 2048);
    const int32_t v[7] = {5, 9, 9, 3, 12, -1, 9};
    int16_t best[4] = {};
    FindFour32(v, 7, best);
    // Equal values keep their order; the fourth place goes to the first 5.
    EXPECT_EQ(best[0], 4);
    EXPECT_EQ(best[1], 1);
    EXPECT_EQ(best[2], 2);
    EXPECT_EQ(best[3], 6);
    // A symmetric peak interpolates to its centre, a lopsided one towards the higher side.
    const int32_t x = 10 << 8;
    int32_t y, fy;
    const int32_t sym[3] = {1000, 2000, 1000};
    Intrp1DQ8(&x, sym, &y, &fy);
    EXPECT_EQ(y, x);
    EXPECT_NEAR(fy, 2000, 2);
    const int32_t lop[3] = {1000, 2000, 1800};
    Intrp1DQ8(&x, lop, &y, &fy);
    EXPECT_GT(y, x);
    EXPECT_LT(y, x + 128);
    EXPECT_GT(fy, 2000);
    const int32_t neg[3] = {-5, 2000, 1800};
    Intrp1DQ8(&x, neg, &y, &fy);
    EXPECT_EQ(y, x);
    EXPECT_EQ(fy, 2000);
}
