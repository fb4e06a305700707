// A whole call through the production orvoxd on the virtual board, the PBX stand-in at the
// network side and a simulated phone on line 0: ring, answer, a G.711 A-law connection, audio in
// both directions, a digit, a hybrid's echo, then destroy and hang-up. Audio is judged in board
// time: every wait is on how much audio the board has moved. The board's tick runs fast in
// lockstep with the PBX stand-in, which grants each tick once the daemon has taken in the packets
// it answered the tick before with: the network's speech reaches the DSP at the same tick of board
// time in every run, however loaded the machine.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "orvox_fixture.h"
#include "../source/srv/pte/pte_signal_util.h"
#include "call_audio.h"
#include "board_daemon_fixture.h"

namespace e2e {
namespace {

using namespace callaudio;

std::string callConfig() {
  // No silence suppression: the PBX stand-in paces its speech by the packets it receives.
  std::string cfg = "\nconfig tel 'TEL'\n\toption country 'USA'\n";
  for (int i = 0; i < 2; i++) {
    cfg += "\nconfig line 'telline" + std::to_string(i) + "'\n\toption name 'Line" + std::to_string(i) +
           "'\n\toption echo_cancel '1'\n\toption vad '0'\n\toption noise '0'\n\toption txgain '0'\n\toption "
           "rxgain '0'\n";
  }
  return cfg;
}

std::string trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \n"), b = s.find_last_not_of(" \n");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// The project's speech recording (8 kHz, 16-bit little-endian), 13 s.
std::vector<int16_t> recordedSpeech() { return orvox_fixture::loadPcm16("speech/speech_8k.raw"); }

// One stretch of the call with a hybrid on the line: its echo path and return loss, and the
// board time at which it ended.
struct EchoPhase {
  int pathMs;
  int erlDb;
  long long endMs = 0;
};
constexpr int kEchoPhaseMs = 6000;
constexpr int kEchoMeasureMs = 2000;

class Call : public BoardDaemonFixture {
 protected:
  void startSystem(std::vector<std::string> pbxArgs) {
    ASSERT_NO_FATAL_FAILURE(startBroker());
    ASSERT_NO_FATAL_FAILURE(startUci(callConfig()));
    pbxArgs.insert(pbxArgs.end(), {"--step-board", dir.file("board.sock")});
    ASSERT_NO_FATAL_FAILURE(startPbx(pbxArgs));
    ASSERT_NO_FATAL_FAILURE(startBoardDaemon());
  }

  // Milliseconds of audio the phone on line 0 has been sent so far.
  long long audioMs() {
    const std::string st = board("0 status");
    const size_t at = st.find("egressBytes=");
    return at == std::string::npos ? -1 : std::atoll(st.c_str() + at + 12) / 16;
  }

  // The connection's first seconds in the far end's recording: the stretch where the microphone's
  // tone is heard, from its first 100 ms block to the last one louder than -20 dBm0.
  static size_t toneEndIn(const std::vector<int16_t>& x) {
    size_t at = 800;
    while (at + 800 <= x.size() && dbm0(rms(x, at, at + 800)) > -20) at += 800;
    return at;
  }

  // Waits (at most 30 s of host time) until the phone has been sent `ms` more of audio.
  long long waitAudio(int ms) {
    const long long target = audioMs() + ms;
    const auto end = std::chrono::steady_clock::now() + 30s;
    long long now = audioMs();
    while (now < target && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(10ms);
      now = audioMs();
    }
    EXPECT_GE(now, target) << "the board stopped moving audio";
    return now;
  }

  // A call the PBX stand-in loops back (shaped by `pbxArgs`) while the phone on line 0 plays a
  // 1 kHz tone: what the phone heard over `ms` of audio from the connection's creation.
  std::vector<int16_t> loopedToneHeard(std::vector<std::string> pbxArgs, int ms) {
    const std::string heard = dir.file("heard.wav");
    pbxArgs.insert(pbxArgs.begin(), "--loop");
    startSystem(pbxArgs);
    if (HasFatalFailure()) return {};
    board("0 offhook");
    EXPECT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0")) << daemon->output();
    board("0 play tone 1000 0 -10");
    board("0 record " + heard);
    EXPECT_EQ(call("connection", R"({"line":0,"id":1,"action":"create"})"), 0) << daemon->output();
    waitAudio(ms);
    board("0 record stop");
    EXPECT_EQ(call("connection", R"({"line":0,"id":1,"action":"destroy"})"), 0);
    EXPECT_EQ(daemon->stop(SIGTERM), 0);
    return readWav(heard);
  }
};

TEST_F(Call, G711ToneLeavesAsRtpDigitIsReportedEchoIsCancelledAndRecordsReturnToIdle) {
  const std::string speech = dir.file("speech.wav"), far = dir.file("far.wav"), pcap = dir.file("call.pcap"),
                    speaker = dir.file("speaker.wav");
  // The far end talks with a recorded voice, about -15 dBm0.
  writeWav(speech, recordedSpeech());
  ASSERT_NO_FATAL_FAILURE(startSystem({"--send", speech, "--wav", far, "--pcap", pcap}));

  ASSERT_EQ(call("signal", R"({"line":0,"signal":"ringing","state":"on"})"), 0);
  board("0 offhook");
  ASSERT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0")) << daemon->output();
  board("0 play tone 1000 0 -10");
  board("0 record " + speaker);
  const long long recordStart = audioMs();
  ASSERT_EQ(call("connection", R"({"line":0,"id":1,"action":"create"})"), 0) << daemon->output();
  // Three seconds of the microphone's tone, then the phone falls silent and the line's hybrid
  // echoes the far end's speech, at the corners of the echo paths and return losses a line may
  // have, each long enough for the canceller to settle on it.
  waitAudio(3000);
  board("0 play silence");
  const long long toneEnd = audioMs();
  std::vector<EchoPhase> phases{{4, 6}, {8, 20}, {8, 6}, {4, 20}};
  for (EchoPhase& p : phases) {
    board("0 hybrid " + std::to_string(p.pathMs) + " " + std::to_string(p.erlDb));
    p.endMs = waitAudio(kEchoPhaseMs);
  }
  board("0 hybrid off");
  board("0 dial 5 100 100");
  EXPECT_TRUE(pbx->waitFor("event DTMF5 ", 10000ms)) << pbx->output();
  waitAudio(500);
  board("0 record stop");

  ASSERT_EQ(call("connection", R"({"line":0,"id":1,"action":"destroy"})"), 0);
  board("0 onhook");
  EXPECT_TRUE(pbx->waitFor("event ONHOOK data=0 line=0", 5000ms)) << pbx->output();
  std::string reply;
  ASSERT_EQ(call("status", R"({"line":0})", &reply), 0);
  EXPECT_NE(reply.find("\"offhook\":0"), std::string::npos) << reply;
  // Every slot is free again: the same connection can be made once more, and goes again.
  board("0 offhook");
  ASSERT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0", 5000ms, 2)) << pbx->output();
  EXPECT_EQ(call("connection", R"({"line":0,"id":1,"action":"create"})"), 0) << daemon->output();
  EXPECT_EQ(call("connection", R"({"line":0,"id":1,"action":"destroy"})"), 0);
  board("0 onhook");
  EXPECT_TRUE(pbx->waitFor("event ONHOOK data=0 line=0", 5000ms, 2)) << pbx->output();
  EXPECT_EQ(pbx->stop(SIGTERM), 0);
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
  const std::string pbxOut = pbx->output();
  std::printf("%s", pbxOut.substr(std::min(pbxOut.size(), pbxOut.find("rtp received"))).c_str());

  // The capture opens in the independent packet analyser: every media packet of both directions
  // read as RTP, none malformed, each at the time of day it passed.
  const std::string decode = "tshark -r " + pcap + " -d udp.port==5004,rtp -d udp.port==5005,rtcp";
  const long received = std::atol(pbxOut.c_str() + pbxOut.find("rtp received ") + 13);
  const long sent = std::atol(pbxOut.c_str() + pbxOut.find("rtp sent ") + 9);
  const std::string rtpCount = shell(decode + " -Y 'rtp && ip.src==192.168.1.1' -T fields -e rtp.seq | wc -l");
  const std::string sentCount = shell(decode + " -Y 'rtp && ip.dst==192.168.1.1' -T fields -e rtp.seq | wc -l");
  const std::string malformed = shell(decode + " -Y '_ws.malformed || _ws.expert.severity >= error' | wc -l");
  const double firstTime = std::atof(shell(decode + " -c 1 -T fields -e frame.time_epoch").c_str());
  std::printf("capture: %s RTP packets read back of %ld received, %s of %ld sent, %s malformed\n",
              trim(rtpCount).c_str(), received, trim(sentCount).c_str(), sent, trim(malformed).c_str());
  EXPECT_EQ(std::atol(rtpCount.c_str()), received);
  EXPECT_EQ(std::atol(sentCount.c_str()), sent);
  EXPECT_GT(received, 400);
  EXPECT_GT(sent, 400);
  EXPECT_EQ(std::atol(malformed.c_str()), 0);
  EXPECT_NEAR(firstTime, static_cast<double>(std::time(nullptr)), 3600.0) << "not the time of day";

  // The tone as the far end decodes it.
  const std::vector<int16_t> heard = readWav(far), played = readWav(speaker);
  const size_t toneTo = toneEndIn(heard);
  ASSERT_GT(toneTo, 12000u) << heard.size();
  const double level = dbm0(rms(heard, 4000, toneTo - 2000));
  const double freq = sigmeas::peakFrequency(heard, 4000, 12000, 1000);
  std::printf("tone at the far end: %.2f dBm0 (sent -10), %.3f Hz\n", level, freq);
  EXPECT_NEAR(level, -10.0, 0.5);
  EXPECT_NEAR(freq, 1000.0, 1.0);

  // Echo: the speaker's signal came back at the return loss; over the last two seconds of each
  // phase only a residue is left. The far end's recording is placed on the board's clock by the
  // tone's end.
  const long long farOffsetMs = toneEnd - static_cast<long long>(toneTo / 8);
  auto farAt = [&](long long boardMs) { return static_cast<size_t>(std::max(0LL, (boardMs - farOffsetMs) * 8)); };
  auto playedAt = [&](long long boardMs) { return static_cast<size_t>((boardMs - recordStart) * 8); };
  for (const EchoPhase& p : phases) {
    const long long from = p.endMs - kEchoMeasureMs - 300, to = p.endMs - 300;
    const double echoLevel = dbm0(rms(played, playedAt(from), playedAt(to))) - p.erlDb;
    const double residue = dbm0(rms(heard, farAt(from), farAt(to)));
    std::printf("echo path %d ms, ERL %d dB: echo %.2f dBm0, residue after convergence %.2f dBm0: ERLE %.1f dB\n",
                p.pathMs, p.erlDb, echoLevel, residue, echoLevel - residue);
    EXPECT_GT(echoLevel, -50.0) << p.pathMs << " ms";  // the speech really was there to be echoed
    EXPECT_GE(echoLevel - residue, 25.0) << p.pathMs << " ms, " << p.erlDb << " dB";
  }
}

TEST_F(Call, G711SpeechFromTheNetworkPlaysAtOneDelayWithoutGaps) {
  const std::string speech = dir.file("speech.wav"), speaker = dir.file("speaker.wav");
  const std::vector<int16_t> sent = speechLike(5.0);
  writeWav(speech, sent);
  ASSERT_NO_FATAL_FAILURE(startSystem({"--send", speech}));
  board("0 offhook");
  ASSERT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0")) << daemon->output();
  board("0 record " + speaker);
  ASSERT_EQ(call("connection", R"({"line":0,"id":1,"action":"create"})"), 0) << daemon->output();
  EXPECT_TRUE(pbx->waitFor("speech sent", 15000ms)) << pbx->output();
  waitAudio(600);
  board("0 record stop");

  ASSERT_EQ(call("connection", R"({"line":0,"id":1,"action":"destroy"})"), 0);
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
  // Every quarter second of the speech is found in the speaker's recording, a near-perfect
  // match at its lag. Packets come steadily in board time (the lockstep), so the jitter buffer
  // keeps one delay throughout. No 5 ms frame falls silent while the speech plays.
  const std::vector<int16_t> played = readWav(speaker);
  const size_t first = onset(played, 200);
  ASSERT_LT(first, played.size());
  const long offset = static_cast<long>(first) - static_cast<long>(onset(sent, 200));
  std::vector<long> lags;
  int matching = 0, steps = 0;
  long biggestStep = 0;
  const size_t block = 2000;
  for (size_t from = 2000; from + block < sent.size(); from += block) {
    const auto [lag, match] = bestLag(sent, played, from, block, offset - 800, offset + 800);
    matching += match > 0.95 ? 1 : 0;
    if (!lags.empty() && lag != lags.back()) {
      ++steps;
      biggestStep = std::max(biggestStep, std::abs(lag - lags.back()));
    }
    lags.push_back(lag);
  }
  ASSERT_FALSE(lags.empty());
  int gaps = 0;
  const size_t end = std::min(played.size(), static_cast<size_t>(static_cast<long>(sent.size()) + lags.back()));
  for (size_t f = first; f + 40 <= end; f += 40) gaps += dbm0(rms(played, f, f + 40)) < -60 ? 1 : 0;
  std::printf("speech at the phone: %zu blocks of 250 ms, %d matching, delay %.1f ms at the end, %d delay steps "
              "(largest %.1f ms), %d silent frames\n",
              lags.size(), matching, lags.back() / 8.0, steps, biggestStep / 8.0, gaps);
  EXPECT_GE(lags.size(), 15u);
  EXPECT_EQ(matching, static_cast<int>(lags.size()));
  EXPECT_EQ(steps, 0);
  EXPECT_EQ(gaps, 0);
}

// Two calls at once whose connections the PBX numbers alike: the daemon keys them by line and
// id, and each call's audio stays with its own line. The PBX loops each connection's packets
// back, so each phone must hear its own tone and nothing of the other's.
TEST_F(Call, TwoCallsWithTheSameConnectionIdEachHearOnlyTheirOwnFarEnd) {
  const std::string heard[2] = {dir.file("heard0.wav"), dir.file("heard1.wav")};
  const int tone[2] = {600, 1400};
  ASSERT_NO_FATAL_FAILURE(startSystem({"--loop"}));
  for (int line = 0; line < 2; ++line) {
    const std::string n = std::to_string(line);
    board(n + " offhook");
    ASSERT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=" + n)) << daemon->output();
    board(n + " play tone " + std::to_string(tone[line]) + " 0 -10");
    board(n + " record " + heard[line]);
  }
  for (int line = 0; line < 2; ++line) {
    ASSERT_EQ(call("connection", "{\"line\":" + std::to_string(line) + ",\"id\":1,\"action\":\"create\"}"), 0)
        << daemon->output();
  }
  waitAudio(2000);
  for (int line = 0; line < 2; ++line) {
    board(std::to_string(line) + " record stop");
    ASSERT_EQ(call("connection", "{\"line\":" + std::to_string(line) + ",\"id\":1,\"action\":\"destroy\"}"), 0);
  }
  EXPECT_EQ(daemon->stop(SIGTERM), 0);

  // Over the last second each phone's speaker carries its own tone at about the level sent, and
  // the other line's tone is at least 30 dB below it.
  for (int line = 0; line < 2; ++line) {
    SCOPED_TRACE("line " + std::to_string(line));
    const std::vector<int16_t> x = readWav(heard[line]);
    ASSERT_GT(x.size(), 8000u);
    const size_t from = x.size() - 8000, to = x.size() - 400;
    const double own = sigmeas::amplitude(x, from, to, tone[line]);
    const double other = sigmeas::amplitude(x, from, to, tone[1 - line]);
    std::printf("line %d hears its own %d Hz at %.1f dBm0, the other line's %d Hz %.1f dB below\n", line,
                tone[line], dbm0(own / std::sqrt(2.0)), tone[1 - line], sigmeas::dB(own / std::max(other, 1e-3)));
    EXPECT_GT(dbm0(own / std::sqrt(2.0)), -16.0);
    EXPECT_GT(sigmeas::dB(own / std::max(other, 1e-3)), 30.0);
  }
}

// A stranger's well-formed RTP mixed into a live call: beside each packet of the call the PBX
// side sends four silent packets of another source, in sequence (200 a second). The phone's tone
// goes to the PBX and comes back looped, so it is heard only while both directions carry it: the
// daemon keeps playing the call's own source and the tone stays at its level in every 20 ms.
TEST_F(Call, AnotherSourceMixedIntoTheCallIsNotPlayed) {
  const std::vector<int16_t> x = loopedToneHeard({"--stranger", "4"}, 3000);
  ASSERT_FALSE(HasFatalFailure());
  ASSERT_GT(x.size(), 16000u);
  int blocks = 0, kept = 0;
  for (size_t from = x.size() - 16000; from + 160 <= x.size() - 400; from += 160, ++blocks) {
    kept += dbm0(sigmeas::amplitude(x, from, from + 160, 1000) / std::sqrt(2.0)) > -16.0 ? 1 : 0;
  }
  std::printf("the call's tone is heard in %d of %d blocks of 20 ms\n", kept, blocks);
  EXPECT_EQ(kept, blocks);
}

// The call's looped stream pauses for 160 ms (packets 50 to 57 held back), and a stranger starts
// sending in sequence with the pause and goes on to the end. The phone's 1 kHz tone comes back
// only through the call's own stream, so the blocks of 20 ms without it are those in which the
// stranger (silence) or nothing was played: one run of them around the pause, none afterwards.
// Without a stranger the stream resumes under a new source (a PBX that restarted it): the
// daemon follows it within 200 ms of media time. Figures: where the tone is missing.
struct ToneGap {
  int first = -1, last = -1, missing = 0, blocks = 0;  // 20 ms blocks from the start of the recording
};

// Counted from the first block that carries the tone (the call's start has none yet).
ToneGap toneGapIn(const std::vector<int16_t>& x) {
  ToneGap gap;
  bool started = false;
  for (size_t from = 0; from + 160 <= x.size() - 400; from += 160) {
    const bool tone = dbm0(sigmeas::amplitude(x, from, from + 160, 1000) / std::sqrt(2.0)) > -16.0;
    started = started || tone;
    if (!started) continue;
    if (!tone) {
      if (gap.first < 0) gap.first = gap.blocks;
      gap.last = gap.blocks;
      ++gap.missing;
    }
    ++gap.blocks;
  }
  return gap;
}

// The tone's gap in what the phone heard, printed.
ToneGap printedToneGap(const std::vector<int16_t>& x) {
  EXPECT_GT(x.size(), 8000u * 3);
  const ToneGap gap = x.size() > 8000u * 3 ? toneGapIn(x) : ToneGap{};
  std::printf("the tone is missing in %d of %d blocks of 20 ms, from block %d to block %d\n", gap.missing,
              gap.blocks, gap.first, gap.last);
  return gap;
}

TEST_F(Call, AStrangerFillingAPauseIsNotHeardOnceTheCallResumes) {
  const ToneGap gap = printedToneGap(loopedToneHeard({"--pause", "50:8", "--stranger", "1"}, 4000));
  ASSERT_GT(gap.blocks, 150);
  ASSERT_GE(gap.first, 0) << "the pause was not heard at all";
  // The pause's 8 packets, the 20 ms the jitter buffer takes to refill and a block at each edge.
  EXPECT_LE(gap.last - gap.first + 1, 12);
  EXPECT_EQ(gap.missing, gap.last - gap.first + 1) << "the tone came and went after the pause";
  EXPECT_LT(gap.last, gap.blocks - 100) << "the stranger was heard after the call resumed";
}

TEST_F(Call, AStreamRestartedUnderANewSourceIsFollowedWithin200Ms) {
  const ToneGap gap = printedToneGap(loopedToneHeard({"--pause", "50:0", "--new-source"}, 4000));
  ASSERT_GT(gap.blocks, 150);
  ASSERT_GE(gap.first, 0);
  EXPECT_LE(gap.last - gap.first + 1, 200 / 20);
  EXPECT_EQ(gap.missing, gap.last - gap.first + 1);
}

// The phone plays a 500 Hz tone while the PBX sends a louder 2,700 Hz tone, no hybrid echo on
// the line, the echo canceller on: for 30 s the phone's tone leaves for the PBX at one level.
// The A-law far-end tone carries a weak 500 Hz component (its 15th harmonic, aliased) that a
// canceller adapting through the double talk may take for an echo path and use to cancel the
// phone's own tone.
TEST_F(Call, NearEndToneKeepsItsLevelUnderAFarEndToneWithTheCancellerOn) {
  const std::string farTone = dir.file("tone2700.wav"), uplink = dir.file("uplink.wav");
  std::vector<int16_t> tone(8000 * 2);
  for (size_t i = 0; i < tone.size(); ++i) {
    tone[i] = static_cast<int16_t>(std::lround(9000.0 * std::sin(2 * M_PI * 2700.0 * static_cast<double>(i) / 8000)));
  }
  writeWav(farTone, tone);
  ASSERT_NO_FATAL_FAILURE(startSystem({"--send", farTone, "--wav", uplink}));
  board("0 offhook");
  ASSERT_TRUE(pbx->waitFor("event OFFHOOK data=0 line=0")) << daemon->output();
  board("0 play tone 500 0 -10");
  ASSERT_EQ(call("connection", R"({"line":0,"id":1,"action":"create"})"), 0) << daemon->output();
  waitAudio(32000);
  ASSERT_EQ(call("connection", R"({"line":0,"id":1,"action":"destroy"})"), 0);
  EXPECT_EQ(daemon->stop(SIGTERM), 0);
  EXPECT_EQ(pbx->stop(SIGTERM), 0);

  const std::vector<int16_t> x = readWav(uplink);
  ASSERT_GT(x.size(), 8000u * 31);
  double lowest = 0, highest = -200;
  for (size_t from = 8000; from + 800 <= 8000u * 31; from += 800) {
    const double level = dbm0(rms(x, from, from + 800));
    lowest = std::min(lowest, level);
    highest = std::max(highest, level);
  }
  std::printf("the phone's tone reaches the PBX at %.1f to %.1f dBm0 over 30 s\n", lowest, highest);
  EXPECT_GT(lowest, -10.5);
  EXPECT_LT(highest, -9.5);
}

}  // namespace
}  // namespace e2e
