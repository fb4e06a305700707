// Envelope coding of the masking model's output: the decoder rebuilds the
// encoder's quantised coefficients and gains exactly, the quantisation stays
// close to the input, and the size estimate tracks the coded length.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "isac_filterbank.h"
#include "isac_lpc_coder.h"
#include "isac_masking.h"
#include "isac_test_util.h"

using namespace isac;

TEST(IsacLpcCoder, EnvelopeRoundTripsOnSpeech) {
    const auto speech = isac_test::speech_16k(16000 * 3);
    PreFiltBankstr pre{};
    MaskFiltstr_enc md{};
    md.OldEnergy = 10;
    const int16_t pg[4] = {800, 900, 1000, 700};
    double worst_k = 0, worst_gain_db = 0, size_err = 0;
    int frames = 0;
    for (std::size_t off = 0; off + 480 <= speech.size(); off += 480) {
        int16_t pin[480], lp[264], hp[264];
        std::memcpy(pin, &speech[off], sizeof pin);
        WebRtcIsacfix_SplitAndFilter1(pin, lp, hp, &pre);
        int32_t gains[12];
        int16_t klo[72], khi[36];
        WebRtcIsacfix_GetLpcCoef(lp, hp, &md, 3000, pg, gains, klo, khi);
        int32_t qgains[12];
        int16_t qlo[72], qhi[36], model = -1;
        std::memcpy(qgains, gains, sizeof qgains);
        std::memcpy(qlo, klo, sizeof qlo);
        std::memcpy(qhi, khi, sizeof qhi);
        int32_t sizeQ11 = 0;
        ISAC_SaveEncData_t save{};
        transcode_obj tr{};
        Bitstr_enc enc;
        WebRtcIsacfix_InitBitstreamEnc(&enc);
        ASSERT_EQ(WebRtcIsacfix_EncodeLpc(qgains, qlo, qhi, &model, &sizeQ11, &enc, &save, &tr), 0);
        EXPECT_EQ(model, 0);
        const int bytes = WebRtcIsacfix_EncTerminate(&enc);

        Bitstr_dec dec;
        WebRtcIsacfix_InitBitstreamDec(&dec, enc.stream, static_cast<uint16_t>(bytes));
        int32_t dgains[12];
        int16_t dlo[72], dhi[36], dmodel = -1;
        ASSERT_EQ(WebRtcIsacfix_DecodeLpc(dgains, dlo, dhi, &dec, &dmodel), 0);
        EXPECT_EQ(dmodel, 0);
        EXPECT_EQ(0, std::memcmp(dgains, qgains, sizeof dgains));
        EXPECT_EQ(0, std::memcmp(dlo, qlo, sizeof dlo));
        EXPECT_EQ(0, std::memcmp(dhi, qhi, sizeof dhi));
        for (int k = 0; k < 12; ++k) {
            EXPECT_EQ(save.LPCcoeffs_g[k], gains[k]);
            if (gains[k] > 1000)
                worst_gain_db = std::max(worst_gain_db, std::fabs(20 * std::log10(double(qgains[k]) / gains[k])));
        }
        for (int k = 0; k < 72; ++k) worst_k = std::max(worst_k, std::fabs(qlo[k] - klo[k]) / 32768.0);
        size_err += std::fabs(sizeQ11 / 2048.0 - 8.0 * bytes);
        ++frames;
    }
    std::printf("envelope coding over %d frames: largest reflection-coefficient change %.3f, largest gain change "
                "%.2f dB, size estimate off by %.1f bits on average\n", frames, worst_k, worst_gain_db,
                size_err / frames);
    EXPECT_LT(worst_k, 0.5);
    EXPECT_LT(worst_gain_db, 6.0);
    EXPECT_LT(size_err / frames, 24.0);
}

TEST(IsacLpcCoder, ConversionsAndLogs) {
    for (int rc = -32768; rc <= 32767; rc += 97) {
        const int32_t lar = Rc2LarFix(static_cast<int16_t>(rc));
        EXPECT_NEAR(Lar2RcFix(lar), rc, 40 + std::abs(rc) / 200) << rc;
    }
    EXPECT_EQ(Rc2LarFix(0), 0);
    for (int32_t g : {1000, 65536, 131072, 1 << 20, 100000000}) {
        const int32_t l = CalcLogN(g);
        // Piecewise-linear mantissa: within 0.07 of the natural log.
        EXPECT_NEAR(l / 256.0, std::log(double(g)), 0.07);
        const int32_t back = CalcExpN(static_cast<int16_t>(l - 3017));
        EXPECT_NEAR(std::log(double(back) / g), 0.0, 0.07) << g;
    }
}
