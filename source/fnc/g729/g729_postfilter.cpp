// Adaptive post-filter of G.729 Annex A: long-term (pitch) filter on the residual of A(z/0.55),
// short-term filter 1/A(z/0.70), tilt compensation and adaptive gain control.
#include "g729_internal.h"

namespace g729 {

void g729ab_Vec_copy_shr(const W16* in, W16* out1, W16* out2) {
    for (int i = 0; i < 143; ++i) {
        out1[i] = in[i];
        out2[i] = static_cast<W16>(in[i] >> 2);
    }
}

W32 g729ab_Pitch_delay_correlate(const W16* scal_sig, int t0_min, int t0_max, W16* t0) {
    W32 best = kMin32;
    *t0 = static_cast<W16>(t0_min);
    // One bound for all the lags: when it holds, each correlation is a plain sum.
    const bool plain = g729SumsCannotSaturate(scal_sig, 40, scal_sig - t0_max, t0_max - t0_min + 40, 40);
    for (int t = t0_min; t <= t0_max; ++t) {
        W32 c = plain ? g729PlainSums(scal_sig, scal_sig - t, 40) : g729ab_Vec_L_mac8(scal_sig, scal_sig - t, 40, 0);
        if (c > best) {
            best = c;
            *t0 = static_cast<W16>(t);
        }
    }
    return best;
}

void g729ab_pit_pst_filt_loop(const W16* signal, W16* signal_pst, W16 gain, W16 g0, int t0) {
    for (int i = 0; i < 40; ++i) signal_pst[i] = add(mult(g0, signal[i]), mult(gain, signal[i - t0]));
}

void g729ab_pit_pst_filt(const W16* signal, const W16* scal_sig, int t0_min, int t0_max, W16* signal_pst) {
    W16 t0;
    W32 cor_max = g729ab_Pitch_delay_correlate(scal_sig, t0_min, t0_max, &t0);
    W32 ener = g729ab_Vec_L_sqa_40(scal_sig - t0, 1);
    W32 ener0 = g729ab_Vec_L_sqa_40(scal_sig, 1);
    if (cor_max < 0) cor_max = 0;
    W32 temp = cor_max;
    if (ener > temp) temp = ener;
    if (ener0 > temp) temp = ener0;
    W16 j = norm_l(temp);
    W16 cmax = round16(L_shl(cor_max, j));
    W16 en = round16(L_shl(ener, j));
    W16 en0 = round16(L_shl(ener0, j));
    temp = L_sub(L_mult(cmax, cmax), L_shr(L_mult(en, en0), 1));
    if (temp < 0) {
        for (int i = 0; i < 40; ++i) signal_pst[i] = signal[i];
        return;
    }
    W16 gain, g0;
    if (cmax > en) {
        gain = 10923;
        g0 = 21845;
    } else {
        cmax = static_cast<W16>(cmax >> 2);
        en = static_cast<W16>(en >> 1);
        W16 i = add(cmax, en);
        if (i > 0) {
            gain = g729ab_div_s(cmax, i);
            g0 = static_cast<W16>(32767 - gain);
        } else {
            gain = 0;
            g0 = 32767;
        }
    }
    g729ab_pit_pst_filt_loop(signal, signal_pst, gain, g0, t0);
}

void g729ab_agc(const W16* sig_in, W16* sig_out, W16* past_gain) {
    W32 s = g729a_agc_nrg(sig_out);
    if (s == 0) {
        *past_gain = 0;
        return;
    }
    W16 exp = static_cast<W16>(norm_l(s) - 1);
    W16 gain_out = round16(L_shl(s, exp));
    s = g729a_agc_nrg(sig_in);
    W16 g0;
    if (s == 0) {
        g0 = 0;
    } else {
        W16 i = norm_l(s);
        W16 gain_in = round16(L_shl(s, i));
        W32 t = L_shl(L_deposit_l(g729ab_div_s(gain_out, gain_in)), 7);
        t = L_shr(t, exp - i);
        t = g729ab_Inv_sqrt(t);
        g0 = mult(round16(L_shl(t, 9)), 3276);
    }
    W16 gains[41];
    gains[0] = *past_gain;
    g729ab_agcLoop(sig_out, gains, g0);
    *past_gain = gains[40];
}

namespace {
W16 tiltFactor(const W16* Ap3, const W16* Ap4) {
    W16 x[40] = {};
    for (int i = 0; i < 11; ++i) x[i] = Ap3[i];
    W16 hb[12 + 40] = {};
    W16* h = hb + 12;
    // Only the first 22 samples of the impulse response are read.
    if (g729SynPlainAllowed(Ap4))
        g729SynFiltPlainSse2(Ap4, x, h, 24);
    else
        g729ab_Syn_filt2(Ap4, x, h);
    W32 r0 = 0, r1 = 0;
    for (int i = 0; i < 22; ++i) r0 = static_cast<W32>(static_cast<std::uint32_t>(r0) + static_cast<std::uint32_t>(W32{h[i]} * h[i]));
    for (int i = 0; i < 21; ++i) r1 = static_cast<W32>(static_cast<std::uint32_t>(r1) + static_cast<std::uint32_t>(W32{h[i]} * h[i + 1]));
    W16 t1 = static_cast<W16>(r0 >> 15);
    W16 t2 = static_cast<W16>(r1 >> 15);
    if (t2 <= 0) return 0;
    return g729ab_div_s(mult(t2, 26214), t1);
}
}  // namespace

void g729ab_Post_Filter(W16* synth, G729NUNIDEC* st, const W16* Az_4, const W16* T, W16 vad) {
    W16 work[10 + kFrame];
    g729ab_Copy10(st->syn_mem, work);
    g729ab_Copy(synth, work + 10, kFrame);
    const W16* syn_in = work + 10;
    W16 res2[143 + kFrame], scal[143 + kFrame];
    g729ab_Vec_copy_shr(st->res2_buf, res2, scal);
    W16 out_buf[12 + kFrame];
    out_buf[0] = 0;
    out_buf[1] = 0;
    g729ab_Copy10(st->mem_syn_pst, out_buf + 2);
    W16* syn = out_buf + 12;

    for (int s = 0; s < 2; ++s) {
        const int i = kSubfr * s;
        const W16* Az = Az_4 + 11 * s;
        int t0_min = T[s] - 3, t0_max = T[s] + 3;
        if (t0_max > kPitMax) {
            t0_max = kPitMax;
            t0_min = kPitMax - 6;
        }
        W16 Ap3[11], Ap4[11];
        g729ab_Weight_Az(Az, g729ab_gamma2pst_tab.data(), Ap3);
        g729ab_Weight_Az(Az, g729ab_gamma1pst_tab.data(), Ap4);
        W16* r = res2 + 143 + i;
        W16* sc = scal + 143 + i;
        g729ab_Residu(Ap3, syn_in + i, r);
        for (int j = 0; j < 40; ++j) sc[j] = static_cast<W16>(r[j] >> 2);
        W16 res2_pst[40];
        if (vad == 1)
            g729ab_pit_pst_filt(r, sc, t0_min, t0_max, res2_pst);
        else
            g729ab_Copy(r, res2_pst, 40);
        W16 k = tiltFactor(Ap3, Ap4);
        g729ab_preemphasis(&st->mem_pre, res2_pst, k);
        g729ab_Syn_filt2(Ap4, res2_pst, syn + i);
    }
    g729ab_Copy(res2 + kFrame, st->res2_buf, 143);
    g729ab_Copy10(syn + 70, st->mem_syn_pst);
    g729ab_agc(syn_in, syn, &st->past_gain);
    g729ab_agc(syn_in + 40, syn + 40, &st->past_gain);
    g729ab_Copy10(syn_in + 70, st->syn_mem);
    g729ab_Copy(syn, synth, kFrame);
}

}  // namespace g729
