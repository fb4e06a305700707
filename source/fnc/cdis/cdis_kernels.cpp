// Small kernels of call discrimination.
#include "cdis_filters.h"

bool cdisPowCalc(const std::int16_t* x, int n, std::int32_t* power) {
  std::int64_t sum = 0;
  for (int i = 0; i <= n; ++i) sum += std::int32_t{x[i]} * x[i];
  if (sum > INT32_MAX) return false;
  *power = static_cast<std::int32_t>(sum);
  return true;
}

bool cdisSymFilter(const std::int16_t* x, std::int16_t* y, int count, const std::int16_t* half, int halfLen) {
  bool ok = true;
  for (int i = 0; i < count; ++i) {
    std::int64_t acc = std::int64_t{half[0]} * x[i];
    for (int k = 1; k < halfLen; ++k) acc += std::int64_t{half[k]} * (std::int32_t{x[i - k]} + x[i + k]);
    std::int64_t v = acc >> 15;
    if (v > 32767 || v < -32768) {
      ok = false;
      v = v > 0 ? 32767 : -32768;
    }
    y[i] = static_cast<std::int16_t>(v);
  }
  return ok;
}

void cdisNormInput(std::int16_t* re, std::int16_t* im) {
  std::int32_t r = *re, i = *im;
  for (int s = 0; s < 16; ++s) {
    const std::int32_t m = std::max(r < 0 ? -r : r, i < 0 ? -i : i);
    if (m >= 0x4000) break;
    r *= 2;
    i *= 2;
  }
  *re = static_cast<std::int16_t>(r);
  *im = static_cast<std::int16_t>(i);
}

void cdisPhRevFilter(const std::int16_t* x, std::int16_t* re, std::int16_t* im) {
  std::int32_t ar = 0, ai = 0;
  const std::int16_t* w = x - 33;
  for (int k = 0; k < 34; ++k) {
    ar += std::int32_t{phRevBPFcoef_real[k]} * w[k];
    ai += std::int32_t{phRevBPFcoef_imag[k]} * w[k];
  }
  *re = static_cast<std::int16_t>(ar >> 15);
  *im = static_cast<std::int16_t>(ai >> 15);
}
