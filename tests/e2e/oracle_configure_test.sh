#!/usr/bin/env bash
# Configure stops when an oracle library is missing, and goes on only when asked to build
# without oracles, then naming the tests it leaves out.
set -u
source_dir=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/project"
cat >"$work/project/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.25)
project(oracle_probe LANGUAGES CXX)
include($source_dir/cmake/Orvox.cmake)
enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)
orvox_oracle(oracle_absent DEB libabsent-dev LIB orvox_no_such_library_at_all)
orvox_test(absent_oracle_test SOURCES probe.cpp LIBS oracle_absent)
orvox_test(plain_test SOURCES probe.cpp)
CMAKE
echo 'int main() { return 0; }' >"$work/project/probe.cpp"

if cmake -S "$work/project" -B "$work/strict" >"$work/strict.log" 2>&1; then
  echo "configure went on without the oracle"; cat "$work/strict.log"; exit 1
fi
grep -q "oracle library oracle_absent (Debian package libabsent-dev) is missing" "$work/strict.log" ||
  { echo "no clear message:"; cat "$work/strict.log"; exit 1; }

cmake -S "$work/project" -B "$work/without" -DORVOX_WITHOUT_ORACLES=ON >"$work/without.log" 2>&1 ||
  { echo "configure without oracles failed:"; cat "$work/without.log"; exit 1; }
grep -q "1 test program(s) left out: absent_oracle_test (oracle_absent)" "$work/without.log" ||
  { echo "the tests left out are not reported:"; cat "$work/without.log"; exit 1; }
echo "ok"
