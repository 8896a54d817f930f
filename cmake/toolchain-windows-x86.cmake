# 32-bit Windows with mingw-w64 (see mingw-w64.cmake): old hosts are 32-bit
# programs.
set(TIKO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
