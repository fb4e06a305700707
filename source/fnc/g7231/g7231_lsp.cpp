// LSP decoding of G.723.1: inverse quantisation with first-order prediction and stability
// repair, conversion to LPC coefficients and interpolation over the four subframes.
#include <algorithm>

#include "g7231_codec.h"
#include "g7231_tables.h"

namespace {

// Stability: pushes neighbours apart until every pair is at least the minimum distance apart
// (at most 10 passes).
void g723_1_Lsp_Inq_Loop1(Word16* Lsp, Word16 min_dist) {
  for (int pass = 0; pass < 10; ++pass) {
    if (Lsp[0] < 0x180) Lsp[0] = 0x180;
    if (Lsp[G723_LpcOrder - 1] > 0x7E00) Lsp[G723_LpcOrder - 1] = 0x7E00;
    for (int j = 1; j < G723_LpcOrder; ++j) {
      Word16 d = g723_1_sub(g723_1_add(min_dist, Lsp[j - 1]), Lsp[j]);
      if (d > 0) {
        d = g723_1_shr(d, 1);
        Lsp[j - 1] = g723_1_sub(Lsp[j - 1], d);
        Lsp[j] = g723_1_add(Lsp[j], d);
      }
    }
    bool unstable = false;
    for (int j = 1; j < G723_LpcOrder; ++j) {
      const Word16 d = g723_1_sub(g723_1_sub(g723_1_add(Lsp[j - 1], min_dist), 4), Lsp[j]);
      if (d > 0) unstable = true;
    }
    if (!unstable) break;
  }
}

}  // namespace

void g723_1_Lsp_Inq(Word16* Lsp, const Word16* PrevLsp, Word32 LspId, Word16 Crc) {
  Word16 min_dist = 0x100;
  Word16 prediction = 12288;
  if (Crc != 0) {  // lost frame: first codebook entries, stronger prediction, wider spacing
    LspId = 0;
    min_dist = 0x200;
    prediction = 23552;
  }
  for (int band = 2; band >= 0; --band) {
    const int index = LspId & 0xFF;
    LspId >>= 8;
    const int start = g723_1_BandInfoTable[band][0];
    const int len = g723_1_BandInfoTable[band][1];
    for (int j = 0; j < len; ++j) Lsp[start + j] = g723_1_BandQntTable[band][index * len + j];
  }
  for (int j = 0; j < G723_LpcOrder; ++j) {
    const Word16 prev_dc_free = g723_1_sub(PrevLsp[j], g723_1_LspDcTable[j]);
    Lsp[j] = g723_1_add(Lsp[j], g723_1_mult_r(prev_dc_free, prediction));
    Lsp[j] = g723_1_add(Lsp[j], g723_1_LspDcTable[j]);
  }
  g723_1_Lsp_Inq_Loop1(Lsp, min_dist);
}

void g723_1_LsptoA(Word16* Lsp) {
  // -cos of each LSP frequency by table look-up and linear interpolation.
  for (int i = 0; i < G723_LpcOrder; ++i) {
    // An LSP set that the stability loop could not bring into range (a corrupted frame) must
    // not index outside the table: the frequency is taken at the table's edge instead.
    const int j = std::clamp<int>(g723_1_shr(Lsp[i], 7), 0, 510);
    Word32 acc = g723_1_L_deposit_h(g723_1_CosineTable[j]);
    const Word16 slope = g723_1_sub(g723_1_CosineTable[j + 1], g723_1_CosineTable[j]);
    acc = g723_1_L_mac(acc, slope, g723_1_add(g723_1_shl(static_cast<Word16>(Lsp[i] & 0x7F), 8), 0x80));
    acc = g723_1_L_shl(acc, 1);
    Lsp[i] = g723_1_negate(g723_1_round(acc));
  }

  // Sum and difference polynomials from the even and the odd frequencies.
  Word32 P[6], Q[6];
  P[0] = 0x10000000;
  P[1] = g723_1_L_mac(g723_1_L_mult(Lsp[0], 0x2000), Lsp[2], 0x2000);
  P[2] = g723_1_L_add(g723_1_L_shr(g723_1_L_mult(Lsp[0], Lsp[2]), 1), 0x20000000);
  Q[0] = 0x10000000;
  Q[1] = g723_1_L_mac(g723_1_L_mult(Lsp[1], 0x2000), Lsp[3], 0x2000);
  Q[2] = g723_1_L_add(g723_1_L_shr(g723_1_L_mult(Lsp[1], Lsp[3]), 1), 0x20000000);

  for (int i = 2; i < G723_LpcOrder / 2; ++i) {
    P[i + 1] = g723_1_L_add(g723_1_L_mls(P[i], Lsp[2 * i]), P[i - 1]);
    Q[i + 1] = g723_1_L_add(g723_1_L_mls(Q[i], Lsp[2 * i + 1]), Q[i - 1]);
    for (int j = i; j >= 2; --j) {
      Word32 a = g723_1_L_mls(P[j - 1], Lsp[2 * i]);
      a = g723_1_L_add(a, g723_1_L_shr(P[j], 1));
      a = g723_1_L_add(a, g723_1_L_shr(P[j - 2], 1));
      P[j] = a;
      Word32 b = g723_1_L_mls(Q[j - 1], Lsp[2 * i + 1]);
      b = g723_1_L_add(b, g723_1_L_shr(Q[j], 1));
      b = g723_1_L_add(b, g723_1_L_shr(Q[j - 2], 1));
      Q[j] = b;
    }
    P[0] = g723_1_L_shr(P[0], 1);
    Q[0] = g723_1_L_shr(Q[0], 1);
    Word32 a = g723_1_L_shr(g723_1_L_deposit_h(Lsp[2 * i]), static_cast<Word16>(i));
    P[1] = g723_1_L_shr(g723_1_L_add(a, P[1]), 1);
    Word32 b = g723_1_L_shr(g723_1_L_deposit_h(Lsp[2 * i + 1]), static_cast<Word16>(i));
    Q[1] = g723_1_L_shr(g723_1_L_add(b, Q[1]), 1);
  }

  for (int i = 0; i < G723_LpcOrder / 2; ++i) {
    Word32 a = g723_1_L_add(P[i], P[i + 1]);
    a = g723_1_L_sub(a, Q[i]);
    a = g723_1_L_add(a, Q[i + 1]);
    a = g723_1_L_shl(a, 3);
    Lsp[i] = g723_1_negate(g723_1_round(a));
    Word32 b = g723_1_L_add(P[i], P[i + 1]);
    b = g723_1_L_add(b, Q[i]);
    b = g723_1_L_sub(b, Q[i + 1]);
    b = g723_1_L_shl(b, 3);
    Lsp[G723_LpcOrder - 1 - i] = g723_1_negate(g723_1_round(b));
  }
}

void g723_1_Lsp_Int(Word16* QntLpc, const Word16* CurrLsp, const Word16* PrevLsp) {
  Word16 factor = -8192;  // weight of the new vector: 0.25, 0.5, 0.75, 1.0 (negated)
  for (int i = 0; i < G723_SubFrames; ++i) {
    Word16* a = QntLpc + G723_LpcOrder * i;
    for (int j = 0; j < G723_LpcOrder; ++j) {
      Word32 acc = g723_1_L_deposit_h(PrevLsp[j]);
      acc = g723_1_L_mac(acc, factor, PrevLsp[j]);
      acc = g723_1_L_msu(acc, factor, CurrLsp[j]);
      a[j] = g723_1_round(acc);
    }
    g723_1_LsptoA(a);
    factor = g723_1_add(factor, -8192);
  }
}
