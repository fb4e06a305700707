// The AMR-WB encoder frame: front end, LP analysis and ISF quantisation,
// open-loop pitch, VAD and DTX, then per subframe the adaptive and algebraic
// codebooks and the gains (and the 23.85 high-band gain).
#include <cstddef>
#include <cstring>

#include "amrwb_basic_op.h"
#include "amrwb_dtx_enc.h"
#include "amrwb_enc_internal.h"
#include "amrwb_encoder_lp.h"
#include "amrwb_kernels.h"
#include "amrwb_shared.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

namespace {
constexpr int M = 16, L_SUBFR = 64, L_FRAME = 256, L_TOTAL = 384, L_OLD_EXC = 248;

static_assert(offsetof(wb_amr_Coder_State, vad_hist) == offsetof(amr_wb_SynthesisHead, vad_hist),
              "the encoder state starts with the synthesis head");

// 50 Hz high-pass over lg samples (a multiple of 4).
void hp50(Word16* signal, int lg, Word16* mem) {
    Word16 x[2 + 256];
    x[0] = mem[4];
    x[1] = mem[5];
    std::memcpy(x + 2, signal, lg * sizeof(Word16));
    Word32 y32[256];
    amr_wb_12k8_loop1(x, amr_wb_hp50_ab + 4, y32, static_cast<Word16>(lg));
    amr_wb_HP50_12k8_loop2(mem, y32, signal, static_cast<Word16>(lg));
    mem[4] = x[lg];
    mem[5] = x[lg + 1];
}

void lag_range(Word16 T, Word16* T0_min, Word16* T0_max) {
    *T0_min = T - 8 < 34 ? 34 : static_cast<Word16>(T - 8);
    *T0_max = static_cast<Word16>(*T0_min + 15);
    if (*T0_max > 231) {
        *T0_max = 231;
        *T0_min = 216;
    }
}

void open_loop_step(wb_amr_Coder_State* st, Word16 T_op) {
    if (st->ol_gain > 19661) {
        st->old_T0_med = amr_wb_Med_olag(T_op, st->old_ol_lag);
        st->ada_w = 32767;
    } else {
        st->ada_w = mult(st->ada_w, 29491);
    }
    st->ol_wght_flg = st->ada_w < 26214 ? 0 : 1;
    amr_wb_vad_tone_detection(&st->vadSt, st->ol_gain);
}

struct CbWidths {
    Word16 bits, lo[4], hi[4];
};
constexpr CbWidths kCb[8] = {
    {0, {0}, {0}},
    {20, {5, 5, 5, 5}, {0, 0, 0, 0}},
    {36, {9, 9, 9, 9}, {0, 0, 0, 0}},
    {44, {13, 13, 9, 9}, {0, 0, 0, 0}},
    {52, {13, 13, 13, 13}, {0, 0, 0, 0}},
    {64, {2, 2, 2, 2}, {14, 14, 14, 14}},
    {72, {10, 10, 2, 2}, {10, 10, 14, 14}},
    {88, {11, 11, 11, 11}, {11, 11, 11, 11}},
};
}  // namespace

void amr_wb_Init_coder(wb_amr_Coder_State* st) { amr_wb_Reset_encoder(st, 1); }

void amr_wb_Reset_encoder(wb_amr_Coder_State* st, Word16 reset_all) {
    if (reset_all != 0) {
        std::memset(static_cast<void*>(st), 0, sizeof *st);
        for (Word16& q : st->qua_gain) q = -14336;
        std::memcpy(st->ispold, amr_wb_isp_init, sizeof st->ispold);
        std::memcpy(st->ispold_q, amr_wb_isp_init, sizeof st->ispold_q);
        std::memcpy(st->isfold, amr_wb_isf_init, sizeof st->isfold);
        st->Q_old = 15;
        st->Q_max[0] = st->Q_max[1] = 15;
        st->old_T0_med = 40;
        for (Word16& l : st->old_ol_lag) l = 40;
        st->seed2 = 21845;
        st->gain_alpha = 32767;
        for (int i = 0; i < 12; ++i) st->vadSt.bckr_est[i] = st->vadSt.ave_level[i] = st->vadSt.old_level[i] = 150;
        st->vadSt.speech_level = 2050;
        amr_wb_dtx_enc_reset(&st->dtx_encSt);
    } else {
        std::memset(st->old_exc, 0, L_OLD_EXC * sizeof(Word16));
        std::memset(st->mem_syn, 0, sizeof st->mem_syn);
        std::memset(st->past_isfq, 0, sizeof st->past_isfq);
        st->mem_w0 = 0;
        st->tilt_code = 0;
        st->L_gc_thres = 0;
    }
    st->gp_clip[0] = 307;
    st->gp_clip[1] = 9830;
    st->first_frame = 1;
}

Word16 amr_wb_encoder_homing_frame_test(const Word16* input_frame) {
    for (int i = 0; i < 320; ++i)
        if (input_frame[i] != 0x0008) return 0;
    return 1;
}

void amr_wb_coder(Word16* mode, const Word16* speech16k, Word16* prms, Word16* ser_size, wb_amr_Coder_State* st,
                  Word16 allow_dtx, wb_amr_Coder_Scratch* /*scratchp*/) {
    Word16 area[64];
    amr_wb_FrameSave_NEON(area);
    const Word16 codec_mode = *mode;
    *ser_size = amr_wb_nb_of_bits[*mode];
    const Word16 homing = amr_wb_encoder_homing_frame_test(speech16k);

    // Speech buffer: 116 past samples, 256 new and 12 look-ahead; the frame
    // coded now starts at 64.
    Word16 old_speech[L_TOTAL];
    std::memcpy(old_speech, st->old_speech, 128 * sizeof(Word16));
    Word16* new_speech = old_speech + 116;
    Word16* speech = old_speech + 64;
    amr_wb_Decim_12k8(speech16k, 320, new_speech, st->mem_decim);
    {
        Word16 mem[30], zeros[15] = {};
        std::memcpy(mem, st->mem_decim, sizeof mem);
        amr_wb_Decim_12k8(zeros, 15, new_speech + L_FRAME, mem);
    }
    hp50(new_speech, L_FRAME, st->mem_sig_in);
    {
        Word16 mem[6];
        std::memcpy(mem, st->mem_sig_in, sizeof mem);
        hp50(new_speech + L_FRAME, 12, mem);
    }

    // Scaling and pre-emphasis.
    Word16 saved = new_speech[-1];
    new_speech[-1] = st->mem_preemph;
    Word16 max = amr_wb_Fixed_Preemph1(new_speech);
    Word16 shift = max == 0 ? 8 : static_cast<Word16>(norm_s(max) - 1);
    if (shift < 0) shift = 0;
    if (shift > 8) shift = 8;
    Word16 Q_new = shift;
    if (Q_new > st->Q_max[0]) Q_new = st->Q_max[0];
    if (Q_new > st->Q_max[1]) Q_new = st->Q_max[1];
    Word16 exp = sub(Q_new, st->Q_old);
    st->Q_old = Q_new;
    st->Q_max[1] = st->Q_max[0];
    st->Q_max[0] = shift;
    amr_wb_Fixed_Preemph2(new_speech, Q_new, &st->mem_preemph);
    new_speech[-1] = saved;
    amr_wb_Scale_sig(old_speech, 116, exp);
    amr_wb_Scale_sig(st->mem_syn, M, exp);
    amr_wb_Scale_sig(st->mem_decim2, 3, exp);
    amr_wb_Scale_sig(&st->mem_wsp, 1, exp);
    amr_wb_Scale_sig(&st->mem_w0, 1, exp);

    // Voice activity and the DTX decision.
    Word16 vad_buf[L_FRAME];
    std::memcpy(vad_buf, new_speech, sizeof vad_buf);
    amr_wb_Scale_sig(vad_buf, L_FRAME, sub(1, Q_new));
    Word16 vad_flag = amr_wb_vad(&st->vadSt, vad_buf);
    st->vad_hist = vad_flag == 0 ? add(st->vad_hist, 1) : 0;
    if (allow_dtx != 0) {
        amr_wb_tx_dtx_handler(&st->dtx_encSt, vad_flag, mode);
        *ser_size = amr_wb_nb_of_bits[*mode];
    }
    if (*mode != 9) amr_wb_Parm_serial(vad_flag, 1, &prms);

    // LP analysis on the whole buffer.
    Word32 r[17];
    Word16 A[4 * (M + 1)], rc[M], ispnew[M], isf[M];
    amr_wb_Autocorr(old_speech, r);
    amr_wb_Lag_window(r);
    amr_wb_Levinson(st->mem_levinson, r, A, rc);
    amr_wb_Az_isp(A, ispnew, st->ispold);
    amr_wb_Int_isp(st->ispold, ispnew, A);
    std::memcpy(st->ispold, ispnew, sizeof ispnew);
    amr_wb_Isp_isf(ispnew, isf);
    amr_wb_Gp_clip_test_isf(isf, st->gp_clip);

    // Open-loop pitch on the decimated weighted speech.
    Word16 wsp_buf[115 + L_FRAME];
    Word16* wsp = wsp_buf + 115;
    std::memcpy(wsp_buf, st->old_wsp, 115 * sizeof(Word16));
    Word16 Ap[M + 1], wsp_shift;
    Word16 T_op = amr_wb_Pitch_OL(st, speech, wsp, exp, A, Ap, *ser_size, &wsp_shift);
    open_loop_step(st, T_op);
    T_op = static_cast<Word16>(T_op * 2);
    Word16 T_op2 = T_op;
    // Only 6.60 (132 bits) takes one lag for the whole frame; a SID frame (35 bits)
    // searches both halves like the other rates, which keeps the open-loop
    // memories where the first speech frame after the pause expects them.
    if (*ser_size != 132) {
        T_op2 = amr_wb_Pitch_med_ol(wsp + 64, 64, st->old_T0_med, &st->ol_gain, st->hp_wsp_mem, st->old_hp_wsp,
                                    st->ol_wght_flg);
        open_loop_step(st, T_op2);
        T_op2 = static_cast<Word16>(T_op2 * 2);
    }
    std::memcpy(st->old_wsp, wsp + 128 - 115, 115 * sizeof(Word16));
    shift = wsp_shift;

    Word16 exc_buf[L_OLD_EXC + L_FRAME + 1];
    std::memcpy(exc_buf, st->old_exc, L_OLD_EXC * sizeof(Word16));
    Word16* exc = exc_buf + L_OLD_EXC;
    amr_wb_Scale_sig(exc_buf, L_OLD_EXC, exp);

    Word16 exc2[L_FRAME];
    if (*mode == 9) {
        // SID frame: comfort-noise parameters, high-band memories kept current.
        amr_wb_Residu(A + 3 * (M + 1), speech, exc, L_FRAME);
        for (int i = 0; i < L_FRAME; ++i) exc2[i] = shr(exc[i], Q_new);
        Word32 L = amr_wb_Vec_L_sqa(exc2, L_FRAME, 0) >> 1;
        amr_wb_dtx_buffer(&st->dtx_encSt, isf, L, codec_mode);
        amr_wb_dtx_enc(&st->dtx_encSt, isf, exc2, &prms);
        Word16 isp[M], Aq[M + 1];
        amr_wb_Isf_isp(isf, isp, M);
        amr_wb_Isp_Az(isp, Aq, M, 0);
        for (int sf = 0; sf < 4; ++sf) amr_wb_cod_synthesis(Aq, exc2 + 64 * sf, 0, speech16k + 80 * sf, st);
        std::memcpy(st->isfold, isf, sizeof isf);
        amr_wb_Reset_encoder(st, 0);
        std::memcpy(st->old_speech, old_speech + L_TOTAL - 128, 128 * sizeof(Word16));
        if (homing) amr_wb_Reset_encoder(st, 1);
        amr_wb_FrameRestore_NEON(area);
        return;
    }

    // ISF quantisation and the quantised filters.
    Word16 indice[8];
    if (*ser_size <= 132) {
        amr_wb_Qpisf_2s_36B(isf, isf, st->past_isfq, indice);
        const Word16 w[5] = {8, 8, 7, 7, 6};
        for (int k = 0; k < 5; ++k) amr_wb_Parm_serial(indice[k], w[k], &prms);
    } else {
        amr_wb_Qpisf_2s_46b(isf, isf, st->past_isfq, indice);
        const Word16 w[7] = {8, 8, 6, 7, 7, 5, 5};
        for (int k = 0; k < 7; ++k) amr_wb_Parm_serial(indice[k], w[k], &prms);
    }
    const Word16 stab_fac = amr_wb_CheckStability(isf, st->isfold);
    std::memcpy(st->isfold, isf, sizeof isf);
    Word16 ispnew_q[M], Aq[4 * (M + 1)];
    amr_wb_Isf_isp(isf, ispnew_q, M);
    if (st->first_frame) {
        st->first_frame = 0;
        std::memcpy(st->ispold_q, ispnew_q, sizeof ispnew_q);
    }
    amr_wb_Int_isp(st->ispold_q, ispnew_q, Aq);
    std::memcpy(st->ispold_q, ispnew_q, sizeof ispnew_q);

    for (int sf = 0; sf < 4; ++sf) amr_wb_Residu(Aq + 17 * sf, speech + 64 * sf, exc + 64 * sf, 64);
    if (vad_flag == 0) {
        for (int i = 0; i < L_FRAME; ++i) exc2[i] = shr(exc[i], Q_new);
        Word32 L = amr_wb_Vec_L_sqa(exc2, L_FRAME, 0) >> 1;
        amr_wb_dtx_buffer(&st->dtx_encSt, isf, L, codec_mode);
    }

    Word16 T0_min, T0_max;
    lag_range(T_op, &T0_min, &T0_max);
    const Word16 nbbits = kCb[*mode < 7 ? *mode : 7].bits;
    for (int sf = 0; sf < 4; ++sf) {
        const int i_subfr = sf * L_SUBFR;
        const Word16* p_A = A + 17 * sf;
        const Word16* p_Aq = Aq + 17 * sf;
        Word16 pit_flag = static_cast<Word16>(i_subfr);
        if (i_subfr == 128 && *ser_size > 132) {
            pit_flag = 0;
            lag_range(T_op2, &T0_min, &T0_max);
        }

        // Target signal.
        Word16 error[M + L_SUBFR], xn[L_SUBFR];
        for (int i = 0; i < M; ++i) error[i] = sub(speech[i_subfr - M + i], st->mem_syn[i]);
        amr_wb_Residu(p_Aq, speech + i_subfr, exc + i_subfr, 64);
        amr_wb_Syn_filt_M_inplace(p_Aq, exc + i_subfr, error + M, 64);
        amr_wb_Weight_a_M(p_A, Ap, amr_wb_Weight_a_GAMMA1_M);
        amr_wb_Residu(Ap, error + M, xn, 64);
        amr_wb_Deemph2(xn, 64, &st->mem_w0);

        // Codebook target.
        Word16 cbuf[M + 32] = {}, cn[L_SUBFR];
        std::memcpy(cbuf + M, xn, 32 * sizeof(Word16));
        Word16 zero = 0;
        amr_wb_Preemph2(cbuf + M, &zero);
        amr_wb_Syn_filt_M_inplace(Ap, cbuf + M, cbuf + M, 32);
        amr_wb_Residu(p_Aq, cbuf + M, cn, 32);
        std::memcpy(cn + 32, exc + i_subfr + 32, 32 * sizeof(Word16));

        // Impulse response of the weighted synthesis filter.
        Word16 h_in[L_SUBFR] = {}, h1[L_SUBFR], h2[L_SUBFR];
        std::memcpy(h_in, Ap, (M + 1) * sizeof(Word16));
        amr_wb_Imp_Resp(p_Aq, h_in, h1);
        zero = 0;
        amr_wb_Deemph2(h1, 64, &zero);
        amr_wb_Scale_sig2out(h1, h2);
        amr_wb_Scale_sig(xn, L_SUBFR, shift);
        amr_wb_Scale_sig(h1, L_SUBFR, static_cast<Word16>(1 + shift));

        // Closed-loop pitch and its coding.
        Word16 T0, T0_frac;
        if (*ser_size <= 177) {
            T0 = amr_wb_Pitch_fr4(exc + i_subfr, xn, h1, T0_min, T0_max, &T0_frac, pit_flag, 34, 92);
            if (pit_flag == 0) {
                Word16 index = T0 < 92 ? static_cast<Word16>(2 * T0 + (T0_frac >> 1) - 68) : static_cast<Word16>(T0 + 24);
                amr_wb_Parm_serial(index, 8, &prms);
                lag_range(T0, &T0_min, &T0_max);
            } else {
                amr_wb_Parm_serial(static_cast<Word16>((4 * (T0 - T0_min) + T0_frac) >> 1), 5, &prms);
            }
        } else {
            T0 = amr_wb_Pitch_fr4(exc + i_subfr, xn, h1, T0_min, T0_max, &T0_frac, pit_flag, 128, 160);
            if (pit_flag == 0) {
                Word16 index = T0 < 128   ? static_cast<Word16>(4 * T0 + T0_frac - 136)
                               : T0 < 160 ? static_cast<Word16>(2 * T0 + (T0_frac >> 1) + 120)
                                          : static_cast<Word16>(T0 + 280);
                amr_wb_Parm_serial(index, 9, &prms);
                lag_range(T0, &T0_min, &T0_max);
            } else {
                amr_wb_Parm_serial(static_cast<Word16>(4 * (T0 - T0_min) + T0_frac), 6, &prms);
            }
        }

        // Adaptive codebook, unfiltered or low-pass filtered.
        const Word16 clip = amr_wb_Gp_clip(st->gp_clip);
        amr_wb_Pred_lt4(exc + i_subfr, T0, T0_frac);
        Word16 hrev[68];
        amr_wb_ReverseImpResp(h1, hrev);
        Word16 y1[L_SUBFR], y2[L_SUBFR], xn2[L_SUBFR], dn[L_SUBFR], code_p2[1 + L_SUBFR + 1] = {};
        Word16* code = code_p2 + 1;
        Word16 g_coeff[4], g_coeff2[4], gain1 = 0, gain_pit;
        if (*ser_size > 177) {
            amr_wb_ConvolveFwdH(exc + i_subfr, hrev, y1);
            gain1 = amr_wb_G_pitch(xn, y1, g_coeff);
            if (clip && gain1 > 15565) gain1 = 15565;
            amr_wb_Updt_tar(xn, dn, y1, gain1);
        }
        amr_wb_Pitch_Excitation_LP(exc, code, static_cast<Word16>(i_subfr));
        amr_wb_ConvolveFwdH(code, hrev, y2);
        Word16 gain2 = amr_wb_G_pitch(xn, y2, g_coeff2);
        if (clip && gain2 > 15565) gain2 = 15565;
        amr_wb_Updt_tar(xn, xn2, y2, gain2);
        Word16 select = 0;
        if (*ser_size > 177) {
            Word32 e1 = amr_wb_Vec_L_sqa(dn, 64, 0), e2 = amr_wb_Vec_L_sqa(xn2, 64, 0);
            if (e1 <= e2) select = 1;
            amr_wb_Parm_serial(select, 1, &prms);
        }
        if (select == 0) {
            gain_pit = gain2;
            std::memcpy(exc + i_subfr, code, 64 * sizeof(Word16));
            std::memcpy(y1, y2, sizeof y1);
            std::memcpy(g_coeff, g_coeff2, sizeof g_coeff);
        } else {
            gain_pit = gain1;
            std::memcpy(xn2, dn, sizeof xn2);
        }

        // Algebraic codebook.
        amr_wb_Updt_tar(cn, cn, exc + i_subfr, gain_pit);
        amr_wb_Scale_sig(cn, L_SUBFR, shift);
        zero = 0;
        amr_wb_Preemph(h2, st->tilt_code, &zero);
        if (T0_frac > 2) T0 = static_cast<Word16>(T0 + 1);
        amr_wb_Pit_shrp(h2, T0);
        amr_wb_cor_h_x(h2, xn2, dn);
        if (*ser_size <= 132) {
            amr_wb_ACELP_2t64_fx(dn, cn, h2, code, y2, indice);
            amr_wb_Parm_serial(indice[0], 12, &prms);
        } else {
            const CbWidths& w = kCb[*mode < 7 ? *mode : 7];
            amr_wb_ACELP_4t64_fx(dn, cn, h2, code, y2, nbbits, *ser_size, indice);
            for (int k = 0; k < 4; ++k) amr_wb_Parm_serial(indice[k], w.lo[k], &prms);
            if (nbbits >= 64)
                for (int k = 0; k < 4; ++k) amr_wb_Parm_serial(indice[4 + k], w.hi[k], &prms);
        }
        zero = 0;
        amr_wb_Preemph(code, st->tilt_code, &zero);
        amr_wb_Pit_shrp(code, T0);

        // Gains.
        Word32 L_gain_code;
        Word16 gbits = *ser_size <= 177 ? 6 : 7;
        Word16 index = amr_wb_Q_gain2(xn, y1, add(Q_new, shift), y2, code, g_coeff, gbits, &gain_pit, &L_gain_code,
                                      clip, st->qua_gain);
        amr_wb_Parm_serial(index, gbits, &prms);
        amr_wb_Gp_clip_test_gain_pit(gain_pit, st->gp_clip);
        Word16 gain_code = round16(L_shl(L_gain_code, Q_new));

        Word16 exc_s[L_SUBFR];
        std::memcpy(exc_s, exc + i_subfr, sizeof exc_s);
        amr_wb_Scale_sig(exc_s, L_SUBFR, shift);
        Word16 voice_fac = amr_wb_voice_factor(exc_s, shift, gain_pit, code, gain_code);
        st->tilt_code = add(shr(voice_fac, 2), 8192);

        st->mem_w0 = amr_wb_UpdateFilterMem(xn, y1, y2, gain_code, gain_pit, shift);
        Word16 adaptive[L_SUBFR];
        if (*ser_size >= 477) std::memcpy(adaptive, exc + i_subfr, sizeof adaptive);
        amr_wb_TotalExcitation_LP(code, exc + i_subfr, gain_code, gain_pit);
        Word16 syn[M + L_SUBFR];
        std::memcpy(syn, st->mem_syn, M * sizeof(Word16));
        amr_wb_Syn_filt_M_inplace(p_Aq, exc + i_subfr, syn + M, 64);
        std::memcpy(st->mem_syn, syn + L_SUBFR, M * sizeof(Word16));

        if (*ser_size >= 477) {
            amr_wb_NoiseEnhancer(voice_fac, stab_fac, &L_gain_code, &st->L_gc_thres);
            Word16 code2[L_SUBFR];
            amr_wb_PitchEnhance_LP(code, code2, add(shr(voice_fac, 3), 4096));
            gain_code = round16(L_shl(L_gain_code, Q_new));
            amr_wb_TotalExcitation_LP(code2, adaptive, gain_code, gain_pit);
            Word16 corr_gain = amr_wb_cod_synthesis(p_Aq, adaptive, Q_new, speech16k + 80 * sf, st);
            amr_wb_Parm_serial(corr_gain, 4, &prms);
        }
    }
    std::memcpy(st->old_speech, old_speech + L_TOTAL - 128, 128 * sizeof(Word16));
    std::memcpy(st->old_exc, exc_buf + L_FRAME, L_OLD_EXC * sizeof(Word16));
    if (homing) amr_wb_Reset_encoder(st, 1);
    amr_wb_FrameRestore_NEON(area);
}
