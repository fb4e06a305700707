// The stand-ins' command lines: what they cannot do as asked they refuse at once, loudly.
#include "daemon_fixture.h"

namespace e2e {
namespace {

using ToolCommandLines = DaemonFixture;

TEST_F(ToolCommandLines, PbxsimRefusesBadSleepsAndAnUnwritableRecording) {
  for (const char* script : {"sleep -5", "sleep 1e3", "sleep 0", "sleep", "count; sleep abc"}) {
    Process pbx("pbxsim", {PBXSIM_BIN, "--pipe-dir", dir.path(), "--script", script}, baseEnv());
    EXPECT_EQ(pbx.waitExit(5000ms), 2) << script;
    EXPECT_NE(pbx.output().find("sleep needs a whole number of ms"), std::string::npos)
        << script << ": " << pbx.output();
  }
  Process record("pbxsim", {PBXSIM_BIN, "--pipe-dir", dir.path(), "--record",
                            dir.file("no/such/dir/out.raw")}, baseEnv());
  EXPECT_EQ(record.waitExit(5000ms), 1);
  EXPECT_NE(record.output().find("pbxsim: cannot record to"), std::string::npos) << record.output();
  // A good script still runs.
  ASSERT_NO_FATAL_FAILURE(startBroker());
  Process good("pbxsim", {PBXSIM_BIN, "--pipe-dir", dir.path(), "--script", "sleep 20"}, baseEnv());
  EXPECT_TRUE(good.waitFor("script done")) << good.output();
}

TEST_F(ToolCommandLines, DectsimTakesOnlyANumericStatus) {
  for (const char* status : {"abc", "7x", "-1", "300", ""}) {
    Process dectsim("dectsim", {DECTSIM_BIN, "--status", status}, baseEnv());
    EXPECT_EQ(dectsim.waitExit(5000ms), 2) << status;
    EXPECT_NE(dectsim.output().find("--status needs a number"), std::string::npos) << dectsim.output();
  }
}

}  // namespace
}  // namespace e2e
