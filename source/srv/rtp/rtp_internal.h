// Helpers shared by the RTP service's files.
#pragma once

#include <cstdint>

#include "rtp.h"

namespace rtpsrv {

inline RTPSRVINSTANCEMEM* instanceOf(void* srvp) { return static_cast<RTPSRVINSTANCEMEM*>(srvp); }

// ---- counters ----
// A 32-bit count kept as two words, Low carrying into High.
inline void stats32Add(uint16_t& high, uint16_t& low, uint32_t n) {
  const uint32_t sum = ((uint32_t{high} << 16) | low) + n;
  high = static_cast<uint16_t>(sum >> 16);
  low = static_cast<uint16_t>(sum);
}
inline void stats32Set(uint16_t& high, uint16_t& low, uint32_t v) {
  high = static_cast<uint16_t>(v >> 16);
  low = static_cast<uint16_t>(v);
}
inline uint32_t stats32Get(uint16_t high, uint16_t low) { return (uint32_t{high} << 16) | low; }
// A 16-bit counter stops at 65535.
inline void stats16Inc(uint16_t& c) {
  if (c != 0xFFFF) ++c;
}

// ---- network byte order ----
inline void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
inline void put32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
inline uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
inline uint32_t get32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// ---- instance helpers ----
inline uint32_t localSsrc(const RTPSRVINSTANCEMEM* r) {
  return (uint32_t{r->state.higherLocalSsrc} << 16) | r->state.lowerLocalSsrc;
}
inline uint32_t remoteSsrc(const RTPSRVINSTANCEMEM* r) {
  return (uint32_t{r->state.higherRemoteSsrc} << 16) | r->state.lowerRemoteSsrc;
}
inline uint32_t baseTimestamp(const RTPSRVINSTANCEMEM* r) {
  return (uint32_t{r->state.higherBaseTimestamp} << 16) | r->state.lowerBaseTimestamp;
}
// 32 random bits (first draw high) as the local SSRC; the local-session counters restart.
void drawLocalSsrc(RTPSRVINSTANCEMEM* r);
void clearPayloadTypeCache(RTPSRVINSTANCEMEM* r);
void markXrUninitialised(RTPSRVINSTANCEMEM* r);
// Reports a receive error to the host on each change (configFlags bit 0).
void sendEgressError2Host(RTPSRVINSTANCEMEM* r, uint16_t code);
// Clears a standing error (reports code 0 when one was standing).
void clearEgressError(RTPSRVINSTANCEMEM* r);
uint16_t tickSamples();
// An SDES item's text (types 1..8) and its length, at most 64 bytes.
const uint8_t* sdesItemText(const HAPI_RTP_REGS& regs, unsigned type, uint16_t* length);

// ---- per-tick work of the other files ----
void rtcpReadControlBlocks(RTPSRVINSTANCEMEM* r);
void rtcpIngressTick(RTPSRVINSTANCEMEM* r, uint16_t tick);
void rtcpReceive(RTPSRVINSTANCEMEM* r, uint8_t* packet, unsigned length);
void rtpEgressPacket(RTPSRVINSTANCEMEM* r, uint8_t* packet, unsigned length, unsigned room);

}  // namespace rtpsrv
