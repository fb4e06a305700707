// G.723.1 dual-rate speech codec (6.3 and 5.3 kbit/s) with silence compression: voice activity
// detection, SID frames and comfort noise. One call codes or decodes a 30 ms frame of 240
// samples at 8 kHz. All memory between frames lives in the caller's records.
#pragma once

#include <cstdint>

typedef std::int32_t G7231_Crate;  // 0: 6.3 kbit/s, 1: 5.3 kbit/s

enum HSEG7231FRMTYPE : int {
  G7231_VOICER63 = 0,
  G7231_VOICER53 = 1,
  G7231_SID = 2,
  G7231_NOFRAME = 3,
};

enum : int {
  G7231_FRAME_LEN = 240,   // samples per frame
  G7231_FRAME_WORDS = 12,  // 16-bit words of the largest packed frame
};

struct G7231_CODSTATDEF {
  std::int32_t HpfPdl;
  std::int16_t HpfZdl;
  std::int16_t SinDet;
  std::int16_t PrevLsp[10];
  std::int16_t PrevWgt[146];
  std::int16_t PrevErr[146];
  std::int16_t PrevExc[146];
  std::int16_t PrevDat[120];
  std::int16_t Max_abs_sf[2];
  std::int16_t WghtFirDl[10];
  std::int16_t WghtIirDl[10];
  std::int16_t RingFirDl[10];
  std::int16_t RingIirDl[10];
  std::int32_t Err[5];
};

struct G7231_VADSTATDEF {
  int Hcnt;
  int Vcnt;
  std::int32_t Penr;
  std::int32_t Nlev;
  int Aen;
  int Polp[4];
  std::int16_t NLpc[10];
};

struct G7231_CODCNGDEF {
  std::int16_t CurGain;
  std::int16_t Pad1;
  int PastFtyp;
  std::int16_t Acf[48];
  int ShAcf[4];
  std::int16_t LspSid[10];
  std::int16_t SidLpc[10];
  std::int16_t RC[11];
  std::int16_t Pad2;
  int ShRC;
  std::int16_t Ener[3];
  std::int16_t Pad3;
  int NbEner;
  int IRef;
  std::int16_t SidGain;
  std::int16_t RandSeed;
};

struct G7231_Coder_State {
  G7231_CODSTATDEF CodStat;
  int extra;
  G7231_Crate WrkRate;
  int UseHp;
  int UseVx;
  G7231_CODCNGDEF CodCng;
  G7231_VADSTATDEF VadStat;
};

struct G7231_DECSTATDEF {
  int Ecount;
  int InterIndx;
  std::int16_t InterGain;
  std::int16_t Rseed;
  std::int16_t Park;
  std::int16_t Gain;
  std::int16_t PrevLsp[10];
  std::int16_t PrevExc[146];
  std::int16_t SyntIirDl[10];
  std::int16_t PostFirDl[10];
  std::int16_t PostIirDl[10];
};

struct G7231_DECCNGDEF {
  std::int16_t CurGain;
  std::int16_t Pad1;
  int PastFtyp;
  std::int16_t LspSid[10];
  std::int16_t SidGain;
  std::int16_t RandSeed;
};

struct G7231_Decod_State {
  G7231_DECSTATDEF DecStat;
  G7231_Crate WrkRate;
  int UsePf;
  G7231_DECCNGDEF DecCng;
};

void g7231_Init_Coder(G7231_CODSTATDEF* st);
void g7231_Init_Vad(G7231_VADSTATDEF* st);
void g7231_Init_Cod_Cng(G7231_CODCNGDEF* st);
void g7231_Init_Decod(G7231_DECSTATDEF* st);
void g7231_Init_Dec_Cng(G7231_DECCNGDEF* st);

// Codes 240 samples (DataBuff is used as work space) into Vout (room for 12 words, all
// cleared first). Returns the frame type written (HSEG7231FRMTYPE).
int g7231_Coder(std::int16_t* DataBuff, std::int16_t* Vout, G7231_Coder_State* st);

// Decodes one frame into 240 samples. Vinp holds the packed frame (12 words are read when Crc
// is 0); Crc nonzero declares the frame lost. Returns 1 for speech, 2 for SID, 0 for comfort
// noise continued.
int g7231_Decod(std::int16_t* DataBuff, const std::int16_t* Vinp, std::int16_t Crc, G7231_Decod_State* st);
