#include "voiceLog.h"

#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <thread>
#include <string>
#include <vector>

#include "stdoutCapture.h"

namespace {

const std::string ESC = "\x1b";

// One printed line: "HH:MM:SS.mmm [module]<colour> <message>ESC[0m\n".
bool isLine(const std::string &line, const std::string &module, const std::string &colour,
            const std::string &message) {
  const std::string timeShape = "dd:dd:dd.ddd ";
  if (line.size() < timeShape.size()) {
    return false;
  }
  for (size_t i = 0; i < timeShape.size(); ++i) {
    const bool wantDigit = timeShape[i] == 'd';
    if (wantDigit ? !isdigit(static_cast<unsigned char>(line[i])) : line[i] != timeShape[i]) {
      return false;
    }
  }
  const int hours = std::stoi(line.substr(0, 2));
  const int minutes = std::stoi(line.substr(3, 2));
  const int seconds = std::stoi(line.substr(6, 2));
  if (hours > 23 || minutes > 59 || seconds > 60) {
    return false;
  }
  return line.substr(timeShape.size()) ==
         "[" + module + "]" + colour + " " + message + ESC + "[0m\n";
}

TEST(VoiceLog, PrintsTimeModuleColourMessageAndReset) {
  StdoutCapture capture;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "line %d: %s\n", 3, "busy");
  std::string out = capture.finish();
  EXPECT_TRUE(isLine(out, "ept", ESC + "[0;31m", "line 3: busy")) << out;
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
  EXPECT_TRUE(isLine(second, "general", ESC + "[0;33;1m", "abc")) << second;
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
    EXPECT_TRUE(isLine(out, name, "", "x")) << out;
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
  EXPECT_TRUE(isLine(out.substr(0, split + 1), "vos", ESC + "[0;33;1m", "crit 7")) << out;
  EXPECT_TRUE(isLine(out.substr(split + 1), "vos", ESC + "[0;31;47m", "alert"))
      << out;
}

TEST(VoiceLog, LongArgumentsAndLongFormatsArePrintedWhole) {
  const std::string longText(5000, 'q');
  const std::string longFormat = std::string(600, 'f') + " %d %s\n";
  StdoutCapture capture;
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, "<%s>", longText.c_str());
  voiceLog(VOICE_MODULE_EPT, VOICE_LOGLEVEL_ERROR, longFormat.c_str(), 12345, "end");
  std::string out = capture.finish();
  size_t split = out.find('\n');
  ASSERT_NE(split, std::string::npos);
  EXPECT_TRUE(isLine(out.substr(0, split + 1), "ept", ESC + "[0;31m", "<" + longText + ">"));
  EXPECT_TRUE(isLine(out.substr(split + 1), "ept", ESC + "[0;31m",
                     std::string(600, 'f') + " 12345 end"));
}

TEST(VoiceLog, LinesOfConcurrentThreadsNeverMix) {
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  StdoutCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_ERROR, "thread %d line %d %s\n", t, i,
                 "with some text to make the line longer than a few bytes");
      }
    });
  }
  for (auto &thread : threads) thread.join();
  std::istringstream lines(capture.finish());
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    const size_t start = line.find(" thread ");
    ASSERT_NE(start, std::string::npos) << line;
    int t = -1, i = -1;
    ASSERT_EQ(sscanf(line.c_str() + start, " thread %d line %d", &t, &i), 2) << line;
    EXPECT_TRUE(isLine(line + "\n", "dsphal", ESC + "[0;31m",
                       "thread " + std::to_string(t) + " line " + std::to_string(i) +
                           " with some text to make the line longer than a few bytes"))
        << line;
  }
  EXPECT_EQ(count, kThreads * kLines);
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
