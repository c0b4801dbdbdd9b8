# 32-bit x86 Windows: the edition existing hosts load.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ZELBIN_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
