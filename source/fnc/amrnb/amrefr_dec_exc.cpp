// Decoder excitation, phase dispersion, encoder memory update, codebook-gain
// smoothing measure and the comfort-noise generator.
#include "amrefr_basic_op.h"
#include "amrefr_kernels.h"

using namespace amrefr_op;

namespace {

// (v + 2^(n−1)) >> n without overflow, saturated to 16 bits.
inline Word16 round_shift(Word32 v, int n) { return sat16((std::int64_t{v} + (std::int64_t{1} << (n - 1))) >> n); }

// One step of the 31-bit comfort-noise shift register; returns the output bit.
inline int noise_step(Word32& reg) {
    int out = reg & 1;
    int feedback = (reg & 1) ^ ((reg >> 28) & 1);
    reg >>= 1;
    if (feedback) reg |= 0x40000000;
    return out;
}

}  // namespace

void amrefr_TotalExc(Word16* exc, const Word16* code, Word16 gain_pit, Word16 gain_code, Word16 shift_sel) {
    int n = shift_sel == 1 ? 15 : 14;
    for (int i = 0; i < 40; ++i) {
        Word32 L = sat32(std::int64_t{L_mult(exc[i], gain_pit)} + L_mult(code[i], gain_code));
        exc[i] = round_shift(L, n);
    }
}

void amrefr_ph_disp_Convolve(const Word16* h, Word16* inno, Word16 amp) {
    for (int j = 0; j < 40; ++j) inno[j] = sat16(std::int32_t{inno[j]} + mult(h[j], amp));
}

void amrefr_PitchSharp(const Word16* exc, Word16* out, Word16 pit_sharp, Word16 gain) {
    for (int i = 0; i < 40; ++i) out[i] = round_shift(L_mult(mult(exc[i], pit_sharp), gain), 16);
}

// Differences, sum and shift wrap (the standard saturates them).
void amrefr_sfPostProc_Mem(Word16* mem_err, const Word16* syn, Word16* mem_w0, const Word16* speech,
                           const Word16* y1, const Word16* y2, const Word16* xn, Word16 gain_pit,
                           Word16 gain_code, Word16 k_shift) {
    for (int j = 0; j < 10; ++j) {
        mem_err[j] = wrap16(std::int32_t{speech[j]} - syn[j]);
        Word16 temp = sat16(L_mult(y1[j], gain_pit) >> 15);
        Word16 k = static_cast<Word16>(
            static_cast<Word32>(static_cast<std::uint32_t>(L_mult(y2[j], gain_code)) << k_shift) >> 16);
        mem_w0[j] = wrap16(std::int32_t{xn[j]} - wrap16(std::int32_t{temp} + k));
    }
}

void amrefr_ComputeLspDiff_Loop1(const Word16* lsp, const Word16* lsp_aver, Word16* tmp1, Word16* tmp2,
                                 Word16* shift) {
    for (int i = 0; i < 10; ++i) {
        Word16 d = wrap16(std::int32_t{lsp_aver[i]} - lsp[i]);
        Word16 t = d < 0 ? wrap16(-std::int32_t{d}) : d;
        Word16 s1 = static_cast<Word16>((t == 0 ? 15 : norm_s(t)) - 1);
        tmp1[i] = s1 >= 0 ? sat16(std::int32_t{t} * (1 << s1)) : static_cast<Word16>(t >> 1);
        Word16 s2 = lsp_aver[i] == 0 ? 15 : norm_s(lsp_aver[i]);
        tmp2[i] = wrap16(std::int32_t{lsp_aver[i]} * (1 << s2));
        shift[i] = sat16(2 + s1 - s2);
    }
}

void amrefr_ComputeLspDiff_Loop2(const Word16* tmp1, const Word16* tmp2, Word16* q) {
    for (int i = 0; i < 10; ++i) q[i] = div_s(tmp1[i], tmp2[i]);
    q[10] = q[11] = 0;
}

Word16 amrefr_ComputeLspDiff_Loop3(const Word16* q, const Word16* shift) {
    Word16 lane[4] = {0, 0, 0, 0};
    for (int i = 0; i < 10; ++i) {
        Word16 term = shift[i] >= 0 ? shr(q[i], shift[i]) : shl(q[i], static_cast<Word16>(-shift[i]));
        lane[i & 3] = add(lane[i & 3], term);
    }
    return add(add(lane[0], lane[2]), add(lane[1], lane[3]));
}

Word16 amrefr_pseudonoise(Word32* shift_reg, Word16 no_bits) {
    Word32 reg = *shift_reg;
    Word16 out = 0;
    int steps = no_bits < 1 ? 1 : no_bits;
    for (int i = 0; i < steps; ++i) out = static_cast<Word16>((out << 1) | noise_step(reg));
    *shift_reg = reg;
    return out;
}

void amrefr_build_CN_code(Word32* seed, Word16* cod) {
    Word32 reg = *seed;
    for (int i = 0; i < 40; ++i) cod[i] = 0;
    for (int k = 0; k < 10; ++k) {
        int i = noise_step(reg);
        i = (i << 1) | noise_step(reg);
        int sign = noise_step(reg);
        cod[10 * i + k] = sign ? 4096 : -4096;
    }
    *seed = reg;
}

void amrefr_Vec_Modify_Excitation(const Word16* h, const Word16* excf, Word16 exc_k, Word16 h_fac, Word16* out) {
    int n = h_fac == 1 ? 15 : 13;
    for (int j = 39; j > 0; --j) {
        Word16 p = sat16(L_mult(h[j], exc_k) >> n);
        out[j] = sat16(std::int32_t{p} + excf[j - 1]);
    }
}
