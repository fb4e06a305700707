// UDPTL datagrams received: the parse, what the receiver remembers and holds by number, the
// judging of each datagram against the stream, and the reorder queue the playout takes from.
#include <algorithm>
#include <cstring>

#include "t38_udptl.h"

uint16_t t38fIFPdigest(const uint8_t* ifp, int len) {
  uint32_t h = 2166136261u;
  for (int i = 0; i < len; ++i) h = (h ^ ifp[i]) * 16777619u;
  return static_cast<uint16_t>(h ^ (h >> 16));
}

namespace {

int slotOf(uint16_t s) { return s & (T38_SEEN_SLOTS - 1); }

T38_STANDING standingOf(const T38ZREORDER* rq, uint16_t s) {
  const int k = slotOf(s);
  return rq->seen.seq[k] == s ? static_cast<T38_STANDING>(rq->seen.standing[k]) : T38_UNSEEN;
}

// Every change of a slot's standing goes here, which keeps the count of packets held alone.
void setStanding(T38ZREORDER* rq, int k, T38_STANDING standing) {
  rq->aloneHeld = static_cast<uint8_t>(rq->aloneHeld - (rq->seen.standing[k] == T38_HELD_ALONE) +
                                       (standing == T38_HELD_ALONE));
  rq->seen.standing[k] = standing;
}

void note(T38ZREORDER* rq, uint16_t s, uint16_t digest, T38_STANDING standing) {
  const int k = slotOf(s);
  if (rq->seen.seq[k] != s) setStanding(rq, k, T38_UNSEEN);  // what the slot held of another number
  rq->seen.seq[k] = s;
  rq->seen.digest[k] = digest;
  rq->seen.source[k] = rq->datagrams;
  rq->seen.backed[k] = false;
  setStanding(rq, k, standing);
}

void restand(T38ZREORDER* rq, uint16_t s, T38_STANDING standing) { setStanding(rq, slotOf(s), standing); }

bool held(T38_STANDING st) { return st == T38_HELD || st == T38_HELD_ALONE || st == T38_HELD_DISPUTED; }

// The stream vouches for numbers up to s.
void vouchUpTo(T38ZREORDER* rq, uint16_t s) {
  if (static_cast<int16_t>(s - rq->newest) > 0) rq->newest = s;
}

bool inWindow(const T38ZREORDER* rq, uint16_t s) {
  return static_cast<uint16_t>(s - rq->lastoutTimeStamp - 1) < T38_WINDOW_AHEAD;
}

}  // namespace

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
  rq->runLength = 0;
  // what the receiver knew belongs to the sequence before
  rq->passedSpan = 0;
  std::memset(rq->seen.standing, T38_UNSEEN, sizeof(rq->seen.standing));
  rq->aloneHeld = 0;
  rq->aloneRun = 0;
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
  note(rq, s, t38fIFPdigest(ifp, len), T38_HELD);
  return true;
}

namespace {

// One IFP packet a datagram carries, found whole by the datagram's walk.
struct Carried {
  const uint8_t* ifp;
  uint16_t len;
  uint16_t s;
  uint16_t digest;
};

// How a datagram's packets compare with what the receiver holds or remembers having played under
// their numbers, from the stream: packets that differ, the datagrams those came in (one foreign
// datagram brings several packets, all wrong together), whether one of them was played already,
// and packets equal to what came in other datagrams than those. An equal packet counts only when
// it differs from what is known under the numbers beside it: a run of equal packets (fill, the
// spaces of an identity) agrees with a datagram numbered a little wrong as well.
struct Verdict {
  int agree = 0, disagree = 0, disagreeSources = 0;
  bool disagreePlayed = false;
};

bool distinct(const T38ZREORDER* rq, uint16_t s) {
  for (const uint16_t beside : {static_cast<uint16_t>(s - 1), static_cast<uint16_t>(s + 1)})
    if (standingOf(rq, beside) != T38_UNSEEN && standingOf(rq, beside) != T38_SUSPECT && rq->seen.digest[slotOf(beside)] == rq->seen.digest[slotOf(s)]) return false;
  return true;
}

Verdict judge(const T38ZREORDER* rq, const Carried* pk, int n) {
  Verdict v;
  uint16_t sources[1 + T38_MAX_SECONDARIES_TAKEN];
  int agreeing[1 + T38_MAX_SECONDARIES_TAKEN];  // slots of the packets equal to what it carries
  int equal = 0;
  for (int i = 0; i < n; ++i) {
    const T38_STANDING st = standingOf(rq, pk[i].s);
    if (st == T38_UNSEEN || st == T38_HELD_DISPUTED || st == T38_SUSPECT) continue;
    if (st == T38_PLAYED && static_cast<uint16_t>(rq->lastoutTimeStamp - pk[i].s) >= rq->passedSpan) continue;
    if (st == T38_HELD_ALONE) continue;  // what stands alone proves nothing either way
    const int k = slotOf(pk[i].s);
    if (rq->seen.digest[k] == pk[i].digest) {
      agreeing[equal++] = k;
      continue;
    }
    ++v.disagree;
    v.disagreePlayed = v.disagreePlayed || st == T38_PLAYED;
    if (std::find(sources, sources + v.disagreeSources, rq->seen.source[k]) == sources + v.disagreeSources)
      sources[v.disagreeSources++] = rq->seen.source[k];
  }
  for (int i = 0; i < equal; ++i)
    v.agree += std::find(sources, sources + v.disagreeSources, rq->seen.source[agreeing[i]]) == sources + v.disagreeSources &&
               distinct(rq, rq->seen.seq[agreeing[i]]);
  return v;
}

// No longer trusts the packet queued under s, nor any other queued packet that came in the same
// datagram: a datagram shown wrong in one packet may be wrong in all (a datagram whose number
// lost a bit carries its packets under numbers all moved alike).
void dispute(T38ZREORDER* rq, uint16_t s) {
  const uint16_t source = rq->seen.source[slotOf(s)];
  for (int k = -T38_MAX_SECONDARIES_TAKEN; k <= T38_MAX_SECONDARIES_TAKEN; ++k) {
    const uint16_t near = static_cast<uint16_t>(s + k);
    if (held(standingOf(rq, near)) && rq->seen.source[slotOf(near)] == source) restand(rq, near, T38_HELD_DISPUTED);
  }
}

// Whether the packet held under s came after the one behind it: it filled a hole the stream had
// passed. What came under `doubted` proves no order.
bool cameLate(const T38ZREORDER* rq, uint16_t s, uint16_t doubted) {
  const uint16_t next = static_cast<uint16_t>(s + 1);
  const T38_STANDING st = standingOf(rq, next);
  return next != doubted && st != T38_UNSEEN && st != T38_SUSPECT &&
         static_cast<int16_t>(rq->seen.source[slotOf(s)] - rq->seen.source[slotOf(next)]) > 0;
}

// A datagram out of line with the stream may be one whose number lost a bit on the way: its own
// number, one bit away from s, is then missing, and at low redundancy nothing else may ever bring
// that number's packet. Whatever comes under such a number later with other content is most
// likely another datagram misnumbered the same way, and is not taken (below); what came there
// already, late and with other content, and is not yet played, is no longer trusted. The
// missing numbers it may be are the holes behind the newest number the stream vouches for, and,
// for a datagram the stream did not take at all, the number the stream sends next.
// `digest` is the content the datagram brings under s, `other` the content held under s before.
void suspectOwnNumber(T38ZREORDER* rq, uint16_t s, uint16_t digest, uint16_t other, bool nextToo) {
  const int16_t last = nextToo ? 1 : 0;
  for (int bit = 0; bit < 16; ++bit) {
    const uint16_t own = static_cast<uint16_t>(s ^ (1u << bit));
    if (!inWindow(rq, own) || static_cast<int16_t>(own - rq->newest) > last) continue;
    const T38_STANDING st = standingOf(rq, own);
    const uint16_t heldDigest = rq->seen.digest[slotOf(own)];
    if (st == T38_HELD && cameLate(rq, own, s) && heldDigest != digest && heldDigest != other) dispute(rq, own);
    if (st != T38_UNSEEN) continue;
    note(rq, own, digest, T38_SUSPECT);
    rq->seen.otherDigest[slotOf(own)] = other;
  }
}

// Whether a packet comes under a suspect number after the stream went past it, with content none
// of the datagrams out of line brought there. The stream's own packet that comes in its turn
// (nothing after it came yet) fills it whatever was suspected.
bool fillsHoleWithOtherContent(const T38ZREORDER* rq, const Carried& pk) {
  const int k = slotOf(pk.s);
  return static_cast<int16_t>(pk.s - rq->newest) < 0 && pk.digest != rq->seen.digest[k] && pk.digest != rq->seen.otherDigest[k];
}

// Files the datagram numbered s in the sequence. It belongs when it is inside the window; else
// its primary is refused and counted, and a run of far ones starts the sequence anew. A datagram
// behind the window whose packets are what this sequence took under their numbers (or numbers
// it passed) is a late copy: it proves nothing and breaks a run.
// Returns whether the datagram started a new sequence.
bool followSequence(T38ZREORDER* rq, uint16_t s, uint16_t digest, Verdict v) {
  if (inWindow(rq, s)) {
    rq->runLength = 0;  // the sequence is alive: no run may take it over
    return false;
  }
  const uint16_t behind = static_cast<uint16_t>(rq->lastoutTimeStamp - s);
  if (v.disagree == 0 && behind < rq->passedSpan) {
    ++rq->failtoReorderCount;
    rq->runLength = 0;
    return false;
  }
  if (v.disagree == 0 && behind < T38_LATE_SPAN) {
    ++rq->failtoReorderCount;  // a late copy
    return false;
  }
  const uint16_t step = static_cast<uint16_t>(s - rq->runLast);
  if (rq->runLength > 0 && step == 0) {
    ++rq->failtoReorderCount;  // the same far datagram again proves nothing more
    return false;
  }
  suspectOwnNumber(rq, s, digest, digest, true);
  if (rq->runLength > 0 && step <= T38_RESYNC_STEP) {
    ++rq->runLength;
  } else {
    rq->runLength = 1;
    rq->runFirst = s;
  }
  rq->runLast = s;
  if (rq->runLength < T38_RESYNC_RUN) {
    ++rq->failtoReorderCount;
    return false;
  }
  // a new sequence: the old one's packets keep their order in drainq and play first
  DG_HDL h;
  if (dg_QmPeekFront(&rq->drainq) == nullptr) rq->drainLastout = rq->lastoutTimeStamp;
  while (dg_deq(&rq->egressPktq, &h)) dg_enq(&rq->drainq, &h);
  rq->sequenceJoin = true;
  t38fReorderStart(rq, rq->runFirst);
  return true;
}

// Packets held alone from the run's first datagram (and what it carried) up to s: far datagrams
// in a row with nothing of the stream between them, each a little after the one before (or a copy
// of it), are where the stream went on.
void vouchForAloneRun(T38ZREORDER* rq, uint16_t s) {
  const uint16_t span = static_cast<uint16_t>(s - rq->aloneFirst + T38_MAX_SECONDARIES_TAKEN);
  for (uint16_t k = 0; k <= span; ++k) {
    const uint16_t before = static_cast<uint16_t>(s - k);
    if (standingOf(rq, before) != T38_HELD_ALONE) continue;
    restand(rq, before, T38_HELD);
    vouchUpTo(rq, before);
  }
}

// Takes packet `pk` as the stream's (`vouched`) or as one standing alone. Under a number already
// held, a copy equal to it vouches for it; different content replaces it when the datagram is in
// line with the stream and agrees with it in packets of more datagrams than it contradicts; else
// no content under that number is trusted.
bool takeCarried(T38ZREORDER* rq, const Carried& pk, bool vouched, Verdict v) {
  if (!inWindow(rq, pk.s)) return true;
  const T38_STANDING st = standingOf(rq, pk.s);
  if (held(st)) {
    if (rq->seen.digest[slotOf(pk.s)] == pk.digest) {
      if ((st == T38_HELD_ALONE && vouched) || (st == T38_HELD_DISPUTED && v.agree > 0)) {
        restand(rq, pk.s, T38_HELD);
        vouchUpTo(rq, pk.s);
      }
      return true;
    }
    // a packet its own datagram's agreement with the stream backed is not replaced by a copy that
    // differs (a copy whose octets were damaged on the way would win): one against the other
    const bool backed = st == T38_HELD && rq->seen.backed[slotOf(pk.s)];
    if (vouched && !backed && v.agree > v.disagreeSources && t38fIFPwalkedPlayable(pk.ifp)) {
      // what came with the packet it replaces is no more trusted than it; this one is queued behind
      // it, and the playout drops the one replaced
      if (st == T38_HELD) dispute(rq, pk.s);
      if (!enqueueIFP(rq, pk.ifp, pk.len, pk.s)) return false;
      rq->seen.backed[slotOf(pk.s)] = v.agree > 0;
      vouchUpTo(rq, pk.s);
    } else {
      dispute(rq, pk.s);
    }
    return true;
  }
  if (!t38fIFPwalkedPlayable(pk.ifp)) {
    ++rq->invalidIFPCount;
    return true;  // the number stays missing: a good copy in a later datagram still fills it
  }
  if (st == T38_SUSPECT && fillsHoleWithOtherContent(rq, pk) && v.agree == 0) {
    ++rq->failtoReorderCount;  // nothing of the stream backs it: the number stays lost
    return true;
  }
  if (!vouched && rq->aloneHeld >= T38_MAX_ALONE) {
    ++rq->failtoReorderCount;  // what stands alone may not take the pool from the stream
    return true;
  }
  if (!enqueueIFP(rq, pk.ifp, pk.len, pk.s)) return false;
  rq->seen.backed[slotOf(pk.s)] = v.agree > 0;
  if (vouched)
    vouchUpTo(rq, pk.s);
  else
    restand(rq, pk.s, T38_HELD_ALONE);
  return true;
}

// Takes what a datagram carries that the receiver misses. A datagram that contradicts what the
// stream vouched for, in packets of as many datagrams as it agrees with in others, brings
// nothing. When it agrees with nothing and contradicts only packets still queued that came in one
// datagram, nothing tells which of the two datagrams is the stream's: those numbers are no longer
// trusted, until a datagram in line with the stream brings one of the two contents again.
void takeDatagram(T38ZREORDER* rq, const Carried* pk, int n, Verdict v) {
  if (v.disagree > 0 && inWindow(rq, pk[0].s)) {
    // two datagrams claim the same numbers: one of them lost a bit of its own
    const bool known = standingOf(rq, pk[0].s) != T38_UNSEEN;
    suspectOwnNumber(rq, pk[0].s, pk[0].digest, known ? rq->seen.digest[slotOf(pk[0].s)] : pk[0].digest, false);
  }
  if (v.disagree > 0 && v.agree <= v.disagreeSources) {
    if (v.agree == 0 && v.disagreeSources == 1 && !v.disagreePlayed)
      for (int i = 0; i < n; ++i)
        if (standingOf(rq, pk[i].s) == T38_HELD && rq->seen.digest[slotOf(pk[i].s)] != pk[i].digest) dispute(rq, pk[i].s);
    ++rq->failtoReorderCount;
    return;
  }
  const uint16_t s = pk[0].s;
  auto close = [&] {
    // the stream is at least where the playout is
    const uint16_t front = static_cast<int16_t>(rq->newest - rq->lastoutTimeStamp) > 0 ? rq->newest : rq->lastoutTimeStamp;
    return static_cast<int16_t>(s - front) <= static_cast<int16_t>(T38_CLOSE_AHEAD);
  };
  if (inWindow(rq, s) && v.agree == 0 && !close()) {
    suspectOwnNumber(rq, s, pk[0].digest, pk[0].digest, true);
    const bool goesOn = rq->aloneRun > 0 && static_cast<uint16_t>(s - rq->aloneLast) <= T38_CLOSE_AHEAD;
    if (!goesOn) rq->aloneFirst = s;
    rq->aloneRun = goesOn ? static_cast<uint8_t>(std::min(rq->aloneRun + 1, 255)) : 1;
    rq->aloneLast = s;
    if (rq->aloneRun >= T38_RESYNC_RUN) {
      vouchForAloneRun(rq, s);
      vouchUpTo(rq, s);
    }
  }
  const bool vouched = v.agree > 0 || close();
  if (vouched && inWindow(rq, s)) rq->aloneRun = 0;  // a datagram in line with the stream ends a run of far ones
  if (!takeCarried(rq, pk[0], vouched, v)) return;  // the pool is dry: the rest would fare no better
  for (int i = 1; i < n; ++i) takeCarried(rq, pk[i], vouched, v);
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

}  // namespace

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
  if (!rq->isReorderQInitialized) {
    t38fReorderStart(rq, static_cast<uint16_t>(s - (n - 1)));
  }
  ++rq->datagrams;
  Verdict v = judge(rq, pk, n);
  if (followSequence(rq, s, pk[0].digest, v)) v = judge(rq, pk, n);  // against the new sequence, which knows nothing yet
  takeDatagram(rq, pk, n, v);
  if (!whole) {
    ++rq->invalidIFPCount;
    return false;
  }
  return true;
}

T38_PLAYOUT t38fReorderPlayout(T38ZREORDER* rq, uint16_t s, uint16_t digest) {
  const uint16_t ahead = static_cast<uint16_t>(s - rq->lastoutTimeStamp);
  if (ahead == 0 || (ahead & 0x8000)) return T38_DROPPED;  // the number was passed already
  const int k = slotOf(s);
  const T38_STANDING st = standingOf(rq, s);
  if (st == T38_HELD && rq->seen.digest[k] != digest) return T38_DROPPED;  // a later record replaced it
  if (st == T38_HELD_ALONE) {
    // nothing of the stream came after it: it neither plays nor moves the playout past the
    // stream's own packets, which may still come; a copy may still fill its number
    setStanding(rq, k, T38_UNSEEN);
    return T38_DROPPED;
  }
  // the numbers skipped were lost: nothing is known of them
  for (uint16_t gap = 1; gap < ahead && gap < T38_SEEN_SLOTS; ++gap) {
    const uint16_t lost = static_cast<uint16_t>(rq->lastoutTimeStamp + gap);
    if (rq->seen.seq[slotOf(lost)] == lost) setStanding(rq, slotOf(lost), T38_UNSEEN);
  }
  const uint32_t passed = uint32_t{rq->passedSpan} + ahead;
  rq->passedSpan = static_cast<uint16_t>(passed < T38_REMEMBER_BEHIND ? passed : T38_REMEMBER_BEHIND);
  if (st == T38_HELD_DISPUTED) {
    setStanding(rq, k, T38_UNSEEN);
    return T38_LOST;
  }
  if (st == T38_UNSEEN)
    note(rq, s, digest, T38_PLAYED);
  else
    setStanding(rq, k, T38_PLAYED);  // its content and the datagram it came in stay
  return T38_PLAY;
}
