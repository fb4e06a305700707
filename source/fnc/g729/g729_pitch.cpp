// Pitch analysis of the G.729 Annex A encoder: decimated open-loop search in three sections,
// closed-loop 1/3-resolution search, pitch gain and lag coding; the decoder's lag decoding and
// the parity of the first lag.
#include "g729_internal.h"

namespace g729 {

namespace {
constexpr int kOlLen = 224;  // 143 past samples, the frame and one zeroed sample
constexpr int kHalf = kOlLen / 2;

// Normalised maximum: MPY_32(max, Inv_sqrt(energy)) cut to 16 bits.
W16 normalisedMax(W32 max, W32 energy) { return extract_l(g729ab_MPY_32(max, g729ab_Inv_sqrt(energy))); }

// Where lag t of the decimated frame reads its past (every second sample), from the split
// phases. The frame starts at sample 143 of the stretch, an odd index: frame sample 2k is odd
// phase index 71 + k, and lagged by t it is stretch index 143 + 2k - t.
const W16* olLagged(const W16* even, const W16* odd, int t) {
    int lagged = 143 - t;
    return (lagged & 1) ? odd + (lagged >> 1) : even + (lagged >> 1);
}

// One saturation bound for every lag: the frame against the whole past of both phases, by
// magnitudes or by energies.
bool olPlain(const W16* even, const W16* odd) {
    return (g729SumsCannotSaturate(odd + 71, 40, even, kHalf, 40) && g729SumsCannotSaturate(odd + 71, 40, odd, kHalf, 40)) ||
           (g729EnergiesCannotSaturate(odd + 71, 40, even, kHalf) && g729EnergiesCannotSaturate(odd + 71, 40, odd, kHalf));
}

// Correlations c[t - lo] for the lags t in [lo, hi] of the given parity. Such lags read one
// phase at consecutive offsets (the largest lag the lowest), so the plain ones are one run.
void olCorrParity(const W16* even, const W16* odd, int lo, int hi, int parity, bool plain, W32* c) {
    const int t0 = lo + ((lo & 1) != parity), t1 = hi - ((hi & 1) != parity);
    if (t0 > t1) return;
    const int n = (t1 - t0) / 2 + 1;
    if (plain) {
        W32 run[kHalf];
        g729PlainLags(odd + 71, olLagged(even, odd, t1), n, run, 40);
        for (int k = 0; k < n; ++k) c[t1 - 2 * k - lo] = run[k];
    } else {
        for (int t = t0; t <= t1; t += 2) c[t - lo] = g729PartialSums4(odd + 71, olLagged(even, odd, t), 40);
    }
}

W32 olCorr(const W16* even, const W16* odd, int t, bool plain) {
    W32 c;
    olCorrParity(even, odd, t, t, t & 1, plain, &c);
    return c;
}

W16 olSection12(const W16* even, const W16* odd, int first, bool plain, W16* lag) {
    W32 c[80];
    olCorrParity(even, odd, first, 2 * first - 1, 0, plain, c);
    olCorrParity(even, odd, first, 2 * first - 1, 1, plain, c);
    W32 max = 0;
    int best = first;
    for (int t = first; t < 2 * first; ++t)
        if (t == first || c[t - first] > max) {
            max = c[t - first];
            best = t;
        }
    *lag = static_cast<W16>(best);
    return normalisedMax(max, g729ab_Vec_L_sqa_40(olLagged(even, odd, best), 0));
}

W16 olSection3(const W16* even, const W16* odd, bool plain, W16* lag) {
    W32 c[142 - 80 + 1];
    olCorrParity(even, odd, 80, 142, 0, plain, c);
    W32 max = 0;
    int best = 142;
    for (int t = 142; t >= 80; t -= 2)
        if (t == 142 || c[t - 80] >= max) {
            max = c[t - 80];
            best = t;
        }
    int t3 = best;
    W32 cc = olCorr(even, odd, t3 + 1, plain);
    if (cc > max) {
        max = cc;
        best = t3 + 1;
    }
    cc = olCorr(even, odd, t3 - 1, plain);
    if (cc > max) {
        max = cc;
        best = t3 - 1;
    }
    *lag = static_cast<W16>(best);
    return normalisedMax(max, g729ab_Vec_L_sqa_40(olLagged(even, odd, best), 1));
}
}  // namespace

void g729ab_Pitch_ol_fast_sum_and_scale(W16* wsp, W16* even, W16* odd) {
    wsp[80] = 0;
    const W16* s = wsp - 143;
    W32 e = g729ab_Vec_L_sqa_2(s, kOlLen, 0);
    if (e == kMax32)
        g729ab_Vec_shr3_split(s, even, odd, kOlLen);
    else if (e < 1048576)
        g729ab_Vec_shl3_split(s, even, odd, kOlLen);
    else
        g729ab_Vec_split(s, even, odd, kOlLen);
}

W16 g729ab_Pitch_ol_fast_sec1_2(const W16* even, const W16* odd, int first, W16* lag) {
    return olSection12(even, odd, first, olPlain(even, odd), lag);
}

W16 g729ab_Pitch_ol_fast_sec3(const W16* even, const W16* odd, W16* lag) { return olSection3(even, odd, olPlain(even, odd), lag); }

W16 g729ab_Pitch_ol_fast(W16* wsp) {
    W16 even[kHalf], odd[kHalf];
    g729ab_Pitch_ol_fast_sum_and_scale(wsp, even, odd);
    W16 T1, T2, T3;
    const bool plain = olPlain(even, odd);
    W16 max1 = olSection12(even, odd, 20, plain, &T1);
    W16 max2 = olSection12(even, odd, 40, plain, &T2);
    W16 max3 = olSection3(even, odd, plain, &T3);

    W16 i = sub(shl(T2, 1), T3);
    if (abs_s(i) < 5) max2 = add(max2, shr(max3, 2));
    i = add(i, T2);
    if (abs_s(i) < 7) max2 = add(max2, shr(max3, 2));
    i = sub(shl(T1, 1), T2);
    if (abs_s(i) < 5) max1 = add(max1, mult(max2, 6554));
    i = add(i, T1);
    if (abs_s(i) < 7) max1 = add(max1, mult(max2, 6554));
    if (max1 < max2) {
        max1 = max2;
        T1 = T2;
    }
    if (max1 < max3) T1 = T3;
    return T1;
}

W16 g729ab_Pitch_fr3_fast(W16* exc, const W16* xn, const W16* h, int t0_min, int t0_max, int i_subfr, W16* frac) {
    W16 Dn[40];
    g729ab_Cor_h_X(h, xn, Dn);
    int nlag = t0_max - t0_min + 1;
    W32 corr[16];
    g729ab_comp_corr_loop(Dn, exc - t0_max, nlag, corr, 40);
    W32 max = corr[0];
    int t0 = t0_max;
    for (int m = 1; m < nlag; ++m)
        if (corr[m] >= max) {
            max = corr[m];
            t0 = t0_max - m;
        }

    g729ab_Pred_lt_3_fast(exc, t0, 0);
    max = g729ab_Vec_L_mac8(Dn, exc, 40, 0);
    *frac = 0;
    if (i_subfr == 0 && t0 > 84) return static_cast<W16>(t0);

    W16 keep[40];
    g729ab_Copy(exc, keep, 40);
    g729ab_Pred_lt_3_fast(exc, t0, -1);
    W32 c = g729ab_Vec_L_mac8(Dn, exc, 40, 0);
    if (c > max) {
        max = c;
        *frac = -1;
        g729ab_Copy(exc, keep, 40);
    }
    g729ab_Pred_lt_3_fast(exc, t0, 1);
    c = g729ab_Vec_L_mac8(Dn, exc, 40, 0);
    if (c > max) {
        *frac = 1;
    } else {
        g729ab_Copy(keep, exc, 40);
    }
    return static_cast<W16>(t0);
}

W16 g729ab_G_pitch(const W16* xn, const W16* y1, W16* g_coeff) {
    W16 scaled[40];
    g729ab_Vec_shr_8(y1, scaled, 2, 40);
    W32 s = g729ab_Vec_L_sqa_40(y1, 1);
    W16 exp_yy, yy;
    if (s != kMax32) {
        exp_yy = norm_l(s);
        yy = round16(L_shl(s, exp_yy));
    } else {
        s = g729ab_Vec_L_sqa_40(scaled, 1);
        exp_yy = norm_l(s);
        yy = round16(L_shl(s, exp_yy));
        exp_yy = static_cast<W16>(exp_yy - 4);
    }
    s = g729ab_Vec_L_mac8(xn, y1, 40, 0);
    W16 exp_xy, xy;
    if (s != kMax32 && s != kMin32) {
        exp_xy = norm_l(s);
        xy = round16(L_shl(s, exp_xy));
    } else {
        s = g729ab_Vec_L_mac8(xn, scaled, 40, 0);
        exp_xy = norm_l(s);
        xy = round16(L_shl(s, exp_xy));
        exp_xy = static_cast<W16>(exp_xy - 2);
    }
    g_coeff[0] = yy;
    g_coeff[1] = static_cast<W16>(15 - exp_yy);
    g_coeff[2] = xy;
    g_coeff[3] = static_cast<W16>(15 - exp_xy);
    if (xy <= 0) {
        g_coeff[3] = -15;
        return 0;
    }
    W16 gain = g729ab_div_s(static_cast<W16>(xy >> 1), yy);
    gain = shr(gain, exp_xy - exp_yy);
    if (gain > 19661) gain = 19661;
    return gain;
}

W16 g729ab_Enc_lag3(W16 T0, W16 T0_frac, W16* T0_min, W16* T0_max, int i_subfr) {
    W16 index;
    if (i_subfr == 0) {
        if (T0 <= 85)
            index = static_cast<W16>(3 * T0 - 58 + T0_frac);
        else
            index = static_cast<W16>(T0 + 112);
        *T0_min = static_cast<W16>(T0 - 5);
        if (*T0_min < kPitMin) *T0_min = kPitMin;
        *T0_max = static_cast<W16>(*T0_min + 9);
        if (*T0_max > kPitMax) {
            *T0_max = kPitMax;
            *T0_min = kPitMax - 9;
        }
    } else {
        index = static_cast<W16>(3 * (T0 - *T0_min) + 2 + T0_frac);
    }
    return index;
}

void g729ab_Dec_lag3(W16 index, int i_subfr, W16* T0, W16* T0_frac) {
    if (i_subfr == 0) {
        if (index < 197) {
            *T0 = static_cast<W16>((((index + 2) * 10923) >> 15) + 19);
            *T0_frac = static_cast<W16>(index - 3 * *T0 + 58);
        } else {
            *T0 = static_cast<W16>(index - 112);
            *T0_frac = 0;
        }
    } else {
        int T0_min = *T0 - 5;
        if (T0_min < kPitMin) T0_min = kPitMin;
        if (T0_min + 9 > kPitMax) T0_min = kPitMax - 9;
        int i = (((index + 2) * 10923) >> 15) - 1;
        *T0 = static_cast<W16>(i + T0_min);
        *T0_frac = static_cast<W16>(index - 2 - 3 * i);
    }
}

W16 g729ab_Parity_Pitch(W16 index) {
    W16 sum = 1;
    for (int b = 2; b <= 7; ++b) sum = static_cast<W16>(sum + ((index >> b) & 1));
    return static_cast<W16>(sum & 1);
}

}  // namespace g729
