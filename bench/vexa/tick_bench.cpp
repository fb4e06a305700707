// Cost of one DSP tick with 8 line channels and 8 connection channels running their configured
// stacks (services not built yet pass their data through), PCM flowing port <-> line channel <->
// connection channel on every path.
#include <benchmark/benchmark.h>

#include <array>
#include <cmath>

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

}  // namespace

BENCHMARK_MAIN();
