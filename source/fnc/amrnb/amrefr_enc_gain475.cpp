// 4.75 kbit/s gains: the unquantised predictor of the first subframe of a
// pair and the joint 8-bit quantiser of the pair.
#include "amrefr_basic_op.h"
#include "amrefr_encoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

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

}  // namespace

Word16 amrefr_MR475_gain_quant(GSMAMR_gc_predState* pred_st, Word16 sf0_exp_gcode0, Word16 sf0_frac_gcode0,
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
