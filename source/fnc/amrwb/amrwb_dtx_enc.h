// Send side of AMR-WB DTX and the ISF quantisers of the encoder (internal).
#pragma once

#include "amrwb_encoder.h"

void amr_wb_dtx_enc_reset(wb_amr_dtx_encState* st);
void amr_wb_tx_dtx_handler(wb_amr_dtx_encState* st, Word16 vad_flag, Word16* usedMode);
void amr_wb_dtx_buffer(wb_amr_dtx_encState* st, const Word16* isf_new, Word32 enr, Word16 codec_mode);
void amr_wb_dtx_enc(wb_amr_dtx_encState* st, Word16* isf, Word16* exc2, Word16** prms);

void amr_wb_Qpisf_2s_46b(const Word16* isf1, Word16* isf_q, Word16* past_isfq, Word16* indice);
void amr_wb_Qpisf_2s_36B(const Word16* isf1, Word16* isf_q, Word16* past_isfq, Word16* indice);
void amr_wb_Qisf_ns(const Word16* isf1, Word16* isf_q, Word16* indice);
