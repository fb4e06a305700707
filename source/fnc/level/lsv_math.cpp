#include "lsv_math.h"

#include <array>
#include <cstdlib>

namespace lsvmath {

namespace {

// round(32768 * 10^(-i/80)): quarter-dB steps of one 6 dB octave, L[0] held at 32767.
constexpr std::array<int16_t, 24> utillogfactorTable = {
    32767, 31838, 30935, 30057, 29205, 28376, 27571, 26789, 26029, 25290, 24573, 23875,
    23198, 22540, 21900, 21279, 20675, 20089, 19519, 18965, 18427, 17904, 17396, 16902};

// 10 log10 of the normalised power mantissa, dB x 256.
constexpr std::array<int16_t, 16> utilPower2dBTable = {
    -736, -671, -609, -551, -495, -442, -392, -343, -297, -252, -210, -168, -129, -90, -53, -17};

}  // namespace

int16_t utildB2scale(int level) {
  if (level >= 0) return 32767;
  if (level < -23039) return 0;
  const int q = (1 - (level >> 5)) >> 1;
  return static_cast<int16_t>(utillogfactorTable[q % 24] >> (q / 24));
}

int16_t utilPower2dB(uint32_t pwr, int offset) {
  uint32_t v = pwr | 1u;
  int k = 0;
  while (v <= 0x3FFFFFFFu) {
    v <<= 1;
    ++k;
  }
  return static_cast<int16_t>(offset - 768 * k + utilPower2dBTable[(v >> 26) & 15]);
}

int16_t utildiv_s(int16_t var1, int16_t var2) {
  if (var1 <= 0 || var2 <= 0) return 0;
  if (var1 >= var2) return 32767;
  int32_t rem = var1;
  int32_t q = 0;
  for (int i = 0; i < 15; ++i) {
    rem <<= 1;
    q <<= 1;
    if (rem >= var2) {
      rem -= var2;
      q |= 1;
    }
  }
  return static_cast<int16_t>(q);
}

int16_t utilMaxAbs(const int16_t* x, int n) {
  int m = 0;
  for (int i = 0; i < n; ++i) {
    const int a = x[i] == -32768 ? 32767 : std::abs(int{x[i]});
    if (a > m) m = a;
  }
  return static_cast<int16_t>(m);
}

int16_t utilVectorNorm(int16_t* x, int n) {
  int m = utilMaxAbs(x, n);
  if (m == 0) return 0;
  int16_t z = 0;
  while (m < 16384) {
    m <<= 1;
    ++z;
  }
  for (int i = 0; i < n; ++i) x[i] = static_cast<int16_t>(x[i] * (1 << z));
  return z;
}

void utilHighpass(const int16_t* x, int16_t* y, int n, int alpha_exp, int32_t* umem) {
  int32_t u = *umem;
  for (int i = 0; i < n; ++i) {
    const int32_t next = wrap32(int64_t{x[i]} + u - (u >> alpha_exp));
    const int32_t d = wrap32(int64_t{u} - next);
    y[i] = sat16(int64_t{d >> (alpha_exp + 1)} - d);
    u = next;
  }
  *umem = u;
}

void utilRand(int16_t* x, int16_t* seed, int16_t g, int n) {
  uint16_t s = static_cast<uint16_t>(*seed);
  for (int i = 0; i < n; ++i) {
    s = static_cast<uint16_t>(s * 31821u + 13849u);
    x[i] = static_cast<int16_t>((int32_t{static_cast<int16_t>(s)} * g) >> 17);
  }
  *seed = static_cast<int16_t>(s);
}

void fir(const int16_t* x, int16_t* y, const int16_t* h, int n, int k) {
  for (int i = 0; i < k; ++i) {
    int64_t acc = 0;
    for (int j = 0; j + 1 < n; j += 2) {
      // Two products at a time in 32 bits, as the paired multiply-accumulate forms them.
      acc += wrap32(int64_t{h[j]} * x[i - j] + int64_t{h[j + 1]} * x[i - j - 1]);
    }
    if (n & 1) acc += int32_t{h[n - 1]} * x[i - n + 1];  // an odd last tap on its own
    y[i] = sat16((2 * acc) >> 16);
  }
}

}  // namespace lsvmath
