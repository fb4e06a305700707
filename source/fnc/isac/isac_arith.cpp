#include "isac_arith.h"

#include "isac_ops.h"
#include "isac_tables.h"

namespace isac {

int32_t WebRtcSpl_DivW32W16(int32_t num, int16_t den) {
    if (den == 0) return INT32_MAX;
    // INT32_MIN / -1 does not fit; the defined answer is INT32_MIN, and the
    // division instruction would trap.
    if (den == -1) return wrap32(-static_cast<int64_t>(num));
    return num / den;
}

int16_t WebRtcSpl_DivW32W16ResW16(int32_t num, int16_t den) {
    if (den == 0) return 32767;
    return lo16(WebRtcSpl_DivW32W16(num, den));
}

int32_t WebRtcSpl_DivResultInQ31(int32_t num, int32_t den) {
    if (num == 0) return 0;
    const bool negative = (num < 0) != (den < 0);
    // Magnitudes in 64 bits so that INT32_MIN has one; it then saturates.
    const uint64_t n = num < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(num)) : static_cast<uint64_t>(num);
    const uint64_t d = den < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(den)) : static_cast<uint64_t>(den);
    if (n >= d) return negative ? -INT32_MAX : INT32_MAX;
    uint64_t r = n;
    uint32_t q = 0;
    for (int i = 0; i < 31; ++i) {
        r <<= 1;
        q <<= 1;
        if (r >= d) {
            r -= d;
            q += 1;
        }
    }
    const int32_t result = static_cast<int32_t>(q);
    return negative ? -result : result;
}

int32_t WebRtcSpl_DivW32HiLow(int32_t num, int16_t den_hi, int16_t den_low) {
    const int32_t approx = lo16(WebRtcSpl_DivW32W16(536870911, den_hi));
    int32_t t = sub32(INT32_MAX, add32(shl32(den_hi * approx, 1), shl32((den_low * approx) >> 15, 1)));
    const int32_t t_hi = t >> 16;
    const int32_t t_low = (t & 0xFFFF) >> 1;
    const int32_t r = shl32(add32(mul32(t_hi, approx), (t_low * approx) >> 15), 1);
    const int32_t r_hi = r >> 16;
    const int32_t r_low = (r & 0xFFFF) >> 1;
    const int32_t n_hi = num >> 16;
    const int32_t n_low = (num & 0xFFFF) >> 1;
    int32_t acc = mul32(n_hi, r_hi);
    acc = add32(acc, (n_hi * r_low) >> 15);
    acc = add32(acc, (n_low * r_hi) >> 15);
    return shl32(acc, 3);
}

int32_t WebRtcSpl_DivW32(int32_t num, int32_t den) {
    return WebRtcSpl_DivW32HiLow(num, static_cast<int16_t>(den >> 16),
                                 static_cast<int16_t>((den & 0xFFFF) >> 1));
}

void WebRtcSpl_GetHanningWindow(int16_t* v, int16_t size) {
    const int32_t factor = WebRtcSpl_DivW32W16(1 << 30, size);
    int32_t index = size <= 512 ? -2097152 : -1048576;
    for (int i = 0; i < size; ++i) {
        index = add32(index, factor);
        v[i] = kHanningTable[index >> 22];
    }
}

int WebRtcSpl_GetScalingSquare(const int16_t* in_vector, int in_vector_length, int times) {
    const int nbits = 32 - clz32(static_cast<uint32_t>(times));
    int32_t smax = 0;
    for (int i = 0; i < in_vector_length; ++i) {
        const int32_t a = in_vector[i] < 0 ? -in_vector[i] : in_vector[i];
        if (a > smax) smax = a;
    }
    if (smax == 0) return 0;
    const uint32_t sq = static_cast<uint32_t>(smax) * static_cast<uint32_t>(smax);
    const int t = clz32(sq) - 1;
    return t <= nbits ? nbits - t : 0;
}

}  // namespace isac
