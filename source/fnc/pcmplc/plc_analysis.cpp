// The concealment's analysis: decimation of the weighted signal to 2 kHz, the coarse pitch on it,
// the refined pitch at full rate and the periodicity merit of a loss.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "plc_common.h"
#include "plc_kernels.h"
#include "plc_tables.h"
#include "wide128.h"

namespace {

constexpr int kDecOut = PLC_XWD + PLC_XWD_FRAME;  // 65

int16_t shiftBy(int16_t x, int s) { return s >= 0 ? shl(x, static_cast<int16_t>(s)) : shr(x, static_cast<int16_t>(-s)); }

void decimate(const int16_t* xw, int16_t* out, PlcDecim st, int factor, const int32_t* adf,
              const int32_t* bdf, int stateShift) {
  int32_t y[PLC_XWD_FRAME];
  int32_t largest = 1;
  // The four states (newest first) stay in registers through the frame. The accumulator's
  // arithmetic is a wrapping 64-bit value: high word x << 5, low word 0, less the products.
  int64_t s1 = st.dfm[0], s2 = st.dfm[1], s3 = st.dfm[2], s4 = st.dfm[3];
  const int64_t a1 = adf[0], a2 = adf[1], a3 = adf[2], a4 = adf[3];
  for (int g = 0; g < PLC_XWD_FRAME; ++g) {
    int64_t s0 = 0;
    for (int j = 0; j < factor; ++j) {
      const uint64_t older = static_cast<uint64_t>(s2 * a2) + static_cast<uint64_t>(s3 * a3) + static_cast<uint64_t>(s4 * a4);
      const uint64_t acc = (static_cast<uint64_t>(static_cast<int64_t>(L_shr(L_deposit_h(xw[g * factor + j]), 11))) << 32) -
                           older - static_cast<uint64_t>(s1 * a1);
      s0 = static_cast<int32_t>(static_cast<uint32_t>(acc >> 32) << stateShift);
      if (j < factor - 1) {
        s4 = s3;
        s3 = s2;
        s2 = s1;
        s1 = s0;
      }
    }
    // After the group's last sample: the feed-forward sum over the new state and the four before.
    const uint64_t acc = static_cast<uint64_t>(s0 * bdf[0]) + static_cast<uint64_t>(s1 * bdf[1]) +
                         static_cast<uint64_t>(s2 * bdf[2]) + static_cast<uint64_t>(s3 * bdf[3]) +
                         static_cast<uint64_t>(s4 * bdf[4]);
    y[g] = static_cast<int32_t>(acc >> 32) << 1;
    s4 = s3;
    s3 = s2;
    s2 = s1;
    s1 = s0;
    const int32_t m = L_abs(y[g]);
    if (m > largest) largest = m;
  }
  st.dfm[0] = static_cast<int32_t>(s1);
  st.dfm[1] = static_cast<int32_t>(s2);
  st.dfm[2] = static_cast<int32_t>(s3);
  st.dfm[3] = static_cast<int32_t>(s4);
  // Block floating point: the new samples keep three bits of headroom under one exponent.
  int16_t n = static_cast<int16_t>(norm_l(largest) - 3);
  int16_t e = static_cast<int16_t>(*st.xwd_exp - n);
  if (e < 0) {
    e = 0;
    n = *st.xwd_exp;
  }
  for (int i = 0; i < PLC_XWD; ++i) out[i] = shr(st.xwd[i], e);
  for (int i = 0; i < PLC_XWD_FRAME; ++i) out[PLC_XWD + i] = ::round(L_shl(y[i], n));
  int16_t peak = 0;
  for (int i = PLC_XWD_FRAME; i < kDecOut; ++i) peak = std::max(peak, abs_s_itu(out[i]));
  const int16_t k = static_cast<int16_t>((peak == 0 ? 15 : norm_s_itu(peak)) - 3);
  for (int i = 0; i < PLC_XWD - PLC_XWD_FRAME; ++i) st.xwd[i] = shiftBy(st.xwd[i + PLC_XWD_FRAME], k - e);
  for (int i = 0; i < PLC_XWD_FRAME; ++i) st.xwd[PLC_XWD - PLC_XWD_FRAME + i] = shiftBy(out[PLC_XWD + i], k);
  *st.xwd_exp = static_cast<int16_t>(n + k);
}

}  // namespace

// The narrowband feedback coefficients are Q29 (state shifted by 3), the wideband ones Q28.
void decim16(const int16_t* xw, int16_t* out, PlcDecim st) { decimate(xw, out, st, 4, adf, bdf, 3); }
void decim32(const int16_t* xw, int16_t* out, PlcDecim st) { decimate(xw, out, st, 8, bv32_adf, bv32_bdf, 4); }

// ---------------------------------------------------------------------------------------------
// Coarse pitch.

namespace {

constexpr int kTarget = 30;
constexpr int kMinLag = 4;
constexpr int kMaxLag = 35;
constexpr int kMaxCandidates = 7;

// A correlation and energy pair; its score is sign(c) c^2 / E, compared by cross-multiplication.
struct Score {
  int64_t c;  // correlation (scaled as its producer says)
  int64_t E;  // energy, > 0
};

orvox::Int128 signedSquare(int64_t c) { return c < 0 ? -(orvox::Int128)c * c : (orvox::Int128)c * c; }

// a > q15 * b (q15 a Q15 factor, 32768 for plain comparison).
bool above(const Score& a, const Score& b, int32_t q15) {
  return signedSquare(a.c) * b.E * 32768 > signedSquare(b.c) * a.E * q15;
}

struct Candidate {
  int lag;     // in input samples
  Score score; // refined
};

struct CoarseParams {
  int factor;        // decimation factor: input samples per decimated sample
  int16_t fallback;  // result when nothing qualifies
  int nearLimit;     // below this lag a near candidate must also sit at a sub-multiple
};

int16_t coarsePitch(const int16_t* xwd, int16_t cpplast, const CoarseParams& p) {
  Score sc[kMaxLag + 2];
  const int16_t* t = xwd + kDecOut - kTarget;
  // The segment's energy from lag to lag: one square in, one out (exact in 64 bits).
  int64_t energy = plcDot(t - kMinLag, t - kMinLag, kTarget);
  int64_t corr[kMaxLag - kMinLag + 1];
  plcCorrLags(t, kTarget, kMinLag, kMaxLag - kMinLag + 1, corr);
  for (int d = kMinLag; d <= kMaxLag; ++d) {
    if (d > kMinLag) energy += int32_t{t[-d]} * t[-d] - int32_t{t[kTarget - d]} * t[kTarget - d];
    const int32_t e = plcSat32(energy);
    sc[d] = Score{plcSat32(corr[d - kMinLag]), e > 0 ? e : 1};
  }
  // A lag is a candidate when its score beats both neighbours': above(sc[d], sc[d +- 1], 32768)
  // with the common factor 32768 dropped. The correlations are 32-bit here, so each square fits
  // 64 bits (taken once per lag) and each side is one 64 x 64-bit product.
  uint64_t square[kMaxLag + 2];
  for (int d = kMinLag; d <= kMaxLag; ++d) square[d] = static_cast<uint64_t>(sc[d].c * sc[d].c);
  const auto beats = [&](int d, int other) {
    return sc[other].c <= 0 || static_cast<orvox::UInt128>(square[d]) * static_cast<uint64_t>(sc[other].E) >
                                   static_cast<orvox::UInt128>(square[other]) * static_cast<uint64_t>(sc[d].E);
  };
  Candidate cand[kMaxCandidates];
  int n = 0;
  for (int d = kMinLag + 1; d <= kMaxLag - 1 && n < kMaxCandidates; ++d) {
    if (sc[d].c > 0 && beats(d, d - 1) && beats(d, d + 1)) cand[n++] = Candidate{d, sc[d]};
  }
  if (n == 0) return p.fallback;
  if (n == 1) return static_cast<int16_t>(p.factor * cand[0].lag);

  // Refinement: a parabola through the correlations and a line through the energies, evaluated a
  // quarter and a half decimated sample towards the better neighbour; all scaled by 16 (c) and 4 (E).
  for (int i = 0; i < n; ++i) {
    const int d = cand[i].lag;
    const int64_t cm = sc[d - 1].c, c0 = sc[d].c, cp = sc[d + 1].c;
    const int dir = above(sc[d + 1], sc[d - 1], 32768) ? 1 : -1;
    const int64_t a2 = (cp + cm) - 2 * c0;  // 2a
    const int64_t b2 = cp - cm;             // 2b
    const int64_t eNext = dir > 0 ? sc[d + 1].E : sc[d - 1].E;
    Score best{16 * c0, 4 * sc[d].E};
    int bestO = 0;
    for (int q = 1; q <= 2; ++q) {
      const int o = dir * q;  // quarters of a decimated sample
      const Score s{16 * c0 + 4 * b2 * o / 2 + a2 * o * o / 2, 4 * sc[d].E + (eNext - sc[d].E) * q};
      if (s.E > 0 && above(s, best, 32768)) {
        best = s;
        bestO = o;
      }
    }
    cand[i].lag = p.factor * d + bestO * p.factor / 4;
    cand[i].score = best;
  }
  int b = 0;
  int nearIdx = -1;
  const int tol = cpplast >> 2;
  for (int i = 0; i < n; ++i) {
    if (above(cand[i].score, cand[b].score, 32768)) b = i;
    if (std::abs(cand[i].lag - cpplast) <= tol && (nearIdx < 0 || above(cand[i].score, cand[nearIdx].score, 32768))) {
      nearIdx = i;
    }
  }
  const int maxLag = cand[n - 1].lag;
  // A sub-multiple whose multiples all show up as candidates is the pitch.
  for (int i = 0; i < n && 2 * cand[i].lag < maxLag; ++i) {
    const int32_t need = i == nearIdx ? 13107 : 23921;
    if (!above(cand[i].score, cand[b].score, need)) continue;
    bool all = true;
    int k = 0;
    for (int m = 2 * cand[i].lag; m <= maxLag && all; m += cand[i].lag, ++k) {
      const int tolM = mult_r(static_cast<int16_t>(m), 2130);
      const int32_t th = k < 4 ? MPTH[k] : 9830;
      bool found = false;
      for (int j = i + 1; j < n && !found; ++j) {
        found = std::abs(cand[j].lag - m) <= tolM && above(cand[j].score, cand[b].score, th);
      }
      all = found;
    }
    if (all) return static_cast<int16_t>(cand[i].lag);
  }
  if (nearIdx >= 0 && nearIdx != b) {
    const Candidate& N = cand[nearIdx];
    const Candidate& B = cand[b];
    if (N.lag < B.lag) {
      if (above(N.score, B.score, 14090)) {
        if (N.lag >= p.nearLimit) return static_cast<int16_t>(N.lag);
        for (int16_t inv : {invk[0], invk[1], invk[2], invk[3]}) {
          const int16_t s = mult_r(static_cast<int16_t>(B.lag), inv);
          if (std::abs(N.lag - s) <= mult_r(s, 3113)) return static_cast<int16_t>(N.lag);
        }
      }
    } else if (above(N.score, B.score, 25887)) {
      return static_cast<int16_t>(N.lag);
    }
  }
  return static_cast<int16_t>(cand[b].lag);
}

}  // namespace

int16_t bvc16_coarsepitch(const int16_t* xwd, int16_t cpplast) {
  return coarsePitch(xwd, cpplast, CoarseParams{4, 20, 69});
}

int16_t plc32_coarsepitch(const int16_t* xwd, int16_t cpplast) {
  return coarsePitch(xwd, cpplast, CoarseParams{8, 40, 138});
}

// ---------------------------------------------------------------------------------------------
// Pitch refinement and merit.

namespace {

struct RefineParams {
  int len;     // history plus frame
  int maxWsz;
  int minLag;
  int maxLag;
};

int16_t refine(PlcPitch* out, const int16_t* x, int16_t cpp, const RefineParams& p) {
  const int wsz = cpp < p.maxWsz ? cpp : p.maxWsz;
  const int32_t tenth = L_mult(3277, cpp);
  int delta = (tenth >> 16) + ((tenth & 0xFFFF) != 0 ? 1 : 0);
  if (delta > 3) delta = 3;
  const int lo = std::max(cpp - delta, p.minLag);
  const int hi = std::min(cpp + delta, p.maxLag);

  int16_t buf[506];
  std::memcpy(buf, x, p.len * sizeof(int16_t));
  {
    PlcAcc64 acc{};
    const int16_t* seg = buf + p.len - wsz - lo;
    for (int i = 0; i < wsz; ++i) imac64_16(&acc, static_cast<int16_t>(seg[i] >> 3), static_cast<int16_t>(seg[i] >> 3));
    const int s = 6 - norm_l(sat64(&acc));
    out->scaled_flag = static_cast<int16_t>(s < 1 ? 0 : (s + 1) >> 1);
    if (out->scaled_flag > 0) {
      for (int i = 0; i < p.len; ++i) buf[i] = static_cast<int16_t>(buf[i] >> out->scaled_flag);
    }
  }
  const int16_t* t = buf + p.len - wsz;
  int best = lo;
  int64_t bestC = 0, bestE = 1;
  // The segment's energy from lag to lag: one square in, one out (exact in 64 bits).
  int64_t energy = plcDot(t - lo, t - lo, wsz);
  for (int L = lo; L <= hi; ++L) {
    const int16_t* seg = t - L;
    if (L > lo) energy += int32_t{seg[0]} * seg[0] - int32_t{seg[wsz]} * seg[wsz];
    const int32_t e = plcSat32(energy);
    const int32_t c = plcSat32(plcDot(t, seg, wsz));
    if (L == lo) {
      best = L;
      out->cormax = c < 0 ? -1 : c;
      out->energymax32 = e;
      bestC = out->cormax;
      bestE = e > 0 ? e : 1;
      continue;
    }
    const int64_t eq = e > 0 ? e : 1;
    if (c > 0 && (orvox::Int128)c * c * bestE > (orvox::Int128)bestC * bestC * eq * (bestC < 0 ? -1 : 1)) {
      best = L;
      out->cormax = c;
      out->energymax32 = e;
      bestC = c;
      bestE = eq;
    }
  }
  // Pitch tap: the magnitude ratio of target and segment, Q14, with the correlation's sign.
  int64_t st = 0, ss = 0;
  for (int i = 0; i < wsz; ++i) {
    st += std::abs(int{t[i]});
    ss += std::abs(int{t[i - best]});
  }
  int32_t ptfe = 0;
  if (ss != 0) {
    const int64_t q = (st << 14) / ss;
    ptfe = static_cast<int32_t>(q > 16384 ? 16384 : q);
    if (out->cormax < 0) ptfe = -ptfe;
  }
  out->ptfe = static_cast<int16_t>(ptfe);
  const int16_t ppt = mult(768, out->ptfe);
  out->ppt = ppt > 0 ? ppt : 0;
  out->wsz = static_cast<int16_t>(wsz);
  return static_cast<int16_t>(best);
}

// A normalised 16-bit quotient num / den (|num| <= den) with the sign of num.
int16_t signedQuotient(int32_t num, int32_t den) {
  if (den <= 0 || num == 0) return 0;
  const int64_t mag = num < 0 ? -int64_t{num} : num;
  int64_t q = (mag << 15) / den;
  if (q > 32767) q = 32767;
  return static_cast<int16_t>(num < 0 ? -q : q);
}

int32_t log2Q16(int32_t v) {
  int16_t e, f;
  bvxx_Log2(v, &e, &f);
  return L_Comp(e, f);
}

int16_t merit(const int16_t* xq, int len, int16_t wsz, int32_t cormax, int32_t energymax32,
              int32_t level, int16_t scaled_flag) {
  int16_t buf[426];
  std::memcpy(buf, xq, len * sizeof(int16_t));
  if (scaled_flag > 0) {
    for (int i = 0; i < len; ++i) buf[i] = static_cast<int16_t>(buf[i] >> scaled_flag);
  }
  const int16_t* w = buf + len - wsz;
  PlcAcc64 a0{}, a1{};
  for (int i = 0; i < wsz; ++i) {
    imac64_16(&a0, w[i], w[i]);
    imac64_16(&a1, w[i], i == 0 ? 0 : w[i - 1]);
  }
  const int32_t E0 = sat64(&a0);
  const int32_t E1 = sat64(&a1);
  int32_t L = 0;
  int16_t G = 0;
  int16_t rho = 0;
  if (E0 != 0) {
    int16_t e, f;
    bvxx_Log2(E0, &e, &f);
    if (scaled_flag > 0) e = static_cast<int16_t>(e + 2 * scaled_flag);
    L = L_shl(L_Comp(e, f), 9);
    if (energymax32 == 0) {
      G = 0;
    } else {
      // The energy the pitch predictor explains, cormax^2 / energymax32, and the prediction gain
      // 10 log10(E0 / (E0 - explained)) in dB x 256 (40 dB gives 10240).
      const int64_t explained = int64_t{cormax} * cormax / energymax32;
      const int64_t D = int64_t{E0} - explained;
      if (D <= 0) {
        G = 10240;
      } else {
        const int32_t diff = L_sub(log2Q16(E0), log2Q16(static_cast<int32_t>(D)));
        const int32_t hiProd = static_cast<int32_t>((int64_t{diff} * 0x60540000) >> 32);
        G = ::round(L_shl(hiProd, 11));
      }
    }
    rho = signedQuotient(E1, E0);
  }
  return ::round(L_mac(L_mac(L_shr(L_sub(L, level), 1), G, 20480), rho, 4096));
}

}  // namespace

int16_t bvcprfn(PlcPitch* out, const int16_t* x, int16_t cpp) { return refine(out, x, cpp, RefineParams{258, 80, 20, 137}); }

int16_t bvc32prfn(PlcPitch* out, const int16_t* x, int16_t cpp) {
  return refine(out, x, cpp, RefineParams{506, 160, 40, 265});
}

int16_t bvcmerit(const int16_t* xq, int16_t pp, int16_t wsz, int32_t cormax, int32_t energymax32,
                 int32_t level, int16_t scaled_flag) {
  (void)pp;
  return merit(xq, 218, wsz, cormax, energymax32, level, scaled_flag);
}

int16_t bvc32merit(const int16_t* xq, int16_t pp, int16_t wsz, int32_t cormax, int32_t energymax32,
                   int32_t level, int16_t scaled_flag) {
  (void)pp;
  return merit(xq, 426, wsz, cormax, energymax32, level, scaled_flag);
}
