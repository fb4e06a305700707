// Payload work of the RTP service that needs no channel: G.726 code-word order, AMR payload
// checks and bit copies, and the corrections applied to a received payload.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hsf/hsf.h"
#include "rtp_codes.h"

// ---- G.726 code-word order (RFC 3551 <-> I.366.2 Annex E), in place ----
void swapBytes(uint8_t* buffer, unsigned length);
void swapNibbles(uint8_t* buffer, unsigned length);
// Sending side: the payload in network byte order.
void G726_I366_2_Annex_E_encode(uint8_t* payload, unsigned length, unsigned code);
// Receiving side: the payload as host-order 16-bit words (the byte behind an odd payload is
// touched by the word swaps and must exist).
void G726_I366_2_Annex_E_decode(uint8_t* payload, unsigned length, unsigned code);

// ---- AMR and AMR-WB (RFC 3267) ----
constexpr int AMR_FRAME_SIZE_INVALID = -1;
// Frame size in bits by frame type; octet-aligned sizes are rounded up to whole bytes.
int amrCoreFrameSize(unsigned frameType, bool wideband, bool octetAligned);
// Reads `bits` (at most 8) bits most significant first at bit position `bitPos` of `stream`.
unsigned getbits(const uint8_t* stream, unsigned bits, unsigned bitPos);
// 0 when the payload is consistent with the bandwidth-efficient (amrCheckPkt) or octet-aligned
// (amrCheckPktOA) form, non-zero otherwise.
int amrCheckPkt(const uint8_t* payload, unsigned length, bool wideband);
int amrCheckPktOA(const uint8_t* payload, unsigned length, bool wideband);

// AMR family of a voice code.
enum class AmrForm { None, NarrowBandEfficient, NarrowOctetAligned, WideBandEfficient, WideOctetAligned };
AmrForm amrFormOf(unsigned code);

// ---- received payload corrections ----
// The packet is an HAPI_PKT_EGRESS_HDR followed by its payload (with one spare byte behind it).
// Corrects the voice code from the payload, converts the byte order and sets the time stamp in the
// engine's units. Returns the packet, or null when it is to be rejected.
HAPI_PKT_EGRESS_HDR* rtpXmeToQrn(HAPI_PKT_EGRESS_HDR* packet, uint32_t timeStamp);

// Where the split AMR frames and the far end's mode requests go.
struct RtpAmrSink {
  void (*sendPacket)(void* ctx, HAPI_PKT_EGRESS_HDR* packet);  // header + payload, in scratch
  void (*modeRequest)(void* ctx, uint16_t cmr);
  void* (*scratch)(void* ctx, size_t bytes);
  void* ctx;
};
// Splits a multi-frame AMR packet into one packet per frame. Returns the number of frames handled;
// 0 means it was not split and is to be delivered whole.
unsigned rfc3267ProcessEgress(const HAPI_PKT_EGRESS_HDR* packet, const RtpAmrSink& sink);
