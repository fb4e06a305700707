// Algebraic (fixed) codebook of G.729 Annex A: four signed pulses on five interleaved tracks,
// found by the fast depth-first search over the sign-modified correlation matrix.
#include "g729_internal.h"

namespace g729 {

namespace {
constexpr W16 kWeights[6] = {0, 0, 0, 0, 16384, 4096};

void g729ab_Cor_h_loop1(const W16* h, W16* rr) {
    W32 cor = 0;
    for (int k = 0; k < 8; ++k)
        for (int t = 0; t < 5; ++t) {
            cor = L_mac(cor, h[5 * k + t], h[5 * k + t]);
            rr[kRrDiag + 8 * (4 - t) + (7 - k)] = extract_h(cor);
        }
}

// Index of the largest of eight values, strictly greater wins, skipping `exclude`.
int g729ab_D4i40_SearchDn(const W16* dn, int exclude) {
    W16 max = -1;
    int best = 0;
    for (int k = 0; k < 8; ++k)
        if (k != exclude && dn[k] > max) {
            max = dn[k];
            best = k;
        }
    return best;
}

// Eight energy terms: base + 32768 + (rr1 << 13) + (rr2 << 13) + (rr3 << 12), wrapping.
void g729ab_D4i40_CalcAlp1(W32 base, const W16* rr1, int s1, const W16* rr2, int s2, const W16* rr3, W32* out) {
    for (int i = 0; i < 8; ++i) {
        std::uint32_t v = static_cast<std::uint32_t>(base) + 32768u + (static_cast<std::uint32_t>(W32{rr1[s1 * i]}) << 13) +
                          (static_cast<std::uint32_t>(W32{rr2[s2 * i]}) << 13) + (static_cast<std::uint32_t>(W32{rr3[i]}) << 12);
        out[i] = static_cast<W32>(v);
    }
}

}  // namespace

void g729ab_Cor_h(const W16* H, W16* rr) {
    W16 h[40];
    W32 energy = g729ab_Vec_L_sqa(H, 40, 0);
    if (extract_h(energy) > 32000) {
        g729ab_Vec_shr_8(H, h, 1, 40);
    } else {
        int k = (norm_l(energy) >> 1) & 15;
        g729ab_Vec_shl_8(H, h, k, 40);
    }
    g729ab_Cor_h_loop1(h, rr);
    g729ab_Cor_h_loop2_3_4_5(h, h, rr);
}

void g729ab_Cor_h_X(const W16* h, const W16* x, W16* dn) {
    W16 xp[48];
    for (int i = 0; i < 40; ++i) xp[i] = x[i];
    for (int i = 40; i < 48; ++i) xp[i] = 0;
    W32 y32[40];
    // One bound for the five blocks: all of h against all of the target.
    if (g729SumsCannotSaturate(h, 40, xp, 47, 40) || g729EnergiesCannotSaturate(h, 40, xp, 47))
        for (int b = 0; b < 5; ++b) g729PlainLags(h, xp + 8 * b, 8, y32 + 8 * b, 40 - 8 * b);
    else
        for (int b = 0; b < 5; ++b) g729ab_comp_corr_loop(h, xp + 8 * b, 8, y32 + 8 * b, 40 - 8 * b);
    W32 max = g729ab_Vec_L_abs_max(y32, 40);
    int m = norm_l(max);
    if (m > 16) m = 16;
    g729ab_Vec_L_shl_ExtractH(y32, dn, m - 2, 40);
}

// Position order to track-major order: track t's eight values at 8·t.
void g729ab_D4i40_Reorder(const W16* in, W16* trackMajor) {
    for (int t = 0; t < 5; ++t)
        for (int k = 0; k < 8; ++k) trackMajor[8 * t + k] = in[t + 5 * k];
}

W16 g729ab_D4i40_17_fast(W16* dn, W16* rr, const W16* h, W16* code, W16* y, W16* sign) {
    W16 psign[40], nsign[40], psT[40], nsT[40], dnT[40];
    g729ab_D4i40_SetSign(dn, psign, nsign);
    g729ab_D4i40_Reorder(psign, psT);
    g729ab_D4i40_Reorder(nsign, nsT);
    g729ab_D4i40_Reorder(dn, dnT);
    g729ab_D4i40_ModRrixiy1(rr + kRr01, psign, psT + 8, nsT + 8);
    g729ab_D4i40_ModRrixiy2(rr + kRr12, psign, psT + 16, nsT + 16);
    g729ab_D4i40_ModRrixiy3(rr + kRr23, psign, psT + 24, nsT + 24);

    const W16* diag = rr + kRrDiag;
    W16 psk = -1, alpk = 1;
    int pos[4] = {0, 1, 2, 3};

    for (int track = 3; track <= 4; ++track) {
        const W16* dn3 = dnT + 8 * track;
        const W16* diag3 = diag + 8 * track;
        const int rr03 = track == 3 ? kRr03 : kRr04;
        const int rr13 = track == 3 ? kRr13 : kRr14;
        const int rr23 = track == 3 ? kRr23 : kRr24;

        // Search A: track 2 and the pulse-3 track, then tracks 0 and 1.
        {
            int k0a = g729ab_D4i40_SearchDn(dnT + 16, -1);
            int k0b = g729ab_D4i40_SearchDn(dnT + 16, k0a);
            W16 idx[4], sq[4], alp[4], bsq, balp, bidx;
            g729ab_D4i40_cbs_NB_POS_1(L_add(L_mult(diag[16 + k0a], 8192), 0x8000), diag3, rr + rr23 + 8 * k0a, dn3, dnT[16 + k0a], idx,
                                      sq, alp);
            g729ab_D4i40_cbs_NB_POS_2(L_add(L_mult(diag[16 + k0b], 8192), 0x8000), diag3, rr + rr23 + 8 * k0b, dn3, dnT[16 + k0b], idx,
                                      sq, alp, &bsq, &balp, &bidx);
            int k0 = bidx >= 8 ? k0b : k0a;
            int m = bidx & 7;
            W16 ps = static_cast<W16>(dnT[16 + k0] + dn3[m]);
            W32 rrv[8], alp0[8];
            g729ab_D4i40_CalcRrv_NB_POS(rr + kRr12 + k0, rr + rr13 + m, diag + 8, rrv);
            g729ab_D4i40_CalcAlp1(L_mult(balp, 8192), rr + kRr02 + k0, 8, rr + rr03 + m, 8, diag, alp0);
            W16 salp, ssq, sidx;
            g729ab_CBS2_PulsePosition_MR122(dnT, dnT + 8, ps, rr + kRr01, rrv, kWeights, alp0, &salp, &ssq, &sidx);
            if (g729Better(ssq, salp, psk, alpk)) {
                psk = ssq;
                alpk = salp;
                pos[0] = 5 * (sidx >> 3);
                pos[1] = 1 + 5 * (sidx & 7);
                pos[2] = 2 + 5 * k0;
                pos[3] = track + 5 * m;
            }
        }
        // Search B: the pulse-3 track and track 0, then tracks 1 and 2.
        {
            int k0a = g729ab_D4i40_SearchDn(dn3, -1);
            int k0b = g729ab_D4i40_SearchDn(dn3, k0a);
            W16 colA[8], colB[8];
            for (int i = 0; i < 8; ++i) {
                colA[i] = rr[rr03 + 8 * i + k0a];
                colB[i] = rr[rr03 + 8 * i + k0b];
            }
            W16 idx[4], sq[4], alp[4], bsq, balp, bidx;
            g729ab_D4i40_cbs_NB_POS_1(L_add(L_mult(diag3[k0a], 8192), 0x8000), diag, colA, dnT, dn3[k0a], idx, sq, alp);
            g729ab_D4i40_cbs_NB_POS_2(L_add(L_mult(diag3[k0b], 8192), 0x8000), diag, colB, dnT, dn3[k0b], idx, sq, alp, &bsq, &balp,
                                      &bidx);
            int k0 = bidx >= 8 ? k0b : k0a;
            int m = bidx & 7;
            W16 ps = static_cast<W16>(dn3[k0] + dnT[m]);
            W32 rrv[8], alp0[8];
            g729ab_D4i40_CalcRrv_1(rr + rr23 + k0, rr + kRr02 + 8 * m, diag + 16, rrv);
            g729ab_D4i40_CalcAlp1(L_mult(balp, 8192), rr + rr13 + k0, 8, rr + kRr01 + 8 * m, 1, diag + 8, alp0);
            W16 salp, ssq, sidx;
            g729ab_CBS2_PulsePosition_MR122(dnT + 8, dnT + 16, ps, rr + kRr12, rrv, kWeights, alp0, &salp, &ssq, &sidx);
            if (g729Better(ssq, salp, psk, alpk)) {
                psk = ssq;
                alpk = salp;
                pos[0] = 5 * m;
                pos[1] = 1 + 5 * (sidx >> 3);
                pos[2] = 2 + 5 * (sidx & 7);
                pos[3] = track + 5 * k0;
            }
        }
    }

    for (int i = 0; i < 40; ++i) {
        code[i] = 0;
        y[i] = 0;
    }
    W16 signs = 0;
    for (int k = 0; k < 4; ++k) {
        int p = pos[k];
        W16 s = static_cast<W16>(psign[p] >> 2);
        code[p] = k < 2 ? s : add(code[p], s);
        if (psign[p] > 0) {
            signs = static_cast<W16>(signs | (1 << k));
            g729ab_Vec_Add4(y + p, h, y + p, 40 - p);
        } else {
            g729ab_Vec_Sub4(y + p, h, y + p, 40 - p);
        }
    }
    *sign = signs;
    int p3 = pos[3];
    return static_cast<W16>(pos[0] / 5 + 8 * (pos[1] / 5) + 64 * (pos[2] / 5) + 512 * (2 * (p3 / 5) + (p3 % 5) - 3));
}

W16 g729ab_ACELP_Code_A(const W16* x, W16* h, W16 T0, W16 sharp, W16* code, W16* y, W16* sign) {
    W16 sharp15 = shl(sharp, 1);
    if (T0 < kSubfr) g729ab_Vec_add_prev_mult(h, sharp15, T0);
    W16 rr[kRrSize];
    W16 dn[40];
    g729ab_Cor_h(h, rr);
    g729ab_Cor_h_X(h, x, dn);
    W16 index = g729ab_D4i40_17_fast(dn, rr, h, code, y, sign);
    if (T0 < kSubfr) g729ab_Vec_add_prev_mult(code, sharp15, T0);
    return index;
}

void g729ab_Corr_xy2(const W16* xn, const W16* y1, const W16* y2, W16* g_coeff, W16* exp_g_coeff) {
    W16 y2s[40];
    g729ab_Vec_shr_8(y2, y2s, 3, 40);
    W32 L = g729ab_Vec_L_sqa_40(y2s, 1);
    W16 e = norm_l(L);
    g_coeff[2] = round16(L_shl(L, e));
    exp_g_coeff[2] = static_cast<W16>(e + 3);
    L = g729ab_Vec_L_mac8(xn, y2s, 40, 1);
    e = norm_l(L);
    g_coeff[3] = negate(round16(L_shl(L, e)));
    exp_g_coeff[3] = static_cast<W16>(e - 7);
    L = g729ab_Vec_L_mac8(y1, y2s, 40, 1);
    e = norm_l(L);
    g_coeff[4] = round16(L_shl(L, e));
    exp_g_coeff[4] = static_cast<W16>(e - 7);
}

void g729ab_Decod_ACELP(W16 sign, W16 index, W16* cod) {
    int pos[4];
    pos[0] = 5 * (index & 7);
    pos[1] = 5 * ((index >> 3) & 7) + 1;
    pos[2] = 5 * ((index >> 6) & 7) + 2;
    pos[3] = 5 * ((index >> 10) & 7) + 3 + ((index >> 9) & 1);
    for (int i = 0; i < 40; ++i) cod[i] = 0;
    for (int j = 0; j < 4; ++j) cod[pos[j]] = (sign >> j) & 1 ? W16{8191} : W16{-8192};
}

}  // namespace g729
