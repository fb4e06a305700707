// Encoder gain quantisation: the energies of the gain criterion, the pitch
// gain table search, the 12.2 kbit/s code gain, the joint quantisers of 5.15 to
// 10.2 kbit/s and the per-mode dispatch.
#include <cstring>

#include "amrefr_basic_op.h"
#include "amrefr_encoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

Word16 g_gp_params[640];
Word32 g_L_coeff[5];

}  // namespace

// The normalised energies of the gain criterion (the first two from G_pitch).
void amrefr_calc_filt_energies(Word16 mode, const Word16* xn, const Word16* xn2, const Word16* y1, const Word16* Y2,
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

void amrefr_calc_target_energy(const Word16* xn, Word16* en_exp, Word16* en_frac) {
    Word32 s = amrefr_Vec_L_sqa_40(xn, 0);
    Word16 exp = norm_l(s);
    *en_frac = extract_h(L_shl(s, exp));
    *en_exp = sub(16, exp);
}

namespace {

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


}  // namespace

Word16 amrefr_q_gain_code_efr(Word16 exp_gcode0, Word16 frac_gcode0, Word16* gain, Word16* qua_ener_MR122,
                              Word16* qua_ener, Word16 i_subfr, GSMAMR_EFRdtx_encState* dtx, Word16 do_EFR) {
    if (do_EFR && (dtx->txdtx_ctrl & EFR_TX_SP_FLAG) == 0) {
        // Comfort noise: the gain is that of the LP residual; a SID carries the
        // index of its average over the history.
        if (i_subfr == 0 && (dtx->txdtx_ctrl & EFR_TX_PREV_HANGOVER_ACTIVE))
            dtx->gcode0_CN = shl(amrefr_update_gcode0_CN(dtx->gain_code_old_tx), 4);
        Word16 g = dtx->CN_excitation_gain;
        Word16 index = 0;
        if (dtx->txdtx_ctrl & EFR_TX_SID_UPDATE) {
            Word16 aver = amrefr_aver_gain_code_history(dtx->CN_excitation_gain, dtx->gain_code_old_tx);
            Word16 err_min = 32767;
            for (int i = 0; i < 32; ++i) {
                Word16 err = abs_s(sub(aver, mult(dtx->gcode0_CN, amrefr_qua_gain_code_g_fac[i])));
                if (err < err_min) {
                    err_min = err;
                    index = static_cast<Word16>(i);
                }
            }
        }
        dtx->buf_p_tx = amrefr_update_gain_code_history(g, dtx->gain_code_old_tx, dtx->buf_p_tx);
        *gain = shl(g, 1);
        return index;
    }
    Word16 g_q0 = shr(*gain, 1);
    Word16 gcode0 = extract_l(amrefr_Pow2(exp_gcode0, frac_gcode0));
    gcode0 = shl(gcode0, 4);
    Word16 err_min = 32767;
    Word16 index = 0;
    for (int i = 0; i < 32; ++i) {
        Word16 err = abs_s(sub(g_q0, mult(gcode0, amrefr_qua_gain_code_g_fac[i])));
        if (err < err_min) {
            err_min = err;
            index = static_cast<Word16>(i);
        }
    }
    Word16 g = mult(gcode0, amrefr_qua_gain_code_g_fac[index]);
    if (do_EFR) dtx->buf_p_tx = amrefr_update_gain_code_history(g, dtx->gain_code_old_tx, dtx->buf_p_tx);
    *gain = shl(g, 1);
    *qua_ener_MR122 = amrefr_qua_gain_code_qeMR122[index];
    *qua_ener = amrefr_qua_gain_code_qe[index];
    return index;
}

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
    amrefr_gainQuant_efr(st, mode, res, exc, code, xn, xn2, y1, Y2, g_coeff, even_subframe, gp_limit, sf0_gain_pit,
                         sf0_gain_cod, gain_pit, gain_cod, anap, 0, nullptr, 0, 0);
}

void amrefr_gainQuant_efr(GSMAMR_gainQuantState* st, Word16 mode, const Word16* res, const Word16* exc,
                          const Word16* code, const Word16* xn, const Word16* xn2, const Word16* y1, const Word16* Y2,
                          const Word16* g_coeff, Word16 even_subframe, Word16 gp_limit, Word16* sf0_gain_pit,
                          Word16* sf0_gain_cod, Word16* gain_pit, Word16* gain_cod, Word16** anap, Word16 i_subfr,
                          GSMAMR_EFRdtx_encState* EFRdtx_encSt, Word16 do_EFR, Word16 do_EFR_dtx) {
    Word16 exp_gcode0, frac_gcode0, exp_en = 0, frac_en = 0, qua_ener_MR122 = 0, qua_ener = 0;
    Word16 frac_coeff[5], exp_coeff[5], cod_gain_frac = 0, cod_gain_exp = 0;
    if (mode == MR475) {
        if (even_subframe != 0) {
            st->gain_idx_ptr = (*anap)++;
            st->gc_predUnqSt = st->gc_predSt;
            amrefr_gc_pred(&st->gc_predUnqSt, mode, code, &st->sf0_exp_gcode0, &st->sf0_frac_gcode0, &exp_en,
                           &frac_en);
            amrefr_calc_filt_energies(mode, xn, xn2, y1, Y2, g_coeff, st->sf0_frac_coeff, st->sf0_exp_coeff,
                               &cod_gain_frac, &cod_gain_exp);
            *gain_cod = shl(cod_gain_frac, add(cod_gain_exp, 1));
            amrefr_calc_target_energy(xn, &st->sf0_exp_target_en, &st->sf0_frac_target_en);
            amrefr_MR475_update_unq_pred(&st->gc_predUnqSt, st->sf0_exp_gcode0, st->sf0_frac_gcode0, cod_gain_exp,
                                  cod_gain_frac);
        } else {
            amrefr_gc_pred(&st->gc_predUnqSt, mode, code, &exp_gcode0, &frac_gcode0, &exp_en, &frac_en);
            amrefr_calc_filt_energies(mode, xn, xn2, y1, Y2, g_coeff, frac_coeff, exp_coeff, &cod_gain_frac,
                               &cod_gain_exp);
            amrefr_calc_target_energy(xn, &exp_en, &frac_en);
            *st->gain_idx_ptr = amrefr_MR475_gain_quant(
                &st->gc_predSt, st->sf0_exp_gcode0, st->sf0_frac_gcode0, st->sf0_exp_coeff, st->sf0_frac_coeff,
                st->sf0_exp_target_en, st->sf0_frac_target_en, code, exp_gcode0, frac_gcode0, exp_coeff, frac_coeff,
                exp_en, frac_en, gp_limit, sf0_gain_pit, sf0_gain_cod, gain_pit, gain_cod);
        }
        return;
    }
    amrefr_gc_pred(&st->gc_predSt, mode, code, &exp_gcode0, &frac_gcode0, &exp_en, &frac_en);
    if (mode == MR122) {
        // A comfort-noise subframe has no target; its gain is the residual's.
        *gain_cod = do_EFR_dtx ? static_cast<Word16>(0) : G_code(xn2, Y2);
        *(*anap)++ = amrefr_q_gain_code_efr(exp_gcode0, frac_gcode0, gain_cod, &qua_ener_MR122, &qua_ener, i_subfr,
                                            EFRdtx_encSt, do_EFR);
    } else if (mode == MR795) {
        amrefr_calc_filt_energies(mode, xn, xn2, y1, Y2, g_coeff, frac_coeff, exp_coeff, &cod_gain_frac, &cod_gain_exp);
        amrefr_MR795_gain_quant(&st->adaptSt, res, exc, code, frac_coeff, exp_coeff, exp_en, frac_en, exp_gcode0,
                         frac_gcode0, cod_gain_frac, cod_gain_exp, gp_limit, gain_pit, gain_cod, &qua_ener_MR122,
                         &qua_ener, anap);
    } else {
        amrefr_calc_filt_energies(mode, xn, xn2, y1, Y2, g_coeff, frac_coeff, exp_coeff, &cod_gain_frac, &cod_gain_exp);
        *(*anap)++ = Qua_gain(mode, exp_gcode0, frac_gcode0, frac_coeff, exp_coeff, gp_limit, gain_pit, gain_cod,
                              &qua_ener_MR122, &qua_ener);
    }
    amrefr_gc_pred_update(&st->gc_predSt, qua_ener_MR122, qua_ener);
    if (do_EFR_dtx)
        for (Word16& e : st->gc_predSt.past_qua_en_MR122) e = -2381;
}
