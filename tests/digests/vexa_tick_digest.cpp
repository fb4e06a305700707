// Prints a hash of everything the framework's message path puts out over a fixed run of ticks: the
// PCM that each of eight hardware ports plays, the messages the host receives, and the free
// counts and low-water marks of both message pools at the end. Eight line channels on their
// ports and eight gateway channels on the lines' tops, as on the gateway, plus a three-way
// conference between the tops of lines 0, 1 and 2 and four lines that hear their own tops
// (several peers mixed into one frame, blocks duplicated to several destinations), one wideband
// port, a path cut and restored, and a gateway channel closed and opened again, with speech,
// saturating noise and silence on the ports. A speed change of the pools, messages, routing,
// switchboard, HAL shim or conference points keeps every line.
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "digest_util.h"
#include "halshim/halshim.h"
#include "lhapi.h"
#include "qrn/qrn.h"
#include "swb/swb.h"
#include "vhd/vhd.h"

namespace {

constexpr unsigned kPorts = 8;
constexpr unsigned kWidePort = 7;
constexpr int kTicks = 3000;

std::vector<std::int16_t> gSpeech;
std::array<std::array<std::int16_t, 80>, kPorts> gIn{};
std::array<std::array<std::int16_t, 80>, kPorts> gOut{};
std::array<digest::Fnv1a, kPorts> gPortHash;
digest::Fnv1a gHostHash;
unsigned gHostCount = 0;
int gTick = 0;

unsigned portSamples(unsigned port) { return port == kWidePort ? 80 : 40; }

void recordHost(QRN_Handle handle, QRN_SocketMsg* msg) {
  gHostCount += 1;
  const std::uint16_t head[3] = {handle, msg->msg.std.header, msg->handle};
  gHostHash.words(head, 3);
  gHostHash.words(&msg->msgFlags, 1);
  gHostHash.words(&msg->id.mask, 1);
  gHostHash.words(&msg->userTag, 1);
  if (HAPI_OPCODE_IS_STD(msg->msg.std.header)) {
    gHostHash.words(&msg->msg.std.op1, 1);
    gHostHash.words(&msg->msg.std.op2, 1);
  } else {
    gHostHash.words(&msg->msg.ext.length, 1);
    if (msg->msg.ext.bufp != nullptr) gHostHash.bytes(msg->msg.ext.bufp, msg->msg.ext.length);
  }
  QRN_FreeSocketMsg(msg);
}

QRN_Handle lineOf(unsigned i) { return static_cast<QRN_Handle>(HAPIVHD0 + i); }
QRN_Handle gatewayOf(unsigned i) { return static_cast<QRN_Handle>(HAPIVHD0 + kPorts + i); }

void duplex(std::uint16_t a, std::uint8_t aIf, std::uint16_t b, std::uint8_t bIf) {
  SWB_ConnectSimplex(SWB_Port{a, aIf, 0}, SWB_Port{b, bIf, 0});
  SWB_ConnectSimplex(SWB_Port{b, bIf, 0}, SWB_Port{a, aIf, 0});
}

void unduplex(std::uint16_t a, std::uint8_t aIf, std::uint16_t b, std::uint8_t bIf) {
  SWB_DisconnectSimplex(SWB_Port{a, aIf, 0}, SWB_Port{b, bIf, 0});
  SWB_DisconnectSimplex(SWB_Port{b, bIf, 0}, SWB_Port{a, aIf, 0});
}

// Resource-manager work (opening, closing, switchboard changes) runs in its context.
template <typename F>
void asResourceManager(F f) {
  QRN_gSocketContext.pCurrentSocket = QRN_RESMAN_CONTEXT;
  f();
  QRN_gSocketContext.pCurrentSocket = nullptr;
}

void openGateway(unsigned i) {
  VHD_OpenInstance(gatewayOf(i), HAPI_GATEWAY_VHD);
  duplex(lineOf(i), HAPI_SWB_TOS, gatewayOf(i), HAPI_SWB_BOS);
}

// Each port's input for the tick: speech at its own place, saturating noise for a while on
// ports 1 and 2 (the conference), silence on port 4 for a stretch.
void fillInputs(digest::Lcg& rng) {
  for (unsigned p = 0; p < kPorts; ++p) {
    const unsigned n = portSamples(p);
    for (unsigned k = 0; k < n; ++k) {
      std::int16_t v = gSpeech[(static_cast<std::size_t>(gTick) * n + k + p * 9973) % gSpeech.size()];
      if ((p == 1 || p == 2) && gTick >= 800 && gTick < 1100) {
        v = (rng.next() & 0x700) == 0 ? std::int16_t{-32768} : rng.sample();
      }
      if (p == 4 && gTick >= 1500 && gTick < 1700) v = 0;
      gIn[p][k] = v;
    }
  }
}

void changeTheWorld() {
  if (gTick == 600) {
    asResourceManager([] { unduplex(lineOf(3), HAPI_SWB_TOS, gatewayOf(3), HAPI_SWB_BOS); });
  } else if (gTick == 900) {
    asResourceManager([] { duplex(lineOf(3), HAPI_SWB_TOS, gatewayOf(3), HAPI_SWB_BOS); });
  } else if (gTick == 1200) {
    asResourceManager([] { VHD_CloseInstance(gatewayOf(5)); });
  } else if (gTick == 1301) {
    asResourceManager([] { openGateway(5); });
  } else if (gTick == 2000) {
    // Line 2 leaves the conference.
    asResourceManager([] {
      unduplex(lineOf(0), HAPI_SWB_TOS, lineOf(2), HAPI_SWB_TOS);
      unduplex(lineOf(1), HAPI_SWB_TOS, lineOf(2), HAPI_SWB_TOS);
    });
  }
}

}  // namespace

void lhapiProcessIngress() {
  for (unsigned p = 0; p < kPorts; ++p) halShimIngress(gIn[p].data(), p);
}

void lhapiProcessEgress() {
  for (unsigned p = 0; p < kPorts; ++p) {
    halShimEgress(gOut[p].data(), p);
    gPortHash[p].words(gOut[p].data(), portSamples(p));
  }
}

int main(int argc, char** argv) {
  const std::string root = argc > 1 ? argv[1] : ORVOX_SOURCE_DIR;
  gSpeech = digest::load_fixture(root + "/tests/data/speech/speech_8k.raw", 8000 * 30);
  lhapiInit(0);
  QRN_HapiInit(recordHost, nullptr);
  asResourceManager([] {
    for (unsigned i = 0; i < kPorts; ++i) {
      halShimCfgDevice(i, 1, i == kWidePort ? 1 : 0);
      VHD_OpenInstance(lineOf(i), HAPI_LINE_ECAN_VHD);
      duplex(static_cast<std::uint16_t>(i), HAPI_SWB_TOS, lineOf(i), HAPI_SWB_BOS);
      openGateway(i);
    }
    // Lines 0, 1 and 2 hear each other at their tops.
    duplex(lineOf(0), HAPI_SWB_TOS, lineOf(1), HAPI_SWB_TOS);
    duplex(lineOf(0), HAPI_SWB_TOS, lineOf(2), HAPI_SWB_TOS);
    duplex(lineOf(1), HAPI_SWB_TOS, lineOf(2), HAPI_SWB_TOS);
    // Lines 3 to 6 hear themselves beside their gateway channels.
    for (unsigned i = 3; i <= 6; ++i) {
      SWB_ConnectSimplex(SWB_Port{lineOf(i), HAPI_SWB_TOS, 0}, SWB_Port{lineOf(i), HAPI_SWB_TOS, 0});
    }
  });
  digest::Lcg rng;
  for (gTick = 0; gTick < kTicks; ++gTick) {
    changeTheWorld();
    fillInputs(rng);
    lhapiProcessEntrySync();
  }
  for (unsigned p = 0; p < kPorts; ++p) {
    std::printf("vexa port %u out %016llx\n", p, static_cast<unsigned long long>(gPortHash[p].h));
  }
  std::printf("vexa host %u messages %016llx\n", gHostCount,
              static_cast<unsigned long long>(gHostHash.h));
  std::printf("vexa pools msg free %d low %d ext free %d low %d\n", QRN_gHapiMsgBufPool.numFreeBuf,
              QRN_gHapiMsgBufPool.lowWaterMark, QRN_gHapiExtDataBufPool.numFreeBuf,
              QRN_gHapiExtDataBufPool.lowWaterMark);
  return 0;
}
