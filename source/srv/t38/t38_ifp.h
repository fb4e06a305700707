// Fax-relay packets of the fax relay service turned into T.38 IFP packets, and the merging of two
// T.30 data packets into one IFP.
#pragma once

#include <cstdint>

#include "hapi/hapi_types.h"
#include "t38_udptl.h"

enum IFP_CHOICE : uint8_t { T30_IND = 0, T30_DATA = 64 };

// IFP types (indicators and data share the numbers 0..15; V.33 ones are 69 and 70).
constexpr int16_t USE_CURRENT_TYPE = -1;

struct HAPI_TO_IFP {
  uint8_t hapiPktPayloadCode;
  IFP_CHOICE choice;
  int16_t type;
  IFP_FIELD_TYPE fieldType0;
  IFP_FIELD_TYPE fieldType1;
};

constexpr uint8_t HAPI_PKT_FC_LAST_INDICATOR = 17;  // V17_14400_LONG_TRAINING
constexpr uint8_t HAPI_PKT_FC_V21_END = 19;
constexpr uint8_t HAPI_PKT_FC_V21_END_FINAL = 20;
constexpr uint8_t HAPI_PKT_FC_V21_END_BAD_FINAL = 22;
constexpr uint8_t HAPI_PKT_FC_PAGE_DATA_FIRST = 23;    // V27_2400 page data; the ten rates' non-ECM page data
constexpr uint8_t HAPI_PKT_FC_ECM_DATA_FIRST = 33;     // V27_2400 ECM data; the ten rates' ECM frame octets
constexpr uint8_t HAPI_PKT_FC_ECM_END_FIRST = 43;      // V27_2400_ECM_END; the ten good ECM frame ends
constexpr uint8_t HAPI_PKT_FC_ECM_END_BAD_LAST = 62;   // V17_14400_ECM_END_BAD; the ten bad ones end here
constexpr uint8_t HAPI_PKT_FC_PAGEEND = 63;
constexpr uint8_t HAPI_PKT_FC_ECM_PAGEEND = 64;
constexpr uint8_t HAPI_PKT_FC_FAXMAX = 66;
// To the fax relay only: a later copy contradicted the V.21 frame whose end was handed on last.
constexpr uint8_t HAPI_PKT_FC_V21_LAST_END_VOID = 66;
// To the fax relay only: copies outvoted a packet of the V.21 frame open, handed on altered: the
// octet where its octets start in the frame, then the octets the copies say.
constexpr uint8_t HAPI_PKT_FC_V21_MEND = 67;

// To the fax relay only, in a V.21 data or good end packet's high time stamp word: the peer's own
// datagram carried it right after the packet handed on before it, or without copies numbered it
// so (t38fReorderFollows), nothing between.
constexpr uint16_t HAPI_PKT_MARK_FOLLOWS = 3;

extern const HAPI_TO_IFP hapiToIFPLUT[66];

// What the conversion keeps between packets.
struct T38ZCONV {
  int16_t msgtype;      // data type of the current high-speed training (0 = V.21)
  uint16_t flushState;  // ticks of tail handling after a signal end
  uint8_t flushMode;    // 1: NO_SIGNAL packets, 0: repeats
  uint16_t unknownPkt;
  uint8_t flushRepeats;  // repeats of a signal end that go before its NO_SIGNAL packets
};

// A signal's tail has as many ticks as the redundancy asks, and never fewer than the three copies
// T.38 peers send of an indicator, of a signal end and of the no-signal after it: the redundancy
// count governs the secondaries a datagram carries, not whether a lost signal can be recovered.
constexpr uint8_t T38_TAIL_COPIES = 3;

// Converts one fax-relay packet (header and payload words: word 0 the bit count, then octets,
// first octet in the high half) into an IFP packet; returns its length, or -1 when the packet has
// no IFP form (counted as unknown where the code has no row) or would not fit.
int t38fHapiPktToIFPpkt(T38ZCONV* st, uint8_t redundancyLow, const HAPI_PKT_HDR* hdr, const uint16_t* payload,
                        uint8_t* out, int cap);

// Appends the fields of the T.30 data IFP `second` to `first` (whose field count is 1 or 2);
// returns the merged length, or -1 (first unchanged) when the result would pass `cap` octets or
// 127, the IFP limit.
int t38fMergeIFP(uint8_t* first, int firstLen, const uint8_t* second, int secondLen, int cap);

// A fax-relay packet the conversion below hands out: its code and its data octets.
using T38RELAYSINK = void (*)(void* user, uint8_t code, const uint8_t* octets, int n);

// Turns one received IFP packet into fax-relay packets: indicators into their code, T.30 data
// into chunks of at most 84 octets followed by the status codes of its fields. Returns false when
// the packet is malformed (nothing is handed out then).
bool t38fIFPpktToHapiPkt(const uint8_t* ifp, int len, T38RELAYSINK sink, void* user);
// The same for a packet already walked whole and found playable (t38fIFPwalkedPlayable).
void t38fWalkedIFPtoHapiPkt(const uint8_t* ifp, T38RELAYSINK sink, void* user);
// Whether a packet walked whole closes a high-speed (ECM) HDLC frame good.
bool t38fIFPclosesEcmFrameGood(const uint8_t* ifp);
// Whether a packet walked whole is V.21 data that closes a frame good and does not end the signal
// (the burst goes on).
bool t38fIFPclosesV21FrameGoodBurstOn(const uint8_t* ifp);
// Whether a packet walked whole is V.21 data that closes a frame, good or bad (an FCS field of it
// does): the peer's next V.21 data opens a frame, with its address octet.
bool t38fIFPclosesV21Frame(const uint8_t* ifp);
// Whether a packet walked whole is V.21 data that ends the signal (a field of it does): the peer
// sends no V.21 data after it but behind a new preamble.
bool t38fIFPendsV21Signal(const uint8_t* ifp);
// The control octet a packet walked whole starts its V.21 frame with, where that packet also
// closes the frame good (it carries the frame whole, if it starts one); -1 otherwise.
int t38fIFPv21FrameControl(const uint8_t* ifp);
// The command octet (the frame's third) of a V.21 frame a packet walked whole carries whole, closed
// good; -1 otherwise.
int t38fIFPv21FrameCommand(const uint8_t* ifp);
// The first octet of V.21 HDLC data a packet walked whole carries in its first field; -1 when it
// is no V.21 data, or its first field no HDLC data.
int t38fIFPv21FirstOctet(const uint8_t* ifp);

