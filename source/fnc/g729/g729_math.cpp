// Maths routines, double-precision operators and small vector routines of the G.729 codec.
#include "g729_internal.h"

namespace g729 {

W16 g729ab_Sqrt(W32 num) {
    W16 r = 0, bit = 0x4000;
    for (int i = 0; i < 14; ++i) {
        W16 t = add(r, bit);
        if (L_sub(num, L_mult(t, t)) >= 0) r = t;
        bit = static_cast<W16>(bit >> 1);
    }
    return r;
}

W32 g729ab_Pow2(W16 exponent, W16 fraction) {
    W32 L = L_mult(fraction, 32);
    W16 i = extract_h(L);
    W16 a = static_cast<W16>(extract_l(L) >> 1 & 0x7FFF);
    W32 y = L_deposit_h(g729ab_tabpow[i]);
    W16 d = sub(g729ab_tabpow[i], g729ab_tabpow[i + 1]);
    y = L_msu(y, d, a);
    return L_shr_r(y, 30 - exponent);
}

void g729ab_Log2(W32 L_x, W16* exponent, W16* fraction) {
    if (L_x <= 0) {
        *exponent = 0;
        *fraction = 0;
        return;
    }
    W16 n = norm_l(L_x);
    L_x = L_shl(L_x, n);
    *exponent = static_cast<W16>(30 - n);
    W16 i = static_cast<W16>((L_x >> 25) - 32);
    W16 a = static_cast<W16>((L_x >> 10) & 0x7FFF);
    W32 y = L_deposit_h(g729ab_tablog[i]);
    W16 d = sub(g729ab_tablog[i], g729ab_tablog[i + 1]);
    y = L_msu(y, d, a);
    *fraction = extract_h(y);
}

W32 g729ab_Inv_sqrt(W32 L_x) {
    if (L_x <= 0) return 0x3FFFFFFF;
    W16 n = norm_l(L_x);
    L_x = L_shl(L_x, n);
    W16 e = static_cast<W16>(30 - n);
    if ((e & 1) == 0) L_x = L_x >> 1;
    e = static_cast<W16>((e >> 1) + 1);
    W16 i = static_cast<W16>((L_x >> 25) - 16);
    W16 a = static_cast<W16>((L_x >> 10) & 0x7FFF);
    W32 y = L_deposit_h(g729ab_tabsqr[i]);
    W16 d = sub(g729ab_tabsqr[i], g729ab_tabsqr[i + 1]);
    y = L_msu(y, d, a);
    return L_shr(y, e);
}

W32 g729ab_MPY_32(W32 a, W32 b) { return g729Mpy32(a, b); }

W32 g729ab_DIV_32(W32 num, W32 den) {
    W16 approx = div_s(0x3FFF, dp_hi(den));
    W32 L = Mpy_32_16(den, approx);
    L = L_sub(kMax32, L);
    L = Mpy_32_16(L, approx);
    L = g729ab_MPY_32(num, L);
    return L_shl(L, 2);
}

void g729ab_Copy(const W16* src, W16* dst, int n) {
    for (int i = 0; i < n; ++i) dst[i] = src[i];
}

void g729ab_Vec_Add(const W16* a, const W16* b, W16* out, int n) {
    for (int i = 0; i < n; ++i) out[i] = add(a[i], b[i]);
}

void g729ab_Vec_Sub(const W16* a, const W16* b, W16* out, int n) {
    for (int i = 0; i < n; ++i) out[i] = sub(a[i], b[i]);
}

void g729ab_Vec_SubMult(const W16* a, const W16* b, W16* out, W16 k, int n) {
    for (int i = 0; i < n; ++i) out[i] = sub(a[i], mult(b[i], k));
}

void g729ab_Vec_add_prev_mult(W16* x, W16 k, int T) {
    for (int i = T; i < kSubfr; ++i) x[i] = add(x[i], mult(x[i - T], k));
}

}  // namespace g729

namespace g729 {

W16 g729ab_norm_l(W32 x) { return norm_l(x); }
W32 g729ab_L_shl(W32 x, int count) { return L_shl(x, count); }
W16 g729ab_shl(W16 x, int count) { return shl(x, count); }

void g729ab_Set_zero_even(W16* x, int n) {
    for (int i = 0; i < n; i += 2) {
        x[i] = 0;
        x[i + 1] = 0;
    }
}

void g729ab_Vec_Comp(W32* out32, const W16* lo, const W16* hi, int n) {
    for (int i = 0; i < n; ++i)
        out32[i] = static_cast<W32>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(hi[i])) << 16) |
                                    static_cast<std::uint32_t>(W32{lo[i]}));
}

void g729ab_Vec_ExtractL(const W32* in32, W16* lo, W16* hi, int n) {
    for (int i = 0; i < n; ++i) {
        lo[i] = static_cast<W16>(in32[i]);
        hi[i] = static_cast<W16>(in32[i] >> 16);
    }
}

void g729ab_Vec_shl(const W16* in, W16* out, int count, int n) {
    for (int i = 0; i < n; ++i) out[i] = shl(in[i], count);
}

}  // namespace g729
