// V.21 channel 2 receiver: channel filter and 8000 -> 6000 rate change, level, discriminator,
// low-pass slicer, bit recovery, gain steps and carrier detection.
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "v21.h"
#include "v21_tables.h"
#include "vc_dot_avx2.h"
#include "vc_math.h"

namespace {


constexpr int kOut = 30;  // outputs at 6000/s per sub-tick
constexpr int kBranch = 69;

// The rate change's next branch of the channel filter: three in turn.
const int16_t* nextBranch(const int16_t* branch) {
  return branch + kBranch < hstv21HChnlflt0 + 3 * kBranch ? branch + kBranch : hstv21HChnlflt0;
}

// R1: channel filter and rate change into hsxsamples 20..49.
template <class Dot>
__attribute__((always_inline)) inline void channelFilterWith(V21LOCLMEM* m) {
  HSZV21RX& rx = m->hsxv21rx;
  int16_t* s = rx.hsxdirectscratchp->hsxsamples;
  const int16_t* x = m->linearbufp + V21_HISTORY;  // newest sample of the first output
  const int16_t* branch = rx.hsxdwnsmplcoefp;
  for (int k = 0; k < kOut; ++k) {
    s[20 + k] = vcSat16(static_cast<int32_t>(Dot::dot(x - 66, branch, 67)) >> 15);
    x += branch[68];
    branch = nextBranch(branch);
  }
  rx.hsxdwnsmplcoefp = branch;
}

void channelFilterBase(V21LOCLMEM* m) { channelFilterWith<VcDotBase>(m); }

#if defined(VC_HAVE_AVX2_KERNELS)
__attribute__((target("avx2"))) void channelFilterAvx2(V21LOCLMEM* m) { channelFilterWith<VcDotAvx2>(m); }
#endif

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
#if defined(VC_HAVE_AVX2_KERNELS)
  if (vcHaveAvx2()) {
    channelFilterAvx2(m);
    return false;
  }
#endif
  channelFilterBase(m);
  return false;
}

// R2: smoothed magnitude, and the same with the gain taken out. A level at zero stays there over
// zero samples.
void level(V21LOCLMEM* m, bool quiet) {
  HSZV21RX& rx = m->hsxv21rx;
  const int16_t* s = rx.hsxdirectscratchp->hsxsamples;
  if (!quiet || rx.hsxpowlevel != 0)
    for (int k = 20; k < 50; ++k)
      rx.hsxpowlevel = static_cast<int16_t>((rx.hsxpowlevel * 29491 + std::abs(s[k]) * 3276) >> 15);
  // unity gain (Q10) divides out exactly: no division for it
  const int32_t l1 = rx.gain == 1024 ? rx.hsxpowlevel
                     : rx.gain > 0   ? (int32_t{rx.hsxpowlevel} * 1024) / rx.gain
                                     : rx.hsxpowlevel;
  rx.hsxpowlevel1 = static_cast<uint16_t>(l1 < 0 ? 0 : (l1 > 65535 ? 65535 : l1));
}

#if defined(__SSE2__)
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
#if defined(__SSE2__)
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

// R4: 20-tap low-pass and slicer; every sum sees unfiltered inputs (the slices are written after).
void lowpassBase(const int16_t* s, int16_t* slice) {
  for (int k = 20; k < 50; ++k) slice[k - 20] = static_cast<int32_t>(vcDot16(hstv21lpf, &s[k - 19], 20)) >= 0 ? 1 : 0;
}

#if defined(VC_HAVE_AVX2_KERNELS)
// Sixteen outputs at a time, vertically: each multiply-add takes a pair of taps for every output
// (the taps are small and positive: no pair overflows), and the 32-bit sums wrap as the one-by-one
// sums do. A slice is 1 where its sum is not negative.
__attribute__((target("avx2"))) void lowpassAvx2(const int16_t* s, int16_t* slice) {
  static_assert(kOut == 30);  // outputs 20..35 and 34..49
  for (int k : {20, 34}) {
    __m256i lo = _mm256_setzero_si256(), hi = _mm256_setzero_si256();
    for (int j = 0; j < 20; j += 2) {
      const __m256i taps = _mm256_set1_epi32(
          static_cast<int32_t>((uint32_t(uint16_t(hstv21lpf[j + 1])) << 16) | uint16_t(hstv21lpf[j])));
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + k - 19 + j));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + k - 18 + j));
      lo = _mm256_add_epi32(lo, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), taps));
      hi = _mm256_add_epi32(hi, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), taps));
    }
    // the unpacks and the pack both work per 128-bit half: the outputs come back in order
    const __m256i negative = _mm256_packs_epi32(_mm256_srai_epi32(lo, 31), _mm256_srai_epi32(hi, 31));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(slice + k - 20), _mm256_add_epi16(negative, _mm256_set1_epi16(1)));
  }
}
#endif

void lowpass(V21LOCLMEM* m) {
  HSZV21RX& rx = m->hsxv21rx;
  int16_t* s = rx.hsxdirectscratchp->hsxsamples;
  // the 20 discriminator outputs before these in front of them, and the last 20 kept (the same
  // bits in a signed and an unsigned word)
  static_assert(sizeof(rx.hsxy) == 20 * sizeof(int16_t));
  std::memcpy(s, rx.hsxy, sizeof(rx.hsxy));
  std::memcpy(rx.hsxy, s + 30, sizeof(rx.hsxy));
  int16_t slice[kOut];
#if defined(VC_HAVE_AVX2_KERNELS)
  if (vcHaveAvx2())
    lowpassAvx2(s, slice);
  else
    lowpassBase(s, slice);
#else
  lowpassBase(s, slice);
#endif
  std::memcpy(s + 20, slice, kOut * sizeof(int16_t));
}

// n bits of the last slice's value to the receive packets, one at a time as the receiver finds them.
void emitBits(HSZV21RX& rx, int n) {
  for (int i = 0; i < n; ++i) vcfCopyToClBuf(&rx.v21zCpyToClBuf, rx.prevSymbol == 1 ? 1 : 0, 1);
}

// n samples equal to the last slice.
void recoverRun(HSZV21RX& rx, int n) {
  if (n == 0) return;
  const int reach = rx.hsxsamplecnt + n - 1;
  emitBits(rx, reach / 20);
  rx.hsxsamplecnt = static_cast<uint16_t>(reach % 20 + 1);
}

// Bit k set where slice k differs from the one before it.
uint32_t sliceChanges(const int16_t* slice, int16_t prev) {
  uint32_t same = 0;
#if defined(__SSE2__)
  static_assert(kOut == 30);  // three groups of eight and the last eight, overlapping
  for (int k : {0, 8, 16, 22}) {
    const __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i*>(slice + k));
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(slice + k - 1));
    const __m128i eq = _mm_packs_epi16(_mm_cmpeq_epi16(now, before), _mm_setzero_si128());
    same |= static_cast<uint32_t>(_mm_movemask_epi8(eq)) << k;
  }
#else
  for (int k = 1; k < kOut; ++k) same |= uint32_t{slice[k] == slice[k - 1]} << k;
#endif
  same = (same & ~1u) | uint32_t{slice[0] == prev};
  return ~same & ((1u << kOut) - 1);
}

// R5: 20 samples per bit; a bit is handed over at each bit boundary found or implied: every 20th
// sample of a run of equal slices, and at a change of slice when at least 10 samples passed since
// the last boundary. The count only grows by one from zero and wraps past 20, so it stays within
// 0..20; the runs between changes are taken whole.
void recoverData(V21LOCLMEM* m) {
  HSZV21RX& rx = m->hsxv21rx;
  const int16_t* slice = rx.hsxdirectscratchp->hsxsamples + 20;
  int from = 0;
  for (uint32_t changes = sliceChanges(slice, rx.prevSymbol); changes != 0; changes &= changes - 1) {
    const int k = __builtin_ctz(changes);
    recoverRun(rx, k - from);
    if (rx.hsxsamplecnt > 9) emitBits(rx, 1);
    rx.prevSymbol = slice[k];
    rx.hsxsamplecnt = 1;
    from = k + 1;
  }
  recoverRun(rx, kOut - from);
}

}  // namespace

void hsfv21MultGain(int16_t* samples, int n, int16_t gain) { vcGainQ10(samples, n, gain); }

void v21RxDemodBlock(V21LOCLMEM* m, bool recover) {
  level(m, hsfv21rx(m));
  if (!recover) return;
  discriminate(m);
  lowpass(m);
  recoverData(m);
}

// ---- receive machine actions ----
namespace {

V21LOCLMEM* M(void* ctx) { return static_cast<V21LOCLMEM*>(ctx); }

int32_t carrierDet(void* ctx) {
  V21LOCLMEM* m = M(ctx);
  v21RxDemodBlock(m, false);
  HSZV21RX& rx = m->hsxv21rx;
  if (rx.hsxpowlevel1 > 2u * m->hsxv21regs.hsxrxthreshold) {
    v21PostEvent(m, e_carrierDet);
    discriminate(m);
    lowpass(m);
    recoverData(m);
  }
  return 0;
}

int32_t demod(void* ctx) {
  V21LOCLMEM* m = M(ctx);
  HSZV21RX& rx = m->hsxv21rx;
  v21RxDemodBlock(m, true);
  if (rx.hsxpowlevel <= 1200) {
    if (++rx.powlowcnt > 5) {
      rx.gain = 4092;
      rx.powlowcnt = 0;
    }
  } else {
    rx.powlowcnt = 0;
  }
  if (rx.hsxpowlevel > 11999) {
    if (++rx.powhighcnt > 5) {
      rx.gain = 324;
      rx.powhighcnt = 0;
    }
  } else {
    rx.powhighcnt = 0;
  }
  if (rx.hsxpowlevel1 < m->hsxv21regs.hsxrxthreshold) {
    rx.gain = 1024;
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

extern const EVRX v21s_rxsSlnc[];
extern const EVRX v21s_rxsCnct[];

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
