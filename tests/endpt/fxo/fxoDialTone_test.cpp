// An FXO call through the endpoint library, the DSP framework and the virtual board: the line is
// seized, the call-progress tone detector hears the exchange's dial tone, and only then are the
// digits sent; they reach the exchange as DTMF that the independent receiver decodes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "vboard.h"
#include "vosInit.h"
#include "vrgEndpt.h"
#include "vrgEndptClass.h"
#include "vrgEndptConsole.h"
#include "../lineEventLog.h"
#include "../vboardTimeline.h"

namespace {

using namespace std::chrono_literals;

std::string tempPath(const std::string& name) {
  return "/tmp/orvox_fxo_dialtone_" + std::to_string(::getpid()) + "_" + name;
}

const bool kEnvironment = [] {
  ::setenv("ORVOX_BOARD", "fxs=1,fxo=1,dect=0", 1);
  ::setenv("ORVOX_PROFILE_DIR", ORVOX_SOURCE_DIR "/prov/tel_profiles/", 1);
  ::setenv("ORVOX_BOARD_SOCKET", tempPath("board.sock").c_str(), 1);
  return true;
}();

// The caller-ID and FXO control modules replace the library's placeholders: naming them links
// them ahead.
const void* const kModules[] = {reinterpret_cast<const void*>(&ClassIsIdle),
                              reinterpret_cast<const void*>(&ProcessVrgEndptConsoleCmd)};

std::vector<int16_t> readWav(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int16_t> x(bytes.size() > 44 ? (bytes.size() - 44) / 2 : 0);
  if (!x.empty()) std::memcpy(x.data(), bytes.data() + 44, x.size() * 2);
  return x;
}

long long ticks() {
  const std::string s = vboardCommand("board");
  const size_t at = s.find(" ticks=");
  return at == std::string::npos ? -1 : std::atoll(s.c_str() + at + 7);
}

}  // namespace

TEST(FxoDialTone, DigitsGoOutOnlyAfterTheExchangesDialToneWasHeard) {
  ASSERT_TRUE(kEnvironment);
  ASSERT_NE(kModules[0], kModules[1]);
  ASSERT_EQ(vosInit(), VOS_STATUS_OK);
  ENDPT_INIT_CFG cfg{VRG_COUNTRY_NORTH_AMERICA};
  ASSERT_EQ(vrgEndptInit(&cfg, OnEvent, OnPacket, nullptr, nullptr, nullptr, nullptr), EPSTATUS_SUCCESS);
  ENDPT_STATE fxs{}, fxo{};
  ASSERT_EQ(vrgEndptCreate(0, 0, &fxs), EPSTATUS_SUCCESS);
  ASSERT_EQ(vrgEndptCreate(1, 1, &fxo), EPSTATUS_SUCCESS);
  const std::string wav = tempPath("exchange.wav");
  ASSERT_EQ(vboardCommand("1 record " + wav).rfind("OK", 0), 0u);
  const long long recordTick = ticks();
  // Seize the exchange line, then ask for the call: FXO control waits for dial tone, then dials.
  ASSERT_EQ(vrgEndptSignal(&fxs, -1, EPSIG_OFFHOOK, 1, -1, -1, -1), EPSTATUS_SUCCESS);
  const long long seizeTick = ticks();  // at or after the seizure
  static const char kDial[] = "5551234";
  ASSERT_EQ(vrgEndptSignal(&fxs, -1, EPSIG_PSTNCALLSETUP, reinterpret_cast<uintptr_t>(kDial), -1, -1, -1),
            EPSTATUS_SUCCESS);
  EXPECT_TRUE(waitFor(1, EPEVT_OPCOMPLETE, 10000ms));  // dialling complete
  // 200 ms more of the line's audio (40 ticks) so the last digit is whole in the recording.
  const long long doneTick = ticks();
  EXPECT_TRUE(waitOnBoard([&] { return ticks() >= doneTick + 40; }));
  vboardCommand("1 record stop");
  const auto x = readWav(wav);
  ::unlink(wav.c_str());
  dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, nullptr, nullptr);
  dtmf_rx(rx, x.data(), static_cast<int>(x.size()));
  char digits[64] = {};
  dtmf_rx_get(rx, digits, sizeof(digits) - 1);
  dtmf_rx_free(rx);
  EXPECT_STREQ(digits, kDial);
  // The exchange plays dial tone from the seizure on: the first digit follows it by at least the
  // dial-tone minimum of the country's profile (150 ms). One tick is 5 ms of audio.
  size_t first = 0;
  while (first < x.size() && std::abs(int{x[first]}) < 200) ++first;
  const double afterSeizureMs = first / 8.0 - 5.0 * static_cast<double>(seizeTick - recordTick);
  std::printf("first digit %.1f ms of audio after the seizure\n", afterSeizureMs);
  EXPECT_GE(afterSeizureMs, 150.0);
  vrgEndptSignal(&fxs, -1, EPSIG_ONHOOK, 1, -1, -1, -1);
  vrgEndptDeinit();
  ::unlink(tempPath("board.sock").c_str());
}
