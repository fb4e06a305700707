// Bell 202 FSK demodulator.
#include "b202rx.h"

#include "vc_math.h"

const std::array<std::int16_t, B202_LPF_TAPS> hsb202lpf = {
    -88, 129, 492, 463, -810, -2680, -2160, 3553, 13137, 20731,
    20731, 13137, 3553, -2160, -2680, -810, 463, 492, 129, -88,
};

namespace {
std::int16_t sat16(std::int32_t v) {
  if (v > 32767) return 32767;
  if (v < -32768) return -32768;
  return static_cast<std::int16_t>(v);
}
}  // namespace

void hsfb202rxReset(HSZCLIDRXCONTEXT* ctx) {
  ctx->hsxxprev = 0;
  ctx->hsxpowlevel = 0;
  for (std::int16_t& y : ctx->hsxy) y = 0;
}

void hsfb202rx(HSZCLIDRXCONTEXT* ctx, const std::int16_t* input, std::int16_t* samples, std::int16_t* power) {
  // 1. Resample 8 -> 6 kHz: three outputs per four inputs, one filter phase each.
  std::int16_t y[B202_VALUES];
  const std::int16_t* base = input - B202_HISTORY;
  for (int g = 0; g < B202_VALUES / 3; ++g) {
    for (int p = 0; p < 3; ++p) {
      y[3 * g + p] = vcfConv(base + 4 * g + p + 31, &hsb202dnsamplebpf0[32 * p + 31], 31);
    }
  }
  // 2, 3. Level, and the AGC while it is on.
  for (int i = 0; i < B202_VALUES; ++i) {
    ctx->hsxpowlevel = static_cast<std::int16_t>((29491 * std::int32_t{ctx->hsxpowlevel} + 3276 * std::int32_t{fxabs(y[i])}) >> 15);
    power[i] = ctx->hsxpowlevel;
    if (ctx->hsxagc) {
      if (ctx->hsxpowlevel > 2400) ctx->hsxagclevel = static_cast<std::uint16_t>(ctx->hsxagclevel + 2);
      if (ctx->hsxpowlevel < 1600) ctx->hsxagclevel = static_cast<std::uint16_t>(ctx->hsxagclevel - 2);
    }
  }
  // 4. Delay-and-multiply discriminator.
  std::int16_t d[B202_LPF_TAPS + B202_VALUES];
  for (int k = 0; k < B202_LPF_TAPS; ++k) d[k] = ctx->hsxy[k];
  const unsigned shift = ctx->hsxagclevel & 255;
  for (int i = 0; i < B202_VALUES; ++i) {
    const std::int32_t prev = i == 0 ? ctx->hsxxprev : y[i - 1];
    const std::int32_t mix = (5461 * std::int32_t{y[i]} + 27306 * prev) >> 16;
    const std::int32_t prod = mix * y[i];
    d[B202_LPF_TAPS + i] = sat16(shift >= 32 ? (prod < 0 ? -1 : 0) : prod >> shift);
  }
  ctx->hsxxprev = y[B202_VALUES - 1];
  // 5. Low-pass over the 20 discriminator values ending at each.
  for (int i = 0; i < B202_VALUES; ++i) {
    samples[i] = vcfConv(&d[B202_LPF_TAPS + i], &hsb202lpf[B202_LPF_TAPS - 1], B202_LPF_TAPS - 1);
  }
  for (int k = 0; k < B202_LPF_TAPS; ++k) ctx->hsxy[k] = d[B202_VALUES + k];
}
