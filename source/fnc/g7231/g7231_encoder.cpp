// G.723.1 encoder frame: analysis, voice activity, and per subframe the closed-loop searches,
// or the comfort-noise encoder for noise frames; then packing.
#include <cstring>

#include "g7231_encoder.h"
#include "g7231_kernels.h"
#include "g7231_tables.h"

void g7231_Init_Coder(G7231_CODSTATDEF* st) {
  std::memset(st, 0, sizeof *st);
  std::memcpy(st->PrevLsp, g723_1_LspDcTable, sizeof st->PrevLsp);
  for (auto& e : st->Err) e = 4;
}

void g7231_Init_Vad(G7231_VADSTATDEF* st) {
  st->Hcnt = 3;
  st->Vcnt = 0;
  st->Penr = 1024;
  st->Nlev = 1024;
  st->Aen = 0;
  st->Polp[0] = st->Polp[1] = 1;
  st->Polp[2] = st->Polp[3] = 60;
  std::memset(st->NLpc, 0, sizeof st->NLpc);
}

void g7231_Init_Cod_Cng(G7231_CODCNGDEF* st) {
  st->CurGain = 0;
  std::memset(st->Acf, 0, 44 * sizeof(std::int16_t));
  for (auto& s : st->ShAcf) s = 40;
  std::memset(st->SidLpc, 0, sizeof st->SidLpc);
  st->PastFtyp = 1;
  st->RandSeed = 12345;
}

int g7231_Coder(std::int16_t* DataBuff, std::int16_t* Vout, G7231_Coder_State* st) {
  G7231_CODSTATDEF& cs = st->CodStat;
  Word16 save_area[32];
  g723_1_FrameSave_Neon(save_area);
  G723_LINEDEF Line{};
  st->extra = 120;

  g723_1_Rem_Dc(DataBuff, st);
  Word16 buf[360];
  g723_1_Copyx8(cs.PrevDat, buf, 120);
  g723_1_Copyx8(DataBuff, buf + 120, G723_Frame);
  Word16 UnqLpc[G723_SubFrames * G723_LpcOrder];
  g723_1_Comp_Lpc(UnqLpc, buf, st);
  g723_1_Copyx8(buf + G723_Frame, cs.PrevDat, 120);

  Word16 lsp[G723_LpcOrder];
  g723_1_AtoLsp(lsp, UnqLpc + G723_LpcOrder * (G723_SubFrames - 1), cs.PrevLsp);
  int Ftyp = g723_1_Comp_Vad(DataBuff, st);
  Line.LspId = g723_1_Lsp_Qnt(lsp, cs.PrevLsp);

  // From here on the coded frame lags the input by 60 samples.
  g723_1_Copyx8(buf + 60, DataBuff, G723_Frame);
  Word16 PerLpc[G723_SubFrames * 2 * G723_LpcOrder];
  g723_1_Wght_Lpc(PerLpc, UnqLpc);
  g723_1_Error_Wght(DataBuff, PerLpc, &cs);

  Word16 wgt[G723_PitchMax + G723_Frame];
  g723_1_CopyPM(cs.PrevWgt, wgt);
  g723_1_Copyx8(DataBuff, wgt + G723_PitchMax, G723_Frame);
  Word16 norm[G723_PitchMax + G723_Frame];
  g723_1_Vec_Norm_OLP(wgt, norm);
  for (int half = 0; half < 2; ++half) {
    Line.Olp[half] = g723_1_Estim_Pitch(norm, G723_PitchMax + 2 * G723_SubFrLen * half);
    st->VadStat.Polp[half + 2] = Line.Olp[half];
  }
  g723_1_CopyPM(wgt + G723_Frame, cs.PrevWgt);

  Word16 QntLpc[G723_SubFrames * G723_LpcOrder];
  if (Ftyp == 1) {
    G723_PWDEF pw[G723_SubFrames];
    for (int i = 0; i < G723_SubFrames; ++i)
      pw[i] = g723_1_Comp_Pw(norm, G723_PitchMax + G723_SubFrLen * i, Line.Olp[i >> 1]);
    for (int i = 0; i < G723_SubFrames; ++i) g723_1_Filt_Pw(DataBuff, wgt, G723_SubFrLen * i, pw[i]);

    Word16 qlsp[G723_LpcOrder];
    g723_1_Lsp_Inq(qlsp, cs.PrevLsp, Line.LspId, 0);
    g723_1_Lsp_Int(QntLpc, qlsp, cs.PrevLsp);
    g723_1_Copy10(qlsp, cs.PrevLsp);

    for (int i = 0; i < G723_SubFrames; ++i) {
      Word16* target = DataBuff + G723_SubFrLen * i;
      const Word16* a = QntLpc + G723_LpcOrder * i;
      const Word16* per = PerLpc + 2 * G723_LpcOrder * i;
      Word16 ir[G723_SubFrLen];
      g723_1_Comp_Ir(ir, a, per, pw[i]);
      g723_1_Sub_Ring(target, a, per, pw[i], &cs);
      g723_1_Find_Acbk(target, ir, cs.PrevExc, &Line, i, st);
      g723_1_Find_Fcbk(target, ir, &Line, i, st);
      Word16 acbk[G723_SubFrLen];
      g723_1_Decod_Acbk(acbk, cs.PrevExc, Line.Olp[i >> 1], Line.Sfs[i].AcLg, Line.Sfs[i].AcGn, st->WrkRate);
      g723_1_Copy85(cs.PrevExc + G723_SubFrLen, cs.PrevExc);
      g723_1_Encode_loop1(target, acbk, cs.PrevExc + G723_PitchMax - G723_SubFrLen);
      g723_1_Update_Err(Line.Olp[i >> 1], Line.Sfs[i].AcLg, Line.Sfs[i].AcGn, st);
      g723_1_Upd_Ring(target, a, per, &cs);
    }
    st->CodCng.PastFtyp = 1;
    st->CodCng.RandSeed = 12345;
  } else {
    g723_1_Cod_Cng(DataBuff, &Ftyp, &Line, QntLpc, st);
    for (int i = 0; i < G723_SubFrames; ++i) {
      const Word16* a = QntLpc + G723_LpcOrder * i;
      const Word16* per = PerLpc + 2 * G723_LpcOrder * i;
      g723_1_Update_Err(Line.Olp[i >> 1], Line.Sfs[i].AcLg, Line.Sfs[i].AcGn, st);
      g723_1_Upd_Ring(DataBuff + G723_SubFrLen * i, a, per, &cs);
    }
  }
  const int info = g723_1_Line_Pack(&Line, Vout, Ftyp, st->WrkRate);
  g723_1_FrameRestore_Neon(save_area);
  return info;
}
