// The T.38 service in a test channel between a stand-in for the NET service above (network side:
// datagrams in and out) and one for the fax relay service below (fax-relay packets in and out).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <random>
#include <vector>

#include "knl/knl.h"
#include "lhapi.h"
#include "qrn/qrn.h"
#include "t38.h"
#include "vhd/vhd.h"

namespace {

constexpr QRN_Handle kVhd = HAPIVHD0;

struct Relay {
  uint8_t code;
  std::vector<uint8_t> octets;
  bool operator==(const Relay&) const = default;
};

struct World {
  std::deque<std::vector<std::vector<uint8_t>>> relayIn;  // per ingress frame, from the fax relay
  std::deque<std::vector<std::vector<uint8_t>>> netIn;    // per egress frame, datagrams from the network
  std::vector<std::vector<uint8_t>> datagrams;            // datagrams the service sent out
  std::vector<Relay> relayOut;                             // fax-relay packets towards the fax relay
  long frames = 0;
};
World& world() {
  static World w;
  return w;
}

std::vector<uint8_t> relayPacket(uint8_t code, const std::vector<uint8_t>& octets) {
  std::vector<uint8_t> p(8 + 2 + octets.size() + (octets.size() & 1), 0);
  auto* hdr = reinterpret_cast<HAPI_PKT_HDR*>(p.data());
  hdr->payloadID = uint16_t(0x0500 | code);
  hdr->payloadLength = octets.empty() ? 0 : uint16_t(p.size() - 8);
  auto* w = reinterpret_cast<uint16_t*>(p.data() + 8);
  w[0] = uint16_t(octets.size() * 8);
  for (size_t i = 0; i < octets.size(); ++i) w[1 + i / 2] = uint16_t(w[1 + i / 2] | ((i & 1) ? octets[i] : octets[i] << 8));
  if (octets.empty()) p.resize(8);
  return p;
}

HAPIRESULT probeInit(HSFSRVOBJ) { return HAPISUCCESS; }

void topIngress(HSFSRVOBJ) {  // the network side hears datagrams
  HSFMSG m{};
  while (hsfIbdPeekOrRecv(0x100, &m, 0, HSF_IBD_RECEIVE) != 0) {
    const auto* p = static_cast<const uint8_t*>(m.ext.bufp);
    world().datagrams.emplace_back(p, p + m.ext.length);
  }
  ++world().frames;
}
void topEgress(HSFSRVOBJ) {  // and sends datagrams down
  World& w = world();
  if (w.netIn.empty()) return;
  for (const auto& d : w.netIn.front()) hsfIbdSendExtAlloc(0x100, 0x1701, uint16_t(d.size()), d.data());
  w.netIn.pop_front();
}
void bottomIngress(HSFSRVOBJ) {  // the fax relay sends its packets up
  World& w = world();
  if (w.relayIn.empty()) return;
  for (const auto& p : w.relayIn.front()) hsfIbdSendExtAlloc(0x2, 0, uint16_t(p.size()), p.data());
  w.relayIn.pop_front();
}
void bottomEgress(HSFSRVOBJ) {  // and hears fax-relay packets
  HSFMSG m{};
  while (hsfIbdPeekOrRecv(0x8002, &m, 0, HSF_IBD_RECEIVE) != 0) {
    const auto* hdr = static_cast<const HAPI_PKT_HDR*>(m.ext.bufp);
    const auto* w = reinterpret_cast<const uint16_t*>(hdr + 1);
    Relay r{uint8_t(hdr->payloadID & 0xFF), {}};
    for (int i = 0; i < w[0] / 8; ++i) r.octets.push_back(uint8_t((i & 1) ? w[1 + i / 2] : w[1 + i / 2] >> 8));
    world().relayOut.push_back(r);
  }
}

const HSFSRVARC topArc = {HAPI_NET_SRV, 8, nullptr, topIngress, topEgress, probeInit, nullptr};
const HSFSRVARC bottomArc = {HAPI_FAXR_SRV, 8, nullptr, bottomIngress, bottomEgress, probeInit, nullptr};
QRN_ServiceArchive stack[3];
QRN_StackArchive stacks[1];
QRN_SocketConfig config;
VHD_Archive archives[1];
std::vector<std::pair<uint16_t, uint16_t>> gHostEvents;
uint16_t gTag = 100;
bool gLastOk = false;

void host(QRN_Handle, QRN_SocketMsg* msg) {
  if (msg->msgFlags & QRN_MsgFlagResponse) {
    if (msg->userTag == gTag) gLastOk = QRN_MsgResult(msg->msgFlags) == HAPISUCCESS;
  } else {
    gHostEvents.push_back({msg->msg.std.header, msg->msg.std.op1});
  }
  QRN_FreeSocketMsg(msg);
}

void tick() {
  HSZBIOSSTATE s = LHAPI_gpFncLockSMP();
  KNL_FrameSync();
  LHAPI_gpFncUnlockSMP(s);
}

void runFrames(long n) {
  const long target = world().frames + n;
  for (int guard = 0; world().frames < target && guard < 8 * n + 16; ++guard) tick();
}

bool command(uint16_t header, uint16_t op1, uint16_t op2) {
  ++gTag;
  gLastOk = false;
  QRN_QueueStdObdMsg(kVhd, header, op1, op2, HAPI_HOST_SRV, header >> 8, gTag, QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse);
  runFrames(2);
  return gLastOk;
}

class T38Service : public ::testing::Test {
 protected:
  void SetUp() override {
    world() = World{};
    gHostEvents.clear();
    lhapiInit(0);
    QRN_HapiInit(host, nullptr);
    stack[0] = QRN_ServiceArchive{&topArc, 1, HAPI_HOST_SRV};
    stack[1] = QRN_ServiceArchive{&t38arc, 1, HAPI_HOST_SRV};
    stack[2] = QRN_ServiceArchive{&bottomArc, 1, HAPI_HOST_SRV};
    stacks[0] = QRN_StackArchive{13, 80, stack, 3};
    config = QRN_SocketConfig{8000, 60000, stacks, 1, 13, 0, 0x602, 0x680, 400, 400, 880, 880};
    archives[0] = VHD_Archive{HAPI_LINE_ECAN_VHD, 2, &config};
    VHD_gArchive = archives;
    VHD_gNumArchives = 1;
    VHD_OpenInstance(kVhd, HAPI_LINE_ECAN_VHD);
    runFrames(2);
  }
  void TearDown() override {
    VHD_CloseInstance(kVhd);
    for (int i = 0; i < 4; ++i) tick();
    lhapiDeinit();
  }
};

// A short fax exchange as the fax relay hands it over: tones, V.21 frames, a training, page data.
std::vector<std::vector<uint8_t>> exchange() {
  std::vector<std::vector<uint8_t>> v;
  v.push_back(relayPacket(1, {}));                                   // CNG
  v.push_back(relayPacket(3, {}));                                   // V.21 preamble
  v.push_back(relayPacket(18, {0xFF, 0xC8, 0x01, 0x00, 0x50}));      // V.21 data
  v.push_back(relayPacket(20, {0x00, 0x10}));                        // V.21 data, frame end, signal end
  v.push_back(relayPacket(17, {}));                                  // V.17 14400 long training
  for (int i = 0; i < 6; ++i) v.push_back(relayPacket(32, std::vector<uint8_t>(40, uint8_t(i))));  // page data
  v.push_back(relayPacket(63, {}));                                  // page end
  return v;
}

TEST_F(T38Service, PacketsCrossTheNetworkWithLossAndReorderingAndComeBackWhole) {
  ASSERT_TRUE(command(T38_ENABLE_CMD, 1, 0));
  const auto packets = exchange();
  for (const auto& p : packets) world().relayIn.push_back({p});  // one per frame
  runFrames(long(packets.size()) + 20);
  auto dgs = world().datagrams;
  ASSERT_GE(dgs.size(), 10u);
  EXPECT_EQ(dgs[0][0], 0);
  EXPECT_EQ(dgs[0][1], 0);  // the first datagram is number 0
  // lose every fifth datagram and swap neighbours, then hand them to the receiving side
  std::vector<std::vector<uint8_t>> sent;
  for (size_t i = 0; i < dgs.size(); ++i)
    if (i % 5 != 3) sent.push_back(dgs[i]);
  for (size_t i = 0; i + 1 < sent.size(); i += 3) std::swap(sent[i], sent[i + 1]);
  for (const auto& d : sent) world().netIn.push_back({d});
  runFrames(long(sent.size()) + 40);  // past the 200 ms reorder delay
  // what reached the fax relay, as codes and data
  std::vector<Relay> expect = {{1, {}}, {3, {}}, {18, {0xFF, 0xC8, 0x01, 0x00, 0x50}}, {18, {0x00, 0x10}}, {20, {}}, {17, {}}};
  for (int i = 0; i < 6; ++i) expect.push_back({32, std::vector<uint8_t>(40, uint8_t(i))});
  expect.push_back({63, {}});
  // after a signal end the sending side keeps the line alive with NO_SIGNAL for the redundancy
  // count (3) of ticks
  for (int i = 0; i < 3; ++i) expect.push_back({0, {}});
  // a page end may carry an empty data packet in front of its status
  std::vector<Relay> got;
  for (const Relay& r : world().relayOut)
    if (!(r.code == 32 && r.octets.empty())) got.push_back(r);
  EXPECT_EQ(got, expect);
  EXPECT_TRUE(command(T38_GETSTATS_CMD, 0, 0));
}

// Datagrams with `redundancy` secondaries carrying `ifps` with numbers first, first + 1, ...; those
// at `lost` never arrive.
std::vector<std::vector<uint8_t>> datagramsLosing(const std::vector<std::vector<uint8_t>>& ifps, std::vector<size_t> lost,
                                                  uint16_t first = 0, int redundancy = 0) {
  T38ZUDPTX tx;
  t38fUDPTXInit(&tx);
  tx.ingressSequenceNum = first;
  std::vector<std::vector<uint8_t>> out;
  for (size_t i = 0; i < ifps.size(); ++i) {
    std::vector<uint8_t> d(256);
    d.resize(t38fUDPBuild(&tx, ifps[i].data(), int(ifps[i].size()), redundancy, d.data(), d.size()));
    if (std::find(lost.begin(), lost.end(), i) == lost.end()) out.push_back(d);
  }
  return out;
}

std::vector<uint8_t> ifp(bool data, int type, IFP_FIELD_TYPE f0, std::vector<uint8_t> octets, IFP_FIELD_TYPE f1) {
  std::vector<uint8_t> out(128);
  out.resize(size_t(t38fEncodeIFP(out.data(), int(out.size()), data, type, f0, octets.data(), int(octets.size()), f1)));
  return out;
}

TEST_F(T38Service, AFrameThatLostOctetsForGoodEndsBadAndEverySignalEndKeepsItsKind) {
  // the service enabled afresh, nothing relayed yet; and the relay codes it played in [low, high]
  auto restart = [&] {
    EXPECT_TRUE(command(T38_ENABLE_CMD, 0, 0));
    EXPECT_TRUE(command(T38_ENABLE_CMD, 1, 0));
    world().relayOut.clear();
  };
  auto codesPlayed = [&](uint8_t low, uint8_t high) {
    std::vector<uint8_t> codes;
    for (const Relay& r : world().relayOut)
      if (r.code >= low && r.code <= high) codes.push_back(r.code);
    return codes;
  };
  ASSERT_TRUE(command(T38_ENABLE_CMD, 1, 0));
  // a V.21 frame in three pieces, the middle one lost with no copy; then a whole one
  const auto preamble = ifp(false, 3, NO_DFS, {}, NO_DFS);
  const auto v21End = ifp(true, 0, HDLC_DATA, {}, HDLC_FCS_OK_SIG_END);
  // an ECM frame at V.17 14400 (type 8) that loses its first piece, then a whole one
  const auto training = ifp(false, 15, NO_DFS, {}, NO_DFS);
  const auto ecmEnd = ifp(true, 8, HDLC_DATA, {}, HDLC_FCS_OK);
  const auto pageEnd = ifp(true, 8, HDLC_SIG_END, {}, NO_DFS);
  const auto v21SigEnd = ifp(true, 0, HDLC_SIG_END, {}, NO_DFS);
  const std::vector<std::vector<uint8_t>> ifps = {
      preamble, ifp(true, 0, HDLC_DATA, {0xFF, 0xC8}, NO_DFS), ifp(true, 0, HDLC_DATA, {0x02, 0x4C}, NO_DFS),
      ifp(true, 0, HDLC_DATA, {0x4C, 0x04}, NO_DFS), v21End,                                            // 0-4
      preamble, ifp(true, 0, HDLC_DATA, {0xFF, 0xC8, 0x01, 0x00}, NO_DFS), v21End,                  // 5-7
      training, ifp(true, 8, HDLC_DATA, {0xFF, 0xC0, 0x60, 0x00}, NO_DFS), ifp(true, 8, HDLC_DATA, {1, 2, 3}, NO_DFS),
      ecmEnd,                                                                                          // 8-11
      ifp(true, 8, HDLC_DATA, {0xFF, 0xC0, 0x60, 0x01, 4, 5, 6}, NO_DFS), ecmEnd, pageEnd,         // 12-14
      // peers that end a V.21 signal with a field of its own: after the frame's end, in the same
      // packet as that end, and inside a frame whose end never came
      preamble, ifp(true, 0, HDLC_DATA, {0xFF, 0xC8, 0x21}, NO_DFS), ifp(true, 0, HDLC_FCS_OK, {}, NO_DFS),
      v21SigEnd,                                                                                       // 15-18
      preamble, ifp(true, 0, HDLC_DATA, {0xFF, 0xC8, 0x21}, NO_DFS), {0xC0, 0x02, 0x21},             // 19-21
      preamble, ifp(true, 0, HDLC_DATA, {0xFF, 0xC0, 0x02}, NO_DFS), v21SigEnd};                     // 22-24
  for (const auto& d : datagramsLosing(ifps, {2, 9})) world().netIn.push_back({d});
  runFrames(long(ifps.size()) + 50);  // past the reorder delay
  std::vector<uint8_t> ends;
  for (const Relay& r : world().relayOut)
    if ((r.code >= 19 && r.code <= 22) || r.code >= 43) ends.push_back(r.code);
  // V21_END_BAD_FINAL, V21_END_FINAL, V17_14400_ECM_END_BAD, V17_14400_ECM_END, ECM_PAGEEND; then
  // each bare V.21 signal end as V21_SIGEND (65), never as the page end (64) the same field means
  // after page data: the relay ends the V.21 signal on it, cutting a frame still open
  EXPECT_EQ(ends, (std::vector<uint8_t>{22, 20, 62, 52, 64, 19, 65, 19, 65, 65}));
  // a V.21 frame across the wrap of the numbers (65532 to 1): whole it ends good; losing 65535
  // or 0 for good it ends bad; with a copy of the one lost it ends good
  const std::vector<std::vector<uint8_t>> acrossWrap = {preamble, ifp(true, 0, HDLC_DATA, {0xFF, 1}, NO_DFS),
                                                        ifp(true, 0, HDLC_DATA, {0xFF, 2}, NO_DFS),
                                                        ifp(true, 0, HDLC_DATA, {0xFF, 3}, NO_DFS),
                                                        ifp(true, 0, HDLC_DATA, {0xFF, 4}, NO_DFS), v21End};
  const struct {
    std::vector<size_t> lost;
    int redundancy;
    uint8_t end;
  } wraps[] = {{{}, 0, 20}, {{3}, 0, 22}, {{4}, 0, 22}, {{3}, 1, 20}};
  for (const auto& w : wraps) {
    restart();
    for (const auto& d : datagramsLosing(acrossWrap, w.lost, 65532, w.redundancy)) world().netIn.push_back({d});
    runFrames(long(acrossWrap.size()) + 50);
    EXPECT_EQ(codesPlayed(19, 22), std::vector<uint8_t>{w.end}) << "lost " << (w.lost.empty() ? -1 : int(w.lost[0])) << ", redundancy "
                                                << w.redundancy;
  }
  // an ECM frame whose middle piece came as non-ECM page data (a field retyped on the way): those
  // octets went to the page, not to the frame, which ends bad; the next frame is whole
  restart();
  const std::vector<std::vector<uint8_t>> retyped = {
      training, ifp(true, 8, HDLC_DATA, {0xFF, 0xC0, 0x60, 0x00}, NO_DFS), ifp(true, 8, T4_NON_ECM, {1, 2, 3}, NO_DFS), ecmEnd,
      ifp(true, 8, HDLC_DATA, {0xFF, 0xC0, 0x60, 0x01, 4, 5, 6}, NO_DFS), ecmEnd, pageEnd};
  for (const auto& d : datagramsLosing(retyped, {})) world().netIn.push_back({d});
  runFrames(long(retyped.size()) + 50);
  EXPECT_EQ(codesPlayed(43, 255), (std::vector<uint8_t>{62, 52, 64}));  // V17_14400_ECM_END_BAD, _END, ECM_PAGEEND
  // an ECM frame whole in one packet (its octets and its good end), altered on the way, at
  // redundancy 1, the next datagram (with its copy) well past the reorder delay: the packet that
  // closes the frame good waits for that datagram, whose copy disputes it, and the frame never
  // ends good as altered
  restart();
  const std::vector<std::vector<uint8_t>> whole = {
      training, ifp(true, 8, HDLC_DATA, {0xFF, 0xC0, 0x60, 0x00, 7, 8, 9}, HDLC_FCS_OK),
      ifp(true, 8, HDLC_DATA, {0xFF, 0xC0, 0x60, 0x01, 4, 5, 6}, HDLC_FCS_OK), pageEnd};
  auto sent = datagramsLosing(whole, {}, 0, 1);
  sent[1][3 + 9] ^= 0x10;  // the frame's last data octet, in the primary
  world().netIn.push_back({sent[0]});
  world().netIn.push_back({sent[1]});
  for (int i = 0; i < 60; ++i) world().netIn.push_back({});
  world().netIn.push_back({sent[2]});
  world().netIn.push_back({sent[3]});
  runFrames(200);
  EXPECT_EQ(codesPlayed(43, 255), (std::vector<uint8_t>{62, 64}));
  // the same at redundancy 2, its own datagram lost: the altered packet came as a copy in the
  // next one, the newest datagram then; it waits for the datagram after the one it came in, whose
  // copy disputes it, and no frame ends good
  restart();
  auto longer = whole;
  for (int i = 0; i < 2; ++i) longer.push_back(ifp(false, 0, NO_DFS, {}, NO_DFS));  // no signal, twice
  sent = datagramsLosing(longer, {}, 0, 2);
  const std::vector<uint8_t> first = {0xFF, 0xC0, 0x60, 0x00, 7, 8, 9};
  const auto at = std::search(sent[2].begin(), sent[2].end(), first.begin(), first.end());
  ASSERT_NE(at, sent[2].end());
  at[6] ^= 0x10;
  world().netIn.push_back({sent[0]});
  world().netIn.push_back({sent[2]});
  for (int i = 0; i < 60; ++i) world().netIn.push_back({});
  for (size_t i = 3; i < sent.size(); ++i) world().netIn.push_back({sent[i]});
  runFrames(200);
  EXPECT_EQ(codesPlayed(43, 255), (std::vector<uint8_t>{62, 64}));
  // so too the closing piece of a V.21 frame that is not its burst's last, its start already handed
  // on: its own datagram and the one before lost, it came altered as a copy in the datagram of the
  // burst's final frame, the newest then. It waits for the next datagram, whose copy disputes it,
  // and the frame ends bad; handed on at once, its end went out with the final frame's after it,
  // where the copy that came next could no longer reach it, and it ended good as altered
  restart();
  const std::vector<std::vector<uint8_t>> burst = {
      preamble, ifp(true, 0, HDLC_DATA, {0xFF, 0xC0, 0x02, 0x4C}, NO_DFS), ifp(true, 0, HDLC_DATA, {0x4C, 0x04}, HDLC_FCS_OK),
      ifp(true, 0, HDLC_DATA, {0xFF, 0xC8, 0x01, 0x00}, HDLC_FCS_OK_SIG_END), ifp(false, 0, NO_DFS, {}, NO_DFS),
      ifp(false, 0, NO_DFS, {}, NO_DFS)};
  sent = datagramsLosing(burst, {1, 2}, 0, 3);
  const std::vector<uint8_t> closing = {0x4C, 0x04};
  const auto end = std::search(sent[1].begin(), sent[1].end(), closing.begin(), closing.end());
  ASSERT_NE(end, sent[1].end());
  end[1] ^= 0x01;  // the frame's last octet, in the copy
  world().netIn.push_back({sent[0]});
  world().netIn.push_back({sent[1]});
  for (int i = 0; i < 22; ++i) world().netIn.push_back({});
  for (size_t i = 2; i < sent.size(); ++i) world().netIn.push_back({sent[i]});
  runFrames(200);
  EXPECT_EQ(codesPlayed(19, 22), (std::vector<uint8_t>{21, 20}));  // V21_END_BAD, V21_END_FINAL
  // a V.21 frame whose middle piece the network brings 300 ms after the piece behind it, past the
  // reorder delay: given up, the frame ends bad. Once a datagram has come that late, the playout
  // waits as long at a gap: the next frame, delayed alike, ends good. So too where the late piece
  // was not given up, the playout held behind the frame's first piece, late as well, in line
  // before it: it came as late after the pieces behind it, and the next frame's would be lost
  std::vector<std::vector<uint8_t>> twoFrames;
  for (uint8_t last : {0x50, 0x51})
    for (const auto& x : {preamble, ifp(true, 0, HDLC_DATA, {0xFF, 0xC8}, NO_DFS), ifp(true, 0, HDLC_DATA, {0x01}, NO_DFS),
                          ifp(true, 0, HDLC_DATA, {0x00, last}, NO_DFS), v21End})
      twoFrames.push_back(x);
  const auto late = datagramsLosing(twoFrames, {});
  for (const bool heldInLine : {false, true}) {
    restart();
    for (size_t f = 0; f < 2; ++f) {
      if (heldInLine && f == 0) {  // the preamble, then the pieces behind, the first at 150 ms, its next at 300
        for (size_t i : {0, 3, 4}) world().netIn.push_back({late[i]});
        for (int i = 0; i < 12; ++i) world().netIn.push_back({});
        world().netIn.push_back({late[1]});
        for (int i = 0; i < 14; ++i) world().netIn.push_back({});
      } else {
        for (size_t i : {0, 1, 3, 4}) world().netIn.push_back({late[5 * f + i]});
        for (int i = 0; i < 29; ++i) world().netIn.push_back({});
      }
      world().netIn.push_back({late[5 * f + 2]});
      for (int i = 0; i < 100; ++i) world().netIn.push_back({});
    }
    runFrames(300);
    // V21_END_BAD_FINAL where the piece was given up, else V21_END_FINAL; then V21_END_FINAL
    EXPECT_EQ(codesPlayed(19, 22), (std::vector<uint8_t>{uint8_t(heldInLine ? 20 : 22), 20})) << "held in line " << heldInLine;
  }
  // non-ECM page data that lost a piece, then its page end and the V.21 preamble lost as well: the
  // loss was the page's, which has no FCS to spoil, and the V.21 frame after it, whole, ends good
  restart();
  const std::vector<std::vector<uint8_t>> afterPage = {
      training, ifp(true, 8, T4_NON_ECM, {1, 1}, NO_DFS), ifp(true, 8, T4_NON_ECM, {2, 2}, NO_DFS),
      ifp(true, 8, T4_NON_ECM, {3, 3}, NO_DFS), ifp(true, 8, T4_NON_ECM_SIG_END, {4}, NO_DFS), preamble,
      ifp(true, 0, HDLC_DATA, {0xFF, 0xC8, 0x01, 0x00}, NO_DFS), v21End};
  for (const auto& d : datagramsLosing(afterPage, {2, 4, 5})) world().netIn.push_back({d});
  runFrames(long(afterPage.size()) + 100);
  EXPECT_EQ(codesPlayed(19, 22), std::vector<uint8_t>{20});  // V21_END_FINAL
  // page octets under the V.21 type after a V.21 frame's end (a peer that sends the rest of its TCF
  // so once its T.30 turned to V.21): no frame is open and nothing was lost, and no frame end plays;
  // after a loss among them what comes is what is left of a frame, and it ends bad
  for (const bool loss : {false, true}) {
    restart();
    const auto v21Page = ifp(true, 0, T4_NON_ECM, {0}, NO_DFS);
    const std::vector<std::vector<uint8_t>> pageAsV21 = {
        preamble, ifp(true, 0, HDLC_DATA, {0xFF, 0xC8, 0x01, 0x00}, NO_DFS), v21End, v21Page, v21Page, v21Page, v21Page};
    for (const auto& d : datagramsLosing(pageAsV21, loss ? std::vector<size_t>{4} : std::vector<size_t>{})) world().netIn.push_back({d});
    runFrames(long(pageAsV21.size()) + 100);
    EXPECT_EQ(codesPlayed(19, 22), loss ? (std::vector<uint8_t>{20, 21}) : std::vector<uint8_t>{20}) << "loss " << loss;
  }
}

// Where a peer's renumbered sequence joins the old one and its first datagrams carry, as copies,
// the packets the old one ended with, nothing is missing and the frame across the join is whole;
// without copies the old one's last packets may have been lost unseen: the frame under way ends
// bad. The frames after it are whole either way.
TEST_F(T38Service, AFrameAcrossARenumberingEndsBadUnlessItsCopiesShowNothingMissing) {
  const auto preamble = ifp(false, 3, NO_DFS, {}, NO_DFS);
  auto piece = [](uint8_t n) { return ifp(true, 0, HDLC_DATA, {0xFF, n}, NO_DFS); };
  const auto end = ifp(true, 0, HDLC_DATA, {0x01}, HDLC_FCS_OK);
  for (const int redundancy : {3, 0}) {
    ASSERT_TRUE(command(T38_ENABLE_CMD, 0, 0));
    ASSERT_TRUE(command(T38_ENABLE_CMD, 1, 0));
    world().relayOut.clear();
    T38ZUDPTX tx;
    t38fUDPTXInit(&tx);
    std::vector<std::vector<uint8_t>> dgs;
    for (const auto& p : {preamble, piece(1), piece(2), piece(3), piece(4), piece(6), piece(7), end, preamble, piece(5), end}) {
      std::vector<uint8_t> d(256);
      d.resize(t38fUDPBuild(&tx, p.data(), int(p.size()), redundancy, d.data(), d.size()));
      dgs.push_back(d);
    }
    for (size_t i = 3; i < dgs.size(); ++i) {  // from the fourth on the numbers move by 20000
      const uint16_t s = uint16_t(((dgs[i][0] << 8) | dgs[i][1]) + 20000);
      dgs[i][0] = uint8_t(s >> 8);
      dgs[i][1] = uint8_t(s);
    }
    for (const auto& d : dgs) world().netIn.push_back({d});
    runFrames(long(dgs.size()) + 50);
    // what the old sequence left plays first, in its order, then the new one from the first of the
    // run that proved it: every packet once, the frame good (V21_END) where the copies show the
    // join, bad (V21_END_BAD) without them
    std::vector<Relay> expect = {{3, {}}, {18, {0xFF, 1}}, {18, {0xFF, 2}}, {18, {0xFF, 3}}, {18, {0xFF, 4}},
                                 {18, {0xFF, 6}}, {18, {0xFF, 7}}, {18, {0x01}}, {19, {}}, {3, {}}, {18, {0xFF, 5}},
                                 {18, {0x01}}, {19, {}}};
    if (redundancy == 0) expect[8] = {21, {}};
    EXPECT_EQ(world().relayOut, expect) << "redundancy " << redundancy;
  }
  // the old sequence's packets still wait, one of them lost, when the renumbering comes: the frame
  // across that gap ends bad as it would have without the renumbering; the new one's frame is whole
  ASSERT_TRUE(command(T38_ENABLE_CMD, 0, 0));
  ASSERT_TRUE(command(T38_ENABLE_CMD, 1, 0));
  world().relayOut.clear();
  T38ZUDPTX tx;
  t38fUDPTXInit(&tx);
  int sent = 0;
  for (const auto& p : {preamble, piece(1), piece(2), piece(4), end, preamble, piece(5), end}) {
    std::vector<uint8_t> d(256);
    d.resize(t38fUDPBuild(&tx, p.data(), int(p.size()), 0, d.data(), d.size()));
    if (sent >= 5) {  // the second frame's datagrams under numbers moved by 20000
      const uint16_t n = uint16_t(((d[0] << 8) | d[1]) + 20000);
      d[0] = uint8_t(n >> 8);
      d[1] = uint8_t(n);
    }
    if (sent++ != 2) world().netIn.push_back({d});  // piece 2 is lost
  }
  runFrames(60);
  EXPECT_EQ(world().relayOut, (std::vector<Relay>{{3, {}}, {18, {0xFF, 1}}, {18, {0xFF, 4}}, {18, {0x01}}, {21, {}}, {3, {}},
                                                  {18, {0xFF, 5}}, {18, {0x01}}, {19, {}}}));
}

TEST_F(T38Service, TheNextBurstCarriesTheLastPacketsOfTheBurstBefore) {
  ASSERT_TRUE(command(T38_ENABLE_CMD, 1, 0));
  world().relayIn.push_back({relayPacket(3, {})});
  world().relayIn.push_back({relayPacket(18, {0xFF, 0xC8, 0x01})});
  world().relayIn.push_back({relayPacket(20, {0x00, 0x10})});  // a final frame: its burst ends
  runFrames(20);                                               // the tail is over long before
  const size_t before = world().datagrams.size();
  ASSERT_GE(before, 3u);
  world().relayIn.push_back({relayPacket(3, {})});
  runFrames(2);
  ASSERT_GT(world().datagrams.size(), before);
  const auto& next = world().datagrams[before];
  // number, primary (one octet), choice, then the count of secondaries: the three packets sent
  // last, newest first, with the numbers just below this one
  ASSERT_GE(next.size(), 6u);
  EXPECT_EQ(next[5], 3) << "secondaries in the first datagram of the next burst";
  std::vector<uint8_t> expected(world().datagrams[before - 1].begin() + 3,
                                world().datagrams[before - 1].begin() + 3 + world().datagrams[before - 1][2]);
  ASSERT_GE(next.size(), 7u + expected.size());
  EXPECT_EQ(std::vector<uint8_t>(next.begin() + 7, next.begin() + 7 + long(expected.size())), expected)
      << "the first secondary is the burst's last packet";
}

// Without redundancy an indicator still goes three times more, and a final V.21 frame goes three
// times, then three no-signals: one lost datagram cannot leave the far end waiting.
TEST_F(T38Service, WithoutRedundancyTailsStillCarryThreeCopies) {
  ASSERT_TRUE(command(T38_ENABLE_CMD, 1, 0));
  ASSERT_TRUE(command(T38_SETREG1_CMD, 0, 0));
  world().relayIn.push_back({relayPacket(2, {})});  // CED
  runFrames(10);
  world().relayIn.push_back({relayPacket(20, {0xFF, 0x13, 0x84})});  // a final frame
  runFrames(10);
  std::vector<std::vector<uint8_t>> expect;
  for (int i = 0; i < 4; ++i) expect.push_back({0, 0, 1, 0x04, 0, 0});
  const std::vector<uint8_t> frame = {0, 1, 9, 0xC0, 0x02, 0x80, 0x00, 0x02, 0xFF, 0x13, 0x84, 0x40, 0, 0};
  for (int i = 0; i < 3; ++i) expect.push_back(frame);
  for (uint8_t n = 2; n < 5; ++n) expect.push_back({0, n, 1, 0x00, 0, 0});
  EXPECT_EQ(world().datagrams, expect);
  // at every redundancy the signal end goes in three datagrams at least, as primary or secondary
  const std::vector<uint8_t> sigEnd(frame.begin() + 3, frame.begin() + 12);
  for (uint16_t redundancy : {1, 2, 3}) {
    ASSERT_TRUE(command(T38_ENABLE_CMD, 0, 0));
    ASSERT_TRUE(command(T38_SETREG1_CMD, 0, uint16_t(redundancy * 0x101)));
    ASSERT_TRUE(command(T38_ENABLE_CMD, 1, 0));
    world().datagrams.clear();
    world().relayIn.push_back({relayPacket(20, {0xFF, 0x13, 0x84})});
    runFrames(12);
    int carrying = 0;
    for (const auto& d : world().datagrams) {
      // the primary, then the secondaries after the choice octet and their count
      std::vector<std::vector<uint8_t>> ifps{{d.begin() + 3, d.begin() + 3 + d[2]}};
      for (size_t at = 5 + d[2], n = d[4 + d[2]]; n > 0 && at < d.size(); --n, at += 1 + d[at])
        ifps.emplace_back(d.begin() + long(at + 1), d.begin() + long(at + 1 + d[at]));
      carrying += std::count(ifps.begin(), ifps.end(), sigEnd) > 0;
    }
    EXPECT_GE(carrying, 3) << "datagrams carrying the signal end at redundancy " << redundancy;
  }
}

// However many IFP packets fall due at once, one frame hands the relay a bounded number of
// packets and the rest the frames after.
TEST_F(T38Service, OneFrameHandsTheRelayABoundedNumberOfPackets) {
  ASSERT_TRUE(command(T38_ENABLE_CMD, 1, 0));
  std::vector<std::vector<uint8_t>> burst;
  for (uint8_t n = 0; n < 3; ++n) {
    std::vector<uint8_t> d{0, n, 2 + T38_MAX_PLAYABLE_FIELDS / 2, 0xC0, T38_MAX_PLAYABLE_FIELDS};
    for (int f = 0; f < T38_MAX_PLAYABLE_FIELDS; f += 2) d.push_back(0x22);
    d.insert(d.end(), {0, 0});
    burst.push_back(d);
  }
  world().netIn.push_back(burst);
  std::vector<size_t> perFrame;
  for (int f = 0; f < 40; ++f) {
    const size_t before = world().relayOut.size();
    runFrames(1);
    if (world().relayOut.size() > before) perFrame.push_back(world().relayOut.size() - before);
  }
  EXPECT_EQ(perFrame, (std::vector<size_t>{2 * T38_MAX_PLAYABLE_FIELDS, T38_MAX_PLAYABLE_FIELDS}));
  // one packet as long as the largest datagram taken holds (page data, V.17 14400) reaches the
  // relay whole, in the relay's own packets; one octet longer, in a datagram one octet over, is
  // refused and nothing of it reaches the relay
  auto pageData = [](uint16_t s, int ifpLen) {
    const int dataLen = ifpLen - 5;
    std::vector<uint8_t> d{uint8_t(s >> 8), uint8_t(s), uint8_t(0x80 | (ifpLen >> 8)), uint8_t(ifpLen), 0xC0 | (8 << 1), 1,
                           0x80 | (T4_NON_ECM << 4), uint8_t((dataLen - 1) >> 8), uint8_t(dataLen - 1)};
    for (int i = 0; i < dataLen; ++i) d.push_back(uint8_t(i * 7 + s));
    d.insert(d.end(), {0x00, 0x00});
    return d;
  };
  for (const int extra : {0, 1}) {
    world().relayOut.clear();
    const auto d = pageData(uint16_t(3 + extra), T38_MAX_RX_IFP + extra);
    ASSERT_EQ(int(d.size()), T38_MAX_DATAGRAM + extra);
    world().netIn.push_back({d});
    runFrames(60);
    std::vector<uint8_t> carried;
    for (const Relay& r : world().relayOut) {
      EXPECT_EQ(r.code, 32) << "page data, V.17 14400";
      carried.insert(carried.end(), r.octets.begin(), r.octets.end());
    }
    EXPECT_TRUE(carried == (extra == 0 ? std::vector<uint8_t>(d.begin() + 9, d.end() - 2) : std::vector<uint8_t>{}))
        << extra << ": " << carried.size() << " octets carried";
  }
}

TEST_F(T38Service, RegistersAreBoundedByTheirRecord) {
  EXPECT_TRUE(command(T38_SETREG1_CMD, 2, 300));
  EXPECT_FALSE(command(T38_SETREG1_CMD, 4, 1));
  EXPECT_FALSE(command(0x17FF, 0, 0));
}

}  // namespace
