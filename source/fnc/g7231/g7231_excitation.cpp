// Excitation decoding of G.723.1, shared by the encoder's memory update and the decoder: the
// adaptive codebook (five-tap pitch predictor) and the fixed codebooks of both rates.
#include <algorithm>

#include "g7231_codec.h"
#include "g7231_kernels.h"
#include "g7231_tables.h"

namespace {

// 64 samples of periodic excitation at Lag: two samples before the lag, then the lag's period
// repeated. PrevExc points at the start of a 145-sample history.
void g723_1_Get_Rez_all(Word16* Tv, const Word16* PrevExc, Word16 Lag) {
  for (int i = 0; i < G723_ClPitchOrd / 2; ++i) Tv[i] = PrevExc[G723_PitchMax - Lag - G723_ClPitchOrd / 2 + i];
  for (int i = 0; i < G723_SubFrLen + G723_ClPitchOrd / 2; ++i)
    Tv[G723_ClPitchOrd / 2 + i] = PrevExc[G723_PitchMax - Lag + i % Lag];
}

}  // namespace

void g723_1_Decod_Acbk(Word16* Tv, const Word16* PrevExc, Word16 Olp, Word16 Lid, Word16 Gid,
                       G7231_Crate WrkRate) {
  Word16 rez[G723_SubFrLen + G723_ClPitchOrd - 1];
  g723_1_Get_Rez_all(rez, PrevExc, static_cast<Word16>(Olp + Lid - 1));
  const int table = (WrkRate == 0 && Olp < G723_SubFrLen - 2) ? 0 : 1;
  const int entries = table == 0 ? 88 : 172;
  const int gid = std::clamp<int>(Gid, 0, entries - 1);
  // Interleaved layout: value k of entry e sits at 80 * (e / 4) + 4 * k + e % 4.
  const Word16* taps = g723_1_AcbkInterleavedGainTablePtr[table] + 80 * (gid >> 2) + (gid & 3);
  // Five-tap prediction of 60 samples; the taps lie four values apart in the grouped table.
  g723_1_Acbk_filter(Tv, rez, taps);
}

void g723_1_Gen_Trn(Word16* Dst, const Word16* Src, Word16 Olp) {
  Word16 tmp[G723_SubFrLen];
  for (int i = 0; i < G723_SubFrLen; ++i) tmp[i] = Dst[i] = Src[i];
  if (Olp <= 0) return;
  for (int lag = Olp; lag < G723_SubFrLen; lag += Olp)
    for (int i = lag; i < G723_SubFrLen; ++i) Dst[i] = g723_1_add(Dst[i], tmp[i - lag]);
}

void g723_1_Fcbk_Unpk(Word16* Tv, const G723_SFSDEF& Sfs, Word16 Olp, int Sfc, G7231_Crate WrkRate) {
  if (WrkRate == 0) {
    g723_1_Set_zero4(Tv, G723_SubFrLen);
    Word32 code = Sfs.Ppos;
    if (code < 0 || code >= g723_1_MaxPosTable[Sfc]) return;
    int j = 6 - g723_1_Nb_puls[Sfc];
    const Word16 amplitude = g723_1_FcbkGainTable[std::clamp<int>(Sfs.Mamp, 0, 23)];
    for (int pos = 0; pos < G723_SubFrLen / 2; ++pos) {
      const Word32 rest = code - g723_1_CombinatorialTable[j][pos];
      if (rest < 0) {
        const bool negative = (Sfs.Pamp >> (6 - (j + 1))) & 1;
        Tv[2 * pos + (Sfs.Grid & 1)] = negative ? g723_1_negate(amplitude) : amplitude;
        if (++j == 6) break;
      } else {
        code = rest;
      }
    }
    if (Sfs.Tran == 1) g723_1_Gen_Trn(Tv, Tv, Olp);
    return;
  }

  Word16 buf[G723_SubFrLen + 4] = {};
  const Word16 gain = g723_1_FcbkGainTable[std::clamp<int>(Sfs.Mamp, 0, 23)];
  for (int k = 0; k < 4; ++k) {
    const int pos = 8 * ((Sfs.Ppos >> (3 * k)) & 7) + 2 * k + (Sfs.Grid & 1);
    buf[pos] = ((Sfs.Pamp >> k) & 1) ? gain : g723_1_negate(gain);
  }
  const int gid = std::clamp<int>(Sfs.AcGn, 0, 169);
  const int T0 = Olp - 1 + Sfs.AcLg + g723_1_epsi170[gid];
  const Word16 b = g723_1_gain170[gid];
  if (T0 > 0 && T0 < G723_SubFrLen - 2)
    for (int n = T0; n < G723_SubFrLen; ++n) buf[n] = g723_1_add(buf[n], g723_1_mult(buf[n - T0], b));
  g723_1_Copy_SubFrLen(buf, Tv);
}
