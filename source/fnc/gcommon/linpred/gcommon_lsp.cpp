// LP to LSP by a Chebyshev root search on a caller-supplied grid, LSP to LP, the LSP/LSF
// conversions and the interpolation of LSP vectors into subframe filters.
#include "g729_internal.h"
#include "gcommon_internal.h"

namespace gcommon {

SINT16 g729SumDifPoly(const SINT16* a, SINT32 (*f)[6], int qmod) {
    clrOverflow();
    for (int i = 0; i < 5; ++i) {
        const SINT32 s = (SINT32{a[i]} + a[9 - i]) >> qmod;
        const SINT32 d = (SINT32{a[i]} - a[9 - i]) >> qmod;
        f[0][i + 1] = plainShl(hi16(L_sub(plainShl(s, 16), plainShl(f[0][i], 3))), 13);
        f[1][i + 1] = plainShl(hi16(L_add(plainShl(d, 16), plainShl(f[1][i], 3))), 13);
    }
    return isOverflow();
}

namespace {
// x·b of the Clenshaw step: 2·x·h(b) + 2·((x·l(b)) >> 16), both products plain, joined saturating.
SINT32 mulXb(SINT32 x, SINT32 b) {
    const SINT32 p1 = wrap32(2 * std::int64_t{x} * hi16(b));
    const SINT32 p2 = wrap32(2 * ((std::int64_t{x} * lo16u(b)) >> 16));
    return L_add(p1, p2);
}
}  // namespace

SINT32 g729Chebps_xx(SINT32 x, const SINT32* f) {
    const int q = f[0] >> 24;
    SINT32 b2 = f[0];
    SINT32 b1 = wrap32(std::int64_t{f[1]} + plainShl(x, 9 + q));
    for (int k = 2; k <= 4; ++k) {
        const SINT32 b0 = L_add(L_sub(L_shl(mulXb(x, b1), 1), b2), f[k]);
        b2 = b1;
        b1 = b0;
    }
    SINT32 t = L_add(L_sub(mulXb(x, b1), b2), f[5] >> 1);
    t = L_shl(t, 6);
    return q == 1 ? (t >> 16) : (L_shl(t, 1) >> 16);
}

void g729Az_lsp(const SINT16* a, SINT16* lsp, const SINT16* old_lsp, int ord, const SINT16* gridp, SINT16 grid_points) {
    SINT32 f[2][6];
    f[0][0] = f[1][0] = 1 << 24;
    if (g729SumDifPoly(a, f, 1)) {
        f[0][0] = f[1][0] = 1 << 23;
        g729SumDifPoly(a, f, 2);
    }
    const SINT32* coef = f[0];
    auto cheb = [&](SINT16 x) { return static_cast<SINT16>(g729Chebps_xx(x, coef)); };
    int nf = 0;
    SINT16 xlow = gridp[0];
    SINT16 ylow = cheb(xlow);
    for (int j = 1; j < grid_points && nf < 10; ++j) {
        SINT16 xhigh = xlow, yhigh = ylow;
        xlow = gridp[j];
        ylow = cheb(xlow);
        if (SINT32{ylow} * yhigh > 0) continue;
        for (int b = 0; b < ord; ++b) {
            const SINT16 xmid = static_cast<SINT16>((xlow >> 1) + (xhigh >> 1));
            const SINT16 ymid = cheb(xmid);
            if (SINT32{ylow} * ymid > 0) {
                xlow = xmid;
                ylow = ymid;
            } else {
                xhigh = xmid;
                yhigh = ymid;
            }
        }
        SINT16 xint;
        if (yhigh == ylow) {
            xint = xlow;
        } else {
            const SINT16 dy = sub(yhigh, ylow);
            const SINT16 y = abs_s_itu(dy);
            const SINT16 ex = norm_s_itu(y);
            const SINT32 num = wrap32(std::int64_t{div_s_itu(16383, static_cast<SINT16>(y << ex))} * (xhigh - xlow));
            SINT16 q = extract_l(L_shr(num, static_cast<SINT16>(19 - ex)));
            if (dy < 0) q = static_cast<SINT16>(-q);
            xint = static_cast<SINT16>(xlow - ((SINT32{ylow} * q) >> 10));
        }
        lsp[nf++] = xint;
        coef = coef == f[0] ? f[1] : f[0];
        xlow = xint;
        ylow = cheb(xlow);
    }
    if (nf < 10)
        for (int i = 0; i < 10; ++i) lsp[i] = old_lsp[i];
}

void g729Get_lsp_pol(const SINT16* lsp, SINT32* f) { g729::g729ab_Get_lsp_pol(lsp, f); }

void g729Lsp_Az(const SINT16* lsp, SINT16* a) {
    SINT16 full[11];
    g729::g729ab_Lsp_Az(lsp, full);
    for (int i = 0; i < 10; ++i) a[i] = full[i + 1];
}

// The live conversions work on 10 entries; a shorter vector is padded at the top with values that
// leave the carried table index where a fresh search would start.
void g729Lsf_lsp2(const SINT16* lsf, SINT16* lsp, SINT16 m) {
    SINT16 in[10] = {}, out[10];
    // An LSF below 0 lies outside 0..pi and would index the cosine table in front of its start; it
    // is taken as 0. Every LSF the set produces itself is at least 40.
    for (int i = 0; i < m && i < 10; ++i) in[i] = lsf[i] < 0 ? SINT16{0} : lsf[i];
    g729::g729ab_Lsf_lsp2(in, out);
    for (int i = 0; i < m && i < 10; ++i) lsp[i] = out[i];
}

void g729Lsp_lsf2(const SINT16* lsp, SINT16* lsf, SINT16 m) {
    SINT16 in[10], out[10];
    for (int i = 0; i < 10; ++i) in[i] = i < m ? lsp[i] : SINT16{-32768};
    g729::g729ab_Lsp_lsf2(in, out);
    for (int i = 0; i < m && i < 10; ++i) lsf[i] = out[i];
}

void g729Lsp_lsf(const SINT16* lsp, SINT16* lsf, SINT16 m) {
    SINT16 in[10], out[10];
    for (int i = 0; i < 10; ++i) in[i] = i < m ? lsp[i] : SINT16{-32768};
    g729::g729ab_Lsp_lsf(in, out);
    for (int i = 0; i < m && i < 10; ++i) lsf[i] = out[i];
}

void g729Int_lpc(const SINT16* lsp_old, const SINT16* lsp_new, SINT16* lsf_int, SINT16* lsf_new, SINT16* Az) {
    SINT16 lsp[10];
    for (int i = 0; i < 10; ++i) lsp[i] = add(shr(lsp_new[i], 1), shr(lsp_old[i], 1));
    g729Lsp_Az(lsp, Az);
    g729Lsp_lsf(lsp, lsf_int, 10);
    g729Lsp_lsf(lsp_new, lsf_new, 10);
}

void g729Int_qlpc(SINT16* lsp_old, const SINT16* lsp_new, SINT16* Az) {
    for (int i = 0; i < 10; ++i) lsp_old[i] = static_cast<SINT16>((lsp_new[i] >> 1) + (lsp_old[i] >> 1));
    g729Lsp_Az(lsp_old, Az);
    g729Lsp_Az(lsp_new, Az + 10);
}

}  // namespace gcommon
