# 32-bit Windows with mingw-w64 (see mingw-w64.cmake): old hosts are 32-bit
# programs.
#
# Doubles in SSE2 registers, as on 64-bit: the x87 unit's extended precision
# would round the colour conversions differently. And hosts built with other
# compilers keep the stack aligned to 4 bytes only, so functions that keep
# 16-byte vectors on it realign it themselves.
set(TIKO_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
