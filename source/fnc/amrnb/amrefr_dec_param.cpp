// Parameter decoders of the AMR-NB decoder: LSF dequantisers, pitch lags,
// algebraic codebooks and gains, with the gain predictor and the LSP helpers
// they share with the encoder.
#include <cstring>

#include "amrefr_basic_op.h"
#include "amrefr_decoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

constexpr Word16 kDgray[8] = {0, 1, 3, 2, 5, 6, 4, 7};
constexpr Word16 kPred[4] = {5571, 4751, 2785, 1556};
constexpr Word16 kPredMR122[4] = {44, 37, 22, 12};
constexpr Word32 kMeanEnerMR122 = 783741;  // 36 dB / (20·log10 2), Q17
constexpr Word16 kMinEnergy = -14336;
constexpr Word16 kMinEnergyMR122 = -2381;


Word32 Mpy_32_16_pair(Word16 hi, Word16 lo, Word16 n) { return L_mac(L_mult(hi, n), mult(lo, n), 1); }

void L_Extract(Word32 L, Word16* hi, Word16* lo) {
    *hi = extract_h(L);
    *lo = extract_l(L_msu(L_shr(L, 1), *hi, 16384));
}

// Entry i, component c of a codebook stored in blocks of four entries.
inline Word16 cb(const Word16* book, int dim, int i, int c) { return book[4 * dim * (i >> 2) + (i & 3) + 4 * c]; }

}  // namespace

// ---------------------------------------------------------------------------
// Gain predictor.

void amrefr_gc_pred_reset(GSMAMR_gc_predState* st) {
    for (int i = 0; i < 4; ++i) {
        st->past_qua_en[i] = kMinEnergy;
        st->past_qua_en_MR122[i] = kMinEnergyMR122;
    }
}

void amrefr_gc_pred(GSMAMR_gc_predState* st, Word16 mode, const Word16* code, Word16* exp_gcode0,
                    Word16* frac_gcode0, Word16* exp_en, Word16* frac_en) {
    Word32 ener_code = amrefr_Vec_L_sqa_40(code, 0);
    if (mode == MR122) {
        ener_code = L_mult(round16(ener_code), 26214);
        Word16 exp, frac;
        amrefr_Log2(ener_code, &exp, &frac);
        ener_code = L_mac(L_deposit_h(sub(exp, 30)), frac, 1);
        Word32 L_tmp = kMeanEnerMR122;
        for (int i = 0; i < 4; ++i) L_tmp = L_mac(L_tmp, st->past_qua_en_MR122[i], kPredMR122[i]);
        L_tmp = L_sub(L_tmp, ener_code);
        L_tmp = L_shr(L_tmp, 1);
        L_Extract(L_tmp, exp_gcode0, frac_gcode0);
        return;
    }
    Word16 exp_code = norm_l(ener_code);
    ener_code = L_shl(ener_code, exp_code);
    Word16 exp, frac;
    amrefr_Log2_norm(ener_code, exp_code, &exp, &frac);
    Word32 L_tmp = Mpy_32_16_pair(exp, frac, -24660);
    if (mode == MR102) {
        L_tmp = L_mac(L_tmp, 16678, 64);
    } else if (mode == MR795) {
        if (frac_en) *frac_en = extract_h(ener_code);  // the decoder does not ask for them
        if (exp_en) *exp_en = sub(-11, exp_code);
        L_tmp = L_mac(L_tmp, 17062, 64);
    } else if (mode == MR74) {
        L_tmp = L_mac(L_tmp, 32588, 32);
    } else if (mode == MR67) {
        L_tmp = L_mac(L_tmp, 32268, 32);
    } else {
        L_tmp = L_mac(L_tmp, 16678, 64);
    }
    L_tmp = L_shl(L_tmp, 10);
    for (int i = 0; i < 4; ++i) L_tmp = L_mac(L_tmp, kPred[i], st->past_qua_en[i]);
    Word16 gcode0 = extract_h(L_tmp);
    L_tmp = L_mult(gcode0, mode == MR74 ? 5439 : 5443);
    L_tmp = L_shr(L_tmp, 8);
    L_Extract(L_tmp, exp_gcode0, frac_gcode0);
}

void amrefr_gc_pred_update(GSMAMR_gc_predState* st, Word16 qua_ener_MR122, Word16 qua_ener) {
    for (int i = 3; i > 0; --i) {
        st->past_qua_en[i] = st->past_qua_en[i - 1];
        st->past_qua_en_MR122[i] = st->past_qua_en_MR122[i - 1];
    }
    st->past_qua_en_MR122[0] = qua_ener_MR122;
    st->past_qua_en[0] = qua_ener;
}

void amrefr_gc_pred_average_limited(const GSMAMR_gc_predState* st, Word16* ener_avg_MR122, Word16* ener_avg) {
    Word32 s = 0;
    for (int i = 0; i < 4; ++i) s = L_add(s, st->past_qua_en_MR122[i]);
    Word16 a = static_cast<Word16>(s >> 2);
    *ener_avg_MR122 = a < kMinEnergyMR122 ? kMinEnergyMR122 : a;
    s = 0;
    for (int i = 0; i < 4; ++i) s = L_add(s, st->past_qua_en[i]);
    a = static_cast<Word16>(s >> 2);
    *ener_avg = a < kMinEnergy ? kMinEnergy : a;
}

// ---------------------------------------------------------------------------
// Helpers.

Word32 amrefr_sqrt_l_exp(Word32 L_x, Word16* exp) {
    if (L_x <= 0) {
        *exp = 0;
        return 0;
    }
    Word16 e = static_cast<Word16>(norm_l(L_x) & 0xFFFE);
    L_x = L_shl(L_x, e);
    *exp = e;
    L_x = L_shr(L_x, 9);
    Word16 i = extract_h(L_x);
    L_x = L_shr(L_x, 1);
    Word16 a = static_cast<Word16>(extract_l(L_x) & 0x7FFF);
    i = sub(i, 16);
    Word32 L_y = L_deposit_h(amrefr_sqrt_table[i]);
    Word16 tmp = sub(amrefr_sqrt_table[i], amrefr_sqrt_table[i + 1]);
    return L_msu(L_y, tmp, a);
}

void amrefr_Vec_add_prev_mult(Word16* v, Word16 MultFac, Word16 Offset) {
    for (int i = Offset; i < 40; ++i) v[i] = add(v[i], mult(v[i - Offset], MultFac));
}

void amrefr_Int_lpc_1to3(const Word16* lsp_old, const Word16* lsp_new, Word16* Az) {
    Word16 lsp[12];
    Word16 o[12] = {}, n[12] = {};
    for (int i = 0; i < 10; ++i) o[i] = lsp_old[i], n[i] = lsp_new[i];
    amrefr_Vec_add_shr2(n, o, lsp);  // 1/4 new + 3/4 old
    amrefr_Lsp_Az(lsp, Az);
    amrefr_Vec_add_shr(o, n, lsp);
    amrefr_Lsp_Az(lsp, Az + 11);
    amrefr_Vec_add_shr2(o, n, lsp);  // 1/4 old + 3/4 new
    amrefr_Lsp_Az(lsp, Az + 22);
    amrefr_Lsp_Az(lsp_new, Az + 33);
}

void amrefr_Int_lpc_1and3(const Word16* lsp_old, const Word16* lsp_mid, const Word16* lsp_new, Word16* Az) {
    Word16 lsp[12];
    Word16 o[12] = {}, m[12] = {}, n[12] = {};
    for (int i = 0; i < 10; ++i) o[i] = lsp_old[i], m[i] = lsp_mid[i], n[i] = lsp_new[i];
    amrefr_Vec_add_shr(m, o, lsp);
    amrefr_Lsp_Az(lsp, Az);
    amrefr_Lsp_Az(lsp_mid, Az + 11);
    amrefr_Vec_add_shr(m, n, lsp);
    amrefr_Lsp_Az(lsp, Az + 22);
    amrefr_Lsp_Az(lsp_new, Az + 33);
}

// a: the ten coefficients a[1..10] of A(z), Q12.
void amrefr_A_Refl(const Word16* a, Word16* refl) {
    Word16 aState[10], bState[10];
    for (int i = 0; i < 10; ++i) aState[i] = a[i];
    for (int i = 9; i >= 0; --i) {
        if (abs_s(aState[i]) >= 4096) goto fail;
        refl[i] = shl(aState[i], 3);
        {
            Word32 L_acc = L_sub(MAX_32, L_mult(refl[i], refl[i]));
            Word16 normShift = norm_l(L_acc);
            Word16 scale = sub(15, normShift);
            L_acc = L_shl(L_acc, normShift);
            Word16 normProd = round16(L_acc);
            Word16 m = div_s(16384, normProd);
            for (int j = 0; j < i; ++j) {
                Word32 acc = L_deposit_h(aState[j]);
                acc = L_msu(acc, refl[i], aState[i - j - 1]);
                Word16 temp = round16(acc);
                Word32 L_temp = L_shr_r(L_mult(m, temp), scale);
                if (L_abs(L_temp) > 32767) goto fail;
                bState[j] = extract_l(L_temp);
            }
            for (int j = 0; j < i; ++j) aState[j] = bState[j];
        }
    }
    return;
fail:
    for (int i = 0; i < 10; ++i) refl[i] = 0;
}

// ---------------------------------------------------------------------------
// LSF dequantisers.

void amrefr_D_plsf_3(Word16* past_lsf_q, Word16* past_r_q, Word16 bfi, const Word16* indice, Word16* lsp1_q,
                     Word16 mode) {
    Word16 lsf1_q[10], lsf1_r[10];
    if (bfi != 0) {
        for (int i = 0; i < 10; ++i)
            lsf1_q[i] = add(mult(past_lsf_q[i], 29491), mult(amrefr_mean_lsf_3[i], 3277));
        for (int i = 0; i < 10; ++i) {
            Word16 temp = mode != MRDTX ? add(amrefr_mean_lsf_3[i], mult(past_r_q[i], amrefr_pred_fac[i]))
                                        : amrefr_mean_lsf_3[i];
            past_r_q[i] = sub(lsf1_q[i], temp);
        }
    } else {
        const Word16 *cb1, *cb2 = amrefr_reordered_dico2_lsf, *cb3;
        if (mode == MR475 || mode == MR515) {
            cb1 = amrefr_reordered_dico1_lsf;
            cb3 = amrefr_reordered_mr515_3_lsf;
        } else if (mode == MR795) {
            cb1 = amrefr_reordered_mr795_1_lsf;
            cb3 = amrefr_reordered_dico3_lsf;
        } else {
            cb1 = amrefr_reordered_dico1_lsf;
            cb3 = amrefr_reordered_dico3_lsf;
        }
        for (int c = 0; c < 3; ++c) lsf1_r[c] = cb(cb1, 3, indice[0], c);
        Word16 i2 = indice[1];
        if (mode == MR475 || mode == MR515) i2 = shl(i2, 1);
        for (int c = 0; c < 3; ++c) lsf1_r[3 + c] = cb(cb2, 3, i2, c);
        for (int c = 0; c < 4; ++c) lsf1_r[6 + c] = cb(cb3, 4, indice[2], c);
        for (int i = 0; i < 10; ++i) {
            Word16 temp = mode != MRDTX ? add(amrefr_mean_lsf_3[i], mult(past_r_q[i], amrefr_pred_fac[i]))
                                        : add(amrefr_mean_lsf_3[i], past_r_q[i]);
            lsf1_q[i] = add(lsf1_r[i], temp);
            past_r_q[i] = lsf1_r[i];
        }
    }
    amrefr_Reorder_lsf(lsf1_q);
    for (int i = 0; i < 10; ++i) past_lsf_q[i] = lsf1_q[i];
    amrefr_Lsf_lsp(lsf1_q, lsp1_q);
}

namespace {

// The five split-vector residuals of the 12.2 kbit/s quantiser, set 1 and set 2.
void decode_lsf_5_residuals(const Word16* indice, Word16* lsf1_r, Word16* lsf2_r) {
    const Word16* books[5] = {amrefr_reordered_dico1_5_lsf, amrefr_reordered_dico2_5_lsf,
                              amrefr_reordered_dico3_5_lsf, amrefr_reordered_dico4_5_lsf,
                              amrefr_reordered_dico5_5_lsf};
    for (int k = 0; k < 5; ++k) {
        int idx = indice[k];
        bool neg = false;
        if (k == 2) {
            neg = idx & 1;
            idx >>= 1;
        }
        Word16 v[4];
        for (int c = 0; c < 4; ++c) v[c] = neg ? negate(cb(books[k], 4, idx, c)) : cb(books[k], 4, idx, c);
        lsf1_r[2 * k] = v[0];
        lsf1_r[2 * k + 1] = v[1];
        lsf2_r[2 * k] = v[2];
        lsf2_r[2 * k + 1] = v[3];
    }
}

}  // namespace

void amrefr_D_plsf_5(Word16* past_lsf_q, Word16* past_r_q, Word16 bfi, const Word16* indice, Word16* lsp1_q,
                     Word16* lsp2_q) {
    amrefr_D_plsf_5_efr(past_lsf_q, past_r_q, bfi, indice, lsp1_q, lsp2_q, nullptr, 0);
}

// Without EFR the receive control word counts as a speech frame.
void amrefr_D_plsf_5_efr(Word16* past_lsf_q, Word16* past_r_q, Word16 bfi, const Word16* indice, Word16* lsp1_q,
                         Word16* lsp2_q, GSMAMR_EFRdtx_decState* dtx, Word16 do_EFR) {
    const Word16 ctrl = do_EFR ? dtx->rxdtx_ctrl : EFR_RX_SP_FLAG;
    Word16 lsf1_q[10], lsf2_q[10], lsf1_r[10], lsf2_r[10];
    if (ctrl & EFR_RX_UPD_SID_QUANT_MEM) amrefr_update_lsf_p_CN(dtx->lsf_old_rx, dtx->lsf_p_CN);

    // Nothing received for the comfort noise: keep or interpolate its LSFs.
    if (ctrl & (EFR_RX_NO_TRANSMISSION | EFR_RX_INVALID_SID_FRAME | EFR_RX_LOST_SID_FRAME)) {
        if (ctrl & EFR_RX_NO_TRANSMISSION) {
            amrefr_interpolate_CN_vec_M(dtx->lsf_old_CN, dtx->lsf_new_CN, lsf2_q, dtx->rx_dtx_state);
        } else {
            std::memcpy(dtx->lsf_old_CN, dtx->lsf_new_CN, sizeof(dtx->lsf_old_CN));
            std::memcpy(lsf2_q, dtx->lsf_new_CN, sizeof(lsf2_q));
            std::memset(past_r_q, 0, 10 * sizeof(Word16));
        }
        std::memcpy(past_lsf_q, lsf2_q, sizeof(lsf2_q));
        amrefr_Lsf_lsp(lsf2_q, lsp2_q);
        return;
    }

    const bool speech = (ctrl & EFR_RX_SP_FLAG) != 0;
    if (speech && bfi != 0) {
        for (int i = 0; i < 10; ++i) {
            lsf1_q[i] = add(mult(past_lsf_q[i], 31128), mult(amrefr_mean_lsf_5[i], 1639));
            lsf2_q[i] = lsf1_q[i];
        }
        for (int i = 0; i < 10; ++i) {
            Word16 temp = add(amrefr_mean_lsf_5[i], mult(past_r_q[i], 21299));
            past_r_q[i] = sub(lsf2_q[i], temp);
        }
    } else if (speech) {
        decode_lsf_5_residuals(indice, lsf1_r, lsf2_r);
        for (int i = 0; i < 10; ++i) {
            Word16 temp = add(amrefr_mean_lsf_5[i], mult(past_r_q[i], 21299));
            lsf1_q[i] = add(lsf1_r[i], temp);
            lsf2_q[i] = add(lsf2_r[i], temp);
            past_r_q[i] = lsf2_r[i];
        }
    } else {
        // SID frame: residuals against the averaged comfort-noise LSFs.
        decode_lsf_5_residuals(indice, lsf1_r, lsf2_r);
        for (int i = 0; i < 10; ++i) {
            lsf1_q[i] = add(lsf1_r[i], dtx->lsf_p_CN[i]);
            lsf2_q[i] = add(lsf2_r[i], dtx->lsf_p_CN[i]);
            past_r_q[i] = 0;
        }
    }
    amrefr_Reorder_lsf(lsf1_q);
    amrefr_Reorder_lsf(lsf2_q);
    if (do_EFR) {
        if (ctrl & EFR_RX_FIRST_SID_UPDATE) std::memcpy(dtx->lsf_new_CN, lsf2_q, sizeof(lsf2_q));
        if (ctrl & EFR_RX_CONT_SID_UPDATE) {
            std::memcpy(dtx->lsf_old_CN, dtx->lsf_new_CN, sizeof(lsf2_q));
            std::memcpy(dtx->lsf_new_CN, lsf2_q, sizeof(lsf2_q));
        }
        if (speech) {
            if (bfi != 0)
                amrefr_update_lsf_history(dtx->lsf_new_CN, dtx->lsf_new_CN, dtx->lsf_old_rx);
            else
                amrefr_update_lsf_history(lsf1_q, lsf2_q, dtx->lsf_old_rx);
            std::memcpy(dtx->lsf_old_CN, lsf2_q, sizeof(lsf2_q));
        } else {
            amrefr_interpolate_CN_vec_M(dtx->lsf_old_CN, dtx->lsf_new_CN, lsf2_q, dtx->rx_dtx_state);
        }
    }
    for (int i = 0; i < 10; ++i) past_lsf_q[i] = lsf2_q[i];
    amrefr_Lsf_lsp(lsf1_q, lsp1_q);
    amrefr_Lsf_lsp(lsf2_q, lsp2_q);
}

// ---------------------------------------------------------------------------
// Pitch lags.

void amrefr_Dec_lag3(Word16 index, Word16 t0_min, Word16 t0_max, Word16 i_subfr, Word16 T0_prev, Word16* T0,
                     Word16* T0_frac, Word16 flag4) {
    if (i_subfr == 0) {
        if (index < 197) {
            *T0 = add(mult(add(index, 2), 10923), 19);
            Word16 i = add(add(*T0, *T0), *T0);
            *T0_frac = add(sub(index, i), 58);
        } else {
            *T0 = sub(index, 112);
            *T0_frac = 0;
        }
        return;
    }
    if (flag4 == 0) {
        Word16 i = sub(mult(add(index, 2), 10923), 1);
        *T0 = add(i, t0_min);
        i = add(add(i, i), i);
        *T0_frac = sub(sub(index, 2), i);
        return;
    }
    Word16 tmp_lag = T0_prev;
    if (sub(sub(tmp_lag, t0_min), 5) > 0) tmp_lag = add(t0_min, 5);
    if (sub(sub(t0_max, tmp_lag), 4) > 0) tmp_lag = sub(t0_max, 4);
    if (index < 4) {
        *T0 = add(sub(tmp_lag, 5), index);
        *T0_frac = 0;
    } else if (index < 12) {
        Word16 i = sub(mult(sub(index, 5), 10923), 1);
        *T0 = add(i, tmp_lag);
        i = add(add(i, i), i);
        *T0_frac = sub(sub(index, 9), i);
    } else {
        *T0 = add(add(sub(index, 12), tmp_lag), 1);
        *T0_frac = 0;
    }
}

// In the delta-coded subframes *T0 carries the previous subframe's lag in.
void amrefr_Dec_lag6(Word16 index, Word16 pit_min, Word16 pit_max, Word16 i_subfr, Word16* T0, Word16* T0_frac) {
    if (i_subfr == 0) {
        if (index < 463) {
            *T0 = add(mult(add(index, 5), 5462), 17);
            Word16 i = add(add(*T0, *T0), *T0);
            *T0_frac = add(sub(index, add(i, i)), 105);
        } else {
            *T0 = sub(index, 368);
            *T0_frac = 0;
        }
        return;
    }
    Word16 t0_min = sub(*T0, 5);
    if (t0_min < pit_min) t0_min = pit_min;
    Word16 t0_max = add(t0_min, 9);
    if (t0_max > pit_max) {
        t0_max = pit_max;
        t0_min = sub(t0_max, 9);
    }
    Word16 i = sub(mult(add(index, 5), 5462), 1);
    *T0 = add(i, t0_min);
    i = add(add(i, i), i);
    *T0_frac = sub(sub(index, 3), add(i, i));
}

// ---------------------------------------------------------------------------
// Algebraic codebooks.  index points at the positions word, the signs follow.

namespace {

void place_signs(Word16 sign, const Word16* pos, int n, Word16* cod) {
    for (int j = 0; j < n; ++j) {
        cod[pos[j]] = (sign & 1) ? 8191 : -8192;
        sign = static_cast<Word16>(sign >> 1);
    }
}

void clear40(Word16* cod) {
    for (int i = 0; i < 40; ++i) cod[i] = 0;
}

}  // namespace

void amrefr_decode_2i40_9bits(const Word16* index, Word16* cod, Word16* pos, Word16 subNr) {
    Word16 idx = index[0];
    clear40(cod);
    int j = 2 * subNr + 8 * ((idx >> 6) & 1);
    pos[0] = static_cast<Word16>(5 * (idx & 7) + amrefr_startPos[j]);
    pos[1] = static_cast<Word16>(5 * ((idx >> 3) & 7) + amrefr_startPos[j + 1]);
    place_signs(index[1], pos, 2, cod);
}

void amrefr_decode_2i40_11bits(const Word16* index, Word16* cod, Word16* pos, Word16 subNr) {
    (void)subNr;
    Word16 idx = index[0];
    clear40(cod);
    int j = idx & 1;
    idx = static_cast<Word16>(idx >> 1);
    pos[0] = static_cast<Word16>(5 * (idx & 7) + 2 * j + 1);
    idx = static_cast<Word16>(idx >> 3);
    j = idx & 3;
    idx = static_cast<Word16>(idx >> 2);
    pos[1] = static_cast<Word16>(5 * (idx & 7) + (j == 3 ? 4 : j));
    place_signs(index[1], pos, 2, cod);
}

void amrefr_decode_3i40_14bits(const Word16* index, Word16* cod, Word16* pos, Word16 subNr) {
    (void)subNr;
    Word16 idx = index[0];
    Word16 p[3];
    clear40(cod);
    p[0] = static_cast<Word16>(5 * (idx & 7));
    idx = static_cast<Word16>(idx >> 3);
    int j = idx & 1;
    idx = static_cast<Word16>(idx >> 1);
    p[1] = static_cast<Word16>(5 * (idx & 7) + 2 * j + 1);
    idx = static_cast<Word16>(idx >> 3);
    j = idx & 1;
    idx = static_cast<Word16>(idx >> 1);
    p[2] = static_cast<Word16>(5 * (idx & 7) + 2 * j + 2);
    place_signs(index[1], p, 3, cod);
    (void)pos;
}

void amrefr_decode_4i40_17bits(const Word16* index, Word16* cod, Word16* pos, Word16 subNr) {
    (void)subNr;
    (void)pos;
    Word16 idx = index[0];
    Word16 p[4];
    clear40(cod);
    p[0] = static_cast<Word16>(5 * kDgray[idx & 7]);
    idx = static_cast<Word16>(idx >> 3);
    p[1] = static_cast<Word16>(5 * kDgray[idx & 7] + 1);
    idx = static_cast<Word16>(idx >> 3);
    p[2] = static_cast<Word16>(5 * kDgray[idx & 7] + 2);
    idx = static_cast<Word16>(idx >> 3);
    int j = idx & 1;
    idx = static_cast<Word16>(idx >> 1);
    p[3] = static_cast<Word16>(5 * kDgray[idx & 7] + 3 + j);
    place_signs(index[1], p, 4, cod);
}

namespace {

void decompress10(Word16 MSBs, Word16 LSBs, int i1, int i2, int i3, Word16* pos_indx) {
    if (MSBs > 124) MSBs = 124;
    Word16 ia = mult(MSBs, 1311);
    Word16 ib = sub(MSBs, extract_l(L_shr(L_mult(ia, 25), 1)));
    Word16 ic = mult(ib, 6554);
    ib = sub(ib, extract_l(L_shr(L_mult(ic, 5), 1)));
    pos_indx[i1] = add(shl(ib, 1), static_cast<Word16>(LSBs & 1));
    pos_indx[i2] = add(shl(ic, 1), static_cast<Word16>(shr(LSBs, 1) & 1));
    pos_indx[i3] = add(shl(ia, 1), static_cast<Word16>(shr(LSBs, 2) & 1));
}

void decompress_code(const Word16* indx, Word16* sign_indx, Word16* pos_indx) {
    for (int i = 0; i < 4; ++i) sign_indx[i] = indx[i];
    decompress10(shr(indx[4], 3), static_cast<Word16>(indx[4] & 7), 0, 4, 1, pos_indx);
    decompress10(shr(indx[5], 3), static_cast<Word16>(indx[5] & 7), 2, 6, 5, pos_indx);
    Word16 MSBs = shr(indx[6], 2), LSBs = static_cast<Word16>(indx[6] & 3);
    Word16 MSBs0_24 = shr(add(extract_l(L_shr(L_mult(MSBs, 25), 1)), 12), 5);
    Word16 ia = mult(MSBs0_24, 6554);
    Word16 ib = sub(MSBs0_24, extract_l(L_shr(L_mult(ia, 5), 1)));
    if ((ia & 1) == 1) ib = sub(4, ib);
    pos_indx[3] = add(shl(ib, 1), static_cast<Word16>(LSBs & 1));
    pos_indx[7] = add(shl(ia, 1), shr(static_cast<Word16>(LSBs & 2), 1));
}

}  // namespace

void amrefr_dec_8i40_31bits(const Word16* index, Word16* cod, Word16* pos, Word16 subNr) {
    (void)pos;
    (void)subNr;
    Word16 signs[4], words[8];
    clear40(cod);
    decompress_code(index, signs, words);
    for (int j = 0; j < 4; ++j) {
        Word16 pos1 = add(static_cast<Word16>(4 * words[j]), static_cast<Word16>(j));
        Word16 sign = signs[j] == 0 ? 8191 : -8191;
        Word16 pos2 = add(static_cast<Word16>(4 * words[j + 4]), static_cast<Word16>(j));
        Word16 sign2 = pos2 < pos1 ? negate(sign) : sign;
        cod[pos1] = add(cod[pos1], sign);
        cod[pos2] = add(cod[pos2], sign2);
    }
}

void amrefr_dec_10i40_35bits(const Word16* index, Word16* cod, Word16* pos, Word16 subNr) {
    (void)pos;
    (void)subNr;
    clear40(cod);
    for (int j = 0; j < 5; ++j) {
        Word16 tmp = index[j];
        Word16 pos1 = static_cast<Word16>(5 * kDgray[tmp & 7] + j);
        Word16 sign = ((tmp >> 3) & 1) == 0 ? 4096 : -4096;
        cod[pos1] = sign;
        Word16 pos2 = static_cast<Word16>(5 * kDgray[index[j + 5] & 7] + j);
        if (pos2 < pos1) sign = negate(sign);
        cod[pos2] = add(cod[pos2], sign);
    }
}

const amrefr_decode_Xi40_Ybits_fn amrefr_decode_Xi40_Ybits_tab[8] = {
    amrefr_decode_2i40_9bits,  amrefr_decode_2i40_9bits,  amrefr_decode_2i40_11bits, amrefr_decode_3i40_14bits,
    amrefr_decode_4i40_17bits, amrefr_decode_4i40_17bits, amrefr_dec_8i40_31bits,    amrefr_dec_10i40_35bits};

// ---------------------------------------------------------------------------
// Gains.

void amrefr_Dec_gain(GSMAMR_gc_predState* pred_state, Word16 mode, Word16 index, const Word16* code,
                     Word16* gain_cod, Word16 evenSubfr, Word16* gain_pit) {
    Word16 g_code, qua_ener_MR122, qua_ener;
    if (mode == MR102 || mode == MR74 || mode == MR67) {
        *gain_pit = amrefr_g_pit_gain_highrates[index];
        g_code = amrefr_g_fac_gain_highrates[index];
        qua_ener_MR122 = amrefr_qe_MR122_gain_highrates[index];
        qua_ener = amrefr_qe_gain_highrates[index];
    } else if (mode == MR475) {
        *gain_pit = evenSubfr ? amrefr_table_gain_MR475_gpit0[index] : amrefr_table_gain_MR475_gpit1[index];
        g_code = evenSubfr ? amrefr_table_gain_MR475_gfac0[index] : amrefr_table_gain_MR475_gfac1[index];
        Word16 exp, frac;
        amrefr_Log2(L_deposit_l(g_code), &exp, &frac);
        exp = sub(exp, 12);
        qua_ener_MR122 = add(shr_r(frac, 5), shl(exp, 10));
        Word32 L_tmp = Mpy_32_16_pair(exp, frac, 24660);
        qua_ener = round16(L_shl(L_tmp, 13));
    } else {
        *gain_pit = amrefr_g_pit_gain_lowrates[index];
        g_code = amrefr_g_fac_gain_lowrates[index];
        qua_ener_MR122 = amrefr_qe_MR122_gain_lowrates[index];
        qua_ener = amrefr_qe_gain_lowrates[index];
    }
    Word16 exp, frac;
    amrefr_gc_pred(pred_state, mode, code, &exp, &frac, nullptr, nullptr);
    Word16 gcode0 = extract_l(amrefr_Pow2(14, frac));
    Word32 L_tmp = L_mult(g_code, gcode0);
    L_tmp = L_shr(L_tmp, sub(10, exp));
    *gain_cod = extract_h(L_tmp);
    amrefr_gc_pred_update(pred_state, qua_ener_MR122, qua_ener);
}

void amrefr_d_gain_code(GSMAMR_gc_predState* pred_state, Word16 mode, Word16 index, const Word16* code,
                        Word16* gain_code, Word16 dummy1, Word16* dummy2) {
    (void)dummy1;
    (void)dummy2;
    Word16 exp, frac;
    amrefr_gc_pred(pred_state, mode, code, &exp, &frac, nullptr, nullptr);
    Word16 g_fac = amrefr_qua_gain_code_g_fac[index];
    if (mode == MR122) {
        Word16 gcode0 = extract_l(amrefr_Pow2(exp, frac));
        gcode0 = shl(gcode0, 4);
        *gain_code = shl(mult(gcode0, g_fac), 1);
    } else {
        Word16 gcode0 = extract_l(amrefr_Pow2(14, frac));
        Word32 L_tmp = L_mult(g_fac, gcode0);
        L_tmp = L_shr(L_tmp, sub(9, exp));
        *gain_code = extract_h(L_tmp);
    }
    amrefr_gc_pred_update(pred_state, amrefr_qua_gain_code_qeMR122[index], amrefr_qua_gain_code_qe[index]);
}

Word16 amrefr_d_gain_pitch(Word16 mode, Word16 index) {
    Word16 g = amrefr_qua_gain_pitch[index];
    return mode == MR122 ? static_cast<Word16>(g & 0xFFFC) : g;
}
