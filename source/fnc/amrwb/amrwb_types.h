// Fixed-point word types of the AMR-WB codec.
#pragma once

#include <cstdint>

using Word16 = std::int16_t;
using Word32 = std::int32_t;
using UWord8 = std::uint8_t;
