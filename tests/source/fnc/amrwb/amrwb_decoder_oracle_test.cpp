// The decoder against the independent decoder (test-only link), sample for
// sample, on streams of the independent encoder in all nine modes.
#include <gtest/gtest.h>
#include <opencore-amrwb/dec_if.h>
#include <vo-amrwbenc/enc_if.h>

#include <memory>
#include <vector>

#include "amrwb_decoder.h"
#include "amrwb_oracle_util.h"

using namespace amrwb_test;

namespace {
struct Frame {
    std::vector<unsigned char> storage;
    int mode;
};

std::vector<Frame> encode_with_peer(const std::vector<short>& speech, int mode, int dtx) {
    std::vector<Frame> out;
    void* enc = E_IF_init();
    for (std::size_t i = 0; i + 320 <= speech.size(); i += 320) {
        unsigned char buf[64];
        int n = E_IF_encode(enc, mode, &speech[i], buf, dtx);
        out.push_back({std::vector<unsigned char>(buf, buf + n), (buf[0] >> 3) & 15});
    }
    E_IF_exit(enc);
    return out;
}
// Frame type and mode of a storage-format frame.  Lost and empty frames
// repeat the last speech mode; so do SID frames, whose bits the decoder reads
// whatever the mode: the independent decoder keeps the 23.85 high band (gain
// table and 7 kHz low-pass) through comfort noise after 23.85 speech.
struct Received {
    Word16 mode, type, bits_mode;
};
Received receive(const unsigned char* frame, Word16 prev_mode) {
    int ft = (frame[0] >> 3) & 15;
    bool q = (frame[0] >> 2) & 1;
    if (ft <= 8) return {static_cast<Word16>(ft), q ? RX_SPEECH_GOOD : RX_SPEECH_BAD, static_cast<Word16>(ft)};
    if (ft == 9) {
        bool sti = (frame[5] >> 4) & 1;
        return {prev_mode, !q ? RX_SID_BAD : (sti ? RX_SID_UPDATE : RX_SID_FIRST), 9};
    }
    return {prev_mode, ft == 14 ? RX_SPEECH_LOST : RX_NO_DATA, prev_mode};
}

// Decodes a stream on both sides; returns the indices of frames that differ.
std::vector<int> compare_stream(const std::vector<std::vector<unsigned char>>& stream) {
    std::vector<int> bad;
    void* peer = D_IF_init();
    auto st = std::make_unique<wb_amr_Decoder_State>();
    amr_wb_Init_decoder(st.get());
    Word16 prev_mode = 0;
    for (std::size_t f = 0; f < stream.size(); ++f) {
        const unsigned char* fr = stream[f].data();
        short theirs[320];
        Received rx = receive(fr, prev_mode);
        // The independent decoder takes a bad frame from its argument.
        D_IF_decode(peer, fr, theirs, (fr[0] >> 2) & 1 ? 0 : 1);
        std::vector<Word16> bits(477, -127);
        if (rx.type != RX_NO_DATA && rx.type != RX_SPEECH_LOST) bits = serial_of(fr, rx.bits_mode);
        Word16 ours[320], len = 0;
        amr_wb_decoder(rx.mode, bits.data(), ours, &len, st.get(), rx.type, nullptr);
        bool same = true;
        // The independent decoder clears the two low bits of its output.
        for (int i = 0; i < 320; ++i) same = same && (ours[i] & ~3) == theirs[i];
        if (!same) {
            bad.push_back(static_cast<int>(f));
            if (bad.size() <= 3) std::printf("  frame %zu type %d mode %d differs\n", f, rx.type, rx.mode);
        }
        prev_mode = rx.mode;
    }
    D_IF_exit(peer);
    return bad;
}

std::vector<std::vector<unsigned char>> storage(const std::vector<Frame>& frames) {
    std::vector<std::vector<unsigned char>> s;
    for (const Frame& f : frames) s.push_back(f.storage);
    return s;
}
}  // namespace

// Concealment is measured, not asserted: the independent decoder takes a bad
// frame from its call argument (it ignores the quality bit) and does not say
// which receive type that stands for; none of the four bad types matches its
// output, so the shares of equal frames are printed for the record.
TEST(AmrwbDecoderOracle, BadLostAndEmptyFramesMeasuredAgainstThePeer) {
    std::vector<short> speech = load_speech16(150);
    for (int mode : {0, 1, 2, 5, 8}) {
        std::vector<std::vector<unsigned char>> stream = storage(encode_with_peer(speech, mode, 0));
        for (std::size_t f = 5; f < stream.size(); ++f) {
            if (f % 7 == 0) stream[f][0] &= static_cast<unsigned char>(~4);  // quality bit off: bad frame
            if (f % 11 == 0) stream[f] = {static_cast<unsigned char>((14 << 3) | 4)};  // speech lost
            if (f % 29 < 3) stream[f] = {static_cast<unsigned char>((15 << 3) | 4)};   // no data
        }
        std::vector<int> bad = compare_stream(stream);
        std::printf("mode %d with impairments: %zu of %zu frames differ\n", mode, bad.size(), stream.size());
        // Every frame before the first impairment is equal.
        ASSERT_FALSE(bad.empty());
        EXPECT_EQ(bad.front(), 7) << "mode " << mode;
    }
}

TEST(AmrwbDecoderOracle, DiscontinuousTransmissionGivesTheSameSamples) {
    // Speech with pauses, then 1.2 s of faint noise (the two low bits clear).
    std::vector<short> speech = load_speech16(150);
    std::size_t n0 = speech.size();
    speech.resize(n0 + 320 * 60);
    unsigned s = 1;
    for (std::size_t i = n0; i < speech.size(); ++i) {
        s = s * 1103515245u + 12345u;
        speech[i] = static_cast<short>((static_cast<int>((s >> 16) & 127) - 64) & ~3);
    }
    for (int mode : {0, 2, 8}) {
        std::vector<Frame> frames = encode_with_peer(speech, mode, 1);
        int sid = 0, empty = 0;
        for (const Frame& f : frames) {
            sid += f.mode == 9;
            empty += f.mode == 15;
        }
        std::vector<int> bad = compare_stream(storage(frames));
        std::printf("mode %d with DTX: %d SID and %d empty frames, %zu of %zu frames differ\n", mode, sid, empty,
                    bad.size(), frames.size());
        EXPECT_GT(sid, 0);
        EXPECT_TRUE(bad.empty()) << "mode " << mode << ", first at frame " << bad.front();
    }
}

TEST(AmrwbDecoderOracle, SpeechFramesOfEveryModeGiveTheSameSamples) {
    std::vector<short> speech = load_speech16(150);
    ASSERT_FALSE(speech.empty());
    for (int mode = 0; mode <= 8; ++mode) {
        std::vector<Frame> frames = encode_with_peer(speech, mode, 0);
        void* peer = D_IF_init();
        auto st = std::make_unique<wb_amr_Decoder_State>();
        amr_wb_Init_decoder(st.get());
        int equal = 0, first_bad = -1;
        for (std::size_t f = 0; f < frames.size(); ++f) {
            short theirs[320];
            D_IF_decode(peer, frames[f].storage.data(), theirs, 0);
            std::vector<Word16> bits = serial_of(frames[f].storage.data(), frames[f].mode);
            Word16 ours[320], len = 0;
            amr_wb_decoder(static_cast<Word16>(frames[f].mode), bits.data(), ours, &len, st.get(), RX_SPEECH_GOOD, nullptr);
            bool same = true;
            // The independent decoder clears the two low bits of its output.
            for (int i = 0; i < 320; ++i) same = same && (ours[i] & ~3) == theirs[i];
            if (same) ++equal;
            else if (first_bad < 0) first_bad = static_cast<int>(f);
        }
        D_IF_exit(peer);
        std::printf("mode %d: %d of %zu frames sample-equal (first difference at frame %d)\n", mode, equal,
                    frames.size(), first_bad);
        EXPECT_EQ(equal, static_cast<int>(frames.size())) << "mode " << mode;
    }
}

TEST(AmrwbDecoderOracle, HomingFramesAreTreatedAlike) {
    std::vector<short> speech = load_speech16(20);
    for (int mode : {0, 4, 8}) {
        std::vector<Frame> frames = encode_with_peer(speech, mode, 0);
        // Home state, homing frame, speech, homing frame, speech.
        std::vector<Word16> home(amr_wb_nb_of_bits[mode]);
        for (int i = 0; i < amr_wb_nb_of_bits[mode]; ++i)
            home[i] = ((amr_wb_dhf[mode][i / 15] >> (14 - i % 15)) & 1) ? 127 : -127;
        std::vector<std::vector<unsigned char>> stream = {storage_of(home.data(), mode)};
        for (int f = 0; f < 8; ++f) stream.push_back(frames[f].storage);
        stream.push_back(storage_of(home.data(), mode));
        for (int f = 8; f < 16; ++f) stream.push_back(frames[f].storage);
        std::vector<int> bad = compare_stream(stream);
        EXPECT_TRUE(bad.empty()) << "mode " << mode << ", first at frame " << bad.front();
    }
}
