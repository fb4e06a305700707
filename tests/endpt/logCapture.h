// Collects the voice log's messages, expanded, while a test runs.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "voiceLog.h"

struct LoggedMessage {
  VOICE_MODULE module;
  VOICE_LOGLEVEL level;
  std::string text;
};

class LogCapture {
 public:
  LogCapture() {
    active() = this;
    voiceLogSetCaptureHook(&LogCapture::hook);
  }
  ~LogCapture() {
    voiceLogSetCaptureHook(nullptr);
    active() = nullptr;
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<LoggedMessage> messages() {
    std::lock_guard<std::mutex> guard(lock_);
    return messages_;
  }
  // Number of messages whose text contains `fragment`.
  int count(const std::string& fragment) {
    int n = 0;
    for (const LoggedMessage& m : messages()) {
      n += m.text.find(fragment) != std::string::npos ? 1 : 0;
    }
    return n;
  }
  bool contains(const std::string& fragment) { return count(fragment) > 0; }
  void clear() {
    std::lock_guard<std::mutex> guard(lock_);
    messages_.clear();
  }

 private:
  static LogCapture*& active() {
    static LogCapture* instance = nullptr;
    return instance;
  }
  static void hook(VOICE_MODULE module, VOICE_LOGLEVEL level, const struct timeval*,
                   const char* format, va_list args) {
    LogCapture* self = active();
    if (self == nullptr) return;
    va_list copy;
    va_copy(copy, args);
    char text[4096];
    std::vsnprintf(text, sizeof(text), format, copy);
    va_end(copy);
    std::lock_guard<std::mutex> guard(self->lock_);
    self->messages_.push_back({module, level, text});
  }

  std::mutex lock_;
  std::vector<LoggedMessage> messages_;
};
