// G.722 wideband codec (16 kHz, two sub-bands of ADPCM) with the packet-loss
// concealment of G.722 Appendix III on the receive side. Every record is owned by the caller and
// passed on each call; nothing allocates and nothing is kept in static storage.
#pragma once

#include <cstdint>

enum g722_mode : std::int32_t {
  G722_MODE_1 = 1,  // 64 kbit/s
  G722_MODE_2 = 2,  // 56 kbit/s
  G722_MODE_3 = 3,  // 48 kbit/s
};

// One direction of the codec. Predictor arrays have nine entries: coefficients and delayed values
// in 1..6, the current value in entry 0, entries 7 and 8 spare.
struct g722_state {
  std::int16_t al[3];   // lower-band pole coefficients a1, a2 in 1..2
  std::int16_t bl[9];   // lower-band zero coefficients b1..b6
  std::int16_t detl;    // lower-band quantiser scale factor
  std::int16_t dlt[9];  // lower-band quantised difference, current and six delayed
  std::int16_t nbl;     // lower-band log scale factor
  std::int16_t plt[3];  // lower-band partial reconstruction, current and two delayed
  std::int16_t rlt[3];  // lower-band reconstruction, current and two delayed
  std::int16_t sl;      // lower-band signal estimate
  std::int16_t spl;     // lower-band pole section output
  std::int16_t szl;     // lower-band zero section output
  std::int32_t inv_detl;  // 2^30 / detl, for the encoder's pre-quantised decision search
  std::int16_t ah[3];
  std::int16_t bh[9];
  std::int16_t deth;
  std::int16_t dh[9];
  std::int16_t ph[3];
  std::int16_t rh[3];
  std::int16_t nbh;
  std::int16_t sh;
  std::int16_t sph;
  std::int16_t szh;
  // QMF delay lines: twelve most recent branch inputs in entries 1..12, newest first. Transmit:
  // row 0 the second sample of each pair, row 1 the first. Receive: row 0 the difference of the
  // sub-bands, row 1 their sum.
  std::int16_t qmf_tx_delayx[2][13];
  std::int16_t qmf_rx_delayx[2][13];
};

// Tracking values the frame decoders update, copied out of and back into the concealment record.
struct Dec_Temp_State {
  std::int16_t psml_mean;
  std::int16_t nbpl_mean1;
  std::int16_t nbpl_trck;
  std::int16_t nbpl_mean2;
  std::int16_t nbpl_chng;
  std::int16_t nbph_mean;
  std::int16_t nbph_trck;
  std::int16_t nbph_chng;
};

constexpr int G722_PLC_XQ_LEN = 638;  // 426 past, 160 current, 52 continuation
// Output kept before the history xq: enough for the pitch refinement of the four frames before
// the last one, which a loss may still need.
constexpr int G722_PLC_XQ_OLD_LEN = 672;

// Concealment record, one per decoder.
struct G722_APXIII_WB_PLC_State {
  std::int16_t phhp_m1, ph_m1, rhhp_m1, rh_m1;  // higher-band DC-removal filter memories
  std::int16_t dfm[60];       // decimation low-pass memory
  std::int16_t xwd_exp;       // block exponent of xwd
  std::int16_t xwd[49];       // decimated weighted signal, 45 used
  std::int32_t energymax32;   // energy of the best pitch candidate
  std::int32_t cormax;        // correlation of the best pitch candidate
  std::int16_t ngfae;         // good frames since the last erasure (saturating at 9)
  std::int16_t nbph_lp;
  std::int16_t cfecount;      // consecutive lost frames
  std::int16_t hb_reset;
  std::int16_t ph_postn;
  std::int16_t nbph_mean, nbph_trck, nbph_chng;
  std::int16_t nbh_mode;
  std::int16_t hp_flag;
  std::int16_t psml_mean;
  std::int16_t nbpl_mean1, nbpl_mean2, nbpl_trck, nbpl_chng;
  std::int16_t pl_postn;
  std::int16_t lb_reset;
  std::int16_t wsz;
  std::int16_t scaled_flag;
  std::int16_t al[9];         // short-term predictor, Q12
  std::int16_t alast[9];
  std::int16_t ppt;
  std::int16_t stwpml[8];
  std::int16_t ptfe;          // pitch tap, Q14
  std::int16_t avm;           // average residual magnitude
  std::int16_t cpplast;
  std::int16_t pph[5];         // pitch of the last five frames, newest first
  // Coarse pitch of the good frames among them whose refined pitch is not computed yet (0 when
  // pph holds it): only a loss reads it, so the refinement runs at the first lost frame.
  std::int16_t pph_cpp[5];
  std::int16_t pp;
  std::int16_t scaler;
  std::int16_t stsyml[8];
  std::int16_t xq[G722_PLC_XQ_LEN];
  std::int16_t xq_old[G722_PLC_XQ_OLD_LEN];  // the output before xq[0], oldest first
  std::int16_t merit;
  std::int16_t ppf;
  std::int16_t ppinc;
  std::int16_t pweflag;
  std::int16_t nfle;
  std::int16_t lag;
  std::int16_t sb_sample;
  std::int16_t cpl_postn, cph_postn, crhhp_m1, crh_m1, cphhp_m1, cph_m1;
  g722_state ds;
  std::int16_t lb[39];
  std::int16_t hb[39];
};

// Encoder: `read1` samples into read1 / 2 codewords (ih << 6 | il, one per element).
int g722_enc(const std::int16_t *in, std::int16_t *code, int n, g722_state *encoder);
int g722plc_encode(const std::int16_t *in, std::int16_t *code, int n, g722_state *encoder);
int g722_encode(const std::int16_t *incode, std::int16_t *code, std::int16_t read1,
                g722_state *encoder);

// Decoder: `n` codewords into 2n samples, whole 10 ms frames of 80 codewords; `bfi` 1 conceals.
// `mode` 1, 2 or 3 decodes 6, 5 or 4 bits of the lower band (64, 56 or 48 kbit/s); the encoder
// always gives full 64 kbit/s codewords, which a lower mode decodes by ignoring their low bits.
int g722_dec(const std::int16_t *code, std::int16_t *out, int mode, int n, g722_state *decoder,
             G722_APXIII_WB_PLC_State *plc, std::int16_t bfi);
int G722DecWithPLC(const std::int16_t *chan, std::int16_t *output, g722_mode mode, int blocksize,
                   g722_state *ds, G722_APXIII_WB_PLC_State *plc, std::int16_t bfi);
int g722_decode(const std::int16_t *code, std::int16_t *outcode, int mode, std::int16_t read1,
                g722_state *decoder, G722_APXIII_WB_PLC_State *plc);

void g722_reset_encoder(g722_state *encoder);
void g722_reset_decoder(g722_state *decoder);
void g722_reset_state(g722_state *state);
void g722_Reset_WB_PLC(G722_APXIII_WB_PLC_State *plc);
