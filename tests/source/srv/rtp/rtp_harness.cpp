// The test channel and the recording host behind the RTP service tests.
#include "rtp_harness.h"

#include <cstring>
#include <iterator>

#include "cfg/vhd_services.h"
#include "knl/knl.h"
#include "lhapi.h"
#include "qrn/qrn.h"
#include "vhd/vhd.h"

namespace rtptest {

World& world() {
  static World w;
  return w;
}

namespace {

uint16_t testRand16() {
  World& w = world();
  if (!w.randoms.empty()) {
    const uint16_t v = w.randoms.front();
    w.randoms.erase(w.randoms.begin());
    return v;
  }
  return w.randCounter++;
}
int testRtpTimeGet(uint32_t* s, uint32_t* us) {
  *s = world().rtpSeconds;
  *us = world().rtpMicros;
  return 0;
}
void testRtpTimeSet(uint32_t s, uint32_t us) {
  world().rtpSeconds = s;
  world().rtpMicros = us;
}
int testNtpTimeGet(uint32_t* s, uint32_t* us) {
  *s = world().ntpSeconds;
  *us = world().ntpMicros;
  return 0;
}

struct Probe {
  HSFSRVID id;
};

HAPIRESULT probeInit(HSFSRVOBJ obj) {
  static_cast<Probe*>(obj)->id = QRN_gSocketContext.pCurrentService->archive->srvId;
  return HAPISUCCESS;
}

HAPIRESULT probeIoctl(HSFSRVOBJ obj, HSFMSG* msg, HSFMSG*) {
  // The root passes its children's events on to the host, as NET does.
  if (static_cast<Probe*>(obj)->id == HAPI_NET_SRV && HAPI_OPCODE_IS_EVT(msg->std.header)) {
    hsfObdSend(msg);
    return HAPISUCCESS;
  }
  if (static_cast<Probe*>(obj)->id == HAPI_CODEC_SRV && HAPI_OPCODE_IS_STD(msg->std.header)) {
    world().codecCmds.push_back(CodecCmd{msg->std.header, msg->std.op1, msg->std.op2});
  }
  return HAPISUCCESS;
}

// The codec probe sends what the test planned for this tick.
void probeIngress(HSFSRVOBJ obj) {
  if (static_cast<Probe*>(obj)->id != HAPI_CODEC_SRV) return;
  World& w = world();
  for (auto& [header, bytes] : w.controlBlocks) {
    void* buf = hsfMemAllocScratch(bytes.size() + 2);
    std::memcpy(buf, bytes.data(), bytes.size());
    hsfIbdSendExt(HSF_IBD_CONTROL, header, static_cast<uint16_t>(bytes.size()), buf);
  }
  w.controlBlocks.clear();
  if (w.ingressPlan.empty()) return;
  for (const std::vector<uint8_t>& p : w.ingressPlan.front()) {
    void* buf = hsfMemAllocScratch(p.size() + 2);
    std::memcpy(buf, p.data(), p.size());
    hsfIbdSendExt(HSF_IBD_PACKET, HAPI_NET_INGRESSPACKET_EVT, static_cast<uint16_t>(p.size()), buf);
  }
  w.ingressPlan.pop_front();
}

void probeEgress(HSFSRVOBJ obj) {
  if (static_cast<Probe*>(obj)->id != HAPI_CODEC_SRV) return;
  HSFMSG m{};
  while (hsfIbdPeekOrRecv(HSF_IBD_PACKET, &m, 0, HSF_IBD_RECEIVE) != 0) {
    CodecPacket p{};
    const auto* b = static_cast<const uint8_t*>(m.ext.bufp);
    EXPECT_GE(m.ext.length, 8);
    std::memcpy(&p.hdr, b, 8);
    EXPECT_EQ(m.ext.length, p.hdr.payloadLength + 8u);
    p.payload.assign(b + 8, b + m.ext.length);
    world().toCodec.push_back(p);
  }
}

constexpr HSFSRVARC probeArc(HAPISRVID id) {
  return HSFSRVARC{id, sizeof(Probe), probeIoctl, probeIngress, probeEgress, probeInit, nullptr};
}
const HSFSRVARC netArc = probeArc(HAPI_NET_SRV);
const HSFSRVARC codecArc = probeArc(HAPI_CODEC_SRV);

const QRN_ServiceArchive voiceStack[] = {
    {&rtparc, 1, HAPI_NET_SRV}, {&netArc, 0, HAPI_HOST_SRV}, {&codecArc, 1, HAPI_NET_SRV}};
const QRN_StackArchive stacks[] = {{1, kFrame, voiceStack, 3}};
const QRN_SocketConfig config = {28000, 40000, stacks, 1, 1, 0, 0x1902, 0x261B, 400, 400, 3600, 3600};
const VHD_Archive archives[] = {{HAPI_GATEWAY_VHD, 1, &config}};

// The line below the real codec service: a signal in, as the PCM service sends it; what the codec
// plays out, recorded.
void lineIngress(HSFSRVOBJ) {
  World& w = world();
  const uint16_t n = hsfFrmPeriodGet();
  auto* frame = static_cast<int16_t*>(hsfMemAllocScratch(n * sizeof(int16_t)));
  if (frame == nullptr) return;
  for (uint16_t i = 0; i < n; ++i) frame[i] = w.signal != nullptr ? w.signal(w.sampleCount + i) : 0;
  w.sampleCount += n;
  hsfIbdSendExt(HSF_IBD_PCM, 0, static_cast<uint16_t>(n * sizeof(int16_t)), frame);
}
void lineEgress(HSFSRVOBJ) {
  QRN_Socket* socket = QRN_CurrentSocket();
  const uint16_t n = hsfFrmPeriodGet();
  if (socket != nullptr && socket->memDesc[HSF_MEDQ_LOWBAND] != nullptr) {
    const int16_t* s = socket->memDesc[HSF_MEDQ_LOWBAND];
    world().played.insert(world().played.end(), s, s + n);
  }
}
const HSFSRVARC lineArc = {HAPI_PCM_SRV, sizeof(Probe), nullptr, lineIngress, lineEgress, nullptr, nullptr};
const QRN_ServiceArchive callStack[] = {{&rtparc, 1, HAPI_NET_SRV},
                                        {&netArc, 0, HAPI_HOST_SRV},
                                        {&pvecodecarc, 1, HAPI_NET_SRV},
                                        {&lineArc, 1, HAPI_NET_SRV}};
const QRN_StackArchive callStacks[] = {{1, kFrame, callStack, 4}};
QRN_SocketConfig callConfig = {28000, 0, callStacks, 1, 1, 0, 0x1902, 0x261B, 400, 400, 3600, 3600};
const VHD_Archive callArchives[] = {{HAPI_GATEWAY_VHD, 1, &callConfig}};

// In-band data reaches the host in the extended form.
void recordingHost(QRN_Handle, QRN_SocketMsg* msg) { world().host.push_back(hostcapture::hostMsgTake(msg, true)); }

}  // namespace

std::vector<uint8_t> framePacket(uint16_t payloadID, uint32_t timeStamp,
                                 const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> out(8 + ((payload.size() + 1) & ~size_t{1}), 0);
  const HAPI_PKT_HDR h{payloadID, static_cast<uint16_t>(payload.size()),
                       static_cast<uint16_t>(timeStamp >> 16), static_cast<uint16_t>(timeStamp)};
  std::memcpy(out.data(), &h, 8);
  std::memcpy(out.data() + 8, payload.data(), payload.size());
  return out;
}

std::vector<uint8_t> tonePacket(uint8_t code, uint8_t digit, uint8_t level, uint16_t duration, uint32_t ts) {
  const HAPI_PKT_TONEPAYLOAD t{static_cast<uint16_t>(digit << 8 | level), duration};
  std::vector<uint8_t> payload(4);
  std::memcpy(payload.data(), &t, 4);
  return framePacket(static_cast<uint16_t>(HAPI_PKT_TONE << 8 | code), ts, payload);
}

std::vector<uint8_t> rtpPacket(uint8_t pt, uint16_t seq, uint32_t ts, uint32_t ssrc,
                               const std::vector<uint8_t>& payload, bool marker) {
  std::vector<uint8_t> p(12 + payload.size());
  p[0] = 0x80;
  p[1] = static_cast<uint8_t>((marker ? 0x80 : 0) | pt);
  p[2] = static_cast<uint8_t>(seq >> 8);
  p[3] = static_cast<uint8_t>(seq);
  for (int i = 0; i < 4; ++i) {
    p[4 + i] = static_cast<uint8_t>(ts >> (24 - 8 * i));
    p[8 + i] = static_cast<uint8_t>(ssrc >> (24 - 8 * i));
  }
  if (!payload.empty()) std::memcpy(p.data() + 12, payload.data(), payload.size());
  return p;
}

int AssertCounter::stop() {
  if (!stopped_) {
    const std::string out = testing::internal::GetCapturedStdout();
    for (size_t pos = 0; (pos = out.find("LHAPI: Assert in file", pos)) != std::string::npos; ++pos) ++count_;
    stopped_ = true;
  }
  return count_;
}

void RtpTest::SetUp() {
  world() = World{};
  rtpHostSources = RTP_HOST_SOURCES{testRand16, testRtpTimeGet, testRtpTimeSet, testNtpTimeGet};
  lhapiInit(0);
  QRN_HapiInit(recordingHost, nullptr);
  callConfig.socketHeapSize = rtparc.instMemSize + pvecodecarc.instMemSize + 4096;
  VHD_gArchive = realCodec_ ? callArchives : archives;
  VHD_gNumArchives = 1;
  msgFree_ = QRN_gHapiMsgBufPool.numFreeBuf;
  extFree_ = QRN_gHapiExtDataBufPool.numFreeBuf;
  ASSERT_EQ(VHD_OpenInstance(kVhd, HAPI_GATEWAY_VHD), 1);
  tick(2);
  ASSERT_NE(rtp(), nullptr);
  clear();
}

void RtpTest::TearDown() {
  VHD_CloseInstance(kVhd);
  tick(2);
  EXPECT_EQ(QRN_gHapiMsgBufPool.numFreeBuf, msgFree_);
  EXPECT_EQ(QRN_gHapiExtDataBufPool.numFreeBuf, extFree_);
  rtpHostSourcesDefault();
}

void RtpTest::tick(int n) {
  // The kernel ticks every 5 ms; the channel runs one 10 ms frame every second tick.
  for (int i = 0; i < 2 * n; ++i) hostcapture::kernelTick();
}

HostMsg RtpTest::command(uint16_t header, uint16_t op1, uint16_t op2) {
  const uint16_t tag = ++tag_;
  hostcapture::hostCommandSend(kVhd, header, op1, op2, tag);
  tick(2);
  if (const HostMsg* answer = hostcapture::hostAnswer(world().host, tag)) return *answer;
  ADD_FAILURE() << "no answer to 0x" << std::hex << header;
  return HostMsg{};
}

HostMsg RtpTest::extCommand(uint16_t header, const void* data, uint16_t length) {
  const uint16_t tag = ++tag_;
  hostcapture::hostExtCommandSend(kVhd, header, data, length, tag);
  tick(2);
  if (const HostMsg* answer = hostcapture::hostAnswer(world().host, tag)) return *answer;
  ADD_FAILURE() << "no answer to 0x" << std::hex << header;
  return HostMsg{};
}

void RtpTest::receive(const std::vector<uint8_t>& packet, uint32_t mask) {
  QRN_QueueExtIbdMsg(kVhd, mask == 0x800 ? HAPI_NET_EGRESSRTPPKT_CMD : HAPI_NET_EGRESSRTCPPKT_CMD,
                     packet.data(), static_cast<uint16_t>(packet.size()), mask,
                     QRN_MsgFlagHostMsg | QRN_MsgFlagIbdEgress, HAPIVHD_HOST);
}

void RtpTest::sendNext(std::vector<std::vector<uint8_t>> packets) {
  world().ingressPlan.push_back(std::move(packets));
}

RTPSRVINSTANCEMEM* RtpTest::rtp() {
  VHD_Instance* slot = VHD_GetInstance(kVhd);
  if (slot == nullptr || slot->socket == nullptr) return nullptr;
  for (uint16_t i = 0; i < slot->socket->numServiceEntries; ++i) {
    const QRN_Service& s = slot->socket->service[i];
    if (s.archive != nullptr && s.archive->srvId == HAPI_RTP_SRV)
      return static_cast<RTPSRVINSTANCEMEM*>(s.serviceData);
  }
  return nullptr;
}

void RtpTest::setRegs(const HAPI_RTP_REGS& regs) {
  ASSERT_EQ(extCommand(HAPI_RTP_SETREGS_CMD, &regs, sizeof(regs)).result, HAPISUCCESS);
}

void RtpTest::setRegs2(uint16_t flags2) {
  ASSERT_EQ(extCommand(HAPI_RTP_SETREGS2_CMD, &flags2, sizeof(flags2)).result, HAPISUCCESS);
}

void RtpTest::startSession() { ASSERT_EQ(command(HAPI_RTP_SETMODE_CMD, 1, 0).result, HAPISUCCESS); }

std::vector<std::vector<uint8_t>> RtpTest::sentRtp() const {
  std::vector<std::vector<uint8_t>> out;
  for (const HostMsg& m : world().host) {
    if (m.mask == 0x800) out.push_back(m.data);
  }
  return out;
}

std::vector<std::vector<uint8_t>> RtpTest::sentRtcp() const {
  std::vector<std::vector<uint8_t>> out;
  for (const HostMsg& m : world().host) {
    if (m.mask == 0x1000) out.push_back(m.data);
  }
  return out;
}

std::vector<HostMsg> RtpTest::events(uint16_t header) const {
  return hostcapture::hostEvents(world().host, header, true);
}

void RtpTest::clear() {
  world().host.clear();
  world().toCodec.clear();
  world().codecCmds.clear();
}

}  // namespace rtptest
