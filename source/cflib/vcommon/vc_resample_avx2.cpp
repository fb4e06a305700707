// The receive resampler's AVX2 form: positions stepped four at a time with the limit tested once
// when all four surely fall inside the block, each phase's two tap rows read from one table, and
// the four samples interpolated and blended together. Every output and the position left behind
// are vcfResample's baseline bits: the same position steps, the same sums, shifts, saturations
// and blend.
#include "vc_interp_avx2.h"
#include "vc_txpos.h"

#if defined(VC_HAVE_AVX2_KERNELS)

namespace {

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
    const __m128i y = vcInterp4At(in, p0, p1, p2, p3);
    vcStoreUpTo4(out, _mm_packs_epi32(y, y), 4);
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
    const __m128i y = vcInterp4At(in, p[0], p[1], p[2], p[3]);
    vcStoreUpTo4(out, _mm_packs_epi32(y, y), n);
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
