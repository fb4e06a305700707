// The UDPTL receiver's steps of the peer's numbering: steps forward over numbers that hold nothing of
// the peer (rule 6), and steps back shown by their copies or by the datagram that goes on (rule 2).
#include "t38_udptl_rx_int.h"

namespace t38rx {

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

// Whether a refused datagram with copies may be a peer's after a step back whose packets before
// the step the stream never got: it reuses one of the stream's last T38_CLOSE_AHEAD numbers and
// agrees with nothing there, its primary is new (not the packet held under its number, nor the
// stream's a few numbers on), and its copies show no step over packets the stream holds: read as
// the packets right after the stream's newest (where such a peer's lost ones lie), they fall
// wholly on numbers the stream never got. Its new packets are lost with it. A stray copy
// misnumbered from the stream's head, or the stream's own datagram after a version of it altered
// or repeated under another number came first, brings packets the stream holds, and breaks nothing.
bool mayHaveSteppedBackUnseen(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v) {
  const uint16_t behind = static_cast<uint16_t>(rq->newest - pk[0].s);
  if (n == 1 || v.agree > 0 || v.placed > 0 || behind >= T38_CLOSE_AHEAD || steppedBack(rq, pk, n)) return false;
  // the primary is new: not the packet held under its number, nor the stream's a few numbers on
  for (uint16_t k = 0; k <= T38_CLOSE_AHEAD; ++k) {
    const uint16_t at = static_cast<uint16_t>(pk[0].s + k);
    if (knownAs(rq, at, pk[0].digest)) return false;
  }
  // every copy falls on a number the stream never got: fill the stream holds proves no step
  for (int i = 1; i < n; ++i) {
    const T38_NUMBER_STATE st = stateOf(rq, static_cast<uint16_t>(pk[i].s + behind + 2));
    if (st == T38_QUEUED || st == T38_PLAYED) return false;
  }
  return true;
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
  return knownAs(rq, old, c.digest);
}

// Whether a copy the datagram numbered dg carries is a packet the peer sent under an earlier
// number than the one it is carried under (rule 6): a copy under a number stepped over, or, in a
// datagram from the step on, one under a number before the step that is the stream's packet the
// step's size before it. Taken, it would fill a number stepped over, or dispute the packet of a
// datagram that came after the step's (the network swaps datagrams).
bool olderThanItsNumber(const T38ZREORDER* rq, const Carried& c, uint16_t dg) {
  return steppedOver(rq, c.s) || (rq->stepKnown && static_cast<int16_t>(dg - rq->stepAt) >= 0 && explainedByStep(rq, c));
}

// Whether a step that lands none of the datagram's copies on a number the stream holds, where one
// could contradict it, shows itself by its copies alone: they end with the stream's newest packet
// under the number right before the step (where numbers were lost between, only these copies
// bring what the peer sent there, and taken as they came they still bring it in its order), and
// two of them at least are the stream's packets `shift` numbers before, each told apart from the
// ones beside it and none page data (which repeats its packets at every distance). One packet
// equal by chance is as often what the peer sent after as many datagrams lost.
bool stepShownBeyondCopies(const T38ZREORDER* rq, const Carried* pk, int n, uint16_t shift) {
  if (static_cast<uint16_t>(pk[0].s - 1 - rq->newest) != shift) return false;
  int telling = 0;
  for (int i = 1; i < n; ++i) {
    const T38_NUMBER_STATE own = stateOf(rq, pk[i].s);
    if (own == T38_QUEUED || own == T38_PLAYED) return false;
    const uint16_t old = static_cast<uint16_t>(pk[i].s - shift);
    const T38_NUMBER_STATE st = stateOf(rq, old);
    const bool known = (st == T38_QUEUED || st == T38_PLAYED) && knownAs(rq, old, pk[i].digest);
    if (known && isV21OrIndicator(pk[i]) && distinct(rq, {pk[i].ifp, pk[i].len, old, pk[i].digest})) ++telling;
  }
  return telling >= 2;
}

// A datagram that stepped forward by `shift`, its copy under the number `shift` past the stream's
// newest one that very packet, and a copy under the stream's own numbers other than the stream's
// packet there (so that the same packets lost in their datagrams do not pass for a step), or, where
// the step lands no copy on the stream's numbers, copies that show it alone (stepShownBeyondCopies,
// which no later datagram can confirm): nothing the peer sent lies under the `shift` numbers before
// it, unless its number is wrong. Where it
// skipped more numbers than it stepped, its first copies are the stream's next packets, still on
// their way (the network swaps datagrams) or lost: the step lies after them, and their own
// datagrams fill the numbers before it. Without it the first of them, come after the step, was
// disputed by the copy the next datagram carries under its number, and a final frame across the
// step never played.
void noteStep(T38ZREORDER* rq, const Carried* pk, int n, uint16_t shift) {
  const uint16_t skipped = static_cast<uint16_t>(pk[0].s - 1 - rq->newest);
  const int newestCopy = 1 + skipped - shift;  // the copy that is the stream's newest packet
  const T38_NUMBER_STATE st = stateOf(rq, rq->newest);
  if (shift == 0 || shift > skipped || n <= newestCopy || (st != T38_QUEUED && st != T38_PLAYED) ||
      !knownAs(rq, rq->newest, pk[newestCopy].digest))
    return;
  bool contradicts = false;
  for (int i = 1; i < n; ++i) {
    const T38_NUMBER_STATE own = stateOf(rq, pk[i].s);
    contradicts = contradicts || ((own == T38_QUEUED || own == T38_PLAYED) && knownDigest(rq, pk[i].s, pk[i].digest) != pk[i].digest);
  }
  if (!contradicts && !stepShownBeyondCopies(rq, pk, n, shift)) return;
  rq->stepKnown = true;
  rq->stepFrom = static_cast<uint16_t>(pk[0].s - shift);
  // beyond the copies' reach no later datagram carries one under the step's first number: the
  // copies that showed it are all the word there is, unless the datagram lies one bit from the
  // stream's next number, where that number's own datagram, moved on the way, looks the same
  rq->stepConfirmed = !contradicts && !std::has_single_bit(static_cast<uint16_t>(pk[0].s ^ rq->stepFrom));
  rq->stepTo = static_cast<uint16_t>(pk[0].s - 1);
  rq->stepAt = pk[0].s;
  rq->stepDigest = pk[0].digest;
}

// A copy that the datagram which stepped forward carries, under the number the peer sent it: the
// step's size before the one it is carried under, as every copy of that datagram was sent before
// the step. Where the datagram skipped more numbers than it stepped, its copies newer than the
// stream's newest packet are the peer's next packets, whose own datagrams are late or lost: taken
// only from those, they never came where the network lost them, and a final frame across the
// step (a counter skip of one in the DCN, its datagram after the skip lost) never played whole.
Carried sentBeforeStep(const T38ZREORDER* rq, const Carried& c) {
  const uint16_t shift = static_cast<uint16_t>(rq->stepTo - rq->stepFrom + 1);
  return {c.ifp, c.len, static_cast<uint16_t>(c.s - shift), c.digest};
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
      if ((st != T38_QUEUED && st != T38_PLAYED) || !knownAs(rq, old, pk[i].digest))
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
    if ((st == T38_QUEUED || st == T38_PLAYED) && !knownAs(rq, old, pk[i].digest)) return true;
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

// The newest number the run's own datagrams brought: the network swaps them, so the one that came
// last (run.last) may lie before another. Packets held from datagrams that went on past the run
// (run.wentOn) are none of the run's.
uint16_t runNewest(const T38ZREORDER* rq) {
  uint16_t newest = rq->run.last;
  for (uint8_t i = 0; i < rq->run.held; ++i) {
    const uint16_t s = rq->run.packets[i].seq;
    const bool wentOn = rq->run.wentOn && static_cast<int16_t>(s - rq->run.wentOnSeq) >= 0;
    if (!wentOn && static_cast<int16_t>(s - newest) > 0) newest = s;
  }
  return newest;
}

// Rule 2, the same with copies: the run's first datagram carries as its copies the packets the
// stream ended with a few numbers on (the peer stepped back), and a datagram after the run's
// newest number carries as its copies the very packets the run's datagrams brought under those
// numbers, none other: the peer went on from the run. Datagrams refused after a step back are
// those whose packets land on numbers the stream has, the step's length and as many again as the
// copies reach: a step back by one at redundancy one makes a run of two, which never grows to
// T38_RESYNC_RUN, since the next datagram lands on numbers the stream never had. Without it a
// final frame sent across such a step lost its first octets, and the line terminal never heard it.
bool steppedBackWithCopies(const T38ZREORDER* rq, const Carried* pk, int n) {
  if (rq->run.length < T38_RESYNC_RUN - 1 || !rq->run.copies || !rq->run.joins || !rq->run.contradicts || rq->run.repeats ||
      static_cast<uint16_t>(pk[0].s - runNewest(rq) - 1) >= static_cast<uint16_t>(n - 1))
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

// The newest number a step back's datagrams reuse or reach: the stream's newest, or past it the
// run's own newest where its datagrams carry copies (those land on numbers the stream has).
uint16_t stepNewest(const T38ZREORDER* rq) {
  const uint16_t runTop = runNewest(rq);
  return rq->run.copies && static_cast<int16_t>(runTop - rq->newest) > 0 ? runTop : rq->newest;
}

// Whether the datagram numbered s, past the numbers of the step, may be where a peer that stepped
// back went on while the datagrams of its step, or the one that proves it, are not all in: the
// open run is a step back short of its proof, lying among the stream's newest numbers, and s lies
// no further past them than the run spans (the network brings as many of the new numbers before
// the step's last one, or the proving one, as it swaps with it). Without copies the step's
// numbers end at the stream's newest; with them the run is a step whose copies join the stream,
// and its numbers reach past the newest as far as its datagrams' copies land on numbers the
// stream has. The network swaps the step's last datagram, or the next one, with the ones after
// as readily as any two, and under jitter several of them, in any order; without this the step's
// first packets (a final frame's first octets) are lost.
bool mayGoOnAfterAStepBack(const T38ZREORDER* rq, uint16_t s, int n) {
  // with copies, only a run the datagram after it may prove (steppedBackWithCopies): one refused
  // datagram alone is as often a copy the network numbered one less, and the next one the stream's
  const bool copies = n > 1;
  if (rq->run.length == 0 || !rq->run.contradicts || rq->run.repeats || rq->run.copies != copies ||
      (copies && (!rq->run.joins || rq->run.length < T38_RESYNC_RUN - 1)))
    return false;
  const uint16_t base = rq->run.wentOn ? static_cast<uint16_t>(rq->run.wentOnSeq - 1) : stepNewest(rq);
  const uint16_t step = static_cast<uint16_t>(base - rq->run.first + 1);
  const uint16_t past = static_cast<uint16_t>(s - base);
  return past >= 1 && past <= step && step <= T38_RESYNC_STEP && static_cast<uint16_t>(base - rq->run.last) < T38_RESYNC_STEP;
}

}  // namespace t38rx
