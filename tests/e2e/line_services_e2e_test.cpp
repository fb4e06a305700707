// The line services through the production orvoxd on the virtual board: DTMF dialled on a
// simulated phone reaches the PBX stand-in as digit events; call-progress tones the PBX asks for
// are heard on the phone's line; caller ID goes out between the rings; an FXO call waits for the
// exchange's dial tone. Audio is judged with the independent library's receivers (and caller ID
// also with the project's own).
#include <cctype>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "../source/srv/linetest/line_harness.h"
#include "../source/srv/pte/pte_signal_util.h"
#include "clidrx.h"
#include "board_daemon_fixture.h"

namespace e2e {
namespace {

class LineServices : public BoardDaemonFixture {
 protected:
  std::string country = "USA";

  void startSystem(int lines = 2, const std::string& config = "", std::vector<std::string> pbxArgs = {}) {
    ASSERT_NO_FATAL_FAILURE(startBroker());
    ASSERT_NO_FATAL_FAILURE(startUci(config.empty() ? defaultConfig(country, lines) : config));
    ASSERT_NO_FATAL_FAILURE(startPbx(pbxArgs));
    ASSERT_NO_FATAL_FAILURE(startBoardDaemon());
  }

  // The hook clock (ms) a board reply gives, -1 where it gives none.
  static long hookClockIn(const std::string& reply) {
    const size_t at = reply.find("hookClock=");
    return at == std::string::npos ? -1 : std::atol(reply.c_str() + at + 10);
  }

  // Puts the fast tick in lockstep with the line driver's hook sampling and returns the board's
  // time (ms on the hook clock) of the next tick.
  long lockstepLine() {
    const std::string st = board("lockstep line");
    EXPECT_EQ(st.rfind("OK", 0), 0u) << st;
    return hookClockIn(st);
  }

  // Starts recording `line` to `wav`; the board's time (ms on the hook clock) where it starts.
  long recordFrom(int line, const std::string& wav) {
    const std::string st = board(std::to_string(line) + " record " + wav);
    EXPECT_NE(st.find("hookClock="), std::string::npos) << st;
    return hookClockIn(st);
  }

  // The hook clock of line 0 (ms), -1 when the board does not answer.
  long hookClockMs() {
    return hookClockIn(board("0 status"));
  }

  // Waits (at most 30 s) until line 0's hook clock has reached `ms`.
  void waitBoardMs(long ms) {
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (hookClockMs() < ms && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(20ms);
    EXPECT_GE(hookClockMs(), ms) << "the line driver stopped sampling";
  }

  // Waits (at most 20 s) until the phone on `line` has been sent `ms` more milliseconds of audio.
  void waitAudio(int line, int ms) {
    auto bytes = [&] {
      const std::string st = board(std::to_string(line) + " status");
      const size_t at = st.find("egressBytes=");
      return at == std::string::npos ? 0LL : std::atoll(st.c_str() + at + 12);
    };
    const long long target = bytes() + 16LL * ms;
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (bytes() < target && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(20ms);
  }

  // The line's mode timeline on the line driver's hook clock (ms).
  static std::string modeTimeline(const std::string& status) {
    const size_t at = status.find("mode timeline (ms on the line driver's hook clock):");
    if (at == std::string::npos) return "";
    return status.substr(at, status.find('\n', at) - at);
  }

  // The bytes the project's own caller-ID receiver takes from the line's audio.
  static std::string ownReceiver(const std::vector<int16_t>& x) {
    linetest::open(&clidrxsrvarc, 40);
    linetest::command(HAPI_CLIDRX_ENABLE_CMD, 1, 0);
    clidrxsrv::HSZCLIDRXREGS regs = clidrxsrv::HAPI_CLIDRX_DEF_REGS;
    linetest::extCommand(HAPI_CLIDRX_SETREGS_CMD, &regs, sizeof(regs));
    linetest::world().host.clear();
    linetest::world().ingressIn.assign(x.begin(), x.end());
    linetest::drain(20);
    std::string bytes;
    for (const linetest::HostMsg& m : linetest::world().host) {
      if (m.header != HAPI_CLIDRX_PKT_EVT) continue;
      HSZCLIDRXPACKET p{};
      std::memcpy(&p, m.data.data(), std::min(m.data.size(), sizeof(p)));
      if (p.hsxClassCode == 0) continue;  // seizure and mark lengths
      bytes.append(reinterpret_cast<const char*>(p.hsxClassMsg), static_cast<size_t>(p.hsxClassMsgWord0));
    }
    linetest::close();
    return bytes;
  }

  std::vector<int16_t> readWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> x(bytes.size() > 44 ? (bytes.size() - 44) / 2 : 0);
    if (!x.empty()) std::memcpy(x.data(), bytes.data() + 44, x.size() * 2);
    return x;
  }
};

}  // namespace

TEST_F(LineServices, DtmfDialledOnThePhoneReachesThePbx) {
  ASSERT_NO_FATAL_FAILURE(startSystem());
  board("0 offhook");
  ASSERT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0")) << daemon->output();
  waitAudio(0, 300);
  board("0 dial 159*#0 80 80");
  waitAudio(0, 1200);
  for (const char* d : {"DTMF1", "DTMF5", "DTMF9", "DTMFS", "DTMFH", "DTMF0"}) {
    EXPECT_TRUE(pbx->waitFor(std::string("event ") + d, 8000ms)) << d << "\n" << pbx->output();
  }
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
}

TEST_F(LineServices, CallProgressTonesHeardAtTheProfilesFrequenciesAndCadences) {
  // The USA profile (prov/tel_profiles/USA_profile.xml): dial 350 + 440 Hz steady; busy 480 +
  // 620 Hz, 500 ms on and off; ringback 440 + 480 Hz, 2 s on, 4 s off; call waiting 440 Hz, 300 ms.
  struct Expect {
    const char* signal;
    std::vector<double> freqs;
    int onMs, offMs;
    int listenMs;  // of audio
  };
  const Expect tones[] = {
      {"dial", {350, 440}, 0, 0, 1500},
      {"busy", {480, 620}, 500, 500, 2700},
      {"ringback", {440, 480}, 2000, 4000, 6600},
      {"callwt", {440}, 300, 0, 1200},
  };
  ASSERT_NO_FATAL_FAILURE(startSystem());
  board("0 offhook");
  ASSERT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0")) << daemon->output();
  for (const Expect& t : tones) {
    const std::string wav = dir.file(std::string(t.signal) + ".wav");
    board("0 record " + wav);
    ASSERT_EQ(call("signal", std::string(R"({"line":0,"signal":")") + t.signal + R"(","state":"on"})"), 0);
    waitAudio(0, t.listenMs);
    call("signal", std::string(R"({"line":0,"signal":")") + t.signal + R"(","state":"off"})");
    waitAudio(0, 200);
    board("0 record stop");
    const auto x = readWav(wav);
    const auto b = sigmeas::bursts(x, 100);
    ASSERT_FALSE(b.empty()) << t.signal;
    double worstHz = 0, worstMs = 0;
    const size_t from = b[0].start + 80, to = std::min(b[0].end, b[0].start + 8000) - 80;
    for (double f : t.freqs) worstHz = std::max(worstHz, std::abs(sigmeas::peakFrequency(x, from, to, f) - f));
    if (t.onMs == 0) {
      EXPECT_EQ(b.size(), 1u) << t.signal;  // steady until turned off
    } else {
      for (size_t i = 0; i < b.size(); ++i) {
        const bool whole = i + 1 < b.size() || t.offMs == 0;  // the last burst may be cut off
        if (whole) worstMs = std::max(worstMs, std::abs((b[i].end - b[i].start) / 8.0 - t.onMs));
        if (i + 1 < b.size()) worstMs = std::max(worstMs, std::abs((b[i + 1].start - b[i].end) / 8.0 - t.offMs));
      }
    }
    std::printf("%s: %zu bursts, worst frequency error %.3f Hz, worst cadence error %.2f ms\n", t.signal, b.size(),
                worstHz, worstMs);
    EXPECT_LE(worstHz, 0.5) << t.signal;
    EXPECT_LE(worstMs, 5.0) << t.signal;
    if (t.offMs != 0) {
      EXPECT_GE(b.size(), 2u) << t.signal;  // the cadence repeats
    }
  }
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
}

TEST_F(LineServices, CallerIdBetweenTheFirstAndSecondRingDecodesToNumberAndName) {
  ASSERT_NO_FATAL_FAILURE(startSystem());
  lockstepLine();
  const std::string wav = dir.file("cid.wav");
  const long recordStartMs = recordFrom(0, wav);
  ASSERT_EQ(call("signal", R"({"line":0,"signal":"callid_ringing","state":"on"})"), 0);
  ASSERT_EQ(call("signal", R"({"line":0,"signal":"callid","state":"on","data":"12071530, 5551234567,ALICE"})"), 0);
  // Until the second ring starts (the caller ID goes out in the pause after the first).
  std::string status;
  const auto end = std::chrono::steady_clock::now() + 20s;
  for (size_t rings = 0; rings < 2 && std::chrono::steady_clock::now() < end;) {
    std::this_thread::sleep_for(200ms);
    status = board("0 status");
    rings = 0;
    const std::string timeline = modeTimeline(status);
    for (size_t p = timeline.find(":RING"); p != std::string::npos; p = timeline.find(":RING", p + 1)) ++rings;
  }
  board("0 record stop");
  call("signal", R"({"line":0,"signal":"callid_ringing","state":"off"})");
  const auto x = readWav(wav);
  // The independent receiver decodes the FSK on the phone's line.
  std::vector<uint8_t> msg;
  adsi_rx_state_t* rx = adsi_rx_init(
      nullptr, ADSI_STANDARD_CLASS,
      [](void* user, const uint8_t* m, int len) { static_cast<std::vector<uint8_t>*>(user)->assign(m, m + len); },
      &msg);
  adsi_rx(rx, x.data(), static_cast<int>(x.size()));
  adsi_rx_free(rx);
  const std::string text(msg.begin(), msg.end());
  std::string hex;
  for (uint8_t c : msg) hex += (c >= 32 && c < 127) ? std::string(1, static_cast<char>(c)) : "<" + std::to_string(c) + ">";
  EXPECT_NE(text.find("5551234567"), std::string::npos) << daemon->output();
  EXPECT_NE(text.find("ALICE"), std::string::npos) << hex;
  // The project's own receiver reads the same number and name from the same audio.
  const std::string own = ownReceiver(x);
  std::printf("caller ID: the own receiver took %zu bytes\n", own.size());
  EXPECT_NE(own.find("5551234567"), std::string::npos);
  EXPECT_NE(own.find("ALICE"), std::string::npos);
  const auto b = sigmeas::bursts(x, 100);
  ASSERT_FALSE(b.empty());
  // The rings from the board's timeline (ms since the board started): FSK lies in the first pause.
  std::vector<std::pair<long, std::string>> modes;
  std::stringstream timeline(modeTimeline(status));
  for (std::string w; timeline >> w;) {
    const size_t colon = w.find(':');
    if (colon != std::string::npos && std::isdigit(static_cast<unsigned char>(w[0]))) {
      modes.emplace_back(std::atol(w.c_str()), w.substr(colon + 1));
    }
  }
  long firstRingEnd = -1, secondRing = -1;
  for (size_t i = 0; i < modes.size(); ++i) {
    if (modes[i].second != "RING") continue;
    if (firstRingEnd < 0 && i + 1 < modes.size()) {
      firstRingEnd = modes[i + 1].first;
    } else if (firstRingEnd >= 0 && modes[i].first > firstRingEnd) {
      secondRing = modes[i].first;
      break;
    }
  }
  const long fskStart = recordStartMs + static_cast<long>(b[0].start / 8), fskEnd = recordStartMs + static_cast<long>(b[0].end / 8);
  std::printf("caller ID: %zu bytes decoded; first ring ends at %ld ms, FSK %ld..%ld ms, second ring at %ld ms\n",
              msg.size(), firstRingEnd, fskStart, fskEnd, secondRing);
  EXPECT_GT(fskStart, firstRingEnd);
  EXPECT_LT(fskEnd, secondRing);
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
}

TEST_F(LineServices, DtmfCallerIdWhereTheProfileSelectsIt) {
  country = "SWE";  // on-hook caller ID after a line reversal, sent as DTMF
  ASSERT_NO_FATAL_FAILURE(startSystem());
  const long recordStartMs = lockstepLine();
  const std::string wav = dir.file("dtmfcid.wav");
  board("0 record " + wav);
  ASSERT_EQ(call("signal", R"({"line":0,"signal":"callid_ringing","state":"on"})"), 0);
  ASSERT_EQ(call("signal", R"({"line":0,"signal":"callid","state":"on","data":"12071530, 5551234567,ALICE"})"), 0);
  waitBoardMs(recordStartMs + 4000);
  board("0 record stop");
  call("signal", R"({"line":0,"signal":"callid_ringing","state":"off"})");
  const auto x = readWav(wav);
  dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, nullptr, nullptr);
  dtmf_rx(rx, x.data(), static_cast<int>(x.size()));
  char digits[64] = {};
  dtmf_rx_get(rx, digits, sizeof(digits) - 1);
  dtmf_rx_free(rx);
  std::printf("DTMF caller ID heard on the phone's line: %s\n", digits);
  EXPECT_NE(std::string(digits).find("5551234567"), std::string::npos) << daemon->output();
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
}

// The PBX's digit signals "dtmf0" to "dtmfD" are played to the phone as those digits, each for as
// long as the signal is on.
TEST_F(LineServices, PbxDigitSignalsArePlayedToThePhone) {
  ASSERT_NO_FATAL_FAILURE(startSystem());
  board("0 offhook");
  ASSERT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0")) << daemon->output();
  const std::string wav = dir.file("digits.wav");
  board("0 record " + wav);
  const std::string digits = "0123456789*#ABCD";
  for (char d : digits) {
    const std::string name = std::string(R"({"line":0,"signal":"dtmf)") + d;
    ASSERT_EQ(call("signal", name + R"(","state":"on"})"), 0) << d;
    waitAudio(0, 150);
    ASSERT_EQ(call("signal", name + R"(","state":"off"})"), 0) << d;
    waitAudio(0, 150);
  }
  board("0 record stop");
  const auto x = readWav(wav);
  dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, nullptr, nullptr);
  dtmf_rx(rx, x.data(), static_cast<int>(x.size()));
  char heard[64] = {};
  dtmf_rx_get(rx, heard, sizeof(heard) - 1);
  dtmf_rx_free(rx);
  std::printf("digits heard on the phone: %s\n", heard);
  EXPECT_EQ(std::string(heard), digits);
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
}

// The line gains of the configuration: "rxgain" scales what the phone hears (a tone the line plays
// and the network's audio), "txgain" what the phone sends, in dB. Three phones with different
// gains hear their own 1 kHz tone back through a PBX that loops their packets, and the dial tone.
TEST_F(LineServices, LineGainsScaleWhatThePhoneHearsAndWhatItSends) {
  boardShape = "fxs=3,fxo=0,dect=0";
  const int gains[3][2] = {{0, 0}, {6, 0}, {0, -9}};  // txgain, rxgain
  std::string config = "\nconfig tel 'TEL'\n\toption country 'USA'\n";
  for (int i = 0; i < 3; ++i) {
    config += "\nconfig line 'telline" + std::to_string(i) + "'\n\toption name 'Line" + std::to_string(i) +
              "'\n\toption echo_cancel '0'\n\toption vad '0'\n\toption noise '0'\n\toption txgain '" +
              std::to_string(gains[i][0]) + "'\n\toption rxgain '" + std::to_string(gains[i][1]) + "'\n";
  }
  // The PBX grants the board its ticks, so that the looped packets keep pace with the audio.
  ASSERT_NO_FATAL_FAILURE(startSystem(3, config, {"--loop", "--step-board", dir.file("board.sock")}));
  double dial[3], looped[3];
  for (int line = 0; line < 3; ++line) {
    const std::string n = std::to_string(line);
    board(n + " offhook");
    ASSERT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=" + n)) << daemon->output();
    // Dial tone (350 + 440 Hz) from the line itself.
    const std::string tone = dir.file("dial" + n + ".wav");
    board(n + " record " + tone);
    ASSERT_EQ(call("signal", R"({"line":)" + n + R"(,"signal":"dial","state":"on"})"), 0);
    waitAudio(line, 600);
    call("signal", R"({"line":)" + n + R"(,"signal":"dial","state":"off"})");
    board(n + " record stop");
    auto x = readWav(tone);
    const auto b = sigmeas::bursts(x, 100);
    ASSERT_EQ(b.size(), 1u) << line;
    ASSERT_GT(b[0].end - b[0].start, 3200u) << line;
    // The same 200 ms of every line's tone: how long the tone lasts depends on the machine's load,
    // and over seconds the generator's 439.94 Hz drifts off a 440 Hz correlation by a decibel.
    dial[line] = sigmeas::dB(sigmeas::amplitude(x, b[0].start + 800, b[0].start + 2400, 440));
    // The phone's tone through the network and back.
    board(n + " play tone 1000 0 -20");
    const std::string back = dir.file("loop" + n + ".wav");
    ASSERT_EQ(call("connection", R"({"line":)" + n + R"(,"id":1,"action":"create"})"), 0) << daemon->output();
    waitAudio(line, 500);
    board(n + " record " + back);
    waitAudio(line, 1000);
    board(n + " record stop");
    x = readWav(back);
    ASSERT_GT(x.size(), 6400u) << line;
    looped[line] = sigmeas::dB(sigmeas::amplitude(x, x.size() - 4800, x.size() - 800, 1000));
    ASSERT_EQ(call("connection", R"({"line":)" + n + R"(,"id":1,"action":"destroy"})"), 0);
    board(n + " play silence");
  }
  for (int line = 1; line < 3; ++line) {
    std::printf("line %d (txgain %d, rxgain %d): dial tone %+.2f dB, looped tone %+.2f dB against line 0\n", line,
                gains[line][0], gains[line][1], dial[line] - dial[0], looped[line] - looped[0]);
    EXPECT_NEAR(dial[line] - dial[0], gains[line][1], 0.5) << line;
    EXPECT_NEAR(looped[line] - looped[0], gains[line][0] + gains[line][1], 0.5) << line;
  }
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
}

// Country-profile values the daemon refuses: the Swedish profile with its minimum disconnect time
// mistyped and a boolean that is not one. The daemon names both and starts, each item with its
// built-in value: a 200 ms flash stays a flash (a disconnect time taken as 0 would turn it into an
// on-hook and an off-hook and end the call). A bad value in a tone, which has no built-in value,
// stops start-up as a missing profile does.
TEST_F(LineServices, RefusedProfileValuesKeepTheirBuiltInValueOrStopStartUp) {
  std::ifstream in(ORVOX_SOURCE_DIR "/prov/tel_profiles/SWE_profile.xml");
  const std::string swedish((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto replaced = [&](std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
  };
  TempDir profiles;
  profiles.write("SWE_profile.xml",
                 replaced(replaced(swedish, "<MinDisconnect>400<", "<MinDisconnect>4OO<"),
                          "<HighVoltageRingSupport>false<", "<HighVoltageRingSupport>zz<"));
  profileDir = profiles.path();
  country = "SWE";
  ASSERT_NO_FATAL_FAILURE(startSystem());
  // Each refused value is named once (the profile is read once at start-up).
  const std::string out = daemon->output();
  EXPECT_EQ(daemon->count("tagName MinDisconnect: \"4OO\" is not a number"), 1) << out;
  EXPECT_EQ(daemon->count("tagName HighVoltageRingSupport: \"zz\" is neither true nor false"), 1) << out;
  board("0 offhook");
  ASSERT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0")) << daemon->output();
  board("0 flash 200");
  EXPECT_TRUE(pbx->waitFor("event FLASH data=0 line=0", 5000ms)) << pbx->output();
  EXPECT_EQ(pbx->count("event ONHOOK"), 0) << pbx->output();
  EXPECT_EQ(pbx->count("event OFFHOOK"), 1) << pbx->output();
  EXPECT_EQ(daemon->stop(SIGTERM), 0);

  profiles.write("SWE_profile.xml", replaced(swedish, "<noSteadyTone>true<", "<noSteadyTone>ture<"));
  daemon = std::make_unique<Process>("orvoxd", std::vector<std::string>{ORVOXD_BIN}, boardEnv());
  EXPECT_EQ(daemon->waitExit(30000ms), 1);
  const std::string refused = daemon->output();
  EXPECT_NE(refused.find("noSteadyTone: \"ture\" is neither true nor false"), std::string::npos) << refused;
  EXPECT_NE(refused.find("Error! No valid telephony profile for country"), std::string::npos) << refused;
  EXPECT_EQ(refused.find("Startup ready!"), std::string::npos) << refused;
}

}  // namespace e2e
