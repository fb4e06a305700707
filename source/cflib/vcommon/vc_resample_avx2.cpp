// The receive resampler's AVX2 form: positions stepped four at a time with the limit tested once
// when all four surely fall inside the block, each phase's two tap rows read from one table, and
// the four samples interpolated and blended together. Every output and the position left behind
// are vcfResample's baseline bits: the same position steps, the same sums, shifts, saturations
// and blend.
#include <array>

#include "vc_interp_avx2.h"
#include "vc_txpos.h"

#if defined(VC_HAVE_AVX2_KERNELS)

namespace {

// Where a phase's two sums read: its own taps, the next phase's, and one sample on for the
// second after phase 15 (the next phase is then phase 0 of the next sample).
struct PhaseReads {
  const int16_t* first;
  const int16_t* second;
  int32_t secondShift;
};

const std::array<PhaseReads, 16> kReads = [] {
  std::array<PhaseReads, 16> r{};
  for (int k = 0; k < 16; ++k) r[k] = {&vcgInterp[k * 32], &vcgInterp[((k + 1) & 15) * 32], k == 15 ? 1 : 0};
  return r;
}();

__attribute__((target("avx2"), always_inline)) inline void lanesAt(const int16_t* in, uint32_t pos, __m256i* a,
                                                                   __m256i* b) {
  const int16_t* base = in + vcPosInt(pos);
  const PhaseReads& r = kReads[(pos >> 20) & 15];
  *a = vcDot32Lanes(base, r.first);
  *b = vcDot32Lanes(base + r.secondShift, r.second);
}

// vcInterp4Avx2's samples at in + position, the positions in registers.
__attribute__((target("avx2"), always_inline)) inline __m128i interp4(const int16_t* in, uint32_t p0, uint32_t p1,
                                                                      uint32_t p2, uint32_t p3) {
  __m256i acc[8];
  lanesAt(in, p0, &acc[0], &acc[1]);
  lanesAt(in, p1, &acc[2], &acc[3]);
  lanesAt(in, p2, &acc[4], &acc[5]);
  lanesAt(in, p3, &acc[6], &acc[7]);
  const __m256i sums = _mm256_srai_epi32(vcSum8x8(acc), 15);
  const __m256i ab = _mm256_packs_epi32(sums, _mm256_setzero_si256());
  const __m128i pos = _mm_setr_epi32(static_cast<int32_t>(p0), static_cast<int32_t>(p1), static_cast<int32_t>(p2),
                                     static_cast<int32_t>(p3));
  const __m128i frac = _mm_and_si128(_mm_srli_epi32(pos, 5), _mm_set1_epi32(0x7FFF));
  const __m128i w4 = _mm_or_si128(_mm_slli_epi32(frac, 16), _mm_sub_epi32(_mm_set1_epi32(32767), frac));
  const __m256i w = _mm256_permute4x64_epi64(_mm256_castsi128_si256(w4), 0x50);
  const __m256i y = _mm256_madd_epi16(ab, w);
  const __m128i blended = _mm_srai_epi32(_mm256_castsi256_si128(_mm256_permute4x64_epi64(y, 0x08)), 15);
  return _mm_packs_epi32(blended, blended);
}

// vcPosAdd64's position as one 63-bit number (the high word above the low word's upper 31 bits,
// whose lowest bit the step drops): one addition steps it, the high word is bits 31 to 62.
uint64_t joined(uint32_t hi, uint32_t lo) { return (uint64_t{hi} << 31) | (lo >> 1); }
uint32_t highWord(uint64_t p) { return static_cast<uint32_t>(p >> 31); }
uint32_t lowWord(uint64_t p) { return static_cast<uint32_t>(p << 1); }

}  // namespace

__attribute__((target("avx2"))) int16_t vcResampleAvx2(VCZBUF* rd, const VCZBUF* wr, VCZBUF* ob, VCZRESAMPLE* rs) {
  const int32_t avail = static_cast<int32_t>(wr->bufp - rd->bufp);
  if (avail <= 0) return 0;
  const int16_t* in = rd->bufp;
  int16_t* const first = ob->bufp;
  int16_t* out = first;
  uint32_t posLow = rs->interpSampPosLow;
  uint64_t pos = joined(rs->interpSampPos, posLow);
  const uint64_t inc = joined(rs->interpSampInc, rs->interpSampIncLow);
  // a step moves the integer part by at most this (the carries of the fraction and the low word)
  const int32_t stepMost = static_cast<int32_t>(rs->interpSampInc >> 24) + 1;
  // the fourth step's second read still starts before the limit: no test per step
  while (vcPosInt(highWord(pos)) + 4 * stepMost + 1 < avail) {
    const uint32_t p0 = highWord(pos += inc), p1 = highWord(pos += inc), p2 = highWord(pos += inc),
                   p3 = highWord(pos += inc);
    vcStoreUpTo4(out, interp4(in, p0, p1, p2, p3), 4);
    out += 4;
  }
  // the block's last few, each tested against the limit
  for (;;) {
    uint32_t p[4];
    int n = 0;
    for (; n < 4; ++n) {
      const uint32_t next = highWord(pos + inc);
      if (vcPosSecondBase(next) >= avail) break;
      pos += inc;
      p[n] = next;
    }
    if (n == 0) break;
    for (int i = n; i < 4; ++i) p[i] = p[0];  // reads where the first one's do
    vcStoreUpTo4(out, interp4(in, p[0], p[1], p[2], p[3]), n);
    out += n;
    if (n < 4) break;
  }
  ob->bufp = out;
  rd->bufp = wr->bufp;
  // an untouched position keeps its low word's lowest bit, as the baseline leaves it
  if (out != first) posLow = lowWord(pos);
  rs->interpSampPos = highWord(pos) - (static_cast<uint32_t>(avail) << 24);
  rs->interpSampPosLow = posLow;
  return static_cast<int16_t>(out - first);
}

#endif
