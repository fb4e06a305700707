// Fixture files of the tests and benchmarks. A loader that finds its file missing or empty
// fails the running test (a benchmark stops), so that a comparison never runs on no input.
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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

}  // namespace orvox_fixture
