# Cross build for 64-bit Windows from Linux with mingw-w64's g++ (the posix
# thread model, which std::thread and std::mutex need). Everything links the
# C and C++ runtimes statically, so tondrel.exe and morvane.node depend on
# nothing but system DLLs every Windows has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
# Windows 10: what the agent's calls need, and what Wine reports once told so.
set(CMAKE_SYSTEM_VERSION 10.0)

set(_triple x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${_triple}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_triple}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_triple}-windres)
find_program(CMAKE_AR NAMES ${_triple}-gcc-ar-posix ${_triple}-ar)
find_program(CMAKE_RANLIB NAMES ${_triple}-gcc-ranlib-posix ${_triple}-ranlib)

set(_static "-static -static-libgcc -static-libstdc++")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_static}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_static}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_static}")
# Windows 10 declarations in the system headers.
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00")

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# Test programs run under Wine (tests/windows/ sets up its prefix).
find_program(TONDREL_WINE NAMES wine wine64 wine-stable NO_CMAKE_FIND_ROOT_PATH)
