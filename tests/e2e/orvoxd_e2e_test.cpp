// The production orvoxd with the real endpoint library, DSP framework and virtual board, driven
// by the PBX stand-in over ubus and by the simulated phones through the board's control socket.
#include <cstdlib>
#include <string>

#include "daemon_fixture.h"

namespace e2e {
namespace {

class Orvoxd : public DaemonFixture {
 protected:
  std::map<std::string, std::string> boardEnv() const {
    auto env = baseEnv();
    env["ORVOX_BOARD"] = "fxs=2,fxo=0,dect=1";
    env["ORVOX_BOARD_SOCKET"] = dir.file("board.sock");
    env["ORVOX_PROFILE_DIR"] = ORVOX_SOURCE_DIR "/prov/tel_profiles/";
    env["ORVOX_TICK"] = "5ms";
    return env;
  }

  void startRealDaemon() {
    daemon = std::make_unique<Process>("orvoxd", std::vector<std::string>{ORVOXD_BIN}, boardEnv());
    ASSERT_TRUE(daemon->waitFor("Startup ready!", 30000ms)) << daemon->output();
  }

  void startSystem() {
    ASSERT_NO_FATAL_FAILURE(startBroker());
    ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig("SWE", 3)));
    ASSERT_NO_FATAL_FAILURE(startPbx());
    ASSERT_NO_FATAL_FAILURE(startRealDaemon());
  }

  // Runs one board command; returns its answer.
  std::string board(const std::string& command) {
    std::vector<std::string> args{BOARDCTL_BIN, "-s", dir.file("board.sock")};
    std::stringstream words(command);
    for (std::string w; words >> w;) args.push_back(w);
    Process ctl("boardctl", args, boardEnv());
    ctl.waitExit(5000ms);
    return ctl.output();
  }

  // Length of the first ring burst the simulated phone recorded, or -1.
  int firstRingBurstMs() {
    const std::string status = board("0 status");
    const std::string key = "from SLIC_MODE_RING):";
    const size_t at = status.find(key);
    if (at == std::string::npos) return -1;
    return std::atoi(status.c_str() + at + key.size());
  }

  bool boardShows(const std::string& command, const std::string& text,
                  std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      if (board(command).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }
};

TEST_F(Orvoxd, RingingAnswerDialFlashAndHangUpReachThePbx) {
  ASSERT_NO_FATAL_FAILURE(startSystem());
  ASSERT_TRUE(client->listen("asterisk.endpoint"));
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"ringing","state":"on"})"), 0);
  // The Swedish general ring: one second of ringing, then silence.
  EXPECT_TRUE(boardShows("0 status", "slic=RING ")) << board("0 status");
  EXPECT_TRUE(boardShows("0 status", "slic=OHT", 5000ms)) << board("0 status");
  const int burst = firstRingBurstMs();
  EXPECT_GE(burst, 950) << board("0 status");
  EXPECT_LE(burst, 1100) << board("0 status");

  board("0 offhook");
  ASSERT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0")) << daemon->output();
  EXPECT_TRUE(boardShows("0 status", "slic=LCF")) << board("0 status");

  board("0 pulse 5");
  EXPECT_TRUE(pbx->waitFor("event DTMF5 ", 8000ms)) << pbx->output();
  board("0 flash 200");  // inside the Swedish flash window of 80 to 300 ms
  EXPECT_TRUE(pbx->waitFor("event FLASH ", 5000ms)) << pbx->output();
  board("0 onhook");
  EXPECT_TRUE(pbx->waitFor("event ONHOOK data=0 line=0", 5000ms)) << pbx->output();

  client->pump(500ms);
  int offhook = 0;
  for (const std::string& e : client->events()) {
    offhook += e.find("\"event\":\"OFFHOOK\"") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(offhook, 1);
  EXPECT_EQ(pbx->count("event OFFHOOK "), 1);

  EXPECT_EQ(daemon->stop(SIGTERM), 0);
  EXPECT_TRUE(daemon->waitFor("orvoxd exits"));
}

TEST_F(Orvoxd, ConnectionCreateAndDestroyOnAnAnsweredLine) {
  ASSERT_NO_FATAL_FAILURE(startSystem());
  board("0 offhook");
  ASSERT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0")) << daemon->output();
  EXPECT_EQ(call("connection", R"({"line":0,"id":7,"action":"create"})"), 0);
  EXPECT_TRUE(daemon->waitFor("Created connection VRNK/0/7"));
  EXPECT_EQ(call("connection", R"({"line":0,"id":7,"action":"destroy"})"), 0);
  EXPECT_TRUE(daemon->waitFor("Closed connection VRNK/0/7"));
  board("0 onhook");
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
  EXPECT_TRUE(daemon->waitFor("orvoxd exits"));
}

}  // namespace
}  // namespace e2e
