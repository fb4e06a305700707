// Encoder gain quantisation: pitch gain table search, 12.2 kbit/s code gain,
// and the joint pitch/code gain quantisers.
#include <cstring>

#include "amrefr_basic_op.h"
#include "amrefr_encoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

void L_Extract(Word32 L, Word16* hi, Word16* lo) {
    *hi = extract_h(L);
    *lo = extract_l(L_msu(L_shr(L, 1), *hi, 16384));
}

Word16 g_gp_params[640];
Word32 g_L_coeff[5];

// The normalised energies of the gain criterion (the first two from G_pitch).
void calc_filt_energies(Word16 mode, const Word16* xn, const Word16* xn2, const Word16* y1, const Word16* Y2,
                        const Word16* g_coeff, Word16* frac_coeff, Word16* exp_coeff, Word16* cod_gain_frac,
                        Word16* cod_gain_exp) {
    Word32 ener_init = (mode == MR795 || mode == MR475) ? 0 : 1;
    Word16 y2[40];
    amrefr_Vec_shr_8(Y2, y2, 3, 40);
    frac_coeff[0] = g_coeff[0];
    exp_coeff[0] = g_coeff[1];
    frac_coeff[1] = negate(g_coeff[2]);
    exp_coeff[1] = add(g_coeff[3], 1);
    Word32 s = amrefr_Vec_L_sqa_40(y2, ener_init);
    Word16 exp = norm_l(s);
    frac_coeff[2] = extract_h(L_shl(s, exp));
    exp_coeff[2] = sub(-3, exp);  // y2 is Q9: 15 - 18
    s = amrefr_Vec_L_mac(xn, y2, 40, ener_init);
    exp = norm_l(s);
    frac_coeff[3] = negate(extract_h(L_shl(s, exp)));
    exp_coeff[3] = sub(7, exp);  // 15 - 9 + 1
    s = amrefr_Vec_L_mac(y1, y2, 40, ener_init);
    exp = norm_l(s);
    frac_coeff[4] = extract_h(L_shl(s, exp));
    exp_coeff[4] = sub(7, exp);
    if (mode == MR475 || mode == MR795) {
        // Optimum code gain <xn2,y2>/<y2,y2> = cod_gain_frac·2^cod_gain_exp.
        s = amrefr_Vec_L_mac(xn2, y2, 40, ener_init);
        exp = norm_l(s);
        Word16 frac = extract_h(L_shl(s, exp));
        exp = sub(6, exp);  // 15 - 9
        if (frac <= 0) {
            *cod_gain_frac = 0;
            *cod_gain_exp = 0;
        } else {
            *cod_gain_frac = div_s(shr(frac, 1), frac_coeff[2]);
            *cod_gain_exp = sub(sub(exp, exp_coeff[2]), 14);
        }
    }
}

void calc_target_energy(const Word16* xn, Word16* en_exp, Word16* en_frac) {
    Word32 s = amrefr_Vec_L_sqa_40(xn, 0);
    Word16 exp = norm_l(s);
    *en_frac = extract_h(L_shl(s, exp));
    *en_exp = sub(16, exp);
}

// 20·log10 form (Q10) of a log2 value given as exponent and fraction.
Word16 log2_to_db(Word16 exp, Word16 frac) {
    Word32 L_tmp = L_mac(L_mult(exp, 24660), mult(frac, 24660), 1);
    return round16(L_shl(L_tmp, 13));
}

}  // namespace

void amrefr_MR475_update_unq_pred(GSMAMR_gc_predState* pred_st, Word16 exp_gcode0, Word16 frac_gcode0,
                           Word16 cod_gain_exp, Word16 cod_gain_frac) {
    Word16 qua_ener, qua_ener_MR122;
    if (cod_gain_frac <= 0) {
        qua_ener = -5443;
        qua_ener_MR122 = -32768;
    } else {
        Word16 gcode0 = extract_l(amrefr_Pow2(14, frac_gcode0));
        if (cod_gain_frac >= gcode0) {
            cod_gain_frac = shr(cod_gain_frac, 1);
            cod_gain_exp = add(cod_gain_exp, 1);
        }
        Word16 frac = div_s(cod_gain_frac, gcode0);
        Word16 tmp = sub(sub(cod_gain_exp, exp_gcode0), 1);
        Word16 exp;
        amrefr_Log2(L_deposit_l(frac), &exp, &frac);
        exp = add(exp, tmp);
        qua_ener_MR122 = add(shr_r(frac, 5), shl(exp, 10));
        if (qua_ener_MR122 > 18284) {
            qua_ener = 3037;
            qua_ener_MR122 = 18284;
        } else {
            qua_ener = log2_to_db(exp, frac);
        }
    }
    amrefr_gc_pred_update(pred_st, qua_ener_MR122, qua_ener);
}

namespace {

void MR475_quant_store_results(GSMAMR_gc_predState* pred_st, Word16 g_fac, Word16 gcode0, Word16 exp_gcode0,
                               Word16* gain_cod) {
    *gain_cod = extract_h(L_shr(L_mult(g_fac, gcode0), sub(10, exp_gcode0)));
    Word16 exp, frac;
    amrefr_Log2(L_deposit_l(g_fac), &exp, &frac);
    exp = sub(exp, 12);
    Word16 qua_ener_MR122 = add(shr_r(frac, 5), shl(exp, 10));
    amrefr_gc_pred_update(pred_st, qua_ener_MR122, log2_to_db(exp, frac));
}

Word16 g_param_array[2816];

Word16 MR475_gain_quant(GSMAMR_gc_predState* pred_st, Word16 sf0_exp_gcode0, Word16 sf0_frac_gcode0,
                        const Word16* sf0_exp_coeff, const Word16* sf0_frac_coeff, Word16 sf0_exp_target_en,
                        Word16 sf0_frac_target_en, const Word16* sf1_code_nosharp, Word16 sf1_exp_gcode0,
                        Word16 sf1_frac_gcode0, const Word16* sf1_exp_coeff, const Word16* sf1_frac_coeff,
                        Word16 sf1_exp_target_en, Word16 sf1_frac_target_en, Word16 gp_limit, Word16* sf0_gain_pit,
                        Word16* sf0_gain_cod, Word16* sf1_gain_pit, Word16* sf1_gain_cod) {
    Word16 gcode0[2] = {extract_l(amrefr_Pow2(14, sf0_frac_gcode0)), extract_l(amrefr_Pow2(14, sf1_frac_gcode0))};
    Word16 exp_max[10];
    const Word16* ec[2] = {sf0_exp_coeff, sf1_exp_coeff};
    const Word16 eg[2] = {sf0_exp_gcode0, sf1_exp_gcode0};
    for (int k = 0; k < 2; ++k) {
        Word16 exp = sub(eg[k], 11);
        Word16* m = exp_max + 5 * k;
        m[0] = sub(ec[k][0], 13);
        m[1] = sub(ec[k][1], 14);
        m[2] = add(ec[k][2], add(15, shl(exp, 1)));
        m[3] = add(ec[k][3], exp);
        m[4] = add(ec[k][4], add(1, exp));
    }
    Word16 exp = sub(sf0_exp_target_en, sf1_exp_target_en);
    if (exp > 0)
        sf1_frac_target_en = shr(sf1_frac_target_en, exp);
    else
        sf0_frac_target_en = shl(sf0_frac_target_en, exp);
    exp = 0;
    if (shr_r(sf1_frac_target_en, 1) > sf0_frac_target_en)
        exp = 1;
    else if (shr(add(sf0_frac_target_en, 3), 2) > sf1_frac_target_en)
        exp = -1;
    for (int i = 0; i < 5; ++i) exp_max[i] = add(exp_max[i], exp);
    Word16 e_max = exp_max[0];
    for (int i = 1; i < 10; ++i)
        if (exp_max[i] > e_max) e_max = exp_max[i];
    e_max = add(e_max, 1);
    Word32 coeff[10];
    for (int i = 0; i < 10; ++i) {
        const Word16 frac = i < 5 ? sf0_frac_coeff[i] : sf1_frac_coeff[i - 5];
        coeff[i] = L_shr(L_deposit_h(frac), sub(e_max, exp_max[i])) >> 1;
    }
    amrefr_QGainSearch_475_Loop1(gcode0, gp_limit, g_param_array);
    Word16 index = amrefr_QGainSearch_475_Loop2(coeff, g_param_array);

    *sf0_gain_pit = amrefr_table_gain_MR475_gpit0[index];
    MR475_quant_store_results(pred_st, amrefr_table_gain_MR475_gfac0[index], gcode0[0], sf0_exp_gcode0,
                              sf0_gain_cod);
    Word16 dummy_exp, dummy_frac;
    amrefr_gc_pred(pred_st, MR475, sf1_code_nosharp, &sf1_exp_gcode0, &sf1_frac_gcode0, &dummy_exp, &dummy_frac);
    *sf1_gain_pit = amrefr_table_gain_MR475_gpit1[index];
    MR475_quant_store_results(pred_st, amrefr_table_gain_MR475_gfac1[index],
                              extract_l(amrefr_Pow2(14, sf1_frac_gcode0)), sf1_exp_gcode0, sf1_gain_cod);
    return index;
}

// ---------------------------------------------------------------------------
// 7.95 kbit/s: pitch-gain candidates with a joint code-gain search, then the
// code gain again under the modified criterion when the gain adaptor allows.

Word32 g_param_buff[297];

// A coefficient frac·2^16 shifted right by `shift`, with bit 0 cleared (the
// standard's double-precision pair hi·2^16 + 2·lo).
Word32 dpf_word(Word16 frac, Word16 shift) { return L_shr(L_deposit_h(frac), shift) & ~Word32{1}; }

void MR795_gain_code_quant3(Word16 exp_gcode0, Word16 gcode0, const Word16* g_pitch_cand, const Word16* g_pitch_cind,
                            const Word16* frac_coeff, const Word16* exp_coeff, Word16* gain_pit,
                            Word16* gain_pit_ind, Word16* gain_cod, Word16* gain_cod_ind, Word16* qua_ener_MR122,
                            Word16* qua_ener) {
    Word16 exp_code = sub(exp_gcode0, 10);
    Word16 exp_max[5] = {sub(exp_coeff[0], 13), sub(exp_coeff[1], 14), add(exp_coeff[2], add(15, shl(exp_code, 1))),
                         add(exp_coeff[3], exp_code), add(exp_coeff[4], add(exp_code, 1))};
    Word16 e_max = exp_max[amrefr_Vec_max_ge(exp_max, 4)];
    Word32 c[5];
    for (int i = 0; i < 5; ++i) c[i] = dpf_word(frac_coeff[i], add(sub(e_max, exp_max[i]), 1));
    // Order of the search: g_pitch², g_pitch, g_code, g_code², g_pitch·g_code.
    const Word32 words[5] = {c[0], c[1], c[3], c[2], c[4]};
    amrefr_QGainSearch_795_Loop1(g_pitch_cand, gcode0, g_param_buff);
    Word32 dist[4];
    Word16 idx[4];
    amrefr_QGainSearch_795_Loop2(words, dist, idx, g_param_buff);
    Word32 best = dist[0];
    Word16 index = idx[0];
    for (int l = 1; l < 4; ++l)
        if (dist[l] < best || (dist[l] == best && idx[l] < index)) {
            best = dist[l];
            index = idx[l];
        }
    Word16 cod_ind = static_cast<Word16>(index & 31), pit_ind = static_cast<Word16>(index >> 5);
    *gain_pit = g_pitch_cand[pit_ind];
    *gain_pit_ind = g_pitch_cind[pit_ind];
    *gain_cod = extract_h(L_shr(L_mult(amrefr_qua_gain_code_g_fac[cod_ind], gcode0), sub(9, exp_gcode0)));
    *gain_cod_ind = cod_ind;
    *qua_ener_MR122 = amrefr_qua_gain_code_qeMR122[cod_ind];
    *qua_ener = amrefr_qua_gain_code_qe[cod_ind];
}

void calc_unfilt_energies(const Word16* res, const Word16* exc, const Word16* code, Word16 gain_pit,
                          Word16* frac_en, Word16* exp_en, Word16* ltpg) {
    Word32 s = amrefr_Vec_L_sqa_40(res, 0);
    if (s < 400) {
        frac_en[0] = 0;
        exp_en[0] = -15;
    } else {
        Word16 exp = norm_l(s);
        frac_en[0] = extract_h(L_shl(s, exp));
        exp_en[0] = sub(15, exp);
    }
    s = amrefr_Vec_L_sqa_40(exc, 0);
    Word16 exp = norm_l(s);
    frac_en[1] = extract_h(L_shl(s, exp));
    exp_en[1] = sub(15, exp);
    s = amrefr_Vec_L_mac(exc, code, 40, 0);
    exp = norm_l(s);
    frac_en[2] = extract_h(L_shl(s, exp));
    exp_en[2] = sub(16 - 14, exp);
    s = amrefr_CompEn_LTP_res(exc, res, gain_pit);
    exp = norm_l(s);
    Word16 ltp_res_en = extract_h(L_shl(s, exp));
    exp = sub(15, exp);
    frac_en[3] = ltp_res_en;
    exp_en[3] = exp;
    if (ltp_res_en > 0 && frac_en[0] != 0) {
        Word16 pred_gain = div_s(shr(frac_en[0], 1), ltp_res_en);
        exp = sub(exp, exp_en[0]);
        Word32 L_temp = L_shr(L_deposit_h(pred_gain), add(exp, 3));
        Word16 ltpg_exp, ltpg_frac;
        amrefr_Log2(L_temp, &ltpg_exp, &ltpg_frac);
        L_temp = L_mac(L_deposit_h(sub(ltpg_exp, 27)), ltpg_frac, 1);
        *ltpg = round16(L_shl(L_temp, 13));
    } else {
        *ltpg = 0;
    }
}

Word16 MR795_gain_code_quant_mod(Word16 gain_pit, Word16 exp_gcode0, Word16 gcode0, const Word16* frac_en,
                                 const Word16* exp_en, Word16 alpha, Word16 gain_cod_unq, Word16* gain_cod,
                                 Word16* qua_ener_MR122, Word16* qua_ener) {
    Word16 gain_code = shl(*gain_cod, sub(10, exp_gcode0));
    Word16 g2_pitch = mult(gain_pit, gain_pit);
    Word16 one_alpha = add(sub(32767, alpha), 1);
    Word16 coeff[5], exp_coeff[5];
    // Every term is brought to the scale of the squared-code term (its
    // coefficient word times L_mult(gc, gc) through the double-precision
    // multiply): alpha is doubled for precision in the first two terms, and
    // their exponents carry the difference of scales.
    Word16 tmp = extract_h(L_shl(L_mult(alpha, frac_en[1]), 1));
    Word32 L_t1 = L_mult(tmp, g2_pitch);
    exp_coeff[1] = sub(exp_en[1], 29);
    tmp = extract_h(L_shl(L_mult(alpha, frac_en[2]), 1));
    coeff[2] = mult(tmp, gain_pit);
    exp_coeff[2] = sub(add(exp_en[2], sub(exp_gcode0, 10)), 14);
    coeff[3] = mult(alpha, frac_en[3]);
    exp_coeff[3] = add(exp_en[3], shl(sub(exp_gcode0, 10), 1));
    coeff[4] = mult(one_alpha, frac_en[3]);
    exp_coeff[4] = add(exp_coeff[3], 1);
    Word16 exp;
    Word32 L_t0 = amrefr_sqrt_l_exp(L_mult(alpha, frac_en[0]), &exp);
    exp = add(exp, 29);
    exp_coeff[0] = sub(exp_en[0], exp);
    Word16 e_max = exp_coeff[1];
    for (int i = 2; i <= 4; ++i)
        if (exp_coeff[i] > e_max) e_max = exp_coeff[i];
    e_max = add(e_max, 1);
    // t0 = sqrt(alpha·ResEn) in the common scale: half the exponent
    // difference as a shift, an odd remainder as a factor 1/sqrt(2).
    Word16 d = sub(e_max, exp_coeff[0]);
    L_t0 = L_shr(L_t0, shr(d, 1));
    if (d & 1) {
        Word16 hi, lo;
        L_Extract(L_t0, &hi, &lo);
        L_t0 = L_mac(L_mult(hi, 23170), mult(lo, 23170), 1);
    }
    L_t1 = L_shr(L_t1, sub(e_max, exp_coeff[1]));
    Word32 words[5] = {0, 0, 0, 0, 0};
    for (int i = 2; i <= 4; ++i) words[i] = dpf_word(coeff[i], sub(e_max, exp_coeff[i]));
    Word32 x[32];
    Word16 ex[32], a[32], ii[32];
    amrefr_QGainSearch_795_mod_Loop1(amrefr_qua_gain_code_g_fac, L_t1, gcode0, words, x);
    amrefr_QGainSearch_795_mod_Sqrt1(x, ex, a, ii);
    amrefr_QGainSearch_795_mod_Sqrt2(x, a, ii);
    Word32 dist[4] = {2147418112, 2147418112, 2147418112, 2147418112};
    Word16 idx[4] = {0, 0, 0, 0};
    amrefr_QGainSearch_795_mod_Loop2(amrefr_qua_gain_code_g_fac, L_t0, gcode0, gain_code, gain_cod_unq, words, dist,
                                     idx, x, ex);
    Word32 best = dist[0];
    Word16 index = idx[0];
    for (int l = 1; l < 4; ++l)
        if (dist[l] < best || (dist[l] == best && idx[l] < index)) {
            best = dist[l];
            index = idx[l];
        }
    *gain_cod = extract_h(L_shr(L_mult(amrefr_qua_gain_code_g_fac[index], gcode0), sub(9, exp_gcode0)));
    *qua_ener_MR122 = amrefr_qua_gain_code_qeMR122[index];
    *qua_ener = amrefr_qua_gain_code_qe[index];
    return index;
}

}  // namespace

void amrefr_gain_adapt(GSMAMR_GainAdaptState* st, Word16 ltpg, Word16 gain_cod, Word16* alpha) {
    Word16 adapt = ltpg <= 2721 ? 0 : (ltpg <= 5443 ? 1 : 2);
    if (shr_r(gain_cod, 1) > st->prev_gc && gain_cod > 200)
        st->onset = 8;
    else if (st->onset != 0)
        st->onset = sub(st->onset, 1);
    if (st->onset != 0 && adapt < 2) adapt = add(adapt, 1);
    st->ltpg_mem[0] = ltpg;
    Word16 filt = amrefr_gmed_n(st->ltpg_mem, 5);
    Word16 result = 0;
    if (adapt == 0) {
        if (filt > 5443)
            result = 0;
        else if (filt < 0)
            result = 16384;
        else
            result = sub(16384, mult(24660, shl(filt, 2)));
    }
    if (st->prev_alpha == 0) result = shr(result, 1);
    *alpha = result;
    st->prev_alpha = result;
    st->prev_gc = gain_cod;
    for (int i = 4; i > 0; --i) st->ltpg_mem[i] = st->ltpg_mem[i - 1];
}

namespace {

void MR795_gain_quant(GSMAMR_GainAdaptState* adapt_st, const Word16* res, const Word16* exc, const Word16* code,
                      const Word16* frac_coeff, const Word16* exp_coeff, Word16 exp_code_en, Word16 frac_code_en,
                      Word16 exp_gcode0, Word16 frac_gcode0, Word16 cod_gain_frac, Word16 cod_gain_exp,
                      Word16 gp_limit, Word16* gain_pit, Word16* gain_cod, Word16* qua_ener_MR122, Word16* qua_ener,
                      Word16** anap) {
    Word16 g_pitch_cand[3], g_pitch_cind[3];
    Word16 gain_pit_index = amrefr_q_gain_pitch(MR795, gp_limit, gain_pit, g_pitch_cand, g_pitch_cind);
    Word16 gcode0 = extract_l(amrefr_Pow2(14, frac_gcode0));
    Word16 gain_cod_index;
    MR795_gain_code_quant3(exp_gcode0, gcode0, g_pitch_cand, g_pitch_cind, frac_coeff, exp_coeff, gain_pit,
                           &gain_pit_index, gain_cod, &gain_cod_index, qua_ener_MR122, qua_ener);
    Word16 frac_en[4], exp_en[4], ltpg, alpha;
    calc_unfilt_energies(res, exc, code, *gain_pit, frac_en, exp_en, &ltpg);
    amrefr_gain_adapt(adapt_st, ltpg, *gain_cod, &alpha);
    if (frac_en[0] != 0 && alpha > 0) {
        frac_en[3] = frac_code_en;
        exp_en[3] = exp_code_en;
        Word16 gain_cod_unq = shl(cod_gain_frac, add(sub(cod_gain_exp, exp_gcode0), 10));
        gain_cod_index = MR795_gain_code_quant_mod(*gain_pit, exp_gcode0, gcode0, frac_en, exp_en, alpha,
                                                   gain_cod_unq, gain_cod, qua_ener_MR122, qua_ener);
    }
    *(*anap)++ = gain_pit_index;
    *(*anap)++ = gain_cod_index;
}

Word16 Qua_gain(Word16 mode, Word16 exp_gcode0, Word16 frac_gcode0, const Word16* frac_coeff,
                const Word16* exp_coeff, Word16 gp_limit, Word16* gain_pit, Word16* gain_cod, Word16* qua_ener_MR122,
                Word16* qua_ener) {
    bool high = mode == MR102 || mode == MR74 || mode == MR67;
    Word16 n = high ? 128 : 64;
    const Word16* g_pit = high ? amrefr_g_pit_gain_highrates : amrefr_g_pit_gain_lowrates;
    const Word16* g_fac = high ? amrefr_g_fac_gain_highrates : amrefr_g_fac_gain_lowrates;
    Word16 gcode0 = extract_l(amrefr_Pow2(14, frac_gcode0));
    Word16 exp_code = sub(exp_gcode0, 11);
    Word16 exp_max[5] = {sub(exp_coeff[0], 13), sub(exp_coeff[1], 14), add(exp_coeff[2], add(15, shl(exp_code, 1))),
                         add(exp_coeff[3], exp_code), add(exp_coeff[4], add(1, exp_code))};
    Word16 e_max = exp_max[0];
    for (int i = 1; i < 5; ++i)
        if (exp_max[i] > e_max) e_max = exp_max[i];
    e_max = add(e_max, 1);
    Word32 c[5];
    for (int i = 0; i < 5; ++i) c[i] = L_shr(L_deposit_h(frac_coeff[i]), sub(e_max, exp_max[i]));
    // Order of the search terms: g_pitch, g_code, g_pitch², g_code², g_pitch·g_code.
    g_L_coeff[0] = c[1];
    g_L_coeff[1] = c[3];
    g_L_coeff[2] = c[0];
    g_L_coeff[3] = c[2];
    g_L_coeff[4] = c[4];
    amrefr_GP_param_gen(gp_limit, gcode0, g_pit, g_fac, g_gp_params, n);
    Word16 index = amrefr_GainSearch(g_L_coeff, g_gp_params, n);
    *gain_pit = g_pit[index];
    *qua_ener_MR122 = high ? amrefr_qe_MR122_gain_highrates[index] : amrefr_qe_MR122_gain_lowrates[index];
    *qua_ener = high ? amrefr_qe_gain_highrates[index] : amrefr_qe_gain_lowrates[index];
    Word32 L_tmp = L_shr(L_mult(g_fac[index], gcode0), sub(10, exp_gcode0));
    *gain_cod = extract_h(L_tmp);
    return index;
}

Word16 G_code(const Word16* xn2, const Word16* y2) {
    Word16 scal_y2[40];
    for (int i = 0; i < 40; ++i) scal_y2[i] = shr(y2[i], 1);
    Word32 s = amrefr_Vec_L_mac(xn2, scal_y2, 40, 1);
    Word16 exp_xy = norm_l(s);
    Word16 xy = extract_h(L_shl(s, exp_xy));
    if (xy <= 0) return 0;
    s = amrefr_Vec_L_sqa_40(scal_y2, 0);
    Word16 exp_yy = norm_l(s);
    Word16 yy = extract_h(L_shl(s, exp_yy));
    xy = shr(xy, 1);
    Word16 gain = div_s(xy, yy);
    Word16 i = sub(add(exp_xy, 5), exp_yy);
    return shl(shr(gain, i), 1);
}

Word16 q_gain_code_122(Word16 exp_gcode0, Word16 frac_gcode0, Word16* gain, Word16* qua_ener_MR122,
                       Word16* qua_ener) {
    Word16 g_q0 = shr(*gain, 1);
    Word16 gcode0 = extract_l(amrefr_Pow2(exp_gcode0, frac_gcode0));
    gcode0 = shl(gcode0, 4);
    Word16 err_min = abs_s(sub(g_q0, mult(gcode0, amrefr_qua_gain_code_g_fac[0])));
    Word16 index = 0;
    for (int i = 1; i < 32; ++i) {
        Word16 err = abs_s(sub(g_q0, mult(gcode0, amrefr_qua_gain_code_g_fac[i])));
        if (err < err_min) {
            err_min = err;
            index = static_cast<Word16>(i);
        }
    }
    *gain = shl(mult(gcode0, amrefr_qua_gain_code_g_fac[index]), 1);
    *qua_ener_MR122 = amrefr_qua_gain_code_qeMR122[index];
    *qua_ener = amrefr_qua_gain_code_qe[index];
    return index;
}

}  // namespace

Word16 amrefr_q_gain_pitch(Word16 mode, Word16 gp_limit, Word16* gain, Word16* gain_cand, Word16* gain_cind) {
    Word16 err_min = abs_s(sub(*gain, amrefr_qua_gain_pitch[0]));
    Word16 index = 0;
    for (int i = 1; i < 16; ++i) {
        if (amrefr_qua_gain_pitch[i] <= gp_limit) {
            Word16 err = abs_s(sub(*gain, amrefr_qua_gain_pitch[i]));
            if (err < err_min) {
                err_min = err;
                index = static_cast<Word16>(i);
            }
        }
    }
    if (mode == MR795) {
        Word16 ii;
        if (index == 0)
            ii = 0;
        else if (index == 15 || amrefr_qua_gain_pitch[index + 1] > gp_limit)
            ii = sub(index, 2);
        else
            ii = sub(index, 1);
        for (int i = 0; i < 3; ++i, ++ii) {
            gain_cind[i] = ii;
            gain_cand[i] = amrefr_qua_gain_pitch[ii];
        }
        *gain = amrefr_qua_gain_pitch[index];
    } else if (mode == MR122) {
        *gain = static_cast<Word16>(amrefr_qua_gain_pitch[index] & 0xFFFC);
    } else {
        *gain = amrefr_qua_gain_pitch[index];
    }
    return index;
}

void amrefr_gainQuant(GSMAMR_gainQuantState* st, Word16 mode, const Word16* res, const Word16* exc,
                      const Word16* code, const Word16* xn, const Word16* xn2, const Word16* y1, const Word16* Y2,
                      const Word16* g_coeff, Word16 even_subframe, Word16 gp_limit, Word16* sf0_gain_pit,
                      Word16* sf0_gain_cod, Word16* gain_pit, Word16* gain_cod, Word16** anap) {
    Word16 exp_gcode0, frac_gcode0, exp_en = 0, frac_en = 0, qua_ener_MR122 = 0, qua_ener = 0;
    Word16 frac_coeff[5], exp_coeff[5], cod_gain_frac = 0, cod_gain_exp = 0;
    if (mode == MR475) {
        if (even_subframe != 0) {
            st->gain_idx_ptr = (*anap)++;
            st->gc_predUnqSt = st->gc_predSt;
            amrefr_gc_pred(&st->gc_predUnqSt, mode, code, &st->sf0_exp_gcode0, &st->sf0_frac_gcode0, &exp_en,
                           &frac_en);
            calc_filt_energies(mode, xn, xn2, y1, Y2, g_coeff, st->sf0_frac_coeff, st->sf0_exp_coeff,
                               &cod_gain_frac, &cod_gain_exp);
            *gain_cod = shl(cod_gain_frac, add(cod_gain_exp, 1));
            calc_target_energy(xn, &st->sf0_exp_target_en, &st->sf0_frac_target_en);
            amrefr_MR475_update_unq_pred(&st->gc_predUnqSt, st->sf0_exp_gcode0, st->sf0_frac_gcode0, cod_gain_exp,
                                  cod_gain_frac);
        } else {
            amrefr_gc_pred(&st->gc_predUnqSt, mode, code, &exp_gcode0, &frac_gcode0, &exp_en, &frac_en);
            calc_filt_energies(mode, xn, xn2, y1, Y2, g_coeff, frac_coeff, exp_coeff, &cod_gain_frac,
                               &cod_gain_exp);
            calc_target_energy(xn, &exp_en, &frac_en);
            *st->gain_idx_ptr = MR475_gain_quant(
                &st->gc_predSt, st->sf0_exp_gcode0, st->sf0_frac_gcode0, st->sf0_exp_coeff, st->sf0_frac_coeff,
                st->sf0_exp_target_en, st->sf0_frac_target_en, code, exp_gcode0, frac_gcode0, exp_coeff, frac_coeff,
                exp_en, frac_en, gp_limit, sf0_gain_pit, sf0_gain_cod, gain_pit, gain_cod);
        }
        return;
    }
    amrefr_gc_pred(&st->gc_predSt, mode, code, &exp_gcode0, &frac_gcode0, &exp_en, &frac_en);
    if (mode == MR122) {
        *gain_cod = G_code(xn2, Y2);
        *(*anap)++ = q_gain_code_122(exp_gcode0, frac_gcode0, gain_cod, &qua_ener_MR122, &qua_ener);
    } else if (mode == MR795) {
        calc_filt_energies(mode, xn, xn2, y1, Y2, g_coeff, frac_coeff, exp_coeff, &cod_gain_frac, &cod_gain_exp);
        MR795_gain_quant(&st->adaptSt, res, exc, code, frac_coeff, exp_coeff, exp_en, frac_en, exp_gcode0,
                         frac_gcode0, cod_gain_frac, cod_gain_exp, gp_limit, gain_pit, gain_cod, &qua_ener_MR122,
                         &qua_ener, anap);
    } else {
        calc_filt_energies(mode, xn, xn2, y1, Y2, g_coeff, frac_coeff, exp_coeff, &cod_gain_frac, &cod_gain_exp);
        *(*anap)++ = Qua_gain(mode, exp_gcode0, frac_gcode0, frac_coeff, exp_coeff, gp_limit, gain_pit, gain_cod,
                              &qua_ener_MR122, &qua_ener);
    }
    amrefr_gc_pred_update(&st->gc_predSt, qua_ener_MR122, qua_ener);
}
