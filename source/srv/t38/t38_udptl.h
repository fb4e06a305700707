// T.38 IFP packets and UDPTL datagrams (secondary-IFP redundancy, aligned PER), with the
// receive-side reorder queue.
#pragma once

#include <cstddef>
#include <cstdint>

#include "t38_dg.h"
#include "qrn/qrn.h"

// IFP data-field types.
enum IFP_FIELD_TYPE : int16_t {
  NO_DFS = -1,
  HDLC_DATA = 0,
  HDLC_SIG_END = 1,
  HDLC_FCS_OK = 2,
  HDLC_FCS_BAD = 3,
  HDLC_FCS_OK_SIG_END = 4,
  HDLC_FCS_BAD_SIG_END = 5,
  T4_NON_ECM = 6,
  T4_NON_ECM_SIG_END = 7,
};

// The longest IFP packet this side sends: its length takes one octet.
constexpr int T38_MAX_IFP = 127;
// The largest datagram that reaches the T.38 service (the framework's extended data: the socket
// reads up to 2,048 octets, but a longer datagram gets no block on its way in), and the longest
// IFP packet the receiver carries: what that datagram holds besides its number, the packet's
// two-octet length and the copies' kind and count (none). A peer may cut its data into packets of
// any length its datagrams hold.
constexpr int T38_MAX_DATAGRAM = int(QRN_EXT_DATA_MAX);
constexpr int T38_MAX_RX_IFP = T38_MAX_DATAGRAM - 6;
static_assert(dg_blocksFor(2 + (T38_MAX_RX_IFP + 1) / 2, DG_BLOCK_BYTES / 2 - 1) <= DG_MAX_BLOCKS,
              "a receive record of the longest packet fits the blocks a record may chain");

// Walks an IFP packet without acting on it; returns the octets it takes, or -1 when it is not a
// well-formed packet inside `len` octets.
int t38fIFPcheck(const uint8_t* ifp, int len);

// An IFP packet the fax relay can take carries at most this many fields: what it hands on stays
// a few packets, never enough to drain the relay's pool.
constexpr int T38_MAX_PLAYABLE_FIELDS = 16;
// Whether a well-formed IFP packet is one the fax relay can play: an indicator of the root form,
// or T.30 data of a root data type (V.21 to V.17 14400) with at most T38_MAX_PLAYABLE_FIELDS
// fields. Other types have no fax-relay code; playing them as some other code would forge a frame.
bool t38fIFPplayable(const uint8_t* ifp, int len);
// The same for a packet already walked whole (t38fIFPcheck gave its length): its type and field
// count only, so that a packet the datagram's walk took is not walked again.
bool t38fIFPwalkedPlayable(const uint8_t* ifp);

// Encodes one IFP packet: an indicator (`isData` false, type 0..15) or T.30 data of `type` with up
// to two fields; returns its length, or -1 when it would not fit `cap` or exceed 127 octets.
int t38fEncodeIFP(uint8_t* out, int cap, bool isData, int type, IFP_FIELD_TYPE field0, const uint8_t* data,
                  int dataLen, IFP_FIELD_TYPE field1);

// A PER length determinant (one octet, or two with 10xxxxxx first); 0xFFFF when malformed or when
// it reaches past `end`. Advances *pos.
uint16_t t38fGetLengthDeterminant(const uint8_t** pos, const uint8_t* end);

struct T38IFP {
  uint8_t len;
  uint8_t data[T38_MAX_IFP];
};

// Octets of a datagram with the primary of length L and min(wanted, historyLen) secondaries.
size_t getUDPTLpktSize(int L, int wanted, const T38IFP* history, int historyLen);

// The sending side: sequence numbers and the history of sent IFP packets, newest first. The
// history outlives bursts and changes of the redundancy count, so that the first datagrams of a
// burst still carry the last ones of the burst before.
constexpr int T38_MAX_REDUNDANCY = 8;
struct T38ZUDPTX {
  uint16_t ingressSequenceNum;
  uint16_t lastIngressSequenceNum;
  int historyLen;
  int lastSecondaries;  // secondaries the last datagram carried
  T38IFP history[T38_MAX_REDUNDANCY + 1];
};

void t38fUDPTXInit(T38ZUDPTX* tx);
// Builds the next datagram around `ifp` with up to `redundancy` secondaries; returns its size,
// 0 when `cap` is too small (nothing sent, nothing counted).
size_t t38fUDPBuild(T38ZUDPTX* tx, const uint8_t* ifp, int len, int redundancy, uint8_t* out, size_t cap);
// Builds the last datagram again; 0 when nothing has been sent since the history was emptied.
size_t t38fRepeatLast(const T38ZUDPTX* tx, uint8_t* out, size_t cap);

// The receiving side: the reorder queue (egressPktq, filled by enqueueIFP where isIFPmissing
// holds, played out after reorderDelay, at a gap after as long as datagrams came late behind the
// ones numbered after them, whether or not their numbers were given up: lateWait, lateBehind)
// and, beside it, the guard that keeps out what is not the peer's stream. The guard keeps one
// record per number it remembers, and never what the queue holds: a packet is compared with the
// queue's own octets, and one replaced or no longer trusted leaves the queue at once. Its rules,
// each with the fault it stops:
//  1. The window: numbers up to T38_WINDOW_AHEAD past the last one played are taken, others not;
//     a number already queued takes no second packet (isIFPmissing). Where the pool has no room,
//     the packet queued that plays last gives way to one that plays before it, if the datagram
//     that brought that one carries copies (the copies after it bring the one that gave way
//     again): the queue keeps what the playout needs first, however short the peer's packets
//     (without it the packet the playout waited for was refused behind a full queue, the stream's
//     newest number stalled and the peer's next frame stood alone, rule 3).
//  2. A new sequence: T38_RESYNC_RUN far datagrams in a row, each at most T38_RESYNC_STEP after
//     or before the one before (the network swaps datagrams), with nothing the stream takes
//     between them, start the sequence (a datagram of the window refused for contradicting the
//     stream counts as far: a peer whose numbers stepped back sends its new packets there) at the
//     lowest of them with what they carried, so that a peer that renumbers is followed (a number
//     the run's datagrams brought in two contents starts disputed, as in rule 4: nothing was there
//     to side with either; the run's first copies join it to the stream's newest packets with no
//     break only where they tell, and one copy of page data, which repeats its packets, does not;
//     a datagram of the sequence left a little past its newest number, come before the new
//     sequence plays, shows the copies equal to that packet by chance, the peer having sent more
//     under its old numbers: the new sequence's first packet plays across a break. Without it a
//     DIS whose octets went on across a renumbering, two equal octets straddling it, played one
//     octet short and closed good); where the copies of one refused inside the window show that
//     the stream's newest packets lie a few numbers before its own, the peer stepped back and sent
//     the numbers between first: the sequence starts there, with no break. Without copies, a step
//     back shorter than the run
//     proves itself by what follows: datagrams with new content under each of the stream's newest
//     numbers, two at least, then the datagram numbered next (the peer went on from them; the
//     network may bring it, and under jitter the few after it in any order, before the step's
//     last one, and they go with the new sequence then),
//     start the sequence at the first of them, across a break. One is enough where the stream's
//     newest packet is the V.21 preamble, it opens a V.21 frame (the address octet) under that
//     number, and the datagram numbered next goes on with V.21 data that opens none: a stray copy
//     of a frame's first packet comes before that frame's own first packet, not before its middle
//     (without it a peer that stepped back one at its final frame lost that frame's first octet,
//     and the frame played broken). With copies, the run's first datagram carrying the stream's
//     newest packets a few numbers on (the step shown) and a datagram after the run's newest
//     number carrying the run's own packets as its copies, none other, prove it so too, with no
//     break: a step back by one at redundancy one makes a run of two, and the datagram after it
//     lands on numbers the stream never had (the network may bring the datagrams after that one
//     first, as it may the run's own in any order, and they go with the new sequence then: without
//     it one of them ended the run short of its proof, and a final frame sent across the step lost
//     its first octet). A late copy of what was played, away from the run, neither
//     goes on with the run nor ends it, nor does a datagram far off whose number one high bit away
//     would go on with it, nor one in the window that stands alone (rule 3): held apart, it is not
//     the stream going on (without it a stray datagram far ahead, come between the datagrams of a
//     peer that stepped back two at its final frame, ended their run short of its proof, and the
//     frame played without its first packets). A run proves nothing by how its datagrams are
//     spread over ticks: its content decides. New content under
//     numbers played proves a new sequence; a run that carries what was played is late copies,
//     however late and however spread; a run that only brings packets played before, or queued
//     and not yet played (the peer sending the same frames again), is the past under other
//     numbers, however long, while it may be one burst: one of T38_RESYNC_RUN_UNSEEN datagrams
//     or more still coming T38_LATE_WAIT_MAX after its first, nothing of the stream between, is a
//     peer sending at its pace (the network brings nothing that much later than what came with
//     it), and its length decides as over numbers never played (without it a peer that renumbered
//     1,789 back in a page's blank rows was never followed); over numbers never played (lost,
//     passed, before the sequence began) only a run of T38_RESYNC_RUN_UNSEEN datagrams, longer
//     than a late burst, or one still coming T38_LATE_WAIT_MAX after its first (the peer at its
//     pace: without it a peer that renumbered at redundancy 0 right before its DCN was never
//     followed), with new content among its primaries does. So it is within T38_LATE_LIMIT of the newest
//     number, and for a run with copies (which show a renumbering) as far behind as the receiver
//     remembers (T38_REMEMBERED_BEHIND), where new content proves after T38_RESYNC_RUN; elsewhere
//     T38_RESYNC_RUN datagrams prove it whatever they bring, but for packets played under their
//     very numbers: those are late copies wherever they lie. What a sequence played stays known
//     across a restart (T38_PAST): seen from a peer's new numbers its old ones lie anywhere, and a
//     late burst under them, or a stale run of its old packets, is still the past. Without it a
//     queue flushing tens of seconds late restarts the sequence and its old signals play.
//     A run of the past behind the stream that its length alone proved (beyond the late limit,
//     where its content does not decide) may be a stale run as well as a peer that renumbered and
//     sent its frames again: until new content comes under the new numbers, a datagram a little
//     past the newest number of the sequence left (T38_RESYNC_STEP at most: that sequence going
//     on, which a peer that renumbered never does) undoes the restart: the sequence goes on from
//     it, what the run queued and did not play goes, and the frame open ends bad before it (the
//     run's, which the stream's packet does not go on with: without it a stale run's V.21 frame
//     left open took the final frame's first octets, and both ended bad). New content under the
//     new numbers lifts that doubt (a stale run brings again the packets the network lost the first
//     time, new to the stream), but a run that then proves a little past the newest number of the
//     sequence left is that sequence going on all the same: what the restart queued goes, and the
//     frame it played open ends bad before the run's first packet (without it the final frame's
//     octets joined a stale frame left open, and the far terminal waited for good). So it is after
//     any restart on a run behind the stream that nothing tied to it (it contradicted nothing, and
//     its copies were not the stream's newest packets), a run its content proved included: a
//     stale run's packet the network lost the first time proves it as new content would (without
//     it a stale run of the call's first datagrams, 2,276 back at redundancy 1, proved on such a
//     packet, and the final frame's octets joined the stale frame). Where the run
//     played nothing yet, nothing stray came between: the sequence goes on right after the newest number
//     it left, what it left to drain joining it (without it a stale run that proved between the
//     datagrams of the peer's final frame broke that frame, every packet of it in); a run that
//     proves right after the numbers such a restart's run brought shows the peer renumbered after
//     all, and the packets that went with the undo break the frame across them. A run ahead,
//     past the window, is as often the stream itself ahead of a playout that lags (page data
//     repeating its packets), and is not undone so. Without it a stale run of the call's first
//     packets 2,100 numbers behind took the stream over, and the peer's final frame, under its own
//     next numbers, lay far off and never played. Far datagrams of two runs interleaved each go on
//     with their own run, and neither ends the other (a datagram the stream takes still ends
//     both). Without it a stale run the network brought while the peer renumbered kept both from
//     proving.
//     The run's first datagram may come after the run proved: until the new sequence plays its
//     first packet, a datagram a little before it (T38_RESYNC_STEP at most before the run's
//     first), under a number no sequence played, starts the sequence there instead (not after a
//     run of the past, whose numbers prove nothing), the break moving with it. Without it a
//     frame a peer sent right after renumbering, its first datagram swapped behind the next
//     three, played without its first packet and the far terminal waited for good.
//     The copies a run's first datagram carries under numbers before its own are, for a peer that
//     renumbered right before it, its old packets: they belong to the sequence before. Where the
//     run interrupted a far run aside of two datagrams or more (one alone may be stray) that lay
//     before those copies, within the window's reach, the peer's new numbers began there at the
//     latest, and the copies are its packets under them: the sequence starts at the first of
//     them. Without it a DCN whose first datagrams were lost after a renumbering played without
//     its preamble and first octets, carried only as copies.
//     One datagram proves a renumbering where the stream fell silent after its V.21 preamble
//     (nothing left to play) and the first datagram of a run beyond T38_LATE_LIMIT, not one bit
//     from the stream's next numbers, carries a whole V.21 frame closed good, new content
//     contradicting nothing: it follows on from the preamble. So it does where the stream fell
//     silent after other packets and the datagram's copy right before the frame is the preamble,
//     its copies before that the packets the stream ended with: the sequence starts at the
//     preamble, with no break. So it does where the preamble came far off too, as the run's one
//     datagram before the frame's, under the number before it or, moved on the way, under the
//     frame's own (the frame takes that number: the preamble went before it).
//     Without it a peer that renumbered before its final frame at redundancy 0 (the frame and a
//     no-signal after it, two datagrams) was never followed, and the frame never played; so at
//     redundancy 3 where the preamble's own datagram was lost, and where it came and the no-signal
//     was lost.
//     One datagram proves it within T38_LATE_LIMIT too where the stream fell silent and the first
//     datagram of a run carries a disconnect whole, closed good, as its primary or as the copy
//     right before an indicator (the no-signal after it), under numbers where the stream played
//     other content, the disconnect never played before: the sequence starts at the disconnect,
//     across a break (its preamble lost). The peer sends nothing after its disconnect, and answers
//     or sends again any other frame, so that its run goes on. Without it a peer that stepped back
//     eight before its disconnect at redundancy 1, the preamble's datagram and the frame's lost,
//     was never followed, and the far terminal waited for good.
//  3. Standing alone: a packet more than T38_CLOSE_AHEAD past the newest number the stream vouches
//     for is held apart and does not play until the stream reaches it (T38_RESYNC_RUN such
//     datagrams in a row do), and the stream's own packet takes its place; at most T38_MAX_ALONE
//     are held (at the playout, while everything queued stands alone, they wait for the run that
//     may vouch for them), the one held longest giving way to a newer one once held longer than
//     the playout waits at a gap (T38_LATE_WAIT_MAX: its run would have come; held to the end,
//     the packets of a run that never came kept the peer's next frame out, while the first
//     packets of a run still coming keep their place); a run whose every datagram brings a
//     packet already played may be the
//     past renumbered, and vouches only when longer than a late burst (T38_RESYNC_RUN_UNSEEN: the
//     peer repeating its frames after an outage goes on), or when, with nothing of the stream
//     between, its copies reach back within T38_CLOSE_AHEAD of the stream (the peer went on from
//     there, its first datagrams lost). Once the stream came between far datagrams, a run needs
//     twice T38_RESYNC_RUN (they were not where it went on), until a run vouches or one starts with
//     all the stream vouched for played: nothing of the stream is left then to weigh the run
//     against (without it a DCN far past a stream stalled mid-training came too late to be taken
//     and the line's terminal waited to the limit). Without it an old datagram renumbered ahead
//     plays and moves the playout past the stream's own packets. Nor does a packet close ahead that
//     the playout jumped a gap of more than one number to, when it repeats a packet played before (a copy the network
//     misnumbered looks so, and so do the peer's repeated frames and fill), nor the few played in
//     order after it (a stale run renumbered ahead, shorter than one that vouches by its length):
//     if the stream's own next packet comes right behind the playout before anything past them
//     (or the one after it, where the packet jumped to lies one bit of its number from the one
//     behind the playout: it may be that number's own, moved on the way, and waiting for it the
//     stream's next frames fell behind the playout; or there the datagram of the number jumped to
//     itself, other content than the packet jumped to: that number's own came, and waiting on,
//     it and the next datagram's copy of it were refused for contradicting the stray packet, and
//     the frame across that number lost it),
//     the playout goes back to it, the numbers jumped to take their own packets in their turn, and
//     the frame across the stray ones ends bad (unless that next packet is the one jumped to: its
//     copy came early). Without it the stream's next packets were dropped as late and its frame
//     never played. A break pending then goes: noted while the stray numbers were the newest, it
//     reached them, and broke every frame of the stream up to them. The rest of the datagram
//     jumped to, still held (the playout keeps a packet that closes a frame good for the datagram
//     after it), is no packet of the stream's past them: it is as stray, and leaves the queue with
//     the jump. Without it the held packet, a copy of one the stream's copies already contradicted,
//     played after the undo was refused, and its frame closed good.
//  4. Majority: other content under a queued number never wins over a packet more datagrams
//     brought; against one brought once it replaces it when its datagram agrees with the stream in
//     packets of more datagrams than it contradicts, else the number is disputed (however well either
//     datagram agreed with the stream: that shows its number, not its content; one that agrees with
//     nothing and contradicts packets of several datagrams is numbered wrong and disputes none): its
//     packet leaves the queue and the next copy fills it, or it plays as lost. A datagram refused for
//     contradicting the stream is remembered, and its duplicates bring nothing either. The network's
//     duplicate of a datagram is no second word: it adds no vote to what it carries, and does not
//     bring back as its primary the packet disputed under its number; one whose copy under a number
//     disputed is other than the packet that left there is no duplicate (the peer's own datagram,
//     the one before it altered on the way) and brings it back. Without it a datagram whose altered
//     duplicate came first lost its primary, the vote never settled. The other packets the
//     disputed packet's datagram brought leave with it (a datagram wrong in one packet may be
//     wrong in all), but not one before the disputed number that another datagram brought as
//     well: that one's word backs it (one after it leaves: kept, it would carry the playout across
//     the disputed number before the copy that settles it comes). Without it a final frame's
//     address octet, come first as the copy the control octet's datagram carried, left with the
//     control octet when the network's duplicate of the next datagram, altered, disputed it,
//     though its own datagram had brought it too: no later copy carried it, and the frame played
//     without it. A datagram that contradicts
//     the stream as much as it agrees brings nothing, and packets equal to the ones beside them
//     (fill, the spaces of an identity) count for no agreement. Without it a misnumbered datagram's
//     packets play inside the stream's frames, and a packet altered on the way outvotes its copy.
//     One against one is no vote where the stream's order rules one out: a packet that ends the
//     V.21 signal (an indicator other than the V.21 preamble, or V.21 data that ends the signal)
//     against V.21 data that goes on, where the datagram at hand brings V.21 data under the next
//     number too (a peer sends V.21 data only after its preamble, never straight after another
//     indicator or the signal's end): the data plays there, contested, whichever of the two
//     datagrams brought it (one whose copy is the packet ruled out is taken short of that copy).
//     Without it a V.21 packet retyped into a no-signal on the way disputed the copy that had it
//     right, and a final frame's first octet played as lost; so did a copy whose field was
//     retyped into the signal's end, and a primary retyped so. So it is for a packet that closes a
//     V.21 frame (an FCS field, good or bad) against V.21 data that goes on, where the datagram
//     brings under the next number V.21 data that opens no frame (a frame opens with its address
//     octet, and what follows a frame's close opens the next one). Without it a copy of a final
//     frame's address octet retyped into a bad FCS disputed the packet that had it right, and the
//     frame played without it. So it is for V.21 data right after the V.21 preamble against the
//     copies of the datagram that restarted the sequence on a run (rule 2), where the run brought
//     both: the signal's first data opens a frame with its address octet, and data that opens none
//     is ruled out. Without it a final DCN sent across a step back, its address octet's copy
//     altered in the datagram that proved the step, lost that octet, and the line's terminal
//     waited for good. (Elsewhere a frame's first octet rules nothing out: the datagram taken short
//     of its altered copy brings its primary, which may be the network's duplicate of one the peer
//     sent again under another number.)
//     A number disputed keeps, for a while, the packet queued there first and the one that
//     disputed it: where other content refilled it, a later datagram (not the network's duplicate
//     of the one that brought it) that brings either again is its second datagram and outvotes
//     the one-datagram refill. Without it a copy altered on the way, then other content, took
//     turns disputing the number, and the two datagrams that agreed on it lost it; so too where
//     the packet queued first was the one altered (a final DCN's address octet altered in its own
//     datagram and in the second copy, right in the first and third: the DCN never played it).
//     Where nothing refilled it, either brought again so has two words too: one later copy that
//     says otherwise is outvoted, no new dispute. Without it a final DCN's address octet, its
//     first copy retyped and its third altered, was disputed twice though its own datagram and
//     the second copy had brought it, and the DCN played without it.
//     Whichever content plays, a number other content came under (disputed, outvoted, brought in a
//     form no relay code plays, or reused by a refused datagram whose copies are the stream's
//     packets a few numbers on) plays contested: the peer may have sent both, its numbering stepped
//     back, and the relay ends an ECM frame across it bad, and a V.21 frame other than its burst's
//     final one. Without it the frame played one packet short. The other content is kept for the
//     last few such numbers: where it is the packet of the number beside, the peer's counter
//     stepped by one there and its copies moved with it, and the relay ends the burst's final V.21
//     frame bad too (a disconnect aside). Without it a final frame across a step kept a copy of the
//     octet beside under the step's number and closed good.
//  5. One bit away: a datagram out of line with the stream may be one whose number lost a bit; the
//     missing numbers one bit from its own (suspect numbers) take other content only in their turn
//     or from a datagram that agrees with the stream. Without it a second misnumbered datagram
//     fills the hole the first left, and the frame around it is forged. A late datagram whose
//     number lost a bit, landing on a number nothing marked suspect (its own number's packet came
//     in its turn), is taken: nothing it carries tells it from the number's own late packet. One
//     that contradicts the stream and is wholly the stream's datagram of a number one bit away
//     (its primary an indicator or V.21 data, the packet known there, told apart from the ones
//     beside it, and every copy known as many numbers on: page data repeats its packets at every
//     distance and proves nothing so) brings nothing: it disputes nothing, breaks nothing and joins no
//     run. Where its copies agree with the stream under their own numbers, copies unknown that far
//     on prove nothing: one at least must be known there (without it the stream's own datagram,
//     its primary altered on the way, was taken for an old one, and the packet it contradicts,
//     played from a copy, closed its frame good). So they do where the one datagram that brought
//     the packets they agree with brought the one they contradict too: no vote, they still place
//     it (without it the datagram after a lone one that carried a frame's end altered, its
//     no-signal the packet one bit away under the call's first number, was taken for an old one,
//     and the altered end was never reported). Unless it may be a peer's after a step back,
//     which the same frames sent again also resemble: among the stream's last T38_CLOSE_AHEAD
//     numbers without copies or with copies that show the step, or beside a run of refused
//     datagrams. Without it a copy the network
//     misnumbered broke the final frame it came in. Taken so without copies, it breaks the frame
//     only past the newest number the stream holds: such a peer sent it after all the stream
//     holds, and the network's copy breaks nothing (without it a copy of a final DCN's first
//     packet, under a number played, broke the DCN queued whole after it).
//     (One ahead of the stream, contradicting
//     nothing, is taken as before: under reordering, a peer's packets equal to those a power of
//     two before, page data and repeated frames, arrive there often. But one close ahead whose
//     number's packet one bit away is still queued, its copies too the stream's as many numbers
//     on, one at least known there, and no step forward shown, stands alone as one far ahead
//     does: a frame sent again comes after the one it repeats played. Taken, it carried the
//     playout across the numbers between, and the stream's own final frame, its last datagram
//     late, ended bad on the copy's packets.) Nor
//     does such a datagram, refused where a peer that stepped back would reuse it, go beside a
//     later refused datagram that shows no step itself (rule 6): without it the network's altered
//     duplicate of the stream's next datagram, refused for its one copy, was taken with it for a
//     step back, and the break ended a final DCN bad, every packet of it in. The other way round, the
//     copy first: a datagram that contradicts one queued packet alone, which came as the primary
//     of its own datagram, and carries that very packet under a number one bit away where the
//     stream holds nothing, shows that datagram misnumbered: its packets leave the queue and this
//     one is taken whole (without it the two disputed the number, and the one copy this one
//     carried of the number before was lost); and the datagram refused last, when it was this one
//     under a number one bit away, is no refused datagram beside which another shows a step back
//     (rule 6; without it the two breaks a copy and an altered duplicate made broke the frame).
//     So it is for a datagram taken by a step forward (rule 6: it skipped numbers, its copies the
//     stream's packets as many numbers before) whose copies place it one bit from the number it
//     came under: a later datagram that brings its primary under the number they place it at,
//     where the stream holds nothing, shows it the stream's next datagram, its number moved on the
//     way, and its packet leaves the number it came to (not where the stream's packet as many
//     numbers before is that packet too: a short frame sent again and again, its datagrams
//     swapped on the way, looks so). Without it the stream's next datagram, its number a bit on,
//     played its page packet twice, the second time in place of the packet of the number it came
//     to, and the ECM frame across them closed good.
//  6. Breaks: every discontinuity the receiver lets through (a new sequence, a number given up,
//     a datagram refused for contradicting what it holds or played: a peer whose numbers stepped
//     back, its new packets refused under the old numbers) is reported with the packets played
//     across it, each of them, up to the number after the newest the stream holds (where a
//     stepped-back peer's lost packets belong), and the relay ends the frame open there bad: a
//     frame's octets never join across it. A number disputed and never settled when the sequence
//     restarts breaks the new sequence's first packet too (its packet is gone from what drains).
//     A refused datagram with copies breaks nothing alone (a stray copy whose number lost a bit
//     comes so, its packet still to come under its own number), unless it brings nothing the
//     stream holds (its primary neither the packet under its number nor the stream's a few
//     numbers on: else it is a stray copy or the stream's own, a version of it altered or repeated
//     under another number come first) and its copies, read as the packets right after the
//     stream's newest, fall wholly on numbers the stream never got: a peer that stepped back, its
//     datagrams before and after the step lost around it. Without it a V.21 frame's first octets,
//     before a step back by four at redundancy one, joined the octets after the step into a frame
//     closed good. Two refused close together are a peer that stepped back, but not where a
//     datagram taken between them showed the first the network's copy under a number one bit
//     away (it carried, as its primary or a copy, that one's primary under the number one bit from
//     it): the second, with copies, breaks nothing alone then. Without it the
//     network's lone copy of a final frame's preamble, moved four back, and then the frame's
//     datagram refused for one copy altered on the way, were taken for a peer that stepped back,
//     and the frame played broken. Nor the stream's own datagram with a copy altered on the way
//     (the network's duplicate of it): its primary the packet the stream holds under its number,
//     or brought there again by a datagram the stream takes. A peer that stepped back sends new
//     packets under the numbers it reuses. Without it two such duplicates four numbers apart broke
//     the final DCN between them, every packet of it in.
//  A step forward is no discontinuity when the copies show it: a datagram that skips numbers and
//     carries as its copies, under the skipped numbers, the stream's newest packets (the peer's
//     counter moved, nothing of it was lost) brings its primary alone, and once a later datagram
//     carries the same the skipped numbers hold nothing of the peer: they take no copy and the
//     frame goes on across them; a copy under a skipped number that the step does not explain
//     shows there was none. Without it a peer's final DCN with a counter skip never plays. Its
//     copies may show a step shorter than the numbers it skipped, the first of them the stream's
//     next packets, still on their way (the network swaps datagrams): the step lies after those,
//     and their own datagrams fill the numbers before it, as do the stepping datagram's copies of
//     them, each the step's size before the number it came under (every copy that datagram
//     carries was sent before the step: without it, the datagram after a counter skip inside a
//     final DCN lost, the DCN never played its control octet); a datagram's copy from the step
//     on that is the stream's packet the step's size before its number is the peer's older
//     packet, and takes or disputes nothing there, nor counts against its datagram in the vote
//     (rule 4).
//     Without it the first of them, come after the step, was disputed by the next datagram's copy
//     under its number, and the DCN played without its address octet; and the network's duplicate
//     of the step's datagram, with the datagram after it, were refused for copies the step
//     explains, and their break ended the DCN bad, every packet of it in.
//     A step as long as the copies reach, or longer, lands none of them on a number the stream
//     holds, where one could contradict it: where they end with the stream's newest packet under
//     the number right before the step (nothing lost between: else only they bring what the peer
//     sent there), two copies told apart from their neighbours, indicators or V.21 data (page data
//     repeats its packets at every distance), show it alone. No later datagram reaches back to the
//     step's first number, so that word is the whole of it: the numbers stepped over take no copy
//     and the frame plays on across them, unless the datagram lies one bit from the stream's next
//     number (rule 5), where the playout crosses them as lost. Without it the network's duplicate
//     of a datagram that stepped 8 between a DCN's preamble and its first octet brought, under the
//     numbers stepped over, the frame end, no-signal and preamble before it; they played again,
//     the relay sent a bad final frame, and the DCN's octets queued behind it were lost.
//     The stepping datagram's copies under the numbers it stepped over, taken nowhere, are still
//     its word there, shown step or not: the peer's older packets, or its own where the datagrams
//     between were lost. A datagram numbered before the step's, come after it, that brings other
//     content under one of those numbers stands one against one: the number is disputed and plays
//     as lost unless a later copy settles it (one from the step's number on brings its own word
//     and is taken as before; a stepping datagram that stands alone, or that a later one shows
//     misnumbered, bringing its primary where its copies place it, is no word there). Without it the
//     network's copy of the datagram after a step of 8, moved two back onto the number before the
//     step, filled it and the one before with a final frame's first two octets, and the frame
//     played with them twice, closed good.
//  7. Handed on, then contradicted: a datagram with a new packet of its own that, as in rule 4,
//     may dispute a number, and whose copy contradicts a packet already handed on that one
//     datagram brought (more outvote the copy), reports that number (playedContradicted): the
//     frame it went into, while still playing, ends bad. Without it a packet altered on the way
//     plays its frame good when the copy that contradicts it comes a datagram later. A datagram in
//     line that brings the packet again after it played counts among the more (the network's
//     duplicate of one that brought it does not): without it one altered copy outvoted a DCN's
//     address octet that three datagrams had brought, and the DCN ended bad. So too a late
//     datagram whose own number was played from a copy, when it agrees with the stream as much as
//     it contradicts it (it is the stream's own, late; its primary equal to the packet played
//     under its number agrees, though it equals the packets beside it: without it a late copy
//     showing an ECM frame's packet cut short on the way was taken for a stray one, the primary
//     page data like its neighbours, and the frame closed good).
//     A second datagram, under another number, that brings the same other content there and
//     contradicts nothing else outvotes the packet handed on (as in rule 4, two words against
//     one): it reports the number with the packet the copies say (playedOutvoted), for the owner
//     to mend the frame with, and notes no break (rule 6) with the datagram refused before it: read
//     as a packet altered on the way or as a peer that stepped back and sent its frame again, the
//     copies say what the peer sent there last. Without it a final frame whose first octet came
//     altered in a lone early datagram, its rest after a delay spike, never played right.
//  A packet longer than the largest datagram holds (T38_MAX_RX_IFP) is dropped alone and counted:
//  its number stays missing, so its frame ends bad, and the datagrams that carry it are otherwise
//  taken as usual.
constexpr uint16_t T38_WINDOW_AHEAD = 500;
constexpr uint8_t T38_RESYNC_RUN = 3;     // far datagrams in a row that prove a new sequence
constexpr uint16_t T38_RESYNC_STEP = 16;  // how far ahead of the last one the next of a run may be
constexpr uint16_t T38_LATE_LIMIT = 2000;  // how far behind a run needs more than its length (rule 2)
constexpr uint8_t T38_RESYNC_RUN_UNSEEN = 8;  // far datagrams in a row over numbers never played (rule 2)
// Packets a run's datagrams carried, kept until it proves a new sequence: the primaries of the
// longest run before its last datagram, and as many copies.
constexpr uint8_t T38_RUN_KEPT = 2 * (T38_RESYNC_RUN_UNSEEN - 1);
constexpr uint16_t T38_CLOSE_AHEAD = 16;
constexpr uint8_t T38_MAX_ALONE = 8;
constexpr uint8_t T38_REFUSED_KEPT = 4;  // datagrams refused for contradicting the stream, remembered (rule 4)
constexpr uint8_t T38_DISPUTED_KEPT = 4;  // numbers disputed, with the content that left first (rule 4)
constexpr uint8_t T38_CONTESTED_KEPT = 4;  // numbers contested, with the other content (rule 4)
// The last numbers played whose datagrams are remembered (rule 7): a copy reaches back no further
// than the deepest redundancy, and the network brings it a little later.
constexpr uint8_t T38_PLAYED_WORDS_KEPT = 16;
// The most secondaries taken from one datagram: it cannot take more of the pool than the deepest
// redundancy a peer sends needs.
constexpr int T38_MAX_SECONDARIES_TAKEN = 8;
// Blocks of the service's pool the receiver leaves free: the line's own packets going out (a
// datagram a tick) draw on the same pool, and a peer's burst of small packets would otherwise take
// every block and the line's frame would lose octets and its end on the way out.
constexpr int T38_POOL_KEPT_FOR_SENDING = 4;

// The numbers remembered: every number up to T38_LATE_LIMIT behind the newest one and the window
// ahead, without two numbers of that span sharing a slot.
constexpr uint16_t T38_NUMBER_SLOTS = 4096;
static_assert(T38_LATE_LIMIT + T38_WINDOW_AHEAD < T38_NUMBER_SLOTS, "the past a late run may reach and the window fit the slots");
// How far behind the newest number the receiver still knows whether it played a number (its slot
// shares no number with the window ahead): a run there is judged by its content (rule 2).
constexpr uint16_t T38_REMEMBERED_BEHIND = T38_NUMBER_SLOTS - T38_WINDOW_AHEAD - 1;

enum T38_NUMBER_STATE : uint8_t {
  T38_UNKNOWN = 0,  // nothing known: never seen, or passed without a packet
  T38_QUEUED,       // the queue holds its packet, in line with the stream
  T38_ALONE,        // the queue holds its packet, far ahead of the stream and not yet vouched for
  T38_DISPUTED,     // datagrams disagreed on its packet: none is queued (rule 4)
  T38_PLAYED,       // behind the playout: `digest` is what was played
  T38_SUSPECT,      // missing, and a datagram out of line may have been its own (rule 5)
  T38_PAST,         // played by a sequence before the last restart: `digest` is what was played;
                    // the stream's rules see it as unknown, rule 2 as the past (stateOf hides it)
};

// What the guard knows of one number: a 16-bit word of content and one of origin, whose meaning
// goes with the state (read them through the accessors in t38_udptl_rx_int.h, which name it):
//   T38_QUEUED, T38_ALONE: `origin` is the datagram the packet came in, as counted in `datagrams`,
//   and bit k of `content` is set once the datagram numbered k after it brought it (a duplicate of
//   one of them adds no vote);
//   T38_PLAYED, T38_PAST: `content` is the digest of the packet played;
//   T38_DISPUTED: `content` is the digest of the packet that left the queue;
//   T38_SUSPECT: `content` is the digest of what a misnumbered datagram brought there, `origin`
//   the digest of what was held under that datagram's number before.
struct T38ZNUMBERS {
  uint16_t seq[T38_NUMBER_SLOTS];
  uint16_t content[T38_NUMBER_SLOTS];
  uint16_t origin[T38_NUMBER_SLOTS];
  uint8_t state[T38_NUMBER_SLOTS];
  // T38_QUEUED, T38_ALONE: the datagrams that brought the packet queued, up to 15, each number
  // once, and in the top bit whether other content came under the number too (rule 4: it plays
  // contested)
  uint8_t votes[T38_NUMBER_SLOTS];
};

// A 16-bit digest of an IFP packet's octets.
uint16_t t38fIFPdigest(const uint8_t* ifp, int len);

// A packet a far datagram carried, kept while its run has not proved a new sequence yet (rule 2):
// the packets of a renumbering's first datagrams are played, not lost, once it proves itself.
// Its octets lie in the run's shared store (its `octets`, from `at`), so that a few long packets
// take the room many short ones would.
struct T38ZRUNPACKET {
  uint16_t seq;
  uint16_t len;
  uint16_t at;
  bool disputed;  // another datagram of the run brought other content under seq
};
// The run's store: room for the packets of T38_RUN_KEPT datagrams of packets this side would send,
// and for one datagram of the longest; a packet that no longer fits is not kept (it plays as lost
// if the run proves a new sequence).
constexpr int T38_RUN_OCTETS = 2048;
static_assert(T38_RUN_KEPT * T38_MAX_IFP <= T38_RUN_OCTETS, "the run keeps as many short packets as before");
static_assert(T38_MAX_DATAGRAM <= T38_RUN_OCTETS, "the run keeps one datagram of the longest packet");

// A run of far datagrams (rule 2): what it spans, what its datagrams showed, and the packets they
// carried.
struct T38ZRUN {
  uint8_t length;  // far datagrams in a row
  uint16_t first, last;
  uint16_t since;    // the receiver's time when the run's first datagram came (ms)
  bool contradicts;  // a datagram of the run contradicted what was played
  bool repeats;      // a datagram of the run carried what was played under its number
  bool past;         // every datagram of the run carried as its primary a packet played before
  bool joins;        // the run's first datagram carries as copies the packets the stream ended with
  uint16_t from;     // where the new sequence starts: `first`, or before it where a step back's copies join
  bool copies;       // a datagram of the run carries copies
  bool wentOn;       // the stream's next datagrams, from wentOnSeq on, came while the run was open
  uint16_t wentOnSeq;
  uint8_t held;      // packets of the run kept in `packets`, to play if the run proves a new sequence
  T38ZRUNPACKET packets[T38_RUN_KEPT];
  uint16_t octetsUsed;
  uint8_t octets[T38_RUN_OCTETS];
};

struct T38ZREORDER {
  QMQUEUE egressPktq;
  QMQUEUE drainq;  // what the sequence before a new one left, played before egressPktq
  MEM_BufPool* heapId;
  uint16_t time;
  uint16_t lastoutTimeStamp;  // 0xFFFF at enable
  uint16_t drainLastout;      // the last number played of the sequence in drainq
  bool drainBreakPending;     // its packets from drainBreakFrom on cross a discontinuity (rule 6)
  uint16_t drainBreakFrom;
  uint16_t lastTimeStamp;
  bool isReorderQInitialized;
  // the run of far datagrams open (rule 2), and the one it interrupted: a stale run the network
  // brings while a peer renumbers interleaves with the new numbers, and each goes on as its own
  T38ZRUN run, runAside;
  // the sequence restarted on a run of the past that its length alone proved, and nothing new
  // came under the new numbers since: the sequence left, whose newest number was leftNewest, may
  // go on (rule 2); leftKnown while that sequence is the one the last restart left on a run behind
  // the stream that nothing tied to it (no contradiction, no copies joining the stream), whatever
  // content proved that run or came since
  bool restartDoubted;
  bool leftKnown;
  uint16_t leftNewest;
  // a restart undone before the new sequence played anything: its run's packets, up to
  // undoneNewest, went unplayed; a run that proves right after them shows they were the peer's
  bool undoneKnown;
  uint16_t undoneNewest;
  // the sequence last restarted on a run, at restartFrom across a break: until its first packet
  // plays, the run's own first datagram, come late under a number a little before, may still
  // start it there (rule 2)
  bool restartOpen;
  uint16_t restartFrom, restartRunFirst;  // where it starts now, and where the run started it
  // the sequence last restarted on a far run whose copies joined it, with no break, to the newest
  // number of the sequence left (joinedLeft), at joinedFrom: until its first packet plays, a
  // datagram of the sequence left a little past that number disproves the join (rule 2)
  bool joinedKnown;
  uint16_t joinedLeft, joinedFrom;
  uint16_t newest;      // the newest number the stream vouches for
  uint8_t aloneHeld;    // packets held alone (rule 3)
  uint8_t aloneRun;     // far datagrams in a row in the window, the last numbered aloneLast
  uint16_t aloneFirst, aloneLast;
  bool aloneRepeats;    // every datagram of that run brought a packet the stream played already (rule 3)
  bool aloneInterrupted;  // the stream came between far datagrams since a run last vouched or began with all vouched played (rule 3)
  uint16_t datagrams;   // datagrams parsed
  uint16_t refusedSeq[T38_REFUSED_KEPT], refusedDigest[T38_REFUSED_KEPT];  // the last datagrams refused (rule 4)
  uint8_t refusedNext;
  // the last numbers disputed, each with the packet queued there before its first dispute and the
  // datagram that first brought it, and the packet that disputed it with its datagram: another
  // datagram that brings either again is its second word, against another content refilled there
  // (rule 4)
  uint16_t disputedSeq[T38_DISPUTED_KEPT], disputedFirst[T38_DISPUTED_KEPT], disputedCarrier[T38_DISPUTED_KEPT];
  uint16_t disputedBy[T38_DISPUTED_KEPT], disputedByCarrier[T38_DISPUTED_KEPT];
  uint8_t disputedNext;
  // the last numbers other content came under beside the packet queued there, with that content's
  // digest: where it is the packet of the number beside, the peer's numbering may have stepped
  uint16_t contestedSeq[T38_CONTESTED_KEPT], contestedOther[T38_CONTESTED_KEPT];
  uint8_t contestedNext;
  bool contradicted;    // a datagram was refused for contradicting the stream: the last one
  uint16_t lastContradicting, lastContradictingAt;  // its number, and `datagrams` then
  uint16_t lastContradictingDigest;                 // and its primary's digest
  bool lastContradictingOwnElsewhere;               // and it was wholly the stream's datagram one bit away (rule 5)
  bool breakPending;    // packets played from breakFrom to breakTo cross a discontinuity (rule 6)
  uint16_t breakFrom, breakTo;
  bool strayBefore;     // what played before strayEnd was a run or a jump the stream undid
  uint16_t strayEnd;
  // a packet already handed on was contradicted since the owner last read this (rule 7): the newest
  // such number; the owner clears it
  bool playedContradicted;
  uint16_t playedContradictedSeq;
  // the last packet handed on that a datagram in line contradicted, with that datagram's word
  // there (its digest) and number: a second datagram saying the same outvotes it (rule 7)
  bool overruledKnown;
  uint16_t overruledSeq, overruledDigest, overruledBy;
  // the datagrams that brought each of the last numbers played (bit k: the one numbered k after
  // it; none for an empty entry): one that brings the packet again after it played is another word
  // for it (rule 7), the network's duplicate of one of them none
  uint16_t playedWordsSeq[T38_PLAYED_WORDS_KEPT], playedWordsBy[T38_PLAYED_WORDS_KEPT];
  uint8_t playedWordsNext;
  // a packet handed on was outvoted since the owner last read this: its number, the packet the
  // copies say, and the datagram (as counted in `datagrams`) that settled it; the owner clears it
  bool playedOutvoted;
  uint16_t playedOutvotedSeq, playedOutvotedAt;
  uint8_t playedOutvotedLen;
  uint8_t playedOutvotedIfp[T38_MAX_IFP];
  // the peer's numbering stepped forward over stepFrom..stepTo, straight after the newest packet the
  // stream held (rule 6): the datagram numbered stepAt carried the stream's packets as its copies
  bool stepKnown;
  bool stepConfirmed;   // a later datagram carried the same: nothing was sent under those numbers
  uint16_t stepFrom, stepTo, stepAt, stepDigest;
  // the copies the last datagram that stepped forward carried under the numbers it stepped over,
  // newest first, which it did not take there (rule 6): whichever way it is read (the peer's
  // older packets, or its own under those numbers), other content brought there later has one
  // word against it. skippedCount 0: none. skippedOwn is where its copies place it, were it the
  // stream's next datagram with its number moved, and skippedPrimary its primary's digest
  uint16_t skippedAt, skippedOwn, skippedPrimary;
  uint8_t skippedCount;
  uint16_t skippedDigest[T38_MAX_SECONDARIES_TAKEN];
  // the last datagram taken by a step forward whose copies place it one bit from the number it came
  // under, movedAt: at movedOwn, the stream's next number then (rule 5); its primary's digest
  bool movedKnown;
  uint16_t movedAt, movedOwn, movedDigest;
  // the playout last jumped a gap from jumpFrom to a packet, numbered jumpTo (its digest
  // jumpDigest), that repeated one played before, and played at most T38_RESYNC_RUN_UNSEEN in
  // order from there (rule 3): the stream's own next packet coming before anything past them
  // (but the rest of the datagram jumped to, jumpSource as counted in `datagrams`) undoes it
  bool jumpKnown;
  uint16_t jumpFrom, jumpTo, jumpDigest, jumpSource;
  // how much longer than the reorder delay the playout waits at a gap (ms): a datagram that came
  // after its number was given up shows the network brings datagrams that much later than the ones
  // numbered after them. The last numbers given up (gaveUpFrom..gaveUpTo, at gaveUpAt, when the
  // wait was gaveUpWait) are what a late datagram is measured against.
  uint16_t lateWait;
  // the longest a packet came after the first of the queued ones numbered after it, its number
  // missing till then (ms, below T38_LATE_WAIT_MAX): the network's lateness where the playout,
  // held behind packets in line, gave nothing up. Past the reorder delay, the wait at a gap covers
  // it too: without it a stream under jitter that was never given up a gap lost its final frame's
  // first packets, come a tick after the first gap was
  uint16_t lateBehind;
  bool gaveUpKnown;
  uint16_t gaveUpFrom, gaveUpTo, gaveUpAt, gaveUpWait;
  T38ZNUMBERS numbers;
  uint16_t reorderCount;
  uint16_t failtoReorderCount;
  uint16_t invalidIFPCount;
  uint16_t bufferPoolDry;
};

void t38fReorderInit(T38ZREORDER* rq, MEM_BufPool* pool);
// Starts the sequence at number `first`: the last one played is the one before.
void t38fReorderStart(T38ZREORDER* rq, uint16_t first);
bool isIFPmissing(T38ZREORDER* rq, uint16_t s);
bool enqueueIFP(T38ZREORDER* rq, const uint8_t* ifp, int len, uint16_t s);
// Parses one received datagram into the reorder queue; false when it was malformed (counted).
bool t38fUDPEgress(T38ZREORDER* rq, const uint8_t* dg, size_t len);

// What the playout does with the queue's head packet numbered s.
enum T38_PLAYOUT : uint8_t {
  T38_PLAY,        // play it
  T38_PLAY_BROKEN, // play it, but the frame open across it is broken: numbers before it were lost,
                   // or a discontinuity lies at or before it
  T38_DROPPED,     // drop it unplayed, the playout staying where it is: the number was passed, or
                   // its packet stood alone to the end
  T38_PLAY_AFTER_STRAY,  // play it broken, and what played right before it was no packet of the
                         // stream's (a stale run or a stray jump, undone): the frame those opened
                         // ends there, and this packet does not join it
  T38_PLAY_CONTESTED,  // play it, though other content came under its number (rule 4): it may be
                       // the packet of a peer that stepped back, the other one lost
};
// Asks before the head of egressPktq (numbered s, its octets' digest `digest`) plays; for a packet
// that plays it moves lastoutTimeStamp to s and remembers what was played.
T38_PLAYOUT t38fReorderPlayout(T38ZREORDER* rq, uint16_t s, uint16_t digest);
// The longest the playout waits at a gap past the reorder delay, in ms: a datagram later than that
// after the ones numbered behind it is lost to the frame it belonged to, and the far terminal,
// which answers within 3 s, must not wait for the line much longer than the network's own delay.
constexpr uint16_t T38_LATE_WAIT_MAX = 800;
// What a late datagram adds past its own lateness: the next one may come a little later still.
constexpr uint16_t T38_LATE_WAIT_MARGIN = 40;
// How long the head numbered s waits past its arrival before the numbers missing before it are
// given up (`reorderDelay` where nothing came later than that so far).
uint16_t t38fReorderGapWait(const T38ZREORDER* rq, uint16_t s, uint16_t reorderDelay);

// Whether the head of egressPktq waits instead of playing: everything queued stands alone (rule
// 3), so nothing of the stream is kept waiting behind it, and the run that vouches for it may
// still come, however late (how its datagrams are spread over ticks changes no verdict).
bool t38fReorderHeadWaits(const T38ZREORDER* rq);
// The same for the head of drainq, numbered s: what the sequence left at a restart plays in its
// order, broken where numbers are missing or a discontinuity was let through before the restart.
T38_PLAYOUT t38fDrainPlayout(T38ZREORDER* rq, uint16_t s);
// Whether the packet numbered s, just played contested, may be one of a peer whose numbering
// stepped by one there: the other content that came under s is the packet of a number beside it.
bool t38fReorderContestedByNeighbour(const T38ZREORDER* rq, uint16_t s);
// Whether the queued packet numbered s follows, in the peer's own stream, the packet before it: a
// datagram that brought it carried that one too, as the stream holds or played it, and
// contradicted nothing; or, carrying no copies, was numbered right after a packet the stream held
// or played. A frame's octets that stalled on the way join across s only then.
bool t38fReorderFollows(const T38ZREORDER* rq, uint16_t s);
// The oldest datagram that brought the queued packet numbered s: s when its own primary did. A
// datagram after that one carries the packet again, or shows how it came.
uint16_t t38fReorderFirstCarrier(const T38ZREORDER* rq, uint16_t s);
