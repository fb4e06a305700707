// Open-loop and closed-loop pitch loops, fractional interpolation, the gain
// codebook search and the excitation loops.
#include "amrwb_fast.h"
#include "amrwb_kernels.h"
#include "amrwb_lanes.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

void amr_wb_comp_corr_loop(const Word16* x, const Word16* y, Word16 nlag, Word32* out, Word16 L) {
    // Each lag pairs x with a run of y[0 .. nlag + L - 2]; bounded by the two
    // energies, the lane sums are the plain sums.
    using namespace amr_wb_fast;
    const bool plain = products_within(energy64(x, L), energy64(y, nlag + L - 1), MAX_32);
    for (int j = 0; j < nlag; ++j) out[j] = plain ? 2 * dot32(x, y + j, L) : amr_wb_lanes::dot4(x, y + j, L);
}

Word16 amr_wb_Pitch_med_ol_loop1(const Word32* corr, const Word16* ww, const Word16* we) {
    Word32 max = MIN_32;
    int best = 1;
    for (int c = 98, i = 0; c >= 1; --c, ++i) {
        Word32 w1 = wrap32(2 * ((std::int64_t{corr[i]} * ww[-i]) >> 16));
        Word32 v = wrap32((std::int64_t{w1} * we[-i]) >> 16);
        if (v >= max) {
            max = v;
            best = c;
        }
    }
    return static_cast<Word16>(best + 17);
}

Word16 amr_wb_Pitch_med_ol_loop2(const Word32* corr, const Word16* ww) {
    Word32 max = MIN_32;
    int best = 1;
    for (int c = 98, i = 0; c >= 1; --c, ++i) {
        Word32 v = wrap32((std::int64_t{corr[i]} * ww[-i]) >> 16);
        if (v >= max) {
            max = v;
            best = c;
        }
    }
    return static_cast<Word16>(best + 17);
}

namespace {
// Leading zeros of a positive 32-bit value minus one.
int norm_pos(Word32 v) { return norm_l(v); }

// The filtered excitation of the next lag, one more sample k entering:
// excf[n] = add(excf[n-1], mult(k, h[n])) from the old values, excf[0] = mult(k, h[0]).
AMRWB_VECTOR_CLONES void shift_in(Word16* excf, const Word16* h, Word16 k) {
    Word16 next[64];
    for (int n = 0; n < 64; ++n) {
        std::int32_t m = (std::int32_t{k} * h[n]) >> 15;
        m = m > MAX_16 ? MAX_16 : m;
        next[n] = static_cast<Word16>(amr_wb_fast::clip16((n == 0 ? 0 : std::int32_t{excf[n - 1]}) + m));
    }
    for (int n = 0; n < 64; ++n) excf[n] = next[n];
}
}  // namespace

void amr_wb_Norm_Corr_Loop(const Word16* xn, Word16* excf, Word16* corr_norm, const Word16* h,
                           const Word16* exc_p, Word16 nscale, Word16 t_min, Word16 t_max) {
    using namespace amr_wb_fast;
    const std::int64_t e_xn = energy64(xn, 64);
    for (int t = t_min; t <= t_max; ++t) {
        // Bounded by the energies, the lane sums are the plain sums.
        const std::int64_t e_f = energy64(excf, 64);
        Word32 C = products_within(e_xn, e_f, MAX_32) ? 2 * dot32(xn, excf, 64) : amr_wb_lanes::dot4(xn, excf, 64);
        C |= 1;
        int e = norm_pos(L_abs(C));
        Word16 Cn = static_cast<Word16>(wrap32(std::int64_t{C} << e) >> 16);

        Word32 E = (2 * e_f <= MAX_32 ? static_cast<Word32>(2 * e_f) : amr_wb_lanes::dot4(excf, excf, 64)) | 1;
        int f = norm_pos(E);
        E = wrap32(std::int64_t{E} << f);
        int q = 30 - f;
        // Inverse square root of (E, q) with the exponent left unnegated.
        if (q & 1) E >>= 1;
        int q2 = (q - 1) >> 1;
        int i = (E >> 25) - 16;
        if (i < 0) i = 0;
        if (i > 47) i = 47;
        Word16 a = static_cast<Word16>((E >> 10) & 0x7FFF);
        Word16 tmp = static_cast<Word16>(amr_wb_table_isqrt[i] - amr_wb_table_isqrt[i + 1]);
        Word16 N = extract_h(L_msu(L_deposit_h(amr_wb_table_isqrt[i]), tmp, a));

        Word32 L = L_mult(Cn, N);
        int s = (e - 30) + q2 + nscale;
        if (s <= -1)
            L = L_shl(L, static_cast<Word16>(-s < 32 ? -s : 32));  // saturating left shift
        else
            L >>= (s > 31 ? 31 : s);
        corr_norm[t - t_min] = round16(L);

        shift_in(excf, h, exc_p[-(t - t_min)]);
    }
}

Word16 amr_wb_Interpol_4(const Word16* x, Word16 frac) {
    if (frac < 0) {
        frac = static_cast<Word16>(frac + 4);
        --x;
    }
    x -= 3;
    Word32 S = amr_wb_lanes::dot4(x, amr_wb_inter4_1 + 8 * (frac & 3), 8);
    return sat16((std::int64_t{S} + 16384) >> 15);
}

void amr_wb_Pred_lt4(Word16* exc, Word16 T0, Word16 frac) {
    const Word16* x = exc - T0;
    frac = static_cast<Word16>(-frac);
    if (frac < 0) {
        frac = static_cast<Word16>(frac + 4);
        --x;
    }
    x -= 15;
    const Word16* row = amr_wb_inter4_2 + 32 * (frac & 3);
    for (int j = 0; j < 65; ++j) exc[j] = round16(L_shl(amr_wb_lanes::dot4(x + j, row, 32), 1));
}

Word16 amr_wb_Q_gain2_CBS(const Word16* g_code, const Word16* g_pitch, const Word16* hi, const Word16* lo,
                          Word16 gcode0, Word16 size) {
    Word32 best_d = MAX_32;
    int best = 0;
    for (int i = 0; i < size; ++i) {
        Word16 gc = mult_r(g_code[i], gcode0), gp = g_pitch[i];
        Word32 P = L_mult(gc, gc);
        Word16 g2c_hi = static_cast<Word16>(P >> 16), g2c_lo = static_cast<Word16>((P & 0xFFFF) >> 1);
        Word16 g2p = mult_r(gp, gp), gpc = mult_r(gc, gp);
        Word32 Llo = L_mult(hi[2], g2c_lo) >> 3;
        Llo = L_mac(Llo, lo[0], g2p);
        Llo = L_mac(Llo, lo[1], gp);
        Llo = L_mac(Llo, lo[2], g2c_hi);
        Llo = L_mac(Llo, lo[3], gc);
        Llo = L_mac(Llo, lo[4], gpc);
        Llo >>= 12;
        Word32 Lhi = L_mult(hi[0], g2p);
        Lhi = L_mac(Lhi, hi[1], gp);
        Lhi = L_mac(Lhi, hi[2], g2c_hi);
        Lhi = L_mac(Lhi, hi[3], gc);
        Lhi = L_mac(Lhi, hi[4], gpc);
        Word32 d = L_add(Llo, Lhi);
        // Lanes keep their first minimum and merge with the lower index
        // winning a tie: the first minimum overall.
        if (i == 0 || d < best_d) {
            best_d = d;
            best = i;
        }
    }
    return static_cast<Word16>(best);
}

void amr_wb_TotalExcitation_LP(const Word16* code, Word16* exc, Word16 gain_code, Word16 gain_pit) {
    for (int i = 0; i < 64; ++i)
        exc[i] = round16(L_shl(L_mac(L_shl(L_mult(code[i], gain_code), 5), exc[i], gain_pit), 1));
}

void amr_wb_Pitch_Excitation_LP(const Word16* exc, Word16* out, Word16 offset) {
    const Word16* x = exc + offset;
    const Word16* c = amr_wb_Pitch_Excitation_LP_coeff;
    for (int i = 0; i < 64; ++i) out[i] = round16(L_mac(L_mac(L_mult(c[0], x[i - 1]), c[1], x[i]), c[2], x[i + 1]));
}

void amr_wb_PitchEnhance_LP(const Word16* code, Word16* out, Word16 factor) {
    const Word16 nc = negate(factor);
    for (int i = 0; i < 64; ++i) {
        Word16 next = i < 63 ? code[i + 1] : 0, prev = i > 0 ? code[i - 1] : 0;
        out[i] = round16(L_mac(L_mac(L_deposit_h(code[i]), next, nc), prev, nc));
    }
}

void amr_wb_ph_loop(Word16* code, Word16* code2, const Word16* imp) {
    for (int i = 0; i < 64; ++i) {
        if (code[i] == 0) continue;
        for (int j = 0; j < 64; ++j) code2[i + j] = add(code2[i + j], mult_r(code[i], imp[j]));
    }
    for (int i = 0; i < 64; ++i) code[i] = add(code2[i], code2[i + 64]);
}

void amr_wb_Vec_Modify_Excitation(const Word16* h, Word16* x, Word16 g, Word16 prev) {
    for (int i = 63; i > 0; --i) x[i] = add(mult(h[i], g), x[i - 1]);
    x[0] = add(mult(h[0], g), prev);
}
