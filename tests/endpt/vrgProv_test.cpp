#include "vrgProv.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <set>
#include <string>
#include <thread>

#include "boardHal.h"
#include "logCapture.h"
#include "vrgEndpt.h"
#include "vrgProvValues.h"

namespace {

class ProvisioningStore : public ::testing::Test {
 protected:
  void SetUp() override {
    endptProvDeinit();
    endptProvInit();
    log_.clear();
  }
  void TearDown() override { endptProvDeinit(); }

  static uint32_t getWord(int line, EPPROV item, EPSTATUS* status = nullptr) {
    uint32_t value = 0x5A5A5A5A;
    const EPSTATUS s = vrgEndptProvGet(line, item, &value, sizeof(value));
    if (status) *status = s;
    return value;
  }
  static EPSTATUS setWord(int line, EPPROV item, uint32_t value) {
    return vrgEndptProvSet(line, item, &value, sizeof(value));
  }

  LogCapture log_;
};

TEST_F(ProvisioningStore, UnwrittenItemFailsAndLeavesCallerBufferAlone) {
  HDSP_TONE_PROV_PATTERN tone;
  std::memset(&tone, 0x77, sizeof(tone));
  EXPECT_EQ(vrgEndptProvGet(0, EPPROV_ToneDial, &tone, sizeof(tone)), EPSTATUS_PROV_FAILURE);
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&tone);
  for (size_t i = 0; i < sizeof(tone); ++i) ASSERT_EQ(bytes[i], 0x77) << i;
  EPSTATUS status;
  EXPECT_EQ(getWord(7, EPPROV_MinHookFlash, &status), 0x5A5A5A5Au);
  EXPECT_EQ(status, EPSTATUS_PROV_FAILURE);
  EXPECT_TRUE(log_.messages().empty());  // an unset value is not an error worth a message
}

TEST_F(ProvisioningStore, ValuesRoundTripPerLine) {
  for (int line = 0; line < PROV_MAX_LINES; ++line) {
    ASSERT_EQ(setWord(line, EPPROV_MinHookFlash, 100 + line), EPSTATUS_SUCCESS);
  }
  for (int line = 0; line < PROV_MAX_LINES; ++line) {
    EXPECT_EQ(getWord(line, EPPROV_MinHookFlash), 100u + line);
  }

  HDSP_TONE_PROV_PATTERN in{};
  in.repetitions = 3;
  in.tones = 2;
  in.tone[1].frequency[3].hertz = 425;
  in.tone[4].frequency[3].level = -13;
  ASSERT_EQ(vrgEndptProvSet(5, EPPROV_ToneBusy, &in, sizeof(in)), EPSTATUS_SUCCESS);
  HDSP_TONE_PROV_PATTERN out{};
  ASSERT_EQ(vrgEndptProvGet(5, EPPROV_ToneBusy, &out, sizeof(out)), EPSTATUS_SUCCESS);
  EXPECT_EQ(std::memcmp(&in, &out, sizeof(in)), 0);
  EXPECT_EQ(vrgEndptProvGet(4, EPPROV_ToneBusy, &out, sizeof(out)), EPSTATUS_PROV_FAILURE);

  std::vector<uint8_t> flexi(1024);
  for (size_t i = 0; i < flexi.size(); ++i) flexi[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(vrgEndptProvSet(2, EPPROV_Flexicalc, flexi.data(), 1024), EPSTATUS_SUCCESS);
  std::vector<uint8_t> back(1024);
  ASSERT_EQ(vrgEndptProvGet(2, EPPROV_Flexicalc, back.data(), 1024), EPSTATUS_SUCCESS);
  EXPECT_EQ(flexi, back);
}

TEST_F(ProvisioningStore, UnsetMarkerWrittenAsValueReadsAsUnset) {
  ASSERT_EQ(setWord(1, EPPROV_CIDMode, 2), EPSTATUS_SUCCESS);
  ASSERT_EQ(setWord(1, EPPROV_CIDMode, PROV_UNSET_MARKER), EPSTATUS_SUCCESS);
  EPSTATUS status;
  getWord(1, EPPROV_CIDMode, &status);
  EXPECT_EQ(status, EPSTATUS_PROV_FAILURE);
}

TEST_F(ProvisioningStore, OversizedSetStoresOnlyTheItemSizeAndWarns) {
  const uint32_t wide[2] = {42, 0xDEADBEEF};
  ASSERT_EQ(vrgEndptProvSet(0, EPPROV_MaxHookFlash, const_cast<uint32_t*>(wide), 8),
            EPSTATUS_SUCCESS);
  EXPECT_EQ(getWord(0, EPPROV_MaxHookFlash), 42u);
  EXPECT_TRUE(log_.contains(
      "PROV: Requested size for SET = 8 bytes. Allowed for EPPROV parameter 401 = 4 bytes"));
  EXPECT_TRUE(log_.contains("PROV: Setting only 4 bytes."));
}

TEST_F(ProvisioningStore, ShortSetZeroFillsTheRestAndNeverReadsPastTheCallerBuffer) {
  // A heap buffer of exactly the given length: reading beyond it would be caught by ASan.
  auto shortValue = std::make_unique<uint8_t[]>(6);
  for (int i = 0; i < 6; ++i) shortValue[i] = static_cast<uint8_t>(0xA0 + i);
  ASSERT_EQ(vrgEndptProvSet(3, EPPROV_CIDFskParms, shortValue.get(), 6), EPSTATUS_SUCCESS);
  uint8_t out[10];
  std::memset(out, 0xFF, sizeof(out));
  ASSERT_EQ(vrgEndptProvGet(3, EPPROV_CIDFskParms, out, sizeof(out)), EPSTATUS_SUCCESS);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], 0xA0 + i);
  for (int i = 6; i < 10; ++i) EXPECT_EQ(out[i], 0) << i;

  auto oneByte = std::make_unique<uint8_t[]>(1);
  oneByte[0] = 9;
  ASSERT_EQ(setWord(3, EPPROV_RingVoltage, 0xFFFFFFFF), EPSTATUS_SUCCESS);
  ASSERT_EQ(vrgEndptProvSet(3, EPPROV_RingVoltage, oneByte.get(), 1), EPSTATUS_SUCCESS);
  EXPECT_EQ(getWord(3, EPPROV_RingVoltage), 9u);
}

TEST_F(ProvisioningStore, LinesOutsideZeroToSevenAreRejected) {
  for (int line : {8, 9, -1, INT_MIN, INT_MAX}) {
    log_.clear();
    EXPECT_EQ(setWord(line, EPPROV_MinHookFlash, 1), EPSTATUS_PROV_FAILURE) << line;
    EXPECT_TRUE(log_.contains("PROV: Trying to set a value for invalid line " +
                              std::to_string(line)));
    EPSTATUS status;
    getWord(line, EPPROV_MinHookFlash, &status);
    EXPECT_EQ(status, EPSTATUS_PROV_FAILURE);
    EXPECT_TRUE(log_.contains("PROV: Trying to get a value for invalid line " +
                              std::to_string(line)));
  }
}

TEST_F(ProvisioningStore, IdentifiersWithoutStorageAreUnknown) {
  for (EPPROV item : {EPPROV_RTCadence, EPPROV_LastItem, EPPROV_CadenceRingBase,
                      EPPROV_HookFlashRelay, static_cast<EPPROV>(-5)}) {
    log_.clear();
    EXPECT_EQ(setWord(0, item, 1), EPSTATUS_PROV_FAILURE);
    EPSTATUS status;
    getWord(0, item, &status);
    EXPECT_EQ(status, EPSTATUS_PROV_FAILURE);
    EXPECT_EQ(log_.count("PROV: No item " + std::to_string(item) +
                         " in the endpoint provisioning table"),
              2);
  }
}

TEST_F(ProvisioningStore, MissingValueOrLengthIsRejected) {
  uint32_t value = 1;
  EXPECT_EQ(endptProvSetValue(0, EPPROV_TxGain, nullptr, 4), EPSTATUS_PROV_FAILURE);
  EXPECT_EQ(endptProvSetValue(0, EPPROV_TxGain, &value, 0), EPSTATUS_PROV_FAILURE);
  EXPECT_EQ(endptProvSetValue(0, EPPROV_TxGain, &value, -4), EPSTATUS_PROV_FAILURE);
  EXPECT_EQ(log_.count("PROV: NULL pointer passed to endptProvSetValue"), 3);
  EXPECT_EQ(endptProvGetValue(0, EPPROV_TxGain, nullptr), EPSTATUS_PROV_FAILURE);
  EXPECT_TRUE(log_.contains("PROV: NULL pointer passed to endptProvGetValue"));
}

TEST_F(ProvisioningStore, ResetDefaultsOverwritesEveryLineTheBoardReports) {
  const int lines = boardHalGetNumEndpoints();
  ASSERT_GT(lines, 0);
  ASSERT_LT(lines, PROV_MAX_LINES);
  for (int line = 0; line < PROV_MAX_LINES; ++line) setWord(line, EPPROV_DTMFSkew, 5);
  endptProvResetDefaults(VRG_COUNTRY_GERMANY);
  for (int line = 0; line < lines; ++line) {
    EXPECT_EQ(getWord(line, EPPROV_FaxDetection), 1u);
    EXPECT_EQ(getWord(line, EPPROV_DTMFSkew), 2u);
    EXPECT_EQ(getWord(line, EPPROV_MeteringFrequency), 16000u);
    EXPECT_EQ(getWord(line, EPPROV_Rfc2833ToneLevel), 64u);
    EXPECT_EQ(getWord(line, EPPROV_PreferredVBDCodec), 1u);
    EXPECT_EQ(getWord(line, EPPROV_TxGain), 0u);
    EPSTATUS status;
    getWord(line, EPPROV_ToneDial, &status);  // no default: stays unset
    EXPECT_EQ(status, EPSTATUS_PROV_FAILURE);
  }
  EXPECT_EQ(getWord(lines, EPPROV_DTMFSkew), 5u);  // beyond the board's lines
}

TEST_F(ProvisioningStore, InitDefaultsFillsOnlyUnsetValuesAndNamesMissingCountryItems) {
  setWord(0, EPPROV_DTMFSkew, 4);
  endptProvInitDefaults(VRG_COUNTRY_SWEDEN);
  EXPECT_EQ(getWord(0, EPPROV_DTMFSkew), 4u);
  EXPECT_EQ(getWord(1, EPPROV_DTMFSkew), 2u);
  EXPECT_TRUE(log_.contains("PROV: ERROR provision item is not configured\n0    | 202   "
                            "| EPPROV_ToneDial              | 292 "));
  // Items that are neither country specific nor defaulted are left alone without a message.
  EXPECT_FALSE(log_.contains("EPPROV_Flexicalc"));
}

TEST_F(ProvisioningStore, IntegrityCheckStopsAtTheFirstUnsetValue) {
  EXPECT_EQ(endptProvIntegrityCheck(), EPSTATUS_PROV_FAILURE);
  EXPECT_EQ(log_.count("PROV: ERROR provision item is not configured"), 1);
  EXPECT_TRUE(log_.contains("0    | 0     | EPPROV_R0Cadence"));

  std::vector<uint8_t> filler(1024, 1);
  for (int line = 0; line < PROV_MAX_LINES; ++line) {
    for (const PROV_ENTRY* row = provTable; row->provItemId != EPPROV_LastItem; ++row) {
      ASSERT_EQ(endptProvSetValue(line, row->provItemId, filler.data(),
                                  static_cast<int>(row->provItemSize)),
                EPSTATUS_SUCCESS);
    }
  }
  EXPECT_EQ(endptProvIntegrityCheck(), EPSTATUS_SUCCESS);
  setWord(7, EPPROV_CIDDTMFAfterLR, PROV_UNSET_MARKER);
  log_.clear();
  EXPECT_EQ(endptProvIntegrityCheck(), EPSTATUS_PROV_FAILURE);
  EXPECT_TRUE(log_.contains("7    | 432   | EPPROV_CIDDTMFAfterLR"));
}

TEST_F(ProvisioningStore, TableHasOneRowPerStoredItemAndSizesMatchTheirValues) {
  EXPECT_EQ(provTable[PROV_TABLE_ROWS - 1].provItemId, EPPROV_LastItem);
  EXPECT_EQ(provTable[PROV_TABLE_ROWS - 1].provItemSize, 0u);
  std::set<int> ids;
  std::set<std::string> names;
  int allocated = 0;
  for (int i = 0; i < PROV_TABLE_ROWS - 1; ++i) {
    const PROV_ENTRY& row = provTable[i];
    EXPECT_TRUE(ids.insert(row.provItemId).second) << row.provItemName;
    EXPECT_TRUE(names.insert(row.provItemName).second) << row.provItemName;
    allocated += static_cast<int>(row.provItemSize) * PROV_MAX_LINES;
    const bool tone = (row.provItemId >= EPPROV_ToneBusy && row.provItemId <= EPPROV_ToneCallWaiting4) ||
                      row.provItemId == EPPROV_ToneSpecialDial ||
                      (row.provItemId >= EPPROV_ToneCongestion && row.provItemId <= EPPROV_CallingCard);
    if (row.provItemId <= EPPROV_RSCadence) {
      EXPECT_EQ(row.provItemSize, sizeof(VRG_RING_PROFILE)) << row.provItemName;
    } else if (tone) {
      EXPECT_EQ(row.provItemSize, sizeof(HDSP_TONE_PROV_PATTERN)) << row.provItemName;
    }
  }
  EXPECT_EQ(ids.size(), 94u);
  EXPECT_EQ(totalAlocatedMemory, allocated);
  EXPECT_FALSE(ids.count(EPPROV_RTCadence) || ids.count(EPPROV_ToneAlertingSignal) ||
               ids.count(EPPROV_ToneSpecialInfo) || ids.count(EPPROV_ToneRelease));
  EXPECT_EQ(provTable[0].provItemId, EPPROV_R0Cadence);
  // Every row's name is its identifier's name.
  for (int i = 0; i < PROV_TABLE_ROWS; ++i) {
    EXPECT_EQ(std::string(provTable[i].provItemName).rfind("EPPROV_", 0), 0u);
  }
}

TEST_F(ProvisioningStore, ShowPrintsOneRowPerItemAndBoardLine) {
  setWord(0, EPPROV_MinHookFlash, 0x04030201);
  endptProvShow();
  EXPECT_EQ(log_.count("PROV:  Line | Id    | Name"), 1);
  EXPECT_EQ(log_.count("PROV:  "), 1 + 94 * boardHalGetNumEndpoints());
  EXPECT_TRUE(log_.contains("PROV:  0    | 400   | EPPROV_MinHookFlash          | 4    | 0x"));
  EXPECT_TRUE(log_.contains("| 01 02 03 04"));
}

TEST_F(ProvisioningStore, DeinitLosesValuesAndPublicCallsInitialiseAgain) {
  setWord(0, EPPROV_TxGain, 7);
  endptProvDeinit();
  EXPECT_EQ(provInitialized, 0);
  EXPECT_EQ(totalAlocatedMemory, 0);
  EPSTATUS status;
  getWord(0, EPPROV_TxGain, &status);
  EXPECT_EQ(status, EPSTATUS_PROV_FAILURE);
  EXPECT_EQ(provInitialized, 1);
  EXPECT_EQ(setWord(0, EPPROV_TxGain, 8), EPSTATUS_SUCCESS);
  EXPECT_EQ(getWord(0, EPPROV_TxGain), 8u);
}

TEST_F(ProvisioningStore, WordItemsAreNeverSeenHalfWritten) {
  setWord(0, EPPROV_RxGain, 0);
  std::thread writer([] {
    for (uint32_t i = 0; i < 20000; ++i) setWord(0, EPPROV_RxGain, (i & 1) ? 0xFFFFFFFFu : 0u);
  });
  bool torn = false;
  for (int i = 0; i < 20000; ++i) {
    const uint32_t v = getWord(0, EPPROV_RxGain);
    torn |= v != 0 && v != 0xFFFFFFFFu;
  }
  writer.join();
  EXPECT_FALSE(torn);
}

}  // namespace
