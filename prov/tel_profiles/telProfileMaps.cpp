#include "telProfileMaps.h"

#include <strings.h>

#include <cstdint>

#include "telProfile.h"

const COUNTRY_MAP countryMap[] = {
    {VRG_COUNTRY_AUSTRALIA, "AUS"},     {VRG_COUNTRY_BELGIUM, "BEL"},
    {VRG_COUNTRY_BRAZIL, "BRA"},        {VRG_COUNTRY_CHILE, "CHL"},
    {VRG_COUNTRY_CHINA, "CHN"},         {VRG_COUNTRY_CROATIA, "HRV"},
    {VRG_COUNTRY_CZECH, "CZH"},         {VRG_COUNTRY_DENMARK, "DNK"},
    {VRG_COUNTRY_ETSI, "ETS"},          {VRG_COUNTRY_FINLAND, "FIN"},
    {VRG_COUNTRY_FRANCE, "FRA"},        {VRG_COUNTRY_GERMANY, "DEU"},
    {VRG_COUNTRY_HUNGARY, "HUN"},       {VRG_COUNTRY_INDIA, "IND"},
    {VRG_COUNTRY_ITALY, "ITA"},         {VRG_COUNTRY_JAPAN, "JPN"},
    {VRG_COUNTRY_NETHERLANDS, "NLD"},   {VRG_COUNTRY_NEW_ZEALAND, "NZL"},
    {VRG_COUNTRY_NORTH_AMERICA, "USA"}, {VRG_COUNTRY_SPAIN, "ESP"},
    {VRG_COUNTRY_SWEDEN, "SWE"},        {VRG_COUNTRY_NORWAY, "NOR"},
    {VRG_COUNTRY_SWITZERLAND, "CHE"},   {VRG_COUNTRY_TR57, "T57"},
    {VRG_COUNTRY_UK, "GBR"},            {VRG_COUNTRY_TAIWAN, "TWN"},
    {VRG_COUNTRY_CYPRUS, "CYP"},        {VRG_COUNTRY_MAX, nullptr},
};

namespace {

const VALUE_MAP cidModeMap[] = {
    {"onhook_ring", 0}, {"onhook_LRCARIR", 1}, {"onhook_DTAS", 2}, {"onhook_RPAS", 3},
    {"onhook_LRAS", 4}, {"onhook_LR", 5},      {"offhook", 6},     {nullptr, 0},
};
const VALUE_MAP cidSigProtocolMap[] = {{"FSK", 1}, {"DTMF", 2}, {nullptr, 0}};
const VALUE_MAP vmwiModeMap[] = {{"OSI", 7}, {"DTAS", 8}, {"RPAS", 9}, {"LRAS", 10}, {nullptr, 0}};
const VALUE_MAP vmwiSigProtocolMap[] = {{"FSK", 3}, {"DTMF", 4}, {nullptr, 0}};
const VALUE_MAP vmwiMsgFormatMap[] = {{"SDMF", 0}, {"MDMF", 1}, {nullptr, 0}};
const VALUE_MAP ringWaveformMap[] = {{"sine", 0}, {"trapezoid", 1}, {nullptr, 0}};
const VALUE_MAP pteDetectAdminMap[] = {
    {"n_america", 0}, {"general", 1}, {"japan", 2},   {"europe", 3},
    {"australia", 4}, {"brazil", 5},  {nullptr, 0},
};

constexpr TAG_HANDLER INT = tpIntItemHandler;

}  // namespace

const VALUE_MAP pteDTMFDDGTMap[] = {
    {"DTMFERROR", 127}, {"DTMF0", 0},    {"DTMF1", 1},   {"DTMF2", 2},   {"DTMF3", 3},
    {"DTMF4", 4},       {"DTMF5", 5},    {"DTMF6", 6},   {"DTMF7", 7},   {"DTMF8", 8},
    {"DTMF9", 9},       {"DTMFSTR", 10}, {"DTMFPND", 11}, {"DTMFA", 12}, {"DTMFB", 13},
    {"DTMFC", 14},      {"DTMFD", 15},   {nullptr, 0},
};

const TAG_MAP_ENTRY frequencyTagMap[] = {
    {"hertz", tpToneHandler, nullptr, TP_FIELD_FREQ_HERTZ, nullptr},
    {"level", tpToneHandler, nullptr, TP_FIELD_FREQ_LEVEL, nullptr},
    {nullptr, nullptr, nullptr, TP_FIELD_NONE, nullptr},
};

const TAG_MAP_ENTRY toneTagMap[] = {
    {"repetitions", tpToneHandler, nullptr, TP_FIELD_COMP_REPETITIONS, nullptr},
    {"soundDuration", tpToneHandler, nullptr, TP_FIELD_COMP_SOUND, nullptr},
    {"silenceDuration", tpToneHandler, nullptr, TP_FIELD_COMP_SILENCE, nullptr},
    {"modulateTone", tpToneHandler, nullptr, TP_FIELD_COMP_MODULATE, nullptr},
    {"modulatePercent", tpToneHandler, nullptr, TP_FIELD_COMP_MODPERCENT, nullptr},
    {"frequencies", tpToneHandler, nullptr, TP_FIELD_COMP_FREQUENCIES, nullptr},
    {"frequency", tpToneHandler, frequencyTagMap, TP_FIELD_NONE, nullptr},
    {nullptr, nullptr, nullptr, TP_FIELD_NONE, nullptr},
};

const TAG_MAP_ENTRY toneProfileTagMap[] = {
    {"toneName", tpToneHandler, nullptr, TP_FIELD_TONE_NAME, nullptr},
    {"repetitions", tpToneHandler, nullptr, TP_FIELD_TONE_REPETITIONS, nullptr},
    {"tones", tpToneHandler, nullptr, TP_FIELD_TONE_TONES, nullptr},
    {"noSteadyTone", tpToneHandler, nullptr, TP_FIELD_TONE_NOSTEADY, nullptr},
    {"tone", tpToneHandler, toneTagMap, TP_FIELD_NONE, nullptr},
    {nullptr, nullptr, nullptr, TP_FIELD_NONE, nullptr},
};

const TAG_MAP_ENTRY ringProfileTagMap[] = {
    {"name", tpRingHandler, nullptr, TP_FIELD_RING_NAME, nullptr},
    {"longPattern", tpRingHandler, nullptr, TP_FIELD_RING_LONG, nullptr},
    {"pattern", tpRingHandler, nullptr, TP_FIELD_RING_PATTERN, nullptr},
    {nullptr, nullptr, nullptr, TP_FIELD_NONE, nullptr},
};

const TAG_MAP_ENTRY CIDFskParmsTagMap[] = {
    {"CIDFskParmsName", tpFskHandler, nullptr, TP_FIELD_FSK_NAME, nullptr},
    {"amplitude", tpFskHandler, nullptr, TP_FIELD_FSK_AMPLITUDE, nullptr},
    {"markFrequency", tpFskHandler, nullptr, TP_FIELD_FSK_MARK, nullptr},
    {"spaceFrequency", tpFskHandler, nullptr, TP_FIELD_FSK_SPACE, nullptr},
    {"startNumSeizes", tpFskHandler, nullptr, TP_FIELD_FSK_SEIZES, nullptr},
    {"startNumMarks", tpFskHandler, nullptr, TP_FIELD_FSK_MARKS, nullptr},
    {nullptr, nullptr, nullptr, TP_FIELD_NONE, nullptr},
};

const TAG_MAP_ENTRY CIDDtmfParmsTagMap[] = {
    {"CIDDtmfParmsName", tpDtmfHandler, nullptr, TP_FIELD_DTMF_NAME, nullptr},
    {"dbLevel", tpDtmfHandler, nullptr, TP_FIELD_DTMF_DBLEVEL, nullptr},
    {"pulseTime", tpDtmfHandler, nullptr, TP_FIELD_DTMF_PULSETIME, nullptr},
    {"startCode", tpDtmfHandler, nullptr, TP_FIELD_DTMF_START, nullptr},
    {"endCode", tpDtmfHandler, nullptr, TP_FIELD_DTMF_END, nullptr},
    {"redirectingCode", tpDtmfHandler, nullptr, TP_FIELD_DTMF_REDIRECTING, nullptr},
    {"informationCode", tpDtmfHandler, nullptr, TP_FIELD_DTMF_INFORMATION, nullptr},
    {"privateCode", tpDtmfHandler, nullptr, TP_FIELD_DTMF_PRIVATE, nullptr},
    {"unavailCode", tpDtmfHandler, nullptr, TP_FIELD_DTMF_UNAVAIL, nullptr},
    {"errorCode", tpDtmfHandler, nullptr, TP_FIELD_DTMF_ERROR, nullptr},
    {"DTMFpauseTimeout", tpDtmfHandler, nullptr, TP_FIELD_DTMF_PAUSE, nullptr},
    {"DTMFsessionTimeout", tpDtmfHandler, nullptr, TP_FIELD_DTMF_SESSION, nullptr},
    {"ringAfterClidTimeout", tpDtmfHandler, nullptr, TP_FIELD_DTMF_RINGAFTER, nullptr},
    {nullptr, nullptr, nullptr, TP_FIELD_NONE, nullptr},
};

const TAG_MAP_ENTRY rootTagMap[] = {
    {"country", tpCountryHandler, nullptr, TP_FIELD_NONE, nullptr},
    {"toneProfile", tpToneHandler, toneProfileTagMap, TP_FIELD_NONE, nullptr},
    {"ringProfile", tpRingHandler, ringProfileTagMap, TP_FIELD_NONE, nullptr},
    {"MinHookFlash", INT, nullptr, TP_FIELD_INT, nullptr},
    {"MaxHookFlash", INT, nullptr, TP_FIELD_INT, nullptr},
    {"PlsDlInterdigitTime", INT, nullptr, TP_FIELD_INT, nullptr},
    {"PlsDlMinMakeTime", INT, nullptr, TP_FIELD_INT, nullptr},
    {"PlsDlMaxMakeTime", INT, nullptr, TP_FIELD_INT, nullptr},
    {"PlsDlMinBreakTime", INT, nullptr, TP_FIELD_INT, nullptr},
    {"PlsDlMaxBreakTime", INT, nullptr, TP_FIELD_INT, nullptr},
    {"MinConnect", INT, nullptr, TP_FIELD_INT, nullptr},
    {"MinDisconnect", INT, nullptr, TP_FIELD_INT, nullptr},
    {"CIDMode", INT, nullptr, TP_FIELD_NAMED, cidModeMap},
    {"CIDFskAfterRing", INT, nullptr, TP_FIELD_INT, nullptr},
    {"CIDFskAfterDTAS", INT, nullptr, TP_FIELD_INT, nullptr},
    {"CIDFskAfterRPAS", INT, nullptr, TP_FIELD_INT, nullptr},
    {"CIDRingAfterFSK", INT, nullptr, TP_FIELD_INT, nullptr},
    {"CIDDTASAfterLR", INT, nullptr, TP_FIELD_INT, nullptr},
    {"CIDDTMFAfterLR", INT, nullptr, TP_FIELD_INT, nullptr},
    {"CIDSigProtocol", INT, nullptr, TP_FIELD_NAMED, cidSigProtocolMap},
    {"CallWtgDelay", INT, nullptr, TP_FIELD_INT, nullptr},
    {"HighVoltageRingSupport", INT, nullptr, TP_FIELD_BOOL, nullptr},
    {"VMWIMode", INT, nullptr, TP_FIELD_NAMED, vmwiModeMap},
    {"VMWIFskAfterDTAS", INT, nullptr, TP_FIELD_INT, nullptr},
    {"VMWIFskAfterRPAS", INT, nullptr, TP_FIELD_INT, nullptr},
    {"VMWIDTASAfterLR", INT, nullptr, TP_FIELD_INT, nullptr},
    {"VMWISigProtocol", INT, nullptr, TP_FIELD_NAMED, vmwiSigProtocolMap},
    {"VMWIMsgFormat", INT, nullptr, TP_FIELD_NAMED, vmwiMsgFormatMap},
    {"DtmfDbLevel", INT, nullptr, TP_FIELD_INT, nullptr},
    {"DtmfPulseTime", INT, nullptr, TP_FIELD_INT, nullptr},
    {"PowerRingFrequency", INT, nullptr, TP_FIELD_INT, nullptr},
    {"RingVoltage", INT, nullptr, TP_FIELD_INT, nullptr},
    {"RingDCOffset", INT, nullptr, TP_FIELD_INT, nullptr},
    {"RingWaveform", INT, nullptr, TP_FIELD_NAMED, ringWaveformMap},
    {"PteDetectAdmin", INT, nullptr, TP_FIELD_NAMED, pteDetectAdminMap},
    {"PteMinDetectPower", INT, nullptr, TP_FIELD_INT, nullptr},
    {"PveEgressVolume", INT, nullptr, TP_FIELD_INT, nullptr},
    {"CIDFskParmsProfile", tpFskHandler, CIDFskParmsTagMap, TP_FIELD_NONE, nullptr},
    {"CIDDtmfParmsProfile", tpDtmfHandler, CIDDtmfParmsTagMap, TP_FIELD_NONE, nullptr},
    {nullptr, nullptr, nullptr, TP_FIELD_NONE, nullptr},
};

const TAG_PROV_MAP tagProvItemMap[] = {
    {"generalRing", EPPROV_RGCadence},
    {"splashRing", EPPROV_RSCadence},
    {"ring0", EPPROV_R0Cadence},
    {"ring1", EPPROV_R1Cadence},
    {"ring2", EPPROV_R2Cadence},
    {"ring3", EPPROV_R3Cadence},
    {"ring4", EPPROV_R4Cadence},
    {"ring5", EPPROV_R5Cadence},
    {"ring6", EPPROV_R6Cadence},
    {"ring7", EPPROV_R7Cadence},
    {"ToneBusy", EPPROV_ToneBusy},
    {"ToneConfirmation", EPPROV_ToneConfirmation},
    {"ToneDial", EPPROV_ToneDial},
    {"ToneMessageWaiting", EPPROV_ToneMessageWaiting},
    {"ToneOffHookWarning", EPPROV_ToneOffHookWarning},
    {"ToneRingBack", EPPROV_ToneRingBack},
    {"ToneReOrder", EPPROV_ToneReOrder},
    {"ToneStutterdial", EPPROV_ToneStutterdial},
    {"ToneCallWaiting", EPPROV_ToneCallWaiting},
    {"ToneCallWaiting1", EPPROV_ToneCallWaiting1},
    {"ToneCallWaiting2", EPPROV_ToneCallWaiting2},
    {"ToneCallWaiting3", EPPROV_ToneCallWaiting3},
    {"ToneCallWaiting4", EPPROV_ToneCallWaiting4},
    {"ToneAlertingSignal", EPPROV_ToneAlertingSignal},
    {"ToneSpecialDial", EPPROV_ToneSpecialDial},
    {"ToneSpecialInfo", EPPROV_ToneSpecialInfo},
    {"ToneRelease", EPPROV_ToneRelease},
    {"ToneCongestion", EPPROV_ToneCongestion},
    {"ToneCongestion1", EPPROV_ToneCongestion1},
    {"ToneUserDefined1", EPPROV_ToneUserDefined1},
    {"ToneUserDefined2", EPPROV_ToneUserDefined2},
    {"ToneUserDefined3", EPPROV_ToneUserDefined3},
    {"ToneUserDefined4", EPPROV_ToneUserDefined4},
    {"ToneUserDefined5", EPPROV_ToneUserDefined5},
    {"ToneUserDefined6", EPPROV_ToneUserDefined6},
    {"ToneCallingCard", EPPROV_CallingCard},
    {"MinHookFlash", EPPROV_MinHookFlash},
    {"MaxHookFlash", EPPROV_MaxHookFlash},
    {"PlsDlInterdigitTime", EPPROV_PlsDlInterdigitTime},
    {"PlsDlMinMakeTime", EPPROV_PlsDlMinMakeTime},
    {"PlsDlMaxMakeTime", EPPROV_PlsDlMaxMakeTime},
    {"PlsDlMinBreakTime", EPPROV_PlsDlMinBreakTime},
    {"PlsDlMaxBreakTime", EPPROV_PlsDlMaxBreakTime},
    {"MinConnect", EPPROV_MinConnect},
    {"MinDisconnect", EPPROV_MinDisconnect},
    {"CIDMode", EPPROV_CIDMode},
    {"CIDFskAfterRing", EPPROV_CIDFskAfterRing},
    {"CIDFskAfterDTAS", EPPROV_CIDFskAfterDTAS},
    {"CIDFskAfterRPAS", EPPROV_CIDFskAfterRPAS},
    {"CIDRingAfterFSK", EPPROV_CIDRingAfterFSK},
    {"CIDDTASAfterLR", EPPROV_CIDDTASAfterLR},
    {"CIDDTMFAfterLR", EPPROV_CIDDTMFAfterLR},
    {"CIDSigProtocol", EPPROV_CIDSigProtocol},
    {"CallWtgDelay", EPPROV_CallWtgDelay},
    {"CallWtgMaxRep", EPPROV_CallWtgMaxRep},
    {"HighVoltageRingSupport", EPPROV_HighVring},
    {"VMWIMode", EPPROV_VMWIMode},
    {"VMWIFskAfterDTAS", EPPROV_VMWIFskAfterDTAS},
    {"VMWIFskAfterRPAS", EPPROV_VMWIFskAfterRPAS},
    {"VMWIDTASAfterLR", EPPROV_VMWIDTASAfterLR},
    {"VMWISigProtocol", EPPROV_VMWISigProtocol},
    {"VMWIMsgFormat", EPPROV_VMWIMsgFormat},
    {"DtmfDbLevel", EPPROV_DtmfDbLevel},
    {"DtmfPulseTime", EPPROV_DtmfPulseTime},
    {"PowerRingFrequency", EPPROV_PowerRingFrequency},
    {"RingVoltage", EPPROV_RingVoltage},
    {"RingDCOffset", EPPROV_RingDCOffset},
    {"RingWaveform", EPPROV_RingWaveform},
    {"PteDetectAdmin", EPPROV_PteDetectAdmin},
    {"PteMinDetectPower", EPPROV_PteMinDetectPower},
    {"PveEgressVolume", EPPROV_PveEgressVolume},
    {"CIDFskParms", EPPROV_CIDFskParms},
    {"CIDDtmfParms", EPPROV_CIDDtmfParms},
    {nullptr, EPPROV_LastItem},
};

EPPROV tpLookupProvItem(const char* name) {
  for (const TAG_PROV_MAP* entry = tagProvItemMap; entry->tagName != nullptr; ++entry) {
    if (strcasecmp(entry->tagName, name) == 0) {
      return entry->provItem;
    }
  }
  return EPPROV_LastItem;
}

bool tpLookupValue(const VALUE_MAP* map, const char* name, int* value) {
  for (const VALUE_MAP* entry = map; entry != nullptr && entry->name != nullptr; ++entry) {
    if (strcasecmp(entry->name, name) == 0) {
      *value = entry->value;
      return true;
    }
  }
  return false;
}

namespace {

// Times are in ms; a value outside its range would make the line misbehave rather than fail, so
// the item is refused instead.
constexpr long long kMaxTimeMs = 10000;
const TP_INT_RANGE intItemRanges[] = {
    {EPPROV_MinHookFlash, 0, kMaxTimeMs},        {EPPROV_MaxHookFlash, 0, kMaxTimeMs},
    {EPPROV_PlsDlInterdigitTime, 0, kMaxTimeMs}, {EPPROV_PlsDlMinMakeTime, 0, kMaxTimeMs},
    {EPPROV_PlsDlMaxMakeTime, 0, kMaxTimeMs},    {EPPROV_PlsDlMinBreakTime, 0, kMaxTimeMs},
    {EPPROV_PlsDlMaxBreakTime, 0, kMaxTimeMs},   {EPPROV_MinConnect, 0, kMaxTimeMs},
    {EPPROV_MinDisconnect, 0, kMaxTimeMs},       {EPPROV_CIDFskAfterRing, 0, kMaxTimeMs},
    {EPPROV_CIDFskAfterDTAS, 0, kMaxTimeMs},     {EPPROV_CIDFskAfterRPAS, 0, kMaxTimeMs},
    {EPPROV_CIDRingAfterFSK, 0, kMaxTimeMs},     {EPPROV_CIDDTASAfterLR, 0, kMaxTimeMs},
    {EPPROV_CIDDTMFAfterLR, 0, kMaxTimeMs},      {EPPROV_CallWtgDelay, 0, kMaxTimeMs},
    {EPPROV_VMWIFskAfterDTAS, 0, kMaxTimeMs},    {EPPROV_VMWIFskAfterRPAS, 0, kMaxTimeMs},
    {EPPROV_VMWIDTASAfterLR, 0, kMaxTimeMs},     {EPPROV_DtmfDbLevel, 0, 40},
    {EPPROV_DtmfPulseTime, 0, 2000},             {EPPROV_PowerRingFrequency, 10, 100},
    {EPPROV_RingVoltage, 0, 150},                {EPPROV_RingDCOffset, -100, 100},
    {EPPROV_PteMinDetectPower, -80, 0},          {EPPROV_PveEgressVolume, -40, 40},
};

// The built-in value of every simple item: the North American setting, kept by an item whose
// value a profile gets wrong (a timing taken as 0 would turn every hook flash into a hang-up).
struct TP_INT_DEFAULT {
  EPPROV item;
  int32_t value;
};
const TP_INT_DEFAULT intItemDefaults[] = {
    {EPPROV_MinHookFlash, 300},       {EPPROV_MaxHookFlash, 1000},     {EPPROV_PlsDlInterdigitTime, 300},
    {EPPROV_PlsDlMinMakeTime, 20},    {EPPROV_PlsDlMaxMakeTime, 75},   {EPPROV_PlsDlMinBreakTime, 40},
    {EPPROV_PlsDlMaxBreakTime, 90},   {EPPROV_MinConnect, 100},        {EPPROV_MinDisconnect, 1100},
    {EPPROV_CIDMode, 0},              {EPPROV_CIDSigProtocol, 1},      {EPPROV_CIDFskAfterRing, 500},
    {EPPROV_CIDFskAfterDTAS, 50},     {EPPROV_CIDFskAfterRPAS, 650},   {EPPROV_CIDRingAfterFSK, 500},
    {EPPROV_CIDDTASAfterLR, 150},     {EPPROV_CIDDTMFAfterLR, 300},    {EPPROV_CallWtgDelay, 100},
    {EPPROV_VMWIMode, 7},             {EPPROV_VMWISigProtocol, 3},     {EPPROV_VMWIMsgFormat, 1},
    {EPPROV_VMWIFskAfterDTAS, 50},    {EPPROV_VMWIFskAfterRPAS, 650},  {EPPROV_VMWIDTASAfterLR, 150},
    {EPPROV_DtmfDbLevel, 7},          {EPPROV_DtmfPulseTime, 100},     {EPPROV_HighVring, 0},
    {EPPROV_PowerRingFrequency, 20},  {EPPROV_RingWaveform, 0},        {EPPROV_RingVoltage, 50},
    {EPPROV_RingDCOffset, 0},         {EPPROV_PteDetectAdmin, 0},      {EPPROV_PteMinDetectPower, -40},
    {EPPROV_PveEgressVolume, 0},
};

}  // namespace

bool tpIntItemDefault(EPPROV item, int32_t* value) {
  for (const TP_INT_DEFAULT& d : intItemDefaults) {
    if (d.item == item) {
      *value = d.value;
      return true;
    }
  }
  return false;
}

void tpIntItemRange(EPPROV item, long long* min, long long* max) {
  *min = INT32_MIN;
  *max = INT32_MAX;
  for (const TP_INT_RANGE& range : intItemRanges) {
    if (range.item == item) {
      *min = range.min;
      *max = range.max;
      return;
    }
  }
}
