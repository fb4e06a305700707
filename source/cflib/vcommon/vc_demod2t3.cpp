// The 2T/3 complex equaliser with its mixer and decimating low-pass, and the training tone
// detector.
#include "vc_demod.h"
#include "vc_dot_avx2.h"
#include "vc_eqkern.h"

#include <cstring>

#if defined(ORVOX_X86_SIMD)
#include <emmintrin.h>
#endif

namespace {


// Samples in each half of the mixer memory: the history the low-pass reaches back over plus
// one symbol of new samples.
int mixerHalf(const VCZEQPARM2T3& eq) { return eq.fltMemLen + eq.m + 1; }
int t3Half(const VCZEQPARM2T3& eq) { return 2 * eq.eqlength + 1; }

__attribute__((always_inline)) inline void shiftDown(int16_t* line, int len, int by) {
  if (by >= len) return;
  const int keep = len - by;
#if defined(ORVOX_X86_SIMD)
  // The lines here are a few dozen samples, shifted once a symbol: four loads, then four stores
  // (all read before any is written, so the overlap is safe), instead of a library call.
  if (keep >= 8 && keep <= 32) {
    const auto at = [](const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
    const auto put = [](int16_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); };
    const int16_t* from = line + by;
    const int mid = keep >= 16 ? 8 : keep - 8;
    const int late = keep >= 24 ? 16 : keep - 8;
    const __m128i a = at(from), b = at(from + mid), c = at(from + late), d = at(from + keep - 8);
    put(line, a);
    put(line + mid, b);
    put(line + late, c);
    put(line + keep - 8, d);
    return;
  }
#endif
  std::memmove(line, line + by, static_cast<size_t>(keep) * sizeof(int16_t));
}

// The mixer's cosine and sine at the sixteen multiples of 4096: a step that is such a multiple,
// from a phase that is one, never leaves them (the V.27ter carriers), so the mixer reads them
// here instead of unfolding the quarter-wave table per sample.
struct MixerTurn {
  int16_t cos[16], sin[16];
};
const MixerTurn kTurn = [] {
  MixerTurn t{};
  for (int k = 0; k < 16; ++k) {
    t.cos[k] = fxcos(static_cast<uint16_t>(k * 4096));
    t.sin[k] = fxsin(static_cast<uint16_t>(k * 4096));
  }
  return t;
}();

#if defined(VC_HAVE_AVX2_KERNELS)
// The same cosines and sines laid out per symbol of six samples: row [turn][k] holds those of
// samples 1 to 6 after phase k * 4096 at a step of turn * 4096 (lanes 6 and 7 unused).
struct MixerRows {
  alignas(16) int16_t cos[16][16][8];
  alignas(16) int16_t sin[16][16][8];
};
const MixerRows kRows = [] {
  MixerRows r{};
  for (int turn = 0; turn < 16; ++turn)
    for (int k = 0; k < 16; ++k)
      for (int i = 0; i < 6; ++i) {
        const int at = (k + turn * (i + 1)) & 15;
        r.cos[turn][k][i] = kTurn.cos[at];
        r.sin[turn][k][i] = kTurn.sin[at];
      }
  return r;
}();

// Low 16 bits of (c * x) >> 15 in each lane, as the scalar mixer stores them.
__attribute__((target("avx2"), always_inline)) inline __m128i mixLanes(__m128i c, __m128i x) {
  const __m128i hi = _mm_mulhi_epi16(c, x), lo = _mm_mullo_epi16(c, x);
  return _mm_or_si128(_mm_slli_epi16(hi, 1), _mm_srli_epi16(lo, 15));
}

// Six samples from a turning phase (the V.27ter carriers) mixed down: the real line's six in the
// low half's first lanes, the imaginary line's in the high half's (lanes 6 and 7 of each zero).
__attribute__((target("avx2"), always_inline)) inline __m256i mixSixTurning(const int16_t* in, unsigned k,
                                                                          unsigned turn) {
  int64_t first;
  int32_t last;
  __builtin_memcpy(&first, in, sizeof(first));
  __builtin_memcpy(&last, in + 4, sizeof(last));
  const __m128i x = _mm_insert_epi32(_mm_cvtsi64_si128(first), last, 2);
  const __m128i c = _mm_load_si128(reinterpret_cast<const __m128i*>(kRows.cos[turn][k]));
  const __m128i s = _mm_load_si128(reinterpret_cast<const __m128i*>(kRows.sin[turn][k]));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(mixLanes(c, x)), mixLanes(s, x), 1);
}

// Two 128-bit loads, from p in the low half and from q in the high half.
__attribute__((target("avx2"), always_inline)) inline __m256i loadTwo(const int16_t* p, const int16_t* q) {
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// vcT3LPF on the real and the imaginary line together: each output's eight folded pairs and its
// ninth against the taps in one multiply-add per line pair (real in the low half, imaginary in
// the high half), the three outputs' lanes summed by one tree. The pairs wrap at 16 bits and the
// sums at 32 as in vcT3LPFOnePlain, so the bits are its bits.
// One output's lanes on both lines: the eight folded pairs (oldest eight plus newest eight
// reversed) and the ninth (in[-9] + in[-8], first lane of mid) against the taps.
__attribute__((target("avx2"), always_inline)) inline __m256i lpfLanes(__m256i oldest, __m256i newest, __m256i mid) {
  const __m256i reverse = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1,
                                           14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
  const __m256i taps = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(vct3lpfcoeff)));
  const __m256i middleTap = _mm256_setr_epi16(vct3lpfcoeff[8], 0, 0, 0, 0, 0, 0, 0, vct3lpfcoeff[8], 0, 0, 0, 0, 0, 0, 0);
  const __m256i pairs = _mm256_add_epi16(oldest, _mm256_shuffle_epi8(newest, reverse));
  const __m256i middle = _mm256_add_epi16(mid, _mm256_srli_epi32(mid, 16));
  return _mm256_add_epi32(_mm256_madd_epi16(pairs, taps), _mm256_madd_epi16(middle, middleTap));
}

// Three outputs' lanes summed by one tree, shifted and saturated: outputs 0 to 2 in the first
// lanes of each half.
__attribute__((target("avx2"), always_inline)) inline __m256i lpfOutputs(__m256i l0, __m256i l1, __m256i l2) {
  const __m256i sums = _mm256_hadd_epi32(_mm256_hadd_epi32(l0, l1), _mm256_hadd_epi32(l2, l2));
  return _mm256_packs_epi32(_mm256_srai_epi32(sums, 15), sums);
}

// vcT3LPF on the real and the imaginary line together (real in the low half of each vector,
// imaginary in the high half). The pairs wrap at 16 bits and the sums at 32 as in
// vcT3LPFOnePlain, so the bits are its bits.
__attribute__((target("avx2"))) void lpfBothAvx2(const int16_t* re, const int16_t* im, int step, int16_t* outRe,
                                                 int16_t* outIm) {
  __m256i lanes[3];
  for (int o = 0; o < 3; ++o) {
    const int16_t* a = re + o * step;
    const int16_t* b = im + o * step;
    lanes[o] = lpfLanes(loadTwo(a - 17, b - 17), loadTwo(a - 7, b - 7), loadTwo(a - 9, b - 9));
  }
  const __m256i packed = lpfOutputs(lanes[0], lanes[1], lanes[2]);
  const __m128i r = _mm256_castsi256_si128(packed), i = _mm256_extracti128_si256(packed, 1);
  const int32_t r01 = _mm_cvtsi128_si32(r), i01 = _mm_cvtsi128_si32(i);
  __builtin_memcpy(outRe, &r01, sizeof(r01));
  __builtin_memcpy(outIm, &i01, sizeof(i01));
  outRe[2] = static_cast<int16_t>(_mm_extract_epi16(r, 2));
  outIm[2] = static_cast<int16_t>(_mm_extract_epi16(i, 2));
}
#endif

}  // namespace

const int16_t vct3lpfcoeff[18] = {-101, -156, 298, 729, -293, -2151, -795, 5902, 12933,
                                  12933, 5902, -795, -2151, -293, 729, 298, -156, -101};

const int16_t vctTonelpfLUT[12] = {181, -724, -1621, 311, 6180, 11869, 11869, 6180, 311, -1621, -724, 181};

int vcf2T3MixerHalfLen(const VCZEQPARM2T3* eq) { return mixerHalf(*eq); }

// One output of the folded 18-tap low-pass ending at in; the pair sums are held in 16 bits.
int16_t vcT3LPFOnePlain(const int16_t* in) {
  uint32_t acc = 0;
  for (int k = 0; k <= 8; ++k) {
    const int16_t pair = static_cast<int16_t>(in[k - 17] + in[-k]);
    acc += static_cast<uint32_t>(vct3lpfcoeff[k] * pair);
  }
  return vcSat16(static_cast<int32_t>(acc) >> 15);
}

#if defined(ORVOX_X86_SIMD)
// Pairs k = 0..7 eight at a time (the newest eight reversed against the oldest eight), then k = 8.
int16_t vcT3LPFOne(const int16_t* in) {
  const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in - 17));
  const __m128i newest = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in - 7));
  const __m128i r = _mm_shuffle_epi32(newest, 0x1B);
  const __m128i reversed = _mm_shufflehi_epi16(_mm_shufflelo_epi16(r, 0xB1), 0xB1);
  const __m128i pairs = _mm_add_epi16(old, reversed);
  const __m128i taps = _mm_loadu_si128(reinterpret_cast<const __m128i*>(vct3lpfcoeff));
  __m128i acc = _mm_madd_epi16(pairs, taps);
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
  const int16_t last = static_cast<int16_t>(in[-9] + in[-8]);
  const uint32_t sum = static_cast<uint32_t>(_mm_cvtsi128_si32(acc)) + static_cast<uint32_t>(vct3lpfcoeff[8] * last);
  return vcSat16(static_cast<int32_t>(sum) >> 15);
}
#else
int16_t vcT3LPFOne(const int16_t* in) { return vcT3LPFOnePlain(in); }
#endif

int32_t vcfHalfMagnitudes3Plain(const int16_t* re, const int16_t* im, int end) {
  int32_t sum = 0;
  for (int k = 1; k <= 3; ++k) {
    const VCZCOMPLEX z{re[end - k], im[end - k]};
    sum += fxcmag(&z) / 2;
  }
  return sum;
}

void vcT3LPF(const int16_t* in, int16_t step, int16_t* out) {
  for (int o = 0; o < 3; ++o, in += step) out[o] = vcT3LPFOne(in);
}

void vcfDemodInit2T3(VCZDEMOD2T3* d, const VCZ2T3INIT* init) {
  // The memory the caller bound to the equaliser stays bound.
  int16_t* flt = d->eq.fltMemp;
  int16_t* t3 = d->eq.eqT3Memp;
  int32_t* coeff = d->eq.eqp;
  *d = VCZDEMOD2T3{};
  d->eq.fltMemp = flt;
  d->eq.eqT3Memp = t3;
  d->eq.eqp = coeff;
  d->eq.m = init->m;
  d->eq.fltMemLen = init->fltMemLen;
  d->eq.phaseDelta = init->phaseDelta;
  d->eq.eqlength = init->eqlength;
  d->eq.lpfFunc = init->lpfFunc;
  d->gstable = init->gsp;
  d->currgshftidx = -1;
}

#if defined(VC_HAVE_AVX2_KERNELS)
namespace {

__attribute__((target("avx2"), always_inline)) inline void storeTwo(int16_t* p, int16_t* q, __m256i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(v));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(q), _mm256_extracti128_si256(v, 1));
}

// The three outputs' level for the carrier detector, from lanes 0 to 2 of each half of `out` (real,
// imaginary): the magnitude's larger and smaller parts, its rounded products and the halving toward
// zero as fxcmag / 2 has them, lane by lane, then summed.
__attribute__((target("avx2"), always_inline)) inline int32_t halfMagnitudes3Avx2(__m256i out) {
  const __m128i a = _mm_abs_epi16(_mm256_castsi256_si128(out));
  const __m128i b = _mm_abs_epi16(_mm256_extracti128_si256(out, 1));
  const __m128i larger = _mm_max_epu16(a, b), smaller = _mm_min_epu16(a, b);
  const __m128i mag = _mm_add_epi16(_mm_mulhrs_epi16(larger, _mm_set1_epi16(31472)),
                                    _mm_mulhrs_epi16(smaller, _mm_set1_epi16(13036)));
  const __m128i half = _mm_srai_epi16(_mm_add_epi16(mag, _mm_srli_epi16(mag, 15)), 1);
  const __m128i pairs = _mm_madd_epi16(half, _mm_setr_epi16(1, 1, 1, 0, 0, 0, 0, 0));
  return _mm_cvtsi128_si32(_mm_add_epi32(pairs, _mm_srli_si128(pairs, 4)));
}

// The eight samples kLanes on from those of `low`, `high` holding the eight after them, in each half.
template <int kLanes>
__attribute__((target("avx2"), always_inline)) inline __m256i eightOn(__m256i low, __m256i high) {
  return _mm256_alignr_epi8(high, low, 2 * kLanes);
}

// The T/3 lines after a symbol's shift, as they were stored: body[j] holds samples 8j to 8j + 7
// (the real line's in the low half, the imaginary line's in the high half), last the line's last
// eight.
template <int kT3>
struct T3Lines {
  __m256i body[(kT3 - 3) / 8];
  __m256i last;
};

// vcfdecimat2T3's shifts and low-pass on lines of known lengths, for kM new mixer samples a
// symbol (`mixed`: the real line's in the low half's first lanes, the imaginary line's in the high
// half's) after 16 of low-pass history, and T/3 lines of kT3 samples. The shifted lines are put
// together in registers and the low-pass reads them there: read back from memory just after the
// new samples' stores, they would wait for those stores. Each line is stored in the pieces its
// readers take: the mixer's as 0-7, 8-15 and its last eight; the T/3 line's in eights from 0 and
// its last eight, as the equaliser and the carrier detector read it. It hands back the T/3 lines'
// pieces, for an output taken from them at once.
template <int kM, int kT3>
__attribute__((target("avx2"), always_inline)) inline T3Lines<kT3> shiftAndFilterAvx2(VCZEQPARM2T3* eq,
                                                                                      __m256i mixed) {
  constexpr int kHalf = 16 + kM + 1, kLast = kHalf - 8, kStep = kM / 3;
  static_assert(kM == 3 || kM == 6, "the low-pass steps by one or two samples");
  int16_t* re = eq->fltMemp;
  int16_t* im = re + kHalf;
  // the mixer lines shifted by kM: a = 0-7, b = 8-15, d = the last eight (old samples, then new)
  const __m256i a = loadTwo(re + kM, im + kM), b = loadTwo(re + kM + 8, im + kM + 8);
  const __m256i d = _mm256_alignr_epi8(mixed, loadTwo(re + kLast, im + kLast), 2 * kM);
  storeTwo(re, im, a);
  storeTwo(re + 8, im + 8, b);
  storeTwo(re + kLast, im + kLast, d);
  // output o reads samples kStep o to kStep o + 17: the oldest eight from its first, the middle
  // eight from 8 on, the newest from 10 on
  const __m256i e = _mm256_srli_si256(d, 2 * (16 - kLast));  // from sample 16
  const __m256i mid1 = eightOn<kStep>(b, e), mid2 = eightOn<2 * kStep>(b, e);
  const __m256i new0 = eightOn<2>(b, e), new1 = eightOn<2 + kStep>(b, e), new2 = eightOn<2 + 2 * kStep>(b, e);
  const __m256i out = lpfOutputs(lpfLanes(a, new0, b), lpfLanes(eightOn<kStep>(a, b), new1, mid1),
                                 lpfLanes(eightOn<2 * kStep>(a, b), new2, mid2));
  // the T/3 lines shifted by three, the outputs after them
  constexpr int kBody = (kT3 - 3) / 8;
  int16_t* t3re = eq->eqT3Memp;
  int16_t* t3im = t3re + kT3;
  // unrolled, so that the shifted pieces stay in registers between their loads and stores
  T3Lines<kT3> lines;
#pragma GCC unroll 8
  for (int j = 0; j < kBody; ++j) lines.body[j] = loadTwo(t3re + 3 + 8 * j, t3im + 3 + 8 * j);
  lines.last = _mm256_alignr_epi8(out, loadTwo(t3re + kT3 - 8, t3im + kT3 - 8), 6);
#pragma GCC unroll 8
  for (int j = 0; j < kBody; ++j) storeTwo(t3re + 8 * j, t3im + 8 * j, lines.body[j]);
  storeTwo(t3re + kT3 - 8, t3im + kT3 - 8, lines.last);
  eq->newestHalfMag = halfMagnitudes3Avx2(out);
  return lines;
}

// The V.27ter lines: six samples a symbol, twelve taps. Its carriers turn by multiples of 4096.
bool decimatesSix(const VCZEQPARM2T3& eq) {
  return eq.m == 6 && eq.fltMemLen == 16 && eq.eqlength == 11 && eq.lpfFunc == vcT3LPF &&
         ((eq.phase | static_cast<uint16_t>(eq.phaseDelta)) & 4095) == 0;
}

__attribute__((target("avx2"), always_inline)) inline T3Lines<23> decimateSixLines(VCZEQPARM2T3* eq,
                                                                                  const int16_t* in) {
  const uint16_t delta = static_cast<uint16_t>(eq->phaseDelta);
  const __m256i mixed = mixSixTurning(in, eq->phase >> 12, delta >> 12);
  eq->phase = static_cast<uint16_t>(eq->phase + 6 * delta);
  return shiftAndFilterAvx2<6, 2 * 11 + 1>(eq, mixed);
}

__attribute__((target("avx2"))) void decimateSixAvx2(VCZEQPARM2T3* eq, const int16_t* in) { decimateSixLines(eq, in); }

// vcEq2T3DotPlain's sums over the twelve taps of the V.27ter lines, taken from the lines as the
// decimation leaves them in registers (each sample 2k in the high half of lane k, as the
// equaliser's AVX2 steps take them): read back from memory, they would wait for the stores just
// made.
__attribute__((target("avx2"), always_inline)) inline void dotSixLines(const T3Lines<23>& lines, const int32_t* cr,
                                                                      const int32_t* ci, uint32_t* re, uint32_t* im) {
  const __m256i xr = _mm256_slli_epi32(_mm256_permute2x128_si256(lines.body[0], lines.body[1], 0x20), 16);
  const __m256i xi = _mm256_slli_epi32(_mm256_permute2x128_si256(lines.body[0], lines.body[1], 0x31), 16);
  __m256i accRe = _mm256_setzero_si256(), accIm = _mm256_setzero_si256();
  vcEq2T3DotStep(vcEqTaps8(cr), vcEqTaps8(ci), xr, xi, &accRe, &accIm);
  // taps 8 to 11 from the last eight, samples 15 to 22
  const __m128i high = _mm_set1_epi32(-65536);
  const __m128i xr4 = _mm_and_si128(_mm256_castsi256_si128(lines.last), high);
  const __m128i xi4 = _mm_and_si128(_mm256_extracti128_si256(lines.last, 1), high);
  __m128i re4 = _mm_add_epi32(_mm256_castsi256_si128(accRe), _mm256_extracti128_si256(accRe, 1));
  __m128i im4 = _mm_add_epi32(_mm256_castsi256_si128(accIm), _mm256_extracti128_si256(accIm, 1));
  vcEq2T3DotStep(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + 8)),
                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(ci + 8)), xr4, xi4, &re4, &im4);
  *re = vcEqSum4(re4);
  *im = vcEqSum4(im4);
}

// The V.29 lines: three samples a symbol, eighteen taps. Its carrier's step is no multiple of
// 4096, so each sample's cosine and sine come from the quarter-wave table.
bool decimatesThree(const VCZEQPARM2T3& eq) {
  return eq.m == 3 && eq.fltMemLen == 16 && eq.eqlength == 17 && eq.lpfFunc == vcT3LPF;
}

// The quarter-wave table folded once more, in pairs: entry y holds quarter[y] in its low half and
// quarter[16383 - y] in its high half, y below 8192. A phase's sine and cosine read the two ends
// of the quarter at the same distance from them, so one read gives both, where fxsin and fxcos
// read two lines of the table.
struct SineCosinePairs {
  alignas(64) uint32_t v[8192];
};
constexpr SineCosinePairs makeSineCosinePairs() {
  SineCosinePairs t{};
  for (int y = 0; y < 8192; ++y)
    t.v[y] = static_cast<uint16_t>(vcgSineQuarter.v[y]) |
             static_cast<uint32_t>(static_cast<uint16_t>(vcgSineQuarter.v[16383 - y])) << 16;
  return t;
}
constexpr SineCosinePairs kPairs = makeSineCosinePairs();

// The pair read for phase p: its octant's distance from the nearer end of the quarter.
__attribute__((always_inline)) inline uint32_t pairFor(uint16_t p) {
  const uint32_t flip = 0u - ((static_cast<uint32_t>(p) >> 13) & 1u);
  return kPairs.v[(p ^ flip) & 0x1FFF];
}

// fxsin and fxcos of three phases from their pairs (`pairs`, one a 32-bit lane, lane 3 unused):
// `phases` holds each phase and the phase a quarter on ([p0, p0 + 16384, p1, ...]), whose top bits
// say which half of the pair is the sine (the pair is the wrong way round in the second and
// third octants of a quarter) and the signs. Cosines in lanes 0 to 2 of *cos, sines of *sin, the
// other lanes zero.
__attribute__((target("avx2"), always_inline)) inline void sinCos3(__m128i pairs, __m128i phases, __m128i* cos,
                                                                   __m128i* sin) {
  // bit 14 of phase ^ (phase << 1) is the octant's parity; in the cosine lanes it is the opposite
  const __m128i parity = _mm_srai_epi16(_mm_slli_epi16(_mm_xor_si128(phases, _mm_slli_epi16(phases, 1)), 1), 15);
  const __m128i turned = _mm_xor_si128(parity, _mm_setr_epi16(0, -1, 0, -1, 0, -1, 0, -1));
  const __m128i swapped = _mm_shuffle_epi8(pairs, _mm_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13));
  const __m128i magnitude = _mm_blendv_epi8(pairs, swapped, turned);
  const __m128i sign = _mm_srai_epi16(phases, 15);
  const __m128i value = _mm_sub_epi16(_mm_xor_si128(magnitude, sign), sign);
  *sin = _mm_shuffle_epi8(value, _mm_setr_epi8(0, 1, 4, 5, 8, 9, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
  *cos = _mm_shuffle_epi8(value, _mm_setr_epi8(2, 3, 6, 7, 10, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
}

__attribute__((target("avx2"))) void decimateThreeAvx2(VCZEQPARM2T3* eq, const int16_t* in) {
  const uint16_t delta = static_cast<uint16_t>(eq->phaseDelta);
  const uint16_t phase = eq->phase;
  const uint16_t p0 = static_cast<uint16_t>(phase + delta), p1 = static_cast<uint16_t>(p0 + delta),
                 p2 = static_cast<uint16_t>(p1 + delta);
  eq->phase = p2;
  const __m128i pairs = _mm_insert_epi32(
      _mm_insert_epi32(_mm_cvtsi32_si128(static_cast<int>(pairFor(p0))), static_cast<int>(pairFor(p1)), 1),
      static_cast<int>(pairFor(p2)), 2);
  // each phase in the low half of a lane, the phase a quarter on in the high half
  const __m128i each = _mm_setr_epi32(p0, p1, p2, 0);
  const __m128i phases = _mm_add_epi16(_mm_or_si128(each, _mm_slli_epi32(each, 16)), _mm_set1_epi32(0x40000000));
  __m128i c, s;
  sinCos3(pairs, phases, &c, &s);
  const __m128i x = _mm_setr_epi16(in[0], in[1], in[2], 0, 0, 0, 0, 0);
  shiftAndFilterAvx2<3, 2 * 17 + 1>(eq, _mm256_inserti128_si256(_mm256_castsi128_si256(mixLanes(c, x)), mixLanes(s, x), 1));
}

}  // namespace
#endif

void vcfdecimat2T3(VCZEQPARM2T3* eq, const int16_t* in) {
#if defined(VC_HAVE_AVX2_KERNELS)
  if (vcHaveAvx2()) {
    if (decimatesSix(*eq)) {
      decimateSixAvx2(eq, in);
      return;
    }
    if (decimatesThree(*eq)) {
      decimateThreeAvx2(eq, in);
      return;
    }
  }
#endif
  const int half = mixerHalf(*eq);
  int16_t* re = eq->fltMemp;
  int16_t* im = eq->fltMemp + half;
  shiftDown(re, half, eq->m);
  shiftDown(im, half, eq->m);
  // the mixer with its phase and step in locals: stored through re and im, they would be reloaded
  uint16_t ph = eq->phase;
  const uint16_t delta = static_cast<uint16_t>(eq->phaseDelta);
  const int m = eq->m;
  int16_t* reNew = re + half - m;
  int16_t* imNew = im + half - m;
#if defined(VC_HAVE_AVX2_KERNELS)
  const bool wide = vcHaveAvx2();
#endif
  if (((ph | delta) & 4095) == 0) {
    unsigned k = ph >> 12;
    const unsigned turn = delta >> 12;
    for (int i = 0; i < m; ++i) {
      k = (k + turn) & 15;
      reNew[i] = static_cast<int16_t>((kTurn.cos[k] * in[i]) >> 15);
      imNew[i] = static_cast<int16_t>((kTurn.sin[k] * in[i]) >> 15);
    }
  } else {
    for (int i = 0; i < m; ++i) {
      ph = static_cast<uint16_t>(ph + delta);
      reNew[i] = static_cast<int16_t>((fxcos(ph) * in[i]) >> 15);
      imNew[i] = static_cast<int16_t>((fxsin(ph) * in[i]) >> 15);
    }
  }
  eq->phase = static_cast<uint16_t>(eq->phase + eq->m * eq->phaseDelta);
  const int t3 = t3Half(*eq);
  int16_t* t3re = eq->eqT3Memp;
  int16_t* t3im = eq->eqT3Memp + t3;
  shiftDown(t3re, t3, 3);
  shiftDown(t3im, t3, 3);
  const int16_t step = static_cast<int16_t>((eq->m * 10923 + 16384) >> 15);
#if defined(VC_HAVE_AVX2_KERNELS)
  if (wide && eq->lpfFunc == vcT3LPF) {
    lpfBothAvx2(re + half - m, im + half - m, step, t3re + t3 - 3, t3im + t3 - 3);
  } else
#endif
  {
    eq->lpfFunc(re + half - eq->m, step, t3re + t3 - 3);
    eq->lpfFunc(im + half - eq->m, step, t3im + t3 - 3);
  }
  eq->newestHalfMag = vcfHalfMagnitudes3Plain(t3re, t3im, t3);
}

namespace {

// The equaliser's taps and lines as its output's sums take them.
struct Eq2T3Operands {
  const int32_t *cr, *ci;
  const int16_t *xr, *xi;
  int n;
};
__attribute__((always_inline)) inline Eq2T3Operands eqOperands(const VCZEQPARM2T3& eq) {
  return {eq.eqp, eq.eqp + eq.eqlength + 1, eq.eqT3Memp, eq.eqT3Memp + t3Half(eq), eq.eqlength + 1};
}

// The equaliser's output from its sums (by the wide or the baseline form): scaled, saturated and
// turned by the carrier's phase.
// The turn it took.
__attribute__((always_inline)) inline VcCarrierTurn eqOut2T3(const VCZDEMOD2T3* d, uint32_t re, uint32_t im,
                                                             VCZCOMPLEX* out) {
  const int32_t fr = vcSat16(static_cast<int32_t>(re) >> 13), fi = vcSat16(static_cast<int32_t>(im) >> 13);
  const VcCarrierTurn turn = vcCarrierTurn(d->car.qamRxPhase);
  const int32_t c = turn.c, s = turn.s;
  // one store of both parts: the demodulator reads the pair back whole at once, and a read that
  // spans two narrower stores waits for them to reach the cache
  const VCZCOMPLEX y{static_cast<int16_t>((fr * c - fi * s) >> 15), static_cast<int16_t>((fr * s + fi * c) >> 15)};
  std::memcpy(out, &y, sizeof(y));
  return turn;
}

#if defined(VC_HAVE_AVX2_KERNELS)
// A V.27ter symbol with AVX2: the lines' decimation and the output in one call, the output's sums
// taken from the lines in registers. (V.29's eighteen taps keep the baseline forms: their last two
// would go to the plain loop, which measured slower than the baseline's pair step.)
// Written into vcfDemod2T3Six below, which vcfDemod2T3 and the page-data run call.
__attribute__((target("avx2"), always_inline)) inline VcCarrierTurn demodSix(VCZDEMOD2T3* d, const int16_t* in,
                                                                            VCZCOMPLEX* out) {
  const Eq2T3Operands o = eqOperands(d->eq);
  uint32_t re, im;
  dotSixLines(decimateSixLines(&d->eq, in), o.cr, o.ci, &re, &im);
  return eqOut2T3(d, re, im, out);
}

// The V.27ter taps' update (twelve, a constant here: the steps laid out without the loop's tests).
__attribute__((target("avx2"), always_inline)) inline void updateTwelve(int32_t* cr, int32_t* ci, const int16_t* xr,
                                                                       const int16_t* xi, VCZCOMPLEX e, int step) {
  vcEq2T3UpdateAvx2(cr, ci, xr, xi, 12, e, step);
}
__attribute__((target("avx2"))) void updateTwelveAvx2(int32_t* cr, int32_t* ci, const int16_t* xr, const int16_t* xi,
                                                      VCZCOMPLEX e, int step) {
  updateTwelve(cr, ci, xr, xi, e, step);
}
#endif

}  // namespace

VCBDMSTATUS vcfDemod2T3(VCZRXMEM* r, VCZBUF* buf) {
  VCZDEMOD2T3* d = r->u.t2;
#if defined(VC_HAVE_AVX2_KERNELS)
  if (vcfDemod2T3SixWide(r)) {
    vcfDemod2T3Six(r, buf->bufp);
    return 0;
  }
#endif
  vcfdecimat2T3(&d->eq, buf->bufp);
  const Eq2T3Operands o = eqOperands(d->eq);
  uint32_t re, im;
  vcEq2T3Dot(o.cr, o.ci, o.xr, o.xi, o.n, &re, &im);
  eqOut2T3(d, re, im, &r->pbeqout);
  r->bbeqout = r->pbeqout;
  return 0;
}

namespace {

// The taps' update by the forms Update chooses, between the gear shifts and the carrier's loop.
template <typename Update>
__attribute__((always_inline)) inline void rxupd2T3(VCZRXMEM* r, VcCarrierTurn turn, Update update) {
  VCZDEMOD2T3* d = r->u.t2;
  VCZEQPARM2T3& eq = d->eq;
  if (eq.cnt >= 0 && d->gstable != nullptr) {
    if (eq.cnt > 0) {
      --eq.cnt;
    } else {
      const VCZGS& row = d->gstable[++d->currgshftidx];
      eq.cnt = row.count;
      eq.stepsize = row.stepsize;
      eq.eqstate = row.eqstate;
      d->car.pll1 = row.pll1;
      d->car.pll2 = row.pll2;
    }
  }
  VCZCOMPLEX e;
  fxcsub(&r->dpout1, &r->bbeqout, &e);
  vcfRemSoftDecErrTurned(turn, &e, &d->aveError, 1);
  if (eq.eqstate >= 0 && eq.stepsize > -32 && eq.stepsize < 32) {
    const int t3 = t3Half(eq);
    update(eq.eqp, eq.eqp + eq.eqlength + 1, eq.eqT3Memp, eq.eqT3Memp + t3, e, eq.stepsize);
  }
  const VCZCOMPLEX* soft = (eq.eqstate & 0x4000) ? &r->dpout1 : &r->bbeqout;
  vcfCarrierRec(soft, &r->dpout1, &d->car);
}

}  // namespace

VCBDMSTATUS vcfRxupd2T3(VCZRXMEM* r, VCZBUF*) {
  rxupd2T3(r, vcCarrierTurn(r->u.t2->car.qamRxPhase), [](int32_t* cr, int32_t* ci, const int16_t* xr, const int16_t* xi, VCZCOMPLEX e, int step) {
    const int n = static_cast<int>(ci - cr);  // the imaginary taps follow the real ones
#if defined(VC_HAVE_AVX2_KERNELS)
    if (n == 12 && vcHaveAvx2()) {
      updateTwelveAvx2(cr, ci, xr, xi, e, step);
      return;
    }
#endif
    vcEq2T3Update(cr, ci, xr, xi, n, e, step);
  });
  return 0;
}

#if defined(VC_HAVE_AVX2_KERNELS)
bool vcfDemod2T3SixWide(const VCZRXMEM* r) { return vcHaveAvx2() && decimatesSix(r->u.t2->eq); }

__attribute__((target("avx2"))) VcCarrierTurn vcfDemod2T3Six(VCZRXMEM* r, const int16_t* in) {
  const VcCarrierTurn turn = demodSix(r->u.t2, in, &r->pbeqout);
  r->bbeqout = r->pbeqout;
  return turn;
}

__attribute__((target("avx2"))) void vcfRxupd2T3Twelve(VCZRXMEM* r, VcCarrierTurn turn) {
  rxupd2T3(r, turn, updateTwelve);
}
#endif

// ---- training tone detector ----

void vcfTonedetinit(VCZRXMEM* r, int16_t freq, int16_t countthresh, int16_t carthresh, int16_t ds) {
  VCZCTONEDET& t = r->sdet;
  t = VCZCTONEDET{};
  t.demdet.filt = vctTonelpfLUT;
  t.demdet.nfilt = 12;
  t.demdet.phase = 0;
  t.demdet.freq = freq;
  t.demdet.dlyr = t.demdetdlyr;
  t.demdet.dlyi = t.demdetdlyi;
  t.pwrtc = 1641;
  t.notchpwrtc = 1641;
  t.detthresh = 2896;
  t.carthresh = carthresh;
  t.countthresh = countthresh;
  t.ds = ds;
}

void vcfCpbdemod(VCZCPBDEMOD* dm, const int16_t* in, VCZCOMPLEX* out, int16_t n, int16_t ds) {
  for (int o = 0; o < n; ++o) {
    for (int i = 0; i < ds; ++i) {
      const int32_t x = *in++;
      for (int k = dm->nfilt - 1; k > 0; --k) {
        dm->dlyr[k] = dm->dlyr[k - 1];
        dm->dlyi[k] = dm->dlyi[k - 1];
      }
      dm->dlyr[0] = static_cast<int16_t>((x * fxcos(dm->phase) + 16384) >> 15);
      dm->dlyi[0] = static_cast<int16_t>((x * fxsin(dm->phase) + 16384) >> 15);
      dm->phase = static_cast<uint16_t>(dm->phase - dm->freq);
    }
    int32_t ar = 16384, ai = 16384;
    for (int k = 0; k < dm->nfilt; ++k) {
      ar += dm->filt[k] * dm->dlyr[k];
      ai += dm->filt[k] * dm->dlyi[k];
    }
    out[n - 1 - o] = VCZCOMPLEX{vcSat16(ar >> 15), vcSat16(ai >> 15)};  // newest first
  }
}

int32_t vcftoneDetAsm(VCZCTONEDET* t) {
  // The three newest demodulated samples are tonepref[2], [1], [0] (oldest to newest); their
  // comb outputs are already in tonemem[2], [1], [0].
  int32_t p1 = 0, p2 = 0, corr = 0;
  for (int k = 2; k >= 0; --k) {
    const VCZCOMPLEX& y = t->tonemem[k];
    p1 += fxcmag(&y) / 2;
    VCZCOMPLEX d;
    fxcsub(&y, &t->tonemem[k + 6], &d);
    p2 += fxcmag(&d) / 2;
    VCZCOMPLEX c1, c2;
    fxcmulconj(&y, &t->tonemem[k + 6], &c1);
    fxcmulconj(&t->tonemem[k + 3], &t->tonemem[k + 15 > 17 ? 17 : k + 15], &c2);
    corr += (c1.real >> 2) + (c2.real >> 2);
  }
  t->pwr = vcSat16(t->pwr + fxmul(t->pwrtc, vcSat16(p1 - t->pwr)));
  t->notchpwr = vcSat16(t->notchpwr + fxmul(t->notchpwrtc, vcSat16(p2 / 2 - t->notchpwr)));
  return corr;
}

VCBDMSTATUS vcfTonedet(VCZRXMEM* r, VCZBUF* buf) {
  VCZCTONEDET& t = r->sdet;
  VCZCOMPLEX fresh[3];
  vcfCpbdemod(&t.demdet, buf->bufp, fresh, 3, t.ds);
  // Histories newest first: move up by three and put the new block in front.
  for (int k = 17; k >= 3; --k) t.tonemem[k] = t.tonemem[k - 3];
  for (int k = 5; k >= 3; --k) t.tonepref[k] = t.tonepref[k - 3];
  for (int k = 2; k >= 0; --k) {
    t.tonepref[k] = fresh[k];
    // comb against the sample one symbol (three samples) earlier
    const VCZCOMPLEX& old = t.tonepref[k + 3];
    t.tonemem[k] = VCZCOMPLEX{vcSat16(fresh[k].real + fxmul(t.tonetap, old.real)),
                              vcSat16(fresh[k].imag + fxmul(t.tonetap, old.imag))};
  }
  const int32_t corr = vcftoneDetAsm(&t);
  for (int k = 3; k > 0; --k) {
    t.spwrmem[k] = t.spwrmem[k - 1];
    t.notchmem[k] = t.notchmem[k - 1];
  }
  t.spwrmem[0] = t.pwr;
  t.notchmem[0] = t.notchpwr;

  VCBDMSTATUS st = t.pwr > (t.carthresh & 0x7FFF) ? VCBDM_PWR_ABOVE : VCBDM_PWR_BELOW;
  if (t.notchmem[0] < fxmul(t.spwrmem[3], t.detthresh))
    st |= VCBDM_TONE_ON;
  else if (t.notchmem[3] > fxmul(t.spwrmem[0], t.detthresh))
    st |= VCBDM_TONE_OFF;
  const int32_t limit = static_cast<uint16_t>(t.carthresh) > 32768 ? -50 : 0;
  st |= corr < limit ? VCBDM_CORR_NEG : VCBDM_CORR_POS;
  return st;
}
