// The UDPTL receiver's sequence: runs of far datagrams, the new sequence they prove, the past they
// may bring again, and a restart undone (rule 2 of t38_udptl.h).
#include "t38_udptl_rx_int.h"

namespace t38rx {

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

// Whether a number one bit away from s goes on with the open run (as a datagram of it would), the
// bit worth 64 or more, and the run lies by the stream's newest number (a peer that stepped back
// sends it there): a number only a little past the run's reach may start a run of its own, and a
// peer that renumbers far off is followed wherever its run of far datagrams lands.
bool oneBitFromRun(const T38ZREORDER* rq, uint16_t s) {
  static_assert(3 * T38_RESYNC_STEP < 64, "a number within the run's reach of s is not moved by a bit of 64");
  if (!withinResyncStep(rq->newest, rq->run.last)) return false;
  for (int bit = 6; bit < 16; ++bit) {
    const uint16_t own = static_cast<uint16_t>(s ^ (1u << bit));
    if (withinResyncStep(own, rq->run.last)) return true;
  }
  return false;
}

// Whether the open run is one datagram before the one numbered s, which brought the V.21 preamble
// alone as its primary under s or the number before: the peer announced a frame under new numbers.
bool runPreambleBefore(const T38ZREORDER* rq, uint16_t s) {
  if (rq->run.length != 2 || rq->run.held == 0 || rq->run.last != s) return false;
  const T38ZRUNPACKET& first = rq->run.packets[0];
  return first.seq == rq->run.first && static_cast<uint16_t>(s - first.seq) <= 1 &&
         t38fIFPdigest(rq->run.octets + first.at, first.len) == v21PreambleDigest();
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
// own datagram may be lost). The preamble may instead have come far off as well, the run's one
// datagram before the frame's, under the number before it or, moved on the way, under the
// frame's own: that is the stream announcing the frame under the new numbers, and the frame's
// datagram with its no-signal still make two where a run needs three (without it a peer that
// renumbered at its preamble, the no-signal after the frame lost or swapped behind, was never
// followed). The stream's own next datagram, its
// number one bit away on the way (rule 5), looks the same: a number one bit from the stream's
// next ones proves nothing.
bool renumberedFrameAfterPreamble(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v) {
  const Carried& primary = pk[0];
  const uint16_t preamble = v21PreambleDigest();
  for (uint16_t k = 1; k <= T38_RESYNC_STEP; ++k)
    if (std::has_single_bit(static_cast<uint16_t>(primary.s ^ (rq->newest + k)))) return false;
  const bool opensRun = rq->run.length == 1 && rq->run.first == primary.s;
  const bool afterRunPreamble = runPreambleBefore(rq, primary.s);
  // without copies the stream's own last packet is the preamble, or the run's; with them, the
  // copy right before the frame is, and the copies join the stream: they are its newest packets,
  // under the numbers right before the frame's or before the preamble's (the peer went on from them)
  const bool afterPreamble = n == 1 ? (opensRun && playedDigest(rq, rq->lastoutTimeStamp) == preamble) || afterRunPreamble
                                    : pk[1].digest == preamble && (opensRun || afterRunPreamble) &&
                                          (rq->run.joins || steppedBackFrom(rq, pk, n) != primary.s);
  return v.disagree == 0 && !rq->run.repeats && !rq->run.past &&
         static_cast<uint16_t>(rq->newest - primary.s) > T38_LATE_LIMIT && rq->newest == rq->lastoutTimeStamp &&
         stateOf(rq, rq->lastoutTimeStamp) == T38_PLAYED && afterPreamble &&
         dg_QmPeekFront(&rq->egressPktq) == nullptr && dg_QmPeekFront(&rq->drainq) == nullptr &&
         t38fIFPwalkedPlayable(primary.ifp) && t38fIFPv21FrameControl(primary.ifp) >= 0;
}

// Rule 2, a final disconnect renumbered behind the stream: the stream fell silent (all it vouched
// for played, nothing waits to play), and the first datagram of a run within the late limit
// carries a disconnect frame whole and closed good, as its primary or as the copy right before an
// indicator (the no-signal after the frame), under numbers the stream played other content: new
// content, which only a peer whose numbers stepped back sends there (a late copy repeats what was
// played, a stale run brings the past, and no disconnect went before the peer's last frame). Its
// number may lie one bit from the stream's next ones: moved on the way, it is the peer's own
// disconnect all the same, and nothing of the stream comes after it. A peer that stepped back
// right before its disconnect sends the preamble, the frame and the no-signal, and then nothing
// more, however long the far end waits: where one of the three is lost a run of three never
// comes. Any other frame is answered or sent again, and its run goes on with the next datagrams.
// Returns the frame's packet among pk, -1 when there is none such. Without it a peer that stepped back eight at redundancy 1 before its
// disconnect, the preamble's datagram and the frame's lost, was never followed, and the far
// terminal waited for good.
int renumberedDisconnectBehind(const T38ZREORDER* rq, const Carried* pk, int n, const Verdict& v) {
  const Carried& primary = pk[0];
  const bool indicatorAfter = n > 1 && pk[1].s == static_cast<uint16_t>(primary.s - 1) && !(primary.ifp[0] & T30_DATA);
  const int at = t38fIFPv21FrameControl(primary.ifp) >= 0 ? 0 : indicatorAfter ? 1 : -1;
  if (at < 0 || !t38fIFPwalkedPlayable(pk[at].ifp) || (t38fIFPv21FrameCommand(pk[at].ifp) & 0x7F) != kV21Disconnect)
    return -1;
  const Carried& frame = pk[at];
  const bool newThere = stateOf(rq, frame.s) == T38_PLAYED && playedDigest(rq, frame.s) != frame.digest;
  const bool silent = rq->newest == rq->lastoutTimeStamp && stateOf(rq, rq->lastoutTimeStamp) == T38_PLAYED &&
                      dg_QmPeekFront(&rq->egressPktq) == nullptr && dg_QmPeekFront(&rq->drainq) == nullptr;
  const bool opensRun = rq->run.length == 1 && rq->run.first == primary.s;
  // the no-signal after the frame repeats the stream's past, as every no-signal does: the frame
  // tells the past
  return v.disagree > 0 && newThere && silent && opensRun && !rq->run.repeats && !playedBefore(rq, frame, true) &&
                 static_cast<uint16_t>(rq->newest - primary.s) <= T38_LATE_LIMIT
             ? at
             : -1;
}

// Whether nothing of the sequence last restarted on a run has played yet.
bool restartPlayedNothing(const T38ZREORDER* rq) { return rq->lastoutTimeStamp == static_cast<uint16_t>(rq->restartFrom - 1); }

// Rule 2, the run's first datagram come after the run proved: the network swapped the
// renumbered stream's first datagrams, and the run started the sequence at the lowest number it
// had then. While nothing of the new sequence has played, a datagram a little before that number
// (never further than T38_RESYNC_STEP before the run's first), under a number no sequence played,
// is the run's own (its content may repeat what was played: a peer's frames open alike), unless
// the run brought only the past: the sequence starts at it instead, and the break moves with it.
// Without it the first packet of a frame sent just after a renumbering came behind the playout
// and the frame played broken.
bool runStartCameLate(const T38ZREORDER* rq, const Carried& primary) {
  if (!rq->restartOpen || !restartPlayedNothing(rq)) return false;
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

// Rule 2, a join disproved: the last restart joined the new sequence's first packets, with no
// break, to the newest packet of the sequence it left, because the run's first copies were that
// packet. A datagram of the sequence left numbered a little past its newest shows the peer sent
// more under its old numbers: the copies were its packets after that one, equal to it by chance
// (a frame's octets and page data repeat), and what lies between the two sequences is unknown.
// Until the new sequence plays its first packet, the frame across the restart ends bad there.
// Without it a DCS or DIS whose octets went on across a renumbering, the next old datagram come
// late behind the new ones, played one octet short and closed good.
bool joinDisproved(const T38ZREORDER* rq, uint16_t s) {
  return rq->joinedKnown && rq->lastoutTimeStamp == static_cast<uint16_t>(rq->joinedFrom - 1) &&
         static_cast<uint16_t>(s - rq->joinedLeft - 1) < T38_RESYNC_STEP;
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
  if (!near && joinDisproved(rq, s)) {
    rq->joinedKnown = false;
    noteBreak(rq, rq->joinedFrom, rq->joinedFrom);
  }
  if (!near && leftSequenceGoesOn(rq, s)) {
    goBackToLeftSequence(rq, s);
    return true;
  }
  // new content under the new numbers: the run that started them was no stale one
  if (rq->restartDoubted && near && !refusedFor(v) && !playedBefore(rq, pk[0], true)) rq->restartDoubted = false;
  if (near && !refusedFor(v)) {
    if (steppedBackAndWentOn(rq, pk, n)) return restartAtRun(rq);
    if (mayGoOnAfterAStepBack(rq, s, n)) {
      // the network may have swapped the step back's last datagram, or the one that proves it,
      // with this one: the run stays open, and what this datagram carries past the step's numbers
      // is the new sequence's too if the run proves a step
      if (!rq->run.wentOn) rq->run.wentOnSeq = static_cast<uint16_t>(stepNewest(rq) + 1);
      rq->run.wentOn = true;
      holdRunPackets(rq, pk, n);
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
    return run.length > 0 && withinResyncStep(s, run.last);
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
  // Over numbers never played, a run with new content still coming that long after its first
  // datagram is no late burst either: it proves as further behind does. Without it a peer that
  // renumbered 508 back at redundancy 0 before its DCN (a no-signal, the preamble, the frame:
  // seven datagrams over four seconds) was never followed, and the far terminal waited for good.
  const uint16_t behind = static_cast<uint16_t>(rq->newest - rq->run.first);
  const bool late = behind <= T38_LATE_LIMIT;
  const bool judged = late || (behind <= T38_REMEMBERED_BEHIND && rq->run.copies);
  const bool renumbered = rq->run.contradicts || (rq->run.joins && !rq->run.repeats);
  const bool stillComing = static_cast<uint16_t>(rq->time - rq->run.since) > T38_LATE_WAIT_MAX;
  const bool paced = rq->run.length >= T38_RESYNC_RUN_UNSEEN && stillComing;
  const bool judgedPastThatMayBeBurst = judged && rq->run.past && !paced;
  const bool proven = renumbered                                    ? rq->run.length >= T38_RESYNC_RUN
                      : rq->run.repeats || judgedPastThatMayBeBurst ? false
                                                                    : rq->run.length >= (late && !stillComing ? T38_RESYNC_RUN_UNSEEN : T38_RESYNC_RUN);
  const bool frameAfterPreamble = !proven && renumberedFrameAfterPreamble(rq, pk, n, v);
  const int disconnect = proven || frameAfterPreamble ? -1 : renumberedDisconnectBehind(rq, pk, n, v);
  if (!proven && !frameAfterPreamble && disconnect < 0) {
    holdRunPackets(rq, pk, n);
    if (!near) ++rq->failtoReorderCount;  // one refused inside the window is counted as such
    return false;
  }
  // the frame's copies join it to the stream's newest packets: the sequence starts at the first
  // packet the peer sent after them (its preamble), with no break; where the preamble's own
  // datagram opened the run, the run placed that start already
  if (frameAfterPreamble && n > 1 && rq->run.length == 1) rq->run.from = steppedBackFrom(rq, pk, n);
  // a preamble that came under the frame's own number went before it: the frame takes the number
  if (frameAfterPreamble && rq->run.held > 0 && rq->run.packets[0].seq == s) rq->run.held = 0;
  // the disconnect starts the sequence, its preamble lost: a start before the run's first
  // datagram is one its copies join to the stream, which breaks nothing, so the break is noted
  // after the restart
  if (disconnect >= 0) rq->run.from = pk[disconnect].s;
  // a run behind the stream that nothing ties to it (it contradicted nothing, its copies are not
  // the stream's newest packets) may be a stale run as well as a peer that renumbered: the
  // sequence it leaves may still go on, and a run that proves right after that sequence's newest
  // number undoes it, whatever the run brought (a stale run brings again the packets the network
  // lost the first time, new to the stream). One of the past, proved by its length alone, is
  // doubted besides: the stream's next datagram alone undoes it. (A run ahead of the stream, past
  // the window, is as often the stream itself running ahead of the playout, its page data
  // repeating packets.)
  const bool untied = !renumbered && static_cast<int16_t>(rq->newest - rq->run.first) > 0;
  const bool doubted = untied && rq->run.past;
  const uint16_t left = rq->newest;
  const bool joins = rq->run.joins || rq->run.from != rq->run.first;
  const bool strayBetween = runResumesLeftSequence(rq) && !restartPlayedNothing(rq);
  if (strayBetween) dropUnplayed(rq);
  restartAtRun(rq);
  if (disconnect >= 0) noteBreak(rq, rq->restartFrom, rq->restartFrom);
  if (strayBetween) {
    noteBreak(rq, rq->restartFrom, rq->restartFrom);
    noteStrayBefore(rq, rq->restartFrom);
  }
  rq->joinedKnown = joins && !rq->breakPending;
  rq->joinedLeft = left;
  rq->joinedFrom = rq->restartFrom;
  rq->restartDoubted = doubted;
  rq->leftKnown = untied;
  rq->leftNewest = left;
  return true;
}

// Rule 2, a restart undone by a run: the last restart was on a run behind the stream that nothing
// tied to it, and the run that proves now starts a little past the newest number of the sequence
// that restart left, as that sequence going on does, which a peer that renumbered never does (a
// restart on a step back, or on copies that join the stream's newest packets, is the peer's: its
// numbers going on near the ones it left prove nothing). The restart is undone so even where it
// proved on new content, or new content came under its numbers since (a stale run brings again
// the packets the network lost the first time): what it played was stray, and the frame it left
// open ends bad before the run's first packet. Without it a stale run of the call's first
// datagrams, one of them lost the first time, took the stream over, and the peer's final frame,
// under its own next numbers, joined the stale frame and ended bad; so it did where that packet,
// in a run with copies 2,276 back, proved the run on its own.
bool runResumesLeftSequence(const T38ZREORDER* rq) {
  return rq->leftKnown && static_cast<uint16_t>(rq->run.from - rq->leftNewest - 1) < T38_RESYNC_STEP;
}

// What the sequence being left queued and did not play yet goes, instead of draining.
void dropUnplayed(T38ZREORDER* rq) {
  DG_HDL h;
  while (dg_deq(&rq->egressPktq, &h)) dg_free(dg_QmPeekFront(&h.qhdr));
}

// Rule 2, a restart undone: the sequence restarted on a run of the past that its length alone
// proved, nothing new has come under the new numbers since, and the datagram numbered s is the
// sequence left behind going on (a little past its newest number). A peer that renumbered sends
// nothing new under its old numbers: the run was stale, and the sequence goes on from s. What
// the run queued and did not play yet goes; what it played broke the frame open, which ends bad
// before s. Where it played nothing yet, nothing stray came between: the left sequence goes on
// right after its newest number, its packets left to drain joining s (without it a stale run that
// proved between the datagrams of the peer's final frame broke that frame, every packet of it in).
// The run's packets, gone unplayed, are remembered by their newest number: a peer that renumbered
// and whose last old datagram came late goes on right after them (restartAtRun).
bool leftSequenceGoesOn(const T38ZREORDER* rq, uint16_t s) {
  return rq->restartDoubted && static_cast<uint16_t>(s - rq->leftNewest - 1) < T38_RESYNC_STEP;
}

void goBackToLeftSequence(T38ZREORDER* rq, uint16_t s) {
  dropUnplayed(rq);
  rq->leftKnown = false;
  if (restartPlayedNothing(rq)) {
    const uint16_t runNewest = rq->newest;
    t38fReorderStart(rq, static_cast<uint16_t>(rq->leftNewest + 1));
    rq->undoneKnown = true;
    rq->undoneNewest = runNewest;
    return;
  }
  t38fReorderStart(rq, s);
  noteBreak(rq, s, s);
  noteStrayBefore(rq, s);
}

// Rule 2, where the run's new numbers began: a renumbering's first datagram carries the peer's
// old packets as its copies, under new numbers before its own, and those belong to the sequence
// before. Where the run interrupted a far run aside of two datagrams or more (a lone far datagram
// may be a stray one) that lay before those copies, within the window's reach behind them, the
// peer's new numbers began at that run at the latest: the copies are packets it sent under the
// new numbers (their own datagrams lost), and the sequence starts at the first of them.
// Without it a peer that renumbered before its page's end, whose datagrams after the end were
// then lost, had its DCN's preamble and first octets, carried only as copies, dropped, and the
// DCN played without them.
uint16_t runStartAfterRunAside(const T38ZREORDER* rq) {
  const T38ZRUN& aside = rq->runAside;
  uint16_t from = rq->run.from;
  if (aside.length < 2 || rq->run.joins || rq->run.from != rq->run.first) return from;
  for (uint8_t i = 0; i < rq->run.held; ++i) {
    const uint16_t seq = rq->run.packets[i].seq;
    const uint16_t beforeFirst = static_cast<uint16_t>(rq->run.first - seq);
    const uint16_t pastAside = static_cast<uint16_t>(seq - aside.last);
    if (beforeFirst == 0 || beforeFirst > T38_MAX_SECONDARIES_TAKEN || pastAside == 0 || pastAside > T38_WINDOW_AHEAD)
      continue;
    if (static_cast<int16_t>(seq - from) < 0) from = seq;
  }
  return from;
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
  const uint16_t from = runStartAfterRunAside(rq);
  const bool past = rq->run.past;
  // right after the numbers of a restart undone unplayed: the peer did renumber, and the packets
  // its first run brought are lost to the frame across them, whatever the copies join (fill
  // repeats its packets); without it the frame played those packets short and closed good
  const bool afterUndone = rq->undoneKnown && withinResyncStep(from, rq->undoneNewest);
  rq->undoneKnown = false;
  t38fReorderStart(rq, from);
  if (!joins || brokenBefore || afterUndone) noteBreak(rq, from, from);
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
      markDisputed(rq, kept.seq, t38fIFPdigest(rq->run.octets + kept.at, kept.len));
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
bool repeatsPlayedDigest(const T38ZREORDER* rq, uint16_t digest, bool sequencesBefore) {
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

}  // namespace t38rx
