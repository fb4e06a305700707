// UDPTL datagrams received: the parse, the reorder queue the playout takes from, and the guard
// beside it (its rules are listed in t38_udptl.h with the fault each stops).
#include <algorithm>
#include <cstring>

#include "t38_udptl.h"

uint16_t t38fIFPdigest(const uint8_t* ifp, int len) {
  uint32_t h = 2166136261u;
  for (int i = 0; i < len; ++i) h = (h ^ ifp[i]) * 16777619u;
  return static_cast<uint16_t>(h ^ (h >> 16));
}

namespace {

int slotOf(uint16_t s) { return s & (T38_NUMBER_SLOTS - 1); }

T38_NUMBER_STATE stateOf(const T38ZREORDER* rq, uint16_t s) {
  const int k = slotOf(s);
  return rq->numbers.seq[k] == s ? static_cast<T38_NUMBER_STATE>(rq->numbers.state[k]) : T38_UNKNOWN;
}

// Every change of a number's record goes here, which keeps the count of packets held alone.
void setState(T38ZREORDER* rq, uint16_t s, T38_NUMBER_STATE state) {
  const int k = slotOf(s);
  rq->aloneHeld = static_cast<uint8_t>(rq->aloneHeld - (rq->numbers.state[k] == T38_ALONE) + (state == T38_ALONE));
  rq->numbers.seq[k] = s;
  rq->numbers.state[k] = state;
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
  return p != nullptr ? t38egr_ifp_octets(p, out, T38_MAX_IFP + 1) : 0;
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
    const int k = slotOf(pk[i].s);
    const T38_NUMBER_STATE st = stateOf(rq, pk[i].s);
    bool same;
    if (st == T38_QUEUED) {
      uint8_t octets[T38_MAX_IFP + 1];
      const int got = queued(rq, pk[i].s, octets);
      if (got == 0) continue;
      same = sameAs(pk[i], octets, got);
    } else if (st == T38_PLAYED && static_cast<uint16_t>(rq->lastoutTimeStamp - pk[i].s) < rq->passedSpan) {
      same = rq->numbers.digest[k] == pk[i].digest;
    } else {
      continue;  // nothing known, or nothing trusted, proves nothing either way
    }
    if (same) {
      if (distinct(rq, pk[i])) agreeing[equal++] = rq->numbers.source[k];
      continue;
    }
    ++v.disagree;
    v.disagreePlayed = v.disagreePlayed || st == T38_PLAYED;
    if (std::find(sources, sources + v.disagreeSources, rq->numbers.source[k]) == sources + v.disagreeSources)
      sources[v.disagreeSources++] = rq->numbers.source[k];
  }
  for (int i = 0; i < equal; ++i)
    v.agree += std::find(sources, sources + v.disagreeSources, agreeing[i]) == sources + v.disagreeSources;
  return v;
}

// The digest of what is known under s: the queued packet's or the played one's; `fallback` else.
uint16_t knownDigest(const T38ZREORDER* rq, uint16_t s, uint16_t fallback) {
  if (stateOf(rq, s) == T38_PLAYED) return rq->numbers.digest[slotOf(s)];
  uint8_t octets[T38_MAX_IFP + 1];
  const int got = queued(rq, s, octets);
  const int len = got > 0 ? t38fIFPcheck(octets, got) : -1;
  return len > 0 ? t38fIFPdigest(octets, len) : fallback;
}

// No longer trusts the packet queued under s, nor any other queued packet that came in the same
// datagram: a datagram shown wrong in one packet may be wrong in all (a datagram whose number
// lost a bit carries its packets under numbers all moved alike). Their packets leave the queue,
// and the numbers play as lost unless a datagram that agrees with the stream brings them again.
void dispute(T38ZREORDER* rq, uint16_t s) {
  const uint16_t source = rq->numbers.source[slotOf(s)];
  for (int k = -T38_MAX_SECONDARIES_TAKEN; k <= T38_MAX_SECONDARIES_TAKEN; ++k) {
    const uint16_t near = static_cast<uint16_t>(s + k);
    const T38_NUMBER_STATE st = stateOf(rq, near);
    if ((st != T38_QUEUED && st != T38_ALONE) || rq->numbers.source[slotOf(near)] != source) continue;
    if (EGR_IFP_PKT* p = t38egr_ifp_find(&rq->egressPktq, near)) t38egr_ifp_remove(&rq->egressPktq, p);
    setState(rq, near, T38_DISPUTED);
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
    rq->numbers.digest[slotOf(own)] = digest;
    rq->numbers.source[slotOf(own)] = other;
  }
}

// Rule 2: files the datagram numbered s in the sequence. It belongs when it is inside the
// window; else its primary is refused and counted, and a run of far ones starts the sequence anew.
void followSequence(T38ZREORDER* rq, uint16_t s, uint16_t digest, Verdict v) {
  if (inWindow(rq, s)) {
    rq->runLength = 0;  // the sequence is alive: no run may take it over
    return;
  }
  const uint16_t step = static_cast<uint16_t>(s - rq->runLast);
  if (rq->runLength > 0 && step == 0) {
    ++rq->failtoReorderCount;  // the same far datagram again proves nothing more
    return;
  }
  suspectOwnNumber(rq, s, digest, digest, true);
  if (rq->runLength > 0 && step <= T38_RESYNC_STEP) {
    ++rq->runLength;
  } else {
    rq->runLength = 1;
    rq->runFirst = s;
    rq->runTime = rq->time;
  }
  rq->runLast = s;
  const bool lateRange = static_cast<uint16_t>(rq->newest - rq->runFirst) <= T38_LATE_LIMIT;
  const bool lasted = v.disagree > 0 || !lateRange || rq->time != rq->runTime;
  if (rq->runLength < T38_RESYNC_RUN || !lasted) {
    ++rq->failtoReorderCount;
    return;
  }
  // a new sequence: the old one's packets keep their order in drainq and play first
  DG_HDL h;
  if (dg_QmPeekFront(&rq->drainq) == nullptr) rq->drainLastout = rq->lastoutTimeStamp;
  while (dg_deq(&rq->egressPktq, &h)) dg_enq(&rq->drainq, &h);
  t38fReorderStart(rq, rq->runFirst);
  noteBreak(rq, rq->runFirst, rq->runFirst);
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

// Rules 3 to 5 for one packet: takes `pk` as the stream's (`vouched`) or as one standing alone.
// Returns false when the pool is dry.
bool takeCarried(T38ZREORDER* rq, const Carried& pk, bool vouched, Verdict v) {
  if (!inWindow(rq, pk.s)) return true;
  const int k = slotOf(pk.s);
  const T38_NUMBER_STATE st = stateOf(rq, pk.s);
  uint8_t octets[T38_MAX_IFP + 1];
  EGR_IFP_PKT* record = nullptr;
  const int got = queued(rq, pk.s, octets, &record);
  if (got > 0) {
    if (sameAs(pk, octets, got)) {
      if (st == T38_ALONE && vouched) {
        setState(rq, pk.s, T38_QUEUED);
        vouchUpTo(rq, pk.s);
      }
      return true;
    }
    // different content: the stream's own takes the place of one that stood alone; else the one
    // the stream backs more replaces it, and without that neither is trusted
    const bool playable = t38fIFPwalkedPlayable(pk.ifp);
    if (st == T38_ALONE && vouched && playable) {
      t38egr_ifp_remove(&rq->egressPktq, record);
      setState(rq, pk.s, T38_UNKNOWN);
    } else {
      const bool replace = vouched && v.agree > v.disagreeSources && playable;
      dispute(rq, pk.s);
      if (!replace) return true;
    }
  } else if (st == T38_DISPUTED && v.agree <= v.disagreeSources) {
    return true;
  }
  if (!isIFPmissing(rq, pk.s)) return true;
  if (!t38fIFPwalkedPlayable(pk.ifp)) {
    ++rq->invalidIFPCount;
    return true;  // the number stays missing: a good copy in a later datagram still fills it
  }
  const bool late = static_cast<int16_t>(pk.s - rq->newest) < 0;  // the stream went past it already
  if (st == T38_SUSPECT && v.agree == 0 && late && pk.digest != rq->numbers.digest[k] && pk.digest != rq->numbers.source[k]) {
    ++rq->failtoReorderCount;  // nothing of the stream backs it: the number stays lost
    return true;
  }
  if (!vouched && rq->aloneHeld >= T38_MAX_ALONE) {
    ++rq->failtoReorderCount;  // what stands alone may not take the pool from the stream
    return true;
  }
  if (!enqueueIFP(rq, pk.ifp, pk.len, pk.s)) return false;
  if (vouched)
    vouchUpTo(rq, pk.s);
  else if (stateOf(rq, pk.s) == T38_QUEUED)
    setState(rq, pk.s, T38_ALONE);
  return true;
}

// Takes what a datagram carries that the receiver misses. A datagram that contradicts what the
// stream vouched for, in packets of as many datagrams as it agrees with in others, brings
// nothing. When it agrees with nothing and contradicts only packets still queued that came in one
// datagram, nothing tells which of the two datagrams is the stream's: those numbers are disputed.
void takeDatagram(T38ZREORDER* rq, const Carried* pk, int n, Verdict v) {
  const uint16_t s = pk[0].s;
  if (v.disagree > 0) {
    // datagrams in a row that contradict the stream: the peer's numbers stepped back under new
    // content, and frames across them do not join (rule 6); one alone is a stray
    if (rq->contradicted && s == static_cast<uint16_t>(rq->lastContradicting + 1)) noteBreak(rq, pk[n - 1].s, s);
    rq->contradicted = true;
    rq->lastContradicting = s;
    if (inWindow(rq, s)) suspectOwnNumber(rq, s, pk[0].digest, knownDigest(rq, s, pk[0].digest), false);
  }
  if (v.disagree > 0 && v.agree <= v.disagreeSources) {
    if (v.agree == 0 && v.disagreeSources == 1 && !v.disagreePlayed)
      for (int i = 0; i < n; ++i)
        if (stateOf(rq, pk[i].s) == T38_QUEUED && knownDigest(rq, pk[i].s, pk[i].digest) != pk[i].digest)
          dispute(rq, pk[i].s);
    ++rq->failtoReorderCount;
    return;
  }
  // close to the stream, which is at least where the playout is
  auto close = [&] {
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
  const bool vouched = v.agree > 0 || close();  // a run of far ones that vouched for itself is close now
  if (vouched && inWindow(rq, s)) rq->aloneRun = 0;  // a datagram in line with the stream ends a run of far ones
  for (int i = 0; i < n; ++i)
    if (!takeCarried(rq, pk[i], vouched, v)) return;  // the pool is dry: the rest would fare no better
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
  std::memset(rq->numbers.state, T38_UNKNOWN, sizeof(rq->numbers.state));
  rq->aloneHeld = 0;
  rq->aloneRun = 0;
  rq->breakPending = false;
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
  rq->numbers.source[slotOf(s)] = rq->datagrams;
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
  const Verdict v = judge(rq, pk, n);
  followSequence(rq, s, pk[0].digest, v);
  takeDatagram(rq, pk, n, v);
  if (!whole) {
    ++rq->invalidIFPCount;
    return false;
  }
  return true;
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
  bool broken = ahead != 1;  // the numbers skipped were lost
  if (rq->breakPending && pastPlayout(rq, rq->breakFrom) <= ahead) {
    broken = true;
    if (pastPlayout(rq, rq->breakTo) <= ahead) rq->breakPending = false;
  }
  const uint32_t passed = uint32_t{rq->passedSpan} + ahead;
  rq->passedSpan = static_cast<uint16_t>(passed < T38_REMEMBER_BEHIND ? passed : T38_REMEMBER_BEHIND);
  setState(rq, s, T38_PLAYED);
  rq->numbers.digest[slotOf(s)] = digest;
  rq->lastoutTimeStamp = s;
  return broken ? T38_PLAY_BROKEN : T38_PLAY;
}
