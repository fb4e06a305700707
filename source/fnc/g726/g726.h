// G.726 ADPCM codec at 16, 24, 32 and 40 kbit/s with u-law, A-law or 16-bit linear PCM on the
// line side. One state record per encoder or decoder, owned by the caller; nothing allocates.
#pragma once

#include <cstdint>

enum G726_Rate : std::int32_t {
  G726_16_KBPS = 2,
  G726_24_KBPS = 3,
  G726_32_KBPS = 4,
  G726_40_KBPS = 5,
};

enum G726_Law : std::int32_t {
  G726_ULAW = 0,
  G726_ALAW = 1,
  G726_LINEAR = 2,
};

// Delay-line rows hold a value in unpacked floating form {E - 19, M * 8, raw}: E the number of
// significant bits of its 15-bit magnitude, M its 6-bit mantissa (32 for zero), raw the value
// with its sign in bit 15 (dq in sign-magnitude form, sr in two's complement).
struct G726_State {
  G726_Law Alaw;
  G726_Rate rate;
  std::int16_t yup;   // fast quantiser scale factor YU, 544..5120
  std::int16_t yup2;  // unused
  std::int32_t ylp;   // slow quantiser scale factor YL
  std::int16_t dq_dat[9][3];  // DQ(n-1)..DQ(n-6) in rows 0..5; rows 6..8 working room
  std::int16_t sr_dat[3][3];  // SR(n-1), SR(n-2) in rows 0..1; row 2 working room
  std::int16_t dq[6];
  std::int16_t br[6];  // zero-predictor coefficients b1..b6, Q14
  std::int16_t a1r, a2r;  // pole-predictor coefficients, Q14
  std::int16_t sr0, sr1;
  std::int16_t dmsp, dmlp;  // short- and long-term averages of F(I)
  std::int16_t apr;  // speed-control parameter AP
  std::int16_t tdr;  // tone detect of the previous sample
  std::int16_t pk0, pk1;  // DQ + SEZ of this and the previous sample
  const std::int16_t *ThreshTab;
  const std::int16_t *ValTab;
  std::int16_t numThresh;
  const std::int16_t *DeQTab;
  const std::int16_t *functfTab;
  const std::int16_t *functwTab;
  const std::int16_t *Sync_ThreshTab;
  const std::int16_t *Sync_mapk;
  std::int16_t Sync_numThresh;
  std::int16_t leak;   // right shift of the zero-coefficient leakage
  std::int16_t param;  // 2^(16 - leak)
  const std::int16_t *Expand;   // PCM code to 14-bit linear
  const std::int16_t *syncTab;  // synchronous coding adjustment rows {delta, mask, set}
  std::int16_t (*compressFn)(std::int16_t *sr);
  std::int16_t padding[2];
};

// Resets every adaptive value and selects the tables of `rate` and `law`. Returns 0, or -1 when
// the rate is not 2..5: the state is then reset without rate tables and codes nothing but zeros.
int g726_configure(G726_State *state, G726_Rate rate, G726_Law law);
// Restores the start values and keeps rate and law.
int g726_reset(G726_State *state);

// Encodes `smpno` samples (16-bit linear, or one 8-bit PCM code per word) into one code per word.
// The input buffer is converted in place (linear: shifted to 14 bits; A-law: even bits inverted
// back); `out_buf` may equal `inp_buf`.
void g726_encode(std::int16_t *inp_buf, std::int16_t *out_buf, G726_State *enc_state, int smpno);
// Decodes `smpno` codes (masked to the rate's width) into 16-bit linear samples or PCM codes.
void g726_decode(std::int16_t *inp_buf, std::int16_t *out_buf, G726_State *dec_state, int smpno);
// One sample: Encode 1 codes `input_offset` and returns the code; 0 decodes it and returns 0.
std::int16_t g726_common(std::int16_t Encode, std::int16_t input_offset, std::int16_t *sr,
                         std::int16_t *se, std::int16_t *y, G726_State *local_state);

// 14-bit linear to a PCM code (A-law without its even-bit inversion).
std::int16_t g726_ulaw_compress(std::int16_t *sr);
std::int16_t g726_alaw_compress(std::int16_t *sr);

// Kernels: the eight FMULT products of the predictor with the delay-line shift, and the block
// conversions of the PCM side.
std::int16_t g726_PoleZeroFilt(std::int16_t *sezi, const std::int16_t *b, std::int16_t a1,
                               std::int16_t a2, std::int16_t *dq_dat, std::int16_t *sr_dat);
void g726_vec_xor(std::int16_t *buf, std::int16_t mask, std::int32_t n);
void g726_vec_shr2(std::int16_t *buf, std::int32_t n);
void g726_decode_linear_output(std::int16_t *buf, std::int32_t n);
