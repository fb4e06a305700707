// The packetiser as a service: superpackets from coded frames that reach it as in-band data, and
// checks of received packets without a jitter buffer behind them.
#include <cstring>

#include "lhapi.h"
#include "pve_pktize.h"

namespace {

constexpr HSF_IBD_MASK kPacketiserControl = 0x1;
constexpr uint16_t kIntervalBlock = 0x8842;
constexpr uint16_t kJitterBlock = 0x8840;

HSZPVEPKTMEM* memOf(HSFSRVOBJ srvp) { return static_cast<HSZPVEPKTMEM*>(srvp); }
bool piggy(uint16_t word) { return ((word >> 4) & 15) != 0; }

void disable(HSZPVEPKTMEM* m) {
  m->superpktctl.packetNull = true;
  reinterpret_cast<HAPI_PKT_HDR*>(m->superpacket)->payloadLength = 0;
  m->enabled = 0;
}

}  // namespace

HAPIRESULT pvepktInit(HSFSRVOBJ srvp) {
  HSZPVEPKTMEM* m = memOf(srvp);
  std::memset(m, 0, sizeof(*m));
  m->superpktctl.packetNull = true;
  m->lastBadCode = 0xFFFF;
  std::memcpy(m->pktSize, hsgpvepktsize.data(), sizeof(m->pktSize));
  return HAPISUCCESS;
}

HAPIRESULT pvepktIOctl(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG*) {
  HSZPVEPKTMEM* m = memOf(srvp);
  switch (cmd->std.header) {
    case HAPI_PVE_PKT_OPTION_CMD:
      m->superpktctl.piggyOption = piggy(cmd->std.op1);
      break;
    case HAPI_PVE_PKT_ENABLE_CMD:
      if (cmd->std.op1 == 1) {
        if (!m->everEnabled) m->havePrevious = 0;  // the duplicate filter starts empty
        m->everEnabled = 1;
        m->enabled = 1;
        m->superpktctl.piggyOption = piggy(cmd->std.op2);
        m->evtInfo = PVE_PKT_EVT_INFO{};
      } else {
        disable(m);
      }
      break;
    case HAPI_PVE_PKT_VOCODER_SUPPORT_CMD:
      // Extended: the table of bytes per frame, at most one word per voice code.
      if (cmd->ext.bufp != nullptr) {
        const size_t n = cmd->ext.length < sizeof(m->pktSize) ? cmd->ext.length : sizeof(m->pktSize);
        std::memcpy(m->pktSize, cmd->ext.bufp, n);
      }
      break;
    default:
      break;
  }
  return HAPISUCCESS;
}

void pvepktIngress(HSFSRVOBJ srvp) {
  HSZPVEPKTMEM* m = memOf(srvp);
  HSFMSG msg;
  while (hsfIbdPeekOrRecv(kPacketiserControl, &msg, 0, HSF_IBD_RECEIVE) != 0) {
    if (msg.std.header == HAPI_PVE_PKT_SETVOICERATE_CMD) {
      const unsigned code = msg.std.op1 & 0xFF;
      m->superpktctl.threadsize = static_cast<int16_t>(code < HAPI_PKT_VC_ALG_MAX ? pveEncPacketTime[code] : 0);
      m->superpktctl.superpacketinterval = static_cast<int16_t>(msg.std.op2);
      auto* block = static_cast<uint16_t*>(hsfMemAllocScratch(2));
      if (block != nullptr) {
        *block = msg.std.op2;
        hsfIbdSendExt(HSF_IBD_CONTROL, kIntervalBlock, 2, block);
      }
    } else if (msg.std.header == HAPI_PVE_PKT_ENCSTART_CMD) {
      m->superpktctl.packetNull = true;
      m->superpktctl.payloadCountDown = 0;
      m->enabled = 1;
    }
  }
  while (hsfIbdPeekOrRecv(HSF_IBD_PACKET, &msg, 0, HSF_IBD_RECEIVE) != 0) {
    const auto* frame = static_cast<const HAPI_PKT_HDR*>(msg.ext.bufp);
    if (frame == nullptr || msg.ext.length < sizeof(HAPI_PKT_HDR) || !m->enabled) continue;
    // A frame larger than the superpacket area cannot be gathered: it goes on its own.
    if (frame->payloadLength > 2 * PVE_PKT_SUPERPACKET_WORDS -
                                   reinterpret_cast<HAPI_PKT_HDR*>(m->superpacket)->payloadLength) {
      sendNetSuperPacket(m->superpacket);
      m->superpktctl.packetNull = true;
      hsfIbdSendExt(HSF_IBD_PACKET, HAPI_NET_INGRESSPACKET_EVT, msg.ext.length, msg.ext.bufp);
      continue;
    }
    encoder_packetize(m->superpacket, frame, &m->superpktctl);
  }
  for (unsigned i = 0; hsfIbdPeekOrRecv(HSF_IBD_CONTROL, &msg, i, HSF_IBD_PEEK) != 0; ++i) {
    if (msg.ext.header == kJitterBlock && msg.ext.bufp != nullptr && msg.ext.length >= 10) {
      static_cast<uint16_t*>(msg.ext.bufp)[4] = m->evtInfo.evtFrameDur;
    }
  }
}

void pvepktEgress(HSFSRVOBJ srvp) {
  HSZPVEPKTMEM* m = memOf(srvp);
  HSFMSG msg;
  while (hsfIbdPeekOrRecv(HSF_IBD_PACKET, &msg, 0, HSF_IBD_RECEIVE) != 0) {
    const auto* pkt = static_cast<const HAPI_PKT_EGRESS_HDR*>(msg.ext.bufp);
    if (pkt == nullptr || msg.ext.length < sizeof(HAPI_PKT_EGRESS_HDR)) continue;
    const uint8_t type = static_cast<uint8_t>(pkt->payloadID >> 8);
    if (type == HAPI_PKT_UNKNOWN) continue;
    if (type == HAPI_PKT_VOICE || type == HAPI_PKT_SID || type == HAPI_PKT_VOICEBANDDATA) {
      if (m->havePrevious && pkt->payloadTimeStampLow == m->previousTimestamp) continue;
      m->havePrevious = 1;
      m->previousTimestamp = pkt->payloadTimeStampLow;
      if (msg.ext.length >= sizeof(HAPI_PKT_EGRESS_HDR) + pkt->payloadLength) {
        decoder_unpacketize(pkt, &m->lastBadCode, m->pktSize, &m->evtInfo, nullptr);
      }
      continue;
    }
    hsfIbdSendExt(HSF_IBD_PACKET, msg.ext.header, msg.ext.length, msg.ext.bufp);
  }
}

const HSFSRVARC pvepktizearc = {HAPI_PVE_SRV, sizeof(HSZPVEPKTMEM), pvepktIOctl, pvepktIngress,
                                pvepktEgress, pvepktInit,          nullptr};
