// The board layer on a virtual board with two phones and one exchange line (narrowband).

#include "boardHal.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "../logCapture.h"
#include "halDrv.h"
#include "halTestSupport.h"

namespace {

// The board takes its shape from the environment when it is first opened.
const bool kBoardShape =
    (::setenv("ORVOX_BOARD", "fxs=2,fxo=1,dect=0", 1), ::setenv("ORVOX_TICK", "fast", 0),
     ::setenv("ORVOX_BOARD_SOCKET",
              ("/tmp/orvox_board_test_" + std::to_string(::getpid()) + ".sock").c_str(), 1),
     true);

// The control socket's file goes with the test process.
class RemoveSocket : public ::testing::Environment {
 public:
  void TearDown() override { ::unlink(vboardSocketPath().c_str()); }
};
const auto* kRemoveSocket = ::testing::AddGlobalTestEnvironment(new RemoveSocket);

class BoardLayer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kBoardShape);
    ASSERT_EQ(boardHalInit(VRG_COUNTRY_GERMANY), 0);
  }
  void TearDown() override {
    boardHalDspRegisterCallback(nullptr);
    boardHalDeinit();
    vboardCommand("0 onhook");
    vboardCommand("1 onhook");
  }
  LogCapture log_;
};

TEST_F(BoardLayer, TickTaskMovesOneNarrowbandFramePerChannelPerTickEachWay) {
  EXPECT_EQ(boardHalGetNumEndpoints(), 3);
  EXPECT_EQ(boardHalGetNumTypeEndpoints(DSPHAL_TYPE_FXS), 2);
  EXPECT_EQ(boardHalGetNumTypeEndpoints(DSPHAL_TYPE_FXO), 1);
  EXPECT_EQ(boardHalGetNumTypeEndpoints(DSPHAL_TYPE_DECT), 0);
  EXPECT_TRUE(boardHalIsType(2, DSPHAL_TYPE_FXO));
  EXPECT_FALSE(boardHalIsType(3, DSPHAL_TYPE_FXO));
  EXPECT_EQ(boardHalGetChannelRate(0), 8);

  long long before[3][2];
  for (int line = 0; line < 3; ++line) {
    const std::string s = vboardCommand(std::to_string(line) + " status");
    before[line][0] = statusField(s, "ingressBytes");
    before[line][1] = statusField(s, "egressBytes");
  }
  // Ticks granted one by one: each grant is answered once its tick's work is done.
  ASSERT_EQ(vboardCommand("lockstep step").rfind("OK", 0), 0u);
  ASSERT_EQ(vboardCommand("step").rfind("OK", 0), 0u);  // a tick begun before the lockstep ends
  const uint64_t ticksBefore = handledTicks();
  boardHalDspRegisterCallback(frameHandler);
  ASSERT_EQ(vboardCommand("step 50").rfind("OK", 0), 0u);
  const uint64_t ticks = handledTicks() - ticksBefore;
  EXPECT_EQ(ticks, 50u);
  // Halted, the task keeps taking ticks but runs no handler: the counts stop moving.
  boardHalDspTaskHalt();
  ASSERT_EQ(vboardCommand("step 10").rfind("OK", 0), 0u);
  EXPECT_EQ(handledTicks() - ticksBefore, ticks);
  for (int line = 0; line < 3; ++line) {
    const std::string s = vboardCommand(std::to_string(line) + " status");
    EXPECT_EQ(statusField(s, "ingressBytes") - before[line][0], static_cast<long long>(80 * ticks))
        << s;
    EXPECT_EQ(statusField(s, "egressBytes") - before[line][1], static_cast<long long>(80 * ticks))
        << s;
    // The board heard what the shim played on this port.
    EXPECT_EQ(statusField(s, "egressLevel"), 1000 * (line + 1)) << s;
  }
  boardHalDspTaskResume();
  ASSERT_EQ(vboardCommand("lockstep off").rfind("OK", 0), 0u);
}

TEST_F(BoardLayer, DialledDigitReachesTheDspAsItsTwoFrequencies) {
  {
    std::lock_guard<std::mutex> guard(shim().lock);
    shim().capture.clear();
    shim().capturePort = 1;
    shim().captureLimit = 8000;  // one second
  }
  EXPECT_EQ(vboardCommand("1 dial 5").rfind("ERROR: line 1 is on-hook", 0), 0u);
  ASSERT_EQ(vboardCommand("1 offhook").rfind("OK", 0), 0u);
  ASSERT_EQ(vboardCommand("1 dial 5 200 100").rfind("OK", 0), 0u);
  boardHalDspRegisterCallback(frameHandler);
  ASSERT_TRUE(waitFor([] {
    std::lock_guard<std::mutex> guard(shim().lock);
    return shim().capture.size() >= 8000;
  }));
  boardHalDspRegisterCallback(nullptr);
  std::vector<int16_t> audio;
  {
    std::lock_guard<std::mutex> guard(shim().lock);
    audio.assign(shim().capture.begin(), shim().capture.begin() + 1600);  // the first 200 ms
    shim().capturePort = -1;
  }
  const double row = goertzelPower(audio, 770, 8000);
  const double col = goertzelPower(audio, 1336, 8000);
  // Every other DTMF frequency is far below the two of digit 5.
  for (double f : {697.0, 852.0, 941.0, 1209.0, 1477.0, 1633.0}) {
    EXPECT_LT(goertzelPower(audio, f, 8000) * 100, row) << f;
    EXPECT_LT(goertzelPower(audio, f, 8000) * 100, col) << f;
  }
  EXPECT_GT(row, 1e5);
  EXPECT_GT(col, 1e5);
}

TEST_F(BoardLayer, FailedLineTestIsDroppedAndAGoodOneDeliveredOnce) {
  const int before = lineTestsDelivered();
  ASSERT_EQ(vboardCommand("0 linetest -3").rfind("OK", 0), 0u);
  ASSERT_EQ(boardHalSlicLineTest(0, TEST_IMPEDANCE), 0);
  ASSERT_TRUE(waitFor([&] { return log_.contains("ept 0, line test 1 returned -3"); }));
  ASSERT_EQ(boardHalSlicLineTest(0, TEST_REN), 0);
  ASSERT_TRUE(waitFor([&] { return lineTestsDelivered() == before + 1; }));
  EXPECT_EQ(lastLineTest().ept_id, 0);
  EXPECT_EQ(lastLineTest().test_id, TEST_REN);
  EXPECT_EQ(lastLineTest().u32, 1000u);
  EXPECT_TRUE(log_.contains("   REN (mren): 1000"));
  // Results come in the order the tests ran: once a later test's result is in, nothing of the
  // two before it can still arrive.
  ASSERT_EQ(vboardCommand("1 linetest 0 2000").rfind("OK", 0), 0u);
  ASSERT_EQ(boardHalSlicLineTest(1, TEST_REN), 0);
  ASSERT_TRUE(waitFor([&] { return lineTestsDelivered() == before + 2; }));
  EXPECT_EQ(lastLineTest().ept_id, 1);  // the second delivery is the later test's
  EXPECT_EQ(lastLineTest().u32, 2000u);
  EXPECT_EQ(log_.count("returned -3"), 1);
}

TEST_F(BoardLayer, DeinitStopsTheTickTaskWhileItWaitsForATick) {
  boardHalDspRegisterCallback(frameHandler);
  ASSERT_TRUE(waitFor([] { return handledTicks() > 0; }));
  // Ticks granted one by one: once a grant is answered its tick's work is done and the task is
  // back in the tick wait, where it stays with the tick switched off at the driver.
  ASSERT_EQ(vboardCommand("lockstep step").rfind("OK", 0), 0u);
  ASSERT_EQ(vboardCommand("step 3").rfind("OK", 0), 0u);
  const int fd = halDrvOpen(DSPHAL_DEVICE, O_RDWR);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(halDrvIoctl(fd, DSPHAL_CMD_SETTICKENABLE, 0), 0);
  halDrvClose(fd);
  const uint64_t stalled = handledTicks();
  boardHalDeinit();  // returns: the wait was woken and the task ended
  EXPECT_EQ(handledTicks(), stalled);
  // The daemon's line shutdown stops the board again after the library's shutdown did: stopping
  // what is already stopped is no error.
  log_.clear();
  boardHalDspDeinit();
  boardHalDeinit();
  EXPECT_EQ(log_.count("is not initialized"), 4);
  for (const LoggedMessage& m : log_.messages()) EXPECT_GT(m.level, VOICE_LOGLEVEL_ERROR) << m.text;
  ASSERT_EQ(vboardCommand("lockstep off").rfind("OK", 0), 0u);
  ASSERT_EQ(boardHalInit(VRG_COUNTRY_GERMANY), 0);  // the tick comes back on with the driver
  ASSERT_TRUE(waitFor([&] {
    boardHalDspRegisterCallback(frameHandler);
    return handledTicks() > stalled;
  }));
}

TEST_F(BoardLayer, BoardctlDrivesThePhoneSeenThroughTheHookQuery) {
  const std::string socket = "/tmp/orvox_board_test_" + std::to_string(::getpid()) + ".sock";
  ASSERT_EQ(vboardSocketPath(), socket);
  const std::string boardctl = std::string(ORVOX_BINARY_DIR) + "/tools/boardctl/boardctl -s " +
                               socket;
  EXPECT_EQ(boardHalIsOffhook(0), 0);
  ASSERT_EQ(std::system((boardctl + " 0 offhook > /dev/null").c_str()), 0);
  EXPECT_EQ(boardHalIsOffhook(0), 1);
  EXPECT_EQ(boardHalIsOffhook(1), 0);
  ASSERT_EQ(std::system((boardctl + " 0 onhook > /dev/null").c_str()), 0);
  EXPECT_EQ(boardHalIsOffhook(0), 0);
  // Refused commands and unknown lines exit 1 with the board's reason.
  EXPECT_EQ(WEXITSTATUS(std::system((boardctl + " 7 offhook 2> /dev/null").c_str())), 1);
  EXPECT_EQ(WEXITSTATUS(std::system((boardctl + " 2 offhook 2> /dev/null").c_str())), 1);
  EXPECT_EQ(WEXITSTATUS(std::system((boardctl + " 0 dance 2> /dev/null").c_str())), 1);
  const std::string unreachable =
      std::string(ORVOX_BINARY_DIR) + "/tools/boardctl/boardctl -s /tmp/no_such_board.sock board";
  EXPECT_EQ(WEXITSTATUS(std::system((unreachable + " 2> /dev/null").c_str())), 2);
}

TEST_F(BoardLayer, PulseDiallingAndFlashShowInTheHookState) {
  ASSERT_EQ(vboardCommand("0 offhook").rfind("OK", 0), 0u);
  ASSERT_EQ(vboardCommand("0 pulse 3 100 100 200").rfind("OK", 0), 0u);
  int breaks = 0;
  bool last = true;
  ASSERT_TRUE(waitFor([&] {
    const bool now = boardHalIsOffhook(0) == 1;
    if (last && !now) ++breaks;
    last = now;
    return statusField(vboardCommand("0 status"), "dialling") == 0;
  }));
  EXPECT_EQ(breaks, 3);
  EXPECT_EQ(boardHalIsOffhook(0), 1);
  ASSERT_EQ(vboardCommand("0 flash 150").rfind("OK", 0), 0u);
  EXPECT_EQ(boardHalIsOffhook(0), 0);
  ASSERT_TRUE(waitFor([] { return boardHalIsOffhook(0) == 1; }));
}

TEST_F(BoardLayer, RingingAndPolarityAreObservedOnThePhone) {
  ASSERT_EQ(boardHalSetRingParms(1, 25, 0, 50, 0, 0), 0);
  ASSERT_EQ(boardHalSetSlicMode(1, SLIC_MODE_RING), 0);
  const std::string ringing = "ringing (ms on, from SLIC_MODE_RING): ";
  auto ringMs = [&] {
    const std::string st = vboardCommand("1 status");
    const size_t at = st.find(ringing);
    return at == std::string::npos ? -1L : std::stol(st.substr(at + ringing.size()));
  };
  ASSERT_TRUE(waitFor([&] { return ringMs() >= 60; })) << vboardCommand("1 status");
  ASSERT_EQ(boardHalSetSlicMode(1, SLIC_MODE_LCF), 0);
  ASSERT_EQ(boardHalSetSlicPhaseRev(1, 1), 0);
  const std::string status = vboardCommand("1 status");
  EXPECT_NE(status.find("ring parameters: frequency=25 waveshape=0 voltage=50"), std::string::npos)
      << status;
  const size_t at = status.find(ringing);
  ASSERT_NE(at, std::string::npos);
  EXPECT_GE(std::stol(status.substr(at + ringing.size())), 60) << status;
  EXPECT_NE(status.find(":RING"), std::string::npos);
  EXPECT_NE(status.find("slic=LCF polarity=1"), std::string::npos) << status;
  int phrev = -1, lc = -1, ps = -1, mode = -1;
  ASSERT_EQ(boardHalGetSlicParms(1, &phrev, &lc, &ps, &mode), 0);
  EXPECT_EQ(phrev, 1);
  EXPECT_EQ(mode, SLIC_MODE_LCF);
}

TEST_F(BoardLayer, ExchangeLineRingsAndItsLoopFollowsTheDaaMode) {
  EXPECT_EQ(boardHalGetLoopCurrent(2), DAA_LOOP_OPEN);
  ASSERT_EQ(boardHalSetSlicMode(2, DAA_MODE_OFFHOOK), 0);
  EXPECT_EQ(boardHalGetLoopCurrent(2), DAA_LOOP_CLOSED);
  ASSERT_EQ(vboardCommand("2 reverse on").rfind("OK", 0), 0u);
  EXPECT_EQ(boardHalGetLoopCurrent(2), DAA_LOOP_CLOSED_REVERSE);
  vboardCommand("2 reverse off");
  ASSERT_EQ(boardHalSetSlicMode(2, DAA_MODE_ONHOOK), 0);
  EXPECT_EQ(boardHalIsRingActive(2), 0);
  ASSERT_EQ(vboardCommand("2 ring 5000 1000 1").rfind("OK", 0), 0u);
  EXPECT_EQ(boardHalIsRingActive(2), 1);
  ASSERT_EQ(vboardCommand("2 stopring").rfind("OK", 0), 0u);
  EXPECT_EQ(boardHalIsRingActive(2), 0);
}

TEST_F(BoardLayer, BadRequestsAndEndpointsAreErrorsNotCrashes) {
  const int fd = halDrvOpen(DSPHAL_DEVICE, O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(halDrvIoctl(fd, 0x40055EFF, 0), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(halDrvIoctl(fd, DSPHAL_CMD_GETCHANCFG, 0), -1);  // no record
  dsphal_chancfg cfg{};
  cfg.id = 9;
  EXPECT_EQ(halDrvIoctl(fd, DSPHAL_CMD_GETCHANCFG, reinterpret_cast<unsigned long>(&cfg)), -1);
  uint8_t frame[80];
  EXPECT_EQ(halDrvRead(fd, frame, sizeof(frame)), -1);  // not a channel descriptor
  halDrvClose(fd);
  EXPECT_EQ(halDrvIoctl(fd, DSPHAL_CMD_GETNUMEPT, 0), -1);  // closed

  for (int ept : {-1, 3, 8, 1000}) {
    EXPECT_EQ(boardHalIsOffhook(ept), 0) << ept;
    EXPECT_LT(boardHalSetSlicMode(ept, SLIC_MODE_LCF), 0) << ept;
    EXPECT_LT(boardHalSetRingParms(ept, 20, 0, 50, 0, 0), 0) << ept;
    EXPECT_LT(boardHalSlicLineTest(ept, TEST_REN), 0) << ept;
    EXPECT_EQ(boardHalGetDlp(ept), 0) << ept;
    EXPECT_EQ(boardHalIsType(ept, DSPHAL_TYPE_FXS), 0) << ept;
  }
  EXPECT_LT(boardHalSetSlicMode(0, 42), 0);  // not a SLIC mode
  EXPECT_TRUE(log_.contains("boardHalSetSlicMode: error during ioctl"));
  for (const char* bad : {"9 status", "0", "2 offhook", "0 ring", "0 play",
                          "0 play tone", "0 play /no/such.wav", "0 dial 12x", "0 pulse 5",
                          "0 flash", "-1 status", "frobnicate", "0 linetest"}) {
    EXPECT_EQ(vboardCommand(bad).rfind("ERROR: ", 0), 0u) << bad;
  }
}

}  // namespace
