// Idle-loop load counter.
#include "icp.h"

#include <cstring>

#include "lhapi.h"
#include "qrn/qrn.h"

ICP_STATE ICP_gState;

namespace {
ICPSTATS32 gReported;  // the copy the host reads during its callback

void resetStats() {
  const uint32_t calibration = ICP_gState.stats.calibrationCount;
  ICP_gState.stats = ICPSTATS32{};
  ICP_gState.stats.calibrationCount = calibration;
  ICP_gState.stats.minimum = UINT32_MAX;
}

void report() {
  gReported = ICP_gState.stats;
  ICP_gState.lastReported = ICP_gState.stats.current;
  ICP_gState.updatesSinceReport = 0;
  QRN_SendExtMsgToHost(HAPIRESMAN, HAPI_ICP_STATS_EVT, &gReported, sizeof(gReported), HAPI_ICP_SRV,
                       HAPI_HOST_SRV, 0, 0);
}
}  // namespace

void icpCalibrate() {
  lhapiIcpCalibrate();
  ICP_gState.stats.calibrationCount = ICP_gState.count;
  ICP_gState.count = 0;
}

void icpCount() { ICP_gState.count += 1; }
uint32_t icpProfile() { return ICP_gState.count; }
void icpSetCount(uint32_t count) { ICP_gState.count = count; }
uint32_t icpGetCount() { return ICP_gState.count; }

void icpUpdateStats() {
  ICPSTATS32& st = ICP_gState.stats;
  st.current = ICP_gState.count;
  ICP_gState.count = 0;
  st.iterations += 1;
  st.total += st.current;  // wraps at 32 bits
  st.average = st.total / st.iterations;
  if (st.current > st.maximum) st.maximum = st.current;
  if (st.current < st.minimum || st.iterations == 1) st.minimum = st.current;
}

void icpProcess() {
  ICP_STATE& s = ICP_gState;
  if (!s.enabled || s.regs.updateInterval == 0) return;
  s.entries += 1;
  if (s.entries % s.regs.updateInterval != 0) return;
  icpUpdateStats();
  s.updatesSinceReport += 1;
  const uint32_t last = s.lastReported;
  const uint32_t now = s.stats.current;
  const uint32_t change = now > last ? now - last : last - now;
  const bool bigChange =
      s.regs.changePercent != 0 && uint64_t{change} * 100 > uint64_t{last} * s.regs.changePercent;
  if ((s.regs.reportInterval != 0 && s.updatesSinceReport >= s.regs.reportInterval) || bigChange) {
    report();
  }
}

HAPIRESULT icpio(QRN_SocketMsg* msg) {
  if (msg == nullptr) return HAPIFAILURE;
  ICP_STATE& s = ICP_gState;
  void* buf = msg->msg.ext.bufp;
  const uint16_t length = msg->msg.ext.length;
  switch (msg->msg.std.header) {
    case HAPI_ICP_READCOUNT_CMD: {
      const uint32_t counts[2] = {s.stats.calibrationCount, s.count};
      if (buf == nullptr || length < sizeof(counts)) return HAPIFAILURE;
      std::memcpy(buf, counts, sizeof(counts));
      return HAPISUCCESS;
    }
    case HAPI_ICP_READSTATS_CMD:
      if (buf == nullptr || length < sizeof(ICPSTATS32)) return HAPIFAILURE;
      std::memcpy(buf, &s.stats, sizeof(ICPSTATS32));
      return HAPISUCCESS;
    case HAPI_ICP_CONFIG_CMD:
      if (buf == nullptr || length < sizeof(ICP_REGS)) return HAPIFAILURE;
      std::memcpy(&s.regs, buf, sizeof(ICP_REGS));
      return HAPISUCCESS;
    case HAPI_ICP_ENABLE_CMD:
      s.enabled = msg->msg.std.op1 != 0;
      return HAPISUCCESS;
    case HAPI_ICP_SETREG1_CMD: {
      const uint16_t offset = msg->msg.std.op1;
      if ((offset & 1) != 0 || offset + sizeof(uint16_t) > sizeof(ICP_REGS)) return HAPIFAILURE;
      std::memcpy(reinterpret_cast<uint8_t*>(&s.regs) + offset, &msg->msg.std.op2, sizeof(uint16_t));
      return HAPISUCCESS;
    }
    case HAPI_ICP_RESET_CMD:
      resetStats();
      s.count = 0;
      return HAPISUCCESS;
    default:
      return HAPIFAILURE;
  }
}
