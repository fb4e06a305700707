// The whole-call checks and their named exceptions, each fed a made-up call: a few packets, frames
// and datagrams that show one thing. Each case fails when its check is weakened.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "faxr_call.h"

namespace {

using namespace faxcall;

using Bytes = std::vector<uint8_t>;

// Frames as the terminals log them; IFP packets carry their bits in the other order.
const Bytes kDcn{0xFF, 0x13, 0xFA}, kDis{0xFF, 0x13, 0x80, 0x00, 0x46}, kDcs{0xFF, 0x13, 0x83, 0x00, 0x46, 0x20};
const Bytes kPreamble{0x06}, kCed{0x04}, kNoSignal{0x00};
Bytes v21(const Bytes& logged, int fieldType = 0) { return ifpOf(0xC0, {{0, fieldType, bitReversed(logged)}}); }
const Bytes kFcsOk = ifpOf(0xC0, {{0, 2, {}}});

// A peer that numbers its packets from 0 and sends each with `redundancy` copies of the ones before.
struct MadeUpPeer {
  explicit MadeUpPeer(int r = 0) : redundancy(r) {}
  int redundancy;
  std::vector<NumberedIfp> sent;
  std::vector<Bytes> datagrams;
  uint16_t skipped = 0;  // numbers the peer's counter skipped so far
  void send(const Bytes& ifp) {
    Datagram d{uint16_t(sent.size() + skipped), ifp, {}};
    for (size_t k = 0; k < size_t(redundancy) && k < sent.size(); ++k) d.secondaries.push_back(sent[sent.size() - 1 - k].second);
    sent.emplace_back(d.seq, ifp);
    datagrams.push_back(buildDatagram(d));
  }
  // the DCN in two data packets and an FCS-only packet, after a preamble
  void sendDcn() {
    send(kPreamble);
    send(v21({0xFF, 0x13}));
    send(v21({0xFA}));
    send(kFcsOk);
  }
};

// ---- frames ----

TEST(FaxCallChecks, EveryAcceptedFrameNotSentIsForgedButTheGatewaysOwnRewrites) {
  const FrameLog tx{{kDis, kDcs}, {}};
  Bytes otherDis = kDis, otherDcs = kDcs;
  otherDis[4] = 0x00;  // capabilities rewritten
  otherDcs[5] = 0x21;  // address, control and FCF as sent, a later octet not
  EXPECT_TRUE(forgedFrames(tx, FrameLog{{}, {kDis, kDcs, otherDis, {0xFF, 0x13, 0x1A}}}).empty());
  EXPECT_EQ(forgedFrames(tx, FrameLog{{}, {otherDcs}}).size(), 1u);
  EXPECT_EQ(forgedFrameOctets(tx, FrameLog{{}, {kDis, otherDcs}}), std::vector<Bytes>{otherDcs});
  EXPECT_EQ(forgedFrames(tx, FrameLog{{}, {Bytes(kDcs.begin(), kDcs.end() - 1)}}).size(), 1u) << "a frame cut short";
}

TEST(FaxCallChecks, AFrameIsCarriedOnlyWholeAndClosedGood) {
  EXPECT_TRUE(carriesV21Frame({kPreamble, v21({0xFF, 0x13}), v21({0xFA}), kFcsOk}, kDcn));
  EXPECT_TRUE(carriesV21Frame({v21(kDcn, 2)}, kDcn));
  EXPECT_FALSE(carriesV21Frame({v21({0xFF, 0x13}), v21({0xFA}), ifpOf(0xC0, {{0, 3, {}}})}, kDcn)) << "FCS bad";
  EXPECT_FALSE(carriesV21Frame({v21({0xFF, 0x13}), kPreamble, v21({0xFA}), kFcsOk}, kDcn)) << "a signal between";
  EXPECT_FALSE(carriesV21Frame({v21({0xFF, 0x13}), kFcsOk}, kDcn)) << "a part";
  const std::vector<Bytes> ecm = {Bytes{1, 2}};
  EXPECT_EQ(goodHdlcFrames({ifpOf(0xC8, {{4, 0, {1, 2}}, {4, 2, {}}}), v21(kDcn, 2)}, false), ecm);
}

TEST(FaxCallChecks, TheLastFrameIsPlacedWithItsClosingPacket) {
  MadeUpPeer p;
  p.send(kPreamble);
  p.send(v21(kDis, 2));
  p.sendDcn();
  const V21FramePlace at = lastV21Frame(p.sent);
  EXPECT_EQ(at.previous, 1);
  EXPECT_EQ(at.first, 3);
  EXPECT_EQ(at.last, 4);
  EXPECT_EQ(at.closing, 5);
  p.send(kNoSignal);
  EXPECT_EQ(lastV21Frame(p.sent).closing, 5);
  EXPECT_EQ(lastV21Frame({{0, v21(kDcn)}, {1, kNoSignal}}).closing, -1) << "never closed";
}

// What arrived under a number is every arrival, primaries and copies; the frame's closing packet
// is one of its packets.
TEST(FaxCallChecks, APacketArrivedWhenAnyDatagramBroughtIt) {
  MadeUpPeer p(1);
  p.sendDcn();
  p.send(kNoSignal);
  PacketsArrived at;
  for (size_t i : {0, 2, 4}) at.take(p.datagrams[i]);  // packet 1 only as the copy in datagram 2, packet 3 in datagram 4
  EXPECT_EQ(firstPacketNotArrived(at, p.sent, 0, 3), -1);
  EXPECT_EQ(at.firstCarrier.at(1), 2);
  PacketsArrived noFcs;
  for (size_t i : {0, 1, 2}) noFcs.take(p.datagrams[i]);
  EXPECT_EQ(firstPacketNotArrived(noFcs, p.sent, 0, 3), 3);
  PacketsArrived flipped;  // packet 2's datagram under another number: nothing came under its own
  Datagram d;
  ASSERT_TRUE(parseDatagram(p.datagrams[2], &d));
  d.seq = uint16_t(d.seq ^ 0x100);
  d.secondaries.clear();
  for (size_t i : {0, 1}) flipped.take(p.datagrams[i]);
  flipped.take(buildDatagram(d));
  EXPECT_EQ(firstPacketNotArrived(flipped, p.sent, 0, 3), 2);
}

TEST(FaxCallChecks, ADatagramShortOfTheCopiesItsRedundancyAsksIsFound) {
  MadeUpPeer p(2);
  p.sendDcn();
  EXPECT_EQ(firstDatagramShortOfCopies(p.datagrams, 2, 2), -1);
  EXPECT_EQ(firstDatagramShortOfCopies(p.datagrams, 3, 3), 3) << "fewer copies than asked once three were sent";
  Datagram d;
  ASSERT_TRUE(parseDatagram(p.datagrams[3], &d));
  d.secondaries.pop_back();
  std::vector<Bytes> shortOne = p.datagrams;
  shortOne[3] = buildDatagram(d);
  EXPECT_EQ(firstDatagramShortOfCopies(shortOne, 2, 2), 3);
  d.secondaries = {kDis, kDis};
  shortOne[3] = buildDatagram(d);
  EXPECT_EQ(firstDatagramShortOfCopies(shortOne, 2, 2), 3) << "copies of packets never sent";
  MadeUpPeer none(0);  // indicators without copies where the redundancy asks one
  none.sendDcn();
  EXPECT_EQ(firstDatagramShortOfCopies(none.datagrams, 1, 0), 1);
}

// ---- a call judged ----

// The T.38 terminal sent its DCN and ended; the audio terminal waits for it. Spandsp's call ended.
struct AudioWaits {
  Case c{"made_up", kV17, true, true, 0, false};
  Outcome o;
  MadeUpPeer peer;
  explicit AudioWaits(int redundancy) : peer(redundancy) {
    c.redundancy = redundancy;
    o.t38Status = 0, o.audioStatus = -1, o.hung = true;
    o.t38Frames.sent = {kDis, kDcn};
    o.audioFrames.accepted = {kDis};
    peer.send(kPreamble);
    peer.send(v21(kDis, 2));
    peer.sendDcn();
    o.t38Packets = peer.sent;
  }
  // The peer's next datagram (5) as the network altered it: its copy of the DCN's second packet
  // (4) carries 0xFB; noted as altered on the way. False when datagram 5 does not parse.
  bool alterTheDcnsSecondPacketInItsCopy(Datagram& d) {
    peer.send(kNoSignal);
    o.t38Packets = peer.sent;
    if (!parseDatagram(peer.datagrams[5], &d)) return false;
    d.secondaries[0] = v21({0xFB});
    o.alteredCopies = {{4, d.secondaries[0]}};
    return true;
  }
  void arrive(std::initializer_list<size_t> datagrams) {
    for (size_t i : datagrams) o.atGateway.take(peer.datagrams[i]);
  }
  std::vector<std::string> checked(Verdict* out = nullptr) {
    const Verdict v = judge(c, o);
    if (out != nullptr) *out = v;
    Verdict theirs;
    theirs.completed = true;
    return violations(v, theirs, false);
  }
};

TEST(FaxCallChecks, AWaitIsExcusedOnlyForAReasonTheCallShows) {
  AudioWaits all(1);
  all.arrive({0, 1, 2, 3, 4, 5});
  EXPECT_EQ(all.checked().size(), 1u) << "every packet arrived: the wait is the gateway's";
  AudioWaits byCopy(1);
  byCopy.arrive({0, 1, 2, 4, 5});  // the DCN's first octets only as the copy in the next datagram
  EXPECT_EQ(byCopy.checked().size(), 1u) << "a packet that came through a copy arrived";
  AudioWaits lost(1);
  lost.arrive({0, 1, 2, 5});
  Verdict v;
  EXPECT_TRUE(lost.checked(&v).empty());
  EXPECT_TRUE(v.lastFrameLostByTheNetwork);
  EXPECT_NE(v.why.find("number 3"), std::string::npos) << v.why;
  AudioWaits noFcs(0);
  noFcs.arrive({0, 1, 2, 3, 4});
  EXPECT_TRUE(noFcs.checked(&v).empty()) << "the closing FCS-only packet never came";
  EXPECT_NE(v.why.find("closing FCS"), std::string::npos) << v.why;
  AudioWaits undelimited(0);
  undelimited.arrive({0, 1, 3, 4, 5});
  EXPECT_TRUE(undelimited.checked(&v).empty());
  EXPECT_TRUE(v.lastFrameUndelimited);
  AudioWaits skip(0);  // the peer's counter skipped two inside its DCN, and nothing came under them
  skip.peer = MadeUpPeer(0);
  for (const Bytes& ifp : {kPreamble, v21(kDis, 2), kPreamble, v21({0xFF, 0x13})}) skip.peer.send(ifp);
  skip.peer.skipped = 2;
  skip.peer.send(v21({0xFA}));
  skip.peer.send(kFcsOk);
  skip.o.t38Packets = skip.peer.sent;
  skip.arrive({0, 1, 2, 3, 4, 5});
  EXPECT_TRUE(skip.checked(&v).empty());
  EXPECT_TRUE(v.lastFrameSkippedUnseen) << v.why;
  skip.o.atGateway.take(buildDatagram(Datagram{5, kNoSignal, {v21({0xFF, 0x13})}}));  // something came under 4
  EXPECT_EQ(skip.checked(&v).size(), 1u) << "a skip the copies showed is the gateway's to follow";
  // the counter skipped one after the DCN's first packet: under the skipped number came only the
  // copy of that packet, as when the peer sends it twice and the second datagram is lost; at
  // redundancy 3 the same datagram's copies under the peer's own numbers show the shift
  for (const int redundancy : {1, 3}) {
    AudioWaits repeat(redundancy);
    repeat.peer = MadeUpPeer(redundancy);
    for (const Bytes& ifp : {kPreamble, v21(kDis, 2), kPreamble, v21({0xFF, 0x13})}) repeat.peer.send(ifp);
    repeat.peer.skipped = 1;
    repeat.peer.send(v21({0xFA}));
    repeat.peer.send(kFcsOk);
    repeat.o.t38Packets = repeat.peer.sent;
    repeat.arrive({0, 1, 2, 3, 4, 5});
    EXPECT_EQ(repeat.checked(&v).size(), redundancy == 1 ? 0u : 1u) << redundancy << ": " << v.why;
    EXPECT_EQ(v.lastFrameSkippedUnseen, redundancy == 1) << redundancy;
    if (redundancy != 1) continue;
    // another content under the skipped number: moved there on the way (the peer's later packet
    // under a number it reused), it tells neither reading; as the peer's own, it shows no resend
    repeat.o.atGateway.take(buildDatagram(Datagram{4, kNoSignal, {}}));
    for (const bool moved : {true, false}) {
      repeat.o.alteredCopies.clear();
      if (moved) repeat.o.alteredCopies.emplace_back(4, kNoSignal);
      EXPECT_EQ(repeat.checked(&v).size(), moved ? 0u : 1u) << v.why;
      EXPECT_EQ(v.lastFrameSkippedUnseen, moved) << v.why;
    }
  }
  // the DCN's second packet came altered as the next datagram's copy: against its own datagram,
  // which the network duplicated, one word against one, nothing tells the two apart; where the
  // datagram after brought it right as well, two words say which the peer sent
  for (const bool twoWords : {false, true}) {
    AudioWaits altered(2);
    Datagram d;
    ASSERT_TRUE(altered.alterTheDcnsSecondPacketInItsCopy(d));
    altered.arrive({0, 1, 2, 3, 4, 4});
    altered.o.atGateway.take(buildDatagram(d));
    if (twoWords) altered.arrive({6});
    EXPECT_EQ(altered.checked(&v).size(), twoWords ? 1u : 0u) << v.why;
    EXPECT_EQ(v.lastFrameDisputedByAnAlteredCopy, !twoWords) << v.why;
  }
  // the altered copy came first (the duplicate of the datagram after, its own two datagrams late):
  // where the gateway played that number before the peer's own came, the altered packet was all it
  // had there, however many words came for the other later; played after, it had both
  for (const long playedAt : {30L, 50L}) {
    AudioWaits first(2);
    Datagram d;
    ASSERT_TRUE(first.alterTheDcnsSecondPacketInItsCopy(d));
    first.arrive({0, 1, 2, 3});
    first.o.atGateway.now = 10;
    first.o.atGateway.take(buildDatagram(d));
    first.o.atGateway.now = 40;
    first.arrive({4, 5, 6});
    first.o.gatewayPlayed[4] = {playedAt, t38fIFPdigest(d.secondaries[0].data(), int(d.secondaries[0].size()))};
    EXPECT_EQ(first.checked(&v).size(), playedAt < 40 ? 0u : 1u) << v.why;
    EXPECT_EQ(v.lastFrameDisputedByAnAlteredCopy, playedAt < 40) << v.why;
  }
  // the peer's own datagram said its DCN's control octet without the final bit, and the audio
  // terminal took that frame and waits for the rest of the exchange, the T.38 terminal for the
  // audio terminal: the peer's word, unless a copy said otherwise, or the T.38 terminal sent a
  // frame after the audio terminal took it
  for (const int contradicted : {0, 1})
    for (const long dcnSentAt : {40L, 60L}) {
      AudioWaits nonFinal(contradicted);
      Datagram d;
      ASSERT_TRUE(parseDatagram(nonFinal.peer.datagrams[3], &d));
      d.primary = v21({0xFF, 0x03});
      nonFinal.peer.datagrams[3] = buildDatagram(d);
      nonFinal.o.alteredCopies = {{3, d.primary}};
      nonFinal.arrive({0, 1, 2, 3, 4, 5});
      nonFinal.o.t38Frames.sentAt = {0, dcnSentAt};
      nonFinal.o.audioFrames.accepted = {kDis, {0xFF, 0x03, 0xFA}};
      nonFinal.o.audioFrames.acceptedAt = {10, 50};
      nonFinal.o.audioFrames.sent = {kDcs};
      nonFinal.o.t38Status = -1;
      const bool named = !contradicted && dcnSentAt < 50;
      EXPECT_EQ(nonFinal.checked(&v).size(), named ? 0u : contradicted ? 2u : 1u) << contradicted << " " << dcnSentAt << ": " << v.why;
      EXPECT_EQ(v.waitsAfterAFrameThePeerForged, named) << v.why;
    }
  AudioWaits neverSent(0);  // it accepted the other's last frame, no DCN: nobody sends another
  neverSent.o.t38Frames.sent = {kDis};
  neverSent.arrive({0, 1, 2, 3, 4, 5});
  EXPECT_TRUE(neverSent.checked(&v).empty());
  EXPECT_TRUE(v.waitsForAFrameNeverSent);
  // it sent its DCN while its DCS still went out: its packets carry the DCS's first three octets,
  // then the DCN, under one FCS, and none of them is a DCN alone. Octets before the DCN that are
  // not the start of the frame it sent before are no such joining: the wait stays the gateway's
  for (const bool dcsBefore : {true, false}) {
    AudioWaits joined(1);
    joined.peer = MadeUpPeer(1);
    for (const Bytes& ifp : {kPreamble, v21(kDis, 2), kPreamble, v21(Bytes(kDcs.begin(), kDcs.begin() + 3)), v21(kDcn), kFcsOk})
      joined.peer.send(ifp);
    joined.o.t38Packets = joined.peer.sent;
    joined.o.t38Frames.sent = {kDis, dcsBefore ? kDcs : kDis, kDcn};
    joined.arrive({0, 1, 2, 3, 4, 5});
    EXPECT_EQ(joined.checked(&v).size(), dcsBefore ? 0u : 1u) << v.why;
    EXPECT_EQ(v.lastFrameJoinedByThePeer, dcsBefore);
  }
}

TEST(FaxCallChecks, ALateCedExcusesOnlyAWaitForWhatItDelayed) {
  AudioWaits late(0);
  late.peer = MadeUpPeer(0);
  late.peer.send(kCed);
  late.peer.send(kPreamble);
  late.peer.send(v21(kDis, 2));
  late.o.t38Packets = late.peer.sent;
  late.o.t38Frames.sent = {kDis};
  late.o.audioFrames.accepted = {};
  late.arrive({1, 2});
  late.o.atGateway.take(buildDatagram(Datagram{1, kPreamble, {kCed}}));  // the CED indicator came with the packet after it
  Verdict v;
  EXPECT_TRUE(late.checked(&v).empty());
  EXPECT_TRUE(v.cedIndicatorLate);
  late.o.audioFrames.accepted = {kDis};  // it heard the frame the CED delayed, and waits for another
  late.o.t38Frames.sent = {kDis, kDcs};
  EXPECT_EQ(late.checked(&v).size(), 1u);
  EXPECT_FALSE(v.cedIndicatorLate);
}

// The T.38 terminal waits for the audio terminal's DCN, which our gateway passed on.
struct T38Waits {
  Case c{"made_up", kV17, true, true, 0, false};
  Outcome o;
  MadeUpPeer gateway;
  explicit T38Waits(int redundancy) : gateway(redundancy) {
    c.redundancy = redundancy;
    o.audioStatus = 0, o.t38Status = -1, o.hung = true;
    o.audioFrames.sent = {kDcs, kDcn};
    gateway.sendDcn();
    gateway.send(kNoSignal);
    o.gatewayDatagrams = gateway.datagrams;
  }
};

TEST(FaxCallChecks, AFrameTheGatewaySentIsLostByTheNetworkOnlyWithEveryCopyAsked) {
  T38Waits lost(1);
  lost.o.atPeer.take(lost.gateway.datagrams[0]);  // nothing of the DCN reached the T.38 terminal
  Verdict v = judge(lost.c, lost.o);
  EXPECT_TRUE(v.lastFrameLostByTheNetwork) << v.why;
  T38Waits arrived(1);
  for (const auto& d : arrived.gateway.datagrams) arrived.o.atPeer.take(d);
  for (const auto& p : arrived.gateway.sent) arrived.o.toT38Terminal.push_back(p.second);
  EXPECT_FALSE(judge(arrived.c, arrived.o).waitNamed()) << "everything reached the T.38 terminal";
  // every packet reached the terminal's receiver, which handed one on after the frame's end
  std::swap(arrived.o.toT38Terminal[2], arrived.o.toT38Terminal[3]);
  v = judge(arrived.c, arrived.o);
  EXPECT_TRUE(v.lastFrameBrokenByTheTerminalsReceiver && !v.lastFrameLostByTheNetwork) << v.why;
  T38Waits noCopies(1);  // the gateway's indicator went without the copy its redundancy asks
  Datagram d;
  ASSERT_TRUE(parseDatagram(noCopies.o.gatewayDatagrams[0], &d));
  noCopies.o.gatewayDatagrams.insert(noCopies.o.gatewayDatagrams.begin(), buildDatagram(Datagram{65535, kCed, {}}));
  noCopies.o.gatewayDatagrams[1] = buildDatagram(Datagram{0, kPreamble, {}});
  noCopies.o.atPeer.take(noCopies.o.gatewayDatagrams[0]);
  EXPECT_FALSE(judge(noCopies.c, noCopies.o).waitNamed());
  T38Waits notWhole(1);  // the gateway never sent the DCN closed good
  notWhole.o.gatewayDatagrams.erase(notWhole.o.gatewayDatagrams.begin() + 3, notWhole.o.gatewayDatagrams.end());
  EXPECT_FALSE(judge(notWhole.c, notWhole.o).waitNamed());
}

// The T.38 terminal's receiver handed on what the gateway sent, in the order given, under the
// numbers given (the gateway's own when none).
void handOn(T38Waits& w, const std::vector<NumberedIfp>& packets) {
  for (const auto& d : w.o.gatewayDatagrams) w.o.atPeer.take(d);
  for (const auto& p : packets) {
    w.o.toT38Terminal.push_back(p.second);
    w.o.toT38TerminalNumbers.push_back(p.first);
  }
}

// Renumbers the gateway's datagram `i` to `seq`, as if the gateway itself had numbered it so.
void renumbered(T38Waits& w, size_t i, uint16_t seq) {
  Datagram d;
  parseDatagram(w.o.gatewayDatagrams[i], &d);
  d.seq = seq;
  w.o.gatewayDatagrams[i] = buildDatagram(d);
}

TEST(FaxCallChecks, TheTerminalsReceiverIsToBlameOnlyForWhatTheGatewayNeitherSentNorNumbered) {
  const NumberedIfp aheadCng{100, {0x02}};  // an old datagram the network brought under a number ahead
  T38Waits behind(1);
  handOn(behind, {aheadCng});
  handOn(behind, behind.gateway.sent);
  Verdict v = judge(behind.c, behind.o);
  EXPECT_TRUE(v.lastFrameBehindANumberAhead) << v.why;
  EXPECT_NE(v.why.find("number 100"), std::string::npos) << v.why;
  T38Waits aheadAfter(1);  // the number ahead came only after the frame
  handOn(aheadAfter, aheadAfter.gateway.sent);
  handOn(aheadAfter, {aheadCng});
  EXPECT_FALSE(judge(aheadAfter.c, aheadAfter.o).waitNamed());
  T38Waits ownNumber(1);  // the gateway itself put a number ahead and stepped back
  renumbered(ownNumber, 0, 100);
  handOn(ownNumber, {{100, kPreamble}});
  handOn(ownNumber, std::vector<NumberedIfp>(ownNumber.gateway.sent.begin() + 1, ownNumber.gateway.sent.end()));
  EXPECT_FALSE(judge(ownNumber.c, ownNumber.o).lastFrameBehindANumberAhead);
  T38Waits taken(1);  // it took the frame after all: its wait is for something else
  handOn(taken, {aheadCng});
  handOn(taken, taken.gateway.sent);
  taken.o.t38Frames.accepted = {kDcn};
  EXPECT_FALSE(judge(taken.c, taken.o).waitNamed());

  // the receiver handed on every packet of the DCN in a row under numbers in a row, after a skip
  // in its numbers before the preamble or between the preamble and the frame, and the terminal
  // refused the frame: its core took the skip for data lost, though nothing of the frame lay there
  for (const uint16_t from : {0, 1}) {
    T38Waits skip(1);
    std::vector<NumberedIfp> shifted = skip.gateway.sent;
    for (size_t k = from; k < shifted.size(); ++k) shifted[k].first = uint16_t(shifted[k].first + 2);
    handOn(skip, {{uint16_t(65530), kNoSignal}});
    handOn(skip, shifted);
    v = judge(skip.c, skip.o);
    EXPECT_TRUE(v.lastFrameRefusedAfterASkip) << from << ": " << v.why;
  }
  T38Waits skipInside(1);  // the skip inside the frame: a packet of it may be what was lost
  std::vector<NumberedIfp> inside = skipInside.gateway.sent;
  for (size_t k = 2; k < inside.size(); ++k) inside[k].first = uint16_t(inside[k].first + 2);
  handOn(skipInside, inside);
  EXPECT_FALSE(judge(skipInside.c, skipInside.o).lastFrameRefusedAfterASkip);
  T38Waits skipEarlier(1);  // the skip lay before another frame's data: it may have lost the frame before
  std::vector<NumberedIfp> later = skipEarlier.gateway.sent;
  for (auto& p : later) p.first = uint16_t(p.first + 51);
  handOn(skipEarlier, {{uint16_t(40), kNoSignal}, {uint16_t(50), v21({0x80})}});
  handOn(skipEarlier, later);
  EXPECT_FALSE(judge(skipEarlier.c, skipEarlier.o).lastFrameRefusedAfterASkip);
  T38Waits skipTaken(1);  // the terminal took the frame after the skip: its wait is for something else
  std::vector<NumberedIfp> after = skipTaken.gateway.sent;
  for (auto& p : after) p.first = uint16_t(p.first + 2);
  handOn(skipTaken, {{uint16_t(65535), kNoSignal}});
  handOn(skipTaken, after);
  skipTaken.o.t38Frames.accepted = {kDcn};
  EXPECT_FALSE(judge(skipTaken.c, skipTaken.o).waitNamed());

  // the terminal took the DCN and still waits: it stopped, after its receiver handed on, under the
  // number of the gateway's no-signal, a packet the gateway never sent there, once the frame the
  // terminal sent before its last had reached the gateway
  auto stopped = [](T38Waits& w, long alteredAt) {
    MadeUpPeer terminal;
    for (const auto& p : {kPreamble, v21(kDis, 2), kNoSignal, kPreamble, v21(kDcs, 2), kNoSignal}) terminal.send(p);
    w.o.t38Packets = terminal.sent;
    for (size_t i = 0; i < terminal.datagrams.size(); ++i) {
      w.o.atGateway.now = long(100 * i);  // the DIS at 100, the DCS at 400
      w.o.atGateway.take(terminal.datagrams[i]);
    }
    handOn(w, w.gateway.sent);
    w.o.toT38TerminalAt.assign(w.o.toT38Terminal.size(), 500);
    handOn(w, {{uint16_t(w.gateway.sent.size() - 1), v21({0xFF})}});
    w.o.toT38TerminalAt.push_back(alteredAt);
    w.o.t38Frames.accepted = {kDcn};
  };
  T38Waits altered(1);
  stopped(altered, 600);
  v = judge(altered.c, altered.o);
  EXPECT_TRUE(v.silencedByAPacketAlteredOnTheWay) << v.why;
  EXPECT_NE(v.why.find("number 4"), std::string::npos) << v.why;
  T38Waits alteredEarlier(1);  // before the terminal's frame before its last: an exchange answered since
  stopped(alteredEarlier, 50);
  EXPECT_FALSE(judge(alteredEarlier.c, alteredEarlier.o).waitNamed());
  T38Waits noneAltered(1);  // what it got was the gateway's own
  stopped(noneAltered, 600);
  noneAltered.o.toT38Terminal.back() = kNoSignal;
  EXPECT_FALSE(judge(noneAltered.c, noneAltered.o).waitNamed());
  T38Waits signalOpen(1);  // the gateway's last datagram opened a signal it never ended
  signalOpen.gateway.send(kPreamble);
  signalOpen.o.gatewayDatagrams = signalOpen.gateway.datagrams;
  stopped(signalOpen, 600);
  EXPECT_FALSE(judge(signalOpen.c, signalOpen.o).waitNamed());
  T38Waits ownNumbers(1);  // the gateway's numbers out of order: the number is not the network's to blame
  renumbered(ownNumbers, 1, 40);
  stopped(ownNumbers, 600);
  EXPECT_FALSE(judge(ownNumbers.c, ownNumbers.o).silencedByAPacketAlteredOnTheWay);

  // the audio terminal sent its DCN twice; the receiver handed on the first whole and the second
  // without its first octets, closed good
  auto twice = [](T38Waits& w) {
    w.gateway.sendDcn();
    w.gateway.send(kNoSignal);
    w.o.gatewayDatagrams = w.gateway.datagrams;
  };
  T38Waits madeUp(1);
  twice(madeUp);
  auto cut = madeUp.gateway.sent;
  cut.erase(cut.begin() + 6);
  cut[6].first = 6;
  handOn(madeUp, cut);
  v = judge(madeUp.c, madeUp.o);
  EXPECT_TRUE(v.lastFrameMadeOnTheWay) << v.why;
  madeUp.o.audioStatus = -1;  // the audio terminal waits too, for the T.38 terminal gone silent
  EXPECT_TRUE(judge(madeUp.c, madeUp.o).lastFrameMadeOnTheWay);
  T38Waits sentCut(1);  // the gateway's own datagrams closed that frame good
  for (const auto& p : {kPreamble, v21({0xFA}), kFcsOk}) sentCut.gateway.send(p);
  twice(sentCut);
  handOn(sentCut, std::vector<NumberedIfp>(sentCut.gateway.sent.begin(), sentCut.gateway.sent.begin() + 8));
  EXPECT_FALSE(judge(sentCut.c, sentCut.o).waitNamed());
  T38Waits misnumbered(1);  // the gateway's numbers out of order
  twice(misnumbered);
  renumbered(misnumbered, 2, 40);
  cut[2].first = 40;
  handOn(misnumbered, cut);
  EXPECT_FALSE(judge(misnumbered.c, misnumbered.o).waitNamed());
}

// On a clean path whose only events are renumberings, ours must complete where spandsp's does,
// unless the call shows its own loss as unavoidable: the network renumbered the gateway's datagrams
// from the DCN's first octet on, the receiver handed on every packet under the new numbers, and the
// T.38 terminal refused the frame and gave up (or still waits).
TEST(FaxCallChecks, OnlyAFrameRefusedWholeAfterARenumberingExcusesOursOnACleanPath) {
  auto renumberedOnTheWay = [](T38Waits& w, size_t from, uint16_t to) {
    std::vector<NumberedIfp> handed;
    for (size_t i = 0; i < w.o.gatewayDatagrams.size(); ++i) {
      Datagram d;
      ASSERT_TRUE(parseDatagram(w.o.gatewayDatagrams[i], &d));
      if (i >= from) {
        // the first renumbered datagram's copy opens the new numbering at the receiver
        if (i == from)
          for (size_t k = 0; k < d.secondaries.size(); ++k) handed.push_back({uint16_t(to - 1 - k), d.secondaries[k]});
        d.seq = uint16_t(to + (i - from));
      }
      w.o.atPeer.take(buildDatagram(d));
      handed.push_back({d.seq, d.primary});
    }
    for (const auto& p : handed) {
      w.o.toT38Terminal.push_back(p.second);
      w.o.toT38TerminalNumbers.push_back(p.first);
    }
  };
  Verdict spandsps;
  spandsps.completed = true;
  T38Waits gaveUp(1);  // the T.38 terminal ended in error, never having taken the DCN
  gaveUp.o.t38Status = T30_ERR_RX_DCNWHY, gaveUp.o.hung = false;
  renumberedOnTheWay(gaveUp, 1, 24400);
  Verdict v = judge(gaveUp.c, gaveUp.o);
  EXPECT_TRUE(v.lastFrameRefusedAfterASkip && !v.lastFrameLostByTheNetwork) << v.why;
  EXPECT_TRUE(violations(v, spandsps, true).empty()) << v.why;
  T38Waits waits(1);  // still waiting: the same, where the gateway's numbers never came
  renumberedOnTheWay(waits, 1, 24400);
  EXPECT_TRUE(judge(waits.c, waits.o).lastFrameRefusedAfterASkip);
  T38Waits inside(1);  // renumbered at the FCS: the frame's data lies before the skip, its end after
  inside.o.t38Status = T30_ERR_RX_DCNWHY, inside.o.hung = false;
  renumberedOnTheWay(inside, 3, 24400);
  v = judge(inside.c, inside.o);
  EXPECT_FALSE(v.lastFrameRefusedAfterASkip) << v.why;
  EXPECT_EQ(violations(v, spandsps, true).size(), 1u);
  T38Waits took(1);  // it took the DCN and gave up on something else
  took.o.t38Status = T30_ERR_RX_DCNWHY, took.o.hung = false;
  renumberedOnTheWay(took, 1, 24400);
  took.o.t38Frames.accepted = {kDcn};
  v = judge(took.c, took.o);
  EXPECT_FALSE(v.lastFrameRefusedAfterASkip) << v.why;
  EXPECT_EQ(violations(v, spandsps, true).size(), 1u);
}

// The T.38 terminal's DIS reached the line as a DCS-like frame cut at its third octet: the peer
// retyped the third octet's field as the frame's good end.
struct Retyped {
  Case c{"made_up", kV17, false, true, 0, false};
  Outcome o;
  MadeUpPeer peer;
  Bytes cut{0xFF, 0x13, 0x80};
  explicit Retyped(int redundancy) : peer(redundancy) {
    c.redundancy = redundancy;
    o.t38Status = o.audioStatus = 0;
    o.t38Frames.sent = {kDis};
    o.audioFrames.accepted = {cut};
    peer.send(kPreamble);
    peer.send(v21({0xFF, 0x13}));
    peer.send(v21({0x80}));
    peer.send(v21({0x00, 0x46}));
    peer.send(kFcsOk);
    o.t38Packets = peer.sent;
    // what the peer's datagram 2 carried instead
    Datagram d;
    parseDatagram(peer.datagrams[2], &d);
    d.primary = v21({0x80}, 2);
    peer.datagrams[2] = buildDatagram(d);
    o.alteredCopies = {{2, d.primary}};
  }
};

// A made-up call at redundancy 0 whose two terminals both ended: the peer's datagrams carry one
// packet each, so what reached the gateway is exactly what the peer sent.
struct AtRedundancyZero {
  MadeUpPeer peer{0};
  Case c{"made_up", kV17, false, false, 0, false};
  Outcome o;
  AtRedundancyZero() {
    c.redundancy = 0;
    o.t38Status = o.audioStatus = 0;
  }
};

// The T.38 terminal's TSI after its address and control, an octet a packet: `before`, then its
// numbering steps `back` numbers back, then `after`. Inside a run of padding spaces the datagrams
// under the reused numbers are byte for byte the first ones, and the gateway plays the frame that
// many spaces short.
struct SteppedInARun {
  Case c{"made_up", kV17, false, false, 0, false};
  Outcome o;
  MadeUpPeer peer{1};
  SteppedInARun(const Bytes& before, int back, const Bytes& after) {
    c.redundancy = 1;
    o.t38Status = o.audioStatus = 0;
    Bytes tsi{0xFF, 0x03};
    peer.send(kPreamble);
    peer.send(v21(tsi));
    for (uint8_t octet : before) peer.send(v21({octet}));
    peer.skipped = uint16_t(-back);
    for (uint8_t octet : after) peer.send(v21({octet}));
    peer.send(kFcsOk);
    o.t38Packets = peer.sent;
    tsi.insert(tsi.end(), before.begin(), before.end());
    tsi.insert(tsi.end(), after.begin(), after.end());
    o.t38Frames.sent = {tsi};
  }
  // the peer's datagram `i` went with `ifp` as its primary (the next one's copy holds it as sent)
  void alter(size_t i, const Bytes& ifp) {
    Datagram d;
    parseDatagram(peer.datagrams[i], &d);
    d.primary = ifp;
    peer.datagrams[i] = buildDatagram(d);
    o.alteredCopies.emplace_back(d.seq, ifp);
  }
  Verdict played(const Bytes& frame) {
    for (const auto& dg : peer.datagrams) o.atGateway.take(dg);
    o.audioFrames.accepted = {frame};
    return judge(c, o);
  }
};

TEST(FaxCallChecks, AForgedFrameIsThePeersOnlyWhenItsDatagramsAloneSayIt) {
  Retyped alone(0);
  for (const auto& d : alone.peer.datagrams) alone.o.atGateway.take(d);
  Verdict v = judge(alone.c, alone.o);
  EXPECT_EQ(v.forged, 1);
  EXPECT_TRUE(v.forgedByThePeer) << "no copy said otherwise";
  EXPECT_TRUE(violations(v, Verdict{}, false).empty());
  Retyped contradicted(1);  // the next datagram's copy holds the true field
  for (const auto& d : contradicted.peer.datagrams) contradicted.o.atGateway.take(d);
  v = judge(contradicted.c, contradicted.o);
  EXPECT_FALSE(v.forgedByThePeer);
  EXPECT_TRUE(thePeersWord(contradicted.o.t38Packets, 1, contradicted.o.alteredCopies, contradicted.o.atGateway).at(2).empty())
      << "a number that came in two contents is nobody's word";
  EXPECT_EQ(violations(v, Verdict{}, false).size(), 1u);
  // the same, the audio terminal accepting the frame in frame 10: a gateway that had played its
  // end before the copy came could not have done otherwise; one the copy reached in time, or that
  // took the altered packet ahead of the one before it, could
  auto arrivingAt = [](Retyped& r, std::vector<long> at) {
    r.o.audioFrames.acceptedAt = {10};
    for (size_t i = 0; i < r.peer.datagrams.size(); ++i) {
      r.o.atGateway.now = i < at.size() ? at[i] : 20 + long(i);
      r.o.atGateway.take(r.peer.datagrams[i]);
    }
    return judge(r.c, r.o);
  };
  Retyped copyLate(1);
  v = arrivingAt(copyLate, {0, 1, 2, 10});
  EXPECT_TRUE(v.forgedBeforeItsContradictionCame) << v.why;
  EXPECT_TRUE(violations(v, Verdict{}, false).empty());
  Retyped copyInTime(1);
  v = arrivingAt(copyInTime, {0, 1, 2, 9});
  EXPECT_FALSE(v.forgedBeforeItsContradictionCame) << "the copy came before the frame was accepted";
  EXPECT_EQ(violations(v, Verdict{}, false).size(), 1u);
  Retyped outOfTurn(1);
  v = arrivingAt(outOfTurn, {0, 3, 2, 10});
  EXPECT_FALSE(v.forgedBeforeItsContradictionCame) << "the altered packet came before the one ahead of it";
  Retyped unsaid(0);  // the same frame, the peer's datagrams as meant
  unsaid.o.alteredCopies.clear();
  for (const auto& d : unsaid.peer.datagrams) unsaid.o.atGateway.take(d);
  EXPECT_FALSE(judge(unsaid.c, unsaid.o).forgedByThePeer) << "a content the peer never put there";
  // at redundancy 0 the packet with the peer's TSI's address, control and FCF came cut short on the
  // way: its address and control joined the spaces after it into a frame whose FCF is an NSF's,
  // which the gateway passes on with its facilities zeroed. What reached the audio terminal is what the
  // peer's datagrams alone said, as the gateway passes it on; not a frame of another length.
  for (const bool sameLength : {true, false}) {
    AtRedundancyZero call;
    auto& [peer, c, o] = call;
    const Bytes tsi{0xFF, 0x03, 0x43, 0x32, 0x20, 0x20, 0x20};
    peer.send(kPreamble);
    peer.send(v21({0xFF, 0x03, 0x43, 0x32}));
    peer.send(v21({0x20, 0x20, 0x20}));
    peer.send(kFcsOk);
    o.t38Packets = peer.sent;
    o.t38Frames.sent = {tsi};
    Datagram d;
    parseDatagram(peer.datagrams[1], &d);
    d.primary = v21({0xFF, 0x03});
    o.alteredCopies = {{d.seq, d.primary}};
    for (size_t i = 0; i < peer.datagrams.size(); ++i) o.atGateway.take(i == 1 ? buildDatagram(d) : peer.datagrams[i]);
    o.audioFrames.accepted = {sameLength ? Bytes{0xFF, 0x03, 0x20, 0x00, 0x00} : Bytes{0xFF, 0x03, 0x20, 0x00}};
    v = judge(c, o);
    EXPECT_EQ(v.forged, 1);
    EXPECT_EQ(v.forgedByThePeer, sameLength) << v.why;
    EXPECT_EQ(violations(v, Verdict{}, false).size(), sameLength ? 0u : 1u);
  }
  // the T.38 terminal cut its DIS after the first capabilities octet and sent a DCN's octets on in
  // the same frame, closed good, every datagram come: the gateway passes a DIS on with its rate
  // field lowered (`ff` to `ef`), which is still the peer's word; a bit it never rewrites (the
  // fourth octet's 0x10), or bit 25 set where the peer had it clear, is not
  const Bytes cutDis{0xFF, 0x13, 0x80, 0x04, 0xFF, 0x13, 0xFA};
  const std::vector<std::pair<Bytes, bool>> passedOn = {{{0xFF, 0x13, 0x80, 0x04, 0xEF, 0x13, 0xFA}, true},
                                                        {{0xFF, 0x13, 0x80, 0x14, 0xEF, 0x13, 0xFA}, false},
                                                        {{0xFF, 0x13, 0x80, 0x04, 0xEF, 0x13, 0xFB}, false}};
  for (const auto& [heard, peers] : passedOn) {
    AtRedundancyZero call;
    auto& [peer, c, o] = call;
    peer.send(kPreamble);
    peer.send(v21(Bytes(cutDis.begin(), cutDis.begin() + 4)));
    peer.send(v21(Bytes(cutDis.begin() + 4, cutDis.end())));
    peer.send(kFcsOk);
    o.t38Packets = peer.sent;
    for (const auto& d : peer.datagrams) o.atGateway.take(d);
    o.audioFrames.accepted = {heard};
    v = judge(c, o);
    EXPECT_EQ(v.forged, 1);
    EXPECT_EQ(v.forgedByThePeer, peers) << hex(heard) << v.why;
  }
  Retyped fromLine(0);  // a frame the gateway's own datagrams forged towards the T.38 terminal: no peer said it
  for (const auto& d : fromLine.peer.datagrams) fromLine.o.atGateway.take(d);
  fromLine.o.t38Frames.accepted = {kDcn};
  MadeUpPeer gateway;
  gateway.sendDcn();
  fromLine.o.gatewayDatagrams = gateway.datagrams;
  v = judge(fromLine.c, fromLine.o);
  EXPECT_FALSE(v.forgedByThePeer);
  EXPECT_EQ(v.forged, 2);
  // the same frame, which the gateway's datagrams never closed good: the path made it on the way
  fromLine.o.gatewayDatagrams.pop_back();
  v = judge(fromLine.c, fromLine.o);
  EXPECT_EQ(v.forged, 1);
  EXPECT_EQ(v.forgedOnTheWay, 1);
  // a step inside a run of equal octets is the peer's word though another number of the frame
  // came in two contents, when what played there is what the peer sent there; not when it is the
  // other content
  const Bytes twoSpacesShort{0xFF, 0x03, 0x43, 0x32, 0x20, 0x20, 0x20, 0x20};
  SteppedInARun retypedFcf({0x43, 0x32, 0x20, 0x20, 0x20}, 2, {0x20, 0x20, 0x20});
  retypedFcf.alter(2, v21({0x43}, 2));
  v = retypedFcf.played(twoSpacesShort);
  EXPECT_EQ(v.forged, 1);
  EXPECT_TRUE(v.forgedByThePeer) << "the FCF played as the peer sent it";
  EXPECT_TRUE(violations(v, Verdict{}, false).empty()) << v.why;
  SteppedInARun flippedFcf({0x43, 0x32, 0x20, 0x20, 0x20}, 2, {0x20, 0x20, 0x20});
  flippedFcf.alter(2, v21({0x03}));
  Bytes flippedPlayed = twoSpacesShort;
  flippedPlayed[2] = 0x03;
  v = flippedFcf.played(flippedPlayed);
  EXPECT_FALSE(v.forgedByThePeer) << "the FCF played as the altered copy had it";
  EXPECT_EQ(violations(v, Verdict{}, false).size(), 1u);
  // nor when the step lands where the octets change: the peer itself put two contents under the
  // reused number, and the gateway played one of them in place of both
  SteppedInARun atTheEdge({0x43, 0x32, 0x32}, 1, {0x20, 0x20, 0x20});
  v = atTheEdge.played({0xFF, 0x03, 0x43, 0x32, 0x20, 0x20, 0x20});
  EXPECT_EQ(v.forged, 1);
  EXPECT_FALSE(v.forgedByThePeer) << "the number the step reused came in two of the peer's contents";
  // at redundancy 0 the peer stepped back two and sent its DCS whole in one packet under a number
  // it had used before; that datagram came with a bit flipped and nothing else came under the
  // number since: the flipped DCS is all any receiver had. Not once the DCS as sent came there too.
  // Likewise an ECM page's PPS whose frame count came altered: the line's terminal made a wrong
  // page of the block's frames as that PPS counted them, all any receiver had; but a wrong page
  // with no PPS the peer's datagrams said otherwise (a DCS altered instead) is the gateway's.
  const Bytes kPpsEop{0xFF, 0x13, 0xBF, 0x2F, 0x01, 0x00, 0x02};
  const struct {
    Bytes sent;
    size_t flipAt;
    uint8_t bit;
    bool wrongPage;
  } altered[] = {{kDcs, 5, 0x01, false}, {kPpsEop, 6, 0x02, true}, {kDcs, 5, 0x01, true}};
  for (const auto& frame : altered)
    for (const bool trueOneCame : {false, true}) {
      AtRedundancyZero call;
      auto& [peer, c, o] = call;
      peer.send(kPreamble);
      peer.send(kNoSignal);
      peer.send(kPreamble);
      peer.skipped = uint16_t(-2);
      peer.send(ifpOf(0xC0, {{0, 0, bitReversed(frame.sent)}, {0, 2, {}}}));
      peer.send(kNoSignal);
      o.t38Packets = peer.sent;
      o.t38Frames.sent = {frame.sent};
      Bytes flipped = frame.sent;
      flipped[frame.flipAt] ^= frame.bit;
      Datagram d;
      parseDatagram(peer.datagrams[3], &d);
      d.primary = ifpOf(0xC0, {{0, 0, bitReversed(flipped)}, {0, 2, {}}});
      o.alteredCopies = {{d.seq, d.primary}};
      for (size_t i = 0; i < peer.datagrams.size(); ++i) o.atGateway.take(i == 3 ? buildDatagram(d) : peer.datagrams[i]);
      if (trueOneCame) o.atGateway.take(peer.datagrams[3]);
      o.audioFrames.accepted = {flipped};
      if (frame.wrongPage) {
        c.ecm = true;
        o.sent = {{{1}}};
        o.received = {{{2}}};
      }
      const bool thePeers = !trueOneCame && (frame.sent == kPpsEop || !frame.wrongPage);
      v = judge(c, o);
      EXPECT_EQ(v.forged, 1);
      EXPECT_EQ(v.wrongPages, frame.wrongPage ? 1 : 0);
      EXPECT_EQ(v.forgedByThePeer, thePeers) << v.why;
      EXPECT_EQ(violations(v, Verdict{}, false).size(), thePeers ? 0u : 1u);
    }
}

// At redundancy 0 the peer's counter skipped a number inside its CFR, after the address octet,
// and a datagram the network copied from the control octet's came under the number skipped: the
// CFR with its control octet twice is what reached the gateway, number by number, and no receiver
// tells it from a CFR the peer sent so. Not when what came there is nothing the peer's datagrams
// put there.
TEST(FaxCallChecks, ANumberThePeerSkippedIsReadWithWhatItsDatagramsPutThere) {
  for (const bool copied : {true, false}) {
    AtRedundancyZero call;
    auto& [peer, c, o] = call;
    peer.send(kPreamble);
    peer.send(v21({0xFF}));
    peer.skipped = 1;
    peer.send(v21({0x13}));
    peer.send(v21({0x84}));
    peer.send(kFcsOk);
    o.t38Packets = peer.sent;
    o.t38Frames.sent = {{0xFF, 0x13, 0x84}};
    const Datagram intoTheSkip{2, v21({0x13}), {}};
    if (copied) o.alteredCopies = {{intoTheSkip.seq, intoTheSkip.primary}};
    for (const auto& d : peer.datagrams) o.atGateway.take(d);
    o.atGateway.take(buildDatagram(intoTheSkip));
    o.audioFrames.accepted = {{0xFF, 0x13, 0x13, 0x84}};
    const Verdict v = judge(c, o);
    EXPECT_EQ(v.forged, 1);
    EXPECT_EQ(v.forgedByThePeer, copied) << v.why;
    EXPECT_EQ(violations(v, Verdict{}, false).size(), copied ? 0u : 1u);
  }
}

TEST(FaxCallChecks, ACallIsCompletedOnlyWithThePagesSentAndAWrongEcmPageIsCounted) {
  Case c{"made_up", kV17, true, true, 0, false};
  Outcome o;
  o.audioStatus = o.t38Status = T30_ERR_OK;
  o.receiver.pages_rx = 2;
  o.sent = o.received = {{{1}}, {{2}}};
  Verdict v = judge(c, o);
  EXPECT_TRUE(v.completed);
  EXPECT_TRUE(violations(v, Verdict{}, true).empty());
  o.received[1] = {{3}};
  v = judge(c, o);
  EXPECT_FALSE(v.completed);
  EXPECT_EQ(v.wrongPages, 1);
  EXPECT_EQ(violations(v, Verdict{}, false).size(), 1u) << "a wrong page the line sent";
  Verdict theirs;
  theirs.completed = true;
  o.received.pop_back();
  EXPECT_EQ(violations(judge(c, o), theirs, true).size(), 1u) << "a clean path where spandsp's completes";
}

}  // namespace
