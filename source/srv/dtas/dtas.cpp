// Alerting-signal detection: block classification and the per-frame duration state machine.
#include "dtas.h"

#include <cstring>

#include "qrn/qrn.h"

const HSFSRVARC dtasarc = {HAPI_DTAS_SRV, sizeof(HSZDTASLOCLMEM), dtasIO, dtasIngress, nullptr, dtasInit, nullptr};

namespace {
constexpr uint32_t kMinFrames = 13;
constexpr uint32_t kMaxFrames = 18;
constexpr uint32_t kStuck = 100000;

void toInactive(HSZDTASLOCLMEM* d) {
  d->stmState = DTAS_INACTIVE_STATE;
  d->detectionCount = 0;
  d->bounceCount = 0;
}
}  // namespace

HAPIRESULT dtasInit(HSFSRVOBJ srvp) {
  auto* d = static_cast<HSZDTASLOCLMEM*>(srvp);
  std::memset(d, 0, sizeof(*d));
  d->hsxstatus = 1;
  return HAPISUCCESS;
}

HAPIRESULT dtasIO(HSFSRVOBJ srvp, HSFMSG* cmd, HSFMSG* /*reply*/) {
  auto* d = static_cast<HSZDTASLOCLMEM*>(srvp);
  if (cmd->std.header != HAPI_DTAS_ENABLE_CMD) return HAPIFAILURE;
  if (cmd->std.op1 == 0) {
    d->hsxstatus = 0;
  } else if (d->hsxstatus == 0) {
    std::memset(d, 0, sizeof(*d));
    d->hsxstatus = 1;
  }
  return HAPISUCCESS;
}

void dtasStm(HSZDTASLOCLMEM* d, bool present) {
  switch (d->stmState) {
    case DTAS_INACTIVE_STATE:
      if (present) {
        d->bounceCount = 0;
        d->detectionCount = 1;
        d->stmState = DTAS_ACTIVE_STATE;
      }
      break;
    case DTAS_ACTIVE_STATE:
      if (present) {
        d->bounceCount = 0;
        if (d->detectionCount == kMinFrames) {
          d->stmState = DTAS_WAIT_SIGNAL_END;
        } else {
          d->detectionCount += 1;
        }
      } else if (++d->bounceCount > 1) {
        toInactive(d);
      } else {
        d->detectionCount += 1;
      }
      break;
    case DTAS_WAIT_SIGNAL_END:
      if (present) {
        if (++d->detectionCount >= kStuck) toInactive(d);
      } else {
        const bool report = d->detectionCount <= kMaxFrames;
        toInactive(d);
        if (report) hsfObdSendStd(HAPI_DTAS_DETECT_EVT, 0, 1);
      }
      break;
    default:
      toInactive(d);
      break;
  }
}

void dtasIngress(HSFSRVOBJ srvp) {
  auto* d = static_cast<HSZDTASLOCLMEM*>(srvp);
  if (d->hsxstatus == 0) return;
  QRN_Socket* socket = QRN_CurrentSocket();
  if (socket == nullptr || socket->memDesc[HSF_MEDQ_LOWBAND] == nullptr) return;
  const int16_t* media = socket->memDesc[HSF_MEDQ_LOWBAND];
  const int frame = hsfFrmPeriodGet();
  bool present = false;
  for (int b = 0; b + 40 <= frame; b += 40) present = dtasdBlk(&d->dtasFilterState, media + b);
  dtasStm(d, present);
}
