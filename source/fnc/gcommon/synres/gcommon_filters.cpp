// Residual and synthesis filters of fixed and variable order.
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

}  // namespace gcommon
