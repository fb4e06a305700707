// A loaded gateway on the fast-ticking virtual board: 8 phones off-hook talking, 8 connections
// (4 G.711 A-law, 4 G.729A) with the line echo canceller and DTMF detection on, every packet sent
// looped back in so the jitter buffer and decoder work too. Reports the processor time of one
// 5 ms tick (average and worst over 60 s of board time) and the share of a core that makes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vboard.h"
#include "vosInit.h"
#include "vrgEndpt.h"
#include "vrgEndptCallbacks.h"

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

// Packets go back in from a thread of their own, as the daemon's main loop would hand them in.
struct Loopback {
  std::mutex lock;
  std::condition_variable ready;
  std::deque<std::pair<int, std::vector<uint8_t>>> queue;  // (line, packet)
  bool stop = false;
} loopback;
ENDPT_STATE lines[kLines];
std::atomic<long> looped{0};

void onPacket(ENDPT_STATE* state, int, EPPACKET* packet, int length) {
  if (packet == nullptr || packet->mediaType != EPMEDIATYPE_RTP || packet->packetp == nullptr || length < 12) return;
  if (packet->packetp[1] >= 200 && packet->packetp[1] <= 207) return;  // control packets stay out
  std::lock_guard<std::mutex> guard(loopback.lock);
  if (loopback.queue.size() < 1000) loopback.queue.emplace_back(state->lineId, std::vector<uint8_t>(packet->packetp, packet->packetp + length));
  loopback.ready.notify_one();
}
void onEvent(ENDPT_STATE*, int, EPEVT, void*, int, int) {}
void onRelease(ENDPT_STATE*, int, unsigned int) {}

void feedBack() {
  for (;;) {
    std::unique_lock<std::mutex> guard(loopback.lock);
    loopback.ready.wait(guard, [] { return loopback.stop || !loopback.queue.empty(); });
    if (loopback.stop) return;
    auto [line, bytes] = std::move(loopback.queue.front());
    loopback.queue.pop_front();
    guard.unlock();
    EPPACKET p{EPMEDIATYPE_RTP, bytes.data()};
    if (vrgEndptPacket(&lines[line], 1, &p, static_cast<int>(bytes.size()), 0) == EPSTATUS_SUCCESS) ++looped;
  }
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
    vboardCommand(std::to_string(i) + " play tone " + std::to_string(400 + 100 * i) + " 0 -15");
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
    connections += vrgEndptCreateConnection(&lines[i], 1, &p) == EPSTATUS_SUCCESS ? 1 : 0;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (auto _ : state) {
    vboardCommand("tickstats reset");
    const long loopedBefore = looped.load();
    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    std::string stats;
    while (std::chrono::steady_clock::now() < end) {
      stats = vboardCommand("tickstats");
      if (field(stats, "timed") >= kTicks) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double avgUs = field(stats, "cpuAvgUs"), worstUs = field(stats, "cpuWorstUs");
    state.SetIterationTime(avgUs / 1e6);
    state.counters["connections"] = connections;
    state.counters["packets_looped"] = static_cast<double>(looped.load() - loopedBefore);
    state.counters["ticks"] = field(stats, "timed");
    state.counters["tick_cpu_us"] = avgUs;
    state.counters["worst_tick_cpu_us"] = worstUs;
    state.counters["core_share_pct"] = avgUs / 5000.0 * 100;
  }
  {
    std::lock_guard<std::mutex> guard(loopback.lock);
    loopback.stop = true;
    loopback.ready.notify_one();
  }
  feeder.join();
  for (int i = 0; i < kLines; ++i) {
    vrgEndptDeleteConnection(&lines[i], 1);
    vboardCommand(std::to_string(i) + " onhook");
    vrgEndptDestroy(&lines[i]);
  }
  vrgEndptDeinit();
  ::unlink(vboardSocketPath().c_str());
}
BENCHMARK(BM_EightLinesEightConnectionsTick)->Iterations(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
