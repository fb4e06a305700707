// Caller-ID transmit: packet intake, bit assembly and FSK generation.
#include "clidtx.h"

#include <algorithm>
#include <cstring>

#include "lhapi.h"
#include "qrn/qrn.h"

const HSFSRVARC clidtxsrvarc = {HAPI_CLIDTX_SRV, sizeof(HSZCLIDTXLOCLMEM), clidTxIO, nullptr, clidTxBlk, clidTxInit,
                                nullptr};

namespace {

constexpr int kBitsPerBlock = 6;
constexpr int kBitSamples[kBitsPerBlock] = {7, 7, 6, 7, 7, 6};  // 1200 baud at 8 kHz

// ---- pool and queue ----
int allocBuffer(HSZCLIDTXLOCLMEM* tx) {
  for (int i = 0; i < CLIDTX_POOL_BUFFERS; ++i) {
    if (!(tx->heapId & (1u << i))) {
      tx->heapId |= static_cast<uint16_t>(1u << i);
      return i;
    }
  }
  return -1;
}
void freeBuffer(HSZCLIDTXLOCLMEM* tx, int i) {
  if (i >= 0) tx->heapId &= static_cast<uint16_t>(~(1u << i));
}
void enqueue(HSZCLIDTXLOCLMEM* tx, int i) {
  tx->txQueue[(tx->queueHead + tx->queueCount) % CLIDTX_POOL_BUFFERS] = static_cast<uint8_t>(i);
  tx->queueCount += 1;
}
int dequeue(HSZCLIDTXLOCLMEM* tx) {
  if (tx->queueCount == 0) return -1;
  const int i = tx->txQueue[tx->queueHead];
  tx->queueHead = static_cast<uint16_t>((tx->queueHead + 1) % CLIDTX_POOL_BUFFERS);
  tx->queueCount -= 1;
  return i;
}
void flush(HSZCLIDTXLOCLMEM* tx) {
  for (int i; (i = dequeue(tx)) >= 0;) freeBuffer(tx, i);
  freeBuffer(tx, tx->packetp);
  tx->packetp = -1;
}

// ---- intake ----
void refuse(uint16_t why) { hsfObdSendStd(CLIDTX_REFUSED_EVT, why, 0); }

void takePacket(HSZCLIDTXLOCLMEM* tx, const HSFMSG& m) {
  HAPI_PKT_EGRESS_HDR_CLID hdr{};
  std::memcpy(&hdr, m.ext.bufp, sizeof(hdr));
  const uint16_t code = hdr.payloadID & 0xFF;
  bool error;
  if (!(tx->hsxstatus & CLIDTX_RECEIVING)) {
    error = code != 0;
    if (!error) tx->hsxstatus |= CLIDTX_RECEIVING;
  } else {
    error = code == 0 || (tx->hsxstatus & CLIDTX_LAST_PACKET);
  }
  if (error) {
    refuse(0);
    tx->hsxstatus &= static_cast<uint16_t>(~CLIDTX_SEQ_ERROR);
    return;
  }
  if (code == 2) tx->hsxstatus |= CLIDTX_LAST_PACKET;
  const int buf = allocBuffer(tx);
  if (buf < 0) {
    refuse(1);
    return;
  }
  // The header and its payloadLength bytes, but never more than the message holds or the buffer
  // fits.
  HSZCLASSRELAYPACKET& p = tx->bufpoolArray[buf];
  p = HSZCLASSRELAYPACKET{};
  const size_t bytes = std::min<size_t>({sizeof(hdr) + hdr.payloadLength, m.ext.length, sizeof(p)});
  std::memcpy(&p, m.ext.bufp, bytes);
  if (bytes < sizeof(HAPI_PKT_EGRESS_HDR_CLID) + 4) {
    p.hsxWord0 = 0;
    p.hsxWord1 = 0;
  }
  const int chars = static_cast<int>(bytes) - static_cast<int>(offsetof(HSZCLASSRELAYPACKET, hsxClassMsg));
  if (code != 0 && p.hsxWord0 > std::max(chars, 0)) p.hsxWord0 = static_cast<int16_t>(std::max(chars, 0));
  enqueue(tx, buf);
}

void intake(HSZCLIDTXLOCLMEM* tx) {
  HSFMSG m{};
  unsigned idx = 0;
  while (hsfIbdPeekOrRecv(HSF_IBD_PACKET, &m, idx, HSF_IBD_PEEK) != 0) {
    const bool ours = !HAPI_OPCODE_IS_STD(m.ext.header) && m.ext.bufp != nullptr &&
                      m.ext.length >= sizeof(HAPI_PKT_EGRESS_HDR_CLID) &&
                      (static_cast<const uint16_t*>(m.ext.bufp)[0] >> 8) == HAPI_PKT_CLASSRELAY;
    if (!ours) {
      ++idx;  // left for the next service
      continue;
    }
    hsfIbdPeekOrRecv(HSF_IBD_PACKET, &m, idx, HSF_IBD_RECEIVE);
    takePacket(tx, m);
  }
}

// ---- bits ----
// The next bit to send, or -1 when the queue has run empty.
int nextBit(HSZCLIDTXLOCLMEM* tx) {
  for (;;) {
    if (tx->packetp < 0) {
      tx->packetp = static_cast<int16_t>(dequeue(tx));
      tx->packetoffset = 0;
      tx->bitoffset = 0;
      if (tx->packetp < 0) return -1;
    }
    HSZCLASSRELAYPACKET& p = tx->bufpoolArray[tx->packetp];
    const uint16_t code = p.hsxPacketHdr.payloadID & 0xFF;
    if (code == 0 && (p.hsxWord0 > 0 || tx->bitoffset == 1)) {
      if (tx->bitoffset == 0) {  // channel seizure: 0 then 1
        tx->bitoffset = 1;
        return 0;
      }
      tx->bitoffset = 0;
      p.hsxWord0 = static_cast<int16_t>(p.hsxWord0 - 2);
      return 1;
    }
    if (code != 0 && p.hsxWord0 > 0 && tx->packetoffset < 21) {
      const uint16_t word = p.hsxClassMsg[tx->packetoffset];
      const uint16_t pos = tx->bitoffset;
      tx->bitoffset = static_cast<uint16_t>(pos + 1);
      if (pos == 0 || pos == 10) return 0;  // start bits
      if (pos >= 1 && pos <= 8) return (word >> (pos - 1)) & 1;
      if (pos >= 11 && pos <= 18) return (word >> (8 + pos - 11)) & 1;
      p.hsxWord0 = static_cast<int16_t>(p.hsxWord0 - 1);  // a stop bit ends a character
      if (pos == 19) {
        tx->bitoffset = 0;
        tx->packetoffset += 1;
      }
      return 1;
    }
    if (p.hsxWord0 <= 0 && p.hsxWord1 > 0) {
      p.hsxWord1 -= 1;
      return 1;
    }
    freeBuffer(tx, tx->packetp);
    tx->packetp = -1;
  }
}

// Bell 202 / V.23 FSK for up to six bits, added into the block: per bit the oscillator keeps its
// phase and takes the bit's frequency; the block's sines are made in one pass over its phases,
// straight into the media (each sample gets one saturating addition, as through a silent block).
void b202Transmit(HSZCLIDTXLOCLMEM* tx, const int* bits, int n, int16_t* media) {
  uint16_t phases[40];
  int at = 0;
  for (int i = 0; i < n; ++i) {
    hsfToneChangeFreq(&tx->tone, bits[i] ? tx->clidtxregs.MarkFrequency : tx->clidtxregs.SpaceFrequency);
    tx->tone.amplitude = tx->clidtxregs.Amplitude;
    uint16_t phase = tx->tone.phase;
    for (int k = 0; k < kBitSamples[i]; ++k, phase = static_cast<uint16_t>(phase + tx->tone.phaseInc)) phases[at++] = phase;
    tx->tone.phase = phase;
  }
  hsfToneGenPhases(media, phases, tx->clidtxregs.Amplitude, at);
}

void transmitBlock(HSZCLIDTXLOCLMEM* tx, int16_t* media) {
  if (tx->delaycounter < tx->clidtxregs.delay) {
    tx->delaycounter = static_cast<uint16_t>(tx->delaycounter + 5);
    return;
  }
  int bits[kBitsPerBlock];
  int n = 0;
  bool empty = false;
  while (n < kBitsPerBlock) {
    const int b = nextBit(tx);
    if (b < 0) {
      tx->hsxstatus |= CLIDTX_COMPLETE;
      empty = true;
      break;
    }
    bits[n++] = b;
  }
  b202Transmit(tx, bits, n, media);
  if (empty) {
    hsfObdSendStd(CLIDTX_END_EVT, 0, 0);
    tx->hsxstatus = CLIDTX_ENABLED;
  }
}

HAPIRESULT setReg1(HSZCLIDTXLOCLMEM* tx, uint16_t offset, uint16_t value) {
  if (tx->hsxstatus & CLIDTX_TRANSMITTING) return HAPIFAILURE;
  if (offset & 1) lhapiAssertHandlerVerbose("clidtx.c", __LINE__);
  if (offset / 2 >= sizeof(tx->clidtxregs) / 2) return HAPIFAILURE;  // past the record
  std::memcpy(reinterpret_cast<uint8_t*>(&tx->clidtxregs) + (offset / 2) * 2, &value, 2);
  return HAPISUCCESS;
}

}  // namespace

HAPIRESULT clidTxInit(HSFSRVOBJ srvp) {
  auto* tx = static_cast<HSZCLIDTXLOCLMEM*>(srvp);
  std::memset(tx, 0, sizeof(*tx));
  tx->clidtxregs = HAPI_CLIDTX_DEF_REGS;
  tx->packetp = -1;
  return HAPISUCCESS;
}

HAPIRESULT clidTxIO(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* /*reply*/) {
  auto* tx = static_cast<HSZCLIDTXLOCLMEM*>(srvp);
  switch (cmd->std.header) {
    case CLIDTX_ENABLE_CMD:
      if (cmd->std.op1 != 0 && !(tx->hsxstatus & CLIDTX_ENABLED)) {
        tx->hsxstatus = CLIDTX_ENABLED;
        hsfToneReset(&tx->tone, 0, tx->clidtxregs.Amplitude);
      } else if (cmd->std.op1 == 0 && (tx->hsxstatus & CLIDTX_ENABLED)) {
        tx->hsxstatus &= static_cast<uint16_t>(~CLIDTX_ENABLED);
        flush(tx);
      }
      return HAPISUCCESS;
    case CLIDTX_TRANSMIT_CMD:
      if (cmd->std.op1 != 0) {
        if (tx->hsxstatus & CLIDTX_TRANSMITTING) return HAPIFAILURE;
        tx->delaycounter = 0;
        tx->hsxstatus |= CLIDTX_TRANSMITTING;
        return HAPISUCCESS;
      }
      tx->hsxstatus &= static_cast<uint16_t>(~(CLIDTX_TRANSMITTING | CLIDTX_RECEIVING | CLIDTX_LAST_PACKET));
      flush(tx);
      return HAPISUCCESS;
    case CLIDTX_SETREGS_CMD:
      if ((tx->hsxstatus & CLIDTX_TRANSMITTING) || cmd->ext.bufp == nullptr || cmd->ext.length < sizeof(tx->clidtxregs)) {
        return HAPIFAILURE;
      }
      std::memcpy(&tx->clidtxregs, cmd->ext.bufp, sizeof(tx->clidtxregs));
      return HAPISUCCESS;
    case CLIDTX_SETREG1_CMD:
      return setReg1(tx, cmd->std.op1, cmd->std.op2);
    default:
      return HAPIFAILURE;
  }
}

void clidTxBlk(HSFSRVOBJ srvp) {
  auto* tx = static_cast<HSZCLIDTXLOCLMEM*>(srvp);
  if (!(tx->hsxstatus & CLIDTX_ENABLED)) return;
  intake(tx);
  if (!(tx->hsxstatus & CLIDTX_TRANSMITTING)) return;
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr || socket->memDesc[HSF_MEDQ_LOWBAND] == nullptr) return;
  int16_t* media = socket->memDesc[HSF_MEDQ_LOWBAND];
  const int frame = hsfFrmPeriodGet();
  for (int b = 0; b + 40 <= frame && (tx->hsxstatus & CLIDTX_TRANSMITTING); b += 40) transmitBlock(tx, media + b);
}
