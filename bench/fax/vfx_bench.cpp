// The fax datapump's modems, ours next to libspandsp's on the same input: each transmitter sends
// the same page after the long training, for as many samples as ours takes, and each receiver
// takes the same line signal (the independent transmitter's page with noise). Transmitters run
// twice: on a one-second page, where the training weighs, and on 300 s of page data, the steady
// state that dominates a call. Ours run as the
// service's ingress runs them, 10 ms frame by frame, its commands and the client's data blocks
// through the service's command handler; one iteration is one whole transmission or reception. Prints the time ratio of each pair at the end (above 1:
// ours is faster).
#include <benchmark/benchmark.h>

#include "../util/bench_ratio.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "../../tests/source/srv/vfax/vfx_oracle_util.h"
#include "vc_clbuf.h"

using vfxtest::BitSource;
using vfxtest::Collect;
using vfxtest::addNoise;
using vfxtest::randomBits;

namespace {

constexpr size_t kPageBits = 14400;  // one second at the top rate
constexpr size_t kLongPageSeconds = 300;

enum Family { kV17, kV29, kV27 };

struct Rate {
  Family family;
  uint16_t reg;
  int bps;
};
constexpr Rate kV17_14400{kV17, HSV17_14400, 14400};
constexpr Rate kV29_9600{kV29, HSV29_9600, 9600};
constexpr Rate kV27_4800{kV27, HSV27TER_4800, 4800};

// What a transmitter sends: the short page, or the long one at the modem's rate.
struct TxCase {
  Rate rate;
  bool longPage;
};

const std::vector<uint8_t>& page() {
  static const auto bits = randomBits(kPageBits, 5);
  return bits;
}

const std::vector<uint8_t>& longPage(const Rate& r) {
  static std::vector<uint8_t> cache[3];
  if (cache[r.family].empty()) cache[r.family] = randomBits(kLongPageSeconds * size_t(r.bps), 7);
  return cache[r.family];
}

const std::vector<uint8_t>& txBits(const TxCase& c) { return c.longPage ? longPage(c.rate) : page(); }

// ---- our pump, driven frame by frame as the service's ingress does ----

// What the pump reported through the modem library's event sink.
struct Reports {
  size_t rxBits = 0;
};
Reports gReports;

void countReports(uint16_t code, uint16_t, uint16_t, const uint16_t* data) {
  if (code == VFX_RXDATA_EVT && data != nullptr) gReports.rxBits += data[0];
}

// The service's instance, enabled at the rate of `r`, with 96-bit packets of received data.
struct Pump {
  std::unique_ptr<VFXLOCLMEM> m = std::make_unique<VFXLOCLMEM>();
  explicit Pump(const Rate& r) {
    vfxInit(m.get());
    command(VFX_SETREG1_CMD, 0, r.reg);
    command(VFX_SETREG1_CMD, 12, 0x8000 | 96);
    command(VFX_ENABLE_CMD, 1, 0);
  }
  void command(uint16_t header, uint16_t op1, uint16_t op2) {
    HSFMSG msg{};
    msg.std = HSFMSGSTD{header, op1, op2};
    hsfvfxio(m.get(), &msg, nullptr);
  }
  void data(std::vector<uint16_t>& block) {
    HSFMSG msg{};
    msg.ext = HSFMSGEXT{VFX_TXDATA_CMD, uint16_t(2 * block.size()), block.data()};
    hsfvfxio(m.get(), &msg, nullptr);
  }
};

// The page as the client's 0x1106 blocks of 96 bits.
std::vector<std::vector<uint16_t>>& pageBlocks(const TxCase& c) {
  static std::vector<std::vector<uint16_t>> cache[2][3];
  auto& blocks = cache[c.longPage][c.rate.family];
  if (blocks.empty()) blocks = modembits::blocks(txBits(c), 96);
  return blocks;
}

// ---- transmit ----

// Our transmission of the page (V.17: after the long training), the client keeping a few blocks
// queued; returns its line samples, appended to `out` when given.
size_t transmitPage(const TxCase& c, std::vector<int16_t>* out) {
  const Rate& r = c.rate;
  vcfSetEventSink(countReports);
  Pump p(r);
  auto& blocks = pageBlocks(c);
  size_t next = 0, samples = 0;
  auto feed = [&] {
    while (next < blocks.size() && MEM_QueueCount(&p.m->v17zTxQueue) < 3) p.data(blocks[next++]);
  };
  feed();
  p.command(VFX_TX_CMD, r.family == kV17 ? 3 : 1, 0);
  while (p.m->v17zState.status & VFX_TRANSMITTING) {
    feed();
    vfxFrame(p.m.get(), nullptr);
    if (out != nullptr) out->insert(out->end(), p.m->vfxtxbuf, p.m->vfxtxbuf + 80);
    samples += 80;
  }
  vcfSetEventSink(nullptr);
  return samples;
}

// Samples of our transmission of the page.
size_t ourLength(const TxCase& c) {
  static size_t lengths[2][3];
  size_t& n = lengths[c.longPage][c.rate.family];
  if (n == 0) n = transmitPage(c, nullptr);
  return n;
}

// The independent transmitter's signal for the page, long training first, filling `out`.
int independentTx(const TxCase& c, std::vector<int16_t>& out) {
  const Rate& r = c.rate;
  BitSource src{&txBits(c), 0};
  int n = 0;
  switch (r.family) {
    case kV17: {
      v17_tx_state_t* tx = v17_tx_init(nullptr, r.bps, false, BitSource::get, &src);
      n = v17_tx(tx, out.data(), int(out.size()));
      v17_tx_free(tx);
      break;
    }
    case kV29: {
      v29_tx_state_t* tx = v29_tx_init(nullptr, r.bps, false, BitSource::get, &src);
      n = v29_tx(tx, out.data(), int(out.size()));
      v29_tx_free(tx);
      break;
    }
    case kV27: {
      v27ter_tx_state_t* tx = v27ter_tx_init(nullptr, r.bps, false, BitSource::get, &src);
      n = v27ter_tx(tx, out.data(), int(out.size()));
      v27ter_tx_free(tx);
      break;
    }
  }
  return n;
}

void BM_TxOurs(benchmark::State& st, TxCase c) {
  for (auto _ : st) benchmark::DoNotOptimize(transmitPage(c, nullptr));
  st.counters["samples"] = double(ourLength(c));
}

void BM_TxSpandsp(benchmark::State& st, TxCase c) {
  std::vector<int16_t> out(ourLength(c));
  for (auto _ : st) {
    benchmark::DoNotOptimize(independentTx(c, out));
    benchmark::DoNotOptimize(out.data());
  }
  st.counters["samples"] = double(out.size());
}

// ---- receive ----

// The line signal both receivers take: the independent transmitter's page, 30 dB above noise
// (over the signal only: the independent receivers do not train after noise alone).
const std::vector<int16_t>& lineSignal(const Rate& r) {
  static std::vector<int16_t> cache[3];
  std::vector<int16_t>& a = cache[r.family];
  if (a.empty()) {
    a.assign(kPageBits * 8000 / size_t(r.bps) + 16000, 0);  // the page, its training and the end
    independentTx(TxCase{r, false}, a);
    a.insert(a.begin(), 800, 0);
    a.insert(a.end(), 1600, 0);
    addNoise(a, 3, 30.0, true);
  }
  return a;
}

void BM_RxOurs(benchmark::State& st, Rate r) {
  const auto& a = lineSignal(r);
  vcfSetEventSink(countReports);
  gReports = Reports{};
  for (auto _ : st) {
    Pump p(r);
    p.command(VFX_RX_CMD, r.family == kV17 ? HSGFAXRXCFGEXTECMDATA : HSGFAXRXCFGECMDATA, 0);
    for (size_t i = 0; i + 80 <= a.size(); i += 80) vfxFrame(p.m.get(), a.data() + i);
    p.command(VFX_ENABLE_CMD, 0, 0);
  }
  vcfSetEventSink(nullptr);
  if (gReports.rxBits < page().size() * st.iterations()) st.SkipWithError("our receiver lost bits");
}

template <typename RxState>
struct Rx;
template <>
struct Rx<v17_rx_state_t> {
  static v17_rx_state_t* init(int bps, Collect* c) { return v17_rx_init(nullptr, bps, Collect::put, c); }
  static void run(v17_rx_state_t* s, const int16_t* x, int n) { v17_rx(s, x, n); }
  static void free(v17_rx_state_t* s) { v17_rx_free(s); }
};
template <>
struct Rx<v29_rx_state_t> {
  static v29_rx_state_t* init(int bps, Collect* c) { return v29_rx_init(nullptr, bps, Collect::put, c); }
  static void run(v29_rx_state_t* s, const int16_t* x, int n) { v29_rx(s, x, n); }
  static void free(v29_rx_state_t* s) { v29_rx_free(s); }
};
template <>
struct Rx<v27ter_rx_state_t> {
  static v27ter_rx_state_t* init(int bps, Collect* c) { return v27ter_rx_init(nullptr, bps, Collect::put, c); }
  static void run(v27ter_rx_state_t* s, const int16_t* x, int n) { v27ter_rx(s, x, n); }
  static void free(v27ter_rx_state_t* s) { v27ter_rx_free(s); }
};

// The independent receiver fed in 10 ms frames, as ours is.
template <typename RxState>
void rxSpandsp(benchmark::State& st, Rate r) {
  const auto& a = lineSignal(r);
  size_t bits = 0;
  for (auto _ : st) {
    Collect c;
    c.bits.reserve(kPageBits * 2);
    RxState* s = Rx<RxState>::init(r.bps, &c);
    for (size_t i = 0; i + 80 <= a.size(); i += 80) Rx<RxState>::run(s, a.data() + i, 80);
    Rx<RxState>::free(s);
    bits += c.bits.size();
  }
  if (bits < page().size() * st.iterations()) st.SkipWithError("the independent receiver lost bits");
}

void BM_RxSpandspV17(benchmark::State& st, Rate r) { rxSpandsp<v17_rx_state_t>(st, r); }
void BM_RxSpandspV29(benchmark::State& st, Rate r) { rxSpandsp<v29_rx_state_t>(st, r); }
void BM_RxSpandspV27(benchmark::State& st, Rate r) { rxSpandsp<v27ter_rx_state_t>(st, r); }

BENCHMARK_CAPTURE(BM_TxOurs, v17_14400, TxCase{kV17_14400, false})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TxSpandsp, v17_14400, TxCase{kV17_14400, false})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TxOurs, v17_14400_long, TxCase{kV17_14400, true})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TxSpandsp, v17_14400_long, TxCase{kV17_14400, true})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RxOurs, v17_14400, kV17_14400)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RxSpandspV17, v17_14400, kV17_14400)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TxOurs, v29_9600, TxCase{kV29_9600, false})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TxSpandsp, v29_9600, TxCase{kV29_9600, false})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TxOurs, v29_9600_long, TxCase{kV29_9600, true})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TxSpandsp, v29_9600_long, TxCase{kV29_9600, true})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RxOurs, v29_9600, kV29_9600)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RxSpandspV29, v29_9600, kV29_9600)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TxOurs, v27_4800, TxCase{kV27_4800, false})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TxSpandsp, v27_4800, TxCase{kV27_4800, false})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TxOurs, v27_4800_long, TxCase{kV27_4800, true})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TxSpandsp, v27_4800_long, TxCase{kV27_4800, true})->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RxOurs, v27_4800, kV27_4800)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RxSpandspV27, v27_4800, kV27_4800)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return orvox_bench::runWithRatios(
      argc, argv,
      {{"V.17 14400 transmit, 1 s page", "BM_TxOurs/v17_14400", "BM_TxSpandsp/v17_14400"},
       {"V.17 14400 transmit, 300 s", "BM_TxOurs/v17_14400_long", "BM_TxSpandsp/v17_14400_long"},
       {"V.17 14400 receive", "BM_RxOurs/v17_14400", "BM_RxSpandspV17/v17_14400"},
       {"V.29 9600 transmit, 1 s page", "BM_TxOurs/v29_9600", "BM_TxSpandsp/v29_9600"},
       {"V.29 9600 transmit, 300 s", "BM_TxOurs/v29_9600_long", "BM_TxSpandsp/v29_9600_long"},
       {"V.29 9600 receive", "BM_RxOurs/v29_9600", "BM_RxSpandspV29/v29_9600"},
       {"V.27ter 4800 transmit, 1 s page", "BM_TxOurs/v27_4800", "BM_TxSpandsp/v27_4800"},
       {"V.27ter 4800 transmit, 300 s", "BM_TxOurs/v27_4800_long", "BM_TxSpandsp/v27_4800_long"},
       {"V.27ter 4800 receive", "BM_RxOurs/v27_4800", "BM_RxSpandspV27/v27_4800"}});
}
