// iLBC speech codec (8 kHz, 20 ms frames of 38 bytes or 30 ms frames of 50 bytes): the encoder
// and decoder instances and the four entry points. Instances live in memory the caller owns;
// any number of them may run side by side.
#pragma once

#include <cstdint>

struct iLBC_ULP_Inst_t {
  std::int16_t lsf_bits[6][5];
  std::int16_t start_bits[5];
  std::int16_t startfirst_bits[5];
  std::int16_t scale_bits[5];
  std::int16_t state_bits[5];
  std::int16_t extra_cb_index[3][5];
  std::int16_t extra_cb_gain[3][5];
  std::int16_t cb_index[6][3][5];
  std::int16_t cb_gain[6][3][5];
};

struct iLBC_Enc_Inst_t {
  std::int16_t mode;
  std::int16_t blockl;
  std::int16_t nsub;
  std::int16_t nasub;
  std::int16_t no_of_bytes;
  std::int16_t no_of_words;
  std::int16_t lpc_n;
  std::int16_t state_short_len;
  const iLBC_ULP_Inst_t* ULP_inst;
  std::int16_t anaMem[10];
  std::int32_t lsfold[10];
  std::int16_t lsfdeqold[10];
  std::int32_t lpc_bufferQ14[140];
  std::int16_t lpc_buffer_shift;
  std::int16_t zero_mem[2];
  std::int32_t pole_mem[2];
  std::int16_t pole_shift;
};

struct iLBC_Dec_Inst_t {
  std::int16_t mode;
  std::int16_t blockl;
  std::int16_t nsub;
  std::int16_t nasub;
  std::int16_t no_of_bytes;
  std::int16_t no_of_words;
  std::int16_t lpc_n;
  std::int16_t state_short_len;
  const iLBC_ULP_Inst_t* ULP_inst;
  std::int16_t syntMem[10];
  std::int16_t lsfdeqold[10];
  std::int16_t pitch;
  std::int16_t consPLICount;
  std::int16_t prev_enh_pl;
  std::int16_t perSquare;
  std::int16_t prevScale;
  std::int16_t prevPLI;
  std::int16_t prevPitch;
  std::int16_t prevLpc[11];
  std::int16_t prevResidual[240];
  std::int32_t per_q31;
  std::uint32_t seed;
  std::int16_t old_syntdenum[66];
  std::int32_t hpomem_q16[4];
  std::int16_t use_enhancer;
  std::int16_t enh_buf[640];
  std::int16_t enh_period[8];
};

// Sets up an encoder for 20 or 30 ms frames; returns the payload size in bytes.
std::int16_t ILBCFIX_MORV_initEncode(iLBC_Enc_Inst_t* iLBCenc_inst, std::int16_t mode);
// Encodes blockl samples (the array is used as working memory) into no_of_words 16-bit words.
void ILBCFIX_MORV_encode(std::uint16_t* enc_data, std::int16_t* block, iLBC_Enc_Inst_t* iLBCenc_inst);
// Sets up a decoder for 20 or 30 ms frames; returns the frame length in samples.
std::int16_t ILBCFIX_MORV_initDecode(iLBC_Dec_Inst_t* iLBCdec_inst, std::int16_t mode, std::int16_t use_enhancer);
// Decodes one payload (mode > 0) or conceals a lost frame (mode <= 0) into blockl samples.
void ILBCFIX_MORV_Decode(std::int16_t* decblock_q0, const std::uint16_t* enc_data, iLBC_Dec_Inst_t* iLBCdec_inst,
                         std::int16_t mode);
