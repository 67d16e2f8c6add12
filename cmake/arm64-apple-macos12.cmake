# Cross build for 64-bit Arm macOS 12 from Linux with clang and lld.
# Give the SDK root (the folder holding System/ and usr/) as TONDREL_MACOS_SDK.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(CMAKE_SYSTEM_VERSION 21)

if(NOT TONDREL_MACOS_SDK AND DEFINED ENV{TONDREL_MACOS_SDK})
  set(TONDREL_MACOS_SDK "$ENV{TONDREL_MACOS_SDK}")
endif()
if(NOT TONDREL_MACOS_SDK OR NOT EXISTS "${TONDREL_MACOS_SDK}/usr/include")
  message(FATAL_ERROR "Set TONDREL_MACOS_SDK to the root of a macOS SDK (got '${TONDREL_MACOS_SDK}')")
endif()
set(TONDREL_MACOS_SDK "${TONDREL_MACOS_SDK}" CACHE PATH "Root of the macOS SDK")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TONDREL_MACOS_SDK TONDREL_CROSS_ARCH TONDREL_UNIVERSAL)

if(NOT TONDREL_CROSS_ARCH)
  set(TONDREL_CROSS_ARCH arm64)
endif()
set(_triple "${TONDREL_CROSS_ARCH}-apple-macos12")

find_program(_clang NAMES clang clang-14 REQUIRED)
find_program(_clangxx NAMES clang++ clang++-14 REQUIRED)
find_program(CMAKE_INSTALL_NAME_TOOL NAMES llvm-install-name-tool llvm-install-name-tool-14 REQUIRED)
find_program(CMAKE_LIPO NAMES llvm-lipo llvm-lipo-14 lipo REQUIRED)
# Strips and signs anew in one step (LLVM 14 and later).
find_program(TONDREL_LLVM_STRIP NAMES llvm-strip llvm-strip-14 REQUIRED)
set(CMAKE_C_COMPILER "${_clang}")
set(CMAKE_CXX_COMPILER "${_clangxx}")
set(CMAKE_OBJCXX_COMPILER "${_clangxx}")
set(CMAKE_C_COMPILER_TARGET "${_triple}")
set(CMAKE_CXX_COMPILER_TARGET "${_triple}")
set(CMAKE_OBJCXX_COMPILER_TARGET "${_triple}")

set(CMAKE_OSX_SYSROOT "${TONDREL_MACOS_SDK}")
set(CMAKE_OSX_DEPLOYMENT_TARGET "12.0" CACHE STRING "Minimum macOS version")
set(_driver_flags "")
if(TONDREL_UNIVERSAL)
  # Both slices in one file. clang builds each slice and joins them with
  # lipo, which Linux only has as llvm-lipo: give the driver a folder where it
  # finds it under its usual name.
  set(CMAKE_OSX_ARCHITECTURES "arm64;x86_64" CACHE STRING "" FORCE)
  set(_lipo_dir "${CMAKE_BINARY_DIR}/cross-tools")
  file(MAKE_DIRECTORY "${_lipo_dir}")
  if(NOT EXISTS "${_lipo_dir}/lipo")
    file(CREATE_LINK "${CMAKE_LIPO}" "${_lipo_dir}/lipo" SYMBOLIC)
  endif()
  set(_driver_flags " -B ${_lipo_dir}")
else()
  set(CMAKE_OSX_ARCHITECTURES "${TONDREL_CROSS_ARCH}" CACHE STRING "")
endif()

set(CMAKE_C_FLAGS_INIT "${_driver_flags}")
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++${_driver_flags}")
set(CMAKE_OBJCXX_FLAGS_INIT "-stdlib=libc++${_driver_flags}")
# lld does not follow ApplicationServices' re-export of HIServices, so the
# Accessibility functions are linked from HIServices directly.
set(_frameworks "${TONDREL_MACOS_SDK}/System/Library/Frameworks")
# lld 14 writes __objc_imageinfo twice, so a newer lld is taken when there is one.
find_program(TONDREL_LD64_LLD NAMES ld64.lld-19 ld64.lld-18 ld64.lld-17 ld64.lld-16 ld64.lld-15
  PATHS /usr/lib/llvm-19/bin /usr/lib/llvm-18/bin /usr/lib/llvm-17/bin /usr/lib/llvm-16/bin
        /usr/lib/llvm-15/bin
  NO_CMAKE_FIND_ROOT_PATH)
if(NOT TONDREL_LD64_LLD)
  find_program(TONDREL_LD64_LLD NAMES ld64.lld ld64.lld-14 NO_CMAKE_FIND_ROOT_PATH REQUIRED)
endif()
# Every slice is signed ad hoc as it is linked: Apple silicon runs no
# unsigned code, lld signs arm64 output by itself but not x86_64, and a host
# signs both again with its own identity anyway.
set(_link "-fuse-ld=lld --ld-path=${TONDREL_LD64_LLD} -mlinker-version=711${_driver_flags} -Wl,-adhoc_codesign -F ${_frameworks}/ApplicationServices.framework/Frameworks")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_link}")
set(TONDREL_LINK_HISERVICES ON)

# Every link goes through cmake/apple-link: one link per architecture under
# the output's own name (the ad-hoc signature is named after the file the
# linker writes), the unstripped outputs kept for crash reports as
# <build>/unstripped/NAME.unstripped, and release outputs stripped
# afterwards, which keeps their UUIDs and signs them anew. Not for the
# compiler checks, which link scratch files.
get_property(_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT _in_try_compile)
  set(_apple_link bash "${CMAKE_CURRENT_LIST_DIR}/apple-link" --lipo "${CMAKE_LIPO}"
    --keep "${CMAKE_BINARY_DIR}/unstripped")
  if(CMAKE_BUILD_TYPE MATCHES "^(Release|MinSizeRel)$")
    list(APPEND _apple_link --strip "${TONDREL_LLVM_STRIP}")
    # Not at link time, which would leave nothing unstripped to keep.
    set(TONDREL_STRIP_AFTER_LINK ON)
  endif()
  list(APPEND _apple_link --)
  set(CMAKE_C_LINKER_LAUNCHER ${_apple_link})
  set(CMAKE_CXX_LINKER_LAUNCHER ${_apple_link})
  set(CMAKE_OBJCXX_LINKER_LAUNCHER ${_apple_link})
endif()

set(CMAKE_FIND_ROOT_PATH "${TONDREL_MACOS_SDK}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
