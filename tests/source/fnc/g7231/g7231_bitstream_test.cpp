// G.723.1 frames: packing of every frame type, invalid codes, erasures and the agreement of
// the encoder's and the decoder's memories.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "g7231_codec.h"
#include "g7231_tables.h"
#include "g7231_test_util.h"

namespace {

G723_LINEDEF random_line(std::mt19937& g, G7231_Crate rate) {
  auto pick = [&](int n) { return static_cast<int>(g() % static_cast<unsigned>(n)); };
  G723_LINEDEF l{};
  l.LspId = static_cast<Word32>(g() & 0xFFFFFF);
  for (auto& o : l.Olp) o = static_cast<Word16>(18 + pick(124));
  for (int i = 0; i < 4; ++i) {
    G723_SFSDEF& s = l.Sfs[i];
    const bool short_lag = rate == 0 && l.Olp[i >> 1] < 58;
    s.AcLg = static_cast<Word16>((i & 1) ? pick(4) : 1);
    s.AcGn = static_cast<Word16>(pick(short_lag ? 85 : 170));
    s.Mamp = static_cast<Word16>(pick(24));
    s.Grid = static_cast<Word16>(pick(2));
    s.Tran = static_cast<Word16>(short_lag ? pick(2) : 0);
    if (rate == 0) {
      s.Pamp = static_cast<Word16>(pick((i & 1) ? 32 : 64));
      s.Ppos = static_cast<Word32>(g() % static_cast<unsigned>(g723_1_MaxPosTable[i]));
    } else {
      s.Pamp = static_cast<Word16>(pick(16));
      s.Ppos = pick(4096);
    }
  }
  return l;
}

TEST(G7231Bitstream, ActiveFramesRoundTripAtBothRates) {
  std::mt19937 g(3);
  for (G7231_Crate rate : {0, 1}) {
    for (int trial = 0; trial < 300; ++trial) {
      const G723_LINEDEF in = random_line(g, rate);
      Word16 words[12];
      EXPECT_EQ(rate, g723_1_Line_Pack(&in, words, 1, rate));
      const int used_words = rate == 0 ? 12 : 10;
      for (int w = used_words; w < 12; ++w) EXPECT_EQ(0, words[w]);
      int ftyp = -1;
      G7231_Crate decoded_rate = 1 - rate;
      const G723_LINEDEF out = g723_1_Line_Unpk(words, &ftyp, 0, &decoded_rate);
      ASSERT_EQ(1, ftyp);
      ASSERT_EQ(0, out.Crc);
      EXPECT_EQ(rate, decoded_rate);
      EXPECT_EQ(in.LspId, out.LspId);
      EXPECT_EQ(in.Olp[0], out.Olp[0]);
      EXPECT_EQ(in.Olp[1], out.Olp[1]);
      for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(in.Sfs[i].AcLg, out.Sfs[i].AcLg);
        EXPECT_EQ(in.Sfs[i].AcGn, out.Sfs[i].AcGn);
        EXPECT_EQ(in.Sfs[i].Mamp, out.Sfs[i].Mamp);
        EXPECT_EQ(in.Sfs[i].Grid, out.Sfs[i].Grid);
        EXPECT_EQ(in.Sfs[i].Tran, out.Sfs[i].Tran);
        EXPECT_EQ(in.Sfs[i].Pamp, out.Sfs[i].Pamp);
        EXPECT_EQ(in.Sfs[i].Ppos, out.Sfs[i].Ppos);
      }
    }
  }
}

TEST(G7231Bitstream, SidAndUntransmittedFrames) {
  G723_LINEDEF sid{};
  sid.LspId = 0xABCDEF;
  sid.Sfs[0].Mamp = 45;
  Word16 w[12];
  EXPECT_EQ(G7231_SID, g723_1_Line_Pack(&sid, w, 2, 1));
  EXPECT_EQ(2, w[0] & 3);
  EXPECT_EQ(0xABCDEF & 0x3FFF, (w[0] >> 2) & 0x3FFF);
  EXPECT_EQ(0xABCDEF >> 14, w[1] & 0x3FF);
  EXPECT_EQ(45, (w[1] >> 10) & 0x3F);
  for (int i = 2; i < 12; ++i) EXPECT_EQ(0, w[i]);
  int ftyp = -1;
  G7231_Crate rate = 1;
  const G723_LINEDEF out = g723_1_Line_Unpk(w, &ftyp, 0, &rate);
  EXPECT_EQ(2, ftyp);
  EXPECT_EQ(sid.LspId, out.LspId);
  EXPECT_EQ(45, out.Sfs[0].Mamp);
  EXPECT_EQ(1, rate);  // a SID frame leaves the decoder's rate alone

  std::fill(w, w + 12, Word16(0x5555));
  EXPECT_EQ(G7231_NOFRAME, g723_1_Line_Pack(&sid, w, 0, 0));
  EXPECT_EQ(3, w[0]);
  for (int i = 1; i < 12; ++i) EXPECT_EQ(0, w[i]);
}

// A frame with a lag code of 124..127 or a gain index beyond its table decodes exactly as a
// lost frame from the same state.
TEST(G7231Decoder, InvalidCodesAreConcealedLikeLostFrames) {
  const auto speech = g7231_test::load_speech(240 * 20);
  G7231_Coder_State enc;
  g7231_test::init_encoder(&enc, 0, 0);
  G7231_Decod_State dec;
  g7231_test::init_decoder(&dec, 0, 1);
  std::vector<std::vector<Word16>> frames;
  for (std::size_t n = 0; n + 240 <= speech.size(); n += 240) {
    Word16 in[240], w[12], out[240];
    std::memcpy(in, &speech[n], sizeof in);
    g7231_Coder(in, w, &enc);
    g7231_Decod(out, w, 0, &dec);
    frames.emplace_back(w, w + 12);
  }
  auto expect_like_lost = [&](G723_LINEDEF line, const char* what) {
    Word16 w[12];
    g723_1_Line_Pack(&line, w, 1, 0);
    G7231_Decod_State a = dec, b = dec;
    Word16 out_a[240], out_b[240];
    EXPECT_EQ(1, g7231_Decod(out_a, w, 0, &a)) << what;
    g7231_Decod(out_b, w, 1, &b);
    EXPECT_EQ(0, std::memcmp(out_a, out_b, sizeof out_a)) << what;
    EXPECT_EQ(1, a.DecStat.Ecount) << what;
  };
  std::mt19937 g(5);
  G723_LINEDEF line = random_line(g, 0);
  line.Olp[0] = 18 + 124;  // lag code 124
  expect_like_lost(line, "lag code 124");
  line = random_line(g, 0);
  line.Olp[1] = 100;
  line.Sfs[2].AcGn = 170;  // beyond the 170-entry table
  line.Sfs[2].Mamp = 0;
  expect_like_lost(line, "gain index 170");
  line = random_line(g, 0);
  line.Olp[0] = 40;
  line.Sfs[1].Tran = 0;
  line.Sfs[1].AcGn = 85;  // beyond the 85-entry table of short lags
  line.Sfs[1].Mamp = 0;
  expect_like_lost(line, "gain index 85 at a short lag");
}

TEST(G7231Decoder, ErasuresFadeToSilenceAndComfortNoiseContinues) {
  const auto speech = g7231_test::load_speech(240 * 30);
  G7231_Coder_State enc;
  g7231_test::init_encoder(&enc, 1, 0);
  G7231_Decod_State dec;
  g7231_test::init_decoder(&dec, 1, 1);
  g7231_test::code_and_decode(speech, &enc, &dec);
  Word16 w[12], out[240];
  const Word16 lost[12] = {3};
  for (int k = 1; k <= 5; ++k) {
    EXPECT_EQ(1, g7231_Decod(out, lost, 1, &dec));
    EXPECT_EQ(std::min(k, 3), dec.DecStat.Ecount);
    EXPECT_EQ(1, dec.WrkRate);  // stays at 5.3 kbit/s
  }
  for (int i = 0; i < 240; ++i) ASSERT_EQ(0, dec.DecStat.PrevExc[i % 145]);

  // After a SID, lost and untransmitted frames continue the comfort noise.
  G723_LINEDEF sid{};
  sid.LspId = 0x102030;
  sid.Sfs[0].Mamp = 20;
  g723_1_Line_Pack(&sid, w, 2, 1);
  EXPECT_EQ(2, g7231_Decod(out, w, 0, &dec));
  EXPECT_EQ(0, g7231_Decod(out, lost, 1, &dec));
  EXPECT_EQ(0, g7231_Decod(out, lost, 0, &dec));
  bool any = false;
  for (Word16 v : out) any |= v != 0;
  EXPECT_TRUE(any);
  EXPECT_EQ(1, dec.WrkRate);
}

// The encoder keeps a copy of the decoder's memories: with every frame delivered, both hold the
// same excitation history and LSPs after speech, SID and untransmitted frames alike.
TEST(G7231Encoder, MemoriesStayInStepWithTheDecoder) {
  const auto signal = g7231_test::speech_with_pauses(5);
  for (G7231_Crate rate : {0, 1}) {
    G7231_Coder_State enc;
    g7231_test::init_encoder(&enc, rate, 1);
    G7231_Decod_State dec;
    g7231_test::init_decoder(&dec, rate, 1);
    int types[4] = {};
    for (std::size_t n = 0; n + 240 <= signal.size(); n += 240) {
      Word16 in[240], w[12], out[240];
      std::memcpy(in, &signal[n], sizeof in);
      ++types[g7231_Coder(in, w, &enc)];
      g7231_Decod(out, w, 0, &dec);
      ASSERT_EQ(0, std::memcmp(enc.CodStat.PrevExc, dec.DecStat.PrevExc, 145 * sizeof(Word16)))
          << "rate " << rate << " frame " << n / 240;
      ASSERT_EQ(0, std::memcmp(enc.CodStat.PrevLsp, dec.DecStat.PrevLsp, sizeof enc.CodStat.PrevLsp));
    }
    EXPECT_GT(types[2], 0);
    EXPECT_GT(types[3], 0);
  }
}

TEST(G7231Encoder, HighPassOffHalvesTheInputAndAllZeroInputCodes) {
  G7231_Coder_State enc;
  g7231_test::init_encoder(&enc, 0, 0);
  enc.UseHp = 0;
  Word16 in[240], w[12];
  for (int i = 0; i < 240; ++i) in[i] = static_cast<Word16>(i * 100 - 12000);
  Word16 copy[240];
  std::memcpy(copy, in, sizeof in);
  g7231_Coder(in, w, &enc);
  for (int i = 0; i < 120; ++i) EXPECT_EQ(copy[120 + i] >> 1, enc.CodStat.PrevDat[i]);

  g7231_test::init_encoder(&enc, 0, 0);
  for (int frame = 0; frame < 5; ++frame) {
    std::memset(in, 0, sizeof in);
    EXPECT_EQ(0, g7231_Coder(in, w, &enc));
  }
  EXPECT_LT(enc.CodStat.SinDet, 0);  // all-zero windows look like a sine to the detector
}

}  // namespace

namespace {

// Arbitrary received words of every frame type, mixed with lost frames, decode without fault
// (run under the sanitizers in CI).
TEST(G7231Decoder, ArbitraryFramesAndErasuresDecodeSafely) {
  std::mt19937 g(11);
  for (G7231_Crate rate : {0, 1}) {
    G7231_Decod_State dec;
    g7231_test::init_decoder(&dec, rate, 1);
    int kinds[3] = {};
    for (int n = 0; n < 1500; ++n) {
      Word16 w[12];
      for (auto& v : w) v = static_cast<Word16>(g());
      const Word16 crc = (g() % 10) == 0 ? 1 : 0;
      Word16 out[240];
      const int type = g7231_Decod(out, w, crc, &dec);
      ASSERT_TRUE(type >= 0 && type <= 2);
      ++kinds[type];
      ASSERT_LE(dec.DecStat.Ecount, 3);
    }
    EXPECT_GT(kinds[0], 0);
    EXPECT_GT(kinds[1], 0);
    EXPECT_GT(kinds[2], 0);
  }
}

}  // namespace

namespace {

// Square waves and noise at the rails drive the saturating paths of every search.
TEST(G7231Encoder, FullScaleInputStaysInStepWithTheDecoder) {
  std::mt19937 g(17);
  for (G7231_Crate rate : {0, 1}) {
    G7231_Coder_State enc;
    g7231_test::init_encoder(&enc, rate, 1);
    G7231_Decod_State dec;
    g7231_test::init_decoder(&dec, rate, 1);
    for (int frame = 0; frame < 60; ++frame) {
      Word16 in[240], w[12], out[240];
      for (int i = 0; i < 240; ++i) {
        if (frame % 3 == 2)
          in[i] = static_cast<Word16>(g());
        else
          in[i] = ((i / (20 + frame)) & 1) ? Word16(32767) : Word16(-32768);
      }
      g7231_Coder(in, w, &enc);
      g7231_Decod(out, w, 0, &dec);
      ASSERT_EQ(0, std::memcmp(enc.CodStat.PrevExc, dec.DecStat.PrevExc, 145 * sizeof(Word16))) << frame;
    }
  }
}

}  // namespace
