// 7.95 kbit/s gains: pitch-gain candidates with a joint code-gain search,
// the unfiltered energies and the gain adaptor, and the code gain again under
// the modified criterion.
#include "amrefr_basic_op.h"
#include "amrefr_encoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

void L_Extract(Word32 L, Word16* hi, Word16* lo) {
    *hi = extract_h(L);
    *lo = extract_l(L_msu(L_shr(L, 1), *hi, 16384));
}

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

}  // namespace

void amrefr_calc_unfilt_energies(const Word16* res, const Word16* exc, const Word16* code, Word16 gain_pit,
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

namespace {

Word16 MR795_gain_code_quant_mod(Word16 gain_pit, Word16 exp_gcode0, Word16 gcode0, const Word16* frac_en,
                                 const Word16* exp_en, Word16 alpha, Word16 gain_cod_unq, Word16* gain_cod,
                                 Word16* qua_ener_MR122, Word16* qua_ener) {
    Word16 gain_code = shl(*gain_cod, sub(10, exp_gcode0));
    Word16 g2_pitch = mult(gain_pit, gain_pit);
    Word16 one_alpha = add(sub(32767, alpha), 1);
    Word16 coeff[5], exp_coeff[5];
    // Each term's exponent is chosen so that, shifted right by e_max minus
    // that exponent, all terms share one scale: the three terms of the
    // weighted excitation energy (summed before the square root), the start
    // value sqrt(alpha·ResEn) (squared exponent in exp_coeff[0]) and the
    // weighted squared distance to the unquantised gain.  alpha (at most 0.5)
    // is doubled for precision wherever it scales an energy fraction.
    Word16 tmp = extract_h(L_shl(L_mult(alpha, frac_en[1]), 1));
    Word32 L_t1 = L_mult(tmp, g2_pitch);
    exp_coeff[1] = sub(exp_en[1], 29);
    tmp = extract_h(L_shl(L_mult(alpha, frac_en[2]), 1));
    coeff[2] = mult(tmp, gain_pit);
    exp_coeff[2] = sub(add(exp_en[2], sub(exp_gcode0, 10)), 14);
    coeff[3] = extract_h(L_shl(L_mult(alpha, frac_en[3]), 1));
    exp_coeff[3] = sub(add(exp_en[3], shl(sub(exp_gcode0, 10), 1)), 1);
    coeff[4] = mult(one_alpha, frac_en[3]);
    exp_coeff[4] = add(exp_coeff[3], 1);
    Word16 exp;
    Word32 L_t0 = amrefr_sqrt_l_exp(L_mult(alpha, frac_en[0]), &exp);
    exp = add(exp, 30);
    exp_coeff[0] = sub(exp_en[0], exp);
    // The largest exponent of the four energy terms sets the common scale.
    Word16 e_max = exp_coeff[1];
    for (int i = 2; i <= 4; ++i)
        if (exp_coeff[i] > e_max) e_max = exp_coeff[i];
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

void amrefr_MR795_gain_quant(GSMAMR_GainAdaptState* adapt_st, const Word16* res, const Word16* exc, const Word16* code,
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
    amrefr_calc_unfilt_energies(res, exc, code, *gain_pit, frac_en, exp_en, &ltpg);
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
