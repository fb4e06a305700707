// A loaded gateway on the fast-ticking virtual board: 8 phones off-hook, 8 connections (4 G.711
// A-law, 4 G.729A) with the line echo canceller (its non-linear processor off, as the daemon sets
// it) and DTMF detection on. The far end talks: for every packet a line sends, a packet of the
// speech fixture, encoded with the connection's codec, goes back in from a thread of our own, so
// the jitter buffer and decoder work and each line plays speech. Each line has a hybrid of its
// own (4 to 8 ms, 6 to 20 dB of return loss) that echoes that speech into the quiet phone's
// line, and its canceller adapts to it. Reports the processor time of one 5 ms tick (average and
// worst over 60 s of board time), the share of a core that makes, and, as the proof that the
// cancellers work, the echo loss the A-law lines' far end hears (return loss plus cancellation)
// over the timed ticks.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "g711.h"
#include "g729.h"
#include "hdspCmd.h"
#include "hdspCodes.h"
#include "orvox_fixture.h"
#include "vboard.h"
#include "vosInit.h"
#include "vrgEndpt.h"
#include "vrgEndptCallbacks.h"
#include "vrgEndptState.h"

namespace {

constexpr int kLines = 8;
constexpr long kTicks = 12000;  // 60 s of board time

const bool kEnvironment = [] {
  ::setenv("ORVOX_BOARD", "fxs=8,fxo=0,dect=0", 1);
  ::setenv("ORVOX_TICK", "fast", 1);
  ::setenv("ORVOX_PROFILE_DIR", ORVOX_SOURCE_DIR "/prov/tel_profiles/", 1);
  ::setenv("ORVOX_BOARD_SOCKET", ("/tmp/orvox_call_bench_" + std::to_string(::getpid()) + ".sock").c_str(), 1);
  return true;
}();

constexpr int kPacketSamples = 160;  // 20 ms
// Connection ids name a connection across all lines: line i's is i + 1.
int connectionId(int line) { return line + 1; }
constexpr uint8_t kPtPcma = 8, kPtG729 = 18;
constexpr uint16_t kHecNlpOff = 1;  // the canceller's options register: non-linear processing off

// The hybrid of each line: echo path delay (ms) and return loss (dB).
constexpr int kHybridMs[kLines] = {4, 6, 8, 5, 7, 4, 8, 6};
constexpr int kHybridErlDb[kLines] = {6, 10, 15, 20, 8, 12, 18, 6};

// The far end's speech: the fixture, and its payloads for each codec, one per 20 ms packet.
struct FarSpeech {
  std::vector<int16_t> pcm;
  std::vector<std::vector<uint8_t>> pcma, g729;
};

FarSpeech encodeFarSpeech() {
  FarSpeech f;
  f.pcm = orvox_fixture::loadPcm16("speech/speech_8k.raw");
  f.pcm.resize(f.pcm.size() / kPacketSamples * kPacketSamples);
  auto enc = std::make_unique<G729ENCSTATE>();
  g729EncodeInit(enc.get(), G729RATE_NUM_RATES);
  g729EncodeCfg(enc.get(), G729VAD_OFF, G729RATE_8_KBPS_A);
  for (size_t at = 0; at < f.pcm.size(); at += kPacketSamples) {
    int16_t codes[kPacketSamples];
    g711AlawCompress(kPacketSamples, &f.pcm[at], codes);
    f.pcma.emplace_back(codes, codes + kPacketSamples);
    std::vector<uint8_t> frames;
    for (int half = 0; half < kPacketSamples; half += 80) {
      uint16_t words[6] = {};
      g729Encoder(enc.get(), &f.pcm[at + half], words, nullptr);
      for (int i = 0; i < 10; ++i) frames.push_back(static_cast<uint8_t>(i & 1 ? words[i / 2] & 0xFF : words[i / 2] >> 8));
    }
    f.g729.push_back(frames);
  }
  return f;
}

const FarSpeech& farSpeech() {
  static const FarSpeech f = encodeFarSpeech();
  return f;
}

// Energies of what the A-law lines' far end sent and heard while the ticks were timed.
struct EchoMeter {
  std::mutex lock;
  bool on = false;
  double sent = 0, heard = 0;
} echoMeter;

double energy(const int16_t* x, int n) {
  double e = 0;
  for (int i = 0; i < n; ++i) e += double(x[i]) * x[i];
  return e;
}

// Packets go back in from a thread of their own, as the daemon's main loop would hand them in.
struct Loopback {
  std::mutex lock;
  std::condition_variable ready, idle;
  std::deque<std::pair<int, std::vector<uint8_t>>> queue;  // (line, packet)
  int pending = 0;  // queued or being handed in
  bool stop = false;
} loopback;
ENDPT_STATE lines[kLines];
std::atomic<long> looped{0};

void onPacket(ENDPT_STATE* state, int, EPPACKET* packet, int length) {
  if (state == nullptr || state->lineId < 0 || state->lineId >= kLines) return;
  if (packet == nullptr || packet->mediaType != EPMEDIATYPE_RTP || packet->packetp == nullptr || length < 12) return;
  if (packet->packetp[1] >= 200 && packet->packetp[1] <= 207) return;  // control packets stay out
  std::lock_guard<std::mutex> guard(loopback.lock);
  if (loopback.queue.size() >= 1000) return;
  loopback.queue.emplace_back(state->lineId, std::vector<uint8_t>(packet->packetp, packet->packetp + length));
  ++loopback.pending;
  loopback.ready.notify_one();
}
void onEvent(ENDPT_STATE*, int, EPEVT, void*, int, int) {}
void onRelease(ENDPT_STATE*, int, unsigned int) {}

// What the far end of an A-law line hears: the line's packet decoded.
void farHears(const std::vector<uint8_t>& packet) {
  const size_t header = 12 + 4 * (packet[0] & 0x0F);
  if ((packet[1] & 0x7F) != kPtPcma || packet.size() != header + kPacketSamples) return;
  int16_t codes[kPacketSamples], heard[kPacketSamples];
  for (int i = 0; i < kPacketSamples; ++i) codes[i] = packet[header + i];
  g711AlawExpand(kPacketSamples, codes, heard);
  std::lock_guard<std::mutex> guard(echoMeter.lock);
  if (echoMeter.on) echoMeter.heard += energy(heard, kPacketSamples);
}

// Puts the far end's next 20 ms of speech into the returning packet, in the packet's codec.
bool farTalks(int line, std::vector<uint8_t>& packet) {
  static size_t cursor[kLines] = {};
  const FarSpeech& f = farSpeech();
  const size_t header = 12 + 4 * (packet[0] & 0x0F);
  const uint8_t pt = packet[1] & 0x7F;
  if (packet.size() < header || (pt != kPtPcma && pt != kPtG729)) return false;
  const size_t at = (cursor[line] + static_cast<size_t>(line) * 37) % f.pcma.size();  // lines out of step
  ++cursor[line];
  const std::vector<uint8_t>& payload = pt == kPtPcma ? f.pcma[at] : f.g729[at];
  packet.resize(header);
  packet.insert(packet.end(), payload.begin(), payload.end());
  if (pt == kPtPcma) {
    std::lock_guard<std::mutex> guard(echoMeter.lock);
    if (echoMeter.on) echoMeter.sent += energy(&f.pcm[at * kPacketSamples], kPacketSamples);
  }
  return true;
}

void feedBack() {
  for (;;) {
    std::unique_lock<std::mutex> guard(loopback.lock);
    loopback.ready.wait(guard, [] { return loopback.stop || !loopback.queue.empty(); });
    if (loopback.stop) return;
    auto [line, bytes] = std::move(loopback.queue.front());
    loopback.queue.pop_front();
    guard.unlock();
    farHears(bytes);
    if (farTalks(line, bytes)) {
      EPPACKET p{EPMEDIATYPE_RTP, bytes.data()};
      if (vrgEndptPacket(&lines[line], connectionId(line), &p, static_cast<int>(bytes.size()), 0) == EPSTATUS_SUCCESS) {
        ++looped;
      }
    }
    guard.lock();
    --loopback.pending;
    loopback.idle.notify_all();
  }
}

// Runs `ticks` ticks of the board in lockstep, 20 ms at a time, and hands the packets of each
// 20 ms back in before the next, so that the far end keeps pace with the line exactly.
bool runTicks(long ticks) {
  for (long done = 0; done < ticks; done += 4) {
    if (vboardCommand("step 4").rfind("OK", 0) != 0) return false;
    std::unique_lock<std::mutex> guard(loopback.lock);
    if (!loopback.idle.wait_for(guard, std::chrono::seconds(10), [] { return loopback.pending == 0; })) return false;
  }
  return true;
}

double field(const std::string& text, const std::string& key) {
  const size_t at = text.find(key + "=");
  return at == std::string::npos ? -1 : std::atof(text.c_str() + at + key.size() + 1);
}

void BM_EightLinesEightConnectionsTick(benchmark::State& state) {
  if (!kEnvironment || vosInit() != VOS_STATUS_OK) {
    state.SkipWithError("cannot start the OS layer");
    return;
  }
  ENDPT_INIT_CFG cfg{VRG_COUNTRY_NORTH_AMERICA};
  if (vrgEndptInit(&cfg, onEvent, onPacket, nullptr, nullptr, onRelease, nullptr) != EPSTATUS_SUCCESS) {
    state.SkipWithError("the endpoint library did not start");
    return;
  }
  std::thread feeder(feedBack);
  int connections = 0;
  for (int i = 0; i < kLines; ++i) {
    vrgEndptCreate(i, i, &lines[i]);
    vboardCommand(std::to_string(i) + " offhook");
    vboardCommand(std::to_string(i) + " play silence");
    vboardCommand(std::to_string(i) + " hybrid " + std::to_string(kHybridMs[i]) + " " + std::to_string(kHybridErlDb[i]));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (int i = 0; i < kLines; ++i) {
    EPZCNXPARAM p{};
    p.mode = EPCNXMODE_SNDRX;
    const bool g729 = i % 2 == 1;
    for (CODECCNXLIST* list : {&p.cnxParmList.send, &p.cnxParmList.recv}) {
      list->codecs[0] = {g729 ? CODEC_G729A : CODEC_PCMA, static_cast<uint8_t>(g729 ? 18 : 8), {}};
      list->numCodecs = 1;
      list->period[0] = CODEC_PTIME_20;
      list->numPeriods = 1;
    }
    p.echocancel = 1;
    p.digitRelayType = EPDTMFRFC2833_DISABLED;
    // The line may still be settling into its off-hook state: a few tries, then the line is left out.
    EPSTATUS created = EPSTATUS_SUCCESS;
    for (int attempt = 0; attempt < 10; ++attempt) {
      created = vrgEndptCreateConnection(&lines[i], connectionId(i), &p);
      if (created == EPSTATUS_SUCCESS) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (created != EPSTATUS_SUCCESS) {
      std::fprintf(stderr, "line %d: no connection (status %d)\n", i, static_cast<int>(created));
      continue;
    }
    ++connections;
    const VRG_ENDPT* ep = GetEndptState(i);
    if (ep != nullptr) hdspSendCmd(ep->lineVhdHdl, hdsp::HAPI_HEC_SETREG1_CMD, HAPI_REQID_STD_CMD, 0, kHecNlpOff);
  }
  // Five seconds of board time for the cancellers to converge before the ticks are timed.
  vboardCommand("lockstep step");
  if (!runTicks(1000)) state.SkipWithError("the board did not step");
  for (auto _ : state) {
    vboardCommand("tickstats reset");
    {
      std::lock_guard<std::mutex> guard(echoMeter.lock);
      echoMeter.on = true;
    }
    const long loopedBefore = looped.load();
    if (!runTicks(kTicks)) state.SkipWithError("the board did not step");
    const std::string stats = vboardCommand("tickstats");
    double echoLossDb = 0;
    {
      std::lock_guard<std::mutex> guard(echoMeter.lock);
      echoMeter.on = false;
      echoLossDb = 10 * std::log10(echoMeter.sent / std::max(echoMeter.heard, 1.0));
    }
    const double avgUs = field(stats, "cpuAvgUs"), worstUs = field(stats, "cpuWorstUs");
    state.SetIterationTime(avgUs / 1e6);
    state.counters["connections"] = connections;
    state.counters["packets_looped"] = static_cast<double>(looped.load() - loopedBefore);
    state.counters["ticks"] = field(stats, "timed");
    state.counters["tick_cpu_us"] = avgUs;
    state.counters["worst_tick_cpu_us"] = worstUs;
    state.counters["core_share_pct"] = avgUs / 5000.0 * 100;
    state.counters["alaw_echo_loss_db"] = echoLossDb;
  }
  vboardCommand("lockstep off");
  {
    std::lock_guard<std::mutex> guard(loopback.lock);
    loopback.stop = true;
    loopback.ready.notify_one();
  }
  feeder.join();
  for (int i = 0; i < kLines; ++i) {
    vrgEndptDeleteConnection(&lines[i], connectionId(i));
    vboardCommand(std::to_string(i) + " onhook");
    vrgEndptDestroy(&lines[i]);
  }
  vrgEndptDeinit();
  ::unlink(vboardSocketPath().c_str());
}
BENCHMARK(BM_EightLinesEightConnectionsTick)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
