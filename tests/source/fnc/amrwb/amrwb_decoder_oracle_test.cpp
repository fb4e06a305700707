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
}  // namespace

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
