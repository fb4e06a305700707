// The UDPTL receiver takes what a datagram carries: the packets of the stream, those that stand
// alone, and the refused (rules 3 and 4 of t38_udptl.h).
#include "t38_udptl_rx_int.h"

namespace t38rx {

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

// Rule 7: what brought a packet goes on counting once it plays. A datagram that brings it
// again after it played is another word for it, so that one copy altered on the way, come
// later, never outvotes the datagrams that agreed on it. Without it a final DCN's address octet,
// played from its own datagram and then brought by the next two, was contradicted by one copy
// with a bit flipped, and the DCN ended bad.
void notePlayedWords(T38ZREORDER* rq, uint16_t s) {
  rq->playedWordsSeq[rq->playedWordsNext] = s;
  rq->playedWordsBy[rq->playedWordsNext] = broughtBy(rq, s);
  rq->playedWordsNext = static_cast<uint8_t>((rq->playedWordsNext + 1) % T38_PLAYED_WORDS_KEPT);
}

// `from`: the datagram that brings it, by how far after it that datagram is numbered.
void notePlayedBroughtAgain(T38ZREORDER* rq, const Carried& pk, uint16_t from) {
  if (playedDigest(rq, pk.s) != pk.digest) return;
  for (int back = 1; back <= T38_PLAYED_WORDS_KEPT; ++back) {
    const int i = (rq->playedWordsNext + T38_PLAYED_WORDS_KEPT - back) % T38_PLAYED_WORDS_KEPT;
    if (rq->playedWordsBy[i] == 0 || rq->playedWordsSeq[i] != pk.s) continue;
    if (rq->playedWordsBy[i] & from) return;  // that datagram's word counted already
    rq->playedWordsBy[i] = static_cast<uint16_t>(rq->playedWordsBy[i] | from);
    setVotes(rq, pk.s, votesFor(rq, pk.s) + 1);
    return;
  }
}

// A number disputed, refilled by `pk`: it plays contested by the other content that came there,
// the packet that left (`left`) or the one that disputed it, each that is not the refill. Where
// that content is the packet of the number beside, the peer's counter stepped there and its
// copies moved with it (rule 4): the refill may be a copy of the packet beside, played twice, and
// the frame across it must not close good.
void markRefillContested(T38ZREORDER* rq, const Carried& pk, uint16_t left) {
  markContested(rq, pk.s);
  if (left != pk.digest) markContestedBy(rq, pk.s, left);
  const int k = disputedKept(rq, pk.s);
  if (k >= 0 && rq->disputedBy[k] != pk.digest && rq->disputedBy[k] != left) markContestedBy(rq, pk.s, rq->disputedBy[k]);
}

// Remembers the copies a datagram that stepped forward by `shift` carried under the numbers it
// stepped over (rule 6). They are not taken there: read as a step they are the peer's older
// packets, read without one (its datagrams lost, a packet equal by chance) its own under those
// numbers. Either way, other content that a datagram before the step's brings there later stands
// against one word: without it the network's copy of the datagram after the step, moved onto a
// number the step skipped, filled it and the one before, and a final frame played with its first
// octets twice, closed good.
void noteSkippedCopies(T38ZREORDER* rq, const Carried* pk, int n, uint16_t shift) {
  rq->skippedAt = pk[0].s;
  rq->skippedOwn = static_cast<uint16_t>(pk[0].s - shift);
  rq->skippedPrimary = pk[0].digest;
  rq->skippedCount = static_cast<uint8_t>(std::min<int>({n - 1, shift, T38_MAX_SECONDARIES_TAKEN}));
  for (uint8_t i = 0; i < rq->skippedCount; ++i) rq->skippedDigest[i] = pk[i + 1].digest;
}

// Forgets the copies noted by noteSkippedCopies where a datagram brings the stepping datagram's
// primary under the number its copies place it at: that one may be the stream's next datagram,
// its number moved on the way (rule 5), its copies no word on the numbers they came under.
void forgetSkippedCopiesOfMoved(T38ZREORDER* rq, const Carried* pk, int n) {
  for (int i = 0; i < n && rq->skippedCount > 0; ++i)
    if (pk[i].s == rq->skippedOwn && pk[i].digest == rq->skippedPrimary) rq->skippedCount = 0;
}

// Whether a datagram numbered dg, before the one that stepped forward, brings under a number that
// one skipped other content than its copy there. A datagram from the step's number on brings its
// own word on that number too, and may show the stepping one misnumbered (its copies then
// placed a number off, no word on the numbers they came under): its copies fill the numbers.
bool contradictsSkippedCopy(const T38ZREORDER* rq, const Carried& pk, uint16_t dg) {
  const uint16_t back = static_cast<uint16_t>(rq->skippedAt - pk.s);
  return static_cast<int16_t>(dg - rq->skippedAt) < 0 && back >= 1 && back <= rq->skippedCount &&
         rq->skippedDigest[back - 1] != pk.digest;
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
  if (vouched && stateOf(rq, pk.s) == T38_PLAYED) notePlayedBroughtAgain(rq, pk, from);
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
    if (playable && bringsDisputedAgain(rq, pk, dg)) {
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
      dispute(rq, pk.s, pk.digest, dg);  // one against one: neither is trusted, and the next copy settles it
      return true;
    }
  }
  if (!isIFPmissing(rq, pk.s)) return true;
  if (st == T38_DISPUTED && primary && duplicate && pk.digest == disputedDigest(rq, pk.s)) {
    ++rq->failtoReorderCount;  // the network's duplicate of the disputed packet's datagram
    return true;
  }
  if (contradictsSkippedCopy(rq, pk, dg) && (st == T38_UNKNOWN || st == T38_SUSPECT)) {
    // the step's copy there and this packet: one word against one, and the number plays as lost
    // unless a later copy settles it
    ++rq->failtoReorderCount;
    markDisputed(rq, pk.s, pk.digest);
    return true;
  }
  if (!t38fIFPwalkedPlayable(pk.ifp)) {
    ++rq->invalidIFPCount;
    // the number stays missing: a good copy in a later datagram still fills it, but as one
    // content against another, like a dispute the copy settles
    if (st == T38_UNKNOWN) markDisputed(rq, pk.s, pk.digest);
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
  // where nothing refilled a number disputed, the packet queued there first, or the one that
  // disputed it, brought again by another datagram has two words: a third datagram's one copy
  // against it is outvoted, not a new dispute
  const bool secondWord = st == T38_DISPUTED && secondWordOnDisputed(rq, pk, dg);
  // read before the packet is queued: the queued record's word takes the place of what left
  const uint16_t left = disputedDigest(rq, pk.s);
  if (!enqueueMakingRoom(rq, pk, copies)) return false;
  broughtBy(rq, pk.s) = from;
  if (secondWord) setVotes(rq, pk.s, 2);
  // a later copy settles which of the two plays, not that the other was no packet of the peer's
  if (st == T38_DISPUTED) markRefillContested(rq, pk, left);
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

// Whether the packet queued under c's number is the one c carries.
bool queuedAsCarried(const T38ZREORDER* rq, const Carried& c) {
  if (stateOf(rq, c.s) != T38_QUEUED) return false;
  uint8_t octets[T38_MAX_RX_IFP + 1];
  const int got = queued(rq, c.s, octets);
  return got > 0 && sameAs(c, octets, got);
}

// A datagram that contradicted nothing carries its packets in the peer's order: each queued packet
// it brought follows, in the peer's own stream, the packet before it where the datagram carried
// that one too as the stream holds or played it, told apart from the packets beside it (fill
// agrees with a datagram numbered a little wrong as well). A datagram without copies (a peer at
// redundancy 0 sends none) says where its packet lies by its number alone, and the playout takes
// it in line on nothing more: numbered right after a packet the stream holds or played, it follows
// that one. Without it a final DCN at redundancy 0 whose first octet came before a delay spike and
// its rest after it never played whole, and the line's terminal waited for good.
void noteFollows(T38ZREORDER* rq, const Carried* pk, int n) {
  if (n == 1) {
    const T38_NUMBER_STATE st = stateOf(rq, static_cast<uint16_t>(pk[0].s - 1));
    if ((st == T38_QUEUED || st == T38_PLAYED) && queuedAsCarried(rq, pk[0])) markFollows(rq, pk[0].s);
    return;
  }
  for (int i = 0; i + 1 < n; ++i) {
    const Carried& before = pk[i + 1];
    if (before.s != static_cast<uint16_t>(pk[i].s - 1)) continue;
    const T38_NUMBER_STATE st = stateOf(rq, before.s);
    if (st != T38_QUEUED && st != T38_PLAYED) continue;
    if (queuedAsCarried(rq, pk[i]) && knownAs(rq, before.s, before.digest) && distinct(rq, before))
      markFollows(rq, pk[i].s);
  }
}

// Whether the last datagram refused for contradicting the stream is, by its primary, the datagram of
// a number one bit away whose packet this datagram carries, its primary or a copy: the network's
// copy of the peer's datagram under a number that lost a bit, not a peer that stepped back. Without
// the copies a preamble misnumbered so, its own datagram lost, stayed a refusal, and a datagram
// refused after it for one copy altered on the way (its own packet still to come in the next
// datagrams) was taken for the peer going on after a step back: the final frame played broken.
bool refusedWasMisnumbered(const T38ZREORDER* rq, const Carried* pk, int n) {
  if (!rq->contradicted) return false;
  for (int i = 0; i < n; ++i)
    if (pk[i].digest == rq->lastContradictingDigest && isV21OrIndicator(pk[i]) &&
        std::has_single_bit(static_cast<uint16_t>(pk[i].s ^ rq->lastContradicting)))
      return true;
  return false;
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
    // lost a bit comes alone, and its packet still comes under its own number. So it is too for
    // one alone that brings nothing the stream holds and whose copies, read as the packets right
    // after the stream's newest, fall on numbers the stream never got: the peer's datagrams before
    // and after its step back were lost, and nothing else will bring them. The new packets lost
    // belong after the newest number the stream holds: the break reaches there.
    // One that brings, with copies, the very packet the stream holds under its number, told apart
    // from the ones beside it, is the stream's own datagram, a copy altered on the way (the
    // network's duplicate of it): a peer that stepped back sends new packets under the numbers it
    // reuses. It neither joins such a run nor starts one (without it two such duplicates a few
    // numbers apart made a run, and the final DCN between them ended bad, every packet of it in).
    // One refused as wholly the stream's datagram of a number one bit away (rule 5) may be a peer's
    // after a step back that sends its frames again, or the network's copy: only a datagram that
    // shows a step as well goes with it (the peer's next one after such a step carries its packets
    // as the stream's a few numbers on). Without it an altered duplicate of the stream's next
    // datagram, refused for its one copy, went with a stray copy refused a few datagrams before,
    // and the break ended the final frame bad, every packet of it in.
    const bool ownAltered = n > 1 && isV21OrIndicator(pk[0]) && knownAs(rq, s, pk[0].digest) && distinct(rq, pk[0]);
    const bool ownElsewhere = misnumberedCopy(rq, pk, n, v);
    const bool near = !ownAltered && rq->contradicted && withinResyncStep(s, rq->lastContradicting) &&
                      static_cast<uint16_t>(rq->datagrams - rq->lastContradictingAt) <= T38_RESYNC_STEP &&
                      (!rq->lastContradictingOwnElsewhere || steppedBack(rq, pk, n));
    const uint16_t after = static_cast<uint16_t>(rq->newest + 1);
    // one whose word outvoted a packet handed on (rule 7) says what the peer sent there last
    const bool outvoted = rq->playedOutvoted && rq->playedOutvotedAt == rq->datagrams;
    // one that is wholly the stream's datagram of a number one bit away (rule 5), taken for a
    // step's only by where it lies, was sent by such a peer after all the stream holds, or it is
    // the network's copy: the packets held between came in order, and the break lies after them
    const bool copyOrLater = n == 1 && !near && ownElsewhere;
    if ((n == 1 || near || mayHaveSteppedBackUnseen(rq, pk, n, v)) && !outvoted)
      noteBreak(rq, copyOrLater ? after : pk[n - 1].s, static_cast<int16_t>(s - after) > 0 ? s : after);
    // copies that are the stream's packets a few numbers on show the peer's numbering stepped back
    // (or this datagram's number lost a bit): the packets held under the numbers it reused may not
    // be all it sent there, so they are contested
    if (steppedBack(rq, pk, n))
      for (uint16_t k = static_cast<uint16_t>(rq->lastoutTimeStamp + 1); static_cast<int16_t>(k - rq->newest) <= 0; ++k)
        if (static_cast<int16_t>(k - s) >= 0 && stateOf(rq, k) == T38_QUEUED) markContested(rq, k);
    if (!ownAltered) {
      rq->contradicted = true;
      rq->lastContradicting = s;
      rq->lastContradictingAt = rq->datagrams;
      rq->lastContradictingDigest = pk[0].digest;
      rq->lastContradictingOwnElsewhere = ownElsewhere;
    }
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
          dispute(rq, pk[i].s, pk[i].digest, s);
    rq->refusedSeq[rq->refusedNext] = s;
    rq->refusedDigest[rq->refusedNext] = datagramDigest(pk, n);
    rq->refusedNext = static_cast<uint8_t>((rq->refusedNext + 1) % T38_REFUSED_KEPT);
    ++rq->failtoReorderCount;
    return;
  }
  // the last datagram refused was this one's copy under a number one bit away (rule 5), or the
  // copy of the datagram whose packet this one carries as a copy (its own datagram lost, or still
  // to come): the network's, no peer's after a step back, so no refused datagram after it is
  // beside a run of them
  if (refusedWasMisnumbered(rq, pk, n)) rq->contradicted = false;
  // so too where it came under this one's own number with this one's primary, and this one, with
  // copies, contradicts nothing: the network's duplicate of it, a copy altered on the way, came
  // first (the other order, this one first, is told where the duplicate is refused)
  if (rq->contradicted && s == rq->lastContradicting && pk[0].digest == rq->lastContradictingDigest && n > 1 &&
      v.disagree == 0 && isV21OrIndicator(pk[0]) && distinct(rq, pk[0]))
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
    // the stream that came between far datagrams before showed where it went on then; a run
    // starting once the playout has played all the stream vouched for has nothing of it left to
    // be weighed against
    if (!goesOn && static_cast<int16_t>(rq->newest - rq->lastoutTimeStamp) <= 0) rq->aloneInterrupted = false;
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
  // a run of far ones that vouched for itself is close now; the network's copy of the stream's own
  // datagram under a number one bit ahead is not (rule 5)
  const bool vouched = v.agree > 0 || (close() && !misnumberedAhead(rq, pk, n, v));
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
  const uint16_t newestBefore = rq->newest;
  // a stepping datagram that stands alone, far ahead, is no word on anything yet
  if (stepped && vouched) noteSkippedCopies(rq, pk, n, shift);
  else forgetSkippedCopiesOfMoved(rq, pk, n);
  for (int i = 0; i < (stepped ? 1 : n); ++i) {
    if (i > 0 && olderThanItsNumber(rq, pk[i], s)) continue;  // a copy there is an older packet of the peer's
    if (!takeCarried(rq, pk[i], s, vouched, v, duplicate, n > 1)) return;  // the pool is dry: the rest would fare no better
  }
  // the copies of a step noted by this datagram, newest first, that the peer sent after the
  // stream's newest packet: under the numbers they were sent, before the step
  if (stepped && rq->stepKnown && rq->stepAt == s)
    for (int i = 1; i < n; ++i) {
      const Carried sent = sentBeforeStep(rq, pk[i]);
      if (static_cast<int16_t>(sent.s - newestBefore) <= 0) break;
      if (!takeCarried(rq, sent, s, vouched, v, duplicate, true)) return;
    }
  if (v.disagree == 0 && !stepped) noteFollows(rq, pk, n);
}

}  // namespace t38rx
