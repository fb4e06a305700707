// GSM EFR through the shared encoder and decoder: equality with the 12.2 kbit/s
// AMR path where EFR runs the same arithmetic (DTX off, good frames), homing
// frames in both directions, comfort-noise frames and the receive control words
// of a pause, and the EFR gain concealment.
#include "orvox_fixture.h"
#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "amrefr_encoder.h"
#include "amrefr_tables.h"

namespace {

std::vector<Word16> load_fixture(const char* rel, int frames) {
    std::string path = orvox_fixture::requireFile(std::string(ORVOX_SOURCE_DIR) + rel);
    std::vector<Word16> v(static_cast<std::size_t>(frames) * 160, 0);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return {};
    std::size_t n = std::fread(v.data(), sizeof(Word16), v.size(), f);
    std::fclose(f);
    v.resize(n - n % 160);
    return v;
}

struct EfrEncoder {
    explicit EfrEncoder(Word16 dtx) : blk(std::make_unique<GSMAMR_ENCSTRUCT>()) {
        std::memset(blk.get(), 0, sizeof(*blk));
        amrefr_Speech_Encode_Frame_resetEFR(&blk->speech_encoder_state, dtx, &blk->EFRdtx_encSt);
    }
    void encode(const Word16* in, Word16* serial, Word16* prm = nullptr) {
        amrefr_Speech_Encode_Frame(&blk->speech_encoder_state, MR122, in, serial, prm, 1);
    }
    std::unique_ptr<GSMAMR_ENCSTRUCT> blk;
};

struct EfrDecoder {
    EfrDecoder() : blk(std::make_unique<GSMAMR_DECSTRUCT>()) {
        amrefr_Speech_Decode_Frame_resetEFR(&blk->speech_decoder_state, &blk->EFRdtx_decSt);
    }
    // rx: 247 words, BFI, 244 bits, SID classification, TAF.
    void decode(const Word16* rx, Word16* out) {
        amrefr_Speech_Decode_Frame(&blk->speech_decoder_state, 0, rx, out, 1);
    }
    Word16 ctrl() const { return blk->EFRdtx_decSt.rxdtx_ctrl; }
    std::unique_ptr<GSMAMR_DECSTRUCT> blk;
};

// The receive frame the EFR wrapper builds from 244 bits: SID classification
// by the number of zeros among the SID code word positions.
std::vector<Word16> rx_frame(const Word16* bits, Word16 bfi, Word16 taf) {
    std::vector<Word16> rx(250, 0);
    rx[0] = bfi;
    std::memcpy(&rx[1], bits, 244 * sizeof(Word16));
    int zeros = 0;
    for (Word16 idx : amrefr_SID_codeword_bit_idx) zeros += bits[idx] == 0;
    rx[EFR_SERIAL_SID_WORD] = zeros < 2 ? 2 : (zeros < 16 ? 1 : 0);
    rx[EFR_SERIAL_TAF_WORD] = taf;
    return rx;
}

std::vector<Word16> homing_bits() {
    std::vector<Word16> bits(250, 0);
    amrefr_Prm2bits(MR122, amrefr_homing_tab, bits.data());
    return bits;
}

bool all_eight(const Word16* x) {
    for (int i = 0; i < 160; ++i)
        if (x[i] != 8) return false;
    return true;
}

double energy(const Word16* x, int n) {
    double e = 0;
    for (int i = 0; i < n; ++i) e += double(x[i]) * x[i];
    return e / n;
}

}  // namespace

// Without DTX the EFR encoder is the 12.2 kbit/s encoder: same parameters,
// speech and VAD flags set; its decoder on good frames is the 12.2 kbit/s
// decoder sample for sample.
TEST(AmrnbEfr, WithoutDtxEqualsTheTwelvePointTwoPathBothWays) {
    auto speech = load_fixture("/tests/data/amrnb/espeak_pauses_8k.raw", 150);
    ASSERT_GE(speech.size(), 150u * 160);
    EfrEncoder efr(0);
    auto amr = std::make_unique<GSMAMR_Speech_Encode_FrameState>();
    gsmamr_Speech_Encode_Frame_init(amr.get(), 0);
    EfrDecoder efr_dec;
    auto amr_dec = std::make_unique<GSMAMR_DECSTRUCT>();
    gsmamr_Speech_Decode_Frame_init(&amr_dec->speech_decoder_state, &amr_dec->dtx_decSt);
    for (int f = 0; f < 150; ++f) {
        Word16 s1[250], s2[250], p1[57], p2[57];
        efr.encode(&speech[f * 160], s1, p1);
        amrefr_Speech_Encode_Frame(amr.get(), MR122, &speech[f * 160], s2, p2);
        ASSERT_EQ(0, std::memcmp(p1, p2, sizeof(p1))) << "frame " << f;
        ASSERT_EQ(s1[EFR_SERIAL_VAD_WORD], 1);
        ASSERT_EQ(s1[EFR_SERIAL_SP_WORD], 1);
        Word16 o1[160], o2[160];
        auto rx = rx_frame(s1, 0, 0);
        efr_dec.decode(rx.data(), o1);
        gsmamr_Speech_Decode_Frame(&amr_dec->speech_decoder_state, MR122, s2, RX_SPEECH_GOOD, o2);
        ASSERT_EQ(0, std::memcmp(o1, o2, sizeof(o1))) << "frame " << f;
    }
}

TEST(AmrnbEfr, EncoderHomingAnswersWithTheDecoderHomingFrameOnlyFromHome) {
    std::vector<Word16> home(160, 8);
    auto speech = load_fixture("/tests/data/amrnb/espeak_pauses_8k.raw", 40);
    ASSERT_FALSE(speech.empty());
    const auto expect = homing_bits();
    for (Word16 dtx : {0, 1}) {
        EfrEncoder enc(dtx);
        Word16 serial[250];
        // From reset, twice in a row.
        for (int k = 0; k < 2; ++k) {
            enc.encode(home.data(), serial);
            EXPECT_EQ(0, std::memcmp(serial, expect.data(), 244 * sizeof(Word16)));
            EXPECT_EQ(serial[EFR_SERIAL_SP_WORD], enc.blk->EFRdtx_encSt.txdtx_ctrl & 1);
        }
        // After speech the homing frame is coded as it is, then the encoder
        // is back home: the next frame is coded as by a fresh encoder.
        for (int f = 30; f < 35; ++f) enc.encode(&speech[f * 160], serial);
        enc.encode(home.data(), serial);
        EXPECT_NE(0, std::memcmp(serial, expect.data(), 244 * sizeof(Word16)));
        EfrEncoder fresh(dtx);
        Word16 a[250], b[250];
        enc.encode(&speech[20 * 160], a);
        fresh.encode(&speech[20 * 160], b);
        EXPECT_EQ(0, std::memcmp(a, b, sizeof(a)));
    }
}

TEST(AmrnbEfr, DecoderHomingFrames) {
    const auto bits = homing_bits();
    Word16 out[160];
    EfrDecoder dec;
    // From reset the homing frame gives 0x0008; the next is recognised by its
    // first subframe alone.
    auto rx = rx_frame(bits.data(), 0, 0);
    dec.decode(rx.data(), out);
    EXPECT_TRUE(all_eight(out));
    auto partial = bits;
    partial[243] ^= 1;  // last bit: the last subframe's code gain
    rx = rx_frame(partial.data(), 0, 0);
    dec.decode(rx.data(), out);
    EXPECT_TRUE(all_eight(out));
    EXPECT_EQ(dec.blk->speech_decoder_state.reset_flag_old, 1);  // still home
    // A bad frame is never a homing frame.
    EfrDecoder dec2;
    rx = rx_frame(bits.data(), 1, 0);
    dec2.decode(rx.data(), out);
    EXPECT_FALSE(all_eight(out));
    EXPECT_EQ(dec2.blk->speech_decoder_state.reset_flag_old, 0);
    // After speech a whole homing frame is decoded and resets the decoder.
    auto speech = load_fixture("/tests/data/amrnb/espeak_pauses_8k.raw", 40);
    EfrEncoder enc(0);
    EfrDecoder dec3, fresh;
    Word16 serial[250];
    for (int f = 20; f < 25; ++f) {
        enc.encode(&speech[f * 160], serial);
        rx = rx_frame(serial, 0, 0);
        dec3.decode(rx.data(), out);
    }
    rx = rx_frame(bits.data(), 0, 0);
    dec3.decode(rx.data(), out);
    EXPECT_FALSE(all_eight(out));
    EXPECT_EQ(dec3.blk->speech_decoder_state.reset_flag_old, 1);
    enc.encode(&speech[30 * 160], serial);
    rx = rx_frame(serial, 0, 0);
    Word16 a[160], b[160];
    dec3.decode(rx.data(), a);
    fresh.decode(rx.data(), b);
    EXPECT_EQ(0, std::memcmp(a, b, sizeof(a)));
    // The 12.2 kbit/s AMR homing frame is not the EFR one.
    EXPECT_NE(0, std::memcmp(amrefr_dhf_MR122, amrefr_dhf_mask, sizeof(amrefr_dhf_mask)));
}

// A pause with DTX on: hangover, SID frames with their code word and cleared
// pulse and lag parameters, old SID parameters re-sent inside a short
// hangover, and on the receive side the control words of a pause in which
// only the first SID and the SIDs in TAF frames get through.
TEST(AmrnbEfr, DtxPauseOnBothSides) {
    auto speech = load_fixture("/tests/data/amrnb/espeak_pauses_8k.raw", 300);
    ASSERT_GE(speech.size(), 300u * 160);
    // Speech, then 4 s of low noise, then speech again.
    std::vector<Word16> sig;
    sig.insert(sig.end(), speech.begin(), speech.begin() + 100 * 160);
    std::uint32_t seed = 99;
    double noise_energy = 0;
    for (int i = 0; i < 200 * 160; ++i) {
        seed = seed * 1664525u + 1013904223u;
        Word16 v = static_cast<Word16>(static_cast<int>((seed >> 16) % 401) - 200);
        noise_energy += double(v) * v;
        sig.push_back(v);
    }
    noise_energy /= 200 * 160;
    sig.insert(sig.end(), speech.begin() + 100 * 160, speech.begin() + 160 * 160);
    const int frames = static_cast<int>(sig.size() / 160);

    EfrEncoder enc(1);
    EfrDecoder dec;
    std::vector<Word16> sp, ctrl_tx, ctrl_rx;
    Word16 prev_sid_prm[57] = {};
    int sids = 0, resent = 0, transmitted_sid = 0;
    bool prev_sp = true;
    double cn_energy = 0;
    int cn_frames = 0;
    for (int f = 0; f < frames; ++f) {
        Word16 serial[250], prm[57];
        enc.encode(&sig[f * 160], serial, prm);
        const Word16 ctrl = enc.blk->EFRdtx_encSt.txdtx_ctrl;
        sp.push_back(serial[EFR_SERIAL_SP_WORD]);
        ctrl_tx.push_back(ctrl);
        ASSERT_EQ(serial[EFR_SERIAL_SP_WORD], ctrl & 1);
        ASSERT_EQ(serial[EFR_SERIAL_VAD_WORD], (ctrl >> 1) & 1);
        if (serial[EFR_SERIAL_SP_WORD] == 0) {
            ++sids;
            for (Word16 idx : amrefr_SID_codeword_bit_idx) ASSERT_EQ(serial[idx], 1);
            for (int s = 0; s < 4; ++s)
                for (int i = 5 + 13 * s; i < 17 + 13 * s; ++i) ASSERT_EQ(prm[i], 0) << f;
            if (ctrl & 0x0020) {
                ++resent;
                EXPECT_EQ(0, std::memcmp(prm, prev_sid_prm, 5 * sizeof(Word16)));
                for (int g : {17, 30, 43, 56}) EXPECT_EQ(prm[g], prev_sid_prm[56]);
            }
            if (ctrl & 0x0010) std::memcpy(prev_sid_prm, prm, sizeof(prm));
        }
        // The radio path sends speech, the first SID of a pause and the SIDs
        // in TAF frames (every 24th frame); the rest arrives as bad frames.
        const Word16 taf = (f % 24) == 23 ? 1 : 0;
        const bool sent = serial[EFR_SERIAL_SP_WORD] == 1 || prev_sp || taf;
        prev_sp = serial[EFR_SERIAL_SP_WORD] == 1;
        if (serial[EFR_SERIAL_SP_WORD] == 0 && sent) ++transmitted_sid;
        auto rx = sent ? rx_frame(serial, 0, taf) : rx_frame(serial, 1, taf);
        if (!sent) rx[EFR_SERIAL_SID_WORD] = 0;
        Word16 out[160];
        dec.decode(rx.data(), out);
        ctrl_rx.push_back(dec.ctrl());
        if (f >= 150 && f < 290) {
            cn_energy += energy(out, 160);
            ++cn_frames;
        }
    }
    // Hangover: after the last voiced frame seven more speech frames.
    int first_silent = -1;
    for (int f = 100; f < frames; ++f)
        if ((ctrl_tx[f] & 2) == 0) {
            first_silent = f;
            break;
        }
    ASSERT_GT(first_silent, 0);
    int first_sid = -1;
    for (int f = first_silent; f < frames; ++f)
        if (sp[f] == 0) {
            first_sid = f;
            break;
        }
    ASSERT_GT(first_sid, 0);
    // A SID update after a hangover follows seven silent frames still coded
    // as speech.
    int hangover_sids = 0;
    for (int f = 8; f < frames; ++f) {
        if (ctrl_tx[f] != 0x0018) continue;
        ++hangover_sids;
        EXPECT_EQ(ctrl_tx[f - 8] & 3, 3) << f;
        for (int k = 1; k <= 7; ++k) EXPECT_EQ(ctrl_tx[f - k] & 7, 5) << f;
    }
    EXPECT_GE(hangover_sids, 1);
    EXPECT_GT(sids, 100);
    EXPECT_GT(transmitted_sid, 5);
    (void)resent;
    // Receive: the first SID after speech, no transmission between SIDs, a
    // continued update in TAF frames, the first good speech frame after
    // comfort noise.
    EXPECT_EQ(ctrl_rx[first_sid] & 0x00FD, 0x0004);
    EXPECT_EQ(ctrl_rx[first_sid + 1] & 0x02FD, 0x0240);
    bool saw_cont = false, saw_first_speech = false;
    for (int f = first_sid + 1; f < frames; ++f) {
        if ((ctrl_rx[f] & 0x0008) != 0) {
            saw_cont = true;
            EXPECT_EQ(f % 24, 23) << f;
        }
        if ((ctrl_rx[f] & 0x0401) == 0x0401) saw_first_speech = true;
    }
    EXPECT_TRUE(saw_cont);
    EXPECT_TRUE(saw_first_speech);
    // The comfort noise has about the level of the input noise.
    ASSERT_GT(cn_frames, 0);
    std::printf("input noise %.0f, comfort noise %.0f (mean square)\n", noise_energy, cn_energy / cn_frames);
    EXPECT_GT(cn_energy / cn_frames, noise_energy / 10);
    EXPECT_LT(cn_energy / cn_frames, noise_energy * 10);
}

TEST(AmrnbEfr, GainDecodersConcealAndMute) {
    GSMAMR_EFRdtx_decState st;
    amrefr_reset_rx_dtx(&st);
    // Good speech: the table gain with its low bits cleared.
    for (Word16 i = 0; i < 16; ++i) {
        Word16 g = amrefr_d_gain_pitch_efr(i, 0, 0, 0, &st);
        EXPECT_EQ(g, static_cast<Word16>(amrefr_qua_gain_pitch[i] & 0xFFFC));
    }
    // After a bad frame a good gain is limited to the last good one.
    amrefr_d_gain_pitch_efr(3, 0, 0, 0, &st);  // 8192
    Word16 concealed = amrefr_d_gain_pitch_efr(15, 1, 1, 0, &st);
    EXPECT_LE(concealed, 8192);
    EXPECT_EQ(amrefr_d_gain_pitch_efr(15, 0, 0, 1, &st), 8192);
    // Bad frames in a row attenuate the pitch gain down to the pdown floor.
    Word16 g = 0;
    for (Word16 state = 1; state <= 6; ++state) g = amrefr_d_gain_pitch_efr(0, 1, state, 1, &st);
    EXPECT_LT(g, 1000);
    // Comfort noise: no pitch.
    st.rxdtx_ctrl = 0x0004;
    EXPECT_EQ(amrefr_d_gain_pitch_efr(15, 0, 0, 0, &st), 0);

    // Muting lowers the comfort-noise gain by 30057/32768 at every call.
    GSMAMR_gc_predState pred;
    amrefr_gc_pred_reset(&pred);
    Word16 code[40] = {};
    amrefr_reset_rx_dtx(&st);
    st.gain_code_muting_CN = 1000;
    st.rxdtx_ctrl = 0x0040 | 0x0080 | 0x0200;
    Word16 gain;
    Word16 expect = 1000;
    for (int k = 0; k < 5; ++k) {
        amrefr_d_gain_code_efr(&pred, 0, code, 40, &gain, 1, 5, 1, static_cast<Word16>(40 * (k % 4)), &st);
        expect = static_cast<Word16>((expect * 30057) >> 15);
        EXPECT_EQ(gain, 2 * expect);
    }
    // A first SID sets the predictor memory to its floor.
    st.rxdtx_ctrl = 0x0004;
    st.gcode0_CN = 4000;
    amrefr_d_gain_code_efr(&pred, 10, code, 40, &gain, 0, 0, 0, 0, &st);
    for (Word16 e : pred.past_qua_en_MR122) EXPECT_EQ(e, -2381);
    EXPECT_EQ(st.gain_code_new_CN, static_cast<Word16>((4000 * amrefr_qua_gain_code_g_fac[10] * 2) >> 16));
}

// Bad frames in the middle of EFR speech: concealed, bounded, and the decoder
// recovers to the clean decoding within a few good frames after the loss.
TEST(AmrnbEfr, BadFramesAreConcealedAndFadeOut) {
    auto speech = load_fixture("/tests/data/amrnb/espeak_pauses_8k.raw", 120);
    ASSERT_GE(speech.size(), 120u * 160);
    EfrEncoder enc(0);
    EfrDecoder clean, lossy;
    double lost_energy_first = 0, lost_energy_last = 0;
    for (int f = 0; f < 120; ++f) {
        Word16 serial[250], a[160], b[160];
        enc.encode(&speech[f * 160], serial);
        auto rx = rx_frame(serial, 0, 0);
        clean.decode(rx.data(), a);
        const bool lost = f >= 60 && f < 70;
        auto rxl = rx_frame(serial, lost ? 1 : 0, 0);
        lossy.decode(rxl.data(), b);
        if (f == 60) lost_energy_first = energy(b, 160);
        if (f == 69) lost_energy_last = energy(b, 160);
        if (f < 60) {
            ASSERT_EQ(0, std::memcmp(a, b, sizeof(a))) << f;
        }
    }
    EXPECT_LT(lost_energy_last, lost_energy_first / 10 + 1);
}

// Full-scale, noise and silent inputs through the EFR encoder with DTX, and
// random receive frames (any bits, bad-frame, SID and TAF words) through the
// decoder: every frame codes and decodes, and the decoder still homes after it.
TEST(AmrnbEfr, ExtremeAndRandomFramesCodeAndDecode) {
    std::vector<Word16> sig;
    for (int i = 0; i < 40 * 160; ++i) sig.push_back((i / 20) % 2 ? 32767 : -32768);
    std::uint32_t seed = 7;
    auto rnd = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int i = 0; i < 40 * 160; ++i) sig.push_back(static_cast<Word16>(rnd() & 0xFFFF));
    sig.insert(sig.end(), 60 * 160, 0);
    EfrEncoder enc(1);
    EfrDecoder dec;
    int sid = 0;
    for (std::size_t f = 0; f * 160 < sig.size(); ++f) {
        Word16 serial[250], out[160];
        enc.encode(&sig[f * 160], serial);
        for (int i = 0; i < 246; ++i) ASSERT_TRUE(serial[i] == 0 || serial[i] == 1) << f;
        sid += serial[EFR_SERIAL_SP_WORD] == 0;
        auto rx = rx_frame(serial, 0, (f % 24) == 23);
        dec.decode(rx.data(), out);
    }
    EXPECT_GT(sid, 10);  // the silent end is a pause
    for (int f = 0; f < 300; ++f) {
        std::vector<Word16> rx(250);
        for (int i = 1; i <= 244; ++i) rx[i] = static_cast<Word16>(rnd() & 1);
        rx[0] = static_cast<Word16>(rnd() % 4 == 0);
        rx[EFR_SERIAL_SID_WORD] = static_cast<Word16>(rnd() % 3);
        rx[EFR_SERIAL_TAF_WORD] = static_cast<Word16>(rnd() % 2);
        Word16 out[160];
        dec.decode(rx.data(), out);
    }
    const auto bits = homing_bits();
    auto rx = rx_frame(bits.data(), 0, 0);
    Word16 out[160];
    dec.decode(rx.data(), out);
    dec.decode(rx.data(), out);
    EXPECT_TRUE(all_eight(out));
}

// A state reset for one codec driven as the other: nothing is coded or
// decoded (zero bits, silence) instead of reaching for a DTX state it lacks.
TEST(AmrnbEfr, StateResetForTheOtherCodecIsRefused) {
    std::vector<Word16> in(160, 1000);
    auto amr = std::make_unique<GSMAMR_Speech_Encode_FrameState>();
    gsmamr_Speech_Encode_Frame_init(amr.get(), 1);
    Word16 serial[250];
    std::fill(serial, serial + 250, 7);
    amrefr_Speech_Encode_Frame(amr.get(), MR122, in.data(), serial, nullptr, 1);
    for (Word16 w : serial) EXPECT_EQ(w, 0);

    EfrDecoder efr;
    auto amr_dec = std::make_unique<GSMAMR_DECSTRUCT>();
    gsmamr_Speech_Decode_Frame_init(&amr_dec->speech_decoder_state, &amr_dec->dtx_decSt);
    std::vector<Word16> rx(250, 1);
    Word16 out[160];
    std::fill(out, out + 160, 7);
    amrefr_Speech_Decode_Frame(&amr_dec->speech_decoder_state, 0, rx.data(), out, 1);
    for (Word16 v : out) EXPECT_EQ(v, 0);
    std::fill(out, out + 160, 7);
    gsmamr_Speech_Decode_Frame(&efr.blk->speech_decoder_state, MR122, rx.data(), RX_SPEECH_GOOD, out);
    for (Word16 v : out) EXPECT_EQ(v, 0);
}
