// G.729 Annex A encoder frame with the Annex B VAD and DTX hooked in.
#include <cstring>

#include "g729_internal.h"

namespace g729 {

namespace {
// 40 samples of 1/A(z) with the given 10-word memory (oldest first); optionally returns the
// last 10 outputs as the new memory.
void synWithMem(const W16* a, const W16* x, W16* y, W16* mem, bool update) {
    W16 buf[12 + 40];
    buf[0] = 0;
    buf[1] = 0;
    g729ab_Copy10(mem, buf + 2);
    g729ab_Syn_filt2(a, x, buf + 12);
    g729ab_Copy(buf + 12, y, 40);
    if (update) g729ab_Copy10(buf + 42, mem);
}

void weightingFilter(const W16* Ap, W16* Ap1) {
    Ap1[0] = 4096;
    g729ab_Vec_SubMult(Ap + 1, Ap, Ap1 + 1, 22938, 10);
}
}  // namespace

void g729ab_Init_Coder_ld8a(G729NUNIENC* st, W16 vad) {
    std::memset(static_cast<void*>(st), 0, sizeof(*st));
    st->new_speech = st->old_speech + 160;
    st->speech = st->old_speech + 120;
    st->p_window = st->old_speech;
    st->old_wsp = st->old_wsp_p1 + 1;
    st->wsp = st->old_wsp_p1 + 144;
    st->exc = st->old_exc + 154;
    st->sharp = kSharpMin;
    g729ab_Copy10(g729ab_lsp_init.data(), st->lsp_old);
    g729ab_Copy10(g729ab_lsp_init.data(), st->lsp_old_q);
    for (int k = 0; k < 4; ++k) g729ab_Copy10(g729ab_freq_prev_reset.data(), st->freq_prev[k]);
    for (int k = 0; k < 4; ++k) st->L_exc_err[k] = 0x4000;
    g729ab_Set_const(st->past_qua_en, -14336, 4);
    st->pastVad = 1;
    st->ppastVad = 1;
    st->seed = 11111;
    st->flag = 1;
    st->Min = kMax16;
    st->Vad = static_cast<W16>(vad & 1);
    for (int i = 0; i < 3; ++i) st->sh_sumAcf[i] = 40;
    for (int i = 0; i < 2; ++i) {
        st->sh_Acf[i] = 40;
        st->sh_ener[i] = 40;
    }
}

void g729ab_Coder_ld8a(const W16* in, W16* serial, G729NUNIENC* st) {
    W16* old_speech = st->old_speech;
    W16* speech = old_speech + 120;
    W16* p_window = old_speech;
    W16* wsp = st->old_wsp_p1 + 144;
    W16* exc = st->old_exc + 154;

    W16 prm[12] = {};
    // The filter keeps its input history in the two words in front of its input: use our own
    // buffer so the caller's memory is never touched.
    W16 inbuf[2 + kFrame];
    g729ab_Copy(in, inbuf + 2, kFrame);
    g729ab_Pre_Process(&st->st, inbuf + 2, old_speech + 160, 0);

    W32 r[13];
    W16 exp_R0 = g729ab_Autocorr(p_window, r, g729ab_hamwindow.data());
    W16 r_h[12];
    for (int i = 0; i < 12; ++i) r_h[i] = dp_hi(r[i]);
    g729ab_Lag_window(r);
    W16 A[11], rc[10], err = 0;
    g729ab_Levinson(r, A, st->old_A, rc, st->old_rc, &err);
    W16 lsp_new[10], lsf_new[10];
    g729ab_Az_lsp(A, lsp_new, st->lsp_old);
    g729ab_Lsp_lsf(lsp_new, lsf_new);
    W16 vad = 1;
    g729ab_vad(rc[1], lsf_new, r, exp_R0, p_window, st->pastVad, st->ppastVad, &vad, st);
    g729ab_Update_cng(exp_R0, vad, r_h, st);

    W16 Aq_t[22], Ap_t[22], Ap1[11];
    if (vad == 0 && st->Vad == 1) {
        g729ab_Cod_cng(exc, st->pastVad, st->lsp_old_q, Aq_t, prm, st->freq_prev, &st->seed, st->L_exc_err, st);
        st->ppastVad = st->pastVad;
        st->pastVad = vad;
        for (int s = 0; s < 2; ++s) {
            const int i = kSubfr * s;
            const W16* Aq = Aq_t + 11 * s;
            W16 xn[40];
            g729ab_Residu(Aq, speech + i, xn);
            W16 Ap[11];
            g729ab_Weight_Az(Aq, g729ab_gamma1_tab.data(), Ap);
            weightingFilter(Ap, Ap1);
            g729ab_Syn_filt2(Ap1, xn, wsp + i);
            g729ab_Vec_Sub(xn, exc + i, xn, 40);
            synWithMem(Ap, xn, xn, st->mem_w0, true);
        }
        st->sharp = kSharpMin;
    } else {
        prm[0] = 1;
        st->seed = 11111;
        st->ppastVad = st->pastVad;
        st->pastVad = vad;
        W16 lsp_new_q[10];
        g729ab_Qua_lsp(lsp_new, lsp_new_q, st->freq_prev, prm + 1);
        g729ab_Int_qlpc(st->lsp_old_q, lsp_new_q, Aq_t);
        g729ab_Weight_Az(Aq_t, g729ab_gamma1_tab.data(), Ap_t);
        g729ab_Weight_Az(Aq_t + 11, g729ab_gamma1_tab.data(), Ap_t + 11);
        g729ab_Copy10(lsp_new, st->lsp_old);
        g729ab_Copy10(lsp_new_q, st->lsp_old_q);

        g729ab_Residu(Aq_t, speech, exc);
        g729ab_Residu(Aq_t + 11, speech + kSubfr, exc + kSubfr);
        for (int s = 0; s < 2; ++s) {
            weightingFilter(Ap_t + 11 * s, Ap1);
            g729ab_Syn_filt2(Ap1, exc + kSubfr * s, wsp + kSubfr * s);
        }
        W16 T_op = g729ab_Pitch_ol_fast(wsp);
        W16 T0_min = static_cast<W16>(T_op - 3);
        if (T0_min < kPitMin) T0_min = kPitMin;
        W16 T0_max = static_cast<W16>(T0_min + 6);
        if (T0_max > kPitMax) {
            T0_max = kPitMax;
            T0_min = kPitMax - 6;
        }

        W16* ana = prm + 3;
        for (int s = 0; s < 2; ++s) {
            const int i = kSubfr * s;
            const W16* Ap = Ap_t + 11 * s;
            W16 h1[40], xn[40], y1[40], xn2[40], code[40], y2[40];
            W16 zeroMem[10] = {};
            synWithMem(Ap, g729ab_zero_tab.data(), h1, zeroMem, false);
            synWithMem(Ap, exc + i, xn, st->mem_w0, false);
            W16 T0_frac;
            W16 T0 = g729ab_Pitch_fr3_fast(exc + i, xn, h1, T0_min, T0_max, i, &T0_frac);
            W16 index = g729ab_Enc_lag3(T0, T0_frac, &T0_min, &T0_max, i);
            *ana++ = index;
            if (s == 0) *ana++ = g729ab_Parity_Pitch(index);
            synWithMem(Ap, exc + i, y1, zeroMem, false);
            W16 g_coeff[4];
            W16 gain_pit = g729ab_G_pitch(xn, y1, g_coeff);
            int taming = g729ab_test_err(T0, T0_frac, st->L_exc_err);
            if (taming == 1 && gain_pit > 15564) gain_pit = 15564;
            g729ab_CalcTargetVec(y1, xn, gain_pit, xn2);
            W16 sign;
            *ana++ = g729ab_ACELP_Code_A(xn2, h1, T0, st->sharp, code, y2, &sign);
            *ana++ = sign;
            W16 g_coeff_cs[5], exp_g_coeff_cs[5];
            g_coeff_cs[0] = g_coeff[0];
            exp_g_coeff_cs[0] = negate(g_coeff[1]);
            g_coeff_cs[1] = negate(g_coeff[2]);
            exp_g_coeff_cs[1] = negate(add(g_coeff[3], 1));
            g729ab_Corr_xy2(xn, y1, y2, g_coeff_cs, exp_g_coeff_cs);
            W16 gain_code;
            *ana++ = g729ab_Qua_gain(code, g_coeff_cs, exp_g_coeff_cs, st->past_qua_en, &gain_pit, &gain_code, taming);
            st->sharp = gain_pit;
            if (st->sharp > kSharpMax) st->sharp = kSharpMax;
            if (st->sharp < kSharpMin) st->sharp = kSharpMin;
            g729ab_TotalExc(exc + i, code, gain_pit, gain_code, 1);
            g729ab_update_exc_err(gain_pit, T0, st->L_exc_err);
            for (int j = 30; j < 40; ++j) {
                W16 t1 = static_cast<W16>((W32{y1[j]} * gain_pit) >> 14);
                W16 t2 = static_cast<W16>((W32{y2[j]} * gain_code) >> 13);
                st->mem_w0[j - 30] = sub(xn[j], add(t1, t2));
            }
        }
    }

    g729ab_Copy(old_speech + kFrame, old_speech, 160);
    g729ab_Copy(st->old_wsp_p1 + 1 + kFrame, st->old_wsp_p1 + 1, 143);
    g729ab_Copy(st->old_exc + kFrame, st->old_exc, 154);
    g729ab_prm2bits_ld8k(prm, serial);
}

}  // namespace g729
