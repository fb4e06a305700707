// Packing and unpacking of G.723.1 frames. Bit n of a frame is bit n % 16 of word n / 16, and
// every field is written least significant bit first.
#include <cstring>

#include "g7231_codec.h"

namespace {

// Writes the low `bits` bits of value, least significant first, at bit position *pos.
void g723_1_Par2Ser(Word32 value, Word16* words, int* pos, int bits) {
  for (int i = 0; i < bits; ++i, ++*pos)
    if ((value >> i) & 1) words[*pos >> 4] = static_cast<Word16>(words[*pos >> 4] | (1 << (*pos & 15)));
}

// Reads `bits` bits, least significant first, from bit position *pos.
Word32 g723_1_Ser2Par(const Word16* words, int* pos, int bits) {
  Word32 value = 0;
  for (int i = 0; i < bits; ++i, ++*pos) value |= Word32((words[*pos >> 4] >> (*pos & 15)) & 1) << i;
  return value;
}

struct BitWriter {
  Word16* words;
  int pos = 0;
  void put(Word32 value, int bits) { g723_1_Par2Ser(value, words, &pos, bits); }
};

struct BitReader {
  const Word16* words;
  int pos = 0;
  Word32 get(int bits) { return g723_1_Ser2Par(words, &pos, bits); }
};

}  // namespace

int g723_1_Line_Pack(const G723_LINEDEF* Line, Word16* Vout, int Ftyp, G7231_Crate WrkRate) {
  std::memset(Vout, 0, G7231_FRAME_WORDS * sizeof(Word16));
  BitWriter w{Vout};
  int info;
  if (Ftyp == 0) {
    info = G7231_NOFRAME;
  } else if (Ftyp == 2) {
    info = G7231_SID;
  } else {
    info = WrkRate == 0 ? G7231_VOICER63 : G7231_VOICER53;
  }
  w.put(info, 2);
  if (info == G7231_NOFRAME) return info;
  w.put(Line->LspId, 24);
  if (info == G7231_SID) {
    w.put(Line->Sfs[0].Mamp, 6);
    return info;
  }
  w.put(Line->Olp[0] - 18, 7);
  w.put(Line->Sfs[1].AcLg, 2);
  w.put(Line->Olp[1] - 18, 7);
  w.put(Line->Sfs[3].AcLg, 2);
  for (const auto& s : Line->Sfs) {
    Word32 gain = Word32(s.AcGn) * G723_NumOfGainLev + s.Mamp;
    if (WrkRate == 0) gain += Word32(s.Tran) << 11;
    w.put(gain, 12);
  }
  for (const auto& s : Line->Sfs) w.put(s.Grid, 1);
  if (WrkRate == 0) {
    w.put(0, 1);  // reserved
    Word32 high = ((Line->Sfs[0].Ppos >> 16) * 9 + (Line->Sfs[1].Ppos >> 14)) * 90 +
                  (Line->Sfs[2].Ppos >> 16) * 9 + (Line->Sfs[3].Ppos >> 14);
    w.put(high, 13);
    w.put(Line->Sfs[0].Ppos & 0xFFFF, 16);
    w.put(Line->Sfs[1].Ppos & 0x3FFF, 14);
    w.put(Line->Sfs[2].Ppos & 0xFFFF, 16);
    w.put(Line->Sfs[3].Ppos & 0x3FFF, 14);
    w.put(Line->Sfs[0].Pamp, 6);
    w.put(Line->Sfs[1].Pamp, 5);
    w.put(Line->Sfs[2].Pamp, 6);
    w.put(Line->Sfs[3].Pamp, 5);
  } else {
    for (const auto& s : Line->Sfs) w.put(s.Ppos, 12);
    for (const auto& s : Line->Sfs) w.put(s.Pamp, 4);
  }
  return info;
}

G723_LINEDEF g723_1_Line_Unpk(const Word16* Vinp, int* Ftyp, Word16 Crc, G7231_Crate* WrkRate) {
  G723_LINEDEF Line{};
  Line.Crc = Crc;
  if (Crc != 0) return Line;
  BitReader r{Vinp};
  const Word32 info = r.get(2);
  if (info == G7231_NOFRAME) {
    *Ftyp = 0;
    Line.LspId = 0;
    return Line;
  }
  Line.LspId = r.get(24);
  if (info == G7231_SID) {
    *Ftyp = 2;
    Line.Sfs[0].Mamp = static_cast<Word16>(r.get(6));
    return Line;
  }
  *Ftyp = 1;
  *WrkRate = info == G7231_VOICER63 ? 0 : 1;

  for (int half = 0; half < 2; ++half) {
    const Word32 code = r.get(7);
    if (code > 123) {  // lag codes 124..127 are not used: the frame is unusable
      Line.Crc = 1;
      return Line;
    }
    Line.Olp[half] = static_cast<Word16>(code + 18);
    Line.Sfs[2 * half + 1].AcLg = static_cast<Word16>(r.get(2));
  }
  Line.Sfs[0].AcLg = 1;
  Line.Sfs[2].AcLg = 1;

  for (int i = 0; i < 4; ++i) {
    Word32 g = r.get(12);
    int bound = 170;
    G723_SFSDEF& s = Line.Sfs[i];
    s.Tran = 0;
    if (*WrkRate == 0 && Line.Olp[i >> 1] < G723_SubFrLen - 2) {
      s.Tran = static_cast<Word16>(g >> 11);
      g &= 0x7FF;
      bound = 85;
    }
    s.AcGn = static_cast<Word16>((g * 2731) >> 16);
    s.Mamp = static_cast<Word16>(g - s.AcGn * G723_NumOfGainLev);
    if (s.AcGn >= bound) {
      Line.Crc = 1;
      return Line;
    }
  }
  for (auto& s : Line.Sfs) s.Grid = static_cast<Word16>(r.get(1));

  if (*WrkRate == 1) {
    for (auto& s : Line.Sfs) s.Ppos = r.get(12);
    for (auto& s : Line.Sfs) s.Pamp = static_cast<Word16>(r.get(4));
    return Line;
  }
  r.get(1);  // reserved
  const Word32 t = r.get(13);
  const Word32 t810 = (t * 20713) >> 24;           // t / 810
  const Word32 t90 = (t * 23302) >> 21;            // t / 90
  const Word32 rest = t - t90 * 90;                // t mod 90
  const Word32 h0 = t810;
  const Word32 h1 = t90 - t810 * 9;
  const Word32 h2 = rest / 9;
  const Word32 h3 = rest - h2 * 9;
  Line.Sfs[0].Ppos = (h0 << 16) + r.get(16);
  Line.Sfs[1].Ppos = (h1 << 14) + r.get(14);
  Line.Sfs[2].Ppos = (h2 << 16) + r.get(16);
  Line.Sfs[3].Ppos = (h3 << 14) + r.get(14);
  Line.Sfs[0].Pamp = static_cast<Word16>(r.get(6));
  Line.Sfs[1].Pamp = static_cast<Word16>(r.get(5));
  Line.Sfs[2].Pamp = static_cast<Word16>(r.get(6));
  Line.Sfs[3].Pamp = static_cast<Word16>(r.get(5));
  return Line;
}
