// The decoder enhancer: each 80-sample block of residual is replaced by a smoothed version built
// from the waveform periods around it, which delays the output by 40 (20 ms) or 80 (30 ms) samples.
#include "ilbc_enhancer.h"

#include <array>

#include "ilbc_filters.h"
#include "ilbc_kernels.h"
#include "ilbc_tables.h"
#include "wide128.h"

namespace ilbc {
namespace {

constexpr int kBufLen = 640;
constexpr int kBlock = 80;
constexpr int kPeriods = 7;
constexpr i32 kInvSqrt2Q31 = 1518500250;

i32 csq(i32 c) { return ilbc_mpy_ll(c, c); }

// Normalises a group of values together by the shift of their largest.
template <std::size_t N>
void normalise(std::array<i32, N>& v, int n) {
  i32 m = 0;
  for (int i = 0; i < n; ++i) m = std::max(m, v[i]);
  const int sh = ilbc_norm_l(m);
  for (int i = 0; i < n; ++i) v[i] = ilbc_L_shl(v[i], sh);
}

// Downsampled lag search of step 3 for one 40-sample target; returns the best lag (10..59).
int ilbc_xCorrCoef2_Lag(const i16* target) {
  std::array<i32, 50> corr{}, energy{};
  i32 emax = 0;
  for (int j = 0; j < 50; ++j) {
    energy[j] = wrap32(ilbc_Vec_L64_sqa0(target - 10 - j, 40) >> 4);
    emax = std::max(emax, energy[j]);
  }
  int shift = ilbc_norm_l(emax);
  std::array<i16, 40> t{};
  if (shift > 3) {
    ilbc_Copy(target, t.data(), 40);
    shift = 4;
  } else {
    ilbc_Vec_shl_8(target, t.data(), -(4 - shift), 40);
  }
  for (int j = 0; j < 50; ++j) {
    std::uint32_t s = 0;
    for (int n = 0; n < 40; ++n) s += static_cast<std::uint32_t>(i32{t[n]} * target[n - 10 - j]);
    corr[j] = std::max(static_cast<i32>(s), 0) >> shift;
  }
  normalise(corr, 50);
  normalise(energy, 50);
  int best = 0;
  i32 best_sq = csq(corr[0]);
  for (int j = 1; j < 50; ++j) {
    const i32 sq = csq(corr[j]);
    if (ilbc_mpy_ll(sq, energy[best]) > ilbc_mpy_ll(best_sq, energy[j])) {
      best = j;
      best_sq = sq;
    }
  }
  return 10 + best;
}

// Step 4: after a concealed frame, the end of the concealed signal is pulled towards a
// prediction taken from the new frame. Returns the re-alignment lag.
int ilbc_realign(i16* enh_buf, const i16* in, int blockl, int inlag, int plc_blockl, i32 step_q31) {
  i16* s = enh_buf + kBufLen - blockl;  // s[0] is the new frame's first sample
  std::array<i32, 3> corr{}, energy{};
  for (int k = 0; k < 3; ++k) {
    const int lag = inlag - 1 + k;
    corr[k] = wrap32(std::max<i64>(ilbc_Vec_L64_mac0(in, in + lag, plc_blockl), 0) >> 4);
    energy[k] = wrap32(ilbc_Vec_L64_sqa0(in + lag, plc_blockl) >> 4);
  }
  normalise(corr, 3);
  normalise(energy, 3);
  int best = 0;
  for (int k = 1; k < 3; ++k)
    if (ilbc_mpy_ll(csq(corr[k]), energy[best]) > ilbc_mpy_ll(csq(corr[best]), energy[k])) best = k;
  const int lag = inlag - 1 + best;

  std::array<i16, kBlock> plc_pred_q0{};
  for (int k = 0; k < plc_blockl; ++k) plc_pred_q0[k] = s[lag - plc_blockl + k];
  i64 e1 = ilbc_Vec_L64_sqa0(plc_pred_q0.data(), plc_blockl);
  i64 e2 = ilbc_Vec_L64_sqa0(s - plc_blockl, plc_blockl);
  if (e1 > kMax32 || e2 > kMax32) {
    e1 >>= 4;
    e2 >>= 4;
  }
  const i32 E1 = wrap32(e1), E2 = wrap32(e2);
  if (E1 > ilbc_L_shl(E2, 2) && E1 > 0) {
    // scale = 2*sqrt(E2/E1) in Q31
    i16 e_inv = 0, e_sq = 0;
    const i32 isq = ilbc_Isqrt(E1, &e_inv);
    const int n2 = ilbc_norm_l(E2);
    const i32 sq = ilbc_sqrt_l_exp(ilbc_L_shl(E2, n2), &e_sq);
    i32 prod = ilbc_mpy_ll(sq, isq);
    int x = 31 - n2 - e_sq;
    if (x & 1) {
      prod = ilbc_mpy_ll(prod, kInvSqrt2Q31);
      ++x;
    }
    const i32 scale = ilbc_L_shl(prod, e_inv + x / 2 + 1);
    for (int k = 0; k < plc_blockl - 10; ++k) plc_pred_q0[k] = wrap16((i64{scale} * plc_pred_q0[k]) >> 31);
    const i32 step = sat32((i64{kMax32 - scale} * 214748365) >> 31);
    i32 factor = scale;
    for (int k = plc_blockl - 10; k < plc_blockl; ++k) {
      plc_pred_q0[k] = wrap16((i64{factor} * plc_pred_q0[k]) >> 31);
      factor = ilbc_L_add(factor, step);
    }
  }
  i32 f = 0, g = static_cast<i32>((i64{1} << 31) - step_q31);
  for (int i = 0; i < plc_blockl; ++i) {
    f = ilbc_L_add(f, step_q31);
    const i16 a = wrap16((i64{f} * s[-1 - i]) >> 31);
    const i16 b = wrap16((i64{g} * plc_pred_q0[plc_blockl - 1 - i]) >> 31);
    s[-1 - i] = sat16(i32{a} + b);
    g = ilbc_L_sub(g, step_q31);
  }
  return lag;
}

// Four-phase upsampling of the (at most 5) correlation values with the shortened filter.
void ilbc_enh_upsample(i32* out, const i32* in, int dim, const i16* poly) {
  const int h = dim / 2, flen = 2 * h + 1;
  auto tap = [&](int phase, int k) { return i64{poly[7 * phase + 3 - h + k]}; };
  auto put = [&](int pos, int phase, i64 acc) { out[4 * pos + phase] = sat32(acc >> 15); };
  int pos = 0;
  for (int i = h; i < flen; ++i, ++pos)
    for (int ph = 0; ph < 4; ++ph) {
      i64 acc = 0;
      for (int k = 0; k <= i; ++k) acc += in[i - k] * tap(ph, k);
      put(pos, ph, acc);
    }
  for (int i = flen; i < dim; ++i, ++pos)
    for (int ph = 0; ph < 4; ++ph) {
      i64 acc = 0;
      for (int k = 0; k < flen; ++k) acc += in[i - k] * tap(ph, k);
      put(pos, ph, acc);
    }
  pos = dim - h;  // with an even count the right edge overwrites the last left-edge position
  for (int q = 1; q <= h; ++q, ++pos)
    for (int ph = 0; ph < 4; ++ph) {
      i64 acc = 0;
      for (int k = 0; k < flen - q; ++k) acc += in[dim - 1 - k] * tap(ph, q + k);
      put(pos, ph, acc);
    }
}

void ilbc_refiner(i16* seg, i16* updStartPos_q2, const i16* idata, int idatal, int centerStartPos, int estSegPos_q2,
             const i16* poly) {
  const int rounded = (estSegPos_q2 - 2) >> 2;
  const int start = std::max(0, rounded - 2);
  int end = rounded + 2;
  if (end + kBlock >= idatal) end = idatal - 81;
  const int corrdim = std::max(1, end - start + 1);
  std::array<i32, 5> LcorrVec{};
  for (int k = 0; k < corrdim; ++k)
    LcorrVec[k] = sat32(ilbc_Vec_L64_mac0(idata + start + k, idata + centerStartPos, kBlock) >> 5);
  for (int k = corrdim; k < 5; ++k) LcorrVec[k] = LcorrVec[corrdim - 1];
  std::array<i32, 20> LcorrVecUps{};
  ilbc_enh_upsample(LcorrVecUps.data(), LcorrVec.data(), corrdim, poly);
  int tloc = 0;
  for (int i = 1; i < 4 * corrdim; ++i)
    if (LcorrVecUps[i] > LcorrVecUps[tloc]) tloc = i;
  *updStartPos_q2 = static_cast<i16>(4 * start + tloc + 4);
  const int tloc2 = (tloc + 3) / 4;
  const int st = start + tloc2 - 3;
  std::array<i16, 86> vect_q0{};
  for (int i = 0; i < 86; ++i) {
    const int p = st + i;
    vect_q0[i] = (p >= 0 && p < idatal) ? idata[p] : 0;
  }
  const i16* row = poly + 7 * (4 * tloc2 - tloc);
  for (int i = 0; i < kBlock; ++i) {
    i32 acc = 0;
    for (int j = 0; j < 7; ++j) acc = sat32(i64{acc} + ilbc_L_mult(vect_q0[i + j], row[j]));
    seg[i] = sat16((i64{acc} + 32768) >> 16);
  }
}

void ilbc_getsseq(i16* sseq, const i16* idata, int idatal, int centerStartPos, const i16* period, const i16* plocs,
             int periodl, const i16* poly) {
  std::array<i16, kPeriods> blockStartPos_q2{};
  std::array<int, kPeriods> lagBlock{};
  lagBlock[3] = ilbc_NearestNeighbor(plocs, 4 * centerStartPos + 158, periodl);
  blockStartPos_q2[3] = static_cast<i16>(4 * centerStartPos);
  ilbc_Copy(idata + centerStartPos, sseq + 3 * kBlock, kBlock);
  for (int q = 2; q >= 0; --q) {
    const int back = 4 * period[lagBlock[q + 1]];
    blockStartPos_q2[q] = static_cast<i16>(blockStartPos_q2[q + 1] - back);
    lagBlock[q] = ilbc_NearestNeighbor(plocs, blockStartPos_q2[q] - back + 160, periodl);
    if (blockStartPos_q2[q] >= 8)
      ilbc_refiner(sseq + q * kBlock, &blockStartPos_q2[q], idata, idatal, centerStartPos, blockStartPos_q2[q], poly);
    else
      ilbc_Set_zero(sseq + q * kBlock, kBlock);
  }
  std::array<i16, 8> plocs2{};
  for (int i = 0; i < periodl; ++i) plocs2[i] = static_cast<i16>(plocs[i] - period[i]);
  for (int q = 4; q < kPeriods; ++q) {
    lagBlock[q] = ilbc_NearestNeighbor(plocs2.data(), blockStartPos_q2[q - 1] + 160, periodl);
    blockStartPos_q2[q] = static_cast<i16>(blockStartPos_q2[q - 1] + 4 * period[lagBlock[q]]);
    if (blockStartPos_q2[q] + 328 < 4 * idatal)
      ilbc_refiner(sseq + q * kBlock, &blockStartPos_q2[q], idata, idatal, centerStartPos, blockStartPos_q2[q], poly);
    else
      ilbc_Set_zero(sseq + q * kBlock, kBlock);
  }
}

// Inner products of the current period and its surround, normalised together; returns the shift.
int ilbc_CalcW_00_11_10(const i16* c, const i16* surround, i32* w00, i32* w11, i32* w10) {
  i64 a = ilbc_Vec_L64_sqa0(c, kBlock), b = ilbc_Vec_L64_sqa0(surround, kBlock);
  i64 x = ilbc_Vec_L64_mac0(surround, c, kBlock);
  if (b == 0) b = 1;
  while (std::max({a, b, x < 0 ? -x : x}) > kMax32) {
    a >>= 1;
    b >>= 1;
    x >>= 1;
  }
  const int shift = ilbc_norm_l(static_cast<i32>(std::max(a, b)));
  *w00 = ilbc_L_shl(static_cast<i32>(a), shift);
  *w11 = ilbc_L_shl(static_cast<i32>(b), shift);
  *w10 = ilbc_L_shl(static_cast<i32>(x), shift);
  return shift;
}

// x * m * 2^e / 2^31 rounded to 16 bits with saturation (m a Q31 mantissa).
i16 scale_round(i16 x, i32 m, int e) {
  const orvox::Int128 t = static_cast<orvox::Int128>(m) * x;
  const int sh = 31 - e;
  orvox::Int128 v;
  if (sh > 0)
    v = (t + (static_cast<orvox::Int128>(1) << (sh - 1))) >> sh;
  else
    v = t << std::min(-sh, 40);
  return v > 32767 ? 32767 : v < -32768 ? -32768 : static_cast<i16>(v);
}

// m * x in Q16, shifted by e with saturation.
i32 q16_term(i32 m, i16 x, int e) { return ilbc_L_shl(sat32((i64{m} * x) >> 15), e); }

void ilbc_smath(i16* odata, const i16* sseq) {
  const i16* c = sseq + 3 * kBlock;
  std::array<i16, kBlock> surround_q0{};
  for (int i = 0; i < kBlock; ++i) {
    i32 acc = 0;
    for (int k = 0; k < kPeriods; ++k)
      if (k != 3) acc = sat32(i64{acc} + ilbc_L_mult(ilbc_smath_tab_q15[k], sseq[k * kBlock + i]));
    surround_q0[i] = sat16((i64{acc} + 32768) >> 16);
  }
  i32 w00 = 0, w11 = 0, w10 = 0;
  const int shift = ilbc_CalcW_00_11_10(c, surround_q0.data(), &w00, &w11, &w10);

  // C = sqrt(w00 / w11) as mantissa and exponent.
  int rs = 0;
  i32 w00s = w00;
  while (w00s > w11) {
    w00s >>= 1;
    ++rs;
  }
  const int n0 = ilbc_norm_l(w00s);
  i16 e0 = 0, e1 = 0;
  const i32 sq = ilbc_sqrt_l_exp(ilbc_L_shl(w00s, n0), &e0);
  const i32 isq = ilbc_Isqrt(w11, &e1);
  i32 cm = ilbc_mpy_ll(sq, isq);
  int x = 31 - n0 - e0 + rs;
  if (x & 1) {
    cm = ilbc_mpy_ll(cm, kInvSqrt2Q31);
    ++x;
  }
  const int ec = e1 + x / 2;
  for (int i = 0; i < kBlock; ++i) odata[i] = scale_round(surround_q0[i], cm, ec);

  std::array<i32, 4> part{};
  for (int i = 0; i < kBlock; ++i) {
    const i16 d = sat16(i32{c[i]} - odata[i]);
    part[i & 3] = sat32(i64{part[i & 3]} + ilbc_L_mult(d, d));
  }
  const i32 errs = (ilbc_L_add(part[0], part[1]) >> 1) + (ilbc_L_add(part[2], part[3]) >> 1);
  w00 = ilbc_L_shl(w00s, rs);
  if (ilbc_L_sub(errs, ilbc_L_shr(ilbc_mpy_ll(w00, 107374182), shift)) <= 0) return;

  w00 = std::max(w00, 1);
  i32 top = ilbc_mpy_ll(w00, w00);
  const i32 bottom = ilbc_L_abs(ilbc_L_sub(ilbc_mpy_ll(w11, w00), ilbc_mpy_ll(w10, w10)));
  i32 recip = kMax32;
  int re = 0;
  if (bottom != 0) {
    while (top >= bottom) {
      top >>= 1;
      ++re;
    }
    recip = ilbc_L_divide(top, bottom);
  }
  i32 am = 0, bm = 0x40000000;
  int ea = 0, eb = 1;
  if (recip < ilbc_L_shr(1000, re - 31)) {
    i16 er = 0;
    const i32 r = ilbc_sqrt_l_exp(recip, &er);
    am = ilbc_mpy_ll(477181304, r);
    int y = re - er;
    if (y & 1) {
      am = ilbc_mpy_ll(am, kInvSqrt2Q31);
      ++y;
    }
    ea = y / 2;
    i32 aw = ilbc_L_abs(w10);
    int rq = 0;
    while (aw >= w00) {
      aw >>= 1;
      ++rq;
    }
    i32 qm = ilbc_L_divide(aw, w00);
    if (w10 < 0) qm = ilbc_L_negate(qm);
    i32 aq = ilbc_mpy_ll(am, qm);
    eb = ea + rq;
    if (eb < 0) {
      aq = ilbc_L_shr(aq, -eb);
      eb = 0;
    }
    bm = ilbc_L_sub(ilbc_L_shr(kMax32, eb), ilbc_L_add(aq, ilbc_L_shr(53687091, eb)));
  }
  for (int i = 0; i < kBlock; ++i) {
    const i32 sum = ilbc_L_add(q16_term(am, surround_q0[i], ea), q16_term(bm, c[i], eb));
    odata[i] = static_cast<i16>(sum >> 16);
  }
}

}  // namespace

int ilbc_NearestNeighbor(const i16* array, i32 value_q2, int arlength) {
  int index = 0;
  i64 best = 0;
  for (int i = 0; i < arlength; ++i) {
    const i64 d = 4 * i64{array[i]} - value_q2;
    if (i == 0 || d * d < best) {
      best = d * d;
      index = i;
    }
  }
  return index;
}

void ilbc_enhancer(i16* odata, const i16* idata, int idatal, int centerStartPos, const i16* period, const i16* plocs,
                   int periodl, const i16* poly) {
  std::array<i16, kPeriods * kBlock> sseq_q0{};
  ilbc_getsseq(sseq_q0.data(), idata, idatal, centerStartPos, period, plocs, periodl, poly);
  ilbc_smath(odata, sseq_q0.data());
}

i16 ilbc_enhancerInterface(i16* out, const i16* in, iLBC_Dec_Inst_t* inst, const i16* poly) {
  const int blockl = inst->blockl;
  i16* buf = inst->enh_buf;
  ilbc_Copy(buf + blockl, buf, kBufLen - blockl);
  ilbc_Copy(in, buf + kBufLen - blockl, blockl);
  const bool m30 = frame_ms(inst) == 30;
  const int ioffset = m30 ? 0 : 1, plc_blockl = m30 ? 80 : 40;
  const i32 step = m30 ? 26512144 : 52377650;
  i16* per = inst->enh_period;
  ilbc_Copy(per + 3 - ioffset, per, 5 + ioffset);

  const int ds_start = (5 + ioffset) * kBlock - 120;
  std::array<i16, 6> lpState_q0{};
  ilbc_Copy(buf + ds_start - 6, lpState_q0.data(), 6);
  std::array<i16, 184> downsampled_q0{};
  ilbc_DownSample(buf + ds_start, 360 - kBlock * ioffset, lpState_q0.data(), downsampled_q0.data(),
                  ilbc_lpFilt_coefsTbl_rev_q15.data());
  int lag = 10;
  for (int ib = 0; ib <= 2 - ioffset; ++ib) {
    lag = ilbc_xCorrCoef2_Lag(downsampled_q0.data() + 60 + 40 * ib);
    per[5 + ioffset + ib] = static_cast<i16>(2 * lag);
  }
  int ret = 2 * lag;
  if (inst->prev_enh_pl == 1) {
    const int rlag = ilbc_realign(buf, in, blockl, per[5 + ioffset], plc_blockl, step);
    per[4 + ioffset] = static_cast<i16>(rlag);
    ret = 2 * rlag;
  }
  const int first = m30 ? 320 : 440;
  for (int b = 0; b < blockl / kBlock; ++b)
    ilbc_enhancer(out + kBlock * b, buf, kBufLen, first + kBlock * b, per, ilbc_enh_plocsTbl.data(), 8, poly);
  return static_cast<i16>(ret);
}

}  // namespace ilbc
