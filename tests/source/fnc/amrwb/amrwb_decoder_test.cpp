// Decoder behaviour of its own: homing, the receive DTX state machine, and
// random serial frames of every mode and frame type over exact-size arrays.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "amrwb_decoder.h"
#include "amrwb_test_util.h"

using namespace amrwb_test;

namespace {
// The decoder homing frame of a mode as serial bits (15 bits per table word,
// first bit in bit 14; the 23.85 high-band gain bits left at 0).
std::vector<Word16> homing_frame(int mode) {
    int n = amr_wb_nb_of_bits[mode];
    std::vector<Word16> bits(n);
    for (int i = 0; i < n; ++i) bits[i] = ((amr_wb_dhf[mode][i / 15] >> (14 - i % 15)) & 1) ? 127 : -127;
    if (mode == 8) {
        // Clear the four high-band gain bits of each subframe (where the
        // masks of the homing test leave holes).
        const int masked_words[3] = {10, 17, 24};
        const Word16 masks[3] = {0x61FF, static_cast<Word16>(0xE0FF), 0x7F0F};
        for (int w = 0; w < 3; ++w)
            for (int b = 0; b < 15; ++b)
                if (!((masks[w] >> (14 - b)) & 1)) bits[15 * masked_words[w] + b] = -127;
    }
    return bits;
}

struct Decoder {
    std::unique_ptr<wb_amr_Decoder_State> st = std::make_unique<wb_amr_Decoder_State>();
    Decoder() { amr_wb_Init_decoder(st.get()); }
    std::vector<Word16> run(int mode, const std::vector<Word16>& bits, Word16 type = RX_SPEECH_GOOD) {
        std::vector<Word16> out(320);
        Word16 len = 0;
        amr_wb_decoder(static_cast<Word16>(mode), bits.data(), out.data(), &len, st.get(), type, nullptr);
        EXPECT_EQ(len, 320);
        return out;
    }
};

bool all_homing_pattern(const std::vector<Word16>& v) {
    for (Word16 s : v)
        if (s != 0x0008) return false;
    return true;
}
}  // namespace

TEST(AmrwbDecoder, HomingFramesOfEveryMode) {
    Rng rng(60);
    for (int mode = 0; mode <= 8; ++mode) {
        std::vector<Word16> home = homing_frame(mode);
        ASSERT_EQ(amr_wb_decoder_homing_frame_test(home.data(), static_cast<Word16>(mode)), 1) << mode;
        ASSERT_EQ(amr_wb_decoder_homing_frame_test_first(home.data(), static_cast<Word16>(mode)), 1) << mode;
        // One bit off after the first subframe: only the full test notices
        // (at 23.85 both read the whole frame but for the high-band gains).
        std::vector<Word16> other = home;
        int late = mode == 8 ? 470 : amr_wb_nb_of_bits[mode] - 1;
        other[late] = static_cast<Word16>(-other[late]);
        EXPECT_EQ(amr_wb_decoder_homing_frame_test(other.data(), static_cast<Word16>(mode)), 0) << "mode " << mode;
        EXPECT_EQ(amr_wb_decoder_homing_frame_test_first(other.data(), static_cast<Word16>(mode)), mode == 8 ? 0 : 1);
        // The last subframe's high-band gain is never compared.
        std::vector<Word16> gain = home;
        if (mode == 8) {
            gain[476] = static_cast<Word16>(-gain[476]);
            EXPECT_EQ(amr_wb_decoder_homing_frame_test(gain.data(), 8), 1);
        }

        // In the home state a homing frame gives the homing pattern.
        Decoder d;
        EXPECT_TRUE(all_homing_pattern(d.run(mode, home))) << mode;
        // A speech frame leaves the home state and is decoded.
        std::vector<Word16> speech(amr_wb_nb_of_bits[mode]);
        for (Word16& b : speech) b = rng.uniform(0, 1) ? 127 : -127;
        std::vector<Word16> first = d.run(mode, speech);
        EXPECT_FALSE(all_homing_pattern(first));
        // A homing frame outside the home state is decoded, then resets:
        // the next frame decodes as in a fresh decoder.
        d.run(mode, speech);
        EXPECT_FALSE(all_homing_pattern(d.run(mode, home)));
        Decoder fresh;
        EXPECT_EQ(d.run(mode, speech), fresh.run(mode, speech)) << mode;
    }
    EXPECT_EQ(amr_wb_decoder_homing_frame_test(homing_frame(0).data(), 9), 0);
}

TEST(AmrwbDecoder, ReceiveDtxStateMachine) {
    wb_amr_dtx_decState st;
    amr_wb_dtx_dec_reset(&st);
    auto step = [&](Word16 type) {
        Word16 s = amr_wb_rx_dtx_handler(&st, type);
        st.dtxGlobalState = s;  // as the decoder stores it at the end of each frame
        return s;
    };
    EXPECT_EQ(step(RX_SPEECH_GOOD), 0);
    EXPECT_EQ(step(RX_NO_DATA), 0);  // no data while in speech: concealed speech
    EXPECT_EQ(step(RX_SID_FIRST), 1);
    EXPECT_EQ(step(RX_NO_DATA), 1);
    EXPECT_EQ(step(RX_SPEECH_LOST), 1);
    EXPECT_EQ(step(RX_SID_UPDATE), 1);
    EXPECT_EQ(st.since_last_sid, 4);  // cleared by the SID decoding, not the handler
    st.since_last_sid = 0;
    for (int i = 0; i < 50; ++i) ASSERT_EQ(step(RX_NO_DATA), 1) << i;
    EXPECT_EQ(step(RX_NO_DATA), 2);  // 51 frames without an update: mute
    EXPECT_EQ(step(RX_SID_BAD), 2);
    EXPECT_EQ(step(RX_SID_FIRST), 2);
    EXPECT_EQ(step(RX_SID_UPDATE), 1);  // an update ends the mute
    EXPECT_EQ(step(RX_SPEECH_BAD), 2);  // still no decoded update: mute again
    st.since_last_sid = 0;              // as the SID decoding does on an update
    EXPECT_EQ(step(RX_SPEECH_BAD), 1);
    EXPECT_EQ(step(RX_SPEECH_GOOD), 0);
    EXPECT_EQ(st.since_last_sid, 0);

    // The hangover mirror: no data after seven silent speech frames counts as DTX.
    amr_wb_dtx_dec_reset(&st);
    st.decAnaElapsedCount = 0;
    st.dtx_vad_hist = 7;
    step(RX_NO_DATA);
    EXPECT_EQ(st.dtxHangoverCount, 6);
    st.dtx_vad_hist = 6;
    step(RX_NO_DATA);
    EXPECT_EQ(st.dtxHangoverCount, 7);
}

TEST(AmrwbDecoder, RandomSerialFramesOfEveryModeAndType) {
    Rng rng(61);
    Decoder d;
    for (int trial = 0; trial < 400; ++trial) {
        int mode = rng.uniform(0, 9);
        Word16 type = static_cast<Word16>(rng.uniform(0, 7));
        if (mode == 9 && type < RX_SID_FIRST) type = RX_SID_UPDATE;
        // Exactly the frame's bits, of any value (the decoder reads >= 0 as 1).
        Exact<Word16> bits(amr_wb_nb_of_bits[mode]);
        rng.fill(bits.get(), amr_wb_nb_of_bits[mode]);
        Exact<Word16> out(320);
        Word16 len = 0;
        Word16 m = static_cast<Word16>(mode == 9 && type != RX_SID_FIRST && rng.uniform(0, 1) ? rng.uniform(0, 8) : mode);
        if (m != mode) {
            // A speech mode with SID bits: the decoder reads only the SID's 35.
            Exact<Word16> wide(amr_wb_nb_of_bits[m]);
            rng.fill(wide.get(), amr_wb_nb_of_bits[m]);
            amr_wb_decoder(m, wide.get(), out.get(), &len, d.st.get(), type, nullptr);
        } else {
            amr_wb_decoder(m, bits.get(), out.get(), &len, d.st.get(), type, nullptr);
        }
        ASSERT_EQ(len, 320);
    }
}
