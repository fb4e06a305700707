// Fixed-point toolkit of the modem library: Q15 products, magnitudes, complex products, sine and
// cosine, restoring divisions, the dot-product kernel, the receive sample-rate converter, and the
// transmit back end (bulk delay lines, modulator, pass-band pulse shaper, transmit resampler).
#pragma once

#include <climits>
#include <cstdint>
#include <cstring>

#include "vc_arith.h"
#include "vc_types.h"

// ---- arithmetic (the per-sample helpers are inline in vc_arith.h) ----
int32_t fxmacpp(const int16_t* x, const int16_t* y, int16_t n);  // n + 1 terms
int32_t vcfdiv_d(int32_t a, int32_t b);
void vcfdivt(int16_t a, int16_t b, VCZDIV_T* out);
void fxshr(int16_t* dly, int16_t n, int16_t s);
// 64-bit add of {high, low} pairs named by their low words; the high word sits just before.
void vcfUAdd64(uint32_t* xLow, const uint32_t* yLow);
// The plain loop the inline vcfConv must equal.
int16_t vcfConvPlain(const int16_t* x, const int16_t* h, int16_t n);
int16_t vcfCsearch(const VCZCOMPLEX* d, const VCZCOMPLEX* table, int16_t n);
// Nearest point by the plain loop (the reference) and, on processors with it, by AVX2.
int16_t vcfCsearchPlain(const VCZCOMPLEX* d, const VCZCOMPLEX* table, int16_t n);
#if defined(ORVOX_X86_SIMD)
#include <immintrin.h>
__attribute__((target("avx2"))) int16_t vcfCsearchAvx2(const VCZCOMPLEX* d, const VCZCOMPLEX* table, int16_t n);
// Eight points at a time: the differences as 16-bit pairs, each squared with fxmul's rounding
// (the rounding high product is fxmul, -32768 squared included), the pair summed. Each distance
// (at most 2^16, 17 bits) carries its point's index below it, so one minimum over the keys finds
// the first point at the smallest distance, as the plain search does, without a second pass; none
// unless that distance is below 32767. For n a multiple of 8 up to 32 (vcfCsearchAvx2 takes any
// other n to the plain loop); inline for a run of symbols.
__attribute__((target("avx2"), always_inline)) inline int16_t vcCsearchEightsAvx2(const VCZCOMPLEX* d,
                                                                               const VCZCOMPLEX* table, int16_t n) {
  uint32_t point;
  std::memcpy(&point, d, sizeof(point));
  const __m256i p = _mm256_set1_epi32(static_cast<int32_t>(point));
  const __m256i ones = _mm256_set1_epi16(1);
  __m256i index = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256i least = _mm256_set1_epi32(INT32_MAX);
  for (int i = 0; i < n; i += 8) {
    const __m256i diff = _mm256_sub_epi16(p, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table + i)));
    const __m256i dd = _mm256_madd_epi16(_mm256_mulhrs_epi16(diff, diff), ones);
    least = _mm256_min_epi32(least, _mm256_or_si256(_mm256_slli_epi32(dd, 5), index));
    index = _mm256_add_epi32(index, _mm256_set1_epi32(8));
  }
  __m128i m = _mm_min_epi32(_mm256_castsi256_si128(least), _mm256_extracti128_si256(least, 1));
  m = _mm_min_epi32(m, _mm_shuffle_epi32(m, 0x4E));
  m = _mm_min_epi32(m, _mm_shuffle_epi32(m, 0xB1));
  const int32_t key = _mm_cvtsi128_si32(m);
  return (key >> 5) < 32767 ? static_cast<int16_t>(key & 31) : int16_t{0};
}
#endif

// ---- buffers ----
void vcfInitTxLinBuf(VCZBUF* buf, int16_t start, int16_t end);
void vcfMultGain(VCZBUF* bufRdp, const VCZBUF* bufWrp, int16_t gainQ10);
void vcfUpdateFIRhist(VCZBUF* buf, int16_t n, int16_t* hist, int16_t histLen);

// ---- receive sample-rate conversion ----
struct VCZRESAMPLE {
  uint32_t interpSampPos;  // 8.24 samples: integer in bits 24..31, phase 20..23, fraction 5..19
  uint32_t interpSampPosLow;
  uint32_t interpSampInc;
  uint32_t interpSampIncLow;
};

extern const int16_t vcgInterp[16 * 32];
extern const uint32_t vcrxInterpIncHigh[7];
extern const uint32_t vcrxInterpIncLow[7];

void vcfInitResample(int16_t index, VCZRESAMPLE* rs);
// The caller keeps 33 samples of history in front of the block: 31 for the interpolator and two
// for the position, which may start a block up to two samples before its first sample.
int16_t vcfResample(VCZBUF* inSampBufRdp, const VCZBUF* inSampBufWrp, VCZBUF* outSampBufp,
                    VCZRESAMPLE* rs);
// One interpolated sample at an 8.24 position relative to base (the phase blend of both
// converters and the timing interpolator): the 32 taps of the position's phase and of the next
// one (phase 0 one sample on after phase 15), blended by the fraction.
template <class Dot>
__attribute__((always_inline)) inline int16_t vcInterpAtWith(const int16_t* base, uint32_t pos) {
  const int k = (pos >> 20) & 15;
  uint32_t sa, sb;
  if (k == 15) {
    sa = Dot::dot(base - 31, &vcgInterp[15 * 32], 32);
    sb = Dot::dot(base - 30, &vcgInterp[0], 32);
  } else {
    Dot::pair32(base - 31, &vcgInterp[k * 32], &vcgInterp[(k + 1) * 32], &sa, &sb);
  }
  const int16_t a = vcSat16(static_cast<int32_t>(sa) >> 15);
  const int16_t b = vcSat16(static_cast<int32_t>(sb) >> 15);
  const int32_t frac = (pos >> 5) & 0x7FFF;
  return static_cast<int16_t>((b * frac + (32767 - frac) * a) >> 15);
}

inline int16_t vcfInterpAt(const int16_t* base, uint32_t pos) { return vcInterpAtWith<VcDotBase>(base, pos); }

// The converters take their positions one by one and hand each to a collector, which writes the
// samples at out (flush: the last of them). This one interpolates each as it comes; the AVX2 one
// (vc_interp_avx2.h) four at a time.
template <class Dot = VcDotBase>
struct VcInterpEach {
  int16_t* out;
  __attribute__((always_inline)) void push(const int16_t* base, uint32_t pos) { *out++ = vcInterpAtWith<Dot>(base, pos); }
  void flush() {}
};

// ---- transmitter ----
struct VCZFASTBULKDLYHDL {
  int16_t* fstStp;
  int16_t* fstEndp;
  int16_t* fstWrp;
  int16_t* fstRdp;
  uint16_t fstBulkDlyLen;  // the imaginary line lies this far after the real one
};

constexpr int VC_T3SAMPLES = 44;
constexpr int VC_MAXSHAPESUMS = 12;  // six samples per symbol, real and imaginary

// The pulse shaper's taps laid out for 16-sample loads (the AVX2 transmitter's form): `late` over
// the sixteen samples ending at the symbol, `early` over the filter's first sixteen (filters
// longer than sixteen), each tap in exactly one of them. Sums 0 .. ns - 1 are the real blocks,
// ns .. 2 ns - 1 the imaginary.
struct VCZSHAPETAPS {
  int16_t early[VC_MAXSHAPESUMS][16];
  int16_t late[VC_MAXSHAPESUMS][16];
  // Filters of up to eight taps: the real and imaginary block of each sample side by side, each
  // over the eight samples ending at the symbol.
  int16_t narrow[VC_MAXSHAPESUMS / 2][16];
  const int16_t* from;  // the taps laid out here; null when none are
};

struct VCZMOD {
  uint16_t amplitude;
  VCESYMBOLRATE symbolRate;
  uint32_t carrierPhase;
  uint32_t phaseInc;
  uint32_t interpSampPos;
  uint32_t interpSampPosLow;
  uint32_t interpSampInc;
  uint32_t interpSampIncLow;
  int16_t* modWrtp;
  int16_t numSample;
  int16_t txFiltLen;
  const int16_t* passBandCoeffp;
  int16_t t3Samples[VC_T3SAMPLES];
  VCZSHAPETAPS shape;  // passBandCoeffp laid out, by vcfSetTxShaper
};

extern const int16_t vcgTxbandpassfilt32[120];

void vcfInitBulkDly(int16_t* base, int16_t len, VCZMOD* mod);
void vcfInitTxParam32(VCZMOD* mod, int16_t amplitude);
void vcfSetTxAmplitude32(VCZMOD* mod, int16_t value);
// The pass-band pulse shaper: ns samples per symbol from 2 ns blocks of filtLen taps (real blocks,
// then imaginary), which stay in place while the modulator uses them. The only way the taps are
// set: the transmitter reads them in the form laid out here.
void vcfSetTxShaper(VCZMOD* mod, int16_t ns, int16_t filtLen, const int16_t* taps);
void vcfInitFastBulkDly(const int16_t* base, const int16_t* wrp, int16_t len, VCZFASTBULKDLYHDL* hdl,
                        int16_t* fast, int16_t fastLen, int16_t hist);
int16_t vcfCalcNumSymbols(const VCZBUF* buf, int16_t rateIndex);
// The symbol turned by the carrier at `phase` into the fast bulk delay line at w (the imaginary
// line len further on).
inline void vcModulateAt(const VCZCOMPLEX* sig, uint32_t phase, int16_t* w, int len) {
  const uint16_t ph = static_cast<uint16_t>(phase >> 16);
  const VCZCOMPLEX rot{fxcos(ph), fxsin(ph)};
  VCZCOMPLEX out;
  fxcmul(sig, &rot, &out);
  w[0] = out.real;
  w[len] = out.imag;
}

// n symbols on the fast bulk delay line at w (imaginary line len further on), turned in place by
// the carrier's next n phases from *phase, which is left at the last: a run's vcModulateAt calls.
void vcfModulateRun(int16_t* w, int n, int len, uint32_t* phase, uint32_t inc);

// The symbol turned by the carrier's next phase onto the fast bulk delay line.
inline void vcfModulate(const VCZCOMPLEX* sig, VCZMOD* mod, VCZFASTBULKDLYHDL* hdl) {
  mod->carrierPhase += mod->phaseInc;
  vcModulateAt(sig, mod->carrierPhase, hdl->fstWrp, hdl->fstBulkDlyLen);
  ++hdl->fstWrp;
}
// The symbols from the fast bulk delay line through the pass-band pulse shaper and the transmit
// resampler into 8000/s line samples at *out.
void vcfTxSymbols(int16_t** out, VCZMOD* mod, VCZFASTBULKDLYHDL* hdl);
void vcfCopyToBulkDly(int16_t** wrpp, const int16_t* re, const int16_t* im, int16_t n, int16_t* base,
                      int16_t len);
void vcfCopyFromBulkDly(const int16_t** rdpp, int16_t* re, int16_t* im, int16_t n, const int16_t* base,
                        int16_t len);
