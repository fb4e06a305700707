// Line-service blocks per 5 ms block, ours next to libspandsp's on the same input: DTMF detection
// and the Bell 202 caller-ID demodulator. Prints the time ratio of each pair at the end.
#include <benchmark/benchmark.h>

#include "../util/bench_ratio.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "b202rx.h"
#include "dtmfd.h"

namespace {

constexpr int kBlock = 40;

std::vector<int16_t> dtmfSignal() {
  dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
  dtmf_tx_set_timing(tx, 60, 60);
  dtmf_tx_put(tx, "0123456789*#ABCD", -1);
  std::vector<int16_t> x(16 * 960 + 800);
  dtmf_tx(tx, x.data(), static_cast<int>(x.size()));
  dtmf_tx_free(tx);
  return x;
}

std::vector<int16_t> fskSignal() {
  adsi_tx_state_t* tx = adsi_tx_init(nullptr, ADSI_STANDARD_CLASS);
  uint8_t msg[] = {0x80, 0, 0x02, 10, '5', '5', '5', '1', '2', '3', '4', '5', '6', '7'};
  adsi_tx_put_message(tx, msg, sizeof(msg));
  std::vector<int16_t> x(16000);
  adsi_tx(tx, x.data(), static_cast<int>(x.size()));
  adsi_tx_free(tx);
  return x;
}

void BM_DtmfOurs(benchmark::State& st) {
  const auto x = dtmfSignal();
  DTMFD_STATE s;
  dtmfdInit(&s);
  size_t pos = DTMFD_TAPS;
  for (auto _ : st) {
    DTDET_RESULT r;
    dtmfdBlk(&s, 0, 28, &r, x.data() + pos);
    benchmark::DoNotOptimize(r);
    pos += kBlock;
    if (pos + kBlock > x.size()) pos = DTMFD_TAPS;
  }
  st.counters["blocks/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_DtmfSpandsp(benchmark::State& st) {
  const auto x = dtmfSignal();
  dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, nullptr, nullptr);
  size_t pos = DTMFD_TAPS;
  char digits[64];
  for (auto _ : st) {
    dtmf_rx(rx, x.data() + pos, kBlock);
    dtmf_rx_get(rx, digits, sizeof(digits));
    pos += kBlock;
    if (pos + kBlock > x.size()) pos = DTMFD_TAPS;
  }
  dtmf_rx_free(rx);
  st.counters["blocks/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_FskOurs(benchmark::State& st) {
  const auto x = fskSignal();
  HSZCLIDRXCONTEXT ctx{};
  ctx.hsxagclevel = 13;
  int16_t values[B202_VALUES], levels[B202_VALUES];
  size_t pos = B202_HISTORY;
  for (auto _ : st) {
    hsfb202rx(&ctx, x.data() + pos, values, levels);
    benchmark::DoNotOptimize(values);
    pos += kBlock;
    if (pos + kBlock > x.size()) pos = B202_HISTORY;
  }
  st.counters["blocks/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

void BM_FskSpandsp(benchmark::State& st) {
  const auto x = fskSignal();
  adsi_rx_state_t* rx = adsi_rx_init(nullptr, ADSI_STANDARD_CLASS, [](void*, const uint8_t*, int) {}, nullptr);
  size_t pos = B202_HISTORY;
  for (auto _ : st) {
    adsi_rx(rx, x.data() + pos, kBlock);
    pos += kBlock;
    if (pos + kBlock > x.size()) pos = B202_HISTORY;
  }
  adsi_rx_free(rx);
  st.counters["blocks/s"] = benchmark::Counter(static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_DtmfOurs);
BENCHMARK(BM_DtmfSpandsp);
BENCHMARK(BM_FskOurs);
BENCHMARK(BM_FskSpandsp);

}  // namespace

int main(int argc, char** argv) {
  return orvox_bench::runWithRatios(argc, argv, {
      {"DTMF detection, 5 ms block", "BM_DtmfOurs", "BM_DtmfSpandsp"},
      {"Bell 202 FSK reception, 5 ms block", "BM_FskOurs", "BM_FskSpandsp"},
  });
}
