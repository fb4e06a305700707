// Line state, ring and statistics operations of the dispatcher: hook and ring state into DSP and
// echo-canceller actions, ring parameters from provisioning, a connection's RTP statistics and the
// console prints of connection parameters and statistics.
#pragma once

#include "rtp/rtp_stats.h"
#include "vrgEndptState.h"

EPSTATUS EndptUpdateCasState(int lineId, EPCAS_EVENT state);
EPSTATUS SetRingParams(VRG_ENDPT* endpt);
EPSTATUS ProvisionRingParams(VRG_ENDPT* endpt, EPRINGPARAM* ring);
EPSTATUS GetConnectionRtpStats(CNXSTATE* cnx, EPZCNXSTATS* stats, int reset);
// Reads the channel's fax statistics and returns the connection's running page totals.
EPSTATUS GetConnectionT38Stats(CNXSTATE* cnx, EPZT38CNXSTATS* stats);
void vrgEndptPrintRtpStats(const EPZCNXSTATS* stats);
void printConnectionParams(const EPZCNXPARAM* params);
void requestLoopback(VRG_ENDPT* endpt, int on);
int IsT38Negotiated(const CNXSTATE* cnx);
void RtpInit(RTPSTATE* state);
void resetCodecCap(uint8_t* codecCap);
