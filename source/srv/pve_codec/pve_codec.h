// The codec service: the voice engine of a gateway channel. Ingress takes the line's PCM frames,
// runs voice activity detection and the encoder and hands coded frames to the packetiser; egress
// takes packets, feeds the jitter buffer and plays out decoded audio or comfort noise.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ajc.h"
#include "bandsplit.h"
#include "hsf/hsf.h"
#include "pve_pktize.h"
#include "pve_regs.h"
#include "vadcng.h"
#include "vocoder.h"

enum : uint16_t {
  HAPI_CODEC_SETREGS_CMD = 0x0232,
  HAPI_CODEC_GETSTATS_EVT = 0x0243,
  HAPI_CODEC_GETSTATE_EVT = 0x0245,
  HAPI_CODEC_GETSTATUS_EVT = 0x0249,
  HAPI_CODEC_ENCSTART_CMD = 0x0280,
  HAPI_CODEC_SETVOICERATE_CMD = 0x0281,
  HAPI_CODEC_FREEZE_CMD = 0x0282,
  HAPI_CODEC_DECFLUSH_CMD = 0x0283,
  HAPI_CODEC_PTEOPTION_CMD = 0x0289,
  HAPI_CODEC_GETSTATUS_CMD = 0x028A,
  HAPI_CODEC_AUDIOSTOPTONE_CMD = 0x028B,
  HAPI_CODEC_STOP_ADAPT_CMD = 0x028C,
  HAPI_CODEC_INTERMSG_CMD = 0x028D,
  HAPI_CODEC_ENABLE_CMD = 0x02B0,
  HAPI_CODEC_SETREG1_CMD = 0x02B4,
  HAPI_CODEC_GETSTATS_CMD = 0x02B5,
  HAPI_CODEC_GETSTATE_CMD = 0x02B6,
  HAPI_CODEC_VOICERATE_EVT = 0x02C1,
  HAPI_CODEC_EXCEPTION_EVT = 0x02C4,
  HAPI_CODEC_EGRESS_VBD_TO_VOICE_DETECT_EVT = 0x02D4,
  HAPI_CODEC_EGRESS_VOICE_TO_VBD_DETECT_EVT = 0x02D5,
};
inline constexpr uint16_t HAPI_CODEC_INTERMSG_CMR = 0;

// Exception reasons.
enum : uint16_t {
  PVE_EXC_RATE_PENDING = 0,
  PVE_EXC_ENC_UNAVAILABLE = 16,
  PVE_EXC_DEC_UNAVAILABLE = 17,
  PVE_EXC_INTERVAL_TOO_LONG = 18,
};

// Tone codes of relay packets.
enum : uint16_t {
  HAPI_PKT_TC_DTMF_ON = 0,
  HAPI_PKT_TC_DTMF_OFF = 1,
  HAPI_PKT_TC_OFF_BIT = 1,
  HAPI_PKT_TC_TONE_INGRESS = 9,
  HAPI_PKT_TC_TONE_NOCODE = 255,
};
inline constexpr uint16_t HAPI_PTE_MODE_DIG_RELAY = 0x10;

struct HAPI_PKT_TONEPAYLOAD {
  uint16_t digitpwrlevel;
  uint16_t duration;
};

struct HAPI_PVE_STATUS {
  uint16_t status;
  uint16_t clkdriftactive;
  uint16_t encodeAllowed;
  uint16_t encoderstate;
  uint16_t allowratechange;
  int16_t payloadCountDown;
  uint16_t currentEnc;
  int16_t superpacketinterval;
  uint16_t decodeAllowed;
  uint16_t decoderactive;
  uint16_t currentDec;
  uint16_t reserved[3];
};
static_assert(sizeof(HAPI_PVE_STATUS) == 28, "status record is 28 bytes");

struct CODEC_STATS {
  AJC_STATS decoder;
  HAPI_PVE_ENCODERSTATS encoder;
};
static_assert(sizeof(CODEC_STATS) == sizeof(HAPI_PVE_STATS), "statistics are 36 bytes");

struct HSZCODECDECCTL {
  bool decoderactive;
  bool decodeAllowed;
  uint16_t hsxegressstate;
  uint16_t threadsize;        // samples decoded per call
  uint16_t hsxActiveDecoder;  // 255 = none
  PVE_DECFNC hsxdecfnc;
  uint16_t lowEnergyDetect;
  uint16_t replayCount;
  const AJC_PKT_HDR* playoutPktp;
  const AJC_PKT_HDR* oldpacketp;
  PVE_PKT_EVT_INFO pktEvtInfo;
};

struct HSZCODECENCCTL {
  uint16_t hsxingressstate;
  uint16_t threadsize;        // samples per encoder call
  uint16_t encoderInterval;   // packet time of one coded frame
  uint16_t hsxnewrate;        // (VAD type << 8) + code; low byte 255 = none pending
  bool encodeAllowed;
  bool encoderstate;          // an encoder is configured
  uint32_t hsxTimeStamp;      // 8 kHz samples
  uint16_t hsxcurrentalg;     // low byte 255 = none
  int16_t newsuperpacketinterval;
  int16_t superpacketinterval;
  int16_t payloadCountDown;
  uint16_t threadChangePending;  // frame period in bits 0-11, wideband in bit 12; 0 = none
  bool allowratechange;
  HSZSUPERPKTCTL superpktctl;
  PVE_ENCFNC hsxencfnc;
  uint16_t hsxvoicebanddatamode;
};

struct HSZCODECPTECTL {
  uint16_t lastRelayPayloadCode;
  uint16_t lastRelayDigitsTimestamp;
  uint16_t lastSecondRelayDigitsTimestamp;
  int16_t relayActiveTimer;  // -1 = no relay
  bool audioStopTone;
};

struct HSZCODECCTLMEM {
  uint16_t hsxstatus;
  HSZVOICEREGS voiceregs;
  AJC_STATE state;
  CODEC_STATS stats;
  HSZCODECDECCTL hsxcodecdecctl;
  HSZCODECENCCTL hsxcodecencctl;
  HSZCODECPTECTL hsxcodecptectl;
  uint16_t pteoption;
  uint16_t ajcIntStatsTimer;
  AJC_INTERNAL_STATS ajcIntStats;
  uint16_t lastBadDecoderCode;  // reported once per distinct code
  uint16_t lastBadPacketCode;
  // What the last report events carried: the receivers read these copies.
  HAPI_PVE_STATUS statusReport;
  CODEC_STATS statsReport;
  AJC_STATE stateReport;
};

// Comfort noise the service plays while a SID period lasts.
using PVE_CNG = GCNG;

struct PVE_DEC_JB_MEM {
  uint16_t* instp;  // the decoder instance at the front of the jitter-buffer memory
  uint16_t cngActive;
  PVE_CNG cng;
};

struct HSZCODECDECSTATE {
  uint16_t previousPayloadType;
  int16_t splitState[BS_SPLIT_STATE_WORDS];
  AJC_MEM ajc_mem;
  PVE_DEC_JB_MEM decJbMem;
  uint16_t* jbMemp;  // decJbWords words, 8-byte aligned
};

struct HSZCODECENCSTATE {
  int16_t combineState[BS_COMBINE_STATE_WORDS];
  GVAD hsxvad;
  uint16_t hsxGvadEnabled;
  uint16_t maxEncPoolSize;  // words
  uint16_t* superInstancep;
  uint16_t* encPool;  // 8-byte aligned
};

// The instance: the fixed records, then the jitter-buffer memory and the encoder pool.
struct HSZCODECINST {
  HSZCODECCTLMEM ctl;
  HSZCODECDECSTATE dec;
  HSZCODECENCSTATE enc;
};

extern const HSFSRVARC pvecodecarc;
extern const HSFSRVARC pvecodeclitearc;

// Instance bytes of a service with an encoder pool of `poolWords` words.
uint32_t codecInstanceBytes(uint32_t poolWords);
uint32_t codecHeavyPoolWords();
inline constexpr uint32_t PVE_LIGHT_POOL_WORDS = 165;

HAPIRESULT codecHeavyInit(HSFSRVOBJ srvp);
HAPIRESULT codecLightInit(HSFSRVOBJ srvp);
HAPIRESULT codecIOctl(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* answer);
void codecIngress(HSFSRVOBJ srvp);
void codecEgress(HSFSRVOBJ srvp);

HSZCODECENCSTATE* pveEncLoadInst(HSZCODECINST* inst);
HSZCODECDECSTATE* pveDecLoadInst(HSZCODECINST* inst);
AJC_OBJ* pveAjcLoadInst(HSZCODECINST* inst);

// Shared between the service's files.
void ResetCodecControl(HSZCODECINST* inst);
void pveFlushJb(AJC_OBJ* jb, HSZCODECINST* inst);
void codecApplyRegisters(HSZCODECINST* inst, bool full);
// The generic voice activity detector and its SID frames.
void codecVadInit(HSZCODECINST* inst, uint16_t mode);
bool codecVadAvailable();
uint16_t codecVad(HSZCODECINST* inst, const int16_t* samples, unsigned n);  // 1 = inactive
int codecVadGenSid(HSZCODECINST* inst, uint16_t* payload);             // 2 = a SID is due
// AMR and AMR-WB payloads of several frames with redundancy: 0 when `packet` now holds a
// payload to send (in scratch memory), 1 when the frame was kept for a later one.
int amrConstructSuperpacket(HSZCODECINST* inst, HAPI_PKT_HDR** packet);
void codecCngInit(PVE_CNG* cng, uint16_t type);
void codecCngConfig(PVE_CNG* cng, uint16_t type, uint16_t wideband);
void codecCngProcess(PVE_CNG* cng, int16_t* out, const uint16_t* sid, uint16_t sidLength, unsigned n);
