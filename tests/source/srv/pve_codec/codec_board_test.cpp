// A gateway channel of the shipped configuration on the virtual board: the phone's tone goes up a
// line channel into the gateway channel, whose codec and RTP services send it to the host as G.711
// RTP that an independent decoder reads back as the tone; RTP the host sends plays out through the
// line channel to the phone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "../../vexa/hapi_host_util.h"
#include "boardHal.h"
#include "hapi/hapi.h"
#include "pve_codec.h"
#include "rm/rm.h"
#include "swb/swb.h"
#include "tone_fit.h"
#include "vboard.h"
#include "vboardAudio.h"

extern "C" {
#include <spandsp.h>
}

void BoardHalSsEventCallback(BOARD_HAL_LT_EVENT*) {}

namespace {

const bool kBoardShape =
    (::setenv("ORVOX_BOARD", "fxs=1,fxo=0,dect=0", 1), ::setenv("ORVOX_TICK", "fast", 1),
     ::setenv("ORVOX_NO_RT", "1", 0),
     ::setenv("ORVOX_BOARD_SOCKET", ("/tmp/orvox_codec_board_" + std::to_string(::getpid()) + ".sock").c_str(), 1),
     true);

std::string tempPath(const std::string& name) { return "/tmp/orvox_codec_board_" + std::to_string(::getpid()) + "_" + name; }

constexpr int kFrame = 40;

int16_t tone(int n) { return static_cast<int16_t>(std::lround(6000 * std::sin(2 * M_PI * 1000.0 * n / 8000.0))); }

struct Host {
  std::mutex lock;
  std::vector<std::vector<uint8_t>> packets;  // RTP packets the channel sent
};
Host& host() {
  static Host h;
  return h;
}

void onEvent(HSZEVT* evt, uint16_t) {
  if (evt->hsxevt != HAPI_NET_INGRESSRTPPKT_EVT || evt->hsxop2.ref == nullptr) return;
  const auto* p = static_cast<const uint8_t*>(evt->hsxop2.ref);
  std::lock_guard<std::mutex> g(host().lock);
  host().packets.emplace_back(p, p + evt->hsxop1);
}

using vexa_test::connect;
using vexa_test::extCmd;
using vexa_test::stdCmd;

std::string board(const std::string& text) { return vboardCommand(text); }

long long framesHeard() {
  const std::string s = board("0 status");
  const size_t at = s.find(" egressBytes=");
  return at == std::string::npos ? -1 : std::stoll(s.substr(at + 13)) / (2 * kFrame);
}

bool waitFrames(long long frames) {
  const long long target = framesHeard() + frames;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (framesHeard() < target) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return true;
}

class CodecOnBoard : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kBoardShape);
    std::vector<int16_t> pcm(2000 * kFrame);
    for (size_t n = 0; n < pcm.size(); ++n) pcm[n] = tone(static_cast<int>(n));
    WavWriter writer;
    std::string error;
    ASSERT_TRUE(writer.open(tempPath("tone.wav"), 8000, &error)) << error;
    writer.write(pcm.data(), static_cast<int>(pcm.size()));
    writer.close();
    lhapiInit(0);
    ASSERT_EQ(hapiInit(onEvent, 1), HAPISUCCESS);
    ASSERT_EQ(boardHalInit(VRG_COUNTRY_GERMANY), 0);
    boardHalDspRegisterCallback(lhapiKNL_RunReadyThreads);
    ASSERT_TRUE(waitFrames(2));
  }
  void TearDown() override {
    boardHalDeinit();
    board("0 play silence");
    lhapiDeinit();
    ::unlink(vboardSocketPath().c_str());
    ::unlink(tempPath("tone.wav").c_str());
    ::unlink(tempPath("heard.wav").c_str());
  }
};

TEST_F(CodecOnBoard, G711ToneLeavesAsRtpAndRtpPlaysOnTheLine) {
  for (auto [code, interval] : {std::pair<uint16_t, uint16_t>{HAPI_PKT_VC_G711_ULAW, 80}, {HAPI_PKT_VC_G711_ULAW, 160},
                                {HAPI_PKT_VC_G711_ULAW, 240}, {HAPI_PKT_VC_G711_ALAW, 80},
                                {HAPI_PKT_VC_G711_ALAW, 160}, {HAPI_PKT_VC_G711_ALAW, 240}}) {
    SCOPED_TRACE(std::string(code ? "A-law " : "mu-law ") + std::to_string(interval / 8) + " ms");
    ASSERT_EQ(hapiOpen(HAPI_DATA_ACCESS_POINT, onEvent, 0), 0);
    const uint16_t line = hapiOpen(HAPI_LINE_ECAN_VHD, onEvent, 0);
    const uint16_t gw = hapiOpen(HAPI_GATEWAY_VHD, onEvent, 0);
    ASSERT_NE(line, 0xFFFF);
    ASSERT_NE(gw, 0xFFFF);
    HSZCMD c = stdCmd(line, HSF_MKHDR(HAPI_HEC_SRV, HAPI_OPC_ENABLE_CMD), 0, 0);
    hapiIOctl(&c, 0);
    ASSERT_EQ(connect(0, HAPI_SWB_TOS, line, HAPI_SWB_BOS, HAPI_SWB_DUPLEX), 0);
    ASSERT_EQ(connect(line, HAPI_SWB_TOS, gw, HAPI_SWB_BOS, HAPI_SWB_DUPLEX), 0);
    // As the endpoint drives a connection: the channel's root service into voice, then the codec.
    // The call discriminator stays off: the test tone must not switch the channel to data.
    constexpr uint16_t kNetSetReg1 = 0x3099, kNetOptionsOffset = 6, kNetOptionsWithoutCdis = 0x5B & ~0x1;
    constexpr uint16_t kNetSetMode = 0x3085, kNetSetVoiceRate = 0x3088, kVoiceMode = 2;
    for (auto [cmd, op1, op2] : {std::tuple<uint16_t, uint16_t, uint16_t>{kNetSetReg1, kNetOptionsOffset, kNetOptionsWithoutCdis},
                                 {kNetSetMode, kVoiceMode, 0},
                                 {kNetSetVoiceRate, code, interval}}) {
      c = stdCmd(gw, cmd, op1, op2);
      ASSERT_EQ(hapiIOctl(&c, 0), 0) << std::hex << cmd;
      ASSERT_TRUE(waitFrames(10));  // the mode's own encoder settles first
    }
    {
      std::lock_guard<std::mutex> g(host().lock);
      host().packets.clear();  // what the mode's own encoder sent before the requested one
    }
    board("0 play " + tempPath("tone.wav"));
    ASSERT_TRUE(waitFrames(200));
    std::vector<std::vector<uint8_t>> packets;
    {
      std::lock_guard<std::mutex> g(host().lock);
      packets.swap(host().packets);
    }
    // Line to network: RTP packets of the law's codes, one packet time each.
    const uint8_t payloadType = code == HAPI_PKT_VC_G711_ALAW ? 8 : 0;
    std::vector<uint8_t> codes;
    size_t voice = 0;
    for (const std::vector<uint8_t>& p : packets) {
      ASSERT_GE(p.size(), 12u);
      ASSERT_EQ(p[0] >> 6, 2) << "RTP version";
      // The mode's generic VAD sends comfort-noise packets until the tone starts.
      if ((p[1] & 0x7F) != payloadType) continue;
      ++voice;
      const size_t header = 12 + 4 * (p[0] & 15);
      ASSERT_EQ(p.size(), header + interval);
      codes.insert(codes.end(), p.begin() + static_cast<long>(header), p.end());
    }
    ASSERT_GT(voice, 8000u / interval * 200 / 400);  // of 200 ticks, the first ones may be silence
    std::vector<int16_t> decoded(codes.size());
    g711_state_t* s = g711_init(nullptr, code ? G711_ALAW : G711_ULAW);
    g711_decode(s, decoded.data(), codes.data(), static_cast<int>(codes.size()));
    // Network to line: a second of the same law's tone, sent at once; the jitter buffer plays it.
    std::vector<int16_t> pcm(8000);
    for (size_t n = 0; n < pcm.size(); ++n) pcm[n] = tone(static_cast<int>(n));
    std::vector<uint8_t> out(pcm.size());
    g711_encode(s, out.data(), pcm.data(), static_cast<int>(pcm.size()));
    g711_free(s);
    EXPECT_GT(tonefit::toneSnrDb(decoded, 1000, decoded.size() - 2400, 2000), 30);
    board("0 play silence");
    board("0 record " + tempPath("heard.wav"));
    // The whole second is queued before the next tick runs, so no frame is late.
    boardHalDspTaskHalt();
    std::vector<std::vector<uint8_t>> rtp;
    for (int k = 0; k < 8000 / interval; ++k) {
      const uint32_t ts = 1000u + static_cast<uint32_t>(interval * k);
      std::vector<uint8_t> p = {0x80, payloadType, static_cast<uint8_t>(k >> 8), static_cast<uint8_t>(k),
                                static_cast<uint8_t>(ts >> 24), static_cast<uint8_t>(ts >> 16), static_cast<uint8_t>(ts >> 8),
                                static_cast<uint8_t>(ts), 0x12, 0x34, 0x56, 0x78};
      p.insert(p.end(), out.begin() + interval * k, out.begin() + interval * (k + 1));
      rtp.push_back(std::move(p));
    }
    for (std::vector<uint8_t>& p : rtp) {
      c = extCmd(gw, HAPI_NET_EGRESSRTPPKT_CMD, p.data(), static_cast<uint16_t>(p.size()));
      ASSERT_EQ(hapiAsyncIOctl(&c, 0), 0);
    }
    boardHalDspTaskResume();
    ASSERT_TRUE(waitFrames(260));
    board("0 record stop");
    WavReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(tempPath("heard.wav"), &error)) << error;
    const auto bytes = std::filesystem::file_size(tempPath("heard.wav"));
    std::vector<int16_t> heard(bytes > 44 ? (bytes - 44) / 2 : 0);
    reader.read(heard.data(), static_cast<int>(heard.size()));
    size_t start = 0;
    while (start < heard.size() && std::abs(heard[start]) < 100) ++start;
    ASSERT_LT(start + 6000, heard.size()) << "the packets did not play";
    EXPECT_GT(tonefit::toneSnrDb(std::vector<int16_t>(heard.begin() + start, heard.end()), 1000, 400, 5000), 25);
    hapiClose(gw, 0);
    hapiClose(line, 0);
    hapiClose(0, 0);
  }
}

}  // namespace
