// Shared fixed-point basic operators of the signal-processing library: the saturating 16/32-bit
// arithmetic of the ITU-T basic-operator set with its process-wide Overflow flag, the G.729
// maths routines and random generator, and block forms. The codecs carry private copies of what
// they need; this copy serves the library's own routines, which run on the DSP tick thread only.
// The single operators are defined here, inline, so that the filters and searches built on them
// compile to plain arithmetic instead of a call per product.
#pragma once

#include <cstdint>

using SINT16 = std::int16_t;
using SINT32 = std::int32_t;

// Set to 1 by any operator that saturates; never cleared by the saturating operators (the
// carry-propagating additions and L_sat set and clear it as the standard does).
extern SINT16 Overflow;
// Carry of the carry-propagating additions L_add_c and L_sub_c.
extern SINT16 Carry;

namespace basicop_detail {
inline constexpr SINT32 kMax32 = 0x7FFFFFFF;
inline constexpr SINT32 kMin32 = static_cast<SINT32>(0x80000000u);

inline SINT32 sat32(std::int64_t x) {
    if (x > kMax32) [[unlikely]] {
        Overflow = 1;
        return kMax32;
    }
    if (x < kMin32) [[unlikely]] {
        Overflow = 1;
        return kMin32;
    }
    return static_cast<SINT32>(x);
}
}  // namespace basicop_detail

inline SINT16 sature(SINT32 x) {
    if (x > 32767) [[unlikely]] {
        Overflow = 1;
        return 32767;
    }
    if (x < -32768) [[unlikely]] {
        Overflow = 1;
        return -32768;
    }
    return static_cast<SINT16>(x);
}

inline SINT16 add(SINT16 a, SINT16 b) { return sature(SINT32{a} + b); }
inline SINT16 sub(SINT16 a, SINT16 b) { return sature(SINT32{a} - b); }

inline SINT16 shr(SINT16 a, SINT16 s);

inline SINT16 shl(SINT16 a, SINT16 s) {
    if (s < 0) return shr(a, static_cast<SINT16>(s < -16 ? 16 : -s));
    if (s > 15 && a != 0) {
        Overflow = 1;
        return a > 0 ? SINT16{32767} : SINT16{-32768};
    }
    if (a == 0) return 0;
    return sature(SINT32{a} << s);
}

inline SINT16 shr(SINT16 a, SINT16 s) {
    if (s < 0) return shl(a, static_cast<SINT16>(s < -16 ? 16 : -s));
    if (s >= 15) return a < 0 ? SINT16{-1} : SINT16{0};
    return static_cast<SINT16>(a >> s);
}

inline SINT16 shr_r(SINT16 a, SINT16 s) {
    if (s > 15) return 0;
    SINT16 r = shr(a, s);
    if (s > 0 && (a & (1 << (s - 1)))) ++r;
    return r;
}

inline SINT16 mult(SINT16 a, SINT16 b) { return sature((SINT32{a} * b) >> 15); }
inline SINT16 mult_r(SINT16 a, SINT16 b) { return sature((SINT32{a} * b + 0x4000) >> 15); }
inline SINT16 negate(SINT16 a) { return a == -32768 ? SINT16{32767} : static_cast<SINT16>(-a); }
inline SINT16 extract_h(SINT32 x) { return static_cast<SINT16>(x >> 16); }
inline SINT16 extract_l(SINT32 x) { return static_cast<SINT16>(x); }

inline SINT32 L_add(SINT32 a, SINT32 b) { return basicop_detail::sat32(std::int64_t{a} + b); }
inline SINT32 L_sub(SINT32 a, SINT32 b) { return basicop_detail::sat32(std::int64_t{a} - b); }
inline SINT16 round(SINT32 x) { return extract_h(L_add(x, 0x8000)); }

inline SINT32 L_mult(SINT16 a, SINT16 b) {
    if (a == -32768 && b == -32768) [[unlikely]] {
        Overflow = 1;
        return basicop_detail::kMax32;
    }
    return SINT32{a} * b * 2;
}

inline SINT32 L_mac(SINT32 acc, SINT16 a, SINT16 b) { return L_add(acc, L_mult(a, b)); }
inline SINT32 L_msu(SINT32 acc, SINT16 a, SINT16 b) { return L_sub(acc, L_mult(a, b)); }

inline SINT32 L_shr(SINT32 x, SINT16 s);

inline SINT32 L_shl(SINT32 x, SINT16 s) {
    if (s <= 0) return L_shr(x, static_cast<SINT16>(s < -32 ? 32 : -s));
    // Shifting one bit at a time saturates exactly when the true result leaves the 32-bit range;
    // beyond 32 places every non-zero value has left it.
    return basicop_detail::sat32(static_cast<std::int64_t>(x) * (std::int64_t{1} << (s > 32 ? 32 : s)));
}

inline SINT32 L_shr(SINT32 x, SINT16 s) {
    if (s < 0) return L_shl(x, static_cast<SINT16>(s < -32 ? 32 : -s));
    if (s >= 31) return x < 0 ? -1 : 0;
    return x >> s;
}

inline SINT32 L_shr_r(SINT32 x, SINT16 s) {
    if (s > 31) return 0;
    SINT32 r = L_shr(x, s);
    if (s > 0 && (x & (SINT32{1} << (s - 1)))) ++r;
    return r;
}

inline SINT32 L_negate(SINT32 x) { return x == basicop_detail::kMin32 ? basicop_detail::kMax32 : -x; }
inline SINT32 L_abs(SINT32 x) {
    return x == basicop_detail::kMin32 ? basicop_detail::kMax32 : (x < 0 ? -x : x);
}
inline SINT32 L_deposit_h(SINT16 a) {
    return static_cast<SINT32>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(a)) << 16);
}
inline SINT32 L_deposit_l(SINT16 a) { return a; }

inline SINT16 norm_l(SINT32 x) {
    if (x == 0) return 0;
    const std::uint32_t v = static_cast<std::uint32_t>(x < 0 ? ~x : x);
    if (v == 0) return 31;  // x == -1
    // Shifts until bit 30 is set: the leading zeros of the magnitude less the sign position.
    return static_cast<SINT16>(__builtin_clz(v) - 1);
}

inline SINT16 abs_s_itu(SINT16 a) { return a == -32768 ? SINT16{32767} : static_cast<SINT16>(a < 0 ? -a : a); }

inline SINT16 norm_s_itu(SINT16 a) {
    if (a == 0) return 0;
    const std::uint32_t v = static_cast<std::uint32_t>(a < 0 ? ~SINT32{a} : SINT32{a});
    if (v == 0) return 15;  // a == -1
    return static_cast<SINT16>(__builtin_clz(v) - 17);
}

// 0 <= num <= den, den > 0 (not checked): the Q15 quotient, 32767 when num equals den.
inline SINT16 div_s_itu(SINT16 num, SINT16 den) {
    if (num <= 0 || den <= 0) return 0;
    if (num >= den) return 32767;
    return static_cast<SINT16>((SINT32{num} << 15) / den);
}

inline SINT16 mac_r(SINT32 acc, SINT16 a, SINT16 b) { return extract_h(L_add(L_mac(acc, a, b), 0x8000)); }
inline SINT16 msu_r(SINT32 acc, SINT16 a, SINT16 b) { return extract_h(L_add(L_msu(acc, a, b), 0x8000)); }

SINT32 L_add_c(SINT32 a, SINT32 b);
SINT32 L_sub_c(SINT32 a, SINT32 b);
inline SINT32 L_macNs(SINT32 acc, SINT16 a, SINT16 b) { return L_add_c(acc, L_mult(a, b)); }
inline SINT32 L_msuNs(SINT32 acc, SINT16 a, SINT16 b) { return L_sub_c(acc, L_mult(a, b)); }
SINT32 L_sat(SINT32 x);

// Added operators.
inline SINT32 I_mult(SINT16 a, SINT16 b) { return SINT32{a} * b; }  // plain product: no doubling, no saturation
inline SINT32 I_mac(SINT32 acc, SINT16 a, SINT16 b) { return L_add(acc, I_mult(a, b)); }
inline SINT32 I_msu(SINT32 acc, SINT16 a, SINT16 b) { return L_sub(acc, I_mult(a, b)); }
// L_mac and L_shl that report saturation in *ovf instead of Overflow.
SINT32 L_maco(SINT32 acc, SINT16 a, SINT16 b, SINT16* ovf);
SINT32 L_shlo(SINT32 x, SINT16 s, SINT16* ovf);
SINT32 L_mls(SINT32 x, SINT16 v);     // 32 by 16 fractional product
SINT16 div_l(SINT32 num, SINT16 den);  // 0 <= num, den > 0 (not checked)
inline SINT16 i_mult(SINT16 a, SINT16 b) { return static_cast<SINT16>(SINT32{a} * b); }  // low 16 bits of the product

// G.729 maths routines and random generator.
void Log2(SINT32 L_x, SINT16* exponent, SINT16* fraction);
SINT32 Pow2(SINT16 exponent, SINT16 fraction);
SINT32 Inv_sqrt(SINT32 L_x);
SINT16 Random(SINT16* seed);

// Block forms.
void block_add(SINT16* out, const SINT16* a, const SINT16* b, int n);
void block_sub(SINT16* out, const SINT16* a, const SINT16* b, int n);
void block_shl(SINT16* out, const SINT16* in, int s, int n);
void block_shrC(SINT16* out, const SINT16* in, int s, int n);
void block_extract_h(const SINT32* in, SINT16* out, int n);
void block_F16to32(const SINT16* in, SINT32* out, int n);
SINT32 V_mac_shift_blk8(int n, const SINT16* x, const SINT16* y);
void BlockShortCopy(int n, const SINT16* src, SINT16* dst);
void BlockShortClear(int n, SINT16* dst);
void BlockShortMove10Aligned(const SINT16* src, SINT16* dst);
void BlockShortMove10xAligned(int n, const SINT16* src, SINT16* dst);
void BlockShortClear10xAligned(int n, SINT16* dst);

// Interpolation tables of the maths routines (the G.729 reference's values).
extern const SINT16 basicop_tabpow[33];
extern const SINT16 basicop_tablog[33];
extern const SINT16 basicop_tabsqr[49];
