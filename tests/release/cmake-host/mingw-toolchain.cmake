# The project's MinGW toolchain of the edition ZELBIN_HOST_ARCH names (x86,
# the default, or x64), with packages found also outside the MinGW root:
# where a host developer unzipped the release.
if(ZELBIN_HOST_ARCH STREQUAL "x64")
    include(${CMAKE_CURRENT_LIST_DIR}/../../../cmake/x86_64-w64-mingw32.cmake)
else()
    include(${CMAKE_CURRENT_LIST_DIR}/../../../cmake/i686-w64-mingw32.cmake)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# try_compile projects read this file again: they need the choice too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZELBIN_HOST_ARCH)
