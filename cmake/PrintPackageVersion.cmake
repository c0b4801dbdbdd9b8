# Prints the version a package version file gives, so that scripts take the
# version CMake built with instead of reading it out of CMakeLists.txt.
#   cmake -DFILE=lib/cmake/Zelbin_Serial/Zelbin_SerialConfigVersion.cmake -P PrintPackageVersion.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT EXISTS "${FILE}")
    message(FATAL_ERROR "no package version file ${FILE}")
endif()
include("${FILE}")
execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${PACKAGE_VERSION}")
