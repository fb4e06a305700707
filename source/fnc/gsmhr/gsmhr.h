// GSM half-rate speech codec (VSELP, 5.6 kbit/s): frame interface and state records.
//
// One call encodes or decodes one 20 ms frame of 160 linear samples at 8 kHz. The encoder
// produces 18 codec parameters plus the VAD and SP flags; gsmhr_prm2bits and gsmhr_bits2prm
// convert the parameters to and from the 112-bit serial frame (one bit per 16-bit word). The
// caller owns the state records and resets them before the first frame. All working memory of
// a frame lives on the stack of the call, so any number of channels may run side by side.
#pragma once

#include <cstdint>

#include "../gsmfr/gsmfr.h"  // FrVadState: the half-rate detector runs the full-rate one in mode 2
#include "hr_basic_op.h"

namespace hr {

enum : int {
  GSMHR_FRAME_LEN = 160,   // samples per frame
  GSMHR_NUM_PRM = 18,      // codec parameters per frame
  GSMHR_NUM_ENC_PRM = 20,  // encoder output: 18 parameters, VAD flag, SP flag
  GSMHR_NUM_DEC_PRM = 22,  // decoder input: 18 parameters, BFI, UFI, SID, TAF
  GSMHR_SERIAL_BITS = 112,
  GSMHR_HIST = 35,         // speech samples carried from one frame to the next
};

// Flags of gsmhr_encode (output) and gsmhr_decode (input).
enum : std::uint32_t {
  GSMHR_FLAG_VAD = 1,
  GSMHR_FLAG_SP = 2,
  GSMHR_FLAG_BFI = 1,
  GSMHR_FLAG_UFI = 2,
  GSMHR_FLAG_SID = 4,
  GSMHR_FLAG_TAF = 8,
};

// Widths of the 18 parameters: row 0 unvoiced (mode 0), row 1 voiced (modes 1..3).
inline constexpr Word16 prm_bits_table[2][GSMHR_NUM_PRM] = {
    {5, 11, 9, 8, 1, 2, 7, 7, 5, 7, 7, 5, 7, 7, 5, 7, 7, 5},
    {5, 11, 9, 8, 1, 2, 8, 9, 5, 4, 9, 5, 4, 9, 5, 4, 9, 5},
};

using HR_FrVadState = ::FrVadState;

struct QuantList {
  Word16 iNum;
  Word16 iRCIndex;
  Word32 pswPredErr[64];
};

struct HR_DTX_ENC {
  Word16 swTxGsHistPtr;
  Word16 swVadFrmCnt;
  Word16 siUpdPointer;
  Word16 swNElapsed;
  Word16 pswCNVSCode1[4];
  Word16 pswCNVSCode2[4];
  Word16 pswCNGsp0Code[4];
  Word16 pswCNLpc[3];
  Word16 swCNR0;
  Word32 pL_GsHist[28];
  Word32 pL_R0Hist[8];
  Word32 ppL_CorrHist[8][11];
  Word16 swQntRefR0;
  Word16 swRefGsIndex;
  Word16 piRefVqCodewds[3];
  QuantList quantList;
  Word16 swShortBurst;
  Word32 L_TxPNSeed;
};

struct HR_DTX_DEC {
  Word16 swOldR0Dec;
  Word16 swRxDTXState;
  Word16 swDecoMode;
  Word16 swDtxMuting;
  Word16 swDtxBfiCnt;
  Word16 swOldR0IndexDec;
  Word16 swRxGsHistPtr;
  Word16 swR0NewCN;
  Word16 swR0Dec;
  Word32 pL_RxGsHist[28];
  Word16 swR0OldCN;
  Word32 pL_OldCorrSeq[11];
  Word32 pL_NewCorrSeq[11];
  Word32 pL_CorrSeq[11];
};

struct GSMHR_ENCSTRUCT {
  Word16 beginMarker;
  Word16 swOldR0;
  Word16 swOldR0Index;
  Word16 pswHPFXYState[12];
  Word16 pswOldFrmKs[10];
  Word16 pswOldFrmAs[10];
  Word16 pswOldFrmSNWCoefs[10];
  Word16 pswWgtSpeechSpace[305];
  // Start of the speech buffer during a frame. The buffer (35 samples of the previous frame,
  // then the filtered new frame) is the encoder's own: the caller's input is only read.
  Word16* pswSpeech;
  Word16 pswSpeechMem[35];
  NormSw psnsWSfrmEngSpace[8];
  Word16 pswAnalysisState[10];
  Word16 pswWStateNum[10];
  Word16 pswWStateDenom[10];
  Word16 pswLtpStateBase[187];
  Word16 pswHState[10];
  Word16 pswHNWState[185];
  Word16 siPrevLagCode;
  HR_DTX_ENC hr_dtx_e;
  HR_FrVadState hr_vad;
  Word16 DTXon;
  Word16 endMarker;
};
using HR_ENCODER = GSMHR_ENCSTRUCT;

struct GSMHR_DECSTRUCT {
  Word16 beginMarker;
  Word16 pswPPreState[187];
  Word16 pswLtpStateBaseDec[187];
  Word16 pswOldFrmPFDenom[10];
  Word16 pswOldFrmPFNum[10];
  Word16 pswOldFrmAsDec[10];
  Word16 pswOldFrmKsDec[10];
  Word16 pswSynthFiltState[10];
  Word16 swPostEmphasisState;
  Word16 gpswPostFiltStateDenom[10];
  Word16 gpswPostFiltStateNum[10];
  Word16 gswPostFiltAgcGain;
  Word16 swMuteFlagOld;
  Word16 swLastFlag;
  Word16 swState;
  Word32 L_RxPNSeed;
  Word16 swRxDtxGsIndex;
  Word16 pswLastGood[18];
  Word16 lastR0;
  Word16 swLevelMem[4];
  Word32 plSubfrEnergyMem[4];
  Word16 swLastLag;
  HR_DTX_DEC hr_dtx_d;
  Word16 reset_flag_decoder_old;
  Word16 endMarker;
};
using HR_DECODER = GSMHR_DECSTRUCT;

// Clears and initialises the encoder; dtx = 1 switches the VAD-driven DTX on.
void gsmhr_reset_enc(GSMHR_ENCSTRUCT* st, Word16 dtx);
// Encodes 160 samples (read only) into parm[0..19]; *flags = VAD (bit 0) | SP (bit 1).
void gsmhr_encode(GSMHR_ENCSTRUCT* st, const Word16* new_speech, std::uint32_t* flags,
                  Word16* parm);
// Clears and initialises the decoder.
void gsmhr_reset_dec(GSMHR_DECSTRUCT* st);
// Decodes parm[0..17] with the GSMHR_FLAG_* receive flags into 160 samples. parm must hold 22
// words: entries 18..21 receive BFI, UFI, SID and TAF; comfort-noise and concealed frames
// overwrite the parameters they substitute.
void gsmhr_decode(GSMHR_DECSTRUCT* st, Word16* parm, std::uint32_t flags, Word16* synth);
// 18 parameters to 112 serial words (0/1); parm[5] selects the layout.
void gsmhr_prm2bits(const Word16* parm, Word16* serial);
// 112 serial words (non-zero = 1) to 18 parameters; serial words 34 and 35 select the layout.
void gsmhr_bits2prm(const Word16* serial, Word16* parm);
// 1 when all 160 samples are 0x0008.
Word16 gsmhr_encoder_homing_frame_test(const Word16* speech);
// 1 when the first len parameters, masked to their widths, equal the decoder homing frame.
Word16 gsmhr_decoder_homing_frame_test(const Word16* parm, Word16 len);
// 1 when serial words 33..111 are all non-zero.
Word16 gsmhr_sid_frame_detection(const Word16* serial);

// Fills the 20-word encoder output array.
void hr_fillBitAlloc(Word16 iVoicing, Word16 iR0, const Word16* piVqIndeces, Word16 iSoftInterp,
                     const Word16* piLags, const Word16* piCodeWrdsA, const Word16* piCodeWrdsB,
                     const Word16* piGsp0s, Word16 swVadFlag, Word16 swSP, Word16* pswBAlloc);

}  // namespace hr
