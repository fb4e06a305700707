// Cost of one DSP tick with 8 line channels and 8 connection channels running their configured
// stacks (services not built yet pass their data through), PCM flowing port <-> line channel <->
// connection channel on every path.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "g729.h"
#include "orvox_fixture.h"

#include "halshim/halshim.h"
#include "knl/knl.h"
#include "lhapi.h"
#include "qrn/qrn.h"
#include "swb/swb.h"
#include "vhd/vhd.h"

namespace {
constexpr unsigned kPorts = 8;
std::array<int16_t, 40> gTone;
std::array<int16_t, 40> gOut;
}  // namespace

void lhapiProcessIngress() {
  for (unsigned p = 0; p < kPorts; ++p) halShimIngress(gTone.data(), p);
}

void lhapiProcessEgress() {
  for (unsigned p = 0; p < kPorts; ++p) halShimEgress(gOut.data(), p);
}

namespace {

void dropHostMessage(QRN_Handle, QRN_SocketMsg* msg) { QRN_FreeSocketMsg(msg); }

void duplex(uint16_t a, uint8_t aIf, uint16_t b, uint8_t bIf) {
  SWB_ConnectSimplex(SWB_Port{a, aIf, 0}, SWB_Port{b, bIf, 0});
  SWB_ConnectSimplex(SWB_Port{b, bIf, 0}, SWB_Port{a, aIf, 0});
}

void setUpChannels() {
  lhapiInit(0);
  QRN_HapiInit(dropHostMessage, nullptr);
  for (unsigned i = 0; i < 40; ++i) {
    gTone[i] = static_cast<int16_t>(std::lround(8000 * std::sin(2 * M_PI * i / 8.0)));
  }
  // Opened as the resource manager opens them.
  QRN_gSocketContext.pCurrentSocket = QRN_RESMAN_CONTEXT;
  for (unsigned i = 0; i < kPorts; ++i) {
    halShimCfgDevice(i, 1, 0);
    const uint16_t line = HAPIVHD0 + i;
    const uint16_t gw = HAPIVHD0 + kPorts + i;
    VHD_OpenInstance(line, HAPI_LINE_ECAN_VHD);
    VHD_OpenInstance(gw, HAPI_GATEWAY_VHD);
    duplex(static_cast<uint16_t>(i), HAPI_SWB_TOS, line, HAPI_SWB_BOS);
    duplex(line, HAPI_SWB_TOS, gw, HAPI_SWB_BOS);
  }
  QRN_gSocketContext.pCurrentSocket = nullptr;
  for (int i = 0; i < 8; ++i) lhapiProcessEntrySync();  // paths flowing
}

void BM_TickEightLineAndEightGatewayChannels(benchmark::State& state) {
  setUpChannels();
  for (auto _ : state) {
    lhapiProcessEntrySync();
    benchmark::DoNotOptimize(gOut);
  }
  state.counters["msgFree"] = QRN_gHapiMsgBufPool.numFreeBuf;
  state.counters["extFree"] = QRN_gHapiExtDataBufPool.numFreeBuf;
}
BENCHMARK(BM_TickEightLineAndEightGatewayChannels);

// The same tick with the voice codecs of eight G.729A connections: every second 5 ms tick each
// connection encodes and decodes one 10 ms frame of speech, as the packet engine does.
struct G729Connection {
  G729ENCSTATE enc;
  G729DECSTATE dec;
  std::size_t frame = 0;
};

const std::vector<std::int16_t>& benchSpeech() {
  static const std::vector<std::int16_t> pcm = [] {
    auto s = orvox_fixture::loadPcm16("speech/speech_8k.raw");
    s.resize(s.size() / 80 * 80);
    return s;
  }();
  return pcm;
}

void BM_TickWithEightG729AEncodersAndDecoders(benchmark::State& state) {
  setUpChannels();
  auto conns = std::make_unique<std::array<G729Connection, kPorts>>();
  const auto& speech = benchSpeech();
  const std::size_t frames = speech.size() / 80;
  for (unsigned c = 0; c < kPorts; ++c) {
    auto& k = (*conns)[c];
    g729EncodeInit(&k.enc, G729RATE_NUM_RATES);
    g729EncodeCfg(&k.enc, G729VAD_OFF, G729RATE_8_KBPS_A);
    g729DecodeInit(&k.dec, G729RATE_NUM_RATES);
    g729DecodeCfg(&k.dec, G729RATE_8_KBPS_A);
    k.frame = (c * frames) / kPorts;  // each connection at its own place in the speech
  }
  std::int16_t pcm[80];
  std::uint16_t bits[6];
  unsigned tick = 0;
  for (auto _ : state) {
    lhapiProcessEntrySync();
    if (tick++ & 1) {
      for (auto& k : *conns) {
        g729Encoder(&k.enc, &speech[80 * k.frame], bits, nullptr);
        g729Decoder(&k.dec, pcm, bits, G729_RATE_8_0, nullptr);
        k.frame = (k.frame + 1) % frames;
      }
    }
    benchmark::DoNotOptimize(pcm);
    benchmark::DoNotOptimize(gOut);
  }
  state.SetLabel("per 5 ms tick");
}
BENCHMARK(BM_TickWithEightG729AEncodersAndDecoders);

}  // namespace

BENCHMARK_MAIN();
