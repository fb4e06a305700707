// The start state: choice of the loudest sub-block pair, its scalar quantisation with noise
// shaping, and its reconstruction.
#pragma once

#include "ilbc.h"
#include "ilbc_basic.h"

namespace ilbc {

i16 ilbc_FrameClassify2(const iLBC_Enc_Inst_t* inst, const i16* residual, i16* state_first, i16* start_pos);
void ilbc_StateSearchW(const iLBC_Enc_Inst_t* inst, const i16* residual_q0, const i16* syntDenum_q12,
                       const i16* weightDenum_q12, i16* idxForMax, i16* idxVec, int len, int state_first);
void ilbc_AbsQuantW(const iLBC_Enc_Inst_t* inst, i32* in_q16, const i16* weightDenum_q12, i16* out, int len,
                    int state_first);
void ilbc_StateConstructW(int idxForMax, const i16* idxVec, const i16* syntDenum_q12, i16* out_q0, int len);
int ilbc_sort_sq2(i16* xq, i16 x, const i16* cb, const i16* cb_threshold, int cb_size);
int ilbc_sort_sq2_long_8(i32* xq, i32 x, const i32* cb, const i32* cb_threshold);

}  // namespace ilbc
