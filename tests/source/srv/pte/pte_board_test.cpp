// DTMF detection in a line channel on the virtual board (fast tick): the simulated phone plays
// the independent generator's digits; the channel's digit and tone service reports each once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../../fnc/tone/oracle_tones.h"
#include "../../vexa/hapi_host_util.h"
#include "boardHal.h"
#include "hapi/hapi.h"
#include "pte.h"
#include "vboard.h"
#include "vboardAudio.h"

void BoardHalSsEventCallback(BOARD_HAL_LT_EVENT*) {}

namespace {

using namespace std::chrono_literals;

std::string tempPath(const std::string& name) { return "/tmp/orvox_pte_board_" + std::to_string(::getpid()) + "_" + name; }

const bool kBoardShape = (::setenv("ORVOX_BOARD", "fxs=1,fxo=0,dect=0", 1), ::setenv("ORVOX_TICK", "fast", 1),
                          ::setenv("ORVOX_NO_RT", "1", 0),
                          ::setenv("ORVOX_BOARD_SOCKET", tempPath("board.sock").c_str(), 1), true);

std::string boardCmd(const std::string& text) { return vboardCommand(text); }

long long field(const std::string& status, const std::string& key) {
  const size_t at = status.find(" " + key + "=");
  return at == std::string::npos ? -1 : std::stoll(status.substr(at + key.size() + 2));
}
long long framesHeard() { return field(boardCmd("0 status"), "egressBytes") / 80; }

bool waitFrames(long long frames) {
  const long long target = framesHeard() + frames;
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  while (framesHeard() < target) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

std::vector<uint16_t> digitEvents(uint16_t code) {
  std::lock_guard<std::mutex> guard(vexa_test::events().lock);
  std::vector<uint16_t> out;
  for (const HSZEVT& e : vexa_test::events().list) {
    if (e.hsxevt == code) out.push_back(static_cast<uint16_t>(e.hsxop2.val));
  }
  return out;
}

}  // namespace

TEST(PteBoard, SixteenDigitsFromThePhoneEachReportedOnce) {
  ASSERT_TRUE(kBoardShape);
  const std::string kDigits = "0123456789*#ABCD";
  const std::string wav = tempPath("digits.wav");
  {
    std::vector<int16_t> x(8000, 0);
    const auto d = oracle::dtmf(kDigits, 70, 70, -12);
    x.insert(x.end(), d.begin(), d.end());
    x.resize(x.size() + 16000, 0);
    WavWriter w;
    std::string error;
    ASSERT_TRUE(w.open(wav, 8000, &error)) << error;
    w.write(x.data(), static_cast<int>(x.size()));
  }
  lhapiInit(0);
  ASSERT_EQ(hapiInit(vexa_test::recordEvent, 1), HAPISUCCESS);
  ASSERT_EQ(boardHalInit(VRG_COUNTRY_NORTH_AMERICA), 0);
  boardHalDspRegisterCallback(lhapiKNL_RunReadyThreads);
  ASSERT_TRUE(waitFrames(2));
  ASSERT_EQ(hapiOpen(HAPI_DATA_ACCESS_POINT, vexa_test::recordEvent, 0), 0);
  const uint16_t vhd = hapiOpen(HAPI_LINE_ECAN_VHD, vexa_test::recordEvent, 0);
  ASSERT_EQ(vexa_test::connect(0, HAPI_SWB_TOS, vhd, HAPI_SWB_BOS, HAPI_SWB_DUPLEX), 0);
  HSZCMD enable = vexa_test::stdCmd(vhd, HAPI_PTE_ENABLE_CMD, 1, HAPI_PTE_INGRESSMASK | HAPI_PTE_MODE_DIG_EVT);
  ASSERT_EQ(hapiIOctl(&enable, 0), HAPISUCCESS);
  ASSERT_TRUE(waitFrames(20));
  boardCmd("0 offhook");
  boardCmd("0 play " + wav);
  const auto start = std::chrono::steady_clock::now();
  while (digitEvents(HAPI_PTE_TONE_OFF_EVT).size() < kDigits.size() && std::chrono::steady_clock::now() - start < 60s) {
    ASSERT_TRUE(waitFrames(50));
  }
  boardCmd("0 play silence");
  std::string got;
  for (uint16_t d : digitEvents(HAPI_PTE_TONE_ON_EVT)) got += d < 16 ? kDigits[d] : '?';
  EXPECT_EQ(got.substr(0, kDigits.size()), kDigits);  // the file loops: later rounds may follow
  boardHalDeinit();
  lhapiDeinit();
  ::unlink(wav.c_str());
  ::unlink(tempPath("board.sock").c_str());
}
