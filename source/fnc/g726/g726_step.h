// One G.726 sample, specialised per rate at compile time, on a working copy of the adaptive state
// held in plain ints. The block coders load the copy once, run the samples over a sliding window
// of the delay lines (new rows are written below the old ones, so nothing is shifted per sample)
// and store it back once; the arithmetic is that of the state-record form step for step.
#pragma once

#include "g726.h"
#include "g726_tables.h"

#include <bit>
#include <cstdint>

// The SSE2 forms of the predictor lanes; G726_PORTABLE builds the reference forms instead.
#if defined(ORVOX_X86_SIMD) && !defined(G726_PORTABLE)
#define G726_SSE2 1
#include <emmintrin.h>
#endif

namespace g726_detail {

constexpr int kRowWords = 3;

inline int sign_bit(int v) { return (v >> 15) & 1; }
inline int wrap16(int v) { return static_cast<std::int16_t>(v); }
inline int leading_one(int v) { return std::bit_width(static_cast<unsigned>(v)) - 1; }

// Stores a value in the delay lines' unpacked floating form {E - 19, M * 8, raw}.
inline void store_row(std::int16_t *row, int mag, std::int16_t raw) {
  const int e = mag == 0 ? 0 : leading_one(mag) + 1;
  const int mant = mag == 0 ? 32 : (mag << 6) >> e;
  row[0] = static_cast<std::int16_t>(e - 19);
  row[1] = static_cast<std::int16_t>(mant * 8);
  row[2] = raw;
}

// Log-domain difference of the quantiser: ((EXP << 7) + MANT - (Y >> 2)) in 12 bits.
inline int log_difference(int d, int y) {
  const int mag = (d < 0 ? -d : d) & 0x7FFF;
  const int exp = leading_one(mag | 1);
  const int mant = ((mag << (14 - exp)) >> 7) & 127;
  return ((exp << 7) + mant - (y >> 2)) & 0xFFF;
}

// Number of thresholds above a log-domain value; a fixed count unrolls and vectorises.
template <int N>
inline int count_above(const std::int16_t *thresholds, int dln) {
  int count = 0;
  for (int i = 0; i < N; ++i) count += thresholds[i] > dln ? 1 : 0;
  return count;
}

// G.726 FMULT of coefficient `an` (Q14) with the delay-line row {E - 19, M * 8, raw}.
inline int fmult(int an, const std::int16_t *row) {
  const int an_mag = ((an >> 2) < 0 ? -(an >> 2) : (an >> 2)) & 0x1FFF;
  const int an_exp = std::bit_width(static_cast<unsigned>(an_mag));
  const int an_mant = an_mag == 0 ? 32 : (an_mag << 6) >> an_exp;
  const int w_mant = ((row[1] >> 3) * an_mant + 48) >> 4;
  const int shift = row[0] + an_exp;  // WAnEXP - 19
  const int w_mag = shift >= 0 ? (w_mant << shift) & 0x7FFF : w_mant >> -shift;
  return ((row[2] ^ an) & 0x8000) != 0 ? -w_mag : w_mag;
}

// The eight predictor products of a sample: b1..b6 against DQ(n-1)..DQ(n-6) in lanes 0..5, a1
// and a2 against SR(n-1), SR(n-2) in lanes 6 and 7. Rows come split into lanes: `e` = E - 19,
// `m8` = M * 8 and `raw`, as store_row makes them.
struct Fmult8 {
  int zero_sum, pole_sum;
};

// The reference form, one FMULT per lane.
inline Fmult8 fmult8_portable(const std::int16_t *coef, const std::int16_t *e,
                              const std::int16_t *m8, const std::int16_t *raw) {
  int p[8];
  for (int i = 0; i < 8; ++i) {
    const std::int16_t row[kRowWords] = {e[i], m8[i], raw[i]};
    p[i] = fmult(coef[i], row);
  }
  return {p[0] + p[1] + p[2] + p[3] + p[4] + p[5], p[6] + p[7]};
}

#if defined(G726_SSE2)
// The same eight products in one pass of 16-bit lanes, for rows with M < 64 and E <= 16 (all
// that store_row makes). Bit lengths and normalised mantissas of the coefficients come from the
// exponent and the top fraction bits of their exact float conversion; the variable shifts are
// multiplications by powers of two, left by the low half of the product (masked to 15 bits as
// FMULT does), right by the high half of the doubled mantissa times 2^(16 + shift - 1).
inline Fmult8 fmult8_sse2(__m128i coef, __m128i e, __m128i m8, __m128i raw) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i t = _mm_srai_epi16(coef, 2);
  const __m128i ts = _mm_srai_epi16(t, 15);
  const __m128i mag = _mm_and_si128(_mm_sub_epi16(_mm_xor_si128(t, ts), ts), _mm_set1_epi16(0x1FFF));
  // Exact floats of the magnitudes (0..8191).
  const __m128i flo = _mm_castps_si128(_mm_cvtepi32_ps(_mm_unpacklo_epi16(mag, zero)));
  const __m128i fhi = _mm_castps_si128(_mm_cvtepi32_ps(_mm_unpackhi_epi16(mag, zero)));
  // Bit length: biased exponent - 126, 0 for a zero magnitude.
  const __m128i bias = _mm_set1_epi32(126);
  const __m128i an_exp = _mm_max_epi16(
      _mm_packs_epi32(_mm_sub_epi32(_mm_srli_epi32(flo, 23), bias), _mm_sub_epi32(_mm_srli_epi32(fhi, 23), bias)),
      zero);
  // Mantissa (mag << 6) >> an_exp = 32 + the top five fraction bits (32 for zero).
  const __m128i an_mant = _mm_or_si128(
      _mm_and_si128(_mm_packs_epi32(_mm_srli_epi32(flo, 18), _mm_srli_epi32(fhi, 18)), _mm_set1_epi16(31)),
      _mm_set1_epi16(32));
  const __m128i w_mant = _mm_srli_epi16(
      _mm_add_epi16(_mm_mullo_epi16(_mm_srai_epi16(m8, 3), an_mant), _mm_set1_epi16(48)), 4);
  const __m128i shift = _mm_add_epi16(e, an_exp);
  // Multiplier exponent: shift when shift >= 0, else 15 + shift; in range 0..14 only.
  const __m128i left = _mm_cmpgt_epi16(shift, _mm_set1_epi16(-1));
  const __m128i x = _mm_add_epi16(shift, _mm_andnot_si128(left, _mm_set1_epi16(15)));
  const __m128i valid = _mm_andnot_si128(_mm_or_si128(_mm_cmpgt_epi16(zero, x), _mm_cmpgt_epi16(x, _mm_set1_epi16(14))),
                                         _mm_set1_epi16(-1));
  const __m128i xc = _mm_and_si128(x, valid);
  const __m128i one = _mm_set1_epi32(127);
  const __m128i plo = _mm_cvttps_epi32(_mm_castsi128_ps(_mm_slli_epi32(_mm_add_epi32(_mm_unpacklo_epi16(xc, zero), one), 23)));
  const __m128i phi = _mm_cvttps_epi32(_mm_castsi128_ps(_mm_slli_epi32(_mm_add_epi32(_mm_unpackhi_epi16(xc, zero), one), 23)));
  const __m128i pow2 = _mm_and_si128(_mm_packs_epi32(plo, phi), valid);
  const __m128i lo = _mm_and_si128(_mm_mullo_epi16(w_mant, pow2), _mm_set1_epi16(0x7FFF));
  const __m128i hi = _mm_mulhi_epu16(_mm_add_epi16(w_mant, w_mant), pow2);
  const __m128i w_mag = _mm_or_si128(_mm_and_si128(left, lo), _mm_andnot_si128(left, hi));
  const __m128i neg = _mm_srai_epi16(_mm_xor_si128(raw, coef), 15);
  const __m128i prod = _mm_sub_epi16(_mm_xor_si128(w_mag, neg), neg);
  // Pair sums in 32 bits: {p0+p1, p2+p3, p4+p5, p6+p7}.
  const __m128i pairs = _mm_madd_epi16(prod, _mm_set1_epi16(1));
  const __m128i up = _mm_shuffle_epi32(pairs, _MM_SHUFFLE(3, 3, 3, 1));
  const __m128i s2 = _mm_add_epi32(pairs, up);  // lane 0: p0..p3
  const int zero_sum = _mm_cvtsi128_si32(s2) + _mm_cvtsi128_si32(_mm_shuffle_epi32(pairs, _MM_SHUFFLE(2, 2, 2, 2)));
  return {zero_sum, _mm_cvtsi128_si32(_mm_shuffle_epi32(pairs, _MM_SHUFFLE(3, 3, 3, 3)))};
}
#endif

// The tables of one rate, known at compile time.
template <int Rate>
struct RateTables;
template <>
struct RateTables<2> {
  static constexpr int kThresh = 2;
  static constexpr const std::int16_t *thresh = G726_Rate2QuantThresh, *val = G726_Rate2QuantVal,
                                      *deq = G726_Rate2DeQ, *f = G726_Rate2functfTab,
                                      *w = G726_Rate2functwTab,
                                      *sync_thresh = G726_Sync_Rate2_ThreshTab,
                                      *sync_mapk = G726_Sync_Rate2_mapk;
};
template <>
struct RateTables<3> {
  static constexpr int kThresh = 4;
  static constexpr const std::int16_t *thresh = G726_Rate3QuantThresh, *val = G726_Rate3QuantVal,
                                      *deq = G726_Rate3DeQ, *f = G726_Rate3functfTab,
                                      *w = G726_Rate3functwTab,
                                      *sync_thresh = G726_Sync_Rate3_ThreshTab,
                                      *sync_mapk = G726_Sync_Rate3_mapk;
};
template <>
struct RateTables<4> {
  static constexpr int kThresh = 8;
  static constexpr const std::int16_t *thresh = G726_Rate4QuantThresh, *val = G726_Rate4QuantVal,
                                      *deq = G726_Rate4DeQ, *f = G726_Rate4functfTab,
                                      *w = G726_Rate4functwTab,
                                      *sync_thresh = G726_Sync_Rate4_ThreshTab,
                                      *sync_mapk = G726_Sync_Rate4_mapk;
};
template <>
struct RateTables<5> {
  static constexpr int kThresh = 16;
  static constexpr const std::int16_t *thresh = G726_Rate5QuantThresh, *val = G726_Rate5QuantVal,
                                      *deq = G726_Rate5DeQ, *f = G726_Rate5functfTab,
                                      *w = G726_Rate5functwTab,
                                      *sync_thresh = G726_Sync_Rate5_ThreshTab,
                                      *sync_mapk = G726_Sync_Rate5_mapk;
};

// The adaptive values of a state record, as ints; the zero-predictor coefficients as the first
// six of the eight predictor lanes (the last two, a1 and a2, are filled in per sample).
struct Work {
  int yup, ylp, apr, dmsp, dmlp, tdr, pk0, pk1, a1, a2;
  alignas(16) std::int16_t coef[8];
};

inline void work_load(Work &w, const G726_State *s) {
  w.yup = s->yup;
  w.ylp = s->ylp;
  w.apr = s->apr;
  w.dmsp = s->dmsp;
  w.dmlp = s->dmlp;
  w.tdr = s->tdr;
  w.pk0 = s->pk0;
  w.pk1 = s->pk1;
  w.a1 = s->a1r;
  w.a2 = s->a2r;
  for (int i = 0; i < 6; ++i) w.coef[i] = s->br[i];
  w.coef[6] = s->a1r;
  w.coef[7] = s->a2r;
}

inline void work_store(const Work &w, G726_State *s) {
  s->yup = static_cast<std::int16_t>(w.yup);
  s->ylp = w.ylp;
  s->apr = static_cast<std::int16_t>(w.apr);
  s->dmsp = static_cast<std::int16_t>(w.dmsp);
  s->dmlp = static_cast<std::int16_t>(w.dmlp);
  s->tdr = static_cast<std::int16_t>(w.tdr);
  s->pk0 = static_cast<std::int16_t>(w.pk0);
  s->pk1 = static_cast<std::int16_t>(w.pk1);
  s->a1r = static_cast<std::int16_t>(w.a1);
  s->a2r = static_cast<std::int16_t>(w.a2);
  for (int i = 0; i < 6; ++i) s->br[i] = w.coef[i];
}

// The delay lines of a block, split into lanes {E - 19, M * 8, raw}: sliding windows of `kChunk`
// new rows below the history a state record keeps (seven DQ rows, three SR rows), loaded and
// stored once per chunk. A sample at window row r finds DQ(n-1).. and SR(n-1).. at r + 1 on and
// fills row r. One spare DQ row lets the eight-lane load read past DQ(n-6).
struct Lines {
  static constexpr int kChunk = 64;
  static constexpr int kDqRows = kChunk + 8, kSrRows = kChunk + 3;
  std::int16_t dq_e[kDqRows], dq_m8[kDqRows], dq_raw[kDqRows];
  std::int16_t sr_e[kSrRows], sr_m8[kSrRows], sr_raw[kSrRows];
};

inline void line_put(std::int16_t *e, std::int16_t *m8, std::int16_t *raw, int r, int mag,
                     std::int16_t value) {
  std::int16_t row[kRowWords];
  store_row(row, mag, value);
  e[r] = row[0];
  m8[r] = row[1];
  raw[r] = row[2];
}

inline void lines_load(Lines &l, const G726_State *s) {
  constexpr int top = Lines::kChunk;
  for (int r = 0; r < 7; ++r) {
    l.dq_e[top + r] = s->dq_dat[r][0];
    l.dq_m8[top + r] = s->dq_dat[r][1];
    l.dq_raw[top + r] = s->dq_dat[r][2];
  }
  l.dq_e[top + 7] = l.dq_m8[top + 7] = l.dq_raw[top + 7] = 0;
  for (int r = 0; r < 3; ++r) {
    l.sr_e[top + r] = s->sr_dat[r][0];
    l.sr_m8[top + r] = s->sr_dat[r][1];
    l.sr_raw[top + r] = s->sr_dat[r][2];
  }
}

// After `n` samples of a chunk: the newest rows move back to the top of the windows.
inline void lines_rewind(Lines &l, int n) {
  constexpr int top = Lines::kChunk;
  const int from = top - n;
  for (int r = 6; r >= 0; --r) {
    l.dq_e[top + r] = l.dq_e[from + r];
    l.dq_m8[top + r] = l.dq_m8[from + r];
    l.dq_raw[top + r] = l.dq_raw[from + r];
  }
  for (int r = 2; r >= 0; --r) {
    l.sr_e[top + r] = l.sr_e[from + r];
    l.sr_m8[top + r] = l.sr_m8[from + r];
    l.sr_raw[top + r] = l.sr_raw[from + r];
  }
}

// Stores the windows as a record keeps them after a sample: DQ(n)..DQ(n-6) in dq rows 0..6,
// SR(n)..SR(n-2) in sr rows 0..2 and, as the predictor's working copy, SR(n-1), SR(n-2) in dq
// rows 7 and 8.
inline void lines_store(const Lines &l, G726_State *s) {
  constexpr int top = Lines::kChunk;
  for (int r = 0; r < 7; ++r) {
    s->dq_dat[r][0] = l.dq_e[top + r];
    s->dq_dat[r][1] = l.dq_m8[top + r];
    s->dq_dat[r][2] = l.dq_raw[top + r];
  }
  for (int r = 0; r < 3; ++r) {
    s->sr_dat[r][0] = l.sr_e[top + r];
    s->sr_dat[r][1] = l.sr_m8[top + r];
    s->sr_dat[r][2] = l.sr_raw[top + r];
  }
  for (int r = 0; r < 2; ++r) {
    for (int k = 0; k < kRowWords; ++k) s->dq_dat[7 + r][k] = s->sr_dat[1 + r][k];
  }
}

// What a sample gives besides its code.
struct StepOut {
  int se, y, sr;
};

// Zero-predictor update, lanes 0..5 of `coef`: leakage and the sign agreement of DQ(n) with
// DQ(n-1)..DQ(n-6) (whose raw values are `old_raw`); nothing but the leakage when DQ(n) is zero.
template <int Leak>
inline void zero_update_portable(std::int16_t *coef, const std::int16_t *old_raw, int dq_raw,
                                 int dqmag) {
  for (int i = 0; i < 6; ++i) {
    int u = 0;
    if (dqmag != 0) u = ((dq_raw ^ old_raw[i]) & 0x8000) ? -128 : 128;
    coef[i] = static_cast<std::int16_t>(coef[i] - (coef[i] >> Leak) + u);
  }
}

#if defined(G726_SSE2)
// The same update on all eight lanes at once (the caller replaces lanes 6 and 7).
template <int Leak>
inline __m128i zero_update_sse2(__m128i coef, __m128i old_raw, int dq_raw, int dqmag) {
  const __m128i disagree =
      _mm_srai_epi16(_mm_xor_si128(old_raw, _mm_set1_epi16(static_cast<std::int16_t>(dq_raw))), 15);
  const __m128i u = _mm_and_si128(_mm_sub_epi16(_mm_xor_si128(_mm_set1_epi16(128), disagree), disagree),
                                  _mm_set1_epi16(static_cast<std::int16_t>(dqmag != 0 ? -1 : 0)));
  return _mm_add_epi16(_mm_sub_epi16(coef, _mm_srai_epi16(coef, Leak)), u);
}
#endif

// One sample at `Rate` at window row `r`. Encoding, `in` is the linear input in 14-bit units and
// the code is returned; decoding, `in` is the code, already masked.
template <int Rate, bool Encode>
inline int step(Work &w, int in, Lines &l, int r, StepOut &out) {
  using T = RateTables<Rate>;
  constexpr int kLeak = Rate == 5 ? 9 : 8;
  const int old = r + 1;  // DQ(n-1), SR(n-1)

  const int al = (w.apr >> 2) < 64 ? (w.apr >> 2) : 64;

  // Signal estimate.
#if defined(G726_SSE2)
  const __m128i coef = _mm_load_si128(reinterpret_cast<const __m128i *>(w.coef));
  const __m128i old_raw = _mm_loadu_si128(reinterpret_cast<const __m128i *>(l.dq_raw + old));
  const auto with_sr = [&](const std::int16_t *dq, const std::int16_t *sr) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(dq + old));
    v = _mm_insert_epi16(v, sr[old], 6);
    return _mm_insert_epi16(v, sr[old + 1], 7);
  };
  const Fmult8 f = fmult8_sse2(coef, with_sr(l.dq_e, l.sr_e), with_sr(l.dq_m8, l.sr_m8),
                               _mm_insert_epi16(_mm_insert_epi16(old_raw, l.sr_raw[old], 6),
                                                l.sr_raw[old + 1], 7));
#else
  std::int16_t e[8], m8[8], raw[8];
  for (int i = 0; i < 6; ++i) {
    e[i] = l.dq_e[old + i];
    m8[i] = l.dq_m8[old + i];
    raw[i] = l.dq_raw[old + i];
  }
  for (int i = 0; i < 2; ++i) {
    e[6 + i] = l.sr_e[old + i];
    m8[6 + i] = l.sr_m8[old + i];
    raw[6 + i] = l.sr_raw[old + i];
  }
  const Fmult8 f = fmult8_portable(w.coef, e, m8, raw);
#endif
  const int sez = wrap16(f.zero_sum) >> 1;
  const int se = wrap16(f.zero_sum + f.pole_sum) >> 1;
  out.se = se;

  // Scale factor: mix of the fast and slow factors by the speed control.
  const int yl_old = w.ylp;
  const int ylp6 = yl_old >> 6;
  const int y = (ylp6 + ((w.yup - ylp6) * al) / 64) & 0x1FFF;
  out.y = y;

  int code;
  if constexpr (Encode) {
    const int d = in - se;
    const int dln = log_difference(d, y);
    code = T::val[2 * count_above<T::kThresh>(T::thresh, dln) + (d < 0 ? 1 : 0)];
  } else {
    code = in;
  }

  // Inverse quantiser.
  const int dqs = code >> (Rate - 1);
  const int dql = (T::deq[code] + (y >> 2)) & 0xFFF;
  int dqmag = 0;
  if ((dql & 0x800) == 0) {
    const int dex = dql >> 7;
    const int dqt = 128 + (dql & 127);
    dqmag = dex <= 7 ? dqt >> (7 - dex) : dqt << (dex - 7);
  }
  const std::int16_t dq_raw = static_cast<std::int16_t>(dqs * 32768 + dqmag);
  const int dqv = dqs ? -dqmag : dqmag;

  // Fast and slow scale factors.
  int yut = y + (((T::w[code] << 5) - y) >> 5);
  if (yut < 544) yut = 544;
  if (yut > 5120) yut = 5120;
  w.yup = yut;
  w.ylp = yl_old + yut + ((-yl_old) >> 6);

  // Transition detector, on the slow factor from before its update.
  const int thr = (yl_old >> 15) <= 9 ? (32 + ((yl_old >> 10) & 31)) << (yl_old >> 15) : 31744;
  const bool tr = dqmag > ((thr + (thr >> 1)) >> 1) && w.tdr == 1;

  const int pk2 = w.pk1;
  w.pk1 = w.pk0;
  w.pk0 = wrap16(dqv + sez);

  const int sr_v = wrap16(dqv + se);
  out.sr = sr_v;
  line_put(l.sr_e, l.sr_m8, l.sr_raw, r, (sr_v < 0 ? -sr_v : sr_v) & 0x7FFF,
           static_cast<std::int16_t>(sr_v));
  line_put(l.dq_e, l.dq_m8, l.dq_raw, r, dqmag, dq_raw);

  // Pole predictor.
  const int pk0 = w.pk0;
  const bool sigpk = pk0 == 0;
  const bool same01 = sign_bit(pk0) == sign_bit(w.pk1);
  const int uga2a = sign_bit(pk0) != sign_bit(pk2) ? -16384 : 16384;
  int fa1 = 4 * w.a1;
  if (fa1 > 32764) fa1 = 32764;
  if (fa1 < -32764) fa1 = -32764;
  const int fa = same01 ? -fa1 : fa1;
  int a2p = wrap16(w.a2 - (w.a2 >> 7) + (sigpk ? 0 : (uga2a + fa) >> 7));
  if (a2p > 12288) a2p = 12288;
  if (a2p < -12288) a2p = -12288;
  const int tdp = a2p < -11776 ? 1 : 0;
  int a1p = wrap16(w.a1 - (w.a1 >> 8) + (sigpk ? 0 : (same01 ? 192 : -192)));
  if (a1p > 15360 - a2p) a1p = 15360 - a2p;
  if (a1p < a2p - 15360) a1p = a2p - 15360;

  // Speed control.
  const int fi = T::f[code];
  w.dmsp = wrap16(w.dmsp + (((fi << 9) - w.dmsp) >> 5));
  w.dmlp = wrap16(w.dmlp + (((fi << 11) - w.dmlp) >> 7));
  int ax = 1;
  if (y >= 1536) {
    int diff = (w.dmsp << 2) - w.dmlp;
    if (diff < 0) diff = -diff;
    if (diff < (w.dmlp >> 3)) ax = tdp;
  }

  if (tr) {
    // A transition resets both predictors.
    w.a1 = 0;
    w.a2 = 0;
    w.tdr = 0;
    w.apr = 256;
  } else {
    w.a2 = a2p;
    w.a1 = a1p;
    w.tdr = tdp;
    w.apr = wrap16(w.apr + (((ax << 9) - w.apr) >> 4));
  }
#if defined(G726_SSE2)
  // Zero predictor in lanes 0..5; lanes 6 and 7 take the new pole coefficients.
  __m128i b = _mm_and_si128(zero_update_sse2<kLeak>(coef, old_raw, dq_raw, dqmag),
                            _mm_set1_epi16(static_cast<std::int16_t>(tr ? 0 : -1)));
  b = _mm_insert_epi16(_mm_insert_epi16(b, w.a1, 6), w.a2, 7);
  _mm_store_si128(reinterpret_cast<__m128i *>(w.coef), b);
#else
  if (tr) {
    for (int i = 0; i < 6; ++i) w.coef[i] = 0;
  } else {
    zero_update_portable<kLeak>(w.coef, l.dq_raw + old, dq_raw, dqmag);
  }
  w.coef[6] = static_cast<std::int16_t>(w.a1);
  w.coef[7] = static_cast<std::int16_t>(w.a2);
#endif
  return code;
}

// Runs `n` samples through `per_sample(i, row)` in chunks over the windows, the state loaded
// once and stored once.
template <typename F>
inline void run_block(G726_State *s, Work &w, Lines &l, int n, F &&per_sample) {
  work_load(w, s);
  lines_load(l, s);
  for (int start = 0; start < n; start += Lines::kChunk) {
    const int m = n - start < Lines::kChunk ? n - start : Lines::kChunk;
    for (int k = 0; k < m; ++k) per_sample(start + k, Lines::kChunk - 1 - k);
    lines_rewind(l, m);
  }
  lines_store(l, s);
  work_store(w, s);
}

}  // namespace g726_detail
