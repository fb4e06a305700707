#include "ajc_harness.h"

#include <algorithm>

namespace ajctest {

namespace {

std::array<uint16_t, AJC_NUM_VOICECODES> frameTimes() {
  std::array<uint16_t, AJC_NUM_VOICECODES> t{};
  t.fill(40);
  for (int c : {6, 7, 8, 45, 46, 47, 48, 49}) t[c] = 80;
  for (int c : {9, 10, 15, 73}) t[c] = 240;
  for (int c = 16; c <= 33; ++c) t[c] = 160;
  for (int c : {14, 35}) t[c] = 160;
  for (int c = 50; c <= 67; ++c) t[c] = 160;
  const uint16_t opus[5] = {40, 80, 160, 320, 480};
  for (int i = 0; i < 5; ++i) t[36 + i] = t[68 + i] = opus[i];
  t[74] = 480;
  return t;
}

const std::array<uint16_t, AJC_NUM_VOICECODES> kFrameTime = frameTimes();
const std::array<uint16_t, AJC_NUM_VOICECODES> kInst{};  // no decoder instance in front
const std::array<uint16_t, AJC_NUM_VOICECODES> kPayload = [] {
  std::array<uint16_t, AJC_NUM_VOICECODES> p{};
  p.fill(40);
  return p;
}();
const std::array<uint16_t, AJC_NUM_VOICECODES> kReplay = [] {
  std::array<uint16_t, AJC_NUM_VOICECODES> r{};
  r.fill(320);
  for (int c : {6, 7, 8, 9, 10, 14, 15, 73, 74}) r[c] = 480;
  return r;
}();
const AJC_TABLE_ENTRIES kTables{kFrameTime.data(), kInst.data(), kPayload.data(), kReplay.data()};

}  // namespace

int slotsInUse(const AJC_PAYLOADQ& q) {
  int n = 0;
  for (unsigned s = 0; s < q.numEntry; ++s) n += (q.freeListp[s >> 4] & (0x8000u >> (s & 15))) != 0;
  return n;
}

std::vector<AJC_PKT_HDR> queued(AJC_OBJ& o) {
  std::vector<AJC_PKT_HDR> v;
  AJC_PKT_HDR* p = o.ajcJitterQ.count ? o.ajcJitterQ.headp : nullptr;
  for (; p != nullptr; p = ajcPeekQLink(&o.ajcJitterQ, p)) v.push_back(*p);
  return v;
}

Jb::Jb(AJC_REGS r, uint16_t c) : regs(r), code(c), thread(kFrameTime[c]), mem(kMemWords) {
  ajcInit(&obj, 40, &regs, &stats, &state, mem.data(), kMemWords, &kTables, &internal);
  state.currentDec = code;
  ajcReset(&obj, code, AJC_RESET_RESIZE | AJC_RESET_LIQUID);
}

int Jb::arrive(uint16_t timestamp, uint8_t cls, uint16_t index, uint16_t c) {
  const int slot = searchFreeIndex(&obj.payloadQ);
  AJC_PKT_HDR h{};
  h.payloadID = static_cast<uint16_t>(cls << 8 | (c == 0xFFFF ? code : c));
  h.payloadLength = 40;
  h.timestamp = timestamp;
  if (slot < 0) {
    h.payloadID &= 0xFF;  // no room: the frame goes in without data
  } else {
    h.flags = static_cast<uint16_t>(slot << 8 | index);
    ajcSlotPtr(&obj.payloadQ, slot)[0] = timestamp;  // the payload names its frame
  }
  const int queuedBefore = obj.ajcJitterQ.count;
  const int taken = ajcHandlePacketArrival(&obj, &h, index);
  if (taken) {
    accepted.insert(timestamp);
    EXPECT_EQ(obj.ajcJitterQ.count, queuedBefore + 1);
  }
  return taken;
}

Release Jb::release() {
  Release r{};
  r.timer = state.timer;
  obj.tickRate = thread;
  ajcControlPacketRelease(&obj);
  r.numCurrPkt = obj.pktInfo.numCurrPkt;
  r.pkt[0] = obj.pktInfo.currPkt[0];
  r.pkt[1] = obj.pktInfo.currPkt[1];
  r.state = obj.inState;
  for (int i = 0; i < r.numCurrPkt; ++i) {
    const AJC_PKT_HDR& h = r.pkt[i];
    const uint8_t cls = ajcClass(h);
    if (cls == AJC_PKT_CNG) ++comfort;
    else if (cls == AJC_PKT_FRAME_REPEAT) ++repeats;
    else {
      // The slot still holds this frame's payload until the decoder frees it.
      uint16_t word = 0;
      decoder_copyPayload(&obj.payloadQ, &h, &word, 1, 1);
      EXPECT_EQ(word, h.timestamp) << "payload slot of a released frame was reused";
      auto it = accepted.find(h.timestamp);
      EXPECT_NE(it, accepted.end()) << "released a frame that was never accepted: " << h.timestamp;
      if (it != accepted.end()) accepted.erase(it);
      if (cls == AJC_PKT_DOUBLE_DECODE) {
        ++deleted;
      } else {
        played.push_back(h.timestamp);
        repeatsBeforeLastPlay = repeats;
      }
    }
  }
  if (r.numCurrPkt) releases.push_back(r);
  checkInvariants(r);
  return r;
}

std::vector<Release> Jb::run(int ticks) {
  std::vector<Release> out;
  for (int t = 0; t < ticks; t += thread) {
    Release r = release();
    if (r.numCurrPkt) out.push_back(r);
  }
  return out;
}

void Jb::checkInvariants(const Release& r) {
  ASSERT_GE(r.numCurrPkt, 0);
  ASSERT_LE(r.numCurrPkt, 2);
  if (r.numCurrPkt == 2) {
    EXPECT_EQ(ajcClass(r.pkt[0]), AJC_PKT_DOUBLE_DECODE);
    EXPECT_NE(ajcClass(r.pkt[1]), AJC_PKT_DOUBLE_DECODE);
    EXPECT_EQ(static_cast<uint16_t>(r.pkt[1].timestamp - r.pkt[0].timestamp), obj.decoderInterval);
  }
  if (r.numCurrPkt == 1) {
    EXPECT_NE(ajcClass(r.pkt[0]), AJC_PKT_DOUBLE_DECODE);
  }
  // Queue sorted, slots owned one to one, nothing the buffer dropped still in it.
  const std::vector<AJC_PKT_HDR> q = queued(obj);
  EXPECT_LE(q.size(), obj.ajcJitterQ.numEntries);
  for (size_t i = 1; i < q.size(); ++i) {
    EXPECT_GT(static_cast<int16_t>(q[i].timestamp - q[i - 1].timestamp), 0) << "queue out of order";
  }
  EXPECT_EQ(slotsInUse(obj.payloadQ), static_cast<int>(q.size()));
  EXPECT_LE(state.currentHoldTime, AJC_MAX_HOLDTIME);
  EXPECT_GE(obj.minHoldTimeState, 0);
  EXPECT_LE(obj.maxHoldTimeState, 1024000);
  EXPECT_LE(obj.minHoldTimeState, 1024000);
  // Played frames run forwards.
  if (played.size() >= 2) {
    EXPECT_GT(static_cast<int16_t>(played.back() - played[played.size() - 2]), 0) << "played backwards";
  }
}

}  // namespace ajctest
