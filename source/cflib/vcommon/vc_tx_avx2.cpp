// The transmit back end for processors with AVX2: the pulse shaper's sums of one symbol and the
// resampler's sums of four line samples each stay in registers until one folding tree takes
// eight of them, instead of one fold per sum. Same bits as the baseline form in vc_tx.cpp.
#include <cstring>

#include "vc_interp_avx2.h"
#include "vc_txpos.h"

#if defined(VC_HAVE_AVX2_KERNELS)

namespace {

// The symbol's ns pass-band samples into t3[33 ..]: each the saturated difference of its real and
// imaginary block's saturated Q15 sums. Four samples at a time: real sums in lanes 0 - 3 of the
// folded eight, imaginary in 4 - 7, so that a saturating pack and a saturating subtraction finish
// them.
template <int ns, int taps>
__attribute__((target("avx2"), always_inline)) inline void shapeSymbol(const int16_t* rd, int len, const VCZSHAPETAPS& t,
                                                                       int16_t* t3) {
#pragma GCC unroll 2
  for (int g = 0; g < (ns + 3) / 4; ++g) {
    __m256i acc[8];
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) {
      const int k = 4 * g + (j & 3), d = j < 4 ? k : ns + k;
      if (k >= ns) {
        acc[j] = _mm256_setzero_si256();
        continue;
      }
      const int16_t* x = j < 4 ? rd : rd + len;
      acc[j] = _mm256_madd_epi16(vcLoad16(x - 15), vcLoad16(t.late[d]));
      if (taps > 16) acc[j] = _mm256_add_epi32(acc[j], _mm256_madd_epi16(vcLoad16(x - taps + 1), vcLoad16(t.early[d])));
    }
    const __m256i s = _mm256_srai_epi32(vcSum8x8(acc), 15);
    const __m128i re_im = _mm_packs_epi32(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
    const __m128i y = _mm_subs_epi16(re_im, _mm_srli_si128(re_im, 8));
    vcStoreUpTo4(t3 + 33 + 4 * g, y, ns - 4 * g < 4 ? ns - 4 * g : 4);
  }
}

// Four symbols' 4 ns samples the same way, four samples to a fold: the fold's lanes take the
// samples in line order across the symbols, so that every fold stores four whole samples.
template <int ns, int taps>
__attribute__((target("avx2"), always_inline)) inline void shapeFourSymbols(const int16_t* rd, int len,
                                                                            const VCZSHAPETAPS& t, int16_t* line) {
#pragma GCC unroll 6
  for (int g = 0; g < ns; ++g) {
    __m256i acc[8];
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) {
      const int i = 4 * g + (j & 3), s = i / ns, k = i % ns, d = j < 4 ? k : ns + k;
      const int16_t* x = (j < 4 ? rd : rd + len) + s;
      acc[j] = _mm256_madd_epi16(vcLoad16(x - 15), vcLoad16(t.late[d]));
      if (taps > 16) acc[j] = _mm256_add_epi32(acc[j], _mm256_madd_epi16(vcLoad16(x - taps + 1), vcLoad16(t.early[d])));
    }
    const __m256i sums = _mm256_srai_epi32(vcSum8x8(acc), 15);
    const __m128i re_im = _mm_packs_epi32(_mm256_castsi256_si128(sums), _mm256_extracti128_si256(sums, 1));
    const __m128i y = _mm_subs_epi16(re_im, _mm_srli_si128(re_im, 8));
    vcStoreUpTo4(line + 33 + 4 * g, y, 4);
  }
}

// The same for filters of up to eight taps (the late taps' first eight lanes are zero): the real
// and imaginary line's eight samples ending at the symbol side by side, so that one
// multiply-add takes both of a sample's blocks, and horizontal adds fold four sums at a time.
template <int ns>
__attribute__((target("avx2"), always_inline)) inline void shapeSymbolNarrow(const int16_t* rd, int len,
                                                                             const VCZSHAPETAPS& t, int16_t* t3) {
  static_assert(ns == 6);
  const __m256i x = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rd - 7))),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(rd + len - 7)), 1);
  __m256i m[ns];
#pragma GCC unroll 6
  for (int k = 0; k < ns; ++k) m[k] = _mm256_madd_epi16(x, vcLoad16(t.narrow[k]));
  // lanes re0 re1 re2 re3 | im0 im1 im2 im3, then re4 re5 re4 re5 | im4 im5 im4 im5
  const __m256i h45 = _mm256_hadd_epi32(m[4], m[5]);
  const __m256i s[2] = {_mm256_hadd_epi32(_mm256_hadd_epi32(m[0], m[1]), _mm256_hadd_epi32(m[2], m[3])),
                        _mm256_hadd_epi32(h45, h45)};
#pragma GCC unroll 2
  for (int g = 0; g < 2; ++g) {
    const __m256i v = _mm256_srai_epi32(s[g], 15);
    const __m128i re_im = _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    const __m128i y = _mm_subs_epi16(re_im, _mm_srli_si128(re_im, 8));
    vcStoreUpTo4(t3 + 33 + 4 * g, y, 4);  // the second four's last two are written over next
  }
}

// Line samples from the interpolated ones: scaled by the amplitude, saturated.
struct LineLevel {
  int32_t amplitude;
  __attribute__((target("avx2"), always_inline)) __m128i operator()(__m128i y) const {
    // y lies in 16 bits: an amplitude that does too takes the shorter 16-bit multiply-add
    const __m128i product = amplitude <= 32767 ? _mm_madd_epi16(y, _mm_set1_epi32(amplitude))
                                               : _mm_mullo_epi32(y, _mm_set1_epi32(amplitude));
    const __m128i scaled = _mm_srai_epi32(product, 13);
    return _mm_packs_epi32(scaled, scaled);
  }
};

// The line samples at n positions into w, four at a time; unused lanes of the last four repeat
// the first position, so that every read stays where the positions' own do.
__attribute__((target("avx2"), always_inline)) inline int16_t* interpolateRun(const int16_t** base, uint32_t* at, int n,
                                                                              const LineLevel& level, int16_t* w) {
  if (n == 0) return w;
  for (int i = n; i < ((n + 3) & ~3); ++i) {
    base[i] = base[0];
    at[i] = at[0];
  }
  int i = 0;
  for (; i + 4 <= n; i += 4, w += 4) vcStoreUpTo4(w, level(vcInterp4Avx2(base + i, at + i)), 4);
  if (i < n) {
    vcStoreUpTo4(w, level(vcInterp4Avx2(base + i, at + i)), n - i);
    w += n - i;
  }
  return w;
}

// The blend weight pairs (32767 - frac, frac) of n positions one step apart from p1, eight made
// at a time in the vector unit (up to seven more than n).
template <int kMax>
struct LaidWeights {
  alignas(32) int32_t pair[kMax + 8];
};

template <int kMax>
__attribute__((target("avx2"), always_inline)) inline void layWeights(uint64_t p1, uint64_t step, int n,
                                                                       LaidWeights<kMax>& lw) {
  __m256i a = _mm256_setr_epi64x(static_cast<int64_t>(p1), static_cast<int64_t>(p1 + step),
                                 static_cast<int64_t>(p1 + 2 * step), static_cast<int64_t>(p1 + 3 * step));
  __m256i b = _mm256_add_epi64(a, _mm256_set1_epi64x(static_cast<int64_t>(4 * step)));
  const __m256i eight = _mm256_set1_epi64x(static_cast<int64_t>(8 * step));
  const __m256i order = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  for (int i = 0; i < n; i += 8) {
    // the high words of the eight, in order
    const __m256i mixed = _mm256_blend_epi32(_mm256_srli_epi64(a, 32), b, 0xAA);
    const __m256i at = _mm256_permutevar8x32_epi32(mixed, order);
    const __m256i frac = _mm256_and_si256(_mm256_srli_epi32(at, 5), _mm256_set1_epi32(0x7FFF));
    _mm256_store_si256(reinterpret_cast<__m256i*>(lw.pair + i),
                       _mm256_or_si256(_mm256_slli_epi32(frac, 16), _mm256_sub_epi32(_mm256_set1_epi32(32767), frac)));
    a = _mm256_add_epi64(a, eight);
    b = _mm256_add_epi64(b, eight);
  }
}

// The line samples at the first `count` (1 to 4) of positions p, p + step, p + 2 step and p + 3
// step, with their laid-out weights from i: vcInterp4Avx2's sums, fold and blend. Where each sum
// reads comes from the position in the integer unit, which is otherwise idle here, not loaded
// from a laid-out copy. Lanes after count take p again, so that every read stays where the
// positions' own do.
template <int kMax>
__attribute__((target("avx2"), always_inline)) inline __m128i interpolateFour(const int16_t* line, uint64_t p,
                                                                              uint64_t step, int count,
                                                                              const LaidWeights<kMax>& lw, int i) {
  __m256i acc[8];
#pragma GCC unroll 4
  for (int j = 0; j < 4; ++j) {
    const uint64_t at = j < count ? p + j * step : p;
    // a sixteenth on carries into the integer part exactly at phase 15
    const int first = static_cast<int>(static_cast<int64_t>(at) >> 56);
    const int second = static_cast<int>(static_cast<int64_t>(at + (uint64_t{1} << 52)) >> 56);
    const unsigned phase = static_cast<unsigned>(at >> 52) & 15;
    acc[2 * j] = vcDot32Lanes(line + first, vcgInterp + phase * 32);
    acc[2 * j + 1] = vcDot32Lanes(line + second, vcgInterp + ((phase + 1) & 15) * 32);
  }
  return vcBlendWeighted(acc, _mm_load_si128(reinterpret_cast<const __m128i*>(lw.pair + i)));
}

// How many steps vcPosStepBefore takes from pos before `limit`, by one division: the positions
// after the first grow by the step, and each stays while it lies below the limit less a sixteenth.
// -1 where that does not hold in unsigned 64 bits (a position below zero, a limit out of the
// line's range) or the count would be far beyond any run's.
inline int countSteps(uint64_t pos, uint64_t step, int32_t limit) {
  const uint64_t first = (pos & ~uint64_t{1}) + step;
  if (step == 0 || limit < 1 || limit > 127 || static_cast<int64_t>(first) < 0) return -1;
  const uint64_t end = (static_cast<uint64_t>(limit) << 56) - (uint64_t{1} << 52);
  if (first >= end) return 0;
  const uint64_t more = (end - 1 - first) / step;
  return more < (1u << 20) ? static_cast<int>(more) + 1 : -1;
}

// ns samples per symbol from filters of filtLen taps: constants, so that the sums stay in registers.
// The symbols go in runs: all of a run's pass-band samples first, in one line behind the 33 kept,
// then its positions, whose line samples are taken four at a time across the symbols. The
// symbol-by-symbol form steps while the step's second phase reads before its symbol's limit and
// then moves the position back by a symbol; here the position stays in the run's line, so the
// limit is the run's last symbol's, for every step alike: the same steps, in one loop with one
// exit. A run is short enough for the position's integer part to stay below 128.
template <int ns, int filtLen>
__attribute__((target("avx2"), flatten)) void txSymbols(int16_t** out, VCZMOD* mod, VCZFASTBULKDLYHDL* hdl) {
  constexpr int kRun = (127 - (ns + 32)) / ns;
  constexpr int kPositions = 256;  // the modems' steps take under eight per symbol
  const VCZSHAPETAPS& taps = mod->shape;
  int16_t t3[VC_T3SAMPLES];
  std::memcpy(t3, mod->t3Samples, sizeof(t3));
  const int32_t limit = ns + 32;
  const uint64_t step = vcPosStepOf(mod->interpSampInc, mod->interpSampIncLow);
  uint64_t pos = vcPosJoin(mod->interpSampPos, mod->interpSampPosLow);
  int16_t* rd = hdl->fstRdp;
  const int16_t* const wr = hdl->fstWrp;
  const int len = hdl->fstBulkDlyLen;
  const LineLevel level{mod->amplitude};
  LaidWeights<kPositions> laid;
  int16_t* w = *out;
  while (rd < wr) {
    const int run = wr - rd < kRun ? static_cast<int>(wr - rd) : kRun;
    int16_t line[33 + kRun * ns + 4];  // four more: the shaper stores up to four samples at a time
    std::memcpy(line, t3, 33 * sizeof(int16_t));
    int s = 0;
    if constexpr (filtLen > 8)
      for (; s + 4 <= run; s += 4) shapeFourSymbols<ns, filtLen>(rd + s, len, taps, line + s * ns);
    for (; s < run; ++s) {
      if constexpr (filtLen <= 8)
        shapeSymbolNarrow<ns>(rd + s, len, taps, line + s * ns);
      else
        shapeSymbol<ns, filtLen>(rd + s, len, taps, line + s * ns);
    }
    // the run's positions counted and laid out first, then their samples four at a time
    const int32_t runLimit = limit + (run - 1) * ns;
    const int steps = countSteps(pos, step, runLimit);
    for (int done = 0; done < steps;) {
      // counted: laid out eight at a time, no test between them
      const int n = steps - done < kPositions ? steps - done : kPositions;
      uint64_t q = (pos & ~uint64_t{1}) + step;  // the first, as vcPosStepBefore steps
      layWeights(q, step, n, laid);
      pos = q + static_cast<uint64_t>(n - 1) * step;
      int i = 0;
      for (; i + 4 <= n; i += 4, w += 4, q += 4 * step)
        vcStoreUpTo4(w, level(interpolateFour(line, q, step, 4, laid, i)), 4);
      if (i < n) {
        vcStoreUpTo4(w, level(interpolateFour(line, q, step, n - i, laid, i)), n - i);
        w += n - i;
      }
      done += n;
    }
    if (steps < 0) {  // not countable: stepped and tested one by one
      const int16_t* base[kPositions + 3];
      uint32_t at[kPositions + 3];
      int n = 0;
      while (vcPosStepBefore(pos, step, runLimit)) {
        at[n] = vcPosHigh(pos);
        base[n] = line + vcPosInt(at[n]);
        if (++n == kPositions) {
          w = interpolateRun(base, at, n, level, w);
          n = 0;
        }
      }
      w = interpolateRun(base, at, n, level, w);
    }
    pos -= static_cast<uint64_t>(run * ns) << 56;
    // the state the symbol-by-symbol form leaves: the 33 kept, the last symbol's samples after them
    std::memcpy(t3, line + run * ns, 33 * sizeof(int16_t));
    std::memcpy(t3 + 33, line + (run - 1) * ns + 33, ns * sizeof(int16_t));
    rd += run;
  }
  std::memcpy(mod->t3Samples, t3, sizeof(t3));
  mod->interpSampPos = vcPosHigh(pos);
  mod->interpSampPosLow = vcPosLow(pos);
  hdl->fstRdp = rd;
  *out = w;
}

}  // namespace

namespace {

// The sine's quarter with one entry after it, so that a 32-bit gather at any entry stays inside.
struct SineQuarterPadded {
  int16_t v[16384 + 1];
};
constexpr SineQuarterPadded padSineQuarter() {
  SineQuarterPadded t{};
  for (int i = 0; i < 16384; ++i) t.v[i] = vcgSineQuarter.v[i];
  return t;
}
constexpr SineQuarterPadded kSineQuarterPadded = padSineQuarter();

// fxsin of eight 16-bit phases (in 32-bit lanes), as 32-bit lanes.
__attribute__((target("avx2"), always_inline)) inline __m256i sine8(__m256i p) {
  const __m256i flip = _mm256_sub_epi32(_mm256_setzero_si256(), _mm256_and_si256(_mm256_srli_epi32(p, 14), _mm256_set1_epi32(1)));
  const __m256i x = _mm256_and_si256(_mm256_xor_si256(p, flip), _mm256_set1_epi32(0x3FFF));
  const __m256i words = _mm256_i32gather_epi32(reinterpret_cast<const int*>(kSineQuarterPadded.v), x, 2);
  const __m256i r = _mm256_srai_epi32(_mm256_slli_epi32(words, 16), 16);  // the entry, 0 .. 32767
  const __m256i negate = _mm256_srai_epi32(_mm256_slli_epi32(p, 16), 31);  // the second half turn
  return _mm256_sub_epi32(_mm256_xor_si256(r, negate), negate);
}

// Eight 32-bit lanes (each in 16 bits) packed to eight 16-bit ones in order.
__attribute__((target("avx2"), always_inline)) inline __m128i pack8(__m256i v) {
  return _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

// The rotations of recent batches, each under the eight phases it was taken at. A carrier that
// turns a whole number of times in one batch of eight symbols (V.27ter's and V.17's) or in three
// (V.29's, nearly) starts its batches at one phase or at three, frame after frame: comparing the
// phases costs less than the two gathers of the look-up. A batch's slot is chosen by the top bits
// of its first phase.
struct RotationsKept {
  alignas(32) uint32_t phases[8];
  alignas(16) int16_t cos[8];
  alignas(16) int16_t sin[8];
  bool valid;
};
constexpr int kRotationSlots = 8;
thread_local RotationsKept tRotations[kRotationSlots];

__attribute__((target("avx2"), always_inline)) inline void rotations8(__m256i p, __m128i* c, __m128i* s) {
  RotationsKept& kept = tRotations[static_cast<uint32_t>(_mm256_cvtsi256_si32(p)) >> 13];
  const __m256i was = _mm256_load_si256(reinterpret_cast<const __m256i*>(kept.phases));
  if (kept.valid && _mm256_movemask_epi8(_mm256_cmpeq_epi32(was, p)) == -1) {
    *c = _mm_load_si128(reinterpret_cast<const __m128i*>(kept.cos));
    *s = _mm_load_si128(reinterpret_cast<const __m128i*>(kept.sin));
    return;
  }
  *c = pack8(sine8(_mm256_and_si256(_mm256_add_epi32(p, _mm256_set1_epi32(16384)), _mm256_set1_epi32(0xFFFF))));
  *s = pack8(sine8(p));
  _mm256_store_si256(reinterpret_cast<__m256i*>(kept.phases), p);
  _mm_store_si128(reinterpret_cast<__m128i*>(kept.cos), *c);
  _mm_store_si128(reinterpret_cast<__m128i*>(kept.sin), *s);
  kept.valid = true;
}

}  // namespace

__attribute__((target("avx2"))) int vcModulateRunAvx2(int16_t* w, int n, int len, uint32_t* phase, uint32_t inc) {
  uint32_t ph = *phase;
  const __m256i steps = _mm256_mullo_epi32(_mm256_set1_epi32(static_cast<int>(inc)), _mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 8));
  int i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i p = _mm256_srli_epi32(_mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(ph)), steps), 16);
    __m128i c, s;
    rotations8(p, &c, &s);
    const __m128i re = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + i));
    const __m128i im = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + i + len));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w + i), _mm_sub_epi16(_mm_mulhrs_epi16(re, c), _mm_mulhrs_epi16(im, s)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w + i + len), _mm_add_epi16(_mm_mulhrs_epi16(re, s), _mm_mulhrs_epi16(im, c)));
    ph += 8 * inc;
  }
  *phase = ph;
  return i;
}

bool vcTxSymbolsAvx2(int16_t** out, VCZMOD* mod, VCZFASTBULKDLYHDL* hdl) {
  // taps set around the setter have no laid-out form: the baseline form reads them as they are
  if (mod->shape.from != mod->passBandCoeffp) return false;
  if (mod->numSample == 3 && mod->txFiltLen == 20) {
    txSymbols<3, 20>(out, mod, hdl);
    return true;
  }
  if (mod->numSample == 6 && mod->txFiltLen == 6) {
    txSymbols<6, 6>(out, mod, hdl);
    return true;
  }
  return false;
}

#endif
