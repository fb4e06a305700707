// GSM EFR DTX: the transmit and receive handlers and the comfort-noise
// parameter routines shared by the EFR quantisers and dequantisers.
#include "amrefr_efr_dtx.h"

#include <cstring>

#include "amrefr_basic_op.h"
#include "amrefr_kernels.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

constexpr Word16 kHangover = 7;
constexpr Word16 kElapsedThreshold = 30;

// Frame classification by (SID flag + 4·BFI): 1 valid SID, 2 invalid SID,
// 3 good speech, 4 unusable frame.
constexpr Word16 kFrameTypeLookup[8] = {3, 2, 1, 2, 4, 2, 2, 2};
// New control word by frame type after a speech frame, and after a non-speech
// frame (index 2·type + muting bit of the previous word).
constexpr Word16 kUpdatePrevSp[5] = {0, 4, 36, 1, 1};
constexpr Word16 kUpdatePrevNotSp[10] = {0, 0, 8, 8, 40, 40, 1025, 1281, 512, 512};

void fill_mean_lsf(Word16 rows[7][10]) {
    for (int r = 0; r < 7; ++r) std::memcpy(rows[r], amrefr_mean_lsf_5, sizeof(rows[r]));
}

Word16 interpolate(Word16 old_v, Word16 new_v, Word16 state) {
    Word16 f_new = amrefr_interp_factor[state];
    Word16 f_old = static_cast<Word16>(32768 - f_new);
    return round16(L_mac(L_mult(new_v, f_new), old_v, f_old));
}

}  // namespace

void amrefr_reset_tx_dtx(GSMAMR_EFRdtx_encState* st) {
    std::memset(st, 0, sizeof(*st));
    st->txdtx_hangover = kHangover;
    st->txdtx_N_elapsed = 32767;
    st->txdtx_ctrl = EFR_TX_SP_FLAG | EFR_TX_VAD_FLAG;
    fill_mean_lsf(st->lsf_old_tx);
    st->L_pn_seed_tx = EFR_PN_INITIAL_SEED;
}

void amrefr_tx_dtx(Word16 VAD_flag, GSMAMR_EFRdtx_encState* st) {
    st->txdtx_N_elapsed = add(st->txdtx_N_elapsed, 1);
    const bool prev_hangover = (st->txdtx_ctrl & EFR_TX_HANGOVER_ACTIVE) != 0;
    if (VAD_flag != 0) {
        st->txdtx_hangover = kHangover;
        st->txdtx_ctrl = EFR_TX_SP_FLAG | EFR_TX_VAD_FLAG;
    } else if (st->txdtx_hangover == 0) {
        st->txdtx_N_elapsed = 0;
        if (prev_hangover) {
            st->txdtx_ctrl = EFR_TX_PREV_HANGOVER_ACTIVE | EFR_TX_SID_UPDATE;
            st->L_pn_seed_tx = EFR_PN_INITIAL_SEED;
        } else {
            st->txdtx_ctrl = EFR_TX_SID_UPDATE;
        }
    } else {
        st->txdtx_hangover = sub(st->txdtx_hangover, 1);
        if (add(st->txdtx_N_elapsed, st->txdtx_hangover) < kElapsedThreshold)
            st->txdtx_ctrl = EFR_TX_USE_OLD_SID;
        else if (prev_hangover)
            st->txdtx_ctrl = EFR_TX_PREV_HANGOVER_ACTIVE | EFR_TX_HANGOVER_ACTIVE | EFR_TX_SP_FLAG;
        else
            st->txdtx_ctrl = EFR_TX_HANGOVER_ACTIVE | EFR_TX_SP_FLAG;
    }
}

// Square root of the residual energy over sqrt(40): a second-order series
// around the normalised energy.
Word16 amrefr_compute_CN_excitation_gain(const Word16* res2) {
    Word32 E = amrefr_Vec_L_sqa_40(res2, 1);
    Word16 n = norm_l(E);
    Word16 t = extract_h(L_shl(E, n));
    Word32 L = L_sub(805306368, L_shr(L_mult(t, t), 3));
    L = L_add(L, L_mult(t, 24576));
    Word16 y = extract_h(L);
    if (n & 1) {
        y = mult_r(y, 23170);
        n = sub(n, 1);
    }
    return shr(mult_r(y, 10362), shr(n, 1));
}

void amrefr_CN_encoding(Word16* params, Word16 txdtx_ctrl, Word16* old_CN_mem_tx) {
    static constexpr int kGain[4] = {17, 30, 43, 56};
    if (txdtx_ctrl & EFR_TX_SID_UPDATE) {
        for (int i = 0; i < 5; ++i) old_CN_mem_tx[i] = params[i];
        old_CN_mem_tx[5] = params[56];
    }
    if (txdtx_ctrl & EFR_TX_USE_OLD_SID) {
        for (int i = 0; i < 5; ++i) params[i] = old_CN_mem_tx[i];
        for (int g : kGain) params[g] = old_CN_mem_tx[5];
    }
    for (int sf = 0; sf < 4; ++sf)
        for (int i = 5 + 13 * sf; i < 17 + 13 * sf; ++i) params[i] = 0;
}

void amrefr_sid_codeword_encoding(Word16* ser2) {
    for (Word16 idx : amrefr_SID_codeword_bit_idx) ser2[idx] = 1;
}

void amrefr_aver_lsf_history(const Word16 lsf_old[7][10], const Word16* lsf1, const Word16* lsf2, Word16* lsf_aver) {
    for (int i = 0; i < 10; ++i) {
        Word32 L = L_mac(L_mult(16383, lsf1[i]), 16383, lsf2[i]);
        L = L_mult(extract_h(L), 4095);
        for (int r = 0; r < 7; ++r) L = L_mac(L, lsf_old[r][i], 4095);
        lsf_aver[i] = extract_h(L);
    }
}

Word16 amrefr_aver_gain_code_history(Word16 CN_excitation_gain, const Word16* gain_code_old) {
    Word32 L = L_mult(1136, CN_excitation_gain);
    for (int i = 0; i < 28; ++i) L = L_mac(L, 1136, gain_code_old[i]);
    return extract_h(L);
}

void amrefr_update_lsf_history(const Word16* lsf1, const Word16* lsf2, Word16 lsf_old[7][10]) {
    for (int r = 6; r > 0; --r) std::memcpy(lsf_old[r], lsf_old[r - 1], sizeof(lsf_old[r]));
    for (int i = 0; i < 10; ++i) lsf_old[0][i] = add(shr(lsf1[i], 1), shr(lsf2[i], 1));
}

void amrefr_update_lsf_p_CN(const Word16 lsf_old[7][10], Word16* lsf_p_CN) {
    for (int i = 0; i < 10; ++i) {
        Word32 L = L_mult(4681, lsf_old[0][i]);
        for (int r = 1; r < 7; ++r) L = L_mac(L, 4681, lsf_old[r][i]);
        lsf_p_CN[i] = round16(L);
    }
}

Word16 amrefr_update_gain_code_history(Word16 new_gain_code, Word16* gain_code_old, Word16 buf_p) {
    gain_code_old[buf_p] = new_gain_code;
    return buf_p == 27 ? 0 : add(buf_p, 1);
}

Word16 amrefr_update_gcode0_CN(const Word16* gain_code_old) {
    Word32 L_ret = 0;
    for (int k = 0; k < 7; ++k) {
        Word32 L = 0;
        for (int j = 0; j < 4; ++j) L = L_mac(L, 8191, gain_code_old[4 * k + j]);
        L_ret = L_mac(L_ret, 4681, extract_h(L));
    }
    return extract_h(L_ret);
}

void amrefr_reset_rx_dtx(GSMAMR_EFRdtx_decState* st) {
    std::memset(st, 0, sizeof(*st));
    st->rxdtx_aver_period = kHangover;
    st->rxdtx_N_elapsed = 32767;
    st->rxdtx_ctrl = EFR_RX_SP_FLAG;
    st->rx_dtx_state = 23;
    st->L_pn_seed_rx = EFR_PN_INITIAL_SEED;
    fill_mean_lsf(st->lsf_old_rx);
    std::memcpy(st->lsf_p_CN, amrefr_mean_lsf_5, sizeof(st->lsf_p_CN));
    std::memcpy(st->lsf_old_CN, amrefr_mean_lsf_5, sizeof(st->lsf_old_CN));
    std::memcpy(st->lsf_new_CN, amrefr_mean_lsf_5, sizeof(st->lsf_new_CN));
    for (Word16& v : st->pbuf) v = 410;
    for (Word16& v : st->gbuf) v = 1;
    st->prev_gp = 4096;
    st->prev_gc = 1;
}

void amrefr_rx_dtx(Word16 TAF, Word16 bfi, Word16 SID_flag, GSMAMR_EFRdtx_decState* st) {
    Word16 frame_type = kFrameTypeLookup[(SID_flag + 4 * bfi) & 7];
    Word16 ctrl;
    if (st->rxdtx_ctrl & EFR_RX_SP_FLAG)
        ctrl = kUpdatePrevSp[frame_type];
    else
        ctrl = kUpdatePrevNotSp[2 * frame_type + ((st->rxdtx_ctrl & EFR_RX_DTX_MUTING) ? 1 : 0)];

    if (ctrl & EFR_RX_SP_FLAG) {
        st->prev_SID_frames_lost = 0;
        st->rx_dtx_state = 23;
    } else if (ctrl & EFR_RX_FIRST_SID_UPDATE) {
        st->prev_SID_frames_lost = 0;
        st->rx_dtx_state = 23;
    } else if (ctrl & EFR_RX_CONT_SID_UPDATE) {
        st->prev_SID_frames_lost = 0;
        if (frame_type == 1)
            st->rx_dtx_state = 0;
        else if (st->rx_dtx_state < 23)
            st->rx_dtx_state = add(st->rx_dtx_state, 1);
    } else if (ctrl & EFR_RX_CNI_BFI) {
        if (st->rx_dtx_state < 23) st->rx_dtx_state = add(st->rx_dtx_state, 1);
        if (TAF != 0) {
            ctrl |= EFR_RX_LOST_SID_FRAME;
            st->prev_SID_frames_lost = add(st->prev_SID_frames_lost, 1);
        } else {
            ctrl |= EFR_RX_NO_TRANSMISSION;
        }
        if (st->prev_SID_frames_lost > 1) ctrl |= EFR_RX_DTX_MUTING;
    }
    st->rxdtx_ctrl = ctrl;

    st->rxdtx_N_elapsed = add(st->rxdtx_N_elapsed, 1);
    if (ctrl & EFR_RX_SP_FLAG) {
        st->rxdtx_aver_period = kHangover;
    } else if (st->rxdtx_N_elapsed > kElapsedThreshold) {
        st->rxdtx_ctrl |= EFR_RX_UPD_SID_QUANT_MEM;
        st->rxdtx_N_elapsed = 0;
        st->rxdtx_aver_period = 0;
        st->L_pn_seed_rx = EFR_PN_INITIAL_SEED;
    } else if (st->rxdtx_aver_period == 0) {
        st->rxdtx_N_elapsed = 0;
    } else {
        st->rxdtx_aver_period = sub(st->rxdtx_aver_period, 1);
    }
}

void amrefr_interpolate_CN_vec_1(const Word16* vec_old_CN, const Word16* vec_new_CN, Word16* vec_interp_CN,
                                 Word16 rx_dtx_state) {
    vec_interp_CN[0] = interpolate(vec_old_CN[0], vec_new_CN[0], rx_dtx_state);
}

void amrefr_interpolate_CN_vec_M(const Word16* vec_old_CN, const Word16* vec_new_CN, Word16* vec_interp_CN,
                                 Word16 rx_dtx_state) {
    for (int i = 0; i < 10; ++i) vec_interp_CN[i] = interpolate(vec_old_CN[i], vec_new_CN[i], rx_dtx_state);
}
