// The board layer on a wideband board: 16 kHz phones move 160 bytes per tick each way.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "boardHal.h"
#include "halTestSupport.h"

namespace {

const bool kBoardShape =
    (::setenv("ORVOX_BOARD", "fxs=1,fxo=1,dect=1,wideband=1", 1), ::setenv("ORVOX_TICK", "fast", 0), true);

TEST(WidebandBoard, SixteenKilohertzChannelMovesOneHundredSixtyBytesPerTick) {
  ASSERT_TRUE(kBoardShape);
  ASSERT_EQ(boardHalInit(VRG_COUNTRY_UK), 0);
  // DECT first, then the phone, then the exchange line.
  EXPECT_EQ(boardHalGetChannelRate(0), 8);
  EXPECT_EQ(boardHalGetChannelRate(1), 16);
  EXPECT_EQ(boardHalGetChannelRate(2), 8);
  {
    std::lock_guard<std::mutex> guard(shim().lock);
    EXPECT_EQ(shim().configuredWideband[0], 0);
    EXPECT_EQ(shim().configuredWideband[1], 1);
  }
  // Ticks granted one by one, each answered once its work is done.
  ASSERT_EQ(vboardCommand("lockstep step").rfind("OK", 0), 0u);
  ASSERT_EQ(vboardCommand("step").rfind("OK", 0), 0u);  // a tick begun before the lockstep ends
  boardHalDspRegisterCallback(frameHandler);
  ASSERT_EQ(vboardCommand("step 40").rfind("OK", 0), 0u);
  const long long ticks = static_cast<long long>(handledTicks());
  EXPECT_EQ(ticks, 40);
  const long long expected[3] = {80 * ticks, 160 * ticks, 80 * ticks};
  for (int line = 0; line < 3; ++line) {
    const std::string s = vboardCommand(std::to_string(line) + " status");
    EXPECT_EQ(statusField(s, "ingressBytes"), expected[line]) << s;
    EXPECT_EQ(statusField(s, "egressBytes"), expected[line]) << s;
  }
  // DECT lines carry PCM only.
  EXPECT_EQ(vboardCommand("0 offhook").rfind("ERROR", 0), 0u);
  ASSERT_EQ(vboardCommand("lockstep off").rfind("OK", 0), 0u);
  boardHalDeinit();
}

}  // namespace
