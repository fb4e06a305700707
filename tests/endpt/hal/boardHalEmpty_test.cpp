// A board without channels: the driver opens, nothing is configured, the tick still runs.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "boardHal.h"
#include "halTestSupport.h"
#include "vrgEndpt.h"

namespace {

const bool kBoardShape = (::setenv("ORVOX_BOARD", "fxs=0,fxo=0,dect=0", 1), true);

TEST(EmptyBoard, OpensConfiguresNothingAndStillEnablesTheTick) {
  ASSERT_TRUE(kBoardShape);
  EXPECT_EQ(vrgEndptGetNumEndpoints(), 0);
  EXPECT_EQ(vrgEndptGetNumFxsEndpoints(), 0);
  ASSERT_EQ(boardHalDspHalInit(), 0);
  EXPECT_EQ(boardHalDspHalInit(), 0);  // already open
  EXPECT_NE(vboardCommand("board").find("tickEnabled=1"), std::string::npos);
  {
    std::lock_guard<std::mutex> guard(shim().lock);
    for (int enabled : shim().enabled) EXPECT_EQ(enabled, 0);
  }
  lhapiProcessIngress();  // nothing to move
  lhapiProcessEgress();
  boardHalDspHalDeinit();
}


}  // namespace
