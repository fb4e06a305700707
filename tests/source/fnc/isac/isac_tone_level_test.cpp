// The level at which a steady tone comes back, predicted stage by stage and
// compared with what the decoder gives. Every stage after the spectrum coder
// is a fixed filter once the frame's parameters are known, so its effect on a
// tone at frequency w follows from double-precision models of the stated
// algorithm:
//   - pitch pre-filter (encoder) and post-filter (decoder): with P(w) the
//     damped read of the buffer at the lag, the pre-filter passes
//     (1 - g P) / (1 + g P) and the post-filter, at 1.3 times the gain,
//     (1 + 1.3 g P) / (1 - 1.3 g P); they do not cancel;
//   - the decoder's low-band gain 1 - (29/64) g for the quarters' mean gain g;
//   - the lattice analysis and synthesis filters, which use the same
//     quantised envelope on both sides and cancel.
// What is left is the spectrum coder: the line's level in the decoded
// spectrum against the encoder's spectrum, read from the two spectra.
// The product of the stages must be the decoder's output level.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <vector>

#include "isac_codec.h"
#include "isac_codec_fixture.h"
#include "isac_fft.h"
#include "isac_test_util.h"

using namespace isac;
using isac_test::Codec;

namespace {

// The damped read of the pitch buffer at lag L for a tone at w (radians per
// half-band sample): the delay, times the symmetric damping filter's
// (real) response.
std::complex<double> pitch_read(double w, double lag) {
    static constexpr double kDamp[5] = {-2294, 8192, 20972, 8192, -2294};
    double damp = 0;
    for (int j = 0; j < 5; ++j) damp += kDamp[j] / 32768.0 * std::cos(w * (j - 2));
    return std::polar(damp, -w * lag);
}

// Response of the pitch pre-filter followed by the post-filter.
std::complex<double> pitch_pair(double w, double g, double lag) {
    const auto p = pitch_read(w, lag);
    return (1.0 - g * p) / (1.0 + g * p) * (1.0 + 1.3 * g * p) / (1.0 - 1.3 * g * p);
}

// The line at w in a half-band frame given by its spectrum (the transform
// back to time, then the frame's complex amplitude at w).
std::complex<double> line_in_frame(const int16_t* re, const int16_t* im, double w) {
    int16_t r[240], i[240];
    std::copy(re, re + 240, r);
    std::copy(im, im + 240, i);
    int32_t low[240], high[240];
    WebRtcIsacfix_Spec2TimeC(r, i, low, high);
    std::complex<double> a = 0;
    for (int n = 0; n < 240; ++n) a += double(low[n]) * std::polar(1.0, -w * n);
    return a;
}

// Least-squares amplitude of the sine at hz in x from `from` on (16 kHz).
double tone_amplitude(const std::vector<int16_t>& x, double hz, std::size_t from) {
    double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0;
    for (std::size_t i = from; i < x.size(); ++i) {
        const double c = std::cos(2 * M_PI * hz * i / 16000.0), s = std::sin(2 * M_PI * hz * i / 16000.0);
        cc += c * c, ss += s * s, cs += c * s, xc += x[i] * c, xs += x[i] * s;
    }
    const double det = cc * ss - cs * cs;
    return std::hypot((xc * ss - xs * cs) / det, (xs * cc - xc * cs) / det);
}

struct Prediction {
    double measured_db, predicted_db, coder_db, pitch_db, gain_db;
};

Prediction tone_through_codec(double hz, double dbm0) {
    constexpr int kSettle = 30;  // frames before the averages start (filters and rate model settle)
    const auto in = isac_test::tone_16k(hz, dbm0, 16000 * 3);
    Codec enc, dec;
    EXPECT_EQ(WebRtcIsacfix_CreateInternal(enc.inst), 0);  // keeps each frame's spectrum
    const ISAC_SaveEncData_t* saved = reinterpret_cast<ISACFIX_SubStruct*>(enc.inst)->ISACenc_obj.SaveEnc_ptr;
    const double w = 2 * M_PI * hz / 16000.0 * 2;  // per half-band sample
    std::complex<double> coder = 0, pitch = 0, product = 0;
    double gain = 0;
    int frames = 0;
    std::vector<int16_t> out;
    uint8_t buf[600];
    for (std::size_t off = 0; off + 160 <= in.size(); off += 160) {
        EXPECT_EQ(WebRtcIsacfix_Control(enc.inst, 32000, 30), 0);
        const int16_t n = WebRtcIsacfix_Encode(enc.inst, &in[off], buf, 0);
        EXPECT_GE(n, 0);
        if (n <= 0) continue;
        int16_t pcm[960], type;
        EXPECT_EQ(WebRtcIsacfix_Decode(dec.inst, buf, static_cast<std::size_t>(n), pcm, &type), 480);
        out.insert(out.end(), pcm, pcm + 480);
        // The frame's parameters and decoded spectrum, read from the payload.
        const auto words = isac_test::payload_words(buf, static_cast<std::size_t>(n));
        Bitstr_dec s{};
        WebRtcIsacfix_InitBitstreamDec(&s, words.data(), static_cast<uint16_t>(n));
        int16_t samples, bw, gains[4], lags[4], lo[72], hi[36], model, re[240], im[240];
        int32_t env_gains[12];
        EXPECT_GE(WebRtcIsacfix_DecodeFrameLen(&s, &samples), 0);
        EXPECT_GE(WebRtcIsacfix_DecodeSendBandwidth(&s, &bw), 0);
        EXPECT_GE(WebRtcIsacfix_DecodePitchGain(&s, gains), 0);
        EXPECT_GE(WebRtcIsacfix_DecodePitchLag(&s, gains, lags), 0);
        EXPECT_GE(WebRtcIsacfix_DecodeLpc(env_gains, lo, hi, &s, &model), 0);
        const int16_t avg = static_cast<int16_t>((gains[0] + gains[1] + gains[2] + gains[3]) >> 2);
        EXPECT_EQ(WebRtcIsacfix_DecodeSpec(&s, re, im, avg, kIsacLowerBand), n);
        if (++frames <= kSettle) continue;
        const std::complex<double> c = line_in_frame(re, im, w) / line_in_frame(saved->fre, saved->fim, w);
        std::complex<double> p = 0;
        for (int q = 0; q < 4; ++q) p += pitch_pair(w, gains[q] / 4096.0, lags[q] / 128.0) / 4.0;
        const double g = 1.0 - 29.0 / 64.0 * avg / 4096.0;
        coder += c;
        pitch += p;
        gain += g;
        product += c * p * g;
    }
    const int used = frames - kSettle;
    Prediction r{};
    r.coder_db = 20 * std::log10(std::abs(coder) / used);
    r.pitch_db = 20 * std::log10(std::abs(pitch) / used);
    r.gain_db = 20 * std::log10(gain / used);
    r.predicted_db = 20 * std::log10(std::abs(product) / used);
    const double amplitude = 32768 * std::pow(10, (dbm0 - 3.14) / 20);
    r.measured_db = 20 * std::log10(tone_amplitude(out, hz, 480 * kSettle) / amplitude);
    return r;
}

}  // namespace

// For tones at several levels and frequencies, the decoder's output level is
// the product of the stages; and the stages explain the loss: the spectrum
// coder pulls the line in (more the louder it stands above the coding noise),
// the pitch filters give some back, the low-band gain takes 2 dB. (Up to
// -10 dBm0: louder tones saturate the 16-bit pitch buffer, which the models
// leave out.)
TEST(IsacToneLevel, OutputLevelIsTheProductOfTheStages) {
    for (double hz : {500.0, 1000.0, 2000.0}) {
        double quiet_coder = 0;
        for (double dbm0 : {-30.0, -20.0, -10.0}) {
            const Prediction p = tone_through_codec(hz, dbm0);
            std::printf("%4.0f Hz at %+.0f dBm0: decoded %+.2f dB; stages %+.2f dB = spectrum coder %+.2f, pitch "
                        "filters %+.2f, low-band gain %+.2f\n", hz, dbm0, p.measured_db, p.predicted_db, p.coder_db,
                        p.pitch_db, p.gain_db);
            EXPECT_NEAR(p.measured_db, p.predicted_db, 0.6) << hz << " Hz at " << dbm0;
            EXPECT_LT(p.coder_db, 0.0) << hz << " Hz at " << dbm0;  // the coder never raises a line
            if (dbm0 == -30.0) quiet_coder = p.coder_db;
            else EXPECT_LT(p.coder_db, quiet_coder + 0.5) << hz << " Hz at " << dbm0;
        }
    }
}
