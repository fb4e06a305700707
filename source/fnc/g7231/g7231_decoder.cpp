// G.723.1 decoder frame: unpacking, concealment of lost frames, excitation, pitch post-filter,
// LPC synthesis, formant post-filter and gain control; comfort noise for SID and untransmitted
// frames.
#include <algorithm>
#include <cstring>

#include "g7231_codec.h"
#include "g7231_kernels.h"
#include "g7231_tables.h"

namespace {

using Decoder = G7231_Decod_State;

// Voicing of the last frame for concealment; also leaves the excitation energy and its scale
// for the comfort-noise decoder. Buff (385 samples) is normalised in place.
Word16 g723_1_Comp_Info(Word16* Buff, Word16 Olp, Word16* Gain, Word16* ShGain) {
  *ShGain = g723_1_Vec_Norm385(Buff);
  if (Olp > G723_PitchMax - 3) Olp = G723_PitchMax - 3;
  const Word16* last = Buff + G723_PitchMax + G723_Frame - 2 * G723_SubFrLen;

  Word16 best_lag = Olp;
  Word32 best = 0;
  for (int lag = Olp - 3; lag <= Olp + 3; ++lag) {
    const Word32 acc = g723_1_mac_chain(0, last, last - lag, 2 * G723_SubFrLen);
    if (acc > best) {
      best = acc;
      best_lag = static_cast<Word16>(lag);
    }
  }
  Word32 acc = g723_1_mac_chain(0, last, last, 2 * G723_SubFrLen);
  const Word16 target_energy = g723_1_round(acc);
  *Gain = target_energy;
  if (best <= 0) return 0;

  const Word16 corr = g723_1_round(best);
  acc = g723_1_mac_chain(0, last - best_lag, last - best_lag, 2 * G723_SubFrLen);
  const Word16 lag_energy = g723_1_round(acc);
  const Word32 limit = g723_1_L_shr(g723_1_L_mult(lag_energy, target_energy), 3);
  return g723_1_L_mult(corr, corr) > limit ? best_lag : Word16(0);
}

Word32 correlate60(const Word16* a, const Word16* b) { return g723_1_mac_chain(0, a, b, G723_SubFrLen); }

Word16 g723_1_Find_B(const Word16* Buff, Word16 Olp, int Sfc) {
  if (Olp > G723_PitchMax - 3) Olp = G723_PitchMax - 3;
  const Word16* sub = Buff + G723_PitchMax + Sfc * G723_SubFrLen;
  Word16 indx = 0;
  Word32 best = 0;
  for (int lag = Olp - 3; lag <= Olp + 3; ++lag) {
    const Word32 acc = correlate60(sub, sub - lag);
    if (acc > best) {
      best = acc;
      indx = static_cast<Word16>(-lag);
    }
  }
  return indx;
}

Word16 g723_1_Find_F(const Word16* Buff, Word16 Olp, int Sfc) {
  if (Olp > G723_PitchMax - 3) Olp = G723_PitchMax - 3;
  const Word16* sub = Buff + G723_PitchMax + Sfc * G723_SubFrLen;
  Word16 indx = 0;
  Word32 best = 0;
  for (int lag = Olp - 3; lag <= Olp + 3; ++lag) {
    if (Sfc * G723_SubFrLen + G723_SubFrLen + lag > G723_Frame) continue;
    const Word32 acc = correlate60(sub, sub + lag);
    if (acc > best) {
      best = acc;
      indx = static_cast<Word16>(lag);
    }
  }
  return indx;
}

G723_PFDEF g723_1_Get_Ind(Word16 Ind, Word16 Ten, Word16 Ccr, Word16 Enr, G7231_Crate WrkRate) {
  G723_PFDEF pf{Ind, 0, 0x7FFF};
  const Word32 limit = g723_1_L_shr(g723_1_L_mult(Ten, Enr), 2);
  if (g723_1_L_mult(Ccr, Ccr) > limit) {
    const Word16 weight = g723_1_LpfConstTable[WrkRate ? 1 : 0];
    pf.Gain = Ccr >= Enr ? weight : g723_1_mult(g723_1_div_s(Ccr, Enr), weight);
    // Scaling gain: keeps the filtered subframe's energy equal to the input's.
    Word32 acc = g723_1_L_shr(g723_1_L_deposit_h(Ten), 1);
    acc = g723_1_L_mac(acc, Ccr, pf.Gain);
    const Word16 g2 = g723_1_mult(pf.Gain, pf.Gain);
    acc = g723_1_L_add(acc, g723_1_L_shr(g723_1_L_mult(Enr, g2), 1));
    const Word16 a = g723_1_round(acc);
    const Word32 t = g723_1_L_shr(g723_1_L_deposit_h(Ten), 1);
    const Word16 ratio = t >= g723_1_L_deposit_h(a) ? G723_MAX_16 : g723_1_div_l(t, a);
    pf.ScGn = g723_1_Sqrt_lbc(g723_1_L_deposit_h(ratio));
  }
  pf.Gain = g723_1_mult(pf.Gain, pf.ScGn);
  return pf;
}

G723_PFDEF g723_1_Comp_Lpf(const Word16* Buff, Word16 Olp, int Sfc, G7231_Crate WrkRate) {
  G723_PFDEF pf{0, 0, 0x7FFF};
  const Word16 bindx = g723_1_Find_B(Buff, Olp, Sfc);
  const Word16 findx = g723_1_Find_F(Buff, Olp, Sfc);
  if (bindx == 0 && findx == 0) return pf;

  const Word16* sub = Buff + G723_PitchMax + Sfc * G723_SubFrLen;
  Word32 lcr[5] = {correlate60(sub, sub), 0, 0, 0, 0};
  if (bindx != 0) {
    lcr[1] = correlate60(sub, sub + bindx);
    lcr[2] = correlate60(sub + bindx, sub + bindx);
  }
  if (findx != 0) {
    lcr[3] = correlate60(sub, sub + findx);
    lcr[4] = correlate60(sub + findx, sub + findx);
  }
  Word32 peak = 0;
  for (Word32 v : lcr) peak = std::max(peak, g723_1_L_abs(v));
  const Word16 exp = g723_1_norm_l(peak);
  Word16 scr[5];
  for (int i = 0; i < 5; ++i) scr[i] = g723_1_extract_h(g723_1_L_shl(lcr[i], exp));

  if (bindx != 0 && findx == 0) return g723_1_Get_Ind(bindx, scr[0], scr[1], scr[2], WrkRate);
  if (bindx == 0) return g723_1_Get_Ind(findx, scr[0], scr[3], scr[4], WrkRate);
  const Word32 back = g723_1_L_mult(g723_1_mult_r(scr[1], scr[1]), scr[4]);
  const Word32 fwd = g723_1_L_mult(g723_1_mult_r(scr[3], scr[3]), scr[2]);
  return back > fwd ? g723_1_Get_Ind(bindx, scr[0], scr[1], scr[2], WrkRate)
                    : g723_1_Get_Ind(findx, scr[0], scr[3], scr[4], WrkRate);
}

void g723_1_Filt_Lpf(Word16* Tv, const Word16* Buff, const G723_PFDEF& pf, int Sfc) {
  const Word16* sub = Buff + G723_PitchMax + Sfc * G723_SubFrLen;
  for (int i = 0; i < G723_SubFrLen; ++i) {
    Word32 acc = g723_1_L_mult(sub[i], pf.ScGn);
    acc = g723_1_L_mac(acc, sub[i + pf.Indx], pf.Gain);
    Tv[Sfc * G723_SubFrLen + i] = g723_1_round(acc);
  }
}

void g723_1_Regen(Word16* DataBuff, Word16* Buff, Word16 Lag, Word16 Gain, int Ecount, Word16* Sd) {
  if (Ecount >= G723_ErrMaxNum) {
    g723_1_Set_zero4(DataBuff, G723_Frame);
    g723_1_Set_zero(Buff, G723_Frame + G723_PitchMax);
    return;
  }
  if (Lag != 0) {  // voiced: repeat the last pitch period, attenuated
    for (int i = 0; i < G723_Frame; ++i) Buff[G723_PitchMax + i] = Buff[G723_PitchMax - Lag + i];
    g723_1_Regen_loop1(Buff + G723_PitchMax, DataBuff);
    return;
  }
  for (int i = 0; i < G723_Frame; ++i) DataBuff[i] = g723_1_mult(Gain, g723_1_Rand_lbc(Sd));
  g723_1_Set_zero(Buff, G723_Frame + G723_PitchMax);
}

// Formant post-filter with tilt compensation; returns the subframe's input energy.
Word32 g723_1_Spf(Word16* Tv, const Word16* Lpc, G7231_DECSTATDEF* st) {
  // Rows of 12: two zeros, then the ten coefficients from the last to the first.
  Word16 zero_row[12] = {}, pole_row[12] = {};
  for (int i = 0; i < G723_LpcOrder; ++i) {
    zero_row[11 - i] = g723_1_negate(g723_1_mult_r(Lpc[i], g723_1_PostFiltZeroTable[i]));
    pole_row[11 - i] = g723_1_mult_r(Lpc[i], g723_1_PostFiltPoleTable[i]);
  }
  Word16 tmp[G723_SubFrLen];
  g723_1_Copy_SubFrLen(Tv, tmp);
  const Word16 exp = g723_1_Vec_Norm(tmp);

  Word32 r1 = g723_1_mac_chain(0, tmp + 1, tmp, G723_SubFrLen - 1);
  Word32 r0 = g723_1_mac_chain(g723_1_L_mult(tmp[0], tmp[0]), tmp + 1, tmp + 1, G723_SubFrLen - 1);
  const Word32 energy = g723_1_L_shr(r0, static_cast<Word16>(2 * exp + 4));

  // First reflection coefficient, smoothed into Park.
  r1 = g723_1_L_shr(r1, 1);
  Word16 k = 0;
  const Word16 r0h = g723_1_extract_h(r0);
  if (r0h != 0) {
    const bool negative = r1 < 0;
    k = g723_1_div_l(g723_1_L_abs(r1), r0h);
    if (negative) k = g723_1_negate(k);
  }
  Word32 acc = g723_1_L_deposit_h(st->Park);
  acc = g723_1_L_msu(acc, st->Park, 0x2000);
  acc = g723_1_L_mac(acc, k, 0x2000);
  st->Park = g723_1_round(acc);
  const Word16 tilt = static_cast<Word16>(g723_1_mult(st->Park, -16384) & 0xFFFC);

  // Input and output with their memories in front (oldest first).
  Word16 x[12 + G723_SubFrLen] = {}, y[12 + G723_SubFrLen] = {};
  for (int j = 0; j < G723_LpcOrder; ++j) {
    x[11 - j] = st->PostFirDl[j];
    y[11 - j] = st->PostIirDl[j];
  }
  g723_1_Copy_SubFrLen(Tv, x + 12);
  g723_1_Spf_Output(zero_row, pole_row, x + 12, y + 12, Tv, tilt);
  for (int j = 0; j < G723_LpcOrder; ++j) {
    st->PostFirDl[j] = x[12 + G723_SubFrLen - 1 - j];
    st->PostIirDl[j] = y[12 + G723_SubFrLen - 1 - j];
  }
  return energy;
}

// Gain control: the post-filtered subframe takes the energy of the synthesised one.
void g723_1_Scale(Word16* Tv, Word32 Sen, G7231_DECSTATDEF* st) {
  Word32 e = Sen;
  Word32 s = g723_1_Comp_En(Tv);
  Word16 factor = 0x1000;
  if (s != 0 && e != 0) {
    Word16 ns = g723_1_norm_l(s);
    s = g723_1_L_shl(s, ns);
    const Word16 ne = g723_1_norm_l(e);
    e = g723_1_L_shr(g723_1_L_shl(e, ne), 1);
    Word16 shift = g723_1_sub(6, g723_1_add(g723_1_sub(ns, ne), 1));
    if (shift < 0) shift = 0;
    // The quotient of the normalised energies first, then the shift to the energy ratio in Q10
    // before the square root: the quotient's low bits reach the root.
    factor = g723_1_div_l(e, g723_1_extract_h(s));
    factor = g723_1_Sqrt_lbc(g723_1_L_shr(g723_1_L_deposit_h(factor), shift));
  }
  for (int i = 0; i < G723_SubFrLen; ++i) {
    Word32 acc = g723_1_L_deposit_h(st->Gain);
    acc = g723_1_L_msu(acc, st->Gain, 0x0800);
    acc = g723_1_L_mac(acc, factor, 0x0800);
    st->Gain = g723_1_round(acc);
    const Word16 g = g723_1_add(st->Gain, g723_1_shr(st->Gain, 4));
    Tv[i] = g723_1_round(g723_1_L_shl(g723_1_L_mult(Tv[i], g), 4));
  }
}

void decode_speech(Decoder* st, G723_LINEDEF& Line, Word16* DataBuff, Word16* QntLpc) {
  G7231_DECSTATDEF& ds = st->DecStat;
  const G7231_Crate rate = st->WrkRate;
  ds.Ecount = Line.Crc != 0 ? std::min(ds.Ecount + 1, G723_ErrMaxNum) : 0;

  Word16 lsp[G723_LpcOrder];
  g723_1_Lsp_Inq(lsp, ds.PrevLsp, Line.LspId, Line.Crc);
  g723_1_Lsp_Int(QntLpc, lsp, ds.PrevLsp);
  g723_1_Copy10(lsp, ds.PrevLsp);

  if (ds.Ecount == 0) {
    const Word16 idx = g723_1_shr(g723_1_add(Line.Sfs[2].Mamp, Line.Sfs[3].Mamp), 1);
    ds.InterGain = g723_1_FcbkGainTable[std::clamp<int>(idx, 0, 23)];
  } else {
    ds.InterGain = g723_1_mult_r(ds.InterGain, 0x6000);
  }

  Word16 temp[G723_PitchMax + G723_Frame];
  g723_1_CopyPM(ds.PrevExc, temp);
  if (ds.Ecount == 0) {
    Word16* frame = temp + G723_PitchMax;
    for (int i = 0; i < G723_SubFrames; ++i) {
      Word16 acbk[G723_SubFrLen];
      Word16* sub = frame + G723_SubFrLen * i;
      g723_1_Fcbk_Unpk(sub, Line.Sfs[i], Line.Olp[i >> 1], i, rate);
      g723_1_Decod_Acbk(acbk, temp + G723_SubFrLen * i, Line.Olp[i >> 1], Line.Sfs[i].AcLg,
                        Line.Sfs[i].AcGn, rate);
      g723_1_Vec_shl_add(sub, acbk);
    }
    g723_1_Copyx8(frame, DataBuff, G723_Frame);
    ds.InterIndx = g723_1_Comp_Info(temp, Line.Olp[1], &st->DecCng.SidGain, &st->DecCng.CurGain);

    G723_PFDEF pf[G723_SubFrames];
    if (st->UsePf)
      for (int i = 0; i < G723_SubFrames; ++i) pf[i] = g723_1_Comp_Lpf(temp, Line.Olp[i >> 1], i, rate);
    g723_1_CopyPM(ds.PrevExc, temp);
    g723_1_Copyx8(DataBuff, temp + G723_PitchMax, G723_Frame);
    if (st->UsePf)
      for (int i = 0; i < G723_SubFrames; ++i) g723_1_Filt_Lpf(DataBuff, temp, pf[i], i);
    g723_1_Copy10(ds.PrevLsp, st->DecCng.LspSid);
  } else {
    g723_1_Regen(DataBuff, temp, static_cast<Word16>(ds.InterIndx), ds.InterGain, ds.Ecount, &ds.Rseed);
  }
  g723_1_CopyPM(temp + G723_Frame, ds.PrevExc);
  st->DecCng.RandSeed = 12345;
}

}  // namespace

Word32 g723_1_Comp_En(const Word16* x) {
  Word32 acc = 0;
  for (int i = 0; i < G723_SubFrLen; ++i) {
    const Word16 t = g723_1_shr(x[i], 2);
    acc = g723_1_L_mac(acc, t, t);
  }
  return acc;
}

void g7231_Init_Decod(G7231_DECSTATDEF* st) {
  std::memset(st, 0, sizeof *st);
  std::memcpy(st->PrevLsp, g723_1_LspDcTable, sizeof st->PrevLsp);
  st->Gain = 0x1000;
}

void g7231_Init_Dec_Cng(G7231_DECCNGDEF* st) {
  st->PastFtyp = 1;
  st->SidGain = 0;
  std::memcpy(st->LspSid, g723_1_LspDcTable, sizeof st->LspSid);
  st->RandSeed = 12345;
}

int g7231_Decod(std::int16_t* DataBuff, const std::int16_t* Vinp, std::int16_t Crc, G7231_Decod_State* st) {
  Word16 save_area[32];
  g723_1_FrameSave_Neon(save_area);
  int Ftyp = 1;
  G723_LINEDEF Line = g723_1_Line_Unpk(Vinp, &Ftyp, Crc, &st->WrkRate);
  if (Line.Crc != 0) Ftyp = st->DecCng.PastFtyp == 1 ? 1 : 0;

  Word16 QntLpc[G723_SubFrames * G723_LpcOrder];
  if (Ftyp == 1)
    decode_speech(st, Line, DataBuff, QntLpc);
  else
    g723_1_Dec_Cng(Ftyp, &Line, DataBuff, QntLpc, st);
  st->DecCng.PastFtyp = Ftyp;

  G7231_DECSTATDEF& ds = st->DecStat;
  for (int i = 0; i < G723_SubFrames; ++i) {
    Word16* sub = DataBuff + G723_SubFrLen * i;
    // Synthesis with its 10-sample memory in front of the subframe.
    Word16 y[G723_LpcOrder + G723_SubFrLen];
    for (int k = 0; k < G723_LpcOrder; ++k) y[G723_LpcOrder - 1 - k] = ds.SyntIirDl[k];
    g723_1_Synt(QntLpc + G723_LpcOrder * i, sub, y + G723_LpcOrder);
    for (int k = 0; k < G723_LpcOrder; ++k) ds.SyntIirDl[k] = y[G723_LpcOrder + G723_SubFrLen - 1 - k];
    if (st->UsePf) {
      g723_1_Copy_SubFrLen(y + G723_LpcOrder, sub);
      const Word32 energy = g723_1_Spf(sub, QntLpc + G723_LpcOrder * i, &ds);
      g723_1_Scale(sub, energy, &ds);
    } else {
      g723_1_Vec_shl_SFL(y + G723_LpcOrder, sub, 1);
    }
  }
  g723_1_FrameRestore_Neon(save_area);
  return Ftyp;
}
