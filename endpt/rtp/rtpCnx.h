// RTP service register programming of a connection: the host keeps a copy of the channel's RTP
// registers in the connection record, reads it from the channel, changes it (direction, RTCP,
// loopback, payload-type maps, telephone-event and redundancy payload types) and writes it back.
#pragma once

#include <cstdint>

#include "vrgEndptState.h"

// RTP configFlags bits.
enum : uint16_t {
  HAPI_RTP_INGRESS_RFC2198_ENABLE_MASK = 0x0040,
  HAPI_RTP_INGRESS_RANDOMIZE_RTCP_INTERVAL_MASK = 0x0400,
  HAPI_RTP_INGRESS_SEND_RTCP_XR_PACKETS_ENABLE_MASK = 0x0800,
  HAPI_RTP_USE_USER_DEFINED_SSRC_MASK = 0x2000,
  HAPI_RTP_VBD_V152_ENABLE_MASK = 0x4000,
  HAPI_RTP_VBD_V152_INGRESS_RFC2198_ENABLE_MASK = 0x8000,
};
// RTP configFlags2 bits.
enum : uint16_t {
  HAPI_RTP_INGRESS_SEND_RTP_PACKETS_DISABLE_MASK = 0x01,
  HAPI_RTP_EGRESS_PROCESS_RTP_PACKETS_DISABLE_MASK = 0x02,
  HAPI_RTP_SUBTRACT_DTMF_ENABLE_MASK = 0x20,
};
// RTP loopback flags.
enum : uint16_t {
  HAPI_RTP_LOOPBACK_ENABLE_MASK = 0x1,
  HAPI_RTP_LOOPBACK_MIRROR_MASK = 0x2,
  HAPI_RTP_LOOPBACK_START_MASK = 0x4,
  HAPI_RTP_LOOPBACK_ENCAPSULATED_MASK = 0x8,
};


void SetRtpMode(CNXSTATE* cnx, EPCNXMODE mode);
int ModeCheck(EPCNXMODE mode, int receive);
void InitRtpServiceRegisters(CNXSTATE* cnx);
void SetRtpServiceRegisters(CNXSTATE* cnx, EPRTCPXRMODE xrMode, const EPZVBDPARAM* vbd,
                            const EPTRTPLOOPBACKPARM* loopback);
void SetRtpPayloadTypes(CNXSTATE* cnx, const CODECCNXPARMLIST* codecs);
void ProgramIdleRtpPayloadTypes(CNXSTATE* cnx, const CODECCNXPARMLIST* codecs, EPCNXMODE mode);
int MapRtpPayloadType(uint16_t voiceCode, uint8_t payloadType, uint16_t* map);
void SetRtcpInterval(CNXSTATE* cnx, uint16_t ms);
void SetRtcpRandomInterval(CNXSTATE* cnx, int random);
void GetRtpRegisters(CNXSTATE* cnx);
void ProgramRtpRegisters(CNXSTATE* cnx);
void GenerateNteEvent(CNXSTATE* cnx, int event);
