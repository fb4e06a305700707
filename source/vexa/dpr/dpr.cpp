// Per-service profiler.
#include "dpr.h"

#include <cstring>

#include "lhapi.h"
#include "qrn/qrn.h"

DPRSTATE DPR_gState;

namespace {
bool configuredRun(uint16_t handle, uint16_t srvId, uint16_t direction) {
  const DPRSTATE& s = DPR_gState;
  return s.enabled && s.handle == handle && s.srvId == srvId && s.direction == direction;
}
}  // namespace

void dprInit() {
  DPR_gState = DPRSTATE{};
  lhapiDprStatsInit();
}

void dprStart(uint16_t handle, uint16_t srvId, uint16_t direction) {
  if (!configuredRun(handle, srvId, direction)) return;
  DPR_gState.running = 1;
  DPR_gState.startCount = lhapiDprStatsGet();
}

void dprStop(uint16_t handle, uint16_t srvId, uint16_t direction) {
  if (!DPR_gState.running || !configuredRun(handle, srvId, direction)) return;
  const uint32_t spent = lhapiDprStatsDiff(DPR_gState.startCount, lhapiDprStatsGet());
  DPR_STATS& st = DPR_gState.stats;
  st.iterations += 1;
  st.total += spent;  // wraps at 32 bits
  if (spent > st.maximum) st.maximum = spent;
  DPR_gState.running = 0;
}

void dprPauseUnprotected() {
  if (!DPR_gState.running || DPR_gState.paused) return;
  DPR_gState.paused = 1;
  lhapiDprStatsPause();
}

void dprUnpauseUnprotected() {
  if (!DPR_gState.paused) return;
  DPR_gState.paused = 0;
  lhapiDprStatsUnpause();
}

HAPIRESULT dprio(QRN_SocketMsg* msg) {
  if (msg == nullptr) return HAPIFAILURE;
  DPRSTATE& s = DPR_gState;
  switch (msg->msg.std.header) {
    case HAPI_DPR_CONFIG_CMD: {
      if (s.enabled || msg->msg.ext.bufp == nullptr || msg->msg.ext.length < sizeof(DPR_CONFIG)) {
        return HAPIFAILURE;
      }
      DPR_CONFIG cfg;
      std::memcpy(&cfg, msg->msg.ext.bufp, sizeof(cfg));
      s.handle = cfg.handle;
      s.srvId = cfg.srvId;
      s.direction = cfg.direction;
      return HAPISUCCESS;
    }
    case HAPI_DPR_READSTATS_CMD:
      if (msg->msg.ext.bufp == nullptr || msg->msg.ext.length < sizeof(DPR_STATS)) return HAPIFAILURE;
      std::memcpy(msg->msg.ext.bufp, &s.stats, sizeof(DPR_STATS));
      return HAPISUCCESS;
    case HAPI_DPR_ENABLE_CMD:
      s.enabled = msg->msg.std.op1 != 0;
      if (!s.enabled) s.running = 0;
      return HAPISUCCESS;
    case HAPI_DPR_RESET_CMD:
      if (s.enabled) return HAPIFAILURE;
      s.stats = DPR_STATS{};
      return HAPISUCCESS;
    default:
      return HAPIFAILURE;
  }
}
