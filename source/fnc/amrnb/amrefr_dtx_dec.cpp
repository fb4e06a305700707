// AMR receive-side discontinuous transmission: DTX state handling, comfort
// noise synthesis from SID parameters, history updates and random parameters
// for lost frames.
#include <cstring>

#include "amrefr_basic_op.h"
#include "amrefr_decoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

// (not SPEECH, force DTX_MUTE) by DTX state and received frame type.
constexpr Word16 kDTXLogicLookup[3][8][2] = {
    {{0, 0}, {0, 0}, {0, 0}, {0, 0}, {1, 0}, {1, 0}, {1, 0}, {0, 0}},
    {{0, 0}, {0, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}},
    {{0, 0}, {0, 0}, {1, 1}, {1, 0}, {1, 1}, {1, 0}, {1, 1}, {1, 1}},
};

}  // namespace

void amrefr_dtx_dec_reset(GSMAMR_dtx_decState* st) {
    std::memset(st, 0, sizeof(*st));
    st->true_sid_period_inv = 8192;
    st->log_en = 3500;
    st->old_log_en = 3500;
    st->L_pn_seed_rx = 0x70816958;
    std::memcpy(st->lsp, amrefr_lsp_init_data, sizeof(st->lsp));
    std::memcpy(st->lsp_old, amrefr_lsp_init_data, sizeof(st->lsp_old));
    for (int i = 0; i < 8; ++i) std::memcpy(&st->lsf_hist[10 * i], amrefr_mean_lsf_5, 10 * sizeof(Word16));
    for (Word16& v : st->log_en_hist) v = 3500;
    st->dtxHangoverCount = 7;
    st->decAnaElapsedCount = 32767;
    st->dtxGlobalState = DTX;
}

GSMAMR_DTXStateType amrefr_rx_dtx_handler(GSMAMR_dtx_decState* st, Word16 frame_type) {
    GSMAMR_DTXStateType newState;
    const Word16* pair = kDTXLogicLookup[st->dtxGlobalState][frame_type];
    if (pair[0] != 0) {
        st->since_last_sid = add(st->since_last_sid, 1);
        newState = (pair[1] != 0 || (frame_type != RX_SID_UPDATE && st->since_last_sid > 50)) ? DTX_MUTE : DTX;
    } else {
        newState = SPEECH;
        st->since_last_sid = 0;
    }
    if (st->data_updated == 0 && frame_type == RX_SID_UPDATE) st->decAnaElapsedCount = 0;
    st->decAnaElapsedCount = add(st->decAnaElapsedCount, 1);
    st->dtxHangoverAdded = 0;

    bool encDtx = frame_type == RX_SID_FIRST || frame_type == RX_SID_UPDATE || frame_type == RX_SID_BAD ||
                  frame_type == RX_ONSET || (frame_type == RX_NO_DATA && newState != SPEECH);
    if (!encDtx) {
        st->dtxHangoverCount = 7;
    } else if (st->decAnaElapsedCount > 30) {
        st->dtxHangoverAdded = 1;
        st->decAnaElapsedCount = 0;
        st->dtxHangoverCount = 0;
    } else if (st->dtxHangoverCount == 0) {
        st->decAnaElapsedCount = 0;
    } else {
        st->dtxHangoverCount = sub(st->dtxHangoverCount, 1);
    }

    if (newState != SPEECH) {
        st->sid_frame = 0;
        st->valid_data = 0;
        if (frame_type == RX_SID_FIRST) {
            st->sid_frame = 1;
        } else if (frame_type == RX_SID_UPDATE) {
            st->sid_frame = 1;
            st->valid_data = 1;
        } else if (frame_type == RX_SID_BAD) {
            st->sid_frame = 1;
            st->dtxHangoverAdded = 0;
        }
    }
    return newState;
}

void amrefr_dtx_dec(GSMAMR_dtx_decState* st, Word16* mem_syn, GSMAMR_Decoder_amrState* DecState,
                    GSMAMR_gc_predState* predState, GSMAMR_CB_GAIN_AVERAGE_STATE* averState,
                    GSMAMR_DTXStateType new_state, Word16 mode, const Word16* parm, Word16* synth, Word16* A_t) {
    if (st->dtxHangoverAdded != 0 && st->sid_frame != 0) {
        st->log_en_adjust = amrefr_dtx_log_en_adjust[mode];
        Word16 ptr = add(st->lsf_hist_ptr, 10);
        if (ptr == 80) ptr = 0;
        std::memcpy(&st->lsf_hist[ptr], &st->lsf_hist[st->lsf_hist_ptr], 10 * sizeof(Word16));
        ptr = add(st->log_en_hist_ptr, 1);
        if (ptr == 8) ptr = 0;
        st->log_en_hist[ptr] = st->log_en_hist[st->log_en_hist_ptr];

        Word32 L_lsf[12] = {};
        st->log_en = 0;
        amrefr_Vec_Set_L_lsf(L_lsf, &st->log_en, st->log_en_hist, st->lsf_hist);
        Word16 lsf[10];
        for (int j = 0; j < 10; ++j) lsf[j] = extract_l(L_shr(L_lsf[j], 3));
        amrefr_Lsf_lsp(lsf, st->lsp);
        st->log_en = sub(st->log_en, st->log_en_adjust);
        std::memcpy(st->lsf_hist_mean, st->lsf_hist, sizeof(st->lsf_hist));
        amrefr_Vec_Set_lsf_mean(st->lsf_hist_mean);
    }

    if (st->sid_frame != 0) {
        std::memcpy(st->lsp_old, st->lsp, sizeof(st->lsp));
        st->old_log_en = st->log_en;
        if (st->valid_data != 0) {
            Word16 n = st->since_last_sid;
            st->since_last_sid = 0;
            if (n > 32) n = 32;
            st->true_sid_period_inv = n >= 2 ? div_s(1 << 10, shl(n, 10)) : static_cast<Word16>(1 << 14);
            std::memcpy(DecState->past_r_q, &amrefr_past_rq_init[10 * parm[0]], 10 * sizeof(Word16));
            amrefr_D_plsf_3(DecState->past_lsf_q, DecState->past_r_q, 0, &parm[1], st->lsp, MRDTX);
            std::memset(DecState->past_r_q, 0, sizeof(DecState->past_r_q));
            Word16 log_en_index = parm[4];
            st->log_en = shl(log_en_index, 9);
            st->log_en = sub(st->log_en, 5120);
            if (log_en_index == 0) st->log_en = MIN_16;
            if (st->data_updated == 0 || st->dtxGlobalState == SPEECH) {
                std::memcpy(st->lsp_old, st->lsp, sizeof(st->lsp));
                st->old_log_en = st->log_en;
            }
        }
        Word16 m = sub(shr(st->log_en, 1), 9000);
        if (m > 0) m = 0;
        if (m < -14436) m = -14436;
        Word16 m122 = mult(5443, m);
        for (int i = 0; i < 4; ++i) {
            predState->past_qua_en[i] = m;
            predState->past_qua_en_MR122[i] = m122;
        }
    }

    st->log_en_adjust =
        add(mult(st->log_en_adjust, 29491), shr(mult(shl(amrefr_dtx_log_en_adjust[mode], 5), 3277), 5));

    Word16 int_fac = shl(add(1, st->since_last_sid), 10);
    int_fac = mult(int_fac, st->true_sid_period_inv);
    if (int_fac > 1024) int_fac = 1024;
    int_fac = shl(int_fac, 4);
    Word32 L_log_en_int = L_mult(int_fac, st->log_en);
    Word16 lsp_int[12], lsp12[12] = {};
    for (int i = 0; i < 10; ++i) lsp12[i] = st->lsp[i];
    amrefr_Vec_const_mult(lsp12, lsp_int, int_fac);
    int_fac = sub(16384, int_fac);
    L_log_en_int = L_mac(L_log_en_int, int_fac, st->old_log_en);
    amrefr_Vec_Update_lsp_int(lsp_int, int_fac, st->lsp_old);

    Word16 lsf_variab_factor = sub(st->log_pg_mean, 2457);
    lsf_variab_factor = sub(4096, mult(lsf_variab_factor, 9830));
    if (lsf_variab_factor > 4096) lsf_variab_factor = 4096;
    if (lsf_variab_factor < 0) lsf_variab_factor = 0;
    lsf_variab_factor = shl(lsf_variab_factor, 3);
    Word16 lsf_variab_index = amrefr_pseudonoise(&st->L_pn_seed_rx, 3);

    Word16 lsf_int[10], lsf_int_variab[10];
    amrefr_Lsp_lsf2(lsp_int, lsf_int);
    std::memcpy(lsf_int_variab, lsf_int, sizeof(lsf_int));
    amrefr_Vec_Set_lsf_int_variab(lsf_int_variab, lsf_variab_factor, lsf_variab_index, st->lsf_hist_mean);
    amrefr_Reorder_lsf(lsf_int);
    amrefr_Reorder_lsf(lsf_int_variab);
    std::memcpy(DecState->past_lsf_q, lsf_int, sizeof(lsf_int));
    Word16 lsp_int_variab[10];
    amrefr_Lsf_lsp(lsf_int, lsp_int);
    amrefr_Lsf_lsp(lsf_int_variab, lsp_int_variab);
    Word16 acoeff[11], acoeff_variab[11];
    amrefr_Lsp_Az(lsp_int, acoeff);
    amrefr_Lsp_Az(lsp_int_variab, acoeff_variab);
    for (int k = 0; k < 4; ++k) std::memcpy(&A_t[11 * k], acoeff, sizeof(acoeff));

    Word16 refl[10];
    amrefr_A_Refl(&acoeff[1], refl);
    Word16 pred_err = amrefr_Vec_Calc_Pred_Err(refl);
    Word16 log_pg_e, log_pg_m;
    amrefr_Log2(L_deposit_l(pred_err), &log_pg_e, &log_pg_m);
    Word16 log_pg = shl(sub(log_pg_e, 15), 12);
    log_pg = shr(sub(0, add(log_pg, shr(log_pg_m, 3))), 1);
    st->log_pg_mean = add(mult(29491, st->log_pg_mean), mult(3277, log_pg));

    L_log_en_int = L_shr(L_log_en_int, 10);
    L_log_en_int = L_add(L_log_en_int, 4 * 65536);
    L_log_en_int = L_sub(L_log_en_int, L_shl(L_deposit_l(log_pg), 4));
    L_log_en_int = L_add(L_log_en_int, L_shl(L_deposit_l(st->log_en_adjust), 5));
    Word16 log_en_int_e = extract_h(L_log_en_int);
    Word16 log_en_int_m = extract_l(L_shr(L_sub(L_log_en_int, L_deposit_h(log_en_int_e)), 1));
    Word16 level = extract_l(amrefr_Pow2(log_en_int_e, log_en_int_m));

    for (int i = 0; i < 4; ++i) {
        Word16 ex[40];
        amrefr_build_CN_code(&st->L_pn_seed_rx, ex);
        amrefr_Vec_const_mult2(ex, level, 40);
        Word16* out = synth + 40 * i;
        std::memcpy(out - 10, mem_syn, 10 * sizeof(Word16));
        amrefr_Syn_filt(acoeff_variab, ex, out);
        std::memcpy(mem_syn, out + 30, 10 * sizeof(Word16));
    }
    averState->hangVar = 20;
    averState->hangCount = 0;

    if (new_state == DTX_MUTE) {
        Word16 n = st->since_last_sid;
        if (n > 32) n = 32;
        if (n <= 0) n = 8;
        st->true_sid_period_inv = div_s(1 << 10, shl(n, 10));
        st->since_last_sid = 0;
        std::memcpy(st->lsp_old, st->lsp, sizeof(st->lsp));
        st->old_log_en = st->log_en;
        st->log_en = sub(st->log_en, 256);
    }
    if (st->sid_frame != 0 && (st->valid_data != 0 || st->dtxHangoverAdded != 0)) {
        st->since_last_sid = 0;
        st->data_updated = 1;
    }
}

void amrefr_dtx_dec_activity_update(GSMAMR_dtx_decState* st, const Word16* lsf, const Word16* frame,
                                    Word32 L_frame_en) {
    (void)frame;
    st->lsf_hist_ptr = add(st->lsf_hist_ptr, 10);
    if (st->lsf_hist_ptr == 80) st->lsf_hist_ptr = 0;
    std::memcpy(&st->lsf_hist[st->lsf_hist_ptr], lsf, 10 * sizeof(Word16));
    Word16 e, m;
    amrefr_Log2(L_frame_en, &e, &m);
    Word16 log_en = shl(e, 10);
    log_en = add(log_en, shr(m, 5));
    log_en = sub(log_en, 8521);
    st->log_en_hist_ptr = add(st->log_en_hist_ptr, 1);
    if (st->log_en_hist_ptr == 8) st->log_en_hist_ptr = 0;
    st->log_en_hist[st->log_en_hist_ptr] = log_en;
}

void amrefr_build_CN_param(Word16* seed, Word16 n_param, const Word16* param_size_table, Word16* parm) {
    *seed = extract_l(L_add(L_shr(L_mult(*seed, 31821), 1), 13849));
    const Word16* p = &amrefr_window_200_40[*seed & 0x7F];
    for (int i = 0; i < n_param; ++i) {
        int width = param_size_table[i] + 1;
        parm[i] = static_cast<Word16>(p[i] & ((1 << width) - 1));
    }
}
