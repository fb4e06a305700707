// Building blocks shared by the G.722 codec and its concealment (internal to the family).
#pragma once

#include "g722.h"
#include "g722_kernels.h"

constexpr int G722_FRAME_CODES = 80;  // codewords per 10 ms frame
constexpr int G722_FRAME_SAMPLES = 160;

void g722_lsb_reset(g722_state *s);
void g722_hsb_reset(g722_state *s);
void g722_reset_hsbdec(g722_state *s, G722_APXIII_WB_PLC_State *plc);

void g722_qmf_tx(const Word16 *xin, Word16 *xl, Word16 *xh, Word16 *delayx1_in,
                 Word16 *delayx2_in, Word16 len);
void g722_qmf_rx(const Word16 *rl, const Word16 *rh, Word16 *xout1, Word16 *delayx1_in,
                 Word16 *delayx2_in, Word16 len);

Word16 g722_logscl(Word16 il, Word16 nbl);
Word16 g722_logsch(Word16 ih, Word16 nbh);
Word16 g722_scalel(Word16 nbpl, Word32 *Inv_deltal);
void g722_uppol1(Word16 *al, Word16 *plt, Word16 safetythres);
void g722_uppol2(Word16 *al, const Word16 *plt);
Word16 g722_filtep(Word16 *rlt, const Word16 *al);
Word16 g722_plc_adaptive_prediction(Word16 *d, Word16 *b, Word16 *a, Word16 *p,
                                    Word16 safetythres, Word16 *r, Word16 *sz);

using g722_nbph_filter = Word16 (*)(Word16 inv_frames_int, Word16 inv_frames_frc, Word16 nbph,
                                    Word16 sample, Word16 ngfae, Word16 *nbph_lp);
Word16 g722_NBPHlpfilter(Word16 inv_frames_int, Word16 inv_frames_frc, Word16 nbph, Word16 sample,
                         Word16 ngfae, Word16 *nbph_lp);
Word16 g722_NBPHnofilter(Word16 inv_frames_int, Word16 inv_frames_frc, Word16 nbph, Word16 sample,
                         Word16 ngfae, Word16 *nbph_lp);

// Decision interval (1..30) of a lower-band difference magnitude: the search starts from the
// pre-quantised interval and gives the same result as a linear search from level 1.
Word16 g722_quantl_mil(Word16 wd, Word16 detl, Word32 inv_detl);
void g722_lsbcod_frame(Word16 *xl, g722_state *s, Word16 len);
void g722_hsbcod_frame(Word16 *xh, g722_state *s, Word16 len);
void g722_lsbdec_frame(Word16 *tmp, const Word16 *code, Word16 mode, g722_state *s,
                       Word16 safetythres, Dec_Temp_State *dec_temp, Word16 len);
void g722_hsbdec_frame(Word16 *tmp, const Word16 *code, g722_state *s,
                       G722_APXIII_WB_PLC_State *plc, g722_nbph_filter g722_pNBPHlpfilter,
                       Word16 removal_mode, Word16 inv_frame_int, Word16 inv_frame_frc,
                       Dec_Temp_State *dec_temp, Word16 len);
void g722_plc_lsbdec_frame(Word16 *tmp, const Word16 *code, Word16 mode, g722_state *s,
                           Word16 safetythres, Dec_Temp_State *dec_temp, Word16 len);
void g722_plc_hsbdec_frame(Word16 *tmp, const Word16 *code, g722_state *s,
                           G722_APXIII_WB_PLC_State *plc, g722_nbph_filter g722_pNBPHlpfilter,
                           Word16 removal_mode, Word16 inv_frame_int, Word16 inv_frame_frc,
                           Dec_Temp_State *dec_temp, Word16 len);

// One step of the higher band's DC-removal filter over 16 x; returns the filter output.
Word16 g722_dc_removal(Word16 x, Word16 *m1, Word16 *hp_m1);
