// Symbol timing acquisition and tracking.
#include "vc_timing.h"

#include "vc_dot_avx2.h"
#include "vc_interp_avx2.h"
#include "vc_txpos.h"

namespace {

int16_t sat16(int64_t v) {
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<int16_t>(v);
}

constexpr int16_t vccatancoeff[6] = {2596, 0, -9464, 0, 32617, 0};

}  // namespace

const int16_t vctiming_acq[4][6] = {
    {-21487, -15735, 31410, 23864, -6676, -27253},
    {-24599, -15735, 30175, 20641, -10983, -27253},
    {-27810, -15735, 27810, 16056, -16056, -27253},
    {-20021, -15735, 31753, 25106, -4786, -27253},
};
const int16_t vctiming[4][6] = {
    {-21816, -16220, 31891, 24229, -6779, -28094},
    {-24975, -16220, 30637, 20957, -11151, -28094},
    {-28235, -16220, 28235, 16302, -16302, -28094},
    {-20328, -16220, 32239, 25490, -4859, -28094},
};
const int16_t vcnumJamSym[6] = {25, 26, 27, 29, 31, 33};
// Row of the band-edge coefficient tables by symbol rate (0..5), low carrier then high carrier.
const int16_t vcgSymbolCarrierLUT32[12] = {1, 0, 0, 0, 3, 3, 2, 1, 1, 1, 0, 3};

void vcfInitTiming(VCTIMINGFSM timingFSM, VCESYMBOLRATE symbolRate, VCECARRIER carrier,
                   VCETRNSTAGE trnStage, VCZTIMADJ* t) {
  const int16_t kept = t->trkParm.timingDiff;
  *t = VCZTIMADJ{};
  if (symbolRate < S_2400 || symbolRate > S_3429) symbolRate = S_2400;
  VCZTIMACQPAR& a = t->acqParm;
  VCZTRKTIMPAR& k = t->trkParm;
  a.sampRemaining = 3;
  a.timeAcqState = ACQ_WAITCALCTHRESH;
  if (trnStage == SECOND_TRN) {
    k.interpSampAdj = kept;
    k.timingDiff = kept;
  }
  a.numJamSymToUse = vcnumJamSym[symbolRate];
  const int row = vcgSymbolCarrierLUT32[symbolRate + 6 * (carrier == HIGHCARRIER ? 1 : 0)];
  a.acqCalcTimParm.coeffp = vctiming_acq[row];
  a.acqCalcTimParm.scale = 9;
  a.acqCalcTimParm.skipFactor = 0;
  a.magic = 10224;
  a.interpIncPerSym = 1536;
  k.trkCalcTimParm.coeffp = vctiming[row];
  k.trkCalcTimParm.scale = 7;
  k.trkCalcTimParm.skipFactor = 2;
  k.timingAdjLmt = 1;
  k.interpSampInc = 0x1000000;
  k.trnStage = trnStage;
  k.timingFSM = timingFSM;
}

namespace {

// The two resonators' last outputs, held in registers by the tracker over a block.
struct BandEdgeState {
  int16_t nh0, nh1, nl0, nl1;
};

BandEdgeState stateOf(const VCZCALCTIMPAR& p) { return {p.nh0, p.nh1, p.nl0, p.nl1}; }
void storeState(VCZCALCTIMPAR* p, BandEdgeState s) {
  p->nh0 = s.nh0;
  p->nh1 = s.nh1;
  p->nl0 = s.nl0;
  p->nl1 = s.nl1;
}

// The resonators over the samples, every output saturated to 16 bits.
__attribute__((always_inline)) inline void resonateSaturating(const int16_t* x, int count, const int16_t* c, int scale,
                                                              BandEdgeState& s) {
  for (int i = 0; i < count; ++i) {
    const int64_t xs = static_cast<int64_t>(x[i]) << scale;
    const int16_t nh = sat16((xs + int64_t{c[0]} * s.nh0 + int64_t{c[1]} * s.nh1 + 8192) >> 14);
    const int16_t nl = sat16((xs + int64_t{c[2]} * s.nl0 + int64_t{c[1]} * s.nl1 + 8192) >> 14);
    s.nh1 = s.nh0;
    s.nh0 = nh;
    s.nl1 = s.nl0;
    s.nl0 = nl;
  }
}

// The same resonators without the saturation, which sits on the critical path of their serial
// chain, a sample at a time: `outside` collects whether any output left 16 bits (only then would
// the saturating form give other bits).
// The weights are held too: read through their pointer, each sample's store would make them be
// read again.
struct BandEdgeRun {
  int64_t h0, h1, l0, l1;
  int64_t c0, c1, c2;
  uint64_t outside = 0;
  BandEdgeRun(BandEdgeState s, const int16_t* c)
      : h0(s.nh0), h1(s.nh1), l0(s.nl0), l1(s.nl1), c0(c[0]), c1(c[1]), c2(c[2]) {}
  __attribute__((always_inline)) void step(int64_t xs) {
    // the terms of the older output and the input first: only the newest output's product is
    // left on the chain from one sample to the next
    const int64_t nh = ((xs + c1 * h1 + 8192) + c0 * h0) >> 14;
    const int64_t nl = ((xs + c1 * l1 + 8192) + c2 * l0) >> 14;
    outside |= static_cast<uint64_t>(nh + 32768) | static_cast<uint64_t>(nl + 32768);
    h1 = h0;
    h0 = nh;
    l1 = l0;
    l0 = nl;
  }
  bool inRange() const { return outside < 65536; }
  BandEdgeState state() const {
    return {static_cast<int16_t>(h0), static_cast<int16_t>(h1), static_cast<int16_t>(l0), static_cast<int16_t>(l1)};
  }
};

// The cross product of the resonators' last two outputs.
__attribute__((always_inline)) inline int16_t crossProduct(const int16_t* c, BandEdgeState& s) {
  const int64_t r = (int64_t{s.nh0} * ((int32_t{s.nl1} * c[4]) >> 16) +
                     int64_t{s.nh1} * ((int32_t{s.nl0} * c[3]) >> 16) +
                     int64_t{s.nh1} * ((int32_t{s.nl1} * c[5]) >> 16) + 512) >> 10;
  if (r > 32767 || r < -32768) {
    // An overflowing product means the resonators ran away: start them again.
    s = BandEdgeState{};
    return sat16(r);
  }
  return static_cast<int16_t>(r);
}

}  // namespace

int16_t vcfCalcTimingAdjPlain(const int16_t* x, VCZCALCTIMPAR* p) {
  BandEdgeState s = stateOf(*p);
  resonateSaturating(x, p->skipFactor + 1, p->coeffp, p->scale, s);
  const int16_t e = crossProduct(p->coeffp, s);
  storeState(p, s);
  return e;
}

int16_t vcfCalcTimingAdj(const int16_t* x, VCZCALCTIMPAR* p) {
  BandEdgeState s = stateOf(*p);
  BandEdgeRun run(s, p->coeffp);
  for (int i = 0; i <= p->skipFactor; ++i) run.step(static_cast<int64_t>(x[i]) << p->scale);
  if (run.inRange())
    s = run.state();
  else
    resonateSaturating(x, p->skipFactor + 1, p->coeffp, p->scale, s);
  const int16_t e = crossProduct(p->coeffp, s);
  storeState(p, s);
  return e;
}

int16_t vcfCalcTimingPhase(int16_t s1, int16_t s2) {
  if (s1 == 0) return 0;
  const int32_t x = s2 * 16384 + s1 * 8192;
  const int32_t y = s1 * 14189;
  const uint32_t ax = fxabsl(x), ay = fxabsl(y);
  const uint32_t mx = ax > ay ? ax : ay, mn = ax > ay ? ay : ax;
  const int32_t r = vcfdiv_L(static_cast<int32_t>(mn >> 1), static_cast<int32_t>(mx >> 1));
  int32_t acc = vccatancoeff[0];
  for (int i = 1; i < 6; ++i) acc = ((acc * r) >> 15) + vccatancoeff[i];
  int32_t angle = acc >> 1;  // Q14 radians
  if (ax <= ay) angle = 25736 - angle;
  if (x < 0) angle = 51472 - angle;
  if (y < 0) angle = -angle;
  return static_cast<int16_t>((angle * 10430) >> 15);
}

int32_t acquireTiming(const int16_t* x, int32_t n, VCZTIMADJ* t) {
  VCZTIMACQPAR& a = t->acqParm;
  int32_t i = 0;
  while (i < n && a.timeAcqState != ACQ_DONE) {
    const int16_t v = vcfCalcTimingAdj(&x[i++], &a.acqCalcTimParm);
    if (a.sampRemaining == 3) a.v1 = v;
    else if (a.sampRemaining == 2) a.v2 = v;
    else a.v3 = v;
    if (--a.sampRemaining > 0) continue;
    a.sampRemaining = 3;

    int32_t ph = vcfCalcTimingPhase(a.v1, a.v2);
    int32_t q;
    if (a.threshold > 3277) {
      if (ph < -3277) ph += 16384;
      q = a.v1 < 0 ? 16384 : 0;
    } else if (a.threshold < -3277) {
      if (ph > 3277) ph -= 16384;
      q = a.v1 >= 1 ? 16384 : 0;
    } else {
      q = a.v2 < a.v3 ? 16384 : 0;
    }
    ++a.numAcqSym;
    if (a.timeAcqState == ACQ_WAITCALCTHRESH) {
      if (a.numAcqSym >= 20) {
        a.threshold = static_cast<int16_t>(ph);
        a.timeAcqState = ACQ_WAITCALCPHASE;
        a.numAcqSym = 0;
      }
      continue;
    }
    if (a.numAcqSym < a.numJamSymToUse - 20) continue;
    const int32_t p = ph < 0 ? -ph : 32767 - ph;
    int32_t o = a.magic + q + p;
    if (32767 - p < q + a.magic) o -= 32767;
    VCZTRKTIMPAR& k = t->trkParm;
    k.interpSampPos = a.interpIncPerSym * static_cast<uint32_t>(static_cast<uint16_t>(o));
    k.trkCalcTimParm.nh0 = k.trkCalcTimParm.nh1 = k.trkCalcTimParm.nl0 = k.trkCalcTimParm.nl1 = 0;
    a.timeAcqState = ACQ_DONE;
  }
  return i;
}

namespace {

// A symbol's samples interpolated (by `at`) and run through the 64-bit resonators, the position
// stepped on.
template <class At>
__attribute__((always_inline)) inline uint32_t resonateEach(At at, const int16_t* from, uint32_t pos, uint32_t step,
                                                            int per, int16_t* y, const int16_t* c, int scale,
                                                            BandEdgeState& s) {
  BandEdgeRun run(s, c);
  for (int i = 0; i < per; ++i) {
    pos += step;
    const int16_t v = at(from + vcPosInt(pos), pos);
    y[i] = v;
    run.step(static_cast<int64_t>(v) << scale);
  }
  if (run.inRange())
    s = run.state();
  else
    resonateSaturating(y, per, c, scale, s);
  return pos;
}

// A symbol of the tracker: the baseline sums, or the AVX2 ones with the same bits.
struct TimingSymbolBase {
  struct At {
    int16_t operator()(const int16_t* base, uint32_t pos) const { return vcInterpAtWith<VcDotBase>(base, pos); }
  };
  static uint32_t run(const int16_t* from, uint32_t pos, uint32_t step, uint32_t, int per, int16_t* y,
                      const int16_t* c, int scale, BandEdgeState& s) {
    return resonateEach(At{}, from, pos, step, per, y, c, scale, s);
  }
};

#if defined(VC_HAVE_AVX2_KERNELS)
// The tracker's step is within a fraction of a percent of one sample, so its phase stays put for
// long runs: the test of phase 15 (whose second sum reads one sample on) is nearly always
// foreseen, and below it the 32 samples are read once for both sums. Each sample comes out of
// the interpolator in a vector lane, and both resonators run side by side in two 32-bit lanes
// from it, without taking each sample out to the scalar unit and shifting it there. The lanes'
// sums wrap at 32 bits, and that changes nothing that is kept: while the last outputs are within
// 16 bits, a sum (input up to 2^30 at a scale up to 15, two products up to 2^30 each) that wraps
// lands at least 2^16 outputs away from that range, and one that does not wrap is exact. So an
// output within 16 bits is the exact one, and any other sends the symbol to the saturating form,
// as BandEdgeRun does.
struct TimingSymbolAvx2 {
  struct At {
    __attribute__((target("avx2"))) int16_t operator()(const int16_t* base, uint32_t pos) const {
      return vcLane0(vcInterp1Avx2(base, pos));
    }
  };
  __attribute__((target("avx2"))) static uint32_t run(const int16_t* from, uint32_t pos, uint32_t step,
                                                      uint32_t unadjusted, int per, int16_t* y, const int16_t* c,
                                                      int scale, BandEdgeState& s) {
    if (scale < 0 || scale > 15) return resonateEach(At{}, from, pos, step, per, y, c, scale, s);
    // lane 0 the upper resonator, lane 1 the lower (lanes 2 and 3 unused)
    const __m128i c0 = _mm_setr_epi32(c[0], c[2], 0, 0), c1 = _mm_set1_epi32(c[1]);
    const __m128i count = _mm_cvtsi32_si128(scale);
    __m128i h0 = _mm_setr_epi32(s.nh0, s.nl0, 0, 0), h1 = _mm_setr_epi32(s.nh1, s.nl1, 0, 0);
    __m128i outside = _mm_setzero_si128();
    // the sums at the positions without the adjustment, which the detector decides only at the
    // end of the last symbol: they need not wait for it; the blend, at the true position, does
    uint32_t early = pos;
    for (int i = 0; i < per; ++i) {
      pos += step;
      early += unadjusted;
      const __m128i sums = vcInterpSums1Avx2(from + vcPosInt(early), early);
      // the adjustment moves a position by a few thousand 2^-24ths of a sample: nearly always
      // within the phase, where it changes the blend only
      const __m128i v = ((pos ^ early) >> 20) == 0 ? vcBlendSums1(sums, pos) : vcInterp1Avx2(from + vcPosInt(pos), pos);
      y[i] = vcLane0(v);
      const __m128i xs = _mm_add_epi32(_mm_shuffle_epi32(_mm_sll_epi32(v, count), 0), _mm_set1_epi32(8192));
      const __m128i n = _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(xs, _mm_mullo_epi32(c1, h1)), _mm_mullo_epi32(c0, h0)), 14);
      outside = _mm_or_si128(outside, _mm_add_epi32(n, _mm_set1_epi32(32768)));
      h1 = h0;
      h0 = n;
    }
    const __m128i inRange = _mm_cmpeq_epi32(_mm_srli_epi32(outside, 16), _mm_setzero_si128());
    if ((_mm_movemask_ps(_mm_castsi128_ps(inRange)) & 3) == 3) {
      // nh0 nh1 nl0 nl1, each within 16 bits
      const __m128i st = _mm_packs_epi32(_mm_unpacklo_epi32(h0, h1), _mm_setzero_si128());
      s = BandEdgeState{static_cast<int16_t>(_mm_extract_epi16(st, 0)), static_cast<int16_t>(_mm_extract_epi16(st, 1)),
                        static_cast<int16_t>(_mm_extract_epi16(st, 2)), static_cast<int16_t>(_mm_extract_epi16(st, 3))};
    } else {
      resonateSaturating(y, per, c, scale, s);
    }
    return pos;
  }
};
#endif

// The tracker over a block. The position, the resonators' state and the adjustment are the serial
// chain from one symbol to the next: they stay in registers for the whole block (through memory,
// each symbol would wait for the last one's stores), and each sample goes from the interpolator
// straight into the resonators. The schedule only moves the loop's gains, steps and counts, which
// are read from the record.
template <class Symbol>
__attribute__((always_inline)) inline void trackTimingWith(VCZBUF* in, VCZBUF* out, VCZTRKTIMPAR* k) {
  VCZCALCTIMPAR& cp = k->trkCalcTimParm;
  const int per = cp.skipFactor + 1;
  const int16_t* const c = cp.coeffp;
  const int16_t* from = in->bufp;
  const int16_t* const end = in->endp;
  int16_t* to = out != nullptr ? out->bufp : nullptr;
  uint32_t pos = k->interpSampPos;
  int16_t adj = k->timingAdj, lmtCnt = k->timingLmtCnt;
  BandEdgeState s = stateOf(cp);
  int16_t sym[8];
  // as many input samples as a symbol may read beyond the read pointer
  while (end - from >= per + 1 + vcPosInt(pos) + 1) {
    if (k->timingFSM) k->timingFSM(k);
    const int32_t diff = k->timingDiff - k->interpSampAdj;
    if (diff >= 11) k->interpSampAdj = static_cast<int16_t>(k->interpSampAdj + 10);
    else if (diff <= -11) k->interpSampAdj = static_cast<int16_t>(k->interpSampAdj - 10);
    if (k->timingAdjInc == 0) {
      k->timingAdjCurrInc = 0;
    } else {
      const int32_t d = static_cast<int32_t>(k->timingAdjInc) - k->timingAdjCurrInc;
      if (d > 50) k->timingAdjCurrInc = static_cast<uint16_t>(k->timingAdjCurrInc + 50);
      else if (d < -50) k->timingAdjCurrInc = static_cast<uint16_t>(k->timingAdjCurrInc - 50);
    }
    const uint32_t unadjusted = k->interpSampInc + static_cast<uint32_t>(static_cast<int32_t>(k->interpSampAdj));
    const uint32_t step = unadjusted + static_cast<uint32_t>(static_cast<int32_t>(k->timingAdjCurrInc) * adj);
    // the samples straight to the output when there is one
    int16_t* const y = to != nullptr ? to : sym;
    pos = Symbol::run(from, pos, step, unadjusted, per, y, c, cp.scale, s);
    if (to != nullptr) to += per;
    // The adjustment by arithmetic, not branches: the detector's sign is close to random from one
    // symbol to the next, and a branch on it, often foreseen wrongly, throws away the work begun on
    // the next symbol.
    const int16_t e = crossProduct(c, s);
    const int16_t lmt = k->timingAdjLmt;
    const int16_t cnt = static_cast<int16_t>(lmtCnt + 1 - 2 * static_cast<int>(e > 0));
    const int up = cnt >= lmt, down = static_cast<int>(cnt <= -lmt) & (up ^ 1);
    adj = static_cast<int16_t>(up - down);
    k->accumAdjCnt = static_cast<int16_t>(k->accumAdjCnt + adj);
    lmtCnt = static_cast<int16_t>(cnt * (1 - (up | down)));
    from += vcPosInt(pos);
    pos &= 0x00FFFFFF;
  }
  in->bufp = const_cast<int16_t*>(from);
  if (to != nullptr) out->bufp = to;
  k->interpSampPos = pos;
  k->timingAdj = adj;
  k->timingLmtCnt = lmtCnt;
  storeState(&cp, s);
}

void trackTimingBase(VCZBUF* in, VCZBUF* out, VCZTRKTIMPAR* k) { trackTimingWith<TimingSymbolBase>(in, out, k); }

#if defined(VC_HAVE_AVX2_KERNELS)
__attribute__((target("avx2"), flatten)) void trackTimingAvx2(VCZBUF* in, VCZBUF* out, VCZTRKTIMPAR* k) {
  trackTimingWith<TimingSymbolAvx2>(in, out, k);
}
#endif

}  // namespace

void vcfTrackTiming(VCZBUF* in, VCZBUF* out, VCZTRKTIMPAR* k) {
#if defined(VC_HAVE_AVX2_KERNELS)
  if (vcHaveAvx2()) return trackTimingAvx2(in, out, k);
#endif
  trackTimingBase(in, out, k);
}

void vcfAdjTiming(VCZBUF* in, VCZBUF* out, VCZTIMADJ* t) {
  if (t->acqParm.timeAcqState == ACQ_DONE) {
    vcfTrackTiming(in, out, &t->trkParm);
    return;
  }
  const int32_t n = static_cast<int32_t>(in->endp - in->bufp);
  if (n <= 0) return;
  const VCZTIMADJ saved = *t;
  acquireTiming(in->bufp, n, t);
  const bool completes = t->acqParm.timeAcqState == ACQ_DONE;
  *t = saved;
  if (!completes) {
    // Whole symbols only; the output is silence until tracking starts.
    const int32_t m = 3 * (n / 3);
    acquireTiming(in->bufp, m, t);
    if (out != nullptr && out->bufp != nullptr)
      for (int32_t i = 0; i < m; ++i) *out->bufp++ = 0;
    in->bufp += m;
    return;
  }
  acquireTiming(in->bufp, n, t);
  vcfTrackTiming(in, out, &t->trkParm);
}

void vcftimingFSM32(VCZTRKTIMPAR* k) {
  if (k->timingSymCnt >= 30000) return;
  ++k->timingSymCnt;
  const int16_t n = k->timingSymCnt;
  if (k->trnStage == FIRST_TRN) {
    switch (n) {
      case 1: k->timingAdjInc = 0; break;
      case 10: k->timingAdjInc = k->timingAdjCurrInc = 3355; break;
      case 300: k->trkCalcTimParm.scale = 9; break;
      case 1000: k->accumAdjCnt = 0; break;
      case 2024: k->timingDiff = static_cast<int16_t>(k->timingDiff + ((k->accumAdjCnt * 3355) >> 10)); break;
      case 2324: k->timingAdjInc = 1118; break;
      case 2824: k->timingAdjLmt = 2; break;
      default: break;
    }
    return;
  }
  switch (n) {
    case 1: k->timingAdjInc = 0; break;
    case 10: k->timingAdjInc = k->timingAdjCurrInc = 3355; break;
    case 180: k->timingAdjInc = k->timingAdjCurrInc = 0; break;
    case 260: k->trkCalcTimParm.scale = 9; break;
    case 280: k->timingAdjInc = k->timingAdjCurrInc = 3355; break;
    case 1000: k->timingAdjInc = 2236; break;
    case 1500: k->timingAdjLmt = 2; break;
    default: break;
  }
}
