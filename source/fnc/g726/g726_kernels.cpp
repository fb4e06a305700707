// G.726 kernels: the eight FMULT products of the adaptive predictor in one pass over the
// unpacked delay lines, and the whole-block conversions of the PCM side.
#include "g726.h"

#include <bit>

namespace {

constexpr int kRowWords = 3;

// Number of significant bits of a non-negative value (0 for 0).
inline int g726_bit_length(int mag) { return std::bit_width(static_cast<unsigned>(mag)); }

// G.726 FMULT of coefficient `an` (Q14) with the delay-line row {E - 19, M * 8, raw}; returns the
// product as a 16-bit two's complement pattern.
inline int g726_fmult(std::int16_t an, const std::int16_t *row) {
  const int an_mag = ((an >> 2) < 0 ? -(an >> 2) : (an >> 2)) & 0x1FFF;
  const int an_exp = g726_bit_length(an_mag);
  const int an_mant = an_mag == 0 ? 32 : (an_mag << 6) >> an_exp;
  const int w_mant = ((row[1] >> 3) * an_mant + 48) >> 4;
  const int shift = row[0] + an_exp;  // WAnEXP - 19
  int w_mag;
  if (shift >= 0) {
    w_mag = ((w_mant << shift) & 0xFFFF) & 0x7FFF;  // large products wrap before the mask
  } else {
    w_mag = w_mant >> -shift;
  }
  const bool negative = ((row[2] ^ an) & 0x8000) != 0;
  return negative ? -w_mag : w_mag;
}

}  // namespace

std::int16_t g726_PoleZeroFilt(std::int16_t *sezi, const std::int16_t *b, std::int16_t a1,
                               std::int16_t a2, std::int16_t *dq_dat, std::int16_t *sr_dat) {
  int zero_sum = 0;
  for (int i = 0; i < 6; ++i) zero_sum += g726_fmult(b[i], dq_dat + i * kRowWords);
  const int pole_sum = g726_fmult(a1, sr_dat) + g726_fmult(a2, sr_dat + kRowWords);
  *sezi = static_cast<std::int16_t>(zero_sum);

  // Shift the delay lines by one row: dq rows 0..5 to 1..6, sr rows 0..1 to 1..2; dq rows 7 and 8
  // take the sr rows as working copies.
  for (int w = 0; w < 2 * kRowWords; ++w) dq_dat[7 * kRowWords + w] = sr_dat[w];
  for (int w = 6 * kRowWords - 1; w >= 0; --w) dq_dat[w + kRowWords] = dq_dat[w];
  for (int w = 2 * kRowWords - 1; w >= 0; --w) sr_dat[w + kRowWords] = sr_dat[w];
  return static_cast<std::int16_t>(zero_sum + pole_sum);
}

void g726_vec_xor(std::int16_t *buf, std::int16_t mask, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) buf[i] = static_cast<std::int16_t>(buf[i] ^ mask);
}

void g726_vec_shr2(std::int16_t *buf, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) buf[i] = static_cast<std::int16_t>(buf[i] >> 2);
}

void g726_decode_linear_output(std::int16_t *buf, std::int32_t n) {
  for (std::int32_t i = 0; i < n; ++i) {
    int v = buf[i] * 4;
    if (v > 32767) v = 32767;
    if (v < -32768) v = -32768;
    buf[i] = static_cast<std::int16_t>(v);
  }
}
