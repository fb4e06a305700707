// Pitch: the reduced-complexity open-loop search on phase-split decimated correlations, the
// closed-loop fractional search, the adaptive-codebook gain, the lag parity and lag coding and
// the 1/3-resolution interpolation in its two accumulation orders.
#include "g729_internal.h"
#include "gcommon_internal.h"

#include <cstdlib>

namespace gcommon {

namespace {
// Phase-split scratch of the open-loop search: sample p (-143..78) lives in `evenPos` when p is
// even and in `oddPos` otherwise; sample 2i of the frame is evenPos[71 + i].
SINT32 corrAt(const SINT16* cur, const SINT16* delayed) {
    SINT32 s = 0;
    for (int i = 0; i < 40; ++i) s = L_mac(s, cur[i], delayed[i]);
    return s;
}

SINT16 normalisedMax(SINT32 max, const SINT16* delayed) {
    SINT32 e = 1;
    for (int i = 0; i < 40; ++i) e = L_mac(e, delayed[i], delayed[i]);
    e = Inv_sqrt(e);
    SINT16 mh, ml, eh, el;
    L_Extract(max, &mh, &ml);
    L_Extract(e, &eh, &el);
    return extract_l(Mpy_32(mh, ml, eh, el));
}

const SINT16* delayedFor(const SINT16* evenPos, const SINT16* oddPos, int lag) {
    return (lag & 1) == 0 ? evenPos + 71 - lag / 2 : oddPos + 71 - (lag - 1) / 2;
}
}  // namespace

SINT16 g729aPitch_ol_fast_Section1_2(const SINT16* scaled_signal_odd, const SINT16* scaled_signal_even, int loopCount, int index,
                                     int* T) {
    // scaled_signal_odd carries the even sample positions (-142 + 2k), the other array the odd ones.
    const SINT16* cur = scaled_signal_odd + 71;
    SINT32 max = INT32_MIN;
    int best = loopCount;
    for (int k = 0; k < loopCount; k += 2) {
        const int lag = loopCount + k;
        const SINT32 c0 = corrAt(cur, scaled_signal_odd + index - k / 2);
        if (c0 > max) {
            max = c0;
            best = lag;
        }
        const SINT32 c1 = corrAt(cur, scaled_signal_even + index - k / 2);
        if (c1 > max) {
            max = c1;
            best = lag + 1;
        }
    }
    *T = best;
    return normalisedMax(max, delayedFor(scaled_signal_odd, scaled_signal_even, best));
}

int g729aPitch_ol_fast(const SINT16* signal, void* scratchp) {
    auto* scratch = static_cast<SINT16*>(scratchp);
    SINT16* oddPos = scratch;          // samples -143 + 2k
    SINT16* evenPos = scratch + 112;   // samples -142 + 2k
    clrOverflow();
    SINT32 sum = 0;
    for (int i = -143; i < 80; i += 2) sum = L_mac(sum, signal[i], signal[i]);
    const bool down = isOverflow() != 0;
    const bool up = !down && sum < (SINT32{1} << 20);
    for (int k = 0; k < 111; ++k) {
        for (int ph = 0; ph < 2; ++ph) {
            const SINT16 s = signal[-143 + 2 * k + ph];
            const SINT16 v = down ? static_cast<SINT16>(s >> 3) : up ? static_cast<SINT16>(s * 8) : s;
            (ph == 0 ? oddPos : evenPos)[k] = v;
        }
    }
    int T1, T2;
    SINT16 max1 = g729aPitch_ol_fast_Section1_2(evenPos, oddPos, 20, 61, &T1);
    SINT16 max2 = g729aPitch_ol_fast_Section1_2(evenPos, oddPos, 40, 51, &T2);

    const SINT16* cur = evenPos + 71;
    SINT32 max = INT32_MIN;
    int T3 = 80;
    for (int lag = 80; lag < 143; lag += 2) {
        const SINT32 c = corrAt(cur, delayedFor(evenPos, oddPos, lag));
        if (c > max) {
            max = c;
            T3 = lag;
        }
    }
    const int base = T3;
    for (int lag : {base + 1, base - 1}) {
        const SINT32 c = corrAt(cur, delayedFor(evenPos, oddPos, lag));
        if (c > max) {
            max = c;
            T3 = lag;
        }
    }
    const SINT16 max3 = normalisedMax(max, delayedFor(evenPos, oddPos, T3));

    if (std::abs(2 * T2 - T3) < 5) max2 = add(max2, static_cast<SINT16>(max3 >> 2));
    if (std::abs(3 * T2 - T3) < 7) max2 = add(max2, static_cast<SINT16>(max3 >> 2));
    if (std::abs(2 * T1 - T2) < 5) max1 = add(max1, mult(max2, 6554));
    if (std::abs(3 * T1 - T2) < 7) max1 = add(max1, mult(max2, 6554));
    int T = T1;
    if (max1 < max2) {
        max1 = max2;
        T = T2;
    }
    if (max1 < max3) T = T3;
    return T;
}

SINT32 g729aDot_Product(const SINT16* x, const SINT16* y) {
    SINT32 s = 0;
    for (int i = 0; i < 40; ++i) s = L_mac(s, x[i], y[i]);
    return s;
}

int g729aPitch_fr3_fast(SINT16* exc, const SINT16* xn, const SINT16* h, int t0_min, int t0_max, int i_subfr, int* pit_frac) {
    *pit_frac = 0;
    SINT16 Dn[40];
    g729Cor_h_X(h, xn, Dn);
    SINT32 max = INT32_MIN;
    int t0 = t0_max;
    for (int t = t0_max; t >= t0_min; --t) {
        const SINT32 c = g729aDot_Product(Dn, exc - t);
        if (c >= max) {
            max = c;
            t0 = t;
        }
    }
    g729Pred_lt_3_Simple(exc, t0, 0);
    if (i_subfr == 0 && t0 >= 85) return t0;
    SINT32 best = g729aDot_Product(Dn, exc);
    SINT16 keep[40];
    BlockShortCopy(40, exc, keep);
    g729Pred_lt_3_Simple(exc, t0, -1);
    SINT32 c = g729aDot_Product(Dn, exc);
    if (c > best) {
        best = c;
        *pit_frac = -1;
        BlockShortCopy(40, exc, keep);
    }
    g729Pred_lt_3_Simple(exc, t0, 1);
    c = g729aDot_Product(Dn, exc);
    if (c > best) {
        *pit_frac = 1;
    } else {
        BlockShortCopy(40, keep, exc);
    }
    return t0;
}

SINT16 g729G_pitch(const SINT16* xn, const SINT16* y1, GCOEFF* g_coeff_new) {
    SINT16 scaled[40];
    for (int i = 0; i < 40; ++i) scaled[i] = static_cast<SINT16>(y1[i] >> 2);
    clrOverflow();
    SINT32 s = V_mac_shift_blk8(40, y1, y1);
    SINT16 exp_yy;
    if (!isOverflow()) {
        s = wrap32(std::int64_t{s} + 1);
        exp_yy = norm_l(s);
    } else {
        s = wrap32(std::int64_t{V_mac_shift_blk8(40, scaled, scaled)} + 1);
        exp_yy = static_cast<SINT16>(norm_l(s) - 4);
    }
    const SINT16 yy = ::round(L_shl(s, norm_l(s)));

    clrOverflow();
    s = V_mac_shift_blk8(40, xn, y1);
    SINT16 exp_xy;
    if (!isOverflow()) {
        exp_xy = norm_l(s);
    } else {
        s = V_mac_shift_blk8(40, xn, scaled);
        exp_xy = static_cast<SINT16>(norm_l(s) - 2);
    }
    const SINT16 xy = ::round(L_shl(s, norm_l(s)));

    SINT16* g = g_coeff_new->g_coeff_exp;
    g[0] = yy;
    g[5] = static_cast<SINT16>(exp_yy - 15);
    g[1] = negate(xy);
    g[6] = static_cast<SINT16>(exp_xy - 16);
    if (xy <= 0) {
        g[6] = 14;
        return 0;
    }
    SINT16 gain = shr(div_s_itu(static_cast<SINT16>(xy >> 1), yy), static_cast<SINT16>(exp_xy - exp_yy));
    return gain > 19661 ? SINT16{19661} : gain;
}

SINT16 g729Parity_Pitch(int pitch_index) { return g729::g729ab_Parity_Pitch(static_cast<SINT16>(pitch_index)); }

SINT16 g729Check_Parity_Pitch(int pitch_index, SINT16 parity) {
    SINT16 t = static_cast<SINT16>(pitch_index >> 1);
    SINT16 s = 1;
    for (int i = 0; i < 6; ++i) {
        t = shr(t, 1);
        s = add(s, static_cast<SINT16>(t & 1));
    }
    s = add(s, parity);
    return static_cast<SINT16>(s & 1);
}

SINT16 g729Enc_lag3(SINT16 T0, SINT16 T0_frac, SINT16* T0_min, SINT16* T0_max, SINT16 pit_min, SINT16 pit_max, SINT16 pit_flag) {
    if (pit_flag == 0) {
        const SINT16 index = T0 <= 85 ? static_cast<SINT16>(3 * T0 - 58 + T0_frac) : static_cast<SINT16>(T0 + 112);
        *T0_min = static_cast<SINT16>(T0 - 5 < pit_min ? pit_min : T0 - 5);
        *T0_max = static_cast<SINT16>(*T0_min + 9);
        if (*T0_max > pit_max) {
            *T0_max = pit_max;
            *T0_min = static_cast<SINT16>(pit_max - 9);
        }
        return index;
    }
    return static_cast<SINT16>(3 * (T0 - *T0_min) + 2 + T0_frac);
}

void g729Dec_lag3(SINT16 idx, SINT16 i_subfr, SINT16* T0, SINT16* T0_frac) { g729::g729ab_Dec_lag3(idx, i_subfr, T0, T0_frac); }

namespace {
void interpolate(SINT16* exc, int T0, SINT16 frac, bool forwardRow) {
    SINT16* x0 = exc - T0;
    int f = -frac;
    if (f < 0) {
        f += 3;
        --x0;
    }
    for (int n = 0; n < 40; ++n) {
        SINT32 s = 0;
        if (forwardRow) {
            const auto& c = g729aInter3LoTab1[f];
            for (int k = 0; k < 20; ++k) s = L_mac(s, x0[n - 9 + k], c[k]);
        } else {
            const auto& c = g729aInter3LoTab2[f];
            for (int i = 0; i < 10; ++i) {
                s = L_mac(s, x0[n - i], c[2 * i]);
                s = L_mac(s, x0[n + 1 + i], c[2 * i + 1]);
            }
        }
        exc[n] = ::round(s);
    }
}
}  // namespace

void g729Pred_lt_3(SINT16* exc, int T0, SINT16 frac) { interpolate(exc, T0, frac, false); }
void g729Pred_lt_3_Simple(SINT16* exc, int T0, SINT16 frac) { interpolate(exc, T0, frac, true); }

}  // namespace gcommon
