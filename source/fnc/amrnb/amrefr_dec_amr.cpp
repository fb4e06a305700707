// AMR-NB core decoder and frame driver: parameters to speech, post-filter,
// output high-pass, decoder homing.
#include <cstring>

#include "amrefr_basic_op.h"
#include "amrefr_decoder.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

// Frame scratch shared by every decoder instance (one frame at a time).
Word16 g_old_exc[154 + 160];
Word16 g_lsp_new[10];
Word16 g_lsp_mid[10];
Word16 g_prev_lsf[10];
Word16 g_lsf_i[12];
Word16 g_code[40];
Word16 g_excp[40];
Word16 g_exc_enhanced[40];
Word16 g_PulsePositions[10];

constexpr Word16 SHARPMAX = 13017;

bool low_modes(Word16 mode) { return mode == MR475 || mode == MR515 || mode == MR59; }

// Gains of a lost subframe, estimated from the pitch and code gain histories.
void conceal_gains(GSMAMR_Decoder_amrState* st, Word16* gain_pit, Word16* gain_code) {
    amrefr_ec_gain_pitch(&st->ec_gain_p_st, st->state, gain_pit);
    amrefr_ec_gain_code(&st->ec_gain_c_st, &st->pred_state, st->state, gain_code);
}

// Updates the pitch and code gain histories that conceal lost subframes.
void update_gain_history(GSMAMR_Decoder_amrState* st, Word16 bfi, Word16* gain_pit, Word16* gain_code) {
    amrefr_ec_gain_pitch_update(&st->ec_gain_p_st, bfi, st->prev_bf, gain_pit);
    amrefr_ec_gain_code_update(&st->ec_gain_c_st, bfi, st->prev_bf, gain_code);
}

}  // namespace

// The reset that runs at every comfort-noise frame (mode MRDTX) keeps the
// synthesis memory, the LSP history and average, the excitation energy history
// and the gain predictor, so that comfort noise continues smoothly from frame to
// frame; it restarts the excitation history and the concealment memories.
void amrefr_Decoder_amr_reset(GSMAMR_Decoder_amrState* st, Word16 mode) {
    std::memset(st->old_exc, 0, sizeof(st->old_exc));
    if (mode != MRDTX) {
        std::memset(st->mem_syn, 0, sizeof(st->mem_syn));
        std::memcpy(st->lsp_old, amrefr_lsp_init_data, sizeof(st->lsp_old));
        std::memset(st->excEnergyHist, 0, sizeof(st->excEnergyHist));
        std::memcpy(st->lsp_meanSave, amrefr_mean_lsf_5, sizeof(st->lsp_meanSave));
        amrefr_gc_pred_reset(&st->pred_state);
    }
    st->sharp = 0;
    st->old_T0 = 40;
    st->prev_bf = 0;
    st->prev_pdf = 0;
    st->state = 0;
    st->T0_lagBuff = 40;
    st->inBackgroundNoise = 0;
    st->voicedHangover = 0;
    std::memset(st->ltpGainHistory, 0, sizeof(st->ltpGainHistory));
    std::memset(&st->Cb_gain_averState, 0, sizeof(st->Cb_gain_averState));
    std::memset(st->past_r_q, 0, sizeof(st->past_r_q));
    std::memcpy(st->past_lsf_q, amrefr_mean_lsf_5, sizeof(st->past_lsf_q));
    for (Word16& v : st->ec_gain_p_st.pbuf) v = 1640;
    st->ec_gain_p_st.past_gain_pit = 0;
    st->ec_gain_p_st.prev_gp = 16384;
    for (Word16& v : st->ec_gain_c_st.gbuf) v = 1;
    st->ec_gain_c_st.past_gain_code = 0;
    st->ec_gain_c_st.prev_gc = 1;
    std::memset(&st->background_state, 0, sizeof(st->background_state));
    st->nodataSeed = 21845;
    std::memset(&st->ph_disp_st, 0, sizeof(st->ph_disp_st));
}

void amrefr_Decoder_amr(GSMAMR_Decoder_amrState* st, Word16 mode, Word16* parm, Word16 frame_type, Word16* synth,
                        Word16* A_t, Word16 BFI_EFR, Word16 TAF_EFR, Word16 SID_flag_EFR, Word16 do_EFR) {
    Word16 area[32];
    amrefr_FrameSave_NEON(area);
    Word16 bfi = 0, pdfi = 0;
    GSMAMR_EFRdtx_decState* efr = do_EFR ? st->EFRdtx_decSt : nullptr;

    GSMAMR_DTXStateType newDTXState = SPEECH;
    if (efr) {
        amrefr_rx_dtx(TAF_EFR, BFI_EFR, SID_flag_EFR, efr);
        bfi = BFI_EFR;
    } else {
        newDTXState = amrefr_rx_dtx_handler(st->dtx_decSt, frame_type);
    }
    if (efr) {
        // classified by the receive DTX handler above
    } else if (newDTXState != SPEECH) {
        amrefr_Decoder_amr_reset(st, MRDTX);
        amrefr_dtx_dec(st->dtx_decSt, st->mem_syn, st, &st->pred_state, &st->Cb_gain_averState, newDTXState, mode,
                       parm, synth, A_t);
        amrefr_Lsf_lsp(st->past_lsf_q, st->lsp_old);
        amrefr_lsp_avg(st->lsp_meanSave, st->past_lsf_q);
        st->dtx_decSt->dtxGlobalState = newDTXState;
        amrefr_FrameRestore_NEON(area);
        return;
    }
    if (frame_type == RX_SPEECH_BAD || frame_type == RX_ONSET || frame_type == RX_NO_DATA) {
        bfi = 1;
        if (frame_type != RX_SPEECH_BAD)
            amrefr_build_CN_param(&st->nodataSeed, amrefr_prmno[mode], amrefr_bitno[mode], parm);
    } else if (frame_type == RX_SPEECH_DEGRADED) {
        pdfi = 1;
    }

    if (bfi != 0)
        st->state = add(st->state, 1);
    else if (st->state == 6)
        st->state = 5;
    else
        st->state = 0;
    if (st->state > 6) st->state = 6;
    if (efr) {
        if (efr->rxdtx_ctrl & EFR_RX_FIRST_SP_FLAG) {
            st->state = 5;
            st->prev_bf = 0;
        } else if (efr->rxdtx_ctrl & EFR_RX_PREV_DTX_MUTING) {
            st->state = 5;
            st->prev_bf = 1;
        }
    } else if (st->dtx_decSt->dtxGlobalState == DTX) {
        st->state = 5;
        st->prev_bf = 0;
    } else if (st->dtx_decSt->dtxGlobalState == DTX_MUTE) {
        st->state = 5;
        st->prev_bf = 1;
    }
    // An EFR comfort-noise frame has no pitch, a random code and the
    // comfort-noise LP filter, unchanged over the frame.
    const bool cn = efr && (efr->rxdtx_ctrl & EFR_RX_SP_FLAG) == 0;

    std::memcpy(g_prev_lsf, st->past_lsf_q, sizeof(g_prev_lsf));
    if (mode != MR122) {
        amrefr_D_plsf_3(st->past_lsf_q, st->past_r_q, bfi, parm, g_lsp_new, mode);
        parm += 3;
        amrefr_Int_lpc_1to3(st->lsp_old, g_lsp_new, A_t);
    } else {
        amrefr_D_plsf_5_efr(st->past_lsf_q, st->past_r_q, bfi, parm, g_lsp_mid, g_lsp_new, efr, do_EFR);
        parm += 5;
        if (cn) {
            amrefr_Lsp_Az(g_lsp_new, A_t);
            for (int k = 1; k < 4; ++k) std::memcpy(A_t + 11 * k, A_t, 11 * sizeof(Word16));
        } else {
            amrefr_Int_lpc_1and3(st->lsp_old, g_lsp_mid, g_lsp_new, A_t);
        }
    }
    std::memcpy(st->lsp_old, g_lsp_new, sizeof(st->lsp_old));
    std::memcpy(g_old_exc, st->old_exc, sizeof(st->old_exc));
    st->exc = g_old_exc + 154;

    const Word16* A = A_t;
    Word16 T0 = 0, T0_frac = 0, index = 0, index_mr475 = 0;
    Word16 gain_pit = 0, gain_code = 0;
    for (int i_subfr = 0, subfrNr = 0; i_subfr < 160; i_subfr += 40, ++subfrNr) {
        Word16 evenSubfr = (subfrNr & 1) == 0 ? 1 : 0;
        Word16 pit_flag = static_cast<Word16>(i_subfr);
        if (i_subfr == 80 && mode != MR475 && mode != MR515) pit_flag = 0;
        index = *parm++;

        // Pitch lag and adaptive excitation.
        if (cn) {
            T0 = 40;
            T0_frac = 0;
        } else if (mode == MR122) {
            amrefr_Dec_lag6(index, 18, 143, pit_flag, &T0, &T0_frac);
            if (!(bfi == 0 && (pit_flag == 0 || index < 61))) {
                st->T0_lagBuff = T0;
                T0 = st->old_T0;
                T0_frac = 0;
            }
            amrefr_Pred_lt_3or6(st->exc, T0, T0_frac, 0);
        } else {
            Word16 low = mode == MR795 ? 10 : 5, range = mode == MR795 ? 19 : 9;
            Word16 t0_min = sub(st->old_T0, low);
            if (t0_min < 20) t0_min = 20;
            Word16 t0_max = add(t0_min, range);
            if (t0_max > 143) {
                t0_max = 143;
                t0_min = sub(t0_max, range);
            }
            Word16 flag4 = mode <= MR67 ? 1 : 0;
            amrefr_Dec_lag3(index, t0_min, t0_max, pit_flag, st->old_T0, &T0, &T0_frac, flag4);
            st->T0_lagBuff = T0;
            if (bfi != 0) {
                if (st->old_T0 < 143) st->old_T0 = add(st->old_T0, 1);
                T0 = st->old_T0;
                T0_frac = 0;
                if (st->inBackgroundNoise != 0 && st->voicedHangover > 4 && low_modes(mode)) T0 = st->T0_lagBuff;
            }
            amrefr_Pred_lt_3or6(st->exc, T0, T0_frac, 1);
        }

        // Pitch gain first at 12.2 kbit/s.
        if (mode == MR122) {
            index = *parm++;
            if (efr) {
                gain_pit = amrefr_d_gain_pitch_efr(index, bfi, st->state, st->prev_bf, efr);
            } else {
                if (bfi == 0)
                    gain_pit = amrefr_d_gain_pitch(MR122, index);
                else
                    amrefr_ec_gain_pitch(&st->ec_gain_p_st, st->state, &gain_pit);
                amrefr_ec_gain_pitch_update(&st->ec_gain_p_st, bfi, st->prev_bf, &gain_pit);
            }
        }

        // Algebraic code vector with pitch sharpening.
        if (cn)
            amrefr_build_CN_code(&efr->L_pn_seed_rx, g_code);
        else
            amrefr_decode_Xi40_Ybits_tab[mode](parm, g_code, g_PulsePositions, static_cast<Word16>(subfrNr));
        parm += mode == MR102 ? 7 : (mode == MR122 ? 10 : 2);
        Word16 factor = mode == MR122 ? shl(gain_pit, 1) : shl(st->sharp, 1);
        if (T0 < 40) amrefr_Vec_add_prev_mult(g_code, factor, T0);

        // Gains.
        Word16 pit_sharp;
        if (mode <= MR74 || mode == MR102) {
            // MR475 sends one joint gain index per pair of subframes, in the even one.
            if (mode != MR475)
                index = *parm++;
            else if (evenSubfr)
                index_mr475 = *parm++;
            if (bfi == 0)
                amrefr_Dec_gain(&st->pred_state, mode, mode == MR475 ? index_mr475 : index, g_code, &gain_code,
                                evenSubfr, &gain_pit);
            else
                conceal_gains(st, &gain_pit, &gain_code);
            update_gain_history(st, bfi, &gain_pit, &gain_code);
            pit_sharp = gain_pit > SHARPMAX ? SHARPMAX : gain_pit;
        } else if (mode == MR795) {
            index = *parm++;
            Word16 index_code = *parm++;
            if (bfi == 0) {
                gain_pit = amrefr_d_gain_pitch(mode, index);
                amrefr_d_gain_code(&st->pred_state, mode, index_code, g_code, &gain_code, evenSubfr, &gain_pit);
            } else {
                conceal_gains(st, &gain_pit, &gain_code);
            }
            update_gain_history(st, bfi, &gain_pit, &gain_code);
            pit_sharp = gain_pit > SHARPMAX ? SHARPMAX : gain_pit;
        } else if (efr) {
            index = *parm++;
            amrefr_d_gain_code_efr(&st->pred_state, index, g_code, 40, &gain_code, bfi, st->state, st->prev_bf,
                                   static_cast<Word16>(i_subfr), efr);
            pit_sharp = gain_pit;
        } else {  // MR122
            index = *parm++;
            if (bfi == 0)
                amrefr_d_gain_code(&st->pred_state, mode, index, g_code, &gain_code, evenSubfr, &gain_pit);
            else
                amrefr_ec_gain_code(&st->ec_gain_c_st, &st->pred_state, st->state, &gain_code);
            amrefr_ec_gain_code_update(&st->ec_gain_c_st, bfi, st->prev_bf, &gain_code);
            pit_sharp = gain_pit;
        }

        if (mode != MR475 || evenSubfr == 0) {
            st->sharp = gain_pit > SHARPMAX ? SHARPMAX : gain_pit;
        }
        if (mode == MR102 && st->old_T0 > 45) pit_sharp = shr(pit_sharp, 2);
        pit_sharp = shl(pit_sharp, 1);
        if (pit_sharp > 16384) {
            if (mode != MR122) {
                amrefr_PitchSharp(st->exc, g_excp, pit_sharp, gain_pit);
            } else {
                // The product is halved after the multiplication, so that an odd
                // (concealed) pitch gain keeps its last bit, as the standard does.
                for (int i = 0; i < 40; ++i)
                    g_excp[i] = round16(L_shr(L_mult(mult(st->exc[i], pit_sharp), gain_pit), 1));
            }
        }

        if (bfi == 0) {
            for (int i = 0; i < 8; ++i) st->ltpGainHistory[i] = st->ltpGainHistory[i + 1];
            st->ltpGainHistory[8] = gain_pit;
        }
        if ((bfi != 0 || st->prev_bf != 0) && st->inBackgroundNoise != 0 && low_modes(mode)) {
            if (gain_pit > 12288) gain_pit = add(shr(sub(gain_pit, 12288), 1), 12288);
            if (gain_pit > 14745) gain_pit = 14745;
        }

        amrefr_Int_lsf(g_prev_lsf, st->past_lsf_q, static_cast<Word16>(i_subfr), g_lsf_i);
        Word16 gain_code_mix = amrefr_Cb_gain_average(&st->Cb_gain_averState, mode, gain_code, g_lsf_i,
                                                      st->lsp_meanSave, bfi, st->prev_bf, pdfi, st->prev_pdf,
                                                      st->inBackgroundNoise, st->voicedHangover);
        if (mode == MR74 || mode == MR795 || mode == MR122) gain_code_mix = gain_code;

        Word16 pitch_fac = mode == MR122 ? shr(gain_pit, 1) : gain_pit;
        Word16 tmp_shift = mode == MR122 ? 2 : 1;
        std::memcpy(g_exc_enhanced, st->exc, sizeof(g_exc_enhanced));
        amrefr_TotalExc(st->exc, g_code, pitch_fac, gain_code, tmp_shift);

        st->ph_disp_st.lockFull =
            (low_modes(mode) && st->voicedHangover > 3 && bfi != 0 && st->inBackgroundNoise != 0) ? 1 : 0;
        amrefr_ph_disp(&st->ph_disp_st, mode, g_exc_enhanced, gain_code_mix, gain_pit, g_code, pitch_fac, tmp_shift,
                       st->exc);

        Word32 L_temp = amrefr_Vec_L_sqa_40(g_exc_enhanced, 0);
        L_temp = L_shr(L_temp, 1);
        Word16 e;
        L_temp = amrefr_sqrt_l_exp(L_temp, &e);
        L_temp = L_shr(L_temp, add(shr(e, 1), 15));
        L_temp = L_shr(L_temp, 2);
        Word16 excEnergy = extract_l(L_temp);

        if (low_modes(mode) && st->voicedHangover > 5 && st->inBackgroundNoise != 0 && st->state < 4 &&
            ((pdfi != 0 && st->prev_pdf != 0) || bfi != 0 || st->prev_bf != 0)) {
            Word16 careful = (pdfi != 0 && bfi == 0) ? 1 : 0;
            amrefr_Ex_ctrl(g_exc_enhanced, excEnergy, st->excEnergyHist, st->voicedHangover, st->prev_bf, careful);
        }
        if (!(st->inBackgroundNoise != 0 && (bfi != 0 || st->prev_bf != 0) && st->state < 4)) {
            for (int i = 0; i < 8; ++i) st->excEnergyHist[i] = st->excEnergyHist[i + 1];
            st->excEnergyHist[8] = excEnergy;
        }

        Word16* out = synth + i_subfr;
        std::memcpy(out - 10, st->mem_syn, sizeof(st->mem_syn));
        Word16 ovf;
        if (pit_sharp > 16384) {
            amrefr_Vec_add(g_excp, g_exc_enhanced);
            amrefr_agc(g_exc_enhanced, g_excp, 0, nullptr);
            ovf = amrefr_Syn_filt_latch_overflow(A, g_excp, out);
        } else {
            ovf = amrefr_Syn_filt_latch_overflow(A, g_exc_enhanced, out);
        }
        if (ovf != 0) {
            Word16* first = st->exc - 154;
            for (int i = 0; i < 194; ++i) first[i] = shr(first[i], 2);
            for (int i = 0; i < 40; ++i) g_exc_enhanced[i] = shr(g_exc_enhanced[i], 2);
            std::memcpy(out - 10, st->mem_syn, sizeof(st->mem_syn));
            amrefr_Syn_filt(A, g_exc_enhanced, out);
        }
        std::memcpy(st->mem_syn, out + 30, sizeof(st->mem_syn));
        st->exc += 40;
        A += 11;
        st->old_T0 = T0;
    }
    std::memcpy(st->old_exc, g_old_exc + 160, sizeof(st->old_exc));

    Word32 FrameEnergy;
    st->inBackgroundNoise =
        amrefr_Bgn_scd(&st->background_state, st->ltpGainHistory, synth, &st->voicedHangover, &FrameEnergy);
    if (!efr) amrefr_dtx_dec_activity_update(st->dtx_decSt, st->past_lsf_q, synth, FrameEnergy);
    st->prev_bf = bfi;
    st->prev_pdf = pdfi;
    amrefr_lsp_avg(st->lsp_meanSave, st->past_lsf_q);
    if (!efr) st->dtx_decSt->dtxGlobalState = SPEECH;
    amrefr_FrameRestore_NEON(area);
}

// ---------------------------------------------------------------------------
// Frame driver.

void amrefr_Speech_Decode_Frame_resetAMR(GSMAMR_Speech_Decode_FrameState* state, GSMAMR_dtx_decState* dtx_decSt) {
    std::memset(state, 0, sizeof(*state));
    amrefr_Decoder_amr_reset(&state->decoder_amrState, MR475);
    state->post_state.agc_state.past_gain = 4096;
    state->reset_flag_old = 1;
    amrefr_dtx_dec_reset(dtx_decSt);
    state->decoder_amrState.dtx_decSt = dtx_decSt;
    state->decoder_amrState.EFRdtx_decSt = nullptr;
}

void amrefr_Speech_Decode_Frame_resetEFR(GSMAMR_Speech_Decode_FrameState* state,
                                         GSMAMR_EFRdtx_decState* EFRdtx_decSt) {
    std::memset(state, 0, sizeof(*state));
    amrefr_Decoder_amr_reset(&state->decoder_amrState, MR475);
    state->post_state.agc_state.past_gain = 4096;
    state->reset_flag_old = 1;
    amrefr_reset_rx_dtx(EFRdtx_decSt);
    state->decoder_amrState.dtx_decSt = nullptr;
    state->decoder_amrState.EFRdtx_decSt = EFRdtx_decSt;
}

namespace {

// EFR frame: BFI in word 0, then the bits, SID classification and TAF.
void speech_decode_frame_efr(GSMAMR_Speech_Decode_FrameState* st, const Word16* serial, Word16* in_synth) {
    Word16 parm[AMR_MAX_PRM_SIZE + 1];
    Word16 Az_dec[44];
    Word16 new_synth[170];
    const Word16 bfi = serial[0] != 0 ? 1 : 0;
    parm[0] = bfi;
    amrefr_Bits2prm(MR122, serial + 1, parm + 1);
    Word16 reset_flag = 0;
    if (bfi == 0 && st->reset_flag_old == 1) reset_flag = amrefr_efr_decoder_homing_frame_test(parm + 1, 18);
    if (reset_flag != 0) {
        for (int i = 0; i < 160; ++i) in_synth[i] = 8;
    } else {
        st->rx_type = RX_SPEECH_GOOD;
        st->mode = MR122;
        if (bfi == 0 && st->reset_flag_old == 0) reset_flag = amrefr_efr_decoder_homing_frame_test(parm + 1, 57);
        amrefr_Decoder_amr(&st->decoder_amrState, MR122, parm + 1, RX_SPEECH_GOOD, new_synth + 10, Az_dec, bfi,
                           serial[EFR_SERIAL_TAF_WORD], serial[EFR_SERIAL_SID_WORD], 1);
        amrefr_Post_Filter(&st->post_state, MR122, new_synth + 10, Az_dec);
        amrefr_Pre_Process(&st->postHP_state, new_synth + 10, in_synth, 1);
    }
    if (reset_flag != 0) amrefr_Speech_Decode_Frame_resetEFR(st, st->decoder_amrState.EFRdtx_decSt);
    st->reset_flag_old = reset_flag;
}

}  // namespace

void amrefr_Speech_Decode_Frame(GSMAMR_Speech_Decode_FrameState* st, Word16 rxframetypeMode, const Word16* serial,
                                Word16* in_synth, Word16 do_EFR) {
    (void)rxframetypeMode;
    // A decoder reset for the other codec has no DTX state of this kind:
    // silence rather than a null dereference.
    if ((do_EFR && !st->decoder_amrState.EFRdtx_decSt) || (!do_EFR && !st->decoder_amrState.dtx_decSt)) {
        std::memset(in_synth, 0, 160 * sizeof(Word16));
        return;
    }
    if (do_EFR) {
        speech_decode_frame_efr(st, serial, in_synth);
        return;
    }
    Word16 parm[AMR_MAX_PRM_SIZE + 1];
    Word16 Az_dec[44];
    Word16 new_synth[170];
    Word16 mode = static_cast<Word16>(st->mode);
    Word16 rx_type = static_cast<Word16>(st->rx_type);
    if (rx_type == RX_NO_DATA)
        mode = static_cast<Word16>(st->prev_mode);
    else
        st->prev_mode = static_cast<std::uint16_t>(mode);

    Word16 reset_flag = 0;
    if (st->reset_flag_old == 1) reset_flag = amrefr_decoder_homing_frame_test_first(serial, mode);
    if (reset_flag != 0 && st->reset_flag_old == 1) {
        for (int i = 0; i < 160; ++i) in_synth[i] = 8;
    } else {
        Word16 m = (rx_type == RX_SID_UPDATE || rx_type == RX_SID_BAD) ? static_cast<Word16>(MRDTX) : mode;
        amrefr_Bits2prm(m, serial, parm);
        amrefr_Decoder_amr(&st->decoder_amrState, mode, parm, rx_type, new_synth + 10, Az_dec);
        amrefr_Post_Filter(&st->post_state, mode, new_synth + 10, Az_dec);
        amrefr_Pre_Process(&st->postHP_state, new_synth + 10, in_synth, 1);
    }
    if (st->reset_flag_old == 0) reset_flag = amrefr_decoder_homing_frame_test(serial, mode);
    if (reset_flag != 0) amrefr_Speech_Decode_Frame_resetAMR(st, st->decoder_amrState.dtx_decSt);
    st->reset_flag_old = reset_flag;
}

// ---------------------------------------------------------------------------
// Decoder homing.

Word16 amrefr_dhf_test(const Word16* input_frame, Word16 mode, Word16 nparms) {
    Word16 param[AMR_MAX_PRM_SIZE];
    amrefr_Bits2prm(mode, input_frame, param);
    for (int i = 0; i < nparms; ++i)
        if (param[i] != amrefr_dhf[mode][i]) return 0;
    return 1;
}

Word16 amrefr_decoder_homing_frame_test(const Word16* input_frame, Word16 mode) {
    return amrefr_dhf_test(input_frame, mode, amrefr_prmno[mode]);
}

Word16 amrefr_decoder_homing_frame_test_first(const Word16* input_frame, Word16 mode) {
    return amrefr_dhf_test(input_frame, mode, amrefr_prmnofsf[mode]);
}

// ---------------------------------------------------------------------------
// Entry points.

int gsmamr_Speech_Decode_Frame_init(GSMAMR_Speech_Decode_FrameState* st, GSMAMR_dtx_decState* dtx_decSt) {
    amrefr_Speech_Decode_Frame_resetAMR(st, dtx_decSt);
    return 0;
}

// A mode or frame type outside the codec's range is refused (silence out, state
// untouched) rather than indexing the mode tables out of bounds.
int gsmamr_Speech_Decode_Frame(GSMAMR_Speech_Decode_FrameState* st, GSMAMR_MODE mode, const Word16* serial,
                               GSMAMR_RXFrameType frame_type, Word16* synth) {
    if (static_cast<unsigned>(mode) > MR122 || static_cast<unsigned>(frame_type) >= RX_N_FRAMETYPES) {
        for (int i = 0; i < 160; ++i) synth[i] = 0;
        return -1;
    }
    st->rx_type = frame_type;
    st->mode = mode;
    amrefr_Speech_Decode_Frame(st, frame_type, serial, synth);
    return 0;
}
