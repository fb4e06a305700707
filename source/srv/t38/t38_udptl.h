// T.38 IFP packets and UDPTL datagrams (secondary-IFP redundancy, aligned PER), with the
// receive-side reorder queue.
#pragma once

#include <cstddef>
#include <cstdint>

#include "t38_dg.h"

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

constexpr int T38_MAX_IFP = 127;

// Walks an IFP packet without acting on it; returns the octets it takes, or -1 when it is not a
// well-formed packet inside `len` octets (data fields of more than 86 octets included).
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

// The receiving side: the reorder queue and its sequence bookkeeping.
//
// The window takes numbers up to 500 ahead of the last one played. A peer that renumbers (after a
// re-INVITE or a failover) sends numbers far outside it; T38_RESYNC_RUN datagrams in a row, each
// a little ahead of the one before and with no datagram of the window between them, prove a new
// sequence: what was queued before is played first, in its own order, and the new numbers start
// at the first of the run. Numbers a little behind the window are late copies and prove nothing.
constexpr uint16_t T38_WINDOW_AHEAD = 500;
constexpr uint16_t T38_LATE_SPAN = 64;    // numbers this close behind the window are only late
constexpr uint8_t T38_RESYNC_RUN = 3;     // far datagrams in a row that prove a new sequence
constexpr uint16_t T38_RESYNC_STEP = 16;  // how far ahead of the last one the next of a run may be
// The most secondaries taken from one datagram: it cannot take more of the pool than the deepest
// redundancy a peer sends needs.
constexpr int T38_MAX_SECONDARIES_TAKEN = 8;

// What the receiver knows of the numbers around its position, by number: the packets it holds
// and those it played, each with a digest of its octets. It remembers T38_REMEMBER_BEHIND numbers
// behind the last one played: a datagram of those numbers whose packets are what it took under
// them is a late copy, however late, and only different content (or numbers it never passed) can
// prove that the peer started its numbers anew. Ahead it holds the window's packets with how far
// the stream vouches for them (below). The slots are enough for both without two numbers of
// either span sharing one.
constexpr uint16_t T38_SEEN_SLOTS = 2048;
constexpr uint16_t T38_REMEMBER_BEHIND = 1024;
static_assert(T38_REMEMBER_BEHIND + T38_WINDOW_AHEAD < T38_SEEN_SLOTS, "the past and the window ahead fit the slots");
// A packet this close ahead of the newest number the stream vouches for follows the stream; one
// further ahead stands alone until the stream moves on to it: T38_RESYNC_RUN far datagrams in a
// row, each a little after the one before (or a copy of it), with nothing in line with the stream
// between them. A packet that stands alone when its turn comes is not played and does not move
// the playout past the stream's own: a datagram far ahead of the stream may be an old one
// renumbered or one whose number lost a bit, and the stream's own packet under that number must
// not be dropped as a copy already held.
constexpr uint16_t T38_CLOSE_AHEAD = 16;
// Packets held alone at most: they may not take the pool from the stream.
constexpr uint8_t T38_MAX_ALONE = 8;

enum T38_STANDING : uint8_t {
  T38_UNSEEN = 0,
  T38_HELD,           // queued, in line with the stream
  T38_HELD_ALONE,     // queued, far ahead of the stream and not yet vouched for
  T38_HELD_DISPUTED,  // queued, but datagrams disagree on its content: it is not played
  T38_PLAYED,
  T38_SUSPECT,  // missing, and a datagram out of line with the stream may have been its own
};

struct T38ZSEEN {
  uint16_t seq[T38_SEEN_SLOTS];
  uint16_t digest[T38_SEEN_SLOTS];
  uint16_t source[T38_SEEN_SLOTS];  // the datagram it came in, as counted in `datagrams`
  uint8_t standing[T38_SEEN_SLOTS];
  bool backed[T38_SEEN_SLOTS];  // the datagram it came in agreed with the stream in other packets
  uint16_t otherDigest[T38_SEEN_SLOTS];  // of a suspect number: the other content it may have had
};

// A 16-bit digest of an IFP packet's octets.
uint16_t t38fIFPdigest(const uint8_t* ifp, int len);

struct T38ZREORDER {
  QMQUEUE egressPktq;
  QMQUEUE drainq;  // what the sequence before a resynchronisation left, played before egressPktq
  MEM_BufPool* heapId;
  uint16_t time;
  uint16_t lastoutTimeStamp;  // 0xFFFF at enable
  uint16_t drainLastout;      // the last number played of the sequence in drainq
  uint16_t lastTimeStamp;
  bool isReorderQInitialized;
  bool sequenceJoin;          // a new sequence began: what the old one lost at its end is unknown
  uint8_t runLength;          // far datagrams in a row
  uint16_t runFirst, runLast;
  uint16_t newest;      // the newest number the stream vouches for
  uint16_t passedSpan;  // numbers behind the last one played that this sequence passed (to T38_REMEMBER_BEHIND)
  uint8_t aloneHeld;    // packets held alone
  uint8_t aloneRun;     // far datagrams in a row in the window, the last numbered aloneLast
  uint16_t aloneFirst, aloneLast;
  uint16_t datagrams;   // datagrams parsed
  T38ZSEEN seen;
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

// What the playout does with the queue's head packet numbered s, whose octets have `digest`.
enum T38_PLAYOUT : uint8_t {
  T38_PLAY,     // play it
  T38_LOST,     // its number is lost: nothing the stream vouches for came under it
  T38_DROPPED,  // drop it unplayed, the playout staying where it is: another record of the same
                // number replaced it, the number was passed, or it stood alone to the end
};
// Asks before the head of egressPktq plays, and notes the number passed; the caller then moves
// lastoutTimeStamp to s unless the answer is T38_DROPPED.
T38_PLAYOUT t38fReorderPlayout(T38ZREORDER* rq, uint16_t s, uint16_t digest);
