// The production daemon on the virtual board, with its peers as real processes: the board's lines,
// its tick and the profiles the daemon reads, the daemon's start and the board's commands.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "daemon_fixture.h"

namespace e2e {

class BoardDaemonFixture : public DaemonFixture {
 protected:
  std::string boardShape = "fxs=2,fxo=0,dect=0";
  std::string profileDir = ORVOX_SOURCE_DIR "/prov/tel_profiles/";
  // "fast": the board ticks back to back, and every wait is on how much audio it has moved;
  // "5ms": the real tick.
  std::string tick = "fast";

  std::map<std::string, std::string> boardEnv() const {
    auto env = baseEnv();
    env["ORVOX_BOARD"] = boardShape;
    env["ORVOX_BOARD_SOCKET"] = dir.file("board.sock");
    env["ORVOX_PROFILE_DIR"] = profileDir;
    env["ORVOX_TICK"] = tick;
    return env;
  }

  void startBoardDaemon() {
    daemon = std::make_unique<Process>("orvoxd", std::vector<std::string>{ORVOXD_BIN}, boardEnv());
    ASSERT_TRUE(daemon->waitFor("Startup ready!", std::chrono::milliseconds(30000))) << daemon->output();
  }

  // Runs one board command; returns its answer.
  std::string board(const std::string& command) {
    return boardctl(BOARDCTL_BIN, dir.file("board.sock"), command, boardEnv());
  }
};

}  // namespace e2e
