// Band split and merge, the 32 kHz split and merge, the high-pass filters,
// the decimator and the two general filters.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "isac_filterbank.h"
#include "isac_tables.h"
#include "isac_test_util.h"

using namespace isac;

namespace {

// SNR of out against in delayed by d, best d in 0..max_delay.
double aligned_snr(const std::vector<int16_t>& in, const std::vector<int16_t>& out, int max_delay, int* delay) {
    double best = -100;
    for (int d = 0; d <= max_delay; ++d) {
        double s = 0, e = 0;
        for (std::size_t i = 1000; i + d < out.size(); ++i) {
            const double r = in[i], o = out[i + d];
            s += r * r;
            e += (r - o) * (r - o);
        }
        const double v = e == 0 ? 200 : 10 * std::log10(s / e);
        if (v > best) {
            best = v;
            *delay = d;
        }
    }
    return best;
}

// Double-precision models of the filters, from their transfer functions.
std::vector<double> allpass_z2(std::vector<double> x, std::initializer_list<double> cs) {
    // First-order sections (c + z^-2) / (1 + c z^-2): each sample phase alone.
    for (double c : cs) {
        std::vector<double> y(x.size());
        for (std::size_t n = 0; n < x.size(); ++n) {
            const double xp = n >= 2 ? x[n - 2] : 0, yp = n >= 2 ? y[n - 2] : 0;
            y[n] = c * x[n] + xp - c * yp;
        }
        x = y;
    }
    return x;
}

std::vector<double> highpass(const std::vector<double>& x, const int32_t* c) {
    const double a1 = c[0] / 1073741824.0, a2 = c[1] / 1073741824.0;
    const double b1 = c[2] / 1073741824.0, b2 = c[3] / 1073741824.0;
    std::vector<double> y(x.size());
    double w1 = 0, w2 = 0;
    for (std::size_t n = 0; n < x.size(); ++n) {
        const double w = x[n] - a1 * w1 - a2 * w2;
        y[n] = x[n] + (b1 * w1 + b2 * w2) / 32;
        w2 = w1;
        w1 = w;
    }
    return y;
}

template <typename T>
std::vector<double> to_double(const std::vector<T>& v) {
    return std::vector<double>(v.begin(), v.end());
}

}  // namespace

TEST(IsacFilterbank, SplitThenMergeReconstructsSpeech) {
    const auto speech = isac_test::speech_16k(16000 * 3);
    const std::size_t frames = speech.size() / 480;
    PreFiltBankstr pre{};
    PostFiltBankstr post{};
    std::vector<int16_t> in(speech.begin(), speech.begin() + frames * 480), out(frames * 480);
    for (std::size_t f = 0; f < frames; ++f) {
        int16_t pin[480], lp[264], hp[264];
        std::memcpy(pin, &in[480 * f], sizeof pin);
        WebRtcIsacfix_SplitAndFilter1(pin, lp, hp, &pre);
        if (f == 0) {
            // The first block's first 24 samples come from the zero delay lines.
            for (int k = 0; k < 24; ++k) ASSERT_TRUE(lp[k] == 0 && hp[k] == 0);
        }
        int16_t ch1[240], ch2[240];
        for (int k = 0; k < 240; ++k) {
            ch1[k] = static_cast<int16_t>(std::clamp(lp[k] + hp[k] + 1, -32768, 32767));
            ch2[k] = static_cast<int16_t>(std::clamp(lp[k] - hp[k], -32768, 32767));
        }
        WebRtcIsacfix_FilterAndCombine1(ch1, ch2, &out[480 * f], &post);
    }
    int delay = 0;
    const double snr = aligned_snr(in, out, 200, &delay);
    // The merge undoes the split's band division; what remains is the
    // all-pass phase of both (the same on each sample phase) and the
    // high-pass filters, so the model is that cascade.
    auto model = highpass(to_double(in), WebRtcIsacfix_kHpStCoeffInQ30);
    model = allpass_z2(model, {1137 / 32768.0, 12537 / 32768.0, 5059 / 32768.0, 24379 / 32768.0});
    model = highpass(highpass(model, WebRtcIsacfix_kHPStCoeffOut1Q30), WebRtcIsacfix_kHPStCoeffOut2Q30);
    std::vector<int16_t> model16(model.size());
    for (std::size_t i = 0; i < model.size(); ++i) model16[i] = static_cast<int16_t>(std::lround(model[i]));
    int model_delay = 0;
    const double model_snr = aligned_snr(model16, out, 100, &model_delay);
    std::printf("SplitAndFilter1 + FilterAndCombine1 on speech: waveform SNR %.1f dB at a delay of %d; "
                "against the all-pass and high-pass model %.1f dB at a delay of %d\n",
                snr, delay, model_snr, model_delay);
    EXPECT_EQ(model_delay, 48);  // 24 look-ahead samples per half band
    EXPECT_GT(model_snr, 60.0);  // measured floors: 64.6 and 7.8 dB when committed
    EXPECT_GT(snr, 7.0);
}

TEST(IsacFilterbank, LookAheadLeavesTheStoredStatesAlone) {
    // Frame after frame, the 240 coded samples and the 24 look-ahead samples
    // must both equal one continuous filtering of the delayed channels.
    std::mt19937 rng(17);
    const int frames = 6;
    std::vector<int16_t> x = isac_test::random16(rng, 480 * frames + 480, 12000);
    std::vector<int16_t> hpx(x);
    int32_t hp_state[2] = {};
    for (std::size_t off = 0; off < hpx.size(); off += 480)
        WebRtcIsacfix_HighpassFilterFixDec32(&hpx[off], 480, WebRtcIsacfix_kHpStCoeffInQ30, hp_state);
    const int n = 240 * (frames + 1);
    std::vector<int16_t> c1(24 + n, 0), c2(24 + n, 0);
    for (int k = 0; k < n; ++k) {
        c1[24 + k] = hpx[2 * k + 1];
        c2[24 + k] = hpx[2 * k];
    }
    int32_t s1[4] = {}, s2[4] = {};
    WebRtcIsacfix_AllpassFilter2FixDec16C(c1.data(), c2.data(), WebRtcIsacfix_kUpperApFactorsQ15,
                                          WebRtcIsacfix_kLowerApFactorsQ15, 24 + n, s1, s2);
    PreFiltBankstr pre{};
    for (int f = 0; f < frames; ++f) {
        int16_t pin[480], lp[264], hp[264];
        std::memcpy(pin, &x[480 * f], sizeof pin);
        WebRtcIsacfix_SplitAndFilter1(pin, lp, hp, &pre);
        for (int k = 0; k < 264; ++k) {
            const int i = 240 * f + k;
            ASSERT_EQ(lp[k], std::clamp((c1[i] + c2[i]) >> 1, -32768, 32767)) << f << " " << k;
            ASSERT_EQ(hp[k], std::clamp((c1[i] - c2[i]) >> 1, -32768, 32767)) << f << " " << k;
        }
    }
}

TEST(IsacFilterbank, QmfSplitThenMergeReconstructs) {
    const auto speech = isac_test::speech_16k(16000 * 3);
    const std::size_t blocks = speech.size() / 320;
    std::vector<int16_t> in(speech.begin(), speech.begin() + blocks * 320), out(blocks * 320);
    int32_t a1[6] = {}, a2[6] = {}, s1[6] = {}, s2[6] = {};
    for (std::size_t b = 0; b < blocks; ++b) {
        int16_t low[160], high[160];
        WebRtcSpl_AnalysisQMF(&in[320 * b], low, high, a1, a2);
        WebRtcSpl_SynthesisQMF(low, high, &out[320 * b], s1, s2);
    }
    int delay = 0;
    const double snr = aligned_snr(in, out, 50, &delay);
    // Each sample phase passes through all six all-pass sections at unit gain.
    std::vector<double> cs;
    for (int i = 0; i < 3; ++i) cs.push_back(WebRtcSpl_kAllPassFilter1[i] / 65536.0);
    for (int i = 0; i < 3; ++i) cs.push_back(WebRtcSpl_kAllPassFilter2[i] / 65536.0);
    auto model = allpass_z2(to_double(in), {cs[0], cs[1], cs[2], cs[3], cs[4], cs[5]});
    std::vector<int16_t> model16(model.size());
    for (std::size_t i = 0; i < model.size(); ++i) model16[i] = static_cast<int16_t>(std::lround(model[i]));
    int model_delay = 0;
    const double model_snr = aligned_snr(model16, out, 8, &model_delay);
    std::printf("AnalysisQMF + SynthesisQMF on speech: waveform SNR %.1f dB at a delay of %d; "
                "against the all-pass model %.1f dB at a delay of %d\n", snr, delay, model_snr, model_delay);
    EXPECT_EQ(model_delay, 0);
    EXPECT_GT(model_snr, 70.0);  // measured floors: 75.0 and 10.1 dB when committed
    EXPECT_GT(snr, 9.0);
}

TEST(IsacFilterbank, QmfMergeWrapsTheBandSum) {
    int16_t low[160], high[160], low2[160], high2[160], o1[320], o2[320];
    for (int i = 0; i < 160; ++i) {
        low[i] = high[i] = 20000;           // sum 40000 wraps to -25536
        low2[i] = high2[i] = -12768;        // sum -25536, difference 0
    }
    int32_t a1[6] = {}, a2[6] = {}, b1[6] = {}, b2[6] = {};
    WebRtcSpl_SynthesisQMF(low, high, o1, a1, a2);
    WebRtcSpl_SynthesisQMF(low2, high2, o2, b1, b2);
    EXPECT_EQ(0, std::memcmp(o1, o2, sizeof o1));
}

TEST(IsacFilterbank, HighPassFiltersFollowTheirTransferFunctions) {
    std::mt19937 rng(4);
    const auto speech = isac_test::speech_16k(16000);
    for (const int32_t* c : {WebRtcIsacfix_kHpStCoeffInQ30, WebRtcIsacfix_kHPStCoeffOut1Q30,
                             WebRtcIsacfix_kHPStCoeffOut2Q30}) {
        std::vector<int16_t> v(speech);
        int32_t st[2] = {};
        for (std::size_t off = 0; off + 480 <= v.size(); off += 480)
            WebRtcIsacfix_HighpassFilterFixDec32(&v[off], 480, c, st);
        const auto model = highpass(to_double(speech), c);
        double worst = 0;
        for (std::size_t i = 0; i + 480 <= v.size(); ++i) worst = std::max(worst, std::fabs(v[i] - model[i]));
        EXPECT_LT(worst, 4.0);
    }
    // The input filter's near-double zero at 0 Hz takes a constant down by about 30 dB.
    std::vector<int16_t> dc(16000, 10000);
    int32_t st[2] = {};
    WebRtcIsacfix_HighpassFilterFixDec32(dc.data(), 16000, WebRtcIsacfix_kHpStCoeffInQ30, st);
    EXPECT_LT(std::abs(dc[15999]), 400);
}

TEST(IsacFilterbank, DecimatorHalvesTheRateAndKeepsItsMemory) {
    int32_t st[5] = {};
    int16_t in[240], out[120];
    auto level_db = [&](double hz) {
        std::memset(st, 0, sizeof st);
        double e_in = 0, e_out = 0;
        for (int block = 0; block < 4; ++block) {
            for (int n = 0; n < 240; ++n)
                in[n] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * hz * (240 * block + n) / 8000.0));
            WebRtcIsacfix_DecimateAllpass32(in, st, 240, out);
            if (block == 0) continue;
            for (int n = 0; n < 240; ++n) e_in += double(in[n]) * in[n];
            for (int n = 0; n < 120; ++n) e_out += double(out[n]) * out[n];
        }
        return 10 * std::log10(e_out / 120 / (e_in / 240));
    };
    // The two all-pass branches add to twice the in-band signal and cancel above 2 kHz.
    EXPECT_NEAR(level_db(500), 20 * std::log10(2.0), 1.0);
    EXPECT_LT(level_db(3500), level_db(500) - 30);
    EXPECT_EQ(st[4], 65536 * in[239]);
}

TEST(IsacFilterbank, AllPoleFilterAndFirDecimator) {
    // Output history in front of the buffer, as the pitch search keeps it.
    int16_t buf[2 + 120] = {0, 0};
    std::mt19937 rng(2);
    const auto x = isac_test::random16(rng, 120, 3000);
    std::memcpy(buf + 2, x.data(), 240);
    WebRtcSpl_FilterARFastQ12(buf + 2, buf + 2, kACoefQ12, 3, 120);
    double y1 = 0, y2 = 0;  // double-precision model: y = x + 0.75 y1 - 0.25 y2
    for (int i = 0; i < 120; ++i) {
        const double y = x[i] + 0.75 * y1 - 0.25 * y2;
        EXPECT_NEAR(buf[2 + i], y, 3.0) << i;
        y2 = y1;
        y1 = buf[2 + i];
    }
    EXPECT_DEATH(WebRtcSpl_FilterARFastQ12(buf + 2, buf + 2, kACoefQ12, 3, 0), "data_length > 0");
    EXPECT_DEATH(WebRtcSpl_FilterARFastQ12(buf + 2, buf + 2, kACoefQ12, 1, 5), "coefficients_length > 1");

    int16_t in[64], out[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    for (int i = 0; i < 64; ++i) in[i] = static_cast<int16_t>(i * 100);
    const int16_t coef[4] = {1024, 1024, 1024, 1024};  // four-tap mean in Q12
    EXPECT_EQ(WebRtcSpl_DownsampleFastC(in, 64, out, 0, coef, 4, 2, 3), -1);
    EXPECT_EQ(WebRtcSpl_DownsampleFastC(in, 64, out, 32, coef, 4, 2, 3), -1);
    EXPECT_EQ(WebRtcSpl_DownsampleFastC(in, 64, out, 8, coef, 0, 2, 3), -1);
    for (int16_t v : out) EXPECT_EQ(v, 7);
    EXPECT_EQ(WebRtcSpl_DownsampleFastC(in, 64, out, 8, coef, 4, 8, 3), 0);
    for (int n = 0; n < 8; ++n) EXPECT_EQ(out[n], (8 * n + 3) * 100 - 150);
}
