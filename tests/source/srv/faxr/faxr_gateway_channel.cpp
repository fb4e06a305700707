// The gateway channel shared by the fax tests and the fax gateway benchmark.
#include "faxr_gateway_channel.h"

#include <array>

#include "faxr.h"
#include "knl/knl.h"
#include "lhapi.h"
#include "t38.h"
#include "vhd/vhd.h"

extern const HSFSRVARC v21arc;
extern const HSFSRVARC vfxarc;

namespace faxrchan {

namespace {

QRN_StackArchive gStacks[1];
QRN_SocketConfig gConfig;
VHD_Archive gArchives[1];

GatewayHooks gHooks{};
long gFrames = 0;

int16_t* frameSamples() {
  QRN_Socket* s = QRN_CurrentSocket();
  return s != nullptr ? s->memDesc[HSF_MEDQ_LOWBAND] : nullptr;
}

void topIngress(HSFSRVOBJ) {
  HSFMSG m{};
  while (hsfIbdPeekOrRecv(0x100, &m, 0, HSF_IBD_RECEIVE) != 0) {
    if (HAPI_OPCODE_IS_STD(m.std.header) || m.ext.bufp == nullptr) continue;
    if (gHooks.datagramOut != nullptr) gHooks.datagramOut(static_cast<const uint8_t*>(m.ext.bufp), m.ext.length);
  }
  if (gHooks.datagramsOutEnd != nullptr) gHooks.datagramsOutEnd();
  // the rest of the channel's in-band data ends here
  while (hsfIbdPeekOrRecv(0xFFFFFFFFu, &m, 0, HSF_IBD_RECEIVE) != 0) {
  }
  ++gFrames;
}
void topEgress(HSFSRVOBJ) {
  if (gHooks.datagramsIn != nullptr) gHooks.datagramsIn();
}
void bottomIngress(HSFSRVOBJ) {
  int16_t* x = frameSamples();
  if (x != nullptr && gHooks.lineIn != nullptr) gHooks.lineIn(x);
}
void bottomEgress(HSFSRVOBJ) {
  const int16_t* x = frameSamples();
  if (x != nullptr && gHooks.lineOut != nullptr) gHooks.lineOut(x);
}

const HSFSRVARC topArc = {HAPI_NET_SRV, sizeof(Probe), nullptr, topIngress, topEgress, probeInit, nullptr};
const HSFSRVARC bottomArc = {HAPI_CONF_BOS_SRV, sizeof(Probe), nullptr, bottomIngress, bottomEgress, probeInit, nullptr};

const std::array<QRN_ServiceArchive, 6> kGatewayStack = {{
    {&topArc, 1, HAPI_HOST_SRV},
    {&t38arc, 1, HAPI_HOST_SRV},
    {&faxrarc, 1, HAPI_HOST_SRV},
    {&v21arc, 1, HAPI_FAXR_SRV},
    {&vfxarc, 1, HAPI_FAXR_SRV},
    {&bottomArc, 1, HAPI_HOST_SRV},
}};

}  // namespace

HAPIRESULT probeInit(HSFSRVOBJ) { return HAPISUCCESS; }

void openChannel(QRN_HostMsgCallback host, std::span<const QRN_ServiceArchive> services, uint32_t memory) {
  lhapiInit(0);
  QRN_HapiInit(host, nullptr);
  gStacks[0] = QRN_StackArchive{14, kFrame, services.data(), uint16_t(services.size())};
  gConfig = QRN_SocketConfig{16000, memory, gStacks, 1, 14, 0, 0x602, 0x680, 400, 400, 880, 880};
  gArchives[0] = VHD_Archive{HAPI_GATEWAY_VHD, 2, &gConfig};
  VHD_gArchive = gArchives;
  VHD_gNumArchives = 1;
  VHD_OpenInstance(kVhd, HAPI_GATEWAY_VHD);
}

void closeChannel() {
  VHD_CloseInstance(kVhd);
  for (int i = 0; i < 4; ++i) tick();
  lhapiDeinit();
}

void tick() {
  HSZBIOSSTATE s = LHAPI_gpFncLockSMP();
  KNL_FrameSync();
  LHAPI_gpFncUnlockSMP(s);
}

void openFaxGateway(QRN_HostMsgCallback host, const GatewayHooks& hooks) {
  gHooks = hooks;
  gFrames = 0;
  openChannel(host, kGatewayStack, 400000);
  for (int i = 0; i < 2; ++i) runFrame();
}

long frames() { return gFrames; }

void runFrame() {
  const long target = gFrames + 1;
  for (int guard = 0; gFrames < target && guard < 16; ++guard) tick();
}

void command(uint16_t header, uint16_t op1, uint16_t op2) {
  QRN_QueueStdObdMsg(kVhd, header, op1, op2, HAPI_HOST_SRV, header >> 8, 1, QRN_MsgFlagHostMsg);
  runFrame();
}

void sendDatagram(const uint8_t* data, uint16_t length) { hsfIbdSendExtAlloc(0x100, 0x1701, length, data); }

}  // namespace faxrchan
