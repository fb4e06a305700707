#include "hostDspDouble.h"

#include <cstring>

#include "casCtl.h"
#include "hapi/hapi_types.h"
#include "hdspCmd.h"
#include "hdspTone.h"
#include "vrgEndptIdleWd.h"

HostDspDouble& HostDspDouble::get() {
  static HostDspDouble instance;
  return instance;
}

std::vector<DspRequest> HostDspDouble::packets() const {
  std::vector<DspRequest> out;
  for (const DspRequest& r : dsp) {
    if (r.cmd == HAPI_NET_EGRESSPACKET_CMD) out.push_back(r);
  }
  return out;
}

std::vector<std::string> HostDspDouble::lineCalls() const {
  std::vector<std::string> out;
  for (const LineRequest& r : line) out.push_back(r.call);
  return out;
}

namespace {

int16_t record(uint16_t vhdhdl, uint16_t cmd, uint16_t op1, uintptr_t op2, bool sync, const void* data, size_t size) {
  HostDspDouble& d = HostDspDouble::get();
  DspRequest r{vhdhdl, cmd, op1, op2, sync, {}};
  if (data != nullptr) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    r.data.assign(bytes, bytes + size);
  }
  d.dsp.push_back(r);
  if (d.failCmd != 0 && cmd == d.failCmd) return -1;
  return static_cast<int16_t>(d.result);
}

}  // namespace

CAS_CTL_STATUS lineCall(const char* name, std::vector<long> args) {
  HostDspDouble::get().line.push_back({name, std::move(args)});
  return CAS_CTL_SUCCESS;
}

int16_t hdspSendCmd(uint16_t vhdhdl, uint16_t cmd, uint16_t, uint16_t op1, uintptr_t op2) {
  return record(vhdhdl, cmd, op1, op2, true, nullptr, 0);
}
int16_t hdspSendCmdAsync(uint16_t vhdhdl, uint16_t cmd, uint16_t, uint16_t op1, uintptr_t op2) {
  return record(vhdhdl, cmd, op1, op2, false, nullptr, 0);
}
int16_t hdspSendCmdData(uint16_t vhdhdl, uint16_t cmd, uint16_t, uint16_t length, void* buffer) {
  return record(vhdhdl, cmd, length, 0, true, buffer, length);
}
int16_t hdspSendCmdDataAsync(uint16_t vhdhdl, uint16_t cmd, uint16_t, uint16_t length, void* buffer) {
  return record(vhdhdl, cmd, length, 0, false, buffer, length);
}
int16_t hdspSendDataPacket(uint16_t vhdhdl, HAPI_PKT_HDR* packet) {
  const size_t size = packet->payloadLength + sizeof(HAPI_PKT_HDR);
  return record(vhdhdl, HAPI_NET_EGRESSPACKET_CMD, static_cast<uint16_t>(size), 0, false, packet, size);
}

int hdspToneAdjustEgressPowerLevel(int level, int) { return level + HostDspDouble::get().egressLevelOffset; }
int hdspToneOn(uint16_t vhdhdl, int lineId, int tone, int delay, int toneType, const HDSP_TONE_PROV_PATTERN* pattern,
               HDSP_TONE_DIRECTION direction, int, VRG_COUNTRY) {
  lineCall("hdspToneOn", {vhdhdl, lineId, tone, delay, toneType, pattern != nullptr ? static_cast<long>(pattern->tones) : -1,
                          direction});
  return HostDspDouble::get().toneResult;
}
int hdspToneOff(uint16_t vhdhdl, HDSP_TONE_DIRECTION direction) {
  lineCall("hdspToneOff", {vhdhdl, direction});
  return HostDspDouble::get().toneResult;
}

void istwEvent(int vhd, ISTW_EVENT evt, int val) { lineCall("istwEvent", {vhd, evt, val}); }
