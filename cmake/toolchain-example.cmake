# An example toolchain file for building orvoxd for a gateway's processor with Debian's cross
# compilers and the target's libraries from Debian's multiarch directories (32-bit ARM with
# hardware floating point by default), or with an SDK's compiler and its sysroot.
#
#   cmake -S . -B build-arm -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-example.cmake \
#         -DBUILD_TESTING=OFF
#   cmake --build build-arm
#   cmake --install build-arm --prefix <root of the gateway's image>
#
# Another processor or SDK: set ORVOX_CROSS_PREFIX (the compiler's name up to "gcc", for example
# "aarch64-linux-gnu-" or an SDK's "arm-openwrt-linux-muslgnueabi-") and, for an SDK,
# ORVOX_SYSROOT (its staging directory of the target) in the environment or on the command line.
# The build needs the target's libopus and json-c (at run time the daemon needs libopus,
# libstdc++ and libgcc_s, and json-c where the linker keeps unused libraries); with the tests
# (BUILD_TESTING on, the default) also GoogleTest and GoogleMock, and ORVOX_WITHOUT_ORACLES leaves
# out the tests whose independent libraries the target lacks. docs/deployment.md has the packages and how to run the tests under
# qemu-user.

set(CMAKE_SYSTEM_NAME Linux)

if(NOT ORVOX_CROSS_PREFIX)
  if(DEFINED ENV{ORVOX_CROSS_PREFIX})
    set(ORVOX_CROSS_PREFIX $ENV{ORVOX_CROSS_PREFIX})
  else()
    set(ORVOX_CROSS_PREFIX arm-linux-gnueabihf-)
  endif()
endif()
# The processor is the first word of the compiler's name (aarch64, arm, mips, x86_64, ...).
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${ORVOX_CROSS_PREFIX}")
if(NOT ORVOX_SYSROOT AND DEFINED ENV{ORVOX_SYSROOT})
  set(ORVOX_SYSROOT $ENV{ORVOX_SYSROOT})
endif()
# CMake's own compiler checks read this file again: they need the same two settings.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORVOX_CROSS_PREFIX ORVOX_SYSROOT)

set(CMAKE_C_COMPILER ${ORVOX_CROSS_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${ORVOX_CROSS_PREFIX}g++)

if(ORVOX_SYSROOT)
  # An SDK: headers, libraries and pkg-config files only from the target's tree.
  set(CMAKE_SYSROOT ${ORVOX_SYSROOT})
  set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
  set(ENV{PKG_CONFIG_SYSROOT_DIR} ${ORVOX_SYSROOT})
  set(ENV{PKG_CONFIG_LIBDIR} ${ORVOX_SYSROOT}/usr/lib/pkgconfig:${ORVOX_SYSROOT}/usr/share/pkgconfig)
else()
  # Debian's multiarch: the target's libraries sit beside the build machine's, under the triplet.
  string(REGEX REPLACE "-$" "" ORVOX_CROSS_TRIPLET "${ORVOX_CROSS_PREFIX}")
  set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${ORVOX_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
endif()
