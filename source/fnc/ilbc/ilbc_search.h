// The encoder's three-stage adaptive-codebook search and its gain quantiser.
#pragma once

#include "ilbc.h"
#include "ilbc_basic.h"

namespace ilbc {

void ilbc_iCBSearch(const iLBC_Enc_Inst_t* iLBCenc_inst, i16* index, i16* gain_index, const i16* intarget_q0,
                    const i16* mem_q0, int lMem, int lTarget, int nStages, const i16* weightDenum_q12,
                    const i16* weightState_q0, int block);
i32 ilbc_gainquant(i32 crossDot, i32 energy, int stage, i32 maxIn_q30, int cblen, i16* index);

}  // namespace ilbc
