// The portable kernels (the reference form) and the choice of the form at start-up.
#include "lms_kernels.h"

#include "lsv_math.h"

namespace {

void reversePortable(int16_t* dst, const int16_t* src, int T) {
  for (int m = 0; m < T; ++m) dst[m] = src[T - 1 - m];
}

void dotsPortable(int32_t* acc, const int16_t* x, const int16_t* hr, int T, int L) {
  for (int l = 0; l < L; ++l) {
    uint32_t a = 0;
    for (int m = 0; m < T; ++m) a += static_cast<uint32_t>(int32_t{x[l + m]} * hr[m]);
    acc[l] = static_cast<int32_t>(a);
  }
}

void adaptDotsPortable(int16_t* hr, const int16_t* x, const int16_t* e, int Nb, int hExp, int T,
                       int32_t* acc, int L) {
  for (int m = 0; m < T; ++m) {
    uint32_t a = 0;
    for (int k = 0; k < Nb; ++k) a += static_cast<uint32_t>(int32_t{x[m + k]} * e[k]);
    const int32_t S = static_cast<int32_t>(a);
    const int32_t s = hExp >= 32 ? (S < 0 ? -1 : 0) : S >> hExp;
    hr[m] = lsvmath::sat16((int64_t{hr[m]} * 32768 + s + 16384) >> 15);
  }
  dotsPortable(acc, x + Nb, hr, T, L);
}

int64_t energyPortable(const int16_t* x, int n) {
  int64_t e = 0;
  for (int i = 0; i < n; ++i) e += int32_t{x[i]} * x[i];
  return e;
}

constexpr LmsKernels kPortable = {"portable", reversePortable, dotsPortable, adaptDotsPortable, energyPortable};

const LmsKernels* fastest() {
  if (const LmsKernels* k = lmsKernelsAvx2()) return k;
  if (const LmsKernels* k = lmsKernelsSse2()) return k;
  return &kPortable;
}

// Chosen on first use, so that a static initialiser elsewhere that runs the filters finds it.
const LmsKernels*& inUse() {
  static const LmsKernels* k = fastest();
  return k;
}

}  // namespace

const LmsKernels& lmsKernelsPortable() { return kPortable; }

const LmsKernels& lmsKernels() { return *inUse(); }

void lmsUseKernels(const LmsKernels* kernels) { inUse() = kernels != nullptr ? kernels : fastest(); }
