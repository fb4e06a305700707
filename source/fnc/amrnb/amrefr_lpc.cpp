// LPC analysis: autocorrelation lags, lag window and the Levinson-Durbin
// recursion on double-precision words (hi·65536 + lo·2 held in one Word32).
#include "amrefr_basic_op.h"
#include "amrefr_fast.h"
#include "amrefr_kernels.h"
#include "amrefr_lanes.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

// Lags 1 … 10 as plain sums (y[240 …] are zero).
AMREFR_VECTOR_CLONES
void plain_lags(const Word16* y, Word32* r, Word16 norm) {
    for (int i = 1; i <= 10; ++i) {
        std::int32_t s = 0;
        for (int j = 0; j < 240; ++j) s += std::int32_t{y[j]} * y[j + i];
        r[i] = static_cast<Word32>(static_cast<std::uint32_t>(2 * s) << (norm > 0 ? norm : 0));
    }
}

}  // namespace

void amrefr_ACF(Word16* y, Word32* r, Word16 norm) {
    for (int j = 240; j < 256; ++j) y[j] = 0;
    // Every lane sum of y[j]·y[j + i] is within Σ y² (Cauchy–Schwarz).
    if (2 * amrefr_fast::energy64(y, 240) <= MAX_32) {
        plain_lags(y, r, norm);
        if (norm <= 0)
            for (int i = 0; i <= 11; ++i) r[i] &= ~1;
        return;
    }
    for (int i = 1; i <= 10; ++i) {
        Word32 p[4] = {0, 0, 0, 0};
        for (int j = 0; j < 240; ++j) p[j & 3] = L_mac(p[j & 3], y[j], j + i < 256 ? y[j + i] : 0);
        Word32 s = amrefr_lanes::combine4(p);
        // No partial sum can exceed r[0], which did not saturate: a plain shift.
        r[i] = static_cast<Word32>(static_cast<std::uint32_t>(s) << (norm > 0 ? norm : 0));
    }
    if (norm <= 0)
        for (int i = 0; i <= 11; ++i) r[i] &= ~1;
}

void amrefr_Lag_window(Word32* r) {
    for (int i = 1; i <= 10; ++i) {
        Word16 hi = dp_hi(r[i]), lo = dp_lo(r[i]);
        Word32 x = L_mult(hi, amrefr_L_lag_hi[i - 1]);
        x = L_mac(x, mult(hi, amrefr_L_lag_lo[i - 1]), 1);
        r[i] = L_mac(x, mult(lo, amrefr_L_lag_hi[i - 1]), 1);
    }
}

void amrefr_Levinson(GSMAMR_LevinsonState* st, const Word32* r, Word16* A, Word16* rc) {
    Word32 a[11] = {}, an[11] = {};

    Word32 t1 = r[1];
    Word32 t0 = amrefr_DIV_32(L_abs(t1), r[0]);
    if (t1 > 0) t0 = L_negate(t0);
    rc[0] = round16(t0);
    a[1] = (t0 >> 4) & ~1;

    Word32 t = amrefr_MPY_32(t0, t0);
    t = L_sub(MAX_32, L_abs(t));
    t = amrefr_MPY_32(r[0], t);
    Word16 alp_exp = norm_l(t);
    Word32 alpha = static_cast<Word32>(static_cast<std::uint32_t>(t) << alp_exp);

    for (int i = 2; i <= 10; ++i) {
        Word32 s = 0;
        for (int j = 1; j < i; ++j) s = L_add(s, amrefr_MPY_32(r[j], a[i - j]));
        s = L_add(L_shl(s, 4), r[i]);

        Word32 t2 = amrefr_DIV_32(L_abs(s), alpha);
        if (s > 0) t2 = L_negate(t2);
        t2 = L_shl(t2, alp_exp);
        Word32 K = t2 & ~1;
        if (i < 5) rc[i - 1] = round16(t2);

        Word16 k_hi = static_cast<Word16>(K >> 16);
        if ((k_hi < 0 ? -std::int32_t{k_hi} : k_hi) > 32750) {
            for (int j = 0; j <= 10; ++j) A[j] = st->old_A[j];
            for (int j = 0; j < 4; ++j) rc[j] = 0;
            return;
        }

        for (int j = 1; j < i; ++j) an[j] = L_add(amrefr_MPY_32(K, a[i - j]), a[j]);
        an[i] = t2 >> 4;

        t = amrefr_MPY_32(K, K);
        t = L_sub(MAX_32, L_abs(t));
        t = amrefr_MPY_32(alpha, t);
        Word16 n = norm_l(t);
        alpha = static_cast<Word32>(static_cast<std::uint32_t>(t) << n);
        alp_exp = add(alp_exp, n);

        for (int j = 1; j <= i; ++j) a[j] = an[j] & ~1;
    }

    A[0] = 4096;
    for (int j = 1; j <= 10; ++j) {
        A[j] = round16(L_shl(a[j], 1));
        st->old_A[j] = A[j];
    }
}
