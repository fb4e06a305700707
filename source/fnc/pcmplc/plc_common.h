// Common routines of the PCM concealment: data movement, a few fixed-point helpers, the emulated
// 64-bit accumulator, order-8 filters, linear prediction, and the concealment's analysis
// (decimation, coarse pitch, pitch refinement, periodicity merit). Order-8 filter coefficients
// are a1..a8 in Q12, the leading 1 of the polynomial implicit.
#pragma once

#include <cstdint>

#include "basicop.h"

constexpr int PLC_ORDER = 8;
constexpr int PLC_XWD = 55;   // stored decimated weighted signal
constexpr int PLC_XWD_FRAME = 10;

// ---- data movement ----
void W16copy(int16_t* dst, const int16_t* src, int n);
void W16zero(int16_t* dst, int n);
void W32copy(int32_t* dst, const int32_t* src, int n);

// ---- fixed point ----
inline int32_t L_mult0(int16_t a, int16_t b) { return int32_t{a} * b; }
inline int32_t L_mac0(int32_t acc, int16_t a, int16_t b) { return L_add(acc, L_mult0(a, b)); }
inline int32_t L_msu0(int32_t acc, int16_t a, int16_t b) { return L_sub(acc, L_mult0(a, b)); }
void L_Extract(int32_t x, int16_t* hi, int16_t* lo);
int32_t L_Comp(int16_t hi, int16_t lo);
int32_t Mpy_32_16(int16_t hi, int16_t lo, int16_t n);
void bvxx_Log2(int32_t x, int16_t* exponent, int16_t* fraction);

// ---- the emulated 64-bit accumulator: a signed 64-bit value in a low and a high word ----
// Inline, so that the filters and correlations built on it keep the sum in a register.
struct PlcAcc64 {
  uint32_t lo;
  int32_t hi;
};
namespace plc_acc_detail {
inline int64_t value(const PlcAcc64* acc) {
  return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(acc->hi)) << 32) | acc->lo);
}
inline void store(PlcAcc64* acc, int64_t v) {
  acc->lo = static_cast<uint32_t>(v);
  acc->hi = static_cast<int32_t>(static_cast<uint64_t>(v) >> 32);
}
// Wrapping 64-bit sum, as the emulated accumulator's carry chain behaves.
inline int64_t add64(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
}  // namespace plc_acc_detail
inline void mthi64(PlcAcc64* acc, int32_t v) { acc->hi = v; }
inline void mtlo64(PlcAcc64* acc, uint32_t v) { acc->lo = v; }
inline int32_t mfhi64(const PlcAcc64* acc) { return acc->hi; }
inline uint32_t mflo64(const PlcAcc64* acc) { return acc->lo; }
inline void imult32(PlcAcc64* acc, int32_t a, int32_t b) { plc_acc_detail::store(acc, int64_t{a} * b); }
inline void imac64_16(PlcAcc64* acc, int16_t a, int16_t b) {
  plc_acc_detail::store(acc, plc_acc_detail::add64(plc_acc_detail::value(acc), int32_t{a} * b));
}
inline void imsu64_16(PlcAcc64* acc, int16_t a, int16_t b) {
  plc_acc_detail::store(acc, plc_acc_detail::add64(plc_acc_detail::value(acc), -(int32_t{a} * b)));
}
inline void imac64_32(PlcAcc64* acc, int32_t a, int32_t b) {
  plc_acc_detail::store(acc, plc_acc_detail::add64(plc_acc_detail::value(acc), int64_t{a} * b));
}
inline void imsu64_32(PlcAcc64* acc, int32_t a, int32_t b) {
  plc_acc_detail::store(acc, static_cast<int64_t>(static_cast<uint64_t>(plc_acc_detail::value(acc)) -
                                                  static_cast<uint64_t>(int64_t{a} * b)));
}
// A 64-bit sum clamped to 32 bits as the accumulator's sat64 clamps it (setting Overflow).
inline int32_t plcSat32(int64_t v) { return basicop_detail::sat32(v); }
// The accumulator clamped to 32 bits; a clamp sets the global Overflow flag.
inline int32_t sat64(const PlcAcc64* acc) { return plcSat32(plc_acc_detail::value(acc)); }
// Low word = a / b truncated, high word = the remainder (b = -1 gives -a).
void idiv32(PlcAcc64* acc, int32_t a, int32_t b);
// a / b of two positive values (a < b) as a Q31 fraction.
int32_t fdiv32(int32_t a, int32_t b);

// ---- order-8 filters ----
void bvxx_azfilter_8th_Q0_Q0(const int16_t* a, const int16_t* x, int16_t* y, int n);
void bvxx_azfilter_8th_Q0_Q1(const int16_t* a, const int16_t* x, int16_t* y, int n);
void bvxx_azfilter_8th_Q0_Q1_generic(const int16_t* a, const int16_t* x, int16_t* y, int n);
void bvxx_apfilter_8th_Q0_Q0(const int16_t* a, const int16_t* x, int16_t* y, int n, int16_t* mem,
                             int update);
void bvxx_apfilter_8th_Q0_Q0_20(const int16_t* a, const int16_t* x, int16_t* y, const int16_t* mem);
void bvxx_apfilter_8th_Q1_Q0(const int16_t* a, const int16_t* x, int16_t* y, int n, int16_t* mem,
                             int update);
void bvxx_apfilter_8th_Q1_Q0_20(const int16_t* a, const int16_t* x, int16_t* y, const int16_t* mem);

// ---- linear prediction ----
void bvxx_Autocorr(int32_t* r, const int16_t* x, const int16_t* window, int n, int order);
void bvxx_Spectral_Smoothing(int order, int32_t* r, const int32_t* lagWindow);
// a1..a8 (Q12) from r[0..8]; falls back to (and keeps) `previous` when the recursion fails.
void bvxx_Levinson(const int32_t* r, int16_t* a, int16_t* previous);
void bvxx_Bandwidth_Expansion(int16_t* out, const int16_t* factors, const int16_t* a);

// ---- concealment analysis ----
struct PlcDecim {
  int32_t* dfm;      // four 32-bit filter states, newest first
  int16_t* xwd;      // the stored 55 decimated samples
  int16_t* xwd_exp;  // their exponent
};
// Decimates one frame of the weighted signal (40 samples by 4, or 80 by 8) into `out` (65: the
// stored 55 rescaled, then the 10 new ones) and updates the stored history.
void decim16(const int16_t* xw, int16_t* out, PlcDecim st);
void decim32(const int16_t* xw, int16_t* out, PlcDecim st);
// Coarse pitch in input samples from the 65 decimated samples.
int16_t bvc16_coarsepitch(const int16_t* xwd, int16_t cpplast);
int16_t plc32_coarsepitch(const int16_t* xwd, int16_t cpplast);
// Refined pitch on the history plus frame (258 samples narrowband, 506 wideband).
struct PlcPitch {
  int16_t ptfe;
  int32_t cormax;
  int32_t energymax32;
  int16_t ppt;
  int16_t wsz;
  int16_t scaled_flag;
};
int16_t bvcprfn(PlcPitch* out, const int16_t* x, int16_t cpp);
int16_t bvc32prfn(PlcPitch* out, const int16_t* x, int16_t cpp);
// Periodicity merit of the history (218 narrowband, 426 wideband samples).
int16_t bvcmerit(const int16_t* xq, int16_t pp, int16_t wsz, int32_t cormax, int32_t energymax32,
                 int32_t level, int16_t scaled_flag);
int16_t bvc32merit(const int16_t* xq, int16_t pp, int16_t wsz, int32_t cormax, int32_t energymax32,
                   int32_t level, int16_t scaled_flag);
