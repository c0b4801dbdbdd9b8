# Zelbin_Serial for CMake hosts (32-bit Windows, MinGW or an MSVC-style
# toolchain):
#
#   find_package(Zelbin_Serial 1.2 REQUIRED)     # CMAKE_PREFIX_PATH: the unzipped release
#   target_link_libraries(host PRIVATE Zelbin::Serial)
#   add_custom_command(TARGET host POST_BUILD COMMAND ${CMAKE_COMMAND} -E copy_if_different
#       $<TARGET_FILE:Zelbin::Serial> $<TARGET_FILE_DIR:host>)
#
# Zelbin::Serial carries the header folder (Zelbin_Serial.h and the others),
# the import library for the toolchain in use (lib/libZelbin_Serial.dll.a
# for MinGW, lib/Zelbin_Serial.lib for MSVC-style linkers) and
# Zelbin_Serial.dll as its location. The DLL is 32-bit x86: a 64-bit project
# finds no suitable version (the version file says so).
#
# Also set: Zelbin_Serial_DLL, Zelbin_Serial_MINGW_IMPORT_LIBRARY,
# Zelbin_Serial_MSVC_IMPORT_LIBRARY, Zelbin_Serial_INCLUDE_DIR, and, where
# the release's stand-in io.dll is there, Zelbin_Serial_STAND_IN_IO_DLL (for
# tests only). Zelbin_Serial.dll needs an io.dll beside the host to load.

get_filename_component(_zelbin_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
set(Zelbin_Serial_DLL "${_zelbin_prefix}/Zelbin_Serial.dll")
set(Zelbin_Serial_INCLUDE_DIR "${_zelbin_prefix}/include")
set(Zelbin_Serial_MINGW_IMPORT_LIBRARY "${_zelbin_prefix}/lib/libZelbin_Serial.dll.a")
set(Zelbin_Serial_MSVC_IMPORT_LIBRARY "${_zelbin_prefix}/lib/Zelbin_Serial.lib")
foreach(_zelbin_standin stand-in-for-tests-only/io.dll sim/io.dll)
    if(EXISTS "${_zelbin_prefix}/${_zelbin_standin}")
        set(Zelbin_Serial_STAND_IN_IO_DLL "${_zelbin_prefix}/${_zelbin_standin}")
        break()
    endif()
endforeach()

foreach(_zelbin_file Zelbin_Serial_DLL Zelbin_Serial_MINGW_IMPORT_LIBRARY Zelbin_Serial_MSVC_IMPORT_LIBRARY)
    if(NOT EXISTS "${${_zelbin_file}}")
        set(Zelbin_Serial_FOUND FALSE)
        set(Zelbin_Serial_NOT_FOUND_MESSAGE "${${_zelbin_file}} is missing from the release")
        return()
    endif()
endforeach()

# An MSVC-style toolchain (MSVC, clang-cl, or clang for *-windows-msvc)
# links the COFF import library; MinGW links its own kind.
if(MSVC OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
    set(_zelbin_import_library "${Zelbin_Serial_MSVC_IMPORT_LIBRARY}")
else()
    set(_zelbin_import_library "${Zelbin_Serial_MINGW_IMPORT_LIBRARY}")
endif()

if(NOT TARGET Zelbin::Serial)
    add_library(Zelbin::Serial SHARED IMPORTED)
    set_target_properties(Zelbin::Serial PROPERTIES
        IMPORTED_LOCATION "${Zelbin_Serial_DLL}"
        IMPORTED_IMPLIB "${_zelbin_import_library}"
        INTERFACE_INCLUDE_DIRECTORIES "${Zelbin_Serial_INCLUDE_DIR}")
endif()
unset(_zelbin_prefix)
unset(_zelbin_file)
unset(_zelbin_standin)
unset(_zelbin_import_library)
