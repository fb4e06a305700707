// Decoder behaviour of its own: homing, the receive DTX state machine, random
// serial frames of every mode and frame type over exact-size arrays, and the
// gain concealment of bad frames against its rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "amrwb_decoder.h"
#include "amrwb_encoder.h"
#include "amrwb_oracle_util.h"
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
    // Exactly the bits each frame type carries: a speech mode's for speech
    // frames, the SID's 35 for SID frames (with the SID mode or the last
    // speech mode), and a single word for lost and empty frames, whose bits
    // the decoder does not read.
    Rng rng(61);
    Decoder d;
    for (int trial = 0; trial < 600; ++trial) {
        Word16 type = static_cast<Word16>(rng.uniform(0, 7));
        bool sid = type >= RX_SID_FIRST && type <= RX_SID_BAD;
        bool empty = type == RX_SPEECH_LOST || type == RX_NO_DATA;
        Word16 mode = static_cast<Word16>(sid ? (rng.uniform(0, 1) ? 9 : rng.uniform(0, 8)) : rng.uniform(0, 9));
        int n = empty ? 1 : sid ? 35 : amr_wb_nb_of_bits[mode];
        Exact<Word16> bits(n);
        rng.fill(bits.get(), n);  // words of any value: >= 0 reads as 1
        Exact<Word16> out(320);
        Word16 len = 0;
        amr_wb_decoder(mode, bits.get(), out.get(), &len, d.st.get(), type, nullptr);
        ASSERT_EQ(len, 320);
    }
}

namespace {
// The gain concealment of a bad frame written out from its rules: per subframe
// the pitch gain is the median of the last five (at most 15565) times the
// frame's fade step, the code gain the median of the last five times its fade
// step (none when more than two frames without voice activity came before);
// both medians' values, the pitch one unfaded, enter the histories, and the
// predictor's energy is the mean of the last four less 3072 (at least -14336).
constexpr Word16 kPitchFadeUsable[7] = {32767, 32113, 31457, 24576, 7537, 1638, 328};
constexpr Word16 kPitchFadeUnusable[7] = {32767, 31130, 29491, 24576, 7537, 1638, 328};
constexpr Word16 kCodeFadeUsable[7] = {32767, 32113, 32113, 32113, 32113, 32113, 22938};
constexpr Word16 kCodeFadeUnusable[7] = {32767, 16384, 8192, 8192, 8192, 4915, 3277};

Word16 q15(Word16 a, Word16 b) { return static_cast<Word16>((a * b) >> 15); }  // factors below 1

Word16 median_of_five(const Word16* v) {
    std::array<Word16, 5> s;
    std::copy(v, v + 5, s.begin());
    std::sort(s.begin(), s.end());
    return s[2];
}

// The gain memory after a bad frame and the four pitch gains it used.
std::array<Word16, 23> conceal_model(std::array<Word16, 23> mem, int state, bool unusable, int vad_hist,
                                     std::array<Word16, 4>& gain_pit) {
    Word16 *energy = mem.data(), *pitch = mem.data() + 7, *code = mem.data() + 12;
    for (int sf = 0; sf < 4; ++sf) {
        const Word16 past_pit = std::min<Word16>(median_of_five(pitch), 15565);
        gain_pit[sf] = q15((unusable ? kPitchFadeUnusable : kPitchFadeUsable)[state], past_pit);
        Word16 past_code = median_of_five(code);
        if (vad_hist <= 2) past_code = q15((unusable ? kCodeFadeUnusable : kCodeFadeUsable)[state], past_code);
        const int mean = (energy[0] + energy[1] + energy[2] + energy[3]) >> 2;
        std::copy_backward(energy, energy + 3, energy + 4);
        energy[0] = static_cast<Word16>(std::max(mean - 3072, -14336));
        std::copy(pitch + 1, pitch + 5, pitch);
        pitch[4] = past_pit;
        std::copy(code + 1, code + 5, code);
        code[4] = past_code;
        mem[4] = past_pit;
        mem[5] = past_code;
    }
    return mem;
}
}  // namespace

// Bursts of bad, lost, empty and degraded frames in a stream of our encoder,
// frame by frame against the rules: the bad-frame state (one more per bad frame
// up to 6, halved per good frame) selects the fade steps, and the gains of each
// concealed subframe follow the median rule above; before two bursts the
// frames say "no voice activity": after two such frames the code gain still
// fades, after five it does not.
TEST(AmrwbDecoder, ConcealedGainsFadeByStateAndMedian) {
    const std::vector<short> speech = load_speech16(120);
    ASSERT_GE(speech.size(), 320u * 120) << speech16_missing();
    struct Burst {
        int first, length;
        Word16 type;
    };
    const Burst bursts[] = {{20, 1, RX_SPEECH_BAD},   {30, 3, RX_SPEECH_LOST},
                            {45, 9, RX_NO_DATA},      {70, 2, RX_SPEECH_PROBABLY_DEGRADED},
                            {62, 1, RX_SPEECH_BAD},   {85, 7, RX_SPEECH_BAD},
                            {105, 3, RX_SPEECH_LOST}};
    for (int mode : {2, 8}) {
        auto enc = std::make_unique<wb_amr_Coder_State>();
        amr_wb_Init_coder(enc.get());
        Decoder d;
        int concealed = 0, faded_to_floor = 0, unfaded_code = 0;
        for (int f = 0; f < 120; ++f) {
            Word16 m = static_cast<Word16>(mode), ser = 0;
            std::vector<Word16> bits(477, -127);
            amr_wb_coder(&m, &speech[320 * f], bits.data(), &ser, enc.get(), 0, nullptr);
            Word16 type = RX_SPEECH_GOOD;
            for (const Burst& b : bursts)
                if (f >= b.first && f < b.first + b.length) type = b.type;
            // VAD flag 0 in two frames before one burst (the fade still applies)
            // and in five before the last (it stops).
            if ((f >= 60 && f < 62) || (f >= 100 && f < 105)) bits[0] = -127;
            const bool bfi = type != RX_SPEECH_GOOD, unusable = type == RX_SPEECH_LOST || type == RX_NO_DATA;
            std::array<Word16, 23> before;
            std::copy(d.st->dec_gain, d.st->dec_gain + 23, before.begin());
            const int state = bfi ? std::min(d.st->state + 1, 6) : d.st->state >> 1;
            const int vad_hist = d.st->vad_hist;
            d.run(mode, bits, type);
            ASSERT_EQ(d.st->dtx_decSt.dtxGlobalState, 0) << "frame " << f;
            ASSERT_EQ(d.st->state, state) << "mode " << mode << " frame " << f;
            if (!bfi) continue;
            ++concealed;
            std::array<Word16, 4> gain_pit;
            const std::array<Word16, 23> model = conceal_model(before, state, unusable, vad_hist, gain_pit);
            for (int i = 0; i < 23; ++i) ASSERT_EQ(d.st->dec_gain[i], model[i]) << "mode " << mode << " frame " << f << " word " << i;
            // The phase dispersion keeps the pitch gains used, newest first.
            for (int sf = 0; sf < 4; ++sf) ASSERT_EQ(d.st->disp_mem[2 + sf], gain_pit[3 - sf]) << "frame " << f << " subframe " << sf;
            faded_to_floor += state == 6;
            unfaded_code += vad_hist > 2;
        }
        EXPECT_EQ(concealed, 26);
        EXPECT_GT(faded_to_floor, 0);
        EXPECT_GT(unfaded_code, 0);
    }
}

TEST(AmrwbDecoder, BadFrameGainStepsOfEveryState) {
    // Full histories show each step exactly: the code gain's median 32767 comes
    // out as its step less one, and pitch medians above the limit are held at
    // 15565 before their step.
    for (int state = 0; state <= 6; ++state)
        for (bool unusable : {false, true})
            for (Word16 pitch : {32767, 15565, 14000, 12345, 11000, 9999, 8765, 7001}) {
                Word16 mem[23] = {};
                for (int i = 7; i < 12; ++i) mem[i] = pitch;
                for (int i = 12; i < 17; ++i) mem[i] = 32767;
                Word16 gain_pit = 0;
                Word32 gain_cod = 0;
                amr_wb_D_gain2_bfi(&gain_pit, &gain_cod, static_cast<Word16>(state), unusable, 0, 4096, mem);
                const Word16 held = std::min<Word16>(pitch, 15565);
                EXPECT_EQ(gain_pit, q15((unusable ? kPitchFadeUnusable : kPitchFadeUsable)[state], held))
                    << "state " << state << " unusable " << unusable << " pitch " << pitch;
                EXPECT_EQ(mem[5], (unusable ? kCodeFadeUnusable : kCodeFadeUsable)[state] - 1)
                    << "state " << state << " unusable " << unusable;
                EXPECT_EQ(mem[11], held);
                EXPECT_EQ(mem[16], mem[5]);
            }
}
