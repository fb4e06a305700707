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

namespace {

// Double-precision model of the pitch filter as the algorithm states it: the
// buffer signal (input plus output) is read at the interpolated lag (on the
// grid of eighth samples, by an ideal fractional delay), weighted by the
// interpolated gain and smoothed by the symmetric damping filter, whose two
// samples of delay the read leads by; the pre-filter subtracts that
// prediction, the post-filter adds 1.3 times it. Lag and gain move from the
// previous quarter's values to the new ones in five equal steps, one per 12
// samples, unless the lag jumps by more than half.
struct PitchModel {
    std::vector<double> buf, pred;
    double old_lag = 50.0, old_gain = 0.0;

    // The lag the filter applies: the next eighth of a sample at or above
    // the lag, except that a lag of exactly n - 1/2 reads at n + 1/2 (its
    // phase wraps to the first row, of the same integer lag n).
    static double on_grid(double lag) {
        double l = std::ceil(8 * lag - 1e-9) / 8;
        const double n = std::floor(lag + 0.5);
        if (l == n - 0.5) l += 1.0;
        return l;
    }

    double read(double t) const {  // buf at real position t
        const long base = static_cast<long>(std::floor(t));
        double acc = 0;
        for (long m = base - 11; m <= base + 12; ++m) {
            if (m < 0 || m >= static_cast<long>(buf.size())) continue;
            const double x = t - double(m);
            const double sinc = std::fabs(x) < 1e-12 ? 1.0 : std::sin(M_PI * x) / (M_PI * x);
            acc += buf[static_cast<std::size_t>(m)] * sinc * (0.5 + 0.5 * std::cos(M_PI * x / 12.5));
        }
        return acc;
    }

    void frame(const int16_t* in, double* out, const int16_t* lagsQ7, const int16_t* gainsQ12, bool post) {
        static constexpr double kDamp[5] = {-2294 / 32768.0, 8192 / 32768.0, 20972 / 32768.0, 8192 / 32768.0,
                                            -2294 / 32768.0};
        double lags[4], gains[4];
        for (int k = 0; k < 4; ++k) {
            lags[k] = lagsQ7[k] / 128.0;
            gains[k] = gainsQ12[k] / 4096.0 * (post ? 1.3 : 1.0);
        }
        if (1.5 * lags[0] < old_lag || 1.5 * old_lag < lags[0]) {
            old_lag = lags[0];
            old_gain = gains[0];
        }
        int n = 0;
        for (int k = 0; k < 4; ++k) {
            for (int s = 1; s <= 5; ++s) {
                const double lag = on_grid(old_lag + s * (lags[k] - old_lag) / 5);
                const double gain = old_gain + s * (gains[k] - old_gain) / 5;
                for (int i = 0; i < 12; ++i, ++n) {
                    const double p = double(buf.size());
                    pred.push_back(gain * read(p + 2 - lag));
                    double d = 0;
                    for (int j = 0; j < 5; ++j) {
                        const long q = static_cast<long>(pred.size()) - 5 + j;
                        if (q >= 0) d += kDamp[j] * pred[static_cast<std::size_t>(q)];
                    }
                    out[n] = post ? in[n] + d : in[n] - d;
                    buf.push_back(in[n] + out[n]);
                }
            }
            old_lag = lags[k];
            old_gain = gains[k];
        }
    }
};

}  // namespace

// The pre-filter and the post-filter against the model, on speech with lags
// that drift within frames and jump between some, and gains up to the limit:
// what is left is the 16-bit rounding and the 9-tap interpolation's error.
TEST(IsacPitchFilter, PreAndPostFilterFollowTheDoublePrecisionModel) {
    // At a third of the recording's level: the buffer holds input plus
    // output, which must stay clear of 16-bit saturation for the comparison.
    auto lb = lower_band(isac_test::speech_16k(16000 * 3));
    for (auto& v : lb) v = static_cast<int16_t>(v / 3);
    for (bool post : {false, true}) {
        std::mt19937 rng(34);
        std::uniform_int_distribution<int> lag(20 * 128, 140 * 128), gain(0, 1843), jump(0, 3);
        PitchFiltstr fixed = fresh_filter();
        PitchModel model;
        double s = 0, e = 0, filtered = 0;
        int base = 6400;
        for (std::size_t off = 0; off + 240 <= lb.size(); off += 240) {
            if (jump(rng) == 0) base = lag(rng);
            int16_t lags[4], gains[4], model_gains[4];
            for (int k = 0; k < 4; ++k) {
                lags[k] = static_cast<int16_t>(std::clamp(base + 40 * k, 20 * 128, 140 * 128));
                gains[k] = model_gains[k] = static_cast<int16_t>(gain(rng));
            }
            base = lags[3];
            int16_t out[240];
            double want[240];
            WebRtcIsacfix_PitchFilter(&lb[off], out, &fixed, lags, gains, post ? kPitchFilterPost : kPitchFilterPre);
            model.frame(&lb[off], want, lags, model_gains, post);
            for (int n = 0; n < 240; ++n) {
                s += want[n] * want[n];
                e += (want[n] - out[n]) * (want[n] - out[n]);
                filtered += (want[n] - lb[off + n]) * (want[n] - lb[off + n]);
            }
        }
        const double snr = 10 * std::log10(s / e), effect = 10 * std::log10(s / filtered);
        std::printf("pitch %s-filter against the model: %.1f dB (the filter itself changes the signal by %.1f dB)\n",
                    post ? "post" : "pre", snr, effect);
        EXPECT_GT(snr, 40.0) << post;  // 51.6 and 48.9 dB
        EXPECT_LT(effect, 15.0) << post;  // the filter does act
    }
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
