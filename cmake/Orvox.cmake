# Build helpers shared by every module, test suite and benchmark.

# ORVOX_SANITIZE: "" (none), "address" (ASan + UBSan) or "thread" (TSan).
set(ORVOX_SANITIZE "" CACHE STRING "Sanitizer build: address or thread")
if(ORVOX_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(ORVOX_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT ORVOX_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ORVOX_SANITIZE must be empty, address or thread")
endif()

find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)

# ORVOX_SIMD: the x86-64 vector kernels (SSE2 always, AVX2 where the processor has it, chosen at
# run time) beside the portable scalar ones. Off, and on any other processor, only the scalar
# kernels are built; every vector kernel gives the same output as its scalar model, bit for bit.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(ORVOX_SIMD_POSSIBLE ON)
else()
  set(ORVOX_SIMD_POSSIBLE OFF)
endif()
option(ORVOX_SIMD "Build the x86-64 vector kernels beside the scalar ones" ${ORVOX_SIMD_POSSIBLE})
if(ORVOX_SIMD AND NOT ORVOX_SIMD_POSSIBLE)
  message(WARNING "ORVOX_SIMD: the vector kernels are x86-64 only; building the scalar kernels "
                  "for ${CMAKE_SYSTEM_PROCESSOR}")
  set(ORVOX_SIMD OFF CACHE BOOL "Build the x86-64 vector kernels beside the scalar ones" FORCE)
endif()
if(ORVOX_SIMD)
  add_compile_definitions(ORVOX_X86_SIMD=1)
endif()

# ORVOX_PORTABLE_INT128: the codecs' 128-bit intermediate products use the compiler's __int128
# where it has one (64-bit targets) and a portable two-word form elsewhere. This switch takes the
# portable form on a 64-bit build too, so that its results can be checked against the digests.
option(ORVOX_PORTABLE_INT128 "Use the portable 128-bit arithmetic even where __int128 exists" OFF)
if(ORVOX_PORTABLE_INT128)
  add_compile_definitions(ORVOX_PORTABLE_INT128=1)
endif()

# orvox_module(<name> SOURCES ... [DEPS ...] [PUBLIC_INCLUDE dir...])
# One static library per module; its directory is its public include root.
function(orvox_module name)
  cmake_parse_arguments(M "" "" "SOURCES;DEPS;PUBLIC_INCLUDE" ${ARGN})
  add_library(${name} STATIC ${M_SOURCES})
  if(M_PUBLIC_INCLUDE)
    target_include_directories(${name} PUBLIC ${M_PUBLIC_INCLUDE})
  else()
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  if(M_DEPS)
    target_link_libraries(${name} PUBLIC ${M_DEPS})
  endif()
endfunction()

# The oracle libraries among `libs` that this build goes without.
function(_orvox_missing_oracles out)
  set(missing "")
  foreach(lib ${ARGN})
    if(lib MATCHES "^oracle_")
      if(NOT TARGET ${lib})
        list(APPEND missing ${lib})
      else()
        get_target_property(deb ${lib} INTERFACE_ORVOX_ORACLE_MISSING)
        if(deb)
          list(APPEND missing ${lib})
        endif()
      endif()
    endif()
  endforeach()
  set(${out} "${missing}" PARENT_SCOPE)
endfunction()

# A program left out for want of oracles: it is named in the summary at the end of configure, and
# a stand-in of the same name says why when run (a test's stand-in is a skipped test), so that
# what a CMakeLists does with the program afterwards still works and the absence shows.
function(_orvox_left_out name kind missing)
  string(REPLACE ";" ", " missingText "${missing}")
  set_property(GLOBAL APPEND PROPERTY ORVOX_LEFT_OUT "${name} (${kind}, needs ${missingText})")
  set(stub ${CMAKE_BINARY_DIR}/left_out/${name}.cpp)
  set(status 0)
  if(kind STREQUAL "test")
    set(status 77)
  endif()
  file(WRITE ${stub} "#include <cstdio>\nint main() {\n  std::puts(\"${name} is left out: this build goes without ${missingText}\");\n  return ${status};\n}\n")
  add_executable(${name} ${stub})
  if(kind STREQUAL "test")
    add_test(NAME ${name}.LeftOut COMMAND ${name})
    set_tests_properties(${name}.LeftOut PROPERTIES SKIP_RETURN_CODE 77)
  endif()
endfunction()

# orvox_test(<name> SOURCES ... [LIBS ...] [LABELS ...] [RESOURCE_LOCK lock] [TIMEOUT s])
# A GoogleTest executable registered with CTest, run with the fast tick and without real-time
# scheduling so that a busy test never starves the machine.
function(orvox_test name)
  cmake_parse_arguments(T "" "RESOURCE_LOCK;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  # A test against an independent implementation that this build goes without is left out, named
  # and shown as skipped (only possible with ORVOX_WITHOUT_ORACLES: otherwise configure has
  # already stopped).
  _orvox_missing_oracles(missing ${T_LIBS})
  if(missing)
    _orvox_left_out(${name} test "${missing}")
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY ORVOX_PROGRAMS ${name})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  target_compile_definitions(${name} PRIVATE ORVOX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                             ORVOX_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # Each case is its own CTest test with this bound; the sanitizer builds run several times slower.
  if(ORVOX_SANITIZE)
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * 3")
  endif()
  # The environment goes on the command line: a two-entry ENVIRONMENT list would be split apart on
  # its way through the test discovery and take the properties after it along.
  # A cross build's tests run under CMAKE_CROSSCOMPILING_EMULATOR (qemu-user), if one is given.
  set_property(TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ORVOX_NO_RT=1 ORVOX_TICK=fast
                                                               ${CMAKE_CROSSCOMPILING_EMULATOR})
  set(props TIMEOUT ${T_TIMEOUT})
  if(T_RESOURCE_LOCK)
    list(APPEND props RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  if(T_LABELS)
    list(APPEND props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES ${props})
endfunction()

# orvox_bench(<name> SOURCES ... [LIBS ...]): a Google Benchmark program (not run by the tests).
function(orvox_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  _orvox_missing_oracles(missing ${B_LIBS})
  if(missing)
    _orvox_left_out(${name} benchmark "${missing}")
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY ORVOX_PROGRAMS ${name})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  target_compile_definitions(${name} PRIVATE ORVOX_FIXTURE_ABORT=1)
endfunction()

# Independent implementations from Debian's packages, used as oracles by tests and benchmarks
# only: never link these into the product. A missing one stops configure, so that a machine
# without it cannot quietly run fewer tests; -DORVOX_WITHOUT_ORACLES=ON builds without them on
# purpose and reports the tests it leaves out.
option(ORVOX_WITHOUT_ORACLES "Build without missing oracle libraries, leaving their tests out" OFF)

function(orvox_oracle target)
  cmake_parse_arguments(O "" "DEB" "PKG;LIB;HEADER_DIRS" ${ARGN})
  if(TARGET ${target})
    return()
  endif()
  # ORVOX_ORACLES_TREATED_AS_MISSING names oracles to go without even where they are installed:
  # the configure test uses it to see what the real tree leaves out.
  if(${target} IN_LIST ORVOX_ORACLES_TREATED_AS_MISSING)
    set(O_PKG "")
    set(O_LIB "")
  endif()
  if(O_PKG)
    pkg_check_modules(${target}_PC QUIET IMPORTED_TARGET ${O_PKG})
    if(${target}_PC_FOUND)
      add_library(${target} INTERFACE IMPORTED GLOBAL)
      target_link_libraries(${target} INTERFACE PkgConfig::${target}_PC)
      return()
    endif()
  endif()
  if(O_LIB)
    find_library(${target}_LIBRARY NAMES ${O_LIB})
    if(${target}_LIBRARY)
      add_library(${target} INTERFACE IMPORTED GLOBAL)
      target_link_libraries(${target} INTERFACE ${${target}_LIBRARY})
      if(O_HEADER_DIRS)
        target_include_directories(${target} INTERFACE ${O_HEADER_DIRS})
      endif()
      return()
    endif()
  endif()
  # A build without tests (BUILD_TESTING=OFF) needs no oracle.
  if(NOT ORVOX_WITHOUT_ORACLES AND (BUILD_TESTING OR NOT DEFINED BUILD_TESTING))
    message(FATAL_ERROR "The oracle library ${target} (Debian package ${O_DEB}) is missing: the "
                        "tests that compare with it cannot run. Install it (scripts/bootstrap "
                        "does), or configure with -DORVOX_WITHOUT_ORACLES=ON to build without it "
                        "and leave those tests out.")
  endif()
  # A marked stand-in, so that every program that names it is counted as left out.
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_ORVOX_ORACLE_MISSING "${O_DEB}")
  set_property(GLOBAL APPEND PROPERTY ORVOX_MISSING_ORACLES "${target} (${O_DEB})")
endfunction()

# At the end of configure: the programs built (orvox_programs.txt) and those left out for want of
# an oracle (orvox_left_out.txt) in the build directory, and a notice naming each one left out.
function(orvox_oracle_summary)
  get_property(programs GLOBAL PROPERTY ORVOX_PROGRAMS)
  get_property(missing GLOBAL PROPERTY ORVOX_MISSING_ORACLES)
  get_property(left GLOBAL PROPERTY ORVOX_LEFT_OUT)
  string(REPLACE ";" "\n" programsText "${programs}")
  string(REPLACE ";" "\n" leftLines "${left}")
  file(WRITE ${CMAKE_BINARY_DIR}/orvox_programs.txt "${programsText}\n")
  file(WRITE ${CMAKE_BINARY_DIR}/orvox_left_out.txt "${leftLines}\n")
  if(NOT missing OR (DEFINED BUILD_TESTING AND NOT BUILD_TESTING))
    return()
  endif()
  set(tests 0)
  set(benches 0)
  foreach(entry ${left})
    if(entry MATCHES "\\(test, ")
      math(EXPR tests "${tests} + 1")
    else()
      math(EXPR benches "${benches} + 1")
    endif()
  endforeach()
  string(REPLACE ";" ", " missingText "${missing}")
  string(REPLACE ";" "\n  " leftText "${left}")
  message(NOTICE "Built without the oracles ${missingText}: ${tests} test program(s) and ${benches} "
                 "benchmark(s) left out:\n  ${leftText}")
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL orvox_oracle_summary)

orvox_oracle(oracle_spandsp DEB libspandsp-dev PKG spandsp LIB spandsp)
orvox_oracle(oracle_gsm DEB libgsm1-dev LIB gsm HEADER_DIRS /usr/include/gsm)
orvox_oracle(oracle_bcg729 DEB libbcg729-dev PKG libbcg729 LIB bcg729)
orvox_oracle(oracle_opencore_amrnb DEB libopencore-amrnb-dev PKG opencore-amrnb LIB opencore-amrnb)
orvox_oracle(oracle_opencore_amrwb DEB libopencore-amrwb-dev PKG opencore-amrwb LIB opencore-amrwb)
orvox_oracle(oracle_vo_amrwbenc DEB libvo-amrwbenc-dev PKG vo-amrwbenc LIB vo-amrwbenc)
orvox_oracle(oracle_avcodec DEB libavcodec-dev PKG "libavcodec;libavutil" LIB avcodec)
orvox_oracle(oracle_expat DEB libexpat1-dev PKG expat LIB expat)
# The static archive carries opencore-amrnb's tables as named symbols (the shared library does not
# export them); libtiff reads and writes the fax pages that the independent fax terminal exchanges.
orvox_oracle(oracle_opencore_amrnb_archive DEB libopencore-amrnb-dev LIB libopencore-amrnb.a)
orvox_oracle(oracle_tiff DEB libtiff-dev PKG libtiff-4 LIB tiff)

# Libraries the product itself uses.
pkg_check_modules(OPUS REQUIRED IMPORTED_TARGET opus)
pkg_check_modules(JSONC REQUIRED IMPORTED_TARGET json-c)
include(${CMAKE_CURRENT_LIST_DIR}/OrvoxFuzz.cmake)
