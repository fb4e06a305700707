// The test channel and the recording host behind the line services' tests.
#include "line_harness.h"

#include <algorithm>
#include <cstring>

#include "knl/knl.h"
#include "lhapi.h"
#include "vhd/vhd.h"

namespace linetest {

World& world() {
  static World w;
  return w;
}

namespace {

struct Probe {
  HSFSRVID id;
};

HAPIRESULT probeInit(HSFSRVOBJ obj) {
  static_cast<Probe*>(obj)->id = QRN_gSocketContext.pCurrentService->archive->srvId;
  return HAPISUCCESS;
}

int16_t* frameSamples() {
  QRN_Socket* s = QRN_CurrentSocket();
  return s != nullptr ? s->memDesc[HSF_MEDQ_LOWBAND] : nullptr;
}

void fill(std::deque<int16_t>& src, int16_t* dst, int n) {
  for (int i = 0; i < n; ++i) {
    dst[i] = src.empty() ? 0 : src.front();
    if (!src.empty()) src.pop_front();
  }
}

// Top (codec) probe.
HAPIRESULT topIoctl(HSFSRVOBJ, HSFMSG* msg, HSFMSG*) {
  HostMsg m{};
  m.header = msg->std.header;
  m.op1 = msg->std.op1;
  m.op2 = msg->std.op2;
  m.frame = world().ingressFrames;
  world().topCommands.push_back(m);
  return HAPISUCCESS;
}

void topIngress(HSFSRVOBJ) {
  World& w = world();
  const int n = hsfFrmPeriodGet();
  if (int16_t* x = frameSamples()) w.ingressOut.insert(w.ingressOut.end(), x, x + n);
  HSFMSG m{};
  HSF_IBD_MASK mask;
  while ((mask = hsfIbdPeekOrRecv(0xFFFFFFFFu, &m, 0, HSF_IBD_RECEIVE)) != 0) {
    Ibd ibd{mask, m.std.header, m.std.op1, m.std.op2, {}, w.ingressFrames};
    if (!HAPI_OPCODE_IS_STD(m.std.header) && m.ext.bufp != nullptr) {
      const auto* p = static_cast<const uint8_t*>(m.ext.bufp);
      ibd.op1 = m.ext.length;
      ibd.op2 = 0;
      ibd.data.assign(p, p + m.ext.length);
      if (mask & HSF_IBD_PCM) {
        const auto* s = static_cast<const int16_t*>(m.ext.bufp);
        w.rawPcmOut.insert(w.rawPcmOut.end(), s, s + m.ext.length / 2);
        continue;
      }
    }
    w.ingressIbd.push_back(std::move(ibd));
  }
  w.ingressFrames += 1;
}

void topEgress(HSFSRVOBJ) {
  World& w = world();
  const int n = hsfFrmPeriodGet();
  if (int16_t* x = frameSamples()) fill(w.egressIn, x, n);
  if (!w.egressPackets.empty()) {
    for (const World::Packet& p : w.egressPackets.front()) {
      hsfIbdSendExtAlloc(p.mask, p.header, static_cast<uint16_t>(p.data.size()), p.data.data());
    }
    w.egressPackets.pop_front();
  }
}

// Bottom (line) probe.
void bottomIngress(HSFSRVOBJ) {
  World& w = world();
  const int n = hsfFrmPeriodGet();
  int16_t* x = frameSamples();
  if (x == nullptr) return;
  fill(w.ingressIn, x, n);
  if (!w.ingressPackets.empty()) {
    for (const World::Packet& p : w.ingressPackets.front()) {
      hsfIbdSendExtAlloc(p.mask, p.header, static_cast<uint16_t>(p.data.size()), p.data.data());
    }
    w.ingressPackets.pop_front();
  }
  if (w.sendRawPcm) hsfIbdSendExtAlloc(HSF_IBD_PCM, 0, static_cast<uint16_t>(2 * n), x);
}

void bottomEgress(HSFSRVOBJ) {
  World& w = world();
  const int n = hsfFrmPeriodGet();
  if (int16_t* x = frameSamples()) w.egressOut.insert(w.egressOut.end(), x, x + n);
  w.egressFrames += 1;
}

const HSFSRVARC topArc = {HAPI_CODEC_SRV, sizeof(Probe), topIoctl, topIngress, topEgress, probeInit, nullptr};
const HSFSRVARC bottomArc = {HAPI_CONF_BOS_SRV, sizeof(Probe), nullptr, bottomIngress, bottomEgress, probeInit, nullptr};

constexpr QRN_StackType kStackId = 13;  // the line channel's stack

QRN_ServiceArchive stack[3];
QRN_StackArchive stacks[1];
QRN_SocketConfig config;
VHD_Archive archives[1];

void recordingHost(QRN_Handle, QRN_SocketMsg* msg) {
  world().host.push_back(hostcapture::hostMsgTake(msg, false, world().ingressFrames));
}

void tick() { hostcapture::kernelTick(); }

// What a command gets when no answer came.
HostMsg noAnswer() {
  HostMsg m{};
  m.header = 0xFFFF;
  m.result = HAPIFAILURE;
  return m;
}

uint16_t gTag = 100;
uint16_t gFrame = kFrame;

}  // namespace

void open(const HSFSRVARC* service, uint16_t frame) {
  world() = World{};
  gFrame = frame;
  lhapiInit(0);
  QRN_HapiInit(recordingHost, nullptr);
  stack[0] = QRN_ServiceArchive{&topArc, 1, HAPI_HOST_SRV};
  stack[1] = QRN_ServiceArchive{service, 1, HAPI_HOST_SRV};
  stack[2] = QRN_ServiceArchive{&bottomArc, 1, HAPI_HOST_SRV};
  stacks[0] = QRN_StackArchive{kStackId, frame, stack, 3};
  config = QRN_SocketConfig{8000, 60000, stacks, 1, kStackId, 0, 0x602, 0x680, 400, 400, 880, 880};
  archives[0] = VHD_Archive{HAPI_LINE_ECAN_VHD, 2, &config};
  VHD_gArchive = archives;
  VHD_gNumArchives = 1;
  VHD_OpenInstance(kVhd, HAPI_LINE_ECAN_VHD);
  runFrames(2);
  world().ingressOut.clear();
  world().egressOut.clear();
}

void close() {
  VHD_CloseInstance(kVhd);
  for (int i = 0; i < 4; ++i) tick();
  lhapiDeinit();
}

void runFrames(long n) {
  const long target = world().ingressFrames + n;
  for (int guard = 0; world().ingressFrames < target && guard < 8 * n + 16; ++guard) tick();
}

void drain(long extra) {
  const size_t pending = std::max(world().ingressIn.size(), world().egressIn.size());
  runFrames(static_cast<long>((pending + gFrame - 1) / gFrame) + extra);
}

HostMsg command(uint16_t header, uint16_t op1, uint16_t op2) {
  const uint16_t tag = ++gTag;
  hostcapture::hostCommandSend(kVhd, header, op1, op2, tag);
  runFrames(2);
  const HostMsg* answer = hostcapture::hostAnswer(world().host, tag);
  return answer != nullptr ? *answer : noAnswer();
}

HostMsg extCommand(uint16_t header, const void* data, uint16_t length) {
  const uint16_t tag = ++gTag;
  hostcapture::hostExtCommandSend(kVhd, header, data, length, tag);
  runFrames(2);
  const HostMsg* answer = hostcapture::hostAnswer(world().host, tag);
  return answer != nullptr ? *answer : noAnswer();
}

std::vector<HostMsg> events(uint16_t header) { return hostcapture::hostEvents(world().host, header, false); }

void* instance(HSFSRVID id) {
  VHD_Instance* slot = VHD_GetInstance(kVhd);
  if (slot == nullptr || slot->socket == nullptr) return nullptr;
  for (uint16_t i = 0; i < slot->socket->numServiceEntries; ++i) {
    const QRN_Service& s = slot->socket->service[i];
    if (s.archive != nullptr && s.archive->srvId == id) return s.serviceData;
  }
  return nullptr;
}

}  // namespace linetest
