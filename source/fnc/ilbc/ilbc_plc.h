// Packet loss concealment of the iLBC decoder.
#pragma once

#include "ilbc.h"
#include "ilbc_basic.h"

namespace ilbc {

void ilbc_doThePLC(i16* PLCresidual_q0, i16* PLClpc_q12, int PLI, const i16* decresidual_q0, const i16* lpc_q12,
                   int inlag, iLBC_Dec_Inst_t* iLBCdec_inst);
void ilbc_compCorr(const i16* buffer_q0, int lag, int bLen, int sRange, i32* corr, i32* energy_lag, i32* energy);

}  // namespace ilbc
