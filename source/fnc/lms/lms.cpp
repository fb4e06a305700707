#include "lms.h"

#include <bit>
#include <cstring>

#include "level.h"
#include "lhapi.h"
#include "lms_kernels.h"
#include "lpc.h"
#include "lsv_math.h"

using lsvmath::sat16;
using lsvmath::wrap32;

namespace {

// The output of the cancel from the wrapping sum of products.
inline int16_t cancelOutput(int16_t sIn, int32_t acc) {
  return sat16(wrap32(int64_t{sIn} * 32768 + 16384 - acc) >> 15);
}

// One output of the cancel: the 32-bit sum of products wraps, as the accumulator does.
inline int16_t cancelOne(const int16_t* rOut, const int16_t* h, int16_t sIn, int T, int n) {
  uint32_t acc = 0;
  for (int k = 0; k < T; ++k) acc += static_cast<uint32_t>(int32_t{rOut[n - k]} * h[k]);
  return cancelOutput(sIn, static_cast<int32_t>(acc));
}

// Four outputs per step, eight taps per inner step: the same sums in another order, which the
// wrapping accumulation makes identical.
void cancelBlock4(int16_t* sOut, const int16_t* rOut, const int16_t* h, const int16_t* sIn, int T,
                  int N) {
  for (int n = 0; n < N; n += 4) {
    uint32_t acc[4] = {};
    int k = 0;
    for (; k + 8 <= T; k += 8) {
      for (int l = 0; l < 4; ++l) {
        for (int t = 0; t < 8; ++t) acc[l] += static_cast<uint32_t>(int32_t{rOut[n + l - k - t]} * h[k + t]);
      }
    }
    for (; k < T; ++k) {
      for (int l = 0; l < 4; ++l) acc[l] += static_cast<uint32_t>(int32_t{rOut[n + l - k]} * h[k]);
    }
    for (int l = 0; l < 4; ++l) sOut[n + l] = cancelOutput(sIn[n + l], static_cast<int32_t>(acc[l]));
  }
}

bool kernelsTake(int T) { return T % kLmsKernelTapStep == 0 && T > 0 && T <= kLmsMaxTaps; }

// The cancel through the kernels: the taps reversed once, then all outputs' sums.
void cancelKernels(int16_t* sOut, const int16_t* rOut, const int16_t* h, const int16_t* sIn, int T, int N) {
  const LmsKernels& k = lmsKernels();
  int16_t hr[kLmsMaxTaps];
  k.reverse(hr, h, T);
  int32_t acc[40];
  for (int n = 0; n < N; n += 40) {
    const int L = N - n < 40 ? N - n : 40;
    k.dots(acc, rOut + n - T + 1, hr, T, L);
    for (int l = 0; l < L; ++l) sOut[n + l] = cancelOutput(sIn[n + l], acc[l]);
  }
}

inline int32_t shiftRight(int32_t s, int hExp) { return hExp >= 32 ? (s < 0 ? -1 : 0) : s >> hExp; }

inline int16_t adaptOne(const int16_t* rOut, int16_t h, const int16_t* e, int i, int N, int hExp) {
  uint32_t acc = 0;
  for (int k = 0; k < N; ++k) acc += static_cast<uint32_t>(int32_t{rOut[k - i]} * e[k]);
  const int32_t S = shiftRight(static_cast<int32_t>(acc), hExp);
  return sat16((int64_t{h} * 32768 + S + 16384) >> 15);
}

int checkedExp(int hExp) {
  if (hExp < 0) {
    LHAPI_ASSERT_FAIL();
    return 0;
  }
  return hExp;
}

// The scaled error of one sub-block: normalised, times the step mantissa; returns the shift that
// the adaptation applies, limited to 0..31.
int scaleError(int16_t* e, int n, int16_t stepSize, int16_t stepExp) {
  const int z = lsvmath::utilVectorNorm(e, n);
  for (int k = 0; k < n; ++k) e[k] = static_cast<int16_t>((int32_t{e[k]} * (stepSize >> 4) * 2) >> 16);
  const int hExp = z - 4 - stepExp;
  return hExp < 0 ? 0 : (hExp > 31 ? 31 : hExp);
}

}  // namespace

uint32_t lmsCancel(int16_t* sOut, const int16_t* rOut, const int16_t* h, const int16_t* sIn,
                   int tailLength, int blocksize, int32_t* u, int16_t* /*scratchp*/) {
  if (kernelsTake(tailLength)) {
    cancelKernels(sOut, rOut, h, sIn, tailLength, blocksize);
  } else if ((tailLength & 3) == 0 && (blocksize & 3) == 0) {
    cancelBlock4(sOut, rOut, h, sIn, tailLength, blocksize);
  } else {
    for (int n = 0; n < blocksize; ++n) sOut[n] = cancelOne(rOut, h, sIn[n], tailLength, n);
  }
  return u != nullptr ? levelBlockPwrHpf(sOut, blocksize, 8, u) : 0;
}

uint32_t lmsCancelprog(int16_t* sOut, const int16_t* rOut, const int16_t* h, const int16_t* sIn,
                       int tailLength, int blocksize, int32_t* u, int16_t* /*scratchp*/) {
  for (int n = 0; n < blocksize; ++n) {
    int64_t acc = 0;  // doubled products, saturated to 32 bits
    for (int k = 0; k < tailLength; ++k) {
      acc = lsvmath::sat32(acc + 2 * int64_t{rOut[n - k]} * h[k]);
    }
    sOut[n] = sat16((int64_t{sIn[n]} * 65536 - acc + 32768) >> 16);
  }
  return u != nullptr ? levelBlockPwrHpf(sOut, blocksize, 8, u) : 0;
}

void lmsAdapt(const int16_t* rOut, int16_t* h, const int16_t* sOut, int tailLength, int blocksize,
              int hExp, int16_t* /*scratchp*/) {
  hExp = checkedExp(hExp);
  // The four- and six-coefficient kernels compute these same wrapping sums.
  for (int i = 0; i < tailLength; ++i) h[i] = adaptOne(rOut, h[i], sOut, i, blocksize, hExp);
}

void lmsAdaptprog(const int16_t* rOut, int16_t* h, const int16_t* sOut, int tailLength,
                  int blocksize, int hExp, int16_t* scratchp) {
  lmsAdapt(rOut, h, sOut, tailLength, blocksize, hExp, scratchp);
}

int16_t lmsStepSize(const int16_t* rOut, int16_t* stepExp, int blocksize, int16_t alpha,
                    int blocksizeLms, int tailLength) {
  const int Nb = blocksizeLms;
  const int T = tailLength;
  LHAPI_ASSERT(Nb == 8 || Nb == 10 || Nb == 20 || Nb == 40);
  LHAPI_ASSERT(blocksize == 8 || blocksize == 20 || blocksize == 40);
  LHAPI_ASSERT(Nb <= blocksize);
  LHAPI_ASSERT(T >= 1 && T <= 768);
  LHAPI_ASSERT(Nb > 0 && blocksize % Nb == 0);
  if (Nb <= 0 || T < 1) return 0;
  // Each window of T + Nb samples is the previous one moved on by Nb: its exact energy is the
  // previous energy less the Nb samples left behind plus the Nb samples taken in.
  const auto squares = lmsKernels().energy;
  uint32_t P = 0;
  int64_t window = squares(rOut - T, T + Nb);
  for (int j = 0; j < blocksize; j += Nb) {
    if (j > 0) window += squares(rOut + j, Nb) - squares(rOut + j - T - Nb, Nb);
    const int64_t e = window >> 9;
    const uint32_t E = e > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(e);
    if (E > P) P = E;
  }
  LHAPI_ASSERT(P <= 0x7FFFFFFE);
  if (P < 100u * static_cast<uint32_t>(T + Nb)) return 0;
  // Normalised until bit 30 or 31 is set (P > 0 here): e1 shifts, one less than the leading zeros.
  const int e1 = P >= 0x40000000u ? 0 : std::countl_zero(P) - 1;
  const uint64_t pn = uint64_t{P} << e1;
  const int32_t Pm = static_cast<int32_t>(pn >> 16 > 32767 ? 32767 : pn >> 16);
  int e2 = 0;
  int32_t am = alpha;
  while (am > 0 && am < 16384) {
    am <<= 1;
    ++e2;
  }
  const int32_t m = (Pm * am) >> 15;
  const int f = m < 16384 ? 1 : 0;
  *stepExp = static_cast<int16_t>(*stepExp + e1 + e2 + f);
  const int32_t den = f ? 2 * m : m;
  return lsvmath::utildiv_s(16383, static_cast<int16_t>(den > 32767 ? 32767 : den));
}

int16_t lmsStepSizeprog(const int16_t* rOut, int16_t* stepExp, int blocksize, int16_t alpha,
                        int blocksizeLms, int tailLength) {
  return lmsStepSize(rOut, stepExp, blocksize, alpha, blocksizeLms, tailLength);
}

namespace {

// The block adaptation through the kernels, on a reversed copy of the taps: each sub-block's tap
// update computes, in the same pass, the next sub-block's sums with the updated taps, which are
// the sums its cancel would form.
uint32_t blockAdaptKernels(const int16_t* sIn, const int16_t* rOut, int16_t* h, int16_t stepSize,
                           int16_t stepExp, int blocksize, int Nb, int T, int32_t* u, int16_t* scratch) {
  const LmsKernels& k = lmsKernels();
  int16_t hr[kLmsMaxTaps];
  int32_t acc[40];
  k.reverse(hr, h, T);
  k.dots(acc, rOut - T + 1, hr, T, Nb);
  uint32_t power = 0;
  for (int off = 0; off < blocksize; off += Nb) {
    int16_t* e = scratch + off;
    for (int n = 0; n < Nb; ++n) e[n] = cancelOutput(sIn[off + n], acc[n]);
    if (u != nullptr) power += levelBlockPwrHpf(e, Nb, 8, u);
    const int hExp = scaleError(e, Nb, stepSize, stepExp);
    const int next = off + Nb < blocksize ? Nb : 0;
    k.adaptDots(hr, rOut + off - T + 1, e, Nb, hExp, T, acc, next);
  }
  k.reverse(h, hr, T);
  return power | 1u;
}

}  // namespace

uint32_t lmsBlockAdapt(const int16_t* sIn, const int16_t* rOut, int16_t* h, int16_t stepSize,
                       int16_t stepExp, int blocksize, int blocksizeLms, int tailLength, int32_t* u,
                       int16_t* scratch) {
  if (kernelsTake(tailLength) && blocksizeLms > 0 && blocksizeLms <= 40 && blocksize % blocksizeLms == 0) {
    return blockAdaptKernels(sIn, rOut, h, stepSize, stepExp, blocksize, blocksizeLms, tailLength, u, scratch);
  }
  uint32_t power = 0;
  for (int off = 0; off < blocksize; off += blocksizeLms) {
    int16_t* e = scratch + off;
    power += lmsCancel(e, rOut + off, h, sIn + off, tailLength, blocksizeLms, u, scratch + blocksize);
    const int hExp = scaleError(e, blocksizeLms, stepSize, stepExp);
    lmsAdapt(rOut + off, h, e, tailLength, blocksizeLms, hExp, scratch + blocksize);
  }
  return power | 1u;
}

uint32_t lmsBlockAdaptprog(const int16_t* sIn, const int16_t* rOut, int16_t* h, int16_t stepSize,
                           int16_t stepExp, int blocksize, int blocksizeLms, int tailLength,
                           int32_t* u, int16_t* scratch, int16_t* scratchprog) {
  uint32_t power = 0;
  for (int off = 0; off < blocksize; off += blocksizeLms) {
    int16_t* e = scratch + off;
    power += lmsCancelprog(e, rOut + off, h, sIn + off, tailLength, blocksizeLms, u, scratch + blocksize);
    std::memcpy(scratchprog, e, blocksizeLms * sizeof(int16_t));
    const int hExp = scaleError(scratchprog, blocksizeLms, stepSize, stepExp);
    lmsAdaptprog(rOut + off, h, scratchprog, tailLength, blocksizeLms, hExp, scratch + blocksize);
  }
  return power | 1u;
}

namespace {

uint32_t whiten(const int16_t* sIn, int16_t* sOut, const int16_t* rOut, const int16_t* rOutW,
                int16_t* h, int16_t stepSize, int16_t stepExp, int blocksize, int Nb, int T,
                const int16_t* a, int m, int32_t* u, int16_t* scratch, bool plain) {
  LHAPI_ASSERT(blocksize <= 40);
  if (blocksize > 40 || m < 0 || m > LPC_MAX_ORDER) return 1;
  uint32_t power = 0;
  for (int off = 0; off < blocksize; off += Nb) {
    power += plain ? lmsCancelprog(sOut + off, rOut + off, h, sIn + off, T, Nb, u, scratch)
                   : lmsCancel(sOut + off, rOut + off, h, sIn + off, T, Nb, u, scratch);
    // The analysis filter reads m errors before the sub-block: the ones already produced, or 0.
    int16_t hist[LPC_MAX_ORDER + 40] = {};
    for (int k = 1; k <= m; ++k) hist[m - k] = off - k >= 0 ? sOut[off - k] : 0;
    std::memcpy(hist + m, sOut + off, Nb * sizeof(int16_t));
    int16_t* e = scratch;
    lpc_analysisprog(a, hist + m, e, Nb, m);
    const int z = lsvmath::utilVectorNorm(e, Nb);
    for (int k = 0; k < Nb; ++k) e[k] = static_cast<int16_t>((int32_t{e[k]} * (stepSize >> 4)) >> 15);
    const int hExp = z - 4 - stepExp;
    lmsAdapt(rOutW + off, h, e, T, Nb, hExp < 0 ? 0 : (hExp > 31 ? 31 : hExp), scratch + Nb);
  }
  return power | 1u;
}

}  // namespace

uint32_t lmsWhitenAdapt(const int16_t* sIn, int16_t* sOut, const int16_t* rOut,
                        const int16_t* rOutW, int16_t* h, int16_t stepSize, int16_t stepExp,
                        int blocksize, int blocksizeLms, int tailLength, const int16_t* a, int m,
                        int32_t* u, int16_t* scratch) {
  return whiten(sIn, sOut, rOut, rOutW, h, stepSize, stepExp, blocksize, blocksizeLms, tailLength,
                a, m, u, scratch, false);
}

uint32_t lmsWhitenAdaptprog(const int16_t* sIn, int16_t* sOut, const int16_t* rOut,
                            const int16_t* rOutW, int16_t* h, int16_t stepSize, int16_t stepExp,
                            int blocksize, int blocksizeLms, int tailLength, const int16_t* a,
                            int m, int32_t* u, int16_t* scratch, int16_t* /*scratchprog*/) {
  return whiten(sIn, sOut, rOut, rOutW, h, stepSize, stepExp, blocksize, blocksizeLms, tailLength,
                a, m, u, scratch, true);
}
