// Fax and answer tone detection, ours next to libspandsp's connect-tone receivers on one signal:
// the line's speech, then a calling-tone cadence (1100 Hz), then an answer tone (2100 Hz) without
// and one with phase reversals. Ours is the call discrimination service's ingress kernel, one
// 10 ms frame per iteration, run directly in a live channel; the peer is one receiver per tone it
// is asked to watch for. Before timing, each side runs once over the whole signal and must find
// every tone, or the benchmark stops: a detector that misses the tones is not doing the work.
// The ratios are printed by line_bench.cpp's main.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "../../tests/source/fnc/tone/oracle_tones.h"
#include "../../tests/source/srv/linetest/line_harness.h"
#include "cdis.h"
#include "line_bench_input.h"
#include "line_bench_kernel.h"

namespace {

constexpr int kFrame = linetest::kFrame;
constexpr size_t kHistory = 8;  // the service judges 85 samples ending with each 80-sample chunk
constexpr int kCngBursts = 2;

void append(std::vector<int16_t>& x, const std::vector<int16_t>& y) { x.insert(x.end(), y.begin(), y.end()); }

// Speech, two calling-tone bursts (0.5 s on, 3 s off), a plain answer tone, then one with phase
// reversals every 450 ms; the generator opens each answer tone with 200 ms of silence.
const std::vector<int16_t>& cdisSignal() {
  static const std::vector<int16_t> x = [] {
    std::vector<int16_t> s(kHistory, 0);
    append(s, linebench::speech8k());
    append(s, oracle::connectTone(MODEM_CONNECT_TONES_FAX_CNG, kCngBursts * 3500));
    append(s, oracle::connectTone(MODEM_CONNECT_TONES_ANS, 3000));
    append(s, oracle::connectTone(MODEM_CONNECT_TONES_ANS_PR, 3000));
    return s;
  }();
  return x;
}

[[noreturn]] void missed(const char* who, const char* what, int got, int wanted) {
  std::fprintf(stderr, "cdis_bench: %s found %d %s on the signal, wanted at least %d\n", who, got, what, wanted);
  std::exit(1);
}

// ---- ours ----

struct OurCounts {
  int cng = 0, ans = 0, reversals = 0;
};

// Enables the service in a fresh channel with calling-tone detection on or off.
void openCdis(bool cng) {
  using namespace linetest;
  open(&cdisarc);
  command(HAPI_CDIS_CONFIG_CMD, cng ? CDIS_CNG_ENABLE : 0, 0);
  command(HAPI_CDIS_ENABLE_CMD, 1, 0);
  world().host.clear();
}

// One pass of the kernel over the whole signal, as the timed loop drives it, and what it reported.
OurCounts ourPass(bool cng) {
  openCdis(cng);
  linebench::ServiceKernel k(HAPI_CDIS_SRV, HAPI_DIRECTION_INGRESS);
  if (!k.ok()) missed("ours", "call discrimination services in the channel", 0, 1);
  std::vector<int16_t> media = cdisSignal();
  for (size_t at = kHistory; at + kFrame <= media.size(); at += kFrame) k.run(cdisBlk, media.data() + at);
  linetest::runFrames(1);  // carries the events to the host
  OurCounts c;
  for (const linetest::HostMsg& m : linetest::events(HAPI_CDIS_DETECT_EVT)) {
    c.cng += m.op1 == (CDIS_CNG | CDIS_MACHINE);
    c.ans += m.op1 == CDIS_MACHINE;
    c.reversals += m.op1 == CDIS_PHASE_REVERSAL;
  }
  linetest::close();
  return c;
}

void checkOurs(bool cng) {
  static bool checked[2] = {false, false};
  if (checked[cng]) return;
  checked[cng] = true;
  const OurCounts c = ourPass(cng);
  if (cng && c.cng < kCngBursts) missed("ours", "calling tones", c.cng, kCngBursts);
  if (!cng && c.cng != 0) {
    std::fprintf(stderr, "cdis_bench: ours reported %d calling tones with their detection off\n", c.cng);
    std::exit(1);
  }
  if (c.ans < 2) missed("ours", "answer tones", c.ans, 2);
  if (c.reversals < 5) missed("ours", "phase reversals", c.reversals, 5);
}

void runOurs(benchmark::State& st, bool cng) {
  checkOurs(cng);
  openCdis(cng);
  linebench::ServiceKernel k(HAPI_CDIS_SRV, HAPI_DIRECTION_INGRESS);
  if (!k.ok()) st.SkipWithError("no call discrimination service in the channel");
  std::vector<int16_t> media = cdisSignal();
  size_t pos = kHistory;
  long n = 0;
  for (auto _ : st) {
    k.run(cdisBlk, media.data() + linebench::advance(pos, kFrame, media.size(), kHistory));
    linebench::channelNowAndThen(n);
  }
  linetest::close();
}

void BM_CdisFaxOurs(benchmark::State& st) { runOurs(st, true); }
void BM_CdisAnsOurs(benchmark::State& st) { runOurs(st, false); }

// ---- the peer ----

struct PeerCounts {
  int cng = 0, ans = 0, ansPr = 0;
};

void countTone(void* user, int code, int, int) {
  auto* c = static_cast<PeerCounts*>(user);
  c->cng += code == MODEM_CONNECT_TONES_FAX_CNG;
  c->ans += code == MODEM_CONNECT_TONES_ANS;
  c->ansPr += code == MODEM_CONNECT_TONES_ANS_PR;
}

struct PeerReceivers {
  PeerReceivers(bool cng, PeerCounts* counts)
      : cngRx(cng ? modem_connect_tones_rx_init(nullptr, MODEM_CONNECT_TONES_FAX_CNG, countTone, counts) : nullptr),
        ansRx(modem_connect_tones_rx_init(nullptr, MODEM_CONNECT_TONES_ANS_PR, countTone, counts)) {}
  ~PeerReceivers() {
    if (cngRx != nullptr) modem_connect_tones_rx_free(cngRx);
    modem_connect_tones_rx_free(ansRx);
  }
  PeerReceivers(const PeerReceivers&) = delete;
  PeerReceivers& operator=(const PeerReceivers&) = delete;

  void frame(const int16_t* x) {
    if (cngRx != nullptr) modem_connect_tones_rx(cngRx, x, kFrame);
    modem_connect_tones_rx(ansRx, x, kFrame);
  }

  modem_connect_tones_rx_state_t* cngRx;
  modem_connect_tones_rx_state_t* ansRx;
};

void checkPeer(bool cng) {
  static bool checked[2] = {false, false};
  if (checked[cng]) return;
  checked[cng] = true;
  PeerCounts c;
  {
    PeerReceivers rx(cng, &c);
    const std::vector<int16_t>& x = cdisSignal();
    for (size_t at = kHistory; at + kFrame <= x.size(); at += kFrame) rx.frame(x.data() + at);
  }
  if (cng && c.cng < 1) missed("spandsp", "calling tones", c.cng, 1);
  if (c.ans < 1) missed("spandsp", "answer tones", c.ans, 1);
  if (c.ansPr < 1) missed("spandsp", "answer tones with phase reversals", c.ansPr, 1);
}

void runPeer(benchmark::State& st, bool cng) {
  checkPeer(cng);
  PeerCounts c;
  PeerReceivers rx(cng, &c);
  const std::vector<int16_t>& x = cdisSignal();
  size_t pos = kHistory;
  for (auto _ : st) rx.frame(x.data() + linebench::advance(pos, kFrame, x.size(), kHistory));
  benchmark::DoNotOptimize(c);
}

void BM_CdisFaxSpandsp(benchmark::State& st) { runPeer(st, true); }
void BM_CdisAnsSpandsp(benchmark::State& st) { runPeer(st, false); }

BENCHMARK(BM_CdisFaxOurs);
BENCHMARK(BM_CdisFaxSpandsp);
BENCHMARK(BM_CdisAnsOurs);
BENCHMARK(BM_CdisAnsSpandsp);

}  // namespace
