// Gain quantisation of the encoder, its filter-memory update, the 23.85 high
// band and the 16 to 12.8 kHz decimation.
#include <cstring>

#include "amrwb_basic_op.h"
#include "amrwb_enc_internal.h"
#include "amrwb_kernels.h"
#include "amrwb_shared.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

namespace {
Word32 mpy_32_16(Word16 hi, Word16 lo, Word16 n) { return L_mac(L_mult(hi, n), mult(lo, n), 1); }
}  // namespace

Word16 amr_wb_Q_gain2(const Word16* xn, const Word16* y1, Word16 Q_xn, const Word16* y2, const Word16* code,
                      const Word16* g_coeff, Word16 nbits, Word16* gain_pit, Word32* gain_cod, Word16 gp_clip,
                      Word16* mem) {
    const Word16* gp_col = nbits == 6 ? amr_wb_t_qua_gain6b_g_pitch : amr_wb_t_qua_gain7b_g_pitch;
    const Word16* gc_col = nbits == 6 ? amr_wb_t_qua_gain6b_g_code : amr_wb_t_qua_gain7b_g_code;
    int min_ind = 0, size = 64;
    if (nbits == 6) {
        if (gp_clip == 1) size = 48;
    } else {
        int j = gp_clip == 1 ? 37 : 64;
        for (int i = 0; i < j; ++i)
            if (*gain_pit > amr_wb_t_qua_gain7b_g_pitch[32 + i]) ++min_ind;
    }

    // Correlation coefficients and their exponents.
    Word16 coeff[5], exp_coeff[5], exp;
    coeff[0] = g_coeff[0];
    exp_coeff[0] = g_coeff[1];
    coeff[1] = negate(g_coeff[2]);
    exp_coeff[1] = add(g_coeff[3], 1);
    Word32 L = amr_wb_Dot_product12(y2, y2, &exp);
    coeff[2] = extract_h(L);
    exp_coeff[2] = add(sub(exp, 18), shl(Q_xn, 1));
    L = amr_wb_Dot_product12(xn, y2, &exp);
    coeff[3] = extract_h(L_negate(L));
    exp_coeff[3] = add(sub(exp, 8), Q_xn);
    L = amr_wb_Dot_product12(y1, y2, &exp);
    coeff[4] = extract_h(L);
    exp_coeff[4] = add(sub(exp, 8), Q_xn);

    // Predicted code gain: mean energy minus the code energy, plus the MA prediction.
    Word16 exp_code;
    L = amr_wb_Dot_product12s(code, 64, &exp_code);
    exp_code = sub(exp_code, 18 + 6 + 31);
    Word16 e, f = amr_wb_Log2(L, &e);
    e = add(e, exp_code);
    L = mpy_32_16(e, f, -24660);
    L = L_mac(L, 30, 8192);
    L = L_shl(L, 10);
    for (int i = 0; i < 4; ++i) L = L_mac(L, amr_wb_pred[i], mem[i]);
    Word16 gcode0 = extract_h(L);
    L = L_mult(gcode0, 5443) >> 8;
    Word16 exp_gcode0 = extract_h(L), frac = static_cast<Word16>((L & 0xFFFF) >> 1);
    gcode0 = extract_l(amr_wb_Pow2(14, frac));
    exp_gcode0 = sub(exp_gcode0, 14);

    // Search: every coefficient aligned to the largest exponent.
    Word16 ec = add(exp_gcode0, 4);
    Word16 exp_max[5] = {sub(exp_coeff[0], 13), sub(exp_coeff[1], 14), add(exp_coeff[2], add(15, shl(ec, 1))),
                         add(exp_coeff[3], ec), add(exp_coeff[4], add(1, ec))};
    Word16 e_max = exp_max[0];
    for (int i = 1; i < 5; ++i)
        if (exp_max[i] > e_max) e_max = exp_max[i];
    e_max = add(e_max, 2);
    Word16 hi[5], lo[5];
    for (int i = 0; i < 5; ++i) {
        Word32 t = L_shr(L_deposit_h(coeff[i]), sub(e_max, exp_max[i]));
        hi[i] = static_cast<Word16>(t >> 16);
        lo[i] = shr(static_cast<Word16>((t & 0xFFFF) >> 1), 3);
    }
    int index = min_ind + amr_wb_Q_gain2_CBS(gc_col + min_ind, gp_col + min_ind, hi, lo, gcode0, static_cast<Word16>(size));

    *gain_pit = gp_col[index];
    Word16 g_code = gc_col[index];
    *gain_cod = L_shl(L_mult(g_code, gcode0), add(exp_gcode0, 4));
    f = amr_wb_Log2(L_deposit_l(g_code), &e);
    e = sub(e, 11);
    L = mpy_32_16(e, f, 24660);
    mem[3] = mem[2];
    mem[2] = mem[1];
    mem[1] = mem[0];
    mem[0] = extract_l(L >> 3);
    return static_cast<Word16>(index);
}

void amr_wb_NoiseEnhancer(Word16 voice_fac, Word16 stab_fac, Word32* L_gain_code, Word32* L_gc_thres) {
    Word32 L = *L_gain_code;
    if (L < *L_gc_thres) {
        L = L_add(L, amr_wb_MPY_32_16(*L_gain_code, 6226));
        if (L > *L_gc_thres) L = *L_gc_thres;
    } else {
        L = amr_wb_MPY_32_16(*L_gain_code, 27536);
        if (L < *L_gc_thres) L = *L_gc_thres;
    }
    *L_gc_thres = L;
    Word16 fac = mult(stab_fac, sub(16384, shr(voice_fac, 1)));
    *L_gain_code = L_add(amr_wb_MPY_32_16(*L_gain_code, sub(32767, fac)), amr_wb_MPY_32_16(L, fac));
}

Word16 amr_wb_UpdateFilterMem(const Word16* xn, const Word16* y1, const Word16* y2, Word16 gain_code,
                              Word16 gain_pit, Word16 shift) {
    Word32 L = L_mult(xn[63], 16384);
    L = L_sub(L, L_shl(L_mult(gain_code, y2[63]), static_cast<Word16>(shift + 5)));
    L = L_msu(L, gain_pit, y1[63]);
    L = L_shl(L, static_cast<Word16>(1 - shift));
    return round16(L);
}

Word16 amr_wb_QuantiseCorrGain(Word16 dtxHangoverCount, Word16 HP_est_gain, Word16 HP_calc_gain,
                               Word16* gain_alpha) {
    Word16 f = extract_h(L_shl(L_mult(dtxHangoverCount, 4681), 15));
    *gain_alpha = dtxHangoverCount > 6 ? 32767 : mult(*gain_alpha, f);
    Word16 corr = add(mult(HP_calc_gain, *gain_alpha), mult(sub(32767, *gain_alpha), shr(HP_est_gain, 1)));
    Word16 dist_min = 32767, index = 0;
    for (int i = 0; i < 16; ++i) {
        Word16 d = sub(corr, amr_wb_HP_gain[i]);
        Word16 dist = mult(d, d);
        if (dist_min > dist) {
            dist_min = dist;
            index = static_cast<Word16>(i);
        }
    }
    return index;
}

Word16 amr_wb_cod_synthesis(const Word16* Aq, Word16* exc, Word16 Q_new, const Word16* synth16k,
                            wb_amr_Coder_State* st) {
    Word16 HF_SP[80], HF[80];
    std::memcpy(HF_SP, synth16k, sizeof HF_SP);
    Word16 HP_est_gain = amr_wb_common_synthesis(reinterpret_cast<amr_wb_SynthesisHead*>(st), Aq, exc, Q_new,
                                                 nullptr, HF);
    Word16 Ap[17], buf[16 + 80];
    amr_wb_Weight_a_M(Aq, Ap, amr_wb_Weight_a_19661_M);
    std::memcpy(buf, st->mem_syn_hf, 16 * sizeof(Word16));
    std::memcpy(buf + 16, HF, 80 * sizeof(Word16));
    amr_wb_Syn_filt_M_inplace(Ap, buf + 16, buf + 16, 80);
    std::memcpy(st->mem_syn_hf, buf + 80, 16 * sizeof(Word16));
    std::memcpy(HF, buf + 16, 80 * sizeof(Word16));
    amr_wb_Filt_6k_7k(HF, st->mem_hf);
    amr_wb_Filt_6k_7k(HF_SP, st->mem_hf2);
    amr_wb_Scale_sig(HF_SP, 80, -1);
    Word16 exp_ener, exp;
    Word32 ener = amr_wb_Dot_product12s(HF_SP, 80, &exp_ener);
    Word32 ener_hf = amr_wb_Dot_product12s(HF, 80, &exp);
    Word16 HP_calc_gain = amr_wb_ModifyNoiseEnergy(ener_hf, ener, exp, exp_ener, 0);
    const Word16 gain_alpha = st->gain_alpha;
    const Word16 index =
        amr_wb_QuantiseCorrGain(st->dtx_encSt.dtxHangoverCount, HP_est_gain, HP_calc_gain, &st->gain_alpha);
    amr_wb_hf_gain_observed({st->dtx_encSt.dtxHangoverCount, HP_est_gain, HP_calc_gain, gain_alpha, index});
    return index;
}

void amr_wb_Decim_12k8(const Word16* sig16k, Word16 lg, Word16* sig12k8, Word16* mem) {
    Word16 buf[30 + 320];
    std::memcpy(buf, mem, 30 * sizeof(Word16));
    std::memcpy(buf + 30, sig16k, lg * sizeof(Word16));
    amr_wb_Down_samp(buf + 15, sig12k8, mult(lg, 26215));
    std::memcpy(mem, buf + lg, 30 * sizeof(Word16));
}
