// Voice activity detector of the AMR-WB encoder: 12-band filter bank, band
// levels against background-noise estimates, adaptive threshold, hangover.
#include "amrwb_basic_op.h"
#include "amrwb_encoder.h"
#include "amrwb_kernels.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

namespace {
constexpr int BANDS = 12;

void filter_bank(wb_amr_VadVars* st, const Word16* in, Word16* level) {
    Word16 buf[256];
    amr_wb_Vec_shr1(in, buf, 256);
    amr_wb_filter_bank_stage1_2(buf, st->a_data5, 128);
    amr_wb_filter_bank_stage1_4(buf, st->a_data5 + 2, 64);
    amr_wb_filter_bank_stage1_4(buf + 1, st->a_data5 + 4, 64);
    amr_wb_filter_bank_stage1_8(buf, st->a_data5 + 6, 32);
    amr_wb_filter_bank_stage1_8(buf + 2, st->a_data5 + 8, 32);
    amr_wb_filter_bank_stage2(buf + 3, buf + 7, st->a_data3, 32, 8);
    amr_wb_filter_bank_stage2(buf, buf + 8, st->a_data3 + 1, 16, 16);
    amr_wb_filter_bank_stage2(buf + 4, buf + 12, st->a_data3 + 2, 16, 16);
    amr_wb_filter_bank_stage2(buf + 6, buf + 14, st->a_data3 + 3, 16, 16);
    amr_wb_filter_bank_stage2(buf, buf + 16, st->a_data3 + 4, 8, 32);
    amr_wb_filter_bank_stage2(buf + 8, buf + 24, st->a_data3 + 5, 8, 32);
    for (int r = 0; r < BANDS; ++r) {
        const amr_wb_FbankParam& p = amr_wb_FbankParamTable[r];
        int band = 11 - r;
        level[band] = amr_wb_level_calculation(buf, &st->sub_level[band], p.count1, p.count2, p.ind_m, p.ind_a, p.scale);
    }
}

Word16 ilog2(Word16 mant) {
    if (mant <= 0) mant = 1;
    Word16 ex = norm_s(mant);
    mant = shl(mant, ex);
    for (int i = 0; i < 3; ++i) mant = mult(mant, mant);
    Word32 L = L_mult(mant, mant);
    Word16 ex2 = norm_l(L);
    mant = extract_h(L_shl(L, ex2));
    Word16 res = shl(add(ex, 16), 10);
    res = add(res, shl(ex2, 6));
    res = sub(add(res, 127), shr(mant, 8));
    return res;
}

Word32 calc_snr_sum(const wb_amr_VadVars* st, const Word16* level) {
    Word32 snr_sum = 0;
    for (int i = 0; i < BANDS; ++i) {
        Word16 exp = norm_s(st->bckr_est[i]);
        Word16 t = amr_wb_div_s(shr(level[i], 1), shl(st->bckr_est[i], exp));
        t = shl(t, sub(exp, 6));
        snr_sum = L_mac(snr_sum, t, t);
    }
    return snr_sum;
}

void update_cntrl(wb_amr_VadVars* st, const Word16* level) {
    if ((st->tone_flag & 0x7C00) == 0x7C00 || (st->vadreg & 0x7F80) == 0) {
        st->stat_count = 20;
    } else {
        Word16 stat_rat = 0;
        for (int i = 0; i < BANDS; ++i) {
            Word16 num, denom;
            if (level[i] > st->ave_level[i]) {
                num = level[i];
                denom = st->ave_level[i];
            } else {
                num = st->ave_level[i];
                denom = level[i];
            }
            if (num < 184) num = 184;
            if (denom < 184) denom = 184;
            Word16 exp = norm_s(denom);
            denom = shl(denom, exp);
            Word16 t = amr_wb_div_s(shr(num, 1), denom);
            stat_rat = add(stat_rat, shr(t, sub(8, exp)));
        }
        if (stat_rat > 1000) {
            st->stat_count = 20;
        } else if ((st->vadreg & 0x4000) != 0 && st->stat_count != 0) {
            st->stat_count = sub(st->stat_count, 1);
        }
    }
    Word16 alpha = st->stat_count == 20 ? 32767 : ((st->vadreg & 0x4000) ? 3276 : 16383);
    amr_wb_update_cntrl_loop(st->ave_level, level, alpha);
}

void noise_estimate_update(wb_amr_VadVars* st, const Word16* level) {
    update_cntrl(st, level);
    Word16 alpha_down, alpha_up, bckr_add;
    if ((st->vadreg & 0x7800) == 0) {
        alpha_down = 2097;
        alpha_up = 1638;
        bckr_add = 2;
    } else if (st->stat_count == 0) {
        alpha_down = 1867;
        alpha_up = 491;
        bckr_add = 2;
    } else {
        alpha_down = 1638;
        alpha_up = 0;
        bckr_add = 0;
    }
    for (int i = 0; i < BANDS; ++i) {
        Word16 d = sub(st->old_level[i], st->bckr_est[i]);
        if (d < 0) {
            Word16 t = round16(L_mult(alpha_down, d));
            Word16 b = sub(add(st->bckr_est[i], t), 2);
            st->bckr_est[i] = b < 40 ? 40 : b;
        } else {
            Word16 t = round16(L_mult(alpha_up, d));
            Word16 b = add(add(st->bckr_est[i], t), bckr_add);
            st->bckr_est[i] = b > 20000 ? 20000 : b;
        }
        st->old_level[i] = level[i];
    }
}

Word16 hangover_addition(wb_amr_VadVars* st, Word16 low_power, Word16 hang_len, Word16 burst_len) {
    if (low_power != 0) {
        st->burst_count = 0;
        st->hang_count = 0;
        return 0;
    }
    if (st->vadreg & 0x4000) {
        st->burst_count = add(st->burst_count, 1);
        if (st->burst_count >= burst_len) st->hang_count = hang_len;
        return 1;
    }
    st->burst_count = 0;
    if (st->hang_count > 0) {
        st->hang_count = sub(st->hang_count, 1);
        return 1;
    }
    return 0;
}

Word16 vad_decision(wb_amr_VadVars* st, const Word16* level, Word32 pow_sum) {
    Word32 snr_sum = calc_snr_sum(st, level);
    Word32 L = 0;
    for (int i = 1; i < BANDS; ++i) L = L_add(L, st->bckr_est[i]);
    Word16 noise_level = extract_h(L_shl(L, 12));
    Word16 temp = shl(shr(noise_level, 3), 3);
    if (st->speech_level < temp) st->speech_level = temp;
    Word16 ilog2_noise = ilog2(noise_level);
    Word16 vad_thr = add(mult(sub(ilog2_noise, 31744), 1509), 768);
    Word16 ilog2_speech = ilog2(sub(st->speech_level, temp));
    Word16 t = sub(mult(sub(ilog2_speech, 22527), -1339), 96);
    if (t > 96) t = 96;
    if (t < -96) t = -96;
    vad_thr = add(vad_thr, t);
    if (vad_thr < 204) vad_thr = 204;
    st->vadreg = shr(st->vadreg, 1);
    if (snr_sum > L_mult(vad_thr, 6144)) st->vadreg |= 0x4000;
    noise_estimate_update(st, level);
    Word16 hang_len = add(mult(sub(vad_thr, 217), -1110), 12);
    if (hang_len < 2) hang_len = 2;
    Word16 burst_len = add(mult(sub(vad_thr, 768), 297), 8);
    return hangover_addition(st, pow_sum < 30000 ? 1 : 0, hang_len, burst_len);
}

void estimate_speech(wb_amr_VadVars* st, Word16 in_level) {
    if (sub(st->sp_est_cnt, st->sp_max_cnt) > 55) {
        st->sp_est_cnt = st->sp_max = st->sp_max_cnt = 0;
    }
    st->sp_est_cnt = add(st->sp_est_cnt, 1);
    if (((st->vadreg & 0x4000) || in_level > st->speech_level) && in_level > 129) {
        if (in_level > st->sp_max) st->sp_max = in_level;
        st->sp_max_cnt = add(st->sp_max_cnt, 1);
        if (st->sp_max_cnt >= 25) {
            Word16 half = shr(st->sp_max, 1);
            if (half > 410) st->speech_level = add(st->speech_level, mult_r(sub(half, st->speech_level), 4915));
            st->sp_est_cnt = st->sp_max = st->sp_max_cnt = 0;
        }
    }
}
}  // namespace

Word16 amr_wb_vad(wb_amr_VadVars* st, const Word16* in_buf) {
    Word32 L_temp = amr_wb_Vec_L_sqa(in_buf, 256, 0);
    Word32 pow_sum = L_add(L_temp, st->prev_pow_sum);
    st->prev_pow_sum = L_temp;
    if (pow_sum < 686080) st->tone_flag &= 0x1FFF;
    Word16 level[BANDS];
    filter_bank(st, in_buf, level);
    Word16 flag = vad_decision(st, level, pow_sum);
    Word32 L = 0;
    for (int i = 1; i < BANDS; ++i) L = L_add(L, level[i]);
    estimate_speech(st, extract_h(L_shl(L, 12)));
    return flag;
}

void amr_wb_vad_tone_detection(wb_amr_VadVars* st, Word16 gain) {
    st->tone_flag = shr(st->tone_flag, 1);
    if (gain >= 21299) st->tone_flag |= 0x4000;
}
