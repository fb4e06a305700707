// Table searches of the encoder's gain quantisers: row-dependent terms into a
// scratch buffer, then the weighted error per row with the first minimum.
// Products wider than 32 bits are formed exactly in 64 bits.
#include <algorithm>

#include "amrefr_basic_op.h"
#include "amrefr_fast.h"
#include "amrefr_kernels.h"
#include "amrefr_tables.h"

using namespace amrefr_op;

namespace {

// floor(a·b / 2^s) with the exact 64-bit product.
inline std::int64_t fmul(std::int64_t a, std::int64_t b, int s) {
    std::int64_t p = a * b;
    return p >> s;  // arithmetic shift: floor
}
inline Word16 hi(Word32 w) { return static_cast<Word16>(w >> 16); }
inline Word32 lo(Word32 w) { return (w & 0xFFFF) >> 1; }

// Running minimum over rows in order, strict test: the first minimum wins
// (the same result as four lanes merged with the lower index on ties).
struct FirstMin {
    Word32 dist = MAX_32;
    Word16 index = 0;
    void offer(Word32 d, int row) {
        if (d < dist) {
            dist = d;
            index = static_cast<Word16>(row);
        }
    }
};

}  // namespace

Word32 amrefr_CompEn_LTP_res(const Word16* exc, const Word16* res, Word16 gain_pit) {
    Word32 p[4] = {0, 0, 0, 0};
    for (int i = 0; i < 40; ++i) {
        Word32 prod = sat32(2 * std::int64_t{sat32(2 * std::int64_t{exc[i]} * gain_pit)});
        Word16 r = sat16((std::int64_t{prod} + 0x8000) >> 16);
        Word16 d = wrap16(std::int32_t{res[i]} - r);
        p[i & 3] = L_mac(p[i & 3], d, d);
    }
    return L_add(L_add(p[0], p[2]), L_add(p[1], p[3]));
}

// Eleven groups of four per block of four rows; the last group is the
// admissibility mask (both pitch gains strictly below gp_limit).
namespace {

// mult() without branches: only −32768 · −32768 leaves the 16-bit range.
inline std::int32_t mult_nb(std::int32_t a, std::int32_t b) { return std::min((a * b) >> 15, 32767); }

}  // namespace

AMREFR_VECTOR_CLONES
void amrefr_QGainSearch_475_Loop1(const Word16* gcode0, Word16 gp_limit, Word16* out) {
    const std::int32_t gcode0_0 = gcode0[0], gcode0_1 = gcode0[1];
    for (int b = 0; b < 64; ++b) {
        Word16* o = out + 44 * b;
        for (int r = 0; r < 4; ++r) {
            const int row = 4 * b + r;
            const std::int32_t gp0 = amrefr_table_gain_MR475_gpit0[row], gp1 = amrefr_table_gain_MR475_gpit1[row];
            const std::int32_t gc0 = mult_nb(amrefr_table_gain_MR475_gfac0[row], gcode0_0);
            const std::int32_t gc1 = mult_nb(amrefr_table_gain_MR475_gfac1[row], gcode0_1);
            o[r] = static_cast<Word16>(mult_nb(gp0, gp0));
            o[4 + r] = static_cast<Word16>(gp0);
            o[8 + r] = static_cast<Word16>(mult_nb(gc0, gc0));
            o[12 + r] = static_cast<Word16>(gc0);
            o[16 + r] = static_cast<Word16>(mult_nb(gc0, gp0));
            o[20 + r] = static_cast<Word16>(mult_nb(gp1, gp1));
            o[24 + r] = static_cast<Word16>(gp1);
            o[28 + r] = static_cast<Word16>(mult_nb(gc1, gc1));
            o[32 + r] = static_cast<Word16>(gc1);
            o[36 + r] = static_cast<Word16>(mult_nb(gc1, gp1));
            const bool ok = static_cast<Word16>(gp0 - gp_limit) < 0 && static_cast<Word16>(gp1 - gp_limit) < 0;
            o[40 + r] = ok ? static_cast<Word16>(-1) : 0;
        }
    }
}

// A row left out by the mask gets MAX_32, which the strict first-minimum test
// never takes: the same choice as skipping it.
AMREFR_VECTOR_CLONES
Word16 amrefr_QGainSearch_475_Loop2(const Word32* coeff, const Word16* terms) {
    Word32 dist[256];
    for (int b = 0; b < 64; ++b) {
        const Word16* o = terms + 44 * b;
        for (int r = 0; r < 4; ++r) {
            std::int64_t d = 0;
            for (int k = 0; k < 10; ++k) d += fmul(coeff[k], o[4 * k + r], 15);
            dist[4 * b + r] = o[40 + r] == 0 ? MAX_32 : wrap32(d);
        }
    }
    FirstMin m;
    for (int row = 0; row < 256; ++row) m.offer(dist[row], row);
    return m.index;
}

void amrefr_QGainSearch_795_Loop1(const Word16* g_pitch_cand, Word16 gcode0, Word32* out) {
    for (int j = 0; j < 3; ++j) {
        Word16 gp = g_pitch_cand[j];
        Word32* o = out + 98 * j;
        o[0] = mult(gp, gp);
        o[1] = static_cast<std::uint16_t>(gp);
        for (int b = 0; b < 8; ++b)
            for (int r = 0; r < 4; ++r) {
                Word16 gc = mult(amrefr_qua_gain_code_g_fac[4 * b + r], gcode0);
                o[2 + 12 * b + r] = gc;
                o[2 + 12 * b + 4 + r] = L_mult(gc, gc);
                o[2 + 12 * b + 8 + r] = L_mult(gc, gp);
            }
    }
}

void amrefr_QGainSearch_795_Loop2(const Word32* coeff, Word32* dist_out, Word16* index_out, const Word32* terms) {
    Word32 lane_dist[4] = {MAX_32, MAX_32, MAX_32, MAX_32};
    Word16 lane_idx[4] = {0, 0, 0, 0};
    const Word32 w0 = coeff[0], w1 = coeff[1], w2 = coeff[2], w3 = coeff[3], w4 = coeff[4];
    for (int j = 0; j < 3; ++j) {
        const Word32* o = terms + 98 * j;
        Word16 gp2 = static_cast<Word16>(o[0]), gp = static_cast<Word16>(o[1]);
        auto part = [](Word32 w, Word16 v) { return sat32(std::int64_t{hi(w)} * v + fmul(w & 0xFFFF, v, 16)); };
        Word32 P = L_add(part(w0, gp2), part(w1, gp));
        for (int b = 0; b < 8; ++b)
            for (int r = 0; r < 4; ++r) {
                int i = 4 * b + r;
                Word16 gc = static_cast<Word16>(o[2 + 12 * b + r]);
                Word32 G2 = o[2 + 12 * b + 4 + r], GP = o[2 + 12 * b + 8 + r];
                std::int64_t S = fmul(w2, gc, 16) + fmul(hi(w3), G2, 16) + fmul(hi(w4), GP, 16);
                Word32 s = wrap32(S);
                s = L_add(s, P);
                s = L_add(s, static_cast<Word32>(fmul(lo(w3), G2 >> 16, 15)));
                s = L_add(s, static_cast<Word32>(fmul(lo(w4), GP >> 16, 15)));
                int row = 32 * j + i;
                int lane = i & 3;
                if (s < lane_dist[lane]) {
                    lane_dist[lane] = s;
                    lane_idx[lane] = static_cast<Word16>(row);
                }
            }
    }
    for (int l = 0; l < 4; ++l) {
        dist_out[l] = lane_dist[l];
        index_out[l] = lane_idx[l];
    }
}

void amrefr_QGainSearch_795_mod_Loop1(const Word16* g_fac, Word32 L_t1, Word16 gcode0, const Word32* coeff,
                                      Word32* out) {
    const Word32 w2 = coeff[2], w3 = coeff[3];
    for (int i = 0; i < 32; ++i) {
        Word16 gc = mult(g_fac[i], gcode0);
        Word32 G2 = L_mult(gc, gc);
        Word32 g2h = G2 >> 16;
        std::int64_t inner = std::int64_t{hi(w2)} * gc + fmul(w2 & 0xFFFF, gc, 16) + fmul(w3 & 0xFFFF, g2h, 16) +
                             fmul(G2 & 0xFFFF, hi(w3), 16) + std::int64_t{hi(w3)} * g2h;
        out[i] = wrap32(std::int64_t{L_t1} + 2 * wrap32(inner));
    }
}

void amrefr_QGainSearch_795_mod_Sqrt1(const Word32* x, Word16* exp_out, Word16* a_out, Word16* i_out) {
    for (int n = 0; n < 32; ++n) {
        Word16 e = static_cast<Word16>(norm_l(x[n]) & ~1);
        Word32 y = static_cast<Word32>(static_cast<std::uint32_t>(x[n]) << e);
        exp_out[n] = static_cast<Word16>(e / 2);
        i_out[n] = static_cast<Word16>((y >> 25) - 16);
        a_out[n] = static_cast<Word16>((y >> 10) & 0x7FFF);
    }
}

void amrefr_QGainSearch_795_mod_Sqrt2(Word32* x, const Word16* a, const Word16* i) {
    for (int n = 0; n < 32; ++n) {
        if (x[n] <= 0) {
            x[n] = 0;
            continue;
        }
        std::int64_t Ti = amrefr_sqrt_table[i[n]], Tn = amrefr_sqrt_table[i[n] + 1];
        x[n] = sat32(Ti * 65536 - 2 * std::int64_t{a[n]} * (Ti - Tn));
    }
}

void amrefr_QGainSearch_795_mod_Loop2(const Word16* g_fac, Word32 L_t0, Word16 gcode0, Word16 gain_code,
                                      Word16 gain_cod_unq, const Word32* coeff, Word32* dist, Word16* index,
                                      const Word32* x, const Word16* exp) {
    const Word32 w4 = coeff[4];
    for (int i = 0; i < 32; ++i) {
        Word16 gc = mult(g_fac[i], gcode0);
        if (gc >= gain_code) continue;
        Word16 d = sat16(std::int32_t{gc} - gain_cod_unq);
        Word32 D2 = L_mult(d, d);
        Word32 s = x[i] >> exp[i];
        Word16 t = sat16((std::int64_t{wrap32(std::int64_t{s} - L_t0)} + 0x8000) >> 16);
        std::int64_t v = (L_mult(t, t) >> 1) + fmul(w4 & 0xFFFF, D2 >> 16, 16) + fmul(D2 & 0xFFFF, hi(w4), 16) +
                         std::int64_t{hi(w4)} * (D2 >> 16);
        Word32 dd = wrap32(v);
        int lane = i & 3;
        if (dd < dist[lane]) {
            dist[lane] = dd;
            index[lane] = static_cast<Word16>(i);
        }
    }
}

// Five arrays of n values: g_pitch, gc, g_pitch², gc², gc·g_pitch.  Rows above
// gp_limit are marked by a g_pitch² entry of −1 (never a real square).
void amrefr_GP_param_gen(Word16 gp_limit, Word16 gcode0, const Word16* g_pitch, const Word16* g_fac, Word16* out,
                         Word16 n) {
    for (int i = 0; i < n; ++i) {
        Word16 gp = g_pitch[i];
        Word16 gc = mult(g_fac[i], gcode0);
        out[i] = gp;
        out[n + i] = gc;
        out[2 * n + i] = (gp_limit != 32767 && gp > gp_limit) ? static_cast<Word16>(-1) : mult(gp, gp);
        out[3 * n + i] = mult(gc, gc);
        out[4 * n + i] = mult(gc, gp);
    }
}

Word16 amrefr_GainSearch(const Word32* coeff, const Word16* terms, Word16 n) {
    FirstMin m;
    for (int i = 0; i < n; ++i) {
        if (terms[2 * n + i] < 0) continue;
        std::int64_t d = 0;
        for (int k = 0; k < 5; ++k) d += fmul(coeff[k], terms[k * n + i], 16);
        m.offer(wrap32(d), i);
    }
    return m.index;
}
