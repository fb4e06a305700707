// The UDPTL receiver's own helpers, shared by its files: what it knows under each number, the
// packets a datagram carries and how they compare with the stream, and the rules' entry points
// (the rules are listed in t38_udptl.h with the fault each stops).
#pragma once

#include <algorithm>
#include <bit>
#include <cstring>

#include "t38_udptl.h"
#include "t38_ifp.h"

namespace t38rx {

inline int slotOf(uint16_t s) { return s & (T38_NUMBER_SLOTS - 1); }

// What the stream knows of s. A packet a sequence before the last restart played under s is
// nothing to the stream (the peer may reuse the number for anything): only rule 2 reads it
// (playedUnder), to tell the past brought again.
inline T38_NUMBER_STATE stateOf(const T38ZREORDER* rq, uint16_t s) {
  const int k = slotOf(s);
  const T38_NUMBER_STATE st = static_cast<T38_NUMBER_STATE>(rq->numbers.state[k]);
  return rq->numbers.seq[k] == s && st != T38_PAST ? st : T38_UNKNOWN;
}

// Whether the packet of this digest was played under s, by this sequence or one before it.
inline bool playedUnder(const T38ZREORDER* rq, uint16_t s, uint16_t digest) {
  const int k = slotOf(s);
  return rq->numbers.seq[k] == s && (rq->numbers.state[k] == T38_PLAYED || rq->numbers.state[k] == T38_PAST) &&
         rq->numbers.content[k] == digest;
}

// Every change of a number's record goes here, which keeps the count of packets held alone.
inline void setState(T38ZREORDER* rq, uint16_t s, T38_NUMBER_STATE state) {
  const int k = slotOf(s);
  rq->aloneHeld = static_cast<uint8_t>(rq->aloneHeld - (rq->numbers.state[k] == T38_ALONE) + (state == T38_ALONE));
  rq->numbers.seq[k] = s;
  rq->numbers.state[k] = state;
}

// The meanings of a number's two words, by state (T38ZNUMBERS).
inline uint16_t& playedDigest(T38ZREORDER* rq, uint16_t s) { return rq->numbers.content[slotOf(s)]; }
inline uint16_t playedDigest(const T38ZREORDER* rq, uint16_t s) { return rq->numbers.content[slotOf(s)]; }
inline uint16_t& queuedFrom(T38ZREORDER* rq, uint16_t s) { return rq->numbers.origin[slotOf(s)]; }
inline uint16_t queuedFrom(const T38ZREORDER* rq, uint16_t s) { return rq->numbers.origin[slotOf(s)]; }
inline uint16_t& suspectBrought(T38ZREORDER* rq, uint16_t s) { return rq->numbers.content[slotOf(s)]; }
inline uint16_t& suspectHeldBefore(T38ZREORDER* rq, uint16_t s) { return rq->numbers.origin[slotOf(s)]; }
inline uint16_t& disputedDigest(T38ZREORDER* rq, uint16_t s) { return rq->numbers.content[slotOf(s)]; }
inline uint16_t disputedDigest(const T38ZREORDER* rq, uint16_t s) { return rq->numbers.content[slotOf(s)]; }
// A number disputed with `other` as the content that came there: it plays as lost unless a later
// copy settles it.
inline void markDisputed(T38ZREORDER* rq, uint16_t s, uint16_t other) {
  setState(rq, s, T38_DISPUTED);
  disputedDigest(rq, s) = other;
}
inline uint16_t& broughtBy(T38ZREORDER* rq, uint16_t s) { return rq->numbers.content[slotOf(s)]; }
inline uint16_t broughtBy(const T38ZREORDER* rq, uint16_t s) { return rq->numbers.content[slotOf(s)]; }

// The datagrams that brought a queued packet, up to 15, and beside them whether other content
// came under its number (rule 4): whichever of the two plays, the other may have been the peer's
// as well, sent under that number again when its numbering stepped back.
constexpr uint8_t kContested = 0x80;
// and whether a datagram that brought it carried the packet before it as the stream holds it
constexpr uint8_t kFollows = 0x40;
inline int votesFor(const T38ZREORDER* rq, uint16_t s) { return rq->numbers.votes[slotOf(s)] & 0x0F; }
inline void setVotes(T38ZREORDER* rq, uint16_t s, int votes) {
  uint8_t& v = rq->numbers.votes[slotOf(s)];
  v = static_cast<uint8_t>((v & (kContested | kFollows)) | std::min(votes, 15));
}
inline bool contested(const T38ZREORDER* rq, uint16_t s) { return (rq->numbers.votes[slotOf(s)] & kContested) != 0; }
inline void markContested(T38ZREORDER* rq, uint16_t s) { rq->numbers.votes[slotOf(s)] |= kContested; }
inline bool follows(const T38ZREORDER* rq, uint16_t s) { return (rq->numbers.votes[slotOf(s)] & kFollows) != 0; }
inline void markFollows(T38ZREORDER* rq, uint16_t s) { rq->numbers.votes[slotOf(s)] |= kFollows; }

// Marks s contested by `other`, the content that came there beside the one queued.
inline void markContestedBy(T38ZREORDER* rq, uint16_t s, uint16_t other) {
  markContested(rq, s);
  rq->contestedSeq[rq->contestedNext] = s;
  rq->contestedOther[rq->contestedNext] = other;
  rq->contestedNext = static_cast<uint8_t>((rq->contestedNext + 1) % T38_CONTESTED_KEPT);
}

// Whether number a lies within T38_RESYNC_STEP of number b, either way: the reach of a run, of a
// refused datagram's neighbours, of a renumbering's numbers (the network may swap datagrams).
inline bool withinResyncStep(uint16_t a, uint16_t b) {
  return static_cast<uint16_t>(a - b + T38_RESYNC_STEP) <= 2 * T38_RESYNC_STEP;
}

inline bool inWindow(const T38ZREORDER* rq, uint16_t s) {
  return static_cast<uint16_t>(s - rq->lastoutTimeStamp - 1) < T38_WINDOW_AHEAD;
}

// The stream vouches for numbers up to s.
inline void vouchUpTo(T38ZREORDER* rq, uint16_t s) {
  if (static_cast<int16_t>(s - rq->newest) > 0) rq->newest = s;
}

// Distance of s past the last number played: the playout's order.
inline uint16_t pastPlayout(const T38ZREORDER* rq, uint16_t s) { return static_cast<uint16_t>(s - rq->lastoutTimeStamp); }

// Packets played from `from` to `to` cross a discontinuity (rule 6). Numbers played already put it
// at the next one to play; a second break widens the span.
inline void noteBreak(T38ZREORDER* rq, uint16_t from, uint16_t to) {
  const uint16_t next = static_cast<uint16_t>(rq->lastoutTimeStamp + 1);
  auto clamp = [&](uint16_t s) { return (pastPlayout(rq, s) == 0 || (pastPlayout(rq, s) & 0x8000)) ? next : s; };
  from = clamp(from);
  to = clamp(to);
  if (rq->breakPending) {
    if (pastPlayout(rq, rq->breakFrom) < pastPlayout(rq, from)) from = rq->breakFrom;
    if (pastPlayout(rq, rq->breakTo) > pastPlayout(rq, to)) to = rq->breakTo;
  }
  rq->breakPending = true;
  rq->breakFrom = from;
  rq->breakTo = to;
}

// The packets played up to s were a stale run's or a stray jump's, which the stream undid at s:
// a frame they opened is none of the stream's, and the stream's packet at s does not go on with it.
inline void noteStrayBefore(T38ZREORDER* rq, uint16_t s) {
  rq->strayBefore = true;
  rq->strayEnd = s;
}

// One IFP packet a datagram carries, found whole by the datagram's walk.
struct Carried {
  const uint8_t* ifp;
  uint16_t len;
  uint16_t s;
  uint16_t digest;
};

// The packet the queue holds under s: its octets (a pad octet may follow) and their count, or 0;
// `record` (when asked) is where it lies in the queue.
inline int queued(const T38ZREORDER* rq, uint16_t s, uint8_t* out, EGR_IFP_PKT** record = nullptr) {
  EGR_IFP_PKT* p = t38egr_ifp_find(&rq->egressPktq, s);
  if (record != nullptr) *record = p;
  return p != nullptr ? t38egr_ifp_octets(p, out, T38_MAX_RX_IFP + 1) : 0;
}

inline bool sameAs(const Carried& pk, const uint8_t* octets, int n) {
  return n >= pk.len && n <= pk.len + 1 && std::memcmp(octets, pk.ifp, pk.len) == 0;
}

// How a datagram's packets compare with what the queue holds in line with the stream, or what was
// played, under their numbers: packets that differ, the datagrams those came in (one foreign
// datagram brings several packets, all wrong together), whether one of them was played already,
// and packets equal to what came in other datagrams than those.
struct Verdict {
  int agree = 0, disagree = 0, disagreeSources = 0;
  bool disagreePlayed = false;
  // packets equal to the stream's under their own numbers and told apart from the ones beside them,
  // whatever datagram brought those: no vote, but they place the datagram at its own number
  int placed = 0;
};

// The V.21 preamble indicator: its one octet, and the digest its packet is recorded under.
constexpr uint8_t kV21Preamble = 0x06;

inline uint16_t v21PreambleDigest() {
  static const uint16_t digest = t38fIFPdigest(&kV21Preamble, 1);
  return digest;
}

// A disconnect's command octet as a V.21 frame carries it, less its top bit: the last frame a peer
// sends, answered by nothing and never sent again.
constexpr uint8_t kV21Disconnect = 0x5F;

// Whether a packet is data of a modem other than V.21 (page data, ECM frames among it); not an
// indicator, nor V.21 data. Page data repeats its packets at every distance (a blank row, a black
// one), so its packet a power of two away proves nothing (rule 5).
inline bool isPageData(const uint8_t* ifp) { return (ifp[0] & 0x40) != 0 && ((ifp[0] & 0x20) != 0 || ((ifp[0] >> 1) & 15) != 0); }

inline bool isV21OrIndicator(const Carried& pk) { return !isPageData(pk.ifp); }

// A datagram that contradicts what the stream vouched for, in packets of as many datagrams as it
// agrees with in others, brings nothing (rule 4).
inline bool refusedFor(const Verdict& v) { return v.disagree > 0 && v.agree <= v.disagreeSources; }

// The vote (rules 4, 5 and 7): t38_udptl_rx_vote.cpp
bool distinct(const T38ZREORDER* rq, const Carried& pk);
Verdict judge(const T38ZREORDER* rq, const Carried* pk, int n);
uint16_t recordDigest(const EGR_IFP_PKT* p, uint16_t fallback);
uint16_t knownDigest(const T38ZREORDER* rq, uint16_t s, uint16_t fallback);
// Whether what is known under s is the packet of this digest.
inline bool knownAs(const T38ZREORDER* rq, uint16_t s, uint16_t digest) {
  return knownDigest(rq, s, static_cast<uint16_t>(~digest)) == digest;
}
int disputedKept(const T38ZREORDER* rq, uint16_t s);
bool bringsDisputedAgain(const T38ZREORDER* rq, const Carried& pk, uint16_t dg);
bool secondWordOnDisputed(const T38ZREORDER* rq, const Carried& pk, uint16_t dg);
void dispute(T38ZREORDER* rq, uint16_t s, uint16_t by, uint16_t carrier);
void suspectOwnNumber(T38ZREORDER* rq, uint16_t s, uint16_t digest, uint16_t other, bool nextToo);
bool copiesShifted(const T38ZREORDER* rq, const Carried* pk, int n, uint16_t shift);
bool copiesShiftedOrUnknown(const T38ZREORDER* rq, const Carried* pk, int n, uint16_t shift);
bool misnumberedCopy(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v);
bool misnumberedAhead(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v);
bool ownOneBitAway(const T38ZREORDER* rq, const Carried* pk, int n, bool telling, bool unplayed);
bool queuedAloneOneBitFrom(const T38ZREORDER* rq, uint16_t x, uint16_t y, uint16_t digest);
bool contradictsMisnumbered(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v, uint16_t* moved);
void noteStepOneBitOff(T38ZREORDER* rq, const Carried& primary, uint16_t shift);
bool bringsSteppedOwn(const T38ZREORDER* rq, const Carried* pk, int n, uint16_t* moved);
bool rulesOutByOrder(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v, uint16_t* ruledOut, int* cut,
                     bool runStart);
bool exposesMisnumbered(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v, uint16_t* moved);
void ruleOut(T38ZREORDER* rq, uint16_t s);
void withdraw(T38ZREORDER* rq, uint16_t s);
bool mayDuplicateDisputed(const T38ZREORDER* rq, const Carried* pk, int n);
void noteHandedOnContradicted(T38ZREORDER* rq, const Carried* pk, int judged, const Verdict& v);
void noteHandedOnOutvoted(T38ZREORDER* rq, const Carried* pk, int judged, const Verdict& v);

// Steps of the peer's numbering (rules 2 and 6): t38_udptl_rx_step.cpp
bool joinsStream(const T38ZREORDER* rq, const Carried* pk, int n);
bool steppedBack(const T38ZREORDER* rq, const Carried* pk, int n);
bool mayHaveSteppedBack(const T38ZREORDER* rq, const Carried* pk, int n);
bool mayHaveSteppedBackUnseen(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v);
uint16_t steppedBackFrom(const T38ZREORDER* rq, const Carried* pk, int n);
uint16_t steppedForward(const T38ZREORDER* rq, const Carried* pk, int n);
bool steppedOver(const T38ZREORDER* rq, uint16_t s);
bool explainedByStep(const T38ZREORDER* rq, const Carried& c);
Carried sentBeforeStep(const T38ZREORDER* rq, const Carried& c);
bool olderThanItsNumber(const T38ZREORDER* rq, const Carried& c, uint16_t dg);
bool stepShownBeyondCopies(const T38ZREORDER* rq, const Carried* pk, int n, uint16_t shift);
void noteStep(T38ZREORDER* rq, const Carried* pk, int n, uint16_t shift);
bool confirmsStep(const T38ZREORDER* rq, const Carried* pk, int n);
bool copyDisprovesStep(const T38ZREORDER* rq, const Carried* pk, int n);
void followStep(T38ZREORDER* rq, const Carried* pk, int n, uint16_t shift);
bool steppedBackOneToOpenAFrame(const T38ZREORDER* rq, const Carried& next);
bool steppedBackWithoutCopies(const T38ZREORDER* rq, const Carried& next);
uint16_t runNewest(const T38ZREORDER* rq);
bool steppedBackWithCopies(const T38ZREORDER* rq, const Carried* pk, int n);
bool steppedBackAndWentOn(const T38ZREORDER* rq, const Carried* pk, int n);
uint16_t stepNewest(const T38ZREORDER* rq);
bool mayGoOnAfterAStepBack(const T38ZREORDER* rq, uint16_t s, int n);

// A new sequence, and the past brought again (rule 2): t38_udptl_rx_sequence.cpp
bool repeatsPlayed(const T38ZREORDER* rq, const Carried& primary);
void drainOldSequence(T38ZREORDER* rq);
void holdRunPackets(T38ZREORDER* rq, const Carried* pk, int n);
bool oneBitFromRun(const T38ZREORDER* rq, uint16_t s);
bool renumberedFrameAfterPreamble(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v);
int renumberedDisconnectBehind(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v);
bool runStartCameLate(const T38ZREORDER* rq, const Carried& primary);
void startAtLateFirst(T38ZREORDER* rq, uint16_t s);
bool joinDisproved(const T38ZREORDER* rq, uint16_t s);
bool followSequence(T38ZREORDER* rq, const Carried* pk, int n, Verdict v);
bool leftSequenceGoesOn(const T38ZREORDER* rq, uint16_t s);
void goBackToLeftSequence(T38ZREORDER* rq, uint16_t s);
bool restartAtRun(T38ZREORDER* rq);
void notePlayedWords(T38ZREORDER* rq, uint16_t s);
bool runResumesLeftSequence(const T38ZREORDER* rq);
void dropUnplayed(T38ZREORDER* rq);
bool restartPlayedNothing(const T38ZREORDER* rq);
bool repeatsPlayedDigest(const T38ZREORDER* rq, uint16_t digest, bool sequencesBefore = false);
bool playedBefore(const T38ZREORDER* rq, const Carried& pk, bool sequencesBefore);

// What a datagram carries, taken (rules 3 and 4): t38_udptl_rx_take.cpp
void vouchForAloneRun(T38ZREORDER* rq, uint16_t s);
bool makeRoomFor(T38ZREORDER* rq, uint16_t s);
bool makeAloneRoom(T38ZREORDER* rq);
bool enqueueMakingRoom(T38ZREORDER* rq, const Carried& pk, bool copies);
bool takeCarried(T38ZREORDER* rq, const Carried& pk, uint16_t dg, bool vouched, Verdict v, bool duplicate, bool copies);
uint16_t datagramDigest(const Carried* pk, int n);
bool refusedBefore(const T38ZREORDER* rq, uint16_t s, uint16_t digest);
bool refusedWasMisnumbered(const T38ZREORDER* rq, const Carried* pk, int n);
bool queuedAsCarried(const T38ZREORDER* rq, const Carried& c);
void noteFollows(T38ZREORDER* rq, const Carried* pk, int n);
void takeDatagram(T38ZREORDER* rq, const Carried* pk, int n, Verdict v);

}  // namespace t38rx
