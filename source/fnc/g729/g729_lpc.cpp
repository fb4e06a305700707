// LPC analysis of the G.729 encoder: windowed autocorrelation, lag window, Levinson-Durbin in
// one-word double precision, LPC to LSP by a Chebyshev root search, LSP/LSF conversions and the
// interpolation of the quantised LSPs into the two subframe filters.
#include "g729_internal.h"

namespace g729 {

W16 g729ab_Autocorr(const W16* x, W32* r, const W16* window) {
    W16 y[256];
    g729ab_Vec_mult_r(x, window, y, 240);
    W16 e = 1;
    W32 energy = g729ab_Vec_L_sqa(y, 240, 1);
    while (energy == kMax32) {
        g729ab_Vec_shr_8(y, y, 2, 240);
        e = static_cast<W16>(e + 4);
        energy = g729ab_Vec_L_sqa(y, 240, 1);
    }
    W16 n = norm_l(energy);
    r[0] = static_cast<W32>(static_cast<std::uint32_t>(energy) << n);
    g729ab_ACF(y, r, n);
    return static_cast<W16>(e - n);
}

void g729ab_Lag_window(W32* r) {
    for (int i = 1; i <= 12; ++i) r[i] = g729Mpy32(r[i], g729ab_lag[i - 1]);
}

namespace {
W32 dpClean(W32 x) { return x & ~W32{1}; }
W32 oneMinusSquare(W32 K) { return L_sub(kMax32, L_abs(g729Mpy32(K, K))); }
}  // namespace

void g729ab_Levinson(const W32* r, W16* A, W16* old_A, W16* rc, W16* old_rc, W16* err) {
    W32 Aq[11], An[11];
    W32 t1 = dpClean(r[1]);
    W32 t0 = g729ab_DIV_32(L_abs(t1), r[0]);
    if (t1 > 0) t0 = L_negate(t0);
    W32 K = dpClean(t0);
    rc[0] = dp_hi(K);
    Aq[1] = dpClean(L_shr(t0, 4));
    t0 = g729Mpy32(r[0], oneMinusSquare(K));
    W16 alp_exp = norm_l(t0);
    W32 alp = dpClean(L_shl(t0, alp_exp));

    for (int i = 2; i <= 10; ++i) {
        t0 = 0;
        for (int j = 1; j < i; ++j) t0 = L_add(t0, g729Mpy32(r[j], Aq[i - j]));
        t0 = L_shl(t0, 4);
        t0 = L_add(t0, dpClean(r[i]));
        W32 t2 = g729ab_DIV_32(L_abs(t0), alp);
        if (t0 > 0) t2 = L_negate(t2);
        t2 = L_shl(t2, alp_exp);
        K = dpClean(t2);
        rc[i - 1] = dp_hi(K);
        if (abs_s(dp_hi(K)) > 32750) {
            // Unstable: keep the last stable filter.
            A[0] = 4096;
            for (int j = 0; j < 10; ++j) A[j + 1] = old_A[j];
            rc[0] = old_rc[0];
            rc[1] = old_rc[1];
            return;
        }
        for (int j = 1; j < i; ++j) An[j] = dpClean(L_add(g729Mpy32(K, Aq[i - j]), Aq[j]));
        An[i] = dpClean(L_shr(t2, 4));
        t0 = g729Mpy32(alp, oneMinusSquare(K));
        W16 n = norm_l(t0);
        alp = dpClean(L_shl(t0, n));
        alp_exp = static_cast<W16>(alp_exp + n);
        for (int j = 1; j <= i; ++j) Aq[j] = An[j];
    }
    *err = shr(dp_hi(alp), alp_exp);
    A[0] = 4096;
    for (int i = 1; i <= 10; ++i) {
        A[i] = round16(L_shl(Aq[i], 1));
        old_A[i - 1] = A[i];
    }
    old_rc[0] = rc[0];
    old_rc[1] = rc[1];
}

namespace {
bool signBitsEqual(W16 a, W16 b) { return (a < 0) == (b < 0); }

// Sum and difference polynomials; returns false when a coefficient reached the 16-bit limits.
bool buildPolys(const W16* a, W16* f1, W16* f2, int shiftHalf, W16 one) {
    bool ok = true;
    f1[0] = one;
    f2[0] = one;
    for (int i = 0; i < 5; ++i) {
        W32 x = (W32{a[i + 1]} + a[10 - i]) >> shiftHalf;
        W32 r = x - f1[i];
        if (r >= kMax16 || r <= kMin16) ok = false;
        f1[i + 1] = sat16(r);
        x = (W32{a[i + 1]} - a[10 - i]) >> shiftHalf;
        r = x + f2[i];
        if (r >= kMax16 || r <= kMin16) ok = false;
        f2[i + 1] = sat16(r);
    }
    return ok;
}
}  // namespace

namespace {
// The root search over the scaled polynomials; Quarter selects the quarter-scale format, fixed
// at compile time so that the series' scalings are constant shifts.
template <bool Quarter>
void azLspSearch(const W16* F1, const W16* F2, W16* lsp, const W16* old_lsp) {
    constexpr const W16* params = &g729ab_chebps_tab1[Quarter ? 3 : 0];
    W32 f1[6], f2[6];
    for (int k = 0; k < 5; ++k) {
        f1[k] = W32{F1[k]} * 8192;
        f2[k] = W32{F2[k]} * 8192;
    }
    f1[5] = W32{F1[5]} * 4096;
    f2[5] = W32{F2[5]} * 4096;

    const W32* coef = f1;
    int nf = 0, j = 0, step = 2;
    W16 xlow = g729ab_grid[0];
    W16 ylow = g729Chebps(xlow, coef, params);
    while (nf < 10 && j < 50) {
        int jn = j + step > 50 ? 50 : j + step;
        int taken = jn - j;
        j = jn;
        W16 xhigh = xlow, yhigh = ylow;
        xlow = g729ab_grid[j];
        ylow = g729Chebps(xlow, coef, params);
        if (signBitsEqual(ylow, yhigh)) {
            step = abs_s(ylow) > 200 ? 2 : 1;
            continue;
        }
        if (taken == 2) {
            W16 xm = g729ab_grid[j - 1];
            W16 ym = g729Chebps(xm, coef, params);
            if (L_mult(ylow, ym) <= 0) {
                xhigh = xm;
                yhigh = ym;
            } else {
                xlow = xm;
                ylow = ym;
                --j;
            }
        }
        for (int b = 0; b < 2; ++b) {
            W16 xmid = static_cast<W16>((xlow >> 1) + (xhigh >> 1));
            W16 ymid = g729Chebps(xmid, coef, params);
            if (signBitsEqual(ymid, ylow)) {
                xlow = xmid;
                ylow = ymid;
            } else {
                xhigh = xmid;
                yhigh = ymid;
            }
        }
        W16 dx = sub(xhigh, xlow), dy = sub(yhigh, ylow);
        W16 xint;
        if (dy == 0) {
            xint = xlow;
        } else {
            W16 ady = abs_s(dy);
            W16 e = norm_s(ady);
            W16 q = g729ab_div_s(16383, shl(ady, e));
            W16 t = static_cast<W16>(L_mult(dx, q) >> (20 - e));
            if (dy < 0) t = static_cast<W16>(-t);
            xint = static_cast<W16>(xlow - static_cast<W16>(L_mult(ylow, t) >> 11));
        }
        lsp[nf++] = xint;
        xlow = xint;
        coef = coef == f1 ? f2 : f1;
        ylow = g729Chebps(xlow, coef, params);
        step = 1;
    }
    if (nf < 10)
        for (int i = 0; i < 10; ++i) lsp[i] = old_lsp[i];
}
}  // namespace

void g729ab_Az_lsp(const W16* a, W16* lsp, const W16* old_lsp) {
    W16 F1[6], F2[6];
    if (buildPolys(a, F1, F2, 1, 2048)) {
        azLspSearch<false>(F1, F2, lsp, old_lsp);
    } else {
        buildPolys(a, F1, F2, 2, 1024);
        azLspSearch<true>(F1, F2, lsp, old_lsp);
    }
}

void g729ab_Lsp_lsf(const W16* lsp, W16* lsf) {
    int ind = 63;
    for (int i = 9; i >= 0; --i) {
        while (ind > 0 && g729ab_table[ind] < lsp[i]) --ind;
        W32 L = L_mult(sub(lsp[i], g729ab_table[ind]), g729ab_slope[ind]);
        W16 tmp = round16(L_shl(L, 3));
        lsf[i] = add(tmp, static_cast<W16>(ind << 8));
    }
}

void g729ab_Lsp_lsf2(const W16* lsp, W16* lsf) {
    int ind = 63;
    for (int i = 9; i >= 0; --i) {
        while (g729ab_table2[ind] < lsp[i]) {
            --ind;
            if (ind <= 0) break;
        }
        W16 offset = sub(lsp[i], g729ab_table2[ind]);
        W32 L = L_mult(g729ab_slope_acos[ind], offset);
        W16 freq = add(static_cast<W16>(ind << 9), extract_l(L_shr(L, 12)));
        lsf[i] = mult(freq, 25736);
    }
}

void g729ab_Lsf_lsp2(const W16* lsf, W16* lsp) {
    for (int i = 0; i < 10; ++i) {
        W16 freq = mult(lsf[i], g729ab_Lsf_lsp2_Const);
        int ind = freq >> 8;
        W16 offset = static_cast<W16>(freq & 0xFF);
        if (ind > 63) ind = 63;
        W32 L = L_mult(g729ab_slope_cos[ind], offset);
        lsp[i] = add(g729ab_table2[ind], extract_l(L_shr(L, 13)));
    }
}

void g729ab_Get_lsp_pol(const W16* lsp, W32* f) {
    const auto& c = g729ab_Get_lsp_pol_Consts;
    f[0] = L_mult(c[0], c[1]);
    f[1] = L_msu(0, lsp[0], c[2]);
    for (int i = 2; i <= 5; ++i) {
        W16 x = lsp[2 * (i - 1)];
        f[i] = f[i - 2];
        for (int j = i; j >= 2; --j) {
            W32 t = L_shl(Mpy_32_16(f[j - 1], x), 1);
            f[j] = L_sub(L_add(f[j], f[j - 2]), t);
        }
        f[1] = L_msu(f[1], x, c[2]);
    }
}

void g729ab_Lsp_Az(const W16* lsp, W16* a) {
    W32 f1[6], f2[6];
    g729ab_Get_lsp_pol(lsp, f1);
    g729ab_Get_lsp_pol(lsp + 1, f2);
    for (int i = 5; i > 0; --i) {
        f1[i] = L_add(f1[i], f1[i - 1]);
        f2[i] = L_sub(f2[i], f2[i - 1]);
    }
    a[0] = 4096;
    for (int i = 1, j = 10; i <= 5; ++i, --j) {
        a[i] = extract_l(L_shr_r(L_add(f1[i], f2[i]), 13));
        a[j] = extract_l(L_shr_r(L_sub(f1[i], f2[i]), 13));
    }
}

void g729ab_Int_qlpc(const W16* lsp_old, const W16* lsp_new, W16* Az) {
    W16 lsp[10];
    for (int i = 0; i < 10; ++i) lsp[i] = static_cast<W16>((lsp_old[i] >> 1) + (lsp_new[i] >> 1));
    g729ab_Lsp_Az(lsp, Az);
    g729ab_Lsp_Az(lsp_new, Az + 11);
}

}  // namespace g729
