// Arithmetic of the voice activity detector's filter bank: the half-band
// sections, the band levels and the averaging of the band levels.
#include "amrwb_basic_op.h"
#include "amrwb_kernels.h"

using namespace amr_wb_op;

namespace {
constexpr Word16 COEFF5_1 = 21955;
constexpr Word16 COEFF5_2 = 6390;
constexpr Word16 COEFF3 = 13363;

// Fifth-order section on one pair; the 16-bit sums saturate.
void filter5(Word16& in0, Word16& in1, Word16& m0, Word16& m1) {
    Word16 t0 = sub(in0, mult(COEFF5_1, m0));
    Word16 t1 = add(m0, mult(COEFF5_1, t0));
    m0 = t0;
    Word16 u0 = sub(in1, mult(COEFF5_2, m1));
    Word16 t2 = add(m1, mult(COEFF5_2, u0));
    m1 = u0;
    in0 = static_cast<Word16>((std::int32_t{t1} + t2) >> 1);
    in1 = static_cast<Word16>((std::int32_t{t1} - t2) >> 1);
}

void stage1(Word16* buf, Word16* mem, int n, int stride) {
    Word16 m0 = mem[0], m1 = mem[1];
    for (int i = 0; i < n; ++i) filter5(buf[2 * stride * i], buf[2 * stride * i + stride], m0, m1);
    mem[0] = m0;
    mem[1] = m1;
}

// 2·Σ |buf[ind_m·i + ind_a]| for i in [from, to), saturating at each step.
Word32 band_sum(Word32 acc, const Word16* buf, int from, int to, int ind_m, int ind_a) {
    for (int i = from; i < to; ++i) {
        std::int32_t v = buf[ind_m * i + ind_a];
        acc = L_add(acc, 2 * (v < 0 ? -v : v));
    }
    return acc;
}
}  // namespace

void amr_wb_filter_bank_stage1_2(Word16* buf, Word16* mem, Word16 n) { stage1(buf, mem, n, 1); }

void amr_wb_filter_bank_stage1_4(Word16* buf, Word16* mem, Word16 n) { stage1(buf, mem, n, 2); }

void amr_wb_filter_bank_stage1_8(Word16* buf, Word16* mem, Word16 n) { stage1(buf, mem, n, 4); }

void amr_wb_filter_bank_stage2(Word16* p0, Word16* p1, Word16* mem, Word16 n, Word16 step) {
    Word16 m = *mem;
    for (int i = 0; i < n; ++i) {
        Word16& in0 = p0[step * i];
        Word16& in1 = p1[step * i];
        Word16 t1 = sub(in1, mult(COEFF3, m));
        Word16 t2 = add(m, mult(COEFF3, t1));
        m = t1;
        in1 = shr(sub(in0, t2), 1);
        in0 = shr(add(in0, t2), 1);
    }
    *mem = m;
}

Word16 amr_wb_level_calculation(const Word16* buf, Word16* sub_level, Word16 count1, Word16 count2, Word16 ind_m,
                                Word16 ind_a, Word16 scale) {
    Word32 S1 = band_sum(0, buf, count1, count2, ind_m, ind_a);
    Word32 carried = L_shl(L_deposit_l(*sub_level), static_cast<Word16>(16 - scale));
    Word32 S2 = L_add(S1, carried);
    *sub_level = extract_h(L_shl(S1, scale));
    S2 = band_sum(S2, buf, 0, count1, ind_m, ind_a);
    return extract_h(L_shl(S2, scale));
}

void amr_wb_update_cntrl_loop(Word16* ave_level, const Word16* level, Word16 alpha) {
    for (int i = 0; i < 12; ++i) ave_level[i] = add(ave_level[i], mult_r(alpha, sub(level[i], ave_level[i])));
}
