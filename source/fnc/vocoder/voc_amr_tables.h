// Payload bit orders of the AMR (8 speech modes) and AMR-WB (9 speech modes) payloads: payload
// bit i is the codec's serial bit table[i]. The lengths are the modes' speech bit counts.
#pragma once

#include <cstdint>

extern const int16_t* const amrSortNb[8];
extern const int16_t* const amrSortWb[9];
