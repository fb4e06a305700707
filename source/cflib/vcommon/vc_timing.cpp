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

// Input samples a tracking symbol may read beyond the window's read pointer.
bool trackingFits(const VCZBUF* in, const VCZTRKTIMPAR* trk) {
  const int32_t remaining = static_cast<int32_t>(in->endp - in->bufp);
  return remaining >= trk->trkCalcTimParm.skipFactor + 2 + vcPosInt(trk->interpSampPos) + 1;
}

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

// The resonators over the samples, every output saturated to 16 bits.
void resonateSaturating(const int16_t* x, VCZCALCTIMPAR* p) {
  const int16_t* c = p->coeffp;
  // the resonators' state in locals: stored through p, it would be reloaded after every store
  int16_t nh0 = p->nh0, nh1 = p->nh1, nl0 = p->nl0, nl1 = p->nl1;
  const int scale = p->scale;
  for (int i = 0; i <= p->skipFactor; ++i) {
    const int64_t xs = static_cast<int64_t>(x[i]) << scale;
    const int16_t nh = sat16((xs + int64_t{c[0]} * nh0 + int64_t{c[1]} * nh1 + 8192) >> 14);
    const int16_t nl = sat16((xs + int64_t{c[2]} * nl0 + int64_t{c[1]} * nl1 + 8192) >> 14);
    nh1 = nh0;
    nh0 = nh;
    nl1 = nl0;
    nl0 = nl;
  }
  p->nh0 = nh0;
  p->nh1 = nh1;
  p->nl0 = nl0;
  p->nl1 = nl1;
}

// The same resonators without the saturation, which sits on the critical path of their serial
// chain: false, and the state untouched, when any output left 16 bits (only then would the
// saturating form give other bits).
bool resonateInRange(const int16_t* x, VCZCALCTIMPAR* p) {
  const int16_t* c = p->coeffp;
  int64_t h0 = p->nh0, h1 = p->nh1, l0 = p->nl0, l1 = p->nl1;
  const int scale = p->scale;
  uint64_t outside = 0;
  for (int i = 0; i <= p->skipFactor; ++i) {
    const int64_t xs = static_cast<int64_t>(x[i]) << scale;
    const int64_t nh = (xs + c[0] * h0 + c[1] * h1 + 8192) >> 14;
    const int64_t nl = (xs + c[2] * l0 + c[1] * l1 + 8192) >> 14;
    outside |= static_cast<uint64_t>(nh + 32768) | static_cast<uint64_t>(nl + 32768);
    h1 = h0;
    h0 = nh;
    l1 = l0;
    l0 = nl;
  }
  if (outside >= 65536) return false;
  p->nh0 = static_cast<int16_t>(h0);
  p->nh1 = static_cast<int16_t>(h1);
  p->nl0 = static_cast<int16_t>(l0);
  p->nl1 = static_cast<int16_t>(l1);
  return true;
}

// The cross product of the resonators' last two outputs.
int16_t crossProduct(VCZCALCTIMPAR* p) {
  const int16_t* c = p->coeffp;
  const int64_t r = (int64_t{p->nh0} * ((int32_t{p->nl1} * c[4]) >> 16) +
                     int64_t{p->nh1} * ((int32_t{p->nl0} * c[3]) >> 16) +
                     int64_t{p->nh1} * ((int32_t{p->nl1} * c[5]) >> 16) + 512) >> 10;
  if (r > 32767 || r < -32768) {
    // An overflowing product means the resonators ran away: start them again.
    p->nh0 = p->nh1 = p->nl0 = p->nl1 = 0;
    return sat16(r);
  }
  return static_cast<int16_t>(r);
}

}  // namespace

int16_t vcfCalcTimingAdjPlain(const int16_t* x, VCZCALCTIMPAR* p) {
  resonateSaturating(x, p);
  return crossProduct(p);
}

int16_t vcfCalcTimingAdj(const int16_t* x, VCZCALCTIMPAR* p) {
  if (!resonateInRange(x, p)) resonateSaturating(x, p);
  return crossProduct(p);
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

// The step and position in locals: written through `out`, the record would be reloaded per sample.
template <class Collector>
__attribute__((always_inline)) inline void timingRsmpWith(const int16_t* in, VCZTRKTIMPAR* k, int16_t* out, int n) {
  const uint32_t step = k->interpSampInc + static_cast<uint32_t>(static_cast<int32_t>(k->interpSampAdj)) +
                        static_cast<uint32_t>(static_cast<int32_t>(k->timingAdjCurrInc) * k->timingAdj);
  uint32_t pos = k->interpSampPos;
  Collector c{out};
  for (int i = 0; i < n; ++i) {
    pos += step;
    c.push(in + vcPosInt(pos), pos);
  }
  c.flush();
  k->interpSampPos = pos;
}

void timingRsmpBase(const int16_t* in, VCZTRKTIMPAR* k, int16_t* out, int n) {
  timingRsmpWith<VcInterpEach<>>(in, k, out, n);
}

#if defined(VC_HAVE_AVX2_KERNELS)
__attribute__((target("avx2"), flatten)) void timingRsmpAvx2(const int16_t* in, VCZTRKTIMPAR* k, int16_t* out, int n) {
  timingRsmpWith<VcInterpEachAvx2>(in, k, out, n);
}
#endif

}  // namespace

namespace {

using TimingRsmpKernel = void (*)(const int16_t*, VCZTRKTIMPAR*, int16_t*, int);

TimingRsmpKernel timingRsmpKernel() {
#if defined(VC_HAVE_AVX2_KERNELS)
  if (vcHaveAvx2()) return timingRsmpAvx2;
#endif
  return timingRsmpBase;
}

}  // namespace

void vcfTimingRsmp(const int16_t* in, VCZTRKTIMPAR* k, int16_t* out, int16_t n) { timingRsmpKernel()(in, k, out, n); }

void vcfTrackTiming(VCZBUF* in, VCZBUF* out, VCZTRKTIMPAR* k) {
  const int per = k->trkCalcTimParm.skipFactor + 1;
  const TimingRsmpKernel resample = timingRsmpKernel();  // chosen once, not per symbol
  int16_t sym[8];
  while (trackingFits(in, k)) {
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
    // the samples straight to the output when there is one, and the filters read them there
    int16_t* to = out != nullptr && out->bufp != nullptr ? out->bufp : sym;
    resample(in->bufp, k, to, per);
    if (to != sym) out->bufp += per;
    const int16_t e = vcfCalcTimingAdj(to, &k->trkCalcTimParm);
    k->timingLmtCnt = static_cast<int16_t>(k->timingLmtCnt + (e <= 0 ? 1 : -1));
    if (k->timingLmtCnt >= k->timingAdjLmt) {
      k->timingAdj = 1;
      ++k->accumAdjCnt;
      k->timingLmtCnt = 0;
    } else if (k->timingLmtCnt <= -k->timingAdjLmt) {
      k->timingAdj = -1;
      --k->accumAdjCnt;
      k->timingLmtCnt = 0;
    } else {
      k->timingAdj = 0;
    }
    in->bufp += vcPosInt(k->interpSampPos);
    k->interpSampPos &= 0x00FFFFFF;
  }
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
