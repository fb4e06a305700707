// V.21 channel 2 receiver: channel filter and 8000 -> 6000 rate change, level, discriminator,
// low-pass slicer, bit recovery, gain steps and carrier detection.
#include <cstdlib>
#include <cstring>

#if defined(ORVOX_X86_SIMD)
#include <emmintrin.h>
#endif

#include "v21.h"
#include "v21_tables.h"
#include "vc_dot_avx2.h"
#include "vc_math.h"

namespace {

constexpr int kOut = V21_RX_OUT;
constexpr int kBranch = 69;
// The receiver's gains (Q10): unity, for a weak signal, for a strong one.
constexpr int16_t kGainUnity = 1024;
constexpr int16_t kGainWeak = 4092;
constexpr int16_t kGainStrong = 324;

// The rate change's next branch of the channel filter: three in turn.
const int16_t* nextBranch(const int16_t* branch) {
  return branch + kBranch < hstv21HChnlflt0 + 3 * kBranch ? branch + kBranch : hstv21HChnlflt0;
}

// R1: channel filter and rate change into hsxsamples 20..49.
void channelFilter(V21LOCLMEM* m) {
  HSZV21RX& rx = m->hsxv21rx;
  int16_t* s = rx.hsxdirectscratchp->hsxsamples;
  const int16_t* x = m->linearbufp + V21_HISTORY;  // newest sample of the first output
  const int16_t* branch = rx.hsxdwnsmplcoefp;
  for (int k = 0; k < kOut; ++k) {
    s[20 + k] = vcSat16(static_cast<int32_t>(vcDot16(x - 66, branch, 67)) >> 15);
    x += branch[68];
    branch = nextBranch(branch);
  }
  rx.hsxdwnsmplcoefp = branch;
}

// The filter's outputs; true when the line was quiet and they are all zero. Every sample the
// filter reads this sub-tick is zero on a quiet line, as while the gateway sends a page towards it.
bool hsfv21rx(V21LOCLMEM* m) {
  if (m->lineQuiet) {  // every sum is zero: the outputs without the sums
    // A sub-tick's outputs take the three branches in turn a whole number of times, so the
    // rate change ends on the branch it started with.
    static_assert(kOut % 3 == 0);
    std::memset(m->hsxv21rx.hsxdirectscratchp->hsxsamples + 20, 0, kOut * sizeof(int16_t));
    return true;
  }
  channelFilter(m);
  return false;
}

// R2: smoothed magnitude. A level at zero stays there over zero samples.
void level(V21LOCLMEM* m, bool quiet) {
  HSZV21RX& rx = m->hsxv21rx;
  const int16_t* s = rx.hsxdirectscratchp->hsxsamples;
  if (quiet && rx.hsxpowlevel == 0) return;
  int32_t p = rx.hsxpowlevel;
  for (int k = 20; k < 50; ++k) p = v21LevelStep(p, static_cast<uint32_t>(std::abs(s[k])));
  rx.hsxpowlevel = static_cast<int16_t>(p);
}

#if defined(ORVOX_X86_SIMD)
// Eight discriminator outputs at k: r = sat16((w1 s[k-1] + w2 s[k]) >> 15), then the low 16 bits
// of (r s[k]) >> 15. The weighted pair is one multiply-add (the weights are positive, the sum
// fits 32 bits) and the pack saturates as sat16 does; the last product's bits 15..30 are its high
// half shifted up with bit 15 of its low half.
inline __m128i discriminate8(const int16_t* s, int k, __m128i weights) {
  const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k - 1));
  const __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + k));
  const __m128i lo = _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(before, now), weights), 15);
  const __m128i hi = _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(before, now), weights), 15);
  const __m128i r = _mm_packs_epi32(lo, hi);
  return _mm_or_si128(_mm_slli_epi16(_mm_mulhi_epi16(r, now), 1), _mm_srli_epi16(_mm_mullo_epi16(r, now), 15));
}
#endif

// R3: product of each sample with a weighted sample before it; positive mean for 1650 Hz. Every
// output reads the samples as they came (the outputs are written after).
void discriminate(V21LOCLMEM* m) {
  HSZV21RX& rx = m->hsxv21rx;
  int16_t* s = rx.hsxdirectscratchp->hsxsamples;
  const int16_t* w = rx.hsxphaseshftcoefp;
  s[18] = rx.hsxxprev2;
  s[19] = rx.hsxxprev1;
  rx.hsxxprev2 = s[48];
  rx.hsxxprev1 = s[49];
  int16_t out[kOut];
#if defined(ORVOX_X86_SIMD)
  const __m128i weights = _mm_set1_epi32(static_cast<int32_t>((uint32_t(uint16_t(w[2])) << 16) | uint16_t(w[1])));
  static_assert(kOut == 30);  // three groups of eight and the last eight, overlapping
  for (int k : {20, 28, 36, 42})
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k - 20), discriminate8(s, k, weights));
#else
  for (int k = 20; k < 50; ++k) {
    const int16_t r = vcSat16((w[1] * s[k - 1] + w[2] * s[k]) >> 15);
    out[k - 20] = static_cast<int16_t>((r * s[k]) >> 15);
  }
#endif
  std::memcpy(s + 20, out, sizeof(out));
}

// R4: 20-tap low-pass and slicer on the discriminator outputs behind the last 20 kept; bit k of
// the result is slice k (1 where the sum is not negative).
uint32_t lowpass(V21LOCLMEM* m) {
  HSZV21RX& rx = m->hsxv21rx;
  int16_t* s = rx.hsxdirectscratchp->hsxsamples;
  // the same bits in a signed and an unsigned word
  static_assert(sizeof(rx.hsxy) == 20 * sizeof(int16_t));
  std::memcpy(s, rx.hsxy, sizeof(rx.hsxy));
  std::memcpy(rx.hsxy, s + 30, sizeof(rx.hsxy));
  uint32_t slices = 0;
  for (int k = 20; k < 50; ++k)
    slices |= uint32_t{static_cast<int32_t>(vcDot16(hstv21lpf, &s[k - 19], 20)) >= 0} << (k - 20);
  return slices;
}

bool demodBase(V21LOCLMEM* m, bool always) {
  level(m, hsfv21rx(m));
  if (!v21RecoverNow(m, always)) return false;
  discriminate(m);
  v21RecoverBits(m->hsxv21rx, lowpass(m));
  return true;
}

}  // namespace

bool v21RecoverNow(V21LOCLMEM* m, bool always) {
  HSZV21RX& rx = m->hsxv21rx;
  // unity gain (Q10) divides out exactly: no division for it
  const int32_t l1 = rx.gain == kGainUnity ? rx.hsxpowlevel
                     : rx.gain > 0         ? (int32_t{rx.hsxpowlevel} * 1024) / rx.gain
                                           : rx.hsxpowlevel;
  rx.hsxpowlevel1 = static_cast<uint16_t>(l1 < 0 ? 0 : (l1 > 65535 ? 65535 : l1));
  return always || rx.hsxpowlevel1 > 2u * m->hsxv21regs.hsxrxthreshold;
}

// R5: 20 samples per bit; a bit is handed over at each bit boundary found or implied: every 20th
// sample of a run of equal slices, and at a change of slice when at least 10 samples passed since
// the last boundary. The count only grows by one from zero and wraps past 20, so it stays within
// 0..20; the runs between changes are taken whole. The bits found are handed over after the
// sub-tick's slices are read, in the order found and one at a time.
void v21RecoverBits(HSZV21RX& rx, uint32_t slices) {
  constexpr uint32_t kAll = (1u << kOut) - 1;
  // A run's reach is at most 20 + 30 - 1: two bits; each later bit needs ten samples since the
  // boundary before it, so a sub-tick finds at most five, and two more places may be written.
  uint16_t found[8];
  int n = 0;
  int count = rx.hsxsamplecnt;
  uint16_t last = rx.prevSymbol == 1 ? 1 : 0;
  // n samples equal to the last slice; an empty run leaves the count as it is (-1 / 20 is 0)
  const auto run = [&](int samples) {
    const int reach = count + samples - 1;
    found[n] = found[n + 1] = last;
    n += reach / 20;
    count = reach % 20 + 1;
  };
  int from = 0;
  for (uint32_t changes = (slices ^ ((slices << 1) | last)) & kAll; changes != 0; changes &= changes - 1) {
    const int k = __builtin_ctz(changes);
    run(k - from);
    found[n] = last;
    n += count > 9 ? 1 : 0;
    last = static_cast<uint16_t>((slices >> k) & 1);
    count = 1;
    from = k + 1;
  }
  run(kOut - from);
  rx.prevSymbol = static_cast<int16_t>(last);
  rx.hsxsamplecnt = static_cast<uint16_t>(count);
  for (int i = 0; i < n; ++i) vcRxClbufSymbol(&rx.v21zCpyToClBuf, found[i], 1);
}

void hsfv21MultGain(int16_t* samples, int n, int16_t gain) { vcGainQ10(samples, n, gain); }

bool v21RxDemodBlock(V21LOCLMEM* m, bool always) {
#if defined(VC_HAVE_AVX2_KERNELS)
  if (vcHaveAvx2()) return v21RxDemodAvx2(m, always);
#endif
  return demodBase(m, always);
}

// ---- receive machine actions ----
namespace {

V21LOCLMEM* M(void* ctx) { return static_cast<V21LOCLMEM*>(ctx); }

extern const EVRX v21s_rxsSlnc[];
extern const EVRX v21s_rxsCnct[];

int32_t carrierDet(void* ctx) {
  V21LOCLMEM* m = M(ctx);
  // A quiet line under a level at rest leaves the level at zero, below any threshold: nothing to
  // filter, find or recover (the filter's outputs are not read before the next sub-tick's).
  if (m->lineQuiet && m->hsxv21rx.hsxpowlevel == 0) {
    m->hsxv21rx.hsxpowlevel1 = 0;
    return 0;
  }
  // the event only changes the machines' queue: posted after the bits it would be the same
  if (v21RxDemodBlock(m, false)) v21PostEvent(m, e_carrierDet);
  return 0;
}

}  // namespace

bool v21RxAtRest(const V21LOCLMEM* m) {
  const HSZV21RX& rx = m->hsxv21rx;
  return rx.stp == v21s_rxsIdle || (rx.stp == v21s_rxsSlnc && rx.hsxpowlevel == 0);
}

void v21RxQuietSubTick(V21LOCLMEM* m) {
  if (m->hsxv21rx.stp == v21s_rxsSlnc) m->hsxv21rx.hsxpowlevel1 = 0;  // carrierDet on a quiet line
}

namespace {

int32_t demod(void* ctx) {
  V21LOCLMEM* m = M(ctx);
  HSZV21RX& rx = m->hsxv21rx;
  v21RxDemodBlock(m, true);
  if (rx.hsxpowlevel <= 1200) {
    if (++rx.powlowcnt > 5) {
      rx.gain = kGainWeak;
      rx.powlowcnt = 0;
    }
  } else {
    rx.powlowcnt = 0;
  }
  if (rx.hsxpowlevel > 11999) {
    if (++rx.powhighcnt > 5) {
      rx.gain = kGainStrong;
      rx.powhighcnt = 0;
    }
  } else {
    rx.powhighcnt = 0;
  }
  if (rx.hsxpowlevel1 < m->hsxv21regs.hsxrxthreshold) {
    rx.gain = kGainUnity;
    v21PostEvent(m, e_noCarrier);
    vcfFlushRxDataPkts(m, &rx.v21zCpyToClBuf);
    hsfIbdSendStd(HSF_IBD_LOCAL_MODEM, V21_NOCARRIER_EVT, static_cast<uint16_t>(rx.hsxpowlevel),
                  m->hsxv21regs.hsxrxthreshold);
  }
  return 0;
}

int32_t demodOn(void* ctx) {
  M(ctx)->hsxv21rx.hsxpowlevel = 32767;  // the level decays from full scale
  return 0;
}

int32_t demodOff(void* ctx) {
  M(ctx)->hsxv21rx.hsxpowlevel = 0;
  return 0;
}

}  // namespace

const EVRX v21s_rxsIdle[] = {
    {e_default, v21s_rxsIdle, {nullptr, nullptr}},
    {e_enableRx, v21s_rxsSlnc, {nullptr, nullptr}},
    {e_v21null, nullptr, {nullptr, nullptr}},
};

namespace {

const EVRX v21s_rxsSlnc[] = {
    {e_default, v21s_rxsSlnc, {carrierDet, nullptr}},
    {e_carrierDet, v21s_rxsCnct, {demodOn, nullptr}},
    {e_disableRx, v21s_rxsIdle, {demodOff, nullptr}},
    {e_v21null, nullptr, {nullptr, nullptr}},
};

const EVRX v21s_rxsCnct[] = {
    {e_default, v21s_rxsCnct, {demod, nullptr}},
    {e_noCarrier, v21s_rxsSlnc, {demodOff, nullptr}},
    {e_disableRx, v21s_rxsIdle, {demodOff, nullptr}},
    {e_v21null, nullptr, {nullptr, nullptr}},
};

}  // namespace
