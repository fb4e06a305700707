// The gain service: its record, its one command and the per-frame scaling.
#include "gain.h"

#include "dsputil.h"
#include "qrn/qrn.h"

const HSFSRVARC gainarc = {HAPI_GAIN_SRV, sizeof(HSZGAINLOCLMEM), gainIo, gainIngProcess,
                           gainEgrProcess, gainInit, nullptr};

namespace {

constexpr int16_t kUnity = 4096;

// Both buffers of the running frame: the 8 kHz frame and, on wideband channels, the second one.
void scaleFrame(int16_t gain) {
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr) return;
  const int frame = hsfFrmPeriodGet();
  if (socket->memDesc[HSF_MEDQ_LOWBAND] != nullptr) {
    hsfMulGain(socket->memDesc[HSF_MEDQ_LOWBAND], frame, gain);
  }
  if (socket->memDesc[HSF_MEDQ_HIGHBAND] != nullptr) {
    hsfMulGain(socket->memDesc[HSF_MEDQ_HIGHBAND], 2 * frame, gain);
  }
}

}  // namespace

HAPIRESULT gainInit(HSFSRVOBJ service) {
  auto* g = static_cast<HSZGAINLOCLMEM*>(service);
  if (g == nullptr) return HAPIFAILURE;
  g->gain = kUnity;
  g->volume = kUnity;
  return HAPISUCCESS;
}

HAPIRESULT gainIo(HSFSRVOBJ service, HSFMSG* cmd, HSFMSG* /*reply*/) {
  auto* g = static_cast<HSZGAINLOCLMEM*>(service);
  if (g == nullptr || cmd == nullptr || cmd->std.header != HAPI_GAIN_SET_CMD) return HAPIFAILURE;
  if (cmd->std.op1 != 0) {
    g->volume = static_cast<int16_t>(cmd->std.op2);
  } else {
    g->gain = static_cast<int16_t>(cmd->std.op2);
  }
  return HAPISUCCESS;
}

void gainIngProcess(HSFSRVOBJ service) {
  if (service != nullptr) scaleFrame(static_cast<HSZGAINLOCLMEM*>(service)->gain);
}

void gainEgrProcess(HSFSRVOBJ service) {
  if (service != nullptr) scaleFrame(static_cast<HSZGAINLOCLMEM*>(service)->volume);
}
