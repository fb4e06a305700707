// Super-wideband operation through the public calls: 32 kHz in, 32 kHz out.
// What the upper band must do follows from the band plan: the 12 kHz mode
// carries 8-12 kHz at its own frequency and removes what lies above, the
// 16 kHz mode carries 8-16 kHz; a packet whose upper block is damaged keeps
// its lower band only. All measures are double-precision filters and fits
// made here, independent of the codec's own filters.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <string>
#include <vector>

#include "isac_codec.h"
#include "isac_codec_fixture.h"
#include "isac_test_util.h"
#include "tone_fit.h"

using namespace isac;
using isac_test::Codec;

namespace {

constexpr double kRate = 32000.0;

// Windowed-sinc low-pass (Blackman), 511 taps: about 350 Hz of transition.
std::vector<double> lowpass(const std::vector<double>& x, double cutoff_hz) {
    constexpr int kHalf = 255;
    std::vector<double> h(2 * kHalf + 1);
    const double fc = cutoff_hz / kRate;
    for (int n = -kHalf; n <= kHalf; ++n) {
        const double sinc = n == 0 ? 2 * fc : std::sin(2 * M_PI * fc * n) / (M_PI * n);
        const double w = 0.42 + 0.5 * std::cos(M_PI * n / kHalf) + 0.08 * std::cos(2 * M_PI * n / kHalf);
        h[n + kHalf] = sinc * w;
    }
    std::vector<double> y(x.size(), 0.0);
    for (std::size_t i = 0; i < x.size(); ++i) {
        double acc = 0;
        for (int k = -kHalf; k <= kHalf; ++k) {
            const long j = static_cast<long>(i) + k;
            if (j >= 0 && j < static_cast<long>(x.size())) acc += h[k + kHalf] * x[static_cast<std::size_t>(j)];
        }
        y[i] = acc;
    }
    return y;
}

std::vector<double> to_double(const std::vector<int16_t>& x) { return {x.begin(), x.end()}; }

// Energy (dB) of x between lo and hi Hz, from `from` on.
double band_db(const std::vector<double>& x, double lo_hz, double hi_hz, std::size_t from) {
    const auto hi = lowpass(x, hi_hz), lo = lowpass(x, lo_hz);
    double e = 0;
    for (std::size_t i = from; i < x.size(); ++i) e += (hi[i] - lo[i]) * (hi[i] - lo[i]);
    return 10 * std::log10(e / double(x.size() - from) + 1e-3);
}

// Amplitude of the sine at hz that best fits x from `from` on (least squares).
double tone_amplitude(const std::vector<int16_t>& x, double hz, std::size_t from) {
    double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
    for (std::size_t i = from; i < x.size(); ++i) {
        const double c = std::cos(2 * M_PI * hz * i / kRate), s = std::sin(2 * M_PI * hz * i / kRate);
        cc += c * c, ss += s * s, cs += c * s, xc += x[i] * c, xs += x[i] * s;
    }
    const double det = cc * ss - cs * cs;
    const double a = (xc * ss - xs * cs) / det, b = (xs * cc - xc * cs) / det;
    return std::hypot(a, b);
}

double db(double ratio) { return 20 * std::log10(ratio + 1e-9); }

// Response (dB) of the high half of the codec's half-band split at u Hz
// (16 kHz sampling): half the difference of its two all-pass branches, each
// two first-order sections (a + z^-2) / (1 + a z^-2) with the split's
// factors, the second branch one sample later.
double high_half_db(double u_hz) {
    const std::complex<double> z = std::polar(1.0, 2 * M_PI * u_hz / 16000), z2 = z * z;
    const auto branch = [&](double a0, double a1) { return (a0 + 1.0 / z2) / (1.0 + a0 / z2) * (a1 + 1.0 / z2) / (1.0 + a1 / z2); };
    const auto upper = branch(1137 / 32768.0, 12537 / 32768.0), lower = branch(5059 / 32768.0, 24379 / 32768.0);
    return db(std::abs(upper - lower / z) / 2);
}

struct Decoded {
    std::vector<int16_t> out;      // decoded, 32 kHz
    std::vector<int16_t> damaged;  // decoded with every upper block's check word broken
    int packets = 0;
    int with_upper = 0;
};

// Decodes one packet twice: as sent by `dec`, and by `damaged` with the
// check word of its upper block broken (a packet carries an upper block when
// its lower stream ends early). Returns the samples decoded.
int take_packet(ISACFIX_MainStruct* dec, ISACFIX_MainStruct* damaged, uint8_t* buf, int16_t n, Decoded& r) {
    ++r.packets;
    int16_t pcm[1920], type = -1;
    const int16_t got = WebRtcIsacfix_Decode(dec, buf, static_cast<std::size_t>(n), pcm, &type);
    EXPECT_GT(got, 0) << WebRtcIsacfix_GetErrorCode(dec);
    EXPECT_EQ(type, 0);
    if (got <= 0) return 0;
    r.out.insert(r.out.end(), pcm, pcm + got);
    const auto words = isac_test::payload_words(buf, static_cast<std::size_t>(n));
    ISACFIX_DecInst_t scratch = reinterpret_cast<ISACFIX_SubStruct*>(damaged)->ISACdec_obj;
    WebRtcIsacfix_InitBitstreamDec(&scratch.bitstr_obj, words.data(), static_cast<uint16_t>(n));
    int16_t tmp[960], frame = 0;
    if (WebRtcIsacfix_DecodeImpl(tmp, &scratch, &frame) < n) {
        ++r.with_upper;
        buf[n - 1] ^= 0x5A;
    }
    EXPECT_EQ(WebRtcIsacfix_Decode(damaged, buf, static_cast<std::size_t>(n), pcm, &type), got);
    r.damaged.insert(r.damaged.end(), pcm, pcm + got);
    return got;
}

// Encodes 32 kHz input at `rate` bit/s in frames of frame_ms and decodes
// every packet (take_packet).
Decoded run(const std::vector<int16_t>& in, int rate, int frame_ms) {
    Decoded r;
    Codec c(1), damaged(1);
    uint8_t buf[600];
    for (std::size_t off = 0; off + 320 <= in.size(); off += 320) {
        EXPECT_EQ(WebRtcIsacfix_Control(c.inst, rate, static_cast<int16_t>(frame_ms)), 0);
        const int16_t n = WebRtcIsacfix_Encode(c.inst, &in[off], buf, 1);
        EXPECT_GE(n, 0) << WebRtcIsacfix_GetErrorCode(c.inst);
        if (n > 0) {
            EXPECT_EQ(take_packet(c.inst, damaged.inst, buf, n, r), 2 * 16 * frame_ms);
        }
    }
    return r;
}

std::vector<int16_t> tone_32k(double hz, double amplitude, std::size_t n) {
    std::vector<int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * i / kRate)));
    return s;
}

// Speech at 32 kHz with 12 kHz of bandwidth: the 16 kHz recording
// interpolated (0-8 kHz), plus its 0-3.8 kHz band moved up by 8 kHz, so that
// 8-12 kHz carries speech with its own tilt (loud at 8, quiet at 12 kHz):
// a band coded mirrored or shifted shows as sub-band levels far off.
std::vector<int16_t> speech_12k_band(std::size_t n16) {
    const auto s16 = isac_test::speech_16k(n16);
    std::vector<double> up(2 * s16.size(), 0.0);
    for (std::size_t i = 0; i < s16.size(); ++i) up[2 * i] = 2.0 * s16[i];
    const auto wide = lowpass(up, 7800), base = lowpass(wide, 3800);
    std::vector<int16_t> x(wide.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double moved = 2 * base[i] * std::cos(M_PI * double(i % 4) / 2);  // times cos(2 pi 8 kHz t)
        x[i] = static_cast<int16_t>(std::clamp(std::lround(0.3 * wide[i] + 0.3 * moved), -32768L, 32767L));
    }
    return x;
}

}  // namespace

// Tones across 8-16 kHz through the 12 kHz mode. The mode splits the upper
// band (8-16 kHz, carried mirrored at 16 kHz sampling: 16 kHz at 0 Hz) into
// two half bands, codes the one holding 8-12 kHz and rebuilds it with the
// other silent, so nothing cancels what the half-band filters let through
// about 12 kHz: a tone at F comes back at F through the band's response
// twice (split and rebuild), and at its mirror about 12 kHz, 24 kHz - F,
// through the response at both places once. Those two levels are predicted
// from the split's all-pass pair; where the prediction lies below the coding
// noise the component must stay under that noise. Elsewhere there is only
// coding noise. A steady pure tone leaves coding noise close to it (the
// codec's transform frames do not overlap, and each frame's noise sits under
// its line), so what is measured away from the tone and its mirror is
// everything more than 1.5 kHz off them.
TEST(IsacSuperWideband, TwelveKilohertzBandKeepsTonesWhereTheyAre) {
    constexpr double kAmplitude = 3000;
    constexpr std::size_t kSettled = 9600;  // 0.3 s
    const double tone_db = 20 * std::log10(kAmplitude / std::sqrt(2.0));
    const auto expect = [](double got, double predicted, double hz, const char* what) {
        if (predicted > -45.0) EXPECT_NEAR(got, predicted, 3.0) << what << hz;
        else EXPECT_LT(got, -35.0) << what << hz;
    };
    for (double hz : {8250.0, 8750.0, 9250.0, 9750.0, 10250.0, 10750.0, 11000.0, 11250.0, 11500.0, 11750.0, 12500.0,
                      13000.0, 14000.0, 15000.0}) {
        const Decoded r = run(tone_32k(hz, kAmplitude, 32000), 45000, 30);
        ASSERT_EQ(r.with_upper, r.packets);
        const double mirror_hz = 24000 - hz;
        const double level = db(tone_amplitude(r.out, hz, kSettled) / kAmplitude);
        const double mirrored = db(tone_amplitude(r.out, mirror_hz, kSettled) / kAmplitude);
        const double level_model = 2 * high_half_db(16000 - hz);
        const double mirror_model = high_half_db(16000 - hz) + high_half_db(hz - 8000);
        const auto out = to_double(r.out);
        // 8-16 kHz but 1.5 kHz about the tone and its mirror.
        const double first = std::min(hz, mirror_hz), second = std::max(hz, mirror_hz);
        const double gaps[3][2] = {{8000, first - 1500}, {first + 1500, second - 1500}, {second + 1500, 16000}};
        double elsewhere = -99.0;
        for (const auto& g : gaps)
            if (g[1] - g[0] > 500) elsewhere = std::max(elsewhere, band_db(out, g[0], g[1], kSettled) - tone_db);
        const double lower_band = band_db(out, 50, 7500, kSettled) - tone_db;
        std::printf("12 kHz band, %.0f Hz: level %+.1f dB (split %+.1f); at %.0f Hz %+.1f dB (split %+.1f); "
                    "elsewhere in 8-16 kHz %+.1f dB, 0-7.5 kHz %+.1f dB\n", hz, level, level_model, mirror_hz,
                    mirrored, mirror_model, elsewhere, lower_band);
        expect(level, hz < 12000 ? 0.0 : level_model, hz, "tone at ");
        expect(mirrored, mirror_model, hz, "mirror of ");
        EXPECT_LT(elsewhere, -25.0) << hz;
        EXPECT_LT(lower_band, -40.0) << hz;
    }
}

// Speech with 12 kHz of bandwidth keeps each 1 kHz slice of 8-12 kHz at its
// level (the slices differ by some 20 dB at the input, so a band coded
// mirrored or moved cannot pass), keeps its lower band, and adds nothing
// above 12 kHz. A packet whose upper block fails its check word plays the
// lower band alone. (The input stays clear of full scale: a clipped sum
// would spread over every band.)
TEST(IsacSuperWideband, TwelveKilohertzSpeechKeepsItsSpectrum) {
    const auto in = speech_12k_band(16000 * 2);
    const Decoded r = run(in, 45000, 30);
    ASSERT_GT(r.packets, 20);
    EXPECT_EQ(r.with_upper, r.packets);
    // The codec delays by under 10 ms: compare the same stretch of both.
    constexpr std::size_t kFrom = 3200;
    const auto x = to_double(in), y = to_double(r.out), z = to_double(r.damaged);
    const double edges[] = {8200, 9000, 10000, 11000, 11600};
    for (int b = 0; b < 4; ++b) {
        const double sent = band_db(x, edges[b], edges[b + 1], kFrom);
        const double got = band_db(y, edges[b], edges[b + 1], kFrom);
        const double damaged = band_db(z, edges[b], edges[b + 1], kFrom);
        std::printf("speech %.0f-%.0f Hz: sent %.1f dB, decoded %+.1f dB, upper block damaged %+.1f dB\n", edges[b],
                    edges[b + 1], sent, got - sent, damaged - sent);
        EXPECT_NEAR(got, sent, 3.0) << edges[b];
        EXPECT_LT(damaged, sent - 20) << edges[b];
    }
    const double lower_sent = band_db(x, 100, 7500, kFrom), lower_got = band_db(y, 100, 7500, kFrom);
    const double top_sent = band_db(x, 8200, 11600, kFrom), above = band_db(y, 13000, 16000, kFrom);
    std::printf("speech 0.1-7.5 kHz: sent %.1f dB, decoded %+.1f dB; 13-16 kHz decoded %.1f dB below 8-12 kHz\n",
                lower_sent, lower_got - lower_sent, top_sent - above);
    EXPECT_NEAR(lower_got, lower_sent, 1.0);
    EXPECT_LT(above, top_sent - 40);
}

// The 16 kHz mode carries tones up to 16 kHz at their frequency and level.
// Below 38 kbit/s there is no upper band and 60 ms frames are accepted:
// each packet gives 1920 samples at 32 kHz, the lower band kept, the upper
// band silent.
TEST(IsacSuperWideband, SixteenKilohertzBandAndSixtyMsFrames) {
    constexpr double kAmplitude = 3000;
    constexpr std::size_t kSettled = 9600;
    for (double hz : {9000.0, 11000.0, 13000.0, 15000.0}) {
        const Decoded r = run(tone_32k(hz, kAmplitude, 32000), 56000, 30);
        EXPECT_GT(r.with_upper, r.packets / 2);
        const double level = db(tone_amplitude(r.out, hz, kSettled) / kAmplitude);
        const double mirrored = db(tone_amplitude(r.out, 24000 - hz, kSettled) / kAmplitude);
        std::printf("16 kHz band, %.0f Hz: level %+.1f dB, at %.0f Hz %+.1f dB\n", hz, level, 24000 - hz, mirrored);
        EXPECT_NEAR(level, 0.0, 3.0) << hz;
        EXPECT_LT(mirrored, -35.0) << hz;
    }
    const auto in = speech_12k_band(16000 * 2);
    const Decoded r = run(in, 30000, 60);
    ASSERT_GT(r.packets, 8);
    EXPECT_EQ(r.with_upper, 0);
    EXPECT_EQ(r.out.size(), 1920u * r.packets);
    const auto x = to_double(in), y = to_double(r.out);
    const double lower_sent = band_db(x, 100, 7500, 6400), lower_got = band_db(y, 100, 7500, 6400);
    const double upper_sent = band_db(x, 8200, 11600, 6400), upper_got = band_db(y, 8200, 11600, 6400);
    std::printf("30 kbit/s, 60 ms: %d packets, 0.1-7.5 kHz %+.1f dB, 8.2-11.6 kHz %+.1f dB\n", r.packets,
                lower_got - lower_sent, upper_got - upper_sent);
    EXPECT_NEAR(lower_got, lower_sent, 1.0);
    EXPECT_LT(upper_got, upper_sent - 40);
}

namespace {

ISACFIX_SubStruct* state(const Codec& c) { return reinterpret_cast<ISACFIX_SubStruct*>(c.inst); }

// The uplink estimate the adaptive encoder reads at its next frame start.
void set_estimate(const Codec& c, int rate) { state(c)->bwestimator_obj.sendBwAvg = rate * 128; }

}  // namespace

// The adaptive mode takes the uplink estimate at each frame start and splits
// it between the bands: below 38 kbit/s the lower band alone, 38-50 kbit/s
// with the 12 kHz upper band, 50-56 kbit/s with the 16 kHz one, no band above
// 32 kbit/s. Coded at 8 kHz, 37-41 kbit/s count as 37000 and more than 46000
// as 46000; coded at 12 kHz, more than 46000 as 46000 (so the coded bandwidth
// does not flap). An upper band forces 30 ms frames even when the lower band
// alone had chosen 60 ms, and a change of bandwidth recomputes the payload
// limits, here from a cap of 400 bytes: 400 per 30 and per 60 ms for the
// lower band alone; with an upper band 320 for the lower band and 400 for the
// whole packet.
TEST(IsacSuperWideband, AdaptiveModeSplitsTheEstimateAtEachFrame) {
    struct Step {
        int from, estimate, lower, upper, bandwidth;
    };
    const Step steps[] = {
        {56000, 37999, 32000, 0, 8},      {56000, 38000, 29000, 25000, 12}, {56000, 49999, 32000, 32000, 12},
        {56000, 50000, 31000, 28000, 16}, {56000, 53000, 32000, 29499, 16}, {56000, 56000, 32000, 31999, 16},
        {30000, 10000, 10000, 0, 8},      {30000, 37001, 32000, 0, 8},      {30000, 40999, 32000, 0, 8},
        {30000, 41000, 30571, 27000, 12}, {30000, 56000, 32000, 32000, 12}, {45000, 56000, 32000, 32000, 12},
        {45000, 37999, 32000, 0, 8},
    };
    const auto in = speech_12k_band(16000);
    for (const Step& st : steps) {
        Codec c(1, 0);
        ASSERT_EQ(WebRtcIsacfix_ControlBwe(c.inst, st.from, 30, 0), 0);
        ASSERT_EQ(WebRtcIsacfix_SetMaxPayloadSize(c.inst, 400), 0);
        set_estimate(c, st.estimate);
        // As the lower band alone chooses at low rates.
        state(c)->ISACenc_obj.new_framelength = 960;
        uint8_t buf[600];
        int16_t n = 0;
        for (std::size_t off = 8000; n == 0 && off < 8000 + 6 * 320; off += 320) {
            n = WebRtcIsacfix_Encode(c.inst, &in[off], buf, 1);
            ASSERT_GE(n, 0) << WebRtcIsacfix_GetErrorCode(c.inst);
        }
        ASSERT_GT(n, 0) << st.estimate;
        const ISACFIX_SubStruct* s = state(c);
        const std::string at = std::to_string(st.from) + " -> " + std::to_string(st.estimate);
        EXPECT_EQ(s->ISACenc_obj.BottleNeck, st.lower) << at;
        EXPECT_EQ(s->ISACencUB_obj.BottleNeck, st.upper) << at;
        EXPECT_EQ(s->bandwidthKHz, st.bandwidth) << at;
        int16_t frame = 0;
        ASSERT_EQ(WebRtcIsacfix_ReadFrameLen(buf, static_cast<std::size_t>(n), &frame), 0);
        EXPECT_EQ(frame, st.bandwidth == 8 ? 960 : 480) << at;
        if (st.bandwidth == 8) {
            EXPECT_EQ(s->ISACenc_obj.payloadLimitBytes30, 400) << at;
            EXPECT_EQ(s->ISACenc_obj.payloadLimitBytes60, 400) << at;
        } else {
            EXPECT_EQ(s->ISACenc_obj.payloadLimitBytes30, 320) << at;
            EXPECT_EQ(s->ISACencUB_obj.maxPayloadSizeBytes, 400) << at;
        }
    }
}

// A whole adaptive stream whose estimate falls from 38 to 15 kbit/s and
// rises to 45 kbit/s: 30 ms packets with the 12 kHz band, then 60 ms packets
// of the lower band alone, then the 12 kHz band again. Every packet decodes;
// the lower band keeps its level throughout, 8-12 kHz keeps its level where
// it is coded and is gone where it is not.
TEST(IsacSuperWideband, AdaptiveStreamFollowsTheEstimate) {
    constexpr std::size_t kStretch = 32000;  // 1 s at 32 kHz
    const int estimates[] = {38000, 15000, 45000};
    const auto in = speech_12k_band(3 * kStretch / 2);
    Codec enc(1, 0), dec(1), damaged(1);
    // Set up for 16 kHz: the first frame's change of bandwidth lifts the
    // payload limits from their start-up values, which hold no packet of
    // both bands at 38 kbit/s.
    ASSERT_EQ(WebRtcIsacfix_ControlBwe(enc.inst, 56000, 30, 0), 0);
    Decoded r;
    int packets[3] = {}, with_upper[3] = {}, long_frames[3] = {};
    uint8_t buf[600];
    for (std::size_t off = 0; off + 320 <= in.size(); off += 320) {
        set_estimate(enc, estimates[off / kStretch]);
        const int16_t n = WebRtcIsacfix_Encode(enc.inst, &in[off], buf, 1);
        ASSERT_GE(n, 0) << WebRtcIsacfix_GetErrorCode(enc.inst);
        if (n == 0) continue;
        const std::size_t stretch = r.out.size() / kStretch;
        const int upper_before = r.with_upper;
        const int got = take_packet(dec.inst, damaged.inst, buf, n, r);
        ++packets[stretch];
        with_upper[stretch] += r.with_upper - upper_before;
        long_frames[stretch] += got == 1920;
    }
    ASSERT_EQ(r.out.size(), in.size() / 960 * 960);
    const int upper_coded[] = {1, 0, 1};
    for (std::size_t k = 0; k < 3; ++k) {
        // Each stretch after its first 0.1 s (the switch, and two silenced
        // upper bands after a packet without one).
        const std::size_t from = k * kStretch + 3200, to = (k + 1) * kStretch;
        const std::vector<double> x(in.begin() + from, in.begin() + to), y(r.out.begin() + from, r.out.begin() + to);
        const double lower = band_db(y, 100, 7500, 0) - band_db(x, 100, 7500, 0);
        const double upper = band_db(y, 8200, 11600, 0) - band_db(x, 8200, 11600, 0);
        std::printf("adaptive, %d bit/s: %d packets (%d with an upper band, %d of 60 ms), 0.1-7.5 kHz %+.1f dB, "
                    "8.2-11.6 kHz %+.1f dB\n", estimates[k], packets[k], with_upper[k], long_frames[k], lower, upper);
        EXPECT_NEAR(lower, 0.0, 1.5) << estimates[k];
        if (upper_coded[k]) {
            EXPECT_EQ(with_upper[k], packets[k]) << estimates[k];
            EXPECT_EQ(long_frames[k], 0) << estimates[k];
            EXPECT_NEAR(upper, 0.0, 3.0) << estimates[k];
        } else {
            EXPECT_EQ(with_upper[k], 0) << estimates[k];
            EXPECT_GE(long_frames[k], packets[k] - 2) << estimates[k];
            EXPECT_LT(upper, -30.0) << estimates[k];
        }
    }
}
