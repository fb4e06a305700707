// G.711 law conversion. Negative samples enter the segment search through their one's complement,
// so that -1 codes like 0 and the two halves of the scale are mirror images.
#include "g711.h"

namespace {

std::int16_t alawCompressOne(std::int16_t x) {
  int ix = x < 0 ? (~x) >> 4 : x >> 4;  // 12-bit magnitude
  if (ix > 15) {
    int exponent = 1;
    while (ix > 16 + 15) {
      ix >>= 1;
      ++exponent;
    }
    ix -= 16;  // drop the leading one of the mantissa
    ix += exponent << 4;
  }
  if (x >= 0) ix |= 0x80;
  return static_cast<std::int16_t>(ix ^ 0x55);  // even bits inverted on the line
}

std::int16_t alawExpandOne(std::int16_t code) {
  const int c = code & 0xFF;
  const int ix = (c ^ 0x55) & 0x7F;
  const int exponent = ix >> 4;
  int mantissa = ix & 0xF;
  if (exponent > 0) mantissa += 16;  // restore the leading one
  mantissa = (mantissa << 4) + 8;    // centre of the step
  if (exponent > 1) mantissa <<= exponent - 1;
  return static_cast<std::int16_t>(c > 127 ? mantissa : -mantissa);
}

std::int16_t ulawCompressOne(std::int16_t x) {
  int magnitude = (x < 0 ? (~x) >> 2 : x >> 2) + 33;  // 14-bit magnitude plus the bias
  if (magnitude > 0x1FFF) magnitude = 0x1FFF;
  int segment = 1;
  for (int i = magnitude >> 6; i != 0; i >>= 1) ++segment;
  const int high = 8 - segment;
  const int low = 0xF - ((magnitude >> segment) & 0xF);
  int code = (high << 4) | low;
  if (x >= 0) code |= 0x80;
  return static_cast<std::int16_t>(code);
}

std::int16_t ulawExpandOne(std::int16_t code) {
  const int c = code & 0xFF;
  const int sign = c < 0x80 ? -1 : 1;
  const int inverted = ~c;
  const int exponent = (inverted >> 4) & 7;
  const int mantissa = inverted & 0xF;
  const int step = 4 << (exponent + 1);
  return static_cast<std::int16_t>(sign * ((0x80 << exponent) + step * mantissa + step / 2 - 4 * 33));
}

}  // namespace

void g711AlawCompress(int n, const std::int16_t* linear, std::int16_t* codes) {
  for (int i = 0; i < n; ++i) codes[i] = alawCompressOne(linear[i]);
}

void g711AlawExpand(int n, const std::int16_t* codes, std::int16_t* linear) {
  for (int i = 0; i < n; ++i) linear[i] = alawExpandOne(codes[i]);
}

void g711UlawCompress(int n, const std::int16_t* linear, std::int16_t* codes) {
  for (int i = 0; i < n; ++i) codes[i] = ulawCompressOne(linear[i]);
}

void g711UlawExpand(int n, const std::int16_t* codes, std::int16_t* linear) {
  for (int i = 0; i < n; ++i) linear[i] = ulawExpandOne(codes[i]);
}
