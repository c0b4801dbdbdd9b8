# 64-bit x86-64 Windows: the edition 64-bit hosts load, and the one whose
# tests run under 64-bit Wine on every build machine.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ZELBIN_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
