// Second-order high-pass filters of the pre-processing (140 Hz, halving) and post-processing
// (100 Hz, doubling), with the full accumulator kept as output memory.
#include "gcommon_internal.h"

namespace gcommon {

namespace {
// 32 x 16 product with a memory word: bits 1..15 and the upper half, both plain.
SINT32 memProduct(SINT16 a, SINT32 y) {
    return wrap32(((std::int64_t{a} * (y & 0xFFFE)) >> 16) + std::int64_t{y >> 16} * a);
}

SINT32 highPassSum(const G729_2ND_HIGHPASS* st, const std::array<Tab16, 3>& a, const std::array<Tab16, 3>& b, SINT16 x) {
    std::int64_t s = std::int64_t{memProduct(a[1], st->y1)} + memProduct(a[2], st->y2);
    s += std::int64_t{b[0]} * x + std::int64_t{b[1]} * st->x0 + std::int64_t{b[2]} * st->x1;
    return wrap32(s);
}

void highPassShift(G729_2ND_HIGHPASS* st, SINT32 y, SINT16 x) {
    st->y2 = st->y1;
    st->y1 = y;
    st->x1 = st->x0;
    st->x0 = x;
}
}  // namespace

void g729Pre_Process(G729_2ND_HIGHPASS* statep, SINT16* signal, SINT16 lg) {
    for (int i = 0; i < lg; ++i) {
        const SINT16 x = signal[i];
        const SINT32 y = L_shl(highPassSum(statep, g729a140Tab, g729b140Tab, x), 4);
        signal[i] = ::round(y);
        highPassShift(statep, y, x);
    }
}

void g729Post_Process(G729_2ND_HIGHPASS* statep, SINT16* signal, SINT16 lg) {
    for (int i = 0; i < lg; ++i) {
        const SINT16 x = signal[i];
        const SINT32 y = L_shl(highPassSum(statep, g729a100Tab, g729b100Tab, x), 3);
        signal[i] = ::round(L_shl(y, 1));
        highPassShift(statep, y, x);
    }
}

}  // namespace gcommon
