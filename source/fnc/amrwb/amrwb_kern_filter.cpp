// High-pass, band-pass and decimation filters, emphasis, LP residual and the
// LP synthesis filters.
#include <algorithm>
#include <cstring>

#include "amrwb_fast.h"
#include "amrwb_kernels.h"
#include "amrwb_lanes.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

namespace {
Word32 load32(const Word16* m) {
    return static_cast<Word32>(static_cast<std::uint32_t>(static_cast<std::uint16_t>(m[0])) |
                               (static_cast<std::uint32_t>(static_cast<std::uint16_t>(m[1])) << 16));
}
void store32(Word16* m, Word32 v) {
    m[0] = static_cast<Word16>(static_cast<std::uint32_t>(v) & 0xFFFF);
    m[1] = static_cast<Word16>(static_cast<std::uint32_t>(v) >> 16);
}

// 31-tap FIR over the 80 outputs of a work buffer, one L_mac chain per
// output in tap order, rounded.  When twice the largest input times the sum
// of the tap magnitudes fits in 31 bits no chain can clip, and the exact sums
// are the chains' results.
void fir31_block(const Word16* buf, const Word16* taps, Word16* out) {
    std::int64_t tap_mag = 0;
    for (int k = 0; k < 31; ++k) tap_mag += taps[k] < 0 ? -taps[k] : taps[k];
    std::int32_t max = 0;
    for (int i = 0; i < 110; ++i) max = std::max(max, buf[i] < 0 ? -std::int32_t{buf[i]} : std::int32_t{buf[i]});
    if (2 * max * tap_mag <= amr_wb_op::MAX_32) {
        for (int n = 0; n < 80; ++n) {
            std::int32_t sum = 0;
            for (int k = 0; k < 31; ++k) sum += std::int32_t{buf[n + k]} * taps[k];
            out[n] = round16(2 * sum);
        }
        return;
    }
    for (int n = 0; n < 80; ++n) out[n] = round16(amr_wb_lanes::chain(0, buf + n, taps, 31));
}

// Σ 2·a[j]·y[-j] for j = 1..m with saturating products and an exact sum.
std::int64_t feedback(const Word16* a, const Word16* y, int m) {
    std::int64_t s = 0;
    for (int j = 1; j <= m; ++j) s += L_mult(a[j], y[-j]);
    return s;
}
// Four lanes of L_msu from 0 over -2·y[-j]·a[j], j = 1..16, lane j mod 4.
void lane_msu(const Word16* y, const Word16* a, Word32* lane) {
    for (int k = 0; k < 4; ++k) {
        std::int64_t sum = 0, mag = 0;
        for (int j = k == 0 ? 4 : k; j <= 16; j += 4) {
            std::int32_t p = std::int32_t{y[-j]} * a[j];
            sum -= 2 * std::int64_t{p};
            mag += 2 * (p < 0 ? -std::int64_t{p} : p);
        }
        if (mag <= amr_wb_op::MAX_32) {
            lane[k] = static_cast<Word32>(sum);
            continue;
        }
        Word32 acc = 0;  // a lane that may clip: the saturating chain
        for (int j = k == 0 ? 4 : k; j <= 16; j += 4) acc = L_msu(acc, y[-j], a[j]);
        lane[k] = acc;
    }
}
}  // namespace

void amr_wb_12k8_loop1(const Word16* x, const Word16* b, Word32* y32, Word16 n) {
    for (int i = 0; i < n; ++i) y32[i] = L_mac(L_mac(L_mult(x[i], b[0]), x[i + 1], b[1]), x[i + 2], b[2]);
}

void amr_wb_HP50_12k8_loop2(Word16* mem, const Word32* y32, Word16* out, Word16 n) {
    const Word16 a2 = amr_wb_hp50_ab[2], a1 = amr_wb_hp50_ab[3];
    Word32 y2 = load32(mem), y1 = load32(mem + 2);
    for (int i = 0; i < n; ++i) {
        std::int64_t acc = std::int64_t{y32[i]} * 32768 + 0x4000 + std::int64_t{y2} * a2 + std::int64_t{y1} * a1;
        // The feedback saturates where the 32-bit value would overflow.
        Word32 t = sat32(acc >> 15);
        Word32 Y = L_shl(t, 2);
        y2 = y1;
        y1 = Y;
        out[i] = round16(L_shl(Y, 1));
    }
    store32(mem, y2);
    store32(mem + 2, y1);
}

void amr_wb_Hp_wsp_loop1(const Word16* x, const Word16* b, Word32* y32, Word16 n) {
    for (int i = 0; i < n; ++i)
        y32[i] = L_mac(L_mac(L_mac(L_mult(x[i], b[0]), x[i + 1], b[1]), x[i + 2], b[2]), x[i + 3], b[3]);
}

void amr_wb_Hp_wsp_loop2(Word16* mem, Word16* mem3, const Word16* a, const Word32* y32, Word16* out, Word16 n) {
    // History words (y3_hi, y3_lo, y2_hi, y2_lo, y1_hi, y1_lo).
    Word16 y3_hi = mem[0], y3_lo = mem[1], y2_hi = mem[2], y2_lo = mem3[0], y1_hi = mem3[1], y1_lo = mem3[2];
    const Word16 a3 = a[0], a2 = a[1], a1 = a[2];
    for (int i = 0; i < n; ++i) {
        Word32 L = L_mac(L_mac(L_mult(y3_lo, a3), y2_lo, a2), y1_lo, a1);
        L = L_add(L, 0x4000);
        L >>= 15;
        L = L_mac(L_mac(L_mac(L, y3_hi, a3), y2_hi, a2), y1_hi, a1);
        L = L_add(L, y32[i]);
        L = L_shl(L, 2);
        y3_hi = y2_hi;
        y3_lo = y2_lo;
        y2_hi = y1_hi;
        y2_lo = y1_lo;
        y1_hi = static_cast<Word16>(L >> 16);
        y1_lo = static_cast<Word16>((L & 0xFFFF) >> 1);
        out[i] = round16(L_shl(L, 1));
    }
    mem[0] = y3_hi;
    mem[1] = y3_lo;
    mem[2] = y2_hi;
    mem3[0] = y2_lo;
    mem3[1] = y1_hi;
    mem3[2] = y1_lo;
}

void amr_wb_Filt_6k_7k(Word16* signal, Word16* mem) {
    Word16 buf[110];
    std::memcpy(buf, mem, 30 * sizeof(Word16));
    for (int i = 0; i < 80; ++i) buf[30 + i] = static_cast<Word16>(signal[i] >> 2);
    fir31_block(buf, amr_wb_fir_6k_7k, signal);
    std::memcpy(mem, buf + 80, 30 * sizeof(Word16));
}

void amr_wb_Filt_7k(const Word16* signal, Word16* out, Word16* mem) {
    // The memory goes in front of the signal in a buffer of the kernel's own.
    Word16 buf[110];
    std::memcpy(buf, mem, 30 * sizeof(Word16));
    std::memcpy(buf + 30, signal, 80 * sizeof(Word16));
    fir31_block(buf, amr_wb_fir_7k, out);
    std::memcpy(mem, buf + 80, 30 * sizeof(Word16));
}

void amr_wb_LP_Decim2_Loop(Word16* out, const Word16* x) {
    for (int j = 0; j < 128; ++j) out[j] = round16(amr_wb_lanes::chain(0, x + 2 * j, amr_wb_h_fir, 5));
}

void amr_wb_Preemph(Word16* x, Word16 mu, Word16* mem) {
    Word16 last = x[63];
    for (int i = 63; i > 0; --i) x[i] = round16(L_msu(L_deposit_h(x[i]), x[i - 1], mu));
    x[0] = round16(L_msu(L_deposit_h(x[0]), *mem, mu));
    *mem = last;
}

void amr_wb_Preemph2(Word16* x, Word16* mem) {
    Word16 last = x[31];
    for (int i = 31; i > 0; --i) x[i] = round16(L_shl(L_msu(L_deposit_h(x[i]), x[i - 1], 22282), 1));
    x[0] = round16(L_shl(L_msu(L_deposit_h(x[0]), *mem, 22282), 1));
    *mem = last;
}

namespace {
AMRWB_VECTOR_CLONES void residu_plain(const Word16* a, const Word16* x, Word16* y, int n) {
    for (int i = 0; i < n; ++i) {
        std::int32_t s = 0;
        for (int k = 0; k <= 16; ++k) s += std::int32_t{a[k]} * x[i - k];
        y[i] = static_cast<Word16>(amr_wb_fast::clip16((2 * s + 2048) >> 12));
    }
}
}  // namespace

void amr_wb_Residu(const Word16* a, const Word16* x, Word16* y, Word16 n) {
    // Each output pairs a[0..16] with a run of x[-16 .. n-1]; bounded by the
    // two energies, no chain can clip and each is the plain sum.
    using namespace amr_wb_fast;
    if (products_within(energy64(a, 17), energy64(x - 16, n + 16), MAX_32)) {
        residu_plain(a, x, y, n);
        return;
    }
    for (int i = 0; i < n; ++i) {
        Word32 s = 0;
        for (int k = 16; k >= 0; --k) s = L_mac(s, a[k], x[i - k]);
        y[i] = sat16((std::int64_t{s} + 2048) >> 12);
    }
}

void amr_wb_Syn_filt_M_inplace(const Word16* a, const Word16* x, Word16* y, Word16 n) {
    for (int i = 0; i < n; ++i) {
        std::int64_t L = std::int64_t{x[i]} * 4096 - feedback(a, y + i, 16);
        y[i] = sat16((L + 4096) >> 13);
    }
}

void amr_wb_Syn_filt_M16k_inplace(const Word16* a, const Word16* x, Word16* y) {
    for (int i = 0; i < 80; ++i) {
        std::int64_t L = std::int64_t{x[i]} * 4096 - feedback(a, y + i, 20);
        y[i] = sat16((L + 4096) >> 13);
    }
}

namespace {
// The four lanes of one output when no lane can clip (checked by the caller).
void lane_msu_exact(const Word16* y, const Word16* a, Word32* lane) {
    std::int32_t l[4] = {0, 0, 0, 0};
    for (int j = 1; j <= 16; ++j) l[j & 3] -= 2 * (std::int32_t{y[-j]} * a[j]);
    for (int k = 0; k < 4; ++k) lane[k] = l[k];
}
}  // namespace

void amr_wb_Syn_filt_32(const Word16* a, const Word16* exc, Word16 Qnew, Word16* sig_hi, Word16* sig_lo) {
    // Largest lane weight: a lane of hi terms clips only if 2·32768 times it
    // reaches 2^31 (the lo terms are below 4096 and never clip).
    std::int64_t lane_mag = 0;
    for (int k = 0; k < 4; ++k) {
        std::int64_t m = 0;
        for (int j = k == 0 ? 4 : k; j <= 16; j += 4) m += a[j] < 0 ? -std::int64_t{a[j]} : a[j];
        lane_mag = std::max(lane_mag, m);
    }
    const bool exact = 2 * 32768 * lane_mag <= amr_wb_op::MAX_32;
    const Word16 a0 = static_cast<Word16>(a[0] >> ((Qnew + 4) & 31));
    // Final left shift: leading zeros of a[0] minus 16 (3 for a[0] = 4096).
    int lz = 0;
    for (std::uint32_t v = static_cast<std::uint32_t>(static_cast<std::int32_t>(a[0])); lz < 32 && !(v & 0x80000000u);
         v <<= 1)
        ++lz;
    const int s = lz - 16;
    for (int i = 0; i < 64; ++i) {
        Word32 lo[4], hi[4];
        if (exact) {
            lane_msu_exact(sig_lo + i, a, lo);
            lane_msu_exact(sig_hi + i, a, hi);
        } else {
            lane_msu(sig_lo + i, a, lo);
            lane_msu(sig_hi + i, a, hi);
        }
        Word32 Llo = amr_wb_lanes::combine4(lo) >> 12;
        Word32 Lhi = L_add(amr_wb_lanes::combine4(hi), L_mult(exc[i], a0));
        Word32 L = L_add(Llo, Lhi);
        L = s >= 0 ? wrap32(std::int64_t{L} * (std::int64_t{1} << s)) : (L >> (-s > 31 ? 31 : -s));
        sig_hi[i] = static_cast<Word16>(L >> 16);
        sig_lo[i] = static_cast<Word16>((L >> 4) & 0x0FFF);
    }
}

void amr_wb_Imp_Resp(const Word16* a, const Word16* x, Word16* y) {
    Word16 buf[16 + 64] = {};
    Word16* yy = buf + 16;
    for (int i = 0; i < 64; ++i) {
        std::int64_t L = std::int64_t{x[i]} * 32768 - feedback(a, yy + i, 16);
        yy[i] = sat16((L + 4096) >> 13);
    }
    std::memcpy(y, yy, 64 * sizeof(Word16));
}

void amr_wb_Updt_tar(const Word16* x, Word16* x2, const Word16* y, Word16 gain) {
    for (int i = 0; i < 64; ++i)
        x2[i] = sat16((std::int64_t{L_mult(x[i], 16384)} - L_mult(y[i], gain)) >> 15);
}
