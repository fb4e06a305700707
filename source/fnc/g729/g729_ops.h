// Private fixed-point operators of the G.729 codec: the saturating 16/32-bit arithmetic of the
// ITU-T basic-operator set, as file-local inline copies that touch no global flag, so that any
// number of coder and decoder channels run side by side on any threads.
#pragma once

#include <algorithm>
#include <cstdint>

namespace g729 {

using W16 = std::int16_t;
using W32 = std::int32_t;

constexpr W16 kMax16 = 32767;
constexpr W16 kMin16 = -32768;
constexpr W32 kMax32 = 0x7FFFFFFF;
constexpr W32 kMin32 = static_cast<W32>(0x80000000u);

// Saturation is the exception: predicted branches keep it off the recursions' dependency chains
// (a select would sit on them).
inline W16 sat16(W32 x) {
    if (__builtin_expect(x > kMax16, 0)) return kMax16;
    if (__builtin_expect(x < kMin16, 0)) return kMin16;
    return static_cast<W16>(x);
}
// Saturation in select form (no branch), for loops that are to become vector code.
inline W16 clamp16(W32 x) { return static_cast<W16>(std::clamp(x, W32{kMin16}, W32{kMax16})); }
inline W32 sat32(std::int64_t x) {
    if (__builtin_expect(x > kMax32, 0)) return kMax32;
    if (__builtin_expect(x < kMin32, 0)) return kMin32;
    return static_cast<W32>(x);
}
inline W16 add(W16 a, W16 b) { return sat16(W32{a} + b); }
inline W16 sub(W16 a, W16 b) { return sat16(W32{a} - b); }
inline W16 abs_s(W16 a) { return a == kMin16 ? kMax16 : static_cast<W16>(a < 0 ? -a : a); }
inline W16 negate(W16 a) { return a == kMin16 ? kMax16 : static_cast<W16>(-a); }
inline W16 extract_h(W32 x) { return static_cast<W16>(x >> 16); }
inline W16 extract_l(W32 x) { return static_cast<W16>(x); }
inline W32 L_deposit_h(W16 a) { return static_cast<W32>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(a)) << 16); }
inline W32 L_deposit_l(W16 a) { return a; }
inline W16 shr(W16 a, int s);
inline W16 shl(W16 a, int s) {
    if (s < 0) return shr(a, -s);
    if (s > 15) return a == 0 ? W16{0} : (a > 0 ? kMax16 : kMin16);
    return sat16(W32{a} << s);
}
inline W16 shr(W16 a, int s) {
    if (s < 0) return shl(a, -s);
    if (s > 15) return a < 0 ? W16{-1} : W16{0};
    return static_cast<W16>(a >> s);
}
inline W16 shr_r(W16 a, int s) {
    if (s > 15) return 0;
    if (s <= 0) return shr(a, s);
    return static_cast<W16>((W32{a} + (W32{1} << (s - 1))) >> s);
}
inline W16 mult(W16 a, W16 b) { return sat16((W32{a} * b) >> 15); }
inline W16 mult_r(W16 a, W16 b) { return sat16((W32{a} * b + 0x4000) >> 15); }
inline W32 L_mult(W16 a, W16 b) {
    if (__builtin_expect(a == kMin16 && b == kMin16, 0)) return kMax32;
    return (W32{a} * b) << 1;
}
inline W32 L_add(W32 a, W32 b) {
    W32 r;
    if (__builtin_add_overflow(a, b, &r)) [[unlikely]] return a < 0 ? kMin32 : kMax32;
    return r;
}
inline W32 L_sub(W32 a, W32 b) {
    W32 r;
    if (__builtin_sub_overflow(a, b, &r)) [[unlikely]] return a < 0 ? kMin32 : kMax32;
    return r;
}
inline W32 L_mac(W32 acc, W16 a, W16 b) { return L_add(acc, L_mult(a, b)); }
inline W32 L_msu(W32 acc, W16 a, W16 b) { return L_sub(acc, L_mult(a, b)); }
inline W32 L_negate(W32 a) { return a == kMin32 ? kMax32 : -a; }
inline W32 L_abs(W32 a) { return a == kMin32 ? kMax32 : (a < 0 ? -a : a); }
inline W32 L_shr(W32 a, int s);
// L_shl: a count of 0 or less shifts right arithmetically by its magnitude (31 at most).
inline W32 L_shl(W32 a, int s) {
    if (s <= 0) return L_shr(a, -s);
    if (s >= 31) return a == 0 ? 0 : (a > 0 ? kMax32 : kMin32);
    return sat32(std::int64_t{a} << s);
}
inline W32 L_shr(W32 a, int s) {
    if (s < 0) return L_shl(a, -s);
    if (s > 31) s = 31;
    return a >> s;
}
inline W32 L_shr_r(W32 a, int s) {
    if (s > 31) return 0;
    if (s <= 0) return L_shr(a, s);
    return static_cast<W32>((std::int64_t{a} + (std::int64_t{1} << (s - 1))) >> s);
}
inline W16 round16(W32 x) { return extract_h(L_add(x, 0x8000)); }
inline W16 norm_s(W16 a) {
    if (a == 0) return 0;
    if (a == -1) return 15;
    W16 n = 0;
    W32 v = a < 0 ? ~W32{a} : a;
    while (v < 0x4000) { v <<= 1; ++n; }
    return n;
}
inline W16 norm_l(W32 a) {
    if (a == 0) return 0;
    if (a == -1) return 31;
    std::uint32_t v = static_cast<std::uint32_t>(a < 0 ? ~a : a);
    W16 n = 0;
    while (v < 0x40000000u) { v <<= 1; ++n; }
    return n;
}
// div_s: 0 <= num <= den, den > 0; the Q15 quotient, 32767 when num equals den.
inline W16 div_s(W16 num, W16 den) {
    if (num <= 0 || den <= 0) return 0;
    if (num >= den) return kMax16;
    return static_cast<W16>((W32{num} << 15) / den);
}

// Double precision in one word: hi·65536 + lo·2 (bit 0 ignored).
inline W16 dp_hi(W32 x) { return static_cast<W16>(x >> 16); }
inline W16 dp_lo(W32 x) { return static_cast<W16>((x & 0xFFFF) >> 1); }
// The 32 x 16 product of the double-precision split: 2·hi·n + 2·((lo·n) >> 15).
inline W32 Mpy_32_16(W32 x, W16 n) {
    return L_mac(L_mult(dp_hi(x), n), mult(dp_lo(x), n), 1);
}
// 16-bit seed generator: seed·31821 + 13849 with 16-bit wrap; the draw is the new seed.
inline W16 Random(W16* seed) {
    *seed = static_cast<W16>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(*seed) * 31821u + 13849u));
    return *seed;
}

}  // namespace g729
