// Whole-codec behaviour: encoder and decoder stay in step, the frame format, the front's rate
// handling and assertions, lost and damaged frames, and channels running side by side.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "g729.h"
#include "g729_internal.h"
#include "g729_test_util.h"

using namespace g729test;

namespace {
std::vector<std::pair<std::string, int>> g_asserts;
}

// The test binary provides the framework's hook, so the codec's weak default steps aside.
void lhapiAssertHandlerVerbose(const char* file, int line) { g_asserts.emplace_back(file, line); }

namespace {

struct Enc {
    std::unique_ptr<G729ENCSTATE> st = std::make_unique<G729ENCSTATE>();
    explicit Enc(bool vad) {
        std::memset(st.get(), 0x5A, sizeof(*st));
        g729EncodeInit(st.get(), G729RATE_NUM_RATES);
        g729EncodeCfg(st.get(), vad ? G729VAD_ON : G729VAD_OFF, G729RATE_8_KBPS_A);
    }
    int encode(const std::int16_t* pcm, std::uint16_t* w) { return g729Encoder(st.get(), pcm, w, nullptr); }
};

struct Dec {
    std::unique_ptr<G729DECSTATE> st = std::make_unique<G729DECSTATE>();
    Dec() {
        std::memset(st.get(), 0x5A, sizeof(*st));
        g729DecodeInit(st.get(), G729RATE_NUM_RATES);
        g729DecodeCfg(st.get(), G729RATE_8_KBPS_A);
    }
    void decode(const std::uint16_t* w, int type, std::int16_t* out) { g729Decoder(st.get(), out, w, static_cast<G729FRAMETYPE>(type), nullptr); }
};

// Type the codec service passes for a received frame: 0 only after SID or nothing.
int serviceType(int bits, int& prev) {
    int t = bits;
    if (bits == 0 && prev != 16 && prev != 0) t = G729_BFI;
    prev = bits == 0 && t == G729_BFI ? 1 : bits;
    return t;
}

}  // namespace

TEST(G729Codec, DecoderExcitationFollowsTheEncoderFrameByFrame) {
    // The decoder rebuilds exactly the excitation the encoder chose, speech and comfort noise
    // alike, as long as no frame is lost.
    auto pcm = loadSpeech(8000 * 8);
    for (bool vad : {false, true}) {
        Enc enc(vad);
        Dec dec;
        int prev = 80, checked = 0;
        for (std::size_t s = 0; s < pcm.size(); s += 80) {
            std::uint16_t w[6];
            std::int16_t out[80];
            int bits = enc.encode(&pcm[s], w);
            dec.decode(w, serviceType(bits, prev), out);
            const auto& e = enc.st->state.ab;
            const auto& d = dec.st->state.ab;
            if (std::memcmp(e.old_exc, d.old_exc, 154 * sizeof(std::int16_t)) != 0) {
                // The decoder rescales its history after a synthesis overflow; nothing else may differ.
                bool scaled = true;
                for (int i = 0; i < 154; ++i) scaled &= (e.old_exc[i] >> 2) == d.old_exc[i] || e.old_exc[i] == d.old_exc[i];
                ASSERT_TRUE(scaled) << "frame " << s / 80 << " vad " << vad;
            }
            ASSERT_EQ(std::memcmp(e.freq_prev, d.freq_prev, sizeof(e.freq_prev)), 0) << "frame " << s / 80;
            ASSERT_EQ(std::memcmp(e.past_qua_en, d.past_qua_en, sizeof(e.past_qua_en)), 0) << "frame " << s / 80;
            ++checked;
        }
        EXPECT_GT(checked, 700);
    }
}

TEST(G729Codec, ParametersRoundTripThroughTheSerialForm) {
    std::mt19937 rng(80);
    const int speechWidths[11] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};
    const int sidWidths[4] = {1, 5, 4, 5};
    for (int trial = 0; trial < 200; ++trial) {
        std::int16_t prm[12] = {}, bits[82], back[16] = {};
        const bool sid = trial % 3 == 0;
        prm[0] = sid ? 2 : 1;
        for (int i = 0; i < (sid ? 4 : 11); ++i)
            prm[1 + i] = static_cast<std::int16_t>(rng() & ((1u << (sid ? sidWidths[i] : speechWidths[i])) - 1));
        g729ab_prm2bits_ld8k(prm, bits);
        EXPECT_EQ(static_cast<std::uint16_t>(bits[0]), 0x6B21);
        ASSERT_EQ(bits[1], sid ? 16 : 80);
        for (int i = 0; i < bits[1]; ++i) ASSERT_TRUE(bits[2 + i] == 0x81 || bits[2 + i] == 0x7F);
        if (sid) {
            EXPECT_EQ(bits[2 + 15], 0x7F);
        }
        g729ab_bits2prm_ld8k(bits + 1, back);
        EXPECT_EQ(back[1], prm[0]);
        for (int i = 0; i < (sid ? 4 : 11); ++i) EXPECT_EQ(back[2 + i], prm[1 + i]) << i;
    }
    std::int16_t none[12] = {}, bits[82];
    g729ab_prm2bits_ld8k(none, bits);
    EXPECT_EQ(bits[1], 0);
    std::int16_t fifteen[18] = {15}, back[16] = {};
    g729ab_bits2prm_ld8k(fifteen, back);
    EXPECT_EQ(back[1], 0);
}

TEST(G729Codec, PackedFramesFollowTheWireBitOrder) {
    // The packed words, read most significant bit first with the standard's field widths,
    // give the same parameters as the serial form the coder produced.
    auto pcm = loadSpeech(8000);
    auto a = std::make_unique<G729NUNIENC>(), b = std::make_unique<G729NUNIENC>();
    g729::g729ab_Init_Coder_ld8a(a.get(), 0);
    g729::g729ab_Init_Coder_ld8a(b.get(), 0);
    const int widths[11] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};
    for (std::size_t s = 0; s < pcm.size(); s += 80) {
        std::int16_t serial[82], prm[16] = {};
        g729::g729ab_Coder_ld8a(&pcm[s], serial, a.get());
        g729ab_bits2prm_ld8k(serial + 1, prm);
        std::uint16_t w[6] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
        ASSERT_EQ(g729abEncoder(b.get(), &pcm[s], w), 80);
        EXPECT_EQ(w[5], 0);
        auto bytes = wordsToBytes(w, 80);
        int bit = 0;
        for (int i = 0; i < 11; ++i) {
            int v = 0;
            for (int k = 0; k < widths[i]; ++k, ++bit) v = (v << 1) | ((bytes[bit / 8] >> (7 - bit % 8)) & 1);
            ASSERT_EQ(v, prm[2 + i]) << "frame " << s / 80 << " parameter " << i;
        }
    }
}

TEST(G729Codec, VadOnSilenceGivesSidThenNothing) {
    Enc enc(true);
    std::vector<std::int16_t> quiet(80 * 60);
    std::mt19937 rng(5);
    for (auto& v : quiet) v = static_cast<std::int16_t>(static_cast<int>(rng() % 41) - 20);
    std::vector<int> kinds;
    for (std::size_t s = 0; s < quiet.size(); s += 80) {
        std::uint16_t w[6] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
        int bits = enc.encode(&quiet[s], w);
        kinds.push_back(bits);
        // The word after the last bit is cleared and the words beyond it are left alone.
        if (bits == 16) {
            EXPECT_EQ(w[0] & 1, 0);
            EXPECT_EQ(w[1], 0);
        }
        if (bits == 0) {
            EXPECT_EQ(w[0], 0);
        }
        for (int k = bits / 16 + 1; k < 6; ++k) EXPECT_EQ(w[k], 0xFFFF) << bits << " bits, word " << k;
    }
    int sids = 0, nothing = 0;
    for (std::size_t i = 40; i < kinds.size(); ++i) sids += kinds[i] == 16, nothing += kinds[i] == 0;
    EXPECT_EQ(sids + nothing, 20);
    EXPECT_GT(nothing, 12);
    // The first noise frame after speech is a SID frame; the next ones wait at least two frames.
    auto first = std::find_if(kinds.begin(), kinds.end(), [](int k) { return k != 80; });
    ASSERT_NE(first, kinds.end());
    EXPECT_EQ(*first, 16);
    EXPECT_EQ(first[1], 0);
    EXPECT_EQ(first[2], 0);

    Enc off(false);
    for (std::size_t s = 0; s < quiet.size(); s += 80) {
        std::uint16_t w[6];
        EXPECT_EQ(off.encode(&quiet[s], w), 80);
    }
}

TEST(G729Codec, EncoderLeavesTheCallersMemoryAlone) {
    auto pcm = loadSpeech(8000);
    Enc enc(false);
    std::vector<std::int16_t> buf(2 + 80 + 2);
    std::uint16_t out[8];
    for (std::size_t s = 0; s < pcm.size(); s += 80) {
        buf[0] = 0x1234;
        buf[1] = -0x4321;
        std::copy(&pcm[s], &pcm[s] + 80, buf.begin() + 2);
        out[6] = out[7] = 0xBEEF;
        enc.encode(buf.data() + 2, out);
        ASSERT_EQ(buf[0], 0x1234);
        ASSERT_EQ(buf[1], -0x4321);
        ASSERT_TRUE(std::equal(&pcm[s], &pcm[s] + 80, buf.begin() + 2));
        ASSERT_EQ(out[6], 0xBEEF);
    }
}

TEST(G729Codec, ChannelsSideBySideDoNotInteract) {
    auto pcm = loadSpeech(8000 * 2);
    std::vector<std::int16_t> other(pcm.rbegin(), pcm.rend());
    Enc solo(true), a(true), b(true);
    Dec dsolo, da, db;
    int p1 = 80, p2 = 80;
    for (std::size_t s = 0; s < pcm.size(); s += 80) {
        std::uint16_t w1[6], w2[6], w3[6];
        std::int16_t o1[80], o2[80], o3[80];
        int n1 = solo.encode(&pcm[s], w1);
        b.encode(&other[s], w3);
        int n2 = a.encode(&pcm[s], w2);
        ASSERT_EQ(n1, n2);
        ASSERT_EQ(std::memcmp(w1, w2, (n1 / 16 + 1) * 2), 0);
        int t = serviceType(n1, p1);
        dsolo.decode(w1, t, o1);
        db.decode(w3, serviceType(n1, p2), o3);
        da.decode(w2, t, o2);
        ASSERT_EQ(std::memcmp(o1, o2, sizeof(o1)), 0);
    }
}

TEST(G729Codec, FrontRateHandlingAndAssertions) {
    auto enc = std::make_unique<G729ENCSTATE>();
    auto dec = std::make_unique<G729DECSTATE>();
    g_asserts.clear();
    g729EncodeInit(enc.get(), G729RATE_NUM_RATES);
    g729EncodeCfg(enc.get(), G729VAD_OFF, G729RATE_NUM_RATES);
    ASSERT_EQ(g_asserts.size(), 1u);
    EXPECT_EQ(g_asserts[0], std::make_pair(std::string("g729unie1"), 157));
    std::uint16_t w[6];
    std::int16_t pcm[80] = {};
    EXPECT_EQ(g729Encoder(enc.get(), pcm, w, nullptr), G729_BFI);
    EXPECT_EQ(g_asserts.back(), std::make_pair(std::string("g729unie2"), 106));
    g729EncodeInit(enc.get(), G729RATE_11_8_KBPS);
    EXPECT_EQ(g_asserts.back(), std::make_pair(std::string("g729unie0"), 97));
    EXPECT_EQ(enc->rate, G729RATE_11_8_KBPS);

    // Configuring the served rate initialises once; configuring it again keeps the running state.
    g729EncodeInit(enc.get(), G729RATE_NUM_RATES);
    g_asserts.clear();
    g729EncodeCfg(enc.get(), G729VAD_ON, G729RATE_8_KBPS_A);
    EXPECT_TRUE(g_asserts.empty());
    EXPECT_EQ(enc->state.ab.Vad, 1);
    auto speech = loadSpeech(800);
    for (int f = 0; f < 5; ++f) g729Encoder(enc.get(), &speech[80 * f], w, nullptr);
    const auto frames = enc->state.ab.frm_count;
    g729EncodeCfg(enc.get(), G729VAD_OFF, G729RATE_8_KBPS_A);
    EXPECT_EQ(enc->state.ab.frm_count, frames);
    EXPECT_EQ(enc->state.ab.Vad, 0);

    g_asserts.clear();
    g729DecodeInit(dec.get(), G729RATE_NUM_RATES);
    g729DecodeCfg(dec.get(), G729RATE_NUM_RATES);
    EXPECT_TRUE(g_asserts.empty());
    std::int16_t out[80];
    std::fill(out, out + 80, 77);
    g729Decoder(dec.get(), out, w, G729_RATE_8_0, nullptr);
    EXPECT_EQ(g_asserts.back(), std::make_pair(std::string("g729unid2"), 96));
    EXPECT_EQ(out[0], 77);
    g729DecodeInit(dec.get(), G729RATE_6_4_KBPS);
    EXPECT_EQ(g_asserts.back(), std::make_pair(std::string("g729unid0"), 104));
    g729DecodeCfg(dec.get(), G729RATE_8_KBPS_A);
    EXPECT_EQ(dec->rate, G729RATE_8_KBPS_A);
    EXPECT_EQ(dec->state.ab.old_T0, 60);
}

TEST(G729Codec, LostAndDamagedFramesDecodeCleanly) {
    // Single losses, bursts, 10 % random losses, and arbitrary payloads and frame types: the
    // decoder conceals, stays bounded, keeps its lag in range and its LSPs ordered.
    auto pcm = loadSpeech(8000 * 4);
    Enc enc(true);
    std::vector<std::pair<int, std::vector<std::uint16_t>>> stream;
    for (std::size_t s = 0; s < pcm.size(); s += 80) {
        std::vector<std::uint16_t> w(6);
        int bits = enc.encode(&pcm[s], w.data());
        stream.emplace_back(bits, w);
    }
    std::mt19937 rng(1234);
    auto run = [&](auto lost, bool garble) {
        Dec dec;
        int prev = 80;
        double energy = 0;
        for (std::size_t f = 0; f < stream.size(); ++f) {
            auto w = stream[f].second;
            int type = serviceType(stream[f].first, prev);
            if (lost(f)) type = G729_BFI;
            if (garble && f % 7 == 3) {
                for (auto& x : w) x = static_cast<std::uint16_t>(rng());
                const int kinds[] = {0, 1, 15, 16, 64, 80, 118, 119, 200};
                type = kinds[rng() % 9];
            }
            std::int16_t out[80];
            dec.decode(w.data(), type, out);
            for (int i = 0; i < 80; ++i) energy += double(out[i]) * out[i];
            const auto& d = dec.st->state.ab;
            bool ordered = d.old_T0 >= 19 && d.old_T0 <= 144;
            for (int k = 1; k < 10; ++k) ordered &= d.lsp_old[k] < d.lsp_old[k - 1];
            if (!ordered) {
                ADD_FAILURE() << "lag or LSPs out of range at frame " << f;
                return -1.0;
            }
        }
        return energy / (80.0 * stream.size());
    };
    double clean = run([](std::size_t) { return false; }, false);
    double single = run([](std::size_t f) { return f % 50 == 25; }, false);
    double bursts = run([](std::size_t f) { return f % 100 >= 40 && f % 100 < 48; }, false);
    double random10 = run([&](std::size_t) { return rng() % 10 == 0; }, false);
    double garbled = run([&](std::size_t) { return rng() % 10 == 0; }, true);
    EXPECT_GT(clean, 1e4);
    for (double e : {single, bursts, random10, garbled}) {
        EXPECT_GT(e, clean / 20);
        EXPECT_LT(e, clean * 20);
    }
    // A stream of nothing but random payloads and frame types.
    {
        Dec noise;
        for (int f = 0; f < 600; ++f) {
            std::uint16_t w[6];
            for (auto& x : w) x = static_cast<std::uint16_t>(rng());
            const int kinds[] = {0, 1, 16, 80, 80, 80};
            std::int16_t out[80];
            noise.decode(w, kinds[rng() % 6], out);
            const auto& d = noise.st->state.ab;
            ASSERT_TRUE(d.old_T0 >= 19 && d.old_T0 <= 144);  // index 0 decodes as 19 1/3
        }
    }
    // A lost frame right after start is concealed as speech, and a frame with the lost type
    // decodes as lost whatever the payload holds.
    Dec d1, d2;
    std::uint16_t junk[6] = {0xFFFF, 0x1234, 0x8000, 1, 2, 3}, zero[6] = {};
    std::int16_t o1[80], o2[80];
    d1.decode(junk, G729_BFI, o1);
    d2.decode(zero, G729_BFI, o2);
    EXPECT_EQ(std::memcmp(o1, o2, sizeof(o1)), 0);
    EXPECT_EQ(d1.st->state.ab.past_ftyp, 1);
    EXPECT_EQ(d1.st->state.ab.old_T0, 62);  // advanced once per concealed subframe
}

TEST(G729Codec, LagCodingRoundTripsAndParity) {
    using namespace g729;
    for (int T0 = 20; T0 <= 143; ++T0)
        for (int frac = -1; frac <= 1; ++frac) {
            if (T0 > 84 && frac != 0) continue;  // no fraction above 84 in the first subframe
            if ((T0 == 20 && frac < 0) || (T0 == 143 && frac > 0)) continue;
            W16 tmin, tmax;
            W16 idx = g729ab_Enc_lag3(static_cast<W16>(T0), static_cast<W16>(frac), &tmin, &tmax, 0);
            ASSERT_GE(idx, 0);
            ASSERT_LE(idx, 255);
            W16 dT0 = 0, dfrac = 9;
            g729ab_Dec_lag3(idx, 0, &dT0, &dfrac);
            ASSERT_EQ(dT0, T0) << idx;
            ASSERT_EQ(dfrac, frac) << idx;
            // Second subframe: every lag of the range with every fraction.
            for (int t2 = tmin; t2 <= tmax; ++t2)
                for (int f2 = -1; f2 <= 1; ++f2) {
                    if ((t2 == tmin && f2 < 0) || (t2 == tmax && f2 > 0)) continue;
                    W16 i2 = g729ab_Enc_lag3(static_cast<W16>(t2), static_cast<W16>(f2), &tmin, &tmax, 40);
                    ASSERT_LT(i2, 32);
                    W16 r = dT0, rf;
                    g729ab_Dec_lag3(i2, 40, &r, &rf);
                    ASSERT_EQ(r, t2);
                    ASSERT_EQ(rf, f2);
                }
        }
    W16 tmin, tmax;
    EXPECT_EQ(g729ab_Enc_lag3(84, 1, &tmin, &tmax, 0), 195);
    EXPECT_EQ(g729ab_Enc_lag3(85, 0, &tmin, &tmax, 0), 197);
    EXPECT_EQ(g729ab_Enc_lag3(86, 0, &tmin, &tmax, 0), 198);
    EXPECT_EQ(g729ab_Enc_lag3(143, 0, &tmin, &tmax, 0), 255);
    EXPECT_EQ(tmin, 134);
    EXPECT_EQ(tmax, 143);
    // Parity of the six most significant bits of the 8-bit index, odd overall.
    for (int idx = 0; idx < 256; ++idx) {
        int ones = __builtin_popcount(idx >> 2);
        EXPECT_EQ(g729ab_Parity_Pitch(static_cast<W16>(idx)), (ones + 1) & 1);
    }
}

TEST(G729Codec, SidEnergyQuantiserLimits) {
    using namespace g729;
    // An energy is ener·2^-sh: a large exponent means a small energy.
    W16 ener[2] = {1, 1}, sh[2] = {40, 40}, enerq = 0;
    EXPECT_EQ(g729ab_Qua_Sidgain(ener, sh, 1, &enerq), 0);
    EXPECT_EQ(enerq, -12);
    W16 loud[2] = {32767, 32767}, shl0[2] = {-20, -20};
    EXPECT_EQ(g729ab_Qua_Sidgain(loud, shl0, 2, &enerq), 31);
    EXPECT_EQ(enerq, 66);
    // Indices grow with the energy.
    int prev = -1;
    for (int s = 30; s >= -10; --s) {
        W16 e[1] = {20000}, se[1] = {static_cast<W16>(s)};
        int idx = g729ab_Qua_Sidgain(e, se, 1, &enerq);
        EXPECT_GE(idx, prev);
        prev = idx;
    }
}

TEST(G729Codec, VadFrameCounterAndStartupPhase) {
    using namespace g729;
    auto st = std::make_unique<G729NUNIENC>();
    g729ab_Init_Coder_ld8a(st.get(), 1);
    W32 r[13] = {};
    r[0] = 1 << 30;
    W16 lsf[10], window[240] = {};
    for (int i = 0; i < 10; ++i) lsf[i] = static_cast<W16>(2000 + 2500 * i);
    W16 marker = 7;
    // A very quiet frame during start-up is noise and counted.
    g729ab_vad(0, lsf, r, -20, window, 1, 1, &marker, st.get());
    EXPECT_EQ(marker, 0);
    EXPECT_EQ(st->less_count, 1);
    EXPECT_EQ(st->frm_count, 1);
    st->frm_count = 32767;
    g729ab_vad(0, lsf, r, -20, window, 1, 1, &marker, st.get());
    EXPECT_EQ(st->frm_count, 256);
}

TEST(G729Codec, ChannelsOnSeparateThreadsMatchTheSequentialRun) {
    auto pcm = loadSpeech(8000);
    auto runChannel = [&](bool vad, std::vector<std::int16_t>& out) {
        Enc enc(vad);
        Dec dec;
        int prev = 80;
        for (std::size_t s = 0; s < pcm.size(); s += 80) {
            std::uint16_t w[6];
            std::int16_t o[80];
            int bits = enc.encode(&pcm[s], w);
            dec.decode(w, serviceType(bits, prev), o);
            out.insert(out.end(), o, o + 80);
        }
    };
    std::vector<std::int16_t> seqA, seqB, parA, parB;
    runChannel(false, seqA);
    runChannel(true, seqB);
    std::thread ta([&] { runChannel(false, parA); });
    std::thread tb([&] { runChannel(true, parB); });
    ta.join();
    tb.join();
    EXPECT_EQ(seqA, parA);
    EXPECT_EQ(seqB, parB);
}
