// A host thread drives the gateway channel's NET service through the host command interface
// while the tick runs on its own thread: held answers reach the waiting caller.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "hapi/hapi.h"
#include "net_harness.h"

// No board: nothing to read or write per tick.
void lhapiProcessIngress() {}
void lhapiProcessEgress() {}

namespace {

using namespace nettest;

std::mutex eventLock;
std::vector<HSZEVT> events;

void recordEvent(HSZEVT* evt, uint16_t) {
  std::lock_guard<std::mutex> guard(eventLock);
  events.push_back(*evt);
}

std::vector<uint16_t> modeEvents() {
  std::lock_guard<std::mutex> guard(eventLock);
  std::vector<uint16_t> modes;
  for (const HSZEVT& e : events) {
    if (e.hsxevt == HAPI_NET_MODE_EVT) modes.push_back(e.hsxop1);
  }
  return modes;
}

HAPIRESULT stdCommand(uint16_t vhd, uint16_t code, uint16_t op1, uint16_t op2) {
  HSZCMD c{};
  c.hsxdevhdl = vhd;
  c.hsxcmd = code;
  c.hsxreqid = HAPI_REQID_STD_CMD;
  c.hsxop1 = op1;
  c.hsxop2.val = op2;
  return hapiIOctl(&c, 0);
}

class NetHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lhapiInit(0);
    events.clear();
    ASSERT_EQ(hapiInit(recordEvent, 1), HAPISUCCESS);
    VHD_gArchive = testArchives(&VHD_gNumArchives);
    running_ = true;
    ticker_ = std::thread([this] {
      while (running_.load()) {
        lhapiKNL_RunReadyThreads();
        std::this_thread::yield();
      }
    });
  }
  void TearDown() override {
    running_ = false;
    ticker_.join();
    lhapiDeinit();
  }

  std::atomic<bool> running_{false};
  std::thread ticker_;
};

TEST_F(NetHostTest, SynchronousModeChangesAreAnsweredAfterTheSwitch) {
  const uint16_t gw = hapiOpen(HAPI_GATEWAY_VHD, recordEvent, 0);
  ASSERT_EQ(gw, HAPIVHD0);

  EXPECT_EQ(stdCommand(gw, HAPI_NET_SETMODE_CMD, NETMODE_PACKETVOICE, 0), HAPISUCCESS);
  EXPECT_EQ(stdCommand(gw, HAPI_NET_SETMODE_CMD, NETMODE_FAXRELAY, 0), HAPISUCCESS);
  EXPECT_EQ(stdCommand(gw, HAPI_NET_SETMODE_CMD, NETMODE_FAXRELAY, 0), HAPISUCCESS);
  EXPECT_EQ(stdCommand(gw, HAPI_NET_SETMODE_CMD, NETMODE_DATARELAY, 0), HAPI_ERR_INVALID_CMD);
  EXPECT_EQ(stdCommand(gw, HAPI_NET_SETMODE_CMD, NETMODE_IDLE, 0), HAPISUCCESS);

  // One mode event per change (the last may still be on its way when its answer is).
  const std::vector<uint16_t> expected = {NETMODE_PACKETVOICE, NETMODE_FAXRELAY, NETMODE_IDLE};
  for (int i = 0; i < 1000 && modeEvents().size() < expected.size(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(modeEvents(), expected);
  EXPECT_EQ(hapiClose(gw, 0), HAPISUCCESS);
}

}  // namespace
