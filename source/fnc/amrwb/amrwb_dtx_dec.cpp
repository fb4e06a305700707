// Receive side of AMR-WB discontinuous transmission: the frame-type state
// machine, SID decoding with interpolation and dithering, comfort-noise
// excitation, and the history kept from decoded speech.
#include <cstring>

#include "amrwb_basic_op.h"
#include "amrwb_decoder.h"
#include "amrwb_kernels.h"
#include "amrwb_shared.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

namespace {
constexpr int M = 16, DTX_HIST = 8;

void cn_dithering(Word16* isf, Word32* L_log_en, Word16* dither_seed) {
    Word16 r1 = shr(amr_wb_Random(dither_seed), 1), r2 = shr(amr_wb_Random(dither_seed), 1);
    Word16 dither = add(r1, r2);
    *L_log_en = L_add(*L_log_en, L_mult(dither, 75));
    if (*L_log_en < 0) *L_log_en = 0;
    Word16 fac = 256;
    r1 = shr(amr_wb_Random(dither_seed), 1);
    r2 = shr(amr_wb_Random(dither_seed), 1);
    dither = round16(L_mult(add(r1, r2), fac));
    isf[0] = add(isf[0], dither);
    if (isf[0] < 128) isf[0] = 128;
    for (int i = 1; i < M - 1; ++i) {
        fac = add(fac, 2);
        r1 = shr(amr_wb_Random(dither_seed), 1);
        r2 = shr(amr_wb_Random(dither_seed), 1);
        dither = round16(L_mult(add(r1, r2), fac));
        Word16 t = add(isf[i], dither);
        Word16 lim = add(isf[i - 1], 448);
        isf[i] = t < lim ? lim : t;
    }
    if (isf[M - 2] > 16384) isf[M - 2] = 16384;
}
}  // namespace

void amr_wb_dtx_dec_reset(wb_amr_dtx_decState* st) {
    std::memset(st, 0, sizeof *st);
    st->true_sid_period_inv = 8192;
    st->log_en = st->old_log_en = 3500;
    st->cng_seed = st->dither_seed = 21845;
    std::memcpy(st->isf, amr_wb_isf_init, sizeof st->isf);
    std::memcpy(st->isf_old, amr_wb_isf_init, sizeof st->isf_old);
    for (int i = 0; i < DTX_HIST; ++i) {
        std::memcpy(st->isf_hist + M * i, amr_wb_isf_init, M * sizeof(Word16));
        st->log_en_hist[i] = st->log_en;
    }
    st->dtxHangoverCount = 7;
    st->decAnaElapsedCount = 32767;
}

Word16 amr_wb_rx_dtx_handler(wb_amr_dtx_decState* st, Word16 frame_type) {
    const bool sid = frame_type == RX_SID_FIRST || frame_type == RX_SID_UPDATE || frame_type == RX_SID_BAD;
    const bool in_dtx = st->dtxGlobalState == 1 || st->dtxGlobalState == 2;
    Word16 newState;
    if (sid || (in_dtx && (frame_type == RX_NO_DATA || frame_type == RX_SPEECH_BAD || frame_type == RX_SPEECH_LOST))) {
        newState = 1;
        if (st->dtxGlobalState == 2 && (frame_type == RX_SID_BAD || frame_type == RX_NO_DATA ||
                                        frame_type == RX_SPEECH_LOST || frame_type == RX_SID_FIRST))
            newState = 2;
        st->since_last_sid = add(st->since_last_sid, 1);
        if (frame_type != RX_SID_UPDATE && st->since_last_sid > 50) newState = 2;
    } else {
        newState = 0;
        st->since_last_sid = 0;
    }
    if (st->data_updated == 0 && frame_type == RX_SID_UPDATE) st->decAnaElapsedCount = 0;
    st->decAnaElapsedCount = add(st->decAnaElapsedCount, 1);
    st->dtxHangoverAdded = 0;
    const bool enc_dtx = sid || (frame_type == RX_NO_DATA && (st->dtxGlobalState != 0 || st->dtx_vad_hist > 6));
    if (!enc_dtx) {
        st->dtxHangoverCount = 7;
    } else if (st->decAnaElapsedCount > 30) {
        st->dtxHangoverAdded = 1;
        st->decAnaElapsedCount = 0;
        st->dtxHangoverCount = 0;
    } else if (st->dtxHangoverCount == 0) {
        st->decAnaElapsedCount = 0;
    } else {
        st->dtxHangoverCount = static_cast<Word16>(st->dtxHangoverCount - 1);
    }
    if (newState != 0) {
        st->sid_frame = st->valid_data = 0;
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

void amr_wb_dtx_dec(wb_amr_dtx_decState* st, Word16* exc2, Word16 new_state, Word16* isf, const Word16** prms) {
    if (st->dtxHangoverAdded != 0 && st->sid_frame != 0) {
        // Backwards analysis of the speech history.
        int ptr = st->hist_ptr + 1;
        if (ptr == DTX_HIST) ptr = 0;
        std::memcpy(st->isf_hist + M * ptr, st->isf_hist + M * st->hist_ptr, M * sizeof(Word16));
        st->log_en_hist[ptr] = st->log_en_hist[st->hist_ptr];
        Word32 L = 0;
        for (int i = 0; i < DTX_HIST; ++i) L = L_add(L, L_deposit_l(st->log_en_hist[i]));
        Word16 e = static_cast<Word16>(L >> 1);
        e = add(e, 1024);
        st->log_en = e < 0 ? 0 : e;
        for (int j = 0; j < M; ++j) {
            Word32 s = 0;
            for (int i = 0; i < DTX_HIST; ++i) s = L_add(s, L_deposit_l(st->isf_hist[M * i + j]));
            st->isf[j] = static_cast<Word16>(s >> 3);
        }
    }
    if (st->sid_frame != 0) {
        std::memcpy(st->isf_old, st->isf, sizeof st->isf);
        st->old_log_en = st->log_en;
        if (st->valid_data != 0) {
            Word16 n = st->since_last_sid;
            if (n > 32) n = 32;
            st->true_sid_period_inv = st->since_last_sid <= 1 ? 16384 : amr_wb_div_s(1 << 10, static_cast<Word16>(n << 10));
            const Word16 w[5] = {6, 6, 6, 5, 5};
            Word16 ind[5];
            for (int k = 0; k < 5; ++k) ind[k] = amr_wb_Serial_parm(w[k], prms);
            amr_wb_Disf_ns(ind, st->isf);
            Word16 log_en_index = amr_wb_Serial_parm6(prms);
            st->CN_dith = amr_wb_Serial_parm1(prms);
            st->log_en = extract_l(L_mult(static_cast<Word16>(log_en_index << 9), 12483) >> 16);
            if (st->data_updated == 0 || st->dtxGlobalState == 0) {
                std::memcpy(st->isf_old, st->isf, sizeof st->isf);
                st->old_log_en = st->log_en;
            }
        }
    }
    if (st->sid_frame != 0 && st->valid_data != 0) st->since_last_sid = 0;

    // Interpolation between the previous and the new SID parameters.
    Word16 ptr = static_cast<Word16>(L_mult(static_cast<Word16>(st->since_last_sid << 10), st->true_sid_period_inv) >> 16);
    if (ptr > 1024) ptr = 1024;
    Word16 k = static_cast<Word16>(ptr << 4);
    Word32 L_log_en = L_mult(k, st->log_en);
    L_log_en = L_mac(L_log_en, static_cast<Word16>(16384 - k), st->old_log_en);
    for (int i = 0; i < M; ++i) {
        Word16 t = add(mult(k, st->isf[i]), mult(static_cast<Word16>(16384 - k), st->isf_old[i]));
        isf[i] = shl(t, 1);
    }
    if (st->CN_dith != 0) cn_dithering(isf, &L_log_en, &st->dither_seed);
    amr_wb_cn_excitation(exc2, &st->cng_seed, L_log_en);

    if (new_state == 2) {
        Word16 n = st->since_last_sid > 32 ? 32 : st->since_last_sid;
        if (n < 1) n = 8;
        st->true_sid_period_inv = amr_wb_div_s(1 << 10, static_cast<Word16>(n << 10));
        st->since_last_sid = 0;
        st->old_log_en = st->log_en;
        st->log_en = sub(st->log_en, 64);
    }
    if (st->sid_frame != 0 && (st->valid_data != 0 || st->dtxHangoverAdded != 0)) {
        st->since_last_sid = 0;
        st->data_updated = 1;
    }
}

void amr_wb_dtx_dec_activity_update(wb_amr_dtx_decState* st, const Word16* isf, const Word16* exc) {
    st->hist_ptr = static_cast<Word16>(st->hist_ptr + 1);
    if (st->hist_ptr == DTX_HIST) st->hist_ptr = 0;
    std::memcpy(st->isf_hist + M * st->hist_ptr, isf, M * sizeof(Word16));
    Word32 L = amr_wb_Vec_L_sqa(exc, 256, 0) >> 1;
    Word16 e;
    Word16 f = amr_wb_Log2(L, &e);
    st->log_en_hist[st->hist_ptr] = static_cast<Word16>((e << 7) + (f >> 8) - 1024);
}
