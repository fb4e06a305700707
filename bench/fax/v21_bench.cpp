// V.21 channel 2, ours next to libspandsp's on the same input: each transmitter sends the same
// random bits and each receiver takes the same line signal (the independent transmitter's, with
// noise). Ours runs as the service's ingress runs it, frame by frame, its commands and the client's
// data blocks through its command handler (its events go nowhere outside a channel); one
// iteration is one whole transmission or reception. The transmitters run twice: on two seconds of
// bits and on 300 s, the steady state of a call's V.21 signalling. Prints the time ratio of each
// pair at the end (above 1: ours is faster).
#include <benchmark/benchmark.h>

#include "../util/bench_ratio.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "../../tests/source/srv/vfax/modem_bits.h"
#include "v21.h"

namespace {

using modembits::randomBits;

struct BitSource {
  const std::vector<uint8_t>* bits;
  size_t at;
};

constexpr size_t kV21Bits = 600;       // two seconds
constexpr size_t kV21LongBits = 90000;  // 300 s

const std::vector<uint8_t>& v21Bits(bool longRun = false) {
  static const auto bits = randomBits(kV21Bits, 21);
  static const auto longBits = randomBits(kV21LongBits, 22);
  return longRun ? longBits : bits;
}

int nextV21Bit(void* u) {
  auto* s = static_cast<BitSource*>(u);
  return s->at < s->bits->size() ? (*s->bits)[s->at++] : 1;
}

void v21IndependentTx(std::vector<int16_t>& out, bool longRun = false) {
  BitSource src{&v21Bits(longRun), 0};
  fsk_tx_state_t* tx = fsk_tx_init(nullptr, &preset_fsk_specs[FSK_V21CH2], nextV21Bit, &src);
  fsk_tx(tx, out.data(), int(out.size()));
  fsk_tx_free(tx);
}

const std::vector<int16_t>& v21Line() {
  static std::vector<int16_t> a;
  if (a.empty()) {
    a.assign(kV21Bits * 80 / 3 + 800, 0);
    v21IndependentTx(a);
    awgn_state_t* noise = awgn_init_dbm0(nullptr, 4, -40.0f);  // 25 dB below the signal
    for (int16_t& v : a) v = int16_t(std::clamp(int(v) + int(awgn(noise)), -32768, 32767));
    awgn_free(noise);
  }
  return a;
}

// The service's instance, enabled, driven frame by frame as its ingress does.
struct V21 {
  std::unique_ptr<V21LOCLMEM> m = std::make_unique<V21LOCLMEM>();
  V21() {
    hsfv21init(m.get());
    command(V21_ENABLE_CMD, 1, 0);
  }
  void command(uint16_t header, uint16_t op1, uint16_t op2) {
    HSFMSG msg{};
    msg.std = HSFMSGSTD{header, op1, op2};
    hsfv21io(m.get(), &msg, nullptr);
  }
  void data(std::vector<uint16_t>& block) {
    HSFMSG msg{};
    msg.ext = HSFMSGEXT{V21_TXDATA_CMD, uint16_t(2 * block.size()), block.data()};
    hsfv21io(m.get(), &msg, nullptr);
  }
};

// The bits as the client's 0x0D08 blocks of at most 48 bits (one pool block each).
std::vector<std::vector<uint16_t>>& v21Blocks(bool longRun) {
  static auto blocks = modembits::blocks(v21Bits(), 48);
  static auto longBlocks = modembits::blocks(v21Bits(true), 48);
  return longRun ? longBlocks : blocks;
}

// One iteration: the bits from the transmit command until the queue is empty, on a quiet line.
void BM_V21TxOurs(benchmark::State& st, bool longRun) {
  const int16_t quiet[80] = {};
  auto& blocks = v21Blocks(longRun);
  size_t samples = 0;
  for (auto _ : st) {
    V21 v;
    size_t next = 0;
    auto feed = [&] {
      while (next < blocks.size() && MEM_QueueCount(&v.m->hsxv21tx.v21zTxQueue) < 4) v.data(blocks[next++]);
    };
    feed();
    v.command(V21_TXMODE_CMD, HSV21TXDATA, 0);
    while (next < blocks.size() || MEM_QueueCount(&v.m->hsxv21tx.v21zTxQueue) > 0 ||
           v.m->hsxv21tx.v21zCpyFrmClBuf.clientBitsRem > 0) {
      feed();
      v21Frame(v.m.get(), quiet, 80);
      benchmark::DoNotOptimize(v.m->txbuf);
      samples += 80;
    }
  }
  st.counters["samples"] = double(samples) / double(st.iterations());
}

void BM_V21TxSpandsp(benchmark::State& st, bool longRun) {
  std::vector<int16_t> out((longRun ? kV21LongBits : kV21Bits) * 80 / 3 + 160);
  for (auto _ : st) {
    v21IndependentTx(out, longRun);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_V21RxOurs(benchmark::State& st) {
  const auto& a = v21Line();
  for (auto _ : st) {
    V21 v;
    v.command(V21_RXMODE_CMD, 1, 0);
    for (size_t i = 0; i + 80 <= a.size(); i += 80) v21Frame(v.m.get(), a.data() + i, 80);
    v.command(V21_ENABLE_CMD, 0, 0);
  }
}

void putBit(void* u, int bit) {
  if (bit >= 0) ++*static_cast<size_t*>(u);
}

void BM_V21RxSpandsp(benchmark::State& st) {
  const auto& a = v21Line();
  for (auto _ : st) {
    size_t bits = 0;
    fsk_rx_state_t* rx = fsk_rx_init(nullptr, &preset_fsk_specs[FSK_V21CH2], FSK_FRAME_MODE_SYNC, putBit, &bits);
    for (size_t i = 0; i + 80 <= a.size(); i += 80) fsk_rx(rx, a.data() + i, 80);
    fsk_rx_free(rx);
    benchmark::DoNotOptimize(bits);
  }
}

BENCHMARK_CAPTURE(BM_V21TxOurs, short, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_V21TxSpandsp, short, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_V21TxOurs, long, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_V21TxSpandsp, long, true)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_V21RxOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_V21RxSpandsp)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return orvox_bench::runWithRatios(argc, argv,
                                    {{"V.21 transmit, 2 s", "BM_V21TxOurs/short", "BM_V21TxSpandsp/short"},
                                     {"V.21 transmit, 300 s", "BM_V21TxOurs/long", "BM_V21TxSpandsp/long"},
                                     {"V.21 receive", "BM_V21RxOurs", "BM_V21RxSpandsp"}});
}
