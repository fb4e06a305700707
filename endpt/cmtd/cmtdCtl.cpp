// Loading call-progress tone profiles into the detector of a VHD.
#include "cmtdCtl.h"

#include <atomic>
#include <cstring>

#include "hdspCmd.h"
#include "hdspCodes.h"
#include "voiceLog.h"

namespace {

// What each slot was last loaded with. The "PSTN" task and the dispatcher both use it.
std::atomic<int> configuredTone[CMTD_NUM_FILTERS] = {CMTD_TONE_TYPE_MAX, CMTD_TONE_TYPE_MAX};

constexpr uint16_t kEnableService = 0x1;
constexpr uint16_t kEnableFiltersUpTo = 0x40;
constexpr uint16_t kEnableMachinesUpTo = 0x80;
constexpr uint16_t kDisableService = 0x1000;

HAPIRESULT setFilterCoeff(uint16_t hdl, const CMTD_STMPARAMS& profile, CMTD_FILTER_INDEX index) {
  HAPI_CMTD_FILTER block{};
  block.index = static_cast<uint16_t>(index);
  const uint16_t size = profile.filtSize <= CMTD_FILTER_TAPS ? profile.filtSize : CMTD_FILTER_TAPS;
  block.coefs.type = size;
  block.coefs.minAttenuation = CMTD_MIN_ATTENUATION;
  std::memcpy(&block.coefs.filterTaps[(CMTD_FILTER_TAPS - size) / 2], profile.filtCoeffp,
              size * sizeof(int16_t));
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG, "EPT: CMTD_CTL: setFilterCoeff: filtSize%d", size);
  return hdspSendCmdData(hdl, hdsp::HAPI_CMTD_FILTER_CMD, HAPI_REQID_EXT_CMD, sizeof(block), &block);
}

HAPIRESULT setStmParam(uint16_t hdl, const CMTD_STMPARAMS& profile, CMTD_FILTER_INDEX index) {
  HAPI_CMTD_STM block = profile.stmParam;
  block.index = static_cast<uint16_t>(index);
  for (HAPI_CMTD_SUBSTATEPARAMS& s : block.stmParams.substate) {
    if (s.activeFilter != 0) s.activeFilter = static_cast<uint16_t>(s.activeFilter + index);
  }
  const HAPIRESULT result = hdspSendCmdData(hdl, hdsp::HAPI_CMTD_STM_CMD, HAPI_REQID_EXT_CMD, sizeof(block), &block);
  if (result != HAPISUCCESS) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: CMTD_CTL: setStmParam FAILED!!!");
  }
  return result;
}

HAPIRESULT enblFiltStm(uint16_t hdl, CMTD_FILTER_INDEX index) {
  const uint16_t flags = kEnableService | kEnableFiltersUpTo | kEnableMachinesUpTo;
  const uint16_t slots = static_cast<uint16_t>(index | (index << 8));
  return hdspSendCmd(hdl, hdsp::HAPI_CMTD_ENABLE_CMD, HAPI_REQID_STD_CMD, flags, slots);
}

}  // namespace

const CMTD_STMPARAMS* cmtdCtlProfileFor(VRG_COUNTRY locale, CMTD_TONE_TYPE toneType) {
  const bool known = locale >= 0 && locale < VRG_COUNTRY_MAX;
  const CMTD_COUNTRY_PROFILE* table = known ? cmtdCallingToneProfiles[locale] : nullptr;
  if (table == nullptr) {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "EPT: CMTD_CTL: Configured country profile does not exist");
  } else if (toneType >= 0 && toneType < CMTD_TONE_TYPE_MAX && table->tone[toneType] != nullptr) {
    return table->tone[toneType];
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: CMTD_CTL: Using default settings");
  switch (toneType) {
    case CMTD_TONE_TYPE_RING: return &northAmericaRingbackParam;
    case CMTD_TONE_TYPE_BUSY: return &northAmericaBusyToneParam;
    case CMTD_TONE_TYPE_CONG: return &northAmericaCongToneParam;
    case CMTD_TONE_TYPE_RELEASE: return nullptr;
    default: return &northAmericaDialToneParam;
  }
}

HAPIRESULT cmtdCtlConfigFilter(uint16_t hdl, VRG_COUNTRY locale, CMTD_TONE_TYPE toneType,
                               CMTD_FILTER_INDEX filterIndex) {
  if (filterIndex != CMTD_FILTER_1 && filterIndex != CMTD_FILTER_2) return HAPIFAILURE;
  const CMTD_STMPARAMS* profile = cmtdCtlProfileFor(locale, toneType);
  if (profile == nullptr) return HAPISUCCESS;  // no release tone to listen for
  HAPIRESULT result = setFilterCoeff(hdl, *profile, filterIndex);
  if (result == HAPISUCCESS) result = setStmParam(hdl, *profile, filterIndex);
  if (result == HAPISUCCESS) result = enblFiltStm(hdl, filterIndex);
  if (result == HAPISUCCESS) configuredTone[filterIndex].store(toneType, std::memory_order_relaxed);
  return result;
}

HAPIRESULT cmtdCtlDisable(uint16_t hdl) {
  for (auto& slot : configuredTone) slot.store(CMTD_TONE_TYPE_MAX, std::memory_order_relaxed);
  return hdspSendCmd(hdl, hdsp::HAPI_CMTD_ENABLE_CMD, HAPI_REQID_STD_CMD, kDisableService, 0);
}

CMTD_TONE_TYPE cmtdCtlGetConfigTone(int filterIndex) {
  if (filterIndex != CMTD_FILTER_1 && filterIndex != CMTD_FILTER_2) return CMTD_TONE_TYPE_MAX;
  return static_cast<CMTD_TONE_TYPE>(configuredTone[filterIndex].load(std::memory_order_relaxed));
}

const char* cmtdCtlMapToneType(int tone) {
  static const char* const names[] = {"Dial Tone", "Ring Tone", "Busy Tone", "Congestion Tone", "Release Tone"};
  if (tone < 0) return "Invalid Tone";
  if (tone < CMTD_TONE_TYPE_MAX) return names[tone];
  return "Maximum";
}
