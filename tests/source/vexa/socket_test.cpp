// Sockets, services and messages: in-band data through a probe stack, reply rules, the stack
// switch handshake, the release of everything a closed socket held, and idle channels that rest
// and catch up.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

#include "probe_services.h"
#include "net.h"
#include "rtp.h"
#include "halshim/halshim.h"
#include "rm/rm.h"
#include "swb/swb.h"
#include "vexa_test_util.h"

namespace {

using namespace vexa_test;

constexpr HAPISRVID kTop = 0x10;
constexpr HAPISRVID kBottom = 0x12;
constexpr HAPISRVID kTop2 = 0x13;
constexpr HAPISRVID kNet = HAPI_NET_SRV;
constexpr QRN_Handle kVhd = HAPIVHD0;

const HSFSRVARC topArc = probeArc(kTop);
const HSFSRVARC top2Arc = probeArc(kTop2);
const HSFSRVARC netArc = probeArc(kNet);
const HSFSRVARC bottomArc = probeArc(kBottom);

const QRN_ServiceArchive stack1[] = {
    {&topArc, 1, kNet}, {&netArc, 0, HAPI_HOST_SRV}, {&bottomArc, 1, kNet}};
const QRN_ServiceArchive stack2[] = {
    {&top2Arc, 1, kNet}, {&netArc, 0, HAPI_HOST_SRV}, {&bottomArc, 1, kNet}};
const QRN_StackArchive stacks[] = {{1, 80, stack1, 3}, {2, 80, stack2, 3}};
const QRN_SocketConfig probeConfig = {0,      8192,   stacks, 2,   1,    0,
                                      0x1902, 0x265B, 400,    400, 3600, 3600};
const VHD_Archive probeArchive[] = {{HAPI_GATEWAY_VHD, 2, &probeConfig}};

std::vector<HostMsg> hostMessagesFrom(QRN_Handle handle) {
  std::vector<HostMsg> out;
  for (const HostMsg& m : hostLog()) {
    if (m.handle == handle) out.push_back(m);
  }
  return out;
}

int eventIndex(const std::string& e) {
  auto& ev = probes().events;
  auto it = std::find(ev.begin(), ev.end(), e);
  return it == ev.end() ? -1 : static_cast<int>(it - ev.begin());
}

void hostCommand(uint16_t header, uint16_t op1, uint16_t op2, uint16_t tag, bool genResponse) {
  QRN_QueueStdObdMsg(kVhd, header, op1, op2, HAPI_HOST_SRV, header >> 8, tag,
                     QRN_MsgFlagHostMsg | (genResponse ? QRN_MsgFlagGenResponse : 0u));
}

class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    probes() = ProbeWorld{};
    startFramework(probeArchive, 1);
    start_ = poolCounts();
    ASSERT_EQ(VHD_OpenInstance(kVhd, HAPI_GATEWAY_VHD), 1);
    tick(2);  // frame size 80: the first runs
  }
  void TearDown() override {
    if (VHD_GetInstance(kVhd) != nullptr) VHD_CloseInstance(kVhd);
    EXPECT_EQ(poolCounts(), start_);
  }
  ProbeBehaviour& behaviour(HAPISRVID id) { return probes().behaviour[id]; }
  PoolCounts start_{};
};

TEST_F(SocketTest, InBandDataClimbsTheStackAndLeavesToTheHost) {
  const std::array<uint8_t, 4> packet{1, 2, 3, 4};
  HSF_IBD_MASK ownSeen = 1;
  behaviour(kBottom).ingress = [&](ProbeState& s) {
    HSFMSG m{};
    ownSeen = hsfIbdPeekOrRecv(~0u, &m, 0, HSF_IBD_PEEK);  // nothing from below this frame
    hsfIbdSendStd(0x40, 0x12C5, static_cast<uint16_t>(s.ingressRuns), 0);
    hsfIbdSendStd(0x80, 0x12C6, 0, 0);
    hsfIbdSendStd(0x40, 0x12C5, static_cast<uint16_t>(100 + s.ingressRuns), 0);
    hsfIbdSendExtAlloc(0x2, 0x1201, packet.size(), packet.data());
    ownSeen |= hsfIbdPeekOrRecv(~0u, &m, 0, HSF_IBD_PEEK);  // its own data stay invisible
  };
  uint16_t secondOfMask = 0;
  behaviour(kNet).ingress = [&](ProbeState&) {
    HSFMSG m{};
    // The second message of mask 0x40, not the second message.
    if (hsfIbdPeekOrRecv(0x40, &m, 1, HSF_IBD_PEEK) == 0x40) secondOfMask = m.std.op1;
    EXPECT_EQ(hsfIbdPeekOrRecv(0x80, &m, 0, HSF_IBD_RECEIVE), 0x80u);
    EXPECT_EQ(hsfIbdPeekOrRecv(0x80, &m, 0, HSF_IBD_PEEK), 0u);
  };
  behaviour(kTop).ingress = [&](ProbeState&) {
    void* buf = hsfIbdReceivePtr(0x2);
    ASSERT_NE(buf, nullptr);
    // The received block stays valid for the rest of this run: pass it on as RTP uncopied.
    hsfIbdSendExt(0x800, 0, packet.size(), buf);
  };
  hostLog().clear();
  tick(2);
  EXPECT_EQ(ownSeen, 0u);
  const int run = probes().instance[kBottom]->ingressRuns;
  EXPECT_EQ(secondOfMask, 100 + run);
  std::vector<HostMsg> got = hostMessagesFrom(kVhd);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].mask, 0x40u);
  EXPECT_EQ(got[0].op1, run);
  EXPECT_EQ(got[1].op1, 100 + run);
  EXPECT_EQ(got[2].mask, 0x800u);
  EXPECT_EQ(got[2].data, std::vector<uint8_t>(packet.begin(), packet.end()));
  EXPECT_TRUE(got[2].blockInUse);
  for (const HostMsg& m : got) EXPECT_NE(m.flags & QRN_MsgFlagIbdIngress, 0u);
  // Every block went back at the end of the run.
  EXPECT_EQ(QRN_gHapiExtDataBufPool.numFreeBuf, start_.extFree);
}

// A frame's media buffer comes from the scratch area that every thread run reuses. Whatever an
// earlier run left there, a service reads zeros wherever it can address the frame: the low band,
// and the high band once a wider frame and mode are set in the middle of a run; behind the frame
// lies the history, the stream's latest samples. The buffer's last byte is written as a whole
// clear would, so the scratch area's high-water figure does not change.
TEST_F(SocketTest, TheAddressableFrameReadsAsZerosBehindTheSavedHistory) {
  const size_t historySamples = probeConfig.ingressNarrowbandMedqHist / 2;
  const uint8_t* scratch = QRN_gHapiScratch.basep;
  const size_t mediaSize = probeConfig.ingressMediaQSize;
  EXPECT_EQ(scratch[mediaSize - 1], 0);
  const uint8_t* top = QRN_gHapiScratch.endp;
  EXPECT_TRUE(std::all_of(scratch + mediaSize, top, [](uint8_t b) { return b == MEM_SCRATCH_FILL_BYTE; }));
  // The egress run, before ingress in every frame, leaves the whole area it had dirty.
  behaviour(kBottom).egress = [&](ProbeState&) {
    auto* low = reinterpret_cast<uint8_t*>(QRN_CurrentSocket()->memDesc[HSF_MEDQ_LOWBAND]);
    std::memset(low, 0x5A, probeConfig.egressMediaQSize - probeConfig.egressNarrowbandMedqHist);
  };
  std::vector<int16_t> stream(historySamples, 0);  // the history a new channel starts from
  int dirty = 0;
  int badHistory = 0;
  auto countDirty = [&](const int16_t* from, size_t n) {
    if (from == nullptr) return;
    dirty += static_cast<int>(std::count_if(from, from + n, [](int16_t v) { return v != 0; }));
  };
  int runs = 0;
  behaviour(kBottom).ingress = [&](ProbeState&) {
    QRN_Socket* socket = QRN_CurrentSocket();
    int16_t* low = socket->memDesc[HSF_MEDQ_LOWBAND];
    const uint16_t frame = hsfFrmPeriodGet();
    if (!std::equal(low - historySamples, low, stream.end() - historySamples)) ++badHistory;
    countDirty(low, frame);
    countDirty(socket->memDesc[HSF_MEDQ_HIGHBAND], hsfModeGet() == HSF_WIDEBAND_MODE ? 2u * frame : 0u);
    for (uint16_t i = 0; i < 40; ++i) low[i] = static_cast<int16_t>(1000 * runs + i + 1);
    if (++runs == 3) hsfModeAndFramePeriodSet(160, HSF_WIDEBAND_MODE);
  };
  behaviour(kTop).ingress = [&](ProbeState&) {
    QRN_Socket* socket = QRN_CurrentSocket();
    const int16_t* low = socket->memDesc[HSF_MEDQ_LOWBAND];
    const uint16_t frame = hsfFrmPeriodGet();
    countDirty(low + 40, frame - 40u);  // the first 40 samples are the marks
    if (hsfModeGet() == HSF_WIDEBAND_MODE) {
      EXPECT_NE(socket->memDesc[HSF_MEDQ_HIGHBAND], nullptr);
      countDirty(socket->memDesc[HSF_MEDQ_HIGHBAND], 2u * frame);
    }
    stream.insert(stream.end(), low, low + frame);
  };
  tick(24);
  EXPECT_EQ(runs, 7);  // 2 narrowband frames, the one that widens, 4 of 160 samples
  EXPECT_EQ(dirty, 0);
  EXPECT_EQ(badHistory, 0);
}

TEST_F(SocketTest, ABlockTakenOverByAServiceLivesUntilItFreesIt) {
  void* kept = nullptr;
  behaviour(kBottom).ingress = [](ProbeState& s) {
    const uint32_t v = 0xC0DE0000u + static_cast<uint32_t>(s.ingressRuns);
    hsfIbdSendExtAlloc(0x2, 0x1201, sizeof(v), &v);
  };
  behaviour(kTop).ingress = [&](ProbeState&) {
    if (kept != nullptr) return;
    HSFMSG m{};
    ASSERT_EQ(hsfIbdPeekOrRecv(0x2, &m, 0, HSF_IBD_RECEIVE_NOT_FREE), 0x2u);
    kept = m.ext.bufp;
  };
  tick(2);
  ASSERT_NE(kept, nullptr);
  uint32_t first = 0;
  std::memcpy(&first, kept, sizeof(first));
  tick(4);  // later frames' blocks come and go; the kept one is untouched
  uint32_t again = 0;
  std::memcpy(&again, kept, sizeof(again));
  EXPECT_EQ(again, first);
  EXPECT_EQ(QRN_gHapiExtDataBufPool.numFreeBuf, start_.extFree - 1);
  QRN_FreeExtMsg(kept);
  EXPECT_EQ(QRN_gHapiExtDataBufPool.numFreeBuf, start_.extFree);
}

TEST_F(SocketTest, CommandsAreAnsweredByTheReplyRules) {
  behaviour(kNet).ioctl = [](ProbeState&, HSFMSG* cmd, HSFMSG* reply) -> HAPIRESULT {
    switch (cmd->std.header) {
      case 0x30B0:
        return HAPISUCCESS;
      case 0x30B1:
        return HAPI_ERR_INVALID_CMD;  // fails without writing a reply
      case 0x30B5:
        reply->std = HSFMSGSTD{0x30B5, 11, 22};
        return HAPISUCCESS;
      case 0x3032:
        return HAPI_ERR_INVALID_REGS;  // an extended command refused
      default:
        return HAPI_ERR_UNKNOWN_MESSAGE;
    }
  };
  hostLog().clear();
  hostCommand(0x30B0, 1, 2, 1, false);  // success, no response asked: none
  hostCommand(0x30B0, 1, 2, 2, true);   // success with a response
  hostCommand(0x30B1, 5, 6, 3, false);  // failure: echoed with the result
  hostCommand(0x30B5, 0, 0, 4, true);   // the handler's own reply
  hostCommand(0x44B0, 0, 0, 5, true);   // no such service in the stack: nothing
  const std::array<uint8_t, 6> regs{9, 8, 7, 6, 5, 4};
  QRN_QueueExtObdMsg(kVhd, 0x3032, regs.data(), regs.size(), HAPI_HOST_SRV, kNet, 6,
                     QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse, 0xFFFE);
  tick(2);
  std::vector<HostMsg> got = hostMessagesFrom(kVhd);
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].userTag, 2);
  EXPECT_EQ(got[0].header, 0x30B0);
  EXPECT_EQ(got[0].result, 0);
  EXPECT_EQ(got[1].userTag, 3);
  EXPECT_EQ(got[1].header, 0x30B1);
  EXPECT_EQ(got[1].op1, 5);
  EXPECT_EQ(got[1].op2, 6);
  EXPECT_EQ(got[1].result, HAPI_ERR_INVALID_CMD);
  EXPECT_EQ(got[2].userTag, 4);
  EXPECT_EQ(got[2].op1, 11);
  EXPECT_EQ(got[2].op2, 22);
  EXPECT_EQ(got[3].userTag, 6);
  EXPECT_EQ(got[3].result, HAPI_ERR_INVALID_REGS);
  EXPECT_EQ(got[3].data, std::vector<uint8_t>(regs.begin(), regs.end()));
  EXPECT_TRUE(got[3].blockInUse) << "the host read a data block already freed";
  for (const HostMsg& m : got) {
    EXPECT_EQ(m.flags & (QRN_MsgFlagResponse | QRN_MsgFlagObd), QRN_MsgFlagResponse | QRN_MsgFlagObd);
    EXPECT_EQ(m.sender, kNet);
    EXPECT_EQ(m.target, HAPI_HOST_SRV);
  }
  EXPECT_EQ(eventIndex("ioctl 68 0x44b0"), -1);
}

TEST_F(SocketTest, EventsGoToTheParentAndCommandsToTheNamedService) {
  behaviour(kBottom).egress = [](ProbeState& s) {
    if (s.egressRuns == 2) hsfObdSendStd(0x12C1, 5, 6);  // parent: the NET service
  };
  behaviour(kNet).egress = [](ProbeState& s) {
    if (s.egressRuns == 2) {
      hsfObdSendStd(0x30C4, 7, 8);   // parent 0: the host
      hsfObdSendStd(0x10B7, 0, 0);   // a command to the top service
    }
  };
  hostLog().clear();
  tick(2);
  EXPECT_NE(eventIndex("ioctl 48 0x12c1"), -1);
  EXPECT_NE(eventIndex("ioctl 16 0x10b7"), -1);
  std::vector<HostMsg> got = hostMessagesFrom(kVhd);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].header, 0x30C4);
  EXPECT_EQ(got[0].op1, 7);
  EXPECT_EQ(got[0].sender, kNet);
}

TEST_F(SocketTest, StackSwitchesThereAndBackWithCallbackAndCompletionEvent) {
  int callbacks = 0;
  void* callbackInstance = nullptr;
  static std::function<void(void*)> onSwitched;
  onSwitched = [&](void* srvp) {
    callbacks += 1;
    callbackInstance = srvp;
  };
  behaviour(kNet).ioctl = [](ProbeState&, HSFMSG* cmd, HSFMSG*) -> HAPIRESULT {
    if (cmd->std.header == HSF_MKHDR(kNet, HAPI_OPC_STACK_SWITCH_CMD)) {
      hsfStackSwitch(cmd->std.op1, [](void* srvp, void*) { onSwitched(srvp); });
    }
    return HAPISUCCESS;
  };
  ProbeState* net = probes().instance[kNet];
  net->value = 42;
  const uint16_t switchCmd = HSF_MKHDR(kNet, HAPI_OPC_STACK_SWITCH_CMD);

  for (uint16_t target : {uint16_t{2}, uint16_t{1}}) {
    SCOPED_TRACE(target);
    probes().events.clear();
    callbacks = 0;
    hostCommand(switchCmd, target, 0, 10, true);
    hostCommand(0x30B0, 0, 0, 11, true);  // held while the switch is under way
    for (int i = 0; i < 10 && eventIndex("ioctl 48 0xf1") < 0; ++i) tick();
    tick(4);
    const int done = eventIndex("ioctl 48 0xf1");
    ASSERT_GE(done, 0) << "the requester got no completion event";
    EXPECT_GT(eventIndex("ioctl 48 0x30b0"), done);
    EXPECT_EQ(callbacks, 1);
    EXPECT_EQ(callbackInstance, net);
    EXPECT_EQ(probes().instance[kNet], net);
    EXPECT_EQ(net->value, 42u);  // the core service kept its state
    const HAPISRVID gone = target == 2 ? kTop : kTop2;
    const HAPISRVID come = target == 2 ? kTop2 : kTop;
    EXPECT_GE(eventIndex("exit " + std::to_string(gone)), 0);
    EXPECT_GE(eventIndex("init " + std::to_string(come)), 0);
    EXPECT_GE(eventIndex("exit " + std::to_string(kBottom)), 0);
    EXPECT_EQ(eventIndex("init " + std::to_string(kNet)), -1);
    QRN_Socket* socket = QRN_FindSocket(kVhd);
    EXPECT_EQ(socket->currStackArchive->stackId, target);
    EXPECT_FALSE(socket->ss_ctl.modeChangeInprogress);
    EXPECT_FALSE(socket->ss_ctl.stackswitchInprogress);
    EXPECT_GT(probes().instance[come]->egressRuns, 0);  // the new stack runs
  }
  // Both host commands of each round were answered, and nothing of the switch reached the
  // host under a host transaction's tag other than those.
  int answered = 0;
  for (const HostMsg& m : hostLog()) {
    if (m.handle == kVhd && (m.userTag == 10 || m.userTag == 11)) ++answered;
  }
  EXPECT_EQ(answered, 4);
}

TEST_F(SocketTest, SwitchToTheRunningStackCallsBackAtOnce) {
  int callbacksBeforeReturn = -1;
  static int callbacks;
  callbacks = 0;
  behaviour(kBottom).egress = [&](ProbeState& s) {
    if (s.egressRuns != 2) return;
    hsfStackSwitch(1, [](void*, void*) { callbacks += 1; });
    callbacksBeforeReturn = callbacks;
    vexa_test::AssertCounter asserts;
    hsfStackSwitch(2, nullptr);  // a second switch while one is under way is refused
    EXPECT_EQ(asserts.stop(), 1);
  };
  behaviour(kBottom).ioctl = [](ProbeState&, HSFMSG* cmd, HSFMSG*) -> HAPIRESULT {
    probes().events.push_back("bottom got " + hex(cmd->std.header));
    return HAPISUCCESS;
  };
  tick(4);
  EXPECT_EQ(callbacksBeforeReturn, 1);
  EXPECT_NE(eventIndex("bottom got 0xf1"), -1);
  EXPECT_EQ(QRN_FindSocket(kVhd)->currStackArchive->stackId, 1);
}

TEST_F(SocketTest, SwitchWithoutACallbackStillCompletes) {
  behaviour(kBottom).egress = [](ProbeState& s) {
    if (s.egressRuns == 2 && QRN_FindSocket(kVhd)->currStackArchive->stackId == 1) {
      hsfStackSwitch(2, nullptr);
    }
  };
  behaviour(kBottom).ioctl = [](ProbeState&, HSFMSG* cmd, HSFMSG*) -> HAPIRESULT {
    probes().events.push_back("bottom got " + hex(cmd->std.header));
    return HAPISUCCESS;
  };
  tick(8);
  EXPECT_NE(eventIndex("bottom got 0xf1"), -1);
  EXPECT_EQ(QRN_FindSocket(kVhd)->currStackArchive->stackId, 2);
  EXPECT_FALSE(QRN_FindSocket(kVhd)->ss_ctl.modeChangeInprogress);
}

TEST_F(SocketTest, ClosingReleasesMessagesFromEveryQueue) {
  const std::array<uint8_t, 32> data{};
  for (int round = 0; round < 2; ++round) {
    QRN_QueueExtObdMsg(kVhd, 0x3032, data.data(), data.size(), HAPI_HOST_SRV, kNet, 1,
                       QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse, 0xFFFE);    // hostmsgQ
    QRN_QueueExtObdMsg(kVhd, 0x3032, data.data(), data.size(), kTop, kNet, 0, 0, 0x50);  // msgQ
    QRN_QueueExtIbdMsg(kVhd, 0, data.data(), data.size(), 0x200,
                       QRN_MsgFlagHostMsg | QRN_MsgFlagIbdIngress, 0xFFFE);  // ingress hostdataQ
    QRN_QueueExtIbdMsg(kVhd, 0, data.data(), data.size(), 0x800,
                       QRN_MsgFlagHostMsg | QRN_MsgFlagIbdEgress, 0xFFFE);   // egress hostdataQ
    QRN_QueueExtIbdMsg(kVhd, 0, data.data(), data.size(), 0x200, QRN_MsgFlagIbdIngress, 0x51);
    QRN_QueueExtIbdMsg(kVhd, 0, data.data(), data.size(), 0x800, QRN_MsgFlagIbdEgress, 0x51);
  }
  QRN_Socket* socket = QRN_FindSocket(kVhd);
  ASSERT_NE(socket, nullptr);
  EXPECT_EQ(socket->hostmsgQ.count, 2u);
  EXPECT_EQ(socket->msgQ.count, 2u);
  EXPECT_EQ(socket->ingress->hostdataQ.count, 2u);
  EXPECT_EQ(socket->egress->hostdataQ.count, 2u);
  EXPECT_EQ(socket->ingress->dataQ.count, 2u);
  EXPECT_EQ(socket->egress->dataQ.count, 2u);
  // A switchboard path from the channel to a hardware port goes with it.
  halShimCfgDevice(0, 1, 0);
  ASSERT_EQ(SWB_ConnectSimplex(SWB_Port{kVhd, HAPI_SWB_BOS, 0}, SWB_Port{0, HAPI_SWB_TOS, 0}), 1);
  EXPECT_EQ(SWB_gConnectionList.portsUsed, 3);
  VHD_CloseInstance(kVhd);
  EXPECT_EQ(QRN_FindSocket(kVhd), nullptr);
  EXPECT_EQ(SWB_gConnectionList.portsUsed, 1);
  halShimProcessMessagesInHal();  // the port's flush
  EXPECT_EQ(poolCounts(), start_);
  EXPECT_NE(eventIndex("exit " + std::to_string(kNet)), -1);
}

// Sockets whose handles share the low byte (the same channel number on two processors) are told
// apart, whichever of them closes first.
TEST_F(SocketTest, SocketsAreFoundByTheirWholeHandle) {
  const QRN_Handle other = kVhd | 0x100;
  const QRN_Handle third = kVhd | 0x200;
  EXPECT_EQ(QRN_FindSocket(other), nullptr);
  QRN_Socket* a = QRN_CreateSocket(other, &probeConfig, 0);
  QRN_Socket* b = QRN_CreateSocket(third, &probeConfig, 0);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  QRN_Socket* vhd = QRN_FindSocket(kVhd);
  ASSERT_NE(vhd, nullptr);
  EXPECT_EQ(vhd->handle, kVhd);
  EXPECT_EQ(QRN_FindSocket(other), a);
  EXPECT_EQ(QRN_FindSocket(third), b);
  VHD_CloseInstance(kVhd);
  EXPECT_EQ(QRN_FindSocket(kVhd), nullptr);
  EXPECT_EQ(QRN_FindSocket(other), a);
  EXPECT_EQ(QRN_FindSocket(third), b);
  QRN_CloseSocket(b);
  EXPECT_EQ(QRN_FindSocket(third), nullptr);
  EXPECT_EQ(QRN_FindSocket(other), a);
  // A socket opened again under a closed one's handle is the one found.
  QRN_Socket* again = QRN_CreateSocket(third, &probeConfig, 0);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(QRN_FindSocket(third), again);
  QRN_CloseSocket(again);
  QRN_CloseSocket(a);
  EXPECT_EQ(QRN_FindSocket(other), nullptr);
}

TEST_F(SocketTest, MessagesForAnUnknownChannelAreFreedAndReported) {
  hostLog().clear();
  QRN_QueueStdObdMsg(0x5F, 0x30B0, 0, 0, HAPI_HOST_SRV, kNet, 1, QRN_MsgFlagHostMsg);
  // In-band data of a type the half does not accept are dropped at routing.
  QRN_QueueStdIbdMsg(kVhd, 0x12C5, 0, 0, 0x400, QRN_MsgFlagIbdIngress);
  ASSERT_EQ(hostLog().size(), 1u);
  EXPECT_EQ(hostLog()[0].header, HAPI_RM_ERROR_EVT);
  EXPECT_EQ(hostLog()[0].op1, HAPI_RM_ERR_INVALID_HANDLE);
  EXPECT_EQ(hostLog()[0].op2, 0x5F);
  EXPECT_EQ(QRN_FindSocket(kVhd)->ingress->dataQ.count, 0u);
  EXPECT_EQ(QRN_gHapiMsgBufPool.numFreeBuf, start_.msgFree - 0);
}

// ---- resting idle channels ----

// Everything of a gateway channel a later call could see: its services' memory and saved
// history, what the host received, and the pools.
struct ChannelImage {
  std::vector<uint8_t> memory;
  std::vector<HostMsg> host;
  PoolCounts pools;
};

ChannelImage imageOf(QRN_Handle handle) {
  ChannelImage image{};
  const QRN_Socket* socket = VHD_GetInstance(handle)->socket;
  const QRN_StackArchive* stack = socket->currStackArchive;
  for (uint16_t i = 0; i < stack->numServices; ++i) {
    const QRN_Service& service = socket->service[i];
    const auto* bytes = static_cast<const uint8_t*>(service.serviceData);
    image.memory.insert(image.memory.end(), bytes, bytes + service.archive->instMemSize);
  }
  const QRN_SocketConfig* c = socket->config;
  const uint8_t* in = socket->ingress->mediaQhistory;
  const uint8_t* out = socket->egress->mediaQhistory;
  image.memory.insert(image.memory.end(), in, in + c->ingressNarrowbandMedqHist);
  image.memory.insert(image.memory.end(), out, out + c->egressNarrowbandMedqHist);
  image.host = hostLog();
  image.pools = poolCounts();
  return image;
}

// Opens a gateway channel with a statistics period of `statsMs` (0: the default), leaves it idle
// for `ticks`, then wakes it: a command, a switchboard path from it, or a change of its mode;
// returns its image a few ticks later and whether it was resting when the wake came.
constexpr uint16_t kNetGetMode = 0x3006;
enum class Wake { COMMAND, PATH, MODE };

// The channel's random numbers and clock come from the host: the same in both runs.
uint16_t fixedRandom() { return 0x1234; }
int fixedTime(uint32_t* seconds, uint32_t* microseconds) {
  *seconds = 1000;
  *microseconds = 0;
  return 0;
}
void ignoreTime(uint32_t, uint32_t) {}

ChannelImage idleThenWake(int ticks, uint16_t statsMs, Wake wake, bool restAllowed, bool* rested) {
  startFramework();
  rtpHostSources = RTP_HOST_SOURCES{fixedRandom, fixedTime, ignoreTime, fixedTime};
  VHD_gRestAllowed = restAllowed;
  QRN_gSocketContext.pCurrentSocket = QRN_RESMAN_CONTEXT;
  EXPECT_EQ(VHD_OpenInstance(kVhd, HAPI_GATEWAY_VHD), 1);
  QRN_gSocketContext.pCurrentSocket = nullptr;
  // As the host's register write would: a short statistics period, restarted many times a rest.
  QRN_Service* net = QRN_FindServiceById(VHD_GetInstance(kVhd)->socket, HAPI_NET_SRV);
  static_cast<HSZNETLOCLMEM*>(net->serviceData)->hsxnetregs.hsxStatsInterval = statsMs;
  tick(ticks);
  const VHD_Instance* slot = VHD_GetInstance(kVhd);
  *rested = slot->skipped.ingress > 0 && slot->skipped.egress > 0;
  // Each wakes a resting channel at its next run; the command is answered by it.
  switch (wake) {
    case Wake::COMMAND:
      QRN_QueueStdObdMsg(kVhd, kNetGetMode, 0, 0, HAPI_HOST_SRV, HAPI_NET_SRV, 7,
                         QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse);
      break;
    case Wake::PATH:
      EXPECT_EQ(SWB_ConnectSimplex(SWB_Port{kVhd, HAPI_SWB_TOS, 0}, SWB_Port{0, HAPI_SWB_TOS, 0}), 1);
      break;
    case Wake::MODE:
      VHD_SetEgressFrameSizeAndMode(kVhd, VHD_FRAMESIZE_RESTORE, QRN_WIDEBAND_MODE);
      break;
  }
  // A wake ends the rest of both directions; one of them may start another at once.
  tick(1);
  EXPECT_FALSE(slot->skipped.ingress > 0 && slot->skipped.egress > 0) << "missed after " << ticks;
  if (wake == Wake::COMMAND) {
    EXPECT_FALSE(hostLog().empty() || hostLog().back().userTag != 7) << "no answer after " << ticks;
  }
  // Runs of every frame from here, so that the image holds no skipped run still to catch up.
  VHD_gRestAllowed = false;
  tick(3);
  ChannelImage image = imageOf(kVhd);
  VHD_CloseInstance(kVhd);
  VHD_gRestAllowed = true;
  rtpHostSourcesDefault();
  return image;
}

// Idle spells ending at every point of the statistics restarts and of the codec's control blocks
// (each second of ingress runs, which the channel runs), on either direction, with the default
// statistics period and with one that restarts many times in a rest, ended in turn by each kind
// of wake.
TEST(ChannelRest, AChannelWokenFromRestIsTheChannelThatRanEveryFrame) {
  int rests = 0;
  // The last spell: the heartbeat count (ms, never restarted without a heartbeat) tops out.
  std::vector<int> spells(230);
  std::iota(spells.begin(), spells.end(), 190);
  spells.push_back(13200);
  for (uint16_t statsMs : {uint16_t{0}, uint16_t{35}}) {
    for (int ticks : spells) {
      bool rested = false;
      bool ranThrough = false;
      const Wake wake = static_cast<Wake>(ticks % 3);
      const ChannelImage fromRest = idleThenWake(ticks, statsMs, wake, true, &rested);
      const ChannelImage everyFrame = idleThenWake(ticks, statsMs, wake, false, &ranThrough);
      rests += rested ? 1 : 0;
      EXPECT_FALSE(ranThrough);
      ASSERT_TRUE(fromRest.memory == everyFrame.memory) << ticks << " ticks, statistics " << statsMs;
      ASSERT_EQ(fromRest.host.size(), everyFrame.host.size()) << ticks;
      for (size_t i = 0; i < fromRest.host.size(); ++i) {
        EXPECT_EQ(fromRest.host[i].header, everyFrame.host[i].header);
        EXPECT_EQ(fromRest.host[i].op1, everyFrame.host[i].op1);
        EXPECT_EQ(fromRest.host[i].op2, everyFrame.host[i].op2);
        EXPECT_EQ(fromRest.host[i].data, everyFrame.host[i].data);
      }
      EXPECT_EQ(fromRest.pools, everyFrame.pools) << ticks;
    }
  }
  EXPECT_GT(rests, 400);  // the channel rested before nearly every command
}

// A stack with a service that never rests keeps the channel awake; back on a stack whose services
// all rest, the channel rests again.
TEST(ChannelRest, OnlyAStackWhoseServicesAllRestLetsTheChannelRest) {
  startFramework();
  rtpHostSources = RTP_HOST_SOURCES{fixedRandom, fixedTime, ignoreTime, fixedTime};
  QRN_gSocketContext.pCurrentSocket = QRN_RESMAN_CONTEXT;
  ASSERT_EQ(VHD_OpenInstance(kVhd, HAPI_GATEWAY_VHD), 1);
  QRN_gSocketContext.pCurrentSocket = nullptr;
  const VHD_Instance* slot = VHD_GetInstance(kVhd);
  const auto restingAfterIdle = [slot](uint16_t stackId) {
    QRN_SocketStackSwitch(kVhd, stackId);
    tick(390);  // short of the second at which the ingress runs anyway
    EXPECT_EQ(slot->socket->currStackArchive->stackId, stackId);
    return slot->skipped.ingress > 0 && slot->skipped.egress > 0;
  };
  EXPECT_TRUE(restingAfterIdle(HAPI_VOICE_STACK));
  EXPECT_FALSE(restingAfterIdle(HAPI_FAX_STACK));
  EXPECT_TRUE(restingAfterIdle(HAPI_VOICE_STACK));
  VHD_CloseInstance(kVhd);
  rtpHostSourcesDefault();
}

}  // namespace
