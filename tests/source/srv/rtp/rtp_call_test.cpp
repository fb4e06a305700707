// A call through the real codec service and the RTP service: a tone on the line leaves as RTP that
// an independent dissector reads as a clean stream and an independent decoder hears as the tone;
// the same RTP fed back in plays the tone on the line. G.711 and G.726 in both code-word orders.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

extern "C" {
#include <spandsp.h>
}

#include "rtp_harness.h"
#include "tone_fit.h"
#include "wire_check.h"

namespace {

using namespace rtptest;

// Codec service commands (its own header shares names with ours).
constexpr uint16_t kCodecEnable = 0x02B0;
constexpr uint16_t kCodecSetVoiceRate = 0x0281;
constexpr uint16_t kCodecEncStart = 0x0280;

int16_t tone1k(uint64_t n) { return static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000.0 * n / 8000)); }

struct Case {
  const char* name;
  uint8_t code;
  uint8_t payloadType;
  bool annexE;
};

class RtpCallTest : public RtpTest, public ::testing::WithParamInterface<Case> {
 protected:
  RtpCallTest() { realCodec_ = true; }
};

std::vector<int16_t> decodeIndependently(const Case& c, const std::vector<uint8_t>& stream) {
  std::vector<int16_t> pcm(stream.size() * 2 + 16);
  int n = 0;
  if (c.code <= 1) {
    g711_state_t* s = g711_init(nullptr, c.code == 1 ? G711_ALAW : G711_ULAW);
    n = g711_decode(s, pcm.data(), stream.data(), static_cast<int>(stream.size()));
    g711_free(s);
  } else {
    g726_state_t* s =
        g726_init(nullptr, 32000, G726_ENCODING_LINEAR, c.annexE ? G726_PACKING_LEFT : G726_PACKING_RIGHT);
    n = g726_decode(s, pcm.data(), stream.data(), static_cast<int>(stream.size()));
    g726_free(s);
  }
  pcm.resize(static_cast<size_t>(n));
  return pcm;
}

TEST_P(RtpCallTest, ToneCrossesTheNetworkBothWays) {
  const Case c = GetParam();
  if (c.annexE) setRegs2(4 | HAPI_RTP_G726_ANNEX_E_ENABLE_MASK);
  world().signal = tone1k;
  startSession();
  ASSERT_EQ(command(kCodecEnable, 1, 0).result, HAPISUCCESS);
  ASSERT_EQ(command(kCodecSetVoiceRate, c.code, 160).result, HAPISUCCESS);
  ASSERT_EQ(command(kCodecEncStart, 1, 0).result, HAPISUCCESS);
  tick(4);
  clear();
  tick(200);  // two seconds
  const auto sent = sentRtp();
  ASSERT_GE(sent.size(), 95u);
  std::vector<uint8_t> stream;
  for (size_t k = 0; k < sent.size(); ++k) {
    ASSERT_EQ(sent[k][1] & 0x7F, c.payloadType);
    if (k > 0) {
      EXPECT_EQ(
          static_cast<uint16_t>((sent[k][2] << 8 | sent[k][3]) - (sent[k - 1][2] << 8 | sent[k - 1][3])), 1);
    }
    stream.insert(stream.end(), sent[k].begin() + 12, sent[k].end());
  }
  // An independent decoder hears the tone in what went out.
  const std::vector<int16_t> heard = decodeIndependently(c, stream);
  EXPECT_GT(tonefit::toneSnrDb(heard, 1000, 800, 8000), c.code <= 1 ? 40 : 25) << c.name;

  if (tsharkAvailable()) {
    const std::string path = tempPath(std::string(c.name) + ".pcap");
    writeCapture(path, sent, 5004);
    const Dissection d = dissect(path, "-d udp.port==5004,rtp", {"rtp.p_type", "rtp.seq", "rtp.timestamp"});
    EXPECT_EQ(d.frames, static_cast<int>(sent.size()));
    EXPECT_EQ(d.malformed, 0);
    for (size_t k = 1; k < d.rows.size(); ++k) {
      EXPECT_EQ(std::stoul(d.rows[k][2]) - std::stoul(d.rows[k - 1][2]), 160u) << k;
    }
    std::remove(path.c_str());
  }

  // The same packets back from the far end play the tone on the line.
  world().signal = nullptr;
  world().played.clear();
  for (const auto& p : sent) {
    std::vector<uint8_t> in = p;
    in[8] = 0x0F;  // the far end's own source
    receive(in);
    tick(2);
  }
  tick(20);
  const std::vector<int16_t>& out = world().played;
  ASSERT_GT(out.size(), 12000u);
  size_t start = 0;
  while (start < out.size() && std::abs(out[start]) < 1000) ++start;
  ASSERT_LT(start + 10000, out.size());
  // The first packet fed back is not the encoder's first: an adaptive decoder needs a moment.
  EXPECT_GT(tonefit::toneSnrDb(out, 1000, start + 2000, 8000), c.code <= 1 ? 40 : 25) << c.name;
  if (!tsharkAvailable()) GTEST_SKIP() << "tshark not installed: the packets were not dissected";
}

INSTANTIATE_TEST_SUITE_P(Codecs, RtpCallTest,
                         ::testing::Values(Case{"ulaw", 0, 0, false}, Case{"alaw", 1, 8, false},
                                           Case{"g726_32", 4, 115, false},
                                           Case{"g726_32_annexE", 4, 115, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
