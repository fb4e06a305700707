// The board's real-time tick: a 5 ms grid on the monotonic clock, with the ticks that a slow
// caller let pass counted as missed, and timed only once someone asks for the figures.

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "dsphalDrv.h"
#include "vboard.h"

namespace {

// This process runs the board in real time whatever the test environment asks for.
const bool kRealTime = (::unsetenv("ORVOX_TICK"), ::unsetenv("ORVOX_TICK_PROFILE"),
                        ::setenv("ORVOX_BOARD_SOCKET",
                                 ("/tmp/orvox_vboard_rt_" + std::to_string(::getpid()) + ".sock")
                                     .c_str(), 1),
                        true);

long long boardField(const std::string& key) {
  const std::string status = vboardCommand("board");
  const size_t at = status.find(" " + key + "=");
  return at == std::string::npos ? -1 : std::stoll(status.substr(at + key.size() + 2));
}

TEST(VirtualBoardRealTime, TicksKeepTheGridAndCountWhatWasMissed) {
  ASSERT_TRUE(kRealTime);
  const int fd = vboardOpen(DSPHAL_DEVICE, 0);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(vboardIoctl(fd, DSPHAL_CMD_SETTICKENABLE, 1), 0);
  ASSERT_EQ(vboardIoctl(fd, DSPHAL_CMD_WAITTICK, 0), 0);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 20; ++i) ASSERT_EQ(vboardIoctl(fd, DSPHAL_CMD_WAITTICK, 0), 0);
  // Twenty ticks on a 5 ms grid: the first may be one whose grid point has just passed (when
  // this thread was held up before asking), the other nineteen follow the grid, so they cannot
  // end sooner than 90 ms after the start.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
  const long long missedBefore = boardField("missed");
  std::this_thread::sleep_for(std::chrono::milliseconds(52));
  ASSERT_EQ(vboardIoctl(fd, DSPHAL_CMD_WAITTICK, 0), 0);
  EXPECT_GE(boardField("missed") - missedBefore, 9);
  EXPECT_NE(vboardCommand("board").find("tick=5ms"), std::string::npos);
  // Nothing asked for the tick statistics: no tick was timed. From the request on, each tick
  // after the first is.
  EXPECT_NE(vboardCommand("tickstats").find("ticks timed=0 "), std::string::npos);
  for (int i = 0; i < 4; ++i) ASSERT_EQ(vboardIoctl(fd, DSPHAL_CMD_WAITTICK, 0), 0);
  EXPECT_NE(vboardCommand("tickstats").find("ticks timed=3 "), std::string::npos) << vboardCommand("tickstats");
  vboardClose(fd);
  ::unlink(vboardSocketPath().c_str());
}

}  // namespace
