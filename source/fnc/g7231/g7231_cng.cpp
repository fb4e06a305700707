// Comfort noise of G.723.1 shared by encoder and decoder: SID gain quantisation, the random
// excitation, and the decoder's comfort-noise frame.
#include <algorithm>
#include <cstring>

#include "g7231_codec.h"
#include "g7231_kernels.h"
#include "g7231_tables.h"

Word16 g723_1_Qua_SidGain(const Word16* Ener, const Word16* shEner, int nq) {
  Word32 x;
  if (nq == 0) {
    // Energy that the last speech frame left behind (a lost first SID).
    const Word16 shift = g723_1_sub(16, g723_1_shl(shEner[0], 1));
    x = g723_1_L_mls(g723_1_L_shl(g723_1_L_deposit_l(Ener[0]), shift), g723_1_fact[0]);
  } else {
    Word16 m = shEner[0];
    for (int i = 1; i < nq; ++i) m = std::min(m, shEner[i]);
    x = 0;
    for (int i = 0; i < nq; ++i) {
      const Word16 t = g723_1_shr(Ener[i], g723_1_sub(shEner[i], m));
      x = g723_1_L_add(x, g723_1_L_deposit_l(g723_1_mult_r(g723_1_fact[nq], t)));
    }
    x = g723_1_L_shl(x, g723_1_sub(15, m));
  }
  if (x >= g723_1_L_bseg[2]) return 63;

  int seg, steps;
  if (x >= g723_1_L_bseg[1]) {
    seg = 2;
    steps = 4;
  } else {
    seg = x >= g723_1_L_bseg[0] ? 1 : 0;
    steps = 3;
  }
  auto level = [&](int j) {
    const Word16 t = g723_1_add(g723_1_base[seg], g723_1_shl(static_cast<Word16>(j), static_cast<Word16>(seg + 1)));
    return g723_1_L_mult(t, t);
  };
  int j = 1 << steps;
  int k = j >> 1;
  for (int i = 0; i < steps; ++i) {
    j = x >= level(j) ? j + k : j - k;
    k >>= 1;
  }
  const Word32 d = g723_1_L_sub(level(j), x);
  int index;
  if (d <= 0)
    index = d > g723_1_L_sub(x, level(j + 1)) ? j : j + 1;
  else
    index = d < g723_1_L_sub(x, level(j - 1)) ? j : j - 1;
  return static_cast<Word16>((seg << 4) + index);
}

Word16 g723_1_Dec_SidGain(Word16 i_gain) {
  int seg = i_gain >> 4;
  if (seg == 3) seg = 2;
  const Word16 i = static_cast<Word16>(i_gain - (seg << 4));
  Word16 g = g723_1_add(g723_1_shl(i, static_cast<Word16>(seg + 1)), g723_1_base[seg]);
  return g723_1_shl(g, 5);
}

void g723_1_Calc_Exc_Rand(Word16 curGain, Word16* PrevExc, Word16* DataExc, Word16* nRandom,
                          G723_LINEDEF* Line, G7231_Crate WrkRate) {
  constexpr int kPulsesPerHalf = 11;
  constexpr int kHalfLen = 2 * G723_SubFrLen;
  constexpr Word16 kInvPulses = 2979;  // 1/11 in Q15

  Line->Olp[0] = static_cast<Word16>(g723_1_random_number(21, nRandom) + 123);
  Line->Olp[1] = static_cast<Word16>(g723_1_random_number(19, nRandom) + 123);
  for (auto& s : Line->Sfs) s.AcGn = static_cast<Word16>(g723_1_random_number(50, nRandom) + 1);
  Line->Sfs[0].AcLg = 1;
  Line->Sfs[1].AcLg = 0;
  Line->Sfs[2].AcLg = 1;
  Line->Sfs[3].AcLg = 3;

  Word16 signs[2 * kPulsesPerHalf];
  Word16 offset[G723_SubFrames];
  for (int half = 0; half < 2; ++half) {
    Word16 v = g723_1_random_number(1 << (kPulsesPerHalf + 2), nRandom);
    offset[2 * half] = static_cast<Word16>(v & 1);
    v = g723_1_shr(v, 1);
    offset[2 * half + 1] = static_cast<Word16>(G723_SubFrLen + (v & 1));
    for (int i = 0; i < kPulsesPerHalf; ++i) {
      signs[kPulsesPerHalf * half + i] = g723_1_shl(static_cast<Word16>((v & 2) - 1), 14);
      v = g723_1_shr(v, 1);
    }
  }

  Word16 positions[2 * kPulsesPerHalf];
  int np = 0;
  for (int sf = 0; sf < G723_SubFrames; ++sf) {
    Word16 free_pos[G723_SubFrLen / 2];
    for (int i = 0; i < G723_SubFrLen / 2; ++i) free_pos[i] = static_cast<Word16>(i);
    Word16 remaining = G723_SubFrLen / 2;
    for (int i = 0; i < g723_1_Nb_puls[sf]; ++i) {
      const Word16 j = g723_1_random_number(remaining, nRandom);
      positions[np++] = static_cast<Word16>(2 * free_pos[j] + offset[sf]);
      --remaining;
      free_pos[j] = free_pos[remaining];
    }
  }

  Word16* exc = DataExc;
  for (int half = 0; half < 2; ++half) {
    const int sf = 2 * half;
    g723_1_Decod_Acbk(exc, PrevExc, Line->Olp[half], Line->Sfs[sf].AcLg, Line->Sfs[sf].AcGn, WrkRate);
    g723_1_Decod_Acbk(exc + G723_SubFrLen, PrevExc + G723_SubFrLen, Line->Olp[half], Line->Sfs[sf + 1].AcLg,
                      Line->Sfs[sf + 1].AcGn, WrkRate);

    const Word16 peak = g723_1_Vec_Max_abs_s120(exc);
    Word16 sh = 0;
    if (peak != 0) sh = std::max<Word16>(g723_1_sub(4, g723_1_norm_s(peak)), -2);
    Word16 scaled[kHalfLen];
    const Word32 energy = g723_1_Calc_Exc_Rand_loop1(exc, scaled, sh);
    const Word16* pos = positions + kPulsesPerHalf * half;
    const Word16* sgn = signs + kPulsesPerHalf * half;
    Word32 acc = 0;
    for (int i = 0; i < kPulsesPerHalf; ++i) acc = g723_1_L_mac(acc, scaled[pos[i]], sgn[i]);
    const Word16 b = g723_1_extract_h(g723_1_L_shl(acc, 1));

    // Solve for the pulse amplitude x that brings the block to the wanted energy.
    acc = g723_1_L_shr(g723_1_L_mult(curGain, G723_SubFrLen), 6);
    acc = g723_1_L_mult(g723_1_extract_l(acc), curGain);
    acc = g723_1_L_shr(acc, static_cast<Word16>(2 * sh + 4));
    const Word32 c = g723_1_L_mls(g723_1_L_sub(energy, acc), kInvPulses);
    const Word16 b0 = g723_1_mult_r(b, kInvPulses);
    const Word32 delta = g723_1_L_sub(g723_1_L_mult(b0, b0), c);
    Word16 x;
    if (delta > 0) {
      const Word16 root = g723_1_Sqrt_lbc(delta);
      const Word16 x1 = g723_1_sub(root, b0);
      const Word16 x2 = g723_1_add(b0, root);
      x = g723_1_abs_s(x2) < g723_1_abs_s(x1) ? g723_1_negate(x2) : x1;
    } else {
      x = g723_1_negate(b0);
    }
    Word16 amplitude = g723_1_shl(x, static_cast<Word16>(sh + 1));
    amplitude = std::clamp<Word16>(amplitude, -10000, 10000);
    for (int i = 0; i < kPulsesPerHalf; ++i) exc[pos[i]] = g723_1_add(exc[pos[i]], g723_1_mult(amplitude, sgn[i]));

    g723_1_Copy(PrevExc + kHalfLen, PrevExc, G723_PitchMax - kHalfLen);
    g723_1_Copyx8(exc, PrevExc + G723_PitchMax - kHalfLen, kHalfLen);
    exc += kHalfLen;
  }
}

void g723_1_Dec_Cng(int Ftyp, G723_LINEDEF* Line, Word16* DataExc, Word16* QntLpc, G7231_Decod_State* st) {
  G7231_DECCNGDEF& cng = st->DecCng;
  G7231_DECSTATDEF& ds = st->DecStat;
  if (Ftyp == 2) {
    cng.SidGain = g723_1_Dec_SidGain(Line->Sfs[0].Mamp);
    g723_1_Lsp_Inq(cng.LspSid, ds.PrevLsp, Line->LspId, 0);
  } else if (cng.PastFtyp == 1) {
    // The first SID was lost: estimate the gain from the last speech frame.
    const Word16 q = g723_1_Qua_SidGain(&cng.SidGain, &cng.CurGain, 0);
    cng.SidGain = g723_1_Dec_SidGain(q);
  }
  if (cng.PastFtyp == 1)
    cng.CurGain = cng.SidGain;
  else
    cng.CurGain = g723_1_extract_h(g723_1_L_add(g723_1_L_mult(cng.CurGain, 0x7000), g723_1_L_mult(cng.SidGain, 0x1000)));
  g723_1_Calc_Exc_Rand(cng.CurGain, ds.PrevExc, DataExc, &cng.RandSeed, Line, st->WrkRate);
  g723_1_Lsp_Int(QntLpc, cng.LspSid, ds.PrevLsp);
  g723_1_Copy10(cng.LspSid, ds.PrevLsp);
}
