// Set-up and the reset levels of the canceller, and its event helpers.
#include <cstring>

#include "ecan.h"
#include "lhapi.h"

HecEventSink hecEventSink = nullptr;

namespace {

constexpr int16_t kStartLevel = -36 * Q_DB;
constexpr int16_t kSilentLevel = -72 * Q_DB;
constexpr int16_t kHothA[7] = {4096, -3516, 491, -339, 176, -80, 51};
constexpr int16_t kHothAlpha = -1130;

constexpr HEC_REGS kDefaultRegs = {
    HAPI_HEC_DEFAULT_OPTIONS,
    HAPI_HEC_DEFAULT_EVENTMASK,
    0,
    0,
    {HAPI_HEC_DEFAULT_VOLCOMPRESSOR[0], HAPI_HEC_DEFAULT_VOLCOMPRESSOR[1], HAPI_HEC_DEFAULT_VOLCOMPRESSOR[2],
     HAPI_HEC_DEFAULT_VOLCOMPRESSOR[3], HAPI_HEC_DEFAULT_VOLCOMPRESSOR[4]},
    {HAPI_HEC_DEFAULT_GAINCOMPRESSOR[0], HAPI_HEC_DEFAULT_GAINCOMPRESSOR[1], HAPI_HEC_DEFAULT_GAINCOMPRESSOR[2],
     HAPI_HEC_DEFAULT_GAINCOMPRESSOR[3], HAPI_HEC_DEFAULT_GAINCOMPRESSOR[4]},
    {HAPI_HEC_MINIMUM_ERL_DB, 72 * Q_DB},
};

void resetEstimator(LEV_EST* e) {
  std::memset(e, 0, sizeof(*e));
}

void resetEstimatorMM(LEV_ESTMM* e) {
  std::memset(e, 0, sizeof(*e));
  e->levMin = e->levMax = e->env = kStartLevel;
  e->magic8 = 85;
}

void resetEstimatorMM3(LEV_ESTMM3* e) {
  std::memset(e, 0, sizeof(*e));
  e->mm2.mm.levMin = e->mm2.mm.levMax = e->mm2.mm.env = e->mm2.levMin2 = kStartLevel;
  e->mm2.mm.magic8 = 85;
  std::memcpy(e->a, kHothA, sizeof(e->a));
  e->alpha = kHothAlpha;
}

void resetCompressor(LEV_COMPSTATE* c) {
  *c = LEV_COMPSTATE{{1024, 1024}, 0, {-1, -1, -1, -1}, -1};
}

}  // namespace

void ecanEvent(HEC* hec, uint16_t header, uint16_t op1, uint16_t op2) {
  const unsigned n = header >= 0x44C0 ? header - 0x44C0 : 0xFFFF;
  if (n < 16 && (hec->regs.eventMask & (1u << n)) == 0) return;
  if (hecEventSink != nullptr) hecEventSink(hec, header, op1, op2, nullptr, 0);
}

void ecanEventExt(HEC* hec, uint16_t header, const void* data, uint16_t length) {
  if (hecEventSink != nullptr) hecEventSink(hec, header, length, 0, data, length);
}

void hecInit(HEC* hec, int isAec) {
  // Only the line (hybrid) canceller is built here; an acoustic request is a caller's mistake.
  if (isAec != 0) LHAPI_ASSERT_FAIL();
  std::memset(hec, 0, sizeof(*hec));
  hec->regs = kDefaultRegs;
  hec->magic = HEC_MAGIC;
  hec->bulkDelay = HEC_DEFAULT_BULK_DELAY;
  hecReset(hec, HAPI_HEC_RESET_COLD);
}

void hecReset(HEC* hec, uint16_t type) {
  std::memset(hec->rOutBuf, 0, sizeof(hec->rOutBuf));
  hec->rOutZeroFrom = 0;
  hec->volAuto = 0;
  hec->gainAuto = 0;
  if (type == HAPI_HEC_RESET_HOT) {
    ecanEvent(hec, HAPI_HEC_RESET_EVT, type, hec->magic);
    return;
  }
  hec->state.erldB = hec->regs.minmaxERLdB[0];
  hec->tailLengthBlocks = 7;
  hecResetCoeff(hec, type);
  hec->state.adaptCount = 0;
  hec->rtDelay = -1;
  hec->coeffIndex = -1;
  hec->hpfc = hec->hpfa = 0;
  hec->seed = 0;
  std::memset(hec->cngState, 0, sizeof(hec->cngState));
  resetEstimator(&hec->sInLev);
  resetEstimator(&hec->rInLev);
  resetEstimatorMM(&hec->rOutLev);
  resetEstimatorMM3(&hec->sOutLev);
  resetEstimatorMM3(&hec->sOutLevFlat);
  hec->state.Lrout = hec->state.Lsin = hec->state.Lsout = kSilentLevel;
  hec->state.LsoutMin = kStartLevel;
  hec->state.LroutMin = kStartLevel;
  resetCompressor(&hec->volCompState);
  resetCompressor(&hec->gainCompState);
  std::memset(&hec->hangCount, 0, sizeof(hec->hangCount));
  hec->erlTracker = ERLTRK{0, 0, 15, 0, hec->state.erldB};
  for (int16_t& l : hec->rOutPeak.level) l = kSilentLevel;
  hec->rOutPeak.index = 0;
}

void hecResetCoeff(HEC* hec, uint16_t type) {
  hec->vLossSout = hec->vLossRout = 0;
  hec->state.erlcdB = hec->regs.minmaxERLdB[0];
  hec->state.erledB = 0;
  if ((type & 2) == 0) std::memset(hec->hFg, 0, sizeof(hec->hFg));
  if ((type & 1) == 0) std::memset(hec->hBg, 0, sizeof(hec->hBg));
  hec->resetTracker = RESETTRK{};
  hec->pushTracker = PUSHTRK{};
  hec->erleTracker = ERLETRK{0, 0, 10, 0};
  hec->AcomDelta = 0;
  hec->AcomdBPush = 0;
  hec->erledBPush = 0;
  hec->state.peakReflector = hec->state.peakReflectorValue = 0;
  hec->state.state = 0;
  ecanEvent(hec, HAPI_HEC_RESET_EVT, type, hec->magic);
}
