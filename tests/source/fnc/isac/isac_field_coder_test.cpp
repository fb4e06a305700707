// Field coders: a payload of every field, coded and read back in frame
// order, gives the encoder's quantised values and consumes exactly its bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "isac_fft.h"
#include "isac_field_coder.h"
#include "isac_lattice.h"
#include "isac_tables.h"
#include "isac_test_util.h"

using namespace isac;

namespace {

// A spectrum as the lower band produces it: the transform of speech.
void speech_spectrum(const std::vector<int16_t>& speech, std::size_t off, int16_t* fr, int16_t* fi, int scale) {
    int16_t a[240], b[240];
    for (int n = 0; n < 240; ++n) {
        a[n] = static_cast<int16_t>(speech[off + 2 * n] / scale);
        b[n] = static_cast<int16_t>(speech[off + 2 * n + 1] / scale);
    }
    WebRtcIsacfix_Time2SpecC(a, b, fr, fi);
}

}  // namespace

// The spectrum coder's squared envelope is the inverse spectrum of the
// coded AR model times its gain, with a floor of 1/64 of the model's energy:
// gain (|A(w)|^2 + R0 / 64) at the 120 frequencies w = pi (m + 1/2) / 120 of
// the half-band, in Q16 for a Q10 gain; R0 is the sum of the squared AR
// coefficients. Checked on random stable models of every strength, on both
// sides of the gain at which the routine changes its scaling.
TEST(IsacFieldCoder, EnvelopeIsTheInverseArSpectrum) {
    std::mt19937 rng(76);
    double worst = 0;
    int out_of_range = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const double reach = 0.3 + 0.65 * (trial % 7) / 6.0;
        std::uniform_real_distribution<double> refl(-reach, reach);
        int16_t k[6], a[7];
        for (auto& v : k) v = static_cast<int16_t>(std::lround(refl(rng) * 32767));
        WebRtcSpl_ReflCoefToLpc(k, 6, a);
        const int32_t gain = trial % 2 ? 2000 + static_cast<int32_t>(rng() % 398000)
                                       : 400001 + static_cast<int32_t>(rng() % 1600000);
        int32_t curve[120];
        CalcInvArSpec(a, gain, curve);
        double r0 = 0;
        for (int n = 0; n <= 6; ++n) r0 += (a[n] / 4096.0) * (a[n] / 4096.0);
        std::vector<double> model(120);
        for (int m = 0; m < 120; ++m) {
            const double w = M_PI * (m + 0.5) / 120;
            std::complex<double> A = 0;
            for (int n = 0; n <= 6; ++n) A += a[n] / 4096.0 * std::polar(1.0, -w * n);
            model[m] = 64.0 * gain * (std::norm(A) + r0 / 64);
        }
        // The routine's range: the envelope (Q16) stays below 2^30, where
        // its 32-bit sums still hold it.
        if (*std::max_element(model.begin(), model.end()) >= 1073741824.0) {
            ++out_of_range;
            continue;
        }
        for (int m = 0; m < 120; ++m) {
            ASSERT_GT(curve[m], 0) << trial << "," << m;
            // Within 1 % of the mean level: the cosines are Q9 values.
            const double err = std::fabs(curve[m] - model[m]) / (64.0 * gain * r0);
            worst = std::max(worst, err);
            EXPECT_LT(err, 0.01) << "trial " << trial << " frequency " << m << ": " << curve[m] << " against " << model[m];
        }
    }
    std::printf("squared envelope against gain (|A|^2 + R0/64): largest difference %.4f of the mean level (%d models out of range)\n",
                worst, out_of_range);
    EXPECT_LT(out_of_range, 40);
}

TEST(IsacFieldCoder, FrameOfFieldsRoundTrips) {
    const auto speech = isac_test::speech_16k(16000 * 2);
    std::mt19937 rng(61);
    std::uniform_int_distribution<int> gain(0, 1843), lag(20 * 128, 140 * 128);
    int frames = 0;
    for (std::size_t off = 0; off + 480 <= speech.size(); off += 480 * 3) {
        int16_t gains[4], lags[4], fr[240], fi[240];
        for (int k = 0; k < 4; ++k) gains[k] = static_cast<int16_t>(gain(rng));
        const int base = lag(rng);
        for (int k = 0; k < 4; ++k) lags[k] = static_cast<int16_t>(base + 60 * k);
        speech_spectrum(speech, off, fr, fi, 1);
        const int16_t bw_index = static_cast<int16_t>(rng() % 24);
        const int16_t framelen = frames % 2 ? 960 : 480;

        ISAC_SaveEncData_t save{};
        Bitstr_enc enc;
        WebRtcIsacfix_InitBitstreamEnc(&enc);
        ASSERT_EQ(WebRtcIsacfix_EncodeFrameLen(framelen, &enc), 0);
        ASSERT_EQ(WebRtcIsacfix_EncodeReceiveBandwidth(&bw_index, &enc), 0);
        ASSERT_EQ(WebRtcIsacfix_EncodePitchGain(gains, &enc, &save), 0);
        ASSERT_EQ(WebRtcIsacfix_EncodePitchLag(lags, gains, &enc, &save), 0);
        const int16_t avg = static_cast<int16_t>((gains[0] + gains[1] + gains[2] + gains[3]) >> 2);
        ASSERT_EQ(WebRtcIsacfix_EncodeSpec(fr, fi, &enc, avg, kIsacLowerBand), 0);
        const int bytes = WebRtcIsacfix_EncTerminate(&enc);

        Bitstr_dec dec;
        WebRtcIsacfix_InitBitstreamDec(&dec, enc.stream, static_cast<uint16_t>(bytes));
        int16_t len, bw, dgains[4], dlags[4], dfr[240], dfi[240];
        ASSERT_GT(WebRtcIsacfix_DecodeFrameLen(&dec, &len), 0);
        EXPECT_EQ(len, framelen);
        ASSERT_GT(WebRtcIsacfix_DecodeSendBandwidth(&dec, &bw), 0);
        EXPECT_EQ(bw, bw_index);
        ASSERT_EQ(WebRtcIsacfix_DecodePitchGain(&dec, dgains), 0);
        ASSERT_EQ(WebRtcIsacfix_DecodePitchLag(&dec, dgains, dlags), 0);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(dgains[k], gains[k]);
            EXPECT_EQ(dlags[k], lags[k]);
        }
        const int used = WebRtcIsacfix_DecodeSpec(&dec, dfr, dfi, avg, kIsacLowerBand);
        EXPECT_EQ(used, bytes);
        ++frames;
    }
    EXPECT_GT(frames, 5);
}

TEST(IsacFieldCoder, UpperBandSpectraComeBackOnTheDitherLattice) {
    const auto speech = isac_test::speech_16k(16000);
    for (int16_t band : {int16_t{kIsacUpperBand12}, int16_t{kIsacUpperBand16}}) {
        for (std::size_t off = 4800; off + 480 <= speech.size(); off += 4800) {
            int16_t fr[240], fi[240], dfr[240], dfi[240];
            speech_spectrum(speech, off, fr, fi, 4);
            Bitstr_enc enc;
            WebRtcIsacfix_InitBitstreamEnc(&enc);
            ASSERT_EQ(WebRtcIsac_EncodeBandwidth(band == kIsacUpperBand12 ? 12 : 16, &enc), 0);
            ASSERT_EQ(WebRtcIsac_EncodeJitterInfo(1, &enc), 0);
            ASSERT_EQ(WebRtcIsacfix_EncodeSpec(fr, fi, &enc, 0, band), 0);
            const int bytes = WebRtcIsacfix_EncTerminate(&enc);
            Bitstr_dec dec;
            WebRtcIsacfix_InitBitstreamDec(&dec, enc.stream, static_cast<uint16_t>(bytes));
            int bandwidth;
            int32_t jitter;
            ASSERT_EQ(WebRtcIsac_DecodeBandwidth(&dec, &bandwidth), 0);
            EXPECT_EQ(bandwidth, band == kIsacUpperBand12 ? 12 : 16);
            ASSERT_EQ(WebRtcIsac_DecodeJitterInfo(&dec, &jitter), 0);
            EXPECT_EQ(jitter, 1);
            EXPECT_EQ(WebRtcIsacfix_DecodeSpec(&dec, dfr, dfi, 0, band), bytes);
            // Each value comes back within half a lattice step, unless the
            // coder had to pull it toward zero (then it is smaller).
            const int n = band == kIsacUpperBand12 ? 120 : 240;
            int close = 0;
            for (int i = 0; i < n; ++i) {
                close += std::abs(dfr[i] - fr[i]) <= 64;
                close += std::abs(dfi[i] - fi[i]) <= 64;
                if (std::abs(dfr[i] - fr[i]) > 64) {
                    EXPECT_LT(std::abs(dfr[i]), std::abs(fr[i]));
                }
            }
            EXPECT_GT(close, 2 * n * 9 / 10);
            if (band == kIsacUpperBand12) {
                for (int i = 120; i < 240; ++i) EXPECT_TRUE(dfr[i] == 0 && dfi[i] == 0);
            }
        }
    }
}

TEST(IsacFieldCoder, QuantisersAndRefusals) {
    Bitstr_enc enc;
    WebRtcIsacfix_InitBitstreamEnc(&enc);
    EXPECT_EQ(WebRtcIsacfix_EncodeFrameLen(720, &enc), -6430);
    EXPECT_EQ(WebRtcIsac_EncodeBandwidth(8, &enc), -6460);
    EXPECT_EQ(WebRtcIsac_EncodeJitterInfo(2, &enc), -1);
    // A gain of 0 takes index 0 and level 128.
    int32_t g = 0;
    ASSERT_EQ(WebRtcIsacfix_EncodeGain2(&g, &enc), 0);
    EXPECT_EQ(g, 128);
    // Bounds below the start cell go to the cell above them, above it to the one below.
    int16_t rc[6] = {-21458, 21458, 0, 32767, -32768, 4663};
    ASSERT_EQ(WebRtcIsacfix_EncodeRcCoef(rc, &enc), 0);
    EXPECT_EQ(rc[0], WebRtcIsacfix_kRc1Levels[3]);
    EXPECT_EQ(rc[1], WebRtcIsacfix_kRc2Levels[7]);
    EXPECT_EQ(rc[2], WebRtcIsacfix_kRc3Levels[5]);
    EXPECT_EQ(rc[3], WebRtcIsacfix_kRc4Levels[10]);
    EXPECT_EQ(rc[4], WebRtcIsacfix_kRc5Levels[0]);
    EXPECT_EQ(rc[5], WebRtcIsacfix_kRc6Levels[5]);
    // Pitch gain index 143 decodes; the symbols beyond it are refused.
    for (int16_t index : {int16_t{143}, int16_t{144}, int16_t{200}}) {
        Bitstr_enc e;
        WebRtcIsacfix_InitBitstreamEnc(&e);
        const uint16_t* cdf[1] = {WebRtcIsacfix_kPitchGainCdf};
        ASSERT_EQ(WebRtcIsacfix_EncHistMulti(&e, &index, cdf, 1), 0);
        const int bytes = WebRtcIsacfix_EncTerminate(&e);
        Bitstr_dec d;
        WebRtcIsacfix_InitBitstreamDec(&d, e.stream, static_cast<uint16_t>(bytes));
        int16_t gains[4];
        EXPECT_EQ(WebRtcIsacfix_DecodePitchGain(&d, gains), index == 143 ? 0 : -6660);
    }
}

TEST(IsacFieldCoder, CorruptPayloadsGiveFieldErrors) {
    std::mt19937 rng(62);
    int errors = 0;
    for (int trial = 0; trial < 500; ++trial) {
        const uint16_t len = static_cast<uint16_t>(1 + rng() % 300);
        std::vector<uint16_t> words((len + 1) / 2);
        for (auto& w : words) w = static_cast<uint16_t>(rng());
        Bitstr_dec dec;
        WebRtcIsacfix_InitBitstreamDec(&dec, words.data(), len);
        int16_t framelen, bw, gains[4], lags[4], fr[240], fi[240];
        int r = WebRtcIsacfix_DecodeFrameLen(&dec, &framelen);
        if (r >= 0) r = WebRtcIsacfix_DecodeSendBandwidth(&dec, &bw);
        if (r >= 0) r = WebRtcIsacfix_DecodePitchGain(&dec, gains);
        if (r >= 0) r = WebRtcIsacfix_DecodePitchLag(&dec, gains, lags);
        if (r >= 0) r = WebRtcIsacfix_DecodeSpec(&dec, fr, fi, gains[0], kIsacLowerBand);
        if (r < 0) {
            ++errors;
            EXPECT_TRUE(r == -6630 || r == -6640 || r == -6650 || r == -6660 || r == -6670 || r == -6690) << r;
        }
    }
    EXPECT_GT(errors, 0);
}

// The spectrum coder's limit that makes a steady tone come back low: a single
// line far above the envelope fitted to the whole spectrum is pulled toward
// zero by the logistic coder, while lines up to about 25 dB above a flat floor,
// and the floor itself, come back on the dither lattice.
TEST(IsacFieldCoder, ASpectralLineFarAboveTheEnvelopeIsPulledIn) {
    for (int line_db : {10, 20, 25, 40, 50}) {
        std::mt19937 rng(5);
        std::uniform_int_distribution<int> floor_value(-300, 300);  // about 173 rms (Q7)
        int16_t fr[240], fi[240], dfr[240], dfi[240];
        for (int i = 0; i < 240; ++i) {
            fr[i] = static_cast<int16_t>(floor_value(rng));
            fi[i] = static_cast<int16_t>(floor_value(rng));
        }
        fr[40] = static_cast<int16_t>(std::min(173 * std::pow(10, line_db / 20.0), 32000.0));
        fi[40] = 0;
        Bitstr_enc enc;
        WebRtcIsacfix_InitBitstreamEnc(&enc);
        ASSERT_EQ(WebRtcIsacfix_EncodeSpec(fr, fi, &enc, 0, kIsacUpperBand16), 0);
        const int bytes = WebRtcIsacfix_EncTerminate(&enc);
        Bitstr_dec dec;
        WebRtcIsacfix_InitBitstreamDec(&dec, enc.stream, static_cast<uint16_t>(bytes));
        ASSERT_EQ(WebRtcIsacfix_DecodeSpec(&dec, dfr, dfi, 0, kIsacUpperBand16), bytes);
        int close = 0;
        for (int i = 0; i < 240; ++i)
            if (i != 40) close += std::abs(dfr[i] - fr[i]) <= 64 && std::abs(dfi[i] - fi[i]) <= 64;
        EXPECT_EQ(close, 239) << line_db;
        const double back_db = 20 * std::log10(std::abs(dfr[40]) / double(fr[40]));
        if (line_db <= 25) {
            EXPECT_LT(std::fabs(back_db), 1.0) << line_db;
        } else {
            EXPECT_LT(back_db, -6.0) << line_db;
        }
    }
}
