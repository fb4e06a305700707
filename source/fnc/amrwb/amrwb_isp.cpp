// LP coefficients from ISPs, ISP interpolation, the ISF stability factor, the
// ISF dequantisers and the high-band ISF extrapolation.
#include "amrwb_basic_op.h"
#include "amrwb_kernels.h"
#include "amrwb_shared.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

namespace {
constexpr int M = 16;

// F2 ×(1 - z^-2), then F1 ×(1 + isp[m-1]) and F2 ×(1 - isp[m-1]).
void prep_f1_f2(Word32* f1, Word32* f2, int nc, Word16 last) {
    for (int i = nc - 1; i > 1; --i) f2[i] = L_sub(f2[i], f2[i - 2]);
    amr_wb_Isp_Az_PrepF1F2_Loop1(f1, f2, last);
    for (int i = 8; i < nc; ++i) {
        f1[i] = L_add(f1[i], amr_wb_MPY_32_16(f1[i], last));
        f2[i] = L_sub(f2[i], amr_wb_MPY_32_16(f2[i], last));
    }
}

// a[i], a[m-i] from the sum and difference; returns the OR of the magnitudes.
Word32 calc_a(const Word32* f1, const Word32* f2, Word16* a, int m, int nc, Word16 shift) {
    Word32 tmax = 1;
    for (int i = 1, j = m - 1; i < nc; ++i, --j) {
        Word32 t = L_add(f1[i], f2[i]);
        tmax |= L_abs(t);
        a[i] = extract_l(amr_wb_L_shr_r(t, shift));
        t = L_sub(f1[i], f2[i]);
        tmax |= L_abs(t);
        a[j] = extract_l(amr_wb_L_shr_r(t, shift));
    }
    return tmax;
}
}  // namespace

void amr_wb_Isp_Az(const Word16* isp, Word16* a, Word16 m, Word16 adaptive_scaling) {
    Word32 f1[11], f2[10];
    const int nc = m >> 1;
    if (nc > 8) {
        amr_wb_Get_isp_pol(isp, f1, static_cast<Word16>(nc), amr_wb_isp_az_pol_16KHz_tbl);
        amr_wb_Get_isp_pol(isp + 1, f2, static_cast<Word16>(nc - 1), amr_wb_isp_az_pol_16KHz_tbl);
        Word32 g1[12] = {}, g2[12] = {};
        for (int i = 0; i <= nc; ++i) g1[i] = f1[i];
        for (int i = 0; i < nc; ++i) g2[i] = f2[i];
        amr_wb_Vec_L_shl2_12(g1, g2);
        for (int i = 0; i <= nc; ++i) f1[i] = g1[i];
        for (int i = 0; i < nc; ++i) f2[i] = g2[i];
    } else {
        amr_wb_Get_isp_pol(isp, f1, static_cast<Word16>(nc), amr_wb_isp_az_pol_tbl);
        amr_wb_Get_isp_pol(isp + 1, f2, static_cast<Word16>(nc - 1), amr_wb_isp_az_pol_tbl);
    }
    const Word16 last = isp[m - 1];
    prep_f1_f2(f1, f2, nc, last);
    a[0] = 4096;
    Word32 tmax = calc_a(f1, f2, a, m, nc, 12);
    Word16 q = 0, q_sug = 12;
    if (adaptive_scaling == 1) {
        q = static_cast<Word16>(4 - norm_l(tmax));
        if (q > 0) {
            q_sug = static_cast<Word16>(12 + q);
            calc_a(f1, f2, a, m, nc, q_sug);
            a[0] = static_cast<Word16>(a[0] >> q);
        } else {
            q = 0;
        }
    }
    Word32 t = L_add(f1[nc], amr_wb_MPY_32_16(f1[nc], last));
    a[nc] = extract_l(amr_wb_L_shr_r(t, q_sug));
    a[m] = shr_r(last, static_cast<Word16>(3 + q));
}

void amr_wb_Int_isp(const Word16* isp_old, const Word16* isp_new, Word16* Az) {
    Word16 isp[M];
    for (int k = 0; k < 3; ++k) {
        Word16 fac_new = amr_wb_interpol_frac[k];
        Word16 fac_old = add(sub(32767, fac_new), 1);
        amr_wb_Int_isp_InnerLoop(isp_old, isp_new, isp, fac_old, fac_new);
        amr_wb_Isp_Az(isp, Az + 17 * k, M, 0);
    }
    amr_wb_Isp_Az(isp_new, Az + 51, M, 0);
}

Word16 amr_wb_CheckStability(const Word16* isf, const Word16* isfold) {
    Word32 L = 0;
    for (int i = 0; i < M - 1; ++i) {
        Word16 d = sub(isf[i], isfold[i]);
        L = L_mac(L, d, d);
    }
    Word16 t = mult(extract_h(L_shl(L, 8)), 26214);
    Word16 stab = shl(sub(20480, t), 1);
    return stab < 0 ? 0 : stab;
}

void amr_wb_Reorder_isf(Word16* isf) {
    Word16 isf_min = 128;
    for (int i = 0; i < M - 1; ++i) {
        if (isf[i] < isf_min) isf[i] = isf_min;
        isf_min = add(isf[i], 128);
    }
}

namespace {
void add_codevector(Word16* isf, const Word16* book, int dim, Word16 index) {
    Word16 v[9];
    amr_wb_VQ_stage1_DeQ(index, static_cast<Word16>(dim), book, v);
    for (int j = 0; j < dim; ++j) isf[j] = add(isf[j], v[j]);
}

void finish_good(Word16* isf_q, Word16* past_isfq, Word16* isf_buf, Word16 enc_dec) {
    amr_wb_Dpisf_2s_CalcIsfQ(isf_q, past_isfq);
    if (enc_dec) {
        for (int i = 0; i < M; ++i) {
            isf_buf[2 * M + i] = isf_buf[M + i];
            isf_buf[M + i] = isf_buf[i];
            isf_buf[i] = isf_q[i];
        }
    }
}
}  // namespace

void amr_wb_Dpisf_2s_46b(const Word16* indice, Word16* isf_q, Word16* past_isfq, Word16* isfold, Word16* isf_buf,
                         Word16 bfi, Word16 enc_dec) {
    if (bfi == 0) {
        amr_wb_VQ_stage1_DeQ(indice[0], 9, amr_wb_dico1_isf_reordered, isf_q);
        amr_wb_VQ_stage1_DeQ(indice[1], 7, amr_wb_dico2_isf_reordered, isf_q + 9);
        add_codevector(isf_q, amr_wb_dico21_isf_reordered, 3, indice[2]);
        add_codevector(isf_q + 3, amr_wb_dico22_isf_reordered, 3, indice[3]);
        add_codevector(isf_q + 6, amr_wb_dico23_isf_reordered, 3, indice[4]);
        add_codevector(isf_q + 9, amr_wb_dico24_isf_reordered, 3, indice[5]);
        add_codevector(isf_q + 12, amr_wb_dico25_isf_reordered, 4, indice[6]);
        finish_good(isf_q, past_isfq, isf_buf, enc_dec);
    } else {
        amr_wb_Dpisf_2s_BadFrame(isf_q, past_isfq, isfold, isf_buf);
    }
    amr_wb_Reorder_isf(isf_q);
}

void amr_wb_Dpisf_2s_36b(const Word16* indice, Word16* isf_q, Word16* past_isfq, Word16* isfold, Word16* isf_buf,
                         Word16 bfi, Word16 enc_dec) {
    if (bfi == 0) {
        amr_wb_VQ_stage1_DeQ(indice[0], 9, amr_wb_dico1_isf_reordered, isf_q);
        amr_wb_VQ_stage1_DeQ(indice[1], 7, amr_wb_dico2_isf_reordered, isf_q + 9);
        add_codevector(isf_q, amr_wb_dico21_isf_36b_reordered, 5, indice[2]);
        add_codevector(isf_q + 5, amr_wb_dico22_isf_36b_reordered, 4, indice[3]);
        add_codevector(isf_q + 9, amr_wb_dico23_isf_36b_reordered, 7, indice[4]);
        finish_good(isf_q, past_isfq, isf_buf, enc_dec);
    } else {
        amr_wb_Dpisf_2s_BadFrame(isf_q, past_isfq, isfold, isf_buf);
    }
    amr_wb_Reorder_isf(isf_q);
}

void amr_wb_Dpisf_2s_BadFrame(Word16* isf_q, Word16* past_isfq, const Word16* isfold, const Word16* isf_buf) {
    for (int i = 0; i < M; ++i) {
        Word32 L = L_mult(amr_wb_mean_isf[i], 8192);
        for (int j = 0; j < 3; ++j) L = L_mac(L, isf_buf[j * M + i], 8192);
        Word16 ref = round16(L);
        isf_q[i] = add(mult(isfold[i], 29491), mult(ref, 3277));
        Word16 tmp = add(ref, mult(past_isfq[i], 10923));
        past_isfq[i] = shr(sub(isf_q[i], tmp), 1);
    }
}

void amr_wb_Disf_ns(const Word16* indice, Word16* isf_q) {
    amr_wb_VQ_stage1_DeQ(indice[0], 2, amr_wb_dico1_isf_noise_reordered, isf_q);
    amr_wb_VQ_stage1_DeQ(indice[1], 3, amr_wb_dico2_isf_noise_reordered, isf_q + 2);
    amr_wb_VQ_stage1_DeQ(indice[2], 3, amr_wb_dico3_isf_noise_reordered, isf_q + 5);
    amr_wb_VQ_stage1_DeQ(indice[3], 4, amr_wb_dico4_isf_noise_reordered, isf_q + 8);
    amr_wb_VQ_stage1_DeQ(indice[4], 4, amr_wb_dico5_isf_noise_reordered, isf_q + 12);
    for (int i = 0; i < M; ++i) isf_q[i] = add(isf_q[i], amr_wb_mean_isf_noise[i]);
    amr_wb_Reorder_isf(isf_q);
}

void amr_wb_Isf_Extrapolation(Word16* HfIsf) {
    constexpr int M16k = 20;
    Word16 diff[M - 2];
    HfIsf[M16k - 1] = HfIsf[M - 1];
    for (int i = 1; i < M - 1; ++i) diff[i - 1] = sub(HfIsf[i], HfIsf[i - 1]);
    Word32 L = 0;
    for (int i = 3; i < M - 1; ++i) L = L_mac(L, diff[i - 1], 2731);  // mean over 12 differences
    Word16 mean = round16(L);
    Word16 tmp = 0;
    for (int i = 0; i < M - 2; ++i)
        if (diff[i] > tmp) tmp = diff[i];
    Word16 exp = norm_s(tmp);
    for (int i = 0; i < M - 2; ++i) diff[i] = shl(diff[i], exp);
    mean = shl(mean, exp);
    // Correlations at lags 2, 3, 4 over the differences from index 7; the
    // mean in the eighth word makes the last term vanish.
    Word16 d[8], e[8];
    Word32 corr[3];
    for (int lag = 2; lag <= 4; ++lag) {
        for (int k = 0; k < 7; ++k) {
            d[k] = diff[7 + k];
            e[k] = diff[7 + k - lag];
        }
        d[7] = mean;
        e[7] = mean;
        corr[lag - 2] = amr_wb_Calc_IsfCorr(d, e, mean);
    }
    int max_corr = corr[0] > corr[1] ? 0 : 1;
    if (corr[2] > corr[max_corr]) max_corr = 2;
    max_corr += 1;
    for (int i = M - 1; i < M16k - 1; ++i) HfIsf[i] = add(HfIsf[i - 1], sub(HfIsf[i - 1 - max_corr], HfIsf[i - 2 - max_corr]));

    tmp = sub(HfIsf[2], add(HfIsf[4], HfIsf[3]));
    tmp = add(mult(tmp, 5461), 20390);
    if (tmp > 19456) tmp = 19456;
    tmp = sub(tmp, HfIsf[M - 2]);
    Word16 tmp2 = sub(HfIsf[M16k - 2], HfIsf[M - 2]);
    Word16 exp2 = norm_s(tmp2);
    exp = static_cast<Word16>(norm_s(tmp) - 1);
    tmp = shl(tmp, exp);
    tmp2 = shl(tmp2, exp2);
    Word16 coeff = amr_wb_div_s(tmp, tmp2);
    exp = static_cast<Word16>(exp2 - exp);
    for (int i = M - 1; i < M16k - 1; ++i) diff[i - (M - 1)] = shl(mult(sub(HfIsf[i], HfIsf[i - 1]), coeff), exp);
    for (int i = M; i < M16k - 1; ++i) {
        // Neighbouring differences keep at least 500 Hz between ISF n and n-2.
        if (sub(add(diff[i - (M - 1)], diff[i - M]), 1280) < 0) {
            if (diff[i - (M - 1)] > diff[i - M])
                diff[i - M] = sub(1280, diff[i - (M - 1)]);
            else
                diff[i - (M - 1)] = sub(1280, diff[i - M]);
        }
    }
    for (int i = M - 1; i < M16k - 1; ++i) HfIsf[i] = add(HfIsf[i - 1], diff[i - (M - 1)]);
    // Scale to 16 kHz: 19 words, the 20th kept.
    Word16 keep = HfIsf[M16k - 1];
    amr_wb_Vec_mult_shift(HfIsf, M16k, 26214, 0);
    HfIsf[M16k - 1] = keep;
    amr_wb_Isf_isp(HfIsf, HfIsf, M16k);
}
