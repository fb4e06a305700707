// UDPTL datagrams received: the parse, the reorder queue the playout takes from, and the guard
// beside it (its rules are listed in t38_udptl.h with the fault each stops).
#include "t38_udptl_rx_int.h"

uint16_t t38fIFPdigest(const uint8_t* ifp, int len) {
  uint32_t h = 2166136261u;
  for (int i = 0; i < len; ++i) h = (h ^ ifp[i]) * 16777619u;
  return static_cast<uint16_t>(h ^ (h >> 16));
}

namespace t38rx {
namespace {

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

// Rule 4, one against one where the stream's order rules one out (rulesOutByOrder; `runStart`: the
// queued packets are what a run that just restarted the sequence brought): the queued packet
// leaves, the datagram's fills it; or the datagram is taken short of its own, older copies and all
// (*n shrinks), and the queued one stays: either plays contested. False when the order rules
// nothing out.
bool settleByOrder(T38ZREORDER* rq, const Carried* pk, int* n, const Verdict& v, bool runStart) {
  uint16_t ruledOut;
  int cut;
  if (!rulesOutByOrder(rq, pk, *n, v, &ruledOut, &cut, runStart)) return false;
  if (cut < *n) {
    markContestedBy(rq, ruledOut, pk[cut].digest);
    *n = cut;
  } else {
    ruleOut(rq, ruledOut);
  }
  return true;
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
    // where that one seemed to step forward, its copies were the stream's packets a number off,
    // no word on the numbers they came under
    if (moved == rq->skippedAt) rq->skippedCount = 0;
    v = judge(rq, pk, shift != 0 ? 1 : n);
  } else if (settleByOrder(rq, pk, &n, v, false)) {
    v = judge(rq, pk, shift != 0 ? 1 : n);
  }
  // one that contradicts the stream may be the network's copy of the stream's own datagram under
  // a number one bit away (rule 5): it brings nothing. Beside a run of refused datagrams it is
  // the run's (a peer that stepped back goes on there, whatever the stream held a power of two
  // before)
  const bool inRun = rq->run.length > 0 && withinResyncStep(s, rq->run.last);
  if (v.disagree > 0 && !inRun && !mayHaveSteppedBack(rq, pk, n) && misnumberedCopy(rq, pk, n, v)) {
    ++rq->failtoReorderCount;  // the stream's own datagram under another number: nothing new
    return;
  }
  noteHandedOnOutvoted(rq, pk, shift != 0 ? 1 : n, v);
  noteHandedOnContradicted(rq, pk, shift != 0 ? 1 : n, v);
  if (followSequence(rq, pk, n, v)) {
    v = Verdict{};  // nothing is known of the new sequence yet
    // but for what the run's datagrams brought, which it starts with: against those this one's
    // copies are one word more, and where the order rules one of two out there is no dispute
    settleByOrder(rq, pk, &n, judge(rq, pk, shift != 0 ? 1 : n), true);
  }
  followStep(rq, pk, n, shift);
  takeDatagram(rq, pk, n, v);
}

}  // namespace
}  // namespace t38rx

using namespace t38rx;

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
  rq->joinedKnown = false;
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
  rq->skippedCount = 0;
  rq->movedKnown = false;
  rq->jumpKnown = false;
  rq->gaveUpKnown = false;  // the network's lateness (lateWait) stays
  for (uint16_t& by : rq->playedWordsBy) by = 0;
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
  if (rq->heapId->numFreeBuf < T38_POOL_KEPT_FOR_SENDING) {  // the last blocks are the sending side's
    ++rq->bufferPoolDry;
    dg_free(dg_QmPeekFront(&h.qhdr));
    return false;
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
      if ((st == T38_PLAYED || st == T38_QUEUED) && knownAs(rq, near, other)) return true;
    }
  }
  return false;
}

bool t38fReorderFollows(const T38ZREORDER* rq, uint16_t s) {
  return stateOf(rq, s) == T38_QUEUED && follows(rq, s);
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
  if (stateOf(rq, s) == T38_QUEUED) notePlayedWords(rq, s);
  setState(rq, s, T38_PLAYED);
  playedDigest(rq, s) = digest;
  rq->lastoutTimeStamp = s;
  if (rq->stepKnown && static_cast<int16_t>(s - rq->stepAt) >= 0) rq->stepKnown = false;
  if (rq->skippedCount > 0 && static_cast<int16_t>(s - rq->skippedAt) >= 0) rq->skippedCount = 0;
  return afterStray ? T38_PLAY_AFTER_STRAY : broken ? T38_PLAY_BROKEN : doubted ? T38_PLAY_CONTESTED : T38_PLAY;
}
