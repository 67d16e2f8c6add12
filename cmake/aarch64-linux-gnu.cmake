# Cross build for 64-bit Arm Linux (aarch64, glibc) from x86-64 Debian with
# Debian's cross compiler (g++-aarch64-linux-gnu; scripts/bootstrap installs
# it). The results run on an Arm machine, or here under qemu-user:
#   qemu-aarch64 -L /usr/aarch64-linux-gnu build/cross-linux-arm64/agent/tondrel
#
#   cmake -G Ninja -B build/cross-linux-arm64 -DCMAKE_BUILD_TYPE=Release \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#   cmake --build build/cross-linux-arm64 --target tondrel tondrel-sim morvane
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(_triple aarch64-linux-gnu)
find_program(CMAKE_C_COMPILER NAMES ${_triple}-gcc ${_triple}-gcc-12 REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_triple}-g++ ${_triple}-g++-12 REQUIRED)

# Libraries are linked from the cross tool chain's C library and C++
# runtime only, never from the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# The libraries the agent and the module open at run time (PipeWire; AT-SPI
# with GLib and D-Bus; libX11) are needed here for their headers only, and
# the build machine's are used (pkg-config reports their own folders, never
# /usr/include itself). Their types are the same on both 64-bit
# little-endian Linux ABIs; the one difference in GLib's configuration
# header, how a va_list is copied, is nothing this code uses.
#
# Xlib's headers sit directly in /usr/include, which must not be searched
# whole: the build machine's C library headers would come before the cross
# tool chain's. A folder that holds only them stands in for it.
set(_host_headers "${CMAKE_BINARY_DIR}/host-headers")
file(MAKE_DIRECTORY "${_host_headers}")
if(EXISTS /usr/include/X11 AND NOT EXISTS "${_host_headers}/X11")
  file(CREATE_LINK /usr/include/X11 "${_host_headers}/X11" SYMBOLIC)
endif()
set(X11_XLIB_INCLUDE_DIR "${_host_headers}" CACHE PATH "Folder holding X11/Xlib.h")
