// V.21 channel 2, ours next to libspandsp's on the same input: each transmitter sends the same
// random bits and each receiver takes the same line signal (the independent transmitter's, with
// noise). Ours runs as the service it is, frame by frame on the test channel; one iteration is one
// whole transmission or reception. Prints the time ratio of each pair at the end (above 1: ours is
// faster).
#include <benchmark/benchmark.h>

#include "../util/bench_ratio.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <random>

extern "C" {
#include <spandsp.h>
}

#include "../../tests/source/srv/linetest/line_harness.h"
#include "v21.h"

using namespace linetest;

namespace {

std::vector<uint8_t> randomBits(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> b(n);
  for (auto& v : b) v = uint8_t(rng() & 1);
  return b;
}

struct BitSource {
  const std::vector<uint8_t>* bits;
  size_t at;
};

constexpr size_t kV21Bits = 600;  // two seconds

const std::vector<uint8_t>& v21Bits() {
  static const auto bits = randomBits(kV21Bits, 21);
  return bits;
}

int nextV21Bit(void* u) {
  auto* s = static_cast<BitSource*>(u);
  return s->at < s->bits->size() ? (*s->bits)[s->at++] : 1;
}

void v21IndependentTx(std::vector<int16_t>& out) {
  BitSource src{&v21Bits(), 0};
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

V21LOCLMEM* v21() { return static_cast<V21LOCLMEM*>(instance(HAPI_V21_SRV)); }

// Queues the bits as 0x0D08 blocks of at most 240 bits while the queue holds fewer than eight.
void queueV21Bits(size_t& at) {
  const auto& bits = v21Bits();
  while (at < bits.size() && MEM_QueueCount(&v21()->hsxv21tx.v21zTxQueue) < 8) {
    const size_t n = std::min<size_t>(240, bits.size() - at);
    std::vector<uint16_t> words(1 + (n + 15) / 16, 0);
    words[0] = uint16_t(n);
    for (size_t i = 0; i < n; ++i)
      if (bits[at + i]) words[1 + i / 16] = uint16_t(words[1 + i / 16] | (1u << (i % 16)));
    extCommand(V21_TXDATA_CMD, words.data(), uint16_t(2 * words.size()));
    at += n;
  }
}

// One iteration: the bits from the transmit command until the queue is empty (the set-up before it
// is not timed).
void BM_V21TxOurs(benchmark::State& st) {
  for (auto _ : st) {
    st.PauseTiming();
    open(&v21arc);
    command(V21_ENABLE_CMD, 1, 0);
    size_t at = 0;
    queueV21Bits(at);
    st.ResumeTiming();
    command(V21_TXMODE_CMD, HSV21TXDATA, 0);
    while (at < v21Bits().size() || MEM_QueueCount(&v21()->hsxv21tx.v21zTxQueue) > 0) {
      queueV21Bits(at);
      runFrames(1);
    }
    runFrames(2);
    st.PauseTiming();
    close();
    st.ResumeTiming();
  }
}

void BM_V21TxSpandsp(benchmark::State& st) {
  std::vector<int16_t> out(kV21Bits * 80 / 3 + 160);
  for (auto _ : st) {
    v21IndependentTx(out);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_V21RxOurs(benchmark::State& st) {
  const auto& a = v21Line();
  for (auto _ : st) {
    st.PauseTiming();
    open(&v21arc);
    command(V21_ENABLE_CMD, 1, 0);
    command(V21_RXMODE_CMD, 1, 0);
    world().ingressIn.insert(world().ingressIn.end(), a.begin(), a.end());
    st.ResumeTiming();
    drain(0);
    st.PauseTiming();
    close();
    st.ResumeTiming();
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

BENCHMARK(BM_V21TxOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_V21TxSpandsp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_V21RxOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_V21RxSpandsp)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return orvox_bench::runWithRatios(argc, argv,
                                    {{"V.21 transmit", "BM_V21TxOurs", "BM_V21TxSpandsp"},
                                     {"V.21 receive", "BM_V21RxOurs", "BM_V21RxSpandsp"}});
}
