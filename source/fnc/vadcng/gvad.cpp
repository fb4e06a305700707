// Voice activity detector with silence-descriptor timing.
#include <algorithm>
#include <cstring>

#include "lhapi.h"
#include "vadcng.h"

namespace {

constexpr int kBlock = 40;
constexpr int16_t kStartLevel = -9216;   // -36 dB
constexpr int16_t kStartHang = 300;      // ms: a fresh detector starts as voice
constexpr int16_t kSidRepeat = 1000;     // ms
constexpr int16_t kSidEarly = 250;       // ms
constexpr int16_t kSidMove = 512;        // 2 dB
constexpr int16_t kQuietFloor = -16639;  // -65 dB
constexpr uint16_t kTrackFlags = LEV_FLAG_MIN2;

void resetTracker(LEV_ESTMM2* t) {
  std::memset(t, 0, sizeof(*t));
  t->mm.levMin = kStartLevel;
  t->levMin2 = kStartLevel;
  t->mm.levMax = kStartLevel;
  t->mm.magic8 = 85;
}

// The noise floor that the decision compares against, by mode.
int16_t decisionFloor(const GVAD* v) {
  const int levMin = v->level.mm.levMin;
  const int levMax = v->level.mm.levMax;
  int F = levMin;
  switch (v->mode) {
    case HAPI_GVAD_MODE_TRANSPARENT:
      F = std::clamp(levMin, -17408, -16640);
      break;
    case HAPI_GVAD_MODE_CONSERVATIVE:
      F = std::clamp(levMin, -15360, -12800);
      if (F < levMax - 10240) F = (F + levMax - 10240) >> 1;
      break;
    case HAPI_GVAD_MODE_AGGRESSIVE:
      F = std::clamp(levMin, -14336, -10752);
      if (F < levMax - 7680) F = (F + levMax - 7680) >> 1;
      break;
    default:
      LHAPI_ASSERT_FAIL();
      break;
  }
  return static_cast<int16_t>(F);
}

}  // namespace

void gvadInit(GVAD* v, int16_t mode) {
  resetTracker(&v->level);
  resetTracker(&v->levelFlat);
  v->burstCount = 0;
  v->timeOutCount = 0;
  v->hangCount = kStartHang;
  v->mode = static_cast<HAPI_GVAD_MODE>(mode);
  v->sendSID = 0;
}

void gvadCfg(GVAD* v, int16_t mode) {
  if (v->mode == HAPI_GVAD_MODE_OFF && mode != v->mode) gvadInit(v, mode);
}

int gvad(GVAD* v, const int16_t* s, int n, int vadOption) {
  if (n > GVAD_MAX_FRAME) {
    LHAPI_ASSERT_FAIL();
    n = GVAD_MAX_FRAME;
  }
  if (v->mode == HAPI_GVAD_MODE_OFF) {
    v->sendSID = 1;
    return 0;
  }
  const int ms = n / 8;
  LEV_LS hp{};
  LEV_LS flat{};
  for (int off = 0; off + kBlock <= n; off += kBlock) {
    const uint32_t pHp = levelBlockPwrHpf(s + off, kBlock, 8, &v->level.mm.est.u);
    const uint32_t pFlat = levelBlockPower(s + off, kBlock, 8);
    levelEstimator(&v->level.mm.est, &hp, 0, kTrackFlags, pHp, s + off, kBlock, nullptr);
    levelEstimator(&v->levelFlat.mm.est, &flat, 0, kTrackFlags, pFlat, s + off, kBlock, nullptr);
  }
  const int F = decisionFloor(v);
  bool voice;
  if (hp.win > F + 1536 || hp.blk > F + 3072) {
    if (v->burstCount <= 9) {
      v->burstCount = static_cast<int16_t>(v->burstCount + ms);
      v->hangCount = std::max<int16_t>(v->hangCount, 10);
    } else {
      v->hangCount = std::max<int16_t>(v->hangCount, 50);
    }
    voice = true;
  } else if (v->hangCount > 0) {
    v->hangCount = static_cast<int16_t>(v->hangCount - ms);
    voice = true;
  } else {
    v->burstCount = 0;
    v->hangCount = 0;
    voice = false;
  }
  if (vadOption == 1) voice = true;

  const int16_t floor = v->levelFlat.mm.levMin;
  if (voice) {
    v->sendSID = 1;
  } else {
    if (v->timeOutCount < kSidRepeat) v->timeOutCount = static_cast<int16_t>(v->timeOutCount + ms);
    const bool bothQuiet = floor < kQuietFloor && v->levelLast < kQuietFloor;
    if (v->timeOutCount >= kSidRepeat ||
        (!bothQuiet && std::abs(floor - v->levelLast) > kSidMove && v->timeOutCount >= kSidEarly)) {
      v->sendSID = 1;
    }
  }
  if (v->sendSID) {
    v->timeOutCount = 0;
    v->levelLast = floor;
  }
  return voice ? 0 : 1;
}

int gvadGenSID(GVAD* v, uint16_t* rawdata) {
  if (!v->sendSID) return 0;
  *rawdata = static_cast<uint16_t>((-int32_t{v->levelFlat.mm.levMin}) & 0xFF00);
  v->sendSID = 0;
  return 2;
}
