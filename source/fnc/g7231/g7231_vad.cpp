// G.723.1 silence compression on the encoder side: voice activity detector, autocorrelation
// history and the comfort-noise encoder that decides between SID and untransmitted frames.
#include <algorithm>
#include <cstring>

#include "g7231_encoder.h"
#include "g7231_kernels.h"
#include "g7231_tables.h"

void g723_1_Update_Acf(const Word16* Acf_sf, const int* ShAcf_sf, G7231_CODCNGDEF* cng) {
  std::memmove(cng->Acf + 11, cng->Acf, 33 * sizeof(Word16));
  std::memmove(cng->ShAcf + 1, cng->ShAcf, 3 * sizeof(int));
  int e = ShAcf_sf[0];
  for (int k = 1; k < G723_SubFrames; ++k) e = std::min(e, ShAcf_sf[k]);
  e += 14;
  Word32 sum[11] = {};
  for (int k = 0; k < G723_SubFrames; ++k) {
    const Word16 shift = static_cast<Word16>(e - ShAcf_sf[k]);
    for (int i = 0; i <= 10; ++i)
      sum[i] = g723_1_L_add(sum[i], g723_1_L_shl(g723_1_L_deposit_l(Acf_sf[11 * k + i]), shift));
  }
  const int t = std::max(0, 16 - g723_1_norm_l(sum[0]));
  for (int i = 0; i <= 10; ++i) cng->Acf[i] = g723_1_extract_l(g723_1_L_shr(sum[i], static_cast<Word16>(t)));
  cng->ShAcf[0] = e - t;
}

int g723_1_Comp_Vad(const Word16* Dpnt, G7231_Coder_State* st) {
  if (!st->UseVx) return 1;
  G7231_VADSTATDEF& v = st->VadStat;

  // Periodicity of the recent lags (or a sine) suspends the noise adaptation.
  int m = G723_PitchMax;
  for (int p : v.Polp) m = std::min(m, p);
  int hits = 0;
  for (int p : v.Polp)
    for (int k = 1; k <= 8; ++k) {
      const int multiple = std::min(k * m, 32767);
      if (std::abs(multiple - p) <= 3) ++hits;
    }
  if (hits == 4 || st->CodStat.SinDet < 0)
    v.Aen += 2;
  else
    v.Aen -= 1;
  v.Aen = std::clamp(v.Aen, 0, 6);

  // Residual energy of the frame through the noise's inverse filter.
  Word32 energy = 0;
  for (int n = 60; n < G723_Frame; ++n) {
    Word32 acc = g723_1_L_mult(Dpnt[n], 0x2000);
    for (int k = 0; k < G723_LpcOrder; ++k) acc = g723_1_L_msu(acc, v.NLpc[k], Dpnt[n - 1 - k]);
    const Word16 r = g723_1_round(acc);
    energy = g723_1_L_mac(energy, r, r);
  }
  energy = static_cast<Word32>((std::int64_t(energy) * 2913) >> 15);

  if (v.Nlev > v.Penr) v.Nlev = (v.Penr - (v.Penr >> 2)) + (v.Nlev >> 2);
  if (v.Aen != 0)
    v.Nlev -= v.Nlev >> 11;
  else
    v.Nlev += v.Nlev >> 5;
  v.Penr = energy;
  v.Nlev = std::clamp<Word32>(v.Nlev, 128, 0x1FFFF);

  // Threshold from the noise level through the scale-factor table.
  const Word32 a = g723_1_L_shl(v.Nlev, 13);
  const Word16 t = g723_1_norm_l(a);
  const Word32 f = static_cast<Word32>((static_cast<std::uint32_t>(g723_1_L_shl(a, t)) & 0x3F000000u) >> 15);
  Word32 acc = g723_1_L_deposit_h(g723_ScfTab[t]);
  acc = g723_1_L_mac(acc, static_cast<Word16>(f), g723_ScfTab[t - 1]);
  acc = g723_1_L_msu(acc, static_cast<Word16>(f), g723_ScfTab[t]);
  const Word16 s = g723_1_extract_h(acc);
  const Word32 threshold = (2 * Word32(s) * static_cast<std::uint16_t>(v.Nlev >> 2)) >> 11;

  int speech = energy >= threshold ? 1 : 0;
  if (speech) {
    ++v.Vcnt;
    ++v.Hcnt;
  } else if (v.Vcnt > 0) {
    --v.Vcnt;
  }
  if (v.Vcnt >= 2) {
    v.Hcnt = 6;
    v.Vcnt = std::min(v.Vcnt, 3);
  }
  if (v.Hcnt != 0) {
    speech = 1;
    if (v.Vcnt == 0) --v.Hcnt;
  }
  v.Polp[0] = v.Polp[2];
  v.Polp[1] = v.Polp[3];
  return speech;
}

namespace {

void g723_1_ComputePastAvFilter(const G7231_CODCNGDEF* cng, Word16* coeff) {
  int e = std::min({cng->ShAcf[1], cng->ShAcf[2], cng->ShAcf[3]}) + 14;
  Word32 sum[11] = {};
  for (int k = 1; k <= 3; ++k) {
    const Word16 shift = static_cast<Word16>(e - cng->ShAcf[k]);
    for (int i = 0; i <= 10; ++i)
      sum[i] = g723_1_L_add(sum[i], g723_1_L_shl(g723_1_L_deposit_l(cng->Acf[11 * k + i]), shift));
  }
  const int t = std::max(0, 16 - g723_1_norm_l(sum[0]));
  Word16 r[11];
  for (int i = 0; i <= 10; ++i) r[i] = g723_1_extract_l(g723_1_L_shr(sum[i], static_cast<Word16>(t)));
  Word16 pk2;
  g723_1_Durbin(coeff, r + 1, r[0], &pk2);
}

void g723_1_CalcRC(const Word16* a, Word16* RC, int* ShRC) {
  Word32 r0 = 0;
  for (int k = 0; k < G723_LpcOrder; ++k) r0 = g723_1_L_mac(r0, a[k], a[k]);
  r0 = g723_1_L_add(g723_1_L_shr(r0, 1), 0x4000000);
  const Word16 s = static_cast<Word16>(g723_1_norm_l(r0) - 2);
  RC[0] = g723_1_round(g723_1_L_shl(r0, s));
  for (int j = 1; j <= G723_LpcOrder; ++j) {
    Word32 acc = g723_1_L_mult(-8192, a[j - 1]);
    for (int k = 0; k < G723_LpcOrder - j; ++k) acc = g723_1_L_mac(acc, a[k], a[k + j]);
    RC[j] = g723_1_round(g723_1_L_shl(acc, s));
  }
  *ShRC = s;
}

// 1 when the spectrum of the current autocorrelation is close to the filter's.
int g723_1_LpcDiff(const Word16* RC, int ShRC, const Word16* acf, Word16 p) {
  Word32 d = 0;
  for (int j = 0; j <= G723_LpcOrder; ++j) d = g723_1_L_mac(d, g723_1_shr(acf[j], 2), RC[j]);
  Word32 thr = Word32(p) + g723_1_mult_r(p, 7000);
  thr = g723_1_L_shl(thr, static_cast<Word16>(ShRC + 9));
  return d <= thr ? 1 : 0;
}

}  // namespace

void g723_1_Cod_Cng(Word16* DataExc, int* Ftyp, G723_LINEDEF* Line, Word16* QntLpc, G7231_Coder_State* st) {
  G7231_CODCNGDEF& cng = st->CodCng;
  G7231_CODSTATDEF& cs = st->CodStat;

  cng.Ener[2] = cng.Ener[1];
  cng.Ener[1] = cng.Ener[0];
  Word16 cur_lpc[G723_LpcOrder];
  Word16 pk2;
  cng.Ener[0] = g723_1_Durbin(cur_lpc, cng.Acf + 1, cng.Acf[0], &pk2);

  Word16 q;
  if (cng.PastFtyp == 1) {
    *Ftyp = 2;
    cng.NbEner = 1;
    Word16 sh[1] = {static_cast<Word16>(cng.ShAcf[0])};
    q = g723_1_Qua_SidGain(cng.Ener, sh, 1);
  } else {
    cng.NbEner = std::min(cng.NbEner + 1, 3);
    Word16 sh[3];
    for (int i = 0; i < 3; ++i) sh[i] = static_cast<Word16>(cng.ShAcf[i]);
    q = g723_1_Qua_SidGain(cng.Ener, sh, cng.NbEner);
    if (!g723_1_LpcDiff(cng.RC, cng.ShRC, cng.Acf, cng.Ener[0]))
      *Ftyp = 2;
    else
      *Ftyp = std::abs(q - cng.IRef) >= 4 ? 2 : 0;
  }

  if (*Ftyp == 2) {
    g723_1_ComputePastAvFilter(&cng, cng.SidLpc);
    if (st->VadStat.Aen == 0) g723_1_Copy10(cng.SidLpc, st->VadStat.NLpc);
    g723_1_CalcRC(cng.SidLpc, cng.RC, &cng.ShRC);
    if (!g723_1_LpcDiff(cng.RC, cng.ShRC, cng.Acf, cng.Ener[0])) {
      g723_1_Copy10(cur_lpc, cng.SidLpc);
      g723_1_CalcRC(cng.SidLpc, cng.RC, &cng.ShRC);
    }
    Word16 lsp[G723_LpcOrder];
    g723_1_AtoLsp(lsp, cng.SidLpc, cs.PrevLsp);
    Line->LspId = g723_1_Lsp_Qnt(lsp, cs.PrevLsp);
    g723_1_Lsp_Inq(cng.LspSid, cs.PrevLsp, Line->LspId, 0);
    Line->Sfs[0].Mamp = q;
    cng.IRef = q;
    cng.SidGain = g723_1_Dec_SidGain(q);
  }

  if (cng.PastFtyp == 1)
    cng.CurGain = cng.SidGain;
  else
    cng.CurGain = g723_1_extract_h(g723_1_L_add(g723_1_L_mult(cng.CurGain, 0x7000), g723_1_L_mult(cng.SidGain, 0x1000)));
  g723_1_Calc_Exc_Rand(cng.CurGain, cs.PrevExc, DataExc, &cng.RandSeed, Line, st->WrkRate);
  g723_1_Lsp_Int(QntLpc, cng.LspSid, cs.PrevLsp);
  g723_1_Copy10(cng.LspSid, cs.PrevLsp);
  cng.PastFtyp = *Ftyp;
}
