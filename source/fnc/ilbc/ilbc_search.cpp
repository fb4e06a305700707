// Adaptive-codebook search of the iLBC encoder. Candidates are ranked without division: a
// candidate wins when its squared correlation times the best energy exceeds the best squared
// correlation times its energy.
#include "ilbc_search.h"

#include <array>

#include "ilbc_cb.h"
#include "ilbc_filters.h"
#include "ilbc_kernels.h"
#include "ilbc_tables.h"
#include "wide128.h"

namespace ilbc {
namespace {

constexpr int kSlots = 260;
constexpr i32 kGainMaxQ30 = 1395864371;   // 1.3
constexpr i16 kInvGainMaxQ15 = 25206;     // 1/1.3

struct BestCandidate {
  int best_index = 0;
  i32 best_crossDotSqrd_q0 = -10000000;
  int best_crossDotSqrd_shift = 0;
  i32 best_crossDot = 0;
  i32 best_energy = 1;
};

// One search: the weighted memory and target and the per-candidate energies and correlations.
struct Search {
  std::array<i16, 10 + kCbMemMax + 40> buf_q0{};
  const i16* W = nullptr;  // weighted memory followed by the weighted target
  std::array<i16, 42> target_q0{};
  std::array<i16, 148> cbvectors_q0{};
  std::array<i32, kSlots> energy_q0{};
  std::array<i32, kSlots> DotProd_q0{};
  int lMem = 0, lTarget = 0, base_size = 0, target_shift = 0;
  i32 tene_q0 = 0;
};

i32 sat_abs(i32 v) { return ilbc_L_abs(v); }

// Correlation of the (pre-shifted) target with a vector: four lane sums of 10 products each,
// wrapping, each shifted right before they are added.
i32 ilbc_CalcDotProd(const i16* t, const i16* y, int shift) {
  i32 total = 0;
  for (int j = 0; j < 4; ++j) {
    std::uint32_t lane = 0;
    for (int m = 0; m < 10; ++m) lane += static_cast<std::uint32_t>(i32{t[4 * m + j]} * y[4 * m + j]);
    total = wrap32(i64{total} + (static_cast<i32>(lane) >> shift));
  }
  return total;
}

// Comparison pass over candidates [from, to) of the slot arrays.
void ilbc_CalcBetterLoop(const Search& s, BestCandidate& best, int from, int to, int stage, bool first) {
  if (to <= from) return;
  i32 m = 0;
  for (int i = from; i < to; ++i) m = std::max(m, sat_abs(s.DotProd_q0[i]));
  if (!first) m = std::max(m, sat_abs(best.best_crossDot));
  const int k = ilbc_norm_l(m);
  if (first) {
    best.best_crossDotSqrd_shift = 2 * k;
  } else if (2 * k != best.best_crossDotSqrd_shift) {
    const int d = 2 * k - best.best_crossDotSqrd_shift;
    best.best_crossDotSqrd_q0 = d <= 0 ? best.best_crossDotSqrd_q0 >> std::min(-d, 31) : ilbc_L_shl(best.best_crossDotSqrd_q0, d);
    best.best_crossDotSqrd_shift = 2 * k;
  }
  for (int i = from; i < to; ++i) {
    const i32 d = s.DotProd_q0[i];
    const i32 e = s.energy_q0[i];
    const i32 t = static_cast<i32>((2 * i64{sat_abs(d)} * kInvGainMaxQ15 * 65536) >> 32);
    const i64 dk = i64{ilbc_L_shl(d, k)};
    const i32 q = sat32(static_cast<i64>((static_cast<orvox::Int128>(dk) * dk * 2) >> 32));
    if (!(e > t)) continue;
    if (stage == 0 && d < 0) continue;
    if (i64{q} * best.best_energy > i64{best.best_crossDotSqrd_q0} * e) {
      best.best_index = i;
      best.best_crossDotSqrd_q0 = q;
      best.best_energy = e;
    }
  }
  best.best_crossDot = s.DotProd_q0[best.best_index];
}

// Augmented vectors of lags low..39 read back from `buffer` (just past a memory).
void ilbc_searchAugmentedCB(Search& s, BestCandidate& best, int low, int stage, int startIndex, const i16* buffer) {
  const i16* t = s.target_q0.data();
  for (int L = low; L <= 39; ++L) {
    i64 e_first = 0, e_rest = 0, c_rest = 0;
    i32 e_interp = 0, c_first = 0, c_interp = 0;
    for (int j = 0; j < L - 4; ++j) {
      e_first += i32{buffer[j - L]} * buffer[j - L];
      c_first = wrap32(i64{c_first} + ((i32{t[j]} * buffer[j - L]) >> 4));
    }
    for (int m = 0; m < 4; ++m) {
      const i16 a = ilbc_ceAlphaTbl_q15[2 * m], b = ilbc_ceAlphaTbl_q15[2 * m + 1];
      const i16 w = static_cast<i16>(sat32(2 * i64{a} * buffer[m - 4] + 2 * i64{b} * buffer[m - 4 - L]) >> 16);
      e_interp = wrap32(i64{e_interp} + i32{w} * w);
      c_interp = wrap32(i64{c_interp} + i32{t[L - 4 + m]} * w);
    }
    for (int j = L; j < 40; ++j) {
      e_rest += i32{buffer[j - 2 * L]} * buffer[j - 2 * L];
      c_rest += i32{t[j]} * buffer[j - 2 * L];
    }
    const int slot = startIndex + L - 20;
    s.energy_q0[slot] = wrap32((e_first + e_interp + e_rest) >> 4);
    s.DotProd_q0[slot] = wrap32((16 * i64{c_first} + c_interp + c_rest) >> 4);
  }
  ilbc_CalcBetterLoop(s, best, startIndex + low - 20, startIndex + 20, stage, false);
}

// The weighted-domain vector of codebook index i (aug receives augmented vectors).
const i16* chosen_vector(const Search& s, int i, i16* aug, bool extra_block) {
  const i16* W = s.W;
  const i16* y = s.cbvectors_q0.data();
  const int lMem = s.lMem, lTarget = s.lTarget, bs = s.base_size;
  if (extra_block) return i < bs ? W + lMem - lTarget - i : y + lMem - lTarget - (i - bs);
  if (i < bs - 20) return W + lMem - lTarget - i;
  if (i < bs) {
    ilbc_createAugmentedVec_q0(i - bs + 40, W + lMem, aug);
    return aug;
  }
  const int p = i - bs;
  if (p < bs - 20) return y + lMem - lTarget - p;
  ilbc_createAugmentedVec_q0(p - bs + 40, y + lMem, aug);
  return aug;
}

void ilbc_SubBestCodVec(i16* cvec, i16* target, const i16* vec, i32 gain, int len) {
  const int k = ilbc_norm_l(gain);
  const i16 g = static_cast<i16>(ilbc_L_add(ilbc_L_shl(gain, k), 32768) >> 16);
  for (int n = 0; n < len; ++n) {
    const i16 v = wrap16(ilbc_L_mult(vec[n], g) >> std::min(k + 15, 31));  // a zero gain has k = 31
    cvec[n] = sat16(i32{cvec[n]} + v);
    target[n] = sat16(i32{target[n]} - v);
  }
}

void ilbc_AdjustGain(const Search& s, const i16* cvec, i16* gain_index, i32 g0) {
  const i32 cene_q0 = wrap32(ilbc_Vec_L64_sqa0(cvec, s.lTarget) >> 4);
  const i32 p = mpy_q30(s.tene_q0, mpy_q30(g0, g0));
  for (int i = gain_index[0] + 1; i < 32; ++i) {
    const i32 c = ilbc_gain_sq5Tbl_q30[i];
    const i32 u = sat32(2 * ((i64{c} * cene_q0) >> 31));
    const i32 f = sat32(2 * ((i64{u} * c) >> 31));
    if (f >= p || g0 <= (c >> 1)) break;
    gain_index[0] = static_cast<i16>(i);
  }
}

}  // namespace

i32 ilbc_gainquant(i32 crossDot, i32 energy, int stage, i32 maxIn_q30, int cblen, i16* index) {
  const i32 scale = std::max<i32>(maxIn_q30, 107374182);
  const i32* table = gain_table(cblen);
  const i32 scale2 = mpy_q30(scale, energy);
  if (stage == 0) crossDot = std::min(std::max(crossDot, 0), mpy_q30(kGainMaxQ30, energy));
  int level = 0;
  i32 best = kMax32;
  for (int i = 0; i < cblen; ++i) {
    const i32 measure = ilbc_L_abs(ilbc_L_sub(crossDot, mpy_q30(scale2, table[i])));
    if (measure < best) {
      best = measure;
      level = i;
    }
  }
  *index = static_cast<i16>(level);
  return mpy_q30(scale, table[level]);
}

void ilbc_iCBSearch(const iLBC_Enc_Inst_t* inst, i16* index, i16* gain_index, const i16* intarget, const i16* mem,
                    int lMem, int lTarget, int nStages, const i16* weightDenum, const i16* weightState, int block) {
  Search s;
  s.lMem = lMem;
  s.lTarget = lTarget;
  s.base_size = lMem - lTarget + 1 + (lTarget == 40 ? 20 : 0);
  const int bs = s.base_size;
  const bool extra_block = lTarget == 80 - inst->state_short_len;

  // A. Weighted memory and target, target energy, filtered memory.
  ilbc_Copy(weightState, s.buf_q0.data(), 10);
  ilbc_Copy(mem, s.buf_q0.data() + 10, lMem);
  ilbc_Copy(intarget, s.buf_q0.data() + 10 + lMem, lTarget);
  i16* W = s.buf_q0.data() + 10;
  ilbc_Syn_filt(weightDenum, W, W, lMem + lTarget);
  s.W = W;
  ilbc_Copy(W + lMem, s.target_q0.data(), lTarget);
  const i64 tsum = ilbc_Vec_L64_sqa0(s.target_q0.data(), lTarget);
  s.tene_q0 = wrap32(tsum >> 4);
  s.target_shift = (tsum >> 4) < 134217728 ? 0 : 2;
  std::array<i16, kCbMemMax + 8> scratch{};
  ilbc_filteredCBvecs(s.cbvectors_q0.data(), W, lMem, scratch.data(), ilbc_cbfiltersTbl_rev_q15.data());
  const i16* y = s.cbvectors_q0.data();

  std::array<i16, 40> cvec_q0{}, aug_vec_q0{};
  std::array<i32, 3> gains_q30{};
  for (int st = 0; st < nStages; ++st) {
    const int range = ilbc_search_rangeTbl[3 * block + st];
    BestCandidate best;
    best.best_crossDot = 0;
    std::array<i16, 40> ts{};
    ilbc_Vec_shl_8(s.target_q0.data(), ts.data(), -s.target_shift, 40);
    const int dshift = 4 - s.target_shift;

    // B2. Plain base section.
    s.DotProd_q0[0] = wrap32(ilbc_Vec_L64_mac0(s.target_q0.data(), W + lMem - lTarget, lTarget) >> 4);
    if (st == 0) {
      s.energy_q0[0] = wrap32(ilbc_Vec_L64_sqa0(W + lMem - lTarget, lTarget) >> 4);
      for (int i = 1; i < range; ++i) {
        const i32 ppi = W[lMem - lTarget - i], ppo = W[lMem - i];
        s.energy_q0[i] = wrap32(i64{s.energy_q0[i - 1]} + ((ppi * ppi - ppo * ppo) >> 4));
      }
    }
    for (int i = 1; i < range; ++i) s.DotProd_q0[i] = ilbc_CalcDotProd(ts.data(), W + lMem - lTarget - i, dshift);
    ilbc_CalcBetterLoop(s, best, 0, range, st, true);
    if (lTarget == 40) ilbc_searchAugmentedCB(s, best, 20, st, bs - 20, W + lMem);

    // B5. Restricted range of the filtered section around the best so far.
    const int b = best.best_index;
    // The augmented part of the filtered section, when searched, always runs up to lag 39.
    int sInd = b - 17, eInd = sInd + 34, sIndAug = 0;
    if (lTarget == 40) {
      if (sInd < 0) {
        sIndAug = 40 + sInd;
        sInd = 0;
      } else if (b < bs - 20) {
        if (eInd > range) {
          sInd = range - 34;
          eInd = range;
        }
      } else if (sInd < bs - 20) {
        sIndAug = 20;
        sInd = 0;
        eInd = 14;
      } else {
        sIndAug = sInd - bs + 40;
        sInd = 0;
        eInd = sIndAug - 6;
      }
    } else {
      if (sInd < 0) {
        sInd = 0;
        eInd = 34;
      }
      if (eInd > range) {
        sInd -= eInd - range;
        eInd = range;
      }
    }

    // B6. Energies of the filtered section, once per search.
    if (st == 0) {
      i32 e = 0;
      for (int n = 0; n < lTarget; ++n) {
        const i32 v = y[lMem - lTarget + n];
        e = wrap32(i64{e} + ((v * v) >> 4));
      }
      s.energy_q0[bs] = e;
      for (int c = 1; c < range; ++c) {
        const i32 ppi = y[lMem - lTarget - c], ppo = y[lMem - c];
        s.energy_q0[bs + c] = wrap32(i64{s.energy_q0[bs + c - 1]} + ((ppi * ppi - ppo * ppo) >> 4));
      }
    }

    // B7. Correlations of the filtered section: direct near the ends, derived from the plain
    // section's correlations through the codebook filter elsewhere.
    const int counter_end2 = eInd < range - 2 ? eInd : range - 3;
    for (int c = sInd; c < eInd; ++c) {
      if (c >= 4 && c < counter_end2) {
        orvox::Int128 even = 0, odd = 0;
        for (int m = 0; m < 8; m += 2) {
          even += static_cast<orvox::Int128>(2) * s.DotProd_q0[c - 4 + m] * (i64{ilbc_cbfiltersTbl_q15[m]} * 65536);
          odd += static_cast<orvox::Int128>(2) * s.DotProd_q0[c - 3 + m] * (i64{ilbc_cbfiltersTbl_q15[m + 1]} * 65536);
        }
        auto sat64 = [](orvox::Int128 v) {
          const orvox::Int128 lo = std::numeric_limits<i64>::min(), hi64 = std::numeric_limits<i64>::max();
          return static_cast<i64>(v < lo ? lo : v > hi64 ? hi64 : v);
        };
        s.DotProd_q0[bs + c] = sat32((sat64(even) >> 32) + (sat64(odd) >> 32));
      } else {
        const i16* v = y + lMem - c - lTarget;
        s.DotProd_q0[bs + c] = ilbc_CalcDotProd(ts.data(), v, dshift);
      }
    }
    ilbc_CalcBetterLoop(s, best, bs + sInd, bs + eInd, st, false);
    if (lTarget == 40 && sIndAug != 0) ilbc_searchAugmentedCB(s, best, sIndAug, st, 2 * bs - 20, y + lMem);

    // B10-B13. Index, gain and subtraction of the chosen contribution.
    index[st] = static_cast<i16>(best.best_index);
    const i32 maxIn = st == 0 ? 1073741824 : ilbc_L_abs(gains_q30[st - 1]);
    const int cblen = st == 0 ? 32 : st == 1 ? 16 : 8;
    gains_q30[st] = ilbc_gainquant(best.best_crossDot, best.best_energy, st, maxIn, cblen, &gain_index[st]);
    const i16* vec = chosen_vector(s, best.best_index, aug_vec_q0.data(), extra_block);
    ilbc_SubBestCodVec(cvec_q0.data(), s.target_q0.data(), vec, gains_q30[st], lTarget);
  }
  ilbc_AdjustGain(s, cvec_q0.data(), gain_index, gains_q30[0]);
}

}  // namespace ilbc
