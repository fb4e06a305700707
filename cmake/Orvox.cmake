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

# orvox_test(<name> SOURCES ... [LIBS ...] [LABELS ...] [RESOURCE_LOCK lock] [TIMEOUT s])
# A GoogleTest executable registered with CTest, run with the fast tick and without real-time
# scheduling so that a busy test never starves the machine.
function(orvox_test name)
  cmake_parse_arguments(T "" "RESOURCE_LOCK;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  # A test against an independent implementation that this build goes without is left out and
  # counted (only possible with ORVOX_WITHOUT_ORACLES: otherwise configure has already stopped).
  foreach(lib ${T_LIBS})
    if(lib MATCHES "^oracle_" AND NOT TARGET ${lib})
      set_property(GLOBAL APPEND PROPERTY ORVOX_ORACLE_TESTS_LEFT_OUT "${name} (${lib})")
      return()
    endif()
  endforeach()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
  target_compile_definitions(${name} PRIVATE ORVOX_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                             ORVOX_BINARY_DIR="${CMAKE_BINARY_DIR}")
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set(props ENVIRONMENT "ORVOX_NO_RT=1;ORVOX_TICK=fast" TIMEOUT ${T_TIMEOUT})
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
  if(NOT ORVOX_WITHOUT_ORACLES)
    message(FATAL_ERROR "The oracle library ${target} (Debian package ${O_DEB}) is missing: the "
                        "tests that compare with it cannot run. Install it (scripts/bootstrap "
                        "does), or configure with -DORVOX_WITHOUT_ORACLES=ON to build without it "
                        "and leave those tests out.")
  endif()
  set_property(GLOBAL APPEND PROPERTY ORVOX_MISSING_ORACLES "${target} (${O_DEB})")
endfunction()

# Printed at the end of configure: what a build without oracles leaves out.
function(orvox_oracle_summary)
  get_property(missing GLOBAL PROPERTY ORVOX_MISSING_ORACLES)
  get_property(left GLOBAL PROPERTY ORVOX_ORACLE_TESTS_LEFT_OUT)
  if(NOT missing)
    return()
  endif()
  list(LENGTH left count)
  string(REPLACE ";" ", " missingText "${missing}")
  string(REPLACE ";" ", " leftText "${left}")
  message(NOTICE "Built without the oracles ${missingText}: ${count} test program(s) left out: "
                  "${leftText}")
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

# Libraries the product itself uses.
pkg_check_modules(OPUS REQUIRED IMPORTED_TARGET opus)
pkg_check_modules(JSONC REQUIRED IMPORTED_TARGET json-c)
include(${CMAKE_CURRENT_LIST_DIR}/OrvoxFuzz.cmake)
