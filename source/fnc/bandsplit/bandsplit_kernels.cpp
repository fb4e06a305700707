// The portable filters of the two-band bank, the reference of the vector forms, and the choice of
// the form in use.
#include "bandsplit_kernels.h"

#include "bandsplit.h"
#include "lsv_math.h"

using lsvmath::sat16;
using lsvmath::wrap32;

namespace {

void firDownPortable(const int16_t* x, int16_t* low) {
  for (int n = 0; n < 80; ++n) {
    int64_t acc = 0;
    for (int k = 0; k < BS_TAPS; ++k) acc += int32_t{bs_qmf40[k]} * x[2 * n - k];
    low[n] = sat16(wrap32(acc + 16384) >> 15);
  }
}

// Two interpolated outputs per low-band input: even and odd polyphase branches, gain 2.
void firUpPortable(const int16_t* u, int16_t* y, int inputs) {
  for (int m = 0; m < inputs; ++m) {
    int64_t even = 0;
    int64_t odd = 0;
    for (int k = 0; k < BS_TAPS / 2; ++k) {
      even += int32_t{bs_qmf40[2 * k]} * u[m - k];
      odd += int32_t{bs_qmf40[2 * k + 1]} * u[m - k];
    }
    y[2 * m] = sat16(wrap32(even + 8192) >> 14);
    y[2 * m + 1] = sat16(wrap32(odd + 8192) >> 14);
  }
}

void addSatPortable(int16_t* y, const int16_t* a, const int16_t* b, int count) {
  for (int n = 0; n < count; ++n) y[n] = sat16(int32_t{a[n]} + b[n]);
}

void subSatPortable(int16_t* y, const int16_t* a, const int16_t* b, int count) {
  for (int n = 0; n < count; ++n) y[n] = sat16(int32_t{a[n]} - b[n]);
}

constexpr BsKernels kPortable = {"portable", firDownPortable, firUpPortable, addSatPortable, subSatPortable};

const BsKernels* fastest() {
  if (const BsKernels* k = bsKernelsAvx2()) return k;
  if (const BsKernels* k = bsKernelsSse2()) return k;
  return &kPortable;
}

// Chosen on first use, so that a static initialiser elsewhere that runs the filters finds it.
const BsKernels*& inUse() {
  static const BsKernels* k = fastest();
  return k;
}

}  // namespace

const BsKernels& bsKernelsPortable() { return kPortable; }
const BsKernels& bsKernels() { return *inUse(); }
void bsUseKernels(const BsKernels* kernels) { inUse() = kernels != nullptr ? kernels : fastest(); }
