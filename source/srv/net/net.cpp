// The NET service's instance, its per-frame blocks, the routing of its messages, and the held
// answers of the commands that complete later.
#include <cstring>

#include "lhapi.h"
#include "net_codes.h"
#include "net_internal.h"
#include "vhd/vhd_rest_hooks.h"

namespace netsrv {

void send(uint16_t header, uint16_t op1, uint16_t op2) { hsfObdSendStd(header, op1, op2); }

void sendExt(uint16_t header, uint16_t length, const void* data) {
  // The receiver reads NET's own copy, which outlives the message.
  hsfObdSendExt(header, length, const_cast<void*>(data));
}

void sendEcan(const HSZNETLOCLMEM* net, uint16_t header, uint16_t op1, uint16_t op2) {
  const HSZNETREGS& regs = net->hsxnetregs;
  if (regs.hsxPxdHandle == 0xFF || (regs.hsxNetOptions & HSNET_NET_OPTION_ECAN_CONTROL) == 0) return;
  // The echo canceller runs in the line channel: address that device, not this channel.
  QRN_QueueStdObdMsg(regs.hsxPxdHandle, header, op1, op2, HAPI_HEC_SRV);
}

void ecanEnableWithOptions(const HSZNETLOCLMEM* net, uint16_t enable, uint16_t options) {
  sendEcan(net, HAPI_HEC_ENABLE_CMD, enable, 0);
  sendEcan(net, HAPI_HEC_SETREG1_CMD, 0, options);
}

namespace {
// Statistics requests ask the service to clear its counters when the host collects them.
uint16_t statsClearFlag(const HSZNETLOCLMEM* net) {
  return net->hsxnetregs.hsxStatsInterval != 0 ? 1 : 0;
}
}  // namespace

void requestCodecStats(const HSZNETLOCLMEM* net) {
  send(HAPI_CODEC_GETSTATS_CMD, statsClearFlag(net), 0);
}

void requestFaxrStats(const HSZNETLOCLMEM* net) { send(kFaxrGetStats, statsClearFlag(net), 0); }

QRN_SocketMsg* holdAnswer(const HSFMSG* cmd, HSFMSG* answer) {
  if (answer == nullptr) {
    LHAPI_ASSERT_FAIL();
    return nullptr;
  }
  // The framework's answer record lies at the start of its message, which the framework releases
  // once the command returns "answered later"; NET keeps a copy with the same addressing.
  QRN_SocketMsg* held = QRN_DuplicateMsg(reinterpret_cast<const QRN_SocketMsg*>(answer));
  if (held == nullptr) {
    LHAPI_ASSERT_FAIL();
    return nullptr;
  }
  held->msg = *cmd;
  held->msgFlags &= ~static_cast<QRN_MsgFlags>(QRN_MsgFlagBufNeedsFree);
  return held;
}

void freeHeldAnswer(QRN_SocketMsg*& held) {
  if (held == nullptr) return;
  QRN_FreeSocketMsg(held);
  held = nullptr;
}

void sendHeldAnswer(QRN_SocketMsg*& held) {
  if (held == nullptr) return;
  QRN_Socket* socket = QRN_CurrentSocket();
  // An answer to a command that NET sent itself is not wanted by anyone.
  if (held->id.srv.target != HAPI_HOST_SRV || socket == nullptr) {
    freeHeldAnswer(held);
    return;
  }
  QRN_SocketMsg* msg = held;
  held = nullptr;
  msg->msgFlags = QRN_MsgFlagsWithResult(msg->msgFlags, HAPISUCCESS);
  QRN_QueueMsg(socket->handle, msg);
}

void completeModeChange(HSZNETLOCLMEM* net) {
  sendHeldAnswer(net->setnetmode_rsp);
  net->hsxstatus &= ~HSNET_STATUS_SWITCHING;
  send(HAPI_NET_MODE_EVT, net->hsxmode, 0);
}

void completeVoiceRate(HSZNETLOCLMEM* net) {
  if ((net->hsxstatus & HSNET_STATUS_VOICERATE) == 0) {
    LHAPI_ASSERT_FAIL();
    return;
  }
  sendHeldAnswer(net->setvoicerate_rsp);
  if (net->hsxstatus & HSNET_STATUS_SWITCHING) completeModeChange(net);
  net->hsxstatus &= ~HSNET_STATUS_VOICERATE;
}

CurrentServiceScope::CurrentServiceScope() : saved_(QRN_gSocketContext.pCurrentService) {
  if (saved_ != nullptr && saved_->archive != nullptr && saved_->archive->srvId == HAPI_NET_SRV) {
    return;
  }
  QRN_Service* self = QRN_FindServiceById(QRN_CurrentSocket(), HAPI_NET_SRV);
  if (self == nullptr) return;
  QRN_gSocketContext.pCurrentService = self;
  changed_ = true;
}

CurrentServiceScope::~CurrentServiceScope() {
  if (changed_) QRN_gSocketContext.pCurrentService = saved_;
}

namespace {

uint16_t addSaturated(uint16_t a, uint16_t b) {
  const unsigned sum = unsigned{a} + b;
  return sum > 0xFFFF ? uint16_t{0xFFFF} : static_cast<uint16_t>(sum);
}

// The timers advance once per frame, in whichever block claimed them first.
void advanceTimers(HSZNETLOCLMEM* net, uint16_t mine, uint16_t other) {
  if (net->hsxstatus & other) return;
  net->hsxstatus |= mine;
  const uint16_t stepMs = hsfFrmPeriodGet() / 8;
  net->hsxHeartbeat = addSaturated(net->hsxHeartbeat, stepMs);
  net->hsxStatsTimer = addSaturated(net->hsxStatsTimer, stepMs);
}

// The statistics timer over one idle run of the block that advances it: the check that restarts
// it when due (nothing else happens in a mode without statistics), then the step.
uint16_t idleStatsStep(uint16_t timer, uint16_t stepMs, uint16_t interval) {
  return addSaturated(timer >= interval ? uint16_t{0} : timer, stepMs);
}

// The statistics timer after `runs` such runs. Once due it restarts at one step, and from there
// it goes round the same cycle, so whole cycles are left out.
uint16_t idleStatsAfter(uint16_t timer, uint32_t runs, uint16_t stepMs, uint16_t interval) {
  while (runs > 0 && timer < interval) {
    timer = idleStatsStep(timer, stepMs, interval);
    --runs;
  }
  if (runs == 0) return timer;
  timer = idleStatsStep(timer, stepMs, interval);
  --runs;
  uint32_t cycle = 1;
  for (uint16_t t = timer; t < interval; t = idleStatsStep(t, stepMs, interval)) ++cycle;
  for (runs %= cycle; runs > 0; --runs) timer = idleStatsStep(timer, stepMs, interval);
  return timer;
}

// T.38 data from the network while the channel is not relaying fax means the far end has moved
// to fax: switch. The data stay queued where they are, for the T.38 service of the fax stack.
void watchForT38(HSZNETLOCLMEM* net) {
  if (net->hsxmode == NETMODE_FAXRELAY) return;
  HSFMSG msg{};
  unsigned found = 0;
  while (hsfIbdPeekOrRecv(HSF_IBD_T38, &msg, found, HSF_IBD_PEEK) != 0) ++found;
  if (found == 0) return;
  net->faxRelayStartMode = 0;
  net_procEvent(e_egressT38Rcvd, net);
}

// RTP and RTCP that no service of the running stack took end here.
void dropMediaPackets() {
  HSFMSG msg{};
  while (hsfIbdPeekOrRecv(HSF_IBD_RTP | HSF_IBD_RTCP, &msg, 0, HSF_IBD_RECEIVE) != 0) {
  }
}

}  // namespace
}  // namespace netsrv

using namespace netsrv;

HAPIRESULT netinit(HSFSRVOBJ srvp) {
  auto* net = instanceOf(srvp);
  if (net == nullptr) {
    LHAPI_ASSERT_FAIL();
    return HAPIFAILURE;
  }
  std::memset(net, 0, sizeof(*net));
  net->srvp = net;
  net->hsxmode = NETMODE_IDLE;
  net->autoswitchMask = HAPI_NET_AUTOSWITCH_MASK_V18_ASCII | HAPI_NET_AUTOSWITCH_MASK_V18_BAUDOT |
                        HAPI_NET_AUTOSWITCH_MASK_V18_PREAMBLE;
  net->hsxnetregs = hsnetRegsDefault();
  net->hsxnetpteregs = pteNetRegsDefault();
  net->hsxnetpveregs = pveVoiceRegsDefault();
  net->hsxnetFaxrRegs = faxrRegsDefault();
  net->hsxnetT38Regs = t38RegsDefault();
  net->hsxnetRtpRegs = rtpRegsDefault();
  net->hsxnetRtpRegs2 = rtpRegs2Default();
  net_stateMachineInit(net);
  return HAPISUCCESS;
}

// Answers still held when the channel closes go back to the framework's pool.
void netexit(HSFSRVOBJ srvp) {
  auto* net = instanceOf(srvp);
  if (net == nullptr) return;
  freeHeldAnswer(net->setnetmode_rsp);
  freeHeldAnswer(net->setvoicerate_rsp);
}

HAPIRESULT netMsg(HSFSRVOBJ srvp, HSFMSG* msg, HSFMSG* answer) {
  auto* net = instanceOf(srvp);
  if (net == nullptr || msg == nullptr) {
    LHAPI_ASSERT_FAIL();
    return HAPIFAILURE;
  }
  const uint16_t header = msg->std.header;
  if (!HAPI_OPCODE_IS_EVT(header)) return netio(net, msg, answer);
  switch (HAPI_OPCODE_GET_SRVID(header)) {
    case HAPI_CDIS_SRV:
      cdisEvent(net, msg);
      break;
    case HAPI_PTE_SRV:
      pteEvent(net, msg);
      break;
    case HAPI_CODEC_SRV:
      codecEvent(net, msg);
      break;
    default:
      generalEvent(net, msg);
      break;
  }
  return HAPISUCCESS;
}

void netIngress(HSFSRVOBJ srvp) {
  auto* net = instanceOf(srvp);
  if (net == nullptr) return;
  net_defaultActions(net);
  advanceTimers(net, HSNET_STATUS_INGRESS_TIMERS, HSNET_STATUS_EGRESS_TIMERS);
}

void netEgress(HSFSRVOBJ srvp) {
  auto* net = instanceOf(srvp);
  if (net == nullptr) return;
  net_defaultActions(net);
  advanceTimers(net, HSNET_STATUS_EGRESS_TIMERS, HSNET_STATUS_INGRESS_TIMERS);
  watchForT38(net);
  dropMediaPackets();
}

// Idle runs change only the two timers when nothing is sent from them: no heartbeat, and no
// statistics request in this mode. Blocks that have not yet claimed the timers must run.
uint32_t netRestRuns(HSFSRVOBJ srvp, HAPI_DIRECTION) {
  const auto* net = instanceOf(srvp);
  if (net == nullptr || net->hsxnetregs.hsxHeartbeatInterval != 0) return 0;
  if (net->hsxmode == NETMODE_PACKETVOICE || net->hsxmode == NETMODE_VOICEBANDDATA ||
      net->hsxmode == NETMODE_FAXRELAY) {
    return 0;
  }
  const bool claimed = (net->hsxstatus & (HSNET_STATUS_INGRESS_TIMERS | HSNET_STATUS_EGRESS_TIMERS)) != 0;
  return claimed && hsfFrmPeriodGet() >= 8 ? VHD_REST_UNBOUNDED : 0;
}

// Every run checks the statistics timer first; only the block that claimed the timers steps them.
// A check between two steps changes nothing the next step's own check would not, so only runs of
// the other block after the last step matter: they restart a due timer.
void netCatchUp(HSFSRVOBJ srvp, const VHD_Skipped& skipped) {
  auto* net = instanceOf(srvp);
  const bool egressSteps = (net->hsxstatus & HSNET_STATUS_EGRESS_TIMERS) != 0;
  const HAPI_DIRECTION stepper = egressSteps ? HAPI_DIRECTION_EGRESS : HAPI_DIRECTION_INGRESS;
  const uint32_t steps = egressSteps ? skipped.egress : skipped.ingress;
  const uint16_t stepMs = (egressSteps ? skipped.egressPeriod : skipped.ingressPeriod) / 8;
  const uint16_t interval = statsIntervalOf(net);
  const uint64_t heartbeat = uint64_t{net->hsxHeartbeat} + uint64_t{stepMs} * steps;
  net->hsxHeartbeat = heartbeat > 0xFFFF ? uint16_t{0xFFFF} : static_cast<uint16_t>(heartbeat);
  net->hsxStatsTimer = idleStatsAfter(net->hsxStatsTimer, steps, stepMs, interval);
  if (skipped.last != stepper && net->hsxStatsTimer >= interval) net->hsxStatsTimer = 0;
}
