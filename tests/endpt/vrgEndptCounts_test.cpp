#include <gtest/gtest.h>

#include <cstdlib>

#include "vrgEndpt.h"

namespace {

const bool kBoardShape = (::setenv("ORVOX_BOARD", "fxs=3,fxo=2,dect=1", 1), true);

TEST(EndpointCounts, ComeFromTheBoardBeforeTheLibraryStarts) {
  ASSERT_TRUE(kBoardShape);
  EXPECT_EQ(vrgEndptGetNumEndpoints(), 6);
  EXPECT_EQ(vrgEndptGetNumFxsEndpoints(), 3);
  EXPECT_EQ(vrgEndptGetNumFxoEndpoints(), 2);
  EXPECT_EQ(vrgEndptGetNumDectEndpoints(), 1);
}

}  // namespace
