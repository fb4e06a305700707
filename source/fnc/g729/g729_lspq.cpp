// LSP quantisation (encoder) and decoding: the two-stage switched MA-predictive quantiser with
// its minimum-distance expansion, stability correction and predictor memory.
#include "g729_internal.h"

namespace g729 {

namespace {
using Fg = const W16 (*)[10];
Fg fgOf(const std::array<std::array<std::array<Tab16, 10>, 4>, 2>& t, int m) { return reinterpret_cast<Fg>(t[m].data()); }
}  // namespace

void g729ab_Lsp_expand_1_2(W16* buf, W16 gap) {
    for (int j = 1; j < 10; ++j) {
        W16 t = static_cast<W16>(add(sub(buf[j - 1], buf[j]), gap) >> 1);
        if (t > 0) {
            buf[j - 1] = sub(buf[j - 1], t);
            buf[j] = add(buf[j], t);
        }
    }
}

void g729ab_Lsp_stability(W16* buf) {
    for (int j = 0; j < 9; ++j)
        if (W32{buf[j + 1]} - buf[j] < 0) {
            W16 t = buf[j + 1];
            buf[j + 1] = buf[j];
            buf[j] = t;
        }
    if (buf[0] < 40) buf[0] = 40;
    for (int j = 0; j < 9; ++j)
        if (W32{buf[j + 1]} - buf[j] < 321) buf[j + 1] = add(buf[j], 321);
    if (buf[9] > 25681) buf[9] = 25681;
}

void g729ab_Lsp_prev_update(const W16* lsp_ele, W16 (*freq_prev)[10]) {
    for (int k = 3; k > 0; --k) g729ab_Copy10(freq_prev[k - 1], freq_prev[k]);
    g729ab_Copy10(lsp_ele, freq_prev[0]);
}

int g729ab_Lsp_last_select(const W32* L_tdist) { return L_tdist[1] < L_tdist[0] ? 1 : 0; }

void g729ab_Lsp_get_quant(int code0, int code1, int code2, const W16 (*fg)[10], W16 (*freq_prev)[10], W16* lsf_q, const W16* fg_sum) {
    W16 buf[10];
    for (int k = 0; k < 5; ++k) buf[k] = add(g729Lspcb1(code0, k), g729ab_lspcb2[code1][k]);
    for (int k = 5; k < 10; ++k) buf[k] = add(g729Lspcb1(code0, k), g729ab_lspcb2[code2][k]);
    g729ab_Lsp_expand_1_2(buf, 10);
    g729ab_Lsp_expand_1_2(buf, 5);
    g729ab_Lsp_prev_compose(buf, lsf_q, fg, freq_prev, fg_sum);
    g729ab_Lsp_prev_update(buf, freq_prev);
    g729ab_Lsp_stability(lsf_q);
}

void g729ab_Qua_lsp(const W16* lsp, W16* lsp_q, W16 (*freq_prev)[10], W16* ana) {
    W16 flsp[12];
    flsp[0] = 1029;
    flsp[11] = 23677;
    W16* lsf = flsp + 1;
    g729ab_Lsp_lsf2(lsp, lsf);
    W16 wegt[10];
    g729ab_Get_wegt(lsf, wegt);

    W16 cand[2], idx1[2], idx2[2];
    W32 tdist[2];
    for (int m = 0; m < 2; ++m) {
        W16 rbuf[10], cb1[10], buf[10];
        g729ab_Lsp_prev_extract(lsf, rbuf, fgOf(g729ab_fg, m), freq_prev, g729ab_fg_sum_inv[m].data());
        W32 c;
        g729ab_Lsp_pre_select(rbuf, g729ab_lspcb1_reorder.data(), &c);
        cand[m] = static_cast<W16>(c);
        for (int k = 0; k < 10; ++k) cb1[k] = g729Lspcb1(c, k);
        idx1[m] = static_cast<W16>(g729ab_Lsp_select_1(rbuf, cb1, wegt, g729ab_lspcb2a_reorder.data()));
        idx2[m] = static_cast<W16>(g729ab_Lsp_select_1(rbuf + 5, cb1 + 5, wegt + 5, g729ab_lspcb2b_reorder.data()));
        g729ab_Vec_Add(cb1, g729ab_lspcb2[idx1[m]].data(), buf, 5);
        g729ab_Vec_Add(cb1 + 5, g729ab_lspcb2[idx2[m]].data() + 5, buf + 5, 5);
        g729ab_Lsp_expand_1_2(buf, 10);
        g729ab_Lsp_get_tdist(wegt, buf, &tdist[m], rbuf, g729ab_fg_sum[m].data());
    }
    int mode = g729ab_Lsp_last_select(tdist);
    ana[0] = static_cast<W16>((mode << 7) | cand[mode]);
    ana[1] = static_cast<W16>((idx1[mode] << 5) | idx2[mode]);
    W16 lsf_q[10];
    g729ab_Lsp_get_quant(cand[mode], idx1[mode], idx2[mode], fgOf(g729ab_fg, mode), freq_prev, lsf_q, g729ab_fg_sum[mode].data());
    g729ab_Lsf_lsp2(lsf_q, lsp_q);
}

void g729ab_Lsp_iqua_cs(const W16* prm, W16* lsf_q, int erase, G729NUNIDEC* st) {
    if (erase == 0) {
        int m = (prm[0] >> 7) & 1;
        int code0 = prm[0] & 127;
        int code1 = (prm[1] >> 5) & 31;
        int code2 = prm[1] & 31;
        g729ab_Lsp_get_quant(code0, code1, code2, fgOf(g729ab_fg, m), st->freq_prev, lsf_q, g729ab_fg_sum[m].data());
        g729ab_Copy10(lsf_q, st->prev_lsp);
        st->prev_ma = static_cast<W16>(m);
    } else {
        g729ab_Copy10(st->prev_lsp, lsf_q);
        W16 buf[10];
        int m = st->prev_ma & 1;
        g729ab_Lsp_prev_extract(st->prev_lsp, buf, fgOf(g729ab_fg, m), st->freq_prev, g729ab_fg_sum_inv[m].data());
        g729ab_Lsp_prev_update(buf, st->freq_prev);
    }
}

void g729ab_D_lsp(const W16* prm, W16* lsp_q, int erase, G729NUNIDEC* st) {
    W16 lsf_q[10];
    g729ab_Lsp_iqua_cs(prm, lsf_q, erase, st);
    g729ab_Lsf_lsp2(lsf_q, lsp_q);
}

}  // namespace g729
