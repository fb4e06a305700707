// AMR-NB encoder frame: pre-processing, LP analysis, weighted speech and
// open-loop pitch, the subframe loop, bit packing, frame types and homing.
#include <cstring>

#include "amrefr_basic_op.h"
#include "amrefr_encoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

// Frame scratch shared by every encoder instance (one frame at a time).
Word16 g_speech[320];  // 160 samples of history, then the new frame
Word16 g_wsp[143 + 160];
Word16 g_exc[154 + 160];
Word16 g_A_t[44];
Word16 g_Aq_t[44];
Word16 g_lsp_new[10];

void pre_big(Word16 mode, const Word16* A_t, int frameOffset, const Word16* speech, Word16* wsp) {
    const Word16* g1 = (mode == MR122 || mode == MR102) ? amrefr_gamma1_12k2 : amrefr_gamma1;
    const Word16* A = A_t + (frameOffset ? 22 : 0);
    for (int i = frameOffset; i < frameOffset + 80; i += 40, A += 11) {
        Word16 Ap1[13], Ap2[13];
        amrefr_Weight_Ai(A, g1, Ap1);
        amrefr_Weight_Ai(A, amrefr_gamma2, Ap2);
        amrefr_Residu(Ap1, &speech[i], &wsp[i]);
        amrefr_Syn_filt(Ap2, &wsp[i], &wsp[i]);
    }
}

// Impulse response, residual, error signal and target of one subframe.
void subframePreProc(Word16 mode, const Word16* A, const Word16* Aq, const Word16* speech, const Word16* mem_err,
                     const Word16* mem_w0, Word16* exc, Word16* h1, Word16* xn, Word16* res2,
                     Word16* CN_excitation_gain = nullptr) {
    const Word16* g1 = (mode == MR122 || mode == MR102) ? amrefr_gamma1_12k2 : amrefr_gamma1;
    Word16 Ap1[13], Ap2[13];
    amrefr_Weight_Ai(A, g1, Ap1);
    amrefr_Weight_Ai(A, amrefr_gamma2, Ap2);
    Word16 hb[50] = {};
    for (int i = 0; i <= 10; ++i) hb[10 + i] = Ap1[i];
    amrefr_Syn_filt(Aq, hb + 10, hb + 10);
    std::memset(hb, 0, 10 * sizeof(Word16));
    amrefr_Syn_filt(Ap2, hb + 10, hb + 10);
    std::memcpy(h1, hb + 10, 40 * sizeof(Word16));

    amrefr_Residu(Aq, speech, res2);
    if (CN_excitation_gain) {
        // Comfort noise: only the level of the residual is needed.
        *CN_excitation_gain = amrefr_compute_CN_excitation_gain(res2);
        std::memset(xn, 0, 40 * sizeof(Word16));
        return;
    }
    std::memcpy(exc, res2, 40 * sizeof(Word16));
    Word16 err[50];
    std::memcpy(err, mem_err, 10 * sizeof(Word16));
    amrefr_Syn_filt(Aq, exc, err + 10);
    Word16 xb[50];
    std::memcpy(xb, mem_w0, 10 * sizeof(Word16));
    amrefr_Residu(Ap1, err + 10, xb + 10);
    amrefr_Syn_filt(Ap2, xb + 10, xb + 10);
    std::memcpy(xn, xb + 10, 40 * sizeof(Word16));
}

void subframePostProc(const Word16* speech, Word16 mode, int i_subfr, Word16 gain_pit, Word16 gain_code,
                      const Word16* Aq, const Word16* xn, const Word16* code, const Word16* y1, const Word16* y2,
                      Word16* mem_syn, Word16* mem_err, Word16* mem_w0, Word16* exc, Word16* sharp) {
    *sharp = gain_pit > 13017 ? 13017 : gain_pit;
    if (mode == MR122)
        amrefr_TotalExc(&exc[i_subfr], code, shr(gain_pit, 1), gain_code, 2);
    else
        amrefr_TotalExc(&exc[i_subfr], code, gain_pit, gain_code, 1);
    Word16 syn[50];
    std::memcpy(syn, mem_syn, 10 * sizeof(Word16));
    amrefr_Syn_filt(Aq, &exc[i_subfr], syn + 10);
    std::memcpy(mem_syn, syn + 40, 10 * sizeof(Word16));
    amrefr_sfPostProc_Mem(mem_err, syn + 40, mem_w0, &speech[i_subfr + 30], &y1[30], &y2[30], &xn[30], gain_pit,
                          gain_code, mode == MR122 ? 4 : 2);
}

}  // namespace

void amrefr_cod_amr_reset(GSMAMR_cod_amrState* st) {
    std::memset(st, 0, sizeof(*st));
    for (Word16& v : st->old_lags) v = 40;
    st->lpcSt.levinsonSt.old_A[0] = 4096;
    std::memcpy(st->lspSt.lsp_old, amrefr_lsp_init_data, sizeof(st->lspSt.lsp_old));
    std::memcpy(st->lspSt.lsp_old_q, amrefr_lsp_init_data, sizeof(st->lspSt.lsp_old_q));
    amrefr_gc_pred_reset(&st->gainQuantSt.gc_predSt);
    amrefr_gc_pred_reset(&st->gainQuantSt.gc_predUnqSt);
    st->pitchOLWghtSt.old_T0_med = 40;
    amrefr_vad1_reset(&st->vadSt);
    amrefr_dtx_enc_reset(&st->dtx_encSt);
}

void amrefr_cod_amr(GSMAMR_cod_amrState* st, Word16 mode, const Word16* new_speech, Word16* ana, Word16* usedMode,
                    Word16 do_EFR) {
    GSMAMR_EFRdtx_encState* efr = do_EFR ? st->EFRdtx_encSt : nullptr;
    *usedMode = mode;
    std::memcpy(g_speech, st->old_speech, sizeof(st->old_speech));
    std::memcpy(g_speech + 160, new_speech, 160 * sizeof(Word16));
    Word16* p_window = g_speech + 80;
    Word16* p_window_12k2 = g_speech + 40;
    Word16* speech = g_speech + 120;

    Word16 compute_sid_flag = 0;
    if (st->dtx) {
        Word16 vad_flag = amrefr_vad1(&st->vadSt, g_speech + 160);
        if (efr)
            amrefr_tx_dtx(vad_flag, efr);
        else
            compute_sid_flag = amrefr_tx_dtx_handler(&st->dtx_encSt, vad_flag, usedMode, 0);
    } else if (efr) {
        efr->txdtx_ctrl = EFR_TX_SP_FLAG | EFR_TX_VAD_FLAG;
    }
    // EFR comfort-noise frame: LSFs and gain for a SID, random code, no pitch.
    const Word16 cn = (efr && (efr->txdtx_ctrl & EFR_TX_SP_FLAG) == 0) ? 1 : 0;
    amrefr_lpc(&st->lpcSt, mode, p_window, p_window_12k2, g_A_t);
    Word16* anap = ana;
    amrefr_lsp_efr(&st->lspSt, mode, *usedMode, g_A_t, g_Aq_t, g_lsp_new, &anap, efr, do_EFR);
    if (!efr) amrefr_dtx_buffer(&st->dtx_encSt, g_lsp_new, g_speech + 160);
    Word16 lsp_flag = 0;
    if (*usedMode == MRDTX) {
        amrefr_dtx_enc(&st->dtx_encSt, compute_sid_flag, &st->lspSt.qSt, &st->gainQuantSt.gc_predSt, &anap);
        std::memset(st->old_exc, 0, sizeof(st->old_exc));
        std::memset(st->mem_w0, 0, sizeof(st->mem_w0));
        std::memset(st->mem_err, 0, sizeof(st->mem_err));
        std::memset(st->lspSt.qSt.past_rq, 0, sizeof(st->lspSt.qSt.past_rq));
        std::memcpy(st->lspSt.lsp_old, g_lsp_new, sizeof(st->lspSt.lsp_old));
        std::memcpy(st->lspSt.lsp_old_q, g_lsp_new, sizeof(st->lspSt.lsp_old_q));
        st->clLtpSt.pitchSt.T0_prev_subframe = 0;
        st->sharp = 0;
    } else {
        lsp_flag = amrefr_check_lsp(&st->tonStabSt.count, g_lsp_new);
    }

    std::memcpy(g_wsp, st->old_wsp, sizeof(st->old_wsp));
    Word16* wsp = g_wsp + 143;
    pre_big(mode, g_A_t, 0, speech, wsp);
    pre_big(mode, g_A_t, 80, speech, wsp);
    Word16 T_op[2];
    if (mode == MR475 || mode == MR515) {
        amrefr_ol_ltp(&st->pitchOLWghtSt, &st->vadSt, mode, wsp, &T_op[0], st->old_lags, st->ol_gain_flg, 1,
                      st->dtx);
        T_op[1] = T_op[0];
    } else {
        amrefr_ol_ltp(&st->pitchOLWghtSt, &st->vadSt, mode, wsp, &T_op[0], st->old_lags, st->ol_gain_flg, 0,
                      st->dtx);
        amrefr_ol_ltp(&st->pitchOLWghtSt, &st->vadSt, mode, wsp + 80, &T_op[1], st->old_lags, st->ol_gain_flg, 1,
                      st->dtx);
    }
    if (st->dtx) amrefr_vad_pitch_detection(&st->vadSt, T_op);
    std::memcpy(st->old_wsp, g_wsp + 160, sizeof(st->old_wsp));
    if (*usedMode == MRDTX) {
        std::memcpy(st->old_speech, g_speech + 160, sizeof(st->old_speech));
        return;
    }

    std::memcpy(g_exc, st->old_exc, sizeof(st->old_exc));
    Word16* exc = g_exc + 154;
    const Word16* A = g_A_t;
    const Word16* Aq = g_Aq_t;
    Word16 gain_pit_sf0 = 0, gain_code_sf0 = 0;
    // 4.75 kbit/s: the first subframe of a pair is post-processed into saved
    // memories with its unquantised gains, and again with the pair's quantised
    // gains after the second subframe.
    Word16 mem_syn_save[10], mem_w0_save[10], mem_err_save[10], sharp_save = 0;
    Word16 h1_sf0_rev[43] = {}, xn_sf0[40], y2_sf0[40], code_sf0[40], T0_sf0 = 0, T0_frac_sf0 = 0;
    int i_subfr_sf0 = 0;
    for (int i_subfr = 0, subfrNr = 0; i_subfr < 160; i_subfr += 40, ++subfrNr, A += 11, Aq += 11) {
        Word16 evenSubfr = (subfrNr & 1) == 0 ? 1 : 0;
        const bool mr475 = mode == MR475;
        if (mr475 && evenSubfr) {
            std::memcpy(mem_syn_save, st->mem_syn, sizeof(mem_syn_save));
            std::memcpy(mem_w0_save, st->mem_w0, sizeof(mem_w0_save));
            std::memcpy(mem_err_save, st->mem_err, sizeof(mem_err_save));
            sharp_save = st->sharp;
        }
        Word16 h1[40], xn[40], res[40], res2[40], xn2[40], y1[40], y2[40], code[40], gCoeff[4];
        subframePreProc(mode, A, Aq, &speech[i_subfr], st->mem_err, mr475 ? mem_w0_save : st->mem_w0,
                        &exc[i_subfr], h1, xn, res, cn ? &efr->CN_excitation_gain : nullptr);
        if (mr475 && evenSubfr) amrefr_ReverseCopy_8(h1, h1_sf0_rev, 40);
        std::memcpy(res2, res, sizeof(res));
        Word16 T0 = 0, T0_frac = 0, gain_pit = 0, gain_code = 0, gp_limit = 32767;
        if (cn) {
            amrefr_build_CN_code(&efr->L_pn_seed_tx, code);
            std::memset(xn2, 0, sizeof(xn2));
            std::memset(y1, 0, sizeof(y1));
            std::memset(y2, 0, sizeof(y2));
            std::memset(gCoeff, 0, sizeof(gCoeff));
            anap += 12;
        } else {
            amrefr_cl_ltp(&st->clLtpSt, &st->tonStabSt, mode, static_cast<Word16>(i_subfr), T_op, h1,
                          &exc[i_subfr], res2, xn, lsp_flag, xn2, y1, &T0, &T0_frac, &gain_pit, gCoeff, &anap,
                          &gp_limit);
            if (subfrNr == 0 && st->ol_gain_flg[0] > 0) st->old_lags[1] = T0;
            if (subfrNr == 3 && st->ol_gain_flg[1] > 0) st->old_lags[0] = T0;
            amrefr_cbsearch(xn2, h1, T0, st->sharp, gain_pit, res2, code, y2, &anap, mode,
                            static_cast<Word16>(subfrNr));
        }
        amrefr_gainQuant_efr(&st->gainQuantSt, mode, res, &exc[i_subfr], code, xn, xn2, y1, y2, gCoeff, evenSubfr,
                             gp_limit, &gain_pit_sf0, &gain_code_sf0, &gain_pit, &gain_code, &anap,
                             static_cast<Word16>(i_subfr), efr, do_EFR, cn);
        amrefr_update_gp_clipping(&st->tonStabSt, gain_pit);
        if (!mr475) {
            subframePostProc(speech, mode, i_subfr, gain_pit, gain_code, Aq, xn, code, y1, y2, st->mem_syn,
                             st->mem_err, st->mem_w0, exc, &st->sharp);
            if (cn) {
                std::memset(st->mem_err, 0, sizeof(st->mem_err));
                std::memset(st->mem_w0, 0, sizeof(st->mem_w0));
            }
        } else if (evenSubfr) {
            i_subfr_sf0 = i_subfr;
            std::memcpy(xn_sf0, xn, sizeof(xn));
            std::memcpy(y2_sf0, y2, sizeof(y2));
            std::memcpy(code_sf0, code, sizeof(code));
            T0_sf0 = T0;
            T0_frac_sf0 = T0_frac;
            subframePostProc(speech, mode, i_subfr, gain_pit, gain_code, Aq, xn, code, y1, y2, mem_syn_save,
                             st->mem_err, mem_w0_save, exc, &st->sharp);
            st->sharp = sharp_save;
        } else {
            std::memcpy(st->mem_err, mem_err_save, sizeof(mem_err_save));
            amrefr_Pred_lt_3or6(&exc[i_subfr_sf0], T0_sf0, T0_frac_sf0, 1);
            amrefr_ConvolveFwdH(&exc[i_subfr_sf0], h1_sf0_rev, y1);
            subframePostProc(speech, mode, i_subfr_sf0, gain_pit_sf0, gain_code_sf0, Aq - 11, xn_sf0, code_sf0, y1,
                             y2_sf0, st->mem_syn, st->mem_err, st->mem_w0, exc, &sharp_save);
            subframePreProc(mode, A, Aq, &speech[i_subfr], st->mem_err, st->mem_w0, &exc[i_subfr], h1, xn, res);
            Word16 h1_rev[43] = {};
            amrefr_ReverseCopy_8(h1, h1_rev, 40);
            amrefr_Pred_lt_3or6(&exc[i_subfr], T0, T0_frac, 1);
            amrefr_ConvolveFwdH(&exc[i_subfr], h1_rev, y1);
            subframePostProc(speech, mode, i_subfr, gain_pit, gain_code, Aq, xn, code, y1, y2, st->mem_syn,
                             st->mem_err, st->mem_w0, exc, &st->sharp);
        }
    }
    std::memcpy(st->old_exc, g_exc + 160, sizeof(st->old_exc));
    std::memcpy(st->old_speech, g_speech + 160, sizeof(st->old_speech));
}

// ---------------------------------------------------------------------------
// Frame function and entry points.

Word16 amrefr_encoder_homing_frame_test(const Word16* input_frame) {
    for (int i = 0; i < 160; ++i)
        if (input_frame[i] != 0x0008) return 0;
    return 1;
}

void amrefr_sid_sync(GSMAMR_sid_syncState* st, Word16 mode, GSMAMR_TXFrameType* tx_frame_type, Word16 NSYNC_flag) {
    if (mode != MRDTX) {
        st->sid_update_counter = st->sid_update_rate;
        *tx_frame_type = TX_SPEECH_GOOD;
    } else {
        st->sid_update_counter = sub(st->sid_update_counter, 1);
        if (st->prev_ft == TX_SPEECH_GOOD) {
            *tx_frame_type = TX_SID_FIRST;
            st->sid_update_counter = 3;
        } else if (st->sid_update_counter > 2 && st->sid_handover_debt > 0) {
            *tx_frame_type = TX_SID_UPDATE;
            st->sid_handover_debt = sub(st->sid_handover_debt, 1);
        } else if (st->sid_update_counter == 0) {
            *tx_frame_type = TX_SID_UPDATE;
            st->sid_update_counter = st->sid_update_rate;
        } else if (NSYNC_flag == 0) {
            *tx_frame_type = TX_NO_DATA;
        } else {
            *tx_frame_type = TX_SID_UPDATE;
            st->sid_update_counter = st->sid_update_rate;
        }
    }
    st->prev_ft = *tx_frame_type;
}

void amrefr_Speech_Encode_Frame_resetAMR(GSMAMR_Speech_Encode_FrameState* state, Word16 dtx) {
    std::memset(&state->pre_state, 0, sizeof(state->pre_state));
    amrefr_cod_amr_reset(&state->cod_amr_state);
    state->cod_amr_state.dtx = dtx;
    state->dtx = dtx;
    state->sid_state.sid_update_rate = 8;
    state->sid_state.sid_update_counter = 3;
    state->sid_state.sid_handover_debt = 0;
    state->sid_state.prev_ft = TX_SPEECH_GOOD;
    state->in_reset_state = 1;
}

void amrefr_Speech_Encode_Frame_resetEFR(GSMAMR_Speech_Encode_FrameState* state, Word16 dtx,
                                         GSMAMR_EFRdtx_encState* EFRdtx_encSt) {
    amrefr_Speech_Encode_Frame_resetAMR(state, dtx);
    amrefr_reset_tx_dtx(EFRdtx_encSt);
    state->cod_amr_state.EFRdtx_encSt = EFRdtx_encSt;
}

namespace {

// EFR: comfort-noise parameters and SID code word, the homing frame answer
// and the VAD and SP flags behind the bits.
void write_efr_serial(GSMAMR_Speech_Encode_FrameState* st, Word16* prm, Word16* serial, Word16 homing) {
    GSMAMR_EFRdtx_encState* efr = st->cod_amr_state.EFRdtx_encSt;
    const Word16 ctrl = efr->txdtx_ctrl;
    const bool sp = (ctrl & EFR_TX_SP_FLAG) != 0;
    if (!sp) amrefr_CN_encoding(prm, ctrl, efr->old_CN_mem_tx);
    amrefr_Prm2bits(MR122, prm, serial);
    if (!sp) amrefr_sid_codeword_encoding(serial);
    if (homing && st->in_reset_state)
        amrefr_Prm2bits(MR122, amrefr_homing_tab, serial);
    else if (!homing)
        st->in_reset_state = 0;
    serial[EFR_SERIAL_VAD_WORD] = (ctrl & EFR_TX_VAD_FLAG) ? 1 : 0;
    serial[EFR_SERIAL_SP_WORD] = sp ? 1 : 0;
}

}  // namespace

void amrefr_Speech_Encode_Frame(GSMAMR_Speech_Encode_FrameState* st, Word16 mode, const Word16* in_speech,
                                Word16* serial, Word16* prm_out, Word16 do_EFR) {
    if (do_EFR && !st->cod_amr_state.EFRdtx_encSt) {
        // Reset for AMR: no EFR DTX state to code with.
        for (int i = 0; i < AMR_SERIAL_FRAMESIZE; ++i) serial[i] = 0;
        return;
    }
    if (do_EFR) mode = MR122;
    Word16 area[32];
    amrefr_FrameSave_NEON(area);
    Word16 homing = amrefr_encoder_homing_frame_test(in_speech);
    Word16 masked[160], filtered[160];
    amrefr_Set_mask(in_speech, static_cast<Word16>(0xFFF8), masked);
    amrefr_Pre_Process(&st->pre_state, masked, filtered, 0);
    Word16 prm[AMR_MAX_PRM_SIZE] = {};
    Word16 usedMode;
    amrefr_cod_amr(&st->cod_amr_state, mode, filtered, prm, &usedMode, do_EFR);
    st->usedMode = static_cast<std::uint16_t>(usedMode);
    for (int i = 0; i < AMR_SERIAL_FRAMESIZE; ++i) serial[i] = 0;
    if (do_EFR) {
        write_efr_serial(st, prm, serial, homing);
        if (prm_out) std::memcpy(prm_out, prm, sizeof(prm));
        if (homing)
            amrefr_Speech_Encode_Frame_resetEFR(st, static_cast<Word16>(st->dtx), st->cod_amr_state.EFRdtx_encSt);
        amrefr_FrameRestore_NEON(area);
        return;
    }
    amrefr_Prm2bits(usedMode, prm, serial);
    if (prm_out) std::memcpy(prm_out, prm, sizeof(prm));
    GSMAMR_TXFrameType tx_type;
    amrefr_sid_sync(&st->sid_state, usedMode, &tx_type, 0);
    st->tx_type = tx_type;
    serial[AMR_SERIAL_MODE_WORD] = tx_type == TX_NO_DATA ? static_cast<Word16>(-1) : mode;
    if (homing) {
        GSMAMR_TXFrameType keep_tx = st->tx_type;
        std::uint16_t keep_used = st->usedMode;
        amrefr_Speech_Encode_Frame_resetAMR(st, static_cast<Word16>(st->dtx));
        st->tx_type = keep_tx;
        st->usedMode = keep_used;
    }
    amrefr_FrameRestore_NEON(area);
}

int gsmamr_Speech_Encode_Frame_init(GSMAMR_Speech_Encode_FrameState* st, GSMAMR_AmrFlag dtx) {
    std::memset(st, 0, sizeof(*st));
    amrefr_Speech_Encode_Frame_resetAMR(st, static_cast<Word16>(dtx));
    return 0;
}

// A mode outside 4.75 ... 12.2 kbit/s is refused (serial cleared, state
// untouched) rather than indexing the mode tables out of bounds.
int gsmamr_Speech_Encode_Frame(GSMAMR_Speech_Encode_FrameState* st, GSMAMR_MODE mode, const Word16* new_speech,
                               Word16* serial, GSMAMR_MODE* usedMode, std::uint16_t* frameType) {
    if (static_cast<unsigned>(mode) > MR122) {
        for (int i = 0; i < AMR_SERIAL_FRAMESIZE; ++i) serial[i] = 0;
        return -1;
    }
    amrefr_Speech_Encode_Frame(st, mode, new_speech, serial, nullptr);
    *usedMode = static_cast<GSMAMR_MODE>(st->usedMode);
    *frameType = st->tx_type;
    return 0;
}

// The wrapper's SID sequencing calls: the sequencing runs inside the encoder
// frame, so these leave their arguments untouched.
int gsmamr_sid_sync_init(GSMAMR_sid_syncState* state) {
    (void)state;
    return 0;
}

void gsmamr_sid_sync_exit(GSMAMR_sid_syncState* state) { (void)state; }

void gsmamr_sid_sync(GSMAMR_sid_syncState* st, GSMAMR_MODE mode, GSMAMR_TXFrameType* tx_frame_type) {
    (void)st;
    (void)mode;
    (void)tx_frame_type;
}
