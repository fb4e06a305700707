// Host DSP command layer.
#include "hdspCmd.h"

#include "hapi/hapi.h"
#include "voiceLog.h"
#include "vrgEndptIdleWd.h"

namespace {

HSZCMD makeCmd(uint16_t vhdhdl, uint16_t cmd, uint16_t reqId, uint16_t op1, uintptr_t op2) {
  HSZCMD c{};
  c.hsxdevhdl = vhdhdl;
  c.hsxcmd = cmd;
  c.hsxreqid = reqId;
  c.hsxop1 = op1;
  if ((reqId & 0xFF00) == HAPI_REQID_EXT_CMD) {
    c.hsxop2.ref = reinterpret_cast<void*>(op2);
  } else {
    c.hsxop2.val = static_cast<uint16_t>(op2);
  }
  return c;
}

// The DSP number is the high byte of every device handle.
uint16_t dspOf(uint16_t vhdhdl) { return static_cast<uint16_t>(vhdhdl >> 8); }

int16_t send(uint16_t vhdhdl, uint16_t cmd, uint16_t reqId, uint16_t op1, uintptr_t op2, bool sync) {
  HSZCMD c = makeCmd(vhdhdl, cmd, reqId, op1, op2);
  istwEvent(vhdhdl, ISTW_GENERIC_EVT, 0);
  const HAPIRESULT result = sync ? hapiIOctl(&c, dspOf(vhdhdl)) : hapiAsyncIOctl(&c, dspOf(vhdhdl));
  return static_cast<int16_t>(result);
}

}  // namespace

int16_t hdspSendCmd(uint16_t vhdhdl, uint16_t cmd, uint16_t reqId, uint16_t op1, uintptr_t op2) {
  return send(vhdhdl, cmd, reqId, op1, op2, true);
}

int16_t hdspSendCmdAsync(uint16_t vhdhdl, uint16_t cmd, uint16_t reqId, uint16_t op1, uintptr_t op2) {
  return send(vhdhdl, cmd, reqId, op1, op2, false);
}

int16_t hdspSendCmdData(uint16_t vhdhdl, uint16_t cmd, uint16_t reqId, uint16_t length, void* buffer) {
  return send(vhdhdl, cmd, reqId, length, reinterpret_cast<uintptr_t>(buffer), true);
}

int16_t hdspSendCmdDataAsync(uint16_t vhdhdl, uint16_t cmd, uint16_t reqId, uint16_t length,
                             void* buffer) {
  return send(vhdhdl, cmd, reqId, length, reinterpret_cast<uintptr_t>(buffer), false);
}

int16_t hdspSendDataPacket(uint16_t vhdhdl, HAPI_PKT_HDR* packet) {
  if (packet == nullptr) return HAPIFAILURE;
  istwEvent(vhdhdl, ISTW_GENERIC_EVT, 0);
  const uint16_t length = static_cast<uint16_t>(packet->payloadLength + sizeof(HAPI_PKT_HDR));
  return hdspSendCmdDataAsync(vhdhdl, HAPI_NET_EGRESSPACKET_CMD, HAPI_REQID_EXT_CMD, length, packet);
}

int16_t hdspSendVoicePacket(uint16_t vhdhdl, HAPI_PKT_HDR* packet) {
  if (packet == nullptr) return HAPIFAILURE;
  const uint16_t length = static_cast<uint16_t>(packet->payloadLength + sizeof(HAPI_PKT_HDR));
  HSZCMD c = makeCmd(vhdhdl, HAPI_NET_EGRESSPACKET_CMD, HAPI_REQID_EXT_CMD, length,
                     reinterpret_cast<uintptr_t>(packet));
  return static_cast<int16_t>(hapiAsyncIOctl(&c, dspOf(vhdhdl)));
}

int16_t hdspSendT38Packet(uint16_t vhdhdl, uint16_t length, void* packet) {
  HSZCMD c = makeCmd(vhdhdl, HAPI_T38_EGRESSPACKET_CMD, HAPI_REQID_EXT_CMD, length,
                     reinterpret_cast<uintptr_t>(packet));
  return static_cast<int16_t>(hapiAsyncIOctl(&c, dspOf(vhdhdl)));
}

int16_t hdspInit(HAPICALLBKP callback, uint16_t dspNum) {
  if (hapiInit(callback, dspNum) != HAPISUCCESS) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "HDSP: ENDPT: ERROR hapiInit FAILED");
    return -1;
  }
  return 0;
}

int16_t hdspDeinit(void) { return 0; }

int16_t hdspSetVbdPayloadType(HAPI_PKT_HDR*, int) { return 0; }

int16_t hdspGetOperationalStatus(uint16_t) { return 0; }
