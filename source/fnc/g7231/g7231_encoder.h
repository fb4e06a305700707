// Encoder routines of the G.723.1 codec shared between its source files.
#pragma once

#include "g7231_codec.h"

struct G723_PWDEF {
  Word16 Indx;
  Word16 Gain;
};

// Analysis.
void g723_1_Rem_Dc(Word16* x, G7231_Coder_State* st);
Word16 g723_1_Durbin(Word16* Lpc, const Word16* Corr, Word16 Err, Word16* Pk2);
void g723_1_Comp_Lpc(Word16* UnqLpc, const Word16* buf360, G7231_Coder_State* st);
void g723_1_AtoLsp(Word16* LspVect, const Word16* Lpc, const Word16* PrevLsp);
Word32 g723_1_Lsp_Qnt(const Word16* CurrLsp, const Word16* PrevLsp);
void g723_1_Wght_Lpc(Word16* PerLpc, const Word16* UnqLpc);
void g723_1_Error_Wght(Word16* x, const Word16* PerLpc, G7231_CODSTATDEF* cs);
Word16 g723_1_Estim_Pitch(const Word16* Dpnt, int Start);
G723_PWDEF g723_1_Comp_Pw(const Word16* Dpnt, int Start, Word16 Olp);
void g723_1_Filt_Pw(Word16* out, const Word16* Dpnt, int Start, const G723_PWDEF& pw);
void g723_1_Comp_Ir(Word16* ImpResp, const Word16* QntLpc, const Word16* PerLpc, const G723_PWDEF& pw);
void g723_1_Sub_Ring(Word16* target, const Word16* QntLpc, const Word16* PerLpc, const G723_PWDEF& pw,
                     const G7231_CODSTATDEF* cs);
void g723_1_Upd_Ring(const Word16* exc, const Word16* QntLpc, const Word16* PerLpc, G7231_CODSTATDEF* cs);

// Codebook searches.
void g723_1_Find_Acbk(Word16* Tv, const Word16* ImpResp, const Word16* PrevExc, G723_LINEDEF* Line, int Sfc,
                      G7231_Coder_State* st);
// Best entry among the first `bound` of a grouped gain table for the correlation terms CorVct of
// candidate `cand`: the kernel's lane maxima, completed with the last group, are merged in lane
// order into the running best (best, best_gain, best_cand), replacing on strictly greater only.
void g723_1_AdapGainQ(const Word16* CorVct, int bound, const Word16* table, Word32* best, int* best_gain,
                      int* best_cand, int cand);
void g723_1_Update_Err(Word16 Olp, Word16 AcLg, Word16 AcGn, G7231_Coder_State* st);
void g723_1_Find_Fcbk(Word16* Tv, const Word16* ImpResp, G723_LINEDEF* Line, int Sfc, G7231_Coder_State* st);

// Voice activity and comfort noise.
void g723_1_Update_Acf(const Word16* Acf_sf, const int* ShAcf_sf, G7231_CODCNGDEF* cng);
int g723_1_Comp_Vad(const Word16* Dpnt, G7231_Coder_State* st);
void g723_1_Cod_Cng(Word16* DataExc, int* Ftyp, G723_LINEDEF* Line, Word16* QntLpc, G7231_Coder_State* st);
