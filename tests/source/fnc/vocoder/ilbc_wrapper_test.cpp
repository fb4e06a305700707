// The iLBC wrapper: its payloads read by libavcodec's independent decoder, the frame classes of
// the release record.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "ilbc_avcodec.h"
#include "voc_dec_store.h"
#include "vocoder.h"

namespace {

std::vector<int16_t> tone(int n, int offset) {
  std::vector<int16_t> v(n);
  for (int i = 0; i < n; ++i) v[i] = static_cast<int16_t>(7000 * std::sin(2 * M_PI * 450.0 * (i + offset) / 8000));
  return v;
}

double snrDb(const std::vector<int16_t>& ref, const std::vector<int16_t>& got, size_t from) {
  double s = 0, e = 0;
  for (size_t i = from; i < ref.size() && i < got.size(); ++i) {
    s += double(ref[i]) * ref[i];
    e += (double(got[i]) - ref[i]) * (double(got[i]) - ref[i]);
  }
  return 10 * std::log10(s / (e + 1e-9));
}

// Our encoder, and our decoder behind a payload store.
struct Bench : VocDecStore {
  std::vector<uint64_t> enc = std::vector<uint64_t>(4096);
  int n;
  explicit Bench(uint16_t c) : VocDecStore(hsgvocoders[hsgpvealg[c]], c, 56, 4096), n(c == 15 ? 240 : 160) {
    configure();
    v->encinitcfgfnc(enc.data(), &regs, code, 1);
  }
  std::vector<uint16_t> encode(std::vector<int16_t> pcm, uint16_t& bytes) {
    std::vector<uint16_t> words(32, 0);
    EXPECT_EQ(v->encfnc(enc.data(), pcm.data(), words.data(), 0, &bytes), PVE_ENC_VOICE);
    return words;
  }
  AJC_PKT_HDR file(uint8_t cls, const std::vector<uint16_t>& words, uint16_t bytes) {
    return VocDecStore::file(cls, words.data(), 28, bytes);  // a whole 56-byte slot
  }
  std::vector<int16_t> decode(AJC_PVEDEC_INT r) { return VocDecStore::decode(r, n); }
};

std::vector<uint8_t> octets(const std::vector<uint16_t>& w, int n) {
  std::vector<uint8_t> b(n);
  for (int i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i % 2 ? w[i / 2] : w[i / 2] >> 8);
  return b;
}

TEST(VocoderIlbc, PayloadsPlayInTheIndependentDecoder) {
  for (uint16_t code : {14, 15}) {
    Bench b(code);
    ilbc_test::AvIlbcDecoder av(code == 15 ? 30 : 20);
    ASSERT_TRUE(av.ok());
    std::vector<int16_t> in, theirs;
    for (int f = 0; f < 40; ++f) {
      const std::vector<int16_t> pcm = tone(b.n, b.n * f);
      uint16_t bytes = 0;
      const std::vector<uint16_t> p = b.encode(pcm, bytes);
      ASSERT_EQ(bytes, code == 15 ? 50 : 38);
      std::vector<int16_t> out(b.n);
      ASSERT_TRUE(av.decode(octets(p, bytes), out.data()));
      in.insert(in.end(), pcm.begin(), pcm.end());
      theirs.insert(theirs.end(), out.begin(), out.end());
    }
    // iLBC keeps the waveform only roughly; a payload read in the wrong order would not even do that.
    EXPECT_GT(snrDb(in, theirs, 4 * b.n), 5) << "code " << code;
  }
}

TEST(VocoderIlbc, DoubleDecodePlaysTheSecondAndARepeatConceals) {
  Bench b(14);
  std::vector<std::vector<uint16_t>> p;
  uint16_t bytes = 0;
  for (int f = 0; f < 12; ++f) p.push_back(b.encode(tone(160, 160 * f), bytes));
  for (int f = 0; f < 10; ++f) {
    AJC_PVEDEC_INT r{};
    r.currPkt[0] = b.file(AJC_PKT_VOICE, p[f], bytes);
    r.numCurrPkt = 1;
    b.decode(r);
  }
  Bench ref(14);
  for (int f = 0; f < 12; ++f) {
    if (f == 10) continue;  // the reference skips the deleted frame
    AJC_PVEDEC_INT r{};
    r.currPkt[0] = ref.file(AJC_PKT_VOICE, p[f], bytes);
    r.numCurrPkt = 1;
    const std::vector<int16_t> expect = ref.decode(r);
    if (f == 11) {
      AJC_PVEDEC_INT dd{};
      dd.currPkt[0] = b.file(AJC_PKT_DOUBLE_DECODE, p[10], bytes);
      dd.currPkt[1] = b.file(AJC_PKT_VOICE, p[11], bytes);
      dd.numCurrPkt = 2;
      EXPECT_EQ(b.decode(dd), expect);
      EXPECT_EQ(b.pq.freeListp[0], 0) << "both slots freed";
    } else if (f < 10) {
      (void)expect;
    }
  }
  AJC_PVEDEC_INT lost{};
  lost.currPkt[0].payloadID = AJC_PKT_FRAME_REPEAT << 8;
  lost.numCurrPkt = 1;
  const std::vector<int16_t> concealed = b.decode(lost);
  double energy = 0;
  for (int16_t s : concealed) energy += double(s) * s;
  EXPECT_GT(energy, 160.0 * 1000 * 1000);
}

}  // namespace
