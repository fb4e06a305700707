// The provisioning store: every per-line setting of the endpoint library, one value per item
// and line, in a fixed table. The country profile and the daemon write it; the library's
// modules read it. A value that was never written reads as a failure.
#pragma once

#include <cstdint>

#include "vrgEndptTypes.h"

inline constexpr int PROV_MAX_LINES = 8;
inline constexpr int PROV_TABLE_ROWS = 95;  // 94 items and the EPPROV_LastItem terminator
// A value buffer whose first 32-bit word is this marker holds no value; as a default it means
// that the item has none.
inline constexpr uint32_t PROV_UNSET_MARKER = 0xBADDECAF;

struct PROV_ENTRY {
  EPPROV provItemId;
  char provItemName[32];
  uint32_t provItemSize;  // bytes
  int isCountrySpecific;  // 1 when the country profile must supply the value
  uint32_t defaultValue;  // PROV_UNSET_MARKER for none
  void* provItemValue[PROV_MAX_LINES];
};

extern PROV_ENTRY provTable[PROV_TABLE_ROWS];
extern int provInitialized;
extern int totalAlocatedMemory;

EPSTATUS endptProvInit(void);
EPSTATUS endptProvDeinit(void);
EPSTATUS endptProvSetValue(int line, EPPROV itemId, const void* itemValue, int itemLength);
EPSTATUS endptProvGetValue(int line, EPPROV itemId, void* itemValue);
void endptProvShow(void);
EPSTATUS endptProvIntegrityCheck(void);
EPSTATUS endptProvInitDefaults(VRG_COUNTRY country);
EPSTATUS endptProvResetDefaults(VRG_COUNTRY country);
