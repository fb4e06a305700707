// Upper-band envelope: the decoder's interpolated filters and gains equal
// the encoder's, for both bandwidths; the grid quantiser's edges.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "isac_lpc_coder_ub.h"
#include "isac_masking.h"
#include "isac_tables.h"
#include "isac_test_util.h"

using namespace isac;

TEST(IsacLpcCoderUb, ShapeAndGainsRoundTrip) {
    const auto speech = isac_test::speech_16k(16000 * 2);
    for (int16_t bw : {int16_t{isac12kHz}, int16_t{isac16kHz}}) {
        MaskFiltstr_enc_UB md{};
        md.OldEnergy = 10;
        const int n = bw == isac16kHz ? 480 : 240;
        const int vecs = bw == isac16kHz ? 4 : 2;
        const int groups = bw == isac16kHz ? 2 : 1;
        int frames = 0;
        for (std::size_t off = 0; off + n <= speech.size(); off += n) {
            int16_t k[16] = {}, corr_q[12], vs[2] = {16000, 16000};
            int32_t corr[60];
            WebRtcIsacfix_GetLpcCoef_UB(&speech[off], &md, k, corr, corr_q, vs, bw);
            if (bw == isac16kHz) {  // three analysed sets plus the previous frame's last
                std::memmove(k + 4, k, sizeof(int16_t) * 12);
                for (int i = 0; i < 4; ++i) k[i] = 0;
            }
            ISAC_SaveEncDataUB_t save{};
            Bitstr_enc enc;
            WebRtcIsacfix_InitBitstreamEnc(&enc);
            int16_t params[52];
            ASSERT_EQ(WebRtcIsacfix_EncodeLpc_UB(k, &enc, params, bw, &save), 0);
            // One gain per sub-frame, from the interpolated filters.
            double gains[12];
            WebRtcIsacfix_GetLpcGain(3000, params, 6 * groups, gains, corr, corr_q, vs);
            for (int g = 0; g < 6 * groups; ++g) ASSERT_TRUE(std::isfinite(gains[g]) && gains[g] > 0);
            int index[12];
            for (int g = 0; g < groups; ++g) ASSERT_EQ(WebRtcIsac_EncodeLpcGainUb(gains + 6 * g, &enc, index + 6 * g), 0);
            const int bytes = WebRtcIsacfix_EncTerminate(&enc);

            Bitstr_dec dec;
            WebRtcIsacfix_InitBitstreamDec(&dec, enc.stream, static_cast<uint16_t>(bytes));
            int16_t dparams[52];
            int32_t dgains[12];
            ASSERT_EQ(WebRtcIsacfix_DecodeInterpolLpcUb(&dec, dparams, dgains, bw), 0);
            const int count = bw == isac16kHz ? 52 : 24;
            EXPECT_EQ(0, std::memcmp(params, dparams, sizeof(int16_t) * count));
            for (int g = 0; g < 6 * groups; ++g) EXPECT_EQ(dgains[g], static_cast<int32_t>(gains[g] * 131072.0));
            for (int i = 0; i < 4 * vecs; ++i) {
                EXPECT_GE(save.indexLPCShape[i], 0);
                EXPECT_LT(save.indexLPCShape[i], (bw == isac16kHz ? WebRtcIsac_kLpcShapeNumRecPointUb16
                                                                  : WebRtcIsac_kLpcShapeNumRecPointUb12)[i]);
            }
            ++frames;
        }
        EXPECT_GT(frames, 10);
    }
    Bitstr_enc enc;
    WebRtcIsacfix_InitBitstreamEnc(&enc);
    int16_t k[16] = {}, p[52];
    EXPECT_EQ(WebRtcIsacfix_EncodeLpc_UB(k, &enc, p, 8, nullptr), -1);
}

TEST(IsacLpcCoderUb, GridQuantiserEdges) {
    // Halfway between two points takes the upper one; outside the grid clips.
    const int32_t L0 = WebRtcIsac_kLpcShapeLeftRecPointUb12_Q17[0];
    int32_t data[8];
    int16_t idx[8];
    for (int i = 0; i < 8; ++i) data[i] = WebRtcIsac_kLpcShapeLeftRecPointUb12_Q17[i];
    data[0] = L0 + 19660 * 2 + 9830;  // exactly halfway between points 2 and 3
    data[1] = -100000000;             // far below the grid
    data[2] = 100000000;              // far above
    ASSERT_EQ(WebRtcIsac_QuantizeUncorrLar(data, idx, 12), 0);
    EXPECT_EQ(idx[0], 3);
    EXPECT_EQ(idx[1], 0);
    EXPECT_EQ(idx[2], WebRtcIsac_kLpcShapeNumRecPointUb12[2] - 1);
    EXPECT_EQ(data[0], L0 + 3 * 19660);
    EXPECT_EQ(WebRtcIsac_QuantizeUncorrLar(data, idx, 10), -1);
}
