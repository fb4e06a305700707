// Comfort noise: the SID/no-transmission encoder with its autocorrelation history and filter
// comparison, the decoder, and the random excitation.
#include "g729_internal.h"
#include "gcommon_internal.h"

namespace gcommon {

void g729bCalc_exc_rand(SINT16 cur_gain, SINT16* exc, SINT16* seed, SINT16 flag_cod, SINT32* L_exc_err) {
    g729::g729ab_Calc_exc_rand(cur_gain, exc, seed, L_exc_err, flag_cod);
}

SINT16 g729bGauss(SINT16* seed) {
    SINT32 s = 0;
    for (int i = 0; i < 12; ++i) s = L_add(s, L_deposit_l(Random(seed)));
    return extract_l(L_shr(s, 7));
}

void g729bCalc_sum_acf(const SINT16* acf, const SINT16* sh_acf, SINT16* sum, SINT16* sh_sum, int nb) {
    g729::g729ab_Calc_sum_acf(acf, sh_acf, sum, sh_sum, nb);
}

void g729bCalc_RCoeff(const SINT16* Coeff, SINT16* RCoeff, SINT16* sh_RCoeff) {
    SINT16 full[11];
    toFullForm(Coeff, full);
    g729::g729ab_Calc_RCoeff(full, RCoeff, sh_RCoeff);
}

namespace {
// Levinson on 16-bit autocorrelations widened to 32-bit words; returns the error energy.
SINT16 levinson16(const SINT16* acf, SINT16* coeff, SINT16* old_A, SINT16* old_rc) {
    SINT32 R[11];
    for (int i = 0; i < 11; ++i) R[i] = L_deposit_h(acf[i]);
    SINT16 rc[10], err = 0;
    g729aLevinson(R, coeff, rc, old_A, old_rc, &err, 1);
    return err;
}
}  // namespace

void g729bCalc_pastfilt(SINT16* Coeff, const SINT16* sumAcf, const SINT16* sh_sumAcf, SINT16* old_A, SINT16* old_rc) {
    SINT16 s[11], sh;
    g729bCalc_sum_acf(sumAcf, sh_sumAcf, s, &sh, 3);
    if (s[0] == 0) {
        BlockShortClear(10, Coeff);
        return;
    }
    levinson16(s, Coeff, old_A, old_rc);
}

SINT16 g729bCmp_filt(const SINT16* RCoeff, SINT16 sh_RCoeff, const SINT16* acf, SINT16 alpha, SINT16 FracThresh) {
    SINT16 sh[2] = {0, 0};
    int ind = 1;
    SINT32 dist = 0;
    // Each pass drops one more bit of one vector; 32 passes leave nothing that can saturate.
    for (int pass = 0; pass < 32; ++pass) {
        clrOverflow();
        dist = L_shr(L_mult(shr(RCoeff[0], sh[0]), shr(acf[0], sh[1])), 1);
        for (int i = 1; i <= 10; ++i) dist = L_mac(dist, shr(RCoeff[i], sh[0]), shr(acf[i], sh[1]));
        if (!isOverflow()) break;
        sh[ind] = static_cast<SINT16>(sh[ind] + 1);
        ind = 1 - ind;
    }
    const SINT16 thr = add(mult_r(alpha, FracThresh), alpha);
    const SINT32 limit = L_shl(L_deposit_l(thr), static_cast<SINT16>(sh_RCoeff + 9 - (sh[0] + sh[1])));
    return dist > limit ? SINT16{1} : SINT16{0};
}

void g729bUpdate_sumAcf(const SINT16* Acf, const SINT16* sh_Acf, SINT16* sumAcf, SINT16* sh_sumAcf) {
    for (int i = 32; i >= 11; --i) sumAcf[i] = sumAcf[i - 11];
    sh_sumAcf[2] = sh_sumAcf[1];
    sh_sumAcf[1] = sh_sumAcf[0];
    g729bCalc_sum_acf(Acf, sh_Acf, sumAcf, &sh_sumAcf[0], 2);
}

void g729bUpdate_cng(G729ABENCSTATE* encloclp, const SINT16* r_h, SINT16 exp_r, SINT16 Vad) {
    G729ABENC& st = encloclp->stateVar;
    for (int i = 0; i < 11; ++i) st.Acf[11 + i] = st.Acf[i];
    st.sh_Acf[1] = st.sh_Acf[0];
    for (int i = 0; i < 11; ++i) st.Acf[i] = r_h[i];
    st.sh_Acf[0] = negate(add(16, exp_r));
    st.fr_cur = static_cast<SINT16>(st.fr_cur + 1);
    if (st.fr_cur >= 2) {
        st.fr_cur = 0;
        if (Vad != 0) g729bUpdate_sumAcf(st.Acf, st.sh_Acf, st.sumAcf, st.sh_sumAcf);
    }
}

void g729bSid_lsfq_decode(const SINT16* indexp, SINT16* lspq, Rows10 freq_prev) { g729::g729ab_sid_lsfq_decode(indexp, lspq, freq_prev); }

void g729bCod_cng(G729ABENCSTATE* encloclp, SINT16* exc, SINT16* lsp_old_q, SINT16* Aq, SINT16* ana, Rows10 freq_prev, int m,
                  const SINT16* gridp, SINT16 grid_points) {
    G729ABENC& st = encloclp->stateVar;
    st.ener[1] = st.ener[0];
    st.sh_ener[1] = st.sh_ener[0];
    SINT16 cur[11], curCoeff[10] = {};
    g729bCalc_sum_acf(st.Acf, st.sh_Acf, cur, &st.sh_ener[0], 2);
    if (cur[0] == 0)
        st.ener[0] = 0;
    else
        st.ener[0] = levinson16(cur, curCoeff, st.old_A_fwd, st.old_rc_fwd);

    SINT16 energyq, index;
    if (st.pastVad != 0) {
        ana[0] = 2;
        g729bQua_Sidgain(st.ener, st.sh_ener, 1, &energyq, &index);
        st.count_fr0 = 0;
        st.nb_ener = 1;
    } else {
        st.nb_ener = static_cast<SINT16>(st.nb_ener + 1 > 2 ? 2 : st.nb_ener + 1);
        g729bQua_Sidgain(st.ener, st.sh_ener, st.nb_ener, &energyq, &index);
        if (abs_s_itu(sub(st.prev_energyd, energyq)) > 2) st.flag_chang = 1;
        if (g729bCmp_filt(st.RCoeff, st.sh_RCoeff, cur, st.ener[0], 4855) != 0) st.flag_chang = 1;
        st.count_fr0 = static_cast<SINT16>(st.count_fr0 + 1 > 3 ? 3 : st.count_fr0 + 1);
        ana[0] = st.count_fr0 == 3 && st.flag_chang ? SINT16{2} : SINT16{0};
    }

    if (ana[0] == 2) {
        SINT16* past = st.pastCoeff + 1;  // pastCoeff[0] holds the implied 1.0
        st.pastCoeff[0] = 4096;
        g729bCalc_pastfilt(past, st.sumAcf, st.sh_sumAcf, st.old_A_fwd, st.old_rc_fwd);
        g729bCalc_RCoeff(past, st.RCoeff, &st.sh_RCoeff);
        const SINT16* lpc = past;
        if (g729bCmp_filt(st.RCoeff, st.sh_RCoeff, cur, st.ener[0], 3161) != 0) {
            lpc = curCoeff;
            g729bCalc_RCoeff(curCoeff, st.RCoeff, &st.sh_RCoeff);
        }
        SINT16 lsp_new[10];
        g729Az_lsp(lpc, lsp_new, lsp_old_q, m, gridp, grid_points);
        g729bLsfq_noise(lsp_new, st.lspSid_q, freq_prev, ana + 1);
        ana[4] = index;
        st.prev_energyd = energyq;
        st.sid_gain = g729bSidgainTab[index];
        st.flag_chang = 0;
        st.count_fr0 = 0;
    }

    if (st.pastVad != 0)
        st.cur_gain = st.sid_gain;
    else
        st.cur_gain = add(mult_r(st.cur_gain, 28672), mult_r(st.sid_gain, 4096));
    g729bCalc_exc_rand(st.cur_gain, exc, &st.seedb, 1, st.L_exc_err);
    g729Int_qlpc(lsp_old_q, st.lspSid_q, Aq);
    BlockShortCopy(10, st.lspSid_q, lsp_old_q);
    if (st.fr_cur == 0) g729bUpdate_sumAcf(st.Acf, st.sh_Acf, st.sumAcf, st.sh_sumAcf);
}

void g729bDec_cng(G729ABDECSTATE* decloclp, const SINT16* parm, SINT16* exc, SINT16* lsp_old, SINT16* A_t, Rows10 freq_prev) {
    G729ABDEC& st = decloclp->stateVar;
    // The live decoder keeps its comfort-noise memory in a SIDDEF; only that part is used.
    G729NUNIDEC live{};
    live.Sid.cur_gain = st.cur_gain;
    live.Sid.sid_gain = st.sid_gain;
    BlockShortCopy(10, st.lspSid, live.Sid.lspSid);
    SINT16 full[22];
    g729::g729ab_Dec_cng(st.past_ftyp, st.sid_sav, st.sh_sid_sav, parm, exc, lsp_old, full, &st.seedb, freq_prev, &live);
    for (int i = 0; i < 10; ++i) {
        A_t[i] = full[1 + i];
        A_t[10 + i] = full[12 + i];
    }
    st.cur_gain = live.Sid.cur_gain;
    st.sid_gain = live.Sid.sid_gain;
    BlockShortCopy(10, live.Sid.lspSid, st.lspSid);
}

}  // namespace gcommon
