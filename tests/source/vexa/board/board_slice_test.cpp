// The DSP framework driven by the board layer's "HTSK" tick on the virtual board: a host thread
// opens a line channel while the tick runs, talks to the resource manager and the channel, and a
// tone played by the simulated phone on line 0 goes up the channel's line side, turns round on its
// network side and is heard back by the phone.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../hapi_host_util.h"
#include "../vexa_test_util.h"
#include "boardHal.h"
#include "hapi/hapi.h"
#include "rm/rm.h"
#include "swb/swb.h"
#include "vboard.h"
#include "vboardAudio.h"

// The endpoint library's receiver of line-test results: no line test runs here.
void BoardHalSsEventCallback(BOARD_HAL_LT_EVENT*) {}

namespace {

// One phone, narrowband, ticks back to back; the board reads this when it is first opened.
const bool kBoardShape =
    (::setenv("ORVOX_BOARD", "fxs=1,fxo=0,dect=0", 1), ::setenv("ORVOX_TICK", "fast", 1),
     ::setenv("ORVOX_NO_RT", "1", 0),
     ::setenv("ORVOX_BOARD_SOCKET",
              ("/tmp/orvox_slice_test_" + std::to_string(::getpid()) + ".sock").c_str(), 1),
     true);

std::string tempPath(const std::string& name) {
  return "/tmp/orvox_slice_" + std::to_string(::getpid()) + "_" + name;
}

class RemoveFiles : public ::testing::Environment {
 public:
  void TearDown() override {
    ::unlink(vboardSocketPath().c_str());
    ::unlink(tempPath("tone.wav").c_str());
    ::unlink(tempPath("heard.wav").c_str());
  }
};
const auto* kRemoveFiles = ::testing::AddGlobalTestEnvironment(new RemoveFiles);

constexpr int kFrame = 40;           // samples per tick on a narrowband line
constexpr int kToneTicks = 2200;     // length of the phone's tone file
constexpr int kMaxLatencyTicks = 20;

// A 1 kHz tone whose level steps every tick, so that a frame lost, repeated or shifted shows in
// the samples; the phone plays it from a file.
int16_t toneSample(int n) {
  const double amplitude = 2000 + (n / kFrame % 97) * 150;
  return static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * 1000.0 * n / 8000.0)));
}

void writeToneFile() {
  std::vector<int16_t> tone(kToneTicks * kFrame);
  for (size_t n = 0; n < tone.size(); ++n) tone[n] = toneSample(static_cast<int>(n));
  WavWriter writer;
  std::string error;
  ASSERT_TRUE(writer.open(tempPath("tone.wav"), 8000, &error)) << error;
  writer.write(tone.data(), static_cast<int>(tone.size()));
}

// ---- the board, through its control commands ----

std::string command(const std::string& text) {
  const std::string answer = vboardCommand(text);
  EXPECT_EQ(answer.rfind("OK", 0), 0u) << text << ": " << answer;
  return answer;
}

long long field(const std::string& status, const std::string& key) {
  const size_t at = status.find(" " + key + "=");
  if (at == std::string::npos) return -1;
  return std::stoll(status.substr(at + key.size() + 2));
}

long long boardTicks() { return field(command("board"), "ticks"); }
long long framesHeard() { return field(command("0 status"), "egressBytes") / (2 * kFrame); }

// Waits (bounded, so that a stalled tick fails the test rather than hanging it) until the
// phone has been sent `frames` more frames.
bool waitFrames(long long frames) {
  const long long target = framesHeard() + frames;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (framesHeard() < target) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(500));
  }
  return true;
}

// Stops the tick task running the framework and waits until a frame it was handling is done:
// the task takes two more ticks only after leaving its handler.
void haltTicks() {
  boardHalDspTaskHalt();
  const long long seen = boardTicks();
  while (boardTicks() < seen + 2) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// Everything the phone heard while recording.
std::vector<int16_t> readHeard() {
  const std::string path = tempPath("heard.wav");
  WavReader reader;
  std::string error;
  EXPECT_TRUE(reader.open(path, &error)) << error;
  const auto bytes = std::filesystem::file_size(path);
  std::vector<int16_t> heard(bytes > 44 ? (bytes - 44) / 2 : 0);
  reader.read(heard.data(), static_cast<int>(heard.size()));
  return heard;
}

// The phone starts its tone file and its recording on the same tick, then listens for `ticks`
// ticks. Returns what it heard.
std::vector<int16_t> playAndListen(int ticks) {
  haltTicks();
  command("0 play " + tempPath("tone.wav"));
  command("0 record " + tempPath("heard.wav"));
  boardHalDspTaskResume();
  EXPECT_TRUE(waitFrames(ticks));
  command("0 record stop");
  return readHeard();
}

// The latency in samples of a recording made by playAndListen: the tone's first sample is 0,
// its second is not.
int toneOnset(const std::vector<int16_t>& heard) {
  for (size_t i = 0; i < heard.size(); ++i) {
    if (heard[i] != 0) return static_cast<int>(i) - 1;
  }
  return -1;
}

// Compares the first `ticks` frames of the recording with silence for `latency` samples and then
// the tone; reports the first difference.
::testing::AssertionResult toneDelayedBy(const std::vector<int16_t>& heard, int latency, int ticks) {
  const size_t count = static_cast<size_t>(ticks) * kFrame;
  if (heard.size() < count) {
    return ::testing::AssertionFailure() << "only " << heard.size() << " samples heard";
  }
  for (size_t i = 0; i < count; ++i) {
    const int n = static_cast<int>(i) - latency;
    const int16_t expected = n < 0 ? 0 : toneSample(n % (kToneTicks * kFrame));
    if (heard[i] != expected) {
      return ::testing::AssertionFailure()
             << "sample " << i << " (tick " << i / kFrame << "): heard " << heard[i] << ", sent "
             << expected << " " << latency << " samples earlier";
    }
  }
  return ::testing::AssertionSuccess();
}

// ---- the host side ----

using vexa_test::connect;
using vexa_test::events;
using vexa_test::extCmd;
using vexa_test::recordEvent;
using vexa_test::stdCmd;

int countEvents(uint16_t code) {
  std::lock_guard<std::mutex> guard(events().lock);
  int n = 0;
  for (const HSZEVT& e : events().list) n += e.hsxevt == code;
  return n;
}

HAPIRESULT processing(uint16_t vhd, uint16_t onOff) {
  HSZCMD c = stdCmd(HAPIRESMAN, HAPI_RM_PROC_ONOFF_CMD, vhd, onOff);
  return hapiIOctl(&c, 0);
}

int switchboardEntriesOf(uint16_t handle) {
  LhapiLockGuard lock;
  int n = 0;
  for (unsigned i = 0; i < SWB_gConnectionList.portsUsed; ++i) {
    n += SWB_gConnectionList.list[i].handle == handle;
  }
  return n;
}

// Pool and heap counts with the tick halted, so that no block is in flight.
vexa_test::PoolCounts countsAtRest() {
  haltTicks();
  vexa_test::PoolCounts counts;
  {
    LhapiLockGuard lock;
    counts = vexa_test::poolCounts();
  }
  boardHalDspTaskResume();
  return counts;
}

class BoardSlice : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kBoardShape);
    writeToneFile();
    lhapiInit(0);
    {
      std::lock_guard<std::mutex> guard(events().lock);
      events().list.clear();
    }
    ASSERT_EQ(hapiInit(recordEvent, 1), HAPISUCCESS);
    ASSERT_EQ(boardHalInit(VRG_COUNTRY_GERMANY), 0);
    ASSERT_EQ(boardHalGetNumEndpoints(), 1);
    boardHalDspRegisterCallback(lhapiKNL_RunReadyThreads);
    ASSERT_TRUE(waitFrames(2));
  }

  // The board stops as the library stops it: with the framework still running on its tick.
  void TearDown() override {
    boardHalDeinit();
    command("0 play silence");
    lhapiDeinit();
  }
};

TEST_F(BoardSlice, LineChannelCarriesThePhonesToneRoundItsNetworkSideAndCloses) {
  ASSERT_EQ(hapiOpen(HAPI_DATA_ACCESS_POINT, recordEvent, 0), 0);  // hardware port 0
  const vexa_test::PoolCounts start = countsAtRest();

  // Opened from this host thread while the board ticks.
  const uint16_t vhd = hapiOpen(HAPI_LINE_ECAN_VHD, recordEvent, 0);
  ASSERT_EQ(vhd, HAPIVHD0);

  // A round trip to the resource manager.
  DSPBUFSTATS stats{};
  stats.dspNumber = 3;
  HSZCMD statsCmd = extCmd(HAPIRESMAN, HAPI_RM_GET_DSP_BUFSTATS_CMD, &stats, sizeof(stats));
  ASSERT_EQ(hapiIOctl(&statsCmd, 0), 0);
  EXPECT_EQ(stats.dspNumber, 3);
  EXPECT_GT(stats.hapiMsgBufPoolnumFree, 0);
  EXPECT_LE(stats.hapiMsgBufPoolnumFree, QRN_MSG_POOL_BLOCKS);
  EXPECT_LE(stats.hapiMsgBufPoollowWater, stats.hapiMsgBufPoolnumFree);
  EXPECT_GT(stats.hapiExtDataBufPoolnumFree, 0);
  EXPECT_LE(stats.hapiExtDataBufPoolnumFree, QRN_EXT_POOL_BLOCKS);
  EXPECT_LE(stats.hapiExtDataBufPoollowWater, stats.hapiExtDataBufPoolnumFree);

  // For a sample-exact round trip the echo canceller is bypassed and the line's high-pass
  // switched off; both answer at once (a time-out would give HAPIFAILURE after 2 s).
  HSZCMD ecanCmd = stdCmd(vhd, HSF_MKHDR(HAPI_HEC_SRV, HAPI_OPC_ENABLE_CMD), 0, 0);
  EXPECT_EQ(hapiIOctl(&ecanCmd, 0), 0);
  HSZCMD hpfCmd = stdCmd(vhd, HSF_MKCMD_STD(HAPI_LINE_SRV, 0), 0, 0);
  EXPECT_EQ(hapiIOctl(&hpfCmd, 0), 0);

  // Port 0 <-> the channel's line side; its network side turned back onto itself.
  ASSERT_EQ(connect(0, HAPI_SWB_TOS, vhd, HAPI_SWB_BOS, HAPI_SWB_DUPLEX), 0);
  ASSERT_EQ(connect(vhd, HAPI_SWB_TOS, vhd, HAPI_SWB_TOS, HAPI_SWB_SIMPLEX), 0);
  ASSERT_TRUE(waitFrames(20));

  // 2000 ticks of the tone come back sample for sample, a whole number of ticks late.
  const int underrunsBefore = countEvents(HAPI_RM_HAL_UNDERRUN_EVT);
  const std::vector<int16_t> heard = playAndListen(2000 + kMaxLatencyTicks);
  const int latency = toneOnset(heard);
  ASSERT_GE(latency, 0) << "the tone did not come back";
  EXPECT_EQ(latency % kFrame, 0) << latency;
  EXPECT_LE(latency, kMaxLatencyTicks * kFrame);
  EXPECT_TRUE(toneDelayedBy(heard, latency, 2000 + latency / kFrame));
  EXPECT_EQ(countEvents(HAPI_RM_HAL_UNDERRUN_EVT), underrunsBefore);
  EXPECT_EQ(countEvents(HAPI_RM_KNL_OVERRUN_EVT), 0);

  // Suspending the channel's egress: one underrun report and silence, for as long as it lasts;
  // what the network side keeps sending it does not pile up meanwhile.
  ASSERT_EQ(processing(vhd, 0x0200), 0);
  ASSERT_TRUE(waitFrames(20));
  const vexa_test::PoolCounts suspended = countsAtRest();
  command("0 record " + tempPath("heard.wav"));
  ASSERT_TRUE(waitFrames(200));
  command("0 record stop");
  const std::vector<int16_t> silence = readHeard();
  ASSERT_GE(silence.size(), 200u * kFrame);
  for (size_t i = 0; i < silence.size(); ++i) ASSERT_EQ(silence[i], 0) << i;
  EXPECT_EQ(countEvents(HAPI_RM_HAL_UNDERRUN_EVT), underrunsBefore + 1);
  // At rest the ingress side may hold half of its 10 ms frame: one block either way.
  const vexa_test::PoolCounts later = countsAtRest();
  EXPECT_LE(std::abs(later.msgFree - suspended.msgFree), 1);
  EXPECT_LE(std::abs(later.extFree - suspended.extFree), 1);
  EXPECT_EQ(later.heapFreeBytes, suspended.heapFreeBytes);

  // Resumed, the channel brings the tone back. Its 10 ms frames restart on whichever tick the
  // command lands, so the latency may differ from before by a tick; it must hold steady again.
  ASSERT_EQ(processing(vhd, 0x0201), 0);
  command("0 play silence");
  ASSERT_TRUE(waitFrames(kMaxLatencyTicks));
  const std::vector<int16_t> again = playAndListen(400 + kMaxLatencyTicks);
  const int latencyAgain = toneOnset(again);
  ASSERT_GE(latencyAgain, 0) << "the tone did not come back";
  EXPECT_EQ(latencyAgain % kFrame, 0) << latencyAgain;
  EXPECT_LE(std::abs(latencyAgain - latency), kFrame);
  EXPECT_TRUE(toneDelayedBy(again, latencyAgain, 400 + latencyAgain / kFrame));
  EXPECT_EQ(countEvents(HAPI_RM_HAL_UNDERRUN_EVT), underrunsBefore + 1);
  EXPECT_EQ(countEvents(HAPI_RM_KNL_OVERRUN_EVT), 0);

  // Closed, the channel leaves no switchboard entry and gives back every block and heap byte.
  ASSERT_EQ(hapiClose(vhd, 0), 0);
  EXPECT_EQ(switchboardEntriesOf(vhd), 0);
  EXPECT_EQ(switchboardEntriesOf(0), 0);  // port 0 fed only the channel
  ASSERT_TRUE(waitFrames(4));
  EXPECT_EQ(countsAtRest(), start);
  HSZCMD afterClose = stdCmd(vhd, HSF_MKHDR(HAPI_HEC_SRV, HAPI_OPC_ENABLE_CMD), 1, 0);
  EXPECT_EQ(hapiIOctl(&afterClose, 0), HAPIFAILURE);
}

}  // namespace
