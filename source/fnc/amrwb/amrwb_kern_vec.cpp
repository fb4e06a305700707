// Vector operations: copies, clears, scaling, sums, energies, shifts and the
// noise generator.
#include <cstring>

#include "amrwb_kernels.h"
#include "amrwb_lanes.h"

using namespace amr_wb_op;

void amr_wb_CopyM(const Word16* src, Word16* dst) { std::memmove(dst, src, 16 * sizeof(Word16)); }

void amr_wb_CopyL_SUBFR(const Word16* src, Word16* dst) { std::memmove(dst, src, 64 * sizeof(Word16)); }

void amr_wb_Copy_even_four(const Word16* src, Word16* dst, Word16 n) {
    // Exactly n words: never a block past the end of the caller's arrays.
    if (n > 0) std::memmove(dst, src, static_cast<std::size_t>(n) * sizeof(Word16));
}

void amr_wb_CopyNeg(const Word16* src, Word16* dst) {
    for (int i = 0; i < 64; ++i) dst[i] = wrap16(-std::int32_t{src[i]});
}

void amr_wb_Set_zero_L_SUBFR(Word16* x) { std::memset(x, 0, 64 * sizeof(Word16)); }

void amr_wb_Scale_sig2(Word16* x, Word16 n, Word16 exp) {
    if (n < 8) return;
    if (exp >= 0) {
        for (int i = 0; i < n; ++i) x[i] = sat16(std::int64_t{x[i]} << (exp > 31 ? 31 : exp));
    } else {
        int s = -exp > 31 ? 31 : -exp;
        for (int i = 0; i < n; ++i) x[i] = static_cast<Word16>((std::int64_t{x[i]} + (std::int64_t{1} << (s - 1))) >> s);
    }
}

void amr_wb_Scale_sig2out(const Word16* x, Word16* y) {
    for (int i = 0; i < 64; ++i) y[i] = static_cast<Word16>((std::int32_t{x[i]} + 2) >> 2);
}

void amr_wb_Vec_mult_shift(Word16* x, Word16 n, Word16 g, Word16 flag) {
    for (int i = 0; i < n; ++i) {
        Word16 v = mult(x[i], g);
        x[i] = flag != 0 ? shl(v, 1) : v;
    }
}

void amr_wb_Vec_add_even(Word16* x, const Word16* y, Word16 n) {
    for (int i = 0; i < n; ++i) x[i] = add(x[i], y[i]);
}

void amr_wb_Vec_add_shr_r(Word16* out, const Word16* a, const Word16* b) {
    for (int i = 0; i < 64; ++i) out[i] = static_cast<Word16>(((add(a[i], b[i]) >> 2) + 1) >> 1);
}

void amr_wb_Vec_shr_r(Word16* x, Word16 s, Word16 n) {
    if (s == 0) return;
    for (int i = 0; i < n; ++i) x[i] = shr_r(x[i], s);
}

void amr_wb_Vec_shr1(const Word16* x, Word16* y, Word16 n) {
    for (int i = 0; i < n; ++i) y[i] = static_cast<Word16>(x[i] >> 1);
}

Word16 amr_wb_Vec_abs_max_gt(const Word16* x, Word16 n, Word16 init) {
    Word16 m = init;
    for (int i = 0; i < n; ++i) {
        Word16 a = abs_s(x[i]);
        if (a > m) m = a;
    }
    return m;
}

Word32 amr_wb_Vec_L_sqa(const Word16* x, Word16 n, Word32 L0) { return L_add(amr_wb_lanes::dot4(x, x, n), L0); }

Word32 amr_wb_Vec_L_mac8(const Word16* x, const Word16* y, Word16 n, Word32 L0) {
    return L_add(amr_wb_lanes::dot4(x, y, n), L0);
}

void amr_wb_Vec_L_shl2_12(Word32* a, Word32* b) {
    for (int i = 0; i < 12; ++i) {
        a[i] = L_shl(a[i], 2);
        b[i] = L_shl(b[i], 2);
    }
}

void amr_wb_Vec_Random(Word16* out, Word16* seed, Word16 n, Word16 shift) {
    Word16 s = *seed;
    for (int i = 0; i < n; ++i) {
        s = wrap16(std::int32_t{s} * 31821 + 13849);
        out[i] = static_cast<Word16>(s >> (shift > 15 ? 15 : (shift < 0 ? 0 : shift)));
    }
    *seed = s;
}

void amr_wb_FrameSave_NEON(Word16* /*area*/) {}

void amr_wb_FrameRestore_NEON(Word16* /*area*/) {}
