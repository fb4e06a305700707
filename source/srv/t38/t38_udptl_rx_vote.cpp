// The UDPTL receiver's vote: how a datagram's packets compare with what the stream holds, disputes,
// misnumbered copies and packets handed on, then contradicted (rules 4, 5 and 7 of t38_udptl.h).
#include <cstring>

#include "t38_udptl_rx_int.h"

namespace t38rx {

// An equal packet shows a datagram in line only when it differs from what is known under the
// numbers beside it: a run of equal packets (fill, the spaces of an identity) agrees with a
// datagram numbered a little wrong as well, whose packets would then win over the stream's.
bool distinct(const T38ZREORDER* rq, const Carried& pk) {
  for (const uint16_t beside : {static_cast<uint16_t>(pk.s - 1), static_cast<uint16_t>(pk.s + 1)}) {
    const T38_NUMBER_STATE st = stateOf(rq, beside);
    if ((st == T38_QUEUED || st == T38_PLAYED) && knownAs(rq, beside, pk.digest)) return false;
  }
  return true;
}

Verdict judge(const T38ZREORDER* rq, const Carried* pk, int n) {
  Verdict v;
  uint16_t sources[1 + T38_MAX_SECONDARIES_TAKEN];
  uint16_t agreeing[1 + T38_MAX_SECONDARIES_TAKEN];  // the datagrams the equal packets came in
  int equal = 0;
  for (int i = 0; i < n; ++i) {
    // a copy a known step forward explains is the peer's older packet: no word on its number
    if (i > 0 && olderThanItsNumber(rq, pk[i], pk[0].s)) continue;
    const T38_NUMBER_STATE st = stateOf(rq, pk[i].s);
    bool same;
    if (st == T38_QUEUED) {
      uint8_t octets[T38_MAX_RX_IFP + 1];
      const int got = queued(rq, pk[i].s, octets);
      if (got == 0) continue;
      same = sameAs(pk[i], octets, got);
      if (!same && bringsDisputedAgain(rq, pk[i], pk[0].s)) continue;  // it outvotes the refill (rule 4)
    } else if (st == T38_PLAYED) {
      same = playedDigest(rq, pk[i].s) == pk[i].digest;
    } else {
      continue;  // nothing known, or nothing trusted, proves nothing either way
    }
    if (same) {
      if (distinct(rq, pk[i])) {
        agreeing[equal++] = queuedFrom(rq, pk[i].s);
        ++v.placed;
      }
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
// refilled after a dispute, the packet queued there first or the one that disputed it: a second
// datagram for it against the refill's one (rule 4). The network's duplicate of the datagram that
// first brought it is none (secondWordOnDisputed).
bool bringsDisputedAgain(const T38ZREORDER* rq, const Carried& pk, uint16_t dg) {
  if (stateOf(rq, pk.s) != T38_QUEUED || !contested(rq, pk.s) || votesFor(rq, pk.s) != 1) return false;
  return secondWordOnDisputed(rq, pk, dg);
}

// Whether a packet the datagram numbered dg carries is, under a number disputed, the packet queued
// there first or the one that disputed it, come in another datagram than the one that brought it
// then: the second datagram to bring it (rule 4).
bool secondWordOnDisputed(const T38ZREORDER* rq, const Carried& pk, uint16_t dg) {
  const int k = disputedKept(rq, pk.s);
  if (k < 0) return false;
  return (rq->disputedFirst[k] == pk.digest && rq->disputedCarrier[k] != dg) ||
         (rq->disputedBy[k] == pk.digest && rq->disputedByCarrier[k] != dg);
}

// Whether the packet queued under `near`, which came in the datagram that brought the packet now
// disputed under s, stays: it lies before s and another datagram brought it as well, whose word
// backs it whatever the first datagram was. Without it a copy the datagram carried of the packet
// before, which that packet's own datagram had brought too, left with it when the network's
// duplicate of the next datagram, altered, came first, and no later copy brought it back. What lies
// after s leaves all the same: kept, it would carry the playout across s, its wait counted from the
// doubtful datagram, before the copy that settles s comes.
bool keptByAnotherWord(const T38ZREORDER* rq, uint16_t near, uint16_t s) {
  return static_cast<int16_t>(near - s) < 0 && votesFor(rq, near) > 1;
}

// No longer trusts the packet queued under s, nor any other queued packet that came in the same
// datagram: a datagram shown wrong in one packet may be wrong in all (a datagram whose number
// lost a bit carries its packets under numbers all moved alike). Their packets leave the queue,
// and the numbers play as lost unless a datagram that agrees with the stream brings them again.
// A copy it carried of a number before s that another datagram brought as well stays
// (keptByAnotherWord). The packet under s, the first disputed there, is kept for a while with the
// datagram it came in, and so is the packet that disputed it (`by`, come in the datagram numbered
// `carrier`).
void dispute(T38ZREORDER* rq, uint16_t s, uint16_t by, uint16_t carrier) {
  if (stateOf(rq, s) == T38_QUEUED && disputedKept(rq, s) < 0) {
    rq->disputedSeq[rq->disputedNext] = s;
    rq->disputedFirst[rq->disputedNext] = knownDigest(rq, s, 0);
    rq->disputedCarrier[rq->disputedNext] = t38fReorderFirstCarrier(rq, s);
    rq->disputedBy[rq->disputedNext] = by;
    rq->disputedByCarrier[rq->disputedNext] = carrier;
    rq->disputedNext = static_cast<uint8_t>((rq->disputedNext + 1) % T38_DISPUTED_KEPT);
  }
  const uint16_t source = queuedFrom(rq, s);
  for (int k = -T38_MAX_SECONDARIES_TAKEN; k <= T38_MAX_SECONDARIES_TAKEN; ++k) {
    const uint16_t near = static_cast<uint16_t>(s + k);
    const T38_NUMBER_STATE st = stateOf(rq, near);
    if ((st != T38_QUEUED && st != T38_ALONE) || queuedFrom(rq, near) != source || keptByAnotherWord(rq, near, s)) continue;
    const uint16_t digest = knownDigest(rq, near, 0);
    if (EGR_IFP_PKT* p = t38egr_ifp_find(&rq->egressPktq, near)) t38egr_ifp_remove(&rq->egressPktq, p);
    markDisputed(rq, near, digest);
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
    if (!knownAs(rq, old, pk[i].digest)) return false;
    telling = telling || distinct(rq, {pk[i].ifp, pk[i].len, old, pk[i].digest});
  }
  return telling;
}

// Whether none of the datagram's copies differs from what is known `shift` numbers further back.
bool copiesShiftedOrUnknown(const T38ZREORDER* rq, const Carried* pk, int n, uint16_t shift) {
  for (int i = 1; i < n; ++i) {
    const uint16_t old = static_cast<uint16_t>(pk[i].s - shift);
    const T38_NUMBER_STATE st = stateOf(rq, old);
    if ((st == T38_QUEUED || st == T38_PLAYED) && !knownAs(rq, old, pk[i].digest)) return false;
  }
  return true;
}

// Whether a datagram is the stream's own datagram under a number one bit away from its own (rule
// 5): its primary is the packet known under that number, told apart from the ones beside it, and
// every copy known there is the stream's packet as many numbers on. A copy the network
// misnumbered brings nothing the stream lacks, so its contradiction shows no step back and no
// altered packet.
// Only an indicator or V.21 data is told so: page data repeats its packets at every distance (a
// blank row, a black one), so its packet a power of two before proves nothing.
bool misnumberedCopy(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v) {
  // copies that agree with the stream under their own numbers place the datagram there, even where
  // the one datagram that brought those packets brought the one it contradicts too (they are no
  // vote then, but a misnumbered datagram's copies match nothing told apart): only copies known as
  // many numbers on place it elsewhere
  return ownOneBitAway(rq, pk, n, v.placed > 0, false);
}

// Whether a datagram past the stream's newest number, which neither agrees with the stream nor
// contradicts it, is wholly the stream's datagram of a number one bit away (rule 5) that the
// playout has yet to play, a copy at least known as many numbers on. Taken as the stream's for
// lying close ahead, it would carry the playout across the numbers between, where the stream's own
// packets still come: it stands alone instead, as one far ahead does, and the stream's own take
// its numbers, or bring its packets again. A frame the peer sends again, its first packets those
// of the one before, comes after that one played (its far end answered it, or waited for it);
// a step forward's copies tie a datagram to the stream's newest packets. Without copies nothing
// tells it from a peer's packet equal to one a power of two before.
bool misnumberedAhead(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v) {
  if (v.agree > 0 || v.disagree > 0 || v.placed > 0 || static_cast<int16_t>(pk[0].s - rq->newest) <= 0) return false;
  return steppedForward(rq, pk, n) == 0 && ownOneBitAway(rq, pk, n, true, true);
}

// Whether the datagram's primary is the packet known under a number one bit from its own, told
// apart from the ones beside it, and its copies the stream's packets as many numbers on: each one
// known there (`telling`: one at least must be), or, without `telling`, none known otherwise.
// `unplayed`: that number's packet is still queued.
bool ownOneBitAway(const T38ZREORDER* rq, const Carried* pk, int n, bool telling, bool unplayed) {
  if (!isV21OrIndicator(pk[0])) return false;
  for (int bit = 0; bit < 16; ++bit) {
    const uint16_t own = static_cast<uint16_t>(pk[0].s ^ (1u << bit));
    const T38_NUMBER_STATE st = stateOf(rq, own);
    if ((st != T38_QUEUED && (st != T38_PLAYED || unplayed)) || !knownAs(rq, own, pk[0].digest) ||
        !distinct(rq, {pk[0].ifp, pk[0].len, own, pk[0].digest}))
      continue;
    const uint16_t shift = static_cast<uint16_t>(pk[0].s - own);
    if (telling ? copiesShifted(rq, pk, n, shift) : copiesShiftedOrUnknown(rq, pk, n, shift)) return true;
  }
  return false;
}

// Whether the packet queued under x came alone, as the primary of a datagram numbered x, and is
// the packet (`digest`) a datagram now carries under y, one bit away, told apart from what lies
// beside either number (the other one aside): a run of equal packets (fill, the spaces of an
// identity) shows the same packet one bit away as well.
bool queuedAloneOneBitFrom(const T38ZREORDER* rq, uint16_t x, uint16_t y, uint16_t digest) {
  if (!std::has_single_bit(static_cast<uint16_t>(x ^ y)) || stateOf(rq, x) != T38_QUEUED || votesFor(rq, x) != 1 ||
      broughtBy(rq, x) != 1 || !knownAs(rq, x, digest))
    return false;
  for (const uint16_t beside : {static_cast<uint16_t>(y - 1), static_cast<uint16_t>(y + 1), static_cast<uint16_t>(x - 1),
                                static_cast<uint16_t>(x + 1)}) {
    const T38_NUMBER_STATE b = stateOf(rq, beside);
    if (beside != x && beside != y && (b == T38_QUEUED || b == T38_PLAYED) && knownAs(rq, beside, digest))
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
  if ((b == T38_QUEUED || b == T38_PLAYED) && knownAs(rq, before, rq->movedDigest))
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

// Whether a packet ends the V.21 signal: an indicator other than the V.21 preamble, or V.21 data
// that ends the signal. The peer sends V.21 data only after its preamble, never straight after
// either.
bool endsV21Signal(const uint8_t* ifp) { return (ifp[0] & 0x40) == 0 ? ifp[0] != kV21Preamble : t38fIFPendsV21Signal(ifp); }

// Whether a packet is V.21 data (no page data).
bool isV21Data(const uint8_t* ifp) { return (ifp[0] & 0x40) != 0 && !isPageData(ifp); }

// Of two packets under one number, `held` (queued) and `own` (the datagram's), the one the stream's
// order rules out: 0 none, 1 the held one, 2 the datagram's own. `next` is the V.21 data the
// datagram brings under the number after (nullptr: none); `afterPreamble`, whether the held packet
// is a new sequence's first V.21 data, the V.21 preamble held or played under the number before
// (rulesOutByOrder). A V.21 frame opens with its address octet, and a peer sends V.21 data only
// after its preamble:
//  - one ends the signal and the other is V.21 data that goes on, with V.21 data after it: nothing
//    of the signal follows its end;
//  - one closes a frame and the other is V.21 data that goes on, where the data after it opens no
//    frame (its first octet no address): what follows a frame's close opens the next one;
//  - right after the preamble (afterPreamble), one is V.21 data that opens no frame and the other
//    opens one: the signal's first data is its first frame's address.
// A frame's opening octet alone rules out nothing: a copy the network moved from a frame's start
// opens with the address as well (a CFR then played with its first octets twice).
int ruledOutByOrder(const uint8_t* held, const uint8_t* own, const uint8_t* next, bool afterPreamble) {
  constexpr int kAddress = 0xFF;
  auto signalGoesOn = [](const uint8_t* ifp) { return isV21Data(ifp) && !endsV21Signal(ifp); };
  auto frameGoesOn = [&](const uint8_t* ifp) { return signalGoesOn(ifp) && !t38fIFPclosesV21Frame(ifp); };
  if (afterPreamble) {
    const int heldFirst = t38fIFPv21FirstOctet(held);
    const int ownFirst = t38fIFPv21FirstOctet(own);
    if (heldFirst == kAddress && ownFirst >= 0 && ownFirst != kAddress) return 2;
    if (ownFirst == kAddress && heldFirst >= 0 && heldFirst != kAddress) return 1;
  }
  if (next != nullptr) {
    if (endsV21Signal(held) && signalGoesOn(own)) return 1;
    if (endsV21Signal(own) && signalGoesOn(held)) return 2;
    const int nextFirst = t38fIFPv21FirstOctet(next);
    if (nextFirst >= 0 && nextFirst != kAddress) {
      if (t38fIFPclosesV21Frame(held) && frameGoesOn(own)) return 1;
      if (t38fIFPclosesV21Frame(own) && frameGoesOn(held)) return 2;
    }
  }
  return 0;
}

// Whether, of the one queued packet a datagram contradicts and the datagram's own packet under
// that number, the stream's order rules one out (rule 4, ruledOutByOrder). The one ruled out was
// altered on the way (a V.21 packet retyped into a no-signal, its field into a signal's end or a
// frame's close), and the vote of one against
// one is no vote. *ruledOut is the number; *cut is the index of the datagram's packet ruled out,
// or n where the queued one, one datagram's, is. Without it the two disputed the number, and a
// final frame's octet played as lost.
// With `runStart` (the datagram that came as a run restarted the sequence, against the packets
// the run brought), a frame's first octet rules too: the run's packets had no stream to side with,
// and a copy altered on the way met the address octet one against one (without it a final DCN
// sent across a step back lost its address octet, and the line's terminal waited for good).
// Elsewhere it rules nothing: the datagram taken short of its altered copy still brings its own
// packet, and the network's duplicate of a datagram the peer then sent under another number
// played a frame's first octets twice.
bool rulesOutByOrder(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v, uint16_t* ruledOut, int* cut,
                     bool runStart) {
  if (v.disagree != 1 || v.disagreePlayed) return false;
  for (int i = 0; i < n; ++i) {
    const uint16_t x = pk[i].s;
    if (stateOf(rq, x) != T38_QUEUED || votesFor(rq, x) != 1 || isPageData(pk[i].ifp)) continue;
    uint8_t octets[T38_MAX_RX_IFP + 1];
    const int got = queued(rq, x, octets);
    if (got == 0 || sameAs(pk[i], octets, got) || isPageData(octets)) continue;
    const uint8_t* next = nullptr;
    for (int j = 0; j < n; ++j)
      if (pk[j].s == static_cast<uint16_t>(x + 1) && isV21Data(pk[j].ifp)) next = pk[j].ifp;
    const uint16_t before = static_cast<uint16_t>(x - 1);
    const T38_NUMBER_STATE beforeSt = stateOf(rq, before);
    const bool afterPreamble =
        runStart && (beforeSt == T38_QUEUED || beforeSt == T38_PLAYED) && knownAs(rq, before, v21PreambleDigest());
    const int out = ruledOutByOrder(octets, pk[i].ifp, next, afterPreamble);
    if (out == 0) continue;
    *ruledOut = x;
    *cut = out == 1 ? n : i;
    return true;
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
  markDisputed(rq, s, digest);
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

// Whether a datagram may be the network's duplicate of the one that brought the packets disputed
// under its numbers: none of its copies brings, under a number disputed, other content than the
// packet that left there. One that does is no duplicate (the peer's own datagram, the other one
// altered on the way): its primary is a second word for the packet that left with the other's.
bool mayDuplicateDisputed(const T38ZREORDER* rq, const Carried* pk, int n) {
  for (int i = 1; i < n; ++i)
    if (stateOf(rq, pk[i].s) == T38_DISPUTED && disputedDigest(rq, pk[i].s) != pk[i].digest) return false;
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
    rq->overruledKnown = true;  // a second datagram saying the same outvotes the packet handed on
    rq->overruledSeq = pk[i].s;
    rq->overruledDigest = pk[i].digest;
    rq->overruledBy = pk[0].s;
    if (rq->playedContradicted && static_cast<int16_t>(rq->playedContradictedSeq - pk[i].s) >= 0) continue;
    rq->playedContradicted = true;
    rq->playedContradictedSeq = pk[i].s;  // the newest: the frame still playing, if any, holds it
  }
}

// Rule 7, the vote settled: a second datagram (another number than the one that contradicted the
// packet handed on) brings the same content there and contradicts nothing else. Two words against
// the one datagram that brought the packet: what the copies say is the stream's packet there, and
// the owner may mend the frame it went into with it.
void noteHandedOnOutvoted(T38ZREORDER* rq, const Carried* pk, int judged, const Verdict& v) {
  if (!rq->overruledKnown || v.disagree != 1 || !v.disagreePlayed) return;
  for (int i = 0; i < judged; ++i) {
    if (pk[i].s != rq->overruledSeq) continue;
    // the network's duplicate of the datagram that contradicted it is no second word
    if (pk[0].s == rq->overruledBy || pk[i].digest != rq->overruledDigest || stateOf(rq, pk[i].s) != T38_PLAYED ||
        pk[i].len > T38_MAX_IFP)
      return;
    rq->overruledKnown = false;
    playedDigest(rq, pk[i].s) = pk[i].digest;  // later copies of it agree with the stream
    rq->playedOutvoted = true;
    rq->playedOutvotedSeq = pk[i].s;
    rq->playedOutvotedAt = rq->datagrams;
    rq->playedOutvotedLen = static_cast<uint8_t>(pk[i].len);
    std::memcpy(rq->playedOutvotedIfp, pk[i].ifp, pk[i].len);
    return;
  }
}

}  // namespace t38rx
