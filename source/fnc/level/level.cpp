// Block powers, the level estimator with its floor and maximum followers, and the noise model.
#include "level.h"

#include <algorithm>
#include <cstring>

#include "lhapi.h"
#include "lms.h"
#include "lpc.h"
#include "lsv_math.h"

using lsvmath::sat16;

namespace {

constexpr int16_t kDb3 = 3 * LEV_DB;
constexpr int16_t kDb6 = 6 * LEV_DB;
constexpr int16_t kDb10 = 10 * LEV_DB;
constexpr int16_t kMaxFloor = -45 * LEV_DB;
constexpr int kMin2Takeover = 200;
constexpr int16_t kHoldMin2 = 190;
constexpr int kSpectrumOrder = 6;

uint32_t clampPower(int64_t v) {
  return v < 0 ? 0 : (v > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(v));
}

int64_t shiftPower(int64_t sum, int shift) { return shift >= 0 ? sum >> shift : sum << -shift; }

}  // namespace

uint32_t levelBlockPower(const int16_t* x, int n, int shift) {
  int64_t sum = 0;
  for (int i = 0; i < n; ++i) sum += int32_t{x[i]} * x[i];
  return clampPower(shiftPower(sum, shift));
}

uint32_t levelBlockPwrHpf(const int16_t* x, int n, int shift, int32_t* state) {
  int16_t s = static_cast<int16_t>(*state);
  int64_t sum = 0;
  for (int i = 0; i < n; ++i) {
    const int16_t next = static_cast<int16_t>(s + (x[i] >> 2) - (s >> 2));
    const int16_t d = static_cast<int16_t>(next - s);
    sum += int32_t{d} * d;
    s = next;
  }
  *state = s;
  return clampPower(shiftPower(sum, shift - 4));
}

void levelMinimaxTrack(int16_t* min, int16_t* max, int16_t level, int16_t* hang, int16_t ceiling,
                       uint16_t mode) {
  int32_t m = *min;
  const int32_t L = level;
  const bool hanging = *hang > 0;
  if (L < m - kDb3) {
    m = (hanging || (mode & 2)) ? L : m + ((L - m) >> 3);
  } else if (L < m) {
    m += (L - m) >> 5;
  } else if (L > ceiling) {
    *hang = 25;
  } else if (!(mode & 1) && !hanging) {
    if (L - m <= kDb3) {
      m += (L - m) >> 5;
    } else {
      m += (mode & 2) ? 32 : 9;
    }
  }
  *min = static_cast<int16_t>(std::clamp<int32_t>(m, LEV_MIN_DB, ceiling));
  if (max != nullptr) {
    int32_t M = *max;
    if (L > M) {
      M += (L - M) >> 3;
    } else if (L > *min + kDb10) {
      M += (L - M) >> 7;
    }
    *max = static_cast<int16_t>(std::max<int32_t>(M, kMaxFloor));
  }
  if (*hang > 0) --*hang;
}

void levelEstimator(LEV_EST* est, LEV_LS* out, int16_t offset, uint16_t flags, uint32_t power,
                    const int16_t* samples, int count, int16_t* scratch) {
  est->index = static_cast<int16_t>(est->index >= 6 ? 0 : est->index + 1);
  est->pwr[est->index] = power;
  uint64_t sum = 0;
  for (uint32_t p : est->pwr) sum += p;
  const uint32_t S = sum > 0xFFFFFFFF ? 0xFFFFFFFFu : static_cast<uint32_t>(sum);
  out->blk = sat16(int32_t{offset} + lsvmath::utilPower2dB(power, 4073));
  out->win = sat16(int32_t{offset} + lsvmath::utilPower2dB(S, 1920));
  if ((flags & 0x1C) == 0) return;

  auto* mm = reinterpret_cast<LEV_ESTMM*>(est);
  mm->minTrackCount = static_cast<int16_t>((mm->minTrackCount + 1) & 3);
  if (mm->minTrackCount == 0) {
    const int16_t ceiling = (flags & LEV_FLAG_SPECTRUM) ? -20 * LEV_DB : -36 * LEV_DB;
    levelMinimaxTrack(&mm->levMin, &mm->levMax, out->win, &mm->hangCount, ceiling, flags);
    if (flags & (LEV_FLAG_MIN2 | LEV_FLAG_SPECTRUM)) {
      auto* mm2 = reinterpret_cast<LEV_ESTMM2*>(est);
      int16_t noHang = 0;
      levelMinimaxTrack(&mm2->levMin2, nullptr, out->win, &noHang, ceiling, 2);
      if (flags & LEV_FLAG_HOLD_MIN2) mm2->hangCount2 = std::min(mm2->hangCount2, kHoldMin2);
      if (mm->levMin <= mm2->levMin2) {
        if (++mm2->hangCount2 > kMin2Takeover) {
          mm->levMin = mm2->levMin2;
          mm2->hangCount2 = 0;
        }
      } else {
        mm2->hangCount2 = 0;
      }
    }
  }
  if ((flags & LEV_FLAG_SPECTRUM) && !(flags & LEV_FLAG_HOLD_MIN2) && samples != nullptr &&
      out->win - mm->levMin < kDb6) {
    levelSpectralEstimator(reinterpret_cast<LEV_ESTMM3*>(est), samples, count, scratch);
  }
}

void levelSpectralEstimator(LEV_ESTMM3* est, const int16_t* samples, int count, int16_t* scratch) {
  // Working block: eight zero samples of history, then the normalised block; the predictor
  // predicts each sample from the six before it (reference = the block delayed by one).
  constexpr int kHist = 8;
  constexpr int kBlock = 40;
  if (count != kBlock) return;
  int16_t work[kHist + kBlock] = {};
  std::memcpy(work + kHist, samples, kBlock * sizeof(int16_t));
  lsvmath::utilVectorNorm(work + kHist, kBlock);
  int16_t h[kSpectrumOrder];
  for (int k = 0; k < kSpectrumOrder; ++k) h[k] = sat16(-int32_t{est->a[k + 1]} * 8);
  int16_t stepExp = 0;
  const int16_t step = lmsStepSize(work + kHist - 1, &stepExp, kBlock, 32767, 8, kSpectrumOrder);
  if (step == 0) return;
  int16_t local[2 * kBlock];
  lmsBlockAdapt(work + kHist, work + kHist - 1, h, step, stepExp, kBlock, 8, kSpectrumOrder, nullptr,
                scratch != nullptr ? scratch : local);
  int16_t a[kSpectrumOrder + 1] = {4096};
  for (int k = 0; k < kSpectrumOrder; ++k) a[k + 1] = static_cast<int16_t>(-(h[k] >> 3));
  const int32_t ratio = lpc_pred2refl(a, nullptr, kSpectrumOrder);
  if (ratio <= 0) return;  // unstable: the previous predictor stays
  std::memcpy(est->a, a, sizeof(a));
  est->alpha = lsvmath::utilPower2dB(static_cast<uint32_t>(ratio) << 16, 0);
}
