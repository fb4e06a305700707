// Encoder pitch analysis: open-loop lag per half frame, tone stability guards,
// closed-loop fractional lag, adaptive codebook vector and pitch gain.
#include <cstring>

#include "amrefr_basic_op.h"
#include "amrefr_encoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

// Open-loop search scratch: 143 past samples and the frame part, correlations
// indexed from element 143 by minus the lag.
Word16 g_scaled_signal[303 + 8];
Word32 g_corr[144];

// Scales signal[-143 .. L_frame-1] into g_scaled_signal; returns the scale shift
// (3: down by 8, -3: up by 8, 0: unchanged).
Word16 scale_signal(const Word16* signal, Word16 L_frame, bool saturating_up) {
    int n = 143 + L_frame;
    Word32 t0 = amrefr_Vec_L_sqa(signal - 143, static_cast<Word16>(n), 0);
    Word16* out = g_scaled_signal;
    if (t0 == MAX_32) {
        for (int i = 0; i < n; ++i) out[i] = shr(signal[i - 143], 3);
        return 3;
    }
    if (t0 < 1048576) {
        for (int i = 0; i < n; ++i)
            out[i] = saturating_up ? shl(signal[i - 143], 3) : wrap16(std::int32_t{signal[i - 143]} * 8);
        return -3;
    }
    for (int i = 0; i < n; ++i) out[i] = signal[i - 143];
    return 0;
}

void comp_corr(const Word16* scal_sig, Word16 L_frame, Word16 lag_max, Word16 lag_min, Word32* corr) {
    amrefr_comp_corr_loop(scal_sig, scal_sig - lag_max, static_cast<Word16>(lag_max - lag_min + 1), corr - lag_max,
                          L_frame);
}

Word16 Lag_max(GSMAMR_vadState1* vadSt, const Word32* corr, const Word16* scal_sig, Word16 scal_fac,
               Word16 scal_flag, Word16 L_frame, Word16 lag_max, Word16 lag_min, Word16* cor_max, Word16 dtx) {
    Word16 k = amrefr_Vec_L_max_ge(&corr[-lag_max], static_cast<Word16>(lag_max - lag_min + 1));
    Word16 p_max = static_cast<Word16>(lag_max - k);
    Word32 max = corr[-p_max];
    Word32 t0 = amrefr_Vec_L_sqa(&scal_sig[-p_max], L_frame, 0);
    if (dtx) amrefr_vad_tone_detection(&vadSt->tone, max, t0);
    t0 = amrefr_Inv_sqrt(t0);
    if (scal_flag) t0 = L_shl(t0, 1);
    t0 = amrefr_MPY_32(max, t0);
    if (scal_flag) {
        t0 = L_shr(t0, scal_fac);
        *cor_max = extract_h(L_shl(t0, 15));
    } else {
        *cor_max = extract_l(L_shr(t0, scal_fac));
    }
    return p_max;
}

}  // namespace

void amrefr_hp_max(const Word32* corr, const Word16* scal_sig, Word16 L_frame, Word16 lag_max, Word16 lag_min,
                   Word16* cor_hp_max) {
    Word32 max = MIN_32;
    for (int i = lag_max - 1; i > lag_min; --i) {
        Word32 t = L_sub(L_add(L_sub(corr[-i], corr[-i - 1]), corr[-i]), corr[-i + 1]);
        t = L_abs(t);
        if (t >= max) max = t;
    }
    Word32 t0 = amrefr_Vec_L_sqa(scal_sig, L_frame, 0);
    Word32 t1 = amrefr_Vec_L_mac(scal_sig, scal_sig - 1, L_frame, 0);
    t0 = L_abs(L_sub(L_shl(t0, 1), L_shl(t1, 1)));
    Word16 shift1 = sub(norm_l(max), 1);
    Word16 max16 = extract_h(L_shl(max, shift1));
    Word16 shift2 = norm_l(t0);
    Word16 t016 = extract_h(L_shl(t0, shift2));
    Word16 cor_max = t016 != 0 ? div_s(max16, t016) : 0;
    Word16 shift = sub(shift1, shift2);
    *cor_hp_max = shift >= 0 ? shr(cor_max, shift) : shl(cor_max, negate(shift));
}

Word16 amrefr_Pitch_ol(GSMAMR_vadState1* vadSt, Word16 mode, Word16* signal, Word16 pit_min, Word16 L_frame,
                       Word16 idx, Word16 dtx) {
    if (dtx) amrefr_vad_tone_detection_update(&vadSt->tone, (mode == MR475 || mode == MR515) ? 1 : 0);
    Word16 scal_fac = scale_signal(signal, L_frame, false);
    const Word16* scal_sig = g_scaled_signal + 143;
    Word32* corr = g_corr + 143;
    comp_corr(scal_sig, L_frame, 143, pit_min, corr);
    Word16 scal_flag = mode == MR122 ? 1 : 0;
    Word16 max1, max2, max3;
    Word16 j = shl(pit_min, 2);
    Word16 p_max1 = Lag_max(vadSt, corr, scal_sig, scal_fac, scal_flag, L_frame, 143, j, &max1, dtx);
    Word16 i = sub(j, 1);
    j = shl(pit_min, 1);
    Word16 p_max2 = Lag_max(vadSt, corr, scal_sig, scal_fac, scal_flag, L_frame, i, j, &max2, dtx);
    i = sub(j, 1);
    Word16 p_max3 = Lag_max(vadSt, corr, scal_sig, scal_fac, scal_flag, L_frame, i, pit_min, &max3, dtx);
    if (dtx && idx == 1) amrefr_hp_max(corr, scal_sig, L_frame, 143, pit_min, &vadSt->best_corr_hp);
    if (mult(max1, 27853) < max2) {
        max1 = max2;
        p_max1 = p_max2;
    }
    if (mult(max1, 27853) < max3) p_max1 = p_max3;
    return p_max1;
}

Word16 amrefr_Pitch_ol_wgh(GSMAMR_pitchOLWghtState* st, GSMAMR_vadState1* vadSt, Word16* signal, Word16* old_lags,
                           Word16* ol_gain_flg, Word16 idx, Word16 dtx) {
    if (dtx) amrefr_vad_tone_detection_update(&vadSt->tone, 0);
    scale_signal(signal, 80, true);
    const Word16* scal_sig = g_scaled_signal + 143;
    Word32* corr = g_corr + 143;
    comp_corr(scal_sig, 80, 143, 20, corr);
    const Word16* ww = &amrefr_corrweight[250];
    const Word16* we = &amrefr_corrweight[123 + 143 - st->old_T0_med];
    Word16 p_max1 = amrefr_Lag_max_10k2_Loops(corr, ww, we, st->wght_flg);
    Word32 t0 = amrefr_Vec_L_mac(scal_sig, scal_sig - p_max1, 80, 0);
    Word32 t1 = amrefr_Vec_L_sqa(scal_sig - p_max1, 80, 0);
    if (dtx) amrefr_vad_tone_detection(&vadSt->tone, t0, t1);
    ol_gain_flg[idx] = round16(L_msu(t0, round16(t1), 13107));
    if (ol_gain_flg[idx] > 0) {
        for (int i = 4; i > 0; --i) old_lags[i] = old_lags[i - 1];
        old_lags[0] = p_max1;
        st->old_T0_med = amrefr_gmed_n(old_lags, 5);
        st->ada_w = 32767;
    } else {
        st->old_T0_med = p_max1;
        st->ada_w = mult(st->ada_w, 29491);
    }
    st->wght_flg = st->ada_w < 9830 ? 0 : 1;
    if (dtx && idx == 1) amrefr_hp_max(corr, scal_sig, 80, 143, 20, &vadSt->best_corr_hp);
    return p_max1;
}

void amrefr_ol_ltp(GSMAMR_pitchOLWghtState* st, GSMAMR_vadState1* vadSt, Word16 mode, Word16* wsp, Word16* T_op,
                   Word16* old_lags, Word16* ol_gain_flg, Word16 idx, Word16 dtx) {
    if (mode != MR102) ol_gain_flg[0] = ol_gain_flg[1] = 0;
    if (mode == MR475 || mode == MR515)
        *T_op = amrefr_Pitch_ol(vadSt, mode, wsp, 20, 160, idx, dtx);
    else if (mode <= MR795)
        *T_op = amrefr_Pitch_ol(vadSt, mode, wsp, 20, 80, idx, dtx);
    else if (mode == MR102)
        *T_op = amrefr_Pitch_ol_wgh(st, vadSt, wsp, old_lags, ol_gain_flg, idx, dtx);
    else
        *T_op = amrefr_Pitch_ol(vadSt, mode, wsp, 18, 80, idx, dtx);
}

Word16 amrefr_check_lsp(Word16* st_count, const Word16* lsp) {
    Word16 dist_min1 = MAX_16, dist_min2 = MAX_16;
    for (int i = 3; i < 8; ++i) {
        Word16 d = sub(lsp[i], lsp[i + 1]);
        if (d < dist_min1) dist_min1 = d;
    }
    for (int i = 1; i < 3; ++i) {
        Word16 d = sub(lsp[i], lsp[i + 1]);
        if (d < dist_min2) dist_min2 = d;
    }
    Word16 dist_th = lsp[1] > 32000 ? 600 : (lsp[1] > 30500 ? 800 : 1100);
    if (dist_min1 < 1500 || dist_min2 < dist_th)
        *st_count = add(*st_count, 1);
    else
        *st_count = 0;
    if (*st_count >= 12) {
        *st_count = 12;
        return 1;
    }
    return 0;
}

Word16 amrefr_check_gp_clipping(const GSMAMR_tonStabState* st, Word16 g_pitch) {
    Word16 sum = shr(g_pitch, 3);
    for (int i = 0; i < 7; ++i) sum = add(sum, st->gp[i]);
    return sum > 15565 ? 1 : 0;
}

void amrefr_update_gp_clipping(GSMAMR_tonStabState* st, Word16 g_pitch) {
    for (int i = 0; i < 6; ++i) st->gp[i] = st->gp[i + 1];
    st->gp[6] = shr(g_pitch, 3);
}

// ---------------------------------------------------------------------------
// Closed-loop pitch.

namespace {

struct ModeDep {
    Word16 max_frac_lag, flag3, first_frac, last_frac, delta_int_low, delta_int_range, delta_frc_low,
        delta_frc_range, pit_min;
};
constexpr ModeDep kModeDep[8] = {
    {84, 1, -2, 2, 5, 10, 5, 9, 20}, {84, 1, -2, 2, 5, 10, 5, 9, 20}, {84, 1, -2, 2, 3, 6, 5, 9, 20},
    {84, 1, -2, 2, 3, 6, 5, 9, 20},  {84, 1, -2, 2, 3, 6, 5, 9, 20},  {84, 1, -2, 2, 3, 6, 10, 19, 20},
    {84, 1, -2, 2, 3, 6, 5, 9, 20},  {94, 0, -3, 3, 3, 6, 5, 9, 18}};

void getRange(Word16 T0, Word16 delta_low, Word16 delta_range, Word16 pitmin, Word16* t0_min, Word16* t0_max) {
    *t0_min = sub(T0, delta_low);
    if (*t0_min < pitmin) *t0_min = pitmin;
    *t0_max = add(*t0_min, delta_range);
    if (*t0_max >= 144) {
        *t0_max = 143;
        *t0_min = sub(143, delta_range);
    }
}

void Norm_Corr(Word16* exc, const Word16* xn, const Word16* h, Word16 t_min, Word16 t_max, Word16* corr_norm) {
    Word16 h_rev[43] = {};
    amrefr_ReverseCopy_8(h, h_rev, 40);
    Word16 excf[40], scaled[40];
    amrefr_ConvolveFwdH(exc - t_min, h_rev, excf);
    amrefr_Vec_shr_8(excf, scaled, 2, 40);
    Word32 s = amrefr_Vec_L_sqa_40(excf, 0);
    if (s <= 67108864)
        amrefr_Calculate_Corr_Norm(excf, xn, exc, h, corr_norm, t_min, t_max, static_cast<Word16>(-t_min), 3, 0);
    else
        amrefr_Calculate_Corr_Norm(scaled, xn, exc, h, corr_norm, t_min, t_max, static_cast<Word16>(-t_min), 1, 2);
}

// Interpolated correlation of every fraction from start to stop; returns the best.
Word16 Interpol_3or6_Srch(const Word16* x, Word16 start_frac, Word16 stop_frac, Word16 flag3) {
    const Word16 pos[8] = {x[0], x[1], x[-1], x[2], x[-2], x[3], x[-3], x[4]};
    const Word16 neg[8] = {x[-1], x[0], x[-2], x[1], x[-3], x[2], x[-4], x[3]};
    Word16 vals[8];
    int count = 0;
    for (Word16 f = start_frac; f <= stop_frac; ++f, ++count) {
        Word16 frac = flag3 ? static_cast<Word16>(2 * f) : f;
        const Word16* copy = frac >= 0 ? pos : neg;
        int row = frac >= 0 ? frac : frac + 6;
        Word32 s = 0;
        for (int k = 0; k < 8; ++k) s = L_mac(s, copy[k], amrefr_inter_6_2_comb[8 * row + k]);
        vals[count] = round16(s);
    }
    return amrefr_Interpol_3or6_Best(vals, start_frac, -32767, static_cast<Word16>(count));
}

void searchFrac(Word16* lag, Word16* frac, Word16 last_frac, const Word16* corr, Word16 flag3) {
    *frac = Interpol_3or6_Srch(&corr[*lag], *frac, last_frac, flag3);
    if (flag3) {
        if (*frac == -2) {
            *frac = 1;
            *lag = sub(*lag, 1);
        } else if (*frac == 2) {
            *frac = -1;
            *lag = add(*lag, 1);
        }
    } else if (*frac == -3) {
        *frac = 3;
        *lag = sub(*lag, 1);
    }
}

Word16 clamp_tmp_lag(Word16 T0_prev, Word16 t0_min, Word16 t0_max) {
    Word16 tmp_lag = T0_prev;
    if (sub(sub(tmp_lag, t0_min), 5) > 0) tmp_lag = add(t0_min, 5);
    if (sub(sub(t0_max, tmp_lag), 4) > 0) tmp_lag = sub(t0_max, 4);
    return tmp_lag;
}

}  // namespace

Word16 amrefr_Enc_lag3(Word16 T0, Word16 T0_frac, Word16 T0_prev, Word16 T0_min, Word16 T0_max, Word16 delta_flag,
                       Word16 flag4) {
    if (delta_flag == 0) {
        if (T0 <= 85) return add(sub(add(add(T0, T0), T0), 58), T0_frac);
        return add(T0, 112);
    }
    if (flag4 == 0) return add(add(add(add(sub(T0, T0_min), sub(T0, T0_min)), sub(T0, T0_min)), 2), T0_frac);
    Word16 tmp_lag = clamp_tmp_lag(T0_prev, T0_min, T0_max);
    Word16 uplag = add(add(add(T0, T0), T0), T0_frac);
    Word16 tmp_ind = sub(tmp_lag, 2);
    tmp_ind = add(add(tmp_ind, tmp_ind), tmp_ind);
    if (tmp_ind >= uplag) return add(sub(T0, tmp_lag), 5);
    Word16 i = add(tmp_lag, 1);
    i = add(add(i, i), i);
    if (i > uplag) return add(sub(uplag, tmp_ind), 3);
    return add(sub(T0, tmp_lag), 11);
}

Word16 amrefr_enc_lag6(Word16 T0, Word16 T0_frac, Word16 T0_min, Word16 delta_flag) {
    if (delta_flag == 0) {
        if (T0 <= 94) return add(sub(static_cast<Word16>(6 * T0), 105), T0_frac);
        return add(T0, 368);
    }
    Word16 i = sub(T0, T0_min);
    return add(add(static_cast<Word16>(6 * i), 3), T0_frac);
}

Word16 amrefr_Pitch_fr(GSMAMR_Pitch_frState* st, Word16 mode, const Word16* T_op, Word16* exc, const Word16* xn,
                       const Word16* h, Word16 i_subfr, Word16* pit_frac, Word16* resu3, Word16* ana_index) {
    const ModeDep& p = kModeDep[mode];
    Word16 delta_search = 1;
    Word16 t0_min, t0_max;
    if (i_subfr == 0 || (i_subfr == 80 && mode != MR475 && mode != MR515)) delta_search = 0;
    if (delta_search == 0)
        getRange(i_subfr == 0 ? T_op[0] : T_op[1], p.delta_int_low, p.delta_int_range, p.pit_min, &t0_min, &t0_max);
    else
        getRange(st->T0_prev_subframe, p.delta_frc_low, p.delta_frc_range, p.pit_min, &t0_min, &t0_max);

    Word16 corr[148];  // indexed by lag, t_max ≤ 147
    Word16 t_min = sub(t0_min, 4), t_max = add(t0_max, 4);
    Norm_Corr(exc, xn, h, t_min, t_max, corr);

    Word16 lag = add(t0_min, amrefr_Vec_max_ge(&corr[t0_min], sub(t0_max, t0_min)));
    Word16 frac = p.first_frac, last_frac = p.last_frac;
    if (delta_search == 0 && lag > p.max_frac_lag) {
        frac = 0;
    } else if (delta_search != 0 && mode <= MR67) {
        Word16 tmp_lag = clamp_tmp_lag(st->T0_prev_subframe, t0_min, t0_max);
        if (lag == tmp_lag || lag == tmp_lag - 1) {
            searchFrac(&lag, &frac, last_frac, corr, p.flag3);
        } else if (lag == tmp_lag - 2) {
            frac = 0;
            searchFrac(&lag, &frac, last_frac, corr, p.flag3);
        } else if (lag == tmp_lag + 1) {
            last_frac = 0;
            searchFrac(&lag, &frac, last_frac, corr, p.flag3);
        } else {
            frac = 0;
        }
    } else {
        searchFrac(&lag, &frac, last_frac, corr, p.flag3);
    }

    if (p.flag3 != 0) {
        Word16 flag4 = mode <= MR67 ? 1 : 0;
        *ana_index = amrefr_Enc_lag3(lag, frac, st->T0_prev_subframe, t0_min, t0_max, delta_search, flag4);
    } else {
        *ana_index = amrefr_enc_lag6(lag, frac, t0_min, delta_search);
    }
    st->T0_prev_subframe = lag;
    *resu3 = p.flag3;
    *pit_frac = frac;
    return lag;
}

Word16 amrefr_G_pitch(Word16 mode, const Word16* xn, const Word16* y1, Word16* g_coeff) {
    Word16 scaled_y1[40];
    bool scaled = false;
    Word32 s = amrefr_Vec_L_sqa_40(y1, 1);
    Word16 exp_yy;
    if (s == MAX_32) {
        amrefr_Vec_shr_8(y1, scaled_y1, 2, 40);
        scaled = true;
        s = amrefr_Vec_L_sqa_40(scaled_y1, 1);
        exp_yy = sub(norm_l(s), 4);
    } else {
        exp_yy = norm_l(s);
    }
    Word16 yy = round16(L_shl(s, exp_yy));

    Word16 ovf;
    s = amrefr_Vec_L_mac_dual_latch_overflow(xn, y1, &ovf);
    Word16 exp_xy;
    if (ovf == 0) {
        exp_xy = norm_l(s);
    } else {
        if (!scaled) amrefr_Vec_shr_8(y1, scaled_y1, 2, 40);
        s = 1;
        for (int i = 0; i < 40; ++i) s = L_mac(s, xn[i], scaled_y1[i]);
        exp_xy = sub(norm_l(s), 2);
    }
    Word16 xy = round16(L_shl(s, exp_xy));
    g_coeff[0] = yy;
    g_coeff[1] = sub(15, exp_yy);
    g_coeff[2] = xy;
    g_coeff[3] = sub(15, exp_xy);
    if (xy < 4) return 0;
    xy = shr(xy, 1);
    Word16 gain = div_s(xy, yy);
    gain = shr(gain, sub(exp_xy, exp_yy));
    if (gain > 19661) gain = 19661;
    if (mode == MR122) gain = static_cast<Word16>(gain & 0xFFFC);
    return gain;
}

void amrefr_cl_ltp(GSMAMR_CLLTP_STATE* clSt, GSMAMR_tonStabState* tonSt, Word16 mode, Word16 frameOffset,
                   const Word16* T_op, const Word16* h1, Word16* exc, Word16* res2, const Word16* xn, Word16 lsp_flag,
                   Word16* xn2, Word16* y1, Word16* T0, Word16* T0_frac, Word16* gain_pit, Word16* g_coeff,
                   Word16** anap, Word16* gp_limit) {
    Word16 h_rev[43] = {};
    amrefr_ReverseCopy_8(h1, h_rev, 40);
    Word16 resu3, index;
    *T0 = amrefr_Pitch_fr(&clSt->pitchSt, mode, T_op, exc, xn, h1, frameOffset, T0_frac, &resu3, &index);
    *(*anap)++ = index;
    amrefr_Pred_lt_3or6(exc, *T0, *T0_frac, resu3);
    amrefr_ConvolveFwdH(exc, h_rev, y1);
    *gain_pit = amrefr_G_pitch(mode, xn, y1, g_coeff);
    Word16 gpc_flag = 0;
    *gp_limit = MAX_16;
    if (lsp_flag != 0 && *gain_pit > 15565) gpc_flag = amrefr_check_gp_clipping(tonSt, *gain_pit);
    if (mode == MR475 || mode == MR515) {
        if (*gain_pit > 13926) *gain_pit = 13926;
        if (gpc_flag != 0) *gp_limit = 15565;
    } else {
        if (gpc_flag != 0) {
            *gp_limit = 15565;
            *gain_pit = 15565;
        }
        if (mode == MR122) *(*anap)++ = amrefr_q_gain_pitch(MR122, *gp_limit, gain_pit, nullptr, nullptr);
    }
    amrefr_Vec_update_target(y1, xn, xn2, *gain_pit);
    amrefr_Vec_update_target(exc, res2, res2, *gain_pit);
}
