// Encoder LSP quantiser: weights, first-stage preselection, second-stage half searches, the
// weighted distance of each predictor and the two-predictor search that builds the result.
#include "g729_internal.h"
#include "gcommon_internal.h"

namespace gcommon {

namespace {
CRows10 fgRows(const Predictors& p, int mode) { return reinterpret_cast<CRows10>(p[mode & 1][0].data()); }

// The second-stage half search shared by the two full-vector forms.
SINT16 selectHalf(const SINT16* buf, const std::array<std::array<Tab16, 5>, 32>& cb, const SINT16* wegt) {
    SINT32 best = INT32_MAX;
    SINT16 index = 0;
    for (int r = 0; r < 32; ++r) {
        SINT32 d = 0;
        for (int j = 0; j < 5; ++j) {
            const SINT16 t = sub(buf[j], cb[r][j]);
            d = L_mac(d, static_cast<SINT16>((SINT32{t} * wegt[j]) >> 15), t);
        }
        if (d < best) {
            best = d;
            index = static_cast<SINT16>(r);
        }
    }
    return index;
}
}  // namespace

void g729Get_wegt(const SINT16* flsp, SINT16* wegt) {
    // The live routine reads one guard value on each side: 1029 (0.04π) and 23677 (0.92π) in Q13.
    SINT16 padded[12];
    padded[0] = 1029;
    padded[11] = 23677;
    for (int i = 0; i < 10; ++i) padded[i + 1] = flsp[i];
    g729::g729ab_Get_wegt(padded + 1, wegt);
}

void g729Lsp_pre_select(const SINT16* rbuf, SINT16* cand) {
    SINT32 best = INT32_MAX;
    *cand = 0;
    for (int r = 0; r < 128; ++r) {
        SINT32 d = 0;
        for (int j = 0; j < 10; ++j) {
            const SINT16 t = static_cast<SINT16>(rbuf[j] - g729Lspcb1Tab[r][j]);
            d = L_mac(d, t, t);
        }
        if (d < best) {
            best = d;
            *cand = static_cast<SINT16>(r);
        }
    }
}

void g729aLsp_select(const SINT16* rbuf1, const SINT16 (*lspcbp)[5], const SINT16* wegt, SINT16* indexp) {
    SINT32 best = INT32_MAX;
    *indexp = 0;
    for (int r = 0; r < 32; ++r) {
        SINT32 d = 0;
        for (int j = 0; j < 5; ++j) {
            const SINT16 t = static_cast<SINT16>(rbuf1[j] - lspcbp[r][j]);
            d = L_mac(d, mult(wegt[j], t), t);
        }
        if (d < best) {
            best = d;
            *indexp = static_cast<SINT16>(r);
        }
    }
}

void g729Lsp_select_1(const SINT16* rbuf, const SINT16* lspcb1p, const SINT16* wegt, SINT16* indexp) {
    SINT16 buf[5];
    for (int j = 0; j < 5; ++j) buf[j] = sub(rbuf[j], lspcb1p[j]);
    *indexp = selectHalf(buf, g729Lspcb2_1Tab, wegt);
}

void g729Lsp_select_2(const SINT16* rbuf, const SINT16* lspcb1p, const SINT16* wegt, SINT16* indexp) {
    SINT16 buf[5];
    for (int j = 0; j < 5; ++j) buf[j] = sub(rbuf[j + 5], lspcb1p[j + 5]);
    *indexp = selectHalf(buf, g729Lspcb2_2Tab, wegt + 5);
}

void g729Lsp_get_tdist(const SINT16* wegt, const SINT16* buf, SINT32* L_tdist, const SINT16* rbuf, const SINT16* fg_sump) {
    SINT32 d = 0;
    for (int j = 0; j < 10; ++j) {
        const SINT16 t = mult(sub(buf[j], rbuf[j]), fg_sump[j]);
        const SINT16 u = extract_h(L_shl(L_mult(wegt[j], t), 4));
        d = L_mac(d, u, t);
    }
    *L_tdist = d;
}

void g729Relspwede(const SINT16* lsp, const SINT16* wegt, SINT16* lspq, Rows10 freq_prev, SINT16* code_ana) {
    SINT16 buf[2][10], rbuf[2][10], cand[2], i1[2], i2[2];
    SINT32 dist[2];
    for (int mode = 0; mode < 2; ++mode) {
        g729Lsp_prev_extract(lsp, rbuf[mode], fgRows(g729FgTab, mode), freq_prev, g729FgSumInvTab[mode].data());
        g729Lsp_pre_select(rbuf[mode], &cand[mode]);
        const SINT16* c1 = g729Lspcb1Tab[cand[mode]].data();
        SINT16 target[10];
        block_sub(target, rbuf[mode], c1, 10);
        SINT16* b = buf[mode];
        g729aLsp_select(target, reinterpret_cast<const SINT16 (*)[5]>(g729Lspcb2_1Tab.data()), wegt, &i1[mode]);
        block_add(b, c1, g729Lspcb2_1Tab[i1[mode]].data(), 5);
        g729aLsp_expand(b, 10, 5);
        g729aLsp_select(target + 5, reinterpret_cast<const SINT16 (*)[5]>(g729Lspcb2_2Tab.data()), wegt + 5, &i2[mode]);
        block_add(b + 5, c1 + 5, g729Lspcb2_2Tab[i2[mode]].data(), 5);
        g729aLsp_expand(b + 4, 10, 6);
        g729aLsp_expand(b, 5, 10);
        g729Lsp_get_tdist(wegt, b, &dist[mode], rbuf[mode], g729FgSumTab[mode].data());
    }
    const int mode = dist[1] < dist[0] ? 1 : 0;
    code_ana[0] = static_cast<SINT16>((mode << 7) | cand[mode]);
    code_ana[1] = static_cast<SINT16>((i1[mode] << 5) | i2[mode]);
    g729Lsp_prev_compose(buf[mode], lspq, fgRows(g729FgTab, mode), freq_prev, g729FgSumTab[mode].data());
    g729Lsp_prev_update(buf[mode], freq_prev);
    g729Lsp_stability(lspq);
}

void g729Qua_lspa(const SINT16* lsp, SINT16* lsp_q, SINT16* ana, Rows10 freq_prev) {
    SINT16 lsf[10], wegt[10], lsf_q[10];
    g729Lsp_lsf2(lsp, lsf, 10);
    g729Get_wegt(lsf, wegt);
    g729Relspwede(lsf, wegt, lsf_q, freq_prev, ana);
    g729Lsf_lsp2(lsf_q, lsp_q, 10);
}

}  // namespace gcommon
