// orvoxd as a process among its peers, with the endpoint-library test double underneath.

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "daemon_fixture.h"

namespace e2e {
namespace {

// ---------------------------------------------------------------------------------------------
// Start-up and the read-only methods
// ---------------------------------------------------------------------------------------------

using DaemonStartup = DaemonFixture;

TEST_F(DaemonStartup, ReadsUciCreatesLinesAndRegistersEndpt) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "dect,fxs"}}));
  std::string out = daemon->output();
  EXPECT_NE(out.find("country code: SWE\n"), std::string::npos);
  EXPECT_NE(out.find("fake: vrgEndptInit country=22"), std::string::npos);
  EXPECT_NE(out.find("Got UCI conf for line telline1\n  name=Line1\n"), std::string::npos);
  EXPECT_NE(out.find("Endpoint lib init success"), std::string::npos);
  EXPECT_NE(out.find("Endpoint 0 (Line0) created successfully"), std::string::npos);
  EXPECT_NE(out.find("  type FXS (phone)\n"), std::string::npos);
  EXPECT_NE(out.find("  type DECT\n"), std::string::npos);
  // The on-hook FXS phone is woken by two polarity reversals.
  EXPECT_EQ(daemon->count("fake: vrgEndptSignal line=1 cnx=-1 sig=42 value=1"), 2);
  EXPECT_EQ(daemon->count("fake: vrgEndptSignal line=1 cnx=-1 sig=42 value=0"), 2);
  EXPECT_NE(out.find("  line wakeup yes\n"), std::string::npos);
  // No DECT support on the board: the DECT line is busy and its UCI section goes.
  EXPECT_NE(out.find("  simulate busy yes\n"), std::string::npos);
  std::string reply;
  EXPECT_EQ(client->call("uci", "get", R"({"config":"asterisk","section":"telline0"})", &reply),
            0);
  EXPECT_EQ(reply.find("Line0"), std::string::npos);
  EXPECT_TRUE(client->lookup("endpt"));
}

TEST_F(DaemonStartup, CountAndStatusHideDectLinesUntilTheDectManagerAppears) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "dect,fxs,fxs"},
                                    {"hw_board_hasDect", "1"}}));
  std::string reply;
  ASSERT_EQ(call("count", "{}", &reply), 0);
  EXPECT_NE(reply.find("\"num_endpoints\":2"), std::string::npos) << reply;
  EXPECT_NE(reply.find("\"num_fxs_endpoints\":2"), std::string::npos);
  EXPECT_NE(reply.find("\"num_dect_endpoints\":0"), std::string::npos);
  ASSERT_EQ(call("count", R"({"effective":false})", &reply), 0);
  EXPECT_NE(reply.find("\"num_endpoints\":3"), std::string::npos) << reply;
  EXPECT_NE(reply.find("\"num_dect_endpoints\":1"), std::string::npos);

  // Line 0 of the PBX is table entry 1 while DECT is hidden.
  fakeCtl("hook 1 1");
  ASSERT_TRUE(daemon->waitFor("event from endpoint: OFFHOOK, line: 1"));
  ASSERT_EQ(call("status", "{}", &reply), 0);
  EXPECT_NE(reply.find("\"line\":0,\"offhook\":1"), std::string::npos) << reply;
  EXPECT_EQ(reply.find("\"line\":2"), std::string::npos);
  EXPECT_EQ(call("status", R"({"line":2})", &reply), 2);
  EXPECT_TRUE(daemon->waitFor("Error! No such line value: 2\n"));

  ASSERT_NO_FATAL_FAILURE(startDect());
  for (int i = 0; i < 100 && reply.find("\"num_dect_endpoints\":1") == std::string::npos; i++) {
    std::this_thread::sleep_for(20ms);
    call("count", "{}", &reply);
  }
  EXPECT_NE(reply.find("\"num_dect_endpoints\":1"), std::string::npos) << reply;
  ASSERT_EQ(call("status", R"({"line":1})", &reply), 0);
  EXPECT_NE(reply.find("\"offhook\":1"), std::string::npos) << reply;

  // The manager goes away: DECT lines are hidden again.
  dect->stop(SIGTERM);
  for (int i = 0; i < 100 && reply.find("\"num_dect_endpoints\":0") == std::string::npos; i++) {
    std::this_thread::sleep_for(20ms);
    call("count", "{}", &reply);
  }
  EXPECT_NE(reply.find("\"num_dect_endpoints\":0"), std::string::npos) << reply;
}

TEST_F(DaemonStartup, MethodArgumentsAreValidated) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "fxs"}}));
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"ringing"})"), 2);
  EXPECT_EQ(call("signal", R"({"line":5,"signal":"ringing","state":"on"})"), 2);
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"ringing","state":"maybe"})"), 2);
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"dtmf","state":"on"})"), 2);
  EXPECT_EQ(call("connection", R"({"line":0,"id":-1,"action":"create"})"), 2);
  EXPECT_EQ(call("connection", R"({"line":0,"id":1,"action":"explode"})"), 2);
  EXPECT_EQ(call("call", R"({"terminal":1})"), 2);
  // The replies can overtake the daemon's own lines on their way through the pipe.
  for (const char* line : {"Error! missing argument\n", "Error! No such line value: 5\n",
                           "Error! invalid state maybe\n", "Error! No such signal: dtmf\n",
                           "Error! Invalid connection id: -1\n",
                           "Error! No such action: explode\n"})
    EXPECT_TRUE(daemon->waitFor(line)) << line;
}

// The ends of the 32-bit range in every number a method takes: each is refused or answered,
// none is computed with (a sanitizer build stops the daemon on an overflow), and the daemon
// serves on.
TEST_F(DaemonStartup, ExtremeNumbersAreRefusedAndTheDaemonServesOn) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "dect,fxs"}, {"hw_board_hasDect", "1"}}));
  for (const char* n : {"-2147483648", "2147483647"}) {
    const std::string num = n;
    SCOPED_TRACE(num);
    EXPECT_EQ(call("call", R"({"terminal":)" + num + R"(,"add":0})"), num[0] == '-' ? 2 : 9);
    EXPECT_EQ(call("call", R"({"terminal":)" + num + R"(,"release":0})"), num[0] == '-' ? 2 : 9);
    EXPECT_EQ(call("call", R"({"terminal":1,"add":)" + num + "}"), 2);
    EXPECT_EQ(call("call", R"({"terminal":1,"release":)" + num + "}"), 2);
    EXPECT_EQ(call("signal", R"({"line":)" + num + R"(,"signal":"ringing","state":"on"})"), 2);
    EXPECT_EQ(call("connection", R"({"line":)" + num + R"(,"id":1,"action":"create"})"), 2);
    EXPECT_EQ(call("status", R"({"line":)" + num + "}"), 2);
  }
  EXPECT_EQ(call("connection", R"({"line":1,"id":-2147483648,"action":"create"})"), 2);
  // A signal value beyond the 32-bit range is refused rather than cut to some other value.
  EXPECT_EQ(call("signal", R"({"line":1,"signal":"dial","state":"on","data":"4294967296"})"), 2);
  EXPECT_EQ(call("signal", R"({"line":1,"signal":"dial","state":"on","data":"-99999999999"})"), 2);
  EXPECT_TRUE(daemon->waitFor("Error! Invalid signal value: 4294967296\n"));
  EXPECT_EQ(daemon->count("fake: vrgEndptSignal line=1 cnx=-1 sig="), 4);  // the wake-up only

  std::string reply;
  EXPECT_EQ(call("count", R"({"effective":false})", &reply), 0);
  EXPECT_NE(reply.find("\"num_endpoints\":2"), std::string::npos) << reply;
  EXPECT_TRUE(daemon->running());
}

// ---------------------------------------------------------------------------------------------
// Fatal configuration
// ---------------------------------------------------------------------------------------------

using DaemonConfig = DaemonFixture;

TEST_F(DaemonConfig, NoUciObjectEndsStartUp) {
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startDaemon({}, false));
  EXPECT_NE(daemon->waitExit(10000ms), 0);
  EXPECT_NE(daemon->output().find("Could not lookup ubus path: uci"), std::string::npos)
      << daemon->output();
}

TEST_F(DaemonConfig, InvalidCountryEndsStartUp) {
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig("XYZ")));
  ASSERT_NO_FATAL_FAILURE(startDaemon({}, false));
  EXPECT_NE(daemon->waitExit(10000ms), 0);
  EXPECT_NE(daemon->output().find("Error! Invalid country code: XYZ\n"), std::string::npos)
      << daemon->output();
}

TEST_F(DaemonConfig, CountryPrefixSelectsTheFirstMatchingRow) {
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig("NORWAY", 1)));
  ASSERT_NO_FATAL_FAILURE(startPbx());
  ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "dect"}, {"hw_board_hasDect", "1"}}));
  EXPECT_NE(daemon->output().find("fake: vrgEndptInit country=20"), std::string::npos);
}

TEST_F(DaemonConfig, MissingLineSectionLeavesTheLineItsDefaults) {
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig("SWE", 1)));
  ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "fxs,fxs"}}));
  const std::string out = daemon->output();
  EXPECT_NE(out.find("No UCI section telline1: line 1 keeps its defaults"), std::string::npos) << out;
  EXPECT_NE(out.find("Endpoint 1 (anonymous) created successfully"), std::string::npos) << out;
  EXPECT_EQ(out.find("Could not query UCI"), std::string::npos) << out;
}

TEST_F(DaemonConfig, MissingCountryStillEndsStartUp) {
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci("\nconfig line 'telline0'\n\toption name 'x'\n"));
  ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "fxs"}}, false));
  EXPECT_NE(daemon->waitExit(10000ms), 0);
  EXPECT_NE(daemon->output().find("Could not query UCI"), std::string::npos) << daemon->output();
}

// The gains are whole dB, taken from -120 to 30 (what the endpoint library applies), and a
// refusal names that range in dB; both ends are held on both options.
TEST_F(DaemonConfig, OutOfRangeOptionsKeepTheirDefaults) {
  std::string cfg = "\nconfig tel 'TEL'\n\toption country 'GBR'\n"
                    "\nconfig line 'telline0'\n\toption noise '2'\n\toption echo_cancel '1'\n"
                    "\toption txgain '31'\n\toption rxgain '-120'\n"
                    "\nconfig line 'telline1'\n\toption txgain '30'\n\toption rxgain '-121'\n";
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci(cfg));
  ASSERT_NO_FATAL_FAILURE(startPbx());
  ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "dect,fxs"}, {"hw_board_hasDect", "1"}}));
  std::string out = daemon->output();
  EXPECT_NE(out.find("  Error: noise range is 0-1\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  echo_cancel=1\n"), std::string::npos);
  EXPECT_NE(out.find("  Error: txgain range is -120 - 30 dB\n"), std::string::npos);
  EXPECT_NE(out.find("  rxgain=-120\n"), std::string::npos);
  EXPECT_NE(out.find("  txgain=30\n"), std::string::npos);
  EXPECT_NE(out.find("  Error: rxgain range is -120 - 30 dB\n"), std::string::npos);
  EXPECT_NE(out.find("fake: vrgEndptProvSet 0 611 0\n"), std::string::npos);
  EXPECT_NE(out.find("fake: vrgEndptProvSet 0 612 -120\n"), std::string::npos);
  EXPECT_NE(out.find("fake: vrgEndptProvSet 1 611 30\n"), std::string::npos);
  EXPECT_NE(out.find("fake: vrgEndptProvSet 1 612 0\n"), std::string::npos);
  EXPECT_NE(out.find("Endpoint 0 (anonymous) created successfully"), std::string::npos);
  EXPECT_NE(out.find("fake: vrgEndptInit country=26"), std::string::npos);
}

TEST_F(DaemonConfig, EndpointWithAnotherLineIdEndsStartUp) {
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig("SWE", 1)));
  ASSERT_NO_FATAL_FAILURE(
      startDaemon({{"ORVOX_FAKE_LINES", "fxs"}, {"ORVOX_FAKE_LINEID_SKEW", "1"}}, false));
  EXPECT_NE(daemon->waitExit(10000ms), 0);
  EXPECT_NE(daemon->output().find("Error creating endpoint 0: success\n"), std::string::npos)
      << daemon->output();
}

// ---------------------------------------------------------------------------------------------
// Signals and events
// ---------------------------------------------------------------------------------------------

using DaemonSignals = DaemonFixture;

TEST_F(DaemonSignals, RingingAndCallerIdReachTheLibrary) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "fxs"}}));
  fakeCtl("hook 0 1");  // off-hook: no wake-up strobes in the way
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"ringing","state":"on"})"), 0);
  EXPECT_TRUE(daemon->waitFor("fake: vrgEndptSignal line=0 cnx=-1 sig=6 value=1 -1 -1 -1"));
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"ringing","state":"off","data":"9"})"), 0);
  EXPECT_TRUE(daemon->waitFor("fake: vrgEndptSignal line=0 cnx=-1 sig=6 value=0 -1 -1 -1"));
  EXPECT_EQ(call("signal",
                 R"({"line":0,"signal":"callid","state":"on","data":"12071530, 0701234567,Bob"})"),
            0);
  EXPECT_TRUE(daemon->waitFor("fake: vrgEndptSignal line=0 cnx=-1 sig=59 text=12071530, "
                              "0701234567,Bob"));
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"busy","state":"on","data":"3"})"), 0);
  EXPECT_TRUE(daemon->waitFor("fake: vrgEndptSignal line=0 cnx=-1 sig=1 value=3 -1 -1 -1"));
  EXPECT_TRUE(daemon->waitFor("Signal busy=3 was set for line 0 \n"));
}

TEST_F(DaemonSignals, FailedSignalIsReportedWithItsStatus) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "fxs"}}));
  daemon->stop(SIGKILL);
  startDaemon({{"ORVOX_FAKE_LINES", "fxs"}, {"ORVOX_FAKE_FAIL", "vrgEndptSignal"}}, false);
  ASSERT_TRUE(daemon->waitFor("Startup ready!", 15000ms)) << daemon->output();
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"dial","state":"on"})"), 2);
  EXPECT_TRUE(daemon->waitFor("Error setting signal dial, status = 1\n"));
}

TEST_F(DaemonSignals, LineEventsReachThePbxAsCallAndBroadcast) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "fxs"}}));
  ASSERT_TRUE(client->listen("asterisk.endpoint"));
  fakeCtl("event 0 17 -5");  // OFFHOOK with a negative value
  fakeCtl("event 0 22 1");   // FAX: not in the table
  fakeCtl("event 0 26 1");   // MEDIA: disabled
  fakeCtl("event 0 3 7");    // DTMF2
  ASSERT_TRUE(pbx->waitFor("event DTMF2 data=7 line=0"));
  EXPECT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0"));
  client->pump(300ms);
  auto events = client->events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_NE(events[0].find("\"event\":\"OFFHOOK\""), std::string::npos) << events[0];
  EXPECT_NE(events[1].find("\"event\":\"DTMF2\""), std::string::npos) << events[1];
  EXPECT_TRUE(daemon->waitFor("Unknown event from endpoint: 22\n"));
  EXPECT_TRUE(daemon->waitFor("Ignoring event from endpoint: MEDIA\n"));
  EXPECT_EQ(pbx->count("event "), 2);
}

TEST_F(DaemonSignals, EventsAreBroadcastWithoutThePbx) {
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig("SWE", 1)));
  ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "fxs"}}));
  ASSERT_TRUE(client->listen("asterisk.endpoint"));
  fakeCtl("event 0 21 0");
  for (int i = 0; i < 50 && client->events().empty(); i++) client->pump(50ms);
  ASSERT_EQ(client->events().size(), 1u);
  EXPECT_NE(client->events()[0].find("FLASH"), std::string::npos);
  EXPECT_EQ(daemon->count("ubus_call_asterisk()"), 0);
}

// A PBX that never answers: each event times out once, and the calls the daemon gave up on do
// not pile up at the broker until it refuses the daemon's calls (its limit is cut to 4 here so
// that ten events run past it).
TEST_F(DaemonSignals, UnansweredEventCallsTimeOutOnceAndNeverCutTheDaemonOff) {
  ASSERT_NO_FATAL_FAILURE(startBroker({{"UBUSD_PENDING_LIMIT", "4"}}));
  ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig("SWE", 1)));
  ASSERT_NO_FATAL_FAILURE(startPbx({"--no-answer"}));
  ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "fxs"}}));
  const int events = 10;
  for (int i = 0; i < events; i++) fakeCtl("event 0 21 " + std::to_string(i));
  EXPECT_TRUE(pbx->waitFor("event FLASH", 10000ms, events)) << pbx->output();
  ASSERT_TRUE(daemon->waitFor("Timeout ubus call to asterisk\n", 15000ms, events));
  // A request the loop answers after the time-outs, and whose line it prints, orders the
  // output: whatever the time-outs still set off is printed before that line.
  EXPECT_EQ(call("signal", R"({"line":9,"signal":"ringing","state":"on"})"), 2);
  ASSERT_TRUE(daemon->waitFor("Error! No such line value: 9\n"));
  EXPECT_EQ(daemon->count("Timeout ubus call to asterisk\n"), events);
  EXPECT_EQ(daemon->count("got_asterisk_complete()"), events);
  EXPECT_EQ(daemon->count("Failed sending event to Asterisk"), events);
  // The PBX still hears every event after the silent spell.
  fakeCtl("event 0 17 0");
  EXPECT_TRUE(pbx->waitFor("event OFFHOOK", 5000ms)) << pbx->output();
}

// Text from the bus reaches the log escaped and cut to a bound, so a caller can neither forge
// log lines nor write megabytes; and however many requests come, the lines they cause share one
// limit (its window set to an hour here, so that what a flood leaves is a count, not a time).
TEST_F(DaemonSignals, BusTextIsLoggedEscapedAndBoundedAndRequestsCannotFloodTheLog) {
  ASSERT_NO_FATAL_FAILURE(
      startAll({{"ORVOX_FAKE_LINES", "fxs"}, {"ORVOX_LOG_WINDOW_MS", "3600000"}}));
  fakeCtl("hook 0 1");
  const std::string forged = R"(x\nStartup ready!\nMain event handler line 1 event OFFHOOK\n)";
  EXPECT_EQ(call("signal", R"({"line":0,"signal":")" + forged + R"(","state":"on"})"), 2);
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"dial","state":")" + forged + R"("})"), 2);
  EXPECT_EQ(call("connection", R"({"line":0,"id":1,"action":")" + forged + R"("})"), 2);
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"dial","state":"on","data":")" + forged + R"("})"),
            0);
  EXPECT_EQ(call("signal", R"({"line":0,"signal":"keypad","state":"on","data":"1\n"})"), 2);
  // Requests whose line the loop prints after everything before them: the output is complete up
  // to the first when the size is taken, and up to the second when it is taken again.
  EXPECT_EQ(call("signal", R"({"line":9,"signal":"ringing","state":"on"})"), 2);
  ASSERT_TRUE(daemon->waitFor("Error! No such line value: 9\n"));
  const size_t before = daemon->output().size();
  EXPECT_EQ(call("signal", R"({"line":0,"signal":")" + std::string(400000, 'n') +
                               R"(","state":"on"})"),
            2);
  EXPECT_EQ(call("signal", R"({"line":9,"signal":"ringing","state":"on"})"), 2);
  ASSERT_TRUE(daemon->waitFor("Error! No such line value: 9\n", 5000ms, 2));
  EXPECT_LT(daemon->output().size() - before, 1000u);
  EXPECT_EQ(daemon->count("Startup ready!\n"), 1);
  EXPECT_EQ(daemon->count("Main event handler line 1 event OFFHOOK\n"), 0);
  const std::string escaped = R"(x\nStartup ready!\nMain event handler line 1 event OFFHOOK\n)";
  for (const std::string& line :
       {"Error! No such signal: " + escaped, "Error! invalid state " + escaped,
        "Error! No such action: " + escaped, "Signal dial=" + escaped + " was set for line 0 \n",
        std::string("Warning, invalid keypad char 10 \\n\n")})
    EXPECT_EQ(daemon->count(line), 1) << line << daemon->output();

  const int flood = 300;
  for (int i = 0; i < flood; i++)
    ASSERT_EQ(call("signal", R"({"line":9,"signal":"ringing","state":"on"})"), 2);
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
  const int shown = daemon->count("Error! No such line value: 9");
  EXPECT_GT(shown, 1);
  EXPECT_LT(shown, 200) << "a flood of requests wrote a line each";
}

// ---------------------------------------------------------------------------------------------
// Connections and audio
// ---------------------------------------------------------------------------------------------

using DaemonConnections = DaemonFixture;

// Three connections a line, from one pool that any line may take from: here line 0 takes four
// of the six while line 1 has two, and a slot freed anywhere is taken again.
TEST_F(DaemonConnections, CreateUsesPcmaWithUciOptionsAndSwitchesNlpOff) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "fxs,fxs"}}));
  fakeCtl("hook 0 1");
  fakeCtl("hook 1 1");
  ASSERT_EQ(call("connection", R"({"line":0,"id":5,"action":"create"})"), 0);
  EXPECT_TRUE(daemon->waitFor(
      "fake: vrgEndptCreateConnection line=0 cnx=5 mode=2 send=1/2/8/1/20 recv=1/2/8/1/20 "
      "nte=0x7ffff ec=1 vad=1 cng=0 fax=0 sec=0 data=2 auto=0 vbd=0 relay=1"));
  EXPECT_TRUE(daemon->waitFor("fake: hdspSendCmd 0x50 0x44b4 0xff00 0 1"));
  EXPECT_TRUE(daemon->waitFor("Created connection VRNK/0/5\n"));

  EXPECT_EQ(call("connection", R"({"line":0,"id":5,"action":"create"})"), 9);
  EXPECT_TRUE(daemon->waitFor("Error; duplicated connection 0 5\n"));
  EXPECT_EQ(call("connection", R"({"line":0,"id":6,"action":"create"})"), 0);
  EXPECT_EQ(call("connection", R"({"line":0,"id":7,"action":"create"})"), 0);
  EXPECT_EQ(call("connection", R"({"line":1,"id":1,"action":"create"})"), 0);
  EXPECT_EQ(call("connection", R"({"line":0,"id":4,"action":"create"})"), 0);
  EXPECT_EQ(call("connection", R"({"line":1,"id":2,"action":"create"})"), 0);
  EXPECT_EQ(call("connection", R"({"line":0,"id":8,"action":"create"})"), 9);
  EXPECT_TRUE(daemon->waitFor("Error; out of connetion memory 0 8\n"));
  // A slot freed between others is found again, and only one.
  EXPECT_EQ(call("connection", R"({"line":1,"id":1,"action":"destroy"})"), 0);
  EXPECT_EQ(call("connection", R"({"line":1,"id":3,"action":"create"})"), 0);
  EXPECT_TRUE(daemon->waitFor("Created connection VRNK/1/3\n"));
  EXPECT_EQ(call("connection", R"({"line":0,"id":8,"action":"create"})"), 9);
  EXPECT_TRUE(daemon->waitFor("Error; out of connetion memory 0 8\n", 5000ms, 2));
  for (const char* held : {R"({"line":0,"id":6,"action":"start_conference"})",
                           R"({"line":0,"id":7,"action":"start_conference"})",
                           R"({"line":0,"id":4,"action":"start_conference"})",
                           R"({"line":1,"id":2,"action":"start_conference"})",
                           R"({"line":1,"id":3,"action":"start_conference"})"})
    EXPECT_EQ(call("connection", held), 0) << held;

  EXPECT_EQ(call("connection", R"({"line":0,"id":5,"action":"start_conference"})"), 0);
  EXPECT_TRUE(daemon->waitFor("fake: vrgEndptModifyConnection line=0 cnx=5 mode=3"));
  EXPECT_TRUE(daemon->waitFor("Enabled conference for connection 0/5\n"));
  EXPECT_EQ(call("connection", R"({"line":0,"id":5,"action":"stop_conference"})"), 0);
  EXPECT_TRUE(daemon->waitFor("Disabled conference for connection 0/5\n"));
  EXPECT_EQ(call("connection", R"({"line":0,"id":5,"action":"destroy"})"), 0);
  EXPECT_TRUE(daemon->waitFor("Closed connection VRNK/0/5\n"));
  EXPECT_EQ(call("connection", R"({"line":0,"id":9,"action":"destroy"})"), 9);
}

TEST_F(DaemonConnections, NoEchoCancellerMeansNoNlpCommand) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "fxs"}, {"ORVOX_FAKE_ECAP", "0"}}));
  ASSERT_EQ(call("connection", R"({"line":0,"id":1,"action":"create"})"), 0);
  EXPECT_TRUE(daemon->waitFor("ec=0 vad=1"));
  EXPECT_EQ(daemon->count("fake: hdspSendCmd"), 0);
}

// Writes one frame to the daemon's receive pipe as a bus message.
void sendFrame(const std::string& pipe, int32_t line, int32_t cnx, uint32_t rtpSize,
               const std::vector<uint8_t>& rtp) {
  std::vector<uint8_t> msg(16 + rtp.size());
  uint32_t size = static_cast<uint32_t>(12 + rtp.size());
  memcpy(msg.data(), &size, 4);
  memcpy(msg.data() + 4, &line, 4);
  memcpy(msg.data() + 8, &cnx, 4);
  memcpy(msg.data() + 12, &rtpSize, 4);
  if (!rtp.empty()) memcpy(msg.data() + 16, rtp.data(), rtp.size());
  int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, msg.data(), msg.size()), static_cast<ssize_t>(msg.size()));
  close(fd);
}

TEST_F(DaemonConnections, AudioCrossesBothPipesAndBadFramesAreRejected) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "fxs"}}));
  ASSERT_EQ(call("connection", R"({"line":0,"id":3,"action":"create"})"), 0);

  fakeCtl("packet 0 3 172");
  EXPECT_TRUE(pbx->waitFor("audio line=0 cnx=3 size=172"));

  std::string rx = dir.file("endpt_audio_rx");
  std::vector<uint8_t> rtp(160, 0x22);
  rtp[0] = 0x80;
  sendFrame(rx, 0, 3, 160, rtp);
  EXPECT_TRUE(daemon->waitFor("fake: vrgEndptPacket line=0 cnx=3 type=0 len=160 first=0x80"));

  rtp[0] = 0x81;
  sendFrame(rx, 0, 3, 160, rtp);  // not plain RTP version 2
  rtp[0] = 0x80;
  sendFrame(rx, 0, 4, 160, rtp);  // no such connection
  sendFrame(rx, 0, 3, 0, {});     // empty
  sendFrame(rx, 0, 3, 400, rtp);  // claims more bytes than the message holds
  EXPECT_TRUE(daemon->waitFor("bad audio packet", 3000ms, 4)) << daemon->output();
  EXPECT_EQ(daemon->count("fake: vrgEndptPacket"), 1);
}

// Writes raw bytes to the daemon's receive pipe.
void sendRaw(const std::string& pipe, const std::string& bytes) {
  int fd = open(pipe.c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

TEST_F(DaemonConnections, GarbageAndBrokenFramesOnTheAudioPipeNeverEndTheDaemon) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "fxs"}}));
  ASSERT_EQ(call("connection", R"({"line":0,"id":3,"action":"create"})"), 0);
  const std::string rx = dir.file("endpt_audio_rx");
  std::vector<uint8_t> rtp(160, 0x22);
  rtp[0] = 0x80;

  sendRaw(rx, std::string(4, '\xff'));
  EXPECT_TRUE(daemon->waitFor("bad audio packet: corrupt frame size")) << daemon->output();
  sendRaw(rx, "hello");
  EXPECT_TRUE(daemon->waitFor("bad audio packet: corrupt frame size", 5000ms, 2)) << daemon->output();
  // A writer that dies in the middle of a frame: its half is dropped, the next writer is heard.
  uint32_t size = 172;
  std::string half(reinterpret_cast<const char*>(&size), 4);
  half += std::string(100, '\x22');
  sendRaw(rx, half);
  EXPECT_TRUE(daemon->waitFor("bad audio packet: partial frame dropped")) << daemon->output();
  sendFrame(rx, 0, 3, 160, rtp);
  EXPECT_TRUE(daemon->waitFor("fake: vrgEndptPacket line=0 cnx=3 type=0 len=160")) << daemon->output();

  // A flood of bad frames gives a few lines, not one per frame.
  rtp[0] = 0x81;
  for (int i = 0; i < 200; ++i) sendFrame(rx, 0, 3, 160, rtp);
  rtp[0] = 0x80;
  sendFrame(rx, 0, 3, 160, rtp);
  EXPECT_TRUE(daemon->waitFor("fake: vrgEndptPacket line=0 cnx=3 type=0 len=160", 5000ms, 2))
      << daemon->output();
  EXPECT_LT(daemon->count("bad audio packet"), 60) << daemon->output();
  EXPECT_TRUE(daemon->running());
  EXPECT_EQ(call("count", "{}"), 0);
  EXPECT_EQ(daemon->output().find("rx buffer full"), std::string::npos);
}

// The lines of the daemon that report refused packets, and the refusals they account for: each
// line itself plus the count of those held back before it.
int refusalsAccountedFor(const std::string& out, int* lines) {
  const std::string line = "Error vrgEndptPacket: ", more = " more not shown)";
  int total = 0;
  *lines = 0;
  for (size_t at = out.find(line); at != std::string::npos; at = out.find(line, at + 1)) {
    ++*lines;
    const size_t end = out.find('\n', at);
    const size_t count = out.rfind(" (", out.find(more, at));
    total += 1 + (out.find(more, at) < end ? std::atoi(out.c_str() + count + 2) : 0);
  }
  return total;
}

// A flood of packets the library refuses gives a few lines a second, and the first line after
// it says how many were not shown: every refusal is accounted for. The call survives.
TEST_F(DaemonConnections, AFloodOfRefusedPacketsGivesAFewLinesAndACountOfTheRest) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "fxs"}, {"ORVOX_FAKE_FAIL", "vrgEndptPacket"}}));
  ASSERT_EQ(call("connection", R"({"line":0,"id":3,"action":"create"})"), 0);
  const std::string rx = dir.file("endpt_audio_rx");
  std::vector<uint8_t> rtp(12, 0x22);
  rtp[0] = 0x80;
  const std::string refused = "fake: vrgEndptPacket line=0 cnx=3";
  int sent = 0;
  for (int batch = 0; batch < 10; ++batch) {
    for (int i = 0; i < 200; ++i, ++sent) ASSERT_NO_FATAL_FAILURE(sendFrame(rx, 0, 3, 12, rtp));
    ASSERT_TRUE(daemon->waitFor(refused, 20000ms, sent));
  }
  // Once the limit's interval has passed, one more refusal brings the count of the others. A
  // refusal that came after the last count (or whose line is not read yet) is held until the
  // next one: go on until the lines account for every refusal sent.
  const auto settled = [&] {
    const std::string out = daemon->output();
    int shown = 0;
    return out.find(" more not shown)") != std::string::npos &&
           refusalsAccountedFor(out, &shown) == sent;
  };
  const auto end = std::chrono::steady_clock::now() + 20s;
  while (!settled() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(200ms);
    ASSERT_NO_FATAL_FAILURE(sendFrame(rx, 0, 3, 12, rtp));
    ASSERT_TRUE(daemon->waitFor(refused, 20000ms, ++sent));
  }
  int lines = 0;
  EXPECT_EQ(refusalsAccountedFor(daemon->output(), &lines), sent) << daemon->output();
  EXPECT_LE(lines, sent / 20) << daemon->output();
  EXPECT_TRUE(daemon->running());
  EXPECT_EQ(call("connection", R"({"line":0,"id":3,"action":"destroy"})"), 0);
}

// ---------------------------------------------------------------------------------------------
// The named pipes: the daemon's user and group only
// ---------------------------------------------------------------------------------------------

using DaemonPipes = DaemonFixture;

const char* const kPipes[] = {"endpt_event", "endpt_audio_tx", "endpt_audio_rx"};

// The group of a file (not following a link), or -1 when there is none.
long fileGroup(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_gid) : -1;
}

// The pipes are the daemon's user's and its group's (the PBX's): the pipe directory's group when
// it passes its group on, as the service script makes it, else the daemon's. A pipe an earlier
// start left is reused with the mode and the group a new one gets, so that changing the PBX's
// group and restarting lets the new group in and keeps the old one out.
TEST_F(DaemonPipes, PipesAreClosedToOtherUsersWhateverTheUmaskAndFollowTheDirectorysGroup) {
  ScopedUmask open(0);
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig()));
  // Made by the daemon.
  ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "fxs"}}));
  for (const char* pipe : kPipes) EXPECT_EQ(fileMode(dir.file(pipe)), 0660) << pipe;
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
  // Made open to everyone by someone else of the daemon's user (here the PBX stand-in) and
  // reused: closed again, and the daemon works over them.
  for (const char* pipe : kPipes) ASSERT_EQ(::chmod(dir.file(pipe).c_str(), 0666), 0);
  ASSERT_NO_FATAL_FAILURE(startPbx());
  ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "fxs"}}));
  for (const char* pipe : kPipes) EXPECT_EQ(fileMode(dir.file(pipe)), 0660) << pipe;
  fakeCtl("hook 0 1");
  EXPECT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0")) << daemon->output();
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
  if (::geteuid() != 0) {
    std::printf("not root: no other group to give the pipe directory\n");
    return;
  }
  // The directory passes its group on; the group is changed between starts, and the passing on
  // stopped at last. Made anew (the first time) or reused, each pipe has the group of the time.
  struct stat st {};
  ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
  const struct {
    gid_t group;
    mode_t mode;
    gid_t expected;
  } starts[] = {{4242, 02700, 4242}, {4343, 02700, 4343}, {4343, 0700, ::getegid()}};
  bool fresh = true;
  for (const auto& s : starts) {
    SCOPED_TRACE(std::to_string(s.expected) + (fresh ? " made anew" : " reused"));
    if (fresh) {
      for (const char* pipe : kPipes) ::unlink(dir.file(pipe).c_str());
    }
    ASSERT_EQ(::chown(dir.path().c_str(), static_cast<uid_t>(-1), s.group), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), s.mode), 0);
    ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "fxs"}}));
    for (const char* pipe : kPipes) {
      EXPECT_EQ(fileGroup(dir.file(pipe)), static_cast<long>(s.expected)) << pipe;
      EXPECT_EQ(fileMode(dir.file(pipe)), 0660) << pipe;
    }
    EXPECT_EQ(daemon->stop(SIGTERM), 0);
    fresh = false;
  }
  ASSERT_EQ(::chown(dir.path().c_str(), static_cast<uid_t>(-1), st.st_gid), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), st.st_mode & 07777), 0);
}

// What is found at a pipe path is used only when it is a pipe of the daemon's own user: a link
// would have the call's audio written into its target, a file would swallow every line event,
// another user's pipe would let that user listen and inject. Each ends the start-up clearly.
TEST_F(DaemonPipes, AnythingButTheDaemonsOwnPipeAtAPipePathIsRefused) {
  ScopedUmask open(0);
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig()));
  const std::string target = dir.file("target.raw");
  dir.write("target.raw", "");
  const int targetMode = fileMode(target);
  const struct {
    const char* pipe;
    const char* why;
    std::function<int(const std::string&)> plant;
  } cases[] = {
      {"endpt_audio_tx", "not a named pipe",
       [&](const std::string& p) { return ::symlink(target.c_str(), p.c_str()); }},
      {"endpt_event", "not a named pipe",
       [&](const std::string& p) { return ::close(::open(p.c_str(), O_CREAT | O_WRONLY, 0600)); }},
      {"endpt_audio_rx", "owned by another user",
       [&](const std::string& p) {
         return ::mkfifo(p.c_str(), 0660) == 0 ? ::chown(p.c_str(), 65534, 65534) : -1;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pipe);
    if (std::string(c.why) == "owned by another user" && ::geteuid() != 0) {
      std::printf("not root: no pipe of another user to plant\n");
      continue;
    }
    for (const char* pipe : kPipes) ::unlink(dir.file(pipe).c_str());
    ASSERT_EQ(c.plant(dir.file(c.pipe)), 0) << std::strerror(errno);
    ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "fxs"}}, false));
    EXPECT_GT(daemon->waitExit(15000ms), 0) << daemon->output();
    EXPECT_NE(daemon->output().find("Refusing " + dir.file(c.pipe) + ": " + c.why + "\n"),
              std::string::npos)
        << daemon->output();
    EXPECT_EQ(daemon->count("Startup ready!"), 0);
    EXPECT_EQ(fileMode(target), targetMode) << "the link's target was touched";
  }
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
}

// In a directory where others may write and no sticky bit keeps them to their own entries, the
// pipes could be renamed away after the start-up and replaced: the daemon does not start there.
TEST_F(DaemonPipes, APipeDirectoryOthersCanWriteIsRefusedUnlessSticky) {
  ASSERT_NO_FATAL_FAILURE(startBroker());
  ASSERT_NO_FATAL_FAILURE(startUci(defaultConfig()));
  struct stat st {};
  ASSERT_EQ(::stat(dir.path().c_str(), &st), 0);
  const struct {
    mode_t mode;
    const char* why;  // null: the daemon starts
  } cases[] = {
      {0777, "writable by others without the sticky bit"},
      {0757, "writable by others without the sticky bit"},
      {01777, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    for (const char* pipe : kPipes) ::unlink(dir.file(pipe).c_str());
    ASSERT_EQ(::chmod(dir.path().c_str(), c.mode), 0);
    ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "fxs"}}, c.why == nullptr));
    if (c.why != nullptr) {
      EXPECT_GT(daemon->waitExit(15000ms), 0) << daemon->output();
      EXPECT_NE(daemon->output().find("Refusing " + dir.path() + ": " + c.why + "\n"),
                std::string::npos)
          << daemon->output();
      EXPECT_EQ(daemon->count("Startup ready!"), 0);
      for (const char* pipe : kPipes) EXPECT_NE(::access(dir.file(pipe).c_str(), F_OK), 0) << pipe;
    } else {
      EXPECT_EQ(daemon->stop(SIGTERM), 0) << daemon->output();
    }
  }
  // A pipe directory of its own, closed to others, inside one that others may write: they could
  // rename the whole pipe directory away. So could they a link to a safe one, placed there.
  TempDir elsewhere;
  const std::string inside = dir.file("pipes"), safe = elsewhere.file("pipes"), link = dir.file("link");
  for (const std::string& d : {inside, safe}) {
    ASSERT_EQ(::mkdir(d.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(d.c_str(), 0755), 0);
  }
  ASSERT_EQ(::symlink(safe.c_str(), link.c_str()), 0);
  const struct {
    mode_t parentMode;
    std::string pipeDir, pipesIn;
    bool starts;
  } nested[] = {{0777, inside, inside, false}, {0757, link, safe, false},
                {01777, inside, inside, true}, {01777, link, safe, true}};
  for (const auto& c : nested) {
    SCOPED_TRACE(c.pipeDir + " in a directory of mode " + std::to_string(c.parentMode));
    for (const char* pipe : kPipes) ::unlink((c.pipesIn + "/" + pipe).c_str());
    ASSERT_EQ(::chmod(dir.path().c_str(), c.parentMode), 0);
    ASSERT_NO_FATAL_FAILURE(startDaemon({{"ORVOX_FAKE_LINES", "fxs"}, {"ORVOX_PIPE_DIR", c.pipeDir}}, c.starts));
    if (!c.starts) {
      EXPECT_GT(daemon->waitExit(15000ms), 0) << daemon->output();
      EXPECT_NE(daemon->output().find("Refusing " + dir.path() + ": writable by others without the sticky bit\n"),
                std::string::npos)
          << daemon->output();
      EXPECT_EQ(daemon->count("Startup ready!"), 0);
      for (const char* pipe : kPipes) EXPECT_NE(::access((c.pipesIn + "/" + pipe).c_str(), F_OK), 0) << pipe;
    } else {
      EXPECT_EQ(daemon->stop(SIGTERM), 0) << daemon->output();
    }
  }
  ASSERT_EQ(::chmod(dir.path().c_str(), st.st_mode & 07777), 0);
}

// ---------------------------------------------------------------------------------------------
// Shutdown
// ---------------------------------------------------------------------------------------------

using DaemonShutdown = DaemonFixture;

TEST_F(DaemonShutdown, SigtermClosesConnectionsLinesAndExitsCleanly) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "fxs"}}));
  ASSERT_EQ(call("connection", R"({"line":0,"id":2,"action":"create"})"), 0);
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
  std::string out = daemon->output();
  size_t quit = out.find("Shutting down on quit event");
  size_t rx = out.find("UBUS receiver has been disabled");
  size_t closed = out.find("Closed connection VRNK/0/2");
  size_t destroyed = out.find("Line 0 (Line0) destroyed successfully");
  size_t freed = out.find("Endpoint lib freed successfully");
  size_t exits = out.find("orvoxd exits");
  ASSERT_NE(quit, std::string::npos) << out;
  EXPECT_LT(quit, rx);
  EXPECT_LT(rx, closed);
  EXPECT_LT(closed, destroyed);
  EXPECT_LT(destroyed, freed);
  EXPECT_LT(freed, exits);
  EXPECT_NE(exits, std::string::npos);
}

TEST_F(DaemonShutdown, LosingTheBrokerEndsDaemonAndPbxWithAFailureAndTheyStartAgain) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "fxs"}}));
  broker->stop(SIGKILL);
  EXPECT_EQ(daemon->waitExit(15000ms), 1) << daemon->output();
  EXPECT_NE(daemon->output().find("Lost the connection to ubus: exiting"), std::string::npos)
      << daemon->output();
  EXPECT_EQ(pbx->waitExit(5000ms), 1) << pbx->output();
  EXPECT_NE(pbx->output().find("ubus connection lost"), std::string::npos) << pbx->output();
  // What the service manager does next: the broker comes back and so does everything else.
  uci->stop(SIGTERM);
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "fxs"}}));
  EXPECT_EQ(call("count", "{}"), 0);
}

TEST_F(DaemonShutdown, StrayBytesOnTheEventPipeAreIgnored) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "fxs"}}));
  int fd = open(dir.file("endpt_event").c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "xE", 2), 2);  // an 'E' with no record behind it
  close(fd);
  // The next real event comes through the same pipe after them, once.
  fakeCtl("event 0 21 0");
  EXPECT_TRUE(pbx->waitFor("event FLASH"));
  EXPECT_TRUE(daemon->running());
  EXPECT_EQ(call("count", "{}"), 0);
  EXPECT_EQ(pbx->count("event FLASH"), 1);
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

using DaemonInterop = DaemonFixture;

TEST_F(DaemonInterop, CommandLineClientCallsAndListens) {
  ASSERT_NO_FATAL_FAILURE(startAll({{"ORVOX_FAKE_LINES", "fxs"}}));
  Process count("ubus", {UBUS_CLI_BIN, "-s", socketPath(), "call", "endpt", "count"});
  EXPECT_EQ(count.waitExit(5000ms), 0);
  EXPECT_NE(count.output().find("\"num_endpoints\": 1"), std::string::npos) << count.output();

  Process listen("ubus", {UBUS_CLI_BIN, "-s", socketPath(), "listen", "asterisk.endpoint"});
  // The listener registers at its own pace: repeat the event until it is heard.
  bool heard = false;
  for (int i = 0; i < 40 && !heard; i++) {
    fakeCtl("event 0 18 0");
    heard = listen.waitFor("\"asterisk.endpoint\"", 250ms);
  }
  EXPECT_TRUE(heard) << listen.output();
  EXPECT_TRUE(listen.waitFor("\"ONHOOK\""));
  listen.stop(SIGINT);
}

}  // namespace
}  // namespace e2e
