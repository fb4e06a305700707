// Pitch analysis of the encoder: weighted speech, open-loop lag and gain,
// closed-loop fractional lag, pitch gain and the pitch-gain clipping test.
#include <cstring>

#include "amrwb_basic_op.h"
#include "amrwb_enc_internal.h"
#include "amrwb_kernels.h"
#include "amrwb_shared.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

void amr_wb_Hp_wsp(const Word16* signal, Word16* out, Word16 lg, Word16* mem) {
    Word16 x[3 + 256];
    x[0] = mem[6];
    x[1] = mem[7];
    x[2] = mem[8];
    std::memcpy(x + 3, signal, lg * sizeof(Word16));
    Word32 y32[256];
    amr_wb_Hp_wsp_loop1(x, amr_wb_hp_wsp_ab + 8, y32, lg);
    amr_wb_Hp_wsp_loop2(mem, mem + 3, amr_wb_hp_wsp_ab, y32, out, lg);
    mem[6] = x[lg];
    mem[7] = x[lg + 1];
    mem[8] = x[lg + 2];
}

void amr_wb_scale_mem_Hp_wsp(Word16* mem, Word16 exp) {
    for (int i = 0; i < 6; i += 2) {
        Word32 L = L_add(L_deposit_h(mem[i]), 2 * std::int32_t{mem[i + 1]});
        L = L_shl(L, exp);
        mem[i] = static_cast<Word16>(L >> 16);
        mem[i + 1] = static_cast<Word16>((L & 0xFFFF) >> 1);
    }
    for (int i = 6; i < 9; ++i) mem[i] = round16(L_shl(L_deposit_h(mem[i]), exp));
}

void amr_wb_LP_Decim2(Word16* x, Word16* mem) {
    Word16 buf[3 + 256];
    std::memcpy(buf, mem, 3 * sizeof(Word16));
    std::memcpy(buf + 3, x, 256 * sizeof(Word16));
    std::memcpy(mem, x + 253, 3 * sizeof(Word16));
    amr_wb_LP_Decim2_Loop(x, buf);
}

Word16 amr_wb_Med_olag(Word16 prev_ol_lag, Word16* old_ol_lag) {
    for (int i = 4; i > 0; --i) old_ol_lag[i] = old_ol_lag[i - 1];
    old_ol_lag[0] = prev_ol_lag;
    return amr_wb_median5(old_ol_lag + 2);
}

Word16 amr_wb_Pitch_med_ol(const Word16* wsp, Word16 L_frame, Word16 L_0, Word16* gain, Word16* hp_wsp_mem,
                           Word16* old_hp_wsp, Word16 wght_flg) {
    Word32 corr[104];
    amr_wb_comp_corr_loop(wsp, wsp - 115, 104, corr, L_frame);
    Word16 T = (L_0 > 0 && wght_flg > 0)
                   ? amr_wb_Pitch_med_ol_loop1(corr, amr_wb_corrweight + 198, amr_wb_corrweight + 213 - L_0)
                   : amr_wb_Pitch_med_ol_loop2(corr, amr_wb_corrweight + 198);
    Word16* hp = old_hp_wsp + 115;
    amr_wb_Hp_wsp(wsp, hp, L_frame, hp_wsp_mem);

    Word32 R0 = amr_wb_Vec_L_mac8(hp, hp - T, L_frame, 0);
    Word32 R1 = amr_wb_Vec_L_sqa(hp - T, L_frame, 1);
    Word32 R2 = amr_wb_Vec_L_sqa(hp, L_frame, 1);
    Word16 e0 = norm_l(R0), e1 = norm_l(R1), e2 = norm_l(R2);
    R0 = L_shl(R0, e0);
    R1 = L_shl(R1, e1);
    R2 = L_shl(R2, e2);
    R1 = L_mult(round16(R1), round16(R2));
    Word16 i = norm_l(R1);
    R1 = L_shl(R1, i);
    Word16 exp_R1 = static_cast<Word16>(62 - (e1 + e2 + i));
    amr_wb_Isqrt_n(&R1, &exp_R1);
    R0 = L_mult(round16(R0), round16(R1));
    Word16 exp_R0 = static_cast<Word16>(31 - e0 + exp_R1);
    *gain = round16(L_shl(R0, exp_R0));

    std::memmove(old_hp_wsp, old_hp_wsp + L_frame, 115 * sizeof(Word16));
    return T;
}

Word16 amr_wb_Pitch_OL(wb_amr_Coder_State* st, const Word16* speech, Word16* wsp, Word16 exp, const Word16* A,
                       Word16* Ap, Word16 ser_size, Word16* ret_shift) {
    for (int sf = 0; sf < 4; ++sf) {
        amr_wb_Weight_a_M(A + 17 * sf, Ap, amr_wb_Weight_a_GAMMA1_M);
        amr_wb_Residu(Ap, speech + 64 * sf, wsp + 64 * sf, 64);
    }
    amr_wb_Deemph2(wsp, 256, &st->mem_wsp);
    Word16 max = amr_wb_Vec_abs_max_gt(wsp, 256, 0);
    Word16 tmp = max > st->old_wsp_max ? max : st->old_wsp_max;
    st->old_wsp_max = max;
    Word16 shift = static_cast<Word16>(norm_s(tmp) - 3);
    if (shift > 0) shift = 0;
    amr_wb_LP_Decim2(wsp, st->mem_decim2);
    amr_wb_Scale_sig(wsp, 128, shift);
    Word16 exp_s = static_cast<Word16>(exp + shift - st->old_wsp_shift);
    st->old_wsp_shift = shift;
    amr_wb_Scale_sig(wsp - 115, 115, exp_s);
    amr_wb_Scale_sig(st->old_hp_wsp, 115, exp_s);
    amr_wb_scale_mem_Hp_wsp(st->hp_wsp_mem, exp_s);
    *ret_shift = shift;
    return amr_wb_Pitch_med_ol(wsp, ser_size == 132 ? 128 : 64, st->old_T0_med, &st->ol_gain, st->hp_wsp_mem,
                               st->old_hp_wsp, st->ol_wght_flg);
}

void amr_wb_ReverseImpResp(const Word16* h, Word16* hrev) {
    for (int k = 0; k < 64; ++k) hrev[k] = h[63 - k];
    hrev[64] = 0;  // the word in front of the response, kept 0 by the encoder
    hrev[65] = hrev[66] = hrev[67] = 0;
}

void amr_wb_Norm_Corr(const Word16* exc, const Word16* xn, const Word16* h, Word16 t_min, Word16 t_max,
                      Word16* corr_norm) {
    Word16 hrev[68], excf[64];
    amr_wb_ReverseImpResp(h, hrev);
    amr_wb_ConvolveFwdH(exc - t_min, hrev, excf);
    Word32 E = amr_wb_Vec_L_sqa(xn, 64, 1);
    Word16 nscale = static_cast<Word16>((32 - norm_l(E)) >> 1);
    amr_wb_Norm_Corr_Loop(xn, excf, corr_norm, h, exc - t_min - 1, nscale, t_min, t_max);
}

Word16 amr_wb_Pitch_fr4(const Word16* exc, const Word16* xn, const Word16* h, Word16 t0_min, Word16 t0_max,
                        Word16* pit_frac, Word16 i_subfr, Word16 t0_fr2, Word16 t0_fr1) {
    const Word16 t_min = static_cast<Word16>(t0_min - 4), t_max = static_cast<Word16>(t0_max + 4);
    Word16 corr_v[15 + 8 + 1];  // the correlation of lag t at corr_v[t - t_min]
    amr_wb_Norm_Corr(exc, xn, h, t_min, t_max, corr_v);
    auto corr = [&](int t) { return corr_v + (t - t_min); };
    Word16 max = *corr(t0_min), t0 = t0_min;
    for (Word16 i = static_cast<Word16>(t0_min + 1); i <= t0_max; ++i)
        if (*corr(i) >= max) {
            max = *corr(i);
            t0 = i;
        }
    if (i_subfr == 0 && t0 >= t0_fr1) {
        *pit_frac = 0;
        return t0;
    }
    Word16 step = 1, frac = -3;
    if (t0_fr2 == 34 || (i_subfr == 0 && t0 >= t0_fr2)) {
        step = 2;
        frac = -2;
    }
    if (t0 == t0_min) frac = 0;
    max = amr_wb_Interpol_4(corr(t0), frac);
    for (Word16 i = static_cast<Word16>(frac + step); i <= 3; i = static_cast<Word16>(i + step)) {
        Word16 t = amr_wb_Interpol_4(corr(t0), i);
        if (t > max) {
            max = t;
            frac = i;
        }
    }
    if (frac < 0) {
        frac = static_cast<Word16>(frac + 4);
        t0 = static_cast<Word16>(t0 - 1);
    }
    *pit_frac = frac;
    return t0;
}

Word16 amr_wb_G_pitch(const Word16* xn, const Word16* y1, Word16* g_coeff) {
    Word16 exp_yy, exp_xy;
    Word16 yy = extract_h(amr_wb_Dot_product12(y1, y1, &exp_yy));
    Word16 xy = extract_h(amr_wb_Dot_product12(xn, y1, &exp_xy));
    g_coeff[0] = yy;
    g_coeff[1] = exp_yy;
    g_coeff[2] = xy;
    g_coeff[3] = exp_xy;
    if (xy < 0) return 0;
    Word16 gain = amr_wb_div_s(shr(xy, 1), yy);
    // The exponents count upwards with the products' magnitudes (30 - norm),
    // so the quotient is scaled by 2^(exp_xy - exp_yy): a weak correlation
    // against a strong filtered excitation gives a small gain.
    gain = shl(gain, sub(exp_xy, exp_yy));
    return gain > 19661 ? 19661 : gain;
}

Word16 amr_wb_Gp_clip(const Word16* mem) { return (mem[0] < 154 && mem[1] > 14746) ? 1 : 0; }

void amr_wb_Gp_clip_test_isf(const Word16* isf, Word16* mem) {
    Word16 dist_min = sub(isf[1], isf[0]);
    for (int i = 2; i < 15; ++i) {
        Word16 d = sub(isf[i], isf[i - 1]);
        if (d < dist_min) dist_min = d;
    }
    Word16 d = extract_h(L_mac(L_mult(26214, mem[0]), 6554, dist_min));
    mem[0] = d > 307 ? 307 : d;
}

void amr_wb_Gp_clip_test_gain_pit(Word16 gain_pit, Word16* mem) {
    Word16 g = extract_h(L_mac(L_mult(29491, mem[1]), 3277, gain_pit));
    mem[1] = g < 9830 ? 9830 : g;
}

void amr_wb_Scale_sig(Word16* x, Word16 lg, Word16 exp) {
    int n4 = lg & ~3;
    if (n4 >= 8) amr_wb_Scale_sig2(x, static_cast<Word16>(n4), exp);
    else n4 = 0;
    for (int i = n4; i < lg; ++i) {
        if (exp > 0)
            x[i] = round16(L_shl(L_deposit_h(x[i]), exp));
        else
            x[i] = round16(L_shr(L_deposit_h(x[i]), static_cast<Word16>(-exp)));
    }
}
