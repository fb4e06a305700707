// GSM full-rate speech codec (RPE-LTP, 13 kbit/s) with homing frames, voice activity detection,
// discontinuous transmission, comfort noise and bad-frame substitution.
//
// One call encodes or decodes one 20 ms frame of 160 linear samples at 8 kHz. The encoder
// produces 76 codec parameters; gsmfr_prm2bits and gsmfr_bits2prm convert them to and from the
// 260-bit serial frame (one bit per 16-bit word). The caller owns the state records and resets
// them before the first frame. The codec keeps its per-frame working arrays in static storage:
// frames of the same direction must not run concurrently.
#pragma once

#include <cstdint>

enum : int {
  GSMFR_FRAME_LEN = 160,    // samples per frame
  GSMFR_NUM_PRM = 76,       // codec parameters per frame
  GSMFR_NUM_DEC_PRM = 79,   // decoder parameter array: 76 parameters, SID, TAF, BFI
  GSMFR_SERIAL_BITS = 260,  // bits of a serial frame
};

// Flags of gsmfr_decode.
enum : std::uint16_t {
  GSMFR_FLAG_SID = 1,  // the frame was classified as a valid SID frame
  GSMFR_FLAG_TAF = 2,  // time alignment flag: a SID frame was due in this frame
  GSMFR_FLAG_BFI = 4,  // bad frame indication: the parameters are not usable
};

// Pseudo-floating value: exponent, then a mantissa normalised to 16384..32767 where required.
struct FR_Pfloat {
  std::int16_t e;
  std::int16_t m;
};
using FR_fp = FR_Pfloat;

struct FrVadState {
  std::int16_t mode;                // 0 full rate, 2 half rate
  const std::int16_t* const_ptr;    // entry 4 of the mode's constant row
  std::int16_t scal_rvad;
  FR_Pfloat thvad;                  // adaptive threshold
  std::int16_t pt_sacf, pt_sav0;    // ring positions
  std::int32_t L_lastdm;            // previous spectral distortion
  std::int16_t adaptcount, burstcount, hangcount;
  std::int16_t oldlagcount, veryoldlagcount, oldlag;
  std::int16_t rvad[9];
  std::int32_t L_sacf[27];          // three frames of scaled autocorrelations
  std::int32_t L_sav0[36];          // four frames of averaged autocorrelations
  std::int16_t ptch;                // periodicity flag
};

struct FRdtx_encState {
  std::int16_t txdtx_ctrl;
  std::int32_t L_pn_seed_tx;
  std::int16_t txdtx_N_elapsed;
  std::int16_t txdtx_hangover;
  std::int16_t LARcHist[4][8];
  std::int16_t XmaxHist[4][4];
  std::int16_t HistIndx;
  std::int16_t SID_LAR[8];
  std::int16_t SID_Xmax[4];
};

struct FRdtx_decState {
  std::int16_t rxdtx_ctrl;
  std::int16_t rx_dtx_state;
  std::int16_t rxdtx_N_elapsed;
  std::int16_t prev_SID_frames_lost;
  std::int16_t rxdtx_aver_period;
  std::int32_t L_pn_seed_rx;
  std::int16_t prev_bf;
  std::int16_t state;
  std::int16_t mute_count;
  std::int16_t LAR_CN_Old[8];
  std::int16_t LAR_CN_New[8];
  std::int16_t Xmax_CN_Old[4];
  std::int16_t Xmax_CN_New[4];
};

struct GSMFR_ENCSTRUCT {
  std::int16_t z1;
  std::int32_t L_z2;
  std::int16_t mp;
  std::int16_t u[9];
  std::int16_t LARpp[2][8];
  std::int16_t j;
  std::int16_t ltp_cut;
  std::int16_t nrp;
  std::int16_t v[9];
  std::int16_t msr;
  std::int16_t e[50];
  // Long-term prediction window: at frame boundaries the first 120 words hold the last 120
  // samples of the reconstructed short-term residual; the last 40 receive each subframe's
  // reconstruction before the window moves on. Keeping it here leaves the caller's input alone.
  std::int16_t dp0[160];
  std::int16_t dtxOn;
  FRdtx_encState dtxState;
  FrVadState VadState;
  std::uintptr_t end_marker;
};

struct GSMFR_DECSTRUCT {
  std::int16_t z1;
  std::int32_t L_z2;
  std::int16_t mp;
  std::int16_t u[8];
  std::int16_t LARpp[2][8];
  std::int16_t j;
  std::int16_t ltp_cut;
  std::int16_t nrp;
  std::int16_t v[9];
  std::int16_t msr;
  std::int16_t e[50];
  std::int16_t dp0[120];
  FRdtx_decState dtxState;
  std::int16_t homing_flag_old;
  std::uintptr_t end_marker;
};

// Resets the encoder; dtx = 1 switches discontinuous transmission on. Returns 0.
int gsmfr_reset_enc(GSMFR_ENCSTRUCT* st, std::int16_t dtx);

// Encodes 160 samples into parm[0..75]. With DTX on, bit 15 of parm[0] carries the VAD flag and
// bit 15 of parm[1] the SP flag (0: SID frame or no transmission). The input is not modified.
// Returns 0.
int gsmfr_encode(GSMFR_ENCSTRUCT* st, const std::int16_t* new_speech, std::int16_t* parm);

// Resets the decoder. Returns 0.
int gsmfr_reset_dec(GSMFR_DECSTRUCT* st);

// Decodes parm[0..75] with the GSMFR_FLAG_* flags into 160 samples. parm must hold 79 words:
// entries 76..78 receive the SID, TAF and BFI indications. Returns 0.
int gsmfr_decode(GSMFR_DECSTRUCT* st, std::int16_t* parm, std::uint16_t flags, std::int16_t* synth);

// 76 parameters to 260 serial bits (0 or 1), most significant bit first; bits above each
// parameter's width are ignored.
void gsmfr_prm2bits(const std::int16_t* parm, std::int16_t* serial);

// 260 serial bits (any non-zero word is a 1) to 76 parameters.
void gsmfr_bits2prm(const std::int16_t* serial, std::int16_t* parm);

// 1 when every bit of the 95-bit SID code word of a serial frame is 0, else 0.
int gsmfr_sid_frame_detection(const std::int16_t* serial);
