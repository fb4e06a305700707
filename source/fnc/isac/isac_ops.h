// Small fixed-point operators shared by the codec's routines.  Sums and
// shifts that the codec lets wrap go through unsigned arithmetic so that the
// two's-complement result is defined.
#pragma once

#include <cstdint>

namespace isac {

inline int32_t wrap32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }
inline int16_t lo16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }
inline int32_t add32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t sub32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
inline int32_t mul32(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
// Left shift in two's complement; shifts of 32 or more leave 0.
inline int32_t shl32(int32_t a, int s) {
    return s >= 32 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(a) << s);
}
// Arithmetic right shift; shifts of 31 or more leave the sign.
inline int32_t shr32(int32_t a, int s) { return a >> (s > 31 ? 31 : s); }

inline int16_t sat16(int32_t v) {
    return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}
inline int16_t sat16_64(int64_t v) {
    return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}
inline int32_t sat32(int64_t v) {
    return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : v));
}

// Left shifts that leave one sign bit; 0 for 0.
inline int norm32(int32_t x) {
    if (x == 0) return 0;
    uint32_t u = static_cast<uint32_t>(x < 0 ? ~x : x);
    return u == 0 ? 31 : __builtin_clz(u) - 1;
}
// Leading zero bits of an unsigned value; 32 for 0.
inline int clz32(uint32_t x) { return x == 0 ? 32 : __builtin_clz(x); }

// Left shift for s >= 0, arithmetic right shift by -s otherwise.
inline int32_t shiftW32(int32_t x, int s) { return s >= 0 ? shl32(x, s) : shr32(x, -s); }

inline int32_t MUL16_32_Q15(int32_t a, int32_t b) {
    return wrap32((static_cast<int64_t>(a) * b) >> 15);
}
inline int32_t MUL16_32_Q16(int32_t a, int32_t b) {
    return wrap32((static_cast<int64_t>(a) * b) >> 16);
}
inline int32_t MUL32_32_Q16(int32_t a, int32_t b) { return MUL16_32_Q16(a, b); }
inline int32_t MUL32_32_Q31_R(int32_t a, int32_t b) {
    int64_t p = static_cast<int64_t>(a) * b;
    return wrap32(((p >> 15) + 32768) >> 16);
}
inline int32_t MUL32_32_Q31(int32_t a, int32_t b) { return wrap32((static_cast<int64_t>(a) * b) >> 31); }
inline int32_t MUL32_32_Q32(int32_t a, int32_t b) { return wrap32((static_cast<int64_t>(a) * b) >> 32); }
inline int32_t RSHIFT_32(int32_t a, int s) {
    return s >= 0 ? a >> (s > 31 ? 31 : s) : shl32(a, -s > 31 ? 31 : -s);
}
inline int16_t ADD16_SAT(int16_t a, int16_t b) { return sat16(a + b); }
inline int16_t SUB16_SAT(int16_t a, int16_t b) { return sat16(a - b); }

// a (16 bit) times b (32 bit) in Q15 with rounding of the low half, as the
// lattice and masking routines form it.
inline int32_t mulQ15r(int32_t a, int32_t b) {
    int32_t hi = shl32(mul32(a, b >> 16), 1);
    int32_t lo = ((mul32(a, b & 0xFFFF) >> 1) + 0x2000) >> 14;
    return add32(hi, lo);
}
// The same in Q14.
inline int32_t mulQ14r(int32_t c, int32_t v) {
    int32_t hi = shl32(mul32(c, v >> 16), 2);
    int32_t lo = ((mul32(c, v & 0xFFFF) >> 1) + 0x1000) >> 13;
    return add32(hi, lo);
}

}  // namespace isac
