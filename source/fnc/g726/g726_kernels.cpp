// G.726 kernels: the eight FMULT products of the adaptive predictor in one pass over the
// unpacked delay lines of a state record (the block coders use the windowed form of g726_step.h),
// and the whole-block conversions of the PCM side.
#include "g726.h"

#include "g726_step.h"

namespace {

constexpr int kRowWords = g726_detail::kRowWords;
using g726_detail::fmult;

}  // namespace

std::int16_t g726_PoleZeroFilt(std::int16_t *sezi, const std::int16_t *b, std::int16_t a1,
                               std::int16_t a2, std::int16_t *dq_dat, std::int16_t *sr_dat) {
  int zero_sum = 0;
  for (int i = 0; i < 6; ++i) zero_sum += fmult(b[i], dq_dat + i * kRowWords);
  const int pole_sum = fmult(a1, sr_dat) + fmult(a2, sr_dat + kRowWords);
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
