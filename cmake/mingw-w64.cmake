# Cross build for Windows with Debian's MinGW-w64 toolchain, in its
# win32-threads flavour: the DLL then carries no threading runtime and no
# TLS callbacks of its own, so the loader runs nothing of ours but DllMain.
# Included by the toolchain file of each architecture, which names the
# compiler's prefix and the processor first.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZELBIN_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${ZELBIN_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${ZELBIN_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${ZELBIN_MINGW_PREFIX}-dlltool)
set(CMAKE_OBJDUMP ${ZELBIN_MINGW_PREFIX}-objdump)
set(CMAKE_STRIP ${ZELBIN_MINGW_PREFIX}-strip)
set(CMAKE_OBJCOPY ${ZELBIN_MINGW_PREFIX}-objcopy)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELBIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
