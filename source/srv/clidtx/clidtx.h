// The caller-ID transmit service: plays class-relay packets from the host (seizure, marks,
// message bytes) towards the phone as Bell 202 or V.23 FSK, after a start delay, six bits per
// 40-sample block.
#pragma once

#include <cstdint>

#include "hsf/hsf.h"
#include "tone.h"

inline constexpr uint16_t CLIDTX_SETREGS_CMD = HSF_MKCMD_EXT(HAPI_CLIDTX_SRV, 0x32);             // 0x0832
inline constexpr uint16_t CLIDTX_TRANSMIT_CMD = HSF_MKCMD_STD(HAPI_CLIDTX_SRV, 0);               // 0x0880
inline constexpr uint16_t CLIDTX_ENABLE_CMD = HSF_MKHDR(HAPI_CLIDTX_SRV, HAPI_OPC_ENABLE_CMD);    // 0x08B0
inline constexpr uint16_t CLIDTX_SETREG1_CMD = HSF_MKHDR(HAPI_CLIDTX_SRV, HAPI_OPC_SETREG1_CMD);  // 0x08B4
inline constexpr uint16_t CLIDTX_END_EVT = HSF_MKEVT_STD(HAPI_CLIDTX_SRV, 0);                    // 0x08C0
inline constexpr uint16_t CLIDTX_REFUSED_EVT = HSF_MKEVT_STD(HAPI_CLIDTX_SRV, 1);                // 0x08C1

inline constexpr uint16_t HAPI_PKT_CLASSRELAY = 7;

struct HSZCLIDTXREGS {
  uint16_t delay;  // ms of silence before the first bit
  uint16_t Amplitude;
  uint16_t MarkFrequency;
  uint16_t SpaceFrequency;
};
static_assert(sizeof(HSZCLIDTXREGS) == 8);
inline constexpr HSZCLIDTXREGS HAPI_CLIDTX_DEF_REGS = {500, 4788, 1200, 2200};

struct HAPI_PKT_EGRESS_HDR_CLID {
  uint16_t payloadID;  // HAPI_PKT_CLASSRELAY << 8 | packet code
  uint16_t payloadLength;
  uint16_t payloadOffset;
  uint16_t payloadTimeStampLow;
};

struct HSZCLASSRELAYPACKET {
  HAPI_PKT_EGRESS_HDR_CLID hsxPacketHdr;
  int16_t hsxWord0;   // seizure bits, or characters in hsxClassMsg
  uint16_t hsxWord1;  // mark bits that follow
  uint16_t hsxClassMsg[21];
};
static_assert(sizeof(HSZCLASSRELAYPACKET) == 54, "class-relay packet is 54 bytes");

// hsxstatus bits.
enum : uint16_t {
  CLIDTX_ENABLED = 0x01,
  CLIDTX_TRANSMITTING = 0x02,
  CLIDTX_COMPLETE = 0x04,
  CLIDTX_RECEIVING = 0x08,
  CLIDTX_SEQ_ERROR = 0x10,
  CLIDTX_LAST_PACKET = 0x20,
};

inline constexpr int CLIDTX_POOL_BUFFERS = 12;

struct HSZCLIDTXLOCLMEM {
  // The packet pool: twelve buffers, a free mask, and the queue as a ring of buffer indices.
  HSZCLASSRELAYPACKET bufpoolArray[CLIDTX_POOL_BUFFERS];
  uint16_t heapId;  // bit i set: buffer i is in use
  HSZTONE tone;
  HSZCLIDTXREGS clidtxregs;
  uint16_t hsxstatus;
  uint16_t delaycounter;  // ms
  uint16_t bitoffset;     // bit position within the current word (0..19)
  uint8_t txQueue[CLIDTX_POOL_BUFFERS];
  uint16_t queueHead;
  uint16_t queueCount;
  int16_t packetp;  // buffer being sent, -1 = none
  uint16_t packetoffset;  // word index in hsxClassMsg
};

extern const HSFSRVARC clidtxsrvarc;

HAPIRESULT clidTxInit(HSFSRVOBJ srvp);
HAPIRESULT clidTxIO(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* reply);
void clidTxBlk(HSFSRVOBJ srvp);
