#include "bandsplit.h"

#include <cstring>

#include "bandsplit_kernels.h"
#include "lsv_math.h"

const std::array<int16_t, BS_TAPS> bs_qmf40 = {
    -12,  26,   43,    -52,   -105,  77,    213,  -87,  -380, 60,   626, 40,   -978, -276,
    1507, 794,  -2454, -2167, 5437,  14074, 14074, 5437, -2167, -2454, 794, 1507, -276, -978,
    40,   626,  60,    -380,  -87,   213,   77,   -105, -52,  43,   26,  -12};

namespace {

constexpr int kWide = 160;
constexpr int kLow = 80;
constexpr int kLowHist = 20;

void firUp(const int16_t* u, int16_t* y, int inputs) { bsKernels().firUp(u, y, inputs); }

}  // namespace

void bs_firdown(const int16_t* x, int16_t* low) { bsKernels().firDown(x, low); }

void bs_firup(const int16_t* u, int16_t* y) { firUp(u, y, kLow); }

void bs_firup2(const int16_t* u, int16_t* y) { firUp(u, y, kLow / 2); }

void bandSplit(int16_t* xl, int16_t* xh, const int16_t* xt, int16_t* state) {
  // Silence into filters at rest: both bands are silent, the low band adds nothing and the
  // histories stay zero (every filter rounds 0 to 0).
  if (lsvmath::utilIsSilent(xt, kWide) && lsvmath::utilIsSilent(state, BS_SPLIT_STATE_WORDS)) {
    std::memset(xh, 0, kWide * sizeof(int16_t));
    return;
  }
  int16_t wide[BS_TAPS + kWide];
  int16_t low[kLowHist + kLow];
  std::memcpy(wide, state, BS_TAPS * sizeof(int16_t));
  std::memcpy(wide + BS_TAPS, xt, kWide * sizeof(int16_t));  // xt may be xh: copied first
  std::memcpy(low, state + BS_TAPS, kLowHist * sizeof(int16_t));

  bs_firdown(wide + BS_TAPS, low + kLowHist);
  bs_firup(low + kLowHist, xh);
  bsKernels().subSat(xh, wide + BS_TAPS - BS_DELAY, xh, kWide);
  bsKernels().addSat(xl, xl, low + kLowHist, kLow);

  std::memcpy(state, wide + kWide, BS_TAPS * sizeof(int16_t));
  std::memcpy(state + BS_TAPS, low + kLow, kLowHist * sizeof(int16_t));
}

namespace {

void combine(const int16_t* xl, const int16_t* xh, int16_t* y, int16_t* state, int lowCount) {
  if (lsvmath::utilIsSilent(xl, lowCount) && lsvmath::utilIsSilent(xh, 2 * lowCount) &&
      lsvmath::utilIsSilent(state, kLowHist)) {
    std::memset(y, 0, 2 * lowCount * sizeof(int16_t));  // as above: silence at rest
    return;
  }
  int16_t low[kLowHist + kLow];
  int16_t up[kWide];
  std::memcpy(low, state, kLowHist * sizeof(int16_t));
  std::memcpy(low + kLowHist, xl, lowCount * sizeof(int16_t));
  firUp(low + kLowHist, up, lowCount);
  bsKernels().addSat(y, up, xh, 2 * lowCount);
  std::memcpy(state, low + lowCount, kLowHist * sizeof(int16_t));
}

}  // namespace

void bandCombine(const int16_t* xl, const int16_t* xh, int16_t* y, int16_t* state) {
  combine(xl, xh, y, state, kLow);
}

void bandCombine2(const int16_t* xl, const int16_t* xh, int16_t* y, int16_t* state) {
  combine(xl, xh, y, state, kLow / 2);
}
