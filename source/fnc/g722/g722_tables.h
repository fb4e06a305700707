// Constant tables of G.722 and of its Appendix III concealment (internal to the family).
#pragma once

#include <cstdint>

extern const std::int16_t g722_coef_qmf2[24];
extern const std::int16_t g722_q6[31];
extern const std::int16_t g722_preQStart[65];
extern const std::int16_t g722_misil[64];
extern const std::int16_t g722_deQl[16];
extern const std::int16_t g722_LogScl[16];
extern const std::int16_t g722_ila[353];
extern const std::int32_t g722_inv_ila[353];
extern const std::int16_t g722_misih[6];
extern const std::int16_t g722_deQh[4];
extern const std::int16_t g722_loghTab[4];
extern const std::int16_t g722_oq6[31];
extern const std::int16_t g722_ril6[64];
extern const std::int16_t g722_risi6[64];
extern const std::int16_t g722_oq5[16];
extern const std::int16_t g722_ril5[32];
extern const std::int16_t g722_risi5[32];
extern const std::int16_t g722_oq4[8];
extern const std::int16_t g722_ril4[16];
extern const std::int16_t g722_risi4[16];
extern const std::int16_t g722_nbpltab[8];
extern const std::int16_t g722_nbphtab[8];
extern const std::int16_t g722_ngfaeoffset_p1[8];
extern const std::int16_t g722_olaug[40];
extern const std::int16_t g722_oladg[40];
extern const std::int16_t g722_olaup[8];
extern const std::int16_t g722_oladown[8];
extern const std::int16_t g722_div_n[20];
extern const std::int16_t g722_gawd[4];
extern const std::int16_t g722_inv_frm_size[3];
extern const std::int16_t g722_q4[8];
extern const std::int16_t g722_wlil4rilil[9];
extern const std::int16_t g722_wn[128];
extern const std::int16_t g722_win[160];
extern const std::int32_t g722_sstwin[8];
extern const std::int16_t g722_bwel[9];
extern const std::int16_t g722_STWAL[9];
extern const std::int16_t g722_bdf[60];
extern const std::int16_t g722_x[4];
extern const std::int16_t g722_x2[4];
extern const std::int16_t g722_MPTH[4];
extern const std::int16_t g722_invk[4];
extern const std::int16_t g722_ola3[3];
extern const std::int16_t g722_ola4[4];
extern const std::int16_t g722_ola5[5];
extern const std::int16_t g722_ola6[6];
extern const std::int16_t g722_ola7[7];
extern const std::int16_t g722_ola8[8];
extern const std::int16_t g722_tablog[33];
