// Analysis routines of the G.722 concealment. Ratios such as c^2/E are compared on normalised
// mantissas and exponents by cross-multiplication; the coarse pitch search decides most of its
// comparisons on the exact values in double precision where that form provably agrees.
#include "g722_plc_analysis.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "g722_basop.h"
#include "g722_tables.h"

using namespace g722;

namespace {

// A non-negative or signed value as a normalised 16-bit mantissa and exponent: value = m * 2^-e.
struct Fp {
  Word16 m = 0;
  Word16 e = 0;
};

[[gnu::always_inline]] inline Fp fp_of(Word32 v) {
  if (v == 0) return {0, 0};
  // Shifting by the normalisation count never overflows, so no saturation check is needed.
  const Word16 n = norm_l(v);
  return {extract_h(static_cast<Word32>(static_cast<std::uint32_t>(v) << n)), static_cast<Word16>(n - 16)};
}

[[gnu::always_inline]] inline Fp fp_mul(Fp a, Fp b) {
  if (a.m == 0 || b.m == 0) return {0, 0};
  Word16 m = extract_h(L_mult(a.m, b.m));
  Word16 e = static_cast<Word16>(a.e + b.e - 15);
  const Word16 n = norm_s(m);
  m = static_cast<Word16>(m << n);
  return {m, static_cast<Word16>(e + n)};
}

[[gnu::always_inline]] inline Fp fp_scale(Fp a, Word16 t_q15) { return fp_mul(a, {t_q15, 15}); }

// a > b on exact values.
[[gnu::always_inline]] inline bool fp_greater(Fp a, Fp b) {
  if (a.m == 0 || b.m == 0) return a.m > b.m;
  if ((a.m < 0) != (b.m < 0)) return a.m > b.m;
  const int shift = b.e - a.e;  // a = a.m * 2^-a.e
  if (shift >= 0) return (std::int64_t{a.m} << std::min(shift, 40)) > b.m;
  return a.m > (std::int64_t{b.m} << std::min(-shift, 40));
}

// c|c| / E of P exceeds t times that of Q.
[[gnu::always_inline]] inline bool ratio_greater(Fp c2p, Fp ep, Fp c2q, Fp eq, Word16 t_q15 = 32767) {
  const Fp lhs = fp_mul(c2p, eq);
  const Fp rhs = t_q15 == 32767 ? fp_mul(c2q, ep) : fp_scale(fp_mul(c2q, ep), t_q15);
  return fp_greater(lhs, rhs);
}

[[gnu::always_inline]] inline Fp signed_square(Word32 c) {
  const Fp f = fp_of(c);
  return fp_mul(f, {abs_s(f.m), f.e});
}

Word32 plain_energy(const Word16 *x, int n) {
  Word32 e = 0;
  for (int i = 0; i < n; ++i) e = L_mac0(e, x[i], x[i]);
  return e;
}

Word32 plain_corr(const Word16 *x, const Word16 *y, int n) {
  Word32 c = 0;
  for (int i = 0; i < n; ++i) c = L_mac0(c, x[i], y[i]);
  return c;
}

}  // namespace

void g722_Autocorr(Word32 *r, const Word16 *x) {
  Word16 w[160 + 16];
  g722_Vec_mult_r_WINSZ(x, g722_win, w);
  Word32 e = g722_Vec_L_sqa0_init(w, 1);
  while (e == kMax32) {
    for (int i = 0; i < 160; ++i) w[i] = static_cast<Word16>(w[i] >> 2);
    e = g722_Vec_L_sqa0_init(w, 1);
  }
  const Word16 shift = norm_l(e);
  r[0] = e << shift;
  g722_ACF(w, r, shift);
}

void g722_Spectral_Smoothing(Word32 *r) {
  for (int k = 1; k <= 8; ++k) r[k] = g722_MPY_32(r[k], g722_sstwin[k - 1]);
}

Word32 g722_DIV_32(Word32 L_num, Word32 denom) {
  Word16 den_hi, den_lo;
  L_Extract(denom, &den_hi, &den_lo);
  const Word16 approx = g722_div_s(0x3FFF, den_hi);
  Word32 t = Mpy_32_16(den_hi, den_lo, approx);
  t = L_sub(kMax32, t);
  Word16 hi, lo;
  L_Extract(t, &hi, &lo);
  t = Mpy_32_16(hi, lo, approx);
  return L_shl(g722_MPY_32(L_num, t), 2);
}

void g722_Levinson(const Word32 *Rhl, Word16 *A, Word16 *old_A) {
  constexpr int kOrder = 8;
  Word32 a[kOrder + 1] = {}, an[kOrder + 1] = {};
  // First reflection coefficient K = -r1 / r0.
  Word32 k32 = g722_DIV_32(L_abs(Rhl[1]), Rhl[0]);
  if (Rhl[1] > 0) k32 = L_negate(k32);
  if (abs_s(extract_h(k32)) > 32750) {
    std::memcpy(A, old_A, (kOrder + 1) * sizeof(Word16));
    return;
  }
  a[1] = k32 >> 4;  // Q27
  Word32 t = L_sub(kMax32, L_abs(g722_MPY_32(k32, k32)));
  Word32 alp = g722_MPY_32(Rhl[0], t);
  Word16 alp_exp = norm_l(alp);
  alp = L_shl(alp, alp_exp);

  for (int i = 2; i <= kOrder; ++i) {
    Word32 s = 0;
    for (int j = 1; j < i; ++j) s = L_add(s, g722_MPY_32(Rhl[j], a[i - j]));
    s = L_add(L_shl(s, 4), Rhl[i]);
    Word32 ki = g722_DIV_32(L_abs(s), alp);
    if (s > 0) ki = L_negate(ki);
    ki = L_shl(ki, alp_exp);
    if (abs_s(extract_h(ki)) > 32750) {
      std::memcpy(A, old_A, (kOrder + 1) * sizeof(Word16));
      return;
    }
    for (int j = 1; j < i; ++j) an[j] = L_add(a[j], L_shl(g722_MPY_32(ki, a[i - j]), 1));
    an[i] = ki >> 4;
    t = L_sub(kMax32, L_abs(g722_MPY_32(ki, ki)));
    alp = g722_MPY_32(alp, t);
    const Word16 n = norm_l(alp);
    alp = L_shl(alp, n);
    alp_exp = static_cast<Word16>(alp_exp + n);
    for (int j = 1; j <= i; ++j) a[j] = an[j];
  }
  A[0] = 4096;
  for (int i = 1; i <= kOrder; ++i) A[i] = round16(L_shl(a[i], 1));
  std::memcpy(old_A, A, (kOrder + 1) * sizeof(Word16));
}

Word32 g722_decim_LPF(const Word16 *xw, Word32 *lxwd) {
  Word32 largest = 2;
  // One bound for all 20 outputs: when no saturating sum can saturate, plain sums are exact.
  const bool plain = g722_mac_cannot_saturate(g722_bdf, 60, xw + 8, 8 * 19 + 60);
  for (int k = 0; k < 20; ++k) {
    lxwd[k] = plain ? g722_Vec_L_mac_ps0_plain(g722_bdf, xw + 8 + 8 * k, 60)
                    : g722_Vec_L_mac_ps0_60(g722_bdf, xw + 8 + 8 * k);
    largest = L_max(largest, L_abs(lxwd[k]));
  }
  return largest;
}

void g722_decim(const Word16 *xw, Word16 *xwd_work, G722_APXIII_WB_PLC_State *cstate) {
  Word32 lxwd[20];
  const Word32 largest = g722_decim_LPF(xw, lxwd);
  std::memcpy(cstate->dfm, xw + 160, 60 * sizeof(Word16));
  Word16 s = static_cast<Word16>(norm_l(largest) - 3);
  Word16 d = static_cast<Word16>(cstate->xwd_exp - s);
  if (d < 0) {
    d = 0;
    s = cstate->xwd_exp;
  }
  for (int i = 0; i < 45; ++i) xwd_work[i] = shr(cstate->xwd[i], d);
  g722_decim_loop1(xwd_work, lxwd, s);
  const Word16 m = g722_decim_loop2(xwd_work);
  Word16 kept[25];
  g722_Vec_shl_8(cstate->xwd + 20, kept, static_cast<Word16>(m - d), 25);
  std::memcpy(cstate->xwd, kept, sizeof(kept));
  g722_Vec_shl_8(xwd_work + 45, cstate->xwd + 25, m, 20);
  cstate->xwd_exp = static_cast<Word16>(m + s);
}

namespace {

// Signed square of a figure's correlation, exact to a relative 2^-52.
inline double signed_square_exact(const g722_pitch_ratio &r) {
  const double c = r.c;
  const double square = c * std::fabs(c);
  return r.negated ? -square : square;
}

inline Fp signed_square_model(const g722_pitch_ratio &r) {
  const Fp f = signed_square(r.c);
  return r.negated ? Fp{negate(f.m), f.e} : f;
}

// How far apart the exact sides of a comparison must lie for the mantissa form to give the same
// answer. Each truncation of the mantissa form moves a value by less than one unit of the
// mantissa it leaves: a normalised 16-bit mantissa (at least 2^14) from a 32-bit value, the high
// half of a product of two normalised mantissas (at least 2^13), or of a mantissa and a factor of
// at least 9830 (at least 4915). In units of 2^-14 of its exact value a side is off by less than
// 2 (the correlation, twice) + 2 (its square) + 1 (the energy) + 2 (the cross product), plus 0.5
// each for abs_s and negate of a -32768 mantissa, plus 3.3 for the factor on the side that has
// one: 19.3 units for both sides together, less than 2^-9.7. Sides whose exact values differ by
// more than 2^-9 of the larger therefore compare the same way in both forms. Every step keeps
// signs and zeros exactly.
constexpr double kRatioMargin = 1.0 / 512;

}  // namespace

bool g722_model_pitch_ratio_greater(const g722_pitch_ratio &p, const g722_pitch_ratio &q, Word16 t_q15) {
  return ratio_greater(signed_square_model(p), fp_of(p.e), signed_square_model(q), fp_of(q.e), t_q15);
}

namespace {

// A figure c|c| / E with its exact value in double precision (relative error 2^-52).
struct Figure {
  double value;
  g722_pitch_ratio ratio;
};

inline Figure figure_of(const g722_pitch_ratio &r) { return {signed_square_exact(r) / r.e, r}; }

// The figure of p exceeds t_q15 / 32768 (t_q15 = 32767: 1) times that of q. The exact values
// are the cross products of the comparison divided by both (positive) energies, so the margin
// applies to them as it does to the cross products.
[[gnu::always_inline]] inline bool figure_greater(const Figure &p, const Figure &q, Word16 t_q15) {
  const double rhs = t_q15 == 32767 ? q.value : q.value * (t_q15 * (1.0 / 32768));
  const double diff = p.value - rhs;
  if (std::fabs(diff) > kRatioMargin * std::max(std::fabs(p.value), std::fabs(rhs))) [[likely]] return diff > 0;
  return g722_model_pitch_ratio_greater(p.ratio, q.ratio, t_q15);
}

}  // namespace

bool g722_pitch_ratio_greater(const g722_pitch_ratio &p, const g722_pitch_ratio &q, Word16 t_q15) {
  return figure_greater(figure_of(p), figure_of(q), t_q15);
}

namespace {

struct Peak {
  Word16 lag;  // 16 kHz samples
  Figure f;
};

[[gnu::always_inline]] inline bool peak_better(const Peak &p, const Peak &q, Word16 t_q15 = 32767) {
  return figure_greater(p.f, q.f, t_q15);
}

// Peaks of c|c|/E at decimated lags 5..34 with positive correlation, strictly above both
// neighbours; at most seven, in increasing lag. A neighbour of non-positive correlation is always
// below (its c|c| is not positive, every energy is). The answers are combined without branches:
// they follow the signal and would defeat the branch predictor. `lags` has room for eight.
int g722_FindPeaks(const Word32 *corr, const Figure *fig, int *lags) {
  int count = 0;
  for (int l = 5; l <= 34; ++l) {
    const bool above_left = (corr[l - 1] <= 0) | figure_greater(fig[l], fig[l - 1], 32767);
    const bool above_right = (corr[l + 1] <= 0) | figure_greater(fig[l], fig[l + 1], 32767);
    lags[count] = l;
    count += (corr[l] > 0) & above_left & above_right & (count < 7);
  }
  return count;
}

// Refines a decimated peak towards its better neighbour at 1/8 to 4/8 of a decimated sample.
Peak g722_InterpolatePeak(int l, const Word32 *corr, const Figure *fig, const Word32 *energy) {
  const int side = figure_greater(fig[l + 1], fig[l - 1], 32767) ? 1 : -1;
  cp_struct cp;
  cp.a_val = static_cast<Word32>((std::int64_t{corr[l - 1]} + corr[l + 1]) / 2 - corr[l]);
  cp.b_val = static_cast<Word32>((std::int64_t{corr[l + side]} - corr[l - side]) / 2);
  cp.cc = corr[l];
  cp.deltae = static_cast<Word32>((std::int64_t{energy[l + side]} - energy[l]) / 8);
  cp.eni = energy[l];
  Figure cand[5];
  cand[0] = fig[l];
  int best = 0;
  for (int k = 1; k <= 4; ++k) {
    const std::int64_t c = cp.cc + ((std::int64_t{cp.a_val} * g722_x2[k - 1] + std::int64_t{cp.b_val} * g722_x[k - 1]) >> 15);
    cp.eni = static_cast<Word32>(std::max<std::int64_t>(std::int64_t{cp.eni} + cp.deltae, 1));
    const Word32 c32 = static_cast<Word32>(std::clamp<std::int64_t>(c, kMin32 + 1, kMax32));
    cand[k] = figure_of({c32, cp.eni, false});
    best = figure_greater(cand[k], cand[best], 32767) ? k : best;
  }
  return {static_cast<Word16>(8 * l + side * best), cand[best]};
}

bool near_multiple(int lag, int target) {
  const int tol = static_cast<int>((std::int64_t{target} * 1966) >> 15);
  return std::abs(lag - target) <= tol;
}

}  // namespace

void g722_coarsepitch_loop1(const Word16 *xwd, Word32 *corr, Word32 *energy) {
  Word32 loop[31];
  g722_Vec_L_mac_ps0_30_loop(xwd + 35, xwd + 30, loop, 31);
  for (int j = 0; j < 31; ++j) corr[5 + j] = loop[j];
  for (int l = 4; l < 35; ++l) {
    energy[l + 1] = L_mac0(L_msu0(energy[l], xwd[64 - l], xwd[64 - l]), xwd[34 - l], xwd[34 - l]);
  }
}

Word16 g722_coarsepitch(const Word16 *xwd, Word16 cpplast) {
  const Word16 *target = xwd + 35;
  Word32 corr[37] = {}, energy[37] = {};
  corr[4] = g722_Vec_L_mac_ps0_30(target, xwd + 31);
  energy[4] = plain_energy(xwd + 31, 30);
  g722_coarsepitch_loop1(xwd, corr, energy);
  Figure fig[37];
  for (int l = 4; l <= 35; ++l) {
    energy[l] = std::max<Word32>(energy[l], 1);
    fig[l] = figure_of({corr[l], energy[l], false});
  }
  int lags[8];
  int count = g722_FindPeaks(corr, fig, lags);
  if (count == 0) {
    for (int l = 4; l <= 35; ++l) {
      corr[l] = L_negate(corr[l]);
      fig[l].ratio.negated = true;
      fig[l].value = -fig[l].value;
    }
    count = g722_FindPeaks(corr, fig, lags);
  }
  if (count == 0) return 40;
  if (count == 1) return static_cast<Word16>(8 * lags[0]);

  Peak peaks[7]{};
  int best = 0;
  for (int p = 0; p < count; ++p) peaks[p] = g722_InterpolatePeak(lags[p], corr, fig, energy);
  for (int p = 1; p < count; ++p) best = peak_better(peaks[p], peaks[best]) ? p : best;
  int near = -1;
  for (int p = 0; p < count; ++p) {
    const bool close = std::abs(peaks[p].lag - cpplast) <= cpplast / 4;
    const bool better = near < 0 || peak_better(peaks[p], peaks[near]);
    near = close && better ? p : near;
  }
  // The smallest lag whose multiples are all confirmed by later peaks.
  const int largest = peaks[count - 1].lag;
  for (int p = 0; p < count && 2 * peaks[p].lag < largest; ++p) {
    if (!peak_better(peaks[p], peaks[best], p == near ? 13107 : 23921)) continue;
    bool confirmed = true;
    for (int mult = 2; mult * peaks[p].lag <= largest && confirmed; ++mult) {
      const Word16 t = mult - 2 < 4 ? g722_MPTH[mult - 2] : 9830;
      bool found = false;
      for (int q = p + 1; q < count && !found; ++q) {
        found = near_multiple(peaks[q].lag, mult * peaks[p].lag) && peak_better(peaks[q], peaks[best], t);
      }
      confirmed = found;
    }
    if (confirmed) return peaks[p].lag;
  }
  if (near >= 0 && near != best) {
    const int nl = peaks[near].lag, bl = peaks[best].lag;
    if (nl > bl) {
      if (peak_better(peaks[near], peaks[best], 25559)) return peaks[near].lag;
    } else {
      bool submultiple = nl > 136;
      for (int k = 0; k < 4 && !submultiple; ++k) {
        const int t = (bl * g722_invk[k]) >> 15;
        submultiple = std::abs(nl - t) <= ((t * 3113) >> 15);
      }
      if (submultiple && peak_better(peaks[near], peaks[best], 14090)) return peaks[near].lag;
    }
  }
  return peaks[best].lag;
}

Word32 g722_prfn_AverageMagnitude(const Word16 *in, Word16 len) {
  // At most 32767 magnitudes of at most 32767: the saturating sum never saturates.
  Word32 s = 0;
  for (int i = 0; i < len; ++i) s += abs_s(in[i]);
  return s;
}

Word16 g722_prfn(Word16 *ptfe, Word32 *cormax, Word32 *energymax32, Word16 *ppt, Word16 *wsz,
                 Word16 *sflag, const Word16 *xq, Word16 cpp) {
  *wsz = std::min<Word16>(cpp, 160);
  const int lo = std::max(cpp - 3, 40);
  const int hi = std::min(cpp + 3, 265);
  const int first = 586 - *wsz - hi;

  Word16 copy[592];
  Word32 seg = 0;
  // At most 426 squares of 12-bit values: the saturating sum never saturates.
  for (int i = first; i < 586; ++i) {
    const Word32 v = xq[i] >> 4;
    seg += v * v;
  }
  const Word16 norm = norm_l(seg);
  const Word16 *buf = xq;
  *sflag = 0;
  if (seg != 0 && norm < 8) {
    *sflag = static_cast<Word16>((9 - norm) / 2);
    // Only the target and the windows of the searched lags (and the correlation's reach of six
    // lags below the lowest) are read.
    const int reach = 586 - *wsz - std::max(hi, lo + 6);
    g722_Vec_shr(xq + reach, copy + reach, *sflag, static_cast<Word16>(586 - reach));
    buf = copy;
  }
  const Word16 *target = buf + 586 - *wsz;
  Word32 corr[7];
  g722_prfn_Corr(target, buf + 586 - *wsz - lo, *wsz, corr);
  Word32 e = plain_energy(buf + 586 - *wsz - lo, *wsz);
  int best = lo;
  Word32 best_c = corr[6], best_e = std::max<Word32>(e, 1);
  for (int lag = lo + 1; lag <= hi; ++lag) {
    e = L_mac0(L_msu0(e, buf[586 - lag], buf[586 - lag]), buf[586 - *wsz - lag], buf[586 - *wsz - lag]);
    const Word32 c = corr[6 - (lag - lo)];
    const Word32 ee = std::max<Word32>(e, 1);
    if (c > 0 && (best_c <= 0 || ratio_greater(signed_square(c), fp_of(ee), signed_square(best_c), fp_of(best_e)))) {
      best = lag;
      best_c = c;
      best_e = ee;
    }
  }
  const Word32 num = g722_prfn_AverageMagnitude(target, *wsz);
  const Word32 den = g722_prfn_AverageMagnitude(buf + 586 - *wsz - best, *wsz);
  Word16 tap = 0;
  if (den > 0) {
    tap = static_cast<Word16>(std::min<std::int64_t>((std::int64_t{num} << 14) / den, 16384));
    if (best_c < 0) tap = negate(tap);
  }
  *ptfe = tap;
  *ppt = static_cast<Word16>(std::max(0, (3 * tap) >> 7));
  *energymax32 = best_e;
  *cormax = best_c;
  return static_cast<Word16>(best);
}

Word16 g722_merit(const Word16 *xq, Word16 wsz, Word32 cormax, Word32 energymax32, Word16 sflag,
                  Word16 *xqbuf) {
  const Word16 *x = xq;
  if (sflag > 0) {
    g722_Vec_shr(xq, xqbuf, sflag, 426);
    x = xqbuf;
  }
  const Word16 *seg = x + 426 - wsz;
  Word32 e = 0, c = 0;
  for (int n = 0; n < wsz; ++n) {
    e = L_mac0(e, seg[n], seg[n]);
    c = L_mac0(c, seg[n], seg[n - 1]);
  }
  Word32 lg = 0, pg = 0, nc = 0;
  if (e != 0) {
    Word16 ex, fr;
    g722_Log2(e, &ex, &fr);
    // The energy of the unscaled history: each step of the scaling took a factor 4 off it.
    ex = static_cast<Word16>(ex + 2 * sflag);
    const Word32 log_e = (Word32{ex} << 16) + 2 * Word32{fr};
    lg = L_shl(log_e, 9);
    if (energymax32 != 0) {
      // Residual energy of the one-tap prediction from the best lag: E - c^2 / Emax.
      const std::int64_t pred = (std::int64_t{cormax} * cormax) / std::max<Word32>(energymax32, 1);
      const std::int64_t res = std::int64_t{e} - pred;
      if (res <= 0) {
        pg = 10240;
      } else {
        Word16 rex, rfr;
        g722_Log2(static_cast<Word32>(res), &rex, &rfr);
        const Word32 log_r = (Word32{static_cast<Word16>(rex + 2 * sflag)} << 16) + 2 * Word32{rfr};
        const Word32 diff = L_sub(log_e, log_r);
        Word16 dh, dl;
        L_Extract(diff, &dh, &dl);
        pg = round16(L_shl(Mpy_32_16(dh, dl, 24660), 11));
      }
    }
    nc = static_cast<Word32>(std::clamp<std::int64_t>((std::int64_t{c} << 15) / e, -32768, 32767));
  }
  Word32 acc = L_add((L_sub(lg, 452984832)) >> 1, L_shl(pg, 15));
  acc = L_add(acc, 6144 * nc);
  return round16(acc);
}

Word16 g722_testrpc_flag(const Word16 *inbuf) {
  Word32 e = 0, c1 = 0;
  for (int i = 0; i < 80; ++i) e = L_mac0(e, inbuf[i], inbuf[i]);
  for (int i = 0; i < 79; ++i) c1 = L_mac0(c1, inbuf[i], inbuf[i + 1]);
  return L_sub(c1, e >> 3) >= 0 ? 1 : 0;
}

Word16 g722_testrpc(Word16 merit, Word16 *inbuf) {
  const Word32 e = g722_testrpc_Energy(inbuf);
  const Word16 s = static_cast<Word16>(6 - norm_l(e));
  if (e != 0 && s > 0) {
    for (int i = 0; i < 80; ++i) inbuf[i] = static_cast<Word16>(inbuf[i] >> ((s + 1) / 2));
  }
  if (merit <= 5120) return 0;
  return g722_testrpc_flag(inbuf);
}

Word32 g722_ppchange_Energy(const Word16 *esb, Word16 len) {
  Word32 e = 0;
  for (int i = 0; i < len; i += 2) {
    const Word16 v = static_cast<Word16>(esb[i] >> 3);
    e = L_mac0(e, v, v);
  }
  return e;
}

void g722_extractbuf(const Word16 *xq, Word16 *esb, Word16 D, Word16 L, Word16 pp) {
  const int period = std::max<int>(pp, 1);
  for (int i = 0; i < L; ++i) {
    int j = 426 + D + i;
    if (j >= 426) j -= ((j - 426) / period + 1) * period;
    esb[i] = xq[j];
  }
}

Word16 g722_getlag(const Word16 *x, const Word16 *esb, Word16 lsw, Word16 delta, Word32 *pemax,
                   Word32 *pc2max) {
  Word32 e = std::max<Word32>(plain_energy(esb, lsw), 1);
  Word16 best = delta;
  Word32 best_c = plain_corr(x, esb, lsw);
  Word32 best_e = e;
  for (int k = delta - 1; k >= -delta; --k) {
    const int start = delta - k;
    e = L_mac0(L_msu0(e, esb[start - 1], esb[start - 1]), esb[start + lsw - 1], esb[start + lsw - 1]);
    const Word32 ee = std::max<Word32>(e, 1);
    const Word32 c = plain_corr(x, esb + start, lsw);
    if (ratio_greater(signed_square(c), fp_of(ee), signed_square(best_c), fp_of(best_e))) {
      best = static_cast<Word16>(k);
      best_c = c;
      best_e = ee;
    }
  }
  const Fp e_fp = fp_of(best_e), c2_fp = signed_square(best_c);
  pemax[0] = e_fp.m;
  pemax[1] = e_fp.e;
  pc2max[0] = c2_fp.m;
  pc2max[1] = c2_fp.e;
  return best;
}

namespace {

Word16 g722_block_shift(Word32 energy, Word16 base) {
  const Word16 norm = norm_l(energy);
  if (energy == 0 || 6 - norm < 0) return 0;
  return static_cast<Word16>(std::max(0, (base - norm) / 2));
}

}  // namespace

Word16 g722_ppchange(const Word16 *xq, Word16 pp, const Word16 *inbuf) {
  const Word16 delta = static_cast<Word16>(std::min(((pp + 1) / 2 + 3) & ~3, 28));
  const Word16 lsw = static_cast<Word16>(std::clamp((3 * pp + 1) / 2, 80, 160));
  const Word16 len = static_cast<Word16>(lsw + 2 * delta);
  Word16 buf[160 + 2 * 28 + 8];
  g722_extractbuf(xq, buf, static_cast<Word16>(12 - delta), len, pp);
  const Word16 shift = g722_block_shift(g722_ppchange_Energy(buf, static_cast<Word16>(len / 2)), 8);

  // Coarse search at 4 kHz.
  Word16 buf4[(160 + 2 * 28) / 4 + 4] = {};
  g722_Vec_shr_skip(buf, buf4, static_cast<Word16>(shift > 0 ? shift - 1 : 0), 4, static_cast<Word16>(len / 4));
  Word16 est2[40];
  for (int i = 0; i < 40; ++i) est2[i] = inbuf[2 * i];
  Word32 em[2], c2m[2];
  const Word16 lag4 = g722_getlag(est2, buf4, static_cast<Word16>(lsw / 4), static_cast<Word16>(delta / 4), em, c2m);
  int lag = std::clamp(lag4 * 4, -(delta - 4), delta - 4);

  // Fine search at 8 kHz around it.
  Word16 buf2[80 + 4];
  g722_Vec_shr_skip(buf + (delta - 4 - lag), buf2, shift, 2, static_cast<Word16>(lsw / 2 + 4));
  const Word16 lag2 = g722_getlag(inbuf, buf2, static_cast<Word16>(lsw / 2), 2, em, c2m);
  lag += 2 * lag2;

  // Accept a correlation coefficient above 0.5: c^2 > Ex * Ewin / 4, c positive.
  const Fp ex = fp_of(std::max<Word32>(plain_energy(inbuf, lsw / 2), 1));
  const Fp ewin{static_cast<Word16>(em[0]), static_cast<Word16>(em[1])};
  const Fp c2{static_cast<Word16>(c2m[0]), static_cast<Word16>(c2m[1])};
  const bool correlated = c2.m > 0 && fp_greater(c2, fp_scale(fp_mul(ex, ewin), 8192));
  if (std::abs(lag) > 26 || !correlated) return -100;
  return static_cast<Word16>(lag);
}

Word16 g722_refinelag(const Word16 *xq, Word16 pp, const Word16 *inbuf, Word16 estlag) {
  const int n = std::min(estlag + 144, 160);
  Word16 x[40], esb[48];
  const Word16 sx = g722_block_shift(g722_ppchange_Energy(inbuf + 160 - n, 40), 8);
  for (int i = 0; i < 40; ++i) x[i] = static_cast<Word16>(inbuf[160 - n + i] >> sx);
  g722_extractbuf(xq, esb, static_cast<Word16>(160 - n - estlag - 4), 48, pp);
  const Word16 se = g722_block_shift(g722_ppchange_Energy(esb, 48), 8);
  for (auto &v : esb) v = static_cast<Word16>(v >> se);
  Word32 em[2], c2m[2];
  return static_cast<Word16>(estlag + g722_getlag(x, esb, 40, 4, em, c2m));
}

void g722_resample_loop(Word32 nspad32, const Word16 *in, Word16 *out, std::int64_t pup_start,
                        Word16 Qspad, Word16 skip, Word32 spad16, Word16 ad, Word16 olalen) {
  static constexpr const Word16 *kFades[] = {g722_ola3, g722_ola4, g722_ola5, g722_ola6, g722_ola7, g722_ola8};
  const Word16 *ola = kFades[olalen - 3];
  // The output holds exactly nspad32 samples; the caller sizes its buffer for it.
  const int expected = nspad32;
  std::int64_t p = pup_start;
  int base = 0;
  int k = olalen;
  int o = 0;
  auto emit = [&](int i) {
    if (o >= expected) return;
    if (k < olalen) {
      const int old = std::min(base + k, 143);
      out[o++] = round16(L_add(L_mult(in[i], ola[k]), L_mult(in[old], ola[olalen - 1 - k])));
      ++k;
    } else {
      out[o++] = in[i];
    }
  };
  for (int i = skip; i < 143; ++i) {
    if (i == static_cast<int>(p >> Qspad)) {
      p += spad16;
      base = i;
      k = 0;
      i = base - ad;
    }
    emit(i);
  }
  emit(143);
  while (o < expected) out[o++] = in[143];
}

void g722_resample(const Word16 *in, Word16 *out, Word16 delta) {
  if (delta == 0) {
    std::memcpy(out, in, 144 * sizeof(Word16));
    return;
  }
  const int a = delta < 0 ? -delta : delta;
  const int ad = delta < 0 ? -1 : 1;
  const int skip = delta > 16 ? delta - 16 : 0;
  const int span = 144 - skip;

  // Spacing of the splice points: span / a in Q(Qspad).
  Word16 ns = norm_s(static_cast<Word16>(span));
  const Word16 na = norm_s(static_cast<Word16>(a));
  Word16 num = static_cast<Word16>(span << ns);
  const Word16 den = static_cast<Word16>(a << na);
  if (num >= den) {
    num = static_cast<Word16>(num >> 1);
    --ns;
  }
  const Word16 qspad = static_cast<Word16>(ns - na + 15);
  const Word32 spad16 = Word32{g722_div_s(num, den)} + 1;

  int olalen = ad > 0 ? span / a + (span % a != 0 ? 1 : 0) : (span - a) / a;
  olalen = std::clamp(olalen, 3, 8);

  g722_resample_loop(ad > 0 ? 144 - skip + a : 144 - a, in, out, std::int64_t{skip} << qspad, qspad,
                     static_cast<Word16>(skip), spad16, static_cast<Word16>(ad), static_cast<Word16>(olalen));
}
