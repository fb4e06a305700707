// Voice activity detector option 1 (frame part: filter bank calls, decision,
// complex-signal detector, hangover, pitch and tone flags) and the AMR DTX
// encoder (VAD-to-mode handler, LSP/energy history, SID parameters).
#include <cstring>

#include "amrefr_basic_op.h"
#include "amrefr_encoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

constexpr Word32 POW_PITCH_THR = 343040;
constexpr Word32 POW_COMPLEX_THR = 15000;
constexpr Word32 VAD_POW_LOW = 15000;
constexpr Word16 CVAD_MIN_CORR = 13106;
constexpr Word16 CVAD_THRESH_IN_NOISE = 21298;

void filter_bank(GSMAMR_vadState1* st, const Word16* in, Word16* level) {
    Word16 tmp_buf[162];
    amrefr_first_filter_stage(in, tmp_buf, st->a_data5[0]);
    amrefr_filter5_loop(tmp_buf, st->a_data5[1]);
    amrefr_filter3_loop1(tmp_buf, st->a_data3);
    amrefr_filter3_loop2(tmp_buf, &st->a_data3[2]);
    level[8] = amrefr_level_calculation8(tmp_buf, &st->sub_level[8]);
    static constexpr Word16 kOff4[4] = {7, 3, 2, 6};  // bands 7, 6, 5, 4
    for (int b = 0; b < 4; ++b) level[7 - b] = amrefr_level_calculation4(tmp_buf, &st->sub_level[7 - b], kOff4[b]);
    static constexpr Word16 kOff2[4] = {4, 12, 8, 0};  // bands 3, 2, 1, 0
    for (int b = 0; b < 4; ++b) level[3 - b] = amrefr_level_calculation2(tmp_buf, &st->sub_level[3 - b], kOff2[b]);
}

void update_cntrl(GSMAMR_vadState1* st, const Word16* level) {
    if (st->complex_warning != 0 && st->stat_count < 5) st->stat_count = 5;
    if ((st->pitch & 0x6000) == 0x6000 || (st->tone & 0x7C00) == 0x7C00 || (st->vadreg & 0x7F80) == 0) {
        st->stat_count = 20;
    } else {
        Word16 stat_rat;
        amrefr_update_cntrl_else(level, st->ave_level, &stat_rat);
        if (stat_rat > 1000)
            st->stat_count = 20;
        else if ((st->vadreg & 0x4000) != 0 && st->stat_count != 0)
            st->stat_count = sub(st->stat_count, 1);
    }
    Word16 alpha = 3276;
    if (st->stat_count == 20)
        alpha = 32767;
    else if ((st->vadreg & 0x4000) == 0)
        alpha = 16383;
    amrefr_update_cntrl_loop(st->ave_level, level, alpha);
}

void noise_estimate_update(GSMAMR_vadState1* st, const Word16* level) {
    update_cntrl(st, level);
    Word16 alphas[2];
    Word16 bckr_add = 2;
    if ((st->vadreg & 0x7800) == 0 && (st->pitch & 0x7800) == 0 && st->complex_hang_count == 0) {
        alphas[0] = 1638;
        alphas[1] = 2097;
    } else if (st->stat_count == 0 && st->complex_hang_count == 0) {
        alphas[0] = 491;
        alphas[1] = 1867;
    } else {
        alphas[0] = 0;
        alphas[1] = 1638;
        bckr_add = 0;
    }
    amrefr_noise_est_loop(st->old_level, st->bckr_est, alphas, bckr_add);
    for (int i = 0; i < 9; ++i) st->old_level[i] = level[i];
}

void complex_estimate_adapt(GSMAMR_vadState1* st, Word16 low_power) {
    Word16 alpha;
    if (st->corr_hp_fast <= 19659)
        alpha = 2621;
    else if (st->best_corr_hp < st->corr_hp_fast)
        alpha = 6553;
    else
        alpha = 655;
    Word32 L_tmp = L_deposit_h(st->corr_hp_fast);
    L_tmp = L_msu(L_tmp, alpha, st->corr_hp_fast);
    L_tmp = L_mac(L_tmp, alpha, st->best_corr_hp);
    st->corr_hp_fast = round16(L_tmp);
    if (st->corr_hp_fast < CVAD_MIN_CORR) st->corr_hp_fast = CVAD_MIN_CORR;
    if (low_power != 0) st->corr_hp_fast = CVAD_MIN_CORR;
}

Word16 complex_vad(GSMAMR_vadState1* st, Word16 low_power) {
    st->complex_high = shr(st->complex_high, 1);
    st->complex_low = shr(st->complex_low, 1);
    if (low_power == 0) {
        if (st->corr_hp_fast > 19660) {
            st->complex_high |= 0x4000;
            st->complex_low |= 0x4000;
        } else if (st->corr_hp_fast >= 16384) {
            st->complex_low |= 0x4000;
        }
    }
    if (st->corr_hp_fast >= 22937)
        st->complex_hang_timer = add(st->complex_hang_timer, 1);
    else
        st->complex_hang_timer = 0;
    return ((st->complex_high & 0x7F80) == 0x7F80 || (st->complex_low & 0x7FFF) == 0x7FFF) ? 1 : 0;
}

Word16 hangover_addition(GSMAMR_vadState1* st, Word16 noise_level, Word16 low_power) {
    Word16 burst_len = 5, hang_len = 4;
    if (noise_level > 100) {
        burst_len = 4;
        hang_len = 7;
    }
    if (low_power != 0) {
        st->burst_count = st->hang_count = st->complex_hang_count = st->complex_hang_timer = 0;
        return 0;
    }
    if (st->complex_hang_timer > 100 && st->complex_hang_count < 250) st->complex_hang_count = 250;
    if (st->complex_hang_count != 0) {
        st->burst_count = 4;
        st->complex_hang_count = sub(st->complex_hang_count, 1);
        return 1;
    }
    if ((st->vadreg & 0x3FF0) == 0 && st->corr_hp_fast > CVAD_THRESH_IN_NOISE) return 1;
    if ((st->vadreg & 0x4000) != 0) {
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

Word16 vad_decision(GSMAMR_vadState1* st, const Word16* level, Word32 pow_sum) {
    Word16 snr_sum, noise_level;
    Word16 vad_thr = amrefr_Gen_vad_thr(st->bckr_est, level, &snr_sum, &noise_level);
    st->vadreg = shr(st->vadreg, 1);
    if (snr_sum > vad_thr) st->vadreg |= 0x4000;
    Word16 low_power = pow_sum < VAD_POW_LOW ? 1 : 0;
    complex_estimate_adapt(st, low_power);
    st->complex_warning = complex_vad(st, low_power);
    noise_estimate_update(st, level);
    st->speech_vad_decision = hangover_addition(st, noise_level, low_power);
    return st->speech_vad_decision;
}

}  // namespace

void amrefr_vad1_reset(GSMAMR_vadState1* state) {
    for (int i = 0; i < 9; ++i) state->bckr_est[i] = state->ave_level[i] = state->old_level[i] = 150;
    state->best_corr_hp = CVAD_MIN_CORR;
    state->corr_hp_fast = CVAD_MIN_CORR;
}

// The power is taken over the 160 samples from 40 before the frame (the
// look-ahead alignment); the caller's buffer holds them.
Word16 amrefr_vad1(GSMAMR_vadState1* st, const Word16* in_buf) {
    Word32 pow_sum = amrefr_Vec_L_sqa(in_buf - 40, 160, 0);
    if (pow_sum < POW_PITCH_THR) st->pitch &= 0x3FFF;
    if (pow_sum < POW_COMPLEX_THR) st->complex_low &= 0x3FFF;
    Word16 level[12] = {};
    filter_bank(st, in_buf, level);
    return vad_decision(st, level, pow_sum);
}

void amrefr_vad_pitch_detection(GSMAMR_vadState1* st, const Word16* T_op) {
    Word16 lagcount = 0;
    for (int i = 0; i < 2; ++i) {
        if (abs_s(sub(st->oldlag, T_op[i])) < 4) lagcount = add(lagcount, 1);
        st->oldlag = T_op[i];
    }
    st->pitch = shr(st->pitch, 1);
    if (add(st->oldlag_count, lagcount) >= 4) st->pitch |= 0x4000;
    st->oldlag_count = lagcount;
}

void amrefr_vad_tone_detection(Word16* tone, Word32 t0, Word32 t1) {
    Word16 temp = round16(t1);
    if (temp > 0 && L_msu(t0, temp, 21298) > 0) *tone |= 0x4000;
}

void amrefr_vad_tone_detection_update(Word16* tone, Word16 one_lag_per_frame) {
    *tone = shr(*tone, 1);
    if (one_lag_per_frame != 0) {
        *tone = shr(*tone, 1);
        *tone |= 0x2000;
    }
}

// ---------------------------------------------------------------------------
// AMR DTX encoder.

void amrefr_dtx_enc_reset(GSMAMR_dtx_encState* st) {
    std::memset(st, 0, sizeof(*st));
    for (int i = 0; i < 8; ++i) std::memcpy(&st->lsp_hist[10 * i], amrefr_lsp_init_data, 10 * sizeof(Word16));
    st->dtxHangoverCount = 7;
    st->decAnaElapsedCount = 32767;
}

Word16 amrefr_tx_dtx_handler(GSMAMR_dtx_encState* st, Word16 vad_flag, Word16* usedMode, Word16 force_speech) {
    st->decAnaElapsedCount = add(st->decAnaElapsedCount, 1);
    if (vad_flag != 0) {
        st->dtxHangoverCount = 7;
        return 0;
    }
    if (st->dtxHangoverCount == 0 && force_speech == 0) {
        st->decAnaElapsedCount = 0;
        *usedMode = MRDTX;
        return 1;
    }
    if (st->dtxHangoverCount != 0) st->dtxHangoverCount = sub(st->dtxHangoverCount, 1);
    if (add(st->decAnaElapsedCount, st->dtxHangoverCount) < 30) *usedMode = MRDTX;
    return 0;
}

void amrefr_dtx_buffer(GSMAMR_dtx_encState* st, const Word16* lsp_new, const Word16* speech) {
    st->hist_ptr = st->hist_ptr == 7 ? 0 : add(st->hist_ptr, 1);
    std::memcpy(&st->lsp_hist[10 * st->hist_ptr], lsp_new, 10 * sizeof(Word16));
    Word32 L_frame_en = amrefr_Vec_L_sqa(speech, 160, 0);
    Word16 log_en_e, log_en_m;
    amrefr_Log2(L_frame_en, &log_en_e, &log_en_m);
    Word16 log_en = add(shl(log_en_e, 10), shr(log_en_m, 5));
    log_en = sub(log_en, 8521);
    st->log_en_hist[st->hist_ptr] = shr(log_en, 1);
}

void amrefr_dtx_enc(GSMAMR_dtx_encState* st, Word16 computeSidFlag, GSMAMR_Q_plsfState* qSt,
                    GSMAMR_gc_predState* predState, Word16** anap) {
    if (computeSidFlag != 0) {
        Word16 log_en = 0;
        Word32 L_lsp[10] = {};
        for (int i = 0; i < 8; ++i) {
            log_en = add(log_en, shr(st->log_en_hist[i], 2));
            for (int j = 0; j < 10; ++j) L_lsp[j] = L_add(L_lsp[j], st->lsp_hist[10 * i + j]);
        }
        log_en = shr(log_en, 1);
        Word16 lsp[10], lsf[10], lsp_q[10];
        for (int j = 0; j < 10; ++j) lsp[j] = extract_l(L_shr(L_lsp[j], 3));
        Word16 idx = shr(add(add(log_en, 2560), 128), 8);
        if (idx > 63) idx = 63;
        if (idx < 0) idx = 0;
        st->log_en_index = idx;
        log_en = sub(sub(shl(idx, 8), 2560), 9000);
        if (log_en > 0) log_en = 0;
        if (log_en < -14436) log_en = -14436;
        for (int i = 0; i < 4; ++i) predState->past_qua_en[i] = log_en;
        log_en = mult(5443, log_en);
        for (int i = 0; i < 4; ++i) predState->past_qua_en_MR122[i] = log_en;
        amrefr_Lsp_lsf2(lsp, lsf);
        amrefr_Reorder_lsf(lsf);
        amrefr_Lsf_lsp(lsf, lsp);
        amrefr_Q_plsf_3(qSt, MRDTX, lsp, lsp_q, st->lsp_index, &st->init_lsf_vq_index);
    }
    *(*anap)++ = st->init_lsf_vq_index;
    *(*anap)++ = st->lsp_index[0];
    *(*anap)++ = st->lsp_index[1];
    *(*anap)++ = st->lsp_index[2];
    *(*anap)++ = st->log_en_index;
}
