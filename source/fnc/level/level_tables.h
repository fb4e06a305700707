// Sub-band filters of the sub-band level measure (generated, see tools/gen_levfb.py).
#pragma once

#include <cstdint>

constexpr int LEV_SUBBANDS = 7;
constexpr int LEV_FB_TAPS = 96;

extern const int16_t levFb[LEV_SUBBANDS][LEV_FB_TAPS];
