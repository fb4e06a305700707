// A reduced-complexity decoder with comfort noise, assembled here from the set's routines only
// (the set has no frame-level codec of its own), decoding the independent implementation's
// streams and our encoder's, with and without VAD, under single, burst and 10 % erasures. It is
// compared sample for sample with our live decoder and by segmental SNR with the independent
// decoder; every frame that differs from the live decoder is counted under its class.
extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
}
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "g729.h"
#include "../g729/g729_stream_util.h"
#include "gcommon_test_util.h"
#include "tables/gcommon_tables.h"

using namespace gcommon;
using namespace g729test;

namespace {

class LoopDecoder {
public:
    LoopDecoder() {
        std::memset(&s_, 0, sizeof s_);
        G729ABDEC& d = s_.stateVar;
        const SINT16 lspInit[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
        const SINT16 lspSidInit[10] = {31441, 27566, 21458, 13612, 4663, -4663, -13612, -21458, -27566, -31441};
        std::memcpy(d.lsp_old, lspInit, sizeof lspInit);
        std::memcpy(d.lspSid, lspSidInit, sizeof lspSidInit);
        for (auto& row : d.freq_prev) std::memcpy(row, g729_std::freq_prev_reset.data(), sizeof row);
        std::memcpy(d.prev_lsp, g729_std::freq_prev_reset.data(), sizeof d.prev_lsp);
        for (auto& v : d.past_qua_en) v = -14336;
        d.sharp = 3277;
        d.prev_T0 = 60;
        d.seed = 21845;  // erasure draws
        d.seedb = 11111;  // comfort noise
        d.past_ftyp = 1;
        d.sh_sid_sav = 1;
        d.past_gain = 4096;
        d.sid_gain = g729bSidgainTab[0];
    }

    // frameType: 80, 16 or 0 as received, or 1 for an erased frame.
    void decode(const std::uint16_t* words, int frameType, SINT16* out) {
        G729ABDEC& d = s_.stateVar;
        SINT16 prm[12] = {};
        g729Bits2prm_ld8e(words, prm, frameType);
        const SINT16 bfi = prm[0] == 1;  // the unpacker's marks: 8 speech, 2 SID, 0 nothing, 1 other
        SINT16 ftyp = prm[0] == 8 ? SINT16{1} : prm[0] == 2 ? SINT16{2} : SINT16{0};
        if (bfi) ftyp = d.past_ftyp == 1 ? SINT16{1} : SINT16{0};

        SINT16* exc = d.old_exc + 154;
        SINT16* syn = d.synth_buf + 10;
        SINT16 A_t[20], T2[2];
        if (ftyp == 1) {
            d.seedb = 11111;
            SINT16 lsp_new[10];
            g729aD_lsp(prm + 1, lsp_new, bfi, d.freq_prev, d.prev_lsp, &d.prev_ma);
            g729Int_qlpc(d.lsp_old, lsp_new, A_t);
            std::memcpy(d.lsp_old, lsp_new, sizeof lsp_new);
            const SINT16 parityErr = bfi ? SINT16{0} : g729Check_Parity_Pitch(prm[3], prm[4]);
            for (int s = 0; s < 2; ++s) {
                const SINT16* p = s == 0 ? prm + 3 : prm + 7;  // lag, (parity), positions, signs, gains
                const SINT16 lagIdx = p[0];
                SINT16 posIdx = s == 0 ? prm[5] : prm[9], signIdx = s == 0 ? prm[6] : prm[10];
                const SINT16 gainIdx = s == 0 ? prm[7] : prm[11];
                SINT16 T0 = d.prev_T0, frac = 0;
                if ((s == 0 ? bfi + parityErr : bfi) == 0) {
                    if (s == 1) T0 = T2[0];
                    g729Dec_lag3(s == 0 ? lagIdx : prm[8], static_cast<SINT16>(40 * s), &T0, &frac);
                    d.prev_T0 = T0;
                } else {
                    d.prev_T0 = static_cast<SINT16>(d.prev_T0 + 1 > 143 ? 143 : d.prev_T0 + 1);
                }
                T2[s] = T0;
                g729Pred_lt_3(exc + 40 * s, T0, frac);
                if (bfi) {
                    posIdx = static_cast<SINT16>(Random(&d.seed) & 0x1FFF);
                    signIdx = static_cast<SINT16>(Random(&d.seed) & 0xF);
                }
                SINT16 code[40];
                g729Decod_ACELP(signIdx, posIdx, code);
                if (T0 < 40) {
                    const SINT16 k = shl(d.sharp, 1);
                    for (int i = T0; i < 40; ++i) code[i] = add(code[i], mult(code[i - T0], k));
                }
                g729Dec_gain(gainIdx, code, bfi, &d.gain_pitch, &d.gain_code, d.past_qua_en);
                d.sharp = d.gain_pitch > 13017 ? SINT16{13017} : d.gain_pitch < 3277 ? SINT16{3277} : d.gain_pitch;
                SINT16* e = exc + 40 * s;
                for (int i = 0; i < 40; ++i) e[i] = ::round(L_shl(L_mac(L_mult(e[i], d.gain_pitch), code[i], d.gain_code), 1));
                synthesise(A_t + 10 * s, e, syn + 40 * s);
            }
        } else {
            const SINT16 parm[5] = {ftyp, prm[1], prm[2], prm[3], prm[4]};
            g729bDec_cng(&s_, parm, exc, d.lsp_old, A_t, d.freq_prev);
            for (int s = 0; s < 2; ++s) {
                synthesise(A_t + 10 * s, exc + 40 * s, syn + 40 * s);
                T2[s] = d.prev_T0;
            }
            d.sharp = 3277;
        }
        if (!bfi) {
            SINT32 e = 0;
            for (int i = 0; i < 80; ++i) e = L_mac(e, exc[i], exc[i]);
            const SINT16 n = norm_l(e);
            d.sid_sav = ::round(L_shl(e, n));
            d.sh_sid_sav = static_cast<SINT16>(16 - n);
        }
        std::memmove(d.old_exc, d.old_exc + 80, 154 * sizeof(SINT16));
        d.past_ftyp = ftyp;
        g729aPost_Filter(&s_, syn, A_t, T2, ftyp);
        g729Post_Process(&d.hp_state, syn, 80);
        std::memcpy(out, syn, 80 * sizeof(SINT16));
    }

private:
    // Synthesis with the decoder's rescue: on saturation the excitation history is scaled down.
    void synthesise(const SINT16* A, SINT16* exc, SINT16* y) {
        if (g729aSyn_filt(A, exc, y, 40) != 0) {
            for (auto& v : s_.stateVar.old_exc) v = static_cast<SINT16>(v >> 2);
            g729aSyn_filt(A, exc, y, 40);
        }
    }
    G729ABDECSTATE s_;
};

enum class Loss { None, Single, Burst, Tenth };

std::vector<bool> lossPattern(Loss l, std::size_t n) {
    std::vector<bool> lost(n, false);
    std::mt19937 rng(1234);
    for (std::size_t i = 0; i < n; ++i) {
        if (l == Loss::Single) lost[i] = i % 25 == 12;
        if (l == Loss::Burst) lost[i] = (i >= 100 && i < 105) || (i >= 200 && i < 208);
        if (l == Loss::Tenth && i % 10 == 0) {  // one in every ten, placed at random
            const std::size_t k = i + rng() % 10;
            if (k < n) lost[k] = true;
        }
    }
    return lost;
}

struct Result {
    int frames = 0, identical = 0;
    int sid = 0, untransmitted = 0, erased = 0;
    int diffSpeech = 0, diffNoise = 0, diffErased = 0, diffAfterErasure = 0;
    double snrOracle = 0;
};

Result run(const std::vector<Frame>& frames, const std::vector<bool>& lost) {
    LoopDecoder loop;
    auto live = std::make_unique<G729DECSTATE>();
    g729DecodeInit(live.get(), G729RATE_NUM_RATES);
    g729DecodeCfg(live.get(), G729RATE_8_KBPS_A);
    auto* oracle = initBcg729DecoderChannel();
    std::vector<std::int16_t> outLoop, outOracle;
    Result r;
    bool erasedBefore = false;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Frame& f = frames[i];
        std::uint16_t w[8];
        bytesToWords(f.bytes.data(), static_cast<int>(f.bytes.size()), w);
        SINT16 a[80], b[80], c[80];
        const bool erased = lost[i];
        loop.decode(w, erased ? 1 : f.bits, a);
        g729Decoder(live.get(), b, w, erased ? G729_BFI : static_cast<G729FRAMETYPE>(f.bits), nullptr);
        if (erased)
            bcg729Decoder(oracle, nullptr, 0, 1, 0, 0, c);
        else if (f.bits == 80)
            bcg729Decoder(oracle, f.bytes.data(), 10, 0, 0, 0, c);
        else if (f.bits == 16)
            bcg729Decoder(oracle, f.bytes.data(), 2, 0, 1, 0, c);
        else
            bcg729Decoder(oracle, nullptr, 0, 1, 0, 0, c);
        ++r.frames;
        r.sid += !erased && f.bits == 16;
        r.untransmitted += !erased && f.bits == 0;
        r.erased += erased;
        if (std::memcmp(a, b, sizeof a) == 0) {
            ++r.identical;
        } else if (erased) {
            ++r.diffErased;
        } else if (erasedBefore) {
            ++r.diffAfterErasure;
        } else if (f.bits == 80) {
            ++r.diffSpeech;
        } else {
            ++r.diffNoise;
        }
        erasedBefore = erasedBefore || erased;
        outLoop.insert(outLoop.end(), a, a + 80);
        outOracle.insert(outOracle.end(), c, c + 80);
    }
    closeBcg729DecoderChannel(oracle);
    r.snrOracle = segSnr(outOracle, outLoop);
    return r;
}

TEST(GcommonDecoderLoop, DecodesBothEncodersStreamsUnderLoss) {
    const auto pcm = loadSpeech(80 * 400);
    for (bool oracleStream : {true, false})
        for (bool vad : {false, true})
            for (Loss l : {Loss::None, Loss::Single, Loss::Burst, Loss::Tenth}) {
                const auto frames = oracleStream ? encodeBcg(pcm, vad) : encodeOurs(pcm, vad);
                const Result r = run(frames, lossPattern(l, frames.size()));
                const char* loss = l == Loss::None ? "no loss" : l == Loss::Single ? "single" : l == Loss::Burst ? "burst" : "10 %";
                std::printf("[ set decoder loop ] %s stream, VAD %s, %-7s: %d frames (%d SID, %d untransmitted, %d erased), %.1f %% sample-identical to the live decoder "
                            "(differing: %d speech, %d noise, %d erased, %d after an erasure); segmental SNR against the oracle "
                            "%.1f dB\n",
                            oracleStream ? "oracle" : "our", vad ? "on " : "off", loss, r.frames, r.sid, r.untransmitted, r.erased, 100.0 * r.identical / r.frames,
                            r.diffSpeech, r.diffNoise, r.diffErased, r.diffAfterErasure, r.snrOracle);
                // Every routine on this path computes what the live codec computes.
                EXPECT_EQ(r.identical, r.frames);
                if (vad) EXPECT_GT(r.sid + r.untransmitted, 20);
                EXPECT_GT(r.snrOracle, l == Loss::None ? 20.0 : 8.0);
            }
}

}  // namespace
