# The project's MinGW toolchain, with packages found also outside the
# MinGW root: where a host developer unzipped the release.
include(${CMAKE_CURRENT_LIST_DIR}/../../../cmake/i686-w64-mingw32.cmake)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
