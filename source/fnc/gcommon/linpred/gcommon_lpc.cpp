// Linear prediction: windowed autocorrelation, lag window and the three 32-bit Levinson-Durbin
// recursions (order 10 with the error energy, order 10 and order 30 with saturating updates).
#include "gcommon_internal.h"

namespace gcommon {

void g729Autocorr(const SINT16* x, int m, SINT32* r, int* exp_R0, void* scratchp) {
    auto* y = static_cast<SINT16*>(scratchp);
    for (int i = 0; i < 240; ++i) y[i] = mult_r(x[i], g729HamwindowTab[i]);
    int e = 1;
    SINT32 sum;
    for (;;) {
        clrOverflow();
        sum = V_mac_shift_blk8(240, y, y);
        if (!isOverflow()) break;
        for (int i = 0; i < 240; ++i) y[i] = static_cast<SINT16>(y[i] >> 2);
        e += 4;
    }
    sum = wrap32(std::int64_t{sum} + 1);
    const SINT16 norm = norm_l(sum);
    r[0] = L_shl(sum, norm) & ~SINT32{1};
    *exp_R0 = e - norm;
    for (int i = 1; i <= m; ++i) {
        SINT32 s = 0;
        for (int j = 0; j < 240 - i; ++j) s = L_mac(s, y[j], y[j + i]);
        r[i] = L_shl(s, norm) & ~SINT32{1};
    }
}

void g729Lag_window(SINT16 m, SINT32* r, const SINT32* lag_p) {
    for (int i = 1; i <= m; ++i) {
        const SINT32 x = r[i], w = lag_p[i - 1];
        const std::int64_t s = std::int64_t{hi16(x)} * hi16(w) + ((lo16u(x) * hi16(w)) >> 16) + ((lo16u(w) * hi16(x)) >> 16);
        r[i] = wrap32(2 * s);
    }
}

namespace {

constexpr SINT32 kOneQ31 = 0x7FFFFFFE;

SINT32 oneMinusK2(SINT32 K) { return wrap32(std::int64_t{kOneQ31} - absPlain(Mpy_32_32(K, K))); }
SINT32 toQ27(SINT32 K) { return (K >> 4) & ~SINT32{1}; }

enum class Variant { AnnexA, Main, AnnexE };

// The recursion shared by the three forms; returns false (after the fallback) when unstable.
bool levinsonCore(Variant v, int order, const SINT32* R, SINT16* A, SINT16* rc, SINT16* old_A, SINT16* old_rc, SINT16* Err,
                  SINT16 annexFlag) {
    SINT32 Aq[31] = {}, An[31] = {};
    SINT32 K;
    if (v == Variant::AnnexA) {
        K = Div_32_32(L_abs(R[1]), R[0]);
        if (R[1] > 0) K = L_negate(K);
    } else {
        const SINT32 mn = R[0] < R[1] ? R[0] : R[1];
        K = Div_32_32(L_abs(mn), R[0]);
        if (mn > 0) K = L_negate(K);
    }
    rc[0] = hi16(K);
    Aq[1] = toQ27(K);
    SINT32 alp = Mpy_32_32(R[0], oneMinusK2(K));
    int e = norm_l(alp);
    alp = plainShl(alp, e);

    for (int i = 2; i <= order; ++i) {
        std::int64_t acc = 0;
        for (int j = 1; j < i; ++j) acc += Mpy_32_32(R[j], Aq[i - j]);
        const SINT32 t = wrap32(std::int64_t{R[i]} + std::int64_t{plainShl(wrap32(acc), 4)});
        if (v == Variant::AnnexA) {
            K = Div_32_32(absPlain(t), alp);
            if (t > 0) K = -K;
            K = plainShl(K, e);
        } else {
            const SINT32 at = absPlain(t);
            K = Div_32_32(at < alp ? at : alp, alp);
            if (t > 0) K = -K;
            K = v == Variant::AnnexE ? L_shl(K, static_cast<SINT16>(e)) : plainShl(K, e);
        }
        rc[i - 1] = hi16(K);
        if (abs_s_itu(rc[i - 1]) > 32750) {
            BlockShortCopy(order, old_A, A);
            rc[0] = old_rc[0];
            rc[1] = old_rc[1];
            return false;
        }
        for (int j = 1; j < i; ++j) {
            const SINT32 p = Mpy_32_32(K, Aq[i - j]);
            An[j] = v == Variant::AnnexA ? wrap32(std::int64_t{Aq[j]} + p) : L_add(Aq[j], p);
        }
        An[i] = toQ27(K);
        alp = Mpy_32_32(alp, oneMinusK2(K));
        const int n = norm_l(alp);
        alp = plainShl(alp, n);
        e += n;
        for (int j = 1; j <= i; ++j) Aq[j] = An[j];
    }
    if (v == Variant::AnnexA && (annexFlag & 1)) *Err = shr(hi16(alp), static_cast<SINT16>(e));
    for (int j = 1; j <= order; ++j) {
        A[j - 1] = ::round(plainShl(Aq[j], 1));
        old_A[j - 1] = A[j - 1];
    }
    old_rc[0] = rc[0];
    old_rc[1] = rc[1];
    return true;
}

}  // namespace

void g729aLevinson(const SINT32* R, SINT16* A, SINT16* rc, SINT16* old_A, SINT16* old_rc, SINT16* Err, SINT16 annexFlag) {
    levinsonCore(Variant::AnnexA, 10, R, A, rc, old_A, old_rc, Err, annexFlag);
}

void g729Levinson(const SINT32* R, SINT16* A, SINT16* rc, SINT16* old_A, SINT16* old_rc) {
    levinsonCore(Variant::Main, 10, R, A, rc, old_A, old_rc, nullptr, 0);
}

void g729eLevinson(const SINT32* R, SINT16* A, SINT16* rc, SINT16* old_A, SINT16* old_rc) {
    levinsonCore(Variant::AnnexE, 30, R, A, rc, old_A, old_rc, nullptr, 0);
}

void g729Weight_Az(const SINT16* a, SINT16 gamma, SINT16 m, SINT16* ap) {
    SINT16 fac = gamma;
    for (int i = 0; i < m; ++i) {
        ap[i] = ::round(L_mult(a[i], fac));
        fac = ::round(L_mult(fac, gamma));
    }
}

void g729aLowpassAz(SINT16* aout, const SINT16* ain) {
    SINT16 prev = ain[0];
    aout[0] = static_cast<SINT16>(ain[0] - 2867);
    for (int i = 1; i < 10; ++i) {
        const SINT16 cur = ain[i];  // aout may alias ain
        aout[i] = sub(cur, static_cast<SINT16>((SINT32{prev} * 22938) >> 15));
        prev = cur;
    }
}

}  // namespace gcommon
