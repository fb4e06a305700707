// Helpers for the profile loader tests: a private profile directory and store access.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "boardHal.h"
#include "vrgProv.h"

class ProfileDirectory {
 public:
  ProfileDirectory() {
    char pattern[] = "/tmp/orvox_profiles_XXXXXX";
    dir_ = ::mkdtemp(pattern);
    ::setenv("ORVOX_PROFILE_DIR", dir_.c_str(), 1);
  }
  ~ProfileDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    ::unsetenv("ORVOX_PROFILE_DIR");
  }
  void write(const std::string& code, const std::string& text) const {
    std::ofstream(dir_ + "/" + code + "_profile.xml", std::ios::binary) << text;
  }
  const std::string& path() const { return dir_; }

 private:
  std::string dir_;
};

inline bool provWord(int line, EPPROV item, int32_t* value) {
  return endptProvGetValue(line, item, value) == EPSTATUS_SUCCESS;
}

inline int boardLines() { return boardHalGetNumEndpoints(); }
