#include "vos.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "../util/stdoutCapture.h"

namespace {

class VosError : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(vosInit(), VOS_STATUS_OK); }
  void TearDown() override { ASSERT_EQ(vosTerm(), VOS_STATUS_OK); }
};

TEST_F(VosError, FailureIsLoggedWithFunctionNameAndSystemText) {
  StdoutCapture capture;
  EXPECT_EQ(vosErrorCheckStatusLinuxUser(22, 0x0104), VOS_STATUS_ERR);
  std::string out = capture.finish();
  const std::string expected =
      std::string("[vos]\x1b[0;31m returned by vosMutexAcquire: ") + strerror(22) + " (22)\x1b[0m\n";
  ASSERT_GE(out.size(), expected.size());
  EXPECT_EQ(out.substr(out.size() - expected.size()), expected) << out;
}

TEST_F(VosError, SuccessLogsNothing) {
  StdoutCapture capture;
  EXPECT_EQ(vosErrorCheckStatusLinuxUser(0, 0x0104), VOS_STATUS_OK);
  EXPECT_EQ(capture.finish(), "");
}

TEST_F(VosError, FunctionsWithoutNameUseTheFallbackText) {
  char buf[40];
  vosErrorFunctionStr(0x0A01, buf, sizeof buf);
  EXPECT_STREQ(buf, "Module:0x0a, Function:0x01");
  vosErrorFunctionStr(0x0009, buf, sizeof buf);
  EXPECT_STREQ(buf, "Module:0x00, Function:0x09");
  vosErrorFunctionStr(0x0107, buf, sizeof buf);
  EXPECT_STREQ(buf, "Module:0x01, Function:0x07");
  vosErrorFunctionStr(0xFF00, buf, sizeof buf);
  EXPECT_STREQ(buf, "Module:0xff, Function:0x00");
  vosErrorFunctionStr(0x0606, buf, sizeof buf);
  EXPECT_STREQ(buf, "vosTimeGetLocalTime");
  char small[6];
  vosErrorFunctionStr(0x0104, small, sizeof small);
  EXPECT_STREQ(small, "vosMu");
}

TEST(VosInit, IsInitFollowsStartAndStop) {
  EXPECT_FALSE(vosIsInit());
  StdoutCapture capture;
  ASSERT_EQ(vosInit(), VOS_STATUS_OK);
  EXPECT_TRUE(vosIsInit());
  ASSERT_EQ(vosTerm(), VOS_STATUS_OK);
  EXPECT_FALSE(vosIsInit());
  // Start-up messages are at info level, below the module's level.
  EXPECT_EQ(capture.finish(), "");
}

}  // namespace
