// Saturating fixed-point operators of the AMR-WB codec.
//
// The AMR-WB family keeps its own copy, inside namespace amr_wb_op, so that it
// never collides with the copies of the other codec families.  Every operator
// is pure: overflow saturates and is never recorded in a global flag.
#pragma once

#include <cstdint>

#include "amrwb_types.h"

namespace amr_wb_op {

constexpr Word32 MAX_32 = 0x7FFFFFFF;
constexpr Word32 MIN_32 = static_cast<Word32>(0x80000000u);
constexpr Word16 MAX_16 = 0x7FFF;
constexpr Word16 MIN_16 = -32768;

constexpr Word16 sat16(std::int64_t v) {
    return v > MAX_16 ? MAX_16 : (v < MIN_16 ? MIN_16 : static_cast<Word16>(v));
}
constexpr Word32 sat32(std::int64_t v) {
    return v > MAX_32 ? MAX_32 : (v < MIN_32 ? MIN_32 : static_cast<Word32>(v));
}
// Two's-complement wrap to 16 / 32 bits.
constexpr Word16 wrap16(std::int64_t v) { return static_cast<Word16>(static_cast<std::uint16_t>(v)); }
constexpr Word32 wrap32(std::int64_t v) { return static_cast<Word32>(static_cast<std::uint32_t>(v)); }

constexpr Word16 add(Word16 a, Word16 b) { return sat16(std::int32_t{a} + b); }
constexpr Word16 sub(Word16 a, Word16 b) { return sat16(std::int32_t{a} - b); }
constexpr Word16 negate(Word16 a) { return a == MIN_16 ? MAX_16 : static_cast<Word16>(-a); }
constexpr Word16 abs_s(Word16 a) { return a == MIN_16 ? MAX_16 : static_cast<Word16>(a < 0 ? -a : a); }
constexpr Word16 mult(Word16 a, Word16 b) { return sat16((std::int32_t{a} * b) >> 15); }
constexpr Word16 mult_r(Word16 a, Word16 b) { return sat16((std::int32_t{a} * b + 0x4000) >> 15); }
constexpr Word32 L_mult(Word16 a, Word16 b) {
    return (a == MIN_16 && b == MIN_16) ? MAX_32 : std::int32_t{a} * b * 2;
}
constexpr Word32 L_add(Word32 a, Word32 b) { return sat32(std::int64_t{a} + b); }
constexpr Word32 L_sub(Word32 a, Word32 b) { return sat32(std::int64_t{a} - b); }
constexpr Word32 L_mac(Word32 acc, Word16 a, Word16 b) { return L_add(acc, L_mult(a, b)); }
constexpr Word32 L_msu(Word32 acc, Word16 a, Word16 b) { return L_sub(acc, L_mult(a, b)); }
constexpr Word32 L_negate(Word32 a) { return a == MIN_32 ? MAX_32 : -a; }
constexpr Word32 L_abs(Word32 a) { return a == MIN_32 ? MAX_32 : (a < 0 ? -a : a); }
constexpr Word16 extract_h(Word32 a) { return static_cast<Word16>(a >> 16); }
constexpr Word16 extract_l(Word32 a) { return static_cast<Word16>(a); }
constexpr Word32 L_deposit_h(Word16 a) { return static_cast<Word32>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(a)) << 16); }
constexpr Word32 L_deposit_l(Word16 a) { return a; }
// The standard's round(): add 0x8000 with saturation, take the high half.
constexpr Word16 round16(Word32 a) { return extract_h(L_add(a, 0x8000)); }

constexpr Word16 shr(Word16 a, Word16 n);
constexpr Word16 shl(Word16 a, Word16 n) {
    if (n < 0) return shr(a, static_cast<Word16>(n < -16 ? 16 : -n));
    if (n > 15) return a == 0 ? 0 : (a > 0 ? MAX_16 : MIN_16);
    return sat16(static_cast<std::int32_t>(a) * (1 << n));
}
constexpr Word16 shr(Word16 a, Word16 n) {
    if (n < 0) return shl(a, static_cast<Word16>(n < -16 ? 16 : -n));
    if (n > 15) return a < 0 ? -1 : 0;
    return static_cast<Word16>(a >> n);
}
constexpr Word16 shr_r(Word16 a, Word16 n) {
    if (n > 15) return 0;
    if (n <= 0) return shr(a, n);
    return static_cast<Word16>((std::int32_t{a} + (1 << (n - 1))) >> n);
}
constexpr Word32 L_shr(Word32 a, Word16 n);
constexpr Word32 L_shl(Word32 a, Word16 n) {
    if (n <= 0) return L_shr(a, static_cast<Word16>(n < -32 ? 32 : -n));
    if (n > 31) return a == 0 ? 0 : (a > 0 ? MAX_32 : MIN_32);
    return sat32(static_cast<std::int64_t>(a) * (std::int64_t{1} << n));
}
constexpr Word32 L_shr(Word32 a, Word16 n) {
    if (n < 0) return L_shl(a, static_cast<Word16>(n < -32 ? 32 : -n));
    if (n > 30) return a < 0 ? -1 : 0;
    return a >> n;
}
// Number of redundant sign bits; 0 for a zero input (the standard's norm_s / norm_l).
constexpr Word16 norm_s(Word16 a) {
    if (a == 0) return 0;
    if (a == -1) return 15;
    std::int32_t v = a < 0 ? ~std::int32_t{a} : a;
    Word16 n = 0;
    while (v < 0x4000) {
        v <<= 1;
        ++n;
    }
    return n;
}
constexpr Word16 norm_l(Word32 a) {
    if (a == 0) return 0;
    if (a == -1) return 31;
    std::uint32_t v = static_cast<std::uint32_t>(a < 0 ? ~a : a);
    Word16 n = 0;
    while (v < 0x40000000u) {
        v <<= 1;
        ++n;
    }
    return n;
}

}  // namespace amr_wb_op
