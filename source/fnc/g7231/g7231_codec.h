// Routines of the G.723.1 codec shared between its source files.
#pragma once

#include "g7231.h"
#include "g7231_basic_op.h"

inline constexpr int G723_SubFrLen = 60;
inline constexpr int G723_SubFrames = 4;
inline constexpr int G723_Frame = 240;
inline constexpr int G723_LpcOrder = 10;
inline constexpr int G723_PitchMax = 145;
inline constexpr int G723_ClPitchOrd = 5;
inline constexpr int G723_NumOfGainLev = 24;
inline constexpr int G723_ErrMaxNum = 3;

struct G723_SFSDEF {
  Word16 AcLg;
  Word16 AcGn;
  Word16 Mamp;
  Word16 Grid;
  Word16 Tran;
  Word16 Pamp;
  Word32 Ppos;
};

struct G723_LINEDEF {
  Word16 Crc;
  Word32 LspId;
  Word16 Olp[2];
  G723_SFSDEF Sfs[4];
};

struct G723_PFDEF {
  Word16 Indx;
  Word16 Gain;
  Word16 ScGn;
};

// Bitstream (frame type in the two low bits of the first word).
int g723_1_Line_Pack(const G723_LINEDEF* Line, Word16* Vout, int Ftyp, G7231_Crate WrkRate);
G723_LINEDEF g723_1_Line_Unpk(const Word16* Vinp, int* Ftyp, Word16 Crc, G7231_Crate* WrkRate);

// LSP decoding and conversion.
void g723_1_Lsp_Inq(Word16* Lsp, const Word16* PrevLsp, Word32 LspId, Word16 Crc);
void g723_1_LsptoA(Word16* Lsp);
void g723_1_Lsp_Int(Word16* QntLpc, const Word16* CurrLsp, const Word16* PrevLsp);

// Excitation.
void g723_1_Decod_Acbk(Word16* Tv, const Word16* PrevExc, Word16 Olp, Word16 Lid, Word16 Gid,
                       G7231_Crate WrkRate);
void g723_1_Fcbk_Unpk(Word16* Tv, const G723_SFSDEF& Sfs, Word16 Olp, int Sfc, G7231_Crate WrkRate);
void g723_1_Gen_Trn(Word16* Dst, const Word16* Src, Word16 Olp);

// Comfort noise.
Word16 g723_1_Qua_SidGain(const Word16* Ener, const Word16* shEner, int nq);
Word16 g723_1_Dec_SidGain(Word16 i_gain);
void g723_1_Calc_Exc_Rand(Word16 curGain, Word16* PrevExc, Word16* DataExc, Word16* nRandom,
                          G723_LINEDEF* Line, G7231_Crate WrkRate);
void g723_1_Dec_Cng(int Ftyp, G723_LINEDEF* Line, Word16* DataExc, Word16* QntLpc,
                    G7231_Decod_State* st);

// Kernels.
Word32 g723_1_Comp_En(const Word16* x);
