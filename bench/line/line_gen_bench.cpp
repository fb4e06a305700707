// Tone, digit and caller-ID generation, ours next to libspandsp's making the same signal: the
// oscillators alone per 5 ms block, and the services' egress kernels per frame, run directly in a
// live test channel. The ratios are printed by line_bench.cpp's main.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "../../tests/source/srv/clid/clid_packets.h"
#include "../../tests/source/srv/linetest/line_harness.h"
#include "clidtx.h"
#include "line_bench_kernel.h"
#include "pte.h"
#include "tone.h"

namespace {

constexpr int kBlock = 40;
constexpr int kFrame = linetest::kFrame;
const char kDigits[] = "0123456789*#ABCD";

// One egress frame of a service's kernel per iteration on a fresh (silent) media buffer.
template <int N>
void runEgress(benchmark::State& st, HSFSRVID id, void (*kernel)(HSFSRVOBJ), long refreshPeriod = 0,
               void (*refresh)() = nullptr) {
  linebench::ServiceKernel k(id, HAPI_DIRECTION_EGRESS);
  if (!k.ok()) st.SkipWithError("service not in the channel");
  int16_t media[N];
  long n = 0;
  for (auto _ : st) {
    if (refresh != nullptr && n % refreshPeriod == 0) refresh();
    std::memset(media, 0, sizeof(media));
    k.run(kernel, media);
    benchmark::DoNotOptimize(media);
    linebench::channelNowAndThen(n);
  }
}

// ---- dial tone ----

void BM_DialToneOscOurs(benchmark::State& st) {
  HSZTONE a, b;
  hsfToneReset(&a, 350, 5200);
  hsfToneReset(&b, 440, 5200);
  int16_t block[kBlock];
  for (auto _ : st) {
    std::memset(block, 0, sizeof(block));
    hsfToneGen(block, &a, kBlock);
    hsfToneGen(block, &b, kBlock);
    benchmark::DoNotOptimize(block);
  }
}

tone_gen_state_t* spandspDialTone() {
  static tone_gen_descriptor_t* d = tone_gen_descriptor_init(nullptr, 350, -13, 440, -13, 1000000, 0, 0, 0, 1);
  return tone_gen_init(nullptr, d);
}

void runSpandspTone(benchmark::State& st, int n) {
  tone_gen_state_t* g = spandspDialTone();
  int16_t out[kFrame];
  for (auto _ : st) {
    tone_gen(g, out, n);
    benchmark::DoNotOptimize(out);
  }
  tone_gen_free(g);
}

void BM_DialToneSpandsp(benchmark::State& st) { runSpandspTone(st, kBlock); }
void BM_DialToneSrvSpandsp(benchmark::State& st) { runSpandspTone(st, kFrame); }

void BM_DialToneSrvOurs(benchmark::State& st) {
  using namespace linetest;
  open(&ptearc);
  HAPI_PTE_CUSTOM_PACKET p{};
  p.signalContrl = HAPI_PTE_MKSIGNALCTRL(1, 0, 0, 0);
  p.profile.numFreqGroups = 1;
  HAPI_PTE_FREQ_GRP& g = p.profile.freqGrp[0];
  g.signalLevel = HAPI_PTE_MKSIGNALLEVEL(13, 13);
  g.freq[0] = 350;
  g.freq[1] = 440;
  g.amp[0] = g.amp[1] = 0x5880;
  g.freqGroupInfo = HAPI_PTE_MKFREQGRP_INFO(2, 1);
  g.pulse[0] = {HAPI_PTE_CADBIT_FREQ1 | HAPI_PTE_CADBIT_NOSTATECHANGE, 0, 3, 0};
  extCommand(HAPI_PTE_TONE_GEN_CMD, &p, sizeof(p));
  runEgress<kFrame>(st, HAPI_PTE_SRV, pteEgress);
  close();
}

// ---- DTMF ----

// The peer's signal: each digit 12 blocks (60 ms) on, then 12 blocks off.
void BM_DtmfGenOscOurs(benchmark::State& st) {
  HSZTONE lo, hi;
  int16_t block[kBlock];
  int n = 0;
  for (auto _ : st) {
    const int inDigit = n % 24;
    if (inDigit == 0) {
      const DTGEN_PROFILE& f = dtgenDtmfProf[(n / 24) % 16];
      hsfToneReset(&lo, f.freq1, 7000);
      hsfToneReset(&hi, f.freq2, 8000);
    }
    ++n;
    std::memset(block, 0, sizeof(block));
    if (inDigit < 12) {
      hsfToneGen(block, &lo, kBlock);
      hsfToneGen(block, &hi, kBlock);
    }
    benchmark::DoNotOptimize(block);
  }
}

void runSpandspDtmf(benchmark::State& st, int n) {
  dtmf_tx_state_t* tx = dtmf_tx_init(nullptr);
  dtmf_tx_set_timing(tx, 60, 60);
  int16_t out[kFrame];
  for (auto _ : st) {
    if (dtmf_tx(tx, out, n) < n) dtmf_tx_put(tx, kDigits, -1);
    benchmark::DoNotOptimize(out);
  }
  dtmf_tx_free(tx);
}

void BM_DtmfGenSpandsp(benchmark::State& st) { runSpandspDtmf(st, kBlock); }
void BM_DtmfGenSrvSpandsp(benchmark::State& st) { runSpandspDtmf(st, kFrame); }

void startDialString() {
  ptesrv::HAPI_PTE_DIALSTRING ds{};
  ds.dBmLevel = 7;
  ds.dBmSkew = 2;
  ds.pulseOnTime = 480;
  ds.pulseOffTime = 480;
  ds.pauseTime = 800;
  ds.numCharacters = 16;
  for (int i = 0; i < 16; ++i) ds.digitArray[i] = static_cast<uint8_t>(i);
  linetest::extCommand(HAPI_PTE_DIALSTRING_CMD, &ds, sizeof(ds));
}

void BM_DtmfGenSrvOurs(benchmark::State& st) {
  linetest::open(&ptearc);
  runEgress<kFrame>(st, HAPI_PTE_SRV, pteEgress, 190, startDialString);  // 16 x 120 ms
  linetest::close();
}

// ---- caller ID ----

// The same message for both: 300 seizure bits, 180 marks, 40 characters.
const uint8_t kClidMessage[] = {0x80, 38,  0x01, 8,   '1', '2', '0', '7', '1', '2', '5', '3', 0x02, 10,
                                '0',  '1', '2',  '3', '4', '5', '6', '7', '8', '9', 0x07, 12,  'O',  'R',
                                'V',  'O', 'X',  ' ', 'L', 'I', 'N', 'E', ' ', 'A', 'B',  'C'};

void sendClidMessage() {
  using namespace linetest;
  command(CLIDTX_TRANSMIT_CMD, 0, 0);
  world().egressPackets.push_back({{HSF_IBD_PACKET, 0, clidpackets::packet(0, 300, 180)},
                                   {HSF_IBD_PACKET, 0, clidpackets::packet(2, sizeof(kClidMessage), 10, kClidMessage)}});
  command(CLIDTX_TRANSMIT_CMD, 1, 0);
}

void runClidTxOurs(benchmark::State& st, uint16_t mark, uint16_t space) {
  using namespace linetest;
  open(&clidtxsrvarc, kBlock);
  const HSZCLIDTXREGS regs{0, 4788, mark, space};
  extCommand(CLIDTX_SETREGS_CMD, &regs, sizeof(regs));
  command(CLIDTX_ENABLE_CMD, 1, 0);
  runEgress<kBlock>(st, HAPI_CLIDTX_SRV, clidTxBlk, 125, sendClidMessage);  // about 800 bits: 134 blocks
  close();
}

void runClidTxSpandsp(benchmark::State& st, int standard) {
  adsi_tx_state_t* tx = adsi_tx_init(nullptr, standard);
  adsi_tx_set_preamble(tx, 300, 180, 10, -1);
  int16_t out[kBlock];
  for (auto _ : st) {
    if (adsi_tx(tx, out, kBlock) < kBlock) adsi_tx_put_message(tx, kClidMessage, sizeof(kClidMessage));
    benchmark::DoNotOptimize(out);
  }
  adsi_tx_free(tx);
}

void BM_ClidTxBell202Ours(benchmark::State& st) { runClidTxOurs(st, 1200, 2200); }
void BM_ClidTxV23Ours(benchmark::State& st) { runClidTxOurs(st, 1300, 2100); }
void BM_ClidTxBell202Spandsp(benchmark::State& st) { runClidTxSpandsp(st, ADSI_STANDARD_CLASS); }
void BM_ClidTxV23Spandsp(benchmark::State& st) { runClidTxSpandsp(st, ADSI_STANDARD_CLIP); }

BENCHMARK(BM_DialToneOscOurs);
BENCHMARK(BM_DialToneSpandsp);
BENCHMARK(BM_DialToneSrvOurs);
BENCHMARK(BM_DialToneSrvSpandsp);
BENCHMARK(BM_DtmfGenOscOurs);
BENCHMARK(BM_DtmfGenSpandsp);
BENCHMARK(BM_DtmfGenSrvOurs);
BENCHMARK(BM_DtmfGenSrvSpandsp);
BENCHMARK(BM_ClidTxBell202Ours);
BENCHMARK(BM_ClidTxBell202Spandsp);
BENCHMARK(BM_ClidTxV23Ours);
BENCHMARK(BM_ClidTxV23Spandsp);

}  // namespace
