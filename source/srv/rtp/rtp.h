// The RTP service: turns the codec service's packets into RTP and RTCP towards the host, and the
// host's RTP and RTCP into packets for the codec service, with telephone events, redundancy,
// receive statistics, RTCP XR and a call-quality estimate.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hsf/hsf.h"
#include "rtp_codes.h"
#include "rtp_regs.h"
#include "rtp_stats.h"
#include "rtp_xr.h"

constexpr unsigned RTP_HEADER_SIZE = 12;
constexpr unsigned RTP_RFC2198_MAX_PAYLOAD = 1280;
constexpr unsigned RTP_RFC2198_SLOTS = 2;
constexpr unsigned RTP_LOOPBACK_POOL_BYTES = 3016;
constexpr unsigned RTP_LOOPBACK_BLOCK_BYTES = 264;

// Receive-side sequence and jitter bookkeeping of the current remote source.
struct REMOTE_SOURCE_INFO {
  uint16_t maxSeq;
  uint16_t cycles;
  uint16_t baseSeq;
  uint32_t badSeq;
  uint32_t received;
  uint32_t expectedPrior;
  uint32_t receivedPrior;
  int32_t transit;
  uint32_t jitter;  // RFC 3550 jitter x 16
  uint32_t lsrReceivedInSenderReport;
  uint32_t SenderReportArrivalTime;
  RTCP_XR_INFO rtcpXrInfo;
};

struct RTP_RFC2198_INFO {
  uint8_t payloadData[RTP_RFC2198_MAX_PAYLOAD];
  uint32_t timestamp;
  uint16_t payloadLength;
  uint8_t payloadType;
  bool isPayloadValid;
};

struct RTP_EGRESS_PREV_TIMESTAMP {
  uint16_t timestamp;
  uint16_t isTimestampValid;
};

struct EGRESS_MAJ_CALCULATION_INFO {
  uint32_t prevPacketTimeSeconds;
  uint32_t prevPacketTimeuSeconds;
  uint32_t prevPacketDelay;
  uint32_t prevPacketMeanDelay;
  uint32_t prevPacketPositiveDev;
  uint32_t prevPacketNegativeDev;
  uint32_t prevPacketSeqNum;
  uint8_t firstPacket;
};

// Another source heard while one is being played. It replaces the played one only after
// RTP_MIN_SEQUENTIAL packets in sequence, and only once the played one has been silent for
// RTP_SOURCE_HOLD_SAMPLES: a stranger mixed into a live stream is never played.
struct RTP_SOURCE_CANDIDATE {
  uint32_t ssrc;
  uint16_t nextSeq;
  uint16_t sequential;  // packets in sequence so far; 0 = no candidate
};
constexpr uint16_t RTP_MIN_SEQUENTIAL = 2;
constexpr uint32_t RTP_SOURCE_HOLD_SAMPLES = 800;  // 100 ms at 8 kHz

// The source that a newcomer replaced during its silence. A pause of 100 ms is a network hiccup
// or silence suppression as often as a far end that restarted: when the replaced source comes
// back in sequence (within the dropout window of its own numbering) it takes the stream back at
// once, and the newcomer that filled the pause has to prove itself again from the start.
struct RTP_SOURCE_DISPLACED {
  uint32_t ssrc;
  uint16_t nextSeq;  // the sequence number that would have followed its last played packet
  bool valid;
};

struct RTPSRVINSTANCEMEM {
  HAPI_RTP_REGS regs;
  HAPI_RTP_STATS stats;
  HAPI_RTP_STATE state;
  HAPI_RTP_REGS2 regs2;
  REMOTE_SOURCE_INFO remoteSourceInfo;
  uint8_t ingressVoiceCodec, ingressPayloadType, egressVoiceCodec, egressPayloadType;
  uint16_t egressError;  // HAPI_RTP_EGRESS_ERROR last reported
  RTP_RFC2198_INFO IngressPreviousPacketRfc2198Info[RTP_RFC2198_SLOTS];
  uint16_t previousPacketInfoIndex;
  RTP_EGRESS_PREV_TIMESTAMP egressPreviousTimestamp[2];
  uint16_t egressPreviousTimestampIndex;
  // GR-303 keep-alive.
  uint32_t GR303Timestamp;
  uint16_t GR303SendTimer;  // ms
  uint8_t GR303Event;
  uint8_t GR303SendCounter;
  bool GR303SendEvent;
  // Tone repetition.
  HAPI_PKT_TONEPAYLOAD prevTone;
  uint16_t prevToneTimeStampHigh, prevToneTimeStampLow;
  uint8_t prevToneCode;
  uint8_t triplicateSendTimer;
  bool dontSendRepeatTone;
  // Flags.
  bool resetStats, isLastPacketSid, newLocalCname, dataSentSinceLastReport, dataSentSincePrevReport,
      dataReceivedSinceLastReport, generateBye, dataSentInCurrentSession, transitInitialized, egressToneState,
      transitUnitWideband, nextOnIsNewTone, firstRTPPacketReceived;
  uint16_t rtcpSendTriggerTimer;  // ms to the next report
  uint16_t sdesOtherItemCount;
  uint16_t sdesOtherItems;  // bit n: SDES item type n configured
  uint16_t toneStartTimeStampHigh, toneStartTimeStampLow, prevToneDuration;
  uint32_t localTimestamp;  // the service's 8 kHz sample clock
  uint8_t nteEvent;
  uint16_t initialSequenceNumber;
  uint16_t userDefinedHigherLocalSsrc, userDefinedLowerLocalSsrc;
  uint16_t packetExpandEnd;
  int16_t repeatToneTimer;       // ms
  uint16_t localPacketInterval;  // 8 kHz samples
  uint8_t vbdPayloadType, vbdCodec, ingressPacketType;
  bool prevRfc2198Enabled;
  // G.722 far-end clock detection.
  uint16_t seqNumHist[5];
  uint32_t timestampHist[5];
  bool farEndRFC3551Compliant;
  EGRESS_MAJ_CALCULATION_INFO majCalcInfo;
  // Which source is played: learnt from the first packet of a session, then kept while it lives.
  bool remoteSourceHeld;
  uint32_t samplesSinceSourcePacket;  // ticks since the played source was last heard, in samples
  RTP_SOURCE_CANDIDATE sourceCandidate;
  RTP_SOURCE_DISPLACED displacedSource;
  bool manageCSCall;
  // The statistics as they stood when the host asked for them: the event carries this copy, so a
  // reset that follows cannot change what the host reads.
  HAPI_RTP_STATS statsReport;
  // Looped-back packets waiting to be sent back, in blocks of the service's own pool.
  alignas(8) uint8_t loopbackPoolMem[RTP_LOOPBACK_POOL_BYTES];
  MEM_BufPool* loopbackPool;
  QMQUEUE rtpLoopbackQ;
};

extern const HSFSRVARC rtparc;

// Entry points of the service record.
HAPIRESULT rtpIOctl(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* answer);
void rtpIngress(HSFSRVOBJ srvp);
void rtpEgress(HSFSRVOBJ srvp);
HAPIRESULT rtpSvcInit(HSFSRVOBJ srvp);

// Where the service takes its random numbers and clocks from; tests put their own sources here.
struct RTP_HOST_SOURCES {
  uint16_t (*rand16)();
  int (*rtpTimeGet)(uint32_t* seconds, uint32_t* microseconds);
  void (*rtpTimeSet)(uint32_t seconds, uint32_t microseconds);
  int (*ntpTimeGet)(uint32_t* seconds, uint32_t* microseconds);
};
extern RTP_HOST_SOURCES rtpHostSources;
void rtpHostSourcesDefault();

// Payload-type maps.
constexpr int RTP_MAP_NOT_FOUND = -1;
int rtpGetPayloadTypeFromMediaPayloadMap(const uint16_t* map, unsigned code);
int rtpGetCodecFromMediaPayloadMap(const uint16_t* map, unsigned payloadType);
constexpr bool isValidDynamicPayloadType(unsigned payloadType) {
  return payloadType >= 96 && payloadType <= 127;
}
bool isPayloadMapValid(const uint16_t* map);
