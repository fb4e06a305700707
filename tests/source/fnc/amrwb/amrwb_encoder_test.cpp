// Encoder behaviour of its own: bit counts, homing, DTX switches and the
// frame-type scheduler, pulse coders against the decoders, random input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "amrwb_decoder.h"
#include "amrwb_enc_internal.h"
#include "amrwb_encoder.h"
#include "amrwb_shared.h"
#include "amrwb_test_util.h"

using namespace amrwb_test;

namespace {
struct Encoder {
    std::unique_ptr<wb_amr_Coder_State> st = std::make_unique<wb_amr_Coder_State>();
    Encoder() { amr_wb_Init_coder(st.get()); }
    std::vector<Word16> run(Word16* mode, const Word16* pcm, Word16 dtx = 0) {
        std::vector<Word16> prms(477, 0);
        Word16 ser = 0;
        amr_wb_coder(mode, pcm, prms.data(), &ser, st.get(), dtx, nullptr);
        EXPECT_EQ(ser, amr_wb_nb_of_bits[*mode]);
        prms.resize(ser);
        for (Word16 b : prms) EXPECT_TRUE(b == 127 || b == -127);
        return prms;
    }
};

std::vector<Word16> sine(int n, int period, int amp) {
    std::vector<Word16> v(n);
    for (int i = 0; i < n; ++i) v[i] = static_cast<Word16>(static_cast<int>(amp * std::sin(6.2831853 * i / period)) & ~3);
    return v;
}
}  // namespace

TEST(AmrwbEncoder, HomingFrameIsCodedThenResetsTheEncoder) {
    std::vector<Word16> home(320, 0x0008), tone = sine(320 * 4, 37, 9000);
    EXPECT_EQ(amr_wb_encoder_homing_frame_test(home.data()), 1);
    home[100] = 0x000C;
    EXPECT_EQ(amr_wb_encoder_homing_frame_test(home.data()), 0);
    home[100] = 0x0008;
    for (Word16 mode : {0, 4, 8}) {
        Encoder e;
        Word16 m = mode;
        e.run(&m, tone.data());
        e.run(&m, tone.data() + 320);
        e.run(&m, home.data());  // coded like any other frame, then reset
        Encoder fresh;
        Word16 m2 = mode;
        EXPECT_EQ(e.run(&m, tone.data() + 640), fresh.run(&m2, tone.data() + 640)) << mode;
    }
}

TEST(AmrwbEncoder, DtxOnlyWhenAllowedAndTheFrameTypeSchedule) {
    std::vector<Word16> silence(320, 0);
    for (Word16 mode : {0, 8}) {
        Encoder e;
        for (int f = 0; f < 40; ++f) {
            Word16 m = mode;
            e.run(&m, silence.data(), 0);
            ASSERT_EQ(m, mode);  // never SID with DTX off; the VAD flag is still written
        }
    }
    // With DTX the encoder switches to SID after the hangover; the scheduler
    // sends SID first, then no data, and an update every eighth frame.
    Encoder e;
    wb_amr_TX_State tx;
    amr_wb_Reset_write_serial(&tx);
    std::vector<Word16> types;
    for (int f = 0; f < 40; ++f) {
        Word16 m = 2, type = 0;
        e.run(&m, silence.data(), 1);
        amr_wb_Dtx_update(m, &type, &tx);
        types.push_back(type);
    }
    auto first_sid = std::find(types.begin(), types.end(), 1);
    ASSERT_NE(first_sid, types.end());
    int at = static_cast<int>(first_sid - types.begin());
    for (int k = 1; k <= 2; ++k) EXPECT_EQ(types[at + k], 3) << k;
    EXPECT_EQ(types[at + 3], 2);  // the counter of 3 after the first SID
    for (int k = 4; k <= 10; ++k) EXPECT_EQ(types[at + k], 3) << k;
    EXPECT_EQ(types[at + 11], 2);  // then every eighth frame
    Word16 type = 0;
    amr_wb_Dtx_update(5, &type, &tx);
    EXPECT_EQ(type, 0);
}

TEST(AmrwbEncoder, PulseCodersInvertTheDecoders) {
    Rng rng(80);
    auto same_pulses = [](std::vector<Word16> a, std::vector<Word16> b) {
        // Equal as multisets of signed positions, with coinciding pulses of
        // opposite sign allowed to differ only in their order.
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        return a == b;
    };
    for (int trial = 0; trial < 3000; ++trial) {
        int n = 1 + trial % 6;
        std::vector<Word16> pos(n);
        // Any positions and signs; pulses on one position share a sign, as
        // the search builds them (the sign comes from the position).
        Word16 sign_of[16];
        for (Word16& s : sign_of) s = rng.uniform(0, 1) ? 16 : 0;
        for (Word16& p : pos) {
            Word16 q = static_cast<Word16>(rng.uniform(0, 15));
            p = static_cast<Word16>(q | sign_of[q]);
        }
        std::sort(pos.begin(), pos.end());
        Word16 out[6];
        Word32 index;
        switch (n) {
            case 1:
                index = amr_wb_quant_1p_N1(pos[0], 4);
                amr_wb_dec_1p_N1(index, 4, 0, out);
                break;
            case 2:
                index = amr_wb_quant_2p_2N1(4, pos[0], pos[1]);
                amr_wb_dec_2p_2N1(index, 4, 0, out);
                break;
            case 3:
                index = amr_wb_quant_3p_3N1(4, pos[0], pos[1], pos[2]);
                amr_wb_dec_3p_3N1(index, 4, 0, out);
                break;
            case 4:
                index = amr_wb_quant_4p_4N(pos.data(), 4);
                amr_wb_dec_4p_4N(index, 4, 0, out);
                break;
            case 5:
                index = amr_wb_quant_5p_5N(pos.data(), 4);
                amr_wb_dec_5p_5N(index, 4, 0, out);
                break;
            default:
                index = amr_wb_quant_6p_6N_2(pos.data(), 4);
                amr_wb_dec_6p_6N_2(index, 4, 0, out);
                break;
        }
        const int bits[7] = {0, 5, 9, 13, 16, 20, 22};
        ASSERT_LT(index, Word32{1} << bits[n]) << n;
        ASSERT_TRUE(same_pulses(pos, std::vector<Word16>(out, out + n))) << "pulses " << n << " trial " << trial;
    }
}

TEST(AmrwbEncoder, RandomAndFullScaleInputOfEveryMode) {
    Rng rng(81);
    Encoder e;
    for (int f = 0; f < 120; ++f) {
        Exact<Word16> pcm(320);
        int kind = f % 3;
        for (int i = 0; i < 320; ++i)
            pcm[i] = static_cast<Word16>((kind == 0 ? rng.word() : kind == 1 ? (i % 2 ? 32764 : -32768) : rng.word(200))
                                         & ~3);
        Word16 mode = static_cast<Word16>(f % 9);
        Exact<Word16> prms(477);
        Word16 ser = 0;
        amr_wb_coder(&mode, pcm.get(), prms.get(), &ser, e.st.get(), static_cast<Word16>(f % 2), nullptr);
        ASSERT_EQ(ser, amr_wb_nb_of_bits[mode]);
    }
}

TEST(AmrwbEncoder, PitchGainFollowsTheRatioOfTargetToFilteredExcitation) {
    // The gain is <xn,y1>/<y1,y1>: a target at a quarter (or a sixteenth) of
    // the filtered excitation gives 0.25 (0.0625) in Q14, whatever the
    // magnitudes' exponents; a target above 1.2 times it is limited.
    Word16 y1[64], xn[64], g[4];
    for (int i = 0; i < 64; ++i) y1[i] = static_cast<Word16>(((i * 37) % 61 - 30) * 200);
    for (int div : {4, 16}) {
        for (int i = 0; i < 64; ++i) xn[i] = static_cast<Word16>(y1[i] / div);
        Word16 gain = amr_wb_G_pitch(xn, y1, g);
        EXPECT_NEAR(gain, 16384 / div, 16384 / div / 50 + 2) << "target 1/" << div;
        EXPECT_LT(g[3], g[1]) << "the weaker correlation has the smaller exponent";
    }
    for (int i = 0; i < 64; ++i) xn[i] = static_cast<Word16>(y1[i] / 8);
    for (int i = 0; i < 64; ++i) y1[i] = static_cast<Word16>(y1[i] / 16);
    EXPECT_EQ(amr_wb_G_pitch(xn, y1, g), 19661);
    for (int i = 0; i < 64; ++i) xn[i] = static_cast<Word16>(-xn[i]);
    EXPECT_EQ(amr_wb_G_pitch(xn, y1, g), 0);
}
