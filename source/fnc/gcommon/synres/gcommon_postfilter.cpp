// Reduced-complexity adaptive post-filter: pitch post-filter on the residual of A(z/0.55), tilt
// compensation, short-term synthesis through 1/A(z/0.70) and adaptive gain control.
#include "g729_internal.h"
#include "gcommon_internal.h"

namespace gcommon {

void g729aAgc(const SINT16* sig_in, SINT16* sig_out, SINT16* past_gainp) { g729::g729ab_agc(sig_in, sig_out, past_gainp); }

void g729aPreemphasis(SINT16* signal, SINT16 g, SINT16* mem_pre) { g729::g729ab_preemphasis(mem_pre, signal, g); }

SINT16 g729aPit_pst_filt(const SINT16* signal, const SINT16* scal_sig, int t0_min, int t0_max, SINT16* signal_pst) {
    SINT32 cor_max = INT32_MIN;
    int T = t0_min;
    for (int t = t0_min; t <= t0_max; ++t) {
        SINT32 c = 0;
        for (int i = 0; i < 40; ++i) c = L_mac(c, scal_sig[i], scal_sig[i - t]);
        if (c > cor_max) {
            cor_max = c;
            T = t;
        }
    }
    SINT32 ener = 1, ener0 = 1;
    for (int i = 0; i < 40; ++i) {
        ener = L_mac(ener, scal_sig[i - T], scal_sig[i - T]);
        ener0 = L_mac(ener0, scal_sig[i], scal_sig[i]);
    }
    if (cor_max < 0) cor_max = 0;
    SINT32 top = cor_max;
    if (ener > top) top = ener;
    if (ener0 > top) top = ener0;
    const SINT16 j = norm_l(top);
    SINT16 cmax = ::round(L_shl(cor_max, j));
    SINT16 en = ::round(L_shl(ener, j));
    const SINT16 en0 = ::round(L_shl(ener0, j));
    if (L_sub(L_mult(cmax, cmax), L_shr(L_mult(en, en0), 1)) < 0) return 1;
    SINT16 g0, gain;
    if (cmax > en) {
        g0 = 21845;
        gain = 10923;
    } else {
        cmax = shr(cmax, 2);
        const SINT16 d = add(cmax, shr(en, 1));
        if (d < 1) {
            g0 = 32767;
            gain = 0;
        } else {
            gain = div_s_itu(cmax, d);
            g0 = static_cast<SINT16>(32767 - gain);
        }
    }
    for (int i = 0; i < 40; ++i) signal_pst[i] = static_cast<SINT16>(mult(g0, signal[i]) + mult(gain, signal[i - T]));
    return 0;
}

namespace {
SINT16 tiltFactor(const SINT16* Ap3, const SINT16* Ap4) {
    SINT16 buf[10 + 24] = {};
    SINT16* h = buf + 10;
    h[0] = 4096;
    for (int i = 0; i < 10; ++i) h[i + 1] = Ap3[i];
    g729aSyn_filt(Ap4, h, h, 24);
    SINT32 r0 = 0, r1 = 0;
    for (int i = 0; i < 22; ++i) r0 = L_mac(r0, h[i], h[i]);
    for (int i = 0; i < 21; ++i) r1 = L_mac(r1, h[i], h[i + 1]);
    const SINT16 t1 = extract_h(r0), t2 = extract_h(r1);
    if (t2 <= 0) return 0;
    return div_s_itu(mult(t2, 26214), t1);
}
}  // namespace

void g729aPost_Filter(G729ABDECSTATE* statep, SINT16* syn, const SINT16* Az_4, const SINT16* T, SINT16 Vad) {
    G729ABDEC& st = statep->stateVar;
    SINT16 synBuf[10 + 80];  // synthesis-filter memory, then the unscaled outputs
    BlockShortCopy(10, st.mem_syn_pst, synBuf);
    SINT16 out[80];
    for (int k = 0; k < 2; ++k) {
        const SINT16* Az = Az_4 + 10 * k;
        int t0_max = T[k] + 3, t0_min = T[k] - 3;
        if (t0_max > 143) {
            t0_max = 143;
            t0_min = 137;
        }
        SINT16 Ap3[10], Ap4[10];
        g729Weight_Az(Az, 18022, 10, Ap3);
        g729Weight_Az(Az, 22938, 10, Ap4);
        SINT16* res2 = st.res2_buf + 144;
        SINT16* scal = st.scal_res2_buf + 144;
        g729aResidual(Ap3, syn + 40 * k, res2);
        for (int i = 0; i < 40; ++i) scal[i] = shr(res2[i], 2);
        SINT16 res2_pst[40];
        if (Vad != 1 || g729aPit_pst_filt(res2, scal, t0_min, t0_max, res2_pst) == 1) BlockShortCopy(40, res2, res2_pst);
        g729aPreemphasis(res2_pst, tiltFactor(Ap3, Ap4), &st.mem_pre);
        SINT16* y = synBuf + 10 + 40 * k;
        g729aSyn_filt(Ap4, res2_pst, y, 40);
        BlockShortCopy(40, y, out + 40 * k);
        g729aAgc(syn + 40 * k, out + 40 * k, &st.past_gain);
        QRN_memcpy(st.res2_buf, st.res2_buf + 40, 144 * 2);
        QRN_memcpy(st.scal_res2_buf, st.scal_res2_buf + 40, 144 * 2);
    }
    BlockShortCopy(10, synBuf + 80, st.mem_syn_pst);
    BlockShortCopy(10, syn + 70, syn - 10);
    BlockShortCopy(80, out, syn);
}

}  // namespace gcommon
