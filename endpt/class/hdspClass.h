// Caller ID and message waiting on the DSP, host side. Transmission (FXS lines): configure the
// caller-ID transmit service of the line VHD and hand it the message as class-relay packets
// (SDMF/MDMF with a byte checksum, or the Japanese format with parity and CRC), or send the
// caller ID as DTMF through the digit and tone service. Reception (FXO lines): configure the
// caller-ID receive service of the PSTN VHD, gather the bytes it reports, check and parse them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hapi/hapi_types.h"
#include "vrgEndptTypes.h"
#include "vrgProvValues.h"

// The caller as the line knows it; the same 83-byte record that EPEVT_FSK_CLIDRX carries.
typedef EPCLIDRX_DATA CLASS_CLID_STATE;
typedef EPCLIDRX_DATA HDSP_CLASS_CLIDRX_DATA;

enum CLASS_MSG_TYPE : int32_t {
  CLASS_MSG_ONHOOK_CLID = 1,
  CLASS_MSG_OFFHOOK_CLID = 2,
  CLASS_MSG_VMWI = 3,
};

enum CLASS_VMWI_TYPE : int32_t {
  CLASS_VMWI_ACTIVATE = 1,
  CLASS_VMWI_DEACTIVATE = 2,
};

inline constexpr int CLASS_MDMF_FORMAT = 1;
inline constexpr int CLIDRX_PARSE_BUF_SIZE = 99;

// What the receive side gathers for one message.
struct HDSP_CLASS_CLIDRX_STATE {
  uint16_t numMark;
  uint16_t numSeizure;
  uint16_t msgLen;  // bytes gathered so far
  uint8_t parseBuf[CLIDRX_PARSE_BUF_SIZE];
  uint8_t* parseBufp;  // next write position
  EPCLIDRX_DATA clidRxData;
};

enum CLIDRX_PKT_CODE : uint16_t {
  CLIDRX_PKT_START = 0,
  CLIDRX_PKT_BODY = 1,
  CLIDRX_PKT_END = 2,
};

inline constexpr int CLIDRX_PKT_MAX_BYTES = 16;

// Data of the receive service's packet event (0x3440).
struct HSZCLIDRXPACKET {
  uint16_t hsxClassCode;
  uint16_t hsxClassMsgWord0;  // byte count of body and end packets
  uint16_t hsxClassMsgWord1;
  uint16_t hsxClassMsg[8];  // message bytes, two per word, low byte first
};
static_assert(sizeof(HSZCLIDRXPACKET) == 22);

// Header of a packet towards a service of the channel.
struct HAPI_PKT_EGRESS_HDR {
  uint16_t payloadID;
  uint16_t payloadLength;  // bytes after the header
  uint16_t payloadOffset;
  uint16_t payloadTimeStampLow;
};
static_assert(sizeof(HAPI_PKT_EGRESS_HDR) == sizeof(HAPI_PKT_HDR));

inline constexpr int CLASS_RELAY_MSG_WORDS = 21;

struct HSZCLASSRELAYPACKET {
  HAPI_PKT_EGRESS_HDR hsxPacketHdr;
  int16_t hsxWord0;
  uint16_t hsxWord1;
  uint16_t hsxClassMsg[CLASS_RELAY_MSG_WORDS];
};
static_assert(sizeof(HSZCLASSRELAYPACKET) == 54);

inline constexpr uint16_t HAPI_PKT_CLASSRELAY_START = 0x0700;
inline constexpr uint16_t HAPI_PKT_CLASSRELAY_DATA = 0x0701;
inline constexpr uint16_t HAPI_PKT_CLASSRELAY_END = 0x0702;

struct HSZCLIDTXREGS {
  uint16_t delay;      // ms of silence before the first bit
  uint16_t Amplitude;  // Q15
  uint16_t MarkFrequency;
  uint16_t SpaceFrequency;
};
static_assert(sizeof(HSZCLIDTXREGS) == 8);

struct HSZCLIDRXREGS {
  uint16_t hsxminseizurelen;
  uint16_t hsxminmarklen;
  uint16_t hsxmaxmsglen;
  int16_t hsxminrxthreshold;
};
static_assert(sizeof(HSZCLIDRXREGS) == 8);

// Digits for the digit and tone service's dial-string generator.
struct HAPI_PTE_DIALSTRING {
  uint16_t encoderType;
  uint16_t dBmLevel;
  uint16_t dBmSkew;
  uint16_t pulseOnTime;   // 8 kHz samples
  uint16_t pulseOffTime;  // 8 kHz samples
  uint16_t pauseTime;     // 8 kHz samples
  uint16_t numCharacters;
  uint16_t digitArray[16];  // one digit code per byte
};
static_assert(sizeof(HAPI_PTE_DIALSTRING) == 46);
inline constexpr int PTE_DIALSTRING_MAX_DIGITS = 32;

struct DBM2Q15MAP {
  uint16_t level;  // 0.1 dB below 0 dBm0
  uint16_t amplitude;
};
inline constexpr int DBM2Q15_ROWS = 42;
extern const DBM2Q15MAP gdBm2Q15Map[DBM2Q15_ROWS];

namespace hdsp {
inline constexpr uint16_t CLIDTX_SETREGS_CMD = HSF_MKCMD_EXT(HAPI_CLIDTX_SRV, 0x32);        // 0x0832
inline constexpr uint16_t CLIDTX_TRANSMIT_CMD = HSF_MKCMD_STD(HAPI_CLIDTX_SRV, 0);          // 0x0880
inline constexpr uint16_t CLIDTX_ENABLE_CMD = HSF_MKHDR(HAPI_CLIDTX_SRV, HAPI_OPC_ENABLE_CMD);  // 0x08B0
inline constexpr uint16_t CLIDTX_END_EVT = HSF_MKEVT_STD(HAPI_CLIDTX_SRV, 0);               // 0x08C0
inline constexpr uint16_t CLIDTX_REFUSED_EVT = HSF_MKEVT_STD(HAPI_CLIDTX_SRV, 1);           // 0x08C1
inline constexpr uint16_t HAPI_CLIDRX_SETREGS_CMD = HSF_MKCMD_EXT(HAPI_CLIDRX_SRV, 0x32);        // 0x3432
inline constexpr uint16_t HAPI_CLIDRX_PKT_EVT = HSF_MKEVT_EXT(HAPI_CLIDRX_SRV, 0);               // 0x3440
inline constexpr uint16_t HAPI_PTE_DIALSTRING_CMD = HSF_MKCMD_EXT(HAPI_PTE_SRV, 2);              // 0x0902
inline constexpr uint16_t HAPI_PTE_TONE_GEN_EVT = HSF_MKEVT_EXT(HAPI_PTE_SRV, 2);                // 0x0942
inline constexpr uint16_t HAPI_PTE_TONE_ON_EVT = HSF_MKEVT_STD(HAPI_PTE_SRV, 0);                 // 0x09C0
inline constexpr uint16_t HAPI_PTE_TONE_OFF_EVT = HSF_MKEVT_STD(HAPI_PTE_SRV, 1);                // 0x09C1
}  // namespace hdsp

// Receive-service defaults for on-hook caller ID outside Japan and the UK.
inline constexpr uint16_t CLIDRXSEIZURELEN = 250;
inline constexpr uint16_t CLIDRXMARKLEN = 150;
inline constexpr uint16_t CLIDRXMAXMSGLEN = 255;
inline constexpr int16_t CLIDRXMINTHRESHOLD = -35;

// --- transmission ---
int hdspClassMessage(const CLASS_CLID_STATE* caller, uint16_t vhdhdl, int lineId, VRG_COUNTRY country,
                     CLASS_MSG_TYPE classType, const VRG_CLASS_FSK* fsk, int txDelay);
int hdspClassVmwi(uint16_t vhdhdl, int lineId, CLASS_VMWI_TYPE type, int format, const VRG_CLASS_FSK* fsk,
                  VRG_COUNTRY country);
int hdspClassDtmfTransmit(uint16_t vhdhdl, const CLASS_CLID_STATE* caller, const VRG_CLASS_DTMF* dtmf);
int hdspClassDtmfTransmitVmwi(uint16_t vhdhdl, CLASS_VMWI_TYPE type, const VRG_CLASS_DTMF* dtmf);
int hdspClassTransmit(uint16_t vhdhdl);
int hdspClassStopTransmit(uint16_t vhdhdl);
int hdspClassDtmfStopTransmit(uint16_t vhdhdl);
int hdspClassEnable(uint16_t vhdhdl);
int hdspClassDisable(uint16_t vhdhdl);
int classTxConfigure(uint16_t vhdhdl, int lineId, const VRG_CLASS_FSK* fsk, int txDelay);
// The amplitude for a level in 0.1 dB below 0 dBm0 (first row at or past the level).
uint16_t classLevelToQ15(int level);
// One step of the Japanese caller ID's CRC-16 (polynomial 0x1021, bits taken LSB first).
uint16_t classJCLIDChecksum(uint8_t byte, uint16_t crc);
// The whole CRC of a byte string as sent (the final value bit-reversed).
uint16_t classJCLIDCrc(const uint8_t* bytes, size_t count);

// --- reception ---
int classRxConfigure(uint16_t vhdhdl, VRG_COUNTRY country, CLASS_MSG_TYPE classType);
EPSTATUS enableFskClidRx(int flag, uint16_t pstnVhdHdl);
// 1 when the packet completed a message that parsed (the state's clidRxData holds it), else 0.
int hdspClidRxParse(VRG_COUNTRY country, const HSZCLIDRXPACKET* packet, HDSP_CLASS_CLIDRX_STATE* state);
void hdspClidRxReset(HDSP_CLASS_CLIDRX_STATE* state);

// The daemon's "date,number,name" caller string: 0, or -1 when there is none.
int hdspClassParseStr(const char* text, VRG_COUNTRY country, EPCLIDRX_DATA* out);
// The absence reason that a number or name field stands for, or 0 when it is a real value.
char isClidBlocked(const char* field, VRG_COUNTRY country);
