// The decoder's pitch-synchronous enhancer.
#pragma once

#include "ilbc.h"
#include "ilbc_basic.h"

namespace ilbc {

i16 ilbc_enhancerInterface(i16* out_q0, const i16* in_q0, iLBC_Dec_Inst_t* iLBCdec_inst,
                           const i16* polyphaserTbl_q15_Y);
void ilbc_enhancer(i16* odata_q0, const i16* idata_q0, int idatal, int centerStartPos, const i16* period,
                   const i16* plocs, int periodl, const i16* polyphaserTbl_q15_Y);
int ilbc_NearestNeighbor(const i16* array, i32 value_q2, int arlength);

}  // namespace ilbc
