// The echo-canceller service: record, commands, and the per-frame calls of the canceller.
#include "ecan_srv.h"

#include <algorithm>
#include <cstring>

#include "lhapi.h"
#include "qrn/qrn.h"

const HSFSRVARC ecanarc = {HAPI_HEC_SRV, sizeof(HSZECANSRV), ecanIo, ecanIngressProcess,
                           ecanEgressProcess, ecanSrvInit, nullptr};

namespace {

// Events leave as messages of the running service; extended data is copied into the frame's
// scratch memory first, so the record may change afterwards.
void sendEvent(HEC*, uint16_t header, uint16_t op1, uint16_t op2, const void* data, uint16_t length) {
  if (data == nullptr) {
    hsfObdSendStd(header, op1, op2);
    return;
  }
  void* copy = hsfMemAllocScratch(length);
  if (copy == nullptr) return;
  std::memcpy(copy, data, length);
  hsfObdSendExt(header, length, copy);
}

HAPIRESULT setRegs(HEC* hec, const HSFMSG* cmd) {
  if (cmd->ext.bufp == nullptr || cmd->ext.length < sizeof(HEC_REGS)) return HAPIFAILURE;
  std::memcpy(&hec->regs, cmd->ext.bufp, sizeof(HEC_REGS));
  return HAPISUCCESS;
}

// One register word; a write past the 32-byte record is refused.
HAPIRESULT setReg1(HEC* hec, uint16_t offset, uint16_t value) {
  if (offset & 1) LHAPI_ASSERT_FAIL();
  if (offset >= sizeof(HEC_REGS)) return HAPIFAILURE;
  uint16_t words[sizeof(HEC_REGS) / 2];
  std::memcpy(words, &hec->regs, sizeof(words));
  words[offset / 2] = value;
  std::memcpy(&hec->regs, words, sizeof(words));
  return HAPISUCCESS;
}

void enable(HEC* hec, uint16_t on) {
  if (on == 0) {
    hec->regs.options |= HAPI_HEC_BYPASS_ON;
  } else if (hec->regs.options & HAPI_HEC_BYPASS_ON) {
    hecReset(hec, HAPI_HEC_RESET_HOT);
    hec->regs.options &= static_cast<uint16_t>(~HAPI_HEC_BYPASS_ON);
  }
}

// Bulk-delay messages of this frame; a repeat of the previous message's op2 is ignored.
void applyBulkDelay(HEC* hec) {
  HSFMSG m{};
  bool havePrev = false;
  uint16_t prevOp2 = 0;
  while (hsfIbdPeekOrRecv(HSF_IBD_ECAN_INPUT, &m, 0, HSF_IBD_RECEIVE) != 0) {
    if (!HAPI_OPCODE_IS_STD(m.std.header)) continue;
    const bool repeat = havePrev && m.std.op2 == prevOp2;
    havePrev = true;
    prevOp2 = m.std.op2;
    if (repeat) continue;
    if (m.std.header == HEC_BULKDELAY_RESET_MSG) {
      hec->bulkDelay = HEC_DEFAULT_BULK_DELAY;
    } else if (m.std.header == HEC_BULKDELAY_ADD_MSG) {
      hec->bulkDelay = static_cast<int16_t>(std::min(HEC_MAX_BULK_DELAY, hec->bulkDelay + int{m.std.op1}));
    }
  }
}

void sendStats(HEC* hec) {
  auto* stats = static_cast<INTERNAL_ECAN_STATS*>(hsfMemAllocScratch(sizeof(INTERNAL_ECAN_STATS)));
  if (stats == nullptr) return;
  stats->Lrout = HEC_DBQ82DB(hec->state.Lrout);
  stats->LroutMin = HEC_DBQ82DB(hec->state.LroutMin);
  stats->rerl = 75;
  hsfIbdSendExt(HSF_IBD_CONTROL, HEC_STATS_MSG, sizeof(INTERNAL_ECAN_STATS), stats);
}

int16_t* companionBand() {
  QRN_Socket* s = QRN_CurrentSocket();
  return hsfModeGet() == HSF_WIDEBAND_MODE ? s->memDesc[HSF_MEDQ_HIGHBAND] : nullptr;
}

}  // namespace

HAPIRESULT ecanSrvInit(HSFSRVOBJ service) {
  auto* hec = static_cast<HEC*>(service);
  if (hec == nullptr) return HAPIFAILURE;
  hecEventSink = sendEvent;
  hecInit(hec, 0);
  QRN_Socket* s = QRN_CurrentSocket();
  hec->handle = s != nullptr ? s->handle : 0;
  return HAPISUCCESS;
}

HAPIRESULT ecanIo(HSFSRVOBJ service, HSFMSG* cmd, HSFMSG* /*reply*/) {
  auto* hec = static_cast<HEC*>(service);
  if (hec == nullptr || cmd == nullptr) return HAPIFAILURE;
  const HSFMSGSTD& s = cmd->std;
  switch (s.header) {
    case HAPI_HEC_SETREGS_CMD:
      return setRegs(hec, cmd);
    case HAPI_HEC_ENABLE_CMD:
      enable(hec, s.op1);
      return HAPISUCCESS;
    case HAPI_HEC_GETREGS_CMD:
      ecanEventExt(hec, HAPI_HEC_GETREGS_EVT, &hec->regs, sizeof(hec->regs));
      return HAPISUCCESS;
    case HAPI_HEC_SETREG1_CMD:
      return setReg1(hec, s.op1, s.op2);
    case HAPI_HEC_GETSTATE_CMD:
      ecanEventExt(hec, HAPI_HEC_GETSTATE_EVT, &hec->state, sizeof(hec->state));
      return HAPISUCCESS;
    case HAPI_HEC_RESET_CMD:
      hecReset(hec, s.op1);
      return HAPISUCCESS;
    case HAPI_HEC_RESETCOEFF_CMD:
      hecResetCoeff(hec, s.op1);
      return HAPISUCCESS;
    case HAPI_HEC_GETCOEFF_CMD:
      hec->coeffIndex = 0;
      return HAPISUCCESS;
    default:
      return HAPIFAILURE;
  }
}

void ecanIngressProcess(HSFSRVOBJ service) {
  auto* hec = static_cast<HEC*>(service);
  QRN_Socket* s = QRN_CurrentSocket();
  if (hec == nullptr || s == nullptr || s->memDesc[HSF_MEDQ_LOWBAND] == nullptr) return;
  const int frame = hsfFrmPeriodGet();
  applyBulkDelay(hec);
  hecIngress(hec, s->memDesc[HSF_MEDQ_LOWBAND], companionBand(), frame);
  hec->intStatsTimer += frame;
  if (hec->intStatsTimer >= HEC_STATS_PERIOD) {
    hec->intStatsTimer -= HEC_STATS_PERIOD;
    sendStats(hec);
  }
}

void ecanEgressProcess(HSFSRVOBJ service) {
  auto* hec = static_cast<HEC*>(service);
  QRN_Socket* s = QRN_CurrentSocket();
  if (hec == nullptr || s == nullptr || s->memDesc[HSF_MEDQ_LOWBAND] == nullptr) return;
  hecEgress(hec, s->memDesc[HSF_MEDQ_LOWBAND], companionBand(), hsfFrmPeriodGet());
}
