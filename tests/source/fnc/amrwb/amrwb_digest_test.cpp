// Same bits, frozen: hashes of the encoder's serial frames (every mode, DTX off
// and on) and of the decoder's samples from them (good frames, and a stream with
// bad, lost, degraded, empty and bad-SID frames) over the speech fixture, the
// fixture driven into clipping, full-scale noise and a synthetic signal (tones,
// sweeps, silence and the encoder homing frame).  The reference values were taken
// from the encoder and decoder as they were before any speed work; a change that
// moves one bit anywhere in these streams changes its line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "amrwb_decoder.h"
#include "digest_util.h"
#include "amrwb_encoder.h"
#include "amrwb_oracle_util.h"

using namespace amrwb_test;

namespace {

using Fnv = digest::Fnv1aWords;

// The signals, whole 20 ms frames, the two low bits clear as the payload wrapper leaves them.
std::vector<short> clipped(const std::vector<short>& speech, std::size_t frames) {
    std::vector<short> out(speech.begin(), speech.begin() + static_cast<long>(std::min(speech.size(), 320 * frames)));
    for (short& v : out) v = static_cast<short>(std::clamp(v * 12, -32768, 32767) & ~3);
    return out;
}

std::vector<short> full_scale_noise(std::size_t frames) {
    std::vector<short> out(320 * frames);
    std::uint32_t seed = 12345;
    for (short& v : out) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<short>((seed >> 16) & ~3u);
    }
    return out;
}

// Tones and a sweep at rising levels up to full scale, a pause of faint noise
// (DTX goes to SID), two encoder homing frames, silence and a tone again.
std::vector<short> synthetic() {
    std::vector<short> out;
    const double pi = 3.14159265358979;
    auto tone = [&](double hz, double amp, int frames) {
        for (int i = 0; i < 320 * frames; ++i)
            out.push_back(static_cast<short>(static_cast<int>(amp * std::sin(2 * pi * hz * i / 16000)) & ~3));
    };
    tone(440, 3000, 20);
    tone(1800, 32000, 10);
    double phase = 0;
    for (int i = 0; i < 320 * 40; ++i) {
        phase += 2 * pi * (100 + 7000.0 * i / (320 * 40)) / 16000;
        out.push_back(static_cast<short>(static_cast<int>((2000 + i * 0.7) * std::sin(phase)) & ~3));
    }
    append_faint_noise(out, 40, 3);
    out.insert(out.end(), 640, 8);  // two encoder homing frames
    out.insert(out.end(), 320 * 10, 0);
    tone(250, 20000, 20);
    return out;
}

struct Stream {
    std::vector<std::vector<Word16>> bits;  // serial words of each frame
    std::vector<Word16> mode, type;         // mode used (9 for SID) and frame type
};

Stream encode(const std::vector<short>& in, int mode, int dtx, Fnv& h) {
    Stream s;
    auto st = std::make_unique<wb_amr_Coder_State>();
    amr_wb_Init_coder(st.get());
    wb_amr_TX_State tx;
    amr_wb_Reset_write_serial(&tx);
    for (std::size_t f = 0; f + 320 <= in.size(); f += 320) {
        Word16 m = static_cast<Word16>(mode), prms[477] = {}, ser = 0, type = 0;
        amr_wb_coder(&m, &in[f], prms, &ser, st.get(), static_cast<Word16>(dtx), nullptr);
        amr_wb_Dtx_update(m, &type, &tx);
        h.add(prms, ser);
        h.add(m);
        h.add(type);
        s.bits.emplace_back(prms, prms + 477);
        s.mode.push_back(m);
        s.type.push_back(type);
    }
    return s;
}

// Receive frame type of frame f: as sent, or an impairment from a fixed pattern.
Word16 received_type(const Stream& s, std::size_t f, bool impaired) {
    static constexpr Word16 kSent[4] = {RX_SPEECH_GOOD, RX_SID_FIRST, RX_SID_UPDATE, RX_NO_DATA};
    const Word16 sent = kSent[s.type[f]];
    if (!impaired || f < 3) return sent;
    if (f % 29 < 3) return RX_NO_DATA;
    if (sent == RX_SID_UPDATE || sent == RX_SID_FIRST) return f % 5 == 0 ? Word16{RX_SID_BAD} : sent;
    if (sent != RX_SPEECH_GOOD) return sent;
    if (f % 11 == 0) return RX_SPEECH_LOST;
    if (f % 7 == 0) return RX_SPEECH_BAD;
    if (f % 13 == 0) return RX_SPEECH_PROBABLY_DEGRADED;
    return sent;
}

std::uint64_t decode(const Stream& s, int mode, bool impaired) {
    auto st = std::make_unique<wb_amr_Decoder_State>();
    amr_wb_Init_decoder(st.get());
    Fnv h;
    const std::vector<Word16> blank(477, -127);
    for (std::size_t f = 0; f < s.bits.size(); ++f) {
        const Word16 type = received_type(s, f, impaired);
        const bool no_bits = type == RX_NO_DATA || type == RX_SPEECH_LOST;
        // A bad frame still carries its bits, with a few of them flipped.
        std::vector<Word16> bits = no_bits ? blank : s.bits[f];
        if (type == RX_SPEECH_BAD)
            for (std::size_t i = f % 5; i < bits.size(); i += 37) bits[i] = static_cast<Word16>(-bits[i]);
        Word16 out[320], len = 0;
        amr_wb_decoder(static_cast<Word16>(mode), bits.data(), out, &len, st.get(), type, nullptr);
        h.add(out, 320);
        h.add(len);
    }
    return h.h;
}

struct Reference {
    const char* input;
    int mode, dtx;
    std::uint64_t enc, dec_good, dec_impaired;
};

// input, mode, DTX, encoder bits, decoded good stream, decoded impaired stream.
constexpr Reference kReference[] = {
#include "amrwb_digest_reference.inc"
};

}  // namespace

TEST(AmrwbDigest, EncoderBitsAndDecoderSamplesUnchanged) {
    const std::vector<short> speech = load_speech16(100000);
    ASSERT_GE(speech.size(), 320u * 600) << speech16_missing();
    const std::vector<short> loud = clipped(speech, 150), noise = full_scale_noise(100), synth = synthetic();
    const std::pair<const char*, const std::vector<short>*> inputs[] = {
        {"speech", &speech}, {"loud", &loud}, {"noise", &noise}, {"synthetic", &synth}};
    std::size_t checked = 0;
    for (const auto& [name, in] : inputs)
        for (int dtx = 0; dtx <= 1; ++dtx)
            for (int mode = 0; mode <= 8; ++mode) {
                Fnv he;
                const Stream s = encode(*in, mode, dtx, he);
                const std::uint64_t good = decode(s, mode, false), impaired = decode(s, mode, true);
                char line[160];
                std::snprintf(line, sizeof line, "{\"%s\", %d, %d, 0x%016llxull, 0x%016llxull, 0x%016llxull},", name,
                              mode, dtx, static_cast<unsigned long long>(he.h), static_cast<unsigned long long>(good),
                              static_cast<unsigned long long>(impaired));
                const Reference* ref = nullptr;
                for (const Reference& r : kReference)
                    if (std::string(r.input) == name && r.mode == mode && r.dtx == dtx) ref = &r;
                if (!ref) {
                    ADD_FAILURE() << "no reference for " << line;
                    continue;
                }
                EXPECT_EQ(he.h, ref->enc) << "encoder bits changed: " << line;
                EXPECT_EQ(good, ref->dec_good) << "decoded speech changed: " << line;
                EXPECT_EQ(impaired, ref->dec_impaired) << "concealed or comfort-noise output changed: " << line;
                ++checked;
            }
    EXPECT_EQ(checked, sizeof kReference / sizeof kReference[0]);
}
