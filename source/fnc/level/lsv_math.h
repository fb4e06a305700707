// The numeric routines the line services use, from the signal-processing family's shared maths
// (decibel conversions, fractional division, block normalisation, the DC-blocking high-pass, the
// noise source, the general FIR), with the explicit saturation and wrap helpers of these blocks.
#pragma once

#include <cstdint>

#include "dsputil.h"

namespace lsvmath {

using ::fir;
using ::utildB2scale;
using ::utildiv_s;
using ::utilHighpass;
using ::utilHighpassAtRest;
using ::utilIsSilent;
using ::utilMaxAbs;
using ::utilPower2dB;
using ::utilRand;
using ::utilVectorNorm;

// Saturates a 32-bit (or wider) value to the 16-bit sample range.
constexpr int16_t sat16(int64_t v) {
  return static_cast<int16_t>(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
}
constexpr int32_t sat32(int64_t v) {
  return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : v));
}
// The low 32 bits of a wider value: sums documented as "32 bits without saturation" wrap.
constexpr int32_t wrap32(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(v)); }

}  // namespace lsvmath
