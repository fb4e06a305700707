#include "vrgEndptIdleWd.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "logCapture.h"
#include "vboard.h"

namespace {

// The idle flag as the DSP driver (the virtual board) last heard it.
int driverVoiceIdle() {
  const std::string status = vboardCommand("board");
  const size_t at = status.find(" voiceIdle=");
  return at == std::string::npos ? -1 : std::stoi(status.substr(at + 11));
}

int trackedCount(LogCapture& log) {
  log.clear();
  istwPrintState();
  for (const LoggedMessage& m : log.messages()) {
    const size_t at = m.text.find("Total count: ");
    if (at != std::string::npos) return std::stoi(m.text.substr(at + 13));
  }
  return -1;
}

void waitPast(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST(IdleWatchdog, GoesIdleAfterFourQuietSecondsAndWakesOnTheNextReport) {
  LogCapture log;
  vrgEndptIstwInit();
  istwEvent(0x54, ISTW_GENERIC_EVT, 0);  // wakes a system that an earlier pass left idle
  istwEvent(0x55, ISTW_FORCED_ACTIVE, 1);
  vrgEndptProcessIdle();
  EXPECT_EQ(driverVoiceIdle(), 0);

  waitPast(ISTW_IDLE_MS + 100);
  vrgEndptProcessIdle();
  vrgEndptProcessIdle();
  EXPECT_TRUE(log.contains("vhd 0x54 going idle"));
  EXPECT_FALSE(log.contains("vhd 0x55 going idle"));  // held active
  EXPECT_EQ(driverVoiceIdle(), 0);

  // The release starts the channel's quiet time afresh.
  istwEvent(0x55, ISTW_FORCED_ACTIVE, 0);
  vrgEndptProcessIdle();
  EXPECT_FALSE(log.contains("System going idle"));

  waitPast(ISTW_IDLE_MS + 100);
  vrgEndptProcessIdle();  // the last channel goes idle ...
  EXPECT_EQ(driverVoiceIdle(), 0);
  vrgEndptProcessIdle();  // ... and the next pass declares the system idle
  EXPECT_TRUE(log.contains("System going idle"));
  EXPECT_EQ(driverVoiceIdle(), 1);

  // Reports from the resource manager's device change nothing.
  istwEvent(0x130, ISTW_GENERIC_EVT, 0);
  istwEvent(0x2F, ISTW_GENERIC_EVT, 0);
  EXPECT_EQ(driverVoiceIdle(), 1);

  istwEvent(0x54, ISTW_GENERIC_EVT, 0);
  EXPECT_EQ(driverVoiceIdle(), 0);
  EXPECT_TRUE(log.contains("System going active"));
  EXPECT_TRUE(log.contains("vhd 0x54 going active"));
}

TEST(IdleWatchdog, SignallingHoldsTheChannelActive) {
  LogCapture log;
  vrgEndptIstwInit();
  istwEvent(0x60, ISTW_SIGNALLING, 1);
  vrgEndptProcessIdle();
  EXPECT_EQ(driverVoiceIdle(), 0);
  EXPECT_EQ(trackedCount(log), 1);
  EXPECT_TRUE(log.contains("| 0x60       |  0   |  0  |  1  |"));
}

TEST(IdleWatchdog, ReportsBeyondTwentySevenChannelsAreIgnored) {
  LogCapture log;
  vrgEndptIstwInit();
  istwEvent(0x30, ISTW_GENERIC_EVT, 0);
  EXPECT_EQ(trackedCount(log), 0);
  for (int vhd = 0x1000; vhd < 0x1000 + ISTW_MAX_ENTRIES; ++vhd) istwEvent(vhd, ISTW_GENERIC_EVT, 0);
  EXPECT_EQ(trackedCount(log), ISTW_MAX_ENTRIES);
  istwEvent(0x2000, ISTW_FORCED_ACTIVE, 1);
  istwEvent(0x1000, ISTW_GENERIC_EVT, 0);  // a known channel still reports
  EXPECT_EQ(trackedCount(log), ISTW_MAX_ENTRIES);
  EXPECT_FALSE(log.contains("0x2000"));
}

}  // namespace
