// Encoder LP analysis: windowed autocorrelation, LPC to LSP conversion, LSF
// weighting and split-VQ quantisation, interpolation of the subframe filters.
#include <cstring>

#include "amrefr_basic_op.h"
#include "amrefr_encoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

Word16 amrefr_Autocorr(Word16* x, Word32* r, const Word16* wind) {
    Word16 y[256];
    amrefr_Vec_mult_r(x, wind, y);
    Word16 overfl_shft = 0;
    Word32 sum;
    for (;;) {
        sum = amrefr_Vec_L_sqa(y, 240, 0);
        if (sum != MAX_32) break;
        overfl_shft = add(overfl_shft, 4);
        amrefr_Vec_shr_8(y, y, 2, 240);
    }
    sum = L_add(sum, 1);
    Word16 norm = norm_l(sum);
    r[0] = L_shl(sum, norm);
    amrefr_ACF(y, r, norm);
    return sub(norm, overfl_shft);
}

void amrefr_lpc(GSMAMR_lpcState* st, Word16 mode, Word16* x, Word16* x_12k2, Word16* a) {
    Word32 r[13];
    Word16 rc[4];
    if (mode == MR122) {
        amrefr_Autocorr(x_12k2, r, amrefr_window_160_80);
        amrefr_Lag_window(r);
        amrefr_Levinson(&st->levinsonSt, r, &a[11], rc);
        amrefr_Autocorr(x_12k2, r, amrefr_window_232_8);
        amrefr_Lag_window(r);
        amrefr_Levinson(&st->levinsonSt, r, &a[33], rc);
    } else {
        amrefr_Autocorr(x, r, amrefr_window_200_40);
        amrefr_Lag_window(r);
        amrefr_Levinson(&st->levinsonSt, r, &a[33], rc);
    }
}

namespace {

// Chebyshev coefficients in Q24 for the evaluation kernel: the Q10 values
// times 16384, the last one halved (times 8192).
void cheb_coeffs(const Word16* f, Word32* out) {
    out[0] = 0;
    for (int i = 1; i <= 4; ++i) out[i] = std::int32_t{f[i]} * 16384;
    out[5] = std::int32_t{f[5]} * 8192;
}

}  // namespace

// Roots of the sum and difference polynomials along the cosine grid.  The scan
// moves two grid points at once while the polynomial value is far from zero
// (magnitude above 200); a sign change over such a step is located in one of
// its halves by evaluating the skipped point, so that the roots are those of a
// one-point scan unless two sign changes fall inside one double step.
void amrefr_Az_lsp(const Word16* a, Word16* lsp, const Word16* old_lsp) {
    Word16 f1[6], f2[6];
    f1[0] = 1024;
    f2[0] = 1024;
    for (int i = 0; i < 5; ++i) {
        Word16 x = extract_h(L_mac(L_mult(a[i + 1], 8192), a[10 - i], 8192));
        f1[i + 1] = sub(x, f1[i]);
        x = extract_h(L_msu(L_mult(a[i + 1], 8192), a[10 - i], 8192));
        f2[i + 1] = add(x, f2[i]);
    }
    Word32 c1[6], c2[6];
    cheb_coeffs(f1, c1);
    cheb_coeffs(f2, c2);
    const Word32* coef = c1;
    int ip = 0, nf = 0, j = 0;
    Word16 xlow = amrefr_grid[0];
    Word16 ylow = amrefr_Chebps(xlow, coef);
    while (nf < 10 && j < 60) {
        int step = abs_s(ylow) > 200 ? 2 : 1;
        if (j + step > 60) step = 60 - j;
        Word16 xhigh = xlow, yhigh = ylow;
        j += step;
        xlow = amrefr_grid[j];
        ylow = amrefr_Chebps(xlow, coef);
        if (L_mult(ylow, yhigh) > 0) continue;
        if (step == 2) {
            Word16 xm = amrefr_grid[j - 1];
            Word16 ym = amrefr_Chebps(xm, coef);
            if (L_mult(ym, yhigh) <= 0) {
                // Root in the first half: the scan for the next root resumes
                // at the skipped point, as a one-point scan would.
                xlow = xm;
                ylow = ym;
                --j;
            } else {
                xhigh = xm;
                yhigh = ym;
            }
        }
        for (int i = 0; i < 4; ++i) {
            Word16 xmid = add(shr(xlow, 1), shr(xhigh, 1));
            Word16 ymid = amrefr_Chebps(xmid, coef);
            if (L_mult(ylow, ymid) <= 0) {
                yhigh = ymid;
                xhigh = xmid;
            } else {
                ylow = ymid;
                xlow = xmid;
            }
        }
        Word16 x = sub(xhigh, xlow), y = sub(yhigh, ylow), xint;
        if (y == 0) {
            xint = xlow;
        } else {
            Word16 sign = y;
            y = abs_s(y);
            Word16 exp = norm_s(y);
            y = shl(y, exp);
            y = div_s(16383, y);
            Word32 t0 = L_shr(L_mult(x, y), sub(20, exp));
            y = extract_l(t0);
            if (sign < 0) y = negate(y);
            t0 = L_shr(L_mult(ylow, y), 11);
            xint = sub(xlow, extract_l(t0));
        }
        lsp[nf++] = xint;
        xlow = xint;
        ip ^= 1;
        coef = ip ? c2 : c1;
        ylow = amrefr_Chebps(xlow, coef);
    }
    if (nf < 10)
        for (int i = 0; i < 10; ++i) lsp[i] = old_lsp[i];
}

void amrefr_Lsf_wt(const Word16* lsf, Word16* wf) {
    wf[0] = lsf[1];
    for (int i = 1; i < 9; ++i) wf[i] = sub(lsf[i + 1], lsf[i - 1]);
    wf[9] = sub(16384, lsf[8]);
    for (int i = 0; i < 10; ++i) {
        Word16 temp = sub(wf[i], 1843);
        wf[i] = temp < 0 ? sub(3427, mult(wf[i], 28160)) : sub(1843, mult(temp, 6242));
        wf[i] = shl(wf[i], 3);
    }
}

void amrefr_Q_plsf_3(GSMAMR_Q_plsfState* st, Word16 mode, const Word16* lsp1, Word16* lsp1_q, Word16* indice,
                     Word16* pred_init_i) {
    Word16 lsf1[10], wf1[10], lsf_p[10], lsf_r1[10], lsf1_q[10];
    amrefr_Lsp_lsf2(lsp1, lsf1);
    amrefr_Lsf_wt(lsf1, wf1);
    if (mode != MRDTX) {
        for (int i = 0; i < 10; ++i) {
            lsf_p[i] = add(amrefr_mean_lsf_3[i], mult(st->past_rq[i], amrefr_pred_fac[i]));
            lsf_r1[i] = sub(lsf1[i], lsf_p[i]);
        }
    } else {
        *pred_init_i = 0;
        Word32 L_min = MAX_32;
        for (int j = 0; j < 8; ++j) {
            Word16 tp[10], tr[10];
            Word32 err = 0;
            for (int i = 0; i < 10; ++i) {
                tp[i] = add(amrefr_mean_lsf_3[i], amrefr_past_rq_init[10 * j + i]);
                tr[i] = sub(lsf1[i], tp[i]);
                err = L_mac(err, tr[i], tr[i]);
            }
            if (err < L_min) {
                L_min = err;
                std::memcpy(lsf_r1, tr, sizeof(tr));
                std::memcpy(lsf_p, tp, sizeof(tp));
                std::memcpy(st->past_rq, &amrefr_past_rq_init[10 * j], 10 * sizeof(Word16));
                *pred_init_i = static_cast<Word16>(j);
            }
        }
    }
    // Residual and weights in groups of four (a zero weight after a three-value split).
    Word16 x0[4] = {lsf_r1[0], lsf_r1[1], lsf_r1[2], 0}, w0[4] = {wf1[0], wf1[1], wf1[2], 0};
    Word16 x1[4] = {lsf_r1[3], lsf_r1[4], lsf_r1[5], 0}, w1[4] = {wf1[3], wf1[4], wf1[5], 0};
    Word16 x2[4] = {lsf_r1[6], lsf_r1[7], lsf_r1[8], lsf_r1[9]}, w2[4] = {wf1[6], wf1[7], wf1[8], wf1[9]};
    if (mode == MR475 || mode == MR515) {
        indice[0] = amrefr_reordered_Vq_subvec3a(x0, amrefr_reordered_dico1_lsf, w0, 256);
        indice[1] = amrefr_reordered_Vq_subvec3b(x1, amrefr_reordered_dico2_lsf, w1, 256);
        indice[2] = amrefr_reordered_Vq_subvec4(x2, amrefr_reordered_mr515_3_lsf, w2, 128);
    } else if (mode == MR795) {
        indice[0] = amrefr_reordered_Vq_subvec3a(x0, amrefr_reordered_mr795_1_lsf, w0, 512);
        indice[1] = amrefr_reordered_Vq_subvec3a(x1, amrefr_reordered_dico2_lsf, w1, 512);
        indice[2] = amrefr_reordered_Vq_subvec4(x2, amrefr_reordered_dico3_lsf, w2, 512);
    } else {
        indice[0] = amrefr_reordered_Vq_subvec3a(x0, amrefr_reordered_dico1_lsf, w0, 256);
        indice[1] = amrefr_reordered_Vq_subvec3a(x1, amrefr_reordered_dico2_lsf, w1, 512);
        indice[2] = amrefr_reordered_Vq_subvec4(x2, amrefr_reordered_dico3_lsf, w2, 512);
    }
    for (int i = 0; i < 3; ++i) lsf_r1[i] = x0[i], lsf_r1[3 + i] = x1[i];
    for (int i = 0; i < 4; ++i) lsf_r1[6 + i] = x2[i];
    for (int i = 0; i < 10; ++i) {
        lsf1_q[i] = add(lsf_r1[i], lsf_p[i]);
        st->past_rq[i] = lsf_r1[i];
    }
    amrefr_Reorder_lsf(lsf1_q);
    amrefr_Lsf_lsp(lsf1_q, lsp1_q);
}

void amrefr_Q_plsf_5(GSMAMR_Q_plsfState* st, const Word16* lsp1, const Word16* lsp2, Word16* lsp1_q, Word16* lsp2_q,
                     Word16* indice) {
    amrefr_Q_plsf_5_efr(st, lsp1, lsp2, lsp1_q, lsp2_q, indice, nullptr, 0);
}

// Without EFR the transmit control word counts as speech.
void amrefr_Q_plsf_5_efr(GSMAMR_Q_plsfState* st, const Word16* lsp1, const Word16* lsp2, Word16* lsp1_q,
                         Word16* lsp2_q, Word16* indice, GSMAMR_EFRdtx_encState* dtx, Word16 do_EFR) {
    const Word16 ctrl = do_EFR ? dtx->txdtx_ctrl : EFR_TX_SP_FLAG;
    const bool speech = (ctrl & EFR_TX_SP_FLAG) != 0;
    Word16 lsf1[10], lsf2[10], wf1[10], wf2[10], lsf_p[10], r1[10], r2[10];
    amrefr_Lsp_lsf2(lsp1, lsf1);
    amrefr_Lsp_lsf2(lsp2, lsf2);
    if (!speech && (ctrl & EFR_TX_PREV_HANGOVER_ACTIVE)) amrefr_update_lsf_p_CN(dtx->lsf_old_tx, dtx->lsf_p_CN);
    if (ctrl & EFR_TX_SID_UPDATE) {
        // A new SID: quantise the average of the history and this frame; only
        // the second set is weighted.
        Word16 lsf_aver[10];
        amrefr_aver_lsf_history(dtx->lsf_old_tx, lsf1, lsf2, lsf_aver);
        amrefr_update_lsf_history(lsf1, lsf2, dtx->lsf_old_tx);
        std::memcpy(lsf1, lsf_aver, sizeof(lsf1));
        std::memcpy(lsf2, lsf_aver, sizeof(lsf2));
        std::memset(wf1, 0, sizeof(wf1));
        amrefr_Lsf_wt(lsf_aver, wf2);
    } else {
        if (!speech) amrefr_update_lsf_history(lsf1, lsf2, dtx->lsf_old_tx);
        amrefr_Lsf_wt(lsf1, wf1);
        amrefr_Lsf_wt(lsf2, wf2);
    }
    for (int i = 0; i < 10; ++i) {
        lsf_p[i] = speech ? add(amrefr_mean_lsf_5[i], mult(st->past_rq[i], 21299)) : dtx->lsf_p_CN[i];
        r1[i] = sub(lsf1[i], lsf_p[i]);
        r2[i] = sub(lsf2[i], lsf_p[i]);
    }
    const Word16* books[5] = {amrefr_reordered_dico1_5_lsf, amrefr_reordered_dico2_5_lsf,
                              amrefr_reordered_dico3_5_lsf, amrefr_reordered_dico4_5_lsf,
                              amrefr_reordered_dico5_5_lsf};
    const Word16 sizes[5] = {128, 256, 256, 256, 64};
    for (int g = 0; g < 5; ++g) {
        Word16 x[4] = {r1[2 * g], r1[2 * g + 1], r2[2 * g], r2[2 * g + 1]};
        Word16 w[4] = {wf1[2 * g], wf1[2 * g + 1], wf2[2 * g], wf2[2 * g + 1]};
        indice[g] = g == 2 ? amrefr_reordered_Vq_subvec_s(x, books[g], w, sizes[g])
                           : amrefr_reordered_Vq_subvec4(x, books[g], w, sizes[g]);
        r1[2 * g] = x[0];
        r1[2 * g + 1] = x[1];
        r2[2 * g] = x[2];
        r2[2 * g + 1] = x[3];
    }
    if (!speech) {
        // Comfort noise: the prediction restarts after the pause; the
        // quantised vectors are not used by the frame.
        std::memset(st->past_rq, 0, sizeof(st->past_rq));
        std::memcpy(lsp1_q, lsp1, 10 * sizeof(Word16));
        std::memcpy(lsp2_q, lsp2, 10 * sizeof(Word16));
        return;
    }
    Word16 q1[10], q2[10];
    for (int i = 0; i < 10; ++i) {
        q1[i] = add(r1[i], lsf_p[i]);
        q2[i] = add(r2[i], lsf_p[i]);
        st->past_rq[i] = r2[i];
    }
    amrefr_Reorder_lsf(q1);
    amrefr_Reorder_lsf(q2);
    if (ctrl & EFR_TX_HANGOVER_ACTIVE) amrefr_update_lsf_history(q1, q2, dtx->lsf_old_tx);
    amrefr_Lsf_lsp(q1, lsp1_q);
    amrefr_Lsf_lsp(q2, lsp2_q);
}

void amrefr_Int_lpc_1to3_2(const Word16* lsp_old, const Word16* lsp_new, Word16* Az) {
    Word16 lsp[12];
    Word16 o[12] = {}, n[12] = {};
    for (int i = 0; i < 10; ++i) o[i] = lsp_old[i], n[i] = lsp_new[i];
    amrefr_Vec_add_shr2(n, o, lsp);
    amrefr_Lsp_Az(lsp, Az);
    amrefr_Vec_add_shr(o, n, lsp);
    amrefr_Lsp_Az(lsp, Az + 11);
    amrefr_Vec_add_shr2(o, n, lsp);
    amrefr_Lsp_Az(lsp, Az + 22);
}

void amrefr_Int_lpc_1and3_2(const Word16* lsp_old, const Word16* lsp_mid, const Word16* lsp_new, Word16* Az) {
    Word16 lsp[12];
    Word16 o[12] = {}, m[12] = {}, n[12] = {};
    for (int i = 0; i < 10; ++i) o[i] = lsp_old[i], m[i] = lsp_mid[i], n[i] = lsp_new[i];
    amrefr_Vec_add_shr(m, o, lsp);
    amrefr_Lsp_Az(lsp, Az);
    amrefr_Vec_add_shr(m, n, lsp);
    amrefr_Lsp_Az(lsp, Az + 22);
}

void amrefr_lsp(GSMAMR_lspState* st, Word16 req_mode, Word16 used_mode, Word16* az, Word16* azQ, Word16* lsp_new,
                Word16** anap) {
    amrefr_lsp_efr(st, req_mode, used_mode, az, azQ, lsp_new, anap, nullptr, 0);
}

void amrefr_lsp_efr(GSMAMR_lspState* st, Word16 req_mode, Word16 used_mode, Word16* az, Word16* azQ,
                    Word16* lsp_new, Word16** anap, GSMAMR_EFRdtx_encState* EFRdtx_encSt, Word16 do_EFR) {
    Word16 lsp_new_q[10] = {}, lsp_mid[10], lsp_mid_q[10], pred_init_i;
    bool comfort_noise = false;
    if (req_mode == MR122) {
        amrefr_Az_lsp(&az[11], lsp_mid, st->lsp_old);
        amrefr_Az_lsp(&az[33], lsp_new, lsp_mid);
        amrefr_Int_lpc_1and3_2(st->lsp_old, lsp_mid, lsp_new, az);
        if (used_mode != MRDTX) {
            amrefr_Q_plsf_5_efr(&st->qSt, lsp_mid, lsp_new, lsp_mid_q, lsp_new_q, *anap, EFRdtx_encSt, do_EFR);
            comfort_noise = do_EFR && (EFRdtx_encSt->txdtx_ctrl & EFR_TX_SP_FLAG) == 0;
            if (comfort_noise)
                std::memcpy(azQ, az, 44 * sizeof(Word16));
            else
                amrefr_Int_lpc_1and3(st->lsp_old_q, lsp_mid_q, lsp_new_q, azQ);
            *anap += 5;
        }
    } else {
        amrefr_Az_lsp(&az[33], lsp_new, st->lsp_old);
        amrefr_Int_lpc_1to3_2(st->lsp_old, lsp_new, az);
        if (used_mode != MRDTX) {
            amrefr_Q_plsf_3(&st->qSt, req_mode, lsp_new, lsp_new_q, *anap, &pred_init_i);
            amrefr_Int_lpc_1to3(st->lsp_old_q, lsp_new_q, azQ);
            *anap += 3;
        }
    }
    std::memcpy(st->lsp_old, lsp_new, sizeof(st->lsp_old));
    std::memcpy(st->lsp_old_q, comfort_noise ? lsp_new : lsp_new_q, sizeof(st->lsp_old_q));
}
