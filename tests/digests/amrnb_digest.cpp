// Bit-exactness check for speed work: a hash of the encoder's serial bits (every
// mode, DTX off and on, AMR and EFR) and of the decoder's speech decoded from
// them, on the speech fixture, the fixture amplified into clipping, and noise.
// Run before and after a change; the printed lines must be identical.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "amrefr_decoder.h"
#include "digest_util.h"
#include "amrefr_encoder.h"

namespace {


using Fnv = digest::Fnv1aWords;

void run_amr(const char* name, const std::vector<short>& in, int mode, int dtx) {
    auto enc = std::make_unique<GSMAMR_Speech_Encode_FrameState>();
    gsmamr_Speech_Encode_Frame_init(enc.get(), static_cast<GSMAMR_AmrFlag>(dtx));
    auto dec = std::make_unique<GSMAMR_DECSTRUCT>();
    gsmamr_Speech_Decode_Frame_init(&dec->speech_decoder_state, &dec->dtx_decSt);
    Fnv he, hd;
    for (size_t f = 0; f + 160 <= in.size(); f += 160) {
        Word16 serial[AMR_SERIAL_FRAMESIZE];
        GSMAMR_MODE used;
        std::uint16_t ft;
        gsmamr_Speech_Encode_Frame(enc.get(), static_cast<GSMAMR_MODE>(mode), &in[f], serial, &used, &ft);
        he.add(serial, AMR_SERIAL_FRAMESIZE);
        Word16 u = static_cast<Word16>(used), t = static_cast<Word16>(ft);
        he.add(&u, 1);
        he.add(&t, 1);
        Word16 out[160];
        static constexpr GSMAMR_RXFrameType kRx[] = {RX_SPEECH_GOOD, RX_SID_FIRST, RX_SID_UPDATE, RX_NO_DATA};
        gsmamr_Speech_Decode_Frame(&dec->speech_decoder_state, used == MRDTX ? static_cast<GSMAMR_MODE>(mode) : used,
                                   serial, ft < 4 ? kRx[ft] : static_cast<GSMAMR_RXFrameType>(RX_SPEECH_BAD), out);
        hd.add(out, 160);
    }
    std::printf("%-6s amr mode %d dtx %d enc %016llx dec %016llx\n", name, mode, dtx,
                static_cast<unsigned long long>(he.h), static_cast<unsigned long long>(hd.h));
}

void run_efr(const char* name, const std::vector<short>& in, int dtx) {
    auto enc = std::make_unique<GSMAMR_ENCSTRUCT>();
    amrefr_Speech_Encode_Frame_resetEFR(&enc->speech_encoder_state, static_cast<Word16>(dtx), &enc->EFRdtx_encSt);
    auto dec = std::make_unique<GSMAMR_DECSTRUCT>();
    amrefr_Speech_Decode_Frame_resetEFR(&dec->speech_decoder_state, &dec->EFRdtx_decSt);
    Fnv he, hd;
    for (size_t f = 0; f + 160 <= in.size(); f += 160) {
        Word16 serial[AMR_SERIAL_FRAMESIZE], prm[AMR_MAX_PRM_SIZE];
        amrefr_Speech_Encode_Frame(&enc->speech_encoder_state, MR122, &in[f], serial, prm, 1);
        he.add(serial, 246);
        he.add(prm, 57);
        Word16 rx[AMR_SERIAL_FRAMESIZE] = {};
        for (int b = 0; b < 244; ++b) rx[1 + b] = serial[b];
        rx[EFR_SERIAL_SID_WORD] = serial[EFR_SERIAL_SP_WORD] ? 0 : 2;
        Word16 out[160];
        amrefr_Speech_Decode_Frame(&dec->speech_decoder_state, 0, rx, out, 1);
        hd.add(out, 160);
    }
    std::printf("%-6s efr dtx %d        enc %016llx dec %016llx\n", name, dtx,
                static_cast<unsigned long long>(he.h), static_cast<unsigned long long>(hd.h));
}

}  // namespace

int main() {
    const auto fixture = digest::load_fixture(std::string(ORVOX_SOURCE_DIR) + "/tests/data/speech/speech_8k.raw", 160 * 250);
    const std::vector<short> speech(fixture.begin(), fixture.begin() + static_cast<long>(fixture.size() / 160 * 160));
    std::vector<short> loud(speech.size()), noise(160 * 100);
    for (size_t i = 0; i < speech.size(); ++i) {
        int v = speech[i] * 12;
        loud[i] = static_cast<short>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
    }
    std::uint32_t seed = 12345;
    for (auto& v : noise) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<short>(seed >> 16);
    }
    const std::pair<const char*, const std::vector<short>*> inputs[] = {
        {"speech", &speech}, {"loud", &loud}, {"noise", &noise}};
    for (const auto& [name, in] : inputs) {
        for (int dtx = 0; dtx <= 1; ++dtx) {
            for (int mode = 0; mode < 8; ++mode) run_amr(name, *in, mode, dtx);
            run_efr(name, *in, dtx);
        }
    }
    return 0;
}
