// What the whole-call fax test needs to lose datagrams on purpose and to judge what the loss did:
// deterministic drops chosen by what a datagram carries, a walk over the IFP packets of a
// datagram, the frames each terminal sent and accepted, and the datagram numbers the far end saw.
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace faxcall {

// One field of an IFP packet: data type (0 V.21, 1.. high speed, -1 for an indicator), field
// type and data.
struct IfpField {
  int dataType;
  int fieldType;  // 0 HDLC data, 1 signal end, 2 FCS OK, 3 FCS bad, 4/5 the same with signal end, 6/7 T.4
  std::vector<uint8_t> data;
};

// The primary IFP packet of a UDPTL datagram, and its sequence number.
bool datagramPrimary(const std::vector<uint8_t>& dg, uint16_t* seq, std::vector<uint8_t>* ifp);
// The fields of an IFP packet in order (an indicator gives none); false when it is malformed.
bool ifpFields(const std::vector<uint8_t>& ifp, std::vector<IfpField>* fields);

// What a drop is keyed to.
enum class DropOn {
  kAny,          // every datagram
  kV21FrameFcf,  // a datagram carrying octets of a V.21 frame whose FCF (without its X bit) is `fcf`, from the FCF on
  kEcmData,      // a datagram carrying high-speed HDLC data
  kSignalEnd,    // a datagram whose primary ends a signal
  kV21Control,   // a datagram carrying the control octet of a V.21 frame: the frame arrives without it
  kEcmFrameEnd,  // a datagram whose primary closes a high-speed HDLC frame with a good FCS
  kV21Data,      // a datagram carrying octets of a V.21 frame
  kPageData,     // a datagram carrying page data, ECM or not
  kV21Preamble,  // a datagram whose primary is a V.21 preamble indicator: a burst of frames starts
  kTraining,     // a datagram whose primary is a training indicator: a page's (or the TCF's) modem starts
  kV21FrameMiddle,  // a datagram carrying octets of a V.21 frame after octets of it an earlier one carried
};
const char* dropOnName(DropOn on);

// From the `skip`-th datagram that matches (counted from 0), `burst` datagrams in a row are lost
// (whatever they carry).
struct Drop {
  DropOn on;
  int skip;
  int burst;
  uint8_t fcf = 0;
  int retype = -1;  // 0..15: the datagrams are not lost but their primary T.30 data gets this data type
  bool hideGap = false;  // the sender numbers on as if the lost datagrams were never sent
  bool toIndicator = false;  // not lost: the datagram arrives with a no-signal in place of its primary
  bool toSigEnd = false;     // not lost: the datagram arrives with a lone signal end of its data type as its primary
  // ---- a signal in the middle of a frame, and a late answer ----
  std::vector<uint8_t> replaceBy = {};  // not lost: the datagram arrives with this IFP in place of its primary
  bool hold = false;  // not lost: this datagram and all after it are held back until release()
};

// Applies a list of drops to one direction's datagrams in the order they are sent.
class DropPlan {
 public:
  explicit DropPlan(std::vector<Drop> drops) : drops_(std::move(drops)), matched_(drops_.size(), 0), left_(drops_.size(), 0) {}
  bool lose(const std::vector<uint8_t>& dg);
  // As lose, and retypes the datagrams a retyping drop matches.
  bool apply(std::vector<uint8_t>& dg);
  // Datagrams lost so far whose numbers the sender reuses.
  int hidden() const { return hidden_; }
  // Whether the datagram `lose` last looked at is to arrive with a no-signal as its primary.
  bool replaced() const { return replaced_; }
  // The IFP it is to arrive with in place of its primary (a no-signal unless a drop names one).
  const std::vector<uint8_t>& replacement() const { return replacement_; }
  // Whether the datagram `lose` last looked at is held back by a holding drop.
  bool held() const { return holding_; }
  // The datagrams held back go now, and the ones after them are no longer held.
  void release() { holding_ = false; }
  // Takes `dg`, the next datagram sent, as `apply` does but losing and changing nothing; `carries`
  // then tells what it carries, as a drop keyed to `on` sees it.
  void observe(const std::vector<uint8_t>& dg);
  bool carries(DropOn on, uint8_t fcf = 0) const { return matches(Drop{on, 0, 1, fcf}, fields_); }

 private:
  bool matches(const Drop& d, const std::vector<IfpField>& fields) const;
  std::vector<Drop> drops_;
  std::vector<int> matched_;
  std::vector<int> left_;
  std::vector<uint8_t> v21Frame_;  // octets of the V.21 frame being sent
  bool v21Open_ = false;
  int hidden_ = 0;
  bool replaced_ = false;
  std::vector<uint8_t> replacement_;
  bool holding_ = false;
  bool preamble_ = false;  // the datagram at hand is a V.21 preamble indicator
  bool training_ = false;  // the datagram at hand is a training indicator
  size_t v21Carried_ = 0;  // octets of the V.21 frame under way the datagram at hand carries
  std::vector<uint8_t> ifp_;  // the primary of the datagram at hand
  std::vector<IfpField> fields_;  // and its fields
};

// A peer that cuts its HDLC and page data into IFP packets of its own sizes: each packet carries
// between `minOctets` and `maxOctets` data octets (drawn from `seed`), cut at any octet and joined
// across the packets the terminal made; a frame's end goes with the octets before it, an indicator
// sends what waits first. maxOctets 0: the packets go as the terminal made them.
struct Rechunk {
  int minOctets = 0, maxOctets = 0;
  unsigned seed = 0;
};
class IfpRechunker {
 public:
  explicit IfpRechunker(Rechunk r) : r_(r), draw_(r.seed * 2654435761u + 7u) { next(); }
  // The packets to send in place of `ifp`, the next packet the terminal made.
  std::vector<std::vector<uint8_t>> cut(const std::vector<uint8_t>& ifp);

 private:
  void next() { target_ = size_t(r_.minOctets + (r_.maxOctets > r_.minOctets ? int(draw_() % unsigned(r_.maxOctets - r_.minOctets + 1)) : 0)); }
  void flush(std::vector<std::vector<uint8_t>>& out, const IfpField* end);
  Rechunk r_;
  std::mt19937 draw_;
  size_t target_ = 0;
  uint8_t t0_ = 0;
  int fieldType_ = 0;
  std::vector<uint8_t> waiting_;  // data octets not sent yet, of packets of type t0_
};

// The datagram with `ifp` in place of its primary, its secondaries kept.
std::vector<uint8_t> withPrimary(const std::vector<uint8_t>& dg, const std::vector<uint8_t>& ifp);
// The signal end of the data type of `ifp`, a T.30 data packet, alone: HDLC_SIG_END, or
// T4_NON_ECM_SIG_END where `ifp` carries non-ECM page data; `ifp` itself when it is no such packet.
std::vector<uint8_t> sigEndOf(const std::vector<uint8_t>& ifp);

// Datagrams of the past that a network or a broken peer delivers besides the stream.
struct Stale {
  int lateAt = -1;       // from the `lateAt`-th datagram (counted from 0) on, every `lateEvery` (0: once):
  int lateEvery = 0;
  int lateCount = 0;     // copies of this many datagrams in a row,
  int lateBehind = 0;    // sent this many datagrams before, arrive together before it
  int aheadAt = -1;      // from the `aheadAt`-th datagram on, every `aheadEvery` (0: once):
  int aheadEvery = 0;
  int aheadCount = 0;    // copies of this many datagrams in a row,
  int aheadFrom = 0;     // sent this many datagrams before,
  int aheadBy = 0;       // numbered this far ahead of the datagram they arrive before (negative: behind)
  int flipPercent = 0;   // this share of the datagrams arrive with one bit of their number flipped
};

void flipSequenceBit(std::vector<uint8_t>& dg, int bit);

class StaleInjector {
 public:
  explicit StaleInjector(Stale s) : s_(s) {}
  // The stale datagrams that arrive before `dg`, the next one sent; `dg` may lose a bit of its
  // number. `draw` gives uniform numbers.
  template <typename Rng>
  std::vector<std::vector<uint8_t>> before(std::vector<uint8_t>& dg, Rng& draw) {
    auto out = due();
    remember(dg);
    if (s_.flipPercent > 0 && int(draw() % 100) < s_.flipPercent) flipSequenceBit(dg, int(draw() % 16));
    return out;
  }

 private:
  std::vector<std::vector<uint8_t>> due();
  void remember(const std::vector<uint8_t>& dg);
  static bool at(int index, int first, int every) {
    return first >= 0 && index >= first && (index == first || (every > 0 && (index - first) % every == 0));
  }
  Stale s_;
  std::vector<std::vector<uint8_t>> sent_;  // every datagram sent so far, as sent
  int index_ = 0;
};


// The HDLC frames one terminal sent and accepted (the frame checker's view: good FCS only).
struct FrameLog {
  std::vector<std::vector<uint8_t>> sent, accepted;
  std::vector<long> acceptedAt = {};  // the call's frame (10 ms) in which each was accepted, read from `clock`
  std::vector<long> sentAt = {};      // the same for each frame sent
  const long* clock = nullptr;
};

// Accepted frames of `rx` that no frame `tx` sent explains. The gateway may rewrite capabilities
// (DIS, DTC) and blank non-standard facilities (NSF, NSS) but keeps their length and FCF, and it may
// make up a command repeat (CRP) of its own.
std::vector<std::string> forgedFrames(const FrameLog& tx, const FrameLog& rx);
// The frames of `rx` that forgedFrames names, as logged.
std::vector<std::vector<uint8_t>> forgedFrameOctets(const FrameLog& tx, const FrameLog& rx);
// A frame as the gateway passes it on (as logged): the facilities of an NSF or NSS zeroed, any
// other frame as it came.
std::vector<uint8_t> facilitiesBlanked(std::vector<uint8_t> frame);
// Whether `heard` is the DIS or DTC `frame` (both as logged) as the gateway passes it on: its
// capabilities rewritten where the gateway rewrites them (the V.8 bit and bit 25 cleared, the rate
// field lowered to the modems it allows), every other octet and bit as it came.
bool capabilitiesRewritten(const std::vector<uint8_t>& frame, const std::vector<uint8_t>& heard);

// Datagram numbers one direction sent, the numbers that arrived as primaries, and the numbers the
// receiver handed on (as primary or recovered from a secondary).
struct SeqLog {
  std::set<uint16_t> sent, arrived, delivered;
};
// Numbers that were lost although a datagram that arrived should have carried them as one of its
// `redundancy` secondaries.
std::vector<uint16_t> unrecoveredWithinRedundancy(const SeqLog& log, int redundancy);

// High-speed HDLC frames whose data was followed by a signal end or a new signal without any FCS
// status in the IFP packets `ifps` (in the order sent).
int unclosedHdlcFrames(const std::vector<std::vector<uint8_t>>& ifps);

// V.21 frames whose data was followed by an indicator, a signal end or data of another kind
// without any FCS status, in the IFP packets `ifps` (in the order sent): frames a new signal cut
// and nobody closed.
int unclosedV21Frames(const std::vector<std::vector<uint8_t>>& ifps);

std::string hex(const std::vector<uint8_t>& v);

// Whether the IFP packets `ifps` (in order) carry whole, closed with a good FCS, the V.21 frame a
// terminal logged as `logged` (its octets before the FCS).
bool carriesV21Frame(const std::vector<std::vector<uint8_t>>& ifps, const std::vector<uint8_t>& logged);

// Where the last V.21 frame lies among a terminal's packets (numbered, in the order sent): the
// indexes of its first and last packets with data, of the packet that closes it (its FCS: the last
// one with data, or an FCS-only packet after it; -1 when none does) and of the last packet with
// data of the frame before it (-1 when there is none).
struct V21FramePlace {
  int previous = -1, first = -1, last = -1, closing = -1;
};
V21FramePlace lastV21Frame(const std::vector<std::pair<uint16_t, std::vector<uint8_t>>>& packets);

// The IFP packets that reached one end of the network, from primaries and copies alike, each
// number once, in the order they first arrived.
struct PacketsArrived {
  std::set<uint16_t> seen;
  std::vector<std::vector<uint8_t>> ifps;
  std::map<uint16_t, std::map<std::vector<uint8_t>, int>> contents;  // the packets that came under each number, and how often
  // the same counted by the datagrams that brought them: the network's duplicate of a datagram (the
  // same octets again) is no second word for what it carries
  std::map<uint16_t, std::map<std::vector<uint8_t>, int>> words;
  std::set<std::vector<uint8_t>> datagrams;  // every datagram that came, once
  std::map<uint16_t, uint16_t> firstCarrier;  // the number of the datagram each number first came in
  // the call's frame (10 ms) in which each content first came under each number: `now` when taken
  std::map<uint16_t, std::map<std::vector<uint8_t>, long>> firstAt;
  long now = 0;
  void take(const std::vector<uint8_t>& datagram);
};

// A packet numbered as its sender numbered it.
using NumberedIfp = std::pair<uint16_t, std::vector<uint8_t>>;

// The first of the packets `packets[from..to]` that never arrived as sent under its own number,
// in a primary or in any copy (-1: every one did).
int firstPacketNotArrived(const PacketsArrived& at, const std::vector<NumberedIfp>& packets, int from, int to);

// Each number once, with its first primary, in the order the datagrams `datagrams` were sent.
std::vector<NumberedIfp> primariesOf(const std::vector<std::vector<uint8_t>>& datagrams);

// The first datagram of `datagrams` (in the order sent) that carries fewer copies than its
// redundancy asks, or other ones than the packets sent before it: `indicators` copies for
// indicators and V.21 data, `pageData` for high-speed data (-1: every one carries them).
int firstDatagramShortOfCopies(const std::vector<std::vector<uint8_t>>& datagrams, int indicators, int pageData);

// The HDLC frames the packets `ifps` (in order) close with a good FCS, their octets as IFP data
// carries them: V.21 frames, or high-speed (ECM) frames.
std::vector<std::vector<uint8_t>> goodHdlcFrames(const std::vector<std::vector<uint8_t>>& ifps, bool v21);

// A frame as the terminals log it, in the bit order IFP data carries it (and back).
std::vector<uint8_t> bitReversed(const std::vector<uint8_t>& octets);

// The packets a receiver may take as the peer's own word: in the order the peer sent its numbers
// (a step of at most its `redundancy` forward takes the numbers its copies fill, and a step of any
// size the numbers it skipped under which a packet it sent arrived under another number), each number once
// with the one content every datagram that reached `at` under it brought, when that is a content
// the peer's datagrams put there (its primaries `packets`, the copies they carry, and the packets
// it sent altered or under another number, `altered`). A number disputed, never arrived, or holding
// only what the peer never put there (a number the network flipped) gives an empty packet: nothing
// read across it is the peer's. A number the peer sent again with another packet (its numbering
// stepped back) is listed again where it was sent again, each time with what came under it other
// than the peer's primaries of its other times.
std::vector<std::vector<uint8_t>> thePeersWord(const std::vector<NumberedIfp>& packets, int redundancy,
                                               const std::vector<NumberedIfp>& altered, const PacketsArrived& at);

// A peer that numbers its datagrams otherwise: from the `at`-th datagram on (counted from 0) every
// number is moved by `by` (at 0: a first number other than 0; later: a renumbering mid-call).
struct SeqHop {
  int at = -1;
  uint16_t by = 0;
};
void moveSequence(std::vector<uint8_t>& dg, uint16_t by);

// A well-formed datagram numbered `seq` whose primary is V.21 data with `fields` FCS-OK fields.
std::vector<uint8_t> manyFieldDatagram(uint16_t seq, int fields);

// ---- events a sweep draws on the datagrams of either direction ----

// A UDPTL datagram of the redundancy form taken apart: its number, primary and secondaries
// (newest first).
struct Datagram {
  uint16_t seq = 0;
  std::vector<uint8_t> primary;
  std::vector<std::vector<uint8_t>> secondaries;
};
bool parseDatagram(const std::vector<uint8_t>& dg, Datagram* out);
std::vector<uint8_t> buildDatagram(const Datagram& d);
// An IFP data packet of the type octet `t0` with `fields` (the inverse of ifpFields).
std::vector<uint8_t> ifpOf(uint8_t t0, const std::vector<IfpField>& fields);

// What an event does, from the first datagram sent at or after its tick that carries what the
// event is keyed to.
enum class EventKind {
  kRenumber,         // the peer's numbering jumps: the datagram gets number `value`, the ones after it follow
  kStep,             // the numbering steps by `value` (a few back or ahead) from this datagram on
  kStaleRun,         // `size` old datagrams numbered `distance` behind, over `spread` ticks `gap` apart
  kLateBurst,        // copies of `size` datagrams sent `distance` before, arriving together
  kFieldPrimary,     // one field of the primary retyped, truncated or bit-flipped (`mode`, `value`)
  kFieldSecondary,   // the same in the `copy`-th secondary only
  kFlippedDuplicate, // a duplicate, one bit of its copy of the packet before flipped, arrives first
  kRepeatedNumber,   // this datagram's content also arrives first under the number `value` before
  kNumberFlip,       // bit `value` of this datagram's number flipped
  kGap,              // `size` datagrams from this one are lost
  kMislabelledCopy,  // a copy of this datagram arrives `gap` ticks later with bit `value` of its number flipped
};
const char* eventName(EventKind k);

// A field retyped (its field type, or the packet's data type), truncated by `size` octets, one bit
// of its data flipped; or the whole packet replaced by a no-signal or by a lone signal end.
enum class FieldMode { kRetypeField, kRetypeData, kTruncate, kFlipBit, kToIndicator, kToSigEnd };

struct Event {
  EventKind kind;
  long tick;         // the path's tick (a 10 ms frame) from which it waits for a datagram
  int value = 0;     // renumbering: the new number; step: the step; field: the new type or bit; repeat: how far back
  int size = 1;      // datagrams of a stale run or late burst; octets a truncation takes
  int distance = 0;  // how far behind (negative: ahead)
  int spread = 1;    // ticks a stale run is split over
  int gap = 1;       // ticks between its parts
  int copy = 0;      // which secondary a field event changes
  FieldMode mode = FieldMode::kRetypeField;
  DropOn on = DropOn::kAny;  // from its tick it waits for a datagram that carries this
  std::string describe() const;
  // its kind, and what it is keyed to when it is
  std::string family() const;
};

// Applies events to one direction's datagrams in the order they are sent.
class EventInjector {
 public:
  explicit EventInjector(std::vector<Event> events) : events_(std::move(events)), fired_(events_.size(), false) {}
  // `dg`, the next datagram sent at `tick`, may be renumbered or changed; the datagrams the events
  // add go to `extra` with their delay in ticks (0: they arrive just before `dg`). True when `dg`
  // is to be lost.
  bool apply(long tick, std::vector<uint8_t>& dg, std::vector<std::pair<int, std::vector<uint8_t>>>& extra);
  int fired() const;
  // the packets the sender (the peer, or the gateway towards it) sent altered or under another
  // number (a field of its primary or of a secondary, a duplicate's flipped copy, a datagram
  // repeated or a copy arriving under another number): their numbers and octets
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> altered;
  // every primary it sent, in order, under the number a faithful network would carry it
  // (renumberings and steps included, a number's lost bit not)
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> packets;

 private:
  bool fire(const Event& e, std::vector<uint8_t>& dg, std::vector<std::pair<int, std::vector<uint8_t>>>& extra);
  std::vector<Event> events_;
  std::vector<bool> fired_;
  uint16_t shift_ = 0;                       // what renumberings and steps added so far
  int losing_ = 0;                           // datagrams a gap still takes
  std::vector<std::vector<uint8_t>> sent_;   // every datagram sent so far, as sent
  DropPlan watch_{{}};                       // what each datagram carries, for the keyed events
  // the packets of `altered` that the datagram at hand carries altered, and the number it had then:
  // an event after the change may still renumber it, and they arrive under its final number
  std::vector<std::pair<size_t, uint16_t>> alteredInPlace_;
  void noteMoved(const std::vector<uint8_t>& dg);  // every packet `dg` carries lands under a number not its own
};

}  // namespace faxcall
