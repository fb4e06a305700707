// Lane-rule sums shared by the kernel files of the GSM half-rate codec.
#pragma once

#include <cstdint>

#include "hr_kernels.h"

namespace hr {

// A saturating chain equals the plain sum when the magnitudes of its terms add up to less
// than 2^31: no partial sum can then leave the range. The exact sums are formed first and the
// stepwise saturating chains only run when that bound fails.
template <class P>
inline Word32 lane_sum(int n, Word32 L0, P prod) {
  std::int64_t sum[4] = {0, 0, 0, 0}, mag[4] = {0, 0, 0, 0};
  for (int i = 0; i < n; ++i) {
    std::int64_t p = prod(i);
    sum[i & 3] += p;
    mag[i & 3] += p < 0 ? -p : p;
  }
  Word32 acc[4];
  if (mag[0] <= LW_MAX && mag[1] <= LW_MAX && mag[2] <= LW_MAX && mag[3] <= LW_MAX) {
    for (int j = 0; j < 4; ++j) acc[j] = static_cast<Word32>(sum[j]);
  } else {
    acc[0] = acc[1] = acc[2] = acc[3] = 0;
    for (int i = 0; i < n; ++i) acc[i & 3] = L_add(acc[i & 3], prod(i));
  }
  return hr_lanes(acc, L0);
}

}  // namespace hr
