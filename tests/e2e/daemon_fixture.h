// The daemon with its peers as real processes: the broker, the "uci" service over a private
// configuration directory, the PBX and DECT-manager stand-ins and orvoxd (built against the
// endpoint-library test double), each on private socket and pipe paths.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_process.h"

namespace e2e {

inline std::string lineSection(int n, const std::string& name, const std::string& extra = "") {
  return "\nconfig line 'telline" + std::to_string(n) + "'\n\toption name '" + name +
         "'\n\toption echo_cancel '1'\n\toption vad '1'\n\toption noise '0'\n\toption txgain "
         "'0'\n\toption rxgain '0'\n" +
         extra;
}

inline std::string defaultConfig(const std::string& country = "SWE", int lines = 3) {
  std::string cfg = "\nconfig tel 'TEL'\n\toption country '" + country + "'\n";
  for (int i = 0; i < lines; i++) cfg += lineSection(i, "Line" + std::to_string(i));
  return cfg;
}

// The file-creation mask of this test and the processes it starts, for its lifetime. Some
// service managers start daemons with 000: nothing the daemon makes may rely on the mask.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
  ~ScopedUmask() { ::umask(old_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t old_;
};

// The permission bits of a file (not following a link), or -1 when there is none.
inline int fileMode(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

class DaemonFixture : public ::testing::Test {
 protected:
  TempDir dir;
  std::unique_ptr<Process> broker, uci, pbx, dect, daemon;
  std::unique_ptr<UbusClient> client;

  std::string socketPath() const { return dir.file("ubus.sock"); }

  std::map<std::string, std::string> baseEnv() const {
    return {{"UBUS_SOCKET", socketPath()},
            {"ORVOX_PIPE_DIR", dir.path()},
            {"ORVOX_FAKE_CTL", dir.file("fake.ctl")},
            {"ORVOX_NO_RT", "1"}};
  }

  void startBroker(std::map<std::string, std::string> extraEnv = {}) {
    auto env = baseEnv();
    for (auto& [k, v] : extraEnv) env[k] = v;
    broker = std::make_unique<Process>("ubusd",
                                       std::vector<std::string>{UBUSD_BIN, "-s", socketPath()},
                                       env);
    client = std::make_unique<UbusClient>(socketPath());
    ASSERT_TRUE(client->connected()) << broker->output();
  }

  void startUci(const std::string& asteriskConfig) {
    dir.write("config/asterisk", asteriskConfig);
    uci = std::make_unique<Process>(
        "uci", std::vector<std::string>{UCI_BIN, dir.file("config")}, baseEnv());
    ASSERT_TRUE(waitObject("uci")) << uci->output();
  }

  void startPbx(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {PBXSIM_BIN, "--pipe-dir", dir.path()});
    pbx = std::make_unique<Process>("pbxsim", args, baseEnv());
    ASSERT_TRUE(pbx->waitFor("pbxsim ready")) << pbx->output();
  }

  void startDect(std::vector<std::string> args = {}) {
    args.insert(args.begin(), DECTSIM_BIN);
    dect = std::make_unique<Process>("dectsim", args, baseEnv());
    ASSERT_TRUE(dect->waitFor("dectsim ready")) << dect->output();
  }

  // Starts orvoxd; `ready` false for runs that are expected to fail during start-up.
  void startDaemon(std::map<std::string, std::string> extraEnv = {}, bool ready = true) {
    auto env = baseEnv();
    for (auto& [k, v] : extraEnv) env[k] = v;
    daemon = std::make_unique<Process>("orvoxd", std::vector<std::string>{ORVOXD_FAKE_BIN}, env);
    if (ready) {
      ASSERT_TRUE(daemon->waitFor("Startup ready!", 15000ms)) << daemon->output();
    }
  }

  // Everything a normal run needs: broker, uci, PBX stand-in and the daemon.
  void startAll(std::map<std::string, std::string> extraEnv = {},
                const std::string& config = defaultConfig()) {
    ASSERT_NO_FATAL_FAILURE(startBroker());
    ASSERT_NO_FATAL_FAILURE(startUci(config));
    ASSERT_NO_FATAL_FAILURE(startPbx());
    ASSERT_NO_FATAL_FAILURE(startDaemon(extraEnv));
  }

  bool waitObject(const std::string& name, std::chrono::milliseconds timeout = 5000ms) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (client->lookup(name)) return true;
      std::this_thread::sleep_for(20ms);
    }
    return false;
  }

  // A command to the endpoint-library test double.
  void fakeCtl(const std::string& command) {
    int fd = open(dir.file("fake.ctl").c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    std::string line = command + "\n";
    ASSERT_EQ(write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    close(fd);
  }

  int call(const std::string& method, const std::string& json, std::string* reply = nullptr) {
    return client->call("endpt", method, json, reply);
  }

  void TearDown() override {
    if (daemon) daemon->stop(SIGTERM);
    for (auto* p : {&dect, &pbx, &uci, &broker})
      if (*p) (*p)->stop(SIGTERM);
    // A sanitizer report in any process fails the test that caused it.
    for (auto* p : {&daemon, &dect, &pbx, &uci, &broker}) {
      if (!*p) continue;
      std::string out = (*p)->output();
      for (const char* marker : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                 "runtime error:", "WARNING: ThreadSanitizer"})
        EXPECT_EQ(out.find(marker), std::string::npos) << out;
    }
  }
};

}  // namespace e2e
