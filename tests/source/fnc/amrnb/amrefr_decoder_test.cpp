// Decoder behaviour that the comparison with the independent decoder does not
// reach: homing, long pauses, tool edge cases and the mended single-gain control.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

#include "amrefr_basic_op.h"
#include "amrefr_decoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

struct Decoder {
    std::unique_ptr<GSMAMR_DECSTRUCT> d = std::make_unique<GSMAMR_DECSTRUCT>();
    Decoder() { gsmamr_Speech_Decode_Frame_init(&d->speech_decoder_state, &d->dtx_decSt); }
    void frame(int mode, const Word16* serial, GSMAMR_RXFrameType rx, Word16* out) {
        gsmamr_Speech_Decode_Frame(&d->speech_decoder_state, static_cast<GSMAMR_MODE>(mode), serial, rx, out);
    }
};

}  // namespace

TEST(AmrnbDecoder, HomingFramesGiveTheEncoderHomingPatternAndKeepTheHomeState) {
    for (int mode = 0; mode < 8; ++mode) {
        Decoder dec;
        Word16 serial[AMR_SERIAL_FRAMESIZE] = {}, out[160];
        amrefr_Prm2bits(static_cast<Word16>(mode), amrefr_dhf[mode], serial);
        for (int rep = 0; rep < 2; ++rep) {
            dec.frame(mode, serial, RX_SPEECH_GOOD, out);
            for (int i = 0; i < 160; ++i) ASSERT_EQ(out[i], 8) << mode;
            EXPECT_EQ(dec.d->speech_decoder_state.reset_flag_old, 1);
        }
        // Only the first subframe is tested while homed.
        Word16 prm[AMR_MAX_PRM_SIZE];
        std::memcpy(prm, amrefr_dhf[mode], sizeof(Word16) * amrefr_prmno[mode]);
        prm[amrefr_prmno[mode] - 1] ^= 1;
        amrefr_Prm2bits(static_cast<Word16>(mode), prm, serial);
        dec.frame(mode, serial, RX_SPEECH_GOOD, out);
        for (int i = 0; i < 160; ++i) ASSERT_EQ(out[i], 8);
        EXPECT_EQ(dec.d->speech_decoder_state.reset_flag_old, 1);
        // An ordinary frame is decoded and leaves the home state.
        Word16 other[AMR_SERIAL_FRAMESIZE] = {};
        dec.frame(mode, other, RX_SPEECH_GOOD, out);
        EXPECT_EQ(dec.d->speech_decoder_state.reset_flag_old, 0);
    }
}

TEST(AmrnbDecoder, LostFramesFromResetStayInComfortNoiseAndMuteAfterFiftyFrames) {
    Decoder dec;
    Word16 serial[AMR_SERIAL_FRAMESIZE] = {}, out[160];
    for (int f = 0; f < 60; ++f) {
        dec.frame(MR122, serial, RX_NO_DATA, out);
        GSMAMR_DTXStateType st = dec.d->dtx_decSt.dtxGlobalState;
        EXPECT_EQ(st, f < 50 ? DTX : DTX_MUTE) << f;
    }
    // A SID update late in a pause is still comfort noise, not mute.
    Word16 sid[5] = {0, 10, 20, 30, 40};
    amrefr_Prm2bits(MRDTX, sid, serial);
    dec.frame(MR122, serial, RX_SID_UPDATE, out);
    EXPECT_EQ(dec.d->dtx_decSt.dtxGlobalState, DTX);
    // Energy index 0 is silence.
    Word16 silent[5] = {0, 10, 20, 30, 0};
    amrefr_Prm2bits(MRDTX, silent, serial);
    dec.frame(MR122, serial, RX_SID_UPDATE, out);
    EXPECT_EQ(dec.d->dtx_decSt.log_en, -32768);
}

TEST(AmrnbDecoder, ComfortNoiseFramesKeepTheSynthesisMemory) {
    // The reset run at every comfort-noise frame keeps the filter memory, so
    // comfort noise continues across frames instead of restarting from zero.
    GSMAMR_Decoder_amrState st{};
    for (int i = 0; i < 10; ++i) st.mem_syn[i] = static_cast<Word16>(100 + i);
    st.old_exc[3] = 77;
    st.prev_bf = 1;
    amrefr_Decoder_amr_reset(&st, MRDTX);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(st.mem_syn[i], 100 + i);
    EXPECT_EQ(st.old_exc[3], 0);
    EXPECT_EQ(st.prev_bf, 0);
    amrefr_Decoder_amr_reset(&st, MR475);
    EXPECT_EQ(st.mem_syn[0], 0);
    EXPECT_EQ(st.lsp_old[0], 30000);
}

TEST(AmrnbDecoder, ParameterDecoderEdges) {
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(amrefr_d_gain_pitch(MR122, static_cast<Word16>(i)), amrefr_qua_gain_pitch[i] & ~3);
        EXPECT_EQ(amrefr_d_gain_pitch(MR795, static_cast<Word16>(i)), amrefr_qua_gain_pitch[i]);
    }
    // 10.2 kbit/s: a second pulse before the first gets the opposite sign.
    Word16 idx[7] = {0, 0, 0, 0, 0, 0, 0}, cod[40], pos[10];
    idx[4] = amrefr_compress10(2, 0, 0);  // track 0: first pulse at 4·2, second (pos[4]) at 0
    amrefr_dec_8i40_31bits(idx, cod, pos, 0);
    EXPECT_EQ(cod[8], 8191);
    EXPECT_EQ(cod[0], -8191);
    // Both pulses of a track on one position add.
    idx[4] = 0;
    amrefr_dec_8i40_31bits(idx, cod, pos, 0);
    EXPECT_EQ(cod[0], 16382);
    // 12.2 kbit/s: sign in bit 3, positions through the Gray decoding.
    Word16 i122[10] = {8 | 2, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    amrefr_dec_10i40_35bits(i122, cod, pos, 0);
    EXPECT_EQ(cod[15], -4096);  // dgray[2] = 3 → position 15
    EXPECT_EQ(cod[5], 4096);    // second pulse of track 0 before the first: opposite sign
    // Lags: 1/3 resolution, first subframe, and 1/6 resolution above the fractional range.
    Word16 T0, frac;
    amrefr_Dec_lag3(0, 0, 0, 0, 0, &T0, &frac, 0);
    EXPECT_EQ(T0, 19);
    EXPECT_EQ(frac, 1);
    amrefr_Dec_lag6(500, 18, 143, 0, &T0, &frac);
    EXPECT_EQ(T0, 132);
    EXPECT_EQ(frac, 0);
    Word16 out[12];
    Word16 old_lsf[10], new_lsf[10];
    for (int i = 0; i < 10; ++i) old_lsf[i] = static_cast<Word16>(1000 * i), new_lsf[i] = static_cast<Word16>(1000 * i + 7);
    amrefr_Int_lsf(old_lsf, new_lsf, 120, out);
    EXPECT_EQ(std::memcmp(out, new_lsf, sizeof(new_lsf)), 0);
}

TEST(AmrnbDecoder, GainControlAndDispersion) {
    // A silent filtered subframe stays silent and the smoothed gain restarts from 0.
    Word16 in[40], sig[40] = {};
    for (int i = 0; i < 40; ++i) in[i] = static_cast<Word16>(1000 * (i % 3));
    Word16 past = 4096;
    amrefr_agc(in, sig, 29491, &past);
    EXPECT_EQ(past, 0);
    for (Word16 v : sig) EXPECT_EQ(v, 0);
    // Single gain of at least 8192 (Q12: 2.0 and above): computed as
    // extract_h(L_shl(L_mult(x, g), 3)) for every sample.
    Word16 ref[40], out[40];
    for (int i = 0; i < 40; ++i) ref[i] = static_cast<Word16>(4000 * (i % 2 ? 1 : -1)), out[i] = static_cast<Word16>(ref[i] / 4);
    Word16 keep[40];
    std::memcpy(keep, out, sizeof(out));
    amrefr_agc(ref, out, 0, nullptr);
    // The gain is about 4 (16384 in Q12): the output regains the reference level.
    for (int i = 0; i < 40; ++i) EXPECT_NEAR(out[i], ref[i], 8) << i;
    // ...and it is one gain for the whole subframe: some g >= 8192 gives every sample as
    // extract_h(L_shl(L_mult(x, g), 3)) of its input x (no term saturates at these levels).
    auto scaled = [](Word16 x, Word32 g) {
        const int64_t product = static_cast<int64_t>(x) * g * 2 * 8;
        return static_cast<Word16>(product >> 16);
    };
    int matchingGains = 0;
    for (Word32 g = 8192; g <= 32767; ++g) {
        bool all = true;
        for (int i = 0; i < 40 && all; ++i) all = scaled(keep[i], g) == out[i];
        matchingGains += all ? 1 : 0;
    }
    EXPECT_GE(matchingGains, 1) << "the subframe was not scaled by one gain";
    // No dispersion for very small code gains, whatever the pitch gain.
    GSMAMR_ph_dispState st{};
    Word16 x[40] = {}, inno[40] = {}, undisp[40] = {};
    inno[5] = 4096;
    amrefr_ph_disp(&st, MR475, x, 9, 0, inno, 0, 1, undisp);
    EXPECT_EQ(inno[5], 4096);
    EXPECT_EQ(inno[6], 0);
    EXPECT_EQ(st.prevState, 2);
    // An onset (code gain more than doubled) weakens the dispersion by one step.
    GSMAMR_ph_dispState on{};
    on.prevCbGain = 100;
    on.prevState = 0;
    Word16 inno2[40] = {};
    inno2[0] = 4096;
    amrefr_ph_disp(&on, MR475, x, 300, 0, inno2, 0, 1, undisp);
    EXPECT_EQ(on.onset, 2);
    EXPECT_EQ(on.prevState, 1);
}

namespace {

// The synthesis filter 1/A(z) as the decoder states it, y[n] = round((x[n]·4096·2 -
// Σ a[j]·y[n-j]·2) << 3), in exact arithmetic with nothing saturated, so that its
// peak tells whether the 16-bit filter would have saturated.
struct ExactSynthesis {
    std::int64_t y[40];
    std::int64_t peak = 0;
};

ExactSynthesis exact_synthesis(const Word16* a, const std::int64_t* x, const Word16* mem) {
    ExactSynthesis r;
    std::int64_t buf[50];
    for (int i = 0; i < 10; ++i) buf[i] = mem[i];
    for (int n = 0; n < 40; ++n) {
        std::int64_t acc = 2 * 4096 * x[n];
        for (int j = 1; j <= 10; ++j) acc -= 2 * static_cast<std::int64_t>(a[j]) * buf[10 + n - j];
        const std::int64_t v = acc * 8 + 0x8000;
        const std::int64_t y = v >= 0 ? v / 65536 : -((-v + 65535) / 65536);  // floor(v / 2^16)
        buf[10 + n] = r.y[n] = y;
        r.peak = std::max(r.peak, y < 0 ? -y : y);
    }
    return r;
}

// One 12.2 kbit/s decoder: four loud frames through a moderate filter raise the
// code-gain predictor, then `last` is decoded.  The pitch gain index is 0 in every
// subframe, so the excitation is the algebraic code alone and does not depend on
// the LP filter nor on the excitation history.
struct SaturationRun {
    Word16 head[10];  // the decoder places the filter memory in front of the subframe
    Word16 synth[160];
    Word16 A_t[44];
    Word16 mem_before[10];
    Word16 old_exc[154];  // excitation samples 6 ... 159 of the last frame
};

SaturationRun decode_loud_frames(const Word16 (&last_lsf)[5]) {
    constexpr Word16 warm_lsf[5] = {37, 235, 396, 72, 63};
    Word16 prm[57] = {};
    for (int s = 0; s < 4; ++s) {
        Word16* p = prm + 5 + 13 * s;
        p[0] = s % 2 ? 30 : 200;  // lag
        p[1] = 0;                 // pitch gain 0
        for (int k = 0; k < 10; ++k)
            p[2 + k] = static_cast<Word16>(((3 * k + s) % 8 + (k % 2 ? 8 : 0)) & (k < 5 ? 15 : 7));
        p[12] = 31;  // largest code gain
    }
    auto dec = std::make_unique<GSMAMR_DECSTRUCT>();
    gsmamr_Speech_Decode_Frame_init(&dec->speech_decoder_state, &dec->dtx_decSt);
    GSMAMR_Decoder_amrState* st = &dec->speech_decoder_state.decoder_amrState;
    SaturationRun r{};
    for (int f = 0; f < 4; ++f) {
        Word16 frame[57];
        std::memcpy(frame, prm, sizeof(frame));
        std::memcpy(frame, warm_lsf, sizeof(warm_lsf));
        amrefr_Decoder_amr(st, MR122, frame, RX_SPEECH_GOOD, r.synth, r.A_t);
    }
    // Last frame: quieter in its first three subframes, loud in the fourth.
    std::memcpy(prm, last_lsf, sizeof(last_lsf));
    for (int s = 0; s < 3; ++s) prm[5 + 13 * s + 12] = 20;
    std::memcpy(r.mem_before, st->mem_syn, sizeof(r.mem_before));
    amrefr_Decoder_amr(st, MR122, prm, RX_SPEECH_GOOD, r.synth, r.A_t);
    std::memcpy(r.old_exc, st->old_exc, sizeof(r.old_exc));
    return r;
}

}  // namespace

// When the synthesis of a subframe saturates, the decoder scales the excitation
// history (194 samples ending with the subframe) and the subframe's excitation by
// 1/4 and filters the subframe again.  Two decoders get the same excitation: one
// through a moderate filter that never saturates (it shows the excitation), one
// through a resonant filter whose exact output in the last subframe leaves the
// 16-bit range.  The resonant decoder's last subframe must then be the exact
// synthesis of the quartered excitation, and its history the quartered history.
TEST(AmrnbDecoder, SaturatingSubframeIsSynthesisedAgainFromAQuarterOfTheExcitation) {
    const SaturationRun calm = decode_loud_frames({37, 235, 396, 72, 63});
    const SaturationRun loud = decode_loud_frames({32, 0, 375, 133, 52});
    std::int64_t exc[160] = {};
    for (int i = 0; i < 154; ++i) exc[6 + i] = calm.old_exc[i];
    // Subframe 0 is left out: its first six excitation samples are not kept.
    for (int s = 1; s < 4; ++s) {
        const ExactSynthesis c = exact_synthesis(calm.A_t + 11 * s, exc + 40 * s, calm.synth + 40 * s - 10);
        ASSERT_LT(c.peak, 32768) << s;
        for (int i = 0; i < 40; ++i) ASSERT_EQ(calm.synth[40 * s + i], c.y[i]) << s << " " << i;
    }
    for (int s = 1; s < 3; ++s) {
        const ExactSynthesis l = exact_synthesis(loud.A_t + 11 * s, exc + 40 * s, loud.synth + 40 * s - 10);
        ASSERT_LT(l.peak, 32768) << s;
        for (int i = 0; i < 40; ++i) ASSERT_EQ(loud.synth[40 * s + i], l.y[i]) << s << " " << i;
    }
    const Word16* a3 = loud.A_t + 33;
    const ExactSynthesis full = exact_synthesis(a3, exc + 120, loud.synth + 110);
    EXPECT_GT(full.peak, 36000) << "the last subframe does not saturate the synthesis";
    std::int64_t quarter[40];
    for (int i = 0; i < 40; ++i) quarter[i] = exc[120 + i] >> 2;
    const ExactSynthesis q = exact_synthesis(a3, quarter, loud.synth + 110);
    ASSERT_LT(q.peak, 32768);
    for (int i = 0; i < 40; ++i) EXPECT_EQ(loud.synth[120 + i], q.y[i]) << i;
    // The whole kept history was scaled once, by the last subframe's overflow.
    for (int i = 0; i < 154; ++i) EXPECT_EQ(loud.old_exc[i], calm.old_exc[i] >> 2) << i;
}

TEST(AmrnbDecoder, ModeOrFrameTypeOutsideTheCodecIsRefusedWithSilence) {
    auto dec = std::make_unique<GSMAMR_DECSTRUCT>();
    gsmamr_Speech_Decode_Frame_init(&dec->speech_decoder_state, &dec->dtx_decSt);
    Word16 serial[AMR_SERIAL_FRAMESIZE] = {}, out[160];
    for (Word16& v : out) v = 123;
    EXPECT_EQ(gsmamr_Speech_Decode_Frame(&dec->speech_decoder_state, static_cast<GSMAMR_MODE>(8), serial,
                                         RX_SPEECH_GOOD, out),
              -1);
    for (Word16 v : out) EXPECT_EQ(v, 0);
    for (Word16& v : out) v = 123;
    EXPECT_EQ(gsmamr_Speech_Decode_Frame(&dec->speech_decoder_state, MR122, serial,
                                         static_cast<GSMAMR_RXFrameType>(RX_N_FRAMETYPES), out),
              -1);
    for (Word16 v : out) EXPECT_EQ(v, 0);
    EXPECT_EQ(gsmamr_Speech_Decode_Frame(&dec->speech_decoder_state, MR122, serial, RX_NO_DATA, out), 0);
}
