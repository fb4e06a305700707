// Encoder pieces with expected values worked out by hand: the 4.75 kbit/s
// predictor update from an unquantised gain, and the encoder's reset and homing.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "amrefr_encoder.h"

namespace {

GSMAMR_gc_predState reset_pred() {
    GSMAMR_gc_predState st;
    amrefr_gc_pred_reset(&st);
    return st;
}

}  // namespace

TEST(AmrnbEncoderGain, UnquantisedPredictorTakesTheFloorForANonPositiveGain) {
    GSMAMR_gc_predState st = reset_pred();
    amrefr_MR475_update_unq_pred(&st, 10, 5000, 3, 0);
    EXPECT_EQ(st.past_qua_en[0], -5443);
    EXPECT_EQ(st.past_qua_en_MR122[0], -32768);
    EXPECT_EQ(st.past_qua_en[1], -14336);
    amrefr_MR475_update_unq_pred(&st, 10, 5000, 3, -7);
    EXPECT_EQ(st.past_qua_en[0], -5443);
    EXPECT_EQ(st.past_qua_en[1], -5443);
}

TEST(AmrnbEncoderGain, UnquantisedPredictorStoresTheLogOfTheGainRatio) {
    // frac_gcode0 0 gives gcode0 = 16384 (Q14).  With exp_gcode0 14 the gain
    // 8192·2^1 equals the prediction: ratio 1, log 0.
    GSMAMR_gc_predState st = reset_pred();
    amrefr_MR475_update_unq_pred(&st, 14, 0, 1, 8192);
    EXPECT_EQ(st.past_qua_en_MR122[0], 0);
    EXPECT_EQ(st.past_qua_en[0], 0);
    // Twice the prediction: log2 = 1 (1024 in Q10), 20·log10(2) ≈ 6.02 dB (6165 in Q10).
    st = reset_pred();
    amrefr_MR475_update_unq_pred(&st, 14, 0, 2, 8192);
    EXPECT_EQ(st.past_qua_en_MR122[0], 1024);
    EXPECT_NEAR(st.past_qua_en[0], 6165, 1);
    // A gain far above the prediction is limited.
    st = reset_pred();
    amrefr_MR475_update_unq_pred(&st, 0, 0, 30, 30000);
    EXPECT_EQ(st.past_qua_en_MR122[0], 18284);
    EXPECT_EQ(st.past_qua_en[0], 3037);
}

TEST(AmrnbEncoderGain, GainAdaptorHalvesAfterAZeroAlphaAndStopsAtOnsets) {
    GSMAMR_GainAdaptState st{};
    Word16 alpha = -1;
    amrefr_gain_adapt(&st, 0, 0, &alpha);
    EXPECT_EQ(alpha, 8192);  // 0.5, halved because the previous alpha was 0
    amrefr_gain_adapt(&st, 0, 0, &alpha);
    EXPECT_EQ(alpha, 16384);
    // Median of {1000, 0, 0, 0, 0} is 0: 16384 - 24660·0.
    amrefr_gain_adapt(&st, 1000, 0, &alpha);
    EXPECT_EQ(alpha, 16384);
    amrefr_gain_adapt(&st, 1000, 0, &alpha);
    amrefr_gain_adapt(&st, 1000, 0, &alpha);
    // Median now 1000 (Q13): 16384 - mult(24660, 4000) = 16384 - 3010.
    EXPECT_EQ(alpha, 16384 - 3010);
    // Negative median: 16384.
    for (int i = 0; i < 5; ++i) amrefr_gain_adapt(&st, -500, 0, &alpha);
    EXPECT_EQ(alpha, 16384);
    // An onset (gain more than doubled and above 100) raises the level: alpha 0,
    // and the next alpha is halved again.
    amrefr_gain_adapt(&st, -500, 1000, &alpha);
    EXPECT_EQ(alpha, 0);
    EXPECT_EQ(st.onset, 8);
    // Level 1 from ltpg above 2721 with the onset still counting: alpha 0.
    amrefr_gain_adapt(&st, 3000, 1000, &alpha);
    EXPECT_EQ(alpha, 0);
    EXPECT_EQ(st.onset, 7);
    // A median above 5443 gives 0 even at level 0.
    GSMAMR_GainAdaptState hi{};
    for (int i = 0; i < 5; ++i) amrefr_gain_adapt(&hi, 2000, 0, &alpha);
    for (Word16& m : hi.ltpg_mem) m = 6000;
    amrefr_gain_adapt(&hi, 2000, 0, &alpha);
    EXPECT_EQ(alpha, 0);
}

TEST(AmrnbEncoderFrame, HomingFrameGivesTheResetStateForTheNextFrame) {
    auto a = std::make_unique<GSMAMR_Speech_Encode_FrameState>();
    auto b = std::make_unique<GSMAMR_Speech_Encode_FrameState>();
    gsmamr_Speech_Encode_Frame_init(a.get(), 0);
    gsmamr_Speech_Encode_Frame_init(b.get(), 0);
    Word16 speech[160], homing[160], serial_a[AMR_SERIAL_FRAMESIZE], serial_b[AMR_SERIAL_FRAMESIZE];
    for (int i = 0; i < 160; ++i) {
        speech[i] = static_cast<Word16>((i * 997) % 8000 - 4000);
        homing[i] = 0x0008;
    }
    for (int mode : {0, 5, 7}) {
        amrefr_Speech_Encode_Frame(a.get(), static_cast<Word16>(mode), speech, serial_a, nullptr);
        amrefr_Speech_Encode_Frame(a.get(), static_cast<Word16>(mode), homing, serial_a, nullptr);
        amrefr_Speech_Encode_Frame(a.get(), static_cast<Word16>(mode), speech, serial_a, nullptr);
        gsmamr_Speech_Encode_Frame_init(b.get(), 0);
        amrefr_Speech_Encode_Frame(b.get(), static_cast<Word16>(mode), speech, serial_b, nullptr);
        EXPECT_EQ(0, std::memcmp(serial_a, serial_b, sizeof(serial_a))) << "mode " << mode;
    }
}

TEST(AmrnbEncoderFrame, FourPointSevenFiveWritesThePairGainIndexAtTheFirstSubframe) {
    auto st = std::make_unique<GSMAMR_Speech_Encode_FrameState>();
    gsmamr_Speech_Encode_Frame_init(st.get(), 0);
    Word16 speech[160], serial[AMR_SERIAL_FRAMESIZE], prm[AMR_MAX_PRM_SIZE];
    for (int f = 0; f < 4; ++f) {
        for (int i = 0; i < 160; ++i) speech[i] = static_cast<Word16>(((i + 160 * f) * 3001) % 12000 - 6000);
        for (Word16& p : prm) p = -1;
        amrefr_Speech_Encode_Frame(st.get(), MR475, speech, serial, prm);
        // 4.75 kbit/s: 3 LSF words, then lag, code, sign, gain; lag, code, sign;
        // lag, code, sign, gain; lag, code, sign (17 words).  Gain indices are 8 bits.
        for (int j : {6, 13}) {
            EXPECT_GE(prm[j], 0);
            EXPECT_LT(prm[j], 256);
        }
        for (int j = 17; j < AMR_MAX_PRM_SIZE; ++j) EXPECT_EQ(prm[j], 0) << j;
    }
}

TEST(AmrnbEncoderVad, DigitalSilenceTakesTheLowPowerExit) {
    GSMAMR_vadState1 st{};
    amrefr_vad1_reset(&st);
    st.burst_count = 3;
    st.hang_count = 5;
    st.complex_hang_count = 9;
    st.corr_hp_fast = 30000;
    Word16 buf[200] = {};
    EXPECT_EQ(amrefr_vad1(&st, buf + 40), 0);
    EXPECT_EQ(st.corr_hp_fast, 13106);
    EXPECT_EQ(st.burst_count, 0);
    EXPECT_EQ(st.hang_count, 0);
    EXPECT_EQ(st.complex_hang_count, 0);
}

TEST(AmrnbEncoderVad, PitchFlagNeedsFourCloseLagsOverTwoFrames) {
    GSMAMR_vadState1 st{};
    st.oldlag = 50;
    st.oldlag_count = 2;
    const Word16 lags[2] = {52, 53};
    amrefr_vad_pitch_detection(&st, lags);
    EXPECT_EQ(st.pitch & 0x4000, 0x4000);
    EXPECT_EQ(st.oldlag_count, 2);
    EXPECT_EQ(st.oldlag, 53);
    const Word16 far[2] = {90, 53};
    amrefr_vad_pitch_detection(&st, far);  // 53 -> 90 and 90 -> 53 both 4 or more apart
    EXPECT_EQ(st.pitch & 0x4000, 0);
    EXPECT_EQ(st.pitch & 0x2000, 0x2000);
    EXPECT_EQ(st.oldlag_count, 0);
}

TEST(AmrnbEncoderVad, ToneFlagAboveSixtyFivePercentOfTheEnergy) {
    Word16 tone = 0;
    amrefr_vad_tone_detection(&tone, 2 * 21298 * 1000 + 1, 1000 << 16);
    EXPECT_EQ(tone, 0x4000);
    tone = 0;
    amrefr_vad_tone_detection(&tone, 2 * 21298 * 1000, 1000 << 16);
    EXPECT_EQ(tone, 0);
    amrefr_vad_tone_detection_update(&tone, 1);
    EXPECT_EQ(tone, 0x2000);
}

TEST(AmrnbEncoderDtx, HangoverKeepsTheSpeechModeOnlyLongAfterTheLastSid) {
    GSMAMR_dtx_encState st;
    amrefr_dtx_enc_reset(&st);
    Word16 mode = MR122;
    // Long after the last SID (elapsed count saturated): seven silent frames
    // keep the requested mode, the eighth is the first comfort-noise frame.
    amrefr_tx_dtx_handler(&st, 1, &mode, 0);
    for (int i = 0; i < 7; ++i) {
        mode = MR122;
        EXPECT_EQ(amrefr_tx_dtx_handler(&st, 0, &mode, 0), 0);
        EXPECT_EQ(mode, MR122) << i;
    }
    mode = MR122;
    EXPECT_EQ(amrefr_tx_dtx_handler(&st, 0, &mode, 0), 1);
    EXPECT_EQ(mode, MRDTX);
    EXPECT_EQ(st.decAnaElapsedCount, 0);
    // A short talk spurt soon after: the first silent frame is already MRDTX
    // (no new SID computation).
    mode = MR122;
    amrefr_tx_dtx_handler(&st, 1, &mode, 0);
    mode = MR122;
    EXPECT_EQ(amrefr_tx_dtx_handler(&st, 0, &mode, 0), 0);
    EXPECT_EQ(mode, MRDTX);
}

TEST(AmrnbEncoderDtx, SidEnergyIndexAndPredictorMemory) {
    GSMAMR_dtx_encState st;
    amrefr_dtx_enc_reset(&st);
    for (Word16& e : st.log_en_hist) e = 1000;  // average (8·250) / 2 = 1000
    GSMAMR_Q_plsfState q{};
    GSMAMR_gc_predState pred;
    amrefr_gc_pred_reset(&pred);
    Word16 prm[5], *p = prm;
    amrefr_dtx_enc(&st, 1, &q, &pred, &p);
    EXPECT_EQ(p, prm + 5);
    EXPECT_EQ(prm[4], (1000 + 2560 + 128) >> 8);  // 14
    EXPECT_EQ(pred.past_qua_en[0], 14 * 256 - 11560);
    EXPECT_EQ(pred.past_qua_en_MR122[3], (5443 * (14 * 256 - 11560)) >> 15);
    // Without the flag the stored indices are written again.
    Word16 again[5], *p2 = again;
    amrefr_dtx_enc(&st, 0, &q, &pred, &p2);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(again[i], prm[i]);
}

TEST(AmrnbEncoderFrame, ModeOutsideTheCodecIsRefusedWithoutTouchingTheState) {
    auto a = std::make_unique<GSMAMR_Speech_Encode_FrameState>();
    auto b = std::make_unique<GSMAMR_Speech_Encode_FrameState>();
    gsmamr_Speech_Encode_Frame_init(a.get(), 0);
    gsmamr_Speech_Encode_Frame_init(b.get(), 0);
    Word16 speech[160], serial_a[AMR_SERIAL_FRAMESIZE], serial_b[AMR_SERIAL_FRAMESIZE];
    for (int i = 0; i < 160; ++i) speech[i] = static_cast<Word16>((i * 331) % 6000 - 3000);
    GSMAMR_MODE used = MR475;
    std::uint16_t ft = 77;
    for (int bad : {-1, 8, 9, 100}) {
        for (Word16& w : serial_a) w = 5;
        EXPECT_EQ(gsmamr_Speech_Encode_Frame(a.get(), static_cast<GSMAMR_MODE>(bad), speech, serial_a, &used, &ft),
                  -1);
        for (Word16 w : serial_a) EXPECT_EQ(w, 0);
        EXPECT_EQ(ft, 77);
    }
    // The refused calls left the state as it was: the next frame codes alike.
    gsmamr_Speech_Encode_Frame(a.get(), MR122, speech, serial_a, &used, &ft);
    gsmamr_Speech_Encode_Frame(b.get(), MR122, speech, serial_b, &used, &ft);
    EXPECT_EQ(0, std::memcmp(serial_a, serial_b, sizeof(serial_a)));
}
