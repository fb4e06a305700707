// How cleanly a signal carries a known tone: the share a sine of that frequency explains.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tonefit {

// Signal-to-rest ratio in dB of `count` samples from `from`: a least-squares fit of a sine and a
// cosine at `hz`; what the fit leaves is counted as noise.
inline double toneSnrDb(const std::vector<int16_t>& s, double hz, size_t from, size_t count, double rate = 8000) {
  double cc = 0, ss = 0, cs = 0, xc = 0, xs = 0, xx = 0;
  for (size_t i = from; i < from + count && i < s.size(); ++i) {
    const double c = std::cos(2 * M_PI * hz * i / rate), sn = std::sin(2 * M_PI * hz * i / rate);
    cc += c * c, ss += sn * sn, cs += c * sn, xc += s[i] * c, xs += s[i] * sn, xx += double(s[i]) * s[i];
  }
  const double det = cc * ss - cs * cs;
  const double a = (xc * ss - xs * cs) / det, b = (xs * cc - xc * cs) / det;
  const double fit = a * xc + b * xs;
  return 10 * std::log10(fit / std::max(xx - fit, 1e-9));
}

}  // namespace tonefit
