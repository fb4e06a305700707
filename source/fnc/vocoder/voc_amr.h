// Pieces the AMR and AMR-WB wrappers share (internal to the vocoder module).
#pragma once

#include <cstddef>
#include <cstdint>

#include "vocoder.h"

// Bit routines: `startMask` (at most 128) is the first bit's mask in the first byte; `table`
// maps payload bit i to codec bit table[i] (none: natural order).
void unpackBits(unsigned startMask, unsigned count, const uint8_t* src, int16_t* bits, const int16_t* table,
                   int16_t one, int16_t zero);
void packBits(unsigned startMask, unsigned count, uint8_t* dst, const int16_t* bits, const int16_t* table);
void amrWriteHeader(uint8_t* payload, unsigned ft, bool octetAligned);
// The far end's request applied to the current mode within the mode set.
uint16_t amrNextMode(uint16_t mode, uint16_t request, uint16_t modeSet, bool neighbor, unsigned modes);

void gsmamrOptions(void* encPool, const AMR_REGS* options);
void gsmamrModeRequest(void* encPool, uint16_t mode);
size_t gsmamrDecStateBytes();
size_t gsmamrEncStateBytes();

void amrwbOptions(void* encPool, const AMR_REGS* options);
void amrwbModeRequest(void* encPool, uint16_t mode);
size_t amrwbDecStateBytes();
size_t amrwbEncStateBytes();
