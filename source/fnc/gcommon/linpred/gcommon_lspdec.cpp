// LSP dequantisation with switched MA prediction: the reduced-complexity decoder (plain
// expansion), the 11.8 kbit/s decoder (saturating expansion, residual handed back), the
// expansion variants, MA composition/extraction and the stability pass.
#include "g729_internal.h"
#include "gcommon_internal.h"

namespace gcommon {

namespace {
CRows10 fgRows(const Predictors& p, int mode) { return reinterpret_cast<CRows10>(p[mode & 1][0].data()); }

void firstPlusSecond(SINT16 code0, SINT16 code1, SINT16 code2, SINT16* buf) {
    for (int j = 0; j < 5; ++j) buf[j] = static_cast<SINT16>(g729Lspcb1Tab[code0][j] + g729Lspcb2_1Tab[code1][j]);
    for (int j = 5; j < 10; ++j) buf[j] = static_cast<SINT16>(g729Lspcb1Tab[code0][j] + g729Lspcb2_2Tab[code2][j - 5]);
}

void saturatingExpand(SINT16* buf, SINT16 gap, int first, int last) {
    for (int j = first; j <= last; ++j) {
        const SINT16 diff = shr(add(sub(buf[j - 1], buf[j]), gap), 1);
        if (diff > 0) {
            buf[j - 1] = sub(buf[j - 1], diff);
            buf[j] = add(buf[j], diff);
        }
    }
}
}  // namespace

void g729aLsp_expand(SINT16* buf, SINT16 gap, int len) {
    for (int j = 1; j < len; ++j) {
        const SINT16 diff = static_cast<SINT16>(static_cast<SINT16>(buf[j - 1] - buf[j] + gap) >> 1);
        if (diff > 0) {
            buf[j - 1] = static_cast<SINT16>(buf[j - 1] - diff);
            buf[j] = static_cast<SINT16>(buf[j] + diff);
        }
    }
}

void g729Lsp_expand_1_2(SINT16* buf, SINT16 gap) { g729::g729ab_Lsp_expand_1_2(buf, gap); }
void g729Lsp_expand_1(SINT16* buf, SINT16 gap) { saturatingExpand(buf, gap, 1, 4); }
void g729Lsp_expand_2(SINT16* buf, SINT16 gap) { saturatingExpand(buf, gap, 5, 9); }

void g729Lsp_prev_compose(const SINT16* lsp_ele, SINT16* lsp, CRows10 fgp, CRows10 freq_prev, const SINT16* fg_sump) {
    g729::g729ab_Lsp_prev_compose(lsp_ele, lsp, fgp, freq_prev, fg_sump);
}

void g729Lsp_prev_extract(const SINT16* lsp, SINT16* lsp_ele, CRows10 fgp, CRows10 freq_prev, const SINT16* fg_sum_invp) {
    g729::g729ab_Lsp_prev_extract(lsp, lsp_ele, fgp, freq_prev, fg_sum_invp);
}

void g729Lsp_prev_update(const SINT16* lsp_ele, Rows10 freq_prev) { g729::g729ab_Lsp_prev_update(lsp_ele, freq_prev); }

void g729Lsp_stability(SINT16* buf) { g729::g729ab_Lsp_stability(buf); }

void g729aLsp_get_quant(SINT16 code0, SINT16 code1, SINT16 code2, CRows10 fgp, Rows10 freq_prev, SINT16* lspq, const SINT16* fg_sump) {
    SINT16 buf[10];
    firstPlusSecond(code0, code1, code2, buf);
    g729aLsp_expand(buf, 10, 10);
    g729aLsp_expand(buf, 5, 10);
    g729Lsp_prev_compose(buf, lspq, fgp, freq_prev, fg_sump);
    g729Lsp_prev_update(buf, freq_prev);
    g729Lsp_stability(lspq);
}

void g729aD_lsp(const SINT16* prm, SINT16* lsp_q, SINT16 erase, Rows10 freq_prev, SINT16* prev_lsp, SINT16* prev_ma) {
    SINT16 lsf[10];
    if (erase == 0) {
        const SINT16 mode = static_cast<SINT16>((prm[0] >> 7) & 1);
        g729aLsp_get_quant(static_cast<SINT16>(prm[0] & 127), static_cast<SINT16>((prm[1] >> 5) & 31), static_cast<SINT16>(prm[1] & 31),
                           fgRows(g729FgTab, mode), freq_prev, lsf, g729FgSumTab[mode].data());
        BlockShortCopy(10, lsf, prev_lsp);
        *prev_ma = mode;
    } else {
        BlockShortCopy(10, prev_lsp, lsf);
        SINT16 res[10];
        const int m = *prev_ma & 1;
        g729Lsp_prev_extract(prev_lsp, res, fgRows(g729FgTab, m), freq_prev, g729FgSumInvTab[m].data());
        g729Lsp_prev_update(res, freq_prev);
    }
    g729Lsf_lsp2(lsf, lsp_q, 10);
}

void g729eLsp_get_quante(SINT16 code0, SINT16 code1, SINT16 code2, CRows10 fgp, CRows10 freq_prev, SINT16* lspq, const SINT16* fg_sump,
                         SINT16* freq_cur) {
    SINT16 buf[10];
    firstPlusSecond(code0, code1, code2, buf);
    g729Lsp_expand_1_2(buf, 10);
    g729Lsp_expand_1_2(buf, 5);
    g729Lsp_prev_compose(buf, lspq, fgp, freq_prev, fg_sump);
    BlockShortCopy(10, buf, freq_cur);
    g729Lsp_stability(lspq);
}

void g729D_lspe(const SINT16* prm, SINT16* lsp_q, SINT16 erase, Rows10 freq_prev, SINT16* prev_lsp, SINT16* prev_ma) {
    SINT16 lsf[10], res[10];
    if (erase == 0) {
        const SINT16 mode = static_cast<SINT16>((prm[0] >> 7) & 1);
        g729eLsp_get_quante(static_cast<SINT16>(prm[0] & 127), static_cast<SINT16>((prm[1] >> 5) & 31), static_cast<SINT16>(prm[1] & 31),
                            fgRows(g729FgTab, mode), freq_prev, lsf, g729FgSumTab[mode].data(), res);
        BlockShortCopy(10, lsf, prev_lsp);
        *prev_ma = mode;
    } else {
        BlockShortCopy(10, prev_lsp, lsf);
        const int m = *prev_ma & 1;
        g729Lsp_prev_extract(prev_lsp, res, fgRows(g729FgTab, m), freq_prev, g729FgSumInvTab[m].data());
    }
    g729Lsp_prev_update(res, freq_prev);
    g729Lsf_lsp2(lsf, lsp_q, 10);
}

void g729Track_pit(SINT16* T0, SINT16* T0_frac, SINT16* prev_pitch, SINT16* stat_pitch, SINT16* pitch_sta, SINT16* frac_sta) {
    const SINT16 dist = sub(*T0, *prev_pitch);
    if (abs_s_itu(dist) < 5) {
        *stat_pitch = static_cast<SINT16>(*stat_pitch + 1 > 7 ? 7 : *stat_pitch + 1);
        *pitch_sta = *T0;
        *frac_sta = *T0_frac;
        *prev_pitch = *T0;
        return;
    }
    SINT16 dist_min = abs_s_itu(dist);
    const bool up = *T0 >= *prev_pitch;
    const SINT16 base = up ? *prev_pitch : *T0;
    const SINT16 other = up ? *T0 : *prev_pitch;
    SINT16 m = shl(base, 1);
    for (int k = 2; k <= 4; ++k) {
        const SINT16 d = abs_s_itu(sub(m, other));
        if (d <= dist_min) dist_min = d;
        m = add(base, m);
    }
    if (dist_min > 4) {
        *stat_pitch = 0;
        *pitch_sta = *T0;
        *frac_sta = *T0_frac;
    } else {
        if (*stat_pitch > 0) {
            *T0 = *pitch_sta;
            *T0_frac = *frac_sta;
        }
        *stat_pitch = static_cast<SINT16>(*stat_pitch - 1 < 0 ? 0 : *stat_pitch - 1);
    }
    *prev_pitch = *T0;
}

}  // namespace gcommon
