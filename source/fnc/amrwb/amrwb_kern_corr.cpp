// Target correlation, convolution, autocorrelation, gain control, the
// Chebyshev evaluation and the serial bit conversion.
#include "amrwb_fast.h"
#include "amrwb_kernels.h"
#include "amrwb_lanes.h"
#include "amrwb_tables.h"

using namespace amr_wb_op;

void amr_wb_cor_h_x_MainLoop(const Word16* h, const Word16* x, Word32* y32) {
    // The terms past x[63] would all be zero: each chain simply stops there.
    // Bounded by the two energies (and the start value 1), no chain can clip.
    using namespace amr_wb_fast;
    const bool plain = products_within(energy64(x, 64), energy64(h, 64), MAX_32 - 1);
    for (int i = 0; i < 64; ++i)
        y32[i] = plain ? 1 + 2 * dot32(x + i, h, 64 - i) : amr_wb_lanes::chain(1, x + i, h, 64 - i);
}

void amr_wb_cor_h_x_Loop1(const Word32* y32, Word32* max) {
    for (int k = 0; k < 4; ++k) max[k] = 0;
    for (int i = 0; i < 64; ++i) {
        Word32 a = L_abs(y32[i]);
        if (a > max[i & 3]) max[i & 3] = a;
    }
}

void amr_wb_cor_h_x_Loop2(const Word32* y32, Word16* dn, Word16 shift) {
    for (int i = 0; i < 64; ++i) dn[i] = round16(L_shl(y32[i], shift));
}

void amr_wb_ConvolveFwdH(const Word16* x, const Word16* hrev, Word16* y) {
    // Output n of a block of four also takes x[i]·hrev[63 - n + i] for the
    // later inputs of its block, which hrev[64..66] weight.
    // Every chain pairs x[0..] with a run of hrev[0..66]; bounded by the two
    // energies, no chain can clip and each is the plain sum.
    using namespace amr_wb_fast;
    const bool plain = products_within(energy64(x, 64), energy64(hrev, 67), MAX_32);
    for (int n = 0; n < 64; ++n) {
        int last = (n | 3);
        y[n] = round16(plain ? 2 * dot32(x, hrev + 63 - n, last + 1) : amr_wb_lanes::chain(0, x, hrev + 63 - n, last + 1));
    }
}

void amr_wb_AutorCorr_window(const Word16* x, Word16* y) {
    for (int i = 0; i < 384; ++i) y[i] = mult_r(x[i], amr_wb_window[i]);
}

Word32 amr_wb_Autocorr_energy(const Word16* y) {
    // Non-negative terms: the saturating sum is min(exact sum, MAX_32).
    std::int64_t e = 1 << 20;
    for (int i = 0; i < 384; ++i) e += L_mult(y[i], y[i]) >> 8;
    return sat32(e);
}

void amr_wb_ACF_Loop(const Word16* y, Word32* r, Word16 norm) {
    // Terms past y[383] are zero, so lag i sums j = 0..383-i in its lanes.
    for (int i = 1; i <= 16; ++i) r[i] = L_shl(amr_wb_lanes::dot4(y, y + i, 384 - i), norm);
}

Word32 amr_wb_agc2_loop1(const Word16* x) {
    std::int64_t e = 0;
    for (int i = 0; i < 64; ++i) {
        Word16 v = static_cast<Word16>(x[i] >> 2);
        e += L_mult(v, v);
    }
    return sat32(e);
}

void amr_wb_agc2_loop(Word16* x, Word16 g0) {
    for (int i = 0; i < 64; ++i) x[i] = sat16(L_mult(x[i], g0) >> 14);
}

namespace {
// ((b·x) >> 16) of a 32 × 16-bit product, as a 32-bit word.
std::int64_t hi32(Word32 b, Word16 x) { return wrap32((std::int64_t{b} * x) >> 16); }
}  // namespace

Word16 amr_wb_Chebps2(Word16 x, const Word32* f, Word16 n) {
    Word32 b2 = f[0];
    Word32 b1 = sat32(std::int64_t{sat32(2 * (2 * hi32(b2, x)))} + f[1]);
    Word32 h = b2 >> 1;
    for (int k = 2; k < n; ++k) {
        Word32 t = sat32(2 * hi32(b1, x) - h);
        h = b1 >> 1;
        t = sat32(std::int64_t{t} + f[k]);
        b1 = sat32(2 * std::int64_t{t});
    }
    Word32 t = sat32(hi32(b1, x) - h);
    t = sat32(2 * std::int64_t{t});
    t = sat32(std::int64_t{t} + f[n]);
    Word16 cheb = sat16(t >> 10);
    return cheb == MIN_16 ? static_cast<Word16>(-32767) : cheb;
}

void amr_wb_Parm_serial(Word16 value, Word16 no_of_bits, Word16** prms) {
    if (no_of_bits <= 0) return;
    Word16* p = *prms;
    *prms = p + no_of_bits;
    for (int j = 0; j < no_of_bits; ++j) p[no_of_bits - 1 - j] = amr_wb_BIT_lookup[(value >> j) & 1];
}

Word16 amr_wb_Serial_parm(Word16 no_of_bits, const Word16** prms) {
    if (no_of_bits <= 0) return 0;
    const Word16* p = *prms;
    Word16 value = 0;
    for (int j = 0; j < no_of_bits; ++j)
        value = static_cast<Word16>((value << 1) | (p[j] >= 0 ? 1 : 0));
    *prms = p + no_of_bits;
    return value;
}

namespace {
template <int N>
Word16 serial_fixed(const Word16** prms) {
    const Word16* p = *prms;
    int value = 0;
    for (int j = 0; j < N; ++j) value = (value << 1) | (p[j] >= 0 ? 1 : 0);
    *prms = p + N;
    return static_cast<Word16>(value);
}
}  // namespace

Word16 amr_wb_Serial_parm1(const Word16** prms) { return serial_fixed<1>(prms); }
Word16 amr_wb_Serial_parm4(const Word16** prms) { return serial_fixed<4>(prms); }
Word16 amr_wb_Serial_parm5(const Word16** prms) { return serial_fixed<5>(prms); }
Word16 amr_wb_Serial_parm6(const Word16** prms) { return serial_fixed<6>(prms); }
Word16 amr_wb_Serial_parm8(const Word16** prms) { return serial_fixed<8>(prms); }
Word16 amr_wb_Serial_parm9(const Word16** prms) { return serial_fixed<9>(prms); }
Word16 amr_wb_Serial_parm12(const Word16** prms) { return serial_fixed<12>(prms); }
Word16 amr_wb_Serial_parm15(const Word16** prms) { return serial_fixed<15>(prms); }
