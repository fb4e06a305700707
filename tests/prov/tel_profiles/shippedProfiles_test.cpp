// Every shipped country profile loads without error, sets every item that the library reads
// without a default, and agrees value by value with the same file read by libexpat.

#include <expat.h>
#include <gtest/gtest.h>
#include <strings.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "profileTestSupport.h"
#include "telProfile.h"
#include "vrgProvValues.h"

namespace {

const std::string kProfileDir = std::string(ORVOX_SOURCE_DIR) + "/prov/tel_profiles";

// A small element tree built with libexpat.
struct Node {
  std::string name;
  std::map<std::string, std::string> attributes;
  std::string text;
  std::vector<std::unique_ptr<Node>> children;
  const Node* child(const char* tag) const {
    for (const auto& c : children) {
      if (strcasecmp(c->name.c_str(), tag) == 0) return c.get();
    }
    return nullptr;
  }
  std::string trimmedText() const {
    const size_t b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    return text.substr(b, text.find_last_not_of(" \t\r\n") - b + 1);
  }
  long long number() const { return std::stoll(trimmedText()); }
  int instance() const {
    auto it = attributes.find("instance");
    return it == attributes.end() ? 0 : std::stoi(it->second);
  }
};

struct TreeBuilder {
  std::unique_ptr<Node> root;
  std::vector<Node*> open;
  static void start(void* self, const XML_Char* name, const XML_Char** atts) {
    auto* b = static_cast<TreeBuilder*>(self);
    auto node = std::make_unique<Node>();
    node->name = name;
    for (int i = 0; atts[i]; i += 2) node->attributes[atts[i]] = atts[i + 1];
    Node* raw = node.get();
    if (b->open.empty()) {
      b->root = std::move(node);
    } else {
      b->open.back()->children.push_back(std::move(node));
    }
    b->open.push_back(raw);
  }
  static void end(void* self, const XML_Char*) { static_cast<TreeBuilder*>(self)->open.pop_back(); }
  static void text(void* self, const XML_Char* s, int len) {
    auto* b = static_cast<TreeBuilder*>(self);
    if (!b->open.empty()) b->open.back()->text.append(s, len);
  }
};

std::unique_ptr<Node> parseWithExpat(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  const std::string doc = buffer.str();
  TreeBuilder builder;
  XML_Parser parser = XML_ParserCreate(nullptr);
  XML_SetUserData(parser, &builder);
  XML_SetElementHandler(parser, TreeBuilder::start, TreeBuilder::end);
  XML_SetCharacterDataHandler(parser, TreeBuilder::text);
  const bool ok = XML_Parse(parser, doc.data(), static_cast<int>(doc.size()), 1) == XML_STATUS_OK;
  EXPECT_TRUE(ok) << path << ": " << XML_ErrorString(XML_GetErrorCode(parser));
  XML_ParserFree(parser);
  return std::move(builder.root);
}

// The file format's named values, written out here from the format's description.
const std::map<std::string, std::map<std::string, int>> kNamedValues = {
    {"CIDMode", {{"onhook_ring", 0}, {"onhook_LRCARIR", 1}, {"onhook_DTAS", 2},
                 {"onhook_RPAS", 3}, {"onhook_LRAS", 4}, {"onhook_LR", 5}, {"offhook", 6}}},
    {"CIDSigProtocol", {{"FSK", 1}, {"DTMF", 2}}},
    {"VMWIMode", {{"OSI", 7}, {"DTAS", 8}, {"RPAS", 9}, {"LRAS", 10}}},
    {"VMWISigProtocol", {{"FSK", 3}, {"DTMF", 4}}},
    {"VMWIMsgFormat", {{"SDMF", 0}, {"MDMF", 1}}},
    {"RingWaveform", {{"sine", 0}, {"trapezoid", 1}}},
    {"PteDetectAdmin", {{"n_america", 0}, {"general", 1}, {"japan", 2}, {"europe", 3},
                        {"australia", 4}, {"brazil", 5}}},
};

const std::map<std::string, EPPROV> kSimpleItems = {
    {"MinHookFlash", EPPROV_MinHookFlash}, {"MaxHookFlash", EPPROV_MaxHookFlash},
    {"PlsDlInterdigitTime", EPPROV_PlsDlInterdigitTime},
    {"PlsDlMinMakeTime", EPPROV_PlsDlMinMakeTime}, {"PlsDlMaxMakeTime", EPPROV_PlsDlMaxMakeTime},
    {"PlsDlMinBreakTime", EPPROV_PlsDlMinBreakTime},
    {"PlsDlMaxBreakTime", EPPROV_PlsDlMaxBreakTime}, {"MinConnect", EPPROV_MinConnect},
    {"MinDisconnect", EPPROV_MinDisconnect}, {"CIDMode", EPPROV_CIDMode},
    {"CIDFskAfterRing", EPPROV_CIDFskAfterRing}, {"CIDFskAfterDTAS", EPPROV_CIDFskAfterDTAS},
    {"CIDFskAfterRPAS", EPPROV_CIDFskAfterRPAS}, {"CIDRingAfterFSK", EPPROV_CIDRingAfterFSK},
    {"CIDDTASAfterLR", EPPROV_CIDDTASAfterLR}, {"CIDDTMFAfterLR", EPPROV_CIDDTMFAfterLR},
    {"CIDSigProtocol", EPPROV_CIDSigProtocol}, {"CallWtgDelay", EPPROV_CallWtgDelay},
    {"HighVoltageRingSupport", EPPROV_HighVring}, {"VMWIMode", EPPROV_VMWIMode},
    {"VMWIFskAfterDTAS", EPPROV_VMWIFskAfterDTAS}, {"VMWIFskAfterRPAS", EPPROV_VMWIFskAfterRPAS},
    {"VMWIDTASAfterLR", EPPROV_VMWIDTASAfterLR}, {"VMWISigProtocol", EPPROV_VMWISigProtocol},
    {"VMWIMsgFormat", EPPROV_VMWIMsgFormat}, {"DtmfDbLevel", EPPROV_DtmfDbLevel},
    {"DtmfPulseTime", EPPROV_DtmfPulseTime}, {"PowerRingFrequency", EPPROV_PowerRingFrequency},
    {"RingVoltage", EPPROV_RingVoltage}, {"RingDCOffset", EPPROV_RingDCOffset},
    {"RingWaveform", EPPROV_RingWaveform}, {"PteDetectAdmin", EPPROV_PteDetectAdmin},
    {"PteMinDetectPower", EPPROV_PteMinDetectPower}, {"PveEgressVolume", EPPROV_PveEgressVolume},
};

const std::map<std::string, EPPROV> kTones = {
    {"ToneBusy", EPPROV_ToneBusy}, {"ToneConfirmation", EPPROV_ToneConfirmation},
    {"ToneDial", EPPROV_ToneDial}, {"ToneMessageWaiting", EPPROV_ToneMessageWaiting},
    {"ToneOffHookWarning", EPPROV_ToneOffHookWarning}, {"ToneRingBack", EPPROV_ToneRingBack},
    {"ToneReOrder", EPPROV_ToneReOrder}, {"ToneStutterdial", EPPROV_ToneStutterdial},
    {"ToneCallWaiting", EPPROV_ToneCallWaiting}, {"ToneCallWaiting1", EPPROV_ToneCallWaiting1},
    {"ToneCallWaiting2", EPPROV_ToneCallWaiting2}, {"ToneCallWaiting3", EPPROV_ToneCallWaiting3},
    {"ToneCallWaiting4", EPPROV_ToneCallWaiting4}, {"ToneSpecialDial", EPPROV_ToneSpecialDial},
    {"ToneCongestion", EPPROV_ToneCongestion}, {"ToneCongestion1", EPPROV_ToneCongestion1},
};

const std::map<std::string, EPPROV> kRings = {
    {"ring0", EPPROV_R0Cadence}, {"ring1", EPPROV_R1Cadence}, {"ring2", EPPROV_R2Cadence},
    {"ring3", EPPROV_R3Cadence}, {"ring4", EPPROV_R4Cadence}, {"ring5", EPPROV_R5Cadence},
    {"ring6", EPPROV_R6Cadence}, {"ring7", EPPROV_R7Cadence},
    {"generalRing", EPPROV_RGCadence}, {"splashRing", EPPROV_RSCadence},
};

int namedOrNumber(const Node& n) {
  auto table = kNamedValues.find(n.name);
  if (table != kNamedValues.end()) return table->second.at(n.trimmedText());
  if (n.name == "HighVoltageRingSupport") return n.trimmedText() == "false" ? 0 : 1;
  return static_cast<int>(n.number());
}

int flag(const Node& n) { return n.trimmedText() == "false" ? 0 : 1; }

uint8_t digit(const std::string& name) {
  static const std::map<std::string, int> digits = {
      {"DTMFERROR", 127}, {"DTMFSTR", 10}, {"DTMFPND", 11}, {"DTMFA", 12},
      {"DTMFB", 13},      {"DTMFC", 14},   {"DTMFD", 15}};
  if (name.size() == 5 && name.rfind("DTMF", 0) == 0 && isdigit(name[4])) return name[4] - '0';
  return static_cast<uint8_t>(digits.at(name));
}

HDSP_TONE_PROV_PATTERN expectedTone(const Node& profile) {
  HDSP_TONE_PROV_PATTERN t{};
  for (const auto& c : profile.children) {
    if (c->name == "repetitions") t.repetitions = static_cast<uint32_t>(c->number());
    if (c->name == "tones") t.tones = static_cast<uint32_t>(c->number());
    if (c->name == "noSteadyTone") t.noSteadyTone = flag(*c);
    if (c->name != "tone") continue;
    HDSP_TONE_COMPONENT& k = t.tone[c->instance()];
    for (const auto& f : c->children) {
      if (f->name == "repetitions") k.repetitions = static_cast<uint32_t>(f->number());
      if (f->name == "soundDuration") k.soundDuration = static_cast<uint32_t>(f->number());
      if (f->name == "silenceDuration") k.silenceDuration = static_cast<uint32_t>(f->number());
      if (f->name == "frequencies") k.frequencies = static_cast<uint32_t>(f->number());
      if (f->name == "modulateTone") k.modulateTone = flag(*f);
      if (f->name == "modulatePercent") k.modulatePercent = static_cast<uint16_t>(f->number());
      if (f->name == "frequency") {
        k.frequency[f->instance()].hertz = static_cast<uint32_t>(f->child("hertz")->number());
        k.frequency[f->instance()].level = static_cast<int>(f->child("level")->number());
      }
    }
  }
  return t;
}

VRG_RING_PROFILE expectedRing(const Node& profile) {
  VRG_RING_PROFILE r{};
  r.type = flag(*profile.child("longPattern")) ? VRG_RING_LONG : VRG_RING_SHORT;
  for (const auto& c : profile.children) {
    if (c->name == "pattern") {
      vrgRingPatternWord(r, c->instance()) =
          static_cast<uint32_t>(std::stoul(c->trimmedText(), nullptr, 16));
    }
  }
  return r;
}

VRG_CLASS_FSK expectedFsk(const Node& profile) {
  VRG_CLASS_FSK f{};
  f.amplitude = static_cast<uint16_t>(profile.child("amplitude")->number());
  f.markFrequency = static_cast<uint16_t>(profile.child("markFrequency")->number());
  f.spaceFrequency = static_cast<uint16_t>(profile.child("spaceFrequency")->number());
  f.startNumSeizes = static_cast<int16_t>(profile.child("startNumSeizes")->number());
  f.startNumMarks = static_cast<uint16_t>(profile.child("startNumMarks")->number());
  return f;
}

VRG_CLASS_DTMF expectedDtmf(const Node& profile) {
  VRG_CLASS_DTMF d{};
  d.dbLevel = static_cast<uint16_t>(profile.child("dbLevel")->number());
  d.pulseTime = static_cast<uint16_t>(profile.child("pulseTime")->number());
  d.startCode = digit(profile.child("startCode")->trimmedText());
  d.endCode = digit(profile.child("endCode")->trimmedText());
  d.redirectingCode = digit(profile.child("redirectingCode")->trimmedText());
  d.informationCode = digit(profile.child("informationCode")->trimmedText());
  for (const auto& c : profile.children) {
    if (c->name == "privateCode") d.privateCode[c->instance()] = digit(c->trimmedText());
    if (c->name == "unavailCode") d.unavailCode[c->instance()] = digit(c->trimmedText());
    if (c->name == "errorCode") d.errorCode[c->instance()] = digit(c->trimmedText());
  }
  d.DTMFpauseTimeout = static_cast<uint16_t>(profile.child("DTMFpauseTimeout")->number());
  d.DTMFsessionTimeout = static_cast<uint16_t>(profile.child("DTMFsessionTimeout")->number());
  d.ringAfterClidTimeout = static_cast<uint16_t>(profile.child("ringAfterClidTimeout")->number());
  return d;
}

template <typename T>
void expectStored(int line, EPPROV item, const T& expected, const std::string& what) {
  T stored{};
  ASSERT_EQ(endptProvGetValue(line, item, &stored), EPSTATUS_SUCCESS) << what;
  EXPECT_EQ(std::memcmp(&stored, &expected, sizeof(T)), 0) << what << " on line " << line;
}

VRG_COUNTRY countryOfCode(const std::string& code) {
  for (const COUNTRY_MAP* c = countryMap; c->country != VRG_COUNTRY_MAX; ++c) {
    if (code == c->countryName) return c->country;
  }
  return VRG_COUNTRY_MAX;
}

TEST(ShippedProfiles, OneFilePerCountryCode) {
  for (const COUNTRY_MAP* c = countryMap; c->country != VRG_COUNTRY_MAX; ++c) {
    EXPECT_TRUE(std::filesystem::exists(kProfileDir + "/" + c->countryName + "_profile.xml"))
        << c->countryName;
  }
}

TEST(ShippedProfiles, EveryFileLoadsCompletelyAndAgreesWithExpat) {
  ::setenv("ORVOX_PROFILE_DIR", kProfileDir.c_str(), 1);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kProfileDir)) {
    const std::string file = entry.path().filename().string();
    if (file.size() != 15 || file.substr(3) != "_profile.xml") continue;
    const std::string code = file.substr(0, 3);
    SCOPED_TRACE(file);
    ++files;
    const VRG_COUNTRY country = countryOfCode(code);
    ASSERT_NE(country, VRG_COUNTRY_MAX) << "no country for " << code;

    endptProvDeinit();
    endptProvInit();
    tpUpdateLocaleProfile(country);
    const int lines = boardLines();
    ASSERT_GT(lines, 0);
    int32_t locale = -1;
    ASSERT_TRUE(provWord(lines - 1, EPPROV_LastLocale, &locale)) << "file rejected";
    EXPECT_EQ(locale, country);

    // Every item that the library reads without a default is set.
    for (const PROV_ENTRY* row = provTable; row->provItemId != EPPROV_LastItem; ++row) {
      const bool required = row->isCountrySpecific || row->provItemId <= EPPROV_RSCadence;
      if (!required) continue;
      std::vector<uint8_t> value(row->provItemSize);
      EXPECT_EQ(endptProvGetValue(0, row->provItemId, value.data()), EPSTATUS_SUCCESS)
          << row->provItemName;
    }

    // Value by value, the loader agrees with the independent reading.
    const std::unique_ptr<Node> root = parseWithExpat(entry.path().string());
    ASSERT_TRUE(root);
    int items = 0;
    for (const auto& node : root->children) {
      const std::string& tag = node->name;
      const int line = items++ % lines;
      if (auto simple = kSimpleItems.find(tag); simple != kSimpleItems.end()) {
        expectStored<int32_t>(line, simple->second, namedOrNumber(*node), tag);
      } else if (tag == "toneProfile") {
        const std::string name = node->child("toneName")->trimmedText();
        expectStored(line, kTones.at(name), expectedTone(*node), name);
      } else if (tag == "ringProfile") {
        const std::string name = node->child("name")->trimmedText();
        expectStored(line, kRings.at(name), expectedRing(*node), name);
      } else if (tag == "CIDFskParmsProfile") {
        expectStored(line, EPPROV_CIDFskParms, expectedFsk(*node), tag);
      } else if (tag == "CIDDtmfParmsProfile") {
        expectStored(line, EPPROV_CIDDtmfParms, expectedDtmf(*node), tag);
      } else {
        EXPECT_EQ(tag, "country");
      }
    }
    EXPECT_EQ(items, 1 + static_cast<int>(kSimpleItems.size()) + 2 +
                         static_cast<int>(kTones.size()) + static_cast<int>(kRings.size()));
  }
  EXPECT_EQ(files, VRG_COUNTRY_MAX);
  ::unsetenv("ORVOX_PROFILE_DIR");
  endptProvDeinit();
}

}  // namespace
