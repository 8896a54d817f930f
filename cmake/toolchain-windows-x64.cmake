# 64-bit Windows with mingw-w64 (see mingw-w64.cmake).
set(TIKO_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
