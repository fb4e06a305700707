// Ring signals to ring patterns by country: every country takes the cadence of a provisioning
// item; Japan rings one static pattern for every ring signal.
#include <cstring>

#include "voiceLog.h"
#include "vrgProv.h"
#include "vrgProvValues.h"
#include "vrgEndptProcess.h"

namespace {

struct EPZGLOBERINGMAP {
  EPSIG signal;
  int provItem;
};

struct EPZJAPANRINGMAP {
  EPSIG signal;
  CAS_CTL_RING_PATTERN pattern;
};

constexpr int RING_MAP_ROWS = 20;

constexpr EPZGLOBERINGMAP pEpGlobeRingMap[RING_MAP_ROWS] = {
    {EPSIG_RINGING, EPPROV_RGCadence},       {EPSIG_CALLID_RINGING, EPPROV_RGCadence},
    {EPSIG_SPLASH, EPPROV_RSCadence},        {EPSIG_RING0, EPPROV_R0Cadence},
    {EPSIG_RING1, EPPROV_R1Cadence},         {EPSIG_RING2, EPPROV_R2Cadence},
    {EPSIG_RING3, EPPROV_R3Cadence},         {EPSIG_RING4, EPPROV_R4Cadence},
    {EPSIG_RING5, EPPROV_R5Cadence},         {EPSIG_RING6, EPPROV_R6Cadence},
    {EPSIG_RING7, EPPROV_R7Cadence},         {EPSIG_CALLID_RING0, EPPROV_R0Cadence},
    {EPSIG_CALLID_RING1, EPPROV_R1Cadence},  {EPSIG_CALLID_RING2, EPPROV_R2Cadence},
    {EPSIG_CALLID_RING3, EPPROV_R3Cadence},  {EPSIG_CALLID_RING4, EPPROV_R4Cadence},
    {EPSIG_CALLID_RING5, EPPROV_R5Cadence},  {EPSIG_CALLID_RING6, EPPROV_R6Cadence},
    {EPSIG_CALLID_RING7, EPPROV_R7Cadence},  {EPSIG_LAST, -1},
};

constexpr EPZJAPANRINGMAP pEpJapanRingMap[RING_MAP_ROWS] = {
    {EPSIG_RINGING, CAS_CTL_RING_JAPAN_IR},      {EPSIG_CALLID_RINGING, CAS_CTL_RING_JAPAN_IR},
    {EPSIG_SPLASH, CAS_CTL_RING_JAPAN_IR},       {EPSIG_RING0, CAS_CTL_RING_JAPAN_IR},
    {EPSIG_RING1, CAS_CTL_RING_JAPAN_IR},        {EPSIG_RING2, CAS_CTL_RING_JAPAN_IR},
    {EPSIG_RING3, CAS_CTL_RING_JAPAN_IR},        {EPSIG_RING4, CAS_CTL_RING_JAPAN_IR},
    {EPSIG_RING5, CAS_CTL_RING_JAPAN_IR},        {EPSIG_RING6, CAS_CTL_RING_JAPAN_IR},
    {EPSIG_RING7, CAS_CTL_RING_JAPAN_IR},        {EPSIG_CALLID_RING0, CAS_CTL_RING_JAPAN_IR},
    {EPSIG_CALLID_RING1, CAS_CTL_RING_JAPAN_IR}, {EPSIG_CALLID_RING2, CAS_CTL_RING_JAPAN_IR},
    {EPSIG_CALLID_RING3, CAS_CTL_RING_JAPAN_IR}, {EPSIG_CALLID_RING4, CAS_CTL_RING_JAPAN_IR},
    {EPSIG_CALLID_RING5, CAS_CTL_RING_JAPAN_IR}, {EPSIG_CALLID_RING6, CAS_CTL_RING_JAPAN_IR},
    {EPSIG_CALLID_RING7, CAS_CTL_RING_JAPAN_IR}, {EPSIG_LAST, 0},
};

// The row of the signal: EPSIG_RINGING is the first row; others are searched from the second.
template <typename Row, int N>
const Row* FindRow(const Row (&map)[N], EPSIG signal) {
  if (signal == EPSIG_RINGING) return &map[0];
  for (int i = 1; i < N && map[i].signal != EPSIG_LAST; ++i) {
    if (map[i].signal == signal) return &map[i];
  }
  return nullptr;
}

}  // namespace

EPSTATUS globeEndptGetRingPattern(VRG_COUNTRY country, EPSIG signal,
                                  CAS_CTL_RING_PROFILE* profile, int* provItem) {
  if (country == VRG_COUNTRY_JAPAN) {
    const EPZJAPANRINGMAP* row = FindRow(pEpJapanRingMap, signal);
    if (row != nullptr) {
      if (profile != nullptr) {
        profile->pattern = row->pattern;
        profile->ringType = CAS_CTRL_STATIC_RING;
        profile->clidTxDelay = 0;
      }
      if (provItem != nullptr) *provItem = -1;
      return EPSTATUS_SUCCESS;
    }
  } else {
    const EPZGLOBERINGMAP* row = FindRow(pEpGlobeRingMap, signal);
    if (row != nullptr) {
      if (provItem != nullptr) *provItem = row->provItem;
      return EPSTATUS_SUCCESS;
    }
  }
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
           "EPT: GLOBE ENDPT ERROR: prov id/CAS profile not found for: signal (%d)!!! ", signal);
  return EPSTATUS_UNKNOWN_TYPE;
}

namespace {

// A provisioned cadence into the CAS ring profile: short patterns take two words, long ones
// seven.
void translateRingProfile(const VRG_RING_PROFILE& ring, CAS_CTL_RING_PROFILE* profile) {
  VRG_RING_PROFILE copy = ring;
  if (ring.type == VRG_RING_SHORT) {
    for (int i = 0; i < 2; ++i) profile->provBits.words[i] = vrgRingPatternWord(copy, i);
    profile->ringType = CAS_CTRL_SHORT_NORMAL_RING;
  } else if (ring.type == VRG_RING_LONG) {
    for (int i = 0; i < 7; ++i) profile->provBits.words[i] = vrgRingPatternWord(copy, i);
    profile->ringType = CAS_CTRL_LONG_NORMAL_RING;
  } else {
    voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
             "EPT: ENDPT ERROR: translateRingProfile - unknown ring type %d", ring.type);
  }
}

void LogRingPattern(const CAS_CTL_RING_PROFILE& p) {
  const uint32_t* w = p.provBits.words;
  switch (p.ringType) {
    case CAS_CTRL_SHORT_BRIEF_RING:
    case CAS_CTRL_SHORT_NORMAL_RING:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: Short ring info: patternId=%d; type=%d; delay=%u",
               static_cast<int>(p.pattern), p.ringType, p.clidTxDelay);
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT:    P1-P2: 0x%08x 0x%08x", w[0], w[1]);
      break;
    case CAS_CTRL_LONG_BRIEF_RING:
    case CAS_CTRL_LONG_NORMAL_RING:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: Long ring info: patternId=%d; type=%d; delay=%u",
               static_cast<int>(p.pattern), p.ringType, p.clidTxDelay);
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT:    P1-P4: 0x%08x 0x%08x 0x%08x 0x%08x", w[0],
               w[1], w[2], w[3]);
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT:    P5-P7: 0x%08x 0x%08x 0x%08x", w[4], w[5],
               w[6]);
      break;
    case CAS_CTRL_STATIC_RING:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "EPT: Static ring info: patternId=%d; type=%d; delay=%lu",
               static_cast<int>(p.pattern), p.ringType, static_cast<unsigned long>(p.clidTxDelay));
      break;
    default:
      voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR,
               "EPT: ENDPT ERROR: GetRingPattern - unknown ring type %d", p.ringType);
      break;
  }
}

}  // namespace

EPSTATUS GetRingPattern(EPSIG signal, VRG_COUNTRY country, const VRG_ENDPT* endpt,
                        CAS_CTL_RING_PROFILE* profile) {
  *profile = CAS_CTL_RING_PROFILE{};
  int provItem = -1;
  const EPSTATUS status = globeEndptGetRingPattern(country, signal, profile, &provItem);
  if (status == EPSTATUS_SUCCESS && provItem >= 0) {
    VRG_RING_PROFILE ring{};
    if (Provision(endpt, static_cast<EPPROV>(provItem), &ring) == EPSTATUS_SUCCESS) {
      translateRingProfile(ring, profile);
    }
  } else if (status != EPSTATUS_SUCCESS) {
    if (signal < EPSIG_CADENCE_RING_BASE || signal > EPSIG_CADENCE_RING_MAX) return status;
    // Numbered cadence rings read their item straight into the profile.
    const EPPROV item = static_cast<EPPROV>(static_cast<int>(signal) - EPSIG_CADENCE_RING_BASE +
                                            static_cast<int>(EPPROV_CadenceRingBase));
    alignas(8) uint8_t value[PROV_VALUE_MAX_BYTES] = {};
    if (Provision(endpt, item, value) != EPSTATUS_SUCCESS) return EPSTATUS_UNKNOWN_TYPE;
    memcpy(profile, value, sizeof *profile);
  }
  uint32_t delay = 0;
  if (Provision(endpt, EPPROV_CIDFskAfterRing, &delay) == EPSTATUS_SUCCESS) profile->clidTxDelay = delay;
  LogRingPattern(*profile);
  return EPSTATUS_SUCCESS;
}
