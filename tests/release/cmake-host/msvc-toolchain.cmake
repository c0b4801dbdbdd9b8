# clang for *-pc-windows-msvc, linking with lld-link: an MSVC-style
# toolchain on a machine without MSVC or its libraries. ZELBIN_HOST_ARCH
# (x86, the default, or x64) picks the target.
set(CMAKE_SYSTEM_NAME Windows)
if(ZELBIN_HOST_ARCH STREQUAL "x64")
    set(CMAKE_SYSTEM_PROCESSOR AMD64)
    set(CMAKE_C_COMPILER_TARGET x86_64-pc-windows-msvc)
else()
    set(CMAKE_SYSTEM_PROCESSOR x86)
    set(CMAKE_C_COMPILER_TARGET i686-pc-windows-msvc)
endif()
set(CMAKE_C_COMPILER clang)
set(CMAKE_LINKER lld-link)
set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# try_compile projects read this file again: they need the choice too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZELBIN_HOST_ARCH)
