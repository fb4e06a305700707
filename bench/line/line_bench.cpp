// Line-service blocks, ours next to libspandsp's on the same input: DTMF detection on digits and
// on speech (the detector alone per 5 ms block, and the digit service's ingress kernel per 10 ms
// frame) and the Bell 202 caller-ID demodulator; the generation rows are in line_gen_bench.cpp,
// fax and answer tone detection in cdis_bench.cpp.
// Prints the time ratio of each pair at the end.
#include <benchmark/benchmark.h>

#include "../util/bench_ratio.h"
#include "../../tests/source/srv/linetest/line_harness.h"
#include "line_bench_input.h"
#include "line_bench_kernel.h"

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
#include "pte.h"

namespace {

constexpr int kBlock = 40;
constexpr int kFrame = linetest::kFrame;

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

void BM_DtmfSpeechOurs(benchmark::State& st) {
  const auto x = linebench::speech8k();
  DTMFD_STATE s;
  dtmfdInit(&s);
  size_t pos = DTMFD_TAPS;
  for (auto _ : st) {
    DTDET_RESULT r;
    dtmfdBlk(&s, 0, 28, &r, x.data() + linebench::advance(pos, kBlock, x.size(), DTMFD_TAPS));
    benchmark::DoNotOptimize(r);
  }
}

void BM_DtmfSpeechSpandsp(benchmark::State& st) {
  const auto x = linebench::speech8k();
  dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, nullptr, nullptr);
  size_t pos = DTMFD_TAPS;
  char digits[64];
  for (auto _ : st) {
    dtmf_rx(rx, x.data() + linebench::advance(pos, kBlock, x.size(), DTMFD_TAPS), kBlock);
    dtmf_rx_get(rx, digits, sizeof(digits));
  }
  dtmf_rx_free(rx);
}

// The digit service's ingress kernel detecting on the line's speech, one 10 ms frame per
// iteration, run directly in a live channel.
void BM_PteSpeechOurs(benchmark::State& st) {
  using namespace linetest;
  const auto x = linebench::speech8k();
  open(&ptearc);
  command(HAPI_PTE_ENABLE_CMD, 1, HAPI_PTE_INGRESSMASK | HAPI_PTE_MODE_DIG_EVT | HAPI_PTE_MODE_DIG_RELAY);
  linebench::ServiceKernel kernel(HAPI_PTE_SRV, HAPI_DIRECTION_INGRESS);
  if (!kernel.ok()) st.SkipWithError("no digit service in the channel");
  std::vector<int16_t> media(x.begin(), x.end());  // the kernel may squelch its frame
  size_t pos = DTMFD_TAPS;
  long n = 0;
  for (auto _ : st) {
    kernel.run(pteIngress, media.data() + linebench::advance(pos, kFrame, media.size(), DTMFD_TAPS));
    linebench::channelNowAndThen(n);
  }
  close();
}

// The channel around a service, for scale: one whole frame of the test channel with the digit
// service idle.
void BM_ChannelOnly(benchmark::State& st) {
  using namespace linetest;
  open(&ptearc);
  for (auto _ : st) {
    runFrames(1);
    if (world().egressOut.size() > 80000) {
      world().egressOut.clear();
      world().ingressOut.clear();
    }
  }
  close();
}

void BM_PteSpeechSpandsp(benchmark::State& st) {
  const auto x = linebench::speech8k();
  dtmf_rx_state_t* rx = dtmf_rx_init(nullptr, [](void*, const char*, int) {}, nullptr);
  size_t pos = 0;
  for (auto _ : st) dtmf_rx(rx, x.data() + linebench::advance(pos, kFrame, x.size()), kFrame);
  dtmf_rx_free(rx);
}

BENCHMARK(BM_DtmfOurs);
BENCHMARK(BM_DtmfSpandsp);
BENCHMARK(BM_FskOurs);
BENCHMARK(BM_FskSpandsp);
BENCHMARK(BM_DtmfSpeechOurs);
BENCHMARK(BM_DtmfSpeechSpandsp);
BENCHMARK(BM_PteSpeechOurs);
BENCHMARK(BM_PteSpeechSpandsp);
BENCHMARK(BM_ChannelOnly);

}  // namespace

int main(int argc, char** argv) {
  return orvox_bench::runWithRatios(argc, argv, {
      {"DTMF detection, 5 ms block", "BM_DtmfOurs", "BM_DtmfSpandsp"},
      {"Bell 202 FSK reception, 5 ms block", "BM_FskOurs", "BM_FskSpandsp"},
      {"DTMF detector on speech, 5 ms block", "BM_DtmfSpeechOurs", "BM_DtmfSpeechSpandsp"},
      {"digit service on speech, 10 ms frame", "BM_PteSpeechOurs", "BM_PteSpeechSpandsp"},
      {"dial tone, oscillators, 5 ms block", "BM_DialToneOscOurs", "BM_DialToneSpandsp"},
      {"dial tone, digit service, 10 ms frame", "BM_DialToneSrvOurs", "BM_DialToneSrvSpandsp"},
      {"DTMF generation, oscillators, 5 ms block", "BM_DtmfGenOscOurs", "BM_DtmfGenSpandsp"},
      {"DTMF generation, dial string, 10 ms frame", "BM_DtmfGenSrvOurs", "BM_DtmfGenSrvSpandsp"},
      {"caller-ID transmit Bell 202, 5 ms frame", "BM_ClidTxBell202Ours", "BM_ClidTxBell202Spandsp"},
      {"caller-ID transmit V.23, 5 ms frame", "BM_ClidTxV23Ours", "BM_ClidTxV23Spandsp"},
      {"fax tone detection, 10 ms frame", "BM_CdisFaxOurs", "BM_CdisFaxSpandsp"},
      {"answer tone detection, 10 ms frame", "BM_CdisAnsOurs", "BM_CdisAnsSpandsp"},
  });
}
