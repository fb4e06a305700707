// The iLBC bit stream: one row table per mode drives both packing and unpacking.
#pragma once

#include "ilbc_basic.h"

namespace ilbc {

// A frame's coded parameters.
struct IndexSet {
  i16 lsf_i[6];
  i16 start;
  i16 state_first;
  i16 idxForMax;
  i16 idxVec[58];
  i16 extra_cb_index[3];
  i16 extra_gain_index[3];
  i16 cb_index[12];
  i16 gain_index[12];
};

// Writes one frame of 19 (mode 20) or 25 (mode 30) words; the final bit is 0.
void ilbc_pack_data(int mode, std::uint16_t* p_enc_data, const IndexSet& set);
// Reads one frame into `set` (cleared first); returns the frame's final bit.
int ilbc_unpack_data(int mode, const std::uint16_t* p_enc_data, IndexSet* set);

void ilbc_dopack(std::uint16_t** bitstream, unsigned index, int bitno, int* pos);
void ilbc_unpackOrThenShift(const std::uint16_t** bitstream, i16* index, int bitno, int* pos, int shift);

void ilbc_pack_data_20(std::uint16_t* p_enc_data, const IndexSet& set);
void ilbc_pack_data_30(std::uint16_t* p_enc_data, const IndexSet& set);
int ilbc_unpack_data_20(const std::uint16_t* p_enc_data, IndexSet* set);
int ilbc_unpack_data_30(const std::uint16_t* p_enc_data, IndexSet* set);

}  // namespace ilbc
