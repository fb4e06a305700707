// The endpoint library's endpoint and connection records and the lookups by which the dispatcher
// and the host DSP control find them. The records change only on the dispatcher thread; the hook
// fields and the connection count are also read by the daemon's thread without a lock, so they
// are relaxed atomics.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/net_regs.h"
#include "rtp/rtp_regs.h"
#include "vrgEndptTypes.h"

inline constexpr int VRG_MAX_NUM_DSP = 1;
inline constexpr int VRG_MAX_ENDPT = 8;
inline constexpr int VRG_MAX_CNX = 17;           // records; the first 16 carry connection VHDs
inline constexpr int VRG_MAX_CNX_VHD = 16;       // 0-7 full gateway channels, 8-15 lite ones
inline constexpr int VRG_MAX_FULL_CNX_VHD = 8;
inline constexpr int VRG_MAX_CNX_PER_ENDPT = 3;
inline constexpr uint16_t VRG_NO_VHD = 0xFFFF;

enum EPEECANSTATE : int32_t { ECAN_OFF = 0, ECAN_ON = 1, ECAN_NLP_OFF = 2 };

struct EPZECANSTATE {
  EPEECANSTATE currState = ECAN_OFF;  // what the canceller does now
  EPEECANSTATE origState = ECAN_OFF;  // what the connections asked for
  int isNLPoff = 0;
};

enum ENDPTTESTMODE : int32_t {
  TESTMODE_NONE = 0,
  TESTMODE_TR57 = 1,
  TESTMODE_ANALOGLOOPBACK = 2,
  TESTMODE_PACKETLOOPBACK = 4,
  TESTMODE_LINELOOPBACK = 8,
  TESTMODE_HALLOOPBACK = 16,
  TESTMODE_LINEDIAG = 32,
  TESTMODE_ECANSET = 64,
  TESTMODE_VADSET = 128,
  TESTMODE_ECANDEBUGCMD = 129,
};

enum VOICEMODE : int32_t { VM_IDLE = 0, VM_ACTIVE = 1, VM_FAX_RELAY = 2 };

struct EPRINGPARAM {
  int frequency;
  int waveshape;
  int voltage;
  int offset;
  int offsetCal;
};

struct EPZVBDATASTATE {
  int bEnabled;
  EPZVBDPARAM param;
};

// Counters of the host's RTP classifier for one connection.
struct RTPSTATS {
  uint32_t rxPackets;
  uint32_t txPackets;
  uint32_t rxBytes;
  uint32_t txBytes;
};

// The host's RTP classifier state of one connection: telephone-event and redundancy payload
// types (255 = none) and the packet in hand.
struct RTPSTATE {
  RTPSTATS stats;
  uint8_t sendNtePayloadType;
  uint8_t recvNtePayloadType;
  uint8_t sendRedPayloadType;
  uint8_t recvRedPayloadType;
  uint8_t redLevel;
  int rtpCnxId;
  uint8_t* pPayload;
};

struct CNXSTATE {
  int dspNum;
  int cnxId;   // -1 free, -2 reserved for an endpoint, else the daemon's connection id
  int lineId;  // -1 when free
  uint16_t vhdhdl;
  uint16_t vhdMode;  // NETMODE_* last reported by the channel
  EPCNXMODE mode;
  VOICEMODE voiceMode;
  int period;  // ms
  int silence;
  int comfortNoise;
  CODEC_TYPE codecType;
  int firstValidRTPPkt;
  int activeSignal;
  EPZVBDATASTATE vbData;
  RTPSTATE rtpstate;
  int bLiteWeight;
  uint32_t inMask;   // switchboard paths into the connection VHD
  uint32_t outMask;  // switchboard paths out of it
  int digitRelay;
  EPDTMFRFC2833CONFIG digitRelayType;
  int toneRelayRefreshInterval;  // ms
  EPDATAMODE dataMode;
  uint32_t namedPhoneEvts;
  int lastFaxEvent;
  int vrgVoiceJBFixed;
  int vrgVoiceJBMin;
  int vrgVoiceJBMax;
  int vrgVoiceJBTarget;
  int vrgDataJBTarget;
  int vrgDataJBMax;
  int cnxStateHBId;
  int bCngDetEnabled;
  int bNotifyFaxCall;
  int bMuteAudio;
  int bMuteT38;
  int bBell103Enabled;
  int toneDetCtrl;
  EPZT38PARAM t38param;
  int rxVolume;  // dB
  int txVolume;  // dB
  HAPI_RTP_REGS rtpRegs;
  HAPI_RTP_REGS2 rtpRegs2;
  HSZNETREGS netRegs;
  int VadMode;
  int CngMode;
  int PrevVadMode;
  int PlcMode;
  int bSBDisconnect;
  uint32_t localSsrc;
  int cnxModeControlsLineVhd;
  uint16_t ajcCustomReg;
  uint16_t faxrCustomReg;
  int bDisableUSPkt;
  // The channel's own page counts at the last fax statistics query: the fax relay service keeps
  // them across queries, so only their increase is added to t38param's totals.
  uint16_t faxPagesRxSeen;
  uint16_t faxPagesTxSeen;
};

struct VRG_ENDPT {
  int dspNum = 0;
  int isLineUsed = 0;
  int lineId = -1;
  uint16_t qrnHalHdl = 0;
  uint16_t lineVhdHdl = VRG_NO_VHD;
  uint16_t intLinkVhdHdl = 0;
  uint16_t endptNum = 0;
  std::atomic<uint16_t> offHook{0};
  VRG_COUNTRY country{};
  EPZECANSTATE ecanState;
  CNXSTATE* cnx[VRG_MAX_CNX_PER_ENDPT] = {};
  ENDPTTESTMODE testMode = TESTMODE_NONE;
  int testModeUpdate = 0;
  int diagVadMode = -1;
  int casCtlHandle = -1;
  ENDPT_STATE* endptArchive = nullptr;
  std::atomic<uint16_t> earlyOffHook{0};
  uint16_t delayOffHook = 0;
  int bPulse2dtmf = 0;
  int bGR303Support = 0;
  EPSIG activeBriefSignal = EPSIG_NULL;
  std::atomic<int> cnxCnt{0};  // connections as the echo-canceller control counts them
  EPTYPE endptType{};
  int txGain = 0;  // dB
  int rxGain = 0;  // dB
  int ringWaveshape = 0;
  int ringFrequency = 0;
  uint16_t pstnVhdHdl = VRG_NO_VHD;
  int routedFxsLineId = -1;
  int isFxsFxoCnxEstablished = 0;
  uint16_t confCnxVhdHdl = 0;
  EPRINGPARAM ringParam{};
  int ringOffset = 0;
  int ringOffsetCal = 0;
};

extern VRG_ENDPT vrgEndpt[VRG_MAX_ENDPT];
extern CNXSTATE vrgCnxState[VRG_MAX_CNX];
// Capabilities of each DSP, built by the library start-up.
extern EPZCAP vrgEndptCap[VRG_MAX_NUM_DSP];
// Endpoints the library serves (the board's count, at most VRG_MAX_ENDPT); connection bits in the
// switchboard masks follow the endpoint bits.
extern int vrgNumEndpts;

// A connection's line: the dispatcher binds and frees it while the packet path reads it.
inline void vrgCnxSetLine(CNXSTATE* cnx, int lineId) {
  std::atomic_ref<int>(cnx->lineId).store(lineId, std::memory_order_relaxed);
}
inline int vrgCnxLine(CNXSTATE* cnx) {
  return std::atomic_ref<int>(cnx->lineId).load(std::memory_order_relaxed);
}

// A connection's mute flags (bMuteAudio, bMuteT38): the dispatcher sets them while the packet path
// on the DSP tick reads them.
inline void vrgCnxSetMute(int& flag, int value) {
  std::atomic_ref<int>(flag).store(value, std::memory_order_relaxed);
}
inline int vrgCnxMuted(int& flag) { return std::atomic_ref<int>(flag).load(std::memory_order_relaxed); }

// Whether an endpoint record holds a line: the dispatcher and the library's shutdown set it while
// the packet path on the DSP tick looks lines up. The set publishes the record's line id with it.
inline int vrgEndptLineUsed(VRG_ENDPT* e) {
  return std::atomic_ref<int>(e->isLineUsed).load(std::memory_order_acquire);
}
inline void vrgEndptSetLineUsed(VRG_ENDPT* e, int used) {
  std::atomic_ref<int>(e->isLineUsed).store(used, std::memory_order_release);
}

// Puts every endpoint and connection record back to free, as at library start-up.
void vrgEndptStateReset(void);
// A connection record in its released state (free, no paths, no options).
void vrgCnxStateClear(CNXSTATE* cnx);

VRG_ENDPT* GetEndptState(int lineId);
VRG_ENDPT* GetEndptStateFromPhysId(int index);
VRG_ENDPT* GetEndptStateFromVHD(uint16_t vhdhdl);
int GetEndptIndexFromCasHandle(int casHandle, int* index);
VRG_ENDPT* GetPstnVrgEndptState(void);
// The first connection record with this id on any line. The PBX numbers connections per line,
// so a lookup on behalf of a line goes through GetEndptCnxState instead.
CNXSTATE* GetCnxState(int cnxId);
// The slot (0..VRG_MAX_CNX_PER_ENDPT-1) of the endpoint's connection `cnxId`, or -1.
int GetEndptCnxSlot(const VRG_ENDPT* endpt, int cnxId);
// The endpoint's own connection `cnxId` (a PBX id, 0 or more), or null.
CNXSTATE* GetEndptCnxState(const VRG_ENDPT* endpt, int cnxId);
CNXSTATE* GetCnxStateFromVHD(uint16_t vhdhdl);
int IsCnxVhd(uint16_t vhdhdl);
CNXSTATE* GetNewSecondaryCnxState(int dspNum);
// Index (0..15) of the connection record carrying this VHD, or -1.
int GetCnxIndexFromVHD(uint16_t vhdhdl);
bool IsCnxModeSupported(EPCNXMODE mode, int dspNum);
EPSTATUS Provision(const VRG_ENDPT* endpt, EPPROV item, void* value);
void PrintVhdInfo(void);
