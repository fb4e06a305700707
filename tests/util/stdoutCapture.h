// Captures what the code under test writes to standard output, byte for byte.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class StdoutCapture {
 public:
  StdoutCapture() {
    fflush(stdout);
    char path[] = "/tmp/orvox_stdout_XXXXXX";
    fd_ = mkstemp(path);
    unlink(path);
    saved_ = dup(STDOUT_FILENO);
    dup2(fd_, STDOUT_FILENO);
  }

  ~StdoutCapture() {
    restore();
    close(fd_);
  }

  // Stops capturing and returns everything written since the start.
  std::string finish() {
    restore();
    std::string text;
    char buf[4096];
    lseek(fd_, 0, SEEK_SET);
    ssize_t n;
    while ((n = read(fd_, buf, sizeof buf)) > 0) {
      text.append(buf, static_cast<size_t>(n));
    }
    return text;
  }

 private:
  void restore() {
    if (saved_ >= 0) {
      fflush(stdout);
      dup2(saved_, STDOUT_FILENO);
      close(saved_);
      saved_ = -1;
    }
  }

  int fd_ = -1;
  int saved_ = -1;
};
