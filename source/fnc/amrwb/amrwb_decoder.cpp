// The AMR-WB decoder frame: parameters read straight from the serial bits,
// bad-frame concealment, the four subframes and the 6.4-7 kHz high band.
#include "amrwb_decoder.h"

#include <cstddef>
#include <cstring>

#include "amrwb_basic_op.h"
#include "amrwb_kernels.h"
#include "amrwb_shared.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

namespace {
constexpr int M = 16, M16k = 20, L_SUBFR = 64, L_FRAME = 256, PIT_MAX = 231, L_INTERPOL = 17;
constexpr int L_OLD = PIT_MAX + L_INTERPOL;  // 248 past excitation samples

static_assert(offsetof(wb_amr_Decoder_State, vad_hist) == offsetof(amr_wb_SynthesisHead, vad_hist),
              "the decoder state starts with the synthesis head");

amr_wb_SynthesisHead* head(wb_amr_Decoder_State* st) { return reinterpret_cast<amr_wb_SynthesisHead*>(st); }

// Codebook index widths of the four-track modes, by codebook bits.
struct CbRow {
    Word16 bits, lo[4], hi[4];
};
constexpr CbRow kCbRows[7] = {
    {20, {5, 5, 5, 5}, {0, 0, 0, 0}},       {36, {9, 9, 9, 9}, {0, 0, 0, 0}},
    {44, {13, 13, 9, 9}, {0, 0, 0, 0}},     {52, {13, 13, 13, 13}, {0, 0, 0, 0}},
    {64, {2, 2, 2, 2}, {14, 14, 14, 14}},   {72, {10, 10, 2, 2}, {10, 10, 14, 14}},
    {88, {11, 11, 11, 11}, {11, 11, 11, 11}},
};

void dec_synthesis(const Word16* Aq, Word16* exc, Word16 Q_new, Word16* synth16k, Word16 prms, Word16* HfIsf,
                   Word16 nb_bits, Word16 newDTXState, wb_amr_Decoder_State* st, Word16 bfi) {
    Word16 HF[80];
    Word16 tmp = amr_wb_common_synthesis(head(st), Aq, exc, Q_new, synth16k, HF);
    if (nb_bits >= 477 && bfi == 0)
        amr_wb_Vec_mult_shift(HF, 80, amr_wb_HP_gain[prms], 1);
    else
        amr_wb_Vec_mult_shift(HF, 80, tmp, 0);

    Word16 buf[M16k + 80];
    Word16 Ap[M16k + 1];
    if (nb_bits <= 132 && newDTXState == 0) {
        Word16 HfA[M16k + 1];
        amr_wb_Isf_Extrapolation(HfIsf);
        amr_wb_Isp_Az(HfIsf, HfA, M16k, 0);
        amr_wb_Weight_a_M16k(HfA, Ap, amr_wb_Weight_a_29491_M16K);
        std::memcpy(buf, st->mem_syn_hf, M16k * sizeof(Word16));
        std::memcpy(buf + M16k, HF, 80 * sizeof(Word16));
        amr_wb_Syn_filt_M16k_inplace(Ap, buf + M16k, buf + M16k);
        std::memcpy(st->mem_syn_hf, buf + 80, M16k * sizeof(Word16));
    } else {
        amr_wb_Weight_a_M(Aq, Ap, amr_wb_Weight_a_19661_M);
        Word16* mem = st->mem_syn_hf + (M16k - M);
        std::memcpy(buf + 4, mem, M * sizeof(Word16));
        std::memcpy(buf + M16k, HF, 80 * sizeof(Word16));
        amr_wb_Syn_filt_M_inplace(Ap, buf + M16k, buf + M16k, 80);
        std::memcpy(mem, buf + 84, M * sizeof(Word16));
    }
    Word16* hf = buf + M16k;
    amr_wb_Filt_6k_7k(hf, st->mem_hf);
    if (nb_bits >= 477) {
        Word16 out[80];
        amr_wb_Filt_7k(hf, out, st->mem_hf3);
        std::memcpy(hf, out, 80 * sizeof(Word16));
    }
    amr_wb_Vec_add_even(synth16k, hf, 80);
}

Word16 max_excitation(const Word16* exc, Word16 Q_new) {
    Word16 max = amr_wb_Vec_abs_max_gt(exc, 64, 1);
    return static_cast<Word16>(norm_s(max) + Q_new - 1);
}

// Pitch lag of one subframe; the index is read whatever the frame's state.
void decode_lag(const Word16** prms, Word16 nb_bits, bool absolute, Word16* T0, Word16* frac, Word16* T0_min) {
    if (absolute) {
        if (nb_bits <= 177) {
            Word16 index = amr_wb_Serial_parm8(prms);
            if (index < 116) {
                *T0 = static_cast<Word16>(34 + (index >> 1));
                *frac = static_cast<Word16>((index & 1) << 1);
            } else {
                *T0 = static_cast<Word16>(index - 24);
                *frac = 0;
            }
        } else {
            Word16 index = amr_wb_Serial_parm9(prms);
            if (index < 376) {
                *T0 = static_cast<Word16>(34 + (index >> 2));
                *frac = static_cast<Word16>(index & 3);
            } else if (index < 440) {
                *T0 = static_cast<Word16>(128 + ((index - 376) >> 1));
                *frac = static_cast<Word16>(((index - 376) & 1) << 1);
            } else {
                *T0 = static_cast<Word16>(index - 280);
                *frac = 0;
            }
        }
        *T0_min = *T0 - 8 < 34 ? 34 : static_cast<Word16>(*T0 - 8);
        if (*T0_min + 15 > PIT_MAX) *T0_min = PIT_MAX - 15;
    } else if (nb_bits <= 177) {
        Word16 index = amr_wb_Serial_parm5(prms);
        *T0 = static_cast<Word16>(*T0_min + (index >> 1));
        *frac = static_cast<Word16>((index & 1) << 1);
    } else {
        Word16 index = amr_wb_Serial_parm6(prms);
        *T0 = static_cast<Word16>(*T0_min + (index >> 2));
        *frac = static_cast<Word16>(index & 3);
    }
}

void read_codebook(const Word16** prms, Word16 nb_bits, Word16 mode, Word16* code) {
    if (nb_bits <= 132) {
        amr_wb_DEC_ACELP_2t64_fx(amr_wb_Serial_parm12(prms), code);
        return;
    }
    int r = mode - 1 < 6 ? mode - 1 : 6;
    const CbRow& row = kCbRows[r];
    Word16 index[8] = {};
    for (int k = 0; k < 4; ++k) index[k] = amr_wb_Serial_parm(row.lo[k], prms);
    if (r >= 4)
        for (int k = 0; k < 4; ++k) index[4 + k] = amr_wb_Serial_parm(row.hi[k], prms);
    amr_wb_DEC_ACELP_4t64_fx(index, row.bits, code);
}
}  // namespace

void amr_wb_Reset_read_serial(wb_amr_RX_State* st) {
    st->prev_ft = 0;
    st->prev_mode = 0;
}

void amr_wb_Init_decoder(wb_amr_Decoder_State* st) { amr_wb_Reset_decoder(st, 1); }

void amr_wb_Reset_decoder(wb_amr_Decoder_State* st, Word16 reset_all) {
    std::memset(st->old_exc, 0, sizeof st->old_exc);
    std::memset(st->past_isfq, 0, sizeof st->past_isfq);
    st->old_T0_frac = 0;
    st->old_T0 = 64;
    st->first_frame = 1;
    st->L_gc_thres = 0;
    st->tilt_code = 0;
    std::memset(st->disp_mem, 0, sizeof st->disp_mem);
    st->Q_old = 8;
    for (Word16& q : st->Qsubfr) q = 8;
    if (reset_all == 0) return;

    std::memset(static_cast<void*>(st), 0, sizeof *st);
    st->old_T0 = 64;
    st->first_frame = 1;
    st->Q_old = 8;
    for (Word16& q : st->Qsubfr) q = 8;
    for (int i = 0; i < 4; ++i) st->dec_gain[i] = -14336;
    st->dec_gain[22] = 21845;
    for (Word16& l : st->lag_hist) l = 64;
    std::memcpy(st->ispold, amr_wb_isp_init, sizeof st->ispold);
    std::memcpy(st->isfold, amr_wb_isf_init, sizeof st->isfold);
    for (int j = 0; j < 3; ++j) std::memcpy(st->isf_buf + 16 * j, amr_wb_isf_init, 16 * sizeof(Word16));
    st->seed = st->seed2 = st->seed3 = 21845;
    amr_wb_dtx_dec_reset(&st->dtx_decSt);
    amr_wb_Reset_read_serial(&st->rx_state);
    st->reset_flag_old = 1;
}

namespace {
void decode_frame(Word16 mode, const Word16* prms, Word16* synth16k, wb_amr_Decoder_State* st, Word16 frame_type);
}  // namespace

void amr_wb_decoder(Word16 mode, const Word16* prms, Word16* synth16k, Word16* frame_length, wb_amr_Decoder_State* st,
                    Word16 frame_type, wb_amr_Decoder_Scratch* /*scratchp*/) {
    *frame_length = 320;
    // Homing: in the home state a frame whose first subframe matches the
    // decoder homing frame gives the encoder homing pattern without decoding;
    // any frame that matches in full resets the decoder.
    Word16 reset_flag = 0;
    const bool no_bits = frame_type == RX_NO_DATA || frame_type == RX_SPEECH_LOST;
    if (!no_bits && st->reset_flag_old == 1) reset_flag = amr_wb_decoder_homing_frame_test_first(prms, mode);
    if (reset_flag != 0 && st->reset_flag_old != 0) {
        for (int i = 0; i < 320; ++i) synth16k[i] = 0x0008;
    } else {
        decode_frame(mode, prms, synth16k, st, frame_type);
    }
    if (!no_bits && st->reset_flag_old == 0 && mode < 9) reset_flag = amr_wb_decoder_homing_frame_test(prms, mode);
    if (reset_flag != 0) amr_wb_Reset_decoder(st, 1);
    st->reset_flag_old = reset_flag;
}

Word16 amr_wb_dhf_test(const Word16* input_frame, Word16 mode, Word16 nparms) {
    if (mode == 9) return 0;
    const Word16* prms = input_frame;
    Word16 param[32];
    int i = 0, shift;
    if (mode != 8) {
        int j = 0;
        while (nparms - 15 > j) {
            param[i++] = amr_wb_Serial_parm15(&prms);
            j += 15;
        }
        int rest = nparms - j;
        shift = 15 - rest;
        param[i] = shl(amr_wb_Serial_parm(static_cast<Word16>(rest), &prms), static_cast<Word16>(shift));
    } else {
        // 23.85: the high-band gain bits are masked out.
        for (i = 0; i < 31; ++i) param[i] = amr_wb_Serial_parm15(&prms);
        param[10] &= 0x61FF;
        param[17] &= static_cast<Word16>(0xE0FF);
        param[24] &= 0x7F0F;
        param[31] = shl(amr_wb_Serial_parm8(&prms), 7);
        shift = 0;
    }
    const Word16* dhf = amr_wb_dhf[mode];
    const int n = i;
    int k = 0, diff = 0;
    for (; k < n; ++k) {
        diff = param[k] ^ dhf[k];
        if (diff) break;
    }
    // The last word under the mask of its used bits.  No frame reads past
    // its table: 285 bits fill the 19 words of the 14.25 frame exactly.
    Word16 mask = static_cast<Word16>((0x7FFF >> shift) << shift);
    diff |= param[k] ^ (dhf[k] & mask);
    return diff == 0 ? 1 : 0;
}

Word16 amr_wb_decoder_homing_frame_test(const Word16* input_frame, Word16 mode) {
    return amr_wb_dhf_test(input_frame, mode, amr_wb_nb_of_bits[mode]);
}

Word16 amr_wb_decoder_homing_frame_test_first(const Word16* input_frame, Word16 mode) {
    return amr_wb_dhf_test(input_frame, mode, mode < 9 ? amr_wb_prmnofsf[mode] : 0);
}

namespace {
void decode_frame(Word16 mode, const Word16* prms, Word16* synth16k, wb_amr_Decoder_State* st, Word16 frame_type) {
    Word16 area[64];
    amr_wb_FrameSave_NEON(area);
    const Word16 nb_bits = amr_wb_nb_of_bits[mode];

    // Per-frame working arrays (their contents last one call).
    Word16 old_exc[L_OLD + L_FRAME + 1];
    Word16 code_p2[1 + L_SUBFR + 1] = {};
    Word16* code = code_p2 + 1;
    Word16 exc2[L_FRAME], excp[L_SUBFR], code2[L_SUBFR];
    Word16 isf[M], ispnew[M], isf_tmp[M], Aq[4 * (M + 1)], HfIsf[M16k];

    Word16 newDTXState = amr_wb_rx_dtx_handler(&st->dtx_decSt, frame_type);
    if (newDTXState != 0) amr_wb_dtx_dec(&st->dtx_decSt, exc2, newDTXState, isf, &prms);

    const Word16 bfi = (frame_type >= RX_SPEECH_PROBABLY_DEGRADED && frame_type <= RX_SPEECH_BAD) ||
                               frame_type == RX_NO_DATA
                           ? 1
                           : 0;
    const Word16 unusable = (frame_type == RX_SPEECH_LOST || frame_type == RX_NO_DATA) ? 1 : 0;
    st->state = bfi ? (st->state < 6 ? static_cast<Word16>(st->state + 1) : 6) : static_cast<Word16>(st->state >> 1);
    if (st->dtx_decSt.dtxGlobalState == 1) {
        st->state = 5;
        st->prev_bfi = 0;
    } else if (st->dtx_decSt.dtxGlobalState == 2) {
        st->state = 5;
        st->prev_bfi = 1;
    }

    if (newDTXState != 0) {
        Word16 isp[M], A[M + 1];
        amr_wb_Isf_isp(isf, isp, M);
        amr_wb_Isp_Az(isp, A, M, 1);
        std::memcpy(isf_tmp, st->isfold, sizeof isf_tmp);
        for (int j = 0; j < 4; ++j) {
            amr_wb_CalcHfIsf(isf_tmp, isf, HfIsf, amr_wb_interpol_frac[j]);
            dec_synthesis(A, exc2 + 64 * j, 0, synth16k + 80 * j, 1, HfIsf, nb_bits, newDTXState, st, bfi);
        }
        amr_wb_Reset_decoder(st, 0);
        std::memcpy(st->isfold, isf, sizeof isf);
        st->prev_bfi = bfi;
        st->dtx_decSt.dtxGlobalState = newDTXState;
        amr_wb_FrameRestore_NEON(area);
        return;
    }

    Word16 vad_flag = amr_wb_Serial_parm1(&prms);
    if (bfi == 0) {
        if (vad_flag == 0) {
            st->vad_hist = add(st->vad_hist, 1);
            st->dtx_decSt.dtx_vad_hist = add(st->dtx_decSt.dtx_vad_hist, 1);
        } else {
            st->vad_hist = 0;
            st->dtx_decSt.dtx_vad_hist = 0;
        }
    } else if (st->dtx_decSt.dtx_vad_hist > 0) {
        st->dtx_decSt.dtx_vad_hist = add(st->dtx_decSt.dtx_vad_hist, 1);
    }

    std::memcpy(old_exc, st->old_exc, L_OLD * sizeof(Word16));
    Word16* exc = old_exc + L_OLD;

    // ISFs.
    Word16 ind[7];
    if (nb_bits <= 132) {
        const Word16 w[5] = {8, 8, 7, 7, 6};
        for (int k = 0; k < 5; ++k) ind[k] = amr_wb_Serial_parm(w[k], &prms);
        amr_wb_Dpisf_2s_36b(ind, isf, st->past_isfq, st->isfold, st->isf_buf, bfi, 1);
    } else {
        const Word16 w[7] = {8, 8, 6, 7, 7, 5, 5};
        for (int k = 0; k < 7; ++k) ind[k] = amr_wb_Serial_parm(w[k], &prms);
        amr_wb_Dpisf_2s_46b(ind, isf, st->past_isfq, st->isfold, st->isf_buf, bfi, 1);
    }
    amr_wb_Isf_isp(isf, ispnew, M);
    if (st->first_frame) {
        st->first_frame = 0;
        std::memcpy(st->ispold, ispnew, sizeof ispnew);
    }
    amr_wb_Int_isp(st->ispold, ispnew, Aq);
    std::memcpy(st->ispold, ispnew, sizeof ispnew);
    const Word16 stab_fac = amr_wb_CheckStability(isf, st->isfold);
    std::memcpy(isf_tmp, st->isfold, sizeof isf_tmp);
    std::memcpy(st->isfold, isf, sizeof isf);

    Word16 T0 = 0, T0_frac = 0, T0_min = 34, Q_new = 0;
    for (int sf = 0; sf < 4; ++sf) {
        const int i_subfr = sf * L_SUBFR;
        const bool absolute = sf == 0 || (sf == 2 && nb_bits > 132);
        decode_lag(&prms, nb_bits, absolute, &T0, &T0_frac, &T0_min);
        if (bfi) {
            amr_wb_lagconc(st->dec_gain + 17, st->lag_hist, &T0, &st->old_T0, &st->seed3, unusable);
            T0_frac = 0;
        }
        amr_wb_Pred_lt4(exc + i_subfr, T0, T0_frac);

        if (unusable) {
            amr_wb_Vec_Random(code, &st->seed, 64, 3);
        } else {
            Word16 select = nb_bits <= 177 ? 0 : amr_wb_Serial_parm1(&prms);
            if (select == 0) {
                amr_wb_Pitch_Excitation_LP(exc, code, static_cast<Word16>(i_subfr));
                std::memcpy(exc + i_subfr, code, L_SUBFR * sizeof(Word16));
            }
            read_codebook(&prms, nb_bits, mode, code);
        }
        Word16 mem = 0;
        amr_wb_Preemph(code, st->tilt_code, &mem);
        amr_wb_Pit_shrp(code, static_cast<Word16>(T0_frac > 2 ? T0 + 1 : T0));

        Word16 gain_pit;
        Word32 L_gain_code;
        Word16 gbits = nb_bits <= 177 ? 6 : 7;
        Word16 index = amr_wb_Serial_parm(gbits, &prms);
        amr_wb_D_gain2(index, gbits, code, &gain_pit, &L_gain_code, bfi, st->prev_bfi, st->state, unusable,
                       st->vad_hist, st->dec_gain);

        // Scaling of the excitation.
        Word16 tmp = st->Qsubfr[0];
        for (int i = 1; i < 4; ++i)
            if (st->Qsubfr[i] < tmp) tmp = st->Qsubfr[i];
        if (tmp > 8) tmp = 8;
        Q_new = 0;
        Word32 L = L_gain_code;
        while (L < 0x08000000 && Q_new < tmp) {
            L = L_shl(L, 1);
            ++Q_new;
        }
        Word16 gain_code = round16(L);
        amr_wb_Scale_sig2(exc + i_subfr - L_OLD, L_OLD + L_SUBFR, sub(Q_new, st->Q_old));
        st->Q_old = Q_new;

        if (bfi == 0) {
            for (int i = 4; i > 0; --i) st->lag_hist[i] = st->lag_hist[i - 1];
            st->lag_hist[0] = T0;
            st->old_T0 = T0;
            st->old_T0_frac = 0;
        }

        std::memcpy(exc2, exc + i_subfr, L_SUBFR * sizeof(Word16));
        amr_wb_Scale_sig2(exc2, L_SUBFR, -3);
        Word16 pit_sharp = nb_bits <= 177 ? amr_wb_Excitation_LP(exc2, excp, gain_pit) : 0;
        Word16 voice_fac = amr_wb_voice_factor(exc2, -3, gain_pit, code, gain_code);
        st->tilt_code = add(shr(voice_fac, 2), 8192);

        std::memcpy(exc2, exc + i_subfr, L_SUBFR * sizeof(Word16));
        amr_wb_TotalExcitation_LP(code, exc + i_subfr, gain_code, gain_pit);
        for (int i = 3; i > 0; --i) st->Qsubfr[i] = st->Qsubfr[i - 1];
        st->Qsubfr[0] = max_excitation(exc + i_subfr, Q_new);

        Word16 gc_hi = extract_h(L_gain_code);
        amr_wb_Phase_dispersion(gc_hi, gain_pit, code, static_cast<Word16>(mode < 2 ? mode : 2), st->disp_mem);

        // Noise enhancer.
        Word16 fac = mult(stab_fac, sub(16384, shr(voice_fac, 1)));
        L = L_gain_code;
        if (L < st->L_gc_thres) {
            L = L_add(L, amr_wb_MPY_32_16(L_gain_code, 6226));
            if (L > st->L_gc_thres) L = st->L_gc_thres;
        } else {
            L = amr_wb_MPY_32_16(L_gain_code, 27536);
            if (L < st->L_gc_thres) L = st->L_gc_thres;
        }
        st->L_gc_thres = L;
        L_gain_code = L_add(amr_wb_MPY_32_16(L_gain_code, sub(32767, fac)), amr_wb_MPY_32_16(L, fac));

        amr_wb_PitchEnhance_LP(code, code2, add(shr(voice_fac, 3), 4096));
        gain_code = round16(L_shl(L_gain_code, Q_new));
        amr_wb_TotalExcitation_LP(code2, exc2, gain_code, gain_pit);
        if (nb_bits <= 177 && pit_sharp > 16384) {
            amr_wb_Vec_add_even(excp, exc2, 64);
            amr_wb_agc2(exc2, excp);
            std::memcpy(exc2, excp, L_SUBFR * sizeof(Word16));
        }
        if (nb_bits <= 132)
            amr_wb_CalcHfIsf(isf_tmp, isf, HfIsf, amr_wb_interpol_frac[sf]);
        else
            std::memset(st->mem_syn_hf, 0, (M16k - M) * sizeof(Word16));
        Word16 corr_gain = nb_bits >= 477 ? amr_wb_Serial_parm4(&prms) : 0;
        dec_synthesis(Aq + 17 * sf, exc2, Q_new, synth16k + 80 * sf, corr_gain, HfIsf, nb_bits, 0, st, bfi);
    }

    std::memcpy(st->old_exc, old_exc + L_FRAME, L_OLD * sizeof(Word16));
    amr_wb_Scale_sig2(exc, L_FRAME, static_cast<Word16>(-Q_new));
    amr_wb_dtx_dec_activity_update(&st->dtx_decSt, isf, exc);
    st->dtx_decSt.dtxGlobalState = 0;
    st->prev_bfi = bfi;
    amr_wb_FrameRestore_NEON(area);
}
}  // namespace
