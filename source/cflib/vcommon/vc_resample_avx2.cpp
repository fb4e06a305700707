// The receive resampler's AVX2 form: positions stepped four at a time with the limit tested once
// when all four surely fall inside the block, each phase's two tap rows read from one table, and
// the four samples interpolated and blended together. Every output and the position left behind
// are vcfResample's baseline bits: the same position steps, the same sums, shifts, saturations
// and blend.
#include "vc_interp_avx2.h"
#include "vc_txpos.h"

#if defined(VC_HAVE_AVX2_KERNELS)

__attribute__((target("avx2"))) int16_t vcResampleAvx2(VCZBUF* rd, const VCZBUF* wr, VCZBUF* ob, VCZRESAMPLE* rs) {
  const int32_t avail = static_cast<int32_t>(wr->bufp - rd->bufp);
  if (avail <= 0) return 0;
  const int16_t* in = rd->bufp;
  int16_t* const first = ob->bufp;
  int16_t* out = first;
  // every step drops the low word's lowest bit: cleared once, the steps are plain additions
  uint64_t pos = vcPosJoin(rs->interpSampPos, rs->interpSampPosLow) & ~uint64_t{1};
  const uint64_t step = vcPosStepOf(rs->interpSampInc, rs->interpSampIncLow);
  // a step moves the integer part by at most this (the carries of the fraction and the low word)
  const int32_t stepMost = static_cast<int32_t>(rs->interpSampInc >> 24) + 1;
  // the fourth step's second read still starts before the limit: no test per step
  while (vcPosInt(vcPosHigh(pos)) + 4 * stepMost + 1 < avail) {
    const uint32_t p0 = vcPosHigh(pos += step), p1 = vcPosHigh(pos += step), p2 = vcPosHigh(pos += step),
                   p3 = vcPosHigh(pos += step);
    const __m128i y = vcInterp4At(in, p0, p1, p2, p3);
    vcStoreUpTo4(out, _mm_packs_epi32(y, y), 4);
    out += 4;
  }
  // the block's last few, each tested against the limit
  for (;;) {
    uint32_t p[4];
    int n = 0;
    for (; n < 4 && vcPosStepBefore(pos, step, avail); ++n) p[n] = vcPosHigh(pos);
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
  if (out != first) rs->interpSampPosLow = vcPosLow(pos);
  rs->interpSampPos = vcPosHigh(pos) - (static_cast<uint32_t>(avail) << 24);
  return static_cast<int16_t>(out - first);
}

#endif
