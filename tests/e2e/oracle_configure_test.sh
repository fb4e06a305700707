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
grep -q "1 test program(s) and 0 benchmark(s) left out:" "$work/without.log" &&
  grep -q "absent_oracle_test (test, needs oracle_absent)" "$work/without.log" ||
  { echo "the tests left out are not reported:"; cat "$work/without.log"; exit 1; }

# The real tree without spandsp: every program that the full configuration builds is either
# built or named as left out, and the notice counts them all.
cmake -S "$source_dir" -B "$work/full" >"$work/full.log" 2>&1 ||
  { echo "configure of the tree failed:"; cat "$work/full.log"; exit 1; }
cmake -S "$source_dir" -B "$work/nospandsp" -DORVOX_WITHOUT_ORACLES=ON \
  -DORVOX_ORACLES_TREATED_AS_MISSING=oracle_spandsp >"$work/nospandsp.log" 2>&1 ||
  { echo "configure of the tree without spandsp failed:"; cat "$work/nospandsp.log"; exit 1; }
sed 's/ (.*//' "$work/nospandsp/orvox_left_out.txt" | grep . >"$work/left"
cat "$work/nospandsp/orvox_programs.txt" "$work/left" | grep . | sort >"$work/accounted"
grep . "$work/full/orvox_programs.txt" | sort >"$work/all"
if ! diff -u "$work/all" "$work/accounted"; then
  echo "programs that disappear without spandsp and are not named (-), or named twice (+)"; exit 1
fi
[ -s "$work/left" ] || { echo "nothing was left out without spandsp"; exit 1; }
tests=$(grep -c "(test, " "$work/nospandsp/orvox_left_out.txt")
benches=$(grep -c "(benchmark, " "$work/nospandsp/orvox_left_out.txt")
grep -q "oracle_spandsp (libspandsp-dev): $tests test program(s) and $benches benchmark(s) left out:" \
  "$work/nospandsp.log" || { echo "the count is not reported:"; cat "$work/nospandsp.log"; exit 1; }
while read -r name; do
  grep -q "^  $name (" "$work/nospandsp.log" || { echo "$name is not named"; exit 1; }
done <"$work/left"

# The tree without any oracle at all (every one that cmake/Orvox.cmake declares) still configures,
# and the programs that need the tests' own libraries beside the codecs' oracles (the AMR-NB
# tables' archive, libtiff) are among those named as left out.
every=$(grep -o '^orvox_oracle(oracle_[a-z0-9_]*' "$source_dir/cmake/Orvox.cmake" | sed 's/^orvox_oracle(//' | paste -sd';')
cmake -S "$source_dir" -B "$work/none" -DORVOX_WITHOUT_ORACLES=ON "-DORVOX_ORACLES_TREATED_AS_MISSING=$every" \
  >"$work/none.log" 2>&1 || { echo "configure of the tree without any oracle failed:"; cat "$work/none.log"; exit 1; }
for name in amrnb_tables_test faxr_call_test; do
  grep -q "^$name (" "$work/none/orvox_left_out.txt" || { echo "$name is built without its oracle"; exit 1; }
done
echo "ok: $(wc -l <"$work/all") programs, $(wc -l <"$work/left") left out without spandsp, each named"
