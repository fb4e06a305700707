// Comfort-noise, voice-activity and vector utility kernels of the GSM full-rate codec.
#include <cstring>

#include "fr_kernels.h"
#include "fr_tables.h"

namespace {
// One step of the 31-bit comfort-noise shift register: returns the output bit (bit 0) and
// feeds bit 0 XOR bit 28 back into bit 30.
inline Word16 fr_noise_step(Word32& reg) {
  const Word32 out = reg & 1;
  const Word32 feedback = out ^ ((reg >> 28) & 1);
  reg >>= 1;
  if (feedback) reg |= 0x40000000;
  return static_cast<Word16>(out);
}

inline Word16 fr_draw_bits(Word32& reg, int no_bits) {
  Word16 bits = 0;
  for (int i = 0; i < no_bits; ++i) bits = static_cast<Word16>((bits << 1) | fr_noise_step(reg));
  return bits;
}

inline void fr_interpolate_CN(const Word16* old_v, const Word16* new_v, Word16* out, Word16 pos,
                              int n) {
  const Word16 f = fr_interp_factor[pos][0];
  const Word16 g = fr_interp_factor[pos][1];
  for (int i = 0; i < n; ++i) out[i] = fr_round(fr_L_mac(fr_L_mult(f, new_v[i]), g, old_v[i]));
}
}  // namespace

Word16 fr_pseudonoise(Word32* seed, Word16 no_bits) {
  Word32 reg = *seed;
  const Word16 bits = fr_draw_bits(reg, no_bits);
  *seed = reg;
  return bits;
}

void fr_GenCN(Word16* Mc, Word16* xMc, Word32* seed) {
  Word32 reg = *seed;
  for (int k = 0; k < 4; ++k) {
    Mc[k] = fr_draw_bits(reg, 2);
    for (int i = 0; i < 13; ++i) xMc[13 * k + i] = fr_add(fr_mult_r(fr_draw_bits(reg, 3), 23405), 1);
  }
  *seed = reg;
}

void fr_interpolate_CN_vec4(const Word16* old_v, const Word16* new_v, Word16* out, Word16 pos) {
  fr_interpolate_CN(old_v, new_v, out, pos, 4);
}

void fr_interpolate_CN_vec8(const Word16* old_v, const Word16* new_v, Word16* out, Word16 pos) {
  fr_interpolate_CN(old_v, new_v, out, pos, 8);
}

void fr_energy_computation_Loop1(const Word32* L_ACF, Word16* sacf, Word16 shift) {
  for (int i = 0; i <= 8; ++i) sacf[i] = fr_extract_h(fr_L_shl(L_ACF[i], shift));
  sacf[9] = sacf[10] = sacf[11] = 0;
}

void fr_step_up(const Word16* rc, Word16* aav1, Word32* L_coef, Word32* L_work) {
  L_coef[0] = 0x20000000;
  L_coef[1] = Word32(rc[0]) * 16384;
  for (int m = 2; m <= 8; ++m) {
    for (int i = 1; i < m; ++i) L_work[i] = fr_L_mac(L_coef[i], rc[m - 1], fr_extract_h(L_coef[m - i]));
    for (int i = 1; i < m; ++i) L_coef[i] = L_work[i];
    L_coef[m] = Word32(rc[m - 1]) * 16384;
  }
  for (int i = 0; i <= 8; ++i) aav1[i] = static_cast<Word16>(L_coef[i] >> 19);
}

Word16 fr_compute_rav1(const Word16* aav1, Word16* rav1) {
  Word32 L_work[9];
  for (int i = 0; i <= 8; ++i) {
    Word32 acc = 0;
    for (int k = 0; k <= 8 - i; ++k) acc = fr_L_mac(acc, aav1[k], aav1[k + i]);
    L_work[i] = acc;
  }
  const Word16 scal = L_work[0] == 0 ? Word16(0) : fr_norm_l(L_work[0]);
  for (int i = 0; i <= 8; ++i) rav1[i] = fr_extract_h(fr_L_shl(L_work[i], scal));
  return scal;
}

void fr_Copy4(const Word16* src, Word16* dst) { std::memmove(dst, src, 4 * sizeof(Word16)); }
void fr_Copy8(const Word16* src, Word16* dst) { std::memmove(dst, src, 8 * sizeof(Word16)); }
void fr_Copy120(const Word16* src, Word16* dst) { std::memmove(dst, src, 120 * sizeof(Word16)); }

void fr_Vec_shr40(const Word16* src, Word16* dst, Word16 n) {
  for (int i = 0; i < 40; ++i) dst[i] = fr_shl_wrap(src[i], -n);
}

void fr_Vec_shl160(const Word16* src, Word16* dst, Word16 n) {
  for (int i = 0; i < 160; ++i) dst[i] = fr_shl_wrap(src[i], n);
}

void fr_Vec_mult_r160(const Word16* src, Word16* dst, Word16 f) {
  for (int i = 0; i < 160; ++i) dst[i] = fr_mult_r(src[i], f);
}

void fr_Vec_add40(const Word16* a, const Word16* b, Word16* dst) {
  for (int i = 0; i < 40; ++i) dst[i] = fr_add(a[i], b[i]);
}

Word16 fr_Vec_max_abs_gt(const Word16* x, Word16 n) {
  Word16 m = 0;
  for (int i = 0; i < n; ++i) {
    const Word16 a = fr_abs_s(x[i]);
    if (a > m) m = a;
  }
  return m;
}

Word32 fr_Vec_L_mac8(const Word16* a, const Word16* b, Word32 L) {
  Word32 p[8];
  for (int i = 0; i < 8; ++i) p[i] = fr_L_mult(a[i], b[i]);
  Word32 q[4];
  for (int j = 0; j < 4; ++j) q[j] = fr_L_add(p[j], p[j + 4]);
  return fr_L_add(fr_L_add(fr_L_add(q[0], q[2]), fr_L_add(q[1], q[3])), L);
}

void fr_Set_zero4(Word16* p, Word16 n) { std::memset(p, 0, sizeof(Word16) * n); }

// The portable kernels keep to the platform's calling convention, so there are no vector
// registers to save around a frame; the pair keeps its place in the frame drivers.
void fr_FrameSave_NEON(Word16* area) { (void)area; }
void fr_FrameRestore_NEON(const Word16* area) { (void)area; }

void fr_Set_zero(Word16* x, Word16 L) {
  for (int i = 0; i < L; ++i) x[i] = 0;
}
void fr_Set_const(Word16* x, Word16 value, Word16 L) {
  for (int i = 0; i < L; ++i) x[i] = value;
}
void fr_Copy(const Word16* src, Word16* dst, Word16 L) {
  std::memmove(dst, src, sizeof(Word16) * L);
}
