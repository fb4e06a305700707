// Portable G.722 kernels. Sums split into four saturating lanes, joined with saturating adds,
// exactly as their contracts state; the result equals the single L_mac chain whenever no partial
// sum saturates.
#include "g722_kernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(ORVOX_X86_SIMD)
#include <emmintrin.h>
#endif

#include "g722_basop.h"
#include "g722_steps.h"
#include "g722_tables.h"

using namespace g722;

namespace {

// Largest magnitude in x[0..n), as an int so that -32768 gives 32768: from the largest and the
// smallest value, eight at a time.
inline int max_magnitude(const Word16 *x, int n) {
  int hi = 0, lo = 0;
  int i = 0;
#if defined(ORVOX_X86_SIMD)
  if (n >= 8) {
    __m128i vhi = _mm_setzero_si128(), vlo = vhi;
    for (; i + 8 <= n; i += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(x + i));
      vhi = _mm_max_epi16(vhi, v);
      vlo = _mm_min_epi16(vlo, v);
    }
    alignas(16) Word16 his[8], los[8];
    _mm_store_si128(reinterpret_cast<__m128i *>(his), vhi);
    _mm_store_si128(reinterpret_cast<__m128i *>(los), vlo);
    for (int k = 0; k < 8; ++k) {
      hi = std::max<int>(hi, his[k]);
      lo = std::min<int>(lo, los[k]);
    }
  }
#endif
  for (; i < n; ++i) {
    hi = std::max<int>(hi, x[i]);
    lo = std::min<int>(lo, x[i]);
  }
  return std::max(hi, -lo);
}

// True when n doubled products of magnitudes up to mx and my cannot reach the 32-bit limit: then
// no partial sum of any lane, nor any join of lanes, saturates, and plain arithmetic is exact.
inline bool products_fit(int mx, int my, int n) {
  return 2 * std::int64_t{mx} * my * n <= 0x7FFFFFFF;
}

// Plain four-lane sum of doubled products; exact when products_fit holds.
inline Word32 lanes_mac_plain(const Word16 *x, const Word16 *y, int n) {
  Word32 sum = 0;
  int i = 0;
#if defined(ORVOX_X86_SIMD)
  // Pairs of products in 32 bits: exact, as two products of -32768 cannot both occur here.
  __m128i acc = _mm_setzero_si128();
  for (; i + 8 <= n; i += 8) {
    acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(x + i)),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i *>(y + i))));
  }
  if (i + 4 <= n) {  // a half block, read as exactly four samples
    acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(x + i)),
                                            _mm_loadl_epi64(reinterpret_cast<const __m128i *>(y + i))));
    i += 4;
  }
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
  sum = 2 * _mm_cvtsi128_si32(acc);
#endif
  for (; i < n; ++i) sum += 2 * (Word32{x[i]} * y[i]);
  return sum;
}

// Four-lane saturating sum of doubled products x[i] * y[i]: the portable model.
inline Word32 lanes_mac_model(const Word16 *x, const Word16 *y, int n) {
  Word32 lane[4] = {0, 0, 0, 0};
  for (int i = 0; i < n; ++i) lane[i & 3] = L_mac(lane[i & 3], x[i], y[i]);
  return L_add(L_add(L_add(lane[0], lane[1]), lane[2]), lane[3]);
}

#if defined(ORVOX_X86_SIMD)
// acc + v in wrapping 32-bit lanes; the sign bit of `overflow` records every lane whose sum left
// 32 bits (both operands of one sign, the sum of the other).
inline __m128i add_flagged(__m128i acc, __m128i v, __m128i &overflow) {
  const __m128i sum = _mm_add_epi32(acc, v);
  overflow = _mm_or_si128(overflow, _mm_andnot_si128(_mm_xor_si128(acc, v), _mm_xor_si128(acc, sum)));
  return sum;
}

// Lanes of -1 where both a and b are -32768, whose doubled product L_mult saturates.
inline __m128i both_full_scale(__m128i a, __m128i b) {
  const __m128i min16 = _mm_set1_epi16(-32768);
  return _mm_and_si128(_mm_cmpeq_epi16(a, min16), _mm_cmpeq_epi16(b, min16));
}

// True when any lane of `overflow` or any 16-bit lane of `full_scale` is flagged.
inline bool flagged(__m128i overflow, __m128i full_scale) {
  return _mm_movemask_epi8(_mm_or_si128(_mm_srai_epi32(overflow, 31), full_scale)) != 0;
}

// The four saturating lanes in wrapping 32-bit arithmetic, eight doubled products a step (lane
// i & 3 takes product i, in increasing i as the model adds them). A lane's saturating sum differs
// from its wrapping one only once a partial sum leaves 32 bits, and a doubled product only for
// -32768 times -32768; a flag records both, and only then does the caller fall back to the model.
// Reads x and y up to n only (the tail goes through a zero-padded copy).
inline bool lanes_mac_wrapping(const Word16 *x, const Word16 *y, int n, Word32 *out) {
  __m128i acc = _mm_setzero_si128(), overflow = _mm_setzero_si128(), full_scale = _mm_setzero_si128();
  auto step = [&](__m128i a, __m128i b) {
    full_scale = _mm_or_si128(full_scale, both_full_scale(a, b));
    const __m128i lo = _mm_mullo_epi16(a, b), hi = _mm_mulhi_epi16(a, b);
    acc = add_flagged(acc, _mm_slli_epi32(_mm_unpacklo_epi16(lo, hi), 1), overflow);
    acc = add_flagged(acc, _mm_slli_epi32(_mm_unpackhi_epi16(lo, hi), 1), overflow);
  };
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    step(_mm_loadu_si128(reinterpret_cast<const __m128i *>(x + i)),
         _mm_loadu_si128(reinterpret_cast<const __m128i *>(y + i)));
  }
  if (i < n) {
    alignas(16) Word16 tx[8] = {}, ty[8] = {};
    std::memcpy(tx, x + i, static_cast<std::size_t>(n - i) * sizeof(Word16));
    std::memcpy(ty, y + i, static_cast<std::size_t>(n - i) * sizeof(Word16));
    step(_mm_load_si128(reinterpret_cast<const __m128i *>(tx)), _mm_load_si128(reinterpret_cast<const __m128i *>(ty)));
  }
  if (flagged(overflow, full_scale)) return false;
  alignas(16) Word32 lane[4];
  _mm_store_si128(reinterpret_cast<__m128i *>(lane), acc);
  *out = L_add(L_add(L_add(lane[0], lane[1]), lane[2]), lane[3]);
  return true;
}
#endif

inline Word32 lanes_mac(const Word16 *x, const Word16 *y, int n) {
#if defined(ORVOX_X86_SIMD)
  Word32 sum;
  if (lanes_mac_wrapping(x, y, n, &sum)) return sum;
#else
  if (products_fit(max_magnitude(x, n), max_magnitude(y, n), n)) return lanes_mac_plain(x, y, n);
#endif
  return lanes_mac_model(x, y, n);
}

// Four-lane saturating sum of doubled squares, each lane halved before the join.
inline Word32 lanes_sqa_halved_model(const Word16 *x, int n) {
  Word32 lane[4] = {0, 0, 0, 0};
  for (int i = 0; i < n; ++i) lane[i & 3] = L_mac(lane[i & 3], x[i], x[i]);
  return L_add(L_add(L_add(lane[0] >> 1, lane[1] >> 1), lane[2] >> 1), lane[3] >> 1);
}

inline Word32 lanes_sqa_halved(const Word16 *x, int n) {
  // Squares are never negative, so a lane's saturating sum only grows and sticks at the limit
  // once reached: it equals the exact sum capped at the limit (a doubled square of -32768 is
  // beyond the limit either way). The same holds for the join of the halved lanes.
  std::int64_t lane[4] = {0, 0, 0, 0};
  int i = 0;
#if defined(ORVOX_X86_SIMD)
  // Squares in 32 bits from their halves (never negative), widened to 64-bit lanes i & 3.
  __m128i lanes01 = _mm_setzero_si128(), lanes23 = _mm_setzero_si128();
  const __m128i zero = _mm_setzero_si128();
  for (; i + 8 <= n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(x + i));
    const __m128i lo = _mm_mullo_epi16(v, v), hi = _mm_mulhi_epi16(v, v);
    const __m128i sq_a = _mm_unpacklo_epi16(lo, hi), sq_b = _mm_unpackhi_epi16(lo, hi);
    lanes01 = _mm_add_epi64(lanes01, _mm_add_epi64(_mm_unpacklo_epi32(sq_a, zero), _mm_unpacklo_epi32(sq_b, zero)));
    lanes23 = _mm_add_epi64(lanes23, _mm_add_epi64(_mm_unpackhi_epi32(sq_a, zero), _mm_unpackhi_epi32(sq_b, zero)));
  }
  std::int64_t part[4];
  _mm_storeu_si128(reinterpret_cast<__m128i *>(part), lanes01);
  _mm_storeu_si128(reinterpret_cast<__m128i *>(part + 2), lanes23);
  for (int k = 0; k < 4; ++k) lane[k] = 2 * part[k];
#endif
  for (; i + 4 <= n; i += 4) {
    for (int k = 0; k < 4; ++k) lane[k] += 2 * (std::int64_t{x[i + k]} * x[i + k]);
  }
  // The last n % 4 squares; i is a multiple of 4 here, so lane k is lane (i + k) & 3.
  for (int k = 0; k < n - i; ++k) lane[k] += 2 * (std::int64_t{x[i + k]} * x[i + k]);
  std::int64_t sum = 0;
  for (auto v : lane) sum += std::min<std::int64_t>(v, 0x7FFFFFFF) >> 1;
  return static_cast<Word32>(std::min<std::int64_t>(sum, 0x7FFFFFFF));
}

// 32-bit two's-complement sum without saturation.
inline Word32 wrap_add(Word32 a, Word32 b) {
  return static_cast<Word32>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

}  // namespace

void g722_FrameSave_Neon(Word16 *) {}
void g722_FrameRestore_Neon(Word16 *) {}

void g722_W16copy(Word16 *dst, const Word16 *src, int n) {
  if (n > 0) std::memmove(dst, src, static_cast<std::size_t>(n) * sizeof(Word16));
}

void g722_W16zero(Word16 *dst, int n) {
  if (n > 0) std::memset(dst, 0, static_cast<std::size_t>(n) * sizeof(Word16));
}

// The branch delay lines hold the twelve newest inputs, newest first, in entries 1..12. The
// filters run over a linear buffer of the row's history (oldest first) followed by the block's
// inputs, and the twelve newest go back into the row at the end.
namespace {

constexpr int kMaxBlock = 128;

// hist[0..11] = row oldest first; then `len` new inputs.
inline void load_history(const Word16 *row, Word16 *hist) {
  for (int k = 0; k < 12; ++k) hist[k] = row[12 - k];
}

inline void store_history(Word16 *row, const Word16 *hist, int len) {
  for (int k = 0; k < 12; ++k) row[k + 1] = hist[len + 11 - k];
}

// The QMF coefficients are small enough that the branch filter's saturating chain never
// saturates (checked where the table is defined), so plain sums are exact.
// Doubled-product FIR at the newest input hist[n + 11]: coef[0] takes the newest.
inline Word32 branch_fir(const Word16 *hist, int n, const Word16 *coef) {
  Word32 acc = 0;
  for (int k = 0; k < 12; ++k) acc += 2 * (Word32{coef[k]} * hist[n + 11 - k]);
  return acc;
}

// The same sums over a whole block: SSE2 pairs of products from the coefficients reversed
// (exact, as no sum saturates), else branch_fir per output.
struct BranchFir {
#if defined(ORVOX_X86_SIMD)
  __m128i lo, hi;  // reversed coefficients 0..7 and 8..11 (upper four lanes zero)
  explicit BranchFir(const Word16 *coef)
      : lo(_mm_set_epi16(coef[4], coef[5], coef[6], coef[7], coef[8], coef[9], coef[10], coef[11])),
        hi(_mm_set_epi16(0, 0, 0, 0, coef[0], coef[1], coef[2], coef[3])) {}
  Word32 operator()(const Word16 *hist, int n) const {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(hist + n));
    const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(hist + n + 8));
    __m128i sum = _mm_add_epi32(_mm_madd_epi16(a, lo), _mm_madd_epi16(b, hi));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
    sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
    return 2 * _mm_cvtsi128_si32(sum);
  }
#else
  const Word16 *coef;
  explicit BranchFir(const Word16 *c) : coef(c) {}
  Word32 operator()(const Word16 *hist, int n) const { return branch_fir(hist, n, coef); }
#endif
};

}  // namespace

void g722_qmf_tx_part1(Word16 *, Word16 *, const Word16 *x, Word16 *row, const Word16 *coef,
                       Word16 len, Word32 *scratch) {
  for (int done = 0; done < len; done += kMaxBlock) {
    const int n = std::min<int>(len - done, kMaxBlock);
    Word16 hist[12 + kMaxBlock];
    load_history(row, hist);
    for (int i = 0; i < n; ++i) hist[12 + i] = x[2 * (done + i) + 1];
    const BranchFir fir(coef);
    for (int i = 0; i < n; ++i) scratch[done + i] = fir(hist, i + 1);
    store_history(row, hist, n);
  }
}

void g722_qmf_tx_part2(Word16 *xl, Word16 *xh, const Word16 *x, Word16 *row, const Word16 *coef,
                       Word16 len, Word32 *scratch) {
  for (int done = 0; done < len; done += kMaxBlock) {
    const int n = std::min<int>(len - done, kMaxBlock);
    Word16 hist[12 + kMaxBlock];
    load_history(row, hist);
    for (int i = 0; i < n; ++i) hist[12 + i] = x[2 * (done + i)];
    const BranchFir fir(coef);
    for (int i = 0; i < n; ++i) {
      const Word32 b = fir(hist, i + 1);
      xl[done + i] = extract_h(L_add(scratch[done + i], b));
      xh[done + i] = extract_h(L_sub(scratch[done + i], b));
    }
    store_history(row, hist, n);
  }
}

void g722_qmf_rx_part1(const Word16 *rl, const Word16 *rh, Word16 *out, Word16 *row,
                       const Word16 *coef, Word16 len) {
  for (int done = 0; done < len; done += kMaxBlock) {
    const int n = std::min<int>(len - done, kMaxBlock);
    Word16 hist[12 + kMaxBlock];
    load_history(row, hist);
    for (int i = 0; i < n; ++i) hist[12 + i] = sub(rl[done + i], rh[done + i]);
    const BranchFir fir(coef);
    for (int i = 0; i < n; ++i) out[2 * (done + i)] = saturate(fir(hist, i + 1) >> 13);
    store_history(row, hist, n);
  }
}

void g722_qmf_rx_part2(const Word16 *rl, const Word16 *rh, Word16 *out, Word16 *row,
                       const Word16 *coef, Word16 len) {
  for (int done = 0; done < len; done += kMaxBlock) {
    const int n = std::min<int>(len - done, kMaxBlock);
    Word16 hist[12 + kMaxBlock];
    load_history(row, hist);
    for (int i = 0; i < n; ++i) hist[12 + i] = add(rl[done + i], rh[done + i]);
    const BranchFir fir(coef);
    for (int i = 0; i < n; ++i) out[2 * (done + i) + 1] = saturate(fir(hist, i + 1) >> 13);
    store_history(row, hist, n);
  }
}

void g722_qmf_rx_both(const Word16 *rl, const Word16 *rh, Word16 *out, Word16 *row1, Word16 *row2,
                      const Word16 *coef, Word16 len) {
#if defined(ORVOX_X86_SIMD)
  // Pairs of taps (j, j + 1) against the history from output i + 1 + j: the coefficient of tap j
  // is coef[11 - j], the newest input taking coef[0]. Sums are plain (they cannot saturate) and
  // twice a sum shifted by 13 is the sum shifted by 12; the pack saturates to 16 bits.
  __m128i pair1[6], pair2[6];
  for (int m = 0; m < 6; ++m) {
    auto pair = [m](const Word16 *c) {
      return _mm_set1_epi32(static_cast<std::uint16_t>(c[11 - 2 * m]) | (static_cast<std::uint32_t>(static_cast<std::uint16_t>(c[10 - 2 * m])) << 16));
    };
    pair1[m] = pair(coef);
    pair2[m] = pair(coef + 12);
  }
  for (int done = 0; done < len; done += kMaxBlock) {
    const int n = std::min<int>(len - done, kMaxBlock);
    Word16 h1[12 + kMaxBlock], h2[12 + kMaxBlock];
    load_history(row1, h1);
    load_history(row2, h2);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
      const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rl + done + i));
      const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rh + done + i));
      _mm_storeu_si128(reinterpret_cast<__m128i *>(h1 + 12 + i), _mm_subs_epi16(l, h));
      _mm_storeu_si128(reinterpret_cast<__m128i *>(h2 + 12 + i), _mm_adds_epi16(l, h));
    }
    for (; i < n; ++i) {
      h1[12 + i] = sub(rl[done + i], rh[done + i]);
      h2[12 + i] = add(rl[done + i], rh[done + i]);
    }
    for (i = 0; i + 8 <= n; i += 8) {
      __m128i s1lo = _mm_setzero_si128(), s1hi = s1lo, s2lo = s1lo, s2hi = s1lo;
      for (int m = 0; m < 6; ++m) {
        const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h1 + i + 1 + 2 * m));
        const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h1 + i + 2 + 2 * m));
        const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h2 + i + 1 + 2 * m));
        const __m128i b2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(h2 + i + 2 + 2 * m));
        s1lo = _mm_add_epi32(s1lo, _mm_madd_epi16(_mm_unpacklo_epi16(a1, b1), pair1[m]));
        s1hi = _mm_add_epi32(s1hi, _mm_madd_epi16(_mm_unpackhi_epi16(a1, b1), pair1[m]));
        s2lo = _mm_add_epi32(s2lo, _mm_madd_epi16(_mm_unpacklo_epi16(a2, b2), pair2[m]));
        s2hi = _mm_add_epi32(s2hi, _mm_madd_epi16(_mm_unpackhi_epi16(a2, b2), pair2[m]));
      }
      const __m128i even = _mm_packs_epi32(_mm_srai_epi32(s1lo, 12), _mm_srai_epi32(s1hi, 12));
      const __m128i odd = _mm_packs_epi32(_mm_srai_epi32(s2lo, 12), _mm_srai_epi32(s2hi, 12));
      _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 2 * (done + i)), _mm_unpacklo_epi16(even, odd));
      _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 2 * (done + i) + 8), _mm_unpackhi_epi16(even, odd));
    }
    const BranchFir fir1(coef), fir2(coef + 12);
    for (; i < n; ++i) {
      out[2 * (done + i)] = saturate(fir1(h1, i + 1) >> 13);
      out[2 * (done + i) + 1] = saturate(fir2(h2, i + 1) >> 13);
    }
    store_history(row1, h1, n);
    store_history(row2, h2, n);
  }
#else
  g722_qmf_rx_part1(rl, rh, out, row1, coef, len);
  g722_qmf_rx_part2(rl, rh, out, row2, coef + 12, len);
#endif
}

Word16 g722_upzero(Word16 *dlt, Word16 *b) {
  // Sign-sign update: +128 where dlt[i] agrees in sign with dlt[0], -128 where it differs, no
  // step when dlt[0] is 0; leakage 32640/32768. The result always fits 16 bits.
  return upzero_step(dlt, b);
}

Word16 g722_plc_adaptpred_zero_part(Word16 *d, Word16 *b, Word16 step) {
  for (int i = 1; i <= 8; ++i) {
    const Word16 s = ((d[0] ^ d[i]) < 0) ? negate(step) : step;
    b[i] = add(mult(b[i], 32640), s);
  }
  for (int i = 6; i >= 1; --i) d[i] = d[i - 1];
  Word16 sz = 0;
  for (int i = 1; i <= 6; ++i) sz = add(sz, mult(b[i], d[i]));
  return sz;
}

void g722_filtdlt_zero_part(const Word16 *in, const Word16 *brev, Word32 *acc) {
  for (int k = 0; k < 80; ++k) {
    Word32 s = 0;
    for (int j = 0; j < 6; ++j) s = L_mac(s, brev[j], in[k - 6 + j]);
    acc[k] = s;
  }
}

namespace {

inline int coef_magnitude_sum(const Word16 *a, int first, int last) {
  int sum = 0;
  for (int k = first; k <= last; ++k) sum += std::abs(int{a[k]});
  return sum;
}

// Largest 32-bit magnitude a chain can reach from a start of magnitude `start` through doubled
// products of coefficients summing to `coef_sum` in magnitude with 16-bit signals.
inline bool chain_fits(std::int64_t start, int coef_sum) {
  return start + 2 * 32768LL * coef_sum <= 0x7FFFFFFF;
}

// Largest magnitude among x[first..last].
inline int signal_magnitude(const Word16 *x, int first, int last) {
  int m = 0;
  for (int i = first; i <= last; ++i) m = std::max(m, std::abs(int{x[i]}));
  return m;
}

// The same bound for signals of at most `x_max` in magnitude.
inline bool chain_fits_signal(std::int64_t start, int coef_sum, int x_max) {
  return start + 2LL * x_max * coef_sum <= 0x7FFFFFFF;
}

}  // namespace

void g722_azfilterQ0_Q1(const Word16 *a, const Word16 *x, Word16 *y, Word16 n) {
  // Bounded by the signal at hand, not by full scale: LPC coefficients of speech often sum past
  // what a full-scale signal allows, its actual level rarely.
  if (chain_fits_signal(1 << 11, coef_magnitude_sum(a, 0, 8), signal_magnitude(x, -8, n - 1))) {
    int i = 0;
#if defined(ORVOX_X86_SIMD)
    // Eight outputs at a time: exact 32-bit products from their halves, the undoubled sum
    // rounded by (s + 2^10) >> 11 (the same as (2s + 2^11) >> 12), saturated by the pack.
    for (; i + 8 <= n; i += 8) {
      __m128i lo_sum = _mm_set1_epi32(1 << 10), hi_sum = lo_sum;
      for (int k = 0; k <= 8; ++k) {
        const __m128i xv = _mm_loadu_si128(reinterpret_cast<const __m128i *>(x + i - k));
        const __m128i cv = _mm_set1_epi16(a[k]);
        const __m128i lo = _mm_mullo_epi16(xv, cv), hi = _mm_mulhi_epi16(xv, cv);
        lo_sum = _mm_add_epi32(lo_sum, _mm_unpacklo_epi16(lo, hi));
        hi_sum = _mm_add_epi32(hi_sum, _mm_unpackhi_epi16(lo, hi));
      }
      const __m128i out = _mm_packs_epi32(_mm_srai_epi32(lo_sum, 11), _mm_srai_epi32(hi_sum, 11));
      _mm_storeu_si128(reinterpret_cast<__m128i *>(y + i), out);
    }
#endif
    for (; i < n; ++i) {
      Word32 acc = 0;
      for (int k = 8; k >= 0; --k) acc += 2 * (Word32{a[k]} * x[i - k]);
      y[i] = saturate((acc + (1 << 11)) >> 12);
    }
    return;
  }
  int i = 0;
#if defined(ORVOX_X86_SIMD)
  // Eight outputs at a time, each chain of doubled products in the model's order (k = 8 down to
  // 0) in wrapping lanes with overflow flags, then the rounding; a block with a flag (a partial
  // sum that saturates, or -32768 times -32768) goes through the model.
  for (; i + 8 <= n; i += 8) {
    __m128i lo_sum = _mm_setzero_si128(), hi_sum = lo_sum, overflow = lo_sum, full_scale = lo_sum;
    for (int k = 8; k >= 0; --k) {
      const __m128i xv = _mm_loadu_si128(reinterpret_cast<const __m128i *>(x + i - k));
      const __m128i cv = _mm_set1_epi16(a[k]);
      full_scale = _mm_or_si128(full_scale, both_full_scale(xv, cv));
      const __m128i lo = _mm_mullo_epi16(xv, cv), hi = _mm_mulhi_epi16(xv, cv);
      lo_sum = add_flagged(lo_sum, _mm_slli_epi32(_mm_unpacklo_epi16(lo, hi), 1), overflow);
      hi_sum = add_flagged(hi_sum, _mm_slli_epi32(_mm_unpackhi_epi16(lo, hi), 1), overflow);
    }
    const __m128i half = _mm_set1_epi32(1 << 11);
    lo_sum = add_flagged(lo_sum, half, overflow);
    hi_sum = add_flagged(hi_sum, half, overflow);
    if (flagged(overflow, full_scale)) {
      g722_model_azfilterQ0_Q1(a, x + i, y + i, 8);
      continue;
    }
    // The pack saturates to 16 bits as the model does.
    _mm_storeu_si128(reinterpret_cast<__m128i *>(y + i),
                     _mm_packs_epi32(_mm_srai_epi32(lo_sum, 12), _mm_srai_epi32(hi_sum, 12)));
  }
#endif
  g722_model_azfilterQ0_Q1(a, x + i, y + i, static_cast<Word16>(n - i));
}

void g722_model_azfilterQ0_Q1(const Word16 *a, const Word16 *x, Word16 *y, Word16 n) {
  for (int i = 0; i < n; ++i) {
    Word32 acc = 0;
    for (int k = 8; k >= 0; --k) acc = L_mac(acc, a[k], x[i - k]);
    y[i] = saturate(L_add(acc, 1 << 11) >> 12);
  }
}

namespace {

inline void model_apfilter(const Word16 *a, const Word16 *x, Word16 *y, Word16 n, int input_shift) {
  for (int i = 0; i < n; ++i) {
    Word32 acc = Word32{x[i]} << input_shift;
    for (int k = 1; k <= 8; ++k) acc = L_msu(acc, a[k], y[i - k]);
    y[i] = saturate(L_add(acc, 1 << 12) >> 13);
  }
}

// All-pole synthesis with the input scaled by 2^input_shift; plain arithmetic when the chain
// cannot saturate for these coefficients, the saturating chain otherwise.
inline void apfilter(const Word16 *a, const Word16 *x, Word16 *y, Word16 n, int input_shift) {
  if (chain_fits((32768LL << input_shift) + (1 << 12), coef_magnitude_sum(a, 1, 8))) {
    // Integer sums are exact in any order: the older outputs first, so that the newest one's
    // product closes the sum and the recursion waits on one multiply and one add per sample.
    // Coefficients and the last eight outputs live in registers (the output may alias them).
    Word32 c[9], past[9];
    for (int k = 1; k <= 8; ++k) {
      c[k] = a[k];
      past[k] = y[-k];
    }
    int i = 0;
#if defined(ORVOX_X86_SIMD)
    // The six oldest products in one vector of pairs, from the outputs three or more samples
    // back, which are known two whole samples ahead; the product of the output two back is a
    // scalar known a sample ahead; only the newest product stays on the recursion.
    // Lane j of `back3` holds y[i - 3 - j]; the coefficients of lanes 6 and 7 are zero.
    const __m128i oldest_coef = _mm_set_epi16(0, 0, a[8], a[7], a[6], a[5], a[4], a[3]);
    __m128i back1 = _mm_set_epi16(y[-8], y[-7], y[-6], y[-5], y[-4], y[-3], y[-2], y[-1]);
    __m128i back2 = _mm_set_epi16(0, y[-8], y[-7], y[-6], y[-5], y[-4], y[-3], y[-2]);
    __m128i back3 = _mm_set_epi16(0, 0, y[-8], y[-7], y[-6], y[-5], y[-4], y[-3]);
    const Word32 c1 = a[1], c2 = a[2];
    Word32 newest = y[-1], second = y[-2];
    for (; i < n; ++i) {
      __m128i oldest = _mm_madd_epi16(back3, oldest_coef);
      oldest = _mm_add_epi32(oldest, _mm_shuffle_epi32(oldest, 0x4E));
      oldest = _mm_add_epi32(oldest, _mm_shuffle_epi32(oldest, 0xB1));
      const Word32 ahead = (Word32{x[i]} << input_shift) + (1 << 12) - 2 * _mm_cvtsi128_si32(oldest) - 2 * (c2 * second);
      const Word16 out = saturate((ahead - 2 * (c1 * newest)) >> 13);
      y[i] = out;
      second = newest;
      newest = out;
      back3 = back2;
      back2 = back1;
      back1 = _mm_insert_epi16(_mm_slli_si128(back1, 2), out, 0);
    }
#endif
    for (; i < n; ++i) {
      Word32 acc = (Word32{x[i]} << input_shift) + (1 << 12);
      for (int k = 8; k >= 2; --k) acc -= 2 * (c[k] * past[k]);
      acc -= 2 * (c[1] * past[1]);
      const Word16 out = saturate(acc >> 13);
      y[i] = out;
      for (int k = 8; k >= 2; --k) past[k] = past[k - 1];
      past[1] = out;
    }
    return;
  }
  model_apfilter(a, x, y, n, input_shift);
}

}  // namespace

void g722_model_apfilterQ1_Q0(const Word16 *a, const Word16 *x, Word16 *y, Word16 n) {
  model_apfilter(a, x, y, n, 12);
}

void g722_model_apfilterQ1_Q0_2(const Word16 *a, const Word16 *x, Word16 *y, Word16 n) {
  model_apfilter(a, x, y, n, 13);
}

void g722_apfilterQ1_Q0(const Word16 *a, const Word16 *x, Word16 *y, Word16 n) {
  apfilter(a, x, y, n, 12);
}

void g722_apfilterQ1_Q0_2(const Word16 *a, const Word16 *x, Word16 *y, Word16 n) {
  apfilter(a, x, y, n, 13);
}

void g722_Vec_mult_r_LPC0(const Word16 *a, const Word16 *w, Word16 *out) {
  for (int i = 0; i < 8; ++i) out[i] = mult_r(a[i], w[i]);
}

void g722_Vec_mult_r_WINSZ(const Word16 *x, const Word16 *win, Word16 *out) {
  int i = 0;
#if defined(ORVOX_X86_SIMD)
  // Exact 32-bit products, rounded and shifted, saturated to 16 bits by the pack: mult_r.
  const __m128i half = _mm_set1_epi32(0x4000);
  for (; i < 160; i += 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(x + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(win + i));
    const __m128i lo = _mm_mullo_epi16(a, b), hi = _mm_mulhi_epi16(a, b);
    const __m128i p0 = _mm_srai_epi32(_mm_add_epi32(_mm_unpacklo_epi16(lo, hi), half), 15);
    const __m128i p1 = _mm_srai_epi32(_mm_add_epi32(_mm_unpackhi_epi16(lo, hi), half), 15);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packs_epi32(p0, p1));
  }
#endif
  for (; i < 160; ++i) out[i] = mult_r(x[i], win[i]);
}

Word32 g722_Vec_L_sqa0(const Word16 *x, Word16 n) { return lanes_sqa_halved(x, n); }

Word32 g722_Vec_L_sqa0_init(const Word16 *x, Word32 init) {
  return L_add(init, lanes_sqa_halved(x, 160));
}

Word32 g722_Vec_L_mac_ps0(const Word16 *x, const Word16 *y, Word16 n) {
  return lanes_mac(x, y, n) >> 1;
}
Word32 g722_Vec_L_mac_ps0_30(const Word16 *x, const Word16 *y) { return lanes_mac(x, y, 30) >> 1; }
Word32 g722_Vec_L_mac_ps0_60(const Word16 *x, const Word16 *y) { return lanes_mac(x, y, 60) >> 1; }
Word32 g722_Vec_L_mac_ps0_80(const Word16 *x, const Word16 *y) { return lanes_mac(x, y, 80) >> 1; }

void g722_Vec_L_mac_ps0_30_loop(const Word16 *x, const Word16 *y, Word32 *out, Word16 count) {
  if (count > 0 && products_fit(max_magnitude(x, 30), max_magnitude(y - (count - 1), 30 + count - 1), 30)) {
    int j0 = 0;
#if defined(ORVOX_X86_SIMD)
    // Eight lags at a time, plain sums (exact here): the pair (x[i], x[i + 1]) in every lane,
    // against the pairs (y[i - j], y[i + 1 - j]) of eight neighbouring lags j. The last group
    // ends at the last lag, overlapping the one before rather than reading past y - (count - 1).
    auto group = [&](int first) {
      __m128i newer = _mm_setzero_si128(), older = newer;  // lags first..first+3, first+4..first+7
      for (int i = 0; i < 30; i += 2) {
        const __m128i xp = _mm_set1_epi32(static_cast<std::uint16_t>(x[i]) |
                                          (static_cast<std::uint32_t>(static_cast<std::uint16_t>(x[i + 1])) << 16));
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(y + i - first - 7));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(y + i - first - 6));
        older = _mm_add_epi32(older, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), xp));  // lane t: lag first+7-t
        newer = _mm_add_epi32(newer, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), xp));  // lane t: lag first+3-t
      }
      alignas(16) Word32 o[4], n[4];
      _mm_store_si128(reinterpret_cast<__m128i *>(o), older);
      _mm_store_si128(reinterpret_cast<__m128i *>(n), newer);
      for (int t = 0; t < 4; ++t) {
        out[first + 7 - t] = o[t];
        out[first + 3 - t] = n[t];
      }
    };
    if (count >= 8) {
      for (; j0 + 8 <= count; j0 += 8) group(j0);
      if (j0 < count) group(count - 8);
      j0 = count;
    }
#endif
    for (int j = j0; j < count; ++j) out[j] = lanes_mac_plain(x, y - j, 30) >> 1;
    return;
  }
  for (int j = 0; j < count; ++j) out[j] = lanes_mac(x, y - j, 30) >> 1;
}

void g722_model_Vec_L_mac_ps0_30_loop(const Word16 *x, const Word16 *y, Word32 *out, Word16 count) {
  for (int j = 0; j < count; ++j) out[j] = lanes_mac_model(x, y - j, 30) >> 1;
}

bool g722_mac_cannot_saturate(const Word16 *coef, int ncoef, const Word16 *x, int nx) {
  return 2 * std::int64_t{coef_magnitude_sum(coef, 0, ncoef - 1)} * max_magnitude(x, nx) <= 0x7FFFFFFF;
}

Word32 g722_Vec_L_mac_ps0_plain(const Word16 *x, const Word16 *y, Word16 n) {
  return lanes_mac_plain(x, y, n) >> 1;
}

Word32 g722_model_Vec_L_mac_ps0(const Word16 *x, const Word16 *y, Word16 n) {
  return lanes_mac_model(x, y, n) >> 1;
}

Word32 g722_model_Vec_L_sqa0(const Word16 *x, Word16 n) { return lanes_sqa_halved_model(x, n); }

void g722_ACF(Word16 *x, Word32 *r, Word16 shift) {
#if defined(ORVOX_X86_SIMD)
  std::memset(x + 160, 0, 16 * sizeof(Word16));
  Word32 lane[9][4];
  // Each block of eight samples interleaved as (0, 4, 1, 5, 2, 6, 3, 7): a multiply-add of two
  // such vectors sums the two products of each lane i & 3, so the four 32-bit results are the
  // model's four lanes (wrapping, as theirs do). All eight lags share the block of x.
  auto interleave = [](__m128i v) { return _mm_unpacklo_epi16(v, _mm_srli_si128(v, 8)); };
  __m128i acc[9];
  for (int k = 1; k <= 8; ++k) acc[k] = _mm_setzero_si128();
  for (int i = 0; i < 160; i += 8) {
    const __m128i a = interleave(_mm_loadu_si128(reinterpret_cast<const __m128i *>(x + i)));
    for (int k = 1; k <= 8; ++k) {
      const __m128i b = interleave(_mm_loadu_si128(reinterpret_cast<const __m128i *>(x + i + k)));
      acc[k] = _mm_add_epi32(acc[k], _mm_madd_epi16(a, b));
    }
  }
  for (int k = 1; k <= 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i *>(lane[k]), acc[k]);
  for (int k = 1; k <= 8; ++k) {
    const Word32 sum = L_add(L_add(L_add(lane[k][0], lane[k][1]), lane[k][2]), lane[k][3]);
    r[k] = static_cast<Word32>(static_cast<std::uint32_t>(sum) << shift);
  }
#else
  g722_model_ACF(x, r, shift);
#endif
}

void g722_model_ACF(Word16 *x, Word32 *r, Word16 shift) {
  std::memset(x + 160, 0, 16 * sizeof(Word16));
  for (int k = 1; k <= 8; ++k) {
    Word32 lane[4] = {0, 0, 0, 0};
    for (int i = 0; i < 160; ++i) lane[i & 3] = wrap_add(lane[i & 3], Word32{x[i]} * x[i + k]);
    const Word32 sum = L_add(L_add(L_add(lane[0], lane[1]), lane[2]), lane[3]);
    r[k] = static_cast<Word32>(static_cast<std::uint32_t>(sum) << shift);
  }
}

void g722_prfn_Corr(const Word16 *a, const Word16 *x, Word16 n, Word32 *out) {
  for (int m = 0; m < 7; ++m) {
    Word32 s = 0;
    for (int j = 0; j < n; ++j) s = wrap_add(s, Word32{a[j]} * x[j - 6 + m]);
    out[m] = s;
  }
}

Word32 g722_testrpc_Energy(const Word16 *x) {
  Word32 lane[4] = {0, 0, 0, 0};
  for (int i = 0; i < 80; ++i) {
    const Word16 v = static_cast<Word16>(x[i] >> 3);
    lane[i & 3] = L_mac(lane[i & 3], v, v);
  }
  return L_add(L_add(L_add(lane[0], lane[1]), lane[2]), lane[3]) >> 1;
}

void g722_decim_loop1(Word16 *out, const Word32 *in, Word16 shift) {
  for (int i = 0; i < 20; ++i) out[45 + i] = round16(L_shl(in[i], shift));
}

Word16 g722_decim_loop2(const Word16 *buf) {
  // abs_s caps the magnitude of -32768 at 32767.
  const Word16 m = static_cast<Word16>(std::clamp(max_magnitude(buf + 20, 45), 1, 32767));
  return static_cast<Word16>(norm_s(m) - 3);
}

void g722_Vec_shr_8(const Word16 *src, Word16 *dst, Word16 shift, Word16 n) {
  for (int i = 0; i < n; ++i) dst[i] = static_cast<Word16>(src[i] >> (shift > 15 ? 15 : shift));
}

void g722_Vec_shl_8(const Word16 *src, Word16 *dst, Word16 shift, Word16 n) {
  // Shifts beyond the word's width leave nothing but the sign.
  for (int i = 0; i < n; ++i) {
    if (shift >= 16) {
      dst[i] = 0;
    } else if (shift >= 0) {
      dst[i] = static_cast<Word16>(static_cast<std::uint16_t>(src[i]) << shift);
    } else {
      dst[i] = static_cast<Word16>(src[i] >> (shift < -15 ? 15 : -shift));
    }
  }
}

Word16 g722_div_s(Word16 num, Word16 den) {
  if (den == 0) return num > 0 ? 32767 : (num < 0 ? -32768 : 0);
  return saturate((Word32{num} * 32768) / den);
}

void g722_Log2(Word32 x, Word16 *exponent, Word16 *fraction) {
  const Word16 n = norm_l(x);
  const Word32 v = x << n;
  if (v <= 0) {
    *exponent = 0;
    *fraction = 0;
    return;
  }
  *exponent = static_cast<Word16>(30 - n);
  const int i = (v >> 25) - 32;
  const Word16 a = static_cast<Word16>((v >> 10) & 0x7FFF);
  const Word32 t = L_deposit_h(g722_tablog[i]);
  *fraction = extract_h(L_msu(t, static_cast<Word16>(g722_tablog[i] - g722_tablog[i + 1]), a));
}

Word16 g722_norm_l(Word32 x) { return norm_l(x); }
Word32 g722_L_shl(Word32 x, Word16 n) { return L_shl(x, n); }
Word32 g722_L_shr(Word32 x, Word16 n) { return L_shr(x, n); }
Word16 g722_shr(Word16 x, Word16 n) {
  if (n < 0) return static_cast<Word16>(static_cast<std::uint16_t>(x) << (n < -16 ? 16 : -n));
  return shr(x, n);
}
Word16 g722_abs_s(Word16 x) { return abs_s(x); }

void g722_Vec_shr(const Word16 *Vect_in, Word16 *Vect_out, Word16 shift, Word16 Len) {
  if (shift >= 0) {
    // One shift for the whole vector: beyond 15 only the sign is left, as with g722_shr.
    const int n = shift > 15 ? 15 : shift;
    for (int i = 0; i < Len; ++i) Vect_out[i] = static_cast<Word16>(Vect_in[i] >> n);
    return;
  }
  for (int i = 0; i < Len; ++i) Vect_out[i] = g722_shr(Vect_in[i], shift);
}

void g722_Vec_shr_skip(const Word16 *Vect_in, Word16 *Vect_out, Word16 shift, Word16 skip,
                       Word16 Len) {
  for (int i = 0; i < Len; ++i) Vect_out[i] = g722_shr(Vect_in[i * skip], shift);
}
