// Call-progress tone profiles: per-country filters and cadences of the DSP's call-progress tone
// detector, loaded one tone type at a time into one of its two filter slots.
#pragma once

#include <cstdint>

#include "hapi/hapi_types.h"
#include "vrgEndptTypes.h"

enum CMTD_TONE_TYPE : int32_t {
  CMTD_TONE_TYPE_INVALID = -1,
  CMTD_TONE_TYPE_DIAL = 0,
  CMTD_TONE_TYPE_RING = 1,  // ringback
  CMTD_TONE_TYPE_BUSY = 2,
  CMTD_TONE_TYPE_CONG = 3,  // congestion
  CMTD_TONE_TYPE_RELEASE = 4,
  CMTD_TONE_TYPE_MAX = 5,  // none
};

enum CMTD_FILTER_INDEX : int32_t { CMTD_FILTER_1 = 0, CMTD_FILTER_2 = 1 };
inline constexpr int CMTD_NUM_FILTERS = 2;
inline constexpr int CMTD_FILTER_TAPS = 79;
inline constexpr int CMTD_NUM_SUBSTATES = 6;
inline constexpr uint16_t CMTD_MIN_ATTENUATION = 16384;  // a quarter of the block power (Q16)
inline constexpr uint16_t CMTD_NO_MAX_TIME = 0xFFFF;

// Wire blocks of the detector (16-bit words).
struct HAPI_CMTD_FILTERCOEFS {
  uint16_t type;            // tap count
  uint16_t minAttenuation;  // Q16 fraction of the block power the output may keep for a tone
  int16_t filterTaps[CMTD_FILTER_TAPS];
};
static_assert(sizeof(HAPI_CMTD_FILTERCOEFS) == 162, "filter coefficients are 162 bytes");

struct HAPI_CMTD_FILTER {
  uint16_t index;
  uint16_t reserved;
  HAPI_CMTD_FILTERCOEFS coefs;
};
static_assert(sizeof(HAPI_CMTD_FILTER) == 166, "filter block is 166 bytes");

struct HAPI_CMTD_SUBSTATEPARAMS {
  uint16_t minTimeMs;
  uint16_t maxTimeMs;     // 0xFFFF: no upper limit; 0 after the last substate ends the sequence
  uint16_t activeFilter;  // 0 silence, else the tone filter that must be active
  uint16_t reserved;
};

struct HAPI_CMTD_STMPARAMS {
  HAPI_CMTD_SUBSTATEPARAMS substate[CMTD_NUM_SUBSTATES];
};

struct HAPI_CMTD_STM {
  uint16_t index;
  uint16_t reserved;
  HAPI_CMTD_STMPARAMS stmParams;
};
static_assert(sizeof(HAPI_CMTD_STM) == 52, "cadence block is 52 bytes");

// One profile: the filter of the tone and its cadence.
struct CMTD_STMPARAMS {
  uint16_t filtSize;
  const int16_t* filtCoeffp;
  uint16_t numSubStates;
  HAPI_CMTD_STM stmParam;
};

// The five profiles of a country by tone type; a null entry has no profile.
struct CMTD_COUNTRY_PROFILE {
  const CMTD_STMPARAMS* tone[CMTD_TONE_TYPE_MAX];
};
extern const CMTD_COUNTRY_PROFILE* const cmtdCallingToneProfiles[VRG_COUNTRY_MAX];

extern const CMTD_STMPARAMS northAmericaDialToneParam;
extern const CMTD_STMPARAMS northAmericaRingbackParam;
extern const CMTD_STMPARAMS northAmericaBusyToneParam;
extern const CMTD_STMPARAMS northAmericaCongToneParam;

// The generated filter sets (cmtd_filters_tables.cpp).
extern const int16_t cmtdFilter350_440[CMTD_FILTER_TAPS];
extern const int16_t cmtdFilter440_480[CMTD_FILTER_TAPS];
extern const int16_t cmtdFilter480_620[CMTD_FILTER_TAPS];
extern const int16_t cmtdFilter400[CMTD_FILTER_TAPS];
extern const int16_t cmtdFilter400Mod20[CMTD_FILTER_TAPS];
extern const int16_t cmtdFilter400_450[CMTD_FILTER_TAPS];
extern const int16_t cmtdFilter425[CMTD_FILTER_TAPS];
extern const int16_t cmtdFilter440[CMTD_FILTER_TAPS];

HAPIRESULT cmtdCtlConfigFilter(uint16_t hdl, VRG_COUNTRY locale, CMTD_TONE_TYPE toneType,
                               CMTD_FILTER_INDEX filterIndex);
HAPIRESULT cmtdCtlDisable(uint16_t hdl);
CMTD_TONE_TYPE cmtdCtlGetConfigTone(int filterIndex);
const char* cmtdCtlMapToneType(int tone);
// The profile that cmtdCtlConfigFilter loads for a country and tone type (the defaults
// included), or none when nothing is loaded (the release tone without a country table).
const CMTD_STMPARAMS* cmtdCtlProfileFor(VRG_COUNTRY locale, CMTD_TONE_TYPE toneType);
