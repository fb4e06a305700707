#include "plc_bv32.h"

#include <algorithm>
#include <array>

#include "basicop.h"

namespace {

constexpr int kGrid = 256;        // cosine grid over (0, pi)
constexpr int kMaxOrder = 16;
constexpr int16_t kMinLsf = 49;   // about 0.0015 pi
constexpr int16_t kMaxLsf = 32718;
constexpr int16_t kMinGap = 205;  // about 50 Hz at 8 kHz

constexpr double cosTaylor(double x) {
  // cos on [0, pi] by its series around pi/2 folded: enough terms for 1e-12.
  double term = 1, sum = 1;
  for (int k = 1; k < 30; ++k) {
    term *= -x * x / ((2 * k - 1) * (2 * k));
    sum += term;
  }
  return sum;
}

// cos(pi j / kGrid) in Q15 for j = 0 .. kGrid.
constexpr std::array<int16_t, kGrid + 1> kCos = [] {
  std::array<int16_t, kGrid + 1> t{};
  for (int j = 0; j <= kGrid; ++j) {
    const double c = cosTaylor(3.14159265358979323846 * j / kGrid) * 32768.0;
    const long v = static_cast<long>(c < 0 ? c - 0.5 : c + 0.5);
    t[j] = static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
  }
  return t;
}();

// Clenshaw evaluation of sum f[k] T_{n-k}(x) + f[n] / 2 in Q12 (x Q15), wide enough not to wrap:
// the cosine series of a symmetric polynomial, whose constant term counts once.
int64_t cheb(int16_t x, const int32_t* f, int n) {
  int64_t b1 = 0, b2 = 0;
  for (int k = 0; k < n; ++k) {
    const int64_t b0 = ((2 * int64_t{x} * b1) >> 15) - b2 + f[k];
    b2 = b1;
    b1 = b0;
  }
  return ((int64_t{x} * b1) >> 15) - b2 + f[n] / 2;
}

int16_t clamp16(int64_t v) { return static_cast<int16_t>(std::clamp<int64_t>(v, -32768, 32767)); }

// The sum (sign +1) and difference (sign -1) polynomials with their trivial roots removed.
void splitPolynomials(const int16_t* a, int order, int32_t* f1, int32_t* f2) {
  const int half = order / 2;
  f1[0] = f2[0] = 4096;
  for (int i = 1; i <= half; ++i) {
    f1[i] = a[i - 1] + a[order - i] - f1[i - 1];
    f2[i] = a[i - 1] - a[order - i] + f2[i - 1];
  }
}

// The LSF (Q15 of pi) at cosine x, by interpolation on the grid.
int16_t lsfOfCos(int32_t x) {
  for (int j = 0; j < kGrid; ++j) {
    if (x <= kCos[j] && x >= kCos[j + 1]) {
      const int32_t span = kCos[j] - kCos[j + 1];
      const int32_t frac = span > 0 ? ((kCos[j] - x) << 15) / span : 0;
      return static_cast<int16_t>(((j << 15) + frac) / kGrid);
    }
  }
  return x > 0 ? 0 : 32767;
}

int16_t cosOfLsf(int16_t lsf) {
  const int32_t pos = int32_t{lsf} * kGrid;  // Q15 grid position
  const int j = std::min(pos >> 15, kGrid - 1);
  const int32_t frac = pos & 0x7FFF;
  return static_cast<int16_t>(kCos[j] + (((kCos[j + 1] - kCos[j]) * frac) >> 15));
}

}  // namespace

int16_t FNevChebP_Q11(int16_t x, const int32_t* f, int n) { return clamp16(cheb(x, f, n) >> 1); }
int16_t FNevChebP_Q10(int16_t x, const int32_t* f, int n) { return clamp16(cheb(x, f, n) >> 2); }

void bvxx_Lpc_lsf(const int16_t* a, int16_t* lsf, int order) {
  if (order <= 0 || order > kMaxOrder || (order & 1)) return;
  int32_t f1[kMaxOrder / 2 + 1], f2[kMaxOrder / 2 + 1];
  splitPolynomials(a, order, f1, f2);
  const int half = order / 2;
  int found = 0;
  const int32_t* f = f1;
  int64_t prev = cheb(kCos[0], f, half);
  for (int j = 1; j <= kGrid && found < order; ++j) {
    const int64_t cur = cheb(kCos[j], f, half);
    if ((prev > 0 && cur <= 0) || (prev < 0 && cur >= 0)) {
      // Bisection between the two grid points, then a linear step.
      int32_t hi = kCos[j - 1], lo = kCos[j];
      int64_t vhi = prev;
      for (int it = 0; it < 6; ++it) {
        const int32_t mid = (hi + lo) / 2;
        const int64_t vm = cheb(static_cast<int16_t>(mid), f, half);
        if ((vhi > 0) == (vm > 0)) {
          hi = mid;
          vhi = vm;
        } else {
          lo = mid;
        }
      }
      const int64_t vlo = cheb(static_cast<int16_t>(lo), f, half);
      const int32_t x = vhi == vlo ? hi : static_cast<int32_t>(hi - (vhi * (hi - lo)) / (vhi - vlo));
      lsf[found++] = lsfOfCos(x);
      f = (found & 1) ? f2 : f1;  // the roots of the two polynomials interlace
      prev = cheb(static_cast<int16_t>(x), f, half);
      continue;
    }
    prev = cur;
  }
  // Roots not found (an unstable predictor): spread the rest evenly above the last one.
  for (int i = found; i < order; ++i) {
    lsf[i] = static_cast<int16_t>((i + 1) * 32768 / (order + 1));
  }
  bvxx_stblz_lsf(lsf, order);
}

void bvxx_stblz_lsf(int16_t* lsf, int order) {
  std::sort(lsf, lsf + order);
  if (lsf[0] < kMinLsf) lsf[0] = kMinLsf;
  for (int i = 1; i < order; ++i) {
    if (lsf[i] < lsf[i - 1] + kMinGap) lsf[i] = static_cast<int16_t>(lsf[i - 1] + kMinGap);
  }
  if (lsf[order - 1] > kMaxLsf) lsf[order - 1] = kMaxLsf;
  for (int i = order - 2; i >= 0; --i) {
    if (lsf[i] > lsf[i + 1] - kMinGap) lsf[i] = static_cast<int16_t>(lsf[i + 1] - kMinGap);
  }
}

void Get_pol(const int16_t* lsf, int32_t* f, int half) {
  // f(z) = product over the frequencies of (1 - 2 cos(w) z^-1 + z^-2), Q24. The product is
  // symmetric, so its first half + 1 coefficients hold it all; the next one is the mirror image.
  int64_t p[kMaxOrder / 2 + 2] = {};
  p[0] = int64_t{1} << 24;
  for (int i = 0; i < half; ++i) {
    const int64_t c = cosOfLsf(lsf[2 * i]);  // Q15
    if (i >= 1) p[i + 1] = p[i - 1];
    for (int k = i + 1; k >= 1; --k) {
      const int64_t prev2 = k >= 2 ? p[k - 2] : 0;
      p[k] = p[k] - ((2 * c * p[k - 1]) >> 15) + prev2;
    }
  }
  for (int k = 0; k <= half; ++k) f[k] = static_cast<int32_t>(p[k]);
}

void bvxx_Lsf_lpc(const int16_t* lsf, int16_t* a, int order) {
  if (order <= 0 || order > kMaxOrder || (order & 1)) return;
  const int half = order / 2;
  int32_t f1[kMaxOrder / 2 + 2], f2[kMaxOrder / 2 + 2];
  Get_pol(lsf, f1, half);
  Get_pol(lsf + 1, f2, half);
  // Put the trivial roots back: F1 (z) times (1 + z^-1), F2 (z) times (1 - z^-1).
  for (int i = half; i >= 1; --i) {
    f1[i] += f1[i - 1];
    f2[i] -= f2[i - 1];
  }
  for (int i = 1; i <= half; ++i) {
    const int64_t s = int64_t{f1[i]} + f2[i];
    const int64_t d = int64_t{f1[i]} - f2[i];
    a[i - 1] = clamp16((s + (int64_t{1} << 12)) >> 13);          // (F1 + F2) / 2, Q24 to Q12
    a[order - i] = clamp16((d + (int64_t{1} << 12)) >> 13);
  }
}

void bvxx_pp3dec(int16_t index, const int16_t* codebook, int16_t* b) {
  for (int k = 0; k < 3; ++k) b[k] = codebook[3 * index + k];
}

void bvxx_vqdec(int16_t* xq, int16_t index, const int16_t* codebook, int dim) {
  for (int k = 0; k < dim; ++k) xq[k] = codebook[index * dim + k];
}

void bvxx_apfilter_1st_Q0_Q0(int16_t a, const int16_t* x, int16_t* y, int n, int16_t* mem) {
  int16_t prev = *mem;
  for (int i = 0; i < n; ++i) {
    const int32_t acc = L_msu(L_deposit_h(x[i]), a, prev);
    prev = ::round(acc);
    y[i] = prev;
  }
  *mem = prev;
}

void bvxx_azfilter_1st_Q0_Q0(int16_t a, const int16_t* x, int16_t* y, int n, int16_t* mem) {
  int16_t prev = *mem;
  for (int i = 0; i < n; ++i) {
    const int16_t cur = x[i];
    y[i] = ::round(L_mac(L_deposit_h(cur), a, prev));
    prev = cur;
  }
  *mem = prev;
}

int32_t bvxx_Pow2(int16_t exponent, int16_t fraction) { return Pow2(exponent, fraction); }
