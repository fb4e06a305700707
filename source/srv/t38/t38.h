// The T.38 service: fax-relay packets of the fax relay service to IFP packets in UDPTL datagrams
// towards the network, and received datagrams back into fax-relay packets after a reorder delay.
#pragma once

#include <cstdint>

#include "hsf/hsf.h"
#include "t38_dg.h"
#include "t38_ifp.h"
#include "t38_regs.h"
#include "t38_udptl.h"

struct HAPI_T38_STATS {
  struct {
    uint16_t frameCountHigh, frameCountLow, unknownPkt, bufferPoolDry;
  } ingress;
  struct {
    uint16_t frameCountHigh, frameCountLow, reorderCount, failtoReorderCount, invalidIFPCount, bufferPoolDry;
  } egress;
};
static_assert(sizeof(HAPI_T38_STATS) == 20, "T.38 statistics are 20 bytes");

struct HAPI_T38_STATE {
  uint16_t status;  // bit 0: enabled
  uint16_t reserved;
};
constexpr uint16_t HAPI_T38_ENABLE = 0x1;

constexpr uint16_t T38_SETREGS_CMD = HSF_MKHDR(HAPI_T38_SRV, HAPI_OPC_SETREGS_CMD);        // 0x1732
constexpr uint16_t T38_SHUTDOWN_CMD = HSF_MKCMD_STD(HAPI_T38_SRV, 0);                     // 0x1780
constexpr uint16_t T38_ENABLE_CMD = HSF_MKHDR(HAPI_T38_SRV, HAPI_OPC_ENABLE_CMD);          // 0x17B0
constexpr uint16_t T38_GETREGS_CMD = HSF_MKHDR(HAPI_T38_SRV, HAPI_OPC_GETREGS_CMD);        // 0x17B1
constexpr uint16_t T38_SETREG1_CMD = HSF_MKHDR(HAPI_T38_SRV, HAPI_OPC_SETREG1_CMD);        // 0x17B4
constexpr uint16_t T38_GETSTATS_CMD = HSF_MKHDR(HAPI_T38_SRV, HAPI_OPC_GETSTATS_CMD);      // 0x17B5
constexpr uint16_t T38_GETSTATE_CMD = HSF_MKHDR(HAPI_T38_SRV, HAPI_OPC_GETSTATE_CMD);      // 0x17B6
constexpr uint16_t T38_REGUPDATE_CMD = HSF_MKHDR(HAPI_T38_SRV, HAPI_OPC_REG_UPDATE_CMD);   // 0x17B7
constexpr uint16_t T38_RESETSTATS_CMD = HSF_MKHDR(HAPI_T38_SRV, HAPI_OPC_RESET_STATS_CMD); // 0x17B8
constexpr uint16_t T38_SHUTDOWN_EVT = HSF_MKEVT_STD(HAPI_T38_SRV, 0);                     // 0x17C0
constexpr uint16_t T38_DISABLED_EVT = HSF_MKEVT_STD(HAPI_T38_SRV, 2);                     // 0x17C2

constexpr int T38_POOL_BLOCKS = 96;
constexpr uint32_t T38_BLOCK_BYTES = 104;
constexpr size_t T38_POOL_BYTES =
    sizeof(MEM_BufPool) + 16 + T38_POOL_BLOCKS * (MEM_BLOCK_HDR_SIZE + T38_BLOCK_BYTES + sizeof(void*) + 8);

// The first packets of a V.21 frame whose octets' place in it is kept.
constexpr int T38_HANDED_STARTS = 8;

struct T38ZLOCLMEM {
  unsigned char bufpoolArray[T38_POOL_BYTES];
  MEM_BufPool* heapId;
  HAPI_T38_STATE state;
  HAPI_T38_REGS regs;
  HAPI_T38_STATS stats;
  bool resetStats;
  bool shutdown;
  uint16_t egressTimeStamp;
  T38ZCONV conv;             // msgtype, flushState, flushMode
  T38ZUDPTX tx;              // sequence numbers and the redundancy history
  T38ZREORDER rx;            // reorder queue, time, lastoutTimeStamp, lastTimeStamp
  QMQUEUE ingressHapiPktq;   // fax-relay packets waiting to be sent; the service's own: no lock
  bool lossInFrame;          // packets were lost for good since the last HDLC frame end handed on
  bool lossInFrameOut;       // the same on the way out: relay packets the pool had no block for
  bool v21FrameOpen;         // V.21 frame octets were handed on since the last signal or frame end
  // of the V.21 frame open: its octets handed on (counted up to 3), its control and command
  // octets, whether a packet of it played contested, and whether one did against the packet of the
  // number beside (a peer's numbering that stepped)
  uint8_t v21Octets, v21Control, v21Command;
  bool v21Contested, v21StepShaped;
  uint8_t frameData;         // the data code of the HDLC frame open (V.21 or ECM), 0 when none is
  // the numbers of the packets the HDLC frame handed on last came in (`handedKnown`), and whether
  // that was a V.21 frame whose end was handed on: a later copy that contradicts one of them
  // voids it (the receiver's rule 7)
  uint16_t handing;          // the number of the packet being handed on
  uint16_t handedFrom, handedTo;
  bool handedKnown, handedV21Ended;
  // of a V.21 frame handed on: its octets so far, and where the octets of its first packets (by
  // number from handedFrom) start; and whether the frame open lost nothing but a packet a later
  // copy contradicted, nothing handed on since: copies that outvote it mend the frame (rule 7)
  uint8_t handedOctets;
  uint8_t handedStart[T38_HANDED_STARTS + 1];
  bool lossOnlyContradicted;
};

extern const HSFSRVARC t38arc;

HAPIRESULT t38Init(HSFSRVOBJ service);
HAPIRESULT t38IOctl(HSFSRVOBJ service, HSFMSG* command, HSFMSG* reply);
void t38Ingress(HSFSRVOBJ service);
void t38Egress(HSFSRVOBJ service);
