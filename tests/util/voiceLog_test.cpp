#include "voiceLog.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "stdoutCapture.h"

namespace {

const std::string ESC = "\x1b";

// One printed line: "HH:MM:SS.mmm [module]<colour> <message>ESC[0m\n".
std::regex lineRegex(const std::string &module, const std::string &colour,
                     const std::string &message) {
  auto quote = [](const std::string &s) {
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(s, special, R"(\$&)");
  };
  return std::regex("^[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\\.[0-9]{3} \\[" + quote(module) + "\\]" +
                    quote(colour) + " " + quote(message) + quote(ESC + "[0m") + "\n$");
}

TEST(VoiceLog, PrintsTimeModuleColourMessageAndReset) {
  StdoutCapture capture;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "line %d: %s\n", 3, "busy");
  std::string out = capture.finish();
  EXPECT_TRUE(std::regex_match(out, lineRegex("ept", ESC + "[0;31m", "line 3: busy"))) << out;
}

TEST(VoiceLog, MessageWithAndWithoutNewlineEndIdentically) {
  StdoutCapture capture;
  voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_CRIT, "abc\n");
  voiceLog(VOICE_MODULE_GENERAL, VOICE_LOGLEVEL_CRIT, "abc");
  std::string out = capture.finish();
  size_t split = out.find('\n');
  ASSERT_NE(split, std::string::npos);
  std::string first = out.substr(0, split + 1);
  std::string second = out.substr(split + 1);
  const std::string tail = " abc" + ESC + "[0m\n";
  EXPECT_EQ(first.substr(first.size() - tail.size()), tail);
  EXPECT_EQ(second.substr(second.size() - tail.size()), tail);
  EXPECT_TRUE(std::regex_match(second, lineRegex("general", ESC + "[0;33;1m", "abc"))) << second;
}

TEST(VoiceLog, LevelAboveModuleLevelOrUnknownModulePrintsNothing) {
  StdoutCapture capture;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_WARNING, "not shown");
  voiceLog(VOICE_MODULE_DISP, VOICE_LOGLEVEL_DEBUG, "not shown");
  voiceLog(static_cast<VOICE_MODULE>(12), VOICE_LOGLEVEL_ALWAYS, "not shown");
  voiceLog(static_cast<VOICE_MODULE>(-1), VOICE_LOGLEVEL_ALWAYS, "not shown");
  EXPECT_EQ(capture.finish(), "");
  EXPECT_EQ(voiceGetLogLevel(static_cast<VOICE_MODULE>(12)), 0);
  EXPECT_EQ(voiceGetLogLevel(VOICE_MODULE_SLICSLAC), VOICE_LOGLEVEL_ERROR);
}

TEST(VoiceLog, LevelsStayAsBuilt) {
  setVoiceLogLevel(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG);
  updateVoiceLogLevel(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG);
  EXPECT_EQ(voiceGetLogLevel(VOICE_MODULE_EPT), VOICE_LOGLEVEL_ERROR);
  StdoutCapture capture;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_INFO, "not shown");
  EXPECT_EQ(capture.finish(), "");
}

TEST(VoiceLog, EveryModuleHasItsName) {
  const std::vector<std::pair<VOICE_MODULE, std::string>> names = {
      {VOICE_MODULE_GENERAL, "general"}, {VOICE_MODULE_DISP, "disp"},
      {VOICE_MODULE_VOS, "vos"},         {VOICE_MODULE_EPT, "ept"},
      {VOICE_MODULE_CMS, "cms"},         {VOICE_MODULE_PROV, "prov"},
      {VOICE_MODULE_LHAPI, "lhapi"},     {VOICE_MODULE_ISTW, "istw"},
      {VOICE_MODULE_DSPHAL, "dsphal"},   {VOICE_MODULE_SLICSLAC, "slicslac"},
  };
  for (const auto &[module, name] : names) {
    StdoutCapture capture;
    voiceLog(module, VOICE_LOGLEVEL_ALWAYS, "x");
    std::string out = capture.finish();
    EXPECT_TRUE(std::regex_match(out, lineRegex(name, "", "x"))) << out;
  }
}

TEST(VoiceLog, ColoursFollowTheLevel) {
  const std::vector<std::pair<VOICE_LOGLEVEL, std::string>> colours = {
      {VOICE_LOGLEVEL_ALWAYS, ""},
      {VOICE_LOGLEVEL_EMERG, ESC + "[0;33;41m"},
      {VOICE_LOGLEVEL_ALERT, ESC + "[0;31;47m"},
      {VOICE_LOGLEVEL_CRIT, ESC + "[0;33;1m"},
      {VOICE_LOGLEVEL_ERROR, ESC + "[0;31m"},
  };
  for (const auto &[level, colour] : colours) {
    StdoutCapture capture;
    voiceLog(VOICE_MODULE_PROV, level, "m");
    std::string out = capture.finish();
    EXPECT_TRUE(std::regex_match(out, lineRegex("prov", colour, "m"))) << out;
  }
}

TEST(VoiceLog, OsLayerLevelsAreTranslated) {
  StdoutCapture capture;
  extVosLog(VOS_LOGLEVEL_CRIT, "crit %u", 7u);
  extVosLog(VOS_LOGLEVEL_ALERT, "alert");
  extVosLog(VOS_LOGLEVEL_ALWAYS, "debug now");
  extVosLog(VOS_LOGLEVEL_INFO, "info");
  std::string out = capture.finish();
  size_t split = out.find('\n');
  ASSERT_NE(split, std::string::npos);
  EXPECT_TRUE(std::regex_match(out.substr(0, split + 1), lineRegex("vos", ESC + "[0;33;1m", "crit 7")))
      << out;
  EXPECT_TRUE(std::regex_match(out.substr(split + 1), lineRegex("vos", ESC + "[0;31;47m", "alert")))
      << out;
}

TEST(VoiceLog, LongArgumentsAndLongFormatsArePrintedWhole) {
  const std::string longText(5000, 'q');
  const std::string longFormat = std::string(600, 'f') + " %d %s";
  StdoutCapture capture;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "<%s>", longText.c_str());
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, longFormat.c_str(), 12345, "end");
  std::string out = capture.finish();
  size_t split = out.find('\n');
  ASSERT_NE(split, std::string::npos);
  EXPECT_TRUE(std::regex_match(out.substr(0, split + 1),
                               lineRegex("ept", ESC + "[0;31m", "<" + longText + ">")));
  EXPECT_TRUE(std::regex_match(out.substr(split + 1),
                               lineRegex("ept", ESC + "[0;31m", std::string(600, 'f') + " 12345 end")));
}

struct Captured {
  VOICE_MODULE module;
  VOICE_LOGLEVEL level;
  std::string expanded;
  bool hasTime;
};
std::vector<Captured> captured;

void captureHook(VOICE_MODULE module, VOICE_LOGLEVEL level, const struct timeval *time,
                 const char *format, va_list args) {
  char buf[256];
  vsnprintf(buf, sizeof buf, format, args);
  captured.push_back({module, level, buf, time != nullptr && time->tv_sec > 0});
}

TEST(VoiceLog, CaptureHookSeesEveryMessageWithItsArguments) {
  captured.clear();
  voiceLogSetCaptureHook(captureHook);
  StdoutCapture capture;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "printed %d %s", 1, "one");
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_DEBUG, "hidden %d", 2);
  voiceLog(static_cast<VOICE_MODULE>(40), VOICE_LOGLEVEL_ERROR, "nowhere %d", 3);
  std::string out = capture.finish();
  voiceLogSetCaptureHook(nullptr);

  ASSERT_EQ(captured.size(), 3u);
  EXPECT_EQ(captured[0].expanded, "printed 1 one");
  EXPECT_EQ(captured[1].expanded, "hidden 2");
  EXPECT_EQ(captured[1].level, VOICE_LOGLEVEL_DEBUG);
  EXPECT_EQ(captured[2].expanded, "nowhere 3");
  EXPECT_EQ(captured[2].module, 40);
  EXPECT_TRUE(captured[0].hasTime);
  EXPECT_NE(out.find(" printed 1 one"), std::string::npos);
  EXPECT_EQ(out.find("hidden"), std::string::npos);
}

}  // namespace
