// The fax relay service between stand-ins for its modems and the T.38 service: commands and
// registers, timers, T.30 frames both ways with their rewriting, and page-data buffering.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "faxr_harness.h"
#include "faxr_int.h"

using namespace faxrtest;

namespace {

// `frame` followed by its own FCS (CRC-16, most significant bit first, complemented): octets that
// read as a whole good frame wherever a flag follows them.
std::vector<uint8_t> withOwnFcs(std::vector<uint8_t> frame) {
  uint16_t crc = 0xFFFF;
  for (uint8_t o : frame)
    for (int b = 7; b >= 0; --b) {
      const bool fb = ((crc >> 15) ^ (o >> b)) & 1;
      crc = uint16_t(crc << 1);
      if (fb) crc ^= 0x1021;
    }
  frame.push_back(uint8_t(~crc >> 8));
  frame.push_back(uint8_t(~crc));
  return frame;
}

class FaxRelay : public ::testing::Test {
 protected:
  void SetUp() override { open(); }
  void TearDown() override { close(); }
  static void enable(uint16_t mode = 0) { ASSERT_EQ(command(FAXR_ENABLE_CMD, 1, mode), 0); }
  static std::vector<uint8_t> codes() {
    std::vector<uint8_t> c;
    for (const Packet& p : world().sent) c.push_back(p.code);
    return c;
  }
  static size_t count(uint16_t header, uint16_t op1) {
    return size_t(std::count_if(world().commands.begin(), world().commands.end(),
                                [&](const Cmd& c) { return c.header == header && c.op1 == op1; }));
  }
  static std::vector<Evt> hostEvents(uint16_t header) {
    std::vector<Evt> v;
    for (const Evt& e : world().host)
      if (e.header == header) v.push_back(e);
    return v;
  }
  // Feeds line bits to the service as the V.21 service would, a packet per frame.
  static void lineBits(const std::vector<uint8_t>& bits) {
    for (const Evt& e : v21Packets(bits)) world().modemEvents.push_back({e});
    runFrames(long(bits.size() / 8) + 4);
  }
  static void fromNetwork(std::vector<std::vector<uint8_t>> packets) {
    world().toService.push_back(std::move(packets));
    runFrames(2);
  }
};

// ---- commands and registers ----

TEST_F(FaxRelay, EnableSetsUpBothModemsAndModeThreeCallsAtOnce) {
  enable(3);
  std::vector<uint16_t> order;
  for (const Cmd& c : world().commands) order.push_back(c.header);
  ASSERT_GE(order.size(), 4u);
  EXPECT_EQ(std::vector<uint16_t>(order.begin(), order.begin() + 4), (std::vector<uint16_t>{0x0DB4, 0x0DB0, 0x11B0, 0x0D84}));
  EXPECT_EQ(world().commands[0].op1, 22);
  EXPECT_EQ(world().commands[0].op2, 0x8008);
  runFrames(1);
  ASSERT_FALSE(world().sent.empty());
  EXPECT_EQ(world().sent[0].code, FAXR_PKT_CNG);
  EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAIT);
  EXPECT_EQ(inst()->hsxstatus & 0xD, 0xD);
}

TEST_F(FaxRelay, PacketSizeRegisterIsCheckedAndRegistersAreBounded) {
  EXPECT_EQ(command(FAXR_SETREG1_CMD, 26, 0x8127), 0);
  EXPECT_EQ(inst()->hsxfaxrregs.hsxrxpacketsize, 0x8120);  // low three bits cleared
  EXPECT_EQ(command(FAXR_SETREG1_CMD, 26, 0x82A0), -1);     // 672 bits: too many, but stored
  EXPECT_EQ(inst()->hsxfaxrregs.hsxrxpacketsize, 0x82A0);
  EXPECT_EQ(command(FAXR_SETREG1_CMD, 26, 0x0120), -1);     // bit 15 missing
  EXPECT_EQ(command(FAXR_SETREG1_CMD, 32, 1), -1);          // past the record: nothing written
  EXPECT_EQ(command(FAXR_SETREG1_CMD, 13, 5), -1);          // odd offset: refused, nothing written
  EXPECT_EQ(inst()->hsxfaxrregs.hsxnumgenHDLC, 33);
  HSZFAXRREGS regs = faxrRegsDefault();
  regs.hsxmaxfaxmodem = 11;
  EXPECT_EQ(extCommand(FAXR_SETREGS_CMD, &regs, sizeof(regs)), 0);
  EXPECT_EQ(inst()->hsxfaxrregs.hsxmaxfaxmodem, 11);
  EXPECT_EQ(extCommand(FAXR_SETREGS_CMD, &regs, 30), -1);  // short block refused
  EXPECT_EQ(command(FAXR_RESETREGS_CMD, 0, 0), 0);
  EXPECT_EQ(inst()->hsxfaxrregs.hsxmaxfaxmodem, 13);
  EXPECT_EQ(command(0x12FF, 0, 0), -1);
}

TEST_F(FaxRelay, StatisticsAndStatusAreAnsweredWithoutWritingThroughOperands) {
  enable();
  inst()->hsxfaxrStats.egress.hsxFrameCount = 7;
  inst()->hsxfaxrStats.egress.hsxOverrunCount = 3;
  inst()->hsxfaxrStats.ingress.hsxNumTxPages = 2;
  EXPECT_EQ(command(FAXR_GETSTATS_CMD, 0, 0), 0);
  auto ev = hostEvents(FAXR_STATS_EVT);
  ASSERT_EQ(ev.size(), 1u);
  ASSERT_EQ(ev[0].data.size(), sizeof(HSZFAXRSTATS));
  HSZFAXRSTATS s;
  std::memcpy(&s, ev[0].data.data(), sizeof(s));
  EXPECT_EQ(s.egress.hsxOverrunCount, 3);
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxOverrunCount, 0);  // cleared
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxFrameCount, 7);    // kept with op1 0
  EXPECT_EQ(inst()->hsxfaxrStats.ingress.hsxNumTxPages, 2);
  EXPECT_EQ(command(FAXR_GETSTATS_CMD, 1, 0), 0);
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxFrameCount, 0);
  std::vector<uint8_t> answer;
  EXPECT_EQ(command(FAXR_GETSTATUS_CMD, 0, 0x1234, &answer), 0);
  ASSERT_EQ(answer.size(), 2u);
  uint16_t status;
  std::memcpy(&status, answer.data(), 2);
  EXPECT_EQ(status, inst()->hsxstatus);
  EXPECT_EQ(command(FAXR_SETMAXRATE_CMD, 9, 0), 0);
  EXPECT_EQ(inst()->hsxfaxrregs.hsxmaxfaxmodem, 9);
}

TEST_F(FaxRelay, NetworkPacketsLargerThanTheirBlockOrMessageAreRefusedAndCounted) {
  enable();
  std::vector<uint8_t> big = relayPacket(32, std::vector<uint8_t>(120, 0x55), 1);  // 130 bytes of payload
  std::vector<uint8_t> lying = relayPacket(32, std::vector<uint8_t>(10, 0x55), 2);
  reinterpret_cast<HAPI_PKT_HDR*>(lying.data())->payloadLength = 90;  // more than the message holds
  fromNetwork({big, lying});
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxbadframeCount, 2);
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxFrameCount, 0);
  EXPECT_EQ(MEM_QueueCount(&inst()->hsxvfaxjitbufq), 0u);
  // a bit count beyond the payload is bounded by it
  fromNetwork({relayPacket(16, {}, 3), relayPacket(32, {0xAA, 0xAA}, 4, 4000)});
  EXPECT_LE(inst()->hsxfaxrfax.hsxfaxrcounter, 16);
}

// ---- timers ----

TEST_F(FaxRelay, NetworkSilenceAbortsAfterSixteenSecondsAndTheServiceWaitsForTheNextFax) {
  ASSERT_EQ(command(FAXR_SETREG1_CMD, 2, 65535), 0);  // long spoofing grace: only the silence can end the wait
  enable();
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, 1)});
  // the preamble started the silence timer in the frame it arrived in; one frame has passed since
  runFrames(1599);
  EXPECT_EQ(inst()->hsxfaxrstate.silenceTimer, 16000);
  EXPECT_TRUE(hostEvents(FAXR_ABORT_EVT).empty());
  runFrames(1);
  auto ab = hostEvents(FAXR_ABORT_EVT);
  ASSERT_EQ(ab.size(), 1u);
  EXPECT_EQ(ab[0].op1, 2);  // silence
  ASSERT_EQ(hostEvents(FAXR_FAILURE_EVT).size(), 1u);
  EXPECT_EQ(hostEvents(FAXR_FAILURE_EVT)[0].op1, HAPI_FAXR_SRV);
  EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAIT);
  EXPECT_EQ(inst()->hsxfaxrstate.silenceTimer, 0xFFFF);
  EXPECT_EQ(count(0x1189, 0), 1u);
}

TEST_F(FaxRelay, TimeStampsRunFreelyWithoutModulusAndWrapWithIt) {
  enable();
  inst()->hsxTimeStamp = 65530;
  runFrames(1);
  EXPECT_EQ(inst()->hsxTimeStamp, 4);  // 65530 + 10 over 16 bits
  ASSERT_EQ(command(FAXR_ENABLE_CMD, 0, 0), 0);
  ASSERT_EQ(command(FAXR_SETREG1_CMD, 6, 1000), 0);
  enable();
  const uint16_t t0 = inst()->hsxTimeStamp;
  runFrames(150);
  EXPECT_LT(inst()->hsxTimeStamp, 1000);
  EXPECT_EQ(inst()->hsxTimeStamp, (t0 + 1500) % 1000);
}

TEST_F(FaxRelay, CedFromTheNetworkPlaysForItsDurationThenWaitsForFrames) {
  enable();
  fromNetwork({relayPacket(FAXR_PKT_CED, {}, 1)});
  EXPECT_EQ(count(0x0D87, 1), 1u);
  runFrames(300);  // 3 s of CED
  EXPECT_EQ(count(0x0D87, 0), 1u);
  runFrames(10);  // and the 75 ms gap
  EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITNETMSG);
}

// ---- T.30 frames ----

TEST_F(FaxRelay, LineFramesReachTheNetworkRewrittenAndFinalMarked) {
  ASSERT_EQ(command(FAXR_SETREG1_CMD, 28, 1), 0);  // progress events on
  enable();
  const std::vector<uint8_t> nsf = {0xFF, 0xC0, 0x04, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99,
                                    0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6};
  // DIS: V.8 bit set, rate field 15, bit 25 set
  const std::vector<uint8_t> dis = {0xFF, 0xC8, 0x01, 0x04, 0x3E, 0x00, 0x81};
  lineBits(hdlcLineBits({nsf, dis}, 40));
  std::vector<uint8_t> ends;
  const auto frames = framesToNetwork(&ends);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(codes()[0], FAXR_PKT_V21_PREAMBLE);
  EXPECT_EQ(ends, (std::vector<uint8_t>{FAXR_PKT_V21_END, FAXR_PKT_V21_END_FINAL}));
  std::vector<uint8_t> zeroed = {0xFF, 0xC0, 0x04};
  zeroed.resize(nsf.size(), 0);
  EXPECT_EQ(frames[0], zeroed);  // same length, facilities zeroed
  EXPECT_EQ(frames[1], (std::vector<uint8_t>{0xFF, 0xC8, 0x01, 0x00, 0x36, 0x00, 0x01}));
  EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITNETMSG);
  // the preamble event is an extended one without data, never operands read as a pointer
  const auto pre = hostEvents(FAXR_PREAMBLE_EVT);
  ASSERT_EQ(pre.size(), 1u);
  EXPECT_EQ(pre[0].op1, 0);
  EXPECT_TRUE(pre[0].data.empty());
  EXPECT_EQ(hostEvents(FAXR_V21TONET_EVT).size(), 2u);
}

// A line frame that stops without its closing flag after part of it went to the network ends
// there as bad: the far end must not join that part to the next frame.
TEST_F(FaxRelay, ALineFrameAbortedOrCutByTheCarrierEndsBadAtTheNetwork) {
  enable();
  const std::vector<uint8_t> csi = {0xFF, 0xC0, 0x02, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39};
  const std::vector<uint8_t> tsi = {0xFF, 0xC8, 0x42, 0x39, 0x38, 0x37, 0x36, 0x35, 0x34, 0x33, 0x32, 0x31};
  auto bits = hdlcLineBits({csi}, 10);
  bits.resize(bits.size() - 40);  // the last octets, the FCS and the flag never come
  bits.insert(bits.end(), 8, 1);   // abort
  const auto next = hdlcLineBits({tsi}, 3);
  bits.insert(bits.end(), next.begin(), next.end());
  const uint16_t bad = inst()->hsxfaxrStats.ingress.hsxbadframeCount;
  lineBits(bits);
  std::vector<uint8_t> ends;
  auto frames = framesToNetwork(&ends);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(ends, (std::vector<uint8_t>{FAXR_PKT_V21_END_BAD, FAXR_PKT_V21_END_FINAL}));
  EXPECT_TRUE(std::equal(frames[0].begin(), frames[0].end(), csi.begin()));
  EXPECT_EQ(frames[1], tsi);
  EXPECT_EQ(inst()->hsxfaxrStats.ingress.hsxbadframeCount, bad + 1);
  // the carrier goes in the middle of a frame
  world().sent.clear();
  auto cut = hdlcLineBits({csi}, 6);
  cut.resize(cut.size() - 40);
  for (const Evt& e : v21Packets(cut)) world().modemEvents.push_back({e});
  world().modemEvents.push_back({Evt{0x0DC9, 0, 0, {}}});
  runFrames(long(cut.size() / 8) + 4);
  ends.clear();
  frames = framesToNetwork(&ends);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(ends, (std::vector<uint8_t>{FAXR_PKT_V21_END_BAD}));

  // the relay stops following the frame: the network's frames take the line (their preamble comes
  // while the turn is the far end's: its answer, late, to a command the line repeats), the relay
  // itself starts sending flags to keep the line waiting for a slow network (its V.21 modem turns
  // to send), or the frame grows past any control frame. The frame ends
  // there at once, bad, and the signal with it; the line's next burst goes out as frames of its
  // own, never joined to it.
  uint16_t stamp = 1;
  const std::vector<uint8_t> eop = {0xFF, 0xC8, 0xF4};
  for (const char* why : {"network takes the line", "relay spoofs", "frame too long"}) {
    const std::string w = why;
    ASSERT_EQ(command(FAXR_ENABLE_CMD, 0, 0), 0);
    enable();
    std::vector<uint8_t> frame = csi;
    auto part = hdlcLineBits({frame}, 10);
    if (w == "network takes the line") {
      part.resize(part.size() - 40);
    } else if (w == "relay spoofs") {
      lineBits(hdlcLineBits({eop}, 10));  // the network's answer is slow in coming
      world().modemEvents.push_back({Evt{0x0DC9, 0, 0, {}}});  // the carrier drops after the final frame
      frame.resize(40, 0x20);
      part = hdlcLineBits({frame}, 180);  // flags start 2 s after the line's preamble
    } else {
      frame.resize(70, 0x20);
      part = hdlcLineBits({frame}, 10);
    }
    world().sent.clear();
    lineBits(part);
    if (w == "network takes the line") fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++)});
    const auto sent = codes();
    const auto end = std::find(sent.begin(), sent.end(), FAXR_PKT_V21_END_BAD);
    ASSERT_NE(end, sent.end()) << why;
    ASSERT_NE(end + 1, sent.end()) << why;
    EXPECT_EQ(end[1], FAXR_PKT_NOSIGNAL) << why;
    lineBits(hdlcLineBits({tsi}, 10));
    ends.clear();
    frames = framesToNetwork(&ends);
    ASSERT_EQ(frames.size(), 2u) << why;
    EXPECT_EQ(ends, (std::vector<uint8_t>{FAXR_PKT_V21_END_BAD, FAXR_PKT_V21_END_FINAL})) << why;
    EXPECT_TRUE(std::equal(frames[0].begin(), frames[0].end(), frame.begin())) << why;
    EXPECT_LT(frames[0].size(), frame.size()) << why;
    EXPECT_EQ(frames[1], tsi) << why;
  }

  // while the line has the turn (its answer to the relay's final frame starts, and goes on), the
  // network's bursts do not take the line: one queued behind the final frame waits for the end of
  // the answer, one that comes during it is dropped (the far end waits for that answer: what it
  // sends meanwhile is a repeat the answer supersedes, or not its own). Nor does a frame from the
  // network whose bits ran out (the modem idle in its middle) go on while the line sends. The
  // modem never turns to send under the line's frames, which reach the network whole.
  for (const char* why : {"answer to a final frame", "frame whose bits ran out"}) {
    const std::string w = why;
    ASSERT_EQ(command(FAXR_ENABLE_CMD, 0, 0), 0);
    world().commands.clear();
    enable();
    const std::vector<uint8_t> frame = csi;
    std::vector<uint8_t> part = hdlcLineBits({frame}, 10), rest;
    std::vector<std::vector<uint8_t>> burst;
    if (w == "answer to a final frame") {
      // a burst right behind the final frame waits too, and so does one that comes in the answer
      fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++), relayPacket(FAXR_PKT_V21, eop, stamp++),
                   relayPacket(FAXR_PKT_V21_END_FINAL, {}, stamp++), relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++),
                   relayPacket(FAXR_PKT_V21, {0xFF, 0xC8, 0x21}, stamp++), relayPacket(FAXR_PKT_V21_END_FINAL, {}, stamp++)});
      burst = {relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++), relayPacket(FAXR_PKT_V21, {0xFF, 0xC8, 0x31}, stamp++),
               relayPacket(FAXR_PKT_V21_END_FINAL, {}, stamp++)};
    } else {
      fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++), relayPacket(FAXR_PKT_V21, csi, stamp++)});
      burst = {relayPacket(FAXR_PKT_V21, {0x41, 0x42}, stamp++)};  // the rest of it comes, late
    }
    // the line's frame starts at once; the burst comes in its middle
    rest.assign(part.end() - 40, part.end());
    part.resize(part.size() - 40);
    for (int i = 0; i < 300 && count(0x0D84, 1) < 2; ++i) {  // until the modem has sent all it had
      world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
      runFrames(1);
    }
    ASSERT_EQ(count(0x0D84, 1), 2u) << why << ": the receiver is back on";
    if (w == "answer to a final frame") {
      EXPECT_EQ(decodeHdlc(commandBits(0x0D08)), std::vector<std::vector<uint8_t>>{eop}) << why << ": nothing straight after it";
    }
    world().sent.clear();
    world().commands.clear();
    lineBits(part);
    fromNetwork(burst);
    lineBits(rest);
    EXPECT_EQ(count(0x0D84, 0), 0u) << why << ": the modem turned to send under the line's frame";
    EXPECT_TRUE(commandBits(0x0D08).empty()) << why;
    lineBits(hdlcLineBits({tsi}, 10));
    ends.clear();
    frames = framesToNetwork(&ends);
    ASSERT_EQ(frames.size(), 2u) << why;
    EXPECT_EQ(ends, (std::vector<uint8_t>{FAXR_PKT_V21_END, FAXR_PKT_V21_END_FINAL})) << why;
    EXPECT_EQ(frames[0], frame) << why;
    EXPECT_EQ(frames[1], tsi) << why;
    if (w == "answer to a final frame") {
      for (int i = 0; i < 100; ++i) {
        world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
        runFrames(1);
      }
      const std::vector<std::vector<uint8_t>> after = {{0xFF, 0xC8, 0x21}};
      EXPECT_EQ(decodeHdlc(commandBits(0x0D08)), after) << why << ": the burst queued waits no longer, the other is gone";
    }
  }
}

TEST_F(FaxRelay, ARateWithinTheLimitPassesAndABadFrameEndsAsBad) {
  enable();
  const std::vector<uint8_t> dis = {0xFF, 0xC8, 0x01, 0x00, 0x2C, 0x00};  // rate field 11
  lineBits(hdlcLineBits({dis}, 10));
  auto frames = framesToNetwork();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], dis);
  // a final frame with a bad check sequence from the line (after a new preamble)
  ASSERT_EQ(command(FAXR_ENABLE_CMD, 0, 0), 0);
  enable();
  world().sent.clear();
  lineBits(hdlcLineBits({dis}, 10, true));
  std::vector<uint8_t> ends;
  framesToNetwork(&ends);
  EXPECT_EQ(ends, (std::vector<uint8_t>{FAXR_PKT_V21_END_BAD_FINAL}));
  EXPECT_EQ(inst()->hsxfaxrStats.ingress.hsxbadframeCount, 1);
}

// A DCS from either side chooses error correction (FIF bit 27) and, with it, frames of 64 octets
// instead of 256 (bit 28), which bound the ECM frames from the network.
TEST_F(FaxRelay, TheDcsChoosesErrorCorrectionAndItsFrameSizeFromEitherSide) {
  uint16_t stamp = 1;
  for (uint8_t fif4 : {0x00, 0x20, 0x30, 0x10, 0xDF})  // bits 25-32: none, ECM, ECM and 64, 64 alone, all others
    for (bool fromLine : {true, false}) {
      close();
      open();
      enable();
      const std::vector<uint8_t> dcs = {0xFF, 0xC8, 0xC1, 0x00, 0x04, 0x00, fif4};  // V.17 14400
      if (fromLine) {
        lineBits(hdlcLineBits({dcs}, 10));
      } else {
        fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++), relayPacket(FAXR_PKT_V21, dcs, stamp++),
                     relayPacket(FAXR_PKT_V21_END_FINAL, {}, stamp++)});
        for (int i = 0; i < 120; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
        runFrames(122);
      }
      const bool ecm = (fif4 & 0x20) != 0;
      const std::string what = std::string(fromLine ? "from the line" : "from the network") + ", FIF octet 4 " +
                               ::testing::PrintToString(fif4);
      EXPECT_EQ(inst()->hsxfaxrregs.hsxlocalrate, 10) << what;
      EXPECT_EQ((inst()->hsxintstatus & FAXR_INT_ECM) != 0, ecm) << what;
      EXPECT_EQ(faxr::ecmFrameLimit(inst()), ecm && (fif4 & 0x10) ? 4 + 64 : 4 + 256) << what;
    }
}

TEST_F(FaxRelay, ARateLimitAboveEveryRateFieldLeavesTheDisAlone) {
  ASSERT_EQ(command(FAXR_SETMAXRATE_CMD, 16, 0), 0);
  enable();
  const std::vector<uint8_t> dis = {0xFF, 0xC8, 0x01, 0x00, 0x3C, 0x00};  // rate field 15
  lineBits(hdlcLineBits({dis}, 10));
  const auto frames = framesToNetwork();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], dis);
}

TEST_F(FaxRelay, FiveFlagsInStepMakeAPreambleFourOrOutOfStepDoNot) {
  enable();
  std::vector<uint8_t> four = hdlcLineBits({}, 4);
  four.insert(four.end(), 16, 1);
  lineBits(four);
  EXPECT_TRUE(world().sent.empty());
  std::vector<uint8_t> spaced;  // flags nine bits apart
  for (int i = 0; i < 8; ++i) {
    for (int b = 7; b >= 0; --b) spaced.push_back(uint8_t((0x7E >> b) & 1));
    spaced.push_back(1);
  }
  lineBits(spaced);
  EXPECT_TRUE(world().sent.empty());
  lineBits(hdlcLineBits({}, 5));
  EXPECT_EQ(codes(), (std::vector<uint8_t>{FAXR_PKT_V21_PREAMBLE}));
}

TEST_F(FaxRelay, NetworkFramesGoToTheLineWithFlagsAndANewCheckSequenceAndRepeatsAreDropped) {
  ASSERT_EQ(command(FAXR_SETREG1_CMD, 24, 1), 0);  // training check judged locally: it has not passed
  enable();
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, 1), relayPacket(FAXR_PKT_V21, {0xFF, 0xC8}, 2),
               relayPacket(FAXR_PKT_V21, {0xFF, 0xC8}, 2), relayPacket(FAXR_PKT_V21, {0x21}, 3),
               relayPacket(FAXR_PKT_V21_END_FINAL, {}, 4)});
  for (int i = 0; i < 80; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});  // the modem sends
  runFrames(80);
  const std::vector<uint8_t> bits = commandBits(0x0D08);
  std::vector<bool> good;
  const auto frames = decodeHdlc(bits, &good);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (std::vector<uint8_t>{0xFF, 0xC8, 0x22}));  // the CFR went out as FTT
  EXPECT_TRUE(good[0]);
  // the transmitter was turned round first, and at least the configured flags lead the frame
  const auto first = std::find_if(world().commands.begin(), world().commands.end(), [](const Cmd& c) { return c.header == 0x0D08; });
  ASSERT_NE(first, world().commands.end());
  EXPECT_TRUE(std::any_of(world().commands.begin(), first, [](const Cmd& c) { return c.header == 0x0D84 && c.op1 == 0; }));
  EXPECT_GE(leadingFlags(bits), 33);
  EXPECT_EQ(count(0x0D84, 1), 2u);  // back to receive once the modem reported every bit sent
  EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITLOCALMSG);
  EXPECT_TRUE(hostEvents(FAXR_RATE_EVT).empty());                // only a CFR that passes announces the rate
  // in each state the relay waits for the far end in after the local fax's post-page command, the
  // far end's answer goes to the line: the MCF to an EOP; after an EOM or a PPS-EOM, the MCF and
  // then the DIS that starts the next document
  const std::vector<uint8_t> mcf = {0xFF, 0xC8, 0x31}, dis = {0xFF, 0xC8, 0x01, 0x00, 0x46, 0x80};
  const struct {
    std::vector<uint8_t> command;
    HSEFAXRSTATE afterMcf;
  } posts[] = {{{0xFF, 0xC8, 0xF4}, HSFAXRWAITLOCALMSG},
               {{0xFF, 0xC8, 0xF1}, HSFAXRWAITNETDIS},
               {{0xFF, 0xC8, 0x7D, 0xF1, 0x00, 0x00, 0x00}, HSFAXRWAITNETDIS}};
  uint16_t stamp = 10;
  auto answer = [&](const std::vector<uint8_t>& frame) {
    fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++), relayPacket(FAXR_PKT_V21, frame, stamp++),
                 relayPacket(FAXR_PKT_V21_END_FINAL, {}, stamp++)});
    for (int i = 0; i < 120; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
    runFrames(122);
  };
  for (const auto& x : posts) {
    ASSERT_EQ(command(FAXR_ENABLE_CMD, 0, 0), 0);
    world().commands.clear();
    enable();
    lineBits(hdlcLineBits({x.command}, 10));
    ASSERT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITNETMSG);
    answer(mcf);
    EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, x.afterMcf);
    if (x.afterMcf == HSFAXRWAITNETDIS) answer(dis);
    const auto toLine = decodeHdlc(commandBits(0x0D08), &good);
    auto expected = std::vector<std::vector<uint8_t>>{mcf};
    if (x.afterMcf == HSFAXRWAITNETDIS) expected.push_back(dis);
    EXPECT_EQ(toLine, expected) << "after " << int(x.command[2]);
  }
}

// A transmission the modem never reports done (its queued bits flushed by an abort) still gives
// the line back its receiver: after the abort the line's frames are heard again.
TEST_F(FaxRelay, AnAbortWhileAFrameGoesToTheLineTurnsTheReceiverBackOn) {
  enable();
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, 1), relayPacket(FAXR_PKT_V21, {0xFF, 0xC8}, 2),
               relayPacket(FAXR_PKT_V21, {0x21}, 3), relayPacket(FAXR_PKT_V21_END_FINAL, {}, 4)});
  runFrames(80);
  ASSERT_EQ(count(0x0D84, 0), 1u) << "the receiver was turned off to send";
  runFrames(2000);  // silence: the relay aborts
  ASSERT_FALSE(hostEvents(FAXR_ABORT_EVT).empty());
  EXPECT_EQ(count(0x0D84, 1), 2u) << "the receiver stayed off after the abort";
}

// A frame the network marked bad, or one the relay could not pass whole, reaches the line with an
// FCS that fails, always: even when the frame's good FCS happens to be the bad one's usual value,
// when a chunk was dropped for length, or when a new signal cuts the frame off.
TEST_F(FaxRelay, FramesThatCannotBeWholeNeverReachTheLineWithAGoodFcs) {
  enable();
  // an MCF with two FIF octets chosen so that its good FCS is 0x0000
  std::vector<uint8_t> zeroFcs;
  for (int x = 0; x < 65536 && zeroFcs.empty(); ++x) {
    const auto f = withOwnFcs({0xFF, 0xC8, 0x31, uint8_t(x >> 8), uint8_t(x)});
    if (f[5] == 0 && f[6] == 0) zeroFcs.assign(f.begin(), f.begin() + 5);
  }
  ASSERT_FALSE(zeroFcs.empty());
  uint16_t stamp = 1;
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++), relayPacket(FAXR_PKT_V21, zeroFcs, stamp++),
               relayPacket(FAXR_PKT_V21_END_BAD_FINAL, {}, stamp++)});
  for (int i = 0; i < 80; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(80);
  std::vector<bool> good;
  auto frames = decodeHdlc(commandBits(0x0D08), &good);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], zeroFcs);
  EXPECT_FALSE(good[0]) << "a bad frame whose good FCS is 0x0000";

  // a frame of 60 octets, then 10 more: past the 496 bits any control frame has, they are dropped
  runFrames(70);  // the line lets its turn after the final frame pass
  world().commands.clear();
  std::vector<uint8_t> head = {0xFF, 0xC0, 0x31};
  while (head.size() < 60) head.push_back(uint8_t(head.size() * 5));
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++), relayPacket(FAXR_PKT_V21, head, stamp++)});
  for (int i = 0; i < 40; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(40);  // the flags have gone, the 60 octets are with the modem
  fromNetwork({relayPacket(FAXR_PKT_V21, std::vector<uint8_t>(10, 0x55), stamp++), relayPacket(FAXR_PKT_V21_END, {}, stamp++)});
  for (int i = 0; i < 120; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(120);
  good.clear();
  frames = decodeHdlc(commandBits(0x0D08), &good);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], head);
  EXPECT_FALSE(good[0]) << "a frame that lost a chunk";

  // a frame whose end never comes, its last octets reading as an FCS, cut off by a new preamble
  const auto cut = withOwnFcs({0xFF, 0xC0, 0x31, 0x12, 0x34, 0x56, 0x78});  // enough bits to start at once
  // (the carrier dropped after the frame before: 33 flags lead this one on its new carrier, and
  // the preamble comes while its octets are on their way)
  fromNetwork({relayPacket(FAXR_PKT_V21, cut, stamp++)});
  for (int i = 0; i < 36; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(36);
  const uint16_t bad = inst()->hsxfaxrStats.egress.hsxbadframeCount;
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++)});
  for (int i = 0; i < 40; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(40);
  good.clear();
  frames = decodeHdlc(commandBits(0x0D08), &good);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_TRUE(std::equal(cut.begin(), cut.end(), frames[1].begin()));
  EXPECT_FALSE(good[1]) << "a frame cut off by a new signal";
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxbadframeCount, bad + 1);

  // a signal in place of one octet of a frame, its octets coming one to a packet: any indicator,
  // the end of a V.21 signal or of page data of either kind; at the frame's first, a middle or its
  // last octet; while the frame waits or is on its way to the line, its rest following or lost. No
  // part of it reaches the line with a good FCS, neither what came before the signal nor what
  // follows it up to the frame's end.
  const std::vector<uint8_t> csi = {0xFF, 0xC0, 0x02, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x30, 0x31, 0x32, 0x33};
  std::vector<uint8_t> signals;
  for (uint8_t code = 0; code <= 17; ++code) signals.push_back(code);
  signals.insert(signals.end(), {FAXR_PKT_PAGEEND, FAXR_PKT_ECM_PAGEEND, 65});  // 65: a V.21 signal's end
  for (uint8_t signal : signals)
    for (size_t at : {size_t(0), size_t(10), csi.size() - 1})
      for (const std::string how : {"queued", "on its way", "on its way, its rest lost"}) {
        const bool queued = how == "queued";
        close();
        open();
        enable();
        std::vector<std::vector<uint8_t>> packets = {relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++)};
        for (size_t i = 0; i < csi.size(); ++i)
          packets.push_back(i == at ? relayPacket(signal, {}, stamp++) : relayPacket(FAXR_PKT_V21, {csi[i]}, stamp++));
        packets.push_back(relayPacket(FAXR_PKT_V21_END_FINAL, {}, stamp++));
        if (how == "on its way, its rest lost") packets.resize(at + 2);
        if (queued) {
          world().toService.push_back(packets);
        } else {
          for (auto& p : packets) {  // one packet every 30 ms, as V.21 octets come
            world().toService.push_back({std::move(p)});
            world().toService.push_back({});
            world().toService.push_back({});
          }
        }
        for (int i = 0; i < 200; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
        runFrames(200);
        const std::string what = "signal " + std::to_string(signal) + " at octet " + std::to_string(at) + ", " + how;
        for (uint16_t modem : {uint16_t(0x0D08), uint16_t(0x1106)}) {
          good.clear();
          frames = decodeHdlc(commandBits(modem), &good);
          for (size_t k = 0; k < frames.size(); ++k) EXPECT_FALSE(good[k]) << what << ": " << ::testing::PrintToString(frames[k]);
        }
        if ((signal == FAXR_PKT_NOSIGNAL || signal >= FAXR_PKT_PAGEEND) && (at > 0 || how != "on its way, its rest lost")) {
          // the network's signal has ended inside a frame: flags no longer hold the line for the
          // rest of it, the modem listens again
          const auto last = std::find_if(world().commands.rbegin(), world().commands.rend(),
                                         [](const Cmd& c) { return c.header == 0x0D84; });
          ASSERT_NE(last, world().commands.rend()) << what;
          EXPECT_EQ(last->op1, 1) << what;
        }
      }
}

// A final frame whose octets stall on the way longer than three quarters of the delay allowance is
// cut there and ends bad at the line. Its rest, come after all, plays the frame again whole only
// where the T.38 service vouches that it follows the octets the frame stalled after (the peer's
// datagram carried both); else, or with another signal between, the rest opens no frame and
// nothing reaches the line good. Its first octet handed on altered, the service's copies that
// outvote it mend the octets kept, and the frame plays again right; mended while the line still
// hears the frame, it is cut there, and nothing reaches the line good.
TEST_F(FaxRelay, AFrameStalledOnTheWayPlaysAgainWholeOnlyWhereItsRestIsVouchedToFollow) {
  const std::vector<uint8_t> dcn = {0xFF, 0xC8, 0xDF};
  for (const std::string how : {"vouched", "not vouched", "a signal between", "mended", "mended while open"}) {
    close();
    open();
    enable();
    uint16_t stamp = 1;
    const bool altered = how.rfind("mended", 0) == 0;
    const std::vector<uint8_t> start = {altered ? uint8_t(0x7F) : uint8_t(0xFF), 0xC8};
    fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++), relayPacket(FAXR_PKT_V21, start, stamp++)});
    if (how == "mended while open") fromNetwork({relayPacket(FAXR_PKT_V21_MEND, {0, 0xFF}, stamp++)});
    for (int i = 0; i < 400; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
    runFrames(200);  // 2 s: past the 1.5 s stall the default allowance lets pass
    std::vector<std::vector<uint8_t>> rest;
    if (how == "a signal between") rest.push_back(relayPacket(FAXR_PKT_NOSIGNAL, {}, stamp++));
    if (how == "mended") rest.push_back(relayPacket(FAXR_PKT_V21_MEND, {0, 0xFF}, stamp++));
    rest.push_back(relayPacket(FAXR_PKT_V21, {0xDF}, stamp++));
    if (how != "not vouched") reinterpret_cast<HAPI_PKT_HDR*>(rest.back().data())->payloadTimeStampHigh = faxr::FAXR_PKT_FOLLOWS;
    rest.push_back(relayPacket(FAXR_PKT_V21_END_FINAL, {}, stamp++));
    fromNetwork(rest);
    runFrames(150);
    std::vector<bool> good;
    const auto frames = decodeHdlc(commandBits(0x0D08), &good);
    ASSERT_FALSE(frames.empty()) << how;
    EXPECT_EQ(frames[0], start) << how;
    EXPECT_FALSE(good[0]) << how << ": the frame cut for stalling";
    const int whole = int(std::count(good.begin(), good.end(), true));
    const bool playsAgain = how == "vouched" || how == "mended";
    EXPECT_EQ(whole, playsAgain ? 1 : 0) << how;
    if (playsAgain && whole == 1) {
      EXPECT_EQ(frames[std::find(good.begin(), good.end(), true) - good.begin()], dcn) << how;
    }
  }
}

// A frame from the network far longer than any control frame, coming faster than the line takes
// it (as a broken or hostile peer may send it, in the T.38 service's packets of 84 octets): the
// queue keeps at most 30 packets of it and drops and counts the rest, so that it cannot take the
// blocks every packet from the network needs; the frame is cut there and ends bad at the line,
// which is then let go; every block comes back and the next frame goes through whole.
TEST_F(FaxRelay, AFrameOverrunningTheQueueIsCutThereEndsBadAndLosesNoBlock) {
  enable();
  const int blocks = inst()->heapId->numFreeBuf;
  uint16_t stamp = 1;
  // its first 60 octets follow the flags to the modem
  std::vector<uint8_t> head = {0xFF, 0xC8, 0x31};
  while (head.size() < 60) head.push_back(uint8_t(head.size() * 7));
  world().toService.push_back(
      {relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++), relayPacket(FAXR_PKT_V21, head, stamp++)});
  for (int f = 0; f < 40; ++f) world().toService.push_back({});
  // then 5,040 more come while the modem is still sending those, eight packets a frame, and the end
  for (int c = 0; c < 60; c += 8) {
    std::vector<std::vector<uint8_t>> packets;
    for (int k = c; k < c + 8 && k < 60; ++k)
      packets.push_back(relayPacket(FAXR_PKT_V21, std::vector<uint8_t>(84, uint8_t(k)), stamp++));
    if (c + 8 >= 60) packets.push_back(relayPacket(FAXR_PKT_V21_END_FINAL, {}, stamp++));
    world().toService.push_back(packets);
  }
  size_t most = 0;
  for (int f = 0; f < 200; ++f) {  // the modem takes 8 bits a frame
    world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
    runFrames(1);
    most = std::max(most, size_t(MEM_QueueCount(&inst()->hsxv21jitbufq)));
    ASSERT_GT(inst()->heapId->numFreeBuf, 0) << "the pool ran dry at frame " << f;
  }
  EXPECT_LE(most, size_t(FAXR_MAX_JB_PACKETS));
  EXPECT_GE(inst()->hsxfaxrStats.egress.hsxOverrunCount, 1);
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxbadframeCount, 1);
  // the line has heard the frame's start end with a bad FCS, and the modem listens again
  std::vector<bool> good;
  auto frames = decodeHdlc(commandBits(0x0D08), &good);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], head);
  EXPECT_FALSE(good[0]);
  const auto last = std::find_if(world().commands.rbegin(), world().commands.rend(),
                                 [](const Cmd& c) { return c.header == 0x0D84; });
  ASSERT_NE(last, world().commands.rend());
  EXPECT_EQ(last->op1, 1);
  EXPECT_EQ(inst()->hsxfaxrv21.hsxstatus & (FAXR_V21_FRAMETX | FAXR_V21_NETFRAMEOPEN | FAXR_V21_TXBUSY), 0);
  EXPECT_EQ(MEM_QueueCount(&inst()->hsxv21jitbufq), 0u);
  EXPECT_EQ(inst()->heapId->numFreeBuf, blocks);
  // the next frame reaches the line whole
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++), relayPacket(FAXR_PKT_V21, {0xFF, 0xC8, 0x31}, stamp++),
               relayPacket(FAXR_PKT_V21_END_FINAL, {}, stamp++)});
  for (int i = 0; i < 80; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(80);
  good.clear();
  frames = decodeHdlc(commandBits(0x0D08), &good);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1], (std::vector<uint8_t>{0xFF, 0xC8, 0x31}));
  EXPECT_TRUE(good[1]);
  EXPECT_EQ(inst()->heapId->numFreeBuf, blocks);
}

TEST_F(FaxRelay, OwedFlagsOfAnyCountLeadTheFrameInBlocksAModemTakes) {
  // 85 flags owed: one block of 85 (680 bits), no block of 84 first
  ASSERT_EQ(command(FAXR_SETREG1_CMD, 12, 85), 0);
  enable();
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, 1), relayPacket(FAXR_PKT_V21, {0xFF, 0xC8, 0x31}, 2),
               relayPacket(FAXR_PKT_V21_END_FINAL, {}, 3)});
  for (int i = 0; i < 120; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(120);
  const std::vector<uint8_t> bits = commandBits(0x0D08);
  EXPECT_EQ(leadingFlags(bits), 85);
  const auto frames = decodeHdlc(bits);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (std::vector<uint8_t>{0xFF, 0xC8, 0x31}));
  for (const Cmd& c : world().commands) {
    if (c.header == 0x0D08) {
      EXPECT_LE(c.data.size(), 104u);
    }
  }
}

TEST_F(FaxRelay, AnEorFromTheNetworkIsNoPostPageMessageForThePageData) {
  enable();
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, 1), relayPacket(FAXR_PKT_V21, {0xFF, 0xC8, 0xF3, 0xF2}, 2),
               relayPacket(FAXR_PKT_V21_END_FINAL, {}, 3)});  // EOR-MPS
  for (int i = 0; i < 80; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(82);
  EXPECT_EQ(inst()->hsxfaxrstate.hsxpostmsgfcf1, HSFAXREOR);
  EXPECT_EQ(inst()->hsxfaxrstate.hsxpostmsgfcf2, 0xF2);
  EXPECT_EQ(inst()->hsxintstatus & FAXR_INT_POSTMSG, 0);
  EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITLOCALMSG);
}

TEST_F(FaxRelay, AnAbortWithAFrameStillQueuedLeavesTheLineQuietAndTheWaitTimed) {
  enable();
  // the datapump is still sending when a frame from the network arrives: it waits in the queue
  inst()->hsxfaxrfax.hsxstatus = uint16_t(inst()->hsxfaxrfax.hsxstatus | FAXR_FAX_TXBUSY);
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, 1), relayPacket(FAXR_PKT_V21, {0xFF, 0xC8, 0x31}, 2),
               relayPacket(FAXR_PKT_V21_END_FINAL, {}, 3)});
  ASSERT_EQ(MEM_QueueCount(&inst()->hsxv21jitbufq), 2u);
  inst()->hsxfaxrstate.hsxstate = HSFAXRABORT;  // e.g. the call is given up
  for (int i = 0; i < 20; ++i) world().modemEvents.push_back({Evt{0x0DC1, 64, 0, {}}});
  runFrames(20);
  ASSERT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAIT);
  ASSERT_EQ(hostEvents(FAXR_ABORT_EVT).size(), 1u);
  world().commands.clear();
  runFrames(50);
  EXPECT_TRUE(commandBits(0x0D08).empty());  // nothing left to send
  EXPECT_GE(inst()->hsxfaxrstate.hsxtimer, 500);  // and the wait is timed again
}

TEST_F(FaxRelay, ASilentFarEndGetsPreambleThenACommandRepeat) {
  // the local fax sends DCS (a command), or MCF (its answer); the far end does not answer. With a
  // larger delay allowance in the register the flags go on longer
  const std::vector<uint8_t> dcs = {0xFF, 0xC8, 0xC1, 0x00, 0x20, 0x00}, mcf = {0xFF, 0xC8, 0x31};
  for (const auto& [frame, delay] : {std::pair{dcs, 2000}, std::pair{dcs, 4000}, std::pair{mcf, 2000}}) {
    SCOPED_TRACE(testing::Message() << "delay " << delay << " FCF " << int(frame[2]));
    ASSERT_EQ(command(FAXR_ENABLE_CMD, 0, 0), 0);
    ASSERT_EQ(command(FAXR_SETREG1_CMD, 2, uint16_t(delay)), 0);
    enable();
    const auto before = inst()->hsxfaxrStats.egress.hsxSpoofTimeoutCount;
    lineBits(hdlcLineBits({frame}, 10));
    // skip what follows: the line's frame end stays noted; a network preamble starts spoofing
    inst()->hsxfaxrstate.hsxstate = HSFAXRWAITNETMSG;
    world().commands.clear();
    fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, 1)});
    runFrames(50);
    EXPECT_FALSE(commandBits(0x0D08).empty());  // flags keep the line fax waiting
    runFrames(150 + (delay - 2000) / 20);        // for a far end's preamble and more
    EXPECT_TRUE(decodeHdlc(commandBits(0x0D08)).empty());
    EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxSpoofTimeoutCount, before);
    // a line fax gives up the call after about 3 s of flags with no frame: after its command the
    // repeat comes before; after its answer there is no command to repeat, and the flags run to
    // the spoofing's own limit and stop with no frame after them (a terminal waiting for the page,
    // told to repeat a command it never sent, may drop the timer that would end its wait)
    runFrames(75);
    if (frame == mcf) {
      EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxSpoofTimeoutCount, before);
      runFrames(200);
      EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxSpoofTimeoutCount, before + 1);
      EXPECT_TRUE(decodeHdlc(commandBits(0x0D08)).empty());
      EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITLOCALMSG);
      continue;
    }
    const auto frames = decodeHdlc(commandBits(0x0D08));
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back(), (std::vector<uint8_t>{0xFF, 0xC8, HSFAXRCRP}));
    EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxSpoofTimeoutCount, before + 1);
    EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITLOCALMSG);
  }
}

// The far end's preamble outlasted the spoofing and the V.21 carrier dropped; its frame, coming
// after that, starts a burst of its own: flags lead it as they lead any burst, or the line's
// terminal, hearing the carrier only as the frame starts, misses the frame (a final DCN so missed
// leaves it waiting for good).
TEST_F(FaxRelay, AFrameAfterTheCarrierDroppedGoesWithAPreambleOfItsOwn) {
  enable();
  inst()->hsxfaxrstate.hsxstate = HSFAXRWAITNETMSG;
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, 1)});
  for (int i = 0; i < 420; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});  // the modem sends
  runFrames(420);  // past 2000 + 1000 + 1000 ms: the spoofing stops, its flags go, the carrier drops
  ASSERT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITLOCALMSG);
  ASSERT_FALSE(inst()->hsxfaxrv21.hsxstatus & FAXR_V21_TXBUSY);
  world().commands.clear();
  fromNetwork({relayPacket(FAXR_PKT_V21, {0xFF, 0xC8, 0xDF}, 2), relayPacket(FAXR_PKT_V21_END_FINAL, {}, 3)});
  for (int i = 0; i < 80; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(80);
  const std::vector<uint8_t> bits = commandBits(0x0D08);
  std::vector<bool> good;
  const auto frames = decodeHdlc(bits, &good);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (std::vector<uint8_t>{0xFF, 0xC8, 0xDF}));
  EXPECT_TRUE(good[0]);
  EXPECT_GE(leadingFlags(bits), 33);
}

TEST_F(FaxRelay, AFaxIsCompleteOnlyWhenTheLastPageWasConfirmedBeforeTheDisconnect) {
  enable();
  lineBits(hdlcLineBits({{0xFF, 0xC8, 0xF4}}, 10));  // EOP from the local fax
  EXPECT_EQ(inst()->hsxstatus & FAXR_EOP_SENT, FAXR_EOP_SENT);
  EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITNETMSG);
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, 1), relayPacket(FAXR_PKT_V21, {0xFF, 0xC8, 0x31}, 2),
               relayPacket(FAXR_PKT_V21_END_FINAL, {}, 3)});  // MCF
  for (int i = 0; i < 80; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(82);
  EXPECT_EQ(inst()->hsxstatus & FAXR_MCF_CONFIRMED, FAXR_MCF_CONFIRMED);
  EXPECT_EQ(inst()->hsxfaxrStats.ingress.hsxNumTxPages, 1);
  EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITLOCALMSG);
  lineBits(hdlcLineBits({{0xFF, 0xC8, 0xDF}}, 10));  // DCN
  const auto ab = hostEvents(FAXR_ABORT_EVT);
  ASSERT_EQ(ab.size(), 1u);
  EXPECT_EQ(ab[0].op1, 1);  // DCN seen
  EXPECT_EQ(ab[0].op2, 0x8060);
  EXPECT_EQ(inst()->hsxstatus & FAXR_COMPLETED, FAXR_COMPLETED);
  EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAIT);
  // the channel waits for the next fax; when that wait times out, no second fax is reported
  // complete and the first one's disconnect is no reason for it
  runFrames(3600);
  const auto again = hostEvents(FAXR_ABORT_EVT);
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[1].op1, 0);
  EXPECT_EQ(again[1].op2 & 0x8000, 0);
  // the line is still followed after the aborts, from its next burst's preamble on: an answering
  // fax's DIS reaches the network whole, though the disconnect's frame end left the receiver between frames
  world().sent.clear();
  const std::vector<uint8_t> dis = {0xFF, 0xC8, 0x01, 0x00, 0x00, 0x00};
  lineBits(hdlcLineBits({dis}, 10));
  const auto frames = framesToNetwork();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], dis);
  EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITNETMSG);
}

TEST_F(FaxRelay, AnEcmFaxEndingWithPpsEopIsCompleteInEitherDirection) {
  // the local fax sends: PPS-EOP, the far end confirms, the local fax disconnects
  enable();
  lineBits(hdlcLineBits({{0xFF, 0xC8, 0x7D, 0xF4, 0x00, 0x00, 0x00}}, 10));
  EXPECT_EQ(inst()->hsxstatus & FAXR_EOP_SENT, FAXR_EOP_SENT);
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, 1), relayPacket(FAXR_PKT_V21, {0xFF, 0xC8, 0x31}, 2),
               relayPacket(FAXR_PKT_V21_END_FINAL, {}, 3)});  // MCF
  for (int i = 0; i < 80; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(82);
  lineBits(hdlcLineBits({{0xFF, 0xC8, 0xDF}}, 10));  // DCN
  auto ab = hostEvents(FAXR_ABORT_EVT);
  ASSERT_EQ(ab.size(), 1u);
  EXPECT_EQ(ab[0].op2, 0x8060);

  // the far end sends: PPS-EOP, the local fax confirms, the far end disconnects
  ASSERT_EQ(command(FAXR_ENABLE_CMD, 0, 0), 0);
  enable();
  world().host.clear();
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, 11),
               relayPacket(FAXR_PKT_V21, {0xFF, 0xC8, 0xFD, 0xF4, 0x00, 0x00, 0x00}, 12),
               relayPacket(FAXR_PKT_V21_END_FINAL, {}, 13)});
  for (int i = 0; i < 120; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(122);
  EXPECT_EQ(inst()->hsxstatus & FAXR_EOP_SENT, FAXR_EOP_SENT);
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxNumRxPages, 1);
  lineBits(hdlcLineBits({{0xFF, 0xC8, 0x31}}, 10));  // MCF
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, 14), relayPacket(FAXR_PKT_V21, {0xFF, 0xC8, 0xDF}, 15),
               relayPacket(FAXR_PKT_V21_END_FINAL, {}, 16)});  // DCN
  for (int i = 0; i < 80; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(82);
  ab = hostEvents(FAXR_ABORT_EVT);
  ASSERT_EQ(ab.size(), 1u);
  EXPECT_EQ(ab[0].op2, 0x8060);
}

TEST_F(FaxRelay, EveryRepeatOfAPostPageCommandHasTheLinesAnswerRelayedAgain) {
  // the far end's MPS and the PPR to a PPS-MPS leave the relay waiting for the next page; a repeat
  // of the command from the network means the answer was lost there, and the local fax's answer to
  // each repeat goes out again
  const struct {
    std::vector<uint8_t> command, answer;
  } exchanges[] = {{{0xFF, 0xC8, 0xF2}, {0xFF, 0xC8, 0x31}},                          // MPS, MCF
                   {{0xFF, 0xC8, 0xFD, 0xF2, 0x00, 0x00, 0x00}, {0xFF, 0xC8, 0xBD, 0x00}}};  // PPS-MPS, PPR
  uint16_t stamp = 1;
  for (const auto& x : exchanges) {
    enable();
    for (int round = 0; round < 4; ++round) {
      world().sent.clear();
      fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++), relayPacket(FAXR_PKT_V21, x.command, stamp++),
                   relayPacket(FAXR_PKT_V21_END_FINAL, {}, stamp++)});
      for (int i = 0; i < 120; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
      runFrames(122);
      lineBits(hdlcLineBits({x.answer}, 10));
      const auto frames = framesToNetwork();
      ASSERT_EQ(frames.size(), 1u) << "round " << round;
      EXPECT_EQ(frames[0], x.answer);
      EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITNETDATA);
    }
    ASSERT_EQ(command(FAXR_ENABLE_CMD, 0, 0), 0);
  }
}

TEST_F(FaxRelay, AnUnconfirmedLastPageIsNoCompletedFax) {
  enable();
  lineBits(hdlcLineBits({{0xFF, 0xC8, 0xF4}}, 10));  // EOP, then DCN without an MCF between
  world().modemEvents.push_back({Evt{0x0DC9, 0, 0, {}}});  // the carrier dropped after the final frame
  lineBits(hdlcLineBits({{0xFF, 0xC8, 0xDF}}, 10));
  const auto ab = hostEvents(FAXR_ABORT_EVT);
  ASSERT_EQ(ab.size(), 1u);
  EXPECT_EQ(ab[0].op2 & 0x8000, 0);
}

TEST_F(FaxRelay, ALocallyJudgedTrainingCheckLetsTheCfrPassAndAnnouncesTheRate) {
  ASSERT_EQ(command(FAXR_SETREG1_CMD, 24, 1), 0);
  enable();
  lineBits(hdlcLineBits({{0xFF, 0xC8, 0xC1, 0x00, 0x04, 0x00}}, 10));  // DCS, V.17 14400
  EXPECT_EQ(inst()->hsxfaxrregs.hsxlocalrate, 10);
  EXPECT_EQ(count(0x1189, 1), 1u);  // the datapump judges the training check itself
  EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITLOCALTRAIN);
  world().modemEvents.push_back({Evt{0x11D4, 100, 0, {}}});  // 100 errors: under 170
  runFrames(2);
  EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITNETMSG);
  fromNetwork({relayPacket(FAXR_PKT_V21_PREAMBLE, {}, 1), relayPacket(FAXR_PKT_V21, {0xFF, 0xC8, 0x21}, 2),
               relayPacket(FAXR_PKT_V21_END_FINAL, {}, 3)});
  for (int i = 0; i < 80; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(82);
  const auto frames = decodeHdlc(commandBits(0x0D08));
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back(), (std::vector<uint8_t>{0xFF, 0xC8, 0x21}));
  const auto rate = hostEvents(FAXR_RATE_EVT);
  ASSERT_EQ(rate.size(), 1u);  // sent even with events off
  EXPECT_EQ(rate[0].op1, 10);
  EXPECT_EQ(inst()->hsxfaxrStats.ingress.hsxretrainCount, 0);
}

TEST_F(FaxRelay, PageDataFromTheLineGoesOutInServiceBitOrderWithTrainingAndEnd) {
  enable();
  lineBits(hdlcLineBits({{0xFF, 0xC8, 0xC1, 0x00, 0x20, 0x00}}, 10));  // DCS, V.29 9600
  ASSERT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITTRAINRX);
  world().sent.clear();
  Evt data{0x1151, 4, 0, std::vector<uint8_t>(4)};
  const uint16_t block[2] = {16, 0x0003};  // the first two line bits are ones
  std::memcpy(data.data.data(), block, 4);
  world().modemEvents.push_back({Evt{0x11DC, 0, 0, {}}});
  world().modemEvents.push_back({data});
  world().modemEvents.push_back({Evt{0x11D5, 0, 0, {}}});
  runFrames(4);
  ASSERT_EQ(world().sent.size(), 3u);
  EXPECT_EQ(world().sent[0].code, 7);  // V.29 9600 training
  EXPECT_EQ(world().sent[1].code, 26);  // V.29 9600 page data
  EXPECT_EQ(world().sent[1].octets, (std::vector<uint8_t>{0xC0, 0x00}));
  EXPECT_EQ(world().sent[2].code, FAXR_PKT_PAGEEND);
  EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITNETMSG);  // after the training check
}

// An ECM page from the line at V.29 9600: the relay receives its line bits from the datapump.
class EcmFromLine : public FaxRelay {
 protected:
  void SetUp() override {
    FaxRelay::SetUp();
    enable();
    lineBits(hdlcLineBits({{0xFF, 0xC8, 0xC1, 0x00, 0x20, 0x00}}, 10));  // DCS, V.29 9600
    ASSERT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITTRAINRX);
    inst()->hsxintstatus = uint16_t((inst()->hsxintstatus | FAXR_INT_ECM) & ~FAXR_INT_TCF);  // the page, not its TCF
    world().sent.clear();
    world().modemEvents.push_back({Evt{0x11DC, 0, 0, {}}});
    runFrames(2);
  }
  // Line bits as datapump data blocks of up to 64 bits, one a frame, then the end of the data.
  static void pageBits(const std::vector<uint8_t>& bits) {
    for (size_t at = 0; at < bits.size(); at += 64) {
      const size_t n = std::min<size_t>(64, bits.size() - at);
      uint16_t block[5] = {uint16_t(n), 0, 0, 0, 0};
      for (size_t i = 0; i < n; ++i)
        if (bits[at + i]) block[1 + i / 16] = uint16_t(block[1 + i / 16] | (1u << (i % 16)));
      Evt e{0x1151, 10, 0, std::vector<uint8_t>(10)};
      std::memcpy(e.data.data(), block, 10);
      world().modemEvents.push_back({e});
    }
    world().modemEvents.push_back({Evt{0x11D5, 0, 0, {}}});
    runFrames(long(bits.size() / 64) + 4);
  }
  // The packet codes sent, a run of frame data (V.29 9600 ECM data, 36) counted as one.
  static std::vector<uint8_t> frameCodes() {
    std::vector<uint8_t> c;
    for (const Packet& p : world().sent)
      if (c.empty() || !(p.code == 36 && c.back() == 36)) c.push_back(p.code);
    return c;
  }
};

// A frame whose beginning has gone to the network must end there, as bad when its end was never
// received: cut short by the end of the data, or aborted by seven ones.
TEST_F(EcmFromLine, AFrameCutShortByTheEndOfTheDataIsClosedAsBad) {
  std::vector<uint8_t> frame(40);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(0x11 * i);
  auto bits = hdlcLineBits({frame}, 8);
  bits.resize(bits.size() - 30);  // no FCS, no closing flag
  const uint16_t bad = inst()->hsxfaxrStats.ingress.hsxbadframeCount;
  pageBits(bits);
  // training, the frame's data, its bad end (V.29 9600 ECM end bad, no data), the page end
  EXPECT_EQ(frameCodes(), (std::vector<uint8_t>{7, 36, 56, FAXR_PKT_ECM_PAGEEND}));
  EXPECT_EQ(world().sent[world().sent.size() - 2].bits, 0);
  EXPECT_EQ(inst()->hsxfaxrStats.ingress.hsxbadframeCount, bad + 1);
}

TEST_F(EcmFromLine, AnAbortedFrameIsClosedAsBadAndTheNextOneGoesOutGood) {
  std::vector<uint8_t> frame(40);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(0x13 * i);
  auto bits = hdlcLineBits({frame}, 8);
  bits.resize(bits.size() - 30);
  bits.insert(bits.end(), 8, 1);  // abort
  const auto next = hdlcLineBits({frame}, 4);
  bits.insert(bits.end(), next.begin(), next.end());
  pageBits(bits);
  EXPECT_EQ(frameCodes(), (std::vector<uint8_t>{7, 36, 56, 36, 46, FAXR_PKT_ECM_PAGEEND}));
}

// ---- page data ----

class PageData : public FaxRelay {
 protected:
  // Starts a page at V.17 14400 (short training) and lets the datapump consume `consume` bits a frame.
  void startPage(uint8_t training = 16) {
    enable();
    fromNetwork({relayPacket(training, {}, stamp++)});
    runFrames(8);  // the datapump starts 76 ms after the V.21 modem last spoke
    ASSERT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRTXLOCALDATA);
    ASSERT_EQ(count(0x1185, 1), 1u);
  }
  void consume(uint16_t bits, long frames) {
    for (long i = 0; i < frames; ++i) world().modemEvents.push_back({Evt{0x11DD, bits, 0, {}}});
  }
  uint16_t stamp = 1;
  static void freeQueue() {
    while (void* p = MEM_QueueDeq(&inst()->hsxvfaxjitbufq)) hsfBmFree(p);
  }
  // Datapump commands as {bit count, ones} in order.
  static std::vector<std::pair<int, int>> pumpBlocks() {
    std::vector<std::pair<int, int>> v;
    for (const Cmd& c : world().commands) {
      if (c.header != 0x1106) continue;
      uint16_t n;
      std::memcpy(&n, c.data.data(), 2);
      int ones = 0;
      for (int i = 0; i < n; ++i) ones += (c.data[2 + 2 * (i / 16) + ((i % 16) / 8)] >> ((i % 16) % 8)) & 1;
      v.push_back({n, ones});
    }
    return v;
  }
  static std::vector<uint8_t> blockBits(size_t index) {
    size_t k = 0;
    for (const Cmd& c : world().commands) {
      if (c.header != 0x1106) continue;
      if (k++ != index) continue;
      uint16_t n;
      std::memcpy(&n, c.data.data(), 2);
      std::vector<uint8_t> bits;
      for (int i = 0; i < n; ++i) {
        uint16_t w;
        std::memcpy(&w, c.data.data() + 2 + 2 * (i / 16), 2);
        bits.push_back(uint8_t((w >> (i % 16)) & 1));
      }
      return bits;
    }
    return {};
  }
};

TEST_F(PageData, BuildsOutToNineHundredSixtyEightBitsBeforePageDataFlows) {
  startPage();
  consume(288, 40);
  for (int i = 0; i < 20; ++i) {
    world().toService.push_back({relayPacket(32, std::vector<uint8_t>(8, 0xFF), stamp++)});  // 64 bits a frame
    runFrames(1);
    const auto blocks = pumpBlocks();
    const bool data = std::any_of(blocks.begin(), blocks.end(), [](auto b) { return b.second > 0; });
    // 15 packets are 960 bits, still below the build-out; the 16th reaches it
    EXPECT_EQ(data, i >= 15) << "after packet " << i + 1;
  }
  // until then only fill of 288 zero bits went out
  for (auto b : pumpBlocks()) {
    if (b.second == 0) {
      EXPECT_EQ(b.first, 288);
    }
  }
}

TEST_F(PageData, FillGoesInFrontOfAnEndOfLineSplitAcrossWordsButNotInFrontOfTenZeros) {
  startPage();
  consume(288, 60);
  // enough page to leave the build-out, then a packet with eleven and more zeros across a word
  // boundary before a one, then one with exactly ten zeros before a one
  std::vector<std::vector<uint8_t>> burst;
  for (int i = 0; i < 16; ++i) burst.push_back(relayPacket(32, std::vector<uint8_t>(8, 0xFF), stamp++));
  burst.push_back(relayPacket(32, {0xFF, 0xF0, 0x00, 0x10}, stamp++));  // 4 + 11 zeros, the one at bit 27
  world().toService.push_back(burst);
  runFrames(40);
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxSpoofCount, 1);
  // the packets joined in the buffer; the part in front of the end of line goes on its own, then fill
  const auto blocks = pumpBlocks();
  size_t front = blocks.size();
  for (size_t i = 0; i + 1 < blocks.size(); ++i)
    if (blocks[i].second > 0 && blocks[i + 1] == std::pair<int, int>{288, 0}) front = i;
  ASSERT_LT(front, blocks.size());
  const auto fb = blockBits(front);
  ASSERT_GE(fb.size(), 16u);
  EXPECT_EQ(std::vector<uint8_t>(fb.end() - 16, fb.end()),
            (std::vector<uint8_t>{1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(fb.size(), 16u * 64 + 16 - 672);  // what the second buffered packet holds before the code
  // the page ends: the held code and what follows it go out after the fill
  world().toService.push_back({relayPacket(FAXR_PKT_PAGEEND, {}, stamp++)});
  runFrames(4);
  EXPECT_EQ(blocks[front + 1], (std::pair<int, int>{288, 0}));  // fill
  const auto after = pumpBlocks();
  size_t held = front + 1;
  while (held < after.size() && after[held].second == 0) ++held;
  ASSERT_LT(held, after.size());
  EXPECT_EQ(blockBits(held), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}));

  // ten zeros and a one are no end of line: the packet goes whole
  world().commands.clear();
  world().toService.push_back({relayPacket(32, {0xFF, 0xC0, 0x1F, 0xFF}, stamp++)});
  consume(288, 40);
  runFrames(40);
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxSpoofCount, 1);
}

// A page coming in long chunks with gaps between them (a peer that sends hundreds of octets at
// once) leaves the buffer empty again and again, and rows longer than what is left: every bit of
// the page still plays, and fill only lengthens the zeros in front of an end of line.
TEST_F(PageData, APageInLongChunksPlaysWholeWithFillOnlyBetweenRows) {
  startPage(5);  // V.27 4800: the buffer holds little more than a row
  std::vector<uint8_t> page;
  const auto eol = [&page] {
    page.insert(page.end(), 11, 0);
    page.push_back(1);
  };
  uint32_t seed = 15;
  for (int row = 0; row < 40; ++row) {
    eol();
    seed = seed * 1103515245u + 12345u;
    const int length = 200 + int((seed >> 8) % 4800);
    for (int i = 0; i < length; ++i) {
      seed = seed * 1103515245u + 12345u;
      page.push_back(i % 7 == 6 ? 1 : uint8_t((seed >> 16) & 1));  // never ten zeros in a row
    }
  }
  while ((page.size() + 12 * 6) % 8 != 0) page.push_back(0);
  for (int i = 0; i < 6; ++i) eol();
  std::vector<uint8_t> octets(page.size() / 8);
  for (size_t i = 0; i < page.size(); ++i) octets[i / 8] = uint8_t(octets[i / 8] | (page[i] << (7 - i % 8)));
  // chunks of 1 to 400 octets, each a frame later than the datapump would need it
  for (size_t at = 0, n = 0; at < octets.size(); at += n) {
    seed = seed * 1103515245u + 12345u;
    n = std::min<size_t>(1 + (seed >> 8) % 400, octets.size() - at);
    std::vector<std::vector<uint8_t>> chunk;
    for (size_t p = at; p < at + n; p += 84)
      chunk.push_back(relayPacket(32, std::vector<uint8_t>(octets.begin() + long(p), octets.begin() + long(std::min(p + 84, at + n))), stamp++));
    world().toService.push_back(chunk);
    for (size_t f = 0; f < n * 8 / 96 + 1; ++f) world().toService.push_back({});
  }
  world().toService.push_back({relayPacket(FAXR_PKT_PAGEEND, {}, stamp++)});
  consume(96, long(page.size() / 96) + 200);
  runFrames(long(page.size() / 96) + 200);
  std::vector<uint8_t> played;
  for (size_t i = 0; i < pumpBlocks().size(); ++i) {
    const auto b = blockBits(i);
    played.insert(played.end(), b.begin(), b.end());
  }
  // zeros in front of a one past the ten that any code word may hold count as one run of eleven
  const auto rows = [](const std::vector<uint8_t>& bits) {
    std::vector<uint8_t> out;
    size_t zeros = 0;
    for (uint8_t b : bits) {
      if (b == 0) {
        ++zeros;
        continue;
      }
      out.insert(out.end(), zeros > 11 ? 11 : zeros, 0);
      out.push_back(1);
      zeros = 0;
    }
    return out;
  };
  EXPECT_EQ(rows(played), rows(page));
}

// The page-data buffer moves and scans bits a word at a time; bit by bit is what it must equal:
// runs at every alignment, the bits around a run untouched, a run moved towards the front of its
// own words, and end-of-line codes whose zeros cross words, whole zero words and packets (their
// 16-bit count wrapping too).
TEST(PageBits, WordAtATimeCopiesAndEndOfLineSearchEqualBitByBit) {
  auto bit = [](const std::vector<uint16_t>& w, int i) { return (w[size_t(i / 16)] >> (15 - i % 16)) & 1; };
  uint32_t seed = 12345;
  auto rnd = [&] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
  for (int trial = 0; trial < 3000; ++trial) {
    std::vector<uint16_t> src(44), dst(44);
    for (auto& w : src) w = uint16_t(rnd());
    for (auto& w : dst) w = uint16_t(rnd());
    const int n = int(rnd() % 600), srcAt = int(rnd() % 80), dstAt = int(rnd() % 80);
    std::vector<uint16_t> want = dst;
    for (int i = 0; i < n; ++i) {
      const uint16_t m = uint16_t(0x8000 >> ((dstAt + i) % 16));
      uint16_t& w = want[size_t((dstAt + i) / 16)];
      w = uint16_t(bit(src, srcAt + i) ? w | m : w & ~m);
    }
    faxr::copyBits(dst.data(), dstAt, src.data(), srcAt, n);
    ASSERT_EQ(dst, want) << "trial " << trial;
    // in place, towards the front
    want = src;
    for (int i = 0; i < n; ++i) {
      const uint16_t m = uint16_t(0x8000 >> (i % 16));
      uint16_t& w = want[size_t(i / 16)];
      w = uint16_t(bit(want, srcAt + 1 + i) ? w | m : w & ~m);
    }
    faxr::copyBits(src.data(), 0, src.data(), srcAt + 1, n);
    ASSERT_EQ(src, want) << "trial " << trial;

    // sparse ones, so that runs of ten, eleven and more zeros and whole zero words are common
    std::vector<uint16_t> page(44);
    for (auto& w : page)
      for (int b = 0; b < 16; ++b)
        if (rnd() % 9 == 0) w = uint16_t(w | (0x8000 >> b));
    // zeros before: a few, or so many that the count wraps
    uint16_t zeros = uint16_t(trial % 4 == 0 ? 0xFFF0 + rnd() % 16 : rnd() % 14), refZeros = zeros;
    const int bits = int(rnd() % 700);
    int refEnd = -1;
    for (int i = 0; i < bits && refEnd < 0; ++i) {
      if (!bit(page, i))
        ++refZeros;
      else if (refZeros > 10)
        refEnd = i, refZeros = 0;
      else
        refZeros = 0;
    }
    ASSERT_EQ(faxr::findEOLEnd(page.data(), bits, zeros), refEnd) << "trial " << trial;
    ASSERT_EQ(zeros, refZeros) << "trial " << trial;
  }
}

TEST_F(PageData, AnEcmPageIsPaddedWithFlagsAndItsFramesGetTheirCheckSequence) {
  startPage();
  inst()->hsxintstatus = uint16_t(inst()->hsxintstatus | FAXR_INT_ECM);
  consume(288, 200);
  runFrames(5);
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxSpoofCount, 1);  // one gap, counted once
  std::vector<uint8_t> frame = {0xFF, 0xC0, 0x60, 0x00};
  for (int i = 0; i < 64; ++i) frame.push_back(uint8_t(i * 7));
  world().toService.push_back({relayPacket(42, frame, stamp++), relayPacket(52, {}, stamp++)});
  runFrames(20);
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxSpoofCount, 2);  // and the gap after it
  std::vector<bool> good;
  const auto frames = decodeHdlc(commandBits(0x1106), &good);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], frame);
  EXPECT_TRUE(good[0]);
  // a chunk of 84 octets of ones grows by zero insertion past one block to the datapump
  const std::vector<uint8_t> ones(84, 0xFF);
  world().toService.push_back({relayPacket(42, ones, stamp++), relayPacket(52, {}, stamp++)});
  runFrames(20);
  good.clear();
  const auto big = decodeHdlc(commandBits(0x1106), &good);
  ASSERT_EQ(big.size(), 2u);
  EXPECT_EQ(big[1], ones);
  EXPECT_TRUE(good[1]);
  // frames of many lengths, their octets heavy with ones, come back whole: zeros go in wherever
  // five ones meet, within octets, across them and across the blocks to the datapump
  consume(288, 400);
  std::vector<std::vector<uint8_t>> sent;
  uint32_t seed = 7;
  for (int k = 0; k < 48; ++k) {
    std::vector<uint8_t> f(size_t(1 + k * 7 % 84));
    for (auto& o : f) {
      seed = seed * 1103515245u + 12345u;
      o = uint8_t((seed >> 16) | (seed >> 9));
    }
    sent.push_back(f);
    world().toService.push_back({relayPacket(42, f, stamp++), relayPacket(52, {}, stamp++)});
    runFrames(4);
  }
  runFrames(20);
  good.clear();
  const auto all = decodeHdlc(commandBits(0x1106), &good);
  ASSERT_EQ(all.size(), 2 + sent.size());
  for (size_t k = 0; k < sent.size(); ++k) {
    EXPECT_EQ(all[2 + k], sent[k]) << "frame " << k;
    EXPECT_TRUE(good[2 + k]) << "frame " << k;
  }
  for (const Cmd& c : world().commands) {
    if (c.header == 0x1106) {
      EXPECT_LE(c.data.size(), 104u);
    }
  }
  // the network ends the page: playout stops and the datapump is let run dry
  world().toService.push_back({relayPacket(FAXR_PKT_ECM_PAGEEND, {}, stamp++)});
  world().modemEvents.clear();
  world().modemEvents.push_back({Evt{0x11D8, 0, 0, {}}});
  runFrames(12);
  EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRTXLOCALPOSTMSG);
}

TEST_F(PageData, AnEcmFrameWhoseEndNeverCameIsClosedBadAtThePageEnd) {
  startPage();
  inst()->hsxintstatus = uint16_t(inst()->hsxintstatus | FAXR_INT_ECM);
  consume(288, 10);
  runFrames(5);  // flags while no frame waits
  std::vector<uint8_t> frame = {0xFF, 0xC0, 0x60, 0x00};
  for (int i = 0; i < 40; ++i) frame.push_back(uint8_t(i * 3));
  // data whose last octets read as its FCS, then the page end: no frame end in between
  world().toService.push_back({relayPacket(42, withOwnFcs(frame), stamp++), relayPacket(FAXR_PKT_ECM_PAGEEND, {}, stamp++)});
  const uint16_t bad = inst()->hsxfaxrStats.egress.hsxbadframeCount;
  consume(288, 20);
  runFrames(20);
  std::vector<bool> good;
  const auto frames = decodeHdlc(commandBits(0x1106), &good);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_FALSE(good[0]);
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxbadframeCount, bad + 1);
}

TEST_F(PageData, LineFramesAreRelayedWhateverTheNetworkPlaysAndAPreambleAnnouncedIsEnded) {
  // a training check whose DCS the network lost plays as page data while the local fax repeats its
  // CSI and DIS: they reach the network while the data plays and while the relay waits for the
  // post-page message that will never come
  const std::vector<uint8_t> csi = {0xFF, 0xC0, 0x02, 0x31, 0x32, 0x33}, dis = {0xFF, 0xC8, 0x01, 0x00, 0x46, 0x80};
  for (bool pageEnded : {false, true}) {
    startPage();
    consume(288, 20);
    world().toService.push_back({relayPacket(32, std::vector<uint8_t>(36, 0), stamp++)});
    runFrames(4);
    if (pageEnded) {
      world().toService.push_back({relayPacket(FAXR_PKT_PAGEEND, {}, stamp++)});
      world().modemEvents.clear();
      world().modemEvents.push_back({Evt{0x11D8, 0, 0, {}}});
      runFrames(12);
      ASSERT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRTXLOCALPOSTMSG);
    }
    world().sent.clear();
    world().modemEvents.clear();
    lineBits(hdlcLineBits({csi, dis}, 10));
    EXPECT_EQ(framesToNetwork(), (std::vector<std::vector<uint8_t>>{csi, dis})) << "page ended: " << pageEnded;
    EXPECT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRWAITNETMSG);
    ASSERT_EQ(command(FAXR_ENABLE_CMD, 0, 0), 0);
    world().commands.clear();
  }
  // ECM page data takes the HDLC layer from the line's frames: a preamble announced to the network,
  // alone or with part of a frame, is ended there when the page data starts
  for (bool partFrame : {false, true}) {
    enable();
    auto bits = hdlcLineBits({csi}, 10);
    bits.resize(partFrame ? bits.size() - 16 : 80);
    world().sent.clear();
    lineBits(bits);
    inst()->hsxintstatus = uint16_t(inst()->hsxintstatus | FAXR_INT_ECM);
    fromNetwork({relayPacket(16, {}, stamp++)});
    runFrames(8);
    ASSERT_EQ(inst()->hsxfaxrstate.hsxstate, HSFAXRTXLOCALDATA);
    std::vector<uint8_t> ends;
    framesToNetwork(&ends);
    EXPECT_EQ(ends, partFrame ? std::vector<uint8_t>{FAXR_PKT_V21_END_BAD} : std::vector<uint8_t>{});
    const auto sent = codes();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), FAXR_PKT_V21_PREAMBLE);
    EXPECT_EQ(sent.back(), 0) << "no-signal after what was announced";
    ASSERT_EQ(command(FAXR_ENABLE_CMD, 0, 0), 0);
  }
}

// A V.21 frame from the network behind the page waits for the page's modem to finish: sent in the
// tick the modem reports its last bits gone, it would go to that modem, and the terminal would find
// it inside the next page; it goes out on V.21.
TEST_F(PageData, AControlFrameBehindThePageGoesOutOnV21) {
  const std::vector<uint8_t> pps = {0xFF, 0xC8, 0x7D, 0x4F, 0x00, 0x00, 0x06};
  startPage();
  inst()->hsxintstatus = uint16_t(inst()->hsxintstatus | FAXR_INT_ECM);
  consume(288, 20);
  fromNetwork({relayPacket(42, {0xFF, 0xC0, 0x60, 0x00, 0x11, 0x22}, stamp++), relayPacket(52, {}, stamp++),
               relayPacket(FAXR_PKT_ECM_PAGEEND, {}, stamp++), relayPacket(FAXR_PKT_V21_PREAMBLE, {}, stamp++),
               relayPacket(FAXR_PKT_V21, pps, stamp++), relayPacket(FAXR_PKT_V21_END_FINAL, {}, stamp++)});
  runFrames(20);
  world().modemEvents.clear();
  world().modemEvents.push_back({Evt{0x11D8, 0, 0, {}}});  // the page's last bits have gone
  for (int i = 0; i < 200; ++i) world().modemEvents.push_back({Evt{0x0DC1, 8, 0, {}}});
  runFrames(200);
  std::vector<bool> good;
  for (const auto& f : decodeHdlc(commandBits(0x1106), &good)) EXPECT_NE(f, pps) << "on the page's modem";
  const auto v21 = decodeHdlc(commandBits(0x0D08), &good);
  ASSERT_EQ(v21.size(), 1u);
  EXPECT_EQ(v21[0], pps);
  EXPECT_TRUE(good[0]);
}

TEST_F(PageData, AnEcmFrameLongerThanItsModeAllowsOrCutByANewSignalNeverEndsGood) {
  startPage();
  inst()->hsxintstatus = uint16_t(inst()->hsxintstatus | FAXR_INT_ECM);
  consume(288, 400);
  runFrames(5);  // flags while no frame waits
  // an FCD frame of `octets` octets in chunks of 84, then its end (`end`: good, or bad as the far
  // end found it)
  auto queueFrame = [&](size_t octets, uint8_t number, bool withEnd = true, uint8_t end = 52) {
    std::vector<uint8_t> frame = {0xFF, 0xC0, 0x60, number};
    while (frame.size() < octets) frame.push_back(uint8_t(frame.size() * 5 + number));
    std::vector<std::vector<uint8_t>> packets;
    for (size_t at = 0; at < frame.size(); at += 84)
      packets.push_back(relayPacket(42, std::vector<uint8_t>(frame.begin() + long(at), frame.begin() + long(std::min(at + 84, frame.size()))), stamp++));
    if (withEnd) packets.push_back(relayPacket(end, {}, stamp++));
    world().toService.push_back(packets);
    runFrames(12);
    return frame;
  };
  auto played = [&](std::vector<bool>* good) {
    good->clear();
    return decodeHdlc(commandBits(0x1106), good);
  };
  std::vector<bool> good;
  // 256 octets of data and a four-octet header: the most a frame has; one more cannot be a frame,
  // and what follows the bound up to the frame's end is dropped, not played as a frame of its own,
  // nor is that end when the far end reports it bad as well
  const auto longest = queueFrame(260, 1);
  queueFrame(261, 2, true, 62);
  const auto next = queueFrame(30, 3);
  auto frames = played(&good);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0], longest);
  EXPECT_TRUE(good[0]);
  EXPECT_FALSE(good[1]);
  EXPECT_EQ(frames[2], next);
  EXPECT_TRUE(good[2]);
  // with 64-octet frames the bound is 68 octets
  inst()->hsxintstatus = uint16_t(inst()->hsxintstatus | FAXR_INT_ECM64);
  const auto longestSmall = queueFrame(68, 4);
  uint16_t bad = inst()->hsxfaxrStats.egress.hsxbadframeCount;
  queueFrame(69, 5, true, 62);  // one chunk over the bound: none of it goes to the line, its end neither
  frames = played(&good);
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[3], longestSmall);
  EXPECT_TRUE(good[3]);
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxbadframeCount, bad + 1);
  // an indicator in the middle of a frame (queued, or already playing) ends it bad, and the rest
  // of that frame up to its end never reaches the line, its end reported bad by the far end too:
  // a frame ends bad once
  bad = inst()->hsxfaxrStats.egress.hsxbadframeCount;
  for (bool queued : {true, false}) {
    queueFrame(40, 6, false);
    if (queued) {
      world().toService.push_back({relayPacket(0, {}, stamp++), relayPacket(42, {0x11, 0x22, 0x33}, stamp++),
                                   relayPacket(62, {}, stamp++)});
    } else {
      runFrames(12);
      world().toService.push_back({relayPacket(0, {}, stamp++)});
      runFrames(2);
      world().toService.push_back({relayPacket(42, {0x11, 0x22, 0x33}, stamp++), relayPacket(62, {}, stamp++)});
    }
    runFrames(12);
    queueFrame(30, 7);
  }
  frames = played(&good);
  ASSERT_EQ(frames.size(), 8u);
  for (size_t i : {4u, 6u}) {
    EXPECT_EQ(frames[i].size(), 40u);
    EXPECT_FALSE(good[i]);
    EXPECT_TRUE(good[i + 1]);
    EXPECT_EQ(frames[i + 1].size(), 30u);
  }
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxbadframeCount, bad + 2);
  // between two frames it may stand for the next frame's start: that frame never reaches the line
  const auto before = queueFrame(30, 8);
  world().toService.push_back({relayPacket(0, {}, stamp++), relayPacket(42, {0x11, 0x22, 0x33}, stamp++),
                               relayPacket(52, {}, stamp++)});
  runFrames(12);
  const auto after = queueFrame(30, 9);
  frames = played(&good);
  ASSERT_EQ(frames.size(), 10u);
  EXPECT_EQ(frames[8], before);
  EXPECT_EQ(frames[9], after);
  EXPECT_TRUE(good[8] && good[9]);
  // a signal other than an indicator cuts it the same: V.21 data, the end of page data of either
  // kind, the end of a V.21 signal
  for (uint8_t signal : std::initializer_list<uint8_t>{FAXR_PKT_V21, FAXR_PKT_PAGEEND, FAXR_PKT_ECM_PAGEEND, 65})
    for (bool queued : {true, false}) {
      ASSERT_EQ(command(FAXR_ENABLE_CMD, 0, 0), 0);
      world().commands.clear();
      startPage();
      inst()->hsxintstatus = uint16_t(inst()->hsxintstatus | FAXR_INT_ECM);
      consume(288, 400);
      runFrames(5);
      queueFrame(40, 10, false);
      const auto cutBy = signal == FAXR_PKT_V21 ? relayPacket(signal, {0x44}, stamp++) : relayPacket(signal, {}, stamp++);
      if (queued) {
        world().toService.push_back({cutBy, relayPacket(42, {0x11, 0x22, 0x33}, stamp++), relayPacket(52, {}, stamp++)});
      } else {
        runFrames(12);
        world().toService.push_back({cutBy});
        runFrames(2);
        world().toService.push_back({relayPacket(42, {0x11, 0x22, 0x33}, stamp++), relayPacket(52, {}, stamp++)});
      }
      runFrames(12);
      const auto whole = queueFrame(30, 11);
      frames = played(&good);
      ASSERT_EQ(frames.size(), 2u) << "signal " << int(signal) << (queued ? ", queued" : ", playing");
      EXPECT_EQ(frames[0].size(), 40u) << "signal " << int(signal);
      EXPECT_FALSE(good[0]) << "signal " << int(signal) << (queued ? ", queued" : ", playing");
      EXPECT_EQ(frames[1], whole);
      EXPECT_TRUE(good[1]);
    }
}

TEST_F(PageData, AFullBufferDropsAndCountsInsteadOfGrowing) {
  startPage();
  std::vector<std::vector<uint8_t>> burst;
  inst()->hsxfaxrfax.hsxstatus = uint16_t(inst()->hsxfaxrfax.hsxstatus | FAXR_FAX_ECMEND);
  for (int i = 0; i < 40; ++i) burst.push_back(relayPacket(i % 2 ? 52 : 42, {0x11, 0x22}, stamp++));
  inst()->hsxintstatus = uint16_t(inst()->hsxintstatus | FAXR_INT_ECM);
  world().toService.push_back(burst);
  runFrames(1);
  EXPECT_LE(MEM_QueueCount(&inst()->hsxvfaxjitbufq), 30u);
  EXPECT_GE(inst()->hsxfaxrStats.egress.hsxOverrunCount, 1);
  // data after the datapump has finished the page is dropped, but it overran nothing
  const uint16_t overruns = inst()->hsxfaxrStats.egress.hsxOverrunCount;
  freeQueue();
  inst()->hsxfaxrfax.hsxstatus = uint16_t(inst()->hsxfaxrfax.hsxstatus | FAXR_FAX_POSTMSG);
  world().toService.push_back({relayPacket(42, {0x11, 0x22}, stamp++)});
  runFrames(1);
  EXPECT_EQ(MEM_QueueCount(&inst()->hsxvfaxjitbufq), 0u);
  EXPECT_EQ(inst()->hsxfaxrStats.egress.hsxOverrunCount, overruns);
}

}  // namespace
