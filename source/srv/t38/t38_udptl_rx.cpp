// UDPTL datagrams received: the parse, the reorder queue the playout takes from, and the guard
// beside it (its rules are listed in t38_udptl.h with the fault each stops).
#include <algorithm>
#include <bit>
#include <cstring>

#include "t38_udptl.h"
#include "t38_ifp.h"

uint16_t t38fIFPdigest(const uint8_t* ifp, int len) {
  uint32_t h = 2166136261u;
  for (int i = 0; i < len; ++i) h = (h ^ ifp[i]) * 16777619u;
  return static_cast<uint16_t>(h ^ (h >> 16));
}

namespace {

int slotOf(uint16_t s) { return s & (T38_NUMBER_SLOTS - 1); }

// What the stream knows of s. A packet a sequence before the last restart played under s is
// nothing to the stream (the peer may reuse the number for anything): only rule 2 reads it
// (playedUnder), to tell the past brought again.
T38_NUMBER_STATE stateOf(const T38ZREORDER* rq, uint16_t s) {
  const int k = slotOf(s);
  const T38_NUMBER_STATE st = static_cast<T38_NUMBER_STATE>(rq->numbers.state[k]);
  return rq->numbers.seq[k] == s && st != T38_PAST ? st : T38_UNKNOWN;
}

// Whether the packet of this digest was played under s, by this sequence or one before it.
bool playedUnder(const T38ZREORDER* rq, uint16_t s, uint16_t digest) {
  const int k = slotOf(s);
  return rq->numbers.seq[k] == s && (rq->numbers.state[k] == T38_PLAYED || rq->numbers.state[k] == T38_PAST) &&
         rq->numbers.content[k] == digest;
}

// Every change of a number's record goes here, which keeps the count of packets held alone.
void setState(T38ZREORDER* rq, uint16_t s, T38_NUMBER_STATE state) {
  const int k = slotOf(s);
  rq->aloneHeld = static_cast<uint8_t>(rq->aloneHeld - (rq->numbers.state[k] == T38_ALONE) + (state == T38_ALONE));
  rq->numbers.seq[k] = s;
  rq->numbers.state[k] = state;
}

// The meanings of a number's two words, by state (T38ZNUMBERS).
uint16_t& playedDigest(T38ZREORDER* rq, uint16_t s) { return rq->numbers.content[slotOf(s)]; }
uint16_t playedDigest(const T38ZREORDER* rq, uint16_t s) { return rq->numbers.content[slotOf(s)]; }
uint16_t& queuedFrom(T38ZREORDER* rq, uint16_t s) { return rq->numbers.origin[slotOf(s)]; }
uint16_t queuedFrom(const T38ZREORDER* rq, uint16_t s) { return rq->numbers.origin[slotOf(s)]; }
uint16_t& suspectBrought(T38ZREORDER* rq, uint16_t s) { return rq->numbers.content[slotOf(s)]; }
uint16_t& suspectHeldBefore(T38ZREORDER* rq, uint16_t s) { return rq->numbers.origin[slotOf(s)]; }
uint16_t& disputedDigest(T38ZREORDER* rq, uint16_t s) { return rq->numbers.content[slotOf(s)]; }
uint16_t disputedDigest(const T38ZREORDER* rq, uint16_t s) { return rq->numbers.content[slotOf(s)]; }
uint16_t& broughtBy(T38ZREORDER* rq, uint16_t s) { return rq->numbers.content[slotOf(s)]; }
uint16_t broughtBy(const T38ZREORDER* rq, uint16_t s) { return rq->numbers.content[slotOf(s)]; }

// The datagrams that brought a queued packet, up to 15, and beside them whether other content
// came under its number (rule 4): whichever of the two plays, the other may have been the peer's
// as well, sent under that number again when its numbering stepped back.
constexpr uint8_t kContested = 0x80;
// and whether a datagram that brought it carried the packet before it as the stream holds it
constexpr uint8_t kFollows = 0x40;
int votesFor(const T38ZREORDER* rq, uint16_t s) { return rq->numbers.votes[slotOf(s)] & 0x0F; }
void setVotes(T38ZREORDER* rq, uint16_t s, int votes) {
  uint8_t& v = rq->numbers.votes[slotOf(s)];
  v = static_cast<uint8_t>((v & (kContested | kFollows)) | std::min(votes, 15));
}
bool contested(const T38ZREORDER* rq, uint16_t s) { return (rq->numbers.votes[slotOf(s)] & kContested) != 0; }
void markContested(T38ZREORDER* rq, uint16_t s) { rq->numbers.votes[slotOf(s)] |= kContested; }
// Marks s contested by `other`, the content that came there beside the one queued.
void markContestedBy(T38ZREORDER* rq, uint16_t s, uint16_t other) {
  markContested(rq, s);
  rq->contestedSeq[rq->contestedNext] = s;
  rq->contestedOther[rq->contestedNext] = other;
  rq->contestedNext = static_cast<uint8_t>((rq->contestedNext + 1) % T38_CONTESTED_KEPT);
}

bool inWindow(const T38ZREORDER* rq, uint16_t s) {
  return static_cast<uint16_t>(s - rq->lastoutTimeStamp - 1) < T38_WINDOW_AHEAD;
}

// The stream vouches for numbers up to s.
void vouchUpTo(T38ZREORDER* rq, uint16_t s) {
  if (static_cast<int16_t>(s - rq->newest) > 0) rq->newest = s;
}

// Distance of s past the last number played: the playout's order.
uint16_t pastPlayout(const T38ZREORDER* rq, uint16_t s) { return static_cast<uint16_t>(s - rq->lastoutTimeStamp); }

// Packets played from `from` to `to` cross a discontinuity (rule 6). Numbers played already put it
// at the next one to play; a second break widens the span.
void noteBreak(T38ZREORDER* rq, uint16_t from, uint16_t to) {
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
void noteStrayBefore(T38ZREORDER* rq, uint16_t s) {
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
int queued(const T38ZREORDER* rq, uint16_t s, uint8_t* out, EGR_IFP_PKT** record = nullptr) {
  EGR_IFP_PKT* p = t38egr_ifp_find(&rq->egressPktq, s);
  if (record != nullptr) *record = p;
  return p != nullptr ? t38egr_ifp_octets(p, out, T38_MAX_RX_IFP + 1) : 0;
}

bool sameAs(const Carried& pk, const uint8_t* octets, int n) {
  return n >= pk.len && n <= pk.len + 1 && std::memcmp(octets, pk.ifp, pk.len) == 0;
}

// How a datagram's packets compare with what the queue holds in line with the stream, or what was
// played, under their numbers: packets that differ, the datagrams those came in (one foreign
// datagram brings several packets, all wrong together), whether one of them was played already,
// and packets equal to what came in other datagrams than those.
struct Verdict {
  int agree = 0, disagree = 0, disagreeSources = 0;
  bool disagreePlayed = false;
};

uint16_t knownDigest(const T38ZREORDER* rq, uint16_t s, uint16_t fallback);
bool bringsFirstAgain(const T38ZREORDER* rq, const Carried& pk, uint16_t dg);

// An equal packet shows a datagram in line only when it differs from what is known under the
// numbers beside it: a run of equal packets (fill, the spaces of an identity) agrees with a
// datagram numbered a little wrong as well, whose packets would then win over the stream's.
bool distinct(const T38ZREORDER* rq, const Carried& pk) {
  for (const uint16_t beside : {static_cast<uint16_t>(pk.s - 1), static_cast<uint16_t>(pk.s + 1)}) {
    const T38_NUMBER_STATE st = stateOf(rq, beside);
    if ((st == T38_QUEUED || st == T38_PLAYED) && knownDigest(rq, beside, static_cast<uint16_t>(~pk.digest)) == pk.digest) return false;
  }
  return true;
}

Verdict judge(const T38ZREORDER* rq, const Carried* pk, int n) {
  Verdict v;
  uint16_t sources[1 + T38_MAX_SECONDARIES_TAKEN];
  uint16_t agreeing[1 + T38_MAX_SECONDARIES_TAKEN];  // the datagrams the equal packets came in
  int equal = 0;
  for (int i = 0; i < n; ++i) {
    const T38_NUMBER_STATE st = stateOf(rq, pk[i].s);
    bool same;
    if (st == T38_QUEUED) {
      uint8_t octets[T38_MAX_RX_IFP + 1];
      const int got = queued(rq, pk[i].s, octets);
      if (got == 0) continue;
      same = sameAs(pk[i], octets, got);
      if (!same && bringsFirstAgain(rq, pk[i], pk[0].s)) continue;  // it outvotes the refill (rule 4)
    } else if (st == T38_PLAYED) {
      same = playedDigest(rq, pk[i].s) == pk[i].digest;
    } else {
      continue;  // nothing known, or nothing trusted, proves nothing either way
    }
    if (same) {
      if (distinct(rq, pk[i])) agreeing[equal++] = queuedFrom(rq, pk[i].s);
      continue;
    }
    ++v.disagree;
    v.disagreePlayed = v.disagreePlayed || st == T38_PLAYED;
    if (std::find(sources, sources + v.disagreeSources, queuedFrom(rq, pk[i].s)) == sources + v.disagreeSources)
      sources[v.disagreeSources++] = queuedFrom(rq, pk[i].s);
  }
  for (int i = 0; i < equal; ++i)
    v.agree += std::find(sources, sources + v.disagreeSources, agreeing[i]) == sources + v.disagreeSources;
  return v;
}

// The digest of the packet a queue record holds; `fallback` for no record or none that parses.
uint16_t recordDigest(const EGR_IFP_PKT* p, uint16_t fallback) {
  uint8_t octets[T38_MAX_RX_IFP + 1];
  const int got = p != nullptr ? t38egr_ifp_octets(p, octets, T38_MAX_RX_IFP + 1) : 0;
  const int len = got > 0 ? t38fIFPcheck(octets, got) : -1;
  return len > 0 ? t38fIFPdigest(octets, len) : fallback;
}

// The digest of what is known under s: the queued packet's or the played one's; `fallback` else.
uint16_t knownDigest(const T38ZREORDER* rq, uint16_t s, uint16_t fallback) {
  if (stateOf(rq, s) == T38_PLAYED) return playedDigest(rq, s);
  return recordDigest(t38egr_ifp_find(&rq->egressPktq, s), fallback);
}

// Of the last few numbers disputed, where s is kept: -1 when it is not.
int disputedKept(const T38ZREORDER* rq, uint16_t s) {
  for (int i = 0; i < T38_DISPUTED_KEPT; ++i)
    if (rq->disputedSeq[i] == s) return i;
  return -1;
}

// Whether a packet the datagram numbered dg carries brings again, under a number other content
// refilled after a dispute, the packet queued there first: a second datagram for it against the
// refill's one (rule 4). The network's duplicate of the datagram that first brought it is none.
bool bringsFirstAgain(const T38ZREORDER* rq, const Carried& pk, uint16_t dg) {
  const int k = disputedKept(rq, pk.s);
  return k >= 0 && stateOf(rq, pk.s) == T38_QUEUED && contested(rq, pk.s) && votesFor(rq, pk.s) == 1 &&
         rq->disputedFirst[k] == pk.digest && rq->disputedCarrier[k] != dg;
}

// No longer trusts the packet queued under s, nor any other queued packet that came in the same
// datagram: a datagram shown wrong in one packet may be wrong in all (a datagram whose number
// lost a bit carries its packets under numbers all moved alike). Their packets leave the queue,
// and the numbers play as lost unless a datagram that agrees with the stream brings them again.
// The packet under s, the first disputed there, is kept for a while with the datagram it came in.
void dispute(T38ZREORDER* rq, uint16_t s) {
  if (stateOf(rq, s) == T38_QUEUED && disputedKept(rq, s) < 0) {
    rq->disputedSeq[rq->disputedNext] = s;
    rq->disputedFirst[rq->disputedNext] = knownDigest(rq, s, 0);
    rq->disputedCarrier[rq->disputedNext] = t38fReorderFirstCarrier(rq, s);
    rq->disputedNext = static_cast<uint8_t>((rq->disputedNext + 1) % T38_DISPUTED_KEPT);
  }
  const uint16_t source = queuedFrom(rq, s);
  for (int k = -T38_MAX_SECONDARIES_TAKEN; k <= T38_MAX_SECONDARIES_TAKEN; ++k) {
    const uint16_t near = static_cast<uint16_t>(s + k);
    const T38_NUMBER_STATE st = stateOf(rq, near);
    if ((st != T38_QUEUED && st != T38_ALONE) || queuedFrom(rq, near) != source) continue;
    const uint16_t digest = knownDigest(rq, near, 0);
    if (EGR_IFP_PKT* p = t38egr_ifp_find(&rq->egressPktq, near)) t38egr_ifp_remove(&rq->egressPktq, p);
    setState(rq, near, T38_DISPUTED);
    disputedDigest(rq, near) = digest;
  }
}

// Rule 5: a datagram out of line with the stream may be one whose number lost a bit on the way:
// its own number, one bit away from s, is then missing, and at low redundancy nothing else may
// ever bring that number's packet. Such numbers (the holes behind the newest number the stream
// vouches for and, for a datagram the stream did not take at all, the number it sends next) take
// later only the content this datagram brought (`digest`, or `other`, the content held under s
// before), what comes in its turn (before anything after it), or what a datagram in line with the
// stream brings.
void suspectOwnNumber(T38ZREORDER* rq, uint16_t s, uint16_t digest, uint16_t other, bool nextToo) {
  const int16_t last = nextToo ? 1 : 0;
  for (int bit = 0; bit < 16; ++bit) {
    const uint16_t own = static_cast<uint16_t>(s ^ (1u << bit));
    if (!inWindow(rq, own) || static_cast<int16_t>(own - rq->newest) > last || stateOf(rq, own) != T38_UNKNOWN) continue;
    setState(rq, own, T38_SUSPECT);
    suspectBrought(rq, own) = digest;
    suspectHeldBefore(rq, own) = other;
  }
}

// Whether the datagram's copies (`pk`, `n` packets, the first its primary) are the stream's packets
// `shift` numbers further back than they are numbered: none differs from what is known there, and
// one at least tells (it differs from what lies beside it, unlike a run of equal packets). Copies
// under numbers the stream lost prove nothing either way.
bool copiesShifted(const T38ZREORDER* rq, const Carried* pk, int n, uint16_t shift) {
  bool telling = false;
  for (int i = 1; i < n; ++i) {
    const uint16_t old = static_cast<uint16_t>(pk[i].s - shift);
    const T38_NUMBER_STATE st = stateOf(rq, old);
    if (st != T38_QUEUED && st != T38_PLAYED) continue;
    if (knownDigest(rq, old, static_cast<uint16_t>(~pk[i].digest)) != pk[i].digest) return false;
    telling = telling || distinct(rq, {pk[i].ifp, pk[i].len, old, pk[i].digest});
  }
  return telling;
}

// Whether none of the datagram's copies differs from what is known `shift` numbers further back.
bool copiesShiftedOrUnknown(const T38ZREORDER* rq, const Carried* pk, int n, uint16_t shift) {
  for (int i = 1; i < n; ++i) {
    const uint16_t old = static_cast<uint16_t>(pk[i].s - shift);
    const T38_NUMBER_STATE st = stateOf(rq, old);
    if ((st == T38_QUEUED || st == T38_PLAYED) && knownDigest(rq, old, static_cast<uint16_t>(~pk[i].digest)) != pk[i].digest) return false;
  }
  return true;
}

// Whether a packet is data of a modem other than V.21 (page data, ECM frames among it); not an
// indicator, nor V.21 data. Page data repeats its packets at every distance (a blank row, a black
// one), so its packet a power of two away proves nothing (rule 5).
// The V.21 preamble indicator: its one octet, and the digest its packet is recorded under.
constexpr uint8_t kV21Preamble = 0x06;
uint16_t v21PreambleDigest() {
  static const uint16_t digest = t38fIFPdigest(&kV21Preamble, 1);
  return digest;
}

bool isPageData(const uint8_t* ifp) { return (ifp[0] & 0x40) != 0 && ((ifp[0] & 0x20) != 0 || ((ifp[0] >> 1) & 15) != 0); }
bool isV21OrIndicator(const Carried& pk) { return !isPageData(pk.ifp); }

// Whether a datagram is the stream's own datagram under a number one bit away from its own (rule
// 5): its primary is the packet known under that number, told apart from the ones beside it, and
// every copy known there is the stream's packet as many numbers on. A copy the network
// misnumbered brings nothing the stream lacks, so its contradiction shows no step back and no
// altered packet.
// Only an indicator or V.21 data is told so: page data repeats its packets at every distance (a
// blank row, a black one), so its packet a power of two before proves nothing.
bool misnumberedCopy(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v) {
  if (!isV21OrIndicator(pk[0])) return false;
  // copies that agree with the stream under their own numbers place the datagram there: only
  // copies known as many numbers on place it elsewhere
  const bool placed = v.agree > 0;
  for (int bit = 0; bit < 16; ++bit) {
    const uint16_t own = static_cast<uint16_t>(pk[0].s ^ (1u << bit));
    const T38_NUMBER_STATE st = stateOf(rq, own);
    if ((st != T38_QUEUED && st != T38_PLAYED) || knownDigest(rq, own, static_cast<uint16_t>(~pk[0].digest)) != pk[0].digest ||
        !distinct(rq, {pk[0].ifp, pk[0].len, own, pk[0].digest}))
      continue;
    const uint16_t shift = static_cast<uint16_t>(pk[0].s - own);
    if (placed ? copiesShifted(rq, pk, n, shift) : copiesShiftedOrUnknown(rq, pk, n, shift)) return true;
  }
  return false;
}

// Whether the packet queued under x came alone, as the primary of a datagram numbered x, and is
// the packet (`digest`) a datagram now carries under y, one bit away, told apart from what lies
// beside either number (the other one aside): a run of equal packets (fill, the spaces of an
// identity) shows the same packet one bit away as well.
bool queuedAloneOneBitFrom(const T38ZREORDER* rq, uint16_t x, uint16_t y, uint16_t digest) {
  if (!std::has_single_bit(static_cast<uint16_t>(x ^ y)) || stateOf(rq, x) != T38_QUEUED || votesFor(rq, x) != 1 ||
      broughtBy(rq, x) != 1 || knownDigest(rq, x, static_cast<uint16_t>(~digest)) != digest)
    return false;
  for (const uint16_t beside : {static_cast<uint16_t>(y - 1), static_cast<uint16_t>(y + 1), static_cast<uint16_t>(x - 1),
                                static_cast<uint16_t>(x + 1)}) {
    const T38_NUMBER_STATE b = stateOf(rq, beside);
    if (beside != x && beside != y && (b == T38_QUEUED || b == T38_PLAYED) && knownDigest(rq, beside, static_cast<uint16_t>(~digest)) == digest)
      return false;
  }
  return true;
}

// Whether the one queued packet a datagram contradicts is a misnumbered copy of its own (rule 5,
// the other way round: the copy came first): the datagram carries that very packet under a number
// one bit away, where the stream holds nothing, and the packet came alone, as the primary of a
// datagram numbered where it lies. Without it the two disputed the number, the datagram was
// refused, and the one good copy it carried of the number before was lost. Only an indicator or
// V.21 data is told so, as in misnumberedCopy.
bool contradictsMisnumbered(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v, uint16_t* moved) {
  if (v.disagree != 1 || v.agree != 0 || v.disagreePlayed) return false;
  for (int i = 0; i < n; ++i) {
    const uint16_t x = pk[i].s;
    if (stateOf(rq, x) != T38_QUEUED) continue;
    const uint16_t held = knownDigest(rq, x, pk[i].digest);
    if (held == pk[i].digest) continue;
    for (int j = 0; j < n; ++j) {
      const T38_NUMBER_STATE st = stateOf(rq, pk[j].s);
      if (j == i || pk[j].digest != held || !isV21OrIndicator(pk[j]) || st == T38_QUEUED || st == T38_PLAYED || st == T38_ALONE ||
          !queuedAloneOneBitFrom(rq, x, pk[j].s, held))
        continue;
      *moved = x;
      return true;
    }
  }
  return false;
}

// Remembers a datagram taken by a step forward (`shift`: the step its copies show) whose copies
// place it one bit from the number it came under: it may be the stream's next datagram, its
// number moved by a bit on the way, its copies the stream's packets as many numbers before
// because they are its own (rule 5).
void noteStepOneBitOff(T38ZREORDER* rq, const Carried& primary, uint16_t shift) {
  const uint16_t own = static_cast<uint16_t>(primary.s - shift);
  if (shift == 0 || !std::has_single_bit(static_cast<uint16_t>(primary.s ^ own))) return;
  rq->movedKnown = true;
  rq->movedAt = primary.s;
  rq->movedOwn = own;
  rq->movedDigest = primary.digest;
}

// Whether a datagram brings, under the number a step forward's copies placed their datagram at
// (noteStepOneBitOff), where the stream holds nothing, that datagram's very primary, still queued
// alone where it came: the datagram was the stream's next one, and the number it came under none
// of its. Not where the stream's packet as many numbers before is that packet too: a stream that
// repeats its packets so (a short frame sent again and again) shows the step and the packet
// there as well, its datagrams only swapped on the way.
bool bringsSteppedOwn(const T38ZREORDER* rq, const Carried* pk, int n, uint16_t* moved) {
  if (!rq->movedKnown) return false;
  const uint16_t before = static_cast<uint16_t>(rq->movedOwn - (rq->movedAt - rq->movedOwn));
  const T38_NUMBER_STATE b = stateOf(rq, before);
  if ((b == T38_QUEUED || b == T38_PLAYED) && knownDigest(rq, before, static_cast<uint16_t>(~rq->movedDigest)) == rq->movedDigest)
    return false;
  for (int j = 0; j < n; ++j) {
    const T38_NUMBER_STATE st = stateOf(rq, pk[j].s);
    if (pk[j].s != rq->movedOwn || pk[j].digest != rq->movedDigest || st == T38_QUEUED || st == T38_PLAYED || st == T38_ALONE ||
        !queuedAloneOneBitFrom(rq, rq->movedAt, rq->movedOwn, pk[j].digest))
      continue;
    *moved = rq->movedAt;
    return true;
  }
  return false;
}

// Whether the one queued packet a datagram contradicts is an indicator the stream's order rules
// out (rule 4): one datagram brought it, it is no V.21 preamble, and the datagram brings V.21 data
// both under its number and under the next. A peer sends V.21 data only after its V.21 preamble,
// never straight after another indicator: that packet was altered on the way (a V.21 packet
// retyped into a no-signal), and the vote of one against one is no vote. Without it the two
// disputed the number, and a final frame's first octet played as lost.
bool rulesOutIndicator(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v, uint16_t* ruledOut) {
  auto v21Data = [](const Carried& c) { return (c.ifp[0] & 0x40) != 0 && !isPageData(c.ifp); };
  if (v.disagree != 1 || v.disagreePlayed) return false;
  for (int i = 0; i < n; ++i) {
    const uint16_t x = pk[i].s;
    if (stateOf(rq, x) != T38_QUEUED || votesFor(rq, x) != 1 || !v21Data(pk[i])) continue;
    uint8_t octets[T38_MAX_RX_IFP + 1];
    const int got = queued(rq, x, octets);
    if (got == 0 || sameAs(pk[i], octets, got) || (octets[0] & 0x40) != 0 || octets[0] == kV21Preamble) continue;
    for (int j = 0; j < n; ++j)
      if (pk[j].s == static_cast<uint16_t>(x + 1) && v21Data(pk[j])) {
        *ruledOut = x;
        return true;
      }
  }
  return false;
}

// Whether a queued packet (*moved) is a misnumbered datagram's, as a datagram now shows: the
// network moved that datagram by one bit of its number; its packets leave the queue, and the
// datagram at hand, the stream's own, is taken whole.
bool exposesMisnumbered(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v, uint16_t* moved) {
  return contradictsMisnumbered(rq, pk, n, v, moved) || bringsSteppedOwn(rq, pk, n, moved);
}

// Takes the packet under s out of the queue, its number disputed with it as the other content: the
// packet that fills it plays contested, and the network's duplicate of its datagram brings it back
// no more.
void ruleOut(T38ZREORDER* rq, uint16_t s) {
  const uint16_t digest = knownDigest(rq, s, 0);
  if (EGR_IFP_PKT* p = t38egr_ifp_find(&rq->egressPktq, s)) t38egr_ifp_remove(&rq->egressPktq, p);
  setState(rq, s, T38_DISPUTED);
  disputedDigest(rq, s) = digest;
}

// Takes out of the queue the packet under s and every other one its datagram brought, as if they
// had never come: that datagram was one of the stream's own under a number one bit away.
void withdraw(T38ZREORDER* rq, uint16_t s) {
  const uint16_t source = queuedFrom(rq, s);
  for (int k = -T38_MAX_SECONDARIES_TAKEN; k <= T38_MAX_SECONDARIES_TAKEN; ++k) {
    const uint16_t near = static_cast<uint16_t>(s + k);
    const T38_NUMBER_STATE st = stateOf(rq, near);
    if ((st != T38_QUEUED && st != T38_ALONE) || queuedFrom(rq, near) != source) continue;
    if (EGR_IFP_PKT* p = t38egr_ifp_find(&rq->egressPktq, near)) t38egr_ifp_remove(&rq->egressPktq, p);
    setState(rq, near, T38_UNKNOWN);
  }
}

// Whether a far datagram's copies of the numbers before its own are the packets the stream ended
// with, newest first: a peer that renumbers without losing anything shows so, and nothing lies
// between the two sequences. Page data repeats its packets (a blank row, a run of fill), so the
// peer's packet after the stream's newest may equal it: one copy of page data that matches shows
// no join (the frame across the renumbering ends bad), two that match beside each other do.
bool joinsStream(const T38ZREORDER* rq, const Carried* pk, int n) {
  const uint16_t shift = static_cast<uint16_t>(pk[0].s - 1 - rq->newest);
  if (!copiesShifted(rq, pk, n, shift)) return false;
  int pageData = 0;
  for (int i = 1; i < n; ++i) {
    const uint16_t old = static_cast<uint16_t>(pk[i].s - shift);
    const T38_NUMBER_STATE st = stateOf(rq, old);
    if ((st != T38_QUEUED && st != T38_PLAYED) || !distinct(rq, {pk[i].ifp, pk[i].len, old, pk[i].digest})) continue;
    if (!isPageData(pk[i].ifp)) return true;
    ++pageData;
  }
  return pageData >= 2;
}

// Whether a datagram's copies are the stream's packets a few numbers further on than they are
// numbered: the peer's numbering stepped back (or the datagram's number lost a bit).
bool steppedBack(const T38ZREORDER* rq, const Carried* pk, int n) {
  for (uint16_t back = 1; back <= T38_CLOSE_AHEAD; ++back)
    if (copiesShifted(rq, pk, n, static_cast<uint16_t>(-back))) return true;
  return false;
}

// Whether a datagram may be one a peer sent after its numbering stepped back: it lies among the
// numbers such a peer reuses (the stream's last T38_CLOSE_AHEAD), and its copies show the step or
// it has none. A peer's frames repeat their packets (a frame's first octets, its end, the
// indicators between frames), so such a datagram may also look like the stream's a power of two
// before: the step is the reading that loses nothing.
bool mayHaveSteppedBack(const T38ZREORDER* rq, const Carried* pk, int n) {
  return static_cast<uint16_t>(rq->newest - pk[0].s) < T38_CLOSE_AHEAD && (n == 1 || steppedBack(rq, pk, n));
}

// Where a datagram refused inside the window joins the stream when its copies from some number
// back on (not the first) are the packets the stream ended with, newest first: the peer stepped
// back and this datagram is not its first after the step (the network put it ahead of the ones
// before), and the copies under the numbers between are the peer's packets sent after the
// stream's newest. Returns the number the peer sent first after the step, or the datagram's own.
uint16_t steppedBackFrom(const T38ZREORDER* rq, const Carried* pk, int n) {
  for (int j = 2; j < n; ++j) {
    const uint16_t shift = static_cast<uint16_t>(pk[0].s - j - rq->newest);
    if (shift != 0 && copiesShifted(rq, pk, n, shift)) return static_cast<uint16_t>(pk[0].s - j + 1);
  }
  return pk[0].s;
}

// Whether a datagram that skips numbers past the newest one carries, under the numbers it skipped,
// the stream's packets from before them: the peer's numbering stepped forward (by as many as it
// skipped, or fewer where the stream's last packets were lost). Returns the step, or 0.
uint16_t steppedForward(const T38ZREORDER* rq, const Carried* pk, int n) {
  const uint16_t skipped = static_cast<uint16_t>(pk[0].s - 1 - rq->newest);
  if (!inWindow(rq, pk[0].s) || skipped == 0 || skipped > T38_CLOSE_AHEAD) return 0;
  for (uint16_t shift = skipped; shift >= 1; --shift)
    if (copiesShifted(rq, pk, n, shift)) return shift;
  return 0;
}

// Whether the peer's numbering stepped over s (rule 6): nothing of the peer lies under it.
bool steppedOver(const T38ZREORDER* rq, uint16_t s) {
  return rq->stepKnown && static_cast<uint16_t>(s - rq->stepFrom) <= static_cast<uint16_t>(rq->stepTo - rq->stepFrom);
}

// Whether a copy under a number before a known step forward is the stream's packet the step's
// size before it: what a datagram after the step carries there.
bool explainedByStep(const T38ZREORDER* rq, const Carried& c) {
  if (!rq->stepKnown || static_cast<int16_t>(c.s - rq->stepFrom) >= 0) return false;
  const uint16_t old = static_cast<uint16_t>(c.s - (rq->stepTo - rq->stepFrom + 1));
  return knownDigest(rq, old, static_cast<uint16_t>(~c.digest)) == c.digest;
}

// A datagram that stepped forward by as many numbers as it skipped, its first copy the stream's
// newest packet, and a copy under the stream's own numbers other than the stream's packet there
// (so that the same packets lost in their datagrams do not pass for a step): nothing the peer sent
// lies between them, unless its number is wrong.
void noteStep(T38ZREORDER* rq, const Carried* pk, int n, uint16_t shift) {
  const uint16_t skipped = static_cast<uint16_t>(pk[0].s - 1 - rq->newest);
  const T38_NUMBER_STATE st = stateOf(rq, rq->newest);
  if (shift != skipped || n < 2 || (st != T38_QUEUED && st != T38_PLAYED) ||
      knownDigest(rq, rq->newest, static_cast<uint16_t>(~pk[1].digest)) != pk[1].digest)
    return;
  bool contradicts = false;
  for (int i = 1; i < n; ++i) {
    const T38_NUMBER_STATE own = stateOf(rq, pk[i].s);
    contradicts = contradicts || ((own == T38_QUEUED || own == T38_PLAYED) && knownDigest(rq, pk[i].s, pk[i].digest) != pk[i].digest);
  }
  if (!contradicts) return;
  rq->stepKnown = true;
  rq->stepConfirmed = false;
  rq->stepFrom = static_cast<uint16_t>(rq->newest + 1);
  rq->stepTo = static_cast<uint16_t>(pk[0].s - 1);
  rq->stepAt = pk[0].s;
  rq->stepDigest = pk[0].digest;
}

// Whether a datagram after the step carries the same: the stepping datagram's primary under its
// number, and under the numbers stepped over the stream's packets as far back as the step. A
// datagram misnumbered by as much carried the packet numbered stepFrom as its primary; its
// copy under stepFrom, told apart from that primary, is what decides.
bool confirmsStep(const T38ZREORDER* rq, const Carried* pk, int n) {
  const uint16_t shift = static_cast<uint16_t>(rq->stepTo - rq->stepFrom + 1);
  bool telling = false;
  for (int i = 1; i < n; ++i) {
    if (pk[i].s == rq->stepAt) {
      if (pk[i].digest != rq->stepDigest) return false;
    } else if (steppedOver(rq, pk[i].s)) {
      const uint16_t old = static_cast<uint16_t>(pk[i].s - shift);
      const T38_NUMBER_STATE st = stateOf(rq, old);
      if ((st != T38_QUEUED && st != T38_PLAYED) || knownDigest(rq, old, static_cast<uint16_t>(~pk[i].digest)) != pk[i].digest)
        return false;
      telling = telling || (pk[i].s == rq->stepFrom && pk[i].digest != rq->stepDigest);
    }
  }
  return telling;
}

// Whether a copy under a number stepped over is other than the stream's packet the step's size
// before it, where that is known: the step does not explain it, so it is the peer's own packet
// there (the datagram that seemed to step was numbered wrong, a bit of its number lost).
bool copyDisprovesStep(const T38ZREORDER* rq, const Carried* pk, int n) {
  const uint16_t shift = static_cast<uint16_t>(rq->stepTo - rq->stepFrom + 1);
  for (int i = 1; i < n; ++i) {
    if (!steppedOver(rq, pk[i].s)) continue;
    const uint16_t old = static_cast<uint16_t>(pk[i].s - shift);
    const T38_NUMBER_STATE st = stateOf(rq, old);
    if ((st == T38_QUEUED || st == T38_PLAYED) && knownDigest(rq, old, static_cast<uint16_t>(~pk[i].digest)) != pk[i].digest) return true;
  }
  return false;
}

// Keeps the record of a step forward (rule 6) up to date with a datagram (`shift`: the step it
// shows, or 0): the peer's own packet under a number stepped over, as its primary or as a copy the
// step does not explain, shows there was no step.
void followStep(T38ZREORDER* rq, const Carried* pk, int n, uint16_t shift) {
  if (shift != 0) noteStep(rq, pk, n, shift);
  else if (rq->stepKnown && (steppedOver(rq, pk[0].s) || copyDisprovesStep(rq, pk, n))) rq->stepKnown = false;
  else if (rq->stepKnown && !rq->stepConfirmed && static_cast<int16_t>(pk[0].s - rq->stepAt) > 0)
    rq->stepConfirmed = confirmsStep(rq, pk, n);
}

// Whether the datagram's primary is the packet played under its number: a late copy. (Its copies
// prove nothing here: a stream left behind by a wrong jump carries, as copies, its own packets
// that just played.)
bool repeatsPlayed(const T38ZREORDER* rq, const Carried& primary) { return playedUnder(rq, primary.s, primary.digest); }

// The old sequence's packets keep their order in drainq and play before the new one's; one that
// stood alone never had the stream's word and goes.
void drainOldSequence(T38ZREORDER* rq) {
  if (dg_QmPeekFront(&rq->drainq) == nullptr) {
    rq->drainLastout = rq->lastoutTimeStamp;
    rq->drainBreakPending = false;
  }
  // a discontinuity let through among the old sequence's packets still breaks its frame
  if (rq->breakPending && !rq->drainBreakPending) {
    rq->drainBreakPending = true;
    rq->drainBreakFrom = rq->breakFrom;
  }
  DG_HDL h;
  while (dg_deq(&rq->egressPktq, &h)) {
    if (stateOf(rq, t38egr_ifp_getifpFromHandle(&h)->sequenceNum) == T38_ALONE)
      dg_free(dg_QmPeekFront(&h.qhdr));
    else
      dg_enq(&rq->drainq, &h);
  }
}

// Keeps what a far datagram carries (its primary first, then its copies) while its run has not
// proved a new sequence: a run's datagrams may come in any order and some may be lost, and what
// they carried is the new sequence's first packets.
void holdRunPackets(T38ZREORDER* rq, const Carried* pk, int n) {
  for (int i = 0; i < n && rq->run.held < T38_RUN_KEPT; ++i) {
    if (pk[i].len > T38_RUN_OCTETS - rq->run.octetsUsed || !t38fIFPwalkedPlayable(pk[i].ifp)) continue;
    T38ZRUNPACKET* end = rq->run.packets + rq->run.held;
    T38ZRUNPACKET* same = std::find_if(rq->run.packets, end, [&](const T38ZRUNPACKET& k) { return k.seq == pk[i].s; });
    if (same != end) {
      same->disputed = same->disputed || t38fIFPdigest(rq->run.octets + same->at, same->len) != pk[i].digest;
      continue;
    }
    T38ZRUNPACKET& kept = rq->run.packets[rq->run.held++];
    kept.disputed = false;
    kept.seq = pk[i].s;
    kept.len = pk[i].len;
    kept.at = rq->run.octetsUsed;
    std::memcpy(rq->run.octets + kept.at, pk[i].ifp, pk[i].len);
    rq->run.octetsUsed = static_cast<uint16_t>(rq->run.octetsUsed + pk[i].len);
  }
}

bool playedBefore(const T38ZREORDER* rq, const Carried& pk, bool sequencesBefore);
bool restartAtRun(T38ZREORDER* rq);
bool leftSequenceGoesOn(const T38ZREORDER* rq, uint16_t s);
void goBackToLeftSequence(T38ZREORDER* rq, uint16_t s);

// Whether a number one bit away from s goes on with the open run (as a datagram of it would), the
// bit worth 64 or more, and the run lies by the stream's newest number (a peer that stepped back
// sends it there): a number only a little past the run's reach may start a run of its own, and a
// peer that renumbers far off is followed wherever its run of far datagrams lands.
bool oneBitFromRun(const T38ZREORDER* rq, uint16_t s) {
  static_assert(3 * T38_RESYNC_STEP < 64, "a number within the run's reach of s is not moved by a bit of 64");
  if (static_cast<uint16_t>(rq->newest - rq->run.last + T38_RESYNC_STEP) > 2 * T38_RESYNC_STEP) return false;
  for (int bit = 6; bit < 16; ++bit) {
    const uint16_t own = static_cast<uint16_t>(s ^ (1u << bit));
    if (static_cast<uint16_t>(own - rq->run.last) <= T38_RESYNC_STEP || static_cast<uint16_t>(rq->run.last - own) <= T38_RESYNC_STEP)
      return true;
  }
  return false;
}

// Rule 2, a step back of one without copies, shown by the frame it opens: the one refused
// datagram, under the stream's newest number, where its V.21 preamble played, brings V.21 data
// opening a frame (the address octet, 0xff), and the datagram numbered next goes on with V.21 data
// that opens none. A stray copy of an earlier frame's first packet lands before the frame's own
// first packet, never before its middle: without the refused one the frame has no start.
bool steppedBackOneToOpenAFrame(const T38ZREORDER* rq, const Carried& next) {
  const uint16_t preamble = v21PreambleDigest();
  constexpr int kAddress = 0xFF;
  if (rq->run.length != 1 || rq->run.held == 0 || rq->run.first != rq->newest || rq->run.packets[0].seq != rq->run.first ||
      stateOf(rq, rq->newest) != T38_PLAYED || playedDigest(rq, rq->newest) != preamble)
    return false;
  const int opens = t38fIFPv21FirstOctet(rq->run.octets + rq->run.packets[0].at);
  const int goesOn = t38fIFPv21FirstOctet(next.ifp);
  return opens == kAddress && goesOn >= 0 && goesOn != kAddress;
}

// Rule 2, a step back without copies: datagrams that brought new content under the stream's
// newest numbers, each number from the run's first to the newest, and then the datagram numbered
// next: the peer reused its last numbers and went on after them, and nothing lies between. Its
// next numbers are new to the stream, so a step back shorter than T38_RESYNC_RUN never makes a
// run that long, and its new packets (often a final frame's first octets) would be lost. One
// refused datagram alone may be a stray copy, and a packet the next datagram brings again shows
// the refused ones were its copies under numbers a little behind: neither proves a step.
bool steppedBackWithoutCopies(const T38ZREORDER* rq, const Carried& next) {
  const uint16_t span = static_cast<uint16_t>(rq->newest - rq->run.first + 1);
  if ((rq->run.length < T38_RESYNC_RUN - 1 && !steppedBackOneToOpenAFrame(rq, next)) || rq->run.copies || !rq->run.contradicts ||
      rq->run.repeats ||
      next.s != static_cast<uint16_t>(rq->newest + 1) || span > T38_RESYNC_STEP)
    return false;
  const T38ZRUNPACKET* end = rq->run.packets + rq->run.held;
  for (uint16_t k = 0; k < span; ++k) {
    const uint16_t at = static_cast<uint16_t>(rq->run.first + k);
    const T38ZRUNPACKET* kept = std::find_if(rq->run.packets, end, [&](const T38ZRUNPACKET& p) { return p.seq == at; });
    if (kept == end || t38fIFPdigest(rq->run.octets + kept->at, kept->len) == next.digest) return false;
  }
  return true;
}

// Rule 2, the same with copies: the run's first datagram carries as its copies the packets the
// stream ended with a few numbers on (the peer stepped back), and a datagram after the run's last
// carries as its copies the very packets the run's datagrams brought under those numbers, none
// other: the peer went on from the run. Datagrams refused after a step back are those whose
// packets land on numbers the stream has, the step's length and as many again as the copies
// reach: a step back by one at redundancy one makes a run of two, which never grows to
// T38_RESYNC_RUN, since the next datagram lands on numbers the stream never had. Without it a
// final frame sent across such a step lost its first octets, and the line terminal never heard it.
bool steppedBackWithCopies(const T38ZREORDER* rq, const Carried* pk, int n) {
  if (rq->run.length < T38_RESYNC_RUN - 1 || !rq->run.copies || !rq->run.joins || !rq->run.contradicts || rq->run.repeats ||
      static_cast<uint16_t>(pk[0].s - rq->run.last - 1) >= static_cast<uint16_t>(n - 1))
    return false;
  const T38ZRUNPACKET* end = rq->run.packets + rq->run.held;
  bool told = false;
  for (int i = 1; i < n; ++i) {
    const T38ZRUNPACKET* kept = std::find_if(rq->run.packets, end, [&](const T38ZRUNPACKET& p) { return p.seq == pk[i].s; });
    if (kept == end) continue;
    if (kept->disputed || t38fIFPdigest(rq->run.octets + kept->at, kept->len) != pk[i].digest) return false;
    told = true;
  }
  return told;
}

// Rule 2: a step back shorter than its run proves itself by the datagram that goes on from it.
bool steppedBackAndWentOn(const T38ZREORDER* rq, const Carried* pk, int n) {
  return steppedBackWithoutCopies(rq, pk[0]) || steppedBackWithCopies(rq, pk, n);
}

// Whether the datagram numbered s, past the stream's newest number before the step, may be where
// a peer that stepped back went on while the datagrams of its step are not all in: the open run is
// a step back without copies short of its proof, lying among the stream's newest numbers, and s
// lies no further past them than the step reaches back (the network brings as many of the new
// numbers before the step's last one as it swaps with it). At redundancy 0 the network swaps the
// step's last datagram with the next ones as readily as any two, and under jitter several of them,
// in any order; without this the step's first packets (a final frame's first octets) are lost.
bool mayGoOnAfterAStepBack(const T38ZREORDER* rq, uint16_t s, int n) {
  const uint16_t base = rq->run.wentOn ? static_cast<uint16_t>(rq->run.wentOnSeq - 1) : rq->newest;
  const uint16_t step = static_cast<uint16_t>(base - rq->run.first + 1);
  const uint16_t past = static_cast<uint16_t>(s - base);
  return n == 1 && rq->run.length > 0 && rq->run.contradicts && !rq->run.copies && !rq->run.repeats && past >= 1 && past <= step &&
         step <= T38_RESYNC_STEP && static_cast<uint16_t>(base - rq->run.last) < T38_RESYNC_STEP;
}

// Rule 2, a final frame renumbered: the stream fell silent after announcing a V.21 frame (its
// last packet played is the V.21 preamble, nothing waits to play), and the first datagram of a
// run far off, beyond where late datagrams of this stream lie, carries a whole V.21 frame closed
// good that the stream never played. A peer that renumbers inside its last frame, at redundancy
// 0, sends that frame and a no-signal after it and nothing more: a run of three never comes, and
// the frame would never play. A stale run or a late burst repeats what was played; a frame that
// follows on from the preamble is new content in its place. A datagram with copies shows the
// same when the copy right before the frame is the preamble and the copies join the stream's newest
// packets (at redundancy 1 or more the two datagrams are still short of a run, and the preamble's
// own datagram may be lost). The stream's own next datagram, its
// number one bit away on the way (rule 5), looks the same: a number one bit from the stream's
// next ones proves nothing.
bool renumberedFrameAfterPreamble(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v) {
  const Carried& primary = pk[0];
  const uint16_t preamble = v21PreambleDigest();
  for (uint16_t k = 1; k <= T38_RESYNC_STEP; ++k)
    if (std::has_single_bit(static_cast<uint16_t>(primary.s ^ (rq->newest + k)))) return false;
  // without copies the stream's own last packet is the preamble; with them, the copy right before
  // the frame is, and the copies join the stream: they are its newest packets, under the numbers
  // right before the frame's or before the preamble's (the peer went on from them)
  const bool afterPreamble = n == 1 ? playedDigest(rq, rq->lastoutTimeStamp) == preamble
                                    : pk[1].digest == preamble && (rq->run.joins || steppedBackFrom(rq, pk, n) != primary.s);
  return rq->run.length == 1 && rq->run.first == primary.s && v.disagree == 0 && !rq->run.repeats && !rq->run.past &&
         static_cast<uint16_t>(rq->newest - primary.s) > T38_LATE_LIMIT && rq->newest == rq->lastoutTimeStamp &&
         stateOf(rq, rq->lastoutTimeStamp) == T38_PLAYED && afterPreamble &&
         dg_QmPeekFront(&rq->egressPktq) == nullptr && dg_QmPeekFront(&rq->drainq) == nullptr &&
         t38fIFPwalkedPlayable(primary.ifp) && t38fIFPv21FrameControl(primary.ifp) >= 0;
}

// A datagram that contradicts what the stream vouched for, in packets of as many datagrams as it
// agrees with in others, brings nothing (rule 4).
bool refusedFor(const Verdict& v) { return v.disagree > 0 && v.agree <= v.disagreeSources; }

// Rule 2, the run's first datagram come after the run proved: the network swapped the
// renumbered stream's first datagrams, and the run started the sequence at the lowest number it
// had then. While nothing of the new sequence has played, a datagram a little before that number
// (never further than T38_RESYNC_STEP before the run's first), under a number no sequence played,
// is the run's own (its content may repeat what was played: a peer's frames open alike), unless
// the run brought only the past: the sequence starts at it instead, and the break moves with it.
// Without it the first packet of a frame sent just after a renumbering came behind the playout
// and the frame played broken.
bool runStartCameLate(const T38ZREORDER* rq, const Carried& primary) {
  if (!rq->restartOpen || rq->lastoutTimeStamp != static_cast<uint16_t>(rq->restartFrom - 1)) return false;
  const uint16_t before = static_cast<uint16_t>(rq->restartRunFirst - primary.s);
  const uint16_t ahead = pastPlayout(rq, primary.s);  // one in the window needs no new start
  if (before == 0 || before > T38_RESYNC_STEP || (ahead != 0 && ahead < 0x8000)) return false;
  const int k = slotOf(primary.s);
  const bool knownThere = rq->numbers.seq[k] == primary.s && rq->numbers.state[k] != T38_UNKNOWN;
  return !knownThere;
}

void startAtLateFirst(T38ZREORDER* rq, uint16_t s) {
  rq->lastoutTimeStamp = static_cast<uint16_t>(s - 1);
  // the break lay at the run's first number: it lies at this one now, and the packets up to the
  // run's first go on the frame it opens
  if (rq->breakPending && rq->breakFrom == rq->restartFrom) rq->breakFrom = s;
  if (rq->breakPending && rq->breakTo == rq->restartFrom) rq->breakTo = s;
  rq->restartFrom = s;
}

// Rule 2: files the datagram numbered s in the sequence. It belongs when it is inside the
// window; else its primary is refused and counted, and a run of far ones starts the sequence anew.
// A datagram inside the window that contradicts the stream is refused, and is the stream's no more
// than a far one: a peer whose numbering stepped back sends its new packets under numbers the
// stream holds. Returns whether the sequence started anew (what the receiver knew is gone).
bool followSequence(T38ZREORDER* rq, const Carried* pk, int n, Verdict v) {
  const uint16_t s = pk[0].s;
  if (runStartCameLate(rq, pk[0])) startAtLateFirst(rq, s);
  const bool near = inWindow(rq, s);
  if (!near && leftSequenceGoesOn(rq, s)) {
    goBackToLeftSequence(rq, s);
    return true;
  }
  // new content under the new numbers: the run that started them was no stale one
  if (rq->restartDoubted && near && !refusedFor(v) && !playedBefore(rq, pk[0], true)) rq->restartDoubted = false;
  if (near && !refusedFor(v)) {
    if (steppedBackAndWentOn(rq, pk, n)) return restartAtRun(rq);
    if (mayGoOnAfterAStepBack(rq, s, n)) {
      // the network may have swapped the step back's last datagram with this one: the run stays
      // open, and this packet is the new sequence's too if the run proves a step
      if (!rq->run.wentOn) rq->run.wentOnSeq = static_cast<uint16_t>(rq->newest + 1);
      rq->run.wentOn = true;
      holdRunPackets(rq, pk, 1);
      return false;
    }
    // a packet far ahead that stands alone (rule 3) is not the stream going on: held apart, it
    // neither goes on with the run nor ends it, as a late copy does not (else a stray datagram
    // numbered far ahead ended a peer's step back before its run proved it)
    if (rq->run.length > 0 && static_cast<uint16_t>(s - rq->newest) > T38_CLOSE_AHEAD) return false;
    rq->run.length = 0;  // the sequence is alive: no run may take it over
    rq->runAside.length = 0;
    return false;
  }
  if (!near) suspectOwnNumber(rq, s, pk[0].digest, pk[0].digest, true);
  const bool repeats = repeatsPlayed(rq, pk[0]);
  const bool past = playedBefore(rq, pk[0], true);
  // a run goes on a little either side of its last datagram: the network may swap its datagrams
  auto goesOnWith = [s](const T38ZRUN& run) {
    return run.length > 0 && (static_cast<uint16_t>(s - run.last) <= T38_RESYNC_STEP ||
                              static_cast<uint16_t>(run.last - s) <= T38_RESYNC_STEP);
  };
  bool goesOn = goesOnWith(rq->run);
  // far datagrams of two runs interleaved (a stale run the network brings while a peer
  // renumbers): each goes on with its own, and neither ends the other
  if (!goesOn && !near && goesOnWith(rq->runAside)) {
    std::swap(rq->run, rq->runAside);
    goesOn = true;
  }
  // a late copy of what the stream played, away from the run, is neither the run's nor anything
  // new: the run goes on past it (else a late burst while a peer renumbers keeps it from proving);
  // so is a datagram whose number one bit away would go on with the run: the run's own, its
  // number moved on the way (rule 5)
  if (!goesOn && rq->run.length > 0 && (repeats || oneBitFromRun(rq, s))) {
    ++rq->failtoReorderCount;  // (behind the playout: never inside the window)
    return false;
  }
  if (goesOn) {
    ++rq->run.length;
    rq->run.copies = rq->run.copies || n > 1;
    rq->run.contradicts = rq->run.contradicts || v.disagree > 0;
    rq->run.repeats = rq->run.repeats || repeats;
    rq->run.past = rq->run.past && past;
    if (static_cast<int16_t>(s - rq->run.first) < 0) {  // the run's first datagram came late
      rq->run.first = s;
      rq->run.joins = joinsStream(rq, pk, n);
      if (static_cast<int16_t>(s - rq->run.from) < 0 || rq->run.joins) rq->run.from = s;
    }
  } else {
    if (near) rq->runAside.length = 0;
    else if (rq->run.length > 0) rq->runAside = rq->run;
    rq->run.length = 1;
    rq->run.since = rq->time;
    rq->run.first = s;
    rq->run.contradicts = v.disagree > 0;
    rq->run.repeats = repeats;
    rq->run.past = past;
    rq->run.joins = joinsStream(rq, pk, n);
    rq->run.copies = n > 1;
    rq->run.from = s;
    rq->run.held = 0;
    rq->run.octetsUsed = 0;
    rq->run.wentOn = false;
  }
  // a step back the network swapped: the copies show where the peer's new numbers began
  if (near && !rq->run.joins) {
    const uint16_t from = steppedBackFrom(rq, pk, n);
    if (static_cast<int16_t>(from - rq->run.from) < 0) rq->run.from = from;
  }
  rq->run.last = s;
  // within the late limit the run's content decides: new content under numbers played proves a
  // new sequence, what was played under them shows late copies, and over numbers never played (lost,
  // passed, before the sequence began) only a run longer than a late burst proves anything, unless
  // its first datagram's copies are the packets the stream ended with (a renumbering shows so); a
  // run whose every primary was played before, under whatever numbers, is the past renumbered
  // however long it is: only new content proves a new sequence. So it is further behind, as far
  // as the receiver remembers what it played, for a run whose datagrams carry copies: there a
  // renumbering shows itself by them. Without copies, or further away, its length decides, unless
  // it brings what was played under its very numbers: late copies, however far. So are the
  // datagrams of the sequence before a restart (its records outlive it), whose numbers, seen from
  // a peer's new ones, lie anywhere. A run of the past that is still coming, longer than a late
  // burst, more than T38_LATE_WAIT_MAX after its first datagram with nothing of the stream
  // between, is a peer sending at its pace, not a burst the network held back (it brings nothing
  // later than that behind what came with it): its length decides, as over numbers never played.
  // Without it a peer that renumbered within the late limit and then sent only frames and page
  // rows repeating its earlier ones was never followed, and the far terminal waited for good.
  const uint16_t behind = static_cast<uint16_t>(rq->newest - rq->run.first);
  const bool late = behind <= T38_LATE_LIMIT;
  const bool judged = late || (behind <= T38_REMEMBERED_BEHIND && rq->run.copies);
  const bool renumbered = rq->run.contradicts || (rq->run.joins && !rq->run.repeats);
  const bool paced =
      rq->run.length >= T38_RESYNC_RUN_UNSEEN && static_cast<uint16_t>(rq->time - rq->run.since) > T38_LATE_WAIT_MAX;
  const bool judgedPastThatMayBeBurst = judged && rq->run.past && !paced;
  const bool proven = renumbered                                    ? rq->run.length >= T38_RESYNC_RUN
                      : rq->run.repeats || judgedPastThatMayBeBurst ? false
                                                                    : rq->run.length >= (late ? T38_RESYNC_RUN_UNSEEN : T38_RESYNC_RUN);
  const bool frameAfterPreamble = !proven && renumberedFrameAfterPreamble(rq, pk, n, v);
  if (!proven && !frameAfterPreamble) {
    holdRunPackets(rq, pk, n);
    if (!near) ++rq->failtoReorderCount;  // one refused inside the window is counted as such
    return false;
  }
  // the frame's copies join it to the stream's newest packets: the sequence starts at the first
  // packet the peer sent after them (its preamble), with no break
  if (frameAfterPreamble && n > 1) rq->run.from = steppedBackFrom(rq, pk, n);
  // a run of the past behind the stream, proved by its length alone, may be a stale run as well
  // as a peer that renumbered and sent its frames again: the sequence it leaves may still go on
  // (a run ahead of it, past the window, is as often the stream itself running ahead of the
  // playout, its page data repeating packets)
  const bool doubted = !renumbered && rq->run.past && static_cast<int16_t>(rq->newest - rq->run.first) > 0;
  const uint16_t left = rq->newest;
  restartAtRun(rq);
  rq->restartDoubted = doubted;
  rq->leftNewest = left;
  return true;
}

// Rule 2, a restart undone: the sequence restarted on a run of the past that its length alone
// proved, nothing new has come under the new numbers since, and the datagram numbered s is the
// sequence left behind going on (a little past its newest number). A peer that renumbered sends
// nothing new under its old numbers: the run was stale, and the sequence goes on from s. What
// the run queued and did not play yet goes; what it played broke the frame open, which ends bad
// before s.
bool leftSequenceGoesOn(const T38ZREORDER* rq, uint16_t s) {
  return rq->restartDoubted && static_cast<uint16_t>(s - rq->leftNewest - 1) < T38_RESYNC_STEP;
}

void goBackToLeftSequence(T38ZREORDER* rq, uint16_t s) {
  DG_HDL h;
  while (dg_deq(&rq->egressPktq, &h)) dg_free(dg_QmPeekFront(&h.qhdr));
  t38fReorderStart(rq, s);
  noteBreak(rq, s, s);
  noteStrayBefore(rq, s);
}

// Starts the new sequence the run proved, with what its datagrams carried. Returns true.
bool restartAtRun(T38ZREORDER* rq) {
  // a packet of the old sequence disputed and never settled is gone from what it leaves to drain
  // (a peer that stepped back sent it, and its next packets come as the new sequence): the frame
  // open across the restart ends bad, even when the new sequence joins the old one's packets
  bool brokenBefore = false;
  for (uint16_t k = static_cast<uint16_t>(rq->lastoutTimeStamp + 1); static_cast<int16_t>(k - rq->newest) <= 0; ++k)
    brokenBefore = brokenBefore || stateOf(rq, k) == T38_DISPUTED;
  // the datagrams that went on after the step belong to the new sequence, not to what drains
  if (rq->run.wentOn && static_cast<int16_t>(rq->run.wentOnSeq - rq->lastoutTimeStamp) > 0) {
    const T38ZRUNPACKET* first = rq->run.packets;
    const T38ZRUNPACKET* end = first + rq->run.held;
    for (uint16_t k = rq->run.wentOnSeq; static_cast<int16_t>(k - rq->newest) <= 0; ++k) {
      uint8_t octets[T38_MAX_RX_IFP + 1];
      EGR_IFP_PKT* record = nullptr;
      const bool held = std::find_if(first, end, [&](const T38ZRUNPACKET& p) { return p.seq == k; }) != end;
      if (held && queued(rq, k, octets, &record) > 0) {
        t38egr_ifp_remove(&rq->egressPktq, record);
        setState(rq, k, T38_UNKNOWN);
      }
    }
  }
  drainOldSequence(rq);
  const bool joins = rq->run.joins || rq->run.from != rq->run.first;
  const uint8_t held = rq->run.held;
  const uint16_t from = rq->run.from;
  const bool past = rq->run.past;
  t38fReorderStart(rq, from);
  if (!joins || brokenBefore) noteBreak(rq, from, from);
  // a run that brought something new starts the sequence where the peer's new numbers began: a
  // little before it, its own first datagram may still come
  rq->restartOpen = !joins && !past;
  rq->restartFrom = from;
  rq->restartRunFirst = from;
  // what the run's datagrams carried starts the new sequence (the last one, at hand, is taken as
  // usual); copies of numbers before its first belong to the sequence before
  for (uint8_t i = 0; i < held; ++i) {
    const T38ZRUNPACKET& kept = rq->run.packets[i];
    if (!isIFPmissing(rq, kept.seq)) continue;
    if (kept.disputed) {
      // two of the run's datagrams disagreed on it, and no stream was there to side with either
      // (rule 4): it plays as lost unless a later copy brings it
      setState(rq, kept.seq, T38_DISPUTED);
      disputedDigest(rq, kept.seq) = t38fIFPdigest(rq->run.octets + kept.at, kept.len);
      vouchUpTo(rq, kept.seq);
      continue;
    }
    if (!enqueueIFP(rq, rq->run.octets + kept.at, kept.len, kept.seq)) continue;
    vouchUpTo(rq, kept.seq);
  }
  return true;
}

// Whether a packet of this digest is one the stream already played under some number:
// datagrams of the past numbered ahead bring it again, a stream that went on brings new content.
// With `sequencesBefore`, also what the sequences before the last restart played: a run far off
// (rule 2) may be their past. Rule 3 asks only of this sequence: a run there that repeats what was
// played waits at the playout's head for a longer run to vouch for it, and what the sequence
// before played is no reason to hold up packets this one never had.
bool repeatsPlayedDigest(const T38ZREORDER* rq, uint16_t digest, bool sequencesBefore = false) {
  for (int k = 0; k < T38_NUMBER_SLOTS; ++k)
    if ((rq->numbers.state[k] == T38_PLAYED || (sequencesBefore && rq->numbers.state[k] == T38_PAST)) && rq->numbers.content[k] == digest)
      return true;
  return false;
}

// Whether the packet is one the stream already has under some number, played or still queued in
// line with it. (A stale run may come while the peer sends its frames again, their packets not yet
// played: the same packets queued are as old as the ones played.)
bool playedBefore(const T38ZREORDER* rq, const Carried& pk, bool sequencesBefore) {
  if (repeatsPlayedDigest(rq, pk.digest, sequencesBefore)) return true;
  for (const EGR_IFP_PKT* p = t38egr_ifp_QmPeekFront(&rq->egressPktq); p != nullptr; p = t38egr_ifp_QmPeekLink(p)) {
    if (stateOf(rq, t38egr_ifp_rd_sequenceNum(p)) != T38_QUEUED) continue;  // one standing alone is no one's word
    if (recordDigest(p, static_cast<uint16_t>(~pk.digest)) == pk.digest) return true;
  }
  return false;
}

// Packets held alone from the run's first datagram (and what it carried) up to s: far datagrams
// in a row with nothing of the stream between them, each a little after the one before (or a copy
// of it), are where the stream went on.
void vouchForAloneRun(T38ZREORDER* rq, uint16_t s) {
  const uint16_t span = static_cast<uint16_t>(s - rq->aloneFirst + T38_MAX_SECONDARIES_TAKEN);
  for (uint16_t k = 0; k <= span; ++k) {
    const uint16_t before = static_cast<uint16_t>(s - k);
    if (stateOf(rq, before) != T38_ALONE) continue;
    setState(rq, before, T38_QUEUED);
    vouchUpTo(rq, before);
  }
}

// Whether a datagram may be the network's duplicate of the one that brought the packets disputed
// under its numbers: none of its copies brings, under a number disputed, other content than the
// packet that left there. One that does is no duplicate (the peer's own datagram, the other one
// altered on the way): its primary is a second word for the packet that left with the other's.
bool mayDuplicateDisputed(const T38ZREORDER* rq, const Carried* pk, int n) {
  for (int i = 1; i < n; ++i)
    if (stateOf(rq, pk[i].s) == T38_DISPUTED && disputedDigest(rq, pk[i].s) != pk[i].digest) return false;
  return true;
}

// Where the pool has no room for the packet numbered s, the queued packet that would play last
// leaves for it, if it lies after s: the queue keeps what plays first, whatever its packets'
// lengths. A peer that cuts its data into short packets fills the pool long before the reorder
// delay is up: refused, the packet the playout waited for left the packets after it waiting for
// the delay to run out, the next ones were refused too, the stream's newest number stalled and
// the next frame stood alone. The one that leaves came last: where the peer sends copies, they are
// still to come (without copies it is lost as surely as the one refused, and stays). False when
// nothing queued lies after s.
bool makeRoomFor(T38ZREORDER* rq, uint16_t s) {
  EGR_IFP_PKT* last = nullptr;
  for (EGR_IFP_PKT* p = t38egr_ifp_QmPeekFront(&rq->egressPktq); p != nullptr; p = t38egr_ifp_QmPeekLink(p)) {
    const uint16_t q = t38egr_ifp_rd_sequenceNum(p);
    if (static_cast<int16_t>(q - s) > 0 &&
        (last == nullptr || static_cast<int16_t>(q - t38egr_ifp_rd_sequenceNum(last)) > 0))
      last = p;
  }
  if (last == nullptr) return false;
  setState(rq, t38egr_ifp_rd_sequenceNum(last), T38_UNKNOWN);
  t38egr_ifp_remove(&rq->egressPktq, last);
  return true;
}

// Where T38_MAX_ALONE packets stand alone already, the one held longest leaves for a packet that
// stands alone too, if it was held longer than the playout ever waits at a gap: the run that would
// vouch for it comes within the network's lateness, and one that held its place while its run
// never came kept the peer's next frame out (rule 3). The first packets of a run still coming keep
// theirs: it vouches for them. False when none may leave.
bool makeAloneRoom(T38ZREORDER* rq) {
  EGR_IFP_PKT* oldest = nullptr;
  uint16_t age = T38_LATE_WAIT_MAX;
  for (EGR_IFP_PKT* p = t38egr_ifp_QmPeekFront(&rq->egressPktq); p != nullptr; p = t38egr_ifp_QmPeekLink(p)) {
    const uint16_t a = static_cast<uint16_t>(rq->time - t38egr_ifp_rd_arrivaltime(p));
    if (stateOf(rq, t38egr_ifp_rd_sequenceNum(p)) != T38_ALONE || a <= age) continue;
    oldest = p;
    age = a;
  }
  if (oldest == nullptr) return false;
  setState(rq, t38egr_ifp_rd_sequenceNum(oldest), T38_UNKNOWN);
  t38egr_ifp_remove(&rq->egressPktq, oldest);
  return true;
}

// Queues the packet, making room for it from the packets that play after it where the pool is dry
// and the datagram it came in carries copies.
bool enqueueMakingRoom(T38ZREORDER* rq, const Carried& pk, bool copies) {
  while (!enqueueIFP(rq, pk.ifp, pk.len, pk.s))
    if (!copies || !makeRoomFor(rq, pk.s)) return false;
  return true;
}

// Rules 3 to 5 for one packet the datagram numbered `dg` carries: takes `pk` (its primary, or a
// copy) as the stream's (`vouched`) or as one standing alone; the datagram carries `copies` or
// not. Returns false when the pool is dry. `duplicate`: the datagram may be the network's
// duplicate of the one that brought a packet disputed under its number (mayDuplicateDisputed).
bool takeCarried(T38ZREORDER* rq, const Carried& pk, uint16_t dg, bool vouched, Verdict v, bool duplicate, bool copies) {
  const bool primary = pk.s == dg;
  // the datagrams that brought a queued packet, by how far after it they are numbered: the
  // network's duplicate of one of them is no second word for it
  const uint16_t from = static_cast<uint16_t>(1u << std::min<uint16_t>(static_cast<uint16_t>(dg - pk.s), 15));
  if (!inWindow(rq, pk.s)) return true;
  if (pk.len > T38_MAX_RX_IFP) {
    ++rq->invalidIFPCount;  // longer than the largest datagram holds: its number stays missing
    return true;
  }
  const T38_NUMBER_STATE st = stateOf(rq, pk.s);
  uint8_t octets[T38_MAX_RX_IFP + 1];
  EGR_IFP_PKT* record = nullptr;
  const int got = queued(rq, pk.s, octets, &record);
  if (got > 0) {
    if (sameAs(pk, octets, got)) {
      if (!(broughtBy(rq, pk.s) & from)) setVotes(rq, pk.s, votesFor(rq, pk.s) + 1);
      broughtBy(rq, pk.s) = static_cast<uint16_t>(broughtBy(rq, pk.s) | from);
      if (st == T38_ALONE && vouched) {
        setState(rq, pk.s, T38_QUEUED);
        vouchUpTo(rq, pk.s);
      }
      return true;
    }
    // different content: the stream's own takes the place of one that stood alone; a packet more
    // datagrams brought stays; else the one the stream backs more replaces it, and without that
    // neither is trusted
    const bool playable = t38fIFPwalkedPlayable(pk.ifp);
    if (playable && bringsFirstAgain(rq, pk, dg)) {
      // the packet queued first, its second datagram: it outvotes the refill, and plays contested
      const uint16_t refill = knownDigest(rq, pk.s, 0);
      t38egr_ifp_remove(&rq->egressPktq, record);
      setState(rq, pk.s, T38_UNKNOWN);
      if (!enqueueIFP(rq, pk.ifp, pk.len, pk.s)) return false;
      broughtBy(rq, pk.s) = from;
      setVotes(rq, pk.s, 2);
      markContestedBy(rq, pk.s, refill);
      if (vouched) vouchUpTo(rq, pk.s);
      return true;
    }
    if (st == T38_ALONE && vouched && playable) {
      t38egr_ifp_remove(&rq->egressPktq, record);
      setState(rq, pk.s, T38_UNKNOWN);
    } else if (votesFor(rq, pk.s) > 1) {
      markContestedBy(rq, pk.s, pk.digest);
      return true;  // a copy that more copies contradict never wins
    } else {
      dispute(rq, pk.s);  // one against one: neither is trusted, and the next copy settles it
      return true;
    }
  }
  if (!isIFPmissing(rq, pk.s)) return true;
  if (st == T38_DISPUTED && primary && duplicate && pk.digest == disputedDigest(rq, pk.s)) {
    ++rq->failtoReorderCount;  // the network's duplicate of the disputed packet's datagram
    return true;
  }
  if (!t38fIFPwalkedPlayable(pk.ifp)) {
    ++rq->invalidIFPCount;
    // the number stays missing: a good copy in a later datagram still fills it, but as one
    // content against another, like a dispute the copy settles
    if (st == T38_UNKNOWN) {
      setState(rq, pk.s, T38_DISPUTED);
      disputedDigest(rq, pk.s) = pk.digest;
    }
    return true;
  }
  const bool late = static_cast<int16_t>(pk.s - rq->newest) < 0;  // the stream went past it already
  if (st == T38_SUSPECT && v.agree == 0 && late && pk.digest != suspectBrought(rq, pk.s) && pk.digest != suspectHeldBefore(rq, pk.s)) {
    ++rq->failtoReorderCount;  // nothing of the stream backs it: the number stays lost
    return true;
  }
  if (!vouched && rq->aloneHeld >= T38_MAX_ALONE && !makeAloneRoom(rq)) {
    ++rq->failtoReorderCount;  // what stands alone may not take the pool from the stream
    return true;
  }
  if (!enqueueMakingRoom(rq, pk, copies)) return false;
  broughtBy(rq, pk.s) = from;
  // a later copy settles which of the two plays, not that the other was no packet of the peer's
  if (st == T38_DISPUTED) markContestedBy(rq, pk.s, disputedDigest(rq, pk.s));
  if (vouched)
    vouchUpTo(rq, pk.s);
  else if (stateOf(rq, pk.s) == T38_QUEUED)
    setState(rq, pk.s, T38_ALONE);
  return true;
}

// A digest of all a datagram carries.
uint16_t datagramDigest(const Carried* pk, int n) {
  uint16_t d = static_cast<uint16_t>(n);
  for (int i = 0; i < n; ++i) d = static_cast<uint16_t>((d * 31) ^ pk[i].digest);
  return d;
}

bool refusedBefore(const T38ZREORDER* rq, uint16_t s, uint16_t digest) {
  for (int i = 0; i < T38_REFUSED_KEPT; ++i)
    if (rq->refusedSeq[i] == s && rq->refusedDigest[i] == digest) return true;
  return false;
}

// A datagram that contradicted nothing carries its packets in the peer's order: each queued packet
// it brought follows, in the peer's own stream, the packet before it where the datagram carried
// that one too as the stream holds or played it, told apart from the packets beside it (fill
// agrees with a datagram numbered a little wrong as well).
void noteFollows(T38ZREORDER* rq, const Carried* pk, int n) {
  for (int i = 0; i + 1 < n; ++i) {
    const Carried& before = pk[i + 1];
    if (before.s != static_cast<uint16_t>(pk[i].s - 1) || stateOf(rq, pk[i].s) != T38_QUEUED) continue;
    const T38_NUMBER_STATE st = stateOf(rq, before.s);
    if (st != T38_QUEUED && st != T38_PLAYED) continue;
    uint8_t octets[T38_MAX_RX_IFP + 1];
    const int got = queued(rq, pk[i].s, octets);
    if (got > 0 && sameAs(pk[i], octets, got) && knownDigest(rq, before.s, static_cast<uint16_t>(~before.digest)) == before.digest &&
        distinct(rq, before))
      rq->numbers.votes[slotOf(pk[i].s)] |= kFollows;
  }
}

// Takes what a datagram carries that the receiver misses. A datagram that contradicts what the
// stream vouched for, in packets of as many datagrams as it agrees with in others, brings
// nothing. Where it contradicts packets still queued that one datagram brought, and it agrees
// with the stream in another packet or contradicts only packets of one datagram, nothing tells
// which of the two datagrams is the peer's word: those numbers are disputed.
void takeDatagram(T38ZREORDER* rq, const Carried* pk, int n, Verdict v) {
  const uint16_t s = pk[0].s;
  if (v.disagree > 0 && inWindow(rq, s)) suspectOwnNumber(rq, s, pk[0].digest, knownDigest(rq, s, pk[0].digest), false);
  if (refusedFor(v)) {
    // refused: if the peer's numbers stepped back, what it carries is new and lost, and the frame
    // open now does not join across it (rule 6). So it is when nothing else can bring its packet
    // (it carries no copies), or when another refused datagram came close to it in number and in
    // arrival, whatever their order and whatever was lost between them; a stray copy whose number
    // lost a bit comes alone, and its packet still comes under its own number. The new packets
    // lost belong after the newest number the stream holds: the break reaches there.
    const bool near = rq->contradicted && static_cast<uint16_t>(s - rq->lastContradicting + T38_RESYNC_STEP) <= 2 * T38_RESYNC_STEP &&
                      static_cast<uint16_t>(rq->datagrams - rq->lastContradictingAt) <= T38_RESYNC_STEP;
    const uint16_t after = static_cast<uint16_t>(rq->newest + 1);
    if (n == 1 || near) noteBreak(rq, pk[n - 1].s, static_cast<int16_t>(s - after) > 0 ? s : after);
    // copies that are the stream's packets a few numbers on show the peer's numbering stepped back
    // (or this datagram's number lost a bit): the packets held under the numbers it reused may not
    // be all it sent there, so they are contested
    if (steppedBack(rq, pk, n))
      for (uint16_t k = static_cast<uint16_t>(rq->lastoutTimeStamp + 1); static_cast<int16_t>(k - rq->newest) <= 0; ++k)
        if (static_cast<int16_t>(k - s) >= 0 && stateOf(rq, k) == T38_QUEUED) markContested(rq, k);
    rq->contradicted = true;
    rq->lastContradicting = s;
    rq->lastContradictingAt = rq->datagrams;
    rq->lastContradictingDigest = pk[0].digest;
    // one datagram's word against another's on packets still queued that one datagram brought:
    // neither outvotes the other. A datagram's agreement with the stream shows its number right,
    // not its content: a packet altered on the way comes in a datagram numbered right, and its copy
    // in the next one, which at low redundancy agrees with nothing more, or with as little. The
    // numbers play as lost unless more copies settle them, and the frame across them ends bad. A
    // datagram that agrees with nothing and contradicts packets of several datagrams is numbered
    // wrong: what it contradicts stays.
    // A copy a known step forward explains (the stream's packet the step's size before its
    // number) is the peer's older packet, no word against the one queued there.
    if ((v.agree > 0 || v.disagreeSources == 1) && !v.disagreePlayed)
      for (int i = 0; i < n; ++i)
        if (stateOf(rq, pk[i].s) == T38_QUEUED && votesFor(rq, pk[i].s) == 1 &&
            knownDigest(rq, pk[i].s, pk[i].digest) != pk[i].digest && !explainedByStep(rq, pk[i]))
          dispute(rq, pk[i].s);
    rq->refusedSeq[rq->refusedNext] = s;
    rq->refusedDigest[rq->refusedNext] = datagramDigest(pk, n);
    rq->refusedNext = static_cast<uint8_t>((rq->refusedNext + 1) % T38_REFUSED_KEPT);
    ++rq->failtoReorderCount;
    return;
  }
  // the last datagram refused was this one's copy under a number one bit away (rule 5): the
  // network's, no peer's after a step back, so no refused datagram after it is beside a run of them
  if (rq->contradicted && pk[0].digest == rq->lastContradictingDigest &&
      std::has_single_bit(static_cast<uint16_t>(s ^ rq->lastContradicting)) && isV21OrIndicator(pk[0]))
    rq->contradicted = false;
  // close to the stream, which is at least where the playout is
  auto closeAt = [&](uint16_t x) {
    const uint16_t front = static_cast<int16_t>(rq->newest - rq->lastoutTimeStamp) > 0 ? rq->newest : rq->lastoutTimeStamp;
    return static_cast<int16_t>(x - front) <= static_cast<int16_t>(T38_CLOSE_AHEAD);
  };
  auto close = [&] { return closeAt(s); };
  if (inWindow(rq, s) && v.agree == 0 && !close()) {
    suspectOwnNumber(rq, s, pk[0].digest, pk[0].digest, true);
    // the run spans aloneFirst to aloneLast, and goes on a little either side: the network may
    // swap its datagrams
    const bool goesOn = rq->aloneRun > 0 && static_cast<uint16_t>(s - rq->aloneFirst + T38_CLOSE_AHEAD) <=
                                                static_cast<uint16_t>(rq->aloneLast - rq->aloneFirst + 2 * T38_CLOSE_AHEAD);
    if (!goesOn) rq->aloneFirst = rq->aloneLast = s;
    if (static_cast<int16_t>(s - rq->aloneFirst) < 0) rq->aloneFirst = s;
    if (static_cast<int16_t>(s - rq->aloneLast) > 0) rq->aloneLast = s;
    rq->aloneRepeats = (goesOn ? rq->aloneRepeats : true) && playedBefore(rq, pk[0], false);
    rq->aloneRun = goesOn ? static_cast<uint8_t>(std::min(rq->aloneRun + 1, 255)) : 1;
    // once the stream came between far datagrams, they were not where it went on: a run must be
    // twice as long to show it went there after all; a run that only repeats what was played may
    // be the past renumbered, or the peer sending its frames again after an outage: only one
    // longer than a late burst shows the latter, unless, with nothing of the stream between, its
    // copies reach back within T38_CLOSE_AHEAD of the stream (the peer went on from there, its
    // first datagrams after the outage lost)
    const bool reaches = closeAt(pk[n - 1].s);
    const uint8_t needed = rq->aloneRepeats && (rq->aloneInterrupted || !reaches) ? T38_RESYNC_RUN_UNSEEN
                           : rq->aloneInterrupted                                  ? 2 * T38_RESYNC_RUN
                                                                                   : T38_RESYNC_RUN;
    if (rq->aloneRun >= needed) {
      vouchForAloneRun(rq, rq->aloneLast);
      vouchUpTo(rq, rq->aloneLast);
      rq->aloneInterrupted = false;
      rq->aloneRun = 0;
    }
  }
  const bool vouched = v.agree > 0 || close();  // a run of far ones that vouched for itself is close now
  if (vouched && inWindow(rq, s)) {  // a datagram in line with the stream ends a run of far ones
    rq->aloneInterrupted = rq->aloneInterrupted || rq->aloneRun > 0;
    rq->aloneRun = 0;
  }
  // numbers skipped, yet the copies are the stream's newest packets: the peer's numbering stepped
  // forward and its copies carry the numbers it skipped, which hold nothing of it (rule 6)
  const uint16_t shift = steppedForward(rq, pk, n);
  const bool stepped = shift != 0;
  noteStepOneBitOff(rq, pk[0], shift);
  const bool duplicate = mayDuplicateDisputed(rq, pk, n);
  for (int i = 0; i < (stepped ? 1 : n); ++i) {
    if (i > 0 && steppedOver(rq, pk[i].s)) continue;  // a copy there is an older packet of the peer's
    if (!takeCarried(rq, pk[i], s, vouched, v, duplicate, n > 1)) return;  // the pool is dry: the rest would fare no better
  }
  if (v.disagree == 0 && !stepped) noteFollows(rq, pk, n);
}

// Walks the secondaries after the choice octet at `p`, appending those found whole to `pk`; false
// when the datagram turns out malformed (what was found before stays).
bool walkSecondaries(const uint8_t* p, const uint8_t* end, uint16_t s, Carried* pk, int* n) {
  if (p >= end) return false;
  const uint8_t choice = *p++;
  if (choice & 0x80) return false;  // forward error correction: not taken
  const uint16_t count = t38fGetLengthDeterminant(&p, end);
  if (count == 0xFFFF) return false;
  for (uint16_t i = 0; i < count && i < T38_MAX_SECONDARIES_TAKEN && p < end; ++i) {
    const uint16_t li = t38fGetLengthDeterminant(&p, end);
    if (li == 0xFFFF || li > end - p || t38fIFPcheck(p, li) != li) return false;
    pk[(*n)++] = {p, li, static_cast<uint16_t>(s - 1 - i), t38fIFPdigest(p, li)};
    p += li;
  }
  return true;
}

// Rule 7: a packet already handed on that a later datagram's copy contradicts is reported
// (playedContradicted), so that the frame it went into, if still playing, ends bad: at a low
// redundancy the copy that shows a packet altered on the way comes a datagram later, often while
// its frame is still on the line. The contradicting datagram must bring a new packet of its own (a
// late duplicate altered on the way brings nothing), and counts as for rule 4's disputes: one that
// agrees with nothing and contradicts packets of several datagrams is numbered wrong. `judged`
// packets of the datagram were judged (its primary alone for a step forward).
void noteHandedOnContradicted(T38ZREORDER* rq, const Carried* pk, int judged, const Verdict& v) {
  // a late datagram (its primary played, from a copy) is in line with the stream when it agrees with
  // as much of it as it contradicts: a packet played under its numbers that one datagram alone
  // brought may not be the peer's (one against one); one that more brought outvotes it
  const bool late = !inWindow(rq, pk[0].s);
  // its own primary, the very packet played under its number, shows it the stream's even where that
  // packet equals the ones beside it (page data, fill) and so counts for no agreement in rule 4:
  // against the one datagram that brought the packet its copy contradicts, nothing proves which of
  // the two the peer sent, and the frame must not end good on either
  const bool ownPlayed = late && stateOf(rq, pk[0].s) == T38_PLAYED && playedDigest(rq, pk[0].s) == pk[0].digest && !distinct(rq, pk[0]);
  const int agree = v.agree + (ownPlayed ? 1 : 0);
  const bool outOfLine = late ? agree == 0 || agree < v.disagreeSources : v.agree == 0 && v.disagreeSources > 1;
  if (!v.disagreePlayed || outOfLine) return;
  for (int i = late ? 0 : 1; i < judged; ++i) {
    if (stateOf(rq, pk[i].s) != T38_PLAYED || playedDigest(rq, pk[i].s) == pk[i].digest) continue;
    if (votesFor(rq, pk[i].s) > 1) continue;  // as in rule 4, one copy never outvotes more datagrams
    if (rq->playedContradicted && static_cast<int16_t>(rq->playedContradictedSeq - pk[i].s) >= 0) continue;
    rq->playedContradicted = true;
    rq->playedContradictedSeq = pk[i].s;  // the newest: the frame still playing, if any, holds it
  }
}

// The packet numbered s, not yet queued nor passed, arrives now: how long after the first of the
// stream's queued packets numbered after it came (the network's lateness, measured where no gap
// was given up). Later than T38_LATE_WAIT_MAX it teaches nothing, as a datagram that late after
// its number was given up does not.
void noteOvertaken(T38ZREORDER* rq, uint16_t s) {
  // in order, or past everything in line: nothing queued is numbered after it
  if (static_cast<int16_t>(rq->newest - s) <= 0 || !inWindow(rq, s) || t38egr_ifp_find(&rq->egressPktq, s) != nullptr) return;
  uint16_t late = 0;
  for (EGR_IFP_PKT* p = t38egr_ifp_QmPeekFront(&rq->egressPktq); p != nullptr; p = t38egr_ifp_QmPeekLink(p))
    if (static_cast<int16_t>(p->sequenceNum - s) > 0 && stateOf(rq, p->sequenceNum) == T38_QUEUED)
      late = std::max(late, static_cast<uint16_t>(rq->time - p->arrivalTime));
  if (late < T38_LATE_WAIT_MAX) rq->lateBehind = std::max(rq->lateBehind, late);
}

// A datagram came later than the reorder wait then in force: the wait at a gap grows to cover as
// late a datagram, and a little more, up to T38_LATE_WAIT_MAX. Only the stream's own order is
// measured: a datagram numbered among the numbers the playout gave up last (measured from the
// give-up), and one whose number is still missing while packets numbered after it wait in the
// queue (measured from the first of them to arrive: at a gap it would have been given up had the
// playout not been held behind packets in line, and the next one as late is). A datagram of the
// past or far off the stream teaches nothing.
void noteLate(T38ZREORDER* rq, uint16_t s) {
  noteOvertaken(rq, s);
  const uint16_t span = static_cast<uint16_t>(rq->gaveUpTo - rq->gaveUpFrom);
  if (!rq->gaveUpKnown || static_cast<uint16_t>(s - rq->gaveUpFrom) > span) return;
  const uint16_t late = static_cast<uint16_t>(rq->time - rq->gaveUpAt);
  if (late >= T38_LATE_WAIT_MAX) return;
  const int wanted = rq->gaveUpWait + late + T38_LATE_WAIT_MARGIN;
  rq->lateWait = static_cast<uint16_t>(std::max<int>(rq->lateWait, std::min<int>(wanted, T38_LATE_WAIT_MAX)));
}

// Whether what the stream holds past the playout is only what came in the datagram the playout
// last jumped to, still queued: that datagram's packets are the stray ones, played or not (the
// playout holds a packet that closes a frame good for the datagram after it). Nothing of the
// stream lies past what was played since the jump.
bool onlyStrayAhead(const T38ZREORDER* rq) {
  const uint16_t ahead = static_cast<uint16_t>(rq->newest - rq->lastoutTimeStamp);
  if (ahead == 0) return true;
  if (ahead > T38_MAX_SECONDARIES_TAKEN) return false;
  for (uint16_t k = 1; k <= ahead; ++k) {
    const uint16_t s = static_cast<uint16_t>(rq->lastoutTimeStamp + k);
    const T38_NUMBER_STATE st = stateOf(rq, s);
    if ((st != T38_QUEUED && st != T38_ALONE) || queuedFrom(rq, s) != rq->jumpSource) return false;
  }
  return true;
}

// The stream's own next packet after the last jump of the playout, with nothing past what was
// played since but the rest of the datagram jumped to: the packet jumped to repeated one played
// before, and it and the few played in order after it (a misnumbered copy, or a stale run
// renumbered ahead) were no packets of the stream's there (rule 3); what that datagram brought
// and the playout still holds is as stray, and leaves the queue. Where the one jumped to is this
// very packet (the network's copy of it came first, misnumbered), it was played in its turn after
// all: the playout is at its number and the frame goes on whole. Else, past a gap of more than
// one number, the playout goes back before them, and the frame the stray packets went into, which
// ended there bad, does not join across them; the numbers jumped to are free for their own
// packets.
// The stream's next packet is the one numbered after it where the packet jumped to lies one bit
// of its number from the one right behind the playout: that may be this very number's datagram,
// moved on the way (rule 5), and at redundancy 0 nothing else brings it again; waiting for it, the
// jump was never undone. So is the datagram of the number jumped to itself, other content than
// the packet jumped to: that number's own came, and the one jumped to was moved there; waiting on,
// it and the next datagram's copy of it were refused for contradicting the stray packet, and the
// frame across that number lost it.
void undoJump(T38ZREORDER* rq, const Carried& primary) {
  const uint16_t next = static_cast<uint16_t>(rq->jumpFrom + 1);
  const bool ownJumpedTo = primary.s == rq->jumpTo && primary.digest != rq->jumpDigest;
  const bool afterMoved = (primary.s == static_cast<uint16_t>(next + 1) || ownJumpedTo) &&
                          std::has_single_bit(static_cast<uint16_t>(next ^ rq->jumpTo));
  if (!rq->jumpKnown || (primary.s != next && !afterMoved)) return;
  rq->jumpKnown = false;
  const bool early = primary.s == next && rq->lastoutTimeStamp == rq->jumpTo && primary.digest == rq->jumpDigest;
  // where this very packet came first, what lies past it is the stream's going on from it
  if (rq->newest != rq->lastoutTimeStamp && (early || !onlyStrayAhead(rq))) return;
  // a jump over one number is the network swapping two datagrams as often: the packet jumped to
  // is as likely the stream's own, and without copies going back would lose it
  if (!early && static_cast<uint16_t>(rq->jumpTo - rq->jumpFrom) <= 2) return;
  for (uint16_t k = rq->jumpTo; k != static_cast<uint16_t>(rq->newest + 1); ++k) {
    if (EGR_IFP_PKT* p = t38egr_ifp_find(&rq->egressPktq, k)) t38egr_ifp_remove(&rq->egressPktq, p);
    setState(rq, k, T38_UNKNOWN);
  }
  rq->gaveUpKnown = false;
  if (early) {
    rq->lastoutTimeStamp = rq->newest = primary.s;
    setState(rq, primary.s, T38_PLAYED);
    playedDigest(rq, primary.s) = primary.digest;
    return;
  }
  rq->lastoutTimeStamp = rq->newest = rq->jumpFrom;
  // a break pending lies among the numbers jumped to, or reaches them because the stray packets
  // were the stream's newest when it was noted: the frame across them ends bad here, and kept, it
  // would break every frame of the stream up to the stray numbers. The first packet played after
  // them is the one right behind the playout where this datagram's copies bring it.
  rq->breakPending = false;
  noteBreak(rq, next, next);
  noteStrayBefore(rq, next);
}

// Files a datagram that is no duplicate of one refused: judged against what the stream holds, it
// goes to the sequence and step rules, then what it carries is taken.
void fileDatagram(T38ZREORDER* rq, const Carried* pk, int n) {
  const uint16_t s = pk[0].s;
  undoJump(rq, pk[0]);
  // a stepping datagram's copies are the stream's packets under other numbers: they neither
  // agree with it nor contradict it
  const uint16_t shift = steppedForward(rq, pk, n);
  Verdict v = judge(rq, pk, shift != 0 ? 1 : n);
  // a queued packet it shows misnumbered (it contradicts that one alone, or brings it where a
  // step forward's copies placed it) came first in its own datagram, moved one bit of its number
  // (rule 5): that one's packets go, and this one is judged again
  uint16_t moved;
  if (exposesMisnumbered(rq, pk, n, v, &moved)) {
    withdraw(rq, moved);
    v = judge(rq, pk, shift != 0 ? 1 : n);
  } else if (rulesOutIndicator(rq, pk, n, v, &moved)) {
    ruleOut(rq, moved);
    v = judge(rq, pk, shift != 0 ? 1 : n);
  }
  // one that contradicts the stream may be the network's copy of the stream's own datagram under
  // a number one bit away (rule 5): it brings nothing. Beside a run of refused datagrams it is
  // the run's (a peer that stepped back goes on there, whatever the stream held a power of two
  // before)
  const bool inRun = rq->run.length > 0 && static_cast<uint16_t>(s - rq->run.last + T38_RESYNC_STEP) <= 2 * T38_RESYNC_STEP;
  if (v.disagree > 0 && !inRun && !mayHaveSteppedBack(rq, pk, n) && misnumberedCopy(rq, pk, n, v)) {
    ++rq->failtoReorderCount;  // the stream's own datagram under another number: nothing new
    return;
  }
  noteHandedOnContradicted(rq, pk, shift != 0 ? 1 : n, v);
  if (followSequence(rq, pk, n, v)) v = Verdict{};  // nothing is known of the new sequence yet
  followStep(rq, pk, n, shift);
  takeDatagram(rq, pk, n, v);
}

}  // namespace

uint16_t t38fReorderGapWait(const T38ZREORDER* rq, uint16_t s, uint16_t reorderDelay) {
  const uint16_t ahead = pastPlayout(rq, s);
  if (ahead <= 1 || (ahead & 0x8000)) return reorderDelay;
  // a packet that came lateBehind after one numbered after it: the wait past the delay covers it
  const int behind = rq->lateBehind + T38_LATE_WAIT_MARGIN - reorderDelay;
  const int extra = std::max<int>(rq->lateWait, std::min<int>(behind, T38_LATE_WAIT_MAX));
  return static_cast<uint16_t>(reorderDelay + extra);
}

void t38fReorderInit(T38ZREORDER* rq, MEM_BufPool* pool) {
  *rq = T38ZREORDER{};
  MEM_InitQueue(&rq->egressPktq);
  MEM_InitQueue(&rq->drainq);
  rq->heapId = pool;
  rq->lastoutTimeStamp = 0xFFFF;
  rq->newest = 0xFFFF;
}

void t38fReorderStart(T38ZREORDER* rq, uint16_t first) {
  rq->isReorderQInitialized = true;
  rq->lastoutTimeStamp = static_cast<uint16_t>(first - 1);
  rq->lastTimeStamp = static_cast<uint16_t>(first - 1);
  rq->newest = static_cast<uint16_t>(first - 1);
  rq->run.length = 0;
  rq->run.wentOn = false;
  rq->runAside.length = 0;
  rq->restartDoubted = false;
  rq->restartOpen = false;
  // what the receiver knew belongs to the sequence before; what it played stays, as the past: a
  // late burst under the old numbers, or a stale run of the old packets, is still told by its
  // content (rule 2), until the new sequence's numbers take the slots
  for (uint8_t& st : rq->numbers.state) st = st == T38_PLAYED || st == T38_PAST ? T38_PAST : T38_UNKNOWN;
  rq->aloneHeld = 0;
  rq->aloneRun = 0;
  rq->aloneInterrupted = false;
  rq->contradicted = false;
  rq->breakPending = false;
  rq->strayBefore = false;
  rq->stepKnown = false;
  rq->movedKnown = false;
  rq->jumpKnown = false;
  rq->gaveUpKnown = false;  // the network's lateness (lateWait) stays
}

bool isIFPmissing(T38ZREORDER* rq, uint16_t s) {
  if (!rq->isReorderQInitialized) {
    rq->isReorderQInitialized = true;
  } else if (!inWindow(rq, s)) {
    return false;  // already played out, or too far ahead
  }
  return t38egr_ifp_find(&rq->egressPktq, s) == nullptr;
}

bool enqueueIFP(T38ZREORDER* rq, const uint8_t* ifp, int len, uint16_t s) {
  DG_HDL h;
  if (!t38egr_ifp_init(rq->heapId, &h)) {
    ++rq->bufferPoolDry;
    return false;
  }
  t38egr_ifp_write_sequenceNum(&h, s);
  t38egr_ifp_write_arrivaltime(&h, rq->time);
  // the octets two to a word, first in the low half, written to the record a packet's worth at once
  constexpr int kPiece = (T38_MAX_IFP + 1) / 2;
  for (int at = 0; at < len; at += 2 * kPiece) {
    uint16_t w[kPiece];
    const int end = len - at < 2 * kPiece ? len : at + 2 * kPiece;
    t38egr_ifp_pack(w, ifp + at, end - at);
    const uint16_t n = static_cast<uint16_t>((end - at + 1) / 2);
    if (t38egr_ifp_write(&h, w, n) != n) {
      ++rq->bufferPoolDry;
      dg_free(dg_QmPeekFront(&h.qhdr));
      return false;
    }
  }
  EGR_IFP_PKT* head = t38egr_ifp_QmPeekFront(&rq->egressPktq);
  if (head == nullptr || static_cast<uint16_t>(s - rq->lastTimeStamp) < 63737) {
    rq->lastTimeStamp = s;
    t38egr_ifp_Enq(&rq->egressPktq, &h);
  } else {
    // distances modulo 65536: one modulo 65535 puts 65535 behind 0 where the numbers wrap
    const uint16_t d = static_cast<uint16_t>(s - head->sequenceNum);
    if (d > 1800) {
      // before the head: too late when already behind what was played out
      if (static_cast<uint16_t>(s - rq->lastoutTimeStamp) & 0x8000) {
        dg_free(dg_QmPeekFront(&h.qhdr));
        ++rq->failtoReorderCount;
        return true;
      }
      t38egr_ifp_QmInsertFront(&rq->egressPktq, &h);
    } else {
      EGR_IFP_PKT* behind = head;
      for (EGR_IFP_PKT* p = head; p != nullptr; p = t38egr_ifp_QmPeekLink(p))
        if (static_cast<uint16_t>(s - p->sequenceNum) < 1801) behind = p;
      t38egr_ifp_QmInsert(&rq->egressPktq, &h, behind);
    }
    ++rq->reorderCount;
  }
  setState(rq, s, T38_QUEUED);
  queuedFrom(rq, s) = rq->datagrams;
  rq->numbers.votes[slotOf(s)] = 1;  // one datagram, and no other content yet
  broughtBy(rq, s) = 0;  // by a datagram not told (a kept run's): the next one counts
  return true;
}

bool t38fUDPEgress(T38ZREORDER* rq, const uint8_t* dg, size_t len) {
  const uint8_t* p = dg;
  const uint8_t* end = dg + len;
  if (dg == nullptr || len < 2) {
    ++rq->invalidIFPCount;
    return false;
  }
  const uint16_t s = static_cast<uint16_t>((dg[0] << 8) | dg[1]);
  p += 2;
  // every length is bounded by the datagram
  const uint16_t L = t38fGetLengthDeterminant(&p, end);
  if (L == 0xFFFF || L > end - p || t38fIFPcheck(p, L) != L) {
    ++rq->invalidIFPCount;
    return false;
  }
  Carried pk[1 + T38_MAX_SECONDARIES_TAKEN];
  int n = 0;
  pk[n++] = {p, L, s, t38fIFPdigest(p, L)};
  const bool whole = walkSecondaries(p + L, end, s, pk, &n);
  // the first datagram sets the base, with the older packets it carries
  if (!rq->isReorderQInitialized) t38fReorderStart(rq, static_cast<uint16_t>(s - (n - 1)));
  ++rq->datagrams;
  noteLate(rq, s);
  if (rq->contradicted && refusedBefore(rq, s, datagramDigest(pk, n))) {
    ++rq->failtoReorderCount;  // a duplicate of a datagram refused for contradicting the stream
  } else {
    fileDatagram(rq, pk, n);
  }
  if (!whole) {
    ++rq->invalidIFPCount;
    return false;
  }
  return true;
}

bool t38fReorderHeadWaits(const T38ZREORDER* rq) {
  if (rq->aloneHeld == 0) return false;
  for (EGR_IFP_PKT* p = t38egr_ifp_QmPeekFront(&rq->egressPktq); p != nullptr; p = t38egr_ifp_QmPeekLink(p))
    if (stateOf(rq, p->sequenceNum) != T38_ALONE) return false;
  return true;
}

bool t38fReorderContestedByNeighbour(const T38ZREORDER* rq, uint16_t s) {
  for (int i = 0; i < T38_CONTESTED_KEPT; ++i) {
    if (rq->contestedSeq[i] != s) continue;
    const uint16_t other = rq->contestedOther[i];
    for (int k : {-1, 1}) {
      const uint16_t near = static_cast<uint16_t>(s + k);
      const T38_NUMBER_STATE st = stateOf(rq, near);
      if ((st == T38_PLAYED || st == T38_QUEUED) && knownDigest(rq, near, static_cast<uint16_t>(~other)) == other) return true;
    }
  }
  return false;
}

bool t38fReorderFollows(const T38ZREORDER* rq, uint16_t s) {
  return stateOf(rq, s) == T38_QUEUED && (rq->numbers.votes[slotOf(s)] & kFollows) != 0;
}

uint16_t t38fReorderFirstCarrier(const T38ZREORDER* rq, uint16_t s) {
  const T38_NUMBER_STATE st = stateOf(rq, s);
  const uint16_t brought = broughtBy(rq, s);  // bit k: the datagram numbered s + k
  if ((st != T38_QUEUED && st != T38_ALONE) || brought == 0) return s;
  return static_cast<uint16_t>(s + std::countr_zero(brought));
}

T38_PLAYOUT t38fDrainPlayout(T38ZREORDER* rq, uint16_t s) {
  const uint16_t ahead = static_cast<uint16_t>(s - rq->drainLastout);
  bool broken = ahead != 1;
  if (rq->drainBreakPending && static_cast<uint16_t>(rq->drainBreakFrom - rq->drainLastout) <= ahead) {
    broken = true;
    rq->drainBreakPending = false;
  }
  rq->drainLastout = s;
  return broken ? T38_PLAY_BROKEN : T38_PLAY;
}

T38_PLAYOUT t38fReorderPlayout(T38ZREORDER* rq, uint16_t s, uint16_t digest) {
  const uint16_t ahead = pastPlayout(rq, s);
  if (ahead == 0 || (ahead & 0x8000)) return T38_DROPPED;  // the number was passed already
  if (stateOf(rq, s) == T38_ALONE) {
    // nothing of the stream came after it: it neither plays nor moves the playout past the
    // stream's own packets, which may still come; a copy may still fill its number
    setState(rq, s, T38_UNKNOWN);
    return T38_DROPPED;
  }
  // the numbers skipped were lost, unless the peer's numbering stepped over them
  const bool overStep = rq->stepKnown && rq->stepConfirmed && rq->stepFrom == static_cast<uint16_t>(rq->lastoutTimeStamp + 1) &&
                        s == rq->stepAt;
  bool broken = ahead != 1 && !overStep;
  if (broken) {  // the numbers before s are given up: one of them coming now shows how late it was
    rq->gaveUpKnown = true;
    rq->gaveUpFrom = static_cast<uint16_t>(rq->lastoutTimeStamp + 1);
    rq->gaveUpTo = static_cast<uint16_t>(s - 1);
    rq->gaveUpAt = rq->time;
    rq->gaveUpWait = rq->lateWait;
  }
  if (rq->breakPending && pastPlayout(rq, rq->breakFrom) <= ahead) {
    broken = true;
    // every packet of the span crosses the discontinuity, not only the first
    if (pastPlayout(rq, rq->breakTo) <= ahead)
      rq->breakPending = false;
    else
      rq->breakFrom = static_cast<uint16_t>(s + 1);
  }
  if (ahead != 1) {
    rq->jumpKnown = !overStep && repeatsPlayedDigest(rq, digest);
    rq->jumpFrom = rq->lastoutTimeStamp;
    rq->jumpTo = s;
    rq->jumpSource = queuedFrom(rq, s);
    rq->jumpDigest = digest;
  } else if (rq->jumpKnown) {
    // a stale run renumbered ahead plays on in order from the jump: no longer than one that vouches
    // for itself by its length alone
    rq->jumpKnown = static_cast<uint16_t>(s - rq->jumpTo) < T38_RESYNC_RUN_UNSEEN;
  }
  // the stream's first packet after a run or a jump it undid: the frame open is the stray one's
  const bool afterStray = rq->strayBefore && pastPlayout(rq, rq->strayEnd) <= ahead;
  rq->strayBefore = rq->strayBefore && !afterStray;
  const bool doubted = contested(rq, s);
  setState(rq, s, T38_PLAYED);
  playedDigest(rq, s) = digest;
  rq->lastoutTimeStamp = s;
  if (rq->stepKnown && static_cast<int16_t>(s - rq->stepAt) >= 0) rq->stepKnown = false;
  return afterStray ? T38_PLAY_AFTER_STRAY : broken ? T38_PLAY_BROKEN : doubted ? T38_PLAY_CONTESTED : T38_PLAY;
}
