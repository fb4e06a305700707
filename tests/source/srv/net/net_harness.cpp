// The test channels and the recording host behind the NET service tests.
#include "net_harness.h"

#include <cstddef>
#include <cstring>
#include <iterator>

#include "net_codes.h"

namespace nettest {

World& world() {
  static World w;
  return w;
}

namespace {

// State of a probe service: what it answers statistics requests with.
struct Probe {
  HSFSRVID id;
  HAPI_PVE_STATS stats;
  HAPI_PVE_STATE state;
  HSZFAXRSTATS faxStats;
};

HAPIRESULT probeInit(HSFSRVOBJ obj) {
  auto* p = static_cast<Probe*>(obj);
  p->id = QRN_gSocketContext.pCurrentService->archive->srvId;
  p->stats.decoder.packetCount = 0x1234;
  p->state.currentEnc = 0x0100;
  p->faxStats.egress.hsxNumRxPages = 3;
  return HAPISUCCESS;
}

void record(HSFSRVID srv, const HSFMSG* msg) {
  Cmd c{};
  QRN_Socket* socket = QRN_CurrentSocket();
  c.dev = socket != nullptr ? socket->handle : 0;
  c.srv = srv;
  c.header = msg->std.header;
  if (HAPI_OPCODE_IS_STD(c.header)) {
    c.op1 = msg->std.op1;
    c.op2 = msg->std.op2;
  } else {
    c.op1 = msg->ext.length;
    const auto* p = static_cast<const uint8_t*>(msg->ext.bufp);
    if (p != nullptr) c.data.assign(p, p + msg->ext.length);
  }
  world().commands.push_back(c);
}

HAPIRESULT probeIoctl(HSFSRVOBJ obj, HSFMSG* msg, HSFMSG*) {
  auto* p = static_cast<Probe*>(obj);
  record(p->id, msg);
  switch (msg->std.header) {
    case HAPI_CODEC_SETVOICERATE_CMD:
      if (world().codecAnswersRate) hsfObdSendStd(HAPI_CODEC_VOICERATE_EVT, msg->std.op1 & 0xFF, 0);
      break;
    case HAPI_CODEC_GETSTATS_CMD:
      hsfObdSendExt(HAPI_CODEC_GETSTATS_EVT, sizeof(p->stats), &p->stats);
      break;
    case HAPI_CODEC_GETSTATE_CMD:
      hsfObdSendExt(HAPI_CODEC_GETSTATE_EVT, sizeof(p->state), &p->state);
      break;
    case netsrv::kFaxrGetStats:
      hsfObdSendExt(netsrv::kFaxrStatsEvt, sizeof(p->faxStats), &p->faxStats);
      break;
    default:
      break;
  }
  return HAPISUCCESS;
}

void probeIngress(HSFSRVOBJ obj) {
  const HSFSRVID id = static_cast<Probe*>(obj)->id;
  auto& pending = world().pendingEvents;
  for (size_t i = 0; i < pending.size();) {
    if (pending[i].from != id) {
      ++i;
      continue;
    }
    hsfObdSendStd(pending[i].header, pending[i].op1, pending[i].op2);
    pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

void probeEgress(HSFSRVOBJ obj) {
  const HSFSRVID id = static_cast<Probe*>(obj)->id;
  HSFMSG m{};
  if (id == HAPI_T38_SRV) {
    while (hsfIbdPeekOrRecv(HSF_IBD_T38, &m, 0, HSF_IBD_RECEIVE) != 0) {
      const auto* p = static_cast<const uint8_t*>(m.ext.bufp);
      world().t38Taken.emplace_back(p, p + m.ext.length);
    }
  } else if (id == HAPI_FAXR_SRV) {
    for (unsigned i = 0; hsfIbdPeekOrRecv(HSF_IBD_RTP | HSF_IBD_RTCP, &m, i, HSF_IBD_PEEK) != 0; ++i) {
      ++world().mediaBelowNet;
    }
  }
}

constexpr HSFSRVARC probeArc(HAPISRVID id) {
  return HSFSRVARC{id, sizeof(Probe), probeIoctl, probeIngress, probeEgress, probeInit, nullptr};
}

// NET as the channel runs it, with the commands it takes recorded like the probes'.
HAPIRESULT recordingNetMsg(HSFSRVOBJ obj, HSFMSG* msg, HSFMSG* answer) {
  if (HAPI_OPCODE_IS_EVT(msg->std.header)) {
    world().netEvents.push_back(msg->std.header);
  } else {
    record(HAPI_NET_SRV, msg);
  }
  return netMsg(obj, msg, answer);
}

const HSFSRVARC netArc = {HAPI_NET_SRV, sizeof(HSZNETLOCLMEM), recordingNetMsg, netIngress,
                          netEgress,    netinit,               netexit};
const HSFSRVARC rtpArc = probeArc(HAPI_RTP_SRV);
const HSFSRVARC codecArc = probeArc(HAPI_CODEC_SRV);
const HSFSRVARC pteArc = probeArc(HAPI_PTE_SRV);
const HSFSRVARC cdisArc = probeArc(HAPI_CDIS_SRV);
const HSFSRVARC v21Arc = probeArc(HAPI_V21_SRV);
const HSFSRVARC pcmArc = probeArc(HAPI_PCM_SRV);
const HSFSRVARC confArc = probeArc(HAPI_CONF_BOS_SRV);
const HSFSRVARC ecanArc = probeArc(HAPI_HEC_SRV);
const HSFSRVARC t38Arc = probeArc(HAPI_T38_SRV);
const HSFSRVARC faxrArc = probeArc(HAPI_FAXR_SRV);
const HSFSRVARC vfxArc = probeArc(HAPI_VFAX_SRV);

// The gateway's two stacks; the echo-canceller probe at the bottom of both lets a test point NET
// at its own channel and see the echo-canceller commands in order with the others.
const QRN_ServiceArchive voiceStack[] = {
    {&rtpArc, 1, HAPI_NET_SRV},  {&netArc, 0, HAPI_HOST_SRV},  {&codecArc, 1, HAPI_NET_SRV},
    {&pteArc, 1, HAPI_NET_SRV},  {&cdisArc, 1, HAPI_NET_SRV},  {&v21Arc, 1, HAPI_CDIS_SRV},
    {&pcmArc, 1, HAPI_NET_SRV},  {&confArc, 1, HAPI_NET_SRV},  {&ecanArc, 1, HAPI_NET_SRV},
};
const QRN_ServiceArchive faxStack[] = {
    {&t38Arc, 1, HAPI_NET_SRV},  {&netArc, 0, HAPI_HOST_SRV},  {&faxrArc, 1, HAPI_NET_SRV},
    {&v21Arc, 1, HAPI_FAXR_SRV}, {&vfxArc, 1, HAPI_FAXR_SRV},  {&confArc, 1, HAPI_NET_SRV},
    {&ecanArc, 1, HAPI_NET_SRV},
};
const QRN_StackArchive gatewayStacks[] = {{1, 80, voiceStack, 9}, {2, 80, faxStack, 7}};
const QRN_SocketConfig gatewayConfig = {28000, 16000, gatewayStacks, 2,    1,    0,
                                        0x1902, 0x261B, 400,         400,  3600, 3600};

const QRN_ServiceArchive lineStack[] = {{&ecanArc, 1, HAPI_HOST_SRV}};
const QRN_StackArchive lineStacks[] = {{13, 80, lineStack, 1}};
const QRN_SocketConfig lineConfig = {2048, 4000, lineStacks, 1, 13, 0, 0x602, 0x680, 400, 400, 880, 880};

const QRN_ServiceArchive bareStack[] = {{&netArc, 0, HAPI_HOST_SRV}, {&pteArc, 1, HAPI_NET_SRV}};
const QRN_StackArchive bareStacks[] = {{1, 80, bareStack, 2}};
const QRN_SocketConfig bareConfig = {8000, 8000, bareStacks, 1, 1, 0, 0x1902, 0x261B, 400, 400, 3600, 3600};

const VHD_Archive archives[] = {{HAPI_GATEWAY_VHD, 2, &gatewayConfig},
                                {kLineVhdType, 1, &lineConfig},
                                {kBareVhdType, 2, &bareConfig}};

void recordingHost(QRN_Handle handle, QRN_SocketMsg* msg) {
  HostMsg m{};
  m.handle = handle;
  m.header = msg->msg.std.header;
  m.response = (msg->msgFlags & QRN_MsgFlagResponse) != 0;
  m.result = QRN_MsgResult(msg->msgFlags);
  m.userTag = msg->userTag;
  if (HAPI_OPCODE_IS_STD(m.header)) {
    m.op1 = msg->msg.std.op1;
    m.op2 = msg->msg.std.op2;
  } else {
    m.op1 = msg->msg.ext.length;
    const auto* p = static_cast<const uint8_t*>(msg->msg.ext.bufp);
    if (p != nullptr) m.data.assign(p, p + msg->msg.ext.length);
  }
  world().host.push_back(m);
  QRN_FreeSocketMsg(msg);
}

int heapFreeBytes() {
  int bytes = 0;
  for (MEM_BlockHdr* h = QRN_gHapiHeap.freep; h != nullptr; h = h->nextp) bytes += h->blockSize;
  return bytes;
}

}  // namespace

const VHD_Archive* testArchives(uint16_t* count) {
  *count = static_cast<uint16_t>(std::size(archives));
  return archives;
}

void startFramework() {
  lhapiInit(0);
  QRN_HapiInit(recordingHost, nullptr);
  VHD_gArchive = testArchives(&VHD_gNumArchives);
}

void hostCommand(uint16_t header, uint16_t op1, uint16_t op2, uint16_t tag, QRN_Handle dev) {
  QRN_QueueStdObdMsg(dev, header, op1, op2, HAPI_HOST_SRV, header >> 8, tag,
                     QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse);
}

void hostExtCommand(uint16_t header, const void* data, uint16_t length, uint16_t tag,
                    QRN_Handle dev) {
  QRN_QueueExtObdMsg(dev, header, data, length, HAPI_HOST_SRV, header >> 8, tag,
                     QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse, HAPIVHD_HOST);
}

void hostPacket(uint16_t header, HSF_IBD_MASK mask, const void* data, uint16_t length) {
  QRN_QueueExtIbdMsg(kVhd, header, data, length, mask, QRN_MsgFlagHostMsg | QRN_MsgFlagIbdEgress,
                     HAPIVHD_HOST);
}

void serviceEvent(HSFSRVID from, uint16_t header, uint16_t op1, uint16_t op2) {
  world().pendingEvents.push_back(World::Event{from, header, op1, op2});
}

void tick(int n) {
  for (int i = 0; i < n; ++i) {
    HSZBIOSSTATE s = LHAPI_gpFncLockSMP();
    KNL_FrameSync();
    LHAPI_gpFncUnlockSMP(s);
  }
}

std::vector<Cmd> commandsTo(HSFSRVID srv) {
  std::vector<Cmd> out;
  for (const Cmd& c : world().commands) {
    if (c.srv == srv) out.push_back(c);
  }
  return out;
}

std::vector<HostMsg> hostResponses(QRN_Handle dev) {
  std::vector<HostMsg> out;
  for (const HostMsg& m : world().host) {
    if (m.response && m.handle == dev) out.push_back(m);
  }
  return out;
}

std::vector<HostMsg> hostEvents(uint16_t header) {
  std::vector<HostMsg> out;
  for (const HostMsg& m : world().host) {
    if (!m.response && m.header == header) out.push_back(m);
  }
  return out;
}

HSZNETLOCLMEM* netInstance(QRN_Handle dev) {
  VHD_Instance* slot = VHD_GetInstance(dev);
  if (slot == nullptr || slot->socket == nullptr) return nullptr;
  for (uint16_t i = 0; i < slot->socket->numServiceEntries; ++i) {
    const QRN_Service& s = slot->socket->service[i];
    if (s.archive != nullptr && s.archive->srvId == HAPI_NET_SRV) {
      return static_cast<HSZNETLOCLMEM*>(s.serviceData);
    }
  }
  return nullptr;
}

std::string describe(const std::vector<Cmd>& cmds) {
  std::string out;
  char buf[64];
  for (const Cmd& c : cmds) {
    std::snprintf(buf, sizeof(buf), "%s%x(%x,%x)", out.empty() ? "" : " ", c.header, c.op1, c.op2);
    out += buf;
  }
  return out;
}

int AssertCounter::stop() {
  if (!stopped_) {
    const std::string out = testing::internal::GetCapturedStdout();
    for (size_t pos = 0; (pos = out.find("LHAPI: Assert in file", pos)) != std::string::npos; ++pos) {
      ++count_;
    }
    stopped_ = true;
  }
  return count_;
}

void NetTest::SetUp() {
  world() = World{};
  startFramework();
  msgFree_ = QRN_gHapiMsgBufPool.numFreeBuf;
  extFree_ = QRN_gHapiExtDataBufPool.numFreeBuf;
  heapFree_ = heapFreeBytes();
  ASSERT_EQ(VHD_OpenInstance(kVhd, HAPI_GATEWAY_VHD), 1);
  ASSERT_EQ(VHD_OpenInstance(kLineVhd, kLineVhdType), 1);
  ASSERT_EQ(VHD_OpenInstance(kBareVhd, kBareVhdType), 1);
  tick(4);
  ASSERT_NE(netInstance(), nullptr);
}

void NetTest::TearDown() {
  VHD_CloseInstance(kVhd);
  VHD_CloseInstance(kLineVhd);
  VHD_CloseInstance(kBareVhd);
  tick(2);
  EXPECT_EQ(QRN_gHapiMsgBufPool.numFreeBuf, msgFree_);
  EXPECT_EQ(QRN_gHapiExtDataBufPool.numFreeBuf, extFree_);
  EXPECT_EQ(heapFreeBytes(), heapFree_);
}

HostMsg NetTest::command(uint16_t header, uint16_t op1, uint16_t op2, QRN_Handle dev) {
  const uint16_t tag = ++tag_;
  hostCommand(header, op1, op2, tag, dev);
  tick(8);
  for (const HostMsg& m : world().host) {
    if (m.response && m.userTag == tag) return m;
  }
  ADD_FAILURE() << "no answer to 0x" << std::hex << header;
  return HostMsg{};
}

HostMsg NetTest::extCommand(uint16_t header, const void* data, uint16_t length) {
  const uint16_t tag = ++tag_;
  hostExtCommand(header, data, length, tag);
  tick(8);
  for (const HostMsg& m : world().host) {
    if (m.response && m.userTag == tag) return m;
  }
  ADD_FAILURE() << "no answer to 0x" << std::hex << header;
  return HostMsg{};
}

void NetTest::clearRecords() {
  world().commands.clear();
  world().host.clear();
  world().netEvents.clear();
}

void NetTest::enterMode(uint16_t mode) {
  const HostMsg answer = command(HAPI_NET_SETMODE_CMD, mode, 0);
  ASSERT_EQ(answer.result, HAPISUCCESS);
  ASSERT_EQ(netInstance()->hsxmode, mode);
  clearRecords();
}

}  // namespace nettest
