# libFuzzer targets. They are built by clang beside the normal toolchain (ASan + UBSan), each
# from its own sources or from the sources of whole modules, and run by CTest for
# ORVOX_FUZZ_SECONDS from their committed seeds (tests/fuzz/<name>/). scripts/fuzz runs them for
# longer. Without a clang that links libFuzzer a target's test reports itself skipped (77).
#
# Adding a target takes one call:
#   orvox_fuzz(<name> SOURCES harness.cpp [more.cpp...] [MODULES module...]
#              [HEADERS_OF module...] [INCLUDES dir...] [DEFINES NAME=value...] [LINK flag...]
#              [CORPUS dir] [MAX_LEN n])
# MODULES compiles those modules (and the modules they link) into the target; HEADERS_OF only
# makes their headers visible.

find_program(ORVOX_CLANGXX NAMES clang++ clang++-16 clang++-15 clang++-14)
# clang without its fuzzer runtime counts as absent: probe once at configure time.
if(ORVOX_CLANGXX AND NOT DEFINED ORVOX_CLANG_FUZZER_WORKS)
  set(probe_dir ${CMAKE_BINARY_DIR}/fuzz_probe)
  file(WRITE ${probe_dir}/probe.cpp
       "#include <cstddef>\n#include <cstdint>\nextern \"C\" int LLVMFuzzerTestOneInput(const uint8_t *, size_t) { return 0; }\n")
  execute_process(COMMAND ${ORVOX_CLANGXX} -fsanitize=fuzzer,address ${probe_dir}/probe.cpp -o ${probe_dir}/probe
                  RESULT_VARIABLE probe_result OUTPUT_QUIET ERROR_QUIET)
  if(probe_result EQUAL 0)
    set(ORVOX_CLANG_FUZZER_WORKS ON CACHE INTERNAL "clang++ links libFuzzer targets")
  else()
    set(ORVOX_CLANG_FUZZER_WORKS OFF CACHE INTERNAL "clang++ links libFuzzer targets")
  endif()
endif()
set(ORVOX_FUZZ_SECONDS 3 CACHE STRING "Seconds each fuzz target runs under CTest")

# The list scripts/fuzz reads: one line per target, "<name> <program> <seed directory>".
set(ORVOX_FUZZ_MANIFEST ${CMAKE_BINARY_DIR}/fuzz_targets.txt)
file(WRITE ${ORVOX_FUZZ_MANIFEST} "")

# Sources, include directories and definitions of a module and of the modules it links, in our
# tree only (imported libraries are the caller's to name with LINK).
function(_orvox_fuzz_collect target _src_var _inc_var _def_var _seen_var)
  if(NOT TARGET ${target} OR ${target} IN_LIST ${_seen_var})
    return()
  endif()
  get_target_property(imported ${target} IMPORTED)
  if(imported)
    return()
  endif()
  list(APPEND ${_seen_var} ${target})
  get_target_property(type ${target} TYPE)
  get_target_property(dir ${target} SOURCE_DIR)
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    get_target_property(srcs ${target} SOURCES)
    foreach(src IN LISTS srcs)
      if(src MATCHES "\\.(c|cc|cpp)$")
        if(NOT IS_ABSOLUTE ${src})
          set(src ${dir}/${src})
        endif()
        list(APPEND ${_src_var} ${src})
      endif()
    endforeach()
  endif()
  foreach(prop INTERFACE_INCLUDE_DIRECTORIES INCLUDE_DIRECTORIES)
    get_target_property(dirs ${target} ${prop})
    foreach(d IN LISTS dirs)
      if(d AND NOT d MATCHES "\\$<")
        list(APPEND ${_inc_var} ${d})
      endif()
    endforeach()
  endforeach()
  foreach(prop INTERFACE_COMPILE_DEFINITIONS COMPILE_DEFINITIONS)
    get_target_property(defs ${target} ${prop})
    foreach(d IN LISTS defs)
      if(d AND NOT d MATCHES "\\$<")
        list(APPEND ${_def_var} ${d})
      endif()
    endforeach()
  endforeach()
  foreach(prop LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
    get_target_property(libs ${target} ${prop})
    foreach(lib IN LISTS libs)
      if(lib AND TARGET ${lib})
        _orvox_fuzz_collect(${lib} ${_src_var} ${_inc_var} ${_def_var} ${_seen_var})
      endif()
    endforeach()
  endforeach()
  set(${_src_var} ${${_src_var}} PARENT_SCOPE)
  set(${_inc_var} ${${_inc_var}} PARENT_SCOPE)
  set(${_def_var} ${${_def_var}} PARENT_SCOPE)
  set(${_seen_var} ${${_seen_var}} PARENT_SCOPE)
endfunction()

# Runs at the end of configure, when every module exists.
function(_orvox_fuzz_define name bindir sourcedir)
  get_property(args GLOBAL PROPERTY ORVOX_FUZZ_ARGS_${name})
  cmake_parse_arguments(F "" "CORPUS;MAX_LEN" "SOURCES;MODULES;HEADERS_OF;INCLUDES;DEFINES;LINK" ${args})
  set(sources "")
  foreach(src IN LISTS F_SOURCES)
    if(NOT IS_ABSOLUTE ${src})
      set(src ${sourcedir}/${src})
    endif()
    list(APPEND sources ${src})
  endforeach()
  set(includes ${F_INCLUDES} ${sourcedir})
  set(defines ${F_DEFINES})
  set(fuzzSeen "")
  foreach(module IN LISTS F_MODULES)
    _orvox_fuzz_collect(${module} sources includes defines fuzzSeen)
  endforeach()
  set(fuzzUnused "")
  set(fuzzSeenHeaders "")
  foreach(module IN LISTS F_HEADERS_OF)
    _orvox_fuzz_collect(${module} fuzzUnused includes defines fuzzSeenHeaders)
  endforeach()
  list(REMOVE_DUPLICATES sources)
  list(REMOVE_DUPLICATES includes)
  list(REMOVE_DUPLICATES defines)
  set(flags "")
  foreach(d IN LISTS includes)
    list(APPEND flags -I${d})
  endforeach()
  foreach(d IN LISTS defines)
    list(APPEND flags -D${d})
  endforeach()
  if(NOT F_CORPUS)
    set(F_CORPUS ${CMAKE_SOURCE_DIR}/tests/fuzz/${name})
  endif()
  if(NOT F_MAX_LEN)
    set(F_MAX_LEN 4096)
  endif()
  set(exe ${bindir}/fuzz/${name})
  file(MAKE_DIRECTORY ${bindir}/fuzz)
  if(ORVOX_CLANGXX AND ORVOX_CLANG_FUZZER_WORKS)
    set(headers "")
    foreach(d IN LISTS includes)
      file(GLOB h ${d}/*.h)
      list(APPEND headers ${h})
    endforeach()
    add_custom_command(OUTPUT ${exe}
      COMMAND ${ORVOX_CLANGXX} -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined
              -fno-sanitize-recover=undefined -Wno-everything ${flags} ${sources} -o ${exe}
              ${F_LINK} -lpthread
      DEPENDS ${sources} ${headers}
      COMMENT "Building fuzz target ${name} with clang"
      COMMAND_EXPAND_LISTS VERBATIM)
    add_custom_target(${name} ALL DEPENDS ${exe})
    add_test(NAME ${name}
      COMMAND sh -c "work=$(mktemp -d) && '${exe}' -max_total_time=${ORVOX_FUZZ_SECONDS} -max_len=${F_MAX_LEN} -rss_limit_mb=1024 -print_final_stats=0 \"$work\" '${F_CORPUS}'; rc=$?; rm -rf \"$work\"; exit $rc")
    file(APPEND ${ORVOX_FUZZ_MANIFEST} "${name} ${exe} ${F_CORPUS} ${F_MAX_LEN}\n")
  else()
    add_test(NAME ${name} COMMAND sh -c "echo 'clang++ with libFuzzer not found: fuzz target not built'; exit 77")
  endif()
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120 LABELS fuzz)
endfunction()

function(orvox_fuzz name)
  # The targets carry their own AddressSanitizer build: the ThreadSanitizer suite need not run
  # them again.
  if(ORVOX_SANITIZE STREQUAL "thread")
    return()
  endif()
  set_property(GLOBAL PROPERTY ORVOX_FUZZ_ARGS_${name} "${ARGN}")
  cmake_language(EVAL CODE "cmake_language(DEFER DIRECTORY [[${CMAKE_SOURCE_DIR}]] CALL _orvox_fuzz_define [[${name}]] [[${CMAKE_CURRENT_BINARY_DIR}]] [[${CMAKE_CURRENT_SOURCE_DIR}]])")
endfunction()
