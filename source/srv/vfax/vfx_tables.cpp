// Tables of the 7200/9600 bit/s pump: signal points, training points and the phase-change code.
#include "vfx_pump.h"

namespace {
constexpr int16_t U = 2200;  // one unit of the signal grid
constexpr int16_t c(int v) { return static_cast<int16_t>(v * U); }
}  // namespace

// Phases 0, 45, ... 315 degrees; on the axes amplitude 3 (bit 0) or 5, on the diagonals
// sqrt 2 (1, 1) or 3 sqrt 2 (3, 3).
const VCZCOMPLEX vfxtSig9600LUT[16] = {
    {c(3), 0},  {c(1), c(1)},  {0, c(3)}, {c(-1), c(1)},  {c(-3), 0}, {c(-1), c(-1)}, {0, c(-3)}, {c(1), c(-1)},
    {c(5), 0},  {c(3), c(3)},  {0, c(5)}, {c(-3), c(3)},  {c(-5), 0}, {c(-3), c(-3)}, {0, c(-5)}, {c(3), c(-3)},
};
const VCZCOMPLEX vfxtSig7200LUT[8] = {
    {c(3), 0}, {c(1), c(1)}, {0, c(3)}, {c(-1), c(1)}, {c(-3), 0}, {c(-1), c(-1)}, {0, c(-3)}, {c(1), c(-1)},
};

// A at 180 degrees, B at 315 degrees, C at 0 degrees, D at 135 degrees.
const VCZCOMPLEX vfxtTrn9600LUT[4] = {{c(-3), 0}, {c(3), c(-3)}, {c(3), 0}, {c(-3), c(3)}};
const VCZCOMPLEX vfxtTrn7200LUT[4] = {{c(-3), 0}, {c(1), c(-1)}, {c(3), 0}, {c(-1), c(1)}};

// Phase change in eighths of a turn for the three bits (first bit in time in bit 0):
// 001 -> 0, 000 -> 1, 010 -> 2, 011 -> 3, 111 -> 4, 110 -> 5, 100 -> 6, 101 -> 7 (bits in time order).
const uint16_t vfxtGraymapLUT[8] = {1, 6, 2, 5, 0, 7, 3, 4};
const uint16_t vfxtGrayunmapLUT[8] = {4, 0, 2, 6, 7, 3, 1, 5};

// 2400 and 4800 bit/s: four phases on the axes, eight phases at 45 degree steps, all on one
// circle; training alternates between 0 and 180 degrees.
const VCZCOMPLEX vfxtSig4800LUT[4] = {{c(3), 0}, {0, c(3)}, {c(-3), 0}, {0, c(-3)}};
const VCZCOMPLEX vfxtSig8PskLUT[8] = {
    {c(3), 0},  {2 * U + U / 8, 2 * U + U / 8},    {0, c(3)},  {-(2 * U + U / 8), 2 * U + U / 8},
    {c(-3), 0}, {-(2 * U + U / 8), -(2 * U + U / 8)}, {0, c(-3)}, {2 * U + U / 8, -(2 * U + U / 8)},
};
const VCZCOMPLEX vfxtTrn27LUT[4] = {{c(3), 0}, {c(-3), 0}, {c(3), 0}, {c(-3), 0}};

// Dibits (first bit in bit 0): 00 -> 0, 01 -> 90, 11 -> 180, 10 -> 270 degrees (bits in time order).
const uint16_t vfxtGraymap4LUT[4] = {0, 3, 1, 2};
const uint16_t vfxtGrayunmap4LUT[4] = {0, 2, 3, 1};

