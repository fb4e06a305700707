// Pre-emphasis, resampling, de-emphasis, the 400 Hz feedback section and the
// small excitation and division kernels.
#include <algorithm>
#include <cstdlib>

#include "amrwb_kernels.h"
#include "amrwb_lanes.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

namespace {
constexpr Word16 kMuHalf = 11141;  // half of the 0.68 emphasis factor
constexpr Word16 kMu = 22282;      // 0.68 in Q15

Word32 preemph_term(const Word16* x, int i) { return sat32(std::int64_t{x[i]} * 32768 - L_mult(x[i - 1], kMuHalf)); }
}  // namespace

Word16 amr_wb_Fixed_Preemph1(const Word16* x) {
    Word32 max = 0;
    for (int i = 0; i < 268; ++i) {
        Word32 a = L_abs(preemph_term(x, i));
        if (a > max) max = a;
    }
    return extract_h(max);
}

void amr_wb_Fixed_Preemph2(Word16* x, Word16 shift, Word16* mem) {
    Word16 last = x[255];
    Word16 prev = x[-1];
    for (int i = 0; i < 268; ++i) {
        Word16 cur = x[i];
        Word32 L = sat32(std::int64_t{cur} * 32768 - L_mult(prev, kMuHalf));
        // The encoder never shifts past the headroom found by the first pass.
        x[i] = round16(wrap32(std::int64_t{L} * (std::int64_t{1} << (shift & 31))));
        prev = cur;
    }
    *mem = last;
}

void amr_wb_Down_samp(const Word16* sig, Word16* out, Word16 L) {
    for (int j = 0; j < L; ++j) {
        int g = j >> 2, p = j & 3;
        Word32 S = amr_wb_lanes::dot4(sig + 5 * g + p - 14, amr_wb_fir_down + 32 * p, 30);
        out[j] = sat16((std::int64_t{S} + 16384) >> 15);
    }
}

void amr_wb_Up_samp(const Word16* sig, Word16* out) {
    // No chain clips when twice the largest input times the largest phase's
    // tap magnitudes stays below 2^31: then the exact sums are the results.
    std::int32_t max = 0;
    for (int i = -11; i < 76; ++i) max = std::max(max, sig[i] < 0 ? -std::int32_t{sig[i]} : std::int32_t{sig[i]});
    std::int64_t tap_mag = 0;
    for (int k = 0; k < 4; ++k) {
        std::int64_t m = 0;
        for (int t = 0; t < 24; ++t) m += std::abs(amr_wb_fir_up[4 * t + k]);
        tap_mag = std::max(tap_mag, m);
    }
    if (2 * max * tap_mag <= MAX_32) {
        for (int g = 0; g < 16; ++g) {
            out[5 * g] = sig[4 * g];
            for (int k = 0; k < 4; ++k) {
                const Word16* s = sig + 4 * g + k - 11;
                std::int32_t S = 0;
                for (int t = 0; t < 24; ++t) S += std::int32_t{s[t]} * amr_wb_fir_up[4 * t + k];
                out[5 * g + 1 + k] = sat16((2 * std::int64_t{S} + 16384) >> 15);
            }
        }
        return;
    }
    for (int g = 0; g < 16; ++g) {
        out[5 * g] = sig[4 * g];
        for (int k = 0; k < 4; ++k) {
            const Word16* s = sig + 4 * g + k - 11;
            Word16 taps[24];
            for (int t = 0; t < 24; ++t) taps[t] = amr_wb_fir_up[4 * t + k];
            Word32 S = amr_wb_lanes::chain(0, s, taps, 24);
            out[5 * g + 1 + k] = sat16((std::int64_t{S} + 16384) >> 15);
        }
    }
}

void amr_wb_Deemph2(Word16* x, Word16 L, Word16* mem) {
    Word16 y = *mem;
    for (int i = 0; i < L; ++i) {
        y = round16(sat32(std::int64_t{x[i]} * 32768 + L_mult(y, kMu)));
        x[i] = y;
    }
    if (L > 0) *mem = x[L - 1];
}

void amr_wb_Deemph_32(const Word16* x_hi, const Word16* x_lo, Word16* y, Word16* mem) {
    Word16 prev = *mem;
    for (int i = 0; i < 64; ++i) {
        Word32 L = L_shl(sat32(std::int64_t{x_hi[i]} * 65536 + L_mult(x_lo[i], 8)), 3);
        Word32 s = sat32(std::int64_t{L} + L_mult(prev, kMuHalf));
        prev = round16(sat32(2 * std::int64_t{s}));
        y[i] = prev;
    }
    *mem = prev;
}

namespace {
Word32 load32(const Word16* m) {
    return static_cast<Word32>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(m[0])) |
                               (static_cast<std::uint32_t>(static_cast<std::uint16_t>(m[1])) << 16));
}
void store32(Word16* m, Word32 v) {
    m[0] = static_cast<Word16>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(v) & 0xFFFF));
    m[1] = static_cast<Word16>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(v) >> 16));
}
}  // namespace

void amr_wb_HP400_12k8_loop2(Word16* mem, const Word16* /*unused*/, Word16* out, const Word32* fir) {
    const Word16 a2 = amr_wb_hp400_ab[2], a1 = amr_wb_hp400_ab[3];
    Word32 y2 = load32(mem), y1 = load32(mem + 2);
    for (int i = 0; i < 64; ++i) {
        std::int64_t A = std::int64_t{fir[i]} * 32768 + 16384 + std::int64_t{a2} * y2 + std::int64_t{a1} * y1;
        Word32 W = wrap32(A >> 15);
        Word32 y = sat32(2 * std::int64_t{W});
        out[i] = round16(y);
        y2 = y1;
        y1 = y;
    }
    store32(mem, y2);
    store32(mem + 2, y1);
}

Word16 amr_wb_Excitation_LP(const Word16* exc, Word16* out, Word16 gain_pit) {
    Word16 pit_sharp = shl(gain_pit, 1);
    if (pit_sharp <= 16384) return pit_sharp;
    for (int i = 0; i < 64; ++i) {
        Word16 tmp = mult(exc[i], pit_sharp);
        out[i] = round16(L_mult(tmp, gain_pit) >> 1);
    }
    return pit_sharp;
}

void amr_wb_CalcHfIsf(const Word16* a, const Word16* b, Word16* out, Word16 frac) {
    Word16 w = static_cast<Word16>(32767 - frac);
    for (int i = 0; i < 16; ++i)
        out[i] = round16(sat32(std::int64_t{L_mult(a[i], w)} + L_mult(b[i], frac)));
}

void amr_wb_dtx_Exc_loop(Word16* exc, Word16 gain, Word16 shift) {
    for (int i = 0; i < 256; ++i) exc[i] = shl(mult(exc[i], gain), shift);
}

Word16 amr_wb_div_s(Word16 num, Word16 den) {
    // Exact integer quotient: no floating point, no rounding mode to set.
    if (den == 0) return num > 0 ? MAX_16 : (num < 0 ? MIN_16 : 0);
    std::int64_t q = (std::int64_t{num} * 32768) / den;  // truncates toward zero
    return sat16(q);
}
