// The provisioning store: a fixed table of items with one value buffer per item and line,
// allocated once. Lookups scan the table in order; the EPPROV_LastItem row ends every scan.

#include "vrgProv.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "boardHal.h"
#include "voiceLog.h"

namespace {

constexpr uint32_t NONE = PROV_UNSET_MARKER;

}  // namespace

// clang-format off
PROV_ENTRY provTable[PROV_TABLE_ROWS] = {
  // Ring cadences (VRG_RING_PROFILE)
  {EPPROV_R0Cadence,             "EPPROV_R0Cadence",             44,   0, NONE,  {}},
  {EPPROV_R1Cadence,             "EPPROV_R1Cadence",             44,   0, NONE,  {}},
  {EPPROV_R2Cadence,             "EPPROV_R2Cadence",             44,   0, NONE,  {}},
  {EPPROV_R3Cadence,             "EPPROV_R3Cadence",             44,   0, NONE,  {}},
  {EPPROV_R4Cadence,             "EPPROV_R4Cadence",             44,   0, NONE,  {}},
  {EPPROV_R5Cadence,             "EPPROV_R5Cadence",             44,   0, NONE,  {}},
  {EPPROV_R6Cadence,             "EPPROV_R6Cadence",             44,   0, NONE,  {}},
  {EPPROV_R7Cadence,             "EPPROV_R7Cadence",             44,   0, NONE,  {}},
  {EPPROV_RGCadence,             "EPPROV_RGCadence",             44,   0, NONE,  {}},
  {EPPROV_RSCadence,             "EPPROV_RSCadence",             44,   0, NONE,  {}},
  {EPPROV_CallWtgDelay,          "EPPROV_CallWtgDelay",          4,    1, NONE,  {}},
  // Tone patterns (HDSP_TONE_PROV_PATTERN)
  {EPPROV_ToneBusy,              "EPPROV_ToneBusy",              292,  1, NONE,  {}},
  {EPPROV_ToneConfirmation,      "EPPROV_ToneConfirmation",      292,  1, NONE,  {}},
  {EPPROV_ToneDial,              "EPPROV_ToneDial",              292,  1, NONE,  {}},
  {EPPROV_ToneSpecialDial,       "EPPROV_ToneSpecialDial",       292,  1, NONE,  {}},
  {EPPROV_ToneMessageWaiting,    "EPPROV_ToneMessageWaiting",    292,  1, NONE,  {}},
  {EPPROV_ToneOffHookWarning,    "EPPROV_ToneOffHookWarning",    292,  1, NONE,  {}},
  {EPPROV_ToneRingBack,          "EPPROV_ToneRingBack",          292,  1, NONE,  {}},
  {EPPROV_ToneReOrder,           "EPPROV_ToneReOrder",           292,  1, NONE,  {}},
  {EPPROV_ToneStutterdial,       "EPPROV_ToneStutterdial",       292,  1, NONE,  {}},
  {EPPROV_ToneCallWaiting,       "EPPROV_ToneCallWaiting",       292,  1, NONE,  {}},
  {EPPROV_ToneCallWaiting1,      "EPPROV_ToneCallWaiting1",      292,  1, NONE,  {}},
  {EPPROV_ToneCallWaiting2,      "EPPROV_ToneCallWaiting2",      292,  1, NONE,  {}},
  {EPPROV_ToneCallWaiting3,      "EPPROV_ToneCallWaiting3",      292,  1, NONE,  {}},
  {EPPROV_ToneCallWaiting4,      "EPPROV_ToneCallWaiting4",      292,  1, NONE,  {}},
  {EPPROV_ToneCongestion,        "EPPROV_ToneCongestion",        292,  1, NONE,  {}},
  {EPPROV_ToneCongestion1,       "EPPROV_ToneCongestion1",       292,  1, NONE,  {}},
  {EPPROV_ToneUserDefined1,      "EPPROV_ToneUserDefined1",      292,  0, NONE,  {}},
  {EPPROV_ToneUserDefined2,      "EPPROV_ToneUserDefined2",      292,  0, NONE,  {}},
  {EPPROV_ToneUserDefined3,      "EPPROV_ToneUserDefined3",      292,  0, NONE,  {}},
  {EPPROV_ToneUserDefined4,      "EPPROV_ToneUserDefined4",      292,  0, NONE,  {}},
  {EPPROV_ToneUserDefined5,      "EPPROV_ToneUserDefined5",      292,  0, NONE,  {}},
  {EPPROV_ToneUserDefined6,      "EPPROV_ToneUserDefined6",      292,  0, NONE,  {}},
  {EPPROV_CallingCard,           "EPPROV_CallingCard",           292,  0, NONE,  {}},
  // Hook, pulse-dial, caller-ID and message-waiting timing
  {EPPROV_MinHookFlash,          "EPPROV_MinHookFlash",          4,    1, NONE,  {}},
  {EPPROV_MaxHookFlash,          "EPPROV_MaxHookFlash",          4,    1, NONE,  {}},
  {EPPROV_PlsDlInterdigitTime,   "EPPROV_PlsDlInterdigitTime",   4,    1, NONE,  {}},
  {EPPROV_PlsDlMinMakeTime,      "EPPROV_PlsDlMinMakeTime",      4,    1, NONE,  {}},
  {EPPROV_PlsDlMaxMakeTime,      "EPPROV_PlsDlMaxMakeTime",      4,    1, NONE,  {}},
  {EPPROV_PlsDlMinBreakTime,     "EPPROV_PlsDlMinBreakTime",     4,    1, NONE,  {}},
  {EPPROV_PlsDlMaxBreakTime,     "EPPROV_PlsDlMaxBreakTime",     4,    1, NONE,  {}},
  {EPPROV_CIDMode,               "EPPROV_CIDMode",               4,    1, NONE,  {}},
  {EPPROV_CIDFskAfterRing,       "EPPROV_CIDFskAfterRing",       4,    1, NONE,  {}},
  {EPPROV_CIDFskAfterDTAS,       "EPPROV_CIDFskAfterDTAS",       4,    1, NONE,  {}},
  {EPPROV_CIDFskAfterRPAS,       "EPPROV_CIDFskAfterRPAS",       4,    1, NONE,  {}},
  {EPPROV_CIDRingAfterFSK,       "EPPROV_CIDRingAfterFSK",       4,    1, NONE,  {}},
  {EPPROV_CIDDTASAfterLR,        "EPPROV_CIDDTASAfterLR",        4,    1, NONE,  {}},
  {EPPROV_CIDSigProtocol,        "EPPROV_CIDSigProtocol",        4,    1, NONE,  {}},
  {EPPROV_MinConnect,            "EPPROV_MinConnect",            4,    1, NONE,  {}},
  {EPPROV_MinDisconnect,         "EPPROV_MinDisconnect",         4,    1, NONE,  {}},
  {EPPROV_VMWIMode,              "EPPROV_VMWIMode",              4,    1, NONE,  {}},
  {EPPROV_VMWIFskAfterDTAS,      "EPPROV_VMWIFskAfterDTAS",      4,    1, NONE,  {}},
  {EPPROV_VMWIFskAfterRPAS,      "EPPROV_VMWIFskAfterRPAS",      4,    1, NONE,  {}},
  {EPPROV_VMWIDTASAfterLR,       "EPPROV_VMWIDTASAfterLR",       4,    1, NONE,  {}},
  // Line and media settings
  {EPPROV_AnalogLoopback,        "EPPROV_AnalogLoopback",        4,    0, 0,     {}},
  {EPPROV_BoostedLoopCurrent,    "EPPROV_BoostedLoopCurrent",    4,    0, 0,     {}},
  {EPPROV_VoiceJitterBuffFixed,  "EPPROV_VoiceJitterBuffFixed",  4,    0, 0,     {}},
  {EPPROV_VoiceJitterBuffMin,    "EPPROV_VoiceJitterBuffMin",    4,    0, 0,     {}},
  {EPPROV_VoiceJitterBuffMax,    "EPPROV_VoiceJitterBuffMax",    4,    0, 0,     {}},
  {EPPROV_VoiceJitterBuffTarget, "EPPROV_VoiceJitterBuffTarget", 4,    0, 0,     {}},
  {EPPROV_DataJitterBuffTarget,  "EPPROV_DataJitterBuffTarget",  4,    0, 0,     {}},
  {EPPROV_TxGain,                "EPPROV_TxGain",                4,    0, 0,     {}},
  {EPPROV_RxGain,                "EPPROV_RxGain",                4,    0, 0,     {}},
  {EPPROV_GR303Support,          "EPPROV_GR303Support",          4,    0, 0,     {}},
  {EPPROV_Pulse2DtmfConvert,     "EPPROV_Pulse2DtmfConvert",     4,    0, 0,     {}},
  {EPPROV_MeteringFrequency,     "EPPROV_MeteringFrequency",     4,    0, 16000, {}},
  // Fax and DTMF
  {EPPROV_FaxDetection,          "EPPROV_FaxDetection",          4,    0, 1,     {}},
  {EPPROV_DTMFPlayout,           "EPPROV_DTMFPlayout",           4,    0, NONE,  {}},
  {EPPROV_DtmfDbLevel,           "EPPROV_DtmfDbLevel",           4,    1, NONE,  {}},
  {EPPROV_DtmfPulseTime,         "EPPROV_DtmfPulseTime",         4,    1, NONE,  {}},
  {EPPROV_DTMFSkew,              "EPPROV_DTMFSkew",              4,    0, 2,     {}},
  {EPPROV_Rfc2833ToneLevel,      "EPPROV_Rfc2833ToneLevel",      4,    0, 64,    {}},
  // Ringing
  {EPPROV_HighVring,             "EPPROV_HighVring",             4,    0, 0,     {}},
  {EPPROV_PowerRingFrequency,    "EPPROV_PowerRingFrequency",    4,    1, NONE,  {}},
  {EPPROV_RingWaveform,          "EPPROV_RingWaveform",          4,    1, NONE,  {}},
  {EPPROV_RingVoltage,           "EPPROV_RingVoltage",           4,    1, NONE,  {}},
  {EPPROV_RingDCOffset,          "EPPROV_RingDCOffset",          4,    1, NONE,  {}},
  {EPPROV_RingOffsetCal,         "EPPROV_RingOffsetCal",         4,    0, 0,     {}},
  {EPPROV_LoadBalancing,         "EPPROV_LoadBalancing",         4,    0, 0,     {}},
  // Line test and miscellany
  {EPPROV_LineTestInProgress,    "EPPROV_LineTestInProgress",    4,    0, NONE,  {}},
  {EPPROV_LineTestDone,          "EPPROV_LineTestDone",          4,    0, NONE,  {}},
  {EPPROV_Flexicalc,             "EPPROV_Flexicalc",             1024, 0, NONE,  {}},
  {EPPROV_PreferredVBDCodec,     "EPPROV_PreferredVBDCodec",     4,    0, 1,     {}},
  // Caller-ID parameters (VRG_CLASS_FSK, VRG_CLASS_DTMF) and tone detection
  {EPPROV_CIDFskParms,           "EPPROV_CIDFskParms",           10,   1, NONE,  {}},
  {EPPROV_CIDDtmfParms,          "EPPROV_CIDDtmfParms",          62,   1, NONE,  {}},
  {EPPROV_PteDetectAdmin,        "EPPROV_PteDetectAdmin",        4,    1, NONE,  {}},
  {EPPROV_PteMinDetectPower,     "EPPROV_PteMinDetectPower",     4,    1, NONE,  {}},
  {EPPROV_PveEgressVolume,       "EPPROV_PveEgressVolume",       4,    1, NONE,  {}},
  {EPPROV_CngLevel,              "EPPROV_CngLevel",              4,    0, 0,     {}},
  {EPPROV_VMWISigProtocol,       "EPPROV_VMWISigProtocol",       4,    1, NONE,  {}},
  {EPPROV_VMWIMsgFormat,         "EPPROV_VMWIMsgFormat",         4,    1, NONE,  {}},
  {EPPROV_LastLocale,            "EPPROV_LastLocale",            4,    1, NONE,  {}},
  {EPPROV_EgressDtmfDetection,   "EPPROV_EgressDtmfDetection",   4,    0, 0,     {}},
  {EPPROV_CIDDTMFAfterLR,        "EPPROV_CIDDTMFAfterLR",        4,    1, NONE,  {}},
  {EPPROV_LastItem,              "EPPROV_LastItem",              0,    0, NONE,  {}},
};
// clang-format on

int provInitialized = 0;
int totalAlocatedMemory = 0;

namespace {

// Initialisation may be reached from the daemon's thread and from the library's start-up at the
// same time; the flag is read on every public get and set.
std::atomic<bool> provReady{false};
std::mutex provInitLock;

PROV_ENTRY* provFindItem(EPPROV itemId) {
  for (PROV_ENTRY* row = provTable; row->provItemId != EPPROV_LastItem; ++row) {
    if (row->provItemId == itemId) {
      return row;
    }
  }
  return nullptr;
}

bool provValidLine(int line) { return line >= 0 && line < PROV_MAX_LINES; }

// Items of one word are read and written as one word, so that a reader on another thread never
// sees half of a new value.
uint32_t provLoadFirstWord(const void* buffer) {
  return std::atomic_ref<uint32_t>(*static_cast<uint32_t*>(const_cast<void*>(buffer)))
      .load(std::memory_order_relaxed);
}

void provStoreFirstWord(void* buffer, uint32_t value) {
  std::atomic_ref<uint32_t>(*static_cast<uint32_t*>(buffer)).store(value, std::memory_order_relaxed);
}

bool provIsUnset(const void* buffer) { return provLoadFirstWord(buffer) == PROV_UNSET_MARKER; }

void provWriteValue(void* buffer, uint32_t size, const void* value, uint32_t length) {
  if (size == sizeof(uint32_t) && length >= sizeof(uint32_t)) {
    uint32_t word;
    std::memcpy(&word, value, sizeof(word));
    provStoreFirstWord(buffer, word);
    return;
  }
  // A shorter value than the item's size fills the rest with zeros: the caller's buffer is
  // never read past what it handed in.
  std::memcpy(buffer, value, length);
  std::memset(static_cast<uint8_t*>(buffer) + length, 0, size - length);
}

void provReadValue(const void* buffer, uint32_t size, void* value) {
  if (size == sizeof(uint32_t)) {
    const uint32_t word = provLoadFirstWord(buffer);
    std::memcpy(value, &word, sizeof(word));
    return;
  }
  std::memcpy(value, buffer, size);
}

// The number of lines the DSP driver reports, bounded by the store's size.
int provNumLines() { return std::clamp(boardHalGetNumEndpoints(), 0, PROV_MAX_LINES); }

void provLogNotConfigured(int line, const PROV_ENTRY& row) {
  voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR,
           "PROV: ERROR provision item is not configured\n%-4u | %-4u  | %-28s | %-4u",
           static_cast<unsigned>(line), static_cast<unsigned>(row.provItemId), row.provItemName,
           row.provItemSize);
}

// Common checks of a get or a set; the row when the request may go on.
PROV_ENTRY* provCheckRequest(int line, EPPROV itemId, const void* itemValue, bool lengthMissing,
                             const char* function, const char* invalidLineFormat) {
  if (itemValue == nullptr || lengthMissing) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, "PROV: NULL pointer passed to %s", function);
    return nullptr;
  }
  if (!provValidLine(line)) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_ERROR, invalidLineFormat, line);
    return nullptr;
  }
  PROV_ENTRY* row = provFindItem(itemId);
  if (row == nullptr) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_DEBUG,
             "PROV: No item %d in the endpoint provisioning table", itemId);
    return nullptr;
  }
  return row;
}

}  // namespace

EPSTATUS endptProvInit(void) {
  if (provReady.load(std::memory_order_acquire)) {
    return EPSTATUS_SUCCESS;
  }
  std::lock_guard<std::mutex> guard(provInitLock);
  if (provReady.load(std::memory_order_relaxed)) {
    return EPSTATUS_SUCCESS;
  }
  provInitialized = 1;
  for (int line = 0; line < PROV_MAX_LINES; ++line) {
    for (PROV_ENTRY* row = provTable; row->provItemId != EPPROV_LastItem; ++row) {
      // A failed allocation leaves the item without storage; its get and set report it.
      void* buffer = std::calloc(1, row->provItemSize);
      row->provItemValue[line] = buffer;
      if (buffer != nullptr) {
        provStoreFirstWord(buffer, PROV_UNSET_MARKER);
        totalAlocatedMemory += static_cast<int>(row->provItemSize);
      }
    }
  }
  voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_DEBUG, "PROV: Allocated memory = %d ",
           totalAlocatedMemory);
  provReady.store(true, std::memory_order_release);
  return EPSTATUS_SUCCESS;
}

EPSTATUS endptProvDeinit(void) {
  std::lock_guard<std::mutex> guard(provInitLock);
  provReady.store(false, std::memory_order_release);
  for (PROV_ENTRY* row = provTable; row->provItemId != EPPROV_LastItem; ++row) {
    for (void*& buffer : row->provItemValue) {
      std::free(buffer);
      buffer = nullptr;
    }
  }
  voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_DEBUG, "PROV: Deallocated prov memory");
  totalAlocatedMemory = 0;
  provInitialized = 0;
  return EPSTATUS_SUCCESS;
}

EPSTATUS endptProvSetValue(int line, EPPROV itemId, const void* itemValue, int itemLength) {
  PROV_ENTRY* row = provCheckRequest(line, itemId, itemValue, itemLength <= 0, __func__,
                                     "PROV: Trying to set a value for invalid line %d");
  if (row == nullptr) {
    return EPSTATUS_PROV_FAILURE;
  }
  uint32_t length = static_cast<uint32_t>(itemLength);
  if (length > row->provItemSize) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_WARNING,
             "PROV: Requested size for SET = %d bytes. Allowed for EPPROV parameter %d = %u bytes",
             itemLength, itemId, row->provItemSize);
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_WARNING, "PROV: Setting only %u bytes.",
             row->provItemSize);
    length = row->provItemSize;
  }
  void* buffer = row->provItemValue[line];
  if (buffer == nullptr) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_DEBUG,
             "PROV: NULL pointer provided for variable storage");
    return EPSTATUS_PROV_FAILURE;
  }
  provWriteValue(buffer, row->provItemSize, itemValue, length);
  return EPSTATUS_SUCCESS;
}

EPSTATUS endptProvGetValue(int line, EPPROV itemId, void* itemValue) {
  PROV_ENTRY* row = provCheckRequest(line, itemId, itemValue, false, __func__,
                                     "PROV: Trying to get a value for invalid line %d");
  if (row == nullptr) {
    return EPSTATUS_PROV_FAILURE;
  }
  const void* buffer = row->provItemValue[line];
  if (buffer == nullptr) {
    voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_DEBUG,
             "PROV: NULL pointer provided for variable storage");
    return EPSTATUS_PROV_FAILURE;
  }
  if (provIsUnset(buffer)) {
    return EPSTATUS_PROV_FAILURE;
  }
  provReadValue(buffer, row->provItemSize, itemValue);
  return EPSTATUS_SUCCESS;
}

void endptProvShow(void) {
  endptProvInit();
  voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_INFO,
           "PROV:  Line | Id    | Name                         | Size | Address   | Value (first 4 "
           "bytes)");
  const int lines = provNumLines();
  for (int line = 0; line < lines; ++line) {
    for (const PROV_ENTRY* row = provTable; row->provItemId != EPPROV_LastItem; ++row) {
      const uint8_t* buffer = static_cast<const uint8_t*>(row->provItemValue[line]);
      uint8_t first[4] = {0, 0, 0, 0};
      if (buffer != nullptr) {
        std::memcpy(first, buffer, std::min<uint32_t>(row->provItemSize, sizeof(first)));
      }
      voiceLog(VOICE_MODULE_PROV, VOICE_LOGLEVEL_INFO,
               "PROV:  %-4u | %-4u  | %-28s | %-4u | 0x%08X| %02X %02X %02X %02X",
               static_cast<unsigned>(line), static_cast<unsigned>(row->provItemId),
               row->provItemName, row->provItemSize,
               static_cast<unsigned>(reinterpret_cast<uintptr_t>(buffer)), first[0], first[1],
               first[2], first[3]);
    }
  }
}

EPSTATUS endptProvIntegrityCheck(void) {
  for (int line = 0; line < PROV_MAX_LINES; ++line) {
    for (const PROV_ENTRY* row = provTable; row->provItemId != EPPROV_LastItem; ++row) {
      const void* buffer = row->provItemValue[line];
      if (buffer == nullptr || provIsUnset(buffer)) {
        provLogNotConfigured(line, *row);
        return EPSTATUS_PROV_FAILURE;
      }
    }
  }
  return EPSTATUS_SUCCESS;
}

EPSTATUS endptProvInitDefaults(VRG_COUNTRY /*country*/) {
  const int lines = provNumLines();
  for (int line = 0; line < lines; ++line) {
    for (const PROV_ENTRY* row = provTable; row->provItemId != EPPROV_LastItem; ++row) {
      void* buffer = row->provItemValue[line];
      if (buffer == nullptr || !provIsUnset(buffer)) {
        continue;
      }
      if (row->defaultValue != PROV_UNSET_MARKER) {
        provWriteValue(buffer, row->provItemSize, &row->defaultValue,
                       std::min<uint32_t>(row->provItemSize, sizeof(row->defaultValue)));
      } else if (row->isCountrySpecific) {
        provLogNotConfigured(line, *row);
      }
    }
  }
  return EPSTATUS_SUCCESS;
}

EPSTATUS endptProvResetDefaults(VRG_COUNTRY /*country*/) {
  const int lines = provNumLines();
  for (int line = 0; line < lines; ++line) {
    for (const PROV_ENTRY* row = provTable; row->provItemId != EPPROV_LastItem; ++row) {
      void* buffer = row->provItemValue[line];
      if (buffer != nullptr && row->defaultValue != PROV_UNSET_MARKER) {
        provWriteValue(buffer, row->provItemSize, &row->defaultValue,
                       std::min<uint32_t>(row->provItemSize, sizeof(row->defaultValue)));
      }
    }
  }
  return EPSTATUS_SUCCESS;
}

EPSTATUS vrgEndptProvGet(int line, EPPROV provItemId, void* provItemValue, int /*provItemLength*/) {
  endptProvInit();
  return endptProvGetValue(line, provItemId, provItemValue);
}

EPSTATUS vrgEndptProvSet(int line, EPPROV provItemId, void* provItemValue, int provItemLength) {
  endptProvInit();
  return endptProvSetValue(line, provItemId, provItemValue, provItemLength);
}
