// Signal filters of the iLBC codec.
#include "ilbc_filters.h"

#include <array>

#include "ilbc_kernels.h"

namespace ilbc {
namespace {

constexpr i32 kHpInB0 = 497826631, kHpInB1 = -995623939;    // Q29
constexpr i32 kHpInA1 = -2046494472, kHpInA2 = 978610875;   // Q30
constexpr i32 kHpOutB0 = 504554402, kHpOutB1 = -1009093654;  // Q29
constexpr i32 kHpOutC1 = 1037810933, kHpOutC2 = -502453186;  // Q29, sign folded in
constexpr int kMaxFrame = 240;

// Largest magnitude of the block where -32768 counts as full scale, so that a quiet block
// holding one such sample is never pre-shifted into a wrap.
i16 full_scale_abs_max(const i16* in, int len) {
  for (int i = 0; i < len; ++i)
    if (in[i] == -32768) return 32767;
  return ilbc_Vec_abs_max(in, len);
}

void ilbc_hpInput_zero(const i16* In, int len, i32* Out32, i16* zero_mem) {
  i32 x1 = zero_mem[0], x2 = zero_mem[1];
  for (int i = 0; i < len; ++i) {
    const i32 x0 = In[i];
    const i64 s = i64{static_cast<i32>((i64{kHpInB0} * x0) >> 16)} + static_cast<i32>((i64{kHpInB1} * x1) >> 16) +
                  static_cast<i32>((i64{kHpInB0} * x2) >> 16);
    Out32[i] = sat32(2 * i64{wrap32(s)});
    x2 = x1;
    x1 = x0;
  }
  zero_mem[0] = static_cast<i16>(x1);
  zero_mem[1] = static_cast<i16>(x2);
}

void ilbc_hpInput_pole(i32* Out32, int len, const i32* In32, i32* pole_mem) {
  i32 y1 = pole_mem[0], y2 = pole_mem[1];
  for (int i = 0; i < len; ++i) {
    const i64 p = i64{kHpInA1} * y1 + i64{kHpInA2} * y2;
    const i32 y0 = wrap32(i64{In32[i]} - 4 * i64{static_cast<i32>(p >> 32)});
    Out32[i] = y0;
    y2 = y1;
    y1 = y0;
  }
  pole_mem[0] = y1;
  pole_mem[1] = y2;
}

void ilbc_hpOutput_zero(const i16* In, int len, i32* Out32, i32* mem) {
  i32 x1 = mem[0], x2 = mem[1];
  for (int i = 0; i < len; ++i) {
    const i32 x0 = i32{In[i]} * 16384;
    const i64 s = i64{hi(kHpOutB0, x0)} + hi(kHpOutB1, x1) + hi(kHpOutB0, x2);
    Out32[i] = sat32(2 * i64{wrap32(s)});
    x2 = x1;
    x1 = x0;
  }
  mem[0] = x1;
  mem[1] = x2;
}

void ilbc_hpOutput_pole(i16* Out, int len, const i32* In32, i32* mem) {
  i32 y1 = mem[2], y2 = mem[3];
  for (int i = 0; i < len; ++i) {
    const i32 u = wrap32(i64{hi(kHpOutC1, y1)} + hi(kHpOutC2, y2));
    const i32 v = sat32(i64{sat32(2 * i64{u})} + In32[i]);
    const i32 y0 = sat32(2 * i64{sat32(2 * i64{v})});
    Out[i] = sat16(y0 >> 14);
    y2 = y1;
    y1 = y0;
  }
  mem[2] = y1;
  mem[3] = y2;
}

i16 residu_sample(const i16* a, const i16* x) {
  i32 s = 0;
  for (int k = 10; k >= 0; --k) s = sat32(i64{s} + 2 * i64{a[k]} * x[-k]);
  return sat16((i64{s} + 4096) >> 13);
}

}  // namespace

i16 ilbc_hpInput(i16* In, int len, i16* pole_shift, i32* L_Out, i16* zero_mem, i32* pole_mem) {
  i16 m = full_scale_abs_max(In, len);
  m = std::max({m, ilbc_abs_s(zero_mem[0]), ilbc_abs_s(zero_mem[1])});
  const int s = std::min<int>({*pole_shift, 4, ilbc_norm_s(m)});
  for (int k = 0; k < 2; ++k) {
    zero_mem[k] = wrap16(i32{zero_mem[k]} * (1 << s));
    pole_mem[k] = ilbc_L_shl(pole_mem[k], s - *pole_shift);
  }
  *pole_shift = static_cast<i16>(s);
  if (s > 0)
    for (int i = 0; i < len; ++i) In[i] = wrap16(i32{In[i]} * (1 << s));
  std::array<i32, kMaxFrame> t{};
  ilbc_hpInput_zero(In, len, t.data(), zero_mem);
  ilbc_hpInput_pole(L_Out, len, t.data(), pole_mem);
  for (int k = 0; k < 2; ++k) zero_mem[k] = static_cast<i16>(zero_mem[k] >> s);
  const int n = ilbc_norm_l(ilbc_get_max_abs(L_Out, len));
  ilbc_Vec_L_shl(L_Out, L_Out, n, len);
  const int c = std::min(ilbc_norm_l(pole_mem[0]), ilbc_norm_l(pole_mem[1]));
  pole_mem[0] = ilbc_L_shl(pole_mem[0], c);
  pole_mem[1] = ilbc_L_shl(pole_mem[1], c);
  *pole_shift = static_cast<i16>(*pole_shift + c);
  return static_cast<i16>(s + n);
}

void ilbc_hpOutput(const i16* In, int len, i16* Out, i32* mem) {
  std::array<i32, kMaxFrame> t{};
  ilbc_hpOutput_zero(In, len, t.data(), mem);
  ilbc_hpOutput_pole(Out, len, t.data(), mem);
}

void ilbc_Residu2(const i16* a, const i16* x, i16* y) {
  for (int n = 0; n < 40; ++n) y[n] = residu_sample(a, x + n);
}

void ilbc_Residu(const i16* a, const i16* x, i16* y, int len) {
  for (int n = 0; n < len; ++n) y[n] = residu_sample(a, x + n);
}

void ilbc_Residu32(const i16* a, const i32* x32, i32* y32, int len) {
  for (int n = 0; n < len; ++n) {
    i64 s = 0;
    for (int k = 0; k <= 10; ++k) s += 2 * (i64{a[k]} * 8192) * x32[n - k];
    y32[n] = sat32(s >> 26);
  }
}

void ilbc_Syn_filt(const i16* a, const i16* x, i16* y, int len) {
  // With the doubled coefficient magnitudes times full scale inside 32 bits no partial sum can
  // saturate: the plain sum, in any order, is the chain's value. The newest output goes last so
  // the recursion waits on one multiply-add per sample.
  i32 asum = 0;
  for (int k = 1; k <= 10; ++k) asum += a[k] < 0 ? -i32{a[k]} : i32{a[k]};
  if (i64{asum} * 65536 <= kMax32) {
    for (int n = 0; n < len; ++n) {
      i32 acc = 0;
      for (int k = 10; k >= 1; --k) acc += 2 * i32{a[k]} * y[n - k];
      const i32 s = wrap32(i64{x[n]} * 8192 - acc);
      y[n] = sat16((i64{s} + 4096) >> 13);
    }
    return;
  }
  ilbc_Syn_filt_model(a, x, y, len);
}

void ilbc_Syn_filt_model(const i16* a, const i16* x, i16* y, int len) {
  for (int n = 0; n < len; ++n) {
    i32 acc = 0;
    for (int k = 1; k <= 10; ++k) acc = sat32(i64{acc} + 2 * i64{a[k]} * y[n - k]);
    const i32 s = wrap32(i64{x[n]} * 8192 - acc);
    y[n] = sat16((i64{s} + 4096) >> 13);
  }
}

void ilbc_Syn_filt32(const i16* a, const i32* x32, i32* y32, int len) {
  for (int n = 0; n < len; ++n) {
    i64 p = 0;
    for (int k = 1; k <= 10; ++k) p += 2 * (i64{a[k]} * 8192) * y32[n - k];
    y32[n] = sat32(i64{x32[n]} - sat32(p >> 26));
  }
}

void ilbc_ZeroPoleFilter2(const i16* In, const i16* ZeroCoef_q12, const i16* PoleCoef_q12, int lengthIn, i16* Out) {
  ilbc_Residu(ZeroCoef_q12, In, Out, lengthIn + 10);
  ilbc_Set_zero(Out + lengthIn + 10, lengthIn - 10);
  ilbc_Syn_filt(PoleCoef_q12, Out, Out, 2 * lengthIn);
}

void ilbc_ZeroPoleFilter32(const i32* In, const i16* ZeroCoef_q12, const i16* PoleCoef_q12, int lengthIn, i32* Out) {
  ilbc_Residu32(ZeroCoef_q12, In, Out, lengthIn + 10);
  ilbc_L_Set_zero(Out + lengthIn + 10, lengthIn - 10);
  ilbc_Syn_filt32(PoleCoef_q12, Out, Out, 2 * lengthIn);
}

void ilbc_DownSample(const i16* In_q0, int lengthIn, const i16* state_q0, i16* Out_q0, const i16* c) {
  const int outl = lengthIn / 2;
  auto x = [&](int j) -> i32 {
    if (j < 0) return state_q0[6 + j];
    return j < lengthIn ? In_q0[j] : 0;
  };
  for (int m = 0; m < outl; ++m) {
    std::uint32_t s = 0;
    for (int k = 0; k < 8; ++k) s += static_cast<std::uint32_t>(i32{c[k]} * x(2 * m - 4 + k));
    const i32 v = static_cast<i32>(s) >> 15;
    Out_q0[m] = (m < 2 || m == outl - 1) ? wrap16(v) : sat16(v);
  }
}

}  // namespace ilbc
