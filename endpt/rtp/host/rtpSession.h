// Host RTP sessions: up to 16 pairs of UDP sockets (RTP and RTCP) bound to local ports, served by
// one receive thread that hands every datagram to its stream's callback and keeps RTCP receive
// statistics. Media normally reaches the process through the daemon's audio pipes; this layer
// stands ready as a library interface.
#pragma once

#include <cstdint>

#include <netinet/in.h>

#include "vosIpAddr.h"

constexpr int RTP_MAX_SESSIONS = 16;

enum RTP_RESULT : int { RTP_SUCCESS = 0, RTP_NETFAIL = 1, RTP_NORSC = 2 };

typedef void (*RTPRECVCB)(int handle, uint8_t* data, int length);

union addr_t {
  sockaddr_in v4;
  sockaddr_in6 v6;
};

struct stream_cfg {
  int handle;
  int fd;  // -1 when closed
  uint8_t tos;
  uint32_t ssrc;
  RTPRECVCB data_cb;
  addr_t local_addr;
  addr_t remote_addr;
  uint16_t port;  // network order
  int local_addr_len;
  int remote_addr_len;
};

// RTCP receive statistics of one session.
struct rtcpstats_t {
  uint32_t rtcpSRRecv;
  uint32_t lastntpsec;
  uint32_t lastntpfrac;
  uint32_t dwRemotePacketSent;
  uint32_t dwRemoteOctetSent;
  uint32_t dwPrevCumRemotePacketSent;
  uint32_t dwPrevCumRemoteOctetSent;
  uint32_t dwRemotePacketLost;
  uint32_t dwPrevCumRemotePacketLost;
  uint32_t dwRemoteJitter;
  uint32_t bFirstRtcpReceived;
  uint32_t wRemotePktLossRate;  // percent
  uint32_t bCalRemotePktLossRate;
  uint32_t dwPrevRemoteNumLost;
  uint32_t dwPrevRemoteLastSeqNum;
};

struct session_cfg {
  int enabled;
  stream_cfg rtp;
  stream_cfg rtcp;
  rtcpstats_t rtcpstats;
};

// The RTP fixed header, 12 bytes in network order.
struct RTPPACKET {
  uint8_t vpxcc;  // version 2 bits, padding, extension, CSRC count 4 bits
  uint8_t mpt;    // marker, payload type 7 bits
  uint16_t seq;
  uint32_t ts;
  uint32_t ssrc;
};
static_assert(sizeof(RTPPACKET) == 12, "RTP fixed header is 12 bytes");

int rtpInit(void);
int rtpDeinit(void);
int rtpOpen(uint16_t rtp_port, uint16_t rtcp_port, const VOS_IP_ADDRESS* local_addr,
            RTPRECVCB rtp_cb, RTPRECVCB rtcp_cb, uint8_t tos, int* handle);
int rtpUpdate(uint16_t rtp_port, uint16_t rtcp_port, const VOS_IP_ADDRESS* local_addr,
              RTPRECVCB rtp_cb, RTPRECVCB rtcp_cb, uint8_t tos, int handle);
int rtpSetRTPRemote(int handle, const VOS_IP_ADDRESS* addr, uint16_t port);
int rtpSetRTCPRemote(int handle, const VOS_IP_ADDRESS* addr, uint16_t port);
int rtpSend(int handle, const uint8_t* packet, int length, uint8_t tos);
int rtcpSend(int handle, const uint8_t* packet, int length);
int rtpClose(int* handle);
int rtpCompareSSRC(int handle, uint32_t ssrc);
int rtpGetRtcpStats(int handle, rtcpstats_t* stats);
// Updates a session's statistics from one received RTCP datagram (the receive thread's step).
void rtcpProcess(int handle, const uint8_t* data, int length);
