// Private helpers of the generic routine set.
#pragma once

#include <cstdint>

#include "gcommon.h"
#include "tables/gcommon_tables.h"

namespace gcommon {

// Plain (wrapping) 32-bit arithmetic, as the routines state it where they do not saturate.
inline SINT32 wrap32(std::int64_t x) { return static_cast<SINT32>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(x))); }
inline SINT32 plainShl(SINT32 x, int s) { return wrap32(static_cast<std::int64_t>(x) * (std::int64_t{1} << s)); }
inline SINT16 hi16(SINT32 x) { return static_cast<SINT16>(x >> 16); }
inline SINT32 lo16u(SINT32 x) { return x & 0xFFFF; }
inline SINT32 absPlain(SINT32 x) { return x == INT32_MIN ? INT32_MAX : (x < 0 ? -x : x); }

// Short-form LP vector (a1..a10) to and from the live codec's full form (a0 = 4096 in front).
inline void toFullForm(const SINT16* shortA, SINT16* full) {
    full[0] = 4096;
    for (int i = 0; i < 10; ++i) full[i + 1] = shortA[i];
}

}  // namespace gcommon
