// Discontinuous transmission of G.729 Annex B, encoder side: autocorrelation history, the SID
// decision, SID gain and SID spectrum quantisation, and the comfort-noise excitation that keeps
// the encoder's memories in step with the decoder.
#include "g729_internal.h"

namespace g729 {

namespace {
using Fg = const W16 (*)[10];
Fg noiseFg(int m) { return reinterpret_cast<Fg>(g729ab_noise_fg[m].data()); }

}  // namespace

void g729ab_Calc_sum_acf(const W16* acf, const W16* sh_acf, W16* sum, W16* sh_sum, int nb) {
    W16 sh0 = sh_acf[0];
    for (int i = 1; i < nb; ++i)
        if (sh_acf[i] < sh0) sh0 = sh_acf[i];
    sh0 = static_cast<W16>(sh0 + 14);
    W32 L[11] = {};
    for (int i = 0; i < nb; ++i) {
        int t = sh0 - sh_acf[i];
        for (int j = 0; j < 11; ++j) L[j] = L_add(L[j], L_shl(L_deposit_l(acf[11 * i + j]), t));
    }
    W16 n = norm_l(L[0]);
    for (int j = 0; j < 11; ++j) sum[j] = extract_h(L_shl(L[j], n));
    *sh_sum = static_cast<W16>(n - 16 + sh0);
}

namespace {

void g729ab_Update_sumAcf(G729NUNIENC* st) {
    for (int i = 32; i >= 11; --i) st->sumAcf[i] = st->sumAcf[i - 11];
    st->sh_sumAcf[2] = st->sh_sumAcf[1];
    st->sh_sumAcf[1] = st->sh_sumAcf[0];
    g729ab_Calc_sum_acf(st->Acf, st->sh_Acf, st->sumAcf, &st->sh_sumAcf[0], 2);
}

// Levinson on 16-bit autocorrelations with zero low words.
void levinson16(const W16* acf, W16* coeff, W16* err, G729NUNIENC* st) {
    W32 r[11];
    for (int i = 0; i < 11; ++i) r[i] = L_deposit_h(acf[i]);
    W16 rc[10];
    g729ab_Levinson(r, coeff, st->old_A, rc, st->old_rc, err);
}

void setFlat(W16* coeff) {
    coeff[0] = 4096;
    for (int i = 1; i <= 10; ++i) coeff[i] = 0;
}

void g729ab_Calc_pastfilt(W16* coeff, G729NUNIENC* st) {
    W16 s[11], sh;
    g729ab_Calc_sum_acf(st->sumAcf, st->sh_sumAcf, s, &sh, 3);
    if (s[0] == 0) {
        setFlat(coeff);
        return;
    }
    W16 err = 0;
    levinson16(s, coeff, &err, st);
}

}  // namespace

void g729ab_Calc_RCoeff(const W16* coeff, W16* RCoeff, W16* sh_RCoeff) {
    W32 L = 0;
    for (int j = 0; j <= 10; ++j) L = L_mac(L, coeff[j], coeff[j]);
    W16 n = norm_l(L);
    RCoeff[0] = round16(L_shl(L, n));
    for (int i = 1; i <= 10; ++i) {
        L = 0;
        for (int j = 0; j <= 10 - i; ++j) L = L_mac(L, coeff[j], coeff[j + i]);
        RCoeff[i] = round16(L_shl(L, n));
    }
    *sh_RCoeff = n;
}

namespace {

int g729ab_Cmp_filt(const W16* RCoeff, W16 sh_RCoeff, const W16* acf, W16 alpha, W16 fracThresh) {
    int sh[2] = {0, 0};
    int ind = 1;
    W32 S = 0;
    for (int guard = 0; guard < 64; ++guard) {
        S = L_shr(L_mult(shr(RCoeff[0], sh[0]), shr(acf[0], sh[1])), 1);
        for (int i = 1; i <= 10; ++i) S = L_mac(S, shr(RCoeff[i], sh[0]), shr(acf[i], sh[1]));
        if (S != kMax32 && S != kMin32) break;
        sh[ind] += 1;
        ind = 1 - ind;
    }
    W16 t = mult_r(alpha, fracThresh);
    W32 T = L_add(L_deposit_l(t), L_deposit_l(alpha));
    T = L_shl(T, sh_RCoeff + 9 - (sh[0] + sh[1]));
    return L_sub(S, T) > 0 ? 1 : 0;
}

W16 g729ab_Quant_Energy(W32 L_x, W16 sh, W16* enerq) {
    W16 e, f;
    g729ab_Log2(L_x, &e, &f);
    const auto& c = g729ab_Quant_Energy_Consts;
    W16 x = add(shl(sub(e, sh), 10), mult_r(f, c[0]));
    if (x <= c[1]) {
        *enerq = -12;
        return 0;
    }
    if (x > c[2]) {
        *enerq = 66;
        return 31;
    }
    if (x <= c[3]) {
        W16 index = mult(add(x, 3401), 24);
        if (index < 1) index = 1;
        *enerq = static_cast<W16>(4 * index - 8);
        return index;
    }
    W16 index = static_cast<W16>((mult(sub(x, c[4]), c[5]) >> 2) - 1);
    if (index < 6) index = 6;
    *enerq = static_cast<W16>(2 * index + 4);
    return index;
}

// First-stage pre-search of the SID LSF quantiser: four (mode, entry) picks.
void g729ab_New_ML_search_1(const W16 (*errlsf)[10], int (*picks)[2], W16 (*d_data)[10]) {
    W16 D[2][32];
    for (int m = 0; m < 2; ++m)
        for (int p = 0; p < 32; ++p) {
            std::int64_t d = 0;
            for (int k = 0; k < 10; ++k) {
                std::int64_t e = std::int64_t{errlsf[m][k]} - g729Lspcb1(g729ab_PtrTab_1[p], k);
                d += e * e;
            }
            std::int64_t q = d >> 15;
            if (q > 32767) q = 32767;
            D[m][p] = static_cast<W16>((q * g729ab_Mp[m]) >> 15);
        }
    for (int q = 0; q < 4; ++q) {
        W16 best = 32767;
        int bm = 0, bp = 0;
        for (int m = 0; m < 2; ++m)
            for (int p = 0; p < 32; ++p)
                if (D[m][p] < best) {
                    best = D[m][p];
                    bm = m;
                    bp = p;
                }
        D[bm][bp] = 32767;
        picks[q][0] = bm;
        picks[q][1] = bp;
        for (int k = 0; k < 10; ++k) d_data[q][k] = sub(errlsf[bm][k], g729Lspcb1(g729ab_PtrTab_1[bp], k));
    }
}

// Second stage: the best of the 16 second-stage entries for each pick; returns (pick, entry).
void g729ab_New_ML_search_2(const W16 (*d_data)[10], const W16* weight, const int (*picks)[2], int* bestQ, int* bestC) {
    W16 best = 32767;
    *bestQ = 0;
    *bestC = 0;
    for (int q = 0; q < 4; ++q) {
        const auto& fgs = g729ab_noise_fg_sum[picks[q][0]];
        W32 w[10];
        for (int k = 0; k < 10; ++k) {
            W32 f2 = (W32{fgs[k]} * fgs[k]) >> 13;
            w[k] = static_cast<W32>((std::int64_t{f2} * weight[k]) >> 15);
        }
        for (int c = 0; c < 16; ++c) {
            std::int64_t acc = 0;
            for (int k = 0; k < 10; ++k) {
                int row = k < 5 ? g729ab_PtrTab_2[0][c] : g729ab_PtrTab_2[1][c];
                W32 e = W32{d_data[q][k]} - g729ab_lspcb2[row][k];
                acc += ((std::int64_t{w[k]} * e) >> 12) * e;
            }
            std::int64_t v = acc >> 15;
            W16 D = v > 32767 ? W16{32767} : (v < -32768 ? W16{-32768} : static_cast<W16>(v));
            if (D < best) {
                best = D;
                *bestQ = q;
                *bestC = c;
            }
        }
    }
}

}  // namespace

void g729ab_lsfq_noise(const W16* lsp_new, W16* lspq, W16 (*freq_prev)[10], W16* ana) {
    W16 flsf[12];
    flsf[0] = 1029;
    flsf[11] = 23677;
    W16* lsf = flsf + 1;
    g729ab_Lsp_lsf2(lsp_new, lsf);
    if (lsf[0] < 40) lsf[0] = 40;
    for (int i = 0; i < 9; ++i)
        if (sub(lsf[i + 1], lsf[i]) < 642) lsf[i + 1] = add(lsf[i], 642);
    if (lsf[9] > 25681) lsf[9] = 25681;
    if (lsf[8] > lsf[9]) lsf[8] = sub(lsf[9], 321);

    W16 weight[10];
    g729ab_Get_wegt(lsf, weight);
    W16 errlsf[2][10];
    for (int m = 0; m < 2; ++m) g729ab_Lsp_prev_extract(lsf, errlsf[m], noiseFg(m), freq_prev, g729ab_noise_fg_sum_inv[m].data());

    int picks[4][2];
    W16 d_data[4][10];
    g729ab_New_ML_search_1(errlsf, picks, d_data);
    int q, c;
    g729ab_New_ML_search_2(d_data, weight, picks, &q, &c);
    int m = picks[q][0], p = picks[q][1];

    W16 tmp[10];
    for (int k = 0; k < 5; ++k) tmp[k] = add(g729Lspcb1(g729ab_PtrTab_1[p], k), g729ab_lspcb2[g729ab_PtrTab_2[0][c]][k]);
    for (int k = 5; k < 10; ++k) tmp[k] = add(g729Lspcb1(g729ab_PtrTab_1[p], k), g729ab_lspcb2[g729ab_PtrTab_2[1][c]][k]);
    ana[0] = static_cast<W16>(m);
    ana[1] = static_cast<W16>(p);
    ana[2] = static_cast<W16>(c);
    g729ab_Lsp_expand_1_2(tmp, 10);
    W16 lsfq[10];
    g729ab_Lsp_prev_compose(tmp, lsfq, noiseFg(m), freq_prev, g729ab_noise_fg_sum[m].data());
    g729ab_Lsp_prev_update(tmp, freq_prev);
    g729ab_Lsp_stability(lsfq);
    g729ab_Lsf_lsp2(lsfq, lspq);
}

namespace {
}  // namespace

void g729ab_Update_cng(W16 exp_r, W16 vad, const W16* r_h, G729NUNIENC* st) {
    for (int i = 21; i >= 11; --i) st->Acf[i] = st->Acf[i - 11];
    st->sh_Acf[1] = st->sh_Acf[0];
    st->sh_Acf[0] = static_cast<W16>(-16 - exp_r);
    for (int i = 0; i < 11; ++i) st->Acf[i] = r_h[i];
    st->fr_cur = static_cast<W16>(st->fr_cur + 1);
    if (st->fr_cur == 2) {
        st->fr_cur = 0;
        if (vad != 0) g729ab_Update_sumAcf(st);
    }
}

W16 g729ab_Qua_Sidgain(const W16* ener, const W16* sh_ener, int nq, W16* enerq) {
    W32 L_x;
    W16 sh;
    if (nq == 0) {
        W32 L = L_shl(L_deposit_l(ener[0]), sh_ener[0]);
        L_x = 2 * static_cast<W32>((std::int64_t{L} * g729ab_fact[0]) >> 16);
        sh = 0;
    } else {
        sh = sh_ener[0];
        for (int i = 1; i < nq; ++i)
            if (sh_ener[i] < sh) sh = sh_ener[i];
        sh = static_cast<W16>(sh + g729ab_marg[nq]);
        W32 L = 0;
        for (int i = 0; i < nq; ++i) L = L_add(L, L_shl(L_deposit_l(ener[i]), sh - sh_ener[i]));
        L_x = 2 * static_cast<W32>((std::int64_t{L} * g729ab_fact[nq]) >> 16);
    }
    return g729ab_Quant_Energy(L_x, sh, enerq);
}

void g729ab_Cod_cng(W16* exc, W16 pastVad, W16* lsp_old_q, W16* Aq, W16* ana, W16 (*freq_prev)[10], W16* seed, W32* L_exc_err,
                    G729NUNIENC* st) {
    st->ener[1] = st->ener[0];
    st->sh_ener[1] = st->sh_ener[0];
    W16 curAcf[11];
    g729ab_Calc_sum_acf(st->Acf, st->sh_Acf, curAcf, &st->sh_ener[0], 2);
    W16 curCoeff[11];
    setFlat(curCoeff);
    if (curAcf[0] == 0)
        st->ener[0] = 0;
    else
        levinson16(curAcf, curCoeff, &st->ener[0], st);

    W16 energyq, index;
    if (pastVad == 0) {
        st->nb_ener = static_cast<W16>(st->nb_ener + 1 > 2 ? 2 : st->nb_ener + 1);
        index = g729ab_Qua_Sidgain(st->ener, st->sh_ener, st->nb_ener, &energyq);
        if (g729ab_Cmp_filt(st->RCoeff, st->sh_RCoeff, curAcf, st->ener[0], 4855) != 0) st->flag_chang = 1;
        if (sub(abs_s(sub(st->Dtxprev_energy, energyq)), 2) > 0) st->flag_chang = 1;
        st->count_fr0 = static_cast<W16>(st->count_fr0 + 1);
        if (st->count_fr0 < 3) {
            ana[0] = 0;
        } else {
            ana[0] = st->flag_chang ? W16{2} : W16{0};
            st->count_fr0 = 3;
        }
    } else {
        ana[0] = 2;
        st->count_fr0 = 0;
        st->nb_ener = 1;
        index = g729ab_Qua_Sidgain(st->ener, st->sh_ener, 1, &energyq);
    }

    if (ana[0] == 2) {
        st->count_fr0 = 0;
        st->flag_chang = 0;
        g729ab_Calc_pastfilt(st->pastCoeff, st);
        g729ab_Calc_RCoeff(st->pastCoeff, st->RCoeff, &st->sh_RCoeff);
        const W16* lpc = st->pastCoeff;
        if (g729ab_Cmp_filt(st->RCoeff, st->sh_RCoeff, curAcf, st->ener[0], 3161) != 0) {
            lpc = curCoeff;
            g729ab_Calc_RCoeff(curCoeff, st->RCoeff, &st->sh_RCoeff);
        }
        W16 lsp_new[10];
        g729ab_Az_lsp(lpc, lsp_new, lsp_old_q);
        g729ab_lsfq_noise(lsp_new, st->lspSid_q, freq_prev, &ana[1]);
        st->Dtxprev_energy = energyq;
        ana[4] = index;
        st->sid_gain = g729ab_tab_Sidgain[index];
    }

    if (pastVad != 0)
        st->cur_gain = st->sid_gain;
    else
        st->cur_gain = add(mult_r(st->cur_gain, 28672), mult_r(st->sid_gain, 4096));
    g729ab_Calc_exc_rand(st->cur_gain, exc, seed, L_exc_err, 1);
    g729ab_Int_qlpc(lsp_old_q, st->lspSid_q, Aq);
    g729ab_Copy10(st->lspSid_q, lsp_old_q);
    if (st->fr_cur == 0) g729ab_Update_sumAcf(st);
}

}  // namespace g729
