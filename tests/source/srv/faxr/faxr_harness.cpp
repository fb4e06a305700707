// The fax relay service's test channel.
#include "faxr_harness.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "faxr_gateway_channel.h"
#include "qrn/qrn.h"

namespace faxrtest {

World& world() {
  static World w;
  return w;
}

namespace {

using faxrchan::kVhd;
using faxrchan::Probe;
using faxrchan::probeInit;
using faxrchan::tick;

void topIngress(HSFSRVOBJ) {
  HSFMSG m{};
  while (hsfIbdPeekOrRecv(0x2, &m, 0, HSF_IBD_RECEIVE) != 0) {
    const auto* hdr = static_cast<const HAPI_PKT_HDR*>(m.ext.bufp);
    Packet p{uint8_t(hdr->payloadID & 0xFF), hdr->payloadTimeStampLow, 0, {}};
    if (hdr->payloadLength >= 2) {
      const auto* w = reinterpret_cast<const uint16_t*>(hdr + 1);
      p.bits = w[0];
      for (int i = 0; i < (w[0] + 7) / 8; ++i) p.octets.push_back(uint8_t((i & 1) ? w[1 + i / 2] : w[1 + i / 2] >> 8));
    }
    world().sent.push_back(p);
  }
  while (hsfIbdPeekOrRecv(0xFFFFFFFFu, &m, 0, HSF_IBD_RECEIVE) != 0) {
  }
  ++world().frames;
}

void topEgress(HSFSRVOBJ) {
  World& w = world();
  if (w.toService.empty()) return;
  for (const auto& p : w.toService.front()) hsfIbdSendExtAlloc(0x8002, 0, uint16_t(p.size()), p.data());
  w.toService.pop_front();
}

HAPIRESULT modemIoctl(HSFSRVOBJ, HSFMSG* msg, HSFMSG*) {
  Cmd c{msg->std.header, msg->std.op1, msg->std.op2, {}, world().frames};
  if (HAPI_OPCODE_IS_EXT(msg->std.header) && msg->ext.bufp != nullptr) {
    const auto* p = static_cast<const uint8_t*>(msg->ext.bufp);
    c.data.assign(p, p + msg->ext.length);
    c.op1 = msg->ext.length;
    c.op2 = 0;
  }
  world().commands.push_back(c);
  return HAPISUCCESS;
}

void modemIngress(HSFSRVOBJ) {  // the lowest stand-in feeds the events of both modems
  World& w = world();
  if (w.modemEvents.empty()) return;
  for (const Evt& e : w.modemEvents.front()) {
    if (HAPI_OPCODE_IS_STD(e.header))
      hsfIbdSendStd(0x10, e.header, e.op1, e.op2);
    else
      hsfIbdSendExtAlloc(0x10, e.header, uint16_t(e.data.size()), e.data.data());
  }
  w.modemEvents.pop_front();
}

const HSFSRVARC topArc = {HAPI_T38_SRV, sizeof(Probe), nullptr, topIngress, topEgress, probeInit, nullptr};
const HSFSRVARC v21Arc = {HAPI_V21_SRV, sizeof(Probe), modemIoctl, nullptr, nullptr, probeInit, nullptr};
const HSFSRVARC vfxArc = {HAPI_VFAX_SRV, sizeof(Probe), modemIoctl, modemIngress, nullptr, probeInit, nullptr};

const QRN_ServiceArchive kStack[4] = {
    {&topArc, 1, HAPI_HOST_SRV},
    {&faxrarc, 1, HAPI_HOST_SRV},
    {&v21Arc, 1, HAPI_FAXR_SRV},
    {&vfxArc, 1, HAPI_FAXR_SRV},
};

uint16_t gTag = 100;
int gResult = -2;
std::vector<uint8_t> gAnswer;

void host(QRN_Handle, QRN_SocketMsg* msg) {
  const uint16_t h = msg->msg.std.header;
  if (msg->msgFlags & QRN_MsgFlagResponse) {
    if (msg->userTag == gTag) {
      gResult = QRN_MsgResult(msg->msgFlags) == HAPISUCCESS ? 0 : -1;
      gAnswer.clear();
      if (HAPI_OPCODE_IS_EXT(h) && msg->msg.ext.bufp != nullptr) {
        const auto* p = static_cast<const uint8_t*>(msg->msg.ext.bufp);
        gAnswer.assign(p, p + msg->msg.ext.length);
      }
    }
  } else {
    Evt e{h, msg->msg.std.op1, msg->msg.std.op2, {}};
    if (HAPI_OPCODE_IS_EXT(h)) {
      e.op1 = msg->msg.ext.length;
      e.op2 = 0;
      if (msg->msg.ext.bufp != nullptr) {
        const auto* p = static_cast<const uint8_t*>(msg->msg.ext.bufp);
        e.data.assign(p, p + msg->msg.ext.length);
      }
    }
    world().host.push_back(e);
  }
  QRN_FreeSocketMsg(msg);
}

}  // namespace

HSZFAXRLOCLMEM* inst() {
  QRN_Socket* s = QRN_FindSocket(kVhd);
  if (s == nullptr) return nullptr;
  QRN_Service* srv = QRN_FindServiceById(s, HAPI_FAXR_SRV);
  return srv != nullptr ? static_cast<HSZFAXRLOCLMEM*>(srv->serviceData) : nullptr;
}

void open() {
  world() = World{};
  faxrchan::openChannel(host, kStack, 100000);
  runFrames(2);
}

void close() { faxrchan::closeChannel(); }

void runFrames(long n) {
  const long target = world().frames + n;
  for (long guard = 0; world().frames < target && guard < 8 * n + 16; ++guard) tick();
}

int command(uint16_t header, uint16_t op1, uint16_t op2, std::vector<uint8_t>* answer) {
  ++gTag;
  gResult = -2;
  QRN_QueueStdObdMsg(kVhd, header, op1, op2, HAPI_HOST_SRV, header >> 8, gTag, QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse);
  runFrames(1);
  if (answer != nullptr) *answer = gAnswer;
  return gResult;
}

int extCommand(uint16_t header, const void* data, uint16_t length) {
  ++gTag;
  gResult = -2;
  QRN_QueueExtObdMsg(kVhd, header, data, length, HAPI_HOST_SRV, header >> 8, gTag,
                     QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse, HAPIVHD_HOST);
  runFrames(1);
  return gResult;
}

std::vector<uint8_t> relayPacket(uint8_t code, const std::vector<uint8_t>& octets, uint16_t stamp, int bits) {
  const size_t payload = octets.empty() && bits < 0 ? 0 : 2 + octets.size() + (octets.size() & 1);
  std::vector<uint8_t> p(8 + payload, 0);
  auto* hdr = reinterpret_cast<HAPI_PKT_HDR*>(p.data());
  hdr->payloadID = uint16_t(0x0500 | code);
  hdr->payloadLength = uint16_t(payload);
  hdr->payloadTimeStampLow = stamp;
  if (payload != 0) {
    auto* w = reinterpret_cast<uint16_t*>(p.data() + 8);
    w[0] = uint16_t(bits >= 0 ? bits : int(octets.size() * 8));
    for (size_t i = 0; i < octets.size(); ++i) w[1 + i / 2] = uint16_t(w[1 + i / 2] | ((i & 1) ? octets[i] : octets[i] << 8));
  }
  return p;
}

std::vector<uint8_t> hdlcLineBits(const std::vector<std::vector<uint8_t>>& frames, int flags, bool badFcs) {
  std::vector<uint8_t> bits;
  auto flag = [&] {
    for (int b = 7; b >= 0; --b) bits.push_back(uint8_t((0x7E >> b) & 1));
  };
  for (int i = 0; i < flags; ++i) flag();
  for (const auto& f : frames) {
    std::vector<uint8_t> raw;
    for (uint8_t o : f)
      for (int b = 7; b >= 0; --b) raw.push_back(uint8_t((o >> b) & 1));
    uint16_t crc = 0xFFFF;  // bit by bit, in line order
    for (uint8_t b : raw) {
      const bool fb = ((crc >> 15) ^ b) & 1;
      crc = uint16_t(crc << 1);
      if (fb) crc ^= 0x1021;
    }
    const uint16_t fcs = badFcs ? uint16_t(~crc ^ 0x0101) : uint16_t(~crc);
    for (int b = 15; b >= 0; --b) raw.push_back(uint8_t((fcs >> b) & 1));
    int ones = 0;
    for (uint8_t b : raw) {
      bits.push_back(b);
      ones = b ? ones + 1 : 0;
      if (ones == 5) {
        bits.push_back(0);
        ones = 0;
      }
    }
    flag();
  }
  return bits;
}

std::vector<Evt> v21Packets(const std::vector<uint8_t>& bits) {
  std::vector<Evt> out;
  for (size_t at = 0; at < bits.size(); at += 8) {
    const size_t n = std::min<size_t>(8, bits.size() - at);
    uint16_t w[2] = {uint16_t(n), 0};
    for (size_t i = 0; i < n; ++i)
      if (bits[at + i]) w[1] = uint16_t(w[1] | (1u << i));  // first line bit least significant
    Evt e{0x0D42, 4, 0, std::vector<uint8_t>(4)};
    std::memcpy(e.data.data(), w, 4);
    out.push_back(e);
  }
  return out;
}

int leadingFlags(const std::vector<uint8_t>& bits) {
  static const uint8_t kFlag[] = {0, 1, 1, 1, 1, 1, 1, 0};
  int n = 0;
  for (size_t i = 0; i + 8 <= bits.size() && std::equal(std::begin(kFlag), std::end(kFlag), bits.begin() + long(i)); i += 8) ++n;
  return n;
}

std::vector<std::vector<uint8_t>> decodeHdlc(const std::vector<uint8_t>& bits, std::vector<bool>* good) {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> cur;
  int ones = 0;
  bool inFrame = false;
  uint8_t shift = 0;
  for (uint8_t b : bits) {
    shift = uint8_t((shift << 1) | b);
    if (b) {
      ++ones;
      cur.push_back(1);
      continue;
    }
    if (ones == 5) {  // inserted zero
      ones = 0;
      continue;
    }
    if (ones == 6) {  // flag: what came before it (less its first seven bits) is a frame
      cur.resize(cur.size() >= 7 ? cur.size() - 7 : 0);
      if (inFrame && cur.size() >= 24 && cur.size() % 8 == 0) {
        std::vector<uint8_t> f;
        for (size_t i = 0; i < cur.size(); i += 8) {
          uint8_t o = 0;
          for (int k = 0; k < 8; ++k) o = uint8_t((o << 1) | cur[i + size_t(k)]);
          f.push_back(o);
        }
        uint16_t crc = 0xFFFF;
        for (size_t i = 0; i + 16 < cur.size(); ++i) {
          const bool fb = ((crc >> 15) ^ cur[i]) & 1;
          crc = uint16_t(crc << 1);
          if (fb) crc ^= 0x1021;
        }
        const uint16_t got = uint16_t((f[f.size() - 2] << 8) | f.back());
        if (good != nullptr) good->push_back(uint16_t(~crc) == got);
        f.resize(f.size() - 2);
        frames.push_back(f);
      }
      inFrame = true;
      cur.clear();
      ones = 0;
      continue;
    }
    ones = 0;
    cur.push_back(0);
  }
  return frames;
}

std::vector<uint8_t> commandBits(uint16_t header) {
  std::vector<uint8_t> bits;
  for (const Cmd& c : world().commands) {
    if (c.header != header || c.data.size() < 2) continue;
    uint16_t n;
    std::memcpy(&n, c.data.data(), 2);
    for (int i = 0; i < n; ++i) {
      uint16_t w;
      std::memcpy(&w, c.data.data() + 2 + 2 * (i / 16), 2);
      bits.push_back(uint8_t((w >> (i % 16)) & 1));  // first line bit least significant
    }
  }
  return bits;
}

std::vector<std::vector<uint8_t>> framesToNetwork(std::vector<uint8_t>* endCodes) {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<uint8_t> cur;
  for (const Packet& p : world().sent) {
    if (p.code < 18 || p.code > 22) continue;
    cur.insert(cur.end(), p.octets.begin(), p.octets.end());
    if (p.code == 18) continue;
    if (endCodes != nullptr) endCodes->push_back(p.code);
    frames.push_back(cur);
    cur.clear();
  }
  return frames;
}

}  // namespace faxrtest
