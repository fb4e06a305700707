// Send side of AMR-WB discontinuous transmission: hangover, the history of
// ISFs and energies, the SID encoder and the frame-type scheduler.
#include <cstring>

#include "amrwb_basic_op.h"
#include "amrwb_dtx_enc.h"
#include "amrwb_kernels.h"
#include "amrwb_shared.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

namespace {
constexpr int M = 16, HIST = 8;

// The 28 pairwise distances of the eight vectors, upper triangle by row.
int d_index(int i, int j) {  // i < j
    static constexpr int start[8] = {0, 7, 13, 18, 22, 25, 27, 28};
    return start[i] + (j - i - 1);
}

void find_frame_indices(Word16* isf_old_tx, Word16* indices, wb_amr_dtx_encState* st) {
    // Drop the oldest vector's distances, shift, add the newest's.
    int ptr = st->hist_ptr;
    // Slots in age order: age 0 = newest (hist_ptr), age k = hist_ptr - k.
    // The D and sumD arrays are kept by age.
    for (int k = 0; k < HIST - 1; ++k) st->sumD[k] = L_sub(st->sumD[k], st->D[d_index(k, HIST - 1)]);
    for (int k = HIST - 1; k > 0; --k) st->sumD[k] = st->sumD[k - 1];
    st->sumD[0] = 0;
    Word32 D[28];
    for (int i = 1; i < HIST - 1; ++i)
        for (int j = i + 1; j < HIST; ++j) D[d_index(i, j)] = st->D[d_index(i - 1, j - 1)];
    for (int k = 1; k < HIST; ++k) {
        int slot = ptr - k;
        if (slot < 0) slot += HIST;
        Word32 L = 0;
        for (int i = 0; i < M; ++i) {
            Word16 t = sub(isf_old_tx[M * ptr + i], isf_old_tx[M * slot + i]);
            L = L_mac(L, t, t);
        }
        D[d_index(0, k)] = L;
        st->sumD[0] = L_add(st->sumD[0], L);
        st->sumD[k] = L_add(st->sumD[k], L);
    }
    std::memcpy(st->D, D, sizeof D);

    Word32 summax = st->sumD[0], summin = st->sumD[0];
    int imax = 0, imin = 0;
    for (int k = 1; k < HIST; ++k) {
        if (st->sumD[k] > summax) {
            summax = st->sumD[k];
            imax = k;
        }
        if (st->sumD[k] < summin) {
            summin = st->sumD[k];
            imin = k;
        }
    }
    Word32 summax2 = summin;
    int imax2 = -1;
    for (int k = 0; k < HIST; ++k)
        if (k != imax && st->sumD[k] > summax2) {
            summax2 = st->sumD[k];
            imax2 = k;
        }
    indices[0] = static_cast<Word16>(imax);
    indices[1] = static_cast<Word16>(imax2);
    indices[2] = static_cast<Word16>(imin);
    for (int i = 0; i < 3; ++i) {
        if (indices[i] < 0) continue;
        int s = ptr - indices[i];
        if (s < 0) s += HIST;
        indices[i] = static_cast<Word16>(s);
    }
    // Keep the outliers only when clearly away from the closest vector.
    Word16 tmp = norm_l(summax);
    Word32 smin = L_shl(summin, tmp);
    if (L_mult(round16(L_shl(summax, tmp)), 14564) <= smin) indices[0] = -1;
    if (L_mult(round16(L_shl(summax2, tmp)), 14564) <= smin) indices[1] = -1;
}

Word16 dithering_control(const wb_amr_dtx_encState* st) {
    Word32 sumD = 0;
    for (int i = 0; i < HIST; ++i) sumD = L_add(sumD, st->sumD[i]);
    Word16 mean = 0;
    for (int i = 0; i < HIST; ++i) mean = static_cast<Word16>(mean + st->log_en_hist[i]);
    mean = static_cast<Word16>(mean >> 3);
    Word16 gain_diff = 0;
    for (int i = 0; i < HIST; ++i) {
        Word16 d = static_cast<Word16>(st->log_en_hist[i] - mean);
        gain_diff = static_cast<Word16>(gain_diff + (d < 0 ? -d : d));
    }
    return (gain_diff > 180 || sumD > 67108863) ? 1 : 0;
}

void aver_isf_history(Word16* isf_old, const Word16* indices, Word32* isf_aver) {
    Word16 save[2][M];
    if (indices[0] >= 0) {
        std::memcpy(save[0], isf_old + M * indices[0], sizeof save[0]);
        std::memcpy(isf_old + M * indices[0], isf_old + M * indices[2], sizeof save[0]);
    }
    if (indices[1] >= 0) {
        std::memcpy(save[1], isf_old + M * indices[1], sizeof save[1]);
        std::memcpy(isf_old + M * indices[1], isf_old + M * indices[2], sizeof save[1]);
    }
    for (int j = 0; j < M; ++j) {
        Word32 L = 0;
        for (int i = 0; i < HIST; ++i) L = L_add(L, L_deposit_l(isf_old[M * i + j]));
        isf_aver[j] = L;
    }
    if (indices[0] >= 0) std::memcpy(isf_old + M * indices[0], save[0], sizeof save[0]);
    if (indices[1] >= 0) std::memcpy(isf_old + M * indices[1], save[1], sizeof save[1]);
}
}  // namespace

void amr_wb_dtx_enc_reset(wb_amr_dtx_encState* st) {
    std::memset(st, 0, sizeof *st);
    for (int i = 0; i < HIST; ++i) std::memcpy(st->isf_hist + M * i, amr_wb_isf_init, M * sizeof(Word16));
    st->cng_seed = 21845;
    st->dtxHangoverCount = 7;
    st->decAnaElapsedCount = 32767;
}

void amr_wb_tx_dtx_handler(wb_amr_dtx_encState* st, Word16 vad_flag, Word16* usedMode) {
    st->decAnaElapsedCount = add(st->decAnaElapsedCount, 1);
    if (vad_flag != 0) {
        st->dtxHangoverCount = 7;
        return;
    }
    if (st->dtxHangoverCount == 0) {
        st->decAnaElapsedCount = 0;
        *usedMode = 9;
    } else {
        st->dtxHangoverCount = sub(st->dtxHangoverCount, 1);
        if (add(st->decAnaElapsedCount, st->dtxHangoverCount) < 30) *usedMode = 9;
    }
}

void amr_wb_dtx_buffer(wb_amr_dtx_encState* st, const Word16* isf_new, Word32 enr, Word16 codec_mode) {
    st->hist_ptr = static_cast<Word16>(st->hist_ptr + 1);
    if (st->hist_ptr == HIST) st->hist_ptr = 0;
    std::memcpy(st->isf_hist + M * st->hist_ptr, isf_new, M * sizeof(Word16));
    Word16 e;
    Word16 f = amr_wb_Log2(enr, &e);
    Word16 log_en = add(shl(e, 7), shr(f, 8));
    log_en = sub(log_en, 1024);
    log_en = sub(log_en, amr_wb_en_adjust[codec_mode]);
    st->log_en_hist[st->hist_ptr] = log_en;
}

void amr_wb_dtx_enc(wb_amr_dtx_encState* st, Word16* isf, Word16* exc2, Word16** prms) {
    Word16 indices[3];
    find_frame_indices(st->isf_hist, indices, st);
    Word32 isf_aver[M];
    aver_isf_history(st->isf_hist, indices, isf_aver);
    for (int j = 0; j < M; ++j) isf[j] = extract_l(isf_aver[j] >> 3);

    Word16 log_en = 0;
    for (int i = 0; i < HIST; ++i) log_en = add(log_en, st->log_en_hist[i]);
    log_en = shr(log_en, 2);  // mean over 8, doubled
    Word16 idx = add(log_en, 512);
    idx = mult(idx, 21504);
    idx = shr(idx, 6);
    if (idx > 63) idx = 63;
    if (idx < 0) idx = 0;
    st->log_en_index = idx;

    Word16 q[5];
    amr_wb_Qisf_ns(isf, isf, q);
    const Word16 w[5] = {6, 6, 6, 5, 5};
    for (int k = 0; k < 5; ++k) amr_wb_Parm_serial(q[k], w[k], prms);
    amr_wb_Parm_serial(st->log_en_index, 6, prms);
    amr_wb_Parm_serial(dithering_control(st), 1, prms);

    // Comfort-noise excitation at the quantised level.
    Word16 le = mult(shl(st->log_en_index, 9), 12483);
    amr_wb_cn_excitation(exc2, &st->cng_seed, L_mult(16384, le));
}

void amr_wb_Dtx_update(Word16 mode, Word16* tx_frame_type, wb_amr_TX_State* st) {
    if (mode == 9) {
        st->sid_update_counter = static_cast<Word16>(st->sid_update_counter - 1);
        if (st->prev_ft == 0) {
            *tx_frame_type = 1;
            st->sid_update_counter = 3;
        } else if (st->sid_handover_debt > 0 && st->sid_update_counter > 2) {
            *tx_frame_type = 2;
            st->sid_handover_debt = static_cast<Word16>(st->sid_handover_debt - 1);
        } else if (st->sid_update_counter == 0) {
            *tx_frame_type = 2;
            st->sid_update_counter = 8;
        } else {
            *tx_frame_type = 3;
        }
    } else {
        st->sid_update_counter = 8;
        *tx_frame_type = 0;
    }
    st->prev_ft = *tx_frame_type;
}

void amr_wb_Reset_write_serial(wb_amr_TX_State* st) {
    st->sid_update_counter = 3;
    st->sid_handover_debt = 0;
    st->prev_ft = 0;
}
