// Pitch analysis kernels: open-loop correlations and weighted lag choice,
// normalised correlations of the closed-loop search, fraction choice and the
// adaptive codebook vector at a fractional delay.
#include <algorithm>

#include "amrefr_basic_op.h"
#include "amrefr_fast.h"
#include "amrefr_kernels.h"
#include "amrefr_lanes.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

using namespace amrefr_fast;

// Plain correlations of cur with past + m for every m < outputs (no sum can
// saturate: the caller checked the bound).
AMREFR_VECTOR_CLONES
void plain_correlations(const Word16* cur, const Word16* past, int outputs, Word32* out, int n) {
    for (int m = 0; m < outputs; ++m) {
        std::int32_t s = 0;
        for (int i = 0; i < n; ++i) s += std::int32_t{cur[i]} * past[m + i];
        out[m] = 2 * s;
    }
}

// One step of the filtered-excitation recursion: next[j] = e[j−1] plus the upper
// half of exc·h[j] doubled and shifted left by h_fac, saturated at each step.
// Clamping the product before the shift gives the saturated word's upper half.
inline __attribute__((always_inline)) void next_filtered(const Word16* __restrict e, Word16 x,
                                                        const Word16* __restrict h, Word16 h_fac,
                                                        Word16* __restrict next) {
    const Word32 hi = MAX_32 >> h_fac, lo = MIN_32 >> h_fac;
    const Word32 scale = Word32{1} << h_fac;
    for (int j = 1; j < 40; ++j) {
        const Word32 p = std::clamp(mult32(x, h[j]), lo, hi) * scale;
        next[j] = static_cast<Word16>(std::clamp((p >> 16) + e[j - 1], -32768, 32767));
    }
}

}  // namespace

// Lags are done in groups of eight: 8·ceil(nlags / 8) outputs.
void amrefr_comp_corr_loop(const Word16* cur, const Word16* past, Word16 nlags, Word32* out, Word16 L_frame) {
    int outputs = (nlags + 7) / 8 * 8;
    if (products_cannot_saturate(energy64(cur, L_frame), energy64(past, outputs - 1 + L_frame))) {
        plain_correlations(cur, past, outputs, out, L_frame);
        return;
    }
    for (int m = 0; m < outputs; ++m) out[m] = amrefr_lanes::dot4(cur, past + m, L_frame);
}

Word16 amrefr_Lag_max_10k2_Loops(const Word32* corr, const Word16* ww, const Word16* we, Word16 wght_flg) {
    Word32 max = MIN_32;
    Word16 lag = 143;
    for (int i = 143; i >= 20; --i) {
        int n = 143 - i;
        Word32 t0 = Mpy_32_16(corr[-i], ww[-n]);
        if (wght_flg > 0) t0 = Mpy_32_16(t0, we[-n]);
        if (t0 >= max) {
            max = t0;
            lag = static_cast<Word16>(i);
        }
    }
    return lag;
}

AMREFR_VECTOR_CLONES
void amrefr_Calculate_Corr_Norm(Word16* s_excf, const Word16* xn, const Word16* exc, const Word16* h,
                                Word16* corr_norm, Word16 t_min, Word16 t_max, Word16 k, Word16 h_fac,
                                Word16 scaling) {
    Word16 own[40];
    Word16* buf[2] = {s_excf, own};
    int cur = 0;
    const std::int64_t ex = energy64(xn, 40);
    const bool shift_in_range = h_fac >= 0 && h_fac <= 16;
    for (int i = t_min; i <= t_max; ++i) {
        const Word16* e = buf[cur];
        // All doubled squares are non-negative: every saturating lane sum is the
        // exact sum capped at MAX_32, and so is their total.
        const std::int64_t ee = energy64(e, 40);
        Word32 energy = static_cast<Word32>(std::min<std::int64_t>(2 * ee, MAX_32));
        Word32 norm = amrefr_Inv_sqrt(energy);
        Word32 corr;
        if (products_cannot_saturate(ex, ee)) {
            std::int32_t c = 0;
            for (int j = 0; j < 40; ++j) c += std::int32_t{xn[j]} * e[j];
            corr = 2 * c;
        } else {
            corr = amrefr_lanes::dot4(xn, e, 40);
        }
        corr_norm[i] = sat16(amrefr_MPY_32(norm, corr));
        if (i < t_max) {
            --k;
            Word16* next = buf[cur ^ 1];
            if (shift_in_range)
                next_filtered(e, exc[k], h, h_fac, next);
            else
                for (int j = 39; j > 0; --j) next[j] = add(extract_h(L_shl(L_mult(exc[k], h[j]), h_fac)), e[j - 1]);
            next[0] = shr(exc[k], scaling);
            cur ^= 1;
        }
    }
}

Word16 amrefr_Interpol_3or6_Best(const Word16* values, Word16 first, Word16 floor, Word16 count) {
    Word16 max = floor, result = first;
    for (int n = 0; n < count; ++n)
        if (values[n] > max) {
            max = values[n];
            result = static_cast<Word16>(first + n);
        }
    return result;
}

void amrefr_Pred_lt_3or6(Word16* exc, Word16 T0, Word16 frac, Word16 flag3) {
    const Word16* p = exc - T0;
    int f = -frac * (1 << flag3);
    if (f < 0) {
        f += 6;
        --p;
    }
    // Output j filters p[j − 9 … j + 10] with the 20 taps left ‖ right.
    Word16 taps[20];
    for (int m = 0; m < 10; ++m) {
        taps[m] = amrefr_inter_6_rev[10 * f + m];
        taps[10 + m] = amrefr_inter_6[10 * (6 - f) + m];
    }
    std::int64_t tap_sum = 0;
    for (int t = 0; t < 20; ++t) tap_sum += taps[t] < 0 ? -int{taps[t]} : int{taps[t]};
    for (int j0 = 0; j0 < 40; j0 += 4) {
        // A group reads outputs of earlier groups when the delay is short: its
        // bound is taken on the samples as they are now.
        const Word16* in = p + j0 - 9;
        int in_max = 0;
        for (int t = 0; t < 23; ++t) in_max = std::max(in_max, in[t] < 0 ? -int{in[t]} : int{in[t]});
        Word16 group[4];
        if (2 * tap_sum * in_max + 0x8000 <= MAX_32) {
            for (int g = 0; g < 4; ++g) {
                std::int32_t s = 0;
                for (int t = 0; t < 20; ++t) s += std::int32_t{in[g + t]} * taps[t];
                group[g] = static_cast<Word16>((2 * s + 0x8000) >> 16);
            }
        } else {
            for (int g = 0; g < 4; ++g) {
                Word32 s = 0;
                for (int t = 0; t < 20; ++t) s = L_mac(s, in[g + t], taps[t]);
                group[g] = extract_h(L_add(s, 0x8000));
            }
        }
        for (int g = 0; g < 4; ++g) exc[j0 + g] = group[g];
    }
}
