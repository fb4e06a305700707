// The AMR wrapper: payloads against the independent encoder's storage format for the same input,
// the independent decoder on our payloads, the payload bit orders, mode-request stepping.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "amr_wrapper_harness.h"
#include "voc_amr.h"
#include "voc_amr_tables.h"
#include "vocoder.h"

extern "C" {
#include <opencore-amrnb/interf_dec.h>
#include <opencore-amrnb/interf_enc.h>
}

namespace {

constexpr const AmrFamilyUnderTest& kNb = kAmrNbUnderTest;

struct AmrEnc : AmrWrapEnc {
  explicit AmrEnc(uint16_t algorithm, AMR_REGS amr = {}) : AmrWrapEnc(kNb, algorithm, amr) {}
};
struct AmrDec : AmrWrapDec {
  explicit AmrDec(uint16_t code) : AmrWrapDec(kNb, code) {}
};

std::vector<int16_t> speechLike(int frame) { return amrSpeechLike(kNb, frame); }

TEST(AmrTables, EveryPayloadOrderIsAPermutationOfTheModesBits) {
  const int nb[8] = {95, 103, 118, 134, 148, 159, 204, 244};
  const int wb[9] = {132, 177, 253, 285, 317, 365, 397, 461, 477};
  auto check = [](const int16_t* t, int n) {
    std::vector<int> seen(n, 0);
    long sum = 0;
    for (int i = 0; i < n; ++i) {
      ASSERT_GE(t[i], 0);
      ASSERT_LT(t[i], n);
      ++seen[t[i]];
      sum += t[i];
    }
    for (int s : seen) EXPECT_EQ(s, 1);
    EXPECT_EQ(sum, static_cast<long>(n) * (n - 1) / 2);
  };
  for (int m = 0; m < 8; ++m) check(amrSortNb[m], nb[m]);
  for (int m = 0; m < 9; ++m) check(amrSortWb[m], wb[m]);
  // The start the standard gives for AMR-WB 6.60.
  const int16_t start[12] = {0, 5, 6, 7, 61, 84, 107, 130, 62, 85, 8, 4};
  EXPECT_EQ(std::memcmp(amrSortWb[0], start, sizeof(start)), 0);
}

TEST(AmrPayload, SpeechBitsEqualTheIndependentEncodersStorageFormatInBothFramings) {
  for (int mode = 0; mode < 8; ++mode) {
    AmrEnc oa(static_cast<uint16_t>(26 + mode));
    AmrEnc be(static_cast<uint16_t>(18 + mode));
    void* ref = Encoder_Interface_init(0);
    int mismatches = 0;
    for (int f = 0; f < 50; ++f) {
      const std::vector<int16_t> pcm = speechLike(f);
      std::vector<uint8_t> po, pb;
      ASSERT_EQ(oa.encode(pcm, po), PVE_ENC_VOICE);
      ASSERT_EQ(be.encode(pcm, pb), PVE_ENC_VOICE);
      unsigned char storage[64];
      const int n = Encoder_Interface_Encode(ref, static_cast<Mode>(mode), pcm.data(), storage, 0);
      ASSERT_GT(n, 1);
      // Octet-aligned: request byte, then the table entry as storage writes it, then the bits.
      ASSERT_EQ(po.size(), static_cast<size_t>(n) + 1);
      EXPECT_EQ(po[0], 0xF0);
      EXPECT_EQ(po[1], storage[0]);
      mismatches += std::memcmp(po.data() + 2, storage + 1, n - 1) != 0;
      // Bandwidth-efficient: the same bits from bit 10.
      const int bits = std::min((n - 1) * 8, static_cast<int>(pb.size() * 8) - 10);
      for (int b = 0; b < bits; ++b) {
        const int ours = (pb[(10 + b) / 8] >> (7 - (10 + b) % 8)) & 1;
        const int theirs = (storage[1 + b / 8] >> (7 - b % 8)) & 1;
        ASSERT_EQ(ours, theirs) << "mode " << mode << " bit " << b;
      }
    }
    Encoder_Interface_exit(ref);
    EXPECT_EQ(mismatches, 0) << "mode " << mode;
  }
}

TEST(AmrPayload, TheIndependentDecoderPlaysOurPayloadsAsItPlaysItsOwn) {
  AmrEnc enc(33);  // 12.2 octet-aligned
  void* refEnc = Encoder_Interface_init(0);
  void* decOurs = Decoder_Interface_init();
  void* decTheirs = Decoder_Interface_init();
  double energy = 0;
  for (int f = 0; f < 50; ++f) {
    const std::vector<int16_t> pcm = speechLike(f);
    std::vector<uint8_t> p;
    enc.encode(pcm, p);
    unsigned char storage[64];
    Encoder_Interface_Encode(refEnc, MR122, pcm.data(), storage, 0);
    short a[160], b[160];
    Decoder_Interface_Decode(decOurs, p.data() + 1, a, 0);  // storage format: our payload after the request
    Decoder_Interface_Decode(decTheirs, storage, b, 0);
    ASSERT_EQ(std::memcmp(a, b, sizeof(a)), 0) << "frame " << f;
    for (short v : a) energy += double(v) * v;
  }
  EXPECT_GT(energy / (50 * 160), 1e5);  // speech came out, not silence
  Encoder_Interface_exit(refEnc);
  Decoder_Interface_exit(decOurs);
  Decoder_Interface_exit(decTheirs);
}

TEST(AmrModes, RequestsStepThroughTheModeSet) {
  const uint16_t set = 1 << 0 | 1 << 3 | 1 << 7;
  EXPECT_EQ(amrNextMode(0, 7, set, true, 8), 3);
  EXPECT_EQ(amrNextMode(3, 7, set, true, 8), 7);
  EXPECT_EQ(amrNextMode(7, 0, set, true, 8), 3);
  EXPECT_EQ(amrNextMode(0, 5, set, true, 8), 0);  // outside the set: ignored with neighbour stepping
  EXPECT_EQ(amrNextMode(0, 5, set, false, 8), 5);  // taken directly without
  EXPECT_EQ(amrNextMode(0, 9, set, false, 8), 0);  // not a mode
  // Through the encoder: 0 -> 3 -> 7 over two frames, four with the change period.
  for (uint16_t period : {0, 1}) {
    AmrEnc enc(18, AMR_REGS{set, 1, period, 20, 0});
    vocoderAmrModeRequest(enc.mem.data(), 7, false);
    std::vector<int> fts;
    for (int f = 0; f < 5; ++f) {
      std::vector<uint8_t> p;
      enc.encode(speechLike(f), p);
      fts.push_back(amrGetMode(p.data(), false));
    }
    if (period == 0) EXPECT_EQ(fts, (std::vector<int>{3, 7, 7, 7, 7}));
    else EXPECT_EQ(fts, (std::vector<int>{0, 3, 3, 7, 7}));
  }
}

TEST(AmrModes, PacketTimeAndRedundancyAreRounded) {
  EXPECT_EQ(amrPtime(0), 20);
  EXPECT_EQ(amrPtime(250), 240);
  EXPECT_EQ(amrPtime(59), 40);
  EXPECT_EQ(amrRed(200, 100), 40);
  EXPECT_EQ(amrRed(250, 40), 0);
}

TEST(AmrDtx, SilenceGivesSidAndTwoByteNoDataFrames) {
  AmrEnc enc(2 << 8 | 25);
  std::vector<uint8_t> p;
  for (int f = 0; f < 10; ++f) enc.encode(speechLike(f), p);
  int sid = 0, noData = 0;
  for (int f = 0; f < 60; ++f) {
    const int t = enc.encode(std::vector<int16_t>(160, 0), p);
    const unsigned ft = amrGetMode(p.data(), false);
    EXPECT_EQ(t, PVE_ENC_VOICE) << "with DTX every frame is type 1";
    if (ft == 8) {
      ++sid;
      EXPECT_EQ(p.size(), 7u);
    }
    if (ft == 15) {
      ++noData;
      EXPECT_EQ(p.size(), 2u);
    }
  }
  EXPECT_GT(sid, 0);
  EXPECT_GT(noData, 0);
}

TEST(AmrDecode, OurDecoderPlaysOurPayloadsAsTheIndependentDecoderDoes) {
  for (uint16_t code : {25, 33}) {
    AmrEnc enc(code);
    AmrDec dec(code);
    void* ref = Decoder_Interface_init();
    for (int f = 0; f < 30; ++f) {
      std::vector<uint8_t> p;
      enc.encode(speechLike(f), p);
      const std::vector<int16_t> ours = dec.decode(AJC_PKT_VOICE, p);
      if (code == 33) {
        short theirs[160];
        Decoder_Interface_Decode(ref, p.data() + 1, theirs, 0);
        ASSERT_EQ(std::memcmp(ours.data(), theirs, sizeof(theirs)), 0) << "frame " << f;
      }
    }
    Decoder_Interface_exit(ref);
    EXPECT_EQ(dec.pq.freeListp[0], 0) << "every slot freed";
  }
}

TEST(AmrDecode, QualityBitZeroIsABadFrame) {
  AmrEnc enc(33);
  AmrDec good(33), bad(33);
  std::vector<uint8_t> p;
  for (int f = 0; f < 10; ++f) {
    enc.encode(speechLike(f), p);
    good.decode(AJC_PKT_VOICE, p);
    bad.decode(AJC_PKT_VOICE, p);
  }
  enc.encode(speechLike(10), p);
  std::vector<uint8_t> q0 = p;
  q0[1] &= static_cast<uint8_t>(~0x04);
  EXPECT_NE(good.decode(AJC_PKT_VOICE, p), bad.decode(AJC_PKT_VOICE, q0));
}

}  // namespace
