// One G.726 sample, specialised per rate at compile time, on a working copy of the adaptive state
// held in plain ints. The block coders load the copy once, run the samples over a sliding window
// of the delay lines (new rows are written below the old ones, so nothing is shifted per sample)
// and store it back once; the arithmetic is that of the state-record form step for step.
#pragma once

#include "g726.h"
#include "g726_tables.h"

#include <bit>
#include <cstdint>

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

// The adaptive values of a state record, as ints.
struct Work {
  int yup, ylp, apr, dmsp, dmlp, tdr, pk0, pk1, a1, a2;
  int b[6];
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
  for (int i = 0; i < 6; ++i) w.b[i] = s->br[i];
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
  for (int i = 0; i < 6; ++i) s->br[i] = static_cast<std::int16_t>(w.b[i]);
}

// What a sample gives besides its code.
struct StepOut {
  int se, y, sr;
};

// One sample at `Rate`. The delay lines are windows: `dq` points at the free row above
// DQ(n-1)..DQ(n-6), `sr` at the free row above SR(n-1), SR(n-2); the sample fills the free rows.
// Encoding, `in` is the linear input in 14-bit units and the code is returned; decoding, `in` is
// the code, already masked.
template <int Rate, bool Encode>
inline int step(Work &w, int in, std::int16_t *dq, std::int16_t *sr, StepOut &out) {
  using T = RateTables<Rate>;
  constexpr int kLeak = Rate == 5 ? 9 : 8;
  const std::int16_t *dq_old = dq + kRowWords;  // DQ(n-1) .. DQ(n-6)
  const std::int16_t *sr_old = sr + kRowWords;  // SR(n-1), SR(n-2)

  const int al = (w.apr >> 2) < 64 ? (w.apr >> 2) : 64;

  // Signal estimate.
  int zero_sum = 0;
  for (int i = 0; i < 6; ++i) zero_sum += fmult(w.b[i], dq_old + i * kRowWords);
  const int pole_sum = fmult(w.a1, sr_old) + fmult(w.a2, sr_old + kRowWords);
  const int sez = wrap16(zero_sum) >> 1;
  const int se = wrap16(zero_sum + pole_sum) >> 1;
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
  store_row(sr, (sr_v < 0 ? -sr_v : sr_v) & 0x7FFF, static_cast<std::int16_t>(sr_v));
  store_row(dq, dqmag, dq_raw);

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
    for (int i = 0; i < 6; ++i) w.b[i] = 0;
  } else {
    w.a2 = a2p;
    w.a1 = a1p;
    w.tdr = tdp;
    w.apr = wrap16(w.apr + (((ax << 9) - w.apr) >> 4));
    // Zero predictor: sign agreement of DQ(n) with DQ(n-1)..DQ(n-6).
    for (int i = 0; i < 6; ++i) {
      int u = 0;
      if (dqmag != 0) u = ((dq_raw ^ dq_old[i * kRowWords + 2]) & 0x8000) ? -128 : 128;
      w.b[i] = wrap16(w.b[i] - (w.b[i] >> kLeak) + u);
    }
  }
  return code;
}

// The delay lines of a block: sliding windows of `kChunk` new rows below the history a state
// record keeps (seven DQ rows, three SR rows), loaded and stored once per chunk.
struct Lines {
  static constexpr int kChunk = 64;
  std::int16_t dq[(kChunk + 7) * kRowWords];
  std::int16_t sr[(kChunk + 3) * kRowWords];
};

inline void lines_load(Lines &l, const G726_State *s) {
  for (int r = 0; r < 7; ++r) {
    for (int k = 0; k < kRowWords; ++k) l.dq[(Lines::kChunk + r) * kRowWords + k] = s->dq_dat[r][k];
  }
  for (int r = 0; r < 3; ++r) {
    for (int k = 0; k < kRowWords; ++k) l.sr[(Lines::kChunk + r) * kRowWords + k] = s->sr_dat[r][k];
  }
}

// After `n` samples of a chunk: the newest rows move back to the top of the windows.
inline void lines_rewind(Lines &l, int n) {
  const int dq_from = (Lines::kChunk - n) * kRowWords, to = Lines::kChunk * kRowWords;
  for (int w = 7 * kRowWords - 1; w >= 0; --w) l.dq[to + w] = l.dq[dq_from + w];
  const int sr_from = (Lines::kChunk - n) * kRowWords;
  for (int w = 3 * kRowWords - 1; w >= 0; --w) l.sr[to + w] = l.sr[sr_from + w];
}

// Stores the windows as a record keeps them after a sample: DQ(n)..DQ(n-6) in dq rows 0..6,
// SR(n)..SR(n-2) in sr rows 0..2 and, as the predictor's working copy, SR(n-1), SR(n-2) in dq
// rows 7 and 8.
inline void lines_store(const Lines &l, G726_State *s) {
  const int top = Lines::kChunk * kRowWords;
  for (int r = 0; r < 7; ++r) {
    for (int k = 0; k < kRowWords; ++k) s->dq_dat[r][k] = l.dq[top + r * kRowWords + k];
  }
  for (int r = 0; r < 3; ++r) {
    for (int k = 0; k < kRowWords; ++k) s->sr_dat[r][k] = l.sr[top + r * kRowWords + k];
  }
  for (int r = 0; r < 2; ++r) {
    for (int k = 0; k < kRowWords; ++k) s->dq_dat[7 + r][k] = s->sr_dat[1 + r][k];
  }
}

// Runs `n` samples through `per_sample(i, dq, sr)` in chunks over the windows, the state loaded
// once and stored once.
template <typename F>
inline void run_block(G726_State *s, Work &w, int n, F &&per_sample) {
  Lines l;
  work_load(w, s);
  lines_load(l, s);
  for (int start = 0; start < n; start += Lines::kChunk) {
    const int m = n - start < Lines::kChunk ? n - start : Lines::kChunk;
    for (int k = 0; k < m; ++k) {
      const int row = Lines::kChunk - 1 - k;
      per_sample(start + k, l.dq + row * kRowWords, l.sr + row * kRowWords);
    }
    lines_rewind(l, m);
  }
  lines_store(l, s);
  work_store(w, s);
}

}  // namespace g726_detail
