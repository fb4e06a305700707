// Adaptive jitter buffer of the codec service: files the frames that arrive for one connection in
// RTP-timestamp order and decides, once per decoder frame, what the decoder plays: the next frame,
// a repeat, comfort noise, or a frame decoded and dropped to shorten the delay. The hold-time
// target moves between configured limits, driven by two trackers of the hold time frames really
// see. Times are 8 kHz ticks (0.125 ms) for every codec; timestamps compare modulo 65536.
#pragma once

#include <cstdint>

#include "pve_codec/pve_regs.h"

inline constexpr int AJC_NUM_VOICECODES = 75;
inline constexpr uint16_t AJC_OUTOFRANGE_INTERVAL = 3200;
inline constexpr uint16_t AJC_MAX_HOLDTIME = 1600;
inline constexpr uint16_t AJC_MAX_COPY_WORDS = 640;
inline constexpr uint16_t AJC_MAX_QUEUED = 2000;

// Frame classes (high byte of payloadID).
enum : uint8_t {
  AJC_PKT_UNKNOWN = 0,
  AJC_PKT_VOICE = 1,
  AJC_PKT_SID = 2,
  AJC_PKT_CNG = 3,
  AJC_PKT_VOICEBANDDATA = 4,
  AJC_PKT_DOUBLE_DECODE = 5,
  AJC_PKT_FRAME_REPEAT = 6,
};

enum : uint16_t { AJC_IN_BUILDOUT = 0, AJC_IN_ACTIVE = 1, AJC_IN_SILENCE = 2, AJC_IN_UNDERRUN = 3 };
// The same states as the host names them.
enum : uint16_t {
  HAPI_CODEC_AJC_BUILDOUT = AJC_IN_BUILDOUT,
  HAPI_CODEC_AJC_ACTIVE = AJC_IN_ACTIVE,
  HAPI_CODEC_AJC_SILENCE = AJC_IN_SILENCE,
  HAPI_CODEC_AJC_UNDERRUN = AJC_IN_UNDERRUN,
};

enum : int16_t {
  AJC_DELETE_NO_ADJUST = -2,
  AJC_DELETE = -1,
  AJC_NO_ACTION = 0,
  AJC_REPEAT = 1,
  AJC_REPEAT_NO_ADJUST = 2,
};

// Reset modes (low four bits) and the flush and resize bits.
enum : uint16_t {
  AJC_RESET_NO_ACTION = 0,
  AJC_RESET_LIQUID = 1,
  AJC_RESET_FREEZE = 2,
  AJC_NORESET_LIQUID = 4,
  AJC_NORESET_FREEZE = 8,
  AJC_RESET_MASK = 15,
  AJC_RESET_FLUSH = 16,
  AJC_RESET_RESIZE = 32,
};

inline constexpr uint16_t AJC_OPTIONS_PRINT_EVENTS = 0x0100;
inline constexpr uint16_t HAPI_PVE_AJC_IGNORE_SILENCE_DELETION = 0x0001;
inline constexpr uint16_t HAPI_PVE_AJC_CUSTOM_DEFAULT = 0;
inline constexpr uint16_t HAPI_CODEC_CNG_EVT = 0x02C8;

// A frame's descriptor: queue entry and the header of every frame handed in.
struct AJC_PKT_HDR {
  uint16_t payloadID;      // class << 8 | voice code
  uint16_t payloadLength;  // bytes
  uint16_t arrivalTime;    // set by the buffer
  uint16_t timestamp;      // RTP timestamp in ticks
  uint16_t flags;          // payload slot << 8 | frame index in its packet
};
static_assert(sizeof(AJC_PKT_HDR) == 10, "queue entries are five words");

inline uint8_t ajcClass(const AJC_PKT_HDR& h) { return static_cast<uint8_t>(h.payloadID >> 8); }
inline uint8_t ajcCode(const AJC_PKT_HDR& h) { return static_cast<uint8_t>(h.payloadID & 0xFF); }

// The packet queue: a ring of headers.
struct AJC_Q {
  AJC_PKT_HDR* startp;
  AJC_PKT_HDR* endp;  // one past the last entry
  uint16_t totalSizeinWords;
  AJC_PKT_HDR* headp;
  uint16_t entrySizeinWords;
  uint16_t count;
  uint16_t numEntries;
};

// The payload store: a bitmap of slots in use (bit 0x8000 >> (slot & 15) of word slot >> 4) and
// the slots themselves.
struct AJC_PAYLOADQ {
  uint16_t* freeListp;
  uint16_t* plStartp;
  uint16_t* plEndp;
  uint16_t freeListSize;
  uint16_t numEntry;
  uint16_t entrySizeInWords;
};

// What the decoder plays this frame.
struct AJC_PVEDEC_INT {
  AJC_PKT_HDR currPkt[2];
  int16_t numCurrPkt;
};
static_assert(sizeof(AJC_PVEDEC_INT) == 22, "release record is 22 bytes");

// Per-voice-code tables of the codec service.
struct AJC_TABLE_ENTRIES {
  const uint16_t* pktTimep;       // frame time in ticks
  const uint16_t* decInstSizep;   // decoder instance words in front of the queue memory
  const uint16_t* decPktSizep;    // largest payload in bytes (one slot)
  const uint16_t* decPktReplayp;  // longest run of repeats in an underrun, ticks
};

// Exported as the host's decoder statistics; layout identical to HAPI_PVE_DECODERSTATS.
using AJC_STATS = HAPI_PVE_DECODERSTATS;

// Exported as the host's HAPI_PVE_STATE (same layout, two fields signed here).
struct AJC_STATE {
  uint16_t timer;
  uint16_t expectedTimestamp;
  int16_t lastArrivalTime;
  uint16_t lastArrTimeStamp;
  uint16_t lastReleaseTimestamp;
  uint16_t actualHoldTime;
  uint16_t currentHoldTime;
  uint16_t minHoldTimeTracker;
  uint16_t maxHoldTimeTracker;
  uint16_t releaseBump;
  uint16_t underrunDuration;
  int16_t actionPendingTimer;  // ms
  uint16_t currentDec;
  uint16_t timerLastArrival;
  uint16_t currentEnc;
  uint16_t currentEncPktTime;
  uint16_t currentEncPktSize;
};
static_assert(sizeof(AJC_STATE) == sizeof(HAPI_PVE_STATE), "state record is 34 bytes");

struct AJC_INTERNAL_STATS {
  uint16_t discards;
  uint16_t firstSeq;
  uint16_t lastSeq;
  uint16_t jbAdaptiveFlag;
};

struct AJC_OBJ {
  AJC_STATS* statsp;
  const AJC_REGS* regp;
  AJC_STATE* statep;
  AJC_Q ajcJitterQ;
  uint16_t* decJbp;
  AJC_PVEDEC_INT pktInfo;
  uint16_t decJbSizeinWords;
  const AJC_TABLE_ENTRIES* ajcTableEntriesp;
  AJC_PAYLOADQ payloadQ;
  uint16_t* bufFreePtr;
  int32_t minHoldTimeState;  // 7 fraction bits, 0..1024000
  int32_t maxHoldTimeState;
  int16_t silenceRatio;  // 32767 = all voice
  uint16_t decoderInterval;
  uint16_t silenceDuration;  // ms
  int16_t hangoverSID;
  int16_t minHoldTimeInt;
  int16_t maxHoldTimeInt;
  uint16_t timerIntMs;
  int16_t tickCount;
  uint16_t tickRate;
  uint16_t replayCount;
  uint16_t inState;
  int16_t pending;
  uint16_t lowEnergyDetect : 1;
  uint16_t freeze : 1;
  uint16_t adapt : 1;
  uint16_t allowPendingActions : 1;
  uint16_t packetReleased : 1;
  AJC_INTERNAL_STATS* ajcIntStatsp;
};

// The buffer as the codec service's decoder state holds it.
using AJC_MEM = AJC_OBJ;

void ajcInit(AJC_OBJ* objp, uint16_t tickRate, const AJC_REGS* regp, AJC_STATS* statsp,
             AJC_STATE* statep, uint16_t* decJbp, uint16_t decJbSize,
             const AJC_TABLE_ENTRIES* ajcTableEntriesp, AJC_INTERNAL_STATS* internalAjcStatsp);
void ajcReset(AJC_OBJ* objp, uint16_t vc, uint16_t action);
int ajcHandlePacketArrival(AJC_OBJ* objp, AJC_PKT_HDR* hapipktp, uint16_t superpacketIndex);
int16_t ajcControlPacketRelease(AJC_OBJ* objp);

// Copies lenInWords words of a frame's payload slot to dest: action 0 keeps the slot, 1 frees it,
// 2 frees it without copying.
void decoder_copyPayload(AJC_PAYLOADQ* payloadQp, const AJC_PKT_HDR* packetp, uint16_t* dest,
                         uint16_t lenInWords, int action);
// Takes the first free payload slot: its index, or -1 when every slot is in use.
int searchFreeIndex(AJC_PAYLOADQ* payloadQp);
uint16_t* ajcSlotPtr(AJC_PAYLOADQ* payloadQp, unsigned slot);
void ajcFreeSlot(AJC_PAYLOADQ* payloadQp, unsigned slot);

// Queue operations.
void ajcQInit(AJC_Q* qp, AJC_PAYLOADQ* pqp, uint16_t* startp, uint16_t availableSize,
              uint16_t payloadSizeinBytes);
int ajcEnq(AJC_Q* qp, const AJC_PKT_HDR* entry);
void ajcDeq(AJC_Q* qp);
AJC_PKT_HDR* ajcGetTail(AJC_Q* qp);
AJC_PKT_HDR* ajcPeekQLink(AJC_Q* qp, AJC_PKT_HDR* bufp);

// Arithmetic helpers.
int ajcTimestampCompare(uint16_t timestamp1, uint16_t timestamp2, uint16_t decoderInterval);
int16_t ajcLimit(int16_t currentHt, int16_t delta, uint16_t minHt, uint16_t maxHt);
int32_t ajcTrackerAdd(int32_t tracker, int16_t sampleBump);
