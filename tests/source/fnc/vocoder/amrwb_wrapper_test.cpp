// The AMR-WB wrapper: payload bits against the independent encoder's storage format for the same
// input, the independent decoder on our payloads next to our own decoder, SID frames with DTX.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "amr_wrapper_harness.h"
#include "voc_amr.h"
#include "vocoder.h"

extern "C" {
#include <opencore-amrwb/dec_if.h>
#include <vo-amrwbenc/enc_if.h>
}

namespace {

constexpr const AmrFamilyUnderTest& kWb = kAmrWbUnderTest;

struct Enc : AmrWrapEnc {
  explicit Enc(uint16_t algorithm) : AmrWrapEnc(kWb, algorithm) {}
};
struct Dec : AmrWrapDec {
  explicit Dec(uint16_t code) : AmrWrapDec(kWb, code) {}
  std::vector<int16_t> decode(const std::vector<uint8_t>& payload) { return AmrWrapDec::decode(AJC_PKT_VOICE, payload); }
};

// The independent decoder clears the two low bits of its 14-bit output; ours leaves them.
bool sameBut2Lsbs(const std::vector<int16_t>& ours, const short* theirs) {
  for (int i = 0; i < 320; ++i) {
    if ((ours[i] & ~3) != theirs[i]) return false;
  }
  return true;
}

std::vector<int16_t> speechLike(int frame) { return amrSpeechLike(kWb, frame); }

// The independent encoder's frames, given to our decoder wrapper (our payload is the storage
// frame behind a request byte) and to the independent decoder, play sample for sample alike: our
// payload bit order is the standard's.
TEST(AmrWbPayload, IndependentFramesPlayInOurDecoderAsInTheIndependentOne) {
  for (int mode = 0; mode < 9; ++mode) {
    const uint16_t code = static_cast<uint16_t>(59 + mode);
    void* enc = E_IF_init();
    void* ref = D_IF_init();
    Dec dec(code);
    for (int f = 0; f < 20; ++f) {
      unsigned char storage[64];
      const int n = E_IF_encode(enc, mode, speechLike(f).data(), storage, 0);
      std::vector<uint8_t> payload(static_cast<size_t>(n) + 1, 0xF0);
      std::memcpy(payload.data() + 1, storage, static_cast<size_t>(n));
      short theirs[320];
      D_IF_decode(ref, storage, theirs, 0);
      const std::vector<int16_t> ours = dec.decode(payload);
      ASSERT_TRUE(sameBut2Lsbs(ours, theirs)) << "mode " << mode << " frame " << f;
    }
    E_IF_exit(enc);
    D_IF_exit(ref);
  }
}

// Our encoder's payloads in both framings carry the same speech bits, and the independent
// decoder plays them as our decoder does.
TEST(AmrWbPayload, OurPayloadsInBothFramingsAndTheIndependentDecoder) {
  for (int mode : {0, 2, 4, 8}) {
    Enc oa(static_cast<uint16_t>(59 + mode)), be(static_cast<uint16_t>(50 + mode));
    Dec dec(static_cast<uint16_t>(59 + mode));
    void* ref = D_IF_init();
    for (int f = 0; f < 20; ++f) {
      std::vector<uint8_t> po, pb;
      ASSERT_EQ(oa.encode(speechLike(f), po), PVE_ENC_VOICE);
      ASSERT_EQ(be.encode(speechLike(f), pb), PVE_ENC_VOICE);
      const int bits = static_cast<int>(amrGetModeBits(mode, true, false));
      for (int b = 0; b < bits; ++b) {
        ASSERT_EQ((po[2 + b / 8] >> (7 - b % 8)) & 1, (pb[(10 + b) / 8] >> (7 - (10 + b) % 8)) & 1) << "bit " << b;
      }
      short theirs[320];
      D_IF_decode(ref, po.data() + 1, theirs, 0);
      const std::vector<int16_t> ours = dec.decode(po);
      ASSERT_TRUE(sameBut2Lsbs(ours, theirs)) << "mode " << mode << " frame " << f;
    }
    D_IF_exit(ref);
  }
}

// Speech with pauses of low noise at 23.85 kbit/s with DTX: the pauses give SID frames with the
// mode indication and no-data frames, and the independent decoder plays the whole stream, comfort
// noise included, as our decoder wrapper does (comfort noise is made in the last speech mode).
TEST(AmrWbDtx, PausesGiveSidFramesWhoseComfortNoisePlaysAsInTheIndependentDecoder) {
  Enc enc(2 << 8 | 67);
  Dec dec(67);
  void* ref = D_IF_init();
  uint32_t seed = 12345;
  int sid = 0, noData = 0;
  for (int f = 0; f < 300; ++f) {
    std::vector<int16_t> pcm = speechLike(f);
    if (f % 100 >= 30) {
      for (int16_t& s : pcm) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<int16_t>(static_cast<int>(seed >> 23) - 256);
      }
    }
    std::vector<uint8_t> p;
    ASSERT_EQ(enc.encode(pcm, p), PVE_ENC_VOICE);
    const unsigned ft = amrGetMode(p.data(), true);
    if (ft == 9) {
      ++sid;
      ASSERT_EQ(p.size(), 7u);
      // After the request byte, the table entry, the 35 SID bits and the STI bit: the mode, 8
      // (1000), most significant bit first.
      const unsigned bit = 16 + 36;
      unsigned mode = 0;
      for (unsigned b = 0; b < 4; ++b) mode = mode << 1 | ((p[(bit + b) / 8] >> (7 - (bit + b) % 8)) & 1);
      ASSERT_EQ(mode, 8u);
    }
    noData += ft == 15;
    short theirs[320];
    D_IF_decode(ref, p.data() + 1, theirs, 0);
    const std::vector<int16_t> ours = dec.decode(p);
    ASSERT_TRUE(sameBut2Lsbs(ours, theirs)) << "frame " << f << " type " << ft;
  }
  D_IF_exit(ref);
  EXPECT_GT(sid, 6);
  EXPECT_GT(noData, 60);
}

}  // namespace
