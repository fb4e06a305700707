// The recording host of the service test channels: every message the framework hands the host
// is kept as a HostMsg; commands go out tagged and their answer is found by the tag. The channel
// harnesses (line services, codec service, RTP service) keep their own world and ticking.
#pragma once

#include <cstdint>
#include <vector>

#include "knl/knl.h"
#include "lhapi.h"
#include "qrn/qrn.h"

namespace hostcapture {

struct HostMsg {
  uint16_t header;
  uint16_t op1;  // length for an extended message
  uint16_t op2;
  bool response;
  HAPIRESULT result;
  uint16_t userTag;
  uint32_t mask;  // in-band data mask, 0 for messages
  std::vector<uint8_t> data;
  long frame;  // the harness's frame count when it arrived, where it keeps one
};

// Copies what the host was sent and gives the framework its buffer back. In-band data travels
// in the extended form whatever its header says when `inBandIsExt`.
inline HostMsg hostMsgTake(QRN_SocketMsg* msg, bool inBandIsExt, long frame = 0) {
  HostMsg m{};
  m.header = msg->msg.std.header;
  m.mask = (msg->msgFlags & QRN_MsgFlagObd) ? 0 : msg->id.mask;
  m.response = (msg->msgFlags & QRN_MsgFlagResponse) != 0;
  m.result = QRN_MsgResult(msg->msgFlags);
  m.userTag = msg->userTag;
  m.frame = frame;
  if (HAPI_OPCODE_IS_STD(m.header) && !(inBandIsExt && m.mask != 0)) {
    m.op1 = msg->msg.std.op1;
    m.op2 = msg->msg.std.op2;
  } else {
    m.op1 = msg->msg.ext.length;
    const auto* p = static_cast<const uint8_t*>(msg->msg.ext.bufp);
    if (p != nullptr) m.data.assign(p, p + msg->msg.ext.length);
  }
  QRN_FreeSocketMsg(msg);
  return m;
}

// Host commands to channel `vhd`, answered with a response carrying `tag`.
inline void hostCommandSend(QRN_Handle vhd, uint16_t header, uint16_t op1, uint16_t op2, uint16_t tag) {
  QRN_QueueStdObdMsg(vhd, header, op1, op2, HAPI_HOST_SRV, header >> 8, tag,
                     QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse);
}
inline void hostExtCommandSend(QRN_Handle vhd, uint16_t header, const void* data, uint16_t length, uint16_t tag) {
  QRN_QueueExtObdMsg(vhd, header, data, length, HAPI_HOST_SRV, header >> 8, tag,
                     QRN_MsgFlagHostMsg | QRN_MsgFlagGenResponse, HAPIVHD_HOST);
}

// The answer to the command tagged `tag`; null when none came.
inline const HostMsg* hostAnswer(const std::vector<HostMsg>& host, uint16_t tag) {
  for (const HostMsg& m : host) {
    if (m.response && m.userTag == tag) return &m;
  }
  return nullptr;
}

// Events (not answers) with `header`; with `messagesOnly`, not in-band data.
inline std::vector<HostMsg> hostEvents(const std::vector<HostMsg>& host, uint16_t header, bool messagesOnly) {
  std::vector<HostMsg> out;
  for (const HostMsg& m : host) {
    if (!m.response && m.header == header && !(messagesOnly && m.mask != 0)) out.push_back(m);
  }
  return out;
}

// One kernel tick, as the timer interrupt runs it.
inline void kernelTick() {
  HSZBIOSSTATE s = LHAPI_gpFncLockSMP();
  KNL_FrameSync();
  LHAPI_gpFncUnlockSMP(s);
}

}  // namespace hostcapture
