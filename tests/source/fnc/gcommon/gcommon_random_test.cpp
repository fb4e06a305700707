// Random parameter words and vectors through every routine of the set, each buffer exactly as
// large as the routine is allowed to read and write (history in front where it reads one), so
// that the sanitizer builds catch any access outside them. Results are only checked for range.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "gcommon_test_util.h"
#include "tables/gcommon_tables.h"

using namespace gcommon;
using namespace gctest;

namespace {

// A heap buffer of exactly `before` history words and `n` words from the returned pointer on.
struct Buf {
    std::vector<SINT16> v;
    int before;
    Buf(Rng& rng, int n, int history = 0, int amp = 32767) : v(static_cast<std::size_t>(n + history)), before(history) {
        for (auto& x : v) x = rng.word(-amp, amp);
    }
    SINT16* p() { return v.data() + before; }
};

struct Buf32 {
    std::vector<SINT32> v;
    Buf32(Rng& rng, int n) : v(static_cast<std::size_t>(n)) {
        for (auto& x : v) x = rng.word32();
    }
    SINT32* p() { return v.data(); }
};

void randomRows(Rng& rng, SINT16 (*rows)[10], int n, int lo, int hi) {
    for (int r = 0; r < n; ++r)
        for (int i = 0; i < 10; ++i) rows[r][i] = rng.word(lo, hi);
}

TEST(GcommonRandom, EveryRoutineStaysInsideItsBuffers) {
    Rng rng(2024);
    for (int round = 0; round < 60; ++round) {
        const int amp = round % 3 == 0 ? 32767 : round % 3 == 1 ? 4000 : 50;
        // Linear prediction.
        {
            Buf x(rng, 240, 0, amp), scratch(rng, 240);
            std::vector<SINT32> r(13);
            int e = 0;
            g729Autocorr(x.p(), 12, r.data(), &e, scratch.p());
            Buf32 lag(rng, 12);
            g729Lag_window(12, r.data(), lag.p());
            Buf32 R(rng, 11), R30(rng, 31);
            Buf A(rng, 10), rc(rng, 10), oldA(rng, 10), oldRc(rng, 2), A30(rng, 30), rc30(rng, 30), oldA30(rng, 30), oldRc30(rng, 2);
            SINT16 err = 0;
            g729aLevinson(R.p(), A.p(), rc.p(), oldA.p(), oldRc.p(), &err, 1);
            g729Levinson(R.p(), A.p(), rc.p(), oldA.p(), oldRc.p());
            g729eLevinson(R30.p(), A30.p(), rc30.p(), oldA30.p(), oldRc30.p());
            Buf ap(rng, 10), lo(rng, 10);
            g729Weight_Az(A.p(), rng.word(0, 32767), 10, ap.p());
            g729aLowpassAz(lo.p(), A.p());
            Buf lsp(rng, 10), old(rng, 10), grid(rng, 51);
            g729Az_lsp(A.p(), lsp.p(), old.p(), round % 4, grid.p(), 51);
            g729Az_lsp(A.p(), lsp.p(), old.p(), 2, g729aGridTab.data(), 51);
            std::vector<SINT32> f(6);
            g729Get_lsp_pol(lsp.p(), f.data());
            f[0] = round & 1 ? 1 << 24 : 1 << 23;
            g729Chebps_xx(rng.word(), f.data());
            g729Lsp_Az(lsp.p(), A.p());
            Buf lsf(rng, 10), lsf2(rng, 10), az(rng, 20), lnew(rng, 10);
            g729Lsf_lsp2(lsf.p(), lsp.p(), static_cast<SINT16>(1 + round % 10));
            g729Lsp_lsf2(lsp.p(), lsf.p(), static_cast<SINT16>(1 + round % 10));
            g729Lsp_lsf(lsp.p(), lsf.p(), 10);
            g729Int_lpc(old.p(), lnew.p(), lsf.p(), lsf2.p(), az.p());
            g729Int_qlpc(old.p(), lnew.p(), az.p());
        }
        // LSP quantiser and decoders.
        {
            SINT16 fp[4][10];
            randomRows(rng, fp, 4, -2000, 2000);
            Buf lsp(rng, 10), q(rng, 10), ana(rng, 2), prev(rng, 10, 0, 20000), wegt(rng, 10, 0, 16384), cur(rng, 10);
            g729Qua_lspa(lsp.p(), q.p(), ana.p(), fp);
            SINT16 ma = rng.word(0, 1);
            const SINT16 prm[2] = {rng.word(0, 255), rng.word(0, 1023)};
            g729aD_lsp(prm, q.p(), static_cast<SINT16>(round & 1), fp, prev.p(), &ma);
            g729D_lspe(prm, q.p(), static_cast<SINT16>(round & 1), fp, prev.p(), &ma);
            g729eLsp_get_quante(rng.word(0, 127), rng.word(0, 31), rng.word(0, 31), reinterpret_cast<CRows10>(g729FgTab[0][0].data()), fp,
                                q.p(), g729FgSumTab[0].data(), cur.p());
            g729Get_wegt(lsp.p(), wegt.p());
            SINT16 c = 0;
            g729Lsp_pre_select(lsp.p(), &c);
            EXPECT_LT(c, 128);
            g729Lsp_select_1(lsp.p(), g729Lspcb1Tab[c].data(), wegt.p(), &c);
            g729Lsp_select_2(lsp.p(), g729Lspcb1Tab[c].data(), wegt.p(), &c);
            EXPECT_LT(c, 32);
            SINT32 d = 0;
            g729Lsp_get_tdist(wegt.p(), q.p(), &d, lsp.p(), g729FgSumTab[1].data());
            Buf e(rng, 10);
            g729Lsp_expand_1_2(e.p(), 10);
            g729Lsp_expand_1(e.p(), 10);
            g729Lsp_expand_2(e.p(), 10);
            g729aLsp_expand(e.p(), 5, 10);
            g729Lsp_stability(e.p());
            EXPECT_GE(e.p()[0], 40);
            EXPECT_LE(e.p()[9], 25681);  // one swap pass only: the clamp may leave the top unordered
            SINT16 T0 = rng.word(20, 143), fr = rng.word(-1, 1), pp = rng.word(20, 143), st = rng.word(0, 7), ps = rng.word(20, 143), fs = 0;
            g729Track_pit(&T0, &fr, &pp, &st, &ps, &fs);
            EXPECT_GE(st, 0);
            EXPECT_LE(st, 7);
        }
        // Pitch, codebook and gains.
        {
            Buf sig(rng, 80, 143, amp), scratch(rng, 223);
            const int T = g729aPitch_ol_fast(sig.p(), scratch.p());
            EXPECT_GE(T, 20);
            EXPECT_LE(T, 143);
            const int t0min = rng.word(20, 134), t0max = t0min + 9;
            Buf exc(rng, 40, t0max + 10, amp), xn(rng, 40, 0, amp), h(rng, 40, 0, 8000);
            int frac = 0;
            const int t0 = g729aPitch_fr3_fast(exc.p(), xn.p(), h.p(), t0min, t0max, round & 1 ? 40 : 0, &frac);
            EXPECT_GE(t0, t0min);
            EXPECT_LE(t0, t0max);
            GCOEFF g{};
            Buf y1(rng, 40, 0, amp), y2(rng, 40, 0, amp);
            EXPECT_LE(g729G_pitch(xn.p(), y1.p(), &g), 19661);
            g729Corr_xy2(xn.p(), y1.p(), y2.p(), &g);
            Buf e1(rng, 40, 154, amp), e2(rng, 40, 154, amp);
            g729Pred_lt_3(e1.p(), rng.word(20, 143), rng.word(-1, 1));
            g729Pred_lt_3_Simple(e2.p(), rng.word(20, 143), rng.word(-1, 1));
            Buf code(rng, 40), y(rng, 40), scr(rng, 656);
            SINT16 sign = 0;
            const SINT16 idx = g729aACELP_Code_A(xn.p(), h.p(), rng.word(20, 60), rng.word(3277, 13017), code.p(), y.p(), &sign, scr.p());
            EXPECT_GE(idx, 0);
            EXPECT_LT(idx, 8192);
            g729Decod_ACELP(rng.word(0, 15), rng.word(0, 8191), code.p());
            SINT16 gp = rng.word(0, 20000), gc = rng.word(0, 20000), mute = rng.word(0, 32767);
            Buf pq(rng, 4, 0, 14336);
            g729Dec_gain(rng.word(0, 127), code.p(), static_cast<SINT16>(round & 1), &gp, &gc, pq.p());
            g729eDec_gaine(rng.word(0, 127), code.p(), static_cast<SINT16>(round & 1), &gp, &gc, pq.p(), 1, &mute, rng.word(0, 20),
                           rng.word(0, 1));
            SINT16 best[2] = {rng.word(0, 32767), rng.word(0, 32767)}, c1 = 0, c2 = 0;
            g729Gbk_presel(best, &c1, &c2, rng.word());
            Buf in(rng, 39 + 8), cp(rng, 40);
            int ind = 0;
            BlockCorMax4_40(8, in.p(), cp.p(), &ind);
            Buf vals(rng, 40, 0, 32767);
            SINT16 two[2];
            Find2Max(rng.word(0, 4), vals.p(), two);
            std::vector<SINT32> err(4);
            for (auto& v : err) v = rng.word32() & 0x3FFFFFFF;
            g729Test_err(rng.word(20, 143), rng.word(-1, 1), err.data());
            g729Update_exc_err(rng.word(0, 16384), rng.word(20, 143), err.data());
            SINT16 gcode0 = 0;
            int ex = 0;
            g729Gain_predict(pq.p(), code.p(), &gcode0, &ex);
            g729Gain_update(pq.p(), rng.word32() & 0x7FFFFFFF);
            Buf ewn(rng, 10);
            g729aPerWeightErr(ewn.p(), xn.p(), y1.p(), y2.p(), rng.word(), rng.word());
            EXPECT_EQ(g729Check_Parity_Pitch(rng.word(0, 255), 0) | 1, 1);
            SINT16 tmin = 0, tmax = 0, t = rng.word(20, 143), tf = 0;
            g729Dec_lag3(g729Enc_lag3(rng.word(20, 143), 0, &tmin, &tmax, 20, 143, 0), 0, &t, &tf);
        }
        // Filters and post-processing.
        {
            Buf a(rng, 31, 0, 4096), x(rng, 40, 30, amp), yv(rng, 40), mem(rng, 30, 0, amp);
            g729Residue(30, a.p(), x.p(), yv.p());
            g729aResidual(a.p(), x.p(), yv.p());
            g729Syn_filte(a.p(), x.p(), yv.p(), 40, 30, mem.p(), 1);
            EXPECT_EQ(g729Syn_filte(a.p(), x.p(), yv.p(), 40, 41, mem.p(), 1), 1);  // beyond the working buffer: refused
            Buf ys(rng, 40, 10, amp);
            g729aSyn_filt(a.p(), x.p(), ys.p(), 40);
            G729_2ND_HIGHPASS hp{rng.word32(), rng.word32(), rng.word(), rng.word()};
            Buf s(rng, 80, 0, amp);
            g729Pre_Process(&hp, s.p(), 80);
            g729Post_Process(&hp, s.p(), 80);
            auto dec = std::make_unique<G729ABDECSTATE>();
            for (auto& v : dec->stateVar.res2_buf) v = rng.word(-amp, amp);
            for (auto& v : dec->stateVar.scal_res2_buf) v = rng.word(-amp / 4, amp / 4);
            for (auto& v : dec->stateVar.mem_syn_pst) v = rng.word(-amp, amp);
            dec->stateVar.mem_pre = rng.word();
            dec->stateVar.past_gain = rng.word(0, 32767);
            Buf syn(rng, 80, 10, amp), az(rng, 20, 0, 4096);
            const SINT16 T[2] = {rng.word(20, 143), rng.word(20, 143)};
            g729aPost_Filter(dec.get(), syn.p(), az.p(), T, rng.word(0, 1));
            Buf sig(rng, 40, 143, amp), scal(rng, 40, 143, amp / 4), pst(rng, 40);
            g729aPit_pst_filt(sig.p(), scal.p(), 137, 143, pst.p());
            Buf out(rng, 40, 0, amp);
            SINT16 pg = rng.word(0, 32767), mp = rng.word();
            g729aAgc(sig.p(), out.p(), &pg);
            g729aPreemphasis(out.p(), rng.word(0, 32767), &mp);
        }
        // Detector, SID quantisers, comfort noise and packing.
        {
            auto enc = std::make_unique<G729ABENCSTATE>();
            auto* raw = reinterpret_cast<SINT16*>(enc.get());
            for (std::size_t i = 0; i < sizeof *enc / 2; ++i) raw[i] = rng.word(-2000, 2000);
            G729ABENC& st = enc->stateVar;
            for (auto& v : st.sh_Acf) v = rng.word(-40, 10);
            for (auto& v : st.sh_sumAcf) v = rng.word(-40, 10);
            for (auto& v : st.sh_ener) v = rng.word(-40, 10);
            st.sh_RCoeff = rng.word(0, 20);
            st.nb_ener = rng.word(0, 2);
            st.count_fr0 = rng.word(0, 3);
            st.less_count = rng.word(0, 32);
            Buf lsf(rng, 10, 0, 25000), sig(rng, 240, 0, amp);
            std::vector<SINT32> r(13);
            for (auto& v : r) v = rng.word32();
            int marker = -1;
            g729bVad(enc.get(), rng.word(), lsf.p(), r.data(), rng.word(-40, 20), sig.p(), rng.word(-3, 300), &marker);
            EXPECT_TRUE(marker == 0 || marker == 1);
            SINT16 fp[4][10];
            randomRows(rng, fp, 4, -2000, 2000);
            Buf lsp(rng, 10), lspq(rng, 10), ana(rng, 5), exc(rng, 80, 154, amp), Aq(rng, 20), lold(rng, 10);
            g729bLsfq_noise(lsp.p(), lspq.p(), fp, ana.p());
            EXPECT_LT(ana.p()[1], 32);
            EXPECT_LT(ana.p()[2], 16);
            g729bCod_cng(enc.get(), exc.p(), lold.p(), Aq.p(), ana.p(), fp, 2, g729aGridTab.data(), 51);
            SINT16 eq = 0, ix = 0;
            g729bQua_Sidgain(st.ener, st.sh_ener, rng.word(0, 2), &eq, &ix);
            EXPECT_LT(ix, 32);
            auto dec = std::make_unique<G729ABDECSTATE>();
            std::memset(dec.get(), 0, sizeof *dec);
            dec->stateVar.past_ftyp = rng.word(0, 1);
            dec->stateVar.sid_sav = rng.word(0, 32767);
            dec->stateVar.sh_sid_sav = rng.word(-10, 20);
            const SINT16 parm[5] = {rng.word(0, 2), rng.word(0, 1), rng.word(0, 31), rng.word(0, 15), rng.word(0, 31)};
            g729bDec_cng(dec.get(), parm, exc.p(), lold.p(), Aq.p(), fp);
            SINT16 seed = rng.word();
            g729bGauss(&seed);
            std::vector<SINT32> le(4);
            g729bCalc_exc_rand(rng.word(0, 2000), exc.p(), &seed, 1, le.data());
            SINT16 rcoef[11], sh = 0;
            g729bCalc_RCoeff(Aq.p(), rcoef, &sh);
            g729bCmp_filt(rcoef, sh, st.Acf, rng.word(0, 32767), 4855);
            g729bUpdate_cng(enc.get(), st.Acf + 11, rng.word(-30, 10), 1);
            std::vector<std::uint16_t> words(5);
            SINT16 prm[12] = {1};
            for (int i = 1; i < 12; ++i) prm[i] = rng.word(0, 255);
            EXPECT_EQ(g729Prm2bits_ld8e(prm, words.data()), 80);
            SINT16 back[12];
            g729Bits2prm_ld8e(words.data(), back, 80);
            EXPECT_EQ(back[0], 8);
        }
    }
}

TEST(GcommonRandom, PackingRoundTripsEveryFieldWidth) {
    Rng rng(8);
    const int widths[11] = {8, 10, 8, 1, 13, 4, 7, 5, 13, 4, 7};
    for (int trial = 0; trial < 200; ++trial) {
        SINT16 prm[12] = {1}, back[12] = {};
        for (int i = 0; i < 11; ++i) prm[1 + i] = rng.word(0, (1 << widths[i]) - 1);
        std::uint16_t w[5];
        ASSERT_EQ(g729Prm2bits_ld8e(prm, w), 80);
        g729Bits2prm_ld8e(w, back, 80);
        EXPECT_EQ(back[0], 8);  // the unpacker's speech marker
        for (int i = 1; i < 12; ++i) ASSERT_EQ(back[i], prm[i]);
        SINT16 sid[5] = {2, rng.word(0, 1), rng.word(0, 31), rng.word(0, 15), rng.word(0, 31)};
        std::uint16_t one = 0xFFFF;
        ASSERT_EQ(g729Prm2bits_ld8e(sid, &one), 16);
        EXPECT_EQ(one & 1, 0);
        g729Bits2prm_ld8e(&one, back, 16);
        for (int i = 0; i < 5; ++i) ASSERT_EQ(back[i], sid[i]);
    }
    SINT16 none[1] = {0}, back[12];
    std::uint16_t w[5] = {};
    EXPECT_EQ(g729Prm2bits_ld8e(none, w), 0);
    g729Bits2prm_ld8e(w, back, 0);
    EXPECT_EQ(back[0], 0);
    g729Bits2prm_ld8e(w, back, 1);
    EXPECT_EQ(back[0], 1);
}

}  // namespace
