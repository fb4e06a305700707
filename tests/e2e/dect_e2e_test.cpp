// DECT line coordination between the PBX stand-in, the DECT-manager stand-in and orvoxd.

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <future>
#include <optional>

#include "daemon_fixture.h"

namespace e2e {
namespace {

// The longest time left on the armed one-shot timers of process `pid`, in seconds, from the
// kernel's account of its timerfds; nothing when none is armed.
std::optional<double> longestArmedTimer(pid_t pid) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  DIR* dir = ::opendir(fds.c_str());
  if (dir == nullptr) return std::nullopt;
  std::optional<double> longest;
  while (const dirent* e = ::readdir(dir)) {
    char target[64] = {};
    const std::string fd = fds + "/" + e->d_name;
    if (::readlink(fd.c_str(), target, sizeof target - 1) <= 0 || std::string(target) != "anon_inode:[timerfd]")
      continue;
    std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" + e->d_name);
    long long sec = 0, nsec = 0;
    for (std::string line; std::getline(info, line);) {
      if (std::sscanf(line.c_str(), "it_value: (%lld, %lld)", &sec, &nsec) == 2) break;
    }
    const double left = static_cast<double>(sec) + static_cast<double>(nsec) / 1e9;
    if (left > 0) longest = std::max(longest.value_or(0.0), left);
  }
  ::closedir(dir);
  return longest;
}

// The same once the process has armed a timer (up to 5 s), a request's being made meanwhile.
std::optional<double> waitArmedTimer(pid_t pid) {
  std::optional<double> left;
  for (int i = 0; i < 500 && !left; ++i) {
    left = longestArmedTimer(pid);
    if (!left) std::this_thread::sleep_for(10ms);
  }
  return left;
}

class DaemonDect : public DaemonFixture {
 protected:
  // A board with a DECT line 0 the board can serve and an FXS line 1 that is off-hook.
  void startDectBoard(std::vector<std::string> dectArgs = {},
                      std::map<std::string, std::string> env = {},
                      std::map<std::string, std::string> brokerEnv = {}) {
    ASSERT_NO_FATAL_FAILURE(startBroker(brokerEnv));
    ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig("SWE", 2)));
    ASSERT_NO_FATAL_FAILURE(startPbx());
    ASSERT_NO_FATAL_FAILURE(startDect(dectArgs));
    env.emplace("ORVOX_FAKE_LINES", "dect,fxs");
    env.emplace("hw_board_hasDect", "1");
    ASSERT_NO_FATAL_FAILURE(startDaemon(env));
  }

  // An "endpt" call from another ubus client, on its own thread.
  std::future<std::pair<int, std::string>> callAsync(const std::string& method,
                                                     const std::string& json) {
    std::string sock = socketPath();
    return std::async(std::launch::async, [sock, method, json] {
      UbusClient other(sock);
      std::string reply;
      int st = other.call("endpt", method, json, &reply, 30000);
      return std::make_pair(st, reply);
    });
  }
};

TEST_F(DaemonDect, CallerIdRingIsRelayedAndAnsweredWithTheManagersStatus) {
  ASSERT_NO_FATAL_FAILURE(startDectBoard({"--status", "0"}));
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"callid","state":"on",)"
                           R"("data":"12071530, 0701234567,Bob Smith"})"),
            0);
  EXPECT_TRUE(dect->waitFor("dect call terminal=1 add=0 release=-1 cid=0701234567"));
  EXPECT_EQ(daemon->count("fake: vrgEndptSignal line=0"), 0);

  EXPECT_EQ(call("signal", R"({"line":0,"signal":"callid_ringing","state":"on"})"), 0);
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"ringing","state":"off"})"), 0);
  EXPECT_TRUE(dect->waitFor("dect call terminal=1 add=-1 release=0 cid="));
  EXPECT_EQ(dect->count("dect call"), 2);

  // A ring the PBX leaves on as it leaves the bus is released for it, once; the one it stopped
  // itself is not released again.
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"ringing","state":"on"})"), 0);
  EXPECT_TRUE(dect->waitFor("dect call terminal=1 add=0 release=-1", 5000ms, 2));
  pbx->stop(SIGKILL);
  ASSERT_TRUE(daemon->waitFor("PBX left the bus", 10000ms)) << daemon->output();
  EXPECT_TRUE(dect->waitFor("dect call terminal=1 add=-1 release=0 cid=", 5000ms, 2)) << daemon->output();
  EXPECT_TRUE(daemon->waitFor("Releasing the ring the PBX left on line 0\n"));
  EXPECT_EQ(daemon->count("Releasing the ring the PBX left"), 1);

  // A ring the handset answered is a call: one still up when its PBX leaves is closed on the
  // line and released towards the DECT manager, once (not as a ring too).
  ASSERT_NO_FATAL_FAILURE(startPbx());
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"ringing","state":"on"})"), 0);
  EXPECT_TRUE(dect->waitFor("dect call terminal=1 add=0 release=-1", 5000ms, 3)) << dect->output();
  std::string reply;
  ASSERT_EQ(call("call", R"({"terminal":1,"add":0})", &reply), 0) << daemon->output();
  EXPECT_NE(reply.find("\"errno\":0"), std::string::npos) << reply;
  ASSERT_EQ(call("connection", R"({"line":0,"id":1,"action":"create"})"), 0) << daemon->output();
  pbx->stop(SIGKILL);
  ASSERT_TRUE(daemon->waitFor("PBX left the bus", 10000ms, 2)) << daemon->output();
  EXPECT_TRUE(daemon->waitFor("Closed connection VRNK/0/1")) << daemon->output();
  EXPECT_TRUE(dect->waitFor("dect call terminal=1 add=-1 release=0 cid=", 5000ms, 3)) << daemon->output();
  EXPECT_TRUE(daemon->waitFor("Releasing the DECT call the PBX left on line 0\n")) << daemon->output();
  // The DECT manager's requests go one at a time in the order they were queued: once the next
  // PBX's ring reaches it, a second release would have too.
  ASSERT_NO_FATAL_FAILURE(startPbx());
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"ringing","state":"on"})"), 0);
  EXPECT_TRUE(dect->waitFor("dect call terminal=1 add=0 release=-1", 5000ms, 4)) << dect->output();
  EXPECT_EQ(dect->count("dect call terminal=1 add=-1 release=0"), 3) << dect->output();
  EXPECT_EQ(daemon->count("Releasing the ring the PBX left"), 1);
  EXPECT_EQ(daemon->count("Releasing the DECT call the PBX left"), 1);
}

TEST_F(DaemonDect, ManagerErrorStatusReachesThePbx) {
  ASSERT_NO_FATAL_FAILURE(startDectBoard({"--status", "4"}));
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"ringing","state":"on"})"), 4);
  EXPECT_EQ(call("connection", R"({"line":0,"id":1,"action":"create"})"), 4);
  EXPECT_EQ(daemon->count("fake: vrgEndptCreateConnection"), 0);
}

TEST_F(DaemonDect, PbxConnectionOnIdleHandsetGoesThroughTheManager) {
  ASSERT_NO_FATAL_FAILURE(startDectBoard());
  EXPECT_EQ(call("connection", R"({"line":0,"id":7,"action":"create"})"), 0);
  EXPECT_TRUE(dect->waitFor("dect call terminal=1 add=0 release=-1"));
  EXPECT_TRUE(daemon->waitFor("Created connection VRNK/0/7"));
  // The simulated off-hook ran before the connection was made.
  std::string out = daemon->output();
  EXPECT_LT(out.find("Simulated offhook for VRNK/0/*"), out.find("Created connection VRNK/0/7"));
  EXPECT_EQ(call("connection", R"({"line":0,"id":7,"action":"destroy"})"), 0);
  EXPECT_TRUE(dect->waitFor("dect call terminal=1 add=-1 release=0"));
  EXPECT_TRUE(daemon->waitFor("Closed connection VRNK/0/7"));
  EXPECT_TRUE(daemon->waitFor("setDectOnhook() VRNK/0"));
}

TEST_F(DaemonDect, HandsetCallWithDigitsIsAnsweredAfterThePbxAcknowledged) {
  ASSERT_NO_FATAL_FAILURE(startDectBoard());
  std::string reply;
  ASSERT_EQ(call("call", R"({"terminal":1,"add":0,"cid":"12"})", &reply), 0);
  EXPECT_NE(reply.find("\"pcm\":0"), std::string::npos) << reply;
  EXPECT_NE(reply.find("\"errno\":0"), std::string::npos) << reply;
  EXPECT_TRUE(pbx->waitFor("event EARLY_OFFHOOK data=0 line=0"));
  EXPECT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0"));
  EXPECT_TRUE(pbx->waitFor("event DTMF1 data=0 line=0"));
  EXPECT_TRUE(pbx->waitFor("event DTMF2 data=0 line=0"));
  std::string out = pbx->output();
  EXPECT_LT(out.find("event OFFHOOK"), out.find("event DTMF1"));
  EXPECT_LT(out.find("event DTMF1"), out.find("event DTMF2"));

  // Release: the simulated on-hook reaches the PBX before the manager is answered.
  ASSERT_EQ(call("call", R"({"terminal":1,"release":0})", &reply), 0);
  EXPECT_NE(reply.find("\"errno\":0"), std::string::npos) << reply;
  EXPECT_TRUE(pbx->waitFor("event ONHOOK data=0 line=0"));

  // Release of an idle line is answered at once.
  ASSERT_EQ(call("call", R"({"terminal":1,"release":0})", &reply), 0);
  EXPECT_NE(reply.find("\"terminal\":1"), std::string::npos) << reply;
  EXPECT_EQ(pbx->count("event ONHOOK"), 1);
}

// The handset manager repeats "add" for a handset that is already off-hook: that request needs
// no line change and is answered at once; nothing queued behind it, from the handset or from the
// PBX, is held up.
TEST_F(DaemonDect, RepeatedAddIsAnsweredAtOnceAndNothingWaitsBehindIt) {
  ASSERT_NO_FATAL_FAILURE(startDectBoard());
  // Each step: the method, its arguments and whether it is the handset's (a reply with errno).
  const struct {
    const char* method;
    const char* json;
  } steps[] = {
      {"call", R"({"terminal":1,"add":0})"},
      {"call", R"({"terminal":1,"add":0})"},
      {"call", R"({"terminal":1,"release":0})"},
      {"call", R"({"terminal":1,"add":0})"},
      {"connection", R"({"line":0,"id":5,"action":"create"})"},
      {"call", R"({"terminal":1,"release":0})"},
      {"connection", R"({"line":0,"id":5,"action":"destroy"})"},
      {"call", R"({"terminal":1,"add":0})"},
      {"call", R"({"terminal":1,"release":0})"},
      // Two connections hold the line: the handset's release leaves it off-hook, and no
      // on-hook event will follow to be acknowledged.
      {"call", R"({"terminal":1,"add":0})"},
      {"connection", R"({"line":0,"id":6,"action":"create"})"},
      {"connection", R"({"line":0,"id":7,"action":"create"})"},
      {"call", R"({"terminal":1,"release":0})"},
      {"connection", R"({"line":0,"id":6,"action":"destroy"})"},
      {"connection", R"({"line":0,"id":7,"action":"destroy"})"},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string(step.method) + " " + step.json);
    std::string reply;
    // A generous bound: a request nothing answers ends in the client's time-out (7).
    ASSERT_EQ(client->call("endpt", step.method, step.json, &reply, 20000), 0) << reply;
    if (std::string(step.method) == "call") {
      EXPECT_NE(reply.find("\"pcm\":0"), std::string::npos) << reply;
      EXPECT_NE(reply.find("\"errno\":0"), std::string::npos) << reply;
    }
  }
  // Four real take-ups and four real releases reached the PBX, the repeated add none. Lines are
  // waited for, not counted: the reader of the other process's output may not have them yet.
  EXPECT_TRUE(pbx->waitFor("event ONHOOK data=0 line=0", 5000ms, 4)) << pbx->output();
  EXPECT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0", 5000ms, 4)) << pbx->output();
  EXPECT_EQ(pbx->count("event OFFHOOK data=0 line=0"), 4);
  // The PBX's connections were made on the off-hook line and closed through the manager.
  for (const char* id : {"5", "6", "7"}) {
    EXPECT_TRUE(daemon->waitFor(std::string("Created connection VRNK/0/") + id));
    EXPECT_TRUE(daemon->waitFor(std::string("Closed connection VRNK/0/") + id));
  }
  EXPECT_TRUE(dect->waitFor("dect call terminal=1 add=-1 release=0", 5000ms, 3)) << dect->output();
  EXPECT_EQ(dect->count("dect call terminal=1 add=-1 release=0"), 3);
}

// The line events a handset's request caused never reach the PBX: the request is answered with
// the time-out status by the daemon itself, and the PBX's requests for the line go on.
TEST_F(DaemonDect, HandsetRequestWhoseEventsAreLostIsAnsweredAfterItsBound) {
  ASSERT_NO_FATAL_FAILURE(startDectBoard());
  fakeCtl("mute 0 1");
  ASSERT_TRUE(daemon->waitFor("fake: mute line=0 1"));
  // The request's bound is the PBX's 5 s to acknowledge and a second more. It is read from the
  // timer the daemon armed for it rather than timed: left on it, at most the bound, and at least
  // the bound less the time since the request left.
  constexpr double kBoundS = 6.0;
  const auto sent = std::chrono::steady_clock::now();
  auto handset = callAsync("call", R"({"terminal":1,"add":0})");
  const std::optional<double> left = waitArmedTimer(daemon->pid());
  const double since = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
  ASSERT_TRUE(left.has_value()) << "no timer armed for the request";
  EXPECT_LE(*left, kBoundS);
  EXPECT_GE(*left, kBoundS - since);
  const auto [status, reply] = handset.get();
  EXPECT_EQ(status, 7);
  // The daemon's own answer carries the manager's fields; the client's time-out would not.
  EXPECT_NE(reply.find("\"errno\":1"), std::string::npos) << reply;
  EXPECT_TRUE(daemon->waitFor("Timeout waiting for the PBX on line 0\n"));
  fakeCtl("mute 0 0");
  ASSERT_TRUE(daemon->waitFor("fake: mute line=0 0"));
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"ringing","state":"on"})"), 0);
  EXPECT_TRUE(dect->waitFor("dect call terminal=1 add=0"));
}

TEST_F(DaemonDect, KeypadSignalPlaysDigitsAndFlash) {
  ASSERT_NO_FATAL_FAILURE(startDectBoard());
  ASSERT_EQ(call("call", R"({"terminal":1,"add":0})"), 0);
  ASSERT_EQ(call("connection", R"({"line":0,"id":2,"action":"create"})"), 0);
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"keypad","state":"on","data":"12R#"})"), 0);
  EXPECT_TRUE(daemon->waitFor("fake: vrgEndptConsoleCmd line=0 cmd=301 arg0=1"));
  EXPECT_TRUE(daemon->waitFor("fake: vrgEndptConsoleCmd line=0 cmd=301 arg0=2"));
  EXPECT_TRUE(daemon->waitFor("Simulated hook flash (R-key) for VRNK/0"));
  EXPECT_TRUE(daemon->waitFor("fake: vrgEndptConsoleCmd line=0 cmd=301 arg0=11"));
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"keypad","state":"on","data":"1e"})"), 2);
  EXPECT_TRUE(daemon->waitFor("Warning, invalid keypad char 101 e\n"));
}

TEST_F(DaemonDect, ManagerTimeoutAnswersThePbxWith7AndReleasesTheQueue) {
  ASSERT_NO_FATAL_FAILURE(startDectBoard({"--no-answer"}));
  // The manager has 15 s to answer: read from the timer the daemon armed for its call.
  constexpr double kManagerBoundS = 15.0;
  const auto sent = std::chrono::steady_clock::now();
  auto first = callAsync("signal", R"({"line":0,"signal":"ringing","state":"on"})");
  ASSERT_TRUE(dect->waitFor("dect call"));
  const std::optional<double> left = waitArmedTimer(daemon->pid());
  const double since = std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count();
  ASSERT_TRUE(left.has_value()) << "no timer armed for the manager's answer";
  EXPECT_LE(*left, kManagerBoundS);
  EXPECT_GE(*left, kManagerBoundS - since);
  auto second = callAsync("signal", R"({"line":0,"signal":"ringing","state":"off"})");
  // One request at a time: the second is queued, and by the time a later request's line is
  // printed the handler that queued it is long done without passing it on.
  ASSERT_TRUE(daemon->waitFor("to list for cordhub2", 5000ms, 2));
  EXPECT_EQ(call("signal", R"({"line":9,"signal":"ringing","state":"on"})"), 2);
  ASSERT_TRUE(daemon->waitFor("Error! No such line value: 9\n"));
  EXPECT_EQ(daemon->count("Poped dect lineReq"), 1);
  EXPECT_EQ(dect->count("dect call"), 1);

  auto r1 = first.get();
  EXPECT_EQ(r1.first, 7);
  EXPECT_TRUE(daemon->waitFor("Timeout ubus call to dect\n"));
  EXPECT_TRUE(dect->waitFor("dect call", 2000ms, 2));
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
  EXPECT_EQ(second.get().first, 10);
  EXPECT_EQ(daemon->count("Timeout ubus call to dect\n"), 1);
}

// The broker keeps no record of the calls it passed on (as a broker may not): it answers none of
// them when "endpt" leaves, and drops a reply for an object that is gone. The daemon's own
// answers come while its object is still there.
TEST_F(DaemonDect, WaitingRequestsAreAnsweredWith10AtShutdown) {
  ASSERT_NO_FATAL_FAILURE(startDectBoard({"--no-answer"}, {}, {{"UBUSD_PENDING_LIMIT", "0"}}));
  auto first = callAsync("signal", R"({"line":0,"signal":"ringing","state":"on"})");
  ASSERT_TRUE(dect->waitFor("dect call"));
  auto second = callAsync("connection", R"({"line":0,"id":4,"action":"destroy"})");
  ASSERT_TRUE(daemon->waitFor("to list for cordhub2", 2000ms, 2));
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
  EXPECT_NE(daemon->output().find("orvoxd exits"), std::string::npos);
  EXPECT_EQ(first.get().first, 10);
  EXPECT_EQ(second.get().first, 10);
}

TEST_F(DaemonDect, BusyLineShowsOffHookOncePerRequester) {
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig("SWE", 2)));
  ASSERT_NO_FATAL_FAILURE(startPbx());
  ASSERT_NO_FATAL_FAILURE(startDect());
  ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "dect,fxs"}}));  // no DECT support
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"ringing","state":"on"})"), 0);
  EXPECT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0"));
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"ringing","state":"on"})"), 0);
  auto other = callAsync("signal", R"({"line":0,"signal":"dial","state":"on"})");
  EXPECT_EQ(other.get().first, 0);
  EXPECT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0", 3000ms, 2));
  // Events reach the PBX in the order they were raised: once a later one on the other line is
  // in, no further off-hook of these requests can follow.
  fakeCtl("event 1 21 0");
  EXPECT_TRUE(pbx->waitFor("event FLASH data=0 line=1"));
  EXPECT_EQ(pbx->count("event EARLY_OFFHOOK"), 2);
  EXPECT_EQ(pbx->count("event OFFHOOK"), 2);
  EXPECT_EQ(dect->count("dect call"), 0);
  EXPECT_EQ(daemon->count("fake: vrgEndptSignal line=0"), 0);

  // Digits from the handset on a busy line are refused, not fatal.
  std::string reply;
  EXPECT_EQ(call("call", R"({"terminal":1,"add":0,"cid":"5"})", &reply), 9);
  EXPECT_TRUE(daemon->running());
}

TEST_F(DaemonDect, RequestWithoutTheManagerIsAnsweredNotLost) {
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig("SWE", 2)));
  ASSERT_NO_FATAL_FAILURE(startPbx());
  ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "dect,fxs"}, {"hw_board_hasDect", "1"}}));
  EXPECT_EQ(call("connection", R"({"line":0,"id":1,"action":"create"})"), 9);
  EXPECT_EQ(call("connection", R"({"line":0,"id":1,"action":"destroy"})"), 9);
}

TEST_F(DaemonDect, HandsetRequestWithoutThePbxIsAnsweredNotLost) {
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig("SWE", 2)));
  ASSERT_NO_FATAL_FAILURE(startDect());
  ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "dect,fxs"}, {"hw_board_hasDect", "1"}}));
  std::string reply;
  EXPECT_EQ(call("call", R"({"terminal":1,"add":0})", &reply), 7);
  EXPECT_NE(reply.find("\"errno\":1"), std::string::npos) << reply;
  // The queue is free again: a PBX-side request is sent on.
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"ringing","state":"on"})"), 0);
  EXPECT_TRUE(dect->waitFor("dect call terminal=1 add=0"));
}

TEST_F(DaemonDect, StuckHookSimulationFailsWithinBoundedTime) {
  ASSERT_NO_FATAL_FAILURE(startDectBoard({}, {{"ORVOX_FAKE_CAS_STUCK", "1"}}));
  // An unbounded wait would end in the caller's time-out (7) instead of the failure answer.
  std::string reply;
  EXPECT_EQ(call("call", R"({"terminal":1,"add":0})", &reply), 9);
  EXPECT_NE(reply.find("\"errno\":1"), std::string::npos) << reply;
  EXPECT_TRUE(daemon->running());
}

}  // namespace
}  // namespace e2e
