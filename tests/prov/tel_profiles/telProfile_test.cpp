#include "telProfile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../../endpt/logCapture.h"
#include "nxml.h"
#include "profileTestSupport.h"
#include "vrgProvValues.h"

namespace {

class ProfileLoader : public ::testing::Test {
 protected:
  void SetUp() override {
    endptProvDeinit();
    endptProvInit();
    lines_ = boardLines();
    ASSERT_GT(lines_, 0);
  }
  void TearDown() override { endptProvDeinit(); }

  // Loads `body` as the Swedish profile.
  void load(const std::string& body) {
    dir_.write("SWE", body);
    log_.clear();
    tpUpdateLocaleProfile(VRG_COUNTRY_SWEDEN);
  }
  bool localeWritten() {
    int32_t locale = -1;
    return provWord(0, EPPROV_LastLocale, &locale) && locale == VRG_COUNTRY_SWEDEN;
  }
  int32_t word(EPPROV item, int line = 0) {
    int32_t value = 0;
    EXPECT_TRUE(provWord(line, item, &value)) << item;
    return value;
  }
  bool isSet(EPPROV item, int line = 0) {
    int32_t value;
    return provWord(line, item, &value);
  }

  ProfileDirectory dir_;
  LogCapture log_;
  int lines_ = 0;
};

TEST_F(ProfileLoader, UnknownRootIsSkippedAndItsChildrenReachEveryEndpoint) {
  load("<profile><MinHookFlash>350</MinHookFlash></profile>");
  for (int line = 0; line < lines_; ++line) {
    EXPECT_EQ(word(EPPROV_MinHookFlash, line), 350);
    EXPECT_EQ(word(EPPROV_LastLocale, line), VRG_COUNTRY_SWEDEN);
  }
  EXPECT_FALSE(isSet(EPPROV_MinHookFlash, lines_));  // beyond the board's endpoints
  EXPECT_TRUE(log_.contains("is OK for country 22"));
}

TEST_F(ProfileLoader, TagsAndValuesCompareWithoutCase) {
  load("<?xml version=\"1.0\"?>\n<x>\n  <MINHOOKFLASH> 90 </MINHOOKFLASH>\n"
       "  <cidmode>ONHOOK_dtas</cidmode>\n  <VmwiMsgFormat>mdmf</VmwiMsgFormat>\n"
       "  <highvoltageringsupport>FALSE</highvoltageringsupport>\n"
       "  <RingWaveform>Trapezoid</RingWaveform>\n</x>\n");
  EXPECT_EQ(word(EPPROV_MinHookFlash), 90);
  EXPECT_EQ(word(EPPROV_CIDMode), 2);
  EXPECT_EQ(word(EPPROV_VMWIMsgFormat), 1);
  EXPECT_EQ(word(EPPROV_HighVring), 0);
  EXPECT_EQ(word(EPPROV_RingWaveform), 1);
  EXPECT_TRUE(localeWritten());
}

TEST_F(ProfileLoader, UnknownTagIsDroppedAndItsSiblingsStillRead) {
  load("<root><Bogus>77<Inner>5</Inner>tail</Bogus><MaxHookFlash>900</MaxHookFlash>"
       "<toneProfile><toneName>ToneDial</toneName><Colour>red</Colour><tones>1</tones>"
       "</toneProfile></root>");
  EXPECT_EQ(word(EPPROV_MaxHookFlash), 900);
  HDSP_TONE_PROV_PATTERN tone{};
  ASSERT_EQ(endptProvGetValue(0, EPPROV_ToneDial, &tone), EPSTATUS_SUCCESS);
  EXPECT_EQ(tone.tones, 1u);
  EXPECT_TRUE(log_.contains("tagName Bogus is ignored!"));
  EXPECT_TRUE(localeWritten());  // an unknown tag is not an error
}

TEST_F(ProfileLoader, RingProfilesStoreShortAndLongPatterns) {
  load("<r><ringProfile><name>generalRing</name><longPattern>false</longPattern>"
       "<pattern instance=\"0\">0xFFFFF000</pattern><pattern instance=\"1\">0x00000008</pattern>"
       "</ringProfile>"
       "<ringProfile><NAME>ring3</NAME><longPattern>true</longPattern>"
       "<pattern instance=\"9\">0XABCDEF01</pattern>"
       "</ringProfile></r>");
  VRG_RING_PROFILE ring{};
  ASSERT_EQ(endptProvGetValue(1, EPPROV_RGCadence, &ring), EPSTATUS_SUCCESS);
  EXPECT_EQ(ring.type, VRG_RING_SHORT);
  EXPECT_EQ(ring.pattern1, 0xFFFFF000u);
  EXPECT_EQ(ring.pattern2, 0x00000008u);
  EXPECT_EQ(ring.pattern3, 0u);  // a short pattern has two words
  ASSERT_EQ(endptProvGetValue(0, EPPROV_R3Cadence, &ring), EPSTATUS_SUCCESS);
  EXPECT_EQ(ring.type, VRG_RING_LONG);
  EXPECT_EQ(ring.pattern10, 0xABCDEF01u);
  EXPECT_TRUE(localeWritten());
}

TEST_F(ProfileLoader, PatternBeforeLongPatternIsRejected) {
  VRG_RING_PROFILE before{VRG_RING_SHORT, 0x11111111, 0x22222222, 0, 0, 0, 0, 0, 0, 0, 0};
  for (int line = 0; line < lines_; ++line) {
    endptProvSetValue(line, EPPROV_R1Cadence, &before, sizeof(before));
  }
  load("<r><ringProfile><name>ring1</name><pattern instance=\"0\">0xFFFF0000</pattern>"
       "<longPattern>false</longPattern></ringProfile><MinConnect>100</MinConnect></r>");
  VRG_RING_PROFILE after{};
  ASSERT_EQ(endptProvGetValue(0, EPPROV_R1Cadence, &after), EPSTATUS_SUCCESS);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof(before)), 0);
  EXPECT_TRUE(log_.contains("ERROR: There is an error when parsing tagName ringProfile"));
  EXPECT_EQ(word(EPPROV_MinConnect), 100);  // the next item starts clean
  // A cadence has no built-in value to fall back on: the profile is refused as a missing one.
  EXPECT_FALSE(localeWritten());
  EXPECT_FALSE(tpLocaleProfileLoaded(VRG_COUNTRY_SWEDEN));
}

TEST_F(ProfileLoader, PatternWithoutHexPrefixIsAWrongFormat) {
  load("<r><ringProfile><name>ring0</name><longPattern>false</longPattern>"
       "<pattern instance=\"0\">FFFF0000</pattern></ringProfile></r>");
  EXPECT_TRUE(log_.contains("Wrong data format!  Expecting 0x00112233 e.g. (got FFFF0000)"));
  EXPECT_FALSE(isSet(EPPROV_R0Cadence));
  load("<r><ringProfile><name>ring0</name><longPattern>false</longPattern>"
       "<pattern instance=\"0\">0x1FFFFFFFF</pattern></ringProfile></r>");
  EXPECT_FALSE(isSet(EPPROV_R0Cadence));
}

TEST_F(ProfileLoader, ToneProfileFillsComponentsAndFrequencies) {
  load("<t><toneProfile><toneName>ToneBusy</toneName><repetitions>65535</repetitions>"
       "<tones>2</tones><noSteadyTone>true</noSteadyTone>"
       "<tone instance=\"0\"><repetitions>3</repetitions><soundDuration>480</soundDuration>"
       "<silenceDuration>480</silenceDuration><frequencies>2</frequencies>"
       "<modulateTone>false</modulateTone><modulatePercent>0</modulatePercent>"
       "<frequency instance=\"0\"><hertz>480</hertz><level>-24</level></frequency>"
       "<frequency instance=\"1\"><hertz>620</hertz><level>-24</level></frequency>"
       "</tone><tone instance=\"1\"><modulateTone>true</modulateTone>"
       "<modulatePercent>85</modulatePercent><frequency instance=\"1\"><hertz>16</hertz>"
       "</frequency></tone></toneProfile></t>");
  HDSP_TONE_PROV_PATTERN tone{};
  ASSERT_EQ(endptProvGetValue(lines_ - 1, EPPROV_ToneBusy, &tone), EPSTATUS_SUCCESS);
  EXPECT_EQ(tone.repetitions, 65535u);
  EXPECT_EQ(tone.tones, 2u);
  EXPECT_EQ(tone.noSteadyTone, 1);
  EXPECT_EQ(tone.tone[0].repetitions, 3u);
  EXPECT_EQ(tone.tone[0].soundDuration, 480u);
  EXPECT_EQ(tone.tone[0].silenceDuration, 480u);
  EXPECT_EQ(tone.tone[0].frequencies, 2u);
  EXPECT_EQ(tone.tone[0].frequency[0].hertz, 480u);
  EXPECT_EQ(tone.tone[0].frequency[1].hertz, 620u);
  EXPECT_EQ(tone.tone[0].frequency[1].level, -24);
  EXPECT_EQ(tone.tone[0].frequency[2].hertz, 0u);
  EXPECT_EQ(tone.tone[1].modulateTone, 1);
  EXPECT_EQ(tone.tone[1].modulatePercent, 85);
  EXPECT_EQ(tone.tone[1].frequency[1].hertz, 16u);
  EXPECT_TRUE(localeWritten());
}

TEST_F(ProfileLoader, ToneNameOutsideTheNameTableDropsTheWholeProfile) {
  load("<t><toneProfile><toneName>ToneHowler</toneName><tones>1</tones></toneProfile>"
       "<toneProfile><toneName>ring0</toneName><tones>1</tones></toneProfile>"
       "<toneProfile><tones>1</tones><toneName>ToneDial</toneName></toneProfile></t>");
  EXPECT_FALSE(isSet(EPPROV_ToneDial));
  EXPECT_FALSE(isSet(EPPROV_R0Cadence));
  EXPECT_TRUE(log_.contains("Caller is unknown"));
  EXPECT_EQ(log_.count("ERROR: There is an error when parsing tagName toneProfile"), 3);
  EXPECT_TRUE(log_.contains("toneName: ToneHowler does not name an item of this kind"));
}

// Every bad value is refused with one error line naming it. A simple item then has its built-in
// value; a tone, cadence or caller-ID parameter item has none, so the profile is refused as a
// missing one is (the daemon does not start without one).
TEST_F(ProfileLoader, RefusedValuesAreNamedAndNeverTakenAsZero) {
  constexpr int32_t kNoDefault = INT32_MIN;
  struct Case {
    const char* element;
    const char* named;  // what the error line must name
    EPPROV item;
    int32_t builtIn;
  };
  const std::string tone = "<toneProfile><toneName>ToneDial</toneName>";
  const std::string ring = "<ringProfile><name>ring0</name><longPattern>false</longPattern>";
  const std::string dtmf = "<CIDDtmfParmsProfile><CIDDtmfParmsName>CIDDtmfParms</CIDDtmfParmsName>";
  const std::string fsk = "<CIDFskParmsProfile><CIDFskParmsName>CIDFskParms</CIDFskParmsName>";
  const std::vector<Case> cases = {
      {"<MinHookFlash>99999999999</MinHookFlash>", "99999999999", EPPROV_MinHookFlash, 300},
      {"<MinHookFlash>12abc</MinHookFlash>", "12abc", EPPROV_MinHookFlash, 300},
      {"<MinHookFlash></MinHookFlash>", "has no value", EPPROV_MinHookFlash, 300},
      {"<MinDisconnect>4OO</MinDisconnect>", "\"4OO\" is not a number", EPPROV_MinDisconnect, 1100},
      {"<CIDMode>onhook_sometimes</CIDMode>", "onhook_sometimes", EPPROV_CIDMode, 0},
      {"<HighVoltageRingSupport>zz</HighVoltageRingSupport>", "\"zz\" is neither true nor false",
       EPPROV_HighVring, 0},
      {"<tones>6</tones></toneProfile>", "tones: 6", EPPROV_ToneDial, kNoDefault},
      {"<tone><modulatePercent>101</modulatePercent></tone></toneProfile>", "101", EPPROV_ToneDial, kNoDefault},
      {"<repetitions>-1</repetitions></toneProfile>", "-1", EPPROV_ToneDial, kNoDefault},
      {"<noSteadyTone>zz</noSteadyTone></toneProfile>", "noSteadyTone: \"zz\"", EPPROV_ToneDial, kNoDefault},
      {"<tone><modulateTone>yes</modulateTone></tone></toneProfile>", "modulateTone: \"yes\"", EPPROV_ToneDial,
       kNoDefault},
      {"<tone instance=\"x\"></tone></toneProfile>", "\"x\"", EPPROV_ToneDial, kNoDefault},
      {"<tone instance=\"5\"><soundDuration>1</soundDuration></tone></toneProfile>", "tone: instance 5",
       EPPROV_ToneDial, kNoDefault},
      {"<tone><frequency instance=\"4\"><hertz>999</hertz></frequency></tone></toneProfile>",
       "frequency: instance 4", EPPROV_ToneDial, kNoDefault},
      {"<tone><soundDuration></soundDuration></tone></toneProfile>", "soundDuration is empty", EPPROV_ToneDial,
       kNoDefault},
      {"<tone><frequency><hertz/><level>-9</level></frequency></tone></toneProfile>", "hertz is empty",
       EPPROV_ToneDial, kNoDefault},
      {"<tone><frequency></tone></frequency></toneProfile>", "does not match", EPPROV_ToneDial, kNoDefault},
      {"<pattern instance=\"2\">0x1</pattern></ringProfile>", "instance 2 is out of range for a short",
       EPPROV_R0Cadence, kNoDefault},
      {"<pattern instance=\"0\"> </pattern></ringProfile>", "pattern is empty", EPPROV_R0Cadence, kNoDefault},
      {"<ringProfile><name>ring0</name><longPattern>maybe</longPattern></ringProfile>",
       "longPattern: \"maybe\"", EPPROV_R0Cadence, kNoDefault},
      {"<amplitude>70000</amplitude></CIDFskParmsProfile>", "70000", EPPROV_CIDFskParms, kNoDefault},
      {"<startNumSeizes>-40000</startNumSeizes></CIDFskParmsProfile>", "-40000", EPPROV_CIDFskParms, kNoDefault},
      {"<startCode>DTMFX</startCode></CIDDtmfParmsProfile>", "startCode: DTMFX is not a digit name",
       EPPROV_CIDDtmfParms, kNoDefault},
      {"<privateCode instance=\"16\">DTMF9</privateCode></CIDDtmfParmsProfile>", "privateCode: instance 16",
       EPPROV_CIDDtmfParms, kNoDefault},
      {"<endCode></endCode></CIDDtmfParmsProfile>", "endCode is empty", EPPROV_CIDDtmfParms, kNoDefault},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.element);
    std::string element = c.element;
    if (c.item == EPPROV_ToneDial) element = tone + element;
    if (c.item == EPPROV_R0Cadence && element.rfind("<ringProfile>", 0) != 0) element = ring + element;
    if (c.item == EPPROV_CIDFskParms) element = fsk + element;
    if (c.item == EPPROV_CIDDtmfParms) element = dtmf + element;
    endptProvDeinit();
    endptProvInit();
    load("<r>" + element + "<MaxHookFlash>700</MaxHookFlash></r>");
    int errorLines = 0;
    for (const LoggedMessage& m : log_.messages()) {
      if (m.text.find("ERROR: There is an error when parsing tagName") == std::string::npos) continue;
      ++errorLines;
      EXPECT_NE(m.text.find(c.named), std::string::npos) << m.text;
    }
    EXPECT_EQ(errorLines, 1);
    EXPECT_EQ(word(EPPROV_MaxHookFlash), 700);  // the items around it are read
    if (c.builtIn == kNoDefault) {
      EXPECT_FALSE(isSet(c.item));
      EXPECT_TRUE(log_.contains("the profile is refused"));
      EXPECT_FALSE(localeWritten());
      EXPECT_FALSE(tpLocaleProfileLoaded(VRG_COUNTRY_SWEDEN));
    } else {
      for (int line = 0; line < lines_; ++line) EXPECT_EQ(word(c.item, line), c.builtIn);
      EXPECT_TRUE(log_.contains("the item keeps its default"));
      EXPECT_TRUE(localeWritten());
      EXPECT_TRUE(tpLocaleProfileLoaded(VRG_COUNTRY_SWEDEN));
    }
  }
  // Booleans take "true" and "false" in any case, and nothing else.
  load("<r><HighVoltageRingSupport>TRUE</HighVoltageRingSupport>" + tone +
       "<noSteadyTone>False</noSteadyTone></toneProfile></r>");
  EXPECT_EQ(word(EPPROV_HighVring), 1);
  EXPECT_TRUE(localeWritten());
}

// A bad value refuses its item alone: one error line at the level printed by default names the
// file, the item and the value, the item keeps the value it had, and the country's profile still
// counts as loaded (start-up goes on).
TEST_F(ProfileLoader, ValueOutsideItsRangeRefusesTheItemAloneWithOneErrorLine) {
  const int32_t builtIn = 1200;
  const char* bad[][3] = {{"<PlsDlMaxBreakTime>70000</PlsDlMaxBreakTime>", "PlsDlMaxBreakTime", "70000"},
                          {"<MinHookFlash>-5</MinHookFlash>", "MinHookFlash", "-5"},
                          {"<RingDCOffset>500</RingDCOffset>", "RingDCOffset", "500"},
                          {"<PowerRingFrequency>100000</PowerRingFrequency>", "PowerRingFrequency", "100000"}};
  const EPPROV items[] = {EPPROV_PlsDlMaxBreakTime, EPPROV_MinHookFlash, EPPROV_RingDCOffset,
                          EPPROV_PowerRingFrequency};
  for (const auto& [element, item, value] : bad) {
    SCOPED_TRACE(element);
    endptProvDeinit();
    endptProvInit();
    for (int line = 0; line < lines_; ++line) {
      for (EPPROV id : items) endptProvSetValue(line, id, &builtIn, sizeof(builtIn));
    }
    load(std::string("<r><MinConnect>80</MinConnect>") + element + "<MaxHookFlash>700</MaxHookFlash></r>");
    int errorLines = 0;
    for (const LoggedMessage& m : log_.messages()) {
      if (m.level > VOICE_LOGLEVEL_ERROR) continue;  // not printed at the default level
      ++errorLines;
      EXPECT_NE(m.text.find(dir_.path() + "/SWE_profile.xml"), std::string::npos) << m.text;
      EXPECT_NE(m.text.find(std::string("tagName ") + item), std::string::npos) << m.text;
      EXPECT_NE(m.text.find(value), std::string::npos) << m.text;
      EXPECT_NE(m.text.find("keeps its default"), std::string::npos) << m.text;
    }
    EXPECT_EQ(errorLines, 1);
    for (int line = 0; line < lines_; ++line) {
      for (EPPROV id : items) EXPECT_EQ(word(id, line), builtIn) << id;
    }
    EXPECT_FALSE(isSet(EPPROV_ToneBusy));
    EXPECT_EQ(word(EPPROV_MinConnect), 80);
    EXPECT_EQ(word(EPPROV_MaxHookFlash), 700);
    EXPECT_TRUE(localeWritten());
    EXPECT_TRUE(tpLocaleProfileLoaded(VRG_COUNTRY_SWEDEN));
    EXPECT_FALSE(tpLocaleProfileLoaded(VRG_COUNTRY_NORWAY));
  }
  // Only a profile that is missing or cannot be parsed to its end leaves the country without one.
  load("<r><MinHookFlash>80</MinHookFlash><MaxHookFlash>");
  EXPECT_FALSE(tpLocaleProfileLoaded(VRG_COUNTRY_SWEDEN));
  load("<r><MinHookFlash>80</MinHookFlash></r>");
  EXPECT_TRUE(tpLocaleProfileLoaded(VRG_COUNTRY_SWEDEN));
  std::remove((dir_.path() + "/SWE_profile.xml").c_str());
  tpUpdateLocaleProfile(VRG_COUNTRY_SWEDEN);
  EXPECT_FALSE(tpLocaleProfileLoaded(VRG_COUNTRY_SWEDEN));
}

TEST_F(ProfileLoader, DeepNestingAndLongNamesAreRejected) {
  std::string deep = "<r>";
  for (int i = 0; i < 40; ++i) deep += "<a>";
  deep += "<MinHookFlash>1</MinHookFlash>";
  for (int i = 0; i < 40; ++i) deep += "</a>";
  deep += "<MaxHookFlash>2</MaxHookFlash></r>";
  load(deep);
  EXPECT_TRUE(log_.contains("nested too deep"));
  EXPECT_FALSE(isSet(EPPROV_MinHookFlash));
  EXPECT_EQ(word(EPPROV_MaxHookFlash), 2);
  EXPECT_TRUE(localeWritten());

  endptProvDeinit();
  endptProvInit();
  const std::string longName(300, 'N');
  load("<r><" + longName + ">5</" + longName + "><MaxHookFlash>3</MaxHookFlash></r>");
  EXPECT_TRUE(log_.contains("is too long"));
  EXPECT_EQ(word(EPPROV_MaxHookFlash), 3);
  EXPECT_TRUE(localeWritten());
}

TEST_F(ProfileLoader, MissingEmptyOrTruncatedFilesWriteNothing) {
  // No file at all.
  tpUpdateLocaleProfile(VRG_COUNTRY_SWEDEN);
  EXPECT_TRUE(log_.contains("SWE_profile.xml is an empty file or not found!!!"));
  EXPECT_FALSE(localeWritten());
  load("");
  EXPECT_TRUE(log_.contains("is an empty file or not found!!!"));
  load("<");
  EXPECT_TRUE(log_.contains("empty buff"));
  load("<r><MinHookFlash>5</MinHookFlash><toneProfile><toneName>ToneDial</toneName>");
  EXPECT_EQ(word(EPPROV_MinHookFlash), 5);  // what was complete is kept
  EXPECT_FALSE(isSet(EPPROV_ToneDial));
  EXPECT_TRUE(log_.contains("config file from"));
  EXPECT_TRUE(log_.contains("is invalid"));
  EXPECT_FALSE(localeWritten());
}

TEST_F(ProfileLoader, NothingAfterTheRootElementIsRead) {
  load("<r><MinHookFlash>5</MinHookFlash></r><MaxHookFlash>6</MaxHookFlash>");
  EXPECT_EQ(word(EPPROV_MinHookFlash), 5);
  EXPECT_FALSE(isSet(EPPROV_MaxHookFlash));
  EXPECT_TRUE(localeWritten());
}

TEST_F(ProfileLoader, CountriesWithoutACodeAreNotLoaded) {
  tpUpdateLocaleProfile(VRG_COUNTRY_MAX);
  EXPECT_TRUE(log_.contains("Country (27) is not supported!!!  Program exit"));
  tpUpdateLocaleProfile(static_cast<VRG_COUNTRY>(-1));
  EXPECT_TRUE(log_.contains("Country (-1) is not supported!!!"));
}

TEST_F(ProfileLoader, EveryCountryHasItsOwnCode) {
  dir_.write("CZH", "<r><MinHookFlash>11</MinHookFlash></r>");
  tpUpdateLocaleProfile(VRG_COUNTRY_CZECH);
  EXPECT_EQ(word(EPPROV_MinHookFlash), 11);
  int found = 0;
  for (const COUNTRY_MAP* c = countryMap; c->country != VRG_COUNTRY_MAX; ++c) ++found;
  EXPECT_EQ(found, VRG_COUNTRY_MAX);
}

TEST_F(ProfileLoader, DtmfCallerIdParametersTakeDigitNamesAndPositions) {
  load("<r><CIDDtmfParmsProfile><CIDDtmfParmsName>CIDDtmfParms</CIDDtmfParmsName>"
       "<dbLevel>7</dbLevel><pulseTime>70</pulseTime><startCode>DTMFA</startCode>"
       "<endCode>dtmfc</endCode><redirectingCode>DTMFD</redirectingCode>"
       "<informationCode>DTMFB</informationCode>"
       "<privateCode instance=\"0\">DTMF1</privateCode><privateCode instance=\"1\">DTMF0"
       "</privateCode><privateCode instance=\"2\">DTMFERROR</privateCode>"
       "<unavailCode instance=\"15\">DTMFPND</unavailCode><errorCode>DTMFSTR</errorCode>"
       "<DTMFpauseTimeout>500</DTMFpauseTimeout><DTMFsessionTimeout>5000</DTMFsessionTimeout>"
       "<ringAfterClidTimeout>6000</ringAfterClidTimeout></CIDDtmfParmsProfile></r>");
  VRG_CLASS_DTMF dtmf{};
  ASSERT_EQ(endptProvGetValue(0, EPPROV_CIDDtmfParms, &dtmf), EPSTATUS_SUCCESS);
  EXPECT_EQ(dtmf.dbLevel, 7);
  EXPECT_EQ(dtmf.pulseTime, 70);
  EXPECT_EQ(dtmf.startCode, 12);
  EXPECT_EQ(dtmf.endCode, 14);
  EXPECT_EQ(dtmf.redirectingCode, 15);
  EXPECT_EQ(dtmf.informationCode, 13);
  EXPECT_EQ(dtmf.privateCode[0], 1);
  EXPECT_EQ(dtmf.privateCode[1], 0);
  EXPECT_EQ(dtmf.privateCode[2], 127);
  EXPECT_EQ(dtmf.privateCode[15], 0);
  EXPECT_EQ(dtmf.unavailCode[15], 11);
  EXPECT_EQ(dtmf.errorCode[0], 10);
  EXPECT_EQ(dtmf.DTMFpauseTimeout, 500);
  EXPECT_EQ(dtmf.DTMFsessionTimeout, 5000);
  EXPECT_EQ(dtmf.ringAfterClidTimeout, 6000);
  EXPECT_TRUE(localeWritten());
}

TEST_F(ProfileLoader, DamagedProfilesNeverCrashTheLoader) {
  std::ifstream in(std::string(ORVOX_SOURCE_DIR) + "/prov/tel_profiles/USA_profile.xml");
  std::stringstream text;
  text << in.rdbuf();
  const std::string original = text.str();
  ASSERT_GT(original.size(), 1000u);
  uint32_t state = 2024;
  auto next = [&] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  const char alphabet[] = "<>/=\" x0A9-";
  for (int round = 0; round < 300; ++round) {
    std::string damaged = original;
    for (int edits = 1 + next() % 8; edits > 0; --edits) {
      const size_t at = next() % damaged.size();
      switch (next() % 3) {
        case 0: damaged[at] = alphabet[next() % (sizeof(alphabet) - 1)]; break;
        case 1: damaged.erase(at, 1 + next() % 40); break;
        default: damaged.insert(at, std::string(1 + next() % 200, alphabet[next() % 4])); break;
      }
      if (damaged.empty()) damaged = "<";
    }
    load(damaged);
  }
  // The store still takes a good profile afterwards.
  endptProvDeinit();
  endptProvInit();
  load(original);
  EXPECT_TRUE(localeWritten());
}

// ---------------------------------------------------------------------------------------------
// Tokenizer
// ---------------------------------------------------------------------------------------------

// Records the tokenizer's events as text, joining continued chunks.
struct EventLog {
  std::vector<std::string> events;
  std::string pending;
  static EventLog* of(nxml_t h) { return static_cast<EventLog*>(xmlUser(h)); }
  static void tagBegin(nxml_t h, const char* n, int l) { of(h)->events.push_back("<" + std::string(n, l)); }
  static void attr(nxml_t h, const char* n, int l) { of(h)->events.push_back("@" + std::string(n, l)); }
  static void value(nxml_t h, const char* v, int l, int more) { of(h)->chunk("=", v, l, more); }
  static void data(nxml_t h, const char* v, int l, int more) { of(h)->chunk("'", v, l, more); }
  static void tagEnd(nxml_t h, const char* n, int l) { of(h)->events.push_back("/" + std::string(n, l)); }
  void chunk(const char* kind, const char* v, int l, int more) {
    pending.append(v, l);
    if (!more) {
      events.push_back(kind + pending);
      pending.clear();
    }
  }
};

std::vector<std::string> tokenize(const std::string& doc, size_t chunk, int* complete) {
  EventLog log;
  const nxml_settings settings = {EventLog::tagBegin, EventLog::attr, EventLog::value,
                                  EventLog::data, EventLog::tagEnd};
  nxml_t h = nullptr;
  EXPECT_EQ(xmlOpen(&h, &settings, &log), 1);
  *complete = 0;
  for (size_t at = 0; at < doc.size() && !*complete; at += chunk) {
    *complete = xmlWrite(h, doc.data() + at, std::min(chunk, doc.size() - at), nullptr);
  }
  xmlClose(h);
  return log.events;
}

TEST(ProfileTokenizer, ReportsTagsAttributesAndTextInOrder) {
  const std::string doc =
      "  \n<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root a=\"1\">x<tone instance=\"2\" "
      "b = \"two words\">y</tone><empty/><e2 k=\"v\"/></root>trailing<more/>";
  int complete = 0;
  const std::vector<std::string> expected = {
      "'\n", "<root", "@a", "=1", "'x", "<tone", "@instance", "=2", "@b", "=two words", "'y",
      "/tone", "<empty", "/", "<e2", "@k", "=v", "/", "/root"};
  EXPECT_EQ(tokenize(doc, doc.size(), &complete), expected);
  EXPECT_EQ(complete, 1);
  // The same document fed a byte at a time gives the same events.
  EXPECT_EQ(tokenize(doc, 1, &complete), expected);
  EXPECT_EQ(complete, 1);
  EXPECT_EQ(tokenize(doc, 7, &complete), expected);
}

TEST(ProfileTokenizer, LongNamesAreCutAtTheCacheSize) {
  const std::string name(200, 'q');
  EventLog log;
  bool overflowSeen = false;
  struct Probe {
    static void begin(nxml_t h, const char* n, int l) {
      *static_cast<bool*>(xmlUser(h)) |= xmlNameOverflow(h) && l == NXML_MAX_NAME && n[0] == 'q';
    }
  };
  const nxml_settings settings = {Probe::begin, nullptr, nullptr, nullptr, nullptr};
  nxml_t h = nullptr;
  ASSERT_EQ(xmlOpen(&h, &settings, &overflowSeen), 1);
  const std::string doc = "<" + name + ">t</" + name + ">";
  EXPECT_EQ(xmlWrite(h, doc.data(), doc.size(), nullptr), 1);
  xmlClose(h);
  EXPECT_TRUE(overflowSeen);
}

// True when every reported name fits the cache and holds none of the characters that end a name.
void expectNamesWithinTheCache(const std::vector<std::string>& events, const std::string& input) {
  for (const std::string& e : events) {
    if (e.empty() || (e[0] != '<' && e[0] != '@' && e[0] != '/')) continue;
    const std::string name = e.substr(1);
    EXPECT_LE(name.size(), static_cast<size_t>(NXML_MAX_NAME)) << input.substr(0, 40);
    // A tag or attribute name ends at white space, '=', '/' or '>'; a closing tag's at white
    // space or '>'.
    const char* ends = e[0] == '/' ? " \t\r\n>" : " \t\r\n=/>";
    EXPECT_EQ(name.find_first_of(ends), std::string::npos) << e[0] << "name \"" << name << "\" in "
                                                           << input.substr(0, 40);
  }
}

TEST(ProfileTokenizer, MalformedInputNeverRunsAway) {
  // Whatever the bytes, the tokenizer returns, reports names within its cache, and reports the
  // same events whichever way the input is cut into chunks.
  const std::string longName(300, 'n');
  const std::string inputs[] = {"<<<>>>", "</x>", "<a b=\"unterminated", "<a/><", "<?", "\"\"\"",
                                "<a b c d=e f=\"g\"/>", "<a>></a>", "<a></b></c></d>",
                                "<" + longName + " " + longName + "=\"v\">t</" + longName + ">",
                                "<r><" + longName + "/></r>"};
  for (const std::string& input : inputs) {
    int complete = 0;
    const std::vector<std::string> whole = tokenize(input, input.size(), &complete);
    expectNamesWithinTheCache(whole, input);
    for (size_t chunk : {1, 3, 7}) {
      EXPECT_EQ(tokenize(input, chunk, &complete), whole) << input.substr(0, 40) << " in chunks of " << chunk;
    }
  }
  std::string noise;
  uint32_t state = 12345;
  for (int i = 0; i < 20000; ++i) {
    state = state * 1103515245 + 12345;
    noise += "<>/=\" ab\n?"[(state >> 16) % 11];
  }
  int complete = 0;
  const std::vector<std::string> events = tokenize(noise, 13, &complete);
  expectNamesWithinTheCache(events, noise);
  EXPECT_FALSE(events.empty());
}

}  // namespace
