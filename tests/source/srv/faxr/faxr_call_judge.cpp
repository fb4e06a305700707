// How a whole fax call is judged: completed, forged frames and wrong ECM pages, a terminal left
// waiting, and the named reasons a wait or a forgery is not the gateway's. Every reason is read
// from what the call itself shows (what the peer and the gateway sent, what reached each end under
// each number), never from what the sweep drew for it.
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "faxr_call.h"

namespace faxcall {

namespace {

// Whether the terminal whose log is `log` accepted `frame`.
bool accepted(const FrameLog& log, const std::vector<uint8_t>& frame) {
  return std::find(log.accepted.begin(), log.accepted.end(), frame) != log.accepted.end();
}

std::string packetName(const NumberedIfp& p) { return "number " + std::to_string(p.first) + " (" + hex(p.second) + ")"; }

std::vector<std::vector<uint8_t>> ifpsOf(const std::vector<NumberedIfp>& packets, int from, int to) {
  std::vector<std::vector<uint8_t>> out;
  for (int i = std::max(from, 0); i <= to && i < int(packets.size()); ++i) out.push_back(packets[size_t(i)].second);
  return out;
}
std::vector<std::vector<uint8_t>> ifpsOf(const std::vector<NumberedIfp>& packets) { return ifpsOf(packets, 0, int(packets.size()) - 1); }

// The HDLC frames the packets close good, V.21 and ECM alike (the terminals log both).
std::vector<std::vector<uint8_t>> goodFramesOfEitherKind(const std::vector<std::vector<uint8_t>>& ifps) {
  auto frames = goodHdlcFrames(ifps, true);
  for (auto& f : goodHdlcFrames(ifps, false)) frames.push_back(std::move(f));
  return frames;
}

// The packet the peer sent under number s, at or before its packet i (nullptr: none of the 64 before).
const std::vector<uint8_t>* sentUnder(const std::vector<NumberedIfp>& p, int i, uint16_t s) {
  for (int j = i; j >= 0 && j > i - 64; --j)
    if (p[size_t(j)].first == s) return &p[size_t(j)].second;
  return nullptr;
}

// Whether the peer's numbers skipped k after its packet i, and what reached the gateway under each
// number skipped was only the peer's packet k numbers before it, besides what the network moved
// or altered there (not the peer's word for that number, it tells neither reading), and under the
// numbers before the skip nothing of that shift where it would differ from the peer's own packet.
// That is what the peer's copies carry when its counter stepped at a redundancy no deeper than the
// step, and just as much what they carry when it sent those k packets again and lost their
// datagrams: no receiver can tell the two, and one reading forges a frame where the other is the
// peer's.
bool skipLooksLikePacketsSentAgain(const Outcome& o, const std::vector<NumberedIfp>& p, int i) {
  const uint16_t from = p[size_t(i)].first, k = uint16_t(p[size_t(i + 1)].first - from - 1);
  if (k == 0 || k >= 64) return false;
  for (uint16_t j = 1; j <= k; ++j) {
    const uint16_t s = uint16_t(from + j);
    const std::vector<uint8_t>* before = sentUnder(p, i, uint16_t(from + j - k));
    const auto got = o.atGateway.contents.find(s);
    if (before == nullptr || got == o.atGateway.contents.end() || !got->second.count(*before)) return false;
    for (const auto& [content, times] : got->second)
      if (content != *before && std::find(o.alteredCopies.begin(), o.alteredCopies.end(), NumberedIfp{s, content}) == o.alteredCopies.end())
        return false;
  }
  for (uint16_t j = 0; j < 8; ++j) {  // as deep as the copies a receiver takes from one datagram
    const std::vector<uint8_t>* own = sentUnder(p, i, uint16_t(from - j));
    const std::vector<uint8_t>* shifted = sentUnder(p, i, uint16_t(from - j - k));
    const auto got = o.atGateway.contents.find(uint16_t(from - j));
    if (own != nullptr && shifted != nullptr && *own != *shifted && got != o.atGateway.contents.end() && got->second.count(*shifted))
      return false;
  }
  return true;
}

// Whether our gateway's receiver played under number `altered.first` the content altered on the way
// (`altered.second`) while it was all that had reached the gateway there: it played the altered
// packet before anything could tell it from the peer's.
bool alteredPlayedBeforeAnotherCame(const Outcome& o, const NumberedIfp& altered) {
  const auto played = o.gatewayPlayed.find(altered.first);
  const auto came = o.atGateway.firstAt.find(altered.first);
  if (played == o.gatewayPlayed.end() || came == o.atGateway.firstAt.end() ||
      played->second.digest != t38fIFPdigest(altered.second.data(), int(altered.second.size())))
    return false;
  // a datagram taken in the frame the packet played in reached the gateway after it
  return std::all_of(came->second.begin(), came->second.end(),
                     [&](const auto& c) { return c.first == altered.second || c.second >= played->second.at; });
}

// Whether the last frame the peer's packets close good is the start of the frame `before` with
// `last` after it, under one FCS: the terminal sent its last frame while the one before was still
// going out, and its packets carry the two joined. No packet of the peer's is that last frame.
bool lastFrameJoinedOntoTheOneBefore(const std::vector<std::vector<uint8_t>>& ifps, const std::vector<uint8_t>& before,
                                     const std::vector<uint8_t>& last) {
  const auto frames = goodHdlcFrames(ifps, true);
  if (frames.empty() || last.empty()) return false;
  const std::vector<uint8_t> joined = bitReversed(frames.back());
  if (joined.size() <= last.size() || !std::equal(last.rbegin(), last.rend(), joined.rbegin())) return false;
  const size_t cut = joined.size() - last.size();  // the octets of the frame before that went out
  return cut < before.size() && std::equal(joined.begin(), joined.begin() + long(cut), before.begin());
}

// The audio terminal waits for the T.38 terminal's last frame `last` (logged after `before`):
// whether the peer never sent it as a frame of its own, a packet of it never reached the gateway,
// or it reached the gateway whole but could not be told apart.
void nameTheWaitForTheLastFrame(const Outcome& o, const std::vector<uint8_t>& before, const std::vector<uint8_t>& last, Verdict& v) {
  const auto& p = o.t38Packets;
  const V21FramePlace frame = lastV21Frame(p);
  if (frame.last < 0) return;
  const int to = frame.closing >= 0 ? frame.closing : frame.last;
  if (lastFrameJoinedOntoTheOneBefore(ifpsOf(p, frame.first, to), before, last)) {
    v.lastFrameJoinedByThePeer = true;
    v.why = "the T.38 terminal's packets carry its last frame only joined onto the start of the frame before, under one FCS";
    return;
  }
  if (!carriesV21Frame(ifpsOf(p, frame.first, to), last)) {  // the peer's packets are not that frame
    v.why = "unnamed: the T.38 terminal's packets do not end with its last frame";
    return;
  }
  const int missing = firstPacketNotArrived(o.atGateway, p, frame.first, to);
  if (missing >= 0) {
    v.lastFrameLostByTheNetwork = true;
    v.why = "the last frame's " + std::string(missing > frame.last ? "closing FCS packet " : "packet ") + packetName(p[size_t(missing)]) +
            " never reached the gateway under its number, in a primary or any copy";
    return;
  }
  // the peer's own numbers skipped inside the frame, and nothing reached the gateway under a
  // number it skipped: to any receiver that is those numbers lost, and the frame must end bad
  for (int i = frame.first; i < to; ++i) {
    const uint16_t from = p[size_t(i)].first, next = p[size_t(i + 1)].first;
    for (uint16_t s = uint16_t(from + 1); s != next && uint16_t(s - from) < 64; ++s)
      if (o.atGateway.contents.count(s) == 0) {
        v.lastFrameSkippedUnseen = true;
        v.why = "the T.38 terminal's numbers went from " + std::to_string(from) + " to " + std::to_string(next) +
                " inside its last frame, and nothing reached the gateway under " + std::to_string(s) + ", as if lost";
        return;
      }
    if (skipLooksLikePacketsSentAgain(o, p, i)) {
      v.lastFrameSkippedUnseen = true;
      v.why = "the T.38 terminal's numbers went from " + std::to_string(from) + " to " + std::to_string(next) +
              " inside its last frame, and what reached the gateway under the numbers skipped was only the packets " +
              std::to_string(uint16_t(next - from - 1)) + " numbers before them, as if sent again and lost";
      return;
    }
  }
  if (frame.previous >= 0 && frame.previous + 1 < frame.first) {
    bool delimited = false;
    for (int i = frame.previous + 1; i < frame.first; ++i) delimited = delimited || o.atGateway.contents.count(p[size_t(i)].first) > 0;
    if (!delimited) {
      v.lastFrameUndelimited = true;
      v.why = "the last frame reached the gateway whole, and none of numbers " + std::to_string(p[size_t(frame.previous + 1)].first) +
              "-" + std::to_string(p[size_t(frame.first - 1)].first) + " between it and the frame before did";
      return;
    }
  }
  // counted by the datagrams that brought each content: the network's duplicate of a datagram, the
  // same octets again, is no second word, and no receiver may side with a content for it
  for (const auto& a : o.alteredCopies) {
    bool inFrame = false;
    for (int i = frame.previous + 1; i <= to; ++i) inFrame = inFrame || p[size_t(i)].first == a.first;
    const auto got = o.atGateway.words.find(a.first);
    if (!inFrame || got == o.atGateway.words.end() || got->second.size() < 2 || !got->second.count(a.second)) continue;
    const int alteredTimes = got->second.at(a.second);
    if (std::all_of(got->second.begin(), got->second.end(), [&](const auto& c) { return c.second <= alteredTimes; })) {
      v.lastFrameDisputedByAnAlteredCopy = true;
      v.why = "the last frame's packet under number " + std::to_string(a.first) + " reached the gateway in " + std::to_string(alteredTimes) +
              " datagrams as the peer altered it, and no other content of it in more";
      return;
    }
    if (alteredPlayedBeforeAnotherCame(o, a)) {
      v.lastFrameDisputedByAnAlteredCopy = true;
      v.why = "the last frame's packet under number " + std::to_string(a.first) +
              " reached the gateway first altered on the way, and the gateway played it before any other content of it came";
      return;
    }
  }
  v.why = "unnamed: every packet of the T.38 terminal's last frame reached the gateway as sent";
}

// Whether the gateway numbered its datagrams in order: each under the number of the one before (a
// signal's tail sent again) or the next. Only then is a number out of order at the terminal's
// receiver the network's.
bool numberedInOrder(const std::vector<std::vector<uint8_t>>& datagrams) {
  Datagram before;
  for (size_t i = 0; i < datagrams.size(); ++i) {
    Datagram d;
    if (!parseDatagram(datagrams[i], &d)) return false;
    if (i > 0 && d.seq != before.seq && d.seq != uint16_t(before.seq + 1)) return false;
    before = d;
  }
  return true;
}

// The number ahead of `closing` the T.38 terminal's receiver handed on before it first handed on
// number `first` (-1: none did, or it never handed `first` on).
int numberHandedAheadBefore(const Outcome& o, uint16_t first, uint16_t closing) {
  const auto& n = o.toT38TerminalNumbers;
  const auto at = std::find(n.begin(), n.end(), first);
  if (at == n.end()) return -1;
  const auto ahead = std::find_if(n.begin(), at, [&](uint16_t x) { return static_cast<int16_t>(x - closing) > 0; });
  return ahead == at ? -1 : int(*ahead);
}

// The number the T.38 terminal's receiver handed on before a skip in its numbers, when it handed
// on the gateway's packets `from`..`to` (a frame, first octet to closing FCS) in a row under numbers
// in a row, and the skip lies between them and the packet of frame data it handed on before them
// (only indicators, if anything, between): the frame lies wholly after the skip. -1 when there is
// no such skip, or it handed the packets on otherwise.
int numberBeforeASkip(const Outcome& o, const std::vector<NumberedIfp>& sent, int from, int to) {
  const auto& got = o.toT38Terminal;
  const auto& n = o.toT38TerminalNumbers;
  const int len = to - from + 1;
  for (int i = int(std::min(got.size(), n.size())) - len; i >= 0; --i) {
    bool inARow = true;
    for (int k = 0; k < len && inARow; ++k)
      inARow = got[size_t(i + k)] == sent[size_t(from + k)].second && (k == 0 || n[size_t(i + k)] == uint16_t(n[size_t(i + k - 1)] + 1));
    if (!inARow) continue;
    std::vector<IfpField> fields;
    for (int j = i; j >= 1; --j) {
      if (n[size_t(j - 1)] != uint16_t(n[size_t(j)] - 1)) return int(n[size_t(j - 1)]);
      if (!ifpFields(got[size_t(j - 1)], &fields) || !fields.empty()) break;  // frame data before it
    }
    return -1;
  }
  return -1;
}

// When the frame the T.38 terminal sent before its last one had reached the gateway: its last V.21
// data packet's first arrival (-1: no such frame, or that packet never arrived as sent under its
// number). From then on the gateway's datagrams carry the exchange its last frame answered.
long frameBeforeTheLastArrived(const Outcome& o) {
  const V21FramePlace frame = lastV21Frame(o.t38Packets);
  if (frame.previous < 0) return -1;
  const auto& [number, ifp] = o.t38Packets[size_t(frame.previous)];
  const auto at = o.atGateway.firstAt.find(number);
  if (at == o.atGateway.firstAt.end()) return -1;
  const auto content = at->second.find(ifp);
  return content == at->second.end() ? -1 : content->second;
}

// The first packet the T.38 terminal's receiver handed on after the call's frame `after` under a
// number the gateway sent, with a content the gateway never sent under it (-1: none; the
// receiver's hand-on times unknown).
int firstPacketAlteredOnTheWayAfter(const Outcome& o, const std::vector<NumberedIfp>& sent, long after) {
  std::map<uint16_t, std::set<std::vector<uint8_t>>> gateways;
  for (const auto& [number, ifp] : sent) gateways[number].insert(ifp);
  const size_t n = std::min({o.toT38Terminal.size(), o.toT38TerminalNumbers.size(), o.toT38TerminalAt.size()});
  for (size_t i = 0; i < n; ++i) {
    if (o.toT38TerminalAt[i] <= after) continue;
    const auto own = gateways.find(o.toT38TerminalNumbers[i]);
    if (own != gateways.end() && own->second.count(o.toT38Terminal[i]) == 0) return int(i);
  }
  return -1;
}

// Every packet of the gateway's last frame `last`, at `frame` in its packets `sent`, handed on in a
// row under numbers in a row, after a skip the frame lies wholly after, and the terminal refused it:
// its core takes a skip in the numbers for data lost, though nothing of the frame was. Names the
// wait so in `v` when that is what the call shows.
bool nameARefusalAfterASkip(const Outcome& o, const std::vector<NumberedIfp>& sent, const V21FramePlace& frame,
                            const std::vector<uint8_t>& last, Verdict& v) {
  const bool taken = accepted(o.t38Frames, last);
  const int before = numberBeforeASkip(o, sent, frame.first, frame.closing);
  if (taken || before < 0) return false;
  v.lastFrameRefusedAfterASkip = true;
  v.why = "the T.38 terminal's receiver handed on every packet of the gateway's last frame in a row under numbers in a row, "
          "after a skip from number " + std::to_string(before) + ", and the terminal refused the frame";
  return true;
}

// The T.38 terminal waits for the audio terminal's last frame `last`, or gave up for want of it:
// whether the gateway sent it whole, in datagrams with every copy its redundancy asks, and the
// network then lost a packet of it in every datagram that carried it, or the terminal's receiver
// handed on what the gateway never sent in its place, or refused it for a skip before it.
void nameTheLossTowardsTheT38Terminal(const Case& c, const Outcome& o, const std::vector<uint8_t>& last, Verdict& v) {
  const std::vector<NumberedIfp> sent = primariesOf(o.gatewayDatagrams);
  const V21FramePlace frame = lastV21Frame(sent);
  if (frame.last < 0 || frame.closing < 0 || !carriesV21Frame(ifpsOf(sent, frame.first, frame.closing), last)) {
    v.why = "unnamed: the gateway never sent the audio terminal's last frame whole";
    return;
  }
  const int reg = c.spandspGateway ? c.redundancy * 0x101 : c.gatewayRedundancyReg >= 0 ? c.gatewayRedundancyReg : c.redundancy * 0x101;
  const int shortOne = firstDatagramShortOfCopies(o.gatewayDatagrams, reg & 0xFF, reg >> 8);
  if (shortOne >= 0) {  // the gateway's own doing
    v.why = "unnamed: the gateway's datagram " + std::to_string(shortOne) + " went without the copies its redundancy asks";
    return;
  }
  const bool inOrder = numberedInOrder(o.gatewayDatagrams);
  const int missing = firstPacketNotArrived(o.atPeer, sent, frame.first, frame.closing);
  if (missing < 0 && carriesV21Frame(o.toT38Terminal, last)) {
    const int ahead = numberHandedAheadBefore(o, sent[size_t(frame.first)].first, sent[size_t(frame.closing)].first);
    const bool taken = accepted(o.t38Frames, last);
    if (inOrder && ahead >= 0 && !taken) {
      v.lastFrameBehindANumberAhead = true;
      v.why = "the T.38 terminal's receiver handed on the gateway's last frame whole, but only after number " + std::to_string(ahead) +
              ", ahead of it (the terminal takes what comes behind as late)";
      return;
    }
    // a frame it sent before may be the same: what the terminal got last is what counts
    const auto handedGood = goodHdlcFrames(o.toT38Terminal, true);
    const auto gatewayGood = goodHdlcFrames(ifpsOf(sent), true);
    if (inOrder && !handedGood.empty() && std::find(gatewayGood.begin(), gatewayGood.end(), handedGood.back()) == gatewayGood.end()) {
      v.lastFrameMadeOnTheWay = true;
      v.why = "the T.38 terminal's receiver last handed on, closed good, a frame the gateway's datagrams never closed good (" +
              hex(handedGood.back()).substr(0, 24) + ")";
      return;
    }
    if (inOrder && nameARefusalAfterASkip(o, sent, frame, last, v)) return;
    // a terminal left waiting to the limit has stopped (its own timers would have sent its command
    // again or ended the call), and its receiver had handed on what the path made of the gateway's
    // datagrams in the exchange its own last frame answered, or later. The gateway holds no signal
    // open (its own ended) and numbered its datagrams in order
    const long answered = frameBeforeTheLastArrived(o);
    const int altered = answered >= 0 ? firstPacketAlteredOnTheWayAfter(o, sent, answered) : -1;
    if (inOrder && altered >= 0 && sent.back().second == std::vector<uint8_t>{0x00}) {
      v.silencedByAPacketAlteredOnTheWay = true;
      v.why = "the T.38 terminal's receiver handed on under the gateway's number " + std::to_string(o.toT38TerminalNumbers[size_t(altered)]) +
              " a packet the gateway never sent there (" + hex(o.toT38Terminal[size_t(altered)]).substr(0, 24) +
              "), after the terminal's frame before its last had reached the gateway, and the terminal stopped";
      return;
    }
    v.why = "unnamed: the T.38 terminal's receiver handed on the gateway's last frame whole";
    return;
  }
  // a packet missing under the gateway's number that the receiver handed on all the same, under
  // another: the network renumbered the gateway's datagrams and lost nothing of the frame
  if (inOrder && nameARefusalAfterASkip(o, sent, frame, last, v)) return;
  if (missing < 0) {  // the reference's receiver, not the gateway: every packet reached it in time to be seen
    v.lastFrameBrokenByTheTerminalsReceiver = true;
    v.why = "every packet of the gateway's last frame reached the T.38 terminal's receiver, which did not hand the frame on "
            "whole (a packet later than its wait, or under numbers it did not follow)";
    return;
  }
  v.lastFrameLostByTheNetwork = true;
  v.why = "the gateway sent the last frame whole with every copy asked, and its " +
          std::string(missing > frame.last ? "closing FCS packet " : "packet ") + packetName(sent[size_t(missing)]) +
          " reached the T.38 terminal in no datagram";
}

// Whether the T.38 terminal's CED indicator first reached the gateway in the datagram of the packet
// after it, or later.
bool cedIndicatorCameLate(const Outcome& o) {
  for (size_t i = 0; i + 1 < o.t38Packets.size(); ++i)
    if (o.t38Packets[i].second == std::vector<uint8_t>{0x04}) {
      const auto first = o.atGateway.firstCarrier.find(o.t38Packets[i].first);
      return first != o.atGateway.firstCarrier.end() && static_cast<int16_t>(first->second - o.t38Packets[i + 1].first) >= 0;
    }
  return false;
}

// The frames the T.38 terminal accepted that the audio terminal never sent, split by whether the
// gateway's own datagrams closed them good (its primaries, as it sent them) or they were made on
// the way, by what the path did to those datagrams or by the terminal's receiver.
struct ForgedTowardsT38 {
  std::vector<std::vector<uint8_t>> byTheGateway, onTheWay;
};
ForgedTowardsT38 forgedTowardsT38(const Outcome& o) {
  const auto said = goodFramesOfEitherKind(ifpsOf(primariesOf(o.gatewayDatagrams)));
  ForgedTowardsT38 out;
  for (auto& f : forgedFrameOctets(o.audioFrames, o.t38Frames))
    (std::find(said.begin(), said.end(), bitReversed(f)) != said.end() ? out.byTheGateway : out.onTheWay).push_back(std::move(f));
  return out;
}

// What reached the gateway, with each number that came in two or more contents settled to the one
// the peer sent there as its primary (it sent no other primary under it, and that one arrived): read
// across such a number, a frame the gateway played is the peer's word only where the octets played
// there are the peer's, i.e. its receiver handed on what the peer sent and not the other content.
PacketsArrived settledAsThePeerSent(const Outcome& o) {
  std::map<uint16_t, std::set<std::vector<uint8_t>>> primaries;
  for (const auto& [s, ifp] : o.t38Packets) primaries[s].insert(ifp);
  PacketsArrived at = o.atGateway;
  for (auto& [s, got] : at.contents) {
    const auto sent = primaries.find(s);
    if (got.size() < 2 || sent == primaries.end() || sent->second.size() != 1) continue;
    const auto peers = got.find(*sent->second.begin());
    if (peers == got.end()) continue;
    const std::pair<std::vector<uint8_t>, int> only = *peers;
    got = {only};
  }
  return at;
}

// Whether every forged frame and wrong ECM page is exactly what the peer's own datagrams said; `why`
// names the evidence. Frames the gateway's own datagrams forged towards the T.38 terminal came
// from the line: no peer said them.
bool forgedByThePeer(const Case& c, const Outcome& o, const Verdict& v, bool forgedFromTheLine, std::string* why) {
  if (forgedFromTheLine) return false;
  const int redundancy = c.peerRedundancy >= 0 ? c.peerRedundancy : c.redundancy;
  const auto word = thePeersWord(o.t38Packets, redundancy, o.alteredCopies, o.atGateway);
  const auto said = goodFramesOfEitherKind(word);
  // a number another content contradicted spoils no frame played with the peer's own content there
  // (a step of the peer's numbering elsewhere in the frame, inside a run of equal octets, is then
  // still the peer's word); one played with the other content still does
  const auto saidSettled = goodFramesOfEitherKind(thePeersWord(o.t38Packets, redundancy, o.alteredCopies, settledAsThePeerSent(o)));
  const auto forged = forgedFrameOctets(o.t38Frames, o.audioFrames);
  // the line carries a frame as the gateway passes it on: an NSF or NSS the peer's datagrams said
  // reaches the audio terminal without its facilities, a DIS or DTC with its capabilities rewritten
  auto saidSo = [](const std::vector<std::vector<uint8_t>>& frames, const std::vector<uint8_t>& f) {
    return std::any_of(frames.begin(), frames.end(), [&](const std::vector<uint8_t>& s) {
      const std::vector<uint8_t> logged = bitReversed(s);
      return logged == f || facilitiesBlanked(logged) == f || capabilitiesRewritten(logged, f);
    });
  };
  bool settled = false;
  for (const auto& f : forged) {
    if (saidSo(said, f)) continue;
    if (!saidSo(saidSettled, f)) return false;
    settled = true;
  }
  std::string ecm;
  if (v.wrongPages > 0) {
    if (c.audioSends) return false;  // the page came from the line
    const auto meantFrames = goodHdlcFrames(ifpsOf(o.t38Packets), false);
    const auto saidFrames = goodHdlcFrames(word, false);
    const auto other = std::find_if(saidFrames.begin(), saidFrames.end(), [&](const auto& f) {
      return std::find(meantFrames.begin(), meantFrames.end(), f) == meantFrames.end();
    });
    // or the block's frames were the peer's, and the PPS that counted them for the line's terminal
    // was a forged one the peer's datagrams alone said (its frame count altered on the way, with no
    // copy to say otherwise): the terminal made its page of the frames that PPS counted
    constexpr uint8_t kFcfPps = 0xBE;  // as logged, X bit (0x01) cleared
    const bool countedByASaidPps = std::any_of(forged.begin(), forged.end(), [](const std::vector<uint8_t>& f) {
      return f.size() > 3 && (f[2] & 0xFE) == kFcfPps;
    });
    if (other != saidFrames.end())
      ecm = "an ECM frame of " + std::to_string(other->size()) + " octets the peer's datagrams alone closed good";
    else if (countedByASaidPps)
      ecm = "a PPS the peer's datagrams alone said counted the block's frames for the line's terminal";
    else
      return false;
  }
  *why = (forged.empty()  ? ""
          : settled       ? "every forged frame is one the peer's datagrams alone said, where a number came in two contents with "
                            "the content the peer sent there"
                          : "every forged frame is one the peer's datagrams alone said, with no copy saying otherwise") +
         std::string(!forged.empty() && !ecm.empty() ? "; " : "") + ecm;
  return true;
}

// What had reached the gateway under the peer's numbers, in the peer's order, before the call's
// frame `before`: the one content that came under each, or nothing where none or two did; how many
// of those numbers another content contradicted only from `before` on, and whether one of them
// got its content out of its turn (before anything came under the peer's number before it).
struct ArrivedBefore {
  std::vector<std::vector<uint8_t>> word;
  int contradictedLater = 0;
  bool outOfTurn = false;
};
ArrivedBefore arrivedBefore(const Outcome& o, long before) {
  ArrivedBefore out;
  long previousFirst = -1;
  for (const auto& numbered : o.t38Packets) {
    const auto at = o.atGateway.firstAt.find(numbered.first);
    std::vector<uint8_t> only;
    int earlier = 0;
    bool later = false;
    long first = -1;
    if (at != o.atGateway.firstAt.end())
      for (const auto& [content, when] : at->second) {
        first = first < 0 ? when : std::min(first, when);
        if (when < before) {
          ++earlier;
          only = content;
        } else {
          later = true;
        }
      }
    out.word.push_back(earlier == 1 ? only : std::vector<uint8_t>{});
    if (earlier == 1 && later) {
      ++out.contradictedLater;
      out.outOfTurn = out.outOfTurn || first < previousFirst;
    }
    if (first >= 0) previousFirst = first;
  }
  return out;
}

// Whether every frame forged towards the audio terminal was closed good by what had reached the
// gateway, unanimous and in turn, before the terminal accepted it, and a content under one of its
// numbers said otherwise only from then on: by then the gateway's modem had sent the frame's end.
bool forgedBeforeItsContradictionCame(const Outcome& o, const std::vector<std::vector<uint8_t>>& forged) {
  if (forged.empty()) return false;
  for (const auto& f : forged) {
    const auto it = std::find(o.audioFrames.accepted.begin(), o.audioFrames.accepted.end(), f);
    const size_t i = size_t(it - o.audioFrames.accepted.begin());
    if (it == o.audioFrames.accepted.end() || i >= o.audioFrames.acceptedAt.size() || o.audioFrames.acceptedAt[i] < 0) return false;
    const ArrivedBefore a = arrivedBefore(o, o.audioFrames.acceptedAt[i]);
    if (a.contradictedLater == 0 || a.outOfTurn || !carriesV21Frame(a.word, f)) return false;
  }
  return true;
}

// The audio terminal, left waiting, last accepted a forged frame (every forged frame the peer's
// own word: `v` says so already), and the T.38 terminal sent nothing after that: the wait follows
// from what the peer's datagrams said in place of its last frame. Names the wait so in `v`.
void nameAWaitAfterAFrameThePeerForged(const Outcome& o, Verdict& v) {
  const FrameLog& audio = o.audioFrames;
  if (!v.hung || v.waitNamed() || o.audioStatus >= 0 || audio.accepted.empty() || audio.acceptedAt.size() != audio.accepted.size() ||
      o.t38Frames.sent.empty() || o.t38Frames.sentAt.size() != o.t38Frames.sent.size())
    return;
  const auto forged = forgedFrameOctets(o.t38Frames, audio);
  if (std::find(forged.begin(), forged.end(), audio.accepted.back()) == forged.end() ||
      o.t38Frames.sentAt.back() > audio.acceptedAt.back())
    return;
  v.waitsAfterAFrameThePeerForged = true;
  v.why = "the audio terminal last accepted a forged frame (" + hex(audio.accepted.back()).substr(0, 24) +
          "), after the T.38 terminal's last frame was sent, and waits on";
}

}  // namespace

Verdict judge(const Case& c, const Outcome& o) {
  Verdict v;
  v.completed = o.audioStatus == T30_ERR_OK && o.t38Status == T30_ERR_OK && o.receiver.pages_rx == 2 && o.received == o.sent;
  v.hung = o.hung;
  // the terminal still waiting, and the last frame the other one sent before it ended
  const bool audioWaits = o.audioStatus < 0 && o.t38Status >= 0, t38Waits = o.t38Status < 0 && o.audioStatus >= 0;
  const FrameLog& ended = audioWaits ? o.t38Frames : o.audioFrames;
  const FrameLog& waiting = audioWaits ? o.audioFrames : o.t38Frames;
  if ((audioWaits || t38Waits) && !ended.sent.empty()) {
    const std::vector<uint8_t>& last = ended.sent.back();
    if (audioWaits)
      nameTheWaitForTheLastFrame(o, ended.sent.size() > 1 ? ended.sent[ended.sent.size() - 2] : std::vector<uint8_t>{}, last, v);
    else
      nameTheLossTowardsTheT38Terminal(c, o, last, v);
    // it accepted the other's last frame, and that was no DCN: the other gave up on an error of its own
    const bool dcn = last.size() >= 3 && (last[2] & 0xFE) == 0xFA;
    if (!v.waitNamed() && !dcn && accepted(waiting, last)) {
      v.waitsForAFrameNeverSent = true;
      v.why = "the waiting terminal accepted the other's last frame, " + hex(last).substr(0, 9) + "(no DCN)";
    }
  }
  // both wait: the T.38 terminal for an answer to its command, the audio terminal for the T.38
  // terminal, which went silent for want of that answer
  if (o.audioStatus < 0 && o.t38Status < 0 && !o.audioFrames.sent.empty()) nameTheLossTowardsTheT38Terminal(c, o, o.audioFrames.sent.back(), v);
  // the T.38 terminal gave up where the audio terminal ended well, never having taken the audio
  // terminal's last frame: it ended for want of that frame, as one left waiting for it would wait
  if (o.audioStatus == T30_ERR_OK && o.t38Status > T30_ERR_OK && !o.audioFrames.sent.empty() &&
      !accepted(o.t38Frames, o.audioFrames.sent.back()))
    nameTheLossTowardsTheT38Terminal(c, o, o.audioFrames.sent.back(), v);
  // what the late CED delayed is the T.38 terminal's first frame: only a wait for it is excused
  if (audioWaits && !v.waitNamed() && !o.t38Frames.sent.empty() && cedIndicatorCameLate(o) &&
      std::none_of(o.t38Frames.sent.begin(), o.t38Frames.sent.end(), [&](const auto& f) {
        return accepted(o.audioFrames, f);
      })) {
    v.cedIndicatorLate = true;
    v.why = "the T.38 terminal's CED indicator first reached the gateway with a later packet, and the audio terminal accepted none of its frames";
  }
  v.fakes = forgedFrames(o.t38Frames, o.audioFrames);
  const ForgedTowardsT38 towardsT38 = forgedTowardsT38(o);
  for (const auto& f : towardsT38.byTheGateway) v.fakes.push_back(std::to_string(f.size()) + " octets: " + hex(f).substr(0, 60));
  v.forged = int(v.fakes.size());
  v.forgedOnTheWay = int(towardsT38.onTheWay.size());
  if (c.ecm)
    for (size_t p = 0; p < o.received.size() && p < o.sent.size(); ++p) v.wrongPages += o.received[p] != o.sent[p];
  // a wrong page at the T.38 terminal whose only forged frames were made on the way is the path's
  if (v.wrongPages > 0 && c.audioSends && v.forged == 0 && v.forgedOnTheWay > 0) {
    v.pagesWrongOnTheWay = v.wrongPages;
    v.wrongPages = 0;
  }
  if (v.forgedOnTheWay > 0)
    v.why += (v.why.empty() ? "" : "; ") + std::to_string(v.forgedOnTheWay) +
             " frame(s) the T.38 terminal accepted that the gateway's own datagrams never closed good (made on the way)";
  std::string forgedWhy;
  if ((v.forged > 0 || v.wrongPages > 0) && forgedByThePeer(c, o, v, !towardsT38.byTheGateway.empty(), &forgedWhy)) {
    v.forgedByThePeer = true;
    nameAWaitAfterAFrameThePeerForged(o, v);
    v.why += (v.why.empty() ? "" : "; ") + forgedWhy;
  } else if (v.forged > 0 && v.wrongPages == 0 && towardsT38.byTheGateway.empty() &&
             forgedBeforeItsContradictionCame(o, forgedFrameOctets(o.t38Frames, o.audioFrames))) {
    v.forgedBeforeItsContradictionCame = true;
    v.why += std::string(v.why.empty() ? "" : "; ") +
             "every forged frame is what had reached the gateway, in turn and unanimous, before the audio terminal accepted it; "
             "what contradicted it came after";
  }
  return v;
}

std::vector<std::string> violations(const Verdict& ours, const Verdict& theirs, bool cleanPathRenumberedOnly) {
  std::vector<std::string> out;
  if ((ours.forged > 0 || ours.wrongPages > 0) && !ours.forgedByThePeer && !ours.forgedBeforeItsContradictionCame)
    out.push_back("I1 forged " + std::to_string(ours.forged) + " frames, wrong ECM pages " + std::to_string(ours.wrongPages) +
                  (ours.fakes.empty() ? "" : " (" + ours.fakes[0] + ")"));
  for (const Verdict* v : {&ours, &theirs})
    if (v->checksFailed) out.push_back(std::string("the harness's own checks failed in the call through ") + (v == &ours ? "ours" : "spandsp's"));
  if (ours.crashed) out.push_back("I5 the call through ours died on signal " + std::to_string(ours.crashSignal));
  // a call whose process died never ended: nothing tells whether it would have
  if (ours.hung && !theirs.hung && !theirs.crashed && !ours.waitNamed())
    out.push_back("I2 a terminal waits to the limit where spandsp's call ended" + (ours.why.empty() ? "" : " [" + ours.why + "]"));
  // a frame the gateway sent whole and in order, refused for a renumbering that fell just before
  // it, is lost through any gateway whose datagrams the renumbering lands on there
  if (cleanPathRenumberedOnly && theirs.completed && !ours.completed && !ours.lastFrameRefusedAfterASkip)
    out.push_back("I3 clean path, genuine renumberings only: spandsp's completes, ours does not");
  return out;
}

}  // namespace faxcall
