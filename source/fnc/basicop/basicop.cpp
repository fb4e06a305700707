// Shared basic operators with the standard's saturation, rounding and Overflow behaviour: the
// flags, the maths routines, the carry-propagating additions and the block forms (the single
// operators are inline in the header).
#include "basicop.h"

SINT16 Overflow = 0;
SINT16 Carry = 0;

using basicop_detail::kMax32;
using basicop_detail::kMin32;

void Log2(SINT32 L_x, SINT16* exponent, SINT16* fraction) {
    if (L_x <= 0) {
        *exponent = 0;
        *fraction = 0;
        return;
    }
    SINT16 n = norm_l(L_x);
    L_x = L_shl(L_x, n);
    *exponent = static_cast<SINT16>(30 - n);
    int i = static_cast<int>((L_x >> 25) - 32);
    SINT16 a = static_cast<SINT16>((L_x >> 10) & 0x7FFF);
    SINT32 y = L_deposit_h(basicop_tablog[i]);
    y = L_msu(y, sub(basicop_tablog[i], basicop_tablog[i + 1]), a);
    *fraction = extract_h(y);
}

SINT32 Pow2(SINT16 exponent, SINT16 fraction) {
    SINT32 L = L_mult(fraction, 32);
    int i = extract_h(L);
    SINT16 a = static_cast<SINT16>(extract_l(L_shr(L, 1)) & 0x7FFF);
    SINT32 y = L_deposit_h(basicop_tabpow[i]);
    y = L_msu(y, sub(basicop_tabpow[i], basicop_tabpow[i + 1]), a);
    return L_shr_r(y, static_cast<SINT16>(30 - exponent));
}

SINT32 Inv_sqrt(SINT32 L_x) {
    if (L_x <= 0) return 0x3FFFFFFF;
    SINT16 n = norm_l(L_x);
    L_x = L_shl(L_x, n);
    SINT16 e = static_cast<SINT16>(30 - n);
    if ((e & 1) == 0) L_x = L_shr(L_x, 1);
    e = static_cast<SINT16>((e >> 1) + 1);
    int i = static_cast<int>((L_x >> 25) - 16);
    SINT16 a = static_cast<SINT16>((L_x >> 10) & 0x7FFF);
    SINT32 y = L_deposit_h(basicop_tabsqr[i]);
    y = L_msu(y, sub(basicop_tabsqr[i], basicop_tabsqr[i + 1]), a);
    return L_shr(y, e);
}

SINT16 Random(SINT16* seed) {
    *seed = extract_l(L_add(L_shr(L_mult(*seed, 31821), 1), 13849));
    return *seed;
}

void block_add(SINT16* out, const SINT16* a, const SINT16* b, int n) {
    for (int i = 0; i < n; ++i) out[i] = add(a[i], b[i]);
}
void block_sub(SINT16* out, const SINT16* a, const SINT16* b, int n) {
    for (int i = 0; i < n; ++i) out[i] = sub(a[i], b[i]);
}
void block_shl(SINT16* out, const SINT16* in, int s, int n) {
    for (int i = 0; i < n; ++i) out[i] = shl(in[i], static_cast<SINT16>(s));
}
void block_shrC(SINT16* out, const SINT16* in, int s, int n) {
    for (int i = 0; i < n; ++i) out[i] = static_cast<SINT16>(in[i] >> (s > 15 ? 15 : s));
}
void block_F16to32(const SINT16* in, SINT32* out, int n) {
    for (int i = 0; i < n; ++i) out[i] = L_deposit_h(in[i]);
}
SINT32 V_mac_shift_blk8(int n, const SINT16* x, const SINT16* y) {
    SINT32 s = 0;
    for (int i = 0; i < n; ++i) s = L_mac(s, x[i], y[i]);
    return s;
}
void BlockShortCopy(int n, const SINT16* src, SINT16* dst) {
    for (int i = 0; i < n; ++i) dst[i] = src[i];
}
void BlockShortMove10Aligned(const SINT16* src, SINT16* dst) { BlockShortCopy(10, src, dst); }
void BlockShortMove10xAligned(int n, const SINT16* src, SINT16* dst) { BlockShortCopy((n + 9) / 10 * 10, src, dst); }
void BlockShortClear10xAligned(int n, SINT16* dst) {
    for (int i = 0; i < (n + 9) / 10 * 10; ++i) dst[i] = 0;
}

namespace {
SINT32 wrapAdd(SINT32 a, SINT32 b) {
    return static_cast<SINT32>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
SINT32 wrapSub(SINT32 a, SINT32 b) {
    return static_cast<SINT32>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}
}  // namespace

SINT32 L_add_c(SINT32 a, SINT32 b) {
    const SINT32 out = wrapAdd(wrapAdd(a, b), Carry);
    const SINT32 test = wrapAdd(a, b);
    SINT16 carryInt = 0;
    if (a > 0 && b > 0 && test < 0) {
        Overflow = 1;
        carryInt = 0;
    } else if (a < 0 && b < 0) {
        Overflow = test >= 0 ? 1 : 0;
        carryInt = 1;
    } else if ((a ^ b) < 0 && test >= 0) {
        Overflow = 0;
        carryInt = 1;
    } else {
        Overflow = 0;
        carryInt = 0;
    }
    if (Carry) {
        if (test == kMax32) {
            Overflow = 1;
            Carry = carryInt;
        } else if (test == -1) {
            Carry = 1;
        } else {
            Carry = carryInt;
        }
    } else {
        Carry = carryInt;
    }
    return out;
}

SINT32 L_sub_c(SINT32 a, SINT32 b) {
    if (Carry) {
        Carry = 0;
        if (b != kMin32) return L_add_c(a, -b);
        if (a > 0) {
            Overflow = 1;
            Carry = 0;
        }
        return wrapSub(a, b);
    }
    const SINT32 out = wrapSub(wrapSub(a, b), 1);
    const SINT32 test = wrapSub(a, b);
    SINT16 carryInt = 0;
    if (test < 0 && a > 0 && b < 0) {
        Overflow = 1;
        carryInt = 0;
    } else if (test > 0 && a < 0 && b > 0) {
        Overflow = 1;
        carryInt = 1;
    } else if (test > 0 && (a ^ b) > 0) {
        Overflow = 0;
        carryInt = 1;
    }
    if (test == kMin32) Overflow = 1;
    Carry = carryInt;
    return out;
}

SINT32 L_sat(SINT32 x) {
    if (!Overflow) return x;
    const SINT32 out = Carry ? kMin32 : kMax32;
    Carry = 0;
    Overflow = 0;
    return out;
}

SINT32 L_maco(SINT32 acc, SINT16 a, SINT16 b, SINT16* ovf) {
    const SINT16 saved = Overflow;
    Overflow = 0;
    const SINT32 r = L_mac(acc, a, b);
    if (Overflow) *ovf = 1;
    Overflow = saved;
    return r;
}

SINT32 L_shlo(SINT32 x, SINT16 s, SINT16* ovf) {
    const SINT16 saved = Overflow;
    Overflow = 0;
    const SINT32 r = L_shl(x, s);
    if (Overflow) *ovf = 1;
    Overflow = saved;
    return r;
}

SINT32 L_mls(SINT32 x, SINT16 v) {
    SINT32 t = (x & 0xFFFF) * SINT32{v};
    t = L_shr(t, 15);
    return L_mac(t, v, extract_h(x));
}

SINT16 div_l(SINT32 num, SINT16 den) {
    SINT32 lden = L_deposit_h(den);
    if (num >= lden) return 32767;
    num = L_shr(num, 1);
    lden = L_shr(lden, 1);
    SINT16 q = 0;
    for (int i = 0; i < 15; ++i) {
        q = shl(q, 1);
        num = L_shl(num, 1);
        if (num >= lden) {
            num = L_sub(num, lden);
            q = add(q, 1);
        }
    }
    return q;
}

void block_extract_h(const SINT32* in, SINT16* out, int n) {
    for (int i = 0; i < n; ++i) out[i] = extract_h(in[i]);
}
void BlockShortClear(int n, SINT16* dst) {
    for (int i = 0; i < n; ++i) dst[i] = 0;
}
