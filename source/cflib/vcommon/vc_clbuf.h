// Client buffers of the modems: bit packets to and from the fax relay service, the receive-data
// parser that cuts page data at EOL, RTC, HDLC flags and the training check, and the local-modem
// events that carry both.
//
// A bit packet is a pool block of 16-bit words: word 0 the number of valid bits, then the bits,
// 16 to a word, the first bit in time in bit 0 of word 1.
#pragma once

#include <cstdint>

#include "mem/mem.h"
#include "vc_arith.h"
#include "vc_stm.h"

constexpr uint16_t vcPktWords(uint16_t bits) { return static_cast<uint16_t>(((bits + 15) >> 4) + 1); }

// ---- local-modem events ----
void vcfGenEventStd(uint16_t code, uint16_t op1, uint16_t op2);
// Copies words x 2 bytes of the packet into frame scratch, sends it and releases the packet.
void vcfGenEventExt(uint16_t code, uint16_t words, uint16_t* packet);
// Test harnesses receive the events here instead of the channel's in-band queue; null restores it.
// For extended events op1 is the length in bytes and data the packet's words.
using VCEVENTSINK = void (*)(uint16_t code, uint16_t op1, uint16_t op2, const uint16_t* data);
void vcfSetEventSink(VCEVENTSINK sink);

// ---- receive side ----
struct VCZCPYTOCLBUF {
  uint16_t rxNumbits;     // bits per full packet
  uint16_t* wipPacketp;   // packet being filled
  uint16_t wipBitPtr;     // next free bit in the current word
  uint16_t* wipWritep;    // current word
  QMQUEUE pktQ;           // full packets
  MEM_BufPool* heapId;
  uint16_t rxDataSentEvt;
};

void vcfInitCopyToClBuf(VCZCPYTOCLBUF* cpy, uint16_t packetBits, MEM_BufPool* pool,
                        uint16_t rxDataSentEvt);
void vcfCopyToClBuf(VCZCPYTOCLBUF* cpy, uint16_t bits, uint16_t n);
// A symbol's few bits (1 to 16) into the packet being filled, when they do not complete it: the
// receivers' case for nearly every symbol, as vcfCopyToClBuf writes them, into at most two
// words. False (nothing written) otherwise.
__attribute__((always_inline)) inline bool vcPutSymbolBits(VCZCPYTOCLBUF* c, uint16_t bits, uint16_t n) {
  uint16_t* pkt = c->wipPacketp;
  if (pkt == nullptr || n == 0 || n > 16 || pkt[0] + n >= c->rxNumbits) return false;
  const uint32_t at = pkt[0], offset = at & 15, part = bits & ((1u << n) - 1);
  uint16_t* w = pkt + 1 + (at >> 4);
  w[0] = static_cast<uint16_t>(offset == 0 ? part : w[0] | (part << offset));
  if (offset + n > 16) w[1] = static_cast<uint16_t>(part >> (16 - offset));
  pkt[0] = static_cast<uint16_t>(at + n);
  c->wipBitPtr = pkt[0] & 15;
  c->wipWritep = pkt + 1 + (pkt[0] >> 4);
  return true;
}
// A receiver's symbol into the client buffer: written in where it fits, else by the call.
__attribute__((always_inline)) inline void vcRxClbufSymbol(VCZCPYTOCLBUF* c, uint16_t bits, uint16_t n) {
  if (!vcPutSymbolBits(c, bits, n)) vcfCopyToClBuf(c, bits, n);
}
void vcfSendFullRxDataPkts(void* srv, VCZCPYTOCLBUF* cpy);
void vcfFlushRxDataPkts(void* srv, VCZCPYTOCLBUF* cpy);
void vcfDumpRxDataPkts(VCZCPYTOCLBUF* cpy);

// ---- transmit side ----
struct VCZIDLEPTN {
  uint16_t idlePtn[2][5];  // per pattern: bit count, then four words of bits
  uint16_t activePtn;
};

struct VCZEVENTCODE {
  uint16_t txDataSent;
  uint16_t txCmdQLow;
  uint16_t txCmdQUflow;
};

enum VCETXMODE : uint16_t { VCSYNC = 0, VCASYNC = 1 };

struct VCZCPYFRMCLBUF {
  uint32_t curWord;        // bit reservoir
  const uint16_t* clBufp;  // next word of the current source
  uint16_t txBitsRem;      // bits left in the source
  uint32_t clientBitsRem;  // client bits not yet sent
  uint16_t curWordBitPtr;  // bits held in curWord
  uint16_t* tempClientBuf;
  const VCZIDLEPTN* idlePatternp;
  uint16_t txDataCmdRd;  // a client packet is being sent
  VCZEVENTCODE eventCode;
  VCETXMODE txMode;
  QMQUEUE* txQp;
  uint16_t* packetp;
  void* srvp;
  bool lowSent;
  bool uflowSent;
  uint16_t txCmdQLowThresh;
  uint32_t curWordRealMask;  // which reservoir bits are client bits (not idle pattern)
};

void vcfInitCopyFromClBuf(VCZCPYFRMCLBUF* cpy, uint16_t txDataSent, uint16_t txCmdQLow,
                          uint16_t txCmdQUflow, uint16_t lowThresh, const VCZIDLEPTN* idlePattern,
                          void* srv, VCETXMODE txMode, QMQUEUE* queue);
uint16_t vcfCopyFromClBufGeneral(VCZCPYFRMCLBUF* cpy, uint16_t* out, uint16_t n);
// n (1 to 16) bits that the reservoir holds, taken as the general copy takes them.
inline uint16_t vcTakeHeldBits(VCZCPYFRMCLBUF* c, uint16_t* out, uint16_t n) {
  const uint32_t mask = (1u << n) - 1;
  out[0] = static_cast<uint16_t>((0xFFFFu & ~mask) | (c->curWord & mask));
  const uint32_t realBits = c->curWordRealMask & mask;  // all client bits, but near the idle pattern
  const uint16_t real = realBits == mask ? n : static_cast<uint16_t>(vcPopcount(realBits));
  c->curWord >>= n;
  c->curWordRealMask >>= n;
  c->curWordBitPtr = static_cast<uint16_t>(c->curWordBitPtr - n);
  c->clientBitsRem = c->clientBitsRem > real ? c->clientBitsRem - real : 0;
  return real;
}
// n client bits (n <= 24) at once, for a batch of symbols: the reservoir topped up by one whole
// word of the packet being sent when it holds too few, the bits taken only when all n are client
// bits. False, with nothing taken, otherwise: the copy a symbol at a time then takes them. A word
// moved into the reservoir early changes nothing that leaves it (the bits keep their order, and a
// packet ends only when a symbol needs more bits than the reservoir and the packet hold).
inline bool vcTakeClientBits(VCZCPYFRMCLBUF* c, uint16_t n, uint32_t* bits) {
  uint32_t held = c->curWordBitPtr;
  if (held < n) {
    if (held + 16 < n || held > 16 || c->txBitsRem < 16 || c->txDataCmdRd == 0) return false;
    c->curWord |= static_cast<uint32_t>(*c->clBufp++) << held;
    c->curWordRealMask |= 0xFFFFu << held;
    c->txBitsRem = static_cast<uint16_t>(c->txBitsRem - 16);
    held += 16;
    c->curWordBitPtr = static_cast<uint16_t>(held);
  }
  const uint32_t mask = (1u << n) - 1;
  if ((c->curWordRealMask & mask) != mask) return false;
  *bits = c->curWord & mask;
  c->curWord >>= n;
  c->curWordRealMask >>= n;
  c->curWordBitPtr = static_cast<uint16_t>(held - n);
  c->clientBitsRem = c->clientBitsRem > n ? c->clientBitsRem - n : 0;
  return true;
}
// A symbol's few bits from a reservoir that holds them are the case of nearly every call: taken
// here, inline; the rest by the general copy.
inline uint16_t vcfCopyFromClBuf(VCZCPYFRMCLBUF* c, uint16_t* out, uint16_t n) {
  if (n > 0 && n <= 16 && c->curWordBitPtr >= n) return vcTakeHeldBits(c, out, n);
  return vcfCopyFromClBufGeneral(c, out, n);
}
int vcfPackData(MEM_BufPool* pool, QMQUEUE* queue, uint16_t* packet, uint16_t blockBytes);
void vcfDumpTxDataPkts(VCZCPYFRMCLBUF* cpy);

// ---- receive-data parser ----
enum VCERXDATAFLAG : uint16_t { VCEOL = 1, VCRTC = 2, VCHDLC = 3, VCTCF = 4, VCNOFLAG = 5 };

struct VCZPARSERXDATA {
  VCERXDATAFLAG flag;  // what is looked for
  uint16_t oneCount;
  uint16_t zeroCount;
  uint16_t flagCount;
};

enum RXDATAEVENT : int32_t {
  vce_endStm_rx = -1,
  vce_default = 0,
  vce_EOL = 1,
  vce_RTC = 2,
  vce_HDLC = 3,
  vce_TCF = 4,
};

using RXDATAEV = VCZSTMROW<1>;
using RXEVQ = VCZSTMEVQN<2>;

struct VCZRXPKTPARAM {
  void* srvp;
  uint16_t rxDataEvt;
  VCZPARSERXDATA parseParam;
  const RXDATAEV* stp;
  RXEVQ evq;
  uint16_t* pktp;
  VCERXDATAFLAG flagDetected;
  MEM_BufPool* heapId;
};

extern const RXDATAEV vcRxDatas_turnOnEOL[];
extern const RXDATAEV vcRxDatas_turnOnRTC[];
extern const RXDATAEV vcRxDatas_turnOnQuiet[];
extern const RXDATAEV vcRxDatas_tcfTCF[];
extern const RXDATAEV vcRxDatas_tcfData[];
extern const RXDATAEV vcRxDatas_ecm[];
extern const RXDATAEV vcRxDatas_train[];

// Parses one packet (replaced by a rebuilt one on a hit); returns the flag found or VCNOFLAG.
VCERXDATAFLAG vcfParseRxData(MEM_BufPool* pool, uint16_t** packetInOut, VCZPARSERXDATA* parse);
void vcfbitcopy(uint16_t* dst, uint32_t dstBit, const uint16_t* src, uint32_t srcBit, uint32_t n);
void vcfInitRxDataHandler(void* srv, uint16_t rxDataEvt, uint16_t mode, MEM_BufPool* pool,
                          VCZRXPKTPARAM* param);
VCERXDATAFLAG vcfRxDataHandler(uint16_t* packet, VCZRXPKTPARAM* param);
VCERXDATAFLAG vcfFwdFaxRxData(VCZCPYTOCLBUF* cpy, VCZRXPKTPARAM* param);
int32_t vcfFreePkt(void* param);
