// Fixture files of the tests and benchmarks. A loader that finds its file missing or empty
// fails the running test (a benchmark stops), so that a comparison never runs on no input.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#ifndef ORVOX_FIXTURE_ABORT
#include <gtest/gtest.h>
#endif

namespace orvox_fixture {

// Returns `path` unchanged; fails when the file is missing or empty.
inline std::string requireFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || info.st_size == 0) {
#ifdef ORVOX_FIXTURE_ABORT
    std::fprintf(stderr, "fixture %s is missing or empty\n", path.c_str());
    std::abort();
#else
    ADD_FAILURE() << "test fixture " << path << " is missing or empty";
#endif
  }
  return path;
}

#ifdef ORVOX_SOURCE_DIR
// The little-endian 16-bit samples of a fixture under tests/data/ (`relative`, e.g.
// "speech/speech_8k.raw"), at most `maxSamples` of them (0: all); fails as requireFile does.
inline std::vector<std::int16_t> loadPcm16(const std::string& relative, std::size_t maxSamples = 0) {
  std::ifstream f(requireFile(std::string(ORVOX_SOURCE_DIR) + "/tests/data/" + relative), std::ios::binary);
  std::vector<std::int16_t> s;
  unsigned char b[2];
  while ((maxSamples == 0 || s.size() < maxSamples) && f.read(reinterpret_cast<char*>(b), 2))
    s.push_back(static_cast<std::int16_t>(b[0] | (b[1] << 8)));
  return s;
}
#endif

}  // namespace orvox_fixture
