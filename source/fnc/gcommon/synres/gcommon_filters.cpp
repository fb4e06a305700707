// Residual and synthesis filters of fixed and variable order, and the second-order high-pass
// pre- and post-processing filters.
#include "gcommon_internal.h"

namespace gcommon {

void g729Residue(SINT16 m, const SINT16* a, const SINT16* x, SINT16* y) {
    for (int n = 0; n < 40; ++n) {
        SINT32 s = L_mult(a[0], x[n]);
        for (int j = 1; j <= m; ++j) s = L_mac(s, a[j], x[n - j]);
        y[n] = ::round(L_shl(s, 3));
    }
}

void g729aResidual(const SINT16* a, const SINT16* x, SINT16* y) {
    for (int n = 0; n < 40; ++n) {
        SINT32 s = SINT32{x[n]} * 8192;
        for (int j = 1; j <= 10; ++j) s = L_mac(s, a[j - 1], x[n - j]);
        y[n] = ::round(L_shl(s, 3));
    }
}

// Needs m + lg <= 80 (the working buffer); a call beyond that writes nothing and reports 1.
SINT16 g729Syn_filte(const SINT16* a, const SINT16* x, SINT16* y, SINT16 lg, SINT16 m, SINT16* mem, SINT16 update) {
    if (m < 0 || lg < 0 || m + lg > 80) return 1;
    SINT16 buf[80];
    for (int i = 0; i < m; ++i) buf[i] = mem[i];
    SINT16* out = buf + m;
    clrOverflow();
    for (int n = 0; n < lg; ++n) {
        SINT32 s = L_mult(x[n], a[0]);
        for (int j = 1; j <= m; ++j) s = L_msu(s, a[j], out[n - j]);
        out[n] = ::round(L_shl(s, 3));
    }
    for (int n = 0; n < lg; ++n) y[n] = out[n];
    if (update != 0)
        for (int i = 0; i < m; ++i) mem[i] = out[lg - m + i];
    return isOverflow();
}

SINT16 g729aSyn_filt(const SINT16* a, const SINT16* x, SINT16* y, SINT16 lg) {
    clrOverflow();
    for (int n = 0; n < lg; ++n) {
        SINT32 s = SINT32{x[n]} * 8192;
        for (int j = 1; j <= 10; ++j) s = L_msu(s, a[j - 1], y[n - j]);
        y[n] = ::round(L_shl(s, 3));
    }
    return isOverflow();
}

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
