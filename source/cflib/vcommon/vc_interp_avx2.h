// The phase-blend interpolator four output samples at a time, for processors with AVX2: each
// sample's two 32-tap sums stay in their own register until one folding tree (blends and
// shuffles) takes all eight at once, and the saturations and the blend run in the vector unit. Every output has the
// bits of vcInterpAtWith: the same wrapping sums, the same shifts, saturations and blend.
#pragma once

#include <cstdint>

#include "vc_dot_avx2.h"
#include "vc_math.h"
#include "vc_txpos.h"

#if defined(VC_HAVE_AVX2_KERNELS)

// Two vectors' adjacent lanes summed, interleaved: blends instead of horizontal adds, so that each
// level takes one shuffle. sh swaps the lanes (0xB1) or lane pairs (0x4E), mask picks b's.
template <int sh, int mask>
__attribute__((target("avx2"), always_inline)) inline __m256i vcFoldPair(__m256i a, __m256i b) {
  const __m256i same = _mm256_blend_epi32(a, b, mask);
  const __m256i other = _mm256_shuffle_epi32(_mm256_blend_epi32(b, a, mask), sh);
  return _mm256_add_epi32(same, other);
}

// Eight wrapping sums of eight lanes each, in the order of v.
__attribute__((target("avx2"), always_inline)) inline __m256i vcSum8x8(const __m256i v[8]) {
  const __m256i p01 = vcFoldPair<0xB1, 0xAA>(v[0], v[1]), p23 = vcFoldPair<0xB1, 0xAA>(v[2], v[3]);
  const __m256i p45 = vcFoldPair<0xB1, 0xAA>(v[4], v[5]), p67 = vcFoldPair<0xB1, 0xAA>(v[6], v[7]);
  // each 128-bit half of q0 holds v0..v3's sums of that half, q1 the same for v4..v7
  const __m256i q0 = vcFoldPair<0x4E, 0xCC>(p01, p23), q1 = vcFoldPair<0x4E, 0xCC>(p45, p67);
  return _mm256_add_epi32(_mm256_blend_epi32(q0, q1, 0xF0), _mm256_permute2x128_si256(q0, q1, 0x21));
}

// Lanes of the 32 samples ending at p times the 32 taps at h, not yet summed.
__attribute__((target("avx2"), always_inline)) inline __m256i vcDot32Lanes(const int16_t* p, const int16_t* h) {
  return _mm256_add_epi32(_mm256_madd_epi16(vcLoad16(p - 31), vcLoad16(h)),
                          _mm256_madd_epi16(vcLoad16(p - 15), vcLoad16(h + 16)));
}

// Four interpolated samples, as 32-bit lanes in order, from the lanes of their two sums each
// (acc[2 i], acc[2 i + 1]) and their blend weights ((frac << 16) | (32767 - frac) in each lane).
__attribute__((target("avx2"), always_inline)) inline __m128i vcBlendWeighted(const __m256i acc[8], __m128i w4) {
  // pairs a0 b0 a1 b1 | a2 b2 a3 b3, saturated to 16 bits after the shift
  const __m256i sums = _mm256_srai_epi32(vcSum8x8(acc), 15);
  const __m256i ab = _mm256_packs_epi32(sums, _mm256_setzero_si256());
  // blended as (32767 - frac) * a + frac * b: one multiply-add of each (a, b) pair
  const __m256i w = _mm256_permute4x64_epi64(_mm256_castsi128_si256(w4), 0x50);  // w0 w1 w0 w1 | w2 w3 w2 w3
  const __m256i y = _mm256_madd_epi16(ab, w);  // in lanes 0, 1, 4 and 5
  return _mm_srai_epi32(_mm256_castsi256_si128(_mm256_permute4x64_epi64(y, 0x08)), 15);
}

// The same with the weights from the samples' positions.
__attribute__((target("avx2"), always_inline)) inline __m128i vcBlend4(const __m256i acc[8], __m128i pos) {
  const __m128i frac = _mm_and_si128(_mm_srli_epi32(pos, 5), _mm_set1_epi32(0x7FFF));
  return vcBlendWeighted(acc, _mm_or_si128(_mm_slli_epi32(frac, 16), _mm_sub_epi32(_mm_set1_epi32(32767), frac)));
}

// Where a phase's two sums read: its own taps, the next phase's, and one sample on for the
// second after phase 15 (the next phase is then phase 0 of the next sample).
struct PhaseReads {
  const int16_t* first;
  const int16_t* second;
  int32_t secondShift;
};

struct PhaseReadsTable {
  PhaseReads phase[16];
};
inline constexpr PhaseReadsTable vcgPhaseReads = [] {
  PhaseReadsTable r{};
  for (int k = 0; k < 16; ++k) r.phase[k] = {&vcgInterp[k * 32], &vcgInterp[((k + 1) & 15) * 32], k == 15 ? 1 : 0};
  return r;
}();

// The lanes of the two sums of the sample at base and position pos.
__attribute__((target("avx2"), always_inline)) inline void vcPhaseLanes(const int16_t* base, uint32_t pos, __m256i* a,
                                                                      __m256i* b) {
  const PhaseReads& r = vcgPhaseReads.phase[(pos >> 20) & 15];
  *a = vcDot32Lanes(base, r.first);
  *b = vcDot32Lanes(base + r.secondShift, r.second);
}

// The interpolated samples at base[i] and pos[i] for i < 4, as 32-bit lanes in order. The phase
// after 15 is phase 0 read one sample on.
__attribute__((target("avx2"), always_inline)) inline __m128i vcInterp4Avx2(const int16_t* const base[4], const uint32_t pos[4]) {
  __m256i acc[8];
#pragma GCC unroll 4
  for (int i = 0; i < 4; ++i) vcPhaseLanes(base[i], pos[i], &acc[2 * i], &acc[2 * i + 1]);
  return vcBlend4(acc, _mm_loadu_si128(reinterpret_cast<const __m128i*>(pos)));
}


// A sample's two sums from their lanes, folded by one tree and saturated to 16 bits: a in the low
// half of lane 0, b in the high half.
__attribute__((target("avx2"), always_inline)) inline __m128i vcFoldSums1(__m256i a, __m256i b) {
  const __m256i h = _mm256_hadd_epi32(a, b);  // a01 a23 b01 b23 | a45 a67 b45 b67
  __m128i s = _mm_add_epi32(_mm256_castsi256_si128(h), _mm256_extracti128_si256(h, 1));
  s = _mm_hadd_epi32(s, s);                       // a b a b
  return _mm_packs_epi32(_mm_srai_epi32(s, 15), s);  // a and b saturated to 16 bits, side by side
}

// The sample those sums blend to at pos, in lane 0 (a 32-bit value within 16 bits): the timing
// tracker's filters go on from it there.
__attribute__((target("avx2"), always_inline)) inline __m128i vcBlendSums1(__m128i sums, uint32_t pos) {
  const int32_t frac = static_cast<int32_t>((pos >> 5) & 0x7FFF);
  const __m128i w = _mm_cvtsi32_si128((frac << 16) | (32767 - frac));
  return _mm_srai_epi32(_mm_madd_epi16(sums, w), 15);
}

// The lanes of the two sums of the sample at base and pos when its phase is known to be below 15,
// so that both read the same 32 samples: loaded once for both tap rows.
__attribute__((target("avx2"), always_inline)) inline void vcSameReadsLanes(const int16_t* base, uint32_t pos,
                                                                          __m256i* a, __m256i* b) {
  const int16_t* h = &vcgInterp[((pos >> 20) & 15) * 32];
  const __m256i older = vcLoad16(base - 31), newer = vcLoad16(base - 15);
  *a = _mm256_add_epi32(_mm256_madd_epi16(older, vcLoad16(h)), _mm256_madd_epi16(newer, vcLoad16(h + 16)));
  *b = _mm256_add_epi32(_mm256_madd_epi16(older, vcLoad16(h + 32)), _mm256_madd_epi16(newer, vcLoad16(h + 48)));
}

// The lanes of the two sums of the sample at base and pos: the reads shared below phase 15. (A
// fixed rate's phases repeat in a short cycle, which the branch learns.)
__attribute__((target("avx2"), always_inline)) inline void vcLanesShared(const int16_t* base, uint32_t pos, __m256i* a,
                                                                       __m256i* b) {
  if (((pos >> 20) & 15) == 15)
    vcPhaseLanes(base, pos, a, b);
  else
    vcSameReadsLanes(base, pos, a, b);
}

// vcInterp4Avx2's samples at in + position, the positions in registers.
__attribute__((target("avx2"), always_inline)) inline __m128i vcInterp4At(const int16_t* in, uint32_t p0, uint32_t p1,
                                                                      uint32_t p2, uint32_t p3) {
  __m256i acc[8];
  vcLanesShared(in + vcPosInt(p0), p0, &acc[0], &acc[1]);
  vcLanesShared(in + vcPosInt(p1), p1, &acc[2], &acc[3]);
  vcLanesShared(in + vcPosInt(p2), p2, &acc[4], &acc[5]);
  vcLanesShared(in + vcPosInt(p3), p3, &acc[6], &acc[7]);
  return vcBlend4(acc, _mm_setr_epi32(static_cast<int32_t>(p0), static_cast<int32_t>(p1), static_cast<int32_t>(p2),
                                      static_cast<int32_t>(p3)));
}

// The two sums of the sample at base and pos (vcFoldSums1's form), for callers that need each
// sample as soon as it is made (the timing tracker's filters take them at once); the phase after
// 15 is phase 0 read one sample on, below it the reads are shared.
__attribute__((target("avx2"), always_inline)) inline __m128i vcInterpSums1Avx2(const int16_t* base, uint32_t pos) {
  __m256i a, b;
  vcLanesShared(base, pos, &a, &b);
  return vcFoldSums1(a, b);
}

// One interpolated sample (in lane 0).
__attribute__((target("avx2"), always_inline)) inline __m128i vcInterp1Avx2(const int16_t* base, uint32_t pos) {
  return vcBlendSums1(vcInterpSums1Avx2(base, pos), pos);
}

// The sample of lane 0 as it is stored.
__attribute__((target("avx2"), always_inline)) inline int16_t vcLane0(__m128i v) {
  return static_cast<int16_t>(_mm_cvtsi128_si32(v));
}

// Interpolates each position as it comes, as VcInterpEach does.
struct VcInterpEachAvx2 {
  int16_t* out;
  __attribute__((target("avx2"))) void push(const int16_t* b, uint32_t p) { *out++ = vcLane0(vcInterp1Avx2(b, p)); }
  void flush() {}
};

// The first n (1 to 4) 16-bit lanes of v to out, without a library call.
__attribute__((target("avx2"), always_inline)) inline void vcStoreUpTo4(int16_t* out, __m128i v, int n) {
  if (n == 4) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), v);
    return;
  }
  out[0] = static_cast<int16_t>(_mm_extract_epi16(v, 0));
  if (n > 1) out[1] = static_cast<int16_t>(_mm_extract_epi16(v, 1));
  if (n > 2) out[2] = static_cast<int16_t>(_mm_extract_epi16(v, 2));
}

// vcfResample's bits for processors with AVX2, in whole steps of four positions.
int16_t vcResampleAvx2(VCZBUF* rd, const VCZBUF* wr, VCZBUF* out, VCZRESAMPLE* rs);

// The transmit back end with the sums above and the pulse shaper's sums folded by the same tree:
// vcfTxSymbols' bits for the modems' shapers (three samples per symbol from 20 taps, six from six),
// with at least 15 samples of history in front of the fast bulk delay line. False for any other
// shaper, which is left to the baseline form.
bool vcTxSymbolsAvx2(int16_t** out, VCZMOD* mod, VCZFASTBULKDLYHDL* hdl);

// vcfModulateRun's eights of symbols with the same bits: the carrier's sine and cosine gathered
// from the quarter table, the Q15 products by the rounding multiply-high. Returns how many
// symbols it turned (a multiple of eight), the phase moved on by as many.
int vcModulateRunAvx2(int16_t* w, int n, int len, uint32_t* phase, uint32_t inc);

#endif
