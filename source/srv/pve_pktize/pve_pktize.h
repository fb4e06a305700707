// The packetiser: gathers coded frames into superpackets on the ingress side and splits received
// packets into jitter-buffer frames on the egress side. The codec service calls both workers.
#pragma once

#include <cstdint>

#include "ajc.h"
#include "hapi/hapi_types.h"
#include "hsf/hsf.h"
#include "pve_tables.h"

// Packet types (high byte of payloadID).
enum : uint8_t {
  HAPI_PKT_UNKNOWN = 0,
  HAPI_PKT_VOICE = 1,
  HAPI_PKT_SID = 2,
  HAPI_PKT_TONE = 3,
  HAPI_PKT_VOICEBANDDATA = 4,
  HAPI_PKT_FAXRELAY = 5,
  HAPI_PKT_DATARELAY = 6,
  HAPI_PKT_CLASSRELAY = 7,
  HAPI_PKT_PCMCLEAR = 8,
  HAPI_PKT_PARTIAL_FRAME = 9,
  HAPI_PKT_LOOPBACK = 10,
};

enum : uint16_t {
  HAPI_PVE_EXCEPTION = 0x03C0,
  HAPI_PVE_EGRESS_FRAME_CHANGE_EVENT = 0x03C1,
  HAPI_PVE_SID_EGRESS_EVENT = 0x03C2,
};

inline constexpr uint16_t PVE_MAX_PAYLOAD_BYTES = 1280;

// Header of a packet the RTP service hands to the codec service; the payload follows it.
struct HAPI_PKT_EGRESS_HDR {
  uint16_t payloadID;
  uint16_t payloadLength;
  uint16_t payloadOffset;  // always 8
  uint16_t payloadTimeStampLow;
};
static_assert(sizeof(HAPI_PKT_EGRESS_HDR) == 8, "egress packet header is four words");

struct HSZSUPERPKTCTL {
  int16_t superpacketinterval;  // samples per superpacket
  int16_t payloadCountDown;     // samples still to collect
  int16_t threadsize;           // samples per frame
  bool packetNull;              // no superpacket open
  bool piggyOption;             // SID frames and family changes may ride in an open superpacket
};

struct PVE_PKT_EVT_INFO {
  uint16_t prevFrameDur;
  uint16_t evtFrameDur;
  uint16_t consFrameCount;
};

// Appends one coded frame (header, then its payload words) to the superpacket in `superbuf`
// (header then payload) and sends the superpacket when it is complete.
void encoder_packetize(uint16_t* superbuf, const HAPI_PKT_HDR* frame, HSZSUPERPKTCTL* ctl);
// Sends an open superpacket as in-band packet data and empties it.
void sendNetSuperPacket(uint16_t* superbuf);

// Splits one received packet into frames and files them in the jitter buffer. `lastBadCode`
// remembers the code last reported as having no frame size.
void decoder_unpacketize(const HAPI_PKT_EGRESS_HDR* packet, uint16_t* lastBadCode, PVE_PKT_EVT_INFO* evtInfo,
                         AJC_OBJ* jb);
// The same with a bytes-per-frame table of the caller's; without a jitter buffer (null) the walk
// only checks the frames and reports.
void decoder_unpacketize(const HAPI_PKT_EGRESS_HDR* packet, uint16_t* lastBadCode, const uint16_t* pktSize,
                         PVE_PKT_EVT_INFO* evtInfo, AJC_OBJ* jb);

// The packetiser as a service of its own (in no configured stack).
enum : uint16_t {
  HAPI_PVE_PKT_VOCODER_SUPPORT_CMD = 0x0306,
  HAPI_PVE_PKT_SETVOICERATE_CMD = 0x0383,
  HAPI_PVE_PKT_ENCSTART_CMD = 0x0384,
  HAPI_PVE_PKT_OPTION_CMD = 0x0385,
  HAPI_PVE_PKT_ENABLE_CMD = 0x03B0,
};
inline constexpr uint16_t PVE_PKT_SUPERPACKET_WORDS = 640;

struct HSZPVEPKTMEM {
  uint16_t enabled;
  uint16_t everEnabled;
  uint16_t havePrevious;        // the duplicate filter holds a timestamp
  uint16_t previousTimestamp;
  uint16_t lastBadCode;
  HSZSUPERPKTCTL superpktctl;
  PVE_PKT_EVT_INFO evtInfo;
  uint16_t pktSize[HAPI_PKT_VC_ALG_MAX];  // bytes per frame
  uint16_t superpacket[4 + PVE_PKT_SUPERPACKET_WORDS];
};

extern const HSFSRVARC pvepktizearc;
HAPIRESULT pvepktInit(HSFSRVOBJ srvp);
HAPIRESULT pvepktIOctl(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* answer);
void pvepktIngress(HSFSRVOBJ srvp);
void pvepktEgress(HSFSRVOBJ srvp);

// Byte access to payloads held two bytes to a word, the earlier byte in the high half.
uint8_t pvePayloadByte(const uint16_t* words, unsigned index);
void pvePayloadPutByte(uint16_t* words, unsigned index, uint8_t value);
