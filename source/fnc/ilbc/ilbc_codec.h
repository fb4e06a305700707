// Frame-level internals shared by the encoder, the decoder and their tests.
#pragma once

#include "ilbc.h"
#include "ilbc_basic.h"
#include "ilbc_pack.h"

namespace ilbc {

inline constexpr int kSubL = 40;
inline constexpr int kStateLen = 80;

// What one frame leaves behind, for tests that hold the encoder's own reconstruction against
// the decoder's: the frame's residual and its LPC synthesis (the decoder's before the output
// high-pass). `syntMem` carries the encoder side's synthesis memory from frame to frame.
struct FrameTrace {
  i16 residual[240];
  i16 synthesis[240];
  i16 syntMem[10];
  bool concealed;
};

void encode_frame(std::uint16_t* enc_data, i16* block, iLBC_Enc_Inst_t* inst, FrameTrace* trace);
void decode_frame(i16* decblock_q0, const std::uint16_t* enc_data, iLBC_Dec_Inst_t* inst, int mode,
                  FrameTrace* trace);

void ilbc_frame_Decode(const iLBC_Dec_Inst_t* inst, i16* decresidual_q0, const IndexSet& set,
                       const i16* syntdenum_q12);
// True when every codebook index of the set lies inside its section of the codebook.
bool indices_in_range(const iLBC_Dec_Inst_t* inst, const IndexSet& set);

}  // namespace ilbc
