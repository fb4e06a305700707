#include "codec_harness.h"

#include <cmath>
#include <cstring>
#include <iterator>

namespace codectest {

World& world() {
  static World w;
  return w;
}

namespace {

struct LineProbe {
  int unused;
};

void lineIngress(HSFSRVOBJ) {
  World& w = world();
  for (const World::Digit& d : w.digits) hsfIbdSendStd(HSF_IBD_DIGIT_TONE, d.header, d.op1, d.op2);
  w.digits.clear();
  const uint16_t n = hsfFrmPeriodGet();
  if (hsfModeGet() != 0) {
    // Wideband: the low band then the high band, as the PCM service hands them on.
    auto* frame = static_cast<int16_t*>(hsfMemAllocScratch(3u * n * sizeof(int16_t)));
    if (frame == nullptr) return;
    std::memset(frame, 0, 3u * n * sizeof(int16_t));
    for (unsigned k = 0; k + 80 <= n; k += 80) {
      int16_t wide[160];
      for (int i = 0; i < 160; ++i) wide[i] = w.signal16k ? w.signal16k(w.sample16k + i) : 0;
      w.sample16k += 160;
      bandSplit(frame + k, frame + n + 2 * k, wide, w.splitState);
    }
    hsfIbdSendExt(HSF_IBD_PCM, 0, static_cast<uint16_t>(3u * n * sizeof(int16_t)), frame);
    return;
  }
  auto* frame = static_cast<int16_t*>(hsfMemAllocScratch(n * sizeof(int16_t)));
  if (frame == nullptr) return;
  for (uint16_t i = 0; i < n; ++i) frame[i] = w.signal ? w.signal(w.sampleCount + i) : 0;
  w.sampleCount += n;
  hsfIbdSendExt(HSF_IBD_PCM, 0, static_cast<uint16_t>(n * sizeof(int16_t)), frame);
}

void lineEgress(HSFSRVOBJ) {
  World& w = world();
  QRN_Socket* socket = QRN_CurrentSocket();
  const uint16_t n = hsfFrmPeriodGet();
  if (socket != nullptr && socket->memDesc[HSF_MEDQ_LOWBAND] != nullptr) {
    const int16_t* s = socket->memDesc[HSF_MEDQ_LOWBAND];
    w.played.insert(w.played.end(), s, s + n);
    if (hsfModeGet() != 0 && socket->memDesc[HSF_MEDQ_HIGHBAND] != nullptr) {
      for (unsigned k = 0; k + 80 <= n; k += 80) {
        int16_t wide[160];
        bandCombine(s + k, socket->memDesc[HSF_MEDQ_HIGHBAND] + 2 * k, wide, w.combineState);
        w.played16k.insert(w.played16k.end(), wide, wide + 160);
      }
    }
  }
  HSFMSG m{};
  while (hsfIbdPeekOrRecv(HSF_IBD_DIGIT_TONE, &m, 0, HSF_IBD_RECEIVE) != 0) {
    const auto* p = static_cast<const uint8_t*>(m.ext.bufp);
    w.toneToLine.emplace_back(p, p + m.ext.length);
    // The tone generator answers the end of a relay with the end marker, as the digit service does.
    if (m.ext.length >= 2 && (p[0] | p[1] << 8) == HAPI_PKT_TC_TONE_NOCODE) {
      w.digits.push_back({HAPI_PKT_TONE << 8 | HAPI_PKT_TC_TONE_NOCODE, 0, 0});
    }
  }
}

const HSFSRVARC lineArc = {HAPI_PCM_SRV, sizeof(LineProbe), nullptr, lineIngress, lineEgress, nullptr, nullptr};

QRN_ServiceArchive voiceStack[] = {{&pvecodecarc, 1, HAPI_HOST_SRV}, {&lineArc, 1, HAPI_CODEC_SRV}};
const QRN_StackArchive stacks[] = {{1, 80, voiceStack, 2}};
QRN_SocketConfig config = {28000, 0, stacks, 1, 1, 0, 0x1902, 0x261B, 400, 400, 3600, 3600};
const VHD_Archive archives[] = {{HAPI_GATEWAY_VHD, 2, &config}};

void recordingHost(QRN_Handle, QRN_SocketMsg* msg) { world().host.push_back(hostcapture::hostMsgTake(msg, false)); }

}  // namespace

void CodecTest::SetUp() {
  world() = World{};
  voiceStack[0].archive = lite_ ? &pvecodeclitearc : &pvecodecarc;
  config.socketHeapSize = voiceStack[0].archive->instMemSize + 1024;
  lhapiInit(0);
  QRN_HapiInit(recordingHost, nullptr);
  VHD_gArchive = archives;
  VHD_gNumArchives = 1;
  msgFree_ = QRN_gHapiMsgBufPool.numFreeBuf;
  extFree_ = QRN_gHapiExtDataBufPool.numFreeBuf;
  ASSERT_EQ(VHD_OpenInstance(kVhd, HAPI_GATEWAY_VHD), 1);
  tick(2);
  ASSERT_NE(codec(), nullptr);
}

void CodecTest::TearDown() {
  VHD_CloseInstance(kVhd);
  tick(2);
  EXPECT_EQ(QRN_gHapiMsgBufPool.numFreeBuf, msgFree_);
  EXPECT_EQ(QRN_gHapiExtDataBufPool.numFreeBuf, extFree_);
}

void CodecTest::tick(int n) {
  for (int i = 0; i < n; ++i) hostcapture::kernelTick();
}

HostMsg CodecTest::command(uint16_t header, uint16_t op1, uint16_t op2) {
  const uint16_t tag = ++tag_;
  hostcapture::hostCommandSend(kVhd, header, op1, op2, tag);
  tick(1);
  if (const HostMsg* answer = hostcapture::hostAnswer(world().host, tag)) return *answer;
  ADD_FAILURE() << "no answer to 0x" << std::hex << header;
  return HostMsg{};
}

HostMsg CodecTest::extCommand(uint16_t header, const void* data, uint16_t length) {
  const uint16_t tag = ++tag_;
  hostcapture::hostExtCommandSend(kVhd, header, data, length, tag);
  tick(1);
  if (const HostMsg* answer = hostcapture::hostAnswer(world().host, tag)) return *answer;
  ADD_FAILURE() << "no answer to 0x" << std::hex << header;
  return HostMsg{};
}

void CodecTest::sendPacket(uint16_t payloadID, uint16_t timestamp, const std::vector<uint8_t>& payload) {
  std::vector<uint16_t> words(4 + (payload.size() + 1) / 2);
  words[0] = payloadID;
  words[1] = static_cast<uint16_t>(payload.size());
  words[2] = 8;
  words[3] = timestamp;
  for (size_t i = 0; i < payload.size(); ++i) words[4 + i / 2] |= static_cast<uint16_t>(payload[i] << (i % 2 ? 0 : 8));
  QRN_QueueExtIbdMsg(kVhd, HAPI_NET_EGRESSPACKET_CMD, words.data(), static_cast<uint16_t>(words.size() * 2),
                     HSF_IBD_PACKET, QRN_MsgFlagHostMsg | QRN_MsgFlagIbdEgress, HAPIVHD_HOST);
}

void CodecTest::startVoice(uint16_t code, uint16_t interval) {
  ASSERT_EQ(command(HAPI_CODEC_ENABLE_CMD, 1, 0).result, HAPISUCCESS);
  ASSERT_EQ(command(HAPI_CODEC_SETVOICERATE_CMD, code, interval).result, HAPISUCCESS);
  ASSERT_EQ(command(HAPI_CODEC_ENCSTART_CMD, 1, 0).result, HAPISUCCESS);
  tick(4);  // a frame-period change takes a frame or two
}

std::vector<Packet> CodecTest::packets() const {
  std::vector<Packet> out;
  for (const HostMsg& m : world().host) {
    if (m.header != HAPI_NET_INGRESSPACKET_EVT || m.data.size() < 8) continue;
    auto word = [&](int i) { return static_cast<uint16_t>(m.data[2 * i] | m.data[2 * i + 1] << 8); };
    Packet p{word(0), word(1), static_cast<uint32_t>(word(2)) << 16 | word(3), {}};
    const size_t words = (p.payloadLength + 1) / 2;
    for (size_t i = 0; i < p.payloadLength && 8 + 2 * (i / 2) + 1 < m.data.size(); ++i) {
      const uint16_t w = static_cast<uint16_t>(m.data[8 + 2 * (i / 2)] | m.data[8 + 2 * (i / 2) + 1] << 8);
      p.payload.push_back(static_cast<uint8_t>(i % 2 ? w : w >> 8));
    }
    (void)words;
    out.push_back(p);
  }
  return out;
}

std::vector<HostMsg> CodecTest::events(uint16_t header) const {
  return hostcapture::hostEvents(world().host, header, false);
}

HSZCODECINST* CodecTest::codec() const {
  VHD_Instance* slot = VHD_GetInstance(kVhd);
  if (slot == nullptr || slot->socket == nullptr) return nullptr;
  return static_cast<HSZCODECINST*>(slot->socket->service[0].serviceData);
}

}  // namespace codectest
