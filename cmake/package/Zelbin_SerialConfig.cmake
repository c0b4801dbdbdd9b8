# Zelbin_Serial for CMake hosts (32-bit or 64-bit Windows, MinGW or an
# MSVC-style toolchain):
#
#   find_package(Zelbin_Serial 1.2 REQUIRED)     # CMAKE_PREFIX_PATH: the unzipped release
#   target_link_libraries(host PRIVATE Zelbin::Serial)
#   add_custom_command(TARGET host POST_BUILD COMMAND ${CMAKE_COMMAND} -E copy_if_different
#       $<TARGET_FILE:Zelbin::Serial> ${Zelbin_Serial_IO_DLL} $<TARGET_FILE_DIR:host>)
#
# The release holds both editions, x86/ and x64/; a 32-bit project gets the
# x86 files, a 64-bit one the x64 files. Zelbin::Serial carries the header
# folder (Zelbin_Serial.h and the others), the import library for the
# toolchain in use (lib/libZelbin_Serial.dll.a for MinGW, lib/Zelbin_Serial.lib
# for MSVC-style linkers) and Zelbin_Serial.dll as its location; the copy
# above puts the DLL and the io.dll it imports beside the host. A DLL or an
# io.dll of the other architecture where the project's should be is refused
# with a message naming the file and both architectures, rather than left
# for Windows to refuse at run time (error 193, or 126 for the io.dll).
#
# Also set: Zelbin_Serial_ARCH (x86 or x64), Zelbin_Serial_DLL,
# Zelbin_Serial_MINGW_IMPORT_LIBRARY, Zelbin_Serial_MSVC_IMPORT_LIBRARY,
# Zelbin_Serial_INCLUDE_DIR; Zelbin_Serial_IO_DLL and Zelbin_Serial_PORT_MAP,
# the comm-port io.dll of the same edition and its port map, which go in
# the folder of Zelbin_Serial.dll (the DLL imports io.dll and needs one of
# its own architecture there to load; the map is the technician's to fill
# in); and, where the release's stand-in io.dll is there,
# Zelbin_Serial_STAND_IN_IO_DLL (for tests only).

get_filename_component(_zelbin_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(Zelbin_Serial_ARCH x64)
    set(_zelbin_machine 6486) # IMAGE_FILE_MACHINE_AMD64, as its bytes are stored
else()
    set(Zelbin_Serial_ARCH x86)
    set(_zelbin_machine 4c01) # IMAGE_FILE_MACHINE_I386
endif()
# The release: one folder per edition. One edition installed alone (a build's
# own install): its files at the top.
if(IS_DIRECTORY "${_zelbin_prefix}/${Zelbin_Serial_ARCH}")
    set(_zelbin_root "${_zelbin_prefix}/${Zelbin_Serial_ARCH}")
else()
    set(_zelbin_root "${_zelbin_prefix}")
endif()
set(Zelbin_Serial_DLL "${_zelbin_root}/Zelbin_Serial.dll")
set(Zelbin_Serial_INCLUDE_DIR "${_zelbin_prefix}/include")
set(Zelbin_Serial_MINGW_IMPORT_LIBRARY "${_zelbin_root}/lib/libZelbin_Serial.dll.a")
set(Zelbin_Serial_MSVC_IMPORT_LIBRARY "${_zelbin_root}/lib/Zelbin_Serial.lib")
set(Zelbin_Serial_IO_DLL "${_zelbin_root}/io.dll")
set(Zelbin_Serial_PORT_MAP "${_zelbin_root}/io-ports.txt")
unset(Zelbin_Serial_STAND_IN_IO_DLL)
if(EXISTS "${_zelbin_root}/stand-in-for-tests-only/io.dll")
    set(Zelbin_Serial_STAND_IN_IO_DLL "${_zelbin_root}/stand-in-for-tests-only/io.dll")
endif()

foreach(_zelbin_file Zelbin_Serial_DLL Zelbin_Serial_MINGW_IMPORT_LIBRARY Zelbin_Serial_MSVC_IMPORT_LIBRARY
        Zelbin_Serial_IO_DLL)
    if(NOT EXISTS "${${_zelbin_file}}")
        set(Zelbin_Serial_FOUND FALSE)
        set(Zelbin_Serial_NOT_FOUND_MESSAGE
            "${${_zelbin_file}} is missing: this ${Zelbin_Serial_ARCH} project needs the ${Zelbin_Serial_ARCH} edition")
        return()
    endif()
endforeach()

# Each DLL's own word on its architecture: the machine field of its PE
# header. Zelbin_Serial.dll loads only an io.dll of its own architecture.
foreach(_zelbin_file Zelbin_Serial_DLL Zelbin_Serial_IO_DLL)
    file(READ "${${_zelbin_file}}" _zelbin_dos OFFSET 60 LIMIT 4 HEX)
    string(REGEX REPLACE "^(..)(..)(..)(..)$" "\\4\\3\\2\\1" _zelbin_pe "${_zelbin_dos}")
    set(_zelbin_found "")
    if(_zelbin_pe MATCHES "^0[0-9a-f]+$")
        math(EXPR _zelbin_pe "0x${_zelbin_pe} + 4")
        file(READ "${${_zelbin_file}}" _zelbin_found OFFSET ${_zelbin_pe} LIMIT 2 HEX)
    endif()
    if(NOT _zelbin_found STREQUAL _zelbin_machine)
        if(_zelbin_found STREQUAL "4c01")
            set(_zelbin_found "an x86 (32-bit) DLL")
        elseif(_zelbin_found STREQUAL "6486")
            set(_zelbin_found "an x64 (64-bit) DLL")
        else()
            set(_zelbin_found "no Windows DLL of a known architecture")
        endif()
        set(Zelbin_Serial_FOUND FALSE)
        set(Zelbin_Serial_NOT_FOUND_MESSAGE
            "${${_zelbin_file}} is ${_zelbin_found}, but this project builds for ${Zelbin_Serial_ARCH}: take the ${Zelbin_Serial_ARCH} edition's files")
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
foreach(_zelbin_variable prefix root machine file import_library dos pe found)
    unset(_zelbin_${_zelbin_variable})
endforeach()
unset(_zelbin_variable)
