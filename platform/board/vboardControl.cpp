// Control commands of the virtual board and the socket that serves them to boardctl.

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

#include "vboardInternal.h"

namespace vboard {

namespace {

constexpr const char* kDefaultSocket = "/tmp/orvox_board.sock";
constexpr mode_t kSocketMode = 0600;
constexpr size_t kMaxCommand = 1024;

const char* typeName(dh_type type) {
  switch (type) {
    case DSPHAL_TYPE_FXS: return "fxs";
    case DSPHAL_TYPE_FXO: return "fxo";
    case DSPHAL_TYPE_DECT: return "dect";
    default: return "none";
  }
}

const char* slicModeName(int mode) {
  static const char* names[] = {"LCFO", "STANDBY", "OHT", "OHTR", "TIPOPEN", "RING",
                                "LCF",  "RLCF",    "RINGOPEN", "WINK", "NULL"};
  return mode >= 0 && mode <= SLIC_MODE_NULL ? names[mode] : "?";
}

const char* daaModeName(int mode) {
  static const char* names[] = {"ONHOOK", "ONHOOK_DATA", "OFFHOOK", "RING_VALID_ON",
                                "RING_VALID_OFF"};
  return mode >= 0 && mode <= DAA_MODE_RING_VALID_OFF ? names[mode] : "?";
}

std::string error(const std::string& text) { return "ERROR: " + text + "\n"; }

// A whole non-negative number no larger than `max`.
bool number(const std::string& text, long max, long* value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE || v < 0 || v > max) return false;
  *value = v;
  return true;
}

bool signedNumber(const std::string& text, long* value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno == ERANGE) return false;
  *value = v;
  return true;
}

const char* kUsage =
    "commands: board | tickstats [reset] | lockstep [off|line|step] | step [ticks] |\n"
    "  <line> status | <line> offhook | <line> onhook | <line> flash [ms] |\n"
    "  <line> dial <digits> [on_ms off_ms] | <line> pulse <digits> [break make interdigit] |\n"
    "  <line> play silence | <line> play tone <hz> [hz2] [dBm0] | <line> play <file.wav> |\n"
    "  <line> record <file.wav> | <line> record stop | <line> ring [on off count] |\n"
    "  <line> stopring | <line> reverse on|off | <line> linetest <ret> [v1 v2 v3 v4] |\n"
    "  <line> hybrid <delay_ms 1..60> <erl_dB 0..60> | <line> hybrid off\n";

std::string boardStatus(Board& b) {
  std::ostringstream out;
  out << "OK board fxs=" << b.config.fxs << " fxo=" << b.config.fxo << " dect=" << b.config.dect
      << " wideband=" << (b.config.wideband ? 1 : 0) << " tick=" << (b.fastTicks ? "fast" : "5ms")
      << " ticks=" << b.ticks.load() << " missed=" << b.missedTicks.load()
      << " lockstep=" << (b.lockstep == Lockstep::LINE ? "line" : b.lockstep == Lockstep::STEP ? "step" : "off")
      << " tickEnabled=" << (b.tickEnabled ? 1 : 0) << " voiceIdle=" << (b.voiceIdle ? 1 : 0)
      << " lineDriver=" << (b.ssInitialised ? "up" : "down") << " country=" << b.country << "\n";
  return out.str();
}

// The processor time of a tick's work: "tickstats" shows it, "tickstats reset" starts anew;
// either times the ticks from then on.
std::string tickStats(Board& b, bool reset) {
  std::ostringstream out;
  b.timeTicks = true;
  if (reset) {
    b.tickCpuTotalNs = b.tickCpuWorstNs = b.tickCpuCount = 0;
    return "OK tick statistics reset\n";
  }
  const double avgUs = b.tickCpuCount ? static_cast<double>(b.tickCpuTotalNs) / b.tickCpuCount / 1000 : 0;
  out << "OK ticks timed=" << b.tickCpuCount << " cpuAvgUs=" << avgUs
      << " cpuWorstUs=" << static_cast<double>(b.tickCpuWorstNs) / 1000 << "\n";
  return out.str();
}

std::string lineStatus(Board& b, int line) {
  Channel& ch = b.channels[line];
  std::ostringstream out;
  out << "OK line " << line << " type=" << typeName(ch.type) << " rate=" << ch.sampleRate()
      << " enabled=" << (ch.enabled ? 1 : 0);
  if (ch.type == DSPHAL_TYPE_FXS) {
    out << " hook=" << (phoneOffHook(ch) ? "offhook" : "onhook")
        << " slic=" << slicModeName(ch.slicMode) << " polarity=" << ch.polarity
        << " dialling=" << (ch.source.dialling() || !ch.hookScript.empty() ? 1 : 0)
        << " hookClock=" << ch.hookClockMs;
  } else if (ch.type == DSPHAL_TYPE_FXO) {
    out << " daa=" << daaModeName(ch.daaMode) << " ringing=" << (exchangeRinging(ch) ? 1 : 0);
  }
  out << " source=" << ch.source.describe() << " sink=" << (ch.sink.isOpen() ? ch.sinkPath : "none")
      << " ingressBytes=" << ch.ingressBytes << " egressBytes=" << ch.egressBytes
      << " egressLevel=" << static_cast<int>(egressLastLevel(ch)) << " hybrid=";
  if (ch.hybridDelay > 0) {
    out << ch.hybridDelay * 1000 / ch.sampleRate() << "ms/" << ch.hybridErlDb << "dB\n";
  } else {
    out << "off\n";
  }
  if (ch.type == DSPHAL_TYPE_FXS) {
    out << "ring parameters: frequency=" << ch.ringParms.frequency
        << " waveshape=" << ch.ringParms.waveshape << " voltage=" << ch.ringParms.voltage
        << " offset=" << ch.ringParms.offset << "\n";
    out << "ringing (ms on, from SLIC_MODE_RING):";
    for (const RingBurst& r : ch.rings) {
      out << ' ' << (r.durationMs < 0 ? nowMs() - r.startMs : r.durationMs);
    }
    out << "\nringing (ms on the line driver's hook clock):";
    for (const RingBurst& r : ch.rings) {
      out << ' ' << (r.clockMs < 0 ? ch.hookClockMs - r.startClockMs : r.clockMs);
    }
    out << "\nmode timeline (ms since start):";
    for (const TimedValue& t : ch.modeTimeline) {
      out << ' ' << (t.atMs - b.startMs) << ':' << slicModeName(t.value);
    }
    out << "\nmode timeline (ms on the line driver's hook clock):";
    for (const TimedValue& t : ch.modeTimeline) out << ' ' << t.clockMs << ':' << slicModeName(t.value);
    out << "\npolarity timeline (ms since start):";
    for (const TimedValue& t : ch.polarityTimeline) out << ' ' << (t.atMs - b.startMs) << ':' << t.value;
    out << "\n";
  }
  return out.str();
}

std::string hookCommand(Channel& ch, int line, const std::vector<std::string>& w) {
  const std::string& cmd = w[1];
  // Scripts run on the line driver's sampling clock and start with its next sample, so that a
  // break of B ms is seen by exactly B / 10 samples.
  const int64_t now = ch.hookClockMs + HOOK_SAMPLE_MS;
  phoneOffHook(ch);
  if (cmd == "offhook" || cmd == "onhook") {
    ch.hookScript.clear();
    ch.offHook = cmd == "offhook";
    return "OK line " + std::to_string(line) + " " + cmd + "\n";
  }
  if (!ch.offHook || !ch.hookScript.empty()) {
    return error("line " + std::to_string(line) + " must be off-hook and idle to " + cmd);
  }
  if (cmd == "flash") {
    // 24 of the shipped profiles take a flash of 80 to 300 ms (300 itself is too long), the
    // USA, TWN and T57 ones 300 to 1000 ms: no one time suits all, and the default suits the
    // most, the sample configuration's Swedish profile among them.
    // A break shorter than one of the line driver's hook samples is never seen: no flash at all.
    long ms = 200;
    if (w.size() > 2 && (!number(w[2], 5000, &ms) || ms < HOOK_SAMPLE_MS))
      return error("flash time must be " + std::to_string(HOOK_SAMPLE_MS) + "..5000 ms");
    ch.hookScript.push_back({now, false});
    ch.hookScript.push_back({now + ms, true});
    return "OK line " + std::to_string(line) + " flash " + std::to_string(ms) + " ms\n";
  }
  // pulse <digits> [break make interdigit]
  if (w.size() < 3) return error("pulse needs digits");
  long brk = 60, make = 40, gap = 700;
  if (w.size() > 3 && (w.size() != 6 || !number(w[3], 1000, &brk) || !number(w[4], 1000, &make) ||
                       !number(w[5], 5000, &gap) || brk < 20 || make < 20 || gap < 100)) {
    return error("pulse timing must be: break (20..1000) make (20..1000) interdigit (100..5000) ms");
  }
  if (w[2].size() > 32) return error("at most 32 digits at once");
  int64_t at = now;
  for (char c : w[2]) {
    if (c < '0' || c > '9') return error(std::string("cannot pulse-dial '") + c + "'");
  }
  for (char c : w[2]) {
    const int pulses = c == '0' ? 10 : c - '0';
    for (int p = 0; p < pulses; ++p) {
      ch.hookScript.push_back({at, false});
      at += brk;
      ch.hookScript.push_back({at, true});
      at += make;
    }
    at += gap;
  }
  return "OK line " + std::to_string(line) + " pulse " + w[2] + "\n";
}

std::string audioCommand(Channel& ch, int line, const std::vector<std::string>& w) {
  const std::string& cmd = w[1];
  std::string why;
  if (cmd == "play") {
    if (w.size() < 3) return error("play needs silence, tone <hz> ... or a WAV file");
    if (w[2] == "silence") {
      ch.source.setSilence();
    } else if (w[2] == "tone") {
      long f1 = 0, f2 = 0, level = -10;
      if (w.size() < 4 || !number(w[3], 7999, &f1) || (w.size() > 4 && !number(w[4], 7999, &f2)) ||
          (w.size() > 5 && !signedNumber(w[5], &level)) || level > 3 || level < -60) {
        return error("play tone <hz> [hz2] [dBm0 -60..3]");
      }
      ch.source.setTone(static_cast<double>(f1), static_cast<double>(f2), static_cast<double>(level));
    } else if (!ch.source.setWav(w[2], ch.sampleRate(), &why)) {
      return error(why);
    }
    return "OK line " + std::to_string(line) + " plays " + ch.source.describe() + "\n";
  }
  // record <file.wav> | record stop
  if (w.size() < 3) return error("record needs a WAV file or stop");
  if (w[2] == "stop") {
    ch.sink.close();
    ch.sinkPath.clear();
    return "OK line " + std::to_string(line) + " recording stopped\n";
  }
  if (!ch.sink.open(w[2], ch.sampleRate(), &why)) return error(why);
  ch.sinkPath = w[2];
  // Where on the line driver's hook clock the recording starts: a client that times what it hears
  // against the line's timelines must not take the time it asked at, which load may delay.
  return "OK line " + std::to_string(line) + " records to " + w[2] + " hookClock=" + std::to_string(ch.hookClockMs) + "\n";
}

// A hybrid that returns the line's egress as echo; "off" takes it away.
std::string hybridCommand(Channel& ch, int line, const std::vector<std::string>& w) {
  if (w.size() == 3 && w[2] == "off") {
    ch.hybridDelay = 0;
    ch.echoHistory.clear();
    ch.echoWrittenUntil = 0;
    return "OK line " + std::to_string(line) + " hybrid off\n";
  }
  long delayMs = 0, erl = 0;
  if (w.size() != 4 || !number(w[2], MAX_HYBRID_DELAY_MS, &delayMs) || delayMs < 1 ||
      !number(w[3], 60, &erl)) {
    return error("hybrid <delay_ms 1.." + std::to_string(MAX_HYBRID_DELAY_MS) + "> <erl_dB 0..60> | hybrid off");
  }
  ch.hybridDelay = static_cast<int>(delayMs) * ch.sampleRate() / 1000;
  ch.hybridErlDb = static_cast<double>(erl);
  ch.hybridGain = std::pow(10.0, -ch.hybridErlDb / 20.0);
  return "OK line " + std::to_string(line) + " hybrid " + std::to_string(delayMs) + " ms " +
         std::to_string(erl) + " dB\n";
}

std::string dialCommand(Channel& ch, int line, const std::vector<std::string>& w) {
  if (w.size() < 3) return error("dial needs digits");
  if (ch.type == DSPHAL_TYPE_FXS && !phoneOffHook(ch)) {
    return error("line " + std::to_string(line) + " is on-hook: take it off-hook to dial");
  }
  long on = 100, off = 100;
  if (w.size() > 3 && (w.size() != 5 || !number(w[3], 2000, &on) || !number(w[4], 2000, &off) ||
                       on < 20)) {
    return error("dial timing must be: on_ms (20..2000) off_ms");
  }
  const int perMs = ch.sampleRate() / 1000;
  if (!ch.source.queueDtmf(w[2], static_cast<int>(on) * perMs, static_cast<int>(off) * perMs)) {
    return error("digits must be 0-9, *, #, A-D, at most 64 waiting");
  }
  return "OK line " + std::to_string(line) + " dials " + w[2] + "\n";
}

std::string exchangeCommand(Channel& ch, int line, const std::vector<std::string>& w) {
  const std::string& cmd = w[1];
  if (cmd == "stopring") {
    ch.ringUntilMs = 0;
    return "OK line " + std::to_string(line) + " ringing stopped\n";
  }
  if (cmd == "reverse") {
    if (w.size() != 3 || (w[2] != "on" && w[2] != "off")) return error("reverse on|off");
    ch.exchangeReversed = w[2] == "on";
    return "OK line " + std::to_string(line) + " polarity " + w[2] + "\n";
  }
  long on = 2000, off = 4000, count = 1;
  if (w.size() > 2 && (w.size() != 5 || !number(w[2], 10000, &on) || !number(w[3], 10000, &off) ||
                       !number(w[4], 100, &count) || on == 0 || count == 0)) {
    return error("ring timing must be: on_ms off_ms count");
  }
  ch.ringOnMs = static_cast<int>(on);
  ch.ringOffMs = static_cast<int>(off);
  ch.ringStartMs = nowMs();
  ch.ringUntilMs = ch.ringStartMs + count * (on + off) - off;
  return "OK line " + std::to_string(line) + " rings\n";
}

std::string lineTestCommand(Channel& ch, int line, const std::vector<std::string>& w) {
  long ret = 0;
  if (w.size() < 3 || !signedNumber(w[2], &ret) || w.size() > 7) {
    return error("linetest <ret> [v1 v2 v3 v4]");
  }
  ss_lt_result r{};
  r.ret = static_cast<int32_t>(ret);
  int32_t values[4] = {0, 0, 0, 0};
  for (size_t i = 3; i < w.size(); ++i) {
    long v;
    if (!signedNumber(w[i], &v)) return error("line-test values must be numbers");
    values[i - 3] = static_cast<int32_t>(v);
  }
  std::memcpy(r.raw, values, sizeof(values));
  if (ch.scriptedTests.size() >= MAX_SCRIPTED) return error("too many scripted results waiting");
  ch.scriptedTests.push_back(r);
  return "OK line " + std::to_string(line) + " next line test returns " + std::to_string(ret) + "\n";
}

std::string runCommand(Board& b, const std::vector<std::string>& w) {
  if (w.empty() || w[0] == "help") return std::string("OK\n") + kUsage;
  if (w[0] == "board") return boardStatus(b);
  if (w[0] == "lockstep") return lockstepCommand(b, w);
  if (w[0] == "tickstats") {
    if (w.size() > 2 || (w.size() == 2 && w[1] != "reset")) return error("tickstats [reset]");
    return tickStats(b, w.size() == 2);
  }
  // Anything written as a whole number is a line number, in range or not.
  const bool numeral = w[0].find_first_not_of("0123456789", w[0][0] == '-' ? 1 : 0) == std::string::npos &&
                       w[0] != "-";
  if (!numeral) return error("unknown command \"" + w[0] + "\"\n" + kUsage);
  long line = -1;
  if (!signedNumber(w[0], &line) || line < 0 || line >= static_cast<long>(b.channels.size())) {
    return error("no such line " + w[0] + ": the board has lines 0 to " +
                 std::to_string(static_cast<int>(b.channels.size()) - 1));
  }
  if (w.size() < 2) return error("line " + w[0] + ": which command?\n" + kUsage);
  Channel& ch = b.channels[line];
  const int n = static_cast<int>(line);
  const std::string& cmd = w[1];
  const bool fxs = ch.type == DSPHAL_TYPE_FXS, fxo = ch.type == DSPHAL_TYPE_FXO;
  if (cmd == "status") return lineStatus(b, n);
  if (cmd == "play" || cmd == "record") return audioCommand(ch, n, w);
  if (cmd == "hybrid") return hybridCommand(ch, n, w);
  if (cmd == "dial") return dialCommand(ch, n, w);
  if (cmd == "offhook" || cmd == "onhook" || cmd == "flash" || cmd == "pulse") {
    if (!fxs) return error("line " + w[0] + " is not an FXS line: " + cmd + " needs a phone");
    return hookCommand(ch, n, w);
  }
  if (cmd == "ring" || cmd == "stopring" || cmd == "reverse") {
    if (!fxo) return error("line " + w[0] + " is not an FXO line: " + cmd + " needs an exchange");
    return exchangeCommand(ch, n, w);
  }
  if (cmd == "linetest") {
    if (!fxs) return error("line " + w[0] + " is not an FXS line: line tests run on FXS lines");
    return lineTestCommand(ch, n, w);
  }
  return error("unknown command \"" + cmd + "\"\n" + kUsage);
}

void serveClient(int client) {
  std::string command;
  char c;
  bool complete = false;
  while (command.size() < kMaxCommand && ::read(client, &c, 1) == 1) {
    if (c == '\n') {
      complete = true;
      break;
    }
    command += c;
  }
  if (!complete) {  // a client that went away (or a probe) gets no answer
    ::close(client);
    return;
  }
  const std::string reply = vboardCommand(command);
  size_t sent = 0;
  while (sent < reply.size()) {
    // A client that hangs up early must not take the board's process down with SIGPIPE.
    const ssize_t n = ::send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  ::close(client);
}

void serve(int listener) {
  for (;;) {
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    timeval timeout{2, 0};  // a silent client cannot hold the board's control for long
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    serveClient(client);
  }
}

}  // namespace

void startControlServer() {
  const std::string path = vboardSocketPath();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    std::fprintf(stderr, "virtual board: control socket path too long: %s\n", path.c_str());
    return;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return;
  // Reuse a socket file that no board serves any more; never take one over from a live board.
  const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (probe >= 0) {
    if (::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
      std::fprintf(stderr, "virtual board: control socket %s is in use; no control socket\n",
                   path.c_str());
      ::close(probe);
      ::close(listener);
      return;
    }
    ::close(probe);
  }
  ::unlink(path.c_str());
  // Its commands drive the lines and write files as the daemon's user: only that user may
  // connect, whatever the umask. Nobody can connect before listen(), so the mode is set first.
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::chmod(path.c_str(), kSocketMode) != 0 || ::listen(listener, 8) != 0) {
    std::fprintf(stderr, "virtual board: cannot serve %s: %s\n", path.c_str(), std::strerror(errno));
    ::close(listener);
    return;
  }
  std::thread(serve, listener).detach();
}

}  // namespace vboard

std::string vboardSocketPath() {
  const char* path = std::getenv("ORVOX_BOARD_SOCKET");
  return path != nullptr && path[0] != '\0' ? path : vboard::kDefaultSocket;
}

std::string vboardCommand(const std::string& command) {
  std::istringstream in(command);
  std::vector<std::string> words;
  std::string word;
  while (in >> word) words.push_back(word);
  vboard::Board& b = vboard::board();
  std::unique_lock<std::mutex> lock(b.lock);
  vboard::configure(b);
  // A step answers once its ticks have run, which needs the lock released meanwhile.
  if (!words.empty() && words[0] == "step") return vboard::stepCommand(b, lock, words);
  return vboard::runCommand(b, words);
}
