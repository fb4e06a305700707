// What a whole fax call through our gateway (or spandsp's) is made of and what it came to: shared
// by the fixed calls and the sweep.
#pragma once

#include <map>
#include <string>
#include <vector>

extern "C" {
#include <spandsp.h>
}

#include "faxr.h"
#include "faxr_call_loss.h"
#include "t38.h"

namespace faxcall {

constexpr int kV29 = T30_SUPPORT_V27TER | T30_SUPPORT_V29;
constexpr int kV27 = T30_SUPPORT_V27TER;
constexpr int kV17 = T30_SUPPORT_V27TER | T30_SUPPORT_V29 | T30_SUPPORT_V17;

struct Case {
  const char* name;
  int modems;     // T30_SUPPORT_*
  bool ecm;
  bool audioSends;  // the audio terminal sends (and calls); else the T.38 terminal does
  int lossPercent;
  bool reorder;
  std::vector<Drop> dropsToPeer = {}, dropsToGateway = {};  // deterministic losses
  int redundancy = 3;        // secondaries in each side's datagrams
  unsigned seed = 0;         // varies the random losses of calls that are otherwise alike
  int lossBurstMean = 0;     // with random loss: lost datagrams come in runs of this mean length
  bool spandspGateway = false;  // the same call through spandsp's own gateway instead of ours
  SeqHop hopToGateway = {};  // the peer's numbering
  int floodAt = -1;                   // a datagram of 127 fields goes to the gateway before this one
  int gatewayRedundancyReg = -1;      // our gateway's redundancy register (-1: `redundancy` both ways)
  int peerRedundancy = -1;            // the peer's secondaries (-1: `redundancy`)
  Stale staleToGateway = {};  // old datagrams the network delivers to the gateway besides the stream
  // datagrams to the gateway that a holding drop keeps back go once the gateway has sent one
  // this drop matches (counted while they are held)
  std::vector<Drop> releaseHeldOn = {};
  // ---- what a sweep draws besides ----
  int document = 0;             // 0 bars, 1 all black, 2 a sparse chart
  long frameLimit = 9000;       // the call is given up after this many frames (10 ms each)
  int lossStayPercent = 0;      // with random loss: a lost datagram's successor is lost with this chance
  int duplicatePercent = 0;     // datagrams that arrive twice, the copy up to 2 frames later
  int jitterFrames = 0;         // each datagram is delayed 0 to this many frames
  long blackoutFrom = -1;       // no datagram arrives in either direction for `blackoutFrames` from here
  long blackoutFrames = 0;
  bool blackoutDelays = false;  // the datagrams of that window are not lost but held until after it (a delay spike)
  std::vector<Event> eventsToGateway = {};
  std::vector<Event> eventsToPeer = {};  // the same on the gateway's datagrams towards the T.38 terminal
  Rechunk peerChunks = {};  // the T.38 terminal's data cut into packets of these sizes
};

struct Outcome {
  int audioStatus = -1;
  int t38Status = -1;
  t30_stats_t sender{};
  t30_stats_t receiver{};
  std::vector<std::vector<std::vector<uint8_t>>> sent, received;
  uint16_t relayStatus = 0;  // the fax relay's status word once the call is over
  HSZFAXRSTATS relayStats{};
  FrameLog audioFrames, t38Frames;
  SeqLog toPeerSeqs;                 // the gateway's datagram numbers and what the peer made of them
  std::vector<std::vector<uint8_t>> gatewayIfps;  // the primaries the gateway sent, once per number
  HAPI_T38_STATS t38Stats{};
  long frames = 0;
  bool hung = false;  // a terminal had not ended at the limit
  PacketsArrived atGateway;  // what the network delivered to the gateway
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> alteredCopies;  // copies the peer sent altered
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> t38Packets;     // the T.38 terminal's primaries, numbered
  std::vector<std::vector<uint8_t>> toT38Terminal;  // the IFP packets the T.38 terminal's receiver took, in order
  std::vector<uint16_t> toT38TerminalNumbers;       // the number it handed each of them on under
  std::vector<long> toT38TerminalAt;                // the call's frame (10 ms) it handed each of them on in
  // what our gateway's receiver played under each number (the digest of the packet, t38fIFPdigest)
  // and the call's frame it played it in; its last play there. Empty through spandsp's gateway
  struct Played {
    long at = 0;
    uint16_t digest = 0;
  };
  std::map<uint16_t, Played> gatewayPlayed;
  // the same two towards the T.38 terminal: what the gateway's datagrams carried altered or under
  // another number, and the gateway's primaries as a faithful network would number them
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> alteredCopiesToPeer;
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> gatewayPackets;
  std::vector<std::vector<uint8_t>> gatewayDatagrams;  // every datagram the gateway sent, as sent, copies and all
  PacketsArrived atPeer;  // what the network delivered to the T.38 terminal's receiver
};

Outcome runCall(const Case& c);

// A call judged: completed with the pages sent, frames accepted that no terminal sent, accepted
// ECM pages that differ from the pages sent, a terminal still waiting at the limit. A wait or a
// forgery is not the gateway's only for a reason named from what the call shows, and `why` says
// which evidence decided it.
struct Verdict {
  bool completed = false, hung = false;
  // the terminal left waiting waits for the other's last frame, which the network lost: a packet
  // of it (its closing FCS too) never reached the gateway under its number, in a primary or any
  // copy; or the gateway sent it whole, with every copy its redundancy asks, and a packet of it
  // never reached the T.38 terminal's receiver
  bool lastFrameLostByTheNetwork = false;
  // the T.38 terminal waits for the audio terminal's last frame, which the gateway sent whole with
  // every copy asked and whose every packet reached the terminal's receiver, and that receiver did
  // not hand the frame on whole: the reference's own receiver lost it, late beyond its wait or
  // under numbers it did not follow
  bool lastFrameBrokenByTheTerminalsReceiver = false;
  // the T.38 terminal waits for the audio terminal's last frame, which the gateway sent whole with
  // every copy asked, numbering its datagrams in order, and its receiver either handed that frame
  // on whole only after a packet under a number ahead of it (the terminal takes what comes behind
  // as late), or handed on, closed good, a last frame the gateway's datagrams never closed good
  bool lastFrameBehindANumberAhead = false, lastFrameMadeOnTheWay = false;
  // the T.38 terminal waits for the audio terminal's last frame, or gave up for want of it, which
  // the gateway sent whole with every copy asked, numbering its datagrams in order, and whose every
  // packet, first octet to closing FCS, its receiver handed on in a row under numbers in a row (the
  // gateway's, or a renumbering's on the way), after a skip in the numbers it handed on: the
  // terminal refused the frame, taking the skip for data lost, though nothing of the frame lay in it
  bool lastFrameRefusedAfterASkip = false;
  // the T.38 terminal waits for the audio terminal's last frame, which the gateway sent whole with
  // every copy asked, numbering its datagrams in order and ending its signal, and the terminal's
  // receiver handed on, under a number of the gateway's, a packet the gateway never sent there,
  // once the terminal's frame before its last had reached the gateway: the terminal stopped (its
  // own timers would have sent its command again or ended the call) on what the path made of the
  // gateway's datagrams
  bool silencedByAPacketAlteredOnTheWay = false;
  // the terminal left waiting accepted all the other sent, which then ended on an error of its own
  // without a DCN: it waits for a frame nobody sent
  bool waitsForAFrameNeverSent = false;
  // the audio terminal waits for the T.38 terminal's last frame, which reached the gateway whole
  // but could not be told apart: every packet between it and the frame before was lost (its
  // preamble, the other's end), or one of its packets came in two contents, the peer's and one
  // the peer altered, each in as many datagrams (nothing tells which the peer sent; the network's
  // duplicate of a datagram is the same word again), or the altered one came first and our
  // gateway played it before any other content under its number came
  bool lastFrameUndelimited = false, lastFrameDisputedByAnAlteredCopy = false;
  // the audio terminal waits for the T.38 terminal's last frame, inside which the peer's own
  // numbering skipped numbers under which nothing reached the gateway: no receiver can tell that
  // from the loss of those numbers, and a frame across lost numbers ends bad; or under which only
  // the packets as many numbers before came, and nothing under the numbers before the skip shows
  // that shift: no receiver can tell the step from those packets sent again and lost
  bool lastFrameSkippedUnseen = false;
  // the audio terminal waits for the T.38 terminal's last frame, which its packets carry only at
  // the end of another frame closed good: the start of the frame it sent before, then the last
  // frame's octets, under one FCS (its T.38 side took the last frame while the one before still
  // went out). The peer never sent that frame on its own, and a gateway could play it only by
  // splitting a frame the peer closed good
  bool lastFrameJoinedByThePeer = false;
  // the audio terminal waits for the T.38 terminal's first frame, which it never accepted, and the
  // T.38 terminal's CED indicator reached the gateway only with the packet after it: the relay's
  // own CED (its specified length) began when the far CED had ended, and the T.38 terminal's
  // timeout ran while it played
  bool cedIndicatorLate = false;
  // the audio terminal waits on after the last frame it accepted, a forged one that the peer's own
  // datagrams said (forgedByThePeer), taken after the T.38 terminal had sent its last frame: a
  // frame the peer's word made of that one (a final frame come as a non-final one) left it waiting
  // for a frame nobody would send
  bool waitsAfterAFrameThePeerForged = false;
  // every forged frame and wrong ECM page is exactly what the peer's own datagrams said: a frame
  // read from numbers whose every arrival was one content the peer put there, or, for a forged
  // frame, where a number came in two contents, the one the peer sent there as its packet, which
  // is what the frame played there
  bool forgedByThePeer = false;
  // every frame forged towards the audio terminal is what had reached the gateway before that
  // terminal accepted it, one content under each of the peer's numbers, each in its turn, and
  // under one of them another content came only then or later: the frame's end had been played
  // before anything could tell it from the peer's
  bool forgedBeforeItsContradictionCame = false;
  int forged = 0, wrongPages = 0;
  // frames the T.38 terminal accepted that the gateway's own datagrams never closed good, and the
  // wrong ECM pages they made: the path's work on the datagrams towards it, not the gateway's
  int forgedOnTheWay = 0, pagesWrongOnTheWay = 0;
  std::vector<std::string> fakes;
  std::string why;  // the evidence that named the wait or the forgery
  // the call's process died on a signal (`crashSignal`): a terminal's library, or the gateway,
  // crashed on what reached it; the call neither completed nor ended
  bool crashed = false;
  int crashSignal = 0;
  // a check of the call's own failed there (its output says which): the call measures nothing
  bool checksFailed = false;
  bool waitNamed() const {
    return lastFrameLostByTheNetwork || lastFrameBrokenByTheTerminalsReceiver || lastFrameBehindANumberAhead || lastFrameMadeOnTheWay ||
           lastFrameRefusedAfterASkip || silencedByAPacketAlteredOnTheWay ||
           waitsForAFrameNeverSent || lastFrameUndelimited || lastFrameDisputedByAnAlteredCopy || lastFrameSkippedUnseen ||
           lastFrameJoinedByThePeer || cedIndicatorLate || waitsAfterAFrameThePeerForged;
  }
};
Verdict judge(const Case& c, const Outcome& o);

// The checks on one call through ours and the same call through spandsp's: I1 ours forged nothing
// the peer did not say, I2 ours left no terminal waiting where spandsp's call ended without a
// named reason, I3 on a clean path with only genuine renumberings ours completes where spandsp's
// does (`cleanPathRenumberedOnly`) unless the T.38 terminal refused, for a skip just before it, a
// last frame the gateway sent whole, I5 the call through ours did not crash; and the harness's own
// checks held in both calls. One line each.
std::vector<std::string> violations(const Verdict& ours, const Verdict& theirs, bool cleanPathRenumberedOnly);

}  // namespace faxcall
