// Post-filter, voice activity detector, SID quantisers and comfort noise of the set against the
// live codec's, frame for frame, on speech, noise and silence.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "g729_internal.h"
#include "gcommon_test_util.h"
#include "tables/gcommon_tables.h"

using namespace gcommon;
using namespace gctest;

namespace {

enum class Source { Speech, Noise, Silence };

std::vector<std::vector<SINT16>> windowsOf(Source s, std::size_t frames) {
    if (s == Source::Speech) return speechWindows(frames);
    Rng rng(99);
    std::vector<std::vector<SINT16>> out(frames, std::vector<SINT16>(240, 0));
    if (s == Source::Noise)
        for (auto& w : out)
            for (auto& v : w) v = rng.word(-300, 300);
    return out;
}

// The live encoder's analysis of one window: lag-windowed autocorrelation, filter, LSPs and LSFs.
struct Frame {
    SINT32 r[13];
    SINT16 exp_R0;
    SINT16 A[11];
    SINT16 rc[10];
    SINT16 lsp[10];
    SINT16 lsf[10];
};

struct Analyser {
    SINT16 oldA[11] = {}, oldRc[2] = {}, oldLsp[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
    Frame run(const std::vector<SINT16>& w) {
        Frame f{};
        f.exp_R0 = g729::g729ab_Autocorr(w.data(), f.r, g729::g729ab_hamwindow.data());
        g729::g729ab_Lag_window(f.r);
        SINT16 err;
        g729::g729ab_Levinson(f.r, f.A, oldA, f.rc, oldRc, &err);
        g729::g729ab_Az_lsp(f.A, f.lsp, oldLsp);
        std::memcpy(oldLsp, f.lsp, sizeof f.lsp);
        g729::g729ab_Lsp_lsf(f.lsp, f.lsf);
        return f;
    }
};

TEST(GcommonAnnexB, DetectorDecidesAsTheLiveOneOnSpeechNoiseAndSilence) {
    for (Source src : {Source::Speech, Source::Noise, Source::Silence}) {
        const auto windows = windowsOf(src, 260);
        auto set = std::make_unique<G729ABENCSTATE>();
        std::memset(set.get(), 0, sizeof *set);
        G729NUNIENC live{};
        set->stateVar.pastVad = set->stateVar.ppastVad = 1;
        SINT16 prev = 1, pprev = 1;
        Analyser an;
        int agree = 0, voice = 0;
        SINT16 frame = 0;
        for (const auto& w : windows) {
            const Frame f = an.run(w);
            ++frame;
            int marker = -1;
            g729bVad(set.get(), f.rc[1], f.lsf, f.r, f.exp_R0, w.data(), frame, &marker);
            SINT16 ml = -1;
            g729::g729ab_vad(f.rc[1], f.lsf, f.r, f.exp_R0, w.data(), prev, pprev, &ml, &live);
            agree += marker == ml;
            voice += marker;
            set->stateVar.ppastVad = set->stateVar.pastVad;
            set->stateVar.pastVad = static_cast<SINT16>(marker);
            pprev = prev;
            prev = ml;
        }
        std::printf("[ detector ] %s: %d of %zu decisions equal, %d voice\n",
                    src == Source::Speech ? "speech" : src == Source::Noise ? "noise" : "silence", agree, windows.size(), voice);
        EXPECT_EQ(agree, static_cast<int>(windows.size()));
        if (src == Source::Silence) EXPECT_LT(voice, 40);
        if (src == Source::Speech) EXPECT_GT(voice, 100);
    }
}

TEST(GcommonAnnexB, FrameCountBelowOneIsTheFirstFrame) {
    const auto windows = speechWindows(3);
    Analyser an;
    const Frame f = an.run(windows[2]);
    for (SINT16 count : {SINT16{0}, SINT16{-5}, SINT16{-32768}}) {
        auto a = std::make_unique<G729ABENCSTATE>();
        auto b = std::make_unique<G729ABENCSTATE>();
        std::memset(a.get(), 0x11, sizeof *a);
        std::memset(b.get(), 0x11, sizeof *b);
        int ma = -1, mb = -1;
        g729bVad(a.get(), f.rc[1], f.lsf, f.r, f.exp_R0, windows[2].data(), count, &ma);
        g729bVad(b.get(), f.rc[1], f.lsf, f.r, f.exp_R0, windows[2].data(), 1, &mb);
        EXPECT_EQ(ma, mb);
        EXPECT_EQ(std::memcmp(a.get(), b.get(), sizeof *a), 0);
    }
}

TEST(GcommonAnnexB, PostFilterFollowsTheLiveOne) {
    const auto speech = g729test::loadSpeech(80 * 300);
    Analyser an;
    auto set = std::make_unique<G729ABDECSTATE>();
    std::memset(set.get(), 0, sizeof *set);
    set->stateVar.past_gain = 4096;
    G729NUNIDEC live;
    g729::g729ab_Init_Decod_ld8a(&live);
    SINT16 synBuf[10 + 80] = {};
    int same = 0, frames = 0, maxDiff = 0;
    for (std::size_t s = 160; s + 80 <= speech.size(); s += 80, ++frames) {
        std::vector<SINT16> w(speech.begin() + static_cast<long>(s) - 160, speech.begin() + static_cast<long>(s) + 80);
        const Frame f = an.run(w);
        SINT16 Az[20], Azl[22];
        for (int k = 0; k < 2; ++k) {
            std::memcpy(Azl + 11 * k, f.A, sizeof f.A);
            std::memcpy(Az + 10 * k, f.A + 1, 10 * sizeof(SINT16));
        }
        const SINT16 T[2] = {static_cast<SINT16>(20 + frames % 124), static_cast<SINT16>(20 + (frames * 7) % 124)};
        const SINT16 vad = frames % 5 != 4;
        SINT16 synl[80];
        for (int i = 0; i < 80; ++i) synBuf[10 + i] = synl[i] = static_cast<SINT16>(speech[s + i] / 2);
        g729aPost_Filter(set.get(), synBuf + 10, Az, T, vad);
        g729::g729ab_Post_Filter(synl, &live, Azl, T, vad);
        int d = 0;
        for (int i = 0; i < 80; ++i) d = std::max(d, std::abs(synBuf[10 + i] - synl[i]));
        same += d == 0;
        maxDiff = std::max(maxDiff, d);
    }
    std::printf("[ post-filter ] %d frames: %.1f %% identical to the live filter, largest difference %d\n", frames, 100.0 * same / frames,
                maxDiff);
    // Stated differences: the set's residual sums from the implied 1.0 upwards and its pitch
    // filter adds plainly; both matter only near saturation.
    EXPECT_GE(same, frames * 95 / 100);
}

TEST(GcommonAnnexB, SidQuantisersAndComfortNoiseFollowTheLiveEncoder) {
    // Noise whose level and colour change every 15 frames, so that SID frames keep coming.
    Rng rng(4);
    std::vector<std::vector<SINT16>> windows(120, std::vector<SINT16>(240));
    for (std::size_t f = 0; f < windows.size(); ++f) {
        const int amp = 100 << (f / 15 % 5);
        SINT16 prev = 0;
        for (auto& v : windows[f]) v = prev = static_cast<SINT16>(rng.word(-amp, amp) / 2 + (f / 15 % 2 ? prev / 2 : 0));
    }
    auto set = std::make_unique<G729ABENCSTATE>();
    std::memset(set.get(), 0, sizeof *set);
    G729NUNIENC live{};
    const SINT16 lspInit[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
    SINT16 lspOld[10], lspOldl[10];
    std::memcpy(lspOld, lspInit, sizeof lspOld);
    std::memcpy(lspOldl, lspInit, sizeof lspOldl);
    SINT16 fp[4][10], fpl[4][10];
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 10; ++i) fp[k][i] = fpl[k][i] = g729_std::freq_prev_reset[i];
    set->stateVar.seedb = live.seed = 11111;
    set->stateVar.sid_gain = live.sid_gain = g729bSidgainTab[0];
    Analyser an;
    int anaSame = 0, excSame = 0, sids = 0, frames = 0;
    SINT16 oldExc[154 + 80] = {}, oldExcl[154 + 80] = {};
    for (const auto& w : windows) {
        const Frame f = an.run(w);
        // Speech in the first frame so that the first SID follows speech.
        const SINT16 pastVad = frames == 0;
        set->stateVar.pastVad = pastVad;
        SINT16 rh[11];
        for (int i = 0; i < 11; ++i) rh[i] = static_cast<SINT16>(f.r[i] >> 16);
        g729bUpdate_cng(set.get(), rh, f.exp_R0, 0);
        g729::g729ab_Update_cng(f.exp_R0, 0, rh, &live);

        SINT16 ana[5] = {}, anal[5] = {}, Aq[20], Aql[22];
        g729bCod_cng(set.get(), oldExc + 154, lspOld, Aq, ana, fp, 2, g729aGridTab.data(), 51);
        g729::g729ab_Cod_cng(oldExcl + 154, pastVad, lspOldl, Aql, anal, fpl, &live.seed, live.L_exc_err, &live);
        const bool a = std::memcmp(ana, anal, sizeof ana) == 0;
        anaSame += a;
        sids += ana[0] == 2;
        excSame += std::memcmp(oldExc, oldExcl, sizeof oldExc) == 0;
        std::memmove(oldExc, oldExc + 80, 154 * sizeof(SINT16));
        std::memmove(oldExcl, oldExcl + 80, 154 * sizeof(SINT16));
        ++frames;
    }
    std::printf("[ comfort noise ] %d frames, %d SID: parameters %.1f %%, excitation %.1f %% identical\n", frames, sids,
                100.0 * anaSame / frames, 100.0 * excSame / frames);
    EXPECT_GT(sids, 1);
    EXPECT_EQ(anaSame, frames);
    EXPECT_EQ(excSame, frames);
}

TEST(GcommonAnnexB, SidLsfQuantiserAndDecoderRoundTrip) {
    const auto windows = speechWindows(120);
    Analyser an;
    SINT16 fp[4][10], fpl[4][10], fpd[4][10];
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < 10; ++i) fp[k][i] = fpl[k][i] = fpd[k][i] = g729_std::freq_prev_reset[i];
    int same = 0, n = 0;
    for (const auto& w : windows) {
        const Frame f = an.run(w);
        SINT16 q[10], ql[10], ana[3], anal[3];
        g729bLsfq_noise(f.lsp, q, fp, ana);
        g729::g729ab_lsfq_noise(f.lsp, ql, fpl, anal);
        same += std::memcmp(q, ql, sizeof q) == 0 && std::memcmp(ana, anal, sizeof ana) == 0;
        // The decoder rebuilds the same quantised vector from the indices.
        SINT16 d[10];
        g729bSid_lsfq_decode(ana, d, fpd);
        for (int i = 0; i < 10; ++i) EXPECT_NEAR(d[i], q[i], 2) << i;
        ++n;
        std::memcpy(fp, fpl, sizeof fp);
        std::memcpy(fpd, fpl, sizeof fpd);
    }
    std::printf("[ SID spectrum ] %d frames: %.1f %% identical to the live quantiser\n", n, 100.0 * same / n);
    EXPECT_GE(same, n * 95 / 100);

    // Energy quantiser bounds.
    SINT16 e[2] = {0, 0}, sh[2] = {0, 0}, enerq = 0, idx = 0;
    g729bQua_Sidgain(e, sh, 1, &enerq, &idx);
    EXPECT_EQ(idx, 0);
    EXPECT_EQ(enerq, -12);
    e[0] = 32767;
    sh[0] = -20;
    g729bQua_Sidgain(e, sh, 1, &enerq, &idx);
    EXPECT_EQ(idx, 31);
    EXPECT_EQ(enerq, 66);
}

}  // namespace
