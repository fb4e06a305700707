// Filter and vector kernels of the G.723.1 codec.
#include "g7231_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "g7231_tables.h"

namespace {
constexpr int kSub = 60;
constexpr int kOrder = 10;
inline Word16 round14(Word32 acc) { return g723_1_round(g723_1_L_shl(acc, 2)); }

std::int64_t sum_sq(const Word16* x, int n) {
  std::int64_t acc = 0;
  for (int i = 0; i < n; ++i) acc += Word32(x[i]) * x[i];
  return acc;
}

// True when no partial sum of doubled products of two vectors with these sums of squares can
// reach 2^limit_bits (Cauchy-Schwarz: |sum 2ab| <= 2 sqrt(sum a^2 sum b^2)); sums of doubled
// products then need no saturation.
bool products_fit(std::int64_t sa, std::int64_t sb, int limit_bits) {
  const double bound = std::ldexp(1.0, 2 * limit_bits - 2) * 0.999;
  return static_cast<double>(sa) * static_cast<double>(sb) < bound;
}
}  // namespace

Word32 g723_1_mac_chain(Word32 acc, const Word16* x, const Word16* y, int n) {
  std::uint32_t sum = 0;  // wraps harmlessly when the bound below fails
  std::int64_t magnitudes = 0;
  for (int i = 0; i < n; ++i) {
    const Word32 p = Word32{x[i]} * y[i];
    sum += static_cast<std::uint32_t>(p);
    magnitudes += p < 0 ? -std::int64_t{p} : std::int64_t{p};
  }
  const std::int64_t start = acc < 0 ? -std::int64_t{acc} : std::int64_t{acc};
  if (start + 2 * magnitudes <= 0x7FFFFFFF) return acc + 2 * static_cast<Word32>(sum);
  return g723_1_model_mac_chain(acc, x, y, n);
}

Word32 g723_1_model_mac_chain(Word32 acc, const Word16* x, const Word16* y, int n) {
  for (int i = 0; i < n; ++i) acc = g723_1_L_mac(acc, x[i], y[i]);
  return acc;
}

void g723_1_Acbk_filter(Word16* Tv, const Word16* rez, const Word16* taps) {
  // When the doubled products of the taps with the largest excitation magnitude add up to no
  // more than the limit, no partial sum saturates and the plain sums are exact.
  std::int64_t tap_sum = 0;
  int rez_max = 0;
  for (int k = 0; k < 5; ++k) tap_sum += std::abs(int{taps[4 * k]});
  for (int i = 0; i < kSub + 4; ++i) rez_max = std::max(rez_max, std::abs(int{rez[i]}));
  if (2 * tap_sum * rez_max <= 0x7FFFFFFF) {
    for (int i = 0; i < kSub; ++i) {
      Word32 acc = 0;
      for (int k = 0; k < 5; ++k) acc += 2 * (Word32{rez[i + k]} * taps[4 * k]);
      Tv[i] = g723_1_round(g723_1_L_shl(acc, 1));
    }
    return;
  }
  g723_1_model_Acbk_filter(Tv, rez, taps);
}

void g723_1_model_Acbk_filter(Word16* Tv, const Word16* rez, const Word16* taps) {
  for (int i = 0; i < kSub; ++i) {
    Word32 acc = 0;
    for (int k = 0; k < 5; ++k) acc = g723_1_L_mac(acc, rez[i + k], taps[4 * k]);
    Tv[i] = g723_1_round(g723_1_L_shl(acc, 1));
  }
}

void g723_1_Synt(const Word16* a, const Word16* x, Word16* y) {
  // Start below 2^28 plus doubled products with full-scale outputs: when that fits 32 bits the
  // saturating chain is a plain sum.
  std::int64_t asum = 0;
  for (int k = 0; k < kOrder; ++k) asum += std::abs(int{a[k]});
  if ((std::int64_t{1} << 28) + 2 * asum * 32768 <= 0x7FFFFFFF) {
    // In any order the plain sum is the same: the newest output last, so that the recursion
    // waits on one multiply and one add per sample.
    for (int n = 0; n < kSub; ++n) {
      Word32 acc = g723_1_L_shr(g723_1_L_deposit_h(x[n]), 3);
      for (int k = kOrder; k >= 1; --k) acc += 2 * (Word32{a[k - 1]} * y[n - k]);
      y[n] = round14(acc);
    }
    return;
  }
  for (int n = 0; n < kSub; ++n) {
    Word32 acc = g723_1_L_shr(g723_1_L_deposit_h(x[n]), 3);
    for (int k = 1; k <= kOrder; ++k) acc = g723_1_L_mac(acc, a[k - 1], y[n - k]);
    y[n] = round14(acc);
  }
}

void g723_1_Cascade_Filter(const Word16* x, Word16* s, Word16* w, const Word16* A, const Word16* BC, Word16 shift) {
  for (int n = 0; n < kSub; ++n) {
    Word32 u = g723_1_L_shr(g723_1_L_deposit_h(x[n]), 3);
    for (int k = 1; k <= kOrder; ++k) u = g723_1_L_mac(u, A[k - 1], s[kOrder + n - k]);
    Word32 acc = u;
    for (int k = 1; k <= kOrder; ++k) acc = g723_1_L_msu(acc, BC[k - 1], s[kOrder + n - k]);
    s[kOrder + n] = round14(u);
    acc = g723_1_L_shl(acc, shift);
    for (int k = 1; k <= kOrder; ++k) acc = g723_1_L_mac(acc, BC[kOrder + k - 1], w[kOrder + n - k]);
    w[kOrder + n] = round14(acc);
  }
}

void g723_1_Sub_Ring_Loop(Word16* x, const Word16* b, Word16 lag, Word16 gain) {
  for (int n = 0; n < kSub; ++n) {
    Word32 acc = g723_1_L_deposit_h(g723_1_sub(x[n], b[145 + n]));
    acc = g723_1_L_mac(acc, gain, b[145 + n - lag]);
    x[n] = g723_1_round(acc);
  }
}

void g723_1_Spf_Output(const Word16* zero_row, const Word16* pole_row, const Word16* x, Word16* y, Word16* t,
                       Word16 tilt) {
  // The start value is below 2^29; when it and every doubled product (the outputs bounded by
  // full scale) stay inside 32 bits together, the saturating chain is a plain sum.
  std::int64_t zsum = 0, psum = 0;
  int xmax = 0;
  for (int k = 0; k < 12; ++k) {
    zsum += std::abs(int{zero_row[k]});
    psum += std::abs(int{pole_row[k]});
  }
  for (int n = -12; n < kSub; ++n) xmax = std::max(xmax, std::abs(int{x[n]}));
  const bool plain = (std::int64_t{1} << 29) + 2 * zsum * xmax + 2 * psum * 32768 <= 0x7FFFFFFF;
  for (int n = 0; n < kSub; ++n) {
    Word32 acc = g723_1_L_shr(g723_1_L_deposit_h(x[n]), 2);
    if (plain) {
      for (int k = 0; k < 12; ++k) acc += 2 * (Word32{zero_row[k]} * x[n - 12 + k]);
      for (int k = 0; k < 12; ++k) acc += 2 * (Word32{pole_row[k]} * y[n - 12 + k]);
    } else {
      for (int k = 0; k < 12; ++k) acc = g723_1_L_mac(acc, zero_row[k], x[n - 12 + k]);
      for (int k = 0; k < 12; ++k) acc = g723_1_L_mac(acc, pole_row[k], y[n - 12 + k]);
    }
    y[n] = round14(acc);
    t[n] = g723_1_round(g723_1_L_mac(g723_1_L_shl(acc, 2), tilt, y[n - 1]));
  }
}

namespace {
// Sample n of the convolution of e with h as the saturating chain over k = 0..n; plain says
// that no partial sum can saturate, so the plain sum is the chain's value.
Word32 convolution_at(const Word16* e, const Word16* h, int n, bool plain) {
  Word32 acc = 0;
  if (plain) {
    for (int k = 0; k <= n; ++k) acc += Word32(e[k]) * h[n - k];
    return acc * 2;
  }
  for (int k = 0; k <= n; ++k) acc = g723_1_L_mac(acc, e[k], h[n - k]);
  return acc;
}
}  // namespace

void g723_1_Per_Filt(const Word16* e, const Word16* h, Word16* out16, Word32* out32) {
  const bool plain = products_fit(sum_sq(e, kSub), sum_sq(h, kSub), 31);
  for (int n = 0; n < kSub; ++n) {
    out32[n] = convolution_at(e, h, n, plain);
    out16[n] = g723_1_round(out32[n]);
  }
}

void g723_1_Per_Filt_Delta(const Word16* e, const Word16* h, Word16* out16, const Word32* prev32, Word32* out32,
                           Word16 lag) {
  // The previous candidate's segment is this one shifted by a sample as long as neither has
  // wrapped around its period; m keeps the recursion inside that span.
  const int m = lag >= 62 ? kSub : std::max(1, lag - 6);
  out32[0] = g723_1_L_mult(e[0], h[0]);
  for (int j = 1; j < m; ++j) out32[j] = g723_1_L_add(prev32[j - 1], g723_1_L_mult(e[0], h[j]));
  if (m < kSub) {
    const bool plain = products_fit(sum_sq(e, kSub), sum_sq(h, kSub), 31);
    for (int j = m; j < kSub; ++j) out32[j] = convolution_at(e, h, j, plain);
  }
  for (int j = 0; j < kSub; ++j) out16[j] = g723_1_round(out32[j]);
}

void g723_1_Recursive_PerFilt_Loop(Word16 e, const Word16* h1, Word16* row1, Word32* energy) {
  // row1 points at F[i][1]; the next row's F[i+1][0] lies 60 words after F[i][0].
  const Word16* next = row1 - 1 + kSub;
  Word32 E = *energy;
  for (int j = 0; j < kSub - 1; ++j) {
    row1[j] = g723_1_round(g723_1_L_mac(g723_1_L_deposit_h(next[j]), e, h1[j]));
    E = g723_1_L_mac(E, row1[j], row1[j]);
  }
  *energy = E;
}

void g723_1_Per_Filt_and_Sub(const Word16* e, const Word16* h, Word16* t) {
  // The start value t * 2^15 stays below 2^30, so products below 2^30 in sum cannot saturate.
  const bool plain = products_fit(sum_sq(e, kSub), sum_sq(h, kSub), 30);
  for (int n = 0; n < kSub; ++n) {
    Word32 acc = g723_1_L_shr(g723_1_L_deposit_h(t[n]), 1);
    if (plain) {
      Word32 conv = 0;
      for (int k = 0; k <= n; ++k) conv += Word32(e[k]) * h[n - k];
      acc -= 2 * conv;
    } else {
      for (int k = 0; k <= n; ++k) acc = g723_1_L_msu(acc, e[k], h[n - k]);
    }
    t[n] = g723_1_round(g723_1_L_shl(acc, 1));
  }
}

namespace {
void backward_filter(const Word16* x, const Word16* h, Word32* out32) {
  const bool plain = products_fit(sum_sq(x, kSub), sum_sq(h, kSub), 31);
  for (int n = 0; n < kSub; ++n) {
    Word32 acc = 0;
    if (plain) {
      for (int j = n; j < kSub; ++j) acc += Word32(x[j]) * h[j - n];
      acc *= 2;
    } else {
      for (int j = n; j < kSub; ++j) acc = g723_1_L_mac(acc, x[j], h[j - n]);
    }
    out32[n] = acc;
  }
}
}  // namespace

void g723_1_Backward_Per_Filt(const Word16* x, const Word16* h, Word32* out32, Word16 shift) {
  backward_filter(x, h, out32);
  for (int n = 0; n < kSub; ++n) out32[n] = g723_1_L_shl(out32[n], shift);
}

Word32 g723_1_Backward_Per_Filt2(const Word16* x, const Word16* h, Word32* out32) {
  backward_filter(x, h, out32);
  Word32 peak = 0;
  for (int n = 0; n < kSub; ++n) peak = std::max(peak, g723_1_L_abs(out32[n]));
  return peak;
}

void g723_1_Per_Filt_ish(const Word16* h, const Word16* h2, Word16* out, Word16 shift) {
  for (int m = 1; m <= 32; ++m) {
    Word32 acc = 0;
    for (int k = 0; k + 2 * m < kSub; ++k) acc = g723_1_L_mac(acc, h[k], h2[k + 2 * m]);
    out[m] = out[-m] = g723_1_round(g723_1_L_shl(acc, shift));
  }
}

void g723_1_Window(const Word16* src, Word16* dst, Word16 shift) {
  for (int i = 0; i < 180; ++i) dst[i] = g723_1_mult_r(g723_1_shl(src[i], shift), g723_1_HammingWindowTable[i]);
}

void g723_1_ACF(Word16* x, Word32* r) {
  for (int i = 180; i < 192; ++i) x[i] = 0;
  for (int k = 0; k <= 10; ++k) {
    // Undoubled products in four lanes (no lane can overflow: 45 products below 2^30 each).
    std::int64_t lanes[4] = {0, 0, 0, 0};
    for (int i = 0; i < 180; ++i) lanes[i & 3] += Word32(x[i]) * x[i + k];
    Word32 l[4];
    for (int q = 0; q < 4; ++q) l[q] = g723_1_sat32(lanes[q]);
    r[k] = g723_1_L_add(g723_1_L_add(l[0], l[2]), g723_1_L_add(l[1], l[3]));
  }
}

namespace {
Word16 vec_norm(const Word16* src, Word16* dst, int n) {
  Word16 peak = 0;
  for (int i = 0; i < n; ++i) peak = std::max(peak, g723_1_abs_s(src[i]));
  const Word16 e = peak == 0 ? Word16(12) : static_cast<Word16>(g723_1_norm_s(peak) - 3);
  for (int i = 0; i < n; ++i)
    dst[i] = e >= 0 ? static_cast<Word16>(src[i] * (1 << e)) : static_cast<Word16>(src[i] >> -e);
  return e;
}
}  // namespace

Word16 g723_1_Vec_Norm(Word16* x) { return vec_norm(x, x, kSub); }
Word16 g723_1_Vec_Norm385(Word16* x) { return vec_norm(x, x, 385); }
void g723_1_Vec_Norm_OLP(const Word16* src, Word16* dst) { vec_norm(src, dst, 385); }

void g723_1_Vec_shl_add(Word16* x, const Word16* y) {
  for (int i = 0; i < kSub; ++i) x[i] = g723_1_add(g723_1_shl(x[i], 1), y[i]);
}

void g723_1_Encode_loop1(Word16* x, const Word16* y, Word16* copy) {
  for (int i = 0; i < kSub; ++i) copy[i] = x[i] = g723_1_add(g723_1_shl(x[i], 1), y[i]);
}

void g723_1_Regen_loop1(Word16* x, Word16* copy) {
  for (int i = 0; i < 240; ++i) copy[i] = x[i] = g723_1_mult(x[i], 24576);
}

void g723_1_Vec_Mult_Integer(Word16* dst, const Word16* src, Word16 k) {
  for (int i = 0; i < kSub; ++i) dst[i] = static_cast<Word16>(Word32(src[i]) * k);
}

Word32 g723_1_Calc_Exc_Rand_loop1(const Word16* src, Word16* dst, Word16 shift) {
  Word32 acc = 0;
  for (int i = 0; i < 120; ++i) {
    dst[i] = g723_1_shr(src[i], shift);
    acc = g723_1_L_mac(acc, dst[i], dst[i]);
  }
  return acc;
}

Word16 g723_1_Vec_Max_abs_s60(const Word16* x) {
  Word16 m = 0;
  for (int i = 0; i < kSub; ++i) m = std::max(m, g723_1_abs_s(x[i]));
  return m;
}

Word16 g723_1_Vec_Max_abs_s120(const Word16* x) {
  return std::max(g723_1_Vec_Max_abs_s60(x), g723_1_Vec_Max_abs_s60(x + kSub));
}

Word32 g723_1_Vec_L_mac_60(const Word16* x, const Word16* y) {
  Word32 acc = 0;
  for (int i = 0; i < kSub; ++i) acc = g723_1_L_mac(acc, x[i], y[i]);
  return acc;
}

Word32 g723_1_Vec_L_mac_120(const Word16* x, const Word16* y) {
  Word32 acc = 0;
  for (int i = 0; i < 120; ++i) acc = g723_1_L_mac(acc, x[i], y[i]);
  return acc;
}

void g723_1_Vec_L_mac_120_4(const Word16* x, const Word16* y, Word32* out) {
  // Cauchy-Schwarz bounds every partial sum by the energies of x and of the lagged window
  // (updated one sample per lag); below 2^31 the plain sum is the chain's value.
  const std::int64_t xx = sum_sq(x, 120);
  std::int64_t yy = sum_sq(y, 120);
  for (int j = 0; j < 4; ++j) {
    const Word16* yj = y - j;
    if (j > 0) yy += Word32(yj[0]) * yj[0] - Word32(yj[120]) * yj[120];
    if (products_fit(xx, yy, 31)) {
      Word32 acc = 0;
      for (int i = 0; i < 120; ++i) acc += Word32(x[i]) * yj[i];
      out[j] = 2 * acc;
    } else {
      out[j] = g723_1_model_mac_chain(0, x, yj, 120);
    }
  }
}

Word32 g723_1_Vec_L_sqa_SFL(const Word16* x) { return g723_1_Vec_L_mac_60(x, x); }
Word32 g723_1_Vec_L_sqa_2SFL(const Word16* x) { return g723_1_Vec_L_mac_120(x, x); }

// The portable kernels keep to the platform's calling convention: nothing to save.
void g723_1_FrameSave_Neon(Word16* area) { (void)area; }
void g723_1_FrameRestore_Neon(const Word16* area) { (void)area; }

Word32 g723_1_Vec_L_macs_SAT_at_end(const Word16* x, const Word16* y, int n) {
  std::int64_t acc = 0;
  for (int i = 0; i < n; ++i) acc += 2 * std::int64_t(x[i]) * y[i];
  return g723_1_sat32(acc);
}

Word32 g723_1_Vec_Max_L_abs(const Word32* x, int n) {
  Word32 m = 0;
  for (int i = 0; i < n; ++i) m = std::max(m, g723_1_L_abs(x[i]));
  return m;
}

Word32 g723_1_Vec_Max_L_abs_index(const Word32* x, int n, int step, int* index) {
  Word32 m = 0;
  *index = 0;
  for (int i = 0; i < n; ++i) {
    const Word32 a = g723_1_L_abs(x[i * step]);
    if (a >= m) {  // of equal values the last wins
      m = a;
      *index = i * step;
    }
  }
  return m;
}

void g723_1_Vec_L_shl_round(const Word32* x, Word16* dst, Word16 shift, int n) {
  for (int i = 0; i < n; ++i) dst[i] = g723_1_round(g723_1_L_shl(x[i], shift));
}

void g723_1_Vec_L_shl_extract_h(const Word32* x, Word16* dst, Word16 shift, int n) {
  for (int i = 0; i < n; ++i) dst[i] = g723_1_extract_h(g723_1_L_shl(x[i], shift));
}

void g723_1_Long_Copy_with_Skip(const Word32* src, Word32* dst) {
  for (int i = 0; i < 30; ++i) dst[i] = src[2 * i];
}

void g723_1_HPF(Word16* x, Word32* pole, Word16* zero) {
  for (int i = 0; i < 240; ++i) {
    const Word16 in = x[i];
    // Input taps -0xC000 and 0xC000 (each doubled), feedback 0x7F00 (exact 64-bit product).
    const std::int64_t feedback = (std::int64_t(*pole) * g723_1_RemDctab_YR[0]) >> 15;
    const std::int64_t input = -2 * std::int64_t(in) * g723_1_RemDctab_YR[1] + 2 * std::int64_t(*zero) * g723_1_RemDctab_YR[2];
    const Word32 acc = g723_1_sat32(input + feedback);
    *zero = in;
    *pole = acc;
    x[i] = g723_1_round(acc);
  }
}
