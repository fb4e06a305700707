// Comfort noise of G.729 Annex B: the random excitation shared by encoder and decoder, and the
// decoder's SID decoding and gain smoothing.
#include "g729_internal.h"

namespace g729 {

W16 g729ab_Gen_exc_params(W16* sign, W16* pos, W16* seed, W16* t0) {
    W16 r = Random(seed);
    W16 frac = static_cast<W16>((r & 3) - 1);
    if (frac == 2) frac = 0;
    *t0 = static_cast<W16>(((r >> 2) & 63) + 40);
    pos[0] = static_cast<W16>(5 * ((r >> 8) & 7));
    sign[0] = static_cast<W16>((r >> 11) & 1);
    pos[1] = static_cast<W16>(5 * ((r >> 12) & 7) + 1);
    sign[1] = static_cast<W16>((r >> 15) & 1);
    r = Random(seed);
    pos[2] = static_cast<W16>(5 * (r & 7) + 2);
    sign[2] = static_cast<W16>((r >> 3) & 1);
    W16 c = static_cast<W16>((r >> 4) & 15);
    pos[3] = static_cast<W16>((c & 1) + 3 + 5 * ((c >> 1) & 7));
    sign[3] = static_cast<W16>((r >> 8) & 1);
    return frac;
}

W32 g729ab_GaussLoop(W16* excg, W16* seed) {
    W32 E = 0;
    for (int i = 0; i < 40; ++i) {
        W32 s = 0;
        for (int k = 0; k < 12; ++k) s += Random(seed);
        excg[i] = static_cast<W16>(s >> 7);
        E = L_mac(E, excg[i], excg[i]);
    }
    return E;
}

W16 g729ab_Gen_exc_max(const W16* excg, W16* cur_exc, W16 Gp2) {
    W16 m = 0;
    for (int i = 0; i < 40; ++i) {
        cur_exc[i] = add(mult_r(cur_exc[i], Gp2), excg[i]);
        W16 a = abs_s(cur_exc[i]);
        if (a > m) m = a;
    }
    return m;
}

int g729ab_Calc_exc_rand_ops(const W16* excs, const W16* excg, const W16* pos, const W16* sign, W16* cur_exc, W16 cur_gain, W16 sh) {
    W32 Eexc = g729ab_Vec_L_sqa_40(excs, 0);
    W16 b = 0;
    for (int k = 0; k < 4; ++k) b = sign[k] ? add(b, excs[pos[k]]) : sub(b, excs[pos[k]]);
    b = static_cast<W16>(b >> 1);
    W32 k32 = L_mult(cur_gain, extract_l(L_mult(cur_gain, 40) >> 6));
    W32 D = L_sub(L_shr(k32, 2 * sh + 1), Eexc);
    D = L_mac(D, b, b);
    sh = static_cast<W16>(sh + 1);
    int dropped = 0;
    if (D < 0) {
        for (int i = 0; i < 40; ++i) cur_exc[i] = excg[i];
        W16 any = static_cast<W16>(abs_s(excg[pos[0]]) | abs_s(excg[pos[1]]) | abs_s(excg[pos[2]]) | abs_s(excg[pos[3]]));
        sh = (any & 0x4000) == 0 ? W16{1} : W16{2};
        b = 0;
        for (int k = 0; k < 4; ++k) {
            W16 v = shr(excg[pos[k]], sh);
            b = sign[k] ? add(b, v) : sub(b, v);
        }
        D = L_shr(static_cast<W32>(2 * ((std::int64_t{k32 & ~W32{1}} * 24576) >> 16)), 2 * sh - 1);
        D = L_mac(D, b, b);
        dropped = 1;
    }
    W16 s = g729ab_Sqrt(D);
    W16 x1 = sub(s, b);
    W16 x2 = negate(add(b, s));
    W16 x = abs_s(x2) < abs_s(x1) ? x2 : x1;
    int t = 2 - sh;
    W16 g;
    if (t > 0)
        g = static_cast<W16>(((x >> (t - 1)) + 1) >> 1);
    else if (t == 0)
        g = x;
    else
        g = shl(x, -t);
    if (g > 5000) g = 5000;
    if (g < -5000) g = -5000;
    for (int k = 0; k < 4; ++k) cur_exc[pos[k]] = sign[k] ? add(cur_exc[pos[k]], g) : sub(cur_exc[pos[k]], g);
    return dropped;
}

void g729ab_Calc_exc_rand(W16 cur_gain, W16* exc, W16* seed, W32* L_exc_err, int flag_cod) {
    if (cur_gain == 0) {
        for (int i = 0; i < kFrame; ++i) exc[i] = 0;
        if (flag_cod)
            for (int s = 0; s < 2; ++s) g729ab_update_exc_err(0, 41, L_exc_err);
        return;
    }
    for (int sf = 0; sf < kFrame; sf += kSubfr) {
        W16* cur_exc = exc + sf;
        W16 pos[4], sign[4], t0;
        W16 frac = g729ab_Gen_exc_params(sign, pos, seed, &t0);
        W16 Gp = static_cast<W16>(Random(seed) & 0x1FFF);
        W16 Gp2 = static_cast<W16>(Gp << 1);
        W16 excg[40], excs[40];
        W32 E = g729ab_GaussLoop(excg, seed);
        g729ab_Calc_exc_gain(excg, cur_gain, g729ab_Inv_sqrt(E >> 1));
        g729ab_Pred_lt_3_fast(cur_exc, t0, frac);
        W16 m = g729ab_Gen_exc_max(excg, cur_exc, Gp2);
        W16 sh = 0;
        if (m != 0) {
            sh = static_cast<W16>(3 - norm_s(m));
            if (sh < 0) sh = 0;
        }
        g729ab_Vec_shr_8(cur_exc, excs, sh, 40);
        if (g729ab_Calc_exc_rand_ops(excs, excg, pos, sign, cur_exc, cur_gain, sh)) Gp = 0;
        if (flag_cod) g729ab_update_exc_err(Gp, t0, L_exc_err);
    }
}

namespace {
using Fg = const W16 (*)[10];
Fg noiseFg(int m) { return reinterpret_cast<Fg>(g729ab_noise_fg[m].data()); }
}  // namespace

void g729ab_FixMinDist(W16* buf) {
    for (int j = 1; j < 10; ++j) {
        W32 acc = L_mult(buf[j - 1], 16384);
        acc = L_mac(acc, buf[j], -16384);
        acc = L_mac(acc, 10, 16384);
        W16 k = extract_h(acc);
        if (k > 0) {
            buf[j - 1] = sub(buf[j - 1], k);
            buf[j] = add(buf[j], k);
        }
    }
}

void g729ab_sid_lsfq_decode(const W16* index, W16* lspq, W16 (*freq_prev)[10]) {
    int m = index[0] & 1, p = index[1] & 31, c = index[2] & 15;
    W16 buf[10];
    for (int k = 0; k < 10; ++k) buf[k] = g729Lspcb1(g729ab_PtrTab_1[p], k);
    for (int k = 0; k < 5; ++k) buf[k] = add(buf[k], g729ab_lspcb2[g729ab_PtrTab_2[0][c]][k]);
    for (int k = 5; k < 10; ++k) buf[k] = add(buf[k], g729ab_lspcb2[g729ab_PtrTab_2[1][c]][k]);
    g729ab_FixMinDist(buf);
    W16 lsfq[10];
    g729ab_Lsp_prev_compose(buf, lsfq, noiseFg(m), freq_prev, g729ab_noise_fg_sum[m].data());
    g729ab_Lsp_prev_update(buf, freq_prev);
    g729ab_Lsp_stability(lsfq);
    g729ab_Lsf_lsp2(lsfq, lspq);
}

void g729ab_Dec_cng(W16 past_ftyp, W16 sid_sav, W16 sh_sid_sav, const W16* parm, W16* exc, W16* lsp_old, W16* A_t, W16* seed,
                    W16 (*freq_prev)[10], G729NUNIDEC* st) {
    SIDDEF& sid = st->Sid;
    W16 G;
    if (parm[0] != 0) {
        G = g729ab_tab_Sidgain[parm[4] & 31];
        g729ab_sid_lsfq_decode(parm + 1, sid.lspSid, freq_prev);
    } else if (past_ftyp == 1) {
        W16 enerq;
        W16 ener[1] = {sid_sav}, sh[1] = {sh_sid_sav};
        G = g729ab_tab_Sidgain[g729ab_Qua_Sidgain(ener, sh, 0, &enerq)];
    } else {
        G = sid.sid_gain;
    }
    if (past_ftyp == 1)
        sid.cur_gain = G;
    else
        sid.cur_gain = add(mult_r(sid.cur_gain, 28672), mult_r(G, 4096));
    sid.sid_gain = G;
    g729ab_Calc_exc_rand(sid.cur_gain, exc, seed, nullptr, 0);
    g729ab_Int_qlpc(lsp_old, sid.lspSid, A_t);
    g729ab_Copy10(sid.lspSid, lsp_old);
}

}  // namespace g729
