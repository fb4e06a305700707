// The packetiser as a service in a channel: coded frames in, superpackets to the host; received
// packets checked and reported without a jitter buffer.
#include <gtest/gtest.h>

#include <vector>

#include "knl/knl.h"
#include "lhapi.h"
#include "pve_pktize.h"
#include "qrn/qrn.h"
#include "vhd/vhd.h"

namespace {

constexpr QRN_Handle kVhd = HAPIVHD0;

struct World {
  struct Msg {
    uint16_t header, op1, op2;
    std::vector<uint8_t> data;
  };
  std::vector<Msg> host;
  std::vector<HSFMSGSTD> control;  // mask-1 messages for the next ingress run
  int frames = 0;                  // G.711 frames to send per ingress run
  uint32_t ts = 0;
};
World& world() {
  static World w;
  return w;
}

void feederIngress(HSFSRVOBJ) {
  World& w = world();
  for (const HSFMSGSTD& m : w.control) hsfIbdSendStd(0x1, m.header, m.op1, m.op2);
  w.control.clear();
  for (int i = 0; i < w.frames; ++i) {
    auto* f = static_cast<uint16_t*>(hsfMemAllocScratch(8 + 40));
    f[0] = HAPI_PKT_VOICE << 8;
    f[1] = 40;
    f[2] = static_cast<uint16_t>(w.ts >> 16);
    f[3] = static_cast<uint16_t>(w.ts);
    for (int k = 0; k < 20; ++k) f[4 + k] = 0xFFFF;
    w.ts += 40;
    hsfIbdSendExt(HSF_IBD_PACKET, 0, 48, f);
  }
}

const HSFSRVARC feederArc = {HAPI_PCM_SRV, 8, nullptr, feederIngress, nullptr, nullptr, nullptr};
const QRN_ServiceArchive stack[] = {{&pvepktizearc, 1, HAPI_HOST_SRV}, {&feederArc, 1, HAPI_PVE_SRV}};
const QRN_StackArchive stacks[] = {{1, 80, stack, 2}};
const QRN_SocketConfig config = {28000, 8000, stacks, 1, 1, 0, 0x1902, 0x261B, 400, 400, 3600, 3600};
const VHD_Archive archives[] = {{HAPI_GATEWAY_VHD, 2, &config}};

void host(QRN_Handle, QRN_SocketMsg* msg) {
  World::Msg m{msg->msg.std.header, msg->msg.std.op1, msg->msg.std.op2, {}};
  if (!HAPI_OPCODE_IS_STD(m.header) && msg->msg.ext.bufp != nullptr) {
    const auto* p = static_cast<const uint8_t*>(msg->msg.ext.bufp);
    m.data.assign(p, p + msg->msg.ext.length);
  }
  world().host.push_back(m);
  QRN_FreeSocketMsg(msg);
}

void tick(int n = 1) {
  for (int i = 0; i < n; ++i) {
    HSZBIOSSTATE s = LHAPI_gpFncLockSMP();
    KNL_FrameSync();
    LHAPI_gpFncUnlockSMP(s);
  }
}

class PktizeService : public ::testing::Test {
 protected:
  void SetUp() override {
    world() = World{};
    lhapiInit(0);
    QRN_HapiInit(host, nullptr);
    VHD_gArchive = archives;
    VHD_gNumArchives = 1;
    ASSERT_EQ(VHD_OpenInstance(kVhd, HAPI_GATEWAY_VHD), 1);
    tick(2);
  }
  void TearDown() override {
    VHD_CloseInstance(kVhd);
    tick(2);
  }
  void command(uint16_t header, uint16_t op1, uint16_t op2) {
    QRN_QueueStdObdMsg(kVhd, header, op1, op2, HAPI_HOST_SRV, header >> 8, 1, QRN_MsgFlagHostMsg);
    tick();
  }
  int count(uint16_t header, uint16_t op1 = 0xFFFF) {
    int n = 0;
    for (const World::Msg& m : world().host) n += m.header == header && (op1 == 0xFFFF || m.op1 == op1);
    return n;
  }
};

TEST_F(PktizeService, FramesBecomeSuperpacketsOnceStarted) {
  world().frames = 2;  // 10 ms frames
  tick(4);
  EXPECT_EQ(count(HAPI_NET_INGRESSPACKET_EVT), 0) << "nothing before it is enabled";
  world().control.push_back({HAPI_PVE_PKT_SETVOICERATE_CMD, 0, 160});
  world().control.push_back({HAPI_PVE_PKT_ENCSTART_CMD, 0, 0});
  tick(1);
  world().host.clear();
  tick(16);  // 80 ms of 10 ms channel frames
  ASSERT_EQ(count(HAPI_NET_INGRESSPACKET_EVT), 4);
  for (const World::Msg& m : world().host) {
    if (m.header == HAPI_NET_INGRESSPACKET_EVT) {
      EXPECT_EQ(m.data.size(), 8u + 160u);
    }
  }
  command(HAPI_PVE_PKT_ENABLE_CMD, 0, 0);
  world().host.clear();
  tick(8);
  EXPECT_EQ(count(HAPI_NET_INGRESSPACKET_EVT), 0) << "disabled";
}

TEST_F(PktizeService, PacketsWithoutFrameSizeAreReportedOnceAndRepeatsDropped) {
  command(HAPI_PVE_PKT_ENABLE_CMD, 1, 0);
  std::vector<uint16_t> pkt = {HAPI_PKT_VOICE << 8 | 7, 10, 8, 100, 0, 0, 0, 0, 0};
  for (int i = 0; i < 3; ++i) {
    pkt[3] = static_cast<uint16_t>(100 + 80 * i);
    QRN_QueueExtIbdMsg(kVhd, HAPI_NET_EGRESSPACKET_CMD, pkt.data(), static_cast<uint16_t>(pkt.size() * 2), HSF_IBD_PACKET,
                       QRN_MsgFlagHostMsg | QRN_MsgFlagIbdEgress, HAPIVHD_HOST);
    tick();
  }
  EXPECT_EQ(count(HAPI_PVE_EXCEPTION, 17), 1);
  // A SID frame is reported as it passes; a second packet with the same timestamp is dropped.
  std::vector<uint16_t> sid = {HAPI_PKT_SID << 8 | HAPI_PKT_VC_GENERIC_SID, 1, 8, 500, 0x2800};
  for (int i = 0; i < 2; ++i) {
    QRN_QueueExtIbdMsg(kVhd, HAPI_NET_EGRESSPACKET_CMD, sid.data(), static_cast<uint16_t>(sid.size() * 2), HSF_IBD_PACKET,
                       QRN_MsgFlagHostMsg | QRN_MsgFlagIbdEgress, HAPIVHD_HOST);
    tick();
  }
  EXPECT_EQ(count(HAPI_PVE_SID_EGRESS_EVENT, 0), 1);
}

}  // namespace
