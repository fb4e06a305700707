// LP analysis routines of the AMR-WB encoder (internal header).
#pragma once

#include "amrwb_types.h"

// Windowed, normalised autocorrelations r[0..16] of a 384-sample buffer.
void amr_wb_Autocorr(const Word16* x, Word32* r);
// ISPs of the LP filter a (Q12); the previous ISPs when the roots are not all found.
void amr_wb_Az_isp(const Word16* a, Word16* isp, const Word16* old_isp);
// ISFs of 16 ISPs (the last one halved).
void amr_wb_Isp_isf(const Word16* isp, Word16* isf);
