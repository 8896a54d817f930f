# Cross-building for Windows with Debian's mingw-w64. Included by the
# toolchain file of each target, which sets TIKO_MINGW_TRIPLE first.
#
# The posix thread model gives the whole C++ library; its runtime (libgcc,
# libstdc++, winpthread) is linked in statically, so that Tiko.dll, the test
# programs and the example need only the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TIKO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TIKO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TIKO_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TIKO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
# Test programs run under Wine (ctest, and scripts that run what was built).
find_program(TIKO_WINE wine)
if(TIKO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TIKO_WINE})
endif()
