// Vector utilities: fills, copies, element-wise arithmetic, dot products with
// four-lane partial sums, maximum and minimum scans, and the comfort-noise
// steps of the DTX decoder.
#include <cstring>

#include "amrefr_basic_op.h"
#include "amrefr_kernels.h"
#include "amrefr_lanes.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

int round_up(int n, int m) { return (n + m - 1) / m * m; }

}  // namespace

void amrefr_FrameSave_NEON(Word16* area) { (void)area; }
void amrefr_FrameRestore_NEON(const Word16* area) { (void)area; }

void amrefr_Set_zero(Word16* x, Word16 n) {
    for (int i = 0; i < n; ++i) x[i] = 0;
}

// Blocks of four, then one pair: 4·floor((n − 2)/4) + 2 elements (n for n = 4k + 2).
void amrefr_Set_zero_even(Word16* x, Word16 n) {
    int count = 4 * ((n - 2) / 4) + 2;
    for (int i = 0; i < count; ++i) x[i] = 0;
}

void amrefr_Set_zero_four(Word16* x, Word16 n) {
    for (int i = 0, e = round_up(n, 4); i < e; ++i) x[i] = 0;
}

void amrefr_Set_const(Word16* x, Word16 value, Word16 n) {
    (void)n;
    for (int i = 0; i < 5; ++i) x[i] = value;
}

void amrefr_Set_const_four(Word16* x, Word16 value, Word16 n) {
    for (int i = 0, e = round_up(n, 4); i < e; ++i) x[i] = value;
}

void amrefr_Set_const_8(Word16* x, Word16 value, Word16 n) {
    for (int i = 0, e = round_up(n, 8); i < e; ++i) x[i] = value;
}

void amrefr_Set_mask(const Word16* src, Word16 mask, Word16* dst) {
    for (int i = 0; i < 160; ++i) dst[i] = static_cast<Word16>(src[i] & mask);
}

void amrefr_Copy(const Word16* src, Word16* dst, Word16 n) {
    for (int i = 0; i < n; ++i) dst[i] = src[i];
}

void amrefr_Copy_even(const Word16* src, Word16* dst, Word16 n) {
    int count = 4 * ((n - 2) / 4) + 2;
    if (count > 0) std::memmove(dst, src, sizeof(Word16) * count);
}

void amrefr_Copy_even_four(const Word16* src, Word16* dst, Word16 n) {
    std::memmove(dst, src, sizeof(Word16) * round_up(n, 4));
}

void amrefr_Copy_8(const Word16* src, Word16* dst, Word16 n) {
    std::memmove(dst, src, sizeof(Word16) * round_up(n, 8));
}

void amrefr_ReverseCopy_8(const Word16* src, Word16* dst, Word16 n) {
    for (int i = 0; i < n; ++i) dst[i] = src[n - 1 - i];
}

void amrefr_Vec_shuffle_down(Word16* x, Word16 k, Word16 n) {
    for (int i = 0; i < n; ++i) x[i] = x[i + k];
}

void amrefr_Vec_shr_8(const Word16* src, Word16* dst, Word16 s, Word16 n) {
    for (int i = 0, e = round_up(n, 8); i < e; ++i) dst[i] = shr(src[i], s);
}

// Plain shift: callers use it only where the result cannot overflow.
void amrefr_Vec_shl_8(const Word16* src, Word16* dst, Word16 s, Word16 n) {
    for (int i = 0, e = round_up(n, 8); i < e; ++i) dst[i] = wrap16(std::int32_t{src[i]} * (1 << s));
}

void amrefr_Vec_shl3(const Word16* src, Word16* dst, Word16 n) {
    for (int i = 0, e = round_up(n, 4); i < e; ++i) dst[i] = shl(src[i], 3);
}

void amrefr_Vec_mult_r(const Word16* x, const Word16* w, Word16* y) {
    for (int i = 0; i < 240; ++i) y[i] = mult_r(x[i], w[i]);
}

void amrefr_Vec_mult_shl3(Word16* x, Word16 g) {
    for (int i = 0; i < 40; ++i) x[i] = extract_h(L_shl(L_mult(x[i], g), 1));
}

void amrefr_Vec_const_mult(const Word16* src, Word16* dst, Word16 c) {
    for (int i = 0; i < 12; ++i) dst[i] = mult(src[i], c);
}

void amrefr_Vec_const_mult2(Word16* x, Word16 c, Word16 n) {
    for (int i = 0, e = round_up(n, 4); i < e; ++i) x[i] = mult(x[i], c);
}

void amrefr_Vec_add(Word16* x, const Word16* y) {
    for (int i = 0; i < 40; ++i) x[i] = add(x[i], y[i]);
}

void amrefr_Vec_add_shr(const Word16* a, const Word16* b, Word16* out) {
    for (int i = 0; i < 12; ++i) out[i] = add(shr(a[i], 1), shr(b[i], 1));
}

void amrefr_Vec_add_shr2(const Word16* a, const Word16* b, Word16* out) {
    for (int i = 0; i < 12; ++i) out[i] = add(shr(a[i], 2), sub(b[i], shr(b[i], 2)));
}

Word32 amrefr_Vec_L_mac(const Word16* x, const Word16* y, Word16 n, Word32 acc) {
    return L_add(amrefr_lanes::dot4(x, y, n), acc);
}

Word32 amrefr_Vec_L_mac8(const Word16* x, const Word16* y, Word16 n, Word32 acc) {
    return L_add(amrefr_lanes::dot4(x, y, n), acc);
}

void amrefr_4Vec_L_mac8(const Word16* x, const Word16* y, Word16 n, Word32* out) {
    for (int k = 0; k < 4; ++k) out[k] = amrefr_lanes::dot4(x, y + k, n);
}

Word32 amrefr_Vec_L_mac_dual_latch_overflow(const Word16* x, const Word16* y, Word16* ovf) {
    amrefr_lanes::Latch latch;
    Word32 s = amrefr_lanes::dot4(x, y, 40, &latch);
    s = latch.add(s, 1);
    *ovf = latch.clipped ? 1 : 0;
    return s;
}

Word32 amrefr_Vec_L_sqa(const Word16* x, Word16 n, Word32 acc) {
    return L_add(amrefr_lanes::dot4(x, x, n), acc);
}

Word32 amrefr_Vec_L_sqa_40(const Word16* x, Word32 acc) { return L_add(amrefr_lanes::dot4(x, x, 40), acc); }

Word32 amrefr_Vec_L_sqa_single(const Word16* x, Word16 n, Word32 acc) {
    return L_add(amrefr_lanes::dot4(x, x, n), acc);
}

Word32 amrefr_Vec_L_shr_sqa(const Word16* x) {
    Word16 t[40];
    for (int i = 0; i < 40; ++i) t[i] = shr(x[i], 2);
    return amrefr_lanes::dot4(t, t, 40);
}

Word32 amrefr_Vec_sumEnergy(const Word16* x) {
    return std::int32_t{x[0]} + x[1] + x[2] + x[3];
}

Word16 amrefr_Vec_L_max_ge(const Word32* x, Word16 n) {
    Word16 best = 0;
    for (int i = 1; i < n; ++i)
        if (x[i] >= x[best]) best = static_cast<Word16>(i);
    return best;
}

Word16 amrefr_Vec_max_ge(const Word16* x, Word16 last) {
    std::int32_t max = -32769;
    Word16 best = 0;
    for (int i = 0; i <= last; ++i)
        if (x[i] >= max) {
            max = x[i];
            best = static_cast<Word16>(i);
        }
    return best;
}

Word16 amrefr_Vec_min_lt(const Word16* x, Word16 n) {
    Word16 min = 32767, best = 0;
    for (int i = 0; i < n; ++i)
        if (x[i] < min) {
            min = x[i];
            best = static_cast<Word16>(i);
        }
    return best;
}

// The averages need only the ten coefficients of each row; L_lsf[10], L_lsf[11]
// carry no meaning and are left alone.
void amrefr_Vec_Set_L_lsf(Word32* L_lsf, Word16* log_en, const Word16* log_en_hist, const Word16* lsf_hist) {
    for (int i = 0; i < 8; ++i) {
        *log_en = add(*log_en, shr(log_en_hist[i], 3));
        for (int j = 0; j < 10; ++j) L_lsf[j] += lsf_hist[10 * i + j];
    }
}

void amrefr_Vec_Set_lsf_mean(Word16* hist) {
    Word16 mean[10];
    for (int j = 0; j < 10; ++j) {
        std::int32_t s = 0;
        for (int i = 0; i < 8; ++i) s += hist[10 * i + j];
        mean[j] = static_cast<Word16>(s >> 3);
    }
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 10; ++j) {
            Word16 v = mult(sub(hist[10 * i + j], mean[j]), amrefr_lsf_hist_mean_scale[j]);
            Word16 a = abs_s(v);
            if (a > 655) a = add(655, shr(sub(a, 655), 2));
            if (a > 1310) a = 1310;
            hist[10 * i + j] = v < 0 ? static_cast<Word16>(-a) : a;
        }
}

void amrefr_Vec_Update_lsp_int(Word16* lsp_int, Word16 f, const Word16* lsp_old) {
    for (int i = 0; i < 10; ++i) lsp_int[i] = shl(add(lsp_int[i], mult(f, lsp_old[i])), 1);
}

void amrefr_Vec_Set_lsf_int_variab(Word16* lsf_int_variab, Word16 factor, Word16 index,
                                   const Word16* lsf_hist_mean) {
    for (int j = 0; j < 10; ++j)
        lsf_int_variab[j] = add(lsf_int_variab[j], mult(factor, lsf_hist_mean[10 * index + j]));
}

Word16 amrefr_Vec_Calc_Pred_Err(const Word16* refl) {
    Word16 err = 32767;
    for (int i = 0; i < 10; ++i) err = mult(err, sub(32767, mult(refl[i], refl[i])));
    return err;
}
