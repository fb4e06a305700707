// Double-precision helpers, the overflow-flag pair and the memory helpers of the routine set.
#include "gcommon_internal.h"

void QRN_memcpy(void* dst, const void* src, int n) {
    auto* d = static_cast<unsigned char*>(dst);
    const auto* s = static_cast<const unsigned char*>(src);
    // Forward byte by byte on purpose: moves towards lower addresses inside one buffer work.
    for (int i = 0; i < n; ++i) d[i] = s[i];
}

void QRN_memset(void* dst, int value, int n) {
    auto* d = static_cast<unsigned char*>(dst);
    for (int i = 0; i < n; ++i) d[i] = static_cast<unsigned char>(value);
}

namespace gcommon {

void clrOverflow() { Overflow = 0; }
SINT16 isOverflow() { return Overflow; }

void L_Extract(SINT32 L, SINT16* hi, SINT16* lo) {
    *hi = static_cast<SINT16>(L >> 16);
    *lo = static_cast<SINT16>((L >> 1) & 0x7FFF);
}

SINT32 Mpy_32_16(SINT16 hi, SINT16 lo, SINT16 n) { return L_mac(L_mult(hi, n), mult(lo, n), 1); }

SINT32 Mpy_32(SINT16 hi1, SINT16 lo1, SINT16 hi2, SINT16 lo2) {
    SINT32 L = L_mult(hi1, hi2);
    L = L_mac(L, mult(hi1, lo2), 1);
    return L_mac(L, mult(lo1, hi2), 1);
}

SINT16 g729a_mult(SINT16 a, SINT16 b) { return mult(a, b); }
SINT16 pitch_abs(SINT16 a) { return abs_s_itu(a); }

SINT32 Mpy_32_32(SINT32 a, SINT32 b) {
    const std::int64_t ha = hi16(a), hb = hi16(b);
    const std::int64_t s = ha * hb + ((lo16u(a) * hb) >> 16) + ((ha * lo16u(b)) >> 16);
    return wrap32(2 * s);
}

SINT32 Div_32_32(SINT32 L_num, SINT32 denom) {
    const std::int64_t hd = hi16(denom);
    const std::int64_t v = div_s_itu(16383, static_cast<SINT16>(hd));
    SINT32 L = L_sub(0x7FFFFFFE, wrap32(2 * (v * hd + ((v * lo16u(denom)) >> 16))));
    const std::int64_t hL = hi16(L);
    SINT32 L2 = L_shl(wrap32(v * hL + ((v * lo16u(L)) >> 16)), 1);
    const std::int64_t hn = hi16(L_num), h2 = hi16(L2);
    return L_shl(wrap32(hn * h2 + ((lo16u(L_num) * h2) >> 16) + ((hn * lo16u(L2)) >> 16)), 3);
}

}  // namespace gcommon
